// The BMP, DIB, TGA, PPM, PFM, HDR, JPEG and PNG readers: hand-made files for
// the rules that are easy to get wrong, and the real-world corpus compared
// pixel by pixel with its reference decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <jpeglib.h>

#include "texture/image_readers.h"
#include "texture/pixel_format.h"
#include "texture/texture.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;

const std::string kCorpus = VINTREL_CORPUS_DIR;

Bytes Load(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

void Put16(Bytes& b, size_t at, UINT v) {
    b[at] = BYTE(v);
    b[at + 1] = BYTE(v >> 8);
}
void Put32(Bytes& b, size_t at, UINT v) {
    for (int i = 0; i < 4; ++i) b[at + i] = BYTE(v >> (8 * i));
}

// Decodes through the whole front end; the bytes are copied into their own
// allocation so that the sanitizer sees any read past the end.
struct Decoded {
    HRESULT hr = E_FAIL;
    ImageLevel level;
    Bytes storage;
};
std::unique_ptr<Decoded> Decode(const Bytes& bytes) {
    auto d = std::make_unique<Decoded>();
    d->storage = bytes;
    d->hr = d->storage.empty() ? E_FAIL : ReadImageFile(&d->level, d->storage.data(), UINT(d->storage.size()), nullptr, TRUE);
    return d;
}

// One pixel as 8-bit red, green, blue, alpha, from any format the readers produce.
struct Rgba {
    int r, g, b, a;
};
int W5(UINT v) { return int((v << 3) | (v >> 2)); }
Rgba PixelAt(const ImageLevel& l, UINT x, UINT y) {
    const BYTE* p = l.pixels + size_t(y) * l.rowPitch;
    auto u16 = [](const BYTE* q) { return int(q[0] | (q[1] << 8)); };
    switch (DWORD(l.format)) {
    case D3DFMT_L8: p += x; return {p[0], p[0], p[0], 255};
    case D3DFMT_A8L8: p += x * 2; return {p[0], p[0], p[0], p[1]};
    case D3DFMT_P8: {
        const PALETTEENTRY& e = l.palette[p[x]];
        return {e.peRed, e.peGreen, e.peBlue, e.peFlags};
    }
    case D3DFMT_R8G8B8: p += x * 3; return {p[2], p[1], p[0], 255};
    case D3DFMT_X8R8G8B8: p += x * 4; return {p[2], p[1], p[0], 255};
    case D3DFMT_A8R8G8B8: p += x * 4; return {p[2], p[1], p[0], p[3]};
    case D3DFMT_L16: p += x * 2; return {u16(p) >> 8, u16(p) >> 8, u16(p) >> 8, 255};
    case FMT_AL16: p += x * 4; return {u16(p) >> 8, u16(p) >> 8, u16(p) >> 8, u16(p + 2) >> 8};
    case FMT_R16: p += x * 6; return {u16(p + 4) >> 8, u16(p + 2) >> 8, u16(p) >> 8, 255};
    case D3DFMT_A16B16G16R16: p += x * 8; return {u16(p) >> 8, u16(p + 2) >> 8, u16(p + 4) >> 8, u16(p + 6) >> 8};
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
        const UINT v = UINT(u16(p + x * 2));
        return {W5((v >> 10) & 31), W5((v >> 5) & 31), W5(v & 31),
                l.format == D3DFMT_A1R5G5B5 ? int(v >> 15) * 255 : 255};
    }
    case D3DFMT_R5G6B5: {
        const UINT v = UINT(u16(p + x * 2));
        return {W5(v >> 11), int(((v >> 5) & 63) << 2 | ((v >> 5) & 63) >> 4), W5(v & 31), 255};
    }
    case D3DFMT_A4R4G4B4: {
        const UINT v = UINT(u16(p + x * 2));
        return {int((v >> 8) & 15) * 17, int((v >> 4) & 15) * 17, int(v & 15) * 17, int(v >> 12) * 17};
    }
    case D3DFMT_A32B32G32R32F: {
        float f[4];
        std::memcpy(f, p + x * 16, 16);
        auto c = [](float v) { return int(std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255)); };
        return {c(f[0]), c(f[1]), c(f[2]), c(f[3])};
    }
    default: ADD_FAILURE() << "unexpected format " << std::hex << l.format; return {0, 0, 0, 0};
    }
}

// Compares two decodes; `gamma` applies the correction a file gamma of 1
// gets on a 2.2 screen to the reference first.
void ExpectSameImage(const ImageLevel& ours, const ImageLevel& ref, int tolerance, bool compareAlpha,
                     const std::string& what, bool gamma = false) {
    ASSERT_EQ(ours.width, ref.width) << what;
    ASSERT_EQ(ours.height, ref.height) << what;
    int worst = 0;
    UINT wx = 0, wy = 0;
    auto fix = [&](int v) { return gamma ? int(std::lround(255 * std::pow(v / 255.0, 1 / 2.2))) : v; };
    for (UINT y = 0; y < ours.height; ++y)
        for (UINT x = 0; x < ours.width; ++x) {
            const Rgba a = PixelAt(ours, x, y), b = PixelAt(ref, x, y);
            int d = std::max({std::abs(a.r - fix(b.r)), std::abs(a.g - fix(b.g)), std::abs(a.b - fix(b.b))});
            // The colour of a fully transparent pixel is not part of the picture.
            if (compareAlpha && a.a == 0 && b.a == 0) d = 0;
            if (compareAlpha) d = std::max(d, std::abs(a.a - b.a));
            if (d > worst) worst = d, wx = x, wy = y;
        }
    EXPECT_LE(worst, tolerance) << what << " worst at " << wx << "," << wy;
}

