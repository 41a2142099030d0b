// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/archive_writer.h"

#include "formats/archive_directory.h"
#include "platform/exceptions.h"
#include "support/archive_builder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace archive_fixture;

namespace {

// The message of the error `f` raises; "<no error>" when it raises none.
template <typename F>
std::string errorOf(F&& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return "<no error>";
}

}  // namespace

TEST(ArchiveWriter, DirectoryRecordBytes)
{
    const auto bytes = buildDirectoryBytes({{0x01020304, 7, "ab"}, {0, 0, std::string("\0z", 2)}});
    std::vector<uint8_t> want(64, 0);
    const uint8_t rec[] = {0x04, 0x03, 0x02, 0x01, 0x07, 0, 0, 0, 'a', 'b'};
    std::copy(std::begin(rec), std::end(rec), want.begin());
    want[32 + 9] = 'z';
    EXPECT_EQ(bytes, want);

    EXPECT_NO_THROW(buildDirectoryBytes({{0, 0, std::string(24, 'x')}}));
    EXPECT_EQ(errorOf([] {
                  buildDirectoryBytes({{0, 0, std::string(25, 'x')}});
              }),
              "Directory name field longer than 24 bytes: " + std::string(25, 'x'));
}

TEST(ArchiveWriter, ItemsArePaddedToWholeSectors)
{
    std::vector<ArchiveItem> items = {
        {"empty.dat", {}},
        {"one.dat", {0x11}},
        {"full.txd", std::vector<uint8_t>(2048, 0x22)},
        {"over.dff", std::vector<uint8_t>(2049, 0x33)},
    };
    const BuiltArchive a = buildArchive(items);
    ASSERT_EQ(a.records.size(), 4u);
    const uint32_t wantPos[] = {0, 0, 1, 2};
    const uint32_t wantCount[] = {0, 1, 1, 2};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(a.records[i].sectorPos, wantPos[i]) << i;
        EXPECT_EQ(a.records[i].sectorCount, wantCount[i]) << i;
        EXPECT_EQ(a.records[i].nameField, items[i].name);
    }
    ASSERT_EQ(a.img.size(), 4u * 2048);
    EXPECT_EQ(a.img[0], 0x11);
    EXPECT_EQ(a.img[1], 0);  // padding
    EXPECT_EQ(a.img[2048], 0x22);
    EXPECT_EQ(a.img[4095], 0x22);
    EXPECT_EQ(a.img[4096 + 2048], 0x33);
    EXPECT_EQ(a.img[4096 + 2049], 0);
    EXPECT_EQ(a.dir, buildDirectoryBytes(a.records));

    EXPECT_EQ(errorOf([] {
                  buildArchive({{std::string(25, 'n'), {}}});
              }),
              "Entry name longer than 24 bytes: " + std::string(25, 'n'));
    EXPECT_EQ(errorOf([] { buildArchive({{std::string("a\0b", 3), {}}}); }), "Entry name holds a NUL byte");
}

TEST(ArchiveWriter, WrittenArchiveReadsBack)
{
    ScratchDir dir;
    const std::vector<ArchiveItem> items = {
        {"Tex.TXD", buildTextureDictionary(threeKindsDictionary())},
        {"model.dff", std::vector<uint8_t>(5000, 0x5A)},
        {std::string(24, 'L'), {1, 2, 3}},
    };
    writeArchive(dir.file("pack.dir"), dir.file("pack.img"), items);

    const auto entries = readArchiveDirectory(dir.file("pack.dir"));
    const auto img = readBytes(locateDataFile(dir.file("pack.dir")));
    ASSERT_EQ(entries.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(entries[i].name, items[i].name);
        EXPECT_EQ(entries[i].offset % 2048, 0);
        ASSERT_GE(entries[i].size, static_cast<int64_t>(items[i].data.size()));
        ASSERT_LE(entries[i].offset + entries[i].size, static_cast<int64_t>(img.size()));
        EXPECT_TRUE(std::equal(items[i].data.begin(), items[i].data.end(), img.begin() + entries[i].offset)) << i;
    }
    // No temporary files are left beside the archive.
    size_t files = 0;
    for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 2u);
}

TEST(ArchiveWriter, FailedWriteLeavesNothingBehind)
{
    ScratchDir dir;
    const std::string path = dir.file("no/such/folder/x.img");
    try {
        writeFileBytes(path, {1, 2, 3});
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.message(), "Cannot create file " + path);
    }

    // A path that cannot be replaced by the finished file (here a folder):
    // the error, and the temporary file is gone.
    std::filesystem::create_directory(dir.file("blocker.img"));
    EXPECT_THROW(writeFileBytes(dir.file("blocker.img"), {1}), EFCreateError);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("blocker.img")));
    size_t left = 0;
    for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(dir.path()))
        ++left;
    EXPECT_EQ(left, 1u) << "only the folder itself may remain";
}
