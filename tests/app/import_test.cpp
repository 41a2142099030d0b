// SPDX-License-Identifier: GPL-2.0-or-later
// Import Texture through the main window with scripted dialogs: the bytes
// written over 32-bit and 8-bit textures and every byte outside them, the
// refusals before any dialog, Cancel, the preview dialog's sizes, the new
// texture shown at once, and a picture dropped on the image view; the line
// naming the target, "Keep pixels exactly", and the progress box of a long
// preparation with its Cancel.
#include "app/tool_bar.h"
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "formats/archive_sample.h"
#include "formats/texture_dictionary.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "platform/environment.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/picture_builder.h"
#include "tests/app/app_test_support.h"
#include "texture/texture_import.h"
#include "texture/ui/form_image.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

using namespace apptest;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;

namespace {

class ImportTest : public testing::Test {
protected:
    void SetUp() override
    {
        archive_sample::writeSampleFiles(dir.path());
        photo = dir.file("photo.tga");
        SavePictureAsTgaFile(*MakePhotoLikePicture(90, 70, 3), photo);
        form = std::make_unique<TestForm>();
        form->show();
        QApplication::processEvents();
        form->script().openAnswers.push_back(dir.file("sample.dir"));
        form->guard([&] { form->BtnOpenClick(); });
    }

    // Makes entry `entry` current and texture `texture` (1-based, dictionary order) of it.
    void selectTexture(int entry, int texture)
    {
        form->guard([&] {
            form->RxM->GoToRowNumber(entry);
            form->RxM->FireAfterScroll();
            form->QueryTXD->Locate("Pos", texture);
        });
        ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    }

    // What the import must write for the current texture: the picture file
    // prepared and encoded on its own.
    std::vector<uint8_t> expectedBlock(const std::string& picture)
    {
        const TextureRef t = currentTextureRef(*form->QueryTXD);
        auto p = LoadPictureFromFile(picture, 1);
        PrepareImportPicture(*p, importPictureSize(t), importPictureFormat(t));
        return buildImportBlock(*p, t);
    }

    void importWith(const std::string& picture, bool confirm)
    {
        form->script().pictureAnswers.push_back(picture);
        form->script().previewAnswers.push_back(confirm);
        form->BtnImport->click();
    }

    ScratchDir dir{"qx_import"};
    std::string photo;
    std::unique_ptr<TestForm> form;
};

}  // namespace

TEST_F(ImportTest, ImportOverTrueColourAndPalettedTexturesWritesOnlyTheirBytes)
{
    // plasma (32-bit, 64 x 128) and mandel (8-bit, 128 x 64) of Landscape.TXD.
    for (const int texture : {4, 2}) {
        SCOPED_TRACE(texture);
        selectTexture(4, texture);
        const TextureRef t = currentTextureRef(*form->QueryTXD);
        const std::vector<uint8_t> before = readBytes(dir.file("sample.img"));
        const std::vector<uint8_t> block = expectedBlock(photo);

        importWith(photo, true);
        ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
        ASSERT_EQ(form->script().pictureRequests.size(), size_t(texture == 4 ? 1 : 2));
        EXPECT_EQ(form->script().pictureRequests.back().filter, form->OpenPictureDialog.filter);

        std::vector<uint8_t> expected = before;
        ASSERT_LE(t.imagePos + int64_t(block.size()), int64_t(expected.size()));
        std::copy(block.begin(), block.end(), expected.begin() + t.imagePos);
        EXPECT_EQ(readBytes(dir.file("sample.img")), expected);

        // The main window shows the new texels at once: the picture the
        // preview dialog showed.
        const TDibGraphic& shown = form->ImageScrollBox1->Graphic();
        auto prepared = LoadPictureFromFile(photo, 1);
        PrepareImportPicture(*prepared, importPictureSize(t), importPictureFormat(t));
        ASSERT_EQ(shown.Width(), t.width);
        for (int y = 0; y < t.height; y += 5) {
            for (int x = 0; x < t.width; x += 3) {
                ASSERT_EQ(shown.GetPixelColor(x, y), prepared->GetPixelColor(x, y)) << x << "," << y;
            }
        }
    }
    // The list stays as it was read; the file reads back the same.
    TFileStream img(dir.file("sample.img"), FileMode::OpenReadShareDenyWrite);
    EXPECT_EQ(readTextureDictionary(img, 18432, img.Size()).rows.size(), 4u);
}

