#include "geometry/fvf.h"

#include <cstring>

namespace {

constexpr D3DVERTEXELEMENT9 kEnd = D3DDECL_END();

bool IsEnd(const D3DVERTEXELEMENT9& e) { return e.Stream == 0xFF && e.Type == D3DDECLTYPE_UNUSED; }

// Floats of texture set i of an FVF code. Only sets 0 to 7 have size bits;
// the count field allows up to 15, and the others are two floats.
UINT TexSetFloats(DWORD fvf, DWORD i) {
    if (fvf < 0x10000 || i >= 8) return 2;
    switch ((fvf >> (16 + 2 * i)) & 3) {
    case 0: return 2;
    case 1: return 3;
    case 2: return 4;
    default: return 1;
    }
}

}  // namespace

UINT DeclarationTypeSize(BYTE type) {
    static constexpr UINT sizes[17] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8};
    return type < 17 ? sizes[type] : 0;
}

HRESULT FvfToDeclaration(DWORD fvf, D3DVERTEXELEMENT9* elements) {
    if (!elements) return D3DERR_INVALIDCALL;
    if (fvf & 0x6001) return D3DERR_INVALIDCALL;
    const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texCount > 8) return D3DERR_INVALIDCALL;

    UINT n = 0;
    WORD offset = 0;
    auto add = [&](BYTE type, BYTE usage, BYTE index) {
        elements[n++] = D3DVERTEXELEMENT9{0, offset, type, 0, usage, index};
        offset = static_cast<WORD>(offset + DeclarationTypeSize(type));
    };

    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position) {
        if (position == D3DFVF_XYZRHW) {
            add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0);
        } else {
            add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
        }
        // XYZB1 … XYZB5 carry one to five betas.
        int betas = 0;
        if (position >= D3DFVF_XYZB1 && position <= D3DFVF_XYZB5) betas = static_cast<int>((position - D3DFVF_XYZRHW) / 2);
        if (betas > 0) {
            const bool ubyte4 = (fvf & D3DFVF_LASTBETA_UBYTE4) != 0;
            const bool color = (fvf & D3DFVF_LASTBETA_D3DCOLOR) != 0;
            if (ubyte4 || color) {
                if (betas > 1) add(static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + betas - 2), D3DDECLUSAGE_BLENDWEIGHT, 0);
                add(ubyte4 ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_BLENDINDICES, 0);
            } else {
                if (betas == 5) return D3DERR_INVALIDCALL;
                add(static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + betas - 1), D3DDECLUSAGE_BLENDWEIGHT, 0);
            }
        }
    }
    if (fvf & D3DFVF_NORMAL) add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
    if (fvf & D3DFVF_PSIZE) add(D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0);
    if (fvf & D3DFVF_DIFFUSE) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    if (fvf & D3DFVF_SPECULAR) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    for (DWORD i = 0; i < texCount; ++i) {
        add(static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + TexSetFloats(fvf, i) - 1), D3DDECLUSAGE_TEXCOORD,
            static_cast<BYTE>(i));
    }
    elements[n] = kEnd;
    return S_OK;
}

DWORD GetFvfVertexSize(DWORD fvf) {
    DWORD size;
    switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ: size = 12; break;
    case D3DFVF_XYZRHW: size = 16; break;
    case D3DFVF_XYZB1: size = 16; break;
    case D3DFVF_XYZB2: size = 20; break;
    case D3DFVF_XYZB3: size = 24; break;
    case D3DFVF_XYZB4: size = 28; break;
    case D3DFVF_XYZB5: size = 32; break;
    default: size = 0; break;
    }
    if (fvf & D3DFVF_NORMAL) size += 12;
    if (fvf & D3DFVF_PSIZE) size += 4;
    if (fvf & D3DFVF_DIFFUSE) size += 4;
    if (fvf & D3DFVF_SPECULAR) size += 4;
    const DWORD texCount = (fvf >> 8) & 0xF;
    for (DWORD i = 0; i < texCount; ++i) size += 4 * TexSetFloats(fvf, i);
    return size;
}

int DeclarationLength(const D3DVERTEXELEMENT9* elements) {
    if (!elements) return -1;
    for (UINT i = 0; i < MAX_DECLARATION_ELEMENTS; ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        if (IsEnd(e)) return static_cast<int>(i);
        if (e.Stream != 0 || e.Type >= D3DDECLTYPE_UNUSED || e.Method > 7 || e.Usage > D3DDECLUSAGE_SAMPLE) return -1;
        if (i == MAXD3DDECLLENGTH) return -1;
    }
    return -1;
}

