#include <cstring>

#include "platform/win32/module.h"
#include "tests/d3d9/device_fixture.h"

namespace {

TEST(Direct3D, CreateNeedsTheSdkVersion) {
    EXPECT_EQ(Direct3DCreate9(30), nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->GetAdapterCount(), 1u);
    D3DDISPLAYMODE mode{};
    EXPECT_EQ(d3d->GetAdapterDisplayMode(0, &mode), D3D_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(1, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->Release(), 0u);
}

TEST(Direct3D, ModuleExportsTheEntries) {
    HMODULE module = GetModuleHandleA("d3d9.dll");
    ASSERT_NE(module, nullptr);
    using CreateFn = IDirect3D9* (*)(UINT);
    using MuteFn = BOOL (*)(BOOL);
    auto create = reinterpret_cast<CreateFn>(GetProcAddress(module, "Direct3DCreate9"));
    auto mute = reinterpret_cast<MuteFn>(GetProcAddress(module, "DebugSetMute"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(mute, nullptr);
    EXPECT_EQ(GetProcAddress(module, "Direct3DCreate8"), nullptr);
    IDirect3D9* d3d = create(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    d3d->Release();
    EXPECT_EQ(mute(TRUE), FALSE);
    EXPECT_EQ(mute(FALSE), TRUE);
}

TEST(Direct3D, InvalidCallsAreReportedUnlessMuted) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    DebugCapture capture;
    D3DCAPS9 caps;
    EXPECT_EQ(d3d->GetDeviceCaps(3, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_NE(capture.messages[0].find("GetDeviceCaps"), std::string::npos);
    DebugSetMute(TRUE);
    EXPECT_EQ(d3d->GetDeviceCaps(3, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
    DebugSetMute(FALSE);
    EXPECT_EQ(capture.messages.size(), 1u);
    d3d->Release();
}

TEST(Direct3D, CreateDeviceChecksItsArguments) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    DebugSetMute(TRUE);
    IDirect3DDevice9* device = reinterpret_cast<IDirect3DDevice9*>(1);
    D3DPRESENT_PARAMETERS p = ProgramParameters();
    const DWORD sw = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, sw, &p, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(d3d->CreateDevice(1, D3DDEVTYPE_HAL, DummyWindow(), sw, &p, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, DummyWindow(), sw, &p, &device), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, DummyWindow(), 0, &p, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, DummyWindow(), sw, nullptr, &device), D3DERR_INVALIDCALL);
    p.BackBufferFormat = D3DFMT_A4R4G4B4;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, DummyWindow(), sw, &p, &device), D3DERR_NOTAVAILABLE);
    p = ProgramParameters();
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, DummyWindow(), sw, &p, &device), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(device, nullptr);
    DebugSetMute(FALSE);
    EXPECT_EQ(d3d->Release(), 0u);
}

TEST(Direct3D, CreateDeviceFillsInWindowedDefaults) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p{};
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, DummyWindow(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device),
              D3D_OK);
    EXPECT_EQ(p.BackBufferWidth, 640u);
    EXPECT_EQ(p.BackBufferHeight, 480u);
    EXPECT_EQ(p.BackBufferCount, 1u);
    EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);
    IDirect3DSurface9* depth = reinterpret_cast<IDirect3DSurface9*>(1);
    EXPECT_EQ(device->GetDepthStencilSurface(&depth), D3DERR_NOTFOUND);
    EXPECT_EQ(depth, nullptr);
    DWORD z = 7;
    EXPECT_EQ(device->GetRenderState(D3DRS_ZENABLE, &z), D3D_OK);
    EXPECT_EQ(z, DWORD(D3DZB_FALSE));
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(d3d->Release(), 0u);
}

