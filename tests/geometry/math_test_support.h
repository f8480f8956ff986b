// Helpers shared by the math tests: random inputs and float comparison.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "geometry/math.h"

namespace math_test {

inline std::uint32_t Bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

inline float FromBits(std::uint32_t b) {
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

class Random {
public:
    explicit Random(unsigned seed) : engine_(seed) {}
    float Uniform(float low, float high) {
        return std::uniform_real_distribution<float>(low, high)(engine_);
    }
    Vector3 Vec3(float range = 10.0f) {
        return {Uniform(-range, range), Uniform(-range, range), Uniform(-range, range)};
    }
    Vector4 Vec4(float range = 10.0f) {
        return {Uniform(-range, range), Uniform(-range, range), Uniform(-range, range),
                Uniform(-range, range)};
    }
    // A general matrix whose w column keeps w away from zero for points of
    // moderate size, so divisions by w stay well conditioned.
    Matrix Mat() {
        Matrix m;
        for (auto& row : m.m)
            for (float& e : row) e = Uniform(-2.0f, 2.0f);
        for (int i = 0; i < 3; ++i) m.m[i][3] = Uniform(-0.02f, 0.02f);
        m.m[3][3] = Uniform(2.0f, 3.0f);
        return m;
    }
    std::mt19937& Engine() { return engine_; }

private:
    std::mt19937 engine_;
};

// True when a and b differ by at most `ulps` units in the last place of
// `scale` (the size of the terms that were summed, not just of the result).
inline bool Close(float a, float b, float scale, float ulps = 8.0f) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    if (a == b) return true;
    float size = std::max({std::fabs(a), std::fabs(b), std::fabs(scale)});
    return std::fabs(a - b) <= ulps * size * 1.1920929e-07f;
}

inline Matrix Identity() {
    Matrix m{};
    for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
    return m;
}

// a x b in double, for reference.
inline Matrix ReferenceProduct(const Matrix& a, const Matrix& b) {
    Matrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += double(a.m[i][k]) * b.m[k][j];
            r.m[i][j] = static_cast<float>(s);
        }
    return r;
}

inline void ExpectMatrixNear(const Matrix& actual, const Matrix& expected, float tolerance) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(actual.m[i][j], expected.m[i][j], tolerance)
                << "element m" << i + 1 << j + 1;
}

}  // namespace math_test
