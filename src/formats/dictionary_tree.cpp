// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/dictionary_tree.h"

#include "formats/sectioned_dictionary_layout.h"
#include "formats/texture_dictionary.h"
#include "platform/byte_order.h"

#include <cstring>
#include <limits>

using namespace TxdSections;

namespace {

// A header field's offset in DictionaryTexture::header (the struct's body
// starts 24 bytes into the texture section).
constexpr size_t fieldAt(int64_t textureOffset)
{
    return size_t(textureOffset - kPlatformOffset);
}
static_assert(kHeaderEnd - kPlatformOffset == kTextureHeaderFieldBytes);

std::string fixedText(const uint8_t* field)
{
    const auto* chars = reinterpret_cast<const char*>(field);
    const void* nul = std::memchr(chars, 0, size_t(kNameFieldSize));
    return std::string(chars, nul ? size_t(static_cast<const char*>(nul) - chars) : size_t(kNameFieldSize));
}

std::string offsetText(int64_t offset)
{
    return std::to_string(offset);
}

SectionHeader headerAt(const std::vector<uint8_t>& bytes, int64_t offset)
{
    const uint8_t* p = bytes.data() + offset;
    SectionHeader h;
    h.type = readLe32(p);
    h.size = readLe32(p + 4);
    h.stamp = readLe32(p + 8);
    h.offset = offset;
    return h;
}

// The sections that fill [begin, end) one after the other; refused when they
// do not fill it exactly.
std::vector<SectionHeader> childSections(const std::vector<uint8_t>& bytes, int64_t begin, int64_t end,
                                         const std::string& parent)
{
    std::vector<SectionHeader> children;
    for (int64_t at = begin; at < end;) {
        if (end - at < kSectionHeaderSize)
            throw EDictionaryError("The dictionary is damaged: the last " + std::to_string(end - at) + " bytes of "
                                   + parent + " (at offset " + offsetText(at) + ") are too few for a section");
        const SectionHeader h = headerAt(bytes, at);
        if (h.end() > end)
            throw EDictionaryError("The dictionary is damaged: a section at offset " + offsetText(at) + " says "
                                   + std::to_string(h.size) + " bytes, which run " + std::to_string(h.end() - end)
                                   + " bytes past the end of " + parent);
        children.push_back(h);
        at = h.end();
    }
    return children;
}

// Where the levels of a texture of a read layout end inside its struct, as
// the dictionary reader checks them: each level's size field inside the
// struct and equal to what the layout gives. -1 when they do not fit.
int64_t levelsEnd(const std::vector<uint8_t>& bytes, const DictionaryTexture& t)
{
    const TexelLayout& layout = t.layout;
    const int64_t structEnd = t.structSection.end();
    int64_t at = t.section.offset + kHeaderEnd + (texelFormatIsPaletted(layout.format) ? kPaletteSize : 0);
    if (at > structEnd)
        return -1;
    for (int k = 0; k < layout.levels; ++k) {
        if (structEnd - at < 4)
            return -1;
        const int64_t size = readLe32(bytes.data() + at);
        const int64_t want =
            texelLevelBytes(layout.format, mipLevelSize(layout.width, k), mipLevelSize(layout.height, k));
        if (size != want || size > structEnd - at - 4)
            return -1;
        at += 4 + size;
    }
    return at;
}

DictionaryTexture parseTexture(const std::vector<uint8_t>& bytes, const SectionHeader& section, int number)
{
    const std::string what = "texture " + std::to_string(number);
    DictionaryTexture t;
    t.section = section;
    const std::vector<SectionHeader> inside = childSections(bytes, section.bodyOffset(), section.end(), what);
    if (inside.empty() || inside[0].type != kTypeStruct)
        throw EDictionaryError("The dictionary is damaged: " + what + " does not start with its struct section");
    if (inside[0].size < uint32_t(kTextureHeaderFieldBytes))
        throw EDictionaryError("The dictionary is damaged: the struct of " + what + " holds "
                               + std::to_string(inside[0].size) + " bytes, fewer than its header's "
                               + std::to_string(kTextureHeaderFieldBytes));
    t.structSection = inside[0];
    t.extras.assign(inside.begin() + 1, inside.end());
    std::memcpy(t.header.data(), bytes.data() + t.structSection.bodyOffset(), t.header.size());
    t.layout = sectionedTexelLayout(bytes.data() + section.offset);
    const int64_t imagePos = section.offset + kHeaderEnd;
    const int64_t end = t.layout.format == TexelFormat::Unknown ? -1 : levelsEnd(bytes, t);
    if (end < 0)
        t.layout = TexelLayout{};
    t.sourceDataBytes = (end < 0 ? t.structSection.end() : end) - imagePos;
    return t;
}

// Bytes a texture takes in the output, and the sizes of its two sections.
struct TextureSizes {
    uint64_t structBody = 0;
    uint64_t textureBody = 0;
};

bool copiedWhole(const DictionaryTexture& t)
{
    return !t.added && !t.headerChanged && !t.dataReplaced;
}

// Bytes of the struct after the levels, kept as they are.
int64_t tailBytes(const DictionaryTexture& t)
{
    if (t.added)
        return 0;
    return t.structSection.end() - (t.section.offset + kHeaderEnd + t.sourceDataBytes);
}

TextureSizes sizesOf(const DictionaryTexture& t)
{
    TextureSizes s;
    if (copiedWhole(t)) {
        s.structBody = t.structSection.size;
        s.textureBody = t.section.size;
        return s;
    }
    const uint64_t data = t.dataReplaced ? t.data.size() : uint64_t(t.sourceDataBytes);
    s.structBody = uint64_t(kTextureHeaderFieldBytes) + data + uint64_t(tailBytes(t));
    s.textureBody = uint64_t(kSectionHeaderSize) + s.structBody;
    for (const SectionHeader& e : t.extras)
        s.textureBody += uint64_t(kSectionHeaderSize) + e.size;
    return s;
}

constexpr uint64_t kMaxSectionSize = std::numeric_limits<uint32_t>::max();

void appendHeader(std::vector<uint8_t>& out, uint32_t type, uint64_t size, uint32_t stamp)
{
    appendLe32(out, type);
    appendLe32(out, uint32_t(size));
    appendLe32(out, stamp);
}

void appendSource(std::vector<uint8_t>& out, const std::vector<uint8_t>& source, int64_t offset, int64_t count)
{
    out.insert(out.end(), source.begin() + offset, source.begin() + offset + count);
}

void appendTexture(std::vector<uint8_t>& out, const DictionaryTree& tree, const DictionaryTexture& t)
{
    if (copiedWhole(t)) {
        appendSource(out, tree.source, t.section.offset, int64_t(kSectionHeaderSize) + t.section.size);
        return;
    }
    const TextureSizes sizes = sizesOf(t);
    appendHeader(out, kTypeTexture, sizes.textureBody, t.section.stamp);
    appendHeader(out, kTypeStruct, sizes.structBody, t.structSection.stamp);
    out.insert(out.end(), t.header.begin(), t.header.end());
    const int64_t imagePos = t.section.offset + kHeaderEnd;
    if (t.dataReplaced)
        out.insert(out.end(), t.data.begin(), t.data.end());
    else if (!t.added)
        appendSource(out, tree.source, imagePos, t.sourceDataBytes);
    if (!t.added)
        appendSource(out, tree.source, imagePos + t.sourceDataBytes, tailBytes(t));
    for (const SectionHeader& e : t.extras) {
        if (e.offset < 0)
            appendHeader(out, e.type, 0, e.stamp);  // an empty section an edit made
        else
            appendSource(out, tree.source, e.offset, int64_t(kSectionHeaderSize) + e.size);
    }
}

}  // namespace

