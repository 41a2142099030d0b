// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/texture_import.h"

#include "archive/archive.h"
#include "formats/texture_dictionary_layout.h"
#include "imaging/codec/tga_header.h"
#include "imaging/format_transform.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "imaging/readers/tga_graphic.h"
#include "imaging/transforms.h"
#include "platform/byte_order.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace {

int64_t pixelCount(const TextureRef& t)
{
    return int64_t(t.width) * t.height;
}

// The data size the texture must have stored for the block to replace it exactly.
int64_t expectedDataSize(const TextureRef& t)
{
    return pixelCount(t) * (importWritesTrueColour(t) ? 4 : 1);
}

int64_t paletteBytes(const TextureRef& t)
{
    return importWritesTrueColour(t) ? 0 : TxdLayout::kPaletteSize;
}

// Bytes of the TGA the picture is encoded as (header, colour map, pixels).
int64_t tgaSizeFor(const TextureRef& t)
{
    return kTgaHeaderSize + (importWritesTrueColour(t) ? pixelCount(t) * 3 : kTgaWrittenColourMapSize + pixelCount(t));
}

// Turns the TGA's bytes (checked to be laid out as buildImportBlock expects)
// into the block, in the same memory: no second picture-sized buffer.
//   32-bit: B, G, R at 18 + 3i become B, G, R, 255 at 4 + 4i, after the data
//           size field. Done from the last pixel back: pixel i's new place
//           lies past every pixel before it once i >= 14; the first 16 are
//           kept aside and written last.
//   8-bit:  the map's R, G, B (stored B, G, R) become the palette's R, G, B,
//           255; the indices move from 18 + 768 to 1024 + 4, also from the
//           back; the map is kept aside first, as the palette covers it.
std::vector<uint8_t> blockInTgaBytes(std::vector<uint8_t>&& tga, const TextureRef& texture)
{
    const int64_t pixels = pixelCount(texture);
    std::vector<uint8_t> bytes = std::move(tga);
    bytes.resize(size_t(std::max(importBlockSize(texture), int64_t(bytes.size()))));
    uint8_t* b = bytes.data();
    if (importWritesTrueColour(texture)) {
        constexpr int64_t kAside = 16;
        const int64_t aside = std::min(pixels, kAside);
        uint8_t first[kAside * 3];
        std::memcpy(first, b + kTgaHeaderSize, size_t(aside * 3));
        for (int64_t i = pixels - 1; i >= aside; --i) {
            const uint8_t* in = b + kTgaHeaderSize + 3 * i;
            const uint8_t blue = in[0], green = in[1], red = in[2];
            uint8_t* out = b + 4 + 4 * i;
            out[0] = blue;
            out[1] = green;
            out[2] = red;
            out[3] = 255;
        }
        for (int64_t i = 0; i < aside; ++i) {
            uint8_t* out = b + 4 + 4 * i;
            out[0] = first[3 * i];
            out[1] = first[3 * i + 1];
            out[2] = first[3 * i + 2];
            out[3] = 255;
        }
        writeLe32(b, uint32_t(pixels * 4));
    } else {
        uint8_t map[kTgaWrittenColourMapSize];
        std::memcpy(map, b + kTgaHeaderSize, sizeof map);
        std::memmove(b + TxdLayout::kPaletteSize + 4, b + kTgaHeaderSize + kTgaWrittenColourMapSize, size_t(pixels));
        for (int k = 0; k < 256; ++k) {
            uint8_t* out = b + 4 * k;
            out[0] = map[3 * k + 2];
            out[1] = map[3 * k + 1];
            out[2] = map[3 * k];
            out[3] = 255;
        }
        writeLe32(b + TxdLayout::kPaletteSize, uint32_t(pixels));
    }
    bytes.resize(size_t(importBlockSize(texture)));
    return bytes;
}

bool readAt(TStream& s, int64_t offset, uint8_t* bytes, int64_t count)
{
    return s.Seek(offset, SeekOrigin::Begin) == offset && s.ReadFully(bytes, count) == count;
}

}  // namespace

