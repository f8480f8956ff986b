// The copy engine's paths on pixels in memory: which path takes a job and
// what each one computes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "texture/copy_engine.h"
#include "texture/filter.h"
#include "texture/triangle_filter.h"
#include "platform/d3d9/offscreen_device.h"

namespace {
PixelSurface Block(std::vector<BYTE>& bytes, D3DFORMAT format, UINT width, UINT height, UINT bytesPerPixel,
                   UINT depth = 1) {
    PixelSurface s;
    s.pixels = bytes.data();
    s.format = format;
    s.rowPitch = width * bytesPerPixel;
    s.slicePitch = s.rowPitch * height;
    s.box = {0, 0, width, height, 0, depth};
    return s;
}

std::vector<BYTE> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<BYTE> v(n);
    for (BYTE& b : v) b = BYTE(rng());
    return v;
}

DWORD Pixel32(const std::vector<BYTE>& bytes, size_t index) {
    DWORD v;
    std::memcpy(&v, bytes.data() + 4 * index, 4);
    return v;
}

// One channel (byte c) of an A8R8G8B8 pixel.
int Byte(const std::vector<BYTE>& bytes, size_t index, int c) { return bytes[4 * index + c]; }
}  // namespace

TEST(FilterWord, ValidityAndDefault) {
    EXPECT_TRUE(IsValidFilter(FILTER_NONE));
    EXPECT_TRUE(IsValidFilter(FILTER_BOX | FILTER_MIRROR | FILTER_DITHER | FILTER_SRGB_IN | FILTER_SRGB_OUT));
    EXPECT_FALSE(IsValidFilter(0));
    EXPECT_FALSE(IsValidFilter(6));
    EXPECT_FALSE(IsValidFilter(0x800004));

    std::vector<BYTE> src(16), dst(16);
    EXPECT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 2, 2, 4), Block(src, D3DFMT_A8R8G8B8, 2, 2, 4), 6),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 2, 2, 4), Block(src, D3DFMT_A8R8G8B8, 2, 2, 4), 0x800004),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 2, 2, 4), Block(src, D3DFMT_A8R8G8B8, 2, 2, 4), USE_DEFAULT),
              S_OK);
}

TEST(CopyPaths, SameFormatSameSizeIsAByteCopyWithAnyFilter) {
    const std::vector<BYTE> original = RandomBytes(64 * 64 * 4, 1);
    for (DWORD filter : {FILTER_NONE, FILTER_POINT, FILTER_LINEAR, FILTER_TRIANGLE | FILTER_DITHER, FILTER_BOX}) {
        std::vector<BYTE> src = original, dst(original.size(), 0);
        ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 64, 64, 4), Block(src, D3DFMT_A8R8G8B8, 64, 64, 4), filter),
                  S_OK);
        EXPECT_EQ(dst, original) << "filter " << filter;
    }
    // Compressed blocks too, a block row at a time.
    const std::vector<BYTE> blocks = RandomBytes(2 * 2 * 8, 2);
    std::vector<BYTE> src = blocks, dst(blocks.size(), 0);
    PixelSurface from = Block(src, D3DFMT_DXT1, 8, 8, 0), to = Block(dst, D3DFMT_DXT1, 8, 8, 0);
    from.rowPitch = to.rowPitch = 16;
    ASSERT_EQ(CopyPixels(to, from, FILTER_TRIANGLE), S_OK);
    EXPECT_EQ(dst, blocks);
}

TEST(CopyPaths, SameSizeConvertsEveryPixel) {
    // A8R8G8B8 -> R5G6B5: 0xFF, 0x80, 0x00 become 31, 32 (0.502 * 63 + 0.5), 0.
    std::vector<BYTE> src = {0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<BYTE> dst(4, 0xAA);
    ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_R5G6B5, 2, 1, 2), Block(src, D3DFMT_A8R8G8B8, 2, 1, 4), FILTER_BOX), S_OK);
    WORD a, b;
    std::memcpy(&a, dst.data(), 2);
    std::memcpy(&b, dst.data() + 2, 2);
    EXPECT_EQ(a, (31 << 11) | (32 << 5) | 0);
    EXPECT_EQ(b, 0xFFFF);
}

TEST(CopyPaths, ColourKeyDisablesTheStraightCopy) {
    std::vector<BYTE> src = {0x00, 0x00, 0x00, 0xFF, 0x10, 0x20, 0x30, 0xFF};
    std::vector<BYTE> dst(8, 0xAA);
    PixelSurface from = Block(src, D3DFMT_A8R8G8B8, 2, 1, 4);
    from.colourKey = 0xFF000000;
    ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 2, 1, 4), from, FILTER_NONE), S_OK);
    EXPECT_EQ(Pixel32(dst, 0), 0u);
    EXPECT_EQ(Pixel32(dst, 1), 0xFF302010u);
}

TEST(CopyPaths, FilterNoneCopiesTheOverlapAndClearsTheRest) {
    std::vector<BYTE> src = RandomBytes(4 * 4 * 4, 3);
    std::vector<BYTE> dst(8 * 8 * 4, 0xAA);
    ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 8, 8, 4), Block(src, D3DFMT_A8R8G8B8, 4, 4, 4), FILTER_NONE),
              S_OK);
    for (UINT y = 0; y < 8; ++y)
        for (UINT x = 0; x < 8; ++x)
            EXPECT_EQ(Pixel32(dst, y * 8 + x), x < 4 && y < 4 ? Pixel32(src, y * 4 + x) : 0u) << x << "," << y;
}

