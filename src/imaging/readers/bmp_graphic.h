// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TBitmapGraphic: a bitmap image that reads BMP files.
//
// The BMP codec reads the common kinds (1, 4, 8 and 24 bits per pixel,
// uncompressed or run-length encoded, OS/2 1.x and Windows headers). Whatever
// it refuses goes to the second reader: true-colour pixels (16 and 32 bits
// with any bit-field masks, top-down rows, headers of 52 and 56 bytes) by our
// own path (readers/bmp_true_colour.h), everything else (newer headers of
// palette pictures, damaged run-length data) by Qt's BMP reader.
#include "imaging/dib_graphic.h"

class TBitmapGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    // Errors are those of the second reader: "Stream read error" (fewer than
    // 14 bytes), "Bitmap image is not valid" (no "BM", planes not 1, data Qt
    // cannot read), "Image is too large".
    void ReadImage(TStream& stream, int index) override;
    // Writes an uncompressed BMP with a 40-byte header.
    void WriteToStream(TStream& stream) override;

private:
    // With KeepAlpha: the alpha of a picture Qt's reader gave with an alpha
    // channel, and its straight colour.
    void takeAlpha(const QImage& image);
};
