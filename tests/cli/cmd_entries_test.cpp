// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool's archive edits and the VER2 flavour from the command line:
// exit codes and the one line each edit ends with, refusals that change
// nothing, every command on a VER2 archive, data files opened through their
// .dir, and a bounded kill loop over the edits of both flavours.
#include "formats/archive_writer.h"
#include "formats/texture_dictionary_writer.h"
#include "support/archive_builder.h"
#include "support/edit_kill_loop.h"
#include "support/tool_runner.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using archive_fixture::noiseBytes;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

// A dictionary of one 2 x 2 32-bit texture named "t".
std::vector<uint8_t> smallDictionary()
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 2, 2, std::vector<Rgba>(4, Rgba{1, 2, 3, 255})));
    return buildTextureDictionary(d);
}

}  // namespace

TEST(EntryCommands, EachEditEndsWithALineOfWhatItDid)
{
    ScratchDir dir{"qx_cmd_entries"};
    const std::string archive = dir.file("m.dir");
    writeArchive(archive, dir.file("m.img"), {{"a.dff", noiseBytes(100, 1)}});
    writeBytes(dir.file("b.dff"), noiseBytes(3000, 2));
    writeBytes(dir.file("c.txd"), smallDictionary());
    struct Step {
        std::vector<std::string> args;
        const char* err;
        const char* list;  // the listing's rows afterwards
    };
    const std::vector<Step> steps = {
        {{"add", archive, dir.file("b.dff"), dir.file("c.txd")},
         "2 entries added\n",
         "1\t0\t2048\ta.dff\n2\t2048\t4096\tb.dff\n3\t6144\t2048\tc.txd\n"},
        {{"rename", archive, "a.dff", "z.dff"},
         "1 entry renamed\n",
         "1\t0\t2048\tz.dff\n2\t2048\t4096\tb.dff\n3\t6144\t2048\tc.txd\n"},
        {{"replace", archive, "1", dir.file("b.dff")},
         "1 entry replaced\n",
         "1\t8192\t4096\tz.dff\n2\t2048\t4096\tb.dff\n3\t6144\t2048\tc.txd\n"},
        {{"remove", archive, "b.dff"}, "1 entry removed\n", "1\t8192\t4096\tz.dff\n2\t6144\t2048\tc.txd\n"},
        {{"rebuild", archive},
         "archive rebuilt: 2 entries, 6144 data bytes (6144 fewer)\n",
         "1\t0\t4096\tz.dff\n2\t4096\t2048\tc.txd\n"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.args[0]);
        const ToolRun r = runQuarnixTool(s.args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, s.err);
        EXPECT_EQ(r.out, "");
        const ToolRun list = runQuarnixTool({"list", archive});
        EXPECT_EQ(list.out, std::string("Pos\tFPos\tSize\tName\n") + s.list);
    }
    // The dictionary added is read as any other.
    const ToolRun textures = runQuarnixTool({"textures", archive, "c.txd"});
    EXPECT_EQ(textures.exitCode, 0) << textures.err;
    EXPECT_NE(textures.out.find("\tt\t"), std::string::npos) << textures.out;
    EXPECT_EQ(runQuarnixTool({"info", archive}).out,
              "flavour: archive directory\nentries: 2\ndata bytes: 6144\nbytes in gaps: 0\n"
              "entries outside the data: 0\n");
}

TEST(EntryCommands, RefusalsExitWithOneAndChangeNothingUsageErrorsWithTwo)
{
    ScratchDir dir{"qx_cmd_refusals"};
    const std::string archive = dir.file("m.dir");
    writeArchive(archive, dir.file("m.img"), {{"a.dff", noiseBytes(100, 1)}, {"b.dff", noiseBytes(100, 2)}});
    writeBytes(dir.file("A.DFF"), noiseBytes(10, 3));
    const std::vector<uint8_t> dirBefore = readBytes(archive), imgBefore = readBytes(dir.file("m.img"));
    struct Case {
        std::vector<std::string> args;
        int exit;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"add", archive, dir.file("A.DFF")}, 1, "exists already"},
        {{"add", archive, dir.file("missing")}, 1, "missing"},
        {{"remove", archive, "a.dff", "nothing"}, 1, "No entry 'nothing'"},
        {{"rename", archive, "a.dff", "B.DFF"}, 1, "exists already"},
        {{"rename", archive, "a.dff", std::string(24, 'x')}, 1, "longer than 23"},
        {{"replace", archive, "zzz", dir.file("A.DFF")}, 1, "No entry 'zzz'"},
        {{"remove", archive}, 2, "missing arguments"},
        {{"rename", archive, "a.dff"}, 2, "missing arguments"},
        {{"rename", archive, "a.dff", "x", "y"}, 2, "too many arguments"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const ToolRun r = runQuarnixTool(c.args);
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(readBytes(archive), dirBefore);
        EXPECT_EQ(readBytes(dir.file("m.img")), imgBefore);
    }
}

