// SPDX-License-Identifier: GPL-2.0-or-later
// The main window with textures: stepping onto dictionary entries lists their
// textures and shows the last one, the texture grid's moves show the current
// texture, "Fit Height" fits it, and "Save as TGA" writes it; failures reach
// the error box, and textures without usable data show nothing. Beside them:
// the grid's Format, Levels and Alpha columns, the level selector, the
// "Alpha" toggle, the zoom keys and saving as PNG.
#include "catalog/texture_table.h"
#include "formats/archive_sample.h"
#include "formats/sectioned_dictionary_writer.h"
#include "formats/texture_dictionary.h"
#include "imaging/picture_registry.h"
#include "platform/environment.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"
#include "support/tool_runner.h"
#include "tests/app/app_test_support.h"
#include "texture/texture_tga.h"

#include "app/tool_bar.h"

#include <QLabel>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <utility>

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

// --- the columns of `textures --long`, levels, alpha, zoom, PNG

namespace {
// The tab-separated fields of a line.
std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
        out.push_back(line.substr(at, tab - at));
    out.push_back(line.substr(at));
    return out;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        out.push_back(text.substr(at, nl - at));
    return out;
}

// Level k of the "mips" texture below, pixel (x, y), B, G, R, A: the first
// column of level 0 is transparent.
std::array<uint8_t, 4> mipPixel(int k, int x, int y)
{
    return {uint8_t(30 * k + 5 * x), uint8_t(60 + 20 * y), uint8_t(250 - 40 * k), uint8_t(k == 0 && x == 0 ? 0 : 255)};
}

// A sectioned dictionary: "flat" (32-bit, one level), then "mips" (8 x 4,
// 32-bit with alpha, four levels).
std::vector<uint8_t> levelsDictionary()
{
    SectionedDictionary d;
    d.textures.push_back(texel_cases::mipTexture("flat", TexelFormat::Bgra8888, 4, 4, 1));
    SectionedTexture mips;
    mips.name = "mips";
    mips.layout = {TexelFormat::Bgra8888, false, 8, 4, 4};
    for (int k = 0; k < 4; ++k) {
        std::vector<uint8_t> level;
        for (int y = 0; y < mipLevelSize(4, k); ++y)
            for (int x = 0; x < mipLevelSize(8, k); ++x)
                for (uint8_t b : mipPixel(k, x, y))
                    level.push_back(b);
        mips.levels.push_back(level);
    }
    d.textures.push_back(mips);
    return buildSectionedDictionary(d);
}
}  // namespace

