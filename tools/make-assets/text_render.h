// Glyph rendering with FreeType from a Debian font, for the HUD font, the
// speed meter's figures and the painted signs.
#pragma once

#include <string>

#include "image.h"

namespace assets {

class TextRenderer {
public:
    // Opens the first of the usual Debian monospace fonts that exists.
    TextRenderer();
    ~TextRenderer();
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    bool ok() const { return face_ != nullptr; }
    // Coverage of one character (0..255 per pixel) at `pixels` em height,
    // placed with its baseline at `baseline` and pen at `penX` in `out`,
    // which must be a single-channel picture stored in the alpha bytes.
    // `snap`: hinted for whole-pixel stems (small text read at 1:1).
    void Draw(Image& out, char32_t ch, int pixels, float penX, float baseline, bool bold, bool snap = false);
    // Width of a string's advances at that size.
    float Measure(const std::string& text, int pixels, bool bold);
    // Draws a string in `colour` (blended by coverage).
    void DrawString(Image& out, const std::string& text, int pixels, float x, float baseline, Rgba colour,
                    bool bold);

private:
    void* library_ = nullptr;
    void* face_ = nullptr;
    void* boldFace_ = nullptr;
};

}  // namespace assets
