// Colours inside the pipeline: four floats, nominally in [0, 1].
#pragma once

#include <cstdint>

namespace render {

struct Color {
    float r, g, b, a;
};

inline Color ColorFromArgb(uint32_t argb) {
    constexpr float k = 1.0f / 255.0f;
    return {float((argb >> 16) & 0xFF) * k, float((argb >> 8) & 0xFF) * k, float(argb & 0xFF) * k,
            float(argb >> 24) * k};
}

inline float Saturate(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// NaN becomes 0, so no later conversion to an integer sees it.
inline float SaturateSafe(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

}  // namespace render
