// Textures from files on the software device: sizes and formats settled
// against its caps, levels copied and generated, palettes and colour keys,
// cube and volume files, and the decoding front end.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/texture/texture_test_support.h"
#include "texture/texture.h"

namespace {
class TextureFromFile : public ::testing::Test {
protected:
    void SetUp() override {
        device = CreateTestDevice();
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override { SafeRelease(device); }

    // Bytes of level `level` of a 2D texture, row after row.
    std::vector<BYTE> LevelBytes(IDirect3DTexture9* texture, UINT level, UINT bytesPerPixel) {
        D3DSURFACE_DESC desc = {};
        texture->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT lr = {};
        std::vector<BYTE> out;
        if (FAILED(texture->LockRect(level, &lr, nullptr, D3DLOCK_READONLY))) return out;
        const UINT rowBytes = IsDxtFormat(desc.Format) ? UINT(FormatRowBytes(desc.Format, desc.Width))
                                                       : desc.Width * bytesPerPixel;
        const UINT rows = UINT(FormatRowCount(desc.Format, desc.Height));
        for (UINT y = 0; y < rows; ++y) {
            const BYTE* row = static_cast<const BYTE*>(lr.pBits) + size_t(y) * lr.Pitch;
            out.insert(out.end(), row, row + rowBytes);
        }
        texture->UnlockRect(level);
        return out;
    }

    IDirect3DDevice9* device = nullptr;
};

std::vector<BYTE> Random(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<BYTE> v(n);
    for (BYTE& b : v) b = BYTE(rng());
    return v;
}

// The 2x2 mean of an A8R8G8B8 image, rounded half up.
std::vector<BYTE> Halve(const std::vector<BYTE>& src, UINT width, UINT height) {
    std::vector<BYTE> out(size_t(width / 2) * (height / 2) * 4);
    for (UINT y = 0; y < height / 2; ++y)
        for (UINT x = 0; x < width / 2; ++x)
            for (UINT c = 0; c < 4; ++c) {
                auto at = [&](UINT xx, UINT yy) { return int(src[(size_t(yy) * width + xx) * 4 + c]); };
                out[(size_t(y) * (width / 2) + x) * 4 + c] =
                    BYTE((at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1) + 2) >> 2);
            }
    return out;
}

std::vector<BYTE> GreyRamp() {
    std::vector<BYTE> p(1024);
    for (int j = 0; j < 256; ++j) p[4 * j] = p[4 * j + 1] = p[4 * j + 2] = BYTE(j), p[4 * j + 3] = 255;
    return p;
}

DdsSpec P8Spec(UINT w, UINT h, std::vector<BYTE> palette) {
    DdsSpec s;
    s.width = w;
    s.height = h;
    s.pfFlags = 0x20;
    s.bits = 8;
    s.masks[0] = s.masks[1] = s.masks[2] = s.masks[3] = 0;
    s.palette = std::move(palette);
    return s;
}
}  // namespace

