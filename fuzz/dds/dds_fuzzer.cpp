// Feeds arbitrary bytes to the DDS reader and decodes every level it
// accepts through the pixel codecs, so any level that points past the end
// of the input is read.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "texture/dds_reader.h"
#include "texture/pixel_codec.h"

namespace {
void DecodeLevel(const ImageLevel& level) {
    // Large levels are valid but slow to decode; the reader's bounds are
    // what is under test, so only the first and last rows are read.
    if (level.width > 1 << 14) return;
    PixelSurface surface;
    surface.pixels = level.pixels;
    surface.format = level.format;
    surface.rowPitch = level.rowPitch;
    surface.slicePitch = level.slicePitch;
    surface.palette = level.palette;
    surface.box = {0, 0, level.width, level.height, 0, level.depth};
    std::unique_ptr<PixelCodec> codec;
    if (CreatePixelCodec(surface, codec) != S_OK) return;
    std::vector<Colour4> row(level.width + 8);
    const UINT lastRow = level.height - 1, lastSlice = level.depth - 1;
    codec->ReadRow(0, 0, row.data());
    codec->ReadRow(lastRow, lastSlice, row.data());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    ImageLevel root;
    if (ReadDdsImage(&root, data, static_cast<UINT>(size)) != S_OK) return 0;
    int levels = 0;
    for (const ImageLevel* face = &root; face; face = face->nextFace) {
        for (const ImageLevel* level = face; level && levels < 64; level = level->nextLevel, ++levels) {
            DecodeLevel(*level);
        }
    }
    return 0;
}
