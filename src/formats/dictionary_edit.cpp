// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/dictionary_edit.h"

#include "formats/archive_directory.h"
#include "formats/sectioned_dictionary_layout.h"
#include "formats/sectioned_dictionary_writer.h"
#include "platform/byte_order.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <set>

using namespace TxdSections;

namespace {

constexpr size_t fieldAt(int64_t textureOffset)
{
    return size_t(textureOffset - kPlatformOffset);
}

uint32_t headerLe32(const DictionaryTexture& t, int64_t textureOffset)
{
    return readLe32(t.header.data() + fieldAt(textureOffset));
}

void setHeaderLe32(DictionaryTexture& t, int64_t textureOffset, uint32_t v)
{
    writeLe32(t.header.data() + fieldAt(textureOffset), v);
}

void setNameField(DictionaryTexture& t, int64_t textureOffset, const std::string& text)
{
    uint8_t* field = t.header.data() + fieldAt(textureOffset);
    std::memset(field, 0, size_t(kNameFieldSize));
    std::memcpy(field, text.data(), std::min(text.size(), size_t(kNameFieldSize)));
}

std::string sizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string quoted(const std::string& name)
{
    return "'" + displayName(name) + "'";
}

// "texture 3 ('grass')"
std::string textureText(const DictionaryTree& tree, int index)
{
    return "texture " + std::to_string(index + 1) + " (" + quoted(tree.texture(index).name()) + ")";
}

bool platformIsWritten(uint32_t platform)
{
    return platform == kPlatformOlder || platform == kPlatformNewer;
}

void checkName(const std::string& name, const char* what, bool mayBeEmpty)
{
    if (name.empty() && !mayBeEmpty)
        throw EDictionaryError(std::string(what) + " must not be empty");
    if (name.size() > size_t(kMaxNameBytes))
        throw EDictionaryError(std::string(what) + " must be at most " + std::to_string(kMaxNameBytes)
                               + " bytes long, and " + quoted(name) + " has " + std::to_string(name.size()));
    for (const QChar c : fromCp1250(name))
        if (c.category() == QChar::Other_Control)
            throw EDictionaryError(std::string(what) + " must not hold control characters, and " + quoted(name)
                                   + " does");
}

// UTF-8 text in the names' code page; refused when it has a character the
// code page cannot hold.
std::string inCodePage(const std::string& utf8, const char* what)
{
    const QString text = QString::fromUtf8(utf8);
    const std::string name = toCp1250(text);
    if (fromCp1250(name) != text)
        throw EDictionaryError(std::string(what) + " '" + escapeControlCharacters(utf8)
                               + "' has characters the names' code page (Windows-1250) cannot hold");
    return name;
}

// Whether the dictionary sets the levels-stored flag on textures with more
// than one level: as texture `index` has it when it has more than one level,
// else as the first such texture has it; set where none has.
bool dictionaryUsesLevelsFlag(const DictionaryTree& tree, int index)
{
    auto uses = [](const DictionaryTexture& t) {
        return (headerLe32(t, kRasterFormatOffset) & kFlagLevelsStored) != 0;
    };
    if (index >= 0 && tree.texture(index).levelCount() > 1)
        return uses(tree.texture(index));
    for (const DictionaryNode& node : tree.nodes)
        if (node.isTexture && !node.texture.added && node.texture.levelCount() > 1)
            return uses(node.texture);
    return true;
}

// Sets the header fields the layout decides (see replaceTextureContent),
// keeping every other bit of the raster format and of the newer header's flags.
void setLayoutFields(DictionaryTexture& t, uint32_t platform, const TexelLayout& layout, bool levelsFlag)
{
    const SectionedHeaderFields f = sectionedHeaderFields(platform, layout);
    const uint32_t decided = kRasterLayoutMask | kFlagPalette8 | kFlagPalette4 | kFlagLevelsStored;
    uint32_t raster = headerLe32(t, kRasterFormatOffset) & ~decided;
    raster |= f.rasterFormat & ~kFlagLevelsStored;
    if (layout.levels > 1 && levelsFlag)
        raster |= kFlagLevelsStored;
    setHeaderLe32(t, kRasterFormatOffset, raster);
    setHeaderLe32(t, kAlphaOrCodeOffset, f.alphaOrCode);
    writeLe16(t.header.data() + fieldAt(kWidthOffset), uint16_t(layout.width));
    writeLe16(t.header.data() + fieldAt(kHeightOffset), uint16_t(layout.height));
    t.header[fieldAt(kDepthOffset)] = f.depth;
    t.header[fieldAt(kLevelsOffset)] = uint8_t(layout.levels);
    uint8_t& last = t.header[fieldAt(kCompressionOffset)];
    if (platform == kPlatformOlder)
        last = f.compressionOrFlags;
    else
        last = uint8_t((last & ~(kFlagAlpha | kFlagCompressed)) | f.compressionOrFlags);
}

// The index of the first texture other than `except` whose name is `name`
// ignoring letter case; -1 when there is none.
int otherTextureNamed(const DictionaryTree& tree, const std::string& name, int except)
{
    const QString wanted = fromCp1250(name);
    int i = 0;
    for (const DictionaryNode& node : tree.nodes) {
        if (!node.isTexture)
            continue;
        if (i != except && sameTextIgnoreCase(wanted, fromCp1250(node.texture.name())))
            return i;
        ++i;
    }
    return -1;
}

// The stamp's library version: a stamp with bits above bit 15 packs it in
// its top half (two bits of major version above 3, four of minor, four of
// revision, six of build), an older stamp is the version shifted down by 8.
uint32_t libraryVersionOf(uint32_t stamp)
{
    if ((stamp & 0xFFFF0000u) == 0)
        return stamp << 8;
    return (((stamp >> 14) & 0x3FF00u) + 0x30000u) | ((stamp >> 16) & 0x3Fu);
}

std::vector<uint8_t> emptyDictionaryBytes(uint32_t stamp, uint16_t device)
{
    std::vector<uint8_t> out;
    auto header = [&](uint32_t type, uint32_t size) {
        appendLe32(out, type);
        appendLe32(out, size);
        appendLe32(out, stamp);
    };
    header(kTypeDictionary, uint32_t(2 * kSectionHeaderSize + kDictionaryStructSize));
    header(kTypeStruct, uint32_t(kDictionaryStructSize));
    appendLe16(out, 0);
    appendLe16(out, device);
    header(kTypeExtension, 0);
    return out;
}

}  // namespace

