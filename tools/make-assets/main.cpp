// vintrel-make-assets: writes the program's whole data set into a folder.
// Everything is generated from code with fixed seeds, so every run writes
// the same bytes.
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "car.h"
#include "course.h"
#include "course_map.h"
#include "hud.h"
#include "image_writers.h"
#include "sounds.h"
#include "text_render.h"
#include "textures.h"

namespace {
void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: vintrel-make-assets OUTDIR [--map FILE.png]\n"
                 "Writes the data set of the Vintrel demo into OUTDIR: ct01.x, car.x, carveR.x,\n"
                 "carveL.x, font.dds, SpeedMeter.dds, the course's textures and media/*.wav.\n"
                 "  --map FILE.png   also draw a top-down map of the course (materials, centre\n"
                 "                   line in yellow, start pose in magenta)\n"
                 "Prints one line: files=N triangles=N vertices=N length=L ms=T\n");
}

bool MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    std::fprintf(stderr, "make-assets: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    using namespace assets;
    std::string out, mapPath;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--map" && i + 1 < argc) {
            mapPath = argv[++i];
        } else if (!a.empty() && a[0] != '-' && out.empty()) {
            out = a;
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (out.empty()) {
        Usage(stderr);
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    if (!MakeDirectory(out) || !MakeDirectory(out + "/media")) return 1;

    TextRenderer text;
    if (!text.ok()) return 1;
    CentreLine line = BuildCentreLine();
    XFile course = BuildCourse(line);

    // The course must keep 16-bit indices and give the probes a clean road.
    size_t vertices = 0, triangles = 0;
    std::vector<WorldTriangle> world = Flatten(course);
    triangles = world.size();
    for (const XFrame& f : course.frames) {
        std::vector<const XFrame*> stack = {&f};
        while (!stack.empty()) {
            const XFrame* frame = stack.back();
            stack.pop_back();
            for (const XMesh& m : frame->meshes) vertices += m.positions.size();
            for (const XFrame& c : frame->children) stack.push_back(&c);
        }
    }
    size_t overRoad = CountFacesOverRoad(world, kRoadMaterial, 16.0f);
    if (overRoad != 0 || vertices >= 65534 || triangles < 30000 || triangles > 65534) {
        std::fprintf(stderr, "make-assets: the course breaks its rules: %zu faces over the road, %zu vertices, %zu triangles\n",
                     overRoad, vertices, triangles);
        return 1;
    }

    // The files this run wrote, whatever else the folder holds.
    bool ok = true;
    size_t files = 0;
    auto count = [&](bool written) { ok &= written, files += written; };
    count(WriteXFile(out + "/car.x", BuildCar()));
    count(WriteXFile(out + "/carveR.x", BuildMarker(true)));
    count(WriteXFile(out + "/carveL.x", BuildMarker(false)));
    count(WriteDds(out + "/font.dds", MakeFont(text), DdsFormat::A8R8G8B8, false));
    count(WriteDds(out + "/SpeedMeter.dds", MakeSpeedMeter(text), DdsFormat::A8R8G8B8, false));
    ok &= WriteCourseTextures(out, text, files);
    count(WriteWave(out + "/media/eng2.wav", MakeEngineLoop()));
    count(WriteWave(out + "/media/Get_Closer.wav", MakeMusic()));
    count(WriteWave(out + "/media/puffs.wav", MakePuff()));
    count(WriteWave(out + "/media/out.wav", MakeGravelLoop()));
    if (!mapPath.empty()) count(WriteCourseMap(mapPath, line, world));
    // The course comes last: the build takes the data set as made when it
    // is there, so it is written only once everything else is.
    if (ok) count(WriteXFile(out + "/ct01.x", course));
    if (!ok) return 1;

    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("files=%zu triangles=%zu vertices=%zu length=%.1f ms=%.0f\n", files, triangles, vertices,
                double(line.length), ms);
    return 0;
}
