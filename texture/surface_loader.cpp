// Loading surfaces and volumes from pixels in memory or from other
// surfaces and volumes, through the copy engine.
#include <cstring>

#include "texture/copy_engine.h"
#include "texture/debug_mute.h"
#include "texture/filter.h"
#include "texture/surface_lock.h"

namespace {
bool SamePalettes(const PALETTEENTRY* a, const PALETTEENTRY* b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return std::memcmp(a, b, 256 * sizeof(PALETTEENTRY)) == 0;
}

LONG RectWidth(const RECT& r) { return r.right - r.left; }
LONG RectHeight(const RECT& r) { return r.bottom - r.top; }

HRESULT DescribeSource(PixelSurface& source, const void* pixels, D3DFORMAT format, UINT rowPitch,
                       UINT slicePitch, const PALETTEENTRY* palette, const D3DBOX& box, D3DCOLOR colourKey) {
    if (box.Left > box.Right || box.Top > box.Bottom || box.Front > box.Back) return D3DERR_INVALIDCALL;
    source.pixels = static_cast<BYTE*>(const_cast<void*>(pixels));
    source.format = format;
    source.rowPitch = rowPitch;
    source.slicePitch = slicePitch;
    source.box = box;
    source.palette = palette;
    source.colourKey = colourKey;
    return S_OK;
}
}  // namespace

HRESULT LoadSurfaceFromPixels(IDirect3DSurface9* dest, const PALETTEENTRY* destPalette, const RECT* destRect,
                              const void* source, D3DFORMAT sourceFormat, UINT sourcePitch,
                              const PALETTEENTRY* sourcePalette, const RECT* sourceRect, DWORD filter,
                              D3DCOLOR colourKey) {
    if (!dest || !source || !sourceRect) return D3DERR_INVALIDCALL;
    if (filter == USE_DEFAULT) filter = FILTER_DEFAULT;
    if (!IsValidFilter(filter)) return D3DERR_INVALIDCALL;
    if (sourceRect->left < 0 || sourceRect->top < 0) return D3DERR_INVALIDCALL;

    PixelSurface from;
    const D3DBOX box = {UINT(sourceRect->left), UINT(sourceRect->top), UINT(sourceRect->right),
                        UINT(sourceRect->bottom), 0, 1};
    if (sourceRect->right < sourceRect->left || sourceRect->bottom < sourceRect->top) return D3DERR_INVALIDCALL;
    HRESULT hr = DescribeSource(from, source, sourceFormat, sourcePitch, 0, sourcePalette, box, colourKey);
    if (FAILED(hr)) return hr;

    SurfaceLock lock;
    hr = lock.Lock(dest, destRect, false);
    if (FAILED(hr)) return hr;
    PixelSurface to = lock.Describe();
    to.palette = destPalette;
    hr = CopyPixels(to, from, filter);
    const HRESULT unlocked = lock.Unlock();
    if (FAILED(hr)) return hr;
    return FAILED(unlocked) ? unlocked : S_OK;
}

