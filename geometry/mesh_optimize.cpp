// The mesh optimiser (compaction, vertex splitting, attribute sort, the
// attribute table) and adjacency.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <unordered_map>
#include <utility>
#include <vector>

#include "geometry/mesh_core.h"
#include "platform/xfile/large_blocks.h"

namespace {

constexpr DWORD kOptimizeBits = 0xFF000000;
constexpr DWORD kSortFlags = OPTIMIZE_ATTRIBUTE_SORT | OPTIMIZE_VERTEX_CACHE | OPTIMIZE_STRIP_REORDER;

}  // namespace

HRESULT MeshCore::Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                           DataBuffer** vertexRemap) {
    if (vertexRemap) *vertexRemap = nullptr;
    if (flags == 0 || (adjacencyOut && !adjacencyIn)) return D3DERR_INVALIDCALL;
    // The vertices of a mesh that shares its source's buffer belong to the
    // source as well: they stay where they are.
    const bool ignoreVertices = (flags & OPTIMIZE_IGNORE_VERTICES) != 0 || sharedVb_;
    const bool sort = (flags & kSortFlags) != 0;

    HRESULT hr = S_OK;
    if (ignoreVertices && (flags & OPTIMIZE_DO_NOT_SPLIT) && faceCount_) {
        hr = OptimizeInOrder(sort, adjacencyIn, adjacencyOut, faceRemap, vertexRemap);
        if (hr != S_FALSE) return hr;
    }

    std::vector<DWORD> indices;
    hr = ReadIndices(indices);
    if (FAILED(hr)) return hr;

    // Compact: drop marked faces; every kept index must name a vertex.
    std::vector<DWORD> faces;  // kept old face numbers, in order
    faces.reserve(faceCount_);
    for (DWORD f = 0; f < faceCount_; ++f) {
        if (indices[size_t{f} * 3] == UNUSED_INDEX32) continue;
        for (int k = 0; k < 3; ++k) {
            if (indices[size_t{f} * 3 + k] >= vertexCount_) return D3DERR_INVALIDCALL;
        }
        faces.push_back(f);
    }
    if (faces.empty()) return ERR_MESH_HAS_NO_DATA;

    // Vertex numbering after compaction: source vertex of each new vertex.
    std::vector<DWORD> source;
    std::vector<DWORD> compactOf(vertexCount_, UNUSED_INDEX32);
    if (ignoreVertices) {
        source.resize(vertexCount_);
        std::iota(source.begin(), source.end(), 0u);
        std::iota(compactOf.begin(), compactOf.end(), 0u);
    } else {
        std::vector<bool> used(vertexCount_, false);
        for (DWORD f : faces) {
            for (int k = 0; k < 3; ++k) used[indices[size_t{f} * 3 + k]] = true;
        }
        for (DWORD v = 0; v < vertexCount_; ++v) {
            if (!used[v]) continue;
            compactOf[v] = static_cast<DWORD>(source.size());
            source.push_back(v);
        }
    }
    // Corners in compact numbering, faces in kept order.
    std::vector<DWORD> corners(faces.size() * 3);
    std::vector<DWORD> attrs(faces.size());
    for (size_t i = 0; i < faces.size(); ++i) {
        attrs[i] = attributes_[faces[i]];
        for (int k = 0; k < 3; ++k) corners[i * 3 + k] = compactOf[indices[size_t{faces[i]} * 3 + k]];
    }

    // Split: a vertex used by faces of several attributes gets one copy per
    // further attribute.
    if (!(flags & OPTIMIZE_DO_NOT_SPLIT)) {
        std::vector<DWORD> owner(source.size(), 0);
        std::vector<bool> owned(source.size(), false);
        std::map<std::pair<DWORD, DWORD>, DWORD> copies;
        const size_t original = source.size();
        for (size_t i = 0; i < faces.size(); ++i) {
            for (int k = 0; k < 3; ++k) {
                DWORD& v = corners[i * 3 + k];
                if (!owned[v]) {
                    owned[v] = true;
                    owner[v] = attrs[i];
                    continue;
                }
                if (owner[v] == attrs[i]) continue;
                auto key = std::make_pair(v, attrs[i]);
                auto found = copies.find(key);
                if (found == copies.end()) {
                    if (ignoreVertices) return ERR_CANNOT_ATTRIBUTE_SORT;
                    const DWORD copy = static_cast<DWORD>(source.size());
                    source.push_back(source[v]);
                    found = copies.emplace(key, copy).first;
                }
                v = found->second;
            }
            (void)original;
        }
        if (!Wide() && source.size() > 65534) return D3DERR_INVALIDCALL;
    }

    // Attribute sort: stable by id.
    std::vector<DWORD> order(faces.size());
    std::iota(order.begin(), order.end(), 0u);
    if (sort && !std::is_sorted(attrs.begin(), attrs.end())) {
        std::stable_sort(order.begin(), order.end(), [&](DWORD a, DWORD b) { return attrs[a] < attrs[b]; });
    }
    // Vertex renumbering group by group.
    const DWORD newVertexCount = static_cast<DWORD>(source.size());
    std::vector<DWORD> renumber(newVertexCount);
    std::iota(renumber.begin(), renumber.end(), 0u);
    if (sort && !ignoreVertices) {
        std::vector<DWORD> groupOf(newVertexCount, UNUSED_INDEX32);
        std::vector<DWORD> groupRank;  // group index by first face order
        DWORD group = 0;
        for (size_t i = 0; i < order.size(); ++i) {
            if (i > 0 && attrs[order[i]] != attrs[order[i - 1]]) ++group;
            for (int k = 0; k < 3; ++k) {
                DWORD v = corners[size_t{order[i]} * 3 + k];
                if (groupOf[v] == UNUSED_INDEX32) groupOf[v] = group;
            }
        }
        std::vector<DWORD> byGroup(newVertexCount);
        std::iota(byGroup.begin(), byGroup.end(), 0u);
        std::stable_sort(byGroup.begin(), byGroup.end(), [&](DWORD a, DWORD b) { return groupOf[a] < groupOf[b]; });
        for (DWORD n = 0; n < newVertexCount; ++n) renumber[byGroup[n]] = n;
    }

    // Results in new numbering.
    const DWORD newFaceCount = static_cast<DWORD>(faces.size());
    std::vector<DWORD> newIndices(size_t{newFaceCount} * 3);
    std::vector<DWORD> newAttrs(newFaceCount);
    std::vector<DWORD> newToOldFace(newFaceCount);
    std::vector<DWORD> newSource(newVertexCount);
    for (DWORD n = 0; n < newFaceCount; ++n) {
        const DWORD i = order[n];
        newAttrs[n] = attrs[i];
        newToOldFace[n] = faces[i];
        for (int k = 0; k < 3; ++k) newIndices[size_t{n} * 3 + k] = renumber[corners[size_t{i} * 3 + k]];
    }
    for (DWORD v = 0; v < newVertexCount; ++v) newSource[renumber[v]] = source[v];

    std::vector<AttributeRange> table;
    if (sort) {
        for (DWORD n = 0; n < newFaceCount;) {
            DWORD end = n;
            DWORD low = UNUSED_INDEX32, high = 0;
            while (end < newFaceCount && newAttrs[end] == newAttrs[n]) {
                for (int k = 0; k < 3; ++k) {
                    low = std::min(low, newIndices[size_t{end} * 3 + k]);
                    high = std::max(high, newIndices[size_t{end} * 3 + k]);
                }
                ++end;
            }
            table.push_back(AttributeRange{newAttrs[n], n, end - n, low, high - low + 1});
            n = end;
        }
    }

    // Without a sort the faces keep their order, but a table from before no
    // longer fits once faces or vertices were dropped, copied or moved.
    bool renumbered = newFaceCount != faceCount_ || newVertexCount != vertexCount_;
    for (DWORD v = 0; v < newVertexCount && !renumbered; ++v) renumbered = newSource[v] != v;

    DataBuffer* remap = nullptr;
    if (vertexRemap) {
        hr = CreateDataBuffer(newVertexCount * 4, &remap);
        if (FAILED(hr)) return hr;
        std::memcpy(remap->GetDataPointer(), newSource.data(), size_t{newVertexCount} * 4);
    }

    // Commit: vertex data first (it may need a larger buffer).
    if (!ignoreVertices) {
        std::vector<BYTE> oldVertices;
        hr = ReadVertices(oldVertices);
        if (SUCCEEDED(hr)) {
            std::vector<BYTE> newVertices(size_t{newVertexCount} * stride_);
            for (DWORD v = 0; v < newVertexCount; ++v) {
                std::memcpy(&newVertices[size_t{v} * stride_], &oldVertices[size_t{newSource[v]} * stride_], stride_);
            }
            const DWORD oldCount = vertexCount_;
            vertexCount_ = newVertexCount;
            hr = AllocateStorage();
            if (SUCCEEDED(hr)) hr = WriteVertices(newVertices);
            if (FAILED(hr)) vertexCount_ = oldCount;
        }
        if (FAILED(hr)) {
            SafeRelease(remap);
            return hr;
        }
    }
    const DWORD oldFaceCount = faceCount_;
    faceCount_ = newFaceCount;
    hr = WriteIndices(newIndices);
    if (FAILED(hr)) {
        faceCount_ = oldFaceCount;
        SafeRelease(remap);
        return hr;
    }
    std::copy(newAttrs.begin(), newAttrs.end(), attributes_.begin());
    if (sort) {
        table_.swap(table);
        tableValid_ = true;
    } else if (renumbered) {
        table_.clear();
        tableValid_ = false;
    }
    if (adjacencyOut) {
        std::vector<DWORD> newOfOld(oldFaceCount, NO_ADJACENT_FACE);
        for (DWORD n = 0; n < newFaceCount; ++n) newOfOld[newToOldFace[n]] = n;
        std::vector<DWORD> adjacency(size_t{newFaceCount} * 3);
        for (DWORD n = 0; n < newFaceCount; ++n) {
            for (int k = 0; k < 3; ++k) {
                const DWORD old = adjacencyIn[size_t{newToOldFace[n]} * 3 + k];
                adjacency[size_t{n} * 3 + k] = old < oldFaceCount ? newOfOld[old] : NO_ADJACENT_FACE;
            }
        }
        std::memcpy(adjacencyOut, adjacency.data(), adjacency.size() * 4);
    }
    if (faceRemap) std::memcpy(faceRemap, newToOldFace.data(), size_t{newFaceCount} * 4);
    if (vertexRemap) *vertexRemap = remap;
    return S_OK;
}

