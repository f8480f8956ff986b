// The byte-shuffle path for plain 8-bit copies into A8R8G8B8/X8R8G8B8 must
// store exactly what the row codecs store, and must stay out of every copy
// it cannot do that for.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "texture/copy_engine.h"
#include "texture/filter.h"

namespace {
struct Image {
    std::vector<BYTE> bytes;
    PixelSurface surface;
};

// A block with a margin around the box and padded rows, so a write outside
// the box or a wrong pitch shows up. Random bytes, except that the box's
// first row sweeps every value through every byte of a pixel.
Image MakeImage(D3DFORMAT format, UINT bytesPerPixel, UINT width, UINT height, UINT depth, unsigned seed) {
    Image image;
    const UINT pitch = (width + 3) * bytesPerPixel + 5;
    const UINT slice = pitch * (height + 2);
    image.bytes.resize(size_t(slice) * (depth + 1));
    std::mt19937 rng(seed);
    for (BYTE& b : image.bytes) b = BYTE(rng());
    PixelSurface& s = image.surface;
    s.pixels = image.bytes.data();
    s.format = format;
    s.rowPitch = pitch;
    s.slicePitch = slice;
    s.box = {2, 1, 2 + width, 1 + height, 1, 1 + depth};
    BYTE* first = s.pixels + size_t(slice) + pitch + 2 * bytesPerPixel;
    for (UINT x = 0; x < width && x < 256; ++x)
        for (UINT k = 0; k < bytesPerPixel; ++k) first[x * bytesPerPixel + k] = BYTE(x ^ (0x55 * k));
    return image;
}

// What the codecs store for the same job: rows read into Colour4 and
// written back, with the flags the copy engine sets from the filter word.
void CodecCopy(PixelSurface dest, PixelSurface source, DWORD filter) {
    source.gamma = dest.gamma = false;
    dest.orderedDither = (filter & FILTER_DITHER) != 0;
    dest.colourKey = 0;
    std::unique_ptr<PixelCodec> to, from;
    ASSERT_EQ(CreatePixelCodec(dest, to), S_OK);
    ASSERT_EQ(CreatePixelCodec(source, from), S_OK);
    LinkPixelCodecs(*from, *to);
    std::vector<Colour4> row(to->Width());
    for (UINT z = 0; z < to->Depth(); ++z)
        for (UINT y = 0; y < to->Height(); ++y) {
            from->ReadRow(y, z, row.data());
            to->WriteRow(y, z, row.data());
        }
}

struct SourceFormat {
    D3DFORMAT format;
    UINT bytes;
};
const SourceFormat kSources[] = {{D3DFMT_R8G8B8, 3},   {D3DFMT_X8R8G8B8, 4}, {D3DFMT_A8R8G8B8, 4},
                                 {D3DFMT_X8B8G8R8, 4}, {D3DFMT_A8B8G8R8, 4}, {D3DFMT_L8, 1},
                                 {D3DFMT_A8L8, 2}};
}  // namespace

TEST(PlainCopy, StoresTheCodecsBitsForEveryFormatPairFilterAndKey) {
    const UINT width = 301, height = 7, depth = 2;
    for (const SourceFormat& src : kSources)
        for (D3DFORMAT destFormat : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8}) {
            if (destFormat == src.format) continue;
            for (DWORD filter : {FILTER_NONE, FILTER_TRIANGLE | FILTER_DITHER}) {
                Image source = MakeImage(src.format, src.bytes, width, height, depth, 7);
                // A key equal to a pixel of the image, so some pixels are keyed.
                DWORD keyPixel = 0;
                std::memcpy(&keyPixel, source.bytes.data() + source.surface.slicePitch + source.surface.rowPitch * 2 +
                                           (2 + 40) * src.bytes,
                            src.bytes);
                for (D3DCOLOR key : {D3DCOLOR(0), D3DCOLOR(0xFF000000u | keyPixel), D3DCOLOR(keyPixel | 0x01000000)}) {
                    SCOPED_TRACE(testing::Message() << std::hex << "source " << src.format << " dest " << destFormat
                                                    << " filter " << filter << " key " << key);
                    source.surface.colourKey = key;
                    Image fast = MakeImage(destFormat, 4, width, height, depth, 99);
                    Image general = MakeImage(destFormat, 4, width, height, depth, 99);
                    ASSERT_EQ(CopyPixels(fast.surface, source.surface, filter), S_OK);
                    CodecCopy(general.surface, source.surface, filter);
                    ASSERT_EQ(fast.bytes, general.bytes);

                    PixelSurface dest = fast.surface;
                    dest.orderedDither = (filter & FILTER_DITHER) != 0;
                    EXPECT_TRUE(CopyPlainPixels(dest, source.surface)) << "the fast path was not taken";
                }
            }
        }
}

