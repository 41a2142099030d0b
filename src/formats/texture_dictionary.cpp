// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/texture_dictionary.h"

#include "formats/sectioned_dictionary_layout.h"
#include "formats/texture_dictionary_layout.h"
#include "platform/byte_order.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

using namespace TxdLayout;

namespace {

std::string fixedName(const uint8_t* field, int64_t length)
{
    const auto* chars = reinterpret_cast<const char*>(field);
    const void* nul = std::memchr(chars, 0, static_cast<size_t>(length));
    return std::string(chars,
                       nul ? static_cast<size_t>(static_cast<const char*>(nul) - chars) : static_cast<size_t>(length));
}

// Reads the dictionary's small pieces (headers, size fields) through one
// window of the file, so a dictionary of many small textures takes a few
// reads rather than several per texture. Texels are skipped, never read.
class PieceReader {
public:
    explicit PieceReader(TStream& stream) : stream_(stream) {}

    // Exactly `count` bytes at `offset` into `out`; false when the stream has fewer.
    bool readAt(int64_t offset, void* out, int64_t count)
    {
        if (offset < windowStart_ || offset + count > windowStart_ + int64_t(window_.size())) {
            window_.resize(size_t(std::max<int64_t>(count, kWindow)));
            if (stream_.Seek(offset, SeekOrigin::Begin) != offset) {
                window_.clear();
                return false;
            }
            window_.resize(size_t(std::max<int64_t>(stream_.ReadFully(window_.data(), int64_t(window_.size())), 0)));
            windowStart_ = offset;
            if (int64_t(window_.size()) < count)
                return false;
        }
        std::memcpy(out, window_.data() + (offset - windowStart_), size_t(count));
        return true;
    }

private:
    static constexpr int64_t kWindow = 16 * 1024;
    TStream& stream_;
    std::vector<uint8_t> window_;
    int64_t windowStart_ = 0;
};

struct Section {
    uint32_t type = 0;
    int64_t size = 0;
};

// The section header at `offset`, when all 12 bytes lie before `end`.
bool readSection(PieceReader& reader, int64_t offset, int64_t end, Section& out)
{
    uint8_t h[TxdSections::kSectionHeaderSize];
    if (offset < 0 || end - offset < TxdSections::kSectionHeaderSize || !reader.readAt(offset, h, sizeof h))
        return false;
    out.type = readLe32(h);
    out.size = readLe32(h + 4);
    return true;
}

// True when the entry starts with the headers of a sectioned dictionary: the
// dictionary section and its struct with the count, then a first texture
// whose texture and struct sections both lie inside the entry, or no texture
// at all. Sections of other types before the first texture are passed over
// as far as the dictionary section reaches; when they fill it, it holds no
// texture.
bool isSectionedDictionary(PieceReader& reader, int64_t at, int64_t end)
{
    using namespace TxdSections;
    Section dict, info, texture, texStruct, other;
    if (!readSection(reader, at, end, dict) || dict.type != kTypeDictionary
        || !readSection(reader, at + kDictionaryStructOffset, end, info) || info.type != kTypeStruct
        || info.size < kDictionaryStructSize || end - at < TxdSections::kFirstTextureOffset)
        return false;
    const int64_t dictEnd = std::min(end, at + kSectionHeaderSize + dict.size);
    int64_t t = at + TxdSections::kFirstTextureOffset;
    bool passedOver = false;
    while (readSection(reader, t, dictEnd, other) && other.type != kTypeTexture
           && other.size <= dictEnd - t - kSectionHeaderSize) {
        t += kSectionHeaderSize + other.size;
        passedOver = true;
    }
    if (!readSection(reader, t, passedOver ? dictEnd : end, texture))
        return !passedOver || t == dictEnd;  // no texture at all: an empty sectioned dictionary
    return texture.type == kTypeTexture && texture.size <= end - t - kSectionHeaderSize
           && readSection(reader, t + kTextureStructOffset, end, texStruct) && texStruct.type == kTypeStruct
           && texStruct.size <= texture.size - kSectionHeaderSize;
}

}  // namespace

