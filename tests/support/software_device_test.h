// A software device on a dummy window, made as the program makes one, for
// the tests of libraries that need a device. Everything the test made must
// have let go of it by the end: it is released to zero.
#pragma once

#include <gtest/gtest.h>

#include "platform/d3d9/d3d9.h"

// A dummy window handle and the small windowed back buffer such devices
// get; presentFlags: D3DPRESENTFLAG_LOCKABLE_BACKBUFFER for tests that read
// the back buffer back. Its size does not matter to the libraries.
inline HWND DummyWindow() {
    static int window;
    return reinterpret_cast<HWND>(&window);
}

inline D3DPRESENT_PARAMETERS SmallBackBuffer(DWORD presentFlags = 0) {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 64;
    p.BackBufferHeight = 64;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.Flags = presentFlags;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    return p;
}

class SoftwareDeviceTest : public ::testing::Test {
protected:
    explicit SoftwareDeviceTest(DWORD presentFlags = 0) : presentFlags_(presentFlags) {}

    void SetUp() override {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        D3DPRESENT_PARAMETERS p = SmallBackBuffer(presentFlags_);
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, DummyWindow(),
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device),
                  D3D_OK);
    }
    void TearDown() override {
        if (device) {
            EXPECT_EQ(device->Release(), 0u) << "a mesh, buffer or texture still holds the device";
        }
        if (d3d) d3d->Release();
    }

    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;

private:
    DWORD presentFlags_;
};
