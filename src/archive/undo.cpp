// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/undo.h"

#include "archive/archive.h"
#include "platform/byte_order.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

constexpr char kMagic[8] = {'Q', 'X', 'U', 'N', 'D', 'O', '0', '1'};
const char* const kUndoPrefix = "u-";
const char* const kRedoPrefix = "r-";
const char* const kSuffix = ".quarnix-undo";

void putLe(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint64_t getLe(const uint8_t* p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// The header fields of a record, when its bytes are whole.
bool decodeRecord(const std::vector<uint8_t>& bytes, UndoEntry& entry, std::vector<uint8_t>* journal)
{
    if (bytes.size() < 8 + 8 + 2 + 8 + 4 || std::memcmp(bytes.data(), kMagic, 8) != 0
        || readLe32(&bytes[bytes.size() - 4]) != crc32Of(bytes.data(), bytes.size() - 4))
        return false;
    entry.time = int64_t(getLe(&bytes[8], 8));
    const size_t end = bytes.size() - 4;
    size_t at = 16;
    for (std::string* text : {&entry.description, &entry.group}) {
        if (at + 2 > end)
            return false;
        const size_t length = size_t(getLe(&bytes[at], 2));
        if (at + 2 + length > end)
            return false;
        text->assign(reinterpret_cast<const char*>(&bytes[at + 2]), length);
        at += 2 + length;
    }
    if (at + 8 > end || getLe(&bytes[at], 8) != end - at - 8)
        return false;
    entry.bytes = int64_t(bytes.size());
    if (journal)
        journal->assign(bytes.begin() + std::ptrdiff_t(at + 8), bytes.end() - 4);
    return true;
}

// The head of the record at entry.location (when, description, group) and
// its length, when its length is the one its head gives.
bool readRecordHead(ArchiveFs& fs, UndoEntry& entry)
{
    try {
        std::unique_ptr<TStream> in = fs.open(entry.location, ArchiveFileAccess::Read);
        const int64_t length = in->Size();
        std::vector<uint8_t> head(size_t(std::min<int64_t>(length, 16 + 2 * (2 + 65535) + 8)));
        if (in->ReadFully(head.data(), int64_t(head.size())) != int64_t(head.size()) || head.size() < 16 + 4 + 8
            || std::memcmp(head.data(), kMagic, 8) != 0)
            return false;
        entry.time = int64_t(getLe(&head[8], 8));
        size_t at = 16;
        for (std::string* text : {&entry.description, &entry.group}) {
            if (at + 2 > head.size())
                return false;
            const size_t n = size_t(getLe(&head[at], 2));
            if (at + 2 + n > head.size())
                return false;
            text->assign(reinterpret_cast<const char*>(&head[at + 2]), n);
            at += 2 + n;
        }
        if (at + 8 > head.size() || int64_t(at + 8 + getLe(&head[at], 8) + 4) != length)
            return false;
        entry.bytes = length;
        return true;
    } catch (const Exception&) {
        return false;
    }
}

std::string timeText(int64_t seconds)
{
    const std::time_t t = std::time_t(seconds);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// The files of the editor's archive as the record's journal lists them.
std::vector<EditFile> filesOf(ArchiveEditor& editor)
{
    std::vector<EditFile> files{{editor.contents().dataFile, &editor.data()}};
    if (TStream* dir = editor.directory())
        files.push_back({editor.contents().directoryFile, dir});
    return files;
}

}  // namespace

UndoStore::UndoStore(const std::string& dataFile, ArchiveFs& fs) : fs_(fs)
{
    const std::string journal = JournalPlace::of(dataFile).inStateFolder;
    // The journal's name in the state folder is made from the data file's
    // path; the records of the archive live in a folder of that name.
    const size_t slash = journal.rfind('/');
    const std::string name = journal.substr(slash + 1, journal.find('.', slash) - slash - 1);
    folder_ = journalStateFolder() + "/undo/" + name;
}

std::vector<UndoEntry> UndoStore::entries(const char* prefix, bool newestGroup)
{
    std::vector<std::string> names;
    for (const std::string& n : fs_.list(folder_))
        if (n.rfind(prefix, 0) == 0 && n.size() > std::strlen(kSuffix)
            && n.compare(n.size() - std::strlen(kSuffix), std::string::npos, kSuffix) == 0)
            names.push_back(n);
    // Numbered with fixed width: the names sort in the order they were made.
    std::sort(names.rbegin(), names.rend());
    std::vector<UndoEntry> out;
    for (const std::string& n : names) {
        UndoEntry e;
        e.location = folder_ + "/" + n;
        // Only the head is read: a record may hold a large journal, and the
        // whole of it is checked when it is used.
        if (!readRecordHead(fs_, e))
            continue;
        if (newestGroup && !out.empty() && (out.front().group.empty() || e.group != out.front().group))
            break;
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<UndoEntry> UndoStore::undoable()
{
    return entries(kUndoPrefix);
}

std::vector<UndoEntry> UndoStore::redoable()
{
    return entries(kRedoPrefix);
}

std::vector<UndoEntry> UndoStore::nextUndo()
{
    return entries(kUndoPrefix, true);
}

std::vector<UndoEntry> UndoStore::nextRedo()
{
    return entries(kRedoPrefix, true);
}

void UndoStore::write(const char* prefix, const std::string& description, const std::string& group,
                      const RecordParts& journal)
{
    makePrivateFolders(fs_, folder_);
    // The next number after every record there is, undo and redo alike.
    int64_t next = 1;
    for (const std::string& n : fs_.list(folder_))
        if (n.size() > 2 + 12 && (n.rfind(kUndoPrefix, 0) == 0 || n.rfind(kRedoPrefix, 0) == 0))
            next = std::max<int64_t>(next, std::atoll(n.substr(2, 12).c_str()) + 1);
    char number[16];
    std::snprintf(number, sizeof number, "%012lld", static_cast<long long>(next));
    const std::string location = folder_ + "/" + prefix + number + kSuffix;

    std::vector<uint8_t> head(kMagic, kMagic + 8);
    putLe(head, uint64_t(std::time(nullptr)), 8);
    for (const std::string* text : {&description, &group}) {
        putLe(head, text->size(), 2);
        head.insert(head.end(), text->begin(), text->end());
    }
    uint64_t journalLength = 0;
    for (const auto& [data, size] : journal)
        journalLength += size;
    putLe(head, journalLength, 8);
    uint32_t crc = crc32Of(head.data(), head.size());
    for (const auto& [data, size] : journal)
        crc = crc32Continue(crc, data, size);
    std::vector<uint8_t> trailer;
    putLe(trailer, crc, 4);

    std::unique_ptr<TStream> out = fs_.open(location, ArchiveFileAccess::CreateNew);
    out->WriteBuffer(head.data(), int64_t(head.size()));
    for (const auto& [data, size] : journal)
        out->WriteBuffer(data, int64_t(size));
    out->WriteBuffer(trailer.data(), int64_t(trailer.size()));
    out->Flush();
    out.reset();
    fs_.syncFolder(folder_);
}

void UndoStore::trim()
{
    std::vector<UndoEntry> kept = undoable();
    int64_t bytes = 0;
    for (size_t i = 0; i < kept.size(); ++i) {
        bytes += kept[i].bytes;
        if (int(i) >= keptChanges || bytes > keptBytes)
            fs_.remove(kept[i].location);
    }
}

void UndoStore::recordChange(const std::string& description, const std::string& group, const RecordParts& journal)
{
    for (const UndoEntry& e : redoable())
        fs_.remove(e.location);
    write(kUndoPrefix, description, group, journal);
    trim();
}

void UndoStore::recordRedo(const UndoEntry& undone, const RecordParts& journal)
{
    write(kRedoPrefix, undone.description, undone.group, journal);
}

void UndoStore::recordUndoKeepingRedo(const UndoEntry& redone, const RecordParts& journal)
{
    write(kUndoPrefix, redone.description, redone.group, journal);
    trim();
}

ChangeRecord UndoStore::read(const UndoEntry& entry)
{
    std::optional<std::vector<uint8_t>> bytes = fs_.readWhole(entry.location);
    UndoEntry e;
    std::vector<uint8_t> journal;
    ChangeRecord record;
    if (!bytes || !decodeRecord(*bytes, e, &journal) || !decodeChangeRecord(journal, record))
        throw EUndoError("The record of '" + entry.description + "' is damaged; nothing was changed");
    return record;
}

void UndoStore::drop(const UndoEntry& entry)
{
    fs_.remove(entry.location);
    fs_.syncFolder(folder_);
}

namespace {

// Puts back the files as they were before the change `entry` records; the
// journal of doing so goes to `keep` (the record of the way back).
void reverse(ArchiveEditor& editor, UndoStore& store, const UndoEntry& entry, const char* verb,
             const std::function<void(const RecordParts&)>& keep)
{
    const ChangeRecord record = store.read(entry);
    const std::vector<EditFile> files = filesOf(editor);
    bool same = record.files.size() == files.size();
    if (!same || !filesHoldChange(files, record))
        throw EUndoError(std::string("Cannot ") + verb + " '" + entry.description + "': " + editor.path()
                         + " no longer holds what it wrote (another program changed it since); nothing was changed");
    ChangeLabel label;
    label.kind = ChangeKind::ArchiveEdit;
    editor.commitRecorded(reverseChanges(record), label, keep);
    store.drop(entry);
}

std::string told(const char* verb, const std::vector<UndoEntry>& done)
{
    std::string text = std::string(verb) + " " + done.front().description;
    if (done.size() > 1)
        text += " (" + std::to_string(done.size()) + " changes)";
    return text;
}

}  // namespace

std::string undoLastChange(ArchiveEditor& editor)
{
    UndoStore& store = editor.undoStore();
    const std::vector<UndoEntry> group = store.nextUndo();
    if (group.empty())
        throw EUndoError("There is nothing to undo in " + editor.path());
    for (const UndoEntry& e : group)
        reverse(editor, store, e, "undo", [&](const RecordParts& parts) { store.recordRedo(e, parts); });
    return told("Undid", group);
}

std::string redoLastChange(ArchiveEditor& editor)
{
    UndoStore& store = editor.undoStore();
    const std::vector<UndoEntry> group = store.nextRedo();
    if (group.empty())
        throw EUndoError("There is nothing to redo in " + editor.path());
    for (const UndoEntry& e : group)
        reverse(editor, store, e, "redo", [&](const RecordParts& parts) { store.recordUndoKeepingRedo(e, parts); });
    return told("Redid", group);
}

std::string undoListText(ArchiveEditor& editor)
{
    std::string out;
    std::vector<UndoEntry> entries = editor.undoStore().undoable();
    for (size_t i = 0; i < entries.size(); ++i) {
        // A group is one line.
        if (i > 0 && !entries[i].group.empty() && entries[i].group == entries[i - 1].group)
            continue;
        out += timeText(entries[i].time) + "  " + entries[i].description + "\n";
    }
    return out;
}
