// The face scan behind IntersectRayWithMeshGroup / IntersectRayWithMesh
// against a plain one-face-at-a-time version of it, on random meshes that
// include malformed data: NaN and infinite positions, indices past the
// vertex count, attribute tables that no longer fit the mesh.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "mesh_fixture.h"

namespace {

struct V3 {
    float x, y, z;
};
V3 Sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

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

// What a cast reports, with untouched outputs left at their sentinels.
struct Result {
    HRESULT hr = E_FAIL;
    BOOL hit = 7;
    DWORD face = 0xDEAD;
    float u = -1, v = -2, distance = -3;
    DWORD count = 0xDEAD;
    std::vector<IntersectInfo> all;
};

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

// The mesh as the scan sees it, copied out before the cast.
struct MeshData {
    std::vector<BYTE> vertices;
    DWORD stride = 0, vertexCount = 0, faceCount = 0;
    std::vector<DWORD> indices;
    bool tableValid = false;
    std::vector<AttributeRange> table;
};

// Every face of the ranges in order; a face counts only when its corners
// lie on both sides of the vertical-ish plane through the ray.
void ReferenceScan(const MeshData& m, const std::vector<AttributeRange>& ranges, V3 o, V3 d, Result& r,
                   std::vector<IntersectInfo>& hits, float& bestT) {
    DWORD limit = 0, low = UINT32_MAX;
    for (const AttributeRange& range : ranges) {
        limit = std::max(limit, range.VertexStart + range.VertexCount);
        low = std::min(low, range.VertexStart);
    }
    limit = std::min(limit, m.vertexCount);
    low = std::min(low, limit);
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
        std::memcpy(&p, m.vertices.data() + size_t{i} * m.stride, sizeof(p));
        return p;
    };
    for (const AttributeRange& range : ranges) {
        const DWORD end = std::min(limit, range.VertexStart + range.VertexCount);
        for (DWORD i = range.VertexStart; i < end; ++i) {
            const V3 p = position(i);
            marks[i - low] = a * p.x + b * p.y > -c;
        }
    }
    for (const AttributeRange& range : ranges) {
        for (DWORD f = range.FaceStart; f < range.FaceStart + range.FaceCount; ++f) {
            const DWORD i0 = m.indices[size_t{f} * 3], i1 = m.indices[size_t{f} * 3 + 1],
                        i2 = m.indices[size_t{f} * 3 + 2];
            if (i0 >= limit || i1 >= limit || i2 >= limit) continue;
            const BYTE m0 = mark(i0), m1 = mark(i1), m2 = mark(i2);
            if (m0 == m1 && m1 == m2) continue;
            float u, v, t;
            if (!RayTriangle(position(i0), position(i1), position(i2), o, d, &u, &v, &t)) continue;
            if (t < bestT) {
                bestT = t;
                r.u = u;
                r.v = v;
                r.face = f;
                r.hit = TRUE;
            }
            hits.push_back(IntersectInfo{f, u, v, t});
        }
    }
}

Result Reference(const MeshData& m, bool group, DWORD attribId, V3 o, V3 d) {
    Result r;
    r.hr = S_OK;
    r.hit = FALSE;
    float bestT;
    const uint32_t farBits = 0x799A130C;
    std::memcpy(&bestT, &farBits, 4);
    std::vector<AttributeRange> ranges;
    if (m.tableValid) {
        if (group) {
            // The entry at the id's own index, else the first with the id.
            if (attribId < m.table.size() && m.table[attribId].AttribId == attribId) {
                ranges.push_back(m.table[attribId]);
            } else {
                for (const AttributeRange& range : m.table) {
                    if (range.AttribId == attribId) {
                        ranges.push_back(range);
                        break;
                    }
                }
            }
        } else {
            ranges = m.table;
        }
    } else if (group) {
        r.hr = D3DERR_INVALIDCALL;
    } else {
        ranges.push_back(AttributeRange{0, 0, m.faceCount, 0, m.vertexCount});
    }
    for (AttributeRange& range : ranges) {
        range.FaceStart = std::min(range.FaceStart, m.faceCount);
        range.FaceCount = std::min(range.FaceCount, m.faceCount - range.FaceStart);
    }
    std::vector<IntersectInfo> hits;
    if (r.hr == S_OK && !ranges.empty()) ReferenceScan(m, ranges, o, d, r, hits, bestT);
    if (r.hr == S_OK && r.hit) {
        r.distance = bestT;
        // Blocks of 63, newest first.
        for (size_t end = hits.size(); end > 0;) {
            const size_t start = (end - 1) / 63 * 63;
            r.all.insert(r.all.end(), hits.begin() + start, hits.begin() + end);
            end = start;
        }
    }
    r.count = r.hr == S_OK ? static_cast<DWORD>(hits.size()) : 0;
    return r;
}

