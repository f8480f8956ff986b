// Where presented frames go: the window system shows them, the headless
// shell keeps them. The device calls the sink from Present.
#pragma once

#include "platform/win32/types.h"

enum class FramePixelFormat { R5G6B5, X8R8G8B8 };

struct FrameView {
    UINT width = 0;
    UINT height = 0;
    UINT pitch = 0;  // bytes from one row to the next
    FramePixelFormat format = FramePixelFormat::R5G6B5;
    const void* pixels = nullptr;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Shows or keeps the frame. False means the window is gone, which the
    // device reports as a lost device.
    virtual bool PresentFrame(HWND window, const FrameView& frame) = 0;
};

// The sink in use; null discards frames. The caller keeps ownership.
void SetFrameSink(FrameSink* sink);
FrameSink* GetFrameSink();
