// SPDX-License-Identifier: GPL-2.0-or-later
// TMetaFileGraphic: sizes computed from the headers, placeable Windows
// metafiles through libwmf and enhanced metafiles through libemf2svg drawn
// onto white with their frame mapped onto the bitmap, and the messages.
#include "imaging/readers/metafile_graphic.h"
#include "platform/environment.h"
#include "support/bmp_builder.h"
#include "support/metafile_builder.h"
#include "tests/imaging/readers/reader_test_util.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using metafile_fixture::EmfHeader;
using metafile_fixture::FilledRect;
using reader_test::messageOf;
using reader_test::readPicture;

constexpr uint32_t kWhite = 0xFFFFFF;

std::string invalidMessage(const std::vector<uint8_t>& bytes)
{
    return messageOf<EInvalidGraphic>([&] { readPicture<TMetaFileGraphic>(bytes); });
}

// Screen resolution set for one test and put back afterwards.
class ScreenDpi {
public:
    ScreenDpi(int x, int y) : oldX_(screenDpiX()), oldY_(screenDpiY()) { setScreenDpi(x, y); }
    ~ScreenDpi() { setScreenDpi(oldX_, oldY_); }

private:
    int oldX_, oldY_;
};

TEST(MetafileReader, PlaceableMetafileIsDrawnOntoWhite)
{
    ScreenDpi dpi(96, 96);
    // 960 x 480 units at 96 per inch; the left half is filled red. A header
    // of 0 units per inch is drawn as 96.
    const auto records = metafile_fixture::wmfFillRecords(0, 0, 960, 480, {{0, 0, 480, 480, 255, 0, 0}});
    for (uint16_t inch : {96, 0}) {
        auto g = readPicture<TMetaFileGraphic>(metafile_fixture::placeableWmf(0, 0, 960, 480, inch, records));
        ASSERT_EQ(g->Width(), 960) << inch;
        ASSERT_EQ(g->Height(), 480) << inch;
        EXPECT_EQ(g->ImageFormat(), ifRgb24);
        EXPECT_EQ(g->GetPixelColor(10, 10), 0xFF0000u) << inch;
        EXPECT_EQ(g->GetPixelColor(470, 470), 0xFF0000u) << inch;
        EXPECT_EQ(g->GetPixelColor(490, 10), kWhite) << inch;
        EXPECT_EQ(g->GetPixelColor(950, 470), kWhite) << inch;
    }
}

TEST(MetafileReader, PlaceableBoundingBoxIsMappedOntoTheBitmap)
{
    ScreenDpi dpi(96, 96);
    // A box that does not start at 0, with the window origin at its corner:
    // the rectangle over the box's left half fills the bitmap's left half.
    const auto records = metafile_fixture::wmfFillRecords(-100, -50, 200, 100, {{-100, -50, 0, 50, 0, 0, 255}});
    auto g = readPicture<TMetaFileGraphic>(metafile_fixture::placeableWmf(-100, -50, 100, 50, 96, records));
    ASSERT_EQ(g->Width(), 200);
    ASSERT_EQ(g->Height(), 100);
    EXPECT_EQ(g->GetPixelColor(5, 5), 0x0000FFu);
    EXPECT_EQ(g->GetPixelColor(95, 95), 0x0000FFu);
    EXPECT_EQ(g->GetPixelColor(105, 5), kWhite);
    EXPECT_EQ(g->GetPixelColor(195, 95), kWhite);
    // Finer units: 1440 per inch, a quarter of the picture in the top left.
    const auto fine = metafile_fixture::wmfFillRecords(0, 0, 1440, 720, {{0, 0, 720, 360, 0, 128, 0}});
    g = readPicture<TMetaFileGraphic>(metafile_fixture::placeableWmf(0, 0, 1440, 720, 1440, fine));
    ASSERT_EQ(g->Width(), 96);
    ASSERT_EQ(g->Height(), 48);
    EXPECT_EQ(g->GetPixelColor(10, 10), 0x008000u);
    EXPECT_EQ(g->GetPixelColor(60, 10), kWhite);
    EXPECT_EQ(g->GetPixelColor(10, 35), kWhite);
}

TEST(MetafileReader, PlaceableSizeRules)
{
    struct Case {
        int16_t left, top, right, bottom;
        uint16_t inch;
        int dpi;
        int64_t width, height;
    } cases[] = {
        {0, 0, 960, 480, 96, 96, 960, 480},  {0, 0, 960, 480, 0, 96, 960, 480},  // 0 units per inch counts as 96
        {0, 0, 100, 50, 96, 192, 200, 100},                                      // a screen of 192 pixels per inch
        {0, 0, 1440, 720, 1440, 96, 96, 48}, {-32768, 0, 32767, 13, 1000, 96, 6291, 1},  // rounded at each step
        {0, 0, 7, 7, 300, 120, 3, 3},
    };
    for (const Case& c : cases) {
        ScreenDpi dpi(c.dpi, c.dpi);
        const auto bytes = metafile_fixture::placeableWmf(c.left, c.top, c.right, c.bottom, c.inch, {});
        const MetafileInfo info = InspectMetafile(bytes.data(), bytes.size());
        EXPECT_EQ(info.kind, MetafileKind::Placeable);
        EXPECT_EQ(info.width, c.width) << c.right << " " << c.inch;
        EXPECT_EQ(info.height, c.height) << c.bottom << " " << c.inch;
    }
}

