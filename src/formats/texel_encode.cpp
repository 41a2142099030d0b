// SPDX-License-Identifier: GPL-2.0-or-later
// Encoding pixels of B, G, R, A into the stored texel formats, and the mean
// that builds one mip level from the level above it.
#include "formats/texel_layout.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

inline void put16(uint8_t* out, unsigned v)
{
    out[0] = uint8_t(v & 0xFF);
    out[1] = uint8_t((v >> 8) & 0xFF);
}

// One channel of a 16-bit texel for every 8-bit value: narrowChannel in
// its place; 0 for a channel the texel does not hold.
struct FieldTable {
    uint16_t value[256] = {};

    explicit FieldTable(TexelChannel channel)
    {
        if (channel.bits != 0)
            for (unsigned v = 0; v < 256; ++v)
                value[v] = uint16_t(narrowChannel(v, channel.bits) << channel.shift);
    }
};

// The row's bit fields, and its fill bits set (555's unused top bit is
// written set, as 888 writes its unused byte as 255).
void encodePacked16(const LayoutRow& row, const uint8_t* bgra, int64_t pixels, uint8_t* out)
{
    const FieldTable blue(row.blue), green(row.green), red(row.red), alpha(row.alphaBits);
    for (int64_t i = 0; i < pixels; ++i, bgra += 4, out += 2)
        put16(out, unsigned(row.fillBits | blue.value[bgra[0]] | green.value[bgra[1]] | red.value[bgra[2]]
                            | alpha.value[bgra[3]]));
}

void encodeCompressed(const TexelLayout& layout, const uint8_t* bgra, int width, int height, uint8_t* out,
                      DxtQuality quality)
{
    // DXT1 without its 1-bit alpha is opaque: no block may choose the
    // transparent colour.
    const DxtFormat format = layout.format == TexelFormat::Dxt3   ? DxtFormat::Dxt3
                             : layout.format == TexelFormat::Dxt5 ? DxtFormat::Dxt5
                             : layout.dxt1Alpha                   ? DxtFormat::Dxt1Alpha
                                                                  : DxtFormat::Dxt1;
    encodeDxtLevel(format, quality, bgra, width, height, out);
}

}  // namespace

void encodeTexelLevel(const TexelLayout& layout, const uint8_t* bgra, int width, int height, uint8_t* out,
                      DxtQuality quality)
{
    const int64_t pixels = int64_t(width) * height;
    switch (layout.format) {
    case TexelFormat::Bgra8888: std::memcpy(out, bgra, size_t(pixels) * 4); return;
    case TexelFormat::Bgrx888:
        for (int64_t i = 0; i < pixels; ++i, bgra += 4, out += 4) {
            out[0] = bgra[0];
            out[1] = bgra[1];
            out[2] = bgra[2];
            out[3] = 255;
        }
        return;
    case TexelFormat::Argb1555:
    case TexelFormat::Rgb555:
    case TexelFormat::Rgb565:
    case TexelFormat::Argb4444: encodePacked16(layoutRow(layout), bgra, pixels, out); return;
    case TexelFormat::Lum8:
        for (int64_t i = 0; i < pixels; ++i, bgra += 4)
            *out++ = uint8_t((299u * bgra[2] + 587u * bgra[1] + 114u * bgra[0] + 500) / 1000);
        return;
    case TexelFormat::Dxt1:
    case TexelFormat::Dxt3:
    case TexelFormat::Dxt5: encodeCompressed(layout, bgra, width, height, out, quality); return;
    case TexelFormat::Paletted8:
    case TexelFormat::Unknown: break;
    }
    throw std::logic_error("encodeTexelLevel: this format's texels are not encoded from colours");
}

std::vector<uint8_t> nextMipLevel(const uint8_t* bgra, int width, int height)
{
    const int w = std::max(1, width >> 1);
    const int h = std::max(1, height >> 1);
    std::vector<uint8_t> next(size_t(w) * h * 4);
    const int dxs = width > 1 ? 2 : 1;
    const int dys = height > 1 ? 2 : 1;
    const unsigned n = unsigned(dxs * dys);
    uint8_t* out = next.data();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x, out += 4) {
            unsigned sum[4] = {0, 0, 0, 0};
            for (int dy = 0; dy < dys; ++dy) {
                const uint8_t* row = bgra + (int64_t(2 * y + dy) * width + 2 * x) * 4;
                for (int dx = 0; dx < dxs; ++dx)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += row[dx * 4 + c];
            }
            for (int c = 0; c < 4; ++c)
                out[c] = uint8_t((sum[c] + n / 2) / n);
        }
    }
    return next;
}
