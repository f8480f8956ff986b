// vintrel-bench-mesh: loads a generated 200 000-triangle model in text and
// binary ".x" form (the raw file read is the ceiling), and casts one ray at
// a 100 000-face attribute group. Ends with the TARGET lines.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "geometry/geometry.h"
#include "platform/d3d9/offscreen_device.h"

namespace {

constexpr int kGrid = 317;  // 316 × 316 quads = 199 712 triangles

struct Grid {
    std::vector<float> xyz;
    std::vector<DWORD> triangles;
};

Grid MakeGrid(int n) {
    Grid g;
    for (int z = 0; z < n; ++z) {
        for (int x = 0; x < n; ++x) g.xyz.insert(g.xyz.end(), {float(x), float((x * 7 + z * 3) % 5) * 0.1f, float(z)});
    }
    for (int z = 0; z + 1 < n; ++z) {
        for (int x = 0; x + 1 < n; ++x) {
            const DWORD a = DWORD(z * n + x), b = a + 1, c = a + DWORD(n), d = c + 1;
            g.triangles.insert(g.triangles.end(), {a, c, b, b, c, d});
        }
    }
    return g;
}

std::string TextX(const Grid& g) {
    std::string s = "xof 0303txt 0032\nMesh {\n";
    char line[96];
    s += std::to_string(g.xyz.size() / 3) + ";\n";
    for (size_t i = 0; i < g.xyz.size(); i += 3) {
        std::snprintf(line, sizeof line, "%g;%g;%g;%s\n", g.xyz[i], g.xyz[i + 1], g.xyz[i + 2],
                      i + 3 < g.xyz.size() ? "," : ";");
        s += line;
    }
    s += std::to_string(g.triangles.size() / 3) + ";\n";
    for (size_t i = 0; i < g.triangles.size(); i += 3) {
        std::snprintf(line, sizeof line, "3;%u,%u,%u;%s\n", g.triangles[i], g.triangles[i + 1], g.triangles[i + 2],
                      i + 3 < g.triangles.size() ? "," : ";");
        s += line;
    }
    return s + "}\n";
}

void Put16(std::string& s, uint16_t v) { s.append(reinterpret_cast<const char*>(&v), 2); }
void Put32(std::string& s, uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); }

std::string BinaryX(const Grid& g) {
    std::string s = "xof 0303bin 0032";
    Put16(s, 1);  // name token
    Put32(s, 4);
    s += "Mesh";
    Put16(s, 10);  // open brace
    Put16(s, 6);   // integer list: nVertices
    Put32(s, 1);
    Put32(s, uint32_t(g.xyz.size() / 3));
    Put16(s, 7);  // float list: the positions
    Put32(s, uint32_t(g.xyz.size()));
    s.append(reinterpret_cast<const char*>(g.xyz.data()), g.xyz.size() * 4);
    Put16(s, 6);  // integer list: nFaces, then 3;a,b,c per face
    const uint32_t faces = uint32_t(g.triangles.size() / 3);
    Put32(s, 1 + faces * 4);
    Put32(s, faces);
    for (size_t i = 0; i < g.triangles.size(); i += 3) {
        Put32(s, 3);
        for (int k = 0; k < 3; ++k) Put32(s, g.triangles[i + k]);
    }
    Put16(s, 11);  // close brace
    return s;
}

IDirect3DDevice9* Device() {
    static IDirect3DDevice9* device = CreateOffscreenDevice(16, 16);
    return device;
}

std::string WriteTemp(const std::string& name, const std::string& bytes) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