uint32_t DictionaryTexture::platform() const
{
    return readLe32(header.data() + fieldAt(kPlatformOffset));
}

uint32_t DictionaryTexture::filtering() const
{
    return readLe32(header.data() + fieldAt(kFilterOffset));
}

std::string DictionaryTexture::name() const
{
    return fixedText(header.data() + fieldAt(kNameOffset));
}

std::string DictionaryTexture::maskName() const
{
    return fixedText(header.data() + fieldAt(kMaskNameOffset));
}

int DictionaryTexture::width() const
{
    return readLe16(header.data() + fieldAt(kWidthOffset));
}

int DictionaryTexture::height() const
{
    return readLe16(header.data() + fieldAt(kHeightOffset));
}

int DictionaryTexture::levelCount() const
{
    return header[fieldAt(kLevelsOffset)];
}

int DictionaryTree::textureCount() const
{
    int n = 0;
    for (const DictionaryNode& node : nodes)
        n += node.isTexture ? 1 : 0;
    return n;
}

DictionaryTexture& DictionaryTree::texture(int index)
{
    return const_cast<DictionaryTexture&>(static_cast<const DictionaryTree&>(*this).texture(index));
}

const DictionaryTexture& DictionaryTree::texture(int index) const
{
    int n = 0;
    for (const DictionaryNode& node : nodes)
        if (node.isTexture && n++ == index)
            return node.texture;
    throw EDictionaryError("The dictionary has no texture " + std::to_string(index + 1) + ": it holds "
                           + std::to_string(n));
}