void ExpectMatchesReference(const std::string& file, const std::string& reference, int tolerance, bool alpha,
                            bool gamma = false) {
    auto ours = Decode(Load(kCorpus + "/" + file));
    auto ref = Decode(Load(kCorpus + "/" + reference));
    ASSERT_EQ(ours->hr, S_OK) << file;
    ASSERT_EQ(ref->hr, S_OK) << reference;
    ExpectSameImage(ours->level, ref->level, tolerance, alpha, file, gamma);
}

std::vector<std::string> FilesIn(const std::string& folder, const std::string& extension) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(kCorpus + "/" + folder))
        if (e.path().extension() == extension) out.push_back(folder + "/" + e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Every prefix of a file, each in its own allocation, through every reader.
void DecodeEveryPrefix(const Bytes& file) {
    for (size_t n = 1; n < file.size(); ++n) {
        Bytes prefix(file.begin(), file.begin() + std::ptrdiff_t(n));
        auto d = Decode(prefix);
        if (SUCCEEDED(d->hr)) {
            EXPECT_NE(d->level.pixels, nullptr);
        }
    }
}

// A bare bitmap with an info header of `headerSize` bytes.
Bytes MakeBmp(int width, int height, UINT bits, UINT compression, const std::vector<UINT>& masks,
              const Bytes& palette, const Bytes& data, UINT headerSize = 40) {
    Bytes b(14 + headerSize, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 14, headerSize);
    Put32(b, 18, UINT(width));
    Put32(b, 22, UINT(height));
    Put16(b, 26, 1);
    Put16(b, 28, bits);
    Put32(b, 30, compression);
    for (size_t i = 0; i < masks.size() && 40 + 4 * i + 4 <= headerSize; ++i) Put32(b, 14 + 40 + 4 * i, masks[i]);
    Put32(b, 46, UINT(palette.size() / 4));
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), data.begin(), data.end());
    Put32(b, 2, UINT(b.size()));
    return b;
}

Bytes MakeTga(UINT type, UINT width, UINT height, UINT bits, UINT descriptor, const Bytes& data) {
    Bytes b(18 + data.size(), 0);
    b[2] = BYTE(type);
    Put16(b, 12, width);
    Put16(b, 14, height);
    b[16] = BYTE(bits);
    b[17] = BYTE(descriptor);
    std::copy(data.begin(), data.end(), b.begin() + 18);
    return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
}  // namespace

// ---- PNG ----

TEST(PngReader, SuiteMatchesReferenceDecodesAfterGamma) {
    // The suite's basic images carry a file gamma of 1.0, so on a 2.2 screen
    // every sample is raised to 1/2.2; the reference bitmaps are uncorrected.
    for (const char* name : {"basn0g01", "basn0g02", "basn0g04", "basn0g08", "basn0g16", "basn2c08", "basn2c16",
                             "basn3p02", "basn3p04", "basn4a16", "basn6a16", "basi3p04", "basi0g08"}) {
        std::string ref = name;
        ref[3] = 'n';
        const bool sixteen = std::string(name).find("16") != std::string::npos;
        ExpectMatchesReference("png/pngsuite/" + std::string(name) + ".png", "png/pngsuite-ref-bmp/" + ref + ".bmp",
                               sixteen ? 2 : 1, true, true);
    }
}

TEST(PngReader, FormatsByColourTypeAndDepth) {
    struct Case {
        const char* name;
        D3DFORMAT format;
    } cases[] = {{"basn0g01", D3DFMT_L8},     {"basn0g08", D3DFMT_L8},          {"basn0g16", D3DFMT_L16},
                 {"basn2c08", D3DFMT_X8R8G8B8}, {"basn2c16", FMT_R16},          {"basn3p02", D3DFMT_P8},
                 {"basn4a08", D3DFMT_A8L8},   {"basn4a16", FMT_AL16},           {"basn6a08", D3DFMT_A8R8G8B8},
                 {"basn6a16", D3DFMT_A16B16G16R16}, {"tbrn2c08", D3DFMT_A8R8G8B8}, {"tbbn0g04", D3DFMT_A8L8},
                 {"tbrn2c08", D3DFMT_A8R8G8B8}};
    for (const Case& c : cases) {
        auto d = Decode(Load(kCorpus + "/png/pngsuite/" + c.name + ".png"));
        ASSERT_EQ(d->hr, S_OK) << c.name;
        EXPECT_EQ(d->level.fileType, IFT_PNG);
        EXPECT_EQ(d->level.format, c.format) << c.name;
    }
    // The front end stores 16-bit colour as 8-bit colour.
    ImageInfo info;
    Bytes rgb16 = Load(kCorpus + "/png/pngsuite/basn2c16.png");
    ImageLevel level;
    ASSERT_EQ(ReadImageFile(&level, rgb16.data(), UINT(rgb16.size()), &info, FALSE), S_OK);
    EXPECT_EQ(info.format, D3DFMT_R8G8B8);
}

TEST(PngReader, WholeSuiteLoadsAndDamagedFilesFail) {
    for (const std::string& file : FilesIn("png/pngsuite", ".png")) {
        const bool bad = fs::path(file).filename().string()[0] == 'x';
        auto d = Decode(Load(kCorpus + "/" + file));
        if (bad)
            EXPECT_TRUE(FAILED(d->hr) || d->level.fileType != IFT_PNG) << file;
        else
            EXPECT_EQ(d->hr, S_OK) << file;
    }
    // libpng passes over empty ancillary chunks; the image itself is intact.
    for (const std::string& file : FilesIn("png/libpng-bad", ".png")) {
        if (file.find("empty_ancillary") != std::string::npos) continue;
        ImageLevel level;
        level.decodePixels = true;
        Bytes bytes = Load(kCorpus + "/" + file);
        EXPECT_EQ(ReadPngImage(&level, bytes.data(), UINT(bytes.size())), E_FAIL) << file;
    }
}

