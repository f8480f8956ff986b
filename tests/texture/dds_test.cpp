// DDS parsing: layouts, every table row, bad and truncated files, and the
// sample files decoded against their reference pictures.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "texture/dds_reader.h"
#include "texture/pixel_codec.h"
#include "texture/pixel_format.h"

namespace {

struct Header {
    DWORD flags = 0x1007;
    DWORD height = 1, width = 1, depth = 0, mips = 0;
    DWORD pfSize = 32, pfFlags = 0x41, fourCC = 0, bits = 32;
    DWORD masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    DWORD caps2 = 0;
};

void Put32(std::vector<BYTE>& b, size_t at, DWORD v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<BYTE>(v >> (8 * i));
}

std::vector<BYTE> Build(const Header& h, size_t dataBytes) {
    std::vector<BYTE> b(128 + dataBytes, 0);
    Put32(b, 0, 0x20534444);
    Put32(b, 4, 124);
    Put32(b, 8, h.flags);
    Put32(b, 12, h.height);
    Put32(b, 16, h.width);
    Put32(b, 24, h.depth);
    Put32(b, 28, h.mips);
    Put32(b, 76, h.pfSize);
    Put32(b, 80, h.pfFlags);
    Put32(b, 84, h.fourCC);
    Put32(b, 88, h.bits);
    for (int i = 0; i < 4; ++i) Put32(b, 92 + 4 * i, h.masks[i]);
    Put32(b, 112, h.caps2);
    for (size_t i = 128; i < b.size(); ++i) b[i] = static_cast<BYTE>(i * 7);
    return b;
}

Header FourCCHeader(DWORD fourCC, DWORD width, DWORD height) {
    Header h;
    h.width = width;
    h.height = height;
    h.pfFlags = 0x4;
    h.fourCC = fourCC;
    h.bits = 0;
    std::memset(h.masks, 0, sizeof(h.masks));
    return h;
}

// Reads from an allocation of exactly the file's size, so the sanitizers
// see any read past the end.
HRESULT Read(ImageLevel& root, const std::vector<BYTE>& file, std::unique_ptr<BYTE[]>& copy) {
    copy.reset(new BYTE[file.size() ? file.size() : 1]);
    if (!file.empty()) std::memcpy(copy.get(), file.data(), file.size());
    return ReadDdsImage(&root, copy.get(), static_cast<UINT>(file.size()));
}

int ChainLength(const ImageLevel* level) {
    int n = 0;
    for (; level; level = level->nextLevel) ++n;
    return n;
}

std::vector<BYTE> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Corpus(const std::string& name) { return std::string(VINTREL_CORPUS_DIR) + "/dds/" + name; }

// Decodes a level to 8-bit RGBA through its codec.
std::vector<BYTE> DecodeLevel(const ImageLevel& level) {
    PixelSurface s;
    s.pixels = level.pixels;
    s.format = level.format;
    s.rowPitch = level.rowPitch;
    s.slicePitch = level.slicePitch;
    s.palette = level.palette;
    s.box = {0, 0, level.width, level.height, 0, 1};
    std::unique_ptr<PixelCodec> codec;
    EXPECT_EQ(CreatePixelCodec(s, codec), S_OK);
    std::vector<BYTE> rgba(static_cast<size_t>(level.width) * level.height * 4);
    if (!codec) return rgba;
    std::vector<Colour4> row(level.width);
    auto byte = [](float v) { return static_cast<BYTE>(v <= 0 ? 0 : v >= 1 ? 255 : static_cast<int>(v * 255 + 0.5f)); };
    for (UINT y = 0; y < level.height; ++y) {
        codec->ReadRow(y, 0, row.data());
        for (UINT x = 0; x < level.width; ++x) {
            BYTE* p = &rgba[(static_cast<size_t>(y) * level.width + x) * 4];
            p[0] = byte(row[x].r), p[1] = byte(row[x].g), p[2] = byte(row[x].b), p[3] = byte(row[x].a);
        }
    }
    return rgba;
}

bool ReadPng(const std::string& path, UINT& width, UINT& height, std::vector<BYTE>& rgba) {
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGBA;
    rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return false;
    width = image.width;
    height = image.height;
    return true;
}

}  // namespace

