// SPDX-License-Identifier: GPL-2.0-or-later
// The sample archive, and `quarnix-tool list` / `quarnix-tool sample` run as
// the built executable that sits next to this test program.
#include "formats/archive_directory.h"
#include "formats/archive_sample.h"
#include "formats/texture_dictionary.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/tool_runner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;
using namespace archive_fixture;

namespace {

using RunResult = ToolRun;

RunResult runTool(const ScratchDir&, const std::vector<std::string>& args)
{
    return runQuarnixTool(args);
}

class QuarnixTool : public testing::Test {
protected:
    ScratchDir scratch{"qx_tool"};
};

std::string header()
{
    return "Pos\tFPos\tSize\tName\n";
}

}  // namespace

TEST(SampleArchive, HoldsEveryTextureKindInSeveralSizes)
{
    std::set<uint32_t> kinds;
    std::set<std::pair<int, int>> sizes;
    auto check = [&](const TextureDictionary& d) {
        for (const TextureRecord& t : d.textures) {
            kinds.insert(t.kind);
            sizes.insert({t.width, t.height});
            const size_t bytesPerPixel = static_cast<size_t>(TxdLayout::bitsOfKind(t.kind) / 8);
            EXPECT_EQ(t.texels.size(), size_t{t.width} * t.height * bytesPerPixel) << t.name;
            // A picture, not a flat fill.
            EXPECT_GT(std::set<uint8_t>(t.texels.begin(), t.texels.end()).size(), 2u) << t.name;
        }
    };
    const auto items = archive_sample::sampleArchiveItems();
    for (const auto& [name, dict] : archive_sample::sampleArchiveDictionaries()) {
        check(dict);
        // The archive holds exactly these bytes under that name.
        auto it = std::find_if(items.begin(), items.end(),
                               [&wanted = name](const ArchiveItem& i) { return i.name == wanted; });
        ASSERT_NE(it, items.end()) << name;
        EXPECT_EQ(it->data, buildTextureDictionary(dict)) << name;
    }
    check(archive_sample::sampleStandaloneDictionary());
    EXPECT_EQ(kinds, (std::set<uint32_t>{0x40108, 0x40110, 0x40120}));
    EXPECT_TRUE(sizes.count({16, 16}) && sizes.count({256, 128}));
    EXPECT_TRUE(std::any_of(sizes.begin(), sizes.end(), [](auto s) { return s.first < s.second; }));

    size_t dictionaries = 0, others = 0;
    for (const ArchiveItem& i : items)
        ++(namesTextureDictionary(i.name) ? dictionaries : others);
    EXPECT_GE(dictionaries, 3u);
    EXPECT_GE(others, 2u);
}

TEST(SampleArchive, ItsSectionedDictionaryHoldsEveryLayoutSeveralWithMipLevels)
{
    const auto items = archive_sample::sampleArchiveItems();
    ASSERT_EQ(items.back().name, archive_sample::kSampleSectionedName);
    EXPECT_EQ(items.back().data, buildSectionedDictionary(archive_sample::sampleSectionedDictionary()));
    TReadOnlyMemoryStream s(items.back().data.data(), int64_t(items.back().data.size()));
    const auto listing = readTextureDictionary(s, 0, s.Size());
    EXPECT_EQ(listing.end, TextureListEnd::Complete);
    std::set<std::string> types;
    int mipMapped = 0;
    bool dxt1Alpha = false, dxt1Opaque = false;
    for (const TextureRow& r : listing.rows) {
        EXPECT_TRUE(r.hasData) << r.name;
        types.insert(r.type);
        mipMapped += r.layout.levels > 1;
        if (r.layout.format == TexelFormat::Dxt1)
            (r.layout.dxt1Alpha ? dxt1Alpha : dxt1Opaque) = true;
    }
    EXPECT_EQ(types, (std::set<std::string>{"8bit paletted", "32bit", "24bit", "16bit 1555", "16bit 565", "16bit 4444",
                                            "16bit 555", "8bit grey", "DXT1", "DXT3", "DXT5"}));
    EXPECT_GE(mipMapped, 3);
    EXPECT_TRUE(dxt1Alpha && dxt1Opaque);
}

