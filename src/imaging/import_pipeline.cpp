// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/import_pipeline.h"

#include "imaging/format_transform.h"
#include "imaging/picture_registry.h"
#include "imaging/resize_transform.h"
#include "platform/cancellation.h"
#include "platform/exceptions.h"
#include "platform/file_write.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

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

std::vector<uint8_t> ResampleAlphaPlane(const std::vector<uint8_t>& alpha, int width, int height, QSize size)
{
    TDibGraphic plane;
    plane.NewImage(width, height, ifRgb24, nullptr, 0, 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = plane.RowPointer(y);
        const uint8_t* a = alpha.data() + size_t(y) * width;
        for (int x = 0; x < width; ++x)
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = a[x];
    }
    PrepareImportPicture(plane, size, std::nullopt);
    std::vector<uint8_t> out(size_t(plane.Width()) * plane.Height());
    for (int y = 0; y < plane.Height(); ++y) {
        const uint8_t* row = plane.RowPointer(y);
        for (int x = 0; x < plane.Width(); ++x)
            out[size_t(y) * plane.Width() + x] = row[3 * x];
    }
    return out;
}

bool ReduceToExactPalette(TDibGraphic& picture)
{
    if (picture.ImageFormat() == ifColor256)
        return true;
    const int w = picture.Width(), h = picture.Height();
    std::unordered_map<uint32_t, uint8_t> index;
    TLogicalPalette palette{};
    palette.Version = 0x300;
    std::vector<uint8_t> indices(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        throwIfCancelled();
        for (int x = 0; x < w; ++x) {
            const uint32_t c = picture.GetPixelColor(x, y);
            auto it = index.find(c);
            if (it == index.end()) {
                if (index.size() == 256)
                    return false;
                const uint8_t k = uint8_t(index.size());
                it = index.emplace(c, k).first;
                palette.Entries[k] = TPaletteEntry{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 0};
            }
            indices[size_t(y) * w + x] = it->second;
        }
    }
    palette.EntryCount = uint16_t(std::max<size_t>(1, index.size()));
    TDibGraphic exact;
    exact.NewImage(w, h, ifColor256, &palette, uint16_t(picture.ResolutionX()), uint16_t(picture.ResolutionY()));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            exact.SetPixelIndex(x, y, indices[size_t(y) * w + x]);
    picture.Assign(&exact);
    return true;
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
