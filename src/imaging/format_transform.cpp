// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/format_transform.h"

#include "platform/cancellation.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kCrowded = 1u << 30;

// floor(2^30 / d2) for a squared distance between byte colours (d2 <= 3 *
// 255^2), and 2^30 for d2 = 0. Done in double: when 2^30 / d2 is not an
// integer it lies at least 1 / d2 >= 5e-6 away from one, far more than the
// 2^-23 that rounding a quotient below 2^30 to double can move it, so the
// truncation is the exact floor.
inline uint32_t crowdingTerm(int32_t d2)
{
    return static_cast<uint32_t>(1073741824.0 / static_cast<double>(std::max(d2, 1)));
}

inline int32_t clampByte(int32_t v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

}  // namespace

int PaletteThreshold(int distinctColours)
{
    if (distinctColours < 1250)
        return 2;
    if (distinctColours < 2500)
        return 5;
    if (distinctColours < 5000)
        return 10;
    if (distinctColours < 10000)
        return 15;
    return 20;
}

void SelectColours(uint8_t* candidates, int count, int wanted)
{
    if (count <= 0 || wanted <= 0)
        return;
    wanted = std::min(wanted, count);
    const size_t k = size_t(count);

    // Candidates as separate channel arrays, each with its crowding so far.
    // Crowding only ever grows, and only values below 2^30 can win a pick
    // (the search starts from 2^30 and takes strictly smaller ones), so it is
    // kept saturated at 2^30: every sum below that is exact, every sum at or
    // above it compares the same as 2^30. A duplicate colour (distance 0)
    // saturates it at once, as the plain definition asks.
    // Integer sums do not depend on the order of their terms, so adding each
    // placed colour's term as it is placed gives every waiting candidate the
    // same crowding as summing over all placed colours at every pick; the
    // crowding moves with its candidate whenever candidates swap places.
    std::vector<uint8_t> blue(k), green(k), red(k);
    std::vector<uint32_t> crowd(k, 0);
    for (size_t p = 0; p < k; ++p) {
        blue[p] = candidates[3 * p];
        green[p] = candidates[3 * p + 1];
        red[p] = candidates[3 * p + 2];
    }

    // First pick: nearest to white, first position on ties.
    size_t chosen = 0;
    int32_t bestDistance = 0;
    for (size_t p = 0; p < k; ++p) {
        const int32_t db = 255 - blue[p], dg = 255 - green[p], dr = 255 - red[p];
        const int32_t d = dr * dr + dg * dg + db * db;
        if (p == 0 || d < bestDistance) {
            bestDistance = d;
            chosen = p;
        }
    }

    // The palette build hands over multiples of 8 only. Their squared
    // distances are 64 m with m <= 3 * 31^2, and floor(2^30 / 64m) =
    // floor(2^24 / m) comes from a small table that stays in the cache.
    // Other colours divide (exactly, see crowdingTerm).
    bool multiplesOfEight = true;
    for (size_t p = 0; p < k && multiplesOfEight; ++p)
        multiplesOfEight = ((blue[p] | green[p] | red[p]) & 7) == 0;
    std::vector<uint32_t> table;
    if (multiplesOfEight) {
        table.resize(3 * 31 * 31 + 1);
        table[0] = kCrowded;
        for (size_t m = 1; m < table.size(); ++m)
            table[m] = uint32_t((1u << 24) / m);
        for (size_t p = 0; p < k; ++p) {
            blue[p] >>= 3;
            green[p] >>= 3;
            red[p] >>= 3;
        }
    }

    // Adds the colour at position i to the crowding of every candidate after
    // it and returns the least crowded of those (first on ties), or i + 1
    // when none is below 2^30.
    auto place = [&](size_t i, auto term) {
        const int32_t pb = blue[i], pg = green[i], pr = red[i];
        uint32_t best = kCrowded;
        size_t bestPos = i + 1;
        for (size_t p = i + 1; p < k; ++p) {
            const int32_t db = blue[p] - pb, dg = green[p] - pg, dr = red[p] - pr;
            const uint32_t c = std::min(crowd[p] + term(dr * dr + dg * dg + db * db), kCrowded);
            crowd[p] = c;
            if (c < best) {
                best = c;
                bestPos = p;
            }
        }
        return bestPos;
    };

    for (size_t i = 0; i < size_t(wanted); ++i) {
        std::swap(blue[i], blue[chosen]);
        std::swap(green[i], green[chosen]);
        std::swap(red[i], red[chosen]);
        std::swap(crowd[i], crowd[chosen]);
        if (i + 1 == size_t(wanted))
            break;
        if (multiplesOfEight)
            chosen = place(i, [&table](int32_t m) { return table[size_t(m)]; });
        else
            chosen = place(i, crowdingTerm);
    }

    if (multiplesOfEight) {
        for (size_t p = 0; p < k; ++p) {
            blue[p] = uint8_t(blue[p] << 3);
            green[p] = uint8_t(green[p] << 3);
            red[p] = uint8_t(red[p] << 3);
        }
    }
    for (size_t p = 0; p < k; ++p) {
        candidates[3 * p] = blue[p];
        candidates[3 * p + 1] = green[p];
        candidates[3 * p + 2] = red[p];
    }
}

