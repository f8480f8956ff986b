// Windows, the message queue, dialogs and keys on the headless window system.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/shell/headless.h"
#include "platform/win32/templates.h"
#include "platform/win32/windows.h"

namespace {

std::vector<std::string> trace;

std::string Name(UINT m) {
    switch (m) {
        case WM_NCCREATE: return "NCCREATE";
        case WM_CREATE: return "CREATE";
        case WM_SHOWWINDOW: return "SHOWWINDOW";
        case WM_PAINT: return "PAINT";
        case WM_CLOSE: return "CLOSE";
        case WM_DESTROY: return "DESTROY";
        case WM_NCDESTROY: return "NCDESTROY";
        case WM_SYSCOMMAND: return "SYSCOMMAND";
        case WM_COMMAND: return "COMMAND";
        case WM_USER: return "USER";
        default: return std::to_string(m);
    }
}

LRESULT TracingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    trace.push_back(Name(m));
    if (m == WM_CREATE && lp && *reinterpret_cast<int*>(lp) == -1) return -1;
    return DefWindowProcA(w, m, wp, lp);
}

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        ResetWindowsForTesting();
        ResetKeyStateForTesting();
        trace.clear();
        headless.SetLogging(false);
        InstallWindowSystem(&headless);
        WNDCLASSEXA wc = {sizeof(WNDCLASSEXA), 0, TracingProc, 0, 0, nullptr, nullptr, nullptr,
                          nullptr, nullptr, "Tracing", nullptr};
        ASSERT_NE(RegisterClassExA(&wc), 0);
    }
    void TearDown() override {
        InstallWindowSystem(nullptr);
        ResetWindowsForTesting();
        ResetKeyStateForTesting();
    }
    HWND Make(LPVOID param = nullptr) {
        return CreateWindowExA(0, "tracing", "T", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, param);
    }
    HeadlessWindowSystem headless;
};

TEST_F(Windows, ClassesAndCreation) {
    WNDCLASSEXA wc = {sizeof(WNDCLASSEXA), 0, TracingProc, 0, 0, nullptr, nullptr, nullptr,
                      nullptr, nullptr, "TRACING", nullptr};
    EXPECT_EQ(RegisterClassExA(&wc), 0);  // names ignore case: already there
    wc.cbSize = 0;
    wc.lpszClassName = "Other";
    EXPECT_EQ(RegisterClassExA(&wc), 0);  // wrong size
    EXPECT_EQ(CreateWindowExA(0, "Nowhere", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
              nullptr);

    HWND w = Make();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(trace, (std::vector<std::string>{"NCCREATE", "CREATE"}));
    EXPECT_FALSE(IsWindowVisible(w));
    char title[8];
    EXPECT_EQ(GetWindowTextA(w, title, sizeof title), 1);
    EXPECT_STREQ(title, "T");

    // WM_CREATE answering -1 fails the creation and destroys the window.
    trace.clear();
    int refuse = -1;
    EXPECT_EQ(Make(&refuse), nullptr);
    EXPECT_EQ(trace, (std::vector<std::string>{"NCCREATE", "CREATE", "DESTROY", "NCDESTROY"}));
}

TEST_F(Windows, ShowPaintsOnceUntilValidated) {
    HWND w = Make();
    trace.clear();
    EXPECT_FALSE(ShowWindow(w, SW_SHOW));
    EXPECT_TRUE(ShowWindow(w, SW_SHOW));  // was visible
    UpdateWindow(w);                      // sends the pending paint at once
    EXPECT_EQ(trace, (std::vector<std::string>{"SHOWWINDOW", "PAINT"}));
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));  // validated by the default paint

    // A paint that is not validated stays: WM_PAINT keeps coming.
    InvalidateRect(w, nullptr, FALSE);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_PAINT);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_PAINT);
    PAINTSTRUCT ps;
    EXPECT_NE(BeginPaint(w, &ps), nullptr);
    EXPECT_TRUE(EndPaint(w, &ps));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(ps.rcPaint.right, 200 - 8);  // the headless frame takes 4 pixels a side
}

