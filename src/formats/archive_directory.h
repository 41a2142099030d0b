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
//
// The later archive flavour is one file (".img") that holds its directory:
//   0        "VER2"
//   4        u32 entry count N
//   8 + 32i  u32 offset of the entry's data in sectors, u16 streaming size in
//            sectors, u16 size in the archive in sectors (where it is not 0,
//            it is the entry's size), 24-byte name (zero-terminated, at most
//            23 bytes, zero-padded)
// A data file (".img") without that header belongs to a directory file.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TStream;

constexpr int64_t kArchiveSectorSize = 2048;
constexpr int64_t kDirectoryRecordSize = 32;
constexpr int64_t kDirectoryNameOffset = 8;
constexpr int64_t kDirectoryNameLength = 24;
constexpr int64_t kVer2HeaderSize = 8;
extern const char kVer2Magic[4];  // "VER2"

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

// True when the stream (at any position) starts with "VER2".
bool startsWithVer2(TStream& stream);
// The entries of a VER2 archive: as many records as its count gives and
// its length holds.
std::vector<DirectoryEntry> parseVer2Directory(TStream& stream);
// The entry's size in bytes from a VER2 record's two size fields.
int64_t ver2EntrySize(uint16_t streamingSize, uint16_t archiveSize);

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

// The three kinds of file that open as an archive.
enum class ArchiveFlavour {
    Directory,   // a directory file (.dir) with its data file (.img) beside it
    Image,       // one .img whose first bytes are "VER2", its directory inside
    Dictionary,  // a standalone texture dictionary (.txd): one entry, the whole file
};
// "archive directory", "VER2 archive", "texture dictionary".
const char* archiveFlavourName(ArchiveFlavour flavour);

// What opening `path` gives: a ".txd" is a standalone dictionary, its own
// data file with the single entry of readStandaloneDictionaryEntry; a ".dir"
// is a directory file whose data file is locateDataFile(path); any other
// file whose first bytes are "VER2" is a VER2 archive; a ".img" without them
// is the data file of the ".dir" beside it (of any letter case), which is
// opened instead, and without one it is refused ("... is the data file of an
// archive directory, and there is no .dir beside it"); every other path
// names a directory file.
struct ArchiveContents {
    std::string dataFile;  // the file texture bytes are read from and written to
    bool standalone = false;
    std::vector<DirectoryEntry> entries;
    ArchiveFlavour flavour = ArchiveFlavour::Directory;
    std::string directoryFile;  // the .dir of the Directory flavour, else ""
};
ArchiveContents readArchive(const std::string& path);

// How locateArchive looks at files: the disk's by default.
struct ArchiveProbe {
    // True when a file (of any kind) has this name.
    std::function<bool(const std::string& path)> exists;
    // Whether the file starts with "VER2"; raises EFOpenError when it cannot be opened.
    std::function<bool(const std::string& path)> startsWithVer2;
    // The name of the file, letter case resolved as resolveFileNameCase does.
    std::function<std::string(const std::string& path)> resolveCase;
};
ArchiveProbe diskArchiveProbe();
// The same without reading the entries: the files and the flavour (the
// first bytes of the file are read to tell a VER2 archive).
ArchiveContents locateArchive(const std::string& path, const ArchiveProbe& probe = diskArchiveProbe());

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
