// The 2D layer without a device: glyph quads of the overlay text, the
// needles and the gear digit of the speed meter.
#include <gtest/gtest.h>

#include <cmath>

#include "scene/meter_panel.h"
#include "scene/text_overlay.h"

namespace {

constexpr float kCell = 0.03125f;  // one of 32 columns
constexpr float kRow = 0.25f;      // one of 4 rows

void ExpectQuad(const ScreenQuad& q, float left, float top, float u, float v) {
    const float xs[4] = {left, left + 8, left + 8, left};
    const float ys[4] = {top, top, top + 16, top + 16};
    const float us[4] = {u, u + kCell, u + kCell, u};
    const float vs[4] = {v, v, v + kRow, v + kRow};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_FLOAT_EQ(q.vertices[i].x, xs[i]);
        EXPECT_FLOAT_EQ(q.vertices[i].y, ys[i]);
        EXPECT_FLOAT_EQ(q.vertices[i].u, us[i]);
        EXPECT_FLOAT_EQ(q.vertices[i].v, vs[i]);
        EXPECT_EQ(q.vertices[i].z, 0.0f);
        EXPECT_EQ(q.vertices[i].rhw, 1.0f);
        EXPECT_EQ(q.vertices[i].colour, 0xFFFFFFFFu);
    }
}

TEST(TextOverlay, OneEightPixelQuadPerCharacterWithItsFontCell) {
    TextOverlay overlay;
    overlay.AddText(0, 16, "A b~");
    ASSERT_EQ(overlay.Glyphs().size(), 4u);
    // 'A' = 65: cell 33, row 1 column 1; ' ' cell 0; 'b' = 98: row 2 column 2;
    // '~' = 126: row 2 column 30. Every edge half a pixel up and left.
    ExpectQuad(overlay.Glyphs()[0], -0.5f, 15.5f, 1 * kCell, 1 * kRow);
    ExpectQuad(overlay.Glyphs()[1], 7.5f, 15.5f, 0.0f, 0.0f);
    ExpectQuad(overlay.Glyphs()[2], 15.5f, 15.5f, 2 * kCell, 2 * kRow);
    ExpectQuad(overlay.Glyphs()[3], 23.5f, 15.5f, 30 * kCell, 2 * kRow);

    // Lines append in order; a line starts at its own x.
    overlay.AddText(512, 0, "?");
    ASSERT_EQ(overlay.Glyphs().size(), 5u);
    ExpectQuad(overlay.Glyphs()[4], 511.5f, -0.5f, 31 * kCell, 0.0f);
}

TEST(TextOverlay, EmptyTextAddsNothingAndClearEmptiesTheList) {
    TextOverlay overlay;
    int seen = 0;
    overlay.SetLineObserver([&](float, float, const char*) { ++seen; });
    overlay.AddText(0, 0, "");
    EXPECT_TRUE(overlay.Glyphs().empty());
    EXPECT_EQ(seen, 0);
    overlay.AddText(3, 4, "xy");
    EXPECT_EQ(seen, 1);
    overlay.ClearOverlay();
    EXPECT_TRUE(overlay.Glyphs().empty());
    EXPECT_EQ(overlay.Glyphs().capacity(), 0u) << "the storage is given back every frame";
}

TEST(TextOverlay, BytesOutsideTheFontGiveCellsOutsideIt) {
    TextOverlay overlay;
    // 0x1F: n = -1 -> column -1, row 0. 0xE9 as a signed byte is -23:
    // n = -55 -> column -23, row -1 (both truncated toward zero).
    overlay.AddText(0, 0, "\x1F\xE9");
    ASSERT_EQ(overlay.Glyphs().size(), 2u);
    ExpectQuad(overlay.Glyphs()[0], -0.5f, -0.5f, -1 * kCell, 0.0f);
    ExpectQuad(overlay.Glyphs()[1], 7.5f, -0.5f, -23 * kCell, -1 * kRow);
}

// The direction a needle points: from its pivot along the template's long
// axis, in screen degrees (0 = right, 90 = down).
float NeedleAngle(const ScreenQuad& q) {
    float dx = q.vertices[1].x - q.vertices[0].x, dy = q.vertices[1].y - q.vertices[0].y;
    float a = std::atan2(dy, dx) * 57.29578f;
    return a < 0 ? a + 360.0f : a;
}

