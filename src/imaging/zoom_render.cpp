// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/zoom_render.h"

#include "imaging/limits.h"
#include "imaging/resize_transform.h"
#include "imaging/row_bands.h"

#include <algorithm>
#include <cmath>
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

// Area averaging of an ifRgb24 source. Every sum is an exact integer, so
// each mean is the one the zoom transform's averaging stretch computes.
void renderAverage(const TDibGraphic& source, const uint8_t* alpha, QSize target, QRect part, QImage& out)
{
    const int sw = source.Width(), sh = source.Height();
    const Taps cols = areaTaps(part.left(), part.left() + part.width(), target.width(), sw);
    const Taps rows = areaTaps(part.top(), part.top() + part.height(), target.height(), sh);
    const int c0 = cols.pixel.front(), c1 = cols.pixel.back() + 1;
    const size_t span = size_t(c1 - c0);
    const double area = double(sw) * double(sh);
    const int vw = part.width();
    // Rows per band: enough source pixels to be worth a thread.
    const int64_t pixelsPerRow = int64_t(rows.pixel.size()) / std::max(1, part.height()) * int64_t(span);
    const int32_t minRows = int32_t(std::clamp<int64_t>(256 * 1024 / std::max<int64_t>(1, pixelsPerRow), 1, 1 << 20));

    ForEachRowBand(part.height(), minRows, [&](int32_t firstRow, int32_t lastRow) {
        // Per source column: the weighted sums of blue, green, red (and with
        // alpha: of alpha, and of each colour times alpha).
        std::vector<uint64_t> acc(span * (alpha ? 7 : 3));
        for (int32_t j = firstRow; j < lastRow; ++j) {
            std::fill(acc.begin(), acc.end(), 0);
            for (int k = rows.start[size_t(j)]; k < rows.start[size_t(j) + 1]; ++k) {
                const int sy = rows.pixel[size_t(k)];
                const uint64_t w = rows.weight[size_t(k)];
                const uint8_t* in = source.RowPointer(sy) + int64_t(c0) * 3;
                if (!alpha) {
                    for (size_t b = 0; b < span * 3; ++b)
                        acc[b] += w * in[b];
                    continue;
                }
                const uint8_t* a = alpha + int64_t(sy) * sw + c0;
                for (size_t x = 0; x < span; ++x) {
                    uint64_t* s = acc.data() + 7 * x;
                    const uint64_t wa = w * a[x];
                    s[0] += w * in[3 * x];
                    s[1] += w * in[3 * x + 1];
                    s[2] += w * in[3 * x + 2];
                    s[3] += wa;
                    s[4] += wa * in[3 * x];
                    s[5] += wa * in[3 * x + 1];
                    s[6] += wa * in[3 * x + 2];
                }
            }
            const int y = part.top() + j;
            QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(j));
            for (int i = 0; i < vw; ++i) {
                const size_t stride = alpha ? 7 : 3;
                uint64_t sum[7] = {};
                for (int k = cols.start[size_t(i)]; k < cols.start[size_t(i) + 1]; ++k) {
                    const uint64_t w = cols.weight[size_t(k)];
                    const uint64_t* s = acc.data() + stride * size_t(cols.pixel[size_t(k)] - c0);
                    for (size_t c = 0; c < stride; ++c)
                        sum[c] += w * s[c];
                }
                int bgr[3];
                if (!alpha || sum[3] == uint64_t(255) * uint64_t(sw) * uint64_t(sh)) {
                    // Opaque: the plain mean, as the display copy holds it.
                    for (int c = 0; c < 3; ++c)
                        bgr[c] = int(std::clamp(std::nearbyint(double(sum[c]) / area), 0.0, 255.0));
                } else {
                    // The colour weighted by alpha, then the checkerboard
                    // under what the mean alpha leaves uncovered.
                    const double cover = double(sum[3]) / area;
                    const double grey = CheckerGrey(part.left() + i, y);
                    for (int c = 0; c < 3; ++c)
                        bgr[c] = int(std::clamp(
                            std::nearbyint(double(sum[4 + c]) / (area * 255.0) + grey * (255.0 - cover) / 255.0), 0.0,
                            255.0));
                }
                o[i] = qRgb(bgr[2], bgr[1], bgr[0]);
            }
        }
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
