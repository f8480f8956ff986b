// A capture device and signal measurements for the sound device tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/dsound/sound_output.h"

namespace soundtest {

inline HWND AnyWindow() { return reinterpret_cast<HWND>(0x10); }

// A capture device at PRIORITY level with its primary buffer in `rate` Hz,
// 16-bit, `channels` channels.
struct CaptureDevice {
    IDirectSound8* sound = nullptr;
    IDirectSoundBuffer* primary = nullptr;

    explicit CaptureDevice(DWORD rate = 22050, WORD channels = 2, bool setFormat = true) {
        SelectSoundOutput(SoundOutputMode::Capture);
        EXPECT_EQ(DirectSoundCreate8(nullptr, &sound, nullptr), DS_OK);
        SelectSoundOutput(SoundOutputMode::Automatic);
        EXPECT_EQ(sound->SetCooperativeLevel(AnyWindow(), DSSCL_PRIORITY), DS_OK);
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN;
        EXPECT_EQ(sound->CreateSoundBuffer(&desc, &primary, nullptr), DS_OK);
        if (setFormat) {
            WAVEFORMATEX f{WAVE_FORMAT_PCM, channels, rate, rate * channels * 2,
                           WORD(channels * 2), 16, 0};
            EXPECT_EQ(primary->SetFormat(&f), DS_OK);
        }
    }
    ~CaptureDevice() {
        if (primary) primary->Release();
        if (sound) sound->Release();
    }

    // A secondary buffer holding 16-bit `samples` of `channels` channels.
    IDirectSoundBuffer8* Buffer(const std::vector<int16_t>& samples, WORD channels, DWORD rate,
                                DWORD flags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLVOLUME |
                                              DSBCAPS_CTRLPAN) {
        WAVEFORMATEX f{WAVE_FORMAT_PCM, channels, rate, rate * channels * 2, WORD(channels * 2),
                       16, 0};
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = flags;
        desc.dwBufferBytes = DWORD(samples.size() * 2);
        desc.lpwfxFormat = &f;
        IDirectSoundBuffer* plain = nullptr;
        EXPECT_EQ(sound->CreateSoundBuffer(&desc, &plain, nullptr), DS_OK);
        if (!plain) return nullptr;
        IDirectSoundBuffer8* buffer = nullptr;
        EXPECT_EQ(plain->QueryInterface(IID_IDirectSoundBuffer8, reinterpret_cast<void**>(&buffer)),
                  S_OK);
        plain->Release();
        void* p1 = nullptr;
        void* p2 = nullptr;
        DWORD b1 = 0, b2 = 0;
        EXPECT_EQ(buffer->Lock(0, desc.dwBufferBytes, &p1, &b1, &p2, &b2, 0), DS_OK);
        std::memcpy(p1, samples.data(), b1);
        EXPECT_EQ(buffer->Unlock(p1, b1, p2, b2), DS_OK);
        return buffer;
    }

    // The next `frames` frames of the mix (16-bit primary format); with
    // `whileMixing`, calls made while the output mixes them.
    std::vector<int16_t> Mix(DWORD frames, WORD channels = 2, const std::function<void()>& whileMixing = nullptr) {
        std::vector<int16_t> out(size_t(frames) * channels, 12345);
        EXPECT_EQ(CaptureSoundFrames(sound, out.data(), frames, whileMixing), DS_OK);
        return out;
    }
};

inline std::vector<int16_t> Sine(double frequency, DWORD rate, size_t frames, double amplitude,
                                 WORD channels = 1) {
    std::vector<int16_t> s(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (WORD c = 0; c < channels; ++c)
            s[i * channels + c] =
                int16_t(std::lrint(amplitude * 32767 * std::sin(2 * M_PI * frequency * i / rate)));
    return s;
}

// One channel of interleaved samples, as floats in [-1, 1).
inline std::vector<double> Channel(const std::vector<int16_t>& s, WORD channels, WORD which) {
    std::vector<double> out;
    for (size_t i = which; i < s.size(); i += channels) out.push_back(s[i] / 32768.0);
    return out;
}

// Amplitude of the component at `frequency` (a single-bin DFT over whole
// periods would be exact; over many periods the leakage is negligible).
inline double AmplitudeAt(const std::vector<double>& x, double frequency, double rate) {
    double re = 0, im = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        double a = 2 * M_PI * frequency * i / rate;
        re += x[i] * std::cos(a);
        im -= x[i] * std::sin(a);
    }
    return 2 * std::hypot(re, im) / double(x.size());
}

// Pitch from the upward zero crossings, interpolated between samples.
inline double Pitch(const std::vector<double>& x, double rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            double t = (i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0;
}

inline double Peak(const std::vector<double>& x) {
    double m = 0;
    for (double v : x) m = std::max(m, std::fabs(v));
    return m;
}

}  // namespace soundtest
