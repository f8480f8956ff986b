// The portable variants of the vector, matrix, plane, curve and array
// operations: plain C++, the reference every other variant is held to.
#include <cmath>
#include <cstring>

#include "geometry/math_dispatch.h"
#include "geometry/math_internal.h"

using namespace math_detail;

namespace {

// The product of row 4-vector (x, y, z, w) and m.
inline Vector4 Row4(float x, float y, float z, float w, const Matrix& m) {
    return {x * m.m[0][0] + y * m.m[1][0] + z * m.m[2][0] + w * m.m[3][0],
            x * m.m[0][1] + y * m.m[1][1] + z * m.m[2][1] + w * m.m[3][1],
            x * m.m[0][2] + y * m.m[1][2] + z * m.m[2][2] + w * m.m[3][2],
            x * m.m[0][3] + y * m.m[1][3] + z * m.m[2][3] + w * m.m[3][3]};
}

inline Vector3 Point3(const Vector3& v, const Matrix& m) {
    float x = v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0] + m.m[3][0];
    float y = v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1] + m.m[3][1];
    float z = v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2] + m.m[3][2];
    float w = v.x * m.m[0][3] + v.y * m.m[1][3] + v.z * m.m[2][3] + m.m[3][3];
    if (IsUnit(w)) return {x, y, z};
    float r = 1.0f / w;
    return {x * r, y * r, z * r};
}

inline Vector2 Point2(const Vector2& v, const Matrix& m) {
    float x = v.x * m.m[0][0] + v.y * m.m[1][0] + m.m[3][0];
    float y = v.x * m.m[0][1] + v.y * m.m[1][1] + m.m[3][1];
    float w = v.x * m.m[0][3] + v.y * m.m[1][3] + m.m[3][3];
    if (IsUnit(w)) return {x, y};
    float r = 1.0f / w;
    return {x * r, y * r};
}

inline Vector3 Normal3(const Vector3& v, const Matrix& m) {
    return {v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
            v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
            v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]};
}

inline Vector2 Normal2(const Vector2& v, const Matrix& m) {
    return {v.x * m.m[0][0] + v.y * m.m[1][0], v.x * m.m[0][1] + v.y * m.m[1][1]};
}

inline Matrix Product(const Matrix& a, const Matrix& b) {
    Matrix t;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            t.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
    return t;
}

