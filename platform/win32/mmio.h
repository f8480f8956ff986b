// The multimedia file services: buffered file I/O and RIFF chunk navigation
// (mmio), with two I/O procedures: "DOS " (a file on disk) and "MEM " (a
// block of memory that is the whole file). Also the wave format records.
//
// Buffering: a buffered file keeps one buffer described by MMIOINFO. Its
// owner may read and write the buffer directly: mmioGetInfo copies the state
// out, the caller moves pchNext (reading up to pchEndRead, writing up to
// pchEndWrite and setting MMIO_DIRTY in dwFlags), mmioAdvance refills or
// flushes the buffer, and mmioSetInfo hands the state back. No other mmio
// call may be made on the file between mmioGetInfo and mmioSetInfo. For a
// memory file the buffer is the file: pchEndRead is its end.
//
// Chunk sizes and offsets are 32-bit; every position is checked against the
// signed 32-bit range, so hostile sizes fail instead of wrapping.
#pragma once

#include "platform/win32/types.h"

struct HMMIO__;
using HMMIO = HMMIO__*;
using FOURCC = DWORD;
using MMRESULT = UINT;
using HPSTR = char*;
using HTASK = HANDLE;
using LPMMIOPROC = LRESULT (*)(LPSTR info, UINT message, LPARAM param1, LPARAM param2);

struct MMIOINFO {
    DWORD dwFlags;        // access mode and MMIO_DIRTY
    FOURCC fccIOProc;     // "DOS ", "MEM " (or 0 for a file)
    LPMMIOPROC pIOProc;   // unused: only the two built-in procedures exist
    UINT wErrorRet;       // why mmioOpenA failed
    HTASK htask;
    LONG cchBuffer;       // size of the buffer (of the memory file)
    HPSTR pchBuffer;      // the buffer, null when unbuffered
    HPSTR pchNext;        // next byte to read or write
    HPSTR pchEndRead;     // one past the last byte that can be read
    HPSTR pchEndWrite;    // one past the last byte that can be written
    LONG lBufOffset;      // file offset of the buffer's first byte
    LONG lDiskOffset;     // offset of the I/O procedure
    DWORD adwInfo[3];     // memory files: adwInfo[0] is the growth step, 0 = fixed size
    DWORD dwReserved1;
    DWORD dwReserved2;
    HMMIO hmmio;
};
using LPMMIOINFO = MMIOINFO*;
using LPCMMIOINFO = const MMIOINFO*;

struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;        // size of the data part
    FOURCC fccType;      // form or list type of "RIFF" and "LIST" chunks
    DWORD dwDataOffset;  // file offset of the data part (for RIFF/LIST: of fccType)
    DWORD dwFlags;       // MMIO_DIRTY: the size must be written back on ascend
};
using LPMMCKINFO = MMCKINFO*;
using LPCMMCKINFO = const MMCKINFO*;

// mmioOpenA flags.
constexpr DWORD MMIO_READ = 0x00000000;
constexpr DWORD MMIO_WRITE = 0x00000001;
constexpr DWORD MMIO_READWRITE = 0x00000002;
constexpr DWORD MMIO_RWMODE = 0x00000003;
constexpr DWORD MMIO_COMPAT = 0x00000000;
constexpr DWORD MMIO_EXCLUSIVE = 0x00000010;
constexpr DWORD MMIO_DENYWRITE = 0x00000020;
constexpr DWORD MMIO_DENYREAD = 0x00000030;
constexpr DWORD MMIO_DENYNONE = 0x00000040;
constexpr DWORD MMIO_CREATE = 0x00001000;
constexpr DWORD MMIO_ALLOCBUF = 0x00010000;
constexpr DWORD MMIO_DIRTY = 0x10000000;

// mmioDescend, mmioCreateChunk, mmioAdvance and mmioFlush flags.
constexpr UINT MMIO_FINDCHUNK = 0x0010;
constexpr UINT MMIO_FINDRIFF = 0x0020;
constexpr UINT MMIO_FINDLIST = 0x0040;
constexpr UINT MMIO_CREATERIFF = 0x0020;
constexpr UINT MMIO_CREATELIST = 0x0040;
constexpr UINT MMIO_EMPTYBUF = 0x0010;
constexpr UINT MMIO_TOUPPER = 0x0010;

constexpr LONG MMIO_DEFAULTBUFFER = 8192;

