// DXT1 and DXT5 encoding of photographs: our block codec (through the row
// codecs, as a surface copy does it) beside libsquish (range and cluster
// fit) and stb_dxt (normal and high quality), single thread, on the same
// pixels. Reports megapixels per second and RMSE per image.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <squish.h>

#include <ctime>
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#define STB_DXT_IMPLEMENTATION
#include "stb_dxt.h"

#include "bench_targets.h"
#include "texture/block_codec.h"
#include "texture/pixel_codec.h"

namespace {

constexpr int kSize = 1024;
const char* const kImages[] = {"Dune", "GreenMeadow", "LadyBird", "YellowFlower"};
constexpr const char* kImageDir = "/usr/share/backgrounds/mate/nature/";

struct Image {
    std::vector<BYTE> rgba;  // R, G, B, A bytes, for the peers
    std::vector<BYTE> bgra;  // A8R8G8B8 in memory, for ours
    bool loaded = false;
};

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// The central 1024 x 1024 pixels of a JPEG photograph; for DXT5 the alpha
// channel is a smooth slanted wave.
bool LoadCrop(const std::string& path, bool gradientAlpha, Image& image) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    jpeg_decompress_struct decoder;
    JpegError error;
    decoder.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); };
    std::vector<BYTE> pixels;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&decoder);
        std::fclose(file);
        return false;
    }
    jpeg_create_decompress(&decoder);
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    decoder.out_color_space = JCS_RGB;
    jpeg_start_decompress(&decoder);
    const int width = static_cast<int>(decoder.output_width), height = static_cast<int>(decoder.output_height);
    pixels.resize(static_cast<size_t>(width) * height * 3);
    while (decoder.output_scanline < decoder.output_height) {
        JSAMPROW row = &pixels[static_cast<size_t>(decoder.output_scanline) * width * 3];
        jpeg_read_scanlines(&decoder, &row, 1);
    }
    jpeg_finish_decompress(&decoder);
    jpeg_destroy_decompress(&decoder);
    std::fclose(file);
    if (width < kSize || height < kSize) return false;
    const int left = (width - kSize) / 2, top = (height - kSize) / 2;
    image.rgba.resize(kSize * kSize * 4);
    image.bgra.resize(kSize * kSize * 4);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const BYTE* s = &pixels[(static_cast<size_t>(top + y) * width + left + x) * 3];
            // A slanted sine wave: smooth, every block holds several alpha
            // values, and (unlike a linear ramp) they do not fall exactly
            // on the steps of a block's alpha palette.
            const double wave = std::sin((x + 2 * y) * (2 * 3.14159265358979 / 397));
            const BYTE a = gradientAlpha ? static_cast<BYTE>(std::lround(127.5 + 127.5 * wave)) : 255;
            BYTE* d = &image.rgba[(static_cast<size_t>(y) * kSize + x) * 4];
            d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = a;
            BYTE* e = &image.bgra[(static_cast<size_t>(y) * kSize + x) * 4];
            e[0] = s[2], e[1] = s[1], e[2] = s[0], e[3] = a;
        }
    }
    image.loaded = true;
    return true;
}

Image& GetImage(int index, bool dxt5) {
    static Image images[2][sizeof(kImages) / sizeof(kImages[0])];
    Image& image = images[dxt5][index];
    if (!image.loaded) LoadCrop(std::string(kImageDir) + kImages[index] + ".jpg", dxt5, image);
    return image;
}

double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

enum class Encoder { Ours, SquishRange, SquishCluster, Stb, StbHigh };
const char* const kEncoderNames[] = {"ours", "squish-range", "squish-cluster", "stb", "stb-hq"};

void GatherBlock(const BYTE* rgba, int bx, int by, BYTE out[64]) {
    for (int j = 0; j < 4; ++j) std::memcpy(out + 16 * j, rgba + (static_cast<size_t>(by * 4 + j) * kSize + bx * 4) * 4, 16);
}

