// 16-bit floating point: every half both ways, and rounding against a
// reference that picks the nearest half by search.
#include "geometry/math_half.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "geometry/math.h"
#include "math_test_support.h"

using namespace math_test;

namespace {

// The value of a half from its fields, in double.
double DecodeByFormula(unsigned h) {
    int exponent = (h >> 10) & 0x1F;
    int mantissa = h & 0x3FF;
    double sign = (h & 0x8000) ? -1.0 : 1.0;
    if (exponent == 31)
        return mantissa ? std::numeric_limits<double>::quiet_NaN()
                        : sign * std::numeric_limits<double>::infinity();
    if (exponent == 0) return sign * std::ldexp(mantissa, -24);
    return sign * std::ldexp(1024 + mantissa, exponent - 25);
}

TEST(Half, EveryHalfDecodesExactlyAndRoundTrips) {
    for (unsigned h = 0; h < 65536; ++h) {
        float f = HalfToFloat(static_cast<Float16>(h));
        double expected = DecodeByFormula(h);
        if (std::isnan(expected)) {
            ASSERT_TRUE(std::isnan(f)) << std::hex << h;
            ASSERT_EQ(std::signbit(f), (h & 0x8000) != 0);
        } else {
            ASSERT_EQ(static_cast<double>(f), expected) << std::hex << h;
            ASSERT_EQ(std::signbit(f), (h & 0x8000) != 0) << std::hex << h;  // -0 included
        }
        ASSERT_EQ(FloatToHalf(f), h) << std::hex << h;  // NaN payloads too
    }
}

TEST(Half, RoundsToNearestWithTiesToEven) {
    struct Case {
        float value;
        Float16 half;
    };
    const Case cases[] = {
        {1.0f, 0x3C00},
        {1.0f + 0x1p-11f, 0x3C00},             // tie, down to even
        {1.0f + 3 * 0x1p-11f, 0x3C02},         // tie, up to even
        {1.0f + 0x1p-11f + 0x1p-20f, 0x3C01},  // just past the tie
        {65504.0f, 0x7BFF},
        {65519.99f, 0x7BFF},
        {65520.0f, 0x7C00},  // tie between the largest half and 65536: infinity
        {1e10f, 0x7C00},
        {-1e10f, 0xFC00},
        {0x1p-24f, 0x0001},  // smallest denormal
        {0x1p-25f, 0x0000},  // tie with zero: even
        {0x1p-25f + 0x1p-40f, 0x0001},
        {3 * 0x1p-25f, 0x0002},         // tie between 1 and 2 units: even
        {5 * 0x1p-25f, 0x0002},         // tie between 2 and 3 units: even
        {0x1p-14f - 0x1p-25f, 0x0400},  // tie at the top of the denormals: to the smallest normal
        {0x1p-14f, 0x0400},
        {1e-30f, 0x0000},
        {-1e-30f, 0x8000},
        {0x1p-149f, 0x0000},  // float denormal
        {-0.0f, 0x8000},
        {std::numeric_limits<float>::infinity(), 0x7C00},
        {-std::numeric_limits<float>::infinity(), 0xFC00},
    };
    for (const Case& c : cases) EXPECT_EQ(FloatToHalf(c.value), c.half) << c.value;
    EXPECT_EQ(FloatToHalf(std::numeric_limits<float>::quiet_NaN()) & 0x7C00, 0x7C00);
    EXPECT_NE(FloatToHalf(std::numeric_limits<float>::quiet_NaN()) & 0x3FF, 0);
    // A NaN whose payload lies only in the bits a half drops stays a NaN.
    EXPECT_EQ(FloatToHalf(FromBits(0xFF800001u)), 0xFE00);
}

TEST(Half, MatchesTheNearestHalfOnRandomFloats) {
    // Every finite half value in order, to search for the nearest.
    std::vector<std::pair<double, Float16>> values;
    for (unsigned h = 0; h < 0x7C00; ++h) {
        values.push_back({DecodeByFormula(h), static_cast<Float16>(h)});
        values.push_back({-DecodeByFormula(h), static_cast<Float16>(h | 0x8000)});
    }
    std::sort(values.begin(), values.end());
    Random random(31);
    std::uniform_int_distribution<std::uint32_t> exponents(95, 145), mantissas(0, 0x7FFFFF);
    for (int i = 0; i < 300000; ++i) {
        std::uint32_t bits = (exponents(random.Engine()) << 23) | mantissas(random.Engine());
        if (i & 1) bits |= 0x80000000u;
        float f = FromBits(bits);
        double x = f;
        Float16 expected;
        if (std::fabs(x) >= 65520.0) {
            expected = x > 0 ? 0x7C00 : 0xFC00;
        } else {
            auto above =
                std::lower_bound(values.begin(), values.end(), std::make_pair(x, Float16(0)));
            if (above == values.begin()) {
                expected = above->second;  // beyond -65504, short of the tie
            } else if (above == values.end()) {
                expected = values.back().second;  // beyond 65504
            } else {
                auto below = above - 1;
                double up = above->first - x, down = x - below->first;
                if (up < down || (up == down && !(above->second & 1)))
                    expected = above->second;
                else
                    expected = below->second;
            }
            if ((expected & 0x7FFF) == 0)
                expected = std::signbit(f) ? 0x8000 : 0x0000;  // keeps the sign
        }
        ASSERT_EQ(FloatToHalf(f), expected) << f << " bits " << std::hex << bits;
    }
}

TEST(Half, ArraysConvertEveryElement) {
    std::vector<float> in = {1.0f, -2.5f, 65504.0f, 0x1p-24f, 1e9f, 0.0f};
    std::vector<Float16> halves(in.size() + 1, 0xAAAA);
    EXPECT_EQ(ConvertFloat32ToFloat16Array(halves.data(), in.data(), 6), halves.data());
    EXPECT_EQ(halves[1], 0xC100);
    EXPECT_EQ(halves[4], 0x7C00);
    EXPECT_EQ(halves[6], 0xAAAA);
    std::vector<float> back(7, 42.0f);
    ConvertFloat16ToFloat32Array(back.data(), halves.data(), 6);
    EXPECT_EQ(back[2], 65504.0f);
    EXPECT_EQ(back[3], 0x1p-24f);
    EXPECT_TRUE(std::isinf(back[4]));
    EXPECT_EQ(back[6], 42.0f);
}

}  // namespace
