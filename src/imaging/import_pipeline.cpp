#include "imaging/import_pipeline.h"

#include "imaging/format_transform.h"
#include "imaging/picture_registry.h"
#include "imaging/resize_transform.h"
#include "platform/exceptions.h"
#include "platform/file_write.h"

#include <cstdio>

void PrepareImportPicture(TDibGraphic& picture, std::optional<QSize> size, std::optional<TImageFormat> format)
{
    if (size) {
        TResizeTransform resize;
        resize.TargetWidth = size->width();
        resize.TargetHeight = size->height();
        resize.UseFilter = true;
        resize.Kernel = rkCubicBSpline;
        resize.ForceTargetFormat = false;
        resize.ApplyInPlace(picture);
    }
    if (format) {
        TImageFormatTransform reduce;
        reduce.OptimizePalette = true;
        reduce.UseDithering = true;
        reduce.TargetFormat = *format;
        reduce.ApplyInPlace(picture);
    }
}

bool TgaWritesFormat(TImageFormat format)
{
    return format == ifGrayscale256 || format == ifColor256 || format == ifRgb24;
}

void WritePictureAsTga(const TDibGraphic& picture, TStream& stream)
{
    if (TgaWritesFormat(picture.ImageFormat()) || picture.IsEmpty()) {
        SavePictureToStream(picture, stream, "TGA");
        return;
    }
    TImageFormatTransform expand;
    expand.TargetFormat = ifRgb24;
    expand.UseDithering = false;
    TDibGraphic trueColour;
    expand.ApplyOnDest(picture, trueColour);
    SavePictureToStream(trueColour, stream, "TGA");
}

void SavePictureAsTgaFile(const TDibGraphic& picture, const std::string& fileName)
{
    TMemoryStream encoded;
    WritePictureAsTga(picture, encoded);
    writeFileReplacing(fileName, encoded.bytes());
}
