#pragma once
// TTiffGraphic: a bitmap image that reads TIFF files.
#include "imaging/dib_graphic.h"

class TTiffGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    void ReadImage(TStream& stream, int index) override;
    int CountImages(TStream& stream) override;
};
