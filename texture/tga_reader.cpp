// Truevision TGA files: colour-mapped, true-colour and grey images, raw or
// run-length encoded, in any of the four orientations.
#include <cstring>
#include <memory>

#include "texture/byte_reader.h"
#include "texture/image_readers.h"

namespace {
BYTE Widen5(UINT v) { return BYTE((v << 3) | (v >> 2)); }
}  // namespace

HRESULT ReadTgaImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    if (!bytes || byteCount < 18) return E_FAIL;
    const UINT idLength = bytes[0], mapType = bytes[1], imageType = bytes[2];
    const UINT mapFirst = LoadU16(bytes + 3), mapLength = LoadU16(bytes + 5), mapEntryBits = bytes[7];
    const UINT width = LoadU16(bytes + 12), height = LoadU16(bytes + 14);
    const UINT pixelBits = bytes[16], descriptor = bytes[17];
    if (mapType > 1 || (imageType & ~0x0Bu) || (imageType & 3) == 0 || width == 0 || height == 0) return E_FAIL;
    const bool rle = (imageType & 8) != 0;

    D3DFORMAT format;
    switch (imageType & 3) {
    case 1:
        if (mapType != 1 || pixelBits != 8) return E_FAIL;
        format = D3DFMT_P8;
        break;
    case 2:
        if (pixelBits == 15) format = D3DFMT_X1R5G5B5;
        else if (pixelBits == 16) format = D3DFMT_A1R5G5B5;
        else if (pixelBits == 24) format = D3DFMT_R8G8B8;
        else if (pixelBits == 32) format = D3DFMT_A8R8G8B8;
        else return E_FAIL;
        break;
    default:
        if (pixelBits != 8) return E_FAIL;
        format = D3DFMT_L8;
        break;
    }
    if (mapType == 1 && mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 && mapEntryBits != 32)
        return E_FAIL;

    ByteReader in(bytes, byteCount);
    in.Skip(18);
    if (!in.Skip(idLength)) return E_FAIL;
    const UINT mapEntryBytes = (mapEntryBits + 7) / 8;
    const BYTE* map = in.Current();
    if (mapType == 1 && !in.Skip(size_t(mapEntryBytes) * mapLength)) return E_FAIL;

    const UINT pixelBytes = (pixelBits + 7) / 8;
    const uint64_t rowBytes = uint64_t(width) * pixelBytes;
    const uint64_t imageBytes = rowBytes * height;
    const bool bottomUp = (descriptor & 0x20) == 0, rightToLeft = (descriptor & 0x10) != 0;
    const bool copy = rle || bottomUp || rightToLeft;
    if (!copy && in.Remaining() < imageBytes) return E_FAIL;

    root->format = format;
    root->width = width;
    root->height = height;
    root->depth = 1;
    root->rowPitch = UINT(rowBytes);
    root->slicePitch = 0;
    if (!root->decodePixels) return S_OK;

    std::unique_ptr<PALETTEENTRY[]> palette;
    if (format == D3DFMT_P8) {
        if (mapFirst + mapLength > 256) return E_FAIL;
        palette.reset(new (std::nothrow) PALETTEENTRY[256]);
        if (!palette) return E_OUTOFMEMORY;
        std::memset(palette.get(), 0xFF, 256 * sizeof(PALETTEENTRY));
        bool anyAlpha = false;
        for (UINT i = 0; i < mapLength; ++i) {
            const BYTE* e = map + size_t(i) * mapEntryBytes;
            PALETTEENTRY& p = palette[mapFirst + i];
            if (mapEntryBytes >= 3) {
                p = {e[2], e[1], e[0], BYTE(mapEntryBytes == 4 ? e[3] : 255)};
            } else {
                const UINT v = LoadU16(e);
                p = {Widen5((v >> 10) & 31), Widen5((v >> 5) & 31), Widen5(v & 31),
                     BYTE(mapEntryBits == 16 ? (v >> 15) * 255 : 255)};
            }
            anyAlpha |= p.peFlags != 0;
        }
        if (!anyAlpha)
            for (UINT i = 0; i < mapLength; ++i) palette[mapFirst + i].peFlags = 255;
    }

    const BYTE* pixels;
    std::unique_ptr<BYTE[]> block;
    if (!copy) {
        pixels = in.Current();
    } else {
        // Even run-length data need one byte per 128 pixels.
        if (imageBytes / pixelBytes / 128 > in.Remaining()) return E_FAIL;
        block.reset(AllocateBlock(imageBytes));
        if (!block) return E_OUTOFMEMORY;
        const uint64_t pixelCount = uint64_t(width) * height;
        // File order is pixel i = row i / width from the first stored row,
        // column i % width in stored order; map it to top-down, left-right.
        auto target = [&](uint64_t i) {
            const uint64_t row = i / width, column = i % width;
            const uint64_t y = bottomUp ? height - 1 - row : row;
            const uint64_t x = rightToLeft ? width - 1 - column : column;
            return block.get() + y * rowBytes + x * pixelBytes;
        };
        uint64_t i = 0;
        if (!rle) {
            if (in.Remaining() < imageBytes) return E_FAIL;
            const BYTE* src = in.Current();
            for (; i < pixelCount; ++i, src += pixelBytes) std::memcpy(target(i), src, pixelBytes);
        } else {
            while (i < pixelCount) {
                BYTE header;
                if (!in.ReadU8(header)) return E_FAIL;
                const UINT count = (header & 0x7F) + 1u;
                if (count > pixelCount - i) return E_FAIL;
                if (header & 0x80) {
                    if (in.Remaining() < pixelBytes) return E_FAIL;
                    const BYTE* src = in.Current();
                    for (UINT k = 0; k < count; ++k, ++i) std::memcpy(target(i), src, pixelBytes);
                    in.Skip(pixelBytes);
                } else {
                    if (in.Remaining() < size_t(count) * pixelBytes) return E_FAIL;
                    const BYTE* src = in.Current();
                    for (UINT k = 0; k < count; ++k, ++i, src += pixelBytes) std::memcpy(target(i), src, pixelBytes);
                    in.Skip(size_t(count) * pixelBytes);
                }
            }
        }
        pixels = block.get();
    }

    if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_A1R5G5B5) {
        bool anyAlpha = false;
        const uint64_t count = uint64_t(width) * height;
        for (uint64_t k = 0; k < count && !anyAlpha; ++k)
            anyAlpha = format == D3DFMT_A8R8G8B8 ? pixels[k * 4 + 3] != 0 : (pixels[k * 2 + 1] & 0x80) != 0;
        if (!anyAlpha) root->format = format == D3DFMT_A8R8G8B8 ? D3DFMT_X8R8G8B8 : D3DFMT_X1R5G5B5;
    }
    root->pixels = block ? block.release() : const_cast<BYTE*>(pixels);
    root->ownsPixels = copy;
    if (palette) {
        root->palette = palette.release();
        root->ownsPalette = true;
    }
    return S_OK;
}