TEST(PlainCopy, KeyedPixelsAreTransparentBlackAndOpaqueFormatsIgnoreKeyAlpha) {
    // R8G8B8 stores no alpha, so a key of any alpha matches its pixels.
    std::vector<BYTE> rgb = {0x10, 0x20, 0x30, 0x11, 0x22, 0x33};
    std::vector<BYTE> out(8, 0xAA);
    PixelSurface from, to;
    from.pixels = rgb.data();
    from.format = D3DFMT_R8G8B8;
    from.rowPitch = 6;
    from.box = {0, 0, 2, 1, 0, 1};
    from.colourKey = 0x00302010;
    to.pixels = out.data();
    to.format = D3DFMT_X8R8G8B8;
    to.rowPitch = 8;
    to.box = from.box;
    ASSERT_EQ(CopyPixels(to, from, FILTER_NONE), S_OK);
    EXPECT_EQ(out, (std::vector<BYTE>{0, 0, 0, 0xFF, 0x11, 0x22, 0x33, 0xFF}));
    to.format = D3DFMT_A8R8G8B8;
    ASSERT_EQ(CopyPixels(to, from, FILTER_NONE), S_OK);
    EXPECT_EQ(out, (std::vector<BYTE>{0, 0, 0, 0, 0x11, 0x22, 0x33, 0xFF}));
}

TEST(PlainCopy, LeavesEveryOtherCopyToTheCodecs) {
    Image source = MakeImage(D3DFMT_R8G8B8, 3, 16, 4, 1, 1);
    Image dest = MakeImage(D3DFMT_A8R8G8B8, 4, 16, 4, 1, 2);
    const std::vector<BYTE> untouched = dest.bytes;
    auto refused = [&](PixelSurface to, PixelSurface from) {
        EXPECT_FALSE(CopyPlainPixels(to, from));
        EXPECT_EQ(dest.bytes, untouched);
    };
    PixelSurface to = dest.surface, from = source.surface;
    from.gamma = true;
    refused(to, from);
    from = source.surface;
    to.gamma = true;
    refused(to, from);
    to = dest.surface;
    to.diffusionDither = true;
    refused(to, from);
    to = dest.surface;
    to.box.Right -= 1;  // resampling
    refused(to, from);
    to = dest.surface;
    to.format = D3DFMT_R5G6B5;
    refused(to, from);
    to = dest.surface;
    from.format = D3DFMT_A8R8G8B8;  // the same format is a straight copy, X bytes kept
    to.format = D3DFMT_A8R8G8B8;
    refused(to, from);
    from = source.surface;
    from.format = D3DFMT_A4R4G4B4;
    refused(to, from);

    // A block converted in place would read bytes it has just written.
    std::vector<BYTE> shared(16 * 4, 0x40);
    PixelSurface inPlaceFrom, inPlaceTo;
    inPlaceFrom.pixels = inPlaceTo.pixels = shared.data();
    inPlaceFrom.format = D3DFMT_R8G8B8;
    inPlaceTo.format = D3DFMT_A8R8G8B8;
    inPlaceFrom.rowPitch = inPlaceTo.rowPitch = 64;
    inPlaceFrom.box = inPlaceTo.box = {0, 0, 16, 1, 0, 1};
    EXPECT_FALSE(CopyPlainPixels(inPlaceTo, inPlaceFrom));
}
