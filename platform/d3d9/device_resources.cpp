// Creating resources and copying between them.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/d3d9/debug_report.h"
#include "platform/d3d9/device.h"

namespace {

constexpr DWORD kTextureUsages = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DYNAMIC |
                                 D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_DMAP | D3DUSAGE_SOFTWAREPROCESSING;
constexpr DWORD kBufferUsages = D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC | D3DUSAGE_DONOTCLIP | D3DUSAGE_POINTS |
                                D3DUSAGE_RTPATCHES | D3DUSAGE_NPATCHES | D3DUSAGE_SOFTWAREPROCESSING;

// Copies a box of whole blocks between two stores of one format.
void CopyBox(const PixelStore& from, const D3DBOX& box, PixelStore& to, UINT x, UINT y, UINT z) {
    const FormatLayout& l = from.layout;
    const UINT rows = (box.Bottom - box.Top + l.blockHeight - 1) / l.blockHeight;
    const size_t bytes = size_t((box.Right - box.Left + l.blockWidth - 1) / l.blockWidth) * l.blockBytes;
    for (UINT slice = 0; slice < box.Back - box.Front; ++slice) {
        for (UINT r = 0; r < rows; ++r) {
            const BYTE* src = from.Address(box.Left, box.Top, box.Front + slice) + size_t(r) * from.pitch;
            BYTE* dst = to.Address(x, y, z + slice) + size_t(r) * to.pitch;
            std::memmove(dst, src, bytes);
        }
    }
}

// Widens a box to whole blocks, within the level.
D3DBOX AlignToBlocks(D3DBOX b, const PixelStore& store) {
    const UINT bw = store.layout.blockWidth, bh = store.layout.blockHeight;
    b.Left -= b.Left % bw;
    b.Top -= b.Top % bh;
    b.Right = std::min((b.Right + bw - 1) / bw * bw, store.width);
    b.Bottom = std::min((b.Bottom + bh - 1) / bh * bh, store.height);
    return b;
}

bool RectInside(const RECT& r, UINT width, UINT height) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && UINT(r.right) <= width &&
           UINT(r.bottom) <= height;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

HRESULT Device::CreateTextureCommon(const char* method, TextureSetup s, void** out, HANDLE* sharedHandle) {
    if (!out) return InvalidCall(method, "null output");
    *out = nullptr;
    if (sharedHandle) return InvalidCall(method, "shared resources are not supported");
    if (s.width == 0 || s.height == 0 || s.depth == 0) return InvalidCall(method, "zero size");
    if (s.pool > D3DPOOL_SCRATCH) return InvalidCall(method, "unknown pool");
    if (s.usage & ~kTextureUsages) return InvalidCall(method, "usage not valid for a texture");
    const bool volume = s.type == D3DRTYPE_VOLUMETEXTURE;
    if (volume && (s.usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_AUTOGENMIPMAP)))
        return InvalidCall(method, "usage not valid for a volume texture");
    if ((s.usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && s.pool != D3DPOOL_DEFAULT)
        return InvalidCall(method, "render targets and depth buffers live in the default pool");
    if ((s.usage & D3DUSAGE_DYNAMIC) && s.pool == D3DPOOL_MANAGED)
        return InvalidCall(method, "dynamic textures cannot be managed");
    const bool autogen = s.usage & D3DUSAGE_AUTOGENMIPMAP;
    if (autogen && (s.pool == D3DPOOL_SYSTEMMEM || s.pool == D3DPOOL_SCRATCH))
        return InvalidCall(method, "automatic mip levels need the default or managed pool");
    if (autogen && s.levels > 1) return InvalidCall(method, "automatic mip levels with a level count");

    const bool compressed = IsCompressedFormat(s.format);
    if (s.pool == D3DPOOL_SCRATCH) {
        // Scratch resources are plain memory: any known format, no caps.
        if (!IsScratchFormat(s.format)) return InvalidCall(method, "format has no known storage");
        if (s.width > kMaxSurfaceSize || s.height > kMaxSurfaceSize || s.depth > kMaxSurfaceSize)
            return InvalidCall(method, "too large");
        // LockBox hands out the slice pitch as an INT.
        FormatLayout layout;
        GetFormatLayout(s.format, &layout);
        if (volume && ComputeLevelExtent(layout, s.width, s.height).slice > std::uint64_t(INT32_MAX))
            return InvalidCall(method, "slices too large to lock");
    } else {
        if (FAILED(CheckResourceFormat(kAdapterFormat, s.usage, s.type, s.format)))
            return InvalidCall(method, "format not supported for this resource and usage");
        if (volume) {
            if (s.width > kMaxVolumeExtent || s.height > kMaxVolumeExtent || s.depth > kMaxVolumeExtent)
                return InvalidCall(method, "larger than the maximum volume extent");
        } else if (s.width > kMaxTextureSize || s.height > kMaxTextureSize) {
            return InvalidCall(method, "larger than the maximum texture size");
        }
        if (compressed && (s.width % 4 || s.height % 4))
            return InvalidCall(method, "compressed textures need sizes that are multiples of 4");
        // Power-of-two 2D textures, except single-level uncompressed ones.
        if (s.type == D3DRTYPE_TEXTURE && (!IsPowerOfTwo(s.width) || !IsPowerOfTwo(s.height))) {
            const UINT levels = autogen ? 1 : s.levels;
            if (levels != 1 || compressed)
                return InvalidCall(method, "a texture whose size is not a power of two needs exactly one level");
        }
    }
    const UINT full = FullMipChainLength(s.width, s.height, volume ? s.depth : 1);
    if (s.levels > full) return InvalidCall(method, "more levels than the mip chain has");
    if (s.levels == 0) s.levels = full;
    if (autogen) s.levels = 1;

    BaseTextureImpl* texture = nullptr;
    HRESULT hr = CreateTextureObject(this, s, &texture);
    if (FAILED(hr)) return ReportFailure(hr, method, "out of memory");
    *out = texture->Interface();
    return D3D_OK;
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE* sharedHandle) {
    TextureSetup s;
    s.type = D3DRTYPE_TEXTURE;
    s.width = width;
    s.height = height;
    s.levels = levels;
    s.usage = usage;
    s.format = format;
    s.pool = pool;
    void* out = nullptr;
    HRESULT hr = CreateTextureCommon("IDirect3DDevice9::CreateTexture", s, texture ? &out : nullptr, sharedHandle);
    if (texture) *texture = SUCCEEDED(hr) ? static_cast<IDirect3DTexture9*>(static_cast<IDirect3DBaseTexture9*>(out)) : nullptr;
    return hr;
}

HRESULT Device::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                    D3DPOOL pool, IDirect3DVolumeTexture9** texture, HANDLE* sharedHandle) {
    TextureSetup s;
    s.type = D3DRTYPE_VOLUMETEXTURE;
    s.width = width;
    s.height = height;
    s.depth = depth;
    s.levels = levels;
    s.usage = usage;
    s.format = format;
    s.pool = pool;
    void* out = nullptr;
    HRESULT hr =
        CreateTextureCommon("IDirect3DDevice9::CreateVolumeTexture", s, texture ? &out : nullptr, sharedHandle);
    if (texture)
        *texture = SUCCEEDED(hr) ? static_cast<IDirect3DVolumeTexture9*>(static_cast<IDirect3DBaseTexture9*>(out))
                                 : nullptr;
    return hr;
}

