// Helpers shared by the variant sets of the math library (not part of its
// interface).
#pragma once

#include <cmath>
#include <cstring>
#include <type_traits>

#include "geometry/math.h"

namespace math_detail {

// 2^-23: how close to 1 a squared length or a w must be to count as 1.
constexpr float kUnitTolerance = 1.1920929e-07f;
// The smallest normal float: below it a squared length counts as zero.
constexpr float kSmallestNormal = 1.1754944e-38f;

inline void SinCos(float angle, float* s, float* c) {
#if defined(__GLIBC__)
    ::sincosf(angle, s, c);
#else
    *s = std::sin(angle);
    *c = std::cos(angle);
#endif
}

// Steps through an array whose elements are `stride` bytes apart.
template <typename T>
inline T* Advance(T* p, UINT stride) {
    using Byte = std::conditional_t<std::is_const_v<T>, const char, char>;
    return reinterpret_cast<T*>(reinterpret_cast<Byte*>(p) + stride);
}

inline bool IsUnit(float value) {
    return std::fabs(value - 1.0f) <= kUnitTolerance;
}

inline void SetIdentity(Matrix* out) {
    std::memset(out, 0, sizeof *out);
    out->m[0][0] = out->m[1][1] = out->m[2][2] = out->m[3][3] = 1.0f;
}

}  // namespace math_detail
