// SPDX-License-Identifier: GPL-2.0-or-later
// The DXT encoder's two qualities against plain cluster fit (libsquish, as
// the import used it before) and stb_dxt alone, on one set of pictures at
// 256 x 256 and at 1024 x 1024: photo-like textures, gradients, noise,
// hard-edged drawings and cut-outs with alpha, built in code, and, where
// ImageMagick's `convert` is at hand, its built-in pictures scaled to size.
//
// Opaque pictures are encoded as DXT1, cut-outs as DXT5; the colour PSNR of
// a picture is over every pixel's R, G and B, decoded as the dictionaries'
// reader decodes. Reported (once, before the timings): each picture's PSNR
// per encoder, the mean over each set, the worst picture's difference to
// cluster fit, the cut-outs' alpha PSNR, and the cut-outs as DXT1 with
// 1-bit alpha (colour over the opaque pixels; pixels whose transparency
// bit came out wrong). Timed: million pixels a second over the 256 x 256
// set on one core.
//
// Goals: Fast's mean PSNR at least cluster fit's - 0.1 dB on each set, no
// picture more than 0.3 dB below it, and at least 20 times its speed.
#include "formats/dxt_encoder.h"
#include "formats/texel_layout.h"

#include <squish.h>
#include <stb_dxt.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Pictures

struct Picture {
    std::string name;
    int side = 0;
    bool cutOut = false;
    std::vector<uint8_t> bgra;  // side x side pixels of B, G, R, A
};

uint32_t hash(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    return h ^ (h >> 15);
}

double lattice(int x, int y, uint32_t seed)
{
    return (hash(uint32_t(x), uint32_t(y), seed) & 0xFFFFFF) / double(0x1000000);
}

// Smooth value noise in [0, 1).
double valueNoise(double x, double y, uint32_t seed)
{
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    double fx = x - x0, fy = y - y0;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    const double a = lattice(x0, y0, seed), b = lattice(x0 + 1, y0, seed);
    const double c = lattice(x0, y0 + 1, seed), d = lattice(x0 + 1, y0 + 1, seed);
    return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

// Fractal noise in about [0, 1): octaves of value noise, each half as strong.
double fbm(double x, double y, uint32_t seed, int octaves = 6)
{
    double sum = 0, amplitude = 0.5, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * valueNoise(x, y, seed + uint32_t(o) * 101u);
        total += amplitude;
        x *= 2.03;
        y *= 2.03;
        amplitude *= 0.5;
    }
    return sum / total;
}

// Per-pixel noise in [-1, 1], the same at every size for the same pixel.
double grain(int x, int y, uint32_t seed)
{
    return lattice(x, y, seed) * 2 - 1;
}

double mix(double a, double b, double t)
{
    return a + (b - a) * t;
}

