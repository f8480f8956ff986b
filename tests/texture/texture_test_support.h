// Helpers of the texture-loading tests: a headless software device and DDS
// files written in memory.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/offscreen_device.h"

inline IDirect3DDevice9* CreateTestDevice() { return CreateOffscreenDevice(); }

// A DDS header (and palette) followed by `data`.
struct DdsSpec {
    UINT width = 1, height = 1, depth = 0, mips = 0;
    DWORD flags = 0;  // dwFlags: 0x00800000 for a volume
    DWORD pfFlags = 0x41, fourCC = 0, bits = 32;
    DWORD masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    DWORD caps2 = 0;
    std::vector<BYTE> palette;  // 1024 bytes for P8
};

inline std::vector<BYTE> MakeDds(const DdsSpec& s, const std::vector<BYTE>& data) {
    std::vector<BYTE> file(128 + s.palette.size() + data.size(), 0);
    auto put = [&](size_t offset, DWORD v) { std::memcpy(&file[offset], &v, 4); };
    put(0, 0x20534444);
    put(4, 124);
    put(8, 0x1007 | s.flags);
    put(12, s.height);
    put(16, s.width);
    put(24, s.depth);
    put(28, s.mips);
    put(76, 32);
    put(80, s.pfFlags);
    put(84, s.fourCC);
    put(88, s.bits);
    for (int i = 0; i < 4; ++i) put(92 + 4 * i, s.masks[i]);
    put(108, 0x1000);
    put(112, s.caps2);
    std::copy(s.palette.begin(), s.palette.end(), file.begin() + 128);
    std::copy(data.begin(), data.end(), file.begin() + 128 + std::ptrdiff_t(s.palette.size()));
    return file;
}

// Writes `bytes` to a file in the test's temporary folder; returns its path.
inline std::string WriteTempFile(const std::string& name, const std::vector<BYTE>& bytes) {
    std::string path = std::string(VINTREL_BINARY_DIR) + "/texture-test-" + name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}
