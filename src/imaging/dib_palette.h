// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Palettes of the bitmap image: the logical palette, the five default
// palettes shared by every bitmap, and the nearest-colour converter that
// writes colours into palette formats.
#include <cstdint>

enum TImageFormat : uint8_t {
    ifMonochrome = 0,    // 1 bpp, palette
    ifGrayscale16 = 1,   // 4 bpp, palette
    ifGrayscale256 = 2,  // 8 bpp, palette
    ifColor16 = 3,       // 4 bpp, palette
    ifColor256 = 4,      // 8 bpp, palette
    ifRgb24 = 5,         // 24 bpp, blue-green-red
};

struct TPaletteEntry {
    uint8_t peRed;
    uint8_t peGreen;
    uint8_t peBlue;
    uint8_t peFlags;
};

struct TLogicalPalette {
    uint16_t Version;
    uint16_t EntryCount;
    TPaletteEntry Entries[256];
};
static_assert(sizeof(TLogicalPalette) == 1028);

// Colour values are 0x00RRGGBB.
inline uint32_t MakeColor(uint8_t r, uint8_t g, uint8_t b)
{
    return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

// The colour of palette entry `index` (taken modulo 256).
inline uint32_t PaletteColor(const TLogicalPalette& p, int index)
{
    const TPaletteEntry& e = p.Entries[index & 0xFF];
    return MakeColor(e.peRed, e.peGreen, e.peBlue);
}

// The shared default palette of a palette format (built once at start-up).
// "Internal error: Invalid image format" for ifRgb24 and beyond.
const TLogicalPalette& DefaultPalette(TImageFormat format);

// Nearest palette entry for a colour, with a 1020-slot direct-mapped cache.
class TRgbToPaletteConverter {
public:
    explicit TRgbToPaletteConverter(const TLogicalPalette& palette);
    int16_t IndexOf(uint32_t color);
    uint32_t Hits() const { return hits_; }
    uint32_t Misses() const { return misses_; }

private:
    struct Slot {
        uint32_t color;
        int16_t index;
    };
    const TLogicalPalette& palette_;
    Slot cache_[1020];
    uint32_t hits_ = 0;
    uint32_t misses_ = 0;
};
