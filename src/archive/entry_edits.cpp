// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/entry_edits.h"

#include "platform/byte_order.h"
#include "platform/environment.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Record = std::array<uint8_t, kDirectoryRecordSize>;

int64_t sectorsFor(int64_t bytes)
{
    return (bytes + kArchiveSectorSize - 1) / kArchiveSectorSize;
}

int64_t roundUpToSector(int64_t bytes)
{
    return sectorsFor(bytes) * kArchiveSectorSize;
}

std::string recordName(const Record& r)
{
    const auto* chars = reinterpret_cast<const char*>(r.data() + kDirectoryNameOffset);
    const void* nul = std::memchr(chars, 0, size_t(kDirectoryNameLength));
    return std::string(chars, nul ? size_t(static_cast<const char*>(nul) - chars) : size_t(kDirectoryNameLength));
}

void setRecordName(Record& r, const std::string& name)
{
    std::memset(r.data() + kDirectoryNameOffset, 0, size_t(kDirectoryNameLength));
    std::memcpy(r.data() + kDirectoryNameOffset, name.data(), std::min(name.size(), size_t(kMaxEntryNameLength)));
}

// The directory of an archive as its raw records, and how they are read and
// written for each flavour.
struct Directory {
    ArchiveFlavour flavour = ArchiveFlavour::Directory;
    std::vector<Record> records;

    int64_t offsetSectors(size_t i) const { return readLe32(records[i].data()); }
    int64_t sizeSectors(size_t i) const
    {
        const uint8_t* r = records[i].data();
        if (flavour == ArchiveFlavour::Image)
            return ver2EntrySize(readLe16(r + 4), readLe16(r + 6)) / kArchiveSectorSize;
        return readLe32(r + 4);
    }
    void setOffset(size_t i, int64_t sectors) { writeLe32(records[i].data(), uint32_t(sectors)); }
    void setSize(size_t i, int64_t sectors)
    {
        uint8_t* r = records[i].data();
        if (flavour == ArchiveFlavour::Image) {
            writeLe16(r + 4, uint16_t(sectors));
            writeLe16(r + 6, 0);
        } else {
            writeLe32(r + 4, uint32_t(sectors));
        }
    }
    // The bytes before the first entry's data that a VER2 directory of
    // `count` records takes.
    static int64_t ver2DirectoryEnd(size_t count) { return kVer2HeaderSize + int64_t(count) * kDirectoryRecordSize; }
};

Directory readDirectory(ArchiveEditor& editor)
{
    Directory d;
    d.flavour = editor.contents().flavour;
    std::vector<uint8_t> bytes;
    if (d.flavour == ArchiveFlavour::Dictionary)
        throw EEntryEditError("A standalone texture dictionary is one entry; it has no directory to change");
    if (d.flavour == ArchiveFlavour::Directory) {
        TStream& dir = *editor.directory();
        const int64_t count = dir.Size() / kDirectoryRecordSize;
        bytes.resize(size_t(count * kDirectoryRecordSize));
        dir.Seek(0, SeekOrigin::Begin);
        dir.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    } else {
        TStream& data = editor.data();
        const int64_t count = int64_t(editor.contents().entries.size());
        bytes.resize(size_t(count * kDirectoryRecordSize));
        data.Seek(kVer2HeaderSize, SeekOrigin::Begin);
        data.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    }
    d.records.resize(bytes.size() / size_t(kDirectoryRecordSize));
    for (size_t i = 0; i < d.records.size(); ++i)
        std::memcpy(d.records[i].data(), bytes.data() + i * size_t(kDirectoryRecordSize), size_t(kDirectoryRecordSize));
    return d;
}

// The changes that turn directory `before` into `after`: records from the
// first one that differs are written again; the directory file takes its new
// length, a VER2 archive its new count (records it no longer has are zeroed).
void writeDirectory(const Directory& before, const Directory& after, ChangeSet& changes)
{
    size_t first = 0;
    while (first < before.records.size() && first < after.records.size()
           && before.records[first] == after.records[first])
        ++first;
    std::vector<uint8_t> bytes;
    for (size_t i = first; i < after.records.size(); ++i)
        bytes.insert(bytes.end(), after.records[i].begin(), after.records[i].end());
    if (after.flavour == ArchiveFlavour::Directory) {
        if (!bytes.empty())
            changes.write(1, int64_t(first) * kDirectoryRecordSize, std::move(bytes));
        changes.setLength(1, int64_t(after.records.size()) * kDirectoryRecordSize);
        return;
    }
    if (before.records.size() != after.records.size()) {
        std::vector<uint8_t> count(4);
        writeLe32(count.data(), uint32_t(after.records.size()));
        changes.write(0, 4, std::move(count));
    }
    if (after.records.size() < before.records.size())
        bytes.resize(bytes.size() + (before.records.size() - after.records.size()) * size_t(kDirectoryRecordSize), 0);
    if (!bytes.empty())
        changes.write(0, Directory::ver2DirectoryEnd(first), std::move(bytes));
}

