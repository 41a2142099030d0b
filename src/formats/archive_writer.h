// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Writes archives: directory records, and .dir/.img pairs built from a list
// of named entries. Used to make sample archives and test fixtures; the
// layout is the one readArchiveDirectory reads.
#include <cstdint>
#include <string>
#include <vector>

// One directory record as stored. `nameField` is written raw into the 24-byte
// name field and padded with NUL bytes: it may hold 24 characters (then no
// NUL ends it), start with a NUL, or carry bytes after a NUL.
struct DirectoryRecord {
    uint32_t sectorPos = 0;
    uint32_t sectorCount = 0;
    std::string nameField;
};

// The directory file bytes: 32 bytes per record, nothing else. Raises
// Exception when a name field is longer than 24 bytes.
std::vector<uint8_t> buildDirectoryBytes(const std::vector<DirectoryRecord>& records);

// One entry of an archive to build: a name (Windows-1250 bytes, at most 24,
// no NUL) and its contents.
struct ArchiveItem {
    std::string name;
    std::vector<uint8_t> data;
};

// A built archive: the directory, the data file and the records written.
struct BuiltArchive {
    std::vector<DirectoryRecord> records;
    std::vector<uint8_t> dir;
    std::vector<uint8_t> img;
};

// Lays the items out one after another from sector 0, each padded with zero
// bytes to whole 2048-byte sectors (an empty item takes no sector). Raises
// Exception for a name that does not fit or holds a NUL, or for an archive
// that outgrows 32-bit sector numbers.
BuiltArchive buildArchive(const std::vector<ArchiveItem>& items);

// The same entries as one VER2 archive: the header and the records, the
// entries' bytes from the first sector after them. Each record has its
// streaming size in sectors and 0 in the second size field.
std::vector<uint8_t> buildVer2Archive(const std::vector<ArchiveItem>& items);

// Builds the archive and writes both files. Each file is written under a
// temporary name beside it and renamed into place once complete, so a
// failure leaves no half-written file at the given path.
void writeArchive(const std::string& dirPath, const std::string& imgPath, const std::vector<ArchiveItem>& items);

// Writes `bytes` to `path` the same way (temporary file, then rename).
// Raises EFCreateError "Cannot create file %s" or EWriteError.
void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
