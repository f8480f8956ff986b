// The program's icons: a steering wheel on a rounded blue tile, drawn here
// at each size and stored as icon images (a DIB with its AND mask) in the
// depths the icon groups list.
#include "resources/icons.h"

#include <algorithm>
#include <cmath>

#include "resources/template_writer.h"

namespace {

struct Rgba {
    int size = 0;
    std::vector<BYTE> pixels;  // r, g, b, a; row 0 at the top
};

struct Colour {
    float r, g, b;
};

// The artwork at one point of the unit square (x, y from -0.5 to 0.5), with
// its coverage: 0 outside the tile.
bool Sample(float x, float y, int variant, Colour* c) {
    // Rounded square tile.
    const float half = 0.47f, corner = 0.16f;
    float dx = std::max(std::fabs(x) - (half - corner), 0.0f);
    float dy = std::max(std::fabs(y) - (half - corner), 0.0f);
    if (std::fabs(x) > half || std::fabs(y) > half || dx * dx + dy * dy > corner * corner)
        return false;
    float t = y + 0.5f;
    if (variant == 0) {
        *c = {0x40 + 0x60 * t, 0x50 + 0x50 * t, 0xB0 + 0x40 * t};
    } else {
        *c = {0x30 + 0x40 * t, 0x80 + 0x50 * t, 0x50 + 0x30 * t};
    }
    float r = std::sqrt(x * x + y * y);
    const Colour rim = {0x28, 0x28, 0x30}, spoke = {0x58, 0x58, 0x60}, hub = {0xD8, 0x20, 0x20};
    if (r > 0.29f && r < 0.41f) {
        *c = rim;
    } else if (r <= 0.29f) {
        if (r < 0.1f) {
            *c = hub;
        } else if (std::fabs(y) < 0.05f || (y > 0 && std::fabs(x) < 0.05f)) {
            *c = spoke;
        }
    }
    return true;
}

Rgba Draw(int size, int variant) {
    Rgba image;
    image.size = size;
    image.pixels.assign(std::size_t(size) * size * 4, 0);
    const int n = 4;  // 4 x 4 samples a pixel
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            float r = 0, g = 0, b = 0;
            int covered = 0;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    float x = (px + (sx + 0.5f) / n) / size - 0.5f;
                    float y = (py + (sy + 0.5f) / n) / size - 0.5f;
                    Colour c;
                    if (!Sample(x, y, variant, &c)) continue;
                    r += c.r, g += c.g, b += c.b;
                    ++covered;
                }
            }
            BYTE* o = &image.pixels[(std::size_t(py) * size + px) * 4];
            if (covered) {
                o[0] = static_cast<BYTE>(r / covered + 0.5f);
                o[1] = static_cast<BYTE>(g / covered + 0.5f);
                o[2] = static_cast<BYTE>(b / covered + 0.5f);
            }
            o[3] = static_cast<BYTE>(covered * 255 / (n * n));
        }
    }
    return image;
}

std::vector<Colour> Palette(int bitCount) {
    std::vector<Colour> p;
    if (bitCount == 4) {
        static const BYTE vga[16][3] = {
            {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (auto& e : vga) p.push_back({float(e[0]), float(e[1]), float(e[2])});
    } else {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b) p.push_back({r * 51.0f, g * 51.0f, b * 51.0f});
        for (int i = 0; i < 40; ++i) {
            float v = 6.0f + i * 6.3f;
            p.push_back({v, v, v});
        }
    }
    return p;
}

int Nearest(const std::vector<Colour>& palette, const BYTE* rgb) {
    int best = 0;
    float bestDistance = 1e30f;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        float dr = palette[i].r - rgb[0], dg = palette[i].g - rgb[1], db = palette[i].b - rgb[2];
        float d = dr * dr * 3 + dg * dg * 4 + db * db * 2;
        if (d < bestDistance) bestDistance = d, best = static_cast<int>(i);
    }
    return best;
}

// A DIB header, palette, colour rows and AND-mask rows, both bottom-up.
std::vector<BYTE> Encode(const Rgba& image, int bitCount) {
    int size = image.size;
    std::size_t colourStride = ((std::size_t(size) * bitCount + 31) / 32) * 4;
    std::size_t maskStride = ((std::size_t(size) + 31) / 32) * 4;
    std::vector<Colour> palette = bitCount <= 8 ? Palette(bitCount) : std::vector<Colour>{};
    TemplateWriter w;
    w.U32(40);
    w.U32(static_cast<DWORD>(size));
    w.U32(static_cast<DWORD>(size * 2));  // colour and mask rows together
    w.U16(1);
    w.U16(static_cast<WORD>(bitCount));
    w.U32(0);  // uncompressed
    w.U32(static_cast<DWORD>((colourStride + maskStride) * size));
    w.U32(0);
    w.U32(0);
    w.U32(static_cast<DWORD>(palette.size()));
    w.U32(0);
    for (const Colour& c : palette) {
        w.U8(static_cast<BYTE>(c.b));
        w.U8(static_cast<BYTE>(c.g));
        w.U8(static_cast<BYTE>(c.r));
        w.U8(0);
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<BYTE> row(colourStride, 0);
        for (int x = 0; x < size; ++x) {
            const BYTE* p = &image.pixels[(std::size_t(y) * size + x) * 4];
            bool opaque = p[3] >= 128;
            if (bitCount == 32) {
                row[x * 4 + 0] = p[2], row[x * 4 + 1] = p[1], row[x * 4 + 2] = p[0];
                row[x * 4 + 3] = p[3];
            } else if (bitCount == 24) {
                if (opaque) row[x * 3 + 0] = p[2], row[x * 3 + 1] = p[1], row[x * 3 + 2] = p[0];
            } else {
                int index = opaque ? Nearest(palette, p) : 0;
                if (bitCount == 8) {
                    row[x] = static_cast<BYTE>(index);
                } else {
                    row[x / 2] |= static_cast<BYTE>((x & 1) ? index : index << 4);
                }
            }
        }
        for (BYTE b : row) w.U8(b);
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<BYTE> row(maskStride, 0);
        for (int x = 0; x < size; ++x)
            if (image.pixels[(std::size_t(y) * size + x) * 4 + 3] < 128)
                row[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
        for (BYTE b : row) w.U8(b);
    }
    return w.Bytes();
}

}  // namespace

IconGroup BuildIconGroup(const std::vector<IconSpec>& specs, WORD firstImageId) {
    IconGroup group;
    TemplateWriter dir;
    dir.U16(0);  // reserved
    dir.U16(1);  // icons
    dir.U16(static_cast<WORD>(specs.size()));
    WORD id = firstImageId;
    for (const IconSpec& spec : specs) {
        std::vector<BYTE> bytes = Encode(Draw(spec.size, spec.variant), spec.bitCount);
        dir.U8(static_cast<BYTE>(spec.size));
        dir.U8(static_cast<BYTE>(spec.size));
        dir.U8(spec.bitCount == 4 ? 16 : 0);
        dir.U8(0);
        dir.U16(1);
        dir.U16(static_cast<WORD>(spec.bitCount));
        dir.U32(static_cast<DWORD>(bytes.size()));
        dir.U16(id);
        group.images.push_back({id, std::move(bytes)});
        ++id;
    }
    group.directory = dir.Bytes();
    return group;
}
