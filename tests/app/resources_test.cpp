// The program's resources as the platform reads them back: strings, menu,
// accelerators, the About template (down to its bytes) and the icons.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/windows.h"
#include "platform/win32/templates.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace {

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override { RegisterProgramResources(); }
    static const BYTE* Bytes(LPCSTR type, int id, DWORD* size) {
        HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
        if (!r) return nullptr;
        *size = SizeofResource(nullptr, r);
        return static_cast<const BYTE*>(LockResource(LoadResource(nullptr, r)));
    }
};

TEST_F(ProgramResources, TitleAndClassNameStrings) {
    char text[100];
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_APP_TITLE, text, sizeof text), 12);
    EXPECT_STREQ(text, "Vintrel Test");
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDC_VINTREL, text, sizeof text), 7);
    EXPECT_STREQ(text, "Vintrel");
    // Truncated to the buffer, always terminated; absent strings are empty.
    EXPECT_EQ(LoadStringA(nullptr, IDS_APP_TITLE, text, 5), 4);
    EXPECT_STREQ(text, "Vint");
    EXPECT_EQ(LoadStringA(nullptr, 104, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(LoadStringA(nullptr, 5000, text, sizeof text), 0);
    EXPECT_EQ(LoadStringA(nullptr, IDS_APP_TITLE, text, 0), 0);
}

TEST_F(ProgramResources, MenuHasFileExitAndHelpAbout) {
    DWORD size = 0;
    const BYTE* bytes = Bytes(RT_MENU, IDC_VINTREL, &size);
    ASSERT_NE(bytes, nullptr);
    std::vector<MenuItem> menu;
    ASSERT_TRUE(ParseMenuTemplate(bytes, size, &menu));
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_TRUE(menu[0].IsPopup());
    EXPECT_EQ(menu[0].text, "ファイル(&F)");
    ASSERT_EQ(menu[0].items.size(), 1u);
    EXPECT_EQ(menu[0].items[0].text, "アプリケーションの終了(&X)");
    EXPECT_EQ(menu[0].items[0].id, IDM_EXIT);
    EXPECT_EQ(menu[1].text, "ヘルプ(&H)");
    ASSERT_EQ(menu[1].items.size(), 1u);
    EXPECT_EQ(menu[1].items[0].text, "バージョン情報 ...(&A)");
    EXPECT_EQ(menu[1].items[0].id, IDM_ABOUT);
    // Every prefix of the template is rejected, not read past.
    for (DWORD n = 0; n < size; ++n) {
        std::vector<BYTE> prefix(bytes, bytes + n);
        EXPECT_FALSE(ParseMenuTemplate(prefix.data(), n, &menu)) << n;
    }
}

TEST_F(ProgramResources, AcceleratorsAreAltQuestionMarkAndAltSlash) {
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDC_VINTREL));
    ASSERT_NE(table, nullptr);
    std::vector<ACCEL> entries = GetAcceleratorEntries(table);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].fVirt, FALT);
    EXPECT_EQ(entries[0].key, '?');
    EXPECT_EQ(entries[0].cmd, IDM_ABOUT);
    EXPECT_EQ(entries[1].fVirt, FALT);
    EXPECT_EQ(entries[1].key, '/');
    EXPECT_EQ(entries[1].cmd, IDM_ABOUT);
}

