// Radiance RGBE pictures: header, resolution line in any orientation, flat
// and run-length scanlines, exposure.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "texture/byte_reader.h"
#include "texture/image_readers.h"

namespace {
bool ReadLine(ByteReader& in, std::string& line) {
    const void* end = std::memchr(in.Current(), '\n', in.Remaining());
    if (!end) return false;
    const size_t length = size_t(static_cast<const BYTE*>(end) - in.Current());
    line.assign(reinterpret_cast<const char*>(in.Current()), length);
    in.Skip(length + 1);
    return true;
}

size_t SkipBlanks(const std::string& s, size_t i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return i;
}

// One resolution field: sign, axis letter, decimal size.
bool ParseField(const std::string& s, size_t& i, char& sign, char& axis, uint32_t& size) {
    i = SkipBlanks(s, i);
    if (s.size() - i < 3) return false;
    sign = s[i];
    axis = s[i + 1];
    if ((sign != '-' && sign != '+') || (axis != 'X' && axis != 'Y')) return false;
    i = SkipBlanks(s, i + 2);
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    uint64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        if ((v = v * 10 + uint64_t(s[i] - '0')) > 0xFFFFFFFF) return false;
    size = uint32_t(v);
    return true;
}

// One scanline of `length` RGBE pixels into `out`.
bool ReadScanline(ByteReader& in, BYTE* out, uint64_t length) {
    if (in.Remaining() >= 4 && in.Current()[0] == 2 && in.Current()[1] == 2 && in.Current()[2] < 0x80) {
        in.Skip(4);
        for (UINT component = 0; component < 4; ++component) {
            uint64_t x = 0;
            while (x < length) {
                BYTE count;
                if (!in.ReadU8(count)) return false;
                if (count > 128) {
                    BYTE value;
                    count = BYTE(count - 128);
                    if (count > length - x || !in.ReadU8(value)) return false;
                    for (; count; --count, ++x) out[x * 4 + component] = value;
                } else {
                    if (count > length - x || in.Remaining() < count) return false;
                    const BYTE* src = in.Current();
                    for (UINT k = 0; k < count; ++k, ++x) out[x * 4 + component] = src[k];
                    in.Skip(count);
                }
            }
        }
        return true;
    }
    uint64_t x = 0;
    UINT shift = 0;
    while (x < length) {
        BYTE p[4];
        if (!in.ReadBytes(p, 4)) return false;
        if (p[0] == 1 && p[1] == 1 && p[2] == 1) {
            // A repeat needs a pixel before it in this scanline, and its
            // count must stay inside the scanline.
            if (x == 0 || shift > 32) return false;
            const uint64_t count = uint64_t(p[3]) << shift;
            if (count > length - x) return false;
            for (uint64_t k = 0; k < count; ++k, ++x) std::memcpy(out + x * 4, out + (x - 1) * 4, 4);
            shift += 8;
        } else {
            std::memcpy(out + x * 4, p, 4);
            ++x;
            shift = 0;
        }
    }
    return true;
}
}  // namespace

HRESULT ReadHdrImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    if (!bytes || byteCount <= 10 || std::memcmp(bytes, "#?RADIANCE", 10) != 0) return E_FAIL;
    ByteReader in(bytes, byteCount);
    std::string line;
    if (!ReadLine(in, line)) return E_FAIL;
    bool haveFormat = false;
    float exposure = 1.0f;
    for (;;) {
        if (!ReadLine(in, line)) return E_FAIL;
        if (line.empty()) break;
        if (line.compare(0, 7, "FORMAT=") == 0) {
            const size_t i = SkipBlanks(line, 7);
            if (line.compare(i, 15, "32-bit_rle_rgbe") != 0 && line.compare(i, 15, "32-bit_rle_xyze") != 0)
                return E_FAIL;
            haveFormat = true;
        } else if (line.compare(0, 9, "EXPOSURE=") == 0) {
            const size_t i = SkipBlanks(line, 9);
            float value;
            char rest[2];
            if (std::sscanf(line.c_str() + i, "%f%1s", &value, rest) != 1) return E_FAIL;
            exposure *= value;
        }
    }
    if (!haveFormat) return E_FAIL;

    if (!ReadLine(in, line)) return E_FAIL;
    size_t i = 0;
    char sign1, axis1, sign2, axis2;
    uint32_t scanlines, length;
    if (!ParseField(line, i, sign1, axis1, scanlines) || !ParseField(line, i, sign2, axis2, length) || axis1 == axis2)
        return E_FAIL;
    const bool rows = axis1 == 'Y';
    const uint32_t width = rows ? length : scanlines, height = rows ? scanlines : length;
    if (uint64_t(width) * height == 0) return E_FAIL;
    const uint64_t pitch = uint64_t(width) * 16;
    if (pitch > 0xFFFFFFFF) return E_FAIL;

    root->format = D3DFMT_A32B32G32R32F;
    root->width = width;
    root->height = height;
    root->depth = 1;
    root->rowPitch = UINT(pitch);
    root->slicePitch = 0;
    if (!root->decodePixels) return S_OK;

    // Every scanline takes at least one 4-byte pixel.
    if (in.Remaining() / 4 < scanlines) return E_FAIL;
    std::unique_ptr<BYTE[]> rgbe(AllocateBlock(uint64_t(length) * 4));
    std::unique_ptr<BYTE[]> block(AllocateBlock(pitch * height));
    if (!rgbe || !block) return E_OUTOFMEMORY;
    for (uint64_t s = 0; s < scanlines; ++s) {
        if (!ReadScanline(in, rgbe.get(), length)) return E_FAIL;
        for (uint64_t k = 0; k < length; ++k) {
            // Where scanline s, pixel k lands, always stored top row first.
            uint64_t x, y;
            if (rows) {
                y = sign1 == '-' ? s : height - 1 - s;
                x = sign2 == '+' ? k : width - 1 - k;
            } else {
                x = sign1 == '+' ? s : width - 1 - s;
                y = sign2 == '-' ? k : height - 1 - k;
            }
            const BYTE* p = rgbe.get() + k * 4;
            auto* out = reinterpret_cast<float*>(block.get() + y * pitch + x * 16);
            const int e = int(p[3]) - 136;
            for (UINT c = 0; c < 3; ++c) out[c] = float(std::ldexp(p[c] + 0.5, e) / exposure);
            out[3] = 1.0f;
        }
    }
    root->pixels = block.release();
    root->ownsPixels = true;
    return S_OK;
}
