// The shell run whole on the headless window system with a recording device:
// the loop's order, the menu commands, the close box, the About box, paint
// and the failure exits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/device.h"
#include "platform/shell/headless.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"
#include "tests/app/fake_device.h"

namespace {

// Every read of the clock is a PaceFrame: nothing else in the program reads it.
DWORD testClock = 5000;
DWORD ReadClock() {
    FakeLog().events.push_back("Pace");
    return testClock;
}
void NoSleep(DWORD) {}

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterProgramResources();
        ResetWindowsForTesting();
        ResetKeyStateForTesting();
        FakeLog() = FakeDeviceLog{};
        headless.SetLogging(false);
        InstallWindowSystem(&headless);
        SetDirect3DCreateForTesting(CreateFakeDirect3D);
        SetTimeSourceForTesting(ReadClock, NoSleep);
    }
    void TearDown() override {
        SetTimeSourceForTesting(nullptr, nullptr);
        SetDirect3DCreateForTesting(nullptr);
        InstallWindowSystem(nullptr);
        ResetWindowsForTesting();
        ResetKeyStateForTesting();
    }

    // Runs the program; `atFrame` is called after each presented frame.
    int Run(std::function<void(std::uint64_t)> atFrame) {
        headless.SetFrameHook([this, atFrame](std::uint64_t n) {
            if (n > 1000) {
                ADD_FAILURE() << "the program did not end";
                headless.ClickCloseBox(GetMainWindow());
                return;
            }
            atFrame(n);
        });
        return WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT);
    }

    // The shell's own events from the first Clear on (the scene's state and
    // drawing calls inside the frame are left out).
    std::vector<std::string> FrameEvents() const {
        static const std::vector<std::string> shell = {"Clear",   "BeginScene",     "EndScene",        "Present",
                                                       "Pace",    "Release device", "Release Direct3D"};
        const auto& e = FakeLog().events;
        std::vector<std::string> out;
        for (auto it = std::find(e.begin(), e.end(), "Clear"); it != e.end(); ++it)
            if (std::find(shell.begin(), shell.end(), *it) != shell.end()) out.push_back(*it);
        return out;
    }

    static int Count(const std::vector<std::string>& events, const std::string& name) {
        return static_cast<int>(std::count(events.begin(), events.end(), name));
    }

    HeadlessWindowSystem headless;
};

const std::vector<std::string> kFrame = {"Clear", "BeginScene", "EndScene", "Present", "Pace"};

