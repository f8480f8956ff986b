// vintrel-drive: runs the whole program headless on a key script and
// reports what it drew and how fast.
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "drive_run.h"
#include "platform/win32/whole_file.h"
#include "resources/resources.h"

namespace {

const char kUsage[] =
    "usage: vintrel-drive [--data DIR] [--script FILE | --keys 'FROM-TO KEYS;...'] [--frames N]\n"
    "                     [--print-overlay] [--print-state] [--shot FRAME:FILE.png]... [--threads N]\n"
    "\n"
    "Runs the whole program without a display, in the folder DIR (default: the data set\n"
    "this build made), for N frames, holding keys as the script says.\n"
    "\n"
    "  --data DIR           working directory of the program (ct01.x, car.x, font.dds, media/ ...)\n"
    "  --script FILE        key script: lines 'FROM-TO KEY KEY...', frames from 0, both ends held;\n"
    "                       keys G F A Z S X Q W E V Left Right; '#' starts a comment\n"
    "  --keys TEXT          the same ranges on one line, separated by ';'\n"
    "  --frames N           frames to draw (default: to the end of the script plus one, or 300)\n"
    "  --print-overlay      print every overlay line: overlay frame=F x=X y=Y text=TEXT\n"
    "  --print-state        print the car after each frame: state frame=F posX=... (every field)\n"
    "  --shot FRAME:FILE    save that frame as it was presented, as PNG (repeatable)\n"
    "  --threads N          render threads of the software device (VINTREL_RENDER_THREADS)\n"
    "  --help               show this text\n"
    "\n"
    "At the end it prints\n"
    "  frames=N median_ms=M p95_ms=P fps=F startup_ms=S cpu_median_ms=C cpu_p95_ms=Q\n"
    "frame times are present to present from the second frame on (cpu_: the process's\n"
    "processor time over the same spans, steadier on a busy machine); startup is from the\n"
    "process start to the first presented frame. Sounds are loaded and driven but not played.\n"
    "Bad arguments exit with status 2; a failed run (data folder, shots) with status 1.\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "vintrel-drive: %s\n(see vintrel-drive --help)\n", message.c_str());
    return 2;
}

bool ParseCount(const char* text, unsigned long long limit, std::uint64_t* value) {
    if (!text || !*text || *text == '-' || *text == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > limit) return false;
    *value = v;
    return true;
}

// Milliseconds since this process started, from the kernel's record of it.
double MsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    // Field 22 (starttime) is the 20th after the name.
    for (int i = 0; i < 20 && fields >> field; ++i) {
    }
    unsigned long long ticks = 0;
    if (!(fields >> ticks)) return -1;
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    double started = double(ticks) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6 - started;
}

}  // namespace

int main(int argc, char** argv) {
    DriveOptions options;
    options.dataDir = VINTREL_DATA_DIR;
    std::uint64_t frames = 0;
    bool haveFrames = false, haveScript = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)what;
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--data") {
            const char* v = value("DIR");
            if (!v || !*v) return Usage("--data needs a folder");
            options.dataDir = v;
        } else if (arg == "--script" || arg == "--keys") {
            const char* v = value("TEXT");
            if (!v) return Usage(arg + " needs a value");
            if (haveScript) return Usage("give one of --script and --keys, once");
            haveScript = true;
            std::string text = v, error;
            if (arg == "--script") {
                std::string all;
                if (!ReadWholeFile(v, &all, &error, kMaxKeyScriptBytes))
                    return Usage(std::string("cannot read the script ") + v + ": " + error);
                if (!ParseDriveScript(all, &options.script, &error))
                    return Usage(std::string(v) + ": " + error);
            } else if (!ParseDriveKeys(text, &options.script, &error)) {
                return Usage("--keys: " + error);
            }
        } else if (arg == "--frames") {
            if (!ParseCount(value("N"), 100000000ull, &frames) || frames == 0)
                return Usage("--frames needs a positive whole number");
            haveFrames = true;
        } else if (arg == "--print-overlay") {
            options.printOverlay = true;
        } else if (arg == "--print-state") {
            options.printState = true;
        } else if (arg == "--shot") {
            const char* v = value("FRAME:FILE");
            std::string text = v ? v : "";
            std::size_t colon = text.find(':');
            DriveShot shot;
            if (colon == std::string::npos || colon + 1 == text.size() ||
                !ParseCount(text.substr(0, colon).c_str(), 100000000ull, &shot.frame))
                return Usage("--shot needs FRAME:FILE.png, e.g. --shot 10:start.png");
            shot.path = text.substr(colon + 1);
            options.shots.push_back(shot);
        } else if (arg == "--threads") {
            std::uint64_t threads = 0;
            const char* v = value("N");
            if (!ParseCount(v, 64, &threads) || threads == 0) return Usage("--threads needs a number from 1 to 64");
            setenv("VINTREL_RENDER_THREADS", v, 1);
        } else {
            return Usage("unknown argument \"" + arg + "\"");
        }
    }
    if (!haveFrames) frames = options.script.empty ? 300 : options.script.lastFrame + 1;
    options.frames = frames;

    // Shots name files from where the tool was started, not the data folder.
    char here[4096];
    if (getcwd(here, sizeof here))
        for (DriveShot& shot : options.shots)
            if (!shot.path.empty() && shot.path[0] != '/') shot.path = std::string(here) + "/" + shot.path;

    const double sinceStart = MsSinceProcessStart();
    RegisterProgramResources();
    DriveResult result = RunDrive(options);
    for (const std::string& error : result.errors) std::fprintf(stderr, "vintrel-drive: %s\n", error.c_str());
    if (result.frames == 0) {
        std::fprintf(stderr, "vintrel-drive: the program drew no frame (exit code %d)\n", result.exitCode);
        return 1;
    }
    double total = 0;
    for (double ms : result.frameMs) total += ms;
    double fps = total > 0 ? double(result.frameMs.size()) * 1000.0 / total : 0.0;
    std::printf("frames=%llu median_ms=%.2f p95_ms=%.2f fps=%.1f startup_ms=%.1f cpu_median_ms=%.2f cpu_p95_ms=%.2f\n",
                static_cast<unsigned long long>(result.frames), Percentile(result.frameMs, 0.5),
                Percentile(result.frameMs, 0.95), fps, (sinceStart < 0 ? 0.0 : sinceStart) + result.firstFrameMs,
                Percentile(result.frameCpuMs, 0.5), Percentile(result.frameCpuMs, 0.95));
    if (!FlushStdout("vintrel-drive")) return 1;
    if (!result.errors.empty() || result.exitCode != 0) return 1;
    return 0;
}
