// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Writes into a user's file that survive being cut off at any moment: a
// rollback journal holding the bytes about to be replaced is made durable
// before the first byte of the file changes, and removed once the new bytes
// are durable and read back. Whoever opens the file next finds a journal left
// by a write that was cut off and undoes that write.
//
// The journal of a file lives beside it (models.img -> models.img.quarnix-
// journal); where that folder cannot hold one, in the user's state folder
// ($XDG_STATE_HOME/quarnix/, by default ~/.local/state/quarnix/) under a name
// made of the file's device and inode. Its bytes (numbers little-endian):
//   0    8 bytes   "QXJRNL01"
//   8    u64       offset of the write
//   16   u64       length of the write
//   24   u64       the file's length
//   32   u32       CRC-32 of the new bytes
//   36   length    the bytes the write replaces
//   then u32       CRC-32 of everything before it
// A journal that is cut short or fails its checksum was never followed by a
// write (the write starts only once the journal is durable) and is removed.
#include "platform/exceptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TStream;

// Raised when no journal can be written (nothing was written to the file
// then) or one left behind cannot be dealt with.
QX_DECLARE_ERROR(EJournalError);

// The file operations journals are made with. The system's are the default;
// tests put in their own to fail one step.
struct JournalFileOps {
    // A new file for reading and writing (replacing one of that name).
    std::function<std::unique_ptr<TStream>(const std::string& path)> create;
    // Flushes a folder's entries to the storage device.
    std::function<void(const std::string& folder)> syncFolder;
    // Removes a file.
    std::function<void(const std::string& path)> remove;
};
JournalFileOps systemJournalFileOps();

// Where the journal of one file is kept and found.
class JournalStore {
public:
    virtual ~JournalStore() = default;
    // Makes `record` durable; raises EJournalError when it cannot anywhere.
    virtual void save(const std::vector<uint8_t>& record) = 0;
    // The same for the record made of `parts`, one after the other, so that
    // a large one never has to sit in memory joined up. The default joins
    // them and calls save().
    struct Part {
        const uint8_t* data;
        size_t size;
    };
    virtual void saveParts(const std::vector<Part>& parts);
    // Every journal found, as its raw bytes, with where it is.
    struct Found {
        std::string location;
        std::vector<uint8_t> bytes;
    };
    virtual std::vector<Found> find() = 0;
    // Removes the journal at `location` durably; raises on failure.
    virtual void remove(const std::string& location) = 0;
    // Where the last save put the journal.
    virtual std::string savedLocation() const = 0;
};

// The journals of a file on disk, beside it or in the state folder.
class FileJournalStore : public JournalStore {
public:
    explicit FileJournalStore(const std::string& dataFile, JournalFileOps ops = systemJournalFileOps());
    void save(const std::vector<uint8_t>& record) override;
    // Writes the parts one after the other into the journal file.
    void saveParts(const std::vector<Part>& parts) override;
    std::vector<Found> find() override;
    void remove(const std::string& location) override;
    std::string savedLocation() const override { return saved_; }

private:
    std::string dataFile_;
    JournalFileOps ops_;
    std::string saved_;
};

// dataFile + ".quarnix-journal".
std::string journalPathBeside(const std::string& dataFile);
// The state folder's journal of the file with this device and inode ("" when
// the file cannot be looked at).
std::string journalPathInStateFolder(const std::string& dataFile);
// $XDG_STATE_HOME/quarnix when that is an absolute path, else
// $HOME/.local/state/quarnix.
std::string journalStateFolder();

// What recovery did.
struct JournalRecovery {
    bool restored = false;  // bytes were written back
    int64_t offset = 0;
    int64_t length = 0;
    // "An interrupted import was undone: texture bytes at offset N restored",
    // or "" when nothing was written back.
    std::string message() const;
};

// Recovers `file` (open for reading and writing under the exclusive lock)
// from every journal of it in `store`: a journal whose new bytes are in the
// file is removed; a complete one whose new bytes are not has its bytes
// written back, flushed, read back and then removed; an incomplete one, or
// one that does not fit the file, is removed. Raises EJournalError when the
// bytes cannot be written back (the journal then stays).
JournalRecovery recoverFromJournals(TStream& file, JournalStore& store);

// Opens `dataFile` under the exclusive lock and recovers it, when a journal
// of it exists; does nothing otherwise. "Cannot open file %s" when there is a
// journal but the file cannot be opened for writing.
JournalRecovery recoverInterruptedWrite(const std::string& dataFile);

// Replaces `block.size()` bytes at `offset` of `file` (open for reading and
// writing under the exclusive lock) under a journal in `store`: recovers any
// journal left before, keeps the bytes replaced in a new durable journal,
// writes, flushes, reads back and removes the journal. Signals that would end
// the program are held off meanwhile. A failed step writes the previous
// bytes back and raises EWriteError "Stream write error", whose detail says
// what failed and whether the previous bytes are back ("could not be written
// back" only when the file's bytes differ from them; the journal then stays
// for the next open to restore them). `path` names the file in messages.
// Returns what recovering an earlier journal did.
JournalRecovery writeJournalled(TStream& file, const std::string& path, int64_t offset,
                                const std::vector<uint8_t>& block, JournalStore& store);

// The CRC-32 (as zlib's crc32) of `count` bytes.
uint32_t crc32Of(const uint8_t* data, size_t count);
// The CRC-32 of bytes that come in pieces: crc32Of(a + b) is
// crc32Continue(crc32Of(a), b) (and crc32Of(nothing) is 0).
uint32_t crc32Continue(uint32_t crc, const uint8_t* data, size_t count);
