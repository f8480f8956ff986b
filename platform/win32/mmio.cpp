#include "platform/win32/mmio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>
#include <cstring>
#include <memory>
#include <new>

// One open multimedia file. `info` holds the buffer state exactly as
// mmioGetInfo hands it out; positions are computed in 64 bits and kept
// within the range of LONG (32 bits, whatever the C library's long).
struct HMMIO__ {
    MMIOINFO info{};
    bool memory = false;
    bool dirty = false;
    int fd = -1;
    DWORD access = MMIO_READ;
    std::unique_ptr<char[]> owned;  // the buffer (or memory file) when it is ours
    long long position = 0;         // unbuffered files only
};

namespace {
using Int64 = long long;
constexpr Int64 kLongMax = std::numeric_limits<LONG>::max();

bool Buffered(const HMMIO__* f) { return f->info.pchBuffer != nullptr || f->memory; }
bool Readable(const HMMIO__* f) { return f->access != MMIO_WRITE; }
bool Writable(const HMMIO__* f) { return f->access != MMIO_READ; }

Int64 Position(const HMMIO__* f) {
    if (!Buffered(f)) return f->position;
    return Int64(f->info.lBufOffset) + (f->info.pchNext - f->info.pchBuffer);
}

// Bytes of the buffer that hold file data (read in or written).
Int64 ValidBytes(const HMMIO__* f) {
    return std::max(f->info.pchEndRead, f->info.pchNext) - f->info.pchBuffer;
}

bool WriteAll(int fd, const char* data, Int64 bytes, Int64 offset) {
    while (bytes > 0) {
        ssize_t n = pwrite(fd, data, size_t(bytes), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n, bytes -= n, offset += n;
    }
    return true;
}

Int64 ReadSome(int fd, char* data, Int64 bytes, Int64 offset) {
    Int64 total = 0;
    while (bytes > 0) {
        ssize_t n = pread(fd, data, size_t(bytes), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        data += n, bytes -= n, offset += n, total += n;
    }
    return total;
}

// Writes a file's dirty buffer to disk. Memory files are always in place.
bool FlushBuffer(HMMIO__* f) {
    if (!f->dirty) return true;
    if (!f->memory && f->info.pchBuffer) {
        if (!WriteAll(f->fd, f->info.pchBuffer, ValidBytes(f), f->info.lBufOffset)) return false;
        f->info.lDiskOffset = LONG(f->info.lBufOffset + ValidBytes(f));
    }
    f->dirty = false;
    f->info.dwFlags &= ~MMIO_DIRTY;
    return true;
}

enum class MoveResult { Ok, CannotWrite, CannotRead, CannotSeek };

// Points a file's buffer at `offset`, writing it first when dirty, and
// fills it from the file when `fill` is set.
MoveResult MoveBuffer(HMMIO__* f, Int64 offset, bool fill) {
    if (offset < 0 || offset > kLongMax) return MoveResult::CannotSeek;
    if (!FlushBuffer(f)) return MoveResult::CannotWrite;
    MMIOINFO& i = f->info;
    i.lBufOffset = LONG(offset);
    i.pchNext = i.pchEndRead = i.pchBuffer;
    i.lDiskOffset = LONG(offset);
    if (fill && Readable(f)) {
        Int64 room = std::min<Int64>(i.cchBuffer, kLongMax - offset);
        Int64 n = ReadSome(f->fd, i.pchBuffer, room, offset);
        if (n < 0) return MoveResult::CannotRead;
        i.pchEndRead = i.pchBuffer + n;
        i.lDiskOffset = LONG(offset + n);
    }
    return MoveResult::Ok;
}

Int64 FileSize(const HMMIO__* f) {
    if (f->memory) return f->info.cchBuffer;
    struct stat st {};
    Int64 size = fstat(f->fd, &st) == 0 ? Int64(st.st_size) : 0;
    if (f->info.pchBuffer) size = std::max(size, Int64(f->info.lBufOffset) + ValidBytes(f));
    return size;
}

// Grows an owned, expandable memory file so that `needed` more bytes fit
// at the current position.
bool GrowMemory(HMMIO__* f, Int64 needed) {
    MMIOINFO& i = f->info;
    DWORD step = i.adwInfo[0];
    if (!f->owned || step == 0) return false;
    Int64 have = i.pchEndWrite - i.pchNext;
    if (have >= needed) return true;
    Int64 grow = ((needed - have + step - 1) / step) * Int64(step);
    Int64 size = Int64(i.cchBuffer) + grow;
    if (size > kLongMax) return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size_t(size)]());
    if (!block) return false;
    std::memcpy(block.get(), i.pchBuffer, size_t(i.cchBuffer));
    Int64 next = i.pchNext - i.pchBuffer;
    f->owned = std::move(block);
    i.pchBuffer = f->owned.get();
    i.cchBuffer = LONG(size);
    i.pchNext = i.pchBuffer + next;
    i.pchEndRead = i.pchEndWrite = i.pchBuffer + size;
    return true;
}

LONG ReadBytes(HMMIO__* f, char* out, LONG bytes) {
    if (!Buffered(f)) {
        Int64 n = ReadSome(f->fd, out, bytes, f->position);
        if (n < 0) return -1;
        f->position += n;
        return LONG(n);
    }
    MMIOINFO& i = f->info;
    LONG total = 0;
    while (total < bytes) {
        Int64 avail = i.pchEndRead - i.pchNext;
        if (avail <= 0) {
            if (f->memory) break;
            if (MoveBuffer(f, Position(f), true) != MoveResult::Ok) return total ? total : -1;
            if (i.pchEndRead == i.pchNext) break;
            continue;
        }
        Int64 n = std::min<Int64>(avail, bytes - total);
        std::memcpy(out + total, i.pchNext, size_t(n));
        i.pchNext += n;
        total += LONG(n);
    }
    return total;
}

LONG WriteBytes(HMMIO__* f, const char* in, LONG bytes) {
    if (!Writable(f)) return -1;
    if (!Buffered(f)) {
        if (f->position + bytes > kLongMax) return -1;
        if (!WriteAll(f->fd, in, bytes, f->position)) return -1;
        f->position += bytes;
        return bytes;
    }
    MMIOINFO& i = f->info;
    LONG total = 0;
    while (total < bytes) {
        Int64 space = i.pchEndWrite - i.pchNext;
        if (space <= 0) {
            if (f->memory) {
                if (!GrowMemory(f, bytes - total)) break;
                continue;
            }
            if (MoveBuffer(f, Position(f), false) != MoveResult::Ok) return total ? total : -1;
            continue;
        }
        if (!f->memory && Position(f) >= kLongMax) break;
        Int64 n = std::min<Int64>(space, bytes - total);
        if (!f->memory) n = std::min<Int64>(n, kLongMax - Position(f));
        std::memcpy(i.pchNext, in + total, size_t(n));
        i.pchNext += n;
        total += LONG(n);
        f->dirty = true;
        if (i.pchEndRead < i.pchNext) i.pchEndRead = i.pchNext;
    }
    return total || bytes == 0 ? total : -1;
}

Int64 SeekTo(HMMIO__* f, Int64 target) {
    if (target < 0 || target > kLongMax) return -1;
    if (f->memory) {
        if (target > f->info.cchBuffer) return -1;
        f->info.pchNext = f->info.pchBuffer + target;
        return target;
    }
    if (!Buffered(f)) {
        f->position = target;
        return target;
    }
    MMIOINFO& i = f->info;
    if (target >= i.lBufOffset && target <= i.lBufOffset + ValidBytes(f)) {
        char* end = std::max(i.pchEndRead, i.pchNext);
        i.pchNext = i.pchBuffer + (target - i.lBufOffset);
        i.pchEndRead = end;
        return target;
    }
    if (MoveBuffer(f, target, false) != MoveResult::Ok) return -1;
    return target;
}

void PutLE32(char* p, DWORD v) {
    for (int k = 0; k < 4; ++k) p[k] = char((v >> (8 * k)) & 0xFF);
}
DWORD GetLE32(const char* p) {
    DWORD v = 0;
    for (int k = 0; k < 4; ++k) v |= DWORD(BYTE(p[k])) << (8 * k);
    return v;
}

MMRESULT OpenError(int e) {
    switch (e) {
        case ENOENT: return MMIOERR_FILENOTFOUND;
        case ENOTDIR: return MMIOERR_PATHNOTFOUND;
        case EACCES:
        case EPERM:
        case EROFS: return MMIOERR_ACCESSDENIED;
        case EMFILE:
        case ENFILE: return MMIOERR_TOOMANYOPENFILES;
        case ENOMEM: return MMIOERR_OUTOFMEMORY;
        default: return MMIOERR_CANNOTOPEN;
    }
}
}  // namespace