// The edit being planned: the directory before and after, the changes, and
// where bytes appended to the data file go.
struct Plan {
    explicit Plan(ArchiveEditor& e) : editor(e), before(readDirectory(e)), after(before)
    {
        dataLength = e.data().Size();
        end = roundUpToSector(dataLength);
        directoryCount = before.records.size();
    }

    // Appends `data` (padded to a sector by the file's new length) and
    // returns its offset in sectors.
    int64_t append(std::shared_ptr<const ChangeData> data)
    {
        const int64_t at = end;
        const int64_t size = data->size();
        if (size > 0)
            changes.writes.push_back({0, at, std::move(data)});
        end += roundUpToSector(size);
        appended = true;
        return at / kArchiveSectorSize;
    }

    // Record i's bytes become `data`: in its own sectors where they fit and
    // no other entry lies there, else after the data file's end.
    // Record i's bytes become `data`: in its own sectors where they fit and
    // no other entry lies there (or, for the entry that ends the data file,
    // growing it where nothing lies after it), else after the data file's
    // end. With `known` (the same bytes, in memory), only the span that
    // differs from what the entry holds is written.
    void replace(size_t i, std::shared_ptr<const ChangeData> data, const std::vector<uint8_t>* known = nullptr)
    {
        const int64_t size = data->size();
        const int64_t sectors = sectorsFor(size);
        checkSize(sectors, i);
        const int64_t offset = after.offsetSectors(i);
        const int64_t own = after.sizeSectors(i);
        const int64_t from = offset * kArchiveSectorSize, to = (offset + sectors) * kArchiveSectorSize;
        const int64_t dataEnd = roundUpToSector(dataLength);
        const bool endsTheData = own > 0 && (offset + own) * kArchiveSectorSize >= dataEnd && from < dataEnd;
        bool inPlace = (sectors <= own ? to <= dataEnd : endsTheData && end == dataEnd)
                       && (after.flavour != ArchiveFlavour::Image
                           || from >= Directory::ver2DirectoryEnd(std::max(directoryCount, after.records.size())));
        for (size_t k = 0; inPlace && k < after.records.size(); ++k)
            if (k != i && after.sizeSectors(k) > 0 && after.offsetSectors(k) < offset + std::max(sectors, own)
                && after.offsetSectors(k) + after.sizeSectors(k) > offset)
                inPlace = false;
        if (!inPlace) {
            after.setOffset(i, append(std::move(data)));
            after.setSize(i, sectors);
            return;
        }
        int64_t first = 0, last = size;  // the span written
        if (known && size > 0) {
            const int64_t present = std::clamp<int64_t>(dataLength - from, 0, size);
            std::vector<uint8_t> now(static_cast<size_t>(present));
            TStream& file = editor.data();
            file.Seek(from, SeekOrigin::Begin);
            file.ReadBuffer(now.data(), present);
            while (first < present && now[size_t(first)] == (*known)[size_t(first)])
                ++first;
            if (last <= present)
                while (last > first && now[size_t(last - 1)] == (*known)[size_t(last - 1)])
                    --last;
            if (last > first)
                changes.write(0, from + first, std::vector<uint8_t>(known->begin() + first, known->begin() + last));
        } else if (size > 0) {
            changes.writes.push_back({0, from, std::move(data)});
        }
        // The rest of the new last sector is zeroed, inside the file.
        const int64_t padEnd = std::min(to, std::max(dataLength, from + size));
        if (padEnd > from + size)
            changes.write(0, from + size, std::vector<uint8_t>(size_t(padEnd - from - size), 0));
        if (to > dataEnd) {
            // The entry that ends the data file grows in place.
            end = to;
            appended = true;
        }
        after.setSize(i, sectors);
    }

