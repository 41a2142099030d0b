// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/archive_sample.h"

#include "platform/byte_order.h"
#include "platform/exceptions.h"


#include <algorithm>
#include <cmath>
#include <cstring>

namespace archive_sample {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Fully saturated colour of a hue in 0..1535 (six ramps of 256 steps:
// red, yellow, green, cyan, blue, magenta, back to red).
Rgba hueColour(int hue)
{
    hue = ((hue % 1536) + 1536) % 1536;
    const auto up = static_cast<uint8_t>(hue % 256);
    const auto down = static_cast<uint8_t>(255 - hue % 256);
    switch (hue / 256) {
    case 0: return {255, up, 0, 255};
    case 1: return {down, 255, 0, 255};
    case 2: return {0, 255, up, 255};
    case 3: return {0, down, 255, 255};
    case 4: return {up, 0, 255, 255};
    default: return {255, 0, down, 255};
    }
}

uint8_t mix8(int a, int b, int t, int scale)
{
    return static_cast<uint8_t>(a + (b - a) * t / scale);
}

Rgba mix(Rgba a, Rgba b, int t, int scale)
{
    return {mix8(a.r, b.r, t, scale), mix8(a.g, b.g, t, scale), mix8(a.b, b.b, t, scale), mix8(a.a, b.a, t, scale)};
}

// Hue (0..1535) of the direction from the centre, 0 pointing right.
int hueOfDirection(double dx, double dy)
{
    double angle = std::atan2(-dy, dx);
    if (angle < 0)
        angle += 2 * kPi;
    return static_cast<int>(angle / (2 * kPi) * 1536.0) % 1536;
}

void appendFloat(std::vector<uint8_t>& out, float f)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    appendLe32(out, bits);
}

void appendText(std::vector<uint8_t>& out, const std::string& s)
{
    out.insert(out.end(), s.begin(), s.end());
}

// A closed cylinder as a little model file of our own making: a tag, counts,
// float x/y/z vertices and 16-bit triangle indices.
std::vector<uint8_t> barrelModel()
{
    const int segments = 16;
    std::vector<uint8_t> out;
    appendText(out, "QXMODEL1");
    const uint32_t vertices = 2 * segments + 2;
    const uint32_t triangles = 4 * segments;
    appendLe32(out, vertices);
    appendLe32(out, triangles);
    for (int ring = 0; ring < 2; ++ring)
        for (int s = 0; s < segments; ++s) {
            const double a = 2 * kPi * s / segments;
            appendFloat(out, static_cast<float>(0.5 * std::cos(a)));
            appendFloat(out, static_cast<float>(0.5 * std::sin(a)));
            appendFloat(out, ring == 0 ? 0.0f : 1.2f);
        }
    for (float z : {0.0f, 1.2f}) {
        appendFloat(out, 0.0f);
        appendFloat(out, 0.0f);
        appendFloat(out, z);
    }
    const auto bottomCentre = static_cast<uint16_t>(2 * segments);
    const auto topCentre = static_cast<uint16_t>(2 * segments + 1);
    for (int s = 0; s < segments; ++s) {
        const auto a = static_cast<uint16_t>(s);
        const auto b = static_cast<uint16_t>((s + 1) % segments);
        const auto c = static_cast<uint16_t>(a + segments);
        const auto d = static_cast<uint16_t>(b + segments);
        for (uint16_t i : {a, b, c, b, d, c, bottomCentre, b, a, topCentre, c, d})
            appendLe16(out, i);
    }
    return out;
}

// A collision shape file of our own making: a tag, a bounding sphere and a box.
std::vector<uint8_t> barrelCollision()
{
    std::vector<uint8_t> out;
    appendText(out, "QXCOLL01");
    appendText(out, std::string("barrel\0\0\0\0\0\0\0\0\0\0", 16));
    for (float f : {0.0f, 0.0f, 0.6f, 0.78f})  // sphere centre and radius
        appendFloat(out, f);
    for (float f : {-0.5f, -0.5f, 0.0f, 0.5f, 0.5f, 1.2f})  // box corners
        appendFloat(out, f);
    return out;
}

std::vector<uint8_t> readme()
{
    std::vector<uint8_t> out;
    appendText(out, "Quarnix sample archive.\r\n"
                    "Generic.txd, Landscape.TXD and menu.txd are texture dictionaries holding\r\n"
                    "8-bit paletted, 16-bit and 32-bit textures; Layouts.txd is a sectioned\r\n"
                    "dictionary with a texture of every texel layout, several with mip levels;\r\n"
                    "barrel.DFF and barrel.col are other entries that are not dictionaries.\r\n");
    return out;
}

}  // namespace

