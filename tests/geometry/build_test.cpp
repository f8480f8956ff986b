#include <cmath>
#include <cstring>
#include <limits>

#include "mesh_fixture.h"

namespace {

XMeshData Square() {
    // Unit square in the x–z plane as two triangles, plus a degenerate one.
    XMeshData d;
    const float xyz[4][3] = {{0, 0, 0}, {0, 0, 1}, {1, 0, 1}, {1, 0, 0}};
    for (int i = 0; i < 4; ++i) {
        LoaderVertex v;
        std::memcpy(v.position, xyz[i], 12);
        v.representative = v.nextDuplicate = v.dataSource = static_cast<DWORD>(i);
        d.vertices.push_back(v);
    }
    const DWORD tris[3][3] = {{0, 1, 2}, {0, 2, 2}, {0, 2, 3}};
    const DWORD materials[3] = {1, 0, 0};
    for (int i = 0; i < 3; ++i) {
        LoaderTriangle t;
        std::memcpy(t.index, tris[i], 12);
        t.material = materials[i];
        t.flags = TRIANGLE_HAS_MATERIAL | TRIANGLE_NEEDS_NORMAL;
        t.smoothingGroup = 1;
        d.triangles.push_back(t);
    }
    return d;
}

D3DVERTEXELEMENT9* Layout(DWORD fvf) {
    static D3DVERTEXELEMENT9 e[MAX_DECLARATION_ELEMENTS];
    EXPECT_EQ(FvfToDeclaration(fvf, e), S_OK);
    return e;
}

}  // namespace

TEST_F(MeshTest, BuildDropsDegenerateTrianglesGeneratesNormalsAndSorts) {
    XMeshData d = Square();
    d.vertices[2].color[0] = 2.0f;   // clamps to 255
    d.vertices[2].color[1] = -1.0f;  // clamps to 0
    d.vertices[2].color[2] = 0.5f;   // 128
    d.vertices[2].color[3] = 1.0f;
    d.vertices[1].color[1] = std::numeric_limits<float>::quiet_NaN();  // 0, not a cast of NaN
    Mesh* m = nullptr;
    DataBuffer* adjacency = nullptr;
    ASSERT_EQ(BuildMeshFromXData(d, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE),
                                 device, &adjacency, &m),
              S_OK);
    EXPECT_EQ(m->GetFaceCount(), 2u);
    // Sorted by attribute: the material-0 triangle comes first.
    EXPECT_EQ(Indices(m), (std::vector<DWORD>{0, 2, 3, 0, 1, 2}));
    ASSERT_NE(adjacency, nullptr);
    const DWORD* adj = static_cast<const DWORD*>(adjacency->GetDataPointer());
    EXPECT_EQ(adj[0], 1u);  // edge 0–2 shared
    EXPECT_EQ(adj[5], 0u);
    adjacency->Release();
    struct V {
        float p[3], n[3];
        DWORD color;
    };
    V* v = nullptr;
    ASSERT_EQ(m->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&v)), S_OK);
    // (P0 − P1) × (P0 − P2) of the square's winding points up +y.
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(v[i].n[1], 1.0f) << i;
        EXPECT_FLOAT_EQ(v[i].n[0], 0.0f) << i;
    }
    EXPECT_EQ(v[2].color, 0xFFFF0080u);
    EXPECT_EQ(v[0].color, 0x00FFFFFFu);  // default colour (1, 1, 1, 0)
    EXPECT_EQ(v[1].color, 0x00FF00FFu);
    m->UnlockVertices();
    EXPECT_EQ(m->Release(), 0u);

    XMeshData empty = Square();
    for (LoaderTriangle& t : empty.triangles) t.index[1] = t.index[0];
    EXPECT_EQ(BuildMeshFromXData(empty, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ), device, nullptr, &m),
              ERR_MESH_HAS_NO_DATA);
    EXPECT_EQ(m, nullptr);
}

