// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/icon_graphic.h"
#include "imaging/limits.h"
#include "platform/byte_order.h"

#include "platform/exceptions.h"
#include "platform/streams.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cstdlib>
#include <limits>

QX_DEFINE_GRAPHIC_CLASS(TIconGraphic, TDibGraphic);

namespace {

constexpr int kIconHeaderSize = 6;
constexpr int kEntrySize = 16;
constexpr int kStandardIconSize = 32;

bool isPng(const uint8_t* p)
{
    return p[0] == 0x89 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G';
}

[[noreturn]] void notValid()
{
    throw EInvalidGraphic("Icon image is not valid");
}

// Colour depth of one directory entry: the bit count of the image's own
// header when there is one, else the entry's bit count, else what its colour
// count implies. Embedded PNG images count as 32 bits.
int entryDepth(const uint8_t* data, size_t size, const uint8_t* entry)
{
    const uint32_t offset = readLe32(entry + 12);
    if (offset < size && size - offset >= 8 && isPng(data + offset))
        return 32;
    if (offset < size && size - offset >= 16 && readLe32(data + offset) >= 16)
        return readLe16(data + offset + 14);
    const int bitCount = readLe16(entry + 6);
    if (bitCount)
        return bitCount;
    switch (entry[2]) {
    case 2: return 1;
    case 16: return 4;
    default: return 8;
    }
}

// Clears, in a picture read from directory entry `index`, every pixel that
// the image's AND mask makes transparent. Qt honours the mask for some
// depths only; below 32 bits the mask is all there is to transparency.
void applyMask(const uint8_t* data, size_t size, int index, QImage& icon)
{
    const uint8_t* entry = data + kIconHeaderSize + size_t(index) * kEntrySize;
    const size_t offset = readLe32(entry + 12);
    if (offset > size || size - offset < 40)
        return;
    const uint8_t* h = data + offset;
    if (isPng(h))
        return;
    const uint32_t headerSize = readLe32(h);
    const int64_t w = int32_t(readLe32(h + 4));
    const int64_t rows = int32_t(readLe32(h + 8)) / 2;
    const int bits = readLe16(h + 14);
    if (bits >= 32 || bits == 0 || headerSize < 40 || w != icon.width() || rows != icon.height())
        return;
    int64_t colours = readLe32(h + 32);
    if (colours == 0 && bits <= 8)
        colours = int64_t(1) << bits;
    if (bits > 8)
        colours = 0;
    const int64_t colourStride = DibRowStride(w, bits);
    const int64_t maskStride = DibRowStride(w, 1);
    const int64_t maskAt = int64_t(offset) + headerSize + colours * 4 + colourStride * rows;
    if (colours > 256 || maskAt + maskStride * rows > int64_t(size))
        return;
    for (int y = 0; y < icon.height(); ++y) {
        const uint8_t* maskRow = data + maskAt + (rows - 1 - y) * maskStride;  // bottom row first
        QRgb* line = reinterpret_cast<QRgb*>(icon.scanLine(y));
        for (int x = 0; x < icon.width(); ++x)
            if (maskRow[x >> 3] & (0x80 >> (x & 7)))
                line[x] = 0;
    }
}

}  // namespace

int ChooseIconImage(const uint8_t* data, size_t size)
{
    if (size < size_t(kIconHeaderSize))
        return -1;
    const int count = readLe16(data + 4);
    int best = -1;
    int bestDistance = 0, bestDepth = 0;
    for (int i = 0; i < count; ++i) {
        const size_t at = size_t(kIconHeaderSize) + size_t(i) * kEntrySize;
        if (at + kEntrySize > size)
            break;
        const uint8_t* entry = data + at;
        // Images whose bytes are not all in the file are passed over.
        const uint32_t bytes = readLe32(entry + 8), offset = readLe32(entry + 12);
        if (bytes < 16 || offset > size || bytes > size - offset)
            continue;
        const int w = entry[0] ? entry[0] : 256;
        const int h = entry[1] ? entry[1] : 256;
        const int distance = std::abs(w - kStandardIconSize) + std::abs(h - kStandardIconSize);
        const int depth = entryDepth(data, size, entry);
        if (best < 0 || distance < bestDistance || (distance == bestDistance && depth > bestDepth)) {
            best = i;
            bestDistance = distance;
            bestDepth = depth;
        }
    }
    return best;
}

void TIconGraphic::ReadImage(TStream& stream, int)
{
    const int64_t left = std::max<int64_t>(stream.Size() - stream.Position(), 0);
    if (left < kIconHeaderSize)
        throw streamReadError();
    if (left > int64_t(std::numeric_limits<int32_t>::max()))
        notValid();
    QByteArray bytes(qsizetype(left), Qt::Uninitialized);
    const int64_t got = std::max<int64_t>(stream.ReadFully(bytes.data(), left), 0);
    bytes.truncate(qsizetype(got));
    if (got < kIconHeaderSize)
        throw streamReadError();
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    if (readLe16(p + 2) > 1)
        notValid();

    const int chosen = ChooseIconImage(p, size_t(got));
    if (chosen < 0)
        notValid();

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    if (chosen > 0 && !reader.jumpToImage(chosen))
        notValid();
    const QSize dims = reader.size();
    if (dims.isValid() && dims.height() > 0 && dims.width() > kMaxPixelStoreBytes / 4 / dims.height())
        throw imageTooLarge();
    QImage icon = reader.read();
    if (icon.isNull())
        notValid();
    icon = icon.convertToFormat(QImage::Format_ARGB32);
    if (icon.isNull())
        throw imageTooLarge();
    applyMask(p, size_t(got), chosen, icon);

    const int w = icon.width(), h = icon.height();
    NewImage(w, h, ifRgb24, nullptr, 0, 0);
    if (KeepAlpha) {
        // The icon's own colour, and its transparency beside it.
        std::vector<uint8_t> alpha(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y) {
            const QRgb* src = reinterpret_cast<const QRgb*>(icon.constScanLine(y));
            uint8_t* dst = RowPointer(y);
            for (int x = 0; x < w; ++x, dst += 3) {
                dst[0] = uint8_t(qBlue(src[x]));
                dst[1] = uint8_t(qGreen(src[x]));
                dst[2] = uint8_t(qRed(src[x]));
                alpha[size_t(y) * size_t(w) + size_t(x)] = uint8_t(qAlpha(src[x]));
            }
        }
        AlphaPlane = std::move(alpha);
        return;
    }
    // Drawn onto black: each pixel's colour weighted by its opacity.
    for (int y = 0; y < h; ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(icon.constScanLine(y));
        uint8_t* dst = RowPointer(y);
        for (int x = 0; x < w; ++x, dst += 3) {
            const int a = qAlpha(src[x]);
            dst[0] = uint8_t((qBlue(src[x]) * a + 127) / 255);
            dst[1] = uint8_t((qGreen(src[x]) * a + 127) / 255);
            dst[2] = uint8_t((qRed(src[x]) * a + 127) / 255);
        }
    }
}
