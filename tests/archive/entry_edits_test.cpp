// SPDX-License-Identifier: GPL-2.0-or-later
// Entry edits of both archive flavours: where added and replaced bytes go,
// which records change and how, the refusals that change nothing, a VER2
// directory that grows into its first entry, rebuilds, new archives and
// what info says. Expected bytes are laid out by hand in the tests.
#include "archive/entry_edits.h"

#include "formats/archive_writer.h"
#include "platform/byte_order.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/memory_fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using archive_fixture::noiseBytes;
using archive_fixture::readBytes;
using archive_fixture::Rec;
using archive_fixture::recordsOf;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

// A VER2 archive's records, with the second size field (expected 0).
std::vector<Rec> ver2RecordsOf(const std::vector<uint8_t>& img, std::vector<uint16_t>* second = nullptr)
{
    std::vector<Rec> out;
    const uint32_t count = readLe32(img.data() + 4);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* r = img.data() + 8 + 32 * i;
        const char* name = reinterpret_cast<const char*>(r + 8);
        out.push_back({readLe32(r), readLe16(r + 4), std::string(name, strnlen(name, 24))});
        if (second)
            second->push_back(readLe16(r + 6));
    }
    return out;
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& b, size_t sector, size_t bytes)
{
    return std::vector<uint8_t>(b.begin() + std::ptrdiff_t(sector * 2048),
                                b.begin() + std::ptrdiff_t(sector * 2048 + bytes));
}

// An archive directory of three entries: "a.dff" 1 sector at 0, "b.txd"
// 2 sectors at 1, "c.col" 1 sector at 3 (data file of 4 sectors).
struct DirArchive {
    ScratchDir dir{"qx_entry_edits"};
    std::string path = dir.file("m.dir");
    std::string img = dir.file("m.img");
    std::vector<uint8_t> a = noiseBytes(2048, 1), b = noiseBytes(4000, 2), c = noiseBytes(100, 3);
    DirArchive() { writeArchive(path, img, {{"a.dff", a}, {"b.txd", b}, {"c.col", c}}); }
    std::string file(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        const std::string p = dir.file(name);
        writeBytes(p, bytes);
        return p;
    }
};

}  // namespace

TEST(EntryEdits, AddedFilesGoAfterTheDataOnSectorBoundariesPaddedWithZeros)
{
    DirArchive t;
    const std::vector<uint8_t> before = readBytes(t.img);
    const std::vector<uint8_t> x = noiseBytes(3000, 9), y = noiseBytes(10, 8);
    {
        ArchiveEditor e(t.path);
        EXPECT_EQ(addEntries(e, {t.file("x.dff", x), t.file("Y.TXD", y)}, false), "2 entries added");
    }
    EXPECT_EQ(recordsOf(readBytes(t.path)),
              (std::vector<Rec>{{0, 1, "a.dff"}, {1, 2, "b.txd"}, {3, 1, "c.col"}, {4, 2, "x.dff"}, {6, 1, "Y.TXD"}}));
    const std::vector<uint8_t> img = readBytes(t.img);
    ASSERT_EQ(img.size(), 7u * 2048);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), img.begin()));
    EXPECT_EQ(slice(img, 4, 3000), x);
    EXPECT_EQ(slice(img, 6, 10), y);
    // The rest of each last sector is zeros.
    for (size_t i = 4 * 2048 + 3000; i < 6 * 2048; ++i)
        ASSERT_EQ(img[i], 0) << i;
    for (size_t i = 6 * 2048 + 10; i < img.size(); ++i)
        ASSERT_EQ(img[i], 0) << i;
}