TEST_F(MeshTest, NormalReferencesSplitVerticesThatNeedTwoNormals) {
    XMeshData d = Square();
    d.triangles.erase(d.triangles.begin() + 1);
    const float up[3] = {0, 1, 0}, side[3] = {1, 0, 0};
    for (DWORD t = 0; t < 2; ++t) {
        d.triangles[t].flags = TRIANGLE_HAS_NORMAL_REFS;
        for (int k = 0; k < 3; ++k) {
            NormalReference r;
            r.vertex = d.triangles[t].index[k];
            r.triangle = t;
            std::memcpy(r.normal, t == 0 ? up : side, 12);
            d.normalReferences.push_back(r);
        }
    }
    Mesh* m = nullptr;
    ASSERT_EQ(BuildMeshFromXData(d, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ | D3DFVF_NORMAL), device,
                                 nullptr, &m),
              S_OK);
    // Vertices 0 and 2 are shared with different normals: two copies.
    EXPECT_EQ(m->GetVertexCount(), 6u);
    EXPECT_EQ(Indices(m), (std::vector<DWORD>{0, 1, 2, 4, 5, 3}));
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(MeshTest, CornersWithTheSameNormalShareOneCopy) {
    // A fan of 3000 triangles around vertex 0 whose centre corners carry
    // one of four normals: +x, -x, +x written with a negative zero, and a
    // NaN that equals nothing. Rim corners all point up.
    const int fans = 3000;
    XMeshData d;
    for (int i = 0; i < fans + 2; ++i) {
        LoaderVertex v;
        v.position[0] = i == 0 ? 0.0f : std::cos(i * 0.002f);
        v.position[2] = i == 0 ? 0.0f : std::sin(i * 0.002f);
        v.representative = v.nextDuplicate = v.dataSource = static_cast<DWORD>(i);
        d.vertices.push_back(v);
    }
    const float nan = std::nanf("");
    const float centre[4][3] = {{1, 0, 0}, {-1, 0, 0}, {1, -0.0f, 0}, {nan, 0, 0}};
    const float up[3] = {0, 1, 0};
    int nanCorners = 0;
    for (int t = 0; t < fans; ++t) {
        LoaderTriangle tri;
        tri.index[0] = 0;
        tri.index[1] = static_cast<DWORD>(t + 1);
        tri.index[2] = static_cast<DWORD>(t + 2);
        tri.flags = TRIANGLE_HAS_NORMAL_REFS;
        d.triangles.push_back(tri);
        for (int k = 0; k < 3; ++k) {
            NormalReference r;
            r.vertex = tri.index[k];
            r.triangle = static_cast<DWORD>(t);
            const int kind = t % 4;
            std::memcpy(r.normal, k == 0 ? centre[kind] : up, 12);
            if (k == 0 && kind == 3) ++nanCorners;
            d.normalReferences.push_back(r);
        }
    }
    Mesh* m = nullptr;
    ASSERT_EQ(BuildMeshFromXData(d, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ | D3DFVF_NORMAL), device,
                                 nullptr, &m),
              S_OK);
    // Vertex 0 keeps +x (the signed zero is the same normal); one copy for
    // -x; every NaN corner a copy of its own.
    EXPECT_EQ(m->GetVertexCount(), DWORD(fans + 2 + 1 + nanCorners));
    const std::vector<DWORD> idx = Indices(m);
    EXPECT_EQ(idx[0], 0u);
    EXPECT_EQ(idx[6], 0u) << "triangle 2's centre is the same +x";
    EXPECT_EQ(idx[3], idx[3 + 12]) << "triangles 1 and 5 share the -x copy";
    EXPECT_NE(idx[9], idx[9 + 12]) << "NaN corners never share";
    EXPECT_EQ(m->Release(), 0u);
}

// A caller's duplicate list that does not lead back to its vertex (here
// 0 -> 1 -> 1) ends the search for a copy instead of circling for ever.
TEST_F(MeshTest, ADuplicateListThatNeverReturnsEndsTheSearch) {
    XMeshData d = Square();
    d.vertices[0].nextDuplicate = 1;
    const float up[3] = {0, 1, 0}, down[3] = {0, -1, 0};
    for (DWORD t : {0u, 2u}) {
        d.triangles[t].flags = TRIANGLE_HAS_MATERIAL | TRIANGLE_HAS_NORMAL_REFS;
        for (DWORD k = 0; k < 3; ++k) {
            NormalReference ref;
            ref.vertex = d.triangles[t].index[k];
            ref.triangle = t;
            ref.flags = 1;
            std::memcpy(ref.normal, t == 0 ? up : down, 12);
            d.normalReferences.push_back(ref);
        }
    }
    d.triangles[1].flags = TRIANGLE_HAS_MATERIAL;
    Mesh* m = nullptr;
    ASSERT_EQ(BuildMeshFromXData(d, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ | D3DFVF_NORMAL), device,
                                 nullptr, &m),
              S_OK);
    // Vertices 0 and 2 carry "up" for the first triangle; the second gets
    // copies with "down".
    EXPECT_EQ(m->GetVertexCount(), 6u);
    EXPECT_EQ(m->Release(), 0u);
}