TEST_F(TextureFromFile, AdjustRequirementsFollowsTheCaps) {
    EXPECT_EQ(AdjustTextureRequirements(device, nullptr, nullptr, nullptr, nullptr, 0, nullptr, D3DPOOL_MANAGED,
                                        D3DRTYPE_TEXTURE),
              S_OK);
    UINT w = USE_DEFAULT, h = USE_DEFAULT, d = USE_DEFAULT, levels = USE_DEFAULT;
    D3DFORMAT f = D3DFMT_A8R8G8B8;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, &d, &levels, 0, &f, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE), S_OK);
    EXPECT_EQ(w, 256u);
    EXPECT_EQ(h, 256u);
    EXPECT_EQ(d, 1u);
    EXPECT_EQ(levels, 9u);

    // One level of a non-DXT format is exempt from power-of-two rounding;
    // a mip chain is not.
    w = 100, h = 60, levels = 1;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, 0, &f, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE), S_OK);
    EXPECT_EQ(w, 100u);
    EXPECT_EQ(h, 60u);
    w = 100, h = 60, levels = 0;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, 0, &f, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE), S_OK);
    EXPECT_EQ(w, 128u);
    EXPECT_EQ(h, 64u);
    EXPECT_EQ(levels, 8u);
    // One of the two sizes missing copies the other; 0 becomes 1.
    w = 32, h = USE_DEFAULT, levels = 3;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, 0, &f, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE), S_OK);
    EXPECT_EQ(h, 32u);
    EXPECT_EQ(levels, 3u);
    w = 0, h = 0, levels = 1;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, 0, &f, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE), S_OK);
    EXPECT_EQ(w, 1u);
    EXPECT_EQ(h, 1u);

    // DXT: always powers of two here, and whole blocks.
    D3DFORMAT dxt = D3DFMT_DXT1;
    w = 6, h = 6, levels = 1;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, 0, &dxt, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE),
              S_OK);
    EXPECT_EQ(w, 8u);
    EXPECT_EQ(h, 8u);
    EXPECT_EQ(dxt, D3DFMT_DXT1);

    // Limits: 4096 for 2D, 256 for volumes; cubes are square.
    w = 5000, h = 5000, levels = 1;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, 0, &f, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE), S_OK);
    EXPECT_EQ(w, 4096u);
    EXPECT_EQ(h, 4096u);
    w = 300, h = 300, d = 300, levels = 0;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, &d, &levels, 0, &f, D3DPOOL_MANAGED, D3DRTYPE_VOLUMETEXTURE),
              S_OK);
    EXPECT_EQ(w, 256u);
    EXPECT_EQ(d, 256u);
    EXPECT_EQ(levels, 9u);
    D3DCAPS9 caps = {};
    ASSERT_EQ(device->GetDeviceCaps(&caps), S_OK);
    const UINT cubeSide = (caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP_POW2) ? 64 : 60;
    w = 30, h = 60, levels = 1;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, 0, &f, D3DPOOL_MANAGED, D3DRTYPE_CUBETEXTURE),
              S_OK);
    EXPECT_EQ(w, cubeSide);
    EXPECT_EQ(h, cubeSide);

    // Automatic mip generation asks for 0 levels unless exactly one.
    w = 64, h = 64, levels = 5;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, D3DUSAGE_AUTOGENMIPMAP, &f, D3DPOOL_MANAGED,
                                        D3DRTYPE_TEXTURE),
              S_OK);
    EXPECT_EQ(levels, 0u);

    // Scratch: no device limits, unknown becomes A8R8G8B8.
    D3DFORMAT unknown = D3DFMT_UNKNOWN;
    w = 5000, h = 3, levels = USE_DEFAULT;
    ASSERT_EQ(AdjustTextureRequirements(device, &w, &h, nullptr, &levels, 0, &unknown, D3DPOOL_SCRATCH, D3DRTYPE_TEXTURE),
              S_OK);
    EXPECT_EQ(w, 5000u);
    EXPECT_EQ(unknown, D3DFMT_A8R8G8B8);
    EXPECT_EQ(levels, 13u);

    // A format the device lacks becomes the closest one it has.
    D3DFORMAT p8 = D3DFMT_P8;
    ASSERT_EQ(AdjustTextureRequirements(device, nullptr, nullptr, nullptr, nullptr, 0, &p8, D3DPOOL_MANAGED,
                                        D3DRTYPE_TEXTURE),
              S_OK);
    EXPECT_EQ(p8, D3DFMT_A8R8G8B8);

    EXPECT_EQ(AdjustTextureRequirements(device, nullptr, nullptr, nullptr, nullptr, 0x4, nullptr, D3DPOOL_MANAGED,
                                        D3DRTYPE_TEXTURE),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(AdjustTextureRequirements(device, nullptr, nullptr, nullptr, nullptr, 0, nullptr, D3DPOOL(4),
                                        D3DRTYPE_TEXTURE),
              D3DERR_INVALIDCALL);
}

TEST_F(TextureFromFile, ReadImageFileChecksArgumentsAndDescribesDds) {
    ImageLevel root;
    ImageInfo info;
    // A DDS header of zero width claiming 2^28 levels is refused at once
    // instead of growing a chain of empty levels.
    DdsSpec empty;
    empty.width = 0;
    empty.height = 16;
    empty.mips = 0x10000000;
    const std::vector<BYTE> levels = MakeDds(empty, {});
    EXPECT_EQ(ReadImageFile(&root, levels.data(), UINT(levels.size()), &info, TRUE), ERR_INVALID_DATA);
    const BYTE byte = 0;
    EXPECT_EQ(ReadImageFile(&root, nullptr, 10, &info, TRUE), D3DERR_INVALIDCALL);
    EXPECT_EQ(ReadImageFile(&root, &byte, 0, &info, TRUE), D3DERR_INVALIDCALL);
    EXPECT_EQ(ReadImageFile(&root, &byte, 1, nullptr, FALSE), S_OK);
    const std::vector<BYTE> junk = Random(300, 9);
    EXPECT_EQ(ReadImageFile(&root, junk.data(), UINT(junk.size()), &info, TRUE), ERR_INVALID_DATA);
    EXPECT_EQ(root.pixels, nullptr);
    EXPECT_EQ(root.nextLevel, nullptr);

    DdsSpec spec;
    spec.width = 8, spec.height = 4, spec.mips = 3;
    const std::vector<BYTE> file = MakeDds(spec, Random((32 + 8 + 2) * 4, 1));
    ASSERT_EQ(ReadImageFile(&root, file.data(), UINT(file.size()), &info, TRUE), S_OK);
    EXPECT_EQ(info.width, 8u);
    EXPECT_EQ(info.height, 4u);
    EXPECT_EQ(info.depth, 1u);
    EXPECT_EQ(info.mipLevels, 3u);
    EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(info.resourceType, D3DRTYPE_TEXTURE);
    EXPECT_EQ(info.fileType, IFT_DDS);
    const ImageLevel* level2 = root.nextLevel->nextLevel;
    EXPECT_EQ(level2->box.Right, 2u);
    EXPECT_EQ(level2->box.Bottom, 1u);
    EXPECT_EQ(level2->box.Back, 1u);
}

