// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Error classes of the image library. Each derives directly from Exception.
#include "platform/exceptions.h"

QX_DECLARE_ERROR(ETavrinError);  // bitmap image, registry, two TIFF messages
QX_DECLARE_ERROR(EVeskError);    // codec bridge (BMP, PCX, TGA codecs)
QX_DECLARE_ERROR(ETgaError);     // TTgaGraphic
QX_DECLARE_ERROR(EDcxError);     // TDcxGraphic
QX_DECLARE_ERROR(EPNGError);     // TPngGraphic
QX_DECLARE_ERROR(ETiffError);    // TTiffGraphic