Result Cast(Mesh* mesh, bool group, DWORD attribId, V3 o, V3 d) {
    Result r;
    const Vector3 origin{o.x, o.y, o.z}, direction{d.x, d.y, d.z};
    DataBuffer* all = nullptr;
    r.hr = group ? IntersectRayWithMeshGroup(mesh, attribId, &origin, &direction, &r.hit, &r.face, &r.u, &r.v,
                                             &r.distance, &all, &r.count)
                 : IntersectRayWithMesh(mesh, &origin, &direction, &r.hit, &r.face, &r.u, &r.v, &r.distance, &all,
                                        &r.count);
    if (all) {
        const auto* p = static_cast<const IntersectInfo*>(all->GetDataPointer());
        r.all.assign(p, p + all->GetDataSize() / sizeof(IntersectInfo));
        all->Release();
    }
    return r;
}

void ExpectSame(const Result& got, const Result& want, const char* what) {
    EXPECT_EQ(got.hr, want.hr) << what;
    if (got.hr != S_OK) return;
    EXPECT_EQ(got.hit, want.hit) << what;
    EXPECT_EQ(got.face, want.face) << what;
    EXPECT_EQ(Bits(got.u), Bits(want.u)) << what;
    EXPECT_EQ(Bits(got.v), Bits(want.v)) << what;
    EXPECT_EQ(Bits(got.distance), Bits(want.distance)) << what;
    EXPECT_EQ(got.count, want.count) << what;
    ASSERT_EQ(got.all.size(), want.all.size()) << what;
    for (size_t k = 0; k < got.all.size(); ++k) {
        EXPECT_EQ(got.all[k].FaceIndex, want.all[k].FaceIndex) << what << " record " << k;
        EXPECT_EQ(Bits(got.all[k].U), Bits(want.all[k].U)) << what << " record " << k;
        EXPECT_EQ(Bits(got.all[k].V), Bits(want.all[k].V)) << what << " record " << k;
        EXPECT_EQ(Bits(got.all[k].Dist), Bits(want.all[k].Dist)) << what << " record " << k;
    }
}

}  // namespace

class IntersectScanTest : public MeshTest {
protected:
    std::mt19937 rng{20261208};

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    bool Chance(int percent) { return Below(100) < percent; }

    // Coordinates on a coarse grid so that corners land exactly on the
    // plane through the ray and rays pass exactly through edges, plus the
    // odd non-finite value.
    float Coordinate() {
        const int k = Below(200);
        if (k == 0) return std::numeric_limits<float>::quiet_NaN();
        if (k == 1) return std::numeric_limits<float>::infinity();
        if (k == 2) return -std::numeric_limits<float>::infinity();
        if (k < 60) return std::uniform_real_distribution<float>(-4, 4)(rng);
        return static_cast<float>(Below(17) - 8) * 0.5f;
    }

    V3 Direction() {
        switch (Below(6)) {
            case 0: return {0, -1, 0};
            case 1: return {0, Coordinate(), Coordinate()};  // d.x == 0, not vertical
            case 2: return {-0.0f, 1, 0};
            case 3: return {Coordinate(), 0, Coordinate()};  // horizontal
            default: return {Coordinate(), Coordinate(), Coordinate()};
        }
    }