TEST(MetafileReader, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDivRound(5, 1, 2), 3);
    EXPECT_EQ(MulDivRound(-5, 1, 2), -3);
    EXPECT_EQ(MulDivRound(5, -1, 2), -3);
    EXPECT_EQ(MulDivRound(7, 3, 2), 11);
    EXPECT_EQ(MulDivRound(7, 1, 3), 2);
    EXPECT_EQ(MulDivRound(2147483647, 2147483647, 1), int64_t(2147483647) * 2147483647);
    EXPECT_EQ(MulDivRound(1, 1, 0), 0);
    EXPECT_EQ(MulDivRound(int64_t(1) << 62, 8, 1), INT64_MAX);
    EXPECT_EQ(MulDivRound(-(int64_t(1) << 62), 8, 1), -INT64_MAX);
}

TEST(MetafileReader, EnhancedMetafileIsDrawnWithItsFrameMappedOntoTheBitmap)
{
    // 96 pixels per inch on the reference device; a frame of 26.45 mm is 100 pixels.
    EmfHeader h;
    auto g = readPicture<TMetaFileGraphic>(
        metafile_fixture::enhancedMetafile(h, metafile_fixture::emfFillRecords({{0, 0, 50, 100, 0, 200, 0}})));
    ASSERT_EQ(g->Width(), 100);
    ASSERT_EQ(g->Height(), 100);
    EXPECT_EQ(g->ImageFormat(), ifRgb24);
    EXPECT_EQ(g->GetPixelColor(20, 50), 0x00C800u);
    EXPECT_EQ(g->GetPixelColor(80, 50), kWhite);

    // A frame twice the drawing's bounds: the drawing takes the top left quarter.
    h.frame[2] = h.frame[3] = 5290;
    g = readPicture<TMetaFileGraphic>(
        metafile_fixture::enhancedMetafile(h, metafile_fixture::emfFillRecords({{0, 0, 100, 100, 0, 0, 200}})));
    ASSERT_EQ(g->Width(), 200);
    EXPECT_EQ(g->GetPixelColor(50, 50), 0x0000C8u);
    EXPECT_EQ(g->GetPixelColor(150, 50), kWhite);
    EXPECT_EQ(g->GetPixelColor(50, 150), kWhite);

    // A frame away from the origin, on bounds away from it too.
    EmfHeader off;
    off.bounds[0] = off.bounds[1] = 100;
    off.bounds[2] = off.bounds[3] = 199;
    off.frame[0] = off.frame[1] = 2645;
    off.frame[2] = off.frame[3] = 5290;
    g = readPicture<TMetaFileGraphic>(
        metafile_fixture::enhancedMetafile(off, metafile_fixture::emfFillRecords({{100, 100, 150, 200, 200, 0, 0}})));
    ASSERT_EQ(g->Width(), 100);
    EXPECT_EQ(g->GetPixelColor(20, 50), 0xC80000u);
    EXPECT_EQ(g->GetPixelColor(80, 50), kWhite);
}

TEST(MetafileReader, EnhancedSizeComesFromTheReferenceDevice)
{
    EmfHeader h;
    h.frame[2] = 10000;  // 100 mm
    h.frame[3] = 5000;
    h.devicePixels[0] = 1920;
    h.devicePixels[1] = 1080;
    h.deviceMillimetres[0] = 480;
    h.deviceMillimetres[1] = 270;
    const auto bytes = metafile_fixture::enhancedMetafile(h, {});
    const MetafileInfo info = InspectMetafile(bytes.data(), bytes.size());
    EXPECT_EQ(info.kind, MetafileKind::Enhanced);
    EXPECT_EQ(info.width, 400);   // 10000 * 1920 / 48000
    EXPECT_EQ(info.height, 200);  // 5000 * 1080 / 27000
    EXPECT_EQ(info.length, int64_t(bytes.size()));
}

