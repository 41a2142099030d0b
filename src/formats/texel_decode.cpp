// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding one level of texels into B, G, R, A pixels, first row at the top,
// as the layout's row of the table describes them. The channels of a 16-bit
// texel are widened to 8 bits by widenChannel (the nearest value: 5 bits
// (v * 255 + 15) div 31, 6 bits (v * 255 + 31) div 63, 4 bits v * 17, 1 bit
// 0 or 255). Block-compressed levels go through libsquish.
#include "formats/texel_layout.h"

#include "platform/byte_order.h"

#include <squish.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// The 8-bit values of every value of one channel of a 16-bit texel, and
// where the channel lies; a channel the texel does not hold reads as 255.
struct ChannelTable {
    unsigned shift = 0;
    unsigned mask = 0;
    uint8_t value[256] = {};

    explicit ChannelTable(TexelChannel channel)
    {
        if (channel.bits == 0) {
            value[0] = 255;
            return;
        }
        shift = channel.shift;
        mask = (1u << channel.bits) - 1;
        for (unsigned v = 0; v <= mask; ++v)
            value[v] = widenChannel(v, channel.bits);
    }
    uint8_t operator()(unsigned texel) const { return value[(texel >> shift) & mask]; }
};

void decodePacked16(const LayoutRow& row, const uint8_t* src, int64_t begin, int64_t end, uint8_t* bgra)
{
    const ChannelTable blue(row.blue), green(row.green), red(row.red), alpha(row.alphaBits);
    for (int64_t i = begin; i < end; ++i) {
        const unsigned v = readLe16(src + 2 * i);
        uint8_t* p = bgra + 4 * i;
        p[0] = blue(v);
        p[1] = green(v);
        p[2] = red(v);
        p[3] = alpha(v);
    }
}

inline void put(uint8_t* p, uint8_t b, uint8_t g, uint8_t r, uint8_t a)
{
    p[0] = b;
    p[1] = g;
    p[2] = r;
    p[3] = a;
}

static_assert(std::endian::native == std::endian::little, "pixels are handled as little-endian words");

// R, G, B, A in memory to B, G, R, A: bytes 0 and 2 of each word exchanged.
inline uint32_t redBlueSwapped(uint32_t v, uint32_t alphaMask)
{
    return (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16) | alphaMask;
}

// Block rows [firstRow, lastRow) of pixel rows (firstRow a multiple of 4).
// libsquish's whole-image call spreads its work over threads of its own, so
// blocks are decoded one by one, a run of them at a time into a small
// buffer; then their R, G, B, A pixels go into place as B, G, R, A. (Reading
// a block back right after libsquish wrote it byte by byte would stall.)
void decodeBlocks(const TexelLayout& layout, const uint8_t* src, int width, int height, int firstRow, int lastRow,
                  uint8_t* bgra)
{
    const int flags = layout.format == TexelFormat::Dxt1   ? squish::kDxt1
                      : layout.format == TexelFormat::Dxt3 ? squish::kDxt3
                                                           : squish::kDxt5;
    const int blockBytes = layoutRow(layout).bytesPerBlock;
    // DXT1 without its 1-bit alpha is opaque whatever its blocks say.
    const bool opaque = !texelLayoutHasAlpha(layout);
    const uint32_t alphaMask = opaque ? 0xFF000000u : 0;
    const int blocksPerRow = int((int64_t(width) + 3) / 4);
    const int64_t rowBytes = int64_t(width) * 4;
    src += int64_t(firstRow / 4) * blocksPerRow * blockBytes;
    constexpr int kRun = 64;
    alignas(64) uint8_t decoded[kRun][64];
    for (int by = firstRow; by < lastRow; by += 4) {
        const int rows = std::min(4, height - by);
        uint8_t* blockRow = bgra + int64_t(by) * rowBytes;
        for (int first = 0; first < blocksPerRow; first += kRun) {
            const int count = std::min(kRun, blocksPerRow - first);
            for (int k = 0; k < count; ++k) {
                squish::Decompress(decoded[k], src, flags);
                src += blockBytes;
            }
            for (int k = 0; k < count; ++k) {
                const int bx = 4 * (first + k);
                uint32_t px[16];
                std::memcpy(px, decoded[k], sizeof px);
                for (uint32_t& v : px)
                    v = redBlueSwapped(v, alphaMask);
                uint8_t* dst = blockRow + int64_t(bx) * 4;
                if (rows == 4 && bx + 4 <= width) {
                    for (int y = 0; y < 4; ++y)
                        std::memcpy(dst + y * rowBytes, px + 4 * y, 16);
                } else {
                    const size_t cols = size_t(std::min(4, width - bx));
                    for (int y = 0; y < rows; ++y)
                        std::memcpy(dst + y * rowBytes, px + 4 * y, cols * 4);
                }
            }
        }
    }
}

}  // namespace

int texelRowGroup(TexelFormat format)
{
    return texelFormatIsCompressed(format) ? 4 : 1;
}

void decodeTexelRows(const TexelLayout& layout, const uint8_t* palette, const uint8_t* src, int width, int height,
                     int firstRow, int lastRow, uint8_t* bgra)
{
    firstRow = std::max(firstRow, 0);
    lastRow = std::min(lastRow, height);
    if (width <= 0 || firstRow >= lastRow)
        return;
    const int64_t begin = int64_t(firstRow) * width, end = int64_t(lastRow) * width;
    const LayoutRow& row = layoutRow(layout);
    switch (row.codec) {
    case TexelCodec::Palette8:
        for (int64_t i = begin; i < end; ++i) {
            const uint8_t* e = palette + 4 * src[i];
            put(bgra + 4 * i, e[2], e[1], e[0], e[3]);
        }
        return;
    case TexelCodec::Bgra32: std::memcpy(bgra + 4 * begin, src + 4 * begin, size_t(end - begin) * 4); return;
    case TexelCodec::Bgrx32:
        for (int64_t i = begin; i < end; ++i)
            put(bgra + 4 * i, src[4 * i], src[4 * i + 1], src[4 * i + 2], 255);
        return;
    case TexelCodec::Packed16: decodePacked16(row, src, begin, end, bgra); return;
    case TexelCodec::Grey8:
        for (int64_t i = begin; i < end; ++i)
            put(bgra + 4 * i, src[i], src[i], src[i], 255);
        return;
    case TexelCodec::Block: decodeBlocks(layout, src, width, height, firstRow, lastRow, bgra); return;
    case TexelCodec::None: break;
    }
    std::memset(bgra + 4 * begin, 0, size_t(end - begin) * 4);
}

void decodeTexelLevel(const TexelLayout& layout, const uint8_t* palette, const uint8_t* src, int width, int height,
                      uint8_t* bgra)
{
    decodeTexelRows(layout, palette, src, width, height, 0, height, bgra);
}