// A triangle dropped beforehand (all corners -1) takes no part: neither its
// generated normal nor its normal references, which name vertex -1 too.
TEST_F(MeshTest, ATriangleDroppedBeforehandTakesNoNormals) {
    XMeshData d = Square();
    LoaderTriangle& dropped = d.triangles[2];
    dropped.index[0] = dropped.index[1] = dropped.index[2] = DROPPED_VERTEX;
    dropped.flags |= TRIANGLE_HAS_NORMAL_REFS;
    for (DWORD k = 0; k < 3; ++k) {
        NormalReference ref;
        ref.vertex = DROPPED_VERTEX;
        ref.triangle = 2;
        ref.flags = 1;
        ref.normal[1] = 1;
        d.normalReferences.push_back(ref);
    }
    Mesh* m = nullptr;
    ASSERT_EQ(BuildMeshFromXData(d, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ | D3DFVF_NORMAL), device,
                                 nullptr, &m),
              S_OK);
    EXPECT_EQ(m->GetFaceCount(), 1u);
    EXPECT_EQ(m->GetVertexCount(), 4u);
    EXPECT_EQ(m->Release(), 0u);
}

// A corner that names no vertex is refused before normals are generated or
// taken from references: both read and add to the corner's vertex.
TEST_F(MeshTest, BuildRefusesCornersPastTheVertices) {
    for (DWORD corner : {4u, 100000u}) {
        for (bool references : {false, true}) {
            XMeshData d = Square();
            d.triangles[2].index[2] = corner;
            if (references) {
                d.triangles[2].flags = TRIANGLE_HAS_MATERIAL | TRIANGLE_HAS_NORMAL_REFS;
                for (DWORD k = 0; k < 3; ++k) {
                    NormalReference ref;
                    ref.vertex = d.triangles[2].index[k];
                    ref.triangle = 2;
                    ref.flags = 1;
                    ref.normal[1] = 1;
                    d.normalReferences.push_back(ref);
                }
            }
            Mesh* m = nullptr;
            EXPECT_EQ(BuildMeshFromXData(d, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ | D3DFVF_NORMAL),
                                         device, nullptr, &m),
                      D3DERR_INVALIDCALL)
                << corner << " " << references;
            EXPECT_EQ(m, nullptr);
        }
    }
    // No layout, or no device, is refused before the layout is searched.
    Mesh* none = nullptr;
    XMeshData square = Square();
    EXPECT_EQ(BuildMeshFromXData(square, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, nullptr, device, nullptr, &none),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(BuildMeshFromXData(square, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ | D3DFVF_NORMAL),
                                 nullptr, nullptr, &none),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(none, nullptr);
    // Without a normal in the layout the corner was refused already.
    XMeshData d = Square();
    d.triangles[0].index[1] = 4;
    Mesh* m = nullptr;
    EXPECT_EQ(BuildMeshFromXData(d, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ), device, nullptr, &m),
              D3DERR_INVALIDCALL);
}

TEST_F(MeshTest, BuildSwitchesToWideIndicesAbove65534Vertices) {
    XMeshData d = Square();
    d.vertices.resize(65535, d.vertices[0]);
    Mesh* m = nullptr;
    ASSERT_EQ(BuildMeshFromXData(d, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Layout(D3DFVF_XYZ), device, nullptr, &m), S_OK);
    EXPECT_TRUE(m->GetCreationOptions() & OPT_32BIT_INDICES);
    EXPECT_EQ(m->Release(), 0u);
}

// Packing a count of records from no array is refused, as for effect
// instances, instead of reading through a null pointer.
TEST(MaterialBufferTest, RecordsWithoutAnArrayAreRefused) {
    DataBuffer* out = reinterpret_cast<DataBuffer*>(1);
    EXPECT_EQ(CreateMaterialBuffer(nullptr, 2, &out), D3DERR_INVALIDCALL);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<DataBuffer*>(1);
    EXPECT_EQ(CreateEffectInstanceBuffer(nullptr, 2, &out), D3DERR_INVALIDCALL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CreateMaterialBuffer(nullptr, 0, &out), S_OK);
    EXPECT_EQ(out, nullptr);
}

