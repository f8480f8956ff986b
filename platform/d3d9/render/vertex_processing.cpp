// Fixed-function vertex processing.
#include "platform/d3d9/render/vertex_processing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace render {

namespace {

void Multiply(const float a[4][4], const float b[4][4], float out[4][4]) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a[i][k] * b[k][j];
            out[i][j] = s;
        }
}

// Inverse by cofactors in double; false when singular.
bool Invert(const float m[4][4], double out[4][4]) {
    double a[16];
    for (int i = 0; i < 16; ++i) a[i] = m[i / 4][i % 4];
    double inv[16];
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] + a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] - a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] + a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] - a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] - a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] + a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] - a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] + a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] + a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] - a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] + a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] - a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] - a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] + a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] - a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] + a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
    const double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
    if (det == 0 || !std::isfinite(det)) return false;
    for (int i = 0; i < 16; ++i) out[i / 4][i % 4] = inv[i] / det;
    return true;
}

void Normalize3(float v[3]) {
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len > 0) {
        v[0] /= len;
        v[1] /= len;
        v[2] /= len;
    }
}

float HalfToFloat(uint16_t h) {
    const uint32_t sign = (h >> 15) & 1, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
    float value;
    if (exponent == 0)
        value = std::ldexp(float(mantissa), -24);
    else if (exponent == 31)
        value = mantissa ? NAN : INFINITY;
    else
        value = std::ldexp(float(mantissa | 0x400), int(exponent) - 25);
    return sign ? -value : value;
}

int ElementSize(int type) {
    switch (type) {
        case D3DDECLTYPE_FLOAT1: return 4;
        case D3DDECLTYPE_FLOAT2: return 8;
        case D3DDECLTYPE_FLOAT3: return 12;
        case D3DDECLTYPE_FLOAT4: return 16;
        case D3DDECLTYPE_D3DCOLOR: case D3DDECLTYPE_UBYTE4: case D3DDECLTYPE_UBYTE4N: case D3DDECLTYPE_SHORT2:
        case D3DDECLTYPE_SHORT2N: case D3DDECLTYPE_USHORT2N: case D3DDECLTYPE_UDEC3: case D3DDECLTYPE_DEC3N:
        case D3DDECLTYPE_FLOAT16_2:
            return 4;
        case D3DDECLTYPE_SHORT4: case D3DDECLTYPE_SHORT4N: case D3DDECLTYPE_USHORT4N: case D3DDECLTYPE_FLOAT16_4:
            return 8;
        default: return 0;
    }
}

Color Clamp(const Color& c) { return {Saturate(c.r), Saturate(c.g), Saturate(c.b), Saturate(c.a)}; }

Color ToColor(const D3DCOLORVALUE& v) { return {v.r, v.g, v.b, v.a}; }

}  // namespace