UINT DeclarationStride(const D3DVERTEXELEMENT9* elements) {
    UINT stride = 0;
    for (UINT i = 0; i < MAX_DECLARATION_ELEMENTS && !IsEnd(elements[i]); ++i) {
        if (elements[i].Stream != 0) continue;
        const UINT end = elements[i].Offset + DeclarationTypeSize(elements[i].Type);
        if (end > stride) stride = end;
    }
    return stride;
}

DWORD FvfFromDeclaration(const D3DVERTEXELEMENT9* elements) {
    const int length = DeclarationLength(elements);
    if (length <= 0) return 0;
    DWORD fvf = 0;
    int i = 0;
    auto at = [&](BYTE usage, BYTE index) {
        return i < length && elements[i].Usage == usage && elements[i].UsageIndex == index;
    };
    if (at(D3DDECLUSAGE_POSITIONT, 0)) {
        fvf |= D3DFVF_XYZRHW;
        ++i;
    } else if (at(D3DDECLUSAGE_POSITION, 0)) {
        ++i;
        DWORD betas = 0;
        if (at(D3DDECLUSAGE_BLENDWEIGHT, 0)) {
            if (elements[i].Type > D3DDECLTYPE_FLOAT4) return 0;
            betas = elements[i].Type - D3DDECLTYPE_FLOAT1 + 1u;
            ++i;
        }
        if (at(D3DDECLUSAGE_BLENDINDICES, 0)) {
            fvf |= elements[i].Type == D3DDECLTYPE_UBYTE4 ? D3DFVF_LASTBETA_UBYTE4 : D3DFVF_LASTBETA_D3DCOLOR;
            ++betas;
            ++i;
        }
        if (betas > 5) return 0;
        fvf |= betas ? D3DFVF_XYZRHW + 2 * betas : D3DFVF_XYZ;
    } else {
        return 0;
    }
    if (at(D3DDECLUSAGE_NORMAL, 0)) fvf |= D3DFVF_NORMAL, ++i;
    if (at(D3DDECLUSAGE_PSIZE, 0)) fvf |= D3DFVF_PSIZE, ++i;
    if (at(D3DDECLUSAGE_COLOR, 0)) fvf |= D3DFVF_DIFFUSE, ++i;
    if (at(D3DDECLUSAGE_COLOR, 1)) fvf |= D3DFVF_SPECULAR, ++i;
    DWORD sets = 0;
    while (sets < 8 && at(D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(sets))) {
        static constexpr DWORD formats[4] = {3, 0, 1, 2};  // FLOAT1 … FLOAT4
        if (elements[i].Type > D3DDECLTYPE_FLOAT4) return 0;
        fvf |= formats[elements[i].Type] << (16 + 2 * sets);
        ++sets;
        ++i;
    }
    fvf |= sets << D3DFVF_TEXCOUNT_SHIFT;
    if (i != length) return 0;

    // Only a layout that converts back exactly has an FVF form.
    D3DVERTEXELEMENT9 check[MAX_DECLARATION_ELEMENTS];
    if (FAILED(FvfToDeclaration(fvf, check))) return 0;
    if (DeclarationLength(check) != length) return 0;
    if (std::memcmp(check, elements, sizeof(D3DVERTEXELEMENT9) * static_cast<size_t>(length)) != 0) return 0;
    return fvf;
}

const D3DVERTEXELEMENT9* FindElement(const D3DVERTEXELEMENT9* elements, BYTE usage, BYTE usageIndex) {
    for (UINT i = 0; i < MAX_DECLARATION_ELEMENTS && !IsEnd(elements[i]); ++i) {
        if (elements[i].Usage == usage && elements[i].UsageIndex == usageIndex) return &elements[i];
    }
    return nullptr;
}

const D3DVERTEXELEMENT9* FindPointPosition(const D3DVERTEXELEMENT9* elements) {
    const D3DVERTEXELEMENT9* position = FindElement(elements, D3DDECLUSAGE_POSITION, 0);
    if (!position || (position->Type != D3DDECLTYPE_FLOAT3 && position->Type != D3DDECLTYPE_FLOAT4)) return nullptr;
    return position;
}
