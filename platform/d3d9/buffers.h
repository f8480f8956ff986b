// Vertex and index buffers: a block of memory with lock counting.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/device_child.h"
#include "platform/d3d9/format_layout.h"

struct BufferSetup {
    UINT length = 0;
    DWORD usage = 0;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    D3DFORMAT format = D3DFMT_VERTEXDATA;  // INDEX16 or INDEX32 for index buffers
    DWORD fvf = 0;                         // vertex buffers only
};

// The storage and locking both kinds share. Buffers may be locked again
// while locked; each Lock needs its Unlock.
class BufferStore {
public:
    HRESULT Allocate(const BufferSetup& setup);
    HRESULT Lock(const char* method, UINT offset, UINT size, void** data, DWORD flags);
    HRESULT Unlock(const char* method);
    const BufferSetup& Setup() const { return setup_; }
    const BYTE* Bytes() const { return bytes_.get(); }
    UINT LockCount() const { return locks_; }
    // Never reused by another buffer, so the renderer can keep what it
    // learnt from the bytes under (Id, Changes).
    uint64_t Id() const { return id_; }
    // Moves on whenever the bytes may have changed. 0 while a lock that can
    // write is open: the bytes may change at any time then.
    uint64_t Changes() const { return writing_ ? 0 : changes_; }

private:
    BufferSetup setup_;
    ZeroedBytes bytes_;
    UINT locks_ = 0;
    uint64_t id_ = 0;
    uint64_t changes_ = 1;
    bool writing_ = false;  // some open lock can write
};

// What tells the two kinds apart: their interface, description and names.
struct VertexBufferKind {
    using Interface = IDirect3DVertexBuffer9;
    using Desc = D3DVERTEXBUFFER_DESC;
    static constexpr D3DRESOURCETYPE kType = D3DRTYPE_VERTEXBUFFER;
    static constexpr const IID& kIid = IID_IDirect3DVertexBuffer9;
    static constexpr const char* kRelease = "IDirect3DVertexBuffer9::Release";
    static constexpr const char* kLock = "IDirect3DVertexBuffer9::Lock";
    static constexpr const char* kUnlock = "IDirect3DVertexBuffer9::Unlock";
    static constexpr const char* kGetDesc = "IDirect3DVertexBuffer9::GetDesc";
    static void FillDesc(const BufferSetup& setup, Desc* desc);
};

struct IndexBufferKind {
    using Interface = IDirect3DIndexBuffer9;
    using Desc = D3DINDEXBUFFER_DESC;
    static constexpr D3DRESOURCETYPE kType = D3DRTYPE_INDEXBUFFER;
    static constexpr const IID& kIid = IID_IDirect3DIndexBuffer9;
    static constexpr const char* kRelease = "IDirect3DIndexBuffer9::Release";
    static constexpr const char* kLock = "IDirect3DIndexBuffer9::Lock";
    static constexpr const char* kUnlock = "IDirect3DIndexBuffer9::Unlock";
    static constexpr const char* kGetDesc = "IDirect3DIndexBuffer9::GetDesc";
    static void FillDesc(const BufferSetup& setup, Desc* desc);
};

template <class Kind>
class Buffer final : public Kind::Interface, public DeviceChild {
public:
    static HRESULT Create(Device* device, const BufferSetup& setup, Buffer** out);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ChildAddRef(); }
    ULONG Release() override { return ChildRelease(Kind::kRelease); }
    HRESULT GetDevice(IDirect3DDevice9** device) override { return ChildGetDevice(device); }
    DWORD SetPriority(DWORD priority) override;
    DWORD GetPriority() override { return managed_.priority; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return Kind::kType; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return store_.Lock(Kind::kLock, offset, size, data, flags);
    }
    HRESULT Unlock() override { return store_.Unlock(Kind::kUnlock); }
    HRESULT GetDesc(typename Kind::Desc* desc) override;

    const BufferStore& Store() const { return store_; }

private:
    explicit Buffer(Device* device) : DeviceChild(device) {}
    BufferStore store_;
    ManagedSettings managed_;
};

using VertexBuffer = Buffer<VertexBufferKind>;
using IndexBuffer = Buffer<IndexBufferKind>;
extern template class Buffer<VertexBufferKind>;
extern template class Buffer<IndexBufferKind>;
