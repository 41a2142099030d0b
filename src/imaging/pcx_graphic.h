#pragma once
// TPcxGraphic reads PCX files; TDcxGraphic reads one page of a DCX file as PCX.
#include "imaging/dib_graphic.h"

class TPcxGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    void ReadImage(TStream& stream, int index) override;
};

class TDcxGraphic : public TPcxGraphic {
    QX_GRAPHIC_CLASS()
public:
    int CountImages(TStream& stream) override;
    void ReadImage(TStream& stream, int index) override;
};
