#pragma once
// TMetaFileGraphic: a bitmap image that reads WMF and EMF files.
#include "imaging/dib_graphic.h"

class TMetaFileGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    void ReadImage(TStream& stream, int index) override;
};
