#include "platform/d3d9/format_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

bool GetFormatLayout(D3DFORMAT format, FormatLayout* layout) {
    FormatLayout l;
    switch (format) {
        case D3DFMT_R3G3B2:
        case D3DFMT_A8:
        case D3DFMT_P8:
        case D3DFMT_L8:
        case D3DFMT_A4L4:
            l.blockBytes = 1;
            break;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_A8R3G3B2:
        case D3DFMT_X4R4G4B4:
        case D3DFMT_A8P8:
        case D3DFMT_A8L8:
        case D3DFMT_V8U8:
        case D3DFMT_L6V5U5:
        case D3DFMT_D16_LOCKABLE:
        case D3DFMT_D15S1:
        case D3DFMT_D16:
        case D3DFMT_L16:
        case D3DFMT_R16F:
        case D3DFMT_CxV8U8:
            l.blockBytes = 2;
            break;
        case D3DFMT_R8G8B8:
            l.blockBytes = 3;
            break;
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
        case D3DFMT_A2B10G10R10:
        case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8:
        case D3DFMT_G16R16:
        case D3DFMT_A2R10G10B10:
        case D3DFMT_X8L8V8U8:
        case D3DFMT_Q8W8V8U8:
        case D3DFMT_V16U16:
        case D3DFMT_A2W10V10U10:
        case D3DFMT_D32:
        case D3DFMT_D24S8:
        case D3DFMT_D24X8:
        case D3DFMT_D24X4S4:
        case D3DFMT_D32F_LOCKABLE:
        case D3DFMT_D24FS8:
        case D3DFMT_G16R16F:
        case D3DFMT_R32F:
            l.blockBytes = 4;
            break;
        case D3DFMT_A16B16G16R16:
        case D3DFMT_Q16W16V16U16:
        case D3DFMT_A16B16G16R16F:
        case D3DFMT_G32R32F:
            l.blockBytes = 8;
            break;
        case D3DFMT_A32B32G32R32F:
            l.blockBytes = 16;
            break;
        case D3DFMT_UYVY:
        case D3DFMT_YUY2:
        case D3DFMT_R8G8_B8G8:
        case D3DFMT_G8R8_G8B8:
            l.blockBytes = 4;
            l.blockWidth = 2;
            break;
        case D3DFMT_DXT1:
            l.blockBytes = 8;
            l.blockWidth = l.blockHeight = 4;
            break;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            l.blockBytes = 16;
            l.blockWidth = l.blockHeight = 4;
            break;
        default:
            return false;
    }
    if (layout) *layout = l;
    return true;
}

bool IsCompressedFormat(D3DFORMAT format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

bool IsDepthFormat(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_D16_LOCKABLE:
        case D3DFMT_D32:
        case D3DFMT_D15S1:
        case D3DFMT_D24S8:
        case D3DFMT_D24X8:
        case D3DFMT_D24X4S4:
        case D3DFMT_D16:
        case D3DFMT_D32F_LOCKABLE:
        case D3DFMT_D24FS8:
            return true;
        default:
            return false;
    }
}

LevelExtent ComputeLevelExtent(const FormatLayout& layout, UINT width, UINT height) {
    LevelExtent e;
    const std::uint64_t blocksWide = (std::uint64_t(width) + layout.blockWidth - 1) / layout.blockWidth;
    std::uint64_t pitch = blocksWide * layout.blockBytes;
    if (layout.blockWidth == 1) pitch = (pitch + 3) & ~std::uint64_t(3);
    e.pitch = static_cast<UINT>(pitch);  // callers keep widths far below overflow
    e.rows = (height + layout.blockHeight - 1) / layout.blockHeight;
    e.slice = pitch * e.rows;
    return e;
}

UINT FullMipChainLength(UINT width, UINT height, UINT depth) {
    UINT largest = std::max({width, height, depth});
    UINT levels = 1;
    while (largest > 1) {
        largest >>= 1;
        ++levels;
    }
    return levels;
}

namespace {

float HalfToFloat(WORD h) {
    const int sign = (h >> 15) & 1, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
    float v;
    if (exponent == 0)
        v = std::ldexp(float(mantissa), -24);
    else if (exponent == 31)
        v = mantissa ? NAN : INFINITY;
    else
        v = std::ldexp(float(mantissa | 0x400), exponent - 25);
    return sign ? -v : v;
}

WORD FloatToHalf(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, 4);
    const WORD sign = WORD((bits >> 16) & 0x8000);
    if (std::isnan(f)) return WORD(sign | 0x7E00);
    const float a = std::fabs(f);
    if (a >= 65520.0f) return WORD(sign | 0x7C00);  // rounds past the largest half
    if (a < std::ldexp(1.0f, -14)) {
        // Subnormal: units of 2^-24, rounded to nearest even.
        return WORD(sign | WORD(std::nearbyint(a * 16777216.0f)));
    }
    int exponent;
    float m = std::frexp(a, &exponent);  // a = m * 2^exponent, m in [0.5, 1)
    DWORD mant = DWORD(std::nearbyint(m * 2048.0f));  // 11 significant bits
    if (mant == 2048) {
        mant = 1024;
        ++exponent;
    }
    const int biased = exponent - 1 + 15;
    if (biased >= 31) return WORD(sign | 0x7C00);
    return WORD(sign | (biased << 10) | (mant & 0x3FF));
}

