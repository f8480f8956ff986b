#include "geometry/intersect.h"

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
    // Marks for the vertices [low, limit) only: one group of a large mesh
    // is probed every frame. Corners below `low` count as unmarked.
    std::vector<BYTE> marks(limit - low, 0);
    auto mark = [&](DWORD i) { return i < low ? BYTE(0) : marks[i - low]; };
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
        for (DWORD i = r.VertexStart; i < end; ++i) {
            const V3 p = position(i);
            marks[i - low] = a * p.x + b * p.y > -c;
        }
    }
    for (const AttributeRange& r : ranges) {
        for (DWORD f = r.FaceStart; f < r.FaceStart + r.FaceCount; ++f) {
            const DWORD i0 = indices[size_t{f} * 3], i1 = indices[size_t{f} * 3 + 1], i2 = indices[size_t{f} * 3 + 2];
            // Corners outside the marked range (or the buffer) cannot be tested.
            if (i0 >= limit || i1 >= limit || i2 >= limit) continue;
            const BYTE m0 = mark(i0), m1 = mark(i1), m2 = mark(i2);
            if (m0 == m1 && m1 == m2) continue;
            float u, v, t;
            if (!RayTriangle(position(i0), position(i1), position(i2), o, d, &u, &v, &t)) continue;
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
    const D3DVERTEXELEMENT9* position = FindElement(core->Elements(), D3DDECLUSAGE_POSITION, 0);
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
