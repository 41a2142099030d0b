// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/transaction.h"

#include "platform/byte_order.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr char kMagic2[8] = {'Q', 'X', 'J', 'R', 'N', 'L', '0', '2'};
constexpr char kMagic1[8] = {'Q', 'X', 'J', 'R', 'N', 'L', '0', '1'};
const char* const kJournalSuffix = ".quarnix-journal";
const char* const kSwitchSuffix = ".quarnix-new";
constexpr uint8_t kRangeCut = 1;
// Bytes read back at a time to compare with what was written.
constexpr int64_t kPiece = 1 << 20;

uint64_t readLe64(const uint8_t* p)
{
    return uint64_t(readLe32(p)) | (uint64_t(readLe32(p + 4)) << 32);
}

void putLe16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void putLe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}
void putLe64(std::vector<uint8_t>& out, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

class BytesData : public ChangeData {
public:
    explicit BytesData(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    int64_t size() const override { return int64_t(bytes_.size()); }
    void read(int64_t at, uint8_t* out, int64_t count) const override
    {
        if (at < 0 || count < 0 || at + count > size())
            throw streamReadError();
        std::memcpy(out, bytes_.data() + at, size_t(count));
    }

private:
    std::vector<uint8_t> bytes_;
};

class StreamData : public ChangeData {
public:
    StreamData(TStream& source, int64_t offset, int64_t length) : source_(source), offset_(offset), length_(length) {}
    int64_t size() const override { return length_; }
    void read(int64_t at, uint8_t* out, int64_t count) const override
    {
        if (at < 0 || count < 0 || at + count > length_
            || source_.Seek(offset_ + at, SeekOrigin::Begin) != offset_ + at)
            throw streamReadError();
        source_.ReadBuffer(out, count);
    }

private:
    TStream& source_;
    int64_t offset_, length_;
};

using Range = ChangeRecord::ChangedRange;
using JournalFile = ChangeRecord::ChangedFile;
using Journal = ChangeRecord;

std::vector<uint8_t> encodeHead(const Journal& j)
{
    std::vector<uint8_t> out(kMagic2, kMagic2 + 8);
    putLe32(out, uint32_t(j.kind));
    putLe32(out, uint32_t(j.files.size()));
    putLe64(out, uint64_t(j.offset));
    for (const JournalFile& f : j.files) {
        putLe16(out, uint16_t(f.path.size()));
        out.insert(out.end(), f.path.begin(), f.path.end());
        putLe64(out, uint64_t(f.originalLength));
        putLe64(out, uint64_t(f.newLength));
    }
    putLe32(out, uint32_t(j.ranges.size()));
    return out;
}

std::vector<uint8_t> encodeRangeHead(const Range& r)
{
    std::vector<uint8_t> out;
    putLe32(out, r.file);
    putLe64(out, uint64_t(r.offset));
    putLe64(out, uint64_t(r.length));
    putLe64(out, uint64_t(r.old.size()));
    putLe32(out, r.newCrc);
    out.push_back(r.flags);
    return out;
}

// Reads a journal's fields in order, never past its end.
class Cursor {
public:
    Cursor(const std::vector<uint8_t>& b, size_t end) : b_(b), end_(end) {}
    bool take(size_t n, const uint8_t*& p)
    {
        if (n > end_ - at_)
            return false;
        p = b_.data() + at_;
        at_ += n;
        return true;
    }
    bool u8(uint8_t& v)
    {
        const uint8_t* p;
        return take(1, p) && (v = p[0], true);
    }
    bool u16(uint16_t& v)
    {
        const uint8_t* p;
        return take(2, p) && (v = readLe16(p), true);
    }
    bool u32(uint32_t& v)
    {
        const uint8_t* p;
        return take(4, p) && (v = readLe32(p), true);
    }
    bool i64(int64_t& v)
    {
        const uint8_t* p;
        if (!take(8, p))
            return false;
        const uint64_t u = readLe64(p);
        if (u > uint64_t(INT64_MAX))
            return false;
        v = int64_t(u);
        return true;
    }
    bool atEnd() const { return at_ == end_; }

private:
    const std::vector<uint8_t>& b_;
    size_t end_;
    size_t at_ = 0;
};

}  // namespace

bool decodeChangeRecord(const std::vector<uint8_t>& bytes, ChangeRecord& j)
{
    j = ChangeRecord{};
    if (bytes.size() < 8 + 4 || readLe32(&bytes[bytes.size() - 4]) != crc32Of(bytes.data(), bytes.size() - 4))
        return false;
    Cursor c(bytes, bytes.size() - 4);
    const uint8_t* magic;
    if (!c.take(8, magic))
        return false;
    if (std::memcmp(magic, kMagic1, 8) == 0) {
        // The earlier format: one range of one file whose length never changed.
        Range r;
        int64_t fileSize = 0;
        if (!c.i64(r.offset) || !c.i64(r.length) || !c.i64(fileSize) || !c.u32(r.newCrc))
            return false;
        const uint8_t* old;
        if (!c.take(size_t(r.length), old) || !c.atEnd() || r.length > fileSize - r.offset)
            return false;
        r.old.assign(old, old + r.length);
        j.kind = ChangeKind::TextureImport;
        j.offset = r.offset;
        j.files = {JournalFile{"", fileSize, fileSize}};
        j.ranges = {std::move(r)};
        return true;
    }
    if (std::memcmp(magic, kMagic2, 8) != 0)
        return false;
    uint32_t kind = 0, fileCount = 0, rangeCount = 0;
    if (!c.u32(kind) || kind < 1 || kind > 3 || !c.u32(fileCount) || fileCount == 0 || fileCount > 16
        || !c.i64(j.offset))
        return false;
    j.kind = ChangeKind(kind);
    for (uint32_t i = 0; i < fileCount; ++i) {
        JournalFile f;
        uint16_t length = 0;
        const uint8_t* path;
        if (!c.u16(length) || !c.take(length, path) || !c.i64(f.originalLength) || !c.i64(f.newLength))
            return false;
        f.path.assign(reinterpret_cast<const char*>(path), length);
        j.files.push_back(std::move(f));
    }
    if (!c.u32(rangeCount))
        return false;
    for (uint32_t i = 0; i < rangeCount; ++i) {
        Range r;
        int64_t oldLength = 0;
        const uint8_t* old;
        if (!c.u32(r.file) || r.file >= fileCount || !c.i64(r.offset) || !c.i64(r.length) || !c.i64(oldLength)
            || !c.u32(r.newCrc) || !c.u8(r.flags) || oldLength > r.length || !c.take(size_t(oldLength), old))
            return false;
        const JournalFile& f = j.files[r.file];
        if (oldLength > 0 && r.offset + oldLength > f.originalLength)
            return false;
        r.old.assign(old, old + oldLength);
        j.ranges.push_back(std::move(r));
    }
    return c.atEnd();
}

namespace {

bool decodeJournal(const std::vector<uint8_t>& bytes, Journal& j)
{
    return decodeChangeRecord(bytes, j);
}

bool readAt(TStream& s, int64_t offset, uint8_t* out, int64_t count)
{
    try {
        return s.Seek(offset, SeekOrigin::Begin) == offset && s.ReadFully(out, count) == count;
    } catch (const Exception&) {
        return false;
    }
}

// The CRC of `count` bytes of the file from `offset`; false when they cannot be read.
bool crcOfFile(TStream& s, int64_t offset, int64_t count, uint32_t& crc)
{
    std::vector<uint8_t> piece(size_t(std::min(std::max<int64_t>(count, 0), kPiece)));
    crc = 0;
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min(count - done, kPiece);
        if (!readAt(s, offset + done, piece.data(), n))
            return false;
        crc = crc32Continue(crc, piece.data(), size_t(n));
        done += n;
    }
    return true;
}

uint32_t crcOfData(const ChangeData& d)
{
    std::vector<uint8_t> piece(size_t(std::min(d.size(), kPiece)));
    uint32_t crc = 0;
    for (int64_t done = 0; done < d.size();) {
        const int64_t n = std::min(d.size() - done, kPiece);
        d.read(done, piece.data(), n);
        crc = crc32Continue(crc, piece.data(), size_t(n));
        done += n;
    }
    return crc;
}

// True when the file holds at `offset` the `count` bytes `expected` gives
// a piece at a time (from, to, out).
bool holdsPieces(TStream& s, int64_t offset, int64_t count,
                 const std::function<bool(int64_t from, int64_t n, uint8_t* out)>& expected)
{
    std::vector<uint8_t> want(size_t(std::min(count, kPiece))), got(want.size());
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min(count - done, kPiece);
        if (!expected(done, n, want.data()) || !readAt(s, offset + done, got.data(), n)
            || std::memcmp(want.data(), got.data(), size_t(n)) != 0)
            return false;
        done += n;
    }
    return true;
}