    void checkSize(int64_t sectors, size_t i) const
    {
        if (after.flavour == ArchiveFlavour::Image && sectors > kMaxVer2EntrySectors)
            throw EEntryEditError("'" + displayName(recordName(after.records[i]))
                                  + "' is too large for a VER2 archive: " + std::to_string(sectors)
                                  + " sectors, at most " + std::to_string(kMaxVer2EntrySectors));
    }

    // A VER2 directory of `count` records that would reach into entries'
    // data moves those entries after the data file's end, before any other
    // bytes are appended; entries in `skip` (about to get new bytes) stay.
    void reserveDirectory(size_t count, const std::set<size_t>& skip = {})
    {
        directoryCount = count;
        if (after.flavour != ArchiveFlavour::Image)
            return;
        const int64_t dirEnd = Directory::ver2DirectoryEnd(count);
        for (size_t k = 0; k < after.records.size(); ++k) {
            if (skip.count(k) || after.sizeSectors(k) == 0 || after.offsetSectors(k) * kArchiveSectorSize >= dirEnd)
                continue;
            // Read now: the directory's new records overwrite the old place.
            const int64_t from = after.offsetSectors(k) * kArchiveSectorSize;
            const int64_t sectors = after.sizeSectors(k);
            const int64_t bytes = std::clamp<int64_t>(dataLength - from, 0, sectors * kArchiveSectorSize);
            std::vector<uint8_t> moved(static_cast<size_t>(bytes));
            TStream& data = editor.data();
            data.Seek(from, SeekOrigin::Begin);
            data.ReadBuffer(moved.data(), bytes);
            const int64_t at = append(changeBytes(std::move(moved)));
            end = (at + sectors) * kArchiveSectorSize;  // the whole of its sectors
            after.setOffset(k, at);
        }
    }

    void commit(const ChangeLabel& label = {})
    {
        writeDirectory(before, after, changes);
        if (appended)
            changes.setLength(0, std::max(dataLength, end));
        editor.commit(changes, label);
    }

    ArchiveEditor& editor;
    Directory before, after;
    ChangeSet changes;
    int64_t dataLength = 0;
    int64_t end = 0;
    bool appended = false;
    size_t directoryCount = 0;  // the records the directory will have
};

std::shared_ptr<const ChangeData> sourceData(std::vector<std::unique_ptr<TStream>>& sources, const std::string& path)
{
    sources.push_back(std::make_unique<TFileStream>(path, FileMode::OpenReadShareDenyWrite));
    TStream& s = *sources.back();
    return changeFromStream(s, 0, s.Size());
}

std::string utf8BaseName(const std::string& path)
{
    return fileNameOfPath(path);
}

ChangeLabel described(const std::string& description)
{
    ChangeLabel label;
    label.description = description;
    return label;
}

int64_t findRecord(const Directory& d, const std::string& name)
{
    for (size_t i = 0; i < d.records.size(); ++i)
        if (sameEntryName(recordName(d.records[i]), name))
            return int64_t(i);
    return -1;
}

}  // namespace

std::string entryNameFromUtf8(const std::string& utf8)
{
    const QString text = QString::fromUtf8(utf8);
    const std::string name = toCp1250(text);
    if (utf8.empty())
        throw EEntryEditError("An entry name cannot be empty");
    if (QString::fromStdString(cp1250ToUtf8(name)) != text)
        throw EEntryEditError("The name '" + escapeControlCharacters(utf8)
                              + "' has characters the entry list's code page cannot hold");
    if (int64_t(name.size()) > kMaxEntryNameLength)
        throw EEntryEditError("The name '" + escapeControlCharacters(utf8) + "' is longer than "
                              + std::to_string(kMaxEntryNameLength) + " bytes");
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '/' || u == '\\' || u < 0x20 || (u >= 0x7F && u <= 0x9F))
            throw EEntryEditError("The name '" + escapeControlCharacters(utf8)
                                  + "' holds a character names cannot hold (/, \\ or a control character)");
    }
    return name;
}

bool sameEntryName(const std::string& a, const std::string& b)
{
    return asciiLower(a) == asciiLower(b);
}

