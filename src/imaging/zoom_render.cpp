// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/zoom_render.h"

#include "imaging/limits.h"
#include "imaging/resize_transform.h"
#include "imaging/row_bands.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <climits>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace {

// 0x00RRGGBB of the 256 palette entries.
struct ColourLut {
    uint32_t colours[256];
    explicit ColourLut(const TLogicalPalette& palette)
    {
        for (int i = 0; i < 256; ++i)
            colours[i] = PaletteColor(palette, i);
    }
};

// Source pixels [x0, x1) of one row as 0x00RRGGBB.
void decodeRow(const TDibGraphic& source, const ColourLut& lut, int y, int x0, int x1, uint32_t* out)
{
    DecodeRowColours(source.ImageFormat(), source.RowPointer(y), lut.colours, x0, x1, out, 0);
}

// The nearest source index for display index i: the source pixel whose
// span holds the centre of i's span (as the nearest-neighbour stretch).
inline int nearestSource(int64_t i, int64_t dst, int64_t src)
{
    return int((2 * i + 1) * src / (2 * dst));
}

// One colour (0x00RRGGBB) laid over grey `g` by alpha `a`.
inline QRgb blendOver(uint32_t c, uint8_t a, uint8_t g)
{
    const uint32_t back = uint32_t(g) * (255u - a) + 127u;
    const uint32_t r = (((c >> 16) & 0xFF) * a + back) / 255u;
    const uint32_t gr = (((c >> 8) & 0xFF) * a + back) / 255u;
    const uint32_t b = ((c & 0xFF) * a + back) / 255u;
    return 0xFF000000u | (r << 16) | (gr << 8) | b;
}

void renderNearest(const TDibGraphic& source, const uint8_t* alpha, QSize target, QRect part, QImage& out)
{
    const int sw = source.Width(), sh = source.Height();
    const int vw = part.width(), vh = part.height();
    std::vector<int> xs(static_cast<size_t>(vw));
    for (int i = 0; i < vw; ++i)
        xs[size_t(i)] = nearestSource(part.x() + i, target.width(), sw);
    const int xMin = xs.front(), xMax = xs.back();
    const ColourLut lut(source.Palette());
    std::vector<uint32_t> line(static_cast<size_t>(xMax - xMin + 1));
    int decoded = -1;
    for (int j = 0; j < vh; ++j) {
        const int y = part.y() + j;
        const int sy = nearestSource(y, target.height(), sh);
        if (sy != decoded) {
            decodeRow(source, lut, sy, xMin, xMax + 1, line.data());
            decoded = sy;
        }
        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(j));
        if (!alpha) {
            for (int i = 0; i < vw; ++i)
                o[i] = 0xFF000000u | line[size_t(xs[size_t(i)] - xMin)];
            continue;
        }
        const uint8_t* a = alpha + int64_t(sy) * sw;
        for (int i = 0; i < vw; ++i) {
            const int sx = xs[size_t(i)];
            o[i] = blendOver(line[size_t(sx - xMin)], a[sx], CheckerGrey(part.x() + i, y));
        }
    }
}

// The source pixels a display index covers and by how much, in units of
// 1 / display length; a display index's weights add up to the source length.
struct Taps {
    std::vector<int> start;  // per display index, into `pixel` and `weight`; one more at the end
    std::vector<int> pixel;
    std::vector<uint32_t> weight;
};

Taps areaTaps(int first, int last, int64_t dst, int64_t src)
{
    Taps t;
    for (int i = first; i < last; ++i) {
        t.start.push_back(int(t.pixel.size()));
        const int64_t lo = int64_t(i) * src;
        const int64_t hi = lo + src;
        for (int64_t s = lo / dst; s < src && s * dst < hi; ++s) {
            const int64_t overlap = std::min(hi, (s + 1) * dst) - std::max(lo, s * dst);
            if (overlap > 0) {
                t.pixel.push_back(int(s));
                t.weight.push_back(uint32_t(overlap));
            }
        }
    }
    t.start.push_back(int(t.pixel.size()));
    return t;
}

