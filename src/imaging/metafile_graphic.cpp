// PLACEHOLDER: replaced by the real reader.
#include "imaging/metafile_graphic.h"

QX_DEFINE_GRAPHIC_CLASS(TMetaFileGraphic, TDibGraphic);

void TMetaFileGraphic::ReadImage(TStream&, int) { throw ETavrinError("TMetaFileGraphic: not built yet"); }
