#include "sound/riff_wave_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

// Chunk headers and format records are little-endian on disk, as in memory here.
static_assert(std::endian::native == std::endian::little);

namespace {
constexpr FOURCC kWave = MAKEFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = MAKEFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = MAKEFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = MAKEFOURCC('f', 'a', 'c', 't');
}  // namespace

RiffWaveFile::~RiffWaveFile() {
    CloseWave();
    CloseHandleOnly();
    FreeFormat();
}

void RiffWaveFile::FreeFormat() {
    delete[] reinterpret_cast<BYTE*>(format);
    format = nullptr;
}

void RiffWaveFile::CloseHandleOnly() {
    if (mmioHandle) mmioClose(mmioHandle, 0);
    mmioHandle = nullptr;
    delete[] resourceCopy;
    resourceCopy = nullptr;
}

HRESULT RiffWaveFile::OpenWave(LPCSTR name, const WAVEFORMATEX* formatToWrite, DWORD openMode) {
    // A handle left open by an earlier OpenWave is not leaked.
    CloseHandleOnly();
    mode = openMode;
    if (mode == kRead) {
        if (!name) return E_INVALIDARG;
        FreeFormat();
        dataSize = 0;
        mmioHandle = mmioOpenA(const_cast<LPSTR>(name), nullptr, MMIO_ALLOCBUF | MMIO_READ);
        if (!mmioHandle) {
            HRESULT hr = OpenResource(name);
            if (FAILED(hr)) return hr;
        }
        HRESULT hr = ParseWaveHeader();
        if (FAILED(hr)) {
            CloseHandleOnly();
            return hr;
        }
        hr = SeekToData();
        if (FAILED(hr)) {
            // Nothing stays open after a failed open.
            CloseHandleOnly();
            FreeFormat();
            return hr;
        }
        dataSize = dataChunk.cksize;
        return hr;
    }

    if (!formatToWrite) return E_INVALIDARG;
    mmioHandle = mmioOpenA(const_cast<LPSTR>(name), nullptr,
                           MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE);
    if (!mmioHandle) return E_FAIL;
    HRESULT hr = WriteWaveHeader(formatToWrite);
    if (FAILED(hr)) {
        CloseHandleOnly();
        return hr;
    }
    return SeekToData();
}