double smooth(double e0, double e1, double x)
{
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

struct Colour {
    double r, g, b, a = 255;
};

using Shader = std::function<Colour(double u, double v, int x, int y, int side)>;

Colour hue(double h, double value = 1)
{
    h = h - std::floor(h);
    const double r = std::clamp(std::abs(h * 6 - 3) - 1, 0.0, 1.0);
    const double g = std::clamp(2 - std::abs(h * 6 - 2), 0.0, 1.0);
    const double b = std::clamp(2 - std::abs(h * 6 - 4), 0.0, 1.0);
    return {255 * r * value, 255 * g * value, 255 * b * value};
}

// Coverage of a disc of radius r at distance d, over a pixel of size px.
double coverage(double d, double r, double px)
{
    return std::clamp((r - d) / px + 0.5, 0.0, 1.0);
}

struct Recipe {
    const char* name;
    bool cutOut;
    Shader shade;
};

std::vector<Recipe> recipes()
{
    std::vector<Recipe> r;
    r.push_back({"landscape", false, [](double u, double v, int x, int y, int) {
                     const double hill = 0.55 + 0.12 * fbm(u * 3, 0.5, 11, 4);
                     Colour c;
                     if (v < hill) {
                         c = {mix(90, 230, v / hill), mix(140, 200, v / hill), mix(230, 240, v / hill)};
                         const double sun = std::exp(-((u - 0.7) * (u - 0.7) + (v - 0.2) * (v - 0.2)) * 60);
                         c.r += 25 * sun;
                         c.g += 20 * sun;
                         const double cloud = smooth(0.5, 0.8, fbm(u * 4, v * 8, 12));
                         c = {mix(c.r, 245, cloud), mix(c.g, 245, cloud), mix(c.b, 250, cloud)};
                     } else {
                         const double t = fbm(u * 16, v * 16, 13);
                         c = {60 + 80 * t, 90 + 90 * t, 30 + 40 * t};
                     }
                     const double n = 3 * grain(x, y, 14);
                     return Colour{c.r + n, c.g + n, c.b + n};
                 }});
    r.push_back(
        {"clouds", false, [](double u, double v, int, int, int) {
             return Colour{255 * fbm(u * 6, v * 6, 21), 255 * fbm(u * 6, v * 6, 22), 255 * fbm(u * 6, v * 6, 23)};
         }});
    r.push_back({"terrain", false, [](double u, double v, int, int, int) {
                     const double e = 0.004;
                     const double h = fbm(u * 5, v * 5, 31, 7);
                     const double dx = fbm((u + e) * 5, v * 5, 31, 7) - h, dy = fbm(u * 5, (v + e) * 5, 31, 7) - h;
                     const double light = std::clamp(0.75 + (dx - dy) * 40, 0.2, 1.3);
                     Colour c = h < 0.42   ? Colour{40, 80, 160}
                                : h < 0.5  ? Colour{200, 190, 130}
                                : h < 0.62 ? Colour{70, 130, 50}
                                : h < 0.72 ? Colour{120, 110, 100}
                                           : Colour{240, 240, 245};
                     return Colour{c.r * light, c.g * light, c.b * light};
                 }});
    r.push_back({"wood", false, [](double u, double v, int x, int y, int) {
                     const double d = std::hypot(u - 0.3, (v - 0.5) * 0.3) * 40 + 4 * fbm(u * 4, v * 4, 41);
                     const double ring = 0.5 + 0.5 * std::sin(d);
                     const double n = 4 * grain(x, y, 42);
                     return Colour{150 + 60 * ring + n, 90 + 40 * ring + n, 40 + 20 * ring + n};
                 }});
    r.push_back({"marble", false, [](double u, double v, int, int, int) {
                     const double t = 0.5 + 0.5 * std::sin((u + v) * 12 + 6 * fbm(u * 5, v * 5, 51));
                     const double s = std::pow(t, 0.4);
                     return Colour{mix(60, 235, s), mix(70, 230, s), mix(80, 225, s)};
                 }});
    r.push_back({"bricks", false, [](double u, double v, int x, int y, int side) {
                     const double bw = 1.0 / 8, bh = 1.0 / 16;
                     const int row = int(v / bh);
                     const double us = u + (row % 2) * bw / 2;
                     const double mu = std::fmod(us, bw) / bw, mv = std::fmod(v, bh) / bh;
                     const double edge = 1.5 / side / bh;
                     const double mortar = 1 - smooth(0.0, edge * 2, std::min({mu * 2, mv, 1 - mv, (1 - mu) * 2}));
                     const double tint = lattice(int(us / bw), row, 61);
                     const double n = 10 * fbm(u * 40, v * 40, 62) + 4 * grain(x, y, 63);
                     const Colour brick{140 + 50 * tint + n, 55 + 25 * tint + n, 40 + 10 * tint + n};
                     return Colour{mix(brick.r, 190, mortar), mix(brick.g, 185, mortar), mix(brick.b, 175, mortar)};
                 }});
    r.push_back({"gradient_linear", false, [](double u, double v, int, int, int) {
                     const double t = (u + v) / 2;
                     return Colour{mix(20, 250, t), mix(60, 180, t), mix(200, 40, t)};
                 }});
    r.push_back({"gradient_radial", false, [](double u, double v, int, int, int) {
                     const double d = std::min(1.0, std::hypot(u - 0.5, v - 0.5) * 1.6);
                     return d < 0.5 ? Colour{mix(255, 250, d * 2), mix(250, 120, d * 2), mix(200, 30, d * 2)}
                                    : Colour{mix(250, 40, d * 2 - 1), mix(120, 10, d * 2 - 1), mix(30, 90, d * 2 - 1)};
                 }});
    r.push_back({"hue_sweep", false, [](double u, double v, int, int, int) { return hue(u, 0.35 + 0.65 * v); }});
    r.push_back({"dark_gradient", false, [](double u, double v, int, int, int) {
                     return Colour{8 + 30 * u, 10 + 24 * v, 14 + 20 * (1 - u * v)};
                 }});
    r.push_back({"noise_rgb", false, [](double, double, int x, int y, int) {
                     return Colour{255 * lattice(x, y, 71), 255 * lattice(x, y, 72), 255 * lattice(x, y, 73)};
                 }});
    r.push_back({"noise_grey", false, [](double, double, int x, int y, int) {
                     const double g = 128 + 60 * grain(x, y, 81);
                     return Colour{g, g, g};
                 }});
    r.push_back({"cartoon", false, [](double u, double v, int, int, int side) {
                     const double px = 1.0 / side;
                     Colour c{250, 230, 120};
                     const auto over = [&](const Colour& s, double a) {
                         c = {mix(c.r, s.r, a), mix(c.g, s.g, a), mix(c.b, s.b, a)};
                     };
                     over({40, 120, 220}, coverage(std::hypot(u - 0.35, v - 0.4), 0.25, px));
                     over({230, 40, 50}, coverage(std::hypot(u - 0.7, v - 0.65), 0.2, px));
                     over({20, 20, 20}, coverage(std::abs(v - 0.85 - 0.05 * std::sin(u * 20)), 0.02, px));
                     over({60, 200, 80}, coverage(std::max(std::abs(u - 0.75), std::abs(v - 0.2)), 0.1, px));
                     return c;
                 }});
    r.push_back({"text", false, [](double u, double v, int x, int y, int side) {
                     // Rows of stroke-like marks on paper.
                     const double line = std::fmod(v * 12, 1.0);
                     const double letter = std::fmod(u * 40, 1.0);
                     const uint32_t id = hash(uint32_t(u * 40), uint32_t(v * 12), 91);
                     const double stroke = 0.08 * 12 * side / 256.0;
                     double ink = 0;
                     if (line > 0.25 && line < 0.75 && (id & 3) != 0) {
                         const double s = (id >> 2) & 1 ? std::abs(letter - 0.5) : std::abs(letter - line);
                         ink = coverage(s, 0.12, 1.0 / stroke / 8);
                     }
                     const double paper = 235 + 6 * grain(x, y, 92);
                     return Colour{mix(paper, 25, ink), mix(paper - 5, 25, ink), mix(paper - 20, 40, ink)};
                 }});
    r.push_back({"normal_map", false, [](double u, double v, int, int, int) {
                     const double e = 0.002;
                     const double h = fbm(u * 8, v * 8, 101, 5);
                     const double dx = (fbm((u + e) * 8, v * 8, 101, 5) - h) / e * 0.02;
                     const double dy = (fbm(u * 8, (v + e) * 8, 101, 5) - h) / e * 0.02;
                     const double n = 1 / std::sqrt(dx * dx + dy * dy + 1);
                     return Colour{127.5 + 127.5 * -dx * n, 127.5 + 127.5 * -dy * n, 127.5 + 127.5 * n};
                 }});
    r.push_back({"skin", false, [](double u, double v, int x, int y, int) {
                     const double t = fbm(u * 10, v * 10, 111);
                     const double n = 2 * grain(x, y, 112);
                     return Colour{200 + 30 * t + n, 150 + 25 * t + n, 125 + 20 * t + n};
                 }});
    r.push_back({"camouflage", false, [](double u, double v, int, int, int) {
                     const double a = fbm(u * 6, v * 6, 121), b = fbm(u * 6, v * 6, 122);
                     const double s = smooth(0.48, 0.52, a), t = smooth(0.5, 0.54, b);
                     const Colour p{85, 95, 55}, q{120, 100, 70}, w{40, 45, 35}, z{150, 140, 100};
                     const Colour top{mix(p.r, q.r, s), mix(p.g, q.g, s), mix(p.b, q.b, s)};
                     const Colour bottom{mix(w.r, z.r, s), mix(w.g, z.g, s), mix(w.b, z.b, s)};
                     return Colour{mix(top.r, bottom.r, t), mix(top.g, bottom.g, t), mix(top.b, bottom.b, t)};
                 }});
    r.push_back({"grainy_photo", false, [](double u, double v, int x, int y, int) {
                     const double t = fbm(u * 3, v * 3, 131);
                     const double n = 12 * grain(x, y, 132);
                     return Colour{mix(30, 220, v) * (0.6 + 0.5 * t) + n, 120 * t + 40 + n, mix(160, 60, u) + n};
                 }});
    r.push_back({"leaves", true, [](double u, double v, int, int, int side) {
                     // Leaves on nothing; black under the transparent part.
                     double alpha = 0;
                     Colour c{0, 0, 0};
                     for (int k = 0; k < 14; ++k) {
                         const double cx = lattice(k, 1, 141), cy = lattice(k, 2, 141),
                                      ang = lattice(k, 3, 141) * 3.1416;
                         const double du = u - cx, dv = v - cy;
                         const double a = du * std::cos(ang) + dv * std::sin(ang),
                                      b = -du * std::sin(ang) + dv * std::cos(ang);
                         const double d = std::hypot(a / 0.16, b / 0.07);
                         const double cover = coverage(d * 0.07, 0.07, 1.0 / side);
                         if (cover > 0) {
                             const double vein = std::exp(-b * b * 40000);
                             const Colour leaf{40 + 60 * lattice(k, 4, 141) + 60 * vein,
                                               110 + 70 * lattice(k, 5, 141) + 40 * vein, 30 + 20 * vein};
                             c = {mix(c.r, leaf.r, cover), mix(c.g, leaf.g, cover), mix(c.b, leaf.b, cover)};
                             alpha = std::max(alpha, cover);
                         }
                     }
                     return Colour{c.r, c.g, c.b, 255 * alpha};
                 }});
    r.push_back({"fence", true, [](double u, double v, int x, int y, int) {
                     const double gu = std::fmod((u + v) * 10, 1.0), gv = std::fmod((u - v + 1) * 10, 1.0);
                     const bool wire = gu < 0.12 || gv < 0.12;
                     const double n = 10 * grain(x, y, 151);
                     return wire ? Colour{150 + n, 150 + n, 160 + n, 255} : Colour{0, 0, 0, 0};
                 }});
    r.push_back({"glow", true, [](double u, double v, int, int, int) {
                     const double d = std::hypot(u - 0.5, v - 0.5) * 2;
                     const double a = std::clamp(1 - d, 0.0, 1.0);
                     return Colour{255, 180 + 75 * a, 60 + 190 * a * a, 255 * a * a};
                 }});
    r.push_back({"smoke", true, [](double u, double v, int, int, int) {
                     const double t = fbm(u * 5, v * 5, 161);
                     const double fade = smooth(0.0, 0.3, 0.5 - std::hypot(u - 0.5, v - 0.5));
                     const double g = 90 + 120 * t;
                     return Colour{g, g, g + 10, 255 * smooth(0.35, 0.75, t) * fade};
                 }});
    return r;
}

uint8_t clampByte(double v)
{
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

Picture render(const Recipe& recipe, int side)
{
    Picture p{recipe.name, side, recipe.cutOut, std::vector<uint8_t>(size_t(side) * side * 4)};
    // Pixels are sampled at the same place of the picture at every size.
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const Colour c = recipe.shade((x + 0.5) / side, (y + 0.5) / side, x, y, side);
            uint8_t* d = p.bgra.data() + 4 * (size_t(y) * side + x);
            d[0] = clampByte(c.b);
            d[1] = clampByte(c.g);
            d[2] = clampByte(c.r);
            d[3] = recipe.cutOut ? clampByte(c.a) : 255;
        }
    }
    return p;
}

