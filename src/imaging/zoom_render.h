// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// How the image view shows a picture at a zoom: the picture scaled to the
// display size, of which only the part on the screen is ever computed, and
// optionally laid by its alpha over a grey checkerboard.
//
// The scaling is the display copy's, pixel for pixel:
//   Copy      the display has the picture's size
//   Nearest   every display pixel takes the source pixel whose span holds
//             its centre: always when the display is larger (magnified
//             texels stay sharp squares), and when it is smaller for any
//             picture the zoom transform does not average
//   Average   the area-weighted mean of the source pixels a display pixel
//             covers: a smaller display of an ifRgb24 picture of more than
//             1024 pixels, as TResizeTransform's unfiltered stretch does
// so a part rendered here equals that part of ScaleForDisplay's picture.
//
// With alpha each display pixel is the picture's colour blended over the
// checkerboard by its alpha: (c * a + g * (255 - a) + 127) / 255 for a
// single pixel, g the checkerboard's grey at that display pixel. Averaged,
// it is the mean of the pixels' colours premultiplied by their alpha (each
// rounded to a byte: round(c * a / 255)) plus g times 1 - the mean alpha /
// 255, rounded; where the alpha is 255 all over, the opaque mean. The checkerboard
// has squares of kCheckerCell display pixels from the display's top-left
// corner: light where (x / 8 + y / 8) is even, dark where it is odd.
#include "imaging/dib_graphic.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <vector>

class TResizeTransform;

enum class ZoomSampling { Copy, Nearest, Average };

constexpr int kCheckerCell = 8;
constexpr uint8_t kCheckerLight = 0xCC;
constexpr uint8_t kCheckerDark = 0x99;

// The checkerboard's grey at display pixel (x, y).
inline uint8_t CheckerGrey(int x, int y)
{
    return ((x / kCheckerCell + y / kCheckerCell) & 1) ? kCheckerDark : kCheckerLight;
}

// How `source` is scaled to a display of `target` pixels.
ZoomSampling ZoomSamplingFor(const TDibGraphic& source, QSize target);

// The pixels of display rectangle `part` (inside (0, 0) - `target`) as a
// Format_RGB32 image of part's size. `alpha` is the picture's alpha plane
// (width x height bytes, top row first) or null for an opaque picture. An
// averaged picture with alpha reads `premultiplied` (PremultipliedPixels of
// the same picture and alpha) when given, else premultiplies the rows it
// reads itself: the same pixels, more slowly. A null image when memory runs
// short or the source is empty.
QImage RenderZoomedPart(const TDibGraphic& source, const uint8_t* alpha, QSize target, QRect part,
                        const uint32_t* premultiplied = nullptr);

// The picture's colours premultiplied by its alpha, with the alpha: one
// number per pixel, top row first, blue in the low byte, then green, red
// and alpha; each colour round(c * a / 255).
std::vector<uint32_t> PremultipliedPixels(const TDibGraphic& source, const uint8_t* alpha);
// The same into `out`, whose memory is used again when it holds enough.
void PremultiplyPixels(const TDibGraphic& source, const uint8_t* alpha, std::vector<uint32_t>& out);

// The whole display copy (opaque): the source scaled to `target` in the
// source's own format, palette kept, by the sampling ZoomSamplingFor
// chooses; `transform` (the view's zoom transform) does the smaller sizes.
void ScaleForDisplay(const TDibGraphic& source, QSize target, TResizeTransform& transform, TDibGraphic& destination);
