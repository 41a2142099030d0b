// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool and the user's archive: imports cut off at any moment are
// undone by the next command, textures stay inside their entry, names are
// printed as data, links inside an output folder are never followed, and a
// signal leaves no temporary file behind.
#include "formats/archive_writer.h"
#include "support/archive_builder.h"
#include "support/journal_fixture.h"
#include "support/kill_loop.h"
#include "support/tga_builder.h"
#include "support/tool_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using namespace archive_fixture;
using journal_fixture::journalBytes;

namespace {

std::vector<uint8_t> slice(const std::vector<uint8_t>& v, size_t at, size_t count)
{
    return std::vector<uint8_t>(v.begin() + long(at), v.begin() + long(at + count));
}

// Files under `folder` (recursively) whose name holds ".qx-": temporaries.
std::vector<std::string> temporariesIn(const std::string& folder)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& f : fs::recursive_directory_iterator(folder, ec))
        if (f.path().filename().string().find(".qx-") != std::string::npos)
            found.push_back(f.path().string());
    return found;
}

size_t entriesIn(const std::string& folder)
{
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class ArchiveSafety : public testing::Test {
protected:
    ScratchDir dir{"qx_safety"};
};

}  // namespace

TEST_F(ArchiveSafety, EveryCommandThatOpensTheArchiveUndoesAnImportCutOff)
{
    // A 4 x 4 32-bit texture; an import cut off after a third of its bytes.
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 4, 4, std::vector<Rgba>(16, Rgba{10, 20, 30, 40})));
    const std::vector<uint8_t> before = buildTextureDictionary(d);
    const int64_t at = 28 + 112;
    const size_t length = 4 + 64;
    const std::vector<uint8_t> old = slice(before, at, length);
    std::vector<uint8_t> fresh = old;
    for (size_t i = 4; i < fresh.size(); ++i)
        fresh[i] = uint8_t(200 + i);
    std::vector<uint8_t> torn = before;
    std::copy(fresh.begin(), fresh.begin() + 30, torn.begin() + at);
    const std::string picture = dir.file("p.tga");
    writeBytes(picture, tga_fixture::makeTga(2, 24, 4, 4, std::vector<uint8_t>(48, 0x80)).bytes());

    const std::string txd = dir.file("t.txd");
    const std::string out = dir.file("out");
    const std::vector<std::vector<std::string>> commands = {
        {"list", txd},
        {"textures", txd, "1"},
        {"export", txd, "1", "1", out + ".tga"},
        {"export-all", txd, out},
        {"extract", txd, "1", out + ".raw"},
        {"extract-all", txd, out + "-raw"},
        {"import", txd, "1", "1", picture},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0]);
        writeBytes(txd, torn);
        writeBytes(txd + ".quarnix-journal", journalBytes(at, old, fresh, int64_t(before.size())));
        const ToolRun r = runQuarnixTool(command);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
                  "An interrupted import was undone: texture bytes at offset 140 restored\n");
        EXPECT_FALSE(fs::exists(txd + ".quarnix-journal"));
        if (command[0] != "import") {
            EXPECT_EQ(readBytes(txd), before);
        }
        // What the command read was the restored texture, never the torn one.
        if (command[0] == "extract") {
            EXPECT_EQ(readBytes(out + ".raw"), before);
        }
        // Told once: the next command has nothing to say.
        const ToolRun again = runQuarnixTool({"textures", txd, "1"});
        EXPECT_EQ(again.err, "");
    }
}