const DirectoryEntry* findEntryForEdit(const std::vector<DirectoryEntry>& entries, const std::string& which)
{
    const std::string name = nameFromUtf8(which);
    for (const DirectoryEntry& e : entries)
        if (e.name == name)
            return &e;
    int64_t pos = 0;
    if (parseDecimal(which, pos) && pos >= 1 && pos <= int64_t(entries.size()))
        return &entries[size_t(pos - 1)];
    return nullptr;
}

std::string addEntries(ArchiveEditor& editor, const std::vector<std::string>& files, bool replace,
                       const EditProgress& progress)
{
    Plan plan(editor);
    if (progress)
        plan.changes.progress = [progress](int64_t done, int64_t total) { progress(done, total); };
    std::vector<std::unique_ptr<TStream>> sources;
    std::vector<std::string> names;
    for (const std::string& file : files) {
        const std::string name = entryNameFromUtf8(utf8BaseName(file));
        for (const std::string& n : names)
            if (sameEntryName(n, name))
                throw EEntryEditError("The name '" + displayName(name) + "' is given twice");
        names.push_back(name);
    }
    // The directory's new size is known before any bytes are placed: a VER2
    // directory that grows into entries moves them out of its way first.
    size_t count = plan.after.records.size();
    std::set<size_t> replacing;
    for (const std::string& name : names) {
        const int64_t existing = findRecord(plan.after, name);
        if (existing < 0)
            ++count;
        else if (replace)
            replacing.insert(size_t(existing));
    }
    plan.reserveDirectory(count, replacing);
    int64_t added = 0, replaced = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        std::shared_ptr<const ChangeData> data = sourceData(sources, files[f]);
        const int64_t existing = findRecord(plan.after, names[f]);
        if (existing >= 0) {
            if (!replace)
                throw EEntryEditError("An entry named '" + displayName(recordName(plan.after.records[size_t(existing)]))
                                      + "' exists already; --replace replaces its bytes");
            plan.replace(size_t(existing), std::move(data));
            ++replaced;
            continue;
        }
        Record r{};
        setRecordName(r, names[f]);
        plan.after.records.push_back(r);
        const size_t i = plan.after.records.size() - 1;
        const int64_t sectors = sectorsFor(data->size());
        plan.checkSize(sectors, i);
        plan.after.setOffset(i, plan.append(std::move(data)));
        plan.after.setSize(i, sectors);
        ++added;
    }
    std::string done = counted(added, "entry added", "entries added");
    if (replaced > 0)
        done += ", " + std::to_string(replaced) + " replaced";
    plan.commit(described(added == 0 ? "replace of " + counted(replaced, "entry", "entries")
                                     : "add of " + counted(added, "entry", "entries")
                                           + (replaced > 0 ? " (" + std::to_string(replaced) + " replaced)" : "")));
    return done;
}

std::string replaceEntry(ArchiveEditor& editor, const DirectoryEntry& entry, const std::string& file)
{
    std::vector<std::unique_ptr<TStream>> sources;
    Plan plan(editor);
    plan.replace(size_t(entry.pos - 1), sourceData(sources, file));
    plan.commit(described("replace of " + displayName(entry.name)));
    return "1 entry replaced";
}

void replaceEntryBytes(ArchiveEditor& editor, const DirectoryEntry& entry, const std::vector<uint8_t>& bytes,
                       const ChangeLabel& label)
{
    if (editor.contents().flavour == ArchiveFlavour::Dictionary) {
        // The whole file is the entry: the span that differs is written,
        // and the file takes the new length.
        TStream& file = editor.data();
        const int64_t present = std::min<int64_t>(file.Size(), int64_t(bytes.size()));
        std::vector<uint8_t> now(static_cast<size_t>(present));
        file.Seek(0, SeekOrigin::Begin);
        file.ReadBuffer(now.data(), present);
        size_t first = 0, last = bytes.size();
        while (first < size_t(present) && now[first] == bytes[first])
            ++first;
        if (last <= size_t(present))
            while (last > first && now[last - 1] == bytes[last - 1])
                --last;
        ChangeSet changes;
        if (last > first)
            changes.write(
                0, int64_t(first),
                std::vector<uint8_t>(bytes.begin() + std::ptrdiff_t(first), bytes.begin() + std::ptrdiff_t(last)));
        changes.setLength(0, int64_t(bytes.size()));
        editor.commit(changes, label);
        return;
    }
    Plan plan(editor);
    plan.replace(size_t(entry.pos - 1), changeBytes(bytes), &bytes);
    plan.commit(label);
}

