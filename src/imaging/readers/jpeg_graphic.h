// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TJpegGraphic: a bitmap image that reads JPEG files through libjpeg.
#include "imaging/dib_graphic.h"

class TJpegGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    // Replaces the picture with the JPEG read from the stream's position:
    // greyscale files become ifGrayscale256, every other colour space is
    // converted to ifRgb24. libjpeg's errors raise the general Exception with
    // the library's message; its warnings are ignored, so a file cut short
    // decodes as far as its data goes. The image index is ignored.
    void ReadImage(TStream& stream, int index) override;

    // Warnings libjpeg reported during the last read (counted, not shown).
    long WarningCount() const { return warningCount_; }

private:
    long warningCount_ = 0;
};