TEST_F(ArchiveSafety, AnEntryWhoseSizeIsSmallerThanItsDictionaryHidesTheTexturesBeyond)
{
    // The dictionary of entry 1 takes 2 sectors, but the directory gives it
    // one: its texture's texels lie in the bytes of entry 2.
    TextureDictionary d;
    d.textures.push_back(makeTexture32("spill", "", 24, 24, std::vector<Rgba>(576, Rgba{1, 2, 3, 4})));
    std::vector<uint8_t> img = buildTextureDictionary(d);
    ASSERT_GT(img.size(), 2048u);
    ASSERT_LT(img.size(), 4096u);
    img.resize(3 * 2048, 0x5A);
    writeBytes(dir.file("a.img"), img);
    writeBytes(dir.file("a.dir"), buildDirectoryBytes({{0, 1, "short.txd"}, {2, 1, "next.dff"}, {0, 0, "empty.txd"}}));
    const std::string picture = dir.file("p.tga");
    writeBytes(picture, tga_fixture::makeTga(2, 24, 24, 24, std::vector<uint8_t>(24 * 24 * 3, 0x80)).bytes());

    ToolRun r = runQuarnixTool({"textures", dir.file("a.dir"), "short.txd"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Pos\tName\tDesc\tSize\tType\tDimensions\tImagePos\n1\tspill\t\t\t\t24x24\t\n");
    r = runQuarnixTool({"import", dir.file("a.dir"), "short.txd", "spill", picture});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(readBytes(dir.file("a.img")), img);
    r = runQuarnixTool({"export", dir.file("a.dir"), "short.txd", "spill", dir.file("x.tga")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir.file("x.tga")));
    // An entry of Size 0 lists nothing.
    r = runQuarnixTool({"textures", dir.file("a.dir"), "empty.txd"});
    EXPECT_EQ(r.out, "Pos\tName\tDesc\tSize\tType\tDimensions\tImagePos\n");

    // The same dictionary given its full two sectors lists and takes the import.
    writeBytes(dir.file("a.dir"), buildDirectoryBytes({{0, 2, "short.txd"}, {2, 1, "next.dff"}}));
    r = runQuarnixTool({"import", dir.file("a.dir"), "short.txd", "spill", picture});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(slice(readBytes(dir.file("a.img")), 4096, 2048), slice(img, 4096, 2048));
}

TEST_F(ArchiveSafety, NamesAreEscapedSoTheyCanForgeNoRowAndSendNoCommand)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("red\x1b[31m\\", "m\r", 2, 2, std::vector<Rgba>(4)));
    writeArchive(dir.file("e.dir"), dir.file("e.img"),
                 {{"q\n1\t0\t9\tEVIL.txd", buildTextureDictionary(d)}, {"plain.dff", {1, 2, 3}}});
    ToolRun r = runQuarnixTool({"list", dir.file("e.dir")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Pos\tFPos\tSize\tName\n1\t0\t2048\tq\\n1\\t0\\t9\\tEVIL.txd\n2\t2048\t2048\tplain.dff\n");
    r = runQuarnixTool({"textures", dir.file("e.dir"), "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Pos\tName\tDesc\tSize\tType\tDimensions\tImagePos\n"
                     "1\tred\\x1b[31m\\\\\tm\\r\t16\t32bit\t2x2\t140\n");
    // In messages too.
    r = runQuarnixTool({"export", dir.file("e.dir"), "1", "no\x1b]0;x\x07", dir.file("o.tga")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "No texture 'no\\x1b]0;x\\x07' in entry 'q\\n1\\t0\\t9\\tEVIL.txd'\n");
    r = runQuarnixTool({"textures", dir.file("e.dir"), "bad\tname"});
    EXPECT_EQ(r.err, "No entry 'bad\\tname' in " + dir.file("e.dir") + ".\n");
}

TEST_F(ArchiveSafety, LinksInsideTheOutputFolderAreNeverFollowed)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("t", "", 2, 2, std::vector<Rgba>(4)));
    d.textures.push_back(makeTexture32("u", "", 2, 2, std::vector<Rgba>(4)));
    writeArchive(dir.file("l.dir"), dir.file("l.img"), {{"x.txd", buildTextureDictionary(d)}});
    fs::create_directories(dir.file("victim"));
    writeBytes(dir.file("victim-file"), {7, 7, 7});

    const std::string out = dir.file("out");
    fs::create_directories(out);
    fs::create_directory_symlink("../victim", out + "/x.txd");
    ToolRun r = runQuarnixTool({"export-all", dir.file("l.dir"), out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "0 of 2 textures written; stopped: not writing into " + out + "/x.txd: it is a symbolic link\n");
    EXPECT_EQ(entriesIn(dir.file("victim")), 0u);

    const std::string raw = dir.file("raw");
    fs::create_directories(raw);
    fs::create_symlink("../victim-file", raw + "/x.txd");
    r = runQuarnixTool({"extract-all", dir.file("l.dir"), raw});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "0 of 1 entry written; stopped: not writing " + raw + "/x.txd: it is a symbolic link\n");
    EXPECT_EQ(readBytes(dir.file("victim-file")), (std::vector<uint8_t>{7, 7, 7}));
    EXPECT_TRUE(fs::is_symlink(raw + "/x.txd"));
}

TEST_F(ArchiveSafety, ReservedNamesGetASafeFormOnDisk)
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("CON", "", 2, 2, std::vector<Rgba>(4)));
    d.textures.push_back(makeTexture32("lpt1.x", "", 2, 2, std::vector<Rgba>(4)));
    d.textures.push_back(makeTexture32("end.", "", 2, 2, std::vector<Rgba>(4)));
    writeArchive(dir.file("w.dir"), dir.file("w.img"),
                 {{"aux.txd", buildTextureDictionary(d)}, {"nul", {1}}, {"b ", {2}}});
    ToolRun r = runQuarnixTool({"export-all", dir.file("w.dir"), dir.file("out")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"aux_.txd/CON_.tga", "aux_.txd/lpt1_.x.tga", "aux_.txd/end..tga"})
        EXPECT_TRUE(fs::is_regular_file(dir.file("out/") + name)) << name;
    r = runQuarnixTool({"extract-all", dir.file("w.dir"), dir.file("raw")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"aux_.txd", "nul_", "b _"})
        EXPECT_TRUE(fs::is_regular_file(dir.file("raw/") + name)) << name;
}

