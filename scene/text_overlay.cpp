#include "scene/text_overlay.h"

#include "app/device.h"

TextOverlay textOverlay;

void SetQuad(ScreenQuad& quad, const float xyuv[4][4]) {
    for (int i = 0; i < 4; ++i)
        quad.vertices[i] = {xyuv[i][0], xyuv[i][1], 0.0f, 1.0f, 0xFFFFFFFF, xyuv[i][2], xyuv[i][3]};
}

void DrawQuad(IDirect3DDevice9* device, const ScreenQuad& quad) {
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad.vertices, sizeof(ScreenVertex));
}

void TextOverlay::ClearOverlay() { std::vector<ScreenQuad>().swap(glyphs_); }

void TextOverlay::AddText(float x, float y, const char* text) {
    if (!text || !*text) return;
    if (observer_) observer_(x, y, text);
    for (int i = 0; text[i]; ++i) {
        // Bytes as signed characters: codes outside 32..127 give cells
        // outside the font, as the layout implies.
        int n = static_cast<signed char>(text[i]) - 32;
        int column = n % 32, row = n / 32;
        float u = column * 0.03125f, v = row * 0.25f;
        float left = x + 8.0f * i - 0.5f, right = left + 8.0f;
        float top = y - 0.5f, bottom = top + 16.0f;
        const float corners[4][4] = {{left, top, u, v},
                                     {right, top, u + 0.03125f, v},
                                     {right, bottom, u + 0.03125f, v + 0.25f},
                                     {left, bottom, u, v + 0.25f}};
        ScreenQuad quad;
        SetQuad(quad, corners);
        glyphs_.push_back(quad);
    }
}

void TextOverlay::DrawOverlay() {
    IDirect3DDevice9* device = GetDevice();
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetTexture(0, fontTexture);
    device->SetFVF(kScreenVertexFvf);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    for (const ScreenQuad& quad : glyphs_) DrawQuad(device, quad);
}
