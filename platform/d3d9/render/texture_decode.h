// Turning texture levels of any format the device accepts into 32-bit
// A8R8G8B8 texels, so the sampler reads one layout. A decoded copy is kept
// per level and reused while the level's bytes stay the same.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "platform/d3d9/render/draw_state.h"

namespace render {

// True when the sampler can read `format` (in place or decoded).
bool IsSampleableFormat(D3DFORMAT format);

// True when a level of `format` is already 32-bit B, G, R, A bytes in memory
// and can be sampled in place; `alphaOr` gets the bits to OR into each texel
// (0xFF000000 for formats without alpha).
bool IsDirectFormat(D3DFORMAT format, uint32_t& alphaOr);

// Bytes a level of this format and size occupies with the given pitch (rows
// of 4x4 blocks for DXT formats); 0 when the format is not sampleable.
size_t LevelByteSize(D3DFORMAT format, UINT width, UINT height, INT pitch);

// Decodes a whole level into width*height A8R8G8B8 texels, row by row.
void DecodeLevel(const SurfaceView& level, uint32_t* out);

// One 4x4 block of a DXT1..DXT5 format into 16 A8R8G8B8 texels, rows first.
void DecodeDxtBlock(D3DFORMAT format, const BYTE* block, uint32_t out[16]);

// Decoded copies of texture levels, keyed by their address, format and size
// and checked against a copy of the source bytes, so a level that was
// locked and rewritten is decoded again. Least recently used copies are
// dropped beyond a memory budget.
class DecodeCache {
public:
    explicit DecodeCache(size_t budgetBytes = size_t(64) << 20) : budget_(budgetBytes) {}
    // Starts a draw: levels fetched from here on stay valid until the next
    // call of BeginDraw.
    void BeginDraw() { drawStart_ = ++clock_; }
    // Texels of the decoded level (width*height, pitch = width).
    const uint32_t* Get(const SurfaceView& level);
    size_t BytesHeld() const { return held_; }
    size_t Budget() const { return budget_; }

private:
    struct Entry {
        const BYTE* bits;
        D3DFORMAT format;
        UINT width, height;
        INT pitch;
        std::vector<BYTE> source;
        std::vector<uint32_t> texels;
        uint64_t lastUse;
    };
    std::list<Entry> entries_;
    size_t budget_;
    size_t held_ = 0;
    uint64_t clock_ = 0;
    uint64_t drawStart_ = 0;
};

}  // namespace render
