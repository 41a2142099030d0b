// SPDX-License-Identifier: GPL-2.0-or-later
// The picture-format registry: registrations and their order, lookups by
// name, loading and saving by name, the dialog filter, the busy cursor.
#include "imaging/picture_registry.h"

#include "imaging/png_writer.h"

#include "imaging/readers/bmp_graphic.h"
#include "imaging/readers/icon_graphic.h"
#include "imaging/readers/jpeg_graphic.h"
#include "imaging/readers/metafile_graphic.h"
#include "imaging/readers/pcx_graphic.h"
#include "imaging/readers/png_graphic.h"
#include "imaging/readers/tga_graphic.h"
#include "imaging/readers/tiff_graphic.h"
#include "platform/environment.h"
#include "support/tga_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

// Each test starts from a library that has not started yet.
class PictureRegistryTest : public testing::Test {
protected:
    void SetUp() override { ResetPictureRegistryForTesting(); }
    void TearDown() override
    {
        ResetPictureRegistryForTesting();
        setBusyCursorHook(nullptr);
        setBusyCursor(false);
    }
};

template <typename E, typename F>
std::string messageOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.message();
    }
    return "(no error)";
}

std::vector<std::string> registryExtensions()
{
    std::vector<std::string> out;
    for (const PictureFormatEntry& e : PictureFormatRegistry())
        out.push_back(e.extension);
    return out;
}

std::vector<std::string> fileFormatExtensions()
{
    std::vector<std::string> out;
    for (const PictureFileFormat& e : PictureFileFormats())
        out.push_back(e.extension);
    return out;
}

const std::vector<std::string> kLibraryUpper = {"TIF", "TIFF", "TGA", "VST",  "AFI", "PCX",
                                                "PCC", "DCX",  "JPG", "JPEG", "PNG"};

TEST_F(PictureRegistryTest, LibraryRegistrationsInOrder)
{
    EXPECT_EQ(registryExtensions(), kLibraryUpper);
    EXPECT_EQ(fileFormatExtensions(), (std::vector<std::string>{"wmf", "emf", "ico", "bmp", "tif", "tiff", "tga", "vst",
                                                                "afi", "pcx", "pcc", "dcx", "jpg", "jpeg", "png"}));
    const auto& files = PictureFileFormats();
    const std::pair<const char*, const TGraphicClass*> expected[] = {
        {"Metafiles", &TMetaFileGraphic::classInfo},
        {"Enhanced Metafiles", &TMetaFileGraphic::classInfo},
        {"Icons", &TIconGraphic::classInfo},
        {"Bitmaps", &TBitmapGraphic::classInfo},
        {"TIFF file", &TTiffGraphic::classInfo},
        {"TIFF file", &TTiffGraphic::classInfo},
        {"Truevision Targa", &TTgaGraphic::classInfo},
        {"Truevision Vista", &TTgaGraphic::classInfo},
        {"Truevision Targa", &TTgaGraphic::classInfo},
        {"ZSoft PC Paintbrush", &TPcxGraphic::classInfo},
        {"ZSoft PC Paintbrush", &TPcxGraphic::classInfo},
        {"DCX file", &TDcxGraphic::classInfo},
        {"JPEG", &TJpegGraphic::classInfo},
        {"JPEG", &TJpegGraphic::classInfo},
        {"Portable Network Graphic", &TPngGraphic::classInfo},
    };
    ASSERT_EQ(files.size(), std::size(expected));
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].description, expected[i].first) << i;
        EXPECT_EQ(files[i].graphicClass, expected[i].second) << i;
        if (i >= 4) {
            EXPECT_EQ(PictureFormatRegistry()[i - 4].graphicClass, expected[i].second) << i;
        }
    }
}

