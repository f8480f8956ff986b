// The generator's file writers, read back with the texture library and the
// mesh loader: what goes in comes out, exactly where the format is exact.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "image.h"
#include "image_writers.h"
#include "sound/riff_wave_file.h"
#include "sounds.h"
#include "tests/data/data_support.h"
#include "tests/support/file_size_limit.h"
#include "x_writer.h"

using namespace datatest;
namespace fs = std::filesystem;

namespace {
std::string Temp(const std::string& name) {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("vintrel-writers-" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return (dir / name).string();
}

// Odd sizes: padded BMP rows, partial DXT blocks, uneven mip steps.
assets::Image Pattern(int w = 13, int h = 7) {
    assets::Image image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.at(x, y) = {uint8_t(x * 19), uint8_t(255 - y * 36), uint8_t((x * y * 7) % 256),
                              uint8_t((x + 3 * y) * 11 % 256)};
    return image;
}

// A smooth picture, for the lossy formats.
assets::Image Smooth(int w, int h) {
    assets::Image image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.at(x, y) = {uint8_t(40 + x * 160 / w), uint8_t(200 - y * 120 / h), uint8_t(90 + (x + y) * 60 / (w + h)),
                              uint8_t(255 - x * 200 / w)};
    return image;
}

// Largest difference per channel between a decoded level and a picture;
// `alpha` false skips the alpha channel and expects it opaque instead.
int MaxError(const DecodedImage::Level& level, const assets::Image& image, bool alpha) {
    EXPECT_EQ(level.width, UINT(image.width));
    EXPECT_EQ(level.height, UINT(image.height));
    if (level.width != UINT(image.width) || level.height != UINT(image.height)) return 999;
    int worst = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const assets::Rgba p = image.at(x, y);
            const int want[4] = {p.r, p.g, p.b, alpha ? p.a : 255};
            for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(level.at(x, y, c) - want[c]));
        }
    return worst;
}

double MeanError(const DecodedImage::Level& level, const assets::Image& image) {
    double sum = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const assets::Rgba p = image.at(x, y);
            sum += std::abs(level.at(x, y, 0) - p.r) + std::abs(level.at(x, y, 1) - p.g) +
                   std::abs(level.at(x, y, 2) - p.b);
        }
    return sum / (3.0 * image.width * image.height);
}

TEST(DataImageWriters, LosslessFormatsReadBackExactly) {
    const assets::Image image = Pattern();
    struct Case {
        const char* name;
        bool (*write)(const std::string&, const assets::Image&);
        ImageFileType type;
        bool alpha;
    };
    const Case cases[] = {
        {"a.png", [](const std::string& p, const assets::Image& i) { return assets::WritePng(p, i, true); }, IFT_PNG, true},
        {"b.png", [](const std::string& p, const assets::Image& i) { return assets::WritePng(p, i, false); }, IFT_PNG, false},
        {"c.bmp", assets::WriteBmp24, IFT_BMP, false},
        {"d.tga", [](const std::string& p, const assets::Image& i) { return assets::WriteTgaRle(p, i, true); }, IFT_TGA, true},
        {"e.tga", [](const std::string& p, const assets::Image& i) { return assets::WriteTgaRle(p, i, false); }, IFT_TGA, false},
        {"f.ppm", assets::WritePpm, IFT_PPM, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.write(Temp(c.name), image));
        const DecodedImage read = DecodeFile(Temp(c.name));
        ASSERT_EQ(read.result, S_OK);
        EXPECT_EQ(read.info.fileType, c.type);
        EXPECT_EQ(MaxError(read.levels[0], image, c.alpha), 0);
    }
}

TEST(DataImageWriters, RunLengthTgaSplitsLongRunsAndMixesPackets) {
    // A row longer than one packet of a single colour, raw stretches, and
    // two equal pixels right after a raw stretch.
    assets::Image image(300, 3, {10, 20, 30, 40});
    for (int x = 0; x < 300; x += 7) image.at(x, 1) = {uint8_t(x), 5, 6, 7};
    for (int x = 0; x < 300; ++x) image.at(x, 2) = {uint8_t(x / 2), uint8_t(x % 3), 9, uint8_t(x)};
    for (bool alpha : {true, false}) {
        ASSERT_TRUE(assets::WriteTgaRle(Temp("runs.tga"), image, alpha));
        const DecodedImage read = DecodeFile(Temp("runs.tga"));
        ASSERT_EQ(read.result, S_OK);
        EXPECT_EQ(MaxError(read.levels[0], image, alpha), 0) << "alpha " << alpha;
        // Runs are packed: far smaller than the raw pixels.
        EXPECT_LT(ReadBytes(Temp("runs.tga")).size(), size_t(300 * 3 * 3));
    }
}