// The common case of a mesh whose faces all stay and are already in
// attribute order, with the vertices left alone: only the table, the
// adjacency and the remaps are produced. S_FALSE when the mesh is not such
// a case.
HRESULT MeshCore::OptimizeInOrder(bool sort, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                  DataBuffer** vertexRemap) {
    IndexView view;
    HRESULT hr = ViewIndices(view);
    if (FAILED(hr)) return hr;
    const DWORD* indices = view.Data();
    for (DWORD f = 0; f < faceCount_; ++f) {
        if (indices[size_t{f} * 3] == UNUSED_INDEX32) return S_FALSE;
        for (int k = 0; k < 3; ++k) {
            if (indices[size_t{f} * 3 + k] >= vertexCount_) return D3DERR_INVALIDCALL;
        }
    }
    if (sort && !std::is_sorted(attributes_.begin(), attributes_.begin() + faceCount_)) return S_FALSE;

    std::vector<AttributeRange> table;
    if (sort) {
        for (DWORD n = 0; n < faceCount_;) {
            DWORD end = n;
            DWORD low = UNUSED_INDEX32, high = 0;
            for (; end < faceCount_ && attributes_[end] == attributes_[n]; ++end) {
                for (int k = 0; k < 3; ++k) {
                    low = std::min(low, indices[size_t{end} * 3 + k]);
                    high = std::max(high, indices[size_t{end} * 3 + k]);
                }
            }
            table.push_back(AttributeRange{attributes_[n], n, end - n, low, high - low + 1});
            n = end;
        }
    }
    view.Close();
    if (vertexRemap) {
        DataBuffer* remap = nullptr;
        hr = CreateDataBuffer(vertexCount_ * 4, &remap);
        if (FAILED(hr)) return hr;
        DWORD* to = static_cast<DWORD*>(remap->GetDataPointer());
        std::iota(to, to + vertexCount_, 0u);
        *vertexRemap = remap;
    }
    if (sort) {
        table_.swap(table);
        tableValid_ = true;
    }
    if (adjacencyOut) {
        for (size_t i = 0, n = size_t{faceCount_} * 3; i < n; ++i) {
            adjacencyOut[i] = adjacencyIn[i] < faceCount_ ? adjacencyIn[i] : NO_ADJACENT_FACE;
        }
    }
    if (faceRemap) std::iota(faceRemap, faceRemap + faceCount_, 0u);
    return S_OK;
}

