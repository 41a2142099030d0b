// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TPcxGraphic reads PCX files; TDcxGraphic reads one page of a DCX file as PCX.
#include "imaging/dib_graphic.h"

class TPcxGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    // Errors: "Stream read error" (fewer than 16 bytes before decoding, fewer
    // than 128 after), the codec bridge's "vesk_read_header failed." and
    // "vesk_read_data failed.", "Image is too large".
    void ReadImage(TStream& stream, int index) override;
    // Writes a version 5 PCX file.
    void WriteToStream(TStream& stream) override;
};

class TDcxGraphic : public TPcxGraphic {
    QX_GRAPHIC_CLASS()
public:
    // Pages listed in the offset table before its first 0 entry. The stream's
    // position is kept.
    int CountImages(TStream& stream) override;
    // Reads page `index` (1-based) as a PCX file. A wrong magic number or a
    // page table that does not describe the page: "The DCX file header is not
    // valid" (EDcxError).
    void ReadImage(TStream& stream, int index) override;
};
