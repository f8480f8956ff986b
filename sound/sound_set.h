// The program's sounds: the engine and the background music loop for the
// whole run, the engine's pitch follows the engine speed, a short sound
// marks every gear change and a loop plays while the car is off the course.
// Failures are shown once in a message box and the program goes on without
// the failed sound: every call on a missing buffer is skipped.
#pragma once

#include "platform/dsound/dsound.h"
#include "platform/win32/windows.h"

class SoundSet {
public:
    SoundSet() = default;
    // The program never destroys its set; releasing here lets a test do so.
    ~SoundSet();
    SoundSet(const SoundSet&) = delete;
    SoundSet& operator=(const SoundSet&) = delete;

    // Opens the sound device on `window`, loads and starts the sounds.
    // 1 on success, 0 when set-up stopped early (after its message).
    int InitSound(HWND window);
    // Makes one secondary buffer from a wave file and fills it.
    bool LoadSoundBuffer(LPCSTR fileName, IDirectSoundBuffer8** member);
    // Restarts the shift sound from where it stopped (or from its start
    // once it has played to the end).
    void TriggerShiftSound();
    // Starts the off-course loop when the car leaves the course, stops it
    // when it comes back.
    void UpdateOffCourseSound(bool offCourse, bool prevOffCourse);
    // Engine pitch: 11025 Hz plus six times the engine speed, in whole hertz.
    void UpdateEngineSound(float engineRpm);

    IDirectSound8* directSound = nullptr;
    IDirectSoundBuffer* primaryBuffer = nullptr;
    IDirectSoundBuffer8* engineBuffer = nullptr;
    IDirectSoundBuffer8* shiftBuffer = nullptr;
    IDirectSoundBuffer8* offCourseBuffer = nullptr;
    IDirectSoundBuffer8* musicBuffer = nullptr;
};

// The program's sound set, made by the scene set-up; null until then.
extern SoundSet* soundSet;
