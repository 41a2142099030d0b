// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The two ways a bitmap is drawn scaled: colour on colour (every destination
// pixel takes the source pixel it falls on) and halftone (every destination
// pixel is the area-weighted mean of the source pixels it covers).
//
// Both compute only a part of the scaled picture: `visible` is a rectangle
// inside (0, 0, target width, target height), and the result is a
// Format_RGB32 image of its size (null when memory runs short).
#include <QImage>
#include <QRect>
#include <QSize>

class TDibGraphic;

QImage ScaleColorOnColor(const TDibGraphic& bitmap, const QSize& target, const QRect& visible);
QImage ScaleHalftone(const TDibGraphic& bitmap, const QSize& target, const QRect& visible);
