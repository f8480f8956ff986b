// Filling a texture's smaller levels from one of its levels.
#include <memory>
#include <vector>

#include "texture/filter.h"
#include "texture/surface_lock.h"
#include "texture/triangle_filter.h"

namespace {
bool IsPow2(UINT v) { return v != 0 && (v & (v - 1)) == 0; }

// Loads level `to` from level `from` of one face of a 2D, cube or volume
// texture.
HRESULT LoadLevel(IDirect3DBaseTexture9* texture, D3DRESOURCETYPE type, UINT face, UINT from, UINT to,
                  const PALETTEENTRY* palette, DWORD filter) {
    HRESULT hr;
    if (type == D3DRTYPE_VOLUMETEXTURE) {
        auto* volumes = static_cast<IDirect3DVolumeTexture9*>(texture);
        IDirect3DVolume9 *source = nullptr, *dest = nullptr;
        hr = volumes->GetVolumeLevel(from, &source);
        if (SUCCEEDED(hr)) hr = volumes->GetVolumeLevel(to, &dest);
        if (SUCCEEDED(hr)) hr = LoadVolumeFromVolume(dest, palette, nullptr, source, palette, nullptr, filter, 0);
        SafeRelease(dest);
        SafeRelease(source);
        return hr;
    }
    IDirect3DSurface9 *source = nullptr, *dest = nullptr;
    if (type == D3DRTYPE_CUBETEXTURE) {
        auto* cube = static_cast<IDirect3DCubeTexture9*>(texture);
        hr = cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), from, &source);
        if (SUCCEEDED(hr)) hr = cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), to, &dest);
    } else {
        auto* flat = static_cast<IDirect3DTexture9*>(texture);
        hr = flat->GetSurfaceLevel(from, &source);
        if (SUCCEEDED(hr)) hr = flat->GetSurfaceLevel(to, &dest);
    }
    if (SUCCEEDED(hr)) hr = LoadSurfaceFromSurface(dest, palette, nullptr, source, palette, nullptr, filter, 0);
    SafeRelease(dest);
    SafeRelease(source);
    return hr;
}

// Level `level` of one face of a 2D or cube texture; null on failure.
IDirect3DSurface9* FlatLevel(IDirect3DBaseTexture9* texture, D3DRESOURCETYPE type, UINT face, UINT level) {
    IDirect3DSurface9* surface = nullptr;
    const HRESULT hr =
        type == D3DRTYPE_CUBETEXTURE
            ? static_cast<IDirect3DCubeTexture9*>(texture)->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &surface)
            : static_cast<IDirect3DTexture9*>(texture)->GetSurfaceLevel(level, &surface);
    return SUCCEEDED(hr) ? surface : nullptr;
}

// The triangle filter takes every level from the source level: one pass
// over the source fills them all, instead of one pass per level. Only for
// surfaces that lock in place; S_FALSE leaves the job to LoadLevel.
HRESULT TriangleLevels(IDirect3DBaseTexture9* texture, D3DRESOURCETYPE type, UINT face, UINT from, UINT levels,
                       const PALETTEENTRY* palette, DWORD filter) {
    if (type == D3DRTYPE_VOLUMETEXTURE) return S_FALSE;
    std::vector<IDirect3DSurface9*> surfaces;
    auto release = [&surfaces] {
        for (IDirect3DSurface9*& surface : surfaces) SafeRelease(surface);
    };
    for (UINT level = from; level < levels; ++level) {
        surfaces.push_back(FlatLevel(texture, type, face, level));
        if (!surfaces.back()) {
            release();
            return S_FALSE;
        }
    }
    // Memory the device may lose goes the careful way, level by level.
    D3DSURFACE_DESC desc = {};
    if (FAILED(surfaces[0]->GetDesc(&desc)) || desc.Pool == D3DPOOL_DEFAULT) {
        release();
        return S_FALSE;
    }
    std::vector<std::unique_ptr<SurfaceLock>> locks;
    HRESULT hr = S_OK;
    for (size_t n = 0; n < surfaces.size() && hr == S_OK; ++n) {
        locks.push_back(std::make_unique<SurfaceLock>());
        if (FAILED(locks.back()->Lock(surfaces[n], nullptr, n == 0))) hr = S_FALSE;
    }
    if (hr == S_OK) {
        PixelSurface source = locks[0]->Describe();
        source.extentWidth = source.extentHeight = 0;
        source.palette = palette;
        std::vector<PixelSurface> dests;
        for (size_t n = 1; n < locks.size(); ++n) {
            dests.push_back(locks[n]->Describe());
            dests.back().palette = palette;
        }
        hr = TriangleFilterLevels(dests, source, filter);
    }
    // Destinations first, the source last, as a level-by-level copy does.
    for (size_t n = locks.size(); n-- > 0;) {
        const HRESULT unlocked = locks[n]->Unlock();
        if (SUCCEEDED(hr) && FAILED(unlocked)) hr = unlocked;
    }
    locks.clear();
    release();
    return hr;
}
}  // namespace

