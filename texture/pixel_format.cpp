// The format table and substitute-format choice.
#include "texture/pixel_format.h"

#include "texture/debug_mute.h"

namespace {
constexpr FormatKind C = FORMAT_KIND_COLOUR;
constexpr FormatKind P = FORMAT_KIND_PALETTE;
constexpr FormatKind L = FORMAT_KIND_LUMINANCE;
constexpr FormatKind S = FORMAT_KIND_SIGNED;
constexpr FormatKind D = FORMAT_KIND_DEPTHSTENCIL;

// Source kind (row) may be stored in candidate kind (column).
constexpr bool kKindCompatible[5][5] = {
    {true, false, false, false, false},
    {true, true, false, false, false},
    {true, false, true, false, false},
    {false, false, false, true, false},
    {false, false, false, false, true},
};

constexpr FormatInfo kFallback = {D3DFMT_UNKNOWN, C, 32, {0, 8, 8, 8, 8}, 0};
}  // namespace

// Channel slots: extra, alpha, red, green, blue.
const FormatInfo FormatInfoTable[] = {
    {D3DFMT_R8G8B8, C, 24, {0, 0, 8, 8, 8}, 0},
    {D3DFMT_A8R8G8B8, C, 32, {0, 8, 8, 8, 8}, 1},
    {D3DFMT_X8R8G8B8, C, 32, {0, 0, 8, 8, 8}, 1},
    {D3DFMT_R5G6B5, C, 16, {0, 0, 5, 6, 5}, 1},
    {D3DFMT_X1R5G5B5, C, 16, {0, 0, 5, 5, 5}, 1},
    {D3DFMT_A8P8, P, 16, {0, 8, 8, 8, 8}, 1},
    {D3DFMT_P8, P, 8, {0, 8, 8, 8, 8}, 1},
    {D3DFMT_A1R5G5B5, C, 16, {0, 1, 5, 5, 5}, 1},
    {D3DFMT_A4R4G4B4, C, 16, {0, 4, 4, 4, 4}, 1},
    {D3DFMT_R3G3B2, C, 8, {0, 0, 3, 3, 2}, 1},
    {D3DFMT_A8, C, 8, {0, 8, 0, 0, 0}, 1},
    {D3DFMT_A8R3G3B2, C, 16, {0, 8, 3, 3, 2}, 1},
    {D3DFMT_X4R4G4B4, C, 16, {0, 0, 4, 4, 4}, 1},
    {D3DFMT_A2B10G10R10, C, 32, {0, 2, 10, 10, 10}, 1},
    {D3DFMT_A8B8G8R8, C, 32, {0, 8, 8, 8, 8}, 1},
    {D3DFMT_X8B8G8R8, C, 32, {0, 0, 8, 8, 8}, 1},
    {D3DFMT_G16R16, C, 32, {0, 0, 16, 16, 0}, 1},
    {D3DFMT_A2R10G10B10, C, 32, {0, 2, 10, 10, 10}, 1},
    {D3DFMT_A16B16G16R16, C, 64, {0, 16, 16, 16, 16}, 1},
    {D3DFMT_L8, L, 8, {0, 0, 8, 8, 8}, 1},
    {D3DFMT_A8L8, L, 16, {0, 8, 8, 8, 8}, 1},
    {D3DFMT_A4L4, L, 8, {0, 4, 4, 4, 4}, 1},
    {D3DFMT_L16, L, 16, {0, 0, 16, 16, 16}, 1},
    {D3DFMT_V8U8, S, 16, {0, 0, 0, 8, 8}, 1},
    {D3DFMT_L6V5U5, S, 16, {6, 0, 0, 5, 5}, 1},
    {D3DFMT_X8L8V8U8, S, 32, {8, 0, 0, 8, 8}, 1},
    {D3DFMT_Q8W8V8U8, S, 32, {0, 8, 8, 8, 8}, 1},
    {D3DFMT_V16U16, S, 32, {0, 0, 0, 16, 16}, 1},
    {D3DFMT_A2W10V10U10, S, 32, {2, 0, 10, 10, 10}, 1},
    {D3DFMT_Q16W16V16U16, S, 64, {0, 16, 16, 16, 16}, 1},
    {D3DFMT_CxV8U8, S, 16, {8, 0, 0, 8, 8}, 0},
    {D3DFMT_UYVY, C, 16, {0, 0, 8, 8, 8}, 0},
    {D3DFMT_R8G8_B8G8, C, 16, {0, 0, 8, 8, 8}, 0},
    {D3DFMT_YUY2, C, 16, {0, 0, 8, 8, 8}, 0},
    {D3DFMT_G8R8_G8B8, C, 16, {0, 0, 8, 8, 8}, 0},
    {D3DFMT_DXT1, C, 16, {0, 1, 5, 6, 5}, 0},
    {D3DFMT_DXT2, C, 16, {0, 4, 5, 6, 5}, 0},
    {D3DFMT_DXT3, C, 16, {0, 4, 5, 6, 5}, 0},
    {D3DFMT_DXT4, C, 16, {0, 8, 5, 6, 5}, 0},
    {D3DFMT_DXT5, C, 16, {0, 8, 5, 6, 5}, 0},
    {D3DFMT_D16_LOCKABLE, D, 16, {1, 0, 0, 0, 16}, 1},
    {D3DFMT_D32F_LOCKABLE, D, 32, {1, 0, 0, 0, 32}, 0},
    {D3DFMT_D32, D, 32, {0, 0, 0, 0, 32}, 1},
    {D3DFMT_D15S1, D, 16, {0, 0, 0, 1, 15}, 1},
    {D3DFMT_D24S8, D, 32, {0, 0, 0, 8, 24}, 1},
    {D3DFMT_D16, D, 16, {0, 0, 0, 0, 16}, 1},
    {D3DFMT_D24X8, D, 32, {0, 0, 0, 0, 24}, 1},
    {D3DFMT_D24X4S4, D, 32, {0, 0, 0, 4, 24}, 1},
    {D3DFMT_D24FS8, D, 32, {0, 0, 0, 8, 24}, 0},
    {D3DFMT_R16F, C, 16, {0, 0, 16, 0, 0}, 0},
    {D3DFMT_G16R16F, C, 32, {0, 0, 16, 16, 0}, 0},
    {D3DFMT_A16B16G16R16F, C, 64, {0, 16, 16, 16, 16}, 0},
    {D3DFMT_R32F, C, 32, {0, 0, 32, 0, 0}, 0},
    {D3DFMT_G32R32F, C, 64, {0, 0, 32, 32, 0}, 0},
    {D3DFMT_A32B32G32R32F, C, 128, {0, 32, 32, 32, 32}, 0},
    {FMT_AL16, L, 32, {0, 16, 16, 16, 16}, 0},
    {FMT_R16, C, 48, {0, 0, 16, 16, 16}, 0},
};
const UINT FormatInfoCount = sizeof(FormatInfoTable) / sizeof(FormatInfoTable[0]);

