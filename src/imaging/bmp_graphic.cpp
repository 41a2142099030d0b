// PLACEHOLDER: replaced by the real reader.
#include "imaging/bmp_graphic.h"

QX_DEFINE_GRAPHIC_CLASS(TBitmapGraphic, TDibGraphic);

void TBitmapGraphic::ReadImage(TStream&, int) { throw ETavrinError("TBitmapGraphic: not built yet"); }
