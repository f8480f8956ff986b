// The program in a real window on a virtual display (Xvfb), driven with
// xdotool as a user would: the window appears with its title and menu bar,
// frames are shown, Help -> About opens the About box and OK closes it,
// File -> Exit ends the program with status 0.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Last: the X headers define short macros (None, Status) that clash with others.
#include <X11/Xlib.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

namespace {

using namespace std::chrono_literals;

// Joins pieces (GCC 12 warns wrongly about literal + std::string at -O3).
std::string Cat(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (std::string_view p : pieces) out.append(p);
    return out;
}

bool OnPath(const char* tool) {
    return std::system(Cat({"command -v ", tool, " >/dev/null 2>&1"}).c_str()) == 0;
}

// Runs a command and returns what it printed.
std::string Output(const std::string& command) {
    std::string out;
    std::string quiet = Cat({command, " 2>/dev/null"});
    if (FILE* p = popen(quiet.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        pclose(p);
    }
    return out;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& directory) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
        int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

Geometry WindowGeometry(const std::string& window) {
    Geometry g;
    std::string out = Output(Cat({"xdotool getwindowgeometry ", window}));
    std::sscanf(out.c_str() + out.find("Position:"), "Position: %d,%d", &g.x, &g.y);
    std::sscanf(out.c_str() + out.find("Geometry:"), "Geometry: %dx%d", &g.width, &g.height);
    return g;
}

std::string FindWindow(const std::string& title) {
    std::string out = Output(Cat({"xdotool search --name '^", title, "$'"}));
    return out.substr(0, out.find('\n'));
}

class Smoke : public ::testing::Test {
protected:
    void SetUp() override {
        // CTest runs this under xvfb-run, which starts a virtual display.
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) GTEST_SKIP() << "no display (run it under xvfb-run)";
        if (!OnPath("xdotool")) GTEST_SKIP() << "needs xdotool (Debian xdotool)";
        unsetenv("VINTREL_HEADLESS");
        ASSERT_TRUE(gdk_init_check(nullptr, nullptr)) << "cannot open " << display;
    }

    void TearDown() override {
        if (program_ > 0) {
            kill(program_, SIGKILL);
            waitpid(program_, nullptr, 0);
        }
    }

    // The colour at a point of the screen, 0xRRGGBB.
    static unsigned Pixel(int x, int y) {
        GdkWindow* root = gdk_get_default_root_window();
        GdkPixbuf* p = gdk_pixbuf_get_from_window(root, x, y, 1, 1);
        if (!p) return 0xFFFFFFFFu;
        const guchar* c = gdk_pixbuf_get_pixels(p);
        unsigned v = (unsigned(c[0]) << 16) | (unsigned(c[1]) << 8) | c[2];
        g_object_unref(p);
        return v;
    }

    static void Save(const Geometry& g, const std::string& name) {
        GdkPixbuf* p = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), g.x, g.y, g.width,
                                                  g.height);
        if (!p) return;
        std::string path = Cat({VINTREL_BINARY_DIR, "/", name});
        gdk_pixbuf_save(p, path.c_str(), "png", nullptr, nullptr);
        g_object_unref(p);
    }

    static bool Near(unsigned a, unsigned b) {
        for (int shift = 0; shift < 24; shift += 8) {
            int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
            if (d < -8 || d > 8) return false;
        }
        return true;
    }

    bool Exited(int* status, std::chrono::milliseconds limit) {
        bool done = WaitFor(
            [&] {
                pid_t r = waitpid(program_, status, WNOHANG);
                return r == program_;
            },
            limit);
        if (done) program_ = -1;
        return done;
    }

    pid_t program_ = -1;
};

TEST_F(Smoke, WindowMenuAboutBoxAndExit) {
    std::string directory = VINTREL_DATA_DIR;
    struct stat st;
    if (stat(directory.c_str(), &st) != 0) directory = VINTREL_BINARY_DIR;
    program_ = Spawn({Cat({VINTREL_BINARY_DIR, "/bin/vintrel"})}, directory);
    ASSERT_GT(program_, 0);

    std::string main;
    ASSERT_TRUE(WaitFor([&] { return !(main = FindWindow("Vintrel Test")).empty(); }))
        << "no window titled \"Vintrel Test\"";
    Geometry g = WindowGeometry(main);
    EXPECT_EQ(g.width, 640);
    EXPECT_EQ(g.height, 480);

    // Frames: the sky is the cleared back buffer (0xA0A0F0, within a step
    // of R5G6B5), seen between the start gantry's pillars and to the right
    // of it, below the menu bar, which is not that colour.
    const unsigned clearColour = 0xA0A0F0;
    EXPECT_TRUE(WaitFor([&] { return Near(Pixel(g.x + 320, g.y + 180), clearColour); }))
        << std::hex << Pixel(g.x + 320, g.y + 180);
    EXPECT_TRUE(Near(Pixel(g.x + 600, g.y + 120), clearColour)) << std::hex << Pixel(g.x + 600, g.y + 120);
    EXPECT_FALSE(Near(Pixel(g.x + 320, g.y + 3), clearColour)) << "no menu bar above the frame";
    Save(g, "smoke-window.png");

    // Help -> About through the menu's mnemonics.
    Output(Cat({"xdotool windowfocus --sync ", main}));
    Output("xdotool key alt+h");
    std::this_thread::sleep_for(300ms);
    Output("xdotool key a");
    std::string about;
    ASSERT_TRUE(WaitFor([&] { return !(about = FindWindow("バージョン情報")).empty(); }))
        << "the About box did not open";
    Geometry a = WindowGeometry(about);
    EXPECT_GT(a.width, 200);
    EXPECT_GT(a.height, 50);
    std::this_thread::sleep_for(300ms);
    Save(a, "smoke-about.png");

    // OK (the default button) closes it.
    Output(Cat({"xdotool windowfocus --sync ", about}));
    Output("xdotool key Return");
    EXPECT_TRUE(WaitFor([&] { return FindWindow("バージョン情報").empty(); }))
        << "the About box did not close";
    int status = 0;
    ASSERT_FALSE(Exited(&status, 300ms)) << "the program ended with the About box";

    // File -> Exit ends the program with status 0.
    Output(Cat({"xdotool windowfocus --sync ", main}));
    Output("xdotool key alt+f");
    std::this_thread::sleep_for(300ms);
    Output("xdotool key x");
    ASSERT_TRUE(Exited(&status, 20s)) << "File -> Exit did not end the program";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Smoke, CloseBoxEndsTheProgramWithZero) {
    // In the data folder: without its sounds the program stops at their
    // error boxes.
    program_ = Spawn({Cat({VINTREL_BINARY_DIR, "/bin/vintrel"})}, VINTREL_DATA_DIR);
    std::string main;
    ASSERT_TRUE(WaitFor([&] { return !(main = FindWindow("Vintrel Test")).empty(); }));
    // What the window manager sends when the close box is clicked.
    Display* x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = std::stoul(main);
    e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, e.xclient.window, False, NoEventMask, &e);
    XFlush(x);
    int status = 0;
    ASSERT_TRUE(Exited(&status, 20s)) << "the close box did not end the program";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