TEST(EntryEdits, AnAddThatIsRefusedChangesNothing)
{
    struct Case {
        const char* name;
        std::vector<std::string> files;  // names in the scratch folder; "missing" is not made
        const char* says;
    };
    const std::string longName(24, 'n');
    const std::vector<Case> cases = {
        {"a name taken, other letter case", {"A.DFF"}, "exists already"},
        {"the same name twice", {"new.dff", "sub/NEW.dff"}, "given twice"},
        {"a name longer than 23 bytes", {longName}, "longer than 23"},
        {"a control character", {"tab\there"}, "control character"},
        {"a missing file after a good one", {"good.dff", "missing"}, "missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DirArchive t;
        fs::create_directory(t.dir.file("sub"));
        std::vector<std::string> paths;
        for (const std::string& f : c.files) {
            paths.push_back(t.dir.file(f));
            if (f != "missing")
                writeBytes(paths.back(), noiseBytes(50, 4));
        }
        const std::vector<uint8_t> dirBefore = readBytes(t.path), imgBefore = readBytes(t.img);
        try {
            ArchiveEditor e(t.path);
            addEntries(e, paths, false);
            ADD_FAILURE() << "added";
        } catch (const Exception& e) {
            EXPECT_NE(e.detail().find(c.says), std::string::npos) << e.detail();
        }
        EXPECT_EQ(readBytes(t.path), dirBefore);
        EXPECT_EQ(readBytes(t.img), imgBefore);
        EXPECT_FALSE(fs::exists(t.img + ".quarnix-journal"));
    }
}

TEST(EntryEdits, ReplaceWritesInPlaceWhereItFitsAndAfterTheDataWhereItDoesNot)
{
    struct Case {
        const char* name;
        size_t size;
        std::vector<Rec> records;
        size_t sectors;  // of the data file afterwards
        size_t at;       // sector the new bytes are in
    };
    const std::vector<Case> cases = {
        // b.txd (2 sectors at 1) becomes one sector: in place, its second
        // sector a gap; the rest of its new last sector zeroed.
        {"smaller", 1000, {{0, 1, "a.dff"}, {1, 1, "b.txd"}, {3, 1, "c.col"}}, 4, 1},
        {"the same sectors", 4096, {{0, 1, "a.dff"}, {1, 2, "b.txd"}, {3, 1, "c.col"}}, 4, 1},
        // Three sectors: after the data file's end; the old place a gap.
        {"larger", 4097, {{0, 1, "a.dff"}, {4, 3, "b.txd"}, {3, 1, "c.col"}}, 7, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DirArchive t;
        const std::vector<uint8_t> before = readBytes(t.img), fresh = noiseBytes(c.size, 77);
        {
            ArchiveEditor e(t.path);
            EXPECT_EQ(replaceEntry(e, *findEntryForEdit(e.contents().entries, "b.txd"), t.file("n", fresh)),
                      "1 entry replaced");
        }
        EXPECT_EQ(recordsOf(readBytes(t.path)), c.records);
        const std::vector<uint8_t> img = readBytes(t.img);
        ASSERT_EQ(img.size(), c.sectors * 2048);
        EXPECT_EQ(slice(img, c.at, c.size), fresh);
        const size_t end = c.at * 2048 + (c.size + 2047) / 2048 * 2048;
        for (size_t i = c.at * 2048 + c.size; i < end; ++i)
            ASSERT_EQ(img[i], 0) << i;
        // a.dff and c.col are untouched.
        EXPECT_EQ(slice(img, 0, 2048), t.a);
        EXPECT_EQ(slice(img, 3, 100), t.c);
        // A smaller replacement leaves the sector it no longer uses as it was.
        if (c.size == 1000) {
            EXPECT_EQ(slice(img, 2, 2048), slice(before, 2, 2048));
        }
    }
}

TEST(EntryEdits, AReplacementNeverWritesIntoSectorsAnotherEntryShares)
{
    ScratchDir dir{"qx_shared"};
    const std::string path = dir.file("s.dir"), img = dir.file("s.img");
    // Two records over the same two sectors.
    writeBytes(img, noiseBytes(4096, 5));
    writeBytes(path, buildDirectoryBytes({{0, 2, "one"}, {0, 2, "two"}}));
    writeBytes(dir.file("n"), noiseBytes(100, 6));
    {
        ArchiveEditor e(path);
        replaceEntry(e, *findEntryForEdit(e.contents().entries, "one"), dir.file("n"));
    }
    EXPECT_EQ(recordsOf(readBytes(path)), (std::vector<Rec>{{2, 1, "one"}, {0, 2, "two"}}));
    EXPECT_EQ(slice(readBytes(img), 0, 4096), noiseBytes(4096, 5));
}

TEST(EntryEdits, RemoveAndRenameChangeRecordsOnly)
{
    DirArchive t;
    const std::vector<uint8_t> img = readBytes(t.img);
    {
        ArchiveEditor e(t.path);
        // Positions as listed before the command: 1 and 3.
        EXPECT_EQ(removeEntries(e, {3, 1}), "2 entries removed");
    }
    EXPECT_EQ(recordsOf(readBytes(t.path)), (std::vector<Rec>{{1, 2, "b.txd"}}));
    EXPECT_EQ(readBytes(t.img), img);
    {
        ArchiveEditor e(t.path);
        EXPECT_EQ(renameEntry(e, e.contents().entries[0], "B.TXD"), "1 entry renamed");  // its own name, other case
    }
    EXPECT_EQ(recordsOf(readBytes(t.path)), (std::vector<Rec>{{1, 2, "B.TXD"}}));
    EXPECT_EQ(readBytes(t.img), img);
}

TEST(EntryEdits, ARenameToANameTakenOrAnUnknownEntryChangesNothing)
{
    DirArchive t;
    const std::vector<uint8_t> dir = readBytes(t.path);
    {
        ArchiveEditor e(t.path);
        EXPECT_THROW(renameEntry(e, e.contents().entries[0], "C.COL"), EEntryEditError);
        EXPECT_THROW(removeEntries(e, {1, 4}), EEntryEditError);
        EXPECT_EQ(findEntryForEdit(e.contents().entries, "d.dff"), nullptr);
    }
    EXPECT_EQ(readBytes(t.path), dir);
}

TEST(EntryEdits, AnExactNameWinsOverAPosition)
{
    std::vector<DirectoryEntry> entries(3);
    for (int i = 0; i < 3; ++i) {
        entries[size_t(i)].pos = i + 1;
        entries[size_t(i)].name = "e" + std::to_string(i + 1);
    }
    entries[2].name = "1";
    EXPECT_EQ(findEntryForEdit(entries, "1")->pos, 3);
    EXPECT_EQ(findEntryForEdit(entries, "2")->pos, 2);
    EXPECT_EQ(findEntryForEdit(entries, "e1")->pos, 1);
    EXPECT_EQ(findEntryForEdit(entries, "4"), nullptr);
}

TEST(EntryEdits, AVer2DirectoryThatOutgrowsItsSpaceMovesTheEntriesInItsWay)
{
    ScratchDir dir{"qx_ver2_grow"};
    const std::string path = dir.file("g.img");
    // 63 entries: 8 + 63 * 32 = 2024 bytes, the first sector; one more
    // record needs 2056 bytes and reaches into the first entry (sector 1).
    std::vector<ArchiveItem> items;
    for (int i = 0; i < 63; ++i)
        items.push_back({"e" + std::to_string(i), noiseBytes(i == 0 ? 3000 : 10, uint8_t(i))});
    writeBytes(path, buildVer2Archive(items));
    const std::vector<uint8_t> before = readBytes(path);
    ASSERT_EQ(ver2RecordsOf(before)[0], (Rec{1, 2, "e0"}));
    writeBytes(dir.file("new.dff"), noiseBytes(5, 200));
    {
        ArchiveEditor e(path);
        addEntries(e, {dir.file("new.dff")}, false);
    }
    const std::vector<uint8_t> img = readBytes(path);
    std::vector<uint16_t> second;
    const std::vector<Rec> recs = ver2RecordsOf(img, &second);
    ASSERT_EQ(recs.size(), 64u);
    // The data ended at sector 1 + 2 + 62 = 65: e0 moved there first, then the new entry.
    EXPECT_EQ(recs[0], (Rec{65, 2, "e0"}));
    EXPECT_EQ(recs[63], (Rec{67, 1, "new.dff"}));
    for (int i = 1; i < 63; ++i)
        EXPECT_EQ(recs[size_t(i)], (Rec{uint32_t(2 + i), 1, "e" + std::to_string(i)}));
    EXPECT_EQ(slice(img, 65, 3000), noiseBytes(3000, 0));
    EXPECT_EQ(slice(img, 67, 5), noiseBytes(5, 200));
    for (const uint16_t s : second)
        EXPECT_EQ(s, 0);
    // Every entry reads back as it was.
    const ArchiveContents now = readArchive(path);
    ASSERT_EQ(now.entries.size(), 64u);
    for (int i = 1; i < 63; ++i)
        EXPECT_EQ(slice(img, size_t(2 + i), 10), noiseBytes(10, uint8_t(i)));
}

TEST(EntryEdits, AVer2EntryAboveTheSizeFieldsLimitIsRefused)
{
    ScratchDir dir{"qx_ver2_limit"};
    const std::string path = dir.file("l.img");
    writeBytes(path, buildVer2Archive({{"a", noiseBytes(10, 1)}}));
    const std::vector<uint8_t> before = readBytes(path);
    // 65,536 sectors: one more than the field holds (a sparse file).
    const std::string big = dir.file("big.bin");
    writeBytes(big, {});
    ASSERT_EQ(::truncate(big.c_str(), off_t(65536) * 2048), 0);
    try {
        ArchiveEditor e(path);
        addEntries(e, {big}, false);
        ADD_FAILURE() << "added";
    } catch (const EEntryEditError& error) {
        EXPECT_NE(error.message().find("65535"), std::string::npos) << error.message();
    }
    EXPECT_EQ(readBytes(path), before);
}

TEST(EntryEdits, ARebuildLeavesNoGapsAndEveryEntryItsBytes)
{
    for (const bool ver2 : {false, true}) {
        SCOPED_TRACE(ver2 ? "VER2" : "directory");
        ScratchDir dir{"qx_rebuild"};
        const std::string path = dir.file(ver2 ? "r.img" : "r.dir"), img = dir.file("r.img");
        // a (1 sector), a gap of 2 sectors, b (2 sectors), c sharing b's
        // sectors, a gap, d (1 sector).
        const std::vector<uint8_t> a = noiseBytes(2048, 1), b = noiseBytes(4096, 2), d = noiseBytes(2048, 4);
        const int64_t first = ver2 ? 1 : 0;  // the VER2 directory takes sector 0
        std::vector<uint8_t> data(size_t((first + 8) * 2048), 0xEE);
        std::copy(a.begin(), a.end(), data.begin() + first * 2048);
        std::copy(b.begin(), b.end(), data.begin() + (first + 3) * 2048);
        std::copy(d.begin(), d.end(), data.begin() + (first + 7) * 2048);
        const std::vector<std::pair<uint32_t, uint32_t>> where = {{0, 1}, {3, 2}, {3, 2}, {7, 1}};
        const std::vector<std::string> names = {"a", "b", "c", "d"};
        if (ver2) {
            std::fill(data.begin(), data.begin() + 2048, 0);
            std::memcpy(data.data(), "VER2", 4);
            writeLe32(data.data() + 4, 4);
            for (size_t i = 0; i < 4; ++i) {
                uint8_t* r = data.data() + 8 + 32 * i;
                writeLe32(r, uint32_t(where[i].first + first));
                writeLe16(r + 4, uint16_t(where[i].second));
                std::memcpy(r + 8, names[i].data(), names[i].size());
            }
            writeBytes(img, data);
        } else {
            writeBytes(img, data);
            std::vector<DirectoryRecord> records;
            for (size_t i = 0; i < 4; ++i)
                records.push_back({where[i].first, where[i].second, names[i]});
            writeBytes(path, buildDirectoryBytes(records));
        }
        {
            ArchiveEditor e(path);
            EXPECT_EQ(archiveInfo(e.contents(), e.data()).gapBytes, 4 * 2048);
            rebuildArchive(e);
        }
        const std::vector<uint8_t> out = readBytes(img);
        const std::vector<Rec> recs = ver2 ? ver2RecordsOf(out) : recordsOf(readBytes(path));
        const uint32_t f = uint32_t(first);
        EXPECT_EQ(recs, (std::vector<Rec>{{f, 1, "a"}, {f + 1, 2, "b"}, {f + 3, 2, "c"}, {f + 5, 1, "d"}}));
        ASSERT_EQ(out.size(), size_t(f + 6) * 2048);
        EXPECT_EQ(slice(out, f, 2048), a);
        EXPECT_EQ(slice(out, f + 1, 4096), b);
        EXPECT_EQ(slice(out, f + 3, 4096), b);
        EXPECT_EQ(slice(out, f + 5, 2048), d);
        const ArchiveContents now = readArchive(path);
        TFileStream s(img, FileMode::OpenReadShareDenyWrite);
        EXPECT_EQ(archiveInfo(now, s).gapBytes, 0);
        EXPECT_FALSE(fs::exists(img + ".quarnix-new"));
        EXPECT_FALSE(fs::exists(img + ".quarnix-journal"));
    }
}

TEST(EntryEdits, ARebuildWithoutRoomOrWithEntriesOutsideTheDataIsRefused)
{
    {
        MemoryFs mem;
        mem.put("/r/x.img", buildVer2Archive({{"a", noiseBytes(5000, 1)}}));
        const std::vector<uint8_t> before = *mem.get("/r/x.img");
        mem.free = 4 * 2048 - 1;  // the rebuilt file needs 4 sectors
        ArchiveEditor e("/r/x.img", mem);
        try {
            rebuildArchive(e);
            ADD_FAILURE() << "rebuilt";
        } catch (const EEntryEditError& error) {
            EXPECT_NE(error.message().find("8192 bytes are needed"), std::string::npos) << error.message();
            EXPECT_NE(error.message().find("8191 are free"), std::string::npos) << error.message();
        }
        EXPECT_EQ(mem.get("/r/x.img"), before);
    }
    {
        ScratchDir dir{"qx_rebuild_outside"};
        writeBytes(dir.file("o.img"), noiseBytes(2048, 1));
        writeBytes(dir.file("o.dir"), buildDirectoryBytes({{0, 1, "in"}, {5, 1, "out"}}));
        {
            ArchiveEditor e(dir.file("o.dir"));
            EXPECT_THROW(rebuildArchive(e), EEntryEditError);
        }
        EXPECT_EQ(readBytes(dir.file("o.img")), noiseBytes(2048, 1));
    }
}

TEST(EntryEdits, ACancelledRebuildLeavesTheOldArchive)
{
    DirArchive t;
    const std::vector<uint8_t> dirBefore = readBytes(t.path), imgBefore = readBytes(t.img);
    {
        ArchiveEditor e(t.path);
        EXPECT_THROW(rebuildArchive(e, [](int64_t done, int64_t) { return done < 2048; }), EEntryEditError);
    }
    EXPECT_EQ(readBytes(t.path), dirBefore);
    EXPECT_EQ(readBytes(t.img), imgBefore);
    EXPECT_FALSE(fs::exists(t.img + ".quarnix-new"));
    EXPECT_FALSE(fs::exists(t.path + ".quarnix-new"));
}

TEST(EntryEdits, ANewArchiveOfEitherFlavourNeverReplacesAFile)
{
    ScratchDir dir{"qx_new"};
    writeBytes(dir.file("x.dff"), noiseBytes(3000, 1));
    EXPECT_EQ(createArchive(dir.file("n.dir"), {}), "archive directory made");
    EXPECT_EQ(readBytes(dir.file("n.dir")).size(), 0u);
    EXPECT_EQ(readBytes(dir.file("n.img")).size(), 0u);
    EXPECT_EQ(createArchive(dir.file("v.img"), {dir.file("x.dff")}), "VER2 archive made, 1 entry added");
    const std::vector<uint8_t> v = readBytes(dir.file("v.img"));
    ASSERT_EQ(v.size(), 3u * 2048);
    EXPECT_EQ(std::string(v.begin(), v.begin() + 4), "VER2");
    EXPECT_EQ(ver2RecordsOf(v), (std::vector<Rec>{{1, 2, "x.dff"}}));
    EXPECT_EQ(slice(v, 1, 3000), noiseBytes(3000, 1));
    // Either file of a pair, in any letter case, or the file itself.
    writeBytes(dir.file("p.IMG"), {1});
    for (const char* name : {"n.dir", "v.img", "p.dir", "n.img"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(createArchive(dir.file(name), {}), EEntryEditError);
    }
    EXPECT_EQ(readBytes(dir.file("p.IMG")), std::vector<uint8_t>{1});
    EXPECT_THROW(createArchive(dir.file("q.txt"), {}), EEntryEditError);
}

TEST(EntryEdits, InfoCountsGapsAndEntriesOutsideTheData)
{
    ScratchDir dir{"qx_info"};
    // 5 sectors of data: entries over sectors 0 and 2-3 (twice), one past the end.
    writeBytes(dir.file("i.img"), noiseBytes(5 * 2048, 1));
    writeBytes(dir.file("i.dir"), buildDirectoryBytes({{0, 1, "a"}, {2, 2, "b"}, {3, 1, "c"}, {9, 1, "far"}}));
    const ArchiveContents a = readArchive(dir.file("i.dir"));
    TFileStream s(dir.file("i.img"), FileMode::OpenReadShareDenyWrite);
    EXPECT_EQ(archiveInfoText(archiveInfo(a, s)), "flavour: archive directory\nentries: 4\ndata bytes: 10240\n"
                                                  "bytes in gaps: 4096\nentries outside the data: 1\n");
}

TEST(EntryEdits, ALinkInPlaceOfAnArchiveFileIsNeverWrittenThrough)
{
    DirArchive t;
    const std::string real = t.dir.file("real.img");
    fs::rename(t.img, real);
    fs::create_symlink(real, t.img);
    const std::vector<uint8_t> before = readBytes(real);
    try {
        ArchiveEditor e(t.path);
        ADD_FAILURE() << "opened for editing";
    } catch (const Exception& e) {
        EXPECT_NE(e.message().find("symbolic link"), std::string::npos) << e.message();
    }
    EXPECT_EQ(readBytes(real), before);
}

TEST(EntryEdits, ReplacedBytesThatFitAreWrittenOnlyWhereTheyDiffer)
{
    MemoryFs mem;
    std::vector<uint8_t> entry = noiseBytes(5000, 4);
    mem.put("/r/w.img", buildVer2Archive({{"a.txd", entry}, {"b.dff", noiseBytes(100, 5)}}));
    std::vector<size_t> written;
    mem.onWrite = [&](const std::string& path, int64_t, std::vector<uint8_t>& bytes) {
        if (path == "/r/w.img")
            written.push_back(bytes.size());
    };
    entry[1000] ^= 1;
    entry[1009] ^= 1;
    {
        ArchiveEditor e("/r/w.img", mem);
        replaceEntryBytes(e, e.contents().entries[0], entry, {});
    }
    // Ten bytes, 1000 to 1009, and the zeros after the 5000 up to the sector's end.
    EXPECT_EQ(written, (std::vector<size_t>{10, 3 * 2048 - 5000}));
    const std::vector<uint8_t> img = *mem.get("/r/w.img");
    EXPECT_EQ(slice(img, 1, 5000), entry);
}

TEST(EntryEdits, TheEntryThatEndsTheDataGrowsInPlace)
{
    DirArchive t;
    const std::vector<uint8_t> fresh = noiseBytes(5000, 77);
    {
        ArchiveEditor e(t.path);
        replaceEntry(e, *findEntryForEdit(e.contents().entries, "c.col"), t.file("n", fresh));
    }
    // c.col (1 sector at 3, the last) takes 3 sectors where it stands.
    EXPECT_EQ(recordsOf(readBytes(t.path)), (std::vector<Rec>{{0, 1, "a.dff"}, {1, 2, "b.txd"}, {3, 3, "c.col"}}));
    const std::vector<uint8_t> img = readBytes(t.img);
    ASSERT_EQ(img.size(), 6u * 2048);
    EXPECT_EQ(slice(img, 3, 5000), fresh);
    for (size_t i = 3 * 2048 + 5000; i < img.size(); ++i)
        ASSERT_EQ(img[i], 0) << i;
}
