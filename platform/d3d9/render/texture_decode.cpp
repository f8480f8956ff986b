// Texel decoding for every sampleable format, including the DXT block
// formats, into A8R8G8B8.
#include "platform/d3d9/render/texture_decode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace render {

namespace {

uint32_t Pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return (a << 24) | (r << 16) | (g << 8) | b; }

// An n-bit channel widened to 8 bits, rounded to nearest.
uint32_t Widen(uint32_t value, int bits) {
    const uint32_t top = (1u << bits) - 1;
    return (value * 255 * 2 + top) / (top * 2);
}

uint32_t FromUnit(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return uint32_t(v * 255.0f + 0.5f);
}

float HalfToFloat(uint16_t h) {
    const uint32_t sign = (h >> 15) & 1, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
    float value;
    if (exponent == 0)
        value = std::ldexp(float(mantissa), -24);
    else if (exponent == 31)
        value = mantissa ? NAN : INFINITY;
    else
        value = std::ldexp(float(mantissa | 0x400), int(exponent) - 25);
    return sign ? -value : value;
}

uint32_t Signed8(BYTE v) { return FromUnit(float(int8_t(v)) / 127.0f); }
uint32_t Signed16(uint16_t v) { return FromUnit(float(int16_t(v)) / 32767.0f); }

