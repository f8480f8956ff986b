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

#include "texture/triangle_filter.h"

#include "texture/copy_engine.h"
#include "texture/filter.h"

#if defined(__SSE2__) && !VINTREL_NO_SIMD
#include <xmmintrin.h>
#define VINTREL_TRIANGLE_SSE 1
#else
#define VINTREL_TRIANGLE_SSE 0
#endif

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
    // Per destination pixel: its source pixels are consecutive; its weights
    // are those of the pixel before it (the common case in the middle of
    // an image when the sizes are in a whole ratio).
    std::vector<BYTE> consecutive, sameWeights;
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
    flat.consecutive.assign(destSize, 1);
    flat.sameWeights.assign(destSize, 0);
    for (UINT t = 0; t < destSize; ++t) {
        const UINT k = flat.first[t], n = flat.first[t + 1] - k;
        for (UINT m = 1; m < n; ++m)
            if (flat.index[k + m] != flat.index[k] + m) flat.consecutive[t] = 0;
        if (t > 0 && flat.first[t] - flat.first[t - 1] == n)
            flat.sameWeights[t] = std::equal(flat.weight.begin() + k, flat.weight.begin() + k + n,
                                             flat.weight.begin() + flat.first[t - 1]);
    }
    return flat;
}

// Filters one source row across into a row of the destination's width;
// each destination pixel is summed in registers and stored once. The four
// channels go side by side, each with the same products and sums in the
// same order as one channel alone.
void FilterAcross(const Colour4* in, UINT destWidth, const FlatTaps& columns, Colour4* across) {
#if VINTREL_TRIANGLE_SSE
    const UINT* first = columns.first.data();
    const UINT* index = columns.index.data();
    const float* weight = columns.weight.data();
    auto one = [&](UINT t) {
        __m128 sum = _mm_setzero_ps();
        for (UINT k = first[t]; k < first[t + 1]; ++k)
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(&in[index[k]].r), _mm_set1_ps(weight[k])));
        _mm_storeu_ps(&across[t].r, sum);
    };
    UINT t = 0;
    // Four destination pixels with as many taps each are summed side by
    // side, so that their chains of additions overlap.
    for (; t + 4 <= destWidth; t += 4) {
        const UINT n = first[t + 1] - first[t];
        if (first[t + 2] - first[t + 1] != n || first[t + 3] - first[t + 2] != n || first[t + 4] - first[t + 3] != n) {
            for (UINT u = t; u < t + 4; ++u) one(u);
            continue;
        }
        const UINT k0 = first[t], k1 = first[t + 1], k2 = first[t + 2], k3 = first[t + 3];
        __m128 s0 = _mm_setzero_ps(), s1 = _mm_setzero_ps(), s2 = _mm_setzero_ps(), s3 = _mm_setzero_ps();
        if (columns.consecutive[t] && columns.consecutive[t + 1] && columns.consecutive[t + 2] &&
            columns.consecutive[t + 3] && columns.sameWeights[t + 1] && columns.sameWeights[t + 2] &&
            columns.sameWeights[t + 3]) {
            // Runs of source pixels under one set of weights.
            const float* p0 = &in[index[k0]].r;
            const float* p1 = &in[index[k1]].r;
            const float* p2 = &in[index[k2]].r;
            const float* p3 = &in[index[k3]].r;
            for (UINT m = 0; m < n; ++m) {
                const __m128 w = _mm_set1_ps(weight[k0 + m]);
                s0 = _mm_add_ps(s0, _mm_mul_ps(_mm_loadu_ps(p0 + 4 * m), w));
                s1 = _mm_add_ps(s1, _mm_mul_ps(_mm_loadu_ps(p1 + 4 * m), w));
                s2 = _mm_add_ps(s2, _mm_mul_ps(_mm_loadu_ps(p2 + 4 * m), w));
                s3 = _mm_add_ps(s3, _mm_mul_ps(_mm_loadu_ps(p3 + 4 * m), w));
            }
        } else {
            for (UINT m = 0; m < n; ++m) {
                s0 = _mm_add_ps(s0, _mm_mul_ps(_mm_loadu_ps(&in[index[k0 + m]].r), _mm_set1_ps(weight[k0 + m])));
                s1 = _mm_add_ps(s1, _mm_mul_ps(_mm_loadu_ps(&in[index[k1 + m]].r), _mm_set1_ps(weight[k1 + m])));
                s2 = _mm_add_ps(s2, _mm_mul_ps(_mm_loadu_ps(&in[index[k2 + m]].r), _mm_set1_ps(weight[k2 + m])));
                s3 = _mm_add_ps(s3, _mm_mul_ps(_mm_loadu_ps(&in[index[k3 + m]].r), _mm_set1_ps(weight[k3 + m])));
            }
        }
        _mm_storeu_ps(&across[t].r, s0);
        _mm_storeu_ps(&across[t + 1].r, s1);
        _mm_storeu_ps(&across[t + 2].r, s2);
        _mm_storeu_ps(&across[t + 3].r, s3);
    }
    for (; t < destWidth; ++t) one(t);