TEST_F(DeviceTest, ReportsItsCreationAndDisplay) {
    D3DDEVICE_CREATION_PARAMETERS cp{};
    ASSERT_EQ(device->GetCreationParameters(&cp), D3D_OK);
    EXPECT_EQ(cp.AdapterOrdinal, 0u);
    EXPECT_EQ(cp.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(cp.hFocusWindow, DummyWindow());
    EXPECT_EQ(cp.BehaviorFlags, D3DCREATE_SOFTWARE_VERTEXPROCESSING);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(device->GetDisplayMode(0, &mode), D3D_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(device->GetDisplayMode(1, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    IDirect3D9* parent = nullptr;
    ASSERT_EQ(device->GetDirect3D(&parent), D3D_OK);
    EXPECT_EQ(parent, d3d);
    parent->Release();

    D3DVIEWPORT9 vp{};
    ASSERT_EQ(device->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.Width, 640u);
    EXPECT_EQ(vp.Height, 480u);
    EXPECT_EQ(vp.MaxZ, 1.0f);
    D3DVIEWPORT9 inner{10, 20, 100, 50, 0.25f, 0.75f};
    EXPECT_EQ(device->SetViewport(&inner), D3D_OK);
    D3DVIEWPORT9 outside{600, 0, 100, 50, 0.0f, 1.0f};
    DebugSetMute(TRUE);
    EXPECT_EQ(device->SetViewport(&outside), D3DERR_INVALIDCALL);
    DebugSetMute(FALSE);
    ASSERT_EQ(device->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.X, 10u);
    EXPECT_EQ(vp.MinZ, 0.25f);
}

TEST_F(DeviceTest, CapsAreThoseOfAPlainCard) {
    D3DCAPS9 caps{}, fromD3d{};
    ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &fromD3d), D3D_OK);
    EXPECT_EQ(std::memcmp(&caps, &fromD3d, sizeof caps), 0);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(caps.MaxTextureWidth, 4096u);
    EXPECT_EQ(caps.MaxTextureHeight, 4096u);
    EXPECT_EQ(caps.MaxVolumeExtent, 256u);
    EXPECT_EQ(caps.MaxTextureAspectRatio, 0u);
    const DWORD wanted = D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_MIPCUBEMAP | D3DPTEXTURECAPS_MIPVOLUMEMAP |
                         D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_VOLUMEMAP | D3DPTEXTURECAPS_POW2 |
                         D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
    EXPECT_EQ(caps.TextureCaps & wanted, wanted);
    EXPECT_EQ(caps.TextureCaps & (D3DPTEXTURECAPS_SQUAREONLY | D3DPTEXTURECAPS_CUBEMAP_POW2 |
                                  D3DPTEXTURECAPS_VOLUMEMAP_POW2),
              0u);
    EXPECT_EQ(caps.MaxPrimitiveCount, 0xFFFFFFu);
    EXPECT_EQ(caps.MaxVertexIndex, 0xFFFFFFu);
    EXPECT_EQ(caps.MaxStreams, 1u);
    EXPECT_EQ(caps.MaxTextureBlendStages, 8u);
    EXPECT_EQ(caps.MaxSimultaneousTextures, 8u);
    EXPECT_GE(caps.MaxActiveLights, 8u);
    EXPECT_EQ(caps.NumSimultaneousRTs, 1u);
    EXPECT_EQ(caps.StretchRectFilterCaps, D3DPTFILTERCAPS_STRETCHRECT);
    EXPECT_EQ(device->GetDeviceCaps(nullptr), D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, CheckDeviceFormatAnswers) {
    auto check = [&](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
        return d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, usage, type, format);
    };
    const D3DFORMAT accepted[] = {
        D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8,      D3DFMT_R5G6B5,        D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
        D3DFMT_A4R4G4B4, D3DFMT_X4R4G4B4,      D3DFMT_A8,            D3DFMT_L8,       D3DFMT_A8L8,
        D3DFMT_A4L4,     D3DFMT_L16,           D3DFMT_G16R16,        D3DFMT_A2R10G10B10, D3DFMT_A16B16G16R16,
        D3DFMT_V8U8,     D3DFMT_Q8W8V8U8,      D3DFMT_V16U16,        D3DFMT_R16F,     D3DFMT_G16R16F,
        D3DFMT_A16B16G16R16F, D3DFMT_R32F,     D3DFMT_G32R32F,       D3DFMT_A32B32G32R32F,
        D3DFMT_DXT1,     D3DFMT_DXT2,          D3DFMT_DXT3,          D3DFMT_DXT4,     D3DFMT_DXT5};
    for (D3DFORMAT f : accepted) {
        EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, f), D3D_OK) << f;
        EXPECT_EQ(check(0, D3DRTYPE_CUBETEXTURE, f), D3D_OK) << f;
    }
    const D3DFORMAT refused[] = {D3DFMT_P8,   D3DFMT_A8P8,      D3DFMT_R8G8B8,    D3DFMT_YUY2, D3DFMT_UYVY,
                                 D3DFMT_R8G8_B8G8, D3DFMT_G8R8_G8B8, D3DFMT_R3G3B2, D3DFMT_D16, D3DFMT_UNKNOWN};
    for (D3DFORMAT f : refused) EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, f), D3DERR_NOTAVAILABLE) << f;

    EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_X8R8G8B8), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_DXT1), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D16), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_TEXTURE, D3DFMT_D16), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_AUTOGENMIPMAP, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DOK_NOAUTOGEN);
    EXPECT_EQ(check(D3DUSAGE_QUERY_FILTER, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_QUERY_FILTER, D3DRTYPE_TEXTURE, D3DFMT_R32F), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_QUERY_VERTEXTEXTURE | D3DUSAGE_SOFTWAREPROCESSING, D3DRTYPE_TEXTURE, D3DFMT_R32F),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_QUERY_LEGACYBUMPMAP, D3DRTYPE_TEXTURE, D3DFMT_V8U8), D3D_OK);
    EXPECT_EQ(check(0, D3DRTYPE_VERTEXBUFFER, D3DFMT_VERTEXDATA), D3D_OK);
    EXPECT_EQ(check(0, D3DRTYPE_INDEXBUFFER, D3DFMT_INDEX32), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_VOLUMETEXTURE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
    // The adapter format must be one the desktop can have; the type must exist.
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_A8, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);
    DebugSetMute(TRUE);
    EXPECT_EQ(d3d->CheckDeviceFormat(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(check(0, D3DRESOURCETYPE(99), D3DFMT_A8R8G8B8), D3DERR_INVALIDCALL);
    DebugSetMute(FALSE);
}

TEST_F(DeviceTest, StateStartsWithTheDocumentedDefaults) {
    auto rs = [&](D3DRENDERSTATETYPE s) {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(device->GetRenderState(s, &v), D3D_OK) << s;
        return v;
    };
    EXPECT_EQ(rs(D3DRS_ZENABLE), DWORD(D3DZB_TRUE));
    EXPECT_EQ(rs(D3DRS_ZFUNC), DWORD(D3DCMP_LESSEQUAL));
    EXPECT_EQ(rs(D3DRS_ZWRITEENABLE), DWORD(TRUE));
    EXPECT_EQ(rs(D3DRS_FILLMODE), DWORD(D3DFILL_SOLID));
    EXPECT_EQ(rs(D3DRS_SHADEMODE), DWORD(D3DSHADE_GOURAUD));
    EXPECT_EQ(rs(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
    EXPECT_EQ(rs(D3DRS_ALPHAFUNC), DWORD(D3DCMP_ALWAYS));
    EXPECT_EQ(rs(D3DRS_ALPHAREF), 0u);
    EXPECT_EQ(rs(D3DRS_STENCILENABLE), DWORD(FALSE));
    EXPECT_EQ(rs(D3DRS_BLENDOP), DWORD(D3DBLENDOP_ADD));
    EXPECT_EQ(rs(D3DRS_SRCBLEND), DWORD(D3DBLEND_ONE));
    EXPECT_EQ(rs(D3DRS_DESTBLEND), DWORD(D3DBLEND_ZERO));
    EXPECT_EQ(rs(D3DRS_COLORWRITEENABLE), 0xFu);
    EXPECT_EQ(rs(D3DRS_CLIPPING), DWORD(TRUE));
    EXPECT_EQ(rs(D3DRS_AMBIENT), 0u);
    EXPECT_EQ(rs(D3DRS_COLORVERTEX), DWORD(TRUE));
    EXPECT_EQ(rs(D3DRS_DIFFUSEMATERIALSOURCE), DWORD(D3DMCS_COLOR1));
    EXPECT_EQ(rs(D3DRS_SPECULARMATERIALSOURCE), DWORD(D3DMCS_COLOR2));
    EXPECT_EQ(rs(D3DRS_AMBIENTMATERIALSOURCE), DWORD(D3DMCS_MATERIAL));
    EXPECT_EQ(rs(D3DRS_EMISSIVEMATERIALSOURCE), DWORD(D3DMCS_MATERIAL));
    EXPECT_EQ(rs(D3DRS_LOCALVIEWER), DWORD(TRUE));
    EXPECT_EQ(rs(D3DRS_NORMALIZENORMALS), DWORD(FALSE));
    EXPECT_EQ(rs(D3DRS_SPECULARENABLE), DWORD(FALSE));
    EXPECT_EQ(rs(D3DRS_RANGEFOGENABLE), DWORD(FALSE));
    EXPECT_EQ(rs(D3DRS_TEXTUREFACTOR), 0xFFFFFFFFu);
    EXPECT_EQ(rs(D3DRS_DITHERENABLE), DWORD(FALSE));
    EXPECT_EQ(rs(D3DRS_LIGHTING), DWORD(TRUE));
    EXPECT_EQ(rs(D3DRS_CULLMODE), DWORD(D3DCULL_CCW));
    EXPECT_EQ(rs(D3DRS_FOGEND), 0x3F800000u);  // 1.0f

    auto ts = [&](DWORD stage, D3DTEXTURESTAGESTATETYPE s) {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(device->GetTextureStageState(stage, s, &v), D3D_OK);
        return v;
    };
    EXPECT_EQ(ts(0, D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE));
    EXPECT_EQ(ts(0, D3DTSS_COLORARG1), D3DTA_TEXTURE);
    EXPECT_EQ(ts(0, D3DTSS_COLORARG2), D3DTA_CURRENT);
    EXPECT_EQ(ts(0, D3DTSS_ALPHAOP), DWORD(D3DTOP_SELECTARG1));
    EXPECT_EQ(ts(0, D3DTSS_ALPHAARG1), D3DTA_TEXTURE);
    EXPECT_EQ(ts(0, D3DTSS_ALPHAARG2), D3DTA_CURRENT);
    EXPECT_EQ(ts(0, D3DTSS_TEXCOORDINDEX), 0u);
    for (DWORD stage = 1; stage < 8; ++stage) {
        EXPECT_EQ(ts(stage, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
        EXPECT_EQ(ts(stage, D3DTSS_ALPHAOP), DWORD(D3DTOP_DISABLE));
        EXPECT_EQ(ts(stage, D3DTSS_TEXCOORDINDEX), stage);
    }

    auto ss = [&](D3DSAMPLERSTATETYPE s) {
        DWORD v = 0xDEADBEEF;
        EXPECT_EQ(device->GetSamplerState(0, s, &v), D3D_OK);
        return v;
    };
    EXPECT_EQ(ss(D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_WRAP));
    EXPECT_EQ(ss(D3DSAMP_ADDRESSV), DWORD(D3DTADDRESS_WRAP));
    EXPECT_EQ(ss(D3DSAMP_ADDRESSW), DWORD(D3DTADDRESS_WRAP));
    EXPECT_EQ(ss(D3DSAMP_MAGFILTER), DWORD(D3DTEXF_POINT));
    EXPECT_EQ(ss(D3DSAMP_MINFILTER), DWORD(D3DTEXF_POINT));
    EXPECT_EQ(ss(D3DSAMP_MIPFILTER), DWORD(D3DTEXF_NONE));
    EXPECT_EQ(ss(D3DSAMP_MIPMAPLODBIAS), 0u);
    EXPECT_EQ(ss(D3DSAMP_MAXMIPLEVEL), 0u);
    EXPECT_EQ(ss(D3DSAMP_MAXANISOTROPY), 1u);

    D3DMATRIX m{};
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE3}) {
        ASSERT_EQ(device->GetTransform(t, &m), D3D_OK);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) EXPECT_EQ(m.m[r][c], r == c ? 1.0f : 0.0f);
    }
    D3DMATERIAL9 material;
    std::memset(&material, 0x55, sizeof material);
    ASSERT_EQ(device->GetMaterial(&material), D3D_OK);
    const D3DMATERIAL9 zero{};
    EXPECT_EQ(std::memcmp(&material, &zero, sizeof zero), 0);
    BOOL enabled = TRUE;
    DebugSetMute(TRUE);
    EXPECT_EQ(device->GetLightEnable(0, &enabled), D3DERR_INVALIDCALL);  // never set
    DebugSetMute(FALSE);
    DWORD fvf = 1;
    EXPECT_EQ(device->GetFVF(&fvf), D3D_OK);
    EXPECT_EQ(fvf, 0u);
}

TEST_F(DeviceTest, StateReadsBackWhatWasSet) {
    EXPECT_EQ(device->SetRenderState(D3DRS_FOGCOLOR, 0x00A0A0F0), D3D_OK);
    DWORD v = 0;
    EXPECT_EQ(device->GetRenderState(D3DRS_FOGCOLOR, &v), D3D_OK);
    EXPECT_EQ(v, 0x00A0A0F0u);
    EXPECT_EQ(device->SetTextureStageState(7, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
    EXPECT_EQ(device->GetTextureStageState(7, D3DTSS_COLOROP, &v), D3D_OK);
    EXPECT_EQ(v, DWORD(D3DTOP_ADD));
    EXPECT_EQ(device->SetSamplerState(3, D3DSAMP_MINFILTER, D3DTEXF_LINEAR), D3D_OK);
    EXPECT_EQ(device->GetSamplerState(3, D3DSAMP_MINFILTER, &v), D3D_OK);
    EXPECT_EQ(v, DWORD(D3DTEXF_LINEAR));

    D3DMATRIX m{};
    m._11 = 2.0f;
    m._43 = 5.0f;
    EXPECT_EQ(device->SetTransform(D3DTS_PROJECTION, &m), D3D_OK);
    D3DMATRIX back{};
    EXPECT_EQ(device->GetTransform(D3DTS_PROJECTION, &back), D3D_OK);
    EXPECT_EQ(std::memcmp(&m, &back, sizeof m), 0);

    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
    light.Direction = {0.0f, -1.0f, 2.0f};
    EXPECT_EQ(device->SetLight(0, &light), D3D_OK);
    EXPECT_EQ(device->LightEnable(0, TRUE), D3D_OK);
    D3DLIGHT9 lb{};
    EXPECT_EQ(device->GetLight(0, &lb), D3D_OK);
    EXPECT_EQ(std::memcmp(&light, &lb, sizeof light), 0);
    BOOL on = FALSE;
    EXPECT_EQ(device->GetLightEnable(0, &on), D3D_OK);
    EXPECT_TRUE(on);
    // Enabling a light never set gives it the default light.
    EXPECT_EQ(device->LightEnable(40, TRUE), D3D_OK);
    EXPECT_EQ(device->GetLight(40, &lb), D3D_OK);
    EXPECT_EQ(lb.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(lb.Direction.z, 1.0f);
    EXPECT_EQ(lb.Diffuse.r, 1.0f);

    D3DMATERIAL9 mat{};
    mat.Diffuse = {1.0f, 0.5f, 0.25f, 128.0f};
    mat.Power = 3.0f;
    EXPECT_EQ(device->SetMaterial(&mat), D3D_OK);
    D3DMATERIAL9 mb{};
    EXPECT_EQ(device->GetMaterial(&mb), D3D_OK);
    EXPECT_EQ(std::memcmp(&mat, &mb, sizeof mat), 0);
}

TEST_F(DeviceTest, StateSettersRejectWhatDoesNotExist) {
    DebugSetMute(TRUE);
    DWORD v;
    EXPECT_EQ(device->SetRenderState(D3DRENDERSTATETYPE(10), 1), D3DERR_INVALIDCALL);  // a hole in the numbering
    EXPECT_EQ(device->SetRenderState(D3DRENDERSTATETYPE(D3DRS_STATE_COUNT), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetRenderState(D3DRS_LIGHTING, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_ADD), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(0, D3DTEXTURESTAGESTATETYPE(12), 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetSamplerState(16, D3DSAMP_MINFILTER, &v), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(0, D3DSAMPLERSTATETYPE(14), 0), D3DERR_INVALIDCALL);
    D3DMATRIX m{};
    EXPECT_EQ(device->SetTransform(D3DTRANSFORMSTATETYPE(4), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTransform(D3DTS_VIEW, nullptr), D3DERR_INVALIDCALL);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;  // zero direction
    EXPECT_EQ(device->SetLight(0, &light), D3DERR_INVALIDCALL);
    light.Type = D3DLIGHTTYPE(9);
    EXPECT_EQ(device->SetLight(0, &light), D3DERR_INVALIDCALL);
    for (DWORD i = 0; i < 8; ++i) EXPECT_EQ(device->LightEnable(i, TRUE), D3D_OK);
    EXPECT_EQ(device->LightEnable(8, TRUE), D3DERR_INVALIDCALL);  // one more than the device can use
    D3DLIGHT9 got{};
    EXPECT_EQ(device->GetLight(8, &got), D3DERR_INVALIDCALL);  // the refused call set nothing
    EXPECT_EQ(device->LightEnable(3, FALSE), D3D_OK);
    EXPECT_EQ(device->LightEnable(8, TRUE), D3D_OK);
    DebugSetMute(FALSE);
}

TEST_F(DeviceTest, BackAndDepthBuffersFollowThePresentationParameters) {
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(back->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);
    EXPECT_EQ(desc.Width, 640u);
    EXPECT_EQ(desc.Height, 480u);
    EXPECT_EQ(desc.Usage, D3DUSAGE_RENDERTARGET);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    D3DLOCKED_RECT lr;
    DebugSetMute(TRUE);
    EXPECT_EQ(back->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL);  // not asked to be lockable
    DebugSetMute(FALSE);
    IDirect3DSurface9* target = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &target), D3D_OK);
    EXPECT_EQ(target, back);
    target->Release();
    IDirect3DDevice9* container = nullptr;
    ASSERT_EQ(back->GetContainer(IID_IDirect3DDevice9, reinterpret_cast<void**>(&container)), D3D_OK);
    EXPECT_EQ(container, device);
    container->Release();
    back->Release();

    IDirect3DSurface9* depth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&depth), D3D_OK);
    ASSERT_EQ(depth->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_D16);
    EXPECT_EQ(desc.Usage, D3DUSAGE_DEPTHSTENCIL);
    depth->Release();

    D3DPRESENT_PARAMETERS p = ProgramParameters();
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    CreateWith(p);
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    ASSERT_EQ(back->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(lr.Pitch, 1280);
    EXPECT_EQ(back->UnlockRect(), D3D_OK);
    back->Release();
}

TEST_F(DeviceTest, ReferencesAreExact) {
    // The device holds its Direct3D object.
    EXPECT_EQ(d3d->AddRef(), 3u);
    EXPECT_EQ(d3d->Release(), 2u);
    EXPECT_EQ(device->AddRef(), 2u);
    EXPECT_EQ(device->Release(), 1u);

    // A resource holds the device while referenced.
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    EXPECT_EQ(device->AddRef(), 3u);
    EXPECT_EQ(device->Release(), 2u);

    // A level counts with its texture and keeps it alive.
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(2, &level), D3D_OK);
    EXPECT_EQ(texture->AddRef(), 3u);
    EXPECT_EQ(texture->Release(), 2u);
    EXPECT_EQ(texture->Release(), 1u);  // only the level's reference is left
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(level->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 4u);
    IDirect3DTexture9* container = nullptr;
    ASSERT_EQ(level->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)), D3D_OK);
    EXPECT_EQ(container, texture);
    container->Release();
    IDirect3DCubeTexture9* wrong = reinterpret_cast<IDirect3DCubeTexture9*>(1);
    EXPECT_EQ(level->GetContainer(IID_IDirect3DCubeTexture9, reinterpret_cast<void**>(&wrong)), E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);

    // The device keeps a bound texture after its last outside reference.
    ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
    EXPECT_EQ(level->Release(), 0u);
    IDirect3DBaseTexture9* bound = nullptr;
    ASSERT_EQ(device->GetTexture(0, &bound), D3D_OK);
    EXPECT_EQ(bound, static_cast<IDirect3DBaseTexture9*>(texture));
    EXPECT_EQ(bound->GetLevelCount(), 5u);
    EXPECT_EQ(bound->Release(), 0u);
    EXPECT_EQ(device->AddRef(), 2u);  // the bound texture no longer holds the device
    EXPECT_EQ(device->Release(), 1u);
    // Unbinding frees it (ASan would report a leak otherwise).
    EXPECT_EQ(device->SetTexture(0, nullptr), D3D_OK);

    // Holding the back buffer keeps the device.
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    EXPECT_EQ(device->AddRef(), 3u);
    EXPECT_EQ(device->Release(), 2u);
    EXPECT_EQ(back->Release(), 1u);
}

TEST_F(DeviceTest, BindingsOutliveTheirReferencesUntilTheDeviceGoes) {
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    IDirect3DVertexDeclaration9* decl = nullptr;
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_SYSTEMMEM, &vb, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3D_OK);
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    ASSERT_EQ(device->CreateVertexDeclaration(elements, &decl), D3D_OK);
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    EXPECT_EQ(device->SetStreamSource(0, vb, 0, 12), D3D_OK);
    EXPECT_EQ(device->SetIndices(ib), D3D_OK);
    EXPECT_EQ(device->SetVertexDeclaration(decl), D3D_OK);
    EXPECT_EQ(device->SetTexture(5, texture), D3D_OK);
    EXPECT_EQ(vb->Release(), 0u);
    EXPECT_EQ(ib->Release(), 0u);
    EXPECT_EQ(decl->Release(), 0u);
    EXPECT_EQ(texture->Release(), 0u);
    IDirect3DVertexBuffer9* got = nullptr;
    UINT offset = 1, stride = 0;
    ASSERT_EQ(device->GetStreamSource(0, &got, &offset, &stride), D3D_OK);
    EXPECT_EQ(got, vb);
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(stride, 12u);
    D3DVERTEXBUFFER_DESC desc{};
    EXPECT_EQ(got->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Size, 64u);
    got->Release();
    // TearDown's device Release must reach zero and free all four.
}

}  // namespace
