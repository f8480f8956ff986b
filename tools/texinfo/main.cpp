// vintrel-texinfo: describes an image file as the texture library reads it,
// creates a texture from it on a headless software device, and can write
// the texture's levels as PNG.
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "format_names.h"
#include "texture/texture.h"
#include "platform/d3d9/offscreen_device.h"
#include "platform/win32/whole_file.h"

namespace {
const char kUsage[] =
    "usage: vintrel-texinfo FILE [--out OUT.png] [--format D3DFMT_NAME] [--filter N] [--mipfilter N] [--mips]\n"
    "\n"
    "Reads FILE (DDS, BMP, DIB, TGA, PPM, PFM, HDR, JPEG, PNG) and prints\n"
    "  width=W height=H depth=D mips=M format=D3DFMT_NAME resource=texture|volume|cube filetype=dds|bmp|...\n"
    "then creates a texture from it on a headless software device and prints\n"
    "  texture width=W height=H levels=L format=D3DFMT_NAME\n"
    "\n"
    "  --out OUT.png     write level 0 as 8-bit RGBA PNG (with --mips every level, as OUT-<level>.png)\n"
    "  --format NAME     create the texture in this format, in the scratch pool\n"
    "  --filter N        filter word for loading the file's levels (decimal or 0x hex)\n"
    "  --mipfilter N     filter word for generating the missing levels\n"
    "  --mips            create the full mip chain (default: one level)\n"
    "  --help            show this text\n"
    "\n"
    "Filters: 1 none, 2 point, 3 linear, 4 triangle, 5 box; flags 0x10000/0x20000/0x40000 mirror U/V/W,\n"
    "0x80000 ordered dither, 0x100000 error diffusion, 0x200000 gamma in, 0x400000 gamma out.\n"
    "A file that cannot be used prints error=0x<HRESULT> <reason> and exits with status 1.\n";

int Fail(HRESULT hr, const char* reason) {
    std::printf("error=0x%08X %s\n", unsigned(hr), reason);
    return 1;
}

bool ParseNumber(const char* text, DWORD* value) {
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFull) return false;
    *value = DWORD(v);
    return true;
}

const char* ResourceName(D3DRESOURCETYPE type) {
    switch (type) {
    case D3DRTYPE_VOLUMETEXTURE:
        return "volume";
    case D3DRTYPE_CUBETEXTURE:
        return "cube";
    default:
        return "texture";
    }
}

const char* FileTypeName(ImageFileType type) {
    static const char* const names[] = {"bmp", "jpg", "tga", "png", "dds", "ppm", "dib", "hdr", "pfm"};
    return DWORD(type) < 9 ? names[type] : "unknown";
}

IDirect3DDevice9* CreateHeadlessDevice() { return CreateOffscreenDevice(); }

BYTE ToByte(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    if (v >= 1.0f) return 255;
    return BYTE(v * 255.0f + 0.5f);
}

bool WritePng(const std::string& path, UINT width, UINT height, const std::vector<BYTE>& rgba) {
    OutputFile file(path);
    if (!file.Stream()) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.Stream());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (UINT y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(rgba.data() + size_t(y) * width * 4));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file.Commit();
}

// Decodes level `level` of the texture through its format's codec and
// writes it as RGBA.
HRESULT WriteLevel(IDirect3DTexture9* texture, UINT level, const std::string& path) {
    D3DSURFACE_DESC desc = {};
    HRESULT hr = texture->GetLevelDesc(level, &desc);
    if (FAILED(hr)) return hr;
    D3DLOCKED_RECT locked = {};
    hr = texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY);
    if (FAILED(hr)) return hr;
    PixelSurface surface;
    surface.pixels = static_cast<BYTE*>(locked.pBits);
    surface.format = desc.Format;
    surface.rowPitch = UINT(locked.Pitch);
    surface.box = {0, 0, desc.Width, desc.Height, 0, 1};
    std::unique_ptr<PixelCodec> codec;
    hr = CreatePixelCodec(surface, codec);
    std::vector<BYTE> rgba;
    if (SUCCEEDED(hr) && codec) {
        std::vector<Colour4> row(desc.Width);
        rgba.resize(size_t(desc.Width) * desc.Height * 4);
        for (UINT y = 0; y < desc.Height; ++y) {
            codec->ReadRow(y, 0, row.data());
            for (UINT x = 0; x < desc.Width; ++x) {
                BYTE* out = &rgba[(size_t(y) * desc.Width + x) * 4];
                out[0] = ToByte(row[x].r);
                out[1] = ToByte(row[x].g);
                out[2] = ToByte(row[x].b);
                out[3] = ToByte(row[x].a);
            }
        }
    } else if (SUCCEEDED(hr)) {
        hr = E_FAIL;
    }
    codec.reset();
    texture->UnlockRect(level);
    if (FAILED(hr)) return hr;
    return WritePng(path, desc.Width, desc.Height, rgba) ? S_OK : E_FAIL;
}

