// The benchmark scene's frames, kept exact: the renderer's fast paths must
// draw what the general path draws, bit for bit, whatever the number of
// worker threads. The checksums were taken from the renderer before its
// fast paths were reworked.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bench/render/bench_frame.h"

namespace {

const bench::Scene& TheScene() {
    static const bench::Scene scene = bench::MakeScene();
    return scene;
}

uint64_t Fnv(uint64_t h, const std::vector<BYTE>& bytes) {
    for (BYTE b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

struct Variant {
    const char* name;
    void (*adjust)(bench::Frame&);
    uint64_t checksum;  // of the target and the depth buffer
};

void DemoState(bench::Frame&) {}

// Off every fast path: 32-bit target, no dithering or blending, point
// sampling with nearest mips, mirrored, both windings drawn.
void GeneralState(bench::Frame& f) {
    f.target.assign(size_t(bench::kWidth) * bench::kHeight * 4, 0);
    f.state.target = {D3DFMT_X8R8G8B8, UINT(bench::kWidth), UINT(bench::kHeight), bench::kWidth * 4, f.target.data()};
    DWORD* rs = f.state.renderStates;
    rs[D3DRS_DITHERENABLE] = FALSE;
    rs[D3DRS_ALPHABLENDENABLE] = FALSE;
    rs[D3DRS_CULLMODE] = D3DCULL_NONE;
    DWORD* ss = f.state.samplerStates[0];
    ss[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    ss[D3DSAMP_ADDRESSU] = ss[D3DSAMP_ADDRESSV] = D3DTADDRESS_MIRROR;
}

// The demo's state but depth writes off and no dithering, which the
// four-pixel path does not take.
void NearDemoState(bench::Frame& f) {
    f.state.renderStates[D3DRS_ZWRITEENABLE] = FALSE;
    f.state.renderStates[D3DRS_DITHERENABLE] = FALSE;
}

uint64_t DrawWithThreads(const Variant& v, int threads) {
    setenv("VINTREL_RENDER_THREADS", std::to_string(threads).c_str(), 1);
    bench::Frame frame(TheScene());
    unsetenv("VINTREL_RENDER_THREADS");
    v.adjust(frame);
    frame.Draw();
    frame.Draw();  // a second frame over the first must come out the same
    return Fnv(Fnv(1469598103934665603ull, frame.target), frame.depth);
}

TEST(RenderBenchScene, FramesStayExactForOneAndTwoThreads) {
    const Variant variants[] = {
        {"demo", DemoState, 0x4824983d079c7c1eull},
        {"general", GeneralState, 0x2784ca6d9896e7d2ull},
        {"near-demo", NearDemoState, 0x5d35a25561ab9605ull},
    };
    for (const Variant& v : variants) {
        for (int threads : {1, 2}) {
            const uint64_t sum = DrawWithThreads(v, threads);
            EXPECT_EQ(sum, v.checksum) << v.name << " with " << threads << " threads: 0x" << std::hex << sum;
        }
    }
}

}  // namespace
