#include "sounds.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <string>

#include "image.h"
#include "image_writers.h"
#include "sound/riff_wave_file.h"

// Samples go to the file as they lie in memory.
static_assert(std::endian::native == std::endian::little);

namespace assets {

namespace {
constexpr double kTwoPi = 6.283185307179586;

int16_t Pcm(double v) { return int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0)); }

// Noise that repeats after `length` samples, low-passed in a circle: the
// filter runs twice round the loop and keeps the second pass, so its state
// at the end equals its state at the start.
std::vector<double> LoopedLowNoise(size_t length, double cutoff, int rate, uint64_t seed) {
    Random r(seed);
    std::vector<double> white(length), out(length);
    for (double& w : white) w = r.Range(-1, 1);
    double k = 1 - std::exp(-kTwoPi * cutoff / rate), y1 = 0, y2 = 0;
    for (int pass = 0; pass < 3; ++pass)
        for (size_t i = 0; i < length; ++i) {
            y1 += k * (white[i] - y1);
            y2 += k * (y1 - y2);
            out[i] = y2;
        }
    double peak = 1e-9;
    for (double v : out) peak = std::max(peak, std::abs(v));
    for (double& v : out) v /= peak;
    return out;
}
}  // namespace

Sound MakeEngineLoop() {
    // A whole number of periods of a 64.85 Hz firing tone (340 samples at
    // 22050 Hz) so the loop is seamless; harmonics and a looped rasp give
    // the bark. Played at 17025-68025 Hz it sweeps 50-200 Hz.
    Sound s;
    const int period = 340, periods = 65;
    const size_t length = size_t(period) * periods;
    std::vector<double> rasp = LoopedLowNoise(length, 900, s.rate, 91);
    s.samples.resize(length);
    for (size_t i = 0; i < length; ++i) {
        double phase = double(i % period) / period;
        double v = 0;
        const double amps[] = {1.0, 0.55, 0.42, 0.3, 0.22, 0.14, 0.1, 0.06};
        for (int h = 0; h < 8; ++h) v += amps[h] * std::sin(kTwoPi * (h + 1) * phase + h * 0.7);
        // Each firing pulse a little harder at its start. The quick but
        // smooth rise keeps the wave and its slope continuous where one
        // period meets the next (and where the loop meets its start).
        double rise = 1 - std::exp(-40.0 * phase);
        double pulse = std::exp(-6.0 * phase) * rise * rise;
        double wobble = 1 + 0.08 * std::sin(kTwoPi * 5 * double(i) / double(length));
        v = v * (0.55 + 0.45 * pulse) * wobble + 0.35 * rasp[i] * pulse;
        s.samples[i] = Pcm(0.3 * v);
    }
    return s;
}

Sound MakePuff() {
    Sound s;
    const size_t length = size_t(s.rate * 0.35);
    Random r(73);
    s.samples.resize(length);
    double band1 = 0, band2 = 0;
    for (size_t i = 0; i < length; ++i) {
        double t = double(i) / s.rate;
        double envelope = (1 - std::exp(-t * 400)) * std::exp(-t * 13);
        double w = r.Range(-1, 1);
        band1 += 0.35 * (w - band1);
        band2 += 0.5 * (band1 - band2);
        double hiss = band1 - band2 * 0.6;
        s.samples[i] = Pcm(0.8 * envelope * hiss);
    }
    // Fade the last few milliseconds to silence.
    for (size_t i = 0; i < 64 && i < length; ++i) s.samples[length - 1 - i] = int16_t(s.samples[length - 1 - i] * double(i) / 64);
    return s;
}

Sound MakeGravelLoop() {
    Sound s;
    const size_t length = size_t(s.rate) * 2;
    std::vector<double> low = LoopedLowNoise(length, 180, s.rate, 51);
    std::vector<double> crackle = LoopedLowNoise(length, 2500, s.rate, 57);
    s.samples.resize(length);
    for (size_t i = 0; i < length; ++i) {
        double grit = crackle[i] * crackle[i] * crackle[i];
        s.samples[i] = Pcm(0.45 * low[i] + 0.35 * grit);
    }
    return s;
}

