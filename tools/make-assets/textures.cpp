#include "textures.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "image_writers.h"

namespace assets {

namespace {
uint8_t Byte(float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 255.0f))); }
Rgba Mix(Rgba a, Rgba b, float t) {
    return {Byte(a.r + (b.r - a.r) * t), Byte(a.g + (b.g - a.g) * t), Byte(a.b + (b.b - a.b) * t),
            Byte(a.a + (b.a - a.a) * t)};
}
Rgba Scale(Rgba c, float k) { return {Byte(c.r * k), Byte(c.g * k), Byte(c.b * k), c.a}; }

// A tileable picture: colour between `dark` and `light` by fractal noise.
Image Noise(int size, Rgba dark, Rgba light, int period, int octaves, uint32_t seed, float contrast = 1.0f) {
    Image img(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float n = TiledFractal(x * float(period) / size, y * float(period) / size, period, octaves, seed);
            n = std::clamp(0.5f + (n - 0.5f) * contrast, 0.0f, 1.0f);
            img.at(x, y) = Mix(dark, light, n);
        }
    return img;
}

Image Grass() {
    Image img = Noise(256, {52, 92, 34, 255}, {104, 150, 62, 255}, 8, 5, 1, 1.6f);
    Random r(5);
    for (int i = 0; i < 2600; ++i) {  // blades
        float x = r.Range(0, 256), y = r.Range(0, 256), len = r.Range(2, 5);
        Rgba c = r.Uniform() < 0.5f ? Rgba{130, 178, 80, 255} : Rgba{40, 72, 28, 255};
        for (int k = 0; k < int(len); ++k) Blend(img, int(x) % 256, (int(y) - k + 256) % 256, c, 0.55f);
    }
    return img;
}

Image Lawn() {
    // Mown stripes, 4 to a tile.
    Image img = Noise(128, {64, 112, 42, 255}, {96, 146, 60, 255}, 8, 4, 2, 1.4f);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            if ((y / 16) % 2) img.at(x, y) = Scale(img.at(x, y), 0.86f);
    return img;
}

Image Gravel() {
    Image img = Noise(256, {150, 138, 112, 255}, {196, 186, 160, 255}, 16, 4, 3, 1.3f);
    Random r(7);
    for (int i = 0; i < 1400; ++i) {
        float x = r.Range(2, 254), y = r.Range(2, 254), rad = r.Range(0.8f, 2.2f);
        uint8_t v = uint8_t(r.Range(110, 220));
        FillDisc(img, x, y, rad, {v, uint8_t(v - 8), uint8_t(v - 22), 255});
    }
    return img;
}

Image Rock() {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            float n = TiledFractal(x / 16.0f, y / 16.0f, 8, 5, 9);
            float strata = 0.5f + 0.5f * std::sin(y * 0.2f + n * 6);
            img.at(x, y) = Mix({92, 86, 80, 255}, {168, 158, 142, 255}, 0.6f * n + 0.4f * strata);
        }
    return img;
}

Image Sand() { return Noise(128, {196, 172, 120, 255}, {232, 214, 168, 255}, 16, 4, 4, 1.2f); }

Image Kerb() {
    Image img(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) img.at(x, y) = y < 32 ? Rgba{200, 30, 28, 255} : Rgba{236, 236, 232, 255};
    return img;
}

Image Concrete() {
    // Few grey levels, so the 8-bit file holds them exactly.
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            float n = TiledFractal(x / 16.0f, y / 16.0f, 8, 4, 13);
            uint8_t v = uint8_t(150 + int(n * 12) * 6);
            if (x % 64 == 0 || y % 32 == 0) v = 118;
            img.at(x, y) = {v, v, uint8_t(v + 2), 255};
        }
    return img;
}

