// The copy engine: chooses the first path that can do the job, in a fixed
// order, and runs it row by row through the two codecs.
#include "texture/copy_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "texture/filter.h"

bool IsValidFilter(DWORD filter) {
    const DWORD kind = filter & 0xFFFF;
    return kind >= FILTER_NONE && kind <= FILTER_BOX && (filter & FILTER_INVALID_BITS) == 0;
}

namespace {
// Decoded source rows, keyed by (row, slice), so that a path that needs the
// same row for several destination rows reads it once.
class SourceRows {
public:
    SourceRows(PixelCodec& codec, UINT slots) : codec_(codec), slots_(slots) {
        for (Slot& slot : slots_) slot.row.resize(codec.Width());
    }
    const Colour4* Get(UINT y, UINT z) {
        Slot* victim = &slots_[0];
        for (Slot& slot : slots_) {
            if (slot.valid && slot.y == y && slot.z == z) {
                slot.stamp = ++clock_;
                return slot.row.data();
            }
            if (!slot.valid || slot.stamp < victim->stamp) victim = &slot;
        }
        codec_.ReadRow(y, z, victim->row.data());
        victim->valid = true;
        victim->y = y;
        victim->z = z;
        victim->stamp = ++clock_;
        return victim->row.data();
    }

private:
    struct Slot {
        std::vector<Colour4> row;
        UINT y = 0, z = 0;
        unsigned long long stamp = 0;
        bool valid = false;
    };
    PixelCodec& codec_;
    std::vector<Slot> slots_;
    unsigned long long clock_ = 0;
};

bool SamePalette(const PALETTEENTRY* a, const PALETTEENTRY* b) {
    if (a == b) return true;
    // A missing palette reads as 256 opaque white entries.
    for (UINT i = 0; i < 256; ++i) {
        const PALETTEENTRY ea = a ? a[i] : PALETTEENTRY{255, 255, 255, 255};
        const PALETTEENTRY eb = b ? b[i] : PALETTEENTRY{255, 255, 255, 255};
        if (std::memcmp(&ea, &eb, sizeof(ea)) != 0) return false;
    }
    return true;
}

UINT AlignmentOf(D3DFORMAT format) {
    if (IsDxtFormat(format)) return 4;
    if (IsPairFormat(format)) return 2;
    return 1;
}

// Straight copy: the same stored bytes on both sides, so rows (or rows of
// blocks) are copied as they are.
bool StraightCopy(const PixelSurface& destDesc, const PixelSurface& sourceDesc, PixelCodec& dest,
                  PixelCodec& source) {
    if (dest.Format() != source.Format() || source.HasColourKey() || sourceDesc.colourKey != 0) return false;
    if (dest.Width() != source.Width() || dest.Height() != source.Height() || dest.Depth() != source.Depth())
        return false;
    if (sourceDesc.gamma != destDesc.gamma) return false;
    const FormatInfo& info = LookUpFormatInfo(dest.Format());
    if (info.kind == FORMAT_KIND_PALETTE && !SamePalette(destDesc.palette, sourceDesc.palette)) return false;
    // Whole blocks (pairs) only: both boxes must start on a block, and a
    // partly covered block at the right or bottom must be the destination's
    // last, so that copying it whole disturbs nothing outside the box.
    const UINT align = AlignmentOf(dest.Format());
    if (align > 1) {
        const D3DBOX& db = destDesc.box;
        const D3DBOX& sb = sourceDesc.box;
        const UINT extentW = destDesc.extentWidth ? destDesc.extentWidth : db.Right;
        const UINT extentH = destDesc.extentHeight ? destDesc.extentHeight : db.Bottom;
        if (db.Left % align || sb.Left % align) return false;
        if (db.Right % align && db.Right < extentW) return false;
        if (IsDxtFormat(dest.Format())) {
            if (db.Top % 4 || sb.Top % 4) return false;
            if (db.Bottom % 4 && db.Bottom < extentH) return false;
        }
    }
    const size_t rowBytes = size_t(FormatRowBytes(dest.Format(), dest.Width()));
    const UINT rows = UINT(FormatRowCount(dest.Format(), dest.Height()));
    for (UINT z = 0; z < dest.Depth(); ++z) {
        for (UINT y = 0; y < rows; ++y) {
            BYTE* to = dest.FirstPixel() + size_t(z) * dest.SlicePitch() + size_t(y) * dest.RowPitch();
            const BYTE* from = source.FirstPixel() + size_t(z) * source.SlicePitch() + size_t(y) * source.RowPitch();
            std::memmove(to, from, rowBytes);
        }
    }
    return true;
}

void SameSize(PixelCodec& dest, PixelCodec& source) {
    if (dest.Gamma() && source.Gamma()) {
        dest.ClearGamma();
        source.ClearGamma();
    }
    std::vector<Colour4> row(dest.Width());
    for (UINT z = 0; z < dest.Depth(); ++z)
        for (UINT y = 0; y < dest.Height(); ++y) {
            source.ReadRow(y, z, row.data());
            dest.WriteRow(y, z, row.data());
        }
}

void FilterNone(PixelCodec& dest, PixelCodec& source) {
    const UINT w = std::min(dest.Width(), source.Width());
    const UINT h = std::min(dest.Height(), source.Height());
    const UINT d = std::min(dest.Depth(), source.Depth());
    std::vector<Colour4> row(std::max(dest.Width(), source.Width()));
    for (UINT z = 0; z < dest.Depth(); ++z)
        for (UINT y = 0; y < dest.Height(); ++y) {
            if (z < d && y < h) {
                source.ReadRow(y, z, row.data());
                std::fill(row.begin() + w, row.end(), Colour4{0, 0, 0, 0});
            } else {
                std::fill(row.begin(), row.end(), Colour4{0, 0, 0, 0});
            }
            dest.WriteRow(y, z, row.data());
        }
}

// Nearest sample: destination pixel i takes source pixel i * step / 65536,
// step = source size * 65536 / destination size, in 16.16 fixed point.
std::vector<UINT> PointTaps(UINT sourceSize, UINT destSize) {
    const unsigned long long step = (static_cast<unsigned long long>(sourceSize) << 16) / destSize;
    std::vector<UINT> taps(destSize);
    for (UINT i = 0; i < destSize; ++i)
        taps[i] = UINT(std::min<unsigned long long>((i * step) >> 16, sourceSize - 1));
    return taps;
}

void FilterPoint(PixelCodec& dest, PixelCodec& source) {
    const std::vector<UINT> xs = PointTaps(source.Width(), dest.Width());
    const std::vector<UINT> ys = PointTaps(source.Height(), dest.Height());
    const std::vector<UINT> zs = PointTaps(source.Depth(), dest.Depth());
    SourceRows rows(source, 1);
    std::vector<Colour4> out(dest.Width());
    for (UINT z = 0; z < dest.Depth(); ++z)
        for (UINT y = 0; y < dest.Height(); ++y) {
            const Colour4* in = rows.Get(ys[y], zs[z]);
            for (UINT x = 0; x < dest.Width(); ++x) out[x] = in[xs[x]];
            dest.WriteRow(y, z, out.data());
        }
}

bool IsHalf(UINT source, UINT dest) { return (source == 1 && dest == 1) || (source > 1 && dest == source / 2); }

inline void Accumulate(Colour4& sum, const Colour4& c) {
    sum.r += c.r;
    sum.g += c.g;
    sum.b += c.b;
    sum.a += c.a;
}

bool BoxFilter(PixelCodec& dest, PixelCodec& source, const PixelSurface& destDesc, const PixelSurface& sourceDesc) {
    const UINT sw = source.Width(), sh = source.Height(), sd = source.Depth();
    const UINT dw = dest.Width(), dh = dest.Height(), dd = dest.Depth();
    if (!IsHalf(sw, dw) || !IsHalf(sh, dh) || !IsHalf(sd, dd)) return false;
    const bool flat = sd == 1 && dd == 1;

    // Integer routine on the stored bits when nothing in the conversion
    // needs the float form: same format, no dither, no gamma, no colour
    // key (the key must turn pixels black before they are averaged).
    if (flat && sw > 1 && sh > 1 && dest.Format() == source.Format() && !destDesc.orderedDither &&
        !destDesc.gamma && !sourceDesc.gamma && !source.HasColourKey() && sourceDesc.colourKey == 0 &&
        BoxFilterInteger(dest.Format(), dest.FirstPixel(), dest.RowPitch(), source.FirstPixel(), source.RowPitch(),
                         dw, dh))
        return true;

    // Odd sizes drop the last column, row or slice; a size of 1 uses its
    // single column, row or slice twice.
    const float scale = flat ? 0.25f : 0.125f;
    SourceRows rows(source, flat ? 2 : 4);
    std::vector<Colour4> out(dw);
    for (UINT z = 0; z < dd; ++z) {
        const UINT z0 = sd == 1 ? 0 : 2 * z, z1 = sd == 1 ? 0 : 2 * z + 1;
        for (UINT y = 0; y < dh; ++y) {
            const UINT y0 = sh == 1 ? 0 : 2 * y, y1 = sh == 1 ? 0 : 2 * y + 1;
            std::fill(out.begin(), out.end(), Colour4{0, 0, 0, 0});
            const UINT zs[2] = {z0, z1};
            const UINT ys[2] = {y0, y1};
            for (UINT iz = 0; iz < (flat ? 1u : 2u); ++iz)
                for (UINT iy = 0; iy < 2; ++iy) {
                    const Colour4* in = rows.Get(ys[iy], zs[iz]);
                    for (UINT x = 0; x < dw; ++x) {
                        const UINT x0 = sw == 1 ? 0 : 2 * x, x1 = sw == 1 ? 0 : 2 * x + 1;
                        Accumulate(out[x], in[x0]);
                        Accumulate(out[x], in[x1]);
                    }
                }
            for (Colour4& c : out) c = {c.r * scale, c.g * scale, c.b * scale, c.a * scale};
            dest.WriteRow(y, z, out.data());
        }
    }
    return true;
}

// Two taps per axis around the sample position (i + 0.5) * source / dest
// - 0.5. Taps outside the image wrap, or with the axis' mirror flag stay at
// the edge.
struct LinearTap {
    UINT i0, i1;
    float w0, w1;
};

std::vector<LinearTap> LinearTaps(UINT sourceSize, UINT destSize, bool mirror) {
    std::vector<LinearTap> taps(destSize);
    const float ratio = float(sourceSize) / float(destSize);
    for (UINT i = 0; i < destSize; ++i) {
        const float x = (float(i) + 0.5f) * ratio - 0.5f;
        const float base = std::floor(x);
        const float frac = x - base;
        long long t0 = static_cast<long long>(base), t1 = t0 + 1;
        auto fix = [&](long long t) -> UINT {
            if (t < 0) return mirror ? 0 : sourceSize - 1;
            if (t >= static_cast<long long>(sourceSize)) return mirror ? sourceSize - 1 : 0;
            return UINT(t);
        };
        taps[i] = {fix(t0), fix(t1), 1.0f - frac, frac};
    }
    return taps;
}

void FilterLinear(PixelCodec& dest, PixelCodec& source, DWORD filter) {
    const auto xs = LinearTaps(source.Width(), dest.Width(), (filter & FILTER_MIRROR_U) != 0);
    const auto ys = LinearTaps(source.Height(), dest.Height(), (filter & FILTER_MIRROR_V) != 0);
    const auto zs = LinearTaps(source.Depth(), dest.Depth(), (filter & FILTER_MIRROR_W) != 0);
    const bool flat = source.Depth() == 1 && dest.Depth() == 1;
    SourceRows rows(source, flat ? 3 : 6);
    std::vector<Colour4> out(dest.Width());
    for (UINT z = 0; z < dest.Depth(); ++z) {
        const LinearTap& tz = zs[z];
        for (UINT y = 0; y < dest.Height(); ++y) {
            const LinearTap& ty = ys[y];
            std::fill(out.begin(), out.end(), Colour4{0, 0, 0, 0});
            const UINT sliceIndex[2] = {tz.i0, tz.i1};
            const float sliceWeight[2] = {flat ? 1.0f : tz.w0, tz.w1};
            const UINT rowIndex[2] = {ty.i0, ty.i1};
            const float rowWeight[2] = {ty.w0, ty.w1};
            for (UINT iz = 0; iz < (flat ? 1u : 2u); ++iz)
                for (UINT iy = 0; iy < 2; ++iy) {
                    const float w = sliceWeight[iz] * rowWeight[iy];
                    const Colour4* in = rows.Get(rowIndex[iy], sliceIndex[iz]);
                    for (UINT x = 0; x < dest.Width(); ++x) {
                        const LinearTap& tx = xs[x];
                        const Colour4& a = in[tx.i0];
                        const Colour4& b = in[tx.i1];
                        out[x].r += w * (a.r * tx.w0 + b.r * tx.w1);
                        out[x].g += w * (a.g * tx.w0 + b.g * tx.w1);
                        out[x].b += w * (a.b * tx.w0 + b.b * tx.w1);
                        out[x].a += w * (a.a * tx.w0 + b.a * tx.w1);
                    }
                }
            dest.WriteRow(y, z, out.data());
        }
    }
}
}  // namespace

