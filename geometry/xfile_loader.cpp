#include "geometry/xfile_loader.h"

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "geometry/math.h"
#include "geometry/mesh_core.h"
#include "platform/win32/error.h"
#include "platform/win32/module.h"
#include "platform/xfile/dxfile.h"
#include "platform/xfile/templates.h"

namespace {

// Reads little-endian DWORDs and floats from one data object's bytes.
struct Bytes {
    const BYTE* data;
    uint64_t size;
    DWORD U32(uint64_t offset) const {
        DWORD v;
        std::memcpy(&v, data + offset, 4);
        return v;
    }
    float F32(uint64_t offset) const {
        float v;
        std::memcpy(&v, data + offset, 4);
        return v;
    }
};

HRESULT DataOf(IDirectXFileData* object, Bytes* out) {
    DWORD size = 0;
    void* data = nullptr;
    HRESULT hr = object->GetData(nullptr, &size, &data);
    if (FAILED(hr)) return hr;
    out->data = static_cast<const BYTE*>(data);
    out->size = data ? size : 0;
    return S_OK;
}

// The next child as a data object (references resolved); S_FALSE at the end.
HRESULT NextChild(IDirectXFileData* parent, IDirectXFileData** child) {
    *child = nullptr;
    IDirectXFileObject* object = nullptr;
    if (FAILED(parent->GetNextObject(&object))) return S_FALSE;
    HRESULT hr = object->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(child));
    if (FAILED(hr)) {
        IDirectXFileDataReference* reference = nullptr;
        hr = object->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&reference));
        if (SUCCEEDED(hr)) {
            hr = reference->Resolve(child);
            reference->Release();
        }
    }
    object->Release();
    if (FAILED(hr)) {
        *child = nullptr;
        return S_OK;  // neither kind (a binary blob): skipped by the caller
    }
    return S_OK;
}

bool TypeIs(IDirectXFileData* object, const GUID& type) {
    const GUID* guid = nullptr;
    return SUCCEEDED(object->GetType(&guid)) && guid && *guid == type;
}

// Switches the numeric locale to "C" for its lifetime.
class CLocale {
public:
    CLocale() {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        if (current && std::strcmp(current, "C") != 0) {
            saved_ = current;
            std::setlocale(LC_NUMERIC, "C");
            switched_ = true;
        }
    }
    ~CLocale() {
        if (switched_) std::setlocale(LC_NUMERIC, saved_.c_str());
    }

private:
    std::string saved_;
    bool switched_ = false;
};

struct Outputs {
    Mesh* mesh = nullptr;
    DataBuffer* adjacency = nullptr;
    DataBuffer* materials = nullptr;
    DataBuffer* effects = nullptr;
    DWORD count = 0;
    void Release() {
        SafeRelease(mesh);
        SafeRelease(adjacency);
        SafeRelease(materials);
        SafeRelease(effects);
        count = 0;
    }
};

// A string member: the packed pointer at `offset` (null when absent).
const char* StringAt(const Bytes& b, uint64_t offset) {
    if (b.size < offset + sizeof(char*)) return nullptr;
    const char* text = nullptr;
    std::memcpy(&text, b.data + offset, sizeof(text));
    return text;
}

// One parameter child of an EffectInstance; S_FALSE for other children.
HRESULT ReadEffectParameter(IDirectXFileData* object, EffectDefaultData* out) {
    const bool floats = TypeIs(object, DXFILEOBJ_EffectParamFloats);
    const bool text = TypeIs(object, DXFILEOBJ_EffectParamString);
    const bool dword = TypeIs(object, DXFILEOBJ_EffectParamDWord);
    if (!floats && !text && !dword) return S_FALSE;
    Bytes b{};
    HRESULT hr = DataOf(object, &b);
    if (FAILED(hr)) return hr;
    constexpr uint64_t kName = sizeof(char*);
    if (b.size < kName + 4) return E_FAIL;
    const char* name = StringAt(b, 0);
    out->parameterName = name ? name : "";
    if (floats) {
        const uint64_t n = b.U32(kName);
        if ((b.size - kName - 4) / 4 < n) return E_FAIL;
        out->type = EFFECT_DEFAULT_FLOATS;
        out->value.assign(b.data + kName + 4, b.data + kName + 4 + n * 4);
    } else if (text) {
        if (b.size < kName * 2) return E_FAIL;
        const char* value = StringAt(b, kName);
        if (!value) value = "";
        out->type = EFFECT_DEFAULT_STRING;
        out->value.assign(value, value + std::strlen(value) + 1);
    } else {
        out->type = EFFECT_DEFAULT_DWORD;
        out->value.assign(b.data + kName, b.data + kName + 4);
    }
    return S_OK;
}