HRESULT Device::CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) {
    TextureSetup s;
    s.type = D3DRTYPE_CUBETEXTURE;
    s.width = s.height = edgeLength;
    s.levels = levels;
    s.usage = usage;
    s.format = format;
    s.pool = pool;
    void* out = nullptr;
    HRESULT hr =
        CreateTextureCommon("IDirect3DDevice9::CreateCubeTexture", s, texture ? &out : nullptr, sharedHandle);
    if (texture)
        *texture = SUCCEEDED(hr) ? static_cast<IDirect3DCubeTexture9*>(static_cast<IDirect3DBaseTexture9*>(out))
                                 : nullptr;
    return hr;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                                   HANDLE* sharedHandle) {
    static const char* method = "IDirect3DDevice9::CreateVertexBuffer";
    if (!buffer) return InvalidCall(method, "null output");
    *buffer = nullptr;
    if (sharedHandle) return InvalidCall(method, "shared resources are not supported");
    if (length == 0) return InvalidCall(method, "zero length");
    if (usage & ~kBufferUsages) return InvalidCall(method, "usage not valid for a buffer");
    if (pool > D3DPOOL_SYSTEMMEM) return InvalidCall(method, "buffers cannot be scratch resources");
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return InvalidCall(method, "dynamic and managed");
    const char* why = nullptr;
    if (fvf != 0) {
        if (!CheckFvf(fvf, &why)) return InvalidCall(method, why);
        D3DVERTEXELEMENT9 elements[MAXD3DDECLLENGTH + 1];
        const UINT count = FvfToElements(fvf, elements);
        if (length < VertexExtent(elements, count)) return InvalidCall(method, "shorter than one vertex");
    }
    BufferSetup s{length, usage, pool, D3DFMT_VERTEXDATA, fvf};
    VertexBuffer* vb = nullptr;
    HRESULT hr = VertexBuffer::Create(this, s, &vb);
    if (FAILED(hr)) return ReportFailure(hr, method, "out of memory");
    *buffer = vb;
    return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) {
    static const char* method = "IDirect3DDevice9::CreateIndexBuffer";
    if (!buffer) return InvalidCall(method, "null output");
    *buffer = nullptr;
    if (sharedHandle) return InvalidCall(method, "shared resources are not supported");
    if (length == 0) return InvalidCall(method, "zero length");
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return InvalidCall(method, "format must be INDEX16 or INDEX32");
    if (usage & ~kBufferUsages) return InvalidCall(method, "usage not valid for a buffer");
    if (pool > D3DPOOL_SYSTEMMEM) return InvalidCall(method, "buffers cannot be scratch resources");
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return InvalidCall(method, "dynamic and managed");
    BufferSetup s{length, usage, pool, format, 0};
    IndexBuffer* ib = nullptr;
    HRESULT hr = IndexBuffer::Create(this, s, &ib);
    if (FAILED(hr)) return ReportFailure(hr, method, "out of memory");
    *buffer = ib;
    return D3D_OK;
}

