// What the operations compute, through the public interface (whatever set
// this processor gets) and, where a threshold is exact, the portable set.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "geometry/geometry.h"
#include "geometry/math_dispatch.h"
#include "math_test_support.h"

using namespace math_test;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

TEST(MatrixProduct, MatchesReferenceAndAllowsAliasing) {
    Random random(1);
    for (int round = 0; round < 50; ++round) {
        Matrix a = random.Mat(), b = random.Mat();
        Matrix out;
        ExpectMatrixNear(*MultiplyMatrices(&out, &a, &b), ReferenceProduct(a, b), 1e-5f);

        Matrix square = a;
        MultiplyMatrices(&square, &square, &square);
        ExpectMatrixNear(square, ReferenceProduct(a, a), 1e-5f);

        Matrix left = a;  // (m, m, n)
        MultiplyMatrices(&left, &left, &b);
        ExpectMatrixNear(left, ReferenceProduct(a, b), 1e-5f);
        Matrix right = b;  // (m, n, m)
        MultiplyMatrices(&right, &a, &right);
        ExpectMatrixNear(right, ReferenceProduct(a, b), 1e-5f);

        Matrix transposed;
        MultiplyMatricesTransposed(&transposed, &a, &b);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) EXPECT_EQ(transposed.m[j][i], out.m[i][j]);
    }
}

