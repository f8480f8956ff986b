// Vector-unit kernels of the SSE and SSE2 sets (not part of the library's
// interface). Each set's source includes this file, the SSE2 one after
// defining VINTREL_MATH_SSE2_FORMS, which makes lane broadcasts use the
// integer shuffle (one instruction, no dependency on the old register).
// Everything here has internal linkage, so the two sets' copies never mix.
//
// The kernels add the products in the portable set's order, so without
// fused multiply-add they give the same bits as the portable forms.
#pragma once

#include <xmmintrin.h>

#include <cstdint>
#include <cstring>
#if defined(VINTREL_MATH_SSE2_FORMS)
#include <emmintrin.h>
#endif

#include "geometry/math.h"
#include "geometry/math_dispatch.h"
#include "geometry/math_internal.h"

namespace {

template <int lane>
inline __m128 Broadcast(__m128 v) {
#if defined(VINTREL_MATH_SSE2_FORMS)
    return _mm_castsi128_ps(
        _mm_shuffle_epi32(_mm_castps_si128(v), _MM_SHUFFLE(lane, lane, lane, lane)));
#else
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(lane, lane, lane, lane));
#endif
}

// All bits but the sign: and-ing with it gives the absolute value.
inline __m128 AbsMask() {
    const std::uint32_t bits = 0x7FFFFFFFu;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return _mm_set1_ps(f);
}

struct Rows {
    __m128 r0, r1, r2, r3;
};

inline Rows LoadRows(const Matrix* m) {
    return {_mm_loadu_ps(m->m[0]), _mm_loadu_ps(m->m[1]), _mm_loadu_ps(m->m[2]),
            _mm_loadu_ps(m->m[3])};
}

inline __m128 Load2(const void* p) {
    return _mm_loadl_pi(_mm_setzero_ps(), static_cast<const __m64*>(p));
}

inline __m128 Load3(const void* p) {
    const float* f = static_cast<const float*>(p);
    return _mm_movelh_ps(Load2(f), _mm_load_ss(f + 2));
}

inline void Store2(void* p, __m128 v) {
    _mm_storel_pi(static_cast<__m64*>(p), v);
}

inline void Store3(void* p, __m128 v) {
    float* f = static_cast<float*>(p);
    Store2(f, v);
    _mm_store_ss(f + 2, _mm_movehl_ps(v, v));
}

// v x m for the row vector v = (x, y, z, w), products summed left to right.
inline __m128 Row4(__m128 v, const Rows& m) {
    __m128 s = _mm_add_ps(_mm_mul_ps(Broadcast<0>(v), m.r0), _mm_mul_ps(Broadcast<1>(v), m.r1));
    s = _mm_add_ps(s, _mm_mul_ps(Broadcast<2>(v), m.r2));
    return _mm_add_ps(s, _mm_mul_ps(Broadcast<3>(v), m.r3));
}

inline __m128 Row3Plus(__m128 v, const Rows& m) {  // (x, y, z, 1) x m
    __m128 s = _mm_add_ps(_mm_mul_ps(Broadcast<0>(v), m.r0), _mm_mul_ps(Broadcast<1>(v), m.r1));
    s = _mm_add_ps(s, _mm_mul_ps(Broadcast<2>(v), m.r2));
    return _mm_add_ps(s, m.r3);
}

inline __m128 Row2Plus(__m128 v, const Rows& m) {  // (x, y, 0, 1) x m
    __m128 s = _mm_add_ps(_mm_mul_ps(Broadcast<0>(v), m.r0), _mm_mul_ps(Broadcast<1>(v), m.r1));
    return _mm_add_ps(s, m.r3);
}

inline __m128 Normal3(__m128 v, const Rows& m) {
    __m128 s = _mm_add_ps(_mm_mul_ps(Broadcast<0>(v), m.r0), _mm_mul_ps(Broadcast<1>(v), m.r1));
    return _mm_add_ps(s, _mm_mul_ps(Broadcast<2>(v), m.r2));
}

inline __m128 Normal2(__m128 v, const Rows& m) {
    return _mm_add_ps(_mm_mul_ps(Broadcast<0>(v), m.r0), _mm_mul_ps(Broadcast<1>(v), m.r1));
}

// Divides by the w lane unless it is 1 within 2^-23 (as the portable form:
// x * (1 / w)).
inline __m128 DivideByW(__m128 p) {
    const __m128 absMask = AbsMask();
    __m128 w = Broadcast<3>(p);
    __m128 distance = _mm_and_ps(_mm_sub_ps(w, _mm_set1_ps(1.0f)), absMask);
    __m128 unit = _mm_cmple_ps(distance, _mm_set1_ps(math_detail::kUnitTolerance));
    __m128 scaled = _mm_mul_ps(p, _mm_div_ps(_mm_set1_ps(1.0f), w));
    return _mm_or_ps(_mm_and_ps(unit, p), _mm_andnot_ps(unit, scaled));
}