TEST_F(ProgramResources, AboutTemplateBytesAndControls) {
    DWORD size = 0;
    const BYTE* b = Bytes(RT_DIALOG, IDD_ABOUTBOX, &size);
    ASSERT_NE(b, nullptr);
    ASSERT_GT(size, 26u);
    auto u16 = [b](int at) { return WORD(b[at] | (b[at + 1] << 8)); };
    auto u32 = [&](int at) { return DWORD(u16(at)) | (DWORD(u16(at + 2)) << 16); };
    // Extended template header, in its fixed layout.
    EXPECT_EQ(u16(0), 1);
    EXPECT_EQ(u16(2), 0xFFFF);
    EXPECT_EQ(u32(12), DS_SETFONT | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(u32(12), 0x00C800C0u);
    EXPECT_EQ(u16(16), 5);                                // controls
    EXPECT_EQ(u16(18), 22);                               // x
    EXPECT_EQ(u16(20), 17);                               // y
    EXPECT_EQ(u16(22), 230);                              // cx
    EXPECT_EQ(u16(24), 75);                               // cy
    EXPECT_EQ(u16(26), 0);                                // no menu
    EXPECT_EQ(u16(28), 0);                                // standard class
    EXPECT_EQ(u16(30), 0x30D0);                           // "バ" starts the caption

    DialogTemplate t;
    ASSERT_TRUE(ParseDialogTemplate(b, size, &t));
    EXPECT_TRUE(t.extended);
    EXPECT_EQ(t.title, "バージョン情報");
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.typeface, "System");
    ASSERT_EQ(t.items.size(), 5u);
    const DWORD child = WS_CHILD | WS_VISIBLE;
    struct Expected {
        WORD atom;
        int id;
        DWORD style;
        short x, y, cx, cy;
    } expected[5] = {
        {kStaticClassAtom, 2, child | SS_ICON, 14, 9, 20, 20},
        {kStaticClassAtom, -1, child | SS_NOPREFIX | WS_GROUP, 49, 10, 119, 8},
        {kStaticClassAtom, -1, child | WS_GROUP, 49, 20, 119, 8},
        {kButtonClassAtom, IDOK, child | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 195, 6, 30, 11},
        {kStaticClassAtom, -1, child | WS_GROUP, 49, 31, 119, 8},
    };
    for (int i = 0; i < 5; ++i) {
        const DialogItem& item = t.items[i];
        EXPECT_EQ(item.classAtom, expected[i].atom) << i;
        EXPECT_EQ(item.id, expected[i].id) << i;
        EXPECT_EQ(item.style, expected[i].style) << i;
        EXPECT_EQ(item.x, expected[i].x) << i;
        EXPECT_EQ(item.y, expected[i].y) << i;
        EXPECT_EQ(item.cx, expected[i].cx) << i;
        EXPECT_EQ(item.cy, expected[i].cy) << i;
    }
    EXPECT_EQ(t.items[0].titleOrdinal, IDI_VINTREL);
    EXPECT_EQ(t.items[1].title, "Vintrel TEST");
    EXPECT_EQ(t.items[3].title, "OK");
    EXPECT_FALSE(t.items[2].title.empty());
    EXPECT_FALSE(t.items[4].title.empty());

    for (DWORD n = 0; n < size; ++n) {
        std::vector<BYTE> prefix(b, b + n);
        EXPECT_FALSE(ParseDialogTemplate(prefix.data(), n, &t)) << n;
    }
}

TEST_F(ProgramResources, IconGroupsHaveTheirSizesAndDepths) {
    struct Image {
        int size, bits;
    };
    auto check = [](int id, std::vector<Image> expected) {
        HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
        ASSERT_NE(icon, nullptr) << id;
        EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)), icon);
        std::vector<IconImage> images = GetIconImages(icon);
        ASSERT_EQ(images.size(), expected.size()) << id;
        for (std::size_t i = 0; i < images.size(); ++i) {
            EXPECT_EQ(images[i].width, expected[i].size) << id << " image " << i;
            EXPECT_EQ(images[i].height, expected[i].size) << id << " image " << i;
            EXPECT_EQ(images[i].bitCount, expected[i].bits) << id << " image " << i;
            const IconImage& im = images[i];
            auto at = [&im](int x, int y) { return &im.rgba[(std::size_t(y) * im.width + x) * 4]; };
            // Transparent corner; a red hub in the middle.
            EXPECT_EQ(at(0, 0)[3], 0) << id << " image " << i;
            const BYTE* centre = at(im.width / 2, im.height / 2);
            EXPECT_EQ(centre[3], 255);
            EXPECT_GT(centre[0], 120) << id << " image " << i;
            EXPECT_LT(centre[1], 90) << id << " image " << i;
        }
    };
    check(IDI_VINTREL, {{32, 4}, {16, 4}, {48, 8}, {32, 8}, {16, 8}, {48, 32}, {32, 24}, {16, 32}});
    check(IDI_SMALL, {{16, 4}, {16, 4}, {48, 8}, {32, 8}, {16, 8}, {48, 24}, {32, 24}, {16, 24}});

    IconImage best;
    ASSERT_TRUE(GetIconImage(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_VINTREL)),
                             32, &best));
    EXPECT_EQ(best.width, 32);
    EXPECT_EQ(best.bitCount, 24);  // the deepest 32-pixel image
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(999)), nullptr);
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
}

TEST_F(ProgramResources, WaveTableIsThereAndEmpty) {
    EXPECT_EQ(FindResourceA(nullptr, "media/eng2.wav", "WAVE"), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, "media/eng2.wav", "WAV"), nullptr);
}

}  // namespace
