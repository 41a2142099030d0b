#pragma once
// TBitmapGraphic: a bitmap image that reads BMP files.
#include "imaging/dib_graphic.h"

class TBitmapGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    void ReadImage(TStream& stream, int index) override;
};
