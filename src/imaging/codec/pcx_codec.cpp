// SPDX-License-Identifier: GPL-2.0-or-later
// The PCX codec: reads run-length encoded PCX files of versions 0, 1, 2, 3
// and 5 with 1 bit x 1 plane, 1 bit x 4 planes, 4 bits x 1 plane, 8 bits x 1
// plane (with the 256-colour palette at the end of the file) and 8 bits x 3
// planes, and writes version 5 files of the same kinds.
//
// Positions are counted from where the header starts (the stream's position
// when the header step runs), except the 256-colour palette, which is found
// from the end of the stream. Encoded data that ends before the picture is
// complete reads as bytes of 255. Reader option "trunc": a run that reaches
// past the end of a line is cut there instead of going on into the next line.
#include "imaging/codec/vesk.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kHeaderSize = 128;
constexpr int kHeaderPartRead = 70;
constexpr int kTrailerSize = 769;  // the byte 12 and 256 entries of red, green, blue
constexpr uint8_t kTrailerMark = 12;

enum : int {
    sHeaderStart = 0,
    sBitsPerPlane = 1,
    sPlanes = 2,
    sBytesPerLine = 3,
    sTruncate = 4,
};

void putU16(uint8_t* p, unsigned v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// Picture bits per pixel for bits per plane and planes; 0 for other combinations.
int pictureBits(int bitsPerPlane, int planes)
{
    if (bitsPerPlane == 1 && planes == 1)
        return 1;
    if (bitsPerPlane == 1 && planes == 4)
        return 4;
    if (bitsPerPlane == 4 && planes == 1)
        return 4;
    if (bitsPerPlane == 8 && planes == 1)
        return 8;
    if (bitsPerPlane == 8 && planes == 3)
        return 24;
    return 0;
}

int pcxReadHeader(const std::string&, TStream& stream, const std::string& options, VeskDescription& d)
{
    const int64_t start = stream.Position();
    uint8_t h[kHeaderPartRead];
    if (stream.ReadFully(h, sizeof h) != int64_t(sizeof h))
        return VESK_ERR_READ;
    const int manufacturer = h[0], version = h[1], encoding = h[2], bitsPerPlane = h[3];
    if (manufacturer != 10 || version == 4 || version > 5 || encoding != 1)
        return VESK_ERR_FORMAT;
    const int planes = h[65];
    const int bits = pictureBits(bitsPerPlane, planes);
    if (bits == 0)
        return VESK_ERR_UNSUPPORTED;
    const int64_t width = int64_t(readLe16(h + 8)) - readLe16(h + 4) + 1;
    const int64_t height = int64_t(readLe16(h + 10)) - readLe16(h + 6) + 1;
    if (width < 1 || height < 1)
        return VESK_ERR_FORMAT;

    d.width = int32_t(width);
    d.height = int32_t(height);
    d.bitsPerPixel = bits;
    d.state[sHeaderStart] = start;
    d.state[sBitsPerPlane] = bitsPerPlane;
    d.state[sPlanes] = planes;
    d.state[sBytesPerLine] = readLe16(h + 66);
    d.state[sTruncate] = VeskHasWord(options, "trunc") ? 1 : 0;
    return VESK_OK;
}

int pcxReadPalette(TStream& stream, VeskDescription& d, VeskPalette& palette)
{
    switch (d.bitsPerPixel) {
    case 1:
        palette.entries[0] = VeskRgb{0, 0, 0};
        palette.entries[1] = VeskRgb{255, 255, 255};
        return VESK_OK;
    case 4: {
        const int64_t at = d.state[sHeaderStart] + 16;
        uint8_t raw[48];
        if (stream.Seek(at, SeekOrigin::Begin) != at || stream.ReadFully(raw, sizeof raw) != int64_t(sizeof raw))
            return VESK_ERR_READ;
        for (int i = 0; i < 16; ++i)
            palette.entries[i] = VeskRgb{raw[i * 3], raw[i * 3 + 1], raw[i * 3 + 2]};
        return VESK_OK;
    }
    case 8: {
        const int64_t size = stream.Size();
        if (size < kTrailerSize)
            return VESK_ERR_FORMAT;
        uint8_t raw[kTrailerSize];
        stream.Seek(size - kTrailerSize, SeekOrigin::Begin);
        if (stream.ReadFully(raw, kTrailerSize) != kTrailerSize)
            return VESK_ERR_READ;
        if (raw[0] != kTrailerMark)
            return VESK_ERR_FORMAT;
        for (int i = 0; i < 256; ++i)
            palette.entries[i] = VeskRgb{raw[1 + i * 3], raw[2 + i * 3], raw[3 + i * 3]};
        return VESK_OK;
    }
    default: return VESK_OK;
    }
}

// Decodes the run-length data into lines. Once the encoded data is used up,
// every further byte is 255.
class LineDecoder {
public:
    LineDecoder(TStream& stream, bool truncate) : stream_(stream), buffer_(16384), truncate_(truncate) {}

    // Fills `keep` bytes of `line` and consumes the line's remaining
    // `length - keep` bytes, which the picture has no room for.
    void decodeLine(uint8_t* line, int64_t keep, int64_t length)
    {
        int64_t filled = 0;
        while (filled < length) {
            if (runLeft_ == 0) {
                uint8_t b;
                if (!next(b)) {
                    // Nothing more in the file: the rest of this line and of the picture is 255.
                    if (filled < keep)
                        std::memset(line + filled, 0xFF, size_t(keep - filled));
                    return;
                }
                if (b >= 0xC0) {
                    runLeft_ = b & 0x3F;
                    if (!next(runValue_))
                        runValue_ = 0xFF;
                    continue;
                }
                runValue_ = b;
                runLeft_ = 1;
            }
            const int64_t n = std::min<int64_t>(runLeft_, length - filled);
            if (filled < keep)
                std::memset(line + filled, runValue_, size_t(std::min(n, keep - filled)));
            filled += n;
            runLeft_ -= int(n);
        }
        if (truncate_)
            runLeft_ = 0;
    }

private:
    bool next(uint8_t& b)
    {
        if (pos_ == len_) {
            if (ended_)
                return false;
            len_ = stream_.ReadFully(buffer_.data(), int64_t(buffer_.size()));
            pos_ = 0;
            if (len_ <= 0) {
                len_ = 0;
                ended_ = true;
                return false;
            }
        }
        b = buffer_[size_t(pos_++)];
        return true;
    }

    TStream& stream_;
    std::vector<uint8_t> buffer_;
    int64_t pos_ = 0, len_ = 0;
    bool ended_ = false;
    bool truncate_;
    int runLeft_ = 0;
    uint8_t runValue_ = 0;
};

int pcxReadData(TStream& stream, VeskDescription& d, uint8_t* rows, int64_t rowsSize)
{
    const int64_t width = d.width, height = d.height;
    const int bits = d.bitsPerPixel;
    const int planes = int(d.state[sPlanes]);
    const int bitsPerPlane = int(d.state[sBitsPerPlane]);
    if (pictureBits(bitsPerPlane, planes) != bits)
        return VESK_ERR_ARGUMENT;
    const int64_t stride = VeskRowStride(width, bits);
    if (stride * height > rowsSize)
        return VESK_ERR_ARGUMENT;
    const int64_t bytesPerLine = d.state[sBytesPerLine];
    // Bytes of one plane line that carry pixels of the picture; a longer line's
    // extra bytes are decoded and dropped, a shorter one leaves the rest at 0.
    const int64_t planeBytes = (width * bitsPerPlane + 7) / 8;
    const int64_t keep = std::min(bytesPerLine, planeBytes);

    std::memset(rows, 0, size_t(stride * height));
    const int64_t dataStart = d.state[sHeaderStart] + kHeaderSize;
    stream.Seek(dataStart, SeekOrigin::Begin);
    if (stream.Position() != dataStart)
        stream.Seek(0, SeekOrigin::End);

    LineDecoder decoder(stream, d.state[sTruncate] != 0);
    std::vector<uint8_t> lines(size_t(planeBytes) * size_t(planes));
    for (int64_t y = 0; y < height; ++y) {
        uint8_t* row = rows + (height - 1 - y) * stride;  // the top row comes first
        std::fill(lines.begin(), lines.end(), 0);
        for (int p = 0; p < planes; ++p)
            decoder.decodeLine(lines.data() + p * planeBytes, keep, bytesPerLine);

        if (planes == 1) {
            std::memcpy(row, lines.data(), size_t(planeBytes));
        } else if (bits == 4) {
            // Four bit planes, plane 0 giving bit 0 of each pixel's index.
            for (int64_t x = 0; x < width; ++x) {
                const int shift = 7 - int(x & 7);
                int index = 0;
                for (int p = 0; p < 4; ++p)
                    index |= ((lines[size_t(p * planeBytes + (x >> 3))] >> shift) & 1) << p;
                uint8_t& b = row[x >> 1];
                b = (x & 1) ? uint8_t(b | index) : uint8_t(index << 4);
            }
        } else {
            // Red, green and blue lines into blue-green-red triples.
            const uint8_t* r = lines.data();
            const uint8_t* g = r + planeBytes;
            const uint8_t* bl = g + planeBytes;
            for (int64_t x = 0; x < width; ++x) {
                row[x * 3] = bl[x];
                row[x * 3 + 1] = g[x];
                row[x * 3 + 2] = r[x];
            }
        }
    }
    return VESK_OK;
}

// Run-length encodes one line.
void encodeLine(const uint8_t* line, int64_t length, std::vector<uint8_t>& out)
{
    int64_t i = 0;
    while (i < length) {
        const uint8_t v = line[i];
        int64_t n = 1;
        while (i + n < length && n < 63 && line[i + n] == v)
            ++n;
        if (n > 1 || v >= 0xC0)
            out.push_back(uint8_t(0xC0 | n));
        out.push_back(v);
        i += n;
    }
}

int pcxWrite(const std::string&, TStream& stream, const std::string&, const VeskDescription& d,
             const VeskPalette& palette, const uint8_t* rows, int64_t rowsSize)
{
    const int bits = d.bitsPerPixel;
    const int64_t width = d.width, height = d.height;
    if (width > 65536 || height > 65536)
        return VESK_ERR_ARGUMENT;
    const int planes = bits == 24 ? 3 : 1;
    const int bitsPerPlane = bits == 24 ? 8 : bits;
    if (pictureBits(bitsPerPlane, planes) != bits)
        return VESK_ERR_UNSUPPORTED;
    const int64_t stride = VeskRowStride(width, bits);
    if (stride * height > rowsSize)
        return VESK_ERR_ARGUMENT;
    const int64_t planeBytes = (width * bitsPerPlane + 7) / 8;
    const int64_t bytesPerLine = (planeBytes + 1) & ~int64_t(1);
    if (bytesPerLine > 0xFFFF)
        return VESK_ERR_ARGUMENT;

    uint8_t h[kHeaderSize]{};
    h[0] = 10;
    h[1] = 5;
    h[2] = 1;
    h[3] = uint8_t(bitsPerPlane);
    putU16(h + 8, unsigned(width - 1));
    putU16(h + 10, unsigned(height - 1));
    putU16(h + 12, 96);
    putU16(h + 14, 96);
    if (bits <= 4)
        for (int i = 0; i < 16; ++i) {
            h[16 + i * 3] = palette.entries[i].red;
            h[17 + i * 3] = palette.entries[i].green;
            h[18 + i * 3] = palette.entries[i].blue;
        }
    h[65] = uint8_t(planes);
    putU16(h + 66, unsigned(bytesPerLine));
    putU16(h + 68, 1);
    if (stream.Write(h, kHeaderSize) != kHeaderSize)
        return VESK_ERR_WRITE;

    std::vector<uint8_t> line(size_t(bytesPerLine) * size_t(planes));
    std::vector<uint8_t> out;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = rows + (height - 1 - y) * stride;
        std::fill(line.begin(), line.end(), 0);
        if (planes == 1) {
            std::memcpy(line.data(), row, size_t(planeBytes));
        } else {
            for (int64_t x = 0; x < width; ++x) {
                line[size_t(x)] = row[x * 3 + 2];
                line[size_t(bytesPerLine + x)] = row[x * 3 + 1];
                line[size_t(2 * bytesPerLine + x)] = row[x * 3];
            }
        }
        out.clear();
        for (int p = 0; p < planes; ++p)
            encodeLine(line.data() + p * bytesPerLine, bytesPerLine, out);
        if (stream.Write(out.data(), int64_t(out.size())) != int64_t(out.size()))
            return VESK_ERR_WRITE;
    }
    if (bits == 8) {
        uint8_t trailer[kTrailerSize];
        trailer[0] = kTrailerMark;
        for (int i = 0; i < 256; ++i) {
            trailer[1 + i * 3] = palette.entries[i].red;
            trailer[2 + i * 3] = palette.entries[i].green;
            trailer[3 + i * 3] = palette.entries[i].blue;
        }
        if (stream.Write(trailer, kTrailerSize) != kTrailerSize)
            return VESK_ERR_WRITE;
    }
    return VESK_OK;
}

}  // namespace

const VeskCodec kPcxCodec{
    "PCX",
    "ZSoft PC Paintbrush Image format",
    VESK_READ_1 | VESK_READ_4 | VESK_READ_8 | VESK_READ_24 | VESK_WRITE_1 | VESK_WRITE_4 | VESK_WRITE_8 | VESK_WRITE_24,
    "PCX PCC",
    pcxReadHeader,
    pcxReadPalette,
    pcxReadData,
    pcxWrite,
};
