// Creating textures from image files: decode, settle the description,
// create, fill the levels the file has, generate the rest.
#include "texture/texture_from_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "texture/mapped_file.h"
#include "texture/pixel_format.h"

namespace {
constexpr DWORD kQueryUsageBits = 0x001F8000;  // usages that only ask CheckDeviceFormat

UINT SmallestPow2AtLeast(UINT v) {
    UINT p = 1;
    while (p < v) p <<= 1;
    return p;
}

UINT ChooseSize(UINT requested, UINT image) {
    if (requested == USE_IMAGE_SIZE || image >= 0x80000000u) return image;
    if (requested == 0 || requested == USE_DEFAULT) return SmallestPow2AtLeast(image);
    return requested;
}

UINT CountLevels(const ImageLevel* face) {
    UINT n = 0;
    for (; face; face = face->nextLevel) ++n;
    return n;
}

// A palette whose entry j is (j, j, j, opaque): the image is grey levels.
bool IsGreyRamp(const PALETTEENTRY* palette) {
    for (UINT j = 0; j < 256; ++j) {
        const PALETTEENTRY& e = palette[j];
        if (e.peRed != j || e.peGreen != j || e.peBlue != j || e.peFlags != 255) return false;
    }
    return true;
}

// The palette that spells out R3G3B2: three bits of red and green, two of blue.
bool IsR3G3B2Palette(const PALETTEENTRY* palette) {
    static constexpr BYTE r3[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    static constexpr BYTE b2[4] = {0, 85, 170, 255};
    for (UINT k = 0; k < 256; ++k) {
        const PALETTEENTRY& e = palette[k];
        if (e.peRed != r3[k >> 5] || e.peGreen != r3[(k >> 2) & 7] || e.peBlue != b2[k & 3] || e.peFlags != 255)
            return false;
    }
    return true;
}

// Owns the textures and surfaces of one build, so every exit releases them.
struct BuildResources {
    IDirect3DBaseTexture9* texture = nullptr;
    IDirect3DBaseTexture9* staging = nullptr;
    ~BuildResources() {
        SafeRelease(staging);
        SafeRelease(texture);
    }
};

HRESULT CreateResource(IDirect3DDevice9* device, D3DRESOURCETYPE type, UINT width, UINT height, UINT depth,
                       UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DBaseTexture9** out) {
    HRESULT hr;
    if (type == D3DRTYPE_VOLUMETEXTURE) {
        IDirect3DVolumeTexture9* t = nullptr;
        hr = device->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, &t, nullptr);
        *out = t;
    } else if (type == D3DRTYPE_CUBETEXTURE) {
        IDirect3DCubeTexture9* t = nullptr;
        hr = device->CreateCubeTexture(width, levels, usage, format, pool, &t, nullptr);
        *out = t;
    } else {
        IDirect3DTexture9* t = nullptr;
        hr = device->CreateTexture(width, height, levels, usage, format, pool, &t, nullptr);
        *out = t;
    }
    if (SUCCEEDED(hr) && !*out) hr = E_FAIL;
    return hr;
}

// Loads `image` (one level of one face) into level `level` of `texture`.
HRESULT LoadLevelFromImage(IDirect3DBaseTexture9* texture, D3DRESOURCETYPE type, UINT face, UINT level,
                           const ImageLevel& image, D3DFORMAT imageFormat, const PALETTEENTRY* palette,
                           DWORD filter, D3DCOLOR colourKey) {
    HRESULT hr;
    if (type == D3DRTYPE_VOLUMETEXTURE) {
        IDirect3DVolume9* volume = nullptr;
        hr = static_cast<IDirect3DVolumeTexture9*>(texture)->GetVolumeLevel(level, &volume);
        if (FAILED(hr)) return hr;
        hr = LoadVolumeFromMemory(volume, palette, nullptr, image.pixels, imageFormat, image.rowPitch,
                                  image.slicePitch, palette, &image.box, filter, colourKey);
        volume->Release();
        return hr;
    }
    IDirect3DSurface9* surface = nullptr;
    if (type == D3DRTYPE_CUBETEXTURE)
        hr = static_cast<IDirect3DCubeTexture9*>(texture)->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &surface);
    else
        hr = static_cast<IDirect3DTexture9*>(texture)->GetSurfaceLevel(level, &surface);
    if (FAILED(hr)) return hr;
    const RECT rect = {LONG(image.box.Left), LONG(image.box.Top), LONG(image.box.Right), LONG(image.box.Bottom)};
    hr = LoadSurfaceFromPixels(surface, palette, nullptr, image.pixels, imageFormat, image.rowPitch, palette, &rect,
                               filter, colourKey);
    surface->Release();
    return hr;
}
}  // namespace

