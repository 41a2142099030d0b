#pragma once
// TIconGraphic: a bitmap image that reads icon files.
#include "imaging/dib_graphic.h"

class TIconGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    void ReadImage(TStream& stream, int index) override;
};