// A 57-byte file whose zTXt chunk claims a gigabyte: the chunk is skipped,
// not buffered, so the read fails without touching memory of that size.
// (CTest runs each test in a process of its own, so the peak is this test's.)
TEST(PngReader, UnusedChunksAreNotBuffered) {
    auto peakKb = [] {
        rusage usage = {};
        getrusage(RUSAGE_SELF, &usage);
        return long(usage.ru_maxrss);
    };
    const Bytes bytes = Load(kCorpus + "/png/libpng-bad/huge_zTXt_chunk.png");
    ASSERT_EQ(bytes.size(), 57u);
    const long before = peakKb();
    ImageLevel level;
    level.decodePixels = true;
    EXPECT_EQ(ReadPngImage(&level, bytes.data(), UINT(bytes.size())), E_FAIL);
    EXPECT_LT(peakKb() - before, 64 * 1024);
}

TEST(PngReader, TruncatedFilesFailCleanly) {
    DecodeEveryPrefix(Load(kCorpus + "/png/pngsuite/basn3p04.png"));
    DecodeEveryPrefix(Load(kCorpus + "/png/pngsuite/basi6a16.png"));
}

// ---- JPEG ----

TEST(JpegReader, MatchesReferenceDecodes) {
    for (const char* name : {"16bit-qtables", "extraneous-data", "grayscale_16x24_sampling2x2",
                             "grayscale_24x16_sampling2x2", "non-interleaved-mcu", "partial_progressive", "restarts",
                             "progressive3", "mozilla/jpg-gray", "mozilla/jpg-progressive", "mozilla/jpg-srgb-icc",
                             "mozilla/jpg-size-1x1", "mozilla/jpg-size-2x2", "mozilla/jpg-size-15x15",
                             "mozilla/jpg-size-17x17"}) {
        const std::string base = std::string("jpeg/jpeg-decoder/") + name;
        ExpectMatchesReference(base + ".jpg", base + ".png", 2, false);
    }
}