float StateFloat(DWORD bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

namespace {

// int32_t(std::floor(v)) without the library call where an int holds v.
inline int32_t FloorToInt(float v) {
    if (v > -2147483520.0f && v < 2147483520.0f) {
        const int32_t i = int32_t(v);
        return float(i) > v ? i - 1 : i;
    }
    return int32_t(std::floor(v));
}

#ifdef VINTREL_SAMPLER_SSE2
// The three floats at `at` and `w` after them, put together in a register:
// copied to memory first, the four would be read back across three stores,
// which waits for them.
inline __m128 LoadXyz(const BYTE* at, float w) {
    double xy;
    float z;
    std::memcpy(&xy, at, 8);
    std::memcpy(&z, at + 8, 4);
    return _mm_movelh_ps(_mm_castpd_ps(_mm_set_sd(xy)), _mm_unpacklo_ps(_mm_set_ss(z), _mm_set_ss(w)));
}
#endif

}  // namespace

void ViewportMap::Apply(VertexPos& p) const {
    const float iw = 1.0f / p.cw;
    p.sx = x0 + (1.0f + p.cx * iw) * halfWidth;
    p.sy = y0 + (1.0f - p.cy * iw) * halfHeight;
    p.sz = minZ + p.cz * iw * depthRange;
    p.rhw = iw;
    p.fx = FloorToInt(p.sx * 256.0f + 0.5f);
    p.fy = FloorToInt(p.sy * 256.0f + 0.5f);
}

bool VertexProcessor::ReadElement(const BYTE* p, const Element& e, float out[4]) const {
    out[0] = out[1] = out[2] = 0;
    out[3] = 1;
    if (e.offset < 0) return false;
    p += e.offset;
    auto u16 = [&](int i) { return uint16_t(p[2 * i] | (p[2 * i + 1] << 8)); };
    auto s16 = [&](int i) { return int16_t(u16(i)); };
    switch (e.type) {
        case D3DDECLTYPE_FLOAT4: std::memcpy(&out[3], p + 12, 4); [[fallthrough]];
        case D3DDECLTYPE_FLOAT3: std::memcpy(&out[2], p + 8, 4); [[fallthrough]];
        case D3DDECLTYPE_FLOAT2: std::memcpy(&out[1], p + 4, 4); [[fallthrough]];
        case D3DDECLTYPE_FLOAT1: std::memcpy(&out[0], p, 4); break;
        case D3DDECLTYPE_D3DCOLOR:
            out[0] = p[2] / 255.0f, out[1] = p[1] / 255.0f, out[2] = p[0] / 255.0f, out[3] = p[3] / 255.0f;
            break;
        case D3DDECLTYPE_UBYTE4: for (int i = 0; i < 4; ++i) out[i] = p[i]; break;
        case D3DDECLTYPE_UBYTE4N: for (int i = 0; i < 4; ++i) out[i] = p[i] / 255.0f; break;
        case D3DDECLTYPE_SHORT2: out[0] = s16(0), out[1] = s16(1); break;
        case D3DDECLTYPE_SHORT4: for (int i = 0; i < 4; ++i) out[i] = s16(i); break;
        case D3DDECLTYPE_SHORT2N: for (int i = 0; i < 2; ++i) out[i] = std::max(-1.0f, s16(i) / 32767.0f); break;
        case D3DDECLTYPE_SHORT4N: for (int i = 0; i < 4; ++i) out[i] = std::max(-1.0f, s16(i) / 32767.0f); break;
        case D3DDECLTYPE_USHORT2N: for (int i = 0; i < 2; ++i) out[i] = u16(i) / 65535.0f; break;
        case D3DDECLTYPE_USHORT4N: for (int i = 0; i < 4; ++i) out[i] = u16(i) / 65535.0f; break;
        case D3DDECLTYPE_UDEC3: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            out[0] = float(v & 1023), out[1] = float((v >> 10) & 1023), out[2] = float((v >> 20) & 1023);
            break;
        }
        case D3DDECLTYPE_DEC3N: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            for (int i = 0; i < 3; ++i) {
                int32_t c = int32_t((v >> (10 * i)) & 1023);
                if (c & 512) c -= 1024;
                out[i] = std::max(-1.0f, c / 511.0f);
            }
            break;
        }
        case D3DDECLTYPE_FLOAT16_4: out[2] = HalfToFloat(u16(2)), out[3] = HalfToFloat(u16(3)); [[fallthrough]];
        case D3DDECLTYPE_FLOAT16_2: out[0] = HalfToFloat(u16(0)), out[1] = HalfToFloat(u16(1)); break;
        default: return false;
    }
    return true;
}

void VertexProcessor::PrepareTransforms(const DrawState& st) {
    float world[4][4], view[4][4], projection[4][4];
    std::memcpy(world, st.world.m, sizeof world);
    std::memcpy(view, st.view.m, sizeof view);
    std::memcpy(projection, st.projection.m, sizeof projection);
    Multiply(world, view, wv_);
    Multiply(wv_, projection, wvp_);
    double inverse[4][4];
    if (Invert(wv_, inverse)) {
        // Row-vector normals: N = n * (WV^-1)^T, i.e. N_j = sum_i n_i inv[j][i].
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) normal3_[i][j] = float(inverse[j][i]);
    } else {
        std::memset(normal3_, 0, sizeof normal3_);
    }

    for (UINT i = 0; i < st.lightCount && i < kMaxActiveLights; ++i) {
        const D3DLIGHT9& in = st.lights[i];
        Light& l = lights_[lightCount_];
        l.type = in.Type;
        l.diffuse = ToColor(in.Diffuse);
        l.specular = ToColor(in.Specular);
        l.ambient = ToColor(in.Ambient);
        const float d[3] = {in.Direction.x, in.Direction.y, in.Direction.z};
        for (int j = 0; j < 3; ++j) {
            l.direction[j] = d[0] * view[0][j] + d[1] * view[1][j] + d[2] * view[2][j];
            l.position[j] = in.Position.x * view[0][j] + in.Position.y * view[1][j] + in.Position.z * view[2][j] + view[3][j];
        }
        Normalize3(l.direction);
        if (l.type == D3DLIGHT_DIRECTIONAL)
            for (float& c : l.direction) c = -c;
        l.range = in.Range;
        l.falloff = in.Falloff;
        l.att0 = in.Attenuation0;
        l.att1 = in.Attenuation1;
        l.att2 = in.Attenuation2;
        l.cosHalfTheta = std::cos(in.Theta * 0.5f);
        l.cosHalfPhi = std::cos(in.Phi * 0.5f);
        if (l.type == D3DLIGHT_DIRECTIONAL || l.type == D3DLIGHT_POINT || l.type == D3DLIGHT_SPOT) ++lightCount_;
    }

}

