// DDS files: header parsing, pixel-format matching, and one ImageLevel per
// level per face pointing into the file bytes.
#include "texture/dds_reader.h"

#include <new>

#include "texture/pixel_format.h"

namespace {
constexpr DWORD kMagic = 0x20534444;  // "DDS "
constexpr UINT kHeaderEnd = 128;      // magic and the 124-byte header
constexpr UINT kPaletteBytes = 1024;
constexpr DWORD DDSD_DEPTH = 0x00800000;
constexpr DWORD kCubeFaces = 0xFC00;  // +X -X +Y -Y +Z -Z
constexpr DWORD DDPF_FOURCC = 0x4;

// Pixel-format flags that call for each compared field.
constexpr DWORD kUsesBitCount = 0xC4462;
constexpr DWORD kUsesRedMask = 0xE4040;
constexpr DWORD kUsesGreenMask = 0xC4440;
constexpr DWORD kUsesBlueMask = 0xC4040;
constexpr DWORD kUsesAlphaMask = 0x80003;

// A cursor over the file bytes: every read checks what remains.
class ByteReader {
public:
    ByteReader(const BYTE* bytes, UINT size) : bytes_(bytes), size_(size) {}
    DWORD U32At(UINT offset) const {
        return static_cast<DWORD>(bytes_[offset]) | (static_cast<DWORD>(bytes_[offset + 1]) << 8) |
               (static_cast<DWORD>(bytes_[offset + 2]) << 16) | (static_cast<DWORD>(bytes_[offset + 3]) << 24);
    }
    UINT Size() const { return size_; }

private:
    const BYTE* bytes_;
    UINT size_;
};

constexpr DWORD FourCC(char a, char b, char c, char d) { return MAKEFOURCC(a, b, c, d); }
}  // namespace

