#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "mesh_fixture.h"
#include "platform/d3d9/caps.h"

TEST(FvfTest, VertexSizesAndDeclarations) {
    EXPECT_EQ(GetFvfVertexSize(0x112), 32u);
    EXPECT_EQ(GetFvfVertexSize(0x102), 20u);
    EXPECT_EQ(GetFvfVertexSize(0x4002), 0u);
    EXPECT_EQ(GetFvfVertexSize(D3DFVF_XYZB5 | D3DFVF_DIFFUSE), 36u);
    // One 3-D and one 1-D texture set.
    EXPECT_EQ(GetFvfVertexSize(D3DFVF_XYZ | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(0) | D3DFVF_TEXCOORDSIZE1(1)), 12u + 12 + 4);

    D3DVERTEXELEMENT9 e[MAX_DECLARATION_ELEMENTS];
    ASSERT_EQ(FvfToDeclaration(D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL | D3DFVF_SPECULAR | D3DFVF_TEX1, e),
              S_OK);
    ASSERT_EQ(DeclarationLength(e), 6);
    EXPECT_EQ(e[1].Usage, D3DDECLUSAGE_BLENDWEIGHT);
    EXPECT_EQ(e[1].Type, D3DDECLTYPE_FLOAT2);
    EXPECT_EQ(e[2].Usage, D3DDECLUSAGE_BLENDINDICES);
    EXPECT_EQ(e[2].Type, D3DDECLTYPE_UBYTE4);
    EXPECT_EQ(e[3].Offset, 24);
    EXPECT_EQ(e[4].Usage, D3DDECLUSAGE_COLOR);
    EXPECT_EQ(e[4].UsageIndex, 1);
    EXPECT_EQ(e[5].Offset, 40);
    EXPECT_EQ(DeclarationStride(e), 48u);
    EXPECT_EQ(FvfFromDeclaration(e), DWORD{D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL | D3DFVF_SPECULAR | D3DFVF_TEX1});

    // The count field goes up to 15 sets but only eight have size bits; the
    // rest are two floats, like the sets of a code without size bits.
    EXPECT_EQ(GetFvfVertexSize(D3DFVF_XYZ | 0xF00 | D3DFVF_TEXCOORDSIZE1(0)), 12u + 4 + 14 * 8);
    EXPECT_EQ(GetFvfVertexSize(D3DFVF_XYZ | 0x900 | D3DFVF_TEXCOORDSIZE4(7)), 12u + 7 * 8 + 16 + 8);

    EXPECT_EQ(FvfToDeclaration(D3DFVF_XYZB5, e), D3DERR_INVALIDCALL);
    EXPECT_EQ(FvfToDeclaration(D3DFVF_XYZ | 0x900, e), D3DERR_INVALIDCALL);
    EXPECT_EQ(FvfToDeclaration(0x4002, e), D3DERR_INVALIDCALL);
    ASSERT_EQ(FvfToDeclaration(D3DFVF_XYZRHW, e), S_OK);
    EXPECT_EQ(e[0].Usage, D3DDECLUSAGE_POSITIONT);
    EXPECT_EQ(e[0].Type, D3DDECLTYPE_FLOAT4);
}

TEST(DataBufferTest, CountsReferencesAndRejectsNullOut) {
    EXPECT_EQ(CreateDataBuffer(4, nullptr), D3DERR_INVALIDCALL);
    DataBuffer* b = nullptr;
    ASSERT_EQ(CreateDataBuffer(12, &b), S_OK);
    EXPECT_EQ(b->GetDataSize(), 12u);
    std::memset(b->GetDataPointer(), 0xAB, 12);
    EXPECT_EQ(b->AddRef(), 2u);
    EXPECT_EQ(b->Release(), 1u);
    EXPECT_EQ(b->Release(), 0u);
}

