// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The import over a texture of a sectioned dictionary as the app's preview
// offers it: a size (the texture's, the picture's own, or typed), a layout,
// mip levels on or off, a DXT quality, and "Keep pixels exactly". With the
// texture's own size, layout and levels it is the in-place import of
// texture_import.h (the block written over the texture's bytes); otherwise
// the texture is made again from the picture (buildTextureContent) and its
// dictionary rewritten as one transaction (writeImportedTexture), as
// `quarnix-tool import --size/--picture-size/--format/--levels` does.
// Either way the bytes are made before anything is shown, and the preview
// shows their level 0 decoded: what is shown is what is written.
#include "archive/archive.h"
#include "formats/archive_directory.h"
#include "formats/dictionary_edit.h"
#include "imaging/dib_graphic.h"
#include "texture/texture_build.h"
#include "texture/texture_tga.h"

#include <QSize>

#include <cstdint>
#include <memory>
#include <string>

struct SectionedImportChoice {
    enum class Size { Texture, Picture, Typed };
    Size size = Size::Texture;
    QSize typed;  // for Typed
    TexelFormat format = TexelFormat::Unknown;
    // On: the full chain down to 1 x 1 (in place: the texture's own chain);
    // off: one level.
    bool levels = false;
    DxtQuality dxt = DxtQuality::Fast;
    bool exact = false;  // as ImportOptions::exact

    friend bool operator==(const SectionedImportChoice&, const SectionedImportChoice&) = default;
};

// The texture's own size, layout and levels (mip levels on where it stores
// more than one).
SectionedImportChoice ownChoiceOf(const TextureRef& texture);

// True when the choice keeps the texture's size (chosen as the texture's,
// or typed equal to it), layout and levels: the in-place import.
bool choiceIsInPlace(const TextureRef& texture, const SectionedImportChoice& choice);

// What a choice that is not in place builds: the size chosen (the picture's
// own: not resampled), the layout, the full chain or one level, the texture's
// previous level count, `platform` (the texture header's), exact and the DXT
// quality.
TextureBuildRequest rebuildRequestOf(const TextureRef& texture, uint32_t platform, const SectionedImportChoice& choice);

// Where the texture of a listing row lies in its dictionary's section tree,
// read from the data file as it is now (under the shared lock). `rewritable`
// false, with the reason, when the dictionary cannot be rewritten (what
// parseDictionaryTree and checkTextureReplaceable refuse) or no longer holds
// a texture of that name at that place.
struct RewritableTexture {
    bool rewritable = false;
    std::string whyNot;
    int index = -1;         // in the tree, 0 first
    uint32_t platform = 0;  // its header's
};
RewritableTexture findRewritableTexture(const std::string& dataFile, bool standalone, const DirectoryEntry& entry,
                                        int64_t texturePos, const std::string& textureName);

struct PreparedSectionedImport {
    bool inPlace = false;
    // In place: the texture's own layout and the block written at its
    // ImagePos; otherwise the texture's new content.
    TextureContent content;
    // Level 0 of `content` decoded, with its alpha beside it where the
    // layout holds alpha.
    std::unique_ptr<TDibGraphic> shown;
    QSize pictureSize;  // the picture file's own size
};

// Loads the picture file and makes the bytes the choice writes. In place:
// prepareImport (its refusals first, then the picture brought to the
// texture) and buildSectionedImportBlock at the choice's DXT quality;
// otherwise buildTextureContent(rebuildRequestOf), whose limits refuse with
// EDictionaryError. Cancellable (ECancelled) between its steps.
PreparedSectionedImport prepareSectionedImport(const std::string& archiveFileName, const TextureRef& texture,
                                               uint32_t platform, const std::string& pictureFile,
                                               const SectionedImportChoice& choice);

// Writes a texture made again: the dictionary of `entry` read from the
// archive `editor` holds, then writeImportedTexture. Refused
// (EDictionaryError, nothing written) when its texture `index` is no longer
// the one named `name` with a header of `platform`. Returns the entry as the
// archive lists it afterwards.
DirectoryEntry writeRebuiltTexture(ArchiveEditor& editor, const DirectoryEntry& entry, int index,
                                   const std::string& name, uint32_t platform, TextureContent content);
