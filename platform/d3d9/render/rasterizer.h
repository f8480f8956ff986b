// Triangle setup and scan conversion. Vertex positions are fixed point with
// 8 fractional bits; edge functions are exact 64-bit integers with the
// top-left rule; pixel centres sit at integer coordinates. Depth is linear
// in screen space, every other quantity perspective-correct.
#pragma once

#include <cstdint>

#include "platform/d3d9/render/pixel_state.h"

namespace render {

constexpr int kSubpixelBits = 8;
constexpr int kSubpixelOne = 1 << kSubpixelBits;

struct RasterVertex {
    int32_t fx, fy;  // position in 1/256 pixel
    float z;         // zs
    float rhw;
    const float* varyings;
};

// Which rows a call draws: [first, last]. A draw split between workers
// gives each a run of whole rows, so every pixel is drawn by one of them,
// in draw order, whatever the number of workers.
struct RowFilter {
    int first = 0;
    int last = INT32_MAX;
    bool Owns(int y) const { return y >= first && y <= last; }
};

// Draws one triangle whose vertices are clockwise on screen (positive
// doubled area as 64-bit integers). Coordinates must lie within +-2^22
// pixels. With `flatColors`, the diffuse (and specular) varyings take those
// values over the whole triangle. Returns the number of pixels covered.
int64_t RasterizeTriangle(const PixelState& ps, const RasterVertex& v0, const RasterVertex& v1, const RasterVertex& v2,
                       const RowFilter& rows, const float* flatColors = nullptr);

// The builds of the rasteriser; all draw exactly the same pixels. The best
// the processor has is chosen once (AVX-512 on 256-bit vectors, then AVX2),
// unless VINTREL_RENDER_ISA asks for "avx2" or for "sse2", the baseline
// (the only one in builds without SIMD code or off x86-64).
enum class RasterIsa { Baseline, Avx2, Avx512 };
RasterIsa CurrentRasterIsa();
// For tests and benchmarks that compare the builds: false, and nothing
// changed, when this build or processor has no such variant. Not to be
// called while a frame is being drawn.
bool SetRasterIsaForTesting(RasterIsa isa);

}  // namespace render