HMMIO mmioOpenA(LPSTR name, LPMMIOINFO info, DWORD flags) {
    auto fail = [info](MMRESULT error) -> HMMIO {
        if (info) info->wErrorRet = error;
        return nullptr;
    };
    DWORD access = flags & MMIO_RWMODE;
    if (access == MMIO_RWMODE) return fail(MMSYSERR_INVALFLAG);
    if (info && info->pIOProc) return fail(MMSYSERR_INVALPARAM);  // no installable procedures
    FOURCC proc = info ? info->fccIOProc : 0;
    if (proc != 0 && proc != FOURCC_DOS && proc != FOURCC_MEM) return fail(MMSYSERR_INVALPARAM);

    auto f = std::make_unique<HMMIO__>();
    f->access = access;
    MMIOINFO& i = f->info;
    i.dwFlags = flags & ~(MMIO_CREATE | MMIO_ALLOCBUF);
    i.hmmio = f.get();

    if (proc == FOURCC_MEM) {
        if (info->cchBuffer < 0) return fail(MMSYSERR_INVALPARAM);
        f->memory = true;
        i.fccIOProc = FOURCC_MEM;
        i.cchBuffer = info->cchBuffer;
        if (info->pchBuffer) {
            i.pchBuffer = info->pchBuffer;
        } else {
            f->owned.reset(new (std::nothrow) char[size_t(info->cchBuffer) + 1]());
            if (!f->owned) return fail(MMIOERR_OUTOFMEMORY);
            i.pchBuffer = f->owned.get();
        }
        std::memcpy(i.adwInfo, info->adwInfo, sizeof i.adwInfo);
        i.pchNext = i.pchBuffer;
        i.pchEndRead = i.pchEndWrite = i.pchBuffer + i.cchBuffer;
    } else {
        if (!name || !*name) return fail(MMIOERR_FILENOTFOUND);
        i.fccIOProc = FOURCC_DOS;
        int oflags = (access == MMIO_READ ? O_RDONLY : access == MMIO_WRITE ? O_WRONLY : O_RDWR) |
                     O_CLOEXEC;
        if (flags & MMIO_CREATE) oflags |= O_CREAT | O_TRUNC;
        int fd = open(name, oflags, 0666);
        if (fd < 0) return fail(OpenError(errno));
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            return fail(MMIOERR_CANNOTOPEN);
        }
        f->fd = fd;
        LONG size = info && info->cchBuffer > 0 ? info->cchBuffer : MMIO_DEFAULTBUFFER;
        if (info && info->pchBuffer && info->cchBuffer > 0) {
            i.pchBuffer = info->pchBuffer;
        } else if ((flags & MMIO_ALLOCBUF) || (info && info->cchBuffer > 0)) {
            f->owned.reset(new (std::nothrow) char[size_t(size)]);
            if (!f->owned) {
                close(fd);
                return fail(MMIOERR_OUTOFMEMORY);
            }
            i.pchBuffer = f->owned.get();
        }
        if (i.pchBuffer) {
            i.cchBuffer = size;
            i.pchNext = i.pchEndRead = i.pchBuffer;
            i.pchEndWrite = i.pchBuffer + size;
        }
    }
    if (info) {
        info->wErrorRet = 0;
        info->hmmio = f.get();
    }
    return f.release();
}