std::string removeEntries(ArchiveEditor& editor, const std::vector<int64_t>& positions)
{
    Plan plan(editor);
    std::vector<bool> gone(plan.after.records.size(), false);
    for (const int64_t p : positions) {
        if (p < 1 || p > int64_t(gone.size()))
            throw EEntryEditError("No entry " + std::to_string(p));
        gone[size_t(p - 1)] = true;
    }
    std::vector<Record> kept;
    for (size_t i = 0; i < gone.size(); ++i)
        if (!gone[i])
            kept.push_back(plan.after.records[i]);
    const int64_t removed = int64_t(gone.size() - kept.size());
    plan.after.records = std::move(kept);
    plan.commit(described("removal of " + counted(removed, "entry", "entries")));
    return counted(removed, "entry removed", "entries removed");
}

std::string renameEntry(ArchiveEditor& editor, const DirectoryEntry& entry, const std::string& newNameUtf8)
{
    Plan plan(editor);
    const std::string name = entryNameFromUtf8(newNameUtf8);
    const size_t i = size_t(entry.pos - 1);
    for (size_t k = 0; k < plan.after.records.size(); ++k)
        if (k != i && sameEntryName(recordName(plan.after.records[k]), name))
            throw EEntryEditError("An entry named '" + displayName(recordName(plan.after.records[k]))
                                  + "' exists already");
    setRecordName(plan.after.records[i], name);
    plan.commit(described("rename of " + displayName(entry.name) + " to " + displayName(name)));
    return "1 entry renamed";
}

namespace {

// Where each entry's bytes go in a rebuilt archive, and what the new files hold.
struct Rebuilt {
    Directory directory;
    std::vector<int64_t> from;  // each entry's old byte offset
    int64_t dataStart = 0;      // bytes before the first entry (a VER2 directory)
    int64_t dataLength = 0;
};

Rebuilt planRebuild(ArchiveEditor& editor, const Directory& d, int64_t dataLength)
{
    Rebuilt r;
    r.directory = d;
    if (d.flavour == ArchiveFlavour::Image)
        r.dataStart = roundUpToSector(Directory::ver2DirectoryEnd(d.records.size()));
    int64_t at = r.dataStart;
    int64_t outside = 0;
    for (size_t i = 0; i < d.records.size(); ++i) {
        const int64_t from = d.offsetSectors(i) * kArchiveSectorSize;
        const int64_t bytes = d.sizeSectors(i) * kArchiveSectorSize;
        if (bytes > 0 && from + bytes > roundUpToSector(dataLength))
            ++outside;
        r.from.push_back(from);
        r.directory.setOffset(i, at / kArchiveSectorSize);
        at += bytes;
    }
    if (outside > 0)
        throw EEntryEditError(counted(outside, "entry reaches", "entries reach") + " past the end of the data file "
                              + editor.contents().dataFile + "; the archive was not rebuilt");
    r.dataLength = at;
    return r;
}

// Appends `count` bytes of `in` from `from` to `out` (at its position),
// those past `in`'s end (`inLength`) as zeros. Files are copied by the
// kernel where it can (no pass through this program's memory).
void copyBytes(TStream& in, int64_t from, int64_t count, int64_t inLength, TStream& out, std::vector<uint8_t>& buffer)
{
    int64_t done = 0;
    const int64_t real = std::clamp<int64_t>(inLength - from, 0, count);
    auto* fin = dynamic_cast<TFileStream*>(&in);
    auto* fout = dynamic_cast<TFileStream*>(&out);
    if (fin && fout) {
        loff_t a = from, b = out.Position();
        while (done < real) {
            const ssize_t n = ::copy_file_range(fin->Handle(), &a, fout->Handle(), &b, size_t(real - done), 0);
            if (n <= 0)
                break;  // copied through memory below
            done += n;
        }
        out.Seek(b, SeekOrigin::Begin);
    }
    while (done < count) {
        const int64_t n = std::min<int64_t>(count - done, int64_t(buffer.size()));
        const int64_t part = std::clamp<int64_t>(real - done, 0, n);
        if (part > 0) {
            in.Seek(from + done, SeekOrigin::Begin);
            in.ReadBuffer(buffer.data(), part);
        }
        std::fill(buffer.begin() + part, buffer.begin() + n, 0);
        out.WriteBuffer(buffer.data(), n);
        done += n;
    }
}

// True when `out` holds at `at` what copyBytes put there.
bool holdsCopy(TStream& in, int64_t from, int64_t count, int64_t inLength, TStream& out, int64_t at,
               std::vector<uint8_t>& a, std::vector<uint8_t>& b)
{
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min<int64_t>(count - done, int64_t(a.size()));
        const int64_t part = std::clamp<int64_t>(inLength - (from + done), 0, n);
        if (part > 0) {
            in.Seek(from + done, SeekOrigin::Begin);
            in.ReadBuffer(a.data(), part);
        }
        std::fill(a.begin() + part, a.begin() + n, 0);
        out.Seek(at + done, SeekOrigin::Begin);
        if (out.ReadFully(b.data(), n) != n || std::memcmp(a.data(), b.data(), size_t(n)) != 0)
            return false;
        done += n;
    }
    return true;
}