TEST_F(PictureRegistryTest, PreviewFormatsAreAddedOnce)
{
    InitImageLibrary();
    InitImageLibrary();
    EXPECT_EQ(PictureFormatRegistry().size(), 11u);
    RegisterImportPreviewFormats();
    EXPECT_EQ(PictureFormatRegistry().size(), 15u);
    EXPECT_EQ(PictureFileFormats().size(), 19u);
    RegisterImportPreviewFormats();
    InitImageLibrary();
    EXPECT_EQ(PictureFormatRegistry().size(), 15u);
    EXPECT_EQ(PictureFileFormats().size(), 19u);

    std::vector<std::string> all = kLibraryUpper;
    all.insert(all.end(), {"BMP", "ICO", "WMF", "EMF"});
    EXPECT_EQ(registryExtensions(), all);
    const auto& files = PictureFileFormats();
    EXPECT_EQ(files[15].description, "Bitmap file");
    EXPECT_EQ(files[16].description, "Windows icon");
    EXPECT_EQ(files[17].description, "Windows meta file");
    EXPECT_EQ(files[18].description, "Enhanced meta file");
    EXPECT_EQ(files[18].extension, "emf");
    EXPECT_EQ(FindPictureFormat("x.bmp"), &TBitmapGraphic::classInfo);
    EXPECT_EQ(FindPictureFormat("x.ico"), &TIconGraphic::classInfo);
    EXPECT_EQ(FindPictureFormat("x.emf"), &TMetaFileGraphic::classInfo);
}

TEST_F(PictureRegistryTest, PreviewFormatsSkipWhatIsRegistered)
{
    // WMF registered elsewhere: EMF is not added either, BMP and ICO are.
    RegisterPictureFormat("wmf", "Mine", TTgaGraphic::classInfo);
    RegisterImportPreviewFormats();
    std::vector<std::string> all = kLibraryUpper;
    all.insert(all.end(), {"WMF", "BMP", "ICO"});
    EXPECT_EQ(registryExtensions(), all);
}

TEST_F(PictureRegistryTest, RegisterCasesExtensionsAndKeepsDuplicates)
{
    RegisterPictureFormat("tGa", "Second", TPngGraphic::classInfo);
    ASSERT_EQ(PictureFormatRegistry().size(), 12u);
    EXPECT_EQ(PictureFormatRegistry().back().extension, "TGA");
    EXPECT_EQ(PictureFileFormats().back().extension, "tga");
    EXPECT_EQ(PictureFileFormats().back().description, "Second");
    EXPECT_EQ(FindPictureFormat("a.tga"), &TTgaGraphic::classInfo);  // the first entry wins
}

TEST_F(PictureRegistryTest, FindByNameOrExtension)
{
    RegisterImportPreviewFormats();
    const struct {
        const char* name;
        const TGraphicClass* cls;
    } cases[] = {
        {"picture.Png", &TPngGraphic::classInfo},
        {"PNG", &TPngGraphic::classInfo},
        {"tga", &TTgaGraphic::classInfo},
        {"photo.jpg", &TJpegGraphic::classInfo},
        {"C:\\pictures\\PHOTO.JPG", &TJpegGraphic::classInfo},
        {"JPG", &TJpegGraphic::classInfo},
        {"*.BMP", &TBitmapGraphic::classInfo},
        {"/home/user/scan.tiff", &TTiffGraphic::classInfo},
        {"C:scan.TIF", &TTiffGraphic::classInfo},
        {"x.vst", &TTgaGraphic::classInfo},
        {"x.AFI", &TTgaGraphic::classInfo},
        {"x.pcc", &TPcxGraphic::classInfo},
        {"x.dcx", &TDcxGraphic::classInfo},
        {"archive.tar.png", &TPngGraphic::classInfo},
        {"C:\\dir.tga\\file", nullptr},
        {"/home/user/dir.tga/file", nullptr},
        {"C:dir.tga:file", nullptr},
        {"picture", nullptr},
        {"picture.gif", nullptr},
        {"picture.", nullptr},
        {"", nullptr},
        {".tga", &TTgaGraphic::classInfo},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindPictureFormat(c.name), c.cls) << c.name;
}

