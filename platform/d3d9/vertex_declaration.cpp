#include "platform/d3d9/vertex_declaration.h"

#include <algorithm>
#include <new>

#include "platform/d3d9/debug_report.h"
#include "platform/d3d9/device.h"

UINT DeclTypeSize(BYTE type) {
    switch (type) {
        case D3DDECLTYPE_FLOAT1:
        case D3DDECLTYPE_D3DCOLOR:
        case D3DDECLTYPE_UBYTE4:
        case D3DDECLTYPE_SHORT2:
        case D3DDECLTYPE_UBYTE4N:
        case D3DDECLTYPE_SHORT2N:
        case D3DDECLTYPE_USHORT2N:
        case D3DDECLTYPE_UDEC3:
        case D3DDECLTYPE_DEC3N:
        case D3DDECLTYPE_FLOAT16_2:
            return 4;
        case D3DDECLTYPE_FLOAT2:
        case D3DDECLTYPE_SHORT4:
        case D3DDECLTYPE_SHORT4N:
        case D3DDECLTYPE_USHORT4N:
        case D3DDECLTYPE_FLOAT16_4:
            return 8;
        case D3DDECLTYPE_FLOAT3:
            return 12;
        case D3DDECLTYPE_FLOAT4:
            return 16;
        default:
            return 0;
    }
}

bool CheckVertexElements(const D3DVERTEXELEMENT9* elements, UINT* count, const char** why) {
    UINT n = 0;
    for (;; ++n) {
        const D3DVERTEXELEMENT9& e = elements[n];
        if (e.Stream == 0xFF) break;
        if (n == MAXD3DDECLLENGTH) {
            *why = "more than 64 elements, or no end marker";
            return false;
        }
        if (DeclTypeSize(e.Type) == 0) {
            *why = "unknown element type";
            return false;
        }
        if (e.Method > D3DDECLMETHOD_LOOKUPPRESAMPLED || e.Usage > D3DDECLUSAGE_SAMPLE || e.UsageIndex >= 16) {
            *why = "unknown element method, usage or usage index";
            return false;
        }
        if (e.Stream >= 16 || e.Offset % 4 != 0) {
            *why = "element stream above 15 or offset not a multiple of 4";
            return false;
        }
        for (UINT j = 0; j < n; ++j) {
            if (elements[j].Usage == e.Usage && elements[j].UsageIndex == e.UsageIndex) {
                *why = "two elements with the same usage and usage index";
                return false;
            }
        }
    }
    *count = n;
    return true;
}

bool CheckFvf(DWORD fvf, const char** why) {
    *why = "invalid vertex format code";
    if (fvf & (D3DFVF_RESERVED0 | 0x2000)) return false;
    if (((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT) > 8) return false;
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    if ((fvf & 0x4000) && position != D3DFVF_XYZW) return false;
    const bool lastBetaUbyte = fvf & D3DFVF_LASTBETA_UBYTE4, lastBetaColor = fvf & D3DFVF_LASTBETA_D3DCOLOR;
    const bool blended = position >= D3DFVF_XYZB1 && position <= D3DFVF_XYZB5;
    if ((lastBetaUbyte || lastBetaColor) && (!blended || (lastBetaUbyte && lastBetaColor))) return false;
    if (position == D3DFVF_XYZB5 && !lastBetaUbyte && !lastBetaColor) return false;
    return true;
}

UINT FvfToElements(DWORD fvf, D3DVERTEXELEMENT9* elements) {
    UINT n = 0;
    WORD offset = 0;
    auto add = [&](BYTE type, BYTE usage, BYTE index) {
        elements[n++] = D3DVERTEXELEMENT9{0, offset, type, D3DDECLMETHOD_DEFAULT, usage, index};
        offset = WORD(offset + DeclTypeSize(type));
    };
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position == D3DFVF_XYZRHW)
        add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0);
    else if (position == D3DFVF_XYZW)
        add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0);
    else if (position != 0)
        add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    if (position >= D3DFVF_XYZB1 && position <= D3DFVF_XYZB5) {
        const UINT betas = (position - D3DFVF_XYZB1) / 2 + 1;
        const bool lastBetaUbyte = fvf & D3DFVF_LASTBETA_UBYTE4, lastBetaColor = fvf & D3DFVF_LASTBETA_D3DCOLOR;
        const UINT weights = (lastBetaUbyte || lastBetaColor) ? betas - 1 : betas;
        if (weights > 0) add(BYTE(D3DDECLTYPE_FLOAT1 + weights - 1), D3DDECLUSAGE_BLENDWEIGHT, 0);
        if (lastBetaUbyte) add(D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0);
        if (lastBetaColor) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_BLENDINDICES, 0);
    }
    if (fvf & D3DFVF_NORMAL) add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
    if (fvf & D3DFVF_PSIZE) add(D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0);
    if (fvf & D3DFVF_DIFFUSE) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    if (fvf & D3DFVF_SPECULAR) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    const UINT sets = std::min<UINT>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT, 8);
    for (UINT i = 0; i < sets; ++i) {
        static const BYTE types[4] = {D3DDECLTYPE_FLOAT2, D3DDECLTYPE_FLOAT3, D3DDECLTYPE_FLOAT4,
                                      D3DDECLTYPE_FLOAT1};
        add(types[(fvf >> (16 + 2 * i)) & 3], D3DDECLUSAGE_TEXCOORD, BYTE(i));
    }
    elements[n] = D3DVERTEXELEMENT9 D3DDECL_END();
    return n;
}

UINT VertexExtent(const D3DVERTEXELEMENT9* elements, UINT count) {
    UINT extent = 0;
    for (UINT i = 0; i < count; ++i)
        if (elements[i].Stream == 0) extent = std::max(extent, UINT(elements[i].Offset) + DeclTypeSize(elements[i].Type));
    return extent;
}

HRESULT VertexDeclaration::Create(Device* device, const D3DVERTEXELEMENT9* elements, UINT count,
                                  VertexDeclaration** out) {
    VertexDeclaration* d = new (std::nothrow) VertexDeclaration(device);
    if (!d) return E_OUTOFMEMORY;
    std::copy(elements, elements + count, d->elements_);
    d->elements_[count] = D3DVERTEXELEMENT9 D3DDECL_END();
    d->count_ = count;
    *out = d;
    return D3D_OK;
}

HRESULT VertexDeclaration::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DVertexDeclaration9) {
        AddRef();
        *object = static_cast<IDirect3DVertexDeclaration9*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) {
    if (!count) return InvalidCall("IDirect3DVertexDeclaration9::GetDeclaration", "null count");
    *count = count_ + 1;
    if (elements) std::copy(elements_, elements_ + count_ + 1, elements);
    return D3D_OK;
}
