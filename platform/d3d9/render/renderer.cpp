// The renderer's draw path: per-draw state, vertex processing, primitive
// assembly with clipping and culling, then rasterisation, each stage split
// over the worker threads when the draw is large enough to pay for it.
#include "platform/d3d9/render/renderer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <span>
#include <vector>

#include "platform/d3d9/render/block_cull.h"
#include "platform/d3d9/render/clipper.h"
#include "platform/d3d9/render/pixel_state.h"
#include "platform/d3d9/render/rasterizer.h"
#include "platform/d3d9/render/vertex_processing.h"
#include "platform/d3d9/render/worker_pool.h"

using namespace render;

namespace {

// Vertex slots at or above this bit live in a chunk's store of clipped
// vertices.
constexpr uint32_t kClippedSlot = 0x80000000u;

// Below these sizes a draw stays on the calling thread.
constexpr uint32_t kParallelVertices = 1024;
constexpr uint32_t kParallelTriangles = 512;
constexpr int64_t kParallelPixels = 8192;
// Parallel stages are cut into pieces the threads take as they come, a few
// per worker so that one thread descheduled mid-stage holds up little.
constexpr int kPiecesPerWorker = 4;
constexpr uint32_t kPieceVertices = 512;
constexpr uint32_t kPieceTriangles = 256;
// Rasterisation pieces are runs of whole rows cut so that each holds about
// the same work: each pixel still belongs to exactly one piece, which draws
// it in draw order, and only the triangles across a cut are set up twice.
// The work of a row is guessed from the triangles' boxes, counted in bins
// of 1 << kWorkBinShift rows: per triangle, per row and per pixel.
constexpr int kRowGroupsPerWorker = 2;
constexpr int kWorkBinShift = 3;
constexpr int64_t kTriangleWork = 16, kRowWork = 2;
// Small draws waiting to be drawn together are flushed once they hold this
// many triangles, or boxes of this many pixels.
constexpr size_t kPendingTriangles = 8192;
constexpr int64_t kPendingPixels = int64_t(1) << 20;
// Indexed triangle lists from this many triangles on test their blocks'
// boxes first; smaller draws gain too little to pay for the boxes.
constexpr uint32_t kBlockCullTriangles = 2048;

std::atomic<bool> blockCulling{true};

// A run of vertex slots or primitives, [begin, end).
struct Span {
    uint32_t begin, end;
};

// fn(begin, end) over the part of `runs` from `from` to `to`, counted along
// the runs one after the other.
template <typename Fn>
void ForRunPart(const std::vector<Span>& runs, uint64_t from, uint64_t to, Fn&& fn) {
    uint64_t at = 0;
    for (const Span& r : runs) {
        if (at >= to) break;
        const uint64_t length = r.end - r.begin;
        const uint64_t b = std::max(from, at), e = std::min(to, at + length);
        if (b < e) fn(uint32_t(r.begin + (b - at)), uint32_t(r.begin + (e - at)));
        at += length;
    }
}

uint64_t RunLength(const std::vector<Span>& runs) {
    uint64_t n = 0;
    for (const Span& r : runs) n += r.end - r.begin;
    return n;
}

// Per-draw scratch, written before it is read, only grows: a frame's small
// draws would otherwise shrink it, and its large ones clear it again as it
// regrows.
template <typename T>
void GrowTo(std::vector<T>& v, size_t n) {
    if (v.size() < n) v.resize(n);
}

struct TriangleRef {
    uint32_t v[3];
    uint32_t flat;  // slot whose colours a flat-shaded triangle uses
    int32_t minY, maxY;  // rows of its box within the drawable area; minY < 0
                         // marks a triangle still to be clipped
};

struct Chunk {
    std::vector<TriangleRef> triangles;
    std::vector<TriangleRef> unclipped;  // scratch for ClipPending
    bool pending = false;  // some triangles wait for their vertices' varyings to be clipped
    std::vector<VertexPos> clippedPositions;
    std::vector<float> clippedVaryings;
    int64_t pixels = 0;  // sum of the triangles' bounding boxes
    std::vector<int64_t> rowWork;  // per bin of rows, when the draw is to be cut
    size_t workLo = SIZE_MAX, workHi = 0;  // the bins of rowWork that may not be 0
};

// Small draws set up and waiting to be drawn: each draw's pixel state, and
// its triangles with their own copies of their vertices.
struct PendingVertex {
    int32_t fx, fy;
    float z, rhw;
    uint32_t varyings;  // offset in Pending::varyings
};
struct PendingTriangle {
    uint32_t v[3];  // in Pending::vertices
    uint32_t flat;  // offset of the flat colours in Pending::varyings, or UINT32_MAX
    uint32_t draw;  // in Pending::states
    int32_t minY, maxY;
};
struct Pending {
    std::vector<PixelState> states;
    std::vector<PendingVertex> vertices;
    std::vector<PendingTriangle> triangles;
    std::vector<float> varyings;
    std::vector<int64_t> rowWork;  // per bin of rows, as Chunk::rowWork
    int64_t pixels = 0;
    bool Empty() const { return triangles.empty(); }
};

uint32_t CornerCount(D3DPRIMITIVETYPE type, uint32_t primitives) {
    switch (type) {
        case D3DPT_TRIANGLELIST: return primitives * 3;
        case D3DPT_TRIANGLESTRIP: case D3DPT_TRIANGLEFAN: return primitives + 2;
        default: return 0;
    }
}

}  // namespace

