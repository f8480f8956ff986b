// main of vintrel-bench-texture: runs the registered benchmarks, keeps the
// medians of their counters, then prints every file's TARGET lines.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_targets.h"

namespace {
std::vector<TargetReport>& Reports() {
    static std::vector<TargetReport> reports;
    return reports;
}

std::map<std::string, std::map<std::string, double>>& Medians() {
    static std::map<std::string, std::map<std::string, double>> medians;
    return medians;
}

class MedianKeeper : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                for (const auto& [name, counter] : run.counters) Medians()[run.run_name.function_name][name] = counter.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};
}  // namespace

bool AddTargetReport(TargetReport report) {
    Reports().push_back(report);
    return true;
}

double MedianCounter(const std::string& name, const std::string& counter) {
    const auto run = Medians().find(name);
    if (run == Medians().end()) return NAN;
    const auto value = run->second.find(counter);
    return value == run->second.end() ? NAN : value->second;
}

void PrintTarget(const std::string& name, double ours, double peer, const std::string& goal) {
    const bool relative = peer >= 0;
    const double measured = relative ? ours / peer : ours;
    const double bound = std::stod(goal.substr(2));
    const bool met = goal.rfind(">=", 0) == 0 ? measured >= bound : measured <= bound;
    if (relative) {
        std::printf("TARGET %s ours=%.3f peer=%.3f ratio=%.3f goal=%s %s\n", name.c_str(), ours, peer, measured,
                    goal.c_str(), met && !std::isnan(measured) ? "MET" : "MISSED");
    } else {
        std::printf("TARGET %s ours=%.3f peer=- ratio=- goal=%s %s\n", name.c_str(), ours, goal.c_str(),
                    met && !std::isnan(measured) ? "MET" : "MISSED");
    }
}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    for (TargetReport report : Reports()) report();
    return 0;
}
