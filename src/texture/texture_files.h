// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The picture files of a whole archive, one per texture: the names that
// `export-all` writes them under and that `import-all` looks them up by.
// Both take their names from the one plan made here, so that a name always
// means the same texture:
//   <folder of the dictionary entry>/<file of the texture>
// Folder names are handed out to every dictionary entry in archive order,
// file names to every texture in dictionary order, whether or not the
// texture can be written as a picture (one that cannot still takes its
// name). Names are made safe for the file system (safeFileName) and clashes
// numbered (UniqueFileNames), ignoring letter case.
#include "formats/archive_directory.h"
#include "formats/texture_dictionary.h"

#include <cstdint>
#include <string>
#include <vector>

class TStream;

// The texture list of one archive entry, fenced to the entry's bytes (a
// standalone dictionary: the whole file).
TextureListing readEntryTextures(TStream& data, const DirectoryEntry& entry, bool standalone);

struct TextureFilePlan {
    struct Dictionary {
        const DirectoryEntry* entry = nullptr;  // into the archive the plan was made for
        TextureListing listing;
        std::string folder;              // the folder's name (UTF-8)
        std::vector<std::string> files;  // files[i]: the file name of listing.rows[i]
    };
    std::vector<Dictionary> dictionaries;  // every dictionary entry, in archive order
    int64_t textures = 0;                  // rows over all dictionaries
};

// The plan for `archive`, whose data file is open as `data`; every file
// name ends in `extension` (".tga", ".png"). The numbering does not depend
// on the extension.
TextureFilePlan planTextureFiles(const ArchiveContents& archive, TStream& data, const std::string& extension);

// A planned file name without its extension: what a picture of any format
// is found by ("a_2.png" -> "a_2").
std::string plannedStem(const std::string& file, const std::string& extension);
