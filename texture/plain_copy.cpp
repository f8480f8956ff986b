// Same-size copies from the plain 8-bit formats into A8R8G8B8 or X8R8G8B8
// as a byte shuffle per pixel. Every 8-bit value survives the trip through
// Colour4 unchanged (v / 255 * 255 + threshold truncates back to v for any
// threshold in (0, 1)), so the shuffle stores exactly what the codecs would.
#include <utility>
#include <cstdint>
#include <cstring>
#include <memory>

#include "texture/copy_engine.h"

namespace {
enum class Plain { R8G8B8, X8R8G8B8, A8R8G8B8, X8B8G8R8, A8B8G8R8, L8, A8L8, Other };

Plain Classify(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_R8G8B8: return Plain::R8G8B8;
        case D3DFMT_X8R8G8B8: return Plain::X8R8G8B8;
        case D3DFMT_A8R8G8B8: return Plain::A8R8G8B8;
        case D3DFMT_X8B8G8R8: return Plain::X8B8G8R8;
        case D3DFMT_A8B8G8R8: return Plain::A8B8G8R8;
        case D3DFMT_L8: return Plain::L8;
        case D3DFMT_A8L8: return Plain::A8L8;
        default: return Plain::Other;
    }
}

UINT PlainBytes(Plain p) {
    switch (p) {
        case Plain::R8G8B8: return 3;
        case Plain::L8: return 1;
        case Plain::A8L8: return 2;
        default: return 4;
    }
}

inline uint32_t Load32(const BYTE* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The source pixel as the A8R8G8B8 word the codecs would produce from it;
// a channel the format lacks reads as opaque alpha.
template <Plain P>
inline uint32_t ToArgb(const BYTE* p) {
    if constexpr (P == Plain::R8G8B8) return 0xFF000000u | p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    if constexpr (P == Plain::X8R8G8B8) return Load32(p) | 0xFF000000u;
    if constexpr (P == Plain::A8R8G8B8) return Load32(p);
    if constexpr (P == Plain::X8B8G8R8 || P == Plain::A8B8G8R8) {
        const uint32_t v = Load32(p);
        const uint32_t swapped = (v & 0xFF00FF00u) | (v & 0xFFu) << 16 | (v >> 16 & 0xFFu);
        return P == Plain::X8B8G8R8 ? swapped | 0xFF000000u : swapped;
    }
    if constexpr (P == Plain::L8) return 0xFF000000u | uint32_t(p[0]) * 0x010101u;
    if constexpr (P == Plain::A8L8) return uint32_t(p[1]) << 24 | uint32_t(p[0]) * 0x010101u;
    return 0;
}

struct Block {
    BYTE* first;
    UINT rowPitch, slicePitch;
};

Block FirstPixel(const PixelSurface& s, UINT bytesPerPixel) {
    return {s.pixels + size_t(s.box.Front) * s.slicePitch + size_t(s.box.Top) * s.rowPitch +
                size_t(s.box.Left) * bytesPerPixel,
            s.rowPitch, s.slicePitch};
}

// Keyed pixels become transparent black, which an X8R8G8B8 destination
// stores with its X byte set, as every write to that format does.
template <Plain P, bool Keyed>
void ConvertRows(Block to, Block from, UINT width, UINT height, UINT depth, uint32_t key, uint32_t destOr) {
    constexpr UINT bytes = P == Plain::R8G8B8 ? 3 : P == Plain::L8 ? 1 : P == Plain::A8L8 ? 2 : 4;
    for (UINT z = 0; z < depth; ++z)
        for (UINT y = 0; y < height; ++y) {
            const BYTE* in = from.first + size_t(z) * from.slicePitch + size_t(y) * from.rowPitch;
            BYTE* out = to.first + size_t(z) * to.slicePitch + size_t(y) * to.rowPitch;
            for (UINT x = 0; x < width; ++x, in += bytes, out += 4) {
                uint32_t v = ToArgb<P>(in);
                if constexpr (Keyed) v = v == key ? 0 : v;
                v |= destOr;
                std::memcpy(out, &v, 4);
            }
        }
}

template <Plain P>
void Convert(Block to, Block from, UINT width, UINT height, UINT depth, bool keyed, uint32_t key,
             uint32_t destOr) {
    if (keyed)
        ConvertRows<P, true>(to, from, width, height, depth, key, destOr);
    else
        ConvertRows<P, false>(to, from, width, height, depth, key, destOr);
}

// The colour key as the source format stores it, read back as A8R8G8B8:
// the same round trip the source codec makes before comparing pixels.
bool StoredKey(D3DFORMAT format, D3DCOLOR key, uint32_t& argb) {
    alignas(16) BYTE pixel[16] = {};
    PixelSurface one;
    one.pixels = pixel;
    one.format = format;
    one.rowPitch = sizeof(pixel);
    one.slicePitch = sizeof(pixel);
    one.box = {0, 0, 1, 1, 0, 1};
    std::unique_ptr<PixelCodec> probe;
    if (CreatePixelCodec(one, probe) != S_OK || !probe) return false;
    constexpr float k = 0.003921569f;
    const Colour4 colour = {((key >> 16) & 0xFF) * k, ((key >> 8) & 0xFF) * k, (key & 0xFF) * k, (key >> 24) * k};
    probe->WriteRow(0, 0, &colour);
    switch (Classify(format)) {
        case Plain::R8G8B8: argb = ToArgb<Plain::R8G8B8>(pixel); break;
        case Plain::X8R8G8B8: argb = ToArgb<Plain::X8R8G8B8>(pixel); break;
        case Plain::A8R8G8B8: argb = ToArgb<Plain::A8R8G8B8>(pixel); break;
        case Plain::X8B8G8R8: argb = ToArgb<Plain::X8B8G8R8>(pixel); break;
        case Plain::A8B8G8R8: argb = ToArgb<Plain::A8B8G8R8>(pixel); break;
        case Plain::L8: argb = ToArgb<Plain::L8>(pixel); break;
        case Plain::A8L8: argb = ToArgb<Plain::A8L8>(pixel); break;
        case Plain::Other: return false;
    }
    return true;
}

UINT Extent(UINT low, UINT high) { return high > low ? high - low : 0; }
}  // namespace