// ImageMagick's built-in pictures scaled to side x side, those it makes.
std::vector<Picture> imageMagickPictures(int side)
{
    std::vector<Picture> out;
    const std::string raw =
        (std::filesystem::temp_directory_path() / ("qx_dxt_bench_" + std::to_string(getpid()) + ".rgba")).string();
    const std::string size = std::to_string(side) + "x" + std::to_string(side);
    const std::pair<const char*, std::string> sources[] = {
        {"im_rose", "rose:"},         {"im_wizard", "wizard:"},
        {"im_logo", "logo:"},         {"im_granite", "granite:"},
        {"im_netscape", "netscape:"}, {"im_plasma", "-size " + size + " -seed 5 plasma:fractal"},
    };
    for (const auto& [name, source] : sources) {
        const std::string command =
            "convert " + source + " -resize '" + size + "!' -alpha off -depth 8 rgb:" + raw + " 2>/dev/null";
        if (std::system(command.c_str()) != 0)
            continue;
        std::ifstream in(raw, std::ios::binary);
        std::vector<uint8_t> rgb(size_t(side) * side * 3);
        if (!in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size())))
            continue;
        Picture p{name, side, false, std::vector<uint8_t>(size_t(side) * side * 4)};
        for (size_t i = 0; i < size_t(side) * side; ++i) {
            p.bgra[4 * i] = rgb[3 * i + 2];
            p.bgra[4 * i + 1] = rgb[3 * i + 1];
            p.bgra[4 * i + 2] = rgb[3 * i];
            p.bgra[4 * i + 3] = 255;
        }
        out.push_back(std::move(p));
    }
    std::error_code ec;
    std::filesystem::remove(raw, ec);
    return out;
}

