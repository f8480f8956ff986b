#include "platform/shell/headless.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "platform/win32/dialog.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/message_box.h"
#include "platform/win32/window.h"

namespace {

// After this many waits without an answer the dialog gets its default
// button anyway, so that no dialog can stop a run for good.
constexpr unsigned kMaxDialogTurns = 10000;

int KeyFromName(const std::string& name) {
    static const std::map<std::string, int> named = {
        {"LEFT", VK_LEFT},       {"RIGHT", VK_RIGHT},   {"UP", VK_UP},     {"DOWN", VK_DOWN},
        {"SPACE", VK_SPACE},     {"ESCAPE", VK_ESCAPE}, {"ESC", VK_ESCAPE}, {"RETURN", VK_RETURN},
        {"ENTER", VK_RETURN},    {"SHIFT", VK_SHIFT},   {"CONTROL", VK_CONTROL},
        {"CTRL", VK_CONTROL},    {"ALT", VK_MENU},      {"TAB", VK_TAB}};
    if (name.size() == 1) {
        char c = name[0];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
        return 0;
    }
    std::string upper;
    for (char c : name) upper.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c);
    auto it = named.find(upper);
    return it == named.end() ? 0 : it->second;
}

// One row of the frame as 0x00RRGGBB. The format is decided once a row, so
// the loops stay simple enough for the compiler to vectorise: every frame
// of a headless run passes through here.
void RowToXrgb(const FrameView& frame, const BYTE* row, std::uint32_t* out) {
    if (frame.format == FramePixelFormat::R5G6B5) {
        for (UINT x = 0; x < frame.width; ++x) {
            const std::uint32_t p = std::uint32_t(row[2 * x]) | (std::uint32_t(row[2 * x + 1]) << 8);
            std::uint32_t r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
            // Widen by repeating the top bits, so full scale stays full scale.
            r = (r << 3) | (r >> 2);
            g = (g << 2) | (g >> 4);
            b = (b << 3) | (b >> 2);
            out[x] = (r << 16) | (g << 8) | b;
        }
        return;
    }
    for (UINT x = 0; x < frame.width; ++x) {
        const BYTE* q = row + 4 * x;
        out[x] = std::uint32_t(q[0]) | (std::uint32_t(q[1]) << 8) | (std::uint32_t(q[2]) << 16);
    }
}

}  // namespace

bool ParseKeyScript(const std::string& text, KeyScript* script, std::string* error) {
    KeyScript parsed;
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string frameText;
        if (!(words >> frameText)) continue;
        char* end = nullptr;
        errno = 0;
        unsigned long long frame = std::strtoull(frameText.c_str(), &end, 10);
        if (frameText[0] == '-' || *end != '\0' || errno != 0) {
            if (error) *error = "line " + std::to_string(lineNumber) + ": bad frame number";
            return false;
        }
        std::set<int>& keys = parsed[frame];
        keys.clear();
        std::string name;
        while (words >> name) {
            if (name == "-") continue;
            int vk = KeyFromName(name);
            if (!vk) {
                if (error) *error = "line " + std::to_string(lineNumber) + ": unknown key " + name;
                return false;
            }
            keys.insert(vk);
        }
    }
    if (script) *script = std::move(parsed);
    return true;
}

bool HeadlessWindowSystem::CreateNativeWindow(HWND window,
                                              const NativeWindowDescription& description) {
    Window& w = windows_[window];
    w.description = description;
    if (!keyWindow_) keyWindow_ = window;
    return true;
}

void HeadlessWindowSystem::ShowNativeWindow(HWND window, bool show) {
    auto it = windows_.find(window);
    if (it != windows_.end()) it->second.visible = show;
}

void HeadlessWindowSystem::EnableNativeWindow(HWND window, bool enable) {
    auto it = windows_.find(window);
    if (it != windows_.end()) it->second.enabled = enable;
}

void HeadlessWindowSystem::DestroyNativeWindow(HWND window) {
    windows_.erase(window);
    if (keyWindow_ == window) {
        keyWindow_ = nullptr;
        keysDown_.clear();
    }
}

bool HeadlessWindowSystem::GetClientSize(HWND window, int* width, int* height) {
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    const NativeWindowDescription& d = it->second.description;
    // Metrics of a classic sizable frame: 4-pixel border, 19-pixel caption
    // and menu bar.
    int frame = (d.style & WS_THICKFRAME) ? 4 : 3;
    int caption = (d.style & WS_CAPTION) == WS_CAPTION ? 19 : 0;
    int menu = d.menu.empty() ? 0 : 19;
    *width = std::max(0, d.width - 2 * frame);
    *height = std::max(0, d.height - 2 * frame - caption - menu);
    return true;
}

bool HeadlessWindowSystem::CreateNativeDialog(HWND dialog, HWND owner,
                                              const DialogTemplate& dialogTemplate, HINSTANCE) {
    Window& w = windows_[dialog];
    w.description.title = dialogTemplate.title;
    w.description.style = dialogTemplate.style;
    w.isDialog = true;
    w.owner = owner;
    w.dialogTemplate = dialogTemplate;
    dialogsOpened_.push_back(dialogTemplate.title);
    return true;
}

