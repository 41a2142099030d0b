// SPDX-License-Identifier: GPL-2.0-or-later
// Entries written out as files: where an entry's bytes are in a data file
// that may end early, the names the files get, the refusal to write over a
// file of the archive, and a run cancelled between files.
#include "archive/entry_extract.h"

#include "archive/archive.h"
#include "formats/archive_writer.h"
#include "platform/cancellation.h"
#include "platform/streams.h"
#include "support/archive_builder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 11 + seed);
    return bytes;
}

DirectoryEntry entry(int64_t pos, std::string name, int64_t offset, int64_t size)
{
    DirectoryEntry e;
    e.pos = pos;
    e.name = std::move(name);
    e.offset = offset;
    e.size = size;
    return e;
}

}  // namespace

TEST(EntryExtract, SpansEndWhereTheDataFileEnds)
{
    const struct {
        int64_t offset, size, fileSize;
        int64_t count;
        bool pastEnd, cut;
    } cases[] = {
        {0, 4096, 8192, 4096, false, false},    // wholly inside
        {4096, 4096, 6000, 1904, false, true},  // cut short by the end
        {8192, 2048, 8192, 0, true, false},     // starts at the end
        {10240, 2048, 8192, 0, true, false},    // starts past it
        {10240, 0, 8192, 0, false, false},      // no bytes: nothing to miss
    };
    for (const auto& c : cases) {
        const EntrySpan s = entrySpanIn(entry(1, "x", c.offset, c.size), c.fileSize);
        EXPECT_EQ(s.count, c.count) << c.offset << "+" << c.size;
        EXPECT_EQ(s.pastEnd, c.pastEnd) << c.offset << "+" << c.size;
        EXPECT_EQ(s.cut, c.cut) << c.offset << "+" << c.size;
    }
}

TEST(EntryExtract, FilesAreNamedSafelyAndApartAndHoldTheEntriesBytes)
{
    ScratchDir dir{"qx_extract"};
    const std::vector<uint8_t> data = pattern(3 * 2048 + 100, 1);
    writeBytes(dir.file("d.img"), data);
    const std::vector<DirectoryEntry> entries = {entry(1, "Wheel.txd", 0, 2048), entry(2, "WHEEL.TXD", 2048, 2048),
                                                 entry(3, "a/b", 4096, 4096), entry(4, "far", 100 * 2048, 2048)};
    TFileStream in(dir.file("d.img"), FileMode::OpenReadShareDenyWrite);
    const ExtractionPlan plan = planExtraction(entries, in.Size());
    ASSERT_EQ(plan.items.size(), 3u);
    EXPECT_EQ(plan.pastEnd, 1);
    EXPECT_EQ(plan.items[0].fileName, "Wheel.txd");
    EXPECT_EQ(plan.items[1].fileName, "WHEEL_2.TXD");
    EXPECT_EQ(plan.items[2].fileName, "a_b");
    EXPECT_TRUE(plan.items[2].span.cut);

    ArchiveContents archive;
    archive.dataFile = dir.file("d.img");
    const ArchiveOwnFiles own(dir.file("d.dir"), archive);
    std::vector<int64_t> counts;
    writeExtraction(plan, in, dir.file("out"), own, [&](int64_t n) { counts.push_back(n); });
    EXPECT_EQ(counts, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(readBytes(dir.file("out/Wheel.txd")), std::vector<uint8_t>(data.begin(), data.begin() + 2048));
    EXPECT_EQ(readBytes(dir.file("out/WHEEL_2.TXD")), std::vector<uint8_t>(data.begin() + 2048, data.begin() + 4096));
    EXPECT_EQ(readBytes(dir.file("out/a_b")), std::vector<uint8_t>(data.begin() + 4096, data.end()));
    EXPECT_FALSE(fs::exists(dir.file("out/far")));
}

TEST(EntryExtract, NothingIsWrittenWhenAFileWouldTakeThePlaceOfTheArchives)
{
    ScratchDir dir{"qx_extract_own"};
    writeArchive(dir.file("m.dir"), dir.file("m.img"), {{"first", pattern(100, 1)}, {"m.dir", pattern(100, 2)}});
    const ArchiveContents archive = openArchive(dir.file("m.img"));  // opened through its data file
    const std::vector<uint8_t> before = readBytes(dir.file("m.dir"));
    TFileStream in(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    const ExtractionPlan plan = planExtraction(archive.entries, in.Size());
    const ArchiveOwnFiles own(dir.file("m.img"), archive);
    EXPECT_TRUE(own.holds(dir.file("m.dir")));  // the directory file, though opened as the .img
    EXPECT_FALSE(own.holds(dir.file("first")));
    try {
        writeExtraction(plan, in, dir.path(), own);
        ADD_FAILURE() << "written over the archive";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "Not writing over " + dir.file("m.dir") + ": it is a file of the archive being read");
    }
    EXPECT_EQ(readBytes(dir.file("m.dir")), before);
    EXPECT_FALSE(fs::exists(dir.file("first")));  // not even the first file
}

TEST(EntryExtract, ACancelledRunStopsBetweenFiles)
{
    ScratchDir dir{"qx_extract_cancel"};
    writeBytes(dir.file("d.img"), pattern(3 * 2048, 1));
    const std::vector<DirectoryEntry> entries = {entry(1, "a", 0, 2048), entry(2, "b", 2048, 2048),
                                                 entry(3, "c", 4096, 2048)};
    TFileStream in(dir.file("d.img"), FileMode::OpenReadShareDenyWrite);
    const ExtractionPlan plan = planExtraction(entries, in.Size());
    ArchiveContents archive;
    archive.dataFile = dir.file("d.img");
    std::atomic<bool> stop{false};
    const CancelScope scope(&stop);
    EXPECT_THROW(writeExtraction(plan, in, dir.file("out"), ArchiveOwnFiles(dir.file("d.img"), archive),
                                 [&](int64_t n) { stop.store(n == 2); }),
                 ECancelled);
    EXPECT_TRUE(fs::exists(dir.file("out/a")));
    EXPECT_TRUE(fs::exists(dir.file("out/b")));
    EXPECT_FALSE(fs::exists(dir.file("out/c")));
}
