// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/archive_directory.h"

#include "platform/byte_order.h"
#include "platform/environment.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace {

// Records are read in blocks of this many, so a directory of tens of
// thousands of entries takes a handful of reads, and a huge file given as a
// directory never needs a buffer of its own size.
constexpr int64_t kRecordsPerBlock = 4096;
// Row storage reserved up front, at most; more rows grow the table as needed.
constexpr int64_t kMaxReservedRecords = 1 << 20;

DirectoryEntry decodeRecord(const uint8_t* rec, int64_t pos)
{
    DirectoryEntry e;
    e.pos = pos;
    // 64-bit products: a sector position up to 2^32-1 gives an exact offset.
    e.offset = static_cast<int64_t>(readLe32(rec)) * kArchiveSectorSize;
    e.size = static_cast<int64_t>(readLe32(rec + 4)) * kArchiveSectorSize;
    const auto* name = reinterpret_cast<const char*>(rec + kDirectoryNameOffset);
    const void* nul = std::memchr(name, 0, static_cast<size_t>(kDirectoryNameLength));
    const size_t len =
        nul ? static_cast<size_t>(static_cast<const char*>(nul) - name) : static_cast<size_t>(kDirectoryNameLength);
    e.name.assign(name, len);
    return e;
}

void reserveRows(std::vector<DirectoryEntry>& out, int64_t records)
{
    out.reserve(static_cast<size_t>(std::clamp<int64_t>(records, 0, kMaxReservedRecords)));
}

// `records` records from the stream's position, read in blocks; a file cut
// short while it is read keeps the whole records read. VER2 records hold
// their size in two 16-bit fields.
std::vector<DirectoryEntry> readRecords(TStream& stream, int64_t records, bool ver2)
{
    std::vector<DirectoryEntry> out;
    try {
        reserveRows(out, records);
        std::vector<uint8_t> block(static_cast<size_t>(std::min(records, kRecordsPerBlock) * kDirectoryRecordSize));
        int64_t done = 0;
        while (done < records) {
            const int64_t want = std::min(records - done, kRecordsPerBlock);
            const int64_t got = stream.ReadFully(block.data(), want * kDirectoryRecordSize);
            const int64_t whole = std::max<int64_t>(got, 0) / kDirectoryRecordSize;
            for (int64_t i = 0; i < whole; ++i) {
                const uint8_t* rec = block.data() + i * kDirectoryRecordSize;
                out.push_back(decodeRecord(rec, done + i + 1));
                if (ver2)
                    out.back().size = ver2EntrySize(readLe16(rec + 4), readLe16(rec + 6));
            }
            done += whole;
            if (whole < want)
                break;
        }
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
    return out;
}

std::vector<DirectoryEntry> parseRecords(TStream& stream)
{
    const int64_t remaining = std::max<int64_t>(stream.Size() - stream.Position(), 0);
    return readRecords(stream, remaining / kDirectoryRecordSize, false);
}

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Index where the last path component starts.
size_t lastComponentStart(const std::string& path)
{
    for (size_t i = path.size(); i > 0; --i)
        if (isSeparator(path[i - 1]))
            return i;
    return 0;
}

// Index of the extension's dot, or npos when the last component has none.
size_t extensionStart(const std::string& path)
{
    const size_t start = lastComponentStart(path);
    const size_t dot = path.rfind('.');
    return dot != std::string::npos && dot >= start ? dot : std::string::npos;
}

}  // namespace

const char kVer2Magic[4] = {'V', 'E', 'R', '2'};

const char* archiveFlavourName(ArchiveFlavour flavour)
{
    switch (flavour) {
    case ArchiveFlavour::Directory: return "archive directory";
    case ArchiveFlavour::Image: return "VER2 archive";
    case ArchiveFlavour::Dictionary: return "texture dictionary";
    }
    return "";
}

bool startsWithVer2(TStream& stream)
{
    uint8_t magic[4];
    return stream.Seek(0, SeekOrigin::Begin) == 0 && stream.ReadFully(magic, 4) == 4
           && std::memcmp(magic, kVer2Magic, 4) == 0;
}

int64_t ver2EntrySize(uint16_t streamingSize, uint16_t archiveSize)
{
    return int64_t(archiveSize != 0 ? archiveSize : streamingSize) * kArchiveSectorSize;
}

std::vector<DirectoryEntry> parseVer2Directory(TStream& stream)
{
    uint8_t header[kVer2HeaderSize];
    if (stream.Seek(0, SeekOrigin::Begin) != 0 || stream.ReadFully(header, kVer2HeaderSize) != kVer2HeaderSize)
        return {};
    const int64_t fits = std::max<int64_t>(stream.Size() - kVer2HeaderSize, 0) / kDirectoryRecordSize;
    return readRecords(stream, std::min<int64_t>(readLe32(header + 4), fits), true);
}

