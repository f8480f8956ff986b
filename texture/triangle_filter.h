// The triangle filter into several destinations at once, for mip chains
// that take every level from one source level. Internal to the texture
// library.
#pragma once

#include <vector>

#include "texture/pixel_codec.h"

// Fills every destination (2D blocks, depth 1) from `source` with the
// triangle filter word `filter`, reading each source row once for all of
// them. Each destination gets exactly what a copy of `source` into it
// alone with the same filter gives, its rows written in increasing order.
// D3DERR_INVALIDCALL for a filter word that is not a valid triangle;
// E_FAIL for a format without codec or a block deeper than 1;
// E_OUTOFMEMORY.
HRESULT TriangleFilterLevels(const std::vector<PixelSurface>& dests, const PixelSurface& source, DWORD filter);
