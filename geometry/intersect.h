// Ray–mesh intersection over one attribute group or the whole mesh.
#pragma once

#include "geometry/math.h"
#include "geometry/mesh.h"

// One entry of the all-hits buffer.
struct IntersectInfo {
    DWORD FaceIndex;
    FLOAT U;
    FLOAT V;
    FLOAT Dist;
};
static_assert(sizeof(IntersectInfo) == 16);

// Casts the ray (origin, direction; distances in units of the direction's
// length) at the faces of attribute `attribId`; needs an attribute table.
// Outputs other than `hit` may be null. `allHits` receives a buffer of
// IntersectInfo records when something is hit; the caller releases it.
HRESULT IntersectRayWithMeshGroup(Mesh* mesh, DWORD attribId, const Vector3* origin, const Vector3* direction,
                                  BOOL* hit, DWORD* faceIndex, FLOAT* u, FLOAT* v, FLOAT* distance,
                                  DataBuffer** allHits, DWORD* hitCount);

// The same over every face of the mesh.
HRESULT IntersectRayWithMesh(Mesh* mesh, const Vector3* origin, const Vector3* direction, BOOL* hit,
                             DWORD* faceIndex, FLOAT* u, FLOAT* v, FLOAT* distance, DataBuffer** allHits,
                             DWORD* hitCount);
