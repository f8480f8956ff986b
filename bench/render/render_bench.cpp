// vintrel-bench-render: frames per second of the software renderer on a
// fixed scene close to the demo's load, per worker-thread count, beside
// Mesa's llvmpipe drawing the same scene with the same thread count.
//
// Our renderer runs in this process; each peer measurement runs in a child
// process (llvmpipe reads LP_NUM_THREADS once, when it starts). The two take
// turns, a round of each per repetition, so both meet the same host: the
// machine is shared and its speed drifts over seconds. The figures are the
// medians of the rounds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/render/bench_frame.h"
#include "bench/render/bench_scene.h"
#include "bench/render/gl_peer.h"
#include "platform/d3d9/render/renderer.h"

namespace {

using bench::Scene;

using bench::Frame;

const Scene& TheScene() {
    static const Scene scene = bench::MakeScene();
    return scene;
}

// Benchmark name -> real time per frame: the median over repetitions where
// there are several, else the one run's.
std::map<std::string, double> frameMicros;
std::map<int, double> pixelsPerFrame;

class FrameTimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || run.run_type == Run::RT_Iteration)
                frameMicros[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Ours(benchmark::State& st, int threads) {
    setenv("VINTREL_RENDER_THREADS", std::to_string(threads).c_str(), 1);
    Frame frame(TheScene());
    unsetenv("VINTREL_RENDER_THREADS");
    frame.Draw();
    const uint64_t before = frame.renderer->CoveredPixels();
    frame.Draw();
    pixelsPerFrame[threads] = double(frame.renderer->CoveredPixels() - before);
    for (auto _ : st) frame.Draw();
    st.counters["fps"] = benchmark::Counter(double(st.iterations()), benchmark::Counter::kIsRate);
}

void Peer(benchmark::State& st, bench::GlPeer* peer) {
    for (auto _ : st) peer->DrawFrame();
    st.counters["fps"] = benchmark::Counter(double(st.iterations()), benchmark::Counter::kIsRate);
}

// One round of ours at `threads`: microseconds per frame over a second of
// frames.
double OursRound(int threads) {
    const std::string name = "ours/threads:" + std::to_string(threads);
    benchmark::RegisterBenchmark(name.c_str(), Ours, threads)->Unit(benchmark::kMicrosecond)->Repetitions(1)->MinTime(1.0);
    FrameTimeReporter reporter;
    frameMicros.erase(name);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::ClearRegisteredBenchmarks();
    std::fflush(stdout);
    return frameMicros.count(name) ? frameMicros[name] : 0;
}

// Runs the peer at `threads` in a child process; its median frame time in
// microseconds, or 0 with `note` set.
double RunPeerChild(const char* self, int threads, int repetitions, std::string& note) {
    const std::string command = std::string("LP_NUM_THREADS=") + std::to_string(threads) + " '" + self +
                                "' --peer " + std::to_string(threads) + " --benchmark_color=false --benchmark_repetitions=" +
                                std::to_string(repetitions) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        note = "could not start the peer";
        return 0;
    }
    char line[512];
    double micros = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        double value;
        char text[256];
        const char* at = nullptr;
        if ((at = std::strstr(line, "PEER_MEDIAN_US ")) && std::sscanf(at, "PEER_MEDIAN_US %lf", &value) == 1)
            micros = value;
        else if ((at = std::strstr(line, "PEER_RENDERER ")) && std::sscanf(at, "PEER_RENDERER %255[^\n]", text) == 1)
            note = text;
        else if ((at = std::strstr(line, "PEER_ERROR ")) && std::sscanf(at, "PEER_ERROR %255[^\n]", text) == 1)
            note = text;
        else
            std::fputs(line, stdout);
    }
    pclose(pipe);
    return micros;
}

int RepetitionsFrom(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--benchmark_repetitions=", 24) == 0) return std::max(1, std::atoi(argv[i] + 24));
    return 5;
}