// Looks the name up as a wave resource of the program and opens a private
// copy of it as a memory file.
HRESULT RiffWaveFile::OpenResource(LPCSTR name) {
    HRSRC info = FindResourceA(nullptr, name, "WAVE");
    if (!info) info = FindResourceA(nullptr, name, "WAV");
    if (!info) return E_FAIL;
    HGLOBAL handle = LoadResource(nullptr, info);
    if (!handle) return E_FAIL;
    DWORD size = SizeofResource(nullptr, info);
    if (size == 0 || size > DWORD(0x7FFFFFFF)) return E_FAIL;
    const void* bytes = LockResource(handle);
    if (!bytes) return E_FAIL;
    resourceCopy = new (std::nothrow) BYTE[size];
    if (!resourceCopy) return E_FAIL;
    std::memcpy(resourceCopy, bytes, size);

    MMIOINFO memory{};
    memory.fccIOProc = FOURCC_MEM;
    memory.cchBuffer = LONG(size);
    memory.pchBuffer = reinterpret_cast<HPSTR>(resourceCopy);
    mmioHandle = mmioOpenA(nullptr, &memory, MMIO_ALLOCBUF | MMIO_READ);
    if (!mmioHandle) {
        CloseHandleOnly();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT RiffWaveFile::ParseWaveHeader() {
    FreeFormat();
    if (!mmioHandle) return E_FAIL;
    auto fail = [this] {
        FreeFormat();
        return E_FAIL;
    };

    if (mmioDescend(mmioHandle, &riffChunk, nullptr, 0) != MMSYSERR_NOERROR) return fail();
    if (riffChunk.ckid != FOURCC_RIFF || riffChunk.fccType != kWave) return fail();

    MMCKINFO fmt{};
    fmt.ckid = kFmt;
    if (mmioDescend(mmioHandle, &fmt, &riffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return fail();
    if (fmt.cksize < sizeof(PCMWAVEFORMAT)) return fail();
    // The chunk must lie inside the file, wherever it sits.
    LONG fileEnd = mmioSeek(mmioHandle, 0, SEEK_END);
    if (fileEnd == -1 || (long long)fmt.dwDataOffset + fmt.cksize > (long long)fileEnd ||
        mmioSeek(mmioHandle, LONG(fmt.dwDataOffset), SEEK_SET) == -1)
        return fail();

    PCMWAVEFORMAT pcm;
    if (mmioRead(mmioHandle, reinterpret_cast<HPSTR>(&pcm), sizeof pcm) != LONG(sizeof pcm))
        return fail();
    // Nothing can be played (or even stepped through) without these.
    if (pcm.wf.nChannels == 0 || pcm.wf.nBlockAlign == 0) return fail();

    WORD extra = 0;
    if (pcm.wf.wFormatTag != WAVE_FORMAT_PCM && fmt.cksize >= sizeof(WAVEFORMATEX)) {
        // The count and its bytes must lie inside the "fmt " chunk; a
        // 16-byte chunk simply has no extra bytes.
        if (mmioRead(mmioHandle, reinterpret_cast<HPSTR>(&extra), 2) != 2) return fail();
        if (sizeof(WAVEFORMATEX) + DWORD(extra) > fmt.cksize) return fail();
    }
    format = reinterpret_cast<WAVEFORMATEX*>(new (std::nothrow) BYTE[sizeof(WAVEFORMATEX) + extra]);
    if (!format) return fail();
    std::memcpy(format, &pcm, sizeof pcm);
    format->cbSize = extra;
    if (extra > 0 &&
        mmioRead(mmioHandle, reinterpret_cast<HPSTR>(format + 1), extra) != LONG(extra))
        return fail();

    if (mmioAscend(mmioHandle, &fmt, 0) != MMSYSERR_NOERROR) return fail();
    return S_OK;
}

HRESULT RiffWaveFile::SeekToData() {
    if (!mmioHandle) return CO_E_NOTINITIALIZED;
    if (mode == kRead) {
        long long formEnd = (long long)riffChunk.dwDataOffset + 4;
        if (formEnd > 0x7FFFFFFF || mmioSeek(mmioHandle, LONG(formEnd), SEEK_SET) == -1)
            return E_FAIL;
        dataChunk = MMCKINFO{};
        dataChunk.ckid = kData;
        if (mmioDescend(mmioHandle, &dataChunk, &riffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
            return E_FAIL;
        // The sample data must be there in full: its size becomes a buffer size.
        LONG fileEnd = mmioSeek(mmioHandle, 0, SEEK_END);
        if (fileEnd == -1 ||
            (long long)dataChunk.dwDataOffset + dataChunk.cksize > (long long)fileEnd)
            return E_FAIL;
        if (mmioSeek(mmioHandle, LONG(dataChunk.dwDataOffset), SEEK_SET) == -1) return E_FAIL;
        return S_OK;
    }
    dataChunk = MMCKINFO{};
    dataChunk.ckid = kData;
    dataChunk.cksize = 0;
    if (mmioCreateChunk(mmioHandle, &dataChunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
    if (mmioGetInfo(mmioHandle, &writeInfo, 0) != MMSYSERR_NOERROR) return E_FAIL;
    return S_OK;
}

HRESULT RiffWaveFile::ReadSamples(BYTE* destination, DWORD bytes, DWORD* bytesRead) {
    if (!mmioHandle) return CO_E_NOTINITIALIZED;
    if (!destination || !bytesRead) return E_INVALIDARG;
    *bytesRead = 0;
    if (mode != kRead) return E_FAIL;

    MMIOINFO info;
    if (mmioGetInfo(mmioHandle, &info, 0) != MMSYSERR_NOERROR) return E_FAIL;
    DWORD n = std::min(bytes, dataChunk.cksize);
    dataChunk.cksize -= n;
    DWORD copied = 0;
    while (copied < n) {
        if (info.pchNext == info.pchEndRead) {
            if (mmioAdvance(mmioHandle, &info, MMIO_READ) != MMSYSERR_NOERROR) return E_FAIL;
            if (info.pchNext == info.pchEndRead) return E_FAIL;
        }
        DWORD part = DWORD(std::min<long long>(n - copied, info.pchEndRead - info.pchNext));
        std::memcpy(destination + copied, info.pchNext, part);
        info.pchNext += part;
        copied += part;
    }
    if (mmioSetInfo(mmioHandle, &info, 0) != MMSYSERR_NOERROR) return E_FAIL;
    *bytesRead = n;
    return S_OK;
}

HRESULT RiffWaveFile::WriteSamples(const BYTE* source, DWORD bytes, DWORD* bytesWritten) {
    if (!mmioHandle) return CO_E_NOTINITIALIZED;
    if (!source || !bytesWritten) return E_INVALIDARG;
    *bytesWritten = 0;
    if (mode == kRead) return E_FAIL;
    DWORD copied = 0;
    while (copied < bytes) {
        if (writeInfo.pchNext == writeInfo.pchEndWrite) {
            writeInfo.dwFlags |= MMIO_DIRTY;
            if (mmioAdvance(mmioHandle, &writeInfo, MMIO_WRITE) != MMSYSERR_NOERROR) return E_FAIL;
            if (writeInfo.pchNext == writeInfo.pchEndWrite) return E_FAIL;
        }
        DWORD part =
            DWORD(std::min<long long>(bytes - copied, writeInfo.pchEndWrite - writeInfo.pchNext));
        std::memcpy(writeInfo.pchNext, source + copied, part);
        writeInfo.pchNext += part;
        writeInfo.dwFlags |= MMIO_DIRTY;
        copied += part;
        *bytesWritten = copied;
    }
    return S_OK;
}

HRESULT RiffWaveFile::WriteWaveHeader(const WAVEFORMATEX* formatToWrite) {
    riffChunk = MMCKINFO{};
    riffChunk.fccType = kWave;
    riffChunk.cksize = 0;
    if (mmioCreateChunk(mmioHandle, &riffChunk, MMIO_CREATERIFF) != MMSYSERR_NOERROR) return E_FAIL;

    MMCKINFO chunk{};
    chunk.ckid = kFmt;
    chunk.cksize = sizeof(PCMWAVEFORMAT);
    if (mmioCreateChunk(mmioHandle, &chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
    LONG length = formatToWrite->wFormatTag == WAVE_FORMAT_PCM
                      ? LONG(sizeof(PCMWAVEFORMAT))
                      : LONG(sizeof(WAVEFORMATEX) + formatToWrite->cbSize);
    if (mmioWrite(mmioHandle, reinterpret_cast<const char*>(formatToWrite), length) != length)
        return E_FAIL;
    if (mmioAscend(mmioHandle, &chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;

    // The sample count is not known yet; CloseWave settles it.
    chunk = MMCKINFO{};
    chunk.ckid = kFact;
    chunk.cksize = 0;
    if (mmioCreateChunk(mmioHandle, &chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
    DWORD unknown = 0xFFFFFFFF;
    if (mmioWrite(mmioHandle, reinterpret_cast<const char*>(&unknown), 4) != 4) return E_FAIL;
    if (mmioAscend(mmioHandle, &chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
    return S_OK;
}

HRESULT RiffWaveFile::CloseWave() {
    if (mode == kRead) {
        CloseHandleOnly();
        return S_OK;
    }
    if (!mmioHandle) return CO_E_NOTINITIALIZED;
    writeInfo.dwFlags |= MMIO_DIRTY;
    if (mmioSetInfo(mmioHandle, &writeInfo, 0) != MMSYSERR_NOERROR) return E_FAIL;
    // Ascending out of chunks made here writes their sizes.
    if (mmioAscend(mmioHandle, &dataChunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
    if (mmioAscend(mmioHandle, &riffChunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
    mmioSeek(mmioHandle, 0, SEEK_SET);
    if (mmioDescend(mmioHandle, &riffChunk, nullptr, 0) != MMSYSERR_NOERROR) return E_FAIL;
    MMCKINFO fact{};
    fact.ckid = kFact;
    if (mmioDescend(mmioHandle, &fact, &riffChunk, MMIO_FINDCHUNK) == MMSYSERR_NOERROR) {
        DWORD samples = 0;
        mmioWrite(mmioHandle, reinterpret_cast<const char*>(&samples), 4);
        mmioAscend(mmioHandle, &fact, 0);
    }
    if (mmioAscend(mmioHandle, &riffChunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
    // The last of the data reaches the disk here; a failure loses it.
    MMRESULT closed = mmioClose(mmioHandle, 0);
    mmioHandle = nullptr;
    return closed == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}
