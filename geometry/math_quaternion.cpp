// The portable variants of the quaternion operations and of the matrix
// builders made from rotations.
//
// Quaternion products here follow the matrices: MultiplyQuaternions(q1, q2)
// rotates by q1 first, then by q2, which is the Hamilton product q2 q1.
// Inside, the curve formulas are written with the Hamilton product.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "geometry/math_dispatch.h"
#include "geometry/math_internal.h"

using namespace math_detail;

namespace {

// The Hamilton product p q.
inline Quaternion Hamilton(const Quaternion& p, const Quaternion& q) {
    return {p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y,
            p.w * q.y - p.x * q.z + p.y * q.w + p.z * q.x,
            p.w * q.z + p.x * q.y - p.y * q.x + p.z * q.w,
            p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z};
}

inline float Dot(const Quaternion& a, const Quaternion& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

inline Quaternion Negated(const Quaternion& q) {
    return {-q.x, -q.y, -q.z, -q.w};
}

inline Quaternion Sum(const Quaternion& a, const Quaternion& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w};
}

inline Quaternion Scaled(const Quaternion& q, float s) {
    return {q.x * s, q.y * s, q.z * s, q.w * s};
}

Quaternion Slerp(const Quaternion& a, const Quaternion& b, float t) {
    float cosine = Dot(a, b);
    Quaternion end = b;
    if (cosine < 0.0f) {  // the shorter way round
        cosine = -cosine;
        end = Negated(b);
    }
    float wa, wb;
    if (cosine > 1.0f - 1e-6f) {
        // Nearly the same rotation: the arc is a line to float precision.
        wa = 1.0f - t;
        wb = t;
    } else {
        float angle = std::acos(cosine);
        float r = 1.0f / std::sin(angle);
        wa = std::sin((1.0f - t) * angle) * r;
        wb = std::sin(t * angle) * r;
    }
    return Sum(Scaled(a, wa), Scaled(end, wb));
}

Quaternion Logarithm(const Quaternion& q) {
    float w = std::clamp(q.w, -1.0f, 1.0f);
    float angle = std::acos(w);
    float s = std::sin(angle);
    float k = std::fabs(s) > 1e-6f ? angle / s : 1.0f;
    return {q.x * k, q.y * k, q.z * k, 0.0f};
}

Quaternion Exponential(const Quaternion& q) {
    float angle = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    float s, c;
    SinCos(angle, &s, &c);
    float k = angle > 1e-6f ? s / angle : 1.0f;
    return {q.x * k, q.y * k, q.z * k, c};
}

Quaternion Conjugate(const Quaternion& q) {
    return {-q.x, -q.y, -q.z, q.w};
}

Quaternion Inverse(const Quaternion& q) {
    float n = Dot(q, q);
    float r = n > 0.0f ? 1.0f / n : 0.0f;
    return Scaled(Conjugate(q), r);
}

Matrix RotationOf(const Quaternion& q) {
    float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    return {{{1.0f - 2.0f * (yy + zz), 2.0f * (xy + wz), 2.0f * (xz - wy), 0.0f},
             {2.0f * (xy - wz), 1.0f - 2.0f * (xx + zz), 2.0f * (yz + wx), 0.0f},
             {2.0f * (xz + wy), 2.0f * (yz - wx), 1.0f - 2.0f * (xx + yy), 0.0f},
             {0.0f, 0.0f, 0.0f, 1.0f}}};
}

Matrix Translation(float x, float y, float z) {
    Matrix m;
    math_portable::BuildTranslationMatrix(&m, x, y, z);
    return m;
}

Matrix Product(const Matrix& a, const Matrix& b) {
    Matrix m;
    math_portable::MultiplyMatrices(&m, &a, &b);
    return m;
}

Quaternion AboutAxis(float x, float y, float z, float angle) {
    float s, c;
    SinCos(0.5f * angle, &s, &c);
    return {x * s, y * s, z * s, c};
}

}  // namespace