MMRESULT mmioClose(HMMIO file, UINT) {
    if (!file) return MMSYSERR_INVALHANDLE;
    MMRESULT result = FlushBuffer(file) ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
    if (file->fd >= 0 && close(file->fd) != 0 && result == MMSYSERR_NOERROR)
        result = MMIOERR_CANNOTCLOSE;
    delete file;
    return result;
}

LONG mmioRead(HMMIO file, HPSTR destination, LONG bytes) {
    if (!file || bytes < 0 || (!destination && bytes > 0)) return -1;
    if (!Readable(file)) return -1;
    return ReadBytes(file, destination, bytes);
}

LONG mmioWrite(HMMIO file, const char* source, LONG bytes) {
    if (!file || bytes < 0 || (!source && bytes > 0)) return -1;
    return WriteBytes(file, source, bytes);
}

LONG mmioSeek(HMMIO file, LONG offset, int origin) {
    if (!file) return -1;
    Int64 base;
    switch (origin) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = Position(file); break;
        case SEEK_END: base = FileSize(file); break;
        default: return -1;
    }
    return LONG(SeekTo(file, base + offset));
}

MMRESULT mmioFlush(HMMIO file, UINT flags) {
    if (!file) return MMSYSERR_INVALHANDLE;
    if (!FlushBuffer(file)) return MMIOERR_CANNOTWRITE;
    if ((flags & MMIO_EMPTYBUF) && !file->memory && file->info.pchBuffer)
        MoveBuffer(file, Position(file), false);
    return MMSYSERR_NOERROR;
}

