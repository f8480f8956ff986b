// From the device's states to the per-draw pixel state.
#include "platform/d3d9/render/pixel_state.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/d3d9/render/vertex_processing.h"

namespace render {

namespace {

bool ReadsArg(DWORD arg, DWORD which) { return (arg & D3DTA_SELECTMASK) == which; }

bool StageReads(const StageSetup& s, DWORD which) {
    const DWORD args[6] = {s.colorArg0, s.colorArg1, s.colorArg2, s.alphaArg0, s.alphaArg1, s.alphaArg2};
    for (DWORD a : args)
        if (ReadsArg(a, which)) return true;
    return false;
}

// The demo's usual state, which the rasteriser's queued fast paths take:
// one texture modulated by the diffuse colour over wrapped power-of-two
// levels, less-or-equal depth tested before shading, source-alpha blending
// into a dithered 565 target; with or without linear w-fog, with a
// level-of-detail choice over trilinear levels or one bilinear level,
// pre-transformed or not; or the same with the diffuse colour alone and no
// texture. Returns -1 for any other state, else bit 0 for fog, bit 1 for
// the level-of-detail choice and bit 2 for no texture.
int TexturedSpanKind(const PixelState& ps) {
    const StageSetup& st = ps.stages[0];
    const TextureSampler& sm = st.sampler;
    const bool fog = ps.fog == FogKind::Linear && ps.fogFromW;
    const bool lod = sm.needsLod && sm.minFilter == D3DTEXF_LINEAR && sm.mipFilter == D3DTEXF_LINEAR;
    const bool usual = !ps.specularAdd && ps.specularAt < 0 && (fog || ps.fog == FogKind::None) && !ps.alphaTest &&
                       ps.depthTest && ps.depthFunc == D3DCMP_LESSEQUAL && ps.blend &&
                       ps.srcBlend == D3DBLEND_SRCALPHA && ps.dstBlend == D3DBLEND_INVSRCALPHA &&
                       ps.blendOp == D3DBLENDOP_ADD && ps.target565 && ps.dither && ps.keepMask == 0 && ps.writesColor;
    // The queue works out pixel offsets in 32 bits.
    const bool offsetsFit =
        int64_t(ps.clipY1) * std::abs(int64_t(ps.targetPitch)) + 2 * int64_t(ps.clipX1) <= int64_t(INT32_MAX);
    if (!usual || !offsetsFit) return -1;
    if (ps.combine == CombineKind::ModulateTexture && ps.varyingCount == 6 && st.uvAt == 4 && sm.wrapMask &&
        sm.magFilter == D3DTEXF_LINEAR && (lod || !sm.needsLod))
        return int(fog) | (int(lod) << 1);
    if (ps.combine == CombineKind::Diffuse && ps.varyingCount == 4) return 4 | int(fog);
    return -1;
}

constexpr size_t kStagesBegin = offsetof(PixelState, stages);
constexpr size_t kStagesEnd = kStagesBegin + sizeof(PixelState::stages);

// Back to a fresh state. The stages past stageCount were never written
// since the last reset, so only the rest is copied: the whole state is
// several kilobytes, mostly samplers, and small draws reset it often.
void ResetPixelState(PixelState& ps) {
    static const PixelState kFresh{};
    const int used = std::clamp(ps.stageCount, 0, int(kTextureStages));
    auto* to = reinterpret_cast<unsigned char*>(&ps);
    const auto* from = reinterpret_cast<const unsigned char*>(&kFresh);
    std::memcpy(to, from, kStagesBegin);
    std::memcpy(to + kStagesBegin, from + kStagesBegin, sizeof(StageSetup) * size_t(used));
    std::memcpy(to + kStagesEnd, from + kStagesEnd, sizeof(PixelState) - kStagesEnd);
}

}  // namespace

bool SamePixelState(const PixelState& a, const PixelState& b) {
    if (a.stageCount != b.stageCount) return false;
    const auto* pa = reinterpret_cast<const unsigned char*>(&a);
    const auto* pb = reinterpret_cast<const unsigned char*>(&b);
    const size_t used = sizeof(StageSetup) * size_t(std::clamp(a.stageCount, 0, int(kTextureStages)));
    return std::memcmp(pa, pb, kStagesBegin) == 0 && std::memcmp(pa + kStagesBegin, pb + kStagesBegin, used) == 0 &&
           std::memcmp(pa + kStagesEnd, pb + kStagesEnd, sizeof(PixelState) - kStagesEnd) == 0;
}

bool HasTransformedPositions(const DrawState& state) {
    for (UINT i = 0; i < state.elementCount && i < MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& e = state.elements[i];
        if (e.Stream == 0xFF) break;
        if (e.Stream == 0 && e.Usage == D3DDECLUSAGE_POSITIONT && e.UsageIndex == 0) return true;
    }
    return false;
}

void BuildPixelState(const DrawState& st, DecodeCache& cache, PixelState& ps) {
    const DWORD* rs = st.renderStates;
    const bool transformed = HasTransformedPositions(st);
    ResetPixelState(ps);
    int n = 4;
    ps.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;

    // Stages up to the first disabled one.
    bool readsSpecular = false;
    for (UINT s = 0; s < kTextureStages; ++s) {
        const DWORD* ts = st.stageStates[s];
        if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE || ts[D3DTSS_COLOROP] == 0) break;
        StageSetup& out = ps.stages[s];
        out.colorOp = ts[D3DTSS_COLOROP];
        out.colorArg0 = ts[D3DTSS_COLORARG0];
        out.colorArg1 = ts[D3DTSS_COLORARG1];
        out.colorArg2 = ts[D3DTSS_COLORARG2];
        out.alphaOp = ts[D3DTSS_ALPHAOP] == 0 ? DWORD(D3DTOP_DISABLE) : ts[D3DTSS_ALPHAOP];
        out.alphaArg0 = ts[D3DTSS_ALPHAARG0];
        out.alphaArg1 = ts[D3DTSS_ALPHAARG1];
        out.alphaArg2 = ts[D3DTSS_ALPHAARG2];
        out.toTemp = ts[D3DTSS_RESULTARG] == D3DTA_TEMP;
        out.constant = ColorFromArgb(ts[D3DTSS_CONSTANT]);
        const bool readsTexture = StageReads(out, D3DTA_TEXTURE) || out.colorOp == D3DTOP_BLENDTEXTUREALPHA ||
                                  out.colorOp == D3DTOP_BLENDTEXTUREALPHAPM ||
                                  out.alphaOp == D3DTOP_BLENDTEXTUREALPHA || out.alphaOp == D3DTOP_BLENDTEXTUREALPHAPM;
        readsSpecular |= StageReads(out, D3DTA_SPECULAR);
        out.sampled = readsTexture && st.textures[s].levelCount > 0 &&
                      PrepareSampler(st.textures[s], st.samplerStates[s], cache, out.sampler);
        if (out.sampled) {
            out.uvAt = n;
            n += 2;
            ps.anyLod |= out.sampler.needsLod;
        }
        ps.stageCount = int(s) + 1;
    }
    ps.combine = ClassifyStages(ps.stages, ps.stageCount);
    ps.textureFactor = ColorFromArgb(rs[D3DRS_TEXTUREFACTOR]);

