#include <cstring>

#include "mesh_fixture.h"

namespace {

const Vector3 kDown{0, -1, 0};

struct Hit {
    HRESULT hr;
    BOOL hit = FALSE;
    DWORD face = 0xDEAD;
    float u = -1, v = -1, distance = -1;
    DWORD count = 0xDEAD;
};

Hit Cast(Mesh* mesh, DWORD id, Vector3 origin, Vector3 direction = kDown) {
    Hit h;
    h.hr = IntersectRayWithMeshGroup(mesh, id, &origin, &direction, &h.hit, &h.face, &h.u, &h.v, &h.distance, nullptr,
                                     &h.count);
    return h;
}

}  // namespace

class IntersectTest : public MeshTest {
protected:
    // Two flat triangles at height 0 forming the unit square (id 0), one at
    // height 2 over the same square (id 1), and a vertical one (id 2).
    Mesh* Ground(DWORD options = OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM) {
        Mesh* m = Make({0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 1,  // square
                        0, 2, 0, 1, 2, 0, 0, 2, 1,            // upper
                        5, 0, 5, 6, 0, 5, 5, 1, 5},           // wall in the x–y plane
                       {0, 2, 1, 1, 2, 3, 4, 6, 5, 7, 8, 9}, {0, 0, 1, 2}, options);
        if (m) {
            EXPECT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr), S_OK);
        }
        return m;
    }
};