TEST_F(MeshTest, CreationChecksOptionsAndCounts) {
    Mesh* m = reinterpret_cast<Mesh*>(1);
    EXPECT_EQ(CreateMeshFvf(1, 3, 0x2000, D3DFVF_XYZ, device, &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(CreateMeshFvf(0, 3, 0, D3DFVF_XYZ, device, &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateMeshFvf(1, 3, 0, D3DFVF_XYZ, nullptr, &m), D3DERR_INVALIDCALL);
    // The 16-bit form holds at most 65534 faces; the 32-bit one more.
    EXPECT_EQ(CreateMeshFvf(65536, 3, OPT_IB_SYSTEMMEM, D3DFVF_XYZ, device, &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateMeshFvf(65535, 3, OPT_IB_SYSTEMMEM, D3DFVF_XYZ, device, &m), D3DERR_INVALIDCALL);
    ASSERT_EQ(CreateMeshFvf(65536, 3, OPT_32BIT_INDICES | OPT_IB_SYSTEMMEM, D3DFVF_XYZ, device, &m), S_OK);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(m->GetIndexBufferObject(&ib), S_OK);
    D3DINDEXBUFFER_DESC desc{};
    ib->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_INDEX32);
    EXPECT_EQ(desc.Size, 65536u * 12);
    EXPECT_EQ(desc.Pool, D3DPOOL_SYSTEMMEM);
    ib->Release();
    EXPECT_EQ(m->Release(), 0u);

    // Pools and usages from the option bits.
    ASSERT_EQ(CreateMeshFvf(2, 4, OPT_VB_SYSTEMMEM | OPT_VB_MANAGED | OPT_VB_DYNAMIC | OPT_DONOTCLIP | OPT_IB_MANAGED,
                            D3DFVF_XYZ | D3DFVF_NORMAL, device, &m),
              S_OK);
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(m->GetVertexBufferObject(&vb), S_OK);
    D3DVERTEXBUFFER_DESC vdesc{};
    vb->GetDesc(&vdesc);
    EXPECT_EQ(vdesc.Pool, D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(vdesc.Usage, DWORD{D3DUSAGE_DYNAMIC | D3DUSAGE_DONOTCLIP});
    EXPECT_EQ(vdesc.Size, 4u * 24);
    EXPECT_EQ(vdesc.FVF, DWORD{D3DFVF_XYZ | D3DFVF_NORMAL});
    vb->Release();
    ASSERT_EQ(m->GetIndexBufferObject(&ib), S_OK);
    ib->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_INDEX16);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(desc.Usage, DWORD{D3DUSAGE_DONOTCLIP});
    ib->Release();
    EXPECT_EQ(m->GetVertexStride(), 24u);
    EXPECT_EQ(m->GetVertexFormat(), DWORD{D3DFVF_XYZ | D3DFVF_NORMAL});
    EXPECT_EQ(m->GetOwningDevice(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->Release(), 0u);
}

// Four triangles: attributes 1, 0, 1, 0 over vertices shared between ids.
class OptimizeTest : public MeshTest {
protected:
    std::vector<float> xyz = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 2, 0, 0, 2, 1, 0, 9, 9, 9};
    std::vector<DWORD> indices = {0, 1, 2, 1, 3, 2, 1, 4, 3, 4, 5, 3};
    std::vector<DWORD> attributes = {1, 0, 1, 0};
};

TEST_F(OptimizeTest, AttributeSortSplitsSharedVerticesAndBuildsTheTable) {
    Mesh* m = Make(xyz, indices, attributes);
    ASSERT_NE(m, nullptr);
    {
        // Without a table, id 1 is in two runs: two calls, the last result
        // returned. Absent ids draw nothing and succeed.
        DrawCounter draws;
        EXPECT_EQ(m->DrawAttributeGroup(1), D3DERR_INVALIDCALL);
        EXPECT_EQ(draws.indexed, 2);
        EXPECT_EQ(m->DrawAttributeGroup(7), S_OK);
        EXPECT_EQ(draws.indexed, 2);
    }
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(m->DrawAttributeGroup(1), S_OK);
    EXPECT_EQ(device->EndScene(), S_OK);

    Mesh* sorted = nullptr;
    DWORD faceRemap[4] = {};
    DataBuffer* vertexRemap = nullptr;
    ASSERT_EQ(m->OptimizeIntoNewMesh(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, faceRemap, &vertexRemap, &sorted), S_OK);
    // Faces by id, previous order kept within an id.
    EXPECT_EQ(std::vector<DWORD>(faceRemap, faceRemap + 4), (std::vector<DWORD>{1, 3, 0, 2}));
    // Vertex 6 is unused and dropped; vertices 1, 2, 3 and 4 are used by both
    // ids and get one copy each: 6 used + 4 copies.
    EXPECT_EQ(sorted->GetVertexCount(), 10u);
    ASSERT_NE(vertexRemap, nullptr);
    EXPECT_EQ(vertexRemap->GetDataSize(), 10u * 4);
    vertexRemap->Release();

    AttributeRange table[4];
    DWORD count = 0;
    ASSERT_EQ(sorted->CopyAttributeTable(table, &count), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(table[0].AttribId, 0u);
    EXPECT_EQ(table[0].FaceStart, 0u);
    EXPECT_EQ(table[0].FaceCount, 2u);
    EXPECT_EQ(table[1].AttribId, 1u);
    EXPECT_EQ(table[1].FaceStart, 2u);
    EXPECT_EQ(table[1].FaceCount, 2u);
    // Each group's vertices are contiguous and disjoint.
    EXPECT_EQ(table[0].VertexStart, 0u);
    EXPECT_EQ(table[0].VertexStart + table[0].VertexCount, table[1].VertexStart);
    EXPECT_EQ(table[0].VertexCount, 5u);
    EXPECT_EQ(table[1].VertexStart + table[1].VertexCount, 10u);

    // Positions follow their vertices through the remap.
    const std::vector<DWORD> newIndices = Indices(sorted);
    float* v = nullptr;
    ASSERT_EQ(sorted->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&v)), S_OK);
    for (int n = 0; n < 4; ++n) {
        for (int k = 0; k < 3; ++k) {
            const DWORD oldVertex = indices[faceRemap[n] * 3 + k];
            const DWORD newVertex = newIndices[n * 3 + k];
            EXPECT_EQ(v[newVertex * 3], xyz[oldVertex * 3]);
            EXPECT_EQ(v[newVertex * 3 + 1], xyz[oldVertex * 3 + 1]);
        }
    }
    sorted->UnlockVertices();

    {
        // With the table: one call per id.
        DrawCounter draws;
        EXPECT_EQ(sorted->DrawAttributeGroup(1), D3DERR_INVALIDCALL);
        EXPECT_EQ(sorted->DrawAttributeGroup(0), D3DERR_INVALIDCALL);
        EXPECT_EQ(sorted->DrawAttributeGroup(2), S_OK);
        EXPECT_EQ(draws.indexed, 2);
    }
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(sorted->DrawAttributeGroup(1), S_OK);
    EXPECT_EQ(device->EndScene(), S_OK);

    // Locking attributes for writing discards the table.
    DWORD* a = nullptr;
    ASSERT_EQ(sorted->LockAttributes(D3DLOCK_READONLY, &a), S_OK);
    sorted->CopyAttributeTable(nullptr, &count);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(sorted->LockAttributes(0, &a), S_OK);
    sorted->UnlockAttributes();
    sorted->CopyAttributeTable(nullptr, &count);
    EXPECT_EQ(count, 0u);
    {
        // Now a scan: alternate the ids so that id 0 falls into two runs.
        a[1] = 1;
        a[2] = 0;
        DrawCounter draws;
        sorted->DrawAttributeGroup(0);
        EXPECT_EQ(draws.indexed, 2);
    }
    EXPECT_EQ(sorted->Release(), 0u);
    EXPECT_EQ(m->Release(), 0u);
}

// Clones and optimised copies may share the source's vertex buffer. Such a
// mesh cannot move, drop or copy vertices: sorting it in place works on the
// faces alone, as sorting into a new sharing mesh does, and leaves the
// source's vertices as they were.
TEST_F(OptimizeTest, SortingAMeshThatSharesItsVerticesLeavesThemAlone) {
    Mesh* m = Make(xyz, indices, attributes);
    ASSERT_NE(m, nullptr);
    Mesh* sorted = nullptr;
    EXPECT_EQ(m->OptimizeIntoNewMesh(OPTIMIZE_ATTRIBUTE_SORT | OPT_SHARE_VERTEX_BUFFER, nullptr, nullptr, nullptr,
                                     nullptr, &sorted),
              ERR_CANNOT_ATTRIBUTE_SORT);
    ASSERT_EQ(m->OptimizeIntoNewMesh(OPTIMIZE_ATTRIBUTE_SORT | OPTIMIZE_DO_NOT_SPLIT | OPT_SHARE_VERTEX_BUFFER, nullptr,
                                     nullptr, nullptr, nullptr, &sorted),
              S_OK);
    EXPECT_EQ(sorted->GetVertexCount(), 7u);
    EXPECT_EQ(Indices(sorted), (std::vector<DWORD>{1, 3, 2, 4, 5, 3, 0, 1, 2, 1, 4, 3}));
    EXPECT_EQ(sorted->Release(), 0u);

    Mesh* shared = nullptr;
    ASSERT_EQ(m->CloneWithDeclaration(OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM | OPT_SHARE_VERTEX_BUFFER, nullptr, device,
                                      &shared),
              S_OK);
    IDirect3DVertexBuffer9* mine = nullptr;
    IDirect3DVertexBuffer9* theirs = nullptr;
    ASSERT_EQ(m->GetVertexBufferObject(&mine), S_OK);
    ASSERT_EQ(shared->GetVertexBufferObject(&theirs), S_OK);
    EXPECT_EQ(mine, theirs);
    mine->Release();
    theirs->Release();

    // Vertices 1 to 4 serve both ids: sorting would have to copy them.
    EXPECT_EQ(shared->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr),
              ERR_CANNOT_ATTRIBUTE_SORT);
    EXPECT_EQ(shared->GetVertexCount(), 7u);
    EXPECT_EQ(Indices(shared), indices);
    // Without splitting, only the faces move; the unused vertex 6 stays.
    ASSERT_EQ(shared->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT | OPTIMIZE_DO_NOT_SPLIT, nullptr, nullptr, nullptr,
                                          nullptr),
              S_OK);
    EXPECT_EQ(shared->GetVertexCount(), 7u);
    EXPECT_EQ(Indices(shared), (std::vector<DWORD>{1, 3, 2, 4, 5, 3, 0, 1, 2, 1, 4, 3}));
    void* p = nullptr;
    ASSERT_EQ(m->LockVertices(D3DLOCK_READONLY, &p), S_OK);
    EXPECT_EQ(std::memcmp(p, xyz.data(), xyz.size() * 4), 0) << "the source's vertices changed";
    m->UnlockVertices();
    // Both meshes still read back whole.
    Mesh* copy = nullptr;
    ASSERT_EQ(shared->CloneWithFvf(OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, D3DFVF_XYZ, device, &copy), S_OK);
    EXPECT_EQ(copy->GetVertexCount(), 7u);
    EXPECT_EQ(copy->Release(), 0u);
    // Another layout cannot share: the clone has vertices and options of
    // its own.
    ASSERT_EQ(shared->CloneWithFvf(OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM | OPT_SHARE_VERTEX_BUFFER,
                                   D3DFVF_XYZ | D3DFVF_NORMAL, device, &copy),
              S_OK);
    EXPECT_EQ(copy->GetCreationOptions(), DWORD{OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM});
    EXPECT_EQ(copy->GetVertexCount(), 7u);
    EXPECT_EQ(copy->Release(), 0u);
    Mesh* merged = nullptr;
    ASSERT_EQ(MergeMeshes(shared, nullptr, nullptr, nullptr, 2, m, nullptr, nullptr, nullptr, 2, device, nullptr, nullptr,
                          nullptr, nullptr, &merged),
              S_OK);
    EXPECT_EQ(merged->GetVertexCount(), 14u);
    EXPECT_EQ(merged->Release(), 0u);
    EXPECT_EQ(shared->Release(), 0u);
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(OptimizeTest, IgnoringVerticesRefusesASplitAndLeavesTheMeshAlone) {
    Mesh* m = Make(xyz, indices, attributes);
    ASSERT_NE(m, nullptr);
    const std::vector<DWORD> before = Indices(m);
    EXPECT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT | OPTIMIZE_IGNORE_VERTICES, nullptr, nullptr, nullptr,
                                     nullptr),
              ERR_CANNOT_ATTRIBUTE_SORT);
    EXPECT_EQ(Indices(m), before);
    EXPECT_EQ(m->GetVertexCount(), 7u);
    // Without splitting the vertices stay put and faces are sorted.
    DWORD adjacency[12], adjacencyOut[12], remap[4];
    ASSERT_EQ(m->BuildAdjacency(0.0f, adjacency), S_OK);
    EXPECT_EQ(std::vector<DWORD>(adjacency, adjacency + 12),
              (std::vector<DWORD>{NO_ADJACENT_FACE, 1, NO_ADJACENT_FACE, 2, NO_ADJACENT_FACE, 0, NO_ADJACENT_FACE, 3, 1,
                                  NO_ADJACENT_FACE, NO_ADJACENT_FACE, 2}));
    EXPECT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT, nullptr, adjacencyOut, nullptr, nullptr),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT | OPTIMIZE_IGNORE_VERTICES | OPTIMIZE_DO_NOT_SPLIT,
                                     adjacency, adjacencyOut, remap, nullptr),
              S_OK);
    EXPECT_EQ(m->GetVertexCount(), 7u);
    EXPECT_EQ(Indices(m), (std::vector<DWORD>{1, 3, 2, 4, 5, 3, 0, 1, 2, 1, 4, 3}));
    // Old face 0's neighbour (old 1) is new face 0; old 1's neighbours 2, 0 are new 3, 2.
    EXPECT_EQ(std::vector<DWORD>(adjacencyOut, adjacencyOut + 12),
              (std::vector<DWORD>{3, NO_ADJACENT_FACE, 2, NO_ADJACENT_FACE, NO_ADJACENT_FACE, 3, NO_ADJACENT_FACE, 0,
                                  NO_ADJACENT_FACE, NO_ADJACENT_FACE, 1, 0}));
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(MeshTest, CompactionDropsMarkedFacesAndAnEmptyMeshHasNoData) {
    Mesh* m = Make({0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5}, {0xFFFF, 1, 2, 0, 1, 2}, {3, 4});
    ASSERT_NE(m, nullptr);
    DWORD remap[2];
    ASSERT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_COMPACT, nullptr, nullptr, remap, nullptr), S_OK);
    EXPECT_EQ(m->GetFaceCount(), 1u);
    EXPECT_EQ(m->GetVertexCount(), 3u);
    EXPECT_EQ(remap[0], 1u);
    EXPECT_EQ(m->Release(), 0u);

    // Compaction alone renumbers the faces and vertices that a table from an
    // earlier sort describes: the table goes, and drawing goes by the
    // attributes again. Id 0 has no face left and draws nothing.
    m = Make({0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5, 6, 5, 5, 5, 6, 5}, {0, 1, 2, 3, 4, 5}, {0, 1});
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr), S_OK);
    DWORD entries = 0;
    EXPECT_EQ(m->CopyAttributeTable(nullptr, &entries), S_OK);
    EXPECT_EQ(entries, 2u);
    void* p = nullptr;
    ASSERT_EQ(m->LockIndices(0, &p), S_OK);
    static_cast<WORD*>(p)[0] = 0xFFFF;
    m->UnlockIndices();
    ASSERT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_COMPACT, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(m->GetFaceCount(), 1u);
    EXPECT_EQ(m->GetVertexCount(), 3u);
    EXPECT_EQ(m->CopyAttributeTable(nullptr, &entries), S_OK);
    EXPECT_EQ(entries, 0u);
    {
        DrawCounter draws;
        EXPECT_EQ(m->DrawAttributeGroup(0), S_OK);
        EXPECT_EQ(draws.indexed, 0);
        m->DrawAttributeGroup(1);
        EXPECT_EQ(draws.indexed, 1);
    }
    // Nothing renumbered: the table stays.
    ASSERT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_COMPACT, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(m->CopyAttributeTable(nullptr, &entries), S_OK);
    EXPECT_EQ(entries, 1u);
    EXPECT_EQ(m->Release(), 0u);

    m = Make({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0xFFFF, 1, 2}, {0});
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->OptimizeMeshInPlace(OPTIMIZE_COMPACT, nullptr, nullptr, nullptr, nullptr), ERR_MESH_HAS_NO_DATA);
    EXPECT_EQ(m->OptimizeMeshInPlace(0, nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(MeshTest, AttributeTableReplacementRules) {
    Mesh* m = Make({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0});
    ASSERT_NE(m, nullptr);
    AttributeRange r{0, 0, 1, 0, 3};
    EXPECT_EQ(m->ReplaceAttributeTable(&r, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(m->ReplaceAttributeTable(&r, 1), S_OK);
    DWORD count = 0;
    m->CopyAttributeTable(nullptr, &count);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(m->DrawAttributeGroup(0), S_OK);
    EXPECT_EQ(device->EndScene(), S_OK);
    ASSERT_EQ(m->ReplaceAttributeTable(nullptr, 0), S_OK);
    m->CopyAttributeTable(nullptr, &count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(MeshTest, CloneConvertsElementsBetweenTypes) {
    Mesh* m = nullptr;
    ASSERT_EQ(CreateMeshFvf(1, 3, (OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM), D3DFVF_XYZ | D3DFVF_DIFFUSE, device, &m), S_OK);
    struct In {
        float x, y, z;
        DWORD color;
    } in[3] = {{1, 2, 3, 0x80FF0000}, {4, 5, 6, 0xFF00FF00}, {7, 8, 9, 0x000000FF}};
    void* p = nullptr;
    ASSERT_EQ(m->LockVertices(0, &p), S_OK);
    std::memcpy(p, in, sizeof(in));
    m->UnlockVertices();
    // Colour to four shorts normalised, position to half floats, plus a
    // normal the source does not have.
    D3DVERTEXELEMENT9 out[] = {{0, 0, D3DDECLTYPE_FLOAT16_4, 0, D3DDECLUSAGE_POSITION, 0},
                               {0, 8, D3DDECLTYPE_SHORT4N, 0, D3DDECLUSAGE_COLOR, 0},
                               {0, 16, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                               D3DDECL_END()};
    Mesh* clone = nullptr;
    ASSERT_EQ(m->CloneWithDeclaration((OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM), out, device, &clone), S_OK);
    EXPECT_EQ(clone->GetVertexStride(), 28u);
    EXPECT_EQ(clone->GetVertexFormat(), 0u);
    ASSERT_EQ(clone->LockVertices(D3DLOCK_READONLY, &p), S_OK);
    const BYTE* v = static_cast<const BYTE*>(p);
    Float16 half[4];
    std::memcpy(half, v, 8);
    EXPECT_EQ(HalfToFloat(half[0]), 1.0f);
    EXPECT_EQ(HalfToFloat(half[2]), 3.0f);
    EXPECT_EQ(HalfToFloat(half[3]), 1.0f);  // missing w reads as 1
    int16_t color[4];
    std::memcpy(color, v + 8, 8);
    EXPECT_EQ(color[0], 32767);  // red
    EXPECT_EQ(color[1], 0);
    EXPECT_EQ(color[3], static_cast<int16_t>(static_cast<int>(0x80 * 0.003921569f * 32767 + 0.5f)));
    float normal[3];
    std::memcpy(normal, v + 16, 12);
    EXPECT_EQ(normal[0], 0.0f);
    clone->UnlockVertices();
    EXPECT_EQ(clone->Release(), 0u);
    EXPECT_EQ(m->Release(), 0u);
}

TEST(VertexConvertTest, ClampsScalesAndImpliesTheLastBlendWeight) {
    const D3DVERTEXELEMENT9 src[] = {{0, 0, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_BLENDWEIGHT, 0},
                                     {0, 8, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                     D3DDECL_END()};
    const D3DVERTEXELEMENT9 dst[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_BLENDWEIGHT, 0},
                                     {0, 12, D3DDECLTYPE_DEC3N, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                     {0, 16, D3DDECLTYPE_UBYTE4N, 0, D3DDECLUSAGE_NORMAL, 0},
                                     D3DDECL_END()};
    const float in[6] = {0.25f, 0.5f, -2.0f, 0.5f, 1.0f, 0.0f};
    BYTE out[20];
    std::memset(out, 0xCD, sizeof(out));
    ConvertVertices(out, dst, 20, in, src, 24, 1, true);
    float w[3];
    std::memcpy(w, out, 12);
    EXPECT_FLOAT_EQ(w[2], 0.25f);
    DWORD dec;
    std::memcpy(&dec, out + 12, 4);
    EXPECT_EQ(dec & 0x3FF, DWORD(-510) & 0x3FF);  // clamped to -1: -511 + 0.5 truncates to -510
    EXPECT_EQ((dec >> 10) & 0x3FF, DWORD(256));   // 0.5 * 511 + 0.5
    EXPECT_EQ((dec >> 20) & 0x3FF, DWORD(511));
    EXPECT_EQ(out[16], 0);  // zeroed, no source
}

TEST_F(OptimizeTest, TheWideFormStopsAtTheFirstFailingDraw) {
    Mesh* m = Make(xyz, indices, attributes, OPT_32BIT_INDICES | OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM);
    ASSERT_NE(m, nullptr);
    DrawCounter draws;
    EXPECT_EQ(m->DrawAttributeGroup(1), D3DERR_INVALIDCALL);
    EXPECT_EQ(draws.indexed + draws.perFace, 1);
    EXPECT_EQ(m->Release(), 0u);
}

namespace {

// Pretends a device that cannot index 65536 vertices (or, with `faces`,
// draw more than that many primitives at once) while it lives.
class LimitedDevice {
public:
    explicit LimitedDevice(DWORD maxPrimitives = 0xFFFFFF) {
        maxPrimitives_ = maxPrimitives;
        previous_ = SetDeviceCapsHookForTesting([](D3DCAPS9* caps) {
            caps->MaxVertexIndex = 0xFFFF;
            caps->MaxPrimitiveCount = maxPrimitives_;
        });
    }
    ~LimitedDevice() { SetDeviceCapsHookForTesting(previous_); }

private:
    static inline DWORD maxPrimitives_ = 0;
    DeviceCapsHook previous_;
};

}  // namespace

TEST_F(MeshTest, ALimitedDeviceDrawsWideMeshesFaceByFace) {
    // Three screen-space triangles side by side, attributes 0, 1, 0, each in
    // its own colour.
    struct V {
        float x, y, z, rhw;
        DWORD color;
    };
    const DWORD colors[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    std::vector<V> v;
    for (int f = 0; f < 3; ++f) {
        const float x = 20.0f * f;
        v.push_back({x, 0, 0.5f, 1, colors[f]});
        v.push_back({x + 18, 0, 0.5f, 1, colors[f]});
        v.push_back({x, 18, 0.5f, 1, colors[f]});
    }
    auto make = [&](DWORD options) {
        Mesh* m = nullptr;
        EXPECT_EQ(CreateMeshFvf(3, 9, options | OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, D3DFVF_XYZRHW | D3DFVF_DIFFUSE,
                                device, &m),
                  S_OK);
        if (!m) return m;
        void* p = nullptr;
        m->LockVertices(0, &p);
        std::memcpy(p, v.data(), v.size() * sizeof(V));
        m->UnlockVertices();
        m->LockIndices(0, &p);
        for (DWORD i = 0; i < 9; ++i) {
            if (options & OPT_32BIT_INDICES) static_cast<DWORD*>(p)[i] = i;
            else static_cast<WORD*>(p)[i] = static_cast<WORD>(i);
        }
        m->UnlockIndices();
        DWORD* a = nullptr;
        m->LockAttributes(0, &a);
        a[0] = 0, a[1] = 1, a[2] = 0;
        m->UnlockAttributes();
        return m;
    };
    auto drawn = [&](Mesh* m, DWORD id) {
        EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
        EXPECT_EQ(device->BeginScene(), D3D_OK);
        EXPECT_EQ(device->SetRenderState(D3DRS_LIGHTING, FALSE), D3D_OK);
        EXPECT_EQ(m->DrawAttributeGroup(id), S_OK);
        EXPECT_EQ(device->EndScene(), D3D_OK);
        std::vector<DWORD> seen;
        for (int f = 0; f < 3; ++f) seen.push_back(BackPixel(20 * f + 4, 4));
        return seen;
    };

    LimitedDevice limited;
    Mesh* wide = make(OPT_32BIT_INDICES);
    ASSERT_NE(wide, nullptr);
    {
        // One DrawPrimitiveUP per face; outside a scene the first refusal
        // ends the group.
        DrawCounter draws;
        EXPECT_EQ(wide->DrawAttributeGroup(0), D3DERR_INVALIDCALL);
        EXPECT_EQ(draws.perFace, 1);
        EXPECT_EQ(draws.indexed, 0);
        EXPECT_EQ(wide->DrawAttributeGroup(5), S_OK) << "an absent id draws nothing";
        EXPECT_EQ(draws.perFace, 1);
    }
    // Without a table: every face of the id, wherever it lies.
    EXPECT_EQ(drawn(wide, 0), (std::vector<DWORD>{0xFF0000, 0, 0x0000FF}));
    EXPECT_EQ(drawn(wide, 1), (std::vector<DWORD>{0, 0x00FF00, 0}));
    // With a table: the entry's range only, whatever the attributes say.
    const AttributeRange table[2] = {{0, 2, 1, 0, 9}, {1, 0, 2, 0, 9}};
    ASSERT_EQ(wide->ReplaceAttributeTable(table, 2), S_OK);
    EXPECT_EQ(drawn(wide, 0), (std::vector<DWORD>{0, 0, 0x0000FF}));
    EXPECT_EQ(drawn(wide, 1), (std::vector<DWORD>{0xFF0000, 0x00FF00, 0}));
    EXPECT_EQ(wide->Release(), 0u);

    // The 16-bit form is never limited this way: one indexed call.
    Mesh* narrow = make(0);
    ASSERT_NE(narrow, nullptr);
    {
        DrawCounter draws;
        EXPECT_EQ(narrow->DrawAttributeGroup(1), D3DERR_INVALIDCALL);
        EXPECT_EQ(draws.indexed, 1);
        EXPECT_EQ(draws.perFace, 0);
    }
    EXPECT_EQ(narrow->Release(), 0u);
}

TEST_F(MeshTest, TooFewPrimitivesPerCallAlsoMeansFaceByFace) {
    std::vector<float> xyz = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    {
        LimitedDevice limited(2);
        Mesh* m = Make(xyz, {0, 1, 2, 1, 3, 2, 0, 1, 3}, {0, 0, 0}, OPT_32BIT_INDICES | OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM);
        ASSERT_NE(m, nullptr);
        DrawCounter draws;
        m->DrawAttributeGroup(0);
        EXPECT_EQ(draws.perFace, 1);
        EXPECT_EQ(draws.indexed, 0);
        EXPECT_EQ(m->Release(), 0u);
    }
    // The caps are read when the storage is made: a mesh made on the full
    // device draws indexed.
    Mesh* m = Make(xyz, {0, 1, 2, 1, 3, 2, 0, 1, 3}, {0, 0, 0}, OPT_32BIT_INDICES | OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM);
    ASSERT_NE(m, nullptr);
    DrawCounter draws;
    m->DrawAttributeGroup(0);
    EXPECT_EQ(draws.indexed, 1);
    EXPECT_EQ(draws.perFace, 0);
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(MeshTest, PointRepsFollowTheAdjacencyBothWays) {
    // Two triangles over one edge, each with its own copies of the edge's
    // vertices: face 0 (0, 1, 2), face 1 (4, 3, 5) where 4 sits on 2 and 3
    // on 1.
    std::vector<float> xyz = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    Mesh* m = Make(xyz, {0, 1, 2, 4, 3, 5}, {0, 0});
    ASSERT_NE(m, nullptr);
    const DWORD adjacency[6] = {NO_ADJACENT_FACE, 1, NO_ADJACENT_FACE, 0, NO_ADJACENT_FACE, NO_ADJACENT_FACE};
    DWORD reps[6] = {};
    ASSERT_EQ(m->PointRepsFromAdjacency(adjacency, reps), S_OK);
    EXPECT_EQ(std::vector<DWORD>(reps, reps + 6), (std::vector<DWORD>{0, 1, 2, 1, 2, 5}));
    // Back again: the same adjacency.
    DWORD back[6] = {};
    ASSERT_EQ(m->AdjacencyFromPointReps(reps, back), S_OK);
    EXPECT_EQ(std::vector<DWORD>(back, back + 6), std::vector<DWORD>(adjacency, adjacency + 6));

    // A link only one face claims, or to a face that does not exist, joins
    // nothing; no adjacency at all leaves every vertex its own.
    const DWORD oneSided[6] = {NO_ADJACENT_FACE, 1, 7, NO_ADJACENT_FACE, NO_ADJACENT_FACE, NO_ADJACENT_FACE};
    ASSERT_EQ(m->PointRepsFromAdjacency(oneSided, reps), S_OK);
    EXPECT_EQ(std::vector<DWORD>(reps, reps + 6), (std::vector<DWORD>{0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(m->PointRepsFromAdjacency(nullptr, reps), S_OK);
    EXPECT_EQ(std::vector<DWORD>(reps, reps + 6), (std::vector<DWORD>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(m->PointRepsFromAdjacency(adjacency, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(m->Release(), 0u);
}

TEST_F(MeshTest, BuildAdjacencyWeldsWithinEpsilonOnEveryAxis) {
    // Face 0 and face 1 share an edge whose copies differ by 1e-4 in x;
    // face 2 shares face 0's other edge, its copies 1e-4 apart in x but 0.5
    // apart in z; face 3 is a sliver whose two close corners weld.
    std::vector<float> xyz = {
        0, 0, 0, 1, 0, 0, 0, 1, 0,                  // face 0
        1.0001f, 0, 0, 0.0001f, 1, 0, 1, 1, 0,      // face 1 on edge 1-2
        0.0001f, 0, 0.5f, 0, 1, 0.5f, -1, 0, 0,     // face 2 near edge 0-2, but not in z
        5, 0, 0, 5.00005f, 0, 0, 5, 1, 0,           // face 3: corners 0 and 1 weld
        -0.0f, 0, 0, 0, -1, 0, 1, 0, 0,             // face 4: -0 is 0 (vertex 0), and on edge 0-1
    };
    Mesh* m = Make(xyz, {0, 1, 2, 4, 3, 5, 8, 7, 6, 9, 10, 11, 12, 14, 13}, {0, 0, 0, 0, 0});
    ASSERT_NE(m, nullptr);
    std::vector<DWORD> adjacency(15);
    ASSERT_EQ(m->BuildAdjacency(0.0f, adjacency.data()), S_OK);
    const DWORD N = NO_ADJACENT_FACE;
    EXPECT_EQ(adjacency, (std::vector<DWORD>{4, N, N, N, N, N, N, N, N, N, N, N, 0, N, N}))
        << "exact: only the signed zero matches";
    ASSERT_EQ(m->BuildAdjacency(0.001f, adjacency.data()), S_OK);
    EXPECT_EQ(adjacency, (std::vector<DWORD>{4, 1, N, 0, N, N, N, N, N, N, N, N, 0, N, N}));
    ASSERT_EQ(m->BuildAdjacency(0.6f, adjacency.data()), S_OK);
    EXPECT_EQ(adjacency[2], 2u) << "within 0.6 face 2 meets face 0";
    EXPECT_EQ(adjacency[7], 0u);
    EXPECT_EQ(m->Release(), 0u);
}

// Welding within an epsilon keeps earlier vertices in cells, not in one
// walk back through everything within epsilon in x: a mesh across the x
// axis (every x equal) took 3.8 s at 90 000 vertices. The walk itself
// still serves meshes with a non-finite coordinate, so an unused vertex at
// x = +inf (sorted last, it changes nothing) makes the same mesh go the old
// way, and both must weld alike.
TEST_F(MeshTest, BuildAdjacencyWithAnEpsilonWeldsAsTheWalkBack) {
    uint32_t state = 12345;
    auto next = [&] { return (state = state * 1664525u + 1013904223u) >> 8; };
    for (const float epsilon : {0.001f, 0.01f, 0.3f}) {
        std::vector<float> xyz;
        for (int v = 0; v < 3000; ++v) {
            // Few x values (long runs within epsilon), y and z on a lattice
            // of about epsilon with jitter, so pairs straddle every bound.
            const float x = float(next() % 4) * 0.0007f;
            const float y = float(next() % 40) * epsilon * 0.9f + float(next() % 100) * epsilon * 0.002f;
            const float z = float(next() % 40) * epsilon * 1.1f - float(next() % 100) * epsilon * 0.002f;
            xyz.insert(xyz.end(), {x, y, z});
        }
        std::vector<DWORD> indices;
        for (int f = 0; f < 2000; ++f) {
            const DWORD a = next() % 3000, b = (a + 1 + next() % 2998) % 3000;
            DWORD c = next() % 3000;
            while (c == a || c == b) c = (c + 1) % 3000;
            indices.insert(indices.end(), {a, b, c});
        }
        const std::vector<DWORD> attributes(2000, 0);
        std::vector<float> withInfinity = xyz;
        withInfinity.insert(withInfinity.end(), {std::numeric_limits<float>::infinity(), 0, 0});
        Mesh* cells = Make(xyz, indices, attributes);
        Mesh* walk = Make(withInfinity, indices, attributes);
        ASSERT_TRUE(cells && walk);
        std::vector<DWORD> expected(6000), got(6000);
        ASSERT_EQ(walk->BuildAdjacency(epsilon, expected.data()), S_OK);
        ASSERT_EQ(cells->BuildAdjacency(epsilon, got.data()), S_OK);
        EXPECT_EQ(got, expected) << epsilon;
        EXPECT_GT(std::count_if(got.begin(), got.end(), [](DWORD a) { return a != NO_ADJACENT_FACE; }), 100) << epsilon;
        EXPECT_EQ(cells->Release(), 0u);
        EXPECT_EQ(walk->Release(), 0u);
    }

    // A 300 x 300 grid in the plane x = 0.
    std::vector<float> xyz;
    std::vector<DWORD> indices;
    const int n = 300;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) xyz.insert(xyz.end(), {0.0f, float(i), float(j)});
    for (int j = 0; j + 1 < n; ++j)
        for (int i = 0; i + 1 < n; ++i) {
            const DWORD a = DWORD(j * n + i), b = a + 1, c = a + n, d = c + 1;
            indices.insert(indices.end(), {a, c, d, a, d, b});
        }
    const DWORD faces = DWORD(indices.size() / 3);
    Mesh* grid = Make(xyz, indices, std::vector<DWORD>(faces, 0), OPT_IB_SYSTEMMEM | OPT_VB_SYSTEMMEM | OPT_32BIT_INDICES);
    ASSERT_NE(grid, nullptr);
    std::vector<DWORD> adjacency(size_t{faces} * 3);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(grid->BuildAdjacency(1e-4f, adjacency.data()), S_OK);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    // An inner cell's first triangle meets its second across the diagonal
    // (its third edge) and the cell to the left's second across its first.
    const DWORD inner = DWORD(2 * (150 * (n - 1) + 150));
    EXPECT_EQ(adjacency[size_t{inner} * 3 + 2], inner + 1);
    EXPECT_EQ(adjacency[size_t{inner} * 3 + 0], inner - 1);
    EXPECT_EQ(grid->Release(), 0u);
}

TEST_F(MeshTest, AdjacencyPairsSharedEdgesInFaceOrder) {
    // A fan of 24 triangles around vertex 0 (one bucket of 48 edges), plus
    // two more faces on the fan's first spoke: only the first two claimants
    // of an edge are paired.
    std::vector<float> xyz = {0, 0, 0};
    std::vector<DWORD> indices;
    for (int i = 0; i <= 24; ++i) xyz.insert(xyz.end(), {std::cos(i * 0.25f), std::sin(i * 0.25f), 0});
    for (DWORD i = 0; i < 24; ++i) indices.insert(indices.end(), {0, i + 1, i + 2});
    xyz.insert(xyz.end(), {0, 0, 1});
    indices.insert(indices.end(), {1, 0, 26});
    indices.insert(indices.end(), {0, 1, 26});
    Mesh* m = Make(xyz, indices, std::vector<DWORD>(26, 0));
    ASSERT_NE(m, nullptr);
    std::vector<DWORD> adjacency(26 * 3);
    ASSERT_EQ(m->AdjacencyFromPointReps(nullptr, adjacency.data()), S_OK);
    for (DWORD i = 0; i < 24; ++i) {
        EXPECT_EQ(adjacency[i * 3 + 0], i == 0 ? 24u : i - 1) << "edge 0-" << i + 1 << " of face " << i;
        EXPECT_EQ(adjacency[i * 3 + 1], NO_ADJACENT_FACE);
        EXPECT_EQ(adjacency[i * 3 + 2], i < 23 ? i + 1 : NO_ADJACENT_FACE);
    }
    EXPECT_EQ(adjacency[24 * 3 + 0], 0u);
    EXPECT_EQ(adjacency[25 * 3 + 0], NO_ADJACENT_FACE) << "a third face on an edge stays unpaired";

    // Vertices that start no edge (here the first two) leave empty buckets.
    Mesh* sparse = Make({9, 9, 9, 9, 9, 9, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, {2, 3, 4, 4, 3, 5}, {0, 0});
    ASSERT_NE(sparse, nullptr);
    DWORD pair[6] = {};
    ASSERT_EQ(sparse->AdjacencyFromPointReps(nullptr, pair), S_OK);
    EXPECT_EQ(std::vector<DWORD>(pair, pair + 6),
              (std::vector<DWORD>{NO_ADJACENT_FACE, 1, NO_ADJACENT_FACE, 0, NO_ADJACENT_FACE, NO_ADJACENT_FACE}));
    EXPECT_EQ(sparse->Release(), 0u);

    // Representatives far outside the vertex range pair the same way.
    std::vector<DWORD> far(27), adjacencyFar(26 * 3);
    for (DWORD v = 0; v < 27; ++v) far[v] = 0x40000000u + v * 3;
    ASSERT_EQ(m->AdjacencyFromPointReps(far.data(), adjacencyFar.data()), S_OK);
    EXPECT_EQ(adjacencyFar, adjacency);
    EXPECT_EQ(m->Release(), 0u);
}
