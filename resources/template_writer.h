// Writes resources in their binary Windows layouts (little-endian, texts as
// UTF-16), as the resource compiler would: string tables, menus,
// accelerator tables and extended dialog templates.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/types.h"

class TemplateWriter {
public:
    void U8(BYTE v) { bytes_.push_back(v); }
    void U16(WORD v);
    void U32(DWORD v);
    // UTF-8 text as NUL-terminated UTF-16.
    void String(const std::string& utf8);
    // 0xFFFF followed by the ordinal.
    void Ordinal(WORD id);
    void AlignTo4();
    const std::vector<BYTE>& Bytes() const { return bytes_; }

private:
    std::vector<BYTE> bytes_;
};

std::u16string Utf8ToUtf16(const std::string& utf8);

// One block of a string table: sixteen counted strings; absent ones empty.
std::vector<BYTE> WriteStringBlock(const std::vector<std::pair<int, std::string>>& strings,
                                   int blockIndex);

struct MenuEntry {
    std::string text;
    WORD id = 0;                   // command id of an item
    std::vector<MenuEntry> items;  // non-empty for a popup
};
std::vector<BYTE> WriteMenu(const std::vector<MenuEntry>& topLevel);

struct AccelEntry {
    BYTE flags;
    WORD key;
    WORD command;
};
std::vector<BYTE> WriteAccelerators(const std::vector<AccelEntry>& entries);

struct DialogControl {
    WORD classAtom;
    int id;
    std::string text;  // used when titleOrdinal is 0
    WORD titleOrdinal;
    DWORD style;
    short x, y, cx, cy;
};
struct DialogDefinition {
    DWORD style;
    short x, y, cx, cy;
    std::string caption;
    WORD pointSize;
    std::string typeface;
    std::vector<DialogControl> controls;
};
std::vector<BYTE> WriteDialogEx(const DialogDefinition& dialog);
