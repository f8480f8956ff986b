// The executable: chooses the window system, registers the resources and
// runs WinMain.
//   VINTREL_HEADLESS=1            run without a display
//   VINTREL_HEADLESS_FRAMES=N     headless: close the window after N frames
//                                 (unset or empty: run until closed)
//   VINTREL_HEADLESS_KEYS=FILE    headless: key script (frame, keys held)
//   VINTREL_HEADLESS_PNG=FILE     headless: write the last frame as PNG
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/app.h"
#include "platform/shell/headless.h"
#include "platform/win32/whole_file.h"
#include "resources/resources.h"
#if VINTREL_HAVE_GTK
#include "platform/shell/gtk/gtk_window_system.h"
#endif

namespace {

bool EnvironmentFlag(const char* name) {
    const char* value = std::getenv(name);
    return value && *value && std::strcmp(value, "0") != 0;
}

// Frame counts as the drive tool takes them: digits only, 1 to 100000000.
constexpr unsigned long long kMostFrames = 100000000ull;

bool ParseFrameCount(const char* text, std::uint64_t* value) {
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v == 0 || v > kMostFrames) return false;
    *value = v;
    return true;
}

void PrintHelp() {
    std::printf(
        "usage: vintrel\n"
        "Drives one car on one course. Run it in the folder that holds the data set\n"
        "(ct01.x, car.x, font.dds, SpeedMeter.dds, media/).\n"
        "Keys: G throttle, F brake, arrows steer, V view, A/Z S/X Q/W E camera.\n"
        "Environment: VINTREL_HEADLESS=1 runs without a display; with it\n"
        "VINTREL_HEADLESS_FRAMES=N stops after N frames (1 to 100000000; unset, it runs\n"
        "until the window is closed), VINTREL_HEADLESS_KEYS=FILE plays a key script,\n"
        "VINTREL_HEADLESS_PNG=FILE keeps the last frame. A bad value or an unreadable\n"
        "script is an error with status 1.\n");
}

int RunHeadless() {
    static HeadlessWindowSystem headless;
    if (const char* path = std::getenv("VINTREL_HEADLESS_KEYS")) {
        std::string text, error;
        KeyScript script;
        if (!ReadWholeFile(path, &text, &error, kMaxKeyScriptBytes) || !ParseKeyScript(text, &script, &error)) {
            std::fprintf(stderr, "vintrel: cannot use the key script %s: %s\n", path, error.c_str());
            return 1;
        }
        headless.SetKeyScript(std::move(script));
    }
    const char* frames = std::getenv("VINTREL_HEADLESS_FRAMES");
    if (frames && *frames) {
        std::uint64_t limit = 0;
        if (!ParseFrameCount(frames, &limit)) {
            std::fprintf(stderr, "vintrel: VINTREL_HEADLESS_FRAMES=%s is not a frame count from 1 to %llu\n",
                         frames, kMostFrames);
            return 1;
        }
        headless.SetFrameHook([limit](std::uint64_t presented) {
            if (presented == limit) headless.ClickCloseBox(GetMainWindow());
        });
    }
    InstallWindowSystem(&headless);
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT);
    InstallWindowSystem(nullptr);
    if (const char* png = std::getenv("VINTREL_HEADLESS_PNG")) {
        std::string error;
        if (!headless.WriteLastFramePng(png, &error)) {
            std::fprintf(stderr, "vintrel: %s\n", error.c_str());
            if (code == 0) code = 1;
        }
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintHelp();
            return 0;
        }
    }
    RegisterProgramResources();
    if (EnvironmentFlag("VINTREL_HEADLESS")) return RunHeadless();
#if VINTREL_HAVE_GTK
    std::string error;
    std::unique_ptr<WindowSystem> display = CreateGtkWindowSystem(&error);
    if (!display) {
        std::fprintf(stderr, "vintrel: %s (set VINTREL_HEADLESS=1 to run without a display)\n",
                     error.c_str());
        return 1;
    }
    InstallWindowSystem(display.get());
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT);
    InstallWindowSystem(nullptr);
    return code;
#else
    std::fprintf(stderr,
                 "vintrel: built without a display backend (set VINTREL_HEADLESS=1 to run)\n");
    return 1;
#endif
}