std::vector<Rgba> colourWheel(int size)
{
    std::vector<Rgba> px;
    px.reserve(static_cast<size_t>(size) * size);
    const double c = (size - 1) / 2.0;
    const double radius = size / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double dx = x - c, dy = y - c;
            const double r = std::sqrt(dx * dx + dy * dy);
            if (r > radius) {
                px.push_back({0, 0, 0, 0});
                continue;
            }
            // White in the middle, full colour at the rim.
            const int t = static_cast<int>(r / radius * 256.0);
            px.push_back(mix({255, 255, 255, 255}, hueColour(hueOfDirection(dx, dy)), std::min(t, 256), 256));
        }
    return px;
}

std::vector<Rgba> checkerboard(int width, int height, int cell, Rgba a, Rgba b)
{
    std::vector<Rgba> px;
    px.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px.push_back(((x / cell) + (y / cell)) % 2 == 0 ? a : b);
    return px;
}

std::vector<Rgba> gradient(int width, int height)
{
    std::vector<Rgba> px;
    px.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto r = static_cast<uint8_t>(width > 1 ? x * 255 / (width - 1) : 0);
            const auto g = static_cast<uint8_t>(height > 1 ? y * 255 / (height - 1) : 0);
            px.push_back({r, g, static_cast<uint8_t>(255 - r), 255});
        }
    return px;
}

std::vector<Rgba> sunset(int width, int height)
{
    std::vector<Rgba> px;
    px.reserve(static_cast<size_t>(width) * height);
    const int horizon = height * 5 / 8;
    const int sunX = width * 7 / 10, sunY = horizon - height / 16, sunR = height / 5;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (y < horizon) {
                const int dx = x - sunX, dy = y - sunY;
                const int d2 = dx * dx + dy * dy;
                if (d2 <= sunR * sunR) {
                    px.push_back(mix({255, 250, 160, 255}, {255, 170, 40, 255}, y - (sunY - sunR), 2 * sunR));
                    continue;
                }
                // Deep violet at the top to orange at the horizon, with a glow around the sun.
                Rgba sky = mix({40, 20, 90, 255}, {250, 120, 60, 255}, y, horizon);
                const int glow = std::max(0, 255 - static_cast<int>(std::sqrt(double(d2)) - sunR) * 4);
                sky = mix(sky, {255, 200, 90, 255}, glow, 512);
                px.push_back(sky);
            } else {
                // Fields in furrows that widen towards the viewer.
                const int depth = y - horizon + 1;
                const int furrow = ((x - width / 2) * 8 / (depth + 4) + 64) % 2;
                const Rgba near = furrow ? Rgba{40, 110, 30, 255} : Rgba{70, 150, 40, 255};
                px.push_back(mix({30, 40, 60, 255}, near, depth, height - horizon));
            }
        }
    return px;
}

std::vector<Rgba> plasma(int width, int height)
{
    std::vector<Rgba> px;
    px.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double v =
                std::sin(x / 9.0) + std::sin(y / 7.0) + std::sin((x + y) / 13.0)
                + std::sin(std::sqrt(double((x - width / 2) * (x - width / 2) + (y - height / 2) * (y - height / 2)))
                           / 6.0);
            px.push_back(hueColour(static_cast<int>((v + 4.0) * 384.0)));
        }
    return px;
}

std::vector<Rgba> bricks(int width, int height)
{
    std::vector<Rgba> px;
    px.reserve(static_cast<size_t>(width) * height);
    const int bw = 16, bh = 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int row = y / bh;
            const int xs = x + (row % 2) * (bw / 2);
            const bool mortar = y % bh == 0 || xs % bw == 0;
            if (mortar) {
                px.push_back({200, 200, 190, 255});
            } else {
                const int shade = ((xs / bw) * 37 + row * 11) % 5;
                px.push_back({static_cast<uint8_t>(150 + shade * 15), static_cast<uint8_t>(50 + shade * 6), 40, 255});
            }
        }
    return px;
}

