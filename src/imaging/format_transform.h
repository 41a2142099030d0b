// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TImageFormatTransform: converts a bitmap to another pixel format. For the
// 16- and 256-colour formats it can build a palette from the picture's own
// colours (a 15-bit histogram, a threshold that drops rare colours, and a
// greedy spread selection when more colours remain than the palette holds)
// and map the picture onto the palette with Floyd-Steinberg error diffusion.
#include "imaging/transforms.h"

#include <cstdint>

// Threshold of the palette build: a 15-bit colour seen on at most this many
// pixels is no candidate. Depends on the number of distinct 15-bit colours.
int PaletteThreshold(int distinctColours);

// The 15-bit key of a colour value 0x00RRGGBB: red in bits 0-4, green in
// bits 5-9, blue in bits 10-14.
inline uint16_t ColourKey(uint32_t colour)
{
    return static_cast<uint16_t>(((colour >> 19) & 31) | (((colour >> 11) & 31) << 5) | (((colour >> 3) & 31) << 10));
}

// Greedy spread selection over `count` three-byte candidates (blue, green,
// red). Moves the chosen `wanted` colours to positions 0..wanted-1 in the
// order of selection: first the candidate nearest to white, then each time
// the one least crowded by those placed so far, crowding being the sum of
// floor(2^30 / squared distance). Candidates move by swapping, so the
// positions of the others change as well. Runs in O(count * wanted).
void SelectColours(uint8_t* candidates, int count, int wanted);

class TImageFormatTransform : public TImageTransform {
public:
    TImageFormat TargetFormat = ifRgb24;
    TLogicalPalette TargetPalette{};
    bool OptimizePalette = true;
    bool UseDithering = true;

    // Leaves a bitmap already in TargetFormat untouched.
    void ApplyInPlace(TDibGraphic& bitmap) override;
    void ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination) override;
    const char* ClassName() const override { return "TImageFormatTransform"; }

    // Fills `palette` with `count` (at most 256) entries chosen from the
    // source's colours; entries without a candidate stay black.
    static void BuildPalette(const TDibGraphic& source, TLogicalPalette& palette, int count);
    // Error diffusion of the source onto the destination's palette; the
    // destination has the source's size and a palette format.
    static void Dither(const TDibGraphic& source, TDibGraphic& destination);
};