#else
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
#endif
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

namespace {
// One destination of TriangleFilterLevels: its tap tables and the source
// rows, filtered across to its width, that destination rows still need.
struct LevelState {
    PixelCodec* dest = nullptr;
    UINT width = 0, height = 0;
    FlatTaps columns;
    std::vector<std::vector<std::pair<UINT, float>>> rows;  // per destination row
    float sliceWeight = 1.0f;
    std::vector<long long> readyAfter;  // per destination row: last source step it waits for
    std::vector<long long> lastUse;     // per source row: last destination row using it, or -1
    std::vector<std::unique_ptr<Colour4[]>> filtered;  // per source row, while in use
    std::vector<std::unique_ptr<Colour4[]>> spare;
    std::vector<Colour4> out;
    UINT next = 0;  // next destination row to write
};
}  // namespace

namespace {
bool g_exactTriangleChains = false;

bool IsPowerOfTwo(UINT v) { return v != 0 && (v & (v - 1)) == 0; }

// A chain whose every level halves the one above along each axis (an axis
// already at 1 stays 1), from a source of power-of-two sizes.
bool IsHalvingChain(UINT width, UINT height, const std::vector<PixelCodec*>& dests) {
    if (!IsPowerOfTwo(width) || !IsPowerOfTwo(height)) return false;
    for (const PixelCodec* dest : dests) {
        width = std::max(width / 2, 1u);
        height = std::max(height / 2, 1u);
        if (dest->Width() != width || dest->Height() != height || dest->Depth() != 1) return false;
    }
    return true;
}

// The levels after the first of a chain of halvings. Along each axis the
// tent filter amounts to the mean, over the destination pixel's extent, of
// the source interpolated linearly between pixel centres (held flat beyond
// the edge pixels when mirrored, periodic when wrapped). For a destination
// pixel covering two pixels of the level above, that mean is the mean of
// their two means: so, unclamped, each level after the first is the 2x2
// mean of the one above, and nothing but the first level needs the source.
// Only float rounding tells the two computations apart.
class HalvingChain {
public:
    HalvingChain(const std::vector<PixelCodec*>& dests, ValueRange range) : range_(range), levels_(dests.size()) {
        for (size_t n = 0; n < dests.size(); ++n) {
            Level& level = levels_[n];
            level.dest = dests[n];
            level.width = dests[n]->Width();
            level.height = dests[n]->Height();
            level.out.resize(level.width);
            if (n > 0) {
                level.pairsAcross = levels_[n - 1].width > level.width;
                level.pairsDown = levels_[n - 1].height > level.height;
                level.sum.resize(level.width);
                level.scale = level.pairsAcross && level.pairsDown ? 0.25f
                              : level.pairsAcross || level.pairsDown ? 0.5f
                                                                     : 1.0f;
            }
        }
    }