struct Renderer::Impl {
    WorkerPool pool;
    DecodeCache cache;
    PixelState ps;
    VertexProcessor vertices;
    std::vector<VertexPos> positions;
    std::vector<uint32_t> clipCodes;  // positions[k].clip, packed
    std::vector<float> varyings;
    std::vector<uint32_t> numbers;  // vertex numbers to process, when not a plain range
    std::vector<uint32_t> slots;    // the vertex slot of each corner, for indexed draws
    std::vector<uint8_t> used;      // slots some visible triangle uses
    std::vector<Chunk> chunks;
    int chunksInUse = 0;  // the first chunks hold the current draw; the rest are stale
    std::span<const Chunk> UsedChunks() const { return {chunks.data(), size_t(chunksInUse)}; }
    BlockCache blocks;
    std::vector<Span> vertexRuns;     // the slots whose positions are needed
    std::vector<Span> primitiveRuns;  // the primitives to assemble, in order
    std::vector<uint8_t> needed;      // slots a kept block's triangle uses, for SkipBlocks
    std::atomic<uint64_t> skipped{0};

    void Draw(const DrawState& state, D3DPRIMITIVETYPE type, uint32_t primitives, bool indexed, INT baseVertex,
              uint32_t startVertex, uint32_t startIndex);
    void Assemble(D3DPRIMITIVETYPE type, uint32_t firstPrimitive, uint32_t endPrimitive, bool indexed, Chunk& chunk,
                  DWORD cullMode);
    void Emit(Chunk& chunk, uint32_t s0, uint32_t s1, uint32_t s2, uint32_t flat, DWORD cullMode);
    void EmitClipped(Chunk& chunk, uint32_t s0, uint32_t s1, uint32_t s2, uint32_t flat, DWORD cullMode);
    void ClipPending(Chunk& chunk, DWORD cullMode);
    bool SkipBlocks(const BlockSet& set, uint32_t primitives, INT baseVertex, const BYTE* indexBytes, bool wide,
                    uint32_t& first, uint32_t& vertexCount);
    const VertexPos& Position(const Chunk& chunk, uint32_t slot) const {
        return slot & kClippedSlot ? chunk.clippedPositions[slot & ~kClippedSlot] : positions[slot];
    }
    const float* Varyings(const Chunk& chunk, uint32_t slot) const {
        const size_t n = size_t(ps.varyingCount);
        return slot & kClippedSlot ? chunk.clippedVaryings.data() + (slot & ~kClippedSlot) * n
                                   : varyings.data() + slot * n;
    }
    // Pixels covered, summed over draws.
    std::atomic<uint64_t> shaded{0};
    bool tallyRows = false;  // Emit counts the work per bin of rows
    std::vector<int64_t> rowWork;
    std::vector<RowFilter> rowGroups;
    void CutRows(int groups);
    // Adds the chunks' work per bin of rows into `to`, growing it to fit.
    void AddRowWork(std::vector<int64_t>& to) const;
    void Rasterize(const RowFilter& rows);

    bool deferSmall = false;
    Pending pending;
    void Defer();
    void Flush();
    void RasterizePending(const RowFilter& rows);
};

Renderer::Renderer() : impl_(std::make_unique<Impl>()) {}
Renderer::~Renderer() = default;

void Renderer::SetDeferSmallDraws(bool on) {
    if (!on) impl_->Flush();
    impl_->deferSmall = on;
}

void Renderer::Flush() { impl_->Flush(); }

void Renderer::DrawPrimitive(const DrawState& state, D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    impl_->Draw(state, type, primitiveCount, false, 0, startVertex, 0);
}

void Renderer::DrawIndexedPrimitive(const DrawState& state, D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT,
                                    UINT, UINT startIndex, UINT primitiveCount) {
    impl_->Draw(state, type, primitiveCount, true, baseVertexIndex, 0, startIndex);
}

