// The software mixer behind the sound devices. Every playing voice is
// resampled from its own rate to the output rate with a windowed-sinc
// kernel whose cut-off follows the slower of the two rates (so a voice
// played faster than the output rate is band-limited instead of aliasing),
// scaled by its volume and pan, summed, scaled by the master volume and pan,
// and saturated to the output's sample size.
//
// Threads: the output renders on its own thread while the program changes
// voices. One lock guards all shared state; it is held only to copy a few
// values in and out, never while mixing. Sample data is immutable once
// published (a new block replaces it), so mixing reads it without the lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32/types.h"

struct MixFormat {
    DWORD rate = 22050;
    WORD channels = 2;
    WORD bits = 8;
    WORD BlockAlign() const { return WORD(channels * bits / 8); }
};

// Samples as floats in [-1, 1), interleaved.
using SampleBlock = std::vector<float>;
// The current block of a buffer's samples, shared by its duplicates and
// replaced (under the mixer's lock) when the buffer is written.
struct SharedSamples {
    std::shared_ptr<const SampleBlock> block;
};

struct Voice {
    // Fixed when made.
    WORD channels = 1;
    DWORD frames = 0;
    // Guarded by the mixer's lock.
    std::shared_ptr<SharedSamples> samples;
    // The play position: a whole frame and the fraction past it in units of
    // 1/phaseBase (the output rate of the last mix), so that stepping by
    // rate/outputRate is exact however long a voice plays.
    DWORD frame = 0;
    DWORD phase = 0;
    DWORD phaseBase = 0;
    DWORD rate = 22050;
    LONG volume = 0;  // hundredths of a decibel, -10000..0
    LONG pan = 0;     // -10000 (left only) .. 10000 (right only)
    bool playing = false;
    bool looping = false;
    // Counts of the program's position moves and of its Play and Stop
    // calls. A render writes its results back as if such calls made while
    // it mixed came after it: the block it mixed has been heard, so its
    // advance stands unless the position was moved meanwhile, and a
    // one-shot voice it ran to the end stops unless played or stopped
    // meanwhile.
    std::uint64_t moves = 0;
    std::uint64_t playCalls = 0;
};

class Mixer {
public:
    std::mutex& Lock() { return mutex_; }

    // Under Lock().
    void AddVoice(const std::shared_ptr<Voice>& voice);
    void RemoveVoice(const Voice* voice);
    MixFormat format;
    LONG masterVolume = 0;
    LONG masterPan = 0;

    // Mixes `frames` frames in `format` into `out` and advances the
    // playing voices. Takes the lock itself; one caller at a time.
    // `whileMixing`, for tests, runs after the voices are mixed and before
    // their positions are written back, without the lock, as the
    // program's calls do when they come while the output thread mixes.
    void Render(void* out, DWORD frames, const MixFormat& format,
                const std::function<void()>& whileMixing = nullptr);
    // Frames rendered so far (under Lock()).
    std::uint64_t renderedFrames = 0;

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<Voice>> voices_;

    struct Job {
        std::shared_ptr<Voice> voice;
        std::shared_ptr<const SampleBlock> samples;
        WORD channels;
        DWORD frames;
        DWORD frame, phase, rate;
        float gainLeft, gainRight;
        bool looping;
        std::uint64_t moves, playCalls;
        bool ended;
    };
    std::mutex renderMutex_;
    std::vector<Job> jobs_;
    std::vector<float> accumulator_;
};

// 10^(hundredths of a decibel / 2000), the amplitude factor of an attenuation.
float GainOfVolume(LONG volume);
// The left and right factors of a pan.
void GainsOfPan(LONG pan, float& left, float& right);
