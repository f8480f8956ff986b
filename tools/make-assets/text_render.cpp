#include "text_render.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace assets {

namespace {
const char* const kRegular[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf",
};
const char* const kBold[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
};

FT_Face Open(FT_Library lib, const char* const* paths, int count) {
    for (int i = 0; i < count; ++i) {
        if (::access(paths[i], R_OK) != 0) continue;
        FT_Face face = nullptr;
        if (FT_New_Face(lib, paths[i], 0, &face) == 0) return face;
    }
    return nullptr;
}
}  // namespace

TextRenderer::TextRenderer() {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) return;
    library_ = lib;
    face_ = Open(lib, kRegular, 2);
    boldFace_ = Open(lib, kBold, 2);
    if (!face_) std::fprintf(stderr, "make-assets: no monospace font found (install fonts-dejavu-core)\n");
    if (!boldFace_) boldFace_ = face_;
}

TextRenderer::~TextRenderer() {
    if (boldFace_ && boldFace_ != face_) FT_Done_Face(static_cast<FT_Face>(boldFace_));
    if (face_) FT_Done_Face(static_cast<FT_Face>(face_));
    if (library_) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

void TextRenderer::Draw(Image& out, char32_t ch, int pixels, float penX, float baseline, bool bold, bool snap) {
    FT_Face face = static_cast<FT_Face>(bold ? boldFace_ : face_);
    if (!face) return;
    FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels));
    if (snap) {
        // The font's hints for one-bit output put stems on whole pixels;
        // rendered with grey levels they stay crisp with smooth curves.
        if (FT_Load_Char(face, ch, FT_LOAD_TARGET_MONO) != 0) return;
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) return;
    } else if (FT_Load_Char(face, ch, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) {
        return;
    }
    FT_GlyphSlot g = face->glyph;
    int left = int(std::lround(penX)) + g->bitmap_left;
    int top = int(std::lround(baseline)) - g->bitmap_top;
    for (unsigned y = 0; y < g->bitmap.rows; ++y)
        for (unsigned x = 0; x < g->bitmap.width; ++x) {
            int px = left + int(x), py = top + int(y);
            if (px < 0 || py < 0 || px >= out.width || py >= out.height) continue;
            uint8_t v = g->bitmap.buffer[y * unsigned(g->bitmap.pitch) + x];
            Rgba& d = out.at(px, py);
            d.a = std::max(d.a, v);
        }
}

float TextRenderer::Measure(const std::string& text, int pixels, bool bold) {
    FT_Face face = static_cast<FT_Face>(bold ? boldFace_ : face_);
    if (!face) return 0;
    FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels));
    float width = 0;
    for (unsigned char c : text)
        if (FT_Load_Char(face, c, FT_LOAD_DEFAULT) == 0) width += face->glyph->advance.x / 64.0f;
    return width;
}

void TextRenderer::DrawString(Image& out, const std::string& text, int pixels, float x, float baseline, Rgba colour,
                              bool bold) {
    FT_Face face = static_cast<FT_Face>(bold ? boldFace_ : face_);
    if (!face) return;
    Image mask(out.width, out.height, {0, 0, 0, 0});
    float pen = x;
    for (unsigned char c : text) {
        Draw(mask, c, pixels, pen, baseline, bold);
        FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels));
        if (FT_Load_Char(face, c, FT_LOAD_DEFAULT) == 0) pen += face->glyph->advance.x / 64.0f;
    }
    for (int y = 0; y < out.height; ++y)
        for (int xx = 0; xx < out.width; ++xx)
            if (mask.at(xx, y).a) Blend(out, xx, y, colour, mask.at(xx, y).a / 255.0f);
}

}  // namespace assets