Sound MakeMusic() {
    // 16 bars of 4 beats at 120 bpm = 32 s, played twice with a variation:
    // 64 s in all, stereo, ending where it began so it loops.
    Sound s;
    s.channels = 2;
    const int rate = s.rate;
    const double beat = 0.5;
    const int bars = 32;
    const size_t length = size_t(bars * 4 * beat * rate);
    std::vector<double> left(length, 0.0), right(length, 0.0);
    // A minor progression: Am F C G, then Dm F Am E.
    const int roots[8] = {57, 53, 48, 55, 50, 53, 57, 52};
    const int thirds[8] = {3, 4, 4, 4, 3, 4, 3, 4};
    auto freq = [](double midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); };
    auto add = [&](double start, double duration, double f, double gain, double pan, int shape) {
        size_t a = size_t(start * rate), b = std::min(length, size_t((start + duration) * rate));
        for (size_t i = a; i < b; ++i) {
            double t = double(i - a) / rate, ph = f * t;
            double env = std::min(1.0, t * 60) * std::exp(-t * (shape == 2 ? 9 : 2.2));
            double v;
            if (shape == 0) v = std::sin(kTwoPi * ph) + 0.3 * std::sin(kTwoPi * 2 * ph);  // pad
            else if (shape == 1) v = 2 * (ph - std::floor(ph + 0.5));                       // bass saw
            else v = std::sin(kTwoPi * ph) * (1 + 0.5 * std::sin(kTwoPi * 3 * ph));         // pluck
            v *= env * gain;
            left[i] += v * (1 - pan), right[i] += v * pan;
        }
    };
    Random r(2003);
    for (int bar = 0; bar < bars; ++bar) {
        int chord = (bar / 2) % 8;
        double t0 = bar * 4 * beat;
        int root = roots[chord], third = thirds[chord];
        for (int n : {0, third, 7}) add(t0, 4 * beat, freq(root + n), 0.09, 0.35 + 0.15 * n / 7.0, 0);
        for (int k = 0; k < 8; ++k) add(t0 + k * beat / 2, beat / 2, freq(root - 12 + (k % 4 == 3 ? 7 : 0)), 0.16, 0.5, 1);
        const int arp[8] = {0, 7, 12, third + 12, 7, 12, third, 7};
        if (bar >= 4)
            for (int k = 0; k < 8; ++k) {
                int note = root + 12 + arp[(k + bar) % 8];
                if (bar >= 16 && k % 2 == 1) note += 12;
                add(t0 + k * beat / 2, beat / 2, freq(note), 0.07, k % 2 ? 0.8 : 0.2, 2);
            }
        // Drums: kick on beats, hat on off-beats, snare on 2 and 4.
        for (int k = 0; k < 4; ++k) {
            size_t kick = size_t((t0 + k * beat) * rate);
            for (size_t i = 0; i < size_t(0.18 * rate) && kick + i < length; ++i) {
                double t = double(i) / rate;
                double v = std::sin(kTwoPi * (55 * t + 60 * (1 - std::exp(-t * 30)) / 30)) * std::exp(-t * 18) * 0.35;
                left[kick + i] += v, right[kick + i] += v;
            }
            size_t hat = size_t((t0 + k * beat + beat / 2) * rate);
            for (size_t i = 0; i < size_t(0.05 * rate) && hat + i < length; ++i) {
                double v = r.Range(-1, 1) * std::exp(-double(i) / rate * 80) * 0.05;
                left[hat + i] += v * 0.7, right[hat + i] += v;
            }
            if (k % 2 == 1 && bar >= 2) {
                size_t snare = size_t((t0 + k * beat) * rate);
                for (size_t i = 0; i < size_t(0.15 * rate) && snare + i < length; ++i) {
                    double t = double(i) / rate;
                    double v = (r.Range(-1, 1) * 0.7 + 0.3 * std::sin(kTwoPi * 190 * t)) * std::exp(-t * 22) * 0.16;
                    left[snare + i] += v, right[snare + i] += v;
                }
            }
        }
    }
    // Notes still ringing at the end fold back onto the start, so the loop
    // joins without a click.
    s.samples.resize(length * 2);
    for (size_t i = 0; i < length; ++i) {
        double fade = std::min(1.0, double(length - i) / (0.01 * rate));
        s.samples[2 * i] = Pcm(left[i] * fade);
        s.samples[2 * i + 1] = Pcm(right[i] * fade);
    }
    return s;
}

bool WriteWave(const std::string& path, const Sound& sound) {
    if (sound.channels < 1 || sound.channels > 2 || sound.rate <= 0 || sound.samples.size() > 0x3FFFFFF0u) {
        std::fprintf(stderr, "make-assets: cannot write %s: unsupported sound\n", path.c_str());
        return false;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = WORD(sound.channels);
    format.nSamplesPerSec = DWORD(sound.rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = WORD(sound.channels * 2);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.cbSize = 0;

    // The program's own wave file class writes what its reader reads, into
    // a temporary that takes the target's place only once whole, as the
    // other files do.
    const std::string temp = path + ".tmp-" + std::to_string(getpid());
    RiffWaveFile wave;
    const DWORD bytes = DWORD(sound.samples.size() * sizeof(int16_t));
    DWORD written = 0;
    bool ok = SUCCEEDED(wave.OpenWave(temp.c_str(), &format, RiffWaveFile::kWrite)) &&
              SUCCEEDED(wave.WriteSamples(reinterpret_cast<const BYTE*>(sound.samples.data()), bytes, &written)) &&
              written == bytes;
    // Closing settles the chunk sizes; it must succeed even after a failed write.
    ok = SUCCEEDED(wave.CloseWave()) && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        std::remove(temp.c_str());
        std::fprintf(stderr, "make-assets: cannot write %s\n", path.c_str());
    }
    return ok;
}

}  // namespace assets
