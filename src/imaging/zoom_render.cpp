// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/zoom_render.h"

#include "imaging/limits.h"
#include "imaging/resize_transform.h"
#include "imaging/row_bands.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
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
    const uint8_t* row = source.RowPointer(y);
    switch (source.ImageFormat()) {
    case ifRgb24:
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = row + int64_t(x) * 3;
            *out++ = MakeColor(p[2], p[1], p[0]);
        }
        break;
    case ifMonochrome:
        for (int x = x0; x < x1; ++x)
            *out++ = lut.colours[(row[x >> 3] >> (7 - (x & 7))) & 1];
        break;
    case ifGrayscale16:
    case ifColor16:
        for (int x = x0; x < x1; ++x)
            *out++ = lut.colours[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4];
        break;
    case ifGrayscale256:
    case ifColor256:
        for (int x = x0; x < x1; ++x)
            *out++ = lut.colours[row[x]];
        break;
    }
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

// Display rows [first, last) of the area averaging of an ifRgb24 source,
// with sums of type Acc per source column (each sum is at most the source's
// height times 255 * 255). Every sum is an exact integer, so each mean is
// the one the zoom transform's averaging stretch computes.
template <typename Acc>
void averageRows(const TDibGraphic& source, const uint8_t* alpha, QRect part, const Taps& cols, const Taps& rows,
                 int32_t first, int32_t last, QImage& out)
{
    const int sw = source.Width(), sh = source.Height();
    const int c0 = cols.pixel.front();
    const size_t span = size_t(cols.pixel.back() + 1 - c0);
    const double area = double(sw) * double(sh);
    const uint64_t opaque = uint64_t(255) * uint64_t(sw) * uint64_t(sh);
    // Per source column, one array per sum: blue, green, red; with alpha
    // those weighted by alpha, and alpha itself.
    const size_t sums = alpha ? 4 : 3;
    std::vector<Acc> acc(span * sums);
    Acc* const blue = acc.data();
    Acc* const green = blue + span;
    Acc* const red = green + span;
    Acc* const cover = alpha ? red + span : nullptr;
    for (int32_t j = first; j < last; ++j) {
        std::fill(acc.begin(), acc.end(), Acc(0));
        for (int k = rows.start[size_t(j)]; k < rows.start[size_t(j) + 1]; ++k) {
            const int sy = rows.pixel[size_t(k)];
            const Acc w = Acc(rows.weight[size_t(k)]);
            const uint8_t* in = source.RowPointer(sy) + int64_t(c0) * 3;
            if (!alpha) {
                for (size_t x = 0; x < span; ++x) {
                    blue[x] += w * in[3 * x];
                    green[x] += w * in[3 * x + 1];
                    red[x] += w * in[3 * x + 2];
                }
                continue;
            }
            const uint8_t* a = alpha + int64_t(sy) * sw + c0;
            for (size_t x = 0; x < span; ++x) {
                const Acc wa = w * a[x];
                cover[x] += wa;
                blue[x] += wa * in[3 * x];
                green[x] += wa * in[3 * x + 1];
                red[x] += wa * in[3 * x + 2];
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
            int bgr[3];
            if (!alpha || sum[3] == opaque) {
                // Opaque: the plain mean, as the display copy holds it. With
                // alpha the sums are 255 times the plain ones, and the
                // quotient of the two exact numbers rounds the same.
                const double divisor = alpha ? area * 255.0 : area;
                for (int c = 0; c < 3; ++c)
                    bgr[c] = int(std::clamp(std::nearbyint(double(sum[c]) / divisor), 0.0, 255.0));
            } else {
                // The colour weighted by alpha, then the checkerboard under
                // what the mean alpha leaves uncovered.
                const double uncovered = 255.0 - double(sum[3]) / area;
                const double grey = CheckerGrey(part.left() + i, y);
                for (int c = 0; c < 3; ++c)
                    bgr[c] = int(std::clamp(std::nearbyint(double(sum[c]) / (area * 255.0) + grey * uncovered / 255.0),
                                            0.0, 255.0));
            }
            o[i] = qRgb(bgr[2], bgr[1], bgr[0]);
        }
    }
}

// The same averaging when the display's sides divide the source's (a
// zoom step of 1/2, 1/4, ... on a texture whose sides are powers of two):
// each display pixel is the mean of a whole fx x fy block, summed at once.
// The block sum over fx * fy is the same number as the weighted sum over the
// area, so the means are the same.
void averageBlocks(const TDibGraphic& source, const uint8_t* alpha, QSize target, QRect part, int32_t first,
                   int32_t last, QImage& out)
{
    const int sw = source.Width();
    const int fx = sw / target.width(), fy = source.Height() / target.height();
    const double block = double(fx) * double(fy);
    const uint64_t opaque = uint64_t(255) * uint64_t(fx) * uint64_t(fy);
    const int vw = part.width();
    // Per display column: blue, green, red (weighted by alpha with alpha), alpha.
    std::vector<uint64_t> acc(size_t(vw) * 4);
    for (int32_t j = first; j < last; ++j) {
        const int y = part.top() + j;
        std::fill(acc.begin(), acc.end(), 0);
        for (int sy = y * fy; sy < (y + 1) * fy; ++sy) {
            const uint8_t* row = source.RowPointer(sy);
            const uint8_t* arow = alpha ? alpha + int64_t(sy) * sw : nullptr;
            for (int i = 0; i < vw; ++i) {
                const int x0 = (part.left() + i) * fx;
                const uint8_t* in = row + int64_t(x0) * 3;
                uint32_t b = 0, g = 0, r = 0, a = 0;
                if (!arow) {
                    for (int m = 0; m < fx; ++m, in += 3) {
                        b += in[0];
                        g += in[1];
                        r += in[2];
                    }
                } else {
                    const uint8_t* al = arow + x0;
                    for (int m = 0; m < fx; ++m, in += 3) {
                        const uint32_t w = al[m];
                        a += w;
                        b += w * in[0];
                        g += w * in[1];
                        r += w * in[2];
                    }
                }
                uint64_t* s = acc.data() + 4 * size_t(i);
                s[0] += b;
                s[1] += g;
                s[2] += r;
                s[3] += a;
            }
        }
        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(j));
        for (int i = 0; i < vw; ++i) {
            const uint64_t* s = acc.data() + 4 * size_t(i);
            int bgr[3];
            if (!alpha || s[3] == opaque) {
                const double divisor = alpha ? block * 255.0 : block;
                for (int c = 0; c < 3; ++c)
                    bgr[c] = int(std::clamp(std::nearbyint(double(s[c]) / divisor), 0.0, 255.0));
            } else {
                const double uncovered = 255.0 - double(s[3]) / block;
                const double grey = CheckerGrey(part.left() + i, y);
                for (int c = 0; c < 3; ++c)
                    bgr[c] = int(std::clamp(std::nearbyint(double(s[c]) / (block * 255.0) + grey * uncovered / 255.0),
                                            0.0, 255.0));
            }
            o[i] = qRgb(bgr[2], bgr[1], bgr[0]);
        }
    }
}

