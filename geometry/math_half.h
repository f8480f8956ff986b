// One-value conversions between 32-bit and 16-bit floating point.
#pragma once

#include "geometry/math.h"

// Rounds to nearest, ties to even; beyond 65504 (from 65520 on) gives
// infinity; NaN stays NaN with the top of its payload.
Float16 FloatToHalf(float value);
// Exact for every half, denormals, infinities and NaNs included.
float HalfToFloat(Float16 value);
