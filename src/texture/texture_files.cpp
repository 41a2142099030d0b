// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/texture_files.h"

#include "platform/file_names.h"
#include "platform/streams.h"

TextureListing readEntryTextures(TStream& data, const DirectoryEntry& entry, bool standalone)
{
    const int64_t fileSize = data.Size();
    return readTextureDictionary(data, entry.offset, standalone ? fileSize : entryEnd(entry, fileSize));
}

TextureFilePlan planTextureFiles(const ArchiveContents& archive, TStream& data, const std::string& extension)
{
    TextureFilePlan plan;
    UniqueFileNames folders;
    for (const DirectoryEntry& e : archive.entries) {
        if (!entryIsTextureDictionary(e.name))
            continue;
        TextureFilePlan::Dictionary d;
        d.entry = &e;
        d.listing = readEntryTextures(data, e, archive.standalone);
        d.folder = folders.take(safeFileName(e.name), "");
        UniqueFileNames files;
        d.files.reserve(d.listing.rows.size());
        for (const TextureRow& row : d.listing.rows)
            d.files.push_back(files.take(safeFileName(row.name), extension));
        plan.textures += int64_t(d.listing.rows.size());
        plan.dictionaries.push_back(std::move(d));
    }
    return plan;
}

std::string plannedStem(const std::string& file, const std::string& extension)
{
    return file.substr(0, file.size() - extension.size());
}