HRESULT MeshCore::OptimizeIntoNewMesh(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                      DataBuffer** vertexRemap, Mesh** out) {
    if (out) *out = nullptr;
    if (vertexRemap) *vertexRemap = nullptr;
    if (!out || (flags & 0xC0BE2000) || (flags & (OPT_32BIT_INDICES | OPT_IB_WRITEONLY)) ||
        (options_ & (OPT_IB_WRITEONLY | OPT_VB_WRITEONLY))) {
        return D3DERR_INVALIDCALL;
    }
    DWORD options;
    if (flags & OPT_VALID_BITS) {
        options = (flags & OPT_VALID_BITS) | (options_ & OPT_32BIT_INDICES);
    } else {
        options = (options_ & ~OPT_SHARE_VERTEX_BUFFER) | (flags & OPT_SHARE_VERTEX_BUFFER);
    }
    const bool share = (options & OPT_SHARE_VERTEX_BUFFER) != 0;
    Mesh* copy = nullptr;
    HRESULT hr = CloneWithDeclaration(options, elements_, device_, &copy);
    if (FAILED(hr)) return hr;
    MeshCore* core = copy->Core();
    if (share && !core->sharedVb_) {
        copy->Release();
        return D3DERR_INVALIDCALL;
    }
    hr = core->Optimize(share ? (flags & kOptimizeBits) | OPTIMIZE_IGNORE_VERTICES : flags & kOptimizeBits, adjacencyIn,
                        adjacencyOut, faceRemap, vertexRemap);
    if (FAILED(hr)) {
        copy->Release();
        return hr;
    }
    *out = copy;
    return S_OK;
}

