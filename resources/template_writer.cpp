#include "resources/template_writer.h"

#include "platform/win32/templates.h"

void TemplateWriter::U16(WORD v) {
    bytes_.push_back(static_cast<BYTE>(v));
    bytes_.push_back(static_cast<BYTE>(v >> 8));
}

void TemplateWriter::U32(DWORD v) {
    U16(static_cast<WORD>(v));
    U16(static_cast<WORD>(v >> 16));
}

void TemplateWriter::String(const std::string& utf8) {
    for (char16_t c : Utf8ToUtf16(utf8)) U16(c);
    U16(0);
}

void TemplateWriter::Ordinal(WORD id) {
    U16(0xFFFF);
    U16(id);
}

void TemplateWriter::AlignTo4() {
    while (bytes_.size() % 4) bytes_.push_back(0);
}

std::u16string Utf8ToUtf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        BYTE b = static_cast<BYTE>(utf8[i]);
        char32_t c;
        int extra;
        if (b < 0x80) {
            c = b, extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F, extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F, extra = 2;
        } else {
            c = b & 0x07, extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
            c = (c << 6) | (static_cast<BYTE>(utf8[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::vector<BYTE> WriteStringBlock(const std::vector<std::pair<int, std::string>>& strings,
                                   int blockIndex) {
    TemplateWriter w;
    for (int slot = 0; slot < 16; ++slot) {
        std::u16string text;
        for (const auto& [id, s] : strings)
            if (id == blockIndex * 16 + slot) text = Utf8ToUtf16(s);
        w.U16(static_cast<WORD>(text.size()));  // counted, not terminated
        for (char16_t c : text) w.U16(c);
    }
    return w.Bytes();
}

namespace {
void WriteMenuItems(TemplateWriter& w, const std::vector<MenuEntry>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        const MenuEntry& item = items[i];
        WORD flags = i + 1 == items.size() ? MF_END : 0;
        if (!item.items.empty()) {
            w.U16(flags | MF_POPUP);
            w.String(item.text);
            WriteMenuItems(w, item.items);
        } else {
            w.U16(flags);
            w.U16(item.id);
            w.String(item.text);
        }
    }
}
}  // namespace

std::vector<BYTE> WriteMenu(const std::vector<MenuEntry>& topLevel) {
    TemplateWriter w;
    w.U16(0);  // version
    w.U16(0);  // header size
    WriteMenuItems(w, topLevel);
    return w.Bytes();
}

std::vector<BYTE> WriteAccelerators(const std::vector<AccelEntry>& entries) {
    TemplateWriter w;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        w.U16(static_cast<WORD>(entries[i].flags | (i + 1 == entries.size() ? 0x80 : 0)));
        w.U16(entries[i].key);
        w.U16(entries[i].command);
        w.U16(0);
    }
    return w.Bytes();
}

std::vector<BYTE> WriteDialogEx(const DialogDefinition& d) {
    TemplateWriter w;
    w.U16(1);       // version
    w.U16(0xFFFF);  // extended template
    w.U32(0);       // help id
    w.U32(0);       // extended style
    w.U32(d.style);
    w.U16(static_cast<WORD>(d.controls.size()));
    w.U16(static_cast<WORD>(d.x));
    w.U16(static_cast<WORD>(d.y));
    w.U16(static_cast<WORD>(d.cx));
    w.U16(static_cast<WORD>(d.cy));
    w.U16(0);  // no menu
    w.U16(0);  // the standard dialog class
    w.String(d.caption);
    w.U16(d.pointSize);
    w.U16(0);  // weight
    w.U8(0);   // italic
    w.U8(1);   // default character set
    w.String(d.typeface);
    for (const DialogControl& c : d.controls) {
        w.AlignTo4();
        w.U32(0);  // help id
        w.U32(0);  // extended style
        w.U32(c.style);
        w.U16(static_cast<WORD>(c.x));
        w.U16(static_cast<WORD>(c.y));
        w.U16(static_cast<WORD>(c.cx));
        w.U16(static_cast<WORD>(c.cy));
        w.U32(static_cast<DWORD>(c.id));
        w.Ordinal(c.classAtom);
        if (c.titleOrdinal) {
            w.Ordinal(c.titleOrdinal);
        } else {
            w.String(c.text);
        }
        w.U16(0);  // no creation data
    }
    return w.Bytes();
}
