// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Importing a picture over a texture: the checks that come before anything is
// asked or written, the block of bytes that replaces the texture's data, and
// the in-place write of that block into the archive.
//
// What is written at the texture's ImagePos (W x H = the texture's size):
//   32-bit       data size W*H*4 (i32), then W*H texels B, G, R, 255
//   8-bit        palette 256 x (R, G, B, 255), data size W*H (i32), then W*H indices
// Texels run row by row, the picture's top row first. The block replaces
// exactly the bytes the texture holds now, so a texture whose stored data
// size is not W*H*4 (or W*H) is refused: writing it would put the rest of
// the dictionary out of step with its stored sizes.
#include "archive/transaction.h"
#include "imaging/dib_graphic.h"
#include "platform/exceptions.h"
#include "texture/texture_build.h"
#include "texture/texture_tga.h"

#include <QSize>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class ArchiveEditor;
class TStream;

// The message "Import Texture" shows (as a plain message) for a 16-bit texture.
extern const char* const kSixteenBitRefusal;

// Why a texture cannot be imported over; None when it can.
enum class ImportRefusal {
    None,
    NoTexture,     // no current texture row
    SixteenBit,    // 16-bit textures are not replaced
    NoData,        // no data offset: unknown kind or damaged dictionary
    SizeMismatch,  // the stored data size is not what W x H at this kind takes
    PastEnd,       // the texture's bytes run past the end of the file
    TooSmall,      // narrower or lower than 2 pixels: the picture cannot be resampled to it
};
std::string importRefusalMessage(ImportRefusal refusal);

// The texture's kind as the import sees it: 32-bit, or 8-bit paletted.
bool importWritesTrueColour(const TextureRef& texture);
// The size and pixel format the picture is prepared to.
QSize importPictureSize(const TextureRef& texture);
TImageFormat importPictureFormat(const TextureRef& texture);
// Bytes of the block written at ImagePos.
int64_t importBlockSize(const TextureRef& texture);

// True where the import keeps the picture's alpha: a sectioned texture whose
// layout holds alpha (8888, 1555, 4444, DXT1 with its 1-bit alpha, DXT3, DXT5).
bool importKeepsAlpha(const TextureRef& texture);

// Checks the row alone (no file read): no row, 16-bit, no data offset, too small.
ImportRefusal importRowRefusal(const TextureRef& texture);
// Checks the texture against the archive's bytes as they are now: the stored
// data size and the texture's extent in the file. `archive` is read at
// ImagePos; the file's length is not changed.
ImportRefusal importDataRefusal(TStream& archive, const TextureRef& texture);

// Raised when a texture cannot be imported over; the message says why.
QX_DECLARE_ERROR(EImportError);

// Checks a texture of the archive file before any dialog opens: the row, then
// the file's bytes (opened for reading with writers locked out). Raises
// EImportError with importRefusalMessage; a 16-bit texture is not checked
// here (the caller shows kSixteenBitRefusal first).
void checkImportTarget(const std::string& archiveFileName, const TextureRef& texture);

// The block for a picture already resampled to the texture's size and reduced
// to its format (PrepareImportPicture): the picture is mirrored top to bottom
// in place and encoded as TGA, whose pixel bytes (bottom row first, so the
// picture's top row first) become the texels. `beforeSave` sees the picture
// the TGA is written from. Raises EImportError when the picture does not have
// the texture's size or format.
std::vector<uint8_t> buildImportBlock(TDibGraphic& picture, const TextureRef& texture,
                                      const std::function<void(TDibGraphic&)>& beforeSave = {});

// The block for a texture of a sectioned dictionary, from ImagePos to the end
// of its last level: encodeTextureData (texture_build.h) of the picture,
// already at the texture's size and format, with `alpha` where the layout
// holds alpha and `unreducedBgra` for a paletted texture's further levels.
std::vector<uint8_t> buildSectionedImportBlock(const TDibGraphic& picture, const TextureRef& texture,
                                               const std::vector<uint8_t>& alpha,
                                               const std::vector<uint8_t>& unreducedBgra,
                                               DxtQuality quality = DxtQuality::Fast);

