// Shared helpers of the data-set tests: where the data set lives, a software
// device for the libraries that need one, and file reading.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "geometry/geometry.h"
#include "platform/d3d9/d3d9.h"
#include "texture/pixel_codec.h"
#include "texture/texture.h"
#include "tests/support/software_device_test.h"

namespace datatest {

inline std::string DataPath(const std::string& name) { return std::string(VINTREL_DATA_DIR) + "/" + name; }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A software device, as the program makes one.
using DeviceTest = SoftwareDeviceTest;

// A .x file loaded as the program loads its models (buffers in system
// memory), with its faces in world space.
struct ModelFile {
    HRESULT result = E_FAIL;
    Mesh* mesh = nullptr;
    DataBuffer* materials = nullptr;
    DWORD materialCount = 0;

    struct Triangle {
        float x[3], y[3], z[3];
        DWORD subset;
    };

    ModelFile(const std::string& path, IDirect3DDevice9* device) {
        result = LoadMeshFromXFile(path.c_str(), OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, device, nullptr, &materials,
                                   nullptr, &materialCount, &mesh);
    }
    ~ModelFile() { Release(); }
    ModelFile(const ModelFile&) = delete;
    ModelFile& operator=(const ModelFile&) = delete;
    void Release() {
        if (mesh) mesh->Release();
        if (materials) materials->Release();
        mesh = nullptr;
        materials = nullptr;
    }
    const MaterialEntry& Entry(DWORD k) const { return static_cast<const MaterialEntry*>(materials->GetDataPointer())[k]; }
    std::string Texture(DWORD k) const { return Entry(k).textureFilename ? Entry(k).textureFilename : ""; }

    std::vector<Triangle> Triangles() const {
        std::vector<Triangle> out(mesh->GetFaceCount());
        const DWORD stride = mesh->GetVertexStride();
        const bool wide = (mesh->GetCreationOptions() & OPT_32BIT_INDICES) != 0;
        void* v = nullptr;
        void* i = nullptr;
        DWORD* a = nullptr;
        EXPECT_EQ(mesh->LockVertices(D3DLOCK_READONLY, &v), S_OK);
        EXPECT_EQ(mesh->LockIndices(D3DLOCK_READONLY, &i), S_OK);
        EXPECT_EQ(mesh->LockAttributes(D3DLOCK_READONLY, &a), S_OK);
        for (size_t f = 0; f < out.size(); ++f) {
            for (int k = 0; k < 3; ++k) {
                const DWORD index = wide ? static_cast<const DWORD*>(i)[3 * f + k] : static_cast<const WORD*>(i)[3 * f + k];
                const float* p = reinterpret_cast<const float*>(static_cast<const BYTE*>(v) + size_t(index) * stride);
                out[f].x[k] = p[0], out[f].y[k] = p[1], out[f].z[k] = p[2];
            }
            out[f].subset = a[f];
        }
        mesh->UnlockAttributes();
        mesh->UnlockIndices();
        mesh->UnlockVertices();
        return out;
    }
};

// A file decoded by the texture library: its description and every level's
// pixels as 8-bit RGBA (rounded from the library's colours).
struct DecodedImage {
    HRESULT result = E_FAIL;
    ImageInfo info{};
    struct Level {
        UINT width = 0, height = 0;
        std::vector<uint8_t> rgba;  // 4 bytes a pixel, rows from the top
        uint8_t at(UINT x, UINT y, int channel) const { return rgba[(size_t(y) * width + x) * 4 + channel]; }
    };
    std::vector<Level> levels;
};

inline DecodedImage DecodeFile(const std::string& path) {
    DecodedImage out;
    const std::vector<uint8_t> bytes = ReadBytes(path);
    ImageLevel root;
    out.result = ReadImageFile(&root, bytes.data(), UINT(bytes.size()), &out.info, TRUE);
    if (FAILED(out.result)) return out;
    for (const ImageLevel* level = &root; level; level = level->nextLevel) {
        PixelSurface surface;
        surface.pixels = level->pixels;
        surface.format = level->format;
        surface.rowPitch = level->rowPitch;
        surface.slicePitch = level->slicePitch;
        surface.box = {0, 0, level->width, level->height, 0, 1};
        surface.palette = level->palette;
        std::unique_ptr<PixelCodec> codec;
        if (FAILED(CreatePixelCodec(surface, codec))) {
            out.result = E_FAIL;
            return out;
        }
        DecodedImage::Level decoded;
        decoded.width = level->width, decoded.height = level->height;
        std::vector<Colour4> row(level->width);
        for (UINT y = 0; y < level->height; ++y) {
            codec->ReadRow(y, 0, row.data());
            for (const Colour4& c : row)
                for (float v : {c.r, c.g, c.b, c.a})
                    decoded.rgba.push_back(uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)));
        }
        out.levels.push_back(std::move(decoded));
    }
    return out;
}

}  // namespace datatest
