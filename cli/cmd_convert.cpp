// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool convert PICTURE OUT.tga [--size WxH] [--format rgb24|color256]
// Loads a picture of any registered format, prepares it as the texture import
// does (resample to WxH, reduce to true colour or 256 colours) and writes it
// as TGA.
#include "cli/commands.h"
#include "cli/texture_options.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "platform/exceptions.h"

#include <memory>
#include <optional>
#include <string>

namespace {

// WxH with each side 1..65535.
std::optional<QSize> parseSize(const std::string& text)
{
    const std::optional<QSize> size = parseTextureSize(text);
    if (!size || size->width() < 1 || size->height() < 1 || size->width() > 65535 || size->height() > 65535)
        return std::nullopt;
    return size;
}

const QCommandLineOption kSizeOption("size", "Resample to WxH pixels (each 1..65535).", "WxH");
const QCommandLineOption kFormatOption("format", "Reduce to rgb24 (true colour) or color256 (256 colours).",
                                       "rgb24|color256");

void addOptions(QCommandLineParser& parser)
{
    parser.addOption(kSizeOption);
    parser.addOption(kFormatOption);
}

int run(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    std::optional<QSize> size;
    std::optional<TImageFormat> format;
    if (parser.isSet(kSizeOption)) {
        const std::string value = utf8(parser.value(kSizeOption));
        size = parseSize(value);
        if (!size)
            return usageError(kConvertCommand, "bad size '" + value + "' (expected WxH, each 1..65535)");
    }
    if (parser.isSet(kFormatOption)) {
        const std::string value = utf8(parser.value(kFormatOption));
        if (value == "rgb24")
            format = ifRgb24;
        else if (value == "color256")
            format = ifColor256;
        else
            return usageError(kConvertCommand, "bad format '" + value + "' (expected rgb24 or color256)");
    }
    std::unique_ptr<TDibGraphic> picture = LoadPictureFromFile(args[0], 1);
    PrepareImportPicture(*picture, size, format);
    SavePictureAsTgaFile(*picture, args[1]);
    return 0;
}

}  // namespace

const ToolCommand kConvertCommand{
    "convert",
    "Load a picture, resample and reduce it as an import would, and write it as TGA.",
    "Loads a picture of any supported format (TGA, BMP, PCX, DCX, ICO, WMF, EMF, PNG, JPEG, TIFF), "
    "resamples it to --size with the import's filter (cubic B-spline) and reduces it to --format with "
    "the import's colour reduction (optimised palette, dithering), then writes OUT.tga. The file is "
    "written under a temporary name and renamed into place when complete.",
    {{"PICTURE", "The picture file to load."}, {"OUT.tga", "The TGA file to write."}},
    addOptions,
    run,
};