TEST(DataImageWriters, PalettedBmpIsExactUpTo256ColoursAndCloseBeyond) {
    assets::Image few(37, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x) few.at(x, y) = {uint8_t(x * 7), uint8_t(y * 50), uint8_t((x + y) % 4 * 60), 255};
    ASSERT_TRUE(assets::WriteBmp8(Temp("few.bmp"), few));
    DecodedImage read = DecodeFile(Temp("few.bmp"));
    ASSERT_EQ(read.result, S_OK);
    EXPECT_EQ(read.info.format, D3DFMT_P8);
    EXPECT_EQ(MaxError(read.levels[0], few, false), 0);

    // More colours than a palette holds: the nearest of a colour cube.
    assets::Image many(64, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 64; ++x) many.at(x, y) = {uint8_t(x * 4), uint8_t(y * 32 + x % 8), uint8_t(255 - x * 3), 255};
    ASSERT_TRUE(assets::WriteBmp8(Temp("many.bmp"), many));
    read = DecodeFile(Temp("many.bmp"));
    ASSERT_EQ(read.result, S_OK);
    EXPECT_LE(MaxError(read.levels[0], many, false), 26);
}

TEST(DataImageWriters, JpegStaysCloseToItsPicture) {
    const assets::Image image = Smooth(48, 32);
    ASSERT_TRUE(assets::WriteJpeg(Temp("g.jpg"), image, 90));
    const DecodedImage read = DecodeFile(Temp("g.jpg"));
    ASSERT_EQ(read.result, S_OK);
    EXPECT_EQ(read.info.fileType, IFT_JPG);
    ASSERT_EQ(read.levels[0].width, 48u);
    ASSERT_EQ(read.levels[0].height, 32u);
    EXPECT_LT(MeanError(read.levels[0], image), 3.0);
}

TEST(DataImageWriters, DdsUncompressedFormatsAndMipChains) {
    const assets::Image image = Pattern();
    struct Case {
        assets::DdsFormat format;
        D3DFORMAT d3d;
        int bitsR, bitsG, bitsB, bitsA;  // 0 alpha bits: stored opaque
    };
    const Case cases[] = {
        {assets::DdsFormat::A8R8G8B8, D3DFMT_A8R8G8B8, 8, 8, 8, 8},
        {assets::DdsFormat::X8R8G8B8, D3DFMT_X8R8G8B8, 8, 8, 8, 0},
        {assets::DdsFormat::R5G6B5, D3DFMT_R5G6B5, 5, 6, 5, 0},
        {assets::DdsFormat::A4R4G4B4, D3DFMT_A4R4G4B4, 4, 4, 4, 4},
        {assets::DdsFormat::A1R5G5B5, D3DFMT_A1R5G5B5, 5, 5, 5, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.format));
        ASSERT_TRUE(assets::WriteDds(Temp("u.dds"), image, c.format, true));
        const DecodedImage read = DecodeFile(Temp("u.dds"));
        ASSERT_EQ(read.result, S_OK);
        EXPECT_EQ(read.info.format, c.d3d);
        // 13x7, 6x3, 3x1, 1x1.
        ASSERT_EQ(read.info.mipLevels, 4u);
        ASSERT_EQ(read.levels.size(), 4u);
        const UINT widths[] = {13, 6, 3, 1}, heights[] = {7, 3, 1, 1};
        assets::Image level = image;
        for (size_t l = 0; l < 4; ++l) {
            if (l > 0) level = assets::Downsample(level);
            EXPECT_EQ(read.levels[l].width, widths[l]);
            EXPECT_EQ(read.levels[l].height, heights[l]);
            // Each channel within half a step of its stored precision.
            for (int y = 0; y < level.height; ++y)
                for (int x = 0; x < level.width; ++x) {
                    const assets::Rgba p = level.at(x, y);
                    const int want[4] = {p.r, p.g, p.b, c.bitsA ? p.a : 255};
                    const int bits[4] = {c.bitsR, c.bitsG, c.bitsB, c.bitsA ? c.bitsA : 8};
                    for (int k = 0; k < 4; ++k) {
                        const int step = 255 / ((1 << bits[k]) - 1);
                        EXPECT_LE(std::abs(read.levels[l].at(x, y, k) - want[k]), step / 2 + 1)
                            << "level " << l << " pixel " << x << "," << y << " channel " << k;
                    }
                }
        }
    }
    // Without mips: one level and no mip count in the header.
    ASSERT_TRUE(assets::WriteDds(Temp("one.dds"), image, assets::DdsFormat::A8R8G8B8, false));
    const DecodedImage one = DecodeFile(Temp("one.dds"));
    ASSERT_EQ(one.result, S_OK);
    EXPECT_EQ(one.info.mipLevels, 1u);
    EXPECT_EQ(MaxError(one.levels[0], image, true), 0);
}