DictionaryTree parseDictionaryTree(std::vector<uint8_t> entry)
{
    const int64_t size = int64_t(entry.size());
    if (!isSectionedDictionary(entry.data(), size))
        throw EDictionaryError(
            "This dictionary has the plain layout without sections: its textures can only be imported over in "
            "place, at their own size and kind; they cannot be resized, given another layout or mip levels, "
            "added, removed or renamed");
    DictionaryTree tree;
    tree.dictionary = headerAt(entry, 0);
    if (tree.dictionary.end() > size)
        throw EDictionaryError("The dictionary is cut short: its section says " + std::to_string(tree.dictionary.size)
                               + " bytes, but its entry holds " + std::to_string(size - kSectionHeaderSize)
                               + " after the section's header");
    // Bytes after the dictionary section belong to the entry, not to the dictionary.
    entry.resize(size_t(tree.dictionary.end()));
    tree.source = std::move(entry);

    const std::vector<SectionHeader> children =
        childSections(tree.source, kSectionHeaderSize, tree.dictionary.end(), "the dictionary");
    if (children.empty() || children[0].type != kTypeStruct || children[0].size < uint32_t(kDictionaryStructSize))
        throw EDictionaryError("The dictionary is damaged: it does not start with its struct section");
    tree.info = children[0];
    const uint16_t count = readLe16(tree.source.data() + tree.info.bodyOffset());
    tree.device = readLe16(tree.source.data() + tree.info.bodyOffset() + 2);
    int textures = 0;
    for (size_t i = 1; i < children.size(); ++i) {
        DictionaryNode node;
        if (children[i].type == kTypeTexture) {
            node.isTexture = true;
            node.texture = parseTexture(tree.source, children[i], ++textures);
        } else {
            node.raw = children[i];
        }
        tree.nodes.push_back(std::move(node));
    }
    if (textures != count)
        throw EDictionaryError("The dictionary is damaged: its count says " + std::to_string(count)
                               + " textures, but it holds " + std::to_string(textures) + " texture sections");
    return tree;
}

std::vector<uint8_t> writeDictionaryTree(const DictionaryTree& tree, std::vector<WrittenTreeTexture>* written)
{
    uint64_t body = uint64_t(kSectionHeaderSize) + tree.info.size;
    int textures = 0;
    for (const DictionaryNode& node : tree.nodes) {
        if (!node.isTexture) {
            body += uint64_t(kSectionHeaderSize) + node.raw.size;
            continue;
        }
        ++textures;
        const TextureSizes sizes = sizesOf(node.texture);
        if (sizes.textureBody > kMaxSectionSize)
            throw EDictionaryError("Texture " + std::to_string(textures) + " would be larger than a section can hold");
        body += uint64_t(kSectionHeaderSize) + sizes.textureBody;
    }
    if (body > kMaxSectionSize)
        throw EDictionaryError("The dictionary would be larger than a section can hold (4 GiB)");
    if (textures > std::numeric_limits<uint16_t>::max())
        throw EDictionaryError("A dictionary holds at most 65535 textures");

    std::vector<uint8_t> out;
    out.reserve(size_t(kSectionHeaderSize + body));
    appendHeader(out, kTypeDictionary, body, tree.dictionary.stamp);
    const size_t infoAt = out.size();
    appendSource(out, tree.source, tree.info.offset, int64_t(kSectionHeaderSize) + tree.info.size);
    writeLe16(out.data() + infoAt + kSectionHeaderSize, uint16_t(textures));
    if (written)
        written->clear();
    for (const DictionaryNode& node : tree.nodes) {
        if (!node.isTexture) {
            appendSource(out, tree.source, node.raw.offset, int64_t(kSectionHeaderSize) + node.raw.size);
            continue;
        }
        const int64_t at = int64_t(out.size());
        appendTexture(out, tree, node.texture);
        if (written)
            written->push_back({at, at + kHeaderEnd, int64_t(out.size())});
    }
    return out;
}