TEST(CopyPaths, PointSamplesWithoutHalfPixelOffset) {
    std::vector<BYTE> src = {1, 0, 0, 0xFF, 2, 0, 0, 0xFF, 3, 0, 0, 0xFF, 4, 0, 0, 0xFF};
    std::vector<BYTE> dst(8);
    ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 2, 1, 4), Block(src, D3DFMT_A8R8G8B8, 4, 1, 4), FILTER_POINT),
              S_OK);
    EXPECT_EQ(dst[0], 1);  // source pixel 0
    EXPECT_EQ(dst[4], 3);  // source pixel 2
    // Upward: 3 -> 7 steps 3 * 65536 / 7, so pixels 0,0,0,1,1,2,2.
    std::vector<BYTE> up(7 * 4);
    ASSERT_EQ(CopyPixels(Block(up, D3DFMT_A8R8G8B8, 7, 1, 4), Block(src, D3DFMT_A8R8G8B8, 3, 1, 4), FILTER_POINT),
              S_OK);
    const int expected[7] = {1, 1, 1, 2, 2, 3, 3};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(up[4 * i], expected[i]) << i;
}

TEST(CopyPaths, BoxHalvesOnlyAndHandlesOddAndThinSources) {
    std::vector<BYTE> src = RandomBytes(64 * 64 * 4, 4);
    std::vector<BYTE> dst(32 * 32 * 4);
    ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 32, 32, 4), Block(src, D3DFMT_A8R8G8B8, 64, 64, 4), FILTER_BOX),
              S_OK);
    for (UINT y = 0; y < 32; ++y)
        for (UINT x = 0; x < 32; ++x)
            for (int c = 0; c < 4; ++c) {
                const int sum = Byte(src, 2 * y * 64 + 2 * x, c) + Byte(src, 2 * y * 64 + 2 * x + 1, c) +
                                Byte(src, (2 * y + 1) * 64 + 2 * x, c) + Byte(src, (2 * y + 1) * 64 + 2 * x + 1, c);
                ASSERT_EQ(Byte(dst, y * 32 + x, c), (sum + 2) >> 2);
            }
    std::vector<BYTE> wrong(48 * 48 * 4);
    EXPECT_EQ(CopyPixels(Block(wrong, D3DFMT_A8R8G8B8, 48, 48, 4), Block(src, D3DFMT_A8R8G8B8, 64, 64, 4), FILTER_BOX),
              E_FAIL);

    // 5 x 1 -> 2 x 1: columns 0-1 and 2-3, column 4 ignored, the row used twice.
    std::vector<BYTE> row = {10, 0, 0, 255, 20, 0, 0, 255, 100, 0, 0, 255, 200, 0, 0, 255, 7, 7, 7, 7};
    std::vector<BYTE> two(8);
    ASSERT_EQ(CopyPixels(Block(two, D3DFMT_A8R8G8B8, 2, 1, 4), Block(row, D3DFMT_A8R8G8B8, 5, 1, 4), FILTER_BOX), S_OK);
    EXPECT_NEAR(two[0], 15, 1);
    EXPECT_NEAR(two[4], 150, 1);
    EXPECT_EQ(two[3], 255);
}

