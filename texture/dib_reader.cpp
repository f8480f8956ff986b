// Bare device-independent bitmaps: core and info headers, palettes, 1 to 32
// bits per pixel, RLE8 and RLE4, and bit-field masks.
#include <cmath>
#include <cstring>
#include <memory>

#include "texture/byte_reader.h"
#include "texture/image_readers.h"

namespace {
constexpr DWORD BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;

struct MaskFormat {
    UINT bits;
    DWORD r, g, b, a;
    D3DFORMAT format;
};

// Mask sets that name a format of their own; any other set is decoded
// through the masks into floats.
constexpr MaskFormat kMaskFormats[] = {
    {16, 0xE0, 0x1C, 0x3, 0xFF00, D3DFMT_A8R3G3B2},
    {16, 0xF00, 0xF0, 0xF, 0xF000, D3DFMT_A4R4G4B4},
    {16, 0xF00, 0xF0, 0xF, 0, D3DFMT_X4R4G4B4},
    {16, 0xF800, 0x7E0, 0x1F, 0, D3DFMT_R5G6B5},
    {16, 0x7C00, 0x3E0, 0x1F, 0, D3DFMT_X1R5G5B5},
    {16, 0x7C00, 0x3E0, 0x1F, 0x8000, D3DFMT_A1R5G5B5},
    {16, 0xFF, 0xFF, 0xFF, 0xFF00, D3DFMT_A8L8},
    {16, 0xFFFF, 0xFFFF, 0xFFFF, 0, D3DFMT_L16},
    {24, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_R8G8B8},
    {32, 0xFFFF, 0xFFFF0000, 0, 0, D3DFMT_G16R16},
    {32, 0xFF0000, 0xFF00, 0xFF, 0, D3DFMT_X8R8G8B8},
    {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, D3DFMT_A8R8G8B8},
    {32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, D3DFMT_A2R10G10B10},
    {32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, D3DFMT_A8B8G8R8},
    {32, 0xFF, 0xFF00, 0xFF0000, 0, D3DFMT_X8B8G8R8},
    {32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, D3DFMT_A2B10G10R10},
};
// X8R8G8B8 stored one byte further on: blue, green, red in bytes 1 to 3.
constexpr MaskFormat kShiftedXrgb = {32, 0xFF000000, 0xFF0000, 0xFF00, 0, D3DFMT_X8R8G8B8};

uint64_t PaddedRow(uint64_t bytes) { return (bytes + 3) & ~uint64_t(3); }

float MaskChannel(uint32_t value, uint32_t mask, float missing) {
    if (!mask) return missing;
    const int shift = __builtin_ctz(mask);
    return float((value & mask) >> shift) / float(mask >> shift);
}

// RLE8 or RLE4 into a zeroed top-down block of byte indices. Runs are kept
// inside their row; a move or row past the image, an end-of-bitmap escape
// or the end of the data stops decoding and keeps what was decoded.
void DecodeRle(ByteReader in, bool rle4, BYTE* out, UINT rowPitch, UINT width, UINT height, bool topDown) {
    uint64_t x = 0, y = 0;
    auto put = [&](BYTE index) {
        if (x < width) out[(topDown ? y : height - 1 - y) * uint64_t(rowPitch) + x] = index;
        ++x;
    };
    for (;;) {
        if (y >= height) return;
        BYTE count, value;
        if (!in.ReadU8(count) || !in.ReadU8(value)) return;
        if (count) {
            for (UINT i = 0; i < count && x < width; ++i) put(rle4 ? BYTE(i & 1 ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            BYTE dx, dy;
            if (!in.ReadU8(dx) || !in.ReadU8(dy)) return;
            x += dx;
            y += dy;
            if (x > width || y >= height) return;
        } else {
            const size_t dataBytes = rle4 ? (value + 1u) / 2 : value;
            if (in.Remaining() < dataBytes) return;
            const BYTE* literal = in.Current();
            for (UINT i = 0; i < value && x < width; ++i)
                put(rle4 ? BYTE(i & 1 ? literal[i / 2] & 15 : literal[i / 2] >> 4) : literal[i]);
            in.Skip(dataBytes + (dataBytes & 1));  // literal runs keep 16-bit alignment
        }
    }
}
}  // namespace

HRESULT ReadDibBits(ImageLevel* root, const BYTE* bytes, UINT byteCount, unsigned long long storedBitsOffset) {
    if (!bytes || byteCount < 4) return E_FAIL;
    const uint32_t headerSize = LoadU32(bytes);
    if (byteCount < headerSize) return E_FAIL;

    int64_t width, height;
    uint32_t planes, bitCount, compression = BI_RGB, colourCount = 0;
    const bool core = headerSize == 12;
    if (core) {
        width = LoadU16(bytes + 4);
        height = LoadU16(bytes + 6);
        planes = LoadU16(bytes + 8);
        bitCount = LoadU16(bytes + 10);
    } else {
        if (headerSize < 40) return E_FAIL;
        width = int32_t(LoadU32(bytes + 4));
        height = int32_t(LoadU32(bytes + 8));
        planes = LoadU16(bytes + 12);
        bitCount = LoadU16(bytes + 14);
        compression = LoadU32(bytes + 16);
        colourCount = LoadU32(bytes + 32);
    }
    if (planes != 1) return E_FAIL;
    const bool topDown = height < 0;
    if (topDown) height = -height;
    // An empty image is no image: nothing downstream can hold it.
    if (width <= 0 || height <= 0 || width > 0xFFFFFFFF || height > 0xFFFFFFFF) return E_FAIL;

    const uint64_t entrySize = core ? 3 : 4;
    uint64_t entries = colourCount;
    if (entries == 0 && bitCount <= 8) entries = uint64_t(1) << bitCount;
    uint64_t bitsOffset = headerSize + entries * entrySize;
    if (bitsOffset > byteCount) return E_FAIL;
    // Writers may leave a gap before the bits (extra masks, alignment); a
    // stored offset that lies past the palette and inside the data wins.
    if (storedBitsOffset > bitsOffset && storedBitsOffset <= byteCount) bitsOffset = storedBitsOffset;

    D3DFORMAT format;
    const MaskFormat* masks = nullptr;
    MaskFormat fileMasks = {};
    bool floatDecode = false;
    if (compression <= BI_RLE4) {
        switch (bitCount) {
        case 1:
        case 4:
        case 8: format = D3DFMT_P8; break;
        case 16: format = D3DFMT_X1R5G5B5; break;
        case 24: format = D3DFMT_R8G8B8; break;
        case 32: format = D3DFMT_X8R8G8B8; break;
        default: return E_FAIL;
        }
        // Run-length data exist only for the bit counts they encode.
        if ((compression == BI_RLE8 && bitCount != 8) || (compression == BI_RLE4 && bitCount != 4)) return E_FAIL;
    } else if (compression == BI_BITFIELDS) {
        if (headerSize < 52 || (bitCount != 16 && bitCount != 24 && bitCount != 32)) return E_FAIL;
        fileMasks = {bitCount, LoadU32(bytes + 40), LoadU32(bytes + 44), LoadU32(bytes + 48),
                     headerSize >= 56 ? LoadU32(bytes + 52) : 0, D3DFMT_A32B32G32R32F};
        masks = &fileMasks;
        for (const MaskFormat& m : kMaskFormats)
            if (m.bits == bitCount && m.r == fileMasks.r && m.g == fileMasks.g && m.b == fileMasks.b &&
                m.a == fileMasks.a)
                masks = &m;
        const MaskFormat& s = kShiftedXrgb;
        if (s.bits == bitCount && s.r == fileMasks.r && s.g == fileMasks.g && s.b == fileMasks.b && s.a == fileMasks.a)
            masks = &s;
        format = masks->format;
        floatDecode = masks == &fileMasks;
    } else {
        return E_FAIL;
    }

    uint64_t fileRow;
    if (bitCount == 1)
        fileRow = (uint64_t(width) + 7) / 8;
    else if (bitCount == 4)
        fileRow = (uint64_t(width) + 1) / 2;
    else
        fileRow = bitCount / 8 * uint64_t(width);
    const uint64_t filePitch = PaddedRow(fileRow);
    const bool rle = compression == BI_RLE8 || compression == BI_RLE4;
    if (!rle && bitsOffset + (uint64_t(height) - 1) * filePitch + fileRow > byteCount) return E_FAIL;
    const BYTE* bits = bytes + bitsOffset;

    if (format == D3DFMT_X8R8G8B8 && compression == BI_RGB) {
        for (uint64_t y = 0; y < uint64_t(height) && format == D3DFMT_X8R8G8B8; ++y)
            for (uint64_t x = 0; x < uint64_t(width); ++x)
                if (bits[y * filePitch + x * 4 + 3]) {
                    format = D3DFMT_A8R8G8B8;
                    break;
                }
    }

    uint64_t outBytesPerPixel = format == D3DFMT_P8 ? 1 : floatDecode ? 16 : bitCount / 8;
    const uint64_t outPitch = PaddedRow(outBytesPerPixel * uint64_t(width));
    if (outPitch > 0xFFFFFFFF) return E_FAIL;
    root->format = format;
    root->width = UINT(width);
    root->height = UINT(height);
    root->depth = 1;
    root->rowPitch = UINT(outPitch);
    root->slicePitch = 0;
    if (!root->decodePixels) return S_OK;

    const bool shifted = masks == &kShiftedXrgb;
    const bool copy = rle || !topDown || bitCount < 8 || floatDecode || shifted;
    std::unique_ptr<PALETTEENTRY[]> palette;
    if (format == D3DFMT_P8) {
        palette.reset(new (std::nothrow) PALETTEENTRY[256]);
        if (!palette) return E_OUTOFMEMORY;
        const BYTE* entry = bytes + headerSize;
        for (uint64_t i = 0; i < 256; ++i, entry += entrySize)
            palette[i] = i < entries ? PALETTEENTRY{entry[2], entry[1], entry[0], 255} : PALETTEENTRY{255, 255, 255, 255};
    }
    if (!copy) {
        root->pixels = const_cast<BYTE*>(bits);
    } else {
        uint64_t blockBytes;
        if (!MultiplySize(outPitch, uint64_t(height), blockBytes)) return E_FAIL;
        // RLE data cannot describe more than 255 pixels per 2 bytes, except
        // through moves; a block far beyond that is refused as damaged.
        if (rle && blockBytes / 256 > uint64_t(byteCount) * 2 + 65536) return E_FAIL;
        std::unique_ptr<BYTE[]> block(AllocateBlock(blockBytes));
        if (!block) return E_OUTOFMEMORY;
        std::memset(block.get(), 0, size_t(blockBytes));
        if (rle) {
            DecodeRle(ByteReader(bits, byteCount - bitsOffset), compression == BI_RLE4, block.get(), UINT(outPitch),
                      UINT(width), UINT(height), topDown);
        } else {
            for (uint64_t y = 0; y < uint64_t(height); ++y) {
                const BYTE* in = bits + y * filePitch;
                BYTE* out = block.get() + (topDown ? y : uint64_t(height) - 1 - y) * outPitch;
                if (bitCount == 1) {
                    for (uint64_t x = 0; x < uint64_t(width); ++x) out[x] = (in[x / 8] >> (7 - x % 8)) & 1;
                } else if (bitCount == 4) {
                    for (uint64_t x = 0; x < uint64_t(width); ++x) out[x] = x & 1 ? in[x / 2] & 15 : in[x / 2] >> 4;
                } else if (shifted) {
                    for (uint64_t x = 0; x < uint64_t(width); ++x) {
                        out[x * 4] = in[x * 4 + 1];
                        out[x * 4 + 1] = in[x * 4 + 2];
                        out[x * 4 + 2] = in[x * 4 + 3];
                        out[x * 4 + 3] = 0;
                    }
                } else if (floatDecode) {
                    const uint64_t step = bitCount / 8;
                    auto* f = reinterpret_cast<float*>(out);
                    for (uint64_t x = 0; x < uint64_t(width); ++x) {
                        const BYTE* p = in + x * step;
                        uint32_t v = p[0] | (p[1] << 8);
                        if (step >= 3) v |= uint32_t(p[2]) << 16;
                        if (step == 4) v |= uint32_t(p[3]) << 24;
                        f[x * 4] = MaskChannel(v, fileMasks.r, 0.0f);
                        f[x * 4 + 1] = MaskChannel(v, fileMasks.g, 0.0f);
                        f[x * 4 + 2] = MaskChannel(v, fileMasks.b, 0.0f);
                        f[x * 4 + 3] = MaskChannel(v, fileMasks.a, 1.0f);
                    }
                } else {
                    std::memcpy(out, in, size_t(fileRow));
                }
            }
        }
        root->pixels = block.release();
        root->ownsPixels = true;
    }
    if (palette) {
        root->palette = palette.release();
        root->ownsPalette = true;
    }
    return S_OK;
}

HRESULT ReadDibImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    return ReadDibBits(root, bytes, byteCount, 0);
}