TEST(DdsReader, SmallestFileAndLevelSizes) {
    Header h;  // 1x1 A8R8G8B8, mip count 0
    ImageLevel root;
    std::unique_ptr<BYTE[]> copy;
    EXPECT_EQ(Read(root, Build(h, 0), copy), E_FAIL);
    root.Release();
    ASSERT_EQ(Read(root, Build(h, 4), copy), S_OK);
    EXPECT_EQ(root.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(root.rowPitch, 4u);
    EXPECT_EQ(root.pixels, copy.get() + 128);
    EXPECT_EQ(root.depth, 1u);
    EXPECT_EQ(root.resourceType, D3DRTYPE_TEXTURE);
    EXPECT_FALSE(root.ownsPixels);
    EXPECT_EQ(ChainLength(&root), 1);

    struct Case {
        DWORD fourCC;
        UINT width, height, rowPitch, slicePitch;
    } cases[] = {
        {MAKEFOURCC('D', 'X', 'T', '1'), 5, 3, 16, 16},
        {MAKEFOURCC('D', 'X', 'T', '3'), 5, 3, 32, 32},
        {MAKEFOURCC('D', 'X', 'T', '5'), 9, 5, 48, 96},
        {MAKEFOURCC('Y', 'U', 'Y', '2'), 3, 1, 8, 8},
        {MAKEFOURCC('G', 'R', 'G', 'B'), 4, 2, 8, 16},
        {113, 3, 2, 24, 48},  // A16B16G16R16F by number
    };
    for (const Case& c : cases) {
        ImageLevel level;
        ASSERT_EQ(Read(level, Build(FourCCHeader(c.fourCC, c.width, c.height), c.slicePitch), copy), S_OK);
        EXPECT_EQ(level.rowPitch, c.rowPitch) << c.fourCC;
        EXPECT_EQ(level.slicePitch, c.slicePitch) << c.fourCC;
        ImageLevel shorter;
        EXPECT_EQ(Read(shorter, Build(FourCCHeader(c.fourCC, c.width, c.height), c.slicePitch - 1), copy), E_FAIL);
    }
}

TEST(DdsReader, MipChains) {
    Header h;
    h.width = h.height = 4;
    h.mips = 3;
    ImageLevel root;
    std::unique_ptr<BYTE[]> copy;
    ASSERT_EQ(Read(root, Build(h, 64 + 16 + 4), copy), S_OK);
    ASSERT_EQ(ChainLength(&root), 3);
    EXPECT_EQ(root.nextLevel->width, 2u);
    EXPECT_EQ(root.nextLevel->pixels, copy.get() + 128 + 64);
    EXPECT_EQ(root.nextLevel->nextLevel->width, 1u);
    EXPECT_EQ(root.nextLevel->nextLevel->pixels, copy.get() + 128 + 80);
    root.Release();
    EXPECT_EQ(Read(root, Build(h, 64 + 16 + 3), copy), E_FAIL);
    root.Release();
    // More levels than halvings: the extra ones stay 1x1 and need 4 bytes each.
    h.mips = 5;
    EXPECT_EQ(Read(root, Build(h, 64 + 16 + 4 + 4 + 3), copy), E_FAIL);
    root.Release();
    ASSERT_EQ(Read(root, Build(h, 64 + 16 + 4 + 4 + 4), copy), S_OK);
    ASSERT_EQ(ChainLength(&root), 5);
    const ImageLevel* last = root.nextLevel->nextLevel->nextLevel->nextLevel;
    EXPECT_EQ(last->width, 1u);
    EXPECT_EQ(last->height, 1u);
    EXPECT_EQ(last->pixels, copy.get() + 128 + 88);
}

TEST(DdsReader, CubesAndVolumes) {
    Header h;
    h.width = h.height = 2;
    h.caps2 = 0x0400;
    ImageLevel root;
    std::unique_ptr<BYTE[]> copy;
    EXPECT_EQ(Read(root, Build(h, 6 * 16), copy), E_FAIL);
    root.Release();
    h.caps2 = 0xFE00;
    h.mips = 2;
    ASSERT_EQ(Read(root, Build(h, 6 * 20), copy), S_OK);
    EXPECT_EQ(root.resourceType, D3DRTYPE_CUBETEXTURE);
    int faces = 0;
    for (const ImageLevel* face = &root; face; face = face->nextFace, ++faces) {
        EXPECT_EQ(ChainLength(face), 2);
        EXPECT_EQ(face->width, 2u);
        EXPECT_EQ(face->pixels, copy.get() + 128 + 20 * faces);
        EXPECT_EQ(face->nextLevel->nextFace, nullptr);
    }
    EXPECT_EQ(faces, 6);
    root.Release();
    EXPECT_EQ(Read(root, Build(h, 6 * 20 - 1), copy), E_FAIL);
    root.Release();

    // A volume: slices one after another, depth halves with the levels.
    h.flags |= 0x00800000;
    h.caps2 = 0;
    h.depth = 4;
    ASSERT_EQ(Read(root, Build(h, 4 * 16 + 2 * 4), copy), S_OK);
    EXPECT_EQ(root.resourceType, D3DRTYPE_VOLUMETEXTURE);
    EXPECT_EQ(root.depth, 4u);
    EXPECT_EQ(root.slicePitch, 16u);
    EXPECT_EQ(root.nextLevel->depth, 2u);
    EXPECT_EQ(root.nextLevel->pixels, copy.get() + 128 + 64);
    root.Release();
    // Depth flag with cube faces: a volume; a stored depth of 0 means 1.
    h.caps2 = 0xFC00;
    h.depth = 0;
    h.mips = 1;
    ASSERT_EQ(Read(root, Build(h, 6 * 16), copy), S_OK);
    EXPECT_EQ(root.resourceType, D3DRTYPE_VOLUMETEXTURE);
    EXPECT_EQ(root.depth, 1u);
    // The depth field without the flag is ignored.
    root.Release();
    h.flags = 0x1007;
    h.caps2 = 0;
    h.depth = 9;
    ASSERT_EQ(Read(root, Build(h, 16), copy), S_OK);
    EXPECT_EQ(root.depth, 1u);
}

TEST(DdsReader, PixelFormatMatching) {
    // Every row of the table is found from its own description.
    for (const DdsFormatEntry* row = DdsFormatTable; row->format != D3DFMT_UNKNOWN; ++row) {
        Header h;
        h.pfFlags = row->flags;
        h.fourCC = row->fourCC;
        h.bits = row->bitCount;
        h.masks[0] = row->redMask, h.masks[1] = row->greenMask, h.masks[2] = row->blueMask;
        h.masks[3] = row->alphaMask;
        ImageLevel root;
        std::unique_ptr<BYTE[]> copy;
        ASSERT_EQ(Read(root, Build(h, 1024 + 64), copy), S_OK) << row->format;
        EXPECT_EQ(root.format, row->format);
    }
    std::unique_ptr<BYTE[]> copy;
    // The FourCC bit hides the others.
    Header h = FourCCHeader(MAKEFOURCC('D', 'X', 'T', '5'), 4, 4);
    h.pfFlags = 0x45;
    h.bits = 32;
    ImageLevel root;
    ASSERT_EQ(Read(root, Build(h, 16), copy), S_OK);
    EXPECT_EQ(root.format, D3DFMT_DXT5);
    root.Release();
    // A pixel-format size other than 32 fails every file.
    h.pfSize = 24;
    EXPECT_EQ(Read(root, Build(h, 16), copy), E_FAIL);
    root.Release();
    // Luminance rows ignore the bit count; plain RGB rows the alpha mask.
    Header l;
    l.pfFlags = 0x20000;
    l.bits = 77;
    l.masks[0] = 0xFF, l.masks[1] = l.masks[2] = 0, l.masks[3] = 0x1234;
    ASSERT_EQ(Read(root, Build(l, 1), copy), S_OK);
    EXPECT_EQ(root.format, D3DFMT_L8);
    root.Release();
    Header x;
    x.pfFlags = 0x40;
    x.masks[3] = 0xFF000000;
    ASSERT_EQ(Read(root, Build(x, 4), copy), S_OK);
    EXPECT_EQ(root.format, D3DFMT_X8R8G8B8);
    root.Release();
    // Red mask 0x3FF00000 is A2B10G10R10, 0x3FF is A2R10G10B10.
    Header ten;
    ten.masks[0] = 0x3FF00000, ten.masks[1] = 0xFFC00, ten.masks[2] = 0x3FF, ten.masks[3] = 0xC0000000;
    ASSERT_EQ(Read(root, Build(ten, 4), copy), S_OK);
    EXPECT_EQ(root.format, D3DFMT_A2B10G10R10);
    root.Release();
    Header unknown = FourCCHeader(MAKEFOURCC('D', 'X', '1', '0'), 1, 1);
    EXPECT_EQ(Read(root, Build(unknown, 64), copy), E_FAIL);
}

TEST(DdsReader, PalettesAreSharedAndRequired) {
    Header h;
    h.width = h.height = 2;
    h.mips = 2;
    h.pfFlags = 0x20;
    h.bits = 8;
    ImageLevel root;
    std::unique_ptr<BYTE[]> copy;
    EXPECT_EQ(Read(root, Build(h, 1023), copy), E_FAIL);
    root.Release();
    EXPECT_EQ(Read(root, Build(h, 1024 + 4), copy), E_FAIL);
    root.Release();
    ASSERT_EQ(Read(root, Build(h, 1024 + 5), copy), S_OK);
    EXPECT_EQ(root.format, D3DFMT_P8);
    EXPECT_EQ(reinterpret_cast<BYTE*>(root.palette), copy.get() + 128);
    EXPECT_EQ(root.nextLevel->palette, root.palette);
    EXPECT_EQ(root.pixels, copy.get() + 128 + 1024);
    EXPECT_FALSE(root.ownsPalette);
}

TEST(DdsReader, EveryPrefixFailsCleanly) {
    // A cube with mips in a palettized format, and a DXT5 volume.
    Header cube;
    cube.width = cube.height = 4;
    cube.mips = 3;
    cube.caps2 = 0xFC00;
    cube.pfFlags = 0x21;
    cube.bits = 16;
    cube.masks[3] = 0xFF00;
    Header volume = FourCCHeader(MAKEFOURCC('D', 'X', 'T', '5'), 8, 4);
    volume.flags |= 0x00800000;
    volume.depth = 2;
    volume.mips = 2;
    const std::vector<std::vector<BYTE>> files = {Build(cube, 1024 + 6 * (32 + 8 + 2)),
                                                  Build(volume, 2 * 32 + 16)};
    for (const std::vector<BYTE>& file : files) {
        std::unique_ptr<BYTE[]> copy;
        ImageLevel whole;
        ASSERT_EQ(Read(whole, file, copy), S_OK);
        for (size_t n = 0; n < file.size(); ++n) {
            ImageLevel root;
            const std::vector<BYTE> prefix(file.begin(), file.begin() + static_cast<long>(n));
            EXPECT_EQ(Read(root, prefix, copy), E_FAIL) << n;
        }
    }
}

TEST(DdsReader, HugeSizesFailWithoutWrapping) {
    std::unique_ptr<BYTE[]> copy;
    Header h;
    h.flags |= 0x00800000;
    h.width = h.height = h.depth = 65535;
    h.mips = 17;
    ImageLevel root;
    EXPECT_EQ(Read(root, Build(h, 4096), copy), E_FAIL);
    root.Release();
    // Widths whose pitch passes 32 bits.
    Header f = FourCCHeader(116, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(Read(root, Build(f, 4096), copy), E_FAIL);
    root.Release();
    Header d = FourCCHeader(MAKEFOURCC('D', 'X', 'T', '1'), 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(Read(root, Build(d, 4096), copy), E_FAIL);
    root.Release();
    // Billions of levels in a small file stop at the first one that is short.
    Header many;
    many.mips = 0xFFFFFFFF;
    EXPECT_EQ(Read(root, Build(many, 400), copy), E_FAIL);
    EXPECT_EQ(ChainLength(&root), 101);
    root.Release();
    EXPECT_EQ(ChainLength(&root), 1);
    EXPECT_EQ(root.nextLevel, nullptr);
    // A level without pixels takes no bytes, so nothing would end a chain
    // of billions of them: such images are refused.
    Header empty = FourCCHeader(MAKEFOURCC('D', 'X', 'T', '5'), 4, 0);
    empty.mips = 0xFFFFFFFF;
    EXPECT_EQ(Read(root, Build(empty, 64), copy), E_FAIL);
    EXPECT_EQ(ChainLength(&root), 1);
    root.Release();
    Header narrow;
    narrow.width = 0;
    EXPECT_EQ(Read(root, Build(narrow, 64), copy), E_FAIL);
}

TEST(DdsCorpus, DecodesMatchTheReferencePictures) {
    struct Pair {
        const char* name;
        D3DFORMAT format;
        int tolerance;
        bool alpha;
    } pairs[] = {
        {"pillow/dxt1-rgb-4bbp-noalpha_MipMaps-1", D3DFMT_DXT1, 3, false},
        {"pillow/dxt3-argb-8bbp-explicitalpha_MipMaps-1", D3DFMT_DXT3, 3, true},
        {"pillow/dxt5-argb-8bbp-interpolatedalpha_MipMaps-1", D3DFMT_DXT5, 3, true},
        {"pillow/uncompressed_rgb", D3DFMT_A8R8G8B8, 0, true},
        {"pillow/bgr15", D3DFMT_X1R5G5B5, 1, true},
        {"pillow/uncompressed_la", D3DFMT_A8L8, 0, true},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.name);
        const std::vector<BYTE> file = ReadFile(Corpus(std::string(pair.name) + ".dds"));
        ASSERT_FALSE(file.empty());
        ImageLevel root;
        std::unique_ptr<BYTE[]> copy;
        ASSERT_EQ(Read(root, file, copy), S_OK);
        EXPECT_EQ(root.format, pair.format);
        UINT width = 0, height = 0;
        std::vector<BYTE> reference;
        ASSERT_TRUE(ReadPng(Corpus(std::string(pair.name) + ".png"), width, height, reference));
        ASSERT_EQ(width, root.width);
        ASSERT_EQ(height, root.height);
        const std::vector<BYTE> ours = DecodeLevel(root);
        int worst = 0;
        double total = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            if (!pair.alpha && i % 4 == 3) continue;
            const int d = std::abs(ours[i] - reference[i]);
            worst = std::max(worst, d);
            total += d;
        }
        EXPECT_LE(worst, pair.tolerance);
        EXPECT_LT(total / static_cast<double>(ours.size()), 0.5);
    }
}

TEST(DdsCorpus, OtherSamplesReadOrFailAsTheyShould) {
    struct Sample {
        const char* name;
        HRESULT result;
        D3DFORMAT format;
        int levels;
    } samples[] = {
        {"threejs/disturb_dxt1_mip.dds", S_OK, D3DFMT_DXT1, 10},
        {"threejs/disturb_argb_nomip.dds", S_OK, D3DFMT_A8R8G8B8, 1},
        {"pillow/dxt5-colorblock-alpha-issue-4142.dds", S_OK, D3DFMT_DXT5, 1},
        // Luminance masks stored in the top byte match no row.
        {"pillow/uncompressed_l.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
        {"pillow/unsupported_bitcount.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
        // A palettized file that claims 24 bits per pixel.
        {"pillow/palette.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
        // Extended headers are not read.
        {"pillow/bc1.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
        {"pillow/argb-32bpp_MipMaps-1.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
        {"pillow/DXGI_FORMAT_BC7_UNORM_SRGB.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
        {"pillow/unimplemented_pixel_format.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
        {"pillow/unimplemented_pfflags.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
        {"pillow/zero_mask_totals.dds", E_FAIL, D3DFMT_UNKNOWN, 0},
    };
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.name);
        const std::vector<BYTE> file = ReadFile(Corpus(sample.name));
        ASSERT_FALSE(file.empty());
        ImageLevel root;
        std::unique_ptr<BYTE[]> copy;
        ASSERT_EQ(Read(root, file, copy), sample.result);
        if (sample.result != S_OK) continue;
        EXPECT_EQ(root.format, sample.format);
        EXPECT_EQ(ChainLength(&root), sample.levels);
        // Every level decodes.
        for (const ImageLevel* level = &root; level; level = level->nextLevel) {
            EXPECT_EQ(DecodeLevel(*level).size(), static_cast<size_t>(level->width) * level->height * 4);
        }
    }
    // The three-colour rule holds in DXT5 colour blocks: this block has
    // c0 <= c1, so index 3 reads transparent black.
    const std::vector<BYTE> file = ReadFile(Corpus("pillow/dxt5-colorblock-alpha-issue-4142.dds"));
    ImageLevel root;
    std::unique_ptr<BYTE[]> copy;
    ASSERT_EQ(Read(root, file, copy), S_OK);
    const BYTE* block = root.pixels;
    EXPECT_LE(block[8] | block[9] << 8, block[10] | block[11] << 8);
}
