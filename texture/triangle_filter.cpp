// The triangle (tent) filter. Along each axis every source pixel is spread
// over the destination as a tent one source pixel wide on each side of its
// centre, measured in destination pixels; a destination pixel takes from
// each source pixel the integral of that tent over its own extent. Because
// neighbouring tents overlap by half, the weights a destination pixel
// receives sum to one, whatever the ratio of sizes.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "texture/copy_engine.h"
#include "texture/filter.h"

namespace {
constexpr float kSmallestWeight = 0.00001f;

// Adds the overlaps of one half of a tent, [a, b] in destination units,
// with the destination pixels. `value(p)` is the tent's height at p; a flat
// half has height 1 throughout.
template <class Height>
void AddHalf(std::vector<std::pair<UINT, float>>& taps, double a, double b, UINT destSize, bool mirror,
             Height height) {
    if (mirror) {
        a = std::max(a, 0.0);
        b = std::min(b, double(destSize));
    }
    if (!(b > a)) return;
    const long long first = static_cast<long long>(std::floor(a));
    const long long last = static_cast<long long>(std::ceil(b));
    for (long long t = first; t < last; ++t) {
        const double u = std::max(a, double(t));
        const double w = std::min(b, double(t + 1));
        if (!(w > u)) continue;
        const float weight = float((w - u) * height(u, w));
        long long index = t % static_cast<long long>(destSize);
        if (index < 0) index += destSize;
        if (!taps.empty() && taps.back().first == UINT(index))
            taps.back().second += weight;
        else
            taps.emplace_back(UINT(index), weight);
    }
}
}  // namespace

TriangleTaps BuildTriangleTaps(UINT sourceSize, UINT destSize, bool mirror) {
    TriangleTaps taps(sourceSize);
    const double s = double(destSize) / double(sourceSize);
    for (UINT j = 0; j < sourceSize; ++j) {
        std::vector<std::pair<UINT, float>> list;
        const double centre = double(j) + 0.5;
        const bool flatLeft = mirror && j == 0;
        const bool flatRight = mirror && j + 1 == sourceSize;
        // Rising half: 0 at (j - 0.5)s, 1 at (j + 0.5)s.
        AddHalf(list, (centre - 1.0) * s, centre * s, destSize, mirror, [&](double u, double w) {
            return flatLeft ? 1.0 : (u + w) / (2.0 * s) - (centre - 1.0);
        });
        // Falling half: 1 at (j + 0.5)s, 0 at (j + 1.5)s.
        AddHalf(list, centre * s, (centre + 1.0) * s, destSize, mirror, [&](double u, double w) {
            return flatRight ? 1.0 : 1.0 - ((u + w) / (2.0 * s) - centre);
        });
        for (const auto& tap : list)
            if (tap.second > kSmallestWeight) taps[j].push_back(tap);
    }
    return taps;
}

namespace {
// The rows (or slices) of the source feeding each destination row, as
// (source index, weight): the transpose of the per-source taps.
std::vector<std::vector<std::pair<UINT, float>>> Transpose(const TriangleTaps& taps, UINT destSize) {
    std::vector<std::vector<std::pair<UINT, float>>> byDest(destSize);
    for (UINT j = 0; j < taps.size(); ++j)
        for (const auto& [t, w] : taps[j]) byDest[t].emplace_back(j, w);
    return byDest;
}

void ClampToRange(Colour4* row, UINT count, ValueRange range) {
    float lowColour = 0.0f, lowAlpha = 0.0f;
    switch (range) {
    case RANGE_UNSIGNED:
        break;
    case RANGE_SIGNED_COLOUR:
        lowColour = -1.0f;
        break;
    case RANGE_SIGNED_ALL:
        lowColour = lowAlpha = -1.0f;
        break;
    default:
        return;  // float formats keep any value
    }
    for (UINT i = 0; i < count; ++i) {
        row[i].r = std::clamp(row[i].r, lowColour, 1.0f);
        row[i].g = std::clamp(row[i].g, lowColour, 1.0f);
        row[i].b = std::clamp(row[i].b, lowColour, 1.0f);
        row[i].a = std::clamp(row[i].a, lowAlpha, 1.0f);
    }
}
}  // namespace