const char* const kSixteenBitRefusal = "Sorry, can't replace 16bit images :(";

std::string importRefusalMessage(ImportRefusal refusal)
{
    switch (refusal) {
    case ImportRefusal::None: return "";
    case ImportRefusal::NoTexture: return textureProblemMessage(TextureProblem::NoTexture);
    case ImportRefusal::SixteenBit: return kSixteenBitRefusal;
    case ImportRefusal::NoData: return textureProblemMessage(TextureProblem::NoData);
    case ImportRefusal::SizeMismatch:
        return "The texture's stored data size does not match its width and height; importing over it "
               "would damage the dictionary";
    case ImportRefusal::PastEnd: return textureProblemMessage(TextureProblem::PastEnd);
    case ImportRefusal::TooSmall: return "Destination graphic too small";
    }
    return "";
}

bool importWritesTrueColour(const TextureRef& texture)
{
    return texture.bits == 32;
}

QSize importPictureSize(const TextureRef& texture)
{
    return QSize(texture.width, texture.height);
}

TImageFormat importPictureFormat(const TextureRef& texture)
{
    if (texture.sectioned)
        return texelFormatIsPaletted(texture.layout.format) ? ifColor256 : ifRgb24;
    return importWritesTrueColour(texture) ? ifRgb24 : ifColor256;
}

bool importKeepsAlpha(const TextureRef& texture)
{
    return texture.sectioned && texelLayoutHasAlpha(texture.layout);
}

int64_t importBlockSize(const TextureRef& texture)
{
    if (texture.sectioned)
        return texelDataBytes(texture.layout);
    return paletteBytes(texture) + TxdLayout::kDataSizeFieldSize + expectedDataSize(texture);
}

ImportRefusal importRowRefusal(const TextureRef& texture)
{
    if (!texture.present)
        return ImportRefusal::NoTexture;
    if (texture.sectioned) {
        // Every layout the reader reads is importable, 16-bit ones included.
        if (!texture.hasData || texture.imagePos < 0 || texture.layout.format == TexelFormat::Unknown
            || texture.layout.width != texture.width || texture.layout.height != texture.height
            || texture.layout.levels < 1)
            return ImportRefusal::NoData;
        if (texture.width < 2 || texture.height < 2)
            return ImportRefusal::TooSmall;
        return ImportRefusal::None;
    }
    if (texture.bits == 16)
        return ImportRefusal::SixteenBit;
    // Only the two kinds whose layout the block reproduces: 32-bit, and
    // 8-bit with its palette. Anything else was never given a data offset.
    if (!texture.hasData || texture.imagePos < 0 || !(texture.bits == 32 || (texture.bits == 8 && texture.paletted)))
        return ImportRefusal::NoData;
    if (texture.width < 2 || texture.height < 2)
        return ImportRefusal::TooSmall;
    return ImportRefusal::None;
}

ImportRefusal importDataRefusal(TStream& archive, const TextureRef& texture)
{
    const ImportRefusal row = importRowRefusal(texture);
    if (row != ImportRefusal::None)
        return row;
    const int64_t fileSize = archive.Size();
    if (texture.sectioned) {
        // Every stored level must have the size its layout and dimensions
        // give, so that the block replaces exactly the bytes it covers.
        const TexelLayout& layout = texture.layout;
        int64_t at = texture.imagePos + (texelFormatIsPaletted(layout.format) ? TxdLayout::kPaletteSize : 0);
        for (int k = 0; k < layout.levels; ++k) {
            uint8_t field[4];
            if (at > fileSize - 4 || !readAt(archive, at, field, 4))
                return ImportRefusal::PastEnd;
            const int64_t want =
                texelLevelBytes(layout.format, mipLevelSize(layout.width, k), mipLevelSize(layout.height, k));
            if (int64_t(readLe32(field)) != want)
                return ImportRefusal::SizeMismatch;
            if (want > fileSize - at - 4)
                return ImportRefusal::PastEnd;
            at += 4 + want;
        }
        return ImportRefusal::None;
    }
    const int64_t sizeFieldAt = texture.imagePos + paletteBytes(texture);
    uint8_t field[4];
    if (sizeFieldAt > fileSize - 4 || !readAt(archive, sizeFieldAt, field, 4))
        return ImportRefusal::PastEnd;
    if (int64_t(int32_t(readLe32(field))) != expectedDataSize(texture))
        return ImportRefusal::SizeMismatch;
    if (importBlockSize(texture) > fileSize - texture.imagePos)
        return ImportRefusal::PastEnd;
    return ImportRefusal::None;
}

