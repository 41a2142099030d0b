// SPDX-License-Identifier: GPL-2.0-or-later
// The transform base class and the small whole-bitmap transforms: vertical
// flip, anti-aliasing of black-and-white pictures, negative and crop.
#include "imaging/transforms.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------------------
// TImageTransform

void TImageTransform::ApplyInPlace(TDibGraphic& bitmap)
{
    TDibGraphic result;
    ApplyOnDest(bitmap, result);
    bitmap.Assign(&result);
}

void TImageTransform::ApplyOnDest(const TDibGraphic&, TDibGraphic&)
{
    throw ETavrinError(formatMessage("Method %s not implemented for %s class", {"\"ApplyOnDest\"", ClassName()}));
}

int TImageTransform::Progress(int position, int minimum, int maximum)
{
    if (!ProgressCallback)
        return 0;
    // An empty range counts as done.
    int percent = 100;
    const int64_t range = int64_t(maximum) - minimum;
    if (range != 0)
        percent = int(std::clamp<int64_t>((int64_t(position) - minimum) * 100 / range, 0, 100));
    if (percent != ReportedPercent) {
        ReportedPercent = uint8_t(percent);
        ProgressCallback(*this, percent);
    }
    return percent;
}

namespace {

// A resolution of 0 stays 0 only through the SetResolution calls after NewImage.
void newImageLike(TDibGraphic& destination, const TDibGraphic& source, int width, int height,
                  const TLogicalPalette* palette)
{
    destination.NewImage(width, height, source.ImageFormat(), palette, resolutionArgument(source.ResolutionX()),
                         resolutionArgument(source.ResolutionY()));
    destination.SetResolutionX(source.ResolutionX());
    destination.SetResolutionY(source.ResolutionY());
}

}  // namespace

// ---------------------------------------------------------------------------
// TFlipVerticalTransform

void TFlipVerticalTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination)
{
    ReportedPercent = 255;
    Progress(0, 0, 100);
    const int h = source.Height();
    if (h < 2) {
        destination.Assign(&source);
    } else {
        newImageLike(destination, source, source.Width(), h, &source.Palette());
        // Whole rows at once: the same pixels, palette indices and padding as
        // copying pixel by pixel, without the per-pixel cost.
        const size_t stride = size_t(source.RowStride());
        for (int y = 0; y < h; ++y) {
            std::memcpy(destination.RowPointer(h - 1 - y), source.RowPointer(y), stride);
            Progress(y, 0, h - 1);
        }
    }
    Progress(100, 0, 100);
}

void TFlipVerticalTransform::ApplyInPlace(TDibGraphic& bitmap)
{
    ReportedPercent = 255;
    Progress(0, 0, 100);
    // Like the flipped copy, which starts with none: nothing keeps an alpha
    // plane in step with the pixels.
    bitmap.AlphaPlane.clear();
    const int h = bitmap.Height();
    if (h >= 2) {
        const size_t stride = size_t(bitmap.RowStride());
        std::vector<uint8_t> row(stride);
        for (int y = 0; y < h; ++y) {
            if (y < h / 2) {
                uint8_t* top = bitmap.RowPointer(y);
                uint8_t* bottom = bitmap.RowPointer(h - 1 - y);
                std::memcpy(row.data(), top, stride);
                std::memcpy(top, bottom, stride);
                std::memcpy(bottom, row.data(), stride);
            }
            Progress(y, 0, h - 1);
        }
    }
    Progress(100, 0, 100);
}

// ---------------------------------------------------------------------------
// TAntiAliasTransform

namespace {

// Four result levels for the upper nibble t and the lower nibble b, indexed
// by t * 16 + b and packed as two bytes of 4-bit pixels (pixels 0,1 then 2,3).
struct AntiAliasTable {
    std::array<std::array<uint8_t, 2>, 256> entry{};

    AntiAliasTable()
    {
        // round(3.75 * n) and round(7.5 * n), ties to even.
        static const uint8_t pairLevel[5] = {0, 4, 8, 11, 15};
        static const uint8_t edgeLevel[3] = {0, 8, 15};
        for (int t = 0; t < 16; ++t)
            for (int b = 0; b < 16; ++b) {
                auto bit = [](int nibble, int k) { return (nibble >> (3 - k)) & 1; };
                uint8_t level[4];
                for (int k = 0; k < 3; ++k)
                    level[k] = pairLevel[bit(t, k) + bit(t, k + 1) + bit(b, k) + bit(b, k + 1)];
                level[3] = edgeLevel[bit(t, 3) + bit(b, 3)];
                entry[size_t(t * 16 + b)] = {uint8_t(level[0] << 4 | level[1]), uint8_t(level[2] << 4 | level[3])};
            }
    }
};

const AntiAliasTable& antiAliasTable()
{
    static const AntiAliasTable table;
    return table;
}
[[maybe_unused]] const AntiAliasTable& g_antiAliasTableAtStartup = antiAliasTable();

}  // namespace

void TAntiAliasTransform::ApplyInPlace(TDibGraphic& bitmap)
{
    if (bitmap.ImageFormat() == ifMonochrome && !bitmap.IsEmpty())
        TImageTransform::ApplyInPlace(bitmap);
}

void TAntiAliasTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination)
{
    ReportedPercent = 255;
    Progress(0, 0, 100);
    if (source.ImageFormat() != ifMonochrome || source.IsEmpty()) {
        destination.Assign(&source);
        Progress(100, 0, 100);
        return;
    }
    const int w = source.Width(), h = source.Height();
    destination.NewImage(w, h, ifGrayscale16, nullptr, resolutionArgument(source.ResolutionX()),
                         resolutionArgument(source.ResolutionY()));
    destination.SetResolutionX(source.ResolutionX());
    destination.SetResolutionY(source.ResolutionY());

    const auto& table = antiAliasTable().entry;
    const int bytes = (w + 7) / 8;
    // Bits beyond the width count as black, so the padding never shows.
    const int rem = w % 8;
    const uint8_t lastMask = rem ? uint8_t(0xFF << (8 - rem)) : uint8_t(0xFF);
    for (int y = 0; y < h; ++y) {
        const uint8_t* top = source.RowPointer(y);
        const uint8_t* bottom = source.RowPointer(y + 1 < h ? y + 1 : y);
        uint8_t* out = destination.RowPointer(y);
        for (int i = 0; i < bytes; ++i) {
            uint8_t t = top[i], b = bottom[i];
            if (i == bytes - 1) {
                t &= lastMask;
                b &= lastMask;
            }
            const auto& hi = table[size_t((t >> 4) * 16 + (b >> 4))];
            const auto& lo = table[size_t((t & 0x0F) * 16 + (b & 0x0F))];
            out[i * 4 + 0] = hi[0];
            out[i * 4 + 1] = hi[1];
            out[i * 4 + 2] = lo[0];
            out[i * 4 + 3] = lo[1];
        }
        // Levels computed for the padding pixels of the last byte are cleared.
        const int64_t used = (int64_t(w) * 4 + 7) / 8;
        std::memset(out + used, 0, size_t(destination.RowStride() - used));
        if (w & 1)
            out[used - 1] &= 0xF0;
        Progress(y, 0, h - 1);
    }
    Progress(100, 0, 100);
}

// ---------------------------------------------------------------------------
// TNegativeTransform

void TNegativeTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination)
{
    ReportedPercent = 255;
    Progress(0, 0, 100);
    if (source.IsEmpty()) {
        destination.Assign(&source);
        Progress(100, 0, 100);
        return;
    }
    const TImageFormat format = source.ImageFormat();
    const bool invertPalette = format == ifColor16 || format == ifColor256;
    TLogicalPalette palette = source.Palette();
    if (invertPalette)
        for (int i = 0; i < std::min<int>(palette.EntryCount, 256); ++i) {
            palette.Entries[i].peRed = uint8_t(~palette.Entries[i].peRed);
            palette.Entries[i].peGreen = uint8_t(~palette.Entries[i].peGreen);
            palette.Entries[i].peBlue = uint8_t(~palette.Entries[i].peBlue);
        }
    const int w = source.Width(), h = source.Height();
    newImageLike(destination, source, w, h, &palette);

    const int64_t bits = int64_t(w) * BitsPerPixel(format);
    const size_t bytes = size_t((bits + 7) / 8);
    const int rem = int(bits % 8);
    const uint8_t lastMask = rem ? uint8_t(0xFF << (8 - rem)) : uint8_t(0xFF);
    const size_t stride = size_t(source.RowStride());
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = source.RowPointer(y);
        uint8_t* d = destination.RowPointer(y);
        if (invertPalette) {
            std::memcpy(d, s, stride);
        } else {
            for (size_t i = 0; i < bytes; ++i)
                d[i] = uint8_t(~s[i]);
            d[bytes - 1] &= lastMask;
        }
        Progress(y, 0, h - 1);
    }
    Progress(100, 0, 100);
}

// ---------------------------------------------------------------------------
// TCropTransform

void TCropTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination)
{
    ReportedPercent = 255;
    Progress(0, 0, 100);
    if (Left == 0 && Top == 0 && Right == 0 && Bottom == 0) {
        destination.Assign(&source);
        Progress(100, 0, 100);
        return;
    }
    const int64_t w = int64_t(source.Width()) - Left - Right;
    const int64_t h = int64_t(source.Height()) - Top - Bottom;
    if (source.IsEmpty() || Left < 0 || Top < 0 || Right < 0 || Bottom < 0 || w <= 0 || h <= 0)
        throw ETavrinError("Invalid crop parameters");

    newImageLike(destination, source, int(w), int(h), &source.Palette());
    const TImageFormat format = source.ImageFormat();
    const int bpp = BitsPerPixel(format);
    for (int y = 0; y < int(h); ++y) {
        const uint8_t* s = source.RowPointer(Top + y);
        uint8_t* d = destination.RowPointer(y);
        if (bpp >= 8) {
            const size_t pixelBytes = size_t(bpp / 8);
            std::memcpy(d, s + size_t(Left) * pixelBytes, size_t(w) * pixelBytes);
        } else {
            for (int x = 0; x < int(w); ++x)
                destination.SetPixelIndex(x, y, source.GetPixelIndex(Left + x, Top + y));
        }
        Progress(y, 0, int(h) - 1);
    }
    Progress(100, 0, 100);
}
