// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/import_pipeline.h"

#include "imaging/format_transform.h"
#include "imaging/picture_registry.h"
#include "imaging/resize_transform.h"
#include "support/picture_builder.h"

#include "support/tool_runner.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> pixelsOf(const TDibGraphic& b)
{
    return std::vector<uint8_t>(b.Bits(), b.Bits() + int64_t(b.RowStride()) * b.Height());
}

std::vector<uint8_t> tgaOf(const TDibGraphic& b)
{
    TMemoryStream s;
    WritePictureAsTga(b, s);
    return s.bytes();
}

std::vector<uint8_t> fileBytes(const fs::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST(ImportPipeline, RedTwoByTwoForATrueColourTexture)
{
    auto picture = MakeRgb24Picture(2, 2, [](int, int) { return MakeColor(255, 0, 0); });
    PrepareImportPicture(*picture, QSize(2, 2), ifRgb24);
    const std::vector<uint8_t> tga = tgaOf(*picture);
    ASSERT_EQ(tga.size(), 18u + 12u);
    EXPECT_EQ(tga[1], 0);  // no colour map
    EXPECT_EQ(tga[2], 2);  // true colour
    EXPECT_EQ(tga[16], 24);
    for (size_t i = 18; i < tga.size(); i += 3)
        EXPECT_EQ(std::vector<uint8_t>(tga.begin() + long(i), tga.begin() + long(i) + 3),
                  (std::vector<uint8_t>{0x00, 0x00, 0xFF}));
}

TEST(ImportPipeline, PhotoToEightBitUsesTheImportSettings)
{
    auto picture = MakePhotoLikePicture(40, 30, 7);
    TDibGraphic expected;
    expected.Assign(picture.get());

    PrepareImportPicture(*picture, QSize(16, 12), ifColor256);
    ASSERT_EQ(picture->ImageFormat(), ifColor256);
    ASSERT_EQ(picture->Width(), 16);
    ASSERT_EQ(picture->Height(), 12);
    EXPECT_EQ(picture->Palette().EntryCount, 256);

    // The same chain spelt out: cubic B-spline resampling keeping the
    // format, then an optimised, dithered reduction.
    TResizeTransform resize;
    resize.TargetWidth = 16;
    resize.TargetHeight = 12;
    resize.UseFilter = true;
    resize.Kernel = rkCubicBSpline;
    resize.ApplyInPlace(expected);
    ASSERT_EQ(expected.ImageFormat(), ifRgb24);
    TImageFormatTransform reduce;
    reduce.TargetFormat = ifColor256;
    reduce.ApplyInPlace(expected);
    EXPECT_EQ(pixelsOf(*picture), pixelsOf(expected));
    EXPECT_EQ(0, std::memcmp(&picture->Palette(), &expected.Palette(), sizeof(TLogicalPalette)));

    // The 8-bit TGA: 256 colour-map entries (blue, green, red), then the
    // index rows bottom row first.
    const std::vector<uint8_t> tga = tgaOf(*picture);
    ASSERT_EQ(tga.size(), 18u + 768u + 16u * 12u);
    EXPECT_EQ(tga[1], 1);
    for (int k = 0; k < 256; ++k) {
        const TPaletteEntry& e = picture->Palette().Entries[k];
        ASSERT_EQ(tga[size_t(18 + 3 * k)], e.peBlue);
        ASSERT_EQ(tga[size_t(18 + 3 * k + 2)], e.peRed);
    }
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(tga[size_t(786 + x)], picture->GetPixelIndex(x, 11));
}

TEST(ImportPipeline, StepsAreOptionalAndInPlace)
{
    auto picture = MakePhotoLikePicture(9, 7, 2);
    const std::vector<uint8_t> before = pixelsOf(*picture);
    PrepareImportPicture(*picture, std::nullopt, std::nullopt);
    EXPECT_EQ(pixelsOf(*picture), before);

    // Same size still smooths: the filtered path ran.
    PrepareImportPicture(*picture, QSize(9, 7), std::nullopt);
    EXPECT_EQ(picture->ImageFormat(), ifRgb24);
    EXPECT_NE(pixelsOf(*picture), before);

    // A picture already in the target format keeps pixels and palette.
    TLogicalPalette p = MakeGreyPalette({3, 99, 201});
    auto indexed = MakeIndexedPicture(6, 5, ifColor256, p, [](int x, int y) { return (x * y) % 3; });
    const std::vector<uint8_t> indices = pixelsOf(*indexed);
    PrepareImportPicture(*indexed, std::nullopt, ifColor256);
    EXPECT_EQ(pixelsOf(*indexed), indices);
    EXPECT_EQ(indexed->Palette().EntryCount, 3);

    // Too small a target fails and leaves the picture as it was.
    const std::vector<uint8_t> now = pixelsOf(*picture);
    try {
        PrepareImportPicture(*picture, QSize(1, 64), ifColor256);
        FAIL() << "no error";
    } catch (const ETavrinError& e) {
        EXPECT_STREQ(e.what(), "Destination graphic too small");
    }
    EXPECT_EQ(picture->Width(), 9);
    EXPECT_EQ(picture->ImageFormat(), ifRgb24);
    EXPECT_EQ(pixelsOf(*picture), now);
}

TEST(ImportPipeline, FormatsTheTgaWriterRefusesAreWrittenAsTrueColour)
{
    TLogicalPalette p = MakeGreyPalette({0, 0});
    p.Entries[1] = {10, 20, 30, 0};
    for (TImageFormat format : {ifMonochrome, ifGrayscale16, ifColor16}) {
        SCOPED_TRACE(ImageFormatDescription(format));
        auto picture = MakeIndexedPicture(3, 2, format, p, [](int x, int y) { return (x + y) & 1; });
        const std::vector<uint8_t> tga = tgaOf(*picture);
        EXPECT_EQ(picture->ImageFormat(), format);  // the picture itself is not changed
        ASSERT_EQ(tga.size(), 18u + 3u * 6u);
        EXPECT_EQ(tga[2], 2);
        // Bottom row first: pixel (0, 1) has index 1.
        EXPECT_EQ(std::vector<uint8_t>(tga.begin() + 18, tga.begin() + 21), (std::vector<uint8_t>{30, 20, 10}));
        EXPECT_EQ(std::vector<uint8_t>(tga.begin() + 21, tga.begin() + 24), (std::vector<uint8_t>{0, 0, 0}));
    }
}

TEST(ImportPipeline, TgaFileIsWrittenWholeOrNotAtAll)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const fs::path out = fs::path(dir.path().toStdString()) / "out.tga";
    auto picture = MakePhotoLikePicture(5, 4, 1);
    SavePictureAsTgaFile(*picture, out.string());
    EXPECT_EQ(fileBytes(out), tgaOf(*picture));
    EXPECT_EQ(std::distance(fs::directory_iterator(out.parent_path()), fs::directory_iterator()), 1);

    const fs::path missing = fs::path(dir.path().toStdString()) / "no-such-dir" / "x.tga";
    try {
        SavePictureAsTgaFile(*picture, missing.string());
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.message(), "Cannot create file " + missing.string());
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(out.parent_path()), fs::directory_iterator()), 1);
}