HRESULT Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DSurface9** surface, HANDLE* sharedHandle) {
    static const char* method = "IDirect3DDevice9::CreateOffscreenPlainSurface";
    if (!surface) return InvalidCall(method, "null output");
    *surface = nullptr;
    if (sharedHandle) return InvalidCall(method, "shared resources are not supported");
    if (width == 0 || height == 0 || width > kMaxSurfaceSize || height > kMaxSurfaceSize)
        return InvalidCall(method, "zero or too large size");
    if (pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH) return InvalidCall(method, "pool not valid for a surface");
    if (pool == D3DPOOL_SCRATCH) {
        if (!IsScratchFormat(format)) return InvalidCall(method, "format has no known storage");
    } else {
        if (FAILED(CheckResourceFormat(kAdapterFormat, 0, D3DRTYPE_SURFACE, format)))
            return InvalidCall(method, "format not supported for a surface");
        if (IsCompressedFormat(format) && (width % 4 || height % 4))
            return InvalidCall(method, "compressed surfaces need sizes that are multiples of 4");
    }
    SurfaceSetup s;
    s.format = format;
    s.width = width;
    s.height = height;
    s.pool = pool;
    Surface* created = nullptr;
    HRESULT hr = Surface::Create(this, s, nullptr, nullptr, 0, 0, &created);
    if (FAILED(hr)) return ReportFailure(hr, method, "out of memory");
    *surface = created;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Copies

HRESULT Device::UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                              const POINT* destPoint) {
    static const char* method = "IDirect3DDevice9::UpdateSurface";
    renderer_.Flush();
    Surface* src = static_cast<Surface*>(source);
    Surface* dst = static_cast<Surface*>(destination);
    if (!source || !destination) return InvalidCall(method, "null surface");
    if (!OwnedByThis(src) || !OwnedByThis(dst)) return InvalidCall(method, "surface of another device");
    if (src->Setup().pool != D3DPOOL_SYSTEMMEM || dst->Setup().pool != D3DPOOL_DEFAULT)
        return InvalidCall(method, "copies from the system-memory pool into the default pool only");
    if (src->Setup().format != dst->Setup().format) return InvalidCall(method, "formats differ");
    if (IsDepthFormat(src->Setup().format)) return InvalidCall(method, "depth buffers cannot be copied");
    if (src->IsLocked() || dst->IsLocked()) return InvalidCall(method, "a surface is locked");
    const PixelStore& from = src->Pixels();
    PixelStore& to = dst->Pixels();
    D3DBOX box;
    const char* why = nullptr;
    if (!CheckRect(from, sourceRect, &box, &why)) return InvalidCall(method, why);
    const LONG x = destPoint ? destPoint->x : 0, y = destPoint ? destPoint->y : 0;
    // In 64 bits: a point near the top of the LONG range must not wrap.
    if (x < 0 || y < 0 || std::int64_t(x) + (box.Right - box.Left) > to.width ||
        std::int64_t(y) + (box.Bottom - box.Top) > to.height)
        return InvalidCall(method, "the copy does not fit the destination");
    RECT target{x, y, LONG(x + LONG(box.Right - box.Left)), LONG(y + LONG(box.Bottom - box.Top))};
    D3DBOX check;
    if (!CheckRect(to, &target, &check, &why)) return InvalidCall(method, why);
    CopyBox(from, box, to, UINT(x), UINT(y), 0);
    return D3D_OK;
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* destination) {
    static const char* method = "IDirect3DDevice9::UpdateTexture";
    renderer_.Flush();
    if (!source || !destination) return InvalidCall(method, "null texture");
    BaseTextureImpl* src = ToTextureImpl(source);
    BaseTextureImpl* dst = ToTextureImpl(destination);
    if (!OwnedByThis(src) || !OwnedByThis(dst)) return InvalidCall(method, "texture of another device");
    const TextureSetup& s = src->Setup();
    const TextureSetup& d = dst->Setup();
    if (s.type != d.type) return InvalidCall(method, "textures of different types");
    if (s.pool != D3DPOOL_SYSTEMMEM || d.pool != D3DPOOL_DEFAULT)
        return InvalidCall(method, "copies from the system-memory pool into the default pool only");
    if (s.format != d.format) return InvalidCall(method, "formats differ");
    if (src->AnyLevelLocked() || dst->AnyLevelLocked()) return InvalidCall(method, "a level is locked");
    // The source level that matches the destination's largest one.
    UINT first = 0;
    while (first < s.levels && (MipSize(s.width, first) != d.width || MipSize(s.height, first) != d.height ||
                                MipSize(s.depth, first) != d.depth))
        ++first;
    if (first == s.levels) return InvalidCall(method, "no source level has the destination's size");
    if (s.levels - first < d.levels) return InvalidCall(method, "the source has fewer levels than the destination");

    for (UINT face = 0; face < src->FaceCount(); ++face) {
        DirtyRegion& dirty = src->Dirty(face);
        if (!dirty.any) continue;
        for (UINT level = 0; level < d.levels; ++level) {
            const UINT sl = first + level;
            if (s.type == D3DRTYPE_VOLUMETEXTURE) {
                PixelStore& from = src->VolumeLevel(sl)->Pixels();
                PixelStore& to = dst->VolumeLevel(level)->Pixels();
                D3DBOX box = AlignToBlocks(dirty.OnLevel(sl, from.width, from.height, from.depth), from);
                if (box.Left < box.Right && box.Top < box.Bottom && box.Front < box.Back)
                    CopyBox(from, box, to, box.Left, box.Top, box.Front);
            } else {
                PixelStore& from = src->Level(face, sl)->Pixels();
                PixelStore& to = dst->Level(face, level)->Pixels();
                D3DBOX box = AlignToBlocks(dirty.OnLevel(sl, from.width, from.height, 1), from);
                if (box.Left < box.Right && box.Top < box.Bottom) CopyBox(from, box, to, box.Left, box.Top, 0);
            }
        }
        dirty.Clear();
    }
    return D3D_OK;
}

