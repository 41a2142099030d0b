// PLACEHOLDER: replaced by the real reader.
#include "imaging/pcx_graphic.h"

QX_DEFINE_GRAPHIC_CLASS(TPcxGraphic, TDibGraphic);
QX_DEFINE_GRAPHIC_CLASS(TDcxGraphic, TPcxGraphic);

void TPcxGraphic::ReadImage(TStream&, int) { throw ETavrinError("TPcxGraphic: not built yet"); }
int TDcxGraphic::CountImages(TStream&) { return 1; }
void TDcxGraphic::ReadImage(TStream&, int) { throw ETavrinError("TDcxGraphic: not built yet"); }