TEST_F(PictureRegistryTest, CreatePictureForName)
{
    std::unique_ptr<TDibGraphic> tga = CreatePictureForName("TGA");
    ASSERT_TRUE(tga);
    EXPECT_EQ(&tga->graphicClass(), &TTgaGraphic::classInfo);
    EXPECT_TRUE(tga->IsEmpty());
    EXPECT_EQ(&CreatePictureForName("a.pcc")->graphicClass(), &TPcxGraphic::classInfo);

    EXPECT_EQ(messageOf<ETavrinError>([] { CreatePictureForName("x.xyz"); }),
              "Graphic files of .xyz format are not supported or not registered");
    EXPECT_EQ(messageOf<ETavrinError>([] { CreatePictureForName("x.XyZ"); }),
              "Graphic files of .XyZ format are not supported or not registered");
    EXPECT_EQ(messageOf<ETavrinError>([] { CreatePictureForName("picture"); }),
              "Graphic files of  format are not supported or not registered");
}

std::vector<uint8_t> smallTga()
{
    return tga_fixture::makeTga(2, 24, 2, 1, {1, 2, 3, 4, 5, 6}).bytes();
}

TEST_F(PictureRegistryTest, LoadFromStreamByName)
{
    for (const char* name : {"x.tga", "X.TGA", "TGA", "d:\\x.Vst"}) {
        TMemoryStream s(smallTga());
        std::unique_ptr<TDibGraphic> p = LoadPictureFromStream(s, name, 1);
        ASSERT_TRUE(p) << name;
        EXPECT_EQ(&p->graphicClass(), &TTgaGraphic::classInfo) << name;
        EXPECT_EQ(p->Width(), 2) << name;
        EXPECT_EQ(p->GetPixelColor(1, 0), MakeColor(6, 5, 4)) << name;
        EXPECT_EQ(p->ImageIndex, 1);
        EXPECT_FALSE(p->MultiImage);
    }
    TMemoryStream s3(smallTga());
    auto third = LoadPictureFromStream(s3, "x.tga", 3);
    EXPECT_EQ(third->ImageIndex, 3);
    EXPECT_FALSE(third->MultiImage);
    TMemoryStream s0(smallTga());
    auto multi = LoadPictureFromStream(s0, "x.tga", 0);
    EXPECT_EQ(multi->ImageIndex, 1);
    EXPECT_TRUE(multi->MultiImage);

    // The stream is read from its position.
    std::vector<uint8_t> prefixed = {9, 9, 9};
    const std::vector<uint8_t> tga = smallTga();
    prefixed.insert(prefixed.end(), tga.begin(), tga.end());
    TMemoryStream sp(prefixed);
    sp.Seek(3, SeekOrigin::Begin);
    EXPECT_EQ(LoadPictureFromStream(sp, "x.tga", 1)->GetPixelColor(0, 0), MakeColor(3, 2, 1));

    // A reader's failure reaches the caller unchanged.
    TMemoryStream bad(std::vector<uint8_t>(40, 0));
    EXPECT_EQ(messageOf<EVeskError>([&] { LoadPictureFromStream(bad, "x.tga", 1); }), "vesk_read_header failed.");
}

TEST_F(PictureRegistryTest, UnknownExtensions)
{
    RegisterImportPreviewFormats();
    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"picture.gif", "Unknown picture file extension (.gif)"},
        {"PICTURE.GIF", "Unknown picture file extension (.gif)"},
        {"picture", "Unknown picture file extension (.)"},
        {"C:\\dir.tga\\file", "Unknown picture file extension (.)"},
    };
    for (const auto& c : cases) {
        TMemoryStream s(smallTga());
        EXPECT_EQ(messageOf<EInvalidGraphic>([&] { LoadPictureFromStream(s, c.name, 1); }), c.message) << c.name;
    }
}

