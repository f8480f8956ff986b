#include "image_writers.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/win32/whole_file.h"
#include "texture/block_codec.h"

namespace assets {

namespace {
struct Bytes {
    std::vector<uint8_t> data;
    void U8(uint32_t v) { data.push_back(uint8_t(v)); }
    void U16(uint32_t v) { U8(v), U8(v >> 8); }
    void U32(uint32_t v) { U16(v), U16(v >> 16); }
    void Raw(const void* p, size_t n) {
        data.insert(data.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    }
};

// DXT blocks come from the texture library's encoder, the one textures
// made by the program use too.
void EncodeBlock(DdsFormat format, const Rgba block[16], uint8_t* out) {
    Colour4 in[16];
    for (int i = 0; i < 16; ++i)
        in[i] = {block[i].r / 255.0f, block[i].g / 255.0f, block[i].b / 255.0f, block[i].a / 255.0f};
    const D3DFORMAT d3dFormat = format == DdsFormat::DXT1   ? D3DFMT_DXT1
                                : format == DdsFormat::DXT3 ? D3DFMT_DXT3
                                                            : D3DFMT_DXT5;
    EncodeDxtBlock(d3dFormat, in, false, out);
}

bool Fail(const std::string& path, const char* what) {
    std::fprintf(stderr, "make-assets: cannot write %s: %s\n", path.c_str(), what);
    return false;
}
}  // namespace

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string error;
    return WriteWholeFile(path, bytes.data(), bytes.size(), &error) ? true : Fail(path, error.c_str());
}

bool WritePng(const std::string& path, const Image& image, bool alpha) {
    OutputFile file(path);
    if (!file.Stream()) return Fail(path, file.Error().c_str());
    // Made before libpng may jump back to the setjmp below.
    std::vector<uint8_t> row(size_t(image.width) * 4);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return Fail(path, "libpng error");
    }
    png_init_io(png, file.Stream());
    png_set_IHDR(png, info, image.width, image.height, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) {
        size_t n = 0;
        for (int x = 0; x < image.width; ++x) {
            const Rgba& p = image.at(x, y);
            row[n++] = p.r, row[n++] = p.g, row[n++] = p.b;
            if (alpha) row[n++] = p.a;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file.Commit() ? true : Fail(path, file.Error().c_str());
}

namespace {
// libjpeg's own handler ends the process on an error, a failed write among
// them; this one jumps back to the writer instead.
struct JpegErrors {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}
}  // namespace

bool WriteJpeg(const std::string& path, const Image& image, int quality) {
    OutputFile file(path);
    if (!file.Stream()) return Fail(path, file.Error().c_str());
    std::vector<uint8_t> row(size_t(image.width) * 3);
    jpeg_compress_struct cinfo = {};
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegErrorExit;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return Fail(path, "libjpeg error");
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file.Stream());
    cinfo.image_width = image.width;
    cinfo.image_height = image.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const Rgba& p = image.at(x, y);
            row[3 * x] = p.r, row[3 * x + 1] = p.g, row[3 * x + 2] = p.b;
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return file.Commit() ? true : Fail(path, file.Error().c_str());
}

static void BmpHeaders(Bytes& b, const Image& image, int bits, uint32_t paletteEntries, uint32_t rowBytes) {
    uint32_t offset = 14 + 40 + paletteEntries * 4;
    uint32_t imageBytes = rowBytes * uint32_t(image.height);
    b.Raw("BM", 2);
    b.U32(offset + imageBytes), b.U32(0), b.U32(offset);
    b.U32(40), b.U32(image.width), b.U32(image.height), b.U16(1), b.U16(bits), b.U32(0);
    b.U32(imageBytes), b.U32(2835), b.U32(2835), b.U32(paletteEntries), b.U32(0);
}

bool WriteBmp24(const std::string& path, const Image& image) {
    Bytes b;
    uint32_t rowBytes = (uint32_t(image.width) * 3 + 3) & ~3u;
    BmpHeaders(b, image, 24, 0, rowBytes);
    for (int y = image.height - 1; y >= 0; --y) {  // bottom-up
        for (int x = 0; x < image.width; ++x) {
            const Rgba& p = image.at(x, y);
            b.U8(p.b), b.U8(p.g), b.U8(p.r);
        }
        for (uint32_t pad = uint32_t(image.width) * 3; pad < rowBytes; ++pad) b.U8(0);
    }
    return WriteFile(path, b.data);
}

bool WriteBmp8(const std::string& path, const Image& image) {
    // Exact palette when the picture has few colours, else a 6x7x6 cube.
    std::map<uint32_t, uint8_t> exact;
    for (const Rgba& p : image.pixels) {
        uint32_t key = (uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | p.b;
        if (!exact.count(key)) {
            if (exact.size() == 256) break;
            exact.emplace(key, uint8_t(exact.size()));
        }
    }
    bool useExact = exact.size() <= 256;
    for (const Rgba& p : image.pixels)
        if (!exact.count((uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | p.b)) useExact = false;
    std::vector<Rgba> palette;
    if (useExact) {
        palette.resize(exact.size());
        for (auto& [key, index] : exact) palette[index] = {uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key), 0};
    } else {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 7; ++g)
                for (int bl = 0; bl < 6; ++bl)
                    palette.push_back({uint8_t(r * 51), uint8_t(g * 255 / 6), uint8_t(bl * 51), 0});
    }
    auto indexOf = [&](const Rgba& p) -> uint8_t {
        if (useExact) return exact[(uint32_t(p.r) << 16) | (uint32_t(p.g) << 8) | p.b];
        int r = (p.r * 5 + 127) / 255, g = (p.g * 6 + 127) / 255, bl = (p.b * 5 + 127) / 255;
        return uint8_t((r * 7 + g) * 6 + bl);
    };
    Bytes b;
    uint32_t rowBytes = (uint32_t(image.width) + 3) & ~3u;
    BmpHeaders(b, image, 8, uint32_t(palette.size()), rowBytes);
    for (const Rgba& p : palette) b.U8(p.b), b.U8(p.g), b.U8(p.r), b.U8(0);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) b.U8(indexOf(image.at(x, y)));
        for (uint32_t pad = uint32_t(image.width); pad < rowBytes; ++pad) b.U8(0);
    }
    return WriteFile(path, b.data);
}