namespace {

// The row of the table a sectioned header names; nullptr for none.
//   older header: with the 8-bit palette flag the paletted row (compression
//   0); otherwise the row of its compression byte, and for compression 0 the
//   uncompressed row of its raster layout;
//   newer header: the row of its format code.
const LayoutRow* sectionedHeaderRow(uint32_t platform, bool palette8, uint8_t compression, uint32_t rasterLayout,
                                    uint32_t code)
{
    using namespace TxdSections;
    for (const LayoutRow& row : kLayoutRows) {
        if (row.format == TexelFormat::Unknown || row.plainKind != 0)
            continue;
        bool match = false;
        if (platform == kPlatformOlder) {
            const bool paletted = row.codec == TexelCodec::Palette8;
            match = paletted == palette8 && row.olderCompression >= 0 && uint8_t(row.olderCompression) == compression
                    && (paletted || compression != 0 || row.rasterLayout == rasterLayout);
        } else if (platform == kPlatformNewer) {
            match = row.newerCode == code;
        }
        if (match)
            return &row;
    }
    return nullptr;
}

}  // namespace

TexelLayout sectionedTexelLayout(const uint8_t* header)
{
    using namespace TxdSections;
    TexelLayout layout;
    const uint32_t platform = readLe32(header + kPlatformOffset);
    const uint32_t rasterFormat = readLe32(header + kRasterFormatOffset);
    const uint32_t code = readLe32(header + kAlphaOrCodeOffset);
    const uint32_t pixelLayout = layoutOfRasterFormat(rasterFormat);
    const uint8_t depth = header[kDepthOffset];
    const uint8_t levels = header[kLevelsOffset];
    const uint8_t last = header[kCompressionOffset];
    layout.width = readLe16(header + TxdSections::kWidthOffset);
    layout.height = readLe16(header + TxdSections::kHeightOffset);
    layout.levels = levels;
    if (header[kRasterTypeOffset] != kRasterTypeTexture || levels == 0 || layout.width == 0 || layout.height == 0
        || (rasterFormat & kFlagPalette4) != 0)
        return {};
    if (platform == kPlatformNewer && (last & kFlagCubeMap) != 0)
        return {};
    const bool palette8 = (rasterFormat & kFlagPalette8) != 0;
    const LayoutRow* row = sectionedHeaderRow(platform, palette8, last, pixelLayout, code);
    // The palette flag and the layout must agree: a palette with texels that
    // are no indices (or indices without a palette) is not read. The depth
    // byte must be that of an uncompressed layout.
    if (!row || palette8 != (row->codec == TexelCodec::Palette8)
        || (row->codec != TexelCodec::Block && depth != row->depth))
        return {};
    layout.format = row->format;
    layout.dxt1Alpha = row->rasterLayoutOneBitAlpha != 0 && pixelLayout == row->rasterLayoutOneBitAlpha;
    return layout;
}

std::string TextureRow::dimensions() const
{
    return std::to_string(width) + "x" + std::to_string(height);
}

TexelLayout textureRowLayout(const TextureRow& row)
{
    if (!row.hasData)
        return {};
    if (row.sectioned)
        return row.layout;
    const LayoutRow* kind = plainKindRow(row.kind);
    TexelLayout layout;
    layout.format = kind ? kind->format : TexelFormat::Unknown;
    layout.width = row.width;
    layout.height = row.height;
    return layout;
}

const char* textureTypeName(uint32_t kind)
{
    const LayoutRow* row = plainKindRow(kind);
    return row ? row->typeName : "";
}