std::string LevelPath(const std::string& out, UINT level) {
    std::string stem = out;
    if (stem.size() > 4 && strcasecmp(stem.c_str() + stem.size() - 4, ".png") == 0) stem.resize(stem.size() - 4);
    return stem + "-" + std::to_string(level) + ".png";
}
}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    const char* out = nullptr;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    bool formatGiven = false, mips = false;
    DWORD filter = USE_DEFAULT, mipFilter = USE_DEFAULT;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--mips") {
            mips = true;
        } else if (arg == "--out" && hasValue) {
            out = argv[++i];
        } else if (arg == "--format" && hasValue) {
            if (!FormatFromName(argv[++i], &format)) return Fail(D3DERR_INVALIDCALL, "unknown format name");
            formatGiven = true;
        } else if ((arg == "--filter" || arg == "--mipfilter") && hasValue) {
            if (!ParseNumber(argv[++i], arg == "--filter" ? &filter : &mipFilter))
                return Fail(D3DERR_INVALIDCALL, "filter is not a number");
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "vintrel-texinfo: unknown or incomplete option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else if (!path) {
            path = argv[i];
        } else {
            std::fprintf(stderr, "vintrel-texinfo: more than one file\n%s", kUsage);
            return 2;
        }
    }
    if (!path) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    MappedFile file;
    if (!file.Open(path)) return Fail(ERR_INVALID_DATA, "cannot open file");
    if (file.Size() == 0 || file.Size() > 0xFFFFFFFFull) return Fail(D3DERR_INVALIDCALL, "empty or oversized file");
    ImageInfo info = {};
    {
        ImageLevel root;
        const HRESULT hr = ReadImageFile(&root, file.Data(), UINT(file.Size()), &info, FALSE);
        if (FAILED(hr)) return Fail(hr, "not an image the library reads");
    }
    char name[16];
    std::printf("width=%u height=%u depth=%u mips=%u format=%s resource=%s filetype=%s\n", info.width, info.height,
                info.depth, info.mipLevels, FormatName(info.format, name), ResourceName(info.resourceType),
                FileTypeName(info.fileType));

    IDirect3DDevice9* device = CreateHeadlessDevice();
    if (!device) return Fail(E_FAIL, "cannot create the software device");
    IDirect3DTexture9* texture = nullptr;
    HRESULT hr = CreateTextureFromMemory(device, file.Data(), UINT(file.Size()), USE_IMAGE_SIZE, USE_IMAGE_SIZE,
                                         mips ? 0 : 1, 0, formatGiven ? format : D3DFMT_UNKNOWN,
                                         formatGiven ? D3DPOOL_SCRATCH : D3DPOOL_MANAGED, filter, mipFilter, 0,
                                         nullptr, nullptr, &texture);
    if (FAILED(hr)) {
        device->Release();
        return Fail(hr, "cannot create a texture from the file");
    }
    D3DSURFACE_DESC desc = {};
    texture->GetLevelDesc(0, &desc);
    const UINT levels = texture->GetLevelCount();
    std::printf("texture width=%u height=%u levels=%u format=%s\n", desc.Width, desc.Height, levels,
                FormatName(desc.Format, name));

    int status = 0;
    if (out) {
        const UINT written = mips ? levels : 1;
        for (UINT level = 0; level < written && status == 0; ++level) {
            const std::string target = mips ? LevelPath(out, level) : std::string(out);
            hr = WriteLevel(texture, level, target);
            if (FAILED(hr)) status = Fail(hr, ("cannot write " + target).c_str());
        }
    }
    texture->Release();
    device->Release();
    if (!FlushStdout("vintrel-texinfo")) return 1;
    return status;
}