bool VertexProcessor::Prepare(const DrawState& st, const PixelState& ps) {
    state_ = &st;
    ps_ = &ps;
    position_ = normal_ = color0_ = color1_ = Element{};
    for (Element& t : texcoord_) t = Element{};
    transformed_ = false;
    extent_ = 0;
    const UINT stride = st.stream0.stride;
    for (UINT i = 0; i < st.elementCount && i < MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& e = st.elements[i];
        if (e.Stream == 0xFF) break;
        const int size = ElementSize(e.Type);
        // Elements of other streams, or that do not fit the stride, are not read.
        if (e.Stream != 0 || size == 0 || UINT(e.Offset) + UINT(size) > stride) continue;
        Element el{int(e.Offset), int(e.Type)};
        extent_ = std::max(extent_, UINT(e.Offset) + UINT(size));
        switch (e.Usage) {
            case D3DDECLUSAGE_POSITION:
                if (e.UsageIndex == 0 && position_.offset < 0) position_ = el;
                break;
            case D3DDECLUSAGE_POSITIONT:
                if (e.UsageIndex == 0) position_ = el, transformed_ = true;
                break;
            case D3DDECLUSAGE_NORMAL:
                if (e.UsageIndex == 0) normal_ = el;
                break;
            case D3DDECLUSAGE_COLOR:
                if (e.UsageIndex == 0) color0_ = el;
                if (e.UsageIndex == 1) color1_ = el;
                break;
            case D3DDECLUSAGE_TEXCOORD:
                if (e.UsageIndex < 8) texcoord_[e.UsageIndex] = el;
                break;
            default:
                break;
        }
    }
    if (position_.offset < 0) return false;

    const DWORD* rs = st.renderStates;
    lighting_ = rs[D3DRS_LIGHTING] != 0 && !transformed_;
    specular_ = rs[D3DRS_SPECULARENABLE] != 0;
    normalize_ = rs[D3DRS_NORMALIZENORMALS] != 0;
    localViewer_ = rs[D3DRS_LOCALVIEWER] != 0;
    colorVertex_ = rs[D3DRS_COLORVERTEX] != 0;
    diffuseSource_ = rs[D3DRS_DIFFUSEMATERIALSOURCE];
    specularSource_ = rs[D3DRS_SPECULARMATERIALSOURCE];
    ambientSource_ = rs[D3DRS_AMBIENTMATERIALSOURCE];
    emissiveSource_ = rs[D3DRS_EMISSIVEMATERIALSOURCE];
    globalAmbient_ = ColorFromArgb(rs[D3DRS_AMBIENT]);
    power_ = st.material.Power;
    flat_ = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;

    lightCount_ = 0;
    // Pre-transformed vertices need neither the transforms nor the lights.
    if (!transformed_) PrepareTransforms(st);

    texCount_ = 0;
    for (int s = 0; s < ps.stageCount; ++s) {
        if (!ps.stages[s].sampled) continue;
        const DWORD index = st.stageStates[s][D3DTSS_TEXCOORDINDEX];
        TexSource& t = tex_[texCount_++];
        t.varying = ps.stages[s].uvAt;
        t.element = int(index & 7);
        t.generate = transformed_ ? 0 : (index & 0xFFFF0000u);
    }

    vertexFog_ = 0;
    fogFromSpecularAlpha_ = false;
    if (ps.fog == FogKind::Vertex) {
        vertexFog_ = transformed_ ? 0 : rs[D3DRS_FOGVERTEXMODE];
        fogFromSpecularAlpha_ = vertexFog_ == D3DFOG_NONE;
    }
    rangeFog_ = rs[D3DRS_RANGEFOGENABLE] != 0;
    fogStart_ = StateFloat(rs[D3DRS_FOGSTART]);
    fogEnd_ = StateFloat(rs[D3DRS_FOGEND]);
    fogDensity_ = StateFloat(rs[D3DRS_FOGDENSITY]);

    const D3DVIEWPORT9& vp = st.viewport;
    viewport_.x0 = float(vp.X);
    viewport_.y0 = float(vp.Y);
    viewport_.halfWidth = float(vp.Width) * 0.5f;
    viewport_.halfHeight = float(vp.Height) * 0.5f;
    viewport_.minZ = vp.MinZ;
    viewport_.depthRange = vp.MaxZ - vp.MinZ;
    // The guard band: 2^14 w, or less where screen positions would leave
    // the fixed-point range.
    const float halfW = std::max(1.0f, viewport_.halfWidth), halfH = std::max(1.0f, viewport_.halfHeight);
    const float limit = kMaxScreenCoord - 65536.0f;
    viewport_.guardX = std::min(16384.0f, limit / halfW - 1.0f);
    viewport_.guardY = std::min(16384.0f, limit / halfH - 1.0f);
    PrepareLitFour();
    return true;
}