void Renderer::Impl::Draw(const DrawState& state, D3DPRIMITIVETYPE type, uint32_t primitives, bool indexed,
                          INT baseVertex, uint32_t startVertex, uint32_t startIndex) {
    uint32_t corners = CornerCount(type, primitives);
    if (corners == 0 || !state.target.bits) return;

    // Indexed draws: how many corners the index view really holds.
    const uint32_t indexSize = state.indices.format == D3DFMT_INDEX32 ? 4 : 2;
    if (indexed) {
        if (!state.indices.bytes) return;
        const uint64_t available = state.indices.size / indexSize;
        if (uint64_t(startIndex) >= available) return;
        if (uint64_t(startIndex) + corners > available) {
            const uint32_t have = uint32_t(available - startIndex);
            primitives = type == D3DPT_TRIANGLELIST ? have / 3 : (have >= 3 ? have - 2 : 0);
            corners = CornerCount(type, primitives);
            if (corners == 0) return;
        }
    }

    // Decoded textures that waiting draws read stay in the cache until they
    // are drawn; past the cache's budget the waiting draws go first.
    if (!pending.Empty() && cache.BytesHeld() > cache.Budget()) Flush();
    if (pending.Empty()) cache.BeginDraw();
    BuildPixelState(state, cache, ps);
    if (ps.clipX0 >= ps.clipX1 || ps.clipY0 >= ps.clipY1) return;
    if (!vertices.Prepare(state, ps)) return;
    const int workers = pool.Count();

    // Which vertices to process, and the slot of every corner.
    uint32_t vertexCount = 0, first = 0;
    const uint32_t* vertexNumbers = nullptr;
    // Large lists from buffers: only the blocks that may be seen, when some
    // can be left out.
    bool culled = false;
    if (indexed && type == D3DPT_TRIANGLELIST && primitives >= kBlockCullTriangles && !vertices.Transformed() &&
        vertices.PositionType() == D3DDECLTYPE_FLOAT3 && blockCulling.load(std::memory_order_relaxed)) {
        if (const BlockSet* set = blocks.Find(state, vertices.PositionOffset(), startIndex, primitives, baseVertex))
            culled = SkipBlocks(*set, primitives, baseVertex,
                                static_cast<const BYTE*>(state.indices.bytes) + size_t(startIndex) * indexSize,
                                indexSize == 4, first, vertexCount);
        // No triangle could pass: nothing to draw, as the full path would find.
        if (culled && primitiveRuns.empty()) return;
    }
    if (!indexed) {
        first = startVertex;
        vertexCount = corners;
    } else if (!culled) {
        // The indices, widened into `slots`, and their range.
        slots.resize(corners);
        const BYTE* bytes = static_cast<const BYTE*>(state.indices.bytes) + size_t(startIndex) * indexSize;
        if (indexSize == 2) {
            for (uint32_t k = 0; k < corners; ++k) {
                uint16_t i16;
                std::memcpy(&i16, bytes + size_t(k) * 2, 2);
                slots[k] = i16;
            }
        } else {
            std::memcpy(slots.data(), bytes, size_t(corners) * 4);
        }
        uint32_t indexLo = UINT32_MAX, indexHi = 0;
        for (uint32_t k = 0; k < corners; ++k) indexLo = std::min(indexLo, slots[k]), indexHi = std::max(indexHi, slots[k]);
        const int64_t numberLo = int64_t(indexLo) + baseVertex, numberHi = int64_t(indexHi) + baseVertex;
        const uint64_t denseLimit = uint64_t(corners) * 2 + 64;
        if (numberLo >= 0 && numberHi < int64_t(UINT32_MAX) && uint64_t(numberHi - numberLo) < denseLimit) {
            // The usual draw: a dense run of vertex numbers, all readable.
            // Process the run once, shared by all corners; one slot past it
            // holds an unreadable vertex, as below.
            first = uint32_t(numberLo);
            vertexCount = indexHi - indexLo + 1;
            for (uint32_t k = 0; k < corners; ++k) slots[k] -= indexLo;
            numbers.assign(1, UINT32_MAX);
            vertexCount += 1;
        } else {
            numbers.resize(corners);
            int64_t lo = INT64_MAX, hi = -1;
            for (uint32_t k = 0; k < corners; ++k) {
                const int64_t number = int64_t(slots[k]) + baseVertex;
                // Out of range numbers read as unreadable vertices.
                numbers[k] = number < 0 || number > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(number);
                if (numbers[k] != UINT32_MAX) lo = std::min(lo, number), hi = std::max(hi, number);
            }
            if (hi >= lo && uint64_t(hi - lo) < denseLimit) {
                // Dense: process the range once, shared by all corners; one
                // slot past it holds an unreadable vertex.
                first = uint32_t(lo);
                vertexCount = uint32_t(hi - lo + 1);
                for (uint32_t k = 0; k < corners; ++k)
                    slots[k] = numbers[k] == UINT32_MAX ? vertexCount : numbers[k] - first;
                numbers.assign(1, UINT32_MAX);
                vertexCount += 1;
            } else {
                for (uint32_t k = 0; k < corners; ++k) slots[k] = k;
                vertexNumbers = numbers.data();
                vertexCount = corners;
            }
        }
    }

    // Positions of every vertex first: they decide which triangles can be
    // seen, and only those triangles' vertices get colours, fog and texture
    // coordinates.
    GrowTo(positions, vertexCount);
    GrowTo(clipCodes, vertexCount);
    GrowTo(varyings, size_t(vertexCount) * ps.varyingCount);
    used.assign(vertexCount, 0);
    const bool denseIndexed = indexed && !vertexNumbers;
    const uint32_t regular = denseIndexed ? vertexCount - 1 : vertexCount;
    if (!culled) {
        vertexRuns.assign(1, Span{0, regular});
        primitiveRuns.assign(1, Span{0, primitives});
    }
    const uint64_t vertexWork = RunLength(vertexRuns);
    const bool parallelVertices = workers > 1 && vertexWork >= kParallelVertices;
    const int vertexPieces =
        parallelVertices ? int(std::min<uint64_t>(vertexWork / kPieceVertices + 1, uint64_t(kPiecesPerWorker * workers))) : 1;
    auto forVertexPieces = [&](auto&& fn) {
        if (vertexPieces > 1)
            pool.Run(vertexPieces, [&](int p) {
                ForRunPart(vertexRuns, vertexWork * p / vertexPieces, vertexWork * (p + 1) / vertexPieces, fn);
            });
        else
            ForRunPart(vertexRuns, 0, vertexWork, fn);
    };
    forVertexPieces([&](uint32_t begin, uint32_t end) {
        vertices.Positions(vertexNumbers ? vertexNumbers + begin : nullptr, first + begin, end - begin,
                           positions.data() + begin, clipCodes.data() + begin);
    });
    if (denseIndexed) vertices.Positions(numbers.data(), 0, 1, positions.data() + regular, clipCodes.data() + regular);

    // Assembly into per-chunk triangle lists, in primitive order; it marks
    // the vertices in use.
    const DWORD cull = state.renderStates[D3DRS_CULLMODE];
    const uint64_t assembled = RunLength(primitiveRuns);
    const int chunkCount = workers > 1 && assembled >= kParallelTriangles
                               ? int(std::min<uint64_t>(assembled / kPieceTriangles + 1, uint64_t(kPiecesPerWorker * workers)))
                               : 1;
    if (int(chunks.size()) < chunkCount) chunks.resize(chunkCount);
    // Work per row is counted only where the raster stage may be cut.
    tallyRows = workers > 1;
    const size_t bins = tallyRows ? (size_t(std::max(ps.clipY1, 0)) >> kWorkBinShift) + 1 : 0;
    chunksInUse = chunkCount;
    for (int c = 0; c < chunkCount; ++c) {
        chunks[c].triangles.clear();
        chunks[c].clippedPositions.clear();
        chunks[c].clippedVaryings.clear();
        chunks[c].pixels = 0;
        chunks[c].pending = false;
        chunks[c].rowWork.assign(bins, 0);
        chunks[c].workLo = SIZE_MAX, chunks[c].workHi = 0;
    }
    auto assemble = [&](int c) {
        ForRunPart(primitiveRuns, assembled * c / chunkCount, assembled * (c + 1) / chunkCount,
                   [&](uint32_t begin, uint32_t end) { Assemble(type, begin, end, indexed, chunks[c], cull); });
    };
    if (chunkCount > 1)
        pool.Run(chunkCount, assemble);
    else
        assemble(0);

    const int n = ps.varyingCount;
    const bool four = vertices.HasAttributesFour();
    forVertexPieces([&](uint32_t begin, uint32_t end) {
        uint32_t batch[4];
        float* out[4];
        int queued = 0;
        for (uint32_t k = begin; k < end; ++k) {
            if (!used[k]) continue;
            const uint32_t number = vertexNumbers ? vertexNumbers[k] : first + k;
            float* v = varyings.data() + size_t(k) * n;
            if (!four) {
                vertices.Attributes(number, v);
                continue;
            }
            batch[queued] = number, out[queued] = v;
            if (++queued == 4) vertices.AttributesFour(batch, out), queued = 0;
        }
        for (int i = 0; i < queued; ++i) vertices.Attributes(batch[i], out[i]);
    });

    bool clipping = false;
    for (int c = 0; c < chunkCount; ++c) clipping |= chunks[c].pending;
    if (clipping) {
        auto clip = [&](int c) { ClipPending(chunks[c], cull); };
        if (chunkCount > 1)
            pool.Run(chunkCount, clip);
        else
            clip(0);
    }

    int64_t pixels = 0;
    for (const Chunk& c : UsedChunks()) pixels += c.pixels;
    if (pixels == 0) return;
    if (workers > 1 && pixels >= kParallelPixels) {
        Flush();
        rowWork.assign(chunks.empty() ? 0 : chunks[0].rowWork.size(), 0);
        AddRowWork(rowWork);
        CutRows(workers * kRowGroupsPerWorker);
        pool.Run(int(rowGroups.size()), [&](int g) { Rasterize(rowGroups[g]); });
    } else if (workers > 1 && deferSmall) {
        Defer();
        if (pending.triangles.size() >= kPendingTriangles || pending.pixels >= kPendingPixels) Flush();
    } else {
        Rasterize(RowFilter{});
    }
}

