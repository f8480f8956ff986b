// Reads (and writes) RIFF WAVE sounds through the multimedia file services.
// A name that does not open as a file is looked up among the program's
// resources of type "WAVE", then "WAV", and read from a private copy in
// memory. The bytes are untrusted: every size is checked against the file.
#pragma once

#include "platform/win32/windows.h"

class RiffWaveFile {
public:
    static constexpr DWORD kRead = 1;
    static constexpr DWORD kWrite = 2;  // any value other than kRead

    RiffWaveFile() = default;
    ~RiffWaveFile();
    RiffWaveFile(const RiffWaveFile&) = delete;
    RiffWaveFile& operator=(const RiffWaveFile&) = delete;

    // Read mode (kRead): `formatToWrite` is ignored. Write mode: creates
    // `name` and writes the header for `formatToWrite`, then starts the
    // "data" chunk. 0, E_INVALIDARG, E_FAIL.
    HRESULT OpenWave(LPCSTR name, const WAVEFORMATEX* formatToWrite, DWORD openMode);
    // Size in bytes of the sample data found at open.
    DWORD GetDataSize() const { return dataSize; }
    // Copies up to `bytes` of sample data; never past the end of the data.
    HRESULT ReadSamples(BYTE* destination, DWORD bytes, DWORD* bytesRead);
    // Write mode: appends sample data to the "data" chunk.
    HRESULT WriteSamples(const BYTE* source, DWORD bytes, DWORD* bytesWritten);
    // Read mode: back to the first sample byte. Write mode: starts the "data" chunk.
    HRESULT SeekToData();
    // Write mode: completes the chunk sizes first. Read mode always succeeds.
    HRESULT CloseWave();

    // Owned copy of the format with its extra bytes behind it; null until
    // a header has been read.
    WAVEFORMATEX* format = nullptr;
    HMMIO mmioHandle = nullptr;
    MMCKINFO dataChunk{};  // read mode: cksize counts the bytes not yet read
    MMCKINFO riffChunk{};
    DWORD dataSize = 0;
    MMIOINFO writeInfo{};
    DWORD mode = kRead;
    BYTE* resourceCopy = nullptr;

private:
    HRESULT ParseWaveHeader();
    HRESULT WriteWaveHeader(const WAVEFORMATEX* formatToWrite);
    HRESULT OpenResource(LPCSTR name);
    void FreeFormat();
    void CloseHandleOnly();
};