void VertexProcessor::PrepareLitFour() {
    litFour_.on = false;
#ifdef VINTREL_SAMPLER_SSE2
    if (transformed_ || !lighting_ || lightCount_ != 1 || lights_[0].type != D3DLIGHT_DIRECTIONAL || specular_ ||
        normal_.offset < 0 || normal_.type != D3DDECLTYPE_FLOAT3 || color0_.offset >= 0 || color1_.offset >= 0 ||
        vertexFog_ != 0 || ps_->specularAt >= 0 || texCount_ != 1)
        return;
    const TexSource& t = tex_[0];
    const Element& uv = texcoord_[t.element];
    if (t.generate == D3DTSS_TCI_CAMERASPACENORMAL || t.generate == D3DTSS_TCI_CAMERASPACEPOSITION || uv.offset < 0 ||
        uv.type != D3DDECLTYPE_FLOAT2)
        return;
    // What Attributes works out the same for every vertex, worked out the
    // same way: the light's factor is 1 for a directional light.
    const Light& l = lights_[0];
    const D3DMATERIAL9& m = state_->material;
    const float factor = 1.0f;
    const float ambient[3] = {globalAmbient_.r + l.ambient.r * factor, globalAmbient_.g + l.ambient.g * factor,
                              globalAmbient_.b + l.ambient.b * factor};
    litFour_.base[0] = m.Emissive.r + m.Ambient.r * ambient[0];
    litFour_.base[1] = m.Emissive.g + m.Ambient.g * ambient[1];
    litFour_.base[2] = m.Emissive.b + m.Ambient.b * ambient[2];
    litFour_.lightDiffuse[0] = l.diffuse.r, litFour_.lightDiffuse[1] = l.diffuse.g, litFour_.lightDiffuse[2] = l.diffuse.b;
    litFour_.alpha = Saturate(m.Diffuse.a);
    litFour_.uvAt = t.varying;
    litFour_.uvOffset = uv.offset;
    litFour_.fogAt = ps_->fogAt;
    litFour_.on = true;
#endif
}

#ifdef VINTREL_SAMPLER_SSE2
void VertexProcessor::AttributesFour(const uint32_t number[4], float* const out[4]) const {
    const BYTE* vertex[4];
    for (int i = 0; i < 4; ++i) vertex[i] = state_->stream0.bytes + uint64_t(number[i]) * state_->stream0.stride;
    __m128 nx, ny, nz;
    {
        __m128 p[4];
        for (int i = 0; i < 4; ++i) p[i] = LoadXyz(vertex[i] + normal_.offset, 0.0f);
        nx = p[0], ny = p[1], nz = p[2];
        __m128 t = p[3];
        _MM_TRANSPOSE4_PS(nx, ny, nz, t);
    }
    __m128 n[3];
    for (int j = 0; j < 3; ++j)
        n[j] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, _mm_set1_ps(normal3_[0][j])), _mm_mul_ps(ny, _mm_set1_ps(normal3_[1][j]))),
                          _mm_mul_ps(nz, _mm_set1_ps(normal3_[2][j])));
    const __m128 zero = _mm_setzero_ps();
    if (normalize_) {
        const __m128 len =
            _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(n[0], n[0]), _mm_mul_ps(n[1], n[1])), _mm_mul_ps(n[2], n[2])));
        const __m128 positive = _mm_cmpgt_ps(len, zero);
        for (__m128& c : n) c = _mm_or_ps(_mm_and_ps(positive, _mm_div_ps(c, len)), _mm_andnot_ps(positive, c));
    }
    const float* d = lights_[0].direction;
    const __m128 nl = _mm_add_ps(_mm_add_ps(_mm_mul_ps(n[0], _mm_set1_ps(d[0])), _mm_mul_ps(n[1], _mm_set1_ps(d[1]))),
                                 _mm_mul_ps(n[2], _mm_set1_ps(d[2])));
    const __m128 lit = _mm_cmpgt_ps(nl, zero);
    const __m128 k = _mm_mul_ps(nl, _mm_set1_ps(1.0f));
    const D3DCOLORVALUE& cd = state_->material.Diffuse;
    const float materialDiffuse[3] = {cd.r, cd.g, cd.b};
    __m128 colour[4];
    for (int c = 0; c < 3; ++c) {
        const __m128 sum = _mm_and_ps(lit, _mm_add_ps(zero, _mm_mul_ps(_mm_set1_ps(litFour_.lightDiffuse[c]), k)));
        const __m128 v = _mm_add_ps(_mm_set1_ps(litFour_.base[c]), _mm_mul_ps(_mm_set1_ps(materialDiffuse[c]), sum));
        colour[c] = _mm_min_ps(_mm_max_ps(v, zero), _mm_set1_ps(1.0f));
    }
    colour[3] = _mm_set1_ps(litFour_.alpha);
    _MM_TRANSPOSE4_PS(colour[0], colour[1], colour[2], colour[3]);
    const int count = ps_->varyingCount;
    for (int i = 0; i < 4; ++i) {
        float* v = out[i];
        std::fill(v, v + count, 0.0f);
        _mm_storeu_ps(v, colour[i]);
        std::memcpy(v + litFour_.uvAt, vertex[i] + litFour_.uvOffset, 8);
        if (litFour_.fogAt >= 0) v[litFour_.fogAt] = 1.0f;
    }
}
#else
void VertexProcessor::AttributesFour(const uint32_t number[4], float* const out[4]) const {
    for (int i = 0; i < 4; ++i) Attributes(number[i], out[i]);
}
#endif

