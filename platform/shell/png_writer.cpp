// Captured frames as 8-bit RGB PNG files, compressed by libpng.
#include <png.h>

#include <string>
#include <vector>

#include "platform/shell/headless.h"
#include "platform/win32/whole_file.h"

bool WritePng(const std::string& path, UINT width, UINT height, const std::uint32_t* xrgb,
              std::string* error) {
    if (!xrgb || width == 0 || height == 0 || width > 16384 || height > 16384) {
        if (error) *error = "no image to write";
        return false;
    }
    OutputFile file(path);
    if (!file.Stream()) {
        if (error) *error = "cannot create " + path + ": " + file.Error();
        return false;
    }
    // Made before libpng may jump back to the setjmp below, which would
    // skip the destructor of anything made after it.
    std::vector<png_byte> row(std::size_t(width) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        if (error) *error = "cannot write " + path;
        return false;
    }
    png_init_io(png, file.Stream());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (UINT y = 0; y < height; ++y) {
        const std::uint32_t* p = xrgb + std::size_t(y) * width;
        for (UINT x = 0; x < width; ++x) {
            row[3 * x] = png_byte(p[x] >> 16);
            row[3 * x + 1] = png_byte(p[x] >> 8);
            row[3 * x + 2] = png_byte(p[x]);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (!file.Commit()) {
        if (error) *error = "cannot write " + path + ": " + file.Error();
        return false;
    }
    return true;
}
