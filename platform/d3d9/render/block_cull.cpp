#include "platform/d3d9/render/block_cull.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace render {

bool BlockCache::Key::operator==(const Key& o) const {
    return indices.id == o.indices.id && indices.changes == o.indices.changes && vertices.id == o.vertices.id &&
           vertices.changes == o.vertices.changes && streamOffset == o.streamOffset && streamSize == o.streamSize &&
           stride == o.stride && format == o.format && positionOffset == o.positionOffset &&
           startIndex == o.startIndex && primitives == o.primitives && baseVertex == o.baseVertex;
}

const BlockSet* BlockCache::Find(const DrawState& state, int positionOffset, uint32_t startIndex,
                                 uint32_t primitives, int32_t baseVertex) {
    if (!state.indices.source.Known() || !state.stream0.source.Known() || positionOffset < 0) return nullptr;
    const Key key{state.indices.source, state.stream0.source, state.stream0.offset, state.stream0.size,
                  state.stream0.stride, state.indices.format, positionOffset, startIndex, primitives, baseVertex};
    ++clock_;
    for (Entry& e : entries_) {
        if (!(e.key == key)) continue;
        e.lastUse = clock_;
        if (!e.built) Build(state, key, e.set), e.built = true;
        return &e.set;
    }
    // First sighting: remember the draw only, in a free or the least
    // recently used entry.
    Entry* slot = nullptr;
    if (entries_.size() < kEntries) {
        slot = &entries_.emplace_back();
    } else {
        slot = &*std::min_element(entries_.begin(), entries_.end(),
                                  [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
    }
    slot->key = key;
    slot->lastUse = clock_;
    slot->built = false;
    slot->set.blocks.clear();
    slot->set.groups.clear();
    return nullptr;
}

void BlockCache::Build(const DrawState& state, const Key& key, BlockSet& set) {
    const bool wide = key.format == D3DFMT_INDEX32;
    const BYTE* indexBytes = static_cast<const BYTE*>(state.indices.bytes) + size_t(key.startIndex) * (wide ? 4 : 2);
    const VertexStreamView& stream = state.stream0;
    const uint64_t readable = stream.stride ? stream.size / stream.stride : 0;
    const uint32_t blockCount = (key.primitives + kBlockTriangles - 1) / kBlockTriangles;
    set.blocks.assign(blockCount, TriangleBlock{});
    set.groups.clear();
    set.indexLo = UINT32_MAX, set.indexHi = 0;
    for (uint32_t b = 0; b < blockCount; ++b) {
        TriangleBlock& block = set.blocks[b];
        float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
        uint32_t indexLo = UINT32_MAX, indexHi = 0;
        bool keep = false;
        const uint32_t cornerEnd = std::min(key.primitives, (b + 1) * kBlockTriangles) * 3;
        for (uint32_t k = b * kBlockTriangles * 3; k < cornerEnd; ++k) {
            uint32_t index;
            if (wide) {
                std::memcpy(&index, indexBytes + size_t(k) * 4, 4);
            } else {
                uint16_t i16;
                std::memcpy(&i16, indexBytes + size_t(k) * 2, 2);
                index = i16;
            }
            indexLo = std::min(indexLo, index), indexHi = std::max(indexHi, index);
            const int64_t number = int64_t(index) + key.baseVertex;
            if (number < 0 || uint64_t(number) >= readable) {
                keep = true;
                continue;
            }
            float p[3];
            std::memcpy(p, stream.bytes + uint64_t(number) * stream.stride + key.positionOffset, 12);
            for (int i = 0; i < 3; ++i) {
                keep |= !std::isfinite(p[i]);
                lo[i] = std::min(lo[i], p[i]), hi[i] = std::max(hi[i], p[i]);
            }
        }
        std::memcpy(block.lo, lo, sizeof lo);
        std::memcpy(block.hi, hi, sizeof hi);
        block.indexLo = indexLo, block.indexHi = indexHi;
        block.keep = keep;
        set.indexLo = std::min(set.indexLo, indexLo), set.indexHi = std::max(set.indexHi, indexHi);
    }
    // Each group's box holds its blocks' boxes; it is kept if one of them is.
    set.groups.assign((blockCount + kGroupBlocks - 1) / kGroupBlocks, TriangleBlock{});
    for (uint32_t g = 0; g < uint32_t(set.groups.size()); ++g) {
        TriangleBlock& group = set.groups[g];
        group = set.blocks[g * kGroupBlocks];
        for (uint32_t b = g * kGroupBlocks + 1; b < std::min(blockCount, (g + 1) * kGroupBlocks); ++b) {
            const TriangleBlock& block = set.blocks[b];
            for (int i = 0; i < 3; ++i)
                group.lo[i] = std::min(group.lo[i], block.lo[i]), group.hi[i] = std::max(group.hi[i], block.hi[i]);
            group.indexLo = std::min(group.indexLo, block.indexLo), group.indexHi = std::max(group.indexHi, block.indexHi);
            group.keep |= block.keep;
        }
    }
}

OutsideTest::OutsideTest(const float m[4][4]) {
    // (column, sign) pairs: side k is sign_a column a + sign_b column b < 0.
    static constexpr int kSides[6][4] = {{0, 1, 3, 1}, {0, -1, 3, 1}, {1, 1, 3, 1},
                                         {1, -1, 3, 1}, {2, 1, -1, 0}, {2, -1, 3, 1}};
    for (int k = 0; k < 6; ++k) {
        const int a = kSides[k][0], b = kSides[k][2];
        for (int i = 0; i < 4; ++i)
            side_[k][i] = kSides[k][1] * double(m[i][a]) + (b < 0 ? 0.0 : kSides[k][3] * double(m[i][b]));
        columns_[k][0] = a, columns_[k][1] = b;
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            magnitude_[i][j] = std::fabs(double(m[i][j]));
            usable_ &= magnitude_[i][j] <= 1e30;  // also false for NaN
        }
}

bool OutsideTest::Outside(const float lo[3], const float hi[3]) const {
    if (!usable_) return false;
    // c_j = x m0j + y m1j + z m2j + m3j is summed in float by the processor:
    // each c_j is off from the exact value by at most 4 roundings of the
    // largest sum of magnitudes, bound[j]. The tests below run in double,
    // whose own rounding is far below that, and ask for that much room
    // (with plenty to spare) beyond the box's extreme.
    constexpr double kRelative = 4e-6, kAbsolute = 1e-30;
    double centre[3], half[3], reach[3];
    for (int i = 0; i < 3; ++i) {
        const double l = lo[i], h = hi[i];
        reach[i] = std::max(std::fabs(l), std::fabs(h));
        if (!(reach[i] <= 1e30)) return false;  // not finite, or too near float overflow
        centre[i] = (l + h) * 0.5, half[i] = (h - l) * 0.5;
    }
    double bound[4];
    for (int j = 0; j < 4; ++j)
        bound[j] = (reach[0] * magnitude_[0][j] + reach[1] * magnitude_[1][j] + reach[2] * magnitude_[2][j] +
                    magnitude_[3][j]) * kRelative + kAbsolute;
    for (int k = 0; k < 6; ++k) {
        const double* a = side_[k];
        const double most = a[0] * centre[0] + a[1] * centre[1] + a[2] * centre[2] + a[3] + std::fabs(a[0]) * half[0] +
                            std::fabs(a[1]) * half[1] + std::fabs(a[2]) * half[2];
        const double room = bound[columns_[k][0]] + (columns_[k][1] < 0 ? 0.0 : bound[columns_[k][1]]);
        if (most + room < 0) return true;
    }
    return false;
}

}  // namespace render