void checkTextureSize(TexelFormat format, int width, int height, const char* otherSize)
{
    const bool blocks = texelFormatIsCompressed(format);
    if (blocks && (width % 4 != 0 || height % 4 != 0))
        throw EDictionaryError(std::string(texelFormatName(format))
                               + " stores 4 x 4 blocks: its width and height must be divisible by 4, and "
                               + sizeText(width, height) + " is not; " + otherSize);
    const int least = blocks ? 4 : 1;
    if (width < least || height < least || width > kMaxTextureSide || height > kMaxTextureSide)
        throw EDictionaryError(std::string("The width and height of a texture")
                               + (format == TexelFormat::Unknown ? "" : std::string(" in ") + texelFormatName(format))
                               + " must be from " + std::to_string(least) + " to " + std::to_string(kMaxTextureSide)
                               + " pixels, not " + sizeText(width, height));
}

void checkHeaderHolds(uint32_t platform, TexelFormat format)
{
    const LayoutRow& row = layoutRow(format);
    if (platform == kPlatformOlder && row.olderCompression < 0)
        throw EDictionaryError(std::string("The older texture header (platform 8) cannot hold a ") + row.name
                               + " texture; choose another layout (DXT3 keeps alpha in blocks)");
    if (!platformIsWritten(platform))
        throw EDictionaryError("Texture headers of platform " + std::to_string(platform)
                               + " are not written; only those of platforms 8 and 9");
}

void checkTextureName(const std::string& name)
{
    checkName(name, "A texture name", false);
}

void checkMaskName(const std::string& maskName)
{
    checkName(maskName, "A mask name", true);
}

void checkTextureContent(const TextureContent& content)
{
    const TexelLayout& layout = content.layout;
    if (layout.format == TexelFormat::Unknown)
        throw EDictionaryError("A texture needs a layout");
    if (layout.dxt1Alpha && layout.format != TexelFormat::Dxt1)
        throw EDictionaryError("Only a DXT1 texture has a 1-bit alpha variant");
    checkTextureSize(layout.format, layout.width, layout.height);
    const int full = fullLevelCount(layout.width, layout.height);
    if (layout.levels < 1 || layout.levels > full)
        throw EDictionaryError("A texture of " + sizeText(layout.width, layout.height) + " has 1 to "
                               + std::to_string(full) + " mip levels, not " + std::to_string(layout.levels));
    if (int64_t(content.data.size()) != texelDataBytes(layout))
        throw EDictionaryError("The texture's bytes do not have the size its layout gives");
    int64_t at = texelFormatIsPaletted(layout.format) ? kPaletteSize : 0;
    for (int k = 0; k < layout.levels; ++k) {
        const int64_t want =
            texelLevelBytes(layout.format, mipLevelSize(layout.width, k), mipLevelSize(layout.height, k));
        if (int64_t(readLe32(content.data.data() + at)) != want)
            throw EDictionaryError("The texture's level " + std::to_string(k)
                                   + " does not have the size its layout gives");
        at += 4 + want;
    }
}

