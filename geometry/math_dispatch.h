// The table of math entry points and the choice of processor-specific
// variants behind the operations of geometry/math.h.
//
// Before the first call every entry points to a trampoline for its own
// operation; the first call of any of them chooses a variant set for the
// whole table (SelectMathVariants) and goes on to the chosen variant. After
// that, an operation costs one indirect jump.
#pragma once

#include <cstddef>

#include "geometry/math.h"
#include "platform/win32/types.h"

// X(entry number, operation, result type, (parameters), (arguments)), in
// table order.
// clang-format off
#define VINTREL_MATH_ENTRIES(X)                                                                   \
    X(0, TransformVector2, Vector4*, (Vector4* out, const Vector2* v, const Matrix* m),           \
      (out, v, m))                                                                                 \
    X(1, TransformVector3, Vector4*, (Vector4* out, const Vector3* v, const Matrix* m),           \
      (out, v, m))                                                                                 \
    X(2, TransformVector4, Vector4*, (Vector4* out, const Vector4* v, const Matrix* m),           \
      (out, v, m))                                                                                 \
    X(3, MultiplyMatrices, Matrix*, (Matrix* out, const Matrix* a, const Matrix* b), (out, a, b)) \
    X(4, MultiplyMatricesTransposed, Matrix*, (Matrix* out, const Matrix* a, const Matrix* b),    \
      (out, a, b))                                                                                 \
    X(5, TransformNormal2, Vector2*, (Vector2* out, const Vector2* v, const Matrix* m),           \
      (out, v, m))                                                                                 \
    X(6, TransformNormal3, Vector3*, (Vector3* out, const Vector3* v, const Matrix* m),           \
      (out, v, m))                                                                                 \
    X(7, NormalizeVector3, Vector3*, (Vector3* out, const Vector3* v), (out, v))                  \
    X(8, NormalizeVector4, Vector4*, (Vector4* out, const Vector4* v), (out, v))                  \
    X(9, TransformPoint2, Vector2*, (Vector2* out, const Vector2* v, const Matrix* m),            \
      (out, v, m))                                                                                 \
    X(10, TransformPoint3, Vector3*, (Vector3* out, const Vector3* v, const Matrix* m),           \
      (out, v, m))                                                                                 \
    X(11, ComputeDeterminant, float, (const Matrix* m), (m))                                       \
    X(12, PlaneFromPointAndNormal, Plane*,                                                         \
      (Plane* out, const Vector3* point, const Vector3* normal), (out, point, normal))            \
    X(13, PlaneFromThreePoints, Plane*,                                                            \
      (Plane* out, const Vector3* a, const Vector3* b, const Vector3* c), (out, a, b, c))         \
    X(14, ProjectToViewport, Vector3*,                                                             \
      (Vector3* out, const Vector3* v, const Viewport* viewport, const Matrix* projection,        \
       const Matrix* view, const Matrix* world),                                                   \
      (out, v, viewport, projection, view, world))                                                 \
    X(15, UnprojectFromViewport, Vector3*,                                                         \
      (Vector3* out, const Vector3* v, const Viewport* viewport, const Matrix* projection,        \
       const Matrix* view, const Matrix* world),                                                   \
      (out, v, viewport, projection, view, world))                                                 \
    X(16, CrossVector4, Vector4*,                                                                  \
      (Vector4* out, const Vector4* a, const Vector4* b, const Vector4* c), (out, a, b, c))       \
    X(17, HermiteVector2, Vector2*,                                                                \
      (Vector2* out, const Vector2* p1, const Vector2* t1, const Vector2* p2, const Vector2* t2,  \
       float s),                                                                                   \
      (out, p1, t1, p2, t2, s))                                                                    \
    X(18, InvertMatrix, Matrix*, (Matrix* out, float* determinant, const Matrix* m),              \
      (out, determinant, m))                                                                       \
    X(19, MultiplyQuaternions, Quaternion*,                                                        \
      (Quaternion* out, const Quaternion* q1, const Quaternion* q2), (out, q1, q2))               \
    X(20, NormalizeQuaternion, Quaternion*, (Quaternion* out, const Quaternion* q), (out, q))     \
    X(21, NormalizePlane, Plane*, (Plane* out, const Plane* p), (out, p))                         \
    X(22, IntersectPlaneWithLine, Vector3*,                                                        \
      (Vector3* out, const Plane* p, const Vector3* a, const Vector3* b), (out, p, a, b))         \
    X(23, QuaternionToAxisAndAngle, void, (Vector3* axis, float* angle, const Quaternion* q),     \
      (axis, angle, q))                                                                            \
    X(24, QuaternionFromMatrix, Quaternion*, (Quaternion* out, const Matrix* m), (out, m))        \
    X(25, QuaternionFromYawPitchRoll, Quaternion*,                                                 \
      (Quaternion* out, float yaw, float pitch, float roll), (out, yaw, pitch, roll))             \
    X(26, BuildTranslationMatrix, Matrix*, (Matrix* out, float x, float y, float z),              \
      (out, x, y, z))                                                                              \
    X(27, BuildShadowMatrix, Matrix*, (Matrix* out, const Vector4* light, const Plane* plane),    \
      (out, light, plane))                                                                         \
    X(28, BuildReflectionMatrix, Matrix*, (Matrix* out, const Plane* plane), (out, plane))        \
    X(29, QuaternionFromAxisAndAngle, Quaternion*,                                                 \
      (Quaternion* out, const Vector3* axis, float angle), (out, axis, angle))                    \
    X(30, BuildRotationXMatrix, Matrix*, (Matrix* out, float angle), (out, angle))                \
    X(31, BuildRotationYMatrix, Matrix*, (Matrix* out, float angle), (out, angle))                \
    X(32, BuildRotationZMatrix, Matrix*, (Matrix* out, float angle), (out, angle))                \
    X(33, BuildScalingMatrix, Matrix*, (Matrix* out, float sx, float sy, float sz),               \
      (out, sx, sy, sz))                                                                           \
    X(34, TransformPlane, Plane*, (Plane* out, const Plane* p, const Matrix* m), (out, p, m))     \
    X(35, SlerpQuaternions, Quaternion*,                                                           \
      (Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t), (out, q1, q2, t))   \
    X(36, BarycentricQuaternion, Quaternion*,                                                      \
      (Quaternion* out, const Quaternion* q1, const Quaternion* q2, const Quaternion* q3,         \
       float f, float g),                                                                          \
      (out, q1, q2, q3, f, g))                                                                     \
    X(37, TransposeMatrix, Matrix*, (Matrix* out, const Matrix* m), (out, m))                     \
    X(38, BuildMatrixFromQuaternion, Matrix*, (Matrix* out, const Quaternion* q), (out, q))       \
    X(39, BuildTransformationMatrix, Matrix*,                                                      \
      (Matrix* out, const Vector3* scalingCenter, const Quaternion* scalingRotation,              \
       const Vector3* scaling, const Vector3* rotationCenter, const Quaternion* rotation,           \
       const Vector3* translation),                                                                \
      (out, scalingCenter, scalingRotation, scaling, rotationCenter, rotation, translation))       \
    X(40, BuildYawPitchRollMatrix, Matrix*, (Matrix* out, float yaw, float pitch, float roll),    \
      (out, yaw, pitch, roll))                                                                     \
    X(41, BuildAffineTransformationMatrix, Matrix*,                                                \
      (Matrix* out, float scaling, const Vector3* rotationCenter, const Quaternion* rotation,     \
       const Vector3* translation),                                                                \
      (out, scaling, rotationCenter, rotation, translation))                                       \
    X(42, BuildAxisRotationMatrix, Matrix*, (Matrix* out, const Vector3* axis, float angle),      \
      (out, axis, angle))                                                                          \
    X(43, SquadQuaternions, Quaternion*,                                                           \
      (Quaternion* out, const Quaternion* q1, const Quaternion* a, const Quaternion* b,           \
       const Quaternion* c, float t),                                                              \
      (out, q1, a, b, c, t))                                                                       \
    X(44, InvertQuaternion, Quaternion*, (Quaternion* out, const Quaternion* q), (out, q))        \
    X(45, PrepareSquadControlPoints, void,                                                         \
      (Quaternion* outA, Quaternion* outB, Quaternion* outC, const Quaternion* q0,                \
       const Quaternion* q1, const Quaternion* q2, const Quaternion* q3),                          \
      (outA, outB, outC, q0, q1, q2, q3))                                                          \
    X(46, NormalizeVector2, Vector2*, (Vector2* out, const Vector2* v), (out, v))                 \
    X(47, CatmullRomVector2, Vector2*,                                                             \
      (Vector2* out, const Vector2* p0, const Vector2* p1, const Vector2* p2, const Vector2* p3,  \
       float s),                                                                                   \
      (out, p0, p1, p2, p3, s))                                                                    \
    X(48, BarycentricVector2, Vector2*,                                                            \
      (Vector2* out, const Vector2* v1, const Vector2* v2, const Vector2* v3, float f, float g),  \
      (out, v1, v2, v3, f, g))                                                                     \
    X(49, HermiteVector3, Vector3*,                                                                \
      (Vector3* out, const Vector3* p1, const Vector3* t1, const Vector3* p2, const Vector3* t2,  \
       float s),                                                                                   \
      (out, p1, t1, p2, t2, s))                                                                    \
    X(50, CatmullRomVector3, Vector3*,                                                             \
      (Vector3* out, const Vector3* p0, const Vector3* p1, const Vector3* p2, const Vector3* p3,  \
       float s),                                                                                   \
      (out, p0, p1, p2, p3, s))                                                                    \
    X(51, BarycentricVector3, Vector3*,                                                            \
      (Vector3* out, const Vector3* v1, const Vector3* v2, const Vector3* v3, float f, float g),  \
      (out, v1, v2, v3, f, g))                                                                     \
    X(52, HermiteVector4, Vector4*,                                                                \
      (Vector4* out, const Vector4* p1, const Vector4* t1, const Vector4* p2, const Vector4* t2,  \
       float s),                                                                                   \
      (out, p1, t1, p2, t2, s))                                                                    \
    X(53, CatmullRomVector4, Vector4*,                                                             \
      (Vector4* out, const Vector4* p0, const Vector4* p1, const Vector4* p2, const Vector4* p3,  \
       float s),                                                                                   \
      (out, p0, p1, p2, p3, s))                                                                    \
    X(54, BarycentricVector4, Vector4*,                                                            \
      (Vector4* out, const Vector4* v1, const Vector4* v2, const Vector4* v3, float f, float g),  \
      (out, v1, v2, v3, f, g))                                                                     \
    X(55, QuaternionLogarithm, Quaternion*, (Quaternion* out, const Quaternion* q), (out, q))     \
    X(56, QuaternionExponential, Quaternion*, (Quaternion* out, const Quaternion* q), (out, q))   \
    X(57, ConvertFloat32ToFloat16Array, Float16*, (Float16* out, const float* in, UINT count),    \
      (out, in, count))                                                                            \
    X(58, ConvertFloat16ToFloat32Array, float*, (float* out, const Float16* in, UINT count),       \
      (out, in, count))                                                                            \
    X(59, TransformVector2Array, Vector4*,                                                         \
      (Vector4* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,           \
       UINT count),                                                                                \
      (out, outStride, in, inStride, m, count))                                                    \
    X(60, TransformPoint2Array, Vector2*,                                                          \
      (Vector2* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,           \
       UINT count),                                                                                \
      (out, outStride, in, inStride, m, count))                                                    \
    X(61, TransformNormal2Array, Vector2*,                                                         \
      (Vector2* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,           \
       UINT count),                                                                                \
      (out, outStride, in, inStride, m, count))                                                    \
    X(62, TransformVector3Array, Vector4*,                                                         \
      (Vector4* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,           \
       UINT count),                                                                                \
      (out, outStride, in, inStride, m, count))                                                    \
    X(63, TransformPoint3Array, Vector3*,                                                          \
      (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,           \
       UINT count),                                                                                \
      (out, outStride, in, inStride, m, count))                                                    \
    X(64, TransformNormal3Array, Vector3*,                                                         \
      (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,           \
       UINT count),                                                                                \
      (out, outStride, in, inStride, m, count))                                                    \
    X(65, TransformVector4Array, Vector4*,                                                         \
      (Vector4* out, UINT outStride, const Vector4* in, UINT inStride, const Matrix* m,           \
       UINT count),                                                                                \
      (out, outStride, in, inStride, m, count))                                                    \
    X(66, ProjectToViewportArray, Vector3*,                                                        \
      (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Viewport* viewport,  \
       const Matrix* projection, const Matrix* view, const Matrix* world, UINT count),             \
      (out, outStride, in, inStride, viewport, projection, view, world, count))                    \
    X(67, UnprojectFromViewportArray, Vector3*,                                                    \
      (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Viewport* viewport,  \
       const Matrix* projection, const Matrix* view, const Matrix* world, UINT count),             \
      (out, outStride, in, inStride, viewport, projection, view, world, count))                    \
    X(68, TransformPlaneArray, Plane*,                                                             \
      (Plane* out, UINT outStride, const Plane* in, UINT inStride, const Matrix* m, UINT count),  \
      (out, outStride, in, inStride, m, count))                                                    \
    X(69, BlendSkinnedVertices, Vector3*,                                                          \
      (Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const float* weights,       \
       UINT weightStride, const Matrix* matrices, UINT matrixCount, UINT count),                   \
      (out, outStride, in, inStride, weights, weightStride, matrices, matrixCount, count))         \
    X(70, TessellateNPatches, Vector3*,                                                            \
      (Vector3* outPositions, Vector3* outNormals, const Vector3* corners,                        \
       const Vector3* normals, UINT segments),                                                     \
      (outPositions, outNormals, corners, normals, segments))                                      \
    X(71, BuildTransformationMatrix2D, Matrix*,                                                    \
      (Matrix* out, const Vector2* scalingCenter, float scalingRotation, const Vector2* scaling,  \
       const Vector2* rotationCenter, float rotation, const Vector2* translation),                 \
      (out, scalingCenter, scalingRotation, scaling, rotationCenter, rotation, translation))       \
    X(72, BuildAffineTransformationMatrix2D, Matrix*,                                              \
      (Matrix* out, float scaling, const Vector2* rotationCenter, float rotation,                 \
       const Vector2* translation),                                                                \
      (out, scaling, rotationCenter, rotation, translation))

