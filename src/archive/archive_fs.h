// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The file operations the archive core makes: opening the archive's files,
// writing journals, syncing, renaming and removing. The system's are the
// default; tests put in their own to record the operations in order, to
// fail any one of them, or to lose what was not yet synced (a power cut).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TStream;

// A file opened by the archive core. Its Flush() makes what was written to
// it durable (fsync) and raises EWriteError when it cannot.
enum class ArchiveFileAccess {
    Read,       // read; other programs may read, not write
    Edit,       // read and write; nobody else may open it
    CreateNew,  // a new file (replacing one of that name), read and write, nobody else may open it
};

class ArchiveFs {
public:
    virtual ~ArchiveFs() = default;
    // Raises EFOpenError "Cannot open file %s" (EFCreateError for CreateNew)
    // when the file cannot be opened or locked as asked.
    virtual std::unique_ptr<TStream> open(const std::string& path, ArchiveFileAccess access) = 0;
    // True when something (of any kind) has this name; links are not followed.
    virtual bool exists(const std::string& path) = 0;
    // True when `path` is a symbolic link.
    virtual bool isLink(const std::string& path) = 0;
    // The whole file; nothing when it does not exist. Raises EJournalUnreadable
    // with the system's reason when it exists but cannot be read.
    virtual std::optional<std::vector<uint8_t>> readWhole(const std::string& path) = 0;
    // Removes a file (no error when it is gone already).
    virtual void remove(const std::string& path) = 0;
    // Renames a file over another in the same folder.
    virtual void rename(const std::string& from, const std::string& to) = 0;
    // Makes the folder's entries (new, renamed, removed files) durable.
    virtual void syncFolder(const std::string& folder) = 0;
    // Makes a folder private to the user (0700); false when it exists already.
    virtual bool makeFolder(const std::string& path) = 0;
    // Gives `to` the permission bits of `from`.
    virtual void copyMode(const std::string& from, const std::string& to) = 0;
    // The names of the files in a folder (not its subfolders); none when it is missing.
    virtual std::vector<std::string> list(const std::string& folder) = 0;
    // Bytes free for the user in the folder's file system.
    virtual int64_t freeSpace(const std::string& folder) = 0;
};

// The system's operations (POSIX; files locked as TFileStream locks them).
ArchiveFs& systemArchiveFs();

// The folder part of a path ("." when it has none).
std::string folderOfPath(const std::string& path);