// True when the file holds `bytes` at `offset`.
bool holdsBytes(TStream& s, int64_t offset, const std::vector<uint8_t>& bytes)
{
    return holdsPieces(s, offset, int64_t(bytes.size()), [&](int64_t from, int64_t n, uint8_t* out) {
        std::memcpy(out, bytes.data() + from, size_t(n));
        return true;
    });
}

// True when the file holds the change's bytes at its offset.
bool holdsData(TStream& s, int64_t offset, const ChangeData& d)
{
    return holdsPieces(s, offset, d.size(), [&](int64_t from, int64_t n, uint8_t* out) {
        try {
            d.read(from, out, n);
            return true;
        } catch (const Exception&) {
            return false;
        }
    });
}

bool sizeIs(TStream& s, int64_t length)
{
    try {
        return s.Size() == length;
    } catch (const Exception&) {
        return false;
    }
}

// Writes the change's bytes at `offset`, a piece at a time; false on any
// failure. `told` gets the count of each piece written.
bool putData(TStream& s, int64_t offset, const ChangeData& d, const std::function<void(int64_t)>& told = {})
{
    std::vector<uint8_t> piece(size_t(std::min(d.size(), kPiece)));
    try {
        for (int64_t done = 0; done < d.size();) {
            const int64_t n = std::min(d.size() - done, kPiece);
            d.read(done, piece.data(), n);
            if (s.Seek(offset + done, SeekOrigin::Begin) != offset + done || s.Write(piece.data(), n) != n)
                return false;
            done += n;
            if (told)
                told(n);
        }
    } catch (const Exception&) {
        return false;
    }
    return true;
}

