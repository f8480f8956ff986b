// Ids of the program's resources; the code refers to them by number.
#pragma once

constexpr int IDS_APP_TITLE = 103;  // window title
constexpr int IDC_VINTREL = 109;    // window class name, menu and accelerator table
constexpr int IDD_ABOUTBOX = 103;   // About dialog
constexpr int IDM_ABOUT = 104;      // Help -> About
constexpr int IDM_EXIT = 105;       // File -> Exit
constexpr int IDI_VINTREL = 107;    // application icon group
constexpr int IDI_SMALL = 108;      // small icon group
constexpr int IDC_ABOUT_ICON = 2;   // the icon control of the About box

// Language of every resource: Japanese.
constexpr int kResourceLanguage = 1041;