TEST_F(ImportTest, CancelAnywhereLeavesTheArchiveByteForByte)
{
    selectTexture(4, 4);
    const std::vector<uint8_t> before = readBytes(dir.file("sample.img"));
    form->BtnImport->click();  // picture dialog cancelled
    EXPECT_EQ(form->script().pictureRequests.size(), 1u);
    EXPECT_TRUE(form->script().previews.empty());
    importWith(photo, false);  // preview cancelled
    EXPECT_EQ(form->script().previews.size(), 1u);
    EXPECT_TRUE(form->script().errors.empty());
    EXPECT_EQ(readBytes(dir.file("sample.img")), before);
}

TEST_F(ImportTest, SixteenBitAndUnfittingTexturesAreRefusedBeforeAnyDialog)
{
    selectTexture(4, 3);  // Bricks, 16-bit
    form->BtnImport->click();
    ASSERT_EQ(form->script().messages.size(), 1u);
    EXPECT_EQ(form->script().messages[0].caption, "Brel Quarnix :)");
    EXPECT_EQ(form->script().messages[0].text, "Sorry, can't replace 16bit images :(");
    EXPECT_TRUE(form->script().pictureRequests.empty());
    EXPECT_TRUE(form->script().errors.empty());

    // A 32-bit texture whose stored size is not W x H x 4.
    TextureDictionary d;
    d.textures.push_back(makeTexture32("odd", "", 4, 4, std::vector<Rgba>(16)));
    d.textures.back().texels.resize(60);
    const std::string txd = dir.file("odd.txd");
    archive_fixture::writeBytes(txd, buildTextureDictionary(d));
    form->script().openAnswers.push_back(txd);
    form->guard([&] { form->BtnOpenClick(); });
    form->guard([&] { form->RxM->FireAfterScroll(); });
    const std::vector<uint8_t> before = readBytes(txd);
    form->script().errors.clear();  // the preview's own error: 15 texels for 4 x 4
    form->script().pictureAnswers.push_back(photo);
    form->BtnImport->click();
    ASSERT_EQ(form->script().errors.size(), 1u);
    EXPECT_NE(form->script().errors[0].text.find("does not match its width and height"), std::string::npos);
    EXPECT_TRUE(form->script().pictureRequests.empty());
    EXPECT_EQ(readBytes(txd), before);
}

TEST_F(ImportTest, PreviewDialogSizesFollowTheTexture)
{
    TextureDictionary d;
    const auto paletted = [](const char* name, int w, int h) {
        return makeTexturePaletted8(name, "", uint16_t(w), uint16_t(h), {{1, 2, 3, 255}},
                                    std::vector<uint8_t>(size_t(w) * h, 0));
    };
    d.textures.push_back(paletted("small", 64, 64));
    d.textures.push_back(paletted("big", 512, 512));
    d.textures.push_back(paletted("tall", 128, 1024));
    d.textures.push_back(paletted("between", 256, 300));  // 300 + 50 lies between 306 and 512
    const std::string txd = dir.file("sizes.txd");
    archive_fixture::writeBytes(txd, buildTextureDictionary(d));
    form->script().openAnswers.push_back(txd);
    form->guard([&] { form->BtnOpenClick(); });
    form->guard([&] { form->RxM->FireAfterScroll(); });

    struct Case {
        int texture, clientW, clientH, viewW, viewH;
        bool vertBar;
    };
    for (const Case& c : {Case{1, 256, 306, 256, 256, false}, Case{2, 512, 512, 512, 462, true},
                          Case{3, 256, 512, 256, 462, true}, Case{4, 256, 350, 256, 300, false}}) {
        SCOPED_TRACE(c.texture);
        form->guard([&] { form->QueryTXD->Locate("Pos", c.texture); });
        importWith(photo, false);
        ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
        const auto& seen = form->script().previews.back();
        EXPECT_EQ(seen.clientWidth, c.clientW);
        EXPECT_EQ(seen.clientHeight, c.clientH);
        EXPECT_EQ(seen.viewWidth, c.viewW);
        EXPECT_EQ(seen.viewHeight, c.viewH);
        EXPECT_EQ(seen.vertScrollBar, c.vertBar);
        EXPECT_FALSE(seen.choices);  // a dictionary without sections: the design's dialog
        EXPECT_EQ(seen.pictureWidth, currentTextureRef(*form->QueryTXD).width);
    }
    TFormImage& f = *form->FormImage;
    EXPECT_EQ(f.windowTitle().toStdString(), "Preview");
    EXPECT_EQ(f.Button1->text().toStdString(), "Import");
    EXPECT_EQ(f.Button2->text().toStdString(), "Cancel");
    EXPECT_FALSE(f.ImageScrollBox->AntiAliased());
    EXPECT_TRUE(f.ImageScrollBox->Centered());
}

