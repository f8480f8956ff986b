// DXT block decoding and encoding, and the block codec's partial blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "texture/block_codec.h"

namespace {

WORD U16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
DWORD U32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24; }

void Put16(BYTE* p, WORD v) { p[0] = static_cast<BYTE>(v), p[1] = static_cast<BYTE>(v >> 8); }
void Put32(BYTE* p, DWORD v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}

void ExpectColour(const Colour4& c, float r, float g, float b, float a, float tolerance = 1e-6f) {
    EXPECT_NEAR(c.r, r, tolerance);
    EXPECT_NEAR(c.g, g, tolerance);
    EXPECT_NEAR(c.b, b, tolerance);
    EXPECT_NEAR(c.a, a, tolerance);
}

double BlockError(D3DFORMAT format, const Colour4 in[16], bool dither = false) {
    BYTE block[16];
    EncodeDxtBlock(format, in, dither, block);
    Colour4 out[16];
    DecodeDxtBlock(format, block, out);
    double sum = 0;
    for (int i = 0; i < 16; ++i) {
        sum += (out[i].r - in[i].r) * (out[i].r - in[i].r) + (out[i].g - in[i].g) * (out[i].g - in[i].g) +
               (out[i].b - in[i].b) * (out[i].b - in[i].b);
    }
    return std::sqrt(sum / 48);
}

}  // namespace

TEST(DxtDecode, ColourModes) {
    BYTE block[8];
    // c0 = c1: the three-colour mode; index 2 is c0, index 3 transparent black.
    Put16(block, 0xF800);
    Put16(block + 2, 0xF800);
    Put32(block + 4, 0x0000000E);  // pixel 0: index 2, pixel 1: index 3
    Colour4 out[16];
    DecodeDxtBlock(D3DFMT_DXT1, block, out);
    ExpectColour(out[0], 1, 0, 0, 1);
    ExpectColour(out[1], 0, 0, 0, 0);
    // c0 > c1: thirds.
    Put16(block, 0xFFFF);
    Put16(block + 2, 0x0000);
    Put32(block + 4, 0x000000E4);  // indices 0, 1, 2, 3
    DecodeDxtBlock(D3DFMT_DXT1, block, out);
    ExpectColour(out[0], 1, 1, 1, 1);
    ExpectColour(out[1], 0, 0, 0, 1);
    ExpectColour(out[2], 2 / 3.f, 2 / 3.f, 2 / 3.f, 1, 1e-6f);
    ExpectColour(out[3], 1 / 3.f, 1 / 3.f, 1 / 3.f, 1, 1e-6f);
    // The rule holds for the colour half of DXT3 and DXT5 too.
    BYTE dxt3[16] = {};
    Put16(dxt3 + 8, 0x001F);
    Put16(dxt3 + 10, 0x07E0);
    Put32(dxt3 + 12, 0x000000E4);
    dxt3[0] = 0xF0;  // pixel 0 alpha 0, pixel 1 alpha 15
    DecodeDxtBlock(D3DFMT_DXT3, dxt3, out);
    ExpectColour(out[0], 0, 0, 1, 0);
    ExpectColour(out[1], 0, 1, 0, 1);
    ExpectColour(out[2], 0, 0.5f, 0.5f, 0.06666667f * 0);
    ExpectColour(out[3], 0, 0, 0, 0);
}

