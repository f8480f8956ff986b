// Pixel memory and the objects that expose it: IDirect3DSurface9 (a level
// or cube face of a texture, the back buffer, the depth buffer, or an
// off-screen plain surface) and IDirect3DVolume9 (a level of a volume
// texture).
#pragma once

#include <cstddef>
#include <memory>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/device_child.h"
#include "platform/d3d9/format_layout.h"
#include "platform/d3d9/render/draw_state.h"

// The bytes of one surface or volume level in its real format and pitches,
// zeroed at creation.
struct PixelStore {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0, height = 0, depth = 1;
    FormatLayout layout;
    UINT pitch = 0;         // bytes per row (of blocks)
    UINT rows = 0;          // rows (of blocks) per slice
    size_t slicePitch = 0;  // bytes per slice
    size_t size = 0;
    ZeroedBytes bits;

    // E_OUTOFMEMORY when the memory cannot be had; D3DERR_INVALIDCALL for a
    // format without storage.
    HRESULT Allocate(D3DFORMAT format, UINT width, UINT height, UINT depth);
    // Address of the pixel (or of the block holding it) at x, y in slice z.
    BYTE* Address(UINT x, UINT y, UINT z = 0) const {
        return bits.get() + z * slicePitch + size_t(y / layout.blockHeight) * pitch +
               size_t(x / layout.blockWidth) * layout.blockBytes;
    }
    SurfaceView View(UINT slice = 0) const;
};

// A region of a resource in the coordinates of its largest level.
struct DirtyRegion {
    bool any = false;
    D3DBOX box{};
    void Add(const D3DBOX& b);
    void Clear() { any = false; }
    // The region as it falls on a level of the given size.
    D3DBOX OnLevel(UINT level, UINT width, UINT height, UINT depth) const;
};

// A container told about writes into its levels.
class LevelOwner {
public:
    virtual void LevelWritten(UINT face, UINT level, const D3DBOX& box) = 0;

protected:
    ~LevelOwner() = default;
};

struct SurfaceSetup {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0, height = 0;
    DWORD usage = 0;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    bool lockable = true;
    bool dynamic = false;
    bool textureLevel = false;  // a level or face of a texture
};

class Surface final : public IDirect3DSurface9, public DeviceChild {
public:
    // Stand-alone (off-screen plain): counts its own references. Contained:
    // counts with `container` (a texture, or the device for its back and
    // depth buffers) and tells `owner` (may be null) about writes.
    static HRESULT Create(Device* device, const SurfaceSetup& setup, IUnknown* container, LevelOwner* owner,
                          UINT face, UINT level, Surface** out);
    ~Surface() override = default;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override { return ChildGetDevice(device); }
    DWORD SetPriority(DWORD) override { return 0; }
    DWORD GetPriority() override { return 0; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetContainer(REFIID riid, void** container) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    const SurfaceSetup& Setup() const { return setup_; }
    PixelStore& Pixels() { return store_; }
    bool IsLocked() const { return locked_; }
    bool IsContained() const { return container_ != nullptr; }

private:
    Surface(Device* device, const SurfaceSetup& setup, IUnknown* container, LevelOwner* owner, UINT face,
            UINT level);

    SurfaceSetup setup_;
    IUnknown* container_;
    LevelOwner* owner_;
    UINT face_, level_;
    PixelStore store_;
    bool locked_ = false;
};

class Volume final : public IDirect3DVolume9, public DeviceChild {
public:
    static HRESULT Create(Device* device, const SurfaceSetup& setup, UINT depth, IUnknown* container,
                          LevelOwner* owner, UINT level, Volume** out);
    ~Volume() override = default;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return container_->AddRef(); }
    ULONG Release() override { return container_->Release(); }
    HRESULT GetDevice(IDirect3DDevice9** device) override { return ChildGetDevice(device); }
    HRESULT GetContainer(REFIID riid, void** container) override;
    HRESULT GetDesc(D3DVOLUME_DESC* desc) override;
    HRESULT LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) override;
    HRESULT UnlockBox() override;

    const SurfaceSetup& Setup() const { return setup_; }
    PixelStore& Pixels() { return store_; }
    bool IsLocked() const { return locked_; }

private:
    Volume(Device* device, const SurfaceSetup& setup, IUnknown* container, LevelOwner* owner, UINT level);

    SurfaceSetup setup_;
    IUnknown* container_;
    LevelOwner* owner_;
    UINT level_;
    PixelStore store_;
    bool locked_ = false;
};

// Checks a lock rectangle (null: whole) against a level and its block size;
// fills `box` with it. False with a reason in `why` when it is bad.
bool CheckRect(const PixelStore& store, const RECT* rect, D3DBOX* box, const char** why);
