// The car and the two corner markers.
#pragma once

#include "x_writer.h"

namespace assets {

// A low sports coupe whose front points along -z, in model units ten times
// world size (about 45 long, 18 wide, 13 high), standing on y = 0. Body,
// glass, tyres, rims and lights are separate materials; parts that are
// their own meshes sit in frames.
XFile BuildCar();

// Chevron corner markers: a post with a board whose arrow points right
// (`right`) or left.
XFile BuildMarker(bool right);

}  // namespace assets