TEST_F(QuarnixTool, SampleWritesDeterministicFilesThatListReads)
{
    const std::string a = scratch.file("new/sub"), b = scratch.file("again");
    const RunResult first = runTool(scratch, {"sample", a});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, a + "/sample.dir\n" + a + "/sample.img\n" + a + "/sample.txd\n");
    ASSERT_EQ(runTool(scratch, {"sample", b}).exitCode, 0);
    for (const char* f : {"sample.dir", "sample.img", "sample.txd"})
        EXPECT_EQ(readBytes(a + "/" + f), readBytes(b + "/" + f)) << f;

    const BuiltArchive expected = buildArchive(archive_sample::sampleArchiveItems());
    EXPECT_EQ(readBytes(a + "/sample.dir"), expected.dir);
    EXPECT_EQ(readBytes(a + "/sample.img"), expected.img);
    const auto txd = buildTextureDictionary(archive_sample::sampleStandaloneDictionary());
    EXPECT_EQ(readBytes(a + "/sample.txd"), txd);

    const RunResult list = runTool(scratch, {"list", a + "/sample.dir"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.err, "");
    std::string want = header();
    for (size_t i = 0; i < expected.records.size(); ++i) {
        const auto& r = expected.records[i];
        want += std::to_string(i + 1) + "\t" + std::to_string(int64_t{r.sectorPos} * 2048) + "\t"
                + std::to_string(int64_t{r.sectorCount} * 2048) + "\t" + r.nameField + "\n";
    }
    EXPECT_EQ(list.out, want);

    const RunResult single = runTool(scratch, {"list", a + "/sample.txd"});
    EXPECT_EQ(single.exitCode, 0);
    EXPECT_EQ(single.out, header() + "1\t0\t" + std::to_string(txd.size()) + "\tsample.txd\n");
}

TEST_F(QuarnixTool, ListConvertsNamesAndKeepsLargeOffsets)
{
    auto records = oddNameRecords();
    records.push_back({0xFFFFFFFF, 0x100000, "far.dff"});
    const std::string path = scratch.file("ODD.DIR");
    auto bytes = buildDirectoryBytes(records);
    bytes.insert(bytes.end(), {1, 2, 3});  // trailing bytes, no record
    writeBytes(path, bytes);

    const RunResult r = runTool(scratch, {"list", path});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, header()
                         + "1\t2048\t2048\tplain.dff\n"
                           "2\t4096\t2048\t"
                         + oddName24()
                         + "\n"
                           "3\t6144\t2048\t\n"
                           "4\t8192\t2048\tabc\n"
                           "5\t10240\t2048\t\xC5\xA0\xC4\x8Dko.txd\n"
                           "6\t8796093020160\t2147483648\tfar.dff\n");
}

TEST_F(QuarnixTool, ErrorsAndUsage)
{
    const std::string missing = scratch.file("missing.dir");
    RunResult r = runTool(scratch, {"list", missing});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open " + missing + ": " + std::strerror(ENOENT) + ".\n");

    const std::string missingTxd = scratch.file("Missing.TXD");
    r = runTool(scratch, {"list", missingTxd});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "cannot open " + missingTxd + ": " + std::strerror(ENOENT) + ".\n");

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"list"}, {"list", "a.dir", "b.dir"}, {"sample"}, {"sample", "x", "y"}}) {
        r = runTool(scratch, args);
        EXPECT_EQ(r.exitCode, 2) << args.size();
        EXPECT_NE(r.err.find("Usage: quarnix-tool " + args[0]), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }

    // A folder that cannot be made: a file is in the way.
    writeBytes(scratch.file("plainfile"), {1});
    r = runTool(scratch, {"sample", scratch.file("plainfile")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err, "");
    r = runTool(scratch, {"sample", scratch.file("plainfile/inner")});
    EXPECT_EQ(r.exitCode, 1);
}
