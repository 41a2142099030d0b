// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// PNG fixtures written with libpng's own writer, in memory.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace png_fixture {

// Colour types and interlace as libpng numbers them.
enum ColorType { Grey = 0, Rgb = 2, Palette = 3, GreyAlpha = 4, RgbAlpha = 6 };

struct Rgb8 {
    uint8_t red, green, blue;
};

struct Background {  // bKGD in the file's own terms
    uint8_t index = 0;
    uint16_t red = 0, green = 0, blue = 0, gray = 0;
};

struct Phys {
    uint32_t x = 0, y = 0;
    int unit = 1;  // 1 = pixels per metre
};

struct PngRecipe {
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    ColorType colorType = Grey;
    bool interlaced = false;
    // One sample value per channel per pixel, rows top-down, channel order as
    // in the file (grey; grey, alpha; red, green, blue[, alpha]; index).
    // Values are at the file's bit depth (0..65535 for 16 bits).
    std::vector<std::vector<int>> rows;
    std::vector<Rgb8> palette;
    std::vector<uint8_t> paletteAlpha;        // tRNS of a palette image
    std::optional<uint16_t> transparentGrey;  // tRNS of a grey image
    std::optional<int> srgbIntent;
    std::optional<double> gamma;
    std::optional<Background> background;
    std::optional<Phys> phys;
    std::optional<std::string> text;  // one tEXt chunk, keyword "Comment"
};

// Throws std::runtime_error with libpng's message when the writer refuses.
std::vector<uint8_t> writePng(const PngRecipe& recipe);

// Damages the CRC of the first chunk of that type (for example "tEXt").
void corruptChunkCrc(std::vector<uint8_t>& file, const char type[4]);

// Rewrites the size in the IHDR chunk (with a valid CRC), leaving the image
// data as it is.
void setImageSize(std::vector<uint8_t>& file, uint32_t width, uint32_t height);

// A width x height picture whose sample values follow a simple pattern:
// value(x, y, channel) = (x * 37 + y * 11 + channel * 5) mod (1 << bitDepth).
std::vector<std::vector<int>> patternRows(int width, int height, int channels, int bitDepth);

}  // namespace png_fixture
