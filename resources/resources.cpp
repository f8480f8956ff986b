// The program's resource script: what the resource compiler would put into
// the executable, written out in the binary layouts and registered with the
// module's resource tables.
#include "resources/resources.h"

#include <mutex>

#include "platform/win32/dialog.h"
#include "platform/win32/message_box.h"
#include "platform/win32/resource.h"
#include "platform/win32/templates.h"
#include "platform/win32/user_resources.h"
#include "platform/win32/window.h"
#include "resources/icons.h"
#include "resources/resource_ids.h"
#include "resources/template_writer.h"

namespace {

const std::vector<std::pair<int, std::string>> kStrings = {
    {IDS_APP_TITLE, "Vintrel Test"},
    {IDC_VINTREL, "Vintrel"},
};

const std::vector<MenuEntry> kMenu = {
    {"ファイル(&F)", 0, {{"アプリケーションの終了(&X)", IDM_EXIT, {}}}},
    {"ヘルプ(&H)", 0, {{"バージョン情報 ...(&A)", IDM_ABOUT, {}}}},
};

// Alt+"?" and Alt+"/" (characters, not virtual keys) open the About box.
const std::vector<AccelEntry> kAccelerators = {
    {FALT, '?', IDM_ABOUT},
    {FALT, '/', IDM_ABOUT},
};

constexpr DWORD kControl = WS_CHILD | WS_VISIBLE;
const DialogDefinition kAboutBox = {
    DS_SETFONT | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU,
    22, 17, 230, 75,
    "バージョン情報",
    9, "System",
    {
        {kStaticClassAtom, IDC_ABOUT_ICON, "", IDI_VINTREL, kControl | SS_ICON, 14, 9, 20, 20},
        {kStaticClassAtom, -1, "Vintrel TEST", 0, kControl | SS_NOPREFIX | WS_GROUP, 49, 10, 119, 8},
        {kStaticClassAtom, -1, "Copyright (C) 2026 Vintrel", 0, kControl | WS_GROUP, 49, 20, 119, 8},
        {kButtonClassAtom, IDOK, "OK", 0, kControl | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 195, 6,
         30, 11},
        {kStaticClassAtom, -1, "ソフトウェア描画版 (640 x 480)", 0, kControl | WS_GROUP, 49, 31, 119, 8},
    },
};

// Application icon: 32 and 16 at 16 colours; 48, 32, 16 at 256 colours;
// 48 at 32 bits; 32 at 24 bits; 16 at 32 bits.
const std::vector<IconSpec> kAppIcon = {
    {32, 4, 0},  {16, 4, 0},  {48, 8, 0},  {32, 8, 0},
    {16, 8, 0},  {48, 32, 0}, {32, 24, 0}, {16, 32, 0},
};
// Small icon: 16 at 16 colours twice; 48, 32, 16 at 256 colours and at 24 bits.
const std::vector<IconSpec> kSmallIcon = {
    {16, 4, 0},  {16, 4, 1},  {48, 8, 0},  {32, 8, 0},
    {16, 8, 0},  {48, 24, 0}, {32, 24, 0}, {16, 24, 0},
};

// The built bytes live for the whole run: the tables point into them.
struct Built {
    std::vector<BYTE> strings, menu, accelerators, about;
    IconGroup appIcon, smallIcon;
    std::vector<ResourceRecord> records;
};

}  // namespace

void RegisterProgramResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        static Built b;
        b.strings = WriteStringBlock(kStrings, IDS_APP_TITLE / 16);
        b.menu = WriteMenu(kMenu);
        b.accelerators = WriteAccelerators(kAccelerators);
        b.about = WriteDialogEx(kAboutBox);
        b.appIcon = BuildIconGroup(kAppIcon, 1);
        b.smallIcon = BuildIconGroup(kSmallIcon, 9);

        auto add = [](LPCSTR type, int id, const std::vector<BYTE>& bytes) {
            b.records.push_back({type, MAKEINTRESOURCEA(id), bytes.data(),
                                 static_cast<DWORD>(bytes.size())});
        };
        add(RT_STRING, IDS_APP_TITLE / 16 + 1, b.strings);
        add(RT_MENU, IDC_VINTREL, b.menu);
        add(RT_ACCELERATOR, IDC_VINTREL, b.accelerators);
        add(RT_DIALOG, IDD_ABOUTBOX, b.about);
        add(RT_GROUP_ICON, IDI_VINTREL, b.appIcon.directory);
        add(RT_GROUP_ICON, IDI_SMALL, b.smallIcon.directory);
        for (const auto& [id, bytes] : b.appIcon.images) add(RT_ICON, id, bytes);
        for (const auto& [id, bytes] : b.smallIcon.images) add(RT_ICON, id, bytes);
        RegisterResources(b.records.data(), b.records.size());
        RegisterWaveResources();
    });
}
