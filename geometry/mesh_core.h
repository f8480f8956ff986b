// The mesh object's state, shared by the library's own operations
// (intersection, building, merging) that reach past the interface.
#pragma once

#include <vector>

#include "geometry/mesh.h"

// A mesh's indices as 32-bit values, 3 per face: the index buffer itself
// when it holds 32-bit indices (locked for reading while the view lives),
// else a converted copy.
class IndexView {
public:
    IndexView() = default;
    IndexView(const IndexView&) = delete;
    IndexView& operator=(const IndexView&) = delete;
    ~IndexView() { Close(); }
    const DWORD* Data() const { return data_; }
    void Close() {
        if (locked_) locked_->Unlock();
        locked_ = nullptr;
    }

private:
    friend class MeshCore;
    const DWORD* data_ = nullptr;
    std::vector<DWORD> copy_;
    IDirect3DIndexBuffer9* locked_ = nullptr;
};

class MeshCore : public ComObject<Mesh> {
public:
    MeshCore(IDirect3DDevice9* device, IDirect3D9* d3d, DWORD options);
    ~MeshCore() override;

    // Sets the layout and sizes, then allocates storage.
    HRESULT Init(DWORD faces, DWORD vertices, const D3DVERTEXELEMENT9* elements);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    HRESULT DrawAttributeGroup(DWORD attribId) override;
    DWORD GetFaceCount() override { return faceCount_; }
    DWORD GetVertexCount() override { return vertexCount_; }
    DWORD GetVertexFormat() override { return fvf_; }
    HRESULT CopyDeclaration(D3DVERTEXELEMENT9* elements) override;
    DWORD GetVertexStride() override { return stride_; }
    DWORD GetCreationOptions() override { return options_; }
    HRESULT GetOwningDevice(IDirect3DDevice9** device) override;
    HRESULT CloneWithFvf(DWORD options, DWORD fvf, IDirect3DDevice9* device, Mesh** out) override;
    HRESULT CloneWithDeclaration(DWORD options, const D3DVERTEXELEMENT9* elements, IDirect3DDevice9* device,
                                 Mesh** out) override;
    HRESULT GetVertexBufferObject(IDirect3DVertexBuffer9** buffer) override;
    HRESULT GetIndexBufferObject(IDirect3DIndexBuffer9** buffer) override;
    HRESULT LockVertices(DWORD flags, void** data) override;
    HRESULT UnlockVertices() override;
    HRESULT LockIndices(DWORD flags, void** data) override;
    HRESULT UnlockIndices() override;
    HRESULT CopyAttributeTable(AttributeRange* table, DWORD* count) override;
    HRESULT AdjacencyFromPointReps(const DWORD* pointReps, DWORD* adjacency) override;
    HRESULT PointRepsFromAdjacency(const DWORD* adjacency, DWORD* pointReps) override;
    HRESULT BuildAdjacency(float epsilon, DWORD* adjacency) override;
    HRESULT ChangeDeclaration(const D3DVERTEXELEMENT9* elements) override;
    HRESULT LockAttributes(DWORD flags, DWORD** data) override;
    HRESULT UnlockAttributes() override { return S_OK; }
    HRESULT OptimizeIntoNewMesh(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                DataBuffer** vertexRemap, Mesh** out) override;
    HRESULT OptimizeMeshInPlace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                DataBuffer** vertexRemap) override;
    HRESULT ReplaceAttributeTable(const AttributeRange* table, DWORD count) override;
    MeshCore* Core() override { return this; }

    // Optimises in place as OptimizeMeshInPlace does, also when the buffers
    // are write-only: for the library's own use on a mesh it has just
    // filled (callers cannot read such buffers back, the library can).
    HRESULT OptimizeBuiltMesh(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut) {
        return Optimize(flags, adjacencyIn, adjacencyOut, nullptr, nullptr);
    }

    bool Wide() const { return (options_ & OPT_32BIT_INDICES) != 0; }
    const D3DVERTEXELEMENT9* Elements() const { return elements_; }
    bool TableValid() const { return tableValid_; }
    const std::vector<AttributeRange>& Table() const { return table_; }
    std::vector<DWORD>& Attributes() { return attributes_; }
    bool PerFaceDrawing() const { return perFace_; }

    // Reads all indices as 32-bit values (3 per face).
    HRESULT ReadIndices(std::vector<DWORD>& out);
    // The same without a copy when the buffer is 32-bit.
    HRESULT ViewIndices(IndexView& view);
    // Writes 3 per face; `indices` must cover the face count.
    HRESULT WriteIndices(const std::vector<DWORD>& indices);
    HRESULT ReadVertices(std::vector<BYTE>& out);
    HRESULT WriteVertices(const std::vector<BYTE>& bytes);

private:
    HRESULT AllocateStorage();
    HRESULT DrawPerFace(DWORD attribId);
    HRESULT PairEdges(const DWORD* indices, const DWORD* pointReps, DWORD* adjacency);
    HRESULT ExactPointReps(std::vector<DWORD>& reps);
    HRESULT Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                     DataBuffer** vertexRemap);
    HRESULT ShareVertexBuffer(MeshCore* source);
    HRESULT OptimizeInOrder(bool sort, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                            DataBuffer** vertexRemap);

    IDirect3DDevice9* device_;
    IDirect3D9* d3d_;
    DWORD options_;
    D3DVERTEXELEMENT9 elements_[MAX_DECLARATION_ELEMENTS]{};
    DWORD fvf_ = 0;
    DWORD stride_ = 0;
    IDirect3DVertexDeclaration9* declaration_ = nullptr;
    IDirect3DVertexBuffer9* vb_ = nullptr;
    IDirect3DIndexBuffer9* ib_ = nullptr;
    bool sharedVb_ = false;
    DWORD vertexCount_ = 0, faceCount_ = 0;
    DWORD vertexCapacity_ = 0, faceCapacity_ = 0;
    std::vector<DWORD> attributes_;
    std::vector<AttributeRange> table_;
    bool tableValid_ = false;
    bool perFace_ = false;
    D3DPOOL vbPool_, ibPool_;
    DWORD vbUsage_, ibUsage_;
};

inline MeshCore* CoreOf(Mesh* mesh) { return mesh ? mesh->Core() : nullptr; }