HRESULT Device::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                            const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
    static const char* method = "IDirect3DDevice9::StretchRect";
    renderer_.Flush();
    if (!source || !destination) return InvalidCall(method, "null surface");
    Surface* src = static_cast<Surface*>(source);
    Surface* dst = static_cast<Surface*>(destination);
    if (!OwnedByThis(src) || !OwnedByThis(dst)) return InvalidCall(method, "surface of another device");
    if (filter > D3DTEXF_LINEAR) return InvalidCall(method, "filter must be none, point or linear");
    if (src == dst) return InvalidCall(method, "source and destination are the same surface");
    const SurfaceSetup& ss = src->Setup();
    const SurfaceSetup& ds = dst->Setup();
    if (ss.pool != D3DPOOL_DEFAULT || ds.pool != D3DPOOL_DEFAULT)
        return InvalidCall(method, "both surfaces must be in the default pool");
    if (ss.format != ds.format) return InvalidCall(method, "formats differ");
    if (IsDepthFormat(ss.format) || IsCompressedFormat(ss.format))
        return InvalidCall(method, "depth and compressed surfaces cannot be stretched");
    const bool srcTarget = ss.usage & D3DUSAGE_RENDERTARGET, dstTarget = ds.usage & D3DUSAGE_RENDERTARGET;
    if ((ss.textureLevel && !srcTarget) || (ds.textureLevel && !dstTarget))
        return InvalidCall(method, "texture levels take part only when they are render targets");
    if (src->IsLocked() || dst->IsLocked()) return InvalidCall(method, "a surface is locked");
    const PixelStore& from = src->Pixels();
    PixelStore& to = dst->Pixels();
    const RECT sr = sourceRect ? *sourceRect : RECT{0, 0, LONG(from.width), LONG(from.height)};
    const RECT dr = destRect ? *destRect : RECT{0, 0, LONG(to.width), LONG(to.height)};
    if (!RectInside(sr, from.width, from.height) || !RectInside(dr, to.width, to.height))
        return InvalidCall(method, "rectangle is empty or outside its surface");
    const UINT sw = UINT(sr.right - sr.left), sh = UINT(sr.bottom - sr.top);
    const UINT dw = UINT(dr.right - dr.left), dh = UINT(dr.bottom - dr.top);
    const bool stretched = sw != dw || sh != dh;
    if (stretched && !dstTarget) return InvalidCall(method, "only render targets take a stretched copy");

    const UINT bpp = from.layout.blockBytes;
    if (!stretched) {
        CopyBox(from, D3DBOX{UINT(sr.left), UINT(sr.top), UINT(sr.right), UINT(sr.bottom), 0, 1}, to, UINT(dr.left),
                UINT(dr.top), 0);
        return D3D_OK;
    }
    ChannelLayout channels;
    if (filter == D3DTEXF_LINEAR && GetChannelLayout(ss.format, &channels)) {
        // Bilinear: destination pixel centres mapped into the source
        // rectangle, samples clamped to its edges.
        const float scaleX = float(sw) / float(dw), scaleY = float(sh) / float(dh);
        for (UINT y = 0; y < dh; ++y) {
            const float fy = std::clamp((float(y) + 0.5f) * scaleY - 0.5f, 0.0f, float(sh - 1));
            const UINT y0 = UINT(fy), y1 = std::min(y0 + 1, sh - 1);
            const float wy = fy - float(y0);
            for (UINT x = 0; x < dw; ++x) {
                const float fx = std::clamp((float(x) + 0.5f) * scaleX - 0.5f, 0.0f, float(sw - 1));
                const UINT x0 = UINT(fx), x1 = std::min(x0 + 1, sw - 1);
                const float wx = fx - float(x0);
                float c00[4], c10[4], c01[4], c11[4], out[4];
                DecodePixel(channels, from.Address(sr.left + x0, sr.top + y0), c00);
                DecodePixel(channels, from.Address(sr.left + x1, sr.top + y0), c10);
                DecodePixel(channels, from.Address(sr.left + x0, sr.top + y1), c01);
                DecodePixel(channels, from.Address(sr.left + x1, sr.top + y1), c11);
                for (UINT c = 0; c < channels.count; ++c) {
                    const float top = c00[c] + (c10[c] - c00[c]) * wx;
                    const float bottom = c01[c] + (c11[c] - c01[c]) * wx;
                    out[c] = top + (bottom - top) * wy;
                }
                EncodePixel(channels, out, to.Address(dr.left + x, dr.top + y));
            }
        }
        return D3D_OK;
    }
    // Point (and none): the source pixel under each destination centre.
    for (UINT y = 0; y < dh; ++y) {
        const UINT sy = std::min(UINT((std::uint64_t(y) * 2 + 1) * sh / (std::uint64_t(dh) * 2)), sh - 1);
        for (UINT x = 0; x < dw; ++x) {
            const UINT sx = std::min(UINT((std::uint64_t(x) * 2 + 1) * sw / (std::uint64_t(dw) * 2)), sw - 1);
            std::memcpy(to.Address(dr.left + x, dr.top + y), from.Address(sr.left + sx, sr.top + sy), bpp);
        }
    }
    return D3D_OK;
}