TEST(CopyPaths, BoxIntegerRoutinesMatchTheFloatPath) {
    struct Case {
        D3DFORMAT format;
        UINT bytes;
        DWORD channels[4];  // masks of the stored channels
    };
    const Case cases[] = {
        {D3DFMT_A8R8G8B8, 4, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}},
        {D3DFMT_A8B8G8R8, 4, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}},
        {D3DFMT_X8R8G8B8, 4, {0xFF0000, 0xFF00, 0xFF, 0}},
        {D3DFMT_X8B8G8R8, 4, {0xFF0000, 0xFF00, 0xFF, 0}},
        {D3DFMT_R5G6B5, 2, {0xF800, 0x7E0, 0x1F, 0}},
        {D3DFMT_X1R5G5B5, 2, {0x7C00, 0x3E0, 0x1F, 0}},
        {D3DFMT_A1R5G5B5, 2, {0x8000, 0x7C00, 0x3E0, 0x1F}},
        {D3DFMT_A4R4G4B4, 2, {0xF000, 0xF00, 0xF0, 0xF}},
        {D3DFMT_R3G3B2, 1, {0xE0, 0x1C, 0x3, 0}},
        {D3DFMT_A8, 1, {0xFF, 0, 0, 0}},
        {D3DFMT_L8, 1, {0xFF, 0, 0, 0}},
        {D3DFMT_A8R3G3B2, 2, {0xFF00, 0xE0, 0x1C, 0x3}},
        {D3DFMT_X4R4G4B4, 2, {0xF00, 0xF0, 0xF, 0}},
        {D3DFMT_A8L8, 2, {0xFF00, 0xFF, 0, 0}},
        {D3DFMT_A4L4, 1, {0xF0, 0xF, 0, 0}},
    };
    const UINT w = 18, h = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        std::vector<BYTE> src = RandomBytes(w * h * c.bytes, c.format);
        // The float reference: decode, mean of four, encode (no dither).
        std::unique_ptr<PixelCodec> reader, writer;
        PixelSurface from = Block(src, c.format, w, h, c.bytes);
        std::vector<BYTE> viaFloat(w / 2 * h / 2 * c.bytes), viaInteger(viaFloat.size());
        PixelSurface to = Block(viaFloat, c.format, w / 2, h / 2, c.bytes);
        ASSERT_EQ(CreatePixelCodec(from, reader), S_OK);
        ASSERT_EQ(CreatePixelCodec(to, writer), S_OK);
        std::vector<Colour4> r0(w), r1(w), out(w / 2);
        for (UINT y = 0; y < h / 2; ++y) {
            reader->ReadRow(2 * y, 0, r0.data());
            reader->ReadRow(2 * y + 1, 0, r1.data());
            for (UINT x = 0; x < w / 2; ++x) {
                const Colour4 p[4] = {r0[2 * x], r0[2 * x + 1], r1[2 * x], r1[2 * x + 1]};
                out[x] = {(p[0].r + p[1].r + p[2].r + p[3].r) * 0.25f, (p[0].g + p[1].g + p[2].g + p[3].g) * 0.25f,
                          (p[0].b + p[1].b + p[2].b + p[3].b) * 0.25f, (p[0].a + p[1].a + p[2].a + p[3].a) * 0.25f};
            }
            writer->WriteRow(y, 0, out.data());
        }
        writer.reset();
        // The engine takes the integer path for this job.
        ASSERT_EQ(CopyPixels(Block(viaInteger, c.format, w / 2, h / 2, c.bytes), from, FILTER_BOX), S_OK);
        // Channels agree exactly, except where the mean falls on a half
        // (sum of the four samples = 2 mod 4): the integer path rounds that
        // up, the float path may land either side of it.
        auto stored = [&](const std::vector<BYTE>& bytes, size_t index) {
            DWORD v = 0;
            std::memcpy(&v, &bytes[index * c.bytes], c.bytes);
            return v;
        };
        for (UINT y = 0; y < h / 2; ++y)
            for (UINT x = 0; x < w / 2; ++x) {
                const DWORD a = stored(viaInteger, y * (w / 2) + x), b = stored(viaFloat, y * (w / 2) + x);
                DWORD used = 0;
                for (DWORD mask : c.channels) used |= mask;
                EXPECT_EQ(a & ~used, b & ~used) << "unused bits of pixel " << x << "," << y;
                const DWORD p[4] = {stored(src, 2 * y * w + 2 * x), stored(src, 2 * y * w + 2 * x + 1),
                                    stored(src, (2 * y + 1) * w + 2 * x), stored(src, (2 * y + 1) * w + 2 * x + 1)};
                for (DWORD mask : c.channels) {
                    if (!mask) continue;
                    const DWORD low = mask & (~mask + 1);
                    DWORD sum = 0;
                    for (DWORD v : p) sum += (v & mask) / low;
                    const int ca = int((a & mask) / low), cb = int((b & mask) / low);
                    EXPECT_EQ(ca, int((sum + 2) / 4)) << "pixel " << x << "," << y << " mask " << mask;
                    if (sum % 4 == 2)
                        EXPECT_LE(std::abs(ca - cb), 1) << "pixel " << x << "," << y << " mask " << mask;
                    else
                        EXPECT_EQ(ca, cb) << "pixel " << x << "," << y << " mask " << mask;
                }
            }
    }
}

TEST(CopyPaths, BoxVectorRoutineMatchesScalar) {
    for (UINT w : {1u, 3u, 4u, 5u, 8u, 13u, 64u}) {
        const UINT h = 3;
        std::vector<BYTE> src = RandomBytes(2 * w * 2 * h * 4, w);
        std::vector<BYTE> a(w * h * 4), b(w * h * 4);
        ASSERT_TRUE(BoxFilterInteger(D3DFMT_A8R8G8B8, a.data(), w * 4, src.data(), 2 * w * 4, w, h));
        BoxFilterA8R8G8B8Scalar(b.data(), w * 4, src.data(), 2 * w * 4, w, h);
        EXPECT_EQ(a, b) << "width " << w;
        ASSERT_TRUE(BoxFilterInteger(D3DFMT_X8R8G8B8, a.data(), w * 4, src.data(), 2 * w * 4, w, h));
        BoxFilterA8R8G8B8Scalar(b.data(), w * 4, src.data(), 2 * w * 4, w, h, 0xFF000000);
        EXPECT_EQ(a, b) << "width " << w;
        for (UINT i = 0; i < w * h; ++i) EXPECT_EQ(a[4 * i + 3], 0xFF);
    }
    EXPECT_FALSE(BoxFilterInteger(D3DFMT_A16B16G16R16, nullptr, 0, nullptr, 0, 0, 0));
}

TEST(CopyPaths, BoxThreeDimensionsAveragesEightSamples) {
    std::vector<BYTE> src(2 * 2 * 2 * 4);
    for (int i = 0; i < 8; ++i) {
        src[4 * i] = BYTE(i * 30);   // blue 0..210, mean 105
        src[4 * i + 3] = 0xFF;
    }
    std::vector<BYTE> dst(4);
    ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 1, 1, 4, 1), Block(src, D3DFMT_A8R8G8B8, 2, 2, 4, 2), FILTER_BOX),
              S_OK);
    EXPECT_NEAR(dst[0], 105, 1);
    EXPECT_EQ(dst[3], 255);
}

