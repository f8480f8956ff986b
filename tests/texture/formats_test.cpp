// Format table, substitute choice and the row codecs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "texture/pixel_codec.h"
#include "texture/pixel_format.h"

namespace {

PixelSurface Surface(BYTE* pixels, D3DFORMAT format, UINT width, UINT height, UINT rowPitch) {
    PixelSurface s;
    s.pixels = pixels;
    s.format = format;
    s.rowPitch = rowPitch;
    s.slicePitch = rowPitch * height;
    s.box = {0, 0, width, height, 0, 1};
    return s;
}

std::unique_ptr<PixelCodec> Make(const PixelSurface& s) {
    std::unique_ptr<PixelCodec> codec;
    EXPECT_EQ(CreatePixelCodec(s, codec), S_OK) << std::hex << s.format;
    return codec;
}

// Writes one pixel and returns the stored bytes.
std::vector<BYTE> WritePixel(D3DFORMAT format, Colour4 c, UINT bytes) {
    std::vector<BYTE> pixel(16, 0);
    auto codec = Make(Surface(pixel.data(), format, 1, 1, 16));
    codec->WriteRow(0, 0, &c);
    pixel.resize(bytes);
    return pixel;
}

Colour4 ReadPixel(D3DFORMAT format, std::vector<BYTE> bytes) {
    bytes.resize(16, 0);
    auto codec = Make(Surface(bytes.data(), format, 1, 1, 16));
    Colour4 c;
    codec->ReadRow(0, 0, &c);
    return c;
}

void ExpectColour(const Colour4& c, float r, float g, float b, float a, float tolerance = 1e-6f) {
    EXPECT_NEAR(c.r, r, tolerance);
    EXPECT_NEAR(c.g, g, tolerance);
    EXPECT_NEAR(c.b, b, tolerance);
    EXPECT_NEAR(c.a, a, tolerance);
}

}  // namespace

TEST(FormatTable, RowsLookupAndStorageFormats) {
    EXPECT_EQ(FormatInfoCount, 57u);
    EXPECT_EQ(FormatInfoTable[0].format, D3DFMT_R8G8B8);
    EXPECT_EQ(FormatInfoTable[FormatInfoCount - 1].format, FMT_R16);
    const FormatInfo& argb = LookUpFormatInfo(D3DFMT_A8R8G8B8);
    EXPECT_EQ(argb.kind, FORMAT_KIND_COLOUR);
    EXPECT_EQ(argb.bitsPerPixel, 32u);
    EXPECT_EQ(argb.channelBits[CHANNEL_ALPHA], 8u);
    const FormatInfo& l6 = LookUpFormatInfo(D3DFMT_L6V5U5);
    EXPECT_EQ(l6.channelBits[CHANNEL_EXTRA], 6u);
    EXPECT_EQ(l6.channelBits[CHANNEL_RED], 0u);
    EXPECT_EQ(LookUpFormatInfo(D3DFMT_D24S8).channelBits[CHANNEL_GREEN], 8u);

    const FormatInfo& unknown = LookUpFormatInfo(static_cast<D3DFORMAT>(12345));
    EXPECT_EQ(unknown.format, D3DFMT_UNKNOWN);
    EXPECT_EQ(unknown.bitsPerPixel, 32u);
    EXPECT_EQ(unknown.channelBits[CHANNEL_ALPHA], 8u);
    EXPECT_EQ(unknown.candidate, 0u);

    EXPECT_EQ(std::memcmp(&FMT_AL16, "AL16", 4), 0);
    EXPECT_EQ(std::memcmp(&FMT_R16, " R16", 4), 0);
    EXPECT_EQ(ToStorageFormat(FMT_AL16), D3DFMT_A8L8);
    EXPECT_EQ(ToStorageFormat(FMT_R16), D3DFMT_R8G8B8);
    EXPECT_EQ(ToStorageFormat(D3DFMT_DXT5), D3DFMT_DXT5);
}

TEST(FormatTable, KindCompatibilityAndDistance) {
    EXPECT_TRUE(IsKindCompatible(FORMAT_KIND_PALETTE, FORMAT_KIND_COLOUR));
    EXPECT_FALSE(IsKindCompatible(FORMAT_KIND_COLOUR, FORMAT_KIND_PALETTE));
    EXPECT_TRUE(IsKindCompatible(FORMAT_KIND_LUMINANCE, FORMAT_KIND_COLOUR));
    EXPECT_FALSE(IsKindCompatible(FORMAT_KIND_SIGNED, FORMAT_KIND_COLOUR));
    EXPECT_FALSE(IsKindCompatible(FORMAT_KIND_DEPTHSTENCIL, FORMAT_KIND_LUMINANCE));

    const auto& info = LookUpFormatInfo;
    EXPECT_EQ(FormatDistance(info(D3DFMT_A8R8G8B8), info(D3DFMT_A8R8G8B8)), 0);
    // Alpha lost: one channel of four.
    EXPECT_EQ(FormatDistance(info(D3DFMT_A8R8G8B8), info(D3DFMT_X8R8G8B8)), 0x1000000);
    // Alpha gained and bits gained.
    EXPECT_EQ(FormatDistance(info(D3DFMT_R5G6B5), info(D3DFMT_A8R8G8B8)), 256 + 3 + 2 + 3);
    // Bits lost: green 6 -> 5.
    EXPECT_EQ(FormatDistance(info(D3DFMT_R5G6B5), info(D3DFMT_X1R5G5B5)), 65536);
    // Nothing of an L8 survives in A8.
    EXPECT_EQ(FormatDistance(info(D3DFMT_L8), info(D3DFMT_A8)), -1);
    EXPECT_EQ(FormatDistance(info(D3DFMT_A8R8G8B8), info(D3DFMT_P8)), -1);
}