TEST_F(TexturesTest, TheTextureGridShowsWhatTexturesLongPrintsAfterTheDesignColumns)
{
    open(dir.file("sample.dir"));
    QAbstractItemModel& model = *form->GridTXD->model();
    std::vector<std::string> titles;
    for (int c = 0; c < model.columnCount(); ++c)
        titles.push_back(model.headerData(c, Qt::Horizontal).toString().toStdString());
    EXPECT_EQ(titles, (std::vector<std::string>{"Pos", "Name", "Size", "Type", "Dimensions", "Desc", "Format", "Levels",
                                                "Alpha"}));
    // A plain dictionary and a sectioned one.
    for (const int entry : {4, 7}) {
        SCOPED_TRACE(entry);
        form->guard([&] {
            form->RxM->GoToRowNumber(entry);
            form->RxM->FireAfterScroll();
        });
        const ToolRun run = runQuarnixTool({"textures", dir.file("sample.dir"), std::to_string(entry), "--long"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::vector<std::string> printed = lines(run.out);
        ASSERT_EQ(int(printed.size()), model.rowCount() + 1);
        EXPECT_EQ(fields(printed[0])[7], "Format");
        for (int row = 0; row < model.rowCount(); ++row) {
            const std::vector<std::string> f = fields(printed[size_t(row) + 1]);
            ASSERT_EQ(model.index(row, 0).data().toString().toStdString(), f[0]);
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(model.index(row, 6 + c).data().toString().toStdString(), f[7 + size_t(c)])
                    << "row " << row << ", " << titles[6 + size_t(c)];
        }
    }
}

TEST_F(TexturesTest, TheLevelSelectorShowsEveryStoredLevel)
{
    const std::string txd = dir.file("levels.txd");
    archive_fixture::writeBytes(txd, levelsDictionary());
    open(txd);
    form->RxM->FireAfterScroll();
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    ASSERT_EQ(textureText("Name"), "mips");
    EXPECT_TRUE(form->SpinLevel->isEnabled());
    EXPECT_EQ(form->SpinLevel->maximum(), 3);

    const auto expectLevel = [&](int k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(form->shownLevel(), k);
        EXPECT_EQ(form->SpinLevel->value(), k);
        const TDibGraphic& shown = std::as_const(*form->ImageScrollBox1).Graphic();
        ASSERT_EQ(shown.Width(), mipLevelSize(8, k));
        ASSERT_EQ(shown.Height(), mipLevelSize(4, k));
        ASSERT_EQ(shown.AlphaPlane.size(), size_t(shown.Width()) * shown.Height());
        for (int y = 0; y < shown.Height(); ++y)
            for (int x = 0; x < shown.Width(); ++x) {
                const auto p = mipPixel(k, x, y);
                EXPECT_EQ(shown.GetPixelColor(x, y), MakeColor(p[2], p[1], p[0])) << x << "," << y;
                EXPECT_EQ(shown.AlphaPlane[size_t(y) * shown.Width() + x], p[3]) << x << "," << y;
            }
    };
    expectLevel(0);
    // Four levels of 8 x 4, 4 x 2, 2 x 1 and 1 x 1 at 4 bytes, each behind its size field.
    EXPECT_EQ(form->StatusTexture->text().toStdString(), "mips: 8888, 8x4, 4 levels, 188 bytes");
    // Alt+Page Down and Up step through the levels; the texture list keeps its row.
    form->GridTXD->setFocus();
    QTest::keyClick(form->GridTXD, Qt::Key_PageDown, Qt::AltModifier);
    expectLevel(1);
    EXPECT_EQ(textureText("Name"), "mips");
    EXPECT_EQ(form->StatusTexture->text().toStdString(), "mips: 8888, 8x4, 4 levels, 188 bytes; level 1 shown, 4x2");
    form->SpinLevel->setValue(3);
    expectLevel(3);
    QTest::keyClick(form->GridTXD, Qt::Key_PageDown, Qt::AltModifier);
    expectLevel(3);
    QTest::keyClick(form->GridTXD, Qt::Key_PageUp, Qt::AltModifier);
    expectLevel(2);

    // Another texture starts at its first level; one of a single level has nothing to select.
    QTest::keyClick(form->GridTXD, Qt::Key_Up);
    ASSERT_EQ(textureText("Name"), "flat");
    EXPECT_EQ(form->shownLevel(), 0);
    EXPECT_FALSE(form->SpinLevel->isEnabled());
    EXPECT_EQ(std::as_const(*form->ImageScrollBox1).Graphic().Width(), 4);
    QTest::keyClick(form->GridTXD, Qt::Key_PageDown, Qt::AltModifier);
    EXPECT_EQ(form->shownLevel(), 0);
    QTest::keyClick(form->GridTXD, Qt::Key_Down);
    expectLevel(0);
}

TEST_F(TexturesTest, AlphaShowsTheCheckerboardUnderTransparentTexelsAndOffTheOpaqueColours)
{
    const std::string txd = dir.file("levels.txd");
    archive_fixture::writeBytes(txd, levelsDictionary());
    open(txd);
    form->RxM->FireAfterScroll();
    ASSERT_EQ(textureText("Name"), "mips");
    const auto shownAt = [&](int x, int y) {
        return form->ImageScrollBox1->DisplayControl()->grab().toImage().pixel(x, y) & 0xFFFFFFu;
    };
    const auto p = mipPixel(0, 0, 1);
    const uint32_t colour = MakeColor(p[2], p[1], p[0]);
    // Off at start: the opaque colours, as a texture without alpha shows.
    ASSERT_FALSE(form->BtnAlpha->isChecked());
    EXPECT_FALSE(form->ImageScrollBox1->ShowAlpha());
    EXPECT_EQ(shownAt(0, 1), colour);
    form->BtnAlpha->click();
    EXPECT_TRUE(form->ImageScrollBox1->ShowAlpha());
    EXPECT_EQ(shownAt(0, 1), 0xCCCCCCu);  // transparent: the light square
    EXPECT_EQ(shownAt(1, 1), MakeColor(mipPixel(0, 1, 1)[2], mipPixel(0, 1, 1)[1], mipPixel(0, 1, 1)[0]));
    form->BtnAlpha->click();
    EXPECT_EQ(shownAt(0, 1), colour);
}

TEST_F(TexturesTest, ZoomKeysStepTheViewAndFitHeightFollowsTheMode)
{
    open(dir.file("sample.dir"));
    form->guard([&] {
        form->RxM->GoToRowNumber(4);
        form->RxM->FireAfterScroll();
    });
    TImageScrollBox& view = *form->ImageScrollBox1;
    ASSERT_EQ(std::as_const(view).Graphic().Width(), 64);  // plasma, 64 x 128
    const int row = form->QueryTXD->RecNo();
    form->GridTXD->setFocus();
    const auto key = [&](int k) { QTest::keyClick(form->GridTXD, Qt::Key(k), Qt::ControlModifier); };

    EXPECT_EQ(form->StatusZoom->text().toStdString(), "Zoom 100%");
    key(Qt::Key_Plus);
    EXPECT_EQ(view.ZoomMode(), zmPercent);
    EXPECT_EQ(view.ZoomPercent(), 200.0f);
    EXPECT_EQ(form->StatusZoom->text().toStdString(), "Zoom 200%");
    EXPECT_EQ(view.DisplayControl()->size(), QSize(128, 256));
    key(Qt::Key_Equal);  // "+" without Shift
    EXPECT_EQ(view.ZoomPercent(), 400.0f);
    form->BtnZoom->click();
    EXPECT_TRUE(form->BtnZoom->isChecked());
    EXPECT_EQ(view.ZoomMode(), zmFitHeight);
    // From the fitted zoom (146 / 128, about 114%) one step down is 100%; "Fit Height" goes up.
    key(Qt::Key_Minus);
    EXPECT_EQ(view.ZoomPercent(), 100.0f);
    EXPECT_EQ(view.ZoomMode(), zmPercent);
    EXPECT_FALSE(form->BtnZoom->isChecked());
    for (int i = 0; i < 6; ++i)
        key(Qt::Key_Plus);
    EXPECT_EQ(view.ZoomPercent(), 1600.0f);
    EXPECT_EQ(view.DisplayControl()->size(), QSize(1024, 2048));
    for (int i = 0; i < 10; ++i)
        key(Qt::Key_Minus);
    EXPECT_EQ(view.ZoomPercent(), 6.25f);
    EXPECT_EQ(view.DisplayControl()->size(), QSize(4, 8));
    EXPECT_EQ(form->StatusZoom->text().toStdString(), "Zoom 6.25%");
    form->BtnZoom->click();
    key(Qt::Key_0);
    EXPECT_EQ(view.ZoomMode(), zmOriginalSize);
    EXPECT_EQ(view.ZoomPercent(), 100.0f);
    EXPECT_FALSE(form->BtnZoom->isChecked());
    // None of them moved the texture list.
    EXPECT_EQ(form->QueryTXD->RecNo(), row);
    EXPECT_TRUE(form->script().errors.empty());
}

TEST_F(TexturesTest, SaveAsWritesTgaUnlessPngIsChosenByItsFilterOrByAPngName)
{
    open(dir.file("sample.dir"));
    form->guard([&] {
        form->RxM->GoToRowNumber(7);
        form->RxM->FireAfterScroll();
    });
    ASSERT_EQ(textureText("Name"), "sunset_DXT5");  // with alpha
    const TextureRef t = currentTextureRef(*form->QueryTXD);
    TFileStream img(dir.file("sample.img"), FileMode::OpenReadShareDenyWrite);
    const std::vector<uint8_t> tga = buildTextureTga(img, t).bytes;
    TReadOnlyMemoryStream tgaStream(tga.data(), int64_t(tga.size()));
    const auto expected = LoadPictureFromStream(tgaStream, "TGA", 1, true);
    ASSERT_FALSE(expected->AlphaPlane.empty());

    const struct {
        int filter;
        const char* name;
        bool png;
    } cases[] = {{0, "a.png", true}, {0, "b.PNG", true}, {1, "c.out", true}, {0, "d.tga", false}, {0, "e.bmp", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file(c.name);
        form->script().saveAnswers.push_back(out);
        form->script().saveFilterAnswers.push_back(c.filter);
        form->BtnSaveTGA->click();
        ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
        const FileDialogSetup& asked = form->script().saveRequests.back();
        EXPECT_EQ(asked.filter, "Targa Image|*.tga");
        EXPECT_EQ(asked.extraFilters, "PNG Image|*.png");
        const std::vector<uint8_t> written = archive_fixture::readBytes(out);
        if (!c.png) {
            EXPECT_EQ(written, tga);
            continue;
        }
        ASSERT_GT(written.size(), 8u);
        EXPECT_EQ(std::string(written.begin() + 1, written.begin() + 4), "PNG");
        // The same pixels and alpha as the TGA.
        TReadOnlyMemoryStream pngStream(written.data(), int64_t(written.size()));
        const auto saved = LoadPictureFromStream(pngStream, "PNG", 1, true);
        ASSERT_EQ(saved->Width(), expected->Width());
        ASSERT_EQ(saved->Height(), expected->Height());
        EXPECT_EQ(saved->AlphaPlane, expected->AlphaPlane);
        int mismatches = 0;
        for (int y = 0; y < expected->Height(); ++y)
            for (int x = 0; x < expected->Width(); ++x)
                if (saved->GetPixelColor(x, y) != expected->GetPixelColor(x, y))
                    ++mismatches;
        EXPECT_EQ(mismatches, 0);
    }
}
