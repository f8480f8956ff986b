#include "geometry/mesh_build.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>

#include "geometry/mesh_core.h"

HRESULT CreateMaterialBuffer(const MaterialEntry* entries, DWORD count, DataBuffer** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (count == 0) return S_OK;
    if (!entries) return D3DERR_INVALIDCALL;
    size_t bytes = size_t{count} * sizeof(MaterialEntry);
    for (DWORD i = 0; i < count; ++i) {
        if (entries[i].textureFilename) bytes += std::strlen(entries[i].textureFilename) + 1;
    }
    if (bytes > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    HRESULT hr = CreateDataBuffer(static_cast<DWORD>(bytes), out);
    if (FAILED(hr)) return hr;
    BYTE* base = static_cast<BYTE*>((*out)->GetDataPointer());
    MaterialEntry* to = reinterpret_cast<MaterialEntry*>(base);
    char* strings = reinterpret_cast<char*>(base + size_t{count} * sizeof(MaterialEntry));
    for (DWORD i = 0; i < count; ++i) {
        to[i].material = entries[i].material;
        to[i].textureFilename = nullptr;
        if (entries[i].textureFilename) {
            const size_t n = std::strlen(entries[i].textureFilename) + 1;
            std::memcpy(strings, entries[i].textureFilename, n);
            to[i].textureFilename = strings;
            strings += n;
        }
    }
    return S_OK;
}

DWORD ColorToArgb(const float rgba[4]) {
    auto byte = [](float x) -> DWORD {
        if (!(x > 0)) return 0;  // NaN too
        if (x > 1) return 255;
        return static_cast<DWORD>(x * 255.0f + 0.5f);
    };
    return (byte(rgba[3]) << 24) | (byte(rgba[0]) << 16) | (byte(rgba[1]) << 8) | byte(rgba[2]);
}

namespace {

void Normalize(float v[3]) {
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0) {
        v[0] /= length;
        v[1] /= length;
        v[2] /= length;
    }
}

bool SameNormal(const float a[3], const float b[3]) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

void GenerateNormals(XMeshData& data) {
    auto& v = data.vertices;
    for (const LoaderTriangle& t : data.triangles) {
        if (!(t.flags & TRIANGLE_NEEDS_NORMAL) || t.index[0] == DROPPED_VERTEX) continue;
        const float* p0 = v[t.index[0]].position;
        const float* p1 = v[t.index[1]].position;
        const float* p2 = v[t.index[2]].position;
        const float a[3] = {p0[0] - p1[0], p0[1] - p1[1], p0[2] - p1[2]};
        const float b[3] = {p0[0] - p2[0], p0[1] - p2[1], p0[2] - p2[2]};
        float n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        Normalize(n);
        for (DWORD corner : t.index) {
            LoaderVertex& lv = v[corner];
            if (lv.useCount == 0) {
                std::memcpy(lv.normal, n, sizeof(n));
                lv.useCount = 1;
            } else {
                for (int k = 0; k < 3; ++k) lv.normal[k] += n[k];
                ++lv.useCount;
            }
        }
    }
    for (LoaderVertex& lv : v) {
        if (lv.useCount > 1) Normalize(lv.normal);
    }
}

// A vertex and a normal, as the key of the copy made for that normal.
struct CopyKey {
    DWORD vertex;
    uint32_t normal[3];
    bool operator==(const CopyKey& o) const {
        return vertex == o.vertex && normal[0] == o.normal[0] && normal[1] == o.normal[1] && normal[2] == o.normal[2];
    }
};
struct CopyKeyHash {
    size_t operator()(const CopyKey& k) const {
        uint64_t h = k.vertex * 0x9E3779B97F4A7C15ull;
        for (uint32_t n : k.normal) h = (h ^ n) * 0xC2B2AE3D27D4EB4Full;
        return static_cast<size_t>(h ^ (h >> 31));
    }
};

// Equal normals (as floats: -0 is 0) give equal keys; false for a normal
// with a NaN, which equals nothing and so never shares a copy.
bool KeyOf(DWORD vertex, const float normal[3], CopyKey& key) {
    key.vertex = vertex;
    for (int k = 0; k < 3; ++k) {
        if (normal[k] != normal[k]) return false;
        const float n = normal[k] == 0.0f ? 0.0f : normal[k];
        std::memcpy(&key.normal[k], &n, 4);
    }
    return true;
}

void ApplyNormalReferences(XMeshData& data) {
    // The copies made so far by vertex and normal: a vertex shared by many
    // corners with many normals finds its copy without walking the list.
    // Lists the caller linked beforehand are walked instead.
    std::unordered_map<CopyKey, DWORD, CopyKeyHash> copies;
    bool ownLists = true;
    for (size_t i = 0; i < data.vertices.size() && ownLists; ++i) ownLists = data.vertices[i].nextDuplicate == i;
    for (const NormalReference& ref : data.normalReferences) {
        if (ref.triangle >= data.triangles.size()) continue;
        LoaderTriangle& t = data.triangles[ref.triangle];
        if (!(t.flags & TRIANGLE_HAS_NORMAL_REFS) || t.index[0] == DROPPED_VERTEX) continue;
        for (DWORD& corner : t.index) {
            if (corner != ref.vertex) continue;
            LoaderVertex& lv = data.vertices[corner];
            if (lv.useCount == 0) {
                std::memcpy(lv.normal, ref.normal, sizeof(ref.normal));
                lv.useCount = 1;
                break;
            }
            if (SameNormal(lv.normal, ref.normal)) break;
            // The copy with this normal, else a new one linked into the
            // vertex's list of copies.
            CopyKey key;
            const bool keyed = ownLists && KeyOf(corner, ref.normal, key);
            DWORD found = DROPPED_VERTEX;
            if (keyed) {
                auto known = copies.find(key);
                if (known != copies.end()) found = known->second;
            } else if (!ownLists) {
                // A list that never leads back to `corner` ends after as
                // many steps as there are vertices.
                DWORD u = lv.nextDuplicate;
                for (size_t steps = data.vertices.size(); u != corner && steps > 0; --steps) {
                    if (SameNormal(data.vertices[u].normal, ref.normal)) {
                        found = u;
                        break;
                    }
                    u = data.vertices[u].nextDuplicate;
                }
            }
            if (found == DROPPED_VERTEX) {
                LoaderVertex copy = data.vertices[corner];
                std::memcpy(copy.normal, ref.normal, sizeof(ref.normal));
                found = static_cast<DWORD>(data.vertices.size());
                copy.nextDuplicate = data.vertices[corner].nextDuplicate;
                data.vertices.push_back(copy);
                data.vertices[corner].nextDuplicate = found;
                if (keyed) copies.emplace(key, found);
            }
            corner = found;
            break;
        }
    }
}

}  // namespace