// An EffectInstance object: its effect file and its parameter children.
HRESULT ReadEffectInstance(IDirectXFileData* object, EffectInstanceData* out) {
    Bytes b{};
    HRESULT hr = DataOf(object, &b);
    if (FAILED(hr)) return hr;
    if (b.size < sizeof(char*)) return E_FAIL;
    EffectInstanceData e;
    if (const char* file = StringAt(b, 0)) {
        e.hasEffectFile = true;
        e.effectFilename = file;
    }
    for (;;) {
        IDirectXFileData* child = nullptr;
        if (NextChild(object, &child) != S_OK) break;
        if (!child) continue;
        EffectDefaultData parameter;
        hr = ReadEffectParameter(child, &parameter);
        child->Release();
        if (FAILED(hr)) return hr;
        if (hr == S_OK) e.defaults.push_back(std::move(parameter));
    }
    *out = std::move(e);
    return S_OK;
}

// A Material object; its effect instance is the last EffectInstance child,
// else one made from the material itself.
HRESULT ReadMaterial(IDirectXFileData* object, MaterialEntry* entry, std::string* name, EffectInstanceData* effect) {
    Bytes b{};
    HRESULT hr = DataOf(object, &b);
    if (FAILED(hr)) return hr;
    if (b.size < 44) return E_FAIL;
    D3DMATERIAL9& m = entry->material;
    m.Diffuse = {b.F32(0), b.F32(4), b.F32(8), b.F32(12)};
    m.Power = b.F32(16);
    m.Specular = {b.F32(20), b.F32(24), b.F32(28), 1.0f};
    m.Emissive = {b.F32(32), b.F32(36), b.F32(40), 1.0f};
    m.Ambient = {0, 0, 0, 1.0f};
    bool hasName = false, hasEffect = false;
    for (;;) {
        IDirectXFileData* child = nullptr;
        if (NextChild(object, &child) != S_OK) break;
        if (!child) continue;
        if (TypeIs(child, TID_D3DRMTextureFilename)) {
            Bytes t{};
            hr = DataOf(child, &t);
            if (SUCCEEDED(hr) && t.size < sizeof(char*)) hr = E_FAIL;
            if (SUCCEEDED(hr)) {
                const char* text = StringAt(t, 0);
                *name = text ? text : "";
                hasName = text != nullptr;
            }
        } else if (TypeIs(child, DXFILEOBJ_EffectInstance)) {
            hr = ReadEffectInstance(child, effect);
            if (SUCCEEDED(hr)) hasEffect = true;
        }
        child->Release();
        if (FAILED(hr)) return hr;
    }
    if (!hasName) name->clear();
    entry->textureFilename = hasName ? reinterpret_cast<char*>(1) : nullptr;  // fixed up by the caller
    if (!hasEffect) *effect = DefaultEffectInstance(m, hasName ? name->c_str() : nullptr);
    return S_OK;
}

