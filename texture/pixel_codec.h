// Row converters between stored pixel formats and Colour4, the one form all
// copying and filtering works in. A conversion between two formats is a
// source codec reading rows and a destination codec writing them; gamma,
// dithering, colour key and palette matching happen inside the codecs.
#pragma once

#include <memory>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "texture/pixel_format.h"

struct Colour4 {
    float r, g, b, a;
};

// Range of the values a codec reads and expects.
enum ValueRange : DWORD {
    RANGE_NONE = 0,           // only as "convert from": no conversion
    RANGE_UNSIGNED = 1,       // every channel 0..1
    RANGE_SIGNED_COLOUR = 2,  // R, G, B -1..1, alpha 0..1
    RANGE_SIGNED_ALL = 3,     // every channel -1..1
    RANGE_FLOAT = 4,          // no range
};

// A block of pixels as a codec sees it. `pixels` is the block's first byte;
// the box is relative to it (a locked rectangle's bits with the region to
// convert inside). Rows and slices the codec reads or writes are numbered
// from the box's top and front.
struct PixelSurface {
    BYTE* pixels = nullptr;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT rowPitch = 0;    // bytes between rows (rows of 4x4 blocks for DXT)
    UINT slicePitch = 0;  // bytes between depth slices
    D3DBOX box = {};
    // Size of the memory block in pixels, for DXT destinations whose box
    // does not cover whole blocks: pixels of a partly covered block that lie
    // inside this extent keep their stored values, pixels beyond it are
    // padded from the written ones. 0 takes the box's right or bottom edge.
    UINT extentWidth = 0, extentHeight = 0;
    const PALETTEENTRY* palette = nullptr;  // 256 entries or null
    D3DCOLOR colourKey = 0;                 // A8R8G8B8; 0 = none
    bool gamma = false;            // source: stored gamma-encoded; destination: encode on write
    bool orderedDither = false;    // destination only
    bool diffusionDither = false;  // destination only
};

// Four rows of eight: each row is a four-value pattern written twice, so a
// row can be read from any start column 0..3 for four pixels.
extern const float OrderedDitherTable[4][8];

// Gamma 2.2 by 256-entry tables with linear interpolation; R, G, B only.
float GammaEncode(float linear);
float GammaDecode(float encoded);

// Converts a row of `count` pixels in place from range `from` into range `to`.
void ConvertRange(Colour4* row, UINT count, ValueRange from, ValueRange to);

// One codec per format and per use (source or destination of one copy).
// Rows are written in increasing order when error diffusion is on; block
// and pair codecs accept rows in any order.
class PixelCodec {
public:
    explicit PixelCodec(const PixelSurface& surface, ValueRange range, UINT bytesPerPixel);
    virtual ~PixelCodec();
    PixelCodec(const PixelCodec&) = delete;
    PixelCodec& operator=(const PixelCodec&) = delete;

    // Reads row y of slice z of the box: width pixels, then colour key and
    // gamma decoding as configured.
    virtual void ReadRow(UINT y, UINT z, Colour4* out) = 0;
    // Writes row y of slice z: range conversion, gamma, dithering. `in` is
    // not changed.
    virtual void WriteRow(UINT y, UINT z, const Colour4* in) = 0;
    // Fixes the colour key as this format stores it, so exact comparison on
    // read finds the keyed pixels.
    virtual void PrepareColourKey(D3DCOLOR key);

    D3DFORMAT Format() const { return format_; }
    ValueRange Range() const { return range_; }
    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    UINT Depth() const { return depth_; }
    const D3DBOX& Box() const { return box_; }
    BYTE* FirstPixel() const { return first_; }
    UINT RowPitch() const { return rowPitch_; }
    UINT SlicePitch() const { return slicePitch_; }
    UINT BytesPerPixel() const { return bytesPerPixel_; }
    bool Gamma() const { return gamma_; }
    // Turns gamma handling off (a same-size copy between two gamma-encoded
    // images moves the encoded values unchanged).
    void ClearGamma() { gamma_ = bothGamma_ = false; }
    bool HasColourKey() const { return hasColourKey_; }

    // Sets up `destination` to take rows read by `source`: range
    // conversion when the ranges differ and the destination is not Float,
    // and the square-root gamma path when both carry a gamma flag.
    friend void LinkPixelCodecs(PixelCodec& source, PixelCodec& destination);

protected:
    // Range conversion and gamma encoding for a row about to be written;
    // returns `in` or the scratch row holding the converted copy.
    const Colour4* PrepareWrite(const Colour4* in);
    // Colour key and gamma decoding on a row just read.
    void FinishRead(Colour4* row);
    float Threshold(UINT y, UINT z, UINT i) const;

    D3DFORMAT format_;
    BYTE* first_;  // the box's left/top/front corner (its block for DXT)
    UINT rowPitch_, slicePitch_;
    D3DBOX box_;
    UINT width_, height_, depth_;
    UINT bytesPerPixel_;
    ValueRange range_;
    ValueRange convertFrom_ = RANGE_NONE;
    bool orderedDither_ = false;
    bool diffusion_ = false;
    std::vector<Colour4> errorRow_;  // width + 2 entries when diffusing
    Colour4 colourKey_ = {};
    bool hasColourKey_ = false;
    bool gamma_ = false;
    bool bothGamma_ = false;  // square root instead of the gamma table
    std::vector<Colour4> palette_;  // 256 entries for palettized formats
    std::vector<Colour4> scratch_;
};

// Builds the codec for `surface`. E_FAIL for a format without a codec,
// E_OUTOFMEMORY when its rows or tables cannot be allocated. The colour key
// of the description is prepared; the pixel memory is not touched.
HRESULT CreatePixelCodec(const PixelSurface& surface, std::unique_ptr<PixelCodec>& codec);

// While UseGeneralRowCodecs(true) is in force, codecs skip the per-format
// row shortcuts and convert every pixel through the general field code; the
// two give the same results. For tests and comparisons only.
void UseGeneralRowCodecs(bool general);
void LinkPixelCodecs(PixelCodec& source, PixelCodec& destination);
