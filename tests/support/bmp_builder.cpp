// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/bmp_builder.h"

#include <algorithm>

namespace le_bytes {
void put8(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
}
void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v);
    put16(out, v >> 16);
}
void putBytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}
void set16(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}
void set32(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    set16(out, at, v);
    set16(out, at + 2, v >> 16);
}
}  // namespace le_bytes

namespace bmp_fixture {

using namespace le_bytes;

std::vector<uint8_t> packRawRows(int width, int height, int bits, const std::vector<uint32_t>& values, bool topDown)
{
    const size_t stride = size_t((width * bits + 31) / 32) * 4;
    const int bytes = bits / 8;
    std::vector<uint8_t> rows(stride * size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rows.data() + size_t(topDown ? y : height - 1 - y) * stride;
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < bytes; ++k)
                row[x * bytes + k] = uint8_t(values[size_t(y) * size_t(width) + size_t(x)] >> (8 * k));
    }
    return rows;
}

std::vector<uint8_t> packRows(int width, int height, int bits, const std::vector<uint32_t>& pixels)
{
    const size_t stride = size_t((width * bits + 31) / 32) * 4;
    std::vector<uint8_t> rows(stride * size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rows.data() + size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const uint32_t v = pixels[size_t(y) * size_t(width) + size_t(x)];
            switch (bits) {
            case 1:
                if (v)
                    row[x / 8] |= uint8_t(0x80 >> (x % 8));
                break;
            case 4: row[x / 2] |= uint8_t((x % 2) ? (v & 0x0F) : (v << 4)); break;
            case 8: row[x] = uint8_t(v); break;
            case 16: {
                const uint32_t p = (((v >> 19) & 0x1F) << 11) | (((v >> 10) & 0x3F) << 5) | ((v >> 3) & 0x1F);
                row[x * 2] = uint8_t(p);
                row[x * 2 + 1] = uint8_t(p >> 8);
                break;
            }
            case 24:
                row[x * 3] = uint8_t(v);
                row[x * 3 + 1] = uint8_t(v >> 8);
                row[x * 3 + 2] = uint8_t(v >> 16);
                break;
            case 32:
                row[x * 4] = uint8_t(v);
                row[x * 4 + 1] = uint8_t(v >> 8);
                row[x * 4 + 2] = uint8_t(v >> 16);
                row[x * 4 + 3] = 0;
                break;
            }
        }
    }
    return rows;
}

size_t dataOffset(const BmpFile& f)
{
    const size_t entry = f.headerSize == 12 ? 3 : 4;
    const size_t masksAfter = f.headerSize >= 52 ? 0 : f.masks.size() * 4;
    return (f.bitmapArray ? 14 : 0) + 14 + f.headerSize + masksAfter + f.palette.size() * entry;
}

std::vector<uint8_t> build(const BmpFile& f)
{
    std::vector<uint8_t> out;
    const size_t offset = dataOffset(f);
    const size_t total = offset + f.data.size();
    if (f.bitmapArray) {
        out.push_back('B');
        out.push_back('A');
        put32(out, 14);  // size of this header
        put32(out, 0);   // no next array entry
        put16(out, 640);
        put16(out, 480);
    }
    out.push_back('B');
    out.push_back('M');
    put32(out, uint32_t(total - (f.bitmapArray ? 14 : 0)));
    put16(out, 0);
    put16(out, 0);
    put32(out, uint32_t(int64_t(offset) + f.dataOffsetDelta));
    put32(out, f.headerSize);
    if (f.headerSize == 12) {
        put16(out, uint32_t(f.width));
        put16(out, uint32_t(f.height));
        put16(out, f.planes);
        put16(out, f.bits);
    } else {
        std::vector<uint8_t> h;
        put32(h, uint32_t(f.width));
        put32(h, uint32_t(f.height));
        put16(h, f.planes);
        put16(h, f.bits);
        put32(h, f.compression);
        put32(h, uint32_t(f.data.size()));
        put32(h, uint32_t(f.pelsPerMeterX));
        put32(h, uint32_t(f.pelsPerMeterY));
        put32(h, f.colorsUsed);
        put32(h, 0);
        if (f.headerSize >= 52)
            for (uint32_t m : f.masks)
                put32(h, m);
        h.resize(std::max<size_t>(h.size(), f.headerSize), 0);
        h.resize(f.headerSize - 4);
        putBytes(out, h);
    }
    if (f.headerSize < 52)
        for (uint32_t m : f.masks)
            put32(out, m);
    for (const Rgb& c : f.palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        if (f.headerSize != 12)
            out.push_back(0);
    }
    putBytes(out, f.data);
    return out;
}

std::vector<Rgb> greyPalette(int count)
{
    std::vector<Rgb> p;
    for (int i = 0; i < count; ++i) {
        const uint8_t v = uint8_t(count > 1 ? i * 255 / (count - 1) : 0);
        p.push_back({v, v, v});
    }
    return p;
}

}  // namespace bmp_fixture