HRESULT BuildTextureFromImage(IDirect3DDevice9* device, const void* bytes, UINT byteCount, UINT width,
                              UINT height, UINT depth, UINT mipLevels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info,
                              PALETTEENTRY* paletteOut, D3DRESOURCETYPE resourceType,
                              IDirect3DBaseTexture9** textureOut) {
    if (!device || !bytes || byteCount == 0 || !textureOut) return D3DERR_INVALIDCALL;
    ImageLevel root;
    HRESULT hr = ReadImageFile(&root, bytes, byteCount, info, TRUE);
    if (FAILED(hr)) return hr;

    const UINT fileLevels = CountLevels(&root);
    UINT faces = 1;
    if (resourceType == D3DRTYPE_CUBETEXTURE) {
        faces = 0;
        for (const ImageLevel* f = &root; f; f = f->nextFace) ++faces;
        if (faces != 6) return E_FAIL;
    }
    // Rectangles and boxes are signed or 32-bit further on; no device holds
    // such images anyway.
    for (const ImageLevel* f = &root; f; f = f->nextFace)
        for (const ImageLevel* l = f; l; l = l->nextLevel)
            if (l->width > 0x7FFFFFFF || l->height > 0x7FFFFFFF || !l->pixels) return E_FAIL;

    width = ChooseSize(width, root.width);
    height = ChooseSize(height, root.height);
    depth = ChooseSize(depth, root.depth);

    if (filter == USE_DEFAULT) filter = FILTER_DEFAULT;
    if (mipFilter == USE_DEFAULT) mipFilter = FILTER_BOX;
    if (resourceType == D3DRTYPE_CUBETEXTURE) {
        filter |= FILTER_MIRROR;
        mipFilter |= FILTER_MIRROR;
    }
    const bool chained = (filter & 0xFF) == FILTER_NONE || (mipFilter & 0xFF) == FILTER_POINT ||
                         (mipFilter & 0xFF) == FILTER_BOX;

    // The working palette: the image's, with the colour key applied to it
    // (keyed entries become transparent black), or opaque white.
    PALETTEENTRY palette[256];
    if (root.palette) {
        std::memcpy(palette, root.palette, sizeof(palette));
        const PALETTEENTRY key = {BYTE(colourKey >> 16), BYTE(colourKey >> 8), BYTE(colourKey),
                                  BYTE(colourKey >> 24)};
        for (PALETTEENTRY& e : palette)
            if (std::memcmp(&e, &key, sizeof(e)) == 0) e = {0, 0, 0, 0};
        colourKey = 0;
    } else {
        std::memset(palette, 0xFF, sizeof(palette));
    }

    D3DFORMAT imageFormat = root.format;
    if (imageFormat == D3DFMT_P8 && format != D3DFMT_P8) {
        if (IsGreyRamp(palette))
            imageFormat = D3DFMT_L8;
        else if (IsR3G3B2Palette(palette))
            imageFormat = D3DFMT_R3G3B2;
    }

    if (format == D3DFMT_UNKNOWN) {
        format = imageFormat;
        const FormatInfo& imageInfo = LookUpFormatInfo(imageFormat);
        if (colourKey != 0 && imageInfo.channelBits[CHANNEL_ALPHA] == 0 &&
            (imageInfo.kind == FORMAT_KIND_COLOUR || imageInfo.kind == FORMAT_KIND_PALETTE ||
             imageInfo.kind == FORMAT_KIND_LUMINANCE)) {
            // The key needs an alpha channel to show.
            FormatInfo withAlpha = imageInfo;
            withAlpha.format = D3DFMT_UNKNOWN;
            withAlpha.channelBits[CHANNEL_ALPHA] = 1;
            const D3DFORMAT found = FindClosestDeviceFormat(nullptr, 0, resourceType, withAlpha);
            if (found != D3DFMT_UNKNOWN) format = found;
        }
        format = ToStorageFormat(format);
        if (format == D3DFMT_R8G8B8 && pool != D3DPOOL_SCRATCH) format = D3DFMT_X8R8G8B8;
    }

    if (paletteOut) std::memcpy(paletteOut, palette, sizeof(palette));
    if (!(paletteOut && root.palette)) {
        if (format == D3DFMT_A8P8) {
            format = D3DFMT_A8R8G8B8;
        } else if (format == D3DFMT_P8) {
            bool opaque = true;
            for (const PALETTEENTRY& e : palette) opaque = opaque && e.peFlags == 255;
            format = opaque ? D3DFMT_X8R8G8B8 : D3DFMT_A8R8G8B8;
        }
    }

    const bool staging = pool == D3DPOOL_DEFAULT && !(usage & D3DUSAGE_DYNAMIC);
    hr = AdjustTextureRequirements(device, &width, &height, &depth, &mipLevels, usage, &format, pool, resourceType);
    if (FAILED(hr)) return hr;

    BuildResources made;
    hr = CreateResource(device, resourceType, width, height, depth, mipLevels, usage & ~kQueryUsageBits, format, pool,
                        &made.texture);
    if (FAILED(hr)) return hr;
    if (staging) {
        hr = CreateResource(device, resourceType, width, height, depth, mipLevels, 0, format, D3DPOOL_SYSTEMMEM,
                            &made.staging);
        if (FAILED(hr)) return hr;
    }
    IDirect3DBaseTexture9* target = staging ? made.staging : made.texture;
    const UINT textureLevels = target->GetLevelCount();

    // Levels read in the image's format are read as what it was found to be.
    auto formatOf = [&](const ImageLevel& level) { return level.format == root.format ? imageFormat : level.format; };
    const ImageLevel* face = &root;
    for (UINT f = 0; f < faces; ++f, face = face->nextFace) {
        const ImageLevel* level = face;
        const ImageLevel* last = face;
        UINT i = 0;
        for (; i < fileLevels && i < textureLevels && level; ++i, level = level->nextLevel) {
            hr = LoadLevelFromImage(target, resourceType, f, i, *level, formatOf(*level), palette, filter, colourKey);
            if (FAILED(hr)) return hr;
            last = level;
        }
        if (!chained) {
            // Every remaining level straight down from the smallest in the file.
            for (; i < textureLevels; ++i) {
                hr = LoadLevelFromImage(target, resourceType, f, i, *last, formatOf(*last), palette, filter, colourKey);
                if (FAILED(hr)) return hr;
            }
        }
    }
    if (chained && fileLevels < textureLevels) {
        hr = GenerateMipLevels(target, palette, fileLevels - 1, mipFilter);
        if (FAILED(hr)) return hr;
    }
    if (staging) {
        hr = device->UpdateTexture(made.staging, made.texture);
        if (FAILED(hr)) return hr;
    }
    *textureOut = made.texture;
    made.texture = nullptr;
    return S_OK;
}

