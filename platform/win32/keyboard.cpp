#include "platform/win32/keyboard.h"

#include "platform/win32/window.h"

namespace {
// Bit 7: down. Bit 0: toggled.
thread_local BYTE keyState[256];
}  // namespace

SHORT GetKeyState(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) return 0;
    BYTE s = keyState[virtualKey];
    return static_cast<SHORT>(((s & 0x80) ? 0x8000 : 0) | (s & 1));
}

void UpdateKeyStateFromMessage(UINT message, WPARAM virtualKey) {
    if (virtualKey > 255) return;
    BYTE& s = keyState[virtualKey];
    switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            // Auto-repeat sends more downs without ups; only the press toggles.
            if (!(s & 0x80)) s ^= 1;
            s |= 0x80;
            break;
        case WM_KEYUP:
        case WM_SYSKEYUP: s &= static_cast<BYTE>(~0x80); break;
        default: break;
    }
}

void ReleaseAllKeys() {
    for (BYTE& s : keyState) s &= 1;
}

void ResetKeyStateForTesting() {
    for (BYTE& s : keyState) s = 0;
}

int CharacterForKey(int vk, bool shift) {
    if (vk >= 'A' && vk <= 'Z') return shift ? vk : vk - 'A' + 'a';
    if (vk >= '0' && vk <= '9') return shift ? ")!@#$%^&*("[vk - '0'] : vk;
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) return '0' + (vk - VK_NUMPAD0);
    switch (vk) {
        case VK_SPACE: return ' ';
        case VK_RETURN: return '\r';
        case VK_ESCAPE: return 0x1B;
        case VK_BACK: return '\b';
        case VK_TAB: return '\t';
        case VK_MULTIPLY: return '*';
        case VK_ADD: return '+';
        case VK_SUBTRACT: return '-';
        case VK_DECIMAL: return '.';
        case VK_DIVIDE: return '/';
        case VK_OEM_1: return shift ? ':' : ';';
        case VK_OEM_PLUS: return shift ? '+' : '=';
        case VK_OEM_COMMA: return shift ? '<' : ',';
        case VK_OEM_MINUS: return shift ? '_' : '-';
        case VK_OEM_PERIOD: return shift ? '>' : '.';
        case VK_OEM_2: return shift ? '?' : '/';
        case VK_OEM_3: return shift ? '~' : '`';
        case VK_OEM_4: return shift ? '{' : '[';
        case VK_OEM_5: return shift ? '|' : '\\';
        case VK_OEM_6: return shift ? '}' : ']';
        case VK_OEM_7: return shift ? '"' : '\'';
        default: return 0;
    }
}