TEST(JpegReader, GreyAndColourFormats) {
    auto grey = Decode(Load(kCorpus + "/jpeg/pillow/hopper_gray.jpg"));
    ASSERT_EQ(grey->hr, S_OK);
    EXPECT_EQ(grey->level.fileType, IFT_JPG);
    EXPECT_EQ(grey->level.format, D3DFMT_L8);
    EXPECT_EQ(grey->level.rowPitch, grey->level.width);
    auto colour = Decode(Load(kCorpus + "/jpeg/libjpeg-turbo/testorig.jpg"));
    ASSERT_EQ(colour->hr, S_OK);
    EXPECT_EQ(colour->level.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(colour->level.width, 227u);
    EXPECT_EQ(colour->level.height, 149u);
    EXPECT_EQ(colour->level.rowPitch, 227u * 4);
    // Four-component (CMYK) images are not colour or grey.
    Bytes cmyk = Load(kCorpus + "/jpeg/pillow/pil_sample_cmyk.jpg");
    ImageLevel level;
    level.decodePixels = true;
    EXPECT_EQ(ReadJpegImage(&level, cmyk.data(), UINT(cmyk.size())), E_FAIL);
}

TEST(JpegReader, DamagedFilesFailCleanly) {
    for (const char* name : {"bad/invalid-dimensions.jpg", "bad/missing-sof.jpg", "bad/missing-sos.jpg"}) {
        Bytes bytes = Load(kCorpus + "/jpeg/jpeg-decoder/" + name);
        ImageLevel level;
        level.decodePixels = true;
        EXPECT_EQ(ReadJpegImage(&level, bytes.data(), UINT(bytes.size())), E_FAIL) << name;
    }
    ImageLevel level;
    EXPECT_EQ(ReadJpegImage(&level, nullptr, 0), E_FAIL);
    Bytes monkey = Load(kCorpus + "/jpeg/libjpeg-turbo/monkey12.jpg");
    EXPECT_EQ(ReadJpegImage(&level, monkey.data(), UINT(monkey.size())), E_FAIL);
    DecodeEveryPrefix(Load(kCorpus + "/jpeg/jpeg-decoder/restarts.jpg"));
}

// A uniform grey image as a progressive JPEG with optimised Huffman
// tables: about the most pixels a byte a Huffman-coded file holds. With
// `arithmetic`, a sequential arithmetic-coded one, which packs far more.
Bytes EncodeFlatGreyJpeg(int width, int height, bool arithmetic = false) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    if (arithmetic) {
        cinfo.arith_code = TRUE;
    } else {
        cinfo.optimize_coding = TRUE;
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(size_t(width), 100);
    JSAMPROW rows[1] = {row.data()};
    while (cinfo.next_scanline < cinfo.image_height) jpeg_write_scanlines(&cinfo, rows, 1);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

// Refused whole, both when decoding and when reading the header alone.
void ExpectJpegFails(const Bytes& file) {
    for (const bool decode : {true, false}) {
        ImageLevel level;
        level.decodePixels = decode;
        EXPECT_EQ(ReadJpegImage(&level, file.data(), UINT(file.size())), E_FAIL) << decode;
        EXPECT_EQ(level.pixels, nullptr);
    }
}

TEST(JpegReader, ClaimsBeyondTheFilesDataFail) {
    // A real file near the limit decodes.
    const Bytes flat = EncodeFlatGreyJpeg(1024, 1024);
    EXPECT_GT(1024.0 * 1024.0 / double(flat.size()), 200.0);
    auto d = Decode(flat);
    ASSERT_EQ(d->hr, S_OK);
    ASSERT_EQ(d->level.width, 1024u);
    ASSERT_EQ(d->level.height, 1024u);
    const BYTE* pixels = static_cast<const BYTE*>(d->level.pixels);
    EXPECT_TRUE(std::all_of(pixels, pixels + 1024 * 1024, [](BYTE p) { return p >= 99 && p <= 101; }));

    // A larger one cut short inside its first scan: the decoder would read
    // the missing data as grey, sixteen million pixels from 200 bytes.
    const Bytes large = EncodeFlatGreyJpeg(4096, 4096);
    size_t scan = 2;
    while (scan + 1 < large.size() && !(large[scan] == 0xFF && large[scan + 1] == 0xDA)) ++scan;
    ASSERT_LT(scan + 200, large.size());
    const Bytes cut(large.begin(), large.begin() + std::ptrdiff_t(scan + 200));
    ExpectJpegFails(cut);
    // Cut short within what its size allows, it still decodes.
    const Bytes partial(large.begin(), large.begin() + std::ptrdiff_t(large.size() * 3 / 4));
    EXPECT_EQ(Decode(partial)->hr, S_OK);
}

TEST(JpegReader, DenseArithmeticCodedFilesDecode) {
    // Arithmetic coding spends far less than a bit on a flat block, so a
    // whole, valid file holds many more pixels a byte than a Huffman one.
    for (const int side : {1024, 4096}) {
        const Bytes flat = EncodeFlatGreyJpeg(side, side, true);
        ASSERT_GT(double(side) * side / double(flat.size()), 1024.0) << side;
        auto d = Decode(flat);
        ASSERT_EQ(d->hr, S_OK) << side;
        ASSERT_EQ(d->level.width, UINT(side));
        ASSERT_EQ(d->level.height, UINT(side));
        const BYTE* pixels = static_cast<const BYTE*>(d->level.pixels);
        const size_t count = size_t(side) * size_t(side);
        EXPECT_TRUE(std::all_of(pixels, pixels + count, [](BYTE p) { return p >= 99 && p <= 101; })) << side;
    }
    // Larger claims are still held to the bound: cut short, this one fails.
    const Bytes large = EncodeFlatGreyJpeg(8192, 8192, true);
    const Bytes cut(large.begin(), large.begin() + std::ptrdiff_t(large.size() / 2));
    ExpectJpegFails(cut);
}

TEST(JpegReader, EndlessScansFail) {
    // A progressive file with its last scan repeated: each repeat is a pass
    // over every block for a few bytes.
    const Bytes file = EncodeFlatGreyJpeg(256, 256);
    size_t lastScan = 0;
    for (size_t i = 0; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xDA) lastScan = i;
    ASSERT_GT(lastScan, 0u);
    const size_t end = file.size() - 2;  // the end-of-image marker
    ASSERT_EQ(file[end + 1], 0xD9);
    const Bytes scan(file.begin() + std::ptrdiff_t(lastScan), file.begin() + std::ptrdiff_t(end));
    auto repeated = [&](int times) {
        Bytes out(file.begin(), file.begin() + std::ptrdiff_t(end));
        for (int k = 0; k < times; ++k) out.insert(out.end(), scan.begin(), scan.end());
        out.insert(out.end(), file.begin() + std::ptrdiff_t(end), file.end());
        return out;
    };
    // A few repeats decode, as libjpeg takes them (with a warning).
    EXPECT_EQ(Decode(repeated(10))->hr, S_OK);
    const Bytes endless = repeated(200);
    ExpectJpegFails(endless);
}

// ---- BMP / DIB ----

TEST(BmpReader, SuiteMatchesReferences) {
    struct Pair {
        const char* bmp;
        const char* ref;
    } pairs[] = {{"g/pal1.bmp", "pal1"},        {"g/pal1wb.bmp", "pal1"},     {"g/pal1bg.bmp", "pal1bg"},
                 {"g/pal4.bmp", "pal4"},        {"g/pal4gs.bmp", "pal4gs"},   {"g/pal4rle.bmp", "pal4"},
                 {"g/pal8.bmp", "pal8"},        {"g/pal8-0.bmp", "pal8"},     {"g/pal8gs.bmp", "pal8gs"},
                 {"g/pal8rle.bmp", "pal8"},     {"g/pal8w126.bmp", "pal8w126"}, {"g/pal8w125.bmp", "pal8w125"},
                 {"g/pal8w124.bmp", "pal8w124"}, {"g/pal8topdown.bmp", "pal8"}, {"g/pal8os2.bmp", "pal8"},
                 {"g/pal8v4.bmp", "pal8"},      {"g/pal8v5.bmp", "pal8"},     {"g/rgb16.bmp", "rgb16"},
                 {"g/rgb24.bmp", "rgb24"},      {"g/rgb24pal.bmp", "rgb24"},  {"g/rgb32.bmp", "rgb24"},
                 {"q/pal8offs.bmp", "pal8"},    {"q/pal8oversizepal.bmp", "pal8"}, {"q/rgb24largepal.bmp", "rgb24"},
                 {"q/rgb32h52.bmp", "rgb24"},   {"q/rgb32-xbgr.bmp", "rgb24"}, {"q/rgba32h56.bmp", "rgba32"},
                 {"q/rgba16-1924.bmp", "rgba16-1924"}, {"q/rgba32-61754.bmp", "rgba32-61754"}};
    for (const Pair& p : pairs)
        ExpectMatchesReference(std::string("bmp/bmpsuite/") + p.bmp, std::string("bmp/bmpsuite/ref/") + p.ref + ".png",
                               1, true);
    // Bit fields behind a 40-byte header have no masks inside the header.
    for (const char* name : {"q/rgb16-231.bmp", "q/rgb32-7187.bmp", "g/rgb16-565.bmp"}) {
        auto d = Decode(Load(kCorpus + "/bmp/bmpsuite/" + name));
        EXPECT_TRUE(FAILED(d->hr) || d->level.fileType != IFT_BMP) << name;
    }
}

TEST(BmpReader, CoreAndVersionHeadersMatchReferences) {
    for (const char* name : {"Core_1_Bit", "Core_4_Bit", "Core_8_Bit", "Info_8_Bit_Top_Down", "V3_A1_R5_G5_B5",
                             "V3_A4_R4_G4_B4", "V3_X8_R8_G8_B8", "V4_R5_G6_B5"})
        ExpectMatchesReference(std::string("bmp/image-rs/") + name + ".bmp",
                               std::string("bmp/image-rs/ref/") + name + ".bmp.png", 1, true);
}

TEST(BmpReader, BadFilesNeverReadOutsideTheFile) {
    // Damaged RLE streams keep what was decoded; everything else must fail.
    for (const std::string& file : FilesIn("bmp/bmpsuite/b", ".bmp")) {
        auto d = Decode(Load(kCorpus + "/" + file));
        const std::string name = fs::path(file).filename().string();
        // Accepted: header sizes above 40 are any later header, and indices
        // past the palette, densities and the bits size are not checked.
        if (name.find("rle") == std::string::npos && name != "pal8badindex.bmp" && name != "rgb16-880.bmp" &&
            name != "baddens1.bmp" && name != "baddens2.bmp" && name != "badbitssize.bmp" &&
            name != "badheadersize.bmp") {
            EXPECT_TRUE(FAILED(d->hr) || d->level.fileType != IFT_BMP) << file;
        }
    }
    for (const std::string& file : FilesIn("bmp/bmpsuite/q", ".bmp")) Decode(Load(kCorpus + "/" + file));
    DecodeEveryPrefix(Load(kCorpus + "/bmp/bmpsuite/g/pal4rle.bmp"));
    DecodeEveryPrefix(Load(kCorpus + "/bmp/image-rs/V3_A1_R5_G5_B5.bmp"));
}

TEST(BmpReader, StoredSizeAndAlphaRules) {
    Bytes pixels = {1, 2, 3, 0, 4, 5, 6, 0};
    Bytes file = MakeBmp(2, 1, 32, 0, {}, {}, pixels);
    auto d = Decode(file);
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_EQ(d->level.fileType, IFT_BMP);
    EXPECT_EQ(d->level.format, D3DFMT_X8R8G8B8);
    // Bottom-up single row: still copied? One row reads the same either way.
    file[14 + 40 + 7] = 9;
    d = Decode(file);
    EXPECT_EQ(d->level.format, D3DFMT_A8R8G8B8);

    // A stored size beyond the bytes: not a BMP (the bare-bitmap reader
    // cannot take it either, as "BM" is no header size).
    Put32(file, 2, UINT(file.size() + 1));
    ImageLevel level;
    level.decodePixels = true;
    EXPECT_EQ(ReadBmpImage(&level, file.data(), UINT(file.size())), E_FAIL);
    // The bare bitmap behind the file header reads as a DIB.
    d = Decode(Bytes(file.begin() + 14, file.end()));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_EQ(d->level.fileType, IFT_DIB);
}

TEST(BmpReader, EveryListedMaskSetAndTheFloatFallback) {
    struct Case {
        UINT bits;
        std::vector<UINT> masks;
        D3DFORMAT format;
    } cases[] = {
        {16, {0xE0, 0x1C, 0x3, 0xFF00}, D3DFMT_A8R3G3B2},      {16, {0xF00, 0xF0, 0xF, 0xF000}, D3DFMT_A4R4G4B4},
        {16, {0xF00, 0xF0, 0xF, 0}, D3DFMT_X4R4G4B4},          {16, {0xF800, 0x7E0, 0x1F, 0}, D3DFMT_R5G6B5},
        {16, {0x7C00, 0x3E0, 0x1F, 0}, D3DFMT_X1R5G5B5},       {16, {0x7C00, 0x3E0, 0x1F, 0x8000}, D3DFMT_A1R5G5B5},
        {16, {0xFF, 0xFF, 0xFF, 0xFF00}, D3DFMT_A8L8},         {16, {0xFFFF, 0xFFFF, 0xFFFF, 0}, D3DFMT_L16},
        {24, {0xFF0000, 0xFF00, 0xFF, 0}, D3DFMT_R8G8B8},      {32, {0xFFFF, 0xFFFF0000, 0, 0}, D3DFMT_G16R16},
        {32, {0xFF0000, 0xFF00, 0xFF, 0}, D3DFMT_X8R8G8B8},
        {32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, D3DFMT_A8R8G8B8},
        {32, {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, D3DFMT_A2R10G10B10},
        {32, {0xFF000000, 0xFF0000, 0xFF00, 0}, D3DFMT_X8R8G8B8},
        {32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, D3DFMT_A8B8G8R8},
        {32, {0xFF, 0xFF00, 0xFF0000, 0}, D3DFMT_X8B8G8R8},
        {32, {0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}, D3DFMT_A2B10G10R10},
        {16, {0x7E0, 0xF800, 0x1F, 0}, D3DFMT_A32B32G32R32F},
        {24, {0xFF, 0xFF00, 0xFF0000, 0}, D3DFMT_A32B32G32R32F},
    };
    for (const Case& c : cases) {
        Bytes data(size_t(c.bits / 8 * 2 + 3) & ~size_t(3), 0x11);
        auto d = Decode(MakeBmp(2, -1, c.bits, 3, c.masks, {}, data, 56));
        ASSERT_EQ(d->hr, S_OK) << c.bits << " " << std::hex << c.masks[0];
        EXPECT_EQ(d->level.format, c.format) << c.bits << " " << std::hex << c.masks[0];
    }
    // Bit fields need the masks inside the header.
    auto d = Decode(MakeBmp(1, 1, 16, 3, {}, {}, {0, 0, 0, 0}, 40));
    EXPECT_TRUE(FAILED(d->hr) || d->level.fileType != IFT_BMP);

    // The fallback decodes through the masks: 5-6-5 with red and green swapped.
    Bytes pixel = {0x1F, 0xF8, 0, 0};  // green field (0xF800) full, blue full
    d = Decode(MakeBmp(1, 1, 16, 3, {0x7E0, 0xF800, 0x1F, 0}, {}, pixel, 52));
    ASSERT_EQ(d->hr, S_OK);
    float f[4];
    std::memcpy(f, d->level.pixels, 16);
    EXPECT_FLOAT_EQ(f[0], 0.0f);
    EXPECT_FLOAT_EQ(f[1], 1.0f);
    EXPECT_FLOAT_EQ(f[2], 1.0f);
    EXPECT_FLOAT_EQ(f[3], 1.0f);
    // X8R8G8B8 one byte further on: blue, green, red in bytes 1 to 3.
    d = Decode(MakeBmp(1, 1, 32, 3, {0xFF000000, 0xFF0000, 0xFF00, 0}, {}, {0, 10, 20, 30}, 52));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_EQ(d->level.pixels[0], 10);
    EXPECT_EQ(d->level.pixels[1], 20);
    EXPECT_EQ(d->level.pixels[2], 30);
}

TEST(BmpReader, RunLengthDataStayInsideTheImage) {
    Bytes palette(16 * 4, 0);
    for (int i = 0; i < 16; ++i) palette[size_t(i) * 4 + 2] = BYTE(i * 16);
    // A 4x2 RLE8 image: a run of 200 on the bottom row (clipped to the row),
    // then a move far past the image.
    Bytes rle = {200, 5, 0, 0, 0, 2, 250, 250, 3, 3};
    auto d = Decode(MakeBmp(4, 2, 8, 1, {}, palette, rle));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_EQ(d->level.format, D3DFMT_P8);
    EXPECT_EQ(d->level.rowPitch, 4u);
    for (UINT x = 0; x < 4; ++x) EXPECT_EQ(d->level.pixels[4 + x], 5) << x;  // bottom row
    EXPECT_EQ(d->level.pixels[0], 0);
    // RLE4: a run alternates nibbles; a literal run keeps word alignment;
    // escape 1 ends the bitmap.
    Bytes rle4 = {3, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    d = Decode(MakeBmp(3, 2, 4, 2, {}, palette, rle4));
    ASSERT_EQ(d->hr, S_OK);
    const BYTE want[] = {3, 4, 5, 0, 1, 2, 1, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(d->level.pixels[i], want[i]) << i;
    EXPECT_EQ(d->level.palette[3].peRed, 48);
    EXPECT_EQ(d->level.palette[200].peFlags, 255);
    // RLE8 declared with another bit count is refused.
    d = Decode(MakeBmp(4, 2, 4, 1, {}, palette, rle));
    EXPECT_TRUE(FAILED(d->hr) || d->level.fileType != IFT_BMP);
}

// ---- TGA ----

TEST(TgaReader, CorpusMatchesReferences) {
    for (const char* mode : {"l", "p", "rgb", "rgba"})
        for (const char* variant : {"bl_raw", "bl_rle", "tl_raw", "tl_rle"})
            ExpectMatchesReference(std::string("tga/pillow/common/200x32_") + mode + "_" + variant + ".tga",
                                   std::string("tga/pillow/common/200x32_") + mode + ".png", 0, true);
    // utc32's alpha bytes are all 0, so it loads as X8R8G8B8.
    for (const char* name : {"cbw8", "ctc24", "ubw8", "utc24", "utc32"})
        ExpectMatchesReference(std::string("tga/truevision/") + name + ".tga",
                               std::string("tga/truevision/ref/") + name + ".tga.png", 0, false);
    for (const char* name : {"bottom_left", "bottom_right", "top_left", "top_right", "cmap_offset"})
        ExpectMatchesReference(std::string("tga/image-rs/") + name + ".tga",
                               std::string("tga/image-rs/ref/") + name + ".tga.png", 0, true);
    // 5-bit channels widen by bit replication here, by rounding there.
    for (const char* name : {"b5-attrib", "b5-noattrib", "b5-cmap", "b5-unused-cmap"})
        ExpectMatchesReference(std::string("tga/image-rs/") + name + ".tga",
                               std::string("tga/image-rs/ref/") + name + ".tga.png", 1, false);
}

TEST(TgaReader, AlphaRulesOrientationAndRuns) {
    // 2x1 32-bit, all alpha 0, right-to-left: X8R8G8B8, pixels swapped.
    Bytes px = {1, 2, 3, 0, 4, 5, 6, 0};
    ImageLevel level;
    level.decodePixels = true;
    Bytes file = MakeTga(2, 2, 1, 32, 0x30, px);
    ASSERT_EQ(ReadTgaImage(&level, file.data(), UINT(file.size())), S_OK);
    EXPECT_EQ(level.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(level.pixels[0], 4);
    level.Release();
    // Top-down, left-right, raw: points into the file.
    file = MakeTga(2, 2, 1, 32, 0x20, {1, 2, 3, 0, 4, 5, 6, 7});
    ASSERT_EQ(ReadTgaImage(&level, file.data(), UINT(file.size())), S_OK);
    EXPECT_EQ(level.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(level.pixels, file.data() + 18);
    EXPECT_FALSE(level.ownsPixels);
    level.Release();
    // RLE grey 3x2 bottom-up: a run of 4 then 2 literals.
    file = MakeTga(11, 3, 2, 8, 0, {0x83, 9, 0x01, 7, 8});
    ASSERT_EQ(ReadTgaImage(&level, file.data(), UINT(file.size())), S_OK);
    const BYTE want[] = {9, 7, 8, 9, 9, 9};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(level.pixels[i], want[i]) << i;
    level.Release();
    // A run past the image, or data that end early, fail.
    file = MakeTga(11, 3, 2, 8, 0, {0x86, 9});
    EXPECT_EQ(ReadTgaImage(&level, file.data(), UINT(file.size())), E_FAIL);
    level.Release();
    file = MakeTga(11, 3, 2, 8, 0, {0x83, 9, 0x01, 7});
    EXPECT_EQ(ReadTgaImage(&level, file.data(), UINT(file.size())), E_FAIL);
    level.Release();
    // 16-bit without any attribute bit becomes X1R5G5B5.
    file = MakeTga(2, 1, 1, 16, 0x20, {0xFF, 0x7F});
    ASSERT_EQ(ReadTgaImage(&level, file.data(), UINT(file.size())), S_OK);
    EXPECT_EQ(level.format, D3DFMT_X1R5G5B5);
    level.Release();
    // Unsupported types and depths fail.
    for (UINT type : {0u, 4u, 8u, 32u}) {
        file = MakeTga(type, 1, 1, 8, 0, {0});
        EXPECT_EQ(ReadTgaImage(&level, file.data(), UINT(file.size())), E_FAIL) << type;
        level.Release();
    }
    for (const std::string& f : FilesIn("tga/image-rs/bad", ".tga")) {
        Bytes bytes = Load(kCorpus + "/" + f);
        EXPECT_EQ(ReadTgaImage(&level, bytes.data(), UINT(bytes.size())), E_FAIL) << f;
        level.Release();
    }
    Bytes truncated = Load(kCorpus + "/tga/pillow/cross_scan_line_truncated.tga");
    EXPECT_EQ(ReadTgaImage(&level, truncated.data(), UINT(truncated.size())), E_FAIL);
    DecodeEveryPrefix(Load(kCorpus + "/tga/image-rs/cmap_offset.tga"));
}

// ---- PPM ----

TEST(PpmReader, BinaryAndTextMatchReference) {
    ExpectMatchesReference("ppm/pillow/hopper_8bit.ppm", "ppm/pillow/hopper.png", 0, false);
    ExpectMatchesReference("ppm/pillow/hopper_8bit_plain.ppm", "ppm/pillow/hopper.png", 0, false);
    auto d = Decode(Load(kCorpus + "/ppm/pillow/hopper.ppm"));
    EXPECT_EQ(d->hr, S_OK);
    EXPECT_EQ(d->level.fileType, IFT_PPM);
    d = Decode(Load(kCorpus + "/ppm/pillow/negative_size.ppm"));
    EXPECT_TRUE(FAILED(d->hr) || d->level.fileType != IFT_PPM);
}

TEST(PpmReader, HeaderAndSampleRules) {
    auto d = Decode(Text("P6 2 1 255\n\x01\x02\x03\x04\x05\x06"));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_EQ(d->level.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(PixelAt(d->level, 1, 0).r, 4);
    EXPECT_EQ(d->level.pixels[3], 255);
    ImageLevel level;
    level.decodePixels = true;
    for (const char* bad : {"P6 2 1 255\n\x01\x02\x03\x04\x05", "P6 2 0 255\n", "P6 2 1 0\n\x01\x02\x03\x04\x05\x06",
                            "P6 2 1 256\n\x01\x02\x03\x04\x05\x06", "P3 1 1 255 1 2", "P3 1 1 255 1 2 x",
                            "P5 1 1 255\n\x01", "P3 1x 1 255 1 2 3"}) {
        const std::string s = bad;
        EXPECT_EQ(ReadPpmImage(&level, reinterpret_cast<const BYTE*>(s.data()), UINT(s.size())), E_FAIL) << s;
        level.Release();
    }
    // Comments anywhere between tokens; text samples are scaled by the maximum.
    d = Decode(Text("P3 # a comment\n1 # more\n1\n# max\n15 15 0 5\n"));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_EQ(PixelAt(d->level, 0, 0).r, 255);
    EXPECT_EQ(PixelAt(d->level, 0, 0).b, 85);
    // "\r\n" after the maximum counts as the one separator.
    d = Decode(Text("P6 1 1 255\r\n\x07\x08\x09"));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_EQ(PixelAt(d->level, 0, 0).r, 7);
}

// ---- PFM ----

TEST(PfmReader, ByteOrderFollowsTheScaleSign) {
    Bytes le = Load(kCorpus + "/pfm/raytracing-course/reference_le.pfm");
    Bytes be = Load(kCorpus + "/pfm/raytracing-course/reference_be.pfm");
    for (const Bytes* file : {&le, &be}) {
        auto d = Decode(*file);
        ASSERT_EQ(d->hr, S_OK);
        EXPECT_EQ(d->level.fileType, IFT_PFM);
        ASSERT_EQ(d->level.format, D3DFMT_A32B32G32R32F);
        ASSERT_EQ(d->level.width, 3u);
        ASSERT_EQ(d->level.height, 2u);
        const float* f = reinterpret_cast<const float*>(d->level.pixels);
        const float want[2][3][3] = {{{10, 20, 30}, {40, 50, 60}, {70, 80, 90}},
                                     {{100, 200, 300}, {400, 500, 600}, {700, 800, 900}}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(f[(y * 3 + x) * 4 + c], want[y][x][c]);
                EXPECT_FLOAT_EQ(f[(y * 3 + x) * 4 + 3], 1.0f);
            }
    }
    auto a = Decode(Load(kCorpus + "/pfm/pillow/hopper.pfm"));
    auto b = Decode(Load(kCorpus + "/pfm/pillow/hopper_be.pfm"));
    ASSERT_EQ(a->hr, S_OK);
    ASSERT_EQ(b->hr, S_OK);
    EXPECT_EQ(std::memcmp(a->level.pixels, b->level.pixels, size_t(a->level.rowPitch) * a->level.height), 0);
    const float* f = reinterpret_cast<const float*>(a->level.pixels);
    EXPECT_EQ(f[0], f[1]);  // grey goes to red, green and blue
    EXPECT_EQ(f[0], f[2]);
}

TEST(PfmReader, MalformedHeadersFail) {
    ImageLevel level;
    level.decodePixels = true;
    for (const char* bad : {"PF\n1 1\n-1.0\n", "PF\n1\n-1.0\n\0\0\0\0\0\0\0\0\0\0\0\0", "PF\n1 1 1\n-1\n123456789012",
                            "PF\n1 1\nx\n123456789012", "PF\n1 1\n1 2\n123456789012", "PF 1 1\n-1\n123456789012"}) {
        std::string s = bad;
        s.resize(std::max<size_t>(s.size(), 14), '\0');  // room for one float
        EXPECT_EQ(ReadPfmImage(&level, reinterpret_cast<const BYTE*>(s.data()), UINT(s.size())), E_FAIL) << bad;
        level.Release();
    }
    DecodeEveryPrefix(Load(kCorpus + "/pfm/raytracing-course/reference_le.pfm"));
}

// ---- HDR ----

namespace {
Bytes Hdr(const std::string& header, const Bytes& data) {
    Bytes b = Text(header);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
float HdrChannel(const ImageLevel& l, UINT x, UINT y, UINT c) {
    float v;
    std::memcpy(&v, l.pixels + size_t(y) * l.rowPitch + x * 16 + c * 4, 4);
    return v;
}
}  // namespace

TEST(HdrReader, OrientationFlatScanlinesAndExposure) {
    // Rows top to bottom, 3 wide: red mantissas 0..5 in file order.
    Bytes data;
    for (BYTE i = 0; i < 6; ++i) data.insert(data.end(), {i, 0, 0, 136});
    auto d = Decode(Hdr("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 3\n", data));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_EQ(d->level.fileType, IFT_HDR);
    ASSERT_EQ(d->level.width, 3u);
    ASSERT_EQ(d->level.height, 2u);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 0, 0, 0), 0.5f);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 2, 1, 0), 5.5f);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 2, 1, 3), 1.0f);
    // Plus Y stores the bottom row first; minus X right to left.
    d = Decode(Hdr("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n+Y 2 -X 3\n", data));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 2, 1, 0), 0.5f);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 0, 0, 0), 5.5f);
    // Columns: +X 2 -Y 3 gives a 2x3 image, each scanline a column top down.
    d = Decode(Hdr("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n+X 2 -Y 3\n", data));
    ASSERT_EQ(d->hr, S_OK);
    ASSERT_EQ(d->level.width, 2u);
    ASSERT_EQ(d->level.height, 3u);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 0, 2, 0), 2.5f);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 1, 0, 0), 3.5f);
    // Exposures multiply and divide every channel.
    d = Decode(Hdr("#?RADIANCE\nEXPOSURE= 2\nEXPOSURE=\t4\nFORMAT=  32-bit_rle_xyze\n\n-Y 2 +X 3\n", data));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 2, 1, 0), 5.5f / 8);
    // A repeat pixel copies the one before, 2^8 more for each consecutive one.
    Bytes repeat = {9, 9, 9, 136, 1, 1, 1, 2};
    d = Decode(Hdr("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 3\n", repeat));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_FLOAT_EQ(HdrChannel(d->level, 2, 0, 1), 9.5f);
}

