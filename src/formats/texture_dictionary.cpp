#include "formats/texture_dictionary.h"

#include "formats/texture_dictionary_layout.h"
#include "platform/byte_order.h"
#include "platform/streams.h"

#include <cstring>

using namespace TxdLayout;

namespace {

std::string fixedName(const uint8_t* field, int64_t length)
{
    const auto* chars = reinterpret_cast<const char*>(field);
    const void* nul = std::memchr(chars, 0, static_cast<size_t>(length));
    return std::string(chars, nul ? static_cast<size_t>(static_cast<const char*>(nul) - chars)
                                  : static_cast<size_t>(length));
}

// Reads exactly `count` bytes at `offset`; false when the stream has fewer.
bool readAt(TStream& stream, int64_t offset, void* buffer, int64_t count)
{
    if (stream.Seek(offset, SeekOrigin::Begin) != offset)
        return false;
    return stream.ReadFully(buffer, count) == count;
}

} // namespace

std::string TextureRow::dimensions() const
{
    return std::to_string(width) + "x" + std::to_string(height);
}

const char* textureTypeName(uint32_t kind)
{
    switch (kind) {
    case kKindPaletted8:
        return "8bit paletted";
    case kKind16:
        return "16bit";
    case kKind32:
        return "32bit";
    default:
        return "";
    }
}

TextureListing readTextureDictionary(TStream& stream, int64_t dictionaryOffset)
{
    TextureListing listing;
    const int64_t fileSize = stream.Size();
    if (dictionaryOffset < 0 || dictionaryOffset > fileSize)
        return listing;
    uint8_t countField[4];
    if (fileSize - dictionaryOffset < kFirstTextureOffset ||
        !readAt(stream, dictionaryOffset + kCountOffset, countField, 4))
        return listing;
    listing.storedCount = static_cast<int32_t>(readLe32(countField));

    int64_t at = dictionaryOffset + kFirstTextureOffset;
    uint8_t header[kTextureHeaderSize];
    for (int64_t n = 1; n <= listing.storedCount; ++n) {
        // Every texture needs its header; the count alone is never trusted.
        if (fileSize - at < kTextureHeaderSize || !readAt(stream, at, header, kTextureHeaderSize)) {
            listing.end = TextureListEnd::HeaderPastEnd;
            return listing;
        }
        TextureRow row;
        row.pos = n;
        row.name = fixedName(header + kNameOffset, kNameLength);
        row.maskName = fixedName(header + kMaskNameOffset, kMaskNameLength);
        row.width = readLe16(header + kWidthOffset);
        row.height = readLe16(header + kHeightOffset);
        row.kind = readLe32(header + kKindOffset);
        const int64_t imagePos = at + kTextureHeaderSize;

        if (bitsOfKind(row.kind) == 0) {
            listing.rows.push_back(std::move(row));
            listing.end = TextureListEnd::UnknownKind;
            return listing;
        }
        const int64_t sizeFieldPos = imagePos + (kindHasPalette(row.kind) ? kPaletteSize : 0);
        uint8_t sizeField[4];
        bool sound = fileSize - sizeFieldPos >= kDataSizeFieldSize && readAt(stream, sizeFieldPos, sizeField, 4);
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

bool entryIsTextureDictionary(const std::string& entryName)
{
    std::string lowered = entryName;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lowered.find(".txd") != std::string::npos;
}