void Renderer::Impl::Defer() {
    // Draws into other surfaces wait apart.
    if (!pending.Empty() && (pending.states[0].target != ps.target || pending.states[0].depth != ps.depth)) Flush();
    // Runs of draws in one state, as text is drawn, share one copy of it
    // (the state is several kilobytes).
    if (pending.states.empty() || !SamePixelState(pending.states.back(), ps)) pending.states.push_back(ps);
    const uint32_t draw = uint32_t(pending.states.size() - 1);
    const size_t n = size_t(ps.varyingCount);
    auto copyVaryings = [&](const float* v) {
        const uint32_t at = uint32_t(pending.varyings.size());
        pending.varyings.insert(pending.varyings.end(), v, v + n);
        return at;
    };
    for (const Chunk& chunk : UsedChunks()) {
        for (const TriangleRef& t : chunk.triangles) {
            PendingTriangle p;
            for (int i = 0; i < 3; ++i) {
                const VertexPos& v = Position(chunk, t.v[i]);
                p.v[i] = uint32_t(pending.vertices.size());
                pending.vertices.push_back({v.fx, v.fy, v.sz, v.rhw, copyVaryings(Varyings(chunk, t.v[i]))});
            }
            p.flat = ps.flat ? copyVaryings(Varyings(chunk, t.flat)) : UINT32_MAX;
            p.draw = draw;
            p.minY = t.minY, p.maxY = t.maxY;
            pending.triangles.push_back(p);
        }
        pending.pixels += chunk.pixels;
    }
    AddRowWork(pending.rowWork);
}