TEST(HdrReader, MalformedFilesFail) {
    Bytes six(24, 1);
    ImageLevel level;
    level.decodePixels = true;
    for (const char* header : {"#?RADIANCE\n\n-Y 2 +X 3\n", "#?RADIANCE\nFORMAT=32-bit_rle_abcd\n\n-Y 2 +X 3\n",
                               "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 -Y 3\n",
                               "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 0 +X 3\n",
                               "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=x\n\n-Y 2 +X 3\n",
                               "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 3 +X 3\n"}) {
        Bytes file = Hdr(header, six);
        EXPECT_EQ(ReadHdrImage(&level, file.data(), UINT(file.size())), E_FAIL) << header;
        level.Release();
    }
    // A repeat with no pixel before it in its scanline, and one past the
    // scanline's end, fail rather than read or write outside it.
    const char* header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 3\n";
    for (const Bytes& data : {Bytes{1, 1, 1, 2, 9, 9, 9, 136}, Bytes{9, 9, 9, 136, 1, 1, 1, 3},
                              Bytes{9, 9, 9, 136, 1, 1, 1, 1, 1, 1, 1, 1}}) {
        Bytes file = Hdr(header, data);
        EXPECT_EQ(ReadHdrImage(&level, file.data(), UINT(file.size())), E_FAIL);
        level.Release();
    }
    // Run-length scanline whose run overflows it.
    Bytes rle = {2, 2, 0, 3, 0x84, 7};
    Bytes file = Hdr(header, rle);
    EXPECT_EQ(ReadHdrImage(&level, file.data(), UINT(file.size())), E_FAIL);
    level.Release();
    DecodeEveryPrefix(Load(kCorpus + "/hdr/image-rs/rgbr4x4.hdr"));
}

