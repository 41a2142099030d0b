#include "texture/texture_import.h"

#include "formats/texture_dictionary_layout.h"
#include "imaging/codec/tga_header.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "imaging/transforms.h"
#include "platform/byte_order.h"
#include "platform/streams.h"

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

bool readAt(TStream& s, int64_t offset, uint8_t* bytes, int64_t count)
{
    return s.Seek(offset, SeekOrigin::Begin) == offset && s.ReadFully(bytes, count) == count;
}

} // namespace

const char* const kSixteenBitRefusal = "Sorry, can't replace 16bit images :(";

std::string importRefusalMessage(ImportRefusal refusal)
{
    switch (refusal) {
    case ImportRefusal::None:
        return "";
    case ImportRefusal::NoTexture:
        return textureProblemMessage(TextureProblem::NoTexture);
    case ImportRefusal::SixteenBit:
        return kSixteenBitRefusal;
    case ImportRefusal::NoData:
        return textureProblemMessage(TextureProblem::NoData);
    case ImportRefusal::SizeMismatch:
        return "The texture's stored data size does not match its width and height; importing over it "
               "would damage the dictionary";
    case ImportRefusal::PastEnd:
        return textureProblemMessage(TextureProblem::PastEnd);
    case ImportRefusal::TooSmall:
        return "Destination graphic too small";
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
    return importWritesTrueColour(texture) ? ifRgb24 : ifColor256;
}

int64_t importBlockSize(const TextureRef& texture)
{
    return paletteBytes(texture) + TxdLayout::kDataSizeFieldSize + expectedDataSize(texture);
}

ImportRefusal importRowRefusal(const TextureRef& texture)
{
    if (!texture.present)
        return ImportRefusal::NoTexture;
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

std::vector<uint8_t> buildImportBlock(TDibGraphic& picture, const TextureRef& texture,
                                      const std::function<void(TDibGraphic&)>& beforeSave)
{
    const bool trueColour = importWritesTrueColour(texture);
    if (picture.Width() != texture.width || picture.Height() != texture.height ||
        picture.ImageFormat() != importPictureFormat(texture))
        throw EImportError("The picture was not prepared for this texture");

    TFlipVerticalTransform flip;
    flip.ApplyInPlace(picture);
    TMemoryStream tga;
    SavePictureToStream(picture, tga, "TGA", beforeSave);

    // The TGA is only the carrier: check it is laid out as the block expects.
    const std::vector<uint8_t>& t = tga.bytes();
    const int64_t pixels = pixelCount(texture);
    const int64_t dataStart = kTgaHeaderSize + (trueColour ? 0 : kTgaWrittenColourMapSize);
    const int64_t dataBytes = pixels * (trueColour ? 3 : 1);
    bool laidOut = int64_t(t.size()) >= dataStart + dataBytes;
    if (laidOut) {
        const TgaHeader h = readTgaHeader(t.data());
        laidOut = h.width == texture.width && h.height == texture.height && h.idLength == 0 &&
                  (trueColour ? (h.colourMapType == 0 && h.imageType == 2 && h.bitsPerPixel == 24)
                              : (h.colourMapType == 1 && h.imageType == 1 && h.colourMapFirst == 0 &&
                                 h.colourMapLength == 256 && h.colourMapEntrySize == 24 && h.bitsPerPixel == 8)) &&
                  (h.descriptor & 0x30) == 0 &&  // bottom row first, left to right
                  h.pixelDataOffset() == dataStart;
    }
    if (!laidOut)
        throw EImportError("The picture could not be encoded for this texture");

    std::vector<uint8_t> block(size_t(importBlockSize(texture)));
    uint8_t* out = block.data();
    if (trueColour) {
        writeLe32(out, uint32_t(pixels * 4));
        out += 4;
        const uint8_t* in = t.data() + dataStart;
        for (int64_t i = 0; i < pixels; ++i, in += 3, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = 255;
        }
    } else {
        const uint8_t* map = t.data() + kTgaHeaderSize;
        for (int k = 0; k < 256; ++k, out += 4) {
            out[0] = map[3 * k + 2];
            out[1] = map[3 * k + 1];
            out[2] = map[3 * k];
            out[3] = 255;
        }
        writeLe32(out, uint32_t(pixels));
        out += 4;
        std::memcpy(out, t.data() + dataStart, size_t(pixels));
    }
    return block;
}

JournalRecovery writeImportBlock(TStream& archive, const TextureRef& texture, const std::vector<uint8_t>& block,
                                 JournalStore& journal, const std::string& archiveFileName)
{
    const ImportRefusal refusal = importDataRefusal(archive, texture);
    if (refusal != ImportRefusal::None)
        throw EImportError(importRefusalMessage(refusal));
    if (int64_t(block.size()) != importBlockSize(texture))
        throw EImportError("The picture could not be encoded for this texture");
    return writeJournalled(archive, archiveFileName, texture.imagePos, block, journal);
}

PreparedImport prepareImport(const std::string& archiveFileName, const TextureRef& texture,
                             const ImportDriver& driver)
{
    PreparedImport prepared;
    prepared.texture = texture;
    if (importRowRefusal(texture) == ImportRefusal::SixteenBit) {
        if (driver.refuseSixteenBit)
            driver.refuseSixteenBit();
        return prepared;
    }
    // Before any dialog: a texture the block would not fit exactly is refused.
    checkImportTarget(archiveFileName, texture);
    const std::optional<std::string> file = driver.choosePicture();
    if (!file)
        return prepared;
    TDibGraphic& picture = driver.loadPicture(*file);
    if (driver.setBusy)
        driver.setBusy(true);
    PrepareImportPicture(picture, importPictureSize(texture), importPictureFormat(texture));
    if (driver.setBusy)
        driver.setBusy(false);
    prepared.picture = &picture;
    prepared.ready = true;
    return prepared;
}

JournalRecovery commitImport(const std::string& archiveFileName, const PreparedImport& prepared,
                  const std::function<void(TDibGraphic&)>& beforeSave)
{
    if (!prepared.ready || !prepared.picture)
        throw EImportError("The picture was not prepared for this texture");
    // The block is built in full before the archive is opened for writing.
    const std::vector<uint8_t> block = buildImportBlock(*prepared.picture, prepared.texture, beforeSave);
    return writeImportBlockToFile(archiveFileName, prepared.texture, block);
}

JournalRecovery writeImportBlockToFile(const std::string& archiveFileName, const TextureRef& texture,
                                       const std::vector<uint8_t>& block)
{
    TFileStream archive(archiveFileName, FileMode::OpenReadWriteExclusive);
    FileJournalStore journal(archiveFileName);
    return writeImportBlock(archive, texture, block, journal, archiveFileName);
}
