// SPDX-License-Identifier: GPL-2.0-or-later
// The TGA codec: reads colour-mapped (1, 9), true-colour (2, 10) and grey
// (3, 11) images, uncompressed or run-length encoded, and writes 8-bit
// colour-mapped and 24-bit true-colour images. All positions are counted from
// the start of the stream, where the TGA header lies.
#include "imaging/codec/tga_header.h"
#include "imaging/codec/vesk.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int kHeaderSize = kTgaHeaderSize;
constexpr int64_t kRleBufferSize = 16384;

// Header field offsets.
enum : int {
    hIdLength = 0,
    hMapType = 1,
    hImageType = 2,
    hMapFirst = 3,
    hMapLength = 5,
    hMapEntrySize = 7,
    hXOrigin = 8,
    hYOrigin = 10,
    hWidth = 12,
    hHeight = 14,
    hBitsPerPixel = 16,
    hDescriptor = 17,
};

constexpr uint8_t kTopToBottom = kTgaTopToBottom;

unsigned u16At(const uint8_t* h, int offset)
{
    return unsigned(h[offset]) | (unsigned(h[offset + 1]) << 8);
}

void putU16(uint8_t* h, int offset, unsigned value)
{
    h[offset] = uint8_t(value & 0xFF);
    h[offset + 1] = uint8_t((value >> 8) & 0xFF);
}

bool writeAll(TStream& stream, const void* buffer, int64_t count)
{
    return count == 0 || stream.Write(buffer, count) == count;
}

// Bits per pixel of the description for a header, or 0 when the header's
// image type, bits per pixel, colour-map entry size or size is not read.
int describedBits(const uint8_t* h)
{
    const int type = h[hImageType];
    const int bits = h[hBitsPerPixel];
    switch (type) {
    case 1:
    case 9:
        if (bits != 8 || h[hMapEntrySize] != 24)
            return 0;
        break;
    case 2:
    case 10:
        if (bits != 16 && bits != 24 && bits != 32)
            return 0;
        break;
    case 3:
    case 11:
        if (bits != 8)
            return 0;
        break;
    default: return 0;
    }
    if (u16At(h, hWidth) == 0 || u16At(h, hHeight) == 0)
        return 0;
    return bits == 8 ? 8 : 24;
}

// The description still matches its header copy (the data step relies on it
// to size every row it writes).
bool consistent(const VeskDescription& d)
{
    const int bits = describedBits(d.tgaHeader);
    return bits != 0 && bits == d.bitsPerPixel && int64_t(d.width) == u16At(d.tgaHeader, hWidth)
           && int64_t(d.height) == u16At(d.tgaHeader, hHeight);
}

int tgaReadHeader(const std::string&, TStream& stream, const std::string&, VeskDescription& d)
{
    stream.ReadFully(d.tgaHeader, kHeaderSize);
    const int bits = describedBits(d.tgaHeader);
    if (bits == 0)
        return VESK_ERR_FORMAT;
    d.width = int32_t(u16At(d.tgaHeader, hWidth));
    d.height = int32_t(u16At(d.tgaHeader, hHeight));
    d.bitsPerPixel = bits;
    d.hasAlpha = d.tgaHeader[hBitsPerPixel] == 32 ? 1 : 0;
    return VESK_OK;
}