    ps.specularAdd = rs[D3DRS_SPECULARENABLE] != 0;
    if (ps.specularAdd || (readsSpecular && ps.combine == CombineKind::General)) {
        ps.specularAt = n;
        n += 3;
    }

    if (rs[D3DRS_FOGENABLE]) {
        const DWORD table = rs[D3DRS_FOGTABLEMODE], vertex = rs[D3DRS_FOGVERTEXMODE];
        const float start = StateFloat(rs[D3DRS_FOGSTART]), end = StateFloat(rs[D3DRS_FOGEND]);
        ps.fogEnd = end;
        ps.fogScale = end != start ? 1.0f / (end - start) : 0.0f;
        ps.fogDensity = StateFloat(rs[D3DRS_FOGDENSITY]);
        ps.fogColor = ColorFromArgb(rs[D3DRS_FOGCOLOR]);
        if (table == D3DFOG_LINEAR || table == D3DFOG_EXP || table == D3DFOG_EXP2) {
            ps.fog = table == D3DFOG_LINEAR ? FogKind::Linear : (table == D3DFOG_EXP ? FogKind::Exp : FogKind::Exp2);
            // w-fog under a perspective projection (and for pre-transformed
            // vertices), depth fog under an affine one.
            ps.fogFromW = transformed || st.projection._34 != 0.0f;
        } else if (vertex == D3DFOG_NONE || !transformed) {
            // Pre-transformed vertices get no vertex fog; with neither mode
            // the factor comes from the specular alpha.
            ps.fog = FogKind::Vertex;
            ps.fogAt = n;
            n += 1;
        }
    }
    ps.varyingCount = n;

