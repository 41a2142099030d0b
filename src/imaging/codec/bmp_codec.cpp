// SPDX-License-Identifier: GPL-2.0-or-later
// The BMP codec: reads OS/2 1.x (12-byte header) and Windows 3.0 / OS/2 2.0
// style bitmaps (headers of 16 to 64 bytes) at 1, 4, 8 and 24 bits per pixel,
// uncompressed or run-length encoded (RLE8, RLE4), and writes uncompressed
// bitmaps with a 40-byte header. Anything else (bit fields, 16- and 32-bit
// pixels, top-down rows, larger headers) is refused, so that the caller can
// hand the file to a more general reader.
//
// Reader options: "inv" keeps the two entries of a 1-bit palette in the order
// stored (without it they are exchanged); "invb" complements every bit of the
// pixel data after reading.
#include "imaging/codec/vesk.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// What the header step learnt, kept in the description's state slots.
enum : int {
    sHeaderStart = 0,  // position of the "BM" signature
    sDataOffset = 1,   // pixel data offset from the start of the stream
    sHeaderSize = 2,   // 12 for OS/2 1.x headers
    sCompression = 3,  // 0 none, 1 RLE8, 2 RLE4
    sColorsUsed = 4,   // palette entries stored in the file
    sInvertBits = 5,   // "invb" given
    sKeepOrder = 6,    // "inv" given
};

constexpr uint32_t kNoCompression = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;

bool readExact(TStream& stream, void* buffer, int64_t count)
{
    return stream.ReadFully(buffer, count) == count;
}

void putU16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void putU32(uint8_t* p, uint32_t v)
{
    putU16(p, v);
    putU16(p + 2, v >> 16);
}

bool supportedBits(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 24;
}

int bmpReadHeader(const std::string&, TStream& stream, const std::string& options, VeskDescription& d)
{
    uint8_t sig[2];
    int64_t headerStart = stream.Position();
    if (!readExact(stream, sig, 2))
        return VESK_ERR_READ;
    if (sig[0] == 'B' && sig[1] == 'A') {
        // OS/2 bitmap array: the first bitmap's own header follows the 14-byte array header.
        stream.Seek(12, SeekOrigin::Current);
        headerStart = stream.Position();
        if (!readExact(stream, sig, 2))
            return VESK_ERR_READ;
    }
    if (sig[0] != 'B' || sig[1] != 'M')
        return VESK_ERR_FORMAT;

    // File size, two reserved words, data offset, header size.
    uint8_t fileHeader[16];
    if (!readExact(stream, fileHeader, sizeof fileHeader))
        return VESK_ERR_READ;
    const uint32_t dataOffset = readLe32(fileHeader + 8);
    const uint32_t headerSize = readLe32(fileHeader + 12);

    int64_t width = 0, height = 0;
    unsigned planes = 0, bits = 0;
    uint32_t compression = kNoCompression;
    int64_t colorsUsed = 0;
    if (headerSize == 12) {
        uint8_t h[8];
        if (!readExact(stream, h, sizeof h))
            return VESK_ERR_READ;
        width = readLe16(h);
        height = readLe16(h + 2);
        planes = readLe16(h + 4);
        bits = readLe16(h + 6);
        if (bits < 16)
            colorsUsed = int64_t(1) << bits;
    } else {
        const bool sizeAccepted =
            (headerSize >= 16 && headerSize <= 64 && headerSize % 4 == 0) || headerSize == 42 || headerSize == 46;
        if (!sizeAccepted)
            return VESK_ERR_FORMAT;
        // The rest of the header after its size field; every field the size covers must be there.
        uint8_t h[64]{};
        if (!readExact(stream, h, headerSize - 4))
            return VESK_ERR_READ;
        width = int32_t(readLe32(h));
        height = int32_t(readLe32(h + 4));
        planes = readLe16(h + 8);
        bits = readLe16(h + 10);
        if (headerSize > 16)
            compression = readLe32(h + 12);
        if (!supportedBits(int(bits)))
            return VESK_ERR_UNSUPPORTED;
        const int64_t full = int64_t(1) << bits;
        colorsUsed = headerSize > 32 ? int64_t(readLe32(h + 28)) : full;
        if (colorsUsed == 0 || colorsUsed > full)
            colorsUsed = full;
    }

    // Negative sizes (top-down rows, mirrored pictures) are left to the general reader.
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        return VESK_ERR_FORMAT;
    if (planes != 1 || !supportedBits(int(bits)))
        return VESK_ERR_UNSUPPORTED;
    if (headerSize == 12)
        compression = kNoCompression;
    // Only the run-length scheme that matches the depth is read.
    if (compression != kNoCompression && !(compression == kRle8 && bits == 8) && !(compression == kRle4 && bits == 4))
        return VESK_ERR_UNSUPPORTED;

    d.width = int32_t(width);
    d.height = int32_t(height);
    d.bitsPerPixel = int32_t(bits);
    d.state[sHeaderStart] = headerStart;
    d.state[sDataOffset] = dataOffset;
    d.state[sHeaderSize] = headerSize;
    d.state[sCompression] = compression;
    d.state[sColorsUsed] = bits == 24 ? 0 : colorsUsed;
    d.state[sInvertBits] = VeskHasWord(options, "invb") ? 1 : 0;
    d.state[sKeepOrder] = VeskHasWord(options, "inv") ? 1 : 0;
    return VESK_OK;
}

