// Settling a texture description that the device can create: format, sizes
// within its limits and power-of-two rules, block alignment, level count.
#include <algorithm>

#include "texture/pixel_format.h"
#include "texture/texture_from_file.h"

namespace {
constexpr DWORD kBadUsageBits = 0xFFE039EC;

bool IsPow2(UINT v) { return v != 0 && (v & (v - 1)) == 0; }

UINT RoundUpPow2(UINT v) {
    UINT p = 1;
    while (p < v && p < 0x80000000u) p <<= 1;
    return p < v ? v : p;
}

UINT ChainLength(UINT largest) {
    UINT levels = 1;
    while (largest > 1) {
        largest >>= 1;
        ++levels;
    }
    return levels;
}

UINT ValueOr(const UINT* p) { return p ? *p : USE_DEFAULT; }
}  // namespace

HRESULT AdjustTextureRequirements(IDirect3DDevice9* device, UINT* widthIo, UINT* heightIo, UINT* depthIo,
                                  UINT* mipLevelsIo, DWORD usage, D3DFORMAT* formatIo, D3DPOOL pool,
                                  D3DRESOURCETYPE resourceType) {
    if (usage == USE_DEFAULT) usage = 0;
    if ((usage & kBadUsageBits) != 0 || DWORD(pool) > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    const bool scratch = pool == D3DPOOL_SCRATCH;
    if (!scratch && !device) return D3DERR_INVALIDCALL;

    D3DFORMAT format = formatIo ? *formatIo : D3DFMT_UNKNOWN;
    if (DWORD(format) == USE_DEFAULT) format = D3DFMT_UNKNOWN;
    if (!scratch) {
        format = FindClosestDeviceFormat(device, usage, resourceType, LookUpFormatInfo(format));
        if (format == D3DFMT_UNKNOWN) return D3DERR_NOTAVAILABLE;
    } else if (format == D3DFMT_UNKNOWN) {
        format = D3DFMT_A8R8G8B8;
    }

    UINT width = ValueOr(widthIo), height = ValueOr(heightIo), depth = ValueOr(depthIo);
    if (width == USE_DEFAULT && height == USE_DEFAULT) {
        width = height = 256;
    } else if (width == USE_DEFAULT) {
        width = height;
    } else if (height == USE_DEFAULT) {
        height = width;
    }
    if (width == 0) width = 1;
    if (height == 0) height = 1;
    if (resourceType == D3DRTYPE_CUBETEXTURE) width = height = std::max(width, height);
    if (depth == USE_DEFAULT || depth == 0) depth = 1;

    D3DCAPS9 caps = {};
    if (!scratch) {
        HRESULT hr = device->GetDeviceCaps(&caps);
        if (FAILED(hr)) return hr;
        if (resourceType == D3DRTYPE_VOLUMETEXTURE) {
            width = std::min<UINT>(width, caps.MaxVolumeExtent);
            height = std::min<UINT>(height, caps.MaxVolumeExtent);
            depth = std::min<UINT>(depth, caps.MaxVolumeExtent);
        } else {
            width = std::min<UINT>(width, caps.MaxTextureWidth);
            height = std::min<UINT>(height, caps.MaxTextureHeight);
            if (resourceType == D3DRTYPE_TEXTURE) {
                ULONGLONG aspect = (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) ? 1 : caps.MaxTextureAspectRatio;
                if (aspect != 0) {
                    width = UINT(std::min<ULONGLONG>(width, aspect * height));
                    height = UINT(std::min<ULONGLONG>(height, aspect * width));
                }
            }
        }
        // A device reporting a limit of 0 still gets something to create.
        width = std::max<UINT>(width, 1);
        height = std::max<UINT>(height, 1);
        depth = std::max<UINT>(depth, 1);
    }

    const UINT requestedLevels = ValueOr(mipLevelsIo);
    DWORD pow2Bit = D3DPTEXTURECAPS_POW2, mipBit = D3DPTEXTURECAPS_MIPMAP;
    if (resourceType == D3DRTYPE_VOLUMETEXTURE) {
        pow2Bit = D3DPTEXTURECAPS_VOLUMEMAP_POW2;
        mipBit = D3DPTEXTURECAPS_MIPVOLUMEMAP;
    } else if (resourceType == D3DRTYPE_CUBETEXTURE) {
        pow2Bit = D3DPTEXTURECAPS_CUBEMAP_POW2;
        mipBit = D3DPTEXTURECAPS_MIPCUBEMAP;
    }
    const bool conditional = (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) != 0;
    const bool exempt = requestedLevels == 1 && conditional && !IsDxtFormat(format);
    if ((caps.TextureCaps & pow2Bit) && !exempt) {
        width = RoundUpPow2(width);
        height = RoundUpPow2(height);
        depth = RoundUpPow2(depth);
    }
    if (IsDxtFormat(format)) {
        width = width > 0xFFFFFFFCu ? width : (width + 3) & ~3u;
        height = height > 0xFFFFFFFCu ? height : (height + 3) & ~3u;
    }

    UINT levels;
    const bool nonPow2 = !IsPow2(width) || !IsPow2(height) || (resourceType == D3DRTYPE_VOLUMETEXTURE && !IsPow2(depth));
    if (!scratch && (!(caps.TextureCaps & mipBit) || (conditional && nonPow2))) {
        levels = 1;
    } else {
        UINT largest = std::max(width, height);
        if (resourceType == D3DRTYPE_VOLUMETEXTURE) largest = std::max(largest, depth);
        levels = ChainLength(largest);
        if (requestedLevels != 0 && requestedLevels != USE_DEFAULT && requestedLevels <= levels)
            levels = requestedLevels;
        if ((usage & D3DUSAGE_AUTOGENMIPMAP) && levels != 1) levels = 0;
    }

    if (widthIo) *widthIo = width;
    if (heightIo) *heightIo = height;
    if (depthIo) *depthIo = depth;
    if (mipLevelsIo) *mipLevelsIo = levels;
    if (formatIo) *formatIo = format;
    return S_OK;
}
