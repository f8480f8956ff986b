// vintrel-wavinfo FILE.wav: the format and data size of a wave file, read
// the way the program reads its sounds (a name that is not a file is looked
// up among the program's wave resources).
#include <cstdio>
#include <cstring>

#include "platform/win32/whole_file.h"
#include "sound/riff_wave_file.h"

namespace {
const char kUsage[] =
    "usage: vintrel-wavinfo FILE.wav\n"
    "Reads a RIFF WAVE file (or a wave resource of the program by that name)\n"
    "and prints one line:\n"
    "  format=<tag> channels=<n> rate=<hz> bytespersec=<n> blockalign=<n> bits=<n>\n"
    "  cbsize=<extra format bytes> datasize=<bytes of sample data>\n"
    "or, when it cannot be read, `error=0x<result code> <reason>` with status 1.\n";

const char* Reason(HRESULT hr) {
    switch (hr) {
        case E_INVALIDARG: return "invalid argument";
        case E_FAIL: return "not a readable RIFF WAVE file or wave resource";
        case CO_E_NOTINITIALIZED: return "no file open";
        default: return "cannot read the wave";
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    RiffWaveFile wave;
    HRESULT hr = wave.OpenWave(argv[1], nullptr, RiffWaveFile::kRead);
    if (FAILED(hr)) {
        std::printf("error=0x%08X %s\n", unsigned(hr), Reason(hr));
        return 1;
    }
    const WAVEFORMATEX& f = *wave.format;
    std::printf("format=%u channels=%u rate=%u bytespersec=%u blockalign=%u bits=%u cbsize=%u "
                "datasize=%u\n",
                f.wFormatTag, f.nChannels, f.nSamplesPerSec, f.nAvgBytesPerSec, f.nBlockAlign,
                f.wBitsPerSample, f.cbSize, wave.GetDataSize());
    return FlushStdout("vintrel-wavinfo") ? 0 : 1;
}