int tgaReadPalette(TStream& stream, VeskDescription& d, VeskPalette& palette)
{
    const uint8_t* h = d.tgaHeader;
    switch (h[hImageType]) {
    case 1:
    case 9: {
        stream.Seek(kHeaderSize + h[hIdLength], SeekOrigin::Begin);
        std::memset(&palette, 0, sizeof palette);
        const unsigned first = u16At(h, hMapFirst);
        const unsigned length = u16At(h, hMapLength);
        std::vector<uint8_t> map(size_t(length) * 3);
        if (stream.ReadFully(map.data(), int64_t(map.size())) != int64_t(map.size()))
            return VESK_ERR_READ;
        // Entries that would land beyond the 256 palette entries are dropped.
        for (unsigned k = 0; k < length && first + k < 256; ++k) {
            VeskRgb& e = palette.entries[first + k];
            e.blue = map[3 * k];
            e.green = map[3 * k + 1];
            e.red = map[3 * k + 2];
        }
        return VESK_OK;
    }
    case 3:
    case 11:
        for (int i = 0; i < 256; ++i)
            palette.entries[i] = VeskRgb{uint8_t(i), uint8_t(i), uint8_t(i)};
        return VESK_OK;
    default: return VESK_OK;
    }
}

// Expands `width` little-endian 5-5-5 values stored from byte `width` of the
// row into blue-green-red triples from byte 0. Safe in place: pixel i is read
// from bytes width + 2i.. before bytes 3i..3i+2 are written, and 3i + 2 lies
// below the next pixel's first byte width + 2i + 2.
void expand16(uint8_t* row, int64_t width)
{
    const uint8_t* src = row + width;
    for (int64_t i = 0; i < width; ++i) {
        const unsigned p = unsigned(src[2 * i]) | (unsigned(src[2 * i + 1]) << 8);
        uint8_t* dst = row + 3 * i;
        dst[0] = uint8_t((p & 0x1F) << 3);
        dst[1] = uint8_t(((p >> 5) & 0x1F) << 3);
        dst[2] = uint8_t(((p >> 10) & 0x1F) << 3);
    }
}

// Blue, green, red of `width` (at least 1) four-byte pixels into the
// three-byte pixels of a row, writing nothing past the row's 3 * width
// bytes. Four pixels at a time become two overlapping 8-byte stores (the
// second overwrites the first's last two bytes, and the next group's
// overwrites its own); the last pixels go one word at a time, each word's
// fourth byte overwritten by the next pixel, the very last pixel's three
// bytes alone.
void dropAlpha(uint8_t* row, const uint8_t* src, int64_t width)
{
    static_assert(std::endian::native == std::endian::little, "pixels are handled as little-endian words");
    int64_t i = 0;
    for (; i + 5 <= width; i += 4) {
        uint64_t a, b;
        std::memcpy(&a, src + 4 * i, 8);
        std::memcpy(&b, src + 4 * i + 8, 8);
        a = (a & 0xFFFFFFu) | ((a >> 8) & 0xFFFFFF000000u);
        b = (b & 0xFFFFFFu) | ((b >> 8) & 0xFFFFFF000000u);
        std::memcpy(row + 3 * i, &a, 8);
        std::memcpy(row + 3 * i + 6, &b, 8);
    }
    for (; i + 1 < width; ++i) {
        uint32_t v;
        std::memcpy(&v, src + 4 * i, 4);
        std::memcpy(row + 3 * i, &v, 4);
    }
    std::memcpy(row + 3 * (width - 1), src + 4 * (width - 1), 3);
}

// Where stored row `n` goes in the bottom-up rows.
struct RowOrder {
    uint8_t* rows;
    int64_t stride;
    int64_t height;
    bool topFirst;
    uint8_t* row(int64_t n) const { return rows + (topFirst ? height - 1 - n : n) * stride; }
    // The alpha of stored row `n` (top row first in the plane); null when not kept.
    uint8_t* alpha = nullptr;
    int64_t width = 0;
    uint8_t* alphaRow(int64_t n) const { return alpha ? alpha + (topFirst ? n : height - 1 - n) * width : nullptr; }
};

