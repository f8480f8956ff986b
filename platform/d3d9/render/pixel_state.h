// Everything the back end needs for one draw, worked out once per draw from
// the DrawState: the varyings' layout, the stages and samplers, fog, the
// alpha test, depth, blending and the target.
#pragma once

#include "platform/d3d9/render/stage_combiner.h"

namespace render {

constexpr int kMaxVaryings = 4 + 3 + 1 + 2 * int(kTextureStages);

enum class FogKind {
    None,
    Vertex,  // a per-vertex factor, interpolated
    Linear,  // per pixel from the distance
    Exp,
    Exp2,
};

struct PixelState {
    // Varyings (interpolated perspective-correctly): diffuse r, g, b, a at
    // 0..3, then the optional ones.
    int varyingCount = 4;
    int specularAt = -1;  // r, g, b
    int fogAt = -1;       // the vertex fog factor
    bool flat = false;    // colours of the first vertex over the whole triangle

    int stageCount = 0;
    StageSetup stages[kTextureStages];
    CombineKind combine = CombineKind::Diffuse;
    bool anyLod = false;
    Color textureFactor{1, 1, 1, 1};
    bool specularAdd = false;

    FogKind fog = FogKind::None;
    bool fogFromW = true;  // distance = 1/rhw; otherwise the depth zs
    float fogEnd = 1, fogScale = 1, fogDensity = 1;
    Color fogColor{0, 0, 0, 0};

    bool alphaTest = false;
    DWORD alphaFunc = D3DCMP_ALWAYS;
    DWORD alphaRef = 0;

    bool depthTest = false, depthWrite = false;
    DWORD depthFunc = D3DCMP_LESSEQUAL;
    WORD* depth = nullptr;
    int depthPitch = 0;  // in WORDs
    bool rejectDepthOutside = false;  // pre-transformed vertices: zs outside [0, 1] draws nothing

    bool blend = false;
    DWORD srcBlend = D3DBLEND_ONE, dstBlend = D3DBLEND_ZERO, blendOp = D3DBLENDOP_ADD;
    Color blendFactor{1, 1, 1, 1};

    BYTE* target = nullptr;
    int targetPitch = 0;  // bytes
    bool target565 = true;
    bool dither = false;
    uint32_t keepMask = 0;  // bits of the old pixel that COLORWRITEENABLE keeps
    bool writesColor = true;

    // Drawable pixels: [clipX0, clipX1) x [clipY0, clipY1).
    int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;

    // The rasteriser's queued fast path for this state: -1 for none, else
    // bit 0 for fog, bit 1 for a level-of-detail choice, bit 2 for no
    // texture.
    int spanKind = -1;
};

}  // namespace render

namespace render {

// True when the vertex layout carries pre-transformed positions.
bool HasTransformedPositions(const DrawState& state);

// Works out the per-draw pixel state; decodes the bound textures through
// `cache` where their format needs it. `ps` must be fresh or have been
// built here before.
void BuildPixelState(const DrawState& state, DecodeCache& cache, PixelState& ps);

// Whether two states built by BuildPixelState draw alike, byte for byte
// (the stages past stageCount are as new in both).
bool SamePixelState(const PixelState& a, const PixelState& b);

}  // namespace render
