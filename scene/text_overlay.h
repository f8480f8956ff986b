// The overlay's text: lines of 8 x 16 pixel characters from the font
// texture, rebuilt every frame as one screen quad per character.
#pragma once

#include <functional>
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

    // Called with every non-empty line as it is added (the drive tool
    // prints them); empty by default.
    using LineObserver = std::function<void(float x, float y, const char* text)>;
    void SetLineObserver(LineObserver observer) { observer_ = std::move(observer); }

    IDirect3DTexture9* fontTexture = nullptr;

private:
    std::vector<ScreenQuad> glyphs_;
    LineObserver observer_;
};

extern TextOverlay textOverlay;
