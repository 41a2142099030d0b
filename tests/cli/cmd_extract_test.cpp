// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool extract and extract-all: the raw bytes of entries, bounded by
// the data file, under safe and unique names; and no output of the tool ever
// takes the place of a file of the archive it reads.
#include "formats/archive_sample.h"
#include "formats/archive_writer.h"
#include "support/archive_builder.h"
#include "support/tool_runner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <filesystem>

namespace fs = std::filesystem;
using namespace archive_fixture;

namespace {

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(seed + i * 7 + i / 251);
    return bytes;
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t from, size_t count)
{
    return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + from + count);
}

size_t filesIn(const std::string& folder)
{
    size_t n = 0;
    for (const auto& f : fs::directory_iterator(folder))
        n += f.is_regular_file();
    return n;
}

// An archive whose records are written as given, with a data file of
// `imgSize` pattern bytes: for entries that are cut short by the end of the
// data file or lie past it.
std::string writeRawArchive(const ScratchDir& dir, const std::vector<DirectoryRecord>& records, size_t imgSize)
{
    writeBytes(dir.file("raw.dir"), buildDirectoryBytes(records));
    writeBytes(dir.file("raw.img"), pattern(imgSize, 3));
    return dir.file("raw.dir");
}

class ExtractCommands : public testing::Test {
protected:
    ScratchDir dir{"qx_extract"};
};

}  // namespace

TEST_F(ExtractCommands, ExtractWritesAnEntrysBytesFromItsPlaceInTheDataFile)
{
    const std::vector<ArchiveItem> items = {
        {"first.dff", pattern(3000, 1)}, {"Second.TXD", pattern(5000, 2)}, {"third.col", pattern(10, 9)}};
    writeArchive(dir.file("a.dir"), dir.file("a.img"), items);
    const std::vector<uint8_t> img = readBytes(dir.file("a.img"));

    // Entry 2 starts at sector 2 and holds 3 sectors: its bytes and the
    // sector padding after them, as stored.
    for (const char* which : {"2", "Second.TXD"}) {
        const std::string out = dir.file(std::string("out-") + which);
        const ToolRun r = runQuarnixTool({"extract", dir.file("a.dir"), which, out});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(readBytes(out), slice(img, 2 * 2048, 3 * 2048)) << which;
    }

    // A standalone dictionary is its own single entry: the whole file.
    const std::string txd = archive_sample::writeSampleFiles(dir.path()).at(2);
    const ToolRun whole = runQuarnixTool({"extract", txd, "1", dir.file("copy.txd")});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(readBytes(dir.file("copy.txd")), readBytes(txd));

    // An existing output is replaced.
    writeBytes(dir.file("old"), pattern(100000, 5));
    ASSERT_EQ(runQuarnixTool({"extract", dir.file("a.dir"), "third.col", dir.file("old")}).exitCode, 0);
    EXPECT_EQ(readBytes(dir.file("old")), slice(img, 5 * 2048, 2048));
}