TEST_F(PictureRegistryTest, ContainerListReadsIntoAPlainBitmap)
{
    TMemoryStream s(smallTga());
    std::unique_ptr<TDibGraphic> p = LoadPictureFromContainer(s, "Y.TGA");
    EXPECT_EQ(&p->graphicClass(), &TDibGraphic::classInfo);
    EXPECT_EQ(p->GetPixelColor(1, 0), MakeColor(6, 5, 4));
    TMemoryStream none(smallTga());
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { LoadPictureFromContainer(none, "y.xyz"); }),
              "Unknown picture file extension (.xyz)");
}

class TempFile {
public:
    explicit TempFile(const std::string& name)
        : path_((std::filesystem::temp_directory_path() / ("qx_registry_" + std::to_string(getpid()) + "_" + name))
                    .string())
    {}
    ~TempFile() { std::remove(path_.c_str()); }
    void write(const std::vector<uint8_t>& bytes) const
    {
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST_F(PictureRegistryTest, LoadFromFile)
{
    TempFile good("PHOTO.TGA");
    good.write(smallTga());
    std::unique_ptr<TDibGraphic> p = LoadPictureFromFile(good.path(), 1);
    EXPECT_EQ(p->GetPixelColor(0, 0), MakeColor(3, 2, 1));

    TempFile missing("missing.tga");
    EXPECT_EQ(messageOf<EFOpenError>([&] { LoadPictureFromFile(missing.path(), 1); }),
              "Cannot open file " + missing.path());

    // The file is closed after a failed load: an exclusive open succeeds.
    TempFile bad("bad.tga");
    bad.write(std::vector<uint8_t>(10, 0));
    EXPECT_THROW(LoadPictureFromFile(bad.path(), 1), EVeskError);
    EXPECT_NO_THROW(TFileStream(bad.path(), FileMode::OpenReadWriteExclusive));
    TempFile gif("x.gif");
    gif.write(smallTga());
    EXPECT_THROW(LoadPictureFromFile(gif.path(), 1), EInvalidGraphic);
    EXPECT_NO_THROW(TFileStream(gif.path(), FileMode::OpenReadWriteExclusive));
}

// A second reading of a picture without its alpha is spared only where it
// would give the same picture: an opaque 8-bit PNG, with or without the
// sRGB chunk (without it the reader corrects the gamma both ways). Reading
// it again without alpha must then give exactly the colours and format read
// with alpha; a translucent pixel or another kind of file is read again.
TEST_F(PictureRegistryTest, ReadingWithoutAlphaIsSparedOnlyWhereItGivesTheSamePicture)
{
    struct Case {
        const char* name;
        bool alpha;
        int srgb;
        uint8_t oneAlpha;  // alpha of pixel (1, 1); the others 255
        bool spared;
    } const cases[] = {
        {"rgba_srgb.png", true, 0, 255, true},  {"rgba_gamma.png", true, -1, 255, true},
        {"rgb_srgb.png", false, 0, 255, true},  {"rgb_gamma.png", false, -1, 255, true},
        {"rgba_half.png", true, 0, 128, false}, {"rgba_clear.png", true, -1, 0, false},
    };
    const int w = 7, h = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PngRows rows;
        rows.width = w;
        rows.height = h;
        rows.alpha = c.alpha;
        rows.srgbIntent = c.srgb;
        rows.row = [&](int y, uint8_t* out) {
            for (int x = 0; x < w; ++x) {
                const int i = y * w + x;
                *out++ = uint8_t(i * 37);
                *out++ = uint8_t(255 - i * 11);
                *out++ = uint8_t(i * 101 + 3);
                if (c.alpha)
                    *out++ = x == 1 && y == 1 ? c.oneAlpha : 255;
            }
        };
        TempFile file(c.name);
        file.write(encodePng(rows));
        std::unique_ptr<TDibGraphic> with = LoadPictureFromFile(file.path(), 1, true);
        EXPECT_EQ(ReadWithoutAlphaIsSame(file.path(), *with), c.spared);
        if (!c.spared)
            continue;
        std::unique_ptr<TDibGraphic> without = LoadPictureFromFile(file.path(), 1, false);
        ASSERT_EQ(without->ImageFormat(), with->ImageFormat());
        EXPECT_TRUE(without->AlphaPlane.empty());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                EXPECT_EQ(without->GetPixelColor(x, y), with->GetPixelColor(x, y)) << x << "," << y;
            }
    }
    TempFile tga("opaque.tga");
    tga.write(smallTga());
    EXPECT_FALSE(ReadWithoutAlphaIsSame(tga.path(), *LoadPictureFromFile(tga.path(), 1, true)));
}