void TImageFormatTransform::BuildPalette(const TDibGraphic& source, TLogicalPalette& palette, int count)
{
    const int wanted = std::clamp(count, 0, 256);
    const int width = source.Width();
    const int height = source.Height();

    std::vector<uint16_t> histogram(32768, 0);
    uint16_t* hist = histogram.data();
    int distinct = 0;
    std::vector<uint8_t> scratch(source.ImageFormat() == ifRgb24 ? 0 : 3 * size_t(std::max(width, 0)));
    for (int y = 0; y < height; ++y) {
        throwIfCancelled();
        const uint8_t* row = RowAsBgr(source, y, scratch);
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = row + 3 * size_t(x);
            const uint16_t key = static_cast<uint16_t>((p[2] >> 3) | ((p[1] >> 3) << 5) | ((p[0] >> 3) << 10));
            if (hist[key] != 65535 && ++hist[key] == 1)
                ++distinct;
        }
    }

    const int threshold = PaletteThreshold(distinct);
    std::vector<uint8_t> candidates;
    for (int key = 0; key < 32768; ++key) {
        if (hist[key] > threshold) {
            candidates.push_back(uint8_t(8 * ((key >> 10) & 31)));
            candidates.push_back(uint8_t(8 * ((key >> 5) & 31)));
            candidates.push_back(uint8_t(8 * (key & 31)));
        }
    }
    const int found = static_cast<int>(candidates.size() / 3);
    if (found > wanted)
        SelectColours(candidates.data(), found, wanted);

    std::memset(&palette, 0, sizeof palette);
    palette.Version = 0x300;
    palette.EntryCount = static_cast<uint16_t>(wanted);
    for (int e = 0; e < std::min(found, wanted); ++e) {
        palette.Entries[e].peRed = candidates[3 * size_t(e) + 2];
        palette.Entries[e].peGreen = candidates[3 * size_t(e) + 1];
        palette.Entries[e].peBlue = candidates[3 * size_t(e)];
        palette.Entries[e].peFlags = 0;
    }
}

