#include "geometry/data_buffer.h"

#include <cstdlib>
#include <new>

#include "platform/d3d9/d3d9.h"
#include "platform/xfile/large_blocks.h"

namespace {

class Blob final : public ComObject<DataBuffer> {
public:
    Blob(void* bytes, DWORD size) : bytes_(bytes), size_(size) {}
    ~Blob() override {
        if (size_ >= xfile::kLargeBlock) xfile::FreeLargeBlock(bytes_, size_);
        else std::free(bytes_);
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_DataBuffer) {
            *object = static_cast<DataBuffer*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    void* GetDataPointer() override { return bytes_; }
    DWORD GetDataSize() override { return size_; }

private:
    void* bytes_;
    DWORD size_;
};

}  // namespace

HRESULT CreateDataBuffer(DWORD size, DataBuffer** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    // One byte at least, so that an empty buffer still has a valid pointer.
    // Large results (adjacency, remaps of big meshes) get their own mapping.
    void* bytes = nullptr;
    if (size >= xfile::kLargeBlock) {
        try {
            bytes = xfile::AllocateLargeBlock(size);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    } else {
        bytes = std::malloc(size ? size : 1);
        if (!bytes) return E_OUTOFMEMORY;
    }
    Blob* blob = new (std::nothrow) Blob(bytes, size);
    if (!blob) {
        if (size >= xfile::kLargeBlock) xfile::FreeLargeBlock(bytes, size);
        else std::free(bytes);
        return E_OUTOFMEMORY;
    }
    *out = blob;
    return S_OK;
}
