// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/texel_layout.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr size_t kSectionedRows = size_t(TexelFormat::Dxt5) + 1;

constexpr bool sectionedRowsInFormatOrder()
{
    for (size_t i = 0; i < kSectionedRows; ++i)
        if (kLayoutRows[i].format != TexelFormat(i) || kLayoutRows[i].plainKind != 0)
            return false;
    for (size_t i = kSectionedRows; i < std::size(kLayoutRows); ++i)
        if (kLayoutRows[i].plainKind == 0)
            return false;
    return true;
}
static_assert(sectionedRowsInFormatOrder(), "the sectioned rows come first, in TexelFormat order");

bool sameNameIgnoringCase(std::string_view a, const char* b)
{
    const std::string_view bv(b);
    return a.size() == bv.size() && std::equal(a.begin(), a.end(), bv.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

}  // namespace

const LayoutRow& layoutRow(TexelFormat format)
{
    const size_t i = size_t(format);
    return i < kSectionedRows ? kLayoutRows[i] : kLayoutRows[0];
}

const LayoutRow* layoutRowByName(std::string_view name)
{
    for (size_t i = 1; i < kSectionedRows; ++i)
        if (sameNameIgnoringCase(name, kLayoutRows[i].name))
            return &kLayoutRows[i];
    return nullptr;
}

const LayoutRow& plainRowOf(bool paletted, int bits)
{
    for (size_t i = kSectionedRows; i < std::size(kLayoutRows); ++i) {
        const LayoutRow& row = kLayoutRows[i];
        if (paletted ? row.codec == TexelCodec::Palette8 : (row.codec != TexelCodec::Palette8 && row.depth == bits))
            return row;
    }
    // Any other kind is shown as the one whose texels go into the TGA as stored.
    for (size_t i = kSectionedRows; i < std::size(kLayoutRows); ++i)
        if (kLayoutRows[i].plainTga == PlainTga::Stored16)
            return kLayoutRows[i];
    return kLayoutRows[0];
}

int mipLevelSize(int size, int level)
{
    return level >= 31 ? 1 : std::max(1, size >> level);
}

int fullLevelCount(int width, int height)
{
    int n = 1;
    for (int side = std::max(width, height); side > 1; side >>= 1)
        ++n;
    return n;
}

int64_t texelLevelBytes(TexelFormat format, int width, int height)
{
    const LayoutRow& row = layoutRow(format);
    if (row.bytesPerBlock != 0)
        return int64_t(std::max(1, (width + 3) / 4)) * std::max(1, (height + 3) / 4) * row.bytesPerBlock;
    return int64_t(width) * height * row.bytesPerPixel;
}

bool texelLayoutHasAlpha(const TexelLayout& layout)
{
    const LayoutRow& row = layoutRow(layout);
    return row.alpha || (layout.dxt1Alpha && row.rasterLayoutOneBitAlpha != 0);
}

bool texelFormatIsPaletted(TexelFormat format)
{
    return layoutRow(format).codec == TexelCodec::Palette8;
}

bool texelFormatIsCompressed(TexelFormat format)
{
    return layoutRow(format).codec == TexelCodec::Block;
}

const char* texelFormatTypeName(TexelFormat format)
{
    return layoutRow(format).typeName;
}

const char* texelFormatName(TexelFormat format)
{
    return layoutRow(format).name;
}

int64_t texelDataBytes(const TexelLayout& layout)
{
    int64_t total = texelFormatIsPaletted(layout.format) ? 1024 : 0;
    for (int k = 0; k < layout.levels; ++k)
        total += 4 + texelLevelBytes(layout.format, mipLevelSize(layout.width, k), mipLevelSize(layout.height, k));
    return total;
}