TEST(FormImage, DesignLayoutAndTheBandBelowTheView)
{
    app();
    TFormImage f;
    EXPECT_EQ(f.width(), 256);
    EXPECT_EQ(f.height(), 306);
    EXPECT_EQ(f.ImageScrollBox->geometry(), QRect(0, 0, 256, 256));
    EXPECT_EQ(f.Button1->geometry(), QRect(26, 272, 75, 25));
    EXPECT_EQ(f.Button2->geometry(), QRect(154, 272, 75, 25));
    f.SizeForTexture(512, 512);
    EXPECT_EQ(f.ImageScrollBox->geometry(), QRect(0, 0, 512, 462));
    EXPECT_EQ(f.Button1->geometry().top(), 512 - 34);
    // Horizontal centres keep their share of the width.
    EXPECT_EQ(f.Button1->geometry().center().x(), 127);
    EXPECT_EQ(f.Button2->geometry().center().x(), 383);
}

namespace {
// A drag of one file that enters the window at `at` and is dropped there.
void dropFile(QWidget& window, const std::string& file, QPoint at)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QApplication::processEvents();
}
}  // namespace

TEST_F(ImportTest, APictureDroppedOnTheViewIsImportedOverTheCurrentTexture)
{
    selectTexture(4, 4);
    const std::vector<uint8_t> before = readBytes(dir.file("sample.img"));
    form->script().previewAnswers.push_back(true);
    const QPoint onView = form->ImageScrollBox1->mapTo(form.get(), form->ImageScrollBox1->rect().center());
    dropFile(*form, photo, onView);
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    EXPECT_TRUE(form->script().pictureRequests.empty());  // the dropped file was taken
    EXPECT_EQ(form->script().previews.size(), 1u);
    EXPECT_NE(readBytes(dir.file("sample.img")), before);

    // A dictionary dropped outside the entry list is opened (on the entry
    // list it would be added to the open archive).
    const QPoint onTextures = form->GridTXD->mapTo(form.get(), form->GridTXD->rect().center());
    dropFile(*form, dir.file("sample.txd"), onTextures);
    EXPECT_TRUE(form->StandaloneTxd);
    EXPECT_EQ(form->ArchiveFileName, dir.file("sample.txd"));
}

// --- the preview's target, "Keep pixels exactly", progress

TEST_F(ImportTest, ThePreviewNamesTheTextureTheEntryTheArchiveAndWhatItWrites)
{
    selectTexture(4, 4);
    importWith(photo, false);
    selectTexture(7, 12);
    importWith(photo, false);
    form->script().openAnswers.push_back(dir.file("sample.txd"));
    form->guard([&] { form->BtnOpenClick(); });
    form->guard([&] { form->QueryTXD->Locate("Pos", 2); });
    importWith(photo, false);
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    ASSERT_EQ(form->script().previews.size(), 3u);
    EXPECT_EQ(form->script().previews[0].target, "plasma in Landscape.TXD of sample.img: 64x128 32bit");
    EXPECT_EQ(form->script().previews[1].target, "sunset_DXT5 in Layouts.txd of sample.img: 256x128 DXT5, 5 levels");
    EXPECT_EQ(form->script().previews[2].target, "Target in sample.txd: 64x64 8bit paletted");
    // The line shows what fits and keeps the whole text in its tool tip.
    EXPECT_EQ(form->FormImage->LabelTarget->toolTip().toStdString(), form->script().previews[2].target);
    EXPECT_FALSE(form->script().previews[0].exact);
}