HRESULT CopyPixels(const PixelSurface& destIn, const PixelSurface& sourceIn, DWORD filter) {
    if (filter == USE_DEFAULT) filter = FILTER_DEFAULT;
    if (!IsValidFilter(filter)) return D3DERR_INVALIDCALL;

    PixelSurface sourceDesc = sourceIn;
    PixelSurface destDesc = destIn;
    sourceDesc.gamma = (filter & FILTER_SRGB_IN) != 0;
    sourceDesc.orderedDither = sourceDesc.diffusionDither = false;
    destDesc.gamma = (filter & FILTER_SRGB_OUT) != 0;
    destDesc.orderedDither = (filter & FILTER_DITHER) != 0;
    destDesc.diffusionDither = (filter & FILTER_DITHER_DIFFUSION) != 0;
    destDesc.colourKey = 0;

    // Nothing to write, or nothing to read: decided before the codecs size
    // their rows by the boxes.
    auto empty = [](const D3DBOX& b) { return b.Right <= b.Left || b.Bottom <= b.Top || b.Back <= b.Front; };
    if (empty(destDesc.box)) return S_OK;
    if (empty(sourceDesc.box)) return E_FAIL;

    std::unique_ptr<PixelCodec> dest, source;
    HRESULT hr = CreatePixelCodec(destDesc, dest);
    if (FAILED(hr)) return hr;
    if (!dest) return E_FAIL;
    hr = CreatePixelCodec(sourceDesc, source);
    if (FAILED(hr)) return hr;
    if (!source) return E_FAIL;
    LinkPixelCodecs(*source, *dest);

    try {
        if (StraightCopy(destDesc, sourceDesc, *dest, *source)) return S_OK;
        const bool sameSize = dest->Width() == source->Width() && dest->Height() == source->Height() &&
                              dest->Depth() == source->Depth();
        if (sameSize) {
            if (CopyPlainPixels(destDesc, sourceDesc)) return S_OK;
            SameSize(*dest, *source);
            return S_OK;
        }
        switch (filter & 0xFFFF) {
        case FILTER_NONE:
            FilterNone(*dest, *source);
            return S_OK;
        case FILTER_POINT:
            FilterPoint(*dest, *source);
            return S_OK;
        case FILTER_BOX:
            return BoxFilter(*dest, *source, destDesc, sourceDesc) ? S_OK : E_FAIL;
        case FILTER_LINEAR:
            FilterLinear(*dest, *source, filter);
            return S_OK;
        case FILTER_TRIANGLE:
            return TriangleFilter(*source, *dest, filter);
        default:
            return E_FAIL;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