int readUncompressed(TStream& stream, const RowOrder& order, int64_t width, int fileBits)
{
    std::unique_ptr<uint8_t[]> scratch;
    if (fileBits == 32) {
        scratch.reset(new (std::nothrow) uint8_t[size_t(width) * 4]);
        if (!scratch)
            return VESK_ERR_MEMORY;
    }
    for (int64_t n = 0; n < order.height; ++n) {
        uint8_t* row = order.row(n);
        switch (fileBits) {
        case 8:
            if (stream.ReadFully(row, width) != width)
                return VESK_ERR_READ;
            break;
        case 24:
            if (stream.ReadFully(row, 3 * width) != 3 * width)
                return VESK_ERR_READ;
            break;
        case 32: {
            if (stream.ReadFully(scratch.get(), 4 * width) != 4 * width)
                return VESK_ERR_READ;
            const uint8_t* s = scratch.get();
            dropAlpha(row, s, width);
            if (uint8_t* a = order.alphaRow(n))
                for (int64_t i = 0; i < width; ++i)
                    a[i] = s[4 * i + 3];
            break;
        }
        case 16:
            if (stream.ReadFully(row + width, 2 * width) != 2 * width)
                return VESK_ERR_READ;
            expand16(row, width);
            break;
        default: return VESK_ERR_FORMAT;
        }
    }
    return VESK_OK;
}

// The encoded bytes, taken from the stream through a fixed read buffer.
class RleInput {
public:
    explicit RleInput(TStream& stream) : stream_(stream) {}
    bool ok() const { return buffer_ != nullptr; }

    // Makes at least `count` (<= the buffer size) bytes available at data().
    bool ensure(int64_t count)
    {
        if (end_ - pos_ >= count)
            return true;
        const int64_t left = end_ - pos_;
        if (left > 0)
            std::memmove(buffer_.get(), buffer_.get() + pos_, size_t(left));
        pos_ = 0;
        end_ = left;
        end_ += stream_.ReadFully(buffer_.get() + end_, kRleBufferSize - end_);
        return end_ - pos_ >= count;
    }
    const uint8_t* data() const { return buffer_.get() + pos_; }
    void consume(int64_t count) { pos_ += count; }

private:
    TStream& stream_;
    std::unique_ptr<uint8_t[]> buffer_{new (std::nothrow) uint8_t[kRleBufferSize]};
    int64_t pos_ = 0;
    int64_t end_ = 0;
};

// Pixel-size specific copying of run-length encoded pixels into a row.
// Bytes per stored pixel `PB`; destination bytes per pixel are 1 for 8-bit
// input, 2 for 16-bit input (the raw values, expanded when the row is full)
// and 3 otherwise.
template <int PB>
struct RlePixels {
    static constexpr int kOut = PB == 1 ? 1 : PB == 2 ? 2 : 3;

    // The fourth byte of 32-bit pixels, into the alpha row when it is kept.
    static void fillAlpha(uint8_t* alpha, const uint8_t* value, int64_t n)
    {
        if constexpr (PB == 4)
            if (alpha)
                std::memset(alpha, value[3], size_t(n));
    }
    static void copyAlpha(uint8_t* alpha, const uint8_t* src, int64_t n)
    {
        if constexpr (PB == 4)
            if (alpha)
                for (int64_t i = 0; i < n; ++i)
                    alpha[i] = src[4 * i + 3];
    }

    static void fill(uint8_t* dst, const uint8_t* value, int64_t n)
    {
        if constexpr (PB == 1) {
            std::memset(dst, value[0], size_t(n));
        } else if constexpr (PB == 2) {
            for (int64_t i = 0; i < n; ++i) {
                dst[2 * i] = value[0];
                dst[2 * i + 1] = value[1];
            }
        } else {
            const uint8_t b = value[0], g = value[1], r = value[2];
            for (int64_t i = 0; i < n; ++i) {
                dst[3 * i] = b;
                dst[3 * i + 1] = g;
                dst[3 * i + 2] = r;
            }
        }
    }

    static void copy(uint8_t* dst, const uint8_t* src, int64_t n)
    {
        if constexpr (PB == 1 || PB == 2 || PB == 3) {
            std::memcpy(dst, src, size_t(n) * PB);
        } else if (n > 0) {
            dropAlpha(dst, src, n);
        }
    }
};

