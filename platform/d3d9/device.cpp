#include "platform/d3d9/device.h"

#include <cmath>
#include <cstring>
#include <new>

#include "platform/d3d9/debug_report.h"

namespace {

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

DWORD FloatBits(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

// Render state numbers in use; the others are holes in the numbering.
bool IsRenderState(DWORD state) {
    switch (state) {
        case 7: case 8: case 9: case 14: case 15: case 16: case 19: case 20: case 22: case 23: case 24:
        case 25: case 26: case 27: case 28: case 29: case 34: case 35: case 36: case 37: case 38: case 48:
            return true;
        default:
            break;
    }
    if (state >= 52 && state <= 60) return true;
    if (state >= 128 && state <= 137) return true;
    if (state >= 139 && state <= 143) return true;
    if (state >= 145 && state <= 148) return true;
    if (state == 151 || state == 152) return true;
    if (state >= 154 && state <= 163) return true;
    if (state >= 165 && state <= 168) return true;
    if (state >= 170 && state <= 176) return true;
    if (state >= 178 && state <= 195) return true;
    if (state >= 198 && state <= 209) return true;
    return false;
}

bool IsStageState(DWORD type) {
    return (type >= 1 && type <= 11) || (type >= 22 && type <= 24) || (type >= 26 && type <= 28) || type == 32;
}

bool IsSamplerState(DWORD type) { return type >= 1 && type < D3DSAMP_STATE_COUNT; }

// Index into the transform slots: 0-255 world, 256 view, 257 projection,
// 258-265 texture; -1 for anything else.
int TransformSlot(D3DTRANSFORMSTATETYPE state) {
    const DWORD s = state;
    if (s >= 256 && s < 512) return int(s - 256);
    if (s == D3DTS_VIEW) return 256;
    if (s == D3DTS_PROJECTION) return 257;
    if (s >= D3DTS_TEXTURE0 && s <= D3DTS_TEXTURE7) return int(258 + s - D3DTS_TEXTURE0);
    return -1;
}

}  // namespace

Device::Device(IDirect3D9* parent, HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters)
    : parent_(parent), present_(parameters) {
    parent_->AddRef();
    creation_.AdapterOrdinal = D3DADAPTER_DEFAULT;
    creation_.DeviceType = D3DDEVTYPE_HAL;
    creation_.hFocusWindow = focusWindow;
    creation_.BehaviorFlags = behaviorFlags;
    FillDeviceCaps(&caps_);
    // Small draws, such as text, are drawn together across the workers;
    // every path to surface memory below flushes them first.
    renderer_.SetDeferSmallDraws(true);
}

Device::~Device() {
    renderer_.Flush();
    for (auto& t : textures_) Rebind<BaseTextureImpl>(t, nullptr);
    Rebind<VertexBuffer>(stream_, nullptr);
    Rebind<IndexBuffer>(indices_, nullptr);
    Rebind<VertexDeclaration>(declaration_, nullptr);
    delete backBuffer_;
    delete depthStencil_;
    parent_->Release();
}

HRESULT Device::Create(IDirect3D9* parent, HWND focusWindow, DWORD behaviorFlags,
                       D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** out) {
    static const char* method = "IDirect3D9::CreateDevice";
    if (!out) return InvalidCall(method, "null output");
    *out = nullptr;
    if (!parameters) return InvalidCall(method, "null presentation parameters");
    D3DPRESENT_PARAMETERS p = *parameters;
    if (!focusWindow && !p.hDeviceWindow) return InvalidCall(method, "no focus or device window");
    const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                              D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                              D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_MIXED_VERTEXPROCESSING)
        return InvalidCall(method, "exactly one vertex processing flag is needed");
    if ((behaviorFlags & D3DCREATE_PUREDEVICE) && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING)
        return InvalidCall(method, "a pure device needs hardware vertex processing");
    if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY)
        return InvalidCall(method, "unknown swap effect");
    if (p.BackBufferCount > 3) return InvalidCall(method, "more than three back buffers");
    if (p.BackBufferCount > 1) return ReportFailure(D3DERR_NOTAVAILABLE, method, "one back buffer only");
    if (!p.Windowed) return ReportFailure(D3DERR_NOTAVAILABLE, method, "windowed devices only");
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE)
        return ReportFailure(D3DERR_NOTAVAILABLE, method, "multisampling is not available");
    if (p.PresentationInterval != D3DPRESENT_INTERVAL_DEFAULT && p.PresentationInterval != D3DPRESENT_INTERVAL_ONE &&
        p.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE)
        return InvalidCall(method, "unsupported presentation interval");
    if (p.FullScreen_RefreshRateInHz != 0) return InvalidCall(method, "refresh rate set for a windowed device");
    if (p.Flags & ~D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) return InvalidCall(method, "unsupported presentation flags");
    // Defaults of a windowed device: the desktop's format, one buffer, and
    // (with no window size to take) 640 x 480.
    if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = kAdapterFormat;
    if (!IsBackBufferFormat(p.BackBufferFormat))
        return ReportFailure(D3DERR_NOTAVAILABLE, method, "back buffer format must be R5G6B5 or X8R8G8B8");
    if (p.BackBufferWidth == 0) p.BackBufferWidth = 640;
    if (p.BackBufferHeight == 0) p.BackBufferHeight = 480;
    if (p.BackBufferWidth > kMaxSurfaceSize || p.BackBufferHeight > kMaxSurfaceSize)
        return InvalidCall(method, "back buffer too large");
    if (p.BackBufferCount == 0) p.BackBufferCount = 1;
    if (p.EnableAutoDepthStencil && p.AutoDepthStencilFormat != D3DFMT_D16 &&
        p.AutoDepthStencilFormat != D3DFMT_D16_LOCKABLE)
        return ReportFailure(D3DERR_NOTAVAILABLE, method, "depth buffer format must be D16");

    Device* device = new (std::nothrow) Device(parent, focusWindow, behaviorFlags, p);
    if (!device) return E_OUTOFMEMORY;
    HRESULT hr = device->CreateImplicitSurfaces();
    if (FAILED(hr)) {
        device->Release();
        return hr;
    }
    device->SetStateDefaults();
    *parameters = p;
    *out = device;
    return D3D_OK;
}

