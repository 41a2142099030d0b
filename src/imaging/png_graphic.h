#pragma once
// TPngGraphic: a bitmap image that reads PNG files.
#include "imaging/dib_graphic.h"

class TPngGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    void ReadImage(TStream& stream, int index) override;
};