TEST_F(MeshTest, MergeOffsetsIndicesAttributesAdjacencyAndKeepsNames) {
    Mesh* a = Make({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {1});
    Mesh* b = nullptr;
    ASSERT_EQ(CreateMeshFvf(1, 3, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, D3DFVF_XYZ | D3DFVF_NORMAL, device, &b), S_OK);
    void* p = nullptr;
    ASSERT_EQ(b->LockIndices(0, &p), S_OK);
    const WORD idx[3] = {2, 1, 0};
    std::memcpy(p, idx, 6);
    b->UnlockIndices();
    ASSERT_EQ(b->LockVertices(0, &p), S_OK);
    static_cast<float*>(p)[3] = 0.5f;  // first normal x
    b->UnlockVertices();

    char name[] = "road.dds";
    MaterialEntry ma[2] = {}, mb[1] = {};
    ma[1].textureFilename = name;
    ma[1].material.Power = 7;
    mb[0].material.Power = 9;
    DataBuffer *bufA = nullptr, *bufB = nullptr;
    ASSERT_EQ(CreateMaterialBuffer(ma, 2, &bufA), S_OK);
    ASSERT_EQ(CreateMaterialBuffer(mb, 1, &bufB), S_OK);
    const DWORD adjA[3] = {NO_ADJACENT_FACE, NO_ADJACENT_FACE, NO_ADJACENT_FACE};
    const DWORD adjB[3] = {0, NO_ADJACENT_FACE, 0};

    Mesh* merged = nullptr;
    DataBuffer *adjacency = nullptr, *materials = nullptr;
    DWORD count = 0;
    ASSERT_EQ(MergeMeshes(a, adjA, bufA, nullptr, 2, b, adjB, bufB, nullptr, 1, device, &adjacency, &materials, nullptr, &count, &merged), S_OK);
    bufA->Release();  // the merged names must not point into the inputs
    bufB->Release();
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(merged->GetFaceCount(), 2u);
    EXPECT_EQ(merged->GetVertexCount(), 6u);
    EXPECT_EQ(merged->GetVertexFormat(), DWORD{D3DFVF_XYZ | D3DFVF_NORMAL});
    EXPECT_EQ(Indices(merged), (std::vector<DWORD>{0, 1, 2, 5, 4, 3}));
    DWORD* attributes = nullptr;
    merged->LockAttributes(D3DLOCK_READONLY, &attributes);
    EXPECT_EQ(attributes[0], 1u);
    EXPECT_EQ(attributes[1], 2u);
    const DWORD* adj = static_cast<const DWORD*>(adjacency->GetDataPointer());
    EXPECT_EQ(adj[3], 1u);
    EXPECT_EQ(adj[4], NO_ADJACENT_FACE);
    const MaterialEntry* e = static_cast<const MaterialEntry*>(materials->GetDataPointer());
    ASSERT_NE(e[1].textureFilename, nullptr);
    EXPECT_STREQ(e[1].textureFilename, "road.dds");
    EXPECT_EQ(e[0].textureFilename, nullptr);
    EXPECT_EQ(e[2].material.Power, 9.0f);
    float* v = nullptr;
    merged->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&v));
    EXPECT_EQ(v[3 * 6 + 3], 0.5f);  // second mesh's normal after the first's vertices
    EXPECT_EQ(v[3], 0.0f);          // the first had none
    merged->UnlockVertices();
    adjacency->Release();
    materials->Release();
    EXPECT_EQ(merged->Release(), 0u);
    EXPECT_EQ(a->Release(), 0u);
    EXPECT_EQ(b->Release(), 0u);
    EXPECT_EQ(MergeMeshes(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0, device, nullptr, nullptr, nullptr, nullptr,
                          &merged),
              ERR_INVALID_DATA);
}