HRESULT Device::CreateImplicitSurfaces() {
    SurfaceSetup back;
    back.format = present_.BackBufferFormat;
    back.width = present_.BackBufferWidth;
    back.height = present_.BackBufferHeight;
    back.usage = D3DUSAGE_RENDERTARGET;
    back.pool = D3DPOOL_DEFAULT;
    back.lockable = present_.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    HRESULT hr = Surface::Create(this, back, this, nullptr, 0, 0, &backBuffer_);
    if (FAILED(hr)) return hr;
    if (present_.EnableAutoDepthStencil) {
        SurfaceSetup depth = back;
        depth.format = present_.AutoDepthStencilFormat;
        depth.usage = D3DUSAGE_DEPTHSTENCIL;
        depth.lockable = depth.format == D3DFMT_D16_LOCKABLE;
        hr = Surface::Create(this, depth, this, nullptr, 0, 0, &depthStencil_);
        if (FAILED(hr)) return hr;
        // A depth buffer starts cleared to the far plane.
        std::memset(depthStencil_->Pixels().bits.get(), 0xFF, depthStencil_->Pixels().size);
    }
    return D3D_OK;
}

void Device::SetStateDefaults() {
    DWORD* rs = renderStates_;
    rs[D3DRS_ZENABLE] = depthStencil_ ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_ALPHATESTENABLE] = FALSE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAREF] = 0;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_DITHERENABLE] = FALSE;
    rs[D3DRS_ALPHABLENDENABLE] = FALSE;
    rs[D3DRS_FOGENABLE] = FALSE;
    rs[D3DRS_SPECULARENABLE] = FALSE;
    rs[D3DRS_FOGCOLOR] = 0;
    rs[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
    rs[D3DRS_FOGSTART] = FloatBits(0.0f);
    rs[D3DRS_FOGEND] = FloatBits(1.0f);
    rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
    rs[D3DRS_RANGEFOGENABLE] = FALSE;
    rs[D3DRS_STENCILENABLE] = FALSE;
    rs[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILREF] = 0;
    rs[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_AMBIENT] = 0;
    rs[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_NORMALIZENORMALS] = FALSE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_VERTEXBLEND] = D3DVBF_DISABLE;
    rs[D3DRS_CLIPPLANEENABLE] = 0;
    rs[D3DRS_POINTSIZE] = FloatBits(1.0f);
    rs[D3DRS_POINTSIZE_MIN] = FloatBits(1.0f);
    rs[D3DRS_POINTSPRITEENABLE] = FALSE;
    rs[D3DRS_POINTSCALEENABLE] = FALSE;
    rs[D3DRS_POINTSCALE_A] = FloatBits(1.0f);
    rs[D3DRS_POINTSCALE_B] = FloatBits(0.0f);
    rs[D3DRS_POINTSCALE_C] = FloatBits(0.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_PATCHEDGESTYLE] = D3DPATCHEDGE_DISCRETE;
    rs[D3DRS_DEBUGMONITORTOKEN] = 0;
    rs[D3DRS_POINTSIZE_MAX] = FloatBits(caps_.MaxPointSize);
    rs[D3DRS_INDEXEDVERTEXBLENDENABLE] = FALSE;
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_TWEENFACTOR] = FloatBits(0.0f);
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_POSITIONDEGREE] = D3DDEGREE_CUBIC;
    rs[D3DRS_NORMALDEGREE] = D3DDEGREE_LINEAR;
    rs[D3DRS_SCISSORTESTENABLE] = FALSE;
    rs[D3DRS_SLOPESCALEDEPTHBIAS] = 0;
    rs[D3DRS_ANTIALIASEDLINEENABLE] = FALSE;
    rs[D3DRS_MINTESSELLATIONLEVEL] = FloatBits(1.0f);
    rs[D3DRS_MAXTESSELLATIONLEVEL] = FloatBits(1.0f);
    rs[D3DRS_ADAPTIVETESS_X] = FloatBits(0.0f);
    rs[D3DRS_ADAPTIVETESS_Y] = FloatBits(0.0f);
    rs[D3DRS_ADAPTIVETESS_Z] = FloatBits(1.0f);
    rs[D3DRS_ADAPTIVETESS_W] = FloatBits(0.0f);
    rs[D3DRS_ENABLEADAPTIVETESSELLATION] = FALSE;
    rs[D3DRS_TWOSIDEDSTENCILMODE] = FALSE;
    rs[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_COLORWRITEENABLE1] = 0xF;
    rs[D3DRS_COLORWRITEENABLE2] = 0xF;
    rs[D3DRS_COLORWRITEENABLE3] = 0xF;
    rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_SRGBWRITEENABLE] = 0;
    rs[D3DRS_DEPTHBIAS] = 0;
    rs[D3DRS_SEPARATEALPHABLENDENABLE] = FALSE;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

    for (UINT s = 0; s < kStageCount; ++s) {
        DWORD* ts = stageStates_[s];
        ts[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        ts[D3DTSS_TEXCOORDINDEX] = s;
        ts[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        ts[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }
    for (UINT s = 0; s < kSamplerCount; ++s) {
        DWORD* ss = samplerStates_[s];
        ss[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        ss[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        ss[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        ss[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        ss[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        ss[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        ss[D3DSAMP_MAXANISOTROPY] = 1;
    }
    for (auto& m : world_) m = Identity();
    view_ = projection_ = Identity();
    for (auto& m : textureTransforms_) m = Identity();
    viewport_ = D3DVIEWPORT9{0, 0, present_.BackBufferWidth, present_.BackBufferHeight, 0.0f, 1.0f};
}

// ---------------------------------------------------------------------------
// IUnknown

HRESULT Device::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DDevice9) {
        AddRef();
        *object = static_cast<IDirect3DDevice9*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG Device::AddRef() { return ++refs_; }

ULONG Device::Release() {
    if (refs_ == 0) {
        ReportFailure(S_OK, "IDirect3DDevice9::Release", "Release without a reference");
        return 0;
    }
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

bool Device::OwnedByThis(const DeviceChild* child) const { return child && child->OwnerDevice() == this; }

// ---------------------------------------------------------------------------
// Device queries

HRESULT Device::TestCooperativeLevel() { return lost_ ? D3DERR_DEVICELOST : D3D_OK; }

UINT Device::GetAvailableTextureMem() { return 256u << 20; }

HRESULT Device::GetDirect3D(IDirect3D9** direct3d) {
    if (!direct3d) return InvalidCall("IDirect3DDevice9::GetDirect3D", "null output");
    parent_->AddRef();
    *direct3d = parent_;
    return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
    if (!caps) return InvalidCall("IDirect3DDevice9::GetDeviceCaps", "null output");
    *caps = caps_;
    ApplyDeviceCapsHook(caps);
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (!mode) return InvalidCall("IDirect3DDevice9::GetDisplayMode", "null output");
    if (swapChain != 0) return InvalidCall("IDirect3DDevice9::GetDisplayMode", "no such swap chain");
    *mode = D3DDISPLAYMODE{kAdapterWidth, kAdapterHeight, kAdapterRefreshRate, kAdapterFormat};
    return D3D_OK;
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) {
    if (!parameters) return InvalidCall("IDirect3DDevice9::GetCreationParameters", "null output");
    *parameters = creation_;
    return D3D_OK;
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** backBuffer) {
    static const char* method = "IDirect3DDevice9::GetBackBuffer";
    if (!backBuffer) return InvalidCall(method, "null output");
    *backBuffer = nullptr;
    if (swapChain != 0 || index >= present_.BackBufferCount || type != D3DBACKBUFFER_TYPE_MONO)
        return InvalidCall(method, "no such back buffer");
    backBuffer_->AddRef();
    *backBuffer = backBuffer_;
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** target) {
    static const char* method = "IDirect3DDevice9::GetRenderTarget";
    if (!target) return InvalidCall(method, "null output");
    *target = nullptr;
    if (index >= caps_.NumSimultaneousRTs) return InvalidCall(method, "no such render target");
    backBuffer_->AddRef();
    *target = backBuffer_;
    return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (!surface) return InvalidCall("IDirect3DDevice9::GetDepthStencilSurface", "null output");
    *surface = nullptr;
    if (!depthStencil_) return D3DERR_NOTFOUND;
    depthStencil_->AddRef();
    *surface = depthStencil_;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Fixed-function state

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    static const char* method = "IDirect3DDevice9::SetTransform";
    if (!matrix) return InvalidCall(method, "null matrix");
    const int slot = TransformSlot(state);
    if (slot < 0) return InvalidCall(method, "unknown transform");
    if (slot < 256)
        world_[slot] = *matrix;
    else if (slot == 256)
        view_ = *matrix;
    else if (slot == 257)
        projection_ = *matrix;
    else
        textureTransforms_[slot - 258] = *matrix;
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    static const char* method = "IDirect3DDevice9::GetTransform";
    if (!matrix) return InvalidCall(method, "null output");
    const int slot = TransformSlot(state);
    if (slot < 0) return InvalidCall(method, "unknown transform");
    if (slot < 256)
        *matrix = world_[slot];
    else if (slot == 256)
        *matrix = view_;
    else if (slot == 257)
        *matrix = projection_;
    else
        *matrix = textureTransforms_[slot - 258];
    return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* viewport) {
    static const char* method = "IDirect3DDevice9::SetViewport";
    if (!viewport) return InvalidCall(method, "null viewport");
    const D3DVIEWPORT9& v = *viewport;
    const std::uint64_t right = std::uint64_t(v.X) + v.Width, bottom = std::uint64_t(v.Y) + v.Height;
    if (v.Width == 0 || v.Height == 0 || right > present_.BackBufferWidth || bottom > present_.BackBufferHeight)
        return InvalidCall(method, "viewport is empty or outside the render target");
    if (!(v.MinZ >= 0.0f && v.MinZ <= 1.0f && v.MaxZ >= 0.0f && v.MaxZ <= 1.0f))
        return InvalidCall(method, "depth range outside [0, 1]");
    viewport_ = v;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport) return InvalidCall("IDirect3DDevice9::GetViewport", "null output");
    *viewport = viewport_;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* material) {
    if (!material) return InvalidCall("IDirect3DDevice9::SetMaterial", "null material");
    material_ = *material;
    return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* material) {
    if (!material) return InvalidCall("IDirect3DDevice9::GetMaterial", "null output");
    *material = material_;
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light) {
    static const char* method = "IDirect3DDevice9::SetLight";
    if (!light) return InvalidCall(method, "null light");
    const D3DLIGHT9& l = *light;
    if (l.Type < D3DLIGHT_POINT || l.Type > D3DLIGHT_DIRECTIONAL) return InvalidCall(method, "unknown light type");
    if (l.Type != D3DLIGHT_POINT) {
        const float d = l.Direction.x * l.Direction.x + l.Direction.y * l.Direction.y + l.Direction.z * l.Direction.z;
        if (!(d > 0.0f)) return InvalidCall(method, "zero light direction");
    }
    if (l.Type != D3DLIGHT_DIRECTIONAL) {
        if (!(l.Range >= 0.0f && l.Range <= std::sqrt(3.402823466e38f))) return InvalidCall(method, "bad range");
        if (!(l.Attenuation0 >= 0.0f && l.Attenuation1 >= 0.0f && l.Attenuation2 >= 0.0f))
            return InvalidCall(method, "negative attenuation");
    }
    if (l.Type == D3DLIGHT_SPOT &&
        !(l.Theta >= 0.0f && l.Phi >= l.Theta && l.Phi <= 3.14159265f))
        return InvalidCall(method, "bad spot cone angles");
    auto it = lights_.find(index);
    if (it == lights_.end())
        lights_.emplace(index, LightSlot{l, false});
    else
        it->second.light = l;
    return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light) {
    static const char* method = "IDirect3DDevice9::GetLight";
    if (!light) return InvalidCall(method, "null output");
    auto it = lights_.find(index);
    if (it == lights_.end()) return InvalidCall(method, "light was never set");
    *light = it->second.light;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
    auto it = lights_.find(index);
    if (enable && (it == lights_.end() || !it->second.enabled)) {
        UINT enabled = 0;
        for (const auto& [i, slot] : lights_) enabled += slot.enabled ? 1 : 0;
        if (enabled >= kMaxLightsEnabled)
            return InvalidCall("IDirect3DDevice9::LightEnable", "more lights than the device can use at once");
    }
    if (it == lights_.end()) {
        // Enabling a light never set gives it the default: a white
        // directional light shining along +z.
        D3DLIGHT9 l{};
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
        l.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
        it = lights_.emplace(index, LightSlot{l, false}).first;
    }
    it->second.enabled = enable != FALSE;
    return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
    static const char* method = "IDirect3DDevice9::GetLightEnable";
    if (!enable) return InvalidCall(method, "null output");
    auto it = lights_.find(index);
    if (it == lights_.end()) return InvalidCall(method, "light was never set");
    *enable = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!IsRenderState(state)) return InvalidCall("IDirect3DDevice9::SetRenderState", "unknown render state");
    renderStates_[state] = value;
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    static const char* method = "IDirect3DDevice9::GetRenderState";
    if (!value) return InvalidCall(method, "null output");
    if (!IsRenderState(state)) return InvalidCall(method, "unknown render state");
    *value = renderStates_[state];
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= kStageCount || !IsStageState(type))
        return InvalidCall("IDirect3DDevice9::SetTextureStageState", "unknown stage or state");
    stageStates_[stage][type] = value;
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    static const char* method = "IDirect3DDevice9::GetTextureStageState";
    if (!value) return InvalidCall(method, "null output");
    if (stage >= kStageCount || !IsStageState(type)) return InvalidCall(method, "unknown stage or state");
    *value = stageStates_[stage][type];
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kSamplerCount || !IsSamplerState(type))
        return InvalidCall("IDirect3DDevice9::SetSamplerState", "unknown sampler or state");
    samplerStates_[sampler][type] = value;
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    static const char* method = "IDirect3DDevice9::GetSamplerState";
    if (!value) return InvalidCall(method, "null output");
    if (sampler >= kSamplerCount || !IsSamplerState(type)) return InvalidCall(method, "unknown sampler or state");
    *value = samplerStates_[sampler][type];
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    static const char* method = "IDirect3DDevice9::SetTexture";
    if (stage >= kSamplerCount) return InvalidCall(method, "no such stage");
    BaseTextureImpl* impl = ToTextureImpl(texture);
    if (texture) {
        if (!OwnedByThis(impl)) return InvalidCall(method, "texture of another device");
        const D3DPOOL pool = impl->Setup().pool;
        if (pool == D3DPOOL_SYSTEMMEM || pool == D3DPOOL_SCRATCH)
            return InvalidCall(method, "system-memory and scratch textures cannot be used for drawing");
    }
    Rebind(textures_[stage], impl);
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    static const char* method = "IDirect3DDevice9::GetTexture";
    if (!texture) return InvalidCall(method, "null output");
    *texture = nullptr;
    if (stage >= kSamplerCount) return InvalidCall(method, "no such stage");
    if (textures_[stage]) {
        *texture = textures_[stage]->Interface();
        (*texture)->AddRef();
    }
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Vertex input

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** declaration) {
    static const char* method = "IDirect3DDevice9::CreateVertexDeclaration";
    if (!declaration) return InvalidCall(method, "null output");
    *declaration = nullptr;
    if (!elements) return InvalidCall(method, "null elements");
    UINT count = 0;
    const char* why = nullptr;
    if (!CheckVertexElements(elements, &count, &why)) return InvalidCall(method, why);
    VertexDeclaration* d = nullptr;
    HRESULT hr = VertexDeclaration::Create(this, elements, count, &d);
    if (FAILED(hr)) return hr;
    *declaration = d;
    return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    VertexDeclaration* d = static_cast<VertexDeclaration*>(declaration);
    if (declaration && !OwnedByThis(d))
        return InvalidCall("IDirect3DDevice9::SetVertexDeclaration", "declaration of another device");
    Rebind(declaration_, d);
    fvf_ = 0;
    return D3D_OK;
}

HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) {
    if (!declaration) return InvalidCall("IDirect3DDevice9::GetVertexDeclaration", "null output");
    *declaration = declaration_;
    if (declaration_) declaration_->AddRef();
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf) {
    const char* why = nullptr;
    if (!CheckFvf(fvf, &why)) return InvalidCall("IDirect3DDevice9::SetFVF", why);
    Rebind<VertexDeclaration>(declaration_, nullptr);
    fvf_ = fvf;
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
    if (!fvf) return InvalidCall("IDirect3DDevice9::GetFVF", "null output");
    *fvf = fvf_;
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
    static const char* method = "IDirect3DDevice9::SetStreamSource";
    if (stream >= kMaxStreams) return InvalidCall(method, "no such stream");
    VertexBuffer* vb = static_cast<VertexBuffer*>(buffer);
    if (buffer) {
        if (!OwnedByThis(vb)) return InvalidCall(method, "buffer of another device");
        if (stride > kMaxStreamStride) return InvalidCall(method, "stride above the device's limit");
        if (offset >= vb->Store().Setup().length) return InvalidCall(method, "offset at or past the end");
    }
    Rebind(stream_, vb);
    streamOffset_ = buffer ? offset : 0;
    streamStride_ = buffer ? stride : 0;
    return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) {
    static const char* method = "IDirect3DDevice9::GetStreamSource";
    if (!buffer || !offset || !stride) return InvalidCall(method, "null output");
    *buffer = nullptr;
    if (stream >= kMaxStreams) return InvalidCall(method, "no such stream");
    *buffer = stream_;
    if (stream_) stream_->AddRef();
    *offset = streamOffset_;
    *stride = streamStride_;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* indices) {
    IndexBuffer* ib = static_cast<IndexBuffer*>(indices);
    if (indices && !OwnedByThis(ib)) return InvalidCall("IDirect3DDevice9::SetIndices", "buffer of another device");
    Rebind(indices_, ib);
    return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** indices) {
    if (!indices) return InvalidCall("IDirect3DDevice9::GetIndices", "null output");
    *indices = indices_;
    if (indices_) indices_->AddRef();
    return D3D_OK;
}
