// IDirect3D9: the one adapter, its formats and caps, and device creation;
// the entry points of the built-in module "d3d9.dll".
#include <new>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/debug_report.h"
#include "platform/d3d9/device.h"
#include "platform/win32/module.h"

namespace {

class Direct3D9 final : public ComObject<IDirect3D9> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDirect3D9) {
            AddRef();
            *object = static_cast<IDirect3D9*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    UINT GetAdapterCount() override { return 1; }

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override {
        static const char* method = "IDirect3D9::GetAdapterDisplayMode";
        if (!mode) return InvalidCall(method, "null output");
        if (adapter != 0) return InvalidCall(method, "no such adapter");
        *mode = D3DDISPLAYMODE{kAdapterWidth, kAdapterHeight, kAdapterRefreshRate, kAdapterFormat};
        return D3D_OK;
    }

    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override {
        static const char* method = "IDirect3D9::CheckDeviceType";
        HRESULT hr = CheckAdapter(method, adapter, type);
        if (FAILED(hr)) return hr;
        if (!windowed) return D3DERR_NOTAVAILABLE;
        if (!IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
        if (backBufferFormat != D3DFMT_UNKNOWN && !IsBackBufferFormat(backBufferFormat)) return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }

    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override {
        static const char* method = "IDirect3D9::CheckDeviceFormat";
        HRESULT hr = CheckAdapter(method, adapter, type);
        if (FAILED(hr)) return hr;
        hr = CheckResourceFormat(adapterFormat, usage, resourceType, checkFormat);
        if (hr == D3DERR_INVALIDCALL) return InvalidCall(method, "unknown resource type");
        return hr;
    }

    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override {
        static const char* method = "IDirect3D9::GetDeviceCaps";
        if (!caps) return InvalidCall(method, "null output");
        HRESULT hr = CheckAdapter(method, adapter, type);
        if (FAILED(hr)) return hr;
        FillDeviceCaps(caps);
        return D3D_OK;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override {
        static const char* method = "IDirect3D9::CreateDevice";
        if (device) *device = nullptr;
        HRESULT hr = CheckAdapter(method, adapter, type);
        if (FAILED(hr)) return hr;
        return Device::Create(this, focusWindow, behaviorFlags, parameters, device);
    }

private:
    // One adapter, with the software device behind the HAL type only.
    static HRESULT CheckAdapter(const char* method, UINT adapter, D3DDEVTYPE type) {
        if (adapter != 0) return InvalidCall(method, "no such adapter");
        if (type == D3DDEVTYPE_HAL) return D3D_OK;
        if (type == D3DDEVTYPE_REF || type == D3DDEVTYPE_SW || type == D3DDEVTYPE_NULLREF)
            return ReportFailure(D3DERR_NOTAVAILABLE, method, "only the HAL device type is available");
        return InvalidCall(method, "unknown device type");
    }
};

void RegisterD3d9Module() {
    RegisterBuiltinModule("d3d9.dll", {{"Direct3DCreate9", reinterpret_cast<void*>(&Direct3DCreate9)},
                                       {"DebugSetMute", reinterpret_cast<void*>(&DebugSetMute)}});
}

// Linking Direct3DCreate9 links this file, and with it the registration.
const bool registered = (RegisterD3d9Module(), true);

}  // namespace

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    (void)registered;
    if (sdkVersion != D3D_SDK_VERSION) {
        ReportFailure(S_OK, "Direct3DCreate9", "wrong SDK version");
        return nullptr;
    }
    return new (std::nothrow) Direct3D9();
}
