#include "geometry/mesh.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "geometry/mesh_core.h"
#include "platform/win32/module.h"
#include "platform/win32/registry.h"

// ---------------------------------------------------------------------------
// Device debug muting around declaration creation: the device reports a
// refused declaration on its debug output, which the mesh treats as normal.

namespace {

using DebugSetMuteEntry = BOOL (*)(BOOL);

struct MuteEntries {
    DebugSetMuteEntry entries[2] = {nullptr, nullptr};
    bool doNotMute = false;
};

const MuteEntries& Mutes() {
    static const MuteEntries mutes = [] {
        MuteEntries m;
        const char* modules[2] = {"d3d9.dll", "d3d9d.dll"};
        for (int i = 0; i < 2; ++i) {
            if (HMODULE module = GetModuleHandleA(modules[i])) {
                m.entries[i] = reinterpret_cast<DebugSetMuteEntry>(GetProcAddress(module, "DebugSetMute"));
            }
        }
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Direct3D", 0, KEY_READ, &key) == 0) {
            DWORD value = 0, type = 0, size = sizeof(value);
            if (RegQueryValueExA(key, "DebugDoNotMute", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) == 0 &&
                type == REG_DWORD && value != 0) {
                m.doNotMute = true;
            }
            RegCloseKey(key);
        }
        return m;
    }();
    return mutes;
}

}  // namespace

void MuteDeviceDebug(bool mute) {
    const MuteEntries& m = Mutes();
    if (m.doNotMute) return;
    for (DebugSetMuteEntry entry : m.entries) {
        if (entry) entry(mute ? TRUE : FALSE);
    }
}

// ---------------------------------------------------------------------------

namespace {

DWORD BufferUsage(DWORD options) {
    DWORD usage = 0;
    if (options & OPT_DONOTCLIP) usage |= D3DUSAGE_DONOTCLIP;
    if (options & OPT_POINTS) usage |= D3DUSAGE_POINTS;
    if (options & OPT_RTPATCHES) usage |= D3DUSAGE_RTPATCHES;
    if (options & OPT_NPATCHES) usage |= D3DUSAGE_NPATCHES;
    return usage;
}

constexpr DWORD kMaxFaces16 = 65534;

}  // namespace

MeshCore::MeshCore(IDirect3DDevice9* device, IDirect3D9* d3d, DWORD options)
    : device_(device), d3d_(d3d), options_(options) {
    device_->AddRef();
    if (d3d_) d3d_->AddRef();
    vbPool_ = (options & OPT_VB_SYSTEMMEM)  ? D3DPOOL_SYSTEMMEM
              : (options & OPT_VB_MANAGED) ? D3DPOOL_MANAGED
                                           : D3DPOOL_DEFAULT;
    ibPool_ = (options & OPT_IB_SYSTEMMEM)  ? D3DPOOL_SYSTEMMEM
              : (options & OPT_IB_MANAGED) ? D3DPOOL_MANAGED
                                           : D3DPOOL_DEFAULT;
    vbUsage_ = BufferUsage(options);
    if (options & OPT_VB_WRITEONLY) vbUsage_ |= D3DUSAGE_WRITEONLY;
    if (options & OPT_VB_DYNAMIC) vbUsage_ |= D3DUSAGE_DYNAMIC;
    if (options & OPT_VB_SOFTWAREPROCESSING) vbUsage_ |= D3DUSAGE_SOFTWAREPROCESSING;
    ibUsage_ = BufferUsage(options);
    if (options & OPT_IB_WRITEONLY) ibUsage_ |= D3DUSAGE_WRITEONLY;
    if (options & OPT_IB_DYNAMIC) ibUsage_ |= D3DUSAGE_DYNAMIC;
    if (options & OPT_IB_SOFTWAREPROCESSING) ibUsage_ |= D3DUSAGE_SOFTWAREPROCESSING;
}

MeshCore::~MeshCore() {
    SafeRelease(declaration_);
    SafeRelease(vb_);
    SafeRelease(ib_);
    SafeRelease(d3d_);
    SafeRelease(device_);
}