TEST(DataImageWriters, DdsBlockFormatsStayCloseAndKeepAlpha) {
    const assets::Image image = Smooth(18, 10);  // partial blocks at both edges
    struct Case {
        assets::DdsFormat format;
        D3DFORMAT d3d;
        bool alpha;
        int alphaError;
    };
    const Case cases[] = {
        {assets::DdsFormat::DXT1, D3DFMT_DXT1, false, 0},
        {assets::DdsFormat::DXT3, D3DFMT_DXT3, true, 9},
        {assets::DdsFormat::DXT5, D3DFMT_DXT5, true, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.format));
        assets::Image input = image;
        if (!c.alpha)
            for (assets::Rgba& p : input.pixels) p.a = 255;
        ASSERT_TRUE(assets::WriteDds(Temp("b.dds"), input, c.format, true));
        const DecodedImage read = DecodeFile(Temp("b.dds"));
        ASSERT_EQ(read.result, S_OK);
        EXPECT_EQ(read.info.format, c.d3d);
        EXPECT_EQ(read.info.mipLevels, 5u);  // 18x10 down to 1x1
        ASSERT_EQ(read.levels.size(), 5u);
        EXPECT_EQ(read.levels[4].width, 1u);
        // Every block sits where it belongs: the picture equals the
        // library's own encoding and decoding of each 4x4 block (edge
        // pixels repeated into partial blocks).
        const DecodedImage::Level& top = read.levels[0];
        int mismatches = 0;
        for (int by = 0; by < input.height; by += 4)
            for (int bx = 0; bx < input.width; bx += 4) {
                Colour4 in[16], out[16];
                for (int k = 0; k < 16; ++k) {
                    const assets::Rgba p = input.at(std::min(bx + k % 4, input.width - 1),
                                                    std::min(by + k / 4, input.height - 1));
                    in[k] = {p.r / 255.0f, p.g / 255.0f, p.b / 255.0f, p.a / 255.0f};
                }
                BYTE block[16];
                EncodeDxtBlock(c.d3d, in, false, block);
                DecodeDxtBlock(c.d3d, block, out);
                for (int k = 0; k < 16; ++k) {
                    const int x = bx + k % 4, y = by + k / 4;
                    if (x >= input.width || y >= input.height) continue;
                    const float want[4] = {out[k].r, out[k].g, out[k].b, out[k].a};
                    for (int ch = 0; ch < 4; ++ch)
                        mismatches += top.at(x, y, ch) != uint8_t(std::lround(std::clamp(want[ch], 0.0f, 1.0f) * 255));
                }
            }
        EXPECT_EQ(mismatches, 0);
        // And that is a fair likeness of the picture.
        EXPECT_LT(MeanError(top, input), 8.0);
        int alphaWorst = 0;
        for (int y = 0; y < input.height; ++y)
            for (int x = 0; x < input.width; ++x)
                alphaWorst = std::max(alphaWorst, std::abs(read.levels[0].at(x, y, 3) - input.at(x, y).a));
        EXPECT_LE(alphaWorst, c.alphaError);
        // The smallest level is the average colour.
        assets::Image small = input;
        while (small.width > 1 || small.height > 1) small = assets::Downsample(small);
        EXPECT_LE(std::abs(read.levels[4].at(0, 0, 0) - small.at(0, 0).r), 8);
    }
}

TEST(DataImageWriters, ReportUnwritablePaths) {
    const std::string bad = Temp("no-such-folder/x");
    const assets::Image image = Pattern();
    EXPECT_FALSE(assets::WritePng(bad, image, true));
    EXPECT_FALSE(assets::WriteJpeg(bad, image, 80));
    EXPECT_FALSE(assets::WriteBmp24(bad, image));
    EXPECT_FALSE(assets::WriteTgaRle(bad, image, false));
    EXPECT_FALSE(assets::WriteDds(bad, image, assets::DdsFormat::DXT1, true));
}