HRESULT LoadSurfaceFromSurface(IDirect3DSurface9* dest, const PALETTEENTRY* destPalette, const RECT* destRect,
                               IDirect3DSurface9* source, const PALETTEENTRY* sourcePalette,
                               const RECT* sourceRect, DWORD filter, D3DCOLOR colourKey) {
    if (!dest || !source) return D3DERR_INVALIDCALL;
    // Checked here too: the device's own copy below never looks at it.
    if (filter != USE_DEFAULT && !IsValidFilter(filter)) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC destDesc = {}, sourceDesc = {};
    HRESULT hr = dest->GetDesc(&destDesc);
    if (SUCCEEDED(hr)) hr = source->GetDesc(&sourceDesc);
    if (FAILED(hr)) return hr;
    const RECT destWhole = {0, 0, LONG(destDesc.Width), LONG(destDesc.Height)};
    const RECT sourceWhole = {0, 0, LONG(sourceDesc.Width), LONG(sourceDesc.Height)};
    const RECT destArea = destRect ? *destRect : destWhole;
    const RECT sourceArea = sourceRect ? *sourceRect : sourceWhole;

    // The device copies by itself when nothing needs converting.
    if ((filter & 0xFFFF) != FILTER_BOX && colourKey == 0 && SamePalettes(destPalette, sourcePalette) &&
        RectWidth(destArea) == RectWidth(sourceArea) && RectHeight(destArea) == RectHeight(sourceArea) &&
        source != dest) {
        IDirect3DDevice9* device = nullptr;
        if (SUCCEEDED(dest->GetDevice(&device))) {
            HRESULT fast = E_FAIL;
            DebugMute(TRUE);
            if (sourceDesc.Pool == D3DPOOL_SYSTEMMEM && destDesc.Pool == D3DPOOL_DEFAULT) {
                const POINT at = {destArea.left, destArea.top};
                fast = device->UpdateSurface(source, &sourceArea, dest, &at);
            } else if (sourceDesc.Pool == D3DPOOL_DEFAULT && destDesc.Pool == D3DPOOL_DEFAULT) {
                fast = device->StretchRect(source, &sourceArea, dest, &destArea, D3DTEXF_NONE);
            }
            DebugMute(FALSE);
            device->Release();
            if (SUCCEEDED(fast)) return S_OK;
        }
    }

    // A surface copied onto itself is read from a copy.
    SurfaceLock lock;
    hr = lock.Lock(source, sourceRect, true, source == dest);
    if (FAILED(hr)) return hr;
    const PixelSurface from = lock.Describe();
    const RECT inLock = {LONG(from.box.Left), LONG(from.box.Top), LONG(from.box.Right), LONG(from.box.Bottom)};
    hr = LoadSurfaceFromPixels(dest, destPalette, destRect, from.pixels, from.format, from.rowPitch, sourcePalette,
                               &inLock, filter, colourKey);
    lock.Unlock();
    if (FAILED(hr)) return hr;

    if (sourceDesc.Pool == D3DPOOL_DEFAULT && destDesc.Pool != D3DPOOL_DEFAULT) {
        // What was read from a lost device's memory is not to be trusted.
        IDirect3DDevice9* device = nullptr;
        if (SUCCEEDED(dest->GetDevice(&device))) {
            const HRESULT level = device->TestCooperativeLevel();
            device->Release();
            if (level != S_OK) return D3DERR_DEVICELOST;
        }
    }
    return S_OK;
}

HRESULT LoadVolumeFromMemory(IDirect3DVolume9* dest, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                             const void* source, D3DFORMAT sourceFormat, UINT sourceRowPitch,
                             UINT sourceSlicePitch, const PALETTEENTRY* sourcePalette, const D3DBOX* sourceBox,
                             DWORD filter, D3DCOLOR colourKey) {
    if (!dest || !source || !sourceBox) return D3DERR_INVALIDCALL;
    if (filter == USE_DEFAULT) filter = FILTER_DEFAULT;
    if (!IsValidFilter(filter)) return D3DERR_INVALIDCALL;
    PixelSurface from;
    HRESULT hr = DescribeSource(from, source, sourceFormat, sourceRowPitch, sourceSlicePitch, sourcePalette,
                                *sourceBox, colourKey);
    if (FAILED(hr)) return hr;
    VolumeLock lock;
    hr = lock.Lock(dest, destBox, false);
    if (FAILED(hr)) return hr;
    PixelSurface to = lock.Describe();
    to.palette = destPalette;
    hr = CopyPixels(to, from, filter);
    lock.Unlock();
    return FAILED(hr) ? hr : S_OK;
}

HRESULT LoadVolumeFromVolume(IDirect3DVolume9* dest, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                             IDirect3DVolume9* source, const PALETTEENTRY* sourcePalette, const D3DBOX* sourceBox,
                             DWORD filter, D3DCOLOR colourKey) {
    if (!dest || !source) return D3DERR_INVALIDCALL;
    VolumeLock lock;
    HRESULT hr = lock.Lock(source, sourceBox, true, source == dest);
    if (FAILED(hr)) return hr;
    const PixelSurface from = lock.Describe();
    hr = LoadVolumeFromMemory(dest, destPalette, destBox, from.pixels, from.format, from.rowPitch, from.slicePitch,
                              sourcePalette, &from.box, filter, colourKey);
    lock.Unlock();
    return hr;
}