HRESULT ParseXMeshObject(IDirectXFileData* object, DWORD options, IDirect3DDevice9* device, Outputs* out) {
    CLocale locale;
    Bytes b{};
    HRESULT hr = DataOf(object, &b);
    if (FAILED(hr)) return hr;
    if (b.size < 4) return E_FAIL;
    const uint64_t nVertices = b.U32(0);
    if (b.size < nVertices * 12 + 8) return E_FAIL;
    const uint64_t nFaces = b.U32(4 + nVertices * 12);
    if (nVertices == 0 || nFaces == 0) return ERR_MESH_HAS_NO_DATA;
    if (b.size < nVertices * 12 + nFaces * 4 + 8) return E_FAIL;

    uint64_t at = 8 + nVertices * 12;
    uint64_t triangles = 0, faceIndexDwords = 0;
    for (uint64_t f = 0; f < nFaces; ++f) {
        if (b.size - at < 4) return E_FAIL;
        const uint64_t n = b.U32(at);
        if (n <= 2) return E_FAIL;
        if ((b.size - at - 4) / 4 < n) return E_FAIL;
        triangles += n - 2;
        faceIndexDwords += n + 1;
        at += 4 + n * 4;
    }
    if (at != b.size) return E_FAIL;
    // Walks the faces checked above: visit(face, its first triangle, its
    // index count, the offset of its first index); stops when visit does.
    auto forEachFace = [&](auto&& visit) {
        uint64_t pos = 8 + nVertices * 12, first = 0;
        for (uint64_t f = 0; f < nFaces; ++f) {
            const DWORD n = b.U32(pos);
            if (!visit(f, static_cast<DWORD>(first), n, pos + 4)) return false;
            first += n - 2;
            pos += 4 + uint64_t{n} * 4;
        }
        return true;
    };

    XMeshData data;
    data.vertices.resize(nVertices);
    for (DWORD v = 0; v < nVertices; ++v) {
        LoaderVertex& lv = data.vertices[v];
        for (int k = 0; k < 3; ++k) lv.position[k] = b.F32(4 + uint64_t{v} * 12 + k * 4);
        lv.representative = lv.nextDuplicate = lv.dataSource = v;
    }
    data.triangles.resize(triangles);
    const bool indicesInRange = forEachFace([&](uint64_t, DWORD firstTriangle, DWORD count, uint64_t offset) {
        const DWORD first = b.U32(offset);
        for (DWORD k = 0; k + 2 < count; ++k) {
            LoaderTriangle& t = data.triangles[firstTriangle + k];
            t.index[0] = first;
            t.index[1] = b.U32(offset + (k + 1) * 4);
            t.index[2] = b.U32(offset + (k + 2) * 4);
            for (DWORD i : t.index) {
                if (i >= nVertices) return false;
            }
        }
        return true;
    });
    if (!indicesInRange) return E_FAIL;

    bool normals = false, colors = false, uvs = false;
    DWORD fvfData = 0;
    std::vector<BYTE> fvfBytes, declBytes;
    DWORD fvfPerVertex = 0, declPerVertex = 0;
    std::vector<D3DVERTEXELEMENT9> declElements;
    std::vector<MaterialEntry> entries;
    std::vector<std::string> names;
    std::vector<EffectInstanceData> effects;
    DWORD materialCount = 0;

    for (;;) {
        IDirectXFileData* child = nullptr;
        if (NextChild(object, &child) != S_OK) break;
        if (!child) continue;
        Bytes c{};
        hr = DataOf(child, &c);
        if (FAILED(hr)) {
            child->Release();
            return hr;
        }
        if (TypeIs(child, TID_D3DRMMeshTextureCoords)) {
            if (c.size < 4 || c.U32(0) != nVertices || c.size < nVertices * 8 + 4) hr = E_FAIL;
            else {
                for (DWORD v = 0; v < nVertices; ++v) {
                    data.vertices[v].uv[0] = c.F32(4 + uint64_t{v} * 8);
                    data.vertices[v].uv[1] = c.F32(8 + uint64_t{v} * 8);
                }
                uvs = true;
            }
        } else if (TypeIs(child, TID_D3DRMMeshVertexColors)) {
            const uint64_t n = c.size >= 4 ? c.U32(0) : 0;
            if (c.size < 4 || c.size < 4 + n * 20) hr = E_FAIL;
            for (uint64_t i = 0; SUCCEEDED(hr) && i < n; ++i) {
                const DWORD index = c.U32(4 + i * 20);
                if (index >= nVertices) {
                    hr = E_FAIL;
                    break;
                }
                for (int k = 0; k < 4; ++k) {
                    // A NaN (binary files carry any bit pattern) reads as 0.
                    const float x = c.F32(8 + i * 20 + k * 4);
                    const int q = x >= 1 ? 255 : (x > 0 ? static_cast<int>(x * 255.0f + 0.5f) : 0);
                    data.vertices[index].color[k] = static_cast<float>(q) / 255.0f;
                }
            }
            if (SUCCEEDED(hr)) colors = true;
        } else if (TypeIs(child, TID_D3DRMMeshNormals)) {
            const uint64_t nNormals = c.size >= 4 ? c.U32(0) : 0;
            if (c.size < 4 || c.size < nNormals * 12 + 8 || c.U32(4 + nNormals * 12) != nFaces ||
                c.size < (nNormals * 3 + faceIndexDwords) * 4 + 8) {
                hr = E_FAIL;
            } else {
                data.normalReferences.resize(triangles * 3);
                uint64_t pos = 8 + nNormals * 12;
                forEachFace([&](uint64_t, DWORD firstTriangle, DWORD count, uint64_t) {
                    const DWORD n = c.U32(pos);
                    if (n < 3 || n != count) {
                        hr = E_FAIL;
                        return false;
                    }
                    auto normalAt = [&](DWORD k, NormalReference& ref, DWORD vertex, DWORD triangle) {
                        const DWORD index = c.U32(pos + 4 + uint64_t{k} * 4);
                        if (index >= nNormals) return false;
                        for (int a = 0; a < 3; ++a) ref.normal[a] = c.F32(4 + uint64_t{index} * 12 + a * 4);
                        ref.vertex = vertex;
                        ref.triangle = triangle;
                        ref.flags = 1;
                        return true;
                    };
                    for (DWORD k = 0; k + 2 < n && SUCCEEDED(hr); ++k) {
                        const DWORD t = firstTriangle + k;
                        const DWORD corners[3] = {0, k + 1, k + 2};
                        for (int j = 0; j < 3; ++j) {
                            if (!normalAt(corners[j], data.normalReferences[size_t{t} * 3 + j],
                                          data.triangles[t].index[j], t)) {
                                hr = E_FAIL;
                                break;
                            }
                        }
                        data.triangles[t].flags |= TRIANGLE_HAS_NORMAL_REFS;
                    }
                    if (FAILED(hr)) return false;
                    pos += 4 + uint64_t{n} * 4;
                    return true;
                });
                if (SUCCEEDED(hr)) normals = true;
            }
        } else if (TypeIs(child, DXFILEOBJ_VertexDuplicationIndices)) {
            if (c.size < nVertices * 4 + 8 || c.U32(0) != nVertices || c.U32(4) > c.U32(0)) hr = D3DERR_INVALIDCALL;
            for (DWORD v = 0; SUCCEEDED(hr) && v < nVertices; ++v) {
                const DWORD rep = c.U32(8 + uint64_t{v} * 4);
                if (rep >= nVertices) hr = E_FAIL;
                else data.vertices[v].representative = rep;
            }
            for (DWORD v = 0; SUCCEEDED(hr) && v < nVertices; ++v) {
                const DWORD rep = data.vertices[v].representative;
                if (data.vertices[rep].representative != rep) hr = D3DERR_INVALIDCALL;
            }
            if (SUCCEEDED(hr)) data.hasDuplicationIndices = true;
        } else if (TypeIs(child, DXFILEOBJ_FaceAdjacency)) {
            const uint64_t n = c.size >= 4 ? c.U32(0) : 0;
            if (c.size < 4 || n != triangles * 3) hr = D3DERR_INVALIDCALL;
            else if (c.size < 4 + n * 4) hr = E_FAIL;
            else {
                data.faceAdjacency.resize(n);
                std::memcpy(data.faceAdjacency.data(), c.data + 4, n * 4);
                data.hasFaceAdjacency = true;
            }
        } else if (TypeIs(child, TID_D3DRMMeshMaterialList)) {
            const uint64_t nMaterials = c.size >= 4 ? c.U32(0) : 0;
            const uint64_t nIndexes = c.size >= 8 ? c.U32(4) : 0;
            if (c.size < 8 || c.size < nIndexes * 4 + 8 || nIndexes > nFaces) {
                hr = E_FAIL;
            } else if (nMaterials > 0) {
                forEachFace([&](uint64_t f, DWORD firstTriangle, DWORD count, uint64_t) {
                    const DWORD material = f < nIndexes ? c.U32(8 + f * 4) : 0;
                    if (material >= nMaterials) {
                        hr = E_FAIL;
                        return false;
                    }
                    for (DWORD k = 0; k + 2 < count; ++k) {
                        LoaderTriangle& t = data.triangles[firstTriangle + k];
                        t.material = t.attribute = material;
                        t.flags |= TRIANGLE_HAS_MATERIAL;
                    }
                    return true;
                });
                // Material children in order; the records grow with the
                // children, never sized by the file's count alone.
                for (;;) {
                    IDirectXFileData* m = nullptr;
                    if (FAILED(hr) || NextChild(child, &m) != S_OK) break;
                    if (!m) continue;
                    if (TypeIs(m, TID_D3DRMMaterial)) {
                        if (entries.size() >= nMaterials) {
                            hr = D3DERR_INVALIDCALL;
                        } else {
                            entries.emplace_back();
                            names.emplace_back();
                            effects.emplace_back();
                            hr = ReadMaterial(m, &entries.back(), &names.back(), &effects.back());
                        }
                    }
                    m->Release();
                }
                if (SUCCEEDED(hr) && entries.size() < nMaterials) hr = E_FAIL;
                if (SUCCEEDED(hr)) materialCount = static_cast<DWORD>(entries.size());
            }
        } else if (TypeIs(child, DXFILEOBJ_FVFData)) {
            const uint64_t n = c.size >= 8 ? c.U32(4) : 0;
            if (c.size < 8 || c.size < 8 + n * 4) hr = E_FAIL;
            else {
                fvfData = c.U32(0);
                fvfPerVertex = static_cast<DWORD>(n * 4 / nVertices);
                fvfBytes.assign(c.data + 8, c.data + 8 + n * 4);
            }
        } else if (TypeIs(child, DXFILEOBJ_DeclData)) {
            const uint64_t nElements = c.size >= 4 ? c.U32(0) : 0;
            if (nElements < 1 || nElements > 64) hr = D3DERR_INVALIDCALL;
            else if (c.size < nElements * 16 + 8) hr = E_FAIL;
            else {
                const uint64_t n = c.U32(4 + nElements * 16);
                if (c.size < nElements * 16 + 8 + n * 4) hr = E_FAIL;
                else {
                    std::vector<D3DVERTEXELEMENT9> elements;
                    DWORD offset = 0;
                    bool usable = true;
                    for (uint64_t i = 0; i < nElements; ++i) {
                        const DWORD type = c.U32(4 + i * 16), method = c.U32(8 + i * 16);
                        const DWORD usage = c.U32(12 + i * 16), index = c.U32(16 + i * 16);
                        if (type > D3DDECLTYPE_FLOAT16_4 || method > 7 || usage > D3DDECLUSAGE_SAMPLE || index > 255 ||
                            offset > 255) {
                            usable = false;
                            break;
                        }
                        elements.push_back(D3DVERTEXELEMENT9{0, static_cast<WORD>(offset), static_cast<BYTE>(type),
                                                             static_cast<BYTE>(method), static_cast<BYTE>(usage),
                                                             static_cast<BYTE>(index)});
                        offset += DeclarationTypeSize(static_cast<BYTE>(type));
                    }
                    if (usable) {
                        if (n * 4 / nVertices < offset) hr = D3DERR_INVALIDCALL;
                        else {
                            declElements = elements;
                            declPerVertex = offset;
                            // Each vertex keeps the declaration's bytes of its own slice.
                            const uint64_t slice = n * 4 / nVertices;
                            declBytes.resize(nVertices * offset);
                            for (uint64_t v = 0; v < nVertices; ++v) {
                                std::memcpy(&declBytes[v * offset], c.data + nElements * 16 + 8 + v * slice, offset);
                            }
                        }
                    }
                }
            }
        }
        child->Release();
        if (FAILED(hr)) return hr;
    }

    if (!normals) {
        for (LoaderTriangle& t : data.triangles) {
            t.flags |= TRIANGLE_NEEDS_NORMAL;
            t.smoothingGroup = 1;
        }
    }

    // Vertex format.
    DWORD fvf = fvfPerVertex || fvfData ? fvfData : D3DFVF_XYZ;
    if (!(fvf & D3DFVF_POSITION_MASK)) fvf |= D3DFVF_XYZ;
    if (normals) fvf |= D3DFVF_NORMAL;
    if (colors) fvf |= D3DFVF_DIFFUSE;
    if (uvs) {
        const DWORD sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
        if (sets >= 8) return D3DERR_INVALIDCALL;
        fvf = (fvf & 0xFFFF) | ((fvf & 0xFFFF0000u) << 2);
        fvf = (fvf & ~D3DFVF_TEXCOUNT_MASK) | ((sets + 1) << D3DFVF_TEXCOUNT_SHIFT);
    }
    D3DVERTEXELEMENT9 elements[MAX_DECLARATION_ELEMENTS];
    hr = FvfToDeclaration(fvf, elements);
    if (FAILED(hr)) return hr;
    int length = DeclarationLength(elements);
    const DWORD fvfStride = DeclarationStride(elements);
    for (const D3DVERTEXELEMENT9& e : declElements) {
        if (FindElement(elements, e.Usage, e.UsageIndex) || length >= 64) return D3DERR_INVALIDCALL;
        elements[length] = e;
        elements[length].Offset = static_cast<WORD>(e.Offset + fvfStride);
        elements[++length] = D3DDECL_END();
    }

    // The FVFData hold the tail of a vertex of their own format; each of
    // those elements goes to the element of the same use in the mesh's
    // vertex (texture sets one up when the file's coordinates are set 0),
    // which may lie on either side of the loader's own normal, colour or set
    // 0. The bytes between are left to the loader. DeclData follow the FVF
    // part. Data that do not match their format's elements fill the tail of
    // the FVF part as they are.
    const DWORD fvfSize = GetFvfVertexSize(fvf);
    const DWORD fvfUsed = std::min(fvfSize, fvfPerVertex);
    struct Placement {
        DWORD from, to, size;
    };
    std::vector<Placement> placements;
    if (fvfUsed) {
        const DWORD own = fvfData & D3DFVF_POSITION_MASK ? fvfData : fvfData | D3DFVF_XYZ;
        D3DVERTEXELEMENT9 ownElements[MAX_DECLARATION_ELEMENTS];
        const DWORD ownSize = GetFvfVertexSize(own);
        bool placed = fvfPerVertex <= ownSize && SUCCEEDED(FvfToDeclaration(own, ownElements));
        const DWORD first = placed ? ownSize - fvfPerVertex : 0;
        for (int i = 0; placed && ownElements[i].Stream != 0xFF; ++i) {
            const D3DVERTEXELEMENT9& e = ownElements[i];
            const DWORD size = DeclarationTypeSize(e.Type);
            if (e.Offset + size <= first) continue;
            const BYTE index = static_cast<BYTE>(e.UsageIndex + (uvs && e.Usage == D3DDECLUSAGE_TEXCOORD ? 1 : 0));
            const D3DVERTEXELEMENT9* to = FindElement(elements, e.Usage, index);
            placed = e.Offset >= first && to && to->Type == e.Type && to->Offset + size <= fvfSize;
            if (placed) placements.push_back({e.Offset - first, to->Offset, size});
        }
        if (!placed) placements.assign(1, {0, fvfSize - fvfUsed, fvfUsed});
    }
    DWORD start = fvfSize;
    for (const Placement& p : placements) start = std::min(start, p.to);
    const DWORD fvfPart = fvfSize - start;
    data.extraOffset = start;
    data.extraPerVertex = fvfPart + (declElements.empty() ? 0 : declPerVertex);
    if (data.extraPerVertex) {
        data.extra.assign(nVertices * data.extraPerVertex, 0);
        for (uint64_t v = 0; v < nVertices; ++v) {
            BYTE* to = &data.extra[v * data.extraPerVertex];
            for (const Placement& p : placements) {
                std::memcpy(to + (p.to - start), &fvfBytes[v * fvfPerVertex + p.from], p.size);
            }
            if (!declElements.empty()) std::memcpy(to + fvfPart, &declBytes[v * declPerVertex], declPerVertex);
        }
        // Only the placed bytes are the data's; the others are the loader's.
        DWORD placedBytes = 0;
        for (const Placement& p : placements) placedBytes += p.size;
        if (placedBytes < fvfPart) {
            data.extraMask.assign(data.extraPerVertex, 1);
            std::fill(data.extraMask.begin(), data.extraMask.begin() + fvfPart, 0);
            for (const Placement& p : placements) {
                std::fill(data.extraMask.begin() + (p.to - start), data.extraMask.begin() + (p.to - start + p.size), 1);
            }
        }
    }

    hr = BuildMeshFromXData(data, options, elements, device, &out->adjacency, &out->mesh);
    if (FAILED(hr)) return hr;

    if (materialCount) {
        for (size_t i = 0; i < entries.size(); ++i) {
            entries[i].textureFilename = entries[i].textureFilename ? names[i].data() : nullptr;
        }
        hr = CreateMaterialBuffer(entries.data(), materialCount, &out->materials);
        if (SUCCEEDED(hr)) hr = CreateEffectInstanceBuffer(effects.data(), materialCount, &out->effects);
        if (FAILED(hr)) {
            out->Release();
            return hr;
        }
    }
    out->count = materialCount;
    return S_OK;
}

