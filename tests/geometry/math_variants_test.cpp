// Every variant set against the portable one on random inputs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geometry/math_dispatch.h"
#include "geometry/math_x87.h"
#include "math_test_support.h"

using namespace math_test;

namespace {

struct NamedSet {
    std::string name;
    MathDispatchTable table;
};

std::vector<NamedSet> VariantSets() {
    std::vector<NamedSet> sets;
    MathDispatchTable x87 = PortableMathVariants();
    InstallX87MathVariants(&x87);
    sets.push_back({"x87", x87});
    MathDispatchTable sse = x87;
    if (InstallSseMathVariants(&sse)) sets.push_back({"sse", sse});
    MathDispatchTable sse2 = x87;
    if (InstallSse2MathVariants(&sse2)) sets.push_back({"sse2", sse2});
    return sets;
}

const MathDispatchTable& Portable() {
    return PortableMathVariants();
}

// Magnitude of the terms summed for column j of (v0, v1, v2, v3) x m.
float Terms(const float v[4], const Matrix& m, int j) {
    float s = 0;
    for (int k = 0; k < 4; ++k) s += std::fabs(v[k] * m.m[k][j]);
    return s;
}

#define EXPECT_CLOSE(a, b, scale) EXPECT_PRED3(Close_, a, b, scale)
bool Close_(float a, float b, float scale) {
    return Close(a, b, scale);
}

TEST(Variants, MatrixProductsMatchThePortableSet) {
    Random random(21);
    for (const NamedSet& set : VariantSets()) {
        SCOPED_TRACE(set.name);
        for (int round = 0; round < 200; ++round) {
            Matrix a = random.Mat(), b = random.Mat(), expected, actual, transposed;
            Portable().MultiplyMatrices(&expected, &a, &b);
            ASSERT_EQ(set.table.MultiplyMatrices(&actual, &a, &b), &actual);
            set.table.MultiplyMatricesTransposed(&transposed, &a, &b);
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j) {
                    float scale = Terms(a.m[i], b, j);
                    EXPECT_CLOSE(actual.m[i][j], expected.m[i][j], scale);
                    EXPECT_CLOSE(transposed.m[j][i], expected.m[i][j], scale);
                }
            // Aliased operands.
            Matrix square = a;
            set.table.MultiplyMatrices(&square, &square, &square);
            Portable().MultiplyMatrices(&expected, &a, &a);
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j)
                    EXPECT_CLOSE(square.m[i][j], expected.m[i][j], Terms(a.m[i], a, j));
        }
    }
}

TEST(Variants, SingleTransformsMatchThePortableSet) {
    Random random(22);
    for (const NamedSet& set : VariantSets()) {
        SCOPED_TRACE(set.name);
        const MathDispatchTable& t = set.table;
        for (int round = 0; round < 300; ++round) {
            Matrix m = random.Mat();
            Vector4 v4 = random.Vec4();
            Vector3 v3{v4.x, v4.y, v4.z};
            Vector2 v2{v4.x, v4.y};
            const float as4[4] = {v4.x, v4.y, v4.z, v4.w}, as3[4] = {v4.x, v4.y, v4.z, 1},
                        as2[4] = {v4.x, v4.y, 0, 1};
            Vector4 e4, a4;
            Portable().TransformVector4(&e4, &v4, &m);
            t.TransformVector4(&a4, &v4, &m);
            EXPECT_CLOSE(a4.x, e4.x, Terms(as4, m, 0));
            EXPECT_CLOSE(a4.w, e4.w, Terms(as4, m, 3));
            Portable().TransformVector3(&e4, &v3, &m);
            t.TransformVector3(&a4, &v3, &m);
            EXPECT_CLOSE(a4.y, e4.y, Terms(as3, m, 1));
            EXPECT_CLOSE(a4.w, e4.w, Terms(as3, m, 3));
            Portable().TransformVector2(&e4, &v2, &m);
            t.TransformVector2(&a4, &v2, &m);
            EXPECT_CLOSE(a4.z, e4.z, Terms(as2, m, 2));

            Plane plane{v4.x, v4.y, v4.z, v4.w}, ep, ap;
            Portable().TransformPlane(&ep, &plane, &m);
            t.TransformPlane(&ap, &plane, &m);
            EXPECT_CLOSE(ap.c, ep.c, Terms(as4, m, 2));

            Vector3 e3, a3;
            Portable().TransformNormal3(&e3, &v3, &m);
            t.TransformNormal3(&a3, &v3, &m);
            const float n3[4] = {v4.x, v4.y, v4.z, 0};
            EXPECT_CLOSE(a3.x, e3.x, Terms(n3, m, 0));
            EXPECT_CLOSE(a3.z, e3.z, Terms(n3, m, 2));
            Vector2 e2, a2;
            Portable().TransformNormal2(&e2, &v2, &m);
            t.TransformNormal2(&a2, &v2, &m);
            const float n2[4] = {v4.x, v4.y, 0, 0};
            EXPECT_CLOSE(a2.y, e2.y, Terms(n2, m, 1));

            // Points: the division by w (at least 1 here) keeps the scale.
            Portable().TransformPoint3(&e3, &v3, &m);
            a3 = v3;
            t.TransformPoint3(&a3, &a3, &m);  // in place
            EXPECT_CLOSE(a3.x, e3.x, Terms(as3, m, 0) + std::fabs(e3.x) * Terms(as3, m, 3));
            EXPECT_CLOSE(a3.z, e3.z, Terms(as3, m, 2) + std::fabs(e3.z) * Terms(as3, m, 3));
            Portable().TransformPoint2(&e2, &v2, &m);
            t.TransformPoint2(&a2, &v2, &m);
            EXPECT_CLOSE(a2.x, e2.x, Terms(as2, m, 0) + std::fabs(e2.x) * Terms(as2, m, 3));
        }
        // w = 1 exactly and within 2^-23: no division in any set.
        Matrix affine = Identity();
        affine.m[3][3] = 1.0f - 0x1p-24f;
        Vector3 v{1.0f / 3.0f, 7.0f, -2.5f}, out;
        t.TransformPoint3(&out, &v, &affine);
        EXPECT_EQ(Bits(out.x), Bits(v.x));
    }
}

