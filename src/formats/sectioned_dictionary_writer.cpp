// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/sectioned_dictionary_writer.h"

#include "formats/sectioned_dictionary_layout.h"
#include "platform/byte_order.h"
#include "platform/exceptions.h"

#include <cstring>

using namespace TxdSections;

namespace {

void appendSectionHeader(std::vector<uint8_t>& out, uint32_t type, uint32_t size, uint32_t version)
{
    appendLe32(out, type);
    appendLe32(out, size);
    appendLe32(out, version);
}

void appendNameField(std::vector<uint8_t>& out, const std::string& text, const char* what)
{
    if (text.size() > 32)
        throw Exception(std::string(what) + " longer than 32 bytes: " + text);
    const size_t at = out.size();
    out.resize(at + 32, 0);
    if (!text.empty())
        std::memcpy(out.data() + at, text.data(), text.size());
}

}  // namespace

SectionedHeaderFields sectionedHeaderFields(uint32_t platform, const TexelLayout& layout)
{
    if (layout.format == TexelFormat::Unknown)
        throw Exception("A sectioned texture needs a known texel format");
    const LayoutRow& row = layoutRow(layout);
    const bool alpha = texelLayoutHasAlpha(layout);
    const bool compressed = row.codec == TexelCodec::Block;
    SectionedHeaderFields f;
    f.rasterFormat =
        uint32_t(alpha && row.rasterLayoutOneBitAlpha != 0 ? row.rasterLayoutOneBitAlpha : row.rasterLayout) << 8;
    if (row.codec == TexelCodec::Palette8)
        f.rasterFormat |= kFlagPalette8;
    if (layout.levels > 1)
        f.rasterFormat |= kFlagLevelsStored;
    f.depth = row.depth;
    if (platform == kPlatformOlder) {
        if (row.olderCompression < 0)
            throw Exception(std::string("The older texture header holds no ") + row.name + " texture");
        f.alphaOrCode = alpha ? 1 : 0;
        f.compressionOrFlags = uint8_t(row.olderCompression);
    } else if (platform == kPlatformNewer) {
        f.alphaOrCode = row.newerCode;
        f.compressionOrFlags = uint8_t((alpha ? kFlagAlpha : 0) | (compressed ? kFlagCompressed : 0));
    } else {
        throw Exception("A sectioned texture's platform is 8 or 9");
    }
    return f;
}

std::vector<uint8_t> buildSectionedDictionary(const SectionedDictionary& dict,
                                              std::vector<WrittenSectionedTexture>* written)
{
    std::vector<uint8_t> body;  // everything after the dictionary section's header
    appendSectionHeader(body, kTypeStruct, kDictionaryStructSize, dict.libraryVersion);
    appendLe16(body, dict.countField.value_or(static_cast<uint16_t>(dict.textures.size())));
    appendLe16(body, dict.device);
    if (written)
        written->clear();

    for (const SectionedTexture& t : dict.textures) {
        if (int(t.levels.size()) != t.layout.levels)
            throw Exception("Texture " + t.name + ": the level count does not match its levels");
        const bool paletted = texelFormatIsPaletted(t.layout.format);
        if (paletted ? t.palette.size() != size_t(kPaletteSize) : !t.palette.empty())
            throw Exception("Texture " + t.name + ": only a paletted texture has a 1024-byte palette");
        const SectionedHeaderFields f = sectionedHeaderFields(t.platform, t.layout);

        std::vector<uint8_t> s;  // the struct body
        appendLe32(s, t.platformField.value_or(t.platform));
        appendLe32(s, 0x1106);  // filtering and addressing
        appendNameField(s, t.name, "Texture name");
        appendNameField(s, t.maskName, "Mask name");
        appendLe32(s, t.rasterFormat.value_or(f.rasterFormat));
        appendLe32(s, t.alphaOrCode.value_or(f.alphaOrCode));
        appendLe16(s, static_cast<uint16_t>(t.layout.width));
        appendLe16(s, static_cast<uint16_t>(t.layout.height));
        s.push_back(t.depth.value_or(f.depth));
        s.push_back(t.levelCount.value_or(static_cast<uint8_t>(t.layout.levels)));
        s.push_back(t.rasterType.value_or(kRasterTypeTexture));
        s.push_back(t.compressionOrFlags.value_or(f.compressionOrFlags));
        s.insert(s.end(), t.palette.begin(), t.palette.end());
        std::vector<int64_t> levelOffsets;
        for (size_t k = 0; k < t.levels.size(); ++k) {
            levelOffsets.push_back(int64_t(s.size()));
            const std::optional<uint32_t> field = k < t.levelSizeFields.size() ? t.levelSizeFields[k] : std::nullopt;
            appendLe32(s, field.value_or(static_cast<uint32_t>(t.levels[k].size())));
            s.insert(s.end(), t.levels[k].begin(), t.levels[k].end());
        }

        const uint32_t structSize = static_cast<uint32_t>(s.size());
        const uint32_t textureSize = static_cast<uint32_t>(2 * kSectionHeaderSize + s.size() + t.extension.size());
        const int64_t sectionOffset = kSectionHeaderSize + int64_t(body.size());
        appendSectionHeader(body, kTypeTexture, t.textureSectionSize.value_or(textureSize), dict.libraryVersion);
        appendSectionHeader(body, kTypeStruct, t.structSectionSize.value_or(structSize), dict.libraryVersion);
        body.insert(body.end(), s.begin(), s.end());
        appendSectionHeader(body, kTypeExtension, static_cast<uint32_t>(t.extension.size()), dict.libraryVersion);
        body.insert(body.end(), t.extension.begin(), t.extension.end());
        if (written) {
            WrittenSectionedTexture w;
            w.sectionOffset = sectionOffset;
            w.imagePos = sectionOffset + kHeaderEnd;
            const int64_t structBody = sectionOffset + 2 * kSectionHeaderSize;
            for (const int64_t o : levelOffsets)
                w.levelOffsets.push_back(structBody + o);
            w.endOffset = kSectionHeaderSize + int64_t(body.size());
            written->push_back(std::move(w));
        }
    }
    appendSectionHeader(body, kTypeExtension, static_cast<uint32_t>(dict.extension.size()), dict.libraryVersion);
    body.insert(body.end(), dict.extension.begin(), dict.extension.end());

    std::vector<uint8_t> out;
    appendSectionHeader(out, kTypeDictionary, static_cast<uint32_t>(body.size()), dict.libraryVersion);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}
