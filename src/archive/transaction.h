// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Edit transactions over an archive's files (a .dir with its .img, a VER2
// .img, a standalone .txd): a list of changes (bytes written at an offset, a
// file made longer or shorter) committed all or nothing.
//
// Before the first byte of any file changes, one rollback journal holds what
// undoes every change: the bytes about to be replaced and each file's
// original length, with checksums; it is made durable (the journal synced,
// then its folder). Then the changes are written and every file synced, what
// was written is read back, and only then is the journal removed (and its
// folder synced). Whoever opens the archive next finds the journal of a
// transaction that was cut off and puts the files back as they were; a
// journal whose changes are all in place is kept as the new state instead.
//
// A change that writes files whole (a rebuild) writes them beside the old
// ones and switches them in by renaming; its journal then says that the
// switch is to be finished, so that a cut at any moment leaves the old files
// or the new ones.
//
// The journal lives beside the archive's data file ("models.img" ->
// "models.img.quarnix-journal"); where that folder cannot hold it, in the
// user's state folder ($XDG_STATE_HOME/quarnix/, by default
// ~/.local/state/quarnix/) under a name made from the data file's path. It
// records the path and lengths of every file it covers and is applied only
// to the files it names. Its bytes (numbers little-endian):
//   0   8 bytes  "QXJRNL02"
//   8   u32      kind: 1 texture import, 2 archive edit, 3 switch of files
//   12  u32      F, the number of files
//   16  u64      the offset the message of an undone import names
//   24  F times  u16 path length, the path (absolute), u64 original length,
//                u64 new length
//       u32      R, the number of ranges
//       R times  u32 file, u64 offset, u64 length, u64 old length, u32 CRC-32
//                of the new bytes, u8 flags (1: bytes cut off by a shorter
//                length), then the old bytes (old length of them: the part
//                of the range that lay inside the original file)
//       u32      CRC-32 of everything before it
// Journals of the earlier single-range format ("QXJRNL01") found beside a
// data file are still recovered.
#include "archive/archive_fs.h"
#include "platform/exceptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TStream;

// No journal can be written (nothing was changed then), or one left behind
// cannot be dealt with.
QX_DECLARE_ERROR(EJournalError);
// A journal exists but cannot be read (an I/O error, no permission): it is
// never removed, and the archive is not opened.
QX_DECLARE_ERROR(EJournalUnreadable);

// New bytes of a change: in memory, or read from elsewhere as they are written.
class ChangeData {
public:
    virtual ~ChangeData() = default;
    virtual int64_t size() const = 0;
    // Exactly `count` bytes from `at` (raises EReadError when it cannot).
    virtual void read(int64_t at, uint8_t* out, int64_t count) const = 0;
};
std::shared_ptr<const ChangeData> changeBytes(std::vector<uint8_t> bytes);
// `length` bytes of `source` from `offset`; the stream must outlive the commit.
std::shared_ptr<const ChangeData> changeFromStream(TStream& source, int64_t offset, int64_t length);

// One of the archive's files, opened for editing (ArchiveFileAccess::Edit).
struct EditFile {
    std::string path;
    TStream* stream = nullptr;
};

struct FileWrite {
    size_t file = 0;  // index into the transaction's files
    int64_t offset = 0;
    std::shared_ptr<const ChangeData> data;
};

struct ChangeSet {
    std::vector<FileWrite> writes;  // ranges may not overlap
    // Per file, its length afterwards (-1: as the writes leave it).
    std::vector<int64_t> lengths;
    // Told the bytes written so far and in all while the writes are made.
    std::function<void(int64_t done, int64_t total)> progress;

    void write(size_t file, int64_t offset, std::vector<uint8_t> bytes);
    void setLength(size_t file, int64_t length);
    bool empty() const;
};

enum class ChangeKind : uint32_t { TextureImport = 1, ArchiveEdit = 2, Switch = 3 };

struct ChangeLabel {
    ChangeKind kind = ChangeKind::ArchiveEdit;
    int64_t offset = 0;  // a texture import: the texture's offset, for the message
    // What the change was, for its undo record ("import of sunset_DXT5").
    std::string description;
    // Changes of one group (the batches of one run) are undone together.
    std::string group;
};

