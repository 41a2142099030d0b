// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The picture preparation shared by the texture import and `quarnix-tool
// convert`: resample to the texture's size, reduce to its pixel format, and
// write the result as TGA.
#include "imaging/dib_graphic.h"
#include "platform/streams.h"

#include <QSize>
#include <optional>
#include <string>
#include <vector>

// Brings `picture` to `size` (when given) with the import's resampling:
// filtered, cubic B-spline, format kept; then to `format` (when given) with
// the import's reduction: optimised palette, dithering. Both are applied in
// place, so the picture changes only when a step succeeds; a picture already
// in `format` keeps its pixels and palette. ETavrinError "Destination graphic
// too small" when a side of `size` is below 2.
void PrepareImportPicture(TDibGraphic& picture, std::optional<QSize> size, std::optional<TImageFormat> format);

// An alpha plane of width x height bytes (top row first) brought to `size`
// with the same filter as PrepareImportPicture's colour, clamped to 0..255.
std::vector<uint8_t> ResampleAlphaPlane(const std::vector<uint8_t>& alpha, int width, int height, QSize size);

// A picture of at most 256 distinct colours becomes ifColor256 with exactly
// those colours as its palette (in the order they first occur, rows from the
// top) and no dithering; true then. A picture already in ifColor256 is kept
// as it is (true); one of more colours is left alone (false).
bool ReduceToExactPalette(TDibGraphic& picture);

// True for the formats the TGA writer takes as they are: 256 greys, 256
// colours and true colour.
bool TgaWritesFormat(TImageFormat format);

// Writes the picture as one TGA image at the stream's position. A picture
// the TGA writer refuses (black and white, 16 greys, 16 colours) is written
// as a true-colour copy of its colours; the picture itself is not changed.
void WritePictureAsTga(const TDibGraphic& picture, TStream& stream);

// Encodes the picture as TGA in memory, then writes the file through a
// temporary file beside it renamed over `fileName`, so a failure leaves no
// half-written file and an existing file intact. "Cannot create file %s" and
// "Stream write error" on failure.
void SavePictureAsTgaFile(const TDibGraphic& picture, const std::string& fileName);
