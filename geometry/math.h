// Vectors, quaternions, planes and 4x4 matrices for 3-D graphics.
//
// Conventions, once for the whole kit:
//  - Points and directions are ROW vectors multiplied on the left:
//    v' = v x M. A product A x B applies A first, then B, and the
//    translation lives in the fourth row (m41 m42 m43).
//  - Coordinates are LEFT-HANDED: +z points into the screen.
//  - Angles are in RADIANS.
//  - Every operation takes its output first, by address, and returns that
//    same address; inputs come by address (vectors, matrices) or by value
//    (scalars). Unless an operation says otherwise, `out` may be one of the
//    inputs.
//
// Most operations go through a table of processor-specific variants that is
// filled on the first call of any of them (see geometry/math_dispatch.h).
// That first call is not synchronised: a program with several threads makes
// one call before starting the others.
#pragma once

#include <cstdint>

#include "platform/win32/types.h"

struct Vector2 {
    float x, y;
};

struct Vector3 {
    float x, y, z;
};

struct Vector4 {
    float x, y, z, w;
};

// w is the scalar part.
struct Quaternion {
    float x, y, z, w;
};

// The plane a*x + b*y + c*z + d = 0.
struct Plane {
    float a, b, c, d;
};

// Sixteen floats row by row: m[R-1][C-1] is element mRC.
struct Matrix {
    float m[4][4];
};

// The rectangle of the render target a projection maps onto, laid out as
// the device's viewport record: pixels, then the depth range.
struct Viewport {
    DWORD x, y, width, height;
    float minZ, maxZ;
};

// A 16-bit floating-point number (1 sign, 5 exponent, 10 mantissa bits).
using Float16 = std::uint16_t;

static_assert(sizeof(Vector2) == 8 && sizeof(Vector3) == 12 && sizeof(Vector4) == 16);
static_assert(sizeof(Quaternion) == 16 && sizeof(Plane) == 16 && sizeof(Matrix) == 64);
static_assert(sizeof(Viewport) == 24);

// ---------------------------------------------------------------------------
// Vectors and matrices

// (x, y, 0, 1) x m, (x, y, z, 1) x m and v x m, without division.
Vector4* TransformVector2(Vector4* out, const Vector2* v, const Matrix* m);
Vector4* TransformVector3(Vector4* out, const Vector3* v, const Matrix* m);
Vector4* TransformVector4(Vector4* out, const Vector4* v, const Matrix* m);
// a x b. `out` may be `a` or `b` (or both).
Matrix* MultiplyMatrices(Matrix* out, const Matrix* a, const Matrix* b);
// The transpose of a x b.
Matrix* MultiplyMatricesTransposed(Matrix* out, const Matrix* a, const Matrix* b);
// v times the upper 2x2 / 3x3 of m: no translation, no division.
Vector2* TransformNormal2(Vector2* out, const Vector2* v, const Matrix* m);
Vector3* TransformNormal3(Vector3* out, const Vector3* v, const Matrix* m);
// v / |v|. A vector of length 1 within 2^-23 comes back unchanged, one of
// (almost) zero length becomes zero.
Vector3* NormalizeVector3(Vector3* out, const Vector3* v);
Vector4* NormalizeVector4(Vector4* out, const Vector4* v);
Vector2* NormalizeVector2(Vector2* out, const Vector2* v);
// (x, y, 0, 1) x m and (x, y, z, 1) x m divided by w (unless w is 1 within
// 2^-23).
Vector2* TransformPoint2(Vector2* out, const Vector2* v, const Matrix* m);
Vector3* TransformPoint3(Vector3* out, const Vector3* v, const Matrix* m);
float ComputeDeterminant(const Matrix* m);
// The inverse of m, or null (and `out` untouched) when m is singular.
// `determinant` may be null.
Matrix* InvertMatrix(Matrix* out, float* determinant, const Matrix* m);
Matrix* TransposeMatrix(Matrix* out, const Matrix* m);
// The 4-D cross product: the vector orthogonal to a, b and c.
Vector4* CrossVector4(Vector4* out, const Vector4* a, const Vector4* b, const Vector4* c);

// ---------------------------------------------------------------------------
// Matrix builders. Every element of `out` is written.

Matrix* BuildTranslationMatrix(Matrix* out, float x, float y, float z);
Matrix* BuildScalingMatrix(Matrix* out, float sx, float sy, float sz);
Matrix* BuildRotationXMatrix(Matrix* out, float angle);
Matrix* BuildRotationYMatrix(Matrix* out, float angle);
Matrix* BuildRotationZMatrix(Matrix* out, float angle);
// Rotation by `angle` about `axis` (normalised first).
Matrix* BuildAxisRotationMatrix(Matrix* out, const Vector3* axis, float angle);
// Roll about z, then pitch about x, then yaw about y.
Matrix* BuildYawPitchRollMatrix(Matrix* out, float yaw, float pitch, float roll);
Matrix* BuildMatrixFromQuaternion(Matrix* out, const Quaternion* q);
// Flattens geometry onto `plane` as seen from `light` (w = 0: a direction,
// w = 1: a point). The plane is normalised first.
Matrix* BuildShadowMatrix(Matrix* out, const Vector4* light, const Plane* plane);
// Mirrors in `plane` (normalised first).
Matrix* BuildReflectionMatrix(Matrix* out, const Plane* plane);
// Scaling about `scalingCenter` in the frame rotated by `scalingRotation`,
// then rotation about `rotationCenter`, then translation. Any pointer may be
// null and then stands for the identity of its part.
Matrix* BuildTransformationMatrix(Matrix* out, const Vector3* scalingCenter,
                                  const Quaternion* scalingRotation, const Vector3* scaling,
                                  const Vector3* rotationCenter, const Quaternion* rotation,
                                  const Vector3* translation);