template <int PB>
int decodeRle(RleInput& in, const RowOrder& order, int64_t width)
{
    using Px = RlePixels<PB>;
    // 16-bit values go to the second part of each row and are expanded there.
    const int64_t rowOffset = PB == 2 ? width : 0;
    int64_t rowIndex = 0;
    int64_t x = 0;
    uint8_t* row = order.row(0) + rowOffset;
    uint8_t* alphaRow = order.alphaRow(0);

    // Moves to the next stored row when the current one is full; false once all rows are.
    auto advance = [&]() -> bool {
        if (x < width)
            return true;
        if constexpr (PB == 2)
            expand16(order.row(rowIndex), width);
        x = 0;
        if (++rowIndex >= order.height)
            return false;
        row = order.row(rowIndex) + rowOffset;
        alphaRow = order.alphaRow(rowIndex);
        return true;
    };

    for (;;) {
        if (!in.ensure(1))
            return VESK_ERR_READ;
        const uint8_t c = in.data()[0];
        in.consume(1);
        int64_t count = (c & 0x7F) + 1;
        if (c & 0x80) {
            if (!in.ensure(PB))
                return VESK_ERR_READ;
            uint8_t value[4];
            std::memcpy(value, in.data(), PB);
            in.consume(PB);
            while (count > 0) {
                const int64_t n = std::min(count, width - x);
                Px::fill(row + x * Px::kOut, value, n);
                Px::fillAlpha(alphaRow ? alphaRow + x : nullptr, value, n);
                x += n;
                count -= n;
                if (!advance())
                    return VESK_OK;  // the rest of the run lies past the last row
            }
        } else {
            while (count > 0) {
                const int64_t n = std::min(count, width - x);
                if (!in.ensure(n * PB))
                    return VESK_ERR_READ;
                Px::copy(row + x * Px::kOut, in.data(), n);
                Px::copyAlpha(alphaRow ? alphaRow + x : nullptr, in.data(), n);
                in.consume(n * PB);
                x += n;
                count -= n;
                if (!advance())
                    return VESK_OK;  // pixels past the last row are not read
            }
        }
    }
}

int tgaReadData(TStream& stream, VeskDescription& d, uint8_t* rows, int64_t rowsSize)
{
    if (!consistent(d))
        return VESK_ERR_ARGUMENT;
    const uint8_t* h = d.tgaHeader;
    const int type = h[hImageType];
    const int fileBits = h[hBitsPerPixel];
    const int64_t width = d.width;
    const int64_t stride = VeskRowStride(width, d.bitsPerPixel);
    if (stride * d.height > rowsSize)
        return VESK_ERR_ARGUMENT;

    // Past the image ID and any colour map, whatever the image type.
    stream.Seek(readTgaHeader(h).pixelDataOffset(), SeekOrigin::Begin);

    RowOrder order{rows, stride, d.height, (h[hDescriptor] & kTopToBottom) != 0};
    if (fileBits == 32) {
        order.alpha = d.alpha;
        order.width = width;
    }
    if (type < 8)
        return readUncompressed(stream, order, width, fileBits);

    RleInput in(stream);
    if (!in.ok())
        return VESK_ERR_MEMORY;
    switch (fileBits) {
    case 8: return decodeRle<1>(in, order, width);
    case 16: return decodeRle<2>(in, order, width);
    case 24: return decodeRle<3>(in, order, width);
    case 32: return decodeRle<4>(in, order, width);
    default: return VESK_ERR_FORMAT;
    }
}

