// The overlay's pictures: the bitmap font and the speed meter.
#pragma once

#include "image.h"
#include "text_render.h"

namespace assets {

// 256 x 64: 32 x 4 cells of 8 x 16 pixels, character 32 + n in cell n,
// white glyphs with a thin dark outline, coverage in alpha.
Image MakeFont(TextRenderer& text);

// 256 x 256: the two gauges in rows 0-127 (speed centred on (64, 64),
// engine on (193, 64)), the needle at row 128 (72 x 5, pivot (12, 2.5)),
// the gear digits 1-5 in 32 x 32 cells in rows 144-175.
Image MakeSpeedMeter(TextRenderer& text);

}  // namespace assets