Image Field() {
    Image img(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            float n = TiledFractal(x / 16.0f, y / 16.0f, 8, 4, 17);
            float furrow = 0.5f + 0.5f * std::sin(x * 2 * 3.14159f / 8);
            img.at(x, y) = Mix({150, 120, 60, 255}, {210, 184, 96, 255}, 0.55f * n + 0.45f * furrow);
        }
    return img;
}

Image Tyres() {
    Image img(64, 32, {40, 40, 44, 255});
    for (int i = 0; i < 4; ++i) {
        float cx = 8 + 16 * i;
        FillDisc(img, cx, 8, 7.5f, {18, 18, 20, 255});
        FillDisc(img, cx, 8, 3.0f, {60, 60, 64, 255});
        FillDisc(img, cx, 24, 7.5f, {18, 18, 20, 255});
        FillDisc(img, cx, 24, 3.0f, {60, 60, 64, 255});
    }
    return img;
}

Image Fence() {
    Image img(64, 64, {0, 0, 0, 0});
    for (int k = -64; k < 128; k += 8) {
        DrawLine(img, float(k), 0, float(k + 64), 64, 1.2f, {190, 196, 200, 255});
        DrawLine(img, float(k + 64), 0, float(k), 64, 1.2f, {190, 196, 200, 255});
    }
    DrawLine(img, 0, 1, 64, 1, 2.0f, {120, 124, 128, 255});
    DrawLine(img, 0, 63, 64, 63, 2.0f, {120, 124, 128, 255});
    DrawLine(img, 1, 0, 1, 64, 2.5f, {100, 104, 108, 255});
    return img;
}

Image Boards(TextRenderer& text) {
    Image img(256, 64, {0, 0, 0, 0});
    const Rgba backs[] = {{20, 60, 160, 255}, {200, 40, 30, 255}, {240, 200, 30, 255}, {20, 130, 70, 255}};
    const char* words[] = {"VINTREL", "RACING", "OIL", "TYRES"};
    for (int i = 0; i < 4; ++i) {
        float x0 = i * 64.0f + 1, x1 = x0 + 62;
        float quad[8] = {x0, 6, x1, 6, x1, 58, x0, 58};
        FillPolygon(img, quad, 4, backs[i]);
        float w = text.Measure(words[i], 14, true);
        text.DrawString(img, words[i], 14, x0 + 31 - w / 2, 38, i == 2 ? Rgba{20, 20, 20, 255} : Rgba{250, 250, 250, 255}, true);
    }
    return img;
}

Image Paddock() {
    Image img = Noise(64, {58, 58, 62, 255}, {84, 84, 88, 255}, 8, 3, 19, 1.2f);
    for (int y = 0; y < 64; ++y) img.at(62, y) = img.at(63, y) = {220, 220, 210, 255};
    return img;
}

// Asphalt tiling every 224 rows (v 0 .. 0.875), with edge lines; rows
// 224-255 hold the chequered start line.
Image Road() {
    Image img(256, 256);
    for (int y = 0; y < 224; ++y)
        for (int x = 0; x < 256; ++x) {
            float n = 0.6f * TiledNoise(x / 8.0f, y * 32.0f / 224.0f, 32, 23) +
                      0.4f * TiledNoise(x / 2.0f, y * 128.0f / 224.0f, 128, 29);
            Rgba c = Mix({62, 62, 66, 255}, {104, 104, 108, 255}, n);
            if ((x >= 6 && x < 12) || (x >= 244 && x < 250)) c = Mix(c, {232, 232, 226, 255}, 0.9f);
            if (x >= 125 && x < 131 && y < 112) c = Mix(c, {230, 230, 224, 255}, 0.85f);
            img.at(x, y) = c;
        }
    for (int y = 224; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            bool dark = ((x / 16) + ((y - 224) / 16)) % 2;
            img.at(x, y) = dark ? Rgba{24, 24, 26, 255} : Rgba{240, 240, 236, 255};
        }
    return img;
}

Image Bark() {
    Image img(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            float n = TiledFractal(x / 4.0f, y / 16.0f, 16, 4, 31);
            img.at(x, y) = Mix({62, 44, 28, 255}, {120, 92, 62, 255}, n);
        }
    return img;
}