void Renderer::Impl::AddRowWork(std::vector<int64_t>& to) const {
    for (const Chunk& c : UsedChunks()) {
        if (to.size() < c.rowWork.size()) to.resize(c.rowWork.size(), 0);
        // A small draw touches a bin or two of the dozens.
        for (size_t b = c.workLo; b <= c.workHi && b < c.rowWork.size(); ++b) to[b] += c.rowWork[b];
    }
}

void Renderer::Impl::Flush() {
    if (pending.Empty()) return;
    rowWork.swap(pending.rowWork);
    CutRows(pool.Count() * kRowGroupsPerWorker);
    pool.Run(int(rowGroups.size()), [&](int g) { RasterizePending(rowGroups[g]); });
    pending.states.clear();
    pending.vertices.clear();
    pending.triangles.clear();
    pending.varyings.clear();
    pending.rowWork.assign(rowWork.size(), 0);
    pending.pixels = 0;
}

void Renderer::Impl::RasterizePending(const RowFilter& rows) {
    int64_t covered = 0;
    for (const PendingTriangle& t : pending.triangles) {
        if (t.maxY < rows.first || t.minY > rows.last) continue;
        RasterVertex v[3];
        for (int i = 0; i < 3; ++i) {
            const PendingVertex& p = pending.vertices[t.v[i]];
            v[i] = {p.fx, p.fy, p.z, p.rhw, pending.varyings.data() + p.varyings};
        }
        const float* flat = t.flat == UINT32_MAX ? nullptr : pending.varyings.data() + t.flat;
        covered += RasterizeTriangle(pending.states[t.draw], v[0], v[1], v[2], rows, flat);
    }
    shaded.fetch_add(uint64_t(covered), std::memory_order_relaxed);
}

