// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/texture_tga.h"

#include "formats/texture_dictionary.h"
#include "formats/texture_dictionary_layout.h"
#include "imaging/codec/tga_header.h"
#include "imaging/picture_registry.h"
#include "imaging/png_writer.h"
#include "imaging/row_bands.h"
#include "platform/byte_order.h"
#include "platform/environment.h"
#include "platform/file_write.h"
#include "platform/streams.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

void putHeader(uint8_t* h, const TextureRef& t, bool trueColour32)
{
    TgaHeader header;
    header.imageType = 2;  // uncompressed true colour
    header.width = static_cast<uint16_t>(t.width);
    header.height = static_cast<uint16_t>(t.height);
    header.bitsPerPixel = trueColour32 ? 32 : 16;
    header.descriptor = trueColour32 ? (kTgaTopToBottom | 8) : 0;  // first row at the top, 8 alpha bits
    writeTgaHeader(header, h);
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev
           && sa.st_ino == sb.st_ino;
}

// Decodes level 0 in bands of rows over the cores. A band of a block
// format holds whole block rows; bands smaller than the work a thread is
// worth are not split off (a plain copy of 32-bit texels never is).
void decodeLevelInBands(const TexelLayout& layout, const uint8_t* palette, const uint8_t* level, uint8_t* bgra)
{
    const int width = layout.width, height = layout.height;
    const int group = texelRowGroup(layout.format);
    const int32_t groups = int32_t((int64_t(height) + group - 1) / group);
    const int64_t pixelsPerGroup = std::max<int64_t>(1, int64_t(width) * group);
    const int64_t minPixels = layout.format == TexelFormat::Bgra8888   ? INT64_MAX
                              : texelFormatIsCompressed(layout.format) ? 16 * 1024
                                                                       : 256 * 1024;
    const int32_t minGroups = int32_t(std::clamp<int64_t>(minPixels / pixelsPerGroup, 1, INT32_MAX));
    ForEachRowBand(groups, minGroups, [&](int32_t first, int32_t last) {
        decodeTexelRows(layout, palette, level, width, height, first * group,
                        int(std::min<int64_t>(int64_t(last) * group, height)), bgra);
    });
}

// A texture of a sectioned dictionary: level 0 decoded to B, G, R, A, first
// row at the top, whatever its layout.
TextureTga buildSectionedTextureTga(TStream& archive, const TextureRef& texture)
{
    TextureTga result;
    const TexelLayout& layout = texture.layout;
    const int64_t fileSize = archive.Size();
    const bool paletted = texelFormatIsPaletted(layout.format);
    const int64_t sizeFieldPos = texture.imagePos + (paletted ? TxdLayout::kPaletteSize : 0);
    if (layout.format == TexelFormat::Unknown || sizeFieldPos + 4 > fileSize) {
        result.problem = sizeFieldPos + 4 > fileSize ? TextureProblem::PastEnd : TextureProblem::NoData;
        return result;
    }
    archive.SetPosition(texture.imagePos);
    uint8_t palette[TxdLayout::kPaletteSize];
    if (paletted)
        archive.ReadBuffer(palette, sizeof palette);
    uint8_t sizeField[4];
    archive.ReadBuffer(sizeField, sizeof sizeField);
    const int64_t dataSize = readLe32(sizeField);
    const int64_t want = texelLevelBytes(layout.format, layout.width, layout.height);
    if (dataSize <= 0 || want <= 0 || dataSize != want) {
        result.problem = dataSize <= 0 ? TextureProblem::EmptyData : TextureProblem::SizeMismatch;
        return result;
    }
    if (dataSize > fileSize - sizeFieldPos - 4) {
        result.problem = TextureProblem::PastEnd;
        return result;
    }
    // Every byte of the level is read into it before it is used.
    const std::unique_ptr<uint8_t[]> level(new uint8_t[static_cast<size_t>(dataSize)]);
    archive.ReadBuffer(level.get(), dataSize);
    std::vector<uint8_t>& out = result.bytes;
    out.resize(static_cast<size_t>(kTgaHeaderSize + int64_t(layout.width) * layout.height * 4));
    TextureRef header = texture;
    header.width = layout.width;
    header.height = layout.height;
    putHeader(out.data(), header, true);
    decodeLevelInBands(layout, palette, level.get(), out.data() + kTgaHeaderSize);
    return result;
}

}  // namespace