    // Takes the next row of level `n`, unclamped: writes it, and adds it
    // into the level below, which takes its row once complete.
    void Take(size_t n, const Colour4* row) {
        Level& level = levels_[n];
        level.dest->WriteRow(level.next++, 0, Clamped(row, level.width, level.out.data()));
        if (n + 1 == levels_.size()) return;

        Level& below = levels_[n + 1];
        const bool first = !below.pairsDown || level.next % 2 == 1;
        AddAcross(row, below, first);
        if (first && below.pairsDown) return;
        Scale(below.sum.data(), below.width, below.scale);
        Take(n + 1, below.sum.data());
    }

    bool Complete() const {
        for (const Level& level : levels_)
            if (level.next != level.height) return false;
        return true;
    }

private:
    struct Level {
        PixelCodec* dest = nullptr;
        UINT width = 0, height = 0;
        bool pairsAcross = false, pairsDown = false;  // what this level takes from the one above
        float scale = 1.0f;
        std::vector<Colour4> sum;  // this level's next row, summing
        std::vector<Colour4> out;  // the row clamped for writing
        UINT next = 0;             // next row to write
    };

    // Adds a row of the level above into `below.sum` (or starts it), pixel
    // pairs summed first: ((a0 + a1) + (b0 + b1)) for a 2x2 block.
    static void AddAcross(const Colour4* row, Level& below, bool first) {
        const UINT width = below.width;
        const UINT step = below.pairsAcross ? 2 : 1;
        Colour4* sum = below.sum.data();
#if VINTREL_TRIANGLE_SSE
        for (UINT x = 0; x < width; ++x) {
            __m128 v = _mm_loadu_ps(&row[step * x].r);
            if (step == 2) v = _mm_add_ps(v, _mm_loadu_ps(&row[2 * x + 1].r));
            if (!first) v = _mm_add_ps(_mm_loadu_ps(&sum[x].r), v);
            _mm_storeu_ps(&sum[x].r, v);
        }
#else
        for (UINT x = 0; x < width; ++x) {
            Colour4 v = row[step * x];
            if (step == 2) {
                const Colour4& b = row[2 * x + 1];
                v = {v.r + b.r, v.g + b.g, v.b + b.b, v.a + b.a};
            }
            if (!first) v = {sum[x].r + v.r, sum[x].g + v.g, sum[x].b + v.b, sum[x].a + v.a};
            sum[x] = v;
        }
#endif
    }

    // `row` clamped to the range, in `out` unless nothing needs clamping.
    const Colour4* Clamped(const Colour4* row, UINT count, Colour4* out) const {
        float lowColour = 0.0f, lowAlpha = 0.0f;
        if (range_ == RANGE_SIGNED_COLOUR) lowColour = -1.0f;
        if (range_ == RANGE_SIGNED_ALL) lowColour = lowAlpha = -1.0f;
        if (range_ != RANGE_UNSIGNED && range_ != RANGE_SIGNED_COLOUR && range_ != RANGE_SIGNED_ALL) return row;
#if VINTREL_TRIANGLE_SSE
        // max(low, v) and min(high, v) pass NaN through as std::clamp does.
        const __m128 low = _mm_setr_ps(lowColour, lowColour, lowColour, lowAlpha);
        const __m128 high = _mm_set1_ps(1.0f);
        for (UINT i = 0; i < count; ++i)
            _mm_storeu_ps(&out[i].r, _mm_min_ps(high, _mm_max_ps(low, _mm_loadu_ps(&row[i].r))));
#else
        std::copy(row, row + count, out);
        ClampToRange(out, count, range_);
#endif
        return out;
    }

    static void Scale(Colour4* row, UINT count, float scale) {
        if (scale == 1.0f) return;
        float* f = &row[0].r;
        for (UINT k = 0; k < 4 * count; ++k) f[k] *= scale;
    }