TEST(EntryCommands, AVer2ArchiveOpensForEveryCommand)
{
    ScratchDir dir{"qx_cmd_ver2"};
    const std::string archive = dir.file("v.img");
    writeBytes(archive, buildVer2Archive({{"a.dff", noiseBytes(3000, 1)}, {"d.txd", smallDictionary()}}));
    const ToolRun list = runQuarnixTool({"list", archive});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.out, "Pos\tFPos\tSize\tName\n1\t2048\t4096\ta.dff\n2\t6144\t2048\td.txd\n");
    const ToolRun textures = runQuarnixTool({"textures", archive, "d.txd"});
    EXPECT_NE(textures.out.find("\tt\t"), std::string::npos) << textures.out;
    EXPECT_EQ(runQuarnixTool({"export", archive, "d.txd", "t", dir.file("t.tga")}).exitCode, 0);
    EXPECT_EQ(readBytes(dir.file("t.tga")).size(), 18u + 16);
    ASSERT_EQ(runQuarnixTool({"extract", archive, "a.dff", dir.file("a.out")}).exitCode, 0);
    std::vector<uint8_t> a = noiseBytes(3000, 1);
    a.resize(4096, 0);
    EXPECT_EQ(readBytes(dir.file("a.out")), a);
    EXPECT_EQ(runQuarnixTool({"info", archive}).out,
              "flavour: VER2 archive\nentries: 2\ndata bytes: 8192\nbytes in gaps: 0\nentries outside the data: 0\n");
}

TEST(EntryCommands, ADataFileOpensThroughItsDirectoryOrIsRefused)
{
    ScratchDir dir{"qx_cmd_data_file"};
    writeArchive(dir.file("m.DIR"), dir.file("m.img"), {{"a.dff", noiseBytes(10, 1)}});
    const ToolRun viaImg = runQuarnixTool({"list", dir.file("m.img")});
    EXPECT_EQ(viaImg.exitCode, 0) << viaImg.err;
    EXPECT_EQ(viaImg.out, "Pos\tFPos\tSize\tName\n1\t0\t2048\ta.dff\n");
    writeBytes(dir.file("lone.img"), noiseBytes(4096, 2));
    const ToolRun lone = runQuarnixTool({"list", dir.file("lone.img")});
    EXPECT_EQ(lone.exitCode, 1);
    EXPECT_NE(lone.err.find("no .dir beside it"), std::string::npos) << lone.err;
    EXPECT_EQ(lone.out, "");
}

TEST(EntryCommands, NewMakesEitherFlavourAndNeverReplacesOne)
{
    ScratchDir dir{"qx_cmd_new"};
    writeBytes(dir.file("x.dff"), noiseBytes(10, 1));
    ToolRun r = runQuarnixTool({"new", dir.file("n.img"), dir.file("x.dff")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "VER2 archive made, 1 entry added\n");
    EXPECT_EQ(runQuarnixTool({"list", dir.file("n.img")}).out, "Pos\tFPos\tSize\tName\n1\t2048\t2048\tx.dff\n");
    r = runQuarnixTool({"new", dir.file("n.dir")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("n.dir")));
}

TEST(EntryCommands, AnEditKilledAtAnyMomentLeavesTheOldOrTheNewArchive)
{
    ScratchDir dir{"qx_cmd_kill"};
    for (const EditKillCase& c : editKillCases(dir.path())) {
        SCOPED_TRACE(c.label);
        EditKillLoop loop(dir.path(), c);
        const EditKillCounts counts = loop.run(3, 11u);
        EXPECT_EQ(counts.tries, 3);
        EXPECT_EQ(counts.torn, 0);
        EXPECT_EQ(counts.listFailed, 0) << counts.firstFailure;
        EXPECT_EQ(counts.journalsLeft, 0);
        EXPECT_EQ(counts.old + counts.fresh, 3);
    }
}

TEST(EntryCommands, UndoAndRedoOfAnImportGiveTheBytesBackExactly)
{
    ScratchDir dir{"qx_cmd_undo"};
    const std::string txd = dir.file("u.txd");
    writeBytes(txd, smallDictionary());
    const std::vector<uint8_t> before = readBytes(txd);
    // A 2 x 2 24-bit TGA, all one colour.
    std::vector<uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};
    for (int i = 0; i < 4; ++i)
        tga.insert(tga.end(), {200, 100, 50});
    writeBytes(dir.file("p.tga"), tga);
    ASSERT_EQ(runQuarnixTool({"import", txd, "1", "t", dir.file("p.tga")}).exitCode, 0);
    const std::vector<uint8_t> after = readBytes(txd);
    ASSERT_NE(after, before);
    const ToolRun list = runQuarnixTool({"undo", txd, "--list"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    ASSERT_GE(list.out.size(), 21u);
    EXPECT_EQ(list.out.substr(19), "  import of t\n");
    ToolRun r = runQuarnixTool({"undo", txd});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "Undid import of t\n");
    EXPECT_EQ(readBytes(txd), before);
    r = runQuarnixTool({"undo", txd});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("nothing to undo"), std::string::npos) << r.err;
    r = runQuarnixTool({"redo", txd});
    EXPECT_EQ(r.err, "Redid import of t\n");
    EXPECT_EQ(readBytes(txd), after);
}
