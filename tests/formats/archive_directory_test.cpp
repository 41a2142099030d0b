// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/archive_directory.h"

#include "platform/exceptions.h"
#include "platform/streams.h"
#include "support/archive_builder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace archive_fixture;

namespace {

std::vector<DirectoryEntry> parse(const std::vector<uint8_t>& bytes)
{
    return parseArchiveDirectory(bytes.data(), bytes.size());
}

template <class Fn>
std::string openErrorOf(Fn fn)
{
    try {
        fn();
    } catch (const EFOpenError& e) {
        return e.message();
    }
    return "no EFOpenError";
}

}  // namespace

TEST(ArchiveDirectory, RecordLayoutIsLittleEndianWithSectorUnits)
{
    // Two records written byte by byte: positions and counts in sectors of 2048.
    std::vector<uint8_t> bytes(64, 0);
    const uint8_t first[] = {0x05, 0, 0, 0, 0x03, 0, 0, 0, 'a', '.', 't', 'x', 'd'};
    const uint8_t second[] = {0x04, 0x03, 0x02, 0x01, 0x01, 0x01, 0, 0, 'Z'};
    std::copy(std::begin(first), std::end(first), bytes.begin());
    std::copy(std::begin(second), std::end(second), bytes.begin() + 32);

    const auto entries = parse(bytes);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].pos, 1);
    EXPECT_EQ(entries[0].offset, 10240);
    EXPECT_EQ(entries[0].size, 6144);
    EXPECT_EQ(entries[0].name, "a.txd");
    EXPECT_EQ(entries[1].pos, 2);
    EXPECT_EQ(entries[1].offset, int64_t{0x01020304} * 2048);
    EXPECT_EQ(entries[1].size, int64_t{0x0101} * 2048);
    EXPECT_EQ(entries[1].name, "Z");
}

TEST(ArchiveDirectory, RecordCountIsSizeDividedBy32)
{
    const auto entries = parse(hundredByteDirectory());
    ASSERT_EQ(entries.size(), 3u);  // the last 4 bytes belong to no record
    EXPECT_EQ(entries[0].name, "first.txd");
    EXPECT_EQ(entries[1].name, "second.dff");
    EXPECT_EQ(entries[2].name, "third.col");
    EXPECT_EQ(entries[2].pos, 3);

    for (size_t shortSize : {0u, 1u, 31u})
        EXPECT_TRUE(parse(std::vector<uint8_t>(shortSize, 0x41)).empty()) << shortSize;
    EXPECT_EQ(parse(std::vector<uint8_t>(63, 0x41)).size(), 1u);
}

TEST(ArchiveDirectory, NameFieldEndsAtFirstNulOrAfter24Bytes)
{
    const auto entries = parse(buildDirectoryBytes(oddNameRecords()));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].name, "plain.dff");
    EXPECT_EQ(entries[1].name, oddName24());
    EXPECT_EQ(entries[1].name.size(), 24u);
    EXPECT_EQ(entries[2].name, "");
    EXPECT_EQ(entries[3].name, "abc");
    EXPECT_EQ(entries[4].name, "\x8a\xe8ko.txd");  // raw bytes, no conversion here

    // A 24-character name must not run into the next record's numbers.
    std::vector<uint8_t> bytes(64, 'N');
    const auto run = parse(bytes);
    ASSERT_EQ(run.size(), 2u);
    EXPECT_EQ(run[0].name, std::string(24, 'N'));
}

TEST(ArchiveDirectory, OffsetsAtAndPast2GiBStayExact)
{
    const auto entries = parse(buildDirectoryBytes({
        {0x0FFFFF, 1, "below"},
        {0x100000, 0x100000, "at2GiB"},
        {0xFFFFFFFF, 0xFFFFFFFF, "top"},
    }));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].offset, 2147481600);
    EXPECT_EQ(entries[1].offset, 2147483648LL);
    EXPECT_EQ(entries[1].size, 2147483648LL);
    EXPECT_EQ(entries[2].offset, 8796093020160LL);
    EXPECT_EQ(entries[2].size, 8796093020160LL);
}

TEST(ArchiveDirectory, StreamParserStartsAtCurrentPosition)
{
    std::vector<uint8_t> bytes(5, 0xEE);  // a prefix the caller has already consumed
    const auto dir = buildDirectoryBytes({{7, 2, "x.dff"}});
    bytes.insert(bytes.end(), dir.begin(), dir.end());
    TMemoryStream s(bytes);
    s.SetPosition(5);
    const auto entries = parseArchiveDirectory(s);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].offset, 7 * 2048);
    EXPECT_EQ(entries[0].name, "x.dff");
}

TEST(ArchiveDirectory, ReadsLargeDirectoryFileInOrder)
{
    ScratchDir dir;
    const auto records = manyRecords(20000);
    const std::string path = dir.file("big.dir");
    auto bytes = buildDirectoryBytes(records);
    bytes.push_back(0x7F);  // a stray trailing byte
    writeBytes(path, bytes);

    const auto entries = readArchiveDirectory(path);
    ASSERT_EQ(entries.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(entries[i].pos, static_cast<int64_t>(i + 1));
        ASSERT_EQ(entries[i].name, records[i].nameField);
        ASSERT_EQ(entries[i].offset, int64_t{records[i].sectorPos} * 2048);
        ASSERT_EQ(entries[i].size, int64_t{records[i].sectorCount} * 2048);
    }
}

