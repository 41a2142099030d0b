// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TPngGraphic: a bitmap image that reads PNG files through libpng.
#include "imaging/dib_graphic.h"

// The display gamma the PNG reader corrects for.
constexpr double kScreenGamma = 2.2;

class TPngGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    // Replaces the picture with the PNG read from the stream's position.
    // Transparency is flattened onto the file's background colour (bKGD) or
    // onto BackgroundColor; 16-bit samples are reduced to 8 bits.
    // Fails with EPNGError (libpng's message, or "PNG file is not valid or
    // corrupted" for a bad signature). The image index is ignored.
    void ReadImage(TStream& stream, int index) override;

    // The file gamma assumed when the file has no gAMA chunk; a read stores
    // the gamma it used here.
    double FileGamma = 0.5;
    // 0x00RRGGBB; what transparent pixels are composited onto when the file
    // has no background colour of its own (or IgnoreFileBackground is set).
    uint32_t BackgroundColor = 0;
    bool IgnoreFileBackground = false;
};
