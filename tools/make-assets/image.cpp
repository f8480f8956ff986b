#include "image.h"

#include <algorithm>
#include <cmath>

namespace assets {

void Blend(Image& image, int x, int y, Rgba c, float alpha) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    alpha = std::clamp(alpha, 0.0f, 1.0f) * (c.a / 255.0f);
    if (alpha <= 0) return;
    Rgba& d = image.at(x, y);
    float da = d.a / 255.0f;
    float outA = alpha + da * (1 - alpha);
    auto mix = [&](uint8_t s, uint8_t t) {
        if (outA <= 0) return uint8_t(0);
        float v = (s * alpha + t * da * (1 - alpha)) / outA;
        return uint8_t(std::lround(std::clamp(v, 0.0f, 255.0f)));
    };
    d = {mix(c.r, d.r), mix(c.g, d.g), mix(c.b, d.b), uint8_t(std::lround(outA * 255))};
}

// Coverage of a pixel by a shape given its signed distance (negative inside).
static float Coverage(float distance) { return std::clamp(0.5f - distance, 0.0f, 1.0f); }

void FillDisc(Image& image, float cx, float cy, float radius, Rgba c) {
    FillRing(image, cx, cy, -1.0f, radius, c);
}

void FillRing(Image& image, float cx, float cy, float inner, float outer, Rgba c) {
    int x0 = std::max(0, int(cx - outer - 2)), x1 = std::min(image.width - 1, int(cx + outer + 2));
    int y0 = std::max(0, int(cy - outer - 2)), y1 = std::min(image.height - 1, int(cy + outer + 2));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
            float cover = Coverage(d - outer);
            if (inner > 0) cover = std::min(cover, Coverage(inner - d));
            if (cover > 0) Blend(image, x, y, c, cover);
        }
}

void DrawLine(Image& image, float ax, float ay, float bx, float by, float width, Rgba c) {
    float half = width * 0.5f;
    int x0 = std::max(0, int(std::min(ax, bx) - half - 2));
    int x1 = std::min(image.width - 1, int(std::max(ax, bx) + half + 2));
    int y0 = std::max(0, int(std::min(ay, by) - half - 2));
    int y1 = std::min(image.height - 1, int(std::max(ay, by) + half + 2));
    float dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            float px = x + 0.5f - ax, py = y + 0.5f - ay;
            float t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0f, 1.0f) : 0.0f;
            float d = std::hypot(px - t * dx, py - t * dy) - half;
            float cover = Coverage(d);
            if (cover > 0) Blend(image, x, y, c, cover);
        }
}

void FillPolygon(Image& image, const float* xy, int count, Rgba c) {
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (int i = 0; i < count; ++i) {
        minX = std::min(minX, xy[2 * i]), maxX = std::max(maxX, xy[2 * i]);
        minY = std::min(minY, xy[2 * i + 1]), maxY = std::max(maxY, xy[2 * i + 1]);
    }
    // Orientation, so the signed edge distances are negative inside.
    float area = 0;
    for (int i = 0; i < count; ++i) {
        int j = (i + 1) % count;
        area += xy[2 * i] * xy[2 * j + 1] - xy[2 * j] * xy[2 * i + 1];
    }
    float sign = area > 0 ? 1.0f : -1.0f;
    for (int y = std::max(0, int(minY) - 1); y <= std::min(image.height - 1, int(maxY) + 1); ++y)
        for (int x = std::max(0, int(minX) - 1); x <= std::min(image.width - 1, int(maxX) + 1); ++x) {
            float px = x + 0.5f, py = y + 0.5f, d = -1e9f;
            for (int i = 0; i < count; ++i) {
                int j = (i + 1) % count;
                float ex = xy[2 * j] - xy[2 * i], ey = xy[2 * j + 1] - xy[2 * i + 1];
                float len = std::hypot(ex, ey);
                if (len <= 0) continue;
                // Outward distance from the edge line.
                float dist = sign * ((px - xy[2 * i]) * ey - (py - xy[2 * i + 1]) * ex) / len;
                d = std::max(d, dist);
            }
            float cover = Coverage(d);
            if (cover > 0) Blend(image, x, y, c, cover);
        }
}

Image Downsample(const Image& image) {
    int w = std::max(1, image.width / 2), h = std::max(1, image.height / 2);
    Image out(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sx = std::min(2 * x, image.width - 1), sy = std::min(2 * y, image.height - 1);
            int sx1 = std::min(sx + 1, image.width - 1), sy1 = std::min(sy + 1, image.height - 1);
            const Rgba* p[4] = {&image.at(sx, sy), &image.at(sx1, sy), &image.at(sx, sy1),
                                &image.at(sx1, sy1)};
            auto avg = [&](uint8_t Rgba::*m) {
                return uint8_t((p[0]->*m + p[1]->*m + p[2]->*m + p[3]->*m + 2) / 4);
            };
            out.at(x, y) = {avg(&Rgba::r), avg(&Rgba::g), avg(&Rgba::b), avg(&Rgba::a)};
        }
    return out;
}

static float Lattice(int x, int y, int period, uint32_t seed) {
    x = ((x % period) + period) % period;
    y = ((y % period) + period) % period;
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return float(h & 0xFFFFFF) / 16777215.0f;
}

float TiledNoise(float x, float y, int period, uint32_t seed) {
    int ix = int(std::floor(x)), iy = int(std::floor(y));
    float fx = x - ix, fy = y - iy;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    float a = Lattice(ix, iy, period, seed), b = Lattice(ix + 1, iy, period, seed);
    float c = Lattice(ix, iy + 1, period, seed), d = Lattice(ix + 1, iy + 1, period, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

float TiledFractal(float x, float y, int period, int octaves, uint32_t seed) {
    float sum = 0, amplitude = 0.5f, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * TiledNoise(x, y, period, seed + o * 101);
        total += amplitude;
        x *= 2, y *= 2, period *= 2, amplitude *= 0.5f;
    }
    return sum / total;
}

}  // namespace assets
