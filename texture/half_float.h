// IEEE half-precision conversion for the 16-bit float formats. Private to
// the texture library until the math library offers the same routines.
#pragma once

#include <cstdint>
#include <cstring>

namespace texture_detail {

inline float HalfToFloat(std::uint16_t h) {
    const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000) << 16;
    std::uint32_t exponent = (h >> 10) & 0x1F;
    std::uint32_t mantissa = h & 0x3FF;
    std::uint32_t bits;
    if (exponent == 0x1F) {
        bits = sign | 0x7F800000 | (mantissa << 13);  // infinity or NaN
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
    } else if (mantissa == 0) {
        bits = sign;
    } else {
        // Subnormal: normalise the mantissa.
        exponent = 113;
        while ((mantissa & 0x400) == 0) {
            mantissa <<= 1;
            --exponent;
        }
        bits = sign | (exponent << 23) | ((mantissa & 0x3FF) << 13);
    }
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Round to nearest even; values beyond the half range become infinity.
inline std::uint16_t FloatToHalf(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    const std::uint16_t sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000);
    const std::uint32_t exponent = (bits >> 23) & 0xFF;
    std::uint32_t mantissa = bits & 0x7FFFFF;
    if (exponent == 0xFF) {
        return static_cast<std::uint16_t>(sign | 0x7C00 | (mantissa ? 0x200 | (mantissa >> 13) : 0));
    }
    const int e = static_cast<int>(exponent) - 127 + 15;
    if (e >= 31) return static_cast<std::uint16_t>(sign | 0x7C00);
    if (e <= 0) {
        if (e < -10) return sign;
        mantissa |= 0x800000;
        const int shift = 14 - e;
        std::uint32_t half = mantissa >> shift;
        const std::uint32_t rest = mantissa & ((1u << shift) - 1);
        const std::uint32_t halfway = 1u << (shift - 1);
        if (rest > halfway || (rest == halfway && (half & 1))) ++half;
        return static_cast<std::uint16_t>(sign | half);
    }
    std::uint32_t half = (static_cast<std::uint32_t>(e) << 10) | (mantissa >> 13);
    const std::uint32_t rest = mantissa & 0x1FFF;
    if (rest > 0x1000 || (rest == 0x1000 && (half & 1))) ++half;  // may carry into the exponent: correct
    return static_cast<std::uint16_t>(sign | half);
}

}  // namespace texture_detail
