#include "platform/d3d9/device_child.h"

#include "platform/d3d9/debug_report.h"
#include "platform/d3d9/device.h"

DeviceChild::DeviceChild(Device* device, bool holdsDevice) : device_(device), refs_(holdsDevice ? 1 : 0) {
    if (holdsDevice) device_->AddRef();
}

ULONG DeviceChild::ChildAddRef() {
    if (refs_++ == 0) device_->AddRef();
    return refs_;
}

ULONG DeviceChild::ChildRelease(const char* what) {
    if (refs_ == 0) {
        // Released more often than referenced: say so rather than free twice.
        ReportFailure(S_OK, what, "Release without a reference");
        return 0;
    }
    const ULONG left = --refs_;
    if (left == 0) {
        Device* device = device_;
        // A draw still held back may read this object's memory.
        device->FlushDrawing();
        if (binds_ == 0) delete this;
        device->Release();  // may destroy the device, which unbinds what it holds
    }
    return left;
}

void DeviceChild::Unbind() {
    if (binds_ > 0 && --binds_ == 0 && refs_ == 0) {
        device_->FlushDrawing();
        delete this;
    }
}

HRESULT DeviceChild::ChildGetDevice(IDirect3DDevice9** device) {
    if (!device) return InvalidCall("GetDevice", "null output");
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}
