#include "platform/win32/user_resources.h"

#include <deque>
#include <mutex>
#include <string>

#include "platform/win32/error.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/resource.h"
#include "platform/win32/templates.h"

namespace {

constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

WORD ReadU16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD ReadU32(const BYTE* p) { return MAKELONG(ReadU16(p), ReadU16(p + 2)); }

// The bytes of a resource of the executable, or null.
const BYTE* FindBytes(HINSTANCE instance, LPCSTR name, LPCSTR type, DWORD* size) {
    HRSRC found = FindResourceA(instance, name, type);
    if (!found) return nullptr;
    *size = SizeofResource(instance, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(instance, found)));
}

struct AcceleratorTable {
    std::vector<ACCEL> entries;
};

struct IconObject {
    std::string key;  // what it was loaded as, so a second load finds it
    std::vector<IconImage> images;
};

std::mutex objectMutex;
std::deque<AcceleratorTable> acceleratorTables;  // stable addresses: handles point at them
std::deque<IconObject> icons;
IconObject stockIcon;
IconObject stockCursor;

std::string NameKey(LPCSTR name) {
    if (!IS_INTRESOURCE(name)) return name;
    std::string key = "#";
    key += std::to_string(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
    return key;
}

// One icon image: a DIB whose height counts the colour rows and the mask
// rows together, the colour bitmap, then a 1-bit AND mask.
bool DecodeIconImage(const BYTE* p, DWORD size, IconImage* out) {
    if (size < 40 || ReadU32(p) < 40) return false;
    DWORD headerSize = ReadU32(p);
    LONG width = static_cast<LONG>(ReadU32(p + 4));
    LONG height = static_cast<LONG>(ReadU32(p + 8)) / 2;
    WORD bitCount = ReadU16(p + 14);
    DWORD compression = ReadU32(p + 16);
    DWORD colorsUsed = ReadU32(p + 32);
    if (width <= 0 || height <= 0 || width > 256 || height > 256 || compression != 0) return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return false;
    if (headerSize > size) return false;
    std::size_t paletteCount = bitCount <= 8 ? (colorsUsed ? colorsUsed : (1u << bitCount)) : 0;
    if (paletteCount > 256) return false;
    std::size_t colourStride = ((std::size_t(width) * bitCount + 31) / 32) * 4;
    std::size_t maskStride = ((std::size_t(width) + 31) / 32) * 4;
    std::size_t paletteOffset = headerSize;
    std::size_t colourOffset = paletteOffset + paletteCount * 4;
    std::size_t maskOffset = colourOffset + colourStride * height;
    std::size_t needed = maskOffset + maskStride * height;
    if (needed > size) return false;

    out->width = width;
    out->height = height;
    out->bitCount = bitCount;
    out->rgba.assign(std::size_t(width) * height * 4, 0);
    bool anyAlpha = false;
    for (LONG y = 0; y < height; ++y) {
        const BYTE* row = p + colourOffset + colourStride * (height - 1 - y);  // bottom-up
        const BYTE* maskRow = p + maskOffset + maskStride * (height - 1 - y);
        for (LONG x = 0; x < width; ++x) {
            BYTE r, g, b, a = 255;
            if (bitCount <= 8) {
                unsigned index;
                if (bitCount == 8) {
                    index = row[x];
                } else if (bitCount == 4) {
                    index = (x & 1) ? (row[x / 2] & 0x0F) : (row[x / 2] >> 4);
                } else {
                    index = (row[x / 8] >> (7 - x % 8)) & 1;
                }
                if (index >= paletteCount) index = 0;
                const BYTE* q = p + paletteOffset + index * 4;
                b = q[0], g = q[1], r = q[2];
            } else {
                const BYTE* q = row + x * (bitCount / 8);
                b = q[0], g = q[1], r = q[2];
                if (bitCount == 32) {
                    a = q[3];
                    anyAlpha |= a != 0;
                }
            }
            bool transparent = (maskRow[x / 8] >> (7 - x % 8)) & 1;
            BYTE* o = &out->rgba[(std::size_t(y) * width + x) * 4];
            o[0] = r, o[1] = g, o[2] = b;
            o[3] = bitCount == 32 ? a : (transparent ? 0 : 255);
        }
    }
    // A 32-bit image whose alpha is all zero relies on its mask.
    if (bitCount == 32 && !anyAlpha) {
        for (LONG y = 0; y < height; ++y) {
            const BYTE* maskRow = p + maskOffset + maskStride * (height - 1 - y);
            for (LONG x = 0; x < width; ++x)
                out->rgba[(std::size_t(y) * width + x) * 4 + 3] =
                    ((maskRow[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
        }
    }
    return true;
}

std::vector<IconImage> DecodeIconGroup(HINSTANCE instance, const BYTE* group, DWORD size) {
    std::vector<IconImage> images;
    if (size < 6 || ReadU16(group) != 0 || ReadU16(group + 2) != 1) return images;
    WORD count = ReadU16(group + 4);
    if (std::size_t(size) < 6 + std::size_t(count) * 14) return images;
    for (WORD i = 0; i < count; ++i) {
        const BYTE* entry = group + 6 + i * 14;
        WORD id = ReadU16(entry + 12);
        DWORD imageSize = 0;
        const BYTE* bytes = FindBytes(instance, MAKEINTRESOURCEA(id), RT_ICON, &imageSize);
        IconImage image;
        if (bytes && DecodeIconImage(bytes, imageSize, &image)) images.push_back(std::move(image));
    }
    return images;
}

IconObject* FindIcon(const std::string& key) {
    for (IconObject& icon : icons)
        if (icon.key == key) return &icon;
    return nullptr;
}

}  // namespace

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    DWORD blockSize = 0;
    const BYTE* block = FindBytes(instance, MAKEINTRESOURCEA((id >> 4) + 1), RT_STRING, &blockSize);
    if (!block) return 0;
    // Sixteen counted UTF-16 strings; skip to ours.
    std::size_t offset = 0;
    for (UINT i = 0; i <= (id & 15); ++i) {
        if (blockSize - offset < 2) return 0;
        WORD length = ReadU16(block + offset);
        offset += 2;
        if ((blockSize - offset) / 2 < length) return 0;
        if (i == (id & 15)) {
            std::u16string units(length, u'\0');
            for (WORD k = 0; k < length; ++k) units[k] = static_cast<char16_t>(ReadU16(block + offset + 2 * k));
            std::string text = Utf16ToUtf8(units.data(), units.size());
            std::size_t n = text.size();
            if (n > std::size_t(size - 1)) {
                n = size - 1;
                // Do not cut a character in two.
                while (n > 0 && (static_cast<BYTE>(text[n]) & 0xC0) == 0x80) --n;
            }
            text.copy(buffer, n);
            buffer[n] = '\0';
            return static_cast<int>(n);
        }
        offset += std::size_t(length) * 2;
    }
    return 0;
}

HACCEL LoadAcceleratorsA(HINSTANCE instance, LPCSTR tableName) {
    DWORD size = 0;
    const BYTE* bytes = FindBytes(instance, tableName, RT_ACCELERATOR, &size);
    if (!bytes) return nullptr;
    AcceleratorTable table;
    for (std::size_t offset = 0; offset + 8 <= size; offset += 8) {
        WORD flags = ReadU16(bytes + offset);
        table.entries.push_back(ACCEL{static_cast<BYTE>(flags & 0x7F), ReadU16(bytes + offset + 2),
                                      ReadU16(bytes + offset + 4)});
        if (flags & 0x80) break;  // the last entry
    }
    if (table.entries.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(objectMutex);
    acceleratorTables.push_back(std::move(table));
    return reinterpret_cast<HACCEL>(&acceleratorTables.back());
}

std::vector<ACCEL> GetAcceleratorEntries(HACCEL table) {
    std::lock_guard<std::mutex> lock(objectMutex);
    for (AcceleratorTable& t : acceleratorTables)
        if (reinterpret_cast<HACCEL>(&t) == table) return t.entries;
    return {};
}

int TranslateAcceleratorA(HWND window, HACCEL table, LPMSG message) {
    if (!window || !message) return 0;
    UINT m = message->message;
    bool keyDown = m == WM_KEYDOWN || m == WM_SYSKEYDOWN;
    bool character = m == WM_CHAR || m == WM_SYSCHAR;
    if (!keyDown && !character) return 0;
    bool shift = GetKeyState(VK_SHIFT) < 0;
    bool control = GetKeyState(VK_CONTROL) < 0;
    bool alt = m == WM_SYSKEYDOWN || m == WM_SYSCHAR || GetKeyState(VK_MENU) < 0;
    for (const ACCEL& a : GetAcceleratorEntries(table)) {
        bool match;
        if (a.fVirt & FVIRTKEY) {
            match = keyDown && a.key == message->wParam && bool(a.fVirt & FSHIFT) == shift &&
                    bool(a.fVirt & FCONTROL) == control && bool(a.fVirt & FALT) == alt;
        } else {
            // A character entry: Alt decides between WM_SYSCHAR and WM_CHAR.
            match = character && a.key == message->wParam && bool(a.fVirt & FALT) == alt;
        }
        if (match) {
            SendMessageA(window, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
            return 1;
        }
    }
    return 0;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (!name) return nullptr;
    if (!instance) {
        // Only stock icons come without an instance.
        if (IS_INTRESOURCE(name) && LOWORD(reinterpret_cast<ULONG_PTR>(name)) >= 32512)
            return reinterpret_cast<HICON>(&stockIcon);
        return nullptr;
    }
    std::string key = NameKey(name);
    {
        std::lock_guard<std::mutex> lock(objectMutex);
        if (IconObject* found = FindIcon(key)) return reinterpret_cast<HICON>(found);
    }
    DWORD size = 0;
    const BYTE* group = FindBytes(instance, name, RT_GROUP_ICON, &size);
    if (!group) return nullptr;
    std::vector<IconImage> images = DecodeIconGroup(instance, group, size);
    if (images.empty()) return nullptr;
    std::lock_guard<std::mutex> lock(objectMutex);
    if (IconObject* found = FindIcon(key)) return reinterpret_cast<HICON>(found);
    icons.push_back(IconObject{key, std::move(images)});
    return reinterpret_cast<HICON>(&icons.back());
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
    // Only the stock cursors exist; the window system draws its own arrow.
    if (instance || !IS_INTRESOURCE(name) || LOWORD(reinterpret_cast<ULONG_PTR>(name)) < 32512)
        return nullptr;
    return reinterpret_cast<HCURSOR>(&stockCursor);
}

std::vector<IconImage> GetIconImages(HICON icon) {
    std::lock_guard<std::mutex> lock(objectMutex);
    for (IconObject& i : icons)
        if (reinterpret_cast<HICON>(&i) == icon) return i.images;
    return {};
}

bool GetIconImage(HICON icon, int size, IconImage* image) {
    std::vector<IconImage> images = GetIconImages(icon);
    const IconImage* best = nullptr;
    auto better = [size](const IconImage& a, const IconImage& b) {
        bool aFits = a.width >= size, bFits = b.width >= size;
        if (aFits != bFits) return aFits;
        if (a.width != b.width) return aFits ? a.width < b.width : a.width > b.width;
        return a.bitCount > b.bitCount;
    };
    for (const IconImage& i : images)
        if (!best || better(i, *best)) best = &i;
    if (!best || !image) return false;
    *image = *best;
    return true;
}
