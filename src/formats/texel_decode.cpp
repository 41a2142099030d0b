// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding one level of texels into B, G, R, A pixels, first row at the top.
// Narrow channels are widened to 8 bits by rounding to the nearest value:
// 5 bits (v * 255 + 15) div 31, 6 bits (v * 255 + 31) div 63, 4 bits v * 17,
// 1 bit 0 or 255. Block-compressed levels go through libsquish.
#include "formats/texel_layout.h"

#include "platform/byte_order.h"

#include <squish.h>

#include <algorithm>
#include <bit>
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

// Block by block (libsquish's whole-image call spreads its work over
// threads that cost more than they save on a level of this size); each
// block's R, G, B, A pixels go straight into place as B, G, R, A.
void decodeBlocks(const TexelLayout& layout, const uint8_t* src, int width, int height, uint8_t* bgra)
{
    const int flags = layout.format == TexelFormat::Dxt1   ? squish::kDxt1
                      : layout.format == TexelFormat::Dxt3 ? squish::kDxt3
                                                           : squish::kDxt5;
    const int blockBytes = layout.format == TexelFormat::Dxt1 ? 8 : 16;
    const bool opaque = layout.format == TexelFormat::Dxt1 && !layout.dxt1Alpha;
    static_assert(std::endian::native == std::endian::little, "pixels are handled as little-endian words");
    const uint32_t alphaMask = opaque ? 0xFF000000u : 0;
    uint8_t block[64];
    for (int by = 0; by < height; by += 4) {
        for (int bx = 0; bx < width; bx += 4) {
            squish::Decompress(block, src, flags);
            src += blockBytes;
            const int rows = std::min(4, height - by), cols = std::min(4, width - bx);
            for (int y = 0; y < rows; ++y) {
                uint32_t px[4];
                std::memcpy(px, block + 16 * y, sizeof px);
                for (uint32_t& v : px)  // R, G, B, A in memory: exchange bytes 0 and 2
                    v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16) | alphaMask;
                std::memcpy(bgra + 4 * (int64_t(by + y) * width + bx), px, size_t(cols) * 4);
            }
        }
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
