// PLACEHOLDER: replaced by the real reader.
#include "imaging/tiff_graphic.h"

QX_DEFINE_GRAPHIC_CLASS(TTiffGraphic, TDibGraphic);

void TTiffGraphic::ReadImage(TStream&, int) { throw ETavrinError("TTiffGraphic: not built yet"); }
int TTiffGraphic::CountImages(TStream&) { return 1; }
