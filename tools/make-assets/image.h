// A plain 8-bit RGBA picture with the few drawing operations the data-set
// generator needs. Pixels are row by row from the top, bytes R, G, B, A.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace assets {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

struct Image {
    int width = 0, height = 0;
    std::vector<Rgba> pixels;

    Image() = default;
    Image(int w, int h, Rgba fill = {}) : width(w), height(h), pixels(size_t(w) * h, fill) {}
    Rgba& at(int x, int y) { return pixels[size_t(y) * width + x]; }
    const Rgba& at(int x, int y) const { return pixels[size_t(y) * width + x]; }
    // Wrapping access, for tileable textures.
    Rgba& wrap(int x, int y) {
        x %= width, y %= height;
        return at(x < 0 ? x + width : x, y < 0 ? y + height : y);
    }
};

// Mixes `c` over the pixel with coverage `alpha` in [0, 1] ("over" operator
// on straight alpha).
void Blend(Image& image, int x, int y, Rgba c, float alpha);
// Anti-aliased filled disc and ring, coordinates in pixels (centres at +0.5).
void FillDisc(Image& image, float cx, float cy, float radius, Rgba c);
void FillRing(Image& image, float cx, float cy, float inner, float outer, Rgba c);
// Anti-aliased thick line segment.
void DrawLine(Image& image, float x0, float y0, float x1, float y1, float width, Rgba c);
// Anti-aliased filled convex polygon.
void FillPolygon(Image& image, const float* xy, int count, Rgba c);
// Half-size image by averaging 2x2 blocks (odd sizes keep the last row or
// column), for mip chains.
Image Downsample(const Image& image);
// Seamless value noise in [0, 1], tiled over `period` cells.
float TiledNoise(float x, float y, int period, uint32_t seed);
// Sum of octaves of TiledNoise, still tiling.
float TiledFractal(float x, float y, int period, int octaves, uint32_t seed);

// A small deterministic generator (xorshift64*), so every run writes the
// same bytes.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return uint32_t((state_ * 0x2545F4914F6CDD1Dull) >> 32);
    }
    float Uniform() { return float(Next() >> 8) * (1.0f / 16777216.0f); }  // [0, 1)
    float Range(float lo, float hi) { return lo + (hi - lo) * Uniform(); }

private:
    uint64_t state_;
};

}  // namespace assets
