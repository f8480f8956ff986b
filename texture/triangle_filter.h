// The triangle filter into several destinations at once, for mip chains
// that take every level from one source level. Internal to the texture
// library.
#pragma once

#include <vector>

#include "texture/pixel_codec.h"

// Fills every destination (2D blocks, depth 1) from `source` with the
// triangle filter word `filter`, reading each source row once for all of
// them. Each destination gets what a copy of `source` into it alone with
// the same filter gives (exactly so, except for chains of halvings: see
// below), its rows written in increasing order.
// D3DERR_INVALIDCALL for a filter word that is not a valid triangle;
// E_FAIL for a format without codec or a block deeper than 1;
// E_OUTOFMEMORY.
HRESULT TriangleFilterLevels(const std::vector<PixelSurface>& dests, const PixelSurface& source, DWORD filter);

// Chains of exact halvings from a source of power-of-two sizes take the
// first level from the source and each further level from the 2x2 means
// of the one above, kept in float: the same filter, with other float
// rounding (a stored value may differ by one where it falls on a rounding
// tie). While UseExactTriangleChains(true) is in force they take every
// level from the source, as other chains do. For tests and comparisons.
void UseExactTriangleChains(bool exact);