inline Rows Product(const Rows& a, const Rows& b) {
    return {Row4(a.r0, b), Row4(a.r1, b), Row4(a.r2, b), Row4(a.r3, b)};
}

inline void StoreRows(Matrix* out, const Rows& r) {
    _mm_storeu_ps(out->m[0], r.r0);
    _mm_storeu_ps(out->m[1], r.r1);
    _mm_storeu_ps(out->m[2], r.r2);
    _mm_storeu_ps(out->m[3], r.r3);
}

// v / |v| with the portable thresholds and the same rounding steps.
inline __m128 Normalize3(__m128 v) {
    __m128 squares = _mm_mul_ps(v, v);
    __m128 lengthSquared =
        _mm_add_ss(_mm_add_ss(squares, _mm_shuffle_ps(squares, squares, _MM_SHUFFLE(1, 1, 1, 1))),
                   _mm_movehl_ps(squares, squares));
    float l = _mm_cvtss_f32(lengthSquared);
    if (math_detail::IsUnit(l)) return v;
    if (l <= math_detail::kSmallestNormal) return _mm_setzero_ps();
    __m128 r = _mm_div_ss(_mm_set_ss(1.0f), _mm_sqrt_ss(lengthSquared));
    return _mm_mul_ps(v, _mm_shuffle_ps(r, r, 0));
}

// Four packed Vector3 (x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3) into
// lanes of x, y and z, and back.
inline void Deinterleave3(__m128 a, __m128 b, __m128 c, __m128* x, __m128* y, __m128* z) {
    __m128 t1 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 1, 0, 2));  // b2 b0 c1 c0
    *x = _mm_shuffle_ps(a, t1, _MM_SHUFFLE(2, 0, 3, 0));
    __m128 t2 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 0, 2, 1));  // a1 a2 b0 b3
    __m128 t3 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 2, 0, 3));  // b3 b0 c2 c0
    *y = _mm_shuffle_ps(t2, t3, _MM_SHUFFLE(2, 0, 2, 0));
    __m128 t4 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 1, 0, 2));  // a2 a0 b1 b0
    __m128 t5 = _mm_shuffle_ps(c, c, _MM_SHUFFLE(0, 3, 0, 0));  // c0 c0 c3 c0
    *z = _mm_shuffle_ps(t4, t5, _MM_SHUFFLE(2, 0, 2, 0));
}

inline void Interleave3(__m128 x, __m128 y, __m128 z, __m128* a, __m128* b, __m128* c) {
    __m128 t0 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0));  // x0 x2 y0 y2
    __m128 t1 = _mm_shuffle_ps(z, x, _MM_SHUFFLE(3, 1, 2, 0));  // z0 z2 x1 x3
    __m128 t2 = _mm_shuffle_ps(y, z, _MM_SHUFFLE(3, 1, 3, 1));  // y1 y3 z1 z3
    *a = _mm_shuffle_ps(t0, t1, _MM_SHUFFLE(2, 0, 2, 0));
    *b = _mm_shuffle_ps(t2, t0, _MM_SHUFFLE(3, 1, 2, 0));
    *c = _mm_shuffle_ps(t1, t2, _MM_SHUFFLE(3, 1, 3, 1));
}

// The matrix with every element in all four lanes, for work on four
// vectors at once.
struct Splat {
    __m128 e[4][4];
};

inline Splat SplatMatrix(const Matrix* m) {
    Splat s;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) s.e[i][j] = _mm_set1_ps(m->m[i][j]);
    return s;
}

// Column j of (x, y, z, 1) x m for four points, in the portable order.
inline __m128 Column3Plus(const Splat& s, int j, __m128 x, __m128 y, __m128 z) {
    __m128 t = _mm_add_ps(_mm_mul_ps(x, s.e[0][j]), _mm_mul_ps(y, s.e[1][j]));
    t = _mm_add_ps(t, _mm_mul_ps(z, s.e[2][j]));
    return _mm_add_ps(t, s.e[3][j]);
}

// Four packed points through m, divided by w, in place in a, b, c. Unlike
// the single-point form this always divides: a w within 2^-23 of 1 changes
// the result by at most one unit in the last place.
inline void Points3x4(const Splat& s, __m128* a, __m128* b, __m128* c) {
    __m128 x, y, z;
    Deinterleave3(*a, *b, *c, &x, &y, &z);
    __m128 r = _mm_div_ps(_mm_set1_ps(1.0f), Column3Plus(s, 3, x, y, z));
    Interleave3(_mm_mul_ps(Column3Plus(s, 0, x, y, z), r),
                _mm_mul_ps(Column3Plus(s, 1, x, y, z), r),
                _mm_mul_ps(Column3Plus(s, 2, x, y, z), r), a, b, c);
}

