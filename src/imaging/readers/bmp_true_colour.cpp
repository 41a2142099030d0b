// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/bmp_true_colour.h"

#include "platform/byte_order.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <vector>

namespace {

constexpr int64_t kFileHeaderSize = 14;
constexpr uint32_t kUncompressed = 0;
constexpr uint32_t kBitFields = 3;
constexpr uint32_t kAlphaBitFields = 6;

[[noreturn]] void notValid()
{
    throw EInvalidGraphic("Bitmap image is not valid");
}

bool knownHeaderSize(uint32_t size)
{
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

struct Masks {
    uint32_t red, green, blue, alpha;
};

// The masks of a 16- or 32-bit file, from where its header kind keeps them.
Masks readMasks(const uint8_t* file, int64_t size, uint32_t headerSize, uint32_t compression, int bits)
{
    if (compression == kUncompressed)
        return bits == 16 ? Masks{0x7C00, 0x03E0, 0x001F, 0} : Masks{0xFF0000, 0x00FF00, 0x0000FF, 0};
    const int64_t at = kFileHeaderSize + 40;
    // A 40-byte header is followed by its masks; longer ones hold them.
    const int count = headerSize > 40 ? (headerSize >= 56 ? 4 : 3) : (compression == kAlphaBitFields ? 4 : 3);
    if (size < at + 4 * count)
        notValid();
    const uint8_t* m = file + at;
    return {readLe32(m), readLe32(m + 4), readLe32(m + 8), count == 4 ? readLe32(m + 12) : 0};
}

// One run of set bits, all of them inside a pixel of `bits` bits.
bool usableMask(uint32_t mask, int bits)
{
    if (mask == 0 || (bits < 32 && (mask >> bits) != 0))
        return false;
    const uint32_t run = mask >> std::countr_zero(mask);
    return (run & (run + 1)) == 0;
}

void checkMasks(const Masks& m, int bits)
{
    if (!usableMask(m.red, bits) || !usableMask(m.green, bits) || !usableMask(m.blue, bits))
        notValid();
    // Alpha is not read: only its bits inside the pixel count, and they must
    // still form one run apart from the colours.
    const uint32_t alpha = bits < 32 ? m.alpha & ((uint32_t(1) << bits) - 1) : m.alpha;
    if (alpha != 0 && !usableMask(alpha, bits))
        notValid();
    if ((m.red & m.green) || (m.red & m.blue) || (m.green & m.blue) || ((m.red | m.green | m.blue) & alpha))
        notValid();
}

// A channel value of `bits` bits as a byte.
uint8_t widen(uint32_t value, int bits)
{
    if (bits == 5)
        return uint8_t(value << 3);
    if (bits == 6)
        return uint8_t(value << 2);
    const uint64_t top = (uint64_t(1) << bits) - 1;
    // round(v * 255 / top); the quotient is never exactly half-way, as top is odd.
    return uint8_t((uint64_t(value) * 510 + top) / (2 * top));
}

// One colour channel of a pixel: where its bits are and the byte each value
// becomes (a table for channels of up to 16 bits).
class Channel {
public:
    explicit Channel(uint32_t mask) : mask_(mask), shift_(std::countr_zero(mask)), bits_(std::popcount(mask))
    {
        if (bits_ <= 16) {
            table_.resize(size_t(1) << bits_);
            for (uint32_t v = 0; v < table_.size(); ++v)
                table_[v] = widen(v, bits_);
        }
    }

    uint8_t operator()(uint32_t pixel) const
    {
        const uint32_t v = (pixel & mask_) >> shift_;
        return table_.empty() ? widen(v, bits_) : table_[v];
    }

private:
    uint32_t mask_;
    int shift_;
    int bits_;
    std::vector<uint8_t> table_;
};

void decodeMaskedRow(const uint8_t* in, uint8_t* out, int width, int bits, const Channel& red, const Channel& green,
                     const Channel& blue)
{
    const int bytes = bits / 8;
    for (int x = 0; x < width; ++x, in += bytes, out += 3) {
        const uint32_t pixel = bits == 16 ? readLe16(in) : readLe32(in);
        out[0] = blue(pixel);
        out[1] = green(pixel);
        out[2] = red(pixel);
    }
}

}  // namespace

bool ReadTrueColourBmp(const uint8_t* file, int64_t size, TDibGraphic& picture)
{
    if (size < kFileHeaderSize + 40)
        return false;
    const uint8_t* h = file + kFileHeaderSize;
    const uint32_t headerSize = readLe32(h);
    const int bits = readLe16(h + 14);
    const uint32_t compression = readLe32(h + 16);
    if (!knownHeaderSize(headerSize))
        return false;
    const bool masked = compression == kBitFields || compression == kAlphaBitFields;
    const bool handled = ((bits == 16 || bits == 32) && (compression == kUncompressed || masked))
                         || (bits == 24 && compression == kUncompressed);
    if (!handled)
        return false;

    const int32_t width = int32_t(readLe32(h + 4));
    const int32_t storedHeight = int32_t(readLe32(h + 8));
    if (width <= 0 || storedHeight == 0 || storedHeight == INT32_MIN)
        notValid();
    const bool topDown = storedHeight < 0;
    const int32_t height = std::abs(storedHeight);

    const uint32_t dataOffset = readLe32(file + 10);
    if (int64_t(dataOffset) > size)
        notValid();
    const int64_t stride = DibRowStride(width, bits);
    const int64_t rowsHeld = std::min<int64_t>(height, (size - dataOffset) / stride);

    const Masks masks =
        bits == 24 ? Masks{0xFF0000, 0x00FF00, 0x0000FF, 0} : readMasks(file, size, headerSize, compression, bits);
    if (bits != 24)
        checkMasks(masks, bits);

    picture.NewImage(width, height, ifRgb24, nullptr, 0, 0);
    const Channel red(masks.red), green(masks.green), blue(masks.blue);
    for (int64_t r = 0; r < rowsHeld; ++r) {
        const uint8_t* in = file + dataOffset + r * stride;
        uint8_t* out = picture.RowPointer(int(topDown ? r : height - 1 - r));
        if (bits == 24)
            std::copy(in, in + 3 * int64_t(width), out);
        else
            decodeMaskedRow(in, out, width, bits, red, green, blue);
    }

    // Alpha, for a reader that keeps it: the alpha mask of a masked file, or
    // the one a header of 56 bytes or more names for uncompressed 32 bits.
    if (picture.KeepAlpha && bits != 24) {
        uint32_t alphaMask = masks.alpha;
        if (compression == kUncompressed && bits == 32 && headerSize >= 56)
            alphaMask = readLe32(h + 52);
        if (bits < 32)
            alphaMask &= (uint32_t(1) << bits) - 1;
        if (alphaMask != 0 && usableMask(alphaMask, bits)
            && ((masks.red | masks.green | masks.blue) & alphaMask) == 0) {
            const Channel alpha(alphaMask);
            std::vector<uint8_t> plane(size_t(width) * size_t(height), 255);
            const int bytes = bits / 8;
            for (int64_t r = 0; r < rowsHeld; ++r) {
                const uint8_t* in = file + dataOffset + r * stride;
                uint8_t* out = plane.data() + size_t(topDown ? r : height - 1 - r) * size_t(width);
                for (int x = 0; x < width; ++x, in += bytes)
                    out[x] = alpha(bits == 16 ? readLe16(in) : readLe32(in));
            }
            picture.AlphaPlane = std::move(plane);
        }
    }
    return true;
}
