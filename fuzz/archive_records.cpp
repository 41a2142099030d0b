// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the readers of what the archive core finds on
// disk and cannot trust: a VER2 archive's directory, and a journal (or the
// journal inside an undo record). A journal that decodes is also applied
// backwards over files in memory made from the input, as recovery and undo
// would, never reading or writing outside them.
#include "archive/transaction.h"
#include "formats/archive_directory.h"
#include "platform/streams.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        TReadOnlyMemoryStream stream(data, int64_t(size));
        const auto entries = parseVer2Directory(stream);
        // Never more records than the bytes after the header hold.
        if (size < 8 ? !entries.empty() : entries.size() > (size - 8) / 32)
            std::abort();
        for (const DirectoryEntry& e : entries)
            if (e.size < 0 || e.size > int64_t(0xFFFF) * 2048 || e.offset < 0 || e.name.size() > 24)
                std::abort();
    }
    const std::vector<uint8_t> bytes(data, data + size);
    ChangeRecord record;
    if (!decodeChangeRecord(bytes, record))
        return 0;
    if (record.files.empty() || record.files.size() > 16)
        std::abort();
    for (const ChangeRecord::ChangedRange& r : record.ranges) {
        if (r.file >= record.files.size() || r.offset < 0 || r.length < 0 || int64_t(r.old.size()) > r.length)
            std::abort();
        if (!r.old.empty() && r.offset + int64_t(r.old.size()) > record.files[r.file].originalLength)
            std::abort();
    }
    // Files of at most 64 KiB (larger records are left at decoding).
    for (const ChangeRecord::ChangedFile& f : record.files)
        if (f.originalLength > 65536 || f.newLength > 65536)
            return 0;
    std::vector<TMemoryStream> streams(record.files.size());
    std::vector<EditFile> files;
    for (size_t i = 0; i < streams.size(); ++i) {
        streams[i].SetSize(record.files[i].newLength);
        files.push_back({"f", &streams[i]});
    }
    (void)filesHoldChange(files, record);
    const ChangeSet back = reverseChanges(record);
    for (const FileWrite& w : back.writes)
        if (w.file >= files.size() || w.offset < 0)
            std::abort();
    return 0;
}
