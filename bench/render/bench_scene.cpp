#include "bench/render/bench_scene.h"

#include <cmath>

namespace bench {

namespace {

float Height(float x, float z) {
    return 6.0f * std::sin(x * 0.05f) * std::cos(z * 0.07f) + 2.0f * std::sin(x * 0.21f + z * 0.13f);
}

MipChain MakeTexture(int seed) {
    MipChain chain;
    chain.width = chain.height = 256;
    std::vector<uint32_t> level(256 * 256);
    uint32_t state = 2166136261u + seed;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 26);
            const int r = 90 + 60 * (((x >> 4) + (y >> 4) + seed) & 1) + noise, g = 120 + noise * 2, b = 60 + (x ^ y) % 40;
            level[y * 256 + x] = 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
        }
    chain.levels.push_back(level);
    for (int size = 128; size >= 1; size /= 2) {
        const std::vector<uint32_t>& up = chain.levels.back();
        std::vector<uint32_t> down(size_t(size) * size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                uint32_t sum[4] = {0, 0, 0, 0};
                for (int k = 0; k < 4; ++k) {
                    const uint32_t t = up[(2 * y + k / 2) * (2 * size) + 2 * x + k % 2];
                    for (int c = 0; c < 4; ++c) sum[c] += (t >> (8 * c)) & 0xFF;
                }
                uint32_t out = 0;
                for (int c = 0; c < 4; ++c) out |= ((sum[c] + 2) / 4) << (8 * c);
                down[y * size + x] = out;
            }
        chain.levels.push_back(down);
    }
    return chain;
}

D3DMATRIX LookAt(const float eye[3], const float at[3]) {
    auto normalize = [](float v[3]) {
        const float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        for (int i = 0; i < 3; ++i) v[i] /= l;
    };
    const float up[3] = {0, 1, 0};
    float z[3] = {at[0] - eye[0], at[1] - eye[1], at[2] - eye[2]};
    normalize(z);
    float x[3] = {up[1] * z[2] - up[2] * z[1], up[2] * z[0] - up[0] * z[2], up[0] * z[1] - up[1] * z[0]};
    normalize(x);
    const float y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    D3DMATRIX m{};
    for (int i = 0; i < 3; ++i) m.m[i][0] = x[i], m.m[i][1] = y[i], m.m[i][2] = z[i];
    m._41 = -(x[0] * eye[0] + x[1] * eye[1] + x[2] * eye[2]);
    m._42 = -(y[0] * eye[0] + y[1] * eye[1] + y[2] * eye[2]);
    m._43 = -(z[0] * eye[0] + z[1] * eye[1] + z[2] * eye[2]);
    m._44 = 1;
    return m;
}

}  // namespace

Scene MakeScene() {
    Scene s;
    // The height field: x in [-250, 250], z in [0, 300].
    for (int j = 0; j <= kCellsZ; ++j)
        for (int i = 0; i <= kCellsX; ++i) {
            const float x = -250.0f + 500.0f * i / kCellsX, z = 300.0f * j / kCellsZ;
            const float e = 0.5f;
            const float dx = (Height(x + e, z) - Height(x - e, z)) / (2 * e);
            const float dz = (Height(x, z + e) - Height(x, z - e)) / (2 * e);
            const float len = std::sqrt(dx * dx + 1 + dz * dz);
            s.vertices.push_back({x, Height(x, z), z, -dx / len, 1 / len, -dz / len, x * 0.1f, z * 0.1f});
        }
    // Left half and right half, each with its own texture. Clockwise seen
    // from above, so counter-clockwise culling keeps them.
    for (int half = 0; half < 2; ++half)
        for (int j = 0; j < kCellsZ; ++j)
            for (int i = half * kCellsX / 2; i < (half + 1) * kCellsX / 2; ++i) {
                const uint16_t a = uint16_t(j * (kCellsX + 1) + i), b = uint16_t(a + 1);
                const uint16_t c = uint16_t(a + kCellsX + 1), d = uint16_t(c + 1);
                for (uint16_t k : {a, c, d, a, d, b}) s.indices.push_back(k);
            }
    s.textures[0] = MakeTexture(0);
    s.textures[1] = MakeTexture(1);

    // A font-like texture: 32 x 4 cells of 8 x 16 with an opaque glyph
    // block inside each cell.
    s.font.width = 256;
    s.font.height = 64;
    std::vector<uint32_t> font(256 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            const bool ink = (x % 8) >= 1 && (x % 8) <= 5 && (y % 16) >= 3 && (y % 16) <= 12 && ((x * 7 + y * 3) % 5 != 0);
            font[y * 256 + x] = ink ? 0xFFFFFFFFu : 0x00FFFFFFu;
        }
    s.font.levels.push_back(font);
    for (int q = 0; q < kOverlayQuads; ++q) {
        const float left = float(q % 50) * 12.0f + 10 - 0.5f, top = float(q / 50) * 20.0f + 10 - 0.5f;
        const float u = float(q % 32) * 0.03125f, v = float((q / 32) % 4) * 0.25f;
        s.overlay.push_back({left, top, 0, 1, 0xFFFFFFFF, u, v});
        s.overlay.push_back({left + 8, top, 0, 1, 0xFFFFFFFF, u + 0.03125f, v});
        s.overlay.push_back({left + 8, top + 16, 0, 1, 0xFFFFFFFF, u + 0.03125f, v + 0.25f});
        s.overlay.push_back({left, top + 16, 0, 1, 0xFFFFFFFF, u, v + 0.25f});
    }

    // Looking down at 45 degrees from 60 above the field's near edge.
    const float eye[3] = {0, 60, 0}, at[3] = {0, 0, 60};
    s.view = LookAt(eye, at);
    const float fov = 1.0471976f, zn = 1.1f, zf = 30000.0f;
    const float ys = 1.0f / std::tan(fov / 2), xs = ys / (float(kWidth) / kHeight);
    s.projection = D3DMATRIX{};
    s.projection._11 = xs;
    s.projection._22 = ys;
    s.projection._33 = zf / (zf - zn);
    s.projection._34 = 1;
    s.projection._43 = -zn * zf / (zf - zn);

    s.light = D3DLIGHT9{};
    s.light.Type = D3DLIGHT_DIRECTIONAL;
    s.light.Diffuse = {0.125f, 0.125f, 0.125f, 0};
    s.light.Ambient = {0.5f, 0.5f, 0.5f, 0};
    s.light.Specular = {0.3f, 0.3f, 0.3f, 0};
    s.light.Direction = {0.8f, -1.0f, 0.0f};
    s.material = D3DMATERIAL9{};
    s.material.Diffuse = {0.9f, 0.9f, 0.9f, 128.0f};
    s.material.Ambient = s.material.Diffuse;
    s.material.Specular = s.material.Diffuse;
    s.material.Power = 10;
    return s;
}

}  // namespace bench
