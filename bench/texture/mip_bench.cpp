// Mip generation of a 2048 x 2048 A8R8G8B8 texture with the box filter (the
// integer routine) and the float paths, next to a plain memcpy of the same
// bytes as the ceiling. Rates are megapixels of level 0 per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "bench_targets.h"
#include "texture/texture.h"
#include "texture/triangle_filter.h"
#include "platform/d3d9/offscreen_device.h"

namespace {
constexpr UINT kSize = 2048;
constexpr double kPixels = double(kSize) * kSize;

IDirect3DDevice9* Device() { return SharedOffscreenDevice(); }

// A photograph-like level 0: smooth gradients with noise.
IDirect3DTexture9* MakeTexture() {
    IDirect3DTexture9* texture = nullptr;
    if (!Device() || FAILED(Device()->CreateTexture(kSize, kSize, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture,
                                                    nullptr)))
        return nullptr;
    D3DLOCKED_RECT lr = {};
    texture->LockRect(0, &lr, nullptr, 0);
    std::mt19937 rng(1);
    for (UINT y = 0; y < kSize; ++y) {
        BYTE* row = static_cast<BYTE*>(lr.pBits) + size_t(y) * lr.Pitch;
        for (UINT x = 0; x < kSize; ++x) {
            const int noise = int(rng() % 17) - 8;
            row[4 * x + 0] = BYTE(std::clamp(int(x / 8) + noise, 0, 255));
            row[4 * x + 1] = BYTE(std::clamp(int(y / 8) + noise, 0, 255));
            row[4 * x + 2] = BYTE(std::clamp(int((x + y) / 16) + noise, 0, 255));
            row[4 * x + 3] = BYTE(255 - (x ^ y) % 64);
        }
    }
    texture->UnlockRect(0);
    return texture;
}

// `exact`: triangle chains of halvings take every level from level 0 with
// the full filter, as they did before the 2x2 chain (for comparison).
void Mips(benchmark::State& state, DWORD filter, bool exact = false) {
    IDirect3DTexture9* texture = MakeTexture();
    if (!texture) {
        state.SkipWithError("no device");
        return;
    }
    UseExactTriangleChains(exact);
    for (auto _ : state) {
        const HRESULT hr = GenerateMipLevels(texture, nullptr, 0, filter);
        if (FAILED(hr)) {
            state.SkipWithError("GenerateMipLevels failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    UseExactTriangleChains(false);
    state.counters["MP/s"] = benchmark::Counter(kPixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
    texture->Release();
}

void MemcpyCeiling(benchmark::State& state) {
    const size_t bytes = size_t(kSize) * kSize * 4;
    std::vector<BYTE> from(bytes, 1), to(bytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.counters["MP/s"] = benchmark::Counter(kPixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
}  // namespace

BENCHMARK(MemcpyCeiling)->Name("mips/memcpy_2048")->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Mips, box, FILTER_BOX)->Name("mips/box_2048")->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Mips, box_dither, FILTER_BOX | FILTER_DITHER)->Name("mips/box_float_dither_2048")
    ->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Mips, triangle, FILTER_TRIANGLE)->Name("mips/triangle_2048")->Unit(benchmark::kMillisecond)
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Mips, triangle_dither, FILTER_TRIANGLE | FILTER_DITHER)->Name("mips/triangle_dither_2048")
    ->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Mips, triangle_exact, FILTER_TRIANGLE, true)->Name("mips/triangle_every_level_from_0_2048")
    ->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(Mips, triangle_dither_exact, FILTER_TRIANGLE | FILTER_DITHER, true)
    ->Name("mips/triangle_dither_every_level_from_0_2048")->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

namespace {
// Bytes of all levels after the first that the chain of halvings stores
// differently from taking every level from level 0, and by how much at
// most, on the bench image.
void ReportChainDifference(DWORD filter) {
    IDirect3DTexture9* quick = MakeTexture();
    IDirect3DTexture9* exact = MakeTexture();
    if (!quick || !exact) return;
    GenerateMipLevels(quick, nullptr, 0, filter);
    UseExactTriangleChains(true);
    GenerateMipLevels(exact, nullptr, 0, filter);
    UseExactTriangleChains(false);
    size_t bytes = 0, differing = 0;
    int largest = 0;
    for (UINT level = 1; level < quick->GetLevelCount(); ++level) {
        D3DLOCKED_RECT a = {}, b = {};
        D3DSURFACE_DESC desc = {};
        quick->GetLevelDesc(level, &desc);
        if (FAILED(quick->LockRect(level, &a, nullptr, D3DLOCK_READONLY))) continue;
        if (SUCCEEDED(exact->LockRect(level, &b, nullptr, D3DLOCK_READONLY))) {
            for (UINT y = 0; y < desc.Height; ++y) {
                const BYTE* p = static_cast<const BYTE*>(a.pBits) + size_t(y) * a.Pitch;
                const BYTE* q = static_cast<const BYTE*>(b.pBits) + size_t(y) * b.Pitch;
                for (UINT i = 0; i < desc.Width * 4; ++i) {
                    differing += p[i] != q[i];
                    largest = std::max(largest, std::abs(int(p[i]) - int(q[i])));
                }
            }
            bytes += size_t(desc.Width) * desc.Height * 4;
            exact->UnlockRect(level);
        }
        quick->UnlockRect(level);
    }
    std::printf("NOTE mip-triangle-chain-vs-every-level-from-0 filter=0x%lx differing=%zu of %zu (%.4f%%) largest=%d\n",
                static_cast<unsigned long>(filter), differing, bytes, bytes ? 100.0 * double(differing) / double(bytes) : 0.0,
                largest);
    quick->Release();
    exact->Release();
}

void ReportMipTargets() {
    PrintTarget("mip-box-integer-vs-memcpy", MedianCounter("mips/box_2048", "MP/s"),
                MedianCounter("mips/memcpy_2048", "MP/s"), ">=0.3333");
    PrintTarget("mip-box-float-mpps", MedianCounter("mips/box_float_dither_2048", "MP/s"), -1, ">=250");
    PrintTarget("mip-triangle-mpps", MedianCounter("mips/triangle_2048", "MP/s"), -1, ">=250");
    PrintTarget("mip-triangle-dither-mpps", MedianCounter("mips/triangle_dither_2048", "MP/s"), -1, ">=250");
    std::printf("NOTE mip-triangle-every-level-from-0 MP/s plain=%.3f dither=%.3f\n",
                MedianCounter("mips/triangle_every_level_from_0_2048", "MP/s"),
                MedianCounter("mips/triangle_dither_every_level_from_0_2048", "MP/s"));
    if (!std::isnan(MedianCounter("mips/triangle_2048", "MP/s"))) {
        ReportChainDifference(FILTER_TRIANGLE);
        ReportChainDifference(FILTER_TRIANGLE | FILTER_DITHER);
    }
}
const bool reported = AddTargetReport(ReportMipTargets);
}  // namespace