// clang-format on

constexpr int MATH_ENTRY_COUNT = 73;

// One typed entry point per operation, in table order.
struct MathDispatchTable {
#define VINTREL_MATH_MEMBER(index, name, result, params, args) result(*name) params;
    VINTREL_MATH_ENTRIES(VINTREL_MATH_MEMBER)
#undef VINTREL_MATH_MEMBER
};
static_assert(sizeof(MathDispatchTable) == MATH_ENTRY_COUNT * sizeof(void (*)()));

// The live table the operations call through.
extern MathDispatchTable mathDispatchTable;

// Which variant set fills the table.
constexpr DWORD MATH_STATE_UNINITIALISED = 65535;
constexpr DWORD MATH_STATE_PORTABLE = 0;  // portable and x87 set only
constexpr DWORD MATH_STATE_3DNOW = 1;
constexpr DWORD MATH_STATE_SSE2 = 2;
constexpr DWORD MATH_STATE_SSE = 3;
DWORD GetMathVariantState();

// Fills the table once (later calls return at once). The trampolines call
// it; calling it directly does no harm.
void SelectMathVariants();

// Warns on the debugger output, once, when zero-byte allocations are not
// unique and non-null.
void CheckAllocatorConformance();

// Reads a DWORD value under HKEY_LOCAL_MACHINE "Software\Microsoft\Direct3D".
// Succeeds only when the key opens, the query succeeds and the value is a
// REG_DWORD; `out` is written only then.
bool ReadDirect3DRegistryDword(const char* name, DWORD* out);