TEST_F(TextureFromFile, ReadImageFileRestoresTheNumericLocale) {
    if (!std::setlocale(LC_NUMERIC, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
    ImageLevel root;
    ImageInfo info;
    const std::vector<BYTE> junk = Random(64, 3);
    EXPECT_EQ(ReadImageFile(&root, junk.data(), UINT(junk.size()), &info, TRUE), ERR_INVALID_DATA);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C.UTF-8");
    const std::vector<BYTE> file = MakeDds(DdsSpec{}, {1, 2, 3, 4});
    EXPECT_EQ(ReadImageFile(&root, file.data(), UINT(file.size()), &info, TRUE), S_OK);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C.UTF-8");
    std::setlocale(LC_NUMERIC, "C");
}

TEST_F(TextureFromFile, FileWithoutMipsGetsTheWholeChainByBox) {
    DdsSpec spec;
    spec.width = spec.height = 256;
    const std::vector<BYTE> pixels = Random(256 * 256 * 4, 5);
    const std::string path = WriteTempFile("nomips.dds", MakeDds(spec, pixels));
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(CreateTextureFromFile(device, path.c_str(), &texture), S_OK);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetLevelCount(), 9u);
    D3DSURFACE_DESC desc = {};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(LevelBytes(texture, 0, 4), pixels);
    std::vector<BYTE> expected = pixels;
    for (UINT level = 1, size = 256; level < 9; ++level, size /= 2) {
        expected = Halve(expected, size, size);
        EXPECT_EQ(LevelBytes(texture, level, 4), expected) << "level " << level;
    }
    texture->Release();
}

TEST_F(TextureFromFile, FileLevelsAreCopiedAndTheRestGeneratedFromTheLast) {
    DdsSpec spec;
    spec.width = spec.height = 16;
    spec.mips = 3;
    const std::vector<BYTE> pixels = Random((256 + 64 + 16) * 4, 6);
    const std::string path = WriteTempFile("threemips.dds", MakeDds(spec, pixels));
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(CreateTextureFromFile(device, path.c_str(), &texture), S_OK);
    ASSERT_EQ(texture->GetLevelCount(), 5u);
    const std::vector<BYTE> level2(pixels.begin() + (256 + 64) * 4, pixels.end());
    EXPECT_EQ(LevelBytes(texture, 1, 4), std::vector<BYTE>(pixels.begin() + 256 * 4, pixels.begin() + 320 * 4));
    EXPECT_EQ(LevelBytes(texture, 2, 4), level2);
    const std::vector<BYTE> level3 = Halve(level2, 4, 4);
    EXPECT_EQ(LevelBytes(texture, 3, 4), level3);
    EXPECT_EQ(LevelBytes(texture, 4, 4), Halve(level3, 2, 2));
    texture->Release();
}

TEST_F(TextureFromFile, CompressedFontLikeFileKeepsItsBlocks) {
    DdsSpec spec;
    spec.width = spec.height = 64;
    spec.pfFlags = 0x4;
    spec.fourCC = MAKEFOURCC('D', 'X', 'T', '5');
    spec.bits = 0;
    std::memset(spec.masks, 0, sizeof(spec.masks));
    const std::vector<BYTE> blocks = Random(16 * 16 * 16, 7);
    const std::string path = WriteTempFile("font.dds", MakeDds(spec, blocks));
    IDirect3DTexture9* texture = nullptr;
    ImageInfo info = {};
    ASSERT_EQ(CreateTextureFromFileEx(device, path.c_str(), 0, 0, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, FILTER_NONE,
                                      FILTER_NONE, 0, &info, nullptr, &texture),
              S_OK);
    EXPECT_EQ(info.format, D3DFMT_DXT5);
    EXPECT_EQ(texture->GetLevelCount(), 1u);
    D3DSURFACE_DESC desc = {};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_DXT5);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(LevelBytes(texture, 0, 0), blocks);
    texture->Release();
}

