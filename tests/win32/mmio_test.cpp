// Buffered multimedia file I/O and RIFF chunk navigation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/windows.h"

namespace fs = std::filesystem;

namespace {
std::string TempPath(const char* name) {
    fs::path dir = fs::temp_directory_path() / ("vintrel-mmio-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return (dir / name).string();
}

std::vector<char> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<char> Pattern(size_t n) {
    std::vector<char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = char(i * 31 + 7);
    return v;
}

HMMIO OpenFile(const std::string& path, DWORD flags, LONG buffer = 0) {
    MMIOINFO info{};
    info.cchBuffer = buffer;
    return mmioOpenA(const_cast<LPSTR>(path.c_str()), buffer ? &info : nullptr, flags);
}
}  // namespace

TEST(Mmio, OpenFailuresAreReported) {
    MMIOINFO info{};
    EXPECT_EQ(mmioOpenA(const_cast<LPSTR>("/no/such/file.wav"), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    info = {};
    EXPECT_EQ(mmioOpenA(const_cast<LPSTR>(fs::temp_directory_path().c_str()), &info, MMIO_READ),
              nullptr);  // a folder is not a file
    EXPECT_EQ(info.wErrorRet, MMIOERR_CANNOTOPEN);
}

TEST(Mmio, BufferedReadsSeeksAndWrites) {
    const std::vector<char> data = Pattern(1000);
    std::string path = TempPath("plain.bin");
    std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));

    // A 64-byte buffer: every read below crosses buffer refills.
    HMMIO f = OpenFile(path, MMIO_READWRITE, 64);
    ASSERT_NE(f, nullptr);
    std::vector<char> got(300);
    EXPECT_EQ(mmioRead(f, got.data(), 150), 150);
    EXPECT_EQ(std::memcmp(got.data(), data.data(), 150), 0);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_CUR), 150);
    EXPECT_EQ(mmioSeek(f, -100, SEEK_CUR), 50);  // back inside the buffered part or not
    EXPECT_EQ(mmioRead(f, got.data(), 300), 300);
    EXPECT_EQ(std::memcmp(got.data(), data.data() + 50, 300), 0);
    EXPECT_EQ(mmioSeek(f, -10, SEEK_END), 990);
    EXPECT_EQ(mmioRead(f, got.data(), 300), 10);  // only what is left
    EXPECT_EQ(mmioRead(f, got.data(), 300), 0);
    EXPECT_EQ(mmioSeek(f, -1, SEEK_SET), -1);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_CUR), 1000);

    // Overwrite across two buffers and append past the end, then read back
    // before and after closing.
    const char patch[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!!!!";
    EXPECT_EQ(mmioSeek(f, 40, SEEK_SET), 40);
    EXPECT_EQ(mmioWrite(f, patch, 66), 66);
    EXPECT_EQ(mmioSeek(f, 995, SEEK_SET), 995);
    EXPECT_EQ(mmioWrite(f, patch, 20), 20);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_END), 1015);
    EXPECT_EQ(mmioSeek(f, 30, SEEK_SET), 30);
    EXPECT_EQ(mmioRead(f, got.data(), 90), 90);
    std::vector<char> want(data.begin() + 30, data.begin() + 120);
    std::memcpy(want.data() + 10, patch, 66);
    EXPECT_EQ(std::vector<char>(got.begin(), got.begin() + 90), want);
    EXPECT_EQ(mmioClose(f, 0), MMSYSERR_NOERROR);

    std::vector<char> file = Slurp(path);
    ASSERT_EQ(file.size(), 1015u);
    std::vector<char> expected = data;
    expected.resize(1015);
    std::memcpy(expected.data() + 40, patch, 66);
    std::memcpy(expected.data() + 995, patch, 20);
    EXPECT_EQ(file, expected);

    // A read-only file refuses writes; an unbuffered one reads the same.
    f = OpenFile(path, MMIO_READ);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(mmioWrite(f, patch, 4), -1);
    MMIOINFO info{};
    ASSERT_EQ(mmioGetInfo(f, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(info.pchBuffer, nullptr);
    EXPECT_EQ(mmioAdvance(f, &info, MMIO_READ), MMIOERR_UNBUFFERED);
    EXPECT_EQ(mmioSeek(f, 990, SEEK_SET), 990);
    EXPECT_EQ(mmioRead(f, got.data(), 100), 25);
    EXPECT_EQ(std::memcmp(got.data(), expected.data() + 990, 25), 0);
    mmioClose(f, 0);
}

TEST(Mmio, DirectBufferAccess) {
    const std::vector<char> data = Pattern(5000);
    std::string path = TempPath("direct.bin");
    std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));

    // Reading through the buffer with mmioAdvance.
    HMMIO f = OpenFile(path, MMIO_READ | MMIO_ALLOCBUF, 1000);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(mmioSeek(f, 123, SEEK_SET), 123);
    MMIOINFO info{};
    ASSERT_EQ(mmioGetInfo(f, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(info.cchBuffer, 1000);
    std::vector<char> got;
    while (got.size() < 4877) {
        if (info.pchNext == info.pchEndRead) {
            ASSERT_EQ(mmioAdvance(f, &info, MMIO_READ), MMSYSERR_NOERROR);
            ASSERT_NE(info.pchNext, info.pchEndRead) << "after " << got.size();
            EXPECT_EQ(info.lBufOffset, LONG(123 + got.size()));
        }
        got.push_back(*info.pchNext++);
    }
    EXPECT_EQ(got, std::vector<char>(data.begin() + 123, data.end()));
    // At the end the advance succeeds with an empty buffer.
    ASSERT_EQ(mmioAdvance(f, &info, MMIO_READ), MMSYSERR_NOERROR);
    EXPECT_EQ(info.pchNext, info.pchEndRead);
    ASSERT_EQ(mmioSetInfo(f, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_CUR), 5000);
    // Handing back a pointer outside the buffer is refused.
    info.pchNext = info.pchBuffer + 5000;
    EXPECT_EQ(mmioSetInfo(f, &info, 0), MMSYSERR_INVALPARAM);
    mmioClose(f, 0);

    // Writing through the buffer: MMIO_DIRTY and mmioAdvance(MMIO_WRITE).
    std::string out = TempPath("direct-out.bin");
    f = OpenFile(out, MMIO_READWRITE | MMIO_CREATE | MMIO_ALLOCBUF, 700);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(mmioWrite(f, "head", 4), 4);
    ASSERT_EQ(mmioGetInfo(f, &info, 0), MMSYSERR_NOERROR);
    for (char c : data) {
        if (info.pchNext == info.pchEndWrite) {
            info.dwFlags |= MMIO_DIRTY;
            ASSERT_EQ(mmioAdvance(f, &info, MMIO_WRITE), MMSYSERR_NOERROR);
        }
        *info.pchNext++ = c;
        info.dwFlags |= MMIO_DIRTY;
    }
    ASSERT_EQ(mmioSetInfo(f, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_CUR), 5004);
    ASSERT_EQ(mmioClose(f, 0), MMSYSERR_NOERROR);
    std::vector<char> file = Slurp(out);
    ASSERT_EQ(file.size(), 5004u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "head");
    EXPECT_EQ(std::vector<char>(file.begin() + 4, file.end()), data);
}

TEST(Mmio, MemoryFiles) {
    std::vector<char> block = Pattern(100);
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.cchBuffer = 100;
    info.pchBuffer = block.data();
    HMMIO f = mmioOpenA(nullptr, &info, MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.hmmio, f);
    MMIOINFO state{};
    ASSERT_EQ(mmioGetInfo(f, &state, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(state.pchBuffer, block.data());  // the caller's memory is the file
    EXPECT_EQ(state.pchEndRead, block.data() + 100);
    char got[200];
    EXPECT_EQ(mmioSeek(f, 90, SEEK_SET), 90);
    EXPECT_EQ(mmioRead(f, got, 50), 10);
    EXPECT_EQ(mmioSeek(f, 101, SEEK_SET), -1);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_END), 100);
    // A fixed-size memory file does not grow.
    EXPECT_EQ(mmioWrite(f, "x", 1), -1);
    ASSERT_EQ(mmioGetInfo(f, &state, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioAdvance(f, &state, MMIO_WRITE), MMIOERR_CANNOTEXPAND);
    EXPECT_EQ(mmioAdvance(f, &state, MMIO_READ), MMSYSERR_NOERROR);
    EXPECT_EQ(state.pchNext, state.pchEndRead);  // nothing more to read
    ASSERT_EQ(mmioSetInfo(f, &state, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(f, 3, SEEK_SET), 3);
    EXPECT_EQ(mmioWrite(f, "QQ", 2), 2);
    EXPECT_EQ(block[3], 'Q');
    mmioClose(f, 0);

    // An owned, expandable one grows by its step.
    info = {};
    info.fccIOProc = FOURCC_MEM;
    info.adwInfo[0] = 64;
    f = mmioOpenA(nullptr, &info, MMIO_READWRITE | MMIO_CREATE | MMIO_ALLOCBUF);
    ASSERT_NE(f, nullptr);
    std::vector<char> data = Pattern(150);
    EXPECT_EQ(mmioWrite(f, data.data(), 150), 150);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_END), 192);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_SET), 0);
    EXPECT_EQ(mmioRead(f, got, 150), 150);
    EXPECT_EQ(std::memcmp(got, data.data(), 150), 0);
    mmioClose(f, 0);
}

