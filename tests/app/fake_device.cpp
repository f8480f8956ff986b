#include "tests/app/fake_device.h"

#include "platform/win32/keyboard.h"

FakeDeviceLog& FakeLog() {
    static FakeDeviceLog log;
    return log;
}

HRESULT FakeDevice::Present(const RECT* a, const RECT* b, HWND c, const void* d) {
    FakeDeviceLog& log = FakeLog();
    log.events.push_back("Present");
    log.presentArgumentsNull = log.presentArgumentsNull && !a && !b && !c && !d;
    ++log.presents;
    if (log.failPresentNumber && log.presents == log.failPresentNumber) return D3DERR_DEVICELOST;
    // Like the device: the frame goes to the window system.
    if (FrameSink* sink = GetFrameSink()) {
        FrameView view{640, 480, 640 * 2, FramePixelFormat::R5G6B5, pixels_.data()};
        if (!sink->PresentFrame(window_, view)) return D3DERR_DEVICELOST;
    }
    return S_OK;
}

HRESULT FakeDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                          DWORD stencil) {
    FakeDeviceLog& log = FakeLog();
    log.events.push_back("Clear");
    log.clearCount = count, log.clearRects = rects, log.clearFlags = flags;
    log.clearColour = colour, log.clearZ = z, log.clearStencil = stencil;
    std::vector<bool> down;
    for (int key : log.keysToWatch) down.push_back(GetKeyState(key) < 0);
    log.keysAtClear.push_back(down);
    // R5G6B5 of the colour, so the captured frame shows it.
    WORD p = static_cast<WORD>(((colour >> 8) & 0xF800) | ((colour >> 5) & 0x07E0) | ((colour >> 3) & 0x1F));
    pixels_.assign(pixels_.size(), p);
    return S_OK;
}

HRESULT FakeDevice::SetViewport(const D3DVIEWPORT9* viewport) {
    FakeLog().events.push_back("SetViewport");
    FakeLog().viewport = *viewport;
    return S_OK;
}

namespace {

class FakeDirect3D final : public IDirect3D9 {
public:
    FakeDirect3D() { ++FakeLog().liveObjects; }
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            --FakeLog().liveObjects;
            FakeLog().events.push_back("Release Direct3D");
            delete this;
        }
        return left;
    }
    UINT GetAdapterCount() override { return 1; }
    HRESULT GetAdapterDisplayMode(UINT, D3DDISPLAYMODE*) override { return E_NOTIMPL; }
    HRESULT CheckDeviceType(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, BOOL) override { return S_OK; }
    HRESULT CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT) override {
        return S_OK;
    }
    HRESULT GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9*) override { return E_NOTIMPL; }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override {
        FakeDeviceLog& log = FakeLog();
        log.events.push_back("CreateDevice");
        log.adapter = adapter, log.deviceType = type, log.focusWindow = focus;
        log.behaviourFlags = flags, log.parameters = *parameters;
        *device = nullptr;
        if (log.failCreateDevice) return D3DERR_NOTAVAILABLE;
        *device = new FakeDevice(focus);
        return S_OK;
    }

private:
    ~FakeDirect3D() = default;
    ULONG refs_ = 1;
};

}  // namespace

IDirect3D9* CreateFakeDirect3D(UINT sdkVersion) {
    FakeLog().events.push_back("Direct3DCreate9");
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return new FakeDirect3D();
}