TEST(CopyPaths, LinearWrapsOrClampsAtTheEdges) {
    // 2 -> 4 pixels: positions -0.25, 0.25, 0.75, 1.25.
    std::vector<BYTE> src = {0, 0, 0, 255, 200, 0, 0, 255};
    std::vector<BYTE> wrap(16), mirror(16);
    ASSERT_EQ(CopyPixels(Block(wrap, D3DFMT_A8R8G8B8, 4, 1, 4), Block(src, D3DFMT_A8R8G8B8, 2, 1, 4), FILTER_LINEAR),
              S_OK);
    ASSERT_EQ(CopyPixels(Block(mirror, D3DFMT_A8R8G8B8, 4, 1, 4), Block(src, D3DFMT_A8R8G8B8, 2, 1, 4),
                         FILTER_LINEAR | FILTER_MIRROR_U),
              S_OK);
    const int wrapped[4] = {50, 50, 150, 150};  // edges take a quarter of the far side
    const int clamped[4] = {0, 50, 150, 200};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(wrap[4 * i], wrapped[i], 1) << i;
        EXPECT_NEAR(mirror[4 * i], clamped[i], 1) << i;
    }
}

TEST(CopyPaths, LinearAndTriangleKeepAFlatImageFlatIn2DAnd3D) {
    for (DWORD filter : {FILTER_LINEAR, FILTER_TRIANGLE, FILTER_TRIANGLE | FILTER_MIRROR, FILTER_POINT}) {
        for (UINT depth : {1u, 3u}) {
            SCOPED_TRACE(filter);
            std::vector<BYTE> src(7 * 5 * depth * 4);
            for (size_t i = 0; i < src.size(); i += 4) {
                src[i] = 0x40;
                src[i + 1] = 0x80;
                src[i + 2] = 0xC0;
                src[i + 3] = 0xFF;
            }
            const UINT dd = depth == 1 ? 1 : 2;
            std::vector<BYTE> dst(3 * 9 * dd * 4, 0);
            ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 3, 9, 4, dd), Block(src, D3DFMT_A8R8G8B8, 7, 5, 4, depth),
                                 filter),
                      S_OK);
            for (size_t i = 0; i < dst.size(); i += 4) {
                ASSERT_EQ(dst[i], 0x40);
                ASSERT_EQ(dst[i + 1], 0x80);
                ASSERT_EQ(dst[i + 2], 0xC0);
                ASSERT_EQ(dst[i + 3], 0xFF);
            }
        }
    }
}

TEST(TriangleFilter, WeightsIntoEachDestinationPixelSumToOne) {
    for (bool mirror : {false, true}) {
        for (UINT source : {1u, 2u, 3u, 5u, 16u, 100u, 257u}) {
            for (UINT dest : {1u, 2u, 3u, 7u, 8u, 50u, 128u, 300u}) {
                const TriangleTaps taps = BuildTriangleTaps(source, dest, mirror);
                ASSERT_EQ(taps.size(), source);
                std::vector<double> sums(dest, 0.0);
                for (const auto& list : taps)
                    for (const auto& [t, w] : list) {
                        ASSERT_LT(t, dest);
                        ASSERT_GT(w, 0.00001f);
                        sums[t] += w;
                    }
                for (UINT t = 0; t < dest; ++t)
                    EXPECT_NEAR(sums[t], 1.0, 1e-4) << source << "->" << dest << " pixel " << t
                                                    << (mirror ? " mirror" : " wrap");
            }
        }
    }
}

TEST(TriangleFilter, WrapReachesAcrossTheEdgeAndMirrorDoesNot) {
    // 4 -> 2 with wrap: the last source pixel feeds destination pixel 0.
    const TriangleTaps wrap = BuildTriangleTaps(4, 2, false);
    bool lastFeedsFirst = false;
    for (const auto& [t, w] : wrap[3]) lastFeedsFirst |= t == 0;
    EXPECT_TRUE(lastFeedsFirst);
    const TriangleTaps mirror = BuildTriangleTaps(4, 2, true);
    for (const auto& [t, w] : mirror[3]) EXPECT_EQ(t, 1u);
    // Halving: source pixel j gives half its weight to destination j / 2 in
    // the interior.
    const TriangleTaps half = BuildTriangleTaps(8, 4, true);
    double toOne = 0;
    for (const auto& [t, w] : half[3]) toOne += t == 1 ? w : 0;
    EXPECT_NEAR(toOne, 0.4375, 1e-6);
}

TEST(TriangleFilter, HalvingAStepSmoothsIt) {
    // 0, 0, 0, 0, 255, 255, 255, 255 -> 4 pixels, mirrored: the two middle
    // pixels take from both sides, the outer ones stay at the ends.
    std::vector<BYTE> src(8 * 4);
    for (int i = 0; i < 8; ++i) {
        src[4 * i] = i < 4 ? 0 : 255;
        src[4 * i + 3] = 255;
    }
    std::vector<BYTE> dst(4 * 4);
    ASSERT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 4, 1, 4), Block(src, D3DFMT_A8R8G8B8, 8, 1, 4),
                         FILTER_TRIANGLE | FILTER_MIRROR),
              S_OK);
    EXPECT_EQ(dst[0], 0);
    EXPECT_NEAR(dst[4], 16, 1);   // weight 1/16 from the step
    EXPECT_NEAR(dst[8], 239, 1);
    EXPECT_EQ(dst[12], 255);
}