void Encode(Encoder encoder, bool dxt5, const Image& image, std::vector<BYTE>& blocks) {
    const int blockBytes = dxt5 ? 16 : 8;
    if (encoder == Encoder::Ours) {
        PixelSurface source;
        source.pixels = const_cast<BYTE*>(image.bgra.data());
        source.format = D3DFMT_A8R8G8B8;
        source.rowPitch = kSize * 4;
        source.slicePitch = kSize * kSize * 4;
        source.box = {0, 0, kSize, kSize, 0, 1};
        PixelSurface destination = source;
        destination.pixels = blocks.data();
        destination.format = dxt5 ? D3DFMT_DXT5 : D3DFMT_DXT1;
        destination.rowPitch = kSize / 4 * blockBytes;
        destination.slicePitch = destination.rowPitch * kSize / 4;
        std::unique_ptr<PixelCodec> reader, writer;
        CreatePixelCodec(source, reader);
        CreatePixelCodec(destination, writer);
        LinkPixelCodecs(*reader, *writer);
        std::vector<Colour4> row(kSize);
        for (UINT y = 0; y < kSize; ++y) {
            reader->ReadRow(y, 0, row.data());
            writer->WriteRow(y, 0, row.data());
        }
        return;
    }
    BYTE block[64];
    BYTE* out = blocks.data();
    for (int by = 0; by < kSize / 4; ++by) {
        for (int bx = 0; bx < kSize / 4; ++bx, out += blockBytes) {
            GatherBlock(image.rgba.data(), bx, by, block);
            switch (encoder) {
                case Encoder::SquishRange:
                    squish::Compress(block, out, (dxt5 ? squish::kDxt5 : squish::kDxt1) | squish::kColourRangeFit);
                    break;
                case Encoder::SquishCluster:
                    squish::Compress(block, out, (dxt5 ? squish::kDxt5 : squish::kDxt1) | squish::kColourClusterFit);
                    break;
                case Encoder::Stb:
                    stb_compress_dxt_block(out, block, dxt5, STB_DXT_NORMAL);
                    break;
                case Encoder::StbHigh:
                    stb_compress_dxt_block(out, block, dxt5, STB_DXT_HIGHQUAL);
                    break;
                case Encoder::Ours:
                    break;
            }
        }
    }
}

// RMSE in 8-bit units over R, G, B and separately over alpha, decoding
// every encoder's blocks with the same decoder.
void Measure(bool dxt5, const Image& image, const std::vector<BYTE>& blocks, double& rgb, double& alpha,
             double& luma) {
    const int blockBytes = dxt5 ? 16 : 8;
    double colourSum = 0, alphaSum = 0, lumaSum = 0;
    // Squared luma weights relative to green, for the weighted error.
    const double weights[3] = {0.29703665 * 0.29703665, 1.0, 0.10078278 * 0.10078278};
    Colour4 decoded[16];
    for (int by = 0; by < kSize / 4; ++by) {
        for (int bx = 0; bx < kSize / 4; ++bx) {
            DecodeDxtBlock(dxt5 ? D3DFMT_DXT5 : D3DFMT_DXT1, &blocks[(static_cast<size_t>(by) * (kSize / 4) + bx) * blockBytes], decoded);
            for (int i = 0; i < 16; ++i) {
                const BYTE* s = &image.rgba[(static_cast<size_t>(by * 4 + i / 4) * kSize + bx * 4 + i % 4) * 4];
                const float v[4] = {decoded[i].r, decoded[i].g, decoded[i].b, decoded[i].a};
                for (int c = 0; c < 4; ++c) {
                    const double d = std::floor(v[c] * 255 + 0.5) - s[c];
                    (c < 3 ? colourSum : alphaSum) += d * d;
                    if (c < 3) lumaSum += weights[c] * d * d;
                }
            }
        }
    }
    rgb = std::sqrt(colourSum / (3.0 * kSize * kSize));
    alpha = std::sqrt(alphaSum / (1.0 * kSize * kSize));
    luma = std::sqrt(lumaSum / ((weights[0] + weights[1] + weights[2]) * kSize * kSize));
}