// Cuts the rows into runs of about equal work, from `rowWork`.
void Renderer::Impl::CutRows(int groups) {
    int64_t total = 0;
    for (const int64_t w : rowWork) total += w;
    // A cut after each bin where the running sum passes the next share.
    rowGroups.clear();
    int first = 0, cuts = 1;
    int64_t sum = 0;
    for (size_t b = 0; b < rowWork.size() && cuts < groups; ++b) {
        sum += rowWork[b];
        if (sum * groups < total * cuts) continue;
        const int last = int(((b + 1) << kWorkBinShift) - 1);
        if (last >= first) rowGroups.push_back({first, last});
        first = last + 1;
        while (cuts < groups && sum * groups >= total * cuts) ++cuts;
    }
    rowGroups.push_back({first, INT32_MAX});
}

bool Renderer::Impl::SkipBlocks(const BlockSet& set, uint32_t primitives, INT baseVertex, const BYTE* indexBytes,
                                bool wide, uint32_t& first, uint32_t& vertexCount) {
    // Only for the common dense run of readable vertex numbers; the other
    // cases take the full path.
    const uint32_t corners = primitives * 3;
    const int64_t numberLo = int64_t(set.indexLo) + baseVertex, numberHi = int64_t(set.indexHi) + baseVertex;
    if (set.blocks.empty() || numberLo < 0 || numberHi >= int64_t(UINT32_MAX) ||
        uint64_t(numberHi - numberLo) >= uint64_t(corners) * 2 + 64)
        return false;
    const OutsideTest outside(vertices.Transform());
    primitiveRuns.clear();
    uint32_t kept = 0, scanLo = UINT32_MAX, scanHi = 0;
    const uint32_t blockCount = uint32_t(set.blocks.size());
    for (uint32_t g = 0; g < uint32_t(set.groups.size()); ++g) {
        const TriangleBlock& group = set.groups[g];
        if (!group.keep && outside.Outside(group.lo, group.hi)) continue;
        for (uint32_t b = g * kGroupBlocks; b < std::min(blockCount, (g + 1) * kGroupBlocks); ++b) {
            const TriangleBlock& block = set.blocks[b];
            if (!block.keep && outside.Outside(block.lo, block.hi)) continue;
            const uint32_t begin = b * kBlockTriangles, end = std::min(primitives, begin + kBlockTriangles);
            kept += end - begin;
            if (!primitiveRuns.empty() && primitiveRuns.back().end == begin)
                primitiveRuns.back().end = end;
            else
                primitiveRuns.push_back({begin, end});
            scanLo = std::min(scanLo, block.indexLo - set.indexLo), scanHi = std::max(scanHi, block.indexHi - set.indexLo);
        }
    }
    if (kept == primitives) return false;  // nothing to leave out
    skipped.fetch_add(primitives - kept, std::memory_order_relaxed);

    // The slots of the kept corners, as the full path numbers them, and
    // the slots they use: a block's vertices need not be near each other.
    slots.resize(corners);
    needed.assign(size_t(set.indexHi - set.indexLo) + 1, 0);
    // Through plain pointers and locals: the byte stores could otherwise
    // be taken to change the set and the vectors, read again each corner.
    uint32_t* const slot = slots.data();
    uint8_t* const mark = needed.data();
    const uint32_t indexLo = set.indexLo;
    for (const Span& run : primitiveRuns) {
        const uint32_t from = run.begin * 3, to = run.end * 3;
        if (wide) {
            std::memcpy(slot + from, indexBytes + size_t(from) * 4, size_t(to - from) * 4);
            for (uint32_t k = from; k < to; ++k) {
                const uint32_t at = slot[k] - indexLo;
                slot[k] = at, mark[at] = 1;
            }
        } else {
            for (uint32_t k = from; k < to; ++k) {
                uint16_t i16;
                std::memcpy(&i16, indexBytes + size_t(k) * 2, 2);
                const uint32_t at = uint32_t(i16) - indexLo;
                slot[k] = at, mark[at] = 1;
            }
        }
    }
    // Runs of needed slots; gaps of a few slots are worked through, to keep
    // the vertices in fours.
    constexpr uint32_t kRunGap = 4;
    vertexRuns.clear();
    Span current{0, 0};
    bool open = false;
    for (uint32_t k = scanLo; k <= scanHi; ++k) {
        // Eight slots at a time where none is needed, or all are and the
        // run goes on through them.
        if (scanHi - k >= 7) {
            uint64_t eight;
            std::memcpy(&eight, mark + k, 8);
            if (eight == 0) {
                k += 7;
                continue;
            }
            if (eight == 0x0101010101010101u && open && k - current.end <= kRunGap) {
                current.end = k + 8;
                k += 7;
                continue;
            }
        }
        if (!mark[k]) continue;
        if (open && k - current.end <= kRunGap) {
            current.end = k + 1;
        } else {
            if (open) vertexRuns.push_back(current);
            current = {k, k + 1}, open = true;
        }
    }
    if (open) vertexRuns.push_back(current);
    // As the full path's dense case: one slot past the run holds an
    // unreadable vertex.
    first = uint32_t(numberLo);
    vertexCount = set.indexHi - set.indexLo + 2;
    numbers.assign(1, UINT32_MAX);
    return true;
}

