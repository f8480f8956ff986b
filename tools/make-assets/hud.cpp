#include "hud.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace assets {

namespace {
constexpr float kDegrees = 0.017453292f;

// Needle angle on screen (y down): straight down at zero, clockwise with
// the value, as the program turns its needles.
void Polar(float cx, float cy, float degrees, float radius, float& x, float& y) {
    x = cx + std::cos(degrees * kDegrees) * radius;
    y = cy + std::sin(degrees * kDegrees) * radius;
}

void Label(TextRenderer& text, Image& image, const std::string& s, float x, float y, int size, Rgba colour) {
    float w = text.Measure(s, size, true);
    text.DrawString(image, s, size, x - w / 2, y + size * 0.36f, colour, true);
}

void Gauge(TextRenderer& text, Image& image, float cx, float cy, float degreesPerUnit, float maxValue,
           float majorStep, float minorStep, float labelDivisor, float redFrom, const char* units) {
    const float radius = 60.0f;
    FillDisc(image, cx, cy, radius + 2.5f, {20, 20, 24, 255});
    FillRing(image, cx, cy, radius - 0.5f, radius + 2.5f, {170, 172, 180, 255});
    FillDisc(image, cx, cy, radius - 1.0f, {12, 14, 20, 235});
    if (redFrom < maxValue) {
        // Red zone as short thick strokes along the rim.
        for (float v = redFrom; v <= maxValue; v += minorStep / 8) {
            float x0, y0, x1, y1, a = v * degreesPerUnit + 90;
            Polar(cx, cy, a, radius - 9, x0, y0);
            Polar(cx, cy, a, radius - 2, x1, y1);
            DrawLine(image, x0, y0, x1, y1, 2.0f, {210, 30, 25, 255});
        }
    }
    for (float v = 0; v <= maxValue + 0.001f; v += minorStep) {
        bool major = std::fmod(v + 0.001f, majorStep) < 0.01f;
        float x0, y0, x1, y1, a = v * degreesPerUnit + 90;
        Polar(cx, cy, a, radius - (major ? 10.0f : 6.0f), x0, y0);
        Polar(cx, cy, a, radius - 2, x1, y1);
        DrawLine(image, x0, y0, x1, y1, major ? 1.8f : 1.0f, {235, 235, 235, 255});
        if (major) {
            float lx, ly;
            Polar(cx, cy, a, radius - 19, lx, ly);
            Label(text, image, std::to_string(int(std::lround(v / labelDivisor))), lx, ly, 9,
                  v >= redFrom ? Rgba{255, 80, 60, 255} : Rgba{240, 240, 240, 255});
        }
    }
    Label(text, image, units, cx, cy + 24, 8, {150, 170, 200, 255});
    FillDisc(image, cx, cy, 4.0f, {90, 90, 96, 255});
}
}  // namespace

Image MakeFont(TextRenderer& text) {
    Image coverage(256, 64, {0, 0, 0, 0});
    for (int code = 33; code < 127; ++code) {
        int n = code - 32;
        int cellX = (n % 32) * 8, cellY = (n / 32) * 16;
        Image cell(8, 16, {0, 0, 0, 0});
        text.Draw(cell, char32_t(code), 13, 0.0f, 12.0f, false, true);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 8; ++x) coverage.at(cellX + x, cellY + y).a = cell.at(x, y).a;
    }
    // Glyph white over a one-pixel dark outline, each cell on its own.
    Image font(256, 64, {0, 0, 0, 0});
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            int cellX = x / 8 * 8, cellY = y / 16 * 16;
            float glyph = coverage.at(x, y).a / 255.0f, ring = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    int sx = x + dx, sy = y + dy;
                    if (sx < cellX || sy < cellY || sx >= cellX + 8 || sy >= cellY + 16) continue;
                    ring = std::max(ring, coverage.at(sx, sy).a / 255.0f * (dx && dy ? 0.6f : 1.0f));
                }
            float outline = ring * 0.8f;
            float alpha = glyph + outline * (1 - glyph);
            float white = alpha > 0 ? glyph / alpha : 0;
            uint8_t c = uint8_t(std::lround(20 + 235 * white));
            font.at(x, y) = {c, c, c, uint8_t(std::lround(alpha * 255))};
        }
    return font;
}

Image MakeSpeedMeter(TextRenderer& text) {
    Image meter(256, 256, {0, 0, 0, 0});
    // Left: road speed, 2.4 degrees per km/h; right: engine, 0.025 per rpm.
    Gauge(text, meter, 64, 64, 2.4f, 140, 20, 10, 1, 1e9f, "km/h");
    Gauge(text, meter, 193, 64, 0.025f, 10000, 1000, 500, 1000, 9000, "x1000rpm");

    // Needle: rows 128-132, x 0-71; a short tail behind the pivot at x 12.
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 72; ++x) {
            float cy = 2.0f, half;
            if (x < 12) half = 1.6f;
            else half = 2.4f * (1.0f - float(x - 12) / 62.0f) + 0.5f;
            float d = std::abs(y - cy) - half;
            float cover = std::clamp(0.5f - d, 0.0f, 1.0f);
            if (cover > 0) meter.at(x, 128 + y) = {255, uint8_t(x < 12 ? 200 : 150), 40, uint8_t(std::lround(cover * 255))};
        }
    // Gear digits on small dark tiles.
    for (int g = 0; g < 5; ++g) {
        Image cell(32, 32, {0, 0, 0, 0});
        FillPolygon(cell, std::array<float, 8>{2, 2, 30, 2, 30, 30, 2, 30}.data(), 4, {15, 18, 28, 220});
        std::string digit(1, char('1' + g));
        float w = text.Measure(digit, 26, true);
        text.DrawString(cell, digit, 26, 16 - w / 2, 26, {255, 210, 60, 255}, true);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) meter.at(g * 32 + x, 144 + y) = cell.at(x, y);
    }
    return meter;
}

}  // namespace assets
