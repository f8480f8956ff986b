// Loads arbitrary bytes as a ".x" model; a loaded mesh is also sorted and
// probed, as the program does with its course.
#include <cstddef>
#include <cstdint>

#include "geometry/geometry.h"
#include "platform/d3d9/offscreen_device.h"

namespace {

IDirect3DDevice9* Device() {
    static IDirect3DDevice9* device = CreateOffscreenDevice(16, 16);
    return device;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    Mesh* mesh = nullptr;
    DataBuffer* materials = nullptr;
    DataBuffer* adjacency = nullptr;
    DataBuffer* effects = nullptr;
    DWORD count = 0;
    HRESULT hr = LoadMeshFromXMemory(data, static_cast<DWORD>(size), OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, Device(),
                                     &adjacency, &materials, &effects, &count, &mesh);
    if (SUCCEEDED(hr)) {
        Mesh* sorted = nullptr;
        if (SUCCEEDED(mesh->OptimizeIntoNewMesh(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr, &sorted))) {
            const Vector3 origin{0, 100, 0}, down{0, -1, 0};
            BOOL hit = FALSE;
            DWORD face = 0, hits = 0;
            float u, v, t;
            DataBuffer* all = nullptr;
            for (DWORD id = 0; id < 4; ++id) {
                IntersectRayWithMeshGroup(sorted, id, &origin, &down, &hit, &face, &u, &v, &t, &all, &hits);
                if (all) all->Release();
                all = nullptr;
            }
            sorted->Release();
        }
        mesh->Release();
        if (materials) materials->Release();
        if (adjacency) adjacency->Release();
        if (effects) effects->Release();
    }
    return 0;
}