void LoadFile(benchmark::State& state, const std::string& path, uint64_t bytes) {
    for (auto _ : state) {
        Mesh* mesh = nullptr;
        DataBuffer* materials = nullptr;
        DWORD count = 0;
        const HRESULT hr = LoadMeshFromXFile(path.c_str(), OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Device(), nullptr,
                                             &materials, nullptr, &count, &mesh);
        if (FAILED(hr)) {
            state.SkipWithError("load failed");
            break;
        }
        mesh->Release();
        materials->Release();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}

void ReadRaw(benchmark::State& state, const std::string& path, uint64_t bytes) {
    std::vector<char> buffer(bytes);
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        const size_t got = f ? std::fread(buffer.data(), 1, buffer.size(), f) : 0;
        if (f) std::fclose(f);
        benchmark::DoNotOptimize(got);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}

Mesh* PickMesh(DWORD* faces) {
    const Grid g = MakeGrid(225);  // 224 × 224 quads = 100 352 faces
    Mesh* mesh = nullptr;
    const DWORD nv = DWORD(g.xyz.size() / 3), nf = DWORD(g.triangles.size() / 3);
    CreateMeshFvf(nf, nv, OPT_32BIT_INDICES | OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, D3DFVF_XYZ, Device(), &mesh);
    void* p = nullptr;
    mesh->LockVertices(0, &p);
    std::memcpy(p, g.xyz.data(), g.xyz.size() * 4);
    mesh->UnlockVertices();
    mesh->LockIndices(0, &p);
    std::memcpy(p, g.triangles.data(), g.triangles.size() * 4);
    mesh->UnlockIndices();
    mesh->OptimizeMeshInPlace(OPTIMIZE_ATTRIBUTE_SORT | OPTIMIZE_IGNORE_VERTICES, nullptr, nullptr, nullptr, nullptr);
    *faces = nf;
    return mesh;
}

void Intersect(benchmark::State& state) {
    DWORD faces = 0;
    Mesh* mesh = PickMesh(&faces);
    const Vector3 origin{100.3f, 50, 80.6f}, down{0, -1, 0};
    for (auto _ : state) {
        BOOL hit = FALSE;
        DWORD face = 0, count = 0;
        float u, v, t;
        DataBuffer* all = nullptr;
        IntersectRayWithMeshGroup(mesh, 0, &origin, &down, &hit, &face, &u, &v, &t, &all, &count);
        if (all) all->Release();
        benchmark::DoNotOptimize(face);
    }
    state.counters["faces"] = faces;
    state.SetItemsProcessed(int64_t(state.iterations()) * faces);
    mesh->Release();
}

// The demo's ground probe over its course: for each probe point the groups
// are tried in order until one is hit, as vehicle/ground_probe.cpp does.
void IntersectCourse(benchmark::State& state) {
    const char* env = std::getenv("VINTREL_BENCH_COURSE");
    const std::string path = env ? env : VINTREL_DATA_DIR "/ct01.x";
    Mesh* mesh = nullptr;
    DataBuffer* materials = nullptr;
    DWORD groups = 0;
    if (FAILED(LoadMeshFromXFile(path.c_str(), OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Device(), nullptr, &materials,
                                 nullptr, &groups, &mesh))) {
        state.SkipWithError(("cannot load " + path).c_str());
        return;
    }
    // Probe points above every 997th vertex, so most land on the course.
    std::vector<Vector3> points;
    const BYTE* vb = nullptr;
    mesh->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(const_cast<BYTE**>(&vb)));
    for (DWORD i = 0; i < mesh->GetVertexCount(); i += 997) {
        Vector3 p;
        std::memcpy(&p, vb + size_t{i} * mesh->GetVertexStride(), sizeof p);
        points.push_back({p.x + 0.1f, p.y + 10, p.z + 0.1f});
    }
    mesh->UnlockVertices();
    const Vector3 down{0, -1, 0};
    int64_t calls = 0;
    for (auto _ : state) {
        for (const Vector3& origin : points) {
            for (DWORD group = 0; group < groups; ++group) {
                BOOL hit = FALSE;
                DWORD face = 0, count = 0;
                float u, v, t;
                DataBuffer* all = nullptr;
                IntersectRayWithMeshGroup(mesh, group, &origin, &down, &hit, &face, &u, &v, &t, &all, &count);
                ++calls;
                if (all) all->Release();
                benchmark::DoNotOptimize(face);
                if (hit) break;
            }
        }
    }
    state.counters["probes"] = double(points.size());
    state.counters["calls_per_probe"] = double(calls) / double(state.iterations() * points.size());
    state.SetItemsProcessed(int64_t(state.iterations() * points.size()));
    mesh->Release();
    materials->Release();
}

class MedianReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> bytes, items;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
            auto b = run.counters.find("bytes_per_second");
            if (b != run.counters.end()) bytes[run.run_name.function_name] = b->second.value;
            auto i = run.counters.find("items_per_second");
            if (i != run.counters.end()) items[run.run_name.function_name] = i->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void LoadTarget(const MedianReporter& r, const char* name, const char* ours, double goal) {
    auto o = r.bytes.find(ours), p = r.bytes.find("ReadRaw");
    if (o == r.bytes.end() || p == r.bytes.end()) {
        std::printf("TARGET %s ours=- peer=- ratio=- goal=>=%gMB/s MISSED\n", name, goal);
        return;
    }
    const double mbs = o->second / 1e6, raw = p->second / 1e6;
    std::printf("TARGET %s ours=%.1fMB/s peer=%.1fMB/s ratio=%.3f goal=>=%gMB/s %s\n", name, mbs, raw, mbs / raw, goal,
                mbs >= goal ? "MET" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    const Grid grid = MakeGrid(kGrid);
    const std::string text = TextX(grid), binary = BinaryX(grid);
    const std::string textPath = WriteTemp("vintrel-bench-mesh.txt.x", text);
    const std::string binaryPath = WriteTemp("vintrel-bench-mesh.bin.x", binary);
    std::printf("model: %zu triangles; text %zu bytes, binary %zu bytes\n", grid.triangles.size() / 3, text.size(),
                binary.size());

    benchmark::RegisterBenchmark("LoadText", [&](benchmark::State& s) { LoadFile(s, textPath, text.size()); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LoadBinary", [&](benchmark::State& s) { LoadFile(s, binaryPath, binary.size()); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ReadRaw", [&](benchmark::State& s) { ReadRaw(s, textPath, text.size()); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("IntersectGroup", Intersect)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("IntersectCourse", IntersectCourse)->Unit(benchmark::kMicrosecond);

    std::vector<char*> args(argv, argv + 1);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    args.push_back(repetitions.data());
    args.push_back(aggregates.data());
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove(textPath);
    std::filesystem::remove(binaryPath);

    LoadTarget(reporter, "load-text", "LoadText", 50);
    LoadTarget(reporter, "load-binary", "LoadBinary", 200);
    auto i = reporter.items.find("IntersectGroup");
    if (i == reporter.items.end()) {
        std::printf("TARGET intersect-ns-per-face ours=- peer=- ratio=- goal=<=3 MISSED\n");
    } else {
        const double ns = 1e9 / i->second;
        std::printf("TARGET intersect-ns-per-face ours=%.2f peer=- ratio=- goal=<=3 %s\n", ns, ns <= 3 ? "MET" : "MISSED");
    }
    return 0;
}
