// Conversions between 32-bit and 16-bit floating point (portable forms).
#include "geometry/math_half.h"

#include <cstring>

#include "geometry/math_dispatch.h"

Float16 FloatToHalf(float value) {
    std::uint32_t f;
    std::memcpy(&f, &value, sizeof f);
    const std::uint32_t sign = (f >> 16) & 0x8000u;
    f &= 0x7FFFFFFFu;
    if (f >= 0x7F800000u) {
        if (f == 0x7F800000u) return static_cast<Float16>(sign | 0x7C00u);
        // NaN: keep the top of the payload; one that lives only in the
        // dropped bits becomes the quiet bit, so it stays a NaN.
        std::uint32_t payload = (f >> 13) & 0x3FFu;
        return static_cast<Float16>(sign | 0x7C00u | (payload ? payload : 0x200u));
    }
    // 65520 is halfway between the largest half (65504) and 65536; the tie
    // goes to the even side, which is infinity.
    if (f >= 0x477FF000u) return static_cast<Float16>(sign | 0x7C00u);
    if (f < 0x38800000u) {
        // Below the smallest normal half: a denormal in units of 2^-24.
        // 2^-25 and less round to zero (2^-25 itself is a tie, to even).
        if (f <= 0x33000000u) return static_cast<Float16>(sign);
        std::uint32_t exponent = f >> 23;
        std::uint32_t mantissa = (f & 0x7FFFFFu) | 0x800000u;
        std::uint32_t shift = 126 - exponent;  // 14 ... 24
        std::uint32_t h = mantissa >> shift;
        std::uint32_t rest = mantissa & ((1u << shift) - 1);
        std::uint32_t half = 1u << (shift - 1);
        if (rest > half || (rest == half && (h & 1u))) ++h;  // may carry into the smallest normal
        return static_cast<Float16>(sign | h);
    }
    // Rebias the exponent (127 -> 15) and round the 13 dropped bits.
    std::uint32_t h = (f - 0x38000000u) >> 13;
    std::uint32_t rest = f & 0x1FFFu;
    if (rest > 0x1000u || (rest == 0x1000u && (h & 1u))) ++h;
    return static_cast<Float16>(sign | h);
}

float HalfToFloat(Float16 value) {
    std::uint32_t h = value;
    std::uint32_t sign = (h & 0x8000u) << 16;
    std::uint32_t exponent = (h >> 10) & 0x1Fu;
    std::uint32_t mantissa = h & 0x3FFu;
    std::uint32_t f;
    if (exponent == 0x1F) {
        f = sign | 0x7F800000u | (mantissa << 13);
    } else if (exponent != 0) {
        f = sign | ((exponent + 112) << 23) | (mantissa << 13);
    } else if (mantissa == 0) {
        f = sign;
    } else {
        // Denormal: shift the leading one up to the hidden-bit place.
        exponent = 113;
        while (!(mantissa & 0x400u)) {
            mantissa <<= 1;
            --exponent;
        }
        f = sign | (exponent << 23) | ((mantissa & 0x3FFu) << 13);
    }
    float result;
    std::memcpy(&result, &f, sizeof result);
    return result;
}

namespace math_portable {

Float16* ConvertFloat32ToFloat16Array(Float16* out, const float* in, UINT count) {
    for (UINT i = 0; i < count; ++i) out[i] = FloatToHalf(in[i]);
    return out;
}

float* ConvertFloat16ToFloat32Array(float* out, const Float16* in, UINT count) {
    // Backwards, so a float array may be converted from halves in its own
    // first half.
    for (UINT i = count; i-- > 0;) out[i] = HalfToFloat(in[i]);
    return out;
}

}  // namespace math_portable