// A transaction as its journal records it: what each file was and became,
// and the old bytes of every range it wrote or cut off.
struct ChangeRecord {
    struct ChangedFile {
        std::string path;  // absolute; empty in a journal of the earlier format
        int64_t originalLength = 0;
        int64_t newLength = 0;
    };
    struct ChangedRange {
        uint32_t file = 0;
        int64_t offset = 0;
        int64_t length = 0;
        uint32_t newCrc = 0;
        uint8_t flags = 0;         // 1: bytes a shorter length cut off (no new bytes)
        std::vector<uint8_t> old;  // the part of the range inside the original file
    };
    ChangeKind kind = ChangeKind::ArchiveEdit;
    int64_t offset = 0;
    std::vector<ChangedFile> files;
    std::vector<ChangedRange> ranges;
};
// False for bytes that are no whole record (cut short, damaged, not ours).
bool decodeChangeRecord(const std::vector<uint8_t>& bytes, ChangeRecord& record);
// True when the files (in the record's order) hold what the recorded change
// left: its new lengths and the new bytes of every range.
bool filesHoldChange(const std::vector<EditFile>& files, const ChangeRecord& record);
// The changes that put the files back as they were before the recorded change.
ChangeSet reverseChanges(const ChangeRecord& record);

// The bytes of a journal (or undo record) in the pieces they were made in.
using RecordParts = std::vector<std::pair<const uint8_t*, size_t>>;

// Where the journal of an archive is kept: beside its data file, or where
// that folder cannot hold one, in the state folder.
struct JournalPlace {
    std::string beside;
    std::string inStateFolder;  // "" when the data file cannot be named
    static JournalPlace of(const std::string& dataFile);
};

// $XDG_STATE_HOME/quarnix when that is an absolute path, else
// $HOME/.local/state/quarnix.
std::string journalStateFolder();
// Makes `folder` (absolute) and the folders above it that are missing, each
// private to the user (0700); the folder holding each one made is synced, so
// that the new folder survives a power cut with what is put into it.
void makePrivateFolders(ArchiveFs& fs, const std::string& folder);

// What recovering an archive did.
struct Recovery {
    bool restored = false;  // bytes or lengths were put back
    ChangeKind kind = ChangeKind::ArchiveEdit;
    int64_t offset = 0;
    bool switched = false;  // an interrupted switch of whole files was finished
    // "An interrupted import was undone: texture bytes at offset N restored"
    // for an import, "An interrupted change to ARCHIVE was undone" for any
    // other change; "" when nothing was put back.
    std::string message(const std::string& archiveName) const;
};

// Recovers the files (opened for editing, in the order the archive always
// lists them: its data file first) from every journal of theirs: a journal cut short or damaged
// is removed; a complete one puts back the old bytes and lengths, unless all
// of its changes are in place, which are then synced and kept; a switch is
// finished. Files left by a switch that never started are removed. Raises
// EJournalUnreadable for a journal that cannot be read (it stays), and
// EJournalError when the files cannot be put back or the journal names
// other files (the journal stays then too).
Recovery recoverFiles(ArchiveFs& fs, const std::vector<EditFile>& files, const JournalPlace& place);

// True when the archive has something to recover: a journal, or files a
// switch left.
bool needsRecovery(ArchiveFs& fs, const std::vector<std::string>& paths, const JournalPlace& place);

// Commits `changes` to `files` as one transaction (see above). Signals that
// would end the program are held off meanwhile. A failed write, truncation
// or read-back puts the old bytes back and raises EWriteError "Stream write
// error" whose detail says what failed and that the old bytes are back; when
// they cannot be put back, or a sync failed (after which what the file holds
// cannot be trusted), the journal stays for the next open to restore them
// and the detail says so. `archiveName` names the archive in messages.
// `committed`, when given, gets the journal's bytes once the change is in
// place: what an undo record keeps.
void commitChanges(ArchiveFs& fs, const std::vector<EditFile>& files, const ChangeSet& changes,
                   const ChangeLabel& label, const JournalPlace& place, const std::string& archiveName,
                   const std::function<void(const RecordParts&)>& committed = {});

// The name a file written whole for a switch has beside the file it replaces.
std::string switchTemporaryPath(const std::string& path);

// Replaces `files` by files written whole: `write(i, stream)` writes file
// i's new bytes into a new file beside it (switchTemporaryPath); each is
// synced, a journal of the switch made durable, and the new files renamed
// over the old ones (keeping their permissions); then the folder is synced
// and the journal removed. A failure before the journal is durable removes
// the new files and leaves the old ones; after it, the next open finishes
// the switch.
void commitSwitch(ArchiveFs& fs, const std::vector<EditFile>& files,
                  const std::function<void(size_t file, TStream& out)>& write, const JournalPlace& place,
                  const std::string& archiveName);

// The CRC-32 (as zlib's crc32) of `count` bytes, and of bytes that come in
// pieces: crc32Of(a + b) is crc32Continue(crc32Of(a), b).
uint32_t crc32Of(const uint8_t* data, size_t count);
uint32_t crc32Continue(uint32_t crc, const uint8_t* data, size_t count);