TEST_F(Windows, QueueOrderPostedThenQuitThenPaint) {
    HWND w = Make();
    ShowWindow(w, SW_SHOW);  // leaves a paint pending
    PostMessageA(w, WM_USER, 1, 0);
    PostQuitMessage(3);
    PostMessageA(w, WM_USER, 2, 0);
    MSG m;
    // PM_NOREMOVE looks without taking.
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.wParam, 1u);
    // Filters: by message range and by window.
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
    EXPECT_EQ(m.message, WM_PAINT);
    EXPECT_FALSE(PeekMessageA(&m, reinterpret_cast<HWND>(0x1234), WM_USER, WM_USER, PM_REMOVE));

    std::vector<std::pair<UINT, WPARAM>> order;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        order.push_back({m.message, m.wParam});
        if (m.message == WM_PAINT) break;
        DispatchMessageA(&m);
    }
    EXPECT_EQ(order, (std::vector<std::pair<UINT, WPARAM>>{
                         {WM_USER, 1}, {WM_USER, 2}, {WM_QUIT, 3}, {WM_PAINT, 0}}));
}

TEST_F(Windows, CloseBoxRunsCloseDestroyAndQuitsNothingByItself) {
    HWND w = Make();
    trace.clear();
    headless.ClickCloseBox(w);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&m);
    EXPECT_EQ(trace,
              (std::vector<std::string>{"SYSCOMMAND", "CLOSE", "DESTROY", "NCDESTROY"}));
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(DestroyWindow(w));
    // The default procedure posts no quit: that is the program's choice.
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    // Messages for a window that is gone go nowhere.
    EXPECT_FALSE(PostMessageA(w, WM_USER, 0, 0));
    MSG stale = {w, WM_USER, 0, 0, 0, {}};
    EXPECT_EQ(DispatchMessageA(&stale), 0);
}

TEST_F(Windows, KeyStateFollowsTakenMessages) {
    HWND w = Make();
    EXPECT_EQ(GetKeyState('G'), 0);
    PostKeyEvent(w, 'G', true, false);
    EXPECT_EQ(GetKeyState('G'), 0);  // posted, not yet taken
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(GetKeyState('G'), 0);  // looked at, not taken
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_KEYDOWN);
    EXPECT_LT(GetKeyState('G'), 0);
    EXPECT_EQ(GetKeyState('G') & 1, 1);  // toggled by the press

    // Auto-repeat: another down without an up does not toggle again.
    PostKeyEvent(w, 'G', true, false);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_NE(m.lParam & (1 << 30), 0);  // was down before
    EXPECT_EQ(static_cast<WORD>(GetKeyState('G')), 0x8001);

    PostKeyEvent(w, 'G', false, false);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_KEYUP);
    EXPECT_EQ(GetKeyState('G'), 1);  // up, still toggled

    PostKeyEvent(w, 'G', true, false);
    PostKeyEvent(w, VK_LEFT, true, false);
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(static_cast<WORD>(GetKeyState('G')), 0x8000);  // second press: untoggled
    EXPECT_LT(GetKeyState(VK_LEFT), 0);

    // Losing the focus releases every key; the toggles stay.
    headless.LoseFocus(w);
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(GetKeyState('G'), 0);
    EXPECT_EQ(GetKeyState(VK_LEFT), 1);
    // The next press is a fresh press, not a repeat.
    PostKeyEvent(w, VK_LEFT, true, false);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.lParam & (1 << 30), 0);
    EXPECT_EQ(static_cast<WORD>(GetKeyState(VK_LEFT)), 0x8000);

    EXPECT_EQ(GetKeyState(-1), 0);
    EXPECT_EQ(GetKeyState(256), 0);
    UpdateKeyStateFromMessage(WM_KEYDOWN, 300);  // out of range: ignored
    EXPECT_EQ(GetKeyState(300 & 0xFF), 0);
}

