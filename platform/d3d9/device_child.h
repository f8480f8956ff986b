// Reference counting of the objects a device creates. An object keeps its
// device alive while anyone outside holds it; the device keeps what it has
// bound (textures, buffers, declaration) alive while bound. An object goes
// when both its references and its bindings are gone.
#pragma once

#include "platform/d3d9/d3d9.h"

class Device;

class DeviceChild {
public:
    Device* OwnerDevice() const { return device_; }
    void Bind() { ++binds_; }
    void Unbind();

protected:
    // holdsDevice false: an object counted with its container instead
    // (a level of a texture), which never uses these counts.
    explicit DeviceChild(Device* device, bool holdsDevice = true);
    virtual ~DeviceChild() = default;
    DeviceChild(const DeviceChild&) = delete;
    DeviceChild& operator=(const DeviceChild&) = delete;

    ULONG ChildAddRef();
    ULONG ChildRelease(const char* what);
    HRESULT ChildGetDevice(IDirect3DDevice9** device);

private:
    Device* device_;
    ULONG refs_;
    ULONG binds_ = 0;
};

// Holds `next` (may be null) in a binding slot in place of what was there.
template <class T>
void Rebind(T*& slot, T* next) {
    if (next) next->Bind();
    T* previous = slot;
    slot = next;
    if (previous) previous->Unbind();
}

// Priority and level-of-detail bookkeeping: only managed resources have them.
struct ManagedSettings {
    DWORD priority = 0;
    DWORD lod = 0;
};
