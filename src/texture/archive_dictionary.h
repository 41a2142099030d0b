// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Edits of a sectioned texture dictionary that lies in an archive: an entry
// of a .dir or VER2 archive, or a standalone .txd. The dictionary's bytes are
// read under the lock of the ArchiveEditor that holds the archive, edited as
// a section tree (formats/dictionary_edit.h), and written back as the
// entry's new bytes in one transaction of the archive core
// (replaceEntryBytes): the entry keeps its place where the new bytes fit in
// its sectors and is moved after the data otherwise; a standalone .txd takes
// the new length. Nothing is written until the whole new dictionary has been
// made, so a refused edit leaves the archive as it was.
#include "archive/archive.h"
#include "archive/transaction.h"
#include "formats/archive_directory.h"
#include "formats/dictionary_tree.h"

#include <cstdint>
#include <string>
#include <vector>

class TStream;

struct HeldDictionary {
    DirectoryEntry entry;  // as the archive listed it when the dictionary was read
    DictionaryTree tree;
    // The entry's bytes after the dictionary section, written back after
    // it: all of them in a standalone .txd; in an archive entry up to its
    // last byte that is not zero (the zeros after it pad the entry's last
    // sector, and the new bytes are padded with zeros again).
    std::vector<uint8_t> trailing;
};

// The entry's bytes as they lie in the data file, from its offset to its end
// (a standalone .txd: the whole file), as far as the file goes.
std::vector<uint8_t> readEntryBytes(ArchiveEditor& editor, const DirectoryEntry& entry);
// The same from the data file `data` as its reader holds it open.
std::vector<uint8_t> readEntryBytes(TStream& data, const DirectoryEntry& entry, bool standalone);

// The dictionary held in `bytes`, the entry's bytes (as read, or changed by
// the caller). EDictionaryError, saying why, for what parseDictionaryTree
// refuses: a dictionary of the plain layout, a damaged one.
HeldDictionary holdDictionary(const DirectoryEntry& entry, std::vector<uint8_t> bytes, bool standalone);

// readEntryBytes, then holdDictionary.
HeldDictionary readHeldDictionary(ArchiveEditor& editor, const DirectoryEntry& entry);

// The bytes the entry takes: writeDictionaryTree of the tree, then the
// trailing bytes.
std::vector<uint8_t> heldDictionaryBytes(const HeldDictionary& held);

// Writes the edited dictionary as the entry's bytes, one transaction of the
// archive core with `label`. Refused (EDictionaryError, nothing written)
// when the archive no longer lists the entry as it was read. Returns the
// entry as the archive lists it afterwards (its new offset when it moved).
DirectoryEntry writeHeldDictionary(ArchiveEditor& editor, const HeldDictionary& held, const ChangeLabel& label);