TEST(FormatTable, ClosestFormatWithoutDevice) {
    const auto& info = LookUpFormatInfo;
    // The source itself wins at once, even when not a candidate.
    EXPECT_EQ(FindClosestDeviceFormat(nullptr, 0, D3DRTYPE_TEXTURE, info(D3DFMT_R8G8B8)), D3DFMT_R8G8B8);
    EXPECT_EQ(FindClosestDeviceFormat(nullptr, 0, D3DRTYPE_TEXTURE, info(D3DFMT_DXT1)), D3DFMT_DXT1);
    // A colour-keyed image asks for a one-bit alpha copy of its format.
    FormatInfo keyed = info(D3DFMT_X1R5G5B5);
    keyed.format = D3DFMT_UNKNOWN;
    keyed.channelBits[CHANNEL_ALPHA] = 1;
    EXPECT_EQ(FindClosestDeviceFormat(nullptr, 0, D3DRTYPE_TEXTURE, keyed), D3DFMT_A1R5G5B5);
    keyed = info(D3DFMT_R5G6B5);
    keyed.format = D3DFMT_UNKNOWN;
    keyed.channelBits[CHANNEL_ALPHA] = 1;
    EXPECT_EQ(FindClosestDeviceFormat(nullptr, 0, D3DRTYPE_TEXTURE, keyed), D3DFMT_A8R8G8B8);
    keyed = info(D3DFMT_L8);
    keyed.format = D3DFMT_UNKNOWN;
    keyed.channelBits[CHANNEL_ALPHA] = 1;
    // A4L4 loses 4 bits of luminance; A8L8 gains 7 bits of alpha only.
    EXPECT_EQ(FindClosestDeviceFormat(nullptr, 0, D3DRTYPE_TEXTURE, keyed), D3DFMT_A8L8);
    // On equal scores the smaller format wins: X8B8G8R8 ties X8R8G8B8 at
    // 32 bits, so the earlier stays.
    FormatInfo rgb = info(D3DFMT_R8G8B8);
    rgb.format = D3DFMT_UNKNOWN;
    EXPECT_EQ(FindClosestDeviceFormat(nullptr, 0, D3DRTYPE_TEXTURE, rgb), D3DFMT_X8R8G8B8);
}

TEST(PixelCodec, A8R8G8B8ReadsAndWritesBackTheSameBytes) {
    const std::vector<BYTE> bytes = {0x10, 0x20, 0x30, 0x40};
    const Colour4 c = ReadPixel(D3DFMT_A8R8G8B8, bytes);
    ExpectColour(c, 0x30 / 255.f, 0x20 / 255.f, 0x10 / 255.f, 0x40 / 255.f);
    EXPECT_EQ(WritePixel(D3DFMT_A8R8G8B8, c, 4), bytes);
}

TEST(PixelCodec, FiveBitThresholdsPlainAndOrdered) {
    // 0.5 x 31 = 15.5; + 0.5 truncated is 16.
    std::vector<BYTE> px = WritePixel(D3DFMT_X1R5G5B5, {0.5f, 0, 0, 1}, 2);
    EXPECT_EQ(((px[0] | px[1] << 8) >> 10) & 31, 16);
    // Ordered dither at row 3, column 0 adds 1/32 instead: 15.
    std::vector<BYTE> rows(16 * 4, 0);
    PixelSurface s = Surface(rows.data(), D3DFMT_X1R5G5B5, 1, 4, 16);
    s.orderedDither = true;
    auto codec = Make(s);
    const Colour4 half = {0.5f, 0.5f, 0.5f, 1};
    for (UINT y = 0; y < 4; ++y) codec->WriteRow(y, 0, &half);
    const BYTE* row3 = rows.data() + 48;
    EXPECT_EQ(((row3[0] | row3[1] << 8) >> 10) & 31, 15);
    const BYTE* row0 = rows.data();  // threshold 31/32
    EXPECT_EQ(((row0[0] | row0[1] << 8) >> 10) & 31, 16);
}

