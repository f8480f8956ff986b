#include "platform/dsound/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// The interpolation kernel: sinc windowed by a Kaiser window, 16 zero
// crossings on each side, tabulated at 256 points per zero crossing. Beta 6
// gives about 63 dB of stop-band rejection; the transition band is about
// 7% of the cut-off wide on either side.
constexpr int kZeroCrossings = 16;
constexpr int kTableResolution = 256;
constexpr double kKaiserBeta = 6.0;
// A voice faster than the output is cut off at this fraction of the output's
// Nyquist frequency, so that the transition band ends close to it.
constexpr double kCutoff = 0.9;

double BesselI0(double x) {
    double sum = 1, term = 1, q = x * x / 4;
    for (int k = 1; k < 64 && term > sum * 1e-17; ++k) {
        term *= q / (double(k) * k);
        sum += term;
    }
    return sum;
}

const std::vector<float>& KernelTable() {
    static const std::vector<float> table = [] {
        std::vector<float> t(kZeroCrossings * kTableResolution + 2, 0.0f);
        const double pi = 3.14159265358979323846;
        double norm = BesselI0(kKaiserBeta);
        for (int j = 0; j <= kZeroCrossings * kTableResolution; ++j) {
            double x = double(j) / kTableResolution;
            double sinc = j == 0 ? 1.0 : std::sin(pi * x) / (pi * x);
            double r = x / kZeroCrossings;
            double window = BesselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1 - r * r))) / norm;
            t[size_t(j)] = float(sinc * window);
        }
        return t;
    }();
    return table;
}

// Mixes one voice into `acc` (interleaved, `outChannels` wide), stepping
// its position by rate/outRate source frames per output frame.
void MixVoice(DWORD& frame, DWORD& phase, bool& ended, const float* samples, WORD channels,
              DWORD frames, DWORD rate, DWORD outRate, bool looping, float gainLeft,
              float gainRight, float* acc, DWORD outFrames, WORD outChannels) {
    if (frames == 0) {
        ended = !looping;
        return;
    }
    const std::vector<float>& table = KernelTable();
    const double step = double(rate) / double(outRate);
    const DWORD stepWhole = rate / outRate, stepPart = rate % outRate;
    const double fc = step <= 1.0 ? 1.0 : kCutoff / step;
    const int halfTaps = int(std::ceil(kZeroCrossings / fc));
    const float scale = float(fc * kTableResolution);
    const float limit = float(kZeroCrossings * kTableResolution);
    const float* tab = table.data();
    const long long n = frames;

    for (DWORD i = 0; i < outFrames; ++i) {
        if (frame >= frames) {
            if (!looping) {
                ended = true;
                break;
            }
            frame %= frames;
        }
        const long long base = frame;
        const float frac = float(double(phase) / double(outRate));
        float left = 0, right = 0;
        const bool inside = base - halfTaps + 1 >= 0 && base + halfTaps < n;
        // The taps at and before the position (distance frac, frac + 1, ...)
        // and after it (1 - frac, 2 - frac, ...), each side until the
        // kernel ends.
        auto tap = [&](long long k, float x) {
            int j = int(x);
            float w = tab[j] + (x - float(j)) * (tab[j + 1] - tab[j]);
            if (!inside) {
                if (looping) {
                    k %= n;
                    if (k < 0) k += n;
                } else if (k < 0 || k >= n) {
                    return;
                }
            }
            if (channels == 1) {
                left += w * samples[k];
            } else {
                left += w * samples[2 * k];
                right += w * samples[2 * k + 1];
            }
        };
        for (int m = 0; m < halfTaps; ++m) {
            float x = (frac + float(m)) * scale;
            if (x >= limit) break;
            tap(base - m, x);
        }
        for (int m = 1; m <= halfTaps; ++m) {
            float x = (float(m) - frac) * scale;
            if (x >= limit) break;
            tap(base + m, x);
        }
        if (channels == 1) right = left;
        left *= float(fc) * gainLeft;
        right *= float(fc) * gainRight;
        if (outChannels == 2) {
            acc[2 * i] += left;
            acc[2 * i + 1] += right;
        } else {
            acc[i] += 0.5f * (left + right);
        }
        // frame + phase/outRate advances by stepWhole + stepPart/outRate.
        unsigned long long next = (unsigned long long)frame + stepWhole;
        phase += stepPart;
        if (phase >= outRate) {
            phase -= outRate;
            ++next;
        }
        if (next >= frames) next = looping ? next % frames : frames;
        frame = DWORD(next);
    }
    if (!looping && frame >= frames) ended = true;
}
}  // namespace

