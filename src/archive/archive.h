// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one way an archive is opened and edited. Every front end and every
// command opens an archive through openArchive: the archive's files are
// locked, a change that was cut off is undone (or finished) from its
// journal, and then the entries are read. Every change goes through an
// ArchiveEditor: the files stay locked for writing from the moment it is
// made until it goes, and each commit is one transaction of
// archive/transaction.h.
#include "archive/archive_fs.h"
#include "archive/transaction.h"
#include "archive/undo.h"
#include "formats/archive_directory.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TStream;

// The archive's files, its data file first (the .img of a directory file,
// the VER2 .img, the .txd), then the directory file when there is one.
std::vector<std::string> archiveFiles(const ArchiveContents& archive);

// Opens the archive at `path`: finds its flavour and files, undoes (or
// finishes) a change that was cut off under the exclusive lock, and reads
// the entries. What recovery did goes to `recovery` when given; its message
// is for the user. Raises the reader's errors, EJournalUnreadable and
// EJournalError as recoverFiles does.
ArchiveContents openArchive(const std::string& path, Recovery* recovery = nullptr, ArchiveFs& fs = systemArchiveFs());

// Recovers the archive's files (located, not yet read) when it has a
// journal or files of a switch; does nothing otherwise.
Recovery recoverArchive(const ArchiveContents& located, ArchiveFs& fs = systemArchiveFs());

// An archive held for editing: every file of it open for reading and
// writing with nobody else allowed in, recovered, its entries read.
class ArchiveEditor {
public:
    // Refuses (Exception, nothing changed) a symbolic link in place of any
    // file of the archive.
    explicit ArchiveEditor(const std::string& path, ArchiveFs& fs = systemArchiveFs());
    ~ArchiveEditor();
    ArchiveEditor(const ArchiveEditor&) = delete;
    ArchiveEditor& operator=(const ArchiveEditor&) = delete;

    const ArchiveContents& contents() const { return contents_; }
    const Recovery& recovery() const { return recovery_; }
    // The path the archive was opened as, for messages.
    const std::string& path() const { return path_; }
    // The data file, for reading (its position is the caller's).
    TStream& data() { return *streams_[0]; }
    // The directory file of the Directory flavour; nullptr otherwise.
    TStream* directory() { return streams_.size() > 1 ? streams_[1].get() : nullptr; }
    ArchiveFs& fs() { return fs_; }

    // Commits the changes (file 0 the data file, 1 the directory file) as
    // one transaction, then reads the entries again. A change with a
    // description keeps an undo record.
    void commit(const ChangeSet& changes, const ChangeLabel& label);
    // The same, its journal handed to `committed` instead of an undo record.
    void commitRecorded(const ChangeSet& changes, const ChangeLabel& label,
                        const std::function<void(const RecordParts&)>& committed);
    // The undo and redo records of this archive.
    UndoStore& undoStore();
    // Replaces the files by ones written whole (commitSwitch), keeps the
    // new ones open and locked, and reads the entries again.
    void commitWhole(const std::function<void(size_t file, TStream& out)>& write);

private:
    void openFiles();
    void readEntries();

    ArchiveFs& fs_;
    std::string path_;
    ArchiveContents contents_;
    Recovery recovery_;
    std::vector<std::unique_ptr<TStream>> streams_;
    std::vector<EditFile> files_;
    std::unique_ptr<UndoStore> undo_;
    bool undoUnkept_ = false;

public:
    // True when a change was made but its undo record could not be kept.
    bool undoUnkept() const { return undoUnkept_; }
};