const DdsFormatEntry DdsFormatTable[] = {
    {D3DFMT_R8G8B8, 0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0},
    {D3DFMT_A8R8G8B8, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},
    {D3DFMT_X8R8G8B8, 0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0},
    {D3DFMT_R5G6B5, 0x40, 0, 16, 0xF800, 0x7E0, 0x1F, 0},
    {D3DFMT_X1R5G5B5, 0x40, 0, 16, 0x7C00, 0x3E0, 0x1F, 0},
    {D3DFMT_A1R5G5B5, 0x41, 0, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},
    {D3DFMT_A4R4G4B4, 0x41, 0, 16, 0xF00, 0xF0, 0xF, 0xF000},
    {D3DFMT_R3G3B2, 0x40, 0, 8, 0xE0, 0x1C, 0x3, 0},
    {D3DFMT_A8, 0x2, 0, 8, 0, 0, 0, 0xFF},
    {D3DFMT_A8R3G3B2, 0x41, 0, 16, 0xE0, 0x1C, 0x3, 0xFF00},
    {D3DFMT_X4R4G4B4, 0x40, 0, 16, 0xF00, 0xF0, 0xF, 0},
    // A red mask of 0x3FF00000 names A2B10G10R10 and one of 0x3FF names
    // A2R10G10B10, so that files written with this table read back unchanged.
    {D3DFMT_A2B10G10R10, 0x41, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
    {D3DFMT_A8B8G8R8, 0x41, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {D3DFMT_X8B8G8R8, 0x40, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {D3DFMT_G16R16, 0x40, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0},
    {D3DFMT_A2R10G10B10, 0x41, 0, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000},
    {D3DFMT_A8P8, 0x21, 0, 16, 0, 0, 0, 0xFF00},
    {D3DFMT_P8, 0x20, 0, 8, 0, 0, 0, 0},
    {D3DFMT_L8, 0x20000, 0, 0, 0xFF, 0, 0, 0},
    {D3DFMT_A8L8, 0x20001, 0, 0, 0xFF, 0, 0, 0xFF00},
    {D3DFMT_A4L4, 0x20001, 0, 0, 0xF, 0, 0, 0xF0},
    {D3DFMT_L16, 0x20000, 0, 0, 0xFFFF, 0, 0, 0},
    {D3DFMT_V8U8, 0x80000, 0, 16, 0xFF, 0xFF00, 0, 0},
    {D3DFMT_L6V5U5, 0x40000, 0, 16, 0x1F, 0x3E0, 0xFC00, 0},
    {D3DFMT_X8L8V8U8, 0x40000, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {D3DFMT_Q8W8V8U8, 0x80000, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {D3DFMT_V16U16, 0x80000, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0},
    {D3DFMT_A2W10V10U10, 0x80001, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
    {D3DFMT_UYVY, 0x4, FourCC('U', 'Y', 'V', 'Y'), 0, 0, 0, 0, 0},
    {D3DFMT_R8G8_B8G8, 0x4, FourCC('R', 'G', 'B', 'G'), 0, 0, 0, 0, 0},
    {D3DFMT_YUY2, 0x4, FourCC('Y', 'U', 'Y', '2'), 0, 0, 0, 0, 0},
    {D3DFMT_G8R8_G8B8, 0x4, FourCC('G', 'R', 'G', 'B'), 0, 0, 0, 0, 0},
    {D3DFMT_DXT1, 0x4, FourCC('D', 'X', 'T', '1'), 0, 0, 0, 0, 0},
    {D3DFMT_DXT2, 0x4, FourCC('D', 'X', 'T', '2'), 0, 0, 0, 0, 0},
    {D3DFMT_DXT3, 0x4, FourCC('D', 'X', 'T', '3'), 0, 0, 0, 0, 0},
    {D3DFMT_DXT4, 0x4, FourCC('D', 'X', 'T', '4'), 0, 0, 0, 0, 0},
    {D3DFMT_DXT5, 0x4, FourCC('D', 'X', 'T', '5'), 0, 0, 0, 0, 0},
    {D3DFMT_D16_LOCKABLE, 0x400, 0, 16, 0, 0xFFFF, 0, 0},
    // Formats without a FourCC of their own store their number there.
    {D3DFMT_D32F_LOCKABLE, 0x4, 82, 0, 0, 0, 0, 0},
    {D3DFMT_A16B16G16R16, 0x4, 36, 0, 0, 0, 0, 0},
    {D3DFMT_Q16W16V16U16, 0x4, 110, 0, 0, 0, 0, 0},
    {D3DFMT_R16F, 0x4, 111, 0, 0, 0, 0, 0},
    {D3DFMT_G16R16F, 0x4, 112, 0, 0, 0, 0, 0},
    {D3DFMT_A16B16G16R16F, 0x4, 113, 0, 0, 0, 0, 0},
    {D3DFMT_R32F, 0x4, 114, 0, 0, 0, 0, 0},
    {D3DFMT_G32R32F, 0x4, 115, 0, 0, 0, 0, 0},
    {D3DFMT_A32B32G32R32F, 0x4, 116, 0, 0, 0, 0, 0},
    {D3DFMT_CxV8U8, 0x4, 117, 0, 0, 0, 0, 0},
    {D3DFMT_UNKNOWN, 0, 0, 0, 0, 0, 0, 0},
};

HRESULT ReadDdsImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    if (!root || !bytes) return E_FAIL;
    const ByteReader in(bytes, byteCount);
    if (in.Size() < 4 || in.U32At(0) != kMagic) return E_FAIL;
    if (in.Size() < kHeaderEnd) return E_FAIL;

    const DWORD headerFlags = in.U32At(8);
    const UINT height0 = in.U32At(12);
    const UINT width0 = in.U32At(16);
    UINT depth0 = (headerFlags & DDSD_DEPTH) ? in.U32At(24) : 1;
    if (depth0 == 0) depth0 = 1;
    const UINT levels = in.U32At(28) ? in.U32At(28) : 1;
    // An image without pixels has levels of no bytes, and a count of them
    // that nothing in the file bounds.
    if (width0 == 0 || height0 == 0) return E_FAIL;

    const DWORD faceBits = in.U32At(112) & kCubeFaces;
    UINT faces = 1;
    if (faceBits == kCubeFaces) {
        faces = 6;
    } else if (faceBits != 0) {
        return E_FAIL;  // a partial cube-face set
    }

    // Pixel format.
    const DWORD formatSize = in.U32At(76);
    DWORD flags = in.U32At(80);
    if (flags & DDPF_FOURCC) flags = DDPF_FOURCC;
    const DWORD fourCC = in.U32At(84), bitCount = in.U32At(88);
    const DWORD masks[4] = {in.U32At(92), in.U32At(96), in.U32At(100), in.U32At(104)};
    D3DFORMAT format = D3DFMT_UNKNOWN;
    if (formatSize == 32) {
        for (const DdsFormatEntry* row = DdsFormatTable; row->format != D3DFMT_UNKNOWN; ++row) {
            if (row->flags != flags) continue;
            if ((flags & DDPF_FOURCC) && row->fourCC != fourCC) continue;
            if ((flags & kUsesBitCount) && row->bitCount != bitCount) continue;
            if ((flags & kUsesRedMask) && row->redMask != masks[0]) continue;
            if ((flags & kUsesGreenMask) && row->greenMask != masks[1]) continue;
            if ((flags & kUsesBlueMask) && row->blueMask != masks[2]) continue;
            if ((flags & kUsesAlphaMask) && row->alphaMask != masks[3]) continue;
            format = row->format;
            break;
        }
    }
    if (format == D3DFMT_UNKNOWN) return E_FAIL;

    if (headerFlags & DDSD_DEPTH) {
        root->resourceType = D3DRTYPE_VOLUMETEXTURE;
    } else if (faces == 6) {
        root->resourceType = D3DRTYPE_CUBETEXTURE;
    } else {
        root->resourceType = D3DRTYPE_TEXTURE;
    }

    // All sizes in 64 bits: a level's bytes are compared with what remains
    // before anything points at them.
    ULONGLONG position = kHeaderEnd;
    PALETTEENTRY* palette = nullptr;
    if (LookUpFormatInfo(format).kind == FORMAT_KIND_PALETTE) {
        if (in.Size() - position < kPaletteBytes) return E_FAIL;
        palette = reinterpret_cast<PALETTEENTRY*>(const_cast<BYTE*>(bytes) + position);
        position += kPaletteBytes;
    }

    ImageLevel* faceFirst = nullptr;
    for (UINT face = 0; face < faces; ++face) {
        ImageLevel* record;
        if (face == 0) {
            record = root;
        } else {
            record = new (std::nothrow) ImageLevel;
            if (!record) return E_OUTOFMEMORY;
            faceFirst->nextFace = record;
        }
        faceFirst = record;
        ULONGLONG width = width0, height = height0, depth = depth0;
        for (UINT level = 0; level < levels; ++level) {
            if (level > 0) {
                ImageLevel* next = new (std::nothrow) ImageLevel;
                if (!next) return E_OUTOFMEMORY;
                record->nextLevel = next;
                record = next;
            }
            // Pitches are stored in 32 bits, and every product below stays
            // under 2^64: a level that cannot fit the file fails before its
            // size can wrap.
            const ULONGLONG rowPitch = FormatRowBytes(format, width);
            if (rowPitch > 0xFFFFFFFFull) return E_FAIL;
            const ULONGLONG slice = rowPitch * FormatRowCount(format, height);
            if (slice > 0xFFFFFFFFull || slice * depth > byteCount - position) return E_FAIL;
            record->format = format;
            record->pixels = const_cast<BYTE*>(bytes) + position;
            record->palette = palette;
            record->width = static_cast<UINT>(width);
            record->height = static_cast<UINT>(height);
            record->depth = static_cast<UINT>(depth);
            record->rowPitch = static_cast<UINT>(rowPitch);
            record->slicePitch = static_cast<UINT>(slice);
            record->ownsPixels = false;
            record->ownsPalette = false;
            record->resourceType = root->resourceType;
            record->fileType = root->fileType;
            record->decodePixels = root->decodePixels;
            position += slice * depth;
            if (width > 1) width /= 2;
            if (height > 1) height /= 2;
            if (depth > 1) depth /= 2;
        }
    }
    return S_OK;
}
