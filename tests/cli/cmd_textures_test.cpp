// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool textures, export and export-all, and the tool's command-line
// conventions, run as the program built beside this test program.
#include "formats/archive_directory.h"
#include "formats/archive_sample.h"
#include "formats/texture_dictionary.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/picture_builder.h"
#include "support/texel_cases.h"
#include "support/tool_runner.h"
#include "texture/texture_import.h"
#include "texture/texture_tga.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <map>

namespace fs = std::filesystem;
using namespace archive_fixture;

namespace {

const char* const kHeader = "Pos\tName\tDesc\tSize\tType\tDimensions\tImagePos\n";

class TextureCommands : public testing::Test {
protected:
    void SetUp() override { archive_sample::writeSampleFiles(dir.path()); }
    std::string dirFile() const { return dir.file("sample.dir"); }
    ScratchDir dir{"qx_cli"};
};

// An archive holding one dictionary built from `d` as entry 1 ("odd.txd").
std::string writeArchiveWith(const ScratchDir& dir, const TextureDictionary& d)
{
    writeArchive(dir.file("odd.dir"), dir.file("odd.img"), {{"odd.txd", buildTextureDictionary(d)}});
    return dir.file("odd.dir");
}

}  // namespace

TEST_F(TextureCommands, TexturesListsTheDictionaryByPosOrName)
{
    const ToolRun byName = runQuarnixTool({"textures", dirFile(), "Landscape.TXD"});
    ASSERT_EQ(byName.exitCode, 0) << byName.err;
    EXPECT_EQ(byName.err, "");
    EXPECT_EQ(byName.out, std::string(kHeader)
                              + "1\tSunsetSky\t\t131072\t32bit\t256x128\t18572\n"
                                "2\tmandel\t\t8192\t8bit paletted\t128x64\t149772\n"
                                "3\tBricks\tbricksM\t8192\t16bit\t64x64\t159116\n"
                                "4\tplasma\t\t32768\t32bit\t64x128\t167436\n");
    EXPECT_EQ(runQuarnixTool({"textures", dirFile(), "4"}).out, byName.out);

    // A standalone dictionary is its own single entry; an entry that is not a
    // dictionary gives the header alone.
    const ToolRun standalone = runQuarnixTool({"textures", dir.file("sample.txd"), "1"});
    EXPECT_EQ(standalone.exitCode, 0);
    EXPECT_EQ(standalone.out.substr(0, standalone.out.find('\n', strlen(kHeader)) + 1),
              std::string(kHeader) + "1\tWheel\tWheelAlpha\t65536\t32bit\t128x128\t140\n");
    const ToolRun other = runQuarnixTool({"textures", dirFile(), "ReadMe.txt"});
    EXPECT_EQ(other.exitCode, 0);
    EXPECT_EQ(other.out, kHeader);

    const ToolRun missing = runQuarnixTool({"textures", dirFile(), "nothere.txd"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "No entry 'nothere.txd' in " + dirFile() + ".\n");
}

TEST_F(TextureCommands, FieldsATextureDoesNotHavePrintEmpty)
{
    TextureDictionary d = threeKindsDictionary();
    d.textures[1].kind = 0x40118;  // unknown: listed, and the list ends there
    const std::string archive = writeArchiveWith(dir, d);
    const ToolRun r = runQuarnixTool({"textures", archive, "odd.txd"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kHeader)
                         + "1\tindexed\tindexedMask\t8\t8bit paletted\t4x2\t140\n"
                           "2\thicolor\t\t\t\t2x2\t\n");
}

TEST_F(TextureCommands, ExportWritesTheTextureTgaOrRefusesAndWritesNothing)
{
    const std::string out = dir.file("plasma.tga");
    const ToolRun r = runQuarnixTool({"export", dirFile(), "Landscape.TXD", "plasma", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");

    // The same bytes the app builds for that row, and the picture they show
    // is the stored one (the sample's plasma texture, B, G, R, A texels).
    TFileStream img(dir.file("sample.img"), FileMode::OpenReadShareDenyWrite);
    const TextureRow row = readTextureDictionary(img, 18432, img.Size()).rows.at(3);
    const TextureTga expected = buildTextureTga(img, textureRefOf(row));
    EXPECT_EQ(readBytes(out), expected.bytes);
    const auto dicts = archive_sample::sampleArchiveDictionaries();
    const TextureRecord& plasma = dicts.at(1).second.textures.at(3);
    ASSERT_EQ(plasma.name, "plasma");
    const auto picture = LoadPictureFromFile(out, 1);
    for (const auto& [x, y] : {std::pair{0, 0}, {63, 0}, {10, 77}, {63, 127}}) {
        const uint8_t* t = plasma.texels.data() + 4 * (y * 64 + x);
        EXPECT_EQ(picture->GetPixelColor(x, y), uint32_t(t[2]) << 16 | uint32_t(t[1]) << 8 | t[0]) << x << "," << y;
    }

    // A texture whose data runs past the end of the file: refused, no file.
    TextureDictionary d;
    d.textures.push_back(makeTexture32("cut", "", 2, 2, std::vector<Rgba>(4)));
    d.textures.back().dataSizeField = 1000000;  // beyond the data file's 2048 bytes
    const std::string archive = writeArchiveWith(dir, d);
    const std::string refusedOut = dir.file("cut.tga");
    const ToolRun refused = runQuarnixTool({"export", archive, "1", "cut", refusedOut});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("cannot be found"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(refusedOut));

    const ToolRun notDict = runQuarnixTool({"export", dirFile(), "barrel.DFF", "1", refusedOut});
    EXPECT_EQ(notDict.exitCode, 1);
    EXPECT_EQ(notDict.err, "Entry 'barrel.DFF' is not a texture dictionary.\n");
    const ToolRun noTexture = runQuarnixTool({"export", dirFile(), "4", "9", refusedOut});
    EXPECT_EQ(noTexture.exitCode, 1);
    EXPECT_EQ(noTexture.err, "No texture '9' in entry 'Landscape.TXD'\n");
    EXPECT_FALSE(fs::exists(refusedOut));
}

TEST_F(TextureCommands, ExportAllWritesEveryTextureUnderSafeUniqueNames)
{
    const std::string out = dir.file("all");
    ToolRun r = runQuarnixTool({"export-all", dirFile(), out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    // 3 + 4 + 3 plain textures and the 12 of the sectioned dictionary.
    EXPECT_EQ(r.err, "22 textures written from 4 dictionaries to " + out + ", 0 skipped\n");
    EXPECT_EQ(readBytes(out + "/Landscape.TXD/plasma.tga"), readBytes([&] {
                  runQuarnixTool({"export", dirFile(), "4", "4", dir.file("one.tga")});
                  return dir.file("one.tga");
              }()));
    size_t files = 0;
    for (const auto& f : fs::recursive_directory_iterator(out))
        files += f.is_regular_file();
    EXPECT_EQ(files, 22u);

    // Names that clash ignoring case, or that are no file names, and a
    // texture without data.
    TextureDictionary d;
    for (const char* name : {"Grass", "grass", "a/b", "..", ""})
        d.textures.push_back(makeTexture32(name, "", 1, 1, {{1, 2, 3, 4}}));
    d.textures.push_back(makeTexture32("cut", "", 1, 1, {{1, 2, 3, 4}}));
    d.textures.back().dataSizeField = 1000000;
    const std::string archive = writeArchiveWith(dir, d);
    const std::string odd = dir.file("odd-out");
    r = runQuarnixTool({"export-all", archive, odd});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("5 textures written from 1 dictionary to"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 skipped"), std::string::npos) << r.err;
    for (const char* name : {"Grass.tga", "grass_2.tga", "a_b.tga", "_...tga", "_.tga"})
        EXPECT_TRUE(fs::is_regular_file(odd + "/odd.txd/" + name)) << name;
}

TEST_F(TextureCommands, ExportAllAsPngKeepsThePixelsAndAlpha)
{
    const std::string out = dir.file("png");
    const ToolRun r = runQuarnixTool({"export-all", dir.file("sample.txd"), out, "--png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto dict = archive_sample::sampleStandaloneDictionary();
    for (const TextureRecord& t : dict.textures) {
        SCOPED_TRACE(t.name);
        const QImage png(QString::fromStdString(out + "/sample.txd/" + t.name + ".png"));
        ASSERT_FALSE(png.isNull());
        ASSERT_EQ(png.width(), t.width);
        ASSERT_EQ(png.height(), t.height);
        // Against the TGA decoder's colours of the same texture.
        TFileStream f(dir.file("sample.txd"), FileMode::OpenReadShareDenyWrite);
        const auto rows = readTextureDictionary(f, 0, f.Size()).rows;
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const TextureRow& x) { return x.name == t.name; });
        ASSERT_NE(row, rows.end());
        TMemoryStream tga(buildTextureTga(f, textureRefOf(*row)).bytes);
        const auto picture = LoadPictureFromStream(tga, "TGA", 1);
        for (int y = 0; y < t.height; y += 7) {
            for (int x = 0; x < t.width; x += 5) {
                ASSERT_EQ(png.pixel(x, y) & 0xFFFFFFu, picture->GetPixelColor(x, y)) << x << "," << y;
            }
        }
        if (t.kind == TxdLayout::kKind32) {
            EXPECT_EQ(uint8_t(qAlpha(png.pixel(1, 1))), t.texels[4 * (t.width + 1) + 3]);
        }
    }
}

TEST_F(TextureCommands, ExportAllAsPngNamesAndFillsEveryFileInTheDictionarysOrder)
{
    // PNGs are encoded ahead of the writing: names, clash numbers and the
    // pixels in each file must still follow the dictionary's order.
    TextureDictionary d;
    const char* names[] = {"Tile", "tile", "TILE", "other"};
    for (int i = 0; i < 24; ++i) {
        const Rgba colour{uint8_t(10 * i), uint8_t(255 - i), uint8_t(3 * i), uint8_t(100 + i)};
        d.textures.push_back(makeTexture32(names[i % 4], "", 16, 8, std::vector<Rgba>(16 * 8, colour)));
    }
    const std::string archive = writeArchiveWith(dir, d);
    const std::string out = dir.file("ordered");
    const ToolRun r = runQuarnixTool({"export-all", archive, out, "--png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("24 textures written from 1 dictionary to"), std::string::npos) << r.err;
    std::map<std::string, int> taken;  // case-folded name -> files so far
    for (int i = 0; i < 24; ++i) {
        const std::string name = names[i % 4];
        const int n = ++taken[QString::fromStdString(name).toLower().toStdString()];
        const std::string file = out + "/odd.txd/" + name + (n > 1 ? "_" + std::to_string(n) : "") + ".png";
        SCOPED_TRACE(file);
        const QImage png(QString::fromStdString(file));
        ASSERT_FALSE(png.isNull());
        EXPECT_EQ(png.pixel(5, 3), qRgba(10 * i, 255 - i, 3 * i, 100 + i));
    }
}

TEST_F(TextureCommands, LongListAddsFormatLevelsAlphaAndPlatform)
{
    const std::string longHeader =
        "Pos\tName\tDesc\tSize\tType\tDimensions\tImagePos\tFormat\tLevels\tAlpha\tPlatform\n";
    // Plain dictionaries: the layout their kind gives, no platform.
    const ToolRun plain = runQuarnixTool({"textures", dirFile(), "Landscape.TXD", "--long"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.out, longHeader
                             + "1\tSunsetSky\t\t131072\t32bit\t256x128\t18572\t8888\t1\tyes\t\n"
                               "2\tmandel\t\t8192\t8bit paletted\t128x64\t149772\tP8\t1\tno\t\n"
                               "3\tBricks\tbricksM\t8192\t16bit\t64x64\t159116\t555\t1\tno\t\n"
                               "4\tplasma\t\t32768\t32bit\t64x128\t167436\t8888\t1\tyes\t\n");

    // A sectioned dictionary with a texture the reader does not read (a cube
    // map) between two that it reads.
    SectionedDictionary d;
    d.textures.push_back(texel_cases::mipTexture("mips", TexelFormat::Dxt1, 8, 8, 3, 8));
    d.textures.back().layout.dxt1Alpha = true;
    d.textures.push_back(texel_cases::mipTexture("cube", TexelFormat::Rgb565, 4, 4, 1));
    d.textures.back().compressionOrFlags = 0x02;
    d.textures.push_back(texel_cases::mipTexture("grey", TexelFormat::Lum8, 4, 2, 1));
    writeArchive(dir.file("real.dir"), dir.file("real.img"), {{"real.txd", buildSectionedDictionary(d)}});
    const ToolRun real = runQuarnixTool({"textures", dir.file("real.dir"), "1", "--long"});
    ASSERT_EQ(real.exitCode, 0) << real.err;
    // Textures at 28, then 28 + 12 + (12 + 88 + 4 + 32 + 4 + 8 + 4 + 8) + 12 = 212, then
    // 212 + 12 + (12 + 88 + 4 + 32) + 12 = 372; ImagePos 112 bytes further.
    EXPECT_EQ(real.out, longHeader
                            + "1\tmips\t\t32\tDXT1\t8x8\t140\tDXT1\t3\tyes\t8\n"
                              "2\tcube\t\t\t\t4x4\t\t\t\t\t9\n"
                              "3\tgrey\t\t8\t8bit grey\t4x2\t484\tLUM8\t1\tno\t9\n");
}

TEST_F(TextureCommands, EveryLayoutOfTheSampleIsExportedAsTheTgaThePreviewShows)
{
    const std::string out = dir.file("real");
    const ToolRun r = runQuarnixTool({"export-all", dirFile(), out, "--png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    TFileStream img(dir.file("sample.img"), FileMode::OpenReadShareDenyWrite);
    const auto entries = readArchive(dirFile()).entries;
    const DirectoryEntry& entry = entries.back();
    ASSERT_EQ(entry.name, archive_sample::kSampleSectionedName);
    const auto rows = readTextureDictionary(img, entry.offset, entry.offset + entry.size).rows;
    ASSERT_EQ(rows.size(), archive_sample::sampleSectionedDictionary().textures.size());
    for (const TextureRow& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(row.hasData);
        const TextureTga tga = buildTextureTga(img, textureRefOf(row));
        ASSERT_EQ(tga.problem, TextureProblem::None);
        // export writes the preview's TGA byte for byte.
        const std::string one = dir.file("one.tga");
        ASSERT_EQ(runQuarnixTool({"export", dirFile(), entry.name, row.name, one}).exitCode, 0);
        EXPECT_EQ(readBytes(one), tga.bytes);
        // The PNG holds the same B, G, R, A pixels, alpha kept.
        const QImage png(QString::fromStdString(out + "/" + entry.name + "/" + row.name + ".png"));
        ASSERT_EQ(png.width(), row.width);
        for (int y = 0; y < row.height; y += 3)
            for (int x = 0; x < row.width; x += 5) {
                const uint8_t* p = tga.bytes.data() + 18 + 4 * (size_t(y) * row.width + x);
                ASSERT_EQ(png.pixel(x, y), qRgba(p[2], p[1], p[0], p[3])) << x << "," << y;
            }
    }
}

TEST(ToolConventions, HelpVersionAndUsageErrors)
{
    ToolRun r = runQuarnixTool({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* command : {"list", "textures", "export", "export-all", "import", "import-all", "add-texture",
                                "remove-texture", "rename-texture", "new-txd", "convert", "sample"})
        EXPECT_NE(r.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    r = runQuarnixTool({"export", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Usage: quarnix-tool export [options] ARCHIVE ENTRY TEXTURE OUT.tga\n", 0), 0u) << r.out;
    const struct {
        const char* command;
        const char* usage;
        const char* option;
    } edits[] = {
        {"import", "ARCHIVE ENTRY TEXTURE PICTURE\n", "--picture-size"},
        {"add-texture", "ARCHIVE ENTRY PICTURE\n", "--levels <N|all>"},
        {"remove-texture", "ARCHIVE ENTRY TEXTURE [TEXTURE...]\n", ""},
        {"rename-texture", "ARCHIVE ENTRY TEXTURE NEWNAME\n", "--mask <NAME>"},
        {"new-txd", "OUT.txd PICTURE [PICTURE...]\n", "--platform <8|9>"},
    };
    for (const auto& e : edits) {
        r = runQuarnixTool({e.command, "--help"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out.rfind(std::string("Usage: quarnix-tool ") + e.command + " [options] " + e.usage, 0), 0u)
            << r.out;
        EXPECT_NE(r.out.find(e.option), std::string::npos) << r.out;
    }
    r = runQuarnixTool({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("quarnix-tool ", 0), 0u);
    EXPECT_NE(r.out.find("\nLicense GPL-2.0-or-later: GNU GPL version 2 or later"), std::string::npos) << r.out;

    const std::vector<std::vector<std::string>> usage = {
        {},
        {"frobnicate"},
        {"--frob"},
        {"textures", "a.dir"},
        {"export", "a", "b", "c", "d", "e"},
        {"export-all", "a.dir", "out", "--jpeg"},
    };
    for (const auto& args : usage) {
        r = runQuarnixTool(args);
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Usage: quarnix-tool"), std::string::npos) << r.err;
    }
}

TEST_F(TextureCommands, ImportWritesWhatTheAppWritesOrNothing)
{
    const std::string picture = dir.file("photo.tga");
    SavePictureAsTgaFile(*MakePhotoLikePicture(50, 40, 9), picture);
    const std::string img = dir.file("sample.img");
    const std::vector<uint8_t> before = readBytes(img);

    for (const char* texture : {"plasma", "mandel"}) {
        SCOPED_TRACE(texture);
        const std::vector<uint8_t> start = readBytes(img);
        TextureRow row;
        {
            TFileStream f(img, FileMode::OpenReadShareDenyWrite);
            for (const TextureRow& r : readTextureDictionary(f, 18432, f.Size()).rows)
                if (r.name == texture)
                    row = r;
        }
        const TextureRef t = textureRefOf(row);
        auto prepared = LoadPictureFromFile(picture, 1);
        PrepareImportPicture(*prepared, importPictureSize(t), importPictureFormat(t));
        const std::vector<uint8_t> block = buildImportBlock(*prepared, t);

        const ToolRun r = runQuarnixTool({"import", dirFile(), "Landscape.TXD", texture, picture});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
        std::vector<uint8_t> expected = start;
        std::copy(block.begin(), block.end(), expected.begin() + t.imagePos);
        EXPECT_EQ(readBytes(img), expected);
    }
    EXPECT_EQ(readBytes(img).size(), before.size());

    // Refused or failed: nothing written.
    const std::vector<uint8_t> now = readBytes(img);
    ToolRun r = runQuarnixTool({"import", dirFile(), "4", "Bricks", picture});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Sorry, can't replace 16bit images :(\n");
    r = runQuarnixTool({"import", dirFile(), "4", "plasma", dir.file("missing.png")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "cannot open " + dir.file("missing.png") + ": " + std::strerror(ENOENT) + ".\n");
    r = runQuarnixTool({"import", dirFile(), "4", "plasma", dir.file("sample.dir")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Unknown picture file extension (.dir)"), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(img), now);

    TextureDictionary d;
    d.textures.push_back(makeTexture32("short", "", 4, 4, std::vector<Rgba>(16)));
    d.textures.back().texels.resize(32);
    const std::string archive = writeArchiveWith(dir, d);
    const std::vector<uint8_t> odd = readBytes(dir.file("odd.img"));
    r = runQuarnixTool({"import", archive, "1", "short", picture});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("does not match its width and height"), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(dir.file("odd.img")), odd);
}