const char* const kFilterAtStart =
    "All (*.png;*.jpeg;*.jpg;*.dcx;*.pcc;*.pcx;*.afi;*.vst;*.tga;*.tiff;*.tif;*.bmp;*.ico;*.emf;*.wmf)"
    "|*.png;*.jpeg;*.jpg;*.dcx;*.pcc;*.pcx;*.afi;*.vst;*.tga;*.tiff;*.tif;*.bmp;*.ico;*.emf;*.wmf"
    "|Portable Network Graphic (*.png)|*.png"
    "|JPEG (*.jpeg)|*.jpeg"
    "|JPEG (*.jpg)|*.jpg"
    "|DCX file (*.dcx)|*.dcx"
    "|ZSoft PC Paintbrush (*.pcc)|*.pcc"
    "|ZSoft PC Paintbrush (*.pcx)|*.pcx"
    "|Truevision Targa (*.afi)|*.afi"
    "|Truevision Vista (*.vst)|*.vst"
    "|Truevision Targa (*.tga)|*.tga"
    "|TIFF file (*.tiff)|*.tiff"
    "|TIFF file (*.tif)|*.tif"
    "|Bitmaps (*.bmp)|*.bmp"
    "|Icons (*.ico)|*.ico"
    "|Enhanced Metafiles (*.emf)|*.emf"
    "|Metafiles (*.wmf)|*.wmf";

// Count of description-and-patterns pairs in a filter.
size_t filterEntries(const std::string& filter)
{
    return (size_t(std::count(filter.begin(), filter.end(), '|')) + 1) / 2;
}

TEST_F(PictureRegistryTest, FilterAtStartAndAfterPreviewFormats)
{
    const std::string atStart = BuildPictureFilter(TGraphic::classInfo);
    EXPECT_EQ(atStart, kFilterAtStart);
    EXPECT_EQ(filterEntries(atStart), 16u);

    RegisterImportPreviewFormats();
    const std::string after = BuildPictureFilter(TGraphic::classInfo);
    EXPECT_EQ(filterEntries(after), 20u);
    const std::string expected =
        "All (*.emf;*.wmf;*.ico;*.bmp;*.png;*.jpeg;*.jpg;*.dcx;*.pcc;*.pcx;*.afi;*.vst;*.tga;*.tiff;*.tif;"
        "*.bmp;*.ico;*.emf;*.wmf)"
        "|*.emf;*.wmf;*.ico;*.bmp;*.png;*.jpeg;*.jpg;*.dcx;*.pcc;*.pcx;*.afi;*.vst;*.tga;*.tiff;*.tif;"
        "*.bmp;*.ico;*.emf;*.wmf"
        "|Enhanced meta file (*.emf)|*.emf"
        "|Windows meta file (*.wmf)|*.wmf"
        "|Windows icon (*.ico)|*.ico"
        "|Bitmap file (*.bmp)|*.bmp"
        + std::string(kFilterAtStart).substr(std::string(kFilterAtStart).find("|Portable"));
    EXPECT_EQ(after, expected);
}

