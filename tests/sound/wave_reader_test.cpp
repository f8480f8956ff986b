#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "sound/riff_wave_file.h"
#include "tests/sound/wave_bytes.h"

using namespace wavetest;
namespace fs = std::filesystem;

namespace {
fs::path TempDir() {
    static fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("vintrel-wave-" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

std::string WriteTemp(const std::string& name, const Bytes& bytes) {
    fs::path p = TempDir() / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             std::streamsize(bytes.size()));
    return p.string();
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Reads all sample data in pieces of `piece` bytes.
Bytes ReadAll(RiffWaveFile& wave, DWORD piece = 4096) {
    Bytes out, buffer(piece);
    for (;;) {
        DWORD got = 0;
        EXPECT_EQ(wave.ReadSamples(buffer.data(), piece, &got), S_OK);
        if (got == 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    return out;
}

HRESULT OpenBytes(RiffWaveFile& wave, const Bytes& bytes, const char* name = "case.wav") {
    return wave.OpenWave(WriteTemp(name, bytes).c_str(), nullptr, RiffWaveFile::kRead);
}

class ResourceScope {
public:
    ResourceScope() { ClearResourcesForTesting(); }
    ~ResourceScope() { ClearResourcesForTesting(); }
};

uint32_t Le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
}  // namespace

TEST(WaveReader, FormatChunkLayouts) {
    const Bytes data = Ramp(10);
    {
        // An old 14-byte format without bits per sample.
        Bytes fmt14 = Fmt(1, 1, 8000, 8);
        fmt14.resize(14);
        RiffWaveFile wave;
        EXPECT_EQ(OpenBytes(wave, Riff({Chunk("fmt ", fmt14), Chunk("data", data)})), E_FAIL);
        EXPECT_EQ(wave.format, nullptr);
    }
    {
        // PCM with a longer chunk: the extra bytes are skipped.
        Bytes fmt = Fmt(1, 2, 44100, 16);
        fmt.insert(fmt.end(), {0x55, 0x55, 0x66, 0x66});
        RiffWaveFile wave;
        ASSERT_EQ(OpenBytes(wave, Riff({Chunk("fmt ", fmt), Chunk("data", data)})), S_OK);
        EXPECT_EQ(wave.format->wFormatTag, 1);
        EXPECT_EQ(wave.format->nChannels, 2);
        EXPECT_EQ(wave.format->nSamplesPerSec, 44100u);
        EXPECT_EQ(wave.format->nAvgBytesPerSec, 176400u);
        EXPECT_EQ(wave.format->nBlockAlign, 4);
        EXPECT_EQ(wave.format->wBitsPerSample, 16);
        EXPECT_EQ(wave.format->cbSize, 0);
        EXPECT_EQ(wave.GetDataSize(), 10u);
        EXPECT_EQ(ReadAll(wave), data);
    }
    {
        // A non-PCM format with two extra bytes: a 20-byte format block.
        Bytes extra = {0xAB, 0xCD};
        RiffWaveFile wave;
        ASSERT_EQ(OpenBytes(wave, Riff({Chunk("fmt ", Fmt(2, 1, 22050, 4, &extra)),
                                        Chunk("data", data)})),
                  S_OK);
        EXPECT_EQ(wave.format->wFormatTag, 2);
        EXPECT_EQ(wave.format->cbSize, 2);
        const BYTE* after = reinterpret_cast<const BYTE*>(wave.format) + 18;
        EXPECT_EQ(after[0], 0xAB);
        EXPECT_EQ(after[1], 0xCD);
    }
    {
        // A non-PCM chunk of only 16 bytes has no extra bytes; the next
        // chunk's header is not read as a count.
        RiffWaveFile wave;
        ASSERT_EQ(OpenBytes(wave, Riff({Chunk("fmt ", Fmt(3, 1, 8000, 32)), Chunk("data", data)})),
                  S_OK);
        EXPECT_EQ(wave.format->wFormatTag, 3);
        EXPECT_EQ(wave.format->cbSize, 0);
        EXPECT_EQ(ReadAll(wave), data);
    }
    {
        // A count of extra bytes the chunk does not hold.
        Bytes fmt = Fmt(2, 1, 8000, 4);
        Put16(fmt, 40);
        fmt.insert(fmt.end(), 4, 0);
        RiffWaveFile wave;
        EXPECT_EQ(OpenBytes(wave, Riff({Chunk("fmt ", fmt), Chunk("data", data)})), E_FAIL);
    }
}

TEST(WaveReader, ChunkSearchSkipsOtherChunks) {
    const Bytes data = Ramp(33, 5);
    Bytes list;
    PutId(list, "INFO");
    list.insert(list.end(), {'I', 'S', 'F', 'T', 3, 0, 0, 0, 'a', 'b', 0, 0});
    Bytes fact;
    Put32(fact, 99);
    {
        RiffWaveFile wave;
        ASSERT_EQ(OpenBytes(wave, Riff({Chunk("JUNK", Ramp(7)), Chunk("fmt ", Fmt(1, 1, 8000, 8)),
                                        Chunk("fact", fact), Chunk("LIST", list),
                                        Chunk("data", data), Chunk("id3 ", Ramp(9))})),
                  S_OK);
        EXPECT_EQ(wave.GetDataSize(), 33u);
        EXPECT_EQ(ReadAll(wave, 5), data);
    }
    {
        // The data chunk may come before the format.
        RiffWaveFile wave;
        ASSERT_EQ(OpenBytes(wave, Riff({Chunk("data", data), Chunk("fmt ", Fmt(1, 1, 8000, 8))})),
                  S_OK);
        EXPECT_EQ(ReadAll(wave), data);
    }
}

TEST(WaveReader, ReadsStopAtTheEndOfTheData) {
    const Bytes data = Ramp(20000, 1);  // more than one multimedia buffer
    RiffWaveFile wave;
    ASSERT_EQ(OpenBytes(wave, Riff({Chunk("fmt ", Fmt(1, 1, 8000, 8)), Chunk("data", data),
                                    Chunk("LIST", Ramp(100))})),
              S_OK);
    Bytes got(30000, 0xEE);
    DWORD n = 0;
    ASSERT_EQ(wave.ReadSamples(got.data(), 12345, &n), S_OK);
    EXPECT_EQ(n, 12345u);
    ASSERT_EQ(wave.ReadSamples(got.data() + n, 30000, &n), S_OK);
    EXPECT_EQ(n, 20000u - 12345u);  // only what remains
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 20000), data);
    EXPECT_EQ(got[20000], 0xEE);  // nothing past the data was copied
    ASSERT_EQ(wave.ReadSamples(got.data(), 10, &n), S_OK);
    EXPECT_EQ(n, 0u);

    // SeekToData starts over.
    ASSERT_EQ(wave.SeekToData(), S_OK);
    EXPECT_EQ(ReadAll(wave, 777), data);
}

TEST(WaveReader, ArgumentsAndState) {
    RiffWaveFile wave;
    BYTE byte;
    DWORD n = 1;
    EXPECT_EQ(wave.OpenWave(nullptr, nullptr, RiffWaveFile::kRead), E_INVALIDARG);
    EXPECT_EQ(wave.ReadSamples(&byte, 1, &n), CO_E_NOTINITIALIZED);
    EXPECT_EQ(wave.SeekToData(), CO_E_NOTINITIALIZED);
    EXPECT_EQ(wave.CloseWave(), S_OK);
    ASSERT_EQ(OpenBytes(wave, Pcm16(1, 8000, {1, 2, 3})), S_OK);
    EXPECT_EQ(wave.ReadSamples(nullptr, 1, &n), E_INVALIDARG);
    EXPECT_EQ(wave.ReadSamples(&byte, 1, nullptr), E_INVALIDARG);
    // Opening again replaces the first file.
    ASSERT_EQ(OpenBytes(wave, Pcm16(2, 11025, {4, 5, 6, 7}), "second.wav"), S_OK);
    EXPECT_EQ(wave.format->nChannels, 2);
    EXPECT_EQ(wave.GetDataSize(), 8u);
    EXPECT_EQ(wave.CloseWave(), S_OK);
    EXPECT_EQ(wave.mmioHandle, nullptr);
}

TEST(WaveReader, HostileSizesFail) {
    const Bytes fmt = Fmt(1, 1, 8000, 16);
    auto fails = [](const Bytes& bytes) {
        RiffWaveFile wave;
        return OpenBytes(wave, bytes) == E_FAIL && wave.format == nullptr &&
               wave.mmioHandle == nullptr;
    };
    // A data chunk larger than the file.
    EXPECT_TRUE(fails(Riff({Chunk("fmt ", fmt), Chunk("data", Ramp(8), 1000)})));
    EXPECT_TRUE(fails(Riff({Chunk("fmt ", fmt), Chunk("data", Ramp(8), 0xFFFFFFFF)})));
    // A format chunk claiming 4 GiB, or just more than the file, after the data too.
    EXPECT_TRUE(fails(Riff({Chunk("fmt ", fmt, 0xFFFFFFFF), Chunk("data", Ramp(8))})));
    EXPECT_TRUE(fails(Riff({Chunk("data", Ramp(8)), Chunk("fmt ", fmt, 17)})));
    // A chunk before the format running past the file.
    EXPECT_TRUE(fails(Riff({Chunk("JUNK", Ramp(4), 0x7FFFFFF0), Chunk("fmt ", fmt),
                            Chunk("data", Ramp(8))})));
    // Zero channels, zero block align.
    Bytes noChannels = fmt;
    noChannels[2] = noChannels[3] = 0;
    EXPECT_TRUE(fails(Riff({Chunk("fmt ", noChannels), Chunk("data", Ramp(8))})));
    Bytes noAlign = fmt;
    noAlign[12] = noAlign[13] = 0;
    EXPECT_TRUE(fails(Riff({Chunk("fmt ", noAlign), Chunk("data", Ramp(8))})));
    // Not a RIFF WAVE, no format, no data.
    Bytes avi = Riff({Chunk("fmt ", fmt), Chunk("data", Ramp(8))});
    std::memcpy(&avi[8], "AVI ", 4);
    EXPECT_TRUE(fails(avi));
    EXPECT_TRUE(fails(Riff({Chunk("data", Ramp(8))})));
    EXPECT_TRUE(fails(Riff({Chunk("fmt ", fmt)})));
    EXPECT_TRUE(fails(Bytes{}));

    // The outer size may overstate the file (some writers leave it so) as
    // long as the data itself is there.
    RiffWaveFile wave;
    EXPECT_EQ(OpenBytes(wave, Riff({Chunk("fmt ", fmt), Chunk("data", Ramp(8))}, 100000)), S_OK);
    EXPECT_EQ(wave.GetDataSize(), 8u);
}

TEST(WaveReader, EveryPrefixOfAFileIsSafe) {
    Bytes extra = {1, 2, 3, 4};
    const Bytes full = Riff({Chunk("fmt ", Fmt(0x11, 2, 8000, 4, &extra)), Chunk("fact", Ramp(4)),
                             Chunk("data", Ramp(64))});
    ResourceScope resources;
    for (size_t n = 0; n <= full.size(); ++n) {
        // Each prefix in an allocation of exactly its size.
        std::unique_ptr<BYTE[]> exact(new BYTE[n ? n : 1]);
        std::memcpy(exact.get(), full.data(), n);
        ClearResourcesForTesting();
        ResourceRecord record{"WAVE", "PREFIX", exact.get(), DWORD(n)};
        RegisterResources(&record, 1);
        RiffWaveFile wave;
        HRESULT hr = wave.OpenWave("PREFIX", nullptr, RiffWaveFile::kRead);
        if (n == full.size()) {
            ASSERT_EQ(hr, S_OK);
            EXPECT_EQ(ReadAll(wave, 9), Ramp(64));
        } else {
            EXPECT_EQ(hr, E_FAIL) << "prefix of " << n << " bytes";
        }
    }
}

TEST(WaveReader, ResourcesAreFoundAsWaveThenWav) {
    ResourceScope resources;
    const Bytes asWave = Pcm16(1, 8000, {1, 1, 1, 1});
    const Bytes asWav = Pcm16(1, 8000, {2, 2});
    const Bytes onlyWav = Pcm16(2, 22050, {3, 3, 3, 3, 3, 3});
    ResourceRecord records[] = {
        {"WAV", "BOTH", asWav.data(), DWORD(asWav.size())},
        {"WAVE", "BOTH", asWave.data(), DWORD(asWave.size())},
        {"WAV", "ONLYWAV", onlyWav.data(), DWORD(onlyWav.size())},
        {"WAVE", "EMPTY", asWave.data(), 0},
    };
    RegisterResources(records, 4);
    {
        RiffWaveFile wave;
        ASSERT_EQ(wave.OpenWave("BOTH", nullptr, RiffWaveFile::kRead), S_OK);
        EXPECT_EQ(wave.GetDataSize(), 8u);  // the "WAVE" one
        EXPECT_NE(wave.resourceCopy, nullptr);
    }
    {
        RiffWaveFile wave;
        ASSERT_EQ(wave.OpenWave("onlywav", nullptr, RiffWaveFile::kRead), S_OK);
        EXPECT_EQ(wave.format->nChannels, 2);
        EXPECT_EQ(wave.GetDataSize(), 12u);
        // A private copy: the resource's own bytes are not read afterwards.
        EXPECT_NE(wave.resourceCopy, onlyWav.data());
        EXPECT_EQ(wave.CloseWave(), S_OK);
        EXPECT_EQ(wave.resourceCopy, nullptr);
    }
    {
        RiffWaveFile wave;
        EXPECT_EQ(wave.OpenWave("EMPTY", nullptr, RiffWaveFile::kRead), E_FAIL);
        EXPECT_EQ(wave.OpenWave("NOWHERE", nullptr, RiffWaveFile::kRead), E_FAIL);
    }
    {
        // A file of the same name comes first.
        std::string path = WriteTemp("BOTH", onlyWav);
        RiffWaveFile wave;
        ASSERT_EQ(wave.OpenWave(path.c_str(), nullptr, RiffWaveFile::kRead), S_OK);
        EXPECT_EQ(wave.resourceCopy, nullptr);
        EXPECT_EQ(wave.GetDataSize(), 12u);
    }
}

TEST(WaveReader, WriteModeRoundTrip) {
    WAVEFORMATEX pcm{1, 2, 22050, 88200, 4, 16, 0};
    // Odd-sized data over several calls and more than one buffer.
    Bytes data = Ramp(20001, 3);
    std::string path = (TempDir() / "written.wav").string();
    {
        RiffWaveFile wave;
        ASSERT_EQ(wave.OpenWave(path.c_str(), &pcm, RiffWaveFile::kWrite), S_OK);
        DWORD n = 0;
        ASSERT_EQ(wave.WriteSamples(data.data(), 1, &n), S_OK);
        ASSERT_EQ(wave.WriteSamples(data.data() + 1, 15000, &n), S_OK);
        ASSERT_EQ(wave.WriteSamples(data.data() + 15001, 5000, &n), S_OK);
        EXPECT_EQ(n, 5000u);
        ASSERT_EQ(wave.CloseWave(), S_OK);
        EXPECT_EQ(wave.CloseWave(), CO_E_NOTINITIALIZED);
    }
    Bytes file = ReadFile(path);
    // RIFF(WAVE) fmt(16) fact(4) data(20001) + pad.
    ASSERT_EQ(file.size(), 12u + 24 + 12 + 8 + 20001 + 1);
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    EXPECT_EQ(std::memcmp(&file[12], "fmt ", 4), 0);
    EXPECT_EQ(Le32(file, 16), 16u);
    EXPECT_EQ(std::memcmp(&file[36], "fact", 4), 0);
    EXPECT_EQ(Le32(file, 40), 4u);
    EXPECT_EQ(Le32(file, 44), 0u);  // the count, settled at close
    EXPECT_EQ(std::memcmp(&file[48], "data", 4), 0);
    EXPECT_EQ(Le32(file, 52), 20001u);
    EXPECT_EQ(file.back(), 0);

    RiffWaveFile wave;
    ASSERT_EQ(wave.OpenWave(path.c_str(), nullptr, RiffWaveFile::kRead), S_OK);
    EXPECT_EQ(std::memcmp(wave.format, &pcm, sizeof pcm), 0);
    EXPECT_EQ(ReadAll(wave, 3000), data);

    // A format with extra bytes keeps them.
    Bytes block(18 + 22);
    WAVEFORMATEX ext{0xFFFE, 1, 48000, 96000, 2, 16, 22};
    std::memcpy(block.data(), &ext, 18);
    for (int i = 0; i < 22; ++i) block[18 + i] = BYTE(i * 11);
    std::string path2 = (TempDir() / "written2.wav").string();
    {
        RiffWaveFile writer;
        ASSERT_EQ(writer.OpenWave(path2.c_str(), reinterpret_cast<WAVEFORMATEX*>(block.data()),
                                  RiffWaveFile::kWrite),
                  S_OK);
        DWORD n = 0;
        ASSERT_EQ(writer.WriteSamples(data.data(), 100, &n), S_OK);
        // Destruction completes the file.
    }
    RiffWaveFile reader;
    ASSERT_EQ(reader.OpenWave(path2.c_str(), nullptr, RiffWaveFile::kRead), S_OK);
    ASSERT_EQ(reader.format->cbSize, 22);
    EXPECT_EQ(std::memcmp(reader.format, block.data(), block.size()), 0);
    EXPECT_EQ(ReadAll(reader), Bytes(data.begin(), data.begin() + 100));

    RiffWaveFile bad;
    EXPECT_EQ(bad.OpenWave(path.c_str(), nullptr, RiffWaveFile::kWrite), E_INVALIDARG);
    EXPECT_EQ(bad.OpenWave((TempDir() / "no/such/dir.wav").c_str(), &pcm, RiffWaveFile::kWrite),
              E_FAIL);
}

struct CorpusCase {
    const char* file;
    HRESULT result;
    WORD tag = 0, channels = 0;
    DWORD rate = 0;
    WORD bits = 0, cbSize = 0;
    DWORD dataSize = 0;
};

TEST(WaveReader, RealFiles) {
    const std::string root = std::string(VINTREL_CORPUS_DIR) + "/wav/";
    if (!fs::exists(root)) GTEST_SKIP() << "no corpus at " << root;
    const CorpusCase cases[] = {
        {"go-audio/kick.wav", S_OK, 1, 1, 22050, 16, 0, 8968},
        {"go-audio/8bit.wav", S_OK, 1, 1, 44100, 8, 0, 88200},
        {"go-audio/bwf.wav", S_OK, 1, 1, 44100, 24, 0, 21861},
        {"go-audio/listChunkInHeader.wav", S_OK, 1, 2, 44100, 24, 0, 91908},
        {"go-audio/dirty-kick-24b441k.wav", S_OK, 1, 2, 44100, 24, 0, 128040},
        {"go-audio/flloop.wav", S_OK, 1, 2, 44100, 16, 0, 433124},
        {"hound/nonstandard-01.wav", S_OK, 1, 2, 48000, 24, 0, 6},
        {"hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav", S_OK, 1, 1, 44100, 16, 0, 8},
        {"hound/waveformatex-8bit-11025Hz-mono.wav", S_OK, 1, 1, 11025, 8, 0, 4},
        {"hound/waveformatex-ieeefloat-44100Hz-mono.wav", S_OK, 3, 1, 44100, 32, 0, 16},
        {"hound/waveformatextensible-24bit-192kHz-mono.wav", S_OK, 0xFFFE, 1, 192000, 24, 22, 12},
        {"hound/waveformatextensible-ieeefloat-44100Hz-mono.wav", S_OK, 0xFFFE, 1, 44100, 32, 22,
         16},
        {"scipy/test-8000Hz-le-1ch-1byte-ulaw.wav", S_OK, 7, 1, 8000, 8, 0, 9},
        {"scipy/test-44100Hz-le-1ch-4bytes-early-eof.wav", E_FAIL},
        {"scipy/test-44100Hz-le-1ch-4bytes-incomplete-chunk.wav", E_FAIL},
        {"scipy/test-44100Hz-le-1ch-4bytes-rf64.wav", E_FAIL},
        {"scipy/test-8000Hz-be-3ch-5S-24bit.wav", E_FAIL},
        {"hound/bad/crash-24728523ef4be15c838293b676f6853e73723bf4.wav", E_FAIL},
        {"hound/bad/crash-e879de4eb4d206c59e21f0e01def16457af80fdc.wav", E_FAIL},
        {"hound/bad/oom-48ae4cd061ff8578ad3f23dc87624bd365cf5216.wav", E_FAIL},
    };
    for (const CorpusCase& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = root + c.file;
        RiffWaveFile wave;
        ASSERT_EQ(wave.OpenWave(path.c_str(), nullptr, RiffWaveFile::kRead), c.result);
        if (c.result != S_OK) continue;
        EXPECT_EQ(wave.format->wFormatTag, c.tag);
        EXPECT_EQ(wave.format->nChannels, c.channels);
        EXPECT_EQ(wave.format->nSamplesPerSec, c.rate);
        EXPECT_EQ(wave.format->wBitsPerSample, c.bits);
        EXPECT_EQ(wave.format->cbSize, c.cbSize);
        EXPECT_EQ(wave.GetDataSize(), c.dataSize);
        EXPECT_EQ(ReadAll(wave, 1000).size(), c.dataSize);
    }
}