// What an averaging reads: the source's own B, G, R rows, or, for a picture
// with alpha, its premultiplied pixels (PremultipliedPixels), from a whole
// picture made before or row by row into `scratch`.
struct AverageInput {
    const TDibGraphic& source;
    const uint8_t* alpha = nullptr;           // the picture's alpha plane, or null
    const uint32_t* premultiplied = nullptr;  // the whole picture's, or null

    // Premultiplied pixels [x0, x0 + n) of row y (alpha set).
    const uint32_t* premultipliedRow(int y, int x0, int n, std::vector<uint32_t>& scratch) const
    {
        const int64_t at = int64_t(y) * source.Width() + x0;
        if (premultiplied)
            return premultiplied + at;
        scratch.resize(size_t(n));
        premultiplyRow(source.RowPointer(y) + int64_t(x0) * 3, alpha + at, n, scratch.data());
        return scratch.data();
    }

    // Premultiplies n pixels of B, G, R with their alpha.
    static void premultiplyRow(const uint8_t* bgr, const uint8_t* a, int n, uint32_t* out)
    {
        for (int x = 0; x < n; ++x, bgr += 3) {
            const uint32_t w = a[x];
            out[x] = ((uint32_t(bgr[0]) * w + 127) / 255) | ((uint32_t(bgr[1]) * w + 127) / 255) << 8
                     | ((uint32_t(bgr[2]) * w + 127) / 255) << 16 | w << 24;
        }
    }
};

// One display pixel from the sums over its area (blue, green, red, and
// with alpha: alpha), `area` in the sums' weight units. Opaque (no alpha,
// or alpha 255 all over, where the premultiplied colours are the colours):
// the plain mean, as the display copy holds it. Otherwise the mean
// premultiplied colour over the board's grey, covered by the mean alpha.
QRgb finishAverage(const uint64_t* sum, bool alpha, double area, uint64_t opaque, uint8_t grey)
{
    int bgr[3];
    if (!alpha || sum[3] == opaque) {
        for (int c = 0; c < 3; ++c)
            bgr[c] = int(std::clamp(std::nearbyint(double(sum[c]) / area), 0.0, 255.0));
    } else {
        const double under = grey * (255.0 - double(sum[3]) / area) / 255.0;
        for (int c = 0; c < 3; ++c)
            bgr[c] = int(std::clamp(std::nearbyint(double(sum[c]) / area + under), 0.0, 255.0));
    }
    return qRgb(bgr[2], bgr[1], bgr[0]);
}

// Display rows [first, last) of the area averaging, with sums of type Acc
// per source column (each at most the source's height times 255). Every sum
// is an exact integer, so without alpha each mean is the one the zoom
// transform's averaging stretch computes.
template <typename Acc>
void averageRows(const AverageInput& in, QRect part, const Taps& cols, const Taps& rows, int32_t first, int32_t last,
                 QImage& out)
{
    const TDibGraphic& source = in.source;
    const int sw = source.Width(), sh = source.Height();
    const int c0 = cols.pixel.front();
    const int span = cols.pixel.back() + 1 - c0;
    const double area = double(sw) * double(sh);
    const uint64_t opaque = uint64_t(255) * uint64_t(sw) * uint64_t(sh);
    const bool alpha = in.alpha != nullptr;
    // Per source column, one array per channel: blue, green, red, alpha.
    std::vector<Acc> acc(size_t(span) * (alpha ? 4 : 3));
    Acc* const blue = acc.data();
    Acc* const green = blue + span;
    Acc* const red = green + span;
    Acc* const cover = alpha ? red + span : nullptr;
    std::vector<uint32_t> scratch;
    for (int32_t j = first; j < last; ++j) {
        std::fill(acc.begin(), acc.end(), Acc(0));
        for (int k = rows.start[size_t(j)]; k < rows.start[size_t(j) + 1]; ++k) {
            const int sy = rows.pixel[size_t(k)];
            const Acc w = Acc(rows.weight[size_t(k)]);
            if (!alpha) {
                const uint8_t* px = source.RowPointer(sy) + int64_t(c0) * 3;
                for (int x = 0; x < span; ++x, px += 3) {
                    blue[x] += w * px[0];
                    green[x] += w * px[1];
                    red[x] += w * px[2];
                }
                continue;
            }
            const uint32_t* px = in.premultipliedRow(sy, c0, span, scratch);
            for (int x = 0; x < span; ++x) {
                const uint32_t p = px[x];
                blue[x] += w * (p & 0xFF);
                green[x] += w * ((p >> 8) & 0xFF);
                red[x] += w * ((p >> 16) & 0xFF);
                cover[x] += w * (p >> 24);
            }
        }
        const int y = part.top() + j;
        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(j));
        for (int i = 0; i < part.width(); ++i) {
            uint64_t sum[4] = {0, 0, 0, 0};
            for (int k = cols.start[size_t(i)]; k < cols.start[size_t(i) + 1]; ++k) {
                const uint64_t w = cols.weight[size_t(k)];
                const size_t x = size_t(cols.pixel[size_t(k)] - c0);
                sum[0] += w * blue[x];
                sum[1] += w * green[x];
                sum[2] += w * red[x];
                if (alpha)
                    sum[3] += w * cover[x];
            }
            o[i] = finishAverage(sum, alpha, area, opaque, CheckerGrey(part.left() + i, y));
        }
    }
}

