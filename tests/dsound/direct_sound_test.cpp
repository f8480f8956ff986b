// The device and buffer objects: argument checks, result codes, locking,
// play state, the output choice and the SDL output itself.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "tests/dsound/sound_test_util.h"

using namespace soundtest;

namespace {
WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
    WORD align = WORD(channels * bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// Sets (or clears) an environment variable for one scope.
class EnvScope {
public:
    EnvScope(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~EnvScope() {
        if (had_) setenv(name_.c_str(), old_.c_str(), 1);
        else unsetenv(name_.c_str());
    }

private:
    std::string name_, old_;
    bool had_ = false;
};
}  // namespace

TEST(DirectSound, CreationAndOutputChoice) {
    IDirectSound8* sound = reinterpret_cast<IDirectSound8*>(1);
    EXPECT_EQ(DirectSoundCreate8(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
    IUnknown* outer = reinterpret_cast<IUnknown*>(8);
    SelectSoundOutput(SoundOutputMode::Capture);
    EXPECT_EQ(DirectSoundCreate8(nullptr, &sound, outer), DSERR_NOAGGREGATION);
    EXPECT_EQ(sound, nullptr);
    GUID other = IID_IDirectSound8;
    EXPECT_EQ(DirectSoundCreate8(&other, &sound, nullptr), DSERR_NODRIVER);
    ASSERT_EQ(DirectSoundCreate8(&DSDEVID_DefaultPlayback, &sound, nullptr), DS_OK);
    IDirectSound8* again = nullptr;
    ASSERT_EQ(sound->QueryInterface(IID_IDirectSound, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, sound);
    again->Release();
    DSCAPS caps{};
    EXPECT_EQ(sound->GetCaps(&caps), DSERR_INVALIDPARAM);
    caps.dwSize = sizeof caps;
    ASSERT_EQ(sound->GetCaps(&caps), DS_OK);
    EXPECT_EQ(caps.dwMinSecondarySampleRate, DSBFREQUENCY_MIN);
    EXPECT_EQ(caps.dwMaxSecondarySampleRate, DSBFREQUENCY_MAX);
    EXPECT_EQ(sound->Release(), 0u);

    SelectSoundOutput(SoundOutputMode::None);
    EXPECT_EQ(DirectSoundCreate8(nullptr, &sound, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(sound, nullptr);

    // Automatic follows VINTREL_AUDIO.
    SelectSoundOutput(SoundOutputMode::Automatic);
    {
        EnvScope env("VINTREL_AUDIO", "none");
        EXPECT_EQ(DirectSoundCreate8(nullptr, &sound, nullptr), DSERR_NODRIVER);
    }
    {
        EnvScope env("VINTREL_AUDIO", "capture");
        ASSERT_EQ(DirectSoundCreate8(nullptr, &sound, nullptr), DS_OK);
        int16_t frames[8];
        EXPECT_EQ(CaptureSoundFrames(sound, frames, 2), DS_OK);
        EXPECT_EQ(CaptureSoundFrames(sound, nullptr, 2), DSERR_INVALIDPARAM);
        sound->Release();
    }
}

TEST(DirectSound, CooperativeLevelAndPrimaryBuffer) {
    SelectSoundOutput(SoundOutputMode::Capture);
    IDirectSound8* sound = nullptr;
    ASSERT_EQ(DirectSoundCreate8(nullptr, &sound, nullptr), DS_OK);
    SelectSoundOutput(SoundOutputMode::Automatic);
    EXPECT_EQ(sound->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    EXPECT_EQ(sound->SetCooperativeLevel(AnyWindow(), 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(sound->SetCooperativeLevel(AnyWindow(), 5), DSERR_INVALIDPARAM);
    ASSERT_EQ(sound->SetCooperativeLevel(AnyWindow(), DSSCL_NORMAL), DS_OK);

    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRLVOLUME;
    IDirectSoundBuffer* primary = nullptr;
    IDirectSoundBuffer* second = nullptr;
    ASSERT_EQ(sound->CreateSoundBuffer(&desc, &primary, nullptr), DS_OK);
    ASSERT_EQ(sound->CreateSoundBuffer(&desc, &second, nullptr), DS_OK);
    EXPECT_EQ(primary, second);  // there is one primary buffer
    second->Release();

    WAVEFORMATEX f = Pcm(2, 22050, 16);
    EXPECT_EQ(primary->SetFormat(&f), DSERR_PRIOLEVELNEEDED);
    ASSERT_EQ(sound->SetCooperativeLevel(AnyWindow(), DSSCL_PRIORITY), DS_OK);
    WAVEFORMATEX bad = f;
    bad.nBlockAlign = 3;
    EXPECT_EQ(primary->SetFormat(&bad), DSERR_BADFORMAT);
    bad = Pcm(2, 22050, 24);
    EXPECT_EQ(primary->SetFormat(&bad), DSERR_BADFORMAT);
    EXPECT_EQ(primary->SetFormat(nullptr), DSERR_INVALIDPARAM);
    ASSERT_EQ(primary->SetFormat(&f), DS_OK);
    WAVEFORMATEX got{};
    DWORD written = 0;
    ASSERT_EQ(primary->GetFormat(&got, sizeof got, &written), DS_OK);
    EXPECT_EQ(written, sizeof(WAVEFORMATEX));
    EXPECT_EQ(std::memcmp(&got, &f, sizeof f), 0);

    // What the primary buffer does not offer.
    IDirectSoundBuffer8* as8 = nullptr;
    EXPECT_EQ(primary->QueryInterface(IID_IDirectSoundBuffer8, reinterpret_cast<void**>(&as8)),
              E_NOINTERFACE);
    EXPECT_EQ(primary->SetFrequency(22050), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(primary->SetPan(0), DSERR_CONTROLUNAVAIL);  // not asked for

    // Primary descriptions must not carry a size or format.
    desc.dwBufferBytes = 100;
    EXPECT_EQ(sound->CreateSoundBuffer(&desc, &second, nullptr), DSERR_INVALIDPARAM);
    primary->Release();
    sound->Release();
}

TEST(DirectSound, SecondaryBufferChecks) {
    CaptureDevice device;
    WAVEFORMATEX f = Pcm(1, 22050, 16), other = f;
    DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_CTRLVOLUME, 1000, 0, &f, GUID_NULL};
    IDirectSoundBuffer* buffer = nullptr;
    auto create = [&](DSBUFFERDESC d) {
        SafeRelease(buffer);
        return device.sound->CreateSoundBuffer(&d, &buffer, nullptr);
    };
    DSBUFFERDESC d = desc;
    d.dwSize = sizeof(DSBUFFERDESC1);  // the older, shorter record
    EXPECT_EQ(create(d), DS_OK);
    d.dwSize = 12;
    EXPECT_EQ(create(d), DSERR_INVALIDPARAM);
    d = desc;
    d.dwBufferBytes = DSBSIZE_MIN - 1;
    EXPECT_EQ(create(d), DSERR_INVALIDPARAM);
    d = desc;
    d.lpwfxFormat = &other;
    other.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    EXPECT_EQ(create(d), DSERR_BADFORMAT);
    other = Pcm(3, 22050, 16);
    EXPECT_EQ(create(d), DSERR_BADFORMAT);
    other = Pcm(2, 200000, 8);
    EXPECT_EQ(create(d), DS_OK);

    // Controls that were not asked for are unavailable; the others are
    // checked against their ranges.
    ASSERT_EQ(create(desc), DS_OK);
    EXPECT_EQ(buffer->SetFrequency(30000), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(buffer->SetPan(100), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(buffer->SetVolume(1), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->SetVolume(DSBVOLUME_MIN), DS_OK);
    EXPECT_EQ(buffer->SetFormat(&f), DSERR_INVALIDCALL);
    SafeRelease(buffer);

    IDirectSoundBuffer8* b = device.Buffer(std::vector<int16_t>(500), 1, 44100);
    DWORD frequency = 0;
    EXPECT_EQ(b->SetFrequency(DSBFREQUENCY_MIN - 1), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->SetFrequency(DSBFREQUENCY_MAX + 1), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->SetFrequency(DSBFREQUENCY_MAX), DS_OK);
    EXPECT_EQ(b->SetFrequency(DSBFREQUENCY_ORIGINAL), DS_OK);  // back to the format's rate
    ASSERT_EQ(b->GetFrequency(&frequency), DS_OK);
    EXPECT_EQ(frequency, 44100u);
    EXPECT_EQ(b->Play(1, 0, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Play(0, 5, 0), DSERR_INVALIDPARAM);  // priority needs a deferred buffer
    EXPECT_EQ(b->SetCurrentPosition(1000), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->SetCurrentPosition(401), DS_OK);  // rounded down to a whole frame
    DWORD play = 0, write = 0;
    ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 400u);
    EXPECT_EQ(write, 400u);  // stopped: both cursors together
    b->Release();
}

TEST(DirectSound, LockRegionsWrap) {
    CaptureDevice device;
    IDirectSoundBuffer8* b = device.Buffer(std::vector<int16_t>(50, 7), 1, 22050);  // 100 bytes
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD b1 = 0, b2 = 0;
    ASSERT_EQ(b->Lock(90, 30, &p1, &b1, &p2, &b2, 0), DS_OK);
    EXPECT_EQ(b1, 10u);
    EXPECT_EQ(b2, 20u);
    EXPECT_EQ(static_cast<BYTE*>(p1) - static_cast<BYTE*>(p2), 90);
    // Write a marker at the end and the start, and hear both.
    std::memset(p1, 0, b1);
    std::memset(p2, 0, b2);
    ASSERT_EQ(b->Unlock(p1, b1, p2, b2), DS_OK);
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    std::vector<int16_t> out = device.Mix(60);
    for (int i = 0; i < 60; ++i) {
        int16_t want = (i < 10 || (i >= 45 && i < 50)) ? 0 : (i < 50 ? 7 : 0);
        ASSERT_EQ(out[2 * i], want) << i;
    }

    ASSERT_EQ(b->Lock(0, 0, &p1, &b1, &p2, &b2, DSBLOCK_ENTIREBUFFER), DS_OK);
    EXPECT_EQ(b1, 100u);
    EXPECT_EQ(p2, nullptr);
    EXPECT_EQ(b2, 0u);
    EXPECT_EQ(b->Unlock(p1, b1, nullptr, 0), DS_OK);
    EXPECT_EQ(b->Lock(100, 10, &p1, &b1, &p2, &b2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Lock(0, 101, &p1, &b1, &p2, &b2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Lock(0, 0, &p1, &b1, &p2, &b2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->Lock(0, 10, nullptr, &b1, &p2, &b2, 0), DSERR_INVALIDPARAM);
    int16_t elsewhere[4];
    EXPECT_EQ(b->Unlock(elsewhere, 8, nullptr, 0), DSERR_INVALIDPARAM);
    b->Release();
}

TEST(DirectSound, PlayNeedsACooperativeLevelAndDuplicatesShareData) {
    SelectSoundOutput(SoundOutputMode::Capture);
    IDirectSound8* sound = nullptr;
    ASSERT_EQ(DirectSoundCreate8(nullptr, &sound, nullptr), DS_OK);
    SelectSoundOutput(SoundOutputMode::Automatic);
    WAVEFORMATEX f = Pcm(1, 22050, 16);
    DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_CTRLVOLUME, 200, 0, &f, GUID_NULL};
    IDirectSoundBuffer* original = nullptr;
    ASSERT_EQ(sound->CreateSoundBuffer(&desc, &original, nullptr), DS_OK);
    EXPECT_EQ(original->Play(0, 0, 0), DSERR_PRIOLEVELNEEDED);
    ASSERT_EQ(sound->SetCooperativeLevel(AnyWindow(), DSSCL_NORMAL), DS_OK);

    IDirectSoundBuffer* copy = nullptr;
    ASSERT_EQ(sound->DuplicateSoundBuffer(original, &copy), DS_OK);
    ASSERT_EQ(original->SetVolume(-100), DS_OK);
    void* p1;
    void* p2;
    DWORD b1, b2;
    ASSERT_EQ(original->Lock(0, 200, &p1, &b1, &p2, &b2, 0), DS_OK);
    for (DWORD i = 0; i < b1 / 2; ++i) static_cast<int16_t*>(p1)[i] = 1000;
    ASSERT_EQ(original->Unlock(p1, b1, p2, b2), DS_OK);
    ASSERT_EQ(copy->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    DWORD status = 0;
    ASSERT_EQ(original->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, 0u);  // its own play state
    // The device's own 8-bit primary format: 1000/32768 of full scale is
    // 4 steps above the unsigned midpoint.
    std::vector<BYTE> out(20);
    ASSERT_EQ(CaptureSoundFrames(sound, out.data(), 10), DS_OK);
    EXPECT_EQ(out[0], 132);  // the copy plays the data written through the original
    EXPECT_EQ(out[1], 132);
    copy->Release();
    original->Release();
    sound->Release();
}

// The real output path: SDL's "disk" driver writes what the audio thread
// pulled from the mixer into a file.
TEST(DirectSound, SdlOutputPlaysTheMix) {
    std::string file = std::filesystem::temp_directory_path() /
                       ("vintrel-sdl-disk-" + std::to_string(getpid()) + ".raw");
    {
        EnvScope driver("SDL_AUDIODRIVER", "disk");
        EnvScope path("SDL_DISKAUDIOFILE", file.c_str());
        EnvScope delay("SDL_DISKAUDIODELAY", "1");
        SelectSoundOutput(SoundOutputMode::Device);
        IDirectSound8* sound = nullptr;
        ASSERT_EQ(DirectSoundCreate8(nullptr, &sound, nullptr), DS_OK);
        SelectSoundOutput(SoundOutputMode::Automatic);
        int16_t frames[4];
        EXPECT_EQ(CaptureSoundFrames(sound, frames, 1), DSERR_INVALIDCALL);
        ASSERT_EQ(sound->SetCooperativeLevel(AnyWindow(), DSSCL_PRIORITY), DS_OK);
        DSBUFFERDESC pd{sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER, 0, 0, nullptr, GUID_NULL};
        IDirectSoundBuffer* primary = nullptr;
        ASSERT_EQ(sound->CreateSoundBuffer(&pd, &primary, nullptr), DS_OK);
        WAVEFORMATEX f = Pcm(2, 22050, 16);
        ASSERT_EQ(primary->SetFormat(&f), DS_OK);  // reopens the device in this format

        WAVEFORMATEX tf = Pcm(1, 44100, 16);
        std::vector<int16_t> tone = Sine(441, 44100, 5 * 44100, 0.5);  // 5 s, far from wrapping
        DSBUFFERDESC td{sizeof(DSBUFFERDESC), DSBCAPS_CTRLFREQUENCY, DWORD(tone.size() * 2), 0,
                        &tf, GUID_NULL};
        IDirectSoundBuffer* buffer = nullptr;
        ASSERT_EQ(sound->CreateSoundBuffer(&td, &buffer, nullptr), DS_OK);
        void* p1;
        void* p2;
        DWORD b1, b2;
        ASSERT_EQ(buffer->Lock(0, td.dwBufferBytes, &p1, &b1, &p2, &b2, 0), DS_OK);
        std::memcpy(p1, tone.data(), b1);
        ASSERT_EQ(buffer->Unlock(p1, b1, p2, b2), DS_OK);
        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        // The audio thread advances the play position on its own.
        DWORD position = 0;
        for (int i = 0; i < 500 && position < 60000; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_EQ(buffer->GetCurrentPosition(&position, nullptr), DS_OK);
        }
        EXPECT_GE(position, 60000u);
        buffer->Release();
        primary->Release();
        sound->Release();  // closes the device
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file);
    ASSERT_GE(raw.size(), 4u * 8192);
    // Skip the first pieces (written in the default format before
    // SetFormat, and the start of the tone), then measure 4096 frames.
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    // The buffer is released while the device still runs, so the file may
    // end in silence; a step from the tone into it would count as one more
    // zero crossing. Measure the last frames that still hold the tone.
    size_t end = samples.size() & ~size_t(1);
    while (end >= 2 && samples[end - 1] == 0 && samples[end - 2] == 0) end -= 2;
    ASSERT_GE(end, 2u * 4096);
    std::vector<int16_t> tail(samples.begin() + (end - 2 * 4096), samples.begin() + end);
    std::vector<double> left = Channel(tail, 2, 0);
    EXPECT_NEAR(Pitch(left, 22050), 441.0, 1.0);
    EXPECT_NEAR(Peak(left), 0.5, 0.02);
}

TEST(DirectSound, NoAudioDeviceIsNoDriver) {
    EnvScope driver("SDL_AUDIODRIVER", "no-such-driver");
    SelectSoundOutput(SoundOutputMode::Device);
    IDirectSound8* sound = nullptr;
    EXPECT_EQ(DirectSoundCreate8(nullptr, &sound, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(sound, nullptr);
    SelectSoundOutput(SoundOutputMode::Automatic);
}