TEST(HdrReader, CorpusLoads) {
    struct Case {
        const char* file;
        UINT width, height;
    } cases[] = {{"image-rs/image1.hdr", 128, 85},     {"image-rs/old-rle.hdr", 551, 276},
                 {"image-rs/rgbr4x4.hdr", 4, 4},       {"image-rs/scale.hdr", 256, 8},
                 {"polyhaven/royal_esplanade_1k.hdr", 1024, 512}, {"polyhaven/quarry_01_1k.hdr", 1024, 512}};
    for (const Case& c : cases) {
        auto d = Decode(Load(kCorpus + "/hdr/" + c.file));
        ASSERT_EQ(d->hr, S_OK) << c.file;
        EXPECT_EQ(d->level.fileType, IFT_HDR);
        EXPECT_EQ(d->level.width, c.width) << c.file;
        EXPECT_EQ(d->level.height, c.height) << c.file;
    }
    // rgbr4x4: known corners (red, green, blue, red in the file's 4x4 pattern).
    auto d = Decode(Load(kCorpus + "/hdr/image-rs/rgbr4x4.hdr"));
    ASSERT_EQ(d->hr, S_OK);
    EXPECT_GT(HdrChannel(d->level, 0, 0, 0), HdrChannel(d->level, 0, 0, 1));
}