HRESULT MeshCore::Init(DWORD faces, DWORD vertices, const D3DVERTEXELEMENT9* elements) {
    const int length = DeclarationLength(elements);
    std::memcpy(elements_, elements, sizeof(D3DVERTEXELEMENT9) * static_cast<size_t>(length + 1));
    fvf_ = FvfFromDeclaration(elements_);
    stride_ = DeclarationStride(elements_);
    faceCount_ = faces;
    vertexCount_ = vertices;
    return AllocateStorage();
}

HRESULT MeshCore::AllocateStorage() {
    if (!declaration_) {
        MuteDeviceDebug(true);
        if (FAILED(device_->CreateVertexDeclaration(elements_, &declaration_))) declaration_ = nullptr;
        MuteDeviceDebug(false);
    }
    if (!Wide() && (faceCount_ > kMaxFaces16 || vertexCount_ > kMaxFaces16)) return D3DERR_INVALIDCALL;

    if (faceCapacity_ < faceCount_) {
        const UINT indexSize = Wide() ? 4 : 2;
        const uint64_t bytes = uint64_t{faceCount_} * 3 * indexSize;
        if (bytes > 0xFFFFFFFFull) return E_OUTOFMEMORY;
        std::vector<DWORD> grown;
        try {
            grown.assign(faceCount_, 0);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        IDirect3DIndexBuffer9* buffer = nullptr;
        HRESULT hr = device_->CreateIndexBuffer(static_cast<UINT>(bytes), ibUsage_,
                                                Wide() ? D3DFMT_INDEX32 : D3DFMT_INDEX16, ibPool_, &buffer, nullptr);
        if (FAILED(hr)) return hr;
        BYTE* to = nullptr;
        hr = buffer->Lock(0, 0, reinterpret_cast<void**>(&to), D3DLOCK_NOSYSLOCK);
        if (FAILED(hr)) {
            buffer->Release();
            return hr;
        }
        const size_t kept = size_t{faceCapacity_} * 3 * indexSize;
        if (ib_ && kept) {
            BYTE* from = nullptr;
            hr = ib_->Lock(0, 0, reinterpret_cast<void**>(&from), D3DLOCK_NOSYSLOCK);
            if (FAILED(hr)) {
                buffer->Unlock();
                buffer->Release();
                return hr;
            }
            std::memcpy(to, from, kept);
            ib_->Unlock();
        }
        std::memset(to + (ib_ ? kept : 0), 0, static_cast<size_t>(bytes) - (ib_ ? kept : 0));
        buffer->Unlock();
        SafeRelease(ib_);
        ib_ = buffer;
        std::copy(attributes_.begin(), attributes_.end(), grown.begin());
        attributes_.swap(grown);
        faceCapacity_ = faceCount_;
    }

    if (vertexCapacity_ < vertexCount_ && !sharedVb_) {
        const uint64_t bytes = uint64_t{vertexCount_} * stride_;
        if (bytes > 0xFFFFFFFFull || bytes == 0) return bytes ? E_OUTOFMEMORY : D3DERR_INVALIDCALL;
        IDirect3DVertexBuffer9* buffer = nullptr;
        HRESULT hr = device_->CreateVertexBuffer(static_cast<UINT>(bytes), vbUsage_, fvf_, vbPool_, &buffer, nullptr);
        if (FAILED(hr)) return hr;
        BYTE* to = nullptr;
        hr = buffer->Lock(0, 0, reinterpret_cast<void**>(&to), D3DLOCK_NOSYSLOCK);
        if (FAILED(hr)) {
            buffer->Release();
            return hr;
        }
        const size_t kept = vb_ ? size_t{vertexCapacity_} * stride_ : 0;
        if (kept) {
            BYTE* from = nullptr;
            hr = vb_->Lock(0, 0, reinterpret_cast<void**>(&from), D3DLOCK_NOSYSLOCK);
            if (FAILED(hr)) {
                buffer->Unlock();
                buffer->Release();
                return hr;
            }
            std::memcpy(to, from, kept);
            vb_->Unlock();
        }
        std::memset(to + kept, 0, static_cast<size_t>(bytes) - kept);
        buffer->Unlock();
        SafeRelease(vb_);
        vb_ = buffer;
        vertexCapacity_ = vertexCount_;
    }

    if (Wide()) {
        D3DCAPS9 caps{};
        if (SUCCEEDED(device_->GetDeviceCaps(&caps))) {
            perFace_ = caps.MaxVertexIndex < 0x10000 || caps.MaxVertexIndex < vertexCapacity_ ||
                       caps.MaxPrimitiveCount < faceCapacity_;
        }
    }
    return S_OK;
}

HRESULT MeshCore::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_Mesh) {
        *object = static_cast<Mesh*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// ---------------------------------------------------------------------------
// Drawing

HRESULT MeshCore::DrawAttributeGroup(DWORD attribId) {
    if (!vb_) return S_OK;
    if (perFace_) return DrawPerFace(attribId);
    device_->SetVertexDeclaration(declaration_);
    device_->SetStreamSource(0, vb_, 0, stride_);
    device_->SetIndices(ib_);
    if (tableValid_) {
        const AttributeRange* entry = nullptr;
        if (attribId < table_.size() && table_[attribId].AttribId == attribId) {
            entry = &table_[attribId];
        } else {
            for (const AttributeRange& r : table_) {
                if (r.AttribId == attribId) {
                    entry = &r;
                    break;
                }
            }
        }
        if (!entry || entry->FaceCount == 0) return S_OK;
        return device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, entry->VertexStart, entry->VertexCount,
                                             entry->FaceStart * 3, entry->FaceCount);
    }
    HRESULT result = S_OK;
    DWORD f = 0;
    while (f < faceCount_) {
        if (attributes_[f] != attribId) {
            ++f;
            continue;
        }
        DWORD end = f + 1;
        while (end < faceCount_ && attributes_[end] == attribId) ++end;
        result = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount_, f * 3, end - f);
        if (Wide() && FAILED(result)) return result;
        f = end;
    }
    return result;
}