// Uniform scaling, rotation about `rotationCenter`, translation; null
// pointers stand for the identity of their part.
Matrix* BuildAffineTransformationMatrix(Matrix* out, float scaling, const Vector3* rotationCenter,
                                        const Quaternion* rotation, const Vector3* translation);
// The same two in the x-y plane (rotation about z).
Matrix* BuildTransformationMatrix2D(Matrix* out, const Vector2* scalingCenter,
                                    float scalingRotation, const Vector2* scaling,
                                    const Vector2* rotationCenter, float rotation,
                                    const Vector2* translation);
Matrix* BuildAffineTransformationMatrix2D(Matrix* out, float scaling, const Vector2* rotationCenter,
                                          float rotation, const Vector2* translation);

// The view matrix of a camera at `eye` looking at `at`. Not normalised
// again: y = z x x. With `at` equal to `eye`, or `up` along the view, the
// degenerate axes come out zero.
Matrix* BuildLookAtMatrixLeftHanded(Matrix* out, const Vector3* eye, const Vector3* at,
                                    const Vector3* up);
// Maps view depth zNear to 0 and zFar to 1 after division by w = z.
Matrix* BuildPerspectiveMatrixLeftHanded(Matrix* out, float fovY, float aspect, float zNear,
                                         float zFar);

// ---------------------------------------------------------------------------
// Planes

Plane* PlaneFromPointAndNormal(Plane* out, const Vector3* point, const Vector3* normal);
// The plane through three points, its normal (b - a) x (c - a) normalised.
Plane* PlaneFromThreePoints(Plane* out, const Vector3* a, const Vector3* b, const Vector3* c);
// Divides a, b, c and d by |(a, b, c)|; zero stays zero.
Plane* NormalizePlane(Plane* out, const Plane* p);
// Where the line through a and b meets the plane, or null (and `out`
// untouched) when the line is parallel to it.
Vector3* IntersectPlaneWithLine(Vector3* out, const Plane* p, const Vector3* a, const Vector3* b);
// (a, b, c, d) x m: m is the inverse transpose of the transform the points
// undergo.
Plane* TransformPlane(Plane* out, const Plane* p, const Matrix* m);

// ---------------------------------------------------------------------------
// Viewport projection: world -> view -> projection -> viewport and back.
// Any matrix may be null (identity).

Vector3* ProjectToViewport(Vector3* out, const Vector3* v, const Viewport* viewport,
                           const Matrix* projection, const Matrix* view, const Matrix* world);
Vector3* UnprojectFromViewport(Vector3* out, const Vector3* v, const Viewport* viewport,
                               const Matrix* projection, const Matrix* view, const Matrix* world);

// ---------------------------------------------------------------------------
// Quaternions. A product q1 x q2 rotates by q1 first, then by q2, like the
// matrix product.

Quaternion* MultiplyQuaternions(Quaternion* out, const Quaternion* q1, const Quaternion* q2);
Quaternion* NormalizeQuaternion(Quaternion* out, const Quaternion* q);
// conjugate / |q|^2.
Quaternion* InvertQuaternion(Quaternion* out, const Quaternion* q);
// Axis (not normalised: the vector part) and angle of a unit quaternion.
void QuaternionToAxisAndAngle(Vector3* axis, float* angle, const Quaternion* q);
// The rotation of the upper 3x3 of m (which must be a rotation).
Quaternion* QuaternionFromMatrix(Quaternion* out, const Matrix* m);
Quaternion* QuaternionFromYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll);
Quaternion* QuaternionFromAxisAndAngle(Quaternion* out, const Vector3* axis, float angle);
// Spherical interpolation from q1 (t = 0) to q2 (t = 1) along the shorter arc.
Quaternion* SlerpQuaternions(Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t);
Quaternion* BarycentricQuaternion(Quaternion* out, const Quaternion* q1, const Quaternion* q2,
                                  const Quaternion* q3, float f, float g);
// Spherical quadrangle interpolation between q1 and c with control points a
// and b (see PrepareSquadControlPoints).
Quaternion* SquadQuaternions(Quaternion* out, const Quaternion* q1, const Quaternion* a,
                             const Quaternion* b, const Quaternion* c, float t);
