// The rasteriser compiled for processors with AVX-512 (F, VL, BW, DQ),
// still on 256-bit vectors: the compiler gets twice the registers and
// broadcast operands, and the queue's depth test uses masked loads, stores
// and compress (VINTREL_RASTER_AVX512); the arithmetic on pixels stays that
// of the AVX2 build. RasterizeTriangle calls it only where the processor
// has it. No fused multiply-add: every lane must round as in the baseline
// build, so the pixels stay the same.
#ifdef VINTREL_RASTER_AVX2
// As in the AVX2 build, the shared headers are read with the baseline
// target and only the rasteriser's own code with the wider one: an inline
// function of a shared header emitted here may be kept for the whole
// program, so it must be the baseline code.
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/d3d9/render/output_merger.h"
#include "platform/d3d9/render/rasterizer.h"

#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2,avx512f,avx512vl,avx512bw,avx512dq,no-fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512vl,avx512bw,avx512dq,no-fma")
#endif
#define VINTREL_RASTER_NS avx512
#define VINTREL_RASTER_WIDE 1
// Clang takes no-fma to switch AVX-512 off too (its AVX-512 implies FMA),
// so there the masked forms are left out and the AVX2 code stands in.
#ifndef __clang__
#define VINTREL_RASTER_AVX512 1
#endif
#include "platform/d3d9/render/rasterizer_impl.inc"
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