MMRESULT mmioGetInfo(HMMIO file, LPMMIOINFO info, UINT) {
    if (!file) return MMSYSERR_INVALHANDLE;
    if (!info) return MMSYSERR_INVALPARAM;
    *info = file->info;
    info->dwFlags = (file->info.dwFlags & ~MMIO_DIRTY) | (file->dirty ? MMIO_DIRTY : 0);
    if (!Buffered(file)) {
        info->lBufOffset = info->lDiskOffset = LONG(file->position);
    }
    info->hmmio = file;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioSetInfo(HMMIO file, LPCMMIOINFO info, UINT) {
    if (!file) return MMSYSERR_INVALHANDLE;
    if (!info) return MMSYSERR_INVALPARAM;
    MMIOINFO& i = file->info;
    if (!Buffered(file)) return MMSYSERR_NOERROR;
    if (info->pchBuffer != i.pchBuffer || info->pchNext < i.pchBuffer ||
        info->pchNext > i.pchEndWrite)
        return MMSYSERR_INVALPARAM;
    bool dirty = (info->dwFlags & MMIO_DIRTY) != 0;
    if (!dirty && info->pchNext > std::max(i.pchEndRead, i.pchNext)) return MMSYSERR_INVALPARAM;
    if (dirty && !Writable(file)) return MMSYSERR_INVALPARAM;
    char* end = std::max(i.pchEndRead, info->pchNext);
    i.pchNext = info->pchNext;
    if (!file->memory) i.pchEndRead = end;
    if (dirty) file->dirty = true;
    std::memcpy(i.adwInfo, info->adwInfo, sizeof i.adwInfo);
    return MMSYSERR_NOERROR;
}

MMRESULT mmioAdvance(HMMIO file, LPMMIOINFO info, UINT flags) {
    if (!file) return MMSYSERR_INVALHANDLE;
    if (!Buffered(file)) return MMIOERR_UNBUFFERED;
    if (info) {
        if (MMRESULT r = mmioSetInfo(file, info, 0)) return r;
    }
    bool writing = (flags & MMIO_WRITE) != 0;
    if (writing && !Writable(file)) return MMIOERR_CANNOTWRITE;
    if (file->memory) {
        // The whole file is in the buffer: reading has nothing to add, and
        // writing at the end needs the block to grow.
        if (writing && file->info.pchNext == file->info.pchEndWrite &&
            !GrowMemory(file, 1))
            return MMIOERR_CANNOTEXPAND;
    } else {
        bool fill = Readable(file) && (!writing || file->access == MMIO_READWRITE);
        switch (MoveBuffer(file, Position(file), fill)) {
            case MoveResult::Ok: break;
            case MoveResult::CannotWrite: return MMIOERR_CANNOTWRITE;
            case MoveResult::CannotRead: return MMIOERR_CANNOTREAD;
            case MoveResult::CannotSeek: return MMIOERR_CANNOTEXPAND;
        }
    }
    if (info) mmioGetInfo(file, info, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT mmioDescend(HMMIO file, LPMMCKINFO ck, LPCMMCKINFO parent, UINT flags) {
    if (!file) return MMSYSERR_INVALHANDLE;
    if (!ck) return MMSYSERR_INVALPARAM;
    UINT find = flags & (MMIO_FINDCHUNK | MMIO_FINDRIFF | MMIO_FINDLIST);
    FOURCC wantId = 0, wantType = ck->fccType;
    if (find == MMIO_FINDCHUNK) wantId = ck->ckid;
    else if (find == MMIO_FINDRIFF) wantId = FOURCC_RIFF;
    else if (find == MMIO_FINDLIST) wantId = FOURCC_LIST;
    else if (find != 0) return MMSYSERR_INVALFLAG;
    Int64 end = parent ? Int64(parent->dwDataOffset) + parent->cksize : Int64(LLONG_MAX);

    // Every step moves forward by at least a header, so the search ends.
    for (;;) {
        Int64 start = Position(file);
        if (start + 8 > end) return MMIOERR_CHUNKNOTFOUND;
        char header[8];
        if (ReadBytes(file, header, 8) != 8) return MMIOERR_CHUNKNOTFOUND;
        FOURCC id = GetLE32(header);
        DWORD size = GetLE32(header + 4);
        Int64 data = start + 8;
        FOURCC type = 0;
        if (id == FOURCC_RIFF || id == FOURCC_LIST) {
            char t[4];
            if (ReadBytes(file, t, 4) != 4) return MMIOERR_CHUNKNOTFOUND;
            type = GetLE32(t);
        }
        bool match = find == 0 || (id == wantId && (find == MMIO_FINDCHUNK || type == wantType));
        if (match) {
            ck->ckid = id;
            ck->cksize = size;
            ck->fccType = type;
            ck->dwDataOffset = DWORD(data);
            ck->dwFlags = 0;
            return MMSYSERR_NOERROR;
        }
        Int64 next = data + size + (size & 1);
        if (next > kLongMax || SeekTo(file, next) < 0) return MMIOERR_CHUNKNOTFOUND;
    }
}

MMRESULT mmioAscend(HMMIO file, LPMMCKINFO ck, UINT) {
    if (!file) return MMSYSERR_INVALHANDLE;
    if (!ck) return MMSYSERR_INVALPARAM;
    if (ck->dwFlags & MMIO_DIRTY) {
        Int64 end = Position(file);
        Int64 size = end - Int64(ck->dwDataOffset);
        if (size < 0 || ck->dwDataOffset < 4) return MMIOERR_CANNOTSEEK;
        if (DWORD(size) != ck->cksize) {
            char bytes[4];
            PutLE32(bytes, DWORD(size));
            if (SeekTo(file, Int64(ck->dwDataOffset) - 4) < 0) return MMIOERR_CANNOTSEEK;
            if (WriteBytes(file, bytes, 4) != 4) return MMIOERR_CANNOTWRITE;
            if (SeekTo(file, end) < 0) return MMIOERR_CANNOTSEEK;
            ck->cksize = DWORD(size);
        }
        if (size & 1) {
            char pad = 0;
            if (WriteBytes(file, &pad, 1) != 1) return MMIOERR_CANNOTWRITE;
        }
        ck->dwFlags &= ~MMIO_DIRTY;
        return MMSYSERR_NOERROR;
    }
    Int64 next = Int64(ck->dwDataOffset) + ck->cksize + (ck->cksize & 1);
    if (SeekTo(file, next) < 0) return MMIOERR_CANNOTSEEK;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO file, LPMMCKINFO ck, UINT flags) {
    if (!file) return MMSYSERR_INVALHANDLE;
    if (!ck) return MMSYSERR_INVALPARAM;
    if ((flags & MMIO_CREATERIFF) && (flags & MMIO_CREATELIST)) return MMSYSERR_INVALFLAG;
    bool form = (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
    if (flags & MMIO_CREATERIFF) ck->ckid = FOURCC_RIFF;
    if (flags & MMIO_CREATELIST) ck->ckid = FOURCC_LIST;
    Int64 start = Position(file);
    if (start + 12 > kLongMax) return MMIOERR_CANNOTSEEK;
    char header[12];
    PutLE32(header, ck->ckid);
    PutLE32(header + 4, ck->cksize);
    PutLE32(header + 8, ck->fccType);
    LONG length = form ? 12 : 8;
    if (WriteBytes(file, header, length) != length) return MMIOERR_CANNOTWRITE;
    ck->dwDataOffset = DWORD(start + 8);
    ck->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

FOURCC mmioStringToFOURCCA(LPCSTR text, UINT flags) {
    char c[4] = {' ', ' ', ' ', ' '};
    for (int k = 0; k < 4 && text && text[k]; ++k) {
        c[k] = text[k];
        if ((flags & MMIO_TOUPPER) && c[k] >= 'a' && c[k] <= 'z') c[k] = char(c[k] - 'a' + 'A');
    }
    return MAKEFOURCC(c[0], c[1], c[2], c[3]);
}