    ValueRange range_;
    std::vector<Level> levels_;
};

HRESULT FilterLevels(PixelCodec& source, const std::vector<PixelCodec*>& dests, DWORD filter) {
    const UINT sw = source.Width(), sh = source.Height();
    if (source.Depth() != 1) return E_FAIL;
    for (PixelCodec* dest : dests)
        if (dest->Depth() != 1) return E_FAIL;
    // Source rows are taken once each, the last row first: with wrapping
    // tents the first destination row needs it, and every other row comes
    // in increasing order. Step of source row j in that order:
    auto step = [sh](UINT j) -> long long { return j + 1 == sh ? -1 : static_cast<long long>(j); };
    try {
        std::vector<LevelState> levels(dests.size());
        for (size_t n = 0; n < dests.size(); ++n) {
            LevelState& level = levels[n];
            level.dest = dests[n];
            level.width = dests[n]->Width();
            level.height = dests[n]->Height();
            level.columns =
                FlattenByDestination(BuildTriangleTaps(sw, level.width, (filter & FILTER_MIRROR_U) != 0), level.width);
            level.rows = Transpose(BuildTriangleTaps(sh, level.height, (filter & FILTER_MIRROR_V) != 0), level.height);
            // The single slice feeds the single slice with the weight the
            // one-slice filter gives it, as in TriangleFilter.
            const auto slices = Transpose(BuildTriangleTaps(1, 1, (filter & FILTER_MIRROR_W) != 0), 1);
            if (slices[0].size() != 1) return E_FAIL;
            level.sliceWeight = slices[0][0].second;
            level.readyAfter.assign(level.height, -1);
            level.lastUse.assign(sh, -1);
            for (UINT ty = 0; ty < level.height; ++ty) {
                for (const auto& [jy, wy] : level.rows[ty]) {
                    level.readyAfter[ty] = std::max(level.readyAfter[ty], step(jy));
                    level.lastUse[jy] = ty;
                }
            }
            level.filtered.resize(sh);
            level.out.resize(level.width);
        }

        std::vector<Colour4> sourceRow(sw);
        for (UINT n = 0; n < sh; ++n) {
            const UINT j = n == 0 ? sh - 1 : n - 1;
            const long long at = step(j);
            bool read = false;
            for (LevelState& level : levels) {
                if (level.lastUse[j] < 0) continue;
                if (!read) {
                    source.ReadRow(j, 0, sourceRow.data());
                    read = true;
                }
                if (level.spare.empty()) {
                    level.filtered[j].reset(new Colour4[level.width]);
                } else {
                    level.filtered[j] = std::move(level.spare.back());
                    level.spare.pop_back();
                }
                FilterAcross(sourceRow.data(), level.width, level.columns, level.filtered[j].get());
            }
            // Every destination row whose source rows are all in is summed
            // and written, in increasing order.
            for (LevelState& level : levels) {
                while (level.next < level.height && level.readyAfter[level.next] <= at) {
                    const UINT ty = level.next++;
                    std::fill(level.out.begin(), level.out.end(), Colour4{0, 0, 0, 0});
                    for (const auto& [jy, wy] : level.rows[ty]) {
                        AddScaled(level.out.data(), level.filtered[jy].get(), level.width, level.sliceWeight * wy);
                        if (level.lastUse[jy] == static_cast<long long>(ty))
                            level.spare.push_back(std::move(level.filtered[jy]));
                    }
                    ClampToRange(level.out.data(), level.width, source.Range());
                    level.dest->WriteRow(ty, 0, level.out.data());
                }
            }
        }
        for (const LevelState& level : levels)
            if (level.next != level.height) return E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
}  // namespace

namespace {
// The pixels of a halving whose taps are the regular four, source pixels
// 2t - 1 .. 2t + 2 under the weights of the first of them: [first, end).
struct RegularRun {
    UINT first = 0, end = 0;
};

RegularRun FindRegularRun(const FlatTaps& columns, UINT destWidth) {
    RegularRun run;
    auto regular = [&](UINT t) {
        const UINT k = columns.first[t];
        return t >= 1 && columns.first[t + 1] - k == 4 && columns.consecutive[t] && columns.index[k] == 2 * t - 1;
    };
    UINT t = 0;
    while (t < destWidth && !regular(t)) ++t;
    run.first = run.end = t;
    while (run.end < destWidth && regular(run.end) &&
           (run.end == run.first || columns.sameWeights[run.end]))
        ++run.end;
    return run;
}

// FilterAcross for a halving: the regular run without looking up taps,
// four destination pixels side by side, the same products and sums.
void FilterAcrossHalving(const Colour4* in, UINT destWidth, const FlatTaps& columns, RegularRun run,
                         Colour4* across) {
#if VINTREL_TRIANGLE_SSE
    if (run.end - run.first < 4) {
        FilterAcross(in, destWidth, columns, across);
        return;
    }
    const UINT* first = columns.first.data();
    const UINT* index = columns.index.data();
    const float* weight = columns.weight.data();
    auto one = [&](UINT t) {
        __m128 sum = _mm_setzero_ps();
        for (UINT k = first[t]; k < first[t + 1]; ++k)
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(&in[index[k]].r), _mm_set1_ps(weight[k])));
        _mm_storeu_ps(&across[t].r, sum);
    };
    for (UINT t = 0; t < run.first; ++t) one(t);
    const UINT k = first[run.first];
    const __m128 w0 = _mm_set1_ps(weight[k]), w1 = _mm_set1_ps(weight[k + 1]);
    const __m128 w2 = _mm_set1_ps(weight[k + 2]), w3 = _mm_set1_ps(weight[k + 3]);
    const __m128 zero = _mm_setzero_ps();
    auto sum = [&](const float* p) {
        __m128 s = _mm_add_ps(zero, _mm_mul_ps(_mm_loadu_ps(p), w0));
        s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(p + 4), w1));
        s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(p + 8), w2));
        return _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(p + 12), w3));
    };
    UINT t = run.first;
    for (; t + 4 <= run.end; t += 4) {
        const float* p = &in[2 * t - 1].r;
        const __m128 s0 = sum(p), s1 = sum(p + 8), s2 = sum(p + 16), s3 = sum(p + 24);
        _mm_storeu_ps(&across[t].r, s0);
        _mm_storeu_ps(&across[t + 1].r, s1);
        _mm_storeu_ps(&across[t + 2].r, s2);
        _mm_storeu_ps(&across[t + 3].r, s3);
    }
    for (; t < destWidth; ++t) one(t);
