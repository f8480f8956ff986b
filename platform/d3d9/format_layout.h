// Storage of the pixel formats the device knows: bytes per pixel or per
// block, block sizes, row pitches and level sizes, and the channel layout of
// the formats a filtered copy can blend.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/d3d9/d3d9.h"

// Resource memory: zeroed blocks from calloc, so large ones take pages only
// as they are written.
struct FreeDeleter {
    void operator()(BYTE* p) const { std::free(p); }
};
using ZeroedBytes = std::unique_ptr<BYTE[], FreeDeleter>;
inline ZeroedBytes AllocateZeroed(size_t size) {
    return ZeroedBytes(static_cast<BYTE*>(std::calloc(size ? size : 1, 1)));
}

struct FormatLayout {
    UINT blockBytes = 0;   // bytes of one pixel, or of one block
    UINT blockWidth = 1;   // 4 for DXT, 2 for the two-pixel (YUV) formats
    UINT blockHeight = 1;  // 4 for DXT
};

// False for a format that has no storage (unknown, index or vertex data).
bool GetFormatLayout(D3DFORMAT format, FormatLayout* layout);
bool IsCompressedFormat(D3DFORMAT format);  // DXT1-DXT5
bool IsDepthFormat(D3DFORMAT format);

// Rows of pixels are padded to whole 32-bit words; compressed rows hold one
// row of 4x4 blocks, two-pixel rows whole pairs.
struct LevelExtent {
    UINT pitch = 0;           // bytes from one row (of blocks) to the next
    UINT rows = 0;            // rows of pixels, or of blocks
    std::uint64_t slice = 0;  // pitch * rows
};
LevelExtent ComputeLevelExtent(const FormatLayout& layout, UINT width, UINT height);

// Number of levels of a full mip chain down to 1x1(x1).
UINT FullMipChainLength(UINT width, UINT height, UINT depth);
inline UINT MipSize(UINT size, UINT level) { return (size >> level) ? (size >> level) : 1u; }
inline bool IsPowerOfTwo(UINT v) { return v != 0 && (v & (v - 1)) == 0; }

// Channel layout for blending pixels: each channel is a bit field of an
// unsigned normalised format, or a 16/32-bit float. Every bit that carries
// data (X bits too) is a channel so a blend keeps them.
enum class ChannelKind { Unorm, Half, Float };
struct ChannelLayout {
    ChannelKind kind = ChannelKind::Unorm;
    UINT bytes = 0;  // per pixel
    UINT count = 0;
    BYTE offset[4] = {};  // bit offset (Unorm) or byte offset (Half, Float)
    BYTE bits[4] = {};
};
bool GetChannelLayout(D3DFORMAT format, ChannelLayout* layout);
void DecodePixel(const ChannelLayout& layout, const BYTE* pixel, float out[4]);
void EncodePixel(const ChannelLayout& layout, const float in[4], BYTE* pixel);
