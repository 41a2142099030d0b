// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Changes to an archive's entries, each one transaction of the archive core:
// entries added, replaced, removed and renamed, the archive rebuilt without
// gaps, new archives made, and what an archive holds summed up.
//
// Placement: new bytes start on a sector boundary and are padded with zeros
// to a whole sector. They go after the data file's last byte (rounded up to
// a sector), except a replacement that fits in its entry's own sectors
// (where no other entry lies): it is written there, and sectors it no longer
// uses become a gap. Records that an edit only moves or renames keep their
// other fields as they are; a record whose size changes gets its size in the
// directory file's size field, or in a VER2 record the streaming size, with
// 0 in the second size field.
#include "archive/archive.h"
#include "platform/exceptions.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A refused edit: nothing was changed; the message says why.
QX_DECLARE_ERROR(EEntryEditError);

constexpr int64_t kMaxEntryNameLength = 23;
constexpr int64_t kMaxVer2EntrySectors = 65535;

// An entry name given as UTF-8 (a file's base name, a typed name) in the
// entry list's code page, checked: 1 to 23 bytes, every character in the
// code page, no "/", "\" or control character. Raises EEntryEditError.
std::string entryNameFromUtf8(const std::string& utf8);
// Entry names compare with the letters A to Z ignoring case, as the game does.
bool sameEntryName(const std::string& a, const std::string& b);

// The entry `which` names for an edit: an exact entry name wins over a Pos.
// nullptr when none.
const DirectoryEntry* findEntryForEdit(const std::vector<DirectoryEntry>& entries, const std::string& which);

// Each file (a path) becomes an entry named by its base name, appended in
// the order given. A name taken already (ignoring case) is refused unless
// `replace`, which replaces that entry's bytes. All or nothing: a missing or
// unreadable file, a name refused, the same name twice, and nothing is
// added. Returns what it did ("2 entries added", "1 entry added, 1 replaced").
// Progress of long work: called with the bytes done and in all; returning
// false cancels (the archive is then left as it was; an add, whose bytes are
// written under its journal, ignores the answer).
using EditProgress = std::function<bool(int64_t done, int64_t total)>;

std::string addEntries(ArchiveEditor& editor, const std::vector<std::string>& files, bool replace,
                       const EditProgress& progress = {});
// The entry's bytes become the file's.
std::string replaceEntry(ArchiveEditor& editor, const DirectoryEntry& entry, const std::string& file);
// The entry's bytes become `bytes` (a dictionary rewritten, say).
void replaceEntryBytes(ArchiveEditor& editor, const DirectoryEntry& entry, const std::vector<uint8_t>& bytes,
                       const ChangeLabel& label);
// The records go (their space becomes gaps); `entries` by Pos.
std::string removeEntries(ArchiveEditor& editor, const std::vector<int64_t>& positions);
// The name only.
std::string renameEntry(ArchiveEditor& editor, const DirectoryEntry& entry, const std::string& newNameUtf8);

// Every entry's bytes in directory order, one after another from sector 0
// (VER2: from the first sector after the directory), no gaps; written whole
// beside the archive and switched in. Refused when the folder's file system
// has no room for it (with the figures) or when entries lie outside the
// data file. Shared or overlapping entries get a copy each.
std::string rebuildArchive(ArchiveEditor& editor, const EditProgress& progress = {});

// A new archive of the flavour its extension names (".dir": a directory
// file with its .img; ".img": VER2) holding `files` as addEntries adds them.
// Refuses to replace an existing .dir, .img or either file of the pair.
std::string createArchive(const std::string& path, const std::vector<std::string>& files,
                          ArchiveFs& fs = systemArchiveFs());

struct ArchiveInfo {
    ArchiveFlavour flavour = ArchiveFlavour::Directory;
    int64_t entries = 0;
    int64_t dataBytes = 0;       // the data file's length
    int64_t gapBytes = 0;        // bytes of the data file that no entry (nor a VER2 directory) covers
    int64_t outsideEntries = 0;  // records whose bytes reach past the data file's end
};
// Reads the data file's length from `data`.
ArchiveInfo archiveInfo(const ArchiveContents& archive, TStream& data);
// "flavour: ...", "entries: N", "data bytes: N", "bytes in gaps: N",
// "entries outside the data: N", one line each.
std::string archiveInfoText(const ArchiveInfo& info);
