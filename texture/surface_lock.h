// Locking a surface or volume for the copy engine, through a temporary copy
// in system memory when the resource itself cannot be locked (or is both
// source and destination of one copy). Internal to the texture library.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "texture/pixel_codec.h"

class SurfaceLock {
public:
    SurfaceLock() = default;
    ~SurfaceLock();
    SurfaceLock(const SurfaceLock&) = delete;
    SurfaceLock& operator=(const SurfaceLock&) = delete;

    // Locks `rect` (null: the whole surface) of `surface`, widened to whole
    // 4x4 blocks for DXT formats and to even columns for the two-pixel
    // formats. D3DERR_INVALIDCALL when the rectangle is not inside the
    // surface. `forceTemporary` locks a copy even if the surface would lock.
    HRESULT Lock(IDirect3DSurface9* surface, const RECT* rect, bool readOnly, bool forceTemporary = false);
    // Unlocks; a written temporary goes back to the surface. Returns the
    // first failure.
    HRESULT Unlock();

    // The locked bits as the copy engine sees them: the widened area, with
    // the requested rectangle as the box.
    PixelSurface Describe() const;
    const D3DSURFACE_DESC& Desc() const { return desc_; }
    const RECT& Requested() const { return requested_; }

private:
    HRESULT LockTemporary();
    HRESULT WriteBack();

    IDirect3DSurface9* surface_ = nullptr;
    IDirect3DTexture9* temporary_ = nullptr;
    IDirect3DSurface9* temporarySurface_ = nullptr;
    IDirect3DSurface9* locked_ = nullptr;  // whichever of the two is locked
    D3DSURFACE_DESC desc_ = {};
    RECT requested_ = {}, widened_ = {};
    D3DLOCKED_RECT bits_ = {};
    DWORD flags_ = 0;
    bool readOnly_ = true;
};

class VolumeLock {
public:
    VolumeLock() = default;
    ~VolumeLock();
    VolumeLock(const VolumeLock&) = delete;
    VolumeLock& operator=(const VolumeLock&) = delete;

    HRESULT Lock(IDirect3DVolume9* volume, const D3DBOX* box, bool readOnly, bool forceTemporary = false);
    HRESULT Unlock();
    PixelSurface Describe() const;
    const D3DVOLUME_DESC& Desc() const { return desc_; }
    const D3DBOX& Requested() const { return requested_; }

private:
    IDirect3DVolume9* volume_ = nullptr;
    IDirect3DVolumeTexture9* temporary_ = nullptr;
    IDirect3DVolume9* temporaryVolume_ = nullptr;
    IDirect3DVolume9* locked_ = nullptr;
    D3DVOLUME_DESC desc_ = {};
    D3DBOX requested_ = {}, widened_ = {};
    D3DLOCKED_BOX bits_ = {};
    bool readOnly_ = true;
};
