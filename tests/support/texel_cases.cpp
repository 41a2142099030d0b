// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/texel_cases.h"

namespace texel_cases {

namespace {

TexelLayout layoutOf(TexelFormat format, int width, int height, bool dxt1Alpha = false)
{
    TexelLayout l;
    l.format = format;
    l.width = width;
    l.height = height;
    l.levels = 1;
    l.dxt1Alpha = dxt1Alpha;
    return l;
}

// `rows` of four pixels each repeated for a 4x4 block: B, G, R, A per pixel.
std::vector<uint8_t> blockPixels(const std::vector<std::vector<uint8_t>>& rows)
{
    std::vector<uint8_t> out;
    for (const auto& row : rows)
        for (int x = 0; x < 4; ++x)
            out.insert(out.end(), row.begin(), row.end());
    return out;
}

}  // namespace

std::vector<TexelCase> allCases()
{
    std::vector<TexelCase> cases;

    // B, G, R, A as stored.
    cases.push_back({"8888",
                     "32bit",
                     9,
                     layoutOf(TexelFormat::Bgra8888, 2, 1),
                     {},
                     {0x11, 0x22, 0x33, 0x44, 0xA0, 0xB0, 0xC0, 0x00},
                     {0x11, 0x22, 0x33, 0x44, 0xA0, 0xB0, 0xC0, 0x00}});
    // The fourth byte is ignored: alpha 255.
    cases.push_back({"888",
                     "24bit",
                     8,
                     layoutOf(TexelFormat::Bgrx888, 2, 1),
                     {},
                     {0x11, 0x22, 0x33, 0x99, 0x01, 0x02, 0x03, 0x00},
                     {0x11, 0x22, 0x33, 0xFF, 0x01, 0x02, 0x03, 0xFF}});
    // 0xFC10: a 1, r 31, g 0, b 16 -> B 4095/31 = 132, G 0, R 255, A 255.
    // 0x07C0: a 0, r 1, g 30, b 0 -> B 0, G 7665/31 = 247, R 270/31 = 8, A 0.
    cases.push_back({"1555",
                     "16bit 1555",
                     9,
                     layoutOf(TexelFormat::Argb1555, 2, 1),
                     {},
                     {0x10, 0xFC, 0xC0, 0x07},
                     {132, 0, 255, 255, 0, 247, 8, 0}});
    // The same values without alpha: bit 15 ignored, alpha 255.
    cases.push_back({"555",
                     "16bit 555",
                     8,
                     layoutOf(TexelFormat::Rgb555, 2, 1),
                     {},
                     {0x10, 0xFC, 0xC0, 0x07},
                     {132, 0, 255, 255, 0, 247, 8, 255}});
    // 0xFC01: r 31, g 32, b 1 -> B 270/31 = 8, G 8191/63 = 130, R 255.
    // 0x07FF: r 0, g 63, b 31 -> B 255, G 255, R 0.
    // 0x1978: r 3, g 11, b 24 -> B 6135/31 = 197, G 2836/63 = 45, R 780/31 = 25
    // (rounded: repeating the top bits would give 198, 44, 24).
    cases.push_back({"565",
                     "16bit 565",
                     9,
                     layoutOf(TexelFormat::Rgb565, 3, 1),
                     {},
                     {0x01, 0xFC, 0xFF, 0x07, 0x78, 0x19},
                     {8, 130, 255, 255, 255, 255, 0, 255, 197, 45, 25, 255}});
    // 0x8F14: a 8, r 15, g 1, b 4 -> B 68, G 17, R 255, A 136.
    // 0x0F00: a 0, r 15, g 0, b 0 -> B 0, G 0, R 255, A 0.
    cases.push_back({"4444",
                     "16bit 4444",
                     8,
                     layoutOf(TexelFormat::Argb4444, 2, 1),
                     {},
                     {0x14, 0x8F, 0x00, 0x0F},
                     {68, 17, 255, 136, 0, 0, 255, 0}});
    cases.push_back({"grey",
                     "8bit grey",
                     9,
                     layoutOf(TexelFormat::Lum8, 2, 1),
                     {},
                     {0x7F, 0x00},
                     {0x7F, 0x7F, 0x7F, 0xFF, 0, 0, 0, 0xFF}});
    {
        // Entry 5 is R 10, G 20, B 30, A 40; entry 255 R 1, G 2, B 3, A 4.
        std::vector<uint8_t> palette(1024, 0);
        palette[20] = 10, palette[21] = 20, palette[22] = 30, palette[23] = 40;
        palette[1020] = 1, palette[1021] = 2, palette[1022] = 3, palette[1023] = 4;
        cases.push_back({"8-bit palette",
                         "8bit paletted",
                         9,
                         layoutOf(TexelFormat::Paletted8, 2, 1),
                         palette,
                         {5, 255},
                         {30, 20, 10, 40, 3, 2, 1, 4}});
    }
    const std::vector<uint8_t> red = {0, 0, 255, 255}, blue = {255, 0, 0, 255}, green = {0, 255, 0, 255},
                               white = {255, 255, 255, 255};
    // colour0 0xF800 (red) > colour1 0x001F (blue): four colours, opaque.
    // Rows 0 and 1 index 0, rows 2 and 3 index 1 (0x55: 01 01 01 01).
    cases.push_back({"DXT1",
                     "DXT1",
                     9,
                     layoutOf(TexelFormat::Dxt1, 4, 4),
                     {},
                     {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x55, 0x55},
                     blockPixels({red, red, blue, blue})});
    // colour0 0x001F <= colour1 0xF800: three colours and index 3 transparent
    // black. Rows 0 and 2 index 0, rows 1 and 3 index 3 (0xFF).
    const std::vector<uint8_t> threeColourBlock = {0x1F, 0x00, 0x00, 0xF8, 0x00, 0xFF, 0x00, 0xFF};
    cases.push_back({"DXT1 with alpha",
                     "DXT1",
                     8,
                     layoutOf(TexelFormat::Dxt1, 4, 4, true),
                     {},
                     threeColourBlock,
                     blockPixels({blue, {0, 0, 0, 0}, blue, {0, 0, 0, 0}})});
    // The same block without the 1-bit alpha (a 565 raster): opaque black.
    cases.push_back({"DXT1 opaque",
                     "DXT1",
                     9,
                     layoutOf(TexelFormat::Dxt1, 4, 4),
                     {},
                     threeColourBlock,
                     blockPixels({blue, {0, 0, 0, 255}, blue, {0, 0, 0, 255}})});
    // Two blocks side by side: red on the left, blue on the right.
    {
        std::vector<uint8_t> pixels;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x)
                pixels.insert(pixels.end(), (x < 4 ? red : blue).begin(), (x < 4 ? red : blue).end());
        cases.push_back({"DXT1 two blocks",
                         "DXT1",
                         9,
                         layoutOf(TexelFormat::Dxt1, 8, 4),
                         {},
                         {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0, 0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55},
                         pixels});
    }
    // Explicit 4-bit alpha: row 0 nibbles 0, F, 8, 1 (bytes F0 18) -> 0, 255,
    // 136, 17; the other rows F. Colour white (0xFFFF) everywhere.
    {
        std::vector<uint8_t> pixels = blockPixels({white, white, white, white});
        pixels[3] = 0, pixels[7] = 255, pixels[11] = 136, pixels[15] = 17;
        cases.push_back({"DXT3",
                         "DXT3",
                         8,
                         layoutOf(TexelFormat::Dxt3, 4, 4),
                         {},
                         {0xF0, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0, 0, 0, 0},
                         pixels});
    }
    // Alpha endpoints 200 and 100; the first pixel index 1 (100), the rest
    // index 0 (200). Colour 0x07E0: pure green.
    {
        std::vector<uint8_t> pixels = blockPixels({green, green, green, green});
        for (int i = 0; i < 16; ++i)
            pixels[4 * i + 3] = i == 0 ? 100 : 200;
        cases.push_back({"DXT5",
                         "DXT5",
                         9,
                         layoutOf(TexelFormat::Dxt5, 4, 4),
                         {},
                         {200, 100, 0x01, 0, 0, 0, 0, 0, 0xE0, 0x07, 0x00, 0x00, 0, 0, 0, 0},
                         pixels});
    }
    return cases;
}

SectionedTexture textureOf(const TexelCase& c)
{
    SectionedTexture t;
    t.name = "tex " + c.label;
    t.maskName = "mask " + c.label;
    t.platform = c.platform;
    t.layout = c.layout;
    t.palette = c.palette;
    t.levels = {c.level};
    return t;
}

std::vector<uint8_t> filledLevel(TexelFormat format, int width, int height, uint8_t fill)
{
    return std::vector<uint8_t>(size_t(texelLevelBytes(format, width, height)), fill);
}

SectionedTexture mipTexture(const std::string& name, TexelFormat format, int width, int height, int levels,
                            uint32_t platform)
{
    SectionedTexture t;
    t.name = name;
    t.platform = platform;
    t.layout.format = format;
    t.layout.width = width;
    t.layout.height = height;
    t.layout.levels = levels;
    if (texelFormatIsPaletted(format))
        t.palette.assign(1024, 0x80);
    for (int k = 0; k < levels; ++k)
        t.levels.push_back(filledLevel(format, mipLevelSize(width, k), mipLevelSize(height, k), uint8_t(0x10 + k)));
    return t;
}

}  // namespace texel_cases
