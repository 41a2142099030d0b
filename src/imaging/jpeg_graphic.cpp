// PLACEHOLDER: replaced by the real reader.
#include "imaging/jpeg_graphic.h"

QX_DEFINE_GRAPHIC_CLASS(TJpegGraphic, TDibGraphic);

void TJpegGraphic::ReadImage(TStream&, int) { throw ETavrinError("TJpegGraphic: not built yet"); }