// Gives meshes read without materials the one grey material, with its
// effect instance; their faces all have attribute 0.
HRESULT UseDefaultMaterial(Outputs* out) {
    MaterialEntry grey{};
    grey.material.Diffuse = {0.5f, 0.5f, 0.5f, 0};
    grey.material.Specular = {0.5f, 0.5f, 0.5f, 0};
    DataBuffer* materials = nullptr;
    DataBuffer* effects = nullptr;
    HRESULT hr = CreateMaterialBuffer(&grey, 1, &materials);
    if (SUCCEEDED(hr)) {
        const EffectInstanceData effect = DefaultEffectInstance(grey.material, nullptr);
        hr = CreateEffectInstanceBuffer(&effect, 1, &effects);
    }
    if (FAILED(hr)) {
        SafeRelease(materials);
        return hr;
    }
    SafeRelease(out->materials);
    SafeRelease(out->effects);
    out->materials = materials;
    out->effects = effects;
    out->count = 1;
    return S_OK;
}

HRESULT LoadXDataObject(IDirectXFileData* object, Matrix* parent, DWORD options, IDirect3DDevice9* device,
                        Outputs* out, int depth) {
    if (depth > 256) return E_FAIL;  // reference cycles and absurd nesting
    if (TypeIs(object, TID_D3DRMMesh)) {
        Outputs mesh;
        HRESULT hr = ParseXMeshObject(object, options, device, &mesh);
        if (hr == ERR_MESH_HAS_NO_DATA) return S_OK;
        if (FAILED(hr)) return hr;
        MeshCore* core = mesh.mesh->Core();
        const D3DVERTEXELEMENT9* position = FindElement(core->Elements(), D3DDECLUSAGE_POSITION, 0);
        const D3DVERTEXELEMENT9* normal = FindElement(core->Elements(), D3DDECLUSAGE_NORMAL, 0);
        BYTE* v = nullptr;
        hr = mesh.mesh->LockVertices(D3DLOCK_NOSYSLOCK, reinterpret_cast<void**>(&v));
        if (FAILED(hr)) {
            mesh.Release();
            return hr;
        }
        const DWORD stride = core->GetVertexStride();
        for (DWORD i = 0; i < core->GetVertexCount(); ++i) {
            BYTE* vertex = v + size_t{i} * stride;
            Vector3 p;
            if (position) {
                std::memcpy(&p, vertex + position->Offset, 12);
                TransformPoint3(&p, &p, parent);
                std::memcpy(vertex + position->Offset, &p, 12);
            }
            if (normal && normal->Type == D3DDECLTYPE_FLOAT3) {
                std::memcpy(&p, vertex + normal->Offset, 12);
                TransformNormal3(&p, &p, parent);
                NormalizeVector3(&p, &p);
                std::memcpy(vertex + normal->Offset, &p, 12);
            }
        }
        mesh.mesh->UnlockVertices();
        if (!out->mesh) {
            *out = mesh;
            return S_OK;
        }
        // A side without materials still has faces (attribute 0): joined to
        // a side with materials it takes the grey material as its own entry,
        // else its faces would draw with the other side's first material or
        // carry an attribute that names no material at all.
        if ((out->count == 0) != (mesh.count == 0)) hr = UseDefaultMaterial(out->count == 0 ? out : &mesh);
        if (FAILED(hr)) {
            mesh.Release();
            return hr;
        }
        Outputs merged;
        hr = MergeMeshes(out->mesh, static_cast<const DWORD*>(out->adjacency->GetDataPointer()), out->materials,
                         out->effects, out->count, mesh.mesh,
                         static_cast<const DWORD*>(mesh.adjacency->GetDataPointer()), mesh.materials, mesh.effects,
                         mesh.count, device, &merged.adjacency, &merged.materials, &merged.effects, &merged.count,
                         &merged.mesh);
        mesh.Release();
        if (FAILED(hr)) return hr;
        out->Release();
        *out = merged;
        return S_OK;
    }
    if (TypeIs(object, TID_D3DRMFrameTransformMatrix)) {
        Bytes b{};
        HRESULT hr = DataOf(object, &b);
        if (FAILED(hr)) return hr;
        if (b.size < 64) return E_FAIL;
        Matrix frame;
        std::memcpy(&frame, b.data, 64);
        MultiplyMatrices(parent, &frame, parent);
        return S_OK;
    }
    if (TypeIs(object, TID_D3DRMFrame)) {
        Matrix local = *parent;
        for (;;) {
            IDirectXFileData* child = nullptr;
            if (NextChild(object, &child) != S_OK) break;
            if (!child) continue;
            HRESULT hr = LoadXDataObject(child, &local, options, device, out, depth + 1);
            child->Release();
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    if (static_cast<HRESULT>(error) <= 0) return static_cast<HRESULT>(error ? error : E_FAIL);
    return static_cast<HRESULT>((error & 0xFFFF) | 0x80070000u);
}

HRESULT Load(void* source, DXFILELOADOPTIONS how, DWORD options, IDirect3DDevice9* device, DataBuffer** adjacency,
             DataBuffer** materials, DataBuffer** effectInstances, DWORD* materialCount, Mesh** mesh) {
    if (adjacency) *adjacency = nullptr;
    if (materials) *materials = nullptr;
    if (effectInstances) *effectInstances = nullptr;
    if (!mesh || !source) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if (!device || (options & ~OPT_VALID_BITS)) return D3DERR_INVALIDCALL;

    HMODULE module = GetModuleHandleA("xfile.dll");
    if (!module) module = LoadLibraryA("xfile.dll");
    if (!module) return LastErrorResult();
    using CreateEntry = HRESULT (*)(LPDIRECTXFILE*);
    auto create = reinterpret_cast<CreateEntry>(GetProcAddress(module, "DirectXFileCreate"));
    if (!create) return LastErrorResult();
    IDirectXFile* file = nullptr;
    HRESULT hr = create(&file);
    if (FAILED(hr)) return hr;
    hr = file->RegisterTemplates(const_cast<char*>(XTEMPLATES_STANDARD), XTEMPLATES_STANDARD_BYTES);
    if (SUCCEEDED(hr)) hr = file->RegisterTemplates(const_cast<char*>(XTEMPLATES_SKIN_EFFECT), XTEMPLATES_SKIN_EFFECT_BYTES);
    if (SUCCEEDED(hr)) hr = file->RegisterTemplates(const_cast<char*>(XTEMPLATES_EXTENDED), XTEMPLATES_EXTENDED_BYTES);
    IDirectXFileEnumObject* enumerator = nullptr;
    if (SUCCEEDED(hr)) hr = file->CreateEnumObject(source, how, &enumerator);
    Outputs out;
    while (SUCCEEDED(hr)) {
        IDirectXFileData* object = nullptr;
        if (FAILED(enumerator->GetNextDataObject(&object))) break;
        Matrix identity{};
        identity.m[0][0] = identity.m[1][1] = identity.m[2][2] = identity.m[3][3] = 1.0f;
        hr = LoadXDataObject(object, &identity, options, device, &out, 0);
        object->Release();
    }
    if (SUCCEEDED(hr) && !out.mesh) hr = E_FAIL;
    if (SUCCEEDED(hr) && out.count == 0) hr = UseDefaultMaterial(&out);
    SafeRelease(enumerator);
    SafeRelease(file);
    if (FAILED(hr)) {
        out.Release();
        return hr;
    }
    *mesh = out.mesh;
    if (adjacency) *adjacency = out.adjacency;
    else SafeRelease(out.adjacency);
    if (materials) *materials = out.materials;
    else SafeRelease(out.materials);
    if (effectInstances) *effectInstances = out.effects;
    else SafeRelease(out.effects);
    if (materialCount) *materialCount = out.count;
    return S_OK;
}

}  // namespace

HRESULT LoadMeshFromXFile(const char* fileName, DWORD options, IDirect3DDevice9* device, DataBuffer** adjacency,
                          DataBuffer** materials, DataBuffer** effectInstances, DWORD* materialCount, Mesh** mesh) {
    return Load(const_cast<char*>(fileName), DXFILELOAD_FROMFILE, options, device, adjacency, materials,
                effectInstances, materialCount, mesh);
}

HRESULT LoadMeshFromXMemory(const void* bytes, DWORD size, DWORD options, IDirect3DDevice9* device,
                            DataBuffer** adjacency, DataBuffer** materials, DataBuffer** effectInstances,
                            DWORD* materialCount, Mesh** mesh) {
    if (!bytes) {
        if (mesh) *mesh = nullptr;
        return D3DERR_INVALIDCALL;
    }
    DXFILELOADMEMORY memory{const_cast<void*>(bytes), size};
    return Load(&memory, DXFILELOAD_FROMMEMORY, options, device, adjacency, materials, effectInstances, materialCount,
                mesh);
}
