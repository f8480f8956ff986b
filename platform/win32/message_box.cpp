#include "platform/win32/message_box.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<MessageBoxHandler> handler{nullptr};
}

int DefaultMessageBoxAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_YESNO: return IDYES;
        default: return IDOK;
    }
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (MessageBoxHandler h = handler.load()) return h(owner, text ? text : "", caption, type);
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "Error", text ? text : "");
    return DefaultMessageBoxAnswer(type);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler h) { return handler.exchange(h); }
