// The texture stages: each stage combines two or three arguments (diffuse,
// current, texture, texture factor, specular, temporary, constant, with
// complement and alpha-replicate modifiers) by its colour and alpha
// operations. Stage 0's current colour is the diffuse colour.
#pragma once

#include "platform/d3d9/render/color.h"
#include "platform/d3d9/render/texture_sampler.h"

namespace render {

struct StageSetup {
    DWORD colorOp = D3DTOP_DISABLE, colorArg0 = 0, colorArg1 = 0, colorArg2 = 0;
    DWORD alphaOp = D3DTOP_DISABLE, alphaArg0 = 0, alphaArg1 = 0, alphaArg2 = 0;
    bool toTemp = false;
    Color constant{0, 0, 0, 0};
    bool sampled = false;  // a texture is bound and read; otherwise TEXTURE is white
    int uvAt = 0;          // first of the two varyings holding (u, v)
    TextureSampler sampler;
};

// How a draw's stages reduce, chosen once per draw.
enum class CombineKind {
    Diffuse,          // no stage changes the diffuse colour
    ModulateTexture,  // one stage: texture times diffuse, colour and alpha
    General,
};

// Reads the stage setups and picks the cheapest equivalent kind.
CombineKind ClassifyStages(const StageSetup* stages, int count);

namespace detail {

struct StageInputs {
    Color diffuse, current, texture, factor, specular, temp, constant;
};

inline Color SelectArg(DWORD arg, const StageInputs& in) {
    Color c;
    switch (arg & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE: c = in.diffuse; break;
        case D3DTA_CURRENT: c = in.current; break;
        case D3DTA_TEXTURE: c = in.texture; break;
        case D3DTA_TFACTOR: c = in.factor; break;
        case D3DTA_SPECULAR: c = in.specular; break;
        case D3DTA_TEMP: c = in.temp; break;
        case D3DTA_CONSTANT: c = in.constant; break;
        default: c = {1, 1, 1, 1}; break;
    }
    if (arg & D3DTA_COMPLEMENT) c = {1 - c.r, 1 - c.g, 1 - c.b, 1 - c.a};
    if (arg & D3DTA_ALPHAREPLICATE) c = {c.a, c.a, c.a, c.a};
    return c;
}

// One channel (or the rgb triple, channel by channel) of an operation.
// `x`, `y`, `z` are arguments 1, 2, 0; `xa`, `ya` the alphas of 1 and 2.
inline float Operate(DWORD op, float x, float y, float z, float xa, const StageInputs& in) {
    switch (op) {
        case D3DTOP_SELECTARG1: return x;
        case D3DTOP_SELECTARG2: return y;
        case D3DTOP_MODULATE: return x * y;
        case D3DTOP_MODULATE2X: return Saturate(2 * x * y);
        case D3DTOP_MODULATE4X: return Saturate(4 * x * y);
        case D3DTOP_ADD: return Saturate(x + y);
        case D3DTOP_ADDSIGNED: return Saturate(x + y - 0.5f);
        case D3DTOP_ADDSIGNED2X: return Saturate(2 * (x + y - 0.5f));
        case D3DTOP_SUBTRACT: return Saturate(x - y);
        case D3DTOP_ADDSMOOTH: return Saturate(x + y - x * y);
        case D3DTOP_BLENDDIFFUSEALPHA: return x * in.diffuse.a + y * (1 - in.diffuse.a);
        case D3DTOP_BLENDTEXTUREALPHA: return x * in.texture.a + y * (1 - in.texture.a);
        case D3DTOP_BLENDFACTORALPHA: return x * in.factor.a + y * (1 - in.factor.a);
        case D3DTOP_BLENDCURRENTALPHA: return x * in.current.a + y * (1 - in.current.a);
        case D3DTOP_BLENDTEXTUREALPHAPM: return Saturate(x + y * (1 - in.texture.a));
        case D3DTOP_MODULATEALPHA_ADDCOLOR: return Saturate(x + xa * y);
        case D3DTOP_MODULATECOLOR_ADDALPHA: return Saturate(x * y + xa);
        case D3DTOP_MODULATEINVALPHA_ADDCOLOR: return Saturate((1 - xa) * y + x);
        case D3DTOP_MODULATEINVCOLOR_ADDALPHA: return Saturate((1 - x) * y + xa);
        case D3DTOP_MULTIPLYADD: return Saturate(z + x * y);
        case D3DTOP_LERP: return z * x + (1 - z) * y;
        default: return x;
    }
}

}  // namespace detail

// Runs the stages for one pixel. `textures[s]` is stage s's sample (white
// when the stage reads no texture).
inline Color CombineStages(const StageSetup* stages, int count, const Color& diffuse, const Color& specular,
                           const Color& factor, const Color* textures) {
    detail::StageInputs in{diffuse, diffuse, {1, 1, 1, 1}, factor, specular, {0, 0, 0, 0}, {0, 0, 0, 0}};
    for (int s = 0; s < count; ++s) {
        const StageSetup& st = stages[s];
        in.texture = textures[s];
        in.constant = st.constant;
        Color out;
        if (st.colorOp == D3DTOP_DOTPRODUCT3) {
            const Color x = detail::SelectArg(st.colorArg1, in), y = detail::SelectArg(st.colorArg2, in);
            const float d = Saturate(4 * ((x.r - 0.5f) * (y.r - 0.5f) + (x.g - 0.5f) * (y.g - 0.5f) +
                                          (x.b - 0.5f) * (y.b - 0.5f)));
            out = {d, d, d, d};
        } else {
            const Color x = detail::SelectArg(st.colorArg1, in), y = detail::SelectArg(st.colorArg2, in);
            const Color z = detail::SelectArg(st.colorArg0, in);
            out.r = detail::Operate(st.colorOp, x.r, y.r, z.r, x.a, in);
            out.g = detail::Operate(st.colorOp, x.g, y.g, z.g, x.a, in);
            out.b = detail::Operate(st.colorOp, x.b, y.b, z.b, x.a, in);
            if (st.alphaOp == D3DTOP_DISABLE) {
                out.a = in.current.a;
            } else {
                const float xa = detail::SelectArg(st.alphaArg1 | D3DTA_ALPHAREPLICATE, in).a;
                const float ya = detail::SelectArg(st.alphaArg2 | D3DTA_ALPHAREPLICATE, in).a;
                const float za = detail::SelectArg(st.alphaArg0 | D3DTA_ALPHAREPLICATE, in).a;
                out.a = st.alphaOp == D3DTOP_DOTPRODUCT3 ? out.r : detail::Operate(st.alphaOp, xa, ya, za, xa, in);
            }
        }
        if (st.toTemp)
            in.temp = out;
        else
            in.current = out;
    }
    return in.current;
}

}  // namespace render
