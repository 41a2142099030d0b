// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/metafile_builder.h"

#include "support/bmp_builder.h"

namespace metafile_fixture {

using namespace le_bytes;

std::vector<uint8_t> wmfRecord(uint16_t function, const std::vector<int16_t>& params)
{
    std::vector<uint8_t> out;
    put32(out, uint32_t(3 + params.size()));
    put16(out, function);
    for (int16_t p : params)
        put16(out, uint16_t(p));
    return out;
}

namespace {

std::vector<int16_t> colourRef(uint8_t r, uint8_t g, uint8_t b)
{
    const uint32_t v = uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
    return {int16_t(v & 0xFFFF), int16_t(v >> 16)};
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

}  // namespace

std::vector<uint8_t> wmfFillRecords(int16_t orgX, int16_t orgY, int16_t extX, int16_t extY,
                                    const std::vector<FilledRect>& rects)
{
    std::vector<uint8_t> out;
    append(out, wmfRecord(0x020B, {orgY, orgX}));  // SetWindowOrg
    append(out, wmfRecord(0x020C, {extY, extX}));  // SetWindowExt
    // A null pen (object 0), selected once.
    std::vector<int16_t> pen = {5, 0, 0};
    for (int16_t c : colourRef(0, 0, 0))
        pen.push_back(c);
    append(out, wmfRecord(0x02FA, pen));  // CreatePenIndirect
    append(out, wmfRecord(0x012D, {0}));  // SelectObject
    for (const FilledRect& r : rects) {
        std::vector<int16_t> brush = {0};  // solid
        for (int16_t c : colourRef(r.r, r.g, r.b))
            brush.push_back(c);
        brush.push_back(0);
        append(out, wmfRecord(0x02FC, brush));  // CreateBrushIndirect: object 1
        append(out, wmfRecord(0x012D, {1}));
        append(out, wmfRecord(0x041B, {int16_t(r.bottom), int16_t(r.right), int16_t(r.top), int16_t(r.left)}));
        append(out, wmfRecord(0x01F0, {1}));  // DeleteObject
    }
    return out;
}

std::vector<uint8_t> wmfTextOut(int16_t x, int16_t y, const std::string& text)
{
    std::vector<int16_t> params = {int16_t(text.size())};
    for (size_t i = 0; i < text.size(); i += 2)
        params.push_back(int16_t(uint8_t(text[i]) | ((i + 1 < text.size() ? uint8_t(text[i + 1]) : 0) << 8)));
    params.push_back(y);
    params.push_back(x);
    return wmfRecord(0x0521, params);
}

std::vector<uint8_t> packedDib24(int32_t width, int32_t height, uint32_t colour, int64_t pixelBytes)
{
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, uint32_t(width));
    put32(out, uint32_t(height));
    put16(out, 1);
    put16(out, 24);
    for (int i = 0; i < 6; ++i)
        put32(out, 0);
    const int64_t stride = ((int64_t(width) * 24 + 31) / 32) * 4;
    const int64_t rows = height < 0 ? -int64_t(height) : height;
    const int64_t bytes = pixelBytes >= 0 ? pixelBytes : stride * rows;
    for (int64_t i = 0; i < bytes; ++i) {
        const int64_t inRow = stride > 0 ? i % stride : 0;
        const int64_t x = inRow / 3, c = inRow % 3;
        out.push_back(x < width ? uint8_t(colour >> (8 * c)) : 0);
    }
    return out;
}

std::vector<uint8_t> wmfStretchDib(int16_t x, int16_t y, int16_t cx, int16_t cy, int16_t width, int16_t height,
                                   const std::vector<uint8_t>& dib)
{
    // Raster operation SRCCOPY, colour usage, source height, width, y, x,
    // destination height, width, y, x, then the bitmap.
    std::vector<uint8_t> params;
    put32(params, 0x00CC0020);
    for (int16_t v : {int16_t(0), height, width, int16_t(0), int16_t(0), cy, cx, y, x})
        put16(params, uint16_t(v));
    append(params, dib);
    if (params.size() % 2)
        params.push_back(0);
    std::vector<uint8_t> out;
    put32(out, uint32_t(3 + params.size() / 2));
    put16(out, 0x0F43);
    append(out, params);
    return out;
}

std::vector<uint8_t> placeableWmf(int16_t left, int16_t top, int16_t right, int16_t bottom, uint16_t inch,
                                  const std::vector<uint8_t>& records, bool correctChecksum)
{
    std::vector<uint8_t> out;
    put32(out, 0x9AC6CDD7);
    put16(out, 0);
    put16(out, uint16_t(left));
    put16(out, uint16_t(top));
    put16(out, uint16_t(right));
    put16(out, uint16_t(bottom));
    put16(out, inch);
    put32(out, 0);
    uint16_t sum = 0;
    for (int i = 0; i < 10; ++i)
        sum ^= uint16_t(out[size_t(2 * i)] | (out[size_t(2 * i + 1)] << 8));
    put16(out, correctChecksum ? sum : uint16_t(sum ^ 1));

    const std::vector<uint8_t> end = wmfRecord(0, {});
    const size_t words = (18 + records.size() + end.size()) / 2;
    put16(out, 1);       // memory metafile
    put16(out, 9);       // header size in words
    put16(out, 0x0300);  // version
    put32(out, uint32_t(words));
    put16(out, 2);   // objects
    put32(out, 16);  // largest record in words
    put16(out, 0);
    append(out, records);
    append(out, end);
    return out;
}

std::vector<uint8_t> emfRecord(uint32_t type, const std::vector<int32_t>& payload)
{
    std::vector<uint8_t> out;
    put32(out, type);
    put32(out, uint32_t(8 + 4 * payload.size()));
    for (int32_t v : payload)
        put32(out, uint32_t(v));
    return out;
}

std::vector<uint8_t> emfFillRecords(const std::vector<FilledRect>& rects)
{
    std::vector<uint8_t> out;
    append(out, emfRecord(37, {int32_t(0x80000008)}));  // SelectObject: the stock null pen
    for (const FilledRect& r : rects) {
        const int32_t colour = int32_t(uint32_t(r.r) | (uint32_t(r.g) << 8) | (uint32_t(r.b) << 16));
        append(out, emfRecord(39, {1, 0, colour, 0}));                   // CreateBrushIndirect: object 1, solid
        append(out, emfRecord(37, {1}));                                 // SelectObject
        append(out, emfRecord(43, {r.left, r.top, r.right, r.bottom}));  // Rectangle
        append(out, emfRecord(40, {1}));                                 // DeleteObject
    }
    return out;
}

std::vector<uint8_t> emfTextOut(int32_t x, int32_t y, const std::string& text)
{
    // Bounds, graphics mode, scales, then the text object: reference point,
    // character count, offset of the string from the record's start, options,
    // rectangle, offset of the spacing values.
    const int32_t stringOffset = 8 + 28 + 40;
    const int32_t chars = int32_t(text.size());
    const int32_t stringBytes = (chars * 2 + 3) & ~3;
    std::vector<int32_t> payload = {0,
                                    0,
                                    100,
                                    100,
                                    1,
                                    0x3F800000,
                                    0x3F800000,
                                    x,
                                    y,
                                    chars,
                                    stringOffset,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    stringOffset + stringBytes};
    std::vector<uint8_t> out = emfRecord(84, payload);
    for (char c : text) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    out.resize(size_t(stringOffset + stringBytes), 0);
    for (int32_t i = 0; i < chars; ++i)
        put32(out, 8);  // spacing
    set32(out, 4, uint32_t(out.size()));
    return out;
}

std::vector<uint8_t> emfStretchDibits(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t width, int32_t height,
                                      const std::vector<uint8_t>& dib)
{
    const uint32_t bmiSize = 40, bitsSize = uint32_t(dib.size() - 40);
    std::vector<int32_t> payload = {x,
                                    y,
                                    x + cx,
                                    y + cy,  // bounds
                                    x,
                                    y,
                                    0,
                                    0,
                                    width,
                                    height,  // destination, source
                                    80,
                                    int32_t(bmiSize),
                                    80 + int32_t(bmiSize),
                                    int32_t(bitsSize),
                                    0,
                                    0x00CC0020,
                                    cx,
                                    cy};  // usage, SRCCOPY, destination size
    std::vector<uint8_t> out = emfRecord(81, payload);
    append(out, dib);
    while (out.size() % 4)
        out.push_back(0);
    set32(out, 4, uint32_t(out.size()));
    return out;
}

std::vector<uint8_t> enhancedMetafile(const EmfHeader& h, const std::vector<uint8_t>& records)
{
    std::vector<uint8_t> out;
    put32(out, 1);
    put32(out, 88);
    for (int32_t v : h.bounds)
        put32(out, uint32_t(v));
    for (int32_t v : h.frame)
        put32(out, uint32_t(v));
    put32(out, 0x464D4520);  // " EMF"
    put32(out, 0x10000);
    put32(out, 0);  // total size, filled in below
    put32(out, 0);  // record count, filled in below
    put16(out, 2);  // handles
    put16(out, 0);
    put32(out, 0);  // no description
    put32(out, 0);
    put32(out, 0);  // no palette
    put32(out, uint32_t(h.devicePixels[0]));
    put32(out, uint32_t(h.devicePixels[1]));
    put32(out, uint32_t(h.deviceMillimetres[0]));
    put32(out, uint32_t(h.deviceMillimetres[1]));
    append(out, records);
    append(out, emfRecord(14, {0, 16, 20}));  // EOF
    // Records: the header, the end and those given.
    uint32_t count = 2;
    for (size_t at = 88; at + 8 <= out.size() - 20;) {
        const uint32_t size = uint32_t(out[at + 4] | (out[at + 5] << 8) | (out[at + 6] << 16) | (out[at + 7] << 24));
        if (size < 8)
            break;
        at += size;
        ++count;
    }
    set32(out, 48, uint32_t(out.size()));
    set32(out, 52, count);
    return out;
}

}  // namespace metafile_fixture
