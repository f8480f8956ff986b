// Runs every texture benchmark with repetitions, then prints one TARGET line
// per registered target from the medians of the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_targets.h"

namespace {
std::vector<BenchTarget>& Targets() {
    static std::vector<BenchTarget> targets;
    return targets;
}

// Keeps the median of each benchmark's counters as the console shows them.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            auto& counters = medians[run.run_name.function_name];
            for (const auto& [name, counter] : run.counters) counters[name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::map<std::string, double>> medians;
};
}  // namespace

bool RegisterBenchTarget(const BenchTarget& target) {
    Targets().push_back(target);
    return true;
}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const BenchTarget& t : Targets()) {
        auto value = [&](const std::string& bench) -> double {
            auto it = reporter.medians.find(bench);
            if (it == reporter.medians.end()) return -1;
            auto c = it->second.find(t.counter);
            return c == it->second.end() ? -1 : c->second;
        };
        const double ours = value(t.ours);
        if (ours < 0) continue;  // filtered out of this run
        if (t.peer.empty()) {
            std::printf("TARGET %s ours=%.1f peer=- ratio=- goal=>=%g %s\n", t.name.c_str(), ours, t.goal,
                        ours >= t.goal ? "MET" : "MISSED");
        } else {
            const double peer = value(t.peer);
            if (peer <= 0) continue;
            const double ratio = ours / peer;
            std::printf("TARGET %s ours=%.1f peer=%.1f ratio=%.3f goal=>=%g %s\n", t.name.c_str(), ours, peer, ratio,
                        t.goal, ratio >= t.goal ? "MET" : "MISSED");
        }
    }
    benchmark::Shutdown();
    return 0;
}