inline Vector3 Sub(const Vector3& a, const Vector3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vector3 Cross(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float Dot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The reciprocal length to scale by, 0 for (almost) zero vectors, or 1 when
// the vector is of unit length already.
inline float InverseLength(float lengthSquared) {
    if (IsUnit(lengthSquared)) return 1.0f;
    if (lengthSquared <= kSmallestNormal) return 0.0f;
    return 1.0f / std::sqrt(lengthSquared);
}

// world x view x projection, nulls standing for the identity.
Matrix Combined(const Matrix* projection, const Matrix* view, const Matrix* world) {
    Matrix m;
    SetIdentity(&m);
    if (world) m = *world;
    if (view) m = Product(m, *view);
    if (projection) m = Product(m, *projection);
    return m;
}

Vector3 ToViewport(const Vector3& p, const Viewport* viewport) {
    if (!viewport) return p;
    float halfWidth = 0.5f * static_cast<float>(viewport->width);
    float halfHeight = 0.5f * static_cast<float>(viewport->height);
    return {static_cast<float>(viewport->x) + (1.0f + p.x) * halfWidth,
            static_cast<float>(viewport->y) + (1.0f - p.y) * halfHeight,
            viewport->minZ + p.z * (viewport->maxZ - viewport->minZ)};
}

Vector3 FromViewport(const Vector3& v, const Viewport* viewport) {
    if (!viewport) return v;
    return {
        (v.x - static_cast<float>(viewport->x)) * 2.0f / static_cast<float>(viewport->width) - 1.0f,
        1.0f -
            (v.y - static_cast<float>(viewport->y)) * 2.0f / static_cast<float>(viewport->height),
        (v.z - viewport->minZ) / (viewport->maxZ - viewport->minZ)};
}

// The four-by-four determinant from the six 2x2 minors of the lower rows.
float Determinant(const Matrix& a) {
    const float(*m)[4] = a.m;
    float s0 = m[2][0] * m[3][1] - m[2][1] * m[3][0];
    float s1 = m[2][0] * m[3][2] - m[2][2] * m[3][0];
    float s2 = m[2][0] * m[3][3] - m[2][3] * m[3][0];
    float s3 = m[2][1] * m[3][2] - m[2][2] * m[3][1];
    float s4 = m[2][1] * m[3][3] - m[2][3] * m[3][1];
    float s5 = m[2][2] * m[3][3] - m[2][3] * m[3][2];
    float c0 = m[1][1] * s5 - m[1][2] * s4 + m[1][3] * s3;
    float c1 = m[1][0] * s5 - m[1][2] * s2 + m[1][3] * s1;
    float c2 = m[1][0] * s4 - m[1][1] * s2 + m[1][3] * s0;
    float c3 = m[1][0] * s3 - m[1][1] * s1 + m[1][2] * s0;
    return m[0][0] * c0 - m[0][1] * c1 + m[0][2] * c2 - m[0][3] * c3;
}

}  // namespace

namespace math_portable {

Vector4* TransformVector2(Vector4* out, const Vector2* v, const Matrix* m) {
    *out = Row4(v->x, v->y, 0.0f, 1.0f, *m);
    return out;
}

Vector4* TransformVector3(Vector4* out, const Vector3* v, const Matrix* m) {
    *out = Row4(v->x, v->y, v->z, 1.0f, *m);
    return out;
}

Vector4* TransformVector4(Vector4* out, const Vector4* v, const Matrix* m) {
    *out = Row4(v->x, v->y, v->z, v->w, *m);
    return out;
}

Matrix* MultiplyMatrices(Matrix* out, const Matrix* a, const Matrix* b) {
    // Formed aside, so `out` may be `a` or `b`.
    *out = Product(*a, *b);
    return out;
}

Matrix* MultiplyMatricesTransposed(Matrix* out, const Matrix* a, const Matrix* b) {
    Matrix t = Product(*a, *b);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out->m[j][i] = t.m[i][j];
    return out;
}

Vector2* TransformNormal2(Vector2* out, const Vector2* v, const Matrix* m) {
    *out = Normal2(*v, *m);
    return out;
}

Vector3* TransformNormal3(Vector3* out, const Vector3* v, const Matrix* m) {
    *out = Normal3(*v, *m);
    return out;
}

Vector3* NormalizeVector3(Vector3* out, const Vector3* v) {
    float lengthSquared = (v->x * v->x + v->y * v->y) + v->z * v->z;
    if (IsUnit(lengthSquared)) {
        *out = *v;
        return out;
    }
    if (lengthSquared <= kSmallestNormal) {
        *out = {0.0f, 0.0f, 0.0f};
        return out;
    }
    float r = 1.0f / std::sqrt(lengthSquared);
    Vector3 t{v->x * r, v->y * r, v->z * r};
    *out = t;
    return out;
}

Vector4* NormalizeVector4(Vector4* out, const Vector4* v) {
    float r = InverseLength((v->x * v->x + v->y * v->y) + (v->z * v->z + v->w * v->w));
    Vector4 t{v->x * r, v->y * r, v->z * r, v->w * r};
    *out = t;
    return out;
}

Vector2* NormalizeVector2(Vector2* out, const Vector2* v) {
    float r = InverseLength(v->x * v->x + v->y * v->y);
    Vector2 t{v->x * r, v->y * r};
    *out = t;
    return out;
}

Vector2* TransformPoint2(Vector2* out, const Vector2* v, const Matrix* m) {
    *out = Point2(*v, *m);
    return out;
}

Vector3* TransformPoint3(Vector3* out, const Vector3* v, const Matrix* m) {
    *out = Point3(*v, *m);
    return out;
}

float ComputeDeterminant(const Matrix* m) {
    return Determinant(*m);
}

Matrix* InvertMatrix(Matrix* out, float* determinant, const Matrix* a) {
    const float(*m)[4] = a->m;
    // Cofactors from the 2x2 minors of the upper and of the lower two rows.
    float s0 = m[0][0] * m[1][1] - m[0][1] * m[1][0];
    float s1 = m[0][0] * m[1][2] - m[0][2] * m[1][0];
    float s2 = m[0][0] * m[1][3] - m[0][3] * m[1][0];
    float s3 = m[0][1] * m[1][2] - m[0][2] * m[1][1];
    float s4 = m[0][1] * m[1][3] - m[0][3] * m[1][1];
    float s5 = m[0][2] * m[1][3] - m[0][3] * m[1][2];
    float c5 = m[2][2] * m[3][3] - m[2][3] * m[3][2];
    float c4 = m[2][1] * m[3][3] - m[2][3] * m[3][1];
    float c3 = m[2][1] * m[3][2] - m[2][2] * m[3][1];
    float c2 = m[2][0] * m[3][3] - m[2][3] * m[3][0];
    float c1 = m[2][0] * m[3][2] - m[2][2] * m[3][0];
    float c0 = m[2][0] * m[3][1] - m[2][1] * m[3][0];
    float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    if (determinant) *determinant = det;
    if (det == 0.0f) return nullptr;
    float r = 1.0f / det;
    Matrix t;
    t.m[0][0] = (m[1][1] * c5 - m[1][2] * c4 + m[1][3] * c3) * r;
    t.m[0][1] = (-m[0][1] * c5 + m[0][2] * c4 - m[0][3] * c3) * r;
    t.m[0][2] = (m[3][1] * s5 - m[3][2] * s4 + m[3][3] * s3) * r;
    t.m[0][3] = (-m[2][1] * s5 + m[2][2] * s4 - m[2][3] * s3) * r;
    t.m[1][0] = (-m[1][0] * c5 + m[1][2] * c2 - m[1][3] * c1) * r;
    t.m[1][1] = (m[0][0] * c5 - m[0][2] * c2 + m[0][3] * c1) * r;
    t.m[1][2] = (-m[3][0] * s5 + m[3][2] * s2 - m[3][3] * s1) * r;
    t.m[1][3] = (m[2][0] * s5 - m[2][2] * s2 + m[2][3] * s1) * r;
    t.m[2][0] = (m[1][0] * c4 - m[1][1] * c2 + m[1][3] * c0) * r;
    t.m[2][1] = (-m[0][0] * c4 + m[0][1] * c2 - m[0][3] * c0) * r;
    t.m[2][2] = (m[3][0] * s4 - m[3][1] * s2 + m[3][3] * s0) * r;
    t.m[2][3] = (-m[2][0] * s4 + m[2][1] * s2 - m[2][3] * s0) * r;
    t.m[3][0] = (-m[1][0] * c3 + m[1][1] * c1 - m[1][2] * c0) * r;
    t.m[3][1] = (m[0][0] * c3 - m[0][1] * c1 + m[0][2] * c0) * r;
    t.m[3][2] = (-m[3][0] * s3 + m[3][1] * s1 - m[3][2] * s0) * r;
    t.m[3][3] = (m[2][0] * s3 - m[2][1] * s1 + m[2][2] * s0) * r;
    *out = t;
    return out;
}

Matrix* TransposeMatrix(Matrix* out, const Matrix* m) {
    Matrix t;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) t.m[j][i] = m->m[i][j];
    *out = t;
    return out;
}

Vector4* CrossVector4(Vector4* out, const Vector4* a, const Vector4* b, const Vector4* c) {
    // Expansion of det(e; a; b; c) along the basis row, with the 2x2 minors
    // of b and c.
    float xy = b->x * c->y - b->y * c->x;
    float xz = b->x * c->z - b->z * c->x;
    float xw = b->x * c->w - b->w * c->x;
    float yz = b->y * c->z - b->z * c->y;
    float yw = b->y * c->w - b->w * c->y;
    float zw = b->z * c->w - b->w * c->z;
    Vector4 t{a->y * zw - a->z * yw + a->w * yz, -(a->x * zw - a->z * xw + a->w * xz),
              a->x * yw - a->y * xw + a->w * xy, -(a->x * yz - a->y * xz + a->z * xy)};
    *out = t;
    return out;
}

Plane* PlaneFromPointAndNormal(Plane* out, const Vector3* point, const Vector3* normal) {
    Plane t{normal->x, normal->y, normal->z, -Dot(*point, *normal)};
    *out = t;
    return out;
}

Plane* PlaneFromThreePoints(Plane* out, const Vector3* a, const Vector3* b, const Vector3* c) {
    Vector3 n = Cross(Sub(*b, *a), Sub(*c, *a));
    math_portable::NormalizeVector3(&n, &n);
    Plane t{n.x, n.y, n.z, -Dot(n, *a)};
    *out = t;
    return out;
}

Plane* NormalizePlane(Plane* out, const Plane* p) {
    float lengthSquared = p->a * p->a + p->b * p->b + p->c * p->c;
    float r = InverseLength(lengthSquared);
    Plane t{p->a * r, p->b * r, p->c * r, p->d * r};
    *out = t;
    return out;
}

Vector3* IntersectPlaneWithLine(Vector3* out, const Plane* p, const Vector3* a, const Vector3* b) {
    Vector3 normal{p->a, p->b, p->c};
    Vector3 direction = Sub(*b, *a);
    float along = Dot(normal, direction);
    if (along == 0.0f) return nullptr;
    float t = -(Dot(normal, *a) + p->d) / along;
    Vector3 hit{a->x + t * direction.x, a->y + t * direction.y, a->z + t * direction.z};
    *out = hit;
    return out;
}

Plane* TransformPlane(Plane* out, const Plane* p, const Matrix* m) {
    Vector4 t = Row4(p->a, p->b, p->c, p->d, *m);
    *out = {t.x, t.y, t.z, t.w};
    return out;
}

Vector3* ProjectToViewport(Vector3* out, const Vector3* v, const Viewport* viewport,
                           const Matrix* projection, const Matrix* view, const Matrix* world) {
    Matrix m = Combined(projection, view, world);
    *out = ToViewport(Point3(*v, m), viewport);
    return out;
}

Vector3* UnprojectFromViewport(Vector3* out, const Vector3* v, const Viewport* viewport,
                               const Matrix* projection, const Matrix* view, const Matrix* world) {
    Matrix m = Combined(projection, view, world);
    if (!math_portable::InvertMatrix(&m, nullptr, &m)) return nullptr;
    *out = Point3(FromViewport(*v, viewport), m);
    return out;
}

Matrix* BuildTranslationMatrix(Matrix* out, float x, float y, float z) {
    SetIdentity(out);
    out->m[3][0] = x;
    out->m[3][1] = y;
    out->m[3][2] = z;
    return out;
}

Matrix* BuildScalingMatrix(Matrix* out, float sx, float sy, float sz) {
    std::memset(out, 0, sizeof *out);
    out->m[0][0] = sx;
    out->m[1][1] = sy;
    out->m[2][2] = sz;
    out->m[3][3] = 1.0f;
    return out;
}

Matrix* BuildRotationXMatrix(Matrix* out, float angle) {
    float s, c;
    SinCos(angle, &s, &c);
    *out = {{{1, 0, 0, 0}, {0, c, s, 0}, {0, -s, c, 0}, {0, 0, 0, 1}}};
    return out;
}

Matrix* BuildRotationYMatrix(Matrix* out, float angle) {
    float s, c;
    SinCos(angle, &s, &c);
    *out = {{{c, 0, -s, 0}, {0, 1, 0, 0}, {s, 0, c, 0}, {0, 0, 0, 1}}};
    return out;
}

Matrix* BuildRotationZMatrix(Matrix* out, float angle) {
    float s, c;
    SinCos(angle, &s, &c);
    *out = {{{c, s, 0, 0}, {-s, c, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    return out;
}

Matrix* BuildAxisRotationMatrix(Matrix* out, const Vector3* axis, float angle) {
    Vector3 a;
    math_portable::NormalizeVector3(&a, axis);
    float s, c;
    SinCos(angle, &s, &c);
    float k = 1.0f - c;
    *out = {{{k * a.x * a.x + c, k * a.x * a.y + s * a.z, k * a.x * a.z - s * a.y, 0},
             {k * a.x * a.y - s * a.z, k * a.y * a.y + c, k * a.y * a.z + s * a.x, 0},
             {k * a.x * a.z + s * a.y, k * a.y * a.z - s * a.x, k * a.z * a.z + c, 0},
             {0, 0, 0, 1}}};
    return out;
}

Matrix* BuildYawPitchRollMatrix(Matrix* out, float yaw, float pitch, float roll) {
    Matrix z, x, y;
    math_portable::BuildRotationZMatrix(&z, roll);
    math_portable::BuildRotationXMatrix(&x, pitch);
    math_portable::BuildRotationYMatrix(&y, yaw);
    *out = Product(Product(z, x), y);
    return out;
}

Matrix* BuildShadowMatrix(Matrix* out, const Vector4* light, const Plane* plane) {
    Plane p;
    math_portable::NormalizePlane(&p, plane);
    const float pv[4] = {p.a, p.b, p.c, p.d};
    const float lv[4] = {light->x, light->y, light->z, light->w};
    float d = pv[0] * lv[0] + pv[1] * lv[1] + pv[2] * lv[2] + pv[3] * lv[3];
    // v x M = (P . L) v - (v . P) L: a point on the plane stays in place.
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out->m[i][j] = (i == j ? d : 0.0f) - pv[i] * lv[j];
    return out;
}

Matrix* BuildReflectionMatrix(Matrix* out, const Plane* plane) {
    Plane p;
    math_portable::NormalizePlane(&p, plane);
    const float n[3] = {p.a, p.b, p.c};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) out->m[i][j] = (i == j ? 1.0f : 0.0f) - 2.0f * n[i] * n[j];
        out->m[i][3] = 0.0f;
        out->m[3][i] = -2.0f * p.d * n[i];
    }
    out->m[3][3] = 1.0f;
    return out;
}

template <typename V>
static V* Hermite(V* out, const V* p1, const V* t1, const V* p2, const V* t2, float s) {
    float s2 = s * s, s3 = s2 * s;
    float h1 = 2.0f * s3 - 3.0f * s2 + 1.0f;
    float h2 = s3 - 2.0f * s2 + s;
    float h3 = -2.0f * s3 + 3.0f * s2;
    float h4 = s3 - s2;
    constexpr int n = sizeof(V) / sizeof(float);
    float a[n], b[n], c[n], d[n], r[n];
    std::memcpy(a, p1, sizeof a);
    std::memcpy(b, t1, sizeof b);
    std::memcpy(c, p2, sizeof c);
    std::memcpy(d, t2, sizeof d);
    for (int i = 0; i < n; ++i) r[i] = h1 * a[i] + h2 * b[i] + h3 * c[i] + h4 * d[i];
    std::memcpy(out, r, sizeof r);
    return out;
}

template <typename V>
static V* CatmullRom(V* out, const V* p0, const V* p1, const V* p2, const V* p3, float s) {
    float s2 = s * s, s3 = s2 * s;
    constexpr int n = sizeof(V) / sizeof(float);
    float a[n], b[n], c[n], d[n], r[n];
    std::memcpy(a, p0, sizeof a);
    std::memcpy(b, p1, sizeof b);
    std::memcpy(c, p2, sizeof c);
    std::memcpy(d, p3, sizeof d);
    for (int i = 0; i < n; ++i)
        r[i] = 0.5f * (2.0f * b[i] + (c[i] - a[i]) * s +
                       (2.0f * a[i] - 5.0f * b[i] + 4.0f * c[i] - d[i]) * s2 +
                       (3.0f * (b[i] - c[i]) + d[i] - a[i]) * s3);
    std::memcpy(out, r, sizeof r);
    return out;
}

template <typename V>
static V* Barycentric(V* out, const V* v1, const V* v2, const V* v3, float f, float g) {
    constexpr int n = sizeof(V) / sizeof(float);
    float a[n], b[n], c[n], r[n];
    std::memcpy(a, v1, sizeof a);
    std::memcpy(b, v2, sizeof b);
    std::memcpy(c, v3, sizeof c);
    for (int i = 0; i < n; ++i) r[i] = a[i] + f * (b[i] - a[i]) + g * (c[i] - a[i]);
    std::memcpy(out, r, sizeof r);
    return out;
}

Vector2* HermiteVector2(Vector2* out, const Vector2* p1, const Vector2* t1, const Vector2* p2,
                        const Vector2* t2, float s) {
    return Hermite(out, p1, t1, p2, t2, s);
}
Vector3* HermiteVector3(Vector3* out, const Vector3* p1, const Vector3* t1, const Vector3* p2,
                        const Vector3* t2, float s) {
    return Hermite(out, p1, t1, p2, t2, s);
}
Vector4* HermiteVector4(Vector4* out, const Vector4* p1, const Vector4* t1, const Vector4* p2,
                        const Vector4* t2, float s) {
    return Hermite(out, p1, t1, p2, t2, s);
}
Vector2* CatmullRomVector2(Vector2* out, const Vector2* p0, const Vector2* p1, const Vector2* p2,
                           const Vector2* p3, float s) {
    return CatmullRom(out, p0, p1, p2, p3, s);
}
Vector3* CatmullRomVector3(Vector3* out, const Vector3* p0, const Vector3* p1, const Vector3* p2,
                           const Vector3* p3, float s) {
    return CatmullRom(out, p0, p1, p2, p3, s);
}
Vector4* CatmullRomVector4(Vector4* out, const Vector4* p0, const Vector4* p1, const Vector4* p2,
                           const Vector4* p3, float s) {
    return CatmullRom(out, p0, p1, p2, p3, s);
}
Vector2* BarycentricVector2(Vector2* out, const Vector2* v1, const Vector2* v2, const Vector2* v3,
                            float f, float g) {
    return Barycentric(out, v1, v2, v3, f, g);
}
Vector3* BarycentricVector3(Vector3* out, const Vector3* v1, const Vector3* v2, const Vector3* v3,
                            float f, float g) {
    return Barycentric(out, v1, v2, v3, f, g);
}
Vector4* BarycentricVector4(Vector4* out, const Vector4* v1, const Vector4* v2, const Vector4* v3,
                            float f, float g) {
    return Barycentric(out, v1, v2, v3, f, g);
}

// The arrays: one element at a time, each read whole before it is written,
// so `out` may be `in` with equal strides.

Vector4* TransformVector2Array(Vector4* out, UINT outStride, const Vector2* in, UINT inStride,
                               const Matrix* m, UINT count) {
    Vector4* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = Row4(in->x, in->y, 0.0f, 1.0f, *m);
    return out;
}

Vector2* TransformPoint2Array(Vector2* out, UINT outStride, const Vector2* in, UINT inStride,
                              const Matrix* m, UINT count) {
    Vector2* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = Point2(*in, *m);
    return out;
}

Vector2* TransformNormal2Array(Vector2* out, UINT outStride, const Vector2* in, UINT inStride,
                               const Matrix* m, UINT count) {
    Vector2* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = Normal2(*in, *m);
    return out;
}

Vector4* TransformVector3Array(Vector4* out, UINT outStride, const Vector3* in, UINT inStride,
                               const Matrix* m, UINT count) {
    Vector4* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = Row4(in->x, in->y, in->z, 1.0f, *m);
    return out;
}

Vector3* TransformPoint3Array(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                              const Matrix* m, UINT count) {
    Vector3* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = Point3(*in, *m);
    return out;
}

Vector3* TransformNormal3Array(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                               const Matrix* m, UINT count) {
    Vector3* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = Normal3(*in, *m);
    return out;
}

Vector4* TransformVector4Array(Vector4* out, UINT outStride, const Vector4* in, UINT inStride,
                               const Matrix* m, UINT count) {
    Vector4* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = Row4(in->x, in->y, in->z, in->w, *m);
    return out;
}

Vector3* ProjectToViewportArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                                const Viewport* viewport, const Matrix* projection,
                                const Matrix* view, const Matrix* world, UINT count) {
    Matrix m = Combined(projection, view, world);
    Vector3* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = ToViewport(Point3(*in, m), viewport);
    return out;
}

Vector3* UnprojectFromViewportArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                                    const Viewport* viewport, const Matrix* projection,
                                    const Matrix* view, const Matrix* world, UINT count) {
    Matrix m = Combined(projection, view, world);
    if (!math_portable::InvertMatrix(&m, nullptr, &m)) return nullptr;
    Vector3* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride))
        *o = Point3(FromViewport(*in, viewport), m);
    return out;
}

