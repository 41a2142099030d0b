// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/halftone_scaler.h"

#include "imaging/dib_graphic.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace {

// Opaque 0xFFRRGGBB colours of the 256 palette entries.
struct PaletteLut {
    uint32_t colors[256];
    explicit PaletteLut(const TLogicalPalette& palette)
    {
        for (int i = 0; i < 256; ++i)
            colors[i] = 0xFF000000u | PaletteColor(palette, i);
    }
};

// Decodes source pixels [x0, x1) of one row into 0xFFRRGGBB values.
void decodeRow(TImageFormat format, const uint8_t* row, const uint32_t* lut, int x0, int x1, uint32_t* out)
{
    DecodeRowColours(format, row, lut, x0, x1, out, 0xFF000000u);
}

// Area coverage of destination cells over source cells along one axis: the
// destination cell d spans [d*src, (d+1)*src) and source cell s spans
// [s*dst, (s+1)*dst) in units of 1/(src*dst); the weights of one cell add up
// to src.
struct Span {
    int first;  // first source cell
    int count;  // number of source cells
    size_t at;  // offset into the weight list
};

struct Spans {
    std::vector<Span> spans;
    std::vector<int64_t> weights;
    int lowest = INT_MAX;  // the first and last source cell any span covers
    int highest = 0;
};

// The spans of destination cells [d0, d1).
Spans buildSpans(int src, int dst, int d0, int d1)
{
    Spans out;
    for (int v = d0; v < d1; ++v) {
        const int64_t lo = int64_t(v) * src, hi = int64_t(v + 1) * src;
        const int first = int(lo / dst);
        const int last = int((hi - 1) / dst);
        out.spans.push_back(Span{first, last - first + 1, out.weights.size()});
        for (int s = first; s <= last; ++s)
            out.weights.push_back(std::min<int64_t>(hi, int64_t(s + 1) * dst)
                                  - std::max<int64_t>(lo, int64_t(s) * dst));
        out.lowest = std::min(out.lowest, first);
        out.highest = std::max(out.highest, last);
    }
    return out;
}

// Adds one decoded source row, weighted by `wy`, to the sums of every
// destination column (three per column: red, green, blue).
void accumulateRow(const uint32_t* line, int lineStart, const Spans& columns, double wy, double* acc)
{
    for (const Span& cs : columns.spans) {
        int64_t r = 0, g = 0, b = 0;
        for (int m = 0; m < cs.count; ++m) {
            const uint32_t c = line[cs.first + m - lineStart];
            const int64_t wx = columns.weights[cs.at + size_t(m)];
            r += wx * ((c >> 16) & 0xFF);
            g += wx * ((c >> 8) & 0xFF);
            b += wx * (c & 0xFF);
        }
        acc[0] += wy * double(r);
        acc[1] += wy * double(g);
        acc[2] += wy * double(b);
        acc += 3;
    }
}

void storeMeans(const std::vector<double>& acc, double norm, QRgb* out)
{
    for (size_t i = 0; i < acc.size() / 3; ++i)
        out[i] = qRgb(int(std::lround(acc[i * 3 + 0] / norm)), int(std::lround(acc[i * 3 + 1] / norm)),
                      int(std::lround(acc[i * 3 + 2] / norm)));
}

}  // namespace

QImage ScaleColorOnColor(const TDibGraphic& bitmap, const QSize& target, const QRect& visible)
{
    const int sw = bitmap.Width(), sh = bitmap.Height();
    const int dw = target.width(), dh = target.height();
    const int vw = visible.width(), vh = visible.height();
    QImage out(vw, vh, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    const PaletteLut lut(bitmap.Palette());

    std::vector<int> sx(static_cast<size_t>(vw));
    for (int i = 0; i < vw; ++i)
        sx[size_t(i)] = int(int64_t(visible.x() + i) * sw / dw);
    const int xMin = *std::min_element(sx.begin(), sx.end());
    const int xMax = *std::max_element(sx.begin(), sx.end());
    std::vector<uint32_t> line(size_t(xMax - xMin + 1));
    int decodedRow = -1;
    for (int j = 0; j < vh; ++j) {
        const int sy = int(int64_t(visible.y() + j) * sh / dh);
        if (sy != decodedRow) {
            decodeRow(bitmap.ImageFormat(), bitmap.RowPointer(sy), lut.colors, xMin, xMax + 1, line.data());
            decodedRow = sy;
        }
        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(j));
        for (int i = 0; i < vw; ++i)
            o[i] = line[size_t(sx[size_t(i)] - xMin)];
    }
    return out;
}

QImage ScaleHalftone(const TDibGraphic& bitmap, const QSize& target, const QRect& visible)
{
    const int sw = bitmap.Width(), sh = bitmap.Height();
    const int vw = visible.width(), vh = visible.height();
    QImage out(vw, vh, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    const PaletteLut lut(bitmap.Palette());

    const Spans columns = buildSpans(sw, target.width(), visible.x(), visible.x() + vw);
    const Spans rows = buildSpans(sh, target.height(), visible.y(), visible.y() + vh);
    std::vector<uint32_t> line(size_t(columns.highest - columns.lowest + 1));
    std::vector<double> acc(size_t(vw) * 3);
    const double norm = double(sw) * double(sh);
    for (int j = 0; j < vh; ++j) {
        std::fill(acc.begin(), acc.end(), 0.0);
        const Span& rs = rows.spans[size_t(j)];
        for (int k = 0; k < rs.count; ++k) {
            decodeRow(bitmap.ImageFormat(), bitmap.RowPointer(rs.first + k), lut.colors, columns.lowest,
                      columns.highest + 1, line.data());
            accumulateRow(line.data(), columns.lowest, columns, double(rows.weights[rs.at + size_t(k)]), acc.data());
        }
        storeMeans(acc, norm, reinterpret_cast<QRgb*>(out.scanLine(j)));
    }
    return out;
}
