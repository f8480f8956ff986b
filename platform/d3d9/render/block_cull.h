// Object-space boxes over blocks of a large indexed triangle list, kept
// across draws while the buffers' bytes stay the same, so that a draw can
// leave out the blocks its camera cannot see before transforming any of
// their vertices.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/render/draw_state.h"

namespace render {

// Triangles per block: fewer skip more of a partly seen mesh, more cost less
// to test per draw. Blocks are tested in groups first, so that a mesh
// mostly out of view costs few tests.
constexpr uint32_t kBlockTriangles = 32;
constexpr uint32_t kGroupBlocks = 16;

struct TriangleBlock {
    float lo[3], hi[3];         // box of the positions its corners name
    uint32_t indexLo, indexHi;  // range of the indices its corners hold
    bool keep;                  // a corner unreadable or not finite: never skipped
};

// The blocks of one draw: block b holds triangles b * kBlockTriangles on;
// group g covers blocks g * kGroupBlocks on.
struct BlockSet {
    uint32_t indexLo = 0, indexHi = 0;  // over all the draw's indices
    std::vector<TriangleBlock> blocks, groups;
};

class BlockCache {
public:
    // The blocks of an indexed triangle list from buffers (both views' sources
    // known) with untransformed float3 positions at `positionOffset`; null
    // while this draw has not been seen before with the same bytes, so that
    // buffers rewritten for every draw cost no boxes.
    const BlockSet* Find(const DrawState& state, int positionOffset, uint32_t startIndex, uint32_t primitives,
                         int32_t baseVertex);

private:
    struct Key {
        BufferVersion indices, vertices;
        UINT streamOffset, streamSize, stride;
        D3DFORMAT format;
        int positionOffset;
        uint32_t startIndex, primitives;
        int32_t baseVertex;
        bool operator==(const Key& o) const;
    };
    struct Entry {
        Key key{};
        uint64_t lastUse = 0;
        bool built = false;
        BlockSet set;
    };
    static void Build(const DrawState& state, const Key& key, BlockSet& set);

    static constexpr size_t kEntries = 16;
    std::vector<Entry> entries_;
    uint64_t clock_ = 0;
};

// Whether every point of a box, through `wvp` as the vertex processor
// computes it in float, lands strictly outside one side of the view volume,
// so that every triangle within gets trivially rejected. Conservative: it
// allows for the rounding of the processor's sums, and says false for
// non-finite or overflowing values.
class OutsideTest {
public:
    explicit OutsideTest(const float wvp[4][4]);
    bool Outside(const float lo[3], const float hi[3]) const;

private:
    // The six sides as a x + b y + c z + d < 0 (x < -w: x + w, x > w: w - x,
    // ..., z < 0: z, z > w: w - z), each with the columns whose rounding it
    // adds up.
    double side_[6][4];
    int columns_[6][2];
    double magnitude_[4][4];  // |wvp|, to bound the rounding of each column
    bool usable_ = true;
};

inline bool BoxOutside(const float lo[3], const float hi[3], const float wvp[4][4]) {
    return OutsideTest(wvp).Outside(lo, hi);
}

}  // namespace render