void renderAverage(const TDibGraphic& source, const uint8_t* alpha, QSize target, QRect part, QImage& out)
{
    const int sw = source.Width(), sh = source.Height();
    if (sw % target.width() == 0 && sh % target.height() == 0) {
        const int64_t pixelsPerRow = int64_t(sw / target.width()) * (sh / target.height()) * part.width();
        const int32_t minRows =
            int32_t(std::clamp<int64_t>(256 * 1024 / std::max<int64_t>(1, pixelsPerRow), 1, 1 << 20));
        ForEachRowBand(part.height(), minRows, [&](int32_t first, int32_t last) {
            averageBlocks(source, alpha, target, part, first, last, out);
        });
        return;
    }
    const Taps cols = areaTaps(part.left(), part.left() + part.width(), target.width(), sw);
    const Taps rows = areaTaps(part.top(), part.top() + part.height(), target.height(), sh);
    // Rows per band: enough source pixels to be worth a thread.
    const int64_t span = cols.pixel.back() + 1 - cols.pixel.front();
    const int64_t pixelsPerRow = int64_t(rows.pixel.size()) / std::max(1, part.height()) * span;
    const int32_t minRows = int32_t(std::clamp<int64_t>(256 * 1024 / std::max<int64_t>(1, pixelsPerRow), 1, 1 << 20));
    // 32-bit sums hold a column of up to 66051 rows of 255 * 255.
    const bool narrow = int64_t(sh) * 255 * 255 <= int64_t(UINT32_MAX);
    ForEachRowBand(part.height(), minRows, [&](int32_t first, int32_t last) {
        if (narrow)
            averageRows<uint32_t>(source, alpha, part, cols, rows, first, last, out);
        else
            averageRows<uint64_t>(source, alpha, part, cols, rows, first, last, out);
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

QImage RenderZoomedPart(const TDibGraphic& source, const uint8_t* alpha, QSize target, QRect part)
{
    part = part.intersected(QRect(QPoint(0, 0), target));
    if (source.IsEmpty() || part.isEmpty())
        return QImage();
    QImage out(part.size(), QImage::Format_RGB32);
    if (out.isNull())
        return out;
    if (ZoomSamplingFor(source, target) == ZoomSampling::Average)
        renderAverage(source, alpha, target, part, out);
    else
        renderNearest(source, alpha, target, part, out);
    return out;
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