TEST(Variants, NormalizationMatchesWithinEachSetsOwnPrecision) {
    Random random(23);
    for (const NamedSet& set : VariantSets()) {
        SCOPED_TRACE(set.name);
        // The x87 form's table square root is good to about 1e-6.
        const float ulps = set.name == "x87" ? 12.0f : 4.0f;
        for (int round = 0; round < 2000; ++round) {
            Vector3 v = random.Vec3(random.Uniform(1e-3f, 1e3f)), e, a;
            Portable().NormalizeVector3(&e, &v);
            a = v;
            set.table.NormalizeVector3(&a, &a);
            EXPECT_TRUE(Close(a.x, e.x, 1.0f, ulps)) << a.x << " vs " << e.x;
            EXPECT_TRUE(Close(a.z, e.z, 1.0f, ulps)) << a.z << " vs " << e.z;
        }
        Vector3 zero{0, 0, 0}, out{1, 1, 1};
        set.table.NormalizeVector3(&out, &zero);
        EXPECT_EQ(out.x, 0.0f);
    }
}

TEST(Variants, X87NormalizationHasItsOwnThresholds) {
    MathDispatchTable x87 = Portable();
    InstallX87MathVariants(&x87);
    // Within 1e-5 of unit length: kept as is (the portable form would scale).
    Vector3 v{1.0f + 4e-6f, 0, 0}, out;
    x87.NormalizeVector3(&out, &v);
    EXPECT_EQ(out.x, v.x);
    Portable().NormalizeVector3(&out, &v);
    EXPECT_NE(out.x, v.x);
    // Only an exact zero becomes zero: a squared length below the smallest
    // normal float is still scaled (the portable form writes zero).
    Vector3 tiny{1e-20f, 0, 0};
    x87.NormalizeVector3(&out, &tiny);
    EXPECT_GT(out.x, 0.0f);
    Portable().NormalizeVector3(&out, &tiny);
    EXPECT_EQ(out.x, 0.0f);
    Vector3 small{1e-18f, 0, 0};
    x87.NormalizeVector3(&out, &small);
    EXPECT_NEAR(out.x, 1.0f, 1e-6f);
}

TEST(Variants, TableSquareRootFitsEverySegment) {
    // Walk every segment of both exponent parities at many points each.
    float worst = 0;
    for (float start : {0.5f, 1.0f, 64.0f, 1.0f / 1024.0f, 3e-38f, 1e37f}) {
        for (int i = 0; i < 20000; ++i) {
            float x = start * (1.0f + 3.0f * static_cast<float>(i) / 20000.0f);
            double exact = 1.0 / std::sqrt(static_cast<double>(x));
            double error = std::fabs(TableReciprocalSquareRoot(x) - exact) / exact;
            worst = std::max(worst, static_cast<float>(error));
        }
    }
    EXPECT_LT(worst, 1e-6f);
    EXPECT_EQ(TableReciprocalSquareRoot(4.0f), 0.5f * TableReciprocalSquareRoot(1.0f));
    EXPECT_NEAR(TableReciprocalSquareRoot(1.0f), 1.0f, 1e-6f);
}

// One array entry run on float buffers: (out, outStride, in, inStride, m,
// count) with the element types cast away.
using ArrayCall = void (*)(const MathDispatchTable&, float*, UINT, const float*, UINT,
                           const Matrix*, UINT);
