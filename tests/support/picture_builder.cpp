// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/picture_builder.h"

#include <algorithm>
#include <cmath>

std::unique_ptr<TDibGraphic> MakeRgb24Picture(int width, int height,
                                              const std::function<uint32_t(int x, int y)>& colourAt)
{
    auto picture = std::make_unique<TDibGraphic>();
    picture->NewImage(width, height, ifRgb24, nullptr, 96, 96);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->RowPointer(y);
        for (int x = 0; x < width; ++x) {
            const uint32_t c = colourAt(x, y);
            row[3 * x] = uint8_t(c);
            row[3 * x + 1] = uint8_t(c >> 8);
            row[3 * x + 2] = uint8_t(c >> 16);
        }
    }
    return picture;
}

std::unique_ptr<TDibGraphic> MakeIndexedPicture(int width, int height, TImageFormat format,
                                                const TLogicalPalette& palette,
                                                const std::function<int(int x, int y)>& indexAt)
{
    auto picture = std::make_unique<TDibGraphic>();
    picture->NewImage(width, height, format, &palette, 96, 96);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture->SetPixelIndex(x, y, indexAt(x, y));
    return picture;
}

TLogicalPalette MakeGreyPalette(std::initializer_list<int> levels)
{
    TLogicalPalette p{};
    p.Version = 0x300;
    int i = 0;
    for (int level : levels) {
        p.Entries[i] = {uint8_t(level), uint8_t(level), uint8_t(level), 0};
        ++i;
    }
    p.EntryCount = uint16_t(i);
    return p;
}

std::unique_ptr<TDibGraphic> MakePhotoLikePicture(int width, int height, uint32_t seed)
{
    uint32_t state = seed * 2654435761u + 12345u;
    auto noise = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return int(state % 9) - 4;  // -4..4
    };
    const double w = std::max(width, 1), h = std::max(height, 1);
    const double phase = (seed % 97) * 0.1;
    return MakeRgb24Picture(width, height, [&](int x, int y) {
        const double u = x / w, v = y / h;
        // Sky-to-ground gradient with a slow colour wave.
        double r = 40 + 150 * v + 30 * std::sin(6.0 * u + phase);
        double g = 90 + 80 * (1 - v) + 25 * std::cos(5.0 * v + 3.0 * u);
        double b = 200 - 140 * v + 20 * std::sin(9.0 * u * v + phase);
        // A soft sun and a darker round shape.
        const double sun = std::exp(-((u - 0.7) * (u - 0.7) + (v - 0.25) * (v - 0.25)) * 40.0);
        r += 90 * sun;
        g += 80 * sun;
        b += 20 * sun;
        const double d = std::hypot(u - 0.3, v - 0.65);
        const double shade = 1.0 / (1.0 + std::exp((d - 0.18) * 60.0));
        r -= 70 * shade;
        g -= 30 * shade;
        b -= 60 * shade;
        auto channel = [&](double value) { return uint32_t(std::clamp(int(std::lround(value)) + noise(), 0, 255)); };
        const uint32_t red = channel(r), green = channel(g), blue = channel(b);
        return (red << 16) | (green << 8) | blue;
    });
}