#else
    (void)run;
    FilterAcross(in, destWidth, columns, across);
#endif
}

// Sums `count` taps of rows filtered across: out = (((0 + r0 w0) + r1 w1)
// + ...), the products and sums of FilterLevels in its order, in one pass.
void SumDown(const Colour4* const* rows, const float* weights, UINT count, UINT width, Colour4* out) {
#if VINTREL_TRIANGLE_SSE
    if (count == 4) {
        const __m128 w0 = _mm_set1_ps(weights[0]), w1 = _mm_set1_ps(weights[1]);
        const __m128 w2 = _mm_set1_ps(weights[2]), w3 = _mm_set1_ps(weights[3]);
        const float *r0 = &rows[0][0].r, *r1 = &rows[1][0].r, *r2 = &rows[2][0].r, *r3 = &rows[3][0].r;
        for (UINT k = 0; k < 4 * width; k += 4) {
            __m128 sum = _mm_add_ps(_mm_setzero_ps(), _mm_mul_ps(_mm_loadu_ps(r0 + k), w0));
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(r1 + k), w1));
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(r2 + k), w2));
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(r3 + k), w3));
            _mm_storeu_ps(&out[0].r + k, sum);
        }
        return;
    }
#endif
    std::fill(out, out + width, Colour4{0, 0, 0, 0});
    for (UINT m = 0; m < count; ++m) AddScaled(out, rows[m], width, weights[m]);
}