namespace {

// A texture of a sectioned dictionary at `t`, whose section (12 + `size`
// bytes) lies inside the entry: the row, with its kind fields only when its
// layout is one that is read and every level lies inside the texture's
// struct section with the size its layout gives.
TextureRow sectionedTextureRow(PieceReader& reader, int64_t t, int64_t structEnd, int64_t n)
{
    using namespace TxdSections;
    uint8_t header[kHeaderEnd];
    TextureRow row;
    row.pos = n;
    row.sectioned = true;
    if (!reader.readAt(t, header, kHeaderEnd))
        return row;
    row.platform = readLe32(header + kPlatformOffset);
    row.name = fixedName(header + TxdSections::kNameOffset, TxdSections::kNameFieldSize);
    row.maskName = fixedName(header + TxdSections::kMaskNameOffset, TxdSections::kNameFieldSize);
    row.width = readLe16(header + TxdSections::kWidthOffset);
    row.height = readLe16(header + TxdSections::kHeightOffset);
    row.kind = readLe32(header + TxdLayout::kKindOffset);

    const TexelLayout layout = sectionedTexelLayout(header);
    if (layout.format == TexelFormat::Unknown)
        return row;
    const int64_t imagePos = t + kHeaderEnd;
    int64_t at = imagePos + (texelFormatIsPaletted(layout.format) ? TxdSections::kPaletteSize : 0);
    int64_t levelZero = 0;
    for (int k = 0; k < layout.levels; ++k) {
        uint8_t sizeField[4];
        if (structEnd - at < 4 || !reader.readAt(at, sizeField, 4))
            return row;
        const int64_t size = readLe32(sizeField);
        const int64_t want =
            texelLevelBytes(layout.format, mipLevelSize(layout.width, k), mipLevelSize(layout.height, k));
        if (size != want || size > structEnd - at - 4)
            return row;
        if (k == 0)
            levelZero = size;
        at += 4 + size;
    }
    row.hasData = true;
    row.layout = layout;
    row.type = texelFormatTypeName(layout.format);
    row.bits = header[kDepthOffset];
    row.paletted = texelFormatIsPaletted(layout.format);
    row.imagePos = imagePos;
    row.dataSize = levelZero;
    return row;
}

// The texture list of a sectioned dictionary at `at`, bounded by `end`.
// Every texture is reached through the sizes of the sections before it; a
// texture whose own sections are broken ends the list.
TextureListing readSectionedDictionary(PieceReader& reader, int64_t at, int64_t end)
{
    using namespace TxdSections;
    TextureListing listing;
    uint8_t countField[2];
    if (!reader.readAt(at + TxdSections::kCountOffset, countField, 2))
        return listing;
    listing.storedCount = readLe16(countField);
    // Sections of other types between the textures are passed over, as far
    // as the dictionary section reaches.
    Section dict;
    const int64_t dictEnd =
        readSection(reader, at, end, dict) ? std::min(end, at + kSectionHeaderSize + dict.size) : at;
    int64_t t = at + TxdSections::kFirstTextureOffset;
    for (int64_t n = 1; n <= listing.storedCount; ++n) {
        Section texture, texStruct, other;
        while (readSection(reader, t, dictEnd, other) && other.type != kTypeTexture
               && other.size <= dictEnd - t - kSectionHeaderSize)
            t += kSectionHeaderSize + other.size;
        if (!readSection(reader, t, end, texture) || texture.type != kTypeTexture
            || !readSection(reader, t + kTextureStructOffset, end, texStruct) || texStruct.type != kTypeStruct
            || end - t < kHeaderEnd) {
            listing.end = TextureListEnd::HeaderPastEnd;
            return listing;
        }
        const int64_t textureEnd = t + kSectionHeaderSize + texture.size;
        const int64_t structEnd = t + kTextureStructOffset + kSectionHeaderSize + texStruct.size;
        if (texture.size > end - t - kSectionHeaderSize || structEnd > textureEnd
            || texStruct.size < kStructHeaderFields) {
            // The header fields are there, but where the texture ends is not.
            TextureRow row = sectionedTextureRow(reader, t, t, n);
            listing.rows.push_back(std::move(row));
            listing.end = TextureListEnd::DataPastEnd;
            return listing;
        }
        listing.rows.push_back(sectionedTextureRow(reader, t, structEnd, n));
        t = textureEnd;
    }
    return listing;
}

}  // namespace

