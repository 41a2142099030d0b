// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/entry_extract.h"

#include "platform/cancellation.h"
#include "platform/exceptions.h"
#include "platform/file_names.h"
#include "platform/file_write.h"
#include "platform/streams.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

EntrySpan entrySpanIn(const DirectoryEntry& entry, int64_t fileSize)
{
    EntrySpan s;
    s.offset = entry.offset;
    if (entry.size > 0 && entry.offset >= fileSize) {
        s.pastEnd = true;
        return s;
    }
    s.count = std::clamp<int64_t>(fileSize - entry.offset, 0, entry.size);
    s.cut = s.count < entry.size;
    return s;
}

ArchiveOwnFiles::ArchiveOwnFiles(const std::string& openedPath, const ArchiveContents& archive)
{
    std::vector<std::string> paths{openedPath, archive.dataFile};
    if (!archive.directoryFile.empty())
        paths.push_back(archive.directoryFile);
    for (const std::string& path : paths) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0)
            files_.push_back({st.st_dev, st.st_ino});
    }
}

bool ArchiveOwnFiles::holds(const std::string& path) const
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    return std::any_of(files_.begin(), files_.end(),
                       [&st](const Identity& f) { return f.device == st.st_dev && f.inode == st.st_ino; });
}

void ArchiveOwnFiles::check(const std::string& path) const
{
    if (holds(path))
        throw Exception("Not writing over " + path + ": it is a file of the archive being read");
}

ExtractionPlan planExtraction(const std::vector<DirectoryEntry>& entries, int64_t dataFileSize)
{
    ExtractionPlan plan;
    UniqueFileNames names;
    for (const DirectoryEntry& e : entries) {
        const EntrySpan span = entrySpanIn(e, dataFileSize);
        if (span.pastEnd) {
            ++plan.pastEnd;
            continue;
        }
        plan.items.push_back({e, span, names.take(safeFileName(e.name))});
    }
    return plan;
}

void writeExtraction(const ExtractionPlan& plan, TFileStream& data, const std::string& folder,
                     const ArchiveOwnFiles& own, const std::function<void(int64_t written)>& written)
{
    for (const ExtractionPlan::Item& item : plan.items)
        own.check(folder + "/" + item.fileName);
    const OutputFolder out(folder);
    int64_t done = 0;
    for (const ExtractionPlan::Item& item : plan.items) {
        throwIfCancelled();
        data.SetPosition(item.span.offset);
        if (item.span.count > 0 && data.Position() != item.span.offset)
            throw streamReadError(systemErrorDetail("cannot read", data.FileName(), EIO));
        // Flushed once for the whole run below, not file by file.
        out.writeFile(item.fileName, data, item.span.count, FileSync::Deferred);
        ++done;
        if (written)
            written(done);
    }
    out.syncFileSystem();
}
