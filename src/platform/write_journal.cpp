// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/write_journal.h"

#include "platform/byte_order.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMagic[8] = {'Q', 'X', 'J', 'R', 'N', 'L', '0', '1'};
constexpr size_t kHeaderSize = 36;
constexpr size_t kTrailerSize = 4;
const char* const kJournalSuffix = ".quarnix-journal";

uint64_t readLe64(const uint8_t* p)
{
    return uint64_t(readLe32(p)) | (uint64_t(readLe32(p + 4)) << 32);
}

void writeLe64(uint8_t* p, uint64_t v)
{
    writeLe32(p, uint32_t(v));
    writeLe32(p + 4, uint32_t(v >> 32));
}

struct Record {
    int64_t offset = 0;
    int64_t length = 0;
    int64_t fileSize = 0;
    uint32_t newCrc = 0;
    std::vector<uint8_t> old;
};

// The journal's first kHeaderSize bytes for `r`.
std::array<uint8_t, kHeaderSize> encodeHeader(const Record& r, int64_t length)
{
    std::array<uint8_t, kHeaderSize> bytes{};
    std::memcpy(bytes.data(), kMagic, 8);
    writeLe64(&bytes[8], uint64_t(r.offset));
    writeLe64(&bytes[16], uint64_t(length));
    writeLe64(&bytes[24], uint64_t(r.fileSize));
    writeLe32(&bytes[32], r.newCrc);
    return bytes;
}

// False for a journal that is cut short, damaged or not one of ours.
bool decode(const std::vector<uint8_t>& bytes, Record& r)
{
    if (bytes.size() < kHeaderSize + kTrailerSize || std::memcmp(bytes.data(), kMagic, 8) != 0)
        return false;
    if (readLe32(&bytes[bytes.size() - 4]) != crc32Of(bytes.data(), bytes.size() - 4))
        return false;
    const uint64_t length = readLe64(&bytes[16]);
    if (length != bytes.size() - kHeaderSize - kTrailerSize)
        return false;
    r.offset = int64_t(readLe64(&bytes[8]));
    r.length = int64_t(length);
    r.fileSize = int64_t(readLe64(&bytes[24]));
    r.newCrc = readLe32(&bytes[32]);
    r.old.assign(bytes.begin() + kHeaderSize, bytes.end() - kTrailerSize);
    return r.offset >= 0 && r.fileSize >= 0;
}

bool readAt(TStream& s, int64_t offset, uint8_t* out, int64_t count)
{
    try {
        return s.Seek(offset, SeekOrigin::Begin) == offset && s.ReadFully(out, count) == count;
    } catch (const Exception&) {
        return false;
    }
}

// Bytes read back at a time to compare with what was written.
constexpr int64_t kCheckPiece = 1 << 20;

// True when the file holds `bytes` at `offset`; read back a piece at a time.
bool holds(TStream& s, int64_t offset, const std::vector<uint8_t>& bytes)
{
    const int64_t count = int64_t(bytes.size());
    std::vector<uint8_t> piece(size_t(std::min(count, kCheckPiece)));
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min(count - done, kCheckPiece);
        if (!readAt(s, offset + done, piece.data(), n)
            || std::memcmp(piece.data(), bytes.data() + done, size_t(n)) != 0)
            return false;
        done += n;
    }
    return count > 0 || readAt(s, offset, piece.data(), 0);
}

// Writes, flushes and reads back; true when the file then holds `bytes` at `offset`.
bool putAndCheck(TStream& s, int64_t offset, const std::vector<uint8_t>& bytes)
{
    const int64_t count = int64_t(bytes.size());
    try {
        if (s.Seek(offset, SeekOrigin::Begin) == offset)
            s.Write(bytes.data(), count);
        s.Flush();
    } catch (const Exception&) {
        // What counts is what the file holds now.
    }
    return holds(s, offset, bytes);
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::vector<uint8_t> readWhole(const std::string& path)
{
    std::vector<uint8_t> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        uint8_t buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
    }
    ::close(fd);
    return bytes;
}

