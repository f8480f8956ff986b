#include "platform/d3d9/texture.h"

#include <algorithm>
#include <new>

#include "platform/d3d9/debug_report.h"
#include "platform/d3d9/device.h"

BaseTextureImpl::BaseTextureImpl(Device* device, const TextureSetup& setup) : DeviceChild(device), setup_(setup) {
    MarkAllDirty();
}

void BaseTextureImpl::MarkAllDirty() {
    for (UINT f = 0; f < FaceCount(); ++f) dirty_[f].Add(D3DBOX{0, 0, setup_.width, setup_.height, 0, setup_.depth});
}

void BaseTextureImpl::LevelWritten(UINT face, UINT level, const D3DBOX& box) {
    // Kept in the coordinates of the largest level.
    D3DBOX b;
    b.Left = box.Left << level;
    b.Top = box.Top << level;
    b.Front = box.Front << level;
    b.Right = std::min(box.Right << level, setup_.width);
    b.Bottom = std::min(box.Bottom << level, setup_.height);
    b.Back = std::min(box.Back << level, setup_.depth);
    dirty_[face].Add(b);
}

DWORD BaseTextureImpl::SetLODImpl(DWORD lod) {
    if (setup_.pool != D3DPOOL_MANAGED) return 0;
    const DWORD previous = managed_.lod;
    managed_.lod = std::min<DWORD>(lod, setup_.levels - 1);
    return previous;
}

DWORD BaseTextureImpl::SetPriorityImpl(DWORD priority) {
    if (setup_.pool != D3DPOOL_MANAGED) return 0;
    const DWORD previous = managed_.priority;
    managed_.priority = priority;
    return previous;
}

namespace {

// A dirty rectangle given by the caller, clipped to the largest level.
D3DBOX DirtyBoxFromRect(const RECT* rect, UINT width, UINT height) {
    if (!rect) return D3DBOX{0, 0, width, height, 0, 1};
    auto clip = [](LONG v, UINT limit) { return UINT(std::clamp<LONG>(v, 0, LONG(limit))); };
    return D3DBOX{clip(rect->left, width), clip(rect->top, height), clip(rect->right, width),
                  clip(rect->bottom, height), 0, 1};
}

void FillDesc(const Surface* level, D3DSURFACE_DESC* desc) { const_cast<Surface*>(level)->GetDesc(desc); }

// What every kind of texture answers the same way: the IUnknown,
// IDirect3DResource9 and IDirect3DBaseTexture9 methods, forwarded to the
// shared implementation. `kRelease` names Release in debug messages.
template <class ComInterface, D3DRESOURCETYPE kType, const IID& kIid, const char* kRelease>
class TextureObject : public ComInterface, public BaseTextureImpl {
public:
    TextureObject(Device* device, const TextureSetup& setup) : BaseTextureImpl(device, setup) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 || riid == IID_IDirect3DBaseTexture9 ||
            riid == kIid) {
            AddRef();
            *object = static_cast<ComInterface*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ChildAddRef(); }
    ULONG Release() override { return ChildRelease(kRelease); }
    HRESULT GetDevice(IDirect3DDevice9** device) override { return ChildGetDevice(device); }
    DWORD SetPriority(DWORD priority) override { return SetPriorityImpl(priority); }
    DWORD GetPriority() override { return managed_.priority; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return kType; }
    DWORD SetLOD(DWORD lod) override { return SetLODImpl(lod); }
    DWORD GetLOD() override { return managed_.lod; }
    DWORD GetLevelCount() override { return setup_.levels; }
    IDirect3DBaseTexture9* Interface() override { return this; }

protected:
    // The surface description of one level; targets and depth buffers are
    // never lockable.
    SurfaceSetup LevelSetup(UINT width, UINT height, bool targetsLockable = false) const {
        SurfaceSetup s;
        s.format = setup_.format;
        s.width = width;
        s.height = height;
        s.usage = setup_.usage;
        s.pool = setup_.pool;
        s.dynamic = setup_.usage & D3DUSAGE_DYNAMIC;
        s.lockable = (setup_.pool != D3DPOOL_DEFAULT || s.dynamic) &&
                     (targetsLockable || !(setup_.usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)));
        s.textureLevel = true;
        return s;
    }
};