TEST(ArchiveDirectory, UnopenableFilesRaiseCannotOpenFile)
{
    ScratchDir dir;
    const std::string missing = dir.file("missing.dir");
    EXPECT_EQ(openErrorOf([&] { readArchiveDirectory(missing); }), "Cannot open file " + missing);
    const std::string missingTxd = dir.file("missing.txd");
    EXPECT_EQ(openErrorOf([&] { readStandaloneDictionaryEntry(missingTxd); }), "Cannot open file " + missingTxd);

    // A file another program holds for writing cannot be opened for reading.
    const std::string locked = dir.file("locked.dir");
    writeBytes(locked, buildDirectoryBytes({{1, 1, "a"}}));
    const std::string lockedTxd = dir.file("LOCKED.TXD");
    writeBytes(lockedTxd, std::vector<uint8_t>(40, 0));
    {
        TFileStream writer(locked, FileMode::OpenReadWriteExclusive);
        TFileStream writerTxd(lockedTxd, FileMode::OpenReadWriteExclusive);
        EXPECT_EQ(openErrorOf([&] { readArchiveDirectory(locked); }), "Cannot open file " + locked);
        EXPECT_EQ(openErrorOf([&] { readStandaloneDictionaryEntry(lockedTxd); }), "Cannot open file " + lockedTxd);
    }
    // Once the writer is gone both read, and neither is left open or locked.
    EXPECT_EQ(readArchiveDirectory(locked).size(), 1u);
    EXPECT_EQ(readStandaloneDictionaryEntry(lockedTxd).size, 40);
    EXPECT_NO_THROW(TFileStream(locked, FileMode::OpenReadWriteExclusive));
    EXPECT_NO_THROW(TFileStream(lockedTxd, FileMode::OpenReadWriteExclusive));

    // A folder is not a directory file.
    EXPECT_EQ(openErrorOf([&] { readArchiveDirectory(dir.path()); }), "Cannot open file " + dir.path());
}

TEST(ArchiveDirectory, StandaloneDictionaryIsOneEntryCoveringTheFile)
{
    ScratchDir dir;
    const std::string path = dir.file("MENU.TXD");
    writeBytes(path, std::vector<uint8_t>(4321, 0x55));
    const DirectoryEntry e = readStandaloneDictionaryEntry(path);
    EXPECT_EQ(e.pos, 1);
    EXPECT_EQ(e.offset, 0);
    EXPECT_EQ(e.size, 4321);
    EXPECT_EQ(e.name, "MENU.TXD");

    // The UTF-8 file name becomes Windows-1250 bytes like every entry name.
    const std::string accented = dir.file("\xC5\xA0\xC4\x8Dko.txd");  // "Ščko.txd"
    writeBytes(accented, {});
    const DirectoryEntry a = readStandaloneDictionaryEntry(accented);
    EXPECT_EQ(a.name, "\x8a\xe8ko.txd");
    EXPECT_EQ(a.size, 0);
}

struct NamingCase {
    const char* path;
    const char* extension;
    bool dictionary;
    const char* dataFile;
};

class ArchiveNaming : public testing::TestWithParam<NamingCase> {};

TEST_P(ArchiveNaming, FollowsTheExtensionRules)
{
    const NamingCase& c = GetParam();
    EXPECT_EQ(fileExtension(c.path), c.extension);
    EXPECT_EQ(namesTextureDictionary(c.path), c.dictionary);
    EXPECT_EQ(replaceExtensionWithImg(c.path), c.dataFile);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ArchiveNaming,
    testing::Values(
        NamingCase{"MODELS.DIR", ".DIR", false, "MODELS.img"},
        NamingCase{"/games/demo/models/world.dir", ".dir", false, "/games/demo/models/world.img"},
        NamingCase{"MENU.TXD", ".TXD", true, "MENU.img"}, NamingCase{"/data/menu.txd", ".txd", true, "/data/menu.img"},
        NamingCase{"Menu.TxD", ".TxD", true, "Menu.img"}, NamingCase{"menu.txd.bak", ".bak", false, "menu.txd.img"},
        NamingCase{"menu.tx", ".tx", false, "menu.img"}, NamingCase{"readme.txd.txt", ".txt", false, "readme.txd.img"},
        NamingCase{"models", "", false, "models.img"},
        NamingCase{"C:\\my.data\\models", "", false, "C:\\my.data\\models.img"},
        NamingCase{"/home/u/my.data/models", "", false, "/home/u/my.data/models.img"},
        NamingCase{"/home/u/my.data\\models", "", false, "/home/u/my.data\\models.img"},
        NamingCase{"archive.", ".", false, "archive.img"}, NamingCase{"/x/.txd", ".txd", true, "/x/.img"},
        // Only A-Z are lowered: a capital I with a dot above does not become "i".
        NamingCase{"menu.\xC4\xB0XD", ".\xC4\xB0XD", false, "menu.img"},
        NamingCase{"menu.txd ", ".txd ", false, "menu.img"}));

TEST(ArchiveNaming, DataFileIsFoundInAnyLetterCase)
{
    ScratchDir dir;
    // Only an upper-case data file exists: it is the data file.
    writeBytes(dir.file("GAME.DIR"), {});
    writeBytes(dir.file("GAME.IMG"), {});
    EXPECT_EQ(locateDataFile(dir.file("GAME.DIR")), dir.file("GAME.IMG"));

    // The exact name wins when it exists.
    writeBytes(dir.file("GAME.img"), {});
    EXPECT_EQ(locateDataFile(dir.file("GAME.DIR")), dir.file("GAME.img"));

    // No data file at all: the rule's own name, which a later read reports as missing.
    writeBytes(dir.file("other.dir"), {});
    EXPECT_EQ(locateDataFile(dir.file("other.dir")), dir.file("other.img"));
}
