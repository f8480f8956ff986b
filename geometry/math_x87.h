// The reciprocal square root of the x87 set, exposed for its tests.
#pragma once

// 1/sqrt(value) for a positive normal float, from a table of 512 lines
// (relative error below about 1e-6).
float TableReciprocalSquareRoot(float value);