#if defined(__SSE2__)
// Masks of the bytes of one channel (blue 0, green 1, red 2) in 48 bytes of
// B, G, R pixels, 16 bytes at a time.
struct ChannelMasks {
    __m128i mask[3][3];
    ChannelMasks()
    {
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k) {
                alignas(16) uint8_t m[16];
                for (int t = 0; t < 16; ++t)
                    m[t] = (16 * k + t) % 3 == c ? 0xFF : 0;
                mask[c][k] = _mm_load_si128(reinterpret_cast<const __m128i*>(m));
            }
    }
};

// The sum of the 16 bytes of `v` that `mask` keeps, as two 64-bit halves.
inline __m128i maskedSum(__m128i v, __m128i mask)
{
    return _mm_sad_epu8(_mm_and_si128(v, mask), _mm_setzero_si128());
}

inline uint64_t halvesSum(__m128i v)
{
    return uint64_t(_mm_cvtsi128_si64(v)) + uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
}
#endif

// Adds one source row of `count` blocks of fx pixels, from block `first`
// on, to the blocks' sums (blue, green, red, alpha). FX is fx when the
// compiler may unroll it, 0 otherwise; a block row's sums fit 32 bits for
// fx up to 65536. Blocks of 8 and 16 pixels are summed 16 bytes at a time
// where the processor can.
template <int FX>
void addBlockRow(const uint8_t* row, int first, int count, int fx, uint64_t* acc)
{
    const int n = FX > 0 ? FX : fx;
#if defined(__SSE2__)
    if constexpr (FX == 8 || FX == 16) {
        static const ChannelMasks masks;
        for (int i = 0; i < count; ++i, acc += 4) {
            const uint8_t* px = row + int64_t(first + i) * n * 3;
            const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
            // 16 pixels: 48 bytes; 8 pixels: 24, the last 8 of them in the low half.
            const __m128i v1 = FX == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 16))
                                        : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(px + 16));
            for (int c = 0; c < 3; ++c) {
                __m128i sum = _mm_add_epi64(maskedSum(v0, masks.mask[c][0]), maskedSum(v1, masks.mask[c][1]));
                if constexpr (FX == 16) {
                    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 32));
                    sum = _mm_add_epi64(sum, maskedSum(v2, masks.mask[c][2]));
                }
                acc[c] += halvesSum(sum);
            }
        }
        return;
    }
#endif
    for (int i = 0; i < count; ++i, acc += 4) {
        const uint8_t* px = row + int64_t(first + i) * n * 3;
        uint32_t b = 0, g = 0, r = 0;
        for (int m = 0; m < n; ++m, px += 3) {
            b += px[0];
            g += px[1];
            r += px[2];
        }
        acc[0] += b;
        acc[1] += g;
        acc[2] += r;
    }
}

