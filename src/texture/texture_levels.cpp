// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/texture_levels.h"

#include "formats/texture_dictionary_layout.h"
#include "imaging/codec/tga_header.h"
#include "platform/byte_order.h"
#include "platform/streams.h"

#include <algorithm>
#include <string>

namespace {

TextureLevel withProblem(TextureProblem problem)
{
    TextureLevel level;
    level.problem = problem;
    return level;
}

// Level `k` of a sectioned texture: the size fields of the levels before it
// lead to it, each checked against the size its layout gives.
TextureLevel readSectionedLevel(TStream& archive, const TextureRef& texture, int k)
{
    const TexelLayout& layout = texture.layout;
    if (layout.format == TexelFormat::Unknown)
        return withProblem(TextureProblem::NoData);
    const int64_t fileSize = archive.Size();
    const bool paletted = texelFormatIsPaletted(layout.format);
    uint8_t palette[TxdLayout::kPaletteSize] = {};
    int64_t at = texture.imagePos;
    if (paletted) {
        if (TxdLayout::kPaletteSize > fileSize - at)
            return withProblem(TextureProblem::PastEnd);
        archive.SetPosition(at);
        archive.ReadBuffer(palette, sizeof palette);
        at += TxdLayout::kPaletteSize;
    }
    int64_t size = 0;
    for (int j = 0; j <= k; ++j) {
        if (at > fileSize - 4)
            return withProblem(TextureProblem::PastEnd);
        uint8_t sizeField[4];
        archive.SetPosition(at);
        archive.ReadBuffer(sizeField, sizeof sizeField);
        size = readLe32(sizeField);
        const int64_t want =
            texelLevelBytes(layout.format, mipLevelSize(layout.width, j), mipLevelSize(layout.height, j));
        if (size <= 0)
            return withProblem(TextureProblem::EmptyData);
        if (size != want)
            return withProblem(TextureProblem::SizeMismatch);
        if (size > fileSize - at - 4)
            return withProblem(TextureProblem::PastEnd);
        if (j < k)
            at += 4 + size;
    }
    std::vector<uint8_t> texels(static_cast<size_t>(size));
    archive.ReadBuffer(texels.data(), size);
    TextureLevel level;
    level.width = mipLevelSize(layout.width, k);
    level.height = mipLevelSize(layout.height, k);
    level.bgra.resize(size_t(level.width) * size_t(level.height) * 4);
    decodeTexelLevel(layout, palette, texels.data(), level.width, level.height, level.bgra.data());
    return level;
}

}  // namespace

int textureLevelCount(const TextureRef& texture)
{
    if (textureRowProblem(texture) != TextureProblem::None)
        return 0;
    if (texture.sectioned)
        return texture.layout.format == TexelFormat::Unknown ? 0 : texture.layout.levels;
    return 1;
}

TextureLevel readTextureLevel(TStream& archive, const TextureRef& texture, int level)
{
    const TextureProblem early = textureRowProblem(texture);
    if (early != TextureProblem::None)
        return withProblem(early);
    const int count = textureLevelCount(texture);
    if (level < 0 || (count > 0 && level >= count))
        throw ETextureError("The texture has no mip level " + std::to_string(level));
    if (texture.sectioned)
        return readSectionedLevel(archive, texture, level);

    // The one level of a texture that is not sectioned: what the preview shows.
    const TextureTga tga = buildTextureTga(archive, texture);
    if (tga.problem != TextureProblem::None)
        return withProblem(tga.problem);
    TextureLevel out;
    out.bgra = bgraOfTextureTga(tga.bytes, texture);
    if (out.bgra.empty() || texture.width <= 0)
        return withProblem(TextureProblem::SizeMismatch);
    out.width = texture.width;
    out.height = int(int64_t(out.bgra.size() / 4) / texture.width);
    return out;
}

std::vector<uint8_t> tgaOfTextureLevel(const TextureLevel& level)
{
    std::vector<uint8_t> tga(size_t(kTgaHeaderSize) + level.bgra.size());
    TgaHeader header;
    header.imageType = 2;  // uncompressed true colour
    header.width = static_cast<uint16_t>(level.width);
    header.height = static_cast<uint16_t>(level.height);
    header.bitsPerPixel = 32;
    header.descriptor = kTgaTopToBottom | 8;  // first row at the top, 8 alpha bits
    writeTgaHeader(header, tga.data());
    std::copy(level.bgra.begin(), level.bgra.end(), tga.begin() + kTgaHeaderSize);
    return tga;
}