void HeadlessWindowSystem::ApplyKeysForFrame(std::uint64_t frame) {
    if (!keyWindow_ || keyScript_.empty()) return;
    auto it = keyScript_.upper_bound(frame);
    if (it == keyScript_.begin()) return;  // the script starts later
    const std::set<int>& wanted = std::prev(it)->second;
    bool alt = wanted.count(VK_MENU) != 0;
    for (int vk : std::set<int>(keysDown_))
        if (!wanted.count(vk)) PostKeyEvent(keyWindow_, vk, false, alt);
    for (int vk : wanted)
        if (!keysDown_.count(vk)) PostKeyEvent(keyWindow_, vk, true, alt);
    keysDown_ = wanted;
}

void HeadlessWindowSystem::PollEvents() {
    // The keys of the next frame go into the queue before it is drawn.
    if (keysAppliedFor_ != static_cast<std::int64_t>(frameCount_)) {
        keysAppliedFor_ = static_cast<std::int64_t>(frameCount_);
        ApplyKeysForFrame(frameCount_);
    }
}

void HeadlessWindowSystem::WaitForEvents(HWND modalDialog, unsigned turn) {
    auto it = modalDialog ? windows_.find(modalDialog) : windows_.end();
    if (it == windows_.end()) {
        // Nothing can arrive without a display; do not spin hot.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    const DialogTemplate& t = it->second.dialogTemplate;
    int defaultButton = IDOK;
    const char* buttonText = "OK";
    for (const DialogItem& item : t.items) {
        if (item.classAtom == kButtonClassAtom && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            defaultButton = item.id;
            buttonText = item.title.c_str();
            break;
        }
    }
    if (dialogResponder_ && turn < kMaxDialogTurns) {
        DialogTemplate copy = t;  // the responder may close the dialog
        dialogResponder_(modalDialog, copy, turn);
        return;
    }
    if (turn == 0 || turn == kMaxDialogTurns) {
        if (logging_)
            std::fprintf(stderr, "[dialog] %s: answered \"%s\" (%d)\n", t.title.c_str(), buttonText,
                         defaultButton);
        PostMessageA(modalDialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(defaultButton), BN_CLICKED),
                     0);
    }
}

int HeadlessWindowSystem::ShowMessageBox(HWND, const char* text, const char* caption, UINT type) {
    int answer = DefaultMessageBoxAnswer(type);
    messageBoxes_.push_back({caption ? caption : "", text ? text : "", type, answer});
    if (logging_) std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    return answer;
}

bool HeadlessWindowSystem::PresentFrame(HWND window, const FrameView& frame) {
    if (window && !windows_.count(window)) return false;  // the window is gone
    if (failAfter_ && frameCount_ >= failAfter_) return false;
    if (frame.pixels && frame.width && frame.height) {
        const std::size_t rowBytes = std::size_t(frame.width) * (frame.format == FramePixelFormat::R5G6B5 ? 2 : 4);
        rawPixels_.resize(rowBytes * frame.height);
        for (UINT y = 0; y < frame.height; ++y)
            std::memcpy(rawPixels_.data() + rowBytes * y,
                        static_cast<const BYTE*>(frame.pixels) + std::size_t(frame.pitch) * y, rowBytes);
        rawFrame_ = frame;
        rawFrame_.pitch = UINT(rowBytes);
        rawFrame_.pixels = rawPixels_.data();
        lastFrameStale_ = true;
    }
    ++frameCount_;
    if (frameHook_) frameHook_(frameCount_);
    return true;
}

const CapturedFrame& HeadlessWindowSystem::LastFrame() const {
    if (lastFrameStale_) {
        const FrameView& frame = rawFrame_;
        lastFrame_.width = frame.width;
        lastFrame_.height = frame.height;
        lastFrame_.xrgb.resize(std::size_t(frame.width) * frame.height);
        for (UINT y = 0; y < frame.height; ++y)
            RowToXrgb(frame, rawPixels_.data() + std::size_t(frame.pitch) * y,
                      lastFrame_.xrgb.data() + std::size_t(y) * frame.width);
        lastFrameStale_ = false;
    }
    return lastFrame_;
}

bool HeadlessWindowSystem::WriteLastFramePng(const std::string& path, std::string* error) const {
    const CapturedFrame& lastFrame = LastFrame();
    if (lastFrame.xrgb.empty()) {
        if (error) *error = "no frame was presented";
        return false;
    }
    return WritePng(path, lastFrame.width, lastFrame.height, lastFrame.xrgb.data(), error);
}

void HeadlessWindowSystem::ClickCloseBox(HWND window) {
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void HeadlessWindowSystem::ChooseMenuItem(HWND window, WORD commandId) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0);
}

void HeadlessWindowSystem::ExposeWindow(HWND window) { InvalidateRect(window, nullptr, FALSE); }

void HeadlessWindowSystem::LoseFocus(HWND window) {
    keysDown_.clear();
    PostFocusLost(window);
}

const HeadlessWindowSystem::Window* HeadlessWindowSystem::FindWindow(HWND window) const {
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}
