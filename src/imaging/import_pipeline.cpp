#include "imaging/import_pipeline.h"

#include "imaging/format_transform.h"
#include "imaging/picture_registry.h"
#include "imaging/resize_transform.h"
#include "platform/exceptions.h"

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

    const std::string temporary = fileName + ".part";
    try {
        {
            TFileStream file(temporary, FileMode::Create);
            file.WriteBuffer(encoded.Memory(), encoded.Size());
            file.Flush();
        }
        if (std::rename(temporary.c_str(), fileName.c_str()) != 0)
            throw EFCreateError(formatMessage("Cannot create file %s", {fileName}));
    } catch (const EFCreateError&) {
        std::remove(temporary.c_str());
        throw EFCreateError(formatMessage("Cannot create file %s", {fileName}));
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
}