std::vector<Rgba> rainbowStripes(int width, int height, int stripe)
{
    static const Rgba bands[] = {{228, 3, 3, 255},  {255, 140, 0, 255}, {255, 237, 0, 255},
                                 {0, 128, 38, 255}, {0, 77, 255, 255},  {117, 7, 135, 255}};
    std::vector<Rgba> px;
    px.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px.push_back(bands[((x + y) / stripe) % 6]);
    return px;
}

IndexedPicture indexedColourWheel(int size)
{
    IndexedPicture p;
    p.palette.push_back({0, 0, 0, 0});  // background
    for (int i = 0; i < 255; ++i)
        p.palette.push_back(hueColour(i * 1536 / 255));
    const double c = (size - 1) / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double dx = x - c, dy = y - c;
            if (std::sqrt(dx * dx + dy * dy) > size / 2.0)
                p.indices.push_back(0);
            else
                p.indices.push_back(static_cast<uint8_t>(1 + hueOfDirection(dx, dy) * 255 / 1536));
        }
    return p;
}

IndexedPicture indexedRings(int width, int height)
{
    IndexedPicture p;
    for (int i = 0; i < 12; ++i)
        p.palette.push_back(hueColour(i * 128));
    p.palette.push_back({255, 255, 255, 255});  // index 12: bull's eye
    const int cx = width / 2, cy = height / 2;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int d = static_cast<int>(std::sqrt(double((x - cx) * (x - cx) + (y - cy) * (y - cy))));
            p.indices.push_back(static_cast<uint8_t>(d < 3 ? 12 : (d / 3) % 12));
        }
    return p;
}

IndexedPicture indexedMandelbrot(int width, int height)
{
    IndexedPicture p;
    p.palette.push_back({0, 0, 0, 255});  // inside the set
    for (int i = 1; i < 256; ++i) {
        Rgba c = hueColour(900 + i * 12);
        p.palette.push_back(mix({0, 0, 60, 255}, c, std::min(i * 40, 255), 255));
    }
    // Fixed-point (16.16) iteration over x in [-2.2, 0.8], y in [-1.2, 1.2].
    constexpr int64_t one = 1 << 16;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int64_t cr = -22 * one / 10 + x * (30 * one / 10) / width;
            const int64_t ci = -12 * one / 10 + y * (24 * one / 10) / height;
            int64_t zr = 0, zi = 0;
            int n = 0;
            while (n < 255) {
                const int64_t zr2 = zr * zr / one, zi2 = zi * zi / one;
                if (zr2 + zi2 > 4 * one)
                    break;
                zi = 2 * zr * zi / one + ci;
                zr = zr2 - zi2 + cr;
                ++n;
            }
            p.indices.push_back(static_cast<uint8_t>(n == 255 ? 0 : n + 1));
        }
    return p;
}

IndexedPicture indexedButton(int width, int height)
{
    IndexedPicture p;
    p.palette.push_back({0, 0, 0, 0});       // 0 outside the corners
    p.palette.push_back({20, 40, 20, 255});  // 1 border
    for (int i = 0; i < 32; ++i)             // 2..33 face gradient, light to dark green
        p.palette.push_back(mix({180, 255, 160, 255}, {20, 120, 30, 255}, i, 31));
    const int r = std::min(width, height) / 4;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Distance into the rounded corner region, if any.
            const int qx = x < r ? r - x : x >= width - r ? x - (width - 1 - r) : 0;
            const int qy = y < r ? r - y : y >= height - r ? y - (height - 1 - r) : 0;
            const int q2 = qx * qx + qy * qy;
            if (q2 > r * r)
                p.indices.push_back(0);
            else if (q2 > (r - 1) * (r - 1) || x == 0 || y == 0 || x == width - 1 || y == height - 1)
                p.indices.push_back(1);
            else
                p.indices.push_back(static_cast<uint8_t>(2 + y * 31 / std::max(1, height - 1)));
        }
    return p;
}