TEST(DxtDecode, Dxt5AlphaModes) {
    BYTE block[16] = {};
    block[0] = block[1] = 255;
    Colour4 out[16];
    DecodeDxtBlock(D3DFMT_DXT5, block, out);
    for (const Colour4& c : out) EXPECT_FLOAT_EQ(c.a, 1.0f);
    // Bytes 0 and 255: six values with explicit 0 and 1.
    block[0] = 0;
    block[1] = 255;
    const DWORD low = 7 | 6 << 3 | 2 << 6 | 1 << 9;  // pixels 0-3: indices 7, 6, 2, 1
    block[2] = static_cast<BYTE>(low), block[3] = static_cast<BYTE>(low >> 8), block[4] = 0;
    block[7] = 7 << 5;  // pixel 15: index 7
    DecodeDxtBlock(D3DFMT_DXT5, block, out);
    EXPECT_FLOAT_EQ(out[0].a, 1.0f);
    EXPECT_FLOAT_EQ(out[1].a, 0.0f);
    EXPECT_NEAR(out[2].a, 0.2f, 1e-6f);
    EXPECT_FLOAT_EQ(out[3].a, 1.0f);
    EXPECT_FLOAT_EQ(out[15].a, 1.0f);
    // a0 > a1: eight values in sevenths.
    block[0] = 255;
    block[1] = 0;
    DecodeDxtBlock(D3DFMT_DXT5, block, out);
    EXPECT_NEAR(out[0].a, 1 / 7.f, 1e-6f);  // index 7: (1 a0 + 6 a1) / 7
    EXPECT_NEAR(out[1].a, 2 / 7.f, 1e-6f);
}

TEST(DxtDecode, PremultipliedFormats) {
    BYTE block[16] = {};
    block[0] = 0x70;  // pixel 0 alpha 0, pixel 1 alpha 7/15
    block[1] = 0x0F;  // pixel 2 alpha 15, pixel 3 alpha 0
    Put16(block + 8, 0x7BEF);  // (15/31, 31/63, 15/31)
    Put16(block + 10, 0x0000);
    Colour4 out[16];
    DecodeDxtBlock(D3DFMT_DXT2, block, out);
    ExpectColour(out[0], 0, 0, 0, 0);
    // 15/31 > 7/15: the channel saturates at 1.
    ExpectColour(out[1], 1, 1, 1, 7 / 15.f, 1e-6f);
    ExpectColour(out[2], 15 / 31.f, 31 / 63.f, 15 / 31.f, 1, 1e-6f);
    // A small colour under a larger alpha is divided.
    Put16(block + 8, 0x0841);  // (1/31, 2/63, 1/31)
    DecodeDxtBlock(D3DFMT_DXT2, block, out);
    EXPECT_NEAR(out[1].r, (1 / 31.f) / (7 / 15.f), 1e-6f);
}

TEST(DxtEncode, SolidTransparentAndThreeColourBlocks) {
    Colour4 px[16];
    for (Colour4& c : px) c = {1, 0, 0, 1};
    BYTE block[16];
    EncodeDxtBlock(D3DFMT_DXT1, px, false, block);
    EXPECT_EQ(U16(block), 0xF800);
    EXPECT_EQ(U16(block + 2), 0xF800);
    EXPECT_EQ(U32(block + 4), 0u);

    for (Colour4& c : px) c = {0.3f, 0.6f, 0.9f, 0.2f};
    EncodeDxtBlock(D3DFMT_DXT1, px, false, block);
    EXPECT_EQ(U16(block), 0x0000);
    EXPECT_EQ(U16(block + 2), 0xFFFF);
    EXPECT_EQ(U32(block + 4), 0xFFFFFFFFu);

    // Some transparent pixels: three-colour mode, c0 <= c1, index 3 there.
    for (int i = 0; i < 16; ++i) px[i] = {i / 15.f, i / 15.f, i / 15.f, i % 5 == 0 ? 0.0f : 1.0f};
    EncodeDxtBlock(D3DFMT_DXT1, px, false, block);
    EXPECT_LE(U16(block), U16(block + 2));
    Colour4 out[16];
    DecodeDxtBlock(D3DFMT_DXT1, block, out);
    for (int i = 0; i < 16; ++i) {
        if (i % 5 == 0) {
            EXPECT_EQ((U32(block + 4) >> (2 * i)) & 3, 3u) << i;
            ExpectColour(out[i], 0, 0, 0, 0);
        } else {
            EXPECT_EQ(out[i].a, 1.0f);
            EXPECT_NEAR(out[i].g, px[i].g, 0.3f) << i;
        }
    }
    // DXT3 and DXT5 always use four colours, even with transparent pixels.
    EncodeDxtBlock(D3DFMT_DXT5, px, false, block);
    EXPECT_GT(U16(block + 8), U16(block + 10));
}