void checkImportTarget(const std::string& archiveFileName, const TextureRef& texture)
{
    ImportRefusal refusal = importRowRefusal(texture);
    if (refusal == ImportRefusal::None) {
        TFileStream archive(archiveFileName, FileMode::OpenReadShareDenyWrite);
        refusal = importDataRefusal(archive, texture);
    }
    if (refusal != ImportRefusal::None && refusal != ImportRefusal::SixteenBit)
        throw EImportError(importRefusalMessage(refusal));
}

std::vector<uint8_t> buildSectionedImportBlock(const TDibGraphic& picture, const TextureRef& texture,
                                               const std::vector<uint8_t>& alpha,
                                               const std::vector<uint8_t>& unreducedBgra, DxtQuality quality)
{
    const TexelLayout& layout = texture.layout;
    if (!texture.sectioned || picture.Width() != layout.width || picture.Height() != layout.height
        || picture.ImageFormat() != importPictureFormat(texture)
        || (!alpha.empty() && alpha.size() != size_t(layout.width) * layout.height))
        throw EImportError("The picture was not prepared for this texture");
    std::vector<uint8_t> block(size_t(importBlockSize(texture)));
    encodeTextureData(picture, layout, alpha, unreducedBgra, block.data(), quality);
    return block;
}

std::vector<uint8_t> buildImportBlock(TDibGraphic& picture, const TextureRef& texture,
                                      const std::function<void(TDibGraphic&)>& beforeSave)
{
    const bool trueColour = importWritesTrueColour(texture);
    if (picture.Width() != texture.width || picture.Height() != texture.height
        || picture.ImageFormat() != importPictureFormat(texture))
        throw EImportError("The picture was not prepared for this texture");

    TFlipVerticalTransform flip;
    flip.ApplyInPlace(picture);
    TMemoryStream tga;
    // Room for the block as well: it is made in the TGA's own bytes.
    tga.bytes().reserve(size_t(std::max(importBlockSize(texture), tgaSizeFor(texture))));
    if (beforeSave)
        SavePictureToStream(picture, tga, "TGA", beforeSave);
    else
        WriteTgaPicture(tga, picture);  // from the picture itself, not from a copy

    // The TGA is only the carrier: check it is laid out as the block expects.
    const std::vector<uint8_t>& t = tga.bytes();
    const int64_t pixels = pixelCount(texture);
    const int64_t dataStart = kTgaHeaderSize + (trueColour ? 0 : kTgaWrittenColourMapSize);
    const int64_t dataBytes = pixels * (trueColour ? 3 : 1);
    bool laidOut = int64_t(t.size()) >= dataStart + dataBytes;
    if (laidOut) {
        const TgaHeader h = readTgaHeader(t.data());
        laidOut = h.width == texture.width && h.height == texture.height && h.idLength == 0
                  && (trueColour ? (h.colourMapType == 0 && h.imageType == 2 && h.bitsPerPixel == 24)
                                 : (h.colourMapType == 1 && h.imageType == 1 && h.colourMapFirst == 0
                                    && h.colourMapLength == 256 && h.colourMapEntrySize == 24 && h.bitsPerPixel == 8))
                  && (h.descriptor & 0x30) == 0 &&  // bottom row first, left to right
                  h.pixelDataOffset() == dataStart;
    }
    if (!laidOut)
        throw EImportError("The picture could not be encoded for this texture");

    return blockInTgaBytes(std::move(tga.bytes()), texture);
}

