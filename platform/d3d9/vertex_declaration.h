// Vertex layouts: declaration objects, element checking and the flexible
// vertex format codes turned into elements.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/device_child.h"

// Bytes of one element of a declaration type; 0 for an unknown type.
UINT DeclTypeSize(BYTE type);
// Checks an element list ended by D3DDECL_END() (at most MAXD3DDECLLENGTH
// elements before it); sets `count` to the elements before the end marker.
bool CheckVertexElements(const D3DVERTEXELEMENT9* elements, UINT* count, const char** why);
bool CheckFvf(DWORD fvf, const char** why);
// Elements of a valid FVF code in their order and offsets, end marker
// written after them (room for MAXD3DDECLLENGTH + 1); returns the count.
UINT FvfToElements(DWORD fvf, D3DVERTEXELEMENT9* elements);
// Bytes from the start of a vertex to the end of its last element in
// stream 0.
UINT VertexExtent(const D3DVERTEXELEMENT9* elements, UINT count);

class VertexDeclaration final : public IDirect3DVertexDeclaration9, public DeviceChild {
public:
    // The elements must have passed CheckVertexElements.
    static HRESULT Create(Device* device, const D3DVERTEXELEMENT9* elements, UINT count, VertexDeclaration** out);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ChildAddRef(); }
    ULONG Release() override { return ChildRelease("IDirect3DVertexDeclaration9::Release"); }
    HRESULT GetDevice(IDirect3DDevice9** device) override { return ChildGetDevice(device); }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;

    const D3DVERTEXELEMENT9* Elements() const { return elements_; }
    UINT Count() const { return count_; }

private:
    explicit VertexDeclaration(Device* device) : DeviceChild(device) {}
    D3DVERTEXELEMENT9 elements_[MAXD3DDECLLENGTH + 1]{};
    UINT count_ = 0;
};