void Renderer::Impl::Assemble(D3DPRIMITIVETYPE type, uint32_t begin, uint32_t end, bool indexed, Chunk& chunk,
                              DWORD cull) {
    // Through plain pointers: the byte stores below could otherwise be
    // taken to change the vectors, read again each triangle.
    const uint32_t* const slotOf = slots.data();
    const uint32_t* const codes = clipCodes.data();
    uint8_t* const mark = used.data();
    auto slot = [&](uint32_t corner) { return indexed ? slotOf[corner] : corner; };
    for (uint32_t p = begin; p < end; ++p) {
        uint32_t c0, c1, c2;
        switch (type) {
            case D3DPT_TRIANGLELIST: c0 = 3 * p, c1 = 3 * p + 1, c2 = 3 * p + 2; break;
            case D3DPT_TRIANGLESTRIP:
                // Odd triangles of a strip run the other way round.
                if (p & 1)
                    c0 = p + 1, c1 = p, c2 = p + 2;
                else
                    c0 = p, c1 = p + 1, c2 = p + 2;
                break;
            default: c0 = 0, c1 = p + 1, c2 = p + 2; break;
        }
        const uint32_t s0 = slot(c0), s1 = slot(c1), s2 = slot(c2);
        const uint32_t flat = type == D3DPT_TRIANGLESTRIP ? slot(p) : (type == D3DPT_TRIANGLEFAN ? slot(p + 1) : s0);
        const uint32_t k0 = codes[s0], k1 = codes[s1], k2 = codes[s2];
        if ((k0 | k1 | k2) & kInvalid) continue;
        if (k0 & k1 & k2 & kRejectMask) continue;
        // Threads assembling other chunks may mark the same vertices; they
        // all store the same value. `flat` is always one of the corners.
        std::atomic_ref<uint8_t>(mark[s0]).store(1, std::memory_order_relaxed);
        std::atomic_ref<uint8_t>(mark[s1]).store(1, std::memory_order_relaxed);
        std::atomic_ref<uint8_t>(mark[s2]).store(1, std::memory_order_relaxed);
        if ((k0 | k1 | k2) & kClipMask) {
            // Clipping interpolates the varyings, which are not made yet.
            chunk.triangles.push_back({{s0, s1, s2}, flat, -1, -1});
            chunk.pending = true;
        } else {
            Emit(chunk, s0, s1, s2, flat, cull);
        }
    }
}

void Renderer::Impl::ClipPending(Chunk& chunk, DWORD cull) {
    if (!chunk.pending) return;
    chunk.unclipped.swap(chunk.triangles);
    chunk.triangles.clear();
    for (const TriangleRef& t : chunk.unclipped) {
        if (t.minY < 0)
            EmitClipped(chunk, t.v[0], t.v[1], t.v[2], t.flat, cull);
        else
            chunk.triangles.push_back(t);
    }
    chunk.pending = false;
}

