// Clipping polygons in homogeneous clip space against the near and far
// planes, the guard band and a minimum w. New vertices interpolate position
// and varyings linearly in clip space, always from the inside vertex
// towards the outside one, so two triangles sharing an edge get the same
// new vertex and no crack opens between them.
#pragma once

#include "platform/d3d9/render/vertex_processing.h"

namespace render {

constexpr int kMaxClipVertices = 16;

struct ClipVertex {
    float c[4];
    float v[kMaxVaryings];
};

// Clips the polygon `in` (count vertices) against the planes named by the
// outcode bits in `planes`. Returns the vertex count of the result (0 when
// nothing is left) and points `result` at it (either `in` or `scratch`,
// which must hold 2 * kMaxClipVertices vertices).
int ClipPolygon(ClipVertex* in, int count, uint32_t planes, int varyingCount, const ViewportMap& viewport,
                ClipVertex* scratch, ClipVertex** result);

}  // namespace render
