// A small PNG writer for captured frames: 8-bit RGB, the image data in
// stored (uncompressed) deflate blocks, so it needs no compression library.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/shell/headless.h"

namespace {

std::uint32_t Crc32(const BYTE* data, std::size_t size, std::uint32_t crc = 0) {
    static std::uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutU32(std::vector<BYTE>& out, std::uint32_t v) {
    out.push_back(static_cast<BYTE>(v >> 24));
    out.push_back(static_cast<BYTE>(v >> 16));
    out.push_back(static_cast<BYTE>(v >> 8));
    out.push_back(static_cast<BYTE>(v));
}

void PutChunk(std::vector<BYTE>& out, const char type[4], const std::vector<BYTE>& data) {
    PutU32(out, static_cast<std::uint32_t>(data.size()));
    std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutU32(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

bool WritePng(const std::string& path, UINT width, UINT height, const std::uint32_t* xrgb,
              std::string* error) {
    if (!xrgb || width == 0 || height == 0 || width > 16384 || height > 16384) {
        if (error) *error = "no image to write";
        return false;
    }
    // Rows with filter byte 0.
    std::vector<BYTE> raw;
    raw.reserve((std::size_t(width) * 3 + 1) * height);
    for (UINT y = 0; y < height; ++y) {
        raw.push_back(0);
        for (UINT x = 0; x < width; ++x) {
            std::uint32_t p = xrgb[std::size_t(y) * width + x];
            raw.push_back(static_cast<BYTE>(p >> 16));
            raw.push_back(static_cast<BYTE>(p >> 8));
            raw.push_back(static_cast<BYTE>(p));
        }
    }
    // zlib stream: header, stored blocks of at most 65535 bytes, Adler-32.
    std::vector<BYTE> z = {0x78, 0x01};
    std::size_t offset = 0;
    do {
        std::size_t n = std::min<std::size_t>(65535, raw.size() - offset);
        bool last = offset + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<BYTE>(n));
        z.push_back(static_cast<BYTE>(n >> 8));
        z.push_back(static_cast<BYTE>(~n));
        z.push_back(static_cast<BYTE>(~n >> 8));
        z.insert(z.end(), raw.begin() + offset, raw.begin() + offset + n);
        offset += n;
    } while (offset < raw.size());
    std::uint32_t a = 1, b = 0;
    for (BYTE byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutU32(z, (b << 16) | a);

    std::vector<BYTE> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<BYTE> header;
    PutU32(header, width);
    PutU32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", z);
    PutChunk(file, "IEND", {});

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok && error) *error = "cannot write " + path;
    return ok;
}
