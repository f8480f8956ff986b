#include "platform/d3d9/debug_report.h"

#include <string>

#include "platform/win32/debug.h"

namespace {
bool muted = false;
}  // namespace

BOOL DebugSetMute(BOOL mute) {
    const BOOL previous = muted ? TRUE : FALSE;
    muted = mute != FALSE;
    return previous;
}

bool DebugMessagesMuted() { return muted; }

HRESULT ReportFailure(HRESULT result, const char* method, const char* what) {
    if (!muted) {
        std::string text = "Direct3D9: ";
        text += method;
        text += ": ";
        text += what;
        text += '\n';
        OutputDebugStringA(text.c_str());
    }
    return result;
}

HRESULT InvalidCall(const char* method, const char* what) {
    return ReportFailure(D3DERR_INVALIDCALL, method, what);
}