const FormatInfo& LookUpFormatInfo(D3DFORMAT format) {
    for (UINT i = 0; i < FormatInfoCount; ++i) {
        if (FormatInfoTable[i].format == format) return FormatInfoTable[i];
    }
    return kFallback;
}

D3DFORMAT ToStorageFormat(D3DFORMAT format) {
    if (format == FMT_AL16) return D3DFMT_A8L8;
    if (format == FMT_R16) return D3DFMT_R8G8B8;
    return format;
}

bool IsKindCompatible(FormatKind source, FormatKind candidate) {
    if (source > FORMAT_KIND_DEPTHSTENCIL || candidate > FORMAT_KIND_DEPTHSTENCIL) return false;
    return kKindCompatible[source][candidate];
}

int FormatDistance(const FormatInfo& source, const FormatInfo& candidate) {
    if (!IsKindCompatible(source.kind, candidate.kind)) return -1;
    DWORD sum = 0;
    DWORD sourceChannels = 0;
    for (int i = 0; i < 5; ++i) {
        const DWORD s = source.channelBits[i];
        const DWORD c = candidate.channelBits[i];
        if (s != 0) ++sourceChannels;
        if (s < c) {
            sum += s == 0 ? 256 : c - s;
        } else if (s > c) {
            sum += c == 0 ? 0x1000000 : (s - c) * 65536;
        }
    }
    if ((sum >> 24) == sourceChannels) return -1;
    return static_cast<int>(sum);
}

D3DFORMAT FindClosestDeviceFormat(IDirect3DDevice9* device, DWORD usage, D3DRESOURCETYPE resourceType,
                                  const FormatInfo& source) {
    DebugMute(TRUE);
    IDirect3D9* direct3d = nullptr;
    D3DCAPS9 caps = {};
    D3DDISPLAYMODE mode = {};
    if (device) {
        if (FAILED(device->GetDirect3D(&direct3d)) || FAILED(device->GetDeviceCaps(&caps)) ||
            FAILED(device->GetDisplayMode(0, &mode))) {
            if (direct3d) direct3d->Release();
            DebugMute(FALSE);
            return D3DFMT_UNKNOWN;
        }
        if (usage & 0x100000) {  // vertex-texture query
            D3DDEVICE_CREATION_PARAMETERS parameters = {};
            if (SUCCEEDED(device->GetCreationParameters(&parameters)) &&
                (parameters.BehaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING)) {
                usage |= D3DUSAGE_SOFTWAREPROCESSING;
            }
        }
    }

    const FormatInfo* best = nullptr;
    int bestScore = -1;
    for (UINT i = 0; i < FormatInfoCount; ++i) {
        const FormatInfo& candidate = FormatInfoTable[i];
        if (direct3d && FAILED(direct3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format,
                                                           usage, resourceType, candidate.format))) {
            continue;
        }
        if (candidate.format == source.format) {
            best = &candidate;
            break;
        }
        if (!candidate.candidate) continue;
        const int score = FormatDistance(source, candidate);
        if (score < 0) continue;
        if (!best || score < bestScore ||
            (score == bestScore && candidate.bitsPerPixel < best->bitsPerPixel)) {
            best = &candidate;
            bestScore = score;
        }
    }

    if (direct3d) direct3d->Release();
    DebugMute(FALSE);
    return best ? best->format : D3DFMT_UNKNOWN;
}

bool IsDxtFormat(D3DFORMAT format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

bool IsPairFormat(D3DFORMAT format) {
    return format == D3DFMT_UYVY || format == D3DFMT_YUY2 || format == D3DFMT_R8G8_B8G8 ||
           format == D3DFMT_G8R8_G8B8;
}

ULONGLONG FormatRowBytes(D3DFORMAT format, ULONGLONG width) {
    if (format == D3DFMT_DXT1) return (width + 3) / 4 * 8;
    if (IsDxtFormat(format)) return (width + 3) / 4 * 16;
    if (IsPairFormat(format)) return (width + 1) / 2 * 4;
    return width * (LookUpFormatInfo(format).bitsPerPixel / 8);
}

ULONGLONG FormatRowCount(D3DFORMAT format, ULONGLONG height) {
    return IsDxtFormat(format) ? (height + 3) / 4 : height;
}