void TImageFormatTransform::Dither(const TDibGraphic& source, TDibGraphic& destination)
{
    const int width = std::min(source.Width(), destination.Width());
    const int height = std::min(source.Height(), destination.Height());
    if (width < 1 || height < 1)
        return;
    const size_t w = size_t(width);

    // Per channel (0 red, 1 green, 2 blue): this row's values and the next
    // row's accumulated error. Every addition is clamped to 0..255 at once.
    std::vector<int32_t> buffers(6 * w, 0);
    int32_t* current[3] = {buffers.data(), buffers.data() + w, buffers.data() + 2 * w};
    int32_t* next[3] = {buffers.data() + 3 * w, buffers.data() + 4 * w, buffers.data() + 5 * w};
    std::vector<uint8_t> scratch(source.ImageFormat() == ifRgb24 ? 0 : 3 * w);

    // An 8-bit destination is written straight into its row through its
    // converter, which is what SetPixelColor does; the stored colour is then
    // the palette entry of the index.
    TRgbToPaletteConverter* converter = destination.Converter();
    const bool byteIndexed = BitsPerPixel(destination.ImageFormat()) == 8 && converter != nullptr;
    const TLogicalPalette& palette = destination.Palette();

    for (int y = 0; y < height; ++y) {
        throwIfCancelled();
        const uint8_t* in = RowAsBgr(source, y, scratch);
        for (size_t x = 0; x < w; ++x) {
            const uint8_t* p = in + 3 * x;
            const int32_t channel[3] = {p[2], p[1], p[0]};
            for (int c = 0; c < 3; ++c) {
                current[c][x] = clampByte(next[c][x] + channel[c]);
                next[c][x] = 0;
            }
        }
        uint8_t* out = byteIndexed ? destination.RowPointer(y) : nullptr;
        // Stores pixel x and returns the colour stored.
        auto put = [&](size_t x) -> uint32_t {
            const uint32_t colour = MakeColor(uint8_t(current[0][x]), uint8_t(current[1][x]), uint8_t(current[2][x]));
            if (byteIndexed) {
                const int16_t index = converter->IndexOf(colour);
                out[x] = static_cast<uint8_t>(index);
                const TPaletteEntry& e = palette.Entries[uint8_t(index)];
                return MakeColor(e.peRed, e.peGreen, e.peBlue);
            }
            destination.SetPixelColor(int(x), y, colour);
            return destination.GetPixelColor(int(x), y);
        };

        put(0);
        for (size_t x = 1; x + 1 < w; ++x) {
            const uint32_t q = put(x);
            const int32_t stored[3] = {int32_t((q >> 16) & 255), int32_t((q >> 8) & 255), int32_t(q & 255)};
            for (int c = 0; c < 3; ++c) {
                const int32_t e = current[c][x] - stored[c];
                current[c][x + 1] = clampByte(current[c][x + 1] + (7 * e) / 16);
                next[c][x - 1] = clampByte(next[c][x - 1] + (3 * e) / 16);
                next[c][x] = clampByte(next[c][x] + (5 * e) / 16);
                next[c][x + 1] = clampByte(next[c][x + 1] + e / 16);
            }
        }
        put(w - 1);
    }
}

void TImageFormatTransform::ApplyInPlace(TDibGraphic& bitmap)
{
    if (bitmap.ImageFormat() == TargetFormat)
        return;
    TImageTransform::ApplyInPlace(bitmap);
}

void TImageFormatTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination)
{
    if (&source == &destination) {
        TImageTransform::ApplyInPlace(destination);
        return;
    }
    ReportedPercent = 255;
    Progress(0, 0, 100);

    // A palette handed to NewImage never claims more entries than the
    // format's pixels can index, nor more than the 256 it has room for.
    TLogicalPalette chosen{};
    const TLogicalPalette* palette = nullptr;
    if (TargetFormat == ifColor16 || TargetFormat == ifColor256) {
        const int colours = TargetFormat == ifColor16 ? 16 : 256;
        if (OptimizePalette)
            BuildPalette(source, TargetPalette, colours);
        else if (TargetPalette.EntryCount == 0)
            TargetPalette = DefaultPalette(TargetFormat);
        chosen = TargetPalette;
        if (chosen.EntryCount > colours) {
            chosen.EntryCount = static_cast<uint16_t>(colours);
            std::memset(chosen.Entries + colours, 0, sizeof(TPaletteEntry) * size_t(256 - colours));
        }
        palette = &chosen;
    }

    if (source.IsEmpty()) {
        // Nothing to convert: the result is empty too.
        destination.Assign(nullptr);
        Progress(100, 0, 100);
        return;
    }

    const int width = source.Width();
    const int height = source.Height();
    destination.NewImage(width, height, TargetFormat, palette, resolutionArgument(source.ResolutionX()),
                         resolutionArgument(source.ResolutionY()));

    if (UseDithering && TargetFormat != ifRgb24) {
        Dither(source, destination);
    } else if (TargetFormat == ifRgb24) {
        // Every pixel's colour exactly (its palette colour for palette sources).
        std::vector<uint8_t> scratch(source.ImageFormat() == ifRgb24 ? 0 : 3 * size_t(width));
        for (int y = 0; y < height; ++y)
            std::memcpy(destination.RowPointer(y), RowAsBgr(source, y, scratch), 3 * size_t(width));
    } else {
        // Undithered mapping onto a palette: the nearest entry of each colour.
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                destination.SetPixelColor(x, y, source.GetPixelColor(x, y));
    }
    Progress(100, 0, 100);
}