TEST_F(ArchiveSafety, ASignalLeavesNoTemporaryFileBehind)
{
    // Big enough that each file takes a while to write.
    TextureDictionary d;
    for (int i = 0; i < 6; ++i)
        d.textures.push_back(makeTexture32("t" + std::to_string(i), "", 1024, 1024,
                                           std::vector<Rgba>(1024 * 1024, Rgba{uint8_t(i), 2, 3, 4})));
    writeArchive(dir.file("s.dir"), dir.file("s.img"), {{"s.txd", buildTextureDictionary(d)}});
    const std::string picture = dir.file("p.tga");
    writeBytes(picture, tga_fixture::makeTga(2, 24, 256, 256, tga_fixture::patternPixels(256 * 256, 3)).bytes());
    const std::string out = dir.file("out");
    const std::vector<std::vector<std::string>> commands = {
        {"export-all", dir.file("s.dir"), out},
        {"extract-all", dir.file("s.dir"), out},
        {"extract", dir.file("s.dir"), "1", out + "/one.txd"},
        {"export", dir.file("s.dir"), "1", "t5", out + "/one.tga"},
        {"convert", picture, out + "/c.tga", "--size", "2048x2048"},
    };
    int stoppedBySignal = 0;
    for (const auto& command : commands) {
        for (int signal : {SIGINT, SIGTERM}) {
            for (int delayMs : {30, 80, 160}) {
                SCOPED_TRACE(command[0] + " " + std::to_string(signal) + " " + std::to_string(delayMs));
                fs::remove_all(out);
                fs::create_directories(out);
                RunningTool tool(command);
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                tool.signal(signal);
                const int status = tool.wait();
                if (WIFSIGNALED(status)) {
                    EXPECT_EQ(WTERMSIG(status), signal);  // ended as the signal would have
                    ++stoppedBySignal;
                }
                EXPECT_EQ(temporariesIn(out), std::vector<std::string>{});
            }
        }
    }
    EXPECT_GT(stoppedBySignal, 0) << "no run was cut off: nothing was shown";
}

TEST_F(ArchiveSafety, AnImportKilledAtAnyMomentLeavesTheOldOrTheNewTexture)
{
    KillLoop loop(dir.path());
    const KillLoopCounts c = loop.run(9, 20240515u);
    EXPECT_EQ(c.tries, 9);
    EXPECT_EQ(c.torn, 0);
    EXPECT_EQ(c.old + c.fresh, c.tries);
    EXPECT_EQ(c.listFailed, 0);
    EXPECT_EQ(c.journalsLeft, 0);
    EXPECT_GT(c.atFirstByte, 0) << "no kill landed inside the write";
    // Some kill landed while the journal protected the write, so the listing
    // had a journal to recover from (whether the bytes still needed undoing
    // depends on how far the write had come).
    EXPECT_GE(c.journalled, 1);
}

TEST_F(ArchiveSafety, ABulkCommandStoppedByCtrlCSaysHowFarItGot)
{
    // 40 entries of 2 MiB: each takes a moment to write.
    std::vector<ArchiveItem> items;
    for (int i = 0; i < 40; ++i)
        items.push_back({"e" + std::to_string(i) + ".dff", std::vector<uint8_t>(2 << 20, uint8_t(i))});
    writeArchive(dir.file("b.dir"), dir.file("b.img"), items);
    const std::string out = dir.file("out"), err = dir.file("err.txt");
    RunningTool tool({"extract-all", dir.file("b.dir"), out}, err);
    // Once some entries are out, Ctrl+C.
    while (!tool.finished()) {
        std::error_code ec;
        if (fs::exists(out + "/e1.dff", ec))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    tool.signal(SIGINT);
    const int status = tool.wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal came";
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    const std::vector<uint8_t> said = readBytes(err);
    const std::string text(said.begin(), said.end());
    const size_t of = text.find(" of 40 entries written; interrupted\n");
    ASSERT_NE(of, std::string::npos) << text;
    EXPECT_GE(std::stoi(text.substr(0, of)), 1) << text;
}