HRESULT GenerateMipLevels(IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette, UINT sourceLevel,
                          DWORD filter) {
    if (!texture) return D3DERR_INVALIDCALL;
    const D3DRESOURCETYPE type = texture->GetType();
    if (type != D3DRTYPE_TEXTURE && type != D3DRTYPE_VOLUMETEXTURE && type != D3DRTYPE_CUBETEXTURE)
        return D3DERR_INVALIDCALL;
    if (sourceLevel == USE_DEFAULT) sourceLevel = 0;
    const UINT levels = texture->GetLevelCount();
    if (sourceLevel >= levels) return D3DERR_INVALIDCALL;

    if (filter == USE_DEFAULT) {
        bool pow2;
        if (type == D3DRTYPE_VOLUMETEXTURE) {
            D3DVOLUME_DESC desc = {};
            HRESULT hr = static_cast<IDirect3DVolumeTexture9*>(texture)->GetLevelDesc(sourceLevel, &desc);
            if (FAILED(hr)) return hr;
            pow2 = IsPow2(desc.Width) && IsPow2(desc.Height) && IsPow2(desc.Depth);
        } else {
            D3DSURFACE_DESC desc = {};
            HRESULT hr = type == D3DRTYPE_CUBETEXTURE
                             ? static_cast<IDirect3DCubeTexture9*>(texture)->GetLevelDesc(sourceLevel, &desc)
                             : static_cast<IDirect3DTexture9*>(texture)->GetLevelDesc(sourceLevel, &desc);
            if (FAILED(hr)) return hr;
            pow2 = IsPow2(desc.Width) && IsPow2(desc.Height);
        }
        filter = pow2 ? FILTER_BOX : FILTER_DEFAULT;
        if (type == D3DRTYPE_CUBETEXTURE) filter |= FILTER_MIRROR;
    }
    // Levels of one texture share one encoding: gamma on both sides or on
    // neither.
    if (filter & FILTER_SRGB_OUT)
        filter |= FILTER_SRGB_IN;
    else
        filter &= ~(FILTER_SRGB_IN | FILTER_SRGB_OUT);

    const DWORD kind = filter & 0xFF;
    const bool chained = kind == FILTER_POINT || kind == FILTER_BOX;
    const UINT faces = type == D3DRTYPE_CUBETEXTURE ? 6 : 1;
    for (UINT face = 0; face < faces; ++face) {
        if (kind == FILTER_TRIANGLE && sourceLevel + 1 < levels) {
            const HRESULT hr = TriangleLevels(texture, type, face, sourceLevel, levels, palette, filter);
            if (FAILED(hr)) return hr;
            if (hr == S_OK) continue;
        }
        for (UINT level = sourceLevel + 1; level < levels; ++level) {
            const HRESULT hr =
                LoadLevel(texture, type, face, chained ? level - 1 : sourceLevel, level, palette, filter);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}