TEST(CopyPaths, FormatsWithoutCodecFail) {
    std::vector<BYTE> src(16), dst(16);
    EXPECT_EQ(CopyPixels(Block(dst, D3DFMT_D24S8, 2, 2, 4), Block(src, D3DFMT_A8R8G8B8, 2, 2, 4), FILTER_NONE), E_FAIL);
    EXPECT_EQ(CopyPixels(Block(dst, D3DFMT_A8R8G8B8, 2, 2, 4), Block(src, D3DFMT_D24S8, 2, 2, 4), FILTER_NONE), E_FAIL);
}

// Filling several destinations in one pass over the source must give each
// exactly what a copy into it alone gives: mip chains of odd sizes, an
// enlargement, wrap and mirror, both dithers, gamma, and a DXT destination
// whose last blocks are partly covered.
TEST(TriangleFilter, OnePassIntoManyDestinationsMatchesSeparateCopies) {
    constexpr UINT kWidth = 37, kHeight = 23;
    std::vector<BYTE> pixels = RandomBytes(kWidth * kHeight * 4, 11);
    const PixelSurface source = Block(pixels, D3DFMT_A8R8G8B8, kWidth, kHeight, 4);
    const UINT sizes[][2] = {{18, 11}, {9, 5}, {4, 2}, {2, 1}, {1, 1}, {50, 30}};
    const DWORD filters[] = {FILTER_TRIANGLE,
                             FILTER_TRIANGLE | FILTER_DITHER,
                             FILTER_TRIANGLE | FILTER_DITHER_DIFFUSION | FILTER_MIRROR_V,
                             FILTER_TRIANGLE | FILTER_MIRROR,
                             FILTER_TRIANGLE | FILTER_SRGB_IN | FILTER_SRGB_OUT | FILTER_MIRROR_U};
    // The float destination keeps every bit of the sums.
    const D3DFORMAT formats[] = {D3DFMT_A32B32G32R32F, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5, D3DFMT_DXT1};
    for (D3DFORMAT format : formats) {
        const UINT bytesPerPixel = format == D3DFMT_A32B32G32R32F ? 16 : format == D3DFMT_R5G6B5 ? 2 : 4;
        for (DWORD filter : filters) {
            std::vector<std::vector<BYTE>> together, alone;
            std::vector<PixelSurface> dests;
            for (const auto& size : sizes) {
                PixelSurface d;
                d.format = format;
                d.rowPitch = format == D3DFMT_DXT1 ? (size[0] + 3) / 4 * 8 : size[0] * bytesPerPixel;
                const UINT rows = format == D3DFMT_DXT1 ? (size[1] + 3) / 4 : size[1];
                d.slicePitch = d.rowPitch * rows;
                d.box = {0, 0, size[0], size[1], 0, 1};
                together.emplace_back(d.slicePitch, 0);
                alone.emplace_back(d.slicePitch, 0);
                dests.push_back(d);
            }
            for (size_t n = 0; n < dests.size(); ++n) {
                dests[n].pixels = alone[n].data();
                ASSERT_EQ(CopyPixels(dests[n], source, filter), S_OK);
                dests[n].pixels = together[n].data();
            }
            ASSERT_EQ(TriangleFilterLevels(dests, source, filter), S_OK);
            for (size_t n = 0; n < dests.size(); ++n)
                EXPECT_EQ(together[n], alone[n]) << "format " << format << " filter " << std::hex << filter
                                                 << " size " << std::dec << sizes[n][0] << "x" << sizes[n][1];
        }
    }
    // Only the triangle filter, and no source of several slices.
    std::vector<PixelSurface> none;
    EXPECT_EQ(TriangleFilterLevels(none, source, FILTER_BOX), D3DERR_INVALIDCALL);
    std::vector<BYTE> deep = RandomBytes(4 * 4 * 4 * 2, 3);
    std::vector<BYTE> out(4 * 2 * 2);
    std::vector<PixelSurface> one = {Block(out, D3DFMT_A8R8G8B8, 2, 2, 4)};
    EXPECT_EQ(TriangleFilterLevels(one, Block(deep, D3DFMT_A8R8G8B8, 4, 4, 4, 2), FILTER_TRIANGLE), E_FAIL);
}

namespace {
IDirect3DDevice9* HeadlessDevice() { return SharedOffscreenDevice(); }

void FillRandom(IDirect3DSurface9* surface, unsigned seed) {
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(surface->LockRect(&lr, nullptr, 0), S_OK);
    std::mt19937 rng(seed);
    for (UINT y = 0; y < desc.Height; ++y)
        for (UINT x = 0; x < desc.Width * 4; ++x) static_cast<BYTE*>(lr.pBits)[size_t(y) * lr.Pitch + x] = BYTE(rng());
    surface->UnlockRect();
}

std::vector<BYTE> Contents(IDirect3DSurface9* surface) {
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    D3DLOCKED_RECT lr;
    std::vector<BYTE> bytes;
    if (FAILED(surface->LockRect(&lr, nullptr, D3DLOCK_READONLY))) return bytes;
    for (UINT y = 0; y < desc.Height; ++y) {
        const BYTE* row = static_cast<const BYTE*>(lr.pBits) + size_t(y) * lr.Pitch;
        bytes.insert(bytes.end(), row, row + desc.Width * 4);
    }
    surface->UnlockRect();
    return bytes;
}
}  // namespace