TEST(MatrixBuilders, WriteEveryElement) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Matrix m;
    auto poison = [&] {
        for (auto& row : m.m)
            for (float& e : row) e = nan;
    };
    poison();
    BuildScalingMatrix(&m, 2, 3, 4);
    ExpectMatrixNear(m, Matrix{{{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {0, 0, 0, 1}}}, 0);
    poison();
    BuildTranslationMatrix(&m, 5, 6, 7);
    ExpectMatrixNear(m, Matrix{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {5, 6, 7, 1}}}, 0);

    const float angle = 0.3f, s = std::sin(angle), c = std::cos(angle);
    poison();
    BuildRotationXMatrix(&m, angle);
    ExpectMatrixNear(m, Matrix{{{1, 0, 0, 0}, {0, c, s, 0}, {0, -s, c, 0}, {0, 0, 0, 1}}}, 1e-7f);
    poison();
    BuildRotationYMatrix(&m, angle);
    ExpectMatrixNear(m, Matrix{{{c, 0, -s, 0}, {0, 1, 0, 0}, {s, 0, c, 0}, {0, 0, 0, 1}}}, 1e-7f);
    poison();
    BuildRotationZMatrix(&m, angle);
    ExpectMatrixNear(m, Matrix{{{c, s, 0, 0}, {-s, c, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}, 1e-7f);

    // Row vectors on the left: a quarter turn about z takes +x to +y, and a
    // scaling followed by a translation moves the scaled point.
    Vector3 x{1, 0, 0}, turned;
    BuildRotationZMatrix(&m, kPi / 2);
    TransformNormal3(&turned, &x, &m);
    EXPECT_NEAR(turned.x, 0, 1e-7f);
    EXPECT_NEAR(turned.y, 1, 1e-7f);
    Matrix scale, move, both;
    BuildScalingMatrix(&scale, 2, 2, 2);
    BuildTranslationMatrix(&move, 1, 0, 0);
    MultiplyMatrices(&both, &scale, &move);
    Vector3 moved;
    TransformPoint3(&moved, &x, &both);
    EXPECT_EQ(moved.x, 3.0f);
}

// The portable thresholds hold in every set but the x87 one (which has its
// own, tested with the variants).
std::vector<Vector3* (*)(Vector3*, const Vector3*)> PortableThresholdForms() {
    std::vector<Vector3* (*)(Vector3*, const Vector3*)> forms = {
        PortableMathVariants().NormalizeVector3};
    MathDispatchTable sse = PortableMathVariants(), sse2 = PortableMathVariants();
    if (InstallSseMathVariants(&sse)) forms.push_back(sse.NormalizeVector3);
    if (InstallSse2MathVariants(&sse2)) forms.push_back(sse2.NormalizeVector3);
    return forms;
}

TEST(NormalizeVector3, ThresholdsOfThePortableForm) {
    for (auto normalize : PortableThresholdForms()) {
        Vector3 out{9, 9, 9};
        Vector3 zero{0, 0, 0};
        normalize(&out, &zero);
        EXPECT_EQ(out.x, 0.0f);
        EXPECT_EQ(out.y, 0.0f);
        EXPECT_EQ(out.z, 0.0f);

        // 1 - 2^-24 squares to 1 - 2^-23: on the edge, kept bit for bit.
        Vector3 edge{1.0f - 0x1p-24f, 0, 0};
        normalize(&out, &edge);
        EXPECT_EQ(Bits(out.x), Bits(edge.x));
        // 1 - 2^-23 squares to 1 - 2^-22: normalised.
        Vector3 beyond{1.0f - 0x1p-23f, 0, 0};
        normalize(&out, &beyond);
        EXPECT_NE(Bits(out.x), Bits(beyond.x));
        EXPECT_NEAR(out.x, 1.0f, 1.2e-7f);

        // Vectors of almost unit length come back untouched.
        Random random(7);
        int kept = 0;
        for (int i = 0; i < 2000; ++i) {
            Vector3 v = random.Vec3(1.0f);
            float r = 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
            v = {v.x * r, v.y * r, v.z * r};
            float l = (v.x * v.x + v.y * v.y) + v.z * v.z;
            if (std::fabs(l - 1.0f) > 0x1p-23f || l == 1.0f) continue;
            normalize(&out, &v);
            EXPECT_EQ(Bits(out.x), Bits(v.x));
            EXPECT_EQ(Bits(out.y), Bits(v.y));
            EXPECT_EQ(Bits(out.z), Bits(v.z));
            ++kept;
        }
        EXPECT_GT(kept, 100);

        // A squared length at or below the smallest normal float is zero;
        // just above it the vector is scaled, in place.
        Vector3 tiny{1e-20f, 0, 0};
        normalize(&out, &tiny);
        EXPECT_EQ(out.x, 0.0f);
        Vector3 small{1.1e-19f, 0, 0};
        normalize(&small, &small);
        EXPECT_NEAR(small.x, 1.0f, 1e-6f);
        Vector3 v{3, 4, 12};
        normalize(&v, &v);
        EXPECT_NEAR(v.x, 3.0f / 13, 1e-7f);
        EXPECT_NEAR(v.z, 12.0f / 13, 1e-7f);
    }
}

TEST(TransformPoint3, DividesByWUnlessItIsOne) {
    Matrix m = Identity();
    m.m[3][3] = 1.0f + 0x1p-23f;  // within tolerance: no division at all
    Vector3 v{3, 5, 7}, out;
    TransformPoint3(&out, &v, &m);
    EXPECT_EQ(out.x, 3.0f);
    EXPECT_EQ(out.z, 7.0f);
    m.m[3][3] = 2.0f;
    m.m[3][0] = 1.0f;
    TransformPoint3(&v, &v, &m);  // in place
    EXPECT_EQ(v.x, 2.0f);
    EXPECT_EQ(v.y, 2.5f);
    EXPECT_EQ(v.z, 3.5f);

    Vector3 n{1, 2, 3};
    TransformNormal3(&n, &n, &m);  // translation and w play no part
    EXPECT_EQ(n.x, 1.0f);
    EXPECT_EQ(n.z, 3.0f);
}

TEST(LookAt, BuildsTheViewAndDegeneratesToZeroAxes) {
    Vector3 eye{1, 2, -5}, at{1, 2, 0}, up{0, 1, 0};
    Matrix view;
    BuildLookAtMatrixLeftHanded(&view, &eye, &at, &up);
    // (Within the x87 set's table square root, which a build without vector
    // code or a processor without SSE uses.)
    ExpectMatrixNear(view, Matrix{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {-1, -2, 5, 1}}},
                     2e-5f);
    Vector3 seen;
    TransformPoint3(&seen, &at, &view);
    EXPECT_NEAR(seen.z, 5.0f, 2e-5f);  // straight ahead, +z into the screen

    // at == eye: every axis is zero.
    BuildLookAtMatrixLeftHanded(&view, &eye, &eye, &up);
    ExpectMatrixNear(view, Matrix{{{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 1}}}, 0);

    // up along the view: x and y vanish, z remains.
    Vector3 above{1, 7, -5};
    BuildLookAtMatrixLeftHanded(&view, &eye, &above, &up);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(view.m[r][0], 0.0f);
        EXPECT_EQ(view.m[r][1], 0.0f);
    }
    EXPECT_NEAR(view.m[1][2], 1.0f, 2e-6f);
    EXPECT_EQ(view.m[3][0], 0.0f);
    EXPECT_NEAR(view.m[3][2], -2.0f, 4e-6f);
}

