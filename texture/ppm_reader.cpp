// Portable pixmaps: "P3" text samples and "P6" binary samples, 8 bits per
// channel out.
#include <memory>

#include "texture/byte_reader.h"
#include "texture/image_readers.h"

namespace {
bool IsSpace(BYTE c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Skips whitespace and comments, then reads a decimal number that fits 32
// bits. Fails on anything else or at the end of the data.
bool ReadNumber(ByteReader& in, uint32_t& value) {
    BYTE c;
    for (;;) {
        if (!in.PeekU8(c)) return false;
        if (IsSpace(c)) {
            in.Skip(1);
        } else if (c == '#') {
            while (in.ReadU8(c) && c != '\n') {
            }
        } else {
            break;
        }
    }
    if (c < '0' || c > '9') return false;
    uint64_t v = 0;
    while (in.PeekU8(c) && c >= '0' && c <= '9') {
        v = v * 10 + (c - '0');
        if (v > 0xFFFFFFFFu) return false;
        in.Skip(1);
    }
    // A token ends at whitespace, a comment or the end of the data.
    if (in.PeekU8(c) && !IsSpace(c) && c != '#') return false;
    value = uint32_t(v);
    return true;
}
}  // namespace

HRESULT ReadPpmImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    if (!bytes || byteCount < 2 || bytes[0] != 'P' || (bytes[1] != '3' && bytes[1] != '6')) return E_FAIL;
    const bool binary = bytes[1] == '6';
    ByteReader in(bytes, byteCount);
    in.Skip(2);
    BYTE c;
    if (!in.PeekU8(c) || (!IsSpace(c) && c != '#')) return E_FAIL;
    uint32_t width, height, maximum;
    if (!ReadNumber(in, width) || !ReadNumber(in, height) || height == 0 || width == 0) return E_FAIL;
    if (!ReadNumber(in, maximum) || maximum == 0 || (binary && maximum > 255)) return E_FAIL;

    const uint64_t pixelCount = uint64_t(width) * height;
    const uint64_t pitch = uint64_t(width) * 4;
    if (pitch > 0xFFFFFFFF) return E_FAIL;
    root->format = D3DFMT_X8R8G8B8;
    root->width = width;
    root->height = height;
    root->depth = 1;
    root->rowPitch = UINT(pitch);
    root->slicePitch = 0;
    if (!root->decodePixels) return S_OK;

    // The samples must be there before a block is taken for them: three
    // bytes per binary pixel, two bytes per text sample but the last.
    if (binary) {
        BYTE space;
        if (!in.ReadU8(space) || !IsSpace(space)) return E_FAIL;
        if (space == '\r' && !in.Skip(1)) return E_FAIL;
        if (in.Remaining() / 3 < pixelCount) return E_FAIL;
    } else if ((in.Remaining() + 1) / 6 < pixelCount) {
        return E_FAIL;
    }
    std::unique_ptr<BYTE[]> block(AllocateBlock(pixelCount * 4));
    if (!block) return E_OUTOFMEMORY;
    BYTE* out = block.get();
    for (uint64_t i = 0; i < pixelCount; ++i, out += 4) {
        uint32_t rgb[3];
        for (uint32_t& sample : rgb) {
            if (binary) {
                BYTE b = 0;
                if (!in.ReadU8(b)) return E_FAIL;
                sample = b;
            } else if (!ReadNumber(in, sample)) {
                return E_FAIL;
            }
            if (sample > maximum) return E_FAIL;
            sample = uint32_t(uint64_t(sample) * 255 / maximum);
        }
        out[0] = BYTE(rgb[2]);
        out[1] = BYTE(rgb[1]);
        out[2] = BYTE(rgb[0]);
        out[3] = 255;
    }
    root->pixels = block.release();
    root->ownsPixels = true;
    return S_OK;
}