bool WriteTgaRle(const std::string& path, const Image& image, bool alpha) {
    Bytes b;
    b.U8(0), b.U8(0), b.U8(10);             // no id, no colour map, RLE true colour
    b.U16(0), b.U16(0), b.U8(0);            // colour map spec
    b.U16(0), b.U16(0), b.U16(image.width), b.U16(image.height);
    b.U8(alpha ? 32 : 24);
    b.U8((alpha ? 8 : 0) | 0x20);           // alpha bits, top-down
    int bpp = alpha ? 4 : 3;
    auto pixel = [&](const Rgba& p) {
        b.U8(p.b), b.U8(p.g), b.U8(p.r);
        if (alpha) b.U8(p.a);
    };
    auto same = [&](const Rgba& p, const Rgba& q) {
        return p.r == q.r && p.g == q.g && p.b == q.b && (!alpha || p.a == q.a);
    };
    (void)bpp;
    for (int y = 0; y < image.height; ++y) {  // packets never cross rows
        int x = 0;
        while (x < image.width) {
            int run = 1;
            while (x + run < image.width && run < 128 && same(image.at(x + run, y), image.at(x, y))) ++run;
            if (run >= 2) {
                b.U8(0x80 | (run - 1));
                pixel(image.at(x, y));
                x += run;
                continue;
            }
            int raw = 1;
            while (x + raw < image.width && raw < 128 &&
                   !(x + raw + 1 < image.width && same(image.at(x + raw, y), image.at(x + raw + 1, y))))
                ++raw;
            b.U8(raw - 1);
            for (int i = 0; i < raw; ++i) pixel(image.at(x + i, y));
            x += raw;
        }
    }
    return WriteFile(path, b.data);
}

bool WritePpm(const std::string& path, const Image& image) {
    Bytes b;
    std::string header = "P6\n# Vintrel data set\n" + std::to_string(image.width) + " " +
                         std::to_string(image.height) + "\n255\n";
    b.Raw(header.data(), header.size());
    for (const Rgba& p : image.pixels) b.U8(p.r), b.U8(p.g), b.U8(p.b);
    return WriteFile(path, b.data);
}