Image Leaves() {
    Image img(128, 128);
    Random r(37);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            float n = TiledFractal(x / 8.0f, y / 8.0f, 16, 4, 41);
            img.at(x, y) = Mix({24, 58, 22, 255}, {70, 120, 44, 255}, n);
        }
    for (int i = 0; i < 500; ++i) {
        float x = r.Range(0, 128), y = r.Range(0, 128);
        // Two draws in one argument list would come in whichever order the
        // compiler picks; the colour is drawn first, as the data set has it.
        const bool light = r.Uniform() < 0.5f;
        const float radius = r.Range(1.0f, 2.5f);
        FillDisc(img, x, y, radius, light ? Rgba{90, 140, 56, 255} : Rgba{18, 44, 18, 255});
    }
    // A ragged lower edge shows the sky through the boughs.
    for (int x = 0; x < 128; ++x) {
        int depth = int(6 + 5 * TiledNoise(x / 8.0f, 0.5f, 16, 43));
        for (int y = 128 - depth; y < 128; ++y) img.at(x, y).a = uint8_t(255 * (128 - y) / (depth + 1));
    }
    return img;
}

Image Banner(TextRenderer& text) {
    Image img(256, 64, {16, 24, 64, 255});
    for (int x = 0; x < 256; ++x) {
        bool check = (x / 8) % 2;
        for (int y = 0; y < 6; ++y) img.at(x, y) = img.at(x, 63 - y) = check ? Rgba{240, 240, 240, 255} : Rgba{20, 20, 20, 255};
    }
    float w = text.Measure("VINTREL", 34, true);
    text.DrawString(img, "VINTREL", 34, 128 - w / 2, 45, {255, 220, 60, 255}, true);
    return img;
}

Image Seats() {
    Image img(64, 64, {40, 40, 48, 255});
    const Rgba colours[] = {{30, 80, 170, 255}, {200, 50, 40, 255}, {240, 200, 40, 255}};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            if (y % 16 < 11 && x % 8 < 6) img.at(x, y) = colours[(x / 8 + y / 16) % 3];
    return img;
}
}  // namespace

bool WriteCourseTextures(const std::string& dir, TextRenderer& text, size_t& written) {
    bool ok = true;
    auto count = [&](bool done) { ok &= done, written += done; };
    count(WriteDds(dir + "/grass.dds", Grass(), DdsFormat::DXT1, true));
    count(WriteJpeg(dir + "/gravel.jpg", Gravel(), 88));
    count(WritePpm(dir + "/rock.ppm", Rock()));
    count(WriteBmp24(dir + "/sand.bmp", Sand()));
    count(WriteTgaRle(dir + "/kerb.tga", Kerb(), false));
    count(WriteBmp8(dir + "/concrete.bmp", Concrete()));
    count(WriteDds(dir + "/lawn.dds", Lawn(), DdsFormat::X8R8G8B8, true));
    count(WriteDds(dir + "/field.dds", Field(), DdsFormat::R5G6B5, true));
    count(WriteDds(dir + "/tyres.dds", Tyres(), DdsFormat::DXT1, false));
    count(WritePng(dir + "/fence.png", Fence(), true));
    count(WriteDds(dir + "/boards.dds", Boards(text), DdsFormat::DXT5, true));
    count(WriteTgaRle(dir + "/paddock.tga", Paddock(), false));
    count(WriteDds(dir + "/road.dds", Road(), DdsFormat::DXT1, true));
    count(WriteBmp24(dir + "/bark.bmp", Bark()));
    count(WritePng(dir + "/leaves.png", Leaves(), true));
    count(WriteDds(dir + "/banner.dds", Banner(text), DdsFormat::DXT5, true));
    count(WriteTgaRle(dir + "/seats.tga", Seats(), true));
    return ok;
}

}  // namespace assets