TEST(DxtEncode, TwoColourBlocksAreExact) {
    // Colours exactly representable in 5:6:5 and at the ends of a segment.
    const Colour4 a = {4 / 31.f, 10 / 63.f, 20 / 31.f, 1}, b = {28 / 31.f, 50 / 63.f, 3 / 31.f, 1};
    Colour4 px[16];
    for (int i = 0; i < 16; ++i) px[i] = (i * 7) % 3 ? a : b;
    EXPECT_LT(BlockError(D3DFMT_DXT1, px), 1e-6);
    EXPECT_LT(BlockError(D3DFMT_DXT5, px), 1e-6);
    BYTE block[8];
    EncodeDxtBlock(D3DFMT_DXT1, px, false, block);
    EXPECT_GT(U16(block), U16(block + 2));  // four-colour mode ordering
}

TEST(DxtEncode, AlphaEncodings) {
    Colour4 px[16];
    for (int i = 0; i < 16; ++i) px[i] = {0.5f, 0.5f, 0.5f, i / 15.f};
    BYTE block[16];
    EncodeDxtBlock(D3DFMT_DXT3, px, false, block);
    Colour4 out[16];
    DecodeDxtBlock(D3DFMT_DXT3, block, out);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(out[i].a, i / 15.f, 1e-6f) << i;

    // DXT5 with 0 and 1 present: six-value mode (byte 0 <= byte 1), ends exact.
    EncodeDxtBlock(D3DFMT_DXT5, px, false, block);
    EXPECT_LE(block[0], block[1]);
    DecodeDxtBlock(D3DFMT_DXT5, block, out);
    EXPECT_EQ(out[0].a, 0.0f);
    EXPECT_EQ(out[15].a, 1.0f);
    // Every value within half a step of the four interpolated ones.
    const float halfStep = (block[1] - block[0]) / 255.f / 10 + 1e-6f;
    for (int i = 1; i < 15; ++i) EXPECT_NEAR(out[i].a, i / 15.f, halfStep) << i;
    EXPECT_LT(halfStep, 0.09f);

    // A smooth ramp inside (0, 1): eight-value mode, byte 0 > byte 1.
    for (int i = 0; i < 16; ++i) px[i].a = 0.3f + 0.4f * (i / 15.f);
    EncodeDxtBlock(D3DFMT_DXT5, px, false, block);
    EXPECT_GT(block[0], block[1]);
    DecodeDxtBlock(D3DFMT_DXT5, block, out);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(out[i].a, px[i].a, 0.4f / 14 + 1 / 255.f) << i;

    // All opaque: 255, 255 and indices 0.
    for (Colour4& c : px) c.a = 1;
    EncodeDxtBlock(D3DFMT_DXT5, px, false, block);
    EXPECT_EQ(block[0], 255);
    EXPECT_EQ(block[1], 255);
    for (int i = 2; i < 8; ++i) EXPECT_EQ(block[i], 0);

    // One-bit alpha with dithering spreads the error: a 0.5 field is half on.
    for (Colour4& c : px) c = {0.2f, 0.2f, 0.2f, 0.45f};
    BYTE dxt1[8];
    EncodeDxtBlock(D3DFMT_DXT1, px, true, dxt1);
    DecodeDxtBlock(D3DFMT_DXT1, dxt1, out);
    int opaque = 0;
    for (const Colour4& c : out) opaque += c.a == 1.0f;
    EXPECT_GT(opaque, 4);
    EXPECT_LT(opaque, 12);
    EncodeDxtBlock(D3DFMT_DXT1, px, false, dxt1);
    EXPECT_EQ(U32(dxt1 + 4), 0xFFFFFFFFu);
}

