#include "platform/shell/gtk/gtk_window_system.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "platform/win32/dialog.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/message_box.h"
#include "platform/win32/user_resources.h"
#include "platform/win32/window.h"

namespace {

using Clock = std::chrono::steady_clock;

// "&File" -> "_File", "a_b" -> "a__b", "&&" -> "&": Windows mnemonics as GTK's.
std::string GtkMnemonic(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out.push_back('&');
                ++i;
            } else {
                out.push_back('_');
            }
        } else if (c == '_') {
            out += "__";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

int VirtualKeyFromKeyval(guint keyval) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return 'A' + int(keyval - GDK_KEY_a);
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return 'A' + int(keyval - GDK_KEY_A);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return '0' + int(keyval - GDK_KEY_0);
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) return VK_F1 + int(keyval - GDK_KEY_F1);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return VK_NUMPAD0 + int(keyval - GDK_KEY_KP_0);
    switch (keyval) {
        case GDK_KEY_Left: case GDK_KEY_KP_Left: return VK_LEFT;
        case GDK_KEY_Right: case GDK_KEY_KP_Right: return VK_RIGHT;
        case GDK_KEY_Up: case GDK_KEY_KP_Up: return VK_UP;
        case GDK_KEY_Down: case GDK_KEY_KP_Down: return VK_DOWN;
        case GDK_KEY_Return: case GDK_KEY_KP_Enter: return VK_RETURN;
        case GDK_KEY_Escape: return VK_ESCAPE;
        case GDK_KEY_space: return VK_SPACE;
        case GDK_KEY_Tab: return VK_TAB;
        case GDK_KEY_BackSpace: return VK_BACK;
        case GDK_KEY_Delete: return VK_DELETE;
        case GDK_KEY_Insert: return VK_INSERT;
        case GDK_KEY_Home: return VK_HOME;
        case GDK_KEY_End: return VK_END;
        case GDK_KEY_Page_Up: return VK_PRIOR;
        case GDK_KEY_Page_Down: return VK_NEXT;
        case GDK_KEY_Pause: return VK_PAUSE;
        case GDK_KEY_Caps_Lock: return VK_CAPITAL;
        case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return VK_SHIFT;
        case GDK_KEY_Control_L: case GDK_KEY_Control_R: return VK_CONTROL;
        case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: case GDK_KEY_Meta_L: case GDK_KEY_Meta_R: return VK_MENU;
        case GDK_KEY_KP_Multiply: return VK_MULTIPLY;
        case GDK_KEY_KP_Add: return VK_ADD;
        case GDK_KEY_KP_Subtract: return VK_SUBTRACT;
        case GDK_KEY_KP_Decimal: return VK_DECIMAL;
        case GDK_KEY_KP_Divide: return VK_DIVIDE;
        case GDK_KEY_semicolon: return VK_OEM_1;
        case GDK_KEY_equal: return VK_OEM_PLUS;
        case GDK_KEY_comma: return VK_OEM_COMMA;
        case GDK_KEY_minus: return VK_OEM_MINUS;
        case GDK_KEY_period: return VK_OEM_PERIOD;
        case GDK_KEY_slash: return VK_OEM_2;
        case GDK_KEY_grave: return VK_OEM_3;
        case GDK_KEY_bracketleft: return VK_OEM_4;
        case GDK_KEY_backslash: return VK_OEM_5;
        case GDK_KEY_bracketright: return VK_OEM_6;
        case GDK_KEY_apostrophe: return VK_OEM_7;
        default: return 0;
    }
}

// The key's virtual key as on an unshifted keyboard ('?' is the '/' key).
int VirtualKeyFromEvent(const GdkEventKey* event) {
    guint keyval = event->keyval;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    guint plain = 0;
    if (gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, GdkModifierType(0),
                                            event->group, &plain, nullptr, nullptr, nullptr))
        keyval = plain;
    return VirtualKeyFromKeyval(keyval);
}

GdkPixbuf* PixbufFromIcon(const IconImage& image) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < image.height; ++y)
        std::copy_n(&image.rgba[std::size_t(y) * image.width * 4], image.width * 4,
                    pixels + std::size_t(y) * stride);
    return pixbuf;
}

class GtkWindowSystem;