TEST_F(Windows, TranslateMessageMakesCharacters) {
    HWND w = Make();
    MSG m;
    auto chars = [&](int vk, bool alt) {
        PostKeyEvent(w, vk, true, alt);
        std::vector<std::pair<UINT, WPARAM>> out;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_CHAR || m.message == WM_SYSCHAR) out.push_back({m.message, m.wParam});
            TranslateMessage(&m);
        }
        PostKeyEvent(w, vk, false, alt);
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
        return out;
    };
    using Chars = std::vector<std::pair<UINT, WPARAM>>;
    EXPECT_EQ(chars('A', false), (Chars{{WM_CHAR, 'a'}}));
    EXPECT_EQ(chars(VK_LEFT, false), Chars{});
    PostKeyEvent(w, VK_SHIFT, true, false);
    EXPECT_EQ(chars('A', false), (Chars{{WM_CHAR, 'A'}}));
    EXPECT_EQ(chars(VK_OEM_2, true), (Chars{{WM_SYSCHAR, '?'}}));
}

// A dialog template with a default button 7, another button 8 and a label.
std::vector<BYTE> SmallDialog() {
    std::vector<BYTE> b;
    auto u16 = [&b](unsigned v) {
        b.push_back(BYTE(v));
        b.push_back(BYTE(v >> 8));
    };
    auto u32 = [&](unsigned v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    auto str = [&](const char* s) {
        while (*s) u16(BYTE(*s++));
        u16(0);
    };
    auto align = [&b] {
        while (b.size() % 4) b.push_back(0);
    };
    u16(1), u16(0xFFFF), u32(0), u32(0), u32(DS_SETFONT | WS_CAPTION), u16(3);
    u16(0), u16(0), u16(100), u16(50), u16(0), u16(0), str("Small"), u16(8), u16(0);
    b.push_back(0), b.push_back(1), str("Sans");
    struct {
        unsigned atom, id, style;
        const char* text;
    } items[] = {{0x82, 0xFFFFFFFF, SS_LEFT, "Label"},
                 {0x80, 8, BS_PUSHBUTTON, "Other"},
                 {0x80, 7, BS_DEFPUSHBUTTON, "Go"}};
    for (auto& i : items) {
        align();
        u32(0), u32(0), u32(WS_CHILD | WS_VISIBLE | i.style);
        u16(1), u16(2), u16(30), u16(10), u32(i.id);
        u16(0xFFFF), u16(i.atom), str(i.text), u16(0);
    }
    return b;
}

std::vector<std::string> dialogTrace;
INT_PTR RecordingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        dialogTrace.push_back("INIT " + std::to_string(lParam));
        return TRUE;
    }
    if (message == WM_COMMAND) {
        dialogTrace.push_back("COMMAND " + std::to_string(LOWORD(wParam)));
        if (LOWORD(wParam) != 8) EndDialog(dialog, LOWORD(wParam) + 100);
        return TRUE;
    }
    return FALSE;
}

class Dialogs : public Windows {
protected:
    void SetUp() override {
        Windows::SetUp();
        bytes = SmallDialog();
        ResourceRecord record = {RT_DIALOG, MAKEINTRESOURCEA(42), bytes.data(),
                                 static_cast<DWORD>(bytes.size())};
        RegisterResources(&record, 1);
        dialogTrace.clear();
        owner = Make();
        trace.clear();
    }
    INT_PTR Run(HeadlessWindowSystem::DialogResponder responder) {
        if (responder) headless.SetDialogResponder(std::move(responder));
        return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(42), owner, RecordingDialogProc, 5);
    }
    std::vector<BYTE> bytes;
    HWND owner = nullptr;
};