TEST(DxtEncode, PremultipliedRoundTrip) {
    Colour4 px[16];
    // Two alpha levels: the premultiplied colours are two points on a line,
    // which a block holds well.
    for (int i = 0; i < 16; ++i) px[i] = {0.8f, 0.4f, 0.2f, i % 2 ? 0.5f : 1.0f};
    BYTE block[16];
    EncodeDxtBlock(D3DFMT_DXT4, px, false, block);
    Colour4 out[16];
    DecodeDxtBlock(D3DFMT_DXT4, block, out);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(out[i].a, px[i].a, 1 / 255.f + 1e-6f) << i;
        EXPECT_NEAR(out[i].r, 0.8f, 0.02f / px[i].a) << i;
        EXPECT_NEAR(out[i].g, 0.4f, 0.02f / px[i].a) << i;
    }
    // Transparent pixels decode as transparent black.
    px[0].a = 0;
    EncodeDxtBlock(D3DFMT_DXT4, px, false, block);
    DecodeDxtBlock(D3DFMT_DXT4, block, out);
    ExpectColour(out[0], 0, 0, 0, 0);
}

TEST(DxtEncode, DitheringKeepsTheBlockMean) {
    // A flat colour between two 5:6:5 steps: plain encoding picks one step,
    // dithering mixes two so the mean comes closer.
    Colour4 px[16];
    for (Colour4& c : px) c = {10.4f / 31, 20.5f / 63, 5.6f / 31, 1};
    auto meanError = [&](bool dither) {
        BYTE block[8];
        EncodeDxtBlock(D3DFMT_DXT1, px, dither, block);
        Colour4 out[16];
        DecodeDxtBlock(D3DFMT_DXT1, block, out);
        double r = 0;
        for (const Colour4& c : out) r += c.r;
        return std::fabs(r / 16 - px[0].r);
    };
    EXPECT_LT(meanError(true), meanError(false));

    // A NaN pixel is the lowest value and hands no error to the pixels
    // after it: the rest of a grey block stays grey, in colour and alpha.
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5}) {
        Colour4 grey[16];
        for (Colour4& c : grey) c = {0.5f, 0.5f, 0.5f, format == D3DFMT_DXT1 ? 1.0f : 0.6f};
        grey[5] = {NAN, NAN, NAN, NAN};
        BYTE block[16];
        EncodeDxtBlock(format, grey, true, block);
        Colour4 out[16];
        DecodeDxtBlock(format, block, out);
        for (int i = 6; i < 16; ++i) {
            EXPECT_NEAR(out[i].g, 0.5f, 0.05f) << std::hex << format << " pixel " << std::dec << i;
            if (format != D3DFMT_DXT1) {
                EXPECT_NEAR(out[i].a, 0.6f, 0.07f) << std::hex << format << " " << std::dec << i;
            }
        }
    }
}

TEST(DxtEncode, RandomBlocksStayClose) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0, 1);
    double worst = 0, total = 0;
    for (int n = 0; n < 200; ++n) {
        // A gradient with noise, as in photographs.
        Colour4 px[16];
        const float r0 = unit(random), g0 = unit(random), b0 = unit(random);
        const float dr = unit(random) * 0.3f, dg = unit(random) * 0.3f, db = unit(random) * 0.3f;
        for (int i = 0; i < 16; ++i) {
            const float t = i / 15.f, noise = (unit(random) - 0.5f) * 0.04f;
            px[i] = {std::clamp(r0 * 0.7f + dr * t + noise, 0.0f, 1.0f),
                     std::clamp(g0 * 0.7f + dg * t + noise, 0.0f, 1.0f),
                     std::clamp(b0 * 0.7f + db * t + noise, 0.0f, 1.0f), 1};
        }
        const double error = BlockError(D3DFMT_DXT1, px);
        worst = std::max(worst, error);
        total += error;
    }
    // The noise alone is 0.0115 RMS and 5:6:5 steps add up to 1/62; red and
    // blue count less than green in the fit, so single blocks may exceed.
    EXPECT_LT(total / 200, 0.025);
    EXPECT_LT(worst, 0.05);
}

