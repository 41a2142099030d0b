// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the texture dictionary reader, plain and
// sectioned (as a dictionary at an offset the input's first byte chooses),
// then builds and decodes the TGA of every listed texture, checking that no
// row points outside the input and that each TGA has exactly the size its
// texture's data gives. The same entry goes to the section tree: what it
// parses it writes back byte for byte, it names the textures the listing
// names, and the tree an edit leaves is written as bytes it parses again.
#include "formats/texture_dictionary.h"
#include "formats/dictionary_edit.h"
#include "formats/dictionary_tree.h"
#include "fuzz_support.h"
#include "imaging/picture_registry.h"
#include "platform/streams.h"
#include "texture/texture_tga.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void checkTree(const uint8_t* entry, int64_t size, const TextureListing& listing)
{
    DictionaryTree tree;
    try {
        tree = parseDictionaryTree(std::vector<uint8_t>(entry, entry + size));
    } catch (const EDictionaryError&) {
        return;
    }
    const std::vector<uint8_t> again = writeDictionaryTree(tree);
    if (again != tree.source || int64_t(again.size()) > size || !std::equal(again.begin(), again.end(), entry))
        std::abort();
    // The reader starts the textures right after a struct of 4 bytes.
    if (tree.info.size == 4) {
        if (tree.textureCount() != int(listing.rows.size()))
            std::abort();
        for (int i = 0; i < tree.textureCount(); ++i)
            if (tree.texture(i).name() != listing.rows[size_t(i)].name)
                std::abort();
    }
    if (tree.textureCount() == 0 || tree.info.size != 4)
        return;
    try {
        renameTexture(tree, 0, "renamed", std::string("mask"));
    } catch (const EDictionaryError&) {
    }
    removeTextures(tree, {tree.textureCount() - 1});
    const DictionaryTree edited = parseDictionaryTree(writeDictionaryTree(tree));
    if (edited.textureCount() != tree.textureCount())
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int64_t offset = data[0] % 64;
    TReadOnlyMemoryStream stream(data + 1, int64_t(size - 1));
    // Half the inputs fence the dictionary's entry short of the file's end.
    const int64_t fileSize = int64_t(size - 1);
    const int64_t entryEnd = (data[0] & 0x40) ? offset + fileSize / 2 : fileSize;
    const TextureListing listing = readTextureDictionary(stream, offset, entryEnd);
    const int64_t end = std::min(fileSize, entryEnd);
    if (offset <= end)
        checkTree(data + 1 + offset, end - offset, listing);
    for (size_t i = 0; i < listing.rows.size(); ++i) {
        const TextureRow& r = listing.rows[i];
        if (r.pos != int64_t(i + 1) || r.name.size() > 32 || r.maskName.size() > 32)
            std::abort();
        // Only the last row may lack its data, except in a sectioned
        // dictionary, whose list goes on after a texture it does not read.
        if (!r.hasData && !r.sectioned && i + 1 != listing.rows.size())
            std::abort();
        if (!r.hasData)
            continue;
        const int64_t end = r.imagePos + (r.paletted ? 1024 : 0) + 4 + r.dataSize;
        if (r.imagePos < offset || r.dataSize < 0 || end > std::min(fileSize, entryEnd))
            std::abort();

        const TextureTga tga = buildTextureTga(stream, textureRefOf(r));
        if (r.sectioned) {
            // Every level inside the input; level 0 decoded whole: a 32-bit TGA of width x height pixels.
            if (r.layout.format == TexelFormat::Unknown || r.dataSize <= 0
                || r.imagePos + texelDataBytes(r.layout) > std::min(fileSize, entryEnd)
                || tga.problem != TextureProblem::None
                || int64_t(tga.bytes.size()) != 18 + int64_t(r.width) * r.height * 4)
                std::abort();
            continue;
        }
        if (r.dataSize == 0) {
            if (tga.problem != TextureProblem::EmptyData)
                std::abort();
            continue;
        }
        const int64_t pixels = r.paletted ? 4 * r.dataSize : r.bits == 32 ? r.dataSize / 4 * 4 : r.dataSize;
        if (tga.problem != TextureProblem::None || int64_t(tga.bytes.size()) != 18 + pixels)
            std::abort();
        // Pictures of more than 16 million pixels only cost time here.
        if (int64_t(r.width) * r.height > (int64_t(1) << 24))
            continue;
        TReadOnlyMemoryStream tgaStream(tga.bytes.data(), int64_t(tga.bytes.size()));
        try {
            const auto picture = LoadPictureFromStream(tgaStream, "TGA", 1);
            touchEveryRow(*picture);
        } catch (const Exception&) {
        }
    }
    return 0;
}
