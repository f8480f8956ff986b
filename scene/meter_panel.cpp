#include "scene/meter_panel.h"

#include <cmath>

#include "app/device.h"

MeterPanel* meterPanel = nullptr;

namespace {
constexpr float kSpeedScale = 1.2f * 2.0f;  // degrees per km/h
constexpr float kRpmScale = 0.025f;         // degrees per rpm
constexpr float kLeftX = 447.5f, kRightX = 576.5f, kCentreY = 415.5f;
constexpr D3DCOLOR kFaint = 0x20FF0000;  // the target needles: red, mostly transparent
constexpr D3DCOLOR kTemplateColour = 0xFFFFFFFF;
}  // namespace

MeterPanel::MeterPanel(IDirect3DTexture9* dialTexture) : texture(dialTexture) {
    // The needle image: 72 x 5 texels at the left of row 128.
    const float needle[4][4] = {{-0.5f, -0.5f, 0.0f, 0.5f},
                                {71.5f, -0.5f, 0.28125f, 0.5f},
                                {71.5f, 4.5f, 0.28125f, 0.51953125f},
                                {-0.5f, 4.5f, 0.0f, 0.51953125f}};
    for (ScreenQuad& t : needleTemplates) SetQuad(t, needle);
    const float digit[4][4] = {{607.5f, 447.5f, 0.0f, 0.5625f},
                               {639.5f, 447.5f, 0.125f, 0.5625f},
                               {639.5f, 479.5f, 0.125f, 0.6875f},
                               {607.5f, 479.5f, 0.0f, 0.6875f}};
    SetQuad(gearDigit, digit);
}

void MeterPanel::SetValues(float speed, float targetSpeed, float rpm, float targetRpm, int gear) {
    meterSpeed = speed;
    meterTargetSpeed = targetSpeed;
    meterRpm = rpm;
    meterTargetRpm = targetRpm;
    float u0 = float(gear * 32) * 0.00390625f;
    const float u[4] = {u0, u0 + 0.125f, u0 + 0.125f, u0};
    const float v[4] = {0.5625f, 0.5625f, 0.6875f, 0.6875f};
    for (int i = 0; i < 4; ++i) gearDigit.vertices[i].u = u[i], gearDigit.vertices[i].v = v[i];
}

ScreenQuad MeterPanel::Needle(float value, float scale, float cx, float cy, D3DCOLOR colour) const {
    ScreenQuad out = needleTemplates[0];
    float theta = (value * scale + 90.0f) * 0.017453292f;
    float c = std::cos(theta), s = std::sin(theta);
    for (int i = 0; i < 4; ++i) {
        // Turn about the template point (12, 2.5), near the needle's tail.
        float x = needleTemplates[0].vertices[i].x - 12.0f, y = needleTemplates[0].vertices[i].y - 2.5f;
        out.vertices[i].x = c * x - s * y + cx;
        out.vertices[i].y = s * x + c * y + cy;
        out.vertices[i].colour = colour;
    }
    return out;
}

void MeterPanel::DrawMeterPanel() {
    IDirect3DDevice9* device = GetDevice();
    device->SetFVF(kScreenVertexFvf);
    device->SetTexture(0, texture);
    DrawQuad(device, Needle(meterTargetSpeed, kSpeedScale, kLeftX, kCentreY, kFaint));
    DrawQuad(device, Needle(meterSpeed, kSpeedScale, kLeftX, kCentreY, kTemplateColour));
    DrawQuad(device, Needle(meterTargetRpm, kRpmScale, kRightX, kCentreY, kFaint));
    DrawQuad(device, Needle(meterRpm, kRpmScale, kRightX, kCentreY, kTemplateColour));
    DrawQuad(device, gearDigit);
}
