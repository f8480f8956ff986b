#include "platform/win32/templates.h"

#include <cstring>

namespace {

constexpr DWORD DS_SETFONT = 0x40;

class ByteReader {
public:
    ByteReader(const void* data, std::size_t size)
        : start_(static_cast<const BYTE*>(data)), ptr_(start_), end_(start_ + size) {}

    bool ReadU8(BYTE& v) {
        if (size_t(end_ - ptr_) < 1) return false;
        v = *ptr_++;
        return true;
    }
    bool ReadU16(WORD& v) {
        if (size_t(end_ - ptr_) < 2) return false;
        v = static_cast<WORD>(ptr_[0] | (ptr_[1] << 8));
        ptr_ += 2;
        return true;
    }
    bool ReadI16(short& v) {
        WORD w;
        if (!ReadU16(w)) return false;
        v = static_cast<short>(w);
        return true;
    }
    bool ReadU32(DWORD& v) {
        if (size_t(end_ - ptr_) < 4) return false;
        v = DWORD(ptr_[0]) | (DWORD(ptr_[1]) << 8) | (DWORD(ptr_[2]) << 16) | (DWORD(ptr_[3]) << 24);
        ptr_ += 4;
        return true;
    }
    // A NUL-terminated UTF-16 string.
    bool ReadString(std::string& out) {
        std::u16string units;
        for (;;) {
            WORD c;
            if (!ReadU16(c)) return false;
            if (c == 0) break;
            units.push_back(static_cast<char16_t>(c));
        }
        out = Utf16ToUtf8(units.data(), units.size());
        return true;
    }
    // A string or 0xFFFF followed by an ordinal; 0 alone is neither.
    bool ReadStringOrOrdinal(WORD& ordinal, std::string& text) {
        ordinal = 0;
        text.clear();
        if (size_t(end_ - ptr_) < 2) return false;
        if (ptr_[0] == 0xFF && ptr_[1] == 0xFF) {
            ptr_ += 2;
            return ReadU16(ordinal);
        }
        return ReadString(text);
    }
    bool AlignTo4() {
        std::size_t offset = size_t(ptr_ - start_);
        std::size_t pad = (4 - offset % 4) % 4;
        if (size_t(end_ - ptr_) < pad) return false;
        ptr_ += pad;
        return true;
    }
    bool Skip(std::size_t n) {
        if (size_t(end_ - ptr_) < n) return false;
        ptr_ += n;
        return true;
    }
    bool AtEnd() const { return ptr_ == end_; }

private:
    const BYTE* start_;
    const BYTE* ptr_;
    const BYTE* end_;
};

bool ParseMenuItems(ByteReader& in, std::vector<MenuItem>& items, int depth) {
    if (depth > 16) return false;  // deeper nesting means a broken template
    for (;;) {
        MenuItem item;
        if (!in.ReadU16(item.flags)) return false;
        if (!(item.flags & MF_POPUP) && !in.ReadU16(item.id)) return false;
        if (!in.ReadString(item.text)) return false;
        if (item.flags & MF_POPUP) {
            if (!ParseMenuItems(in, item.items, depth + 1)) return false;
        }
        bool last = (item.flags & MF_END) != 0;
        item.flags &= static_cast<WORD>(~MF_END);
        items.push_back(std::move(item));
        if (last) return true;
    }
}

}  // namespace

std::string Utf16ToUtf8(const WCHAR* text, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bool ParseMenuTemplate(const void* data, std::size_t size, std::vector<MenuItem>* items) {
    if (!data || !items) return false;
    items->clear();
    ByteReader in(data, size);
    WORD version, headerSize;
    if (!in.ReadU16(version) || !in.ReadU16(headerSize) || version != 0) return false;
    if (!in.Skip(headerSize)) return false;
    std::vector<MenuItem> parsed;
    if (!ParseMenuItems(in, parsed, 0)) return false;
    *items = std::move(parsed);
    return true;
}

bool ParseDialogTemplate(const void* data, std::size_t size, DialogTemplate* dialog) {
    if (!data || !dialog) return false;
    ByteReader in(data, size);
    DialogTemplate d;
    WORD version = 0, signature = 0, count = 0;
    if (!in.ReadU16(version) || !in.ReadU16(signature)) return false;
    d.extended = version == 1 && signature == 0xFFFF;
    if (d.extended) {
        if (!in.ReadU32(d.helpId) || !in.ReadU32(d.exStyle) || !in.ReadU32(d.style)) return false;
    } else {
        // A plain template starts with its style.
        d.style = MAKELONG(version, signature);
        if (!in.ReadU32(d.exStyle)) return false;
    }
    if (!in.ReadU16(count) || !in.ReadI16(d.x) || !in.ReadI16(d.y) || !in.ReadI16(d.cx) ||
        !in.ReadI16(d.cy))
        return false;
    WORD ordinal;
    std::string text;
    if (!in.ReadStringOrOrdinal(ordinal, text) || ordinal != 0 || !text.empty()) return false;
    if (!in.ReadStringOrOrdinal(ordinal, text) || ordinal != 0 || !text.empty()) return false;
    if (!in.ReadString(d.title)) return false;
    if (d.style & DS_SETFONT) {
        if (!in.ReadU16(d.pointSize)) return false;
        if (d.extended && (!in.ReadU16(d.weight) || !in.ReadU8(d.italic) || !in.ReadU8(d.charset)))
            return false;
        if (!in.ReadString(d.typeface)) return false;
    }
    for (WORD i = 0; i < count; ++i) {
        DialogItem item;
        if (!in.AlignTo4()) return false;
        if (d.extended) {
            DWORD id;
            if (!in.ReadU32(item.helpId) || !in.ReadU32(item.exStyle) || !in.ReadU32(item.style) ||
                !in.ReadI16(item.x) || !in.ReadI16(item.y) || !in.ReadI16(item.cx) ||
                !in.ReadI16(item.cy) || !in.ReadU32(id))
                return false;
            item.id = static_cast<int>(id);
        } else {
            WORD id;
            if (!in.ReadU32(item.style) || !in.ReadU32(item.exStyle) || !in.ReadI16(item.x) ||
                !in.ReadI16(item.y) || !in.ReadI16(item.cx) || !in.ReadI16(item.cy) ||
                !in.ReadU16(id))
                return false;
            item.id = static_cast<short>(id);
        }
        if (!in.ReadStringOrOrdinal(item.classAtom, item.className)) return false;
        if (!in.ReadStringOrOrdinal(item.titleOrdinal, item.title)) return false;
        WORD extra;
        if (!in.ReadU16(extra) || !in.Skip(extra)) return false;
        d.items.push_back(std::move(item));
    }
    *dialog = std::move(d);
    return true;
}