int tgaWrite(const std::string&, TStream& stream, const std::string&, const VeskDescription& d,
             const VeskPalette& palette, const uint8_t* rows, int64_t rowsSize)
{
    const int bits = d.bitsPerPixel;
    if (bits != 8 && bits != 24)
        return VESK_ERR_UNSUPPORTED;
    // The header's 16-bit size fields cannot hold a larger picture.
    if (d.width < 1 || d.height < 1 || d.width > 0xFFFF || d.height > 0xFFFF)
        return VESK_ERR_UNSUPPORTED;
    const int64_t stride = VeskRowStride(d.width, bits);
    if (stride * d.height > rowsSize)
        return VESK_ERR_ARGUMENT;

    const bool mapped = bits == 8;
    TgaHeader fields;
    fields.colourMapType = mapped ? 1 : 0;
    fields.imageType = mapped ? 1 : 2;
    fields.colourMapLength = mapped ? 256 : 0;
    fields.colourMapEntrySize = mapped ? 24 : 0;
    fields.width = uint16_t(d.width);
    fields.height = uint16_t(d.height);
    fields.bitsPerPixel = uint8_t(bits);
    uint8_t header[kHeaderSize];
    writeTgaHeader(fields, header);
    if (!writeAll(stream, header, kHeaderSize))
        return VESK_ERR_WRITE;

    if (mapped) {
        uint8_t map[256 * 3];
        for (int i = 0; i < 256; ++i) {
            map[3 * i] = palette.entries[i].blue;
            map[3 * i + 1] = palette.entries[i].green;
            map[3 * i + 2] = palette.entries[i].red;
        }
        if (!writeAll(stream, map, sizeof map))
            return VESK_ERR_WRITE;
    }

    const int64_t rowBytes = int64_t(d.width) * (bits / 8);
    for (int64_t y = 0; y < d.height; ++y)
        if (!writeAll(stream, rows + y * stride, rowBytes))
            return VESK_ERR_WRITE;
    return VESK_OK;
}

}  // namespace

int64_t TgaHeader::pixelDataOffset() const
{
    int64_t offset = kHeaderSize + idLength;
    if (colourMapType != 0)
        offset += int64_t(colourMapEntrySize == 15 ? 16 : colourMapEntrySize) * colourMapLength / 8;
    return offset;
}

TgaHeader readTgaHeader(const uint8_t* h)
{
    TgaHeader t;
    t.idLength = h[hIdLength];
    t.colourMapType = h[hMapType];
    t.imageType = h[hImageType];
    t.colourMapFirst = uint16_t(u16At(h, hMapFirst));
    t.colourMapLength = uint16_t(u16At(h, hMapLength));
    t.colourMapEntrySize = h[hMapEntrySize];
    t.xOrigin = uint16_t(u16At(h, hXOrigin));
    t.yOrigin = uint16_t(u16At(h, hYOrigin));
    t.width = uint16_t(u16At(h, hWidth));
    t.height = uint16_t(u16At(h, hHeight));
    t.bitsPerPixel = h[hBitsPerPixel];
    t.descriptor = h[hDescriptor];
    return t;
}

void writeTgaHeader(const TgaHeader& t, uint8_t* h)
{
    h[hIdLength] = t.idLength;
    h[hMapType] = t.colourMapType;
    h[hImageType] = t.imageType;
    putU16(h, hMapFirst, t.colourMapFirst);
    putU16(h, hMapLength, t.colourMapLength);
    h[hMapEntrySize] = t.colourMapEntrySize;
    putU16(h, hXOrigin, t.xOrigin);
    putU16(h, hYOrigin, t.yOrigin);
    putU16(h, hWidth, t.width);
    putU16(h, hHeight, t.height);
    h[hBitsPerPixel] = t.bitsPerPixel;
    h[hDescriptor] = t.descriptor;
}

const VeskCodec kTgaCodec{
    "Targa",
    "Truevision Targa/Vista bitmap",
    VESK_READ_8 | VESK_READ_24 | VESK_WRITE_8 | VESK_WRITE_24,
    "TGA VST AFI",
    tgaReadHeader,
    tgaReadPalette,
    tgaReadData,
    tgaWrite,
};
