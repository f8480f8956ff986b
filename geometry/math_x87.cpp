// The x87 set: the floating-point-unit forms of entries 0-7 and 34, with
// products summed in pairs, and a normalisation with its own thresholds and a
// table-driven reciprocal square root instead of a division.
#include "geometry/math_x87.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "geometry/math_dispatch.h"

namespace {

// (x, y, z, w) x m with the products summed pairwise.
inline Vector4 Row4(float x, float y, float z, float w, const Matrix& m) {
    return {(x * m.m[0][0] + y * m.m[1][0]) + (z * m.m[2][0] + w * m.m[3][0]),
            (x * m.m[0][1] + y * m.m[1][1]) + (z * m.m[2][1] + w * m.m[3][1]),
            (x * m.m[0][2] + y * m.m[1][2]) + (z * m.m[2][2] + w * m.m[3][2]),
            (x * m.m[0][3] + y * m.m[1][3]) + (z * m.m[2][3] + w * m.m[3][3])};
}

inline Matrix Product(const Matrix& a, const Matrix& b) {
    Matrix t;
    for (int i = 0; i < 4; ++i) {
        Vector4 row = Row4(a.m[i][0], a.m[i][1], a.m[i][2], a.m[i][3], b);
        t.m[i][0] = row.x;
        t.m[i][1] = row.y;
        t.m[i][2] = row.z;
        t.m[i][3] = row.w;
    }
    return t;
}

// 1/sqrt(m) fitted by a line on each of 256 equal segments of [0.5, 1) and
// of [1, 2): entry (exponent parity << 8) | top 8 mantissa bits. Each line
// is the minimax fit on its segment (the secant's slope, moved down by half
// the secant's largest error), rounded to float.
struct ReciprocalSquareRootTable {
    float slope[512];
    float intercept[512];
};

ReciprocalSquareRootTable BuildTable() {
    ReciprocalSquareRootTable t;
    for (int index = 0; index < 512; ++index) {
        double start = index < 256 ? 0.5 : 1.0;  // odd exponent: [1, 2)
        double width = start / 256.0;
        double a = start + width * (index & 0xFF);
        double b = a + width;
        double fa = 1.0 / std::sqrt(a), fb = 1.0 / std::sqrt(b);
        double s = (fb - fa) / (b - a);
        // Where the curve's slope equals the secant's: -m^-1.5 / 2 = s.
        double c = std::pow(-2.0 * s, -2.0 / 3.0);
        double fc = 1.0 / std::sqrt(c);
        t.slope[index] = static_cast<float>(s);
        t.intercept[index] = static_cast<float>(0.5 * (fa + fc - s * (a + c)));
    }
    return t;
}

const ReciprocalSquareRootTable& Table() {
    static const ReciprocalSquareRootTable table = BuildTable();
    return table;
}

}  // namespace

float TableReciprocalSquareRoot(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const ReciprocalSquareRootTable& table = Table();
    std::uint32_t index = (bits >> 15) & 0x1FFu;
    // The mantissa placed in [0.5, 1) or [1, 2), keeping the exponent's parity.
    std::uint32_t mantissaBits =
        (bits & 0x007FFFFFu) | ((bits & 0x00800000u) ? 0x3F800000u : 0x3F000000u);
    // The power of two that undoes it: half the exponent, negated.
    std::uint32_t scaleBits = ((0xBEFFFFFFu - bits) >> 1) & 0xFF800000u;
    float mantissa, scale;
    std::memcpy(&mantissa, &mantissaBits, sizeof mantissa);
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return (table.slope[index] * mantissa + table.intercept[index]) * scale;
}

namespace math_x87 {

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

// Entry 34 runs the same code: a plane transforms as a row 4-vector.
Plane* TransformPlane(Plane* out, const Plane* p, const Matrix* m) {
    Vector4 t = Row4(p->a, p->b, p->c, p->d, *m);
    *out = {t.x, t.y, t.z, t.w};
    return out;
}

Matrix* MultiplyMatrices(Matrix* out, const Matrix* a, const Matrix* b) {
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
    Vector2 t{v->x * m->m[0][0] + v->y * m->m[1][0], v->x * m->m[0][1] + v->y * m->m[1][1]};
    *out = t;
    return out;
}

Vector3* TransformNormal3(Vector3* out, const Vector3* v, const Matrix* m) {
    Vector4 t = Row4(v->x, v->y, v->z, 0.0f, *m);
    *out = {t.x, t.y, t.z};
    return out;
}

Vector3* NormalizeVector3(Vector3* out, const Vector3* v) {
    float lengthSquared = (v->x * v->x + v->y * v->y) + v->z * v->z;
    if (std::fabs(lengthSquared - 1.0f) <= 1e-05f) {
        *out = *v;
        return out;
    }
    std::uint32_t bits;
    std::memcpy(&bits, &lengthSquared, sizeof bits);
    if (bits == 0) {  // exactly +0.0
        *out = {0.0f, 0.0f, 0.0f};
        return out;
    }
    float r = TableReciprocalSquareRoot(lengthSquared);
    Vector3 t{v->x * r, v->y * r, v->z * r};
    *out = t;
    return out;
}

}  // namespace math_x87

void InstallX87MathVariants(MathDispatchTable* table) {
    table->TransformVector2 = &math_x87::TransformVector2;
    table->TransformVector3 = &math_x87::TransformVector3;
    table->TransformVector4 = &math_x87::TransformVector4;
    table->MultiplyMatrices = &math_x87::MultiplyMatrices;
    table->MultiplyMatricesTransposed = &math_x87::MultiplyMatricesTransposed;
    table->TransformNormal2 = &math_x87::TransformNormal2;
    table->TransformNormal3 = &math_x87::TransformNormal3;
    table->NormalizeVector3 = &math_x87::NormalizeVector3;
    table->TransformPlane = &math_x87::TransformPlane;
}