TEST(Perspective, MapsNearToZeroAndFarToOne) {
    Matrix p;
    BuildPerspectiveMatrixLeftHanded(&p, kPi / 2, 4.0f / 3.0f, 0.5f, 100.0f);
    EXPECT_EQ(p.m[3][3], 0.0f);
    EXPECT_EQ(p.m[2][3], 1.0f);
    EXPECT_NEAR(p.m[1][1], 1.0f, 1e-6f);
    EXPECT_NEAR(p.m[0][0], 0.75f, 1e-6f);
    Vector3 nearPoint{0, 0, 0.5f}, farPoint{0, 0, 100.0f}, out;
    TransformPoint3(&out, &nearPoint, &p);
    EXPECT_NEAR(out.z, 0.0f, 1e-6f);
    TransformPoint3(&out, &farPoint, &p);
    EXPECT_NEAR(out.z, 1.0f, 1e-6f);
}

TEST(MatrixInverse, InvertsAndRefusesSingularMatrices) {
    Random random(3);
    for (int i = 0; i < 50; ++i) {
        Matrix m = random.Mat(), inverse, product;
        float det = 0;
        ASSERT_EQ(InvertMatrix(&inverse, &det, &m), &inverse);
        EXPECT_NEAR(det, ComputeDeterminant(&m), 1e-4f * std::max(1.0f, std::fabs(det)));
        MultiplyMatrices(&product, &m, &inverse);
        ExpectMatrixNear(product, Identity(), 2e-3f);
    }
    Matrix singular{{{1, 2, 3, 4}, {2, 4, 6, 8}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
    Matrix out = Identity();
    float det = 9;
    EXPECT_EQ(InvertMatrix(&out, &det, &singular), nullptr);
    EXPECT_EQ(det, 0.0f);
    ExpectMatrixNear(out, Identity(), 0);  // untouched
    Matrix t;
    TransposeMatrix(&t, &singular);
    EXPECT_EQ(t.m[0][1], 2.0f);
    EXPECT_EQ(t.m[3][0], 4.0f);
}

TEST(Quaternions, AgreeWithTheMatrices) {
    Random random(5);
    for (int i = 0; i < 30; ++i) {
        Vector3 axis1 = random.Vec3(1), axis2 = random.Vec3(1);
        float angle1 = random.Uniform(-3, 3), angle2 = random.Uniform(-3, 3);
        Quaternion q1, q2, q12;
        QuaternionFromAxisAndAngle(&q1, &axis1, angle1);
        QuaternionFromAxisAndAngle(&q2, &axis2, angle2);
        Matrix m1, m2, expected, actual;
        BuildMatrixFromQuaternion(&m1, &q1);
        BuildAxisRotationMatrix(&expected, &axis1, angle1);
        ExpectMatrixNear(m1, expected, 1e-5f);
        // The product rotates by q1 first, like the matrix product.
        BuildMatrixFromQuaternion(&m2, &q2);
        MultiplyQuaternions(&q12, &q1, &q2);
        BuildMatrixFromQuaternion(&actual, &q12);
        MultiplyMatrices(&expected, &m1, &m2);
        ExpectMatrixNear(actual, expected, 1e-5f);
        // Back from the matrix, up to sign.
        Quaternion back;
        QuaternionFromMatrix(&back, &m1);
        float sign = (back.w * q1.w + back.x * q1.x) < 0 ? -1.0f : 1.0f;
        EXPECT_NEAR(sign * back.x, q1.x, 1e-4f);
        EXPECT_NEAR(sign * back.w, q1.w, 1e-4f);
        // q x q^-1 is the identity rotation.
        Quaternion inverse, one;
        InvertQuaternion(&inverse, &q1);
        MultiplyQuaternions(&one, &q1, &inverse);
        EXPECT_NEAR(one.w, 1.0f, 1e-6f);
        // exp(ln q) = q.
        Quaternion logarithm, again;
        QuaternionLogarithm(&logarithm, &q1);
        QuaternionExponential(&again, &logarithm);
        EXPECT_NEAR(again.x, q1.x, 1e-5f);
        EXPECT_NEAR(again.w, q1.w, 1e-5f);
    }
    const float yaw = 0.4f, pitch = -0.7f, roll = 1.1f;
    Quaternion q;
    Matrix fromQuaternion, direct;
    QuaternionFromYawPitchRoll(&q, yaw, pitch, roll);
    BuildMatrixFromQuaternion(&fromQuaternion, &q);
    BuildYawPitchRollMatrix(&direct, yaw, pitch, roll);
    ExpectMatrixNear(fromQuaternion, direct, 1e-6f);
    Matrix x, y, z, zx, expected;
    BuildRotationZMatrix(&z, roll);
    BuildRotationXMatrix(&x, pitch);
    BuildRotationYMatrix(&y, yaw);
    MultiplyMatrices(&zx, &z, &x);
    MultiplyMatrices(&expected, &zx, &y);
    ExpectMatrixNear(direct, expected, 1e-6f);
    Vector3 axis;
    float angle;
    Quaternion half;
    Vector3 zAxis{0, 0, 2};
    QuaternionFromAxisAndAngle(&half, &zAxis, 1.5f);
    QuaternionToAxisAndAngle(&axis, &angle, &half);
    EXPECT_NEAR(angle, 1.5f, 1e-6f);
    EXPECT_NEAR(axis.z, std::sin(0.75f), 1e-6f);
}

TEST(Quaternions, InterpolateAlongTheShorterArc) {
    Vector3 zAxis{0, 0, 1};
    Quaternion a, b, out;
    QuaternionFromAxisAndAngle(&a, &zAxis, 0.2f);
    QuaternionFromAxisAndAngle(&b, &zAxis, 1.0f);
    SlerpQuaternions(&out, &a, &b, 0.5f);
    Vector3 axis;
    float angle;
    QuaternionToAxisAndAngle(&axis, &angle, &out);
    EXPECT_NEAR(angle, 0.6f, 1e-5f);
    Quaternion negated{-b.x, -b.y, -b.z, -b.w};  // the same rotation
    SlerpQuaternions(&out, &a, &negated, 0.5f);
    QuaternionToAxisAndAngle(&axis, &angle, &out);
    EXPECT_NEAR(angle, 0.6f, 1e-5f);
    SlerpQuaternions(&out, &a, &a, 0.3f);  // identical ends
    EXPECT_NEAR(out.w, a.w, 1e-6f);

    Quaternion c, qa, qb, qc;
    QuaternionFromAxisAndAngle(&c, &zAxis, 1.4f);
    Quaternion before;
    QuaternionFromAxisAndAngle(&before, &zAxis, -0.3f);
    PrepareSquadControlPoints(&qa, &qb, &qc, &before, &a, &b, &c);
    SquadQuaternions(&out, &a, &qa, &qb, &qc, 0.0f);
    EXPECT_NEAR(out.w, a.w, 1e-5f);
    SquadQuaternions(&out, &a, &qa, &qb, &qc, 1.0f);
    EXPECT_NEAR(out.w, b.w, 1e-5f);
    EXPECT_NEAR(out.z, b.z, 1e-5f);
    BarycentricQuaternion(&out, &a, &b, &c, 0.0f, 1.0f);
    EXPECT_NEAR(out.z, c.z, 1e-5f);
}

TEST(Planes, FromPointsIntersectionsReflectionsAndShadows) {
    Vector3 p1{0, 2, 0}, p2{0, 2, 1}, p3{1, 2, 0};
    Plane plane;
    PlaneFromThreePoints(&plane, &p1, &p2, &p3);  // y = 2, normal (b-a) x (c-a) = +y
    EXPECT_NEAR(plane.b, 1.0f, 1e-7f);
    EXPECT_NEAR(plane.d, -2.0f, 1e-6f);
    Vector3 a{5, 7, 1}, b{5, -3, 1}, hit;
    ASSERT_EQ(IntersectPlaneWithLine(&hit, &plane, &a, &b), &hit);
    EXPECT_NEAR(hit.y, 2.0f, 1e-6f);
    EXPECT_NEAR(hit.x, 5.0f, 1e-6f);
    Vector3 flat{9, 7, 1};
    hit = {1, 1, 1};
    EXPECT_EQ(IntersectPlaneWithLine(&hit, &plane, &a, &flat), nullptr);
    EXPECT_EQ(hit.x, 1.0f);

    Plane scaled{0, 4, 0, -8}, normalised;
    NormalizePlane(&normalised, &scaled);
    EXPECT_EQ(normalised.b, 1.0f);
    EXPECT_EQ(normalised.d, -2.0f);
    Matrix mirror;
    BuildReflectionMatrix(&mirror, &scaled);
    Vector3 above{1, 5, 1}, mirrored;
    TransformPoint3(&mirrored, &above, &mirror);
    EXPECT_NEAR(mirrored.y, -1.0f, 1e-6f);
    Vector4 light{0, 10, 0, 1};
    Matrix shadow;
    BuildShadowMatrix(&shadow, &light, &scaled);
    Vector3 object{3, 6, 0}, onFloor;
    TransformPoint3(&onFloor, &object, &shadow);
    EXPECT_NEAR(onFloor.y, 2.0f, 1e-5f);
    EXPECT_NEAR(onFloor.x, 3.0f * 8.0f / 4.0f, 1e-5f);  // along the ray from the light

    Vector3 point{1, 2, 3}, normal{0, 0, 1};
    PlaneFromPointAndNormal(&plane, &point, &normal);
    EXPECT_EQ(plane.d, -3.0f);
    Matrix move;
    BuildTranslationMatrix(&move, 0, 0, 4);
    Matrix inverse, inverseTranspose;
    InvertMatrix(&inverse, nullptr, &move);
    TransposeMatrix(&inverseTranspose, &inverse);
    TransformPlane(&plane, &plane, &inverseTranspose);
    EXPECT_EQ(plane.d, -7.0f);  // z = 3 moved to z = 7
}

TEST(Viewport, ProjectsAndUnprojects) {
    Viewport viewport{10, 20, 640, 480, 0.0f, 1.0f};
    Matrix projection, view;
    BuildPerspectiveMatrixLeftHanded(&projection, 1.0f, 640.0f / 480.0f, 1.0f, 50.0f);
    Vector3 eye{0, 3, -10}, at{0, 0, 0}, up{0, 1, 0};
    BuildLookAtMatrixLeftHanded(&view, &eye, &at, &up);
    Matrix world;
    BuildRotationYMatrix(&world, 0.5f);
    Vector3 centre, onScreen, back;
    ProjectToViewport(&centre, &at, &viewport, &projection, &view, nullptr);
    EXPECT_NEAR(centre.x, 330.0f, 1e-3f);
    EXPECT_NEAR(centre.y, 260.0f, 1e-3f);
    Vector3 p{1, 2, 3};
    ProjectToViewport(&onScreen, &p, &viewport, &projection, &view, &world);
    ASSERT_NE(UnprojectFromViewport(&back, &onScreen, &viewport, &projection, &view, &world),
              nullptr);
    EXPECT_NEAR(back.x, 1.0f, 1e-3f);
    EXPECT_NEAR(back.z, 3.0f, 1e-3f);
    Vector3 points[3] = {p, at, eye}, projected[3], again[3];
    ProjectToViewportArray(projected, sizeof(Vector3), points, sizeof(Vector3), &viewport,
                           &projection, &view, &world, 2);
    EXPECT_EQ(projected[0].x, onScreen.x);
    UnprojectFromViewportArray(again, sizeof(Vector3), projected, sizeof(Vector3), &viewport,
                               &projection, &view, &world, 2);
    EXPECT_NEAR(again[0].y, 2.0f, 1e-3f);
    Matrix zero{};
    EXPECT_EQ(UnprojectFromViewport(&back, &onScreen, &viewport, &zero, nullptr, nullptr), nullptr);
}

TEST(Curves, PassThroughTheirKeys) {
    Vector3 p0{0, 0, 0}, p1{1, 2, 3}, p2{4, 5, 6}, p3{9, 9, 9}, out;
    CatmullRomVector3(&out, &p0, &p1, &p2, &p3, 0.0f);
    EXPECT_EQ(out.y, 2.0f);
    CatmullRomVector3(&out, &p0, &p1, &p2, &p3, 1.0f);
    EXPECT_EQ(out.y, 5.0f);
    Vector3 t1{1, 0, 0}, t2{0, 1, 0};
    HermiteVector3(&out, &p1, &t1, &p2, &t2, 1.0f);
    EXPECT_EQ(out.z, 6.0f);
    HermiteVector3(&out, &p1, &t1, &p2, &t2, 0.5f);
    EXPECT_NEAR(out.x, 0.5f * (1 + 4) + 0.125f * 1, 1e-6f);
    BarycentricVector3(&out, &p0, &p1, &p2, 0.25f, 0.5f);
    EXPECT_NEAR(out.y, 0.25f * 2 + 0.5f * 5, 1e-6f);
    Vector2 a{0, 0}, b{2, 0}, c{0, 2}, o2;
    BarycentricVector2(&o2, &a, &b, &c, 0.5f, 0.5f);
    EXPECT_EQ(o2.x, 1.0f);
    EXPECT_EQ(o2.y, 1.0f);
    Vector4 x{1, 0, 0, 0}, y{0, 1, 0, 0}, z{0, 0, 1, 0}, w;
    CrossVector4(&w, &x, &y, &z);
    EXPECT_EQ(w.x, 0.0f);
    EXPECT_EQ(std::fabs(w.w), 1.0f);
    Random random(11);
    Vector4 u = random.Vec4(1), v = random.Vec4(1), s = random.Vec4(1), cross;
    CrossVector4(&cross, &u, &v, &s);
    for (const Vector4& e : {u, v, s})
        EXPECT_NEAR(cross.x * e.x + cross.y * e.y + cross.z * e.z + cross.w * e.w, 0.0f, 1e-5f);
}

TEST(CompositeTransforms, EqualTheProductOfTheirParts) {
    Vector3 scalingCenter{1, 2, 3}, scaling{2, 3, 4}, rotationCenter{-1, 0, 1},
        translation{5, 6, 7};
    Vector3 axis{1, 1, 0};
    Quaternion rotation, scalingRotation;
    QuaternionFromAxisAndAngle(&rotation, &axis, 0.7f);
    QuaternionFromAxisAndAngle(&scalingRotation, &axis, -0.2f);
    Matrix built;
    BuildTransformationMatrix(&built, &scalingCenter, &scalingRotation, &scaling, &rotationCenter,
                              &rotation, &translation);
    Vector3 p{0.5f, -1.0f, 2.0f}, viaMatrix, expected;
    TransformPoint3(&viaMatrix, &p, &built);
    // By hand: into the scaling frame, scale, back; rotate about the centre.
    Matrix frame, step;
    BuildMatrixFromQuaternion(&frame, &scalingRotation);
    Vector3 q{p.x - 1, p.y - 2, p.z - 3};
    TransformNormal3(&q, &q, TransposeMatrix(&step, &frame));
    q = {q.x * 2, q.y * 3, q.z * 4};
    TransformNormal3(&q, &q, &frame);
    q = {q.x + 1 + 1, q.y + 2, q.z + 3 - 1};
    BuildMatrixFromQuaternion(&step, &rotation);
    TransformNormal3(&q, &q, &step);
    expected = {q.x - 1 + 5, q.y + 6, q.z + 1 + 7};
    EXPECT_NEAR(viaMatrix.x, expected.x, 1e-4f);
    EXPECT_NEAR(viaMatrix.y, expected.y, 1e-4f);
    EXPECT_NEAR(viaMatrix.z, expected.z, 1e-4f);

    // Nulls are identities.
    BuildTransformationMatrix(&built, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ExpectMatrixNear(built, Identity(), 0);
    BuildAffineTransformationMatrix(&built, 2.0f, nullptr, nullptr, &translation);
    TransformPoint3(&viaMatrix, &p, &built);
    EXPECT_EQ(viaMatrix.x, 6.0f);

    Vector2 centre{1, 0}, move{0, 3};
    BuildAffineTransformationMatrix2D(&built, 2.0f, &centre, kPi / 2, &move);
    Vector3 point{1, 0, 5};  // scaled to (2, 0), turned about (1, 0) to (1, 1), moved to (1, 4)
    TransformPoint3(&viaMatrix, &point, &built);
    EXPECT_NEAR(viaMatrix.x, 1.0f, 1e-6f);
    EXPECT_NEAR(viaMatrix.y, 4.0f, 1e-6f);
    EXPECT_EQ(viaMatrix.z, 5.0f);
    Vector2 scale2{2, 1};
    BuildTransformationMatrix2D(&built, nullptr, 0.0f, &scale2, nullptr, 0.0f, nullptr);
    TransformPoint3(&viaMatrix, &point, &built);
    EXPECT_NEAR(viaMatrix.x, 2.0f, 1e-6f);
    EXPECT_EQ(viaMatrix.z, 5.0f);
}

TEST(Blending, MixesTheMatricesByWeight) {
    Matrix matrices[2];
    BuildTranslationMatrix(&matrices[0], 4, 0, 0);
    BuildTranslationMatrix(&matrices[1], 0, 8, 0);
    Vector3 in[2] = {{1, 1, 1}, {2, 2, 2}}, out[2];
    float weights[2] = {0.25f, 1.0f};
    BlendSkinnedVertices(out, sizeof(Vector3), in, sizeof(Vector3), weights, sizeof(float),
                         matrices, 2, 2);
    EXPECT_EQ(out[0].x, 1 + 0.25f * 4);
    EXPECT_EQ(out[0].y, 1 + 0.75f * 8);
    EXPECT_EQ(out[1].x, 6.0f);
    EXPECT_EQ(out[1].y, 2.0f);
}

TEST(NPatches, FlatTrianglesStayFlatAndKeepTheirCorners) {
    Vector3 corners[3] = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}};
    Vector3 normals[3] = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    Vector3 positions[15], outNormals[15];
    TessellateNPatches(positions, outNormals, corners, normals, 4);
    EXPECT_EQ(positions[0].x, 0.0f);
    EXPECT_NEAR(positions[10].x, 4.0f, 1e-6f);  // row 4 starts at corner 2
    EXPECT_NEAR(positions[14].y, 4.0f, 1e-6f);  // and ends at corner 3
    for (int i = 0; i < 15; ++i) {
        EXPECT_NEAR(positions[i].z, 0.0f, 1e-6f);
        EXPECT_NEAR(outNormals[i].z, 1.0f, 1e-6f);
    }
    EXPECT_NEAR(positions[4].x, 1.0f, 1e-6f);  // row 2, middle: (1, 1)
    EXPECT_NEAR(positions[4].y, 1.0f, 1e-6f);

    // Normals leaning outwards bulge the middle of the patch towards them.
    Vector3 bent[3] = {{-1, -1, 1}, {1, 0, 1}, {0, 1, 1}};
    for (Vector3& n : bent) NormalizeVector3(&n, &n);
    TessellateNPatches(positions, nullptr, corners, bent, 4);
    EXPECT_GT(positions[4].z, 0.0f);
    Vector3 single;
    TessellateNPatches(&single, nullptr, corners, normals, 0);
    EXPECT_EQ(single.x, 0.0f);
}

}  // namespace