TEST_F(Shell, CreatesWindowAndDeviceThenDrawsFramesInOrderUntilFileExit) {
    int exitCode = Run([this](std::uint64_t n) {
        if (n == 3) headless.ChooseMenuItem(GetMainWindow(), IDM_EXIT);
    });
    EXPECT_EQ(exitCode, 0);

    // Start-up: the Direct3D object, the device, the viewport, before any frame.
    const auto& e = FakeLog().events;
    ASSERT_GE(e.size(), 3u);
    EXPECT_EQ(e[0], "Direct3DCreate9");
    EXPECT_EQ(e[1], "CreateDevice");
    EXPECT_EQ(e[2], "SetViewport");

    // Three frames, each exactly in order, then the device is given back.
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), kFrame.begin(), kFrame.end());
    expected.push_back("Release device");
    expected.push_back("Release Direct3D");
    EXPECT_EQ(FrameEvents(), expected);
    EXPECT_EQ(FakeLog().liveObjects, 0);

    const FakeDeviceLog& log = FakeLog();
    EXPECT_EQ(log.adapter, 0u);
    EXPECT_EQ(log.deviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(log.behaviourFlags, 0x20u);
    EXPECT_NE(log.focusWindow, nullptr);
    EXPECT_EQ(log.parameters.BackBufferWidth, 640u);
    EXPECT_EQ(log.parameters.BackBufferHeight, 480u);
    EXPECT_EQ(log.parameters.BackBufferFormat, D3DFMT_R5G6B5);
    EXPECT_EQ(log.parameters.BackBufferCount, 0u);
    EXPECT_EQ(log.parameters.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(log.parameters.hDeviceWindow, nullptr);
    EXPECT_EQ(log.parameters.Windowed, TRUE);
    EXPECT_EQ(log.parameters.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(log.parameters.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(log.parameters.PresentationInterval, 0u);
    EXPECT_EQ(log.viewport.X, 0u);
    EXPECT_EQ(log.viewport.Y, 0u);
    EXPECT_EQ(log.viewport.Width, 640u);
    EXPECT_EQ(log.viewport.Height, 480u);
    EXPECT_EQ(log.viewport.MinZ, 0.0f);
    EXPECT_EQ(log.viewport.MaxZ, 1.0f);
    EXPECT_EQ(log.clearCount, 0u);
    EXPECT_EQ(log.clearRects, nullptr);
    EXPECT_EQ(log.clearFlags, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    EXPECT_EQ(log.clearColour, 0xFFA0A0F0u);
    EXPECT_EQ(log.clearZ, 1.0f);
    EXPECT_EQ(log.clearStencil, 0u);
    EXPECT_TRUE(log.presentArgumentsNull);

    // The picture reached the window system: the clear colour, widened.
    EXPECT_EQ(headless.FrameCount(), 3u);
    ASSERT_EQ(headless.LastFrame().xrgb.size(), 640u * 480u);
    EXPECT_EQ(headless.LastFrame().xrgb[0], 0xA5A2F7u);
    EXPECT_FALSE(IsWindow(log.focusWindow));
}

TEST_F(Shell, SoftwareDeviceFramesReachTheWindowSystem) {
    SetDirect3DCreateForTesting(nullptr);  // the real device
    int exitCode = Run([this](std::uint64_t n) {
        if (n == 3) headless.ChooseMenuItem(GetMainWindow(), IDM_EXIT);
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(headless.FrameCount(), 3u);
    const CapturedFrame& frame = headless.LastFrame();
    ASSERT_EQ(frame.width, 640u);
    ASSERT_EQ(frame.height, 480u);
    // Cleared to 0xA0A0F0, stored as R5G6B5 (within one step of 5 or 6
    // bits). No data files here, so the scene draws no meshes, only its
    // text and meter near the edges: the band between them is all clear.
    std::uint32_t first = frame.xrgb[150 * 640];
    for (int shift : {0, 8, 16}) {
        int got = int((first >> shift) & 0xFF), want = int((0xA0A0F0u >> shift) & 0xFF);
        EXPECT_NEAR(got, want, 8) << std::hex << first;
    }
    EXPECT_TRUE(std::all_of(frame.xrgb.begin() + 150 * 640, frame.xrgb.begin() + 340 * 640,
                            [first](std::uint32_t p) { return p == first; }));
    EXPECT_EQ(GetDevice(), nullptr);  // given back at the end
}

TEST_F(Shell, WindowHasTitleClassMenuAndOuterSize) {
    const HeadlessWindowSystem::Window* seen = nullptr;
    NativeWindowDescription description;
    RECT client = {};
    Run([&](std::uint64_t) {
        seen = headless.FindWindow(GetMainWindow());
        if (seen) description = seen->description;
        GetClientRect(GetMainWindow(), &client);
        headless.ChooseMenuItem(GetMainWindow(), IDM_EXIT);
    });
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(description.title, "Vintrel Test");
    EXPECT_EQ(description.style, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(description.width, 640);
    EXPECT_EQ(description.height, 480);
    EXPECT_NE(description.icon, nullptr);
    EXPECT_NE(description.smallIcon, nullptr);
    ASSERT_EQ(description.menu.size(), 2u);
    EXPECT_EQ(description.menu[0].text, "ファイル(&F)");
    EXPECT_EQ(description.menu[1].text, "ヘルプ(&H)");
    // The client area is smaller than the 640 x 480 back buffer.
    EXPECT_LT(client.right, 640);
    EXPECT_LT(client.bottom, 480);
    EXPECT_GT(client.right, 0);
}

TEST_F(Shell, CloseBoxEndsWithZero) {
    int exitCode = Run([this](std::uint64_t n) {
        if (n == 2) headless.ClickCloseBox(GetMainWindow());
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Count(FakeLog().events, "Present"), 2);
}

TEST_F(Shell, QuitMessageEndsTheLoopWithItsCode) {
    int exitCode = Run([](std::uint64_t n) {
        if (n == 2) PostQuitMessage(7);
    });
    EXPECT_EQ(exitCode, 7);
    EXPECT_EQ(Count(FakeLog().events, "Present"), 2);
}

TEST_F(Shell, EveryWaitingMessageIsHandledBeforeTheNextFrame) {
    FakeLog().keysToWatch = {'A', 'B', 'C'};
    Run([this](std::uint64_t n) {
        HWND main = GetMainWindow();
        if (n == 1) {
            PostKeyEvent(main, 'A', true, false);
            PostKeyEvent(main, 'B', true, false);
            PostKeyEvent(main, 'C', true, false);
        }
        if (n == 2) headless.ChooseMenuItem(main, IDM_EXIT);
    });
    const auto& keys = FakeLog().keysAtClear;
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], (std::vector<bool>{false, false, false}));
    EXPECT_EQ(keys[1], (std::vector<bool>{true, true, true}));
}

TEST_F(Shell, FailingPresentEndsTheProgramWithAnError) {
    FakeLog().failPresentNumber = 3;
    testing::internal::CaptureStderr();
    int exitCode = Run([](std::uint64_t) {});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(exitCode, 1);
    EXPECT_NE(err.find("Present failed"), std::string::npos) << err;
    // Two whole frames, the third stops at its Present: no pacing after it.
    std::vector<std::string> expected;
    for (int i = 0; i < 2; ++i) expected.insert(expected.end(), kFrame.begin(), kFrame.end());
    expected.insert(expected.end(), {"Clear", "BeginScene", "EndScene", "Present", "Release device",
                                     "Release Direct3D"});
    EXPECT_EQ(FrameEvents(), expected);
}

TEST_F(Shell, WindowGoneFromTheWindowSystemLosesTheDevice) {
    headless.FailPresentAfter(2);
    testing::internal::CaptureStderr();
    int exitCode = Run([](std::uint64_t) {});
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(Count(FakeLog().events, "Present"), 3);
}

TEST_F(Shell, MissingDirect3DOrDeviceEndsWithOneLineAndStatusOne) {
    SetDirect3DCreateForTesting([](UINT) -> IDirect3D9* { return nullptr; });
    testing::internal::CaptureStderr();
    EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("Direct3D"), std::string::npos) << err;

    ResetWindowsForTesting();
    FakeLog() = FakeDeviceLog{};
    FakeLog().failCreateDevice = true;
    SetDirect3DCreateForTesting(CreateFakeDirect3D);
    testing::internal::CaptureStderr();
    EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT), 1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("device"), std::string::npos) << err;
    // No viewport and no frame without a device; the Direct3D object is given back.
    EXPECT_EQ(Count(FakeLog().events, "SetViewport"), 0);
    EXPECT_EQ(Count(FakeLog().events, "Clear"), 0);
    EXPECT_EQ(FakeLog().liveObjects, 0);
}

// What the About box's modal loop sees on each of its waits.
struct AboutRun {
    int presentsAtOpen = -1;
    std::vector<int> presentsDuringWaits;
    bool ownerEnabledDuring = true;
    std::vector<std::string> titles;
};

TEST_F(Shell, AboutBoxFreezesTheFrameUntilOkThenDrawingResumes) {
    AboutRun about;
    headless.SetDialogResponder([&](HWND dialog, const DialogTemplate&, unsigned turn) {
        if (turn == 0) {
            about.presentsAtOpen = FakeLog().presents;
            about.ownerEnabledDuring = IsWindowEnabled(GetMainWindow());
        }
        about.presentsDuringWaits.push_back(FakeLog().presents);
        // The window system keeps asking for paint and sending keys meanwhile.
        InvalidateRect(GetMainWindow(), nullptr, FALSE);
        if (turn == 5) PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    int exitCode = Run([this](std::uint64_t n) {
        if (n == 2) headless.ChooseMenuItem(GetMainWindow(), IDM_ABOUT);
        if (n == 4) headless.ChooseMenuItem(GetMainWindow(), IDM_EXIT);
    });
    EXPECT_EQ(exitCode, 0);
    ASSERT_EQ(headless.DialogsOpened(), std::vector<std::string>{"バージョン情報"});
    EXPECT_EQ(about.presentsAtOpen, 2);
    EXPECT_EQ(about.presentsDuringWaits, std::vector<int>(6, 2));
    EXPECT_FALSE(about.ownerEnabledDuring);
    EXPECT_EQ(Count(FakeLog().events, "Present"), 4);
    EXPECT_EQ(Count(FakeLog().events, "Clear"), 4);
}

// The About box on its own, with the program's template and procedure.
class AboutBox : public Shell {
protected:
    INT_PTR Open(std::function<void(HWND dialog)> answer) {
        WNDCLASSEXA wc = {sizeof(WNDCLASSEXA), 0, DefWindowProcA, 0, 0, nullptr, nullptr, nullptr,
                          nullptr, nullptr, "AboutOwner", nullptr};
        RegisterClassExA(&wc);
        HWND owner = CreateWindowExA(0, "AboutOwner", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                     nullptr, nullptr, nullptr, nullptr);
        headless.SetDialogResponder([answer](HWND dialog, const DialogTemplate&, unsigned turn) {
            if (turn == 0) answer(dialog);
        });
        INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX),
                                         owner, AboutDialogProc, 0);
        EXPECT_TRUE(IsWindowEnabled(owner));
        DestroyWindow(owner);
        return result;
    }
};

TEST_F(AboutBox, OkAndEnterGiveOneEscAndCloseBoxGiveTwo) {
    EXPECT_EQ(Open([](HWND d) { PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }), 1);
    EXPECT_EQ(Open([](HWND d) { PostKeyEvent(d, VK_RETURN, true, false); }), 1);
    EXPECT_EQ(Open([](HWND d) { PostKeyEvent(d, VK_ESCAPE, true, false); }), 2);
    EXPECT_EQ(Open([this](HWND d) { headless.ClickCloseBox(d); }), 2);
}

TEST_F(AboutBox, OtherCommandsLeaveItOpen) {
    EXPECT_EQ(Open([](HWND d) {
                  PostMessageA(d, WM_COMMAND, MAKEWPARAM(1234, BN_CLICKED), 0);
                  PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
              }),
              2);
}

TEST_F(AboutBox, ProcedureAnswers) {
    EXPECT_EQ(AboutDialogProc(nullptr, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(AboutDialogProc(nullptr, WM_PAINT, 0, 0), FALSE);
    EXPECT_EQ(AboutDialogProc(nullptr, WM_COMMAND, 1234, 0), FALSE);
}

TEST_F(Shell, PaintIsAnsweredWithAnEmptyPaintAndTheNextFrameRepaints) {
    bool paintPending = true;
    int clearsBefore = 0;
    Run([&](std::uint64_t n) {
        HWND main = GetMainWindow();
        if (n == 1) {
            headless.ExposeWindow(main);
            clearsBefore = Count(FakeLog().events, "Clear");
        }
        if (n == 2) {
            MSG m;
            paintPending = PeekMessageA(&m, main, WM_PAINT, WM_PAINT, PM_NOREMOVE);
            headless.ChooseMenuItem(main, IDM_EXIT);
        }
    });
    EXPECT_FALSE(paintPending);
    EXPECT_EQ(clearsBefore, 1);
    // The paint drew nothing: one Clear per Present.
    EXPECT_EQ(Count(FakeLog().events, "Clear"), Count(FakeLog().events, "Present"));
}

TEST_F(Shell, AltQuestionMarkOpensTheAboutBox) {
    headless.SetLogging(false);
    Run([this](std::uint64_t n) {
        HWND main = GetMainWindow();
        if (n == 1) {
            // Alt, Shift and the '/' key: the character is '?'.
            PostKeyEvent(main, VK_MENU, true, true);
            PostKeyEvent(main, VK_SHIFT, true, true);
            PostKeyEvent(main, VK_OEM_2, true, true);
            PostKeyEvent(main, VK_OEM_2, false, true);
            PostKeyEvent(main, VK_SHIFT, false, true);
            PostKeyEvent(main, VK_MENU, false, false);
        }
        if (n == 2) headless.ChooseMenuItem(main, IDM_EXIT);
    });
    EXPECT_EQ(headless.DialogsOpened(), std::vector<std::string>{"バージョン情報"});
}

}  // namespace