HRESULT MeshCore::DrawPerFace(DWORD attribId) {
    device_->SetVertexDeclaration(declaration_);
    BYTE* vertices = nullptr;
    HRESULT hr = vb_->Lock(0, 0, reinterpret_cast<void**>(&vertices), D3DLOCK_READONLY);
    if (FAILED(hr)) return hr;
    const DWORD* indices = nullptr;
    hr = ib_->Lock(0, 0, reinterpret_cast<void**>(const_cast<DWORD**>(&indices)), D3DLOCK_READONLY);
    if (FAILED(hr)) {
        vb_->Unlock();
        return hr;
    }
    DWORD first = 0, last = faceCount_;
    bool scan = true;
    if (tableValid_) {
        scan = false;
        last = 0;
        for (const AttributeRange& r : table_) {
            if (r.AttribId == attribId) {
                first = r.FaceStart;
                last = std::min(faceCount_, r.FaceStart + r.FaceCount);
                break;
            }
        }
    }
    std::vector<BYTE> triangle(size_t{stride_} * 3);
    hr = S_OK;
    for (DWORD f = first; f < last && SUCCEEDED(hr); ++f) {
        if (scan && attributes_[f] != attribId) continue;
        bool inRange = true;
        for (int k = 0; k < 3; ++k) {
            const DWORD v = indices[f * 3 + k];
            if (v >= vertexCount_) {
                inRange = false;
                break;
            }
            std::memcpy(&triangle[size_t{stride_} * k], vertices + size_t{v} * stride_, stride_);
        }
        if (!inRange) continue;
        hr = device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle.data(), stride_);
    }
    ib_->Unlock();
    vb_->Unlock();
    return hr;
}

// ---------------------------------------------------------------------------
// Plain accessors

HRESULT MeshCore::CopyDeclaration(D3DVERTEXELEMENT9* elements) {
    if (!elements) return D3DERR_INVALIDCALL;
    std::memcpy(elements, elements_, sizeof(elements_));
    return S_OK;
}

HRESULT MeshCore::GetOwningDevice(IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = device_;
    device_->AddRef();
    return S_OK;
}

HRESULT MeshCore::GetVertexBufferObject(IDirect3DVertexBuffer9** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = vb_;
    if (vb_) vb_->AddRef();
    return S_OK;
}

