#include "platform/d3d9/buffers.h"

#include <atomic>
#include <new>

#include "platform/d3d9/debug_report.h"
#include "platform/d3d9/device.h"

namespace {
constexpr DWORD kBufferLockFlags =
    D3DLOCK_READONLY | D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK | D3DLOCK_DONOTWAIT;
std::atomic<uint64_t> nextBufferId{1};
}  // namespace

HRESULT BufferStore::Allocate(const BufferSetup& setup) {
    setup_ = setup;
    id_ = nextBufferId.fetch_add(1, std::memory_order_relaxed);
    changes_ = 1;
    writing_ = false;
    bytes_ = AllocateZeroed(setup.length);
    return bytes_ ? D3D_OK : E_OUTOFMEMORY;
}

HRESULT BufferStore::Lock(const char* method, UINT offset, UINT size, void** data, DWORD flags) {
    if (!data) return InvalidCall(method, "null output");
    *data = nullptr;
    if (flags & ~kBufferLockFlags) return InvalidCall(method, "unknown or unsupported lock flags");
    const bool dynamic = setup_.usage & D3DUSAGE_DYNAMIC;
    if ((flags & (D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE)) && !dynamic)
        return InvalidCall(method, "DISCARD and NOOVERWRITE need a dynamic buffer");
    if ((flags & D3DLOCK_READONLY) && (flags & (D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE)))
        return InvalidCall(method, "READONLY with DISCARD or NOOVERWRITE");
    // Size 0 locks from the offset to the end.
    if (offset > setup_.length || (size != 0 && size > setup_.length - offset))
        return InvalidCall(method, "range outside the buffer");
    if (offset == setup_.length && size == 0 && offset != 0) return InvalidCall(method, "range outside the buffer");
    ++locks_;
    if (!(flags & D3DLOCK_READONLY)) writing_ = true, ++changes_;
    *data = bytes_.get() + offset;
    return D3D_OK;
}

HRESULT BufferStore::Unlock(const char* method) {
    if (locks_ == 0) return InvalidCall(method, "buffer is not locked");
    // The count the writing lock opened with stands for its writes.
    if (--locks_ == 0) writing_ = false;
    return D3D_OK;
}

template <class Kind>
HRESULT Buffer<Kind>::Create(Device* device, const BufferSetup& setup, Buffer** out) {
    BufferStore store;
    HRESULT hr = store.Allocate(setup);
    if (FAILED(hr)) return hr;
    Buffer* buffer = new (std::nothrow) Buffer(device);
    if (!buffer) return E_OUTOFMEMORY;
    buffer->store_ = std::move(store);
    *out = buffer;
    return D3D_OK;
}

template <class Kind>
HRESULT Buffer<Kind>::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 || riid == Kind::kIid) {
        AddRef();
        *object = static_cast<typename Kind::Interface*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

template <class Kind>
DWORD Buffer<Kind>::SetPriority(DWORD priority) {
    if (store_.Setup().pool != D3DPOOL_MANAGED) return 0;
    const DWORD previous = managed_.priority;
    managed_.priority = priority;
    return previous;
}

template <class Kind>
HRESULT Buffer<Kind>::GetDesc(typename Kind::Desc* desc) {
    if (!desc) return InvalidCall(Kind::kGetDesc, "null output");
    Kind::FillDesc(store_.Setup(), desc);
    return D3D_OK;
}

void VertexBufferKind::FillDesc(const BufferSetup& s, Desc* desc) {
    desc->Format = D3DFMT_VERTEXDATA;
    desc->Type = D3DRTYPE_VERTEXBUFFER;
    desc->Usage = s.usage;
    desc->Pool = s.pool;
    desc->Size = s.length;
    desc->FVF = s.fvf;
}

void IndexBufferKind::FillDesc(const BufferSetup& s, Desc* desc) {
    desc->Format = s.format;
    desc->Type = D3DRTYPE_INDEXBUFFER;
    desc->Usage = s.usage;
    desc->Pool = s.pool;
    desc->Size = s.length;
}

template class Buffer<VertexBufferKind>;
template class Buffer<IndexBufferKind>;