bool holdsBytes(TStream& out, int64_t at, const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> back(bytes.size());
    out.Seek(at, SeekOrigin::Begin);
    return out.ReadFully(back.data(), int64_t(back.size())) == int64_t(back.size()) && back == bytes;
}

}  // namespace

std::string rebuildArchive(ArchiveEditor& editor, const EditProgress& progress)
{
    const Directory d = readDirectory(editor);
    TStream& data = editor.data();
    const int64_t dataLength = data.Size();
    const Rebuilt r = planRebuild(editor, d, dataLength);
    const int64_t dirBytes = int64_t(d.records.size()) * kDirectoryRecordSize;
    const int64_t needed = r.dataLength + (d.flavour == ArchiveFlavour::Directory ? dirBytes : 0);
    const std::string folder = folderOfPath(editor.contents().dataFile);
    const int64_t free = editor.fs().freeSpace(folder);
    if (free >= 0 && free < needed)
        throw EEntryEditError("Not enough room to rebuild: " + std::to_string(needed) + " bytes are needed in " + folder
                              + ", " + std::to_string(free) + " are free");
    std::vector<uint8_t> buffer(size_t(1) << 20), back(size_t(1) << 20);
    const int64_t total = r.dataLength;
    const auto readBackFailed = [] {
        throw streamWriteError("the rebuilt file read back differs from what was written");
    };
    editor.commitWhole([&](size_t file, TStream& out) {
        if (file == 1) {
            std::vector<uint8_t> bytes;
            for (const Record& rec : r.directory.records)
                bytes.insert(bytes.end(), rec.begin(), rec.end());
            out.WriteBuffer(bytes.data(), int64_t(bytes.size()));
            out.Flush();
            if (!holdsBytes(out, 0, bytes) || out.Size() != int64_t(bytes.size()))
                readBackFailed();
            return;
        }
        std::vector<uint8_t> head;
        if (d.flavour == ArchiveFlavour::Image) {
            head.assign(size_t(r.dataStart), 0);
            std::memcpy(head.data(), kVer2Magic, 4);
            writeLe32(head.data() + 4, uint32_t(r.directory.records.size()));
            for (size_t i = 0; i < r.directory.records.size(); ++i)
                std::memcpy(head.data() + kVer2HeaderSize + int64_t(i) * kDirectoryRecordSize,
                            r.directory.records[i].data(), size_t(kDirectoryRecordSize));
            out.WriteBuffer(head.data(), int64_t(head.size()));
        }
        int64_t done = r.dataStart;
        for (size_t i = 0; i < d.records.size(); ++i) {
            const int64_t bytes = d.sizeSectors(i) * kArchiveSectorSize;
            copyBytes(data, r.from[i], bytes, dataLength, out, buffer);
            done += bytes;
            if (progress && !progress(done, total))
                throw EEntryEditError("The rebuild was cancelled; the archive was left as it was");
        }
        // The disk writes the new file while it is compared (starting the
        // writes may block, hence a thread of its own); the commit syncs it
        // after this returns, and that sync then waits for less. The thread
        // is joined on every way out.
        std::jthread writeback;
        if (auto* f = dynamic_cast<TFileStream*>(&out))
            writeback = std::jthread([fd = f->Handle()] { ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); });
        // Read back against the old archive before anything is switched.
        if (out.Size() != r.dataLength || !holdsBytes(out, 0, head))
            readBackFailed();
        int64_t at = r.dataStart;
        for (size_t i = 0; i < d.records.size(); ++i) {
            const int64_t bytes = d.sizeSectors(i) * kArchiveSectorSize;
            if (!holdsCopy(data, r.from[i], bytes, dataLength, out, at, buffer, back))
                readBackFailed();
            at += bytes;
        }
    });
    const int64_t saved = dataLength - r.dataLength;
    return "archive rebuilt: " + counted(int64_t(d.records.size()), "entry", "entries") + ", "
           + std::to_string(r.dataLength) + " data bytes ("
           + (saved >= 0 ? std::to_string(saved) + " fewer" : std::to_string(-saved) + " more") + ")";
}