int bmpReadPalette(TStream& stream, VeskDescription& d, VeskPalette& palette)
{
    if (d.bitsPerPixel == 24)
        return VESK_OK;
    const int64_t headerStart = d.state[sHeaderStart];
    const int64_t headerSize = d.state[sHeaderSize];
    const bool os2 = headerSize == 12;
    const int entrySize = os2 ? 3 : 4;
    const int64_t count = std::min<int64_t>(d.state[sColorsUsed], 256);
    const int64_t start = os2 ? headerStart + 26 : headerStart + 14 + headerSize;

    if (stream.Seek(start, SeekOrigin::Begin) != start)
        return VESK_ERR_READ;
    uint8_t raw[256 * 4];
    if (!readExact(stream, raw, count * entrySize))
        return VESK_ERR_READ;
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* e = raw + i * entrySize;
        palette.entries[i] = VeskRgb{e[2], e[1], e[0]};
    }
    if (d.bitsPerPixel == 1 && d.state[sKeepOrder] == 0)
        std::swap(palette.entries[0], palette.entries[1]);
    return VESK_OK;
}

// Bytes of the encoded data, read through a buffer; next() is false at the end.
class ByteSource {
public:
    explicit ByteSource(TStream& stream) : stream_(stream), buffer_(16384) {}
    bool next(uint8_t& b)
    {
        if (pos_ == len_) {
            if (ended_)
                return false;
            len_ = stream_.ReadFully(buffer_.data(), int64_t(buffer_.size()));
            pos_ = 0;
            if (len_ <= 0) {
                ended_ = true;
                len_ = 0;
                return false;
            }
        }
        b = buffer_[size_t(pos_++)];
        return true;
    }

private:
    TStream& stream_;
    std::vector<uint8_t> buffer_;
    int64_t pos_ = 0;
    int64_t len_ = 0;
    bool ended_ = false;
};

// Run-length decoding into bottom-up rows. Pixels outside the picture are
// dropped; decoding ends at the end-of-picture code, when the rows are used
// up or when the data ends.
class RleDecoder {
public:
    RleDecoder(uint8_t* rows, int64_t stride, int64_t width, int64_t height, bool fourBit)
        : rows_(rows), stride_(stride), width_(width), height_(height), fourBit_(fourBit)
    {}