// A triangle mip chain fills all levels in one pass; each level must hold
// what loading it from the source level on its own gives, for 2D textures
// from level 0 or a later level (scratch memory, where sizes need not be
// powers of two) and for every face of a cube.
TEST(MipGeneration, TriangleChainMatchesLevelByLevelLoads) {
    IDirect3DDevice9* device = HeadlessDevice();
    ASSERT_NE(device, nullptr);
    const DWORD filters[] = {FILTER_TRIANGLE | FILTER_DITHER, FILTER_TRIANGLE | FILTER_DITHER_DIFFUSION | FILTER_MIRROR_U};
    for (DWORD filter : filters) {
        for (UINT sourceLevel : {0u, 1u}) {
            IDirect3DTexture9 *chain = nullptr, *reference = nullptr;
            ASSERT_EQ(device->CreateTexture(45, 30, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &chain, nullptr), S_OK);
            ASSERT_EQ(device->CreateTexture(45, 30, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &reference, nullptr), S_OK);
            for (IDirect3DTexture9* t : {chain, reference}) {
                IDirect3DSurface9* source = nullptr;
                t->GetSurfaceLevel(sourceLevel, &source);
                FillRandom(source, 5);
                source->Release();
            }
            ASSERT_EQ(GenerateMipLevels(chain, nullptr, sourceLevel, filter), S_OK);
            IDirect3DSurface9* from = nullptr;
            reference->GetSurfaceLevel(sourceLevel, &from);
            for (UINT level = sourceLevel + 1; level < chain->GetLevelCount(); ++level) {
                IDirect3DSurface9 *got = nullptr, *want = nullptr;
                chain->GetSurfaceLevel(level, &got);
                reference->GetSurfaceLevel(level, &want);
                ASSERT_EQ(LoadSurfaceFromSurface(want, nullptr, nullptr, from, nullptr, nullptr, filter, 0), S_OK);
                const std::vector<BYTE> bytes = Contents(got);
                EXPECT_FALSE(bytes.empty());
                EXPECT_EQ(bytes, Contents(want)) << "level " << level << " from " << sourceLevel;
                got->Release();
                want->Release();
            }
            from->Release();
            chain->Release();
            reference->Release();
        }
    }

    IDirect3DCubeTexture9 *cube = nullptr, *cubeReference = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(24, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), S_OK);
    ASSERT_EQ(device->CreateCubeTexture(24, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cubeReference, nullptr), S_OK);
    for (UINT face = 0; face < 6; ++face) {
        for (IDirect3DCubeTexture9* t : {cube, cubeReference}) {
            IDirect3DSurface9* top = nullptr;
            t->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &top);
            FillRandom(top, 100 + face);
            top->Release();
        }
    }
    // 24 is not a power of two: the default is triangle with dither, mirrored.
    ASSERT_EQ(GenerateMipLevels(cube, nullptr, USE_DEFAULT, USE_DEFAULT), S_OK);
    for (UINT face = 0; face < 6; ++face) {
        IDirect3DSurface9* top = nullptr;
        cubeReference->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &top);
        for (UINT level = 1; level < cube->GetLevelCount(); ++level) {
            IDirect3DSurface9 *got = nullptr, *want = nullptr;
            cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &got);
            cubeReference->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &want);
            ASSERT_EQ(LoadSurfaceFromSurface(want, nullptr, nullptr, top, nullptr, nullptr, FILTER_DEFAULT | FILTER_MIRROR, 0),
                      S_OK);
            EXPECT_EQ(Contents(got), Contents(want)) << "face " << face << " level " << level;
            got->Release();
            want->Release();
        }
        top->Release();
    }
    cube->Release();
    cubeReference->Release();
}

namespace {
// Every level after a source of `width` x `height` A8R8G8B8 pixels down to
// 1x1, filled in one pass; the chain of halvings taken the quick way unless
// `exact`.
std::vector<std::vector<BYTE>> TriangleChain(const std::vector<BYTE>& pixels, UINT width, UINT height, DWORD filter,
                                             bool exact, D3DFORMAT format = D3DFMT_A8R8G8B8, UINT bytesPerPixel = 4) {
    std::vector<BYTE> copy = pixels;
    const PixelSurface source = Block(copy, format, width, height, bytesPerPixel);
    std::vector<std::vector<BYTE>> levels;
    std::vector<UINT> sizes;
    for (UINT w = width, h = height; w > 1 || h > 1;) {
        w = std::max(w / 2, 1u);
        h = std::max(h / 2, 1u);
        levels.emplace_back(size_t(w) * h * bytesPerPixel, 0);
        sizes.push_back(w);
        sizes.push_back(h);
    }
    std::vector<PixelSurface> dests;
    for (size_t n = 0; n < levels.size(); ++n)
        dests.push_back(Block(levels[n], format, sizes[2 * n], sizes[2 * n + 1], bytesPerPixel));
    UseExactTriangleChains(exact);
    const HRESULT hr = TriangleFilterLevels(dests, source, filter);
    UseExactTriangleChains(false);
    EXPECT_EQ(hr, S_OK);
    return levels;
}
}  // namespace

