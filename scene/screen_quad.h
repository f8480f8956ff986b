// Pre-transformed vertices for the 2D layer, positioned in back-buffer
// pixels (x, y, z 0, rhw 1), drawn as two-triangle fans.
#pragma once

#include "platform/d3d9/d3d9.h"

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
static_assert(sizeof(ScreenVertex) == 28, "the 2D vertex is 28 bytes");

// Four vertices: top-left, top-right, bottom-right, bottom-left.
struct ScreenQuad {
    ScreenVertex vertices[4];
};
static_assert(sizeof(ScreenQuad) == 112, "a quad is four vertices");

constexpr DWORD kScreenVertexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x144

// Fills a quad from its corners' positions and texture coordinates, white.
void SetQuad(ScreenQuad& quad, const float xyuv[4][4]);
// One DrawPrimitiveUP fan of the quad.
void DrawQuad(IDirect3DDevice9* device, const ScreenQuad& quad);