TextureRef textureRefOf(const TextureRow& row)
{
    TextureRef t;
    t.present = true;
    t.hasData = row.hasData;
    t.imagePos = row.imagePos;
    t.paletted = row.paletted;
    t.bits = row.bits;
    t.width = row.width;
    t.height = row.height;
    t.name = row.name;
    t.sectioned = row.sectioned;
    t.layout = row.layout;
    return t;
}

std::string textureProblemMessage(TextureProblem problem)
{
    switch (problem) {
    case TextureProblem::None: return "";
    case TextureProblem::NoTexture: return "No texture is selected";
    case TextureProblem::NoData:
        return "The texture's data cannot be found: its kind is unknown or its dictionary is damaged";
    case TextureProblem::EmptyData: return "The texture holds no texel data";
    case TextureProblem::PastEnd: return "The texture's data runs past the end of the file";
    case TextureProblem::SizeMismatch: return "The texture's stored size does not match its dimensions";
    }
    return "";
}

TextureProblem textureRowProblem(const TextureRef& texture)
{
    if (!texture.present)
        return TextureProblem::NoTexture;
    if (!texture.hasData || texture.imagePos < 0)
        return TextureProblem::NoData;
    return TextureProblem::None;
}

TextureTga buildTextureTga(TStream& archive, const TextureRef& texture)
{
    TextureTga result;
    result.problem = textureRowProblem(texture);
    if (result.problem != TextureProblem::None)
        return result;

    if (texture.sectioned)
        return buildSectionedTextureTga(archive, texture);
    // The kind's row of the layout table says how its TGA is made.
    const LayoutRow& row = plainRowOf(texture.paletted, texture.bits);
    const bool paletted = row.codec == TexelCodec::Palette8;
    const int64_t fileSize = archive.Size();
    archive.SetPosition(texture.imagePos);
    uint8_t palette[TxdLayout::kPaletteSize];
    if (paletted)
        archive.ReadBuffer(palette, sizeof palette);
    uint8_t sizeField[4];
    archive.ReadBuffer(sizeField, sizeof sizeField);
    const int64_t dataSize = static_cast<int32_t>(readLe32(sizeField));
    if (dataSize <= 0) {
        result.problem = TextureProblem::EmptyData;
        return result;
    }
    const int64_t texelStart = texture.imagePos + (paletted ? TxdLayout::kPaletteSize : 0) + 4;
    if (dataSize > fileSize - texelStart) {
        result.problem = TextureProblem::PastEnd;
        return result;
    }
    std::vector<uint8_t>& out = result.bytes;
    const bool trueColour = row.plainTga == PlainTga::Decoded32;
    if (paletted) {
        // Every index becomes its palette entry as B, G, R, A.
        std::vector<uint8_t> indices(static_cast<size_t>(dataSize));
        archive.ReadBuffer(indices.data(), dataSize);
        out.resize(kTgaHeaderSize + indices.size() * 4);
        putHeader(out.data(), texture, trueColour);
        TexelLayout layout;
        layout.format = row.format;
        decodeTexelRows(layout, palette, indices.data(), int(dataSize), 1, 0, 1, out.data() + kTgaHeaderSize);
    } else {
        // The texels go straight behind the header: a 32-bit texel is already
        // in the TGA's own byte order, and other kinds are copied as stored.
        // Whole 32-bit texels only: a trailing part of one is read and dropped.
        const int64_t kept = trueColour ? dataSize / 4 * 4 : dataSize;
        out.resize(static_cast<size_t>(kTgaHeaderSize + dataSize));
        putHeader(out.data(), texture, trueColour);
        archive.ReadBuffer(out.data() + kTgaHeaderSize, dataSize);
        out.resize(static_cast<size_t>(kTgaHeaderSize + kept));
    }
    return result;
}

std::vector<uint8_t> bgraOfTextureTga(const std::vector<uint8_t>& tga, const TextureRef& texture)
{
    if (tga.size() < size_t(kTgaHeaderSize))
        return {};
    const TgaHeader header = readTgaHeader(tga.data());
    const int64_t pixels = int64_t(texture.width) * texture.height;
    if (header.bitsPerPixel == 32) {
        if (pixels == 0 || int64_t(tga.size() - kTgaHeaderSize) / 4 < pixels)
            return {};
        const uint8_t* first = tga.data() + kTgaHeaderSize;
        return std::vector<uint8_t>(first, first + pixels * 4);
    }
    TReadOnlyMemoryStream s(tga.data(), int64_t(tga.size()));
    std::unique_ptr<TDibGraphic> picture;
    try {
        picture = LoadPictureFromStream(s, "TGA", 1);
    } catch (const Exception&) {
        return {};
    }
    std::vector<uint8_t> bgra(size_t(picture->Width()) * picture->Height() * 4);
    uint8_t* p = bgra.data();
    for (int y = 0; y < picture->Height(); ++y)
        for (int x = 0; x < picture->Width(); ++x, p += 4) {
            const uint32_t c = picture->GetPixelColor(x, y);
            p[0] = uint8_t(c & 0xFF);
            p[1] = uint8_t((c >> 8) & 0xFF);
            p[2] = uint8_t((c >> 16) & 0xFF);
            p[3] = 255;
        }
    return bgra;
}

