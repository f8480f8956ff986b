// The benchmark's fixed scene, shared by our renderer and the OpenGL peer:
// a 40 000-triangle textured, lit, fogged height field filling a 640 x 480
// view in two halves with their own mip-mapped 256 x 256 textures, alpha
// blending on, then 400 pre-transformed 8 x 16 overlay quads.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace bench {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kCellsX = 200, kCellsZ = 100;  // 2 * 200 * 100 = 40 000 triangles
constexpr int kOverlayQuads = 400;

struct TerrainVertex {
    float x, y, z, nx, ny, nz, u, v;
};
struct OverlayVertex {
    float x, y, z, rhw;
    DWORD color;
    float u, v;
};

struct MipChain {
    int width = 0, height = 0;
    std::vector<std::vector<uint32_t>> levels;  // A8R8G8B8 texels
};

struct Scene {
    std::vector<TerrainVertex> vertices;
    std::vector<uint16_t> indices;  // two halves of 60 000 indices
    MipChain textures[2];
    MipChain font;                        // 256 x 64, one level, alpha in the glyph shapes
    std::vector<OverlayVertex> overlay;   // kOverlayQuads fans of four vertices
    D3DMATRIX view, projection;
    D3DLIGHT9 light;
    D3DMATERIAL9 material;
    DWORD fogColor = 0xFF909080;
    float fogStart = 0, fogEnd = 400;
};

Scene MakeScene();

}  // namespace bench