void RunEncoder(benchmark::State& state, int imageIndex, bool dxt5, Encoder encoder) {
    const Image& image = GetImage(imageIndex, dxt5);
    if (!image.loaded) {
        state.SkipWithError("image not found (package mate-backgrounds)");
        return;
    }
    std::vector<BYTE> blocks(static_cast<size_t>(kSize) * kSize / 16 * (dxt5 ? 16 : 8));
    // Thread CPU time: the machine is shared, and wall time would count
    // other processes' turns.
    double seconds = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        Encode(encoder, dxt5, image, blocks);
        benchmark::DoNotOptimize(blocks.data());
        seconds += ThreadSeconds() - start;
    }
    double rgb = 0, alpha = 0, luma = 0;
    Measure(dxt5, image, blocks, rgb, alpha, luma);
    state.counters["rmse_w"] = luma;
    state.counters["MP/s"] = static_cast<double>(kSize) * kSize * static_cast<double>(state.iterations()) / seconds / 1e6;
    state.counters["rmse"] = rgb;
    if (dxt5) state.counters["rmse_a"] = alpha;
}

std::string Name(bool dxt5, int image, Encoder encoder) {
    return std::string(dxt5 ? "DXT5/" : "DXT1/") + kImages[image] + "/" + kEncoderNames[static_cast<int>(encoder)];
}

const bool registered = [] {
    for (bool dxt5 : {false, true}) {
        for (int i = 0; i < static_cast<int>(sizeof(kImages) / sizeof(kImages[0])); ++i) {
            for (Encoder e : {Encoder::Ours, Encoder::Stb, Encoder::StbHigh, Encoder::SquishRange,
                              Encoder::SquishCluster}) {
                auto* b = benchmark::RegisterBenchmark(Name(dxt5, i, e).c_str(), RunEncoder, i, dxt5, e);
                b->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
                if (e == Encoder::SquishCluster || e == Encoder::StbHigh) {
                    b->Iterations(1);
                } else {
                    b->MinTime(0.2);
                }
            }
        }
    }
    return true;
}();

void ReportDxtTargets() {
    // Both yardsticks beside every peer: the plain RGB error, and the
    // luma-weighted error the encoder's fit minimises (red and blue count
    // less than green).
    for (bool dxt5 : {false, true}) {
        const char* format = dxt5 ? "dxt5" : "dxt1";
        for (int i = 0; i < static_cast<int>(sizeof(kImages) / sizeof(kImages[0])); ++i) {
            for (const char* counter : {"rmse", "rmse_w"}) {
                std::printf("NOTE %s-%s-%s", format, counter[4] ? "rmse-luma-weighted" : "rmse-rgb", kImages[i]);
                for (Encoder e : {Encoder::Ours, Encoder::Stb, Encoder::StbHigh, Encoder::SquishRange,
                                  Encoder::SquishCluster})
                    std::printf(" %s=%.3f", kEncoderNames[static_cast<int>(e)],
                                MedianCounter(Name(dxt5, i, e), counter));
                std::printf("\n");
            }
        }
    }
    for (bool dxt5 : {false, true}) {
        const char* format = dxt5 ? "dxt5" : "dxt1";
        double slowest = NAN, stbSlowest = NAN;
        for (int i = 0; i < static_cast<int>(sizeof(kImages) / sizeof(kImages[0])); ++i) {
            const double ours = MedianCounter(Name(dxt5, i, Encoder::Ours), "rmse");
            const double stb = MedianCounter(Name(dxt5, i, Encoder::Stb), "rmse");
            PrintTarget(std::string(format) + "-rmse-" + kImages[i], ours, stb, "<=1");
            if (dxt5) {
                PrintTarget(std::string(format) + "-rmse-alpha-" + kImages[i],
                            MedianCounter(Name(dxt5, i, Encoder::Ours), "rmse_a"),
                            MedianCounter(Name(dxt5, i, Encoder::Stb), "rmse_a"), "<=1");
            }
            slowest = std::fmin(slowest, MedianCounter(Name(dxt5, i, Encoder::Ours), "MP/s"));
            stbSlowest = std::fmin(stbSlowest, MedianCounter(Name(dxt5, i, Encoder::Stb), "MP/s"));
        }
        PrintTarget(std::string(format) + "-speed-mpps", slowest, -1, ">=35");
        // The goal beyond the target: stb_dxt's speed.
        PrintTarget(std::string(format) + "-speed-vs-stb", slowest, stbSlowest, ">=1");
    }
}

const bool reported = AddTargetReport(ReportDxtTargets);

}  // namespace