void VertexProcessor::Positions(const uint32_t* numbers, uint32_t first, uint32_t count, VertexPos* positions,
                                uint32_t* clipCodes) const {
    uint32_t k = 0;
#ifdef VINTREL_SAMPLER_SSE2
    // The usual untransformed float3 position, four vertices at a time.
    const VertexStreamView& stream = state_->stream0;
    if (!transformed_ && position_.type == D3DDECLTYPE_FLOAT3 && stream.bytes && stream.stride != 0) {
        const uint64_t readable = stream.size / stream.stride;
        for (; k + 4 <= count; k += 4) {
            uint32_t n[4];
            bool all = true;
            for (int i = 0; i < 4; ++i) {
                n[i] = numbers ? numbers[k + i] : first + k + uint32_t(i);
                all &= n[i] < readable;
            }
            if (!all || !PositionFour(n, positions + k, clipCodes + k))
                for (int i = 0; i < 4; ++i) PositionOne(n[i], positions[k + i]), clipCodes[k + i] = positions[k + i].clip;
        }
    }
#endif
    for (; k < count; ++k) {
        PositionOne(numbers ? numbers[k] : first + k, positions[k]);
        clipCodes[k] = positions[k].clip;
    }
}

#ifdef VINTREL_SAMPLER_SSE2
bool VertexProcessor::PositionFour(const uint32_t number[4], VertexPos* out, uint32_t* clipCodes) const {
    // Positions, transposed to one register per coordinate.
    __m128 x, y, z;
    {
        __m128 p[4];
        for (int i = 0; i < 4; ++i)
            p[i] = LoadXyz(state_->stream0.bytes + uint64_t(number[i]) * state_->stream0.stride + position_.offset, 1.0f);
        x = p[0], y = p[1], z = p[2];
        __m128 t = p[3];
        _MM_TRANSPOSE4_PS(x, y, z, t);
    }
    // c_j = x m0j + y m1j + z m2j + 1 m3j, summed left to right as PositionOne does.
    __m128 c[4];
    for (int j = 0; j < 4; ++j)
        c[j] = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(wvp_[0][j])), _mm_mul_ps(y, _mm_set1_ps(wvp_[1][j]))),
                                     _mm_mul_ps(z, _mm_set1_ps(wvp_[2][j]))),
                          _mm_set1_ps(wvp_[3][j]));
    const __m128 w = c[3];
    const __m128 maxFinite = _mm_set1_ps(3.40282347e38f);
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 finite = _mm_cmple_ps(_mm_and_ps(c[0], absMask), maxFinite);
    for (int j = 1; j < 4; ++j) finite = _mm_and_ps(finite, _mm_cmple_ps(_mm_and_ps(c[j], absMask), maxFinite));
    const __m128 negW = _mm_xor_ps(w, _mm_set1_ps(-0.0f));
    const __m128 zero = _mm_setzero_ps();
    auto bit = [](__m128 mask, uint32_t b) { return _mm_and_si128(_mm_castps_si128(mask), _mm_set1_epi32(int(b))); };
    const __m128 gx = _mm_mul_ps(_mm_set1_ps(viewport_.guardX), w), ngx = _mm_mul_ps(_mm_set1_ps(-viewport_.guardX), w);
    const __m128 gy = _mm_mul_ps(_mm_set1_ps(viewport_.guardY), w), ngy = _mm_mul_ps(_mm_set1_ps(-viewport_.guardY), w);
    __m128i clip = _mm_or_si128(bit(_mm_cmplt_ps(c[0], negW), kOutLeft), bit(_mm_cmpgt_ps(c[0], w), kOutRight));
    clip = _mm_or_si128(clip, _mm_or_si128(bit(_mm_cmplt_ps(c[1], negW), kOutBottom), bit(_mm_cmpgt_ps(c[1], w), kOutTop)));
    clip = _mm_or_si128(clip, _mm_or_si128(bit(_mm_cmplt_ps(c[2], zero), kOutNear), bit(_mm_cmpgt_ps(c[2], w), kOutFar)));
    clip = _mm_or_si128(clip, _mm_or_si128(bit(_mm_cmplt_ps(c[0], ngx), kGuardLeft), bit(_mm_cmpgt_ps(c[0], gx), kGuardRight)));
    clip = _mm_or_si128(clip, _mm_or_si128(bit(_mm_cmplt_ps(c[1], ngy), kGuardBottom), bit(_mm_cmpgt_ps(c[1], gy), kGuardTop)));
    clip = _mm_or_si128(clip, bit(_mm_cmpnge_ps(w, _mm_set1_ps(kMinW)), kBehind));
    const __m128i finiteI = _mm_castps_si128(finite);
    clip = _mm_or_si128(_mm_and_si128(finiteI, clip), _mm_andnot_si128(finiteI, _mm_set1_epi32(int(kInvalid))));
    // ViewportMap::Apply where nothing needs clipping.
    const __m128 mapped = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(clip, _mm_set1_epi32(int(kClipMask | kInvalid))),
                                                          _mm_setzero_si128()));
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 iw = _mm_div_ps(one, w);
    __m128 sx = _mm_add_ps(_mm_set1_ps(viewport_.x0),
                           _mm_mul_ps(_mm_add_ps(one, _mm_mul_ps(c[0], iw)), _mm_set1_ps(viewport_.halfWidth)));
    __m128 sy = _mm_add_ps(_mm_set1_ps(viewport_.y0),
                           _mm_mul_ps(_mm_sub_ps(one, _mm_mul_ps(c[1], iw)), _mm_set1_ps(viewport_.halfHeight)));
    __m128 sz = _mm_add_ps(_mm_set1_ps(viewport_.minZ), _mm_mul_ps(_mm_mul_ps(c[2], iw), _mm_set1_ps(viewport_.depthRange)));
    __m128 rhw = iw;
    // FloorToInt of the 1/256 pixel positions; lanes it cannot take by
    // truncation go back to the one-vertex path.
    const __m128 scale = _mm_set1_ps(256.0f), half = _mm_set1_ps(0.5f);
    const __m128 fxv = _mm_add_ps(_mm_mul_ps(sx, scale), half), fyv = _mm_add_ps(_mm_mul_ps(sy, scale), half);
    const __m128 range = _mm_set1_ps(2147483520.0f);
    const __m128 inRange = _mm_and_ps(_mm_cmplt_ps(_mm_and_ps(fxv, absMask), range), _mm_cmplt_ps(_mm_and_ps(fyv, absMask), range));
    if (_mm_movemask_ps(_mm_andnot_ps(inRange, mapped)) != 0) return false;
    auto floorToInt = [](__m128 v) {
        const __m128i i = _mm_cvttps_epi32(v);
        return _mm_add_epi32(i, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(i), v)));
    };
    __m128i fx = _mm_and_si128(floorToInt(fxv), _mm_castps_si128(mapped));
    __m128i fy = _mm_and_si128(floorToInt(fyv), _mm_castps_si128(mapped));
    sx = _mm_and_ps(sx, mapped), sy = _mm_and_ps(sy, mapped), sz = _mm_and_ps(sz, mapped), rhw = _mm_and_ps(rhw, mapped);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(clipCodes), clip);
    // Back to one VertexPos a vertex.
    __m128 c0 = c[0], c1 = c[1], c2 = c[2], c3 = c[3];
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    _MM_TRANSPOSE4_PS(sx, sy, sz, rhw);
    __m128 ix = _mm_castsi128_ps(fx), iy = _mm_castsi128_ps(fy), ic = _mm_castsi128_ps(clip), ip = _mm_setzero_ps();
    _MM_TRANSPOSE4_PS(ix, iy, ic, ip);
    const __m128 rows[3][4] = {{c0, c1, c2, c3}, {sx, sy, sz, rhw}, {ix, iy, ic, ip}};
    for (int i = 0; i < 4; ++i) {
        float* to = &out[i].cx;
        _mm_storeu_ps(to, rows[0][i]);
        _mm_storeu_ps(to + 4, rows[1][i]);
        _mm_storeu_ps(to + 8, rows[2][i]);
    }
    return true;
}
#endif