constexpr char kTextureRelease[] = "IDirect3DTexture9::Release";
constexpr char kCubeTextureRelease[] = "IDirect3DCubeTexture9::Release";
constexpr char kVolumeTextureRelease[] = "IDirect3DVolumeTexture9::Release";

// ---------------------------------------------------------------------------

class Texture final
    : public TextureObject<IDirect3DTexture9, D3DRTYPE_TEXTURE, IID_IDirect3DTexture9, kTextureRelease> {
public:
    using TextureObject::TextureObject;
    ~Texture() override {
        for (Surface* s : levels_) delete s;
    }

    HRESULT Init() {
        levels_.reserve(setup_.levels);
        for (UINT i = 0; i < setup_.levels; ++i) {
            SurfaceSetup s = LevelSetup(MipSize(setup_.width, i), MipSize(setup_.height, i));
            Surface* level = nullptr;
            HRESULT hr = Surface::Create(OwnerDevice(), s, static_cast<IDirect3DTexture9*>(this), this, 0, i, &level);
            if (FAILED(hr)) return hr;
            levels_.push_back(level);
        }
        return D3D_OK;
    }

    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override {
        if (level >= levels_.size()) return InvalidCall("IDirect3DTexture9::GetLevelDesc", "no such level");
        if (!desc) return InvalidCall("IDirect3DTexture9::GetLevelDesc", "null output");
        FillDesc(levels_[level], desc);
        return D3D_OK;
    }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override {
        if (!surface) return InvalidCall("IDirect3DTexture9::GetSurfaceLevel", "null output");
        *surface = nullptr;
        if (level >= levels_.size()) return InvalidCall("IDirect3DTexture9::GetSurfaceLevel", "no such level");
        AddRef();
        *surface = levels_[level];
        return D3D_OK;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        if (level >= levels_.size()) {
            if (locked) *locked = D3DLOCKED_RECT{0, nullptr};
            return InvalidCall("IDirect3DTexture9::LockRect", "no such level");
        }
        return levels_[level]->LockRect(locked, rect, flags);
    }
    HRESULT UnlockRect(UINT level) override {
        if (level >= levels_.size()) return InvalidCall("IDirect3DTexture9::UnlockRect", "no such level");
        return levels_[level]->UnlockRect();
    }
    HRESULT AddDirtyRect(const RECT* rect) override {
        dirty_[0].Add(DirtyBoxFromRect(rect, setup_.width, setup_.height));
        return D3D_OK;
    }

    void FillView(TextureView* view) override {
        view->type = D3DRTYPE_TEXTURE;
        view->levelCount = std::min<UINT>(UINT(levels_.size()), kMaxTextureLevels);
        for (UINT i = 0; i < view->levelCount; ++i) view->levels[i] = levels_[i]->Pixels().View();
    }
    bool AnyLevelLocked() const override {
        return std::any_of(levels_.begin(), levels_.end(), [](const Surface* s) { return s->IsLocked(); });
    }
    Surface* Level(UINT face, UINT level) override {
        return face == 0 && level < levels_.size() ? levels_[level] : nullptr;
    }

private:
    std::vector<Surface*> levels_;
};

// ---------------------------------------------------------------------------

