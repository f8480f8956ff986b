// Small helpers shared by the image readers: a bounds-checked cursor over
// untrusted file bytes and a non-throwing allocation of pixel blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/d3d9/d3d9.h"

// A read cursor over [data, data + size). Every read checks the bytes that
// remain and fails without moving when they are too few.
class ByteReader {
public:
    ByteReader(const BYTE* data, size_t size) : data_(data), size_(size) {}

    size_t Remaining() const { return size_ - pos_; }
    size_t Position() const { return pos_; }
    const BYTE* Current() const { return data_ + pos_; }
    bool AtEnd() const { return pos_ == size_; }

    bool Skip(size_t n) {
        if (Remaining() < n) return false;
        pos_ += n;
        return true;
    }
    bool Seek(size_t position) {
        if (position > size_) return false;
        pos_ = position;
        return true;
    }
    bool ReadU8(BYTE& v) {
        if (Remaining() < 1) return false;
        v = data_[pos_++];
        return true;
    }
    bool PeekU8(BYTE& v) const {
        if (Remaining() < 1) return false;
        v = data_[pos_];
        return true;
    }
    bool ReadU16(uint16_t& v) {
        if (Remaining() < 2) return false;
        v = uint16_t(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool ReadU32(uint32_t& v) {
        if (Remaining() < 4) return false;
        v = uint32_t(data_[pos_]) | (uint32_t(data_[pos_ + 1]) << 8) | (uint32_t(data_[pos_ + 2]) << 16) |
            (uint32_t(data_[pos_ + 3]) << 24);
        pos_ += 4;
        return true;
    }
    bool ReadBytes(void* out, size_t n) {
        if (Remaining() < n) return false;
        if (n) std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }

private:
    const BYTE* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Little-endian values at a known-valid offset.
inline uint16_t LoadU16(const BYTE* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const BYTE* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// A pixel block of `bytes` bytes for ImageLevel (freed there with delete[]),
// or null when the size does not fit this machine or memory runs out.
inline BYTE* AllocateBlock(uint64_t bytes) {
    if (bytes > uint64_t(PTRDIFF_MAX)) return nullptr;
    return new (std::nothrow) BYTE[size_t(bytes ? bytes : 1)];
}

// a * b, or false when it overflows 64 bits.
inline bool MultiplySize(uint64_t a, uint64_t b, uint64_t& out) { return !__builtin_mul_overflow(a, b, &out); }