[[gnu::always_inline]] inline bool VertexProcessor::Read(const BYTE* vertex, const Element& e, float out[4]) const {
    out[0] = out[1] = out[2] = 0;
    out[3] = 1;
    if (e.offset < 0) return false;
    const BYTE* p = vertex + e.offset;
    switch (e.type) {
        case D3DDECLTYPE_FLOAT4: std::memcpy(out, p, 16); return true;
        case D3DDECLTYPE_FLOAT3: std::memcpy(out, p, 12); return true;
        case D3DDECLTYPE_FLOAT2: std::memcpy(out, p, 8); return true;
        default: return ReadElement(vertex, e, out);
    }
}

void VertexProcessor::PositionOne(uint32_t number, VertexPos& out) const {
    out = VertexPos{};
    const VertexStreamView& stream = state_->stream0;
    const uint64_t start = uint64_t(number) * stream.stride;
    // The last vertex of a buffer need only hold the elements read, not a
    // whole stride.
    if (!stream.bytes || stream.stride == 0 || start + extent_ > stream.size) {
        out.clip = kInvalid;
        return;
    }
    const BYTE* vertex = stream.bytes + start;
    float p[4];
    Read(vertex, position_, p);
    if (transformed_) {
        out.sx = p[0], out.sy = p[1], out.sz = p[2], out.rhw = p[3];
        out.cx = p[0], out.cy = p[1], out.cz = p[2], out.cw = 1.0f / p[3];
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]) || !std::isfinite(p[3]) ||
            std::fabs(p[0]) > kMaxScreenCoord || std::fabs(p[1]) > kMaxScreenCoord) {
            out.clip = kInvalid;
        } else {
            out.fx = FloorToInt(p[0] * 256.0f + 0.5f);
            out.fy = FloorToInt(p[1] * 256.0f + 0.5f);
        }
        return;
    }
    if (position_.type != D3DDECLTYPE_FLOAT4) p[3] = 1.0f;
    float c[4];
    for (int j = 0; j < 4; ++j) c[j] = p[0] * wvp_[0][j] + p[1] * wvp_[1][j] + p[2] * wvp_[2][j] + p[3] * wvp_[3][j];
    out.cx = c[0], out.cy = c[1], out.cz = c[2], out.cw = c[3];
    uint32_t clip = 0;
    if (!(std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]) && std::isfinite(c[3]))) {
        clip = kInvalid;
    } else {
        const float w = c[3];
        if (c[0] < -w) clip |= kOutLeft;
        if (c[0] > w) clip |= kOutRight;
        if (c[1] < -w) clip |= kOutBottom;
        if (c[1] > w) clip |= kOutTop;
        if (c[2] < 0) clip |= kOutNear;
        if (c[2] > w) clip |= kOutFar;
        if (c[0] < -viewport_.guardX * w) clip |= kGuardLeft;
        if (c[0] > viewport_.guardX * w) clip |= kGuardRight;
        if (c[1] < -viewport_.guardY * w) clip |= kGuardBottom;
        if (c[1] > viewport_.guardY * w) clip |= kGuardTop;
        if (!(w >= kMinW)) clip |= kBehind;
        if (!(clip & kClipMask)) viewport_.Apply(out);
    }
    out.clip = clip;
}