TEST_F(Dialogs, TemplateReadsBack) {
    DialogTemplate t;
    ASSERT_TRUE(ParseDialogTemplate(bytes.data(), bytes.size(), &t));
    EXPECT_EQ(t.title, "Small");
    EXPECT_EQ(t.typeface, "Sans");
    ASSERT_EQ(t.items.size(), 3u);
    EXPECT_EQ(t.items[0].id, -1);
    EXPECT_EQ(t.items[2].title, "Go");
    // A count larger than the controls there are is rejected.
    std::vector<BYTE> lying = bytes;
    lying[16] = 4;
    EXPECT_FALSE(ParseDialogTemplate(lying.data(), lying.size(), &t));
}

TEST_F(Dialogs, DefaultAnswerIsTheDefaultButton) {
    EXPECT_EQ(Run(nullptr), 107);
    EXPECT_EQ(dialogTrace, (std::vector<std::string>{"INIT 5", "COMMAND 7"}));
    EXPECT_TRUE(IsWindowEnabled(owner));
}

TEST_F(Dialogs, KeysAndCloseBox) {
    EXPECT_EQ(Run([](HWND d, const DialogTemplate&, unsigned turn) {
                  if (turn == 0) PostKeyEvent(d, VK_ESCAPE, true, false);
              }),
              IDCANCEL + 100);
    EXPECT_EQ(Run([](HWND d, const DialogTemplate&, unsigned turn) {
                  if (turn == 0) PostKeyEvent(d, VK_RETURN, true, false);
              }),
              107);
    EXPECT_EQ(Run([this](HWND d, const DialogTemplate&, unsigned turn) {
                  if (turn == 0) headless.ClickCloseBox(d);
              }),
              IDCANCEL + 100);
}

TEST_F(Dialogs, ModalLoopServesOtherWindowsButNotTheOwnersInput) {
    bool ownerDisabled = false;
    INT_PTR result = Run([&](HWND d, const DialogTemplate&, unsigned turn) {
        if (turn == 0) {
            ownerDisabled = !IsWindowEnabled(owner);
            PostMessageA(owner, WM_USER, 0, 0);                    // served
            PostMessageA(owner, WM_COMMAND, 99, 0);                // input: dropped
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(8, BN_CLICKED), 0);  // does not end it
        }
        if (turn == 1) PostMessageA(d, WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), 0);
    });
    EXPECT_EQ(result, 107);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_EQ(trace, std::vector<std::string>{"USER"});
    EXPECT_EQ(dialogTrace, (std::vector<std::string>{"INIT 5", "COMMAND 8", "COMMAND 7"}));
}

TEST_F(Dialogs, QuitEndsTheDialogAndIsKeptForTheOuterLoop) {
    INT_PTR result = Run([](HWND, const DialogTemplate&, unsigned turn) {
        if (turn == 0) PostQuitMessage(9);
    });
    EXPECT_EQ(result, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 9u);
}

TEST_F(Dialogs, MissingOrBrokenTemplateAndNonDialogs) {
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(43), owner, RecordingDialogProc, 0), -1);
    std::vector<BYTE> broken(bytes.begin(), bytes.begin() + 30);
    ResourceRecord record = {RT_DIALOG, MAKEINTRESOURCEA(44), broken.data(),
                             static_cast<DWORD>(broken.size())};
    RegisterResources(&record, 1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(44), owner, RecordingDialogProc, 0), -1);
    EXPECT_TRUE(dialogTrace.empty());
    EXPECT_FALSE(EndDialog(owner, 1));
}

TEST_F(Windows, MessageBoxesAreLoggedAndAnsweredByDefault) {
    EXPECT_EQ(MessageBoxA(nullptr, "本文", "Error", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO), IDYES);
    ASSERT_EQ(headless.MessageBoxes().size(), 2u);
    EXPECT_EQ(headless.MessageBoxes()[0].text, "本文");
    EXPECT_EQ(headless.MessageBoxes()[0].caption, "Error");
}