void Renderer::Impl::Emit(Chunk& chunk, uint32_t s0, uint32_t s1, uint32_t s2, uint32_t flat, DWORD cull) {
    const VertexPos& a = Position(chunk, s0);
    const VertexPos& b = Position(chunk, s1);
    const VertexPos& c = Position(chunk, s2);
    const int64_t area = (int64_t(b.fx) - a.fx) * (int64_t(c.fy) - a.fy) - (int64_t(c.fx) - a.fx) * (int64_t(b.fy) - a.fy);
    // Positive area is clockwise on screen: CCW culling drops the negative.
    if (area == 0) return;
    if (cull == D3DCULL_CCW && area < 0) return;
    if (cull == D3DCULL_CW && area > 0) return;
    const int64_t minX = std::max<int64_t>((std::min({a.fx, b.fx, c.fx}) + kSubpixelOne - 1) >> kSubpixelBits, ps.clipX0);
    const int64_t maxX = std::min<int64_t>(std::max({a.fx, b.fx, c.fx}) >> kSubpixelBits, ps.clipX1 - 1);
    const int64_t minY = std::max<int64_t>((std::min({a.fy, b.fy, c.fy}) + kSubpixelOne - 1) >> kSubpixelBits, ps.clipY0);
    const int64_t maxY = std::min<int64_t>(std::max({a.fy, b.fy, c.fy}) >> kSubpixelBits, ps.clipY1 - 1);
    if (minX > maxX || minY > maxY) return;
    chunk.pixels += (maxX - minX + 1) * (maxY - minY + 1);
    if (tallyRows) {
        // About half of the box is covered.
        const int64_t perRow = kRowWork + (maxX - minX + 2) / 2;
        const size_t top = size_t(minY) >> kWorkBinShift, bottom = size_t(maxY) >> kWorkBinShift;
        if (bottom < chunk.rowWork.size()) {
            chunk.workLo = std::min(chunk.workLo, top), chunk.workHi = std::max(chunk.workHi, bottom);
            chunk.rowWork[top] += kTriangleWork;
            for (size_t b = top; b <= bottom; ++b) {
                const int64_t from = std::max<int64_t>(minY, int64_t(b) << kWorkBinShift);
                const int64_t to = std::min<int64_t>(maxY, int64_t((b + 1) << kWorkBinShift) - 1);
                chunk.rowWork[b] += (to - from + 1) * perRow;
            }
        }
    }
    if (area > 0)
        chunk.triangles.push_back({{s0, s1, s2}, flat, int32_t(minY), int32_t(maxY)});
    else
        chunk.triangles.push_back({{s0, s2, s1}, flat, int32_t(minY), int32_t(maxY)});
}

void Renderer::Impl::EmitClipped(Chunk& chunk, uint32_t s0, uint32_t s1, uint32_t s2, uint32_t flat, DWORD cull) {
    const int n = ps.varyingCount;
    ClipVertex in[3];
    ClipVertex scratch[2 * kMaxClipVertices];
    const uint32_t source[3] = {s0, s1, s2};
    uint32_t planes = 0;
    for (int i = 0; i < 3; ++i) {
        const VertexPos& p = positions[source[i]];
        in[i].c[0] = p.cx, in[i].c[1] = p.cy, in[i].c[2] = p.cz, in[i].c[3] = p.cw;
        std::memcpy(in[i].v, varyings.data() + size_t(source[i]) * n, sizeof(float) * n);
        planes |= p.clip;
    }
    ClipVertex* out = nullptr;
    const int count = ClipPolygon(in, 3, planes & kClipMask, n, vertices.Viewport(), scratch, &out);
    if (count < 3) return;
    const uint32_t base = uint32_t(chunk.clippedPositions.size());
    for (int i = 0; i < count; ++i) {
        VertexPos p{};
        p.cx = out[i].c[0], p.cy = out[i].c[1], p.cz = out[i].c[2], p.cw = out[i].c[3];
        vertices.Viewport().Apply(p);
        chunk.clippedPositions.push_back(p);
        chunk.clippedVaryings.insert(chunk.clippedVaryings.end(), out[i].v, out[i].v + n);
    }
    for (int i = 1; i + 1 < count; ++i)
        Emit(chunk, kClippedSlot | base, kClippedSlot | (base + i), kClippedSlot | (base + i + 1), flat, cull);
}

void Renderer::Impl::Rasterize(const RowFilter& rows) {
    int64_t covered = 0;
    for (const Chunk& chunk : UsedChunks()) {
        for (const TriangleRef& t : chunk.triangles) {
            // Skip, before reading its vertices, a triangle none of whose rows are ours.
            if (t.maxY < rows.first || t.minY > rows.last) continue;
            RasterVertex v[3];
            for (int i = 0; i < 3; ++i) {
                const VertexPos& p = Position(chunk, t.v[i]);
                v[i] = {p.fx, p.fy, p.sz, p.rhw, Varyings(chunk, t.v[i])};
            }
            covered += RasterizeTriangle(ps, v[0], v[1], v[2], rows, ps.flat ? Varyings(chunk, t.flat) : nullptr);
        }
    }
    shaded.fetch_add(uint64_t(covered), std::memory_order_relaxed);
}

uint64_t Renderer::CoveredPixels() const { return impl_->shaded.load(std::memory_order_relaxed); }

uint64_t Renderer::SkippedTriangles() const { return impl_->skipped.load(std::memory_order_relaxed); }

bool Renderer::SetBlockCullingForTesting(bool on) { return blockCulling.exchange(on, std::memory_order_relaxed); }