namespace math_portable {

Quaternion* MultiplyQuaternions(Quaternion* out, const Quaternion* q1, const Quaternion* q2) {
    *out = Hamilton(*q2, *q1);
    return out;
}

Quaternion* NormalizeQuaternion(Quaternion* out, const Quaternion* q) {
    static_assert(sizeof(Quaternion) == sizeof(Vector4));
    Vector4 v{q->x, q->y, q->z, q->w};
    math_portable::NormalizeVector4(&v, &v);
    *out = {v.x, v.y, v.z, v.w};
    return out;
}

Quaternion* InvertQuaternion(Quaternion* out, const Quaternion* q) {
    *out = Inverse(*q);
    return out;
}

void QuaternionToAxisAndAngle(Vector3* axis, float* angle, const Quaternion* q) {
    Quaternion t = *q;
    if (axis) *axis = {t.x, t.y, t.z};
    if (angle) *angle = 2.0f * std::acos(std::clamp(t.w, -1.0f, 1.0f));
}

Quaternion* QuaternionFromMatrix(Quaternion* out, const Matrix* matrix) {
    const float(*m)[4] = matrix->m;
    float trace = m[0][0] + m[1][1] + m[2][2];
    Quaternion q;
    if (trace > 0.0f) {
        float s = 2.0f * std::sqrt(trace + 1.0f);
        q = {(m[1][2] - m[2][1]) / s, (m[2][0] - m[0][2]) / s, (m[0][1] - m[1][0]) / s, 0.25f * s};
    } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
        float s = 2.0f * std::sqrt(std::max(0.0f, 1.0f + m[0][0] - m[1][1] - m[2][2]));
        q = {0.25f * s, (m[0][1] + m[1][0]) / s, (m[0][2] + m[2][0]) / s, (m[1][2] - m[2][1]) / s};
    } else if (m[1][1] >= m[2][2]) {
        float s = 2.0f * std::sqrt(std::max(0.0f, 1.0f + m[1][1] - m[0][0] - m[2][2]));
        q = {(m[0][1] + m[1][0]) / s, 0.25f * s, (m[1][2] + m[2][1]) / s, (m[2][0] - m[0][2]) / s};
    } else {
        float s = 2.0f * std::sqrt(std::max(0.0f, 1.0f + m[2][2] - m[0][0] - m[1][1]));
        q = {(m[0][2] + m[2][0]) / s, (m[1][2] + m[2][1]) / s, 0.25f * s, (m[0][1] - m[1][0]) / s};
    }
    *out = q;
    return out;
}

Quaternion* QuaternionFromYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll) {
    // Roll about z first, then pitch about x, then yaw about y.
    Quaternion r = AboutAxis(0, 0, 1, roll);
    Quaternion p = AboutAxis(1, 0, 0, pitch);
    Quaternion y = AboutAxis(0, 1, 0, yaw);
    *out = Hamilton(y, Hamilton(p, r));
    return out;
}

Quaternion* QuaternionFromAxisAndAngle(Quaternion* out, const Vector3* axis, float angle) {
    Vector3 a;
    math_portable::NormalizeVector3(&a, axis);
    *out = AboutAxis(a.x, a.y, a.z, angle);
    return out;
}

Quaternion* SlerpQuaternions(Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t) {
    *out = Slerp(*q1, *q2, t);
    return out;
}

Quaternion* BarycentricQuaternion(Quaternion* out, const Quaternion* q1, const Quaternion* q2,
                                  const Quaternion* q3, float f, float g) {
    float sum = f + g;
    if (std::fabs(sum) <= 1e-6f) {
        *out = *q1;
        return out;
    }
    *out = Slerp(Slerp(*q1, *q2, sum), Slerp(*q1, *q3, sum), g / sum);
    return out;
}

Quaternion* SquadQuaternions(Quaternion* out, const Quaternion* q1, const Quaternion* a,
                             const Quaternion* b, const Quaternion* c, float t) {
    *out = Slerp(Slerp(*q1, *c, t), Slerp(*a, *b, t), 2.0f * t * (1.0f - t));
    return out;
}

void PrepareSquadControlPoints(Quaternion* outA, Quaternion* outB, Quaternion* outC,
                               const Quaternion* q0, const Quaternion* q1, const Quaternion* q2,
                               const Quaternion* q3) {
    // Bring the neighbours onto q1's side of the sphere, then place the
    // inner control points so the curve's tangents match across keys.
    Quaternion p0 = *q0, p1 = *q1, p2 = *q2, p3 = *q3;
    auto nearer = [](const Quaternion& from, const Quaternion& q) {
        Quaternion plus = Sum(from, q), minus = Sum(from, Negated(q));
        return Dot(plus, plus) < Dot(minus, minus) ? Negated(q) : q;
    };
    p0 = nearer(p1, p0);
    p2 = nearer(p1, p2);
    p3 = nearer(p2, p3);
    auto control = [](const Quaternion& before, const Quaternion& at, const Quaternion& after) {
        Quaternion inverse = Inverse(at);
        Quaternion la = Logarithm(Hamilton(inverse, after));
        Quaternion lb = Logarithm(Hamilton(inverse, before));
        Quaternion e = Exponential(Scaled(Sum(la, lb), -0.25f));
        return Hamilton(at, e);
    };
    Quaternion a = control(p0, p1, p2);
    Quaternion b = control(p1, p2, p3);
    if (outA) *outA = a;
    if (outB) *outB = b;
    if (outC) *outC = p2;
}

