#include "platform/d3d9/render/stage_combiner.h"

namespace render {

namespace {

bool IsPlain(DWORD arg, DWORD want) { return arg == want; }

bool IsDiffuseArg(DWORD arg, int stage) {
    return arg == D3DTA_DIFFUSE || (stage == 0 && arg == D3DTA_CURRENT);
}

}  // namespace

CombineKind ClassifyStages(const StageSetup* stages, int count) {
    if (count == 0) return CombineKind::Diffuse;
    if (count == 1 && !stages[0].toTemp) {
        const StageSetup& s = stages[0];
        const bool colorModulate = s.colorOp == D3DTOP_MODULATE &&
                                   ((IsPlain(s.colorArg1, D3DTA_TEXTURE) && IsDiffuseArg(s.colorArg2, 0)) ||
                                    (IsPlain(s.colorArg2, D3DTA_TEXTURE) && IsDiffuseArg(s.colorArg1, 0)));
        const bool alphaModulate = s.alphaOp == D3DTOP_MODULATE &&
                                   ((IsPlain(s.alphaArg1, D3DTA_TEXTURE) && IsDiffuseArg(s.alphaArg2, 0)) ||
                                    (IsPlain(s.alphaArg2, D3DTA_TEXTURE) && IsDiffuseArg(s.alphaArg1, 0)));
        if (colorModulate && alphaModulate) return s.sampled ? CombineKind::ModulateTexture : CombineKind::Diffuse;
        const bool colorDiffuse = (s.colorOp == D3DTOP_SELECTARG1 && IsDiffuseArg(s.colorArg1, 0)) ||
                                  (s.colorOp == D3DTOP_SELECTARG2 && IsDiffuseArg(s.colorArg2, 0));
        const bool alphaDiffuse = s.alphaOp == D3DTOP_DISABLE ||
                                  (s.alphaOp == D3DTOP_SELECTARG1 && IsDiffuseArg(s.alphaArg1, 0)) ||
                                  (s.alphaOp == D3DTOP_SELECTARG2 && IsDiffuseArg(s.alphaArg2, 0));
        if (colorDiffuse && alphaDiffuse) return CombineKind::Diffuse;
    }
    return CombineKind::General;
}

}  // namespace render
