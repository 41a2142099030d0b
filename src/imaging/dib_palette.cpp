// SPDX-License-Identifier: GPL-2.0-or-later
// The default palettes and the nearest-colour converter.
#include "imaging/dib_palette.h"

#include "imaging/errors.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

void setEntry(TLogicalPalette& p, int i, uint8_t r, uint8_t g, uint8_t b)
{
    p.Entries[i].peRed = r;
    p.Entries[i].peGreen = g;
    p.Entries[i].peBlue = b;
    p.Entries[i].peFlags = 0;
}

const uint8_t kStandard16[16][3] = {{0, 0, 0},     {0, 0, 170},    {0, 170, 0},    {0, 170, 170},
                                    {170, 0, 0},   {170, 0, 170},  {170, 85, 0},   {170, 170, 170},
                                    {85, 85, 85},  {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
                                    {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255}};

struct DefaultPalettes {
    TLogicalPalette pal[5];

    DefaultPalettes()
    {
        std::memset(pal, 0, sizeof pal);
        for (auto& p : pal)
            p.Version = 0x300;

        TLogicalPalette& mono = pal[ifMonochrome];
        mono.EntryCount = 2;
        setEntry(mono, 1, 255, 255, 255);

        TLogicalPalette& g16 = pal[ifGrayscale16];
        g16.EntryCount = 16;
        for (int i = 0; i < 16; ++i)
            setEntry(g16, i, uint8_t(17 * i), uint8_t(17 * i), uint8_t(17 * i));

        TLogicalPalette& g256 = pal[ifGrayscale256];
        g256.EntryCount = 256;
        for (int i = 0; i < 256; ++i)
            setEntry(g256, i, uint8_t(i), uint8_t(i), uint8_t(i));

        TLogicalPalette& c16 = pal[ifColor16];
        c16.EntryCount = 16;
        for (int i = 0; i < 16; ++i)
            setEntry(c16, i, kStandard16[i][0], kStandard16[i][1], kStandard16[i][2]);

        TLogicalPalette& c256 = pal[ifColor256];
        c256.EntryCount = 256;
        for (int i = 0; i < 16; ++i)
            setEntry(c256, i, kStandard16[i][0], kStandard16[i][1], kStandard16[i][2]);
        static const uint8_t greys[16] = {0, 20, 32, 44, 56, 69, 81, 97, 113, 130, 146, 162, 182, 203, 227, 255};
        for (int k = 0; k < 16; ++k)
            setEntry(c256, 16 + k, greys[k], greys[k], greys[k]);
        static const uint8_t blockLevels[9][5] = {
            {0, 65, 125, 190, 255}, {125, 158, 190, 223, 255}, {182, 199, 219, 235, 255},
            {0, 28, 56, 85, 113},   {56, 69, 85, 97, 113},     {81, 89, 97, 105, 113},
            {0, 16, 32, 48, 65},    {32, 40, 48, 56, 65},      {44, 48, 52, 60, 65}};
        // One turn around the colour wheel from blue, as level numbers (r, g, b).
        static const uint8_t wheel[24][3] = {{0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3},
                                             {4, 0, 2}, {4, 0, 1}, {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0},
                                             {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0}, {0, 4, 0}, {0, 4, 1},
                                             {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4}};
        for (int block = 0; block < 9; ++block)
            for (int j = 0; j < 24; ++j) {
                const uint8_t* L = blockLevels[block];
                setEntry(c256, 32 + block * 24 + j, L[wheel[j][0]], L[wheel[j][1]], L[wheel[j][2]]);
            }
        // Entries 248..255 stay black. Three entries of the standard palette
        // are not on the wheel.
        setEntry(c256, 30, 227, 179, 179);
        setEntry(c256, 85, 223, 182, 235);
        setEntry(c256, 96, 182, 223, 182);
    }
};

const DefaultPalettes& defaultPalettes()
{
    static const DefaultPalettes palettes;
    return palettes;
}
// Built at start-up rather than on first use.
[[maybe_unused]] const DefaultPalettes& g_defaultPalettesAtStartup = defaultPalettes();

}  // namespace

const TLogicalPalette& DefaultPalette(TImageFormat format)
{
    if (format > ifColor256)
        throw ETavrinError("Internal error: Invalid image format");
    return defaultPalettes().pal[format];
}

// TRgbToPaletteConverter

TRgbToPaletteConverter::TRgbToPaletteConverter(const TLogicalPalette& palette) : palette_(palette)
{
    for (Slot& s : cache_) {
        s.color = 0;
        s.index = -1;
    }
}

int16_t TRgbToPaletteConverter::IndexOf(uint32_t color)
{
    Slot& slot = cache_[color % 1020];
    if (slot.index >= 0 && slot.color == color) {
        ++hits_;
        return slot.index;
    }
    ++misses_;
    const int r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
    const int count = std::min<int>(palette_.EntryCount, 256);
    int16_t best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < count; ++i) {
        const TPaletteEntry& e = palette_.Entries[i];
        const int dr = r - e.peRed, dg = g - e.peGreen, db = b - e.peBlue;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = int16_t(i);
            if (d == 0)
                break;
        }
    }
    slot.color = color;
    slot.index = best;
    return best;
}
