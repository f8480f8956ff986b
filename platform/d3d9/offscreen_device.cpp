#include "platform/d3d9/offscreen_device.h"

IDirect3DDevice9* CreateOffscreenDevice(UINT backBufferWidth, UINT backBufferHeight) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d) return nullptr;
    D3DPRESENT_PARAMETERS pp = {};
    pp.BackBufferWidth = backBufferWidth;
    pp.BackBufferHeight = backBufferHeight;
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    IDirect3DDevice9* device = nullptr;
    // Any window handle will do: nothing is presented.
    d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(1),
                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device);
    d3d->Release();
    return device;
}

IDirect3DDevice9* SharedOffscreenDevice() {
    static IDirect3DDevice9* device = CreateOffscreenDevice();
    return device;
}