// A write that fails part way (here at a file-size limit, as on a full disk)
// leaves the file that was there as it was and no partial file beside it.
// Each writer runs in a child process that ignores the limit's signal;
// libjpeg's own error handler would end it mid-file.
TEST(DataImageWriters, FailedWritesKeepTheOldFile) {
    const fs::path dir = Temp("failing");
    fs::create_directories(dir);
    const std::string target = (dir / "old").string();
    const assets::Image image = Smooth(256, 256);
    const std::vector<uint8_t> bytes(64 * 1024, 7);
    const std::pair<const char*, std::function<bool()>> writers[] = {
        {"file", [&] { return assets::WriteFile(target, bytes); }},
        {"png", [&] { return assets::WritePng(target, image, true); }},
        {"jpeg", [&] { return assets::WriteJpeg(target, image, 90); }},
        {"dds", [&] { return assets::WriteDds(target, image, assets::DdsFormat::A8R8G8B8, true); }},
    };
    for (const auto& [name, write] : writers) {
        SCOPED_TRACE(name);
        std::ofstream(target) << "old";
        EXPECT_EXIT(
            {
                LimitFileSize(1024);
                std::exit(write() ? 0 : 3);
            },
            ::testing::ExitedWithCode(3), "make-assets: cannot write [^\n]*/old: ");
        std::ifstream in(target);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "old");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    }
    // The sounds go through the program's wave file class, and the same way.
    assets::Sound sound;
    sound.samples.assign(8192, 1000);
    std::ofstream(target) << "old";
    EXPECT_EXIT(
        {
            LimitFileSize(1024);
            std::exit(assets::WriteWave(target, sound) ? 0 : 3);
        },
        ::testing::ExitedWithCode(3), "make-assets: cannot write [^\n]*/old\n");
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    ASSERT_TRUE(assets::WriteWave(target, sound));
    RiffWaveFile wave;
    ASSERT_EQ(wave.OpenWave(target.c_str(), nullptr, RiffWaveFile::kRead), S_OK);
    EXPECT_EQ(wave.GetDataSize(), 2u * 8192);
}

// ---- .x writer ----

class DataXWriter : public DeviceTest {
protected:
    struct Read {
        HRESULT result = E_FAIL;
        DWORD materialCount = 0, faces = 0, vertices = 0, fvf = 0;
        std::vector<D3DMATERIAL9> materials;
        std::vector<std::string> textures;
        std::vector<ModelFile::Triangle> triangles;
    };
    Read Load(const assets::XFile& x) {
        Read out;
        if (!assets::WriteXFile(Temp("t.x"), x)) return out;
        ModelFile file(Temp("t.x"), device);
        out.result = file.result;
        if (FAILED(out.result)) return out;
        out.materialCount = file.materialCount;
        for (DWORD k = 0; k < file.materialCount; ++k) {
            out.materials.push_back(file.Entry(k).material);
            out.textures.push_back(file.Texture(k));
        }
        out.faces = file.mesh->GetFaceCount();
        out.vertices = file.mesh->GetVertexCount();
        out.fvf = file.mesh->GetVertexFormat();
        out.triangles = file.Triangles();
        return out;
    }

    static assets::XMesh Polygon(const std::string& name, int corners, float radius,
                                 const std::vector<std::string>& materials, bool normals) {
        assets::XMesh m;
        m.name = name;
        std::vector<uint32_t> face;
        for (int k = 0; k < corners; ++k) {
            const float a = 6.2831853f * float(k) / float(corners);
            m.positions.push_back({radius * std::cos(a), 0.0f, -radius * std::sin(a)});
            m.uvs.push_back({0.5f + 0.5f * std::cos(a), 0.5f});
            face.push_back(uint32_t(k));
        }
        m.faces.push_back(face);
        m.faceMaterials.push_back(uint32_t(materials.size() - 1));
        if (normals) {
            m.normals.push_back({0, 1, 0});
            m.normalFaces.push_back(std::vector<uint32_t>(face.size(), 0));
        }
        m.materials = materials;
        return m;
    }
};

