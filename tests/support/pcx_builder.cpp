// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/pcx_builder.h"

#include "support/bmp_builder.h"

#include <algorithm>

namespace pcx_fixture {

using namespace le_bytes;

uint16_t effectiveBytesPerLine(const PcxFile& f)
{
    if (f.bytesPerLine)
        return f.bytesPerLine;
    const int width = int(f.xMax) - int(f.xMin) + 1;
    const int bytes = (width * f.bitsPerPlane + 7) / 8;
    return uint16_t((bytes + 1) & ~1);
}

std::vector<uint8_t> rleEncode(const std::vector<uint8_t>& data, size_t lineLength)
{
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < data.size()) {
        const size_t lineEnd = lineLength ? (i / lineLength + 1) * lineLength : data.size();
        const uint8_t v = data[i];
        size_t n = 1;
        while (i + n < std::min(lineEnd, data.size()) && n < 63 && data[i + n] == v)
            ++n;
        if (n > 1 || v >= 0xC0)
            out.push_back(uint8_t(0xC0 | n));
        out.push_back(v);
        i += n;
    }
    return out;
}

std::vector<uint8_t> build(const PcxFile& f)
{
    std::vector<uint8_t> out;
    put8(out, f.manufacturer);
    put8(out, f.version);
    put8(out, f.encoding);
    put8(out, f.bitsPerPlane);
    put16(out, f.xMin);
    put16(out, f.yMin);
    put16(out, f.xMax);
    put16(out, f.yMax);
    put16(out, f.hDpi);
    put16(out, f.vDpi);
    out.insert(out.end(), f.palette16.begin(), f.palette16.end());
    put8(out, 0);
    put8(out, f.planes);
    put16(out, effectiveBytesPerLine(f));
    put16(out, 1);
    out.resize(128, 0);
    if (f.headerLength < 128) {
        out.resize(f.headerLength);
        return out;
    }
    if (!f.rawData.empty())
        putBytes(out, f.rawData);
    else
        putBytes(out, rleEncode(f.lines, effectiveBytesPerLine(f)));
    if (f.withTrailer) {
        put8(out, f.trailerMark);
        out.insert(out.end(), f.palette256.begin(), f.palette256.end());
    }
    return out;
}

std::vector<uint8_t> linesFor(int width, int height, int bitsPerPlane, int planes, uint16_t bpl,
                              const std::vector<uint32_t>& pixels)
{
    std::vector<uint8_t> lines(size_t(height) * size_t(planes) * bpl, 0);
    for (int y = 0; y < height; ++y)
        for (int p = 0; p < planes; ++p) {
            uint8_t* line = lines.data() + (size_t(y) * size_t(planes) + size_t(p)) * bpl;
            for (int x = 0; x < width; ++x) {
                const uint32_t v = pixels[size_t(y) * size_t(width) + size_t(x)];
                if (bitsPerPlane == 8 && planes == 3) {
                    line[x] = uint8_t(v >> (16 - 8 * p));  // red, green, blue lines
                } else if (bitsPerPlane == 8) {
                    line[x] = uint8_t(v);
                } else if (bitsPerPlane == 4) {
                    line[x / 2] |= uint8_t((x % 2) ? (v & 0x0F) : (v << 4));
                } else {
                    const uint32_t bit = planes == 4 ? (v >> p) & 1 : v & 1;
                    if (bit)
                        line[x / 8] |= uint8_t(0x80 >> (x % 8));
                }
            }
        }
    return lines;
}

std::vector<uint8_t> buildDcx(const std::vector<std::vector<uint8_t>>& pages)
{
    std::vector<uint8_t> out;
    put32(out, 987654321);
    uint32_t offset = uint32_t(4 + 4 * (pages.size() + 1));
    for (const auto& page : pages) {
        put32(out, offset);
        offset += uint32_t(page.size());
    }
    put32(out, 0);
    for (const auto& page : pages)
        putBytes(out, page);
    return out;
}

}  // namespace pcx_fixture