const std::vector<Picture>& pictureSet(int side)
{
    static std::vector<Picture> sets[2];
    std::vector<Picture>& set = sets[side == 256 ? 0 : 1];
    if (set.empty()) {
        for (const Recipe& r : recipes())
            set.push_back(render(r, side));
        for (Picture& p : imageMagickPictures(side))
            set.push_back(std::move(p));
    }
    return set;
}

// ---------------------------------------------------------------------------
// Encoders

enum class Encoder { Stb, ClusterFit, Fast, Best };
constexpr Encoder kEncoders[] = {Encoder::Stb, Encoder::ClusterFit, Encoder::Fast, Encoder::Best};

const char* encoderName(Encoder e)
{
    switch (e) {
    case Encoder::Stb: return "stb_dxt";
    case Encoder::ClusterFit: return "cluster";
    case Encoder::Fast: return "fast";
    case Encoder::Best: return "best";
    }
    return "";
}

int squishFlags(DxtFormat format)
{
    return format == DxtFormat::Dxt5 ? squish::kDxt5 : format == DxtFormat::Dxt3 ? squish::kDxt3 : squish::kDxt1;
}

// The reference encoders, block by block (every side here is a multiple of 4).
void referenceRows(Encoder e, DxtFormat format, const Picture& p, int firstRow, int endRow, uint8_t* out)
{
    const int across = p.side / 4, bytes = dxtBlockBytes(format);
    uint8_t rgba[64];
    for (int by = firstRow; by < endRow; ++by) {
        for (int bx = 0; bx < across; ++bx) {
            for (int y = 0; y < 4; ++y) {
                for (int x = 0; x < 4; ++x) {
                    const uint8_t* s = p.bgra.data() + 4 * (size_t(by * 4 + y) * p.side + bx * 4 + x);
                    uint8_t* d = rgba + 4 * (y * 4 + x);
                    d[0] = s[2];
                    d[1] = s[1];
                    d[2] = s[0];
                    d[3] = format == DxtFormat::Dxt1 ? 255 : s[3];
                }
            }
            uint8_t* block = out + (size_t(by) * across + bx) * bytes;
            if (e == Encoder::Stb)
                stb_compress_dxt_block(block, rgba, format == DxtFormat::Dxt5 ? 1 : 0, STB_DXT_HIGHQUAL);
            else
                squish::Compress(rgba, block, squishFlags(format) | squish::kColourClusterFit);
        }
    }
}