TEST_F(TextureFromFile, SizesFromTheImage) {
    DdsSpec spec;
    spec.width = 100, spec.height = 60;
    const std::string path = WriteTempFile("odd.dds", MakeDds(spec, Random(100 * 60 * 4, 8)));
    struct Case {
        UINT width, height, levels, expectWidth, expectHeight;
    };
    const Case cases[] = {{USE_DEFAULT, USE_DEFAULT, 1, 128, 64},
                          {USE_IMAGE_SIZE, USE_IMAGE_SIZE, 1, 100, 60},
                          {USE_IMAGE_SIZE, USE_IMAGE_SIZE, 0, 128, 64},
                          {0, 0, 1, 128, 64}};
    for (const Case& c : cases) {
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(CreateTextureFromFileEx(device, path.c_str(), c.width, c.height, c.levels, 0, D3DFMT_UNKNOWN,
                                          D3DPOOL_MANAGED, USE_DEFAULT, USE_DEFAULT, 0, nullptr, nullptr, &texture),
                  S_OK);
        D3DSURFACE_DESC desc = {};
        texture->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, c.expectWidth);
        EXPECT_EQ(desc.Height, c.expectHeight);
        texture->Release();
    }
}

TEST_F(TextureFromFile, RefusedFilesAndArguments) {
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(CreateTextureFromFile(device, "/nonexistent/none.dds", &texture), ERR_INVALID_DATA);
    EXPECT_EQ(texture, nullptr);
    const std::string empty = WriteTempFile("empty.dds", {});
    EXPECT_EQ(CreateTextureFromFile(device, empty.c_str(), &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateTextureFromFile(nullptr, empty.c_str(), &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateTextureFromFile(device, nullptr, &texture), D3DERR_INVALIDCALL);
    const std::string junk = WriteTempFile("junk.dds", Random(500, 2));
    EXPECT_EQ(CreateTextureFromFile(device, junk.c_str(), &texture), ERR_INVALID_DATA);
    EXPECT_EQ(texture, nullptr);
    // A truncated DDS file is no image at all.
    DdsSpec spec;
    spec.width = spec.height = 8;
    std::vector<BYTE> cut = MakeDds(spec, Random(8 * 8 * 4, 1));
    cut.pop_back();
    EXPECT_EQ(CreateTextureFromMemory(device, cut.data(), UINT(cut.size()), USE_DEFAULT, USE_DEFAULT, USE_DEFAULT, 0,
                                      D3DFMT_UNKNOWN, D3DPOOL_MANAGED, USE_DEFAULT, USE_DEFAULT, 0, nullptr, nullptr,
                                      &texture),
              ERR_INVALID_DATA);
    // A header without a single pixel (height 0, a width of hundreds of
    // millions) is not an image, before anything is sized by that width.
    spec.pfFlags = 0x4;
    spec.fourCC = MAKEFOURCC('D', 'X', 'T', '1');
    spec.width = 0x1C010000;
    spec.height = 0;
    const std::vector<BYTE> noPixels = MakeDds(spec, {});
    EXPECT_EQ(CreateTextureFromMemory(device, noPixels.data(), UINT(noPixels.size()), USE_DEFAULT, USE_DEFAULT, USE_DEFAULT,
                                      0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, USE_DEFAULT, USE_DEFAULT, 0, nullptr, nullptr,
                                      &texture),
              ERR_INVALID_DATA);
}

TEST_F(TextureFromFile, PaletteImagesGreyRampR3G3B2AndColourKey) {
    // Grey ramp: an L8 texture holding the indices.
    std::vector<BYTE> indices(16 * 16);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = BYTE(i);
    std::vector<BYTE> file = MakeDds(P8Spec(16, 16, GreyRamp()), indices);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(CreateTextureFromMemory(device, file.data(), UINT(file.size()), USE_DEFAULT, USE_DEFAULT, 1, 0,
                                      D3DFMT_UNKNOWN, D3DPOOL_MANAGED, FILTER_NONE, FILTER_NONE, 0, nullptr, nullptr,
                                      &texture),
              S_OK);
    D3DSURFACE_DESC desc = {};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_L8);
    EXPECT_EQ(LevelBytes(texture, 0, 1), indices);
    texture->Release();

    // The palette that spells R3G3B2 (kept as such in the scratch pool).
    static constexpr BYTE r3[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    static constexpr BYTE b2[4] = {0, 85, 170, 255};
    std::vector<BYTE> palette(1024);
    for (int k = 0; k < 256; ++k) {
        palette[4 * k] = r3[k >> 5];
        palette[4 * k + 1] = r3[(k >> 2) & 7];
        palette[4 * k + 2] = b2[k & 3];
        palette[4 * k + 3] = 255;
    }
    file = MakeDds(P8Spec(16, 16, palette), indices);
    ASSERT_EQ(CreateTextureFromMemory(device, file.data(), UINT(file.size()), USE_DEFAULT, USE_DEFAULT, 1, 0,
                                      D3DFMT_UNKNOWN, D3DPOOL_SCRATCH, FILTER_NONE, FILTER_NONE, 0, nullptr, nullptr,
                                      &texture),
              S_OK);
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_R3G3B2);
    EXPECT_EQ(LevelBytes(texture, 0, 1), indices);
    texture->Release();

    // A colour key equal to entry 5 makes it transparent black, and the
    // image becomes A8R8G8B8 since no palette is handed back.
    std::vector<BYTE> greys = GreyRamp();
    greys[4 * 5 + 0] = 10, greys[4 * 5 + 1] = 20, greys[4 * 5 + 2] = 30;
    file = MakeDds(P8Spec(16, 16, greys), indices);
    PALETTEENTRY out[256];
    ASSERT_EQ(CreateTextureFromMemory(device, file.data(), UINT(file.size()), USE_DEFAULT, USE_DEFAULT, 1, 0,
                                      D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, FILTER_NONE, FILTER_NONE,
                                      D3DCOLOR_ARGB(255, 10, 20, 30), nullptr, out, &texture),
              S_OK);
    EXPECT_EQ(out[5].peFlags, 0);
    EXPECT_EQ(out[5].peRed, 0);
    EXPECT_EQ(out[6].peRed, 6);
    const std::vector<BYTE> argb = LevelBytes(texture, 0, 4);
    DWORD p5, p6;
    std::memcpy(&p5, &argb[5 * 4], 4);
    std::memcpy(&p6, &argb[6 * 4], 4);
    EXPECT_EQ(p5, 0u);
    EXPECT_EQ(p6, 0xFF060606u);
    texture->Release();
}

TEST_F(TextureFromFile, ColourKeyOnAnOpaqueImageChoosesAFormatWithAlpha) {
    DdsSpec spec;
    spec.width = spec.height = 4;
    spec.pfFlags = 0x40;
    spec.masks[3] = 0;
    spec.bits = 32;
    std::vector<BYTE> pixels(4 * 4 * 4, 0x80);
    pixels[0] = pixels[1] = pixels[2] = 0;  // one black pixel
    const std::vector<BYTE> file = MakeDds(spec, pixels);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(CreateTextureFromMemory(device, file.data(), UINT(file.size()), USE_DEFAULT, USE_DEFAULT, 1, 0,
                                      D3DFMT_UNKNOWN, D3DPOOL_MANAGED, FILTER_NONE, FILTER_NONE, 0xFF000000, nullptr,
                                      nullptr, &texture),
              S_OK);
    D3DSURFACE_DESC desc = {};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    const std::vector<BYTE> bytes = LevelBytes(texture, 0, 4);
    DWORD first, second;
    std::memcpy(&first, &bytes[0], 4);
    std::memcpy(&second, &bytes[4], 4);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(second, 0xFF808080u);
    texture->Release();
}

TEST_F(TextureFromFile, CubeAndVolumeFiles) {
    DdsSpec cube;
    cube.width = cube.height = 8;
    cube.caps2 = 0xFE00;
    std::vector<BYTE> faces;
    for (int f = 0; f < 6; ++f)
        for (int i = 0; i < 64; ++i) faces.insert(faces.end(), {BYTE(f * 40), BYTE(i), 0, 255});
    std::vector<BYTE> file = MakeDds(cube, faces);
    IDirect3DBaseTexture9* texture = nullptr;
    ImageInfo info = {};
    ASSERT_EQ(BuildTextureFromImage(device, file.data(), UINT(file.size()), USE_DEFAULT, USE_DEFAULT, 1, USE_DEFAULT,
                                    0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, USE_DEFAULT, USE_DEFAULT, 0, &info, nullptr,
                                    D3DRTYPE_CUBETEXTURE, &texture),
              S_OK);
    EXPECT_EQ(info.resourceType, D3DRTYPE_CUBETEXTURE);
    ASSERT_EQ(texture->GetType(), D3DRTYPE_CUBETEXTURE);
    auto* cubeTexture = static_cast<IDirect3DCubeTexture9*>(texture);
    EXPECT_EQ(cubeTexture->GetLevelCount(), 4u);
    for (int f = 0; f < 6; ++f) {
        D3DLOCKED_RECT lr = {};
        ASSERT_EQ(cubeTexture->LockRect(D3DCUBEMAP_FACES(f), 3, &lr, nullptr, D3DLOCK_READONLY), S_OK);
        EXPECT_EQ(static_cast<const BYTE*>(lr.pBits)[0], f * 40) << "face " << f;
        cubeTexture->UnlockRect(D3DCUBEMAP_FACES(f), 3);
    }
    texture->Release();

    // A 2D file is not a cube.
    DdsSpec flat;
    flat.width = flat.height = 8;
    file = MakeDds(flat, Random(256, 4));
    texture = nullptr;
    EXPECT_EQ(BuildTextureFromImage(device, file.data(), UINT(file.size()), USE_DEFAULT, USE_DEFAULT, 1, USE_DEFAULT, 0,
                                    D3DFMT_UNKNOWN, D3DPOOL_MANAGED, USE_DEFAULT, USE_DEFAULT, 0, nullptr, nullptr,
                                    D3DRTYPE_CUBETEXTURE, &texture),
              E_FAIL);
    EXPECT_EQ(texture, nullptr);

    // Volume 4 x 4 x 4: level 1 is the mean of 2 x 2 x 2.
    DdsSpec volume;
    volume.width = volume.height = volume.depth = 4;
    volume.flags = 0x00800000;
    std::vector<BYTE> voxels;
    for (int z = 0; z < 4; ++z)
        for (int i = 0; i < 16; ++i) voxels.insert(voxels.end(), {BYTE(z * 20), 0, 0, 255});
    file = MakeDds(volume, voxels);
    ASSERT_EQ(BuildTextureFromImage(device, file.data(), UINT(file.size()), USE_DEFAULT, USE_DEFAULT, USE_DEFAULT,
                                    USE_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, USE_DEFAULT, USE_DEFAULT, 0, &info,
                                    nullptr, D3DRTYPE_VOLUMETEXTURE, &texture),
              S_OK);
    EXPECT_EQ(info.resourceType, D3DRTYPE_VOLUMETEXTURE);
    EXPECT_EQ(info.depth, 4u);
    auto* volumeTexture = static_cast<IDirect3DVolumeTexture9*>(texture);
    EXPECT_EQ(volumeTexture->GetLevelCount(), 3u);
    D3DLOCKED_BOX lb = {};
    ASSERT_EQ(volumeTexture->LockBox(1, &lb, nullptr, D3DLOCK_READONLY), S_OK);
    EXPECT_EQ(static_cast<const BYTE*>(lb.pBits)[0], 10);                  // slices 0 and 1
    EXPECT_EQ(static_cast<const BYTE*>(lb.pBits)[lb.SlicePitch], 50);      // slices 2 and 3
    volumeTexture->UnlockBox(1);
    texture->Release();
}

TEST_F(TextureFromFile, DefaultPoolGoesThroughAStagingTexture) {
    DdsSpec spec;
    spec.width = spec.height = 32;
    const std::vector<BYTE> file = MakeDds(spec, Random(32 * 32 * 4, 11));
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(CreateTextureFromMemory(device, file.data(), UINT(file.size()), USE_DEFAULT, USE_DEFAULT, USE_DEFAULT,
                                      0, D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, USE_DEFAULT, USE_DEFAULT, 0, nullptr, nullptr,
                                      &texture),
              S_OK);
    D3DSURFACE_DESC desc = {};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(texture->GetLevelCount(), 6u);
    texture->Release();
}

TEST_F(TextureFromFile, GenerateMipLevelsDefaultFilters) {
    // 100 x 60 in the scratch pool: triangle with dither, every level from
    // level 0.
    IDirect3DTexture9* odd = nullptr;
    ASSERT_EQ(device->CreateTexture(100, 60, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &odd, nullptr), S_OK);
    IDirect3DSurface9* top = nullptr;
    ASSERT_EQ(odd->GetSurfaceLevel(0, &top), S_OK);
    const std::vector<BYTE> pixels = Random(100 * 60 * 4, 12);
    const RECT whole = {0, 0, 100, 60};
    ASSERT_EQ(LoadSurfaceFromPixels(top, nullptr, nullptr, pixels.data(), D3DFMT_A8R8G8B8, 400, nullptr, &whole,
                                    FILTER_NONE, 0),
              S_OK);
    ASSERT_EQ(GenerateMipLevels(odd, nullptr, USE_DEFAULT, USE_DEFAULT), S_OK);
    IDirect3DTexture9* reference = nullptr;
    ASSERT_EQ(device->CreateTexture(25, 15, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &reference, nullptr), S_OK);
    IDirect3DSurface9* expected = nullptr;
    reference->GetSurfaceLevel(0, &expected);
    ASSERT_EQ(LoadSurfaceFromSurface(expected, nullptr, nullptr, top, nullptr, nullptr, FILTER_TRIANGLE | FILTER_DITHER,
                                     0),
              S_OK);
    EXPECT_EQ(LevelBytes(odd, 2, 4), LevelBytes(reference, 0, 4));
    // A power-of-two texture takes the box filter, each level from the one
    // above.
    IDirect3DTexture9* even = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &even, nullptr), S_OK);
    D3DLOCKED_RECT lr = {};
    ASSERT_EQ(even->LockRect(0, &lr, nullptr, 0), S_OK);
    for (UINT y = 0; y < 16; ++y) std::memcpy(static_cast<BYTE*>(lr.pBits) + y * lr.Pitch, &pixels[y * 400], 64);
    even->UnlockRect(0);
    ASSERT_EQ(GenerateMipLevels(even, nullptr, USE_DEFAULT, USE_DEFAULT), S_OK);
    const std::vector<BYTE> level0 = LevelBytes(even, 0, 4);
    EXPECT_EQ(LevelBytes(even, 2, 4), Halve(Halve(level0, 16, 16), 8, 8));
    even->Release();

    EXPECT_EQ(GenerateMipLevels(odd, nullptr, 3, USE_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(GenerateMipLevels(nullptr, nullptr, 0, USE_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(GenerateMipLevels(odd, nullptr, 0, 6), D3DERR_INVALIDCALL);
    expected->Release();
    reference->Release();
    top->Release();
    odd->Release();
}

TEST_F(TextureFromFile, SurfaceLoadsCheckRectanglesAndCopyOntoThemselves) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
    IDirect3DSurface9* surface = nullptr;
    texture->GetSurfaceLevel(0, &surface);
    const std::vector<BYTE> pixels = Random(8 * 8 * 4, 13);
    const RECT whole = {0, 0, 8, 8};
    const RECT outside = {4, 4, 9, 8};
    EXPECT_EQ(LoadSurfaceFromPixels(surface, nullptr, &outside, pixels.data(), D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_NONE, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadSurfaceFromPixels(surface, nullptr, nullptr, pixels.data(), D3DFMT_A8R8G8B8, 32, nullptr, nullptr,
                                    FILTER_NONE, 0),
              D3DERR_INVALIDCALL);
    // An invalid filter word is refused even where the device could copy
    // the pixels by itself (system memory into the default pool, or within
    // the default pool).
    {
        IDirect3DTexture9 *system = nullptr, *gpu = nullptr, *gpu2 = nullptr;
        ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &system, nullptr), S_OK);
        ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &gpu, nullptr),
                  S_OK);
        ASSERT_EQ(
            device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &gpu2, nullptr),
            S_OK);
        IDirect3DSurface9 *from = nullptr, *to = nullptr, *to2 = nullptr;
        system->GetSurfaceLevel(0, &from);
        gpu->GetSurfaceLevel(0, &to);
        gpu2->GetSurfaceLevel(0, &to2);
        for (DWORD bad : {DWORD(0), DWORD(6), DWORD(0x800004)}) {
            EXPECT_EQ(LoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr, bad, 0), D3DERR_INVALIDCALL)
                << std::hex << bad;
            EXPECT_EQ(LoadSurfaceFromSurface(to2, nullptr, nullptr, to, nullptr, nullptr, bad, 0), D3DERR_INVALIDCALL)
                << std::hex << bad;
        }
        EXPECT_EQ(LoadSurfaceFromSurface(to, nullptr, nullptr, from, nullptr, nullptr, USE_DEFAULT, 0), S_OK);
        EXPECT_EQ(LoadSurfaceFromSurface(to2, nullptr, nullptr, to, nullptr, nullptr, FILTER_POINT, 0), S_OK);
        to2->Release();
        to->Release();
        from->Release();
        gpu2->Release();
        gpu->Release();
        system->Release();
    }
    ASSERT_EQ(LoadSurfaceFromPixels(surface, nullptr, nullptr, pixels.data(), D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_NONE, 0),
              S_OK);
    // Left half onto the right half of the same surface, overlapping: the
    // source is read from a copy, so the result is the original left half.
    const RECT left = {0, 0, 5, 8}, right = {3, 0, 8, 8};
    ASSERT_EQ(LoadSurfaceFromSurface(surface, nullptr, &right, surface, nullptr, &left, FILTER_NONE, 0), S_OK);
    const std::vector<BYTE> after = LevelBytes(texture, 0, 4);
    for (UINT y = 0; y < 8; ++y)
        for (UINT x = 0; x < 5; ++x)
            EXPECT_EQ(std::memcmp(&after[(y * 8 + x + 3) * 4], &pixels[(y * 8 + x) * 4], 4), 0) << x << "," << y;
    surface->Release();
    texture->Release();

    // The same for the small levels of a compressed volume, whose sides are
    // not whole blocks: slice 0 onto slice 1 of every level.
    IDirect3DVolumeTexture9* volumes = nullptr;
    ASSERT_EQ(device->CreateVolumeTexture(8, 8, 16, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &volumes, nullptr), S_OK);
    for (UINT level = 0; level < volumes->GetLevelCount(); ++level) {
        IDirect3DVolume9* volume = nullptr;
        ASSERT_EQ(volumes->GetVolumeLevel(level, &volume), S_OK);
        D3DVOLUME_DESC desc = {};
        volume->GetDesc(&desc);
        // Slice 0 red, the others blue: both are exact in 5:6:5.
        std::vector<DWORD> voxels(size_t(desc.Width) * desc.Height * desc.Depth, 0xFF0000FF);
        std::fill_n(voxels.begin(), desc.Width * desc.Height, 0xFFFF0000);
        const D3DBOX all = {0, 0, desc.Width, desc.Height, 0, desc.Depth};
        ASSERT_EQ(LoadVolumeFromMemory(volume, nullptr, nullptr, voxels.data(), D3DFMT_A8R8G8B8, desc.Width * 4,
                                       desc.Width * desc.Height * 4, nullptr, &all, FILTER_NONE, 0),
                  S_OK);
        const D3DBOX first = {0, 0, desc.Width, desc.Height, 0, 1}, second = {0, 0, desc.Width, desc.Height, 1, 2};
        if (desc.Depth > 1) {
            EXPECT_EQ(LoadVolumeFromVolume(volume, nullptr, &second, volume, nullptr, &first, FILTER_NONE, 0), S_OK)
                << "level " << level << ": " << desc.Width << "x" << desc.Height;
            D3DLOCKED_BOX lb = {};
            ASSERT_EQ(volume->LockBox(&lb, nullptr, D3DLOCK_READONLY), S_OK);
            Colour4 decoded[16];
            DecodeDxtBlock(D3DFMT_DXT1, static_cast<const BYTE*>(lb.pBits) + lb.SlicePitch, decoded);
            volume->UnlockBox();
            EXPECT_EQ(decoded[0].r, 1.0f) << "level " << level;
            EXPECT_EQ(decoded[0].b, 0.0f) << "level " << level;
        }
        volume->Release();
    }
    volumes->Release();
}