struct NativeWindow {
    GtkWindowSystem* system = nullptr;
    HWND handle = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* menuBar = nullptr;
    GtkWidget* area = nullptr;
    cairo_surface_t* frame = nullptr;
    bool redrawnForFrame = false;  // the next draw shows a new frame, not an expose
    bool isDialog = false;
};

struct CommandTarget {
    HWND window;
    int id;
};

class GtkWindowSystem : public WindowSystem {
public:
    ~GtkWindowSystem() override {
        for (auto& [handle, w] : windows_) {
            if (w->frame) cairo_surface_destroy(w->frame);
            if (w->window) gtk_widget_destroy(w->window);
        }
    }

    const char* Name() const override { return "gtk"; }

    bool CreateNativeWindow(HWND handle, const NativeWindowDescription& d) override {
        auto w = std::make_unique<NativeWindow>();
        w->system = this;
        w->handle = handle;
        w->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(w->window), d.title.c_str());
        gtk_window_set_default_size(GTK_WINDOW(w->window), d.width, d.height);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_container_add(GTK_CONTAINER(w->window), box);
        if (!d.menu.empty()) {
            w->menuBar = gtk_menu_bar_new();
            AddMenuItems(GTK_MENU_SHELL(w->menuBar), d.menu, handle);
            gtk_box_pack_start(GTK_BOX(box), w->menuBar, FALSE, FALSE, 0);
        }
        w->area = gtk_drawing_area_new();
        gtk_widget_set_hexpand(w->area, TRUE);
        gtk_widget_set_vexpand(w->area, TRUE);
        gtk_box_pack_start(GTK_BOX(box), w->area, TRUE, TRUE, 0);
        SetIcons(w->window, d.icon, d.smallIcon);

