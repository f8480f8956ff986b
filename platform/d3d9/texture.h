// Textures: 2D, cube and volume, each a chain of levels in its own memory.
// Levels count their references with their texture.
#pragma once

#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/device_child.h"
#include "platform/d3d9/render/draw_state.h"
#include "platform/d3d9/surface.h"

struct TextureSetup {
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    UINT width = 0, height = 0, depth = 1;  // cube textures: width = height = edge length
    UINT levels = 0;                        // already settled: at least 1
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_MANAGED;
};

// What the device needs of every kind of texture.
class BaseTextureImpl : public DeviceChild, public LevelOwner {
public:
    const TextureSetup& Setup() const { return setup_; }
    UINT FaceCount() const { return setup_.type == D3DRTYPE_CUBETEXTURE ? 6 : 1; }
    virtual IDirect3DBaseTexture9* Interface() = 0;
    virtual void FillView(TextureView* view) = 0;
    virtual bool AnyLevelLocked() const = 0;
    // Levels of 2D and cube textures (null for volume textures).
    virtual Surface* Level(UINT face, UINT level) = 0;
    virtual Volume* VolumeLevel(UINT) { return nullptr; }

    DirtyRegion& Dirty(UINT face) { return dirty_[face]; }
    void MarkAllDirty();
    void LevelWritten(UINT face, UINT level, const D3DBOX& box) override;

protected:
    BaseTextureImpl(Device* device, const TextureSetup& setup);

    DWORD SetLODImpl(DWORD lod);
    DWORD SetPriorityImpl(DWORD priority);

    TextureSetup setup_;
    ManagedSettings managed_;
    DirtyRegion dirty_[6];
};

// The device's own object behind a texture interface it handed out.
BaseTextureImpl* ToTextureImpl(IDirect3DBaseTexture9* texture);

HRESULT CreateTextureObject(Device* device, const TextureSetup& setup, BaseTextureImpl** out);