TEST_F(TextureFromFile, PartialWritesIntoCompressedSurfacesKeepOtherBlocks) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
    IDirect3DSurface9* surface = nullptr;
    texture->GetSurfaceLevel(0, &surface);
    std::vector<BYTE> red(8 * 8 * 4);
    for (size_t i = 0; i < red.size(); i += 4) red[i + 2] = 255, red[i + 3] = 255;
    const RECT whole = {0, 0, 8, 8};
    ASSERT_EQ(LoadSurfaceFromPixels(surface, nullptr, nullptr, red.data(), D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_NONE, 0),
              S_OK);
    const std::vector<BYTE> before = LevelBytes(texture, 0, 0);
    std::vector<BYTE> blue(2 * 2 * 4);
    for (size_t i = 0; i < blue.size(); i += 4) blue[i] = 255, blue[i + 3] = 255;
    const RECT small = {0, 0, 2, 2}, inside = {5, 1, 7, 3};
    ASSERT_EQ(LoadSurfaceFromPixels(surface, nullptr, &inside, blue.data(), D3DFMT_A8R8G8B8, 8, nullptr, &small,
                                    FILTER_NONE, 0),
              S_OK);
    const std::vector<BYTE> after = LevelBytes(texture, 0, 0);
    ASSERT_EQ(after.size(), 32u);
    EXPECT_EQ(std::memcmp(&after[0], &before[0], 8), 0);    // block (0, 0)
    EXPECT_NE(std::memcmp(&after[8], &before[8], 8), 0);    // block (1, 0) took the blue
    EXPECT_EQ(std::memcmp(&after[16], &before[16], 16), 0); // the lower row of blocks
    surface->Release();
    texture->Release();
}

TEST_F(TextureFromFile, DebugMuteReachesTheDevice) {
    // The device is loaded, so muting finds its entry; the entry answers
    // with the previous setting.
    DebugMute(TRUE);
    EXPECT_EQ(DebugSetMute(FALSE), TRUE);
    DebugMute(FALSE);
    EXPECT_EQ(DebugSetMute(FALSE), FALSE);
}
