// Ground contact: three rays straight down onto the course mesh give the
// car's height, its tilts and whether it is on the road (group 14).
#include <cmath>
#include <cstdio>
#include <cstring>

#include "geometry/intersect.h"
#include "scene/model.h"
#include "scene/text_overlay.h"
#include "sound/sound_set.h"
#include "vehicle/vehicle_state.h"

namespace {

constexpr float kRayStartHeight = 15.0f;
constexpr float kSideOffset = 2.0f;
constexpr float kFrontOffset = 4.0f;  // also the run of both tilt angles
constexpr float kTiltFollow = 0.1f;

// Never seeded: any run's sequence will do.
uint32_t randomState = 1;
int NextRandom() {
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & 0x7FFF);
}

// Heights of the three corners of face `face`, read from the buffers as
// they are. False when the face or its vertices lie outside the buffers or
// a buffer cannot be locked: the probe then counts as a miss.
bool ReadFaceHeights(Mesh* mesh, DWORD face, float y[3]) {
    if (face >= mesh->GetFaceCount()) return false;
    const bool wide = (mesh->GetCreationOptions() & OPT_32BIT_INDICES) != 0;
    const UINT indexSize = wide ? 4 : 2;
    DWORD stride = GetFvfVertexSize(mesh->GetVertexFormat());
    if (stride == 0) stride = mesh->GetVertexStride();
    if (stride < 3 * sizeof(float)) return false;

    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    mesh->GetIndexBufferObject(&indexBuffer);
    mesh->GetVertexBufferObject(&vertexBuffer);
    bool ok = false;
    if (indexBuffer && vertexBuffer) {
        void* indexData = nullptr;
        void* vertexData = nullptr;
        // The face's three indices in the buffer's own width.
        if (SUCCEEDED(indexBuffer->Lock(face * 3 * indexSize, 3 * indexSize, &indexData, D3DLOCK_READONLY)) &&
            indexData) {
            DWORD corner[3];
            for (int k = 0; k < 3; ++k)
                corner[k] = wide ? static_cast<const DWORD*>(indexData)[k] : static_cast<const WORD*>(indexData)[k];
            indexBuffer->Unlock();
            const DWORD vertexCount = mesh->GetVertexCount();
            if (corner[0] < vertexCount && corner[1] < vertexCount && corner[2] < vertexCount &&
                SUCCEEDED(vertexBuffer->Lock(0, 0, &vertexData, D3DLOCK_READONLY)) && vertexData) {
                const auto* bytes = static_cast<const BYTE*>(vertexData);
                for (int k = 0; k < 3; ++k) {
                    float position[3];
                    std::memcpy(position, bytes + size_t(corner[k]) * stride, sizeof position);
                    y[k] = position[1];
                }
                vertexBuffer->Unlock();
                ok = true;
            }
        }
    }
    if (indexBuffer) indexBuffer->Release();
    if (vertexBuffer) vertexBuffer->Release();
    return ok;
}

}  // namespace

int32_t PickGroundHeight(const Model& course, float x, float y, float z, float* height) {
    *height = 0.0f;
    const Vector3 origin = {x, y + kRayStartHeight, z};
    const Vector3 down = {0.0f, -1.0f, 0.0f};
    if (course.materialCount == 0 || !course.mesh) return -1;

    // The first group in ascending order that the ray meets wins, not the
    // nearest hit over all groups.
    for (DWORD group = 0; group < course.materialCount; ++group) {
        BOOL hit = FALSE;
        DWORD face = 0;
        float u = 0.0f, v = 0.0f, distance = 0.0f;
        DataBuffer* allHits = nullptr;
        DWORD hitCount = 0;
        IntersectRayWithMeshGroup(course.mesh, group, &origin, &down, &hit, &face, &u, &v, &distance, &allHits,
                                  &hitCount);
        if (allHits) allHits->Release();
        if (!hit) continue;

        float corner[3];
        if (!ReadFaceHeights(course.mesh, face, corner)) return -1;
        *height = corner[0] + u * (corner[1] - corner[0]) + v * (corner[2] - corner[0]);
        return static_cast<int32_t>(group);
    }
    return -1;
}

void VehicleState::ProbeGround(const Model& course) {
    shake = static_cast<float>(NextRandom() % 1000) * 0.00002f;

    // All three from the height found on the previous frame.
    const float h = heading;
    const float c = std::cos(h), s = std::sin(h);
    float& hL = probeHeight[0];
    float& hR = probeHeight[1];
    float& hC = probeHeight[2];
    int32_t& sL = probeSubset[0];
    int32_t& sR = probeSubset[1];
    int32_t& sC = probeSubset[2];
    sL = PickGroundHeight(course, posX - kSideOffset * c, posY, posZ + kSideOffset * s, &hL);
    sR = PickGroundHeight(course, posX + kSideOffset * c, posY, posZ - kSideOffset * s, &hR);
    sC = PickGroundHeight(course, posX - kFrontOffset * s, posY, posZ - kFrontOffset * c, &hC);

    noseTiltTarget = 0.0f;
    sideTiltTarget = -std::atan2(hL - hR, kFrontOffset);

    if (sL == -1 && sR == -1 && sC == -1) {
        // Off the mesh altogether: keep the last height and flag.
        textOverlay.AddText(0, 400, "Raypick:Collision NoHit.");
    } else {
        char line[64];
        std::snprintf(line, sizeof line, "Raypick:Collision Hit,Mesh=%d", sL);
        textOverlay.AddText(0, 400, line);
        posY = (hR + hL) * 0.5f;
        noseTiltTarget = std::atan2(hC - posY, kFrontOffset);
        if (sL == kRoadSubset && sR == kRoadSubset && sC == kRoadSubset) {
            offCourse = false;
        } else {
            if (speed > 30.0f) {
                targetSpeed = targetSpeed - targetSpeed * 0.0033333334f;
                targetRpm = targetRpm - targetRpm * 0.005f;
            }
            shake = static_cast<float>(NextRandom() % 1000) * 0.00025f;
            offCourse = true;
        }
    }

    noseTilt = noseTilt + (noseTiltTarget - noseTilt) * kTiltFollow;
    sideTilt = sideTilt + (sideTiltTarget - sideTilt) * kTiltFollow;
}

void VehicleState::AddProbeLine() const {
    char line[128];
    std::snprintf(line, sizeof line, "Y L%3.2f,R%3.2f,C%3.2f/Rot Pitch%2.2f,Bank%2.2f", double(probeHeight[0]),
                  double(probeHeight[1]), double(probeHeight[2]), double(sideTilt), double(noseTilt));
    textOverlay.AddText(0, 464, line);
}

void VehicleState::UpdateOffCourseSound() {
    if (soundSet) soundSet->UpdateOffCourseSound(offCourse, prevOffCourse);
    prevOffCourse = offCourse;
}
