// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Undo and redo of the changes made to an archive. Every change committed
// through an ArchiveEditor with a description keeps an undo record: its
// journal (the old bytes and lengths of every file, and a checksum of what it
// wrote), in the user's state folder ($XDG_STATE_HOME/quarnix/undo/), in a
// folder named from the archive's data file path, never from its device and
// inode. The newest 100 records are kept, or fewer where they would take
// more than 2 GiB; the oldest go first. Undoing a change is itself a
// journalled transaction, and is refused when the archive no longer holds
// what the change wrote (another program changed it since); its own journal
// becomes the redo record. A new change drops what could have been redone.
//
// An undo record (numbers little-endian):
//   0   8 bytes  "QXUNDO01"
//   8   u64      when the change was made (seconds since 1970)
//   16  u16      description length, the description (UTF-8)
//       u16      group length, the group (changes of one group, the
//                batches of one run, are undone and redone together)
//       u64      journal length, the journal (transaction.h)
//       u32      CRC-32 of everything before it
#include "archive/archive_fs.h"
#include "archive/transaction.h"
#include "platform/exceptions.h"

#include <cstdint>
#include <string>
#include <vector>

class ArchiveEditor;

// Nothing to undo or redo, or the archive changed since: nothing was done.
QX_DECLARE_ERROR(EUndoError);

constexpr int kUndoKeptChanges = 100;
constexpr int64_t kUndoKeptBytes = int64_t(2) << 30;

struct UndoEntry {
    std::string location;  // the record's file
    std::string description;
    std::string group;
    int64_t time = 0;
    int64_t bytes = 0;
};

// The undo and redo records of one archive (by its data file).
class UndoStore {
public:
    UndoStore(const std::string& dataFile, ArchiveFs& fs);
    // The folder the records are in.
    const std::string& folder() const { return folder_; }
    // How many records, and how many bytes of them, are kept.
    int keptChanges = kUndoKeptChanges;
    int64_t keptBytes = kUndoKeptBytes;

    // Keeps the record of a change just committed, drops every redo record
    // and the oldest undo records beyond the limits.
    void recordChange(const std::string& description, const std::string& group, const RecordParts& journal);
    // Newest first.
    std::vector<UndoEntry> undoable();
    std::vector<UndoEntry> redoable();
    // What the next undo (redo) takes back: the newest record and the
    // records of its group, newest first; only those records are read.
    std::vector<UndoEntry> nextUndo();
    std::vector<UndoEntry> nextRedo();

    // Used by undoLastChange and redoLastChange.
    void recordRedo(const UndoEntry& undone, const RecordParts& journal);
    void recordUndoKeepingRedo(const UndoEntry& redone, const RecordParts& journal);
    // The change a record holds; raises EUndoError for a damaged record.
    ChangeRecord read(const UndoEntry& entry);
    void drop(const UndoEntry& entry);

private:
    // With `newestGroup`, the reading stops after the newest record's group.
    std::vector<UndoEntry> entries(const char* prefix, bool newestGroup = false);
    void write(const char* prefix, const std::string& description, const std::string& group,
               const RecordParts& journal);
    void trim();

    ArchiveFs& fs_;
    std::string folder_;
};

// Undoes the newest change kept for the editor's archive (with the changes
// of its group); "Undid import of sunset_DXT5". Raises EUndoError when there
// is none, or when the archive no longer holds what it wrote.
std::string undoLastChange(ArchiveEditor& editor);
// Redoes the newest change undone; "Redid import of sunset_DXT5".
std::string redoLastChange(ArchiveEditor& editor);
// One line per change kept, newest first: "2026-12-11 14:20:05  import of sunset_DXT5".
std::string undoListText(ArchiveEditor& editor);