TEST_F(PictureRegistryTest, FilterForASubclass)
{
    EXPECT_EQ(BuildPictureFilter(TTgaGraphic::classInfo),
              "All (*.afi;*.vst;*.tga)|*.afi;*.vst;*.tga|Truevision Targa (*.afi)|*.afi"
              "|Truevision Vista (*.vst)|*.vst|Truevision Targa (*.tga)|*.tga");
    EXPECT_EQ(BuildPictureFilter(TDcxGraphic::classInfo), "DCX file (*.dcx)|*.dcx");
    // TDcxGraphic derives from TPcxGraphic.
    EXPECT_EQ(filterEntries(BuildPictureFilter(TPcxGraphic::classInfo)), 4u);
    static const TGraphicClass unrelated{"TUnrelated", &TGraphic::classInfo, nullptr};
    EXPECT_EQ(BuildPictureFilter(unrelated), "");
}

TEST_F(PictureRegistryTest, SaveAsTgaUnderBusyCursor)
{
    std::vector<bool> cursor;
    setBusyCursorHook([&](bool busy) { cursor.push_back(busy); });
    TDibGraphic bitmap;
    bitmap.NewImage(2, 2, ifRgb24, nullptr, 0, 0);
    bitmap.SetPixelColor(0, 0, MakeColor(1, 2, 3));

    TMemoryStream out;
    const TGraphicClass* seenClass = nullptr;
    bool busyInside = false;
    SavePictureToStream(bitmap, out, "TGA", [&](TDibGraphic& picture) {
        seenClass = &picture.graphicClass();
        busyInside = busyCursorShown();
        EXPECT_EQ(picture.Width(), 2);
    });
    EXPECT_EQ(seenClass, &TTgaGraphic::classInfo);
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(cursor, (std::vector<bool>{true, false}));

    TTgaGraphic direct;
    direct.Assign(&bitmap);
    TMemoryStream expected;
    direct.WriteToStream(expected);
    EXPECT_EQ(out.bytes(), expected.bytes());
}

TEST_F(PictureRegistryTest, NestedSavesKeepTheCursorBusyUntilTheOutermostEnds)
{
    std::vector<bool> cursor;
    setBusyCursorHook([&](bool busy) { cursor.push_back(busy); });
    TDibGraphic bitmap;
    bitmap.NewImage(1, 1, ifRgb24, nullptr, 0, 0);
    TMemoryStream outer, inner;
    bool busyAfterInner = false;
    SavePictureToStream(bitmap, outer, "TGA", [&](TDibGraphic&) {
        SavePictureToStream(bitmap, inner, "x.tga");
        busyAfterInner = busyCursorShown();
    });
    EXPECT_TRUE(busyAfterInner);
    EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
    EXPECT_EQ(inner.bytes(), outer.bytes());
}

TEST_F(PictureRegistryTest, FailedSavesResetTheCursor)
{
    TDibGraphic grey16;
    grey16.NewImage(2, 2, ifColor16, nullptr, 0, 0);
    TMemoryStream out;
    EXPECT_EQ(messageOf<ETgaError>([&] { SavePictureToStream(grey16, out, "TGA"); }),
              "TARGA image must be true color or 8 bit with palette");
    EXPECT_FALSE(busyCursorShown());
    EXPECT_EQ(out.Size(), 0);

    EXPECT_EQ(messageOf<ETavrinError>([&] { SavePictureToStream(grey16, out, "x.xyz"); }),
              "Graphic files of .xyz format are not supported or not registered");
    EXPECT_FALSE(busyCursorShown());

    // PNG pictures are read, never written: the save fails instead of
    // leaving an empty stream behind as if it had succeeded.
    EXPECT_EQ(messageOf<ETavrinError>([&] { SavePictureToStream(grey16, out, "x.png"); }),
              "Method \"WriteToStream\" not implemented for TPngGraphic class");
    EXPECT_FALSE(busyCursorShown());
    EXPECT_EQ(out.Size(), 0);

    // A second save after the failures still pairs busy and default.
    std::vector<bool> cursor;
    setBusyCursorHook([&](bool busy) { cursor.push_back(busy); });
    TDibGraphic rgb;
    rgb.NewImage(1, 1, ifRgb24, nullptr, 0, 0);
    SavePictureToStream(rgb, out, "TGA");
    EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
}

}  // namespace