// A chain of halvings: the first level filtered from the source with the
// same taps, products and sums as FilterLevels, the further levels from it
// by HalvingChain.
HRESULT FilterHalvingChain(PixelCodec& source, const std::vector<PixelCodec*>& dests, DWORD filter) {
    const UINT sw = source.Width(), sh = source.Height();
    PixelCodec& top = *dests[0];
    const UINT dw = top.Width(), dh = top.Height();
    try {
        HalvingChain chain(dests, source.Range());
        const FlatTaps columns = FlattenByDestination(BuildTriangleTaps(sw, dw, (filter & FILTER_MIRROR_U) != 0), dw);
        const RegularRun run = FindRegularRun(columns, dw);
        const auto rows = Transpose(BuildTriangleTaps(sh, dh, (filter & FILTER_MIRROR_V) != 0), dh);
        const auto slices = Transpose(BuildTriangleTaps(1, 1, (filter & FILTER_MIRROR_W) != 0), 1);
        if (slices[0].size() != 1) return E_FAIL;
        const float sliceWeight = slices[0][0].second;

        // Source rows filtered across, by source row: the first and last
        // rows (wrapping tents need them at both ends of the image) each in
        // their own slot, the others in a ring of four, which holds every
        // row one destination row takes from the middle of the image.
        constexpr UINT kRing = 4;
        std::vector<Colour4> sourceRow(sw);
        std::vector<Colour4> store(size_t(kRing + 2) * dw);
        UINT held[kRing + 2];
        std::fill(std::begin(held), std::end(held), ~0u);
        auto across = [&](UINT j) -> const Colour4* {
            const UINT slot = j == 0 ? kRing : j + 1 == sh ? kRing + 1 : j % kRing;
            Colour4* row = store.data() + size_t(slot) * dw;
            if (held[slot] != j) {
                source.ReadRow(j, 0, sourceRow.data());
                FilterAcrossHalving(sourceRow.data(), dw, columns, run, row);
                held[slot] = j;
            }
            return row;
        };

        std::vector<Colour4> out(dw);
        std::vector<const Colour4*> taken;
        std::vector<float> weights;
        for (UINT ty = 0; ty < dh; ++ty) {
            taken.clear();
            weights.clear();
            for (const auto& [jy, wy] : rows[ty]) {
                taken.push_back(across(jy));
                weights.push_back(sliceWeight * wy);
            }
            SumDown(taken.data(), weights.data(), UINT(taken.size()), dw, out.data());
            chain.Take(0, out.data());
        }
        if (!chain.Complete()) return E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
}  // namespace

HRESULT TriangleFilterLevels(const std::vector<PixelSurface>& destsIn, const PixelSurface& sourceIn, DWORD filter) {
    if (!IsValidFilter(filter) || (filter & 0xFFFF) != FILTER_TRIANGLE) return D3DERR_INVALIDCALL;
    // The flags each side takes from the filter word, as for any copy.
    PixelSurface sourceDesc = sourceIn;
    sourceDesc.gamma = (filter & FILTER_SRGB_IN) != 0;
    sourceDesc.orderedDither = sourceDesc.diffusionDither = false;
    auto empty = [](const D3DBOX& b) { return b.Right <= b.Left || b.Bottom <= b.Top || b.Back <= b.Front; };
    if (empty(sourceDesc.box)) return E_FAIL;
    std::vector<std::unique_ptr<PixelCodec>> dests;
    std::vector<PixelCodec*> targets;
    std::unique_ptr<PixelCodec> source;
    HRESULT hr = S_OK;
    for (const PixelSurface& destIn : destsIn) {
        PixelSurface destDesc = destIn;
        destDesc.gamma = (filter & FILTER_SRGB_OUT) != 0;
        destDesc.orderedDither = (filter & FILTER_DITHER) != 0;
        destDesc.diffusionDither = (filter & FILTER_DITHER_DIFFUSION) != 0;
        destDesc.colourKey = 0;
        if (empty(destDesc.box)) continue;
        std::unique_ptr<PixelCodec> dest;
        hr = CreatePixelCodec(destDesc, dest);
        if (FAILED(hr)) return hr;
        if (!dest) return E_FAIL;
        targets.push_back(dest.get());
        dests.push_back(std::move(dest));
    }
    hr = CreatePixelCodec(sourceDesc, source);
    if (FAILED(hr)) return hr;
    if (!source) return E_FAIL;
    for (PixelCodec* dest : targets) LinkPixelCodecs(*source, *dest);
    if (g_exactTriangleChains || targets.size() < 2 || source->Depth() != 1 ||
        !IsHalvingChain(source->Width(), source->Height(), targets))
        return FilterLevels(*source, targets, filter);
    return FilterHalvingChain(*source, targets, filter);
}

void UseExactTriangleChains(bool exact) { g_exactTriangleChains = exact; }
