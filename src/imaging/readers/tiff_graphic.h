// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TTiffGraphic: a bitmap image that reads TIFF files through libtiff.
#include "imaging/dib_graphic.h"

class TTiffGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    // Replaces the picture with directory `index` (1-based) of the TIFF read
    // from the stream's position. Failures raise ETiffError (messages
    // prefixed with "ETiffError ") or ETavrinError.
    void ReadImage(TStream& stream, int index) override;
    // Number of directories (pictures) in the TIFF at the stream's position;
    // the stream's position is left where it was.
    int CountImages(TStream& stream) override;

    // Writer settings: rows per strip and the compression the picture came
    // with (the compression tag of the last directory read).
    int RowsPerStrip = 16;
    int Compression = 1;

private:
    // `tif` is the open libtiff handle (kept out of this header).
    // libtiff's RGBA reading, a band at a time; on failure the picture is
    // left as NewImage made it and false is returned.
    bool readWholeImage(void* tif, bool tiled, uint32_t rowsPerStrip);
    void readStrips(void* tif, uint64_t lineSize, uint32_t rowsPerStrip, uint64_t samples, int widenBits);
    // With KeepAlpha, the kind of the file's alpha sample (the fourth):
    // 0 none, 1 associated (colour premultiplied), 2 unassociated.
    int alphaSample_ = 0;
};