// The control points for a squad from q1 to q2 in the sequence q0 q1 q2 q3.
void PrepareSquadControlPoints(Quaternion* outA, Quaternion* outB, Quaternion* outC,
                               const Quaternion* q0, const Quaternion* q1, const Quaternion* q2,
                               const Quaternion* q3);
// ln and exp of unit / pure quaternions.
Quaternion* QuaternionLogarithm(Quaternion* out, const Quaternion* q);
Quaternion* QuaternionExponential(Quaternion* out, const Quaternion* q);

// ---------------------------------------------------------------------------
// Curves and barycentric combinations: v1 + f (v2 - v1) + g (v3 - v1).

Vector2* HermiteVector2(Vector2* out, const Vector2* p1, const Vector2* t1, const Vector2* p2,
                        const Vector2* t2, float s);
Vector3* HermiteVector3(Vector3* out, const Vector3* p1, const Vector3* t1, const Vector3* p2,
                        const Vector3* t2, float s);
Vector4* HermiteVector4(Vector4* out, const Vector4* p1, const Vector4* t1, const Vector4* p2,
                        const Vector4* t2, float s);
// The Catmull-Rom spline through p1 (s = 0) and p2 (s = 1).
Vector2* CatmullRomVector2(Vector2* out, const Vector2* p0, const Vector2* p1, const Vector2* p2,
                           const Vector2* p3, float s);
Vector3* CatmullRomVector3(Vector3* out, const Vector3* p0, const Vector3* p1, const Vector3* p2,
                           const Vector3* p3, float s);
Vector4* CatmullRomVector4(Vector4* out, const Vector4* p0, const Vector4* p1, const Vector4* p2,
                           const Vector4* p3, float s);
Vector2* BarycentricVector2(Vector2* out, const Vector2* v1, const Vector2* v2, const Vector2* v3,
                            float f, float g);
Vector3* BarycentricVector3(Vector3* out, const Vector3* v1, const Vector3* v2, const Vector3* v3,
                            float f, float g);
Vector4* BarycentricVector4(Vector4* out, const Vector4* v1, const Vector4* v2, const Vector4* v3,
                            float f, float g);

// ---------------------------------------------------------------------------
// Arrays. Strides are in bytes; `count` elements are read and written.
// `out` may be `in` when both strides are the same.

// Rounds to nearest, ties to even; overflow gives infinity, NaN stays NaN.
Float16* ConvertFloat32ToFloat16Array(Float16* out, const float* in, UINT count);
// Exact, denormals and infinities included.
float* ConvertFloat16ToFloat32Array(float* out, const Float16* in, UINT count);
Vector4* TransformVector2Array(Vector4* out, UINT outStride, const Vector2* in, UINT inStride,
                               const Matrix* m, UINT count);
Vector2* TransformPoint2Array(Vector2* out, UINT outStride, const Vector2* in, UINT inStride,
                              const Matrix* m, UINT count);
Vector2* TransformNormal2Array(Vector2* out, UINT outStride, const Vector2* in, UINT inStride,
                               const Matrix* m, UINT count);
Vector4* TransformVector3Array(Vector4* out, UINT outStride, const Vector3* in, UINT inStride,
                               const Matrix* m, UINT count);
Vector3* TransformPoint3Array(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                              const Matrix* m, UINT count);
Vector3* TransformNormal3Array(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                               const Matrix* m, UINT count);
Vector4* TransformVector4Array(Vector4* out, UINT outStride, const Vector4* in, UINT inStride,
                               const Matrix* m, UINT count);
Vector3* ProjectToViewportArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                                const Viewport* viewport, const Matrix* projection,
                                const Matrix* view, const Matrix* world, UINT count);
Vector3* UnprojectFromViewportArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                                    const Viewport* viewport, const Matrix* projection,
                                    const Matrix* view, const Matrix* world, UINT count);
Plane* TransformPlaneArray(Plane* out, UINT outStride, const Plane* in, UINT inStride,
                           const Matrix* m, UINT count);

// Vertex blending: each position is transformed as a point by every one of
// `matrixCount` matrices and the results are mixed by the vertex's weights.
// A vertex carries matrixCount - 1 weights (`weightStride` bytes apart per
// vertex); the last matrix gets 1 minus their sum.
Vector3* BlendSkinnedVertices(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                              const float* weights, UINT weightStride, const Matrix* matrices,
                              UINT matrixCount, UINT count);

// Evaluates the curved point-normal triangle through three corners with
// their normals at `segments` steps per edge. Writes
// (segments + 1) (segments + 2) / 2 positions (just the first corner for
// 0 segments), row by row from the first corner: row i (0 ... segments) holds i + 1 points, from
// the edge towards corner 2 to the edge towards corner 3. `outNormals` (may be null) receives the
// interpolated, normalised normals in the same order.
Vector3* TessellateNPatches(Vector3* outPositions, Vector3* outNormals, const Vector3* corners,
                            const Vector3* normals, UINT segments);

// ---------------------------------------------------------------------------
// Processor support for the image library's integer paths.

// 1 when MMX code may run, else 0. The registry switch "DisableMMX" is read
// on every call; the processor is asked once.
int IsMmxAvailable();