HRESULT MeshCore::GetIndexBufferObject(IDirect3DIndexBuffer9** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = ib_;
    if (ib_) ib_->AddRef();
    return S_OK;
}

HRESULT MeshCore::LockVertices(DWORD flags, void** data) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (!vb_) return D3DERR_INVALIDCALL;
    return vb_->Lock(0, 0, data, flags | D3DLOCK_NOSYSLOCK);
}

HRESULT MeshCore::UnlockVertices() { return vb_ ? vb_->Unlock() : D3DERR_INVALIDCALL; }

HRESULT MeshCore::LockIndices(DWORD flags, void** data) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (!ib_) return D3DERR_INVALIDCALL;
    return ib_->Lock(0, 0, data, flags | D3DLOCK_NOSYSLOCK);
}

HRESULT MeshCore::UnlockIndices() { return ib_ ? ib_->Unlock() : D3DERR_INVALIDCALL; }

HRESULT MeshCore::CopyAttributeTable(AttributeRange* table, DWORD* count) {
    const DWORD n = tableValid_ ? static_cast<DWORD>(table_.size()) : 0;
    if (count) *count = n;
    if (table && n) std::memcpy(table, table_.data(), n * sizeof(AttributeRange));
    return S_OK;
}

HRESULT MeshCore::LockAttributes(DWORD flags, DWORD** data) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = attributes_.data();
    if (!(flags & D3DLOCK_READONLY)) {
        tableValid_ = false;
        table_.clear();
    }
    return S_OK;
}

