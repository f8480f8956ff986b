// The texture library's vocabulary of pixel formats: one row per known
// format with its family, size and channel widths, and the rules for
// choosing a substitute format when a device lacks the one an image has.
#pragma once

#include "platform/d3d9/d3d9.h"

// Internal formats for 16-bit-per-channel PNG images; their bytes read
// "AL16" and " R16". Never handed to a device (see ToStorageFormat).
constexpr D3DFORMAT FMT_AL16 = static_cast<D3DFORMAT>(MAKEFOURCC('A', 'L', '1', '6'));
constexpr D3DFORMAT FMT_R16 = static_cast<D3DFORMAT>(MAKEFOURCC(' ', 'R', '1', '6'));

// Family of a format.
enum FormatKind : DWORD {
    FORMAT_KIND_COLOUR = 0,
    FORMAT_KIND_PALETTE = 1,
    FORMAT_KIND_LUMINANCE = 2,
    FORMAT_KIND_SIGNED = 3,
    FORMAT_KIND_DEPTHSTENCIL = 4,
};

// Channel slots of FormatInfo::channelBits.
enum FormatChannel : UINT {
    CHANNEL_EXTRA = 0,  // luminance of signed formats, lockable mark of depth formats
    CHANNEL_ALPHA = 1,  // also Q of signed formats
    CHANNEL_RED = 2,    // also W; luminance formats repeat L in red, green and blue
    CHANNEL_GREEN = 3,  // also V; stencil bits of depth formats
    CHANNEL_BLUE = 4,   // also U; depth bits of depth formats
};

// Nine 32-bit fields, as the format table stores them.
struct FormatInfo {
    D3DFORMAT format;
    FormatKind kind;
    UINT bitsPerPixel;  // nominal 16 for DXT and two-pixel formats
    UINT channelBits[5];
    UINT candidate;  // 1: may be chosen as a substitute format
};

// Every known format, in the order substitutes are considered.
extern const FormatInfo FormatInfoTable[];
extern const UINT FormatInfoCount;

// The table row of `format`, or the fallback row {0, colour, 32 bits,
// channels 0/8/8/8/8, not a candidate} for a format the table lacks.
const FormatInfo& LookUpFormatInfo(D3DFORMAT format);

// FMT_AL16 -> D3DFMT_A8L8, FMT_R16 -> D3DFMT_R8G8B8, anything else unchanged.
D3DFORMAT ToStorageFormat(D3DFORMAT format);

// May an image of kind `source` be stored in a format of kind `candidate`?
bool IsKindCompatible(FormatKind source, FormatKind candidate);

// How far `candidate` is from `source`: channels gained cost little, bits
// lost cost much, channels lost cost most; -1 when the kinds do not mix or
// no channel of the source survives.
int FormatDistance(const FormatInfo& source, const FormatInfo& candidate);

// The format of the table closest to `source` that the device accepts for
// this usage and resource type (every candidate when `device` is null), or
// D3DFMT_UNKNOWN when none qualifies. The source format itself wins at once
// when it is accepted.
D3DFORMAT FindClosestDeviceFormat(IDirect3DDevice9* device, DWORD usage, D3DRESOURCETYPE resourceType,
                                  const FormatInfo& source);

// Bytes one row of `width` pixels takes in `format`, counting whole 4x4
// blocks for DXT formats and whole pairs for the two-pixel formats.
ULONGLONG FormatRowBytes(D3DFORMAT format, ULONGLONG width);
// Rows of storage for `height` pixel rows: (height + 3) / 4 for DXT formats.
ULONGLONG FormatRowCount(D3DFORMAT format, ULONGLONG height);
bool IsDxtFormat(D3DFORMAT format);
bool IsPairFormat(D3DFORMAT format);  // UYVY, YUY2, RGBG, GRGB
