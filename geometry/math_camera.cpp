// The camera matrices: called directly, not through the table (the look-at
// matrix normalises through it).
#include <cmath>

#include "geometry/math.h"

Matrix* BuildLookAtMatrixLeftHanded(Matrix* out, const Vector3* eye, const Vector3* at,
                                    const Vector3* up) {
    Vector3 z{at->x - eye->x, at->y - eye->y, at->z - eye->z};
    NormalizeVector3(&z, &z);
    Vector3 x{up->y * z.z - up->z * z.y, up->z * z.x - up->x * z.z, up->x * z.y - up->y * z.x};
    NormalizeVector3(&x, &x);
    const Vector3 y{z.y * x.z - z.z * x.y, z.z * x.x - z.x * x.z, z.x * x.y - z.y * x.x};
    const Vector3 e = *eye;
    auto dot = [&e](const Vector3& a) { return (a.y * e.y + a.x * e.x) + a.z * e.z; };
    *out = {{{x.x, y.x, z.x, 0.0f},
             {x.y, y.y, z.y, 0.0f},
             {x.z, y.z, z.z, 0.0f},
             {-dot(x), -dot(y), -dot(z), 1.0f}}};
    return out;
}

Matrix* BuildPerspectiveMatrixLeftHanded(Matrix* out, float fovY, float aspect, float zNear,
                                         float zFar) {
    float h = std::cos(0.5f * fovY) / std::sin(0.5f * fovY);
    float depth = zFar / (zFar - zNear);
    *out = {{{h / aspect, 0.0f, 0.0f, 0.0f},
             {0.0f, h, 0.0f, 0.0f},
             {0.0f, 0.0f, depth, 1.0f},
             {0.0f, 0.0f, -zNear * depth, 0.0f}}};
    return out;
}