    // A random mesh with 32-byte vertices (position, normal, one uv), its
    // table sane, stale, garbage or absent.
    Mesh* RandomMesh(bool wide, MeshData& data) {
        DWORD vertices = 1 + static_cast<DWORD>(Below(Chance(20) ? 2000 : 90));
        // Now and then more vertices than 16 bits can index.
        if (wide && Chance(4)) vertices = 65530 + static_cast<DWORD>(Below(12));
        const DWORD faces = 1 + static_cast<DWORD>(Below(Chance(20) ? 3000 : 120));
        const DWORD options = OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM | (wide ? OPT_32BIT_INDICES : 0);
        Mesh* mesh = nullptr;
        EXPECT_EQ(CreateMeshFvf(faces, vertices, options, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, device, &mesh),
                  S_OK);
        if (!mesh) return nullptr;
        EXPECT_EQ(mesh->GetVertexStride(), 32u);
        float* vb = nullptr;
        EXPECT_EQ(mesh->LockVertices(0, reinterpret_cast<void**>(&vb)), S_OK);
        for (DWORD i = 0; i < vertices * 8; ++i) vb[i] = Coordinate();
        mesh->UnlockVertices();
        void* ib = nullptr;
        EXPECT_EQ(mesh->LockIndices(0, &ib), S_OK);
        for (DWORD i = 0; i < faces * 3; ++i) {
            const DWORD index = static_cast<DWORD>(Below(static_cast<int>(vertices)));
            if (wide) static_cast<DWORD*>(ib)[i] = index;
            else static_cast<WORD*>(ib)[i] = static_cast<WORD>(index);
        }
        mesh->UnlockIndices();
        const DWORD groups = 1 + static_cast<DWORD>(Below(5));
        DWORD* attributes = nullptr;
        EXPECT_EQ(mesh->LockAttributes(0, &attributes), S_OK);
        for (DWORD f = 0; f < faces; ++f) attributes[f] = static_cast<DWORD>(Below(static_cast<int>(groups)));
        mesh->UnlockAttributes();
        const int table = Below(4);
        if (table >= 1) {
            EXPECT_EQ(mesh->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr), S_OK);
        }
        if (table == 2) {
            // Garbage: ranges past the faces or vertices, overlapping,
            // wrapping, repeated ids, out of order.
            std::vector<AttributeRange> ranges(1 + static_cast<size_t>(Below(6)));
            for (AttributeRange& r : ranges) {
                r.AttribId = static_cast<DWORD>(Below(6));
                r.FaceStart = static_cast<DWORD>(Below(static_cast<int>(faces + 4)));
                r.FaceCount = Chance(10) ? UINT32_MAX : static_cast<DWORD>(Below(static_cast<int>(faces + 4)));
                r.VertexStart = Chance(10) ? UINT32_MAX - 2 : static_cast<DWORD>(Below(static_cast<int>(vertices + 4)));
                r.VertexCount = Chance(10) ? UINT32_MAX : static_cast<DWORD>(Below(static_cast<int>(vertices + 4)));
            }
            EXPECT_EQ(mesh->ReplaceAttributeTable(ranges.data(), static_cast<DWORD>(ranges.size())), S_OK);
        } else if (table == 3) {
            // Stale: the table from before the indices were rewritten.
            EXPECT_EQ(mesh->LockIndices(0, &ib), S_OK);
            for (DWORD i = 0; i < faces * 3; ++i) {
                const DWORD index = static_cast<DWORD>(Below(static_cast<int>(vertices + 2)));
                if (wide) static_cast<DWORD*>(ib)[i] = index;
                else static_cast<WORD*>(ib)[i] = static_cast<WORD>(index);
            }
            mesh->UnlockIndices();
        }
        // Some indices just past the end, some anywhere (after sorting,
        // which refuses them).
        EXPECT_EQ(mesh->LockIndices(0, &ib), S_OK);
        for (DWORD i = 0; i < faces * 3; ++i) {
            DWORD index = Chance(3) ? vertices + static_cast<DWORD>(Below(3)) : UINT32_MAX;
            if (Chance(1)) index = static_cast<DWORD>(rng());
            if (index == UINT32_MAX) continue;
            if (wide) static_cast<DWORD*>(ib)[i] = index;
            else static_cast<WORD*>(ib)[i] = static_cast<WORD>(index);
        }
        mesh->UnlockIndices();

