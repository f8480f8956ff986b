// Portable float maps: "PF" colour and "Pf" grey, either byte order.
#include <cstdio>
#include <cstring>
#include <memory>

#include "texture/byte_reader.h"
#include "texture/image_readers.h"

namespace {
// The next line of at most 256 bytes (line feed included) as a string.
bool ReadLine(ByteReader& in, char (&line)[257]) {
    const size_t limit = in.Remaining() < 256 ? in.Remaining() : 256;
    const void* end = std::memchr(in.Current(), '\n', limit);
    if (!end) return false;
    const size_t length = size_t(static_cast<const BYTE*>(end) - in.Current());
    std::memcpy(line, in.Current(), length);
    line[length] = '\0';
    in.Skip(length + 1);
    return true;
}
}  // namespace

HRESULT ReadPfmImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    if (!bytes || byteCount < 4 || bytes[0] != 'P' || (bytes[1] != 'F' && bytes[1] != 'f') || bytes[2] != '\n')
        return E_FAIL;
    const UINT channels = bytes[1] == 'F' ? 3 : 1;
    ByteReader in(bytes, byteCount);
    in.Skip(3);
    char line[257], rest[257];
    unsigned width = 0, height = 0;
    float scale = 0;
    if (!ReadLine(in, line) || std::sscanf(line, "%u %u%256s", &width, &height, rest) != 2) return E_FAIL;
    if (!ReadLine(in, line) || std::sscanf(line, "%f%256s", &scale, rest) != 1) return E_FAIL;
    if (width == 0 || height == 0) return E_FAIL;

    const uint64_t floats = uint64_t(width) * height * channels;
    if (in.Remaining() / 4 < floats) return E_FAIL;
    const uint64_t pitch = uint64_t(width) * 16;
    if (pitch > 0xFFFFFFFF) return E_FAIL;
    root->format = D3DFMT_A32B32G32R32F;
    root->width = width;
    root->height = height;
    root->depth = 1;
    root->rowPitch = UINT(pitch);
    root->slicePitch = 0;
    if (!root->decodePixels) return S_OK;

    std::unique_ptr<BYTE[]> block(AllocateBlock(pitch * height));
    if (!block) return E_OUTOFMEMORY;
    const bool littleEndian = scale < 0;
    const BYTE* src = in.Current();
    for (uint64_t row = 0; row < height; ++row) {
        auto* out = reinterpret_cast<float*>(block.get() + (height - 1 - row) * pitch);
        for (uint64_t x = 0; x < width; ++x, out += 4) {
            float v[3];
            for (UINT c = 0; c < channels; ++c, src += 4) {
                const uint32_t bits = littleEndian ? LoadU32(src)
                                                   : (uint32_t(src[0]) << 24) | (uint32_t(src[1]) << 16) |
                                                         (uint32_t(src[2]) << 8) | src[3];
                std::memcpy(&v[c], &bits, 4);
            }
            if (channels == 1) v[1] = v[2] = v[0];
            out[0] = v[0];
            out[1] = v[1];
            out[2] = v[2];
            out[3] = 1.0f;
        }
    }
    root->pixels = block.release();
    root->ownsPixels = true;
    return S_OK;
}