        g_signal_connect(w->area, "draw", G_CALLBACK(OnDraw), w.get());
        g_signal_connect(w->window, "delete-event", G_CALLBACK(OnDelete), w.get());
        g_signal_connect(w->window, "key-press-event", G_CALLBACK(OnKey), w.get());
        g_signal_connect(w->window, "key-release-event", G_CALLBACK(OnKey), w.get());
        g_signal_connect(w->window, "focus-out-event", G_CALLBACK(OnFocusOut), w.get());
        windows_[handle] = std::move(w);
        return true;
    }

    void ShowNativeWindow(HWND handle, bool show) override {
        NativeWindow* w = Find(handle);
        if (!w) return;
        if (show) {
            gtk_widget_show_all(w->window);
            gtk_window_present(GTK_WINDOW(w->window));
        } else {
            gtk_widget_hide(w->window);
        }
    }

    void EnableNativeWindow(HWND handle, bool enable) override {
        // A modal dialog already keeps input from its owner; the menu bar
        // greys out as on Windows.
        NativeWindow* w = Find(handle);
        if (w && w->menuBar) gtk_widget_set_sensitive(w->menuBar, enable);
    }

    void DestroyNativeWindow(HWND handle) override {
        auto it = windows_.find(handle);
        if (it == windows_.end()) return;
        NativeWindow* w = it->second.get();
        if (w->frame) cairo_surface_destroy(w->frame);
        gtk_widget_destroy(w->window);
        windows_.erase(it);
    }

    bool GetClientSize(HWND handle, int* width, int* height) override {
        NativeWindow* w = Find(handle);
        if (!w || !w->area || !gtk_widget_get_realized(w->area)) return false;
        *width = gtk_widget_get_allocated_width(w->area);
        *height = gtk_widget_get_allocated_height(w->area);
        return true;
    }

    bool CreateNativeDialog(HWND dialog, HWND owner, const DialogTemplate& t,
                            HINSTANCE instance) override {
        auto w = std::make_unique<NativeWindow>();
        w->system = this;
        w->handle = dialog;
        w->isDialog = true;
        w->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWindow* window = GTK_WINDOW(w->window);
        gtk_window_set_title(window, t.title.c_str());
        gtk_window_set_resizable(window, FALSE);
        gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_modal(window, TRUE);
        NativeWindow* ownerWindow = Find(owner);
        if (ownerWindow) gtk_window_set_transient_for(window, GTK_WINDOW(ownerWindow->window));

        // Dialog units: a quarter of the font's average character width and
        // an eighth of its height.
        std::string font = (t.typeface.empty() ? std::string("Sans") : t.typeface) + " " +
                           std::to_string(t.pointSize ? t.pointSize : 9);
        PangoFontDescription* description = pango_font_description_from_string(font.c_str());
        PangoLayout* layout = gtk_widget_create_pango_layout(w->window, nullptr);
        pango_layout_set_font_description(layout, description);
        pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
        int textWidth = 0, textHeight = 0;
        pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
        g_object_unref(layout);
        int baseX = std::max(1, (textWidth / 26 + 1) / 2);
        int baseY = std::max(1, textHeight);
        auto toX = [baseX](int units) { return units * baseX / 4; };
        auto toY = [baseY](int units) { return units * baseY / 8; };

        GtkWidget* fixed = gtk_fixed_new();
        gtk_widget_set_size_request(fixed, toX(t.cx), toY(t.cy));
        gtk_container_add(GTK_CONTAINER(w->window), fixed);
        GtkWidget* defaultButton = nullptr;
        for (const DialogItem& item : t.items) {
            GtkWidget* control = nullptr;
            if (item.classAtom == kStaticClassAtom && (item.style & SS_TYPEMASK) == SS_ICON) {
                IconImage image;
                HICON icon = item.titleOrdinal
                                 ? LoadIconA(instance, MAKEINTRESOURCEA(item.titleOrdinal))
                                 : nullptr;
                if (icon && GetIconImage(icon, 32, &image)) {
                    GdkPixbuf* pixbuf = PixbufFromIcon(image);
                    control = gtk_image_new_from_pixbuf(pixbuf);
                    g_object_unref(pixbuf);
                }
            } else if (item.classAtom == kStaticClassAtom) {
                if (item.style & SS_NOPREFIX) {
                    control = gtk_label_new(item.title.c_str());
                } else {
                    control = gtk_label_new_with_mnemonic(GtkMnemonic(item.title).c_str());
                }
                gtk_label_set_xalign(GTK_LABEL(control), 0.0f);
            } else if (item.classAtom == kButtonClassAtom) {
                control = gtk_button_new_with_mnemonic(GtkMnemonic(item.title).c_str());
                commands_.push_back({dialog, item.id});
                g_signal_connect(control, "clicked", G_CALLBACK(OnButton), &commands_.back());
                if ((item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) defaultButton = control;
            }
            if (!control) continue;
            gtk_widget_set_name(control, ("control-" + std::to_string(item.id)).c_str());
            gtk_widget_set_size_request(control, toX(item.cx), toY(item.cy));
            gtk_fixed_put(GTK_FIXED(fixed), control, toX(item.x), toY(item.y));
        }
        pango_font_description_free(description);
        if (defaultButton) {
            gtk_widget_set_can_default(defaultButton, TRUE);
            gtk_window_set_default(window, defaultButton);
            gtk_widget_grab_focus(defaultButton);
        }
        if (ownerWindow) {
            // Placed relative to the owner's client area, as a modal frame is.
            int ox = 0, oy = 0;
            gtk_window_get_position(GTK_WINDOW(ownerWindow->window), &ox, &oy);
            gtk_window_move(window, ox + toX(t.x), oy + toY(t.y));
        }
        g_signal_connect(w->window, "delete-event", G_CALLBACK(OnDelete), w.get());
        g_signal_connect(w->window, "key-press-event", G_CALLBACK(OnDialogKey), w.get());
        windows_[dialog] = std::move(w);
        return true;
    }

    void PollEvents() override {
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    }

    void WaitForEvents(HWND, unsigned) override { gtk_main_iteration_do(TRUE); }

    int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) override {
        NativeWindow* o = Find(owner);
        GtkMessageType icon = GTK_MESSAGE_OTHER;
        switch (type & 0xF0) {
            case MB_ICONERROR: icon = GTK_MESSAGE_ERROR; break;
            case MB_ICONQUESTION: icon = GTK_MESSAGE_QUESTION; break;
            case MB_ICONWARNING: icon = GTK_MESSAGE_WARNING; break;
            case MB_ICONINFORMATION: icon = GTK_MESSAGE_INFO; break;
            default: break;
        }
        UINT buttons = type & MB_TYPEMASK;
        GtkButtonsType gtkButtons = buttons == MB_OKCANCEL ? GTK_BUTTONS_OK_CANCEL
                                    : buttons == MB_YESNO  ? GTK_BUTTONS_YES_NO
                                                           : GTK_BUTTONS_OK;
        GtkWidget* box = gtk_message_dialog_new(o ? GTK_WINDOW(o->window) : nullptr,
                                                GTK_DIALOG_MODAL, icon, gtkButtons, "%s", text);
        gtk_window_set_title(GTK_WINDOW(box), caption);
        gint response = gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
        switch (response) {
            case GTK_RESPONSE_OK: return IDOK;
            case GTK_RESPONSE_YES: return IDYES;
            case GTK_RESPONSE_NO: return IDNO;
            case GTK_RESPONSE_CANCEL: return IDCANCEL;
            default:
                // Closed without a button: what the box's close box gives.
                return buttons == MB_OKCANCEL ? IDCANCEL : buttons == MB_YESNO ? IDNO : IDOK;
        }
    }

    bool PresentFrame(HWND handle, const FrameView& frame) override {
        NativeWindow* w = Find(handle);
        if (!w || w->isDialog) return false;
        if (frame.pixels && frame.width && frame.height) CopyFrame(w, frame);
        w->redrawnForFrame = true;
        gtk_widget_queue_draw(w->area);
        PollEvents();
        PaceToRefresh(w);
        return true;
    }

