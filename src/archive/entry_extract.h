// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Entries written out as files of their own: each entry's bytes as they lie
// in the data file (Size bytes from FPos, as far as the file goes), named
// from the entry's name made safe for the file system, clashes numbered,
// into a folder that is never left through a symbolic link, and never over
// a file of the archive being read.
#include "formats/archive_directory.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class TFileStream;

// Where an entry's bytes are in a data file of `fileSize` bytes.
struct EntrySpan {
    int64_t offset = 0;
    int64_t count = 0;     // bytes that exist
    bool pastEnd = false;  // the entry has bytes but the file ends before its first
    bool cut = false;      // the file ends before the entry's last byte
};
EntrySpan entrySpanIn(const DirectoryEntry& entry, int64_t fileSize);

// The files of an archive, by identity (device and inode, links not
// followed), so that no output takes the place of one of them: the path the
// archive was opened as and every file of the archive.
class ArchiveOwnFiles {
public:
    ArchiveOwnFiles(const std::string& openedPath, const ArchiveContents& archive);
    // True when `path` names one of those files (a path that does not exist
    // names none).
    bool holds(const std::string& path) const;
    // Raises Exception "Not writing over PATH: it is a file of the archive
    // being read" when it does.
    void check(const std::string& path) const;

private:
    struct Identity {
        dev_t device;
        ino_t inode;
    };
    std::vector<Identity> files_;
};

// The files an extraction writes: one per entry that has bytes in the data
// file, in the order given, with its file name; entries that start past the
// data file's end are counted, not written.
struct ExtractionPlan {
    struct Item {
        DirectoryEntry entry;
        EntrySpan span;
        std::string fileName;  // UTF-8, unique in the folder ignoring case
    };
    std::vector<Item> items;
    int64_t pastEnd = 0;
};
ExtractionPlan planExtraction(const std::vector<DirectoryEntry>& entries, int64_t dataFileSize);

// Writes the plan's files into `folder` (made when missing) from `data`, each
// under a temporary name renamed into place, and flushes them to the disk
// with one sync at the end. Nothing is written when a file would take the
// place of one of `own` (ArchiveOwnFiles::check). `written` is called after
// each file with the number written so far. Raises what the writes raise
// (the files written before stay) and ECancelled between files when the
// calling thread's work is cancelled.
void writeExtraction(const ExtractionPlan& plan, TFileStream& data, const std::string& folder,
                     const ArchiveOwnFiles& own, const std::function<void(int64_t written)>& written = {});