    void run(ByteSource& src)
    {
        uint8_t count, value;
        while (y_ < height_ && src.next(count) && src.next(value)) {
            if (count > 0) {
                for (int i = 0; i < count; ++i)
                    put(fourBit_ ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
                continue;
            }
            switch (value) {
            case 0:  // end of row
                x_ = 0;
                ++y_;
                break;
            case 1:  // end of picture
                return;
            case 2: {  // move right and up
                uint8_t dx, dy;
                if (!src.next(dx) || !src.next(dy))
                    return;
                x_ += dx;
                y_ += dy;
                break;
            }
            default: {  // literal pixels, padded to an even number of bytes
                const int n = value;
                const int bytes = fourBit_ ? (n + 1) / 2 : n;
                uint8_t b = 0;
                for (int i = 0; i < n; ++i) {
                    if (!fourBit_ || (i & 1) == 0) {
                        if (!src.next(b))
                            return;
                    }
                    put(fourBit_ ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
                }
                if (bytes & 1) {
                    if (!src.next(b))
                        return;
                }
                break;
            }
            }
        }
    }

private:
    void put(uint8_t index)
    {
        if (x_ < width_ && y_ < height_) {
            uint8_t* row = rows_ + y_ * stride_;
            if (fourBit_) {
                uint8_t& b = row[x_ >> 1];
                b = (x_ & 1) ? uint8_t((b & 0xF0) | index) : uint8_t((b & 0x0F) | (index << 4));
            } else {
                row[x_] = index;
            }
        }
        ++x_;
    }

    uint8_t* rows_;
    int64_t stride_, width_, height_;
    bool fourBit_;
    int64_t x_ = 0, y_ = 0;
};

int bmpReadData(TStream& stream, VeskDescription& d, uint8_t* rows, int64_t rowsSize)
{
    const int64_t stride = VeskRowStride(d.width, d.bitsPerPixel);
    const int64_t total = stride * d.height;
    if (total > rowsSize)
        return VESK_ERR_ARGUMENT;
    // Pixels the file does not give hold palette index 0.
    std::memset(rows, 0, size_t(total));

    const int64_t dataOffset = d.state[sDataOffset];
    const int64_t size = stream.Size();
    if (dataOffset <= size)
        stream.Seek(dataOffset, SeekOrigin::Begin);
    else
        stream.Seek(0, SeekOrigin::End);

    switch (d.state[sCompression]) {
    case kNoCompression:
        // Data shorter than the header promises leaves the missing rows at 0.
        stream.ReadFully(rows, total);
        break;
    case kRle8:
    case kRle4: {
        ByteSource src(stream);
        RleDecoder(rows, stride, d.width, d.height, d.state[sCompression] == kRle4).run(src);
        break;
    }
    default: return VESK_ERR_UNSUPPORTED;
    }

    if (d.state[sInvertBits])
        for (int64_t i = 0; i < total; ++i)
            rows[i] = uint8_t(~rows[i]);
    return VESK_OK;
}

// Writes an uncompressed bitmap with a 40-byte header and a full colour table.
int bmpWrite(const std::string&, TStream& stream, const std::string&, const VeskDescription& d,
             const VeskPalette& palette, const uint8_t* rows, int64_t rowsSize)
{
    if (!supportedBits(d.bitsPerPixel))
        return VESK_ERR_UNSUPPORTED;
    const int64_t stride = VeskRowStride(d.width, d.bitsPerPixel);
    const int64_t imageSize = stride * d.height;
    if (imageSize > rowsSize)
        return VESK_ERR_ARGUMENT;
    const int colors = d.bitsPerPixel == 24 ? 0 : 1 << d.bitsPerPixel;
    const int64_t dataOffset = 14 + 40 + int64_t(colors) * 4;
    const int64_t fileSize = dataOffset + imageSize;
    if (fileSize > INT32_MAX)
        return VESK_ERR_ARGUMENT;

    std::vector<uint8_t> head(size_t(dataOffset), 0);
    uint8_t* h = head.data();
    h[0] = 'B';
    h[1] = 'M';
    putU32(h + 2, uint32_t(fileSize));
    putU32(h + 10, uint32_t(dataOffset));
    putU32(h + 14, 40);
    putU32(h + 18, uint32_t(d.width));
    putU32(h + 22, uint32_t(d.height));
    putU16(h + 26, 1);
    putU16(h + 28, uint32_t(d.bitsPerPixel));
    putU32(h + 30, kNoCompression);
    putU32(h + 34, uint32_t(imageSize));
    putU32(h + 46, uint32_t(colors));
    for (int i = 0; i < colors; ++i) {
        uint8_t* e = h + 54 + i * 4;
        e[0] = palette.entries[i].blue;
        e[1] = palette.entries[i].green;
        e[2] = palette.entries[i].red;
    }
    if (stream.Write(head.data(), dataOffset) != dataOffset)
        return VESK_ERR_WRITE;
    if (imageSize > 0 && stream.Write(rows, imageSize) != imageSize)
        return VESK_ERR_WRITE;
    return VESK_OK;
}

}  // namespace

const VeskCodec kBmpCodec{
    "Bitmap",
    "OS/2 1.1, 1.2, 2.0 / Windows 3.0 bitmap",
    VESK_READ_1 | VESK_READ_4 | VESK_READ_8 | VESK_READ_24 | VESK_WRITE_1 | VESK_WRITE_4 | VESK_WRITE_8 | VESK_WRITE_24,
    "BMP VGA BGA RLE DIB RL4 RL8",
    bmpReadHeader,
    bmpReadPalette,
    bmpReadData,
    bmpWrite,
};