uint16_t Read16(const BYTE* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Read32(const BYTE* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
float ReadFloat(const BYTE* p) {
    uint32_t bits = Read32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

bool IsDxt(D3DFORMAT format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

// Bytes per texel of the uncompressed formats; 0 for the rest.
UINT TexelBytes(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8: case D3DFMT_X8R8G8B8: case D3DFMT_A2B10G10R10: case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8: case D3DFMT_G16R16: case D3DFMT_A2R10G10B10: case D3DFMT_G16R16F:
        case D3DFMT_R32F: case D3DFMT_Q8W8V8U8: case D3DFMT_V16U16:
            return 4;
        case D3DFMT_R8G8B8:
            return 3;
        case D3DFMT_R5G6B5: case D3DFMT_X1R5G5B5: case D3DFMT_A1R5G5B5: case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4: case D3DFMT_A8R3G3B2: case D3DFMT_A8L8: case D3DFMT_L16: case D3DFMT_R16F:
        case D3DFMT_V8U8:
            return 2;
        case D3DFMT_R3G3B2: case D3DFMT_A8: case D3DFMT_L8: case D3DFMT_A4L4:
            return 1;
        case D3DFMT_A16B16G16R16: case D3DFMT_A16B16G16R16F: case D3DFMT_G32R32F:
            return 8;
        case D3DFMT_A32B32G32R32F:
            return 16;
        default:
            return 0;
    }
}

uint32_t DecodeTexel(D3DFORMAT format, const BYTE* p) {
    switch (format) {
        case D3DFMT_A8R8G8B8: return Read32(p);
        case D3DFMT_X8R8G8B8: return Read32(p) | 0xFF000000u;
        case D3DFMT_R8G8B8: return Pack(255, p[2], p[1], p[0]);
        case D3DFMT_A8B8G8R8: { uint32_t v = Read32(p); return Pack(v >> 24, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }
        case D3DFMT_X8B8G8R8: { uint32_t v = Read32(p); return Pack(255, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }
        case D3DFMT_R5G6B5: { uint32_t v = Read16(p); return Pack(255, Widen(v >> 11, 5), Widen((v >> 5) & 63, 6), Widen(v & 31, 5)); }
        case D3DFMT_X1R5G5B5: { uint32_t v = Read16(p); return Pack(255, Widen((v >> 10) & 31, 5), Widen((v >> 5) & 31, 5), Widen(v & 31, 5)); }
        case D3DFMT_A1R5G5B5: { uint32_t v = Read16(p); return Pack((v & 0x8000) ? 255 : 0, Widen((v >> 10) & 31, 5), Widen((v >> 5) & 31, 5), Widen(v & 31, 5)); }
        case D3DFMT_A4R4G4B4: { uint32_t v = Read16(p); return Pack(Widen(v >> 12, 4), Widen((v >> 8) & 15, 4), Widen((v >> 4) & 15, 4), Widen(v & 15, 4)); }
        case D3DFMT_X4R4G4B4: { uint32_t v = Read16(p); return Pack(255, Widen((v >> 8) & 15, 4), Widen((v >> 4) & 15, 4), Widen(v & 15, 4)); }
        case D3DFMT_R3G3B2: { uint32_t v = p[0]; return Pack(255, Widen(v >> 5, 3), Widen((v >> 2) & 7, 3), Widen(v & 3, 2)); }
        case D3DFMT_A8R3G3B2: { uint32_t v = Read16(p); return Pack(v >> 8, Widen((v >> 5) & 7, 3), Widen((v >> 2) & 7, 3), Widen(v & 3, 2)); }
        case D3DFMT_A8: return Pack(p[0], 0, 0, 0);
        case D3DFMT_L8: return Pack(255, p[0], p[0], p[0]);
        case D3DFMT_A8L8: return Pack(p[1], p[0], p[0], p[0]);
        case D3DFMT_A4L4: { uint32_t l = Widen(p[0] & 15, 4); return Pack(Widen(p[0] >> 4, 4), l, l, l); }
        case D3DFMT_L16: { uint32_t l = Widen(Read16(p), 16); return Pack(255, l, l, l); }
        case D3DFMT_A2B10G10R10: { uint32_t v = Read32(p); return Pack(Widen(v >> 30, 2), Widen(v & 1023, 10), Widen((v >> 10) & 1023, 10), Widen((v >> 20) & 1023, 10)); }
        case D3DFMT_A2R10G10B10: { uint32_t v = Read32(p); return Pack(Widen(v >> 30, 2), Widen((v >> 20) & 1023, 10), Widen((v >> 10) & 1023, 10), Widen(v & 1023, 10)); }
        // Formats without a blue (or green) channel read it as 1.
        case D3DFMT_G16R16: return Pack(255, Widen(Read16(p), 16), Widen(Read16(p + 2), 16), 255);
        case D3DFMT_A16B16G16R16: return Pack(Widen(Read16(p + 6), 16), Widen(Read16(p), 16), Widen(Read16(p + 2), 16), Widen(Read16(p + 4), 16));
        case D3DFMT_R16F: return Pack(255, FromUnit(HalfToFloat(Read16(p))), 255, 255);
        case D3DFMT_G16R16F: return Pack(255, FromUnit(HalfToFloat(Read16(p))), FromUnit(HalfToFloat(Read16(p + 2))), 255);
        case D3DFMT_A16B16G16R16F:
            return Pack(FromUnit(HalfToFloat(Read16(p + 6))), FromUnit(HalfToFloat(Read16(p))),
                        FromUnit(HalfToFloat(Read16(p + 2))), FromUnit(HalfToFloat(Read16(p + 4))));
        case D3DFMT_R32F: return Pack(255, FromUnit(ReadFloat(p)), 255, 255);
        case D3DFMT_G32R32F: return Pack(255, FromUnit(ReadFloat(p)), FromUnit(ReadFloat(p + 4)), 255);
        case D3DFMT_A32B32G32R32F:
            return Pack(FromUnit(ReadFloat(p + 12)), FromUnit(ReadFloat(p)), FromUnit(ReadFloat(p + 4)), FromUnit(ReadFloat(p + 8)));
        // Signed formats read as colours: negative values clamp to 0,
        // missing channels read 1.
        case D3DFMT_V8U8: return Pack(255, Signed8(p[0]), Signed8(p[1]), 255);
        case D3DFMT_Q8W8V8U8: return Pack(Signed8(p[3]), Signed8(p[0]), Signed8(p[1]), Signed8(p[2]));
        case D3DFMT_V16U16: return Pack(255, Signed16(Read16(p)), Signed16(Read16(p + 2)), 255);
        default: return 0xFFFFFFFFu;
    }
}

void Expand565(uint32_t c, uint32_t& r, uint32_t& g, uint32_t& b) {
    r = Widen(c >> 11, 5);
    g = Widen((c >> 5) & 63, 6);
    b = Widen(c & 31, 5);
}

}  // namespace

bool IsSampleableFormat(D3DFORMAT format) { return IsDxt(format) || TexelBytes(format) != 0; }

bool IsDirectFormat(D3DFORMAT format, uint32_t& alphaOr) {
    if (format == D3DFMT_A8R8G8B8) {
        alphaOr = 0;
        return true;
    }
    if (format == D3DFMT_X8R8G8B8) {
        alphaOr = 0xFF000000u;
        return true;
    }
    return false;
}

size_t LevelByteSize(D3DFORMAT format, UINT width, UINT height, INT pitch) {
    if (pitch <= 0 || width == 0 || height == 0) return 0;
    if (IsDxt(format)) {
        const size_t rows = (size_t(height) + 3) / 4;
        const size_t rowBytes = ((size_t(width) + 3) / 4) * (format == D3DFMT_DXT1 ? 8 : 16);
        return (rows - 1) * size_t(pitch) + rowBytes;
    }
    const UINT bytes = TexelBytes(format);
    if (bytes == 0) return 0;
    return (size_t(height) - 1) * size_t(pitch) + size_t(width) * bytes;
}

void DecodeDxtBlock(D3DFORMAT format, const BYTE* block, uint32_t out[16]) {
    const BYTE* colorBlock = format == D3DFMT_DXT1 ? block : block + 8;
    const uint32_t c0 = Read16(colorBlock), c1 = Read16(colorBlock + 2);
    uint32_t r[4], g[4], b[4], a[4] = {255, 255, 255, 255};
    Expand565(c0, r[0], g[0], b[0]);
    Expand565(c1, r[1], g[1], b[1]);
    // Only DXT1 has the three-colour mode with transparent black.
    if (c0 > c1 || format != D3DFMT_DXT1) {
        r[2] = (2 * r[0] + r[1] + 1) / 3, g[2] = (2 * g[0] + g[1] + 1) / 3, b[2] = (2 * b[0] + b[1] + 1) / 3;
        r[3] = (r[0] + 2 * r[1] + 1) / 3, g[3] = (g[0] + 2 * g[1] + 1) / 3, b[3] = (b[0] + 2 * b[1] + 1) / 3;
    } else {
        r[2] = (r[0] + r[1] + 1) / 2, g[2] = (g[0] + g[1] + 1) / 2, b[2] = (b[0] + b[1] + 1) / 2;
        r[3] = g[3] = b[3] = 0;
        a[3] = 0;
    }
    const uint32_t indices = Read32(colorBlock + 4);
    for (int i = 0; i < 16; ++i) {
        const uint32_t k = (indices >> (2 * i)) & 3;
        out[i] = Pack(a[k], r[k], g[k], b[k]);
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        for (int i = 0; i < 16; ++i) {
            const uint32_t nibble = (block[i / 2] >> ((i & 1) * 4)) & 15;
            out[i] = (out[i] & 0x00FFFFFFu) | (Widen(nibble, 4) << 24);
        }
    } else if (format == D3DFMT_DXT4 || format == D3DFMT_DXT5) {
        uint32_t alpha[8];
        alpha[0] = block[0];
        alpha[1] = block[1];
        if (alpha[0] > alpha[1]) {
            for (int i = 1; i < 7; ++i) alpha[i + 1] = ((7 - i) * alpha[0] + i * alpha[1] + 3) / 7;
        } else {
            for (int i = 1; i < 5; ++i) alpha[i + 1] = ((5 - i) * alpha[0] + i * alpha[1] + 2) / 5;
            alpha[6] = 0;
            alpha[7] = 255;
        }
        uint64_t bits = 0;
        for (int i = 0; i < 6; ++i) bits |= uint64_t(block[2 + i]) << (8 * i);
        for (int i = 0; i < 16; ++i) out[i] = (out[i] & 0x00FFFFFFu) | (alpha[(bits >> (3 * i)) & 7] << 24);
    }
}

void DecodeLevel(const SurfaceView& level, uint32_t* out) {
    const UINT w = level.width, h = level.height;
    if (IsDxt(level.format)) {
        const UINT blockBytes = level.format == D3DFMT_DXT1 ? 8 : 16;
        uint32_t texels[16];
        for (UINT by = 0; by < (h + 3) / 4; ++by) {
            const BYTE* row = level.bits + size_t(by) * size_t(level.pitch);
            for (UINT bx = 0; bx < (w + 3) / 4; ++bx) {
                DecodeDxtBlock(level.format, row + size_t(bx) * blockBytes, texels);
                for (UINT j = 0; j < 4 && by * 4 + j < h; ++j)
                    for (UINT i = 0; i < 4 && bx * 4 + i < w; ++i)
                        out[size_t(by * 4 + j) * w + bx * 4 + i] = texels[j * 4 + i];
            }
        }
        return;
    }
    const UINT bytes = TexelBytes(level.format);
    for (UINT y = 0; y < h; ++y) {
        const BYTE* row = level.bits + size_t(y) * size_t(level.pitch);
        uint32_t* dst = out + size_t(y) * w;
        for (UINT x = 0; x < w; ++x) dst[x] = DecodeTexel(level.format, row + size_t(x) * bytes);
    }
}

const uint32_t* DecodeCache::Get(const SurfaceView& level) {
    const size_t size = LevelByteSize(level.format, level.width, level.height, level.pitch);
    ++clock_;
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->bits == level.bits && it->format == level.format && it->width == level.width &&
            it->height == level.height && it->pitch == level.pitch && it->source.size() == size) {
            if (std::memcmp(it->source.data(), level.bits, size) != 0) {
                std::memcpy(it->source.data(), level.bits, size);
                DecodeLevel(level, it->texels.data());
            }
            it->lastUse = clock_;
            entries_.splice(entries_.begin(), entries_, it);
            return entries_.front().texels.data();
        }
    }
    Entry entry{level.bits, level.format, level.width, level.height, level.pitch,
                std::vector<BYTE>(level.bits, level.bits + size),
                std::vector<uint32_t>(size_t(level.width) * level.height), clock_};
    DecodeLevel(level, entry.texels.data());
    held_ += entry.source.size() + entry.texels.size() * 4;
    entries_.push_front(std::move(entry));
    // Drop the least recently used copies, never one this draw uses.
    while (held_ > budget_ && entries_.back().lastUse < drawStart_) {
        const Entry& last = entries_.back();
        held_ -= last.source.size() + last.texels.size() * 4;
        entries_.pop_back();
    }
    return entries_.front().texels.data();
}

}  // namespace render
