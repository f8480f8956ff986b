// Textures from image files: map the file, decode it, settle a description
// the device accepts, create the texture and fill every level.
#pragma once

#include "geometry/result_codes.h"
#include "platform/d3d9/d3d9.h"
#include "texture/filter.h"
#include "texture/image_level.h"

// ERR_INVALID_DATA (geometry/result_codes.h): the bytes are not an image the
// library can read (also a file that cannot be opened).

// Description of an image file.
struct ImageInfo {
    UINT width;
    UINT height;
    UINT depth;
    UINT mipLevels;  // levels in the file
    D3DFORMAT format;
    D3DRESOURCETYPE resourceType;
    ImageFileType fileType;
};
static_assert(sizeof(ImageInfo) == 28);

// Decodes `bytes` into the chain headed by `root` (a fresh record the
// caller owns). The records may point into `bytes`, which must outlive the
// chain. With `info` null and `decode` false it returns S_OK at once.
HRESULT ReadImageFile(ImageLevel* root, const void* bytes, UINT byteCount, ImageInfo* info, BOOL decode);

HRESULT CreateTextureFromFile(IDirect3DDevice9* device, const char* path, IDirect3DTexture9** texture);
HRESULT CreateTextureFromFileEx(IDirect3DDevice9* device, const char* path, UINT width, UINT height,
                                UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info, PALETTEENTRY* palette,
                                IDirect3DTexture9** texture);
HRESULT CreateTextureFromMemory(IDirect3DDevice9* device, const void* bytes, UINT byteCount, UINT width,
                                UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                DWORD filter, DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info,
                                PALETTEENTRY* palette, IDirect3DTexture9** texture);

// The worker behind the create operations: a 2D, volume or cube texture
// (`resourceType`) stored in `*texture` as an IDirect3DBaseTexture9 of that
// kind. `palette`, when given, receives 256 entries.
HRESULT BuildTextureFromImage(IDirect3DDevice9* device, const void* bytes, UINT byteCount, UINT width,
                              UINT height, UINT depth, UINT mipLevels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colourKey, ImageInfo* info,
                              PALETTEENTRY* palette, D3DRESOURCETYPE resourceType,
                              IDirect3DBaseTexture9** texture);

// Settles a texture description the device can create. Every in/out may be
// null (then taken as USE_DEFAULT and not written back).
HRESULT AdjustTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* depth,
                                  UINT* mipLevels, DWORD usage, D3DFORMAT* format, D3DPOOL pool,
                                  D3DRESOURCETYPE resourceType);