        data.stride = mesh->GetVertexStride();
        data.vertexCount = mesh->GetVertexCount();
        data.faceCount = mesh->GetFaceCount();
        EXPECT_EQ(mesh->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&vb)), S_OK);
        const auto* bytes = reinterpret_cast<const BYTE*>(vb);
        data.vertices.assign(bytes, bytes + size_t{data.vertexCount} * data.stride);
        mesh->UnlockVertices();
        data.indices = Indices(mesh);
        DWORD n = 0;
        mesh->CopyAttributeTable(nullptr, &n);
        data.table.resize(n);
        if (n) mesh->CopyAttributeTable(data.table.data(), &n);
        data.tableValid = n != 0;
        return mesh;
    }

    // Rays through a point of a random face, a vertex or a random point, so
    // that many faces straddle the plane and some are hit.
    V3 Origin(const MeshData& data, V3 d) {
        V3 target{Coordinate(), Coordinate(), Coordinate()};
        const DWORD f = static_cast<DWORD>(Below(static_cast<int>(data.faceCount)));
        const DWORD* corner = &data.indices[size_t{f} * 3];
        if (Chance(50) && std::max({corner[0], corner[1], corner[2]}) < data.vertexCount) {
            // A point inside a face, whatever group or range it belongs to.
            V3 p[3];
            for (int k = 0; k < 3; ++k) std::memcpy(&p[k], data.vertices.data() + size_t{corner[k]} * data.stride, 12);
            const float wu = static_cast<float>(Below(5)) * 0.125f, wv = static_cast<float>(Below(5)) * 0.125f;
            target = {p[0].x + wu * (p[1].x - p[0].x) + wv * (p[2].x - p[0].x),
                      p[0].y + wu * (p[1].y - p[0].y) + wv * (p[2].y - p[0].y),
                      p[0].z + wu * (p[1].z - p[0].z) + wv * (p[2].z - p[0].z)};
        } else if (Chance(70)) {
            const DWORD i = static_cast<DWORD>(Below(static_cast<int>(data.vertexCount)));
            std::memcpy(&target, data.vertices.data() + size_t{i} * data.stride, sizeof(target));
            if (Chance(50)) {
                target.x += Coordinate() * 0.125f;
                target.z += Coordinate() * 0.125f;
            }
        }
        const float back = Chance(80) ? 6.0f : -1.0f;
        return {target.x - d.x * back, target.y - d.y * back, target.z - d.z * back};
    }
};

TEST_F(IntersectScanTest, MatchesTheOneFaceAtATimeScanOnRandomMeshes) {
    int hits = 0, casts = 0;
    for (int round = 0; round < 1000; ++round) {
        const bool wide = (round & 1) != 0;
        MeshData data;
        Mesh* mesh = RandomMesh(wide, data);
        ASSERT_NE(mesh, nullptr);
        for (int ray = 0; ray < 12; ++ray) {
            const V3 d = Direction();
            const V3 o = Origin(data, d);
            const bool group = Chance(75);
            const DWORD id = static_cast<DWORD>(Below(7));
            const Result want = Reference(data, group, id, o, d);
            const Result got = Cast(mesh, group, id, o, d);
            ExpectSame(got, want, wide ? "32-bit" : "16-bit");
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "round " << round << " ray " << ray << " group " << group << " id " << id
                              << " origin " << o.x << "," << o.y << "," << o.z << " direction " << d.x << "," << d.y
                              << "," << d.z;
                mesh->Release();
                return;
            }
            ++casts;
            hits += want.hit ? 1 : 0;
        }
        EXPECT_EQ(mesh->Release(), 0u);
    }
    // The comparison means little unless a fair share of casts hit.
    EXPECT_GT(hits, casts / 10) << hits << " of " << casts;
}