IndexedPicture indexedChecker(int width, int height, int cell)
{
    IndexedPicture p;
    p.palette = {{255, 0, 128, 255}, {0, 220, 255, 255}, {255, 230, 0, 255}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.indices.push_back(static_cast<uint8_t>(((x / cell) + (y / cell)) % 3));
    return p;
}

namespace {

TextureRecord indexed(const std::string& name, const std::string& mask, int w, int h, const IndexedPicture& p)
{
    return makeTexturePaletted8(name, mask, static_cast<uint16_t>(w), static_cast<uint16_t>(h), p.palette, p.indices);
}

TextureRecord true32(const std::string& name, const std::string& mask, int w, int h, const std::vector<Rgba>& px)
{
    return makeTexture32(name, mask, static_cast<uint16_t>(w), static_cast<uint16_t>(h), px);
}

TextureRecord high16(const std::string& name, const std::string& mask, int w, int h, const std::vector<Rgba>& px)
{
    return makeTexture16(name, mask, static_cast<uint16_t>(w), static_cast<uint16_t>(h), px);
}

}  // namespace

std::vector<std::pair<std::string, TextureDictionary>> sampleArchiveDictionaries()
{
    std::vector<std::pair<std::string, TextureDictionary>> out;

    TextureDictionary generic;
    generic.textures.push_back(indexed("ColourWheel", "ColourWheelA", 64, 64, indexedColourWheel(64)));
    generic.textures.push_back(
        true32("checker", "", 32, 32, checkerboard(32, 32, 4, {255, 64, 0, 255}, {20, 20, 20, 255})));
    generic.textures.push_back(high16("Gradient16", "", 64, 32, gradient(64, 32)));
    out.emplace_back("Generic.txd", std::move(generic));

    TextureDictionary landscape;
    landscape.textures.push_back(true32("SunsetSky", "", 256, 128, sunset(256, 128)));
    landscape.textures.push_back(indexed("mandel", "", 128, 64, indexedMandelbrot(128, 64)));
    landscape.textures.push_back(high16("Bricks", "bricksM", 64, 64, bricks(64, 64)));
    landscape.textures.push_back(true32("plasma", "", 64, 128, plasma(64, 128)));
    out.emplace_back("Landscape.TXD", std::move(landscape));

    TextureDictionary menu;
    menu.textures.push_back(indexed("Button_OK", "Button_OKa", 48, 16, indexedButton(48, 16)));
    menu.textures.push_back(true32("cursorWheel", "", 16, 16, colourWheel(16)));
    menu.textures.push_back(high16("STRIPES", "", 32, 32, rainbowStripes(32, 32, 4)));
    out.emplace_back("menu.txd", std::move(menu));
    return out;
}

TextureDictionary sampleStandaloneDictionary()
{
    TextureDictionary d;
    d.textures.push_back(true32("Wheel", "WheelAlpha", 128, 128, colourWheel(128)));
    d.textures.push_back(indexed("Target", "", 64, 64, indexedRings(64, 64)));
    d.textures.push_back(high16("rainbow", "", 128, 32, rainbowStripes(128, 32, 8)));
    d.textures.push_back(indexed("Checks", "", 16, 16, indexedChecker(16, 16, 2)));
    d.textures.push_back(true32("Gradient", "", 32, 64, gradient(32, 64)));
    return d;
}

namespace {

// One level of the layout's format from pixels (top row first), encoded as
// an import encodes it.
std::vector<uint8_t> encodeSampleLevel(const TexelLayout& layout, int w, int h, const std::vector<Rgba>& px)
{
    std::vector<uint8_t> bgra;
    bgra.reserve(px.size() * 4);
    for (const Rgba& c : px)
        bgra.insert(bgra.end(), {c.b, c.g, c.r, c.a});
    std::vector<uint8_t> out(size_t(texelLevelBytes(layout.format, w, h)));
    encodeTexelLevel(layout, bgra.data(), w, h, out.data());
    return out;
}

using Generator = std::vector<Rgba> (*)(int, int);

// A texture of `format` whose level k is the picture drawn at that level's size.
SectionedTexture sampleTexture(const std::string& name, uint32_t platform, TexelFormat format, bool dxt1Alpha, int w,
                               int h, int levels, Generator draw)
{
    SectionedTexture t;
    t.name = name;
    t.platform = platform;
    t.layout.format = format;
    t.layout.dxt1Alpha = dxt1Alpha;
    t.layout.width = w;
    t.layout.height = h;
    t.layout.levels = levels;
    for (int k = 0; k < levels; ++k) {
        const int lw = mipLevelSize(w, k), lh = mipLevelSize(h, k);
        t.levels.push_back(encodeSampleLevel(t.layout, lw, lh, draw(lw, lh)));
    }
    return t;
}

std::vector<Rgba> wheel(int w, int)
{
    return colourWheel(w);
}
std::vector<Rgba> checks(int w, int h)
{
    return checkerboard(w, h, std::max(1, w / 8), {250, 250, 250, 255}, {200, 30, 40, 255});
}
std::vector<Rgba> stripes(int w, int h)
{
    return rainbowStripes(w, h, std::max(1, w / 12));
}

// The sunset with its sky fading out towards the top.
std::vector<Rgba> fadingSunset(int w, int h)
{
    std::vector<Rgba> px = sunset(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[size_t(y) * w + x].a = uint8_t(std::min(255, 64 + y * 384 / std::max(1, h)));
    return px;
}

}  // namespace

const char* const kSampleSectionedName = "Layouts.txd";

SectionedDictionary sampleSectionedDictionary()
{
    SectionedDictionary d;
    d.device = 9;  // beside the 16-bit count, as newer files have it
    {
        SectionedTexture t;
        t.name = "wheel_P8";
        t.maskName = "wheel_P8a";
        t.platform = 9;
        t.layout = {TexelFormat::Paletted8, false, 64, 64, 4};
        const IndexedPicture first = indexedColourWheel(64);
        for (const Rgba& c : first.palette)
            t.palette.insert(t.palette.end(), {c.r, c.g, c.b, c.a});
        t.palette.resize(1024, 0);
        for (int k = 0; k < 4; ++k)
            t.levels.push_back(indexedColourWheel(64 >> k).indices);
        d.textures.push_back(t);
    }
    d.textures.push_back(sampleTexture("sunset_8888", 9, TexelFormat::Bgra8888, false, 128, 64, 3, sunset));
    d.textures.push_back(sampleTexture("plasma_888", 8, TexelFormat::Bgrx888, false, 64, 64, 1, plasma));
    d.textures.push_back(sampleTexture("wheel_1555", 9, TexelFormat::Argb1555, false, 64, 64, 1, wheel));
    d.textures.push_back(sampleTexture("bricks_555", 8, TexelFormat::Rgb555, false, 64, 64, 2, bricks));
    d.textures.push_back(sampleTexture("gradient_565", 9, TexelFormat::Rgb565, false, 64, 64, 4, gradient));
    d.textures.push_back(sampleTexture("wheel_4444", 8, TexelFormat::Argb4444, false, 64, 64, 1, wheel));
    d.textures.push_back(sampleTexture("plasma_grey", 9, TexelFormat::Lum8, false, 64, 64, 3, plasma));
    d.textures.push_back(sampleTexture("checker_DXT1", 9, TexelFormat::Dxt1, false, 64, 64, 4, checks));
    d.textures.push_back(sampleTexture("wheel_DXT1a", 8, TexelFormat::Dxt1, true, 64, 64, 1, wheel));
    d.textures.push_back(sampleTexture("stripes_DXT3", 8, TexelFormat::Dxt3, false, 64, 32, 2, stripes));
    d.textures.push_back(sampleTexture("sunset_DXT5", 9, TexelFormat::Dxt5, false, 256, 128, 5, fadingSunset));
    d.textures.back().maskName = "sunset_DXT5a";
    return d;
}

std::vector<ArchiveItem> sampleArchiveItems()
{
    const auto dicts = sampleArchiveDictionaries();
    std::vector<ArchiveItem> items;
    items.push_back({dicts[0].first, buildTextureDictionary(dicts[0].second)});
    items.push_back({"barrel.DFF", barrelModel()});
    items.push_back({"barrel.col", barrelCollision()});
    items.push_back({dicts[1].first, buildTextureDictionary(dicts[1].second)});
    items.push_back({"ReadMe.txt", readme()});
    items.push_back({dicts[2].first, buildTextureDictionary(dicts[2].second)});
    items.push_back({kSampleSectionedName, buildSectionedDictionary(sampleSectionedDictionary())});
    return items;
}

std::vector<std::string> writeSampleFiles(const std::string& folder)
{
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    const std::vector<std::string> paths = {base + "sample.dir", base + "sample.img", base + "sample.txd"};
    writeArchive(paths[0], paths[1], sampleArchiveItems());
    writeFileBytes(paths[2], buildTextureDictionary(sampleStandaloneDictionary()));
    return paths;
}

}  // namespace archive_sample