// Chains of halvings take each level after the first from the 2x2 means of
// the one above. That is the same filter: against every level taken from
// the source, no byte may move by more than one, and only where a value
// falls on a rounding tie, which random bytes seldom do.
TEST(TriangleFilter, HalvingChainsStayWithinOneOfTheFullFilter) {
    const UINT sizes[][2] = {{256, 256}, {128, 32}, {16, 128}, {1, 64}, {64, 1}, {2, 2}};
    const DWORD filters[] = {FILTER_TRIANGLE,
                             FILTER_TRIANGLE | FILTER_DITHER,
                             FILTER_TRIANGLE | FILTER_DITHER_DIFFUSION,
                             FILTER_TRIANGLE | FILTER_MIRROR,
                             FILTER_TRIANGLE | FILTER_MIRROR_V | FILTER_DITHER,
                             FILTER_TRIANGLE | FILTER_SRGB_IN | FILTER_SRGB_OUT,
                             FILTER_TRIANGLE | FILTER_SRGB_OUT | FILTER_MIRROR_U | FILTER_DITHER};
    size_t bytes = 0, differing = 0;
    unsigned seed = 40;
    for (const auto& size : sizes) {
        const std::vector<BYTE> pixels = RandomBytes(size_t(size[0]) * size[1] * 4, ++seed);
        for (DWORD filter : filters) {
            const auto quick = TriangleChain(pixels, size[0], size[1], filter, false);
            const auto exact = TriangleChain(pixels, size[0], size[1], filter, true);
            ASSERT_EQ(quick.size(), exact.size());
            // The first level is filtered from the source either way.
            EXPECT_EQ(quick[0], exact[0]) << size[0] << "x" << size[1] << " filter " << std::hex << filter;
            for (size_t n = 0; n < quick.size(); ++n) {
                for (size_t i = 0; i < quick[n].size(); ++i) {
                    ASSERT_LE(std::abs(quick[n][i] - exact[n][i]), 1)
                        << size[0] << "x" << size[1] << " filter " << std::hex << filter << std::dec << " level "
                        << n + 1 << " byte " << i;
                    differing += quick[n][i] != exact[n][i];
                }
                bytes += quick[n].size();
            }
        }
    }
    EXPECT_LT(double(differing) / double(bytes), 0.001) << differing << " of " << bytes;
}

// Where a chain holds no halving from a power-of-two size the full filter
// runs as before, to the byte; a flat image stays flat down the chain.
TEST(TriangleFilter, OtherChainsAreUntouchedAndFlatImagesStayFlat) {
    const UINT sizes[][2] = {{48, 48}, {12, 12}, {96, 64}, {3, 1}};
    for (const auto& size : sizes) {
        const std::vector<BYTE> pixels = RandomBytes(size_t(size[0]) * size[1] * 4, 7);
        for (DWORD filter : {FILTER_TRIANGLE | FILTER_DITHER, FILTER_TRIANGLE | FILTER_MIRROR}) {
            EXPECT_EQ(TriangleChain(pixels, size[0], size[1], filter, false),
                      TriangleChain(pixels, size[0], size[1], filter, true))
                << size[0] << "x" << size[1];
        }
    }

    // A power-of-two source whose destinations skip a level is no chain of
    // halvings either.
    std::vector<BYTE> square = RandomBytes(64 * 64 * 4, 8);
    std::vector<std::vector<BYTE>> skipping[2];
    for (bool exact : {false, true}) {
        auto& levels = skipping[exact];
        levels = {std::vector<BYTE>(16 * 16 * 4), std::vector<BYTE>(8 * 8 * 4)};
        std::vector<PixelSurface> dests = {Block(levels[0], D3DFMT_A8R8G8B8, 16, 16, 4),
                                           Block(levels[1], D3DFMT_A8R8G8B8, 8, 8, 4)};
        UseExactTriangleChains(exact);
        EXPECT_EQ(TriangleFilterLevels(dests, Block(square, D3DFMT_A8R8G8B8, 64, 64, 4), FILTER_TRIANGLE), S_OK);
        UseExactTriangleChains(false);
    }
    EXPECT_EQ(skipping[0], skipping[1]);

    std::vector<BYTE> flat(128 * 64 * 4);
    for (size_t i = 0; i < flat.size(); i += 4) {
        flat[i] = 0x01;
        flat[i + 1] = 0x7F;
        flat[i + 2] = 0xC8;
        flat[i + 3] = 0xFE;
    }
    for (DWORD filter : {FILTER_TRIANGLE, FILTER_TRIANGLE | FILTER_DITHER, FILTER_TRIANGLE | FILTER_DITHER_DIFFUSION,
                         FILTER_TRIANGLE | FILTER_MIRROR | FILTER_SRGB_IN | FILTER_SRGB_OUT}) {
        const auto levels = TriangleChain(flat, 128, 64, filter, false);
        ASSERT_EQ(levels.size(), 7u);
        for (size_t n = 0; n < levels.size(); ++n)
            for (size_t i = 0; i < levels[n].size(); ++i)
                ASSERT_EQ(levels[n][i], flat[i % 4]) << "filter " << std::hex << filter << std::dec << " level "
                                                     << n + 1 << " byte " << i;
    }
}