std::vector<uint8_t> encode(Encoder e, DxtFormat format, const Picture& p, int threads)
{
    std::vector<uint8_t> out(size_t(p.side / 4) * (p.side / 4) * dxtBlockBytes(format));
    if (e == Encoder::Fast || e == Encoder::Best) {
        encodeDxtLevel(format, e == Encoder::Fast ? DxtQuality::Fast : DxtQuality::Best, p.bgra.data(), p.side, p.side,
                       out.data(), threads);
        return out;
    }
    const int rows = p.side / 4;
    threads = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(referenceRows, e, format, std::cref(p), rows * t / threads, rows * (t + 1) / threads,
                             out.data());
    referenceRows(e, format, p, 0, rows / threads, out.data());
    for (std::thread& w : workers)
        w.join();
    return out;
}

DxtFormat headlineFormat(const Picture& p)
{
    return p.cutOut ? DxtFormat::Dxt5 : DxtFormat::Dxt1;
}

std::vector<uint8_t> decode(DxtFormat format, const Picture& p, const std::vector<uint8_t>& blocks)
{
    TexelLayout layout;
    layout.format = format == DxtFormat::Dxt5   ? TexelFormat::Dxt5
                    : format == DxtFormat::Dxt3 ? TexelFormat::Dxt3
                                                : TexelFormat::Dxt1;
    layout.dxt1Alpha = format == DxtFormat::Dxt1Alpha;
    layout.width = layout.height = p.side;
    std::vector<uint8_t> bgra(p.bgra.size());
    decodeTexelLevel(layout, nullptr, blocks.data(), p.side, p.side, bgra.data());
    return bgra;
}

