// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Bitmaps built in code for the imaging tests and benchmarks.
#include "imaging/dib_graphic.h"

#include <cstdint>
#include <functional>
#include <memory>

// An ifRgb24 bitmap whose pixel (x, y) has the colour `colourAt(x, y)`
// (0x00RRGGBB). Resolution 96 dpi.
std::unique_ptr<TDibGraphic> MakeRgb24Picture(int width, int height,
                                              const std::function<uint32_t(int x, int y)>& colourAt);

// A palette bitmap of `format` with `palette` whose pixel (x, y) holds index
// `indexAt(x, y)`.
std::unique_ptr<TDibGraphic> MakeIndexedPicture(int width, int height, TImageFormat format,
                                                const TLogicalPalette& palette,
                                                const std::function<int(int x, int y)>& indexAt);

// A palette of grey levels (r = g = b = level), EntryCount = the number given.
TLogicalPalette MakeGreyPalette(std::initializer_list<int> levels);

// A photo-like ifRgb24 picture: smooth colour gradients, a few soft-edged
// shapes and a little sensor-like noise, so that it has many thousands of
// distinct 15-bit colours like a real photograph. Deterministic for a seed.
std::unique_ptr<TDibGraphic> MakePhotoLikePicture(int width, int height, uint32_t seed = 1);