void makeStateFolder(const std::string& folder)
{
    // Made private to the user: a journal holds bytes of the user's files.
    std::string partial;
    for (size_t at = 1; at != std::string::npos;) {
        at = folder.find('/', at + 1);
        partial = folder.substr(0, at);
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            throw EJournalError("Cannot create folder " + folder,
                                systemErrorDetail("cannot create folder", partial, errno));
    }
}

}  // namespace

uint32_t crc32Of(const uint8_t* data, size_t count)
{
    return crc32Continue(0, data, count);
}

uint32_t crc32Continue(uint32_t previous, const uint8_t* data, size_t count)
{
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = previous ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

JournalFileOps systemJournalFileOps()
{
    JournalFileOps ops;
    ops.create = [](const std::string& path) -> std::unique_ptr<TStream> {
        return std::make_unique<TFileStream>(path, FileMode::Create);
    };
    ops.syncFolder = [](const std::string& folder) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        const int errnum = errno;
        if (fd >= 0)
            ::close(fd);
        if (!synced)
            throw streamWriteError(systemErrorDetail("cannot flush folder", folder, errnum));
    };
    ops.remove = [](const std::string& path) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw streamWriteError(systemErrorDetail("cannot remove", path, errno));
    };
    return ops;
}

std::string journalPathBeside(const std::string& dataFile)
{
    return dataFile + kJournalSuffix;
}

std::string journalStateFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/quarnix";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] ? home : "/") + "/.local/state/quarnix";
}

std::string journalPathInStateFolder(const std::string& dataFile)
{
    struct stat st {};
    if (::stat(dataFile.c_str(), &st) != 0)
        return "";
    return journalStateFolder() + "/" + std::to_string(uint64_t(st.st_dev)) + "-" + std::to_string(uint64_t(st.st_ino))
           + kJournalSuffix;
}

FileJournalStore::FileJournalStore(const std::string& dataFile, JournalFileOps ops)
    : dataFile_(dataFile), ops_(std::move(ops))
{}

void JournalStore::saveParts(const std::vector<Part>& parts)
{
    std::vector<uint8_t> record;
    for (const Part& p : parts)
        record.insert(record.end(), p.data, p.data + p.size);
    save(record);
}

void FileJournalStore::save(const std::vector<uint8_t>& record)
{
    saveParts({Part{record.data(), record.size()}});
}

void FileJournalStore::saveParts(const std::vector<Part>& parts)
{
    std::string reasons;
    const std::string stateJournal = journalPathInStateFolder(dataFile_);
    for (const std::string& path : {journalPathBeside(dataFile_), stateJournal}) {
        if (path.empty())
            continue;
        bool created = false;
        try {
            if (path == stateJournal)
                makeStateFolder(folderOf(path));
            std::unique_ptr<TStream> journal = ops_.create(path);
            created = true;
            for (const Part& p : parts)
                if (journal->Write(p.data, int64_t(p.size)) != int64_t(p.size))
                    throw streamWriteError(systemErrorDetail("cannot write", path, ENOSPC));
            journal->Flush();
            journal.reset();
            ops_.syncFolder(folderOf(path));
            saved_ = path;
            return;
        } catch (const Exception& e) {
            reasons += (reasons.empty() ? "" : "; ") + e.detail();
            if (created) {
                try {
                    ops_.remove(path);
                } catch (const Exception&) {
                    // An incomplete journal is removed by the next open anyway.
                }
            }
        }
    }
    throw EJournalError("No journal could be written to protect " + dataFile_ + " (" + reasons
                        + "); nothing was written");
}

std::vector<JournalStore::Found> FileJournalStore::find()
{
    std::vector<Found> found;
    for (const std::string& path : {journalPathBeside(dataFile_), journalPathInStateFolder(dataFile_)})
        if (!path.empty() && exists(path))
            found.push_back({path, readWhole(path)});
    return found;
}

void FileJournalStore::remove(const std::string& location)
{
    ops_.remove(location);
    ops_.syncFolder(folderOf(location));
}

std::string JournalRecovery::message() const
{
    if (!restored)
        return "";
    return "An interrupted import was undone: texture bytes at offset " + std::to_string(offset) + " restored";
}