double psnr(double squaredError, double samples)
{
    if (squaredError <= 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 * samples / squaredError);
}

// ---------------------------------------------------------------------------
// Quality

struct PictureScore {
    double colour[4] = {};  // by Encoder
    double alpha[4] = {};   // cut-outs as DXT5
    double dxt1aColour[4] = {};
    int64_t dxt1aWrongBits[4] = {};
};

struct SetScore {
    std::vector<PictureScore> pictures;
    double meanColour[4] = {};
    double worstBelowCluster = 0;  // Fast's PSNR minus cluster fit's, the lowest over the set
    std::string worstPicture;
};

SetScore score(int side)
{
    const std::vector<Picture>& set = pictureSet(side);
    SetScore s;
    std::printf("\nDXT quality, %d x %d (colour PSNR in dB; cut-outs as DXT5, alpha PSNR after /)\n", side, side);
    std::printf("%-16s %8s %8s %8s %8s %8s\n", "picture", "stb_dxt", "cluster", "fast", "best", "fast-cl");
    s.worstBelowCluster = 1e9;
    for (const Picture& p : set) {
        PictureScore ps;
        const DxtFormat format = headlineFormat(p);
        for (const Encoder e : kEncoders) {
            const std::vector<uint8_t> back = decode(format, p, encode(e, format, p, 0));
            double colour = 0, alpha = 0;
            for (size_t i = 0; i < back.size(); i += 4) {
                for (int c = 0; c < 3; ++c)
                    colour += double((back[i + c] - p.bgra[i + c]) * (back[i + c] - p.bgra[i + c]));
                alpha += double((back[i + 3] - p.bgra[i + 3]) * (back[i + 3] - p.bgra[i + 3]));
            }
            const double pixels = double(back.size() / 4);
            ps.colour[int(e)] = psnr(colour, pixels * 3);
            ps.alpha[int(e)] = psnr(alpha, pixels);
            if (p.cutOut && e != Encoder::Stb) {
                // The same cut-out as DXT1 with 1-bit alpha.
                const std::vector<uint8_t> back1 =
                    decode(DxtFormat::Dxt1Alpha, p, encode(e, DxtFormat::Dxt1Alpha, p, 0));
                double err = 0, opaque = 0;
                int64_t wrong = 0;
                for (size_t i = 0; i < back1.size(); i += 4) {
                    const bool on = p.bgra[i + 3] >= 128;
                    wrong += on != (back1[i + 3] == 255);
                    if (on) {
                        opaque += 1;
                        for (int c = 0; c < 3; ++c)
                            err += double((back1[i + c] - p.bgra[i + c]) * (back1[i + c] - p.bgra[i + c]));
                    }
                }
                ps.dxt1aColour[int(e)] = psnr(err, opaque * 3);
                ps.dxt1aWrongBits[int(e)] = wrong;
            }
        }
        const double below = ps.colour[int(Encoder::Fast)] - ps.colour[int(Encoder::ClusterFit)];
        if (below < s.worstBelowCluster) {
            s.worstBelowCluster = below;
            s.worstPicture = p.name;
        }
        std::printf("%-16s", p.name.c_str());
        for (const Encoder e : kEncoders) {
            if (p.cutOut)
                std::printf(" %5.2f/%-5.2f", ps.colour[int(e)], ps.alpha[int(e)]);
            else
                std::printf(" %8.2f", ps.colour[int(e)]);
        }
        std::printf(" %+8.2f\n", below);
        s.pictures.push_back(ps);
    }
    for (const Encoder e : kEncoders) {
        double sum = 0;
        for (const PictureScore& ps : s.pictures)
            sum += ps.colour[int(e)];
        s.meanColour[int(e)] = sum / double(s.pictures.size());
    }
    std::printf("%-16s", "mean");
    for (const Encoder e : kEncoders)
        std::printf(" %8.2f", s.meanColour[int(e)]);
    std::printf(" %+8.2f\n", s.meanColour[int(Encoder::Fast)] - s.meanColour[int(Encoder::ClusterFit)]);
    std::printf("worst picture against cluster fit: %s, %+.2f dB\n", s.worstPicture.c_str(), s.worstBelowCluster);
    std::printf("cut-outs as DXT1 with 1-bit alpha (colour PSNR of the opaque pixels / pixels whose bit is wrong):\n");
    for (size_t i = 0; i < set.size(); ++i) {
        if (!set[i].cutOut)
            continue;
        std::printf("%-16s", set[i].name.c_str());
        for (const Encoder e : {Encoder::ClusterFit, Encoder::Fast, Encoder::Best})
            std::printf(" %s %.2f/%lld", encoderName(e), s.pictures[i].dxt1aColour[int(e)],
                        static_cast<long long>(s.pictures[i].dxt1aWrongBits[int(e)]));
        std::printf("\n");
    }
    std::fflush(stdout);
    return s;
}