std::vector<DirectoryEntry> parseArchiveDirectory(TStream& stream)
{
    return parseRecords(stream);
}

std::vector<DirectoryEntry> parseArchiveDirectory(const uint8_t* data, size_t size)
{
    TReadOnlyMemoryStream stream(data, static_cast<int64_t>(size));
    return parseRecords(stream);
}

std::vector<DirectoryEntry> readArchiveDirectory(const std::string& dirPath)
{
    TFileStream file(dirPath, FileMode::OpenReadShareDenyWrite);
    return parseRecords(file);
}

DirectoryEntry readStandaloneDictionaryEntry(const std::string& txdPath)
{
    TFileStream file(txdPath, FileMode::OpenReadShareDenyWrite);
    DirectoryEntry e;
    e.pos = 1;
    e.offset = 0;
    e.size = file.Size();
    e.name = toCp1250(QString::fromUtf8(fileNameOfPath(txdPath)));
    return e;
}

std::string fileNameOfPath(const std::string& path)
{
    return path.substr(lastComponentStart(path));
}

std::string fileExtension(const std::string& path)
{
    const size_t dot = extensionStart(path);
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

bool namesTextureDictionary(const std::string& path)
{
    return asciiLower(fileExtension(path)) == ".txd";
}

std::string replaceExtensionWithImg(const std::string& path)
{
    const size_t dot = extensionStart(path);
    return (dot == std::string::npos ? path : path.substr(0, dot)) + ".img";
}

std::string locateDataFile(const std::string& dirPath)
{
    return resolveFileNameCase(replaceExtensionWithImg(dirPath));
}

ArchiveProbe diskArchiveProbe()
{
    ArchiveProbe p;
    p.exists = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    };
    p.startsWithVer2 = [](const std::string& path) {
        TFileStream file(path, FileMode::OpenReadShareDenyWrite);
        return startsWithVer2(file);
    };
    p.resolveCase = [](const std::string& path) { return resolveFileNameCase(path); };
    return p;
}

ArchiveContents locateArchive(const std::string& path, const ArchiveProbe& probe)
{
    ArchiveContents a;
    const std::string extension = asciiLower(fileExtension(path));
    if (extension == ".txd") {
        a.flavour = ArchiveFlavour::Dictionary;
        a.standalone = true;
        a.dataFile = path;
        return a;
    }
    if (extension != ".dir") {
        // The .dir a data file (.img) would belong to.
        const std::string dir = probe.resolveCase(path.substr(0, path.size() - extension.size()) + ".dir");
        bool ver2 = false;
        try {
            ver2 = probe.startsWithVer2(path);
        } catch (const EFOpenError&) {
            // Told below, when the file is read as what its name says.
            if (extension == ".img" && !probe.exists(dir))
                throw;
        }
        if (ver2) {
            a.flavour = ArchiveFlavour::Image;
            a.dataFile = path;
            return a;
        }
        if (extension == ".img") {
            if (!probe.exists(dir))
                throw EFOpenError(path + " is the data file of an archive directory, and there is no .dir beside it");
            a.directoryFile = dir;
            a.dataFile = path;
            return a;
        }
    }
    a.directoryFile = path;
    a.dataFile = probe.resolveCase(replaceExtensionWithImg(path));
    return a;
}

ArchiveContents readArchive(const std::string& path)
{
    ArchiveContents a = locateArchive(path);
    switch (a.flavour) {
    case ArchiveFlavour::Dictionary: a.entries.push_back(readStandaloneDictionaryEntry(path)); break;
    case ArchiveFlavour::Directory: a.entries = readArchiveDirectory(a.directoryFile); break;
    case ArchiveFlavour::Image: {
        TFileStream file(a.dataFile, FileMode::OpenReadShareDenyWrite);
        a.entries = parseVer2Directory(file);
        break;
    }
    }
    return a;
}

bool parseDecimal(const std::string& text, int64_t& value)
{
    if (text.empty() || text.size() > 18)
        return false;
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    value = v;
    return true;
}

std::string nameFromUtf8(const std::string& which)
{
    return toCp1250(QString::fromUtf8(which));
}

int64_t entryEnd(int64_t offset, int64_t size, int64_t fileSize)
{
    if (offset >= fileSize)
        return fileSize;
    if (offset < 0 || size <= 0)
        return std::max<int64_t>(offset, 0);
    return size > fileSize - offset ? fileSize : offset + size;
}