HRESULT MeshCore::OptimizeMeshInPlace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                      DataBuffer** vertexRemap) {
    if (vertexRemap) *vertexRemap = nullptr;
    if ((flags & 0xC0BFEFFF) || (options_ & (OPT_IB_WRITEONLY | OPT_VB_WRITEONLY))) return D3DERR_INVALIDCALL;
    return Optimize(flags & kOptimizeBits, adjacencyIn, adjacencyOut, faceRemap, vertexRemap);
}

// ---------------------------------------------------------------------------
// Adjacency

HRESULT MeshCore::AdjacencyFromPointReps(const DWORD* pointReps, DWORD* adjacency) {
    if (!adjacency) return D3DERR_INVALIDCALL;
    IndexView indices;
    HRESULT hr = ViewIndices(indices);
    if (FAILED(hr)) return hr;
    return PairEdges(indices.Data(), pointReps, adjacency);
}

// Pairs the half-edges of the faces by their representative end points.
// Half-edges are bucketed by their lower end (a counting sort, stable in
// face and edge order) and each bucket sorted stably by the upper end, so a
// group of equal edges keeps face order and its members pair up in twos.
HRESULT MeshCore::PairEdges(const DWORD* indices, const DWORD* pointReps, DWORD* adjacency) {
    std::fill(adjacency, adjacency + size_t{faceCount_} * 3, NO_ADJACENT_FACE);
    auto rep = [&](DWORD v) { return pointReps && v < vertexCount_ ? pointReps[v] : v; };
    // A caller's representative may lie outside the vertex range; buckets are
    // then keyed by the largest one seen.
    uint64_t keys = vertexCount_;
    if (pointReps) {
        for (DWORD v = 0; v < vertexCount_; ++v) keys = std::max<uint64_t>(keys, uint64_t{pointReps[v]} + 1);
    }
    for (size_t i = 0, n = size_t{faceCount_} * 3; i < n; ++i) {
        keys = std::max<uint64_t>(keys, uint64_t{indices[i]} + 1);
    }
    // Only odd input (representatives far beyond the vertices) takes the
    // general sort below.
    if (keys > uint64_t{vertexCount_} + uint64_t{faceCount_} * 3 + 1) keys = 0;
    auto usable = [&](DWORD f, DWORD r[3]) {
        if (indices[size_t{f} * 3] == UNUSED_INDEX32) return false;
        for (int k = 0; k < 3; ++k) r[k] = rep(indices[size_t{f} * 3 + k]);
        return !(r[0] == r[1] || r[1] == r[2] || r[0] == r[2]);
    };
    // Half-edges by corner (face * 3 + edge), bucket by bucket.
    xfile::LargeVector<DWORD> corners;
    std::vector<DWORD> start;  // bucket b holds corners[start[b]] .. corners[start[b + 1] - 1]
    if (keys) {
        std::vector<DWORD> count(static_cast<size_t>(keys) + 1, 0);
        DWORD r[3];
        for (DWORD f = 0; f < faceCount_; ++f) {
            if (!usable(f, r)) continue;
            for (int k = 0; k < 3; ++k) ++count[std::min(r[k], r[(k + 1) % 3]) + size_t{1}];
        }
        for (size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
        corners.resize(count.back());
        std::vector<DWORD> fill(count.begin(), count.end() - 1);
        start.swap(count);
        for (DWORD f = 0; f < faceCount_; ++f) {
            if (!usable(f, r)) continue;
            for (DWORD k = 0; k < 3; ++k) corners[fill[std::min(r[k], r[(k + 1) % 3])]++] = f * 3 + k;
        }
    } else {
        struct Keyed {
            DWORD low, corner;
        };
        std::vector<Keyed> all;
        DWORD r[3];
        for (DWORD f = 0; f < faceCount_; ++f) {
            if (!usable(f, r)) continue;
            for (DWORD k = 0; k < 3; ++k) all.push_back(Keyed{std::min(r[k], r[(k + 1) % 3]), f * 3 + k});
        }
        std::stable_sort(all.begin(), all.end(), [](const Keyed& x, const Keyed& y) { return x.low < y.low; });
        corners.resize(all.size());
        start.push_back(0);
        for (size_t i = 0; i < all.size(); ++i) {
            if (i > 0 && all[i].low != all[i - 1].low) start.push_back(static_cast<DWORD>(i));
            corners[i] = all[i].corner;
        }
        start.push_back(static_cast<DWORD>(all.size()));
    }
    struct HalfEdge {
        DWORD high, corner;
    };
    std::vector<HalfEdge> bucket;
    for (size_t b = 0; b + 1 < start.size(); ++b) {
        if (start[b + 1] - start[b] < 2) continue;  // nothing to pair
        bucket.clear();
        for (DWORD i = start[b]; i < start[b + 1]; ++i) {
            const DWORD c = corners[i], f = c / 3, k = c % 3;
            const DWORD high = std::max(rep(indices[size_t{f} * 3 + k]), rep(indices[size_t{f} * 3 + (k + 1) % 3]));
            bucket.push_back(HalfEdge{high, c});
        }
        HalfEdge* first = bucket.data();
        HalfEdge* last = first + bucket.size();
        if (last - first > 16) {
            std::stable_sort(first, last, [](const HalfEdge& x, const HalfEdge& y) { return x.high < y.high; });
        } else {
            for (HalfEdge* i = first + 1; i < last; ++i) {  // insertion sort: buckets are small
                const HalfEdge e = *i;
                HalfEdge* j = i;
                for (; j > first && (j - 1)->high > e.high; --j) *j = *(j - 1);
                *j = e;
            }
        }
        for (HalfEdge* i = first; i < last;) {
            HalfEdge* end = i + 1;
            while (end < last && end->high == i->high) ++end;
            for (HalfEdge* j = i; j + 1 < end; j += 2) {
                const DWORD f = j->corner / 3, g = (j + 1)->corner / 3;
                if (f == g) continue;
                adjacency[j->corner] = g;
                adjacency[(j + 1)->corner] = f;
            }
            i = end;
        }
    }
    return S_OK;
}

HRESULT MeshCore::PointRepsFromAdjacency(const DWORD* adjacency, DWORD* pointReps) {
    if (!pointReps) return D3DERR_INVALIDCALL;
    std::vector<DWORD> indices;
    HRESULT hr = ReadIndices(indices);
    if (FAILED(hr)) return hr;
    std::vector<DWORD> parent(vertexCount_);
    std::iota(parent.begin(), parent.end(), 0u);
    auto find = [&](DWORD v) {
        while (parent[v] != v) v = parent[v] = parent[parent[v]];
        return v;
    };
    auto join = [&](DWORD a, DWORD b) {
        a = find(a);
        b = find(b);
        if (a < b) parent[b] = a;
        else if (b < a) parent[a] = b;
    };
    if (adjacency) {
        for (DWORD f = 0; f < faceCount_; ++f) {
            for (DWORD k = 0; k < 3; ++k) {
                const DWORD g = adjacency[size_t{f} * 3 + k];
                if (g >= faceCount_ || g == f) continue;
                for (DWORD j = 0; j < 3; ++j) {
                    if (adjacency[size_t{g} * 3 + j] != f) continue;
                    const DWORD a = indices[size_t{f} * 3 + k], b = indices[size_t{f} * 3 + (k + 1) % 3];
                    const DWORD c = indices[size_t{g} * 3 + j], d = indices[size_t{g} * 3 + (j + 1) % 3];
                    if (a < vertexCount_ && b < vertexCount_ && c < vertexCount_ && d < vertexCount_) {
                        join(a, d);
                        join(b, c);
                    }
                    break;
                }
            }
        }
    }
    for (DWORD v = 0; v < vertexCount_; ++v) pointReps[v] = find(v);
    return S_OK;
}

// Each vertex's representative is the first vertex at exactly its position
// (−0 and +0 alike), found through a hash of the positions.
HRESULT MeshCore::ExactPointReps(std::vector<DWORD>& reps) {
    const D3DVERTEXELEMENT9* position = FindPointPosition(elements_);
    if (!position) return D3DERR_INVALIDCALL;
    reps.resize(vertexCount_);
    std::iota(reps.begin(), reps.end(), 0u);
    if (!vertexCount_ || !vb_) return S_OK;
    void* p = nullptr;
    HRESULT hr = vb_->Lock(0, 0, &p, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK);
    if (FAILED(hr)) return hr;
    const BYTE* base = static_cast<const BYTE*>(p) + position->Offset;
    const size_t stride = stride_;
    struct Key {
        uint32_t bits[3];
        bool operator==(const Key& o) const {
            return bits[0] == o.bits[0] && bits[1] == o.bits[1] && bits[2] == o.bits[2];
        }
    };
    auto keyOf = [&](DWORD v) {
        float xyz[3];
        std::memcpy(xyz, base + v * stride, 12);
        Key k;
        for (int i = 0; i < 3; ++i) {
            if (xyz[i] == 0.0f) xyz[i] = 0.0f;
            std::memcpy(&k.bits[i], &xyz[i], 4);
        }
        return k;
    };
    size_t capacity = 16;
    while (capacity < size_t{vertexCount_} * 2) capacity <<= 1;
    const size_t mask = capacity - 1;
    std::vector<DWORD> slots(capacity, UNUSED_INDEX32);
    for (DWORD v = 0; v < vertexCount_; ++v) {
        const Key k = keyOf(v);
        uint64_t h = (uint64_t{k.bits[0]} * 0x9E3779B97F4A7C15ull) ^ (uint64_t{k.bits[1]} * 0xC2B2AE3D27D4EB4Full) ^
                     (uint64_t{k.bits[2]} * 0x165667B19E3779F9ull);
        h ^= h >> 29;
        for (size_t slot = static_cast<size_t>(h) & mask;; slot = (slot + 1) & mask) {
            if (slots[slot] == UNUSED_INDEX32) {
                slots[slot] = v;
                break;
            }
            if (keyOf(slots[slot]) == k) {
                reps[v] = slots[slot];
                break;
            }
        }
    }
    vb_->Unlock();
    return S_OK;
}

HRESULT MeshCore::BuildAdjacency(float epsilon, DWORD* adjacency) {
    if (!adjacency) return D3DERR_INVALIDCALL;
    if (epsilon <= 0.0f) {
        std::vector<DWORD> reps;
        HRESULT hr = ExactPointReps(reps);
        if (FAILED(hr)) return hr;
        return AdjacencyFromPointReps(reps.data(), adjacency);
    }
    const D3DVERTEXELEMENT9* position = FindPointPosition(elements_);
    if (!position) return D3DERR_INVALIDCALL;
    std::vector<BYTE> vertices;
    HRESULT hr = ReadVertices(vertices);
    if (FAILED(hr)) return hr;
    std::vector<float> xyz(size_t{vertexCount_} * 3);
    for (DWORD v = 0; v < vertexCount_; ++v) {
        std::memcpy(&xyz[size_t{v} * 3], &vertices[size_t{v} * stride_ + position->Offset], 12);
    }
    // Sweep along x: each vertex joins the nearest earlier one (in x order)
    // within epsilon on every axis; a set's representative is its smallest
    // vertex index. Stopping at the first match keeps clusters of equal
    // points linear.
    std::vector<DWORD> byX(vertexCount_);
    std::iota(byX.begin(), byX.end(), 0u);
    std::stable_sort(byX.begin(), byX.end(), [&](DWORD a, DWORD b) { return xyz[size_t{a} * 3] < xyz[size_t{b} * 3]; });
    std::vector<DWORD> reps(vertexCount_);
    std::iota(reps.begin(), reps.end(), 0u);
    auto find = [&](DWORD v) {
        while (reps[v] != v) v = reps[v] = reps[reps[v]];
        return v;
    };
    auto join = [&](size_t i, size_t j) {
        const DWORD a = find(byX[i]), b = find(byX[j]);
        if (a < b) reps[b] = a;
        else reps[a] = b;
    };
    auto near = [&](const float* p, const float* q) {
        return std::fabs(p[1] - q[1]) <= epsilon && std::fabs(p[2] - q[2]) <= epsilon;
    };
    // The vertices within epsilon in x of one another can be all of them
    // (a flat mesh across the x axis), and walking back through them is
    // quadratic. So the earlier vertices are kept in cells of 2 epsilon in
    // y and z: any vertex near enough lies in one of the nine cells around
    // the vertex's own (even with the differences rounded), and in each
    // cell the latest vertex still within epsilon in x that is near enough
    // is the one the walk back would have met there first.
    const double cell = 2.0 * double(epsilon);
    auto cellOf = [&](float v) { return std::floor(double(v) / cell); };
    // (A NaN or infinite y or z fails the cell bound.)
    bool finite = std::isfinite(epsilon);
    for (size_t k = 0; k < xyz.size() && finite; k += 3)
        finite = std::isfinite(xyz[k]) && std::fabs(cellOf(xyz[k + 1])) < 1e15 && std::fabs(cellOf(xyz[k + 2])) < 1e15;
    if (finite) {
        std::unordered_map<uint64_t, std::vector<DWORD>> cells;  // sorted positions, in order
        auto keyOf = [](int64_t cy, int64_t cz) { return uint64_t(cy) * 0x9E3779B97F4A7C15ull ^ uint64_t(cz); };
        size_t first = 0;  // the first sorted position within epsilon in x
        for (size_t i = 0; i < byX.size(); ++i) {
            const float* p = &xyz[size_t{byX[i]} * 3];
            while (p[0] - xyz[size_t{byX[first]} * 3] > epsilon) ++first;
            const int64_t cy = int64_t(cellOf(p[1])), cz = int64_t(cellOf(p[2]));
            size_t best = i;
            for (int64_t dy = -1; dy <= 1; ++dy)
                for (int64_t dz = -1; dz <= 1; ++dz) {
                    const auto found = cells.find(keyOf(cy + dy, cz + dz));
                    if (found == cells.end()) continue;
                    const std::vector<DWORD>& in = found->second;
                    for (size_t k = in.size(); k-- > 0 && in[k] >= first;) {
                        if (best != i && in[k] <= best) break;
                        if (near(p, &xyz[size_t{byX[in[k]]} * 3])) {
                            best = in[k];
                            break;
                        }
                    }
                }
            if (best != i) join(i, best);
            cells[keyOf(cy, cz)].push_back(DWORD(i));
        }
    } else {
        // NaN and infinite coordinates: the walk back itself, whose
        // comparisons decide what such points join.
        for (size_t i = 0; i < byX.size(); ++i) {
            const float* p = &xyz[size_t{byX[i]} * 3];
            for (size_t j = i; j-- > 0;) {
                const float* q = &xyz[size_t{byX[j]} * 3];
                if (p[0] - q[0] > epsilon) break;
                if (near(p, q)) {
                    join(i, j);
                    break;
                }
            }
        }
    }
    for (DWORD v = 0; v < vertexCount_; ++v) reps[v] = find(v);
    return AdjacencyFromPointReps(reps.data(), adjacency);
}