uint32_t platformOfStamp(uint32_t stamp)
{
    // kOlderHeaderStamp is of version 3.4.0.3, kNewerHeaderStamp of 3.6.0.3:
    // the newer header from version 3.5 on.
    return libraryVersionOf(stamp) >= 0x35000u ? kPlatformNewer : kPlatformOlder;
}

uint32_t platformOfNewTextures(const DictionaryTree& tree)
{
    if (tree.textureCount() == 0)
        return platformOfStamp(tree.dictionary.stamp);
    const uint32_t platform = tree.texture(0).platform();
    if (!platformIsWritten(platform))
        throw EDictionaryError("The dictionary's first texture has a header of platform " + std::to_string(platform)
                               + "; textures are added only to dictionaries of platforms 8 and 9");
    return platform;
}

TexelFormat chosenLayoutOfAddedTexture(bool opaque, int width, int height, uint32_t platform)
{
    if (width % 4 != 0 || height % 4 != 0)
        return TexelFormat::Bgra8888;
    if (opaque)
        return TexelFormat::Dxt1;
    return platform == kPlatformOlder ? TexelFormat::Dxt3 : TexelFormat::Dxt5;
}

std::optional<LevelsChoice> parseLevelsChoice(const std::string& text)
{
    if (asciiLower(text) == "all")
        return LevelsChoice{LevelsChoice::All, 0};
    if (text.empty() || text.size() > 9
        || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int count = std::stoi(text);
    if (count < 1)
        return std::nullopt;
    return LevelsChoice{LevelsChoice::Count, count};
}

int levelCountFor(const LevelsChoice& choice, int width, int height, int previousLevels)
{
    const int full = fullLevelCount(width, height);
    switch (choice.kind) {
    case LevelsChoice::All: return full;
    case LevelsChoice::Default: return previousLevels > 1 ? full : 1;
    case LevelsChoice::Count: break;
    }
    if (choice.count < 1 || choice.count > full)
        throw EDictionaryError("A texture of " + sizeText(width, height) + " has 1 to " + std::to_string(full)
                               + " mip levels (the last of 1 x 1), not " + std::to_string(choice.count));
    return choice.count;
}

int findTextureIgnoringCase(const DictionaryTree& tree, const std::string& name)
{
    return otherTextureNamed(tree, name, -1);
}

int findTextureByPosOrName(const DictionaryTree& tree, const std::string& which)
{
    const int count = tree.textureCount();
    int64_t pos = 0;
    if (parseDecimal(which, pos) && pos >= 1 && pos <= count)
        return int(pos - 1);
    const std::string name = nameFromUtf8(which);
    int i = 0;
    for (const DictionaryNode& node : tree.nodes) {
        if (!node.isTexture)
            continue;
        if (node.texture.name() == name)
            return i;
        ++i;
    }
    return -1;
}

std::string textureNameFromUtf8(const std::string& utf8)
{
    const std::string name = inCodePage(utf8, "A texture name");
    checkTextureName(name);
    return name;
}

std::string maskNameFromUtf8(const std::string& utf8)
{
    const std::string name = inCodePage(utf8, "A mask name");
    checkMaskName(name);
    return name;
}

void checkTextureNameFree(const DictionaryTree& tree, const std::string& name, int except)
{
    const int i = otherTextureNamed(tree, name, except);
    if (i >= 0)
        throw EDictionaryError("The dictionary already has a texture named " + quoted(tree.texture(i).name()) + " ("
                               + textureText(tree, i) + "); texture names are told apart ignoring letter case");
}

void checkTextureReplaceable(const DictionaryTree& tree, int index)
{
    const DictionaryTexture& t = tree.texture(index);
    const uint32_t platform = t.platform();
    if (!platformIsWritten(platform))
        throw EDictionaryError("The header of " + textureText(tree, index) + " is of platform "
                               + std::to_string(platform)
                               + ", which is not rewritten; it can be removed, not replaced");
    if (t.layout.format == TexelFormat::Unknown)
        throw EDictionaryError("The layout of " + textureText(tree, index)
                               + " is not one that is read (or its levels do not have the sizes it gives); it can be "
                                 "removed or renamed, not replaced");
}

void replaceTextureContent(DictionaryTree& tree, int index, TextureContent content)
{
    checkTextureReplaceable(tree, index);
    DictionaryTexture& t = tree.texture(index);
    const uint32_t platform = t.platform();
    checkTextureContent(content);
    checkHeaderHolds(platform, content.layout.format);
    const bool levelsFlag = dictionaryUsesLevelsFlag(tree, index);
    setLayoutFields(t, platform, content.layout, levelsFlag);
    t.layout = content.layout;
    t.data = std::move(content.data);
    t.dataReplaced = true;
    t.headerChanged = true;
}

void addTexture(DictionaryTree& tree, const std::string& name, const std::string& maskName, TextureContent content)
{
    checkTextureName(name);
    checkMaskName(maskName);
    checkTextureNameFree(tree, name);
    const uint32_t platform = platformOfNewTextures(tree);
    checkTextureContent(content);
    checkHeaderHolds(platform, content.layout.format);
    if (tree.textureCount() >= 0xFFFF)
        throw EDictionaryError("A dictionary holds at most 65535 textures");

    DictionaryTexture t;
    t.added = true;
    const uint32_t stamp = tree.dictionary.stamp;
    t.section = SectionHeader{kTypeTexture, 0, stamp, -1};
    t.structSection = SectionHeader{kTypeStruct, 0, stamp, -1};
    t.extras.push_back(SectionHeader{kTypeExtension, 0, stamp, -1});
    setHeaderLe32(t, kPlatformOffset, platform);
    setHeaderLe32(t, kFilterOffset, tree.textureCount() > 0 ? tree.texture(0).filtering() : kDefaultFiltering);
    setNameField(t, kNameOffset, name);
    setNameField(t, kMaskNameOffset, maskName);
    t.header[fieldAt(kRasterTypeOffset)] = kRasterTypeTexture;
    setLayoutFields(t, platform, content.layout, dictionaryUsesLevelsFlag(tree, -1));
    t.layout = content.layout;
    t.data = std::move(content.data);
    t.dataReplaced = true;
    t.headerChanged = true;

    // After the last texture, before the sections that follow the textures.
    auto at = tree.nodes.begin();
    for (auto it = tree.nodes.begin(); it != tree.nodes.end(); ++it)
        if (it->isTexture)
            at = it + 1;
    DictionaryNode node;
    node.isTexture = true;
    node.texture = std::move(t);
    tree.nodes.insert(at, std::move(node));
}

void removeTextures(DictionaryTree& tree, const std::vector<int>& indices)
{
    const int count = tree.textureCount();
    for (const int i : indices)
        if (i < 0 || i >= count)
            throw EDictionaryError("The dictionary has no texture " + std::to_string(i + 1) + ": it holds "
                                   + std::to_string(count));
    const std::set<int> gone(indices.begin(), indices.end());
    int n = 0;
    std::erase_if(tree.nodes, [&](const DictionaryNode& node) { return node.isTexture && gone.count(n++) != 0; });
}

void renameTexture(DictionaryTree& tree, int index, const std::string& name, const std::optional<std::string>& maskName)
{
    DictionaryTexture& t = tree.texture(index);
    if (!platformIsWritten(t.platform()))
        throw EDictionaryError("The header of " + textureText(tree, index) + " is of platform "
                               + std::to_string(t.platform()) + ", whose name fields are not known; it cannot be "
                               + "renamed");
    checkTextureName(name);
    if (maskName)
        checkMaskName(*maskName);
    checkTextureNameFree(tree, name, index);
    setNameField(t, kNameOffset, name);
    if (maskName)
        setNameField(t, kMaskNameOffset, *maskName);
    t.headerChanged = true;
}

DictionaryTree newDictionaryTree(uint32_t platform)
{
    if (platform == kPlatformNewer)
        return parseDictionaryTree(emptyDictionaryBytes(kNewerHeaderStamp, kNewerHeaderDevice));
    if (platform == kPlatformOlder)
        return parseDictionaryTree(emptyDictionaryBytes(kOlderHeaderStamp, kOlderHeaderDevice));
    throw EDictionaryError("A new dictionary is of platform 8 or 9, not " + std::to_string(platform));
}