TEST(MetafileReader, NotValidMessages)
{
    const auto records = metafile_fixture::wmfFillRecords(0, 0, 10, 10, {{0, 0, 5, 5, 1, 2, 3}});
    // Wrong checksum, wrong key, nothing, too short.
    EXPECT_EQ(invalidMessage(metafile_fixture::placeableWmf(0, 0, 10, 10, 96, records, false)),
              "Metafile is not valid");
    std::vector<uint8_t> bytes = metafile_fixture::placeableWmf(0, 0, 10, 10, 96, records);
    bytes[0] ^= 0xFF;
    EXPECT_EQ(invalidMessage(bytes), "Metafile is not valid");
    EXPECT_EQ(invalidMessage({}), "Metafile is not valid");
    bytes = metafile_fixture::placeableWmf(0, 0, 10, 10, 96, records);
    bytes.resize(30);
    EXPECT_EQ(invalidMessage(bytes), "Metafile is not valid");
    // An empty or inverted bounding box.
    EXPECT_EQ(invalidMessage(metafile_fixture::placeableWmf(0, 0, 0, 10, 96, records)), "Metafile is not valid");
    EXPECT_EQ(invalidMessage(metafile_fixture::placeableWmf(10, 0, 0, 10, 96, records)), "Metafile is not valid");
    // A Windows metafile without the placeable header.
    bytes = metafile_fixture::placeableWmf(0, 0, 10, 10, 96, records);
    EXPECT_EQ(invalidMessage(std::vector<uint8_t>(bytes.begin() + 22, bytes.end())), "Metafile is not valid");
    // A metafile header libwmf does not take.
    bytes = metafile_fixture::placeableWmf(0, 0, 10, 10, 96, records);
    le_bytes::set16(bytes, 22 + 2, 3);
    EXPECT_EQ(invalidMessage(bytes), "Metafile is not valid");

    const auto emf =
        metafile_fixture::enhancedMetafile(EmfHeader{}, metafile_fixture::emfFillRecords({{0, 0, 5, 5, 1, 2, 3}}));
    // Total size beyond the stream, or below the header.
    bytes = emf;
    le_bytes::set32(bytes, 48, uint32_t(emf.size() + 1));
    EXPECT_EQ(invalidMessage(bytes), "Metafile is not valid");
    bytes = emf;
    le_bytes::set32(bytes, 48, 40);
    EXPECT_EQ(invalidMessage(bytes), "Metafile is not valid");
    // No millimetres on the reference device, an empty frame.
    bytes = emf;
    le_bytes::set32(bytes, 80, 0);
    EXPECT_EQ(invalidMessage(bytes), "Metafile is not valid");
    bytes = emf;
    le_bytes::set32(bytes, 32, 0);
    EXPECT_EQ(invalidMessage(bytes), "Metafile is not valid");
    // A frame whose sides run backwards (found by fuzzing: the sizes' product overflowed).
    EmfHeader backwards;
    backwards.frame[0] = 6488064;
    backwards.frame[1] = 1886351360;
    backwards.frame[2] = backwards.frame[3] = 2540;
    backwards.devicePixels[0] = 973079488;
    EXPECT_EQ(invalidMessage(metafile_fixture::enhancedMetafile(backwards, {})), "Metafile is not valid");
    // Fewer than 101 bytes is not an enhanced metafile.
    bytes = metafile_fixture::enhancedMetafile(EmfHeader{}, {});
    ASSERT_LT(bytes.size(), 110u);
    bytes.resize(100);
    le_bytes::set32(bytes, 48, 100);
    EXPECT_EQ(invalidMessage(bytes), "Metafile is not valid");
}

TEST(MetafileReader, PictureTooLargeForMemoryIsRefusedWithAMessage)
{
    ScreenDpi dpi(96, 96);
    auto tooLarge = [](const std::vector<uint8_t>& bytes) {
        return messageOf<EOutOfMemory>([&] { readPicture<TMetaFileGraphic>(bytes); });
    };
    EXPECT_EQ(tooLarge(metafile_fixture::placeableWmf(0, 0, 32767, 32767, 1, {})), "Image is too large");
    EmfHeader h;
    h.frame[2] = h.frame[3] = 2000000000;
    EXPECT_EQ(tooLarge(metafile_fixture::enhancedMetafile(h, {})), "Image is too large");
    // Both sides just inside 32 bits: their product must not overflow the size check.
    h.devicePixels[0] = h.devicePixels[1] = 100;
    h.deviceMillimetres[0] = h.deviceMillimetres[1] = 1;
    EXPECT_EQ(tooLarge(metafile_fixture::enhancedMetafile(h, {})), "Image is too large");
    // Sizes beyond 64 bits saturate.
    h.frame[0] = h.frame[1] = -2147483647 - 1;
    h.frame[2] = h.frame[3] = 2147483647;
    h.devicePixels[0] = h.devicePixels[1] = 2147483647;
    const auto huge = metafile_fixture::enhancedMetafile(h, {});
    EXPECT_GT(InspectMetafile(huge.data(), huge.size()).width, 0);
    EXPECT_EQ(tooLarge(huge), "Image is too large");
}