TEST(Mmio, ChunksAreCreatedAndFound) {
    std::string path = TempPath("chunks.riff");
    HMMIO f = OpenFile(path, MMIO_READWRITE | MMIO_CREATE | MMIO_ALLOCBUF, 16);
    ASSERT_NE(f, nullptr);
    MMCKINFO riff{}, list{}, a{}, b{};
    riff.fccType = mmioFOURCC('T', 'E', 'S', 'T');
    ASSERT_EQ(mmioCreateChunk(f, &riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.ckid, FOURCC_RIFF);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    a.ckid = mmioFOURCC('a', 'a', 'a', 'a');
    ASSERT_EQ(mmioCreateChunk(f, &a, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(f, "12345", 5), 5);  // odd: padded on ascend
    ASSERT_EQ(mmioAscend(f, &a, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(a.cksize, 5u);
    list.fccType = mmioFOURCC('I', 'N', 'F', 'O');
    ASSERT_EQ(mmioCreateChunk(f, &list, MMIO_CREATELIST), MMSYSERR_NOERROR);
    b.ckid = mmioFOURCC('b', 'b', 'b', 'b');
    b.cksize = 4;  // declared right: not rewritten
    ASSERT_EQ(mmioCreateChunk(f, &b, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(f, "wxyz", 4), 4);
    ASSERT_EQ(mmioAscend(f, &b, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(f, &list, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(f, &riff, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.cksize, 4u + 14 + 24);
    ASSERT_EQ(mmioClose(f, 0), MMSYSERR_NOERROR);

    std::vector<char> file = Slurp(path);
    const char expected[] =
        "RIFF\x2A\0\0\0TEST"
        "aaaa\5\0\0\0"
        "12345\0"
        "LIST\x10\0\0\0INFO"
        "bbbb\4\0\0\0wxyz";
    ASSERT_EQ(file.size(), sizeof expected - 1);
    EXPECT_EQ(std::memcmp(file.data(), expected, file.size()), 0);

    // Finding them again.
    f = OpenFile(path, MMIO_READ | MMIO_ALLOCBUF, 16);
    ASSERT_NE(f, nullptr);
    MMCKINFO found{};
    found.fccType = mmioFOURCC('T', 'E', 'S', 'T');
    ASSERT_EQ(mmioDescend(f, &found, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(found.cksize, 42u);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_CUR), 12);
    MMCKINFO inner{};
    inner.fccType = mmioFOURCC('I', 'N', 'F', 'O');
    ASSERT_EQ(mmioDescend(f, &inner, &found, MMIO_FINDLIST), MMSYSERR_NOERROR);
    EXPECT_EQ(inner.dwDataOffset, 34u);
    MMCKINFO leaf{};
    leaf.ckid = mmioFOURCC('b', 'b', 'b', 'b');
    ASSERT_EQ(mmioDescend(f, &leaf, &inner, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    char text[4];
    ASSERT_EQ(mmioRead(f, text, 4), 4);
    EXPECT_EQ(std::memcmp(text, "wxyz", 4), 0);
    // Searching from there for the first chunk fails: it lies behind.
    ASSERT_EQ(mmioAscend(f, &leaf, 0), MMSYSERR_NOERROR);
    MMCKINFO missing{};
    missing.ckid = mmioFOURCC('a', 'a', 'a', 'a');
    EXPECT_EQ(mmioDescend(f, &missing, &found, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    // From the start it is found, past its pad byte for the next one.
    ASSERT_EQ(mmioSeek(f, 12, SEEK_SET), 12);
    ASSERT_EQ(mmioDescend(f, &missing, &found, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(missing.cksize, 5u);
    ASSERT_EQ(mmioAscend(f, &missing, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(f, 0, SEEK_CUR), 26);
    mmioClose(f, 0);

    // A chunk size that points past what a position can hold: 20 + 0xFFFFFFF8
    // is 12 past 2^32, so a position kept in 32 bits would come back to the
    // same chunk and search for ever. In memory, on disk through a buffer
    // and on disk without one.
    std::vector<char> huge = {'R', 'I', 'F', 'F', 0x20, 0, 0, 0, 'W', 'A', 'V', 'E',
                              'j', 'u', 'n', 'k', char(0xF8), char(0xFF), char(0xFF), char(0xFF)};
    huge.resize(40);
    const std::string hugePath = TempPath("huge.wav");
    std::ofstream(hugePath, std::ios::binary).write(huge.data(), std::streamsize(huge.size()));
    MMIOINFO mem{};
    mem.fccIOProc = FOURCC_MEM;
    mem.cchBuffer = LONG(huge.size());
    mem.pchBuffer = huge.data();
    const HMMIO opened[] = {mmioOpenA(nullptr, &mem, MMIO_READ), OpenFile(hugePath, MMIO_READ | MMIO_ALLOCBUF),
                            OpenFile(hugePath, MMIO_READ)};
    for (HMMIO h : opened) {
        ASSERT_NE(h, nullptr);
        MMCKINFO outer{}, any{};
        ASSERT_EQ(mmioDescend(h, &outer, nullptr, 0), MMSYSERR_NOERROR);
        any.ckid = mmioFOURCC('d', 'a', 't', 'a');
        EXPECT_EQ(mmioDescend(h, &any, &outer, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
        MMCKINFO junk{};
        ASSERT_EQ(mmioSeek(h, 12, SEEK_SET), 12);
        ASSERT_EQ(mmioDescend(h, &junk, nullptr, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(mmioAscend(h, &junk, 0), MMIOERR_CANNOTSEEK);
        EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 20);  // left where it was
        mmioClose(h, 0);
    }
    // Seeks stop at the largest LONG.
    for (DWORD flags : {DWORD(MMIO_READ | MMIO_ALLOCBUF), DWORD(MMIO_READ)}) {
        f = OpenFile(hugePath, flags);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(mmioSeek(f, 0x7FFFFFF0, SEEK_SET), 0x7FFFFFF0);
        EXPECT_EQ(mmioSeek(f, 0x20, SEEK_CUR), -1);
        EXPECT_EQ(mmioSeek(f, 0xF, SEEK_CUR), 0x7FFFFFFF);
        mmioClose(f, 0);
    }

    EXPECT_EQ(mmioStringToFOURCCA("wav", MMIO_TOUPPER), mmioFOURCC('W', 'A', 'V', ' '));
}