TEST_F(ExtractCommands, ExtractStopsAtTheEndOfTheDataFile)
{
    // A data file of three sectors: entry 1 fits; entry 2 (sectors 1 to 4)
    // is cut by the file's end; entry 3 starts at the end and entry 4 past
    // it; entry 5 is empty and lies past the end.
    const std::string archive = writeRawArchive(
        dir, {{0, 1, "fits"}, {1, 4, "cut"}, {3, 1, "atEnd"}, {9, 2, "past"}, {100, 0, "empty"}}, 3 * 2048);
    const std::vector<uint8_t> img = readBytes(dir.file("raw.img"));
    const std::string out = dir.file("out");

    ToolRun r = runQuarnixTool({"extract", archive, "fits", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(out), slice(img, 0, 2048));

    r = runQuarnixTool({"extract", archive, "cut", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(out), slice(img, 2048, 2 * 2048));
    EXPECT_EQ(r.err, "Entry 'cut' runs past the end of " + dir.file("raw.img") + ": 4096 of 8192 bytes written\n");

    r = runQuarnixTool({"extract", archive, "empty", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(readBytes(out).empty());

    // Nothing of an entry is in the file: refused, the output untouched.
    writeBytes(out, {1, 2, 3});
    for (const char* entry : {"atEnd", "past"}) {
        r = runQuarnixTool({"extract", archive, entry, out});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Entry '" + std::string(entry) + "' starts past the end of " + dir.file("raw.img") + ".\n");
        EXPECT_EQ(readBytes(out), (std::vector<uint8_t>{1, 2, 3}));
    }
}

TEST_F(ExtractCommands, ExtractAllWritesEveryEntryUnderSafeUniqueNames)
{
    // Names that clash ignoring case, that hold separators, that are no file
    // names, Windows-1250 letters; a cut entry and one past the end.
    const std::vector<DirectoryRecord> records = {
        {0, 1, "Grass.txd"}, {1, 1, "GRASS.TXD"},      {2, 1, "a/b:c.dff"},   {3, 1, ".."},       {4, 1, ""},
        {5, 1, "x."},        {6, 1, "\x8A\xE8ko.txd"}, {7, 1, "grass_2.txd"}, {8, 2, "tail.img"}, {40, 1, "gone.dff"},
    };
    const std::string archive = writeRawArchive(dir, records, 8 * 2048 + 100);
    const std::vector<uint8_t> img = readBytes(dir.file("raw.img"));
    const std::string out = dir.file("all");

    const ToolRun r = runQuarnixTool({"extract-all", archive, out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "9 entries written to " + out
                         + ", 1 skipped (starting past the end of the data file: 1), 1 cut short by the end of the "
                           "data file\n");
    const std::vector<std::pair<std::string, size_t>> expected = {
        {"Grass.txd", 0},
        {"GRASS_2.TXD", 1},
        {"a_b_c.dff", 2},
        {"_.._", 3},
        {"_", 4},
        {"x._", 5},
        {"\xC5\xA0\xC4\x8Dko.txd", 6},
        {"grass_2_2.txd", 7},
    };
    for (const auto& [name, sector] : expected)
        EXPECT_EQ(readBytes(out + "/" + name), slice(img, sector * 2048, 2048)) << name;
    EXPECT_EQ(readBytes(out + "/tail.img"), slice(img, 8 * 2048, 100));
    EXPECT_EQ(filesIn(out), 9u);
}

TEST_F(ExtractCommands, NoOutputReplacesAFileOfTheArchive)
{
    const std::vector<std::string> sample = archive_sample::writeSampleFiles(dir.path());
    const std::string dirFile = sample.at(0), img = sample.at(1), txd = sample.at(2);
    const std::vector<uint8_t> dirBytes = readBytes(dirFile), imgBytes = readBytes(img), txdBytes = readBytes(txd);

    const std::vector<std::vector<std::string>> refused = {
        {"extract", dirFile, "1", img},
        {"extract", dirFile, "1", dirFile},
        {"extract", dirFile, "1", dir.path() + "/../" + fs::path(dir.path()).filename().string() + "/sample.img"},
        {"extract", txd, "1", txd},
        {"export", txd, "1", "1", txd},
        {"export", dirFile, "Landscape.TXD", "plasma", img},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(testing::PrintToString(args));
        const ToolRun r = runQuarnixTool(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("it is a file of the archive being read"), std::string::npos) << r.err;
    }

    // An entry named like the data file, extracted into the archive's own
    // folder: refused before anything is written.
    writeArchive(dir.file("own.dir"), dir.file("own.img"), {{"aaa.dff", pattern(10, 1)}, {"own.img", pattern(10, 2)}});
    const std::vector<uint8_t> ownImg = readBytes(dir.file("own.img"));
    const ToolRun r = runQuarnixTool({"extract-all", dir.file("own.dir"), dir.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(readBytes(dir.file("own.img")), ownImg);
    EXPECT_FALSE(fs::exists(dir.file("aaa.dff")));

    EXPECT_EQ(readBytes(dirFile), dirBytes);
    EXPECT_EQ(readBytes(img), imgBytes);
    EXPECT_EQ(readBytes(txd), txdBytes);
}

TEST_F(ExtractCommands, FailuresAndUsageErrors)
{
    writeArchive(dir.file("a.dir"), dir.file("a.img"), {{"one.dff", pattern(10, 1)}});
    ToolRun r = runQuarnixTool({"extract", dir.file("a.dir"), "two.dff", dir.file("out")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "No entry 'two.dff' in " + dir.file("a.dir") + ".\n");
    r = runQuarnixTool({"extract", dir.file("missing.dir"), "1", dir.file("out")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "cannot open " + dir.file("missing.dir") + ": " + std::strerror(ENOENT) + ".\n");
    fs::remove(dir.file("a.img"));
    r = runQuarnixTool({"extract-all", dir.file("a.dir"), dir.file("out")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "cannot open " + dir.file("a.img") + ": " + std::strerror(ENOENT) + ".\n");
    EXPECT_FALSE(fs::exists(dir.file("out")));

    writeArchive(dir.file("a.dir"), dir.file("a.img"), {{"one.dff", pattern(10, 1)}});
    r = runQuarnixTool({"extract", dir.file("a.dir"), "1", dir.file("no/such/folder/out")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "cannot create " + dir.file("no/such/folder/out") + ": " + std::strerror(ENOENT) + ".\n");
    EXPECT_EQ(filesIn(dir.path()), 2u);  // no temporary file left behind

    for (const std::vector<std::string>& args : {std::vector<std::string>{"extract", "a.dir", "1"},
                                                 {"extract-all", "a.dir"},
                                                 {"extract-all", "a", "b", "c"},
                                                 {"extract", "--frob", "a", "b", "c"}}) {
        r = runQuarnixTool(args);
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Usage: quarnix-tool " + args[0]), std::string::npos) << r.err;
    }
    r = runQuarnixTool({"extract-all", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Usage: quarnix-tool extract-all [options] ARCHIVE OUTDIR\n", 0), 0u) << r.out;
}

TEST(ExtractGuard, AnArchiveOpenedThroughItsDataFileKeepsItsDirectoryToo)
{
    archive_fixture::ScratchDir dir{"qx_extract_guard"};
    writeArchive(dir.file("m.dir"), dir.file("m.img"), {{"m.dir", std::vector<uint8_t>(10, 7)}});
    const std::vector<uint8_t> before = archive_fixture::readBytes(dir.file("m.dir"));
    // The entry named like the archive's own directory file, extracted into
    // the archive's folder through the data file.
    const ToolRun r = runQuarnixTool({"extract-all", dir.file("m.img"), dir.path()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("it is a file of the archive being read"), std::string::npos) << r.err;
    EXPECT_EQ(archive_fixture::readBytes(dir.file("m.dir")), before);
}
