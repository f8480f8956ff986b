// The indexed triangle mesh: a vertex buffer, a 16- or 32-bit index buffer,
// one attribute id per face, an optional attribute table, and the layout.
#pragma once

#include "geometry/result_codes.h"
#include "geometry/data_buffer.h"
#include "geometry/fvf.h"
#include "platform/d3d9/d3d9.h"

// Creation options.
inline constexpr DWORD OPT_32BIT_INDICES = 0x001;
inline constexpr DWORD OPT_DONOTCLIP = 0x002;
inline constexpr DWORD OPT_POINTS = 0x004;
inline constexpr DWORD OPT_RTPATCHES = 0x008;
inline constexpr DWORD OPT_VB_SYSTEMMEM = 0x010;
inline constexpr DWORD OPT_VB_MANAGED = 0x020;
inline constexpr DWORD OPT_VB_WRITEONLY = 0x040;
inline constexpr DWORD OPT_VB_DYNAMIC = 0x080;
inline constexpr DWORD OPT_IB_SYSTEMMEM = 0x100;
inline constexpr DWORD OPT_IB_MANAGED = 0x200;
inline constexpr DWORD OPT_IB_WRITEONLY = 0x400;
inline constexpr DWORD OPT_IB_DYNAMIC = 0x800;
inline constexpr DWORD OPT_SHARE_VERTEX_BUFFER = 0x1000;
inline constexpr DWORD OPT_NPATCHES = 0x4000;
inline constexpr DWORD OPT_VB_SOFTWAREPROCESSING = 0x8000;
inline constexpr DWORD OPT_IB_SOFTWAREPROCESSING = 0x10000;
inline constexpr DWORD OPT_VALID_BITS = 0x0001CFFF;

// Optimisation flags.
inline constexpr DWORD OPTIMIZE_COMPACT = 0x01000000;
inline constexpr DWORD OPTIMIZE_ATTRIBUTE_SORT = 0x02000000;
inline constexpr DWORD OPTIMIZE_VERTEX_CACHE = 0x04000000;
inline constexpr DWORD OPTIMIZE_STRIP_REORDER = 0x08000000;
inline constexpr DWORD OPTIMIZE_IGNORE_VERTICES = 0x10000000;
inline constexpr DWORD OPTIMIZE_DO_NOT_SPLIT = 0x20000000;


// Marks a face that compaction drops (its first index).
inline constexpr DWORD UNUSED_INDEX32 = 0xFFFFFFFF;
inline constexpr WORD UNUSED_INDEX16 = 0xFFFF;
// No neighbour across an edge.
inline constexpr DWORD NO_ADJACENT_FACE = 0xFFFFFFFF;

struct AttributeRange {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
};
static_assert(sizeof(AttributeRange) == 20);

// {5649524E-0102-4745-4F4D-4D4553480000}
inline constexpr IID IID_Mesh = {0x5649524E, 0x0102, 0x4745, {0x4F, 0x4D, 0x4D, 0x45, 0x53, 0x48, 0x00, 0x00}};

class MeshCore;

// The mesh interface; the virtual slots are in this order.
struct Mesh : IUnknown {
    virtual HRESULT DrawAttributeGroup(DWORD attribId) = 0;
    virtual DWORD GetFaceCount() = 0;
    virtual DWORD GetVertexCount() = 0;
    virtual DWORD GetVertexFormat() = 0;
    virtual HRESULT CopyDeclaration(D3DVERTEXELEMENT9* elements) = 0;
    virtual DWORD GetVertexStride() = 0;
    virtual DWORD GetCreationOptions() = 0;
    virtual HRESULT GetOwningDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT CloneWithFvf(DWORD options, DWORD fvf, IDirect3DDevice9* device, Mesh** out) = 0;
    virtual HRESULT CloneWithDeclaration(DWORD options, const D3DVERTEXELEMENT9* elements,
                                         IDirect3DDevice9* device, Mesh** out) = 0;
    virtual HRESULT GetVertexBufferObject(IDirect3DVertexBuffer9** buffer) = 0;
    virtual HRESULT GetIndexBufferObject(IDirect3DIndexBuffer9** buffer) = 0;
    virtual HRESULT LockVertices(DWORD flags, void** data) = 0;
    virtual HRESULT UnlockVertices() = 0;
    virtual HRESULT LockIndices(DWORD flags, void** data) = 0;
    virtual HRESULT UnlockIndices() = 0;
    virtual HRESULT CopyAttributeTable(AttributeRange* table, DWORD* count) = 0;
    virtual HRESULT AdjacencyFromPointReps(const DWORD* pointReps, DWORD* adjacency) = 0;
    virtual HRESULT PointRepsFromAdjacency(const DWORD* adjacency, DWORD* pointReps) = 0;
    virtual HRESULT BuildAdjacency(float epsilon, DWORD* adjacency) = 0;
    virtual HRESULT ChangeDeclaration(const D3DVERTEXELEMENT9* elements) = 0;
    virtual HRESULT LockAttributes(DWORD flags, DWORD** data) = 0;
    virtual HRESULT UnlockAttributes() = 0;
    virtual HRESULT OptimizeIntoNewMesh(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut,
                                        DWORD* faceRemap, DataBuffer** vertexRemap, Mesh** out) = 0;
    virtual HRESULT OptimizeMeshInPlace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut,
                                        DWORD* faceRemap, DataBuffer** vertexRemap) = 0;
    virtual HRESULT ReplaceAttributeTable(const AttributeRange* table, DWORD count) = 0;
    // Internal: the library's own view of the object.
    virtual MeshCore* Core() = 0;

protected:
    ~Mesh() = default;
};

// Creates a mesh of `faces` faces and `vertices` vertices with the layout
// `elements` (terminated, at most 64 elements). The 16-bit form (without
// OPT_32BIT_INDICES) takes at most 65534 of each. Buffers are zero-filled.
HRESULT CreateMesh(DWORD faces, DWORD vertices, DWORD options, const D3DVERTEXELEMENT9* elements,
                   IDirect3DDevice9* device, Mesh** out);
// The same with the layout given as an FVF code.
HRESULT CreateMeshFvf(DWORD faces, DWORD vertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                      Mesh** out);

// Converts `count` vertices from one layout to another: destination
// elements with a source element of the same usage and usage index get its
// value, converted between the declaration types; with `zero` the whole
// destination vertex is cleared first.
void ConvertVertices(void* dst, const D3DVERTEXELEMENT9* dstElements, UINT dstStride, const void* src,
                     const D3DVERTEXELEMENT9* srcElements, UINT srcStride, DWORD count, bool zero);

// Calls the device's debug mute entries (d3d9.dll, d3d9d.dll) with `mute`,
// unless the DebugDoNotMute registry value is set.
void MuteDeviceDebug(bool mute);
