// vintrel-bench-images: one 2048x2048 picture as PNG (RGBA), JPEG, 24-bit
// BMP and run-length TGA; each decoded with ReadImageFile and converted
// into an A8R8G8B8 surface, next to stb_image decoding the same bytes to
// RGBA; also the whole CreateTextureFromFile. Megapixels per second.
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#include <stb_image.h>

#include "texture/texture.h"
#include "platform/d3d9/offscreen_device.h"

namespace {
constexpr UINT kSide = 2048;
using Bytes = std::vector<BYTE>;

// A picture with smooth areas, edges and some texture, RGBA.
const Bytes& Picture() {
    static const Bytes rgba = [] {
        Bytes p(size_t(kSide) * kSide * 4);
        uint32_t seed = 12345;
        for (UINT y = 0; y < kSide; ++y)
            for (UINT x = 0; x < kSide; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const double fx = x / double(kSide), fy = y / double(kSide);
                BYTE* q = &p[(size_t(y) * kSide + x) * 4];
                q[0] = BYTE(127 + 120 * std::sin(fx * 9 + fy * 3));
                q[1] = BYTE((x ^ y) & 0xC0 ? 200 * fy : 40 + (seed >> 29));
                q[2] = BYTE(255 * fx * fy);
                q[3] = BYTE(((x / 64 + y / 64) & 1) ? 255 : 160);
            }
        return p;
    }();
    return rgba;
}

void PngWriteBytes(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

Bytes EncodePng() {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, PngWriteBytes, PngFlush);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (UINT y = 0; y < kSide; ++y) png_write_row(png, const_cast<BYTE*>(&Picture()[size_t(y) * kSide * 4]));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes EncodeJpeg() {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = kSide;
    c.image_height = kSide;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<BYTE> row(kSide * 3);
    while (c.next_scanline < kSide) {
        const BYTE* src = &Picture()[size_t(c.next_scanline) * kSide * 4];
        for (UINT x = 0; x < kSide; ++x) std::memcpy(&row[x * 3], src + x * 4, 3);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = BYTE(v >> (8 * i));
}

Bytes EncodeBmp() {
    const size_t pitch = size_t(kSide) * 3;  // 2048 * 3 is a multiple of 4
    Bytes b(54 + pitch * kSide, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, uint32_t(b.size()));
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, kSide);
    Put32(b, 22, kSide);  // bottom-up, the usual layout
    b[26] = 1;
    b[28] = 24;
    for (UINT y = 0; y < kSide; ++y) {
        const BYTE* src = &Picture()[size_t(kSide - 1 - y) * kSide * 4];
        BYTE* dst = &b[54 + y * pitch];
        for (UINT x = 0; x < kSide; ++x) {
            dst[x * 3] = src[x * 4 + 2];
            dst[x * 3 + 1] = src[x * 4 + 1];
            dst[x * 3 + 2] = src[x * 4];
        }
    }
    return b;
}

// Run-length 32-bit TGA, bottom-up, packets never crossing rows.
Bytes EncodeTga() {
    Bytes b(18, 0);
    b[2] = 10;
    b[12] = BYTE(kSide);
    b[13] = BYTE(kSide >> 8);
    b[14] = BYTE(kSide);
    b[15] = BYTE(kSide >> 8);
    b[16] = 32;
    b[17] = 8;
    for (UINT y = 0; y < kSide; ++y) {
        const BYTE* row = &Picture()[size_t(kSide - 1 - y) * kSide * 4];
        auto bgra = [&](UINT x) {
            const BYTE* p = row + x * 4;
            return uint32_t(p[2]) | (uint32_t(p[1]) << 8) | (uint32_t(p[0]) << 16) | (uint32_t(p[3]) << 24);
        };
        UINT x = 0;
        while (x < kSide) {
            UINT run = 1;
            while (x + run < kSide && run < 128 && bgra(x + run) == bgra(x)) ++run;
            if (run > 1) {
                b.push_back(BYTE(0x80 | (run - 1)));
                const uint32_t v = bgra(x);
                for (int i = 0; i < 4; ++i) b.push_back(BYTE(v >> (8 * i)));
                x += run;
                continue;
            }
            UINT lit = 1;
            while (x + lit < kSide && lit < 128 && bgra(x + lit) != bgra(x + lit - 1)) ++lit;
            b.push_back(BYTE(lit - 1));
            for (UINT k = 0; k < lit; ++k) {
                const uint32_t v = bgra(x + k);
                for (int i = 0; i < 4; ++i) b.push_back(BYTE(v >> (8 * i)));
            }
            x += lit;
        }
    }
    return b;
}

struct Sample {
    const char* name;
    Bytes bytes;
    std::string path;
};

std::vector<Sample>& Samples() {
    static std::vector<Sample> samples = [] {
        std::vector<Sample> s = {{"png", EncodePng(), ""}, {"jpeg", EncodeJpeg(), ""}, {"bmp", EncodeBmp(), ""},
                                 {"tga", EncodeTga(), ""}};
        for (Sample& x : s) {
            x.path = std::string("/tmp/vintrel-bench-images.") + x.name;
            if (FILE* f = std::fopen(x.path.c_str(), "wb")) {
                std::fwrite(x.bytes.data(), 1, x.bytes.size(), f);
                std::fclose(f);
            }
        }
        return s;
    }();
    return samples;
}

IDirect3DDevice9* Device() { return SharedOffscreenDevice(); }

void Ours(benchmark::State& state, int index) {
    const Sample& s = Samples()[size_t(index)];
    IDirect3DTexture9* texture = nullptr;
    if (!Device() || FAILED(Device()->CreateTexture(kSide, kSide, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &texture,
                                                   nullptr))) {
        state.SkipWithError("no texture");
        return;
    }
    IDirect3DSurface9* surface = nullptr;
    texture->GetSurfaceLevel(0, &surface);
    for (auto _ : state) {
        ImageLevel level;
        const bool read = SUCCEEDED(ReadImageFile(&level, s.bytes.data(), UINT(s.bytes.size()), nullptr, TRUE));
        const RECT whole = {0, 0, LONG(level.width), LONG(level.height)};
        if (!read || FAILED(LoadSurfaceFromPixels(surface, nullptr, nullptr, level.pixels, level.format,
                                                  level.rowPitch, level.palette, &whole, FILTER_NONE, 0))) {
            state.SkipWithError("decode failed");
            break;
        }
    }
    surface->Release();
    texture->Release();
    state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void Peer(benchmark::State& state, int index) {
    const Sample& s = Samples()[size_t(index)];
    for (auto _ : state) {
        int w, h, n;
        stbi_uc* p = stbi_load_from_memory(s.bytes.data(), int(s.bytes.size()), &w, &h, &n, 4);
        if (!p) {
            state.SkipWithError("stb failed");
            break;
        }
        benchmark::DoNotOptimize(p);
        stbi_image_free(p);
    }
    state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void WholeTexture(benchmark::State& state, int index) {
    const Sample& s = Samples()[size_t(index)];
    for (auto _ : state) {
        IDirect3DTexture9* texture = nullptr;
        if (FAILED(CreateTextureFromFile(Device(), s.path.c_str(), &texture))) {
            state.SkipWithError("create failed");
            break;
        }
        texture->Release();
    }
    state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Median processor time per run of each benchmark, from the repetition
// aggregates: the readers and the conversion run on the calling thread, and
// other processes on a shared machine stretch wall time, not processor time.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> median;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                median[r.run_name.function_name] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};
}  // namespace

int main(int argc, char** argv) {
    const char* names[] = {"png", "jpeg", "bmp", "tga"};
    for (int i = 0; i < 4; ++i) {
        benchmark::RegisterBenchmark((std::string("Decode/ours/") + names[i]).c_str(), Ours, i)
            ->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark((std::string("Decode/stb/") + names[i]).c_str(), Peer, i)
            ->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark((std::string("CreateTextureFromFile/") + names[i]).c_str(), WholeTexture, i)
            ->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    Samples();
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double mp = double(kSide) * kSide / 1e6;
    for (int i = 0; i < 4; ++i) {
        const std::string n = names[i];
        const double ours = reporter.median["Decode/ours/" + n], peer = reporter.median["Decode/stb/" + n];
        if (ours <= 0 || peer <= 0) continue;
        // Processor milliseconds; the goal compares decode + conversion time.
        const double ratio = ours / peer;
        const double goal = i < 2 ? 1.5 : 1.0;
        std::printf("MP/s %s ours=%.1f stb=%.1f texture=%.1f\n", n.c_str(), mp / (ours / 1e3), mp / (peer / 1e3),
                    reporter.median.count("CreateTextureFromFile/" + n)
                        ? mp / (reporter.median["CreateTextureFromFile/" + n] / 1e3)
                        : 0.0);
        std::printf("TARGET decode_%s_ms ours=%.2f peer=%.2f ratio=%.3f goal=<%s%.1f %s\n", n.c_str(), ours, peer,
                    ratio, i < 2 ? "=" : "", goal, (i < 2 ? ratio <= goal : ratio < goal) ? "MET" : "MISSED");
    }
    return 0;
}