    ps.alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
    ps.alphaFunc = rs[D3DRS_ALPHAFUNC];
    ps.alphaRef = rs[D3DRS_ALPHAREF] & 0xFF;

    const bool hasDepth = st.depth.bits && (st.depth.format == D3DFMT_D16 || st.depth.format == D3DFMT_D16_LOCKABLE);
    ps.depthTest = hasDepth && rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    ps.depthWrite = ps.depthTest && rs[D3DRS_ZWRITEENABLE] != 0;
    ps.depthFunc = rs[D3DRS_ZFUNC];
    if (ps.depthTest) {
        ps.depth = reinterpret_cast<WORD*>(st.depth.bits);
        ps.depthPitch = st.depth.pitch / 2;
    }
    ps.rejectDepthOutside = transformed;

    ps.blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
    ps.srcBlend = rs[D3DRS_SRCBLEND];
    ps.dstBlend = rs[D3DRS_DESTBLEND];
    ps.blendOp = rs[D3DRS_BLENDOP] == 0 ? DWORD(D3DBLENDOP_ADD) : rs[D3DRS_BLENDOP];
    ps.blendFactor = ColorFromArgb(rs[D3DRS_BLENDFACTOR]);

    ps.target = st.target.bits;
    ps.targetPitch = st.target.pitch;
    ps.target565 = st.target.format == D3DFMT_R5G6B5;
    ps.dither = ps.target565 && rs[D3DRS_DITHERENABLE] != 0;
    const DWORD mask = rs[D3DRS_COLORWRITEENABLE];
    uint32_t keep = 0;
    if (!(mask & D3DCOLORWRITEENABLE_RED)) keep |= ps.target565 ? 0xF800u : 0x00FF0000u;
    if (!(mask & D3DCOLORWRITEENABLE_GREEN)) keep |= ps.target565 ? 0x07E0u : 0x0000FF00u;
    if (!(mask & D3DCOLORWRITEENABLE_BLUE)) keep |= ps.target565 ? 0x001Fu : 0x000000FFu;
    ps.keepMask = keep;
    ps.writesColor = (mask & 7) != 0 && ps.target != nullptr;

    // Drawable pixels: the viewport within the target (and the depth buffer).
    const D3DVIEWPORT9& vp = st.viewport;
    int64_t x1 = int64_t(vp.X) + vp.Width, y1 = int64_t(vp.Y) + vp.Height;
    x1 = std::min<int64_t>(x1, st.target.width);
    y1 = std::min<int64_t>(y1, st.target.height);
    if (ps.depthTest) {
        x1 = std::min<int64_t>(x1, st.depth.width);
        y1 = std::min<int64_t>(y1, st.depth.height);
    }
    if (!st.target.bits) x1 = y1 = 0;
    ps.clipX0 = int(std::min<int64_t>(vp.X, 1 << 24));
    ps.clipY0 = int(std::min<int64_t>(vp.Y, 1 << 24));
    ps.clipX1 = int(std::max<int64_t>(x1, ps.clipX0));
    ps.clipY1 = int(std::max<int64_t>(y1, ps.clipY0));
    ps.spanKind = TexturedSpanKind(ps);
}

}  // namespace render
