#include "sound/sound_set.h"

#include <cmath>

#include "sound/riff_wave_file.h"

SoundSet* soundSet = nullptr;

namespace {
void ShowError(const char* text) { MessageBoxA(nullptr, text, "Error", MB_OK); }
}  // namespace

SoundSet::~SoundSet() {
    SafeRelease(engineBuffer);
    SafeRelease(shiftBuffer);
    SafeRelease(offCourseBuffer);
    SafeRelease(musicBuffer);
    SafeRelease(primaryBuffer);
    SafeRelease(directSound);
}

int SoundSet::InitSound(HWND window) {
    if (FAILED(DirectSoundCreate8(nullptr, &directSound, nullptr))) {
        ShowError("IDirectSound8インターフェイスの取得に失敗");
        return 0;
    }
    if (FAILED(directSound->SetCooperativeLevel(window, DSSCL_PRIORITY))) {
        ShowError("協調レベルの設定に失敗");
        return 0;
    }

    DSBUFFERDESC primaryDesc{};
    primaryDesc.dwSize = sizeof(DSBUFFERDESC);
    primaryDesc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
    primaryDesc.dwBufferBytes = 0;
    primaryDesc.lpwfxFormat = nullptr;
    if (FAILED(directSound->CreateSoundBuffer(&primaryDesc, &primaryBuffer, nullptr))) {
        ShowError("プライマリ・バッファの作成に失敗");
        return 0;
    }

    // 22050 Hz, 16-bit stereo. A refusal leaves the device's default format.
    WAVEFORMATEX primaryFormat{};
    primaryFormat.wFormatTag = WAVE_FORMAT_PCM;
    primaryFormat.nChannels = 2;
    primaryFormat.nSamplesPerSec = 22050;
    primaryFormat.wBitsPerSample = 16;
    primaryFormat.nBlockAlign = 4;
    primaryFormat.nAvgBytesPerSec = 88200;
    primaryFormat.cbSize = 0;
    if (FAILED(primaryBuffer->SetFormat(&primaryFormat)))
        ShowError("プライマリ・バッファのフォーマット設定に失敗");

    // A sound that fails to load stays silent; the others still load.
    LoadSoundBuffer("media/eng2.wav", &engineBuffer);
    LoadSoundBuffer("media/Get_Closer.wav", &musicBuffer);
    LoadSoundBuffer("media/puffs.wav", &shiftBuffer);
    LoadSoundBuffer("media/out.wav", &offCourseBuffer);

    if (engineBuffer) {
        engineBuffer->Play(0, 0, DSBPLAY_LOOPING);
        engineBuffer->SetVolume(-1000);
    }
    if (shiftBuffer) {
        shiftBuffer->SetVolume(-2600);
        shiftBuffer->SetFrequency(33075);
    }
    if (offCourseBuffer) offCourseBuffer->SetVolume(-1500);
    if (musicBuffer) musicBuffer->Play(0, 0, DSBPLAY_LOOPING);
    return 1;
}

bool SoundSet::LoadSoundBuffer(LPCSTR fileName, IDirectSoundBuffer8** member) {
    RiffWaveFile wave;
    if (FAILED(wave.OpenWave(fileName, nullptr, RiffWaveFile::kRead))) {
        ShowError("Waveファイルのオープンに失敗");
        return false;
    }

    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                   DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_LOCDEFER;
    desc.dwBufferBytes = wave.GetDataSize();
    desc.lpwfxFormat = wave.format;
    desc.guid3DAlgorithm = GUID_NULL;
    IDirectSoundBuffer* plain = nullptr;
    if (FAILED(directSound->CreateSoundBuffer(&desc, &plain, nullptr))) {
        ShowError("バッファの作成に失敗");
        return false;
    }
    HRESULT hr = plain->QueryInterface(IID_IDirectSoundBuffer8, reinterpret_cast<void**>(member));
    plain->Release();
    if (FAILED(hr)) {
        ShowError("IDirectSoundBuffer8インターフェイスの取得に失敗");
        return false;
    }

    void* audio1 = nullptr;
    void* audio2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    DWORD size = wave.GetDataSize();
    hr = (*member)->Lock(0, size, &audio1, &bytes1, &audio2, &bytes2, 0);
    if (hr == DSERR_BUFFERLOST) {
        (*member)->Restore();
        hr = (*member)->Lock(0, size, &audio1, &bytes1, &audio2, &bytes2, 0);
    }
    // A buffer that cannot be locked stays unfilled, without a message.
    if (SUCCEEDED(hr)) {
        DWORD read = 0;
        wave.ReadSamples(static_cast<BYTE*>(audio1), bytes1, &read);
        if (audio2) wave.ReadSamples(static_cast<BYTE*>(audio2), bytes2, &read);
        (*member)->Unlock(audio1, bytes1, audio2, bytes2);
    }
    return true;
}

void SoundSet::TriggerShiftSound() {
    if (!shiftBuffer) return;
    shiftBuffer->Stop();
    shiftBuffer->Play(0, 0, 0);
}

void SoundSet::UpdateOffCourseSound(bool offCourse, bool prevOffCourse) {
    if (!offCourseBuffer) return;
    if (offCourse && !prevOffCourse) {
        offCourseBuffer->Stop();
        offCourseBuffer->Play(0, 0, DSBPLAY_LOOPING);
    } else if (!offCourse && prevOffCourse) {
        offCourseBuffer->Stop();
    }
}

void SoundSet::UpdateEngineSound(float engineRpm) {
    if (!engineBuffer) return;
    // The product is truncated towards zero; a value no rate can take is
    // left for SetFrequency to refuse rather than overflowing here.
    double t = std::trunc(double(engineRpm * -6.0f));
    if (!(t > -2.0e9 && t < 2.0e9)) return;
    engineBuffer->SetFrequency(DWORD(11025 - long(t)));
}