namespace {

// Makes a new file holding `bytes` at `path`, never over an existing one.
void createFileOnce(const std::string& path, const std::vector<uint8_t>& bytes)
{
    try {
        writeNewFile(path, bytes);
    } catch (const EFCreateError& e) {
        throw EEntryEditError(e.message(), e.detail());
    }
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || ::lstat(resolveFileNameCase(path).c_str(), &st) == 0;
}

}  // namespace

std::string createArchive(const std::string& path, const std::vector<std::string>& files, ArchiveFs& fs)
{
    const std::string extension = asciiLower(fileExtension(path));
    if (extension != ".dir" && extension != ".img")
        throw EEntryEditError("A new archive is named .dir (a directory file with its .img) or .img (VER2): " + path);
    const std::string stem = path.substr(0, path.size() - extension.size());
    const std::string dir = extension == ".dir" ? path : stem + ".dir";
    const std::string img = extension == ".dir" ? replaceExtensionWithImg(path) : path;
    for (const std::string& p : {dir, img})
        if (fileExists(p))
            throw EEntryEditError("Not making a new archive over " + (fileExists(path) ? path : p)
                                  + ": it exists already");
    std::vector<std::string> made;
    try {
        if (extension == ".dir") {
            createFileOnce(img, {});
            made.push_back(img);
            createFileOnce(dir, {});
            made.push_back(dir);
        } else {
            std::vector<uint8_t> header(size_t(kArchiveSectorSize), 0);
            std::memcpy(header.data(), kVer2Magic, 4);
            createFileOnce(img, header);
            made.push_back(img);
        }
        std::string done = extension == ".dir" ? "archive directory made" : "VER2 archive made";
        if (!files.empty()) {
            ArchiveEditor editor(path, fs);
            done += ", " + addEntries(editor, files, false);
        }
        return done;
    } catch (...) {
        for (const std::string& p : made)
            ::unlink(p.c_str());
        throw;
    }
}

ArchiveInfo archiveInfo(const ArchiveContents& archive, TStream& data)
{
    ArchiveInfo info;
    info.flavour = archive.flavour;
    info.entries = int64_t(archive.entries.size());
    info.dataBytes = data.Size();
    std::vector<std::pair<int64_t, int64_t>> spans;
    if (archive.flavour == ArchiveFlavour::Image)
        spans.push_back({0, roundUpToSector(Directory::ver2DirectoryEnd(archive.entries.size()))});
    for (const DirectoryEntry& e : archive.entries) {
        if (e.size <= 0)
            continue;
        if (e.offset + e.size > roundUpToSector(info.dataBytes))
            ++info.outsideEntries;
        spans.push_back({e.offset, e.offset + e.size});
    }
    std::sort(spans.begin(), spans.end());
    int64_t covered = 0, reach = 0;
    for (const auto& [from, to] : spans) {
        const int64_t a = std::clamp<int64_t>(std::max(from, reach), 0, info.dataBytes);
        const int64_t b = std::clamp<int64_t>(to, 0, info.dataBytes);
        if (b > a)
            covered += b - a;
        reach = std::max(reach, to);
    }
    info.gapBytes = info.dataBytes - covered;
    return info;
}

std::string archiveInfoText(const ArchiveInfo& info)
{
    return std::string("flavour: ") + archiveFlavourName(info.flavour) + "\nentries: " + std::to_string(info.entries)
           + "\ndata bytes: " + std::to_string(info.dataBytes) + "\nbytes in gaps: " + std::to_string(info.gapBytes)
           + "\nentries outside the data: " + std::to_string(info.outsideEntries) + "\n";
}
