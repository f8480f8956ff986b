// A device as the program creates it, for the device's tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/win32/debug.h"
#include "tests/support/software_device_test.h"

inline D3DPRESENT_PARAMETERS ProgramParameters() {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    p.BackBufferFormat = D3DFMT_R5G6B5;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    return p;
}

// A left-handed perspective of one radian vertically over the 4:3 back
// buffer, between zn and zf.
inline D3DMATRIX Perspective43(float zn, float zf) {
    D3DMATRIX projection{};
    const float ys = 1 / std::tan(0.5f);
    projection._11 = ys * 0.75f;
    projection._22 = ys;
    projection._33 = zf / (zf - zn);
    projection._34 = 1;
    projection._43 = -zn * zf / (zf - zn);
    return projection;
}

// Collects the device's debug messages while it lives.
class DebugCapture {
public:
    DebugCapture() { previous_ = SetDebugOutputHookForTesting(&DebugCapture::Hook, this); }
    ~DebugCapture() { SetDebugOutputHookForTesting(previous_, nullptr); }
    std::vector<std::string> messages;

private:
    static void Hook(const char* text, void* self) { static_cast<DebugCapture*>(self)->messages.push_back(text); }
    DebugOutputHook previous_;
};

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override { CreateWith(ProgramParameters()); }
    void CreateWith(D3DPRESENT_PARAMETERS p) {
        TearDown();
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        params = p;
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, DummyWindow(),
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
    }
    void TearDown() override {
        if (device) {
            EXPECT_EQ(device->Release(), 0u) << "device still referenced at the end of the test";
        }
        if (d3d) {
            EXPECT_EQ(d3d->Release(), 0u);
        }
        device = nullptr;
        d3d = nullptr;
    }

    // The 640 x 480 R5G6B5 back buffer of the program's parameters, row by row.
    std::vector<WORD> BackBuffer() {
        std::vector<WORD> pixels(640 * 480);
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        D3DLOCKED_RECT lr{};
        if (back->LockRect(&lr, nullptr, D3DLOCK_READONLY) == D3D_OK) {
            for (int y = 0; y < 480; ++y)
                std::memcpy(&pixels[y * 640], static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch, 640 * 2);
            back->UnlockRect();
        }
        back->Release();
        return pixels;
    }

    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    D3DPRESENT_PARAMETERS params{};
};
