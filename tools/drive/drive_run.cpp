#include "drive_run.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <climits>

#include "app/app.h"
#include "platform/dsound/sound_output.h"
#include "platform/win32/windows.h"
#include "scene/text_overlay.h"
#include "vehicle/vehicle_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Processor time of the whole process (every render thread included), ms.
double CpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

}  // namespace

std::string FormatVehicleState(std::uint64_t frame) {
    const VehicleState& v = vehicle;
    char line[1024];
    std::snprintf(line, sizeof line,
                  "state frame=%llu posX=%.9g posY=%.9g posZ=%.9g heading=%.9g engineRpm=%.9g targetRpm=%.9g "
                  "gear=%d prevGear=%d speed=%.9g targetSpeed=%.9g stepLength=%.9g steer=%.9g "
                  "effectiveRatio=%.9g throttleOn=%d brakeOn=%d offCourse=%d prevOffCourse=%d "
                  "sideTiltTarget=%.9g sideTilt=%.9g noseTiltTarget=%.9g noseTilt=%.9g shake=%.9g",
                  static_cast<unsigned long long>(frame), double(v.posX), double(v.posY), double(v.posZ),
                  double(v.heading), double(v.engineRpm), double(v.targetRpm), int(v.gear), int(v.prevGear),
                  double(v.speed), double(v.targetSpeed), double(v.stepLength), double(v.steer),
                  double(v.effectiveRatio), int(v.throttleOn), int(v.brakeOn), int(v.offCourse),
                  int(v.prevOffCourse), double(v.sideTiltTarget), double(v.sideTilt), double(v.noseTiltTarget),
                  double(v.noseTilt), double(v.shake));
    return line;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    std::size_t rank = static_cast<std::size_t>(std::ceil(fraction * double(values.size())));
    if (rank < 1) rank = 1;
    return values[std::min(rank, values.size()) - 1];
}

DriveResult RunDrive(const DriveOptions& options) {
    DriveResult result;
    char previous[PATH_MAX];
    if (!getcwd(previous, sizeof previous)) previous[0] = '\0';
    if (chdir(options.dataDir.c_str()) != 0) {
        result.exitCode = 1;
        result.errors.push_back("cannot enter the data folder " + options.dataDir);
        return result;
    }

    HeadlessWindowSystem headless;
    headless.SetKeyScript(options.script.keys);
    // Sounds are loaded, started and retuned as usual, but nothing plays.
    SelectSoundOutput(SoundOutputMode::Capture);

    const std::uint64_t frames = std::max<std::uint64_t>(options.frames, 1);
    const Clock::time_point start = Clock::now();
    Clock::time_point last = start;
    double lastCpu = CpuMs();
    if (options.printOverlay) {
        textOverlay.SetLineObserver([&](float x, float y, const char* text) {
            std::fprintf(options.out, "overlay frame=%llu x=%g y=%g text=%s\n",
                         static_cast<unsigned long long>(headless.FrameCount()), double(x), double(y), text);
        });
    }
    headless.SetFrameHook([&](std::uint64_t presented) {
        const Clock::time_point now = Clock::now();
        const double cpu = CpuMs();
        const std::uint64_t frame = presented - 1;
        if (frame == 0)
            result.firstFrameMs = Ms(now - start);
        else
            result.frameMs.push_back(Ms(now - last)), result.frameCpuMs.push_back(cpu - lastCpu);
        if (options.printState) std::fprintf(options.out, "%s\n", FormatVehicleState(frame).c_str());
        for (const DriveShot& shot : options.shots) {
            std::string error;
            if (shot.frame == frame && !headless.WriteLastFramePng(shot.path, &error))
                result.errors.push_back(shot.path + ": " + error);
        }
        if (options.afterFrame) options.afterFrame(frame, headless.LastFrame());
        if (presented == frames) headless.ClickCloseBox(GetMainWindow());
        last = Clock::now();  // the hook's own printing is not the frame's time
        lastCpu = CpuMs();
    });
    InstallWindowSystem(&headless);
    result.exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT);
    InstallWindowSystem(nullptr);
    textOverlay.SetLineObserver(nullptr);
    SelectSoundOutput(SoundOutputMode::Automatic);
    result.frames = headless.FrameCount();
    result.messageBoxes = headless.MessageBoxes();
    for (const DriveShot& shot : options.shots)
        if (shot.frame >= result.frames) result.errors.push_back(shot.path + ": frame " + std::to_string(shot.frame) +
                                                                 " was not drawn");
    if (previous[0] && chdir(previous) != 0) result.errors.push_back("cannot go back to " + std::string(previous));
    return result;
}