Plane* TransformPlaneArray(Plane* out, UINT outStride, const Plane* in, UINT inStride,
                           const Matrix* m, UINT count) {
    Plane* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride)) {
        Vector4 t = Row4(in->a, in->b, in->c, in->d, *m);
        *o = {t.x, t.y, t.z, t.w};
    }
    return out;
}

Vector3* BlendSkinnedVertices(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                              const float* weights, UINT weightStride, const Matrix* matrices,
                              UINT matrixCount, UINT count) {
    Vector3* o = out;
    for (UINT i = 0; i < count; ++i, o = Advance(o, outStride), in = Advance(in, inStride),
              weights = Advance(weights, weightStride)) {
        if (matrixCount == 0) {
            *o = *in;
            continue;
        }
        Vector3 sum{0.0f, 0.0f, 0.0f};
        float rest = 1.0f;
        for (UINT k = 0; k < matrixCount; ++k) {
            float w = rest;
            if (k + 1 < matrixCount) {
                w = weights[k];
                rest -= w;
            }
            Vector3 p = Point3(*in, matrices[k]);
            sum = {sum.x + w * p.x, sum.y + w * p.y, sum.z + w * p.z};
        }
        *o = sum;
    }
    return out;
}

Vector3* TessellateNPatches(Vector3* outPositions, Vector3* outNormals, const Vector3* corners,
                            const Vector3* normals, UINT segments) {
    const Vector3 p1 = corners[0], p2 = corners[1], p3 = corners[2];
    const Vector3 n1 = normals[0], n2 = normals[1], n3 = normals[2];
    // Cubic Bezier control points: each edge third is pulled back into the
    // tangent plane of its nearer corner.
    auto edge = [](const Vector3& a, const Vector3& b, const Vector3& na) {
        float w = Dot(Sub(b, a), na);
        return Vector3{(2.0f * a.x + b.x - w * na.x) / 3.0f, (2.0f * a.y + b.y - w * na.y) / 3.0f,
                       (2.0f * a.z + b.z - w * na.z) / 3.0f};
    };
    const Vector3 b210 = edge(p1, p2, n1), b120 = edge(p2, p1, n2), b021 = edge(p2, p3, n2);
    const Vector3 b012 = edge(p3, p2, n3), b102 = edge(p3, p1, n3), b201 = edge(p1, p3, n1);
    Vector3 e{(b210.x + b120.x + b021.x + b012.x + b102.x + b201.x) / 6.0f,
              (b210.y + b120.y + b021.y + b012.y + b102.y + b201.y) / 6.0f,
              (b210.z + b120.z + b021.z + b012.z + b102.z + b201.z) / 6.0f};
    Vector3 v{(p1.x + p2.x + p3.x) / 3.0f, (p1.y + p2.y + p3.y) / 3.0f,
              (p1.z + p2.z + p3.z) / 3.0f};
    const Vector3 b111{e.x + (e.x - v.x) * 0.5f, e.y + (e.y - v.y) * 0.5f,
                       e.z + (e.z - v.z) * 0.5f};

    UINT n = segments;
    UINT k = 0;
    for (UINT i = 0; i <= n; ++i) {
        for (UINT j = 0; j <= i; ++j, ++k) {
            float u = n ? static_cast<float>(n - i) / static_cast<float>(n) : 1.0f;
            float w = n ? static_cast<float>(j) / static_cast<float>(n) : 0.0f;
            float t = n ? static_cast<float>(i - j) / static_cast<float>(n) : 0.0f;  // towards p2
            float c300 = u * u * u, c030 = t * t * t, c003 = w * w * w;
            float c210 = 3 * u * u * t, c120 = 3 * u * t * t, c201 = 3 * u * u * w;
            float c021 = 3 * t * t * w, c102 = 3 * u * w * w, c012 = 3 * t * w * w;
            float c111 = 6 * u * t * w;
            auto mix = [&](float Vector3::*f) {
                return c300 * (p1.*f) + c030 * (p2.*f) + c003 * (p3.*f) + c210 * (b210.*f) +
                       c120 * (b120.*f) + c201 * (b201.*f) + c021 * (b021.*f) + c102 * (b102.*f) +
                       c012 * (b012.*f) + c111 * (b111.*f);
            };
            outPositions[k] = {mix(&Vector3::x), mix(&Vector3::y), mix(&Vector3::z)};
            if (outNormals) {
                Vector3 normal{u * n1.x + t * n2.x + w * n3.x, u * n1.y + t * n2.y + w * n3.y,
                               u * n1.z + t * n2.z + w * n3.z};
                math_portable::NormalizeVector3(&outNormals[k], &normal);
            }
        }
    }
    return outPositions;
}

}  // namespace math_portable