HRESULT CreateTextureFromMemory(IDirect3DDevice9* device, const void* bytes, UINT byteCount, UINT width,
                                UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                DWORD filter, DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info,
                                PALETTEENTRY* palette, IDirect3DTexture9** texture) {
    if (texture) *texture = nullptr;
    if (!texture) return D3DERR_INVALIDCALL;
    IDirect3DBaseTexture9* made = nullptr;
    const HRESULT hr = BuildTextureFromImage(device, bytes, byteCount, width, height, 1, mipLevels, usage, format,
                                             pool, filter, mipFilter, colourKey, info, palette, D3DRTYPE_TEXTURE,
                                             &made);
    if (SUCCEEDED(hr)) *texture = static_cast<IDirect3DTexture9*>(made);
    return hr;
}

HRESULT CreateTextureFromFileEx(IDirect3DDevice9* device, const char* path, UINT width, UINT height,
                                UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PALETTEENTRY* palette,
                                IDirect3DTexture9** texture) {
    if (texture) *texture = nullptr;
    if (!device || !path || !texture) return D3DERR_INVALIDCALL;
    MappedFile file;
    if (!file.Open(path)) return ERR_INVALID_DATA;
    // Byte counts are 32-bit; a larger file is not an image this library reads.
    if (file.Size() > 0xFFFFFFFFull) return ERR_INVALID_DATA;
    return CreateTextureFromMemory(device, file.Data(), UINT(file.Size()), width, height, mipLevels, usage, format,
                                   pool, filter, mipFilter, colourKey, info, palette, texture);
}

HRESULT CreateTextureFromFile(IDirect3DDevice9* device, const char* path, IDirect3DTexture9** texture) {
    return CreateTextureFromFileEx(device, path, USE_DEFAULT, USE_DEFAULT, USE_DEFAULT, 0, D3DFMT_UNKNOWN,
                                   D3DPOOL_MANAGED, USE_DEFAULT, USE_DEFAULT, 0, nullptr, nullptr, texture);
}