HRESULT BuildMeshFromXData(XMeshData& data, DWORD options, const D3DVERTEXELEMENT9* elements,
                           IDirect3DDevice9* device, DataBuffer** adjacency, Mesh** out) {
    if (adjacency) *adjacency = nullptr;
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!device || DeclarationLength(elements) < 0) return D3DERR_INVALIDCALL;
    const D3DVERTEXELEMENT9* positionElement = FindElement(elements, D3DDECLUSAGE_POSITION, 0);
    const D3DVERTEXELEMENT9* normalElement = FindElement(elements, D3DDECLUSAGE_NORMAL, 0);
    const D3DVERTEXELEMENT9* colorElement = FindElement(elements, D3DDECLUSAGE_COLOR, 0);
    const D3DVERTEXELEMENT9* uvElement = FindElement(elements, D3DDECLUSAGE_TEXCOORD, 0);

    for (size_t i = 0; i < data.vertices.size(); ++i) {
        if (data.vertices[i].nextDuplicate >= data.vertices.size()) data.vertices[i].nextDuplicate = static_cast<DWORD>(i);
    }
    // Normals are gathered at the corners' vertices: every corner of a kept
    // triangle must name one.
    for (const LoaderTriangle& t : data.triangles) {
        if (t.index[0] == DROPPED_VERTEX) continue;
        for (DWORD corner : t.index) {
            if (corner >= data.vertices.size()) return D3DERR_INVALIDCALL;
        }
    }
    if (normalElement) GenerateNormals(data);
    ApplyNormalReferences(data);

    if (data.triangles.size() > 0xFFFE || data.vertices.size() > 0xFFFE) options |= OPT_32BIT_INDICES;
    if (data.vertices.size() > 0xFFFFFFFEu || data.triangles.size() > 0x15555554u) return E_OUTOFMEMORY;

    DWORD kept = 0;
    for (LoaderTriangle& t : data.triangles) {
        if (t.index[0] == DROPPED_VERTEX) continue;
        if (t.index[0] == t.index[1] || t.index[1] == t.index[2] || t.index[0] == t.index[2]) {
            t.index[0] = t.index[1] = t.index[2] = DROPPED_VERTEX;
            continue;
        }
        ++kept;
    }
    const DWORD vertexCount = static_cast<DWORD>(data.vertices.size());
    if (kept == 0 || vertexCount == 0) return ERR_MESH_HAS_NO_DATA;

    Mesh* mesh = nullptr;
    HRESULT hr = CreateMesh(kept, vertexCount, options, elements, device, &mesh);
    if (FAILED(hr)) return hr;
    MeshCore* core = mesh->Core();
    const DWORD stride = core->GetVertexStride();

    // Straight into the new buffers, which start zero-filled.
    BYTE* vertices = nullptr;
    hr = mesh->LockVertices(0, reinterpret_cast<void**>(&vertices));
    if (FAILED(hr)) {
        mesh->Release();
        return hr;
    }
    for (DWORD i = 0; i < vertexCount; ++i) {
        BYTE* to = vertices + size_t{i} * stride;
        const LoaderVertex& lv = data.vertices[i];
        if (positionElement && positionElement->Type == D3DDECLTYPE_FLOAT3) {
            std::memcpy(to + positionElement->Offset, lv.position, 12);
        }
        if (normalElement && normalElement->Type == D3DDECLTYPE_FLOAT3) std::memcpy(to + normalElement->Offset, lv.normal, 12);
        if (colorElement && colorElement->Type == D3DDECLTYPE_D3DCOLOR) {
            const DWORD argb = ColorToArgb(lv.color);
            std::memcpy(to + colorElement->Offset, &argb, 4);
        }
        if (uvElement && uvElement->Type == D3DDECLTYPE_FLOAT2) std::memcpy(to + uvElement->Offset, lv.uv, 8);
        if (data.extraPerVertex && lv.dataSource < vertexCount && data.extraOffset < stride) {
            const size_t from = size_t{lv.dataSource} * data.extraPerVertex;
            const size_t n = std::min<size_t>(data.extraPerVertex, stride - data.extraOffset);
            if (from + n <= data.extra.size()) {
                if (data.extraMask.size() < n) {
                    std::memcpy(to + data.extraOffset, &data.extra[from], n);
                } else {
                    for (size_t b = 0; b < n; ++b) {
                        if (data.extraMask[b]) to[data.extraOffset + b] = data.extra[from + b];
                    }
                }
            }
        }
    }
    mesh->UnlockVertices();

    void* indexBytes = nullptr;
    hr = mesh->LockIndices(0, &indexBytes);
    if (FAILED(hr)) {
        mesh->Release();
        return hr;
    }
    std::vector<DWORD>& attributes = core->Attributes();
    const bool wide = core->Wide();
    DWORD face = 0;
    for (const LoaderTriangle& t : data.triangles) {
        if (t.index[0] == DROPPED_VERTEX) continue;
        if (wide) {
            std::memcpy(static_cast<DWORD*>(indexBytes) + size_t{face} * 3, t.index, 12);
        } else {
            WORD* w = static_cast<WORD*>(indexBytes) + size_t{face} * 3;
            for (int k = 0; k < 3; ++k) w[k] = static_cast<WORD>(t.index[k]);
        }
        attributes[face++] = (t.flags & TRIANGLE_HAS_MATERIAL) ? t.material : 0;
    }
    mesh->UnlockIndices();

    // The adjacency is built in the output buffer itself when one is wanted.
    DataBuffer* adjacencyBuffer = nullptr;
    std::vector<DWORD> localAdjacency;
    DWORD* adjacencyArray = nullptr;
    if (SUCCEEDED(hr) && adjacency) {
        hr = CreateDataBuffer(kept * 12, &adjacencyBuffer);
        if (SUCCEEDED(hr)) {
            adjacencyArray = static_cast<DWORD*>(adjacencyBuffer->GetDataPointer());
            std::fill(adjacencyArray, adjacencyArray + size_t{kept} * 3, NO_ADJACENT_FACE);
        }
    } else if (SUCCEEDED(hr)) {
        localAdjacency.assign(size_t{kept} * 3, NO_ADJACENT_FACE);
        adjacencyArray = localAdjacency.data();
    }
    if (SUCCEEDED(hr)) {
        if (data.hasFaceAdjacency && data.faceAdjacency.size() == data.triangles.size() * 3) {
            std::vector<DWORD> renumber(data.triangles.size(), NO_ADJACENT_FACE);
            DWORD n = 0;
            for (size_t i = 0; i < data.triangles.size(); ++i) {
                if (data.triangles[i].index[0] != DROPPED_VERTEX) renumber[i] = n++;
            }
            for (size_t i = 0; i < data.triangles.size(); ++i) {
                if (renumber[i] == NO_ADJACENT_FACE) continue;
                for (int k = 0; k < 3; ++k) {
                    const DWORD g = data.faceAdjacency[i * 3 + k];
                    adjacencyArray[size_t{renumber[i]} * 3 + k] = g < renumber.size() ? renumber[g] : NO_ADJACENT_FACE;
                }
            }
        } else if (data.hasDuplicationIndices) {
            std::vector<DWORD> reps(vertexCount);
            for (DWORD i = 0; i < vertexCount; ++i) {
                reps[i] = data.vertices[i].representative < vertexCount ? data.vertices[i].representative : i;
            }
            hr = mesh->AdjacencyFromPointReps(reps.data(), adjacencyArray);
        } else {
            hr = mesh->BuildAdjacency(0.0f, adjacencyArray);
        }
    }
    if (SUCCEEDED(hr)) {
        // Write-only buffers, which callers may ask for, are no bar to this.
        hr = core->OptimizeBuiltMesh(OPTIMIZE_ATTRIBUTE_SORT | OPTIMIZE_IGNORE_VERTICES | OPTIMIZE_DO_NOT_SPLIT,
                                     adjacencyArray, adjacencyArray);
    }
    if (FAILED(hr)) {
        SafeRelease(adjacencyBuffer);
        mesh->Release();
        return hr;
    }
    if (adjacency) *adjacency = adjacencyBuffer;
    *out = mesh;
    return S_OK;
}