private:
    NativeWindow* Find(HWND handle) {
        auto it = windows_.find(handle);
        return it == windows_.end() ? nullptr : it->second.get();
    }

    void AddMenuItems(GtkMenuShell* shell, const std::vector<MenuItem>& items, HWND handle) {
        for (const MenuItem& item : items) {
            GtkWidget* widget;
            if (item.IsSeparator()) {
                widget = gtk_separator_menu_item_new();
            } else {
                widget = gtk_menu_item_new_with_mnemonic(GtkMnemonic(item.text).c_str());
                if (item.flags & (MF_GRAYED | MF_DISABLED)) gtk_widget_set_sensitive(widget, FALSE);
                if (item.IsPopup()) {
                    GtkWidget* menu = gtk_menu_new();
                    AddMenuItems(GTK_MENU_SHELL(menu), item.items, handle);
                    gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), menu);
                } else {
                    commands_.push_back({handle, item.id});
                    g_signal_connect(widget, "activate", G_CALLBACK(OnMenuItem), &commands_.back());
                }
            }
            gtk_menu_shell_append(shell, widget);
        }
    }

    static void SetIcons(GtkWidget* window, HICON icon, HICON smallIcon) {
        GList* list = nullptr;
        for (HICON h : {icon, smallIcon}) {
            if (!h) continue;
            for (const IconImage& image : GetIconImages(h))
                if (image.bitCount >= 24) list = g_list_append(list, PixbufFromIcon(image));
        }
        if (list) {
            gtk_window_set_icon_list(GTK_WINDOW(window), list);
            g_list_free_full(list, g_object_unref);
        }
    }

    static void CopyFrame(NativeWindow* w, const FrameView& frame) {
        if (!w->frame || cairo_image_surface_get_width(w->frame) != int(frame.width) ||
            cairo_image_surface_get_height(w->frame) != int(frame.height)) {
            if (w->frame) cairo_surface_destroy(w->frame);
            w->frame = cairo_image_surface_create(CAIRO_FORMAT_RGB24, frame.width, frame.height);
        }
        cairo_surface_flush(w->frame);
        unsigned char* dst = cairo_image_surface_get_data(w->frame);
        int stride = cairo_image_surface_get_stride(w->frame);
        for (UINT y = 0; y < frame.height; ++y) {
            const BYTE* src = static_cast<const BYTE*>(frame.pixels) + std::size_t(frame.pitch) * y;
            auto* out = reinterpret_cast<std::uint32_t*>(dst + std::size_t(stride) * y);
            for (UINT x = 0; x < frame.width; ++x) {
                if (frame.format == FramePixelFormat::R5G6B5) {
                    WORD p = static_cast<WORD>(src[2 * x] | (src[2 * x + 1] << 8));
                    std::uint32_t r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
                    r = (r << 3) | (r >> 2);
                    g = (g << 2) | (g >> 4);
                    b = (b << 3) | (b >> 2);
                    out[x] = (r << 16) | (g << 8) | b;
                } else {
                    const BYTE* q = src + 4 * x;
                    out[x] = std::uint32_t(q[0]) | (std::uint32_t(q[1]) << 8) |
                             (std::uint32_t(q[2]) << 16);
                }
            }
        }
        cairo_surface_mark_dirty(w->frame);
    }

    // Holds the frame until the next refresh of the window's monitor (60 Hz
    // when it does not say), as a device presenting once per refresh does.
    void PaceToRefresh(NativeWindow* w) {
        int milliHertz = 0;
        GdkWindow* gdkWindow = gtk_widget_get_window(w->window);
        if (gdkWindow) {
            GdkMonitor* monitor =
                gdk_display_get_monitor_at_window(gdk_window_get_display(gdkWindow), gdkWindow);
            if (monitor) milliHertz = gdk_monitor_get_refresh_rate(monitor);
        }
        if (milliHertz <= 0) milliHertz = 60000;
        auto period = std::chrono::microseconds(1000000000LL / milliHertz);
        Clock::time_point now = Clock::now();
        Clock::time_point next = lastPresent_ + period;
        if (now >= next + period) {
            lastPresent_ = now;  // late by more than a frame: start again from now
            return;
        }
        if (now < next) std::this_thread::sleep_until(next);
        lastPresent_ = next;
    }

    static gboolean OnDraw(GtkWidget* area, cairo_t* cr, gpointer data) {
        auto* w = static_cast<NativeWindow*>(data);
        int width = gtk_widget_get_allocated_width(area);
        int height = gtk_widget_get_allocated_height(area);
        if (!w->frame) {
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_paint(cr);
        } else {
            // The back buffer keeps its size; the picture stretches to the window.
            cairo_scale(cr, double(width) / cairo_image_surface_get_width(w->frame),
                        double(height) / cairo_image_surface_get_height(w->frame));
            cairo_set_source_surface(cr, w->frame, 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
            cairo_paint(cr);
        }
        if (!w->redrawnForFrame) InvalidateRect(w->handle, nullptr, FALSE);
        w->redrawnForFrame = false;
        return TRUE;
    }

    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
        auto* w = static_cast<NativeWindow*>(data);
        PostMessageA(w->handle, WM_SYSCOMMAND, SC_CLOSE, 0);
        return TRUE;  // the window goes when the program destroys it
    }

    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
        auto* w = static_cast<NativeWindow*>(data);
        int vk = VirtualKeyFromEvent(event);
        bool down = event->type == GDK_KEY_PRESS;
        bool alt = (event->state & GDK_MOD1_MASK) != 0 || (vk == VK_MENU && down);
        if (!vk) return FALSE;
        PostKeyEvent(w->handle, vk, down, alt);
        // With Alt (and F10) the menu bar still works; other keys are the program's.
        return !alt && vk != VK_MENU && vk != VK_F1 + 9;
    }

    static gboolean OnDialogKey(GtkWidget*, GdkEventKey* event, gpointer data) {
        auto* w = static_cast<NativeWindow*>(data);
        if (event->keyval != GDK_KEY_Escape) return FALSE;  // GTK handles Enter, Tab, Space
        PostKeyEvent(w->handle, VK_ESCAPE, true, false);
        PostKeyEvent(w->handle, VK_ESCAPE, false, false);
        return TRUE;
    }

    static gboolean OnFocusOut(GtkWidget*, GdkEvent*, gpointer data) {
        auto* w = static_cast<NativeWindow*>(data);
        PostFocusLost(w->handle);
        return FALSE;
    }

    static void OnMenuItem(GtkMenuItem*, gpointer data) {
        auto* c = static_cast<CommandTarget*>(data);
        PostMessageA(c->window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(c->id), 0), 0);
    }

    static void OnButton(GtkButton*, gpointer data) {
        auto* c = static_cast<CommandTarget*>(data);
        PostMessageA(c->window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(c->id), BN_CLICKED), 0);
    }

    std::map<HWND, std::unique_ptr<NativeWindow>> windows_;
    std::deque<CommandTarget> commands_;  // stable addresses for the signal handlers
    Clock::time_point lastPresent_{};
};

}  // namespace

std::unique_ptr<WindowSystem> CreateGtkWindowSystem(std::string* error) {
    if (!gtk_init_check(nullptr, nullptr)) {
        if (error) {
            const char* display = std::getenv("DISPLAY");
            *error = display && *display ? std::string("cannot open the display ") + display
                                         : std::string("cannot open a display: DISPLAY is not set");
        }
        return nullptr;
    }
    return std::make_unique<GtkWindowSystem>();
}