// A float destination shows the two computations apart only in the last
// bits.
TEST(TriangleFilter, HalvingChainsIntoFloatsAgreeToRounding) {
    const std::vector<BYTE> pixels = RandomBytes(64 * 32 * 4, 9);
    std::vector<BYTE> floats(64 * 32 * 16);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const float v = float(pixels[i]) / 17.0f - 5.0f;  // beyond 0..1 on purpose: no clamp for floats
        std::memcpy(&floats[4 * i], &v, 4);
    }
    for (DWORD filter : {FILTER_TRIANGLE, FILTER_TRIANGLE | FILTER_MIRROR}) {
        const auto quick = TriangleChain(floats, 64, 32, filter, false, D3DFMT_A32B32G32R32F, 16);
        const auto exact = TriangleChain(floats, 64, 32, filter, true, D3DFMT_A32B32G32R32F, 16);
        ASSERT_EQ(quick.size(), exact.size());
        for (size_t n = 0; n < quick.size(); ++n) {
            for (size_t i = 0; i < quick[n].size(); i += 4) {
                float a, b;
                std::memcpy(&a, &quick[n][i], 4);
                std::memcpy(&b, &exact[n][i], 4);
                ASSERT_NEAR(a, b, 1e-5f) << "level " << n + 1 << " value " << i / 4;
            }
        }
    }
}

// Power-of-two textures take the chain of halvings through GenerateMipLevels
// too: every level within one of loading it alone from the source level,
// for 2D textures from level 0 or 1 and for mirrored cube faces.
TEST(MipGeneration, TriangleHalvingChainsStayWithinOneOfLevelByLevelLoads) {
    IDirect3DDevice9* device = HeadlessDevice();
    ASSERT_NE(device, nullptr);
    size_t bytes = 0, differing = 0;
    auto compare = [&](IDirect3DSurface9* got, IDirect3DSurface9* want, const char* what, UINT level) {
        const std::vector<BYTE> a = Contents(got), b = Contents(want);
        ASSERT_FALSE(a.empty());
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            ASSERT_LE(std::abs(a[i] - b[i]), 1) << what << " level " << level << " byte " << i;
            differing += a[i] != b[i];
        }
        bytes += a.size();
    };

    for (UINT sourceLevel : {0u, 1u}) {
        const DWORD filter = FILTER_TRIANGLE | FILTER_DITHER;
        IDirect3DTexture9 *chain = nullptr, *reference = nullptr;
        ASSERT_EQ(device->CreateTexture(128, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &chain, nullptr), S_OK);
        ASSERT_EQ(device->CreateTexture(128, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &reference, nullptr), S_OK);
        for (IDirect3DTexture9* t : {chain, reference}) {
            IDirect3DSurface9* source = nullptr;
            t->GetSurfaceLevel(sourceLevel, &source);
            FillRandom(source, 21);
            source->Release();
        }
        ASSERT_EQ(GenerateMipLevels(chain, nullptr, sourceLevel, filter), S_OK);
        IDirect3DSurface9* from = nullptr;
        reference->GetSurfaceLevel(sourceLevel, &from);
        for (UINT level = sourceLevel + 1; level < chain->GetLevelCount(); ++level) {
            IDirect3DSurface9 *got = nullptr, *want = nullptr;
            chain->GetSurfaceLevel(level, &got);
            reference->GetSurfaceLevel(level, &want);
            ASSERT_EQ(LoadSurfaceFromSurface(want, nullptr, nullptr, from, nullptr, nullptr, filter, 0), S_OK);
            compare(got, want, sourceLevel == 0 ? "2D from 0" : "2D from 1", level);
            got->Release();
            want->Release();
        }
        from->Release();
        chain->Release();
        reference->Release();
    }

    const DWORD cubeFilter = FILTER_TRIANGLE | FILTER_MIRROR | FILTER_DITHER_DIFFUSION;
    IDirect3DCubeTexture9 *cube = nullptr, *cubeReference = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(32, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), S_OK);
    ASSERT_EQ(device->CreateCubeTexture(32, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cubeReference, nullptr), S_OK);
    for (UINT face = 0; face < 6; ++face) {
        for (IDirect3DCubeTexture9* t : {cube, cubeReference}) {
            IDirect3DSurface9* top = nullptr;
            t->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &top);
            FillRandom(top, 300 + face);
            top->Release();
        }
    }
    ASSERT_EQ(GenerateMipLevels(cube, nullptr, 0, cubeFilter), S_OK);
    for (UINT face = 0; face < 6; ++face) {
        IDirect3DSurface9* top = nullptr;
        cubeReference->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &top);
        for (UINT level = 1; level < cube->GetLevelCount(); ++level) {
            IDirect3DSurface9 *got = nullptr, *want = nullptr;
            cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &got);
            cubeReference->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &want);
            ASSERT_EQ(LoadSurfaceFromSurface(want, nullptr, nullptr, top, nullptr, nullptr, cubeFilter, 0), S_OK);
            compare(got, want, "cube face", level);
            got->Release();
            want->Release();
        }
        top->Release();
    }
    cube->Release();
    cubeReference->Release();
    EXPECT_LT(double(differing) / double(bytes), 0.001) << differing << " of " << bytes;
}