void VertexProcessor::Attributes(uint32_t number, float* v) const {
    const int n = ps_->varyingCount;
    std::fill(v, v + n, 0.0f);
    const BYTE* vertex = state_->stream0.bytes + uint64_t(number) * state_->stream0.stride;
    float p[4];
    Read(vertex, position_, p);
    float c0[4], c1[4];
    const bool hasColor0 = Read(vertex, color0_, c0);
    const bool hasColor1 = Read(vertex, color1_, c1);

    float camera[3] = {0, 0, 0}, normal[3] = {0, 0, 0};
    if (!transformed_ && (lighting_ || vertexFog_ || texCount_)) {
        if (position_.type != D3DDECLTYPE_FLOAT4) p[3] = 1.0f;
        for (int j = 0; j < 3; ++j) camera[j] = p[0] * wv_[0][j] + p[1] * wv_[1][j] + p[2] * wv_[2][j] + p[3] * wv_[3][j];
    }

    // Colours.
    Color diffuse{1, 1, 1, 1}, specular{0, 0, 0, 0};
    if (hasColor0) diffuse = {c0[0], c0[1], c0[2], c0[3]};
    if (hasColor1) specular = {c1[0], c1[1], c1[2], c1[3]};
    if (lighting_) {
        float nIn[3];
        {
            float t[4];
            Read(vertex, normal_, t);
            nIn[0] = t[0], nIn[1] = t[1], nIn[2] = t[2];
        }
        for (int j = 0; j < 3; ++j) normal[j] = nIn[0] * normal3_[0][j] + nIn[1] * normal3_[1][j] + nIn[2] * normal3_[2][j];
        if (normalize_) Normalize3(normal);
        const D3DMATERIAL9& m = state_->material;
        auto source = [&](DWORD which, const D3DCOLORVALUE& material) -> Color {
            if (colorVertex_) {
                if (which == D3DMCS_COLOR1 && hasColor0) return {c0[0], c0[1], c0[2], c0[3]};
                if (which == D3DMCS_COLOR2 && hasColor1) return {c1[0], c1[1], c1[2], c1[3]};
            }
            return ToColor(material);
        };
        const Color cd = source(diffuseSource_, m.Diffuse), cs = source(specularSource_, m.Specular);
        const Color ca = source(ambientSource_, m.Ambient), ce = source(emissiveSource_, m.Emissive);
        float ambient[3] = {globalAmbient_.r, globalAmbient_.g, globalAmbient_.b};
        float diffuseSum[3] = {0, 0, 0}, specularSum[3] = {0, 0, 0};
        float view[3] = {0, 0, -1};
        if (specular_ && localViewer_) {
            view[0] = -camera[0], view[1] = -camera[1], view[2] = -camera[2];
            Normalize3(view);
        }
        for (int i = 0; i < lightCount_; ++i) {
            const Light& l = lights_[i];
            float dir[3];
            float factor = 1.0f;
            if (l.type == D3DLIGHT_DIRECTIONAL) {
                dir[0] = l.direction[0], dir[1] = l.direction[1], dir[2] = l.direction[2];
            } else {
                dir[0] = l.position[0] - camera[0], dir[1] = l.position[1] - camera[1], dir[2] = l.position[2] - camera[2];
                const float dist = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
                if (!(dist <= l.range)) continue;
                if (dist > 0) dir[0] /= dist, dir[1] /= dist, dir[2] /= dist;
                const float denominator = l.att0 + l.att1 * dist + l.att2 * dist * dist;
                factor = denominator > 0 ? 1.0f / denominator : 1.0f;
                if (l.type == D3DLIGHT_SPOT) {
                    // The spot's axis points away from the light.
                    const float rho = -(dir[0] * l.direction[0] + dir[1] * l.direction[1] + dir[2] * l.direction[2]);
                    if (rho <= l.cosHalfPhi)
                        factor = 0;
                    else if (rho < l.cosHalfTheta) {
                        const float t = (rho - l.cosHalfPhi) / (l.cosHalfTheta - l.cosHalfPhi);
                        factor *= l.falloff == 1.0f ? t : std::pow(t, l.falloff);
                    }
                }
            }
            ambient[0] += l.ambient.r * factor, ambient[1] += l.ambient.g * factor, ambient[2] += l.ambient.b * factor;
            const float nl = normal[0] * dir[0] + normal[1] * dir[1] + normal[2] * dir[2];
            if (nl > 0) {
                const float k = nl * factor;
                diffuseSum[0] += l.diffuse.r * k, diffuseSum[1] += l.diffuse.g * k, diffuseSum[2] += l.diffuse.b * k;
                if (specular_) {
                    float h[3] = {dir[0] + view[0], dir[1] + view[1], dir[2] + view[2]};
                    Normalize3(h);
                    const float nh = normal[0] * h[0] + normal[1] * h[1] + normal[2] * h[2];
                    if (nh > 0) {
                        const float s = std::pow(nh, power_) * factor;
                        specularSum[0] += l.specular.r * s, specularSum[1] += l.specular.g * s, specularSum[2] += l.specular.b * s;
                    }
                }
            }
        }
        diffuse = Clamp({ce.r + ca.r * ambient[0] + cd.r * diffuseSum[0], ce.g + ca.g * ambient[1] + cd.g * diffuseSum[1],
                         ce.b + ca.b * ambient[2] + cd.b * diffuseSum[2], cd.a});
        specular = specular_ ? Clamp({cs.r * specularSum[0], cs.g * specularSum[1], cs.b * specularSum[2], 0}) : Color{0, 0, 0, 0};
        if (hasColor1) specular.a = Saturate(c1[3]);
    } else {
        diffuse = Clamp(diffuse);
        specular = Clamp(specular);
    }
    v[0] = diffuse.r, v[1] = diffuse.g, v[2] = diffuse.b, v[3] = diffuse.a;
    if (ps_->specularAt >= 0) v[ps_->specularAt] = specular.r, v[ps_->specularAt + 1] = specular.g, v[ps_->specularAt + 2] = specular.b;

    if (ps_->fogAt >= 0) {
        float f = 1.0f;
        if (fogFromSpecularAlpha_) {
            f = hasColor1 ? Saturate(c1[3]) : 1.0f;
        } else if (vertexFog_) {
            const float d = rangeFog_ ? std::sqrt(camera[0] * camera[0] + camera[1] * camera[1] + camera[2] * camera[2])
                                      : camera[2];
            switch (vertexFog_) {
                case D3DFOG_LINEAR: f = fogEnd_ != fogStart_ ? (fogEnd_ - d) / (fogEnd_ - fogStart_) : 1.0f; break;
                case D3DFOG_EXP: f = std::exp(-fogDensity_ * d); break;
                case D3DFOG_EXP2: f = std::exp(-(fogDensity_ * d) * (fogDensity_ * d)); break;
                default: break;
            }
            f = SaturateSafe(f);
        }
        v[ps_->fogAt] = f;
    }

    for (int t = 0; t < texCount_; ++t) {
        const TexSource& s = tex_[t];
        float uv[4] = {0, 0, 0, 1};
        switch (s.generate) {
            case D3DTSS_TCI_CAMERASPACENORMAL:
                if (!lighting_) {
                    float nIn[4];
                    Read(vertex, normal_, nIn);
                    for (int j = 0; j < 3; ++j) normal[j] = nIn[0] * normal3_[0][j] + nIn[1] * normal3_[1][j] + nIn[2] * normal3_[2][j];
                    // The same normal lighting would use.
                    if (normalize_) Normalize3(normal);
                }
                uv[0] = normal[0], uv[1] = normal[1];
                break;
            case D3DTSS_TCI_CAMERASPACEPOSITION:
                uv[0] = camera[0], uv[1] = camera[1];
                break;
            default:
                Read(vertex, texcoord_[s.element], uv);
                break;
        }
        v[s.varying] = uv[0];
        v[s.varying + 1] = uv[1];
    }
    (void)flat_;
}

}  // namespace render
