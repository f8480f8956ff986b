// PNG files through libpng: every colour type and bit depth, gamma, tRNS,
// 16-bit samples kept in the internal 16-bit formats.
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "texture/byte_reader.h"
#include "texture/image_readers.h"
#include "texture/pixel_format.h"

namespace {
constexpr double kScreenGamma = 2.2;

struct PngSource {
    const BYTE* bytes;
    size_t size;
    size_t position;
};

// libpng errors come back here; the reader's setjmp point takes over.
[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->size - source->position < length) png_error(png, "read error");
    std::memcpy(out, source->bytes + source->position, length);
    source->position += length;
}

// Everything a decode holds outside libpng, so the longjmp path frees it.
struct PngDecode {
    png_structp png = nullptr;
    png_infop info = nullptr;
    BYTE* pixels = nullptr;
    PALETTEENTRY* palette = nullptr;
    std::vector<png_bytep> rows;
    ~PngDecode() {
        delete[] pixels;
        delete[] palette;
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// The libpng calls of one read. Kept free of C++ objects with destructors,
// since a libpng error longjmps out of it.
HRESULT DecodePng(ImageLevel* root, PngDecode& d, PngSource& source) {
    png_structp png = d.png;
    png_infop info = d.info;
    if (setjmp(png_jmpbuf(png))) return E_FAIL;

    png_set_read_fn(png, &source, PngRead);
    // Only the chunks that shape the pixels are read; every other chunk is
    // skipped unparsed, so a text or profile chunk that claims a gigabyte
    // costs neither the memory nor the time.
    static const png_byte kSkipped[] =
        "bKGD\0cHRM\0eXIf\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0tEXt\0tIME\0zTXt";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, int(sizeof(kSkipped) / 5));
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);

    D3DFORMAT format;
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: format = D3DFMT_L8; break;
    case PNG_COLOR_TYPE_RGB: format = D3DFMT_R8G8B8; break;
    case PNG_COLOR_TYPE_PALETTE: format = D3DFMT_P8; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: format = D3DFMT_A8L8; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: format = D3DFMT_A8R8G8B8; break;
    default: return E_FAIL;
    }
    if (bitDepth == 16) {
        png_set_swap(png);
        if (format == D3DFMT_R8G8B8) format = FMT_R16;
        else if (format == D3DFMT_A8R8G8B8) format = D3DFMT_A16B16G16R16;
        else if (format == D3DFMT_L8) format = D3DFMT_L16;
        else if (format == D3DFMT_A8L8) format = FMT_AL16;
        else return E_FAIL;
    } else if (bitDepth < 8) {
        png_set_packing(png);
        if (colourType == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);
    }

    // The palette as stored, before any transformation can touch it.
    png_colorp plte = nullptr;
    int plteCount = 0;
    PALETTEENTRY filePalette[256] = {};
    if (format == D3DFMT_P8) {
        if (!png_get_PLTE(png, info, &plte, &plteCount) || plteCount < 0) return E_FAIL;
        if (plteCount > 256) plteCount = 256;
        for (int i = 0; i < plteCount; ++i) filePalette[i] = {plte[i].red, plte[i].green, plte[i].blue, 255};
    }
    double fileGamma = 0.0;
    const bool hasGamma = png_get_gAMA(png, info, &fileGamma) != 0;
    int intent = 0;
    if (png_get_sRGB(png, info, &intent))
        png_set_sRGB(png, info, intent);
    else if (hasGamma)
        png_set_gamma(png, kScreenGamma, fileGamma);

    if (format != D3DFMT_P8 && png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
        if (format == D3DFMT_R8G8B8) format = D3DFMT_A8R8G8B8;
        else if (format == D3DFMT_L8) format = D3DFMT_A8L8;
        else if (format == D3DFMT_L16) format = FMT_AL16;
        else if (format == FMT_R16) format = D3DFMT_A16B16G16R16;
    }
    if (format == D3DFMT_R8G8B8 || format == D3DFMT_A8R8G8B8 || format == FMT_R16) png_set_bgr(png);
    if (format == D3DFMT_R8G8B8) {
        png_set_filler(png, 255, PNG_FILLER_AFTER);
        format = D3DFMT_X8R8G8B8;
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    png_byte expected = 1;
    if (format == FMT_R16)
        expected = 3;
    else if (format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8 || format == D3DFMT_A16B16G16R16)
        expected = 4;
    else if (format == D3DFMT_A8L8 || format == FMT_AL16)
        expected = 2;
    if (png_get_channels(png, info) != expected) return E_FAIL;

    const png_size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes == 0 || rowBytes > 0xFFFFFFFFu) return E_FAIL;
    root->format = format;
    root->width = width;
    root->height = height;
    root->depth = 1;
    root->rowPitch = UINT(rowBytes);
    root->slicePitch = 0;
    if (!root->decodePixels) return S_OK;

    // Deflate cannot expand data more than about 1032 times, and unpacking
    // and added channels grow a stored bit at most 16 times, so a file that
    // claims more pixel bytes than that would certainly end early.
    uint64_t blockBytes;
    if (!MultiplySize(rowBytes, height, blockBytes) || blockBytes / 17000 > source.size + 1024) return E_FAIL;
    d.pixels = AllocateBlock(blockBytes);
    if (!d.pixels) return E_OUTOFMEMORY;
    d.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) d.rows[y] = d.pixels + size_t(y) * rowBytes;
    png_read_image(png, d.rows.data());

    if (format == D3DFMT_P8) {
        d.palette = new (std::nothrow) PALETTEENTRY[256];
        if (!d.palette) return E_OUTOFMEMORY;
        BYTE table[256];
        for (int i = 0; i < 256; ++i) {
            if (fileGamma > 1e-6 && kScreenGamma > 1e-6)
                table[i] = BYTE(std::lround(255.0 * std::pow(i / 255.0, 1.0 / (fileGamma * kScreenGamma))));
            else
                table[i] = BYTE(i);
        }
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        if (!png_get_tRNS(png, info, &alpha, &alphaCount, nullptr)) alphaCount = 0;
        for (int i = 0; i < 256; ++i) {
            PALETTEENTRY e = filePalette[i];
            if (i >= plteCount) e = {0, 0, 0, 255};
            d.palette[i] = {table[e.peRed], table[e.peGreen], table[e.peBlue],
                            BYTE(alpha && i < alphaCount ? alpha[i] : 255)};
        }
    }
    return S_OK;
}
}  // namespace

HRESULT ReadPngImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    if (!bytes || byteCount < 8 || png_sig_cmp(bytes, 0, byteCount) != 0) return E_FAIL;
    PngDecode d;
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (!d.png) return E_OUTOFMEMORY;
    d.info = png_create_info_struct(d.png);
    if (!d.info) return E_OUTOFMEMORY;
    PngSource source{bytes, byteCount, 0};
    const HRESULT hr = DecodePng(root, d, source);
    if (FAILED(hr)) return hr;
    if (root->decodePixels) {
        root->pixels = d.pixels;
        root->ownsPixels = true;
        d.pixels = nullptr;
        if (d.palette) {
            root->palette = d.palette;
            root->ownsPalette = true;
            d.palette = nullptr;
        }
    }
    return S_OK;
}