// ---------------------------------------------------------------------------
// The entry points the sets install.

Vector4* SimdTransformVector2(Vector4* out, const Vector2* v, const Matrix* m) {
    _mm_storeu_ps(&out->x, Row2Plus(Load2(v), LoadRows(m)));
    return out;
}

Vector4* SimdTransformVector3(Vector4* out, const Vector3* v, const Matrix* m) {
    _mm_storeu_ps(&out->x, Row3Plus(Load3(v), LoadRows(m)));
    return out;
}

Vector4* SimdTransformVector4(Vector4* out, const Vector4* v, const Matrix* m) {
    _mm_storeu_ps(&out->x, Row4(_mm_loadu_ps(&v->x), LoadRows(m)));
    return out;
}

Plane* SimdTransformPlane(Plane* out, const Plane* p, const Matrix* m) {
    _mm_storeu_ps(&out->a, Row4(_mm_loadu_ps(&p->a), LoadRows(m)));
    return out;
}

Matrix* SimdMultiplyMatrices(Matrix* out, const Matrix* a, const Matrix* b) {
    // Both operands are in registers before `out` is written.
    StoreRows(out, Product(LoadRows(a), LoadRows(b)));
    return out;
}

Matrix* SimdMultiplyMatricesTransposed(Matrix* out, const Matrix* a, const Matrix* b) {
    Rows r = Product(LoadRows(a), LoadRows(b));
    _MM_TRANSPOSE4_PS(r.r0, r.r1, r.r2, r.r3);
    StoreRows(out, r);
    return out;
}

Vector2* SimdTransformNormal2(Vector2* out, const Vector2* v, const Matrix* m) {
    Store2(out, Normal2(Load2(v), LoadRows(m)));
    return out;
}

Vector3* SimdTransformNormal3(Vector3* out, const Vector3* v, const Matrix* m) {
    Store3(out, Normal3(Load3(v), LoadRows(m)));
    return out;
}

Vector3* SimdNormalizeVector3(Vector3* out, const Vector3* v) {
    Store3(out, Normalize3(Load3(v)));
    return out;
}

Vector2* SimdTransformPoint2(Vector2* out, const Vector2* v, const Matrix* m) {
    Store2(out, DivideByW(Row2Plus(Load2(v), LoadRows(m))));
    return out;
}

Vector3* SimdTransformPoint3(Vector3* out, const Vector3* v, const Matrix* m) {
    Store3(out, DivideByW(Row3Plus(Load3(v), LoadRows(m))));
    return out;
}

// Arrays: the matrix stays in registers; `out` may be `in` with equal
// strides, as every element is read before it is written.

Vector4* SimdTransformVector2Array(Vector4* out, UINT outStride, const Vector2* in, UINT inStride,
                                   const Matrix* m, UINT count) {
    const Rows rows = LoadRows(m);
    Vector4* o = out;
    for (UINT i = 0; i < count;
         ++i, o = math_detail::Advance(o, outStride), in = math_detail::Advance(in, inStride))
        _mm_storeu_ps(&o->x, Row2Plus(Load2(in), rows));
    return out;
}

Vector2* SimdTransformPoint2Array(Vector2* out, UINT outStride, const Vector2* in, UINT inStride,
                                  const Matrix* m, UINT count) {
    const Rows rows = LoadRows(m);
    Vector2* o = out;
    for (UINT i = 0; i < count;
         ++i, o = math_detail::Advance(o, outStride), in = math_detail::Advance(in, inStride))
        Store2(o, DivideByW(Row2Plus(Load2(in), rows)));
    return out;
}

Vector2* SimdTransformNormal2Array(Vector2* out, UINT outStride, const Vector2* in, UINT inStride,
                                   const Matrix* m, UINT count) {
    const Rows rows = LoadRows(m);
    Vector2* o = out;
    for (UINT i = 0; i < count;
         ++i, o = math_detail::Advance(o, outStride), in = math_detail::Advance(in, inStride))
        Store2(o, Normal2(Load2(in), rows));
    return out;
}

Vector4* SimdTransformVector3Array(Vector4* out, UINT outStride, const Vector3* in, UINT inStride,
                                   const Matrix* m, UINT count) {
    const Rows rows = LoadRows(m);
    Vector4* o = out;
    for (UINT i = 0; i < count;
         ++i, o = math_detail::Advance(o, outStride), in = math_detail::Advance(in, inStride))
        _mm_storeu_ps(&o->x, Row3Plus(Load3(in), rows));
    return out;
}

