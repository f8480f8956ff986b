// Shared helpers of the data-set tests: where the data set lives, a software
// device for the libraries that need one, and file reading.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace datatest {

inline std::string DataPath(const std::string& name) { return std::string(VINTREL_DATA_DIR) + "/" + name; }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline HWND TestWindow() {
    static int window;
    return reinterpret_cast<HWND>(&window);
}

// A software device, as the program makes one (the back buffer size does
// not matter to loading).
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = 64;
        p.BackBufferHeight = 64;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.Windowed = TRUE;
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, TestWindow(),
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device),
                  D3D_OK);
    }
    void TearDown() override {
        if (device) {
            EXPECT_EQ(device->Release(), 0u) << "something still holds the device";
        }
        if (d3d) d3d->Release();
    }

    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
};

}  // namespace datatest