JournalRecovery recoverFromJournals(TStream& file, JournalStore& store)
{
    JournalRecovery result;
    for (const JournalStore::Found& found : store.find()) {
        Record r;
        if (decode(found.bytes, r) && r.fileSize == file.Size() && r.length <= r.fileSize - r.offset) {
            std::vector<uint8_t> now(size_t(r.length));
            const bool read = readAt(file, r.offset, now.data(), r.length);
            const bool isNew = read && crc32Of(now.data(), now.size()) == r.newCrc;
            if (!isNew && !(read && now == r.old)) {
                // Cut off part-way: the previous bytes go back.
                if (!putAndCheck(file, r.offset, r.old))
                    throw EJournalError(
                        "An interrupted import could not be undone: texture bytes at offset " + std::to_string(r.offset)
                            + " could not be written back; the journal " + found.location + " keeps them",
                        "cannot undo the interrupted import recorded in " + escapeControlCharacters(found.location));
                result.restored = true;
                result.offset = r.offset;
                result.length = r.length;
            } else {
                file.Flush();  // what the file holds is durable before its journal goes
            }
        }
        // Complete and dealt with, or never followed by a write: no longer needed.
        store.remove(found.location);
    }
    return result;
}

JournalRecovery recoverInterruptedWrite(const std::string& dataFile)
{
    const std::string state = journalPathInStateFolder(dataFile);
    if (!exists(journalPathBeside(dataFile)) && (state.empty() || !exists(state)))
        return {};
    TFileStream file(dataFile, FileMode::OpenReadWriteExclusive);
    FileJournalStore store(dataFile);
    return recoverFromJournals(file, store);
}

JournalRecovery writeJournalled(TStream& file, const std::string& path, int64_t offset,
                                const std::vector<uint8_t>& block, JournalStore& store)
{
    SignalsHeldOff held;
    const JournalRecovery earlier = recoverFromJournals(file, store);
    const int64_t count = int64_t(block.size());
    Record r;
    r.offset = offset;
    r.length = count;
    r.fileSize = file.Size();
    r.newCrc = crc32Of(block.data(), block.size());
    r.old.resize(block.size());
    if (offset < 0 || count > r.fileSize - offset || !readAt(file, offset, r.old.data(), count))
        throw streamReadError(systemErrorDetail("cannot read", path, EIO));
    // Saved as its three parts: the previous bytes are not copied again.
    const std::array<uint8_t, kHeaderSize> header = encodeHeader(r, count);
    uint8_t trailer[kTrailerSize];
    writeLe32(trailer, crc32Continue(crc32Of(header.data(), header.size()), r.old.data(), r.old.size()));
    store.saveParts({{header.data(), header.size()}, {r.old.data(), r.old.size()}, {trailer, kTrailerSize}});
    const std::string journal = store.savedLocation();

    const auto restoreAndFail = [&](const std::string& what) {
        if (!putAndCheck(file, offset, r.old))
            throw EWriteError("Stream write error: " + what
                                  + "; the texture's previous bytes could not be written "
                                    "back; the journal "
                                  + journal
                                  + " keeps them and the next open of the archive "
                                    "restores them",
                              "cannot write " + escapeControlCharacters(path) + ": " + what
                                  + "; the texture's previous bytes could not be written back; the journal "
                                  + escapeControlCharacters(journal) + " keeps them for the next open");
        try {
            store.remove(journal);
        } catch (const Exception&) {
            // The file holds its previous bytes: the next open removes the journal.
        }
        throw streamWriteError("cannot write " + escapeControlCharacters(path) + ": " + what
                               + "; the texture's previous bytes are back in place");
    };

    bool written = false;
    try {
        written = file.Seek(offset, SeekOrigin::Begin) == offset && file.Write(block.data(), count) == count;
    } catch (const Exception&) {
        written = false;
    }
    if (!written)
        restoreAndFail("the texture could not be written");
    try {
        file.Flush();
    } catch (const Exception&) {
        restoreAndFail("the texture could not be flushed to the disk");
    }
    if (!holds(file, offset, block))
        restoreAndFail("the texture read back differs from what was written");
    try {
        store.remove(journal);
    } catch (const Exception& e) {
        throw EJournalError("The texture was written, but its journal " + journal
                                + " could not be removed; the next open of the archive removes it",
                            "the texture was written, but " + e.detail());
    }
    return earlier;
}
