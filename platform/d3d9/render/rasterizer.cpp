// RasterizeTriangle: the baseline build of the rasteriser, and on x86-64
// builds with SIMD code the AVX2 and AVX-512 builds beside it, chosen once
// per process.
#include "platform/d3d9/render/rasterizer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#define VINTREL_RASTER_NS baseline
#include "platform/d3d9/render/rasterizer_impl.inc"

namespace render {

#ifdef VINTREL_RASTER_AVX2
namespace avx2 {
int64_t RasterizeTriangle(const PixelState& ps, const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                          const RowFilter& rows, const float* flatColors);
}
namespace avx512 {
int64_t RasterizeTriangle(const PixelState& ps, const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                          const RowFilter& rows, const float* flatColors);
}
#endif

namespace {

using RasterizeFn = int64_t (*)(const PixelState&, const RasterVertex&, const RasterVertex&, const RasterVertex&,
                                const RowFilter&, const float*);

// Whether this build and processor (and the system, which must save the
// wider registers) can run `isa`.
bool Has(RasterIsa isa) {
#ifdef VINTREL_RASTER_AVX2
    __builtin_cpu_init();
    switch (isa) {
        case RasterIsa::Baseline: return true;
        case RasterIsa::Avx2: return __builtin_cpu_supports("avx2");
        case RasterIsa::Avx512:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq");
    }
    return false;
#else
    return isa == RasterIsa::Baseline;
#endif
}

RasterizeFn Entry(RasterIsa isa) {
#ifdef VINTREL_RASTER_AVX2
    if (isa == RasterIsa::Avx2) return avx2::RasterizeTriangle;
    if (isa == RasterIsa::Avx512) return avx512::RasterizeTriangle;
#endif
    (void)isa;
    return baseline::RasterizeTriangle;
}

RasterIsa DefaultIsa() {
    const char* env = std::getenv("VINTREL_RENDER_ISA");
    if (env && std::strcmp(env, "sse2") == 0) return RasterIsa::Baseline;
    if (!(env && std::strcmp(env, "avx2") == 0) && Has(RasterIsa::Avx512)) return RasterIsa::Avx512;
    return Has(RasterIsa::Avx2) ? RasterIsa::Avx2 : RasterIsa::Baseline;
}

struct Choice {
    std::atomic<RasterIsa> isa;
    std::atomic<RasterizeFn> fn;
};

Choice& Chosen() {
    static Choice choice = [] {
        const RasterIsa isa = DefaultIsa();
        return Choice{isa, Entry(isa)};
    }();
    return choice;
}

}  // namespace

RasterIsa CurrentRasterIsa() { return Chosen().isa.load(std::memory_order_relaxed); }

bool SetRasterIsaForTesting(RasterIsa isa) {
    if (!Has(isa)) return false;
    Chosen().isa.store(isa, std::memory_order_relaxed);
    Chosen().fn.store(Entry(isa), std::memory_order_relaxed);
    return true;
}

int64_t RasterizeTriangle(const PixelState& ps, const RasterVertex& a, const RasterVertex& b, const RasterVertex& c,
                          const RowFilter& rows, const float* flatColors) {
    return Chosen().fn.load(std::memory_order_relaxed)(ps, a, b, c, rows, flatColors);
}

}  // namespace render
