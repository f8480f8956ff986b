#include "geometry/data_buffer.h"

#include <cstdlib>
#include <new>

#include "platform/d3d9/d3d9.h"

namespace {

class Blob final : public ComObject<DataBuffer> {
public:
    Blob(void* bytes, DWORD size) : bytes_(bytes), size_(size) {}
    ~Blob() override { std::free(bytes_); }

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
    void* bytes = std::malloc(size ? size : 1);
    if (!bytes) return E_OUTOFMEMORY;
    Blob* blob = new (std::nothrow) Blob(bytes, size);
    if (!blob) {
        std::free(bytes);
        return E_OUTOFMEMORY;
    }
    *out = blob;
    return S_OK;
}