TEST_F(Windows, KeyScriptHoldsKeysFromTheirFrameOn) {
    KeyScript script;
    std::string error;
    ASSERT_TRUE(ParseKeyScript("# warm up\n2 g right\n4 -\n5 F\n", &script, &error)) << error;
    EXPECT_FALSE(ParseKeyScript("1 G\nx G\n", &script, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(ParseKeyScript("1 WARP\n", &script, &error));
    EXPECT_FALSE(ParseKeyScript("-1 G\n", &script, &error));
    ASSERT_TRUE(ParseKeyScript("2 g right\n4 -\n5 F\n", &script, &error));
    headless.SetKeyScript(script);

    HWND w = Make();
    std::vector<std::string> seen;
    std::vector<BYTE> pixels(4 * 2 * 2, 0);
    FrameView frame{2, 2, 8, FramePixelFormat::X8R8G8B8, pixels.data()};
    for (int f = 0; f < 7; ++f) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
        std::string keys;
        if (GetKeyState('G') < 0) keys += "G";
        if (GetKeyState(VK_RIGHT) < 0) keys += "R";
        if (GetKeyState('F') < 0) keys += "F";
        seen.push_back(keys);
        ASSERT_TRUE(GetFrameSink()->PresentFrame(w, frame));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"", "", "GR", "GR", "", "F", "F"}));
}

TEST_F(Windows, CapturedFrameAndPng) {
    HWND w = Make();
    // R5G6B5: full red, full green, full blue, white.
    std::vector<WORD> pixels = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    FrameView frame{2, 2, 4, FramePixelFormat::R5G6B5, pixels.data()};
    ASSERT_TRUE(GetFrameSink()->PresentFrame(w, frame));
    EXPECT_EQ(headless.FrameCount(), 1u);
    EXPECT_EQ(headless.LastFrame().xrgb,
              (std::vector<std::uint32_t>{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}));
    std::string path = ::testing::TempDir() + "frame.png";
    std::string error;
    ASSERT_TRUE(headless.WriteLastFramePng(path, &error)) << error;
    // Read back through libpng: the same four pixels.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 2u);
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
    EXPECT_EQ(rgb, (std::vector<png_byte>{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}));
    std::remove(path.c_str());
    EXPECT_FALSE(headless.WriteLastFramePng("/nonexistent-dir/x.png", &error));

    // A frame of the usual kind: every pixel back as it was, and the file
    // compressed well below the raw size.
    const UINT width = 320, height = 240;
    std::vector<std::uint32_t> xrgb(width * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) xrgb[y * width + x] = (x * 255 / width) << 16 | (y * 255 / height) << 8 | 0x60;
    const std::string big = ::testing::TempDir() + "big.png";
    ASSERT_TRUE(WritePng(big, width, height, xrgb.data(), &error)) << error;
    png_image read{};
    read.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&read, big.c_str())) << read.message;
    read.format = PNG_FORMAT_BGRA;  // as one little-endian 0xAARRGGBB word per pixel
    std::vector<std::uint32_t> back(width * height);
    ASSERT_TRUE(png_image_finish_read(&read, nullptr, back.data(), 0, nullptr)) << read.message;
    for (std::uint32_t& p : back) p &= 0xFFFFFF;
    EXPECT_EQ(back, xrgb);
    std::FILE* f = std::fopen(big.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 0, SEEK_END);
    EXPECT_LT(std::ftell(f), long(width * height * 3 / 8));
    std::fclose(f);
    std::remove(big.c_str());

    // A window that is gone cannot show frames.
    DestroyWindow(w);
    EXPECT_FALSE(GetFrameSink()->PresentFrame(w, frame));
}

TEST(Time, ClockAdvancesAndSleepWaits) {
    DWORD before = timeGetTime();
    Sleep(20);
    DWORD elapsed = timeGetTime() - before;
    EXPECT_GE(elapsed, 19u);
    EXPECT_LT(elapsed, 2000u);
}

}  // namespace
