// The AVX2 and AVX-512 builds of the rasteriser against the baseline build:
// the same target and depth bytes for the benchmark scene, in states that take the
// textured queue with and without fog and mip selection, mip choices pushed
// up and down, translucent blending, the overlay on and off texel centres
// and pulled into tall slivers, and the general span loop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/render/bench_frame.h"
#include "platform/d3d9/render/rasterizer.h"

namespace {

using render::RasterIsa;

const bench::Scene& TheScene() {
    static const bench::Scene scene = bench::MakeScene();
    return scene;
}

// The overlay's quads moved by fractions of a pixel: their lookups no
// longer fall on texel centres.
const bench::Scene& OverlayBetweenTexels() {
    static const bench::Scene scene = [] {
        bench::Scene s = bench::MakeScene();
        for (bench::OverlayVertex& v : s.overlay) v.x += 0.3f, v.y += 0.6f;
        return s;
    }();
    return scene;
}

// The overlay's quads pulled into slivers at most 24 pixels wide and from 56
// pixels to far below the target tall, so that the window scan meets edge
// values of every size, some past 32 bits.
const bench::Scene& OverlaySlivers() {
    static const bench::Scene scene = [] {
        bench::Scene s = bench::MakeScene();
        for (size_t q = 0; q < s.overlay.size() / 4; ++q) {
            bench::OverlayVertex* v = s.overlay.data() + q * 4;
            const float down = q % 7 == 6 ? 20000.0f : 40.0f + float(q % 7) * 90.0f;
            v[2].y += down, v[3].y += down;
            v[2].x += float(q % 5) * 4.0f;
        }
        return s;
    }();
    return scene;
}

// Puts the process's choice back when a test ends.
struct IsaRestorer {
    RasterIsa saved = render::CurrentRasterIsa();
    ~IsaRestorer() { render::SetRasterIsaForTesting(saved); }
};

struct Variant {
    const char* name;
    void (*adjust)(bench::Frame&);
    const bench::Scene& (*scene)() = TheScene;
};

void SetFloat(DWORD& state, float v) { std::memcpy(&state, &v, 4); }

const Variant kVariants[] = {
    {"demo", [](bench::Frame&) {}},
    {"no fog",
     [](bench::Frame& f) {
         f.state.renderStates[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
         f.state.renderStates[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
     }},
    {"sharper mips", [](bench::Frame& f) { SetFloat(f.state.samplerStates[0][D3DSAMP_MIPMAPLODBIAS], -1.5f); }},
    {"blurrier mips", [](bench::Frame& f) { SetFloat(f.state.samplerStates[0][D3DSAMP_MIPMAPLODBIAS], 2.25f); }},
    {"coarse levels only", [](bench::Frame& f) { f.state.samplerStates[0][D3DSAMP_MAXMIPLEVEL] = 3; }},
    {"translucent terrain", [](bench::Frame& f) { f.state.material.Diffuse.a = 0.55f; }},
    {"near fog", [](bench::Frame& f) { SetFloat(f.state.renderStates[D3DRS_FOGEND], f.scene.fogStart + 20.0f); }},
    {"overlay between texels", [](bench::Frame&) {}, OverlayBetweenTexels},
    {"overlay slivers", [](bench::Frame&) {}, OverlaySlivers},
    {"general",
     [](bench::Frame& f) {
         f.state.renderStates[D3DRS_DITHERENABLE] = FALSE;
         f.state.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE;
         f.state.samplerStates[0][D3DSAMP_MINFILTER] = D3DTEXF_POINT;
         f.state.samplerStates[0][D3DSAMP_ADDRESSU] = D3DTADDRESS_MIRROR;
     }},
};

// Two frames, the second over the first; the target's bytes then the
// depth buffer's.
std::vector<BYTE> Draw(RasterIsa isa, const Variant& v, int threads) {
    EXPECT_TRUE(render::SetRasterIsaForTesting(isa));
    setenv("VINTREL_RENDER_THREADS", std::to_string(threads).c_str(), 1);
    bench::Frame frame(v.scene());
    unsetenv("VINTREL_RENDER_THREADS");
    v.adjust(frame);
    frame.Draw();
    frame.Draw();
    std::vector<BYTE> bytes = frame.target;
    bytes.insert(bytes.end(), frame.depth.begin(), frame.depth.end());
    return bytes;
}

// Where two frames first differ, for a readable failure.
std::string FirstDifference(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
    if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    const size_t targetBytes = size_t(bench::kWidth) * bench::kHeight * 2;
    size_t differing = 0, first = a.size();
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) {
            if (first == a.size()) first = i;
            ++differing;
        }
    if (differing == 0) return "";
    const bool depth = first >= targetBytes;
    const size_t pixel = (depth ? first - targetBytes : first) / 2;
    return std::to_string(differing) + " bytes differ, the first in the " + (depth ? "depth buffer" : "target") +
           " at pixel (" + std::to_string(pixel % bench::kWidth) + ", " + std::to_string(pixel / bench::kWidth) + ")";
}

// Must be the first test in its process to use the rasteriser; ctest runs
// each test in a process of its own, and once more with
// VINTREL_RENDER_ISA=sse2 (render.cmake).
TEST(RasterIsa, FirstChoiceFollowsTheEnvironment) {
    const RasterIsa first = render::CurrentRasterIsa();
    IsaRestorer restore;
    const char* env = std::getenv("VINTREL_RENDER_ISA");
    const std::string asked = env ? env : "";
    const bool avx2 = render::SetRasterIsaForTesting(RasterIsa::Avx2);
    const bool avx512 = render::SetRasterIsaForTesting(RasterIsa::Avx512);
    // AVX-512 is offered only beside AVX2.
    EXPECT_TRUE(avx2 || !avx512);
    RasterIsa expected = avx512 ? RasterIsa::Avx512 : avx2 ? RasterIsa::Avx2 : RasterIsa::Baseline;
    if (asked == "sse2") expected = RasterIsa::Baseline;
    if (asked == "avx2" && avx2) expected = RasterIsa::Avx2;
    EXPECT_EQ(first, expected);
}

TEST(RasterIsa, WiderBuildsDrawTheBaselineFramesByteForByte) {
    IsaRestorer restore;
    std::vector<std::pair<RasterIsa, const char*>> wider;
    if (render::SetRasterIsaForTesting(RasterIsa::Avx2)) wider.push_back({RasterIsa::Avx2, "AVX2"});
    if (render::SetRasterIsaForTesting(RasterIsa::Avx512)) wider.push_back({RasterIsa::Avx512, "AVX-512"});
    if (wider.empty()) GTEST_SKIP() << "no AVX2 build or processor";
    const std::vector<BYTE> demo = Draw(RasterIsa::Baseline, kVariants[0], 1);
    for (const Variant& v : kVariants) {
        const std::vector<BYTE> baseline = Draw(RasterIsa::Baseline, v, 1);
        // Each variant must draw something other than the demo's frame, or
        // it would test nothing new.
        if (&v != &kVariants[0]) {
            EXPECT_NE(baseline, demo) << v.name << " draws the demo's frame";
        }
        for (const auto& [isa, name] : wider)
            for (int threads : {1, 2}) {
                const std::vector<BYTE> drawn = Draw(isa, v, threads);
                EXPECT_EQ(FirstDifference(drawn, baseline), "") << v.name << ", " << name << ", " << threads << " threads";
            }
    }
}

TEST(RasterIsa, BaselineCanAlwaysBeChosen) {
    IsaRestorer restore;
    EXPECT_TRUE(render::SetRasterIsaForTesting(RasterIsa::Baseline));
    EXPECT_EQ(render::CurrentRasterIsa(), RasterIsa::Baseline);
}

}  // namespace
