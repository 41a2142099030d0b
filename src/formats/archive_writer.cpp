// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/archive_writer.h"

#include "formats/archive_directory.h"
#include "platform/byte_order.h"
#include "platform/exceptions.h"
#include "platform/file_write.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

std::vector<uint8_t> buildDirectoryBytes(const std::vector<DirectoryRecord>& records)
{
    std::vector<uint8_t> out(records.size() * static_cast<size_t>(kDirectoryRecordSize), 0);
    uint8_t* p = out.data();
    for (const DirectoryRecord& r : records) {
        if (r.nameField.size() > static_cast<size_t>(kDirectoryNameLength))
            throw Exception("Directory name field longer than 24 bytes: " + r.nameField);
        writeLe32(p, r.sectorPos);
        writeLe32(p + 4, r.sectorCount);
        if (!r.nameField.empty())
            std::memcpy(p + kDirectoryNameOffset, r.nameField.data(), r.nameField.size());
        p += kDirectoryRecordSize;
    }
    return out;
}

BuiltArchive buildArchive(const std::vector<ArchiveItem>& items)
{
    BuiltArchive a;
    int64_t sector = 0;
    for (const ArchiveItem& item : items) {
        if (item.name.size() > static_cast<size_t>(kDirectoryNameLength))
            throw Exception("Entry name longer than 24 bytes: " + item.name);
        if (item.name.find('\0') != std::string::npos)
            throw Exception("Entry name holds a NUL byte");
        const int64_t sectors = (static_cast<int64_t>(item.data.size()) + kArchiveSectorSize - 1) / kArchiveSectorSize;
        if (sector + sectors > std::numeric_limits<uint32_t>::max())
            throw Exception("Archive too large for 32-bit sector numbers");
        a.records.push_back({static_cast<uint32_t>(sector), static_cast<uint32_t>(sectors), item.name});
        sector += sectors;
    }
    a.dir = buildDirectoryBytes(a.records);
    a.img.assign(static_cast<size_t>(sector * kArchiveSectorSize), 0);
    for (size_t i = 0; i < items.size(); ++i)
        if (!items[i].data.empty())
            std::memcpy(a.img.data() + static_cast<size_t>(a.records[i].sectorPos) * kArchiveSectorSize,
                        items[i].data.data(), items[i].data.size());
    return a;
}

std::vector<uint8_t> buildVer2Archive(const std::vector<ArchiveItem>& items)
{
    const BuiltArchive a = buildArchive(items);
    const int64_t head = kVer2HeaderSize + int64_t(items.size()) * kDirectoryRecordSize;
    const int64_t first = (head + kArchiveSectorSize - 1) / kArchiveSectorSize;
    std::vector<uint8_t> out(static_cast<size_t>(first * kArchiveSectorSize), 0);
    std::memcpy(out.data(), kVer2Magic, 4);
    writeLe32(out.data() + 4, static_cast<uint32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        uint8_t* r = out.data() + kVer2HeaderSize + int64_t(i) * kDirectoryRecordSize;
        if (a.records[i].sectorCount > 0xFFFF)
            throw Exception("Entry too large for a VER2 archive: " + items[i].name);
        writeLe32(r, static_cast<uint32_t>(a.records[i].sectorPos + first));
        writeLe16(r + 4, static_cast<uint16_t>(a.records[i].sectorCount));
        std::memcpy(r + kDirectoryNameOffset, items[i].name.data(), std::min<size_t>(items[i].name.size(), 23));
    }
    out.insert(out.end(), a.img.begin(), a.img.end());
    return out;
}

void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    writeFileReplacing(path, bytes);
}

void writeArchive(const std::string& dirPath, const std::string& imgPath, const std::vector<ArchiveItem>& items)
{
    const BuiltArchive a = buildArchive(items);
    // The data file first: a directory is never left pointing into a data
    // file that was not written.
    writeFileBytes(imgPath, a.img);
    writeFileBytes(dirPath, a.dir);
}
