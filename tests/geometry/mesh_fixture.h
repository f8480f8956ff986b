// A software device and small meshes for the mesh tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "geometry/geometry.h"
#include "geometry/math_half.h"
#include "platform/win32/debug.h"
#include "tests/support/software_device_test.h"

// Counts the device's refused indexed draws: outside BeginScene/EndScene
// every draw call fails with one debug message, which makes the calls a
// mesh issues countable.
class DrawCounter {
public:
    DrawCounter() { previous_ = SetDebugOutputHookForTesting(&DrawCounter::Hook, this); }
    ~DrawCounter() { SetDebugOutputHookForTesting(previous_, nullptr); }
    int indexed = 0, perFace = 0;

private:
    static void Hook(const char* text, void* self) {
        auto* counter = static_cast<DrawCounter*>(self);
        if (std::strstr(text, "DrawIndexedPrimitive:")) ++counter->indexed;
        if (std::strstr(text, "DrawPrimitiveUP:")) ++counter->perFace;
    }
    DebugOutputHook previous_;
};

// Tests read the back buffer back, so it is lockable.
class MeshTest : public SoftwareDeviceTest {
protected:
    MeshTest() : SoftwareDeviceTest(D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) {}

    // A mesh with XYZ positions, the given triangles and attributes.
    Mesh* Make(const std::vector<float>& xyz, const std::vector<DWORD>& indices, const std::vector<DWORD>& attributes,
               DWORD options = OPT_IB_SYSTEMMEM | OPT_VB_SYSTEMMEM) {
        Mesh* mesh = nullptr;
        const DWORD faces = static_cast<DWORD>(indices.size() / 3);
        const DWORD vertices = static_cast<DWORD>(xyz.size() / 3);
        EXPECT_EQ(CreateMeshFvf(faces, vertices, options, D3DFVF_XYZ, device, &mesh), S_OK);
        if (!mesh) return nullptr;
        void* p = nullptr;
        EXPECT_EQ(mesh->LockVertices(0, &p), S_OK);
        std::memcpy(p, xyz.data(), xyz.size() * 4);
        mesh->UnlockVertices();
        EXPECT_EQ(mesh->LockIndices(0, &p), S_OK);
        for (size_t i = 0; i < indices.size(); ++i) {
            if (options & OPT_32BIT_INDICES) static_cast<DWORD*>(p)[i] = indices[i];
            else static_cast<WORD*>(p)[i] = static_cast<WORD>(indices[i]);
        }
        mesh->UnlockIndices();
        DWORD* a = nullptr;
        EXPECT_EQ(mesh->LockAttributes(0, &a), S_OK);
        for (size_t i = 0; i < attributes.size(); ++i) a[i] = attributes[i];
        mesh->UnlockAttributes();
        return mesh;
    }

    std::vector<DWORD> Indices(Mesh* mesh) {
        std::vector<DWORD> out(mesh->GetFaceCount() * 3);
        void* p = nullptr;
        EXPECT_EQ(mesh->LockIndices(D3DLOCK_READONLY, &p), S_OK);
        for (size_t i = 0; i < out.size(); ++i) {
            out[i] = (mesh->GetCreationOptions() & OPT_32BIT_INDICES) ? static_cast<DWORD*>(p)[i]
                                                                      : static_cast<WORD*>(p)[i];
        }
        mesh->UnlockIndices();
        return out;
    }

    // The back buffer's pixel at (x, y), as X8R8G8B8.
    DWORD BackPixel(int x, int y) {
        IDirect3DSurface9* back = nullptr;
        EXPECT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
        if (!back) return 0;
        D3DLOCKED_RECT lr{};
        DWORD v = 0;
        if (back->LockRect(&lr, nullptr, D3DLOCK_READONLY) == D3D_OK) {
            v = reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch)[x] & 0xFFFFFF;
            back->UnlockRect();
        }
        back->Release();
        return v;
    }
};
