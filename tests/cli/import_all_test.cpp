// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool import-all and import over the layouts of a sectioned
// dictionary: the round trip with export-all, edited pictures written into
// every level, alpha kept, and refusals that write nothing.
#include "formats/archive_directory.h"
#include "formats/archive_sample.h"
#include "formats/sectioned_dictionary_writer.h"
#include "formats/texel_layout.h"
#include "formats/texture_dictionary_writer.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"
#include "support/tool_runner.h"
#include "texture/texture_tga.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using archive_fixture::noiseBytes;
using archive_fixture::ScratchDir;

namespace {

std::vector<uint8_t> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

const TexelFormat kFormats[] = {TexelFormat::Paletted8, TexelFormat::Bgra8888, TexelFormat::Bgrx888,
                                TexelFormat::Argb1555,  TexelFormat::Rgb555,   TexelFormat::Rgb565,
                                TexelFormat::Argb4444,  TexelFormat::Lum8,     TexelFormat::Dxt1,
                                TexelFormat::Dxt3,      TexelFormat::Dxt5};

std::string nameOf(TexelFormat f)
{
    std::string n = std::string("t_") + texelFormatTypeName(f);
    for (char& c : n)
        if (c == ' ')
            c = '_';
    return n;
}

// A 32-bit TGA, first row at the top, of width x height B, G, R, A pixels.
std::vector<uint8_t> tga32(int w, int h, const std::vector<uint8_t>& bgra)
{
    std::vector<uint8_t> t(18, 0);
    t[2] = 2;
    t[12] = uint8_t(w);
    t[13] = uint8_t(w >> 8);
    t[14] = uint8_t(h);
    t[15] = uint8_t(h >> 8);
    t[16] = 32;
    t[17] = 0x28;
    t.insert(t.end(), bgra.begin(), bgra.end());
    return t;
}

// 8 x 8 pixels: colour `left` on the left half, `right` on the right half.
std::vector<uint8_t> halves(std::array<uint8_t, 4> left, std::array<uint8_t, 4> right)
{
    std::vector<uint8_t> bgra;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            for (int c = 0; c < 4; ++c)
                bgra.push_back(x < 4 ? left[c] : right[c]);
    return bgra;
}

class ImportAll : public testing::Test {
protected:
    void SetUp() override
    {
        SectionedDictionary d;
        for (TexelFormat f : kFormats)
            d.textures.push_back(texel_cases::mipTexture(nameOf(f), f, 8, 8, 4, f == TexelFormat::Rgb555 ? 8 : 9));
        writeAll(txd(), buildSectionedDictionary(d, &written));
        original = readAll(txd());
    }
    std::string txd() const { return dir.file("real.txd"); }
    std::string out() const { return dir.file("out"); }
    std::string picture(TexelFormat f, const char* ext) const { return out() + "/real.txd/" + nameOf(f) + ext; }
    // The bytes from a texture's ImagePos to the end of its last level.
    std::pair<size_t, size_t> span(TexelFormat f) const
    {
        const size_t i = size_t(std::find(std::begin(kFormats), std::end(kFormats), f) - std::begin(kFormats));
        TexelLayout layout;
        layout.format = f;
        layout.width = layout.height = 8;
        layout.levels = 4;
        return {size_t(written[i].imagePos), size_t(written[i].imagePos + texelDataBytes(layout))};
    }
    // Every byte outside the texture's span is as it was.
    void expectOnlyChanged(TexelFormat f, const std::vector<uint8_t>& now) const
    {
        ASSERT_EQ(now.size(), original.size());
        const auto [from, to] = span(f);
        EXPECT_TRUE(std::equal(now.begin(), now.begin() + std::ptrdiff_t(from), original.begin()));
        EXPECT_TRUE(std::equal(now.begin() + std::ptrdiff_t(to), now.end(), original.begin() + std::ptrdiff_t(to)));
        EXPECT_FALSE(std::equal(now.begin() + std::ptrdiff_t(from), now.begin() + std::ptrdiff_t(to),
                                original.begin() + std::ptrdiff_t(from)));
    }
    ScratchDir dir{"qx_import_all"};
    std::vector<WrittenSectionedTexture> written;
    std::vector<uint8_t> original;
};

TEST_F(ImportAll, AnUneditedExportImportedBackLeavesEveryByte)
{
    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    for (const bool exact : {true, false}) {
        std::vector<std::string> args = {"import-all", txd(), out()};
        if (exact)
            args.push_back("--exact");
        const ToolRun r = runQuarnixTool(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "0 textures imported, 11 unchanged, 0 skipped\n");
        EXPECT_EQ(readAll(txd()), original);
    }
}

TEST_F(ImportAll, AnEditedTrueColourPictureIsWrittenIntoEveryLevelWithItsAlpha)
{
    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    // Left half (B, G, R, A) = (10, 20, 30, 40), right half (200, 100, 50, 255),
    // as a 32-bit TGA in place of the PNG.
    const std::vector<uint8_t> edited = halves({10, 20, 30, 40}, {200, 100, 50, 255});
    fs::remove(picture(TexelFormat::Bgra8888, ".png"));
    writeAll(picture(TexelFormat::Bgra8888, ".tga"), tga32(8, 8, edited));
    const ToolRun r = runQuarnixTool({"import-all", txd(), out(), "--exact"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "1 texture imported, 10 unchanged, 0 skipped\n");

    const std::vector<uint8_t> now = readAll(txd());
    expectOnlyChanged(TexelFormat::Bgra8888, now);
    size_t at = span(TexelFormat::Bgra8888).first;
    // Level 0: the picture's own pixels, alpha kept; each size field unchanged.
    EXPECT_EQ(std::vector<uint8_t>(now.begin() + std::ptrdiff_t(at), now.begin() + std::ptrdiff_t(at + 4)),
              (std::vector<uint8_t>{0, 1, 0, 0}));  // 256
    EXPECT_EQ(std::vector<uint8_t>(now.begin() + std::ptrdiff_t(at + 4), now.begin() + std::ptrdiff_t(at + 4 + 256)),
              edited);
    at += 4 + 256;
    // Level 1 (4 x 4) and level 2 (2 x 2): the halves stay apart.
    for (const int side : {4, 2}) {
        EXPECT_EQ(now[at], side * side * 4);
        at += 4;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const uint8_t* p = now.data() + at + 4 * size_t(y * side + x);
                const std::vector<uint8_t> want =
                    x < side / 2 ? std::vector<uint8_t>{10, 20, 30, 40} : std::vector<uint8_t>{200, 100, 50, 255};
                EXPECT_EQ(std::vector<uint8_t>(p, p + 4), want) << side << ":" << x << "," << y;
            }
        at += size_t(side * side * 4);
    }
    // Level 3 (1 x 1): the rounded mean of the two halves,
    // ((10+200+1) div 2, (20+100+1) div 2, (30+50+1) div 2, (40+255+1) div 2).
    EXPECT_EQ(std::vector<uint8_t>(now.begin() + std::ptrdiff_t(at + 4), now.begin() + std::ptrdiff_t(at + 8)),
              (std::vector<uint8_t>{105, 60, 40, 148}));

    // Imported again, the picture now equals the texture: nothing is written.
    EXPECT_EQ(runQuarnixTool({"import-all", txd(), out(), "--exact"}).err,
              "0 textures imported, 11 unchanged, 0 skipped\n");
    EXPECT_EQ(readAll(txd()), now);
}

TEST_F(ImportAll, EditedPicturesOfUncompressedLayoutsDecodeToExactlyTheirPixels)
{
    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    // Colours every one of these layouts holds exactly: red 0x84 = 16 of 31,
    // green 0x82 = 32 of 63 (565), blue 0xFF; grey for the grey layout.
    struct Edit {
        TexelFormat format;
        std::array<uint8_t, 4> left, right;
        std::vector<uint8_t> leftTexel, rightTexel;  // from the layout table
    };
    const std::vector<Edit> edits = {
        // 565: red 16 << 11 | green 32 << 5 | blue 31 = 0x841F; black 0.
        {TexelFormat::Rgb565, {0xFF, 0x82, 0x84, 255}, {0, 0, 0, 255}, {0x1F, 0x84}, {0x00, 0x00}},
        // 1555 with alpha: transparent left (alpha 0), opaque right: 0x7FFF, 0x8000.
        {TexelFormat::Argb1555, {0xFF, 0xFF, 0xFF, 0}, {0, 0, 0, 255}, {0xFF, 0x7F}, {0x00, 0x80}},
        // 4444: alpha 0x88 = 8, red 0x11 = 1, green 0x22 = 2, blue 0x33 = 3 -> 0x8123.
        {TexelFormat::Argb4444, {0x33, 0x22, 0x11, 0x88}, {0xFF, 0xFF, 0xFF, 0xFF}, {0x23, 0x81}, {0xFF, 0xFF}},
        // grey 0x40 and 0xC0.
        {TexelFormat::Lum8, {0x40, 0x40, 0x40, 255}, {0xC0, 0xC0, 0xC0, 255}, {0x40}, {0xC0}},
    };
    for (const Edit& e : edits) {
        if (e.format == TexelFormat::Argb4444) {
            // As a PNG with an alpha channel (and an sRGB chunk, so no gamma).
            TextureRef size;
            size.width = size.height = 8;
            writeAll(picture(e.format, ".png"), pngOfTextureTga(tga32(8, 8, halves(e.left, e.right)), size));
            continue;
        }
        fs::remove(picture(e.format, ".png"));
        writeAll(picture(e.format, ".tga"), tga32(8, 8, halves(e.left, e.right)));
    }
    const ToolRun r = runQuarnixTool({"import-all", txd(), out(), "--exact"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "4 textures imported, 7 unchanged, 0 skipped\n");
    const std::vector<uint8_t> now = readAll(txd());
    for (const Edit& e : edits) {
        const size_t texel = e.leftTexel.size();
        const size_t at = span(e.format).first + 4;
        for (int x = 0; x < 8; ++x) {
            const uint8_t* p = now.data() + at + texel * size_t(x);  // first row
            EXPECT_EQ(std::vector<uint8_t>(p, p + texel), x < 4 ? e.leftTexel : e.rightTexel)
                << texelFormatTypeName(e.format) << " x=" << x;
        }
    }
}

TEST_F(ImportAll, APalettedPictureOfFewColoursKeepsThemExactly)
{
    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    fs::remove(picture(TexelFormat::Paletted8, ".png"));
    writeAll(picture(TexelFormat::Paletted8, ".tga"), tga32(8, 8, halves({1, 2, 3, 255}, {251, 252, 253, 255})));
    ASSERT_EQ(runQuarnixTool({"import-all", txd(), out(), "--exact"}).exitCode, 0);
    const std::vector<uint8_t> now = readAll(txd());
    expectOnlyChanged(TexelFormat::Paletted8, now);
    const size_t pal = span(TexelFormat::Paletted8).first;
    const uint8_t* indices = now.data() + pal + 1024 + 4;
    for (int x = 0; x < 8; ++x) {
        const uint8_t* e = now.data() + pal + 4 * indices[x];  // R, G, B, A
        const std::vector<uint8_t> want =
            x < 4 ? std::vector<uint8_t>{3, 2, 1, 255} : std::vector<uint8_t>{253, 252, 251, 255};
        EXPECT_EQ(std::vector<uint8_t>(e, e + 4), want) << x;
    }
}

TEST_F(ImportAll, ABlockCompressedPictureOfExactFlatBlocksComesBackExactly)
{
    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    fs::remove(picture(TexelFormat::Dxt5, ".png"));
    const std::vector<uint8_t> edited = halves({0xFF, 0x00, 0x84, 0x80}, {0x00, 0xFF, 0x00, 0xFF});
    writeAll(picture(TexelFormat::Dxt5, ".tga"), tga32(8, 8, edited));
    ASSERT_EQ(runQuarnixTool({"import-all", txd(), out(), "--exact"}).exitCode, 0);
    expectOnlyChanged(TexelFormat::Dxt5, readAll(txd()));
    // Exported again, level 0 is the edited picture.
    const ToolRun r = runQuarnixTool({"export", txd(), "1", nameOf(TexelFormat::Dxt5), dir.file("back.tga")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> back = readAll(dir.file("back.tga"));
    ASSERT_EQ(back.size(), 18 + edited.size());
    EXPECT_EQ(std::vector<uint8_t>(back.begin() + 18, back.end()), edited);
}

// The bytes of an 8 x 8 DXT1 texture's 4 levels as an import writes them
// from opaque `bgra`: each level its size field and its blocks, each level
// the mean of the one above, block-compressed in `quality`.
std::vector<uint8_t> dxt1Chain(std::vector<uint8_t> bgra, DxtQuality quality)
{
    std::vector<uint8_t> bytes;
    int side = 8;
    for (int k = 0; k < 4; ++k) {
        if (k > 0) {
            bgra = nextMipLevel(bgra.data(), side, side);
            side /= 2;
        }
        TexelLayout layout;
        layout.format = TexelFormat::Dxt1;
        layout.width = layout.height = side;
        std::vector<uint8_t> level(size_t(texelLevelBytes(TexelFormat::Dxt1, side, side)));
        encodeTexelLevel(layout, bgra.data(), side, side, level.data(), quality);
        const uint32_t n = uint32_t(level.size());
        bytes.insert(bytes.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
        bytes.insert(bytes.end(), level.begin(), level.end());
    }
    return bytes;
}

TEST_F(ImportAll, DxtBestWritesTheIterativeClusterFitsBlocksInEveryLevel)
{
    // Noisy opaque pixels, over which the two qualities choose other blocks.
    std::vector<uint8_t> edited;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            edited.insert(edited.end(), {uint8_t((x * 37 + y * 91) ^ (x * y * 13)), uint8_t(x * 29 + y * y * 7),
                                         uint8_t((y * 53) ^ (x * x * 11)), 255});
    const std::vector<uint8_t> best = dxt1Chain(edited, DxtQuality::Best);
    ASSERT_NE(best, dxt1Chain(edited, DxtQuality::Fast));  // else the runs could not tell them apart
    const auto [from, to] = span(TexelFormat::Dxt1);
    ASSERT_EQ(to - from, best.size());

    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    fs::remove(picture(TexelFormat::Dxt1, ".png"));
    const std::string edit = picture(TexelFormat::Dxt1, ".tga");
    writeAll(edit, tga32(8, 8, edited));
    const std::vector<std::vector<std::string>> runs = {
        {"import", txd(), "1", nameOf(TexelFormat::Dxt1), edit, "--exact", "--dxt", "best"},
        {"import-all", txd(), out(), "--exact", "--dxt", "best"},
    };
    for (const std::vector<std::string>& args : runs) {
        SCOPED_TRACE(args[0]);
        writeAll(txd(), original);
        const ToolRun r = runQuarnixTool(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<uint8_t> now = readAll(txd());
        expectOnlyChanged(TexelFormat::Dxt1, now);
        EXPECT_EQ(std::vector<uint8_t>(now.begin() + std::ptrdiff_t(from), now.begin() + std::ptrdiff_t(to)), best);
    }
}

TEST_F(ImportAll, VerboseNamesEachSkippedTextureAndEachPictureOrFolderThatMatchesNothing)
{
    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    // One texture without its picture, one whose picture is no picture.
    fs::remove(picture(TexelFormat::Rgb565, ".png"));
    writeAll(picture(TexelFormat::Dxt5, ".png"), {0x89, 'P', 'N', 'G', 1, 2, 3});
    // Pictures no texture takes, in the dictionary's folder and beside it; a
    // folder no dictionary takes; a file that is no picture is not counted.
    writeAll(out() + "/real.txd/foo.png", readAll(picture(TexelFormat::Dxt1, ".png")));
    writeAll(out() + "/top.tga", tga32(8, 8, halves({1, 2, 3, 255}, {4, 5, 6, 255})));
    fs::create_directory(out() + "/old.txd");
    writeAll(out() + "/real.txd/notes.txt", {'h', 'i'});

    const ToolRun quiet = runQuarnixTool({"import-all", txd(), out(), "--exact"});
    EXPECT_EQ(quiet.exitCode, 1);
    // "0 textures imported, 9 unchanged, 2 skipped (<why>: 1; no picture: 1); ..."
    const std::string head = "0 textures imported, 9 unchanged, 2 skipped (";
    ASSERT_EQ(quiet.err.find(head), 0u) << quiet.err;
    const size_t whyEnd = quiet.err.find(": 1; no picture: 1)");
    ASSERT_NE(whyEnd, std::string::npos) << quiet.err;
    const std::string why = quiet.err.substr(head.size(), whyEnd - head.size());
    EXPECT_EQ(quiet.err.substr(whyEnd),
              ": 1; no picture: 1); 2 pictures match no texture; 1 folder matches no dictionary\n");

    const ToolRun verbose = runQuarnixTool({"import-all", txd(), out(), "--exact", "--verbose"});
    EXPECT_EQ(verbose.exitCode, 1);
    EXPECT_EQ(verbose.err, "skipped real.txd/" + nameOf(TexelFormat::Rgb565) + ": no picture\n" + "skipped real.txd/"
                               + nameOf(TexelFormat::Dxt5) + ".png: " + why + "\n"
                               + "no texture for real.txd/foo.png\nno texture for top.tga\nno dictionary for old.txd\n"
                               + quiet.err);
    EXPECT_EQ(readAll(txd()), original);
}

// Three textures named "a"; the first is 32-bit with texel data shorter than
// its 4 x 4 pixels promise, so no picture can be made of it. Every texture
// takes its name whether or not it gets a file: texture 2 is always "a_2"
// and texture 3 "a_3", and an edit of each lands on its own texture only.
class SameNames : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        TextureDictionary d;
        d.textures.push_back(makeTexture32("a", "", 4, 4, std::vector<Rgba>(16, Rgba{9, 9, 9, 255})));
        d.textures.back().texels.resize(16);  // 4 texels of 16
        d.textures.push_back(makeTexture32("a", "", 4, 4, std::vector<Rgba>(16, Rgba{20, 21, 22, 255})));
        d.textures.push_back(makeTexture32("A", "", 4, 4, std::vector<Rgba>(16, Rgba{30, 31, 32, 255})));
        writeAll(txd(), buildTextureDictionary(d, &written));
        original = readAll(txd());
    }
    std::string txd() const { return dir.file("p.txd"); }
    std::string folder() const { return dir.file("out") + "/p.txd"; }
    ScratchDir dir{"qx_same_names"};
    std::vector<WrittenTexture> written;
    std::vector<uint8_t> original;
};

TEST_P(SameNames, EveryTextureTakesItsNumberAndItsEditLandsOnItAlone)
{
    const std::string mode = GetParam();
    const bool png = mode == "png";
    std::vector<std::string> exportArgs = {"export-all", txd(), dir.file("out")};
    if (png)
        exportArgs.push_back("--png");
    ASSERT_EQ(runQuarnixTool(exportArgs).exitCode, 0);
    const std::string ext = png ? ".png" : ".tga";
    // The short texture has a TGA (which no reader can decode) but no PNG.
    EXPECT_EQ(fs::exists(folder() + "/a" + ext), !png);
    ASSERT_TRUE(fs::exists(folder() + "/a_2" + ext));
    ASSERT_TRUE(fs::exists(folder() + "/A_3" + ext));

    // Texture 2 becomes flat (B, G, R) = (1, 2, 3), texture 3 (200, 150, 100).
    fs::remove(folder() + "/a_2" + ext);
    fs::remove(folder() + "/A_3" + ext);
    std::vector<uint8_t> two, three;
    for (int i = 0; i < 16; ++i) {
        two.insert(two.end(), {1, 2, 3, 255});
        three.insert(three.end(), {200, 150, 100, 255});
    }
    writeAll(folder() + "/a_2.tga", tga32(4, 4, two));
    writeAll(folder() + "/A_3.tga", tga32(4, 4, three));
    const ToolRun r = runQuarnixTool({"import-all", txd(), dir.file("out"), "--exact"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("2 textures imported, 0 unchanged, "), 0u) << r.err;

    // Only the texels of textures 2 and 3 differ, each holding its own edit.
    std::vector<uint8_t> want = original;
    std::copy(two.begin(), two.end(), want.begin() + std::ptrdiff_t(written[1].texelOffset));
    std::copy(three.begin(), three.end(), want.begin() + std::ptrdiff_t(written[2].texelOffset));
    EXPECT_EQ(readAll(txd()), want);
}

INSTANTIATE_TEST_SUITE_P(Modes, SameNames, testing::Values("tga", "png"));

TEST(ImportAllSignal, CtrlCSaysHowFarItGotAndKeepsTheCommittedDictionariesAlone)
{
    // 12 dictionaries of 4 DXT1 textures of 128 x 128 with 8 levels, and noisy
    // pictures for all of them, encoded with --dxt best to take a while.
    constexpr int kDictionaries = 12, kEach = 4, kSide = 128;
    ScratchDir dir{"qx_import_all_signal"};
    std::vector<ArchiveItem> items;
    for (int k = 0; k < kDictionaries; ++k) {
        SectionedDictionary d;
        for (int i = 0; i < kEach; ++i)
            d.textures.push_back(texel_cases::mipTexture("t" + std::to_string(i), TexelFormat::Dxt1, kSide, kSide, 8));
        items.push_back({"d" + std::to_string(k) + ".txd", buildSectionedDictionary(d)});
    }
    writeArchive(dir.file("a.dir"), dir.file("a.img"), items);
    const std::vector<uint8_t> original = readAll(dir.file("a.img"));
    const std::vector<DirectoryEntry> entries = readArchive(dir.file("a.dir")).entries;
    for (int k = 0; k < kDictionaries; ++k) {
        const std::string folder = dir.file("in/d" + std::to_string(k) + ".txd");
        fs::create_directories(folder);
        for (int i = 0; i < kEach; ++i) {
            const std::vector<uint8_t> noise = noiseBytes(size_t(kSide) * kSide * 4, uint32_t(k * kEach + i));
            QImage image(noise.data(), kSide, kSide, QImage::Format_RGB32);
            ASSERT_TRUE(image.copy().save(QString::fromStdString(folder + "/t" + std::to_string(i) + ".png"), "PNG"));
        }
    }
    // The bytes of dictionary k as they are in `img`.
    const auto bytesOf = [&entries](const std::vector<uint8_t>& img, size_t k) {
        const DirectoryEntry& e = entries[k];
        return std::vector<uint8_t>(img.begin() + std::ptrdiff_t(e.offset),
                                    img.begin() + std::ptrdiff_t(entryEnd(e, int64_t(img.size()))));
    };

    const std::string err = dir.file("err.txt");
    RunningTool tool({"import-all", dir.file("a.dir"), dir.file("in"), "--dxt", "best"}, err);
    // Once the first dictionary is written, Ctrl+C.
    while (!tool.finished()) {
        const std::vector<uint8_t> now = readAll(dir.file("a.img"));
        if (now.size() == original.size() && bytesOf(now, 0) != bytesOf(original, 0))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    tool.signal(SIGINT);
    const int status = tool.wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal came";
    EXPECT_EQ(WTERMSIG(status), SIGINT);

    // "N of 48 pictures gone through; interrupted; K textures imported and
    // kept, the rest left as they were"
    const std::vector<uint8_t> said = readAll(err);
    const std::string text(said.begin(), said.end());
    const size_t of = text.find(" of 48 pictures gone through; interrupted; ");
    ASSERT_NE(of, std::string::npos) << text;
    const size_t imported = text.find(" textures imported and kept, the rest left as they were\n", of);
    ASSERT_NE(imported, std::string::npos) << text;
    const int goneThrough = std::stoi(text.substr(0, of));
    const size_t countAt = of + std::string(" of 48 pictures gone through; interrupted; ").size();
    const int kept = std::stoi(text.substr(countAt, imported - countAt));
    EXPECT_GE(kept, kEach) << text;
    EXPECT_EQ(kept % kEach, 0) << text;
    EXPECT_LE(kept, goneThrough) << text;

    // The dictionaries committed hold their new bytes; every other byte is as it was.
    const std::vector<uint8_t> img = readAll(dir.file("a.img"));
    ASSERT_EQ(img.size(), original.size());
    for (size_t k = 0; k < size_t(kDictionaries); ++k)
        EXPECT_EQ(bytesOf(img, k) != bytesOf(original, k), k < size_t(kept / kEach)) << k;
    std::vector<uint8_t> outside = img, outsideBefore = original;
    for (size_t k = 0; k < size_t(kDictionaries); ++k) {
        const DirectoryEntry& e = entries[k];
        std::fill(outside.begin() + std::ptrdiff_t(e.offset), outside.begin() + std::ptrdiff_t(e.offset + e.size), 0);
        std::fill(outsideBefore.begin() + std::ptrdiff_t(e.offset),
                  outsideBefore.begin() + std::ptrdiff_t(e.offset + e.size), 0);
    }
    EXPECT_TRUE(outside == outsideBefore);
}

TEST(ImportAllNames, TexturesWhoseNamesStartWithADotAreImported)
{
    ScratchDir dir{"qx_dot_names"};
    TextureDictionary d;
    d.textures.push_back(makeTexture32(".glow", "", 4, 4, std::vector<Rgba>(16, Rgba{1, 1, 1, 255})));
    d.textures.push_back(makeTexture32("../x", "", 4, 4, std::vector<Rgba>(16, Rgba{2, 2, 2, 255})));
    std::vector<WrittenTexture> written;
    writeAll(dir.file("d.txd"), buildTextureDictionary(d, &written));
    ASSERT_EQ(runQuarnixTool({"export-all", dir.file("d.txd"), dir.file("out"), "--png"}).exitCode, 0);
    const std::string folder = dir.file("out") + "/d.txd/";
    ASSERT_TRUE(fs::exists(folder + ".glow.png"));
    ASSERT_TRUE(fs::exists(folder + ".._x.png"));
    std::vector<uint8_t> edit;
    for (int i = 0; i < 16; ++i)
        edit.insert(edit.end(), {50, 60, 70, 255});
    for (const char* name : {".glow", ".._x"}) {
        fs::remove(folder + name + ".png");
        writeAll(folder + name + ".tga", tga32(4, 4, edit));
    }
    const ToolRun r = runQuarnixTool({"import-all", dir.file("d.txd"), dir.file("out"), "--exact"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "2 textures imported, 0 unchanged, 0 skipped\n");
    const std::vector<uint8_t> now = readAll(dir.file("d.txd"));
    for (const WrittenTexture& w : written)
        EXPECT_EQ(std::vector<uint8_t>(now.begin() + std::ptrdiff_t(w.texelOffset),
                                       now.begin() + std::ptrdiff_t(w.texelOffset) + 64),
                  edit);
}

TEST_F(ImportAll, AnEditOfTheAlphaAloneIsImported)
{
    const std::string exported = dir.file("now.tga");
    ASSERT_EQ(runQuarnixTool({"export", txd(), "1", nameOf(TexelFormat::Bgra8888), exported}).exitCode, 0);
    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    // The exported pixels with every alpha value changed, the colours kept.
    std::vector<uint8_t> bgra = readAll(exported);
    bgra.erase(bgra.begin(), bgra.begin() + 18);
    ASSERT_EQ(bgra.size(), 8u * 8 * 4);
    for (size_t i = 3; i < bgra.size(); i += 4)
        bgra[i] = uint8_t(bgra[i] ^ 0x80);
    fs::remove(picture(TexelFormat::Bgra8888, ".png"));
    writeAll(picture(TexelFormat::Bgra8888, ".tga"), tga32(8, 8, bgra));
    const ToolRun r = runQuarnixTool({"import-all", txd(), out(), "--exact"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "1 texture imported, 10 unchanged, 0 skipped\n");
    const std::vector<uint8_t> now = readAll(txd());
    expectOnlyChanged(TexelFormat::Bgra8888, now);
    const size_t at = span(TexelFormat::Bgra8888).first + 4;
    EXPECT_EQ(std::vector<uint8_t>(now.begin() + std::ptrdiff_t(at), now.begin() + std::ptrdiff_t(at + bgra.size())),
              bgra);
}

TEST_F(ImportAll, AFailedImportMakesTheCommandExitWithOne)
{
    ASSERT_EQ(runQuarnixTool({"export-all", txd(), out(), "--png"}).exitCode, 0);
    writeAll(picture(TexelFormat::Rgb565, ".png"), {0x89, 'P', 'N', 'G', 1, 2, 3});
    const ToolRun r = runQuarnixTool({"import-all", txd(), out(), "--exact"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err.find("0 textures imported, 10 unchanged, 1 skipped ("), 0u) << r.err;
    EXPECT_EQ(readAll(txd()), original);
}

TEST(ImportRefusals, ALevelOfTheWrongSizeOrAMissingPictureWritesNothing)
{
    ScratchDir dir{"qx_import_refusal"};
    SectionedDictionary d;
    d.textures.push_back(texel_cases::mipTexture("broken", TexelFormat::Rgb565, 8, 8, 2));
    d.textures.back().levelSizeFields = {std::nullopt, 999u};  // level 1 should be 32 bytes
    d.textures.push_back(texel_cases::mipTexture("fine", TexelFormat::Rgb565, 8, 8, 2));
    const std::string txd = dir.file("r.txd");
    writeAll(txd, buildSectionedDictionary(d));
    const std::vector<uint8_t> before = readAll(txd);
    writeAll(dir.file("p.tga"), tga32(8, 8, halves({1, 2, 3, 255}, {4, 5, 6, 255})));
    const ToolRun r = runQuarnixTool({"import", txd, "1", "broken", dir.file("p.tga")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("texture's data"), std::string::npos) << r.err;
    EXPECT_EQ(readAll(txd), before);
}

TEST(ImportAllSample, TheSampleArchiveRoundTripsByteForByte)
{
    ScratchDir dir{"qx_import_sample"};
    archive_sample::writeSampleFiles(dir.path());
    const std::vector<uint8_t> img = readAll(dir.file("sample.img"));
    ASSERT_EQ(runQuarnixTool({"export-all", dir.file("sample.dir"), dir.file("out"), "--png"}).exitCode, 0);
    const ToolRun r = runQuarnixTool({"import-all", dir.file("sample.dir"), dir.file("out"), "--exact"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("0 textures imported"), 0u) << r.err;
    EXPECT_EQ(readAll(dir.file("sample.img")), img);
}

}  // namespace

TEST(ImportAllUndo, OneUndoTakesTheWholeRunBackAcrossDictionaries)
{
    ScratchDir dir{"qx_import_all_undo"};
    archive_sample::writeSampleFiles(dir.path());
    const std::string archive = dir.file("sample.dir");
    const std::vector<uint8_t> img = readAll(dir.file("sample.img"));
    ASSERT_EQ(runQuarnixTool({"export-all", archive, dir.file("out"), "--png"}).exitCode, 0);
    // Every exported picture of every dictionary replaced by a flat grey one
    // of its own size.
    int edited = 0;
    for (const auto& folder : fs::directory_iterator(dir.file("out")))
        for (const auto& file : fs::directory_iterator(folder.path())) {
            const std::string path = file.path().string();
            // The size from the PNG's header (big-endian width and height).
            const std::vector<uint8_t> png = readAll(path);
            ASSERT_GE(png.size(), 24u);
            const int w = png[18] << 8 | png[19], h = png[22] << 8 | png[23];
            fs::remove(path);
            writeAll(path.substr(0, path.size() - 4) + ".tga",
                     tga32(w, h, std::vector<uint8_t>(size_t(w) * h * 4, 0x77)));
            ++edited;
        }
    ASSERT_GT(edited, 3);
    // The sample's plain 16-bit textures are refused (exit 1); every other
    // texture takes its grey picture.
    const ToolRun r = runQuarnixTool({"import-all", archive, dir.file("out")});
    EXPECT_EQ(r.err.find("Sorry, can't replace 16bit images"), r.err.find("skipped (") + 9) << r.err;
    ASSERT_NE(readAll(dir.file("sample.img")), img);
    const ToolRun undo = runQuarnixTool({"undo", archive});
    EXPECT_EQ(undo.exitCode, 0) << undo.err;
    EXPECT_EQ(undo.err.find("Undid import-all of "), 0u) << undo.err;
    EXPECT_EQ(readAll(dir.file("sample.img")), img);
}

namespace {

// The pixels of a PNG as B, G, R, A, first row at the top.
std::vector<uint8_t> pngPixels(const std::string& path, int& w, int& h)
{
    const QImage image = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_ARGB32);
    w = image.width();
    h = image.height();
    std::vector<uint8_t> bgra;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = image.pixel(x, y);
            bgra.insert(bgra.end(), {uint8_t(qBlue(p)), uint8_t(qGreen(p)), uint8_t(qRed(p)), uint8_t(qAlpha(p))});
        }
    return bgra;
}

// Each pixel made a 4 x 4 square of itself.
std::vector<uint8_t> upscaled4(const std::vector<uint8_t>& bgra, int w, int h)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < 4 * h; ++y)
        for (int x = 0; x < 4 * w; ++x) {
            const uint8_t* p = bgra.data() + 4 * size_t((y / 4) * w + x / 4);
            out.insert(out.end(), p, p + 4);
        }
    return out;
}

size_t linesOf(const std::string& text)
{
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// The sample archive's sectioned dictionary "Layouts.txd" holds every
// layout, several with mip levels; its other dictionaries have no sections.
class PictureSize : public testing::Test {
protected:
    void SetUp() override
    {
        archive_sample::writeSampleFiles(dir.path());
        img = readAll(dir.file("sample.img"));
        ASSERT_EQ(runQuarnixTool({"export-all", archive(), out(), "--png"}).exitCode, 0);
        levelsBefore = layoutsColumn(8);
    }
    std::string archive() const { return dir.file("sample.dir"); }
    std::string out() const { return dir.file("out"); }
    std::string layoutsFolder() const { return out() + "/Layouts.txd"; }
    // A column of `textures --long` for Layouts.txd, by texture name.
    std::map<std::string, std::string> layoutsColumn(int column) const
    {
        std::map<std::string, std::string> values;
        std::istringstream lines(runQuarnixTool({"textures", archive(), "Layouts.txd", "--long"}).out);
        std::string line;
        std::getline(lines, line);
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream f(line);
            for (std::string field; std::getline(f, field, '\t');)
                fields.push_back(field);
            values[fields.at(1)] = fields.at(size_t(column));
        }
        return values;
    }
    // Replaces the exported PNG of `name` by a TGA of these pixels.
    void replacePicture(const std::string& name, int w, int h, const std::vector<uint8_t>& bgra) const
    {
        fs::remove(layoutsFolder() + "/" + name + ".png");
        writeAll(layoutsFolder() + "/" + name + ".tga", tga32(w, h, bgra));
    }
    ScratchDir dir{"qx_picture_size"};
    std::vector<uint8_t> img;
    std::map<std::string, std::string> levelsBefore;
};

}  // namespace

TEST_F(PictureSize, PicturesUpscaledFourTimesComeBackFromTheirTexturesAtTheirSize)
{
    // Every picture of Layouts.txd made 4 times wider and higher.
    std::map<std::string, std::vector<uint8_t>> upscaled;
    std::map<std::string, std::pair<int, int>> sizes;
    for (const auto& e : fs::directory_iterator(layoutsFolder())) {
        const std::string name = e.path().stem().string();
        int w = 0, h = 0;
        const std::vector<uint8_t> bgra = pngPixels(e.path().string(), w, h);
        upscaled[name] = upscaled4(bgra, w, h);
        sizes[name] = {4 * w, 4 * h};
        replacePicture(name, 4 * w, 4 * h, upscaled[name]);
    }
    ASSERT_EQ(upscaled.size(), 12u);
    const std::map<std::string, std::string> format = layoutsColumn(7);

    const ToolRun r = runQuarnixTool({"import-all", archive(), out(), "--picture-size", "--exact"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("12 textures imported, "), 0u) << r.err;
    EXPECT_NE(r.err.find(", 0 skipped\n"), std::string::npos) << r.err;
    // The dictionary was rewritten once, with all of them: one change kept.
    EXPECT_EQ(linesOf(runQuarnixTool({"undo", archive(), "--list"}).out), 1u);

    // Each texture at its picture's size, in its layout, with the full chain
    // where it had levels.
    const std::map<std::string, std::string> dims = layoutsColumn(5), levels = layoutsColumn(8);
    EXPECT_EQ(layoutsColumn(7), format);
    for (const auto& [name, size] : sizes) {
        SCOPED_TRACE(name);
        EXPECT_EQ(dims.at(name), std::to_string(size.first) + "x" + std::to_string(size.second));
        const int full = int(std::log2(std::max(size.first, size.second))) + 1;
        EXPECT_EQ(levels.at(name), levelsBefore.at(name) == "1" ? "1" : std::to_string(full));
    }

    // Exported again: the upscaled pictures, exactly for the lossless
    // layouts (a P8 palette is opaque: its colours only), near for DXT.
    ASSERT_EQ(runQuarnixTool({"export-all", archive(), dir.file("again"), "--png"}).exitCode, 0);
    for (const auto& [name, want] : upscaled) {
        SCOPED_TRACE(name + " " + format.at(name));
        int w = 0, h = 0;
        const std::vector<uint8_t> back = pngPixels(dir.file("again") + "/Layouts.txd/" + name + ".png", w, h);
        ASSERT_EQ(back.size(), want.size());
        const bool blocks = format.at(name).rfind("DXT", 0) == 0;
        const bool paletted = format.at(name) == "P8";
        int worst = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            if (paletted && i % 4 == 3) {
                EXPECT_EQ(back[i], 255);
                continue;
            }
            worst = std::max(worst, std::abs(int(back[i]) - int(want[i])));
        }
        EXPECT_LE(worst, blocks ? 8 : 0);
    }
    // One undo takes it all back.
    ASSERT_EQ(runQuarnixTool({"undo", archive()}).exitCode, 0);
    EXPECT_EQ(readAll(dir.file("sample.img")), img);
}

TEST_F(PictureSize, PicturesThatCannotTakeTheirSizeAreSkippedAndNamedAndTheRestWrittenAsOneChange)
{
    // Of Layouts.txd: one picture grown, one edited at its own size, one of
    // 10 x 10 over a DXT texture; of a dictionary without sections, one
    // picture of another size.
    replacePicture("sunset_8888", 16, 8, std::vector<uint8_t>(16 * 8 * 4, 0x60));
    replacePicture("plasma_888", 64, 64, std::vector<uint8_t>(64 * 64 * 4, 0xC0));
    replacePicture("checker_DXT1", 10, 10, std::vector<uint8_t>(10 * 10 * 4, 0x30));
    const std::string generic = out() + "/Generic.txd/checker";
    fs::remove(generic + ".png");
    writeAll(generic + ".tga", tga32(8, 8, std::vector<uint8_t>(8 * 8 * 4, 0x90)));

    const ToolRun r = runQuarnixTool({"import-all", archive(), out(), "--picture-size"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err.find("2 textures imported, "), 0u) << r.err;
    EXPECT_NE(r.err.find("a DXT layout needs a width and height divisible by 4 (Layouts.txd/checker_DXT1.tga): 1"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("dictionary without sections, whose textures keep their size: 1"), std::string::npos) << r.err;
    EXPECT_EQ(linesOf(runQuarnixTool({"undo", archive(), "--list"}).out), 1u);
    const std::map<std::string, std::string> dims = layoutsColumn(5);
    EXPECT_EQ(dims.at("sunset_8888"), "16x8");
    EXPECT_EQ(dims.at("plasma_888"), "64x64");
    EXPECT_EQ(dims.at("checker_DXT1"), "64x64");
    EXPECT_EQ(layoutsColumn(8).at("sunset_8888"), "5");

    // Without --picture-size the same pictures are resampled to their
    // textures' sizes, as ever: nothing moves.
    ASSERT_EQ(runQuarnixTool({"undo", archive()}).exitCode, 0);
    EXPECT_EQ(readAll(dir.file("sample.img")), img);
    const ToolRun resampled = runQuarnixTool({"import-all", archive(), out()});
    EXPECT_EQ(resampled.exitCode, 0) << resampled.err;
    EXPECT_EQ(resampled.err.find("4 textures imported, "), 0u) << resampled.err;
    EXPECT_EQ(readAll(dir.file("sample.img")).size(), img.size());
    EXPECT_EQ(layoutsColumn(5).at("sunset_8888"), "128x64");
}