bool WriteDds(const std::string& path, const Image& image, DdsFormat format, bool mips) {
    bool compressed = format == DdsFormat::DXT1 || format == DdsFormat::DXT3 || format == DdsFormat::DXT5;
    int levels = 1;
    if (mips)
        for (int w = image.width, h = image.height; w > 1 || h > 1; w = std::max(1, w / 2), h = std::max(1, h / 2))
            ++levels;
    uint32_t bits = 0, rMask = 0, gMask = 0, bMask = 0, aMask = 0, fourcc = 0;
    switch (format) {
        case DdsFormat::A8R8G8B8: bits = 32, rMask = 0xFF0000, gMask = 0xFF00, bMask = 0xFF, aMask = 0xFF000000; break;
        case DdsFormat::X8R8G8B8: bits = 32, rMask = 0xFF0000, gMask = 0xFF00, bMask = 0xFF; break;
        case DdsFormat::R5G6B5: bits = 16, rMask = 0xF800, gMask = 0x7E0, bMask = 0x1F; break;
        case DdsFormat::A4R4G4B4: bits = 16, rMask = 0xF00, gMask = 0xF0, bMask = 0xF, aMask = 0xF000; break;
        case DdsFormat::A1R5G5B5: bits = 16, rMask = 0x7C00, gMask = 0x3E0, bMask = 0x1F, aMask = 0x8000; break;
        case DdsFormat::DXT1: fourcc = 0x31545844; break;
        case DdsFormat::DXT3: fourcc = 0x33545844; break;
        case DdsFormat::DXT5: fourcc = 0x35545844; break;
    }
    uint32_t blockBytes = format == DdsFormat::DXT1 ? 8 : 16;
    auto levelBytes = [&](int w, int h) -> uint32_t {
        if (compressed) return uint32_t((w + 3) / 4) * uint32_t((h + 3) / 4) * blockBytes;
        return uint32_t(w) * uint32_t(h) * bits / 8;
    };
    Bytes b;
    b.U32(0x20534444);  // "DDS "
    uint32_t flags = 0x1 | 0x2 | 0x4 | 0x1000 | (mips ? 0x20000 : 0) | (compressed ? 0x80000 : 0x8);
    b.U32(124), b.U32(flags), b.U32(image.height), b.U32(image.width);
    b.U32(compressed ? levelBytes(image.width, image.height) : uint32_t(image.width) * bits / 8);
    b.U32(0), b.U32(mips ? levels : 0);
    for (int i = 0; i < 11; ++i) b.U32(0);
    // Pixel format.
    b.U32(32);
    b.U32(compressed ? 0x4 : (0x40 | (aMask ? 0x1 : 0)));
    b.U32(fourcc), b.U32(bits), b.U32(rMask), b.U32(gMask), b.U32(bMask), b.U32(aMask);
    b.U32(0x1000 | (mips ? 0x400008 : 0)), b.U32(0), b.U32(0), b.U32(0), b.U32(0);

    Image level = image;
    for (int l = 0; l < levels; ++l) {
        if (l > 0) level = Downsample(level);
        if (compressed) {
            for (int by = 0; by < level.height; by += 4)
                for (int bx = 0; bx < level.width; bx += 4) {
                    Rgba block[16];
                    for (int i = 0; i < 16; ++i)  // partial blocks repeat their edge pixels
                        block[i] = level.at(std::min(bx + i % 4, level.width - 1),
                                            std::min(by + i / 4, level.height - 1));
                    uint8_t out[16];
                    EncodeBlock(format, block, out);
                    b.Raw(out, blockBytes);
                }
            continue;
        }
        for (const Rgba& p : level.pixels) {
            switch (format) {
                case DdsFormat::A8R8G8B8: b.U8(p.b), b.U8(p.g), b.U8(p.r), b.U8(p.a); break;
                case DdsFormat::X8R8G8B8: b.U8(p.b), b.U8(p.g), b.U8(p.r), b.U8(0xFF); break;
                case DdsFormat::R5G6B5: b.U16(((p.r * 31 + 127) / 255) << 11 | ((p.g * 63 + 127) / 255) << 5 | (p.b * 31 + 127) / 255); break;
                case DdsFormat::A4R4G4B4: b.U16(((p.a * 15 + 127) / 255) << 12 | ((p.r * 15 + 127) / 255) << 8 | ((p.g * 15 + 127) / 255) << 4 | (p.b * 15 + 127) / 255); break;
                case DdsFormat::A1R5G5B5: b.U16((p.a >= 128 ? 0x8000 : 0) | ((p.r * 31 + 127) / 255) << 10 | ((p.g * 31 + 127) / 255) << 5 | (p.b * 31 + 127) / 255); break;
                default: break;
            }
        }
    }
    return WriteFile(path, b.data);
}

}  // namespace assets