class CubeTexture final : public TextureObject<IDirect3DCubeTexture9, D3DRTYPE_CUBETEXTURE,
                                               IID_IDirect3DCubeTexture9, kCubeTextureRelease> {
public:
    using TextureObject::TextureObject;
    ~CubeTexture() override {
        for (auto& face : faces_)
            for (Surface* s : face) delete s;
    }

    HRESULT Init() {
        for (UINT f = 0; f < 6; ++f) {
            faces_[f].reserve(setup_.levels);
            for (UINT i = 0; i < setup_.levels; ++i) {
                SurfaceSetup s = LevelSetup(MipSize(setup_.width, i), MipSize(setup_.width, i));
                Surface* level = nullptr;
                HRESULT hr =
                    Surface::Create(OwnerDevice(), s, static_cast<IDirect3DCubeTexture9*>(this), this, f, i, &level);
                if (FAILED(hr)) return hr;
                faces_[f].push_back(level);
            }
        }
        return D3D_OK;
    }

    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override {
        if (level >= setup_.levels) return InvalidCall("IDirect3DCubeTexture9::GetLevelDesc", "no such level");
        if (!desc) return InvalidCall("IDirect3DCubeTexture9::GetLevelDesc", "null output");
        FillDesc(faces_[0][level], desc);
        return D3D_OK;
    }
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) override {
        if (!surface) return InvalidCall("IDirect3DCubeTexture9::GetCubeMapSurface", "null output");
        *surface = nullptr;
        if (face > D3DCUBEMAP_FACE_NEGATIVE_Z || level >= setup_.levels)
            return InvalidCall("IDirect3DCubeTexture9::GetCubeMapSurface", "no such face or level");
        AddRef();
        *surface = faces_[face][level];
        return D3D_OK;
    }
    HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                     DWORD flags) override {
        if (face > D3DCUBEMAP_FACE_NEGATIVE_Z || level >= setup_.levels) {
            if (locked) *locked = D3DLOCKED_RECT{0, nullptr};
            return InvalidCall("IDirect3DCubeTexture9::LockRect", "no such face or level");
        }
        return faces_[face][level]->LockRect(locked, rect, flags);
    }
    HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override {
        if (face > D3DCUBEMAP_FACE_NEGATIVE_Z || level >= setup_.levels)
            return InvalidCall("IDirect3DCubeTexture9::UnlockRect", "no such face or level");
        return faces_[face][level]->UnlockRect();
    }
    HRESULT AddDirtyRect(D3DCUBEMAP_FACES face, const RECT* rect) override {
        if (face > D3DCUBEMAP_FACE_NEGATIVE_Z) return InvalidCall("IDirect3DCubeTexture9::AddDirtyRect", "no such face");
        dirty_[face].Add(DirtyBoxFromRect(rect, setup_.width, setup_.height));
        return D3D_OK;
    }

    void FillView(TextureView* view) override {
        view->type = D3DRTYPE_CUBETEXTURE;
        view->levelCount = std::min<UINT>(setup_.levels, kMaxTextureLevels);
        for (UINT i = 0; i < view->levelCount; ++i) view->levels[i] = faces_[0][i]->Pixels().View();
    }
    bool AnyLevelLocked() const override {
        for (const auto& face : faces_)
            for (const Surface* s : face)
                if (s->IsLocked()) return true;
        return false;
    }
    Surface* Level(UINT face, UINT level) override {
        return face < 6 && level < faces_[face].size() ? faces_[face][level] : nullptr;
    }

private:
    std::vector<Surface*> faces_[6];
};

// ---------------------------------------------------------------------------