TEST(PixelCodec, LayoutsOfPackedFormats) {
    const Colour4 c = {1.0f, 0.0f, 0.5f, 1.0f / 3};
    auto word = [](const std::vector<BYTE>& b) {
        unsigned long long v = 0;
        for (size_t i = 0; i < b.size(); ++i) v |= static_cast<unsigned long long>(b[i]) << (8 * i);
        return v;
    };
    EXPECT_EQ(word(WritePixel(D3DFMT_A2B10G10R10, c, 4)), (1ull << 30) | (512ull << 20) | 1023);
    EXPECT_EQ(word(WritePixel(D3DFMT_A2R10G10B10, c, 4)), (1ull << 30) | (1023ull << 20) | 512);
    EXPECT_EQ(word(WritePixel(D3DFMT_A8B8G8R8, c, 4)), 0x5580'00FFull);
    EXPECT_EQ(word(WritePixel(D3DFMT_X8R8G8B8, c, 4)), 0xFFFF'0080ull);  // X bits set
    EXPECT_EQ(word(WritePixel(D3DFMT_G16R16, c, 4)), 0x0000'FFFFull);
    EXPECT_EQ(word(WritePixel(D3DFMT_A16B16G16R16, c, 8)), 0x5555'8000'0000'FFFFull);
    EXPECT_EQ(word(WritePixel(D3DFMT_A4R4G4B4, c, 2)), 0x5F08ull);
    EXPECT_EQ(word(WritePixel(D3DFMT_R3G3B2, c, 1)), 0xE2ull);
    EXPECT_EQ(word(WritePixel(D3DFMT_A8R3G3B2, c, 2)), 0x55E2ull);
    EXPECT_EQ(word(WritePixel(D3DFMT_A8, c, 1)), 0x55ull);
    EXPECT_EQ(word(WritePixel(FMT_R16, c, 6)), 0xFFFF'0000'8000ull);  // B, G, R words
    // Luminance: 0.2125 + 0.0721 / 2 = 0.24855 -> 63.4 -> 63.
    EXPECT_EQ(word(WritePixel(D3DFMT_A8L8, c, 2)), 0x553Full);
    EXPECT_EQ(word(WritePixel(D3DFMT_A4L4, c, 1)), 0x54ull);
    EXPECT_EQ(word(WritePixel(FMT_AL16, c, 4)), 0x5555'3FA1ull);

    ExpectColour(ReadPixel(D3DFMT_G16R16, {0xFF, 0xFF, 0, 0}), 1, 0, 1, 1);
    ExpectColour(ReadPixel(D3DFMT_A8, {0x80}), 0, 0, 0, 0x80 / 255.f);
    ExpectColour(ReadPixel(D3DFMT_L8, {0x40}), 0x40 / 255.f, 0x40 / 255.f, 0x40 / 255.f, 1);
    ExpectColour(ReadPixel(D3DFMT_A8L8, {0x40, 0x80}), 0x40 / 255.f, 0x40 / 255.f, 0x40 / 255.f, 0x80 / 255.f);
    ExpectColour(ReadPixel(FMT_AL16, {0xFF, 0xFF, 0, 0}), 1, 1, 1, 0);
    ExpectColour(ReadPixel(FMT_R16, {0, 0, 0, 0, 0xFF, 0xFF}), 1, 0, 0, 1);
    ExpectColour(ReadPixel(D3DFMT_D16_LOCKABLE, {0xFF, 0xFF}), 1, 1, 1, 1);
}

TEST(PixelCodec, SignedFormats) {
    // -128 reads slightly below -1; missing blue and alpha read 1.
    const Colour4 v = ReadPixel(D3DFMT_V8U8, {0x80, 0x7F});
    EXPECT_LT(v.r, -1.0f);
    EXPECT_NEAR(v.r, -128 * 0.007874016f, 1e-6f);
    EXPECT_FLOAT_EQ(v.g, 1.0f);
    EXPECT_FLOAT_EQ(v.b, 1.0f);
    EXPECT_FLOAT_EQ(v.a, 1.0f);
    // Writing clamps to -127..127.
    EXPECT_EQ(WritePixel(D3DFMT_V8U8, {-2.0f, 2.0f, 0, 1}, 2), (std::vector<BYTE>{0x81, 0x7F}));
    const std::vector<BYTE> q = WritePixel(D3DFMT_Q8W8V8U8, {-1.0f, 1.0f, 0.0f, -0.5f}, 4);
    EXPECT_EQ(q, (std::vector<BYTE>{0x81, 0x7F, 0x00, static_cast<BYTE>(-63)}));
    ExpectColour(ReadPixel(D3DFMT_Q8W8V8U8, q), -1, 1, 0, -63 / 127.f, 1e-6f);
    // CxV8U8 computes the third component.
    const Colour4 cx = ReadPixel(D3DFMT_CxV8U8, {0, 0});
    EXPECT_FLOAT_EQ(cx.b, 1.0f);
    const Colour4 a2 = ReadPixel(D3DFMT_A2W10V10U10, {0xFF, 0x01, 0, 0xC0});  // U = 511
    EXPECT_FLOAT_EQ(a2.r, 1.0f);
    EXPECT_FLOAT_EQ(a2.a, 1.0f);
    const Colour4 l6 = ReadPixel(D3DFMT_L6V5U5, {0x0F, 0xFC});  // U 15, V 0, L 63
    ExpectColour(l6, 1, 0, 1, 1);
}

TEST(PixelCodec, FloatAndHalfFormats) {
    const Colour4 c = {0.333f, -2.5f, 65504.0f, 0.75f};
    const std::vector<BYTE> half = WritePixel(D3DFMT_A16B16G16R16F, c, 8);
    EXPECT_EQ(half[6] | half[7] << 8, 0x3A00);  // 0.75
    ExpectColour(ReadPixel(D3DFMT_A16B16G16R16F, half), 0.333f, -2.5f, 65504.0f, 0.75f, 2e-4f);
    EXPECT_EQ(WritePixel(D3DFMT_R16F, {1.0f, 0, 0, 0}, 2), (std::vector<BYTE>{0x00, 0x3C}));
    // Missing channels: R16F and G32R32F lack nothing that reads as 1 but
    // alpha; G16R16F and R32F read missing colours as 1.
    ExpectColour(ReadPixel(D3DFMT_R16F, {0x00, 0x3C}), 1, 0, 0, 1);
    ExpectColour(ReadPixel(D3DFMT_G16R16F, {0x00, 0x3C, 0x00, 0xBC}), 1, -1, 1, 1);
    const std::vector<BYTE> f32 = WritePixel(D3DFMT_R32F, {3.5f, 0, 0, 0}, 4);
    ExpectColour(ReadPixel(D3DFMT_R32F, f32), 3.5f, 1, 1, 1);
    ExpectColour(ReadPixel(D3DFMT_D32F_LOCKABLE, f32), 3.5f, 1, 1, 1);
    const std::vector<BYTE> f128 = WritePixel(D3DFMT_A32B32G32R32F, c, 16);
    ExpectColour(ReadPixel(D3DFMT_A32B32G32R32F, f128), c.r, c.g, c.b, c.a);
}

TEST(PixelCodec, EveryCodecRoundTripsWithinItsPrecision) {
    const D3DFORMAT formats[] = {
        D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
        D3DFMT_A4R4G4B4, D3DFMT_R3G3B2, D3DFMT_A8R3G3B2, D3DFMT_X4R4G4B4, D3DFMT_A2B10G10R10,
        D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8, D3DFMT_A2R10G10B10, D3DFMT_A16B16G16R16, FMT_R16};
    for (D3DFORMAT format : formats) {
        const FormatInfo& info = LookUpFormatInfo(format);
        const UINT bytes = info.bitsPerPixel / 8;
        std::vector<Colour4> row(64);
        for (int i = 0; i < 64; ++i) {
            row[i] = {static_cast<float>(i) / 63, static_cast<float>((i * 7) % 64) / 63,
                      static_cast<float>((i * 13) % 64) / 63, static_cast<float>((i * 29) % 64) / 63};
        }
        std::vector<BYTE> pixels(64 * bytes);
        auto codec = Make(Surface(pixels.data(), format, 64, 1, 64 * bytes));
        codec->WriteRow(0, 0, row.data());
        std::vector<Colour4> back(64);
        codec->ReadRow(0, 0, back.data());
        auto tolerance = [&](int slot) {
            const UINT bits = info.channelBits[slot];
            return bits ? 0.5f / static_cast<float>((1u << bits) - 1) + 1e-6f : 0.0f;
        };
        for (int i = 0; i < 64; ++i) {
            EXPECT_NEAR(back[i].r, row[i].r, tolerance(CHANNEL_RED)) << format << " " << i;
            EXPECT_NEAR(back[i].g, row[i].g, tolerance(CHANNEL_GREEN)) << format << " " << i;
            EXPECT_NEAR(back[i].b, row[i].b, tolerance(CHANNEL_BLUE)) << format << " " << i;
            if (info.channelBits[CHANNEL_ALPHA]) {
                EXPECT_NEAR(back[i].a, row[i].a, tolerance(CHANNEL_ALPHA)) << format << " " << i;
            } else {
                EXPECT_EQ(back[i].a, 1.0f);
            }
        }
        // Read values are fixed points of write-then-read.
        std::vector<BYTE> again(pixels.size());
        auto second = Make(Surface(again.data(), format, 64, 1, 64 * bytes));
        second->WriteRow(0, 0, back.data());
        EXPECT_EQ(again, pixels) << format;
    }
}

TEST(PixelCodec, ErrorDiffusionAndOrderedDitherKeepTheMean) {
    // 0.4 in a 2-bit channel lies between 1/3 and 2/3.
    constexpr UINT kSize = 32;
    for (int mode = 0; mode < 3; ++mode) {
        std::vector<BYTE> pixels(kSize * kSize);
        PixelSurface s = Surface(pixels.data(), D3DFMT_R3G3B2, kSize, kSize, kSize);
        s.orderedDither = mode == 1;
        s.diffusionDither = mode == 2;
        auto codec = Make(s);
        const std::vector<Colour4> row(kSize, Colour4{0.4f, 0.4f, 0.4f, 1});
        for (UINT y = 0; y < kSize; ++y) codec->WriteRow(y, 0, row.data());
        double sum = 0;
        bool mixed = false;
        for (BYTE p : pixels) {
            sum += (p & 3) / 3.0;
            mixed |= (p & 3) != (pixels[0] & 3);
        }
        const double mean = sum / (kSize * kSize);
        if (mode == 0) {
            EXPECT_FALSE(mixed);
            EXPECT_NEAR(mean, 1 / 3.0, 1e-9);
        } else {
            EXPECT_TRUE(mixed) << mode;
            EXPECT_NEAR(mean, 0.4, 0.01) << mode;
        }
    }
}

TEST(PixelCodec, ErrorDiffusionRunsSerpentine) {
    // Odd rows run right to left, so the error carried along the row flows
    // the other way than on even rows.
    const Colour4 zero[3] = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
    const Colour4 row[3] = {{0, 0, 0, 0.45f / 255}, {0, 0, 0, 0.45f / 255}, {0, 0, 0, 0}};
    std::vector<BYTE> pixels(3 * 3);
    PixelSurface s = Surface(pixels.data(), D3DFMT_A8, 3, 3, 3);
    s.diffusionDither = true;
    auto codec = Make(s);
    codec->WriteRow(0, 0, row);
    // Left to right: x = 0 stores 0 and carries 7/16 of 0.45 into x = 1.
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[1], 1);
    EXPECT_EQ(pixels[2], 0);
    std::vector<BYTE> second(3 * 3);
    PixelSurface t = Surface(second.data(), D3DFMT_A8, 3, 3, 3);
    t.diffusionDither = true;
    codec = Make(t);
    codec->WriteRow(0, 0, zero);
    codec->WriteRow(1, 0, row);
    // Right to left: x = 1 stores 0 and carries into x = 0.
    EXPECT_EQ(second[3], 1);
    EXPECT_EQ(second[4], 0);
    EXPECT_EQ(second[5], 0);
    // The errors below go to the next row: 5/16 of x = 1's error under it.
    codec->WriteRow(2, 0, zero);
    EXPECT_EQ(second[6] + second[7] + second[8], 0);
}

TEST(PixelCodec, ColourKey) {
    // 0xFF000000 on R5G6B5: every black pixel becomes transparent black.
    std::vector<BYTE> pixels = {0x00, 0x00, 0x1F, 0x00, 0x00, 0x00};
    PixelSurface s = Surface(pixels.data(), D3DFMT_R5G6B5, 3, 1, 6);
    s.colourKey = 0xFF000000;
    auto codec = Make(s);
    Colour4 row[3];
    codec->ReadRow(0, 0, row);
    ExpectColour(row[0], 0, 0, 0, 0);
    ExpectColour(row[1], 0, 0, 1, 1);
    ExpectColour(row[2], 0, 0, 0, 0);
    // The key is compared as the format stores it: 0xFF0000FE is blue 31 in 5:6:5.
    s.colourKey = 0xFF0000FE;
    codec = Make(s);
    codec->ReadRow(0, 0, row);
    ExpectColour(row[1], 0, 0, 0, 0);
    ExpectColour(row[0], 0, 0, 0, 1);

    // The two-pixel formats store the key as a pair of key pixels, so a
    // pair of them in the image matches: the shared samples of the key are
    // its own, not an average with whatever lies beside it.
    struct PairCase {
        D3DFORMAT format;
        D3DCOLOR key;
        std::vector<BYTE> keyed;  // two pixels of the key as the format stores them
        std::vector<BYTE> other;
    };
    const PairCase cases[] = {
        {D3DFMT_YUY2, 0xFFFFFFFF, {235, 128, 235, 128}, {16, 128, 16, 128}},
        {D3DFMT_UYVY, 0xFF000000, {128, 16, 128, 16}, {128, 235, 128, 235}},
        {D3DFMT_R8G8_B8G8, 0xFFFF8000, {128, 0, 128, 255}, {0, 0, 0, 0}},
        {D3DFMT_G8R8_G8B8, 0xFF00FF00, {0, 255, 0, 255}, {0, 0, 0, 0}},
    };
    for (const PairCase& c : cases) {
        std::vector<BYTE> pair = c.keyed;
        pair.insert(pair.end(), c.other.begin(), c.other.end());
        PixelSurface p = Surface(pair.data(), c.format, 4, 1, 8);
        p.colourKey = c.key;
        auto pairs = Make(p);
        Colour4 four[4];
        pairs->ReadRow(0, 0, four);
        ExpectColour(four[0], 0, 0, 0, 0);
        ExpectColour(four[1], 0, 0, 0, 0);
        EXPECT_EQ(four[2].a, 1.0f) << std::hex << c.format;
        EXPECT_EQ(four[3].a, 1.0f) << std::hex << c.format;
    }
}

TEST(PixelCodec, PalettesAndTheirKey) {
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 255};
    }
    palette[7] = {255, 0, 0, 128};
    BYTE index = 0;
    PixelSurface s = Surface(&index, D3DFMT_P8, 1, 1, 1);
    s.palette = palette;
    auto codec = Make(s);
    const Colour4 grey = {0.25f, 0.25f, 0.25f, 1};
    codec->WriteRow(0, 0, &grey);
    EXPECT_EQ(index, 64);
    const Colour4 red = {1, 0, 0, 0.5f};
    codec->WriteRow(0, 0, &red);
    EXPECT_EQ(index, 7);
    Colour4 back;
    codec->ReadRow(0, 0, &back);
    ExpectColour(back, 1, 0, 0, 128 / 255.f);

    // A8P8: index low, alpha high; alpha comes from the pixel.
    std::vector<BYTE> a8p8 = {7, 0x40};
    PixelSurface t = Surface(a8p8.data(), D3DFMT_A8P8, 1, 1, 2);
    t.palette = palette;
    codec = Make(t);
    codec->ReadRow(0, 0, &back);
    ExpectColour(back, 1, 0, 0, 0x40 / 255.f);

    // Without a palette every entry is white.
    s.palette = nullptr;
    codec = Make(s);
    codec->ReadRow(0, 0, &back);
    ExpectColour(back, 1, 1, 1, 1);

    // A key that matches a palette entry hides pixels of that index.
    s.palette = palette;
    s.colourKey = 0xFF404040;
    index = 0x40;
    codec = Make(s);
    codec->ReadRow(0, 0, &back);
    ExpectColour(back, 0, 0, 0, 0);
}

TEST(PixelCodec, RangeConversionBetweenCodecs) {
    Colour4 row[2] = {{-1, 0, 1, -1}, {0.5f, 2.0f, -3.0f, 0.5f}};
    ConvertRange(row, 2, RANGE_SIGNED_ALL, RANGE_UNSIGNED);
    ExpectColour(row[0], 0, 0.5f, 1, 0);
    Colour4 f[1] = {{2.0f, -3.0f, 0.5f, 1.5f}};
    ConvertRange(f, 1, RANGE_FLOAT, RANGE_SIGNED_COLOUR);
    ExpectColour(f[0], 1, -1, 0.5f, 1);
    Colour4 u[1] = {{0, 1, 0.5f, 0.25f}};
    ConvertRange(u, 1, RANGE_UNSIGNED, RANGE_SIGNED_ALL);
    ExpectColour(u[0], -1, 1, 0, -0.5f);
    Colour4 sc[1] = {{-1, 1, 0, 0.25f}};
    ConvertRange(sc, 1, RANGE_SIGNED_COLOUR, RANGE_SIGNED_ALL);
    ExpectColour(sc[0], -1, 1, 0, -0.5f);

    // An unsigned source written into V8U8: 0 -> -1, 1 -> +1.
    std::vector<BYTE> argb = {0x00, 0xFF, 0x00, 0xFF};  // G = 1, R = 0
    std::vector<BYTE> v8u8(2);
    auto source = Make(Surface(argb.data(), D3DFMT_A8R8G8B8, 1, 1, 4));
    auto destination = Make(Surface(v8u8.data(), D3DFMT_V8U8, 1, 1, 2));
    LinkPixelCodecs(*source, *destination);
    Colour4 c;
    source->ReadRow(0, 0, &c);
    destination->WriteRow(0, 0, &c);
    EXPECT_EQ(v8u8, (std::vector<BYTE>{0x81, 0x7F}));
}

// The gamma tables hold the same values whichever conversion first needs
// them: rows are written with the floating-point unit truncating, and a
// process whose first gamma use was a write must not get other tables (and
// so other stored bytes) than one that began with a read. Run in a fresh
// process, where nothing has touched the tables yet.
namespace {
int WrongTableEntriesAfterAFirstWrite() {
    BYTE out[4];
    PixelSurface s = Surface(out, D3DFMT_A8R8G8B8, 1, 1, 4);
    s.gamma = true;
    std::unique_ptr<PixelCodec> codec;
    if (CreatePixelCodec(s, codec) != S_OK) return 1000;
    const Colour4 mid = {0.3f, 0.3f, 0.3f, 1};
    codec->WriteRow(0, 0, &mid);  // the first use, inside a truncating write
    int wrong = 0;
    for (int i = 0; i < 255; ++i) {
        // Decoding on the table's points gives D[i], rounded to nearest.
        const float x = std::sqrt(static_cast<float>(i) / 254.0f);
        if (x * x * 254.0f != static_cast<float>(i)) continue;  // not exactly on the point
        if (GammaDecode(x) != static_cast<float>(std::pow(i / 254.0, 1.1))) ++wrong;
    }
    return wrong;
}
}  // namespace

TEST(PixelCodec, GammaTablesDoNotDependOnTheFirstUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(WrongTableEntriesAfterAFirstWrite() == 0 ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST(PixelCodec, Gamma) {
    EXPECT_FLOAT_EQ(GammaEncode(0), 0);
    EXPECT_FLOAT_EQ(GammaEncode(1), 1);
    EXPECT_FLOAT_EQ(GammaDecode(1), 1);
    EXPECT_NEAR(GammaEncode(0.5f), std::pow(0.5f, 1 / 2.2f), 2e-3f);
    EXPECT_NEAR(GammaDecode(0.5f), std::pow(0.5f, 2.2f), 2e-3f);
    for (float x = 0.05f; x < 1; x += 0.1f) EXPECT_NEAR(GammaDecode(GammaEncode(x)), x, 5e-3f);

    // Gamma on the destination encodes R, G, B; alpha passes.
    BYTE out[4];
    PixelSurface s = Surface(out, D3DFMT_A8R8G8B8, 1, 1, 4);
    s.gamma = true;
    auto codec = Make(s);
    const Colour4 mid = {0.5f, 0.5f, 0.5f, 0.5f};
    codec->WriteRow(0, 0, &mid);
    EXPECT_NEAR(out[2], 255 * std::pow(0.5f, 1 / 2.2f), 1.0f);
    EXPECT_EQ(out[3], 128);
    // Ignored on signed codecs.
    BYTE q[4];
    PixelSurface sq = Surface(q, D3DFMT_Q8W8V8U8, 1, 1, 4);
    sq.gamma = true;
    EXPECT_FALSE(Make(sq)->Gamma());
    // L6V5U5 keeps it for its luminance only: the signed U and V pass
    // unchanged both ways (a table lookup would lose their sign).
    WORD l6v5u5 = 0;
    PixelSurface sl = Surface(reinterpret_cast<BYTE*>(&l6v5u5), D3DFMT_L6V5U5, 1, 1, 2);
    sl.gamma = true;
    const Colour4 bump = {-0.6f, 0.6f, 0.25f, 1};
    Make(sl)->WriteRow(0, 0, &bump);
    const Colour4 stored = ReadPixel(D3DFMT_L6V5U5, {BYTE(l6v5u5), BYTE(l6v5u5 >> 8)});
    EXPECT_NEAR(stored.r, -0.6f, 0.04f);
    EXPECT_NEAR(stored.g, 0.6f, 0.04f);
    EXPECT_NEAR(stored.b, GammaEncode(0.25f), 0.02f);
    Colour4 decoded;
    Make(sl)->ReadRow(0, 0, &decoded);
    EXPECT_NEAR(decoded.r, stored.r, 1e-6f);
    EXPECT_NEAR(decoded.g, stored.g, 1e-6f);
    EXPECT_NEAR(decoded.b, GammaDecode(stored.b), 1e-6f);

    // Both sides gamma: the write side takes square roots, the read side squares.
    BYTE src[4] = {0, 0, 64, 255};
    PixelSurface a = Surface(src, D3DFMT_A8R8G8B8, 1, 1, 4);
    a.gamma = true;
    BYTE dst[4];
    PixelSurface b = Surface(dst, D3DFMT_A8R8G8B8, 1, 1, 4);
    b.gamma = true;
    auto reader = Make(a);
    auto writer = Make(b);
    LinkPixelCodecs(*reader, *writer);
    Colour4 c;
    reader->ReadRow(0, 0, &c);
    EXPECT_NEAR(c.r, (64 / 255.f) * (64 / 255.f), 1e-6f);
    writer->WriteRow(0, 0, &c);
    EXPECT_EQ(dst[2], 64);
}

TEST(PixelCodec, TwoPixelFormats) {
    // YUY2 stores Y0 U Y1 V; white is Y 235, grey chroma 128.
    std::vector<BYTE> yuy2(8);
    auto codec = Make(Surface(yuy2.data(), D3DFMT_YUY2, 4, 1, 8));
    const Colour4 white[4] = {{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}};
    codec->WriteRow(0, 0, white);
    EXPECT_EQ(yuy2, (std::vector<BYTE>{235, 128, 235, 128, 16, 128, 16, 128}));
    Colour4 back[4];
    codec->ReadRow(0, 0, back);
    ExpectColour(back[0], 1, 1, 1, 1, 3e-3f);
    ExpectColour(back[3], 0, 0, 0, 1, 3e-3f);
    // UYVY puts the chroma first.
    std::vector<BYTE> uyvy(4);
    codec = Make(Surface(uyvy.data(), D3DFMT_UYVY, 2, 1, 4));
    codec->WriteRow(0, 0, white);
    EXPECT_EQ(uyvy, (std::vector<BYTE>{128, 235, 128, 235}));
    // A saturated colour survives within the precision of 8-bit studio range.
    const Colour4 orange[2] = {{1, 0.5f, 0, 1}, {1, 0.5f, 0, 1}};
    codec->WriteRow(0, 0, orange);
    codec->ReadRow(0, 0, back);
    ExpectColour(back[1], 1, 0.5f, 0, 1, 0.02f);
    // RGBG: green per pixel in the even bytes, then the shared blue and red.
    std::vector<BYTE> rgbg(4);
    codec = Make(Surface(rgbg.data(), D3DFMT_R8G8_B8G8, 2, 1, 4));
    const Colour4 two[2] = {{1, 0, 0.2f, 1}, {0.6f, 1, 0.2f, 1}};
    codec->WriteRow(0, 0, two);
    EXPECT_EQ(rgbg, (std::vector<BYTE>{0, 51, 255, 204}));
    // A box starting at an odd column keeps the pair's other pixel.
    PixelSurface odd = Surface(rgbg.data(), D3DFMT_R8G8_B8G8, 2, 1, 4);
    odd.box.Left = 1;
    codec = Make(odd);
    const Colour4 green = {0.6f, 0.0f, 0.2f, 1};
    codec->WriteRow(0, 0, &green);
    EXPECT_EQ(rgbg[0], 0);
    EXPECT_EQ(rgbg[2], 0);
}

TEST(PixelCodec, BoxOffsetsAndFormatsWithoutCodec) {
    std::vector<BYTE> pixels(4 * 4 * 4, 0);
    PixelSurface s = Surface(pixels.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
    s.box = {1, 2, 3, 3, 0, 1};
    auto codec = Make(s);
    EXPECT_EQ(codec->Width(), 2u);
    EXPECT_EQ(codec->Height(), 1u);
    const Colour4 row[2] = {{1, 1, 1, 1}, {1, 1, 1, 1}};
    codec->WriteRow(0, 0, row);
    for (int i = 0; i < 64; ++i) {
        const int x = (i % 16) / 4, y = i / 16;
        EXPECT_EQ(pixels[i], (y == 2 && (x == 1 || x == 2)) ? 255 : 0) << i;
    }

    std::unique_ptr<PixelCodec> none;
    for (D3DFORMAT format : {D3DFMT_D24S8, D3DFMT_D32, D3DFMT_D16, D3DFMT_Q16W16V16U16, D3DFMT_UNKNOWN}) {
        s.format = format;
        EXPECT_EQ(CreatePixelCodec(s, none), E_FAIL) << format;
        EXPECT_EQ(none, nullptr);
    }
}

// The row shortcuts of the plain formats must store and read exactly what
// the general field code does: random rows with awkward values (halfway
// points, out of range, NaN, huge), both row directions, plain, ordered
// and diffused writes, a box that starts mid-row.
TEST(PixelCodec, RowShortcutsMatchTheGeneralCode) {
    const D3DFORMAT formats[] = {D3DFMT_R8G8B8,    D3DFMT_A8R8G8B8,    D3DFMT_X8R8G8B8,    D3DFMT_A8B8G8R8,
                                 D3DFMT_X8B8G8R8,  D3DFMT_R5G6B5,      D3DFMT_X1R5G5B5,    D3DFMT_A1R5G5B5,
                                 D3DFMT_A4R4G4B4,  D3DFMT_R3G3B2,      D3DFMT_A8,          D3DFMT_A8R3G3B2,
                                 D3DFMT_X4R4G4B4,  D3DFMT_A2B10G10R10, D3DFMT_A2R10G10B10, D3DFMT_G16R16};
    constexpr UINT kWidth = 37, kLeft = 3, kRows = 4, kPitch = 64 * 4;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> spread(-0.25f, 1.25f);
    std::vector<Colour4> input(kWidth);
    for (Colour4& c : input) c = {spread(rng), spread(rng), spread(rng), spread(rng)};
    // Values on and next to the rounding points of 5-, 6- and 8-bit fields.
    input[0] = {15.5f / 31, 31.5f / 63, 127.5f / 255, 0.5f};
    input[1] = {std::nextafter(16.5f / 31, 0.0f), 1.0f, 0.0f, -0.0f};
    input[2] = {NAN, 3e9f, -3e9f, INFINITY};
    input[3] = {1.0f / 255, 254.5f / 255, 1.5f / 15, 2.5f / 3};

    for (D3DFORMAT format : formats) {
        for (DWORD mode = 0; mode < 3; ++mode) {
            std::vector<BYTE> fast(kPitch * kRows, 0xA5), general(kPitch * kRows, 0xA5);
            for (int pass = 0; pass < 2; ++pass) {
                UseGeneralRowCodecs(pass == 1);
                PixelSurface s = Surface(pass ? general.data() : fast.data(), format, kLeft + kWidth, kRows, kPitch);
                s.box.Left = kLeft;
                s.orderedDither = mode == 1;
                s.diffusionDither = mode == 2;
                auto codec = Make(s);
                std::vector<Colour4> row = input;
                for (UINT y = 0; y < kRows; ++y) {
                    std::rotate(row.begin(), row.begin() + 5, row.end());
                    codec->WriteRow(y, 0, row.data());
                }
            }
            UseGeneralRowCodecs(false);
            EXPECT_EQ(fast, general) << "format " << format << " mode " << mode;
        }

        std::vector<BYTE> bytes(kPitch * kRows);
        for (BYTE& b : bytes) b = static_cast<BYTE>(rng());
        std::vector<Colour4> read[2] = {std::vector<Colour4>(kWidth), std::vector<Colour4>(kWidth)};
        for (UINT y = 0; y < kRows; ++y) {
            for (int pass = 0; pass < 2; ++pass) {
                UseGeneralRowCodecs(pass == 1);
                PixelSurface s = Surface(bytes.data(), format, kLeft + kWidth, kRows, kPitch);
                s.box.Left = kLeft;
                Make(s)->ReadRow(y, 0, read[pass].data());
            }
            UseGeneralRowCodecs(false);
            EXPECT_EQ(std::memcmp(read[0].data(), read[1].data(), kWidth * sizeof(Colour4)), 0)
                << "format " << format << " row " << y;
        }
    }
}

// Values far outside a channel's range saturate instead of wrapping
// through the integer conversion; NaN stores the lowest value.
TEST(PixelCodec, OutOfRangeValuesSaturate) {
    for (bool general : {false, true}) {
        UseGeneralRowCodecs(general);
        EXPECT_EQ(WritePixel(D3DFMT_A8R8G8B8, {3e9f, NAN, -3e9f, INFINITY}, 4), (std::vector<BYTE>{0, 0, 255, 255}));
        EXPECT_EQ(WritePixel(D3DFMT_R5G6B5, {INFINITY, 5e10f, 1e30f, 1}, 2), (std::vector<BYTE>{0xFF, 0xFF}));
    }
    UseGeneralRowCodecs(false);
    EXPECT_EQ(WritePixel(D3DFMT_L8, {3e9f, 3e9f, 3e9f, 1}, 1), (std::vector<BYTE>{255}));
    EXPECT_EQ(WritePixel(D3DFMT_V8U8, {3e9f, -3e9f, 0, 1}, 2), (std::vector<BYTE>{0x7F, 0x81}));
    EXPECT_EQ(WritePixel(D3DFMT_YUY2, {1e20f, 1e20f, 1e20f, 1}, 1), (std::vector<BYTE>{255}));  // Y0

    // With error diffusion a NaN stores the lowest value and passes no error
    // on: its neighbours, in this row and the next, keep their own values.
    for (D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_R5G6B5, D3DFMT_L8, D3DFMT_V8U8}) {
        std::vector<BYTE> pixels(4 * 8 * 2, 0);
        PixelSurface s = Surface(pixels.data(), format, 4, 2, 32);
        s.diffusionDither = true;
        auto codec = Make(s);
        Colour4 row[4] = {{NAN, NAN, NAN, NAN}, {0.5f, 0.5f, 0.5f, 1}, {0.5f, 0.5f, 0.5f, 1}, {0.5f, 0.5f, 0.5f, 1}};
        codec->WriteRow(0, 0, row);
        for (Colour4& c : row) c = {0.5f, 0.5f, 0.5f, 1};
        codec->WriteRow(1, 0, row);
        Colour4 back[4];
        for (UINT y = 0; y < 2; ++y) {
            codec->ReadRow(y, 0, back);
            for (UINT x = y == 0 ? 1 : 0; x < 4; ++x) {
                if (format == D3DFMT_V8U8) {
                    EXPECT_NEAR(back[x].r, 0.5f, 0.02f) << std::hex << format << " " << x << "," << y;
                } else {
                    EXPECT_NEAR(back[x].g, 0.5f, 0.04f) << std::hex << format << " " << x << "," << y;
                }
            }
        }
    }
}