DWORD UnionFvf(DWORD a, DWORD b) {
    auto weights = [](DWORD fvf) -> DWORD {
        const DWORD p = fvf & D3DFVF_POSITION_MASK;
        return p >= D3DFVF_XYZB1 && p <= D3DFVF_XYZB5 ? (p - 4) / 2 : 0;
    };
    const DWORD w = std::max(weights(a), weights(b));
    DWORD fvf = w ? 2 * w + 4 : D3DFVF_XYZ;
    fvf |= (a | b) & (D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR);
    const DWORD sets = std::max((a & D3DFVF_TEXCOUNT_MASK) >> 8, (b & D3DFVF_TEXCOUNT_MASK) >> 8);
    return fvf | (sets << 8);
}

namespace {

HRESULT MergedDeclaration(MeshCore* a, MeshCore* b, D3DVERTEXELEMENT9* out) {
    if (a->GetVertexFormat() && b->GetVertexFormat()) {
        return FvfToDeclaration(UnionFvf(a->GetVertexFormat(), b->GetVertexFormat()), out);
    }
    const int la = DeclarationLength(a->Elements());
    const int lb = DeclarationLength(b->Elements());
    std::memcpy(out, a->Elements(), sizeof(D3DVERTEXELEMENT9) * static_cast<size_t>(la + 1));
    if (la == lb && std::memcmp(a->Elements(), b->Elements(), sizeof(D3DVERTEXELEMENT9) * static_cast<size_t>(la)) == 0) {
        return S_OK;
    }
    int n = la;
    WORD offset = static_cast<WORD>(DeclarationStride(out));
    for (int i = 0; i < lb; ++i) {
        const D3DVERTEXELEMENT9& e = b->Elements()[i];
        if (FindElement(out, e.Usage, e.UsageIndex)) continue;
        if (n >= static_cast<int>(MAXD3DDECLLENGTH)) return D3DERR_INVALIDCALL;
        out[n] = e;
        out[n].Offset = offset;
        offset = static_cast<WORD>(offset + DeclarationTypeSize(e.Type));
        out[++n] = D3DDECL_END();
    }
    return S_OK;
}

// The mesh itself (with a reference) when it matches, else a clone.
HRESULT Matching(MeshCore* mesh, DWORD options, const D3DVERTEXELEMENT9* elements, IDirect3DDevice9* device,
                 Mesh** out) {
    const int l = DeclarationLength(elements);
    if (mesh->GetCreationOptions() == options && DeclarationLength(mesh->Elements()) == l &&
        std::memcmp(mesh->Elements(), elements, sizeof(D3DVERTEXELEMENT9) * static_cast<size_t>(l)) == 0) {
        mesh->AddRef();
        *out = mesh;
        return S_OK;
    }
    return mesh->CloneWithDeclaration(options, elements, device, out);
}

// The joined lists have an entry per material, padded where a buffer holds
// fewer, and go out in one buffer whose size is a DWORD: counts past that
// are refused before the list is built.
bool ListFits(DWORD countA, DWORD countB, size_t entrySize) {
    return (uint64_t{countA} + countB) * entrySize <= 0xFFFFFFFFu;
}

HRESULT MergeMaterials(DataBuffer* a, DWORD countA, DataBuffer* b, DWORD countB, DataBuffer** out) {
    if (!ListFits(countA, countB, sizeof(MaterialEntry))) return E_OUTOFMEMORY;
    std::vector<MaterialEntry> entries;
    auto take = [&](DataBuffer* buffer, DWORD count) {
        if (!buffer) {
            entries.resize(entries.size() + count, MaterialEntry{});
            return;
        }
        const DWORD fits = std::min<DWORD>(count, buffer->GetDataSize() / sizeof(MaterialEntry));
        const MaterialEntry* e = static_cast<const MaterialEntry*>(buffer->GetDataPointer());
        entries.insert(entries.end(), e, e + fits);
        entries.resize(entries.size() + (count - fits), MaterialEntry{});
    };
    take(a, countA);
    take(b, countB);
    return CreateMaterialBuffer(entries.data(), static_cast<DWORD>(entries.size()), out);
}

HRESULT MergeEffects(DataBuffer* a, DWORD countA, DataBuffer* b, DWORD countB, DataBuffer** out) {
    *out = nullptr;
    if (!a && !b) return S_OK;
    // A side with neither instances nor materials adds nothing: the other
    // buffer serves as it is.
    if (!a && countA == 0) {
        b->AddRef();
        *out = b;
        return S_OK;
    }
    if (!b && countB == 0) {
        a->AddRef();
        *out = a;
        return S_OK;
    }
    if (!ListFits(countA, countB, sizeof(EffectInstance))) return E_OUTOFMEMORY;
    std::vector<EffectInstanceData> all = ReadEffectInstances(a, countA);
    std::vector<EffectInstanceData> more = ReadEffectInstances(b, countB);
    all.insert(all.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    return CreateEffectInstanceBuffer(all.data(), static_cast<DWORD>(all.size()), out);
}

}  // namespace

HRESULT MergeMeshes(Mesh* first, const DWORD* firstAdjacency, DataBuffer* firstMaterials, DataBuffer* firstEffects,
                    DWORD firstCount, Mesh* second, const DWORD* secondAdjacency, DataBuffer* secondMaterials,
                    DataBuffer* secondEffects, DWORD secondCount, IDirect3DDevice9* device, DataBuffer** adjacency,
                    DataBuffer** materials, DataBuffer** effects, DWORD* count, Mesh** out) {
    if (adjacency) *adjacency = nullptr;
    if (materials) *materials = nullptr;
    if (effects) *effects = nullptr;
    if (out) *out = nullptr;
    if (!first || !second || !out || !device) return ERR_INVALID_DATA;
    MeshCore* a = first->Core();
    MeshCore* b = second->Core();
    const uint64_t faces = uint64_t{a->GetFaceCount()} + b->GetFaceCount();
    const uint64_t vertices = uint64_t{a->GetVertexCount()} + b->GetVertexCount();
    if (faces > 0x15555554u || vertices > 0xFFFFFFFEu) return E_OUTOFMEMORY;
    if (uint64_t{firstCount} + secondCount > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    // The merged mesh has a vertex buffer of its own.
    DWORD options = a->GetCreationOptions() & ~OPT_SHARE_VERTEX_BUFFER;
    if (faces > 0xFFFE || vertices > 0xFFFE || b->Wide()) options |= OPT_32BIT_INDICES;
    D3DVERTEXELEMENT9 elements[MAX_DECLARATION_ELEMENTS];
    HRESULT hr = MergedDeclaration(a, b, elements);
    if (FAILED(hr)) return hr;

    Mesh* ca = nullptr;
    Mesh* cb = nullptr;
    Mesh* merged = nullptr;
    DataBuffer* mergedMaterials = nullptr;
    DataBuffer* mergedEffects = nullptr;
    DataBuffer* mergedAdjacency = nullptr;
    hr = Matching(a, options, elements, device, &ca);
    if (SUCCEEDED(hr)) hr = Matching(b, options, elements, device, &cb);
    if (SUCCEEDED(hr)) {
        hr = CreateMesh(static_cast<DWORD>(faces), static_cast<DWORD>(vertices), options, elements, device, &merged);
    }
    if (SUCCEEDED(hr)) {
        MeshCore* m = merged->Core();
        MeshCore* pa = ca->Core();
        MeshCore* pb = cb->Core();
        std::vector<DWORD> ia, ib;
        std::vector<BYTE> va, vb;
        hr = pa->ReadIndices(ia);
        if (SUCCEEDED(hr)) hr = pb->ReadIndices(ib);
        if (SUCCEEDED(hr)) hr = pa->ReadVertices(va);
        if (SUCCEEDED(hr)) hr = pb->ReadVertices(vb);
        if (SUCCEEDED(hr)) {
            const DWORD v1 = pa->GetVertexCount();
            for (DWORD& i : ib) {
                if (i != UNUSED_INDEX32) i += v1;
            }
            ia.insert(ia.end(), ib.begin(), ib.end());
            va.insert(va.end(), vb.begin(), vb.end());
            hr = m->WriteIndices(ia);
            if (SUCCEEDED(hr)) hr = m->WriteVertices(va);
        }
        if (SUCCEEDED(hr)) {
            std::vector<DWORD>& attributes = m->Attributes();
            const DWORD f1 = pa->GetFaceCount();
            for (DWORD f = 0; f < f1; ++f) attributes[f] = pa->Attributes()[f];
            for (DWORD f = 0; f < pb->GetFaceCount(); ++f) attributes[f1 + f] = pb->Attributes()[f] + firstCount;
            if (adjacency) {
                hr = CreateDataBuffer(static_cast<DWORD>(faces * 12), &mergedAdjacency);
                if (SUCCEEDED(hr)) {
                    DWORD* adj = static_cast<DWORD*>(mergedAdjacency->GetDataPointer());
                    for (DWORD i = 0; i < f1 * 3; ++i) adj[i] = firstAdjacency ? firstAdjacency[i] : NO_ADJACENT_FACE;
                    for (DWORD i = 0; i < pb->GetFaceCount() * 3; ++i) {
                        const DWORD g = secondAdjacency ? secondAdjacency[i] : NO_ADJACENT_FACE;
                        adj[f1 * 3 + i] = g == NO_ADJACENT_FACE ? g : g + f1;
                    }
                }
            }
        }
    }
    if (SUCCEEDED(hr) && materials) hr = MergeMaterials(firstMaterials, firstCount, secondMaterials, secondCount, &mergedMaterials);
    if (SUCCEEDED(hr) && effects) hr = MergeEffects(firstEffects, firstCount, secondEffects, secondCount, &mergedEffects);
    SafeRelease(ca);
    SafeRelease(cb);
    if (FAILED(hr)) {
        SafeRelease(merged);
        SafeRelease(mergedAdjacency);
        SafeRelease(mergedMaterials);
        SafeRelease(mergedEffects);
        return hr;
    }
    *out = merged;
    if (adjacency) *adjacency = mergedAdjacency;
    if (materials) *materials = mergedMaterials;
    if (effects) *effects = mergedEffects;
    if (count) *count = firstCount + secondCount;
    return S_OK;
}