// Writes `block` over the texture's bytes in the archive `editor` holds:
// checks the texture against the file again under the editor's lock, then
// replaces exactly those bytes as one transaction of the archive core
// (journal made durable first, write, sync, read back, journal removed).
// Any failure writes the previous bytes back before it raises ("Stream write
// error"); the file's length never changes.
void writeImportBlock(ArchiveEditor& editor, const TextureRef& texture, const std::vector<uint8_t>& block);

// Opens the archive at `archivePath` (as it was opened: the .dir, the .img
// of either flavour or the .txd) for editing ("Cannot open file %s" when
// another program has it open), which undoes a change cut off before, then
// writeImportBlock. Returns what that recovery did.
Recovery writeImportBlockToFile(const std::string& archivePath, const TextureRef& texture,
                                const std::vector<uint8_t>& block);

// The one import sequence of the app and the tool. Whoever drives it says
// how the user is told, asked and shown things.
struct ImportDriver {
    // Shows kSixteenBitRefusal (the app: a plain message box).
    std::function<void()> refuseSixteenBit;
    // The picture file to import; nothing when the user cancelled.
    std::function<std::optional<std::string>()> choosePicture;
    // Loads the picture where it is previewed and returns it (the app: the
    // preview dialog's view, which owns it).
    // With `keepAlpha` the picture is read with its alpha beside its straight
    // colour (TDibGraphic::KeepAlpha).
    std::function<TDibGraphic&(const std::string& file, bool keepAlpha)> loadPicture;
    // The busy cursor around the conversion; may be empty.
    std::function<void(bool)> setBusy;
    // Runs the long part of the preparation (`work`: loading the picture,
    // resampling and reducing it). It may run `work` on another thread and
    // show progress meanwhile, but returns only once `work` has ended, and
    // raises what `work` raised. Empty: `work` runs here.
    std::function<void(const std::function<void()>& work)> runPreparation;
    // Lets the loaded picture go once the block is built, before the write,
    // which holds the texture's previous bytes beside the block. May be
    // empty (the app keeps its preview's picture).
    std::function<void()> releasePicture;
};

struct PreparedImport {
    bool ready = false;  // false: refused as 16-bit, or no picture chosen
    TextureRef texture;
    TDibGraphic* picture = nullptr;        // the converted picture, owned by the driver
    std::function<void()> releasePicture;  // the driver's, as ImportDriver says
    // Sectioned textures: the picture's alpha at the texture's size (empty:
    // opaque), read only where the layout holds alpha; and, for a paletted
    // one with mip levels, its colours before the reduction (B, G, R, A).
    std::vector<uint8_t> alpha;
    std::vector<uint8_t> unreducedBgra;
    DxtQuality dxt = DxtQuality::Fast;  // as ImportOptions::dxt
};

struct ImportOptions {
    // A picture that already has the texture's size is not resampled, and
    // over the 8-bit palette one of at most 256 colours keeps exactly its
    // colours (its own palette, no dithering).
    bool exact = false;
    // The archive's data file as the caller holds it open (under its own
    // lock): the texture is checked against it instead of opening the file.
    TStream* archive = nullptr;
    // How DXT levels are encoded: Fast (the default), or Best (slower,
    // libsquish's iterative cluster fit).
    DxtQuality dxt = DxtQuality::Fast;
};

// Everything up to the picture to preview: the 16-bit refusal (ready false),
// checkImportTarget (raises EImportError), the choice of the picture (ready
// false when cancelled), loading it, and PrepareImportPicture.
PreparedImport prepareImport(const std::string& archiveFileName, const TextureRef& texture, const ImportDriver& driver,
                             const ImportOptions& options = {});

// The block a prepared import writes: buildSectionedImportBlock or
// buildImportBlock (the picture is mirrored in place), then the driver's
// releasePicture. `beforeSave` as for buildImportBlock.
std::vector<uint8_t> buildPreparedBlock(const PreparedImport& prepared,
                                        const std::function<void(TDibGraphic&)>& beforeSave = {});

// Everything after the user said Import: buildSectionedImportBlock or
// buildImportBlock (the picture is mirrored in place), the driver's
// releasePicture, then writeImportBlockToFile. `beforeSave` as for
// buildImportBlock. Returns what recovering an earlier journal did.
Recovery commitImport(const std::string& archivePath, const PreparedImport& prepared,
                      const std::function<void(TDibGraphic&)>& beforeSave = {});
