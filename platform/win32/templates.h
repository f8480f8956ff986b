// Readers of the binary menu and dialog templates kept as resources. Texts
// in templates are UTF-16 and come out as UTF-8. The readers check every
// length against the bytes there are and reject what does not fit.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/win32/types.h"

// Menu item flags of the template.
constexpr WORD MF_GRAYED = 0x0001;
constexpr WORD MF_DISABLED = 0x0002;
constexpr WORD MF_CHECKED = 0x0008;
constexpr WORD MF_POPUP = 0x0010;
constexpr WORD MF_END = 0x0080;
constexpr WORD MF_SEPARATOR = 0x0800;

struct MenuItem {
    WORD flags = 0;
    WORD id = 0;       // command id; 0 for popups and separators
    std::string text;  // with its "&" mnemonic marks
    std::vector<MenuItem> items;  // a popup's items
    bool IsPopup() const { return (flags & MF_POPUP) != 0; }
    bool IsSeparator() const { return !IsPopup() && id == 0 && text.empty(); }
};

// A standard menu template (version 0): the top-level items.
bool ParseMenuTemplate(const void* data, std::size_t size, std::vector<MenuItem>* items);

// Predefined control classes, named by atom in templates.
constexpr WORD kButtonClassAtom = 0x0080;
constexpr WORD kEditClassAtom = 0x0081;
constexpr WORD kStaticClassAtom = 0x0082;

struct DialogItem {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    int id = 0;
    WORD classAtom = 0;     // one of the atoms above, or 0 with className
    std::string className;
    WORD titleOrdinal = 0;  // a resource id (an icon for SS_ICON), or 0 with title
    std::string title;
};

struct DialogTemplate {
    bool extended = false;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::string title;
    WORD pointSize = 0;  // with DS_SETFONT
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::string typeface;
    std::vector<DialogItem> items;
};

// An extended (DLGTEMPLATEEX) or plain (DLGTEMPLATE) dialog template.
// Templates naming a menu or a window class are not supported.
bool ParseDialogTemplate(const void* data, std::size_t size, DialogTemplate* dialog);

// UTF-16 code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const WCHAR* text, std::size_t count);
