// Keyboard state as the program sees it: GetKeyState follows the key
// messages taken from the queue (not the keyboard itself), so a frame sees
// the keys as of the messages it has handled.
#pragma once

#include "platform/win32/types.h"

// Virtual-key codes. Letters and digits are their upper-case ASCII codes.
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;  // Alt
constexpr int VK_PAUSE = 0x13;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_NUMPAD0 = 0x60;
constexpr int VK_MULTIPLY = 0x6A;
constexpr int VK_ADD = 0x6B;
constexpr int VK_SUBTRACT = 0x6D;
constexpr int VK_DECIMAL = 0x6E;
constexpr int VK_DIVIDE = 0x6F;
constexpr int VK_F1 = 0x70;
constexpr int VK_F4 = 0x73;
constexpr int VK_F12 = 0x7B;
constexpr int VK_OEM_1 = 0xBA;       // ';:'
constexpr int VK_OEM_PLUS = 0xBB;    // '=+'
constexpr int VK_OEM_COMMA = 0xBC;   // ',<'
constexpr int VK_OEM_MINUS = 0xBD;   // '-_'
constexpr int VK_OEM_PERIOD = 0xBE;  // '.>'
constexpr int VK_OEM_2 = 0xBF;       // '/?'
constexpr int VK_OEM_3 = 0xC0;       // '`~'
constexpr int VK_OEM_4 = 0xDB;       // '[{'
constexpr int VK_OEM_5 = 0xDC;       // '\|'
constexpr int VK_OEM_6 = 0xDD;       // ']}'
constexpr int VK_OEM_7 = 0xDE;       // ''"'

// High bit (the result is negative) while the key is down; low bit toggled
// by each press. Codes outside 0..255 are never down.
SHORT GetKeyState(int virtualKey);

// Applies one key message (WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP)
// to the key state; other messages are ignored. The queue calls it for each
// key message it hands out.
void UpdateKeyStateFromMessage(UINT message, WPARAM virtualKey);
// Releases every key (the window lost the focus); toggles stay.
void ReleaseAllKeys();
// Every key up and untoggled (tests).
void ResetKeyStateForTesting();

// The character a key gives with the US layout, with or without Shift; 0
// when it gives none. Used to turn key messages into character messages.
int CharacterForKey(int virtualKey, bool shift);
