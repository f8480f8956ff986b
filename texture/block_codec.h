// DXT1-DXT5: decoding and encoding of 4x4 blocks, and the codec that lets
// copies, filters and mip steps read and write compressed surfaces row by
// row.
#pragma once

#include "texture/pixel_codec.h"

// Bytes of one 4x4 block: 8 for DXT1, 16 for DXT2-DXT5.
UINT DxtBlockBytes(D3DFORMAT format);

// Decodes one block of `format` (DXT1-DXT5) into 16 pixels in row-major
// order. DXT2 and DXT4 are un-premultiplied.
void DecodeDxtBlock(D3DFORMAT format, const BYTE* block, Colour4 out[16]);

// Encodes 16 pixels (row-major) as one block of `format` (DXT1-DXT5);
// `dither` diffuses quantisation errors inside the block. `in` is not
// changed.
void EncodeDxtBlock(D3DFORMAT format, const Colour4 in[16], bool dither, BYTE* block);

// The 8-byte colour half of a block. `threeColourAllowed`: DXT1, which
// takes the three-colour mode when some alpha is below 0.5.
void EncodeDxtColourBlock(const Colour4 in[16], bool threeColourAllowed, bool dither, BYTE out[8]);

// Least-squares endpoints for 16 luma-weighted points (x, y, z) and a
// palette of `steps` (3 or 4) colours. Writes the two endpoints.
void OptimizeColourEndpoints(const float points[16][3], UINT steps, float e0[3], float e1[3]);

// The same fit by the plain (non-SIMD) kernels, and whether the library
// was built with SIMD ones; both give identical endpoints.
void OptimizeColourEndpointsPlain(const float points[16][3], UINT steps, float e0[3], float e1[3]);
bool HasSimdColourFit();

// Endpoints for 16 alphas quantised to 8 bits, for the six- or eight-value
// mode (`steps` 6 or 8): both in [0, 1], *low not above *high.
void OptimizeAlphaEndpoints(const float alphas[16], UINT steps, float* low, float* high);

// PixelCodec of the DXT formats. Keeps one row of decoded blocks; a write
// that moves to another block row (or destruction) encodes the row held.
class BlockCodec final : public PixelCodec {
public:
    explicit BlockCodec(const PixelSurface& surface);
    ~BlockCodec() override;

    void ReadRow(UINT y, UINT z, Colour4* out) override;
    void WriteRow(UINT y, UINT z, const Colour4* in) override;
    void PrepareColourKey(D3DCOLOR key) override;

private:
    void Load(UINT blockRow, UINT z, bool forWrite);
    void Flush();

    UINT blockBytes_;
    UINT blocksWide_;   // blocks across the widened box
    UINT leftInBlock_;  // columns of the first block left of the box
    UINT topInBlock_;   // rows of the first block row above the box
    UINT validColumns_, validRows_;  // of the widened box, within the extent
    bool dither_;
    std::vector<Colour4> cache_;  // 4 rows of blocksWide_ * 4 pixels
    UINT cachedRow_ = ~0u, cachedSlice_ = ~0u;
    bool cacheDirty_ = false;
    unsigned rowsWritten_ = 0;  // bit per cached pixel row written
};
