#include "geometry/intersect.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "geometry/mesh_core.h"

namespace {

constexpr int kHitBlock = 63;

struct V3 {
    float x, y, z;
};
inline V3 Sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Two-sided edge-and-determinant test, inclusive at every boundary.
bool RayTriangle(V3 p0, V3 p1, V3 p2, V3 o, V3 d, float* u, float* v, float* t) {
    const V3 e1 = Sub(p1, p0), e2 = Sub(p2, p0);
    const V3 p = Cross(d, e2);
    float det = Dot(e1, p);
    V3 s;
    if (det > 0) {
        s = Sub(o, p0);
    } else if (det < 0) {
        det = -det;
        s = Sub(p0, o);
    } else {
        return false;
    }
    const float uu = Dot(s, p);
    if (uu < 0 || uu > det) return false;
    const V3 q = Cross(s, e1);
    const float vv = Dot(d, q);
    if (vv < 0 || uu + vv > det) return false;
    const float tt = Dot(e2, q);
    if (tt < 0) return false;
    *u = uu / det;
    *v = vv / det;
    *t = tt / det;
    return true;
}

// Hits gathered in blocks; handed out newest block first.
class HitList {
public:
    bool Add(const IntersectInfo& info) {
        try {
            if (blocks_.empty() || blocks_.back().size() == kHitBlock) {
                blocks_.emplace_back();
                blocks_.back().reserve(kHitBlock);
            }
            blocks_.back().push_back(info);
        } catch (...) {
            return false;
        }
        return true;
    }
    void CopyTo(IntersectInfo* out) const {
        for (auto block = blocks_.rbegin(); block != blocks_.rend(); ++block) {
            std::memcpy(out, block->data(), block->size() * sizeof(IntersectInfo));
            out += block->size();
        }
    }

private:
    std::vector<std::vector<IntersectInfo>> blocks_;
};

// Side of the plane a*x + b*y = -c (through the ray, parallel to it) for
// `count` strided positions: 1 above, 0 on, below or NaN. Four at a time;
// each lane does the same multiplies, add and compare as the scalar tail.
void MarkSides(const BYTE* position, DWORD stride, DWORD count, float a, float b, float c, BYTE* out) {
    const __m128 va = _mm_set1_ps(a), vb = _mm_set1_ps(b), vc = _mm_set1_ps(-c);
    const __m128i one = _mm_set1_epi8(1);
    DWORD i = 0;
    for (; i + 4 <= count; i += 4, position += size_t{stride} * 4) {
        // x and y of each vertex only: loading 16 bytes could read past the buffer.
        const __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(position));
        const __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(position + stride));
        const __m128i p2 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(position + size_t{stride} * 2));
        const __m128i p3 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(position + size_t{stride} * 3));
        const __m128 p01 = _mm_castsi128_ps(_mm_unpacklo_epi64(p0, p1));  // x0 y0 x1 y1
        const __m128 p23 = _mm_castsi128_ps(_mm_unpacklo_epi64(p2, p3));
        const __m128 x = _mm_shuffle_ps(p01, p23, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 y = _mm_shuffle_ps(p01, p23, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 above = _mm_cmpgt_ps(_mm_add_ps(_mm_mul_ps(va, x), _mm_mul_ps(vb, y)), vc);
        __m128i m = _mm_packs_epi32(_mm_castps_si128(above), _mm_castps_si128(above));
        m = _mm_and_si128(_mm_packs_epi16(m, m), one);
        const int bytes = _mm_cvtsi128_si32(m);
        std::memcpy(out + i, &bytes, 4);
    }
    for (; i < count; ++i, position += stride) {
        float p[2];
        std::memcpy(p, position, sizeof(p));
        out[i] = a * p[0] + b * p[1] > -c;
    }
}

// Side marks indexed by vertex number, kept per thread between casts:
// 0 below `low`, the side (0 or 1) in [low, limit), kOutside from `limit`
// on; the table always ends at least one entry past `limit`. A face's
// three marks then add up to 1 or 2 exactly when it has corners on both
// sides and none past the marked vertices, with no range checks.
constexpr BYTE kOutside = 4;