namespace {
// Taps flattened per destination pixel: destination pixel t takes source
// pixels index[first[t]] .. index[first[t + 1] - 1] with their weights.
struct FlatTaps {
    std::vector<UINT> first;
    std::vector<UINT> index;
    std::vector<float> weight;
};

FlatTaps FlattenByDestination(const TriangleTaps& taps, UINT destSize) {
    const auto byDest = Transpose(taps, destSize);
    FlatTaps flat;
    flat.first.reserve(destSize + 1);
    for (const auto& list : byDest) {
        flat.first.push_back(UINT(flat.index.size()));
        for (const auto& [j, w] : list) {
            flat.index.push_back(j);
            flat.weight.push_back(w);
        }
    }
    flat.first.push_back(UINT(flat.index.size()));
    return flat;
}

// Filters one source row across into a row of the destination's width;
// each destination pixel is summed in registers and stored once.
void FilterAcross(const Colour4* in, UINT destWidth, const FlatTaps& columns, Colour4* across) {
    for (UINT t = 0; t < destWidth; ++t) {
        Colour4 sum = {0, 0, 0, 0};
        for (UINT k = columns.first[t]; k < columns.first[t + 1]; ++k) {
            const Colour4& c = in[columns.index[k]];
            const float w = columns.weight[k];
            sum.r += c.r * w;
            sum.g += c.g * w;
            sum.b += c.b * w;
            sum.a += c.a * w;
        }
        across[t] = sum;
    }
}

void AddScaled(Colour4* __restrict out, const Colour4* __restrict in, UINT count, float w) {
    float* o = &out[0].r;
    const float* i = &in[0].r;
    for (UINT k = 0; k < 4 * count; ++k) o[k] += i[k] * w;
}
}  // namespace

HRESULT TriangleFilter(PixelCodec& source, PixelCodec& dest, DWORD filter) {
    const UINT sw = source.Width(), sh = source.Height(), sd = source.Depth();
    const UINT dw = dest.Width(), dh = dest.Height(), dd = dest.Depth();
    try {
        const FlatTaps columns = FlattenByDestination(BuildTriangleTaps(sw, dw, (filter & FILTER_MIRROR_U) != 0), dw);
        const auto rows = Transpose(BuildTriangleTaps(sh, dh, (filter & FILTER_MIRROR_V) != 0), dh);
        const auto slices = Transpose(BuildTriangleTaps(sd, dd, (filter & FILTER_MIRROR_W) != 0), dd);

        // Each source row is read once and filtered across into a row of the
        // destination's width, kept until the last destination row that
        // needs it has been written.
        const size_t sourceRows = size_t(sh) * sd;
        std::vector<size_t> lastUse(sourceRows, 0);
        for (UINT tz = 0; tz < dd; ++tz)
            for (UINT ty = 0; ty < dh; ++ty)
                for (const auto& [jz, wz] : slices[tz])
                    for (const auto& tap : rows[ty]) lastUse[size_t(jz) * sh + tap.first] = size_t(tz) * dh + ty;

        std::vector<std::unique_ptr<Colour4[]>> filtered(sourceRows);
        std::vector<std::unique_ptr<Colour4[]>> spare;  // freed rows, reused
        std::vector<Colour4> sourceRow(sw);
        std::vector<Colour4> out(dw);
        for (UINT tz = 0; tz < dd; ++tz) {
            for (UINT ty = 0; ty < dh; ++ty) {
                std::fill(out.begin(), out.end(), Colour4{0, 0, 0, 0});
                const size_t here = size_t(tz) * dh + ty;
                for (const auto& [jz, wz] : slices[tz]) {
                    for (const auto& [jy, wy] : rows[ty]) {
                        const size_t key = size_t(jz) * sh + jy;
                        if (!filtered[key]) {
                            source.ReadRow(jy, jz, sourceRow.data());
                            if (spare.empty()) {
                                filtered[key].reset(new Colour4[dw]);
                            } else {
                                filtered[key] = std::move(spare.back());
                                spare.pop_back();
                            }
                            FilterAcross(sourceRow.data(), dw, columns, filtered[key].get());
                        }
                        AddScaled(out.data(), filtered[key].get(), dw, wz * wy);
                        if (lastUse[key] == here) spare.push_back(std::move(filtered[key]));
                    }
                }
                ClampToRange(out.data(), dw, source.Range());
                dest.WriteRow(ty, tz, out.data());
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