class VolumeTexture final : public TextureObject<IDirect3DVolumeTexture9, D3DRTYPE_VOLUMETEXTURE,
                                                 IID_IDirect3DVolumeTexture9, kVolumeTextureRelease> {
public:
    using TextureObject::TextureObject;
    ~VolumeTexture() override {
        for (Volume* v : levels_) delete v;
    }

    HRESULT Init() {
        levels_.reserve(setup_.levels);
        for (UINT i = 0; i < setup_.levels; ++i) {
            // Volumes are never targets: the usage does not decide.
            SurfaceSetup s = LevelSetup(MipSize(setup_.width, i), MipSize(setup_.height, i), true);
            Volume* level = nullptr;
            HRESULT hr = Volume::Create(OwnerDevice(), s, MipSize(setup_.depth, i),
                                        static_cast<IDirect3DVolumeTexture9*>(this), this, i, &level);
            if (FAILED(hr)) return hr;
            levels_.push_back(level);
        }
        return D3D_OK;
    }

    HRESULT GetLevelDesc(UINT level, D3DVOLUME_DESC* desc) override {
        if (level >= levels_.size()) return InvalidCall("IDirect3DVolumeTexture9::GetLevelDesc", "no such level");
        if (!desc) return InvalidCall("IDirect3DVolumeTexture9::GetLevelDesc", "null output");
        return levels_[level]->GetDesc(desc);
    }
    HRESULT GetVolumeLevel(UINT level, IDirect3DVolume9** volume) override {
        if (!volume) return InvalidCall("IDirect3DVolumeTexture9::GetVolumeLevel", "null output");
        *volume = nullptr;
        if (level >= levels_.size()) return InvalidCall("IDirect3DVolumeTexture9::GetVolumeLevel", "no such level");
        AddRef();
        *volume = levels_[level];
        return D3D_OK;
    }
    HRESULT LockBox(UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) override {
        if (level >= levels_.size()) {
            if (locked) *locked = D3DLOCKED_BOX{0, 0, nullptr};
            return InvalidCall("IDirect3DVolumeTexture9::LockBox", "no such level");
        }
        return levels_[level]->LockBox(locked, box, flags);
    }
    HRESULT UnlockBox(UINT level) override {
        if (level >= levels_.size()) return InvalidCall("IDirect3DVolumeTexture9::UnlockBox", "no such level");
        return levels_[level]->UnlockBox();
    }
    HRESULT AddDirtyBox(const D3DBOX* box) override {
        if (!box) {
            dirty_[0].Add(D3DBOX{0, 0, setup_.width, setup_.height, 0, setup_.depth});
        } else {
            D3DBOX b{std::min(box->Left, setup_.width),  std::min(box->Top, setup_.height),
                     std::min(box->Right, setup_.width), std::min(box->Bottom, setup_.height),
                     std::min(box->Front, setup_.depth), std::min(box->Back, setup_.depth)};
            dirty_[0].Add(b);
        }
        return D3D_OK;
    }

    void FillView(TextureView* view) override {
        view->type = D3DRTYPE_VOLUMETEXTURE;
        view->levelCount = std::min<UINT>(UINT(levels_.size()), kMaxTextureLevels);
        for (UINT i = 0; i < view->levelCount; ++i) view->levels[i] = levels_[i]->Pixels().View(0);
    }
    bool AnyLevelLocked() const override {
        return std::any_of(levels_.begin(), levels_.end(), [](const Volume* v) { return v->IsLocked(); });
    }
    Surface* Level(UINT, UINT) override { return nullptr; }
    Volume* VolumeLevel(UINT level) override { return level < levels_.size() ? levels_[level] : nullptr; }

private:
    std::vector<Volume*> levels_;
};

template <class T>
HRESULT Build(Device* device, const TextureSetup& setup, BaseTextureImpl** out) {
    T* texture = new (std::nothrow) T(device, setup);
    if (!texture) return E_OUTOFMEMORY;
    HRESULT hr = texture->Init();
    if (FAILED(hr)) {
        texture->Release();
        return hr;
    }
    *out = texture;
    return D3D_OK;
}

}  // namespace

BaseTextureImpl* ToTextureImpl(IDirect3DBaseTexture9* texture) {
    if (!texture) return nullptr;
    switch (texture->GetType()) {
        case D3DRTYPE_TEXTURE:
            return static_cast<Texture*>(static_cast<IDirect3DTexture9*>(texture));
        case D3DRTYPE_CUBETEXTURE:
            return static_cast<CubeTexture*>(static_cast<IDirect3DCubeTexture9*>(texture));
        case D3DRTYPE_VOLUMETEXTURE:
            return static_cast<VolumeTexture*>(static_cast<IDirect3DVolumeTexture9*>(texture));
        default:
            return nullptr;
    }
}

HRESULT CreateTextureObject(Device* device, const TextureSetup& setup, BaseTextureImpl** out) {
    switch (setup.type) {
        case D3DRTYPE_TEXTURE:
            return Build<Texture>(device, setup, out);
        case D3DRTYPE_CUBETEXTURE:
            return Build<CubeTexture>(device, setup, out);
        case D3DRTYPE_VOLUMETEXTURE:
            return Build<VolumeTexture>(device, setup, out);
        default:
            return D3DERR_INVALIDCALL;
    }
}
