// Sampler preparation: which levels exist, where their texels are and which
// filters apply. Sampling itself is inline in the header.
#include "platform/d3d9/render/texture_sampler.h"

namespace render {

namespace {

DWORD Filter(DWORD value) {
    // Anisotropic and the Gaussian filters read as bilinear here.
    if (value == D3DTEXF_POINT) return D3DTEXF_POINT;
    if (value == D3DTEXF_NONE) return D3DTEXF_NONE;
    return D3DTEXF_LINEAR;
}

DWORD AddressMode(DWORD value) {
    switch (value) {
        case D3DTADDRESS_MIRROR: case D3DTADDRESS_CLAMP: case D3DTADDRESS_BORDER: case D3DTADDRESS_MIRRORONCE:
            return value;
        default:
            return D3DTADDRESS_WRAP;
    }
}

}  // namespace

bool PrepareSampler(const TextureView& view, const DWORD* states, DecodeCache& cache, TextureSampler& s) {
    s = TextureSampler{};
    const UINT count = view.levelCount < kMaxTextureLevels ? view.levelCount : kMaxTextureLevels;
    for (UINT i = 0; i < count; ++i) {
        const SurfaceView& level = view.levels[i];
        if (!level.bits || level.width == 0 || level.height == 0 || level.width > 65536 || level.height > 65536 ||
            !IsSampleableFormat(level.format) || LevelByteSize(level.format, level.width, level.height, level.pitch) == 0)
            break;
        TextureLevel& out = s.levels[i];
        uint32_t alphaOr = 0;
        if (IsDirectFormat(level.format, alphaOr) && level.pitch % 4 == 0 &&
            reinterpret_cast<uintptr_t>(level.bits) % 4 == 0) {
            out.texels = reinterpret_cast<const uint32_t*>(level.bits);
            out.pitch = level.pitch / 4;
        } else {
            out.texels = cache.Get(level);
            out.pitch = int(level.width);
            alphaOr = 0;
        }
        // One alpha rule per texture: its levels share the format.
        if (i == 0) s.alphaOr = alphaOr;
        out.width = int(level.width);
        out.height = int(level.height);
        out.fwidth = float(level.width);
        out.fheight = float(level.height);
        out.widthMask = (level.width & (level.width - 1)) == 0 ? int(level.width) - 1 : -1;
        out.heightMask = (level.height & (level.height - 1)) == 0 ? int(level.height) - 1 : -1;
        s.levelCount = int(i) + 1;
    }
    if (s.levelCount == 0) return false;
    s.addressU = AddressMode(states[D3DSAMP_ADDRESSU]);
    s.addressV = AddressMode(states[D3DSAMP_ADDRESSV]);
    s.borderArgb = states[D3DSAMP_BORDERCOLOR];
    s.magFilter = Filter(states[D3DSAMP_MAGFILTER]);
    s.minFilter = Filter(states[D3DSAMP_MINFILTER]);
    if (s.magFilter == D3DTEXF_NONE) s.magFilter = D3DTEXF_POINT;
    if (s.minFilter == D3DTEXF_NONE) s.minFilter = D3DTEXF_POINT;
    s.mipFilter = Filter(states[D3DSAMP_MIPFILTER]);
    float bias;
    std::memcpy(&bias, &states[D3DSAMP_MIPMAPLODBIAS], 4);
    s.lodBias = std::isfinite(bias) ? bias : 0.0f;
    const DWORD maxLevel = states[D3DSAMP_MAXMIPLEVEL];
    s.firstLevel = maxLevel < DWORD(s.levelCount) ? int(maxLevel) : s.levelCount - 1;
    const bool mips = s.mipFilter != D3DTEXF_NONE && s.firstLevel < s.levelCount - 1;
    s.needsLod = mips || s.magFilter != s.minFilter;
    s.wrapMask = s.addressU == D3DTADDRESS_WRAP && s.addressV == D3DTADDRESS_WRAP;
    for (int i = 0; i < s.levelCount; ++i) s.wrapMask &= s.levels[i].widthMask >= 0 && s.levels[i].heightMask >= 0;
    return true;
}

}  // namespace render
