// Radiance HDR decodes against independent float decodes of the same files
// (32-bit float TIFFs beside them in the corpus, read with libtiff).
//
// Our reader centres each mantissa in its step, (m + 0.5) * 2^(e - 136);
// the reference decodes take m * 2^(e - 136), and 0 for e = 0. So every
// pixel must equal its reference plus one half-step d = 2^(e - 137) shared
// by its three channels, with reference / d an even number up to 510; for
// e = 0 the reference is 0 and our value below 2^-127.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "texture/image_readers.h"

namespace {
struct FloatImage {
    uint32_t width = 0, height = 0;
    std::vector<float> rgb;  // top row first
};

bool ReadFloatTiff(const std::string& path, FloatImage& image) {
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return false;
    uint16_t samples = 0, bits = 0, format = 0, config = 0;
    bool ok = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &image.width) && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &image.height) &&
              TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) && TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits) &&
              TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format) && TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &config);
    ok = ok && samples == 3 && bits == 32 && format == SAMPLEFORMAT_IEEEFP && config == PLANARCONFIG_CONTIG &&
         size_t(TIFFScanlineSize(tif)) == size_t(image.width) * 12;
    if (ok) {
        image.rgb.resize(size_t(image.width) * image.height * 3);
        for (uint32_t y = 0; ok && y < image.height; ++y)
            ok = TIFFReadScanline(tif, &image.rgb[size_t(y) * image.width * 3], y) == 1;
    }
    TIFFClose(tif);
    return ok;
}

std::vector<BYTE> Load(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(f), {});
}

bool IsPowerOfTwo(float v) {
    int e;
    return v > 0 && std::frexp(v, &e) == 0.5f;
}
}  // namespace

TEST(HdrReference, CorpusDecodesMatchTheirFloatReferences) {
    const std::string dir = std::string(VINTREL_CORPUS_DIR) + "/hdr/image-rs/";
    for (const char* name : {"image1.hdr", "old-rle.hdr", "rgbr4x4.hdr", "scale.hdr"}) {
        SCOPED_TRACE(name);
        FloatImage ref;
        ASSERT_TRUE(ReadFloatTiff(dir + "ref/" + name + ".tiff", ref));
        std::vector<BYTE> bytes = Load(dir + name);
        ASSERT_FALSE(bytes.empty());
        ImageLevel level;
        level.decodePixels = true;
        ASSERT_EQ(ReadHdrImage(&level, bytes.data(), UINT(bytes.size())), S_OK);
        ASSERT_EQ(level.format, D3DFMT_A32B32G32R32F);
        ASSERT_EQ(level.width, ref.width);
        ASSERT_EQ(level.height, ref.height);

        int mismatches = 0, zeroExponent = 0;
        for (UINT y = 0; y < level.height; ++y)
            for (UINT x = 0; x < level.width; ++x) {
                float ours[4];
                std::memcpy(ours, level.pixels + size_t(y) * level.rowPitch + size_t(x) * 16, 16);
                const float* theirs = &ref.rgb[(size_t(y) * ref.width + x) * 3];
                bool ok = ours[3] == 1.0f;
                if (theirs[0] == 0 && theirs[1] == 0 && theirs[2] == 0 && ours[0] < 0x1p-127f) {
                    // Exponent 0: nothing but the mantissas' half steps.
                    ++zeroExponent;
                    ok = ok && ours[0] > 0 && ours[1] > 0 && ours[2] > 0 && ours[1] < 0x1p-127f && ours[2] < 0x1p-127f;
                } else {
                    const float d = ours[0] - theirs[0];
                    ok = ok && IsPowerOfTwo(d);
                    for (int c = 0; ok && c < 3; ++c) {
                        const float steps = theirs[c] / d;
                        ok = ours[c] - theirs[c] == d && steps == std::floor(steps) && std::fmod(steps, 2.0f) == 0 &&
                             steps >= 0 && steps <= 510;
                    }
                }
                if (!ok && ++mismatches <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": ours " << ours[0] << " " << ours[1] << " "
                                  << ours[2] << " reference " << theirs[0] << " " << theirs[1] << " " << theirs[2];
            }
        EXPECT_EQ(mismatches, 0);
        RecordProperty(std::string(name) + "_zero_exponent_pixels", zeroExponent);
    }
}
