// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/tga_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tga_fixture {

namespace {
void putU16(std::vector<uint8_t>& out, size_t offset, unsigned value)
{
    out[offset] = uint8_t(value & 0xFF);
    out[offset + 1] = uint8_t(value >> 8);
}

bool samePixel(const std::vector<uint8_t>& p, size_t a, size_t b, int pb)
{
    return std::memcmp(&p[a * pb], &p[b * pb], size_t(pb)) == 0;
}

void appendRaw(std::vector<uint8_t>& out, const std::vector<uint8_t>& p, size_t first, size_t count, int pb)
{
    out.push_back(uint8_t(count - 1));
    out.insert(out.end(), p.begin() + long(first * pb), p.begin() + long((first + count) * pb));
}

void appendRun(std::vector<uint8_t>& out, const std::vector<uint8_t>& p, size_t first, size_t count, int pb)
{
    out.push_back(uint8_t(0x80 | (count - 1)));
    out.insert(out.end(), p.begin() + long(first * pb), p.begin() + long((first + 1) * pb));
}

// Encodes pixels [begin, end) greedily.
void encodeSpan(std::vector<uint8_t>& out, const std::vector<uint8_t>& p, size_t begin, size_t end, int pb,
                RlePackets style)
{
    size_t i = begin;
    while (i < end) {
        if (style == RlePackets::RawOnly) {
            const size_t n = std::min<size_t>(128, end - i);
            appendRaw(out, p, i, n, pb);
            i += n;
            continue;
        }
        size_t run = 1;
        while (i + run < end && run < 128 && samePixel(p, i, i + run, pb))
            ++run;
        if (run >= 2 || style == RlePackets::RunsOnly) {
            appendRun(out, p, i, run, pb);
            i += run;
            continue;
        }
        // Raw packet up to the next pair of equal pixels.
        size_t n = 1;
        while (i + n < end && n < 128 && !(i + n + 1 < end && samePixel(p, i + n, i + n + 1, pb)))
            ++n;
        appendRaw(out, p, i, n, pb);
        i += n;
    }
}
}  // namespace

std::vector<uint8_t> TgaFile::header() const
{
    std::vector<uint8_t> h(18, 0);
    h[0] = uint8_t(imageId.size());
    h[1] = colorMapType;
    h[2] = imageType;
    putU16(h, 3, mapFirst);
    putU16(h, 5, mapLength);
    h[7] = mapEntrySize;
    putU16(h, 12, width);
    putU16(h, 14, height);
    h[16] = bitsPerPixel;
    h[17] = descriptor;
    return h;
}

std::vector<uint8_t> TgaFile::bytes() const
{
    if (imageId.size() > 255)
        throw std::invalid_argument("image ID longer than 255 bytes");
    std::vector<uint8_t> out = header();
    out.insert(out.end(), imageId.begin(), imageId.end());
    out.insert(out.end(), colorMap.begin(), colorMap.end());
    out.insert(out.end(), pixelData.begin(), pixelData.end());
    return out;
}

std::vector<uint8_t> encodeRle(const std::vector<uint8_t>& pixels, int bytesPerPixel, int width, RlePackets style)
{
    if (pixels.empty())
        return {};
    if (bytesPerPixel < 1 || width < 1 || pixels.size() % size_t(bytesPerPixel) != 0)
        throw std::invalid_argument("bad pixel layout");
    const size_t count = pixels.size() / size_t(bytesPerPixel);
    std::vector<uint8_t> out;
    if (style == RlePackets::PerRow) {
        for (size_t row = 0; row < count; row += size_t(width))
            encodeSpan(out, pixels, row, std::min(count, row + size_t(width)), bytesPerPixel, RlePackets::Greedy);
    } else {
        encodeSpan(out, pixels, 0, count, bytesPerPixel, style);
    }
    return out;
}

TgaFile makeTga(int imageType, int bitsPerPixel, int width, int height, const std::vector<uint8_t>& storedPixels,
                uint8_t descriptor, RlePackets style, const std::vector<uint8_t>& colorMap, uint16_t mapFirst)
{
    TgaFile f;
    f.imageType = uint8_t(imageType);
    f.bitsPerPixel = uint8_t(bitsPerPixel);
    f.width = uint16_t(width);
    f.height = uint16_t(height);
    f.descriptor = descriptor;
    const int baseType = imageType & ~8;
    if (baseType == 1) {
        f.colorMapType = 1;
        f.mapFirst = mapFirst;
        f.mapLength = uint16_t(colorMap.size() / 3);
        f.mapEntrySize = 24;
        f.colorMap = colorMap;
    }
    const int pb = (bitsPerPixel + 7) / 8;
    if (imageType & 8)
        f.pixelData = encodeRle(storedPixels, pb, width, style);
    else
        f.pixelData = storedPixels;
    return f;
}

std::vector<uint8_t> patternPixels(int count, int bytesPerPixel, uint32_t seed)
{
    std::vector<uint8_t> out;
    out.reserve(size_t(count) * size_t(bytesPerPixel));
    uint32_t state = seed * 2654435761u + 1;
    int i = 0;
    while (i < count) {
        state = state * 1664525u + 1013904223u;
        // Every fourth stretch repeats one pixel, the others vary per pixel.
        const int stretch = 1 + int((state >> 24) % 40);
        const bool repeat = ((state >> 8) & 3) == 0;
        for (int k = 0; k < stretch && i < count; ++k, ++i) {
            const uint32_t v = repeat ? state : state ^ (uint32_t(i) * 2246822519u);
            for (int b = 0; b < bytesPerPixel; ++b)
                out.push_back(uint8_t(v >> (8 * (b % 4)) ^ uint8_t(b * 37)));
        }
    }
    return out;
}

}  // namespace tga_fixture
