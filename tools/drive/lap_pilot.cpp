// vintrel-lap-pilot: works out a key script that drives one lap of the
// course on the road. It runs the car's own per-frame steps (drivetrain,
// motion, ground probes) against the course mesh, without drawing, and
// chooses each frame's keys by following the course's centre line; the
// script it writes replays the same lap in the program, since the camera
// and the drawing never touch the car.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "course.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/whole_file.h"
#include "platform/win32/windows.h"
#include "scene/model.h"
#include "vehicle/vehicle_state.h"

namespace {

template <typename T>
struct Releaser {
    T*& object;
    ~Releaser() {
        if (object) object->Release();
    }
};

const char kUsage[] =
    "usage: vintrel-lap-pilot [--data DIR] [--out FILE]\n"
    "\n"
    "Drives one lap of the course in DIR (default: this build's data set) by following\n"
    "its centre line, and writes the keys as a vintrel-drive script (default: stdout).\n"
    "Prints  frames=N offcourse_frames=K max_offset=M  on stderr.\n";

constexpr float kPi = 3.14159265f;
// Share of the steering range the bends may need, the rest corrects.
constexpr float kSteerMargin = 0.9f;
// No key while the steering is this close to what is wanted.
constexpr float kSteerDeadBand = 0.0005f;

float Wrap(float angle) { return std::remainder(angle, 2.0f * kPi); }

void SetKey(int key, bool down) { UpdateKeyStateFromMessage(down ? WM_KEYDOWN : WM_KEYUP, WPARAM(key)); }

// Highest speed (km/h) at which the steering can still follow a curvature.
float CornerSpeed(float curvature) {
    // heading change per frame = authority x steer; step = v / 70.
    for (float v = 135.0f; v > 10.0f; v -= 1.0f) {
        float step = v / 70.0f;
        float authority = step > 1.5f ? 2.4f - step : 1.0f;
        if (std::fabs(curvature) * step <= authority * 0.012f * kSteerMargin) return v;
    }
    return 10.0f;
}

}  // namespace

int main(int argc, char** argv) {
    std::string data = VINTREL_DATA_DIR, out;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--data" && i + 1 < argc) {
            data = argv[++i];
        } else if (arg == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else {
            std::fprintf(stderr, "vintrel-lap-pilot: bad argument \"%s\"\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    char here[4096];
    if (!getcwd(here, sizeof here)) here[0] = 0;
    if (!out.empty() && out[0] != '/') out = std::string(here) + "/" + out;
    if (chdir(data.c_str()) != 0) {
        std::fprintf(stderr, "vintrel-lap-pilot: cannot enter %s\n", data.c_str());
        return 1;
    }

    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    p.BackBufferFormat = D3DFMT_R5G6B5;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    static int windowStandIn;
    IDirect3DDevice9* device = nullptr;
    // Released on every way out, after the course below (which holds on to
    // the device): a leak checker would otherwise report them.
    const Releaser<IDirect3D9> releaseD3d{d3d};
    const Releaser<IDirect3DDevice9> releaseDevice{device};
    if (!d3d || FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(&windowStandIn),
                                         D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device))) {
        std::fprintf(stderr, "vintrel-lap-pilot: no device\n");
        return 1;
    }
    Model course;
    if (!course.LoadModel(device, "ct01.x")) {
        std::fprintf(stderr, "vintrel-lap-pilot: cannot load ct01.x in %s\n", data.c_str());
        return 1;
    }
    const assets::CentreLine line = assets::BuildCentreLine();
    const int n = int(line.points.size());

    std::vector<std::vector<int>> frames;  // keys held on each frame
    int index = 0, travelled = 0, offFrames = 0;
    float maxOffset = 0;
    const int kKeys[] = {'G', 'F', VK_LEFT, VK_RIGHT};
    for (int frame = 0; frame < 20000 && travelled < n; ++frame) {
        VehicleState& v = vehicle;
        // Nearest centre-line sample, searching forward from the last one.
        int best = index;
        float bestD = 1e30f;
        for (int k = -5; k < 40; ++k) {
            int j = ((index + k) % n + n) % n;
            float dx = line.points[j].x - v.posX, dz = line.points[j].y - v.posZ;
            float d = dx * dx + dz * dz;
            if (d < bestD) bestD = d, best = j;
        }
        int moved = ((best - index) % n + n) % n;
        if (moved < n / 2) travelled += moved;
        index = best;
        maxOffset = std::max(maxOffset, std::sqrt(bestD));

        // Steering: aim at a point ahead on the line (pure pursuit).
        float look = std::max(10.0f, v.stepLength * 14.0f);
        int ahead = (index + int(look / line.step)) % n;
        float dx = line.points[ahead].x - v.posX, dz = line.points[ahead].y - v.posZ;
        float wanted = std::atan2(-dx, -dz);
        float error = Wrap(wanted - v.heading);
        float distance = std::sqrt(dx * dx + dz * dz);
        float step = std::max(v.stepLength, 0.05f);
        float rate = 2.0f * std::sin(error) / distance * step;  // heading change per frame
        float authority = v.stepLength > 1.5f ? 2.4f - v.stepLength : 1.0f;
        float steer = std::clamp(rate / authority, -0.012f, 0.012f);

        // Speed: slow enough for the sharpest bend within braking reach.
        float limit = 135.0f;
        int reach = int((30.0f + v.speed * 1.5f) / line.step);
        for (int k = 0; k < reach; ++k) limit = std::min(limit, CornerSpeed(line.curvature[(index + k) % n]));

        std::vector<int> keys;
        if (v.speed < limit * 0.97f) keys.push_back('G');
        if (v.speed > limit * 1.03f) keys.push_back('F');
        if (steer > v.steer + kSteerDeadBand) keys.push_back(VK_RIGHT);
        if (steer < v.steer - kSteerDeadBand) keys.push_back(VK_LEFT);
        for (int key : kKeys) SetKey(key, std::find(keys.begin(), keys.end(), key) != keys.end());
        frames.push_back(keys);

        v.StepDrivetrain();
        v.StepMotion();
        v.ProbeGround(course);
        v.prevOffCourse = v.offCourse;
        if (v.offCourse) ++offFrames;
    }

    // Runs of equal key sets become one line each.
    std::string script =
        "# One lap of the course, on the road all the way (worked out by vintrel-lap-pilot).\n"
        "# FROM-TO KEYS: keys held on frames FROM to TO.\n";
    auto name = [](int key) -> const char* {
        switch (key) {
        case VK_LEFT: return " Left";
        case VK_RIGHT: return " Right";
        case 'G': return " G";
        default: return " F";
        }
    };
    for (std::size_t i = 0; i < frames.size();) {
        std::size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1] == frames[i]) ++j;
        if (!frames[i].empty()) {
            char range[64];
            std::snprintf(range, sizeof range, "%zu-%zu", i, j);
            script += range;
            for (int key : frames[i]) script += name(key);
            script += '\n';
        }
        i = j + 1;
    }
    if (out.empty()) {
        std::fputs(script.c_str(), stdout);
        if (!FlushStdout("vintrel-lap-pilot")) return 1;
    } else {
        std::string error;
        if (!WriteWholeFile(out, script.data(), script.size(), &error)) {
            std::fprintf(stderr, "vintrel-lap-pilot: cannot write %s: %s\n", out.c_str(), error.c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "frames=%zu offcourse_frames=%d max_offset=%.2f lap_done=%d\n", frames.size(), offFrames,
                 double(maxOffset), travelled >= n ? 1 : 0);
    return offFrames == 0 && travelled >= n ? 0 : 1;
}
