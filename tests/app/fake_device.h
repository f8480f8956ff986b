// A device that records the calls the shell makes, for the loop tests.
#pragma once

#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/shell/frame_sink.h"

struct FakeDeviceLog {
    std::vector<std::string> events;
    // Arguments of the calls the tests check.
    DWORD clearCount = 0;
    const D3DRECT* clearRects = nullptr;
    DWORD clearFlags = 0;
    D3DCOLOR clearColour = 0;
    float clearZ = 0;
    DWORD clearStencil = 0;
    D3DVIEWPORT9 viewport = {};
    UINT adapter = 99;
    D3DDEVTYPE deviceType = D3DDEVTYPE_REF;
    HWND focusWindow = nullptr;
    DWORD behaviourFlags = 0;
    D3DPRESENT_PARAMETERS parameters = {};
    bool presentArgumentsNull = true;
    // What the fakes do.
    int failPresentNumber = 0;  // the n-th Present fails (0: none)
    bool failCreateDevice = false;
    // Each Clear notes whether these keys were down then.
    std::vector<int> keysToWatch;
    std::vector<std::vector<bool>> keysAtClear;
    int presents = 0;
    int liveObjects = 0;
};

FakeDeviceLog& FakeLog();
// Direct3DCreate9's stand-in: a Direct3D object making recording devices.
IDirect3D9* CreateFakeDirect3D(UINT sdkVersion);

class FakeDevice final : public IDirect3DDevice9 {
public:
    explicit FakeDevice(HWND window) : window_(window) { ++FakeLog().liveObjects; }
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            --FakeLog().liveObjects;
            FakeLog().events.push_back("Release device");
            delete this;
        }
        return left;
    }

    HRESULT Present(const RECT* a, const RECT* b, HWND c, const void* d) override;
    HRESULT BeginScene() override { return Note("BeginScene"); }
    HRESULT EndScene() override { return Note("EndScene"); }
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                  DWORD stencil) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;

    HRESULT TestCooperativeLevel() override { return Other("TestCooperativeLevel", S_OK); }
    UINT GetAvailableTextureMem() override { return Other("GetAvailableTextureMem", 0); }
    HRESULT GetDirect3D(IDirect3D9**) override { return Other("GetDirect3D", S_OK); }
    HRESULT GetDeviceCaps(D3DCAPS9*) override { return Other("GetDeviceCaps", S_OK); }
    HRESULT GetDisplayMode(UINT, D3DDISPLAYMODE*) override { return Other("GetDisplayMode", S_OK); }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS*) override { return Other("GetCreationParameters", S_OK); }
    HRESULT GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9**) override { return Other("GetBackBuffer", S_OK); }
    HRESULT CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9**, HANDLE*) override { return Other("CreateTexture", S_OK); }
    HRESULT CreateVolumeTexture(UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DVolumeTexture9**, HANDLE*) override { return Other("CreateVolumeTexture", S_OK); }
    HRESULT CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9**, HANDLE*) override { return Other("CreateCubeTexture", S_OK); }
    HRESULT CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9**, HANDLE*) override { return Other("CreateVertexBuffer", S_OK); }
    HRESULT CreateIndexBuffer(UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9**, HANDLE*) override { return Other("CreateIndexBuffer", S_OK); }
    HRESULT CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9**, HANDLE*) override { return Other("CreateOffscreenPlainSurface", S_OK); }
    HRESULT UpdateSurface(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const POINT*) override { return Other("UpdateSurface", S_OK); }
    HRESULT UpdateTexture(IDirect3DBaseTexture9*, IDirect3DBaseTexture9*) override { return Other("UpdateTexture", S_OK); }
    HRESULT StretchRect(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*, D3DTEXTUREFILTERTYPE) override { return Other("StretchRect", S_OK); }
    HRESULT GetRenderTarget(DWORD, IDirect3DSurface9**) override { return Other("GetRenderTarget", S_OK); }
    HRESULT GetDepthStencilSurface(IDirect3DSurface9**) override { return Other("GetDepthStencilSurface", S_OK); }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return Other("SetTransform", S_OK); }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX*) override { return Other("GetTransform", S_OK); }
    HRESULT GetViewport(D3DVIEWPORT9*) override { return Other("GetViewport", S_OK); }
    HRESULT SetMaterial(const D3DMATERIAL9*) override { return Other("SetMaterial", S_OK); }
    HRESULT GetMaterial(D3DMATERIAL9*) override { return Other("GetMaterial", S_OK); }
    HRESULT SetLight(DWORD, const D3DLIGHT9*) override { return Other("SetLight", S_OK); }
    HRESULT GetLight(DWORD, D3DLIGHT9*) override { return Other("GetLight", S_OK); }
    HRESULT LightEnable(DWORD, BOOL) override { return Other("LightEnable", S_OK); }
    HRESULT GetLightEnable(DWORD, BOOL*) override { return Other("GetLightEnable", S_OK); }
    HRESULT SetRenderState(D3DRENDERSTATETYPE, DWORD) override { return Other("SetRenderState", S_OK); }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return Other("GetRenderState", S_OK); }
    HRESULT SetTexture(DWORD, IDirect3DBaseTexture9*) override { return Other("SetTexture", S_OK); }
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture9**) override { return Other("GetTexture", S_OK); }
    HRESULT SetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD) override { return Other("SetTextureStageState", S_OK); }
    HRESULT GetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD*) override { return Other("GetTextureStageState", S_OK); }
    HRESULT SetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD) override { return Other("SetSamplerState", S_OK); }
    HRESULT GetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD*) override { return Other("GetSamplerState", S_OK); }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return Other("DrawPrimitive", S_OK); }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override { return Other("DrawIndexedPrimitive", S_OK); }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return Other("DrawPrimitiveUP", S_OK); }
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE, UINT, UINT, UINT, const void*, D3DFORMAT, const void*, UINT) override { return Other("DrawIndexedPrimitiveUP", S_OK); }
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9**) override { return Other("CreateVertexDeclaration", S_OK); }
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9*) override { return Other("SetVertexDeclaration", S_OK); }
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9**) override { return Other("GetVertexDeclaration", S_OK); }
    HRESULT SetFVF(DWORD) override { return Other("SetFVF", S_OK); }
    HRESULT GetFVF(DWORD*) override { return Other("GetFVF", S_OK); }
    HRESULT SetStreamSource(UINT, IDirect3DVertexBuffer9*, UINT, UINT) override { return Other("SetStreamSource", S_OK); }
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) override { return Other("GetStreamSource", S_OK); }
    HRESULT SetIndices(IDirect3DIndexBuffer9*) override { return Other("SetIndices", S_OK); }
    HRESULT GetIndices(IDirect3DIndexBuffer9**) override { return Other("GetIndices", S_OK); }

private:
    ~FakeDevice() = default;
    HRESULT Note(const char* name) {
        FakeLog().events.push_back(name);
        return S_OK;
    }
    template <class T>
    T Other(const char* name, T value) {
        FakeLog().events.push_back(name);
        return value;
    }
    HWND window_;
    ULONG refs_ = 1;
    std::vector<WORD> pixels_ = std::vector<WORD>(640 * 480, 0);
};