float GainOfVolume(LONG volume) { return float(std::pow(10.0, double(volume) / 2000.0)); }

void GainsOfPan(LONG pan, float& left, float& right) {
    left = pan > 0 ? GainOfVolume(-pan) : 1.0f;
    right = pan < 0 ? GainOfVolume(pan) : 1.0f;
}

void Mixer::AddVoice(const std::shared_ptr<Voice>& voice) { voices_.push_back(voice); }

void Mixer::RemoveVoice(const Voice* voice) {
    voices_.erase(std::remove_if(voices_.begin(), voices_.end(),
                                 [voice](const std::shared_ptr<Voice>& v) { return v.get() == voice; }),
                  voices_.end());
}

void Mixer::Render(void* out, DWORD frames, const MixFormat& fmt, const std::function<void()>& whileMixing) {
    std::lock_guard<std::mutex> rendering(renderMutex_);
    float masterLeft, masterRight;
    jobs_.clear();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        float master = GainOfVolume(masterVolume);
        GainsOfPan(masterPan, masterLeft, masterRight);
        masterLeft *= master;
        masterRight *= master;
        for (const auto& v : voices_) {
            if (!v->playing || !v->samples || !v->samples->block) continue;
            float left, right;
            GainsOfPan(v->pan, left, right);
            float gain = GainOfVolume(v->volume);
            // A fraction kept for another output rate is carried over to this one.
            DWORD phase = 0;
            if (v->phaseBase == fmt.rate) phase = v->phase;
            else if (v->phaseBase != 0)
                phase = DWORD((unsigned long long)v->phase * fmt.rate / v->phaseBase);
            jobs_.push_back(Job{v, v->samples->block, v->channels, v->frames, v->frame, phase,
                                v->rate, left * gain, right * gain, v->looping, v->moves,
                                v->playCalls, false});
        }
    }

    accumulator_.assign(size_t(frames) * fmt.channels, 0.0f);
    for (Job& job : jobs_)
        MixVoice(job.frame, job.phase, job.ended, job.samples->data(), job.channels, job.frames,
                 job.rate, fmt.rate, job.looping, job.gainLeft, job.gainRight,
                 accumulator_.data(), frames, fmt.channels);
    if (whileMixing) whileMixing();

    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Job& job : jobs_) {
            Voice& v = *job.voice;
            // A one-shot voice at its end goes back to its start and stops.
            if (v.moves == job.moves) {
                v.frame = job.ended ? 0 : job.frame;
                v.phase = job.ended ? 0 : job.phase;
                v.phaseBase = fmt.rate;
            }
            if (job.ended && v.playCalls == job.playCalls) v.playing = false;
        }
    }
    jobs_.clear();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        renderedFrames += frames;
    }

    for (DWORD i = 0; i < frames; ++i) {
        for (WORD c = 0; c < fmt.channels; ++c) {
            size_t at = size_t(i) * fmt.channels + c;
            float gain = fmt.channels == 2 ? (c == 0 ? masterLeft : masterRight)
                                           : 0.5f * (masterLeft + masterRight);
            float v = accumulator_[at] * gain;
            if (fmt.bits == 16) {
                long s = std::lrint(double(v) * 32768.0);
                s = std::clamp(s, -32768L, 32767L);
                int16_t sample = int16_t(s);
                std::memcpy(static_cast<char*>(out) + at * 2, &sample, 2);
            } else {
                long s = std::lrint(double(v) * 128.0) + 128;
                static_cast<BYTE*>(out)[at] = BYTE(std::clamp(s, 0L, 255L));
            }
        }
    }
}