TEST(DxtEncode, EndpointOptimisationOnALine) {
    // Points on a line at the four palette positions: the ends come back.
    float points[16][3];
    for (int i = 0; i < 16; ++i) {
        const float t = static_cast<float>(i % 4) / 3;
        points[i][0] = (0.2f + 0.6f * t) * 0.29703665f;
        points[i][1] = 0.9f - 0.7f * t;
        points[i][2] = (0.1f + 0.3f * t) * 0.10078278f;
    }
    float e0[3], e1[3];
    OptimizeColourEndpoints(points, 4, e0, e1);
    // The direction is that of the spread: green falls as red rises.
    const bool forward = e0[1] > e1[1];
    const float* hi = forward ? e0 : e1;
    const float* lo = forward ? e1 : e0;
    EXPECT_NEAR(hi[0], 0.2f * 0.29703665f, 1e-3f);
    EXPECT_NEAR(hi[1], 0.9f, 1e-3f);
    EXPECT_NEAR(lo[0], 0.8f * 0.29703665f, 1e-3f);
    EXPECT_NEAR(lo[1], 0.2f, 1e-3f);
    EXPECT_NEAR(lo[2], 0.4f * 0.10078278f, 1e-3f);

    // Alpha endpoints: ordered and inside [0, 1].
    float alphas[16];
    for (int i = 0; i < 16; ++i) alphas[i] = 0.25f + 0.5f * (i % 8) / 7;
    float low, high;
    OptimizeAlphaEndpoints(alphas, 8, &low, &high);
    EXPECT_NEAR(low, 0.25f, 1e-3f);
    EXPECT_NEAR(high, 0.75f, 1e-3f);
    alphas[0] = 0;
    alphas[1] = 1;
    OptimizeAlphaEndpoints(alphas, 6, &low, &high);
    EXPECT_LE(low, high);
    EXPECT_GE(low, 0.0f);
    EXPECT_LE(high, 1.0f);
}

TEST(DxtEncode, SimdAndPlainFitsAgree) {
    if (!HasSimdColourFit()) GTEST_SKIP() << "built without SIMD";
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0, 1);
    for (int n = 0; n < 2000; ++n) {
        float points[16][3];
        const float spread = n % 3 == 0 ? 0.02f : 1.0f;  // also nearly flat blocks
        for (auto& p : points) {
            p[0] = unit(random) * spread * 0.29703665f;
            p[1] = unit(random) * spread;
            p[2] = unit(random) * spread * 0.10078278f;
        }
        for (UINT steps : {3u, 4u}) {
            float a0[3], a1[3], b0[3], b1[3];
            OptimizeColourEndpoints(points, steps, a0, a1);
            OptimizeColourEndpointsPlain(points, steps, b0, b1);
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(a0[c], b0[c]) << n;
                ASSERT_EQ(a1[c], b1[c]) << n;
            }
        }
    }
}

namespace {
PixelSurface DxtSurface(std::vector<BYTE>& bytes, D3DFORMAT format, UINT width, UINT height) {
    const UINT blocksWide = (width + 3) / 4, blocksHigh = (height + 3) / 4;
    const UINT rowPitch = blocksWide * DxtBlockBytes(format);
    bytes.assign(static_cast<size_t>(rowPitch) * blocksHigh, 0);
    PixelSurface s;
    s.pixels = bytes.data();
    s.format = format;
    s.rowPitch = rowPitch;
    s.slicePitch = rowPitch * blocksHigh;
    s.box = {0, 0, width, height, 0, 1};
    return s;
}

std::unique_ptr<PixelCodec> Make(const PixelSurface& s) {
    std::unique_ptr<PixelCodec> codec;
    EXPECT_EQ(CreatePixelCodec(s, codec), S_OK);
    return codec;
}
}  // namespace

