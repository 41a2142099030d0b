// PLACEHOLDER: replaced by the real reader.
#include "imaging/icon_graphic.h"

QX_DEFINE_GRAPHIC_CLASS(TIconGraphic, TDibGraphic);

void TIconGraphic::ReadImage(TStream&, int) { throw ETavrinError("TIconGraphic: not built yet"); }