TEST_F(DataXWriter, FramesMeshesAndMaterialsLoadAsWritten) {
    assets::XFile file;
    assets::XMaterial red;
    red.name = "Red";
    red.diffuse[0] = 0.9f, red.diffuse[1] = 0.1f, red.diffuse[2] = 0.05f, red.diffuse[3] = 0.5f;
    red.power = 12.5f;
    red.specular[0] = 0.25f;
    red.emissive[2] = 0.75f;
    red.texture = "paint.dds";
    assets::XMaterial plain;
    plain.name = "Plain";
    file.materials = {red, plain};

    // A pentagon in a frame moved by (100, 2, -3), and inside it a child
    // frame turned a quarter about y holding a square of the other material.
    assets::XFrame root;
    root.name = "Root";
    root.transform[12] = 100, root.transform[13] = 2, root.transform[14] = -3;
    root.meshes.push_back(Polygon("Pentagon", 5, 1.0f, {"Red"}, true));
    assets::XFrame child;
    child.name = "Child";
    child.transform = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 10, 0, 1};
    child.meshes.push_back(Polygon("Square", 4, 2.0f, {"Red", "Plain"}, true));
    root.children.push_back(child);
    file.frames.push_back(root);

    const Read r = Load(file);
    ASSERT_EQ(r.result, S_OK);
    // Polygons are fanned: 3 + 2 triangles; each mesh brings its list.
    EXPECT_EQ(r.faces, 5u);
    ASSERT_EQ(r.materialCount, 3u);
    EXPECT_EQ(r.textures[0], "paint.dds");
    EXPECT_EQ(r.textures[2], "");
    const D3DMATERIAL9& m = r.materials[0];
    EXPECT_FLOAT_EQ(m.Diffuse.r, 0.9f);
    EXPECT_FLOAT_EQ(m.Diffuse.a, 0.5f);
    EXPECT_FLOAT_EQ(m.Power, 12.5f);
    EXPECT_FLOAT_EQ(m.Specular.r, 0.25f);
    EXPECT_FLOAT_EQ(m.Emissive.b, 0.75f);
    EXPECT_EQ(r.fvf, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));

    // The pentagon's triangles carry material 0 and sit around (100, 2, -3);
    // the square's carry 1 + 1 = 2 and sit 10 higher, turned.
    ASSERT_EQ(r.triangles.size(), 5u);
    for (const ModelFile::Triangle& t : r.triangles) {
        const bool square = t.subset == 2;
        EXPECT_TRUE(square || t.subset == 0);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(t.y[k], square ? 12.0f : 2.0f, 1e-4f);
            const float dx = t.x[k] - 100, dz = t.z[k] + 3;
            EXPECT_NEAR(std::hypot(dx, dz), square ? 2.0f : 1.0f, 1e-4f);
        }
    }
    // The square's first corner (2, 0, 0) turned a quarter: (0, 0, 2).
    bool found = false;
    for (const ModelFile::Triangle& t : r.triangles)
        for (int k = 0; k < 3 && t.subset == 2; ++k)
            if (std::abs(t.x[k] - 100) < 1e-3f && std::abs(t.z[k] - (-3 + 2)) < 1e-3f) found = true;
    EXPECT_TRUE(found);
}

TEST_F(DataXWriter, MeshWithoutNormalsOrCoordinatesLoadsWithoutThem) {
    assets::XFile file;
    assets::XMaterial grey;
    grey.name = "Grey";
    file.materials = {grey};
    assets::XFrame frame;
    frame.name = "F";
    assets::XMesh mesh = Polygon("Hexagon", 6, 3.0f, {"Grey"}, false);
    mesh.uvs.clear();
    frame.meshes.push_back(mesh);
    file.frames.push_back(frame);
    const Read r = Load(file);
    ASSERT_EQ(r.result, S_OK);
    EXPECT_EQ(r.faces, 4u);
    EXPECT_EQ(r.fvf, DWORD(D3DFVF_XYZ));
    // Large face lists wrap over several lines and still parse.
    assets::XMesh big;
    big.name = "Strip";
    big.materials = {"Grey"};
    for (int k = 0; k < 400; ++k) {
        big.positions.push_back({float(k), 0, 0});
        big.positions.push_back({float(k), 0, 1});
    }
    for (uint32_t k = 0; k + 1 < 400; ++k) {
        big.faces.push_back({2 * k, 2 * k + 1, 2 * k + 3, 2 * k + 2});
        big.faceMaterials.push_back(0);
    }
    file.frames[0].meshes = {big};
    const Read s = Load(file);
    ASSERT_EQ(s.result, S_OK);
    EXPECT_EQ(s.faces, 2u * 399u);
    EXPECT_EQ(s.vertices, 800u);
}
}  // namespace