TEST(BlockCodec, PartialBlocksArePaddedByPattern) {
    // A 5 x 3 surface: the second block has one valid column, the rows one
    // missing row each.
    std::vector<BYTE> bytes;
    PixelSurface s = DxtSurface(bytes, D3DFMT_DXT5, 5, 3);
    {
        auto codec = Make(s);
        for (UINT y = 0; y < 3; ++y) {
            Colour4 row[5];
            for (UINT x = 0; x < 5; ++x) row[x] = {x / 4.f, x / 4.f, 0.5f, (x + y) % 2 ? 1.0f : 0.0f};
            codec->WriteRow(y, 0, row);
        }
    }
    Colour4 block[16];
    DecodeDxtBlock(D3DFMT_DXT5, bytes.data() + 16, block);
    // Column 4 is the only valid one of the second block: all four repeat it.
    for (int j = 0; j < 4; ++j) {
        for (int i = 1; i < 4; ++i) {
            EXPECT_EQ(block[4 * j + i].r, block[4 * j].r);
            EXPECT_EQ(block[4 * j + i].a, block[4 * j].a);
        }
    }
    // Three rows: row 3 repeats row 1.
    DecodeDxtBlock(D3DFMT_DXT5, bytes.data(), block);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(block[12 + i].a, block[4 + i].a) << i;
    // And the written pixels read back through the codec.
    auto reader = Make(s);
    for (UINT y = 0; y < 3; ++y) {
        Colour4 row[5];
        reader->ReadRow(y, 0, row);
        for (UINT x = 0; x < 5; ++x) {
            EXPECT_NEAR(row[x].r, x / 4.f, 0.08f) << x << "," << y;
            EXPECT_NEAR(row[x].a, (x + y) % 2 ? 1.0f : 0.0f, 1e-6f) << x << "," << y;
        }
    }
}

TEST(BlockCodec, BoxInsideBlocksKeepsTheRest) {
    std::vector<BYTE> bytes;
    PixelSurface s = DxtSurface(bytes, D3DFMT_DXT1, 8, 8);
    const Colour4 red = {1, 0, 0, 1}, blue = {0, 0, 1, 1};
    {
        auto codec = Make(s);
        const std::vector<Colour4> row(8, red);
        for (UINT y = 0; y < 8; ++y) codec->WriteRow(y, 0, row.data());
    }
    // Rows 1-5, columns 3-5, written in descending order.
    PixelSurface box = s;
    box.box = {3, 1, 6, 6, 0, 1};
    box.extentWidth = 8;
    box.extentHeight = 8;
    {
        auto codec = Make(box);
        const std::vector<Colour4> row(3, blue);
        for (UINT y = 5; y-- > 0;) codec->WriteRow(y, 0, row.data());
    }
    auto reader = Make(s);
    for (UINT y = 0; y < 8; ++y) {
        Colour4 row[8];
        reader->ReadRow(y, 0, row);
        for (UINT x = 0; x < 8; ++x) {
            const bool inside = x >= 3 && x < 6 && y >= 1 && y < 6;
            const Colour4& want = inside ? blue : red;
            ExpectColour(row[x], want.r, want.g, want.b, 1);
        }
    }
}

TEST(BlockCodec, ColourKeyIsQuantisedLikeTheBlocks) {
    std::vector<BYTE> bytes;
    PixelSurface s = DxtSurface(bytes, D3DFMT_DXT1, 4, 4);
    Put16(bytes.data(), 0xF81F);  // magenta
    Put16(bytes.data() + 2, 0x0000);
    Put32(bytes.data() + 4, 0x1);  // pixel 0 black, the rest magenta
    s.colourKey = 0xFFFC01FC;     // near-magenta: the same in 5:6:5
    auto codec = Make(s);
    Colour4 row[4];
    codec->ReadRow(0, 0, row);
    ExpectColour(row[0], 0, 0, 0, 1);
    ExpectColour(row[1], 0, 0, 0, 0);
}

TEST(BlockCodec, DitheredWritesUseTheBlockDither) {
    std::vector<BYTE> bytes;
    PixelSurface s = DxtSurface(bytes, D3DFMT_DXT1, 4, 4);
    s.diffusionDither = true;
    {
        auto codec = Make(s);
        const std::vector<Colour4> row(4, Colour4{10.5f / 31, 0.5f, 0.5f, 1});
        for (UINT y = 0; y < 4; ++y) codec->WriteRow(y, 0, row.data());
    }
    Colour4 out[16];
    DecodeDxtBlock(D3DFMT_DXT1, bytes.data(), out);
    bool mixed = false;
    for (const Colour4& c : out) mixed |= c.r != out[0].r;
    EXPECT_TRUE(mixed);
}
