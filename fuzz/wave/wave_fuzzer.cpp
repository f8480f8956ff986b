// Opens arbitrary bytes as a wave resource (read from memory) and as a file
// (read through a buffered file, as the program reads its media), reads all
// of their sample data in uneven pieces, and checks the two agree.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sound/riff_wave_file.h"

namespace {

struct Outcome {
    bool opened = false;
    DWORD dataSize = 0;
    std::vector<BYTE> format;
    std::vector<BYTE> samples;
};

Outcome ReadAll(const char* name, size_t inputSize) {
    Outcome o;
    RiffWaveFile wave;
    if (FAILED(wave.OpenWave(name, nullptr, RiffWaveFile::kRead))) return o;
    o.opened = true;
    o.dataSize = wave.GetDataSize();
    // A successful open promises this much data.
    if (o.dataSize > inputSize) __builtin_trap();
    if (wave.format->nChannels == 0 || wave.format->nBlockAlign == 0) __builtin_trap();
    const BYTE* f = reinterpret_cast<const BYTE*>(wave.format);
    o.format.assign(f, f + sizeof(WAVEFORMATEX) + wave.format->cbSize);
    std::vector<BYTE> out(4099);
    DWORD got = 0, step = 1;
    while (SUCCEEDED(wave.ReadSamples(out.data(), step, &got)) && got > 0) {
        o.samples.insert(o.samples.end(), out.begin(), out.begin() + got);
        step = step * 3 % 4099 + 1;
    }
    if (o.samples.size() != o.dataSize) __builtin_trap();
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The name is no file in the working directory, so the resource is used.
    static const char kName[] = "vintrel-fuzz-wave-input";
    ClearResourcesForTesting();
    ResourceRecord record{"WAVE", kName, data, DWORD(size)};
    RegisterResources(&record, 1);
    const Outcome fromMemory = ReadAll(kName, size);
    ClearResourcesForTesting();

    const int fd = memfd_create("vintrel-fuzz-wave", 0);
    if (fd < 0) return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n <= 0) break;
        written += size_t(n);
    }
    if (written == size) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        const Outcome fromFile = ReadAll(path, size);
        Outcome compared = fromMemory;
        if (fromFile.opened && !fromMemory.opened) {
            // The one difference the two allow: a disk file may be seeked
            // past its end and memory may not, so an odd-sized chunk at the
            // very end without its pad byte is stepped over only on disk.
            // With the pad byte the memory read must agree.
            std::vector<uint8_t> padded(data, data + size);
            padded.push_back(0);
            ClearResourcesForTesting();
            ResourceRecord withPad{"WAVE", kName, padded.data(), DWORD(padded.size())};
            RegisterResources(&withPad, 1);
            compared = ReadAll(kName, padded.size());
            ClearResourcesForTesting();
        }
        if (fromFile.opened != compared.opened || fromFile.dataSize != compared.dataSize ||
            fromFile.format != compared.format || fromFile.samples != compared.samples)
            __builtin_trap();
    }
    close(fd);
    return 0;
}
