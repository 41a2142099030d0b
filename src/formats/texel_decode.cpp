// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding one level of texels into B, G, R, A pixels, first row at the top.
// Narrow channels are widened to 8 bits by rounding to the nearest value:
// 5 bits (v * 255 + 15) div 31, 6 bits (v * 255 + 31) div 63, 4 bits v * 17,
// 1 bit 0 or 255. Block-compressed levels go through libsquish.
#include "formats/texel_layout.h"

#include "platform/byte_order.h"

#include <squish.h>

#include <cstring>

namespace {

constexpr uint8_t widen5(unsigned v) { return uint8_t((v * 255 + 15) / 31); }
constexpr uint8_t widen6(unsigned v) { return uint8_t((v * 255 + 31) / 63); }
constexpr uint8_t widen4(unsigned v) { return uint8_t(v * 17); }

inline void put(uint8_t* p, uint8_t b, uint8_t g, uint8_t r, uint8_t a)
{
    p[0] = b;
    p[1] = g;
    p[2] = r;
    p[3] = a;
}

void decodeBlocks(const TexelLayout& layout, const uint8_t* src, int width, int height, uint8_t* bgra)
{
    const int flags = layout.format == TexelFormat::Dxt1   ? squish::kDxt1
                      : layout.format == TexelFormat::Dxt3 ? squish::kDxt3
                                                           : squish::kDxt5;
    // libsquish writes R, G, B, A; swapped into place below.
    squish::DecompressImage(bgra, width, height, src, flags);
    const bool opaque = layout.format == TexelFormat::Dxt1 && !layout.dxt1Alpha;
    const int64_t pixels = int64_t(width) * height;
    for (int64_t i = 0; i < pixels; ++i) {
        uint8_t* p = bgra + 4 * i;
        const uint8_t r = p[0];
        p[0] = p[2];
        p[2] = r;
        if (opaque)
            p[3] = 255;
    }
}

} // namespace

void decodeTexelLevel(const TexelLayout& layout, const uint8_t* palette, const uint8_t* src, int width,
                      int height, uint8_t* bgra)
{
    const int64_t pixels = int64_t(width) * height;
    if (pixels <= 0)
        return;
    switch (layout.format) {
    case TexelFormat::Paletted8:
        for (int64_t i = 0; i < pixels; ++i) {
            const uint8_t* e = palette + 4 * src[i];
            put(bgra + 4 * i, e[2], e[1], e[0], e[3]);
        }
        return;
    case TexelFormat::Bgra8888:
        std::memcpy(bgra, src, size_t(pixels) * 4);
        return;
    case TexelFormat::Bgrx888:
        for (int64_t i = 0; i < pixels; ++i)
            put(bgra + 4 * i, src[4 * i], src[4 * i + 1], src[4 * i + 2], 255);
        return;
    case TexelFormat::Argb1555:
    case TexelFormat::Rgb555: {
        const bool alpha = layout.format == TexelFormat::Argb1555;
        for (int64_t i = 0; i < pixels; ++i) {
            const unsigned v = readLe16(src + 2 * i);
            put(bgra + 4 * i, widen5(v & 31), widen5((v >> 5) & 31), widen5((v >> 10) & 31),
                alpha ? ((v & 0x8000) ? 255 : 0) : 255);
        }
        return;
    }
    case TexelFormat::Rgb565:
        for (int64_t i = 0; i < pixels; ++i) {
            const unsigned v = readLe16(src + 2 * i);
            put(bgra + 4 * i, widen5(v & 31), widen6((v >> 5) & 63), widen5((v >> 11) & 31), 255);
        }
        return;
    case TexelFormat::Argb4444:
        for (int64_t i = 0; i < pixels; ++i) {
            const unsigned v = readLe16(src + 2 * i);
            put(bgra + 4 * i, widen4(v & 15), widen4((v >> 4) & 15), widen4((v >> 8) & 15), widen4((v >> 12) & 15));
        }
        return;
    case TexelFormat::Lum8:
        for (int64_t i = 0; i < pixels; ++i)
            put(bgra + 4 * i, src[i], src[i], src[i], 255);
        return;
    case TexelFormat::Dxt1:
    case TexelFormat::Dxt3:
    case TexelFormat::Dxt5:
        decodeBlocks(layout, src, width, height, bgra);
        return;
    case TexelFormat::Unknown:
        break;
    }
    std::memset(bgra, 0, size_t(pixels) * 4);
}
