// PLACEHOLDER: replaced by the real reader.
#include "imaging/tga_graphic.h"

QX_DEFINE_GRAPHIC_CLASS(TTgaGraphic, TDibGraphic);

void TTgaGraphic::ReadFromStream(TStream&) { throw ETavrinError("TTgaGraphic: not built yet"); }
void TTgaGraphic::WriteToStream(TStream&) { throw ETavrinError("TTgaGraphic: not built yet"); }
