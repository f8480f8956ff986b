// Moving pixels into surfaces: format conversion, resampling and mip
// generation.
//
// Filter word: the low 16 bits choose the filter, the upper bits are flags.
// A word is valid when its filter is 1-5 and no bit of 0xFF800000 is set.
#pragma once

#include "platform/d3d9/d3d9.h"

constexpr DWORD FILTER_NONE = 1;      // no resampling: overlap copied, the rest cleared
constexpr DWORD FILTER_POINT = 2;     // nearest sample
constexpr DWORD FILTER_LINEAR = 3;    // two taps per axis
constexpr DWORD FILTER_TRIANGLE = 4;  // tent filter integrated over source pixels
constexpr DWORD FILTER_BOX = 5;       // 2x2 (2x2x2) mean; exact halving only
constexpr DWORD FILTER_MIRROR_U = 0x10000;  // the axis does not wrap at the image edges
constexpr DWORD FILTER_MIRROR_V = 0x20000;
constexpr DWORD FILTER_MIRROR_W = 0x40000;
constexpr DWORD FILTER_MIRROR = 0x70000;
constexpr DWORD FILTER_DITHER = 0x80000;             // ordered dither on write
constexpr DWORD FILTER_DITHER_DIFFUSION = 0x100000;  // Floyd-Steinberg dither on write
constexpr DWORD FILTER_SRGB_IN = 0x200000;   // the source is gamma-encoded
constexpr DWORD FILTER_SRGB_OUT = 0x400000;  // the destination is gamma-encoded
constexpr DWORD FILTER_INVALID_BITS = 0xFF800000;

// Argument markers: take the default; (sizes only) take the image's size.
constexpr UINT USE_DEFAULT = 0xFFFFFFFF;
constexpr UINT USE_IMAGE_SIZE = 0xFFFFFFFE;

// The filter USE_DEFAULT stands for: triangle with ordered dither.
constexpr DWORD FILTER_DEFAULT = FILTER_TRIANGLE | FILTER_DITHER;

// Writes `sourceRect` of the pixels at `source` (format, row pitch, palette of
// 256 entries or null) into `destRect` of `dest` (null: the whole surface),
// converting and resampling with `filter`. A non-zero colour key (A8R8G8B8)
// turns matching source pixels into transparent black. The caller vouches
// that `source` holds the rectangle at that pitch.
HRESULT LoadSurfaceFromPixels(IDirect3DSurface9* dest, const PALETTEENTRY* destPalette, const RECT* destRect,
                              const void* source, D3DFORMAT sourceFormat, UINT sourcePitch,
                              const PALETTEENTRY* sourcePalette, const RECT* sourceRect, DWORD filter,
                              D3DCOLOR colourKey);

// The same from another surface (null rectangles: whole surfaces).
HRESULT LoadSurfaceFromSurface(IDirect3DSurface9* dest, const PALETTEENTRY* destPalette, const RECT* destRect,
                               IDirect3DSurface9* source, const PALETTEENTRY* sourcePalette,
                               const RECT* sourceRect, DWORD filter, D3DCOLOR colourKey);

// The volume forms, used for volume textures.
HRESULT LoadVolumeFromMemory(IDirect3DVolume9* dest, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                             const void* source, D3DFORMAT sourceFormat, UINT sourceRowPitch,
                             UINT sourceSlicePitch, const PALETTEENTRY* sourcePalette, const D3DBOX* sourceBox,
                             DWORD filter, D3DCOLOR colourKey);
HRESULT LoadVolumeFromVolume(IDirect3DVolume9* dest, const PALETTEENTRY* destPalette, const D3DBOX* destBox,
                             IDirect3DVolume9* source, const PALETTEENTRY* sourcePalette, const D3DBOX* sourceBox,
                             DWORD filter, D3DCOLOR colourKey);

// Fills the levels after `sourceLevel` (USE_DEFAULT: 0) of a 2D, cube or
// volume texture from that level. Point and box chain each level from the
// one above; the other filters take every level from the source level
// (triangle chains of halvings from power-of-two sizes compute the same
// filter from the first level down, see triangle_filter.h).
HRESULT GenerateMipLevels(IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette, UINT sourceLevel,
                          DWORD filter);