TextureListing readTextureDictionary(TStream& stream, int64_t dictionaryOffset, int64_t entryEnd)
{
    TextureListing listing;
    // The entry's end is the end of the file for everything below: no
    // texture reaches into the bytes of the next entry.
    const int64_t fileSize = std::clamp<int64_t>(entryEnd, 0, stream.Size());
    if (dictionaryOffset < 0 || dictionaryOffset > fileSize)
        return listing;
    PieceReader reader(stream);
    const int64_t end = fileSize;
    if (isSectionedDictionary(reader, dictionaryOffset, end))
        return readSectionedDictionary(reader, dictionaryOffset, end);
    uint8_t countField[4];
    if (fileSize - dictionaryOffset < kFirstTextureOffset
        || !reader.readAt(dictionaryOffset + kCountOffset, countField, 4))
        return listing;
    listing.storedCount = static_cast<int32_t>(readLe32(countField));

    int64_t at = dictionaryOffset + kFirstTextureOffset;
    uint8_t header[kTextureHeaderSize];
    for (int64_t n = 1; n <= listing.storedCount; ++n) {
        // Every texture needs its header; the count alone is never trusted.
        if (fileSize - at < kTextureHeaderSize || !reader.readAt(at, header, kTextureHeaderSize)) {
            listing.end = TextureListEnd::HeaderPastEnd;
            return listing;
        }
        TextureRow row;
        row.pos = n;
        row.name = fixedName(header + kNameOffset, kNameLength);
        row.maskName = fixedName(header + kMaskNameOffset, kMaskNameLength);
        row.width = readLe16(header + TxdSections::kWidthOffset);
        row.height = readLe16(header + TxdSections::kHeightOffset);
        row.kind = readLe32(header + kKindOffset);
        const int64_t imagePos = at + kTextureHeaderSize;

        if (bitsOfKind(row.kind) == 0) {
            listing.rows.push_back(std::move(row));
            listing.end = TextureListEnd::UnknownKind;
            return listing;
        }
        const int64_t sizeFieldPos = imagePos + (kindHasPalette(row.kind) ? kPaletteSize : 0);
        uint8_t sizeField[4];
        bool sound = fileSize - sizeFieldPos >= kDataSizeFieldSize && reader.readAt(sizeFieldPos, sizeField, 4);
        int64_t dataSize = 0;
        if (sound) {
            dataSize = static_cast<int32_t>(readLe32(sizeField));
            const int64_t texels = sizeFieldPos + kDataSizeFieldSize;
            sound = dataSize >= 0 && dataSize <= fileSize - texels;
        }
        if (!sound) {
            listing.rows.push_back(std::move(row));
            listing.end = TextureListEnd::DataPastEnd;
            return listing;
        }
        row.hasData = true;
        row.type = textureTypeName(row.kind);
        row.bits = bitsOfKind(row.kind);
        row.paletted = kindHasPalette(row.kind);
        row.imagePos = imagePos;
        row.dataSize = dataSize;
        listing.rows.push_back(std::move(row));
        at = sizeFieldPos + kDataSizeFieldSize + dataSize + kTrailerSize;
    }
    return listing;
}

bool isSectionedDictionary(const uint8_t* bytes, int64_t size)
{
    TReadOnlyMemoryStream stream(bytes, std::max<int64_t>(size, 0));
    PieceReader reader(stream);
    return isSectionedDictionary(reader, 0, stream.Size());
}

bool entryIsTextureDictionary(const std::string& entryName)
{
    return asciiLower(entryName).find(".txd") != std::string::npos;
}