// Where the template point (12, 2.5) lands: the pivot.
void Pivot(const ScreenQuad& q, float* x, float* y) {
    // Along the top edge 12.5 of 72 and down 3 of 5 from the top-left corner.
    float ax = q.vertices[1].x - q.vertices[0].x, ay = q.vertices[1].y - q.vertices[0].y;
    float bx = q.vertices[3].x - q.vertices[0].x, by = q.vertices[3].y - q.vertices[0].y;
    *x = q.vertices[0].x + ax * (12.5f / 72.0f) + bx * (3.0f / 5.0f);
    *y = q.vertices[0].y + ay * (12.5f / 72.0f) + by * (3.0f / 5.0f);
}

TEST(MeterPanel, NeedlesPointDownAtZeroAndTurnClockwise) {
    MeterPanel panel(nullptr);
    float x, y;
    ScreenQuad speed0 = panel.Needle(0, 2.4f, 447.5f, 415.5f, 0xFFFFFFFF);
    EXPECT_NEAR(NeedleAngle(speed0), 90.0f, 1e-3f);
    Pivot(speed0, &x, &y);
    EXPECT_NEAR(x, 447.5f, 1e-3f);
    EXPECT_NEAR(y, 415.5f, 1e-3f);

    // 9000 rpm at 0.025 degrees per rpm: 225 degrees on from straight down.
    ScreenQuad rpm = panel.Needle(9000, 0.025f, 576.5f, 415.5f, 0x20FF0000);
    EXPECT_NEAR(NeedleAngle(rpm), std::fmod(90.0f + 225.0f, 360.0f), 1e-2f);
    Pivot(rpm, &x, &y);
    EXPECT_NEAR(x, 576.5f, 1e-3f);
    EXPECT_NEAR(y, 415.5f, 1e-3f);
    // 50 km/h at 2.4 degrees each: 120 degrees, now pointing up-left.
    EXPECT_NEAR(NeedleAngle(panel.Needle(50, 2.4f, 447.5f, 415.5f, 0xFFFFFFFF)), 210.0f, 1e-2f);

    // The faint needles take their colour; texture coordinates stay the template's.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rpm.vertices[i].colour, 0x20FF0000u);
        EXPECT_EQ(rpm.vertices[i].u, panel.needleTemplates[0].vertices[i].u);
        EXPECT_EQ(rpm.vertices[i].v, panel.needleTemplates[0].vertices[i].v);
    }
    EXPECT_EQ(panel.needleTemplates[0].vertices[0].x, -0.5f) << "the template itself never moves";
}

TEST(MeterPanel, GearDigitShowsTheGearsCell) {
    MeterPanel panel(nullptr);
    // Before the first frame: the first cell.
    EXPECT_EQ(panel.gearDigit.vertices[0].u, 0.0f);
    EXPECT_EQ(panel.gearDigit.vertices[1].u, 0.125f);
    const float corners[4][2] = {{607.5f, 447.5f}, {639.5f, 447.5f}, {639.5f, 479.5f}, {607.5f, 479.5f}};
    for (int gear = 0; gear < 5; ++gear) {
        SCOPED_TRACE(gear);
        panel.SetValues(10, 20, 3000, 4000, gear);
        float u0 = gear / 8.0f;
        const float us[4] = {u0, u0 + 0.125f, u0 + 0.125f, u0};
        const float vs[4] = {0.5625f, 0.5625f, 0.6875f, 0.6875f};
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(panel.gearDigit.vertices[i].u, us[i]);
            EXPECT_FLOAT_EQ(panel.gearDigit.vertices[i].v, vs[i]);
            EXPECT_EQ(panel.gearDigit.vertices[i].x, corners[i][0]);
            EXPECT_EQ(panel.gearDigit.vertices[i].y, corners[i][1]);
        }
    }
    EXPECT_EQ(panel.meterSpeed, 10);
    EXPECT_EQ(panel.meterTargetSpeed, 20);
    EXPECT_EQ(panel.meterRpm, 3000);
    EXPECT_EQ(panel.meterTargetRpm, 4000);
}

}  // namespace
