// Where the sound devices' mix goes, chosen when a device is created:
//   Device  - the machine's audio output through SDL, mixed on SDL's thread;
//   Capture - no output: the mix advances only when CaptureSoundFrames asks
//             for it, so tests read exactly what was mixed;
//   None    - no output at all: DirectSoundCreate8 fails with DSERR_NODRIVER.
// Automatic follows the environment: VINTREL_AUDIO=capture or =none, and
// otherwise the audio device.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/dsound/dsound.h"

enum class SoundOutputMode { Automatic, Device, Capture, None };

// For devices created from now on.
void SelectSoundOutput(SoundOutputMode mode);
SoundOutputMode SelectedSoundOutput();

// Capture devices: mixes the next `frames` frames in the primary buffer's
// format into `destination` (frames x block align bytes) and advances every
// playing buffer. DSERR_INVALIDCALL for a device with a real output.
HRESULT CaptureSoundFrames(IDirectSound8* sound, void* destination, DWORD frames);
// The same, calling `whileMixing` once the buffers are mixed and before
// their positions move on: calls made there land as a program's calls do
// while the output thread mixes.
HRESULT CaptureSoundFrames(IDirectSound8* sound, void* destination, DWORD frames,
                           const std::function<void()>& whileMixing);

// A journal of the calls made on sound devices and buffers while enabled,
// one line each, such as "#1 SetVolume(-1000)" (#0 is the primary buffer,
// secondary buffers count from #1 in the order they were made).
void EnableSoundJournal(bool enabled);
std::vector<std::string> TakeSoundJournal();
