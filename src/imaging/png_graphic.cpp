// PLACEHOLDER: replaced by the real reader.
#include "imaging/png_graphic.h"

QX_DEFINE_GRAPHIC_CLASS(TPngGraphic, TDibGraphic);

void TPngGraphic::ReadImage(TStream&, int) { throw ETavrinError("TPngGraphic: not built yet"); }