TEST_F(ImportTest, KeepPixelsExactlyImportsThePicturesOwnColoursAndIsNotTheDefault)
{
    // A 4 x 4 palette texture and a picture of its size with three colours.
    TextureDictionary d;
    d.textures.push_back(makeTexturePaletted8("pal", "", 4, 4, {{1, 2, 3, 255}}, std::vector<uint8_t>(16, 0)));
    const std::string txd = dir.file("pal.txd");
    archive_fixture::writeBytes(txd, buildTextureDictionary(d));
    const uint32_t colours[3] = {0x112233, 0x445566, 0x778899};
    const auto colourAt = [&](int x, int y) { return colours[y < 2 ? (x < 2 ? 0 : 1) : 2]; };
    const std::string picture = dir.file("three.tga");
    SavePictureAsTgaFile(*MakeRgb24Picture(4, 4, colourAt), picture);
    form->script().openAnswers.push_back(txd);
    form->guard([&] { form->BtnOpenClick(); });
    form->guard([&] { form->RxM->FireAfterScroll(); });
    const TextureRef t = currentTextureRef(*form->QueryTXD);

    // The usual import: an optimised palette, not the picture's colours.
    importWith(picture, true);
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    std::vector<uint8_t> bytes = readBytes(txd);
    EXPECT_FALSE(bytes[size_t(t.imagePos)] == 0x11 && bytes[size_t(t.imagePos) + 1] == 0x22);

    // Ticked while the preview is up: the preview shows the picture's own
    // palette, and that is what is written.
    form->script().whilePreviewOpen = [](ModalForm& shown) {
        dynamic_cast<TFormImage&>(shown).CheckExact->setChecked(true);
    };
    importWith(picture, true);
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    EXPECT_TRUE(form->script().previews.back().exact);
    bytes = readBytes(txd);
    const uint8_t* at = bytes.data() + t.imagePos;
    // Palette entries in the order the colours first occur, rows from the top.
    EXPECT_EQ(std::vector<uint8_t>(at, at + 12),
              (std::vector<uint8_t>{0x11, 0x22, 0x33, 255, 0x44, 0x55, 0x66, 255, 0x77, 0x88, 0x99, 255}));
    at += 1024;
    EXPECT_EQ(std::vector<uint8_t>(at, at + 4), (std::vector<uint8_t>{16, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(at + 4, at + 20),
              (std::vector<uint8_t>{0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2}));
    form->script().whilePreviewOpen = nullptr;
}

TEST_F(ImportTest, ALongPreparationShowsProgressAndCancelWritesNothing)
{
    selectTexture(4, 4);
    const std::vector<uint8_t> before = readBytes(dir.file("sample.img"));
    form->LongWorkDelayMs = 0;  // every preparation counts as long

    form->script().progressCancels.push_back(true);
    importWith(photo, true);
    ASSERT_EQ(form->script().progressTexts.size(), 1u);
    EXPECT_EQ(form->script().progressTexts[0], "Preparing photo.tga for plasma...");
    EXPECT_TRUE(form->script().previews.empty());
    EXPECT_TRUE(form->script().errors.empty());
    EXPECT_EQ(readBytes(dir.file("sample.img")), before);
    EXPECT_FALSE(busyCursorShown());

    // Waited for, the import goes on as without the box.
    form->script().previewAnswers.clear();
    importWith(photo, true);
    EXPECT_EQ(form->script().progressTexts.size(), 2u);
    ASSERT_EQ(form->script().previews.size(), 1u);
    EXPECT_NE(readBytes(dir.file("sample.img")), before);

    // Work that ends before the delay shows no box.
    form->LongWorkDelayMs = 60000;
    importWith(photo, false);
    EXPECT_EQ(form->script().progressTexts.size(), 2u);
    EXPECT_EQ(form->script().previews.size(), 2u);
}

TEST_F(ImportTest, AFailedPreparationOnItsThreadReachesTheErrorBox)
{
    selectTexture(4, 4);
    form->LongWorkDelayMs = 0;
    const std::string notAPicture = dir.file("broken.png");
    archive_fixture::writeBytes(notAPicture, {1, 2, 3});
    importWith(notAPicture, true);
    ASSERT_EQ(form->script().errors.size(), 1u);
    EXPECT_TRUE(form->script().previews.empty());
    EXPECT_FALSE(busyCursorShown());
}

TEST(FormImage, TheNewControlsShareTheBandWithTheButtons)
{
    app();
    TFormImage f;
    f.SetTarget(QStringLiteral("a_texture_with_a_long_name in Layouts.txd of sample.img: 256x128 DXT5, 5 levels"));
    for (const QSize texture : {QSize(64, 64), QSize(512, 512)}) {
        SCOPED_TRACE(texture.width());
        f.SizeForTexture(texture.width(), texture.height());
        const QRect view = f.ImageScrollBox->geometry();
        const QRect band(0, view.bottom() + 1, f.width(), f.height() - view.height());
        ASSERT_EQ(band.height(), 50);
        const QRect exact = f.CheckExact->geometry();
        const QRect alpha = f.BtnAlpha->geometry();
        const QRect label = f.LabelTarget->geometry();
        for (const QRect& r : {exact, alpha, label})
            EXPECT_TRUE(band.contains(r)) << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
        // Above the buttons, and between them.
        EXPECT_LE(exact.bottom(), f.Button1->geometry().top());
        EXPECT_LE(label.bottom(), f.Button1->geometry().top());
        EXPECT_GE(label.left(), exact.right());
        EXPECT_GE(alpha.left(), f.Button1->geometry().right());
        EXPECT_LE(alpha.right(), f.Button2->geometry().left());
        EXPECT_GE(alpha.width(), 22);  // room for its icon
        EXPECT_GE(exact.width(), f.CheckExact->sizeHint().width());
        // The line shows what fits of the target from its start (the texture's
        // name), all of it in its tool tip.
        EXPECT_LE(f.LabelTarget->fontMetrics().horizontalAdvance(f.LabelTarget->text()), label.width());
        EXPECT_TRUE(f.LabelTarget->text().startsWith(QStringLiteral("a_texture")));
        EXPECT_EQ(f.LabelTarget->toolTip(), f.Target());
    }
    EXPECT_EQ(f.CheckExact->text().toStdString(), "Keep pixels exactly");
    EXPECT_FALSE(f.CheckExact->isChecked());
    EXPECT_EQ(f.BtnAlpha->text().toStdString(), "Alpha");
    EXPECT_TRUE(f.BtnAlpha->isCheckable());
    EXPECT_FALSE(f.BtnAlpha->isChecked());  // off, as the main window's starts
}

TEST_F(ImportTest, ThePreviewShowsTheAlphaALayoutWithAlphaKeeps)
{
    // sunset_8888 of Layouts.txd (128 x 64, alpha kept) and a picture of
    // its size whose left half is transparent red.
    selectTexture(7, 2);
    std::vector<uint8_t> tga(18, 0);
    tga[2] = 2;
    tga[12] = 128;
    tga[14] = 64;
    tga[16] = 32;
    tga[17] = 0x28;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            tga.insert(tga.end(), {0, 0, 255, uint8_t(x < 64 ? 0 : 255)});
    const std::string picture = dir.file("half.tga");
    archive_fixture::writeBytes(picture, tga);
    // The preview's toggle starts as the main window's is: off at first,
    // then on once the user has turned it on there.
    std::vector<uint32_t> shown;
    std::vector<bool> startedOn;
    form->script().whilePreviewOpen = [&](ModalForm& open) {
        TFormImage& preview = dynamic_cast<TFormImage&>(open);
        const auto at = [&](int x, int y) {
            return preview.ImageScrollBox->DisplayControl()->grab().toImage().pixel(x, y) & 0xFFFFFFu;
        };
        startedOn.push_back(preview.BtnAlpha->isChecked());
        if (!preview.BtnAlpha->isChecked()) {
            shown.push_back(at(10, 10));  // off: the colour under the alpha
            preview.BtnAlpha->click();
        }
        shown.push_back(at(10, 10));  // transparent: the board's light square
        shown.push_back(at(10, 2));   // and its dark one
        shown.push_back(at(100, 10));
    };
    importWith(picture, false);
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    EXPECT_EQ(shown, (std::vector<uint32_t>{0xFF0000, 0xCCCCCC, 0x999999, 0xFF0000}));
    form->BtnAlpha->click();
    ASSERT_TRUE(form->BtnAlpha->isChecked());
    shown.clear();
    importWith(picture, false);
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    EXPECT_EQ(shown, (std::vector<uint32_t>{0xCCCCCC, 0x999999, 0xFF0000}));
    EXPECT_EQ(startedOn, (std::vector<bool>{false, true}));
    form->script().whilePreviewOpen = nullptr;
}
