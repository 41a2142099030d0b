// SPDX-License-Identifier: GPL-2.0-or-later
// The main window with textures: stepping onto dictionary entries lists their
// textures and shows the last one, the texture grid's moves show the current
// texture, "Fit Height" fits it, and "Save as TGA" writes it; failures reach
// the error box, and textures without usable data show nothing.
#include "formats/archive_sample.h"
#include "formats/texture_dictionary.h"
#include "imaging/picture_registry.h"
#include "platform/environment.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "tests/app/app_test_support.h"
#include "texture/texture_tga.h"

#include "app/tool_bar.h"

#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <filesystem>

using namespace apptest;
using archive_fixture::ScratchDir;

namespace {

class TexturesTest : public testing::Test {
protected:
    void SetUp() override
    {
        archive_sample::writeSampleFiles(dir.path());
        form = std::make_unique<TestForm>();
        form->show();
        QApplication::processEvents();
    }

    void open(const std::string& path)
    {
        form->script().openAnswers.push_back(path);
        form->guard([&] { form->BtnOpenClick(); });
        ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    }

    std::string textureText(const char* field) { return form->QueryTXD->FieldByName(field).AsString(); }

    // The stored colour of texel (x, y) of a 32-bit sample texture.
    static uint32_t storedColour(const TextureRecord& t, int x, int y)
    {
        const uint8_t* p = t.texels.data() + 4 * (size_t(y) * t.width + size_t(x));
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }

    const TextureRecord& sampleTexture(const std::string& entry, const std::string& name)
    {
        static const auto dicts = archive_sample::sampleArchiveDictionaries();
        for (const auto& [n, d] : dicts)
            if (n == entry)
                for (const TextureRecord& t : d.textures)
                    if (t.name == name)
                        return t;
        throw std::runtime_error("no sample texture " + name);
    }

    ScratchDir dir{"qx_textures"};
    std::unique_ptr<TestForm> form;
};

}  // namespace

TEST_F(TexturesTest, ArrowingOntoADictionaryListsItsTexturesAndShowsTheLast)
{
    open(dir.file("sample.dir"));
    form->Grid->setFocus();
    for (int i = 0; i < 3; ++i)  // Generic.txd is first; Landscape.TXD is the fourth entry
        QTest::keyClick(form->Grid, Qt::Key_Down);
    ASSERT_EQ(form->RxM->FieldByName("Name").AsString(), "Landscape.TXD");
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;

    EXPECT_FALSE(form->FillingTextures);
    EXPECT_FALSE(busyCursorShown());
    ASSERT_EQ(form->QueryTXD->RowCount(), 4);
    EXPECT_EQ(form->GridTXD->model()->rowCount(), 4);
    EXPECT_EQ(textureText("Name"), "plasma");  // the last texture is current
    EXPECT_EQ(form->QueryTXD->FieldByName("DirID").AsInteger(), 4);
    EXPECT_EQ(textureText("Dimensions"), "64x128");
    EXPECT_EQ(textureText("Type"), "32bit");
    EXPECT_EQ(form->QueryTXD->FieldByName("ImagePos").AsInteger(), 167436);
    EXPECT_TRUE(form->BtnSaveTGA->isEnabled());
    EXPECT_TRUE(form->BtnImport->isEnabled());

    const TDibGraphic& shown = form->ImageScrollBox1->Graphic();
    ASSERT_EQ(shown.Width(), 64);
    ASSERT_EQ(shown.Height(), 128);
    const TextureRecord& plasma = sampleTexture("Landscape.TXD", "plasma");
    for (const auto& [x, y] : {std::pair{0, 0}, {63, 0}, {5, 100}, {63, 127}})
        EXPECT_EQ(shown.GetPixelColor(x, y), storedColour(plasma, x, y)) << x << "," << y;

    // Moving up in the texture grid shows that texture.
    form->GridTXD->setFocus();
    QTest::keyClick(form->GridTXD, Qt::Key_Up);
    EXPECT_EQ(textureText("Name"), "Bricks");
    EXPECT_EQ(form->ImageScrollBox1->Graphic().Width(), 64);
    QTest::keyClick(form->GridTXD, Qt::Key_Up);
    EXPECT_EQ(textureText("Name"), "mandel");
    EXPECT_EQ(form->ImageScrollBox1->Graphic().Width(), 128);

    // Onto an entry that is no dictionary: nothing listed, nothing shown.
    form->Grid->setFocus();
    QTest::keyClick(form->Grid, Qt::Key_Down);
    EXPECT_EQ(form->RxM->FieldByName("Name").AsString(), "ReadMe.txt");
    EXPECT_TRUE(form->QueryTXD->IsEmpty());
    EXPECT_TRUE(form->ImageScrollBox1->Graphic().IsEmpty());
    EXPECT_FALSE(form->BtnSaveTGA->isEnabled());
    EXPECT_FALSE(form->BtnImport->isEnabled());

    // And back: read again, the last texture current again.
    QTest::keyClick(form->Grid, Qt::Key_Up);
    EXPECT_EQ(form->QueryTXD->RowCount(), 4);
    EXPECT_EQ(textureText("Name"), "plasma");
    EXPECT_EQ(form->ImageScrollBox1->Graphic().Height(), 128);
}