// Material counts whose lists cannot be held in one buffer, or whose sum
// passes 32 bits, are refused before any list is built; they used to throw
// out of the library while the lists were padded to the count.
TEST_F(MeshTest, MergeRefusesMaterialCountsTooLargeToHold) {
    Mesh* a = Make({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0});
    Mesh* b = Make({0, 0, 5, 1, 0, 5, 0, 1, 5}, {0, 1, 2}, {0});
    ASSERT_TRUE(a && b);
    Mesh* merged = nullptr;
    DataBuffer* materials = nullptr;
    DataBuffer* effects = nullptr;
    DWORD count = 7;
    EXPECT_EQ(MergeMeshes(a, nullptr, nullptr, nullptr, 0xFFFFFFFF, b, nullptr, nullptr, nullptr, 1, device, nullptr,
                          &materials, nullptr, &count, &merged),
              E_OUTOFMEMORY);
    D3DMATERIAL9 grey{};
    const EffectInstanceData instance = DefaultEffectInstance(grey, nullptr);
    DataBuffer* one = nullptr;
    ASSERT_EQ(CreateEffectInstanceBuffer(&instance, 1, &one), S_OK);
    EXPECT_EQ(MergeMeshes(a, nullptr, nullptr, one, 0xFFFFFFF0, b, nullptr, nullptr, one, 1, device, nullptr, nullptr,
                          &effects, &count, &merged),
              E_OUTOFMEMORY);
    EXPECT_EQ(one->Release(), 0u);
    EXPECT_EQ(MergeMeshes(a, nullptr, nullptr, nullptr, 0x80000000, b, nullptr, nullptr, nullptr, 0x80000000, device,
                          nullptr, nullptr, nullptr, &count, &merged),
              E_OUTOFMEMORY);
    EXPECT_EQ(merged, nullptr);
    EXPECT_EQ(materials, nullptr);
    EXPECT_EQ(effects, nullptr);
    EXPECT_EQ(count, 7u);
    // Without material or effect outputs a large count only offsets the
    // attributes.
    ASSERT_EQ(MergeMeshes(a, nullptr, nullptr, nullptr, 0x10000000, b, nullptr, nullptr, nullptr, 1, device, nullptr,
                          nullptr, nullptr, &count, &merged),
              S_OK);
    EXPECT_EQ(count, 0x10000001u);
    DWORD* attributes = nullptr;
    ASSERT_EQ(merged->LockAttributes(D3DLOCK_READONLY, &attributes), S_OK);
    EXPECT_EQ(attributes[1], 0x10000000u);
    EXPECT_EQ(merged->Release(), 0u);
    EXPECT_EQ(a->Release(), 0u);
    EXPECT_EQ(b->Release(), 0u);
}

TEST_F(MeshTest, MergeSharesOrFillsMissingEffectInstances) {
    Mesh* a = Make({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0});
    Mesh* b = Make({0, 0, 5, 1, 0, 5, 0, 1, 5}, {0, 1, 2}, {0});
    ASSERT_TRUE(a && b);
    D3DMATERIAL9 red{};
    red.Diffuse = {1, 0, 0, 1};
    EffectInstanceData named;
    named.hasEffectFile = true;
    named.effectFilename = "b.fx";
    const EffectInstanceData forB[2] = {DefaultEffectInstance(red, "t.dds"), named};
    DataBuffer* effectsB = nullptr;
    ASSERT_EQ(CreateEffectInstanceBuffer(forB, 2, &effectsB), S_OK);

    // The first side has neither materials nor instances: the second's
    // buffer is handed on as it is.
    Mesh* merged = nullptr;
    DataBuffer* effects = nullptr;
    DWORD count = 0;
    ASSERT_EQ(MergeMeshes(a, nullptr, nullptr, nullptr, 0, b, nullptr, nullptr, effectsB, 2, device, nullptr, nullptr,
                          &effects, &count, &merged),
              S_OK);
    EXPECT_EQ(effects, effectsB);
    EXPECT_EQ(count, 2u);
    effects->Release();
    merged->Release();

    // With a material but no instance, the first side's share is an empty
    // instance, so instance i still belongs to material i.
    ASSERT_EQ(MergeMeshes(a, nullptr, nullptr, nullptr, 1, b, nullptr, nullptr, effectsB, 2, device, nullptr, nullptr,
                          &effects, &count, &merged),
              S_OK);
    ASSERT_NE(effects, effectsB);
    ASSERT_GE(effects->GetDataSize(), 3 * sizeof(EffectInstance));
    effectsB->Release();  // the merged buffer stands alone
    const EffectInstance* e = static_cast<const EffectInstance*>(effects->GetDataPointer());
    EXPECT_EQ(e[0].effectFilename, nullptr);
    EXPECT_EQ(e[0].numDefaults, 0u);
    ASSERT_EQ(e[1].numDefaults, 6u);
    EXPECT_STREQ(static_cast<const char*>(e[1].defaults[5].value), "t.dds");
    EXPECT_EQ(static_cast<const float*>(e[1].defaults[0].value)[0], 1.0f);
    EXPECT_STREQ(e[2].effectFilename, "b.fx");
    EXPECT_EQ(e[2].numDefaults, 0u);
    EXPECT_EQ(effects->Release(), 0u);
    EXPECT_EQ(merged->Release(), 0u);
    EXPECT_EQ(a->Release(), 0u);
    EXPECT_EQ(b->Release(), 0u);
}
