// SPDX-License-Identifier: GPL-2.0-or-later
// Encoding pixels of B, G, R, A into the stored texel formats, and the mean
// that builds one mip level from the level above it.
#include "formats/texel_layout.h"

#include <squish.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>
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

int squishFlags(const TexelLayout& layout)
{
    // Cluster fit, iterated: the best colour fit the library offers.
    const int fit = squish::kColourClusterFit | squish::kColourIterativeClusterFit;
    switch (layout.format) {
    case TexelFormat::Dxt1: return squish::kDxt1 | fit;
    case TexelFormat::Dxt3: return squish::kDxt3 | fit;
    case TexelFormat::Dxt5: return squish::kDxt5 | fit;
    default: return 0;
    }
}

// Compresses block rows [firstRow, endRow) of an RGBA picture.
void compressBlockRows(const uint8_t* rgba, int width, int height, int flags, int firstRow, int endRow, uint8_t* out)
{
    const int blocksAcross = std::max(1, (width + 3) / 4);
    const int blockBytes = (flags & squish::kDxt1) ? 8 : 16;
    uint8_t block[16 * 4];
    for (int by = firstRow; by < endRow; ++by) {
        for (int bx = 0; bx < blocksAcross; ++bx) {
            // Pixels outside the picture are left out of the fit (mask bit clear).
            int mask = 0;
            for (int py = 0; py < 4; ++py) {
                for (int px = 0; px < 4; ++px) {
                    const int x = bx * 4 + px;
                    const int y = by * 4 + py;
                    uint8_t* d = block + 4 * (py * 4 + px);
                    if (x < width && y < height) {
                        std::memcpy(d, rgba + 4 * (int64_t(y) * width + x), 4);
                        mask |= 1 << (py * 4 + px);
                    } else {
                        std::memset(d, 0, 4);
                    }
                }
            }
            squish::CompressMasked(block, mask, out + (int64_t(by) * blocksAcross + bx) * blockBytes, flags);
        }
    }
}

void encodeCompressed(const TexelLayout& layout, const uint8_t* bgra, int width, int height, uint8_t* out)
{
    const int64_t pixels = int64_t(width) * height;
    std::vector<uint8_t> rgba(size_t(pixels) * 4);
    const bool opaque = layout.format == TexelFormat::Dxt1 && !layout.dxt1Alpha;
    for (int64_t i = 0; i < pixels; ++i) {
        const uint8_t* s = bgra + 4 * i;
        uint8_t* d = rgba.data() + 4 * i;
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        // DXT1 without its 1-bit alpha is opaque: no block may choose the
        // transparent colour.
        d[3] = opaque ? 255 : s[3];
    }
    const int flags = squishFlags(layout);
    const int blockRows = std::max(1, (height + 3) / 4);
    // The fit is the costly part: large levels are shared out over the cores.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const int parts = int(std::min<unsigned>(cores, unsigned(blockRows / 8 + 1)));
    if (parts <= 1) {
        compressBlockRows(rgba.data(), width, height, flags, 0, blockRows, out);
        return;
    }
    std::vector<std::thread> workers;
    for (int p = 1; p < parts; ++p)
        workers.emplace_back(compressBlockRows, rgba.data(), width, height, flags, blockRows * p / parts,
                             blockRows * (p + 1) / parts, out);
    compressBlockRows(rgba.data(), width, height, flags, 0, blockRows / parts, out);
    for (std::thread& w : workers)
        w.join();
}

}  // namespace

void encodeTexelLevel(const TexelLayout& layout, const uint8_t* bgra, int width, int height, uint8_t* out)
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
    case TexelFormat::Dxt5: encodeCompressed(layout, bgra, width, height, out); return;
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