const SetScore& setScore(int side)
{
    if (side == 256) {
        static const SetScore small = score(256);
        return small;
    }
    static const SetScore large = score(1024);
    return large;
}

void DxtQualityOfSet(benchmark::State& state)
{
    const int side = int(state.range(0));
    const SetScore& s = setScore(side);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.meanColour[0]);
    for (const Encoder e : kEncoders)
        state.counters[std::string("psnr_") + encoderName(e)] = s.meanColour[int(e)];
    state.counters["fast_minus_cluster"] = s.meanColour[int(Encoder::Fast)] - s.meanColour[int(Encoder::ClusterFit)];
    state.counters["worst_fast_minus_cluster"] = s.worstBelowCluster;
    state.counters["pictures"] = double(s.pictures.size());
}
BENCHMARK(DxtQualityOfSet)->Arg(256)->Arg(1024)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Speed: the 256 x 256 set, one thread.

void DxtEncodeSetOneCore(benchmark::State& state, Encoder e)
{
    const std::vector<Picture>& set = pictureSet(256);
    double pixels = 0;
    for (auto _ : state) {
        for (const Picture& p : set) {
            std::vector<uint8_t> blocks = encode(e, headlineFormat(p), p, 1);
            benchmark::DoNotOptimize(blocks.data());
            pixels += double(p.side) * p.side;
        }
    }
    state.counters["Mpixels_per_s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(DxtEncodeSetOneCore, stb_dxt, Encoder::Stb)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DxtEncodeSetOneCore, fast, Encoder::Fast)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DxtEncodeSetOneCore, cluster_fit, Encoder::ClusterFit)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(DxtEncodeSetOneCore, best, Encoder::Best)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