constexpr FOURCC FOURCC_RIFF = MAKEFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = MAKEFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC FOURCC_DOS = MAKEFOURCC('D', 'O', 'S', ' ');
constexpr FOURCC FOURCC_MEM = MAKEFOURCC('M', 'E', 'M', ' ');

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMIOERR_BASE = 256;
constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
constexpr MMRESULT MMIOERR_UNBUFFERED = MMIOERR_BASE + 10;
constexpr MMRESULT MMIOERR_PATHNOTFOUND = MMIOERR_BASE + 11;
constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
constexpr MMRESULT MMIOERR_SHARINGVIOLATION = MMIOERR_BASE + 13;
constexpr MMRESULT MMIOERR_NETWORKERROR = MMIOERR_BASE + 14;
constexpr MMRESULT MMIOERR_TOOMANYOPENFILES = MMIOERR_BASE + 15;
constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

// Seek origins (the same values as the C library's).
#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

// Opens a file (name, "DOS " procedure) or a memory file (info->fccIOProc
// "MEM ": info->pchBuffer holds info->cchBuffer bytes that stay the caller's
// and must outlive the handle; a null pchBuffer with MMIO_ALLOCBUF gives an
// owned, zeroed block). MMIO_ALLOCBUF gives a file a buffer of
// info->cchBuffer bytes (MMIO_DEFAULTBUFFER when 0); without it a file is
// unbuffered. On failure returns null and sets info->wErrorRet.
HMMIO mmioOpenA(LPSTR name, LPMMIOINFO info, DWORD flags);
// Flushes and closes; the handle is gone even when the flush fails
// (MMIOERR_CANNOTWRITE).
MMRESULT mmioClose(HMMIO file, UINT flags);
// Bytes read (0 at the end of the file), or -1 on error.
LONG mmioRead(HMMIO file, HPSTR destination, LONG bytes);
// Bytes written, or -1 on error.
LONG mmioWrite(HMMIO file, const char* source, LONG bytes);
// The new position, or -1 (the position is then unchanged).
LONG mmioSeek(HMMIO file, LONG offset, int origin);
MMRESULT mmioFlush(HMMIO file, UINT flags);
MMRESULT mmioGetInfo(HMMIO file, LPMMIOINFO info, UINT flags);
MMRESULT mmioSetInfo(HMMIO file, LPCMMIOINFO info, UINT flags);
// Takes the caller's buffer state from `info` (when given), writes the buffer
// if dirty, moves the buffer to the current position, refills it when the
// file is readable, and returns the new state in `info`. At the end of the
// file it succeeds with an empty buffer (pchNext == pchEndRead).
MMRESULT mmioAdvance(HMMIO file, LPMMIOINFO info, UINT flags);
// Reads the chunk header at the current position (no flags) or searches for
// ck->ckid (MMIO_FINDCHUNK), a "RIFF" of form ck->fccType (MMIO_FINDRIFF) or
// a "LIST" of type ck->fccType (MMIO_FINDLIST), within `parent` when given.
// Leaves the position at the chunk's data (past the type of RIFF/LIST).
MMRESULT mmioDescend(HMMIO file, LPMMCKINFO ck, LPCMMCKINFO parent, UINT flags);
// Moves past the end of the chunk and its pad byte. A chunk made by
// mmioCreateChunk (MMIO_DIRTY) ends at the current position: its size is
// written back if it changed, and an odd size gets a zero pad byte.
MMRESULT mmioAscend(HMMIO file, LPMMCKINFO ck, UINT flags);
// Writes a chunk header (ck->ckid, or "RIFF"/"LIST" with ck->fccType for
// MMIO_CREATERIFF/MMIO_CREATELIST) at the current position.
MMRESULT mmioCreateChunk(HMMIO file, LPMMCKINFO ck, UINT flags);
FOURCC mmioStringToFOURCCA(LPCSTR text, UINT flags);

// Wave format records, packed as in files.
#pragma pack(push, 1)
struct WAVEFORMAT {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
};
struct PCMWAVEFORMAT {
    WAVEFORMAT wf;
    WORD wBitsPerSample;
};
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;  // extra format bytes that follow the structure
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMAT) == 14 && sizeof(PCMWAVEFORMAT) == 16 && sizeof(WAVEFORMATEX) == 18);
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr WORD WAVE_FORMAT_MULAW = 7;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