// Bits of ProcessorFeatureFlags as the 3DNow! set computes them from cpuid.
constexpr DWORD PROCESSOR_FLAG_BASE = 0x1;
constexpr DWORD PROCESSOR_FLAG_CPUID = 0x2;
constexpr DWORD PROCESSOR_FLAG_EXTENDED_CPUID = 0x4;
constexpr DWORD PROCESSOR_FLAG_MMX = 0x20;
constexpr DWORD PROCESSOR_FLAG_SSE = 0x40;
constexpr DWORD PROCESSOR_FLAG_3DNOW = 0x80;
constexpr DWORD PROCESSOR_FLAG_3DNOW_EXTENDED = 0x100;
constexpr DWORD PROCESSOR_FLAG_MMX_EXTENDED = 0x200;
DWORD ComputeProcessorFeatureFlags();

// The variant sets. The portable set never changes; the others overwrite
// the entries they provide in `table`. The SSE and SSE2 installers return
// false (and change nothing) in a build without SIMD code.
const MathDispatchTable& PortableMathVariants();
void InstallX87MathVariants(MathDispatchTable* table);
void InstallThreeDNowMathVariants(MathDispatchTable* table);
bool InstallSseMathVariants(MathDispatchTable* table);
bool InstallSse2MathVariants(MathDispatchTable* table);

// Entry `index` of `table` as an untyped address, to compare tables.
const void* MathEntryAddress(const MathDispatchTable& table, int index);

// Testing hooks: put the table back to its trampolines and the state word
// to 65535 (and clear the allocator check's once-only flag), so the next
// call selects again; forget the cached MMX answer; replace the zero-byte
// allocation the conformance check makes (null restores the real one).
void ResetMathVariantsForTesting();
void ResetMmxAvailabilityForTesting();
using ZeroByteAllocator = void* (*)();
using ZeroByteDeallocator = void (*)(void*);
void SetZeroByteAllocatorForTesting(ZeroByteAllocator allocate, ZeroByteDeallocator release);

// The variant sets' own functions, for the installers and the tests.
namespace math_portable {
#define VINTREL_MATH_DECLARE(index, name, result, params, args) result name params;
VINTREL_MATH_ENTRIES(VINTREL_MATH_DECLARE)
#undef VINTREL_MATH_DECLARE
}  // namespace math_portable