bool putBytes(TStream& s, int64_t offset, const std::vector<uint8_t>& bytes)
{
    try {
        return s.Seek(offset, SeekOrigin::Begin) == offset
               && s.Write(bytes.data(), int64_t(bytes.size())) == int64_t(bytes.size());
    } catch (const Exception&) {
        return false;
    }
}

bool setLength(TStream& s, int64_t length)
{
    try {
        if (s.Size() != length)
            s.SetSize(length);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

bool sync(TStream& s)
{
    try {
        s.Flush();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// The absolute form of a path, links in its folders resolved.
std::string absolutePath(const std::string& path)
{
    const std::string folder = folderOfPath(path);
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved))
        return std::string(resolved) + (std::strcmp(resolved, "/") == 0 ? "" : "/") + name;
    return path;
}

// FNV-1a of the text, as 16 hex digits.
std::string hashName(const std::string& text)
{
    uint64_t h = 1469598103934665603ull;
    for (const unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    static const char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4)
        out[size_t(i)] = digits[h & 0xF];
    return out;
}

// Saves the journal made of `parts` durably at `place`: beside the data
// file, or in the state folder; its location.
std::string saveJournal(ArchiveFs& fs, const JournalPlace& place,
                        const std::vector<std::pair<const uint8_t*, size_t>>& parts, const std::string& archiveName)
{
    std::string reasons;
    for (const std::string& path : {place.beside, place.inStateFolder}) {
        if (path.empty())
            continue;
        bool created = false;
        try {
            if (path == place.inStateFolder)
                makePrivateFolders(fs, folderOfPath(path));
            std::unique_ptr<TStream> journal = fs.open(path, ArchiveFileAccess::CreateNew);
            created = true;
            for (const auto& [data, size] : parts)
                if (journal->Write(data, int64_t(size)) != int64_t(size))
                    throw streamWriteError(systemErrorDetail("cannot write", path, ENOSPC));
            journal->Flush();
            journal.reset();
            fs.syncFolder(folderOfPath(path));
            return path;
        } catch (const Exception& e) {
            reasons += (reasons.empty() ? "" : "; ") + e.detail();
            if (created) {
                try {
                    fs.remove(path);
                } catch (const Exception&) {
                    // An incomplete journal is removed by the next open anyway.
                }
            }
        }
    }
    throw EJournalError("No journal could be written to protect " + archiveName + " (" + reasons
                        + "); nothing was written");
}

void removeJournal(ArchiveFs& fs, const std::string& location)
{
    fs.remove(location);
    fs.syncFolder(folderOfPath(location));
}

// True when the files hold exactly what they held before the journal's changes.
bool unchanged(const std::vector<EditFile>& files, const Journal& j)
{
    for (size_t i = 0; i < j.files.size(); ++i)
        if (!sizeIs(*files[i].stream, j.files[i].originalLength))
            return false;
    for (const Range& r : j.ranges)
        if (!holdsBytes(*files[r.file].stream, r.offset, r.old))
            return false;
    return true;
}

// Puts the files back as the journal had them: original lengths, old bytes;
// synced and read back. False when that did not work (the journal must stay).
bool rollBack(const std::vector<EditFile>& files, const Journal& j)
{
    bool ok = true;
    for (size_t i = 0; i < j.files.size(); ++i)
        ok = setLength(*files[i].stream, j.files[i].originalLength) && ok;
    for (const Range& r : j.ranges)
        if (!r.old.empty())
            ok = putBytes(*files[r.file].stream, r.offset, r.old) && ok;
    for (size_t i = 0; i < j.files.size(); ++i)
        ok = sync(*files[i].stream) && ok;
    return ok && unchanged(files, j);
}

// True when every change of the journal is in place: new lengths, new bytes.
bool changesInPlace(const std::vector<EditFile>& files, const Journal& j)
{
    for (size_t i = 0; i < j.files.size(); ++i)
        if (!sizeIs(*files[i].stream, j.files[i].newLength))
            return false;
    for (const Range& r : j.ranges) {
        if (r.flags & kRangeCut)
            continue;
        uint32_t crc = 0;
        if (!crcOfFile(*files[r.file].stream, r.offset, r.length, crc) || crc != r.newCrc)
            return false;
    }
    return true;
}

std::string lastComponent(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when the journal was made for these files: the same number, the same
// paths (a journal beside the data file, which moves with it, by their names
// only), and lengths that the change could have left. A journal of the
// earlier format names no path: it lies beside the data file (the first
// file) and covers that file alone.
bool namesTheseFiles(const Journal& j, const std::vector<EditFile>& files, bool beside)
{
    const bool earlier = j.files.size() == 1 && j.files[0].path.empty();
    if (earlier ? files.empty() : j.files.size() != files.size())
        return false;
    for (size_t i = 0; i < j.files.size(); ++i) {
        const JournalFile& f = j.files[i];
        if (!f.path.empty()) {
            const std::string here = absolutePath(files[i].path);
            if (beside ? lastComponent(f.path) != lastComponent(here) : f.path != here)
                return false;
        } else if (!beside) {
            return false;
        }
        if (j.kind == ChangeKind::Switch)
            continue;
        int64_t length = 0;
        try {
            length = files[i].stream->Size();
        } catch (const Exception&) {
            return false;
        }
        if (length != f.originalLength && length != f.newLength)
            return false;
    }
    return true;
}

// Renames every switch file still beside its target over it.
void finishSwitch(ArchiveFs& fs, const std::vector<EditFile>& files)
{
    for (const EditFile& f : files) {
        const std::string temporary = switchTemporaryPath(f.path);
        if (fs.exists(temporary))
            fs.rename(temporary, f.path);
    }
    for (const EditFile& f : files)
        fs.syncFolder(folderOfPath(f.path));
}

void removeSwitchLeftovers(ArchiveFs& fs, const std::vector<EditFile>& files)
{
    for (const EditFile& f : files) {
        const std::string temporary = switchTemporaryPath(f.path);
        if (fs.exists(temporary))
            fs.remove(temporary);
    }
}

}  // namespace

uint32_t crc32Of(const uint8_t* data, size_t count)
{
    return crc32Continue(0, data, count);
}

uint32_t crc32Continue(uint32_t previous, const uint8_t* data, size_t count)
{
    // zlib's, in pieces its length type holds.
    uLong crc = previous;
    while (count > 0) {
        const uInt n = uInt(std::min<size_t>(count, 1u << 30));
        crc = ::crc32(crc, data, n);
        data += n;
        count -= n;
    }
    return uint32_t(crc);
}

std::shared_ptr<const ChangeData> changeBytes(std::vector<uint8_t> bytes)
{
    return std::make_shared<BytesData>(std::move(bytes));
}

std::shared_ptr<const ChangeData> changeFromStream(TStream& source, int64_t offset, int64_t length)
{
    return std::make_shared<StreamData>(source, offset, length);
}

void ChangeSet::write(size_t file, int64_t offset, std::vector<uint8_t> bytes)
{
    writes.push_back({file, offset, changeBytes(std::move(bytes))});
}

void ChangeSet::setLength(size_t file, int64_t length)
{
    if (lengths.size() <= file)
        lengths.resize(file + 1, -1);
    lengths[file] = length;
}

bool ChangeSet::empty() const
{
    return writes.empty() && std::all_of(lengths.begin(), lengths.end(), [](int64_t l) { return l < 0; });
}

// Makes `folder` and the folders above it that are missing, each private to
// the user; the folder holding each one made is synced, so the new folder
// survives a power cut with its journal.
void makePrivateFolders(ArchiveFs& fs, const std::string& folder)
{
    for (size_t at = 1; at != std::string::npos;) {
        at = folder.find('/', at + 1);
        const std::string partial = folder.substr(0, at);
        if (fs.makeFolder(partial))
            fs.syncFolder(folderOfPath(partial));
    }
}

std::string journalStateFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/quarnix";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] ? home : "/") + "/.local/state/quarnix";
}

JournalPlace JournalPlace::of(const std::string& dataFile)
{
    JournalPlace place;
    place.beside = dataFile + kJournalSuffix;
    place.inStateFolder = journalStateFolder() + "/" + hashName(absolutePath(dataFile)) + kJournalSuffix;
    return place;
}

std::string switchTemporaryPath(const std::string& path)
{
    return path + kSwitchSuffix;
}

std::string Recovery::message(const std::string& archiveName) const
{
    if (!restored)
        return "";
    if (kind == ChangeKind::TextureImport)
        return "An interrupted import was undone: texture bytes at offset " + std::to_string(offset) + " restored";
    return "An interrupted change to " + archiveName + " was undone";
}

bool needsRecovery(ArchiveFs& fs, const std::vector<std::string>& paths, const JournalPlace& place)
{
    if (fs.exists(place.beside) || (!place.inStateFolder.empty() && fs.exists(place.inStateFolder)))
        return true;
    for (const std::string& p : paths)
        if (fs.exists(switchTemporaryPath(p)))
            return true;
    return false;
}

Recovery recoverFiles(ArchiveFs& fs, const std::vector<EditFile>& files, const JournalPlace& place)
{
    Recovery result;
    bool switchJournal = false;
    for (const std::string& location : {place.beside, place.inStateFolder}) {
        if (location.empty())
            continue;
        const std::optional<std::vector<uint8_t>> bytes = fs.readWhole(location);
        if (!bytes)
            continue;
        Journal j;
        if (!decodeJournal(*bytes, j)) {
            // Cut short or damaged: it was never followed by a change.
            removeJournal(fs, location);
            continue;
        }
        if (!namesTheseFiles(j, files, location == place.beside)) {
            if (location != place.beside)
                continue;  // another file's: not ours to apply or remove
            throw EJournalError("The journal " + location + " does not fit the archive's files; it was left as it is",
                                "the journal " + escapeControlCharacters(location)
                                    + " does not fit the archive's files; it was left as it is");
        }
        if (j.kind == ChangeKind::Switch) {
            finishSwitch(fs, files);
            result.switched = true;
            switchJournal = true;
        } else if (changesInPlace(files, j)) {
            // Every change is there: what the files hold is durable before
            // the journal goes.
            for (const EditFile& f : files)
                if (!sync(*f.stream))
                    throw EJournalError("An interrupted change could not be completed: " + f.path
                                            + " could not be flushed; the journal " + location + " keeps it",
                                        "cannot flush " + escapeControlCharacters(f.path) + "; the journal "
                                            + escapeControlCharacters(location) + " keeps the interrupted change");
        } else {
            const bool wasUnchanged = unchanged(files, j);
            if (!rollBack(files, j))
                throw EJournalError(
                    std::string(j.kind == ChangeKind::TextureImport ? "An interrupted import could not be undone"
                                                                    : "An interrupted change could not be undone")
                        + ": the previous bytes could not be written back; the journal " + location + " keeps them",
                    "cannot undo the interrupted change recorded in " + escapeControlCharacters(location));
            if (!wasUnchanged) {
                result.restored = true;
                result.kind = j.kind;
                result.offset = j.offset;
            }
        }
        removeJournal(fs, location);
    }
    // New files of a switch that never started.
    if (!switchJournal)
        removeSwitchLeftovers(fs, files);
    return result;
}

bool filesHoldChange(const std::vector<EditFile>& files, const ChangeRecord& record)
{
    return files.size() >= record.files.size() && changesInPlace(files, record);
}

ChangeSet reverseChanges(const ChangeRecord& record)
{
    ChangeSet changes;
    for (const ChangeRecord::ChangedRange& r : record.ranges)
        if (!r.old.empty())
            changes.write(r.file, r.offset, r.old);
    for (size_t i = 0; i < record.files.size(); ++i)
        changes.setLength(i, record.files[i].originalLength);
    return changes;
}

void commitChanges(ArchiveFs& fs, const std::vector<EditFile>& files, const ChangeSet& changes,
                   const ChangeLabel& label, const JournalPlace& place, const std::string& archiveName,
                   const std::function<void(const RecordParts&)>& committed)
{
    SignalsHeldOff held;
    Journal j;
    j.kind = label.kind;
    j.offset = label.offset;
    for (size_t i = 0; i < files.size(); ++i) {
        JournalFile f;
        f.path = absolutePath(files[i].path);
        f.originalLength = files[i].stream->Size();
        int64_t length = f.originalLength;
        for (const FileWrite& w : changes.writes)
            if (w.file == i)
                length = std::max(length, w.offset + w.data->size());
        f.newLength = i < changes.lengths.size() && changes.lengths[i] >= 0 ? changes.lengths[i] : length;
        j.files.push_back(std::move(f));
    }
    // The writes must lie inside the new lengths and not overlap.
    std::vector<const FileWrite*> sorted;
    for (const FileWrite& w : changes.writes) {
        if (w.file >= files.size() || w.offset < 0 || !w.data || w.offset + w.data->size() > j.files[w.file].newLength)
            throw EWriteError("Stream write error", "a change lies outside its file");
        sorted.push_back(&w);
    }
    std::sort(sorted.begin(), sorted.end(), [](const FileWrite* a, const FileWrite* b) {
        return a->file != b->file ? a->file < b->file : a->offset < b->offset;
    });
    for (size_t k = 1; k < sorted.size(); ++k)
        if (sorted[k]->file == sorted[k - 1]->file
            && sorted[k]->offset < sorted[k - 1]->offset + sorted[k - 1]->data->size())
            throw EWriteError("Stream write error", "two changes overlap");

    // The journal: the bytes each write replaces inside the original file,
    // and what a shorter length cuts off.
    for (const FileWrite* w : sorted) {
        Range r;
        r.file = uint32_t(w->file);
        r.offset = w->offset;
        r.length = w->data->size();
        r.newCrc = crcOfData(*w->data);
        const int64_t inside = std::clamp<int64_t>(j.files[w->file].originalLength - w->offset, 0, r.length);
        r.old.resize(size_t(inside));
        if (inside > 0 && !readAt(*files[w->file].stream, w->offset, r.old.data(), inside))
            throw streamReadError(systemErrorDetail("cannot read", files[w->file].path, EIO));
        j.ranges.push_back(std::move(r));
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const JournalFile& f = j.files[i];
        if (f.newLength < f.originalLength) {
            Range r;
            r.file = uint32_t(i);
            r.offset = f.newLength;
            r.length = f.originalLength - f.newLength;
            r.flags = kRangeCut;
            r.old.resize(size_t(r.length));
            if (!readAt(*files[i].stream, r.offset, r.old.data(), r.length))
                throw streamReadError(systemErrorDetail("cannot read", files[i].path, EIO));
            j.ranges.push_back(std::move(r));
        }
    }
    // Saved in parts: the old bytes are not copied again.
    const std::vector<uint8_t> head = encodeHead(j);
    std::vector<std::vector<uint8_t>> rangeHeads;
    for (const Range& r : j.ranges)
        rangeHeads.push_back(encodeRangeHead(r));
    RecordParts parts{{head.data(), head.size()}};
    uint32_t crc = crc32Of(head.data(), head.size());
    for (size_t k = 0; k < j.ranges.size(); ++k) {
        parts.push_back({rangeHeads[k].data(), rangeHeads[k].size()});
        parts.push_back({j.ranges[k].old.data(), j.ranges[k].old.size()});
        crc = crc32Continue(crc, rangeHeads[k].data(), rangeHeads[k].size());
        crc = crc32Continue(crc, j.ranges[k].old.data(), j.ranges[k].old.size());
    }
    std::vector<uint8_t> trailer;
    putLe32(trailer, crc);
    parts.push_back({trailer.data(), trailer.size()});
    const std::string journal = saveJournal(fs, place, parts, archiveName);

    const std::string what = label.kind == ChangeKind::TextureImport ? "the texture's" : "the archive's";
    // A write, truncation or read-back failed: the old bytes go back, and
    // the journal with them once they are durable.
    const auto restoreAndFail = [&](const std::string& problem) {
        if (!rollBack(files, j))
            throw EWriteError("Stream write error: " + problem + "; " + what
                                  + " previous bytes could not be written back; the journal " + journal
                                  + " keeps them and the next open of the archive restores them",
                              "cannot write " + escapeControlCharacters(archiveName) + ": " + problem + "; " + what
                                  + " previous bytes could not be written back; the journal "
                                  + escapeControlCharacters(journal) + " keeps them for the next open");
        try {
            removeJournal(fs, journal);
        } catch (const Exception&) {
            // The files hold their previous bytes: the next open removes the journal.
        }
        throw streamWriteError("cannot write " + escapeControlCharacters(archiveName) + ": " + problem + "; " + what
                               + " previous bytes are back in place");
    };

    // Longer files first, then the bytes, then shorter files.
    for (size_t i = 0; i < files.size(); ++i)
        if (j.files[i].newLength > j.files[i].originalLength && !setLength(*files[i].stream, j.files[i].newLength))
            restoreAndFail(files[i].path + " could not be made longer");
    int64_t total = 0, written = 0;
    for (const FileWrite* w : sorted)
        total += w->data->size();
    const std::function<void(int64_t)> told = [&](int64_t n) {
        written += n;
        if (changes.progress)
            changes.progress(written, total);
    };
    for (const FileWrite* w : sorted)
        if (!putData(*files[w->file].stream, w->offset, *w->data, told))
            restoreAndFail(files[w->file].path + " could not be written");
    for (size_t i = 0; i < files.size(); ++i)
        if (j.files[i].newLength < j.files[i].originalLength && !setLength(*files[i].stream, j.files[i].newLength))
            restoreAndFail(files[i].path + " could not be made shorter");
    for (const EditFile& f : files) {
        if (!sync(*f.stream)) {
            // After a failed sync what the file holds cannot be trusted: the
            // journal stays, and the next open puts the old bytes back from
            // it. They are put back now as well, as far as that goes.
            rollBack(files, j);
            throw EWriteError(
                "Stream write error: " + f.path + " could not be flushed to the disk; the journal " + journal
                    + " keeps " + what + " previous bytes and the next open of the archive restores them",
                "cannot flush " + escapeControlCharacters(f.path) + " to the disk; the journal "
                    + escapeControlCharacters(journal) + " keeps " + what + " previous bytes for the next open");
        }
    }
    for (size_t i = 0; i < files.size(); ++i)
        if (!sizeIs(*files[i].stream, j.files[i].newLength))
            restoreAndFail(files[i].path + " does not have the length it was given");
    for (const FileWrite* w : sorted)
        if (!holdsData(*files[w->file].stream, w->offset, *w->data))
            restoreAndFail("what was read back differs from what was written");
    try {
        removeJournal(fs, journal);
    } catch (const Exception& e) {
        throw EJournalError("The change was written, but its journal " + journal
                                + " could not be removed; the next open of the archive removes it",
                            "the change was written, but " + e.detail());
    }
    if (committed)
        committed(parts);
}

void commitSwitch(ArchiveFs& fs, const std::vector<EditFile>& files,
                  const std::function<void(size_t file, TStream& out)>& write, const JournalPlace& place,
                  const std::string& archiveName)
{
    // The new files may be cut off while they are written (the next open
    // removes them); from the journal on, signals wait.
    std::vector<std::string> made;
    const auto removeMade = [&] {
        for (const std::string& p : made) {
            try {
                fs.remove(p);
            } catch (const Exception&) {
                // Removed by the next open.
            }
        }
    };
    try {
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string temporary = switchTemporaryPath(files[i].path);
            std::unique_ptr<TStream> out = fs.open(temporary, ArchiveFileAccess::CreateNew);
            made.push_back(temporary);
            fs.copyMode(files[i].path, temporary);
            write(i, *out);
            out->Flush();
        }
        for (const EditFile& f : files)
            fs.syncFolder(folderOfPath(f.path));
    } catch (...) {
        removeMade();
        throw;
    }
    SignalsHeldOff held;
    Journal j;
    j.kind = ChangeKind::Switch;
    for (const EditFile& f : files) {
        const int64_t length = f.stream->Size();
        j.files.push_back({absolutePath(f.path), length, length});
    }
    std::vector<uint8_t> bytes = encodeHead(j);
    putLe32(bytes, crc32Of(bytes.data(), bytes.size()));
    std::string journal;
    try {
        journal = saveJournal(fs, place, {{bytes.data(), bytes.size()}}, archiveName);
    } catch (...) {
        removeMade();
        throw;
    }
    try {
        finishSwitch(fs, files);
        removeJournal(fs, journal);
    } catch (const Exception& e) {
        throw EJournalError(
            "The rebuilt archive could not be put in place; the journal " + journal + " finishes it at the next open",
            "cannot put the rebuilt " + escapeControlCharacters(archiveName) + " in place (" + e.detail()
                + "); the journal " + escapeControlCharacters(journal) + " finishes it at the next open");
    }
}
