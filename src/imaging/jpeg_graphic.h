#pragma once
// TJpegGraphic: a bitmap image that reads JPEG files.
#include "imaging/dib_graphic.h"

class TJpegGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    void ReadImage(TStream& stream, int index) override;
};