Quaternion* QuaternionLogarithm(Quaternion* out, const Quaternion* q) {
    *out = Logarithm(*q);
    return out;
}

Quaternion* QuaternionExponential(Quaternion* out, const Quaternion* q) {
    *out = Exponential(*q);
    return out;
}

Matrix* BuildMatrixFromQuaternion(Matrix* out, const Quaternion* q) {
    *out = RotationOf(*q);
    return out;
}

Matrix* BuildTransformationMatrix(Matrix* out, const Vector3* scalingCenter,
                                  const Quaternion* scalingRotation, const Vector3* scaling,
                                  const Vector3* rotationCenter, const Quaternion* rotation,
                                  const Vector3* translation) {
    Matrix m;
    SetIdentity(&m);
    Vector3 sc = scalingCenter ? *scalingCenter : Vector3{0, 0, 0};
    if (scaling) {
        Matrix frame, frameInverse, s;
        SetIdentity(&frame);
        SetIdentity(&frameInverse);
        if (scalingRotation) {
            frame = RotationOf(*scalingRotation);
            math_portable::TransposeMatrix(&frameInverse, &frame);
        }
        math_portable::BuildScalingMatrix(&s, scaling->x, scaling->y, scaling->z);
        m = Translation(-sc.x, -sc.y, -sc.z);
        m = Product(Product(Product(m, frameInverse), s), frame);
        m = Product(m, Translation(sc.x, sc.y, sc.z));
    }
    if (rotation) {
        Vector3 rc = rotationCenter ? *rotationCenter : Vector3{0, 0, 0};
        m = Product(m, Translation(-rc.x, -rc.y, -rc.z));
        m = Product(m, RotationOf(*rotation));
        m = Product(m, Translation(rc.x, rc.y, rc.z));
    }
    if (translation) m = Product(m, Translation(translation->x, translation->y, translation->z));
    *out = m;
    return out;
}

Matrix* BuildAffineTransformationMatrix(Matrix* out, float scaling, const Vector3* rotationCenter,
                                        const Quaternion* rotation, const Vector3* translation) {
    Matrix m;
    math_portable::BuildScalingMatrix(&m, scaling, scaling, scaling);
    if (rotation) {
        Vector3 rc = rotationCenter ? *rotationCenter : Vector3{0, 0, 0};
        m = Product(m, Translation(-rc.x, -rc.y, -rc.z));
        m = Product(m, RotationOf(*rotation));
        m = Product(m, Translation(rc.x, rc.y, rc.z));
    }
    if (translation) m = Product(m, Translation(translation->x, translation->y, translation->z));
    *out = m;
    return out;
}

Matrix* BuildTransformationMatrix2D(Matrix* out, const Vector2* scalingCenter,
                                    float scalingRotation, const Vector2* scaling,
                                    const Vector2* rotationCenter, float rotation,
                                    const Vector2* translation) {
    Vector3 sc{0, 0, 0}, s{1, 1, 1}, rc{0, 0, 0}, t{0, 0, 0};
    if (scalingCenter) sc = {scalingCenter->x, scalingCenter->y, 0.0f};
    if (scaling) s = {scaling->x, scaling->y, 1.0f};
    if (rotationCenter) rc = {rotationCenter->x, rotationCenter->y, 0.0f};
    if (translation) t = {translation->x, translation->y, 0.0f};
    Quaternion sr = AboutAxis(0, 0, 1, scalingRotation);
    Quaternion r = AboutAxis(0, 0, 1, rotation);
    return math_portable::BuildTransformationMatrix(out, &sc, &sr, &s, &rc, &r, &t);
}

Matrix* BuildAffineTransformationMatrix2D(Matrix* out, float scaling, const Vector2* rotationCenter,
                                          float rotation, const Vector2* translation) {
    Vector3 rc{0, 0, 0}, t{0, 0, 0};
    if (rotationCenter) rc = {rotationCenter->x, rotationCenter->y, 0.0f};
    if (translation) t = {translation->x, translation->y, 0.0f};
    Quaternion r = AboutAxis(0, 0, 1, rotation);
    Matrix m;
    math_portable::BuildAffineTransformationMatrix(&m, scaling, &rc, &r, &t);
    // The plane's scaling leaves z alone.
    m.m[2][2] = 1.0f;
    *out = m;
    return out;
}

}  // namespace math_portable