template <auto Entry, typename Out, typename In>
void CallArray(const MathDispatchTable& t, float* out, UINT outStride, const float* in,
               UINT inStride, const Matrix* m, UINT count) {
    (t.*Entry)(reinterpret_cast<Out*>(out), outStride, reinterpret_cast<const In*>(in), inStride, m,
               count);
}

// The array forms against the portable ones, with packed and padded strides,
// lengths around the four- and eight-at-a-time steps, in place, and the
// padding between elements left alone.
TEST(Variants, ArrayTransformsMatchAndRespectStrides) {
    struct Form {
        const char* name;
        ArrayCall call;
        UINT outWidth, inWidth;  // floats per element
    };
    using T = MathDispatchTable;
    const Form forms[] = {
        {"Point3", &CallArray<&T::TransformPoint3Array, Vector3, Vector3>, 3, 3},
        {"Normal3", &CallArray<&T::TransformNormal3Array, Vector3, Vector3>, 3, 3},
        {"Point2", &CallArray<&T::TransformPoint2Array, Vector2, Vector2>, 2, 2},
        {"Normal2", &CallArray<&T::TransformNormal2Array, Vector2, Vector2>, 2, 2},
        {"Vector2", &CallArray<&T::TransformVector2Array, Vector4, Vector2>, 4, 2},
        {"Vector3", &CallArray<&T::TransformVector3Array, Vector4, Vector3>, 4, 3},
        {"Vector4", &CallArray<&T::TransformVector4Array, Vector4, Vector4>, 4, 4},
        {"Plane", &CallArray<&T::TransformPlaneArray, Plane, Plane>, 4, 4},
    };
    Random random(24);
    const float guard = -12345.0f;
    const float scale = 120.0f;  // |v| <= 10, |m| <= 2, four terms, w >= ~1.6
    for (const NamedSet& set : VariantSets()) {
        for (const Form& form : forms) {
            for (UINT count : {0u, 1u, 3u, 4u, 5u, 8u, 12u, 33u}) {
                for (UINT pad : {0u, 4u, 8u}) {
                    SCOPED_TRACE(set.name + " " + form.name + " count " + std::to_string(count) +
                                 " pad " + std::to_string(pad));
                    const Matrix m = random.Mat();
                    const UINT outFloats = form.outWidth + pad / 4,
                               inFloats = form.inWidth + pad / 4;
                    std::vector<float> in(inFloats * count + 1),
                        expected(outFloats * count + 1, guard), actual(expected);
                    for (float& f : in) f = random.Uniform(-10, 10);
                    form.call(Portable(), expected.data(), 4 * outFloats, in.data(), 4 * inFloats,
                              &m, count);
                    form.call(set.table, actual.data(), 4 * outFloats, in.data(), 4 * inFloats, &m,
                              count);
                    for (size_t i = 0; i < actual.size(); ++i) {
                        if (i % outFloats >= form.outWidth || i / outFloats >= count)
                            ASSERT_EQ(actual[i], guard) << "wrote padding at " << i;
                        else
                            EXPECT_CLOSE(actual[i], expected[i], scale);
                    }
                    if (form.outWidth == form.inWidth && pad == 0) {  // in place
                        form.call(set.table, in.data(), 4 * inFloats, in.data(), 4 * inFloats, &m,
                                  count);
                        for (size_t i = 0; i < outFloats * count; ++i)
                            EXPECT_CLOSE(in[i], expected[i], scale);
                    }
                }
            }
        }
    }
}

TEST(Variants, HalfArraysMatchThePortableConversion) {
    std::vector<Float16> halves(65536 + 5);
    for (size_t i = 0; i < halves.size(); ++i) halves[i] = static_cast<Float16>(i * 7919u);
    for (const NamedSet& set : VariantSets()) {
        SCOPED_TRACE(set.name);
        for (UINT count : {0u, 1u, 7u, 8u, 9u, static_cast<UINT>(halves.size())}) {
            std::vector<float> expected(count + 1, 3.0f), actual(count + 1, 3.0f);
            Portable().ConvertFloat16ToFloat32Array(expected.data(), halves.data(), count);
            set.table.ConvertFloat16ToFloat32Array(actual.data(), halves.data(), count);
            for (UINT i = 0; i <= count; ++i) ASSERT_EQ(Bits(actual[i]), Bits(expected[i])) << i;
        }
        // In place: the halves in the first half of the float array.
        std::vector<float> buffer(64);
        auto* packed = reinterpret_cast<Float16*>(buffer.data());
        for (int i = 0; i < 64; ++i) packed[i] = static_cast<Float16>(0x3C00 + i);
        set.table.ConvertFloat16ToFloat32Array(buffer.data(), packed, 64);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(buffer[i], 1.0f + i / 1024.0f) << i;
    }
}

}  // namespace
