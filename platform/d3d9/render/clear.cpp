// Clearing the target and the depth buffer: no blending, dithering or
// write mask; the colour rounds to the target's channels like a draw.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/render/renderer.h"

namespace {

// A colour channel of `bits` bits from an 8-bit one, rounded to nearest.
DWORD Narrow(DWORD value8, int bits) {
    const DWORD top = (1u << bits) - 1;
    return (value8 * top * 2 + 255) / (255 * 2);
}

void FillRect(const SurfaceView& surface, LONG x1, LONG y1, LONG x2, LONG y2, const void* pixel, UINT bytes) {
    for (LONG y = y1; y < y2; ++y) {
        BYTE* row = surface.bits + static_cast<ptrdiff_t>(y) * surface.pitch + static_cast<ptrdiff_t>(x1) * bytes;
        for (LONG x = x1; x < x2; ++x, row += bytes) std::memcpy(row, pixel, bytes);
    }
}

}  // namespace

void Renderer::Clear(const DrawState& state, DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color,
                     float z, DWORD) {
    Flush();
    const D3DVIEWPORT9& vp = state.viewport;
    D3DRECT whole = {LONG(vp.X), LONG(vp.Y), LONG(vp.X + vp.Width), LONG(vp.Y + vp.Height)};
    if (count == 0 || rects == nullptr) {
        count = 1;
        rects = &whole;
    }
    const DWORD r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
    const WORD pixel16 = WORD((Narrow(r, 5) << 11) | (Narrow(g, 6) << 5) | Narrow(b, 5));
    const DWORD pixel32 = color | 0xFF000000u;
    const float zc = std::isnan(z) ? 0.0f : std::clamp(z, 0.0f, 1.0f);
    const WORD depth16 = WORD(std::lround(zc * 65535.0f));
    for (DWORD i = 0; i < count; ++i) {
        // Clipped to the viewport and to each surface.
        LONG x1 = std::max(rects[i].x1, whole.x1), y1 = std::max(rects[i].y1, whole.y1);
        LONG x2 = std::min(rects[i].x2, whole.x2), y2 = std::min(rects[i].y2, whole.y2);
        x1 = std::max<LONG>(x1, 0);
        y1 = std::max<LONG>(y1, 0);
        if ((flags & D3DCLEAR_TARGET) && state.target.bits) {
            LONG cx2 = std::min<LONG>(x2, state.target.width), cy2 = std::min<LONG>(y2, state.target.height);
            if (x1 < cx2 && y1 < cy2) {
                if (state.target.format == D3DFMT_R5G6B5)
                    FillRect(state.target, x1, y1, cx2, cy2, &pixel16, 2);
                else
                    FillRect(state.target, x1, y1, cx2, cy2, &pixel32, 4);
            }
        }
        if ((flags & D3DCLEAR_ZBUFFER) && state.depth.bits) {
            LONG cx2 = std::min<LONG>(x2, state.depth.width), cy2 = std::min<LONG>(y2, state.depth.height);
            if (x1 < cx2 && y1 < cy2) FillRect(state.depth, x1, y1, cx2, cy2, &depth16, 2);
        }
    }
}
