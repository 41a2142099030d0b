// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The changes of a sectioned dictionary as quarnix-tool and the app both make
// them: pictures loaded and named as textures, a texture's content replaced,
// textures added, removed and renamed in a dictionary held for editing
// (archive_dictionary.h), each written back as one transaction of the
// archive core with the same undo label whoever made it, and new
// dictionaries made from pictures.
#include "archive/archive.h"
#include "formats/dictionary_edit.h"
#include "imaging/dib_graphic.h"
#include "texture/archive_dictionary.h"
#include "texture/texture_build.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// ---- Pictures as textures ----

// A picture file loaded for a texture: the picture, and its alpha plane
// (width x height bytes; empty: opaque) when `keepAlpha`.
struct LoadedPicture {
    std::unique_ptr<TDibGraphic> picture;
    std::vector<uint8_t> alpha;
};
LoadedPicture loadPictureForTexture(const std::string& file, bool keepAlpha);

// True where the picture's alpha decides what a texture of `format` holds:
// a layout with alpha, and DXT1 (its 1-bit alpha variant).
bool layoutUsesAlpha(TexelFormat format);

// The name a picture file gives a texture: its base name without the
// extension ("in/grass.png" -> "grass", "a.b.tga" -> "a.b", ".glow.png" ->
// ".glow"), checked as textureNameFromUtf8 checks it.
std::string textureNameOfPicture(const std::string& file);

// The content of a texture made from the picture file: loaded with its
// alpha, then built as `request` asks (buildTextureContent).
TextureContent textureContentOfPicture(const std::string& file, const TextureBuildRequest& request);

// "grass, sky": the names of these textures (0 first) as messages show them.
std::string textureNamesText(const DictionaryTree& tree, const std::vector<int>& indices);

// ---- Changes written back ----
// Each makes its change in `held` (read from the archive `editor` holds),
// then writes the dictionary back with writeHeldDictionary, labelled for
// undo as said. A refused change (EDictionaryError saying why) writes
// nothing. Each returns the entry as the archive lists it afterwards.

// Texture `index` takes `content` (replaceTextureContent): "import of NAME".
DirectoryEntry writeImportedTexture(ArchiveEditor& editor, HeldDictionary& held, int index, TextureContent content);

struct NewTexture {
    std::string name;      // Windows-1250
    std::string maskName;  // Windows-1250; may be empty
    TextureContent content;
};
// The textures appended in this order (addTexture): "add-texture of NAME to
// ENTRY" ("of A, B to ENTRY" for several).
DirectoryEntry writeAddedTextures(ArchiveEditor& editor, HeldDictionary& held, std::vector<NewTexture> textures);

// The textures of these indices (0 first) removed (removeTextures):
// "remove-texture of A, B from ENTRY".
DirectoryEntry writeRemovedTextures(ArchiveEditor& editor, HeldDictionary& held, const std::vector<int>& indices);

// Texture `index` renamed, its mask name set too when given
// (renameTexture): "rename-texture of OLD to NEW in ENTRY".
DirectoryEntry writeRenamedTexture(ArchiveEditor& editor, HeldDictionary& held, int index, const std::string& name,
                                   const std::optional<std::string>& maskName = std::nullopt);

// ---- New dictionaries ----

// Refuses (Exception) to make a new dictionary at `path` when anything has
// that name already, before any picture is read; the new file's own write
// refuses again the moment it would take its place.
void checkNewDictionaryPath(const std::string& path);

// The texture names of new-txd's pictures, each picture's base name
// (textureNameOfPicture); EDictionaryError when two give one name (letter
// case ignored). No picture is read.
std::vector<std::string> textureNamesOfPictures(const std::vector<std::string>& pictures);

// A new dictionary of `platform` (newDictionaryTree) holding one texture
// per picture, in order, named by textureNamesOfPictures, each made from its
// picture file as `each` asks (its platform set to `platform`).
// `progress(done, total)` runs after each picture; false from it stops the
// work (ECancelled). Nothing is written: writeDictionaryTree gives the bytes.
DictionaryTree dictionaryOfPictures(const std::vector<std::string>& pictures, TextureBuildRequest each,
                                    uint32_t platform,
                                    const std::function<bool(int64_t done, int64_t total)>& progress = {});
