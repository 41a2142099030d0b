// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TIconGraphic: a bitmap image that reads icon files.
//
// Of the images an icon file holds, the one closest to 32 x 32 pixels is
// taken, the deepest of those equally close. It is drawn onto black, so
// pixels its mask makes transparent are black in the bitmap.
#include "imaging/dib_graphic.h"

#include <cstddef>
#include <cstdint>

class TIconGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    // Errors: "Stream read error" (no 6-byte header), "Icon image is not
    // valid" (type above 1, or images Qt cannot read), "Image is too large".
    void ReadImage(TStream& stream, int index) override;
};

// Index of the image of an icon directory that best fits 32 x 32 pixels at
// the deepest colour depth; -1 when the directory lists no image it holds.
int ChooseIconImage(const uint8_t* data, size_t size);
