// The four sounds, synthesised: an engine loop, background music, a
// gear-change puff and a gravel rumble loop. 16-bit PCM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace assets {

struct Sound {
    int rate = 22050;
    int channels = 1;
    std::vector<int16_t> samples;  // interleaved
};

Sound MakeEngineLoop();
Sound MakeMusic();
Sound MakePuff();
Sound MakeGravelLoop();

// Writes a RIFF WAVE file (PCM, 16-bit) with the program's wave file class.
bool WriteWave(const std::string& path, const Sound& sound);

}  // namespace assets
