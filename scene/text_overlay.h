// The overlay's text: lines of 8 x 16 pixel characters from the font
// texture, rebuilt every frame as one screen quad per character.
#pragma once

#include <vector>

#include "scene/screen_quad.h"

class TextOverlay {
public:
    // Empties the list and frees its storage.
    void ClearOverlay();
    // Appends one quad per character of `text` (x, y in back-buffer pixels).
    void AddText(float x, float y, const char* text);
    // Draws every quad of the list, in the order added.
    void DrawOverlay();

    const std::vector<ScreenQuad>& Glyphs() const { return glyphs_; }

    IDirect3DTexture9* fontTexture = nullptr;

private:
    std::vector<ScreenQuad> glyphs_;
};

extern TextOverlay textOverlay;
