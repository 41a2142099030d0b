// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/tga_graphic.h"

#include "imaging/codec/vesk.h"

#include <memory>

QX_DEFINE_GRAPHIC_CLASS(TTgaGraphic, TDibGraphic);

namespace {
const char* const kCodecFileName = "File.tga";
}

void TTgaGraphic::ReadFromStream(TStream& stream)
{
    // The codec counts positions from the start of its stream, so a TGA that
    // starts further on is first copied into a stream of its own.
    const int64_t position = stream.Position();
    if (position == 0) {
        stream.Seek(0, SeekOrigin::Begin);
        ReadBitmapViaCodec(stream, *this, kCodecFileName, std::string());
        return;
    }
    TMemoryStream copy;
    const int64_t rest = stream.Size() - position;
    if (rest > 0)
        copy.CopyFrom(stream, rest);
    copy.Seek(0, SeekOrigin::Begin);
    ReadBitmapViaCodec(copy, *this, kCodecFileName, std::string());
}

void TTgaGraphic::WriteToStream(TStream& stream)
{
    WriteTgaPicture(stream, *this);
}

void WriteTgaPicture(TStream& stream, const TDibGraphic& picture)
{
    const TImageFormat format = picture.ImageFormat();
    if (format != ifGrayscale256 && format != ifColor256 && format != ifRgb24)
        throw ETgaError("TARGA image must be true color or 8 bit with palette");
    WriteBitmapViaCodec(stream, picture, kCodecFileName);
}
