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

// Written so that compilers emit max and min without branches; NaN
// becomes 0, so no later conversion to an integer sees it.
inline float SaturateSafe(float v) {
    v = v > 0.0f ? v : 0.0f;
    return v < 1.0f ? v : 1.0f;
}
inline float Saturate(float v) { return SaturateSafe(v); }

}  // namespace render