std::vector<uint8_t> pngOfTextureTga(std::vector<uint8_t>&& tga, const TextureRef& texture)
{
    if (tga.size() < size_t(kTgaHeaderSize))
        return {};
    PngRows rows;
    // An sRGB chunk: a reader then applies no gamma correction and gets back
    // exactly these pixels.
    rows.srgbIntent = 0;
    std::vector<uint8_t> bgra;
    const bool withAlpha = readTgaHeader(tga.data()).bitsPerPixel == 32;
    const uint8_t* first = nullptr;
    if (withAlpha) {
        // The 32-bit TGA's rows are read in place, top row first.
        const int64_t pixels = int64_t(texture.width) * texture.height;
        if (pixels == 0 || int64_t(tga.size() - kTgaHeaderSize) / 4 < pixels)
            return {};
        first = tga.data() + kTgaHeaderSize;
        rows.width = texture.width;
        rows.height = texture.height;
    } else {
        // A 16-bit texture's TGA decodes at its own size, which is the texture's.
        bgra = bgraOfTextureTga(tga, texture);
        if (bgra.empty() || texture.width <= 0)
            return {};
        first = bgra.data();
        rows.width = texture.width;
        rows.height = int(int64_t(bgra.size() / 4) / texture.width);
    }
    rows.alpha = withAlpha;
    const int width = rows.width;
    rows.row = [first, width, withAlpha](int y, uint8_t* out) {
        const uint8_t* in = first + int64_t(y) * width * 4;
        const int step = withAlpha ? 4 : 3;
        for (int x = 0; x < width; ++x, in += 4, out += step) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            if (withAlpha)
                out[3] = in[3];
        }
    };
    rows.rowsRead = [&tga, &bgra] {
        std::vector<uint8_t>().swap(tga);
        std::vector<uint8_t>().swap(bgra);
    };
    return encodePng(rows);
}

std::string tgaFileNameForTexture(const std::string& textureName)
{
    const size_t sep = textureName.find_last_of("\\:");
    const size_t dot = textureName.find_last_of('.');
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep))
        return textureName.substr(0, dot) + ".tga";
    return textureName + ".tga";
}

namespace {
// The archive's TGA of the texture, refused with the texture's problem; the
// archive is kept open (and so locked against writers) by `archive`.
TextureTga exportableTga(TFileStream& archive, const std::string& archiveFileName, const TextureRef& texture,
                         const std::string& fileName)
{
    TextureTga tga = buildTextureTga(archive, texture);
    if (tga.problem != TextureProblem::None)
        throw ETextureError(textureProblemMessage(tga.problem));
    // The file written is never the archive itself, which a rename over it
    // would replace.
    if (sameFile(archiveFileName, fileName))
        throw cannotCreate(fileName);
    return tga;
}
}  // namespace

void exportTextureTga(const std::string& archiveFileName, const TextureRef& texture, const std::string& fileName)
{
    const TextureProblem early = textureRowProblem(texture);
    if (early != TextureProblem::None)
        throw ETextureError(textureProblemMessage(early));
    // The archive stays open, and so locked against writers, while the file
    // is written.
    TFileStream archive(archiveFileName, FileMode::OpenReadShareDenyWrite);
    const TextureTga tga = exportableTga(archive, archiveFileName, texture, fileName);
    writeFileReplacing(fileName, tga.bytes);
}

void exportTexturePng(const std::string& archiveFileName, const TextureRef& texture, const std::string& fileName)
{
    const TextureProblem early = textureRowProblem(texture);
    if (early != TextureProblem::None)
        throw ETextureError(textureProblemMessage(early));
    TFileStream archive(archiveFileName, FileMode::OpenReadShareDenyWrite);
    TextureTga tga = exportableTga(archive, archiveFileName, texture, fileName);
    const std::vector<uint8_t> png = pngOfTextureTga(std::move(tga.bytes), texture);
    if (png.empty())
        throw ETextureError(textureProblemMessage(TextureProblem::SizeMismatch));
    writeFileReplacing(fileName, png);
}
