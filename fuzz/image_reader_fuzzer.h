// One image reader over untrusted bytes: the header pass first (its size
// bounds the work per input), then the full decode, whose pixels are read
// through to the last byte so the sanitizer sees a short block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "texture/image_readers.h"

inline void FuzzImageReader(HRESULT (*read)(ImageLevel*, const BYTE*, UINT), const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 24)) return;
    ImageLevel header;
    header.decodePixels = false;
    if (FAILED(read(&header, data, UINT(size)))) return;
    if (uint64_t(header.rowPitch) * header.height > (uint64_t(1) << 26)) return;
    ImageLevel level;
    level.decodePixels = true;
    if (FAILED(read(&level, data, UINT(size))) || !level.pixels) return;
    volatile BYTE sink = 0;
    const size_t last = size_t(level.rowPitch) * (level.height - 1);
    // A block of the reader's own holds whole padded rows; pixels inside the
    // file may end with the last row's pixels, before its padding.
    const size_t span = level.ownsPixels ? level.rowPitch : 1;
    for (size_t i = 0; i < span; ++i) sink = BYTE(sink + level.pixels[last + i] + level.pixels[i]);
    if (level.palette) sink = BYTE(sink + level.palette[255].peFlags);
}
