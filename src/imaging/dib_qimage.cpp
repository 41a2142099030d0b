// SPDX-License-Identifier: GPL-2.0-or-later
// Conversion between the bitmap and Qt's QImage: reading the platform bitmap
// that the second BMP reader decodes, and the one exporter every drawing and
// platform copy goes through.
#include "imaging/dib_graphic.h"

#include <QList>
#include <cstring>

namespace {

// Number of meaningful bytes in a row and the mask of the meaningful bits of
// its last byte (pixels beyond the width are kept zero).
struct RowExtent {
    int64_t bytes;
    uint8_t lastMask;
};
RowExtent rowExtent(int width, int bpp)
{
    int64_t bits = int64_t(width) * bpp;
    int64_t bytes = (bits + 7) / 8;
    int rem = int(bits % 8);
    uint8_t mask = rem ? uint8_t(0xFF << (8 - rem)) : uint8_t(0xFF);
    return {bytes, mask};
}

}  // namespace

void TDibGraphic::AssignFromPlatformBitmap(const QImage& bitmap)
{
    if (bitmap.isNull())
        throw EInvalidGraphic("Invalid bitmap");

    QImage img;
    TImageFormat format;
    switch (bitmap.format()) {
    case QImage::Format_Mono:
        img = bitmap;
        format = ifMonochrome;
        break;
    case QImage::Format_MonoLSB:
        img = bitmap.convertToFormat(QImage::Format_Mono);
        format = ifMonochrome;
        break;
    case QImage::Format_Indexed8: {
        img = bitmap;
        // There is no 4-bit QImage: an 8-bit picture whose colour table and
        // pixels fit in 16 entries is taken as the 4-bit picture it came from.
        format = ifColor256;
        if (img.colorCount() >= 1 && img.colorCount() <= 16) {
            bool fits = true;
            for (int y = 0; y < img.height() && fits; ++y) {
                const uchar* s = img.constScanLine(y);
                for (int x = 0; x < img.width(); ++x)
                    if (s[x] >= 16) {
                        fits = false;
                        break;
                    }
            }
            if (fits)
                format = ifColor16;
        }
        break;
    }
    case QImage::Format_Grayscale8:
        img = bitmap;
        format = ifGrayscale256;
        break;
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
        img = bitmap;
        format = ifRgb24;
        break;
    default: {
        const int depth = bitmap.depth();
        if (depth != 16 && depth != 24 && depth != 32)
            throw ETavrinError("Unsupported bit count");
        img = bitmap.convertToFormat(QImage::Format_RGB888);
        format = ifRgb24;
        break;
    }
    }
    if (img.isNull())
        throw ETavrinError("GetDIB failed");

    TLogicalPalette pal{};
    const TLogicalPalette* palette = nullptr;
    if (format != ifRgb24 && format != ifGrayscale256) {
        const QList<QRgb> table = img.colorTable();
        if (!table.isEmpty() && table.size() <= 256) {
            pal.Version = 0x300;
            pal.EntryCount = uint16_t(table.size());
            for (int i = 0; i < int(table.size()); ++i)
                pal.Entries[i] = {uint8_t(qRed(table[i])), uint8_t(qGreen(table[i])), uint8_t(qBlue(table[i])), 0};
            palette = &pal;
        }
    }

    // A resolution that does not fit 16 bits is none (the display's is taken).
    auto toDpi = [](int dotsPerMeter) { return resolutionOrZero(DpiFromPelsPerMeter(dotsPerMeter)); };
    NewImage(img.width(), img.height(), format, palette, toDpi(img.dotsPerMeterX()), toDpi(img.dotsPerMeterY()));

    const int w = img.width(), h = img.height();
    for (int y = 0; y < h; ++y) {
        const uchar* s = img.constScanLine(y);
        uint8_t* d = RowPointer(y);
        switch (format) {
        case ifMonochrome: {
            const RowExtent ext = rowExtent(w, 1);
            std::memcpy(d, s, size_t(ext.bytes));
            d[ext.bytes - 1] &= ext.lastMask;
            break;
        }
        case ifColor16:
            for (int x = 0; x < w; ++x) {
                if (x & 1)
                    d[x >> 1] |= uint8_t(s[x] & 0x0F);
                else
                    d[x >> 1] = uint8_t(s[x] << 4);
            }
            break;
        case ifColor256:
        case ifGrayscale256: std::memcpy(d, s, size_t(w)); break;
        case ifRgb24:
            if (img.format() == QImage::Format_BGR888) {
                std::memcpy(d, s, size_t(w) * 3);
            } else {
                for (int x = 0; x < w; ++x) {
                    d[x * 3 + 0] = s[x * 3 + 2];
                    d[x * 3 + 1] = s[x * 3 + 1];
                    d[x * 3 + 2] = s[x * 3 + 0];
                }
            }
            break;
        default: break;
        }
    }
}

QImage TDibGraphic::CopyToPlatformBitmap() const
{
    if (IsEmpty())
        return QImage();
    // The platform bitmap is 24-bit; an unscaled drawing onto it gives every
    // pixel its own colour, which is what the exporter yields.
    QImage out = ToQImage();
    if (!out.isNull() && out.format() != QImage::Format_RGB888)
        out = out.convertToFormat(QImage::Format_RGB888);
    if (out.isNull())
        throw ETavrinError("GetDIB failed");
    return out;
}

QImage TDibGraphic::ToQImage() const
{
    if (IsEmpty())
        return QImage();
    const int w = Width(), h = Height();
    if (format_ == ifRgb24) {
        QImage out(w, h, QImage::Format_RGB888);
        if (out.isNull())
            return out;
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = RowPointer(y);
            uchar* d = out.scanLine(y);
            for (int x = 0; x < w; ++x) {
                d[x * 3 + 0] = s[x * 3 + 2];
                d[x * 3 + 1] = s[x * 3 + 1];
                d[x * 3 + 2] = s[x * 3 + 0];
            }
        }
        return out;
    }
    QImage out(w, h, QImage::Format_Indexed8);
    if (out.isNull())
        return out;
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = 0xFF000000u | PaletteColor(palette_, i);
    out.setColorTable(table);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = RowPointer(y);
        uchar* d = out.scanLine(y);
        switch (format_) {
        case ifMonochrome:
            for (int x = 0; x < w; ++x)
                d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case ifGrayscale16:
        case ifColor16:
            for (int x = 0; x < w; ++x)
                d[x] = (x & 1) ? s[x >> 1] & 0x0F : s[x >> 1] >> 4;
            break;
        default: std::memcpy(d, s, size_t(w)); break;
        }
    }
    return out;
}
