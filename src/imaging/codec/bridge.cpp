// SPDX-License-Identifier: GPL-2.0-or-later
// The codec bridge: turns a codec's neutral picture description into a
// TDibGraphic and back. The codecs read into and write from the bitmap's own
// pixel store, whose row layout is theirs.
#include "imaging/codec/vesk.h"

#include "imaging/dib_graphic.h"

#include <cstring>
#include <vector>

namespace {

[[noreturn]] void fail(const char* message)
{
    throw EVeskError(message);
}

int selectCodec(const std::string& codecFileName)
{
    const int codec = vesk_guess_filetype(codecFileName);
    if (codec < 0)
        fail("vesk_guess_filetype failed.");
    return codec;
}

bool formatForBits(int bitsPerPixel, TImageFormat& format)
{
    switch (bitsPerPixel) {
    case 1: format = ifMonochrome; return true;
    case 4: format = ifColor16; return true;
    case 8: format = ifColor256; return true;
    case 24: format = ifRgb24; return true;
    default: return false;
    }
}

bool bitsForFormat(TImageFormat format, int& bitsPerPixel)
{
    switch (format) {
    case ifMonochrome: bitsPerPixel = 1; return true;
    case ifGrayscale16:
    case ifColor16: bitsPerPixel = 4; return true;
    case ifGrayscale256:
    case ifColor256: bitsPerPixel = 8; return true;
    case ifRgb24: bitsPerPixel = 24; return true;
    }
    return false;
}

}  // namespace

void ReadBitmapViaCodec(TStream& stream, TDibGraphic& bitmap, const std::string& codecFileName,
                        const std::string& options)
{
    const int codec = selectCodec(codecFileName);

    VeskDescription description;
    std::memset(&description, 0, sizeof description);
    if (vesk_read_header(codecFileName, stream, codec, options, description) != VESK_OK)
        fail("vesk_read_header failed.");

    TImageFormat format;
    if (!formatForBits(description.bitsPerPixel, format))
        fail("Internal error: Invalid image format");

    // A codec that reports no picture fails its header step. Pictures too
    // large to hold are refused by NewImage before anything is allocated.
    if (description.width < 1 || description.height < 1)
        fail("vesk_read_header failed.");

    TLogicalPalette palette;
    std::memset(&palette, 0, sizeof palette);
    if (format != ifRgb24) {
        VeskPalette codecPalette;
        std::memset(&codecPalette, 0, sizeof codecPalette);
        if (vesk_read_palette(stream, codec, description, codecPalette) != VESK_OK)
            fail("vesk_read_header failed.");
        const int count = 1 << description.bitsPerPixel;
        palette.Version = 0x300;
        palette.EntryCount = uint16_t(count);
        for (int i = 0; i < count; ++i) {
            palette.Entries[i].peRed = codecPalette.entries[i].red;
            palette.Entries[i].peGreen = codecPalette.entries[i].green;
            palette.Entries[i].peBlue = codecPalette.entries[i].blue;
            palette.Entries[i].peFlags = 0;
        }
    }

    bitmap.NewImage(description.width, description.height, format, format == ifRgb24 ? nullptr : &palette, 0, 0);
    std::vector<uint8_t> alpha;
    if (bitmap.KeepAlpha && description.hasAlpha) {
        alpha.assign(size_t(description.width) * size_t(description.height), 255);
        description.alpha = alpha.data();
    }

    if (vesk_read_data(stream, codec, description, bitmap.Bits(), int64_t(bitmap.Height()) * bitmap.RowStride())
        != VESK_OK)
        fail("vesk_read_data failed.");
    bitmap.AlphaPlane = std::move(alpha);
}

void WriteBitmapViaCodec(TStream& stream, const TDibGraphic& bitmap, const std::string& codecFileName)
{
    const int codec = selectCodec(codecFileName);

    VeskDescription description;
    std::memset(&description, 0, sizeof description);
    description.width = bitmap.Width();
    description.height = bitmap.Height();
    int bitsPerPixel = 0;
    if (!bitsForFormat(bitmap.ImageFormat(), bitsPerPixel))
        fail("Internal error: Invalid image format");
    description.bitsPerPixel = bitsPerPixel;

    VeskPalette palette;
    std::memset(&palette, 0, sizeof palette);
    if (bitmap.ImageFormat() != ifRgb24) {
        const TLogicalPalette& source = bitmap.Palette();
        const int count = source.EntryCount > 256 ? 256 : source.EntryCount;
        for (int i = 0; i < count; ++i) {
            palette.entries[i].red = source.Entries[i].peRed;
            palette.entries[i].green = source.Entries[i].peGreen;
            palette.entries[i].blue = source.Entries[i].peBlue;
        }
    }

    const int64_t rowsSize = bitmap.IsEmpty() ? 0 : int64_t(bitmap.Height()) * bitmap.RowStride();
    if (vesk_write(codecFileName, stream, codec, std::string(), description, palette, bitmap.Bits(), rowsSize)
        != VESK_OK)
        fail("vesk_write failed.");
}