std::uint64_t ReadBits(const BYTE* p, UINT bytes) {
    std::uint64_t v = 0;
    for (UINT i = 0; i < bytes && i < 8; ++i) v |= std::uint64_t(p[i]) << (8 * i);
    return v;
}

void WriteBits(BYTE* p, UINT bytes, std::uint64_t v) {
    for (UINT i = 0; i < bytes && i < 8; ++i) p[i] = BYTE(v >> (8 * i));
}

ChannelLayout Packed(UINT bytes, std::initializer_list<std::pair<int, int>> fields) {
    ChannelLayout l;
    l.kind = ChannelKind::Unorm;
    l.bytes = bytes;
    for (auto [offset, bits] : fields) {
        l.offset[l.count] = BYTE(offset);
        l.bits[l.count] = BYTE(bits);
        ++l.count;
    }
    return l;
}

ChannelLayout Floats(ChannelKind kind, UINT count) {
    ChannelLayout l;
    l.kind = kind;
    const UINT size = kind == ChannelKind::Half ? 2 : 4;
    l.bytes = size * count;
    l.count = count;
    for (UINT i = 0; i < count; ++i) {
        l.offset[i] = BYTE(i * size);
        l.bits[i] = BYTE(size * 8);
    }
    return l;
}

}  // namespace

bool GetChannelLayout(D3DFORMAT format, ChannelLayout* layout) {
    ChannelLayout l;
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
        case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8:
            l = Packed(4, {{0, 8}, {8, 8}, {16, 8}, {24, 8}});
            break;
        case D3DFMT_R5G6B5:
            l = Packed(2, {{0, 5}, {5, 6}, {11, 5}});
            break;
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
            l = Packed(2, {{0, 5}, {5, 5}, {10, 5}, {15, 1}});
            break;
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
            l = Packed(2, {{0, 4}, {4, 4}, {8, 4}, {12, 4}});
            break;
        case D3DFMT_A2R10G10B10:
        case D3DFMT_A2B10G10R10:
            l = Packed(4, {{0, 10}, {10, 10}, {20, 10}, {30, 2}});
            break;
        case D3DFMT_G16R16:
            l = Packed(4, {{0, 16}, {16, 16}});
            break;
        case D3DFMT_A16B16G16R16:
            l = Packed(8, {{0, 16}, {16, 16}, {32, 16}, {48, 16}});
            break;
        case D3DFMT_L8:
        case D3DFMT_A8:
            l = Packed(1, {{0, 8}});
            break;
        case D3DFMT_A8L8:
            l = Packed(2, {{0, 8}, {8, 8}});
            break;
        case D3DFMT_L16:
            l = Packed(2, {{0, 16}});
            break;
        case D3DFMT_R16F:
            l = Floats(ChannelKind::Half, 1);
            break;
        case D3DFMT_G16R16F:
            l = Floats(ChannelKind::Half, 2);
            break;
        case D3DFMT_A16B16G16R16F:
            l = Floats(ChannelKind::Half, 4);
            break;
        case D3DFMT_R32F:
            l = Floats(ChannelKind::Float, 1);
            break;
        case D3DFMT_G32R32F:
            l = Floats(ChannelKind::Float, 2);
            break;
        case D3DFMT_A32B32G32R32F:
            l = Floats(ChannelKind::Float, 4);
            break;
        default:
            return false;
    }
    if (layout) *layout = l;
    return true;
}

void DecodePixel(const ChannelLayout& layout, const BYTE* pixel, float out[4]) {
    if (layout.kind == ChannelKind::Unorm) {
        const std::uint64_t v = ReadBits(pixel, layout.bytes);
        for (UINT i = 0; i < layout.count; ++i) {
            const std::uint64_t max = (std::uint64_t(1) << layout.bits[i]) - 1;
            out[i] = float((v >> layout.offset[i]) & max) / float(max);
        }
    } else if (layout.kind == ChannelKind::Half) {
        for (UINT i = 0; i < layout.count; ++i) {
            WORD h;
            std::memcpy(&h, pixel + layout.offset[i], 2);
            out[i] = HalfToFloat(h);
        }
    } else {
        for (UINT i = 0; i < layout.count; ++i) std::memcpy(&out[i], pixel + layout.offset[i], 4);
    }
}

void EncodePixel(const ChannelLayout& layout, const float in[4], BYTE* pixel) {
    if (layout.kind == ChannelKind::Unorm) {
        std::uint64_t v = 0;
        for (UINT i = 0; i < layout.count; ++i) {
            const std::uint64_t max = (std::uint64_t(1) << layout.bits[i]) - 1;
            const float c = std::clamp(in[i], 0.0f, 1.0f);
            v |= std::uint64_t(std::lround(double(c) * double(max))) << layout.offset[i];
        }
        WriteBits(pixel, layout.bytes, v);
    } else if (layout.kind == ChannelKind::Half) {
        for (UINT i = 0; i < layout.count; ++i) {
            const WORD h = FloatToHalf(in[i]);
            std::memcpy(pixel + layout.offset[i], &h, 2);
        }
    } else {
        for (UINT i = 0; i < layout.count; ++i) std::memcpy(pixel + layout.offset[i], &in[i], 4);
    }
}
