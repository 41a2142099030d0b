// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the commands that give a texture a size, a layout and a mip chain
// share (import with its new options, import-all --picture-size,
// add-texture, new-txd, and the other edits of a dictionary): their
// options, the parsing of the options' values, the dictionary entry they
// edit, and the one line each edit ends with.
#include "archive/archive.h"
#include "formats/archive_directory.h"
#include "formats/dictionary_edit.h"
#include "formats/dxt_encoder.h"
#include "formats/texel_layout.h"
#include "texture/dictionary_changes.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QSize>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern const QCommandLineOption kTextureSizeOption;  // --size WxH
extern const QCommandLineOption kPictureSizeOption;  // --picture-size
extern const QCommandLineOption kLayoutOption;       // --format LAYOUT
extern const QCommandLineOption kLevelsOption;       // --levels N|all
extern const QCommandLineOption kDxtOption;          // --dxt fast|best

// "WxH" (or "WXH") of two decimal numbers of 1 to 5 digits; nothing for
// other text. Whether the size is one a texture may have is checked later
// (checkTextureSize), as a limit rather than a usage error.
std::optional<QSize> parseTextureSize(const std::string& text);
// A layout's short name ("P8", "8888", ..., "DXT5"; letter case ignored);
// nothing for other text.
std::optional<TexelFormat> parseLayoutName(const std::string& text);
// "P8, 8888, 888, 1555, 555, 565, 4444, LUM8, DXT1, DXT3, DXT5".
std::string layoutNamesText();
// "fast" or "best"; nothing for other text.
std::optional<DxtQuality> parseDxtQuality(const std::string& text);

// The values of the options a command has, read from its parser; a
// malformed value is a usage error: false, with what is wrong in `problem`.
struct TextureChoices {
    std::optional<QSize> size;
    bool pictureSize = false;
    std::optional<TexelFormat> format;
    std::optional<LevelsChoice> levels;
    DxtQuality dxt = DxtQuality::Fast;
};
bool readTextureChoices(const QCommandLineParser& parser, bool hasPictureSize, bool hasLevels, TextureChoices& choices,
                        std::string& problem);
// The value of --dxt (Fast when it is not given), as readTextureChoices
// reads it.
bool readDxtChoice(const QCommandLineParser& parser, DxtQuality& quality, std::string& problem);

// The dictionary entry `which` names (its Pos or exact name, as import and
// export take it); refused when there is none or it is not a texture
// dictionary.
DirectoryEntry dictionaryEntryOf(ArchiveEditor& editor, const std::string& which);

// The texture `which` names in the dictionary (its Pos or exact name);
// refused when there is none.
int textureIndexOf(const DictionaryTree& tree, const DirectoryEntry& entry, const std::string& which);

// "512 x 512 DXT1, 10 levels".
std::string contentText(const TexelLayout& layout);
// "'grass'": a texture or entry name as messages print it.
std::string quotedName(const std::string& cp1250);
// "" when the entry kept its place; "; the entry moved to offset N" when the
// edit moved it (a standalone .txd never moves: "").
std::string movedText(const DirectoryEntry& before, const DirectoryEntry& after);
