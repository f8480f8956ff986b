// The rasteriser compiled for processors with AVX2; RasterizeTriangle
// calls it only where the processor has it. No fused multiply-add: every
// lane must round as in the baseline build, so the pixels stay the same.
#ifdef VINTREL_RASTER_AVX2
// The shared headers are read with the baseline target and only the
// rasteriser's own code with AVX2: an inline function of a shared header
// that the compiler emits here is kept by the linker for the whole
// program, so it must be the baseline code (under -mavx2 for the whole
// file, detail::Address came out that way).
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/d3d9/render/output_merger.h"
#include "platform/d3d9/render/rasterizer.h"

#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2,no-fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,no-fma")
#endif
#define VINTREL_RASTER_NS avx2
#define VINTREL_RASTER_WIDE 1
#include "platform/d3d9/render/rasterizer_impl.inc"
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
