#include "formats/texture_dictionary.h"

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
    return std::string(chars, nul ? static_cast<size_t>(static_cast<const char*>(nul) - chars)
                                  : static_cast<size_t>(length));
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

TextureListing readTextureDictionary(TStream& stream, int64_t dictionaryOffset, int64_t entryEnd)
{
    TextureListing listing;
    // The entry's end is the end of the file for everything below: no
    // texture reaches into the bytes of the next entry.
    const int64_t fileSize = std::clamp<int64_t>(entryEnd, 0, stream.Size());
    if (dictionaryOffset < 0 || dictionaryOffset > fileSize)
        return listing;
    PieceReader reader(stream);
    uint8_t countField[4];
    if (fileSize - dictionaryOffset < kFirstTextureOffset ||
        !reader.readAt(dictionaryOffset + kCountOffset, countField, 4))
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

bool entryIsTextureDictionary(const std::string& entryName)
{
    return asciiLower(entryName).find(".txd") != std::string::npos;
}
