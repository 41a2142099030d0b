// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/resize_transform.h"

#include "imaging/row_bands.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

// The accumulation loops are compiled twice, once for processors with fused
// multiply-add in hardware and once for the rest, and picked at load time.
// std::fma is correctly rounded either way, so both give the same bytes; the
// hardware version only avoids a library call per tap.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define QX_FMA_CLONES __attribute__((target_clones("fma", "default")))
#else
#define QX_FMA_CLONES
#endif

namespace {

using Extended = long double;

constexpr Extended kTwoThirds = 2.0L / 3.0L;
constexpr Extended kOneSixth = 1.0L / 6.0L;
constexpr Extended kSixteenThirds = 16.0L / 3.0L;
constexpr Extended kSevenThirds = 7.0L / 3.0L;
constexpr Extended kThirtyTwoThirds = 32.0L / 3.0L;
constexpr Extended kPi = 3.141592653589793238462643383279502884L;

// sin(pi u) / (pi u), with pi u rounded to float before the sine.
Extended sinc(float u)
{
    if (u == 0.0f)
        return 1.0L;
    const float a = static_cast<float>(kPi * u);
    return std::sin(static_cast<Extended>(a)) / a;
}

int32_t reflectIndex(int64_t j, int32_t n)
{
    if (j < 0)
        j = -j;
    else if (j >= n)
        j = 2 * int64_t(n) - 1 - j;
    if (j < 0 || j >= n)
        return -1;
    return static_cast<int32_t>(j);
}

// Contributor lists flattened for the passes: the taps of destination index
// i are taps[start[i] .. start[i + 1]), zero-weight taps left out (they are
// never read).
struct FlatContributors {
    std::vector<int32_t> start;
    std::vector<TContributor> taps;
};

FlatContributors flatten(const std::vector<TContributorList>& lists)
{
    FlatContributors flat;
    flat.start.reserve(lists.size() + 1);
    size_t total = 0;
    for (const TContributorList& list : lists)
        total += list.Entries.size();
    flat.taps.reserve(total);
    for (const TContributorList& list : lists) {
        flat.start.push_back(static_cast<int32_t>(flat.taps.size()));
        for (const TContributor& c : list.Entries)
            if (c.Weight != 0.0f)
                flat.taps.push_back(c);
    }
    flat.start.push_back(static_cast<int32_t>(flat.taps.size()));
    return flat;
}

// One row of the horizontal pass: out[i] from in[taps of i].
QX_FMA_CLONES
void horizontalRow(const uint8_t* in, uint8_t* out, const FlatContributors& flat, int32_t dstW)
{
    const TContributor* taps = flat.taps.data();
    const int32_t* start = flat.start.data();
    for (int32_t i = 0; i < dstW; ++i) {
        float sb = 0.0f, sg = 0.0f, sr = 0.0f;
        for (int32_t k = start[i]; k < start[i + 1]; ++k) {
            const uint8_t* p = in + 3 * size_t(taps[k].Pixel);
            const float w = taps[k].Weight;
            sb = std::fma(float(p[0]), w, sb);
            sg = std::fma(float(p[1]), w, sg);
            sr = std::fma(float(p[2]), w, sr);
        }
        out[3 * size_t(i)] = ResampleChannelToByte(sb);
        out[3 * size_t(i) + 1] = ResampleChannelToByte(sg);
        out[3 * size_t(i) + 2] = ResampleChannelToByte(sr);
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define QX_VECTOR_ROWS 1
// The horizontal row with the three channels of a pixel in one vector: the
// row is first widened to four floats per pixel (blue, green, red, 0), then
// every tap is one fused multiply-add of four lanes. Each lane is rounded
// exactly as the scalar std::fma above rounds its channel, in the same tap
// order, so both give the same bytes.
__attribute__((target("avx,fma"))) void horizontalRowVector(const uint8_t* in, int32_t srcW, uint8_t* out,
                                                            const FlatContributors& flat, int32_t dstW,
                                                            std::vector<float>& lanes)
{
    lanes.resize(4 * size_t(srcW));
    float* l = lanes.data();
    for (int32_t x = 0; x < srcW; ++x, in += 3, l += 4) {
        l[0] = float(in[0]);
        l[1] = float(in[1]);
        l[2] = float(in[2]);
        l[3] = 0.0f;
    }
    const float* pixels = lanes.data();
    const TContributor* taps = flat.taps.data();
    const int32_t* start = flat.start.data();
    for (int32_t i = 0; i < dstW; ++i) {
        __m128 sum = _mm_setzero_ps();
        for (int32_t k = start[i]; k < start[i + 1]; ++k)
            sum = _mm_fmadd_ps(_mm_loadu_ps(pixels + 4 * size_t(taps[k].Pixel)), _mm_set1_ps(taps[k].Weight), sum);
        alignas(16) float s[4];
        _mm_store_ps(s, sum);
        out[3 * size_t(i)] = ResampleChannelToByte(s[0]);
        out[3 * size_t(i) + 1] = ResampleChannelToByte(s[1]);
        out[3 * size_t(i) + 2] = ResampleChannelToByte(s[2]);
    }
}

bool vectorRowsAvailable()
{
    static const bool available = __builtin_cpu_supports("avx") && __builtin_cpu_supports("fma");
    return available;
}
#endif

// One destination row of the vertical pass: sums[k] accumulates the
// intermediate rows of the row's taps, in tap order, for every byte k.
QX_FMA_CLONES
void verticalRow(const TDibGraphic& intermediate, const TContributor* taps, int32_t count, float* sums, size_t n)
{
    std::fill(sums, sums + n, 0.0f);
    for (int32_t k = 0; k < count; ++k) {
        const uint8_t* p = intermediate.RowPointer(taps[k].Pixel);
        const float w = taps[k].Weight;
        for (size_t b = 0; b < n; ++b)
            sums[b] = std::fma(float(p[b]), w, sums[b]);
    }
}

// Rows per band below which splitting costs more than it saves: a band
// should carry at least about a million multiply-adds.
int32_t minRowsPerBand(size_t tapsPerRow)
{
    constexpr size_t kTapsPerBand = size_t(1) << 18;  // times three channels
    return int32_t(std::clamp<size_t>(kTapsPerBand / std::max<size_t>(tapsPerRow, 1), 1, size_t(INT32_MAX)));
}

// Source rows [first, last) through the horizontal pass into the intermediate image.
void horizontalBand(const TDibGraphic& source, TDibGraphic& intermediate, const FlatContributors& columns,
                    int32_t first, int32_t last)
{
    std::vector<uint8_t> scratch(source.ImageFormat() == ifRgb24 ? 0 : 3 * size_t(source.Width()));
#ifdef QX_VECTOR_ROWS
    if (vectorRowsAvailable()) {
        std::vector<float> lanes;
        for (int32_t y = first; y < last; ++y)
            horizontalRowVector(RowAsBgr(source, y, scratch), source.Width(), intermediate.RowPointer(y), columns,
                                intermediate.Width(), lanes);
        return;
    }
#endif
    for (int32_t y = first; y < last; ++y)
        horizontalRow(RowAsBgr(source, y, scratch), intermediate.RowPointer(y), columns, intermediate.Width());
}

// Destination rows [first, last) through the vertical pass.
void verticalBand(const TDibGraphic& intermediate, TDibGraphic& destination, const FlatContributors& rows,
                  int32_t first, int32_t last)
{
    const int32_t dstW = destination.Width();
    const size_t n = 3 * size_t(dstW);
    std::vector<float> sums(n);
    const bool direct = destination.ImageFormat() == ifRgb24;
    for (int32_t i = first; i < last; ++i) {
        const int32_t tap = rows.start[size_t(i)];
        verticalRow(intermediate, rows.taps.data() + tap, rows.start[size_t(i) + 1] - tap, sums.data(), n);
        if (direct) {
            uint8_t* out = destination.RowPointer(i);
            for (size_t b = 0; b < n; ++b)
                out[b] = ResampleChannelToByte(sums[b]);
        } else {
            for (int32_t x = 0; x < dstW; ++x) {
                const uint8_t blue = ResampleChannelToByte(sums[3 * size_t(x)]);
                const uint8_t green = ResampleChannelToByte(sums[3 * size_t(x) + 1]);
                const uint8_t red = ResampleChannelToByte(sums[3 * size_t(x) + 2]);
                destination.SetPixelColor(x, i, MakeColor(red, green, blue));
            }
        }
    }
}

}  // namespace

float TriangleKernel(float x)
{
    const float t = std::fabs(x);
    if (t < 1.0f)
        return static_cast<float>(1.0L - t);
    return 0.0f;
}

float HermiteKernel(float x)
{
    const float t = std::fabs(x);
    if (t < 1.0f) {
        const float tt = static_cast<float>(Extended(t) * t);
        return static_cast<float>((2.0L * t - 3.0L) * tt + 1.0L);
    }
    return 0.0f;
}

float QuadraticBSplineKernel(float x)
{
    const float t = std::fabs(x);
    if (t < 0.5f) {
        const float tt = static_cast<float>(Extended(t) * t);
        return static_cast<float>(0.75L - tt);
    }
    if (t < 1.5f) {
        const float u = static_cast<float>(Extended(t) - 1.5L);
        return static_cast<float>(0.5L * (Extended(u) * u));
    }
    return 0.0f;
}

float CubicBSplineKernel(float x)
{
    const float t = std::fabs(x);
    if (t < 1.0f) {
        const float tt = static_cast<float>(Extended(t) * t);
        return static_cast<float>(0.5L * tt * t - tt + kTwoThirds);
    }
    if (t < 2.0f) {
        const float u = static_cast<float>(2.0L - t);
        return static_cast<float>(kOneSixth * (Extended(u) * u) * u);
    }
    return 0.0f;
}

float Lanczos3Kernel(float x)
{
    const float t = std::fabs(x);
    if (t < 3.0f)
        return static_cast<float>(sinc(t) * sinc(static_cast<float>(t / 3.0L)));
    return 0.0f;
}

float MitchellKernel(float x)
{
    const float t = std::fabs(x);
    if (t < 2.0f) {
        const float tt = static_cast<float>(Extended(t) * t);
        const Extended ttt = Extended(t) * tt;
        if (t < 1.0f)
            return static_cast<float>((7.0L * ttt - 12.0L * tt + kSixteenThirds) / 6.0L);
        return static_cast<float>((-kSevenThirds * ttt + 12.0L * tt - 20.0L * t + kThirtyTwoThirds) / 6.0L);
    }
    return 0.0f;
}

const TResampleKernelEntry ResampleKernels[6] = {
    {"Triangle", TriangleKernel, 1.0f},
    {"Hermite", HermiteKernel, 1.0f},
    {"Quadratic B-spline", QuadraticBSplineKernel, 1.5f},
    {"Cubic B-spline", CubicBSplineKernel, 2.0f},
    {"Lanczos3", Lanczos3Kernel, 3.0f},
    {"Mitchell", MitchellKernel, 2.0f},
};

float ResampleScale(int32_t destinationLength, int32_t sourceLength)
{
    if (sourceLength == 1)
        return static_cast<float>(Extended(destinationLength) / sourceLength);
    return static_cast<float>(Extended(destinationLength - 1) / (sourceLength - 1));
}

std::vector<TContributorList> BuildContributorLists(int32_t destinationLength, int32_t sourceLength, float scale,
                                                    TResampleFunction kernel, float support)
{
    std::vector<TContributorList> lists(std::max(destinationLength, 0));
    const bool shrinking = scale < 1.0f;
    float width = support;
    float fscale = 1.0f;
    if (shrinking) {
        width = static_cast<float>(Extended(support) / scale);
        fscale = static_cast<float>(1.0L / scale);
    }
    // Room for floor(2w + 1) taps; a list never needs more than the taps in
    // [center - w, center + w], and the vector grows if rounding asks for one
    // more, so no list is ever written past its room.
    const Extended room = std::floor(2.0L * width + 1.0L);
    const size_t reserve = room > 0 ? size_t(std::min<Extended>(room, 2.0L * sourceLength + 8.0L)) : 0;

    for (int32_t i = 0; i < destinationLength; ++i) {
        std::vector<TContributor>& entries = lists[size_t(i)].Entries;
        entries.reserve(reserve);
        const float center = static_cast<float>(Extended(i) / scale);
        const int64_t left = static_cast<int64_t>(std::floor(Extended(center) - width));
        const int64_t right = static_cast<int64_t>(std::ceil(Extended(center) + width));
        for (int64_t j = left; j <= right; ++j) {
            float weight;
            if (shrinking) {
                const float arg = static_cast<float>((Extended(center) - j) / fscale);
                weight = static_cast<float>(Extended(kernel(arg)) / fscale);
            } else {
                weight = kernel(static_cast<float>(Extended(center) - j));
            }
            if (weight == 0.0f)
                continue;
            int32_t pixel = reflectIndex(j, sourceLength);
            if (pixel < 0) {
                // Only when the kernel is wider than the picture: the tap is
                // kept with no weight and never read.
                pixel = 0;
                weight = 0.0f;
            }
            entries.push_back({pixel, weight});
        }
    }
    return lists;
}

uint8_t ResampleChannelToByte(float sum)
{
    if (sum > 255.0f)
        return 255;
    if (sum < 0.0f)
        return 0;
    return static_cast<uint8_t>(std::nearbyint(sum));
}

namespace {

void checkResampleSizes(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH)
{
    if (srcW < 1 || srcH < 1)
        throw ETavrinError("Source graphic too small");
    if (dstW <= 1 || dstH <= 1)
        throw ETavrinError("Destination graphic too small");
}

// Every row of either pass depends only on its inputs, so bands of rows run
// side by side and give the bytes a single thread gives.

// The first pass: every source row resampled to dstW pixels.
void horizontalPass(const TDibGraphic& source, TDibGraphic& intermediate, int32_t dstW, TResampleFunction kernel,
                    float support)
{
    const int32_t srcW = source.Width();
    const int32_t srcH = source.Height();
    intermediate.NewImage(dstW, srcH, ifRgb24, nullptr, 0, 0);
    const FlatContributors columns =
        flatten(BuildContributorLists(dstW, srcW, ResampleScale(dstW, srcW), kernel, support));
    ForEachRowBand(srcH, minRowsPerBand(columns.taps.size()),
                   [&](int32_t first, int32_t last) { horizontalBand(source, intermediate, columns, first, last); });
}

// The second pass: the intermediate's columns resampled to the destination's height.
void verticalPass(const TDibGraphic& intermediate, TDibGraphic& destination, TResampleFunction kernel, float support)
{
    const int32_t srcH = intermediate.Height();
    const int32_t dstW = destination.Width();
    const int32_t dstH = destination.Height();
    const FlatContributors rows =
        flatten(BuildContributorLists(dstH, srcH, ResampleScale(dstH, srcH), kernel, support));
    if (destination.ImageFormat() == ifRgb24) {
        const size_t tapsPerRow = rows.taps.size() / size_t(dstH) * size_t(dstW);
        ForEachRowBand(dstH, minRowsPerBand(tapsPerRow), [&](int32_t first, int32_t last) {
            verticalBand(intermediate, destination, rows, first, last);
        });
    } else {
        // Palette colours go through the destination's nearest-colour cache,
        // which one thread owns.
        verticalBand(intermediate, destination, rows, 0, dstH);
    }
}

}  // namespace

void Resample(const TDibGraphic& source, TDibGraphic& destination, TResampleFunction kernel, float support)
{
    checkResampleSizes(source.Width(), source.Height(), destination.Width(), destination.Height());
    TDibGraphic intermediate;
    horizontalPass(source, intermediate, destination.Width(), kernel, support);
    verticalPass(intermediate, destination, kernel, support);
}

namespace {

// Nearest-neighbour stretch: destination index i takes the source pixel
// whose span holds the centre of i's span.
std::vector<int32_t> nearestMap(int32_t dstLen, int32_t srcLen)
{
    std::vector<int32_t> map(size_t(std::max(dstLen, 0)));
    for (int32_t i = 0; i < dstLen; ++i)
        map[size_t(i)] = static_cast<int32_t>((2 * int64_t(i) + 1) * srcLen / (2 * int64_t(dstLen)));
    return map;
}

void stretchNearest(const TDibGraphic& source, TDibGraphic& destination)
{
    const int32_t dstW = destination.Width();
    const int32_t dstH = destination.Height();
    const std::vector<int32_t> xs = nearestMap(dstW, source.Width());
    const std::vector<int32_t> ys = nearestMap(dstH, source.Height());
    const TImageFormat sf = source.ImageFormat();
    const TImageFormat df = destination.ImageFormat();
    const int bytes = sf == df ? BitsPerPixel(sf) / 8 : 0;

    for (int32_t y = 0; y < dstH; ++y) {
        const int32_t sy = ys[size_t(y)];
        if (bytes > 0) {
            // Same format (and palette): copy the stored pixels.
            const uint8_t* in = source.RowPointer(sy);
            uint8_t* out = destination.RowPointer(y);
            for (int32_t x = 0; x < dstW; ++x)
                std::memcpy(out + size_t(x) * bytes, in + size_t(xs[size_t(x)]) * bytes, size_t(bytes));
        } else if (sf == df) {
            for (int32_t x = 0; x < dstW; ++x)
                destination.SetPixelIndex(x, y, source.GetPixelIndex(xs[size_t(x)], sy));
        } else {
            for (int32_t x = 0; x < dstW; ++x)
                destination.SetPixelColor(x, y, source.GetPixelColor(xs[size_t(x)], sy));
        }
    }
}

// Area-averaging coverage of a destination index: which source pixels its
// span overlaps and by how much, in units of 1 / dstLen (they add up to srcLen).
struct Coverage {
    std::vector<int32_t> start;
    std::vector<std::pair<int32_t, int64_t>> taps;
};

Coverage areaCoverage(int32_t dstLen, int32_t srcLen)
{
    Coverage c;
    c.start.reserve(size_t(dstLen) + 1);
    for (int32_t i = 0; i < dstLen; ++i) {
        c.start.push_back(static_cast<int32_t>(c.taps.size()));
        const int64_t lo = int64_t(i) * srcLen;  // span [lo, hi) in units of 1 / dstLen
        const int64_t hi = lo + srcLen;
        for (int64_t s = lo / dstLen; s < srcLen && s * dstLen < hi; ++s) {
            const int64_t overlap = std::min(hi, (s + 1) * dstLen) - std::max(lo, s * dstLen);
            if (overlap > 0)
                c.taps.emplace_back(static_cast<int32_t>(s), overlap);
        }
    }
    c.start.push_back(static_cast<int32_t>(c.taps.size()));
    return c;
}

// Destination rows [first, last) of the halftone stretch.
void averageRows(const TDibGraphic& source, TDibGraphic& destination, const Coverage& cols, const Coverage& rows,
                 int32_t first, int32_t last)
{
    const int32_t dstW = destination.Width();
    const double area = double(source.Width()) * double(source.Height());
    std::vector<double> acc(3 * size_t(source.Width()));
    const bool direct = destination.ImageFormat() == ifRgb24;

    for (int32_t y = first; y < last; ++y) {
        std::fill(acc.begin(), acc.end(), 0.0);
        for (int32_t k = rows.start[size_t(y)]; k < rows.start[size_t(y) + 1]; ++k) {
            const uint8_t* in = source.RowPointer(rows.taps[size_t(k)].first);
            const double w = double(rows.taps[size_t(k)].second);
            for (size_t b = 0; b < acc.size(); ++b)
                acc[b] += w * in[b];
        }
        uint8_t* out = direct ? destination.RowPointer(y) : nullptr;
        for (int32_t x = 0; x < dstW; ++x) {
            double sum[3] = {0.0, 0.0, 0.0};
            for (int32_t k = cols.start[size_t(x)]; k < cols.start[size_t(x) + 1]; ++k) {
                const double w = double(cols.taps[size_t(k)].second);
                const double* a = acc.data() + 3 * size_t(cols.taps[size_t(k)].first);
                sum[0] += w * a[0];
                sum[1] += w * a[1];
                sum[2] += w * a[2];
            }
            uint8_t bgr[3];
            for (int c = 0; c < 3; ++c)
                bgr[c] = static_cast<uint8_t>(std::clamp(std::nearbyint(sum[c] / area), 0.0, 255.0));
            if (direct)
                std::memcpy(out + 3 * size_t(x), bgr, 3);
            else
                destination.SetPixelColor(x, y, MakeColor(bgr[2], bgr[1], bgr[0]));
        }
    }
}

// Halftone stretch of an ifRgb24 source. Rows of a true-colour destination
// are computed in bands side by side; a palette destination's colours go
// through its nearest-colour cache on one thread.
void stretchAverage(const TDibGraphic& source, TDibGraphic& destination)
{
    const Coverage cols = areaCoverage(destination.Width(), source.Width());
    const Coverage rows = areaCoverage(destination.Height(), source.Height());
    if (destination.ImageFormat() != ifRgb24) {
        averageRows(source, destination, cols, rows, 0, destination.Height());
        return;
    }
    const size_t work = rows.taps.size() / size_t(destination.Height()) * size_t(source.Width()) + cols.taps.size();
    ForEachRowBand(destination.Height(), minRowsPerBand(work),
                   [&](int32_t first, int32_t last) { averageRows(source, destination, cols, rows, first, last); });
}

}  // namespace

void StretchPicture(const TDibGraphic& source, TDibGraphic& destination, bool halftone)
{
    // Nothing to take pixels from: the destination keeps its zero fill.
    if (source.Width() < 1 || source.Height() < 1 || destination.Width() < 1 || destination.Height() < 1)
        return;
    if (halftone && source.ImageFormat() == ifRgb24)
        stretchAverage(source, destination);
    else
        stretchNearest(source, destination);
}

bool TResizeTransform::UsesHalftone(const TDibGraphic& source)
{
    return int64_t(source.Width()) * source.Height() > 1024 && source.ImageFormat() == ifRgb24;
}

void TResizeTransform::ApplyInPlace(TDibGraphic& bitmap)
{
    // A true-colour picture through the filter: its pixels are let go as
    // soon as the first pass has read them, so that no more than two
    // pictures of that size are held at once (a camera photo is the largest
    // thing an import holds). The bytes are those ApplyOnDest gives; a
    // failure part way leaves the bitmap empty.
    const bool trueColour = bitmap.ImageFormat() == ifRgb24 && (!ForceTargetFormat || TargetFormat == ifRgb24);
    if (!UseFilter || !trueColour || Kernel > rkMitchell || bitmap.IsEmpty() || TargetWidth <= 1 || TargetHeight <= 1) {
        TImageTransform::ApplyInPlace(bitmap);
        return;
    }
    ReportedPercent = 255;
    Progress(0, 0, 100);
    const TResampleKernelEntry& entry = ResampleKernels[Kernel];
    const int resX = bitmap.ResolutionX(), resY = bitmap.ResolutionY();
    TDibGraphic intermediate;
    horizontalPass(bitmap, intermediate, TargetWidth, entry.Function, entry.Support);
    bitmap.Assign(nullptr);
    bitmap.NewImage(TargetWidth, TargetHeight, ifRgb24, nullptr, resolutionArgument(resX), resolutionArgument(resY));
    verticalPass(intermediate, bitmap, entry.Function, entry.Support);
    Progress(100, 0, 100);
}

void TResizeTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination)
{
    if (&source == &destination) {
        ApplyInPlace(destination);
        return;
    }
    if (UseFilter) {
        if (Kernel > rkMitchell)
            throw ETavrinError("Invalid resampling kernel");
        // A size of 0 or less cannot even be created; it fails as too small,
        // after the source check the resampler makes first.
        if (TargetWidth <= 0 || TargetHeight <= 0) {
            if (source.Width() < 1 || source.Height() < 1)
                throw ETavrinError("Source graphic too small");
            throw ETavrinError("Destination graphic too small");
        }
    }

    ReportedPercent = 255;
    Progress(0, 0, 100);
    const TImageFormat format = ForceTargetFormat ? TargetFormat : source.ImageFormat();
    const TLogicalPalette* palette = format == source.ImageFormat() ? &source.Palette() : nullptr;
    destination.NewImage(TargetWidth, TargetHeight, format, palette, resolutionArgument(source.ResolutionX()),
                         resolutionArgument(source.ResolutionY()));
    if (UseFilter) {
        const TResampleKernelEntry& entry = ResampleKernels[Kernel];
        Resample(source, destination, entry.Function, entry.Support);
    } else {
        Progress(50, 0, 100);
        StretchPicture(source, destination, UsesHalftone(source));
    }
    Progress(100, 0, 100);
}