Vector3* SimdTransformPoint3Array(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                                  const Matrix* m, UINT count) {
    UINT i = 0;
    Vector3* o = out;
    if (outStride == sizeof(Vector3) && inStride == sizeof(Vector3) && count >= 4) {
        // Packed both ways: four points per step, one lane each.
        const Splat s = SplatMatrix(m);
        const float* src = &in->x;
        float* dst = &o->x;
        for (; i + 8 <= count; i += 8, src += 24, dst += 24) {
            // Two groups of four per step, all loads before the stores, so
            // `out` may be `in`.
            __m128 a0 = _mm_loadu_ps(src), b0 = _mm_loadu_ps(src + 4), c0 = _mm_loadu_ps(src + 8);
            __m128 a1 = _mm_loadu_ps(src + 12), b1 = _mm_loadu_ps(src + 16),
                   c1 = _mm_loadu_ps(src + 20);
            Points3x4(s, &a0, &b0, &c0);
            Points3x4(s, &a1, &b1, &c1);
            _mm_storeu_ps(dst, a0);
            _mm_storeu_ps(dst + 4, b0);
            _mm_storeu_ps(dst + 8, c0);
            _mm_storeu_ps(dst + 12, a1);
            _mm_storeu_ps(dst + 16, b1);
            _mm_storeu_ps(dst + 20, c1);
        }
        for (; i + 4 <= count; i += 4, src += 12, dst += 12) {
            __m128 a = _mm_loadu_ps(src), b = _mm_loadu_ps(src + 4), c = _mm_loadu_ps(src + 8);
            Points3x4(s, &a, &b, &c);
            _mm_storeu_ps(dst, a);
            _mm_storeu_ps(dst + 4, b);
            _mm_storeu_ps(dst + 8, c);
        }
        in += i;
        o += i;
    }
    const Rows rows = LoadRows(m);
    for (; i < count;
         ++i, o = math_detail::Advance(o, outStride), in = math_detail::Advance(in, inStride))
        Store3(o, DivideByW(Row3Plus(Load3(in), rows)));
    return out;
}

Vector3* SimdTransformNormal3Array(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                                   const Matrix* m, UINT count) {
    const Rows rows = LoadRows(m);
    Vector3* o = out;
    for (UINT i = 0; i < count;
         ++i, o = math_detail::Advance(o, outStride), in = math_detail::Advance(in, inStride))
        Store3(o, Normal3(Load3(in), rows));
    return out;
}

Vector4* SimdTransformVector4Array(Vector4* out, UINT outStride, const Vector4* in, UINT inStride,
                                   const Matrix* m, UINT count) {
    const Rows rows = LoadRows(m);
    Vector4* o = out;
    for (UINT i = 0; i < count;
         ++i, o = math_detail::Advance(o, outStride), in = math_detail::Advance(in, inStride))
        _mm_storeu_ps(&o->x, Row4(_mm_loadu_ps(&in->x), rows));
    return out;
}

Plane* SimdTransformPlaneArray(Plane* out, UINT outStride, const Plane* in, UINT inStride,
                               const Matrix* m, UINT count) {
    const Rows rows = LoadRows(m);
    Plane* o = out;
    for (UINT i = 0; i < count;
         ++i, o = math_detail::Advance(o, outStride), in = math_detail::Advance(in, inStride))
        _mm_storeu_ps(&o->a, Row4(_mm_loadu_ps(&in->a), rows));
    return out;
}

// Fills the entries the two sets share; the caller adds its own forms.
inline void InstallSimdForms(MathDispatchTable* table) {
    // The sets' other entries (determinant, planes from points, the 4-D
    // cross product, quaternions, curves, shadow and reflection matrices,
    // blending, patches) run the portable code, which the table holds
    // already.
    table->TransformVector2 = &SimdTransformVector2;
    table->TransformVector3 = &SimdTransformVector3;
    table->TransformVector4 = &SimdTransformVector4;
    table->MultiplyMatrices = &SimdMultiplyMatrices;
    table->MultiplyMatricesTransposed = &SimdMultiplyMatricesTransposed;
    table->TransformNormal2 = &SimdTransformNormal2;
    table->TransformNormal3 = &SimdTransformNormal3;
    table->NormalizeVector3 = &SimdNormalizeVector3;
    table->TransformPoint2 = &SimdTransformPoint2;
    table->TransformPoint3 = &SimdTransformPoint3;
    table->TransformPlane = &SimdTransformPlane;
    table->TransformVector2Array = &SimdTransformVector2Array;
    table->TransformPoint2Array = &SimdTransformPoint2Array;
    table->TransformNormal2Array = &SimdTransformNormal2Array;
    table->TransformVector3Array = &SimdTransformVector3Array;
    table->TransformPoint3Array = &SimdTransformPoint3Array;
    table->TransformNormal3Array = &SimdTransformNormal3Array;
    table->TransformVector4Array = &SimdTransformVector4Array;
    table->TransformPlaneArray = &SimdTransformPlaneArray;
}

}  // namespace
