// Opens arbitrary bytes as a wave resource (read from memory) and reads all
// of its sample data in uneven pieces.
#include <cstdint>
#include <vector>

#include "sound/riff_wave_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The name is no file in the working directory, so the resource is used.
    static const char kName[] = "vintrel-fuzz-wave-input";
    ClearResourcesForTesting();
    ResourceRecord record{"WAVE", kName, data, DWORD(size)};
    RegisterResources(&record, 1);

    RiffWaveFile wave;
    if (SUCCEEDED(wave.OpenWave(kName, nullptr, RiffWaveFile::kRead))) {
        // A successful open promises this much data.
        if (wave.GetDataSize() > size) __builtin_trap();
        std::vector<BYTE> out(4099);
        DWORD got = 0, total = 0, step = 1;
        while (SUCCEEDED(wave.ReadSamples(out.data(), step, &got)) && got > 0) {
            total += got;
            step = step * 3 % 4099 + 1;
        }
        if (total != wave.GetDataSize()) __builtin_trap();
        if (wave.format->nChannels == 0 || wave.format->nBlockAlign == 0) __builtin_trap();
    }
    ClearResourcesForTesting();
    return 0;
}
