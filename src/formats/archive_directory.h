// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The archive directory file (.dir) and the naming rules that tie it to its
// data file (.img) and tell it apart from a standalone texture dictionary.
//
// A directory file is a flat run of 32-byte records with no header:
//   u32 position in 2048-byte sectors, u32 size in sectors, 24-byte name
//   (ended by the first NUL; a 24-character name has none).
// The record count is the file size divided by 32; trailing bytes are ignored.
// Offsets and sizes are computed in 64-bit arithmetic, so entries at or past
// 2 GiB in the data file keep their exact positions.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TStream;

constexpr int64_t kArchiveSectorSize = 2048;
constexpr int64_t kDirectoryRecordSize = 32;
constexpr int64_t kDirectoryNameOffset = 8;
constexpr int64_t kDirectoryNameLength = 24;

struct DirectoryEntry {
    int64_t pos = 0;     // 1 for the first record, 2 for the second, ...
    std::string name;    // raw Windows-1250 bytes, no NUL inside (at most 24 from a directory)
    int64_t size = 0;    // sector count * 2048
    int64_t offset = 0;  // sector position * 2048, byte offset into the data file
};

// The end of an entry's bytes in a data file of `fileSize` bytes: FPos +
// Size, clamped to the file's length (FPos itself when that is past it).
int64_t entryEnd(int64_t offset, int64_t size, int64_t fileSize);
inline int64_t entryEnd(const DirectoryEntry& entry, int64_t fileSize)
{
    return entryEnd(entry.offset, entry.size, fileSize);
}

// Reads the directory file at `dirPath` (UTF-8) with a shared lock: writers
// are locked out while it is read, and a file another program holds for
// writing cannot be opened. Raises EFOpenError "Cannot open file <path>".
std::vector<DirectoryEntry> readArchiveDirectory(const std::string& dirPath);

// Parses directory records from the stream's current position to its end.
std::vector<DirectoryEntry> parseArchiveDirectory(TStream& stream);
// Parses directory records from a buffer.
std::vector<DirectoryEntry> parseArchiveDirectory(const uint8_t* data, size_t size);

// The single entry of a standalone texture dictionary: pos 1, offset 0,
// size = file size, name = the last path component as the path spells it
// (converted from the UTF-8 path to Windows-1250 like every entry name).
// Opens the file with the same shared lock as readArchiveDirectory.
DirectoryEntry readStandaloneDictionaryEntry(const std::string& txdPath);

// The last path component ("/" and "\" both separate components) from its
// last dot on, dot included; "" when that component has no dot.
std::string fileExtension(const std::string& path);
// True when the extension, with only A-Z lowered, is ".txd".
bool namesTextureDictionary(const std::string& path);
// Removes the extension, if any, and appends ".img" (always lower case):
// "GAME.DIR" -> "GAME.img", "my.data/models" -> "my.data/models.img".
std::string replaceExtensionWithImg(const std::string& path);
// The data file of a directory file: replaceExtensionWithImg(dirPath); when
// that file does not exist but one whose name differs only in letter case
// does (X.IMG for X.img), that file.
std::string locateDataFile(const std::string& dirPath);
// The last path component ("/" and "\" both count as separators).
std::string fileNameOfPath(const std::string& path);

// What opening `path` gives, by the same naming rules as the app's Open: a
// standalone dictionary (".txd") is its own data file with the single entry
// of readStandaloneDictionaryEntry; anything else is a directory file whose
// data file is locateDataFile(path).
struct ArchiveContents {
    std::string dataFile;  // the file texture bytes are read from and written to
    bool standalone = false;
    std::vector<DirectoryEntry> entries;
};
ArchiveContents readArchive(const std::string& path);
// The same without reading anything: dataFile and standalone, no entries.
ArchiveContents locateArchive(const std::string& path);

// True when `text` is a decimal number of 1 to 18 digits; its value in `value`.
bool parseDecimal(const std::string& text, int64_t& value);
// `which` (UTF-8) as a name: converted to Windows-1250 like every stored name.
std::string nameFromUtf8(const std::string& which);

// The item `which` names among items with a `pos` and a `name` (entries of
// an archive, textures of a dictionary): the item with that Pos when `which`
// is a decimal number that is one, otherwise the first whose name is exactly
// `which`. nullptr when none.
template <class Item>
const Item* findByPosOrName(const std::vector<Item>& items, const std::string& which)
{
    int64_t pos = 0;
    if (parseDecimal(which, pos))
        for (const Item& item : items)
            if (item.pos == pos)
                return &item;
    const std::string name = nameFromUtf8(which);
    for (const Item& item : items)
        if (item.name == name)
            return &item;
    return nullptr;
}

inline const DirectoryEntry* findEntry(const std::vector<DirectoryEntry>& entries, const std::string& which)
{
    return findByPosOrName(entries, which);
}