// quarnix-tool convert, run as a program next to this test program.
class ConvertTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    int run(const QStringList& args)
    {
        std::vector<std::string> list{"convert"};
        for (const QString& a : args)
            list.push_back(a.toStdString());
        const ToolRun r = runQuarnixTool(list);
        stderr_ = r.err;
        return r.exitCode;
    }
    QString file(const char* name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    std::string stderr_;
};

TEST_F(ConvertTool, ConvertsLikeTheImportAndReportsErrors)
{
    auto photo = MakePhotoLikePicture(48, 36, 11);
    SavePictureAsTgaFile(*photo, file("in.tga").toStdString());

    ASSERT_EQ(run({file("in.tga"), file("out.tga"), "--size", "20x15", "--format", "color256"}), 0) << stderr_;
    std::unique_ptr<TDibGraphic> expected = LoadPictureFromFile(file("in.tga").toStdString(), 1);
    PrepareImportPicture(*expected, QSize(20, 15), ifColor256);
    EXPECT_EQ(fileBytes(file("out.tga").toStdString()), tgaOf(*expected));

    EXPECT_EQ(run({file("in.tga"), file("plain.tga")}), 0) << stderr_;
    EXPECT_EQ(fileBytes(file("plain.tga").toStdString()), fileBytes(file("in.tga").toStdString()));

    const struct {
        QStringList args;
        int code;
        const char* says;
    } failures[] = {
        {{file("in.tga")}, 2, "Usage: quarnix-tool convert"},
        {{file("in.tga"), file("o.tga"), "--size", "20"}, 2, "bad size"},
        {{file("in.tga"), file("o.tga"), "--size", "0x5"}, 2, "bad size"},
        {{file("in.tga"), file("o.tga"), "--format", "rgb16"}, 2, "bad format"},
        {{file("in.tga"), file("o.tga"), "--size"}, 2, "Missing value after '--size'"},
        {{file("in.tga"), file("o.tga"), "--sise", "4x4"}, 2, "Unknown option 'sise'"},
        {{file("missing.tga"), file("o.tga")}, 1, "missing.tga: No such file or directory"},
        {{file("in.tga"), file("o.tga"), "--size", "1x9"}, 1, "Destination graphic too small."},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.args.join(' ').toStdString());
        EXPECT_EQ(run(f.args), f.code);
        EXPECT_NE(stderr_.find(f.says), std::string::npos) << stderr_;
        EXPECT_FALSE(fs::exists(file("o.tga").toStdString()));
    }
}

}  // namespace