TEST(MetafileReader, MetafilesWithTextAreReadWithOrWithoutAGuiApplication)
{
    // Without a QGuiApplication (as in this test program and the command-line
    // tool) Qt cannot draw text; the rest of the picture is still drawn.
    ScreenDpi dpi(96, 96);
    auto records = metafile_fixture::wmfFillRecords(0, 0, 100, 100, {{0, 0, 50, 100, 255, 0, 0}});
    const auto text = metafile_fixture::wmfTextOut(60, 10, "Hello <b>&amp; \xE9");
    records.insert(records.end(), text.begin(), text.end());
    auto g = readPicture<TMetaFileGraphic>(metafile_fixture::placeableWmf(0, 0, 100, 100, 96, records));
    EXPECT_EQ(g->GetPixelColor(20, 50), 0xFF0000u);
    EXPECT_EQ(g->GetPixelColor(90, 90), kWhite);

    auto emfRecords = metafile_fixture::emfFillRecords({{0, 0, 50, 100, 0, 0, 255}});
    const auto emfText = metafile_fixture::emfTextOut(60, 10, "Hello");
    emfRecords.insert(emfRecords.end(), emfText.begin(), emfText.end());
    g = readPicture<TMetaFileGraphic>(metafile_fixture::enhancedMetafile(EmfHeader{}, emfRecords));
    EXPECT_EQ(g->GetPixelColor(20, 50), 0x0000FFu);
    EXPECT_EQ(g->GetPixelColor(90, 90), kWhite);
}

TEST(MetafileReader, ShapesAndTextRecordsAreReadWhereNoFontFileCanBeFound)
{
    // libwmf's font lookup pointed at an empty directory, as on a system
    // without the font package it looks for: a missing font may cost the
    // text its exact metrics, never the picture.
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const std::string dir = empty.path().toStdString();
    SetMetafileFontDirectoryForTesting(dir.c_str());
    struct Restore {
        ~Restore() { SetMetafileFontDirectoryForTesting(nullptr); }
    } restore;

    ScreenDpi dpi(96, 96);
    const auto shapes = metafile_fixture::wmfFillRecords(0, 0, 100, 100, {{0, 0, 50, 100, 0, 128, 0}});
    auto withText = shapes;
    const auto text = metafile_fixture::wmfTextOut(60, 10, "Hello");
    withText.insert(withText.end(), text.begin(), text.end());
    for (const std::vector<uint8_t>* records : std::initializer_list<const std::vector<uint8_t>*>{&shapes, &withText}) {
        auto g = readPicture<TMetaFileGraphic>(metafile_fixture::placeableWmf(0, 0, 100, 100, 96, *records));
        ASSERT_EQ(g->Width(), 100);
        EXPECT_EQ(g->GetPixelColor(20, 50), 0x008000u);
        EXPECT_EQ(g->GetPixelColor(90, 90), kWhite);
    }
}

TEST(MetafileReader, ImagesAreDrawnOnlyFromDataInsideTheMetafile)
{
    // Text that closes its own element smuggles two images into the SVG the
    // converter writes: one from embedded data, one from a file on disk.
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(red.save(&buffer, "PNG"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("red.png");
    ASSERT_TRUE(red.save(file, "PNG"));

    const std::string smuggled =
        std::string("]]></text>")
        + "<image x=\"0\" y=\"0\" width=\"50\" height=\"100\" xlink:href=\"data:image/png;base64,"
        + png.toBase64().toStdString() + "\"/>" + "<image x=\"50\" y=\"0\" width=\"50\" height=\"100\" xlink:href=\""
        + file.toStdString() + "\"/><text><![CDATA[";
    auto g = readPicture<TMetaFileGraphic>(
        metafile_fixture::enhancedMetafile(EmfHeader{}, metafile_fixture::emfTextOut(10, 10, smuggled)));
    EXPECT_EQ(g->GetPixelColor(25, 50), 0xFF0000u);  // the embedded image
    EXPECT_EQ(g->GetPixelColor(75, 50), kWhite);     // the file is not read
}

TEST(MetafileReader, ReadsFromTheStreamPosition)
{
    std::vector<uint8_t> bytes = {1, 2, 3, 4};
    const auto emf =
        metafile_fixture::enhancedMetafile(EmfHeader{}, metafile_fixture::emfFillRecords({{0, 0, 100, 100, 9, 9, 9}}));
    bytes.insert(bytes.end(), emf.begin(), emf.end());
    TMemoryStream stream(bytes);
    stream.Seek(4, SeekOrigin::Begin);
    TMetaFileGraphic g;
    g.ReadFromStream(stream);
    EXPECT_EQ(g.GetPixelColor(50, 50), MakeColor(9, 9, 9));
}

}  // namespace
