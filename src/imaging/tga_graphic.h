#pragma once
// TTgaGraphic: a bitmap image that reads TGA files.
#include "imaging/dib_graphic.h"

class TTgaGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    void ReadFromStream(TStream& stream) override;
    void WriteToStream(TStream& stream) override;
};