// The same for premultiplied pixels (alpha too). Up to 256 pixels, two
// channels are summed at once in the halves of a 32-bit number.
template <int FX>
void addPremultipliedBlockRow(const uint32_t* row, int first, int count, int fx, uint64_t* acc)
{
    const int n = FX > 0 ? FX : fx;
    for (int i = 0; i < count; ++i, acc += 4) {
        const uint32_t* px = row + int64_t(first + i) * n;
        if (n <= 256) {
            uint32_t blueRed = 0, greenAlpha = 0;
            for (int m = 0; m < n; ++m) {
                blueRed += px[m] & 0x00FF00FFu;
                greenAlpha += (px[m] >> 8) & 0x00FF00FFu;
            }
            acc[0] += blueRed & 0xFFFF;
            acc[1] += greenAlpha & 0xFFFF;
            acc[2] += blueRed >> 16;
            acc[3] += greenAlpha >> 16;
        } else {
            for (int m = 0; m < n; ++m) {
                acc[0] += px[m] & 0xFF;
                acc[1] += (px[m] >> 8) & 0xFF;
                acc[2] += (px[m] >> 16) & 0xFF;
                acc[3] += px[m] >> 24;
            }
        }
    }
}

template <typename Add>
void forBlockWidth(int fx, Add add)
{
    switch (fx) {
    case 2: add(std::integral_constant<int, 2>()); break;
    case 4: add(std::integral_constant<int, 4>()); break;
    case 8: add(std::integral_constant<int, 8>()); break;
    case 16: add(std::integral_constant<int, 16>()); break;
    default: add(std::integral_constant<int, 0>()); break;
    }
}

// The same averaging when the display's sides divide the source's (a zoom
// step of 1/2, 1/4, ... on a texture whose sides are powers of two): each
// display pixel is the mean of a whole fx x fy block, summed at once. The
// block sum over fx * fy is the same number as the weighted sum over the
// area, so the means are the same.
void averageBlocks(const AverageInput& in, QSize target, QRect part, int32_t first, int32_t last, QImage& out)
{
    const TDibGraphic& source = in.source;
    const int fx = source.Width() / target.width(), fy = source.Height() / target.height();
    const double block = double(fx) * double(fy);
    const uint64_t opaque = uint64_t(255) * uint64_t(fx) * uint64_t(fy);
    const bool alpha = in.alpha != nullptr;
    const int vw = part.width();
    std::vector<uint64_t> acc(size_t(vw) * 4);
    std::vector<uint32_t> scratch;
    for (int32_t j = first; j < last; ++j) {
        const int y = part.top() + j;
        std::fill(acc.begin(), acc.end(), 0);
        for (int sy = y * fy; sy < (y + 1) * fy; ++sy) {
            if (!alpha) {
                const uint8_t* row = source.RowPointer(sy);
                forBlockWidth(fx,
                              [&](auto n) { addBlockRow<decltype(n)::value>(row, part.left(), vw, fx, acc.data()); });
                continue;
            }
            // The blocks' premultiplied pixels, from the first block's on.
            const uint32_t* row = in.premultipliedRow(sy, part.left() * fx, vw * fx, scratch);
            forBlockWidth(fx,
                          [&](auto n) { addPremultipliedBlockRow<decltype(n)::value>(row, 0, vw, fx, acc.data()); });
        }
        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(j));
        for (int i = 0; i < vw; ++i)
            o[i] = finishAverage(acc.data() + 4 * size_t(i), alpha, block, opaque, CheckerGrey(part.left() + i, y));
    }
}

void renderAverage(const AverageInput& in, QSize target, QRect part, QImage& out)
{
    const int sw = in.source.Width(), sh = in.source.Height();
    if (sw % target.width() == 0 && sh % target.height() == 0 && sw / target.width() <= 65536) {
        const int64_t pixelsPerRow = int64_t(sw / target.width()) * (sh / target.height()) * part.width();
        const int32_t minRows =
            int32_t(std::clamp<int64_t>(256 * 1024 / std::max<int64_t>(1, pixelsPerRow), 1, 1 << 20));
        ForEachRowBand(part.height(), minRows,
                       [&](int32_t first, int32_t last) { averageBlocks(in, target, part, first, last, out); });
        return;
    }
    const Taps cols = areaTaps(part.left(), part.left() + part.width(), target.width(), sw);
    const Taps rows = areaTaps(part.top(), part.top() + part.height(), target.height(), sh);
    // Rows per band: enough source pixels to be worth a thread.
    const int64_t span = cols.pixel.back() + 1 - cols.pixel.front();
    const int64_t pixelsPerRow = int64_t(rows.pixel.size()) / std::max(1, part.height()) * span;
    const int32_t minRows = int32_t(std::clamp<int64_t>(256 * 1024 / std::max<int64_t>(1, pixelsPerRow), 1, 1 << 20));
    // 32-bit sums hold a column of up to 16843009 rows of 255.
    const bool narrow = int64_t(sh) * 255 <= int64_t(UINT32_MAX);
    ForEachRowBand(part.height(), minRows, [&](int32_t first, int32_t last) {
        if (narrow)
            averageRows<uint32_t>(in, part, cols, rows, first, last, out);
        else
            averageRows<uint64_t>(in, part, cols, rows, first, last, out);
    });
}

}  // namespace

