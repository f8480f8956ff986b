// The other files of the data set, read back with the program's libraries:
// the car and the markers, the overlay's font and speed meter, the course's
// textures and the four sounds.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "sound/riff_wave_file.h"
#include "tests/data/data_support.h"

using namespace datatest;

namespace {

// ---- Models ----

struct Bounds {
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
};

class DataModels : public DeviceTest {
protected:
    struct Loaded {
        HRESULT result = E_FAIL;
        DWORD materialCount = 0, fvf = 0;
        std::vector<std::string> textures;
        std::vector<D3DMATERIAL9> materials;
        Bounds all;
        std::vector<Bounds> bySubset;
    };
    Loaded Load(const std::string& name) {
        Loaded out;
        ModelFile file(DataPath(name), device);
        out.result = file.result;
        if (FAILED(out.result)) return out;
        out.materialCount = file.materialCount;
        out.fvf = file.mesh->GetVertexFormat();
        for (DWORD k = 0; k < file.materialCount; ++k) {
            out.textures.push_back(file.Texture(k));
            out.materials.push_back(file.Entry(k).material);
        }
        out.bySubset.resize(file.materialCount);
        for (const ModelFile::Triangle& t : file.Triangles())
            for (int k = 0; k < 3; ++k) {
                const float p[3] = {t.x[k], t.y[k], t.z[k]};
                for (Bounds* b : {&out.all, &out.bySubset[t.subset]})
                    for (int c = 0; c < 3; ++c) b->lo[c] = std::min(b->lo[c], p[c]), b->hi[c] = std::max(b->hi[c], p[c]);
            }
        return out;
    }
};

TEST_F(DataModels, CarHasTheStatedSizeAndFacesMinusZ) {
    const Loaded car = Load("car.x");
    ASSERT_EQ(car.result, S_OK);
    // Lit with hard edges from its own normals.
    EXPECT_TRUE(car.fvf & D3DFVF_NORMAL);
    // Body, glass, tyres, rims and lights are separate materials: at least
    // five distinct colours.
    std::set<std::vector<float>> colours;
    for (const D3DMATERIAL9& m : car.materials) colours.insert({m.Diffuse.r, m.Diffuse.g, m.Diffuse.b});
    EXPECT_GE(colours.size(), 5u);

    // Ten times world size: about 45 long, 18 wide, 13 high, on y = 0.
    EXPECT_NEAR(car.all.hi[2] - car.all.lo[2], 45.0f, 3.0f);
    EXPECT_NEAR(car.all.hi[0] - car.all.lo[0], 18.0f, 2.0f);
    EXPECT_NEAR(car.all.hi[1] - car.all.lo[1], 13.0f, 2.0f);
    EXPECT_NEAR(car.all.lo[1], 0.0f, 0.05f);
    // Standing on its wheels, roughly centred on the origin across.
    EXPECT_NEAR(car.all.lo[0] + car.all.hi[0], 0.0f, 0.5f);

    // The front is at -z: the brightest emissive material (headlights)
    // sits there, the red one (tail lights) at the back.
    int head = -1, tail = -1;
    for (size_t k = 0; k < car.materials.size(); ++k) {
        const D3DMATERIAL9& m = car.materials[k];
        if (m.Emissive.r > 0.5f && m.Emissive.g > 0.5f) head = int(k);
        if (m.Emissive.r > 0.5f && m.Emissive.g < 0.2f) tail = int(k);
    }
    ASSERT_GE(head, 0);
    ASSERT_GE(tail, 0);
    EXPECT_LT(car.bySubset[head].hi[2], -15.0f);
    EXPECT_GT(car.bySubset[tail].lo[2], 15.0f);
}

TEST_F(DataModels, MarkersLoadAndPointOppositeWays) {
    const Loaded right = Load("carveR.x"), left = Load("carveL.x");
    ASSERT_EQ(right.result, S_OK);
    ASSERT_EQ(left.result, S_OK);
    ASSERT_EQ(right.materialCount, left.materialCount);
    ASSERT_GE(right.materialCount, 3u);
    // The last material is the arrow: its tip lies on the side it points to.
    const Bounds& r = right.bySubset.back();
    const Bounds& l = left.bySubset.back();
    EXPECT_GT(r.hi[0], -r.lo[0]);
    EXPECT_LT(l.lo[0], -l.hi[0]);
    // Small: a few world units at most.
    EXPECT_LT(right.all.hi[1] - right.all.lo[1], 10.0f);
}

// ---- The overlay's pictures ----

bool Opaque(const DecodedImage::Level& l, UINT x, UINT y) { return l.at(x, y, 3) > 200; }
bool Clear(const DecodedImage::Level& l, UINT x, UINT y) { return l.at(x, y, 3) == 0; }

TEST(DataOverlay, FontHasOneOutlinedWhiteGlyphPerCell) {
    const DecodedImage font = DecodeFile(DataPath("font.dds"));
    ASSERT_EQ(font.result, S_OK);
    EXPECT_EQ(font.info.width, 256u);
    EXPECT_EQ(font.info.height, 64u);
    EXPECT_EQ(font.info.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(font.info.fileType, IFT_DDS);
    const DecodedImage::Level& f = font.levels[0];

    auto cell = [&](int code) {
        const int n = code - 32;
        std::string bytes;
        for (UINT y = UINT(n / 32) * 16; y < UINT(n / 32) * 16 + 16; ++y)
            for (UINT x = UINT(n % 32) * 8; x < UINT(n % 32) * 8 + 8; ++x)
                for (int c = 0; c < 4; ++c) bytes.push_back(char(f.at(x, y, c)));
        return bytes;
    };
    // The space is empty; every visible character has white, opaque pixels
    // and dark, partly covering ones around them.
    const std::string space = cell(' ');
    for (size_t k = 3; k < space.size(); k += 4) ASSERT_EQ(space[k], 0) << "space pixel " << k / 4;
    std::set<std::string> distinct;
    for (int code = 33; code < 127; ++code) {
        const std::string c = cell(code);
        // Brightness times coverage: thin diagonals never cover a whole
        // pixel, but every glyph must show up as white somewhere.
        double brightest = 0;
        int dark = 0;
        for (size_t k = 0; k < c.size(); k += 4) {
            const int grey = uint8_t(c[k]), alpha = uint8_t(c[k + 3]);
            brightest = std::max(brightest, grey / 255.0 * alpha / 255.0);
            EXPECT_TRUE(c[k] == c[k + 1] && c[k] == c[k + 2]) << "character " << char(code) << " is not grey";
            if (alpha > 60 && grey < 90) ++dark;
        }
        EXPECT_GT(brightest, 0.6) << "character " << char(code);
        EXPECT_GE(dark, 1) << "character " << char(code);
        distinct.insert(c);
    }
    EXPECT_EQ(distinct.size(), 94u) << "two characters share a picture";

    // Letters sit on a common baseline: 'x' and 'n' end on the same row, 'g'
    // and 'p' reach below it.
    auto lowestRow = [&](int code) {
        const std::string c = cell(code);
        int last = -1;
        for (int k = 0; k < 128; ++k)
            if (uint8_t(c[size_t(k) * 4 + 3]) > 128 && uint8_t(c[size_t(k) * 4]) > 200) last = k / 8;
        return last;
    };
    EXPECT_EQ(lowestRow('x'), lowestRow('n'));
    EXPECT_GT(lowestRow('g'), lowestRow('n'));
    EXPECT_GT(lowestRow('p'), lowestRow('n'));
}

TEST(DataOverlay, SpeedMeterMatchesTheNeedleRules) {
    const DecodedImage meter = DecodeFile(DataPath("SpeedMeter.dds"));
    ASSERT_EQ(meter.result, S_OK);
    EXPECT_EQ(meter.info.width, 256u);
    EXPECT_EQ(meter.info.height, 256u);
    EXPECT_EQ(meter.info.format, D3DFMT_A8R8G8B8);
    const DecodedImage::Level& m = meter.levels[0];

    // Two round dials in rows 0-127 centred on (64, 64) and (193, 64): a
    // pixel ring at radius 62 is opaque all round, the corners of the strip
    // outside them are clear.
    constexpr float kToRadians = 0.017453292f;
    for (float cx : {64.0f, 193.0f})
        for (int step = 0; step < 72; ++step) {
            const float a = step * 5.0f * kToRadians;
            const UINT x = UINT(cx + 61.0f * std::cos(a)), y = UINT(64.0f + 61.0f * std::sin(a));
            EXPECT_TRUE(Opaque(m, x, y)) << "dial edge at " << x << "," << y;
        }
    EXPECT_TRUE(Clear(m, 0, 0));
    EXPECT_TRUE(Clear(m, 255, 127));
    EXPECT_TRUE(Clear(m, 0, 127));

    // Scale marks where the needles point: angle (value x k + 90) degrees
    // clockwise on screen, 2.4 per km/h on the left, 0.025 per rpm on the
    // right. A major mark is light at radius 53.
    auto light = [&](float cx, float degrees, float radius) {
        const float a = degrees * kToRadians;
        const float px = cx + radius * std::cos(a), py = 64.0f + radius * std::sin(a);
        // The mark is thin: take the lightest pixel touching the point.
        int best = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const UINT x = UINT(px + dx), y = UINT(py + dy);
                best = std::max(best, int(m.at(x, y, 0)) + m.at(x, y, 1) + m.at(x, y, 2));
            }
        return best;
    };
    for (int kmh = 0; kmh <= 140; kmh += 20) EXPECT_GT(light(64, kmh * 2.4f + 90, 53), 600) << kmh << " km/h";
    for (int rpm = 0; rpm <= 8000; rpm += 1000) EXPECT_GT(light(193, rpm * 0.025f + 90, 53), 600) << rpm << " rpm";
    // Half-way between marks the dial is dark.
    EXPECT_LT(light(64, 15 * 2.4f + 90, 53), 300);
    EXPECT_LT(light(193, 2750 * 0.025f + 90, 53), 300);
    // Above 9000 rpm the rim is red.
    for (int rpm : {9100, 9250, 9400, 9600, 9750, 9900}) {
        const float a = (rpm * 0.025f + 90) * kToRadians;
        const UINT x = UINT(193 + 55.5f * std::cos(a)), y = UINT(64 + 55.5f * std::sin(a));
        EXPECT_GT(m.at(x, y, 0), 150) << rpm << " rpm";
        EXPECT_LT(m.at(x, y, 1), 110) << rpm << " rpm";
    }
    // Below it, no red.
    const float a = (4250 * 0.025f + 90) * kToRadians;
    EXPECT_LT(m.at(UINT(193 + 55.5f * std::cos(a)), UINT(64 + 55.5f * std::sin(a)), 0), 120);

    // The needle: 72 x 5 at the left of row 128, turning about (12, 2.5).
    // Opaque along its middle row on both sides of the pivot, nothing to
    // its right or in the rows up to the gear digits.
    for (UINT x = 2; x < 66; ++x) EXPECT_TRUE(Opaque(m, x, 130)) << "needle at " << x;
    for (UINT y = 128; y < 133; ++y)
        for (UINT x = 72; x < 256; ++x) ASSERT_TRUE(Clear(m, x, y)) << x << "," << y;
    for (UINT y = 133; y < 144; ++y)
        for (UINT x = 0; x < 256; ++x) ASSERT_TRUE(Clear(m, x, y)) << x << "," << y;
    // Thicker at the pivot than at the tip.
    auto thickness = [&](UINT x) {
        int n = 0;
        for (UINT y = 128; y < 133; ++y) n += m.at(x, y, 3);
        return n;
    };
    EXPECT_GT(thickness(14), thickness(68));

    // Gear digits 1-5 in 32 x 32 cells at rows 144-175, the cell of gear
    // index g at x 32 g: each has a light digit and they all differ; the
    // cells beyond the fifth are empty.
    std::set<std::string> digits;
    for (UINT g = 0; g < 8; ++g) {
        std::string cell;
        int lightPixels = 0, opaque = 0;
        for (UINT y = 144; y < 176; ++y)
            for (UINT x = g * 32; x < g * 32 + 32; ++x) {
                for (int c = 0; c < 4; ++c) cell.push_back(char(m.at(x, y, c)));
                opaque += m.at(x, y, 3) > 0;
                if (m.at(x, y, 3) > 200 && m.at(x, y, 0) > 200 && m.at(x, y, 1) > 150) ++lightPixels;
            }
        if (g < 5) {
            EXPECT_GT(lightPixels, 20) << "gear digit " << g + 1;
            digits.insert(cell);
        } else {
            EXPECT_EQ(opaque, 0) << "cell " << g;
        }
    }
    EXPECT_EQ(digits.size(), 5u);
    for (UINT y = 176; y < 256; ++y)
        for (UINT x = 0; x < 256; ++x) ASSERT_TRUE(Clear(m, x, y)) << x << "," << y;
}

// ---- Course textures ----

TEST(DataTextures, EveryFormatTheLibraryReadsIsUsedAndLoads) {
    struct Expected {
        const char* name;
        ImageFileType type;
        D3DFORMAT format;  // D3DFMT_UNKNOWN: whatever the reader gives
        UINT mipLevels;
    };
    const Expected files[] = {
        {"grass.dds", IFT_DDS, D3DFMT_DXT1, 9},       {"road.dds", IFT_DDS, D3DFMT_DXT1, 9},
        {"tyres.dds", IFT_DDS, D3DFMT_DXT1, 1},       {"boards.dds", IFT_DDS, D3DFMT_DXT5, 9},
        {"banner.dds", IFT_DDS, D3DFMT_DXT5, 9},      {"lawn.dds", IFT_DDS, D3DFMT_X8R8G8B8, 8},
        {"field.dds", IFT_DDS, D3DFMT_R5G6B5, 8},     {"sand.bmp", IFT_BMP, D3DFMT_R8G8B8, 1},
        {"bark.bmp", IFT_BMP, D3DFMT_R8G8B8, 1},      {"concrete.bmp", IFT_BMP, D3DFMT_P8, 1},
        {"kerb.tga", IFT_TGA, D3DFMT_UNKNOWN, 1},     {"paddock.tga", IFT_TGA, D3DFMT_UNKNOWN, 1},
        {"seats.tga", IFT_TGA, D3DFMT_A8R8G8B8, 1},   {"fence.png", IFT_PNG, D3DFMT_A8R8G8B8, 1},
        {"leaves.png", IFT_PNG, D3DFMT_A8R8G8B8, 1},  {"gravel.jpg", IFT_JPG, D3DFMT_UNKNOWN, 1},
        {"rock.ppm", IFT_PPM, D3DFMT_UNKNOWN, 1},
    };
    for (const Expected& e : files) {
        SCOPED_TRACE(e.name);
        const DecodedImage image = DecodeFile(DataPath(e.name));
        ASSERT_EQ(image.result, S_OK);
        EXPECT_EQ(image.info.fileType, e.type);
        if (e.format != D3DFMT_UNKNOWN) {
            EXPECT_EQ(image.info.format, e.format);
        }
        EXPECT_EQ(image.info.mipLevels, e.mipLevels);
        EXPECT_EQ(image.levels.size(), e.mipLevels);
        // Tiles of powers of two, so they wrap and filter evenly.
        EXPECT_EQ(image.info.width & (image.info.width - 1), 0u);
        EXPECT_EQ(image.info.height & (image.info.height - 1), 0u);
        // A picture, not a blank: more than one colour.
        const auto& px = image.levels[0].rgba;
        bool varied = false;
        for (size_t k = 4; k < px.size() && !varied; k += 4)
            varied = px[k] != px[0] || px[k + 1] != px[1] || px[k + 2] != px[2];
        EXPECT_TRUE(varied);
    }
    // The TGA files are run-length encoded, one with alpha.
    for (const char* name : {"kerb.tga", "paddock.tga", "seats.tga"}) {
        const std::vector<uint8_t> bytes = ReadBytes(DataPath(name));
        ASSERT_GT(bytes.size(), 18u);
        EXPECT_EQ(bytes[2], 10) << name;
    }
    // Alpha that is actually used: the fence's mesh and the leaves' edge
    // show what is behind them.
    for (const char* name : {"fence.png", "leaves.png"}) {
        const DecodedImage image = DecodeFile(DataPath(name));
        ASSERT_EQ(image.result, S_OK);
        int clear = 0;
        for (size_t k = 3; k < image.levels[0].rgba.size(); k += 4) clear += image.levels[0].rgba[k] < 128;
        EXPECT_GT(clear, 10) << name;
    }
}

TEST_F(DataModels, EveryTextureTheCourseNamesBecomesATexture) {
    const Loaded course = Load("ct01.x");
    ASSERT_EQ(course.result, S_OK);
    int textured = 0;
    for (const std::string& name : course.textures) {
        if (name.empty()) continue;
        ++textured;
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(CreateTextureFromFile(device, DataPath(name).c_str(), &texture), S_OK) << name;
        if (texture) texture->Release();
    }
    EXPECT_GE(textured, 12);
}

// ---- Sounds ----

struct Wave {
    HRESULT result = E_FAIL;
    WAVEFORMATEX format{};
    std::vector<int16_t> samples;
};

Wave ReadWave(const std::string& name) {
    Wave w;
    RiffWaveFile file;
    w.result = file.OpenWave(DataPath(name).c_str(), nullptr, RiffWaveFile::kRead);
    if (FAILED(w.result)) return w;
    w.format = *file.format;
    w.samples.resize(file.GetDataSize() / 2);
    DWORD read = 0;
    w.result = file.ReadSamples(reinterpret_cast<BYTE*>(w.samples.data()), DWORD(w.samples.size() * 2), &read);
    if (read != w.samples.size() * 2) w.result = E_FAIL;
    file.CloseWave();
    return w;
}

double Seconds(const Wave& w) { return double(w.samples.size()) / w.format.nChannels / w.format.nSamplesPerSec; }

// The jump from the last frame back to the first, against the sound's own
// steps: no larger than nearly all of them, so looping adds no click.
void ExpectSeamless(const Wave& w, const char* name) {
    const size_t channels = w.format.nChannels, frames = w.samples.size() / channels;
    for (size_t c = 0; c < channels; ++c) {
        std::vector<int> steps;
        for (size_t i = 1; i < frames; ++i)
            steps.push_back(std::abs(w.samples[i * channels + c] - w.samples[(i - 1) * channels + c]));
        std::sort(steps.begin(), steps.end());
        const int usual = steps[steps.size() * 99 / 100];
        const int join = std::abs(w.samples[c] - w.samples[(frames - 1) * channels + c]);
        EXPECT_LE(join, std::max(usual, 64)) << name << " channel " << c;
        // The slope carries on too: the join is no sharper a bend than the
        // sound's own.
        const int last = w.samples[(frames - 1) * channels + c], before = w.samples[(frames - 2) * channels + c];
        const int first = w.samples[c], second = w.samples[channels + c];
        std::vector<int> bends;
        for (size_t i = 2; i < frames; ++i)
            bends.push_back(std::abs(w.samples[i * channels + c] - 2 * w.samples[(i - 1) * channels + c] +
                                     w.samples[(i - 2) * channels + c]));
        std::sort(bends.begin(), bends.end());
        const int usualBend = bends[bends.size() * 99 / 100];
        EXPECT_LE(std::abs(first - 2 * last + before), std::max(usualBend, 64)) << name << " channel " << c;
        EXPECT_LE(std::abs(second - 2 * first + last), std::max(usualBend, 64)) << name << " channel " << c;
    }
}

TEST(DataSounds, ParseWithTheStatedFormatsAndLengths) {
    const Wave engine = ReadWave("media/eng2.wav"), music = ReadWave("media/Get_Closer.wav");
    const Wave puff = ReadWave("media/puffs.wav"), gravel = ReadWave("media/out.wav");
    for (const Wave* w : {&engine, &music, &puff, &gravel}) {
        ASSERT_EQ(w->result, S_OK);
        EXPECT_EQ(w->format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(w->format.wBitsPerSample, 16);
        EXPECT_EQ(w->format.nSamplesPerSec, 22050u);
        EXPECT_EQ(w->format.nBlockAlign, w->format.nChannels * 2);
        EXPECT_EQ(w->format.nAvgBytesPerSec, w->format.nSamplesPerSec * w->format.nBlockAlign);
    }
    EXPECT_EQ(engine.format.nChannels, 1);
    EXPECT_EQ(music.format.nChannels, 2);
    EXPECT_EQ(puff.format.nChannels, 1);
    EXPECT_EQ(gravel.format.nChannels, 1);
    EXPECT_GE(Seconds(engine), 0.5);
    EXPECT_LE(Seconds(engine), 5.0);
    EXPECT_GE(Seconds(music), 45.0);
    EXPECT_GE(Seconds(puff), 0.1);
    EXPECT_LE(Seconds(puff), 1.0);
    EXPECT_GE(Seconds(gravel), 1.0);

    // Audible, and never pinned at full scale.
    for (const Wave* w : {&engine, &music, &puff, &gravel}) {
        int peak = 0;
        for (int16_t s : w->samples) peak = std::max(peak, std::abs(int(s)));
        EXPECT_GT(peak, 4000);
        EXPECT_LT(peak, 32767);
    }
    // The music is stereo in more than name.
    size_t differ = 0;
    for (size_t i = 0; i + 1 < music.samples.size(); i += 2) differ += music.samples[i] != music.samples[i + 1];
    EXPECT_GT(differ, music.samples.size() / 8);
}

TEST(DataSounds, LoopsJoinWithoutAClickAndThePuffFadesOut) {
    ExpectSeamless(ReadWave("media/eng2.wav"), "eng2.wav");
    ExpectSeamless(ReadWave("media/Get_Closer.wav"), "Get_Closer.wav");
    ExpectSeamless(ReadWave("media/out.wav"), "out.wav");
    // Played once: starts and ends at silence.
    const Wave puff = ReadWave("media/puffs.wav");
    ASSERT_EQ(puff.result, S_OK);
    EXPECT_LT(std::abs(puff.samples.front()), 64);
    EXPECT_LT(std::abs(puff.samples.back()), 64);
}

// The engine loop's pitch: played at 17 025 to 68 025 Hz its fundamental
// must land in an engine's range, so it must repeat with a steady period.
TEST(DataSounds, EngineLoopHasASteadyLowPitch) {
    const Wave engine = ReadWave("media/eng2.wav");
    ASSERT_EQ(engine.result, S_OK);
    const std::vector<int16_t>& s = engine.samples;
    // Autocorrelation peak between 40 and 150 Hz at the file's rate.
    const int rate = int(engine.format.nSamplesPerSec);
    double best = -1e300;
    int bestLag = 0;
    for (int lag = rate / 150; lag <= rate / 40; ++lag) {
        double sum = 0;
        for (size_t i = 0; i + size_t(lag) < s.size(); ++i) sum += double(s[i]) * s[i + size_t(lag)];
        if (sum > best) best = sum, bestLag = lag;
    }
    const double fundamental = double(rate) / bestLag;
    EXPECT_GT(fundamental * 17025 / rate, 30.0);
    EXPECT_LT(fundamental * 68025 / rate, 400.0);
    // A whole number of periods fills the loop.
    EXPECT_EQ(s.size() % size_t(bestLag), 0u) << "period " << bestLag;
}

}  // namespace