class MarkTable {
public:
    // Moves the window to [newLow, newLimit); its inside is left to the caller.
    BYTE* Window(DWORD newLow, DWORD newLimit) {
        // Room for every 16-bit index, and one entry past the window.
        const size_t size = std::max(size_t{65537}, size_t{newLimit} + 1);
        if (marks_.size() < size) marks_.resize(size, kOutside);
        if (newLow > low_) std::memset(&marks_[low_], 0, newLow - low_);
        if (newLimit < limit_) std::memset(&marks_[newLimit], kOutside, limit_ - newLimit);
        low_ = newLow;
        limit_ = newLimit;
        return marks_.data();
    }
    DWORD Last() const { return static_cast<DWORD>(marks_.size() - 1); }

private:
    std::vector<BYTE> marks_;
    DWORD low_ = 0, limit_ = 0;
};

// Faces whose corners all lie on one side of the plane through the ray are
// skipped before the full test; that rejects nearly every face.
template <class Index>
void Scan(const BYTE* vertices, DWORD stride, DWORD positionOffset, const Index* indices,
          const std::vector<AttributeRange>& ranges, DWORD vertexCount, V3 o, V3 d, BOOL* hit, DWORD& bestFace,
          float& bestU, float& bestV, float& bestT, HitList* hits, DWORD& count, bool& allocFailed) {
    DWORD limit = 0, low = UINT32_MAX;
    for (const AttributeRange& r : ranges) {
        limit = std::max(limit, r.VertexStart + r.VertexCount);
        low = std::min(low, r.VertexStart);
    }
    limit = std::min(limit, vertexCount);
    low = std::min(low, limit);
    // Only the vertices [low, limit) are marked: one group of a large mesh
    // is probed every frame. A single range overwrites all of them; gaps
    // between several must read as 0.
    thread_local MarkTable table;
    BYTE* const marks = table.Window(low, limit);
    if (ranges.size() != 1) std::memset(marks + low, 0, limit - low);
    float a, b, c;
    if (d.x != 0) {
        a = d.y;
        b = -d.x;
        c = o.y * d.x - d.y * o.x;
    } else {
        a = 1;
        b = 0;
        c = -o.x;
    }
    auto position = [&](DWORD i) {
        V3 p;
        std::memcpy(&p, vertices + size_t{i} * stride + positionOffset, sizeof(p));
        return p;
    };
    for (const AttributeRange& r : ranges) {
        const DWORD end = std::min(limit, r.VertexStart + r.VertexCount);
        if (r.VertexStart >= end) continue;
        MarkSides(vertices + size_t{r.VertexStart} * stride + positionOffset, stride, end - r.VertexStart, a, b, c,
                  marks + r.VertexStart);
    }
    // 32-bit indices past the table read its last entry, which is kOutside.
    const DWORD last = table.Last();
    auto entry = [=](DWORD i) {
        if constexpr (sizeof(Index) == 2) return i;
        else return std::min(i, last);
    };
    for (const AttributeRange& r : ranges) {
        const Index* face = indices + size_t{r.FaceStart} * 3;
        for (DWORD k = 0; k < r.FaceCount; ++k, face += 3) {
            const DWORD i0 = face[0], i1 = face[1], i2 = face[2];
            const unsigned sides = marks[entry(i0)] + marks[entry(i1)] + marks[entry(i2)];
            // 0 or 3: all on one side; 4 and up: a corner not marked.
            if (sides - 1 > 1) continue;
            float u, v, t;
            if (!RayTriangle(position(i0), position(i1), position(i2), o, d, &u, &v, &t)) continue;
            const DWORD f = r.FaceStart + k;
            if (t < bestT) {
                bestT = t;
                bestU = u;
                bestV = v;
                bestFace = f;
                *hit = TRUE;
            }
            if (hits && !hits->Add(IntersectInfo{f, u, v, t})) allocFailed = true;
            ++count;
        }
    }
}