TEST_F(TexturesTest, FitHeightFitsTheShownTextureAndBack)
{
    open(dir.file("sample.dir"));
    form->RxM->GoToRowNumber(4);
    form->RxM->FireAfterScroll();
    TImageScrollBox& view = *form->ImageScrollBox1;
    ASSERT_EQ(view.Graphic().Height(), 128);
    EXPECT_EQ(view.ZoomPercent(), 100.0f);

    form->BtnZoom->click();
    EXPECT_TRUE(form->BtnZoom->isChecked());
    EXPECT_EQ(view.ZoomMode(), zmFitHeight);
    EXPECT_EQ(view.ZoomPercent(), float(double(view.ClientHeight()) / 128 * 100));
    EXPECT_EQ(view.DisplayControl()->height(), view.ClientHeight());

    // The next texture shown is fitted too.
    form->GridTXD->setFocus();
    QTest::keyClick(form->GridTXD, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(textureText("Name"), "SunsetSky");
    EXPECT_EQ(view.DisplayControl()->height(), view.ClientHeight());

    form->BtnZoom->click();
    EXPECT_EQ(view.ZoomMode(), zmOriginalSize);
    EXPECT_EQ(view.ZoomPercent(), 100.0f);
    EXPECT_EQ(view.DisplayControl()->height(), 128);
}

TEST_F(TexturesTest, SaveAsTgaProposesTheNameAndWritesTheTexture)
{
    open(dir.file("sample.dir"));
    form->RxM->GoToRowNumber(4);
    form->RxM->FireAfterScroll();
    const std::string out = dir.file("saved.tga");

    form->BtnSaveTGA->click();  // cancelled: nothing written
    ASSERT_EQ(form->script().saveRequests.size(), 1u);
    const FileDialogSetup& asked = form->script().saveRequests[0];
    EXPECT_EQ(asked.fileName, "plasma.tga");
    EXPECT_EQ(asked.filter, "Targa Image|*.tga");
    EXPECT_EQ(asked.defaultExt, ".tga");
    EXPECT_FALSE(asked.overwritePrompt);
    EXPECT_FALSE(std::filesystem::exists(out));

    form->script().saveAnswers.push_back(out);
    form->BtnSaveTGA->click();
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    TFileStream img(dir.file("sample.img"), FileMode::OpenReadShareDenyWrite);
    const TextureRow row = readTextureDictionary(img, 18432, img.Size()).rows.at(3);
    EXPECT_EQ(archive_fixture::readBytes(out), buildTextureTga(img, textureRefOf(row)).bytes);
    // What an image viewer shows of the file is the picture the view shows.
    const auto saved = LoadPictureFromFile(out, 1);
    const TDibGraphic& shown = form->ImageScrollBox1->Graphic();
    for (int y = 0; y < 128; y += 9) {
        for (int x = 0; x < 64; x += 7) {
            ASSERT_EQ(saved->GetPixelColor(x, y), shown.GetPixelColor(x, y)) << x << "," << y;
        }
    }
}

TEST_F(TexturesTest, AMissingDataFileReachesTheErrorBoxWithTheListEmpty)
{
    open(dir.file("sample.dir"));
    std::filesystem::remove(dir.file("sample.img"));
    form->guard([&] { form->RxM->Next(); });  // onto barrel.DFF: no file read
    EXPECT_TRUE(form->script().errors.empty());
    form->guard([&] { form->RxM->MoveBy(2); });  // onto Landscape.TXD
    ASSERT_EQ(form->script().errors.size(), 1u);
    EXPECT_EQ(form->script().errors[0].caption, "Brel Quarnix :)");
    EXPECT_EQ(form->script().errors[0].text, "Cannot open file " + dir.file("sample.img") + ".");
    EXPECT_TRUE(form->QueryTXD->IsEmpty());
    EXPECT_FALSE(form->BtnSaveTGA->isEnabled());
    EXPECT_TRUE(form->FillingTextures);
    EXPECT_EQ(form->RxM->RecNo(), 4);
}

namespace {
// A texture grid whose refresh fails once armed.
struct FailingRefresh : RecordTableObserver {
    bool armed = false;
    void refreshAll(RecordTable&) override
    {
        if (armed)
            throw Exception("grid refresh failed");
    }
    void currentChanged(RecordTable&) override {}
};
}  // namespace

TEST_F(TexturesTest, AFailedListingWhoseGridRefreshAlsoFailsShowsTheFirstError)
{
    open(dir.file("sample.dir"));
    FailingRefresh grid;
    form->QueryTXD->AddObserver(&grid);
    // The listing fails at its first row; resuming the texture grid's updates
    // on the way out fails as well.
    form->QueryTXD->SetAfterScroll([&](RecordTable&) {
        grid.armed = true;
        throw Exception("texture row refused");
    });
    form->guard([&] { form->RxM->First(); });
    ASSERT_EQ(form->script().errors.size(), 1u);
    EXPECT_EQ(form->script().errors[0].text, "texture row refused.");
    EXPECT_FALSE(form->QueryTXD->ControlsDisabled());

    // A refresh that fails at the end of a listing that went well is reported.
    grid.armed = false;
    form->QueryTXD->SetAfterScroll([&](RecordTable&) { grid.armed = true; });
    form->guard([&] { form->RxM->First(); });
    ASSERT_EQ(form->script().errors.size(), 2u);
    EXPECT_EQ(form->script().errors[1].text, "grid refresh failed.");
    EXPECT_FALSE(form->QueryTXD->ControlsDisabled());
    form->QueryTXD->RemoveObserver(&grid);
}

TEST_F(TexturesTest, TexturesWithoutUsableDataShowNothingAndCannotBeSaved)
{
    // A 32-bit texture, then one of an unknown kind: the unknown one is last
    // and current after the read.
    TextureDictionary d;
    d.textures.push_back(makeTexture32("good", "", 2, 2, std::vector<Rgba>(4, Rgba{9, 8, 7, 255})));
    TextureRecord odd = makeTexture32("odd", "", 2, 2, std::vector<Rgba>(4));
    odd.kind = 0x40118;
    d.textures.push_back(odd);
    const std::string txd = dir.file("odd.txd");
    archive_fixture::writeBytes(txd, buildTextureDictionary(d));
    open(txd);
    form->RxM->FireAfterScroll();
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    ASSERT_EQ(form->QueryTXD->RowCount(), 2);
    EXPECT_EQ(textureText("Name"), "odd");
    EXPECT_TRUE(form->QueryTXD->FieldByName("ImagePos").IsNull());
    EXPECT_EQ(textureText("Type"), "");
    EXPECT_TRUE(form->ImageScrollBox1->Graphic().IsEmpty());

    form->script().saveAnswers.push_back(dir.file("odd.tga"));
    form->BtnSaveTGA->click();
    ASSERT_EQ(form->script().errors.size(), 1u);
    EXPECT_EQ(form->script().errors[0].text, textureProblemMessage(TextureProblem::NoData) + ".");
    EXPECT_TRUE(form->script().saveRequests.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("odd.tga")));

    // The good one shows.
    form->GridTXD->setFocus();
    QTest::keyClick(form->GridTXD, Qt::Key_Up);
    EXPECT_EQ(form->ImageScrollBox1->Graphic().GetPixelColor(1, 1), 0x090807u);
}
