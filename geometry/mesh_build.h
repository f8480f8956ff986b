// Building a mesh from the records the .x parser fills, and joining two
// meshes with their materials into one.
#pragma once

#include <vector>

#include "geometry/effect_instance.h"
#include "geometry/mesh.h"
#include "platform/xfile/large_blocks.h"

// One material as the loader returns it: the Direct3D material and the
// texture file name (inside the same DataBuffer) or null.
struct MaterialEntry {
    D3DMATERIAL9 material;
    char* textureFilename;
};

// Packs materials into one DataBuffer: the entries, then copies of their
// non-null names, each entry pointing at its own copy. Null for count 0.
HRESULT CreateMaterialBuffer(const MaterialEntry* entries, DWORD count, DataBuffer** out);

struct LoaderVertex {
    float position[3] = {0, 0, 0};
    float color[4] = {1, 1, 1, 0};
    float uv[2] = {0, 0};
    float normal[3] = {0, 0, 0};
    DWORD representative = 0;
    DWORD nextDuplicate = 0;  // circular list of copies made for other normals
    DWORD useCount = 0;       // normal contributions (0: no normal yet)
    DWORD dataSource = 0;     // vertex whose extra per-vertex data this one carries
};

inline constexpr DWORD TRIANGLE_HAS_NORMAL_REFS = 1;
inline constexpr DWORD TRIANGLE_HAS_MATERIAL = 4;
inline constexpr DWORD TRIANGLE_NEEDS_NORMAL = 8;
inline constexpr DWORD DROPPED_VERTEX = 0xFFFFFFFF;

struct LoaderTriangle {
    DWORD index[3] = {0, 0, 0};
    DWORD material = 0;
    DWORD attribute = 0;
    DWORD flags = 0;
    WORD smoothingGroup = 0;
};

struct NormalReference {
    DWORD vertex = 0;
    DWORD triangle = 0;
    BYTE flags = 0;
    float normal[3] = {0, 0, 0};
};

struct XMeshData {
    // Large for big models and freed once the mesh is built.
    xfile::LargeVector<LoaderVertex> vertices;
    xfile::LargeVector<LoaderTriangle> triangles;
    std::vector<NormalReference> normalReferences;  // 3 per triangle, or empty
    // Extra per-vertex bytes (FVFData, then DeclData), written from
    // `extraOffset` in each vertex.
    std::vector<BYTE> extra;
    // When not empty, one flag per byte of a vertex's extra data: only the
    // flagged bytes are written, the others keep what the loader wrote.
    std::vector<BYTE> extraMask;
    DWORD extraPerVertex = 0;
    DWORD extraOffset = 0;
    std::vector<DWORD> faceAdjacency;
    bool hasFaceAdjacency = false;
    bool hasDuplicationIndices = false;
};

// Builds the mesh (see mesh_build.cpp for the steps); `data` is modified
// (normals, split vertices, dropped triangles). Adjacency out may be null.
HRESULT BuildMeshFromXData(XMeshData& data, DWORD options, const D3DVERTEXELEMENT9* elements,
                           IDirect3DDevice9* device, DataBuffer** adjacency, Mesh** out);

// D3DCOLOR of four floats (red, green, blue, alpha), each clamped to 0 … 1.
DWORD ColorToArgb(const float rgba[4]);

// Union of two FVF codes for a merged mesh.
DWORD UnionFvf(DWORD a, DWORD b);

// Joins `second` after `first`: indices offset by the first's vertex count,
// attributes by its material count, adjacency by its face count; materials
// and effect instances one list after the other. Outputs other than `out`
// may be null; adjacency, material and effect-instance inputs may be null.
// When one side has no effect instances and no materials the other side's
// buffer is returned with a new reference; when it has materials but no
// instances, its share of the merged buffer holds empty instances.
HRESULT MergeMeshes(Mesh* first, const DWORD* firstAdjacency, DataBuffer* firstMaterials, DataBuffer* firstEffects,
                    DWORD firstCount, Mesh* second, const DWORD* secondAdjacency, DataBuffer* secondMaterials,
                    DataBuffer* secondEffects, DWORD secondCount, IDirect3DDevice9* device, DataBuffer** adjacency,
                    DataBuffer** materials, DataBuffer** effects, DWORD* count, Mesh** out);
