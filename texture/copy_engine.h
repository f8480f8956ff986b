// The copy engine behind every surface load: converts the pixels of one
// block into another through the two formats' codecs, resampling with the
// filter word. Internal to the texture library.
#pragma once

#include <utility>
#include <vector>

#include "texture/pixel_codec.h"

// Validity of a filter word: filter 1-5, no bit of FILTER_INVALID_BITS.
bool IsValidFilter(DWORD filter);

// Copies `source` into `dest`. The gamma and dither fields of both
// descriptions are set here from `filter`. S_OK; D3DERR_INVALIDCALL for an
// invalid filter; E_FAIL when a format has no codec or the filter cannot do
// the resampling; E_OUTOFMEMORY.
HRESULT CopyPixels(const PixelSurface& dest, const PixelSurface& source, DWORD filter);

// Same-size copy from R8G8B8, X8R8G8B8, A8R8G8B8, X8B8G8R8, A8B8G8R8, L8 or
// A8L8 into A8R8G8B8 or X8R8G8B8, without gamma or error diffusion, done by
// shuffling bytes; stores the same bits as the codecs. False (nothing
// written) for any other copy, or when the two blocks overlap.
bool CopyPlainPixels(const PixelSurface& dest, const PixelSurface& source);

// Integer 2x2 box reduction on stored bits for the formats that have one:
// each channel becomes (sum of four samples + 2) >> 2. `dest` holds
// destWidth x destHeight pixels; `source` at least twice that. False when
// the format has no integer routine.
bool BoxFilterInteger(D3DFORMAT format, BYTE* dest, UINT destPitch, const BYTE* source, UINT sourcePitch,
                      UINT destWidth, UINT destHeight);
// The four-byte formats without the vector routine, for comparison;
// `setBits` are ORed into every result (the X byte).
void BoxFilterA8R8G8B8Scalar(BYTE* dest, UINT destPitch, const BYTE* source, UINT sourcePitch, UINT destWidth,
                             UINT destHeight, DWORD setBits = 0);

// One axis of the triangle filter: for every source pixel, the destination
// pixels it feeds and with what weight. `mirror` clips the tents at the
// edges instead of wrapping them around.
using TriangleTaps = std::vector<std::vector<std::pair<UINT, float>>>;
TriangleTaps BuildTriangleTaps(UINT sourceSize, UINT destSize, bool mirror);

// The triangle path, for any depth: reads every source row once and writes
// destination rows in increasing order. Clamps to the source's range.
HRESULT TriangleFilter(PixelCodec& source, PixelCodec& dest, DWORD filter);