void Target(const char* name, double ours, double peer, const char* op, double goal) {
    const double ratio = peer > 0 ? ours / peer : 0;
    const double value = peer > 0 ? ratio : ours;
    const bool met = std::strcmp(op, ">=") == 0 ? value >= goal : value <= goal;
    if (peer > 0)
        std::printf("TARGET %s ours=%.1f peer=%.1f ratio=%.2f goal=%s%g %s\n", name, ours, peer, ratio, op, goal,
                    met ? "MET" : "MISSED");
    else
        std::printf("TARGET %s ours=%.1f peer=- ratio=- goal=%s%g %s\n", name, ours, op, goal, met ? "MET" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = RepetitionsFrom(argc, argv);
    // Child mode: measure the peer only.
    if (argc >= 3 && std::strcmp(argv[1], "--peer") == 0) {
        std::vector<char*> args{argv[0]};
        for (int i = 3; i < argc; ++i) args.push_back(argv[i]);
        int n = int(args.size());
        benchmark::Initialize(&n, args.data());
        bench::GlPeer peer;
        std::string error;
        if (!peer.Init(TheScene(), error)) {
            std::printf("PEER_ERROR %s\n", error.c_str());
            return 0;
        }
        std::printf("PEER_RENDERER %s\n", peer.Renderer().c_str());
        const std::string name = std::string("llvmpipe/threads:") + argv[2];
        benchmark::RegisterBenchmark(name.c_str(), Peer, &peer)
            ->Unit(benchmark::kMicrosecond)->Repetitions(repetitions)->ReportAggregatesOnly(true)->MinTime(1.0);
        FrameTimeReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        std::fflush(stdout);
        std::printf("PEER_MEDIAN_US %.3f\n", frameMicros.empty() ? 0.0 : frameMicros.begin()->second);
        return 0;
    }

    benchmark::Initialize(&argc, argv);
    const int all = int(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<int> counts{1};
    if (all > 1) counts.push_back(all);
    // VINTREL_BENCH_NO_PEER=1 measures our renderer alone.
    bool withPeer = std::getenv("VINTREL_BENCH_NO_PEER") == nullptr;
    std::map<int, std::vector<double>> oursRounds, peerRounds;
    std::string peerNote;
    for (int t : counts)
        for (int round = 0; round < repetitions; ++round) {
            oursRounds[t].push_back(OursRound(t));
            if (!withPeer) continue;
            const double peer = RunPeerChild(argv[0], t, 1, peerNote);
            if (peer > 0)
                peerRounds[t].push_back(peer);
            else
                withPeer = false;  // no peer here: the note says why
        }

    std::printf("\nFrame: %d x %d R5G6B5, %zu height-field triangles, %d overlay quads\n", bench::kWidth, bench::kHeight,
                TheScene().indices.size() / 3, bench::kOverlayQuads);
    std::map<int, double> oursFps, peerFps;
    for (int t : counts) {
        std::printf("threads %d, rounds (fps, ours / llvmpipe):", t);
        for (size_t r = 0; r < oursRounds[t].size(); ++r) {
            std::printf(" %.1f", oursRounds[t][r] > 0 ? 1e6 / oursRounds[t][r] : 0);
            if (r < peerRounds[t].size()) std::printf(" / %.1f", 1e6 / peerRounds[t][r]);
            std::printf(r + 1 < oursRounds[t].size() ? "," : "\n");
        }
    }
    for (int t : counts) {
        const double ours = Median(oursRounds[t]), peer = Median(peerRounds[t]);
        oursFps[t] = ours > 0 ? 1e6 / ours : 0;
        peerFps[t] = peer > 0 ? 1e6 / peer : 0;
        const double pixels = pixelsPerFrame[t];
        std::printf("threads %d: ours %.1f fps (%.2f ms, %.1f ns per shaded pixel over %.0f pixels)", t, oursFps[t],
                    ours / 1000, pixels > 0 ? ours * 1000 / pixels : 0, pixels);
        if (peer > 0)
            std::printf(", llvmpipe %.1f fps (%.2f ms, %.1f ns per pixel), ratio %.2f\n", peerFps[t], peer / 1000,
                        pixels > 0 ? peer * 1000 / pixels : 0, oursFps[t] / peerFps[t]);
        else
            std::printf(", peer unavailable\n");
    }
    if (!peerNote.empty()) std::printf("peer: %s\n", peerNote.c_str());
    std::printf("\n");
    Target("render_fps_1_thread", oursFps[1], 0, ">=", 150);
    Target("render_fps_all_threads", oursFps[counts.back()], 0, ">=", 250);
    for (int t : counts) {
        const std::string name = "render_vs_llvmpipe_" + std::to_string(t) + "_threads";
        if (peerFps[t] > 0)
            Target(name.c_str(), oursFps[t], peerFps[t], ">=", 1.0);
        else
            std::printf("TARGET %s ours=%.1f peer=- ratio=- goal=>=1 MISSED\n", name.c_str(), oursFps[t]);
    }
    return 0;
}