HRESULT Intersect(Mesh* mesh, bool group, DWORD attribId, const Vector3* origin, const Vector3* direction, BOOL* hit,
                  DWORD* faceIndex, FLOAT* u, FLOAT* v, FLOAT* distance, DataBuffer** allHits, DWORD* hitCount) {
    if (!mesh) return D3DERR_INVALIDCALL;
    if (allHits) *allHits = nullptr;
    MeshCore* core = mesh->Core();
    // Positions are read as three floats.
    const D3DVERTEXELEMENT9* position = FindPointPosition(core->Elements());
    if (!origin || !direction || !hit || (core->GetCreationOptions() & (OPT_VB_WRITEONLY | OPT_IB_WRITEONLY)) ||
        !position) {
        return D3DERR_INVALIDCALL;
    }
    const DWORD vertexCount = core->GetVertexCount();
    const DWORD faceCount = core->GetFaceCount();
    void* indices = nullptr;
    HRESULT hr = core->LockIndices(D3DLOCK_READONLY, &indices);
    if (FAILED(hr)) return hr;
    void* vertices = nullptr;
    hr = core->LockVertices(D3DLOCK_READONLY, &vertices);
    if (FAILED(hr)) {
        core->UnlockIndices();
        return hr;
    }
    *hit = FALSE;
    DWORD count = 0;
    float bestT;
    const uint32_t farBits = 0x799A130C;
    std::memcpy(&bestT, &farBits, sizeof(bestT));
    float bestU = 0, bestV = 0;
    DWORD bestFace = 0;
    bool allocFailed = false;
    HitList list;
    if (vertexCount != 0) {
        std::vector<AttributeRange> ranges;
        if (core->TableValid()) {
            const std::vector<AttributeRange>& table = core->Table();
            if (group) {
                const AttributeRange* entry = nullptr;
                if (attribId < table.size() && table[attribId].AttribId == attribId) {
                    entry = &table[attribId];
                } else {
                    for (const AttributeRange& r : table) {
                        if (r.AttribId == attribId) {
                            entry = &r;
                            break;
                        }
                    }
                }
                if (entry) ranges.push_back(*entry);
            } else {
                ranges = table;
            }
        } else if (group) {
            hr = D3DERR_INVALIDCALL;
        } else {
            ranges.push_back(AttributeRange{0, 0, faceCount, 0, vertexCount});
        }
        // Ranges are clipped to the mesh so a stale table cannot read past it.
        for (AttributeRange& r : ranges) {
            r.FaceStart = std::min(r.FaceStart, faceCount);
            r.FaceCount = std::min(r.FaceCount, faceCount - r.FaceStart);
        }
        if (SUCCEEDED(hr) && !ranges.empty()) {
            const V3 o{origin->x, origin->y, origin->z}, d{direction->x, direction->y, direction->z};
            const BYTE* vb = static_cast<const BYTE*>(vertices);
            if (core->Wide()) {
                Scan(vb, core->GetVertexStride(), position->Offset, static_cast<const DWORD*>(indices), ranges,
                     vertexCount, o, d, hit, bestFace, bestU, bestV, bestT, allHits ? &list : nullptr, count,
                     allocFailed);
            } else {
                Scan(vb, core->GetVertexStride(), position->Offset, static_cast<const WORD*>(indices), ranges,
                     vertexCount, o, d, hit, bestFace, bestU, bestV, bestT, allHits ? &list : nullptr, count,
                     allocFailed);
            }
        }
    }
    if (SUCCEEDED(hr) && allocFailed) hr = E_OUTOFMEMORY;
    if (SUCCEEDED(hr) && *hit) {
        if (faceIndex) *faceIndex = bestFace;
        if (u) *u = bestU;
        if (v) *v = bestV;
        if (distance) *distance = bestT;
        if (allHits) {
            hr = CreateDataBuffer(count * static_cast<DWORD>(sizeof(IntersectInfo)), allHits);
            if (SUCCEEDED(hr)) list.CopyTo(static_cast<IntersectInfo*>((*allHits)->GetDataPointer()));
        }
    }
    if (hitCount) *hitCount = SUCCEEDED(hr) ? count : 0;
    core->UnlockVertices();
    core->UnlockIndices();
    return hr;
}

}  // namespace

HRESULT IntersectRayWithMeshGroup(Mesh* mesh, DWORD attribId, const Vector3* origin, const Vector3* direction,
                                  BOOL* hit, DWORD* faceIndex, FLOAT* u, FLOAT* v, FLOAT* distance,
                                  DataBuffer** allHits, DWORD* hitCount) {
    return Intersect(mesh, true, attribId, origin, direction, hit, faceIndex, u, v, distance, allHits, hitCount);
}

HRESULT IntersectRayWithMesh(Mesh* mesh, const Vector3* origin, const Vector3* direction, BOOL* hit,
                             DWORD* faceIndex, FLOAT* u, FLOAT* v, FLOAT* distance, DataBuffer** allHits,
                             DWORD* hitCount) {
    return Intersect(mesh, false, 0, origin, direction, hit, faceIndex, u, v, distance, allHits, hitCount);
}