HRESULT MeshCore::ReplaceAttributeTable(const AttributeRange* table, DWORD count) {
    if (count == 0) {
        if (table) return D3DERR_INVALIDCALL;
        table_.clear();
        tableValid_ = false;
        return S_OK;
    }
    if (!table) return D3DERR_INVALIDCALL;
    try {
        table_.assign(table, table + count);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    tableValid_ = true;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Whole-buffer reads and writes

HRESULT MeshCore::ReadIndices(std::vector<DWORD>& out) {
    out.assign(size_t{faceCount_} * 3, 0);
    if (!faceCount_) return S_OK;
    void* p = nullptr;
    HRESULT hr = ib_->Lock(0, 0, &p, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK);
    if (FAILED(hr)) return hr;
    if (Wide()) {
        std::memcpy(out.data(), p, out.size() * 4);
    } else {
        const WORD* w = static_cast<const WORD*>(p);
        for (size_t i = 0; i < out.size(); ++i) out[i] = w[i] == UNUSED_INDEX16 ? UNUSED_INDEX32 : w[i];
    }
    ib_->Unlock();
    return S_OK;
}

HRESULT MeshCore::ViewIndices(IndexView& view) {
    view.Close();
    view.copy_.clear();
    view.data_ = nullptr;
    if (!Wide() || !faceCount_) {
        HRESULT hr = ReadIndices(view.copy_);
        view.data_ = view.copy_.data();
        return hr;
    }
    void* p = nullptr;
    HRESULT hr = ib_->Lock(0, 0, &p, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK);
    if (FAILED(hr)) return hr;
    view.locked_ = ib_;
    view.data_ = static_cast<const DWORD*>(p);
    return S_OK;
}

HRESULT MeshCore::WriteIndices(const std::vector<DWORD>& indices) {
    if (!faceCount_) return S_OK;
    void* p = nullptr;
    HRESULT hr = ib_->Lock(0, 0, &p, D3DLOCK_NOSYSLOCK);
    if (FAILED(hr)) return hr;
    const size_t n = size_t{faceCount_} * 3;
    if (Wide()) {
        std::memcpy(p, indices.data(), n * 4);
    } else {
        WORD* w = static_cast<WORD*>(p);
        for (size_t i = 0; i < n; ++i) w[i] = static_cast<WORD>(indices[i]);
    }
    ib_->Unlock();
    return S_OK;
}

HRESULT MeshCore::ReadVertices(std::vector<BYTE>& out) {
    out.assign(size_t{vertexCount_} * stride_, 0);
    if (!vertexCount_ || !vb_) return S_OK;
    void* p = nullptr;
    HRESULT hr = vb_->Lock(0, 0, &p, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK);
    if (FAILED(hr)) return hr;
    std::memcpy(out.data(), p, out.size());
    vb_->Unlock();
    return S_OK;
}

HRESULT MeshCore::WriteVertices(const std::vector<BYTE>& bytes) {
    if (bytes.empty() || !vb_) return S_OK;
    void* p = nullptr;
    HRESULT hr = vb_->Lock(0, 0, &p, D3DLOCK_NOSYSLOCK);
    if (FAILED(hr)) return hr;
    std::memcpy(p, bytes.data(), std::min(bytes.size(), size_t{vertexCapacity_} * stride_));
    vb_->Unlock();
    return S_OK;
}

HRESULT MeshCore::ShareVertexBuffer(MeshCore* source) {
    SafeRelease(vb_);
    vb_ = source->vb_;
    if (vb_) vb_->AddRef();
    sharedVb_ = true;
    vertexCount_ = source->vertexCount_;
    vertexCapacity_ = source->vertexCapacity_;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Creation

namespace {

HRESULT NewMesh(DWORD faces, DWORD vertices, DWORD options, const D3DVERTEXELEMENT9* elements,
                IDirect3DDevice9* device, MeshCore** out, bool allocate = true) {
    *out = nullptr;
    IDirect3D9* d3d = nullptr;
    device->GetDirect3D(&d3d);
    MeshCore* mesh = new (std::nothrow) MeshCore(device, d3d, options);
    if (d3d) d3d->Release();
    if (!mesh) return E_OUTOFMEMORY;
    HRESULT hr = allocate ? mesh->Init(faces, vertices, elements) : S_OK;
    if (FAILED(hr)) {
        mesh->Release();
        return hr;
    }
    *out = mesh;
    return S_OK;
}

}  // namespace

HRESULT CreateMesh(DWORD faces, DWORD vertices, DWORD options, const D3DVERTEXELEMENT9* elements,
                   IDirect3DDevice9* device, Mesh** out) {
    if (out) *out = nullptr;
    if ((options & ~OPT_VALID_BITS) || !device || !out || DeclarationLength(elements) < 0 || faces == 0 ||
        vertices == 0) {
        return D3DERR_INVALIDCALL;
    }
    if (!(options & OPT_32BIT_INDICES) && (faces > 65535 || vertices > 65535)) return D3DERR_INVALIDCALL;
    MeshCore* mesh = nullptr;
    HRESULT hr = NewMesh(faces, vertices, options, elements, device, &mesh);
    if (SUCCEEDED(hr)) *out = mesh;
    return hr;
}

HRESULT CreateMeshFvf(DWORD faces, DWORD vertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                      Mesh** out) {
    if (out) *out = nullptr;
    D3DVERTEXELEMENT9 elements[MAX_DECLARATION_ELEMENTS];
    HRESULT hr = FvfToDeclaration(fvf, elements);
    if (FAILED(hr)) return hr;
    return CreateMesh(faces, vertices, options, elements, device, out);
}

// ---------------------------------------------------------------------------
// Clone and change of layout

HRESULT MeshCore::CloneWithFvf(DWORD options, DWORD fvf, IDirect3DDevice9* device, Mesh** out) {
    if (out) *out = nullptr;
    D3DVERTEXELEMENT9 elements[MAX_DECLARATION_ELEMENTS];
    HRESULT hr = FvfToDeclaration(fvf, elements);
    if (FAILED(hr)) return hr;
    return CloneWithDeclaration(options, elements, device, out);
}

HRESULT MeshCore::CloneWithDeclaration(DWORD options, const D3DVERTEXELEMENT9* elements, IDirect3DDevice9* device,
                                       Mesh** out) {
    if (out) *out = nullptr;
    // Creation takes no sharing bit, but a clone may ask to share.
    if (!out || !device || (options & ~(OPT_VALID_BITS | OPT_SHARE_VERTEX_BUFFER))) return D3DERR_INVALIDCALL;
    if (!elements) elements = elements_;
    const int length = DeclarationLength(elements);
    if (length < 0) return D3DERR_INVALIDCALL;
    const bool sameLayout = length == DeclarationLength(elements_) &&
                            std::memcmp(elements, elements_, sizeof(D3DVERTEXELEMENT9) * static_cast<size_t>(length)) == 0;
    const bool share = (options & OPT_SHARE_VERTEX_BUFFER) && sameLayout && device == device_;
    // A clone of another layout or device has vertices of its own.
    if (!share) options &= ~OPT_SHARE_VERTEX_BUFFER;

    std::vector<DWORD> indices;
    std::vector<BYTE> vertices;
    HRESULT hr = ReadIndices(indices);
    if (SUCCEEDED(hr) && !share) hr = ReadVertices(vertices);
    if (FAILED(hr)) return hr;

    MeshCore* clone = nullptr;
    if (share) {
        hr = NewMesh(0, 0, options, elements, device, &clone, false);
        if (FAILED(hr)) return hr;
        clone->ShareVertexBuffer(this);
        hr = clone->Init(faceCount_, vertexCount_, elements);
    } else {
        hr = NewMesh(faceCount_, vertexCount_, options, elements, device, &clone);
        if (FAILED(hr)) return hr;
    }
    if (SUCCEEDED(hr)) {
        if (!clone->Wide()) {
            for (DWORD& i : indices) {
                if (i == UNUSED_INDEX32) i = UNUSED_INDEX16;
            }
        }
        hr = clone->WriteIndices(indices);
    }
    if (SUCCEEDED(hr) && !share) {
        if (sameLayout) {
            hr = clone->WriteVertices(vertices);
        } else {
            std::vector<BYTE> converted(size_t{vertexCount_} * clone->stride_);
            ConvertVertices(converted.data(), clone->elements_, clone->stride_, vertices.data(), elements_, stride_,
                            vertexCount_, true);
            hr = clone->WriteVertices(converted);
        }
    }
    if (FAILED(hr)) {
        clone->Release();
        return hr;
    }
    std::copy(attributes_.begin(), attributes_.begin() + faceCount_, clone->attributes_.begin());
    clone->table_ = table_;
    clone->tableValid_ = tableValid_;
    *out = clone;
    return S_OK;
}

HRESULT MeshCore::ChangeDeclaration(const D3DVERTEXELEMENT9* elements) {
    const int length = DeclarationLength(elements);
    if (length < 0) return D3DERR_INVALIDCALL;
    if (sharedVb_) return D3DERR_INVALIDCALL;
    std::vector<BYTE> vertices;
    HRESULT hr = ReadVertices(vertices);
    if (FAILED(hr)) return hr;
    D3DVERTEXELEMENT9 oldElements[MAX_DECLARATION_ELEMENTS];
    std::memcpy(oldElements, elements_, sizeof(elements_));
    const DWORD oldStride = stride_;
    const DWORD oldFvf = fvf_;
    IDirect3DVertexBuffer9* oldVb = vb_;
    IDirect3DVertexDeclaration9* oldDeclaration = declaration_;
    const DWORD oldCapacity = vertexCapacity_;

    std::memcpy(elements_, elements, sizeof(D3DVERTEXELEMENT9) * static_cast<size_t>(length + 1));
    fvf_ = FvfFromDeclaration(elements_);
    stride_ = DeclarationStride(elements_);
    vb_ = nullptr;
    declaration_ = nullptr;
    vertexCapacity_ = 0;
    hr = AllocateStorage();
    if (SUCCEEDED(hr)) {
        std::vector<BYTE> converted(size_t{vertexCount_} * stride_);
        ConvertVertices(converted.data(), elements_, stride_, vertices.data(), oldElements, oldStride, vertexCount_,
                        true);
        hr = WriteVertices(converted);
    }
    if (FAILED(hr)) {
        SafeRelease(vb_);
        SafeRelease(declaration_);
        std::memcpy(elements_, oldElements, sizeof(elements_));
        stride_ = oldStride;
        fvf_ = oldFvf;
        vb_ = oldVb;
        declaration_ = oldDeclaration;
        vertexCapacity_ = oldCapacity;
        return hr;
    }
    SafeRelease(oldVb);
    SafeRelease(oldDeclaration);
    return S_OK;
}
