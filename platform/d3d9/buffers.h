// Vertex and index buffers: a block of memory with lock counting.
#pragma once

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

private:
    BufferSetup setup_;
    ZeroedBytes bytes_;
    UINT locks_ = 0;
};

class VertexBuffer final : public IDirect3DVertexBuffer9, public DeviceChild {
public:
    static HRESULT Create(Device* device, const BufferSetup& setup, VertexBuffer** out);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ChildAddRef(); }
    ULONG Release() override { return ChildRelease("IDirect3DVertexBuffer9::Release"); }
    HRESULT GetDevice(IDirect3DDevice9** device) override { return ChildGetDevice(device); }
    DWORD SetPriority(DWORD priority) override;
    DWORD GetPriority() override { return managed_.priority; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return store_.Lock("IDirect3DVertexBuffer9::Lock", offset, size, data, flags);
    }
    HRESULT Unlock() override { return store_.Unlock("IDirect3DVertexBuffer9::Unlock"); }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    const BufferStore& Store() const { return store_; }

private:
    explicit VertexBuffer(Device* device) : DeviceChild(device) {}
    BufferStore store_;
    ManagedSettings managed_;
};

class IndexBuffer final : public IDirect3DIndexBuffer9, public DeviceChild {
public:
    static HRESULT Create(Device* device, const BufferSetup& setup, IndexBuffer** out);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ChildAddRef(); }
    ULONG Release() override { return ChildRelease("IDirect3DIndexBuffer9::Release"); }
    HRESULT GetDevice(IDirect3DDevice9** device) override { return ChildGetDevice(device); }
    DWORD SetPriority(DWORD priority) override;
    DWORD GetPriority() override { return managed_.priority; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return store_.Lock("IDirect3DIndexBuffer9::Lock", offset, size, data, flags);
    }
    HRESULT Unlock() override { return store_.Unlock("IDirect3DIndexBuffer9::Unlock"); }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;

    const BufferStore& Store() const { return store_; }

private:
    explicit IndexBuffer(Device* device) : DeviceChild(device) {}
    BufferStore store_;
    ManagedSettings managed_;
};