void writeImportBlock(ArchiveEditor& editor, const TextureRef& texture, const std::vector<uint8_t>& block)
{
    const ImportRefusal refusal = importDataRefusal(editor.data(), texture);
    if (refusal != ImportRefusal::None)
        throw EImportError(importRefusalMessage(refusal));
    if (int64_t(block.size()) != importBlockSize(texture))
        throw EImportError("The picture could not be encoded for this texture");
    ChangeSet changes;
    changes.write(0, texture.imagePos, block);
    ChangeLabel label;
    label.kind = ChangeKind::TextureImport;
    label.offset = texture.imagePos;
    label.description = "import of " + displayName(texture.name);
    editor.commit(changes, label);
}

PreparedImport prepareImport(const std::string& archiveFileName, const TextureRef& texture, const ImportDriver& driver,
                             const ImportOptions& options)
{
    PreparedImport prepared;
    prepared.texture = texture;
    if (importRowRefusal(texture) == ImportRefusal::SixteenBit) {
        if (driver.refuseSixteenBit)
            driver.refuseSixteenBit();
        return prepared;
    }
    // Before any dialog: a texture the block would not fit exactly is refused.
    if (options.archive) {
        const ImportRefusal refusal = importDataRefusal(*options.archive, texture);
        if (refusal != ImportRefusal::None)
            throw EImportError(importRefusalMessage(refusal));
    } else {
        checkImportTarget(archiveFileName, texture);
    }
    const std::optional<std::string> file = driver.choosePicture();
    if (!file)
        return prepared;
    const bool keepAlpha = importKeepsAlpha(texture);
    TDibGraphic* loaded = nullptr;
    PreparedPicture converted;
    // The long part: loading, resampling and reducing the picture.
    const std::function<void()> work = [&] {
        TDibGraphic& picture = driver.loadPicture(*file, keepAlpha);
        loaded = &picture;
        if (driver.setBusy)
            driver.setBusy(true);
        std::vector<uint8_t> alpha = keepAlpha ? std::move(picture.AlphaPlane) : std::vector<uint8_t>{};
        picture.AlphaPlane.clear();
        PicturePreparation how;
        how.size = importPictureSize(texture);
        how.format = importPictureFormat(texture);
        how.exact = options.exact;
        // The colours before the reduction: the mip levels of a paletted
        // sectioned texture are made from them.
        how.keepUnreduced = texture.sectioned && texture.layout.levels > 1;
        converted = preparePictureForTexture(picture, std::move(alpha), how);
        if (driver.setBusy)
            driver.setBusy(false);
    };
    if (driver.runPreparation)
        driver.runPreparation(work);
    else
        work();
    prepared.alpha = std::move(converted.alpha);
    prepared.unreducedBgra = std::move(converted.unreducedBgra);
    prepared.picture = loaded;
    prepared.releasePicture = driver.releasePicture;
    prepared.dxt = options.dxt;
    prepared.ready = true;
    return prepared;
}

Recovery commitImport(const std::string& archivePath, const PreparedImport& prepared,
                      const std::function<void(TDibGraphic&)>& beforeSave)
{
    // The block is built in full before the archive is opened for writing.
    return writeImportBlockToFile(archivePath, prepared.texture, buildPreparedBlock(prepared, beforeSave));
}

std::vector<uint8_t> buildPreparedBlock(const PreparedImport& prepared,
                                        const std::function<void(TDibGraphic&)>& beforeSave)
{
    if (!prepared.ready || !prepared.picture)
        throw EImportError("The picture was not prepared for this texture");
    std::vector<uint8_t> block = prepared.texture.sectioned
                                     ? buildSectionedImportBlock(*prepared.picture, prepared.texture, prepared.alpha,
                                                                 prepared.unreducedBgra, prepared.dxt)
                                     : buildImportBlock(*prepared.picture, prepared.texture, beforeSave);
    if (prepared.releasePicture)
        prepared.releasePicture();
    return block;
}

Recovery writeImportBlockToFile(const std::string& archivePath, const TextureRef& texture,
                                const std::vector<uint8_t>& block)
{
    ArchiveEditor editor(archivePath);
    writeImportBlock(editor, texture, block);
    return editor.recovery();
}