bool CopyPlainPixels(const PixelSurface& dest, const PixelSurface& source) {
    if (dest.format != D3DFMT_A8R8G8B8 && dest.format != D3DFMT_X8R8G8B8) return false;
    const Plain kind = Classify(source.format);
    if (kind == Plain::Other || source.format == dest.format) return false;
    // Gamma and error diffusion change values; ordered dither cannot move
    // an exact 8-bit value.
    if (source.gamma || dest.gamma || dest.diffusionDither) return false;
    const UINT width = Extent(dest.box.Left, dest.box.Right);
    const UINT height = Extent(dest.box.Top, dest.box.Bottom);
    const UINT depth = Extent(dest.box.Front, dest.box.Back);
    if (width != Extent(source.box.Left, source.box.Right) || height != Extent(source.box.Top, source.box.Bottom) ||
        depth != Extent(source.box.Front, source.box.Back) || width == 0 || height == 0 || depth == 0)
        return false;

    const UINT sourceBytes = PlainBytes(kind);
    const Block from = FirstPixel(source, sourceBytes);
    const Block to = FirstPixel(dest, 4);
    // The codecs finish reading a row before writing it; a shuffle in place
    // would read bytes it has already overwritten, so overlapping blocks
    // take the general path.
    const auto span = [&](const Block& b, UINT pixelBytes) {
        const size_t last = size_t(depth - 1) * b.slicePitch + size_t(height - 1) * b.rowPitch +
                            size_t(width) * pixelBytes;
        return std::pair<uintptr_t, uintptr_t>(reinterpret_cast<uintptr_t>(b.first),
                                               reinterpret_cast<uintptr_t>(b.first) + last);
    };
    const auto a = span(from, sourceBytes), b = span(to, 4);
    if (a.first < b.second && b.first < a.second) return false;

    uint32_t key = 0;
    const bool keyed = source.colourKey != 0;
    if (keyed && !StoredKey(source.format, source.colourKey, key)) return false;
    const uint32_t destOr = dest.format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0;

    switch (kind) {
        case Plain::R8G8B8: Convert<Plain::R8G8B8>(to, from, width, height, depth, keyed, key, destOr); break;
        case Plain::X8R8G8B8: Convert<Plain::X8R8G8B8>(to, from, width, height, depth, keyed, key, destOr); break;
        case Plain::A8R8G8B8: Convert<Plain::A8R8G8B8>(to, from, width, height, depth, keyed, key, destOr); break;
        case Plain::X8B8G8R8: Convert<Plain::X8B8G8R8>(to, from, width, height, depth, keyed, key, destOr); break;
        case Plain::A8B8G8R8: Convert<Plain::A8B8G8R8>(to, from, width, height, depth, keyed, key, destOr); break;
        case Plain::L8: Convert<Plain::L8>(to, from, width, height, depth, keyed, key, destOr); break;
        case Plain::A8L8: Convert<Plain::A8L8>(to, from, width, height, depth, keyed, key, destOr); break;
        case Plain::Other: return false;
    }
    return true;
}