TEST_F(IntersectTest, EdgesVerticesAndBothWindingsHit) {
    Mesh* m = Ground();
    ASSERT_NE(m, nullptr);
    Hit h = Cast(m, 0, {0.25f, 10, 0.5f});
    ASSERT_EQ(h.hr, S_OK);
    EXPECT_TRUE(h.hit);
    EXPECT_EQ(h.face, 0u);
    EXPECT_FLOAT_EQ(h.distance, 10.0f);
    EXPECT_EQ(h.count, 1u);
    // On the shared diagonal both faces are hit (u + v = det and u = 0); the
    // first in index order is reported.
    h = Cast(m, 0, {0.5f, 1, 0.5f});
    EXPECT_TRUE(h.hit);
    EXPECT_EQ(h.face, 0u);
    EXPECT_EQ(h.count, 2u);
    // Exactly at a corner shared by both faces, each with vertices on both
    // sides of the vertical plane through the ray.
    h = Cast(m, 0, {0, 1, 1});
    EXPECT_TRUE(h.hit);
    EXPECT_EQ(h.face, 0u);
    EXPECT_EQ(h.count, 2u);
    EXPECT_FLOAT_EQ(h.distance, 1.0f);
    // At the corner (1, 0, 1) every vertex lies on one side of (or on) the
    // plane x = 1: the side test rejects both faces before the full test.
    h = Cast(m, 0, {1, 1, 1});
    EXPECT_FALSE(h.hit);
    EXPECT_EQ(h.count, 0u);
    // Upward ray from below hits the other side.
    h = Cast(m, 1, {0.25f, -3, 0.25f}, Vector3{0, 1, 0});
    EXPECT_TRUE(h.hit);
    EXPECT_FLOAT_EQ(h.distance, 5.0f);
    // Unnormalised direction: distance in units of its length.
    h = Cast(m, 0, {0.25f, 10, 0.25f}, Vector3{0, -2, 0});
    EXPECT_FLOAT_EQ(h.distance, 5.0f);
    // Off the square.
    h = Cast(m, 0, {1.5f, 10, 0.5f});
    EXPECT_FALSE(h.hit);
    EXPECT_EQ(h.count, 0u);
    EXPECT_EQ(h.face, 0xDEADu) << "outputs other than the count stay untouched on a miss";
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(IntersectTest, ParallelBehindAndTouchingTheOrigin) {
    Mesh* m = Ground();
    ASSERT_NE(m, nullptr);
    // Downward ray in the plane of the vertical wall: det is exactly 0.
    Hit h = Cast(m, 2, {5.5f, 3, 5});
    EXPECT_EQ(h.hr, S_OK);
    EXPECT_FALSE(h.hit);
    // Horizontal ray through the wall hits it.
    h = Cast(m, 2, {5.25f, 0.25f, 0}, Vector3{0, 0, 1});
    EXPECT_TRUE(h.hit);
    EXPECT_FLOAT_EQ(h.distance, 5.0f);
    // Triangle behind the origin.
    h = Cast(m, 1, {0.25f, 1, 0.25f});
    EXPECT_FALSE(h.hit);
    // Origin on the triangle: t = 0 is a hit.
    h = Cast(m, 1, {0.25f, 2, 0.25f});
    EXPECT_TRUE(h.hit);
    EXPECT_EQ(h.distance, 0.0f);
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(IntersectTest, GroupRulesAndAbsentIds) {
    Mesh* m = Make({0, 0, 0, 1, 0, 0, 0, 0, 1}, {0, 2, 1}, {0});
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(Cast(m, 0, {0.1f, 1, 0.1f}).hr, D3DERR_INVALIDCALL) << "no attribute table";
    // The whole-mesh form needs no table.
    const Vector3 above{0.1f, 1, 0.1f};
    Hit h;
    h.hr = IntersectRayWithMesh(m, &above, &kDown, &h.hit, &h.face, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(h.hr, S_OK);
    EXPECT_TRUE(h.hit);
    EXPECT_EQ(h.face, 0u);
    EXPECT_EQ(m->Release(), 0u);

    m = Ground();
    ASSERT_NE(m, nullptr);
    h = Cast(m, 9, {0.25f, 10, 0.25f});
    EXPECT_EQ(h.hr, S_OK);
    EXPECT_FALSE(h.hit);
    EXPECT_EQ(h.count, 0u);
    const Vector3 o{0, 0, 0};
    BOOL hit;
    EXPECT_EQ(IntersectRayWithMeshGroup(nullptr, 0, &o, &kDown, &hit, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(IntersectRayWithMeshGroup(m, 0, &o, &kDown, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(m->Release(), 0u);

    Mesh* writeOnly = Make({0, 0, 0, 1, 0, 0, 0, 0, 1}, {0, 2, 1}, {0}, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM | OPT_VB_WRITEONLY);
    ASSERT_NE(writeOnly, nullptr);
    EXPECT_EQ(IntersectRayWithMesh(writeOnly, &o, &kDown, &hit, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(writeOnly->Release(), 0u);
}

// A position narrower than three floats cannot be read as a point: casting
// and welding refuse the mesh instead of reading past each vertex and past
// the end of the buffer.
TEST_F(IntersectTest, APositionOfFewerThanThreeFloatsIsRefused) {
    for (BYTE type : {BYTE{D3DDECLTYPE_FLOAT1}, BYTE{D3DDECLTYPE_FLOAT2}, BYTE{D3DDECLTYPE_SHORT4}}) {
        const D3DVERTEXELEMENT9 elements[] = {{0, 0, type, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
        Mesh* m = nullptr;
        ASSERT_EQ(CreateMesh(1, 3, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, elements, device, &m), S_OK);
        const UINT stride = m->GetVertexStride();
        void* p = nullptr;
        ASSERT_EQ(m->LockVertices(0, &p), S_OK);
        // Vertex i's first component is i: corners on both sides of x = 0.5.
        for (int i = 0; i < 3; ++i) {
            const float x = static_cast<float>(i);
            if (type == D3DDECLTYPE_SHORT4) {
                const short s = static_cast<short>(i);
                std::memcpy(static_cast<BYTE*>(p) + i * stride, &s, 2);
            } else {
                std::memcpy(static_cast<BYTE*>(p) + i * stride, &x, 4);
            }
        }
        m->UnlockVertices();
        ASSERT_EQ(m->LockIndices(0, &p), S_OK);
        const WORD corners[3] = {0, 1, 2};
        std::memcpy(p, corners, sizeof(corners));
        m->UnlockIndices();

        const Vector3 o{0.5f, 10, 0};
        BOOL hit = TRUE;
        EXPECT_EQ(IntersectRayWithMesh(m, &o, &kDown, &hit, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  D3DERR_INVALIDCALL)
            << int{type};
        DWORD adjacency[3];
        EXPECT_EQ(m->BuildAdjacency(0.0f, adjacency), D3DERR_INVALIDCALL) << int{type};
        EXPECT_EQ(m->BuildAdjacency(0.5f, adjacency), D3DERR_INVALIDCALL) << int{type};
        EXPECT_EQ(m->Release(), 0u);
    }
}

TEST_F(IntersectTest, AllHitsComeInBlocksOf63NewestBlockFirst) {
    // 100 stacked triangles at heights 0 … 99 under one ray.
    std::vector<float> xyz;
    std::vector<DWORD> indices, attributes;
    for (DWORD i = 0; i < 100; ++i) {
        const float y = static_cast<float>(i);
        xyz.insert(xyz.end(), {0, y, 0, 1, y, 0, 0, y, 1});
        indices.insert(indices.end(), {i * 3, i * 3 + 2, i * 3 + 1});
        attributes.push_back(0);
    }
    Mesh* m = Make(xyz, indices, attributes);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr), S_OK);
    const Vector3 o{0.25f, 50.5f, 0.25f};
    BOOL hit = FALSE;
    DWORD face = 0, count = 0;
    float distance = 0;
    DataBuffer* all = nullptr;
    ASSERT_EQ(IntersectRayWithMeshGroup(m, 0, &o, &kDown, &hit, &face, nullptr, nullptr, &distance, &all, &count), S_OK);
    EXPECT_TRUE(hit);
    EXPECT_EQ(face, 50u);
    EXPECT_FLOAT_EQ(distance, 0.5f);
    ASSERT_EQ(count, 51u);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->GetDataSize(), 51u * 16);
    all->Release();

    // From above all 100 are hit: faces 63…99 first, then 0…62.
    const Vector3 top{0.25f, 200, 0.25f};
    ASSERT_EQ(IntersectRayWithMeshGroup(m, 0, &top, &kDown, &hit, &face, nullptr, nullptr, &distance, &all, &count), S_OK);
    ASSERT_EQ(count, 100u);
    EXPECT_EQ(face, 99u);
    const IntersectInfo* records = static_cast<const IntersectInfo*>(all->GetDataPointer());
    EXPECT_EQ(records[0].FaceIndex, 63u);
    EXPECT_EQ(records[36].FaceIndex, 99u);
    EXPECT_EQ(records[37].FaceIndex, 0u);
    EXPECT_EQ(records[99].FaceIndex, 62u);
    EXPECT_FLOAT_EQ(records[37].Dist, 200.0f);
    all->Release();
    EXPECT_EQ(m->Release(), 0u);
}
