// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The transform base class and the small whole-bitmap transforms: vertical
// flip, anti-aliasing of black-and-white pictures, negative and crop.
#include "imaging/dib_graphic.h"

#include <cstdint>
#include <functional>

// Base of all transforms.
class TImageTransform {
public:
    virtual ~TImageTransform() = default;
    // Applies the transform to `bitmap`; the bitmap changes only on success.
    virtual void ApplyInPlace(TDibGraphic& bitmap);
    // Writes the transformed source into `destination` (recreated with NewImage).
    // The base fails with "Method %s not implemented for %s class".
    virtual void ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination);
    virtual const char* ClassName() const { return "TImageTransform"; }

    std::function<void(TImageTransform& sender, int percent)> ProgressCallback;
    uint8_t ReportedPercent = 255;

protected:
    // Reports clamp((position - min) * 100 div (max - min), 0, 100) when it
    // changed; returns the percentage (0 without a callback).
    int Progress(int position, int minimum, int maximum);
};

class TFlipVerticalTransform : public TImageTransform {
public:
    void ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination) override;
    // Rows exchanged within the bitmap itself: no second picture is made.
    void ApplyInPlace(TDibGraphic& bitmap) override;
    const char* ClassName() const override { return "TFlipVerticalTransform"; }
};

// Smooths ifMonochrome pictures into ifGrayscale16 with 2x2 box counts.
class TAntiAliasTransform : public TImageTransform {
public:
    void ApplyInPlace(TDibGraphic& bitmap) override;  // only ifMonochrome bitmaps change
    void ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination) override;
    const char* ClassName() const override { return "TAntiAliasTransform"; }
};

// Inverts every colour: complements the stored values of ifRgb24, grey and
// black-and-white pictures and the palette of ifColor16 and ifColor256 ones.
class TNegativeTransform : public TImageTransform {
public:
    void ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination) override;
    const char* ClassName() const override { return "TNegativeTransform"; }
};

// Cuts margins off; all zero copies the source; margins that leave no pixel
// fail with "Invalid crop parameters".
class TCropTransform : public TImageTransform {
public:
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    void ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination) override;
    const char* ClassName() const override { return "TCropTransform"; }
};
