// The window system without a display. Windows and dialogs exist only as
// records; presented frames are kept (count and last frame, PNG on
// request, converted only when asked for); key states come from a script of frame numbers; message boxes
// and dialogs are written to stderr and answered with their default button
// unless a test answers them. Nothing is paced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/shell/window_system.h"

// Keys held from a frame on, until the next entry: frame number -> virtual keys.
using KeyScript = std::map<std::uint64_t, std::set<int>>;

// Reads a key script, one entry a line: a frame number and the keys held
// from it on, by name ("G", "LEFT", "RIGHT", "UP", "DOWN", "SPACE", "ESCAPE",
// "RETURN", "SHIFT", "CONTROL", "ALT", letters and digits) or "-" for none.
// '#' starts a comment. On failure `error` says which line is wrong.
bool ParseKeyScript(const std::string& text, KeyScript* script, std::string* error);

// The longest key script file read (a lap takes some 40 KB).
constexpr std::size_t kMaxKeyScriptBytes = std::size_t(16) << 20;

struct CapturedFrame {
    UINT width = 0;
    UINT height = 0;
    std::vector<std::uint32_t> xrgb;  // 0x00RRGGBB, row by row
};

class HeadlessWindowSystem : public WindowSystem {
public:
    // Called while a modal dialog waits for input, `turn` counting from 0.
    // Without a responder the default button is pressed on the first turn.
    using DialogResponder =
        std::function<void(HWND dialog, const DialogTemplate& dialogTemplate, unsigned turn)>;
    // Called after each presented frame with the number of frames so far.
    using FrameHook = std::function<void(std::uint64_t framesPresented)>;

    struct LoggedMessageBox {
        std::string caption;
        std::string text;
        UINT type;
        int answer;
    };

    const char* Name() const override { return "headless"; }
    bool CreateNativeWindow(HWND window, const NativeWindowDescription& description) override;
    void ShowNativeWindow(HWND window, bool show) override;
    void EnableNativeWindow(HWND window, bool enable) override;
    void DestroyNativeWindow(HWND window) override;
    bool GetClientSize(HWND window, int* width, int* height) override;
    bool CreateNativeDialog(HWND dialog, HWND owner, const DialogTemplate& dialogTemplate,
                            HINSTANCE instance) override;
    void PollEvents() override;
    void WaitForEvents(HWND modalDialog, unsigned turn) override;
    int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
    bool PresentFrame(HWND window, const FrameView& frame) override;

    void SetKeyScript(KeyScript script) { keyScript_ = std::move(script); }
    void SetDialogResponder(DialogResponder responder) { dialogResponder_ = std::move(responder); }
    void SetFrameHook(FrameHook hook) { frameHook_ = std::move(hook); }
    // Presents fail once this many frames were presented (0: never), as on a
    // lost device.
    void FailPresentAfter(std::uint64_t frames) { failAfter_ = frames; }
    // When false, stderr stays quiet (the logs are still kept).
    void SetLogging(bool on) { logging_ = on; }

    std::uint64_t FrameCount() const { return frameCount_; }
    // The last presented frame as 0x00RRGGBB words, converted on first use.
    const CapturedFrame& LastFrame() const;
    bool WriteLastFramePng(const std::string& path, std::string* error) const;
    const std::vector<LoggedMessageBox>& MessageBoxes() const { return messageBoxes_; }
    // Titles of the dialogs opened so far.
    const std::vector<std::string>& DialogsOpened() const { return dialogsOpened_; }

    // What a user does to a window, as the real window system reports it.
    void ClickCloseBox(HWND window);
    void ChooseMenuItem(HWND window, WORD commandId);
    void ExposeWindow(HWND window);
    void LoseFocus(HWND window);

    // The main window's record, for checks.
    struct Window {
        NativeWindowDescription description;
        bool visible = false;
        bool enabled = true;
        bool isDialog = false;
        HWND owner = nullptr;
        DialogTemplate dialogTemplate;
    };
    const Window* FindWindow(HWND window) const;

private:
    void ApplyKeysForFrame(std::uint64_t frame);

    std::map<HWND, Window> windows_;
    HWND keyWindow_ = nullptr;  // the first top-level window takes the keys
    KeyScript keyScript_;
    std::set<int> keysDown_;
    std::int64_t keysAppliedFor_ = -1;
    DialogResponder dialogResponder_;
    FrameHook frameHook_;
    std::uint64_t failAfter_ = 0;
    bool logging_ = true;
    std::uint64_t frameCount_ = 0;
    // The last frame as presented; most runs never look at it, so the copy
    // stays in the back buffer's format until LastFrame asks.
    FrameView rawFrame_;
    std::vector<BYTE> rawPixels_;
    mutable CapturedFrame lastFrame_;
    mutable bool lastFrameStale_ = false;
    std::vector<LoggedMessageBox> messageBoxes_;
    std::vector<std::string> dialogsOpened_;
};

// Writes 8-bit RGB pixels (0x00RRGGBB words) as a PNG file.
bool WritePng(const std::string& path, UINT width, UINT height, const std::uint32_t* xrgb,
              std::string* error);
