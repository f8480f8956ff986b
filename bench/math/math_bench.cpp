// Matrix products and point-array transforms of every math variant set, and
// GLM doing the same work, in one run. Ends with the TARGET lines.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "geometry/math.h"
#include "geometry/math_dispatch.h"

#if HAVE_GLM
#include <glm/glm.hpp>
#include <glm/gtc/type_ptr.hpp>
#endif

namespace {

constexpr int kMatrices = 64;  // three arrays of them stay in the first-level cache
constexpr int kPoints = 1024;

struct Set {
    const char* name;
    MathDispatchTable table;
};

std::vector<Set> Sets() {
    std::vector<Set> sets;
    sets.push_back({"portable", PortableMathVariants()});
    MathDispatchTable t = PortableMathVariants();
    InstallX87MathVariants(&t);
    sets.push_back({"x87", t});
    MathDispatchTable sse = t;
    if (InstallSseMathVariants(&sse)) sets.push_back({"sse", sse});
    MathDispatchTable sse2 = t;
    if (InstallSse2MathVariants(&sse2)) sets.push_back({"sse2", sse2});
    return sets;
}

std::vector<Matrix> RandomMatrices(unsigned seed) {
    std::mt19937 engine(seed);
    std::uniform_real_distribution<float> value(-2.0f, 2.0f);
    std::vector<Matrix> matrices(kMatrices);
    for (Matrix& m : matrices)
        for (auto& row : m.m)
            for (float& e : row) e = value(engine);
    return matrices;
}

// A camera's view and projection: w varies with depth, as when drawing.
Matrix ViewProjection() {
    Matrix view, projection, both;
    Vector3 eye{3, 4, -12}, at{0, 0, 0}, up{0, 1, 0};
    BuildLookAtMatrixLeftHanded(&view, &eye, &at, &up);
    BuildPerspectiveMatrixLeftHanded(&projection, 0.9f, 4.0f / 3.0f, 0.5f, 200.0f);
    MultiplyMatrices(&both, &view, &projection);
    return both;
}

std::vector<Vector3> RandomPoints() {
    std::mt19937 engine(7);
    std::uniform_real_distribution<float> value(-5.0f, 5.0f);
    std::vector<Vector3> points(kPoints);
    for (Vector3& p : points) p = {value(engine), value(engine), value(engine)};
    return points;
}

void MultiplyWith(benchmark::State& state, const MathDispatchTable& table) {
    std::vector<Matrix> a = RandomMatrices(1), b = RandomMatrices(2), out(kMatrices);
    for (auto _ : state) {
        for (int i = 0; i < kMatrices; ++i) table.MultiplyMatrices(&out[i], &a[i], &b[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kMatrices);
}

void TransformWith(benchmark::State& state, const MathDispatchTable& table) {
    const Matrix m = ViewProjection();
    std::vector<Vector3> in = RandomPoints(), out(kPoints);
    for (auto _ : state) {
        table.TransformPoint3Array(out.data(), sizeof(Vector3), in.data(), sizeof(Vector3), &m,
                                   kPoints);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void MultiplyDispatched(benchmark::State& state) {
    std::vector<Matrix> a = RandomMatrices(1), b = RandomMatrices(2), out(kMatrices);
    for (auto _ : state) {
        for (int i = 0; i < kMatrices; ++i) MultiplyMatrices(&out[i], &a[i], &b[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kMatrices);
}

#if HAVE_GLM
// GLM keeps columns where we keep rows, so the same bytes are the transposed
// matrices and our a x b is its b * a: the same sixteen dot products.
glm::mat4 ToGlm(const Matrix& m) {
    return glm::make_mat4(&m.m[0][0]);
}

void MultiplyGlm(benchmark::State& state) {
    std::vector<glm::mat4> a, b, out(kMatrices);
    for (const Matrix& m : RandomMatrices(1)) a.push_back(ToGlm(m));
    for (const Matrix& m : RandomMatrices(2)) b.push_back(ToGlm(m));
    for (auto _ : state) {
        for (int i = 0; i < kMatrices; ++i) out[i] = b[i] * a[i];
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kMatrices);
}

void TransformGlm(benchmark::State& state) {
    const glm::mat4 m = ToGlm(ViewProjection());
    std::vector<glm::vec3> in, out(kPoints);
    for (const Vector3& p : RandomPoints()) in.emplace_back(p.x, p.y, p.z);
    for (auto _ : state) {
        for (int i = 0; i < kPoints; ++i) {
            glm::vec4 r = m * glm::vec4(in[i], 1.0f);
            out[i] = glm::vec3(r) / r.w;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
#endif

// Keeps the median of each benchmark's repetitions (items per second).
class MedianReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                auto it = run.counters.find("items_per_second");
                if (it != run.counters.end())
                    medians[run.run_name.function_name] = it->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void Target(const std::map<std::string, double>& medians, const std::string& name,
            const std::string& ours, const std::string& peer, double goal) {
    auto o = medians.find(ours), p = medians.find(peer);
    if (o == medians.end() || p == medians.end()) {
        std::printf("TARGET %s ours=- peer=- ratio=- goal=>=%.1f MISSED\n", name.c_str(), goal);
        return;
    }
    double ratio = o->second / p->second;
    std::printf("TARGET %s ours=%.1fM/s peer=%.1fM/s ratio=%.2f goal=>=%.1f %s\n", name.c_str(),
                o->second / 1e6, p->second / 1e6, ratio, goal, ratio >= goal ? "MET" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    static const std::vector<Set> sets = Sets();
    for (const Set& set : sets) {
        benchmark::RegisterBenchmark((std::string("MultiplyMatrices/") + set.name).c_str(),
                                     [&set](benchmark::State& s) { MultiplyWith(s, set.table); });
    }
    benchmark::RegisterBenchmark("MultiplyMatrices/dispatched", MultiplyDispatched);
#if HAVE_GLM
    benchmark::RegisterBenchmark("MultiplyMatrices/glm", MultiplyGlm);
#endif
    for (const Set& set : sets) {
        benchmark::RegisterBenchmark((std::string("TransformPoint3Array/") + set.name).c_str(),
                                     [&set](benchmark::State& s) { TransformWith(s, set.table); });
    }
#if HAVE_GLM
    benchmark::RegisterBenchmark("TransformPoint3Array/glm", TransformGlm);
#endif

    // Medians of several repetitions, run in shuffled order so a busy
    // machine's slow moments spread over all contenders, unless the command
    // line (read after these) says otherwise.
    std::vector<char*> args(argv, argv + 1);
    std::string repetitions = "--benchmark_repetitions=9";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.push_back(repetitions.data());
    args.push_back(aggregates.data());
    args.push_back(interleave.data());
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nMedians (million per second):\n");
    for (const auto& [name, value] : reporter.medians)
        std::printf("  %-32s %10.1f\n", name.c_str(), value / 1e6);
    const auto& m = reporter.medians;
    Target(m, "MultiplyMatrices-sse2-vs-portable", "MultiplyMatrices/sse2",
           "MultiplyMatrices/portable", 2.0);
    Target(m, "MultiplyMatrices-sse2-vs-glm", "MultiplyMatrices/sse2", "MultiplyMatrices/glm", 1.0);
    Target(m, "TransformPoint3Array-sse2-vs-portable", "TransformPoint3Array/sse2",
           "TransformPoint3Array/portable", 2.0);
    Target(m, "TransformPoint3Array-sse2-vs-glm", "TransformPoint3Array/sse2",
           "TransformPoint3Array/glm", 1.0);
    return 0;
}