ZoomSampling ZoomSamplingFor(const TDibGraphic& source, QSize target)
{
    const int w = source.Width(), h = source.Height();
    if (target.width() == w && target.height() == h)
        return ZoomSampling::Copy;
    if (target.width() >= w && target.height() >= h)
        return ZoomSampling::Nearest;
    return TResizeTransform::UsesHalftone(source) ? ZoomSampling::Average : ZoomSampling::Nearest;
}

QImage RenderZoomedPart(const TDibGraphic& source, const uint8_t* alpha, QSize target, QRect part,
                        const uint32_t* premultiplied)
{
    part = part.intersected(QRect(QPoint(0, 0), target));
    if (source.IsEmpty() || part.isEmpty())
        return QImage();
    QImage out(part.size(), QImage::Format_RGB32);
    if (out.isNull())
        return out;
    if (ZoomSamplingFor(source, target) == ZoomSampling::Average)
        renderAverage(AverageInput{source, alpha, alpha ? premultiplied : nullptr}, target, part, out);
    else
        renderNearest(source, alpha, target, part, out);
    return out;
}

std::vector<uint32_t> PremultipliedPixels(const TDibGraphic& source, const uint8_t* alpha)
{
    std::vector<uint32_t> out;
    PremultiplyPixels(source, alpha, out);
    return out;
}

void PremultiplyPixels(const TDibGraphic& source, const uint8_t* alpha, std::vector<uint32_t>& out)
{
    const int w = source.Width(), h = source.Height();
    out.resize(size_t(w) * size_t(h));
    const ColourLut lut(source.Palette());
    ForEachRowBand(h, std::max(1, 64 * 1024 / std::max(1, w)), [&](int32_t first, int32_t last) {
        std::vector<uint8_t> bgr(source.ImageFormat() == ifRgb24 ? 0 : 3 * size_t(w));
        std::vector<uint32_t> colours(source.ImageFormat() == ifRgb24 ? 0 : size_t(w));
        for (int32_t y = first; y < last; ++y) {
            const uint8_t* row = source.RowPointer(y);
            if (source.ImageFormat() != ifRgb24) {
                decodeRow(source, lut, y, 0, w, colours.data());
                for (int x = 0; x < w; ++x) {
                    bgr[3 * size_t(x)] = uint8_t(colours[size_t(x)]);
                    bgr[3 * size_t(x) + 1] = uint8_t(colours[size_t(x)] >> 8);
                    bgr[3 * size_t(x) + 2] = uint8_t(colours[size_t(x)] >> 16);
                }
                row = bgr.data();
            }
            AverageInput::premultiplyRow(row, alpha + int64_t(y) * w, w, out.data() + int64_t(y) * w);
        }
    });
}

void ScaleForDisplay(const TDibGraphic& source, QSize target, TResizeTransform& transform, TDibGraphic& destination)
{
    switch (ZoomSamplingFor(source, target)) {
    case ZoomSampling::Copy: destination.Assign(&source); return;
    case ZoomSampling::Nearest:
        if (target.width() >= source.Width() && target.height() >= source.Height()) {
            destination.NewImage(target.width(), target.height(), source.ImageFormat(), &source.Palette(),
                                 resolutionArgument(source.ResolutionX()), resolutionArgument(source.ResolutionY()));
            StretchPicture(source, destination, false);
            return;
        }
        break;
    case ZoomSampling::Average: break;
    }
    // Smaller: the zoom transform with its default properties.
    transform.TargetWidth = target.width();
    transform.TargetHeight = target.height();
    transform.ApplyOnDest(source, destination);
}
