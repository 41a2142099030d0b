// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TTgaGraphic: a bitmap image that reads and writes TGA images through the
// TGA codec of the codec layer.
#include "imaging/dib_graphic.h"

class TTgaGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    // Reads one TGA image from the stream's current position to its end and
    // replaces the bitmap's content with it. The image index and the
    // multi-image flag play no part: a TGA stream holds one image.
    // Failures: EVeskError with the bridge's messages.
    void ReadFromStream(TStream& stream) override;
    // Writes the bitmap as one TGA image (8-bit colour-mapped for
    // ifGrayscale256 and ifColor256, 24-bit true colour for ifRgb24) at the
    // stream's current position. Other formats fail with ETgaError
    // "TARGA image must be true color or 8 bit with palette" and write nothing.
    void WriteToStream(TStream& stream) override;
};

// What TTgaGraphic::WriteToStream writes for `picture`, written from the
// picture itself rather than from a TTgaGraphic copy of it.
void WriteTgaPicture(TStream& stream, const TDibGraphic& picture);
