// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/main_form.h"

#include "app/tool_bar.h"
#include "formats/archive_writer.h"
#include "platform/environment.h"
#include "platform/exceptions.h"
#include "support/archive_builder.h"
#include "tests/app/app_test_support.h"

#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QSplitterHandle>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

using apptest::TestForm;
using archive_fixture::ScratchDir;

// What RxM's AfterScroll saw: for each firing, whether LoadingDirectory was set.
struct ScrollLog {
    std::vector<bool> loading;
    int outsideLoading() const { return static_cast<int>(std::count(loading.begin(), loading.end(), false)); }
};

void logEntryScrolls(TestForm& form, ScrollLog& log)
{
    form.RxM->SetAfterScroll([&form, &log](RecordTable& t) {
        log.loading.push_back(form.LoadingDirectory);
        form.RxMAfterScroll(t);
    });
}

std::vector<uint8_t> directoryBytes(const std::vector<DirectoryRecord>& records, size_t extra = 0)
{
    std::vector<uint8_t> bytes = buildDirectoryBytes(records);
    bytes.insert(bytes.end(), extra, 0x7F);
    return bytes;
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TestForm>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override
    {
        setBusyCursor(false);
        form.reset();
    }

    // Answers the next Open dialog with `path` and clicks "Open".
    void openPath(const std::string& path)
    {
        form->script().openAnswers.push_back(path);
        form->BtnOpen->click();
    }

    std::string rowText(const char* field) { return form->RxM->FieldByName(field).AsString(); }
    int64_t rowInt(const char* field) { return form->RxM->FieldByName(field).AsInteger(); }

    // Fills the texture table as a dictionary read would and enables its items.
    void fillTextures(int count)
    {
        form->FillingTextures = true;
        for (int i = 1; i <= count; ++i) {
            form->QueryTXD->Append();
            form->QueryTXD->FieldByName("Pos").SetAsInteger(i);
            form->QueryTXD->FieldByName("Name").SetAsString("tex" + std::to_string(i));
            form->QueryTXD->FieldByName("Size").SetAsInteger(100 * (count - i));
            form->QueryTXD->Post();
        }
        form->FillingTextures = false;
        form->setTextureItemsEnabled(true);
    }

    std::unique_ptr<TestForm> form;
    ScratchDir dir{"qx_app"};
};

TEST_F(MainFormTest, StartUpState)
{
    EXPECT_EQ(form->windowTitle().toStdString(), "Quarnix Pre-Alpha2");
    EXPECT_FALSE(form->BtnSaveTGA->isEnabled());
    EXPECT_FALSE(form->BtnImport->isEnabled());
    EXPECT_TRUE(form->BtnExit->isEnabled());
    EXPECT_TRUE(form->BtnOpen->isEnabled());
    EXPECT_FALSE(form->BtnZoom->isChecked());
    EXPECT_EQ(form->ImageScrollBox1->ZoomMode(), zmOriginalSize);
    EXPECT_EQ(form->BtnExit->toolTip().toStdString(), "Exit");
    EXPECT_EQ(form->BtnOpen->toolTip().toStdString(), "Open");
    EXPECT_EQ(form->BtnSaveTGA->text().toStdString(), "Save as TGA");
    EXPECT_EQ(form->BtnZoom->text().toStdString(), "Fit Height");
    EXPECT_EQ(form->BtnImport->text().toStdString(), "Import Texture");
    EXPECT_TRUE(form->RxM->IsEmpty());
    EXPECT_TRUE(form->QueryTXD->IsEmpty());
    EXPECT_EQ(form->Grid->model()->rowCount(), 0);
    EXPECT_EQ(form->GridTXD->model()->rowCount(), 0);
    EXPECT_TRUE(form->ArchiveFileName.empty());
    EXPECT_FALSE(form->StandaloneTxd);
    EXPECT_FALSE(form->LoadingDirectory);
    EXPECT_FALSE(form->FillingTextures);
    EXPECT_TRUE(form->SearchText.empty());
    EXPECT_EQ(form->OD.filter, "Ostrel Resources|*.dir;*.txd");
    EXPECT_EQ(form->SD.filter, "Targa Image|*.tga");
    EXPECT_EQ(form->SD.defaultExt, ".tga");
    EXPECT_EQ(form->OpenPictureDialog.filter.rfind("All (*.png;", 0), 0u) << form->OpenPictureDialog.filter;
    EXPECT_EQ(form->font().family().toStdString(), "Arial");
    EXPECT_EQ(form->font().pixelSize(), 11);
}

TEST_F(MainFormTest, LayoutAtDesignSize)
{
    // Design sizes are outer sizes, frame included.
    EXPECT_EQ(form->frameGeometry().size(), QSize(715, 468));
    const QSize frame = form->frameGeometry().size() - form->size();
    EXPECT_EQ(form->minimumSize(), QSize(503, 196) - frame);
    const int w = form->width();
    const int h = form->height();
    EXPECT_EQ(form->ToolBar1->height(), 26);
    EXPECT_EQ(form->Grid->geometry(), QRect(0, 26, 265, h - 26));
    EXPECT_EQ(form->Panel1->geometry(), QRect(265, 26, w - 265, h - 26));
    EXPECT_EQ(form->Splitter1->handleWidth(), 3);
    EXPECT_EQ(form->ImageScrollBox1->height(), 146);
    EXPECT_EQ(form->ImageScrollBox1->width(), w - 265);
    EXPECT_EQ(form->GridTXD->height(), h - 26 - 146 - 3);

    // At this size the status bar takes no height.
    EXPECT_FALSE(form->StatusBar1->isVisible());

    // Wider: only the right-hand panel grows; the texture columns grow with it.
    const std::vector<int> before = form->GridTXD->columnWidths();
    form->resize(QSize(900, 468) - frame);
    QApplication::processEvents();
    EXPECT_EQ(form->Grid->width(), 265);
    EXPECT_EQ(form->ImageScrollBox1->height(), 146);
    EXPECT_EQ(form->GridTXD->height(), 468 - frame.height() - 26 - 146 - 3);
    const std::vector<int> after = form->GridTXD->columnWidths();
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_GT(after[i], before[i]) << i;
    EXPECT_EQ(form->GridTXD->horizontalHeader()->length(), form->GridTXD->clientWidth());

    // It cannot be made smaller than the minimum.
    form->resize(100, 100);
    QApplication::processEvents();
    EXPECT_EQ(form->frameGeometry().size(), QSize(503, 196));
}

TEST(WrapToolBarTest, WrapsOntoMoreRowsWhenNarrow)
{
    apptest::app();
    WrapToolBar bar;
    for (int i = 0; i < 5; ++i)
        bar.addButton(QIcon(), QStringLiteral("Caption %1").arg(i), QString());
    bar.resize(2000, 26);
    bar.show();
    QApplication::processEvents();
    EXPECT_EQ(bar.height(), 26);
    EXPECT_EQ(bar.rowCount(), 1);
    bar.resize(120, bar.height());
    QApplication::processEvents();
    EXPECT_GT(bar.rowCount(), 1);
    EXPECT_EQ(bar.height(), bar.rowCount() * WrapToolBar::kButtonHeight + 2 * WrapToolBar::kMargin);
}

TEST_F(MainFormTest, FitHeightToggles)
{
    form->BtnZoom->click();
    EXPECT_TRUE(form->BtnZoom->isChecked());
    EXPECT_EQ(form->ImageScrollBox1->ZoomMode(), zmFitHeight);
    form->BtnZoomClick();
    EXPECT_FALSE(form->BtnZoom->isChecked());
    EXPECT_EQ(form->ImageScrollBox1->ZoomMode(), zmOriginalSize);
}

TEST_F(MainFormTest, OpenDirectoryListsEntriesWithoutReadingTheFirst)
{
    const std::string path = dir.file("models.dir");
    archive_fixture::writeBytes(
        path, directoryBytes(
                  {{5, 3, "menu.txd"}, {0, 1, std::string("abc\0XYZ", 7)}, {8, 2, "ABCDEFGHIJKLMNOPQRSTUVWX"}}, 4));
    fillTextures(2);
    ScrollLog log;
    logEntryScrolls(*form, log);

    openPath(path);
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    ASSERT_EQ(form->script().openRequests.size(), 1u);
    EXPECT_EQ(form->script().openRequests[0].filter, "Ostrel Resources|*.dir;*.txd");

    EXPECT_EQ(form->ArchiveFileName, dir.file("models.img"));
    EXPECT_FALSE(form->StandaloneTxd);
    EXPECT_FALSE(form->LoadingDirectory);
    EXPECT_FALSE(busyCursorShown());
    ASSERT_EQ(form->RxM->RowCount(), 3);
    EXPECT_EQ(form->Grid->model()->rowCount(), 3);
    // First row current; its dictionary has not been read.
    EXPECT_EQ(form->RxM->RecNo(), 1);
    EXPECT_EQ(rowInt("Pos"), 1);
    EXPECT_EQ(rowText("Name"), "menu.txd");
    EXPECT_EQ(rowInt("FPos"), 10240);
    EXPECT_EQ(rowInt("Size"), 6144);
    form->RxM->GoToRowNumber(2);
    EXPECT_EQ(rowText("Name"), "abc");
    EXPECT_EQ(rowInt("Size"), 2048);
    form->RxM->GoToRowNumber(3);
    EXPECT_EQ(rowText("Name"), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(rowInt("Pos"), 3);
    EXPECT_EQ(rowInt("FPos"), 16384);

    // Three appends, the sort and the final first: all absorbed while loading.
    EXPECT_EQ(log.loading.size(), 5u);
    EXPECT_EQ(log.outsideLoading(), 0);
    EXPECT_TRUE(form->QueryTXD->IsEmpty());
    EXPECT_FALSE(form->BtnSaveTGA->isEnabled());
    EXPECT_FALSE(form->BtnImport->isEnabled());
    EXPECT_EQ(form->imageViewClears, 1);
    EXPECT_TRUE(form->Grid->hasFocus());
}

TEST_F(MainFormTest, OpenDirectoryFindsTheDataFileInAnotherLetterCase)
{
    const std::string path = dir.file("GAME.DIR");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "a"}}));
    archive_fixture::writeBytes(dir.file("GAME.IMG"), std::vector<uint8_t>(2048, 0));
    openPath(path);
    EXPECT_EQ(form->ArchiveFileName, dir.file("GAME.IMG"));

    // Without any data file the lower-case name stands.
    const std::string other = dir.file("OTHER.DIR");
    archive_fixture::writeBytes(other, directoryBytes({{0, 1, "a"}}));
    openPath(other);
    EXPECT_EQ(form->ArchiveFileName, dir.file("OTHER.img"));
}

TEST_F(MainFormTest, OpenShortDirectoryGivesAnEmptyList)
{
    const std::string path = dir.file("short.dir");
    archive_fixture::writeBytes(path, std::vector<uint8_t>(31, 1));
    openPath(path);
    EXPECT_TRUE(form->script().errors.empty());
    EXPECT_TRUE(form->RxM->IsEmpty());
    EXPECT_FALSE(form->LoadingDirectory);
}

TEST_F(MainFormTest, OpenDictionaryListsOneEntry)
{
    const std::string path = dir.file("MENU.TXD");
    archive_fixture::writeBytes(path, std::vector<uint8_t>(1000, 0));
    ScrollLog log;
    logEntryScrolls(*form, log);

    openPath(path);
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    EXPECT_EQ(form->ArchiveFileName, path);
    EXPECT_TRUE(form->StandaloneTxd);
    EXPECT_FALSE(form->LoadingDirectory);
    ASSERT_EQ(form->RxM->RowCount(), 1);
    EXPECT_EQ(rowInt("Pos"), 1);
    EXPECT_EQ(rowInt("FPos"), 0);
    EXPECT_EQ(rowInt("Size"), 1000);
    EXPECT_EQ(rowText("Name"), "MENU.TXD");
    // The append and the final first both reach the handler.
    EXPECT_EQ(log.loading, (std::vector<bool>{false, false}));
    EXPECT_FALSE(busyCursorShown());
}

TEST_F(MainFormTest, CancelChangesNothing)
{
    const std::string path = dir.file("keep.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "one"}, {1, 1, "two"}}));
    openPath(path);
    form->RxM->Last();
    fillTextures(1);
    const int clears = form->imageViewClears;

    form->BtnOpen->click();  // no answer queued: cancelled
    EXPECT_EQ(form->script().openRequests.size(), 2u);
    EXPECT_EQ(form->RxM->RowCount(), 2);
    EXPECT_EQ(form->RxM->RecNo(), 2);
    EXPECT_EQ(form->QueryTXD->RowCount(), 1);
    EXPECT_TRUE(form->BtnSaveTGA->isEnabled());
    EXPECT_EQ(form->ArchiveFileName, dir.file("keep.img"));
    EXPECT_EQ(form->imageViewClears, clears);
    EXPECT_TRUE(form->script().errors.empty());
}

TEST_F(MainFormTest, MissingFileEmptiesTheListsAndShowsTheError)
{
    const std::string good = dir.file("keep.dir");
    archive_fixture::writeBytes(good, directoryBytes({{0, 1, "one"}}));
    openPath(good);
    fillTextures(2);

    struct Case {
        std::string chosen;
        std::string archive;
        bool standalone;
    };
    for (const Case& c : {Case{dir.file("nope.dir"), dir.file("nope.img"), false},
                          Case{dir.file("nope.txd"), dir.file("nope.txd"), true}}) {
        form->script().errors.clear();
        openPath(c.chosen);
        ASSERT_EQ(form->script().errors.size(), 1u) << c.chosen;
        EXPECT_EQ(form->script().errors[0].caption, "Brel Quarnix :)");
        EXPECT_EQ(form->script().errors[0].text, "Cannot open file " + c.chosen + ".");
        EXPECT_TRUE(form->RxM->IsEmpty());
        EXPECT_TRUE(form->QueryTXD->IsEmpty());
        EXPECT_FALSE(form->BtnSaveTGA->isEnabled());
        EXPECT_FALSE(form->BtnImport->isEnabled());
        EXPECT_EQ(form->ArchiveFileName, c.archive);
        EXPECT_EQ(form->StandaloneTxd, c.standalone);
        EXPECT_FALSE(form->LoadingDirectory);
        EXPECT_FALSE(busyCursorShown());
        EXPECT_FALSE(form->RxM->ControlsDisabled());
    }
}

TEST_F(MainFormTest, FailureDuringTheLoadLeavesNoFlagSet)
{
    const std::string path = dir.file("fail.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "one"}, {1, 1, "two"}}));
    int fires = 0;
    form->RxM->SetAfterScroll([&](RecordTable&) {
        if (++fires == 2)
            throw Exception("Stream read error");
    });
    openPath(path);
    ASSERT_EQ(form->script().errors.size(), 1u);
    EXPECT_EQ(form->script().errors[0].text, "Stream read error.");
    EXPECT_FALSE(form->LoadingDirectory);
    EXPECT_FALSE(form->RxM->ControlsDisabled());
    EXPECT_FALSE(busyCursorShown());
}

TEST_F(MainFormTest, EntryMovesReachTheHandlerAfterOpen)
{
    const std::string path = dir.file("a.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "one.txd"}, {1, 1, "two"}}));
    openPath(path);
    fillTextures(3);
    ScrollLog log;
    logEntryScrolls(*form, log);

    QTest::keyClick(form->Grid, Qt::Key_Down);
    EXPECT_EQ(log.loading, std::vector<bool>{false});
    // The handler empties the texture list, disables its items and clears the view.
    EXPECT_TRUE(form->QueryTXD->IsEmpty());
    EXPECT_TRUE(form->FillingTextures);
    EXPECT_FALSE(form->BtnSaveTGA->isEnabled());
    EXPECT_FALSE(form->BtnImport->isEnabled());
}

TEST_F(MainFormTest, TitleClickSortsAndFiresOnce)
{
    const std::string path = dir.file("s.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "b"}, {1, 1, "A"}, {2, 1, "a"}, {3, 1, "B"}}));
    openPath(path);
    form->RxM->GoToRowNumber(2);  // "A" stays current through the sort
    ScrollLog log;
    logEntryScrolls(*form, log);

    auto clickTitle = [&](RecordGrid* grid, int column) {
        QHeaderView* h = grid->horizontalHeader();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2));
    };
    auto names = [&] {
        std::string all;
        for (int r = 0; r < form->RxM->RowCount(); ++r)
            all += form->RxM->RowText(r, form->RxM->FieldIndex("Name"));
        return all;
    };

    clickTitle(form->Grid, 3);  // Name
    EXPECT_EQ(names(), "AabB");
    EXPECT_EQ(log.loading.size(), 1u);
    EXPECT_EQ(rowText("Name"), "A");
    clickTitle(form->Grid, 3);  // again: same order
    EXPECT_EQ(names(), "AabB");
    clickTitle(form->Grid, 0);  // Pos: file order back
    EXPECT_EQ(names(), "bAaB");
    EXPECT_EQ(log.loading.size(), 3u);

    // The texture grid sorts its own table on its own columns.
    fillTextures(3);
    int textureFires = 0;
    form->QueryTXD->SetAfterScroll([&](RecordTable&) { ++textureFires; });
    clickTitle(form->GridTXD, 2);  // Size: 200, 100, 0 -> ascending
    EXPECT_EQ(form->QueryTXD->RowInteger(0, form->QueryTXD->FieldIndex("Size")), 0);
    EXPECT_EQ(textureFires, 1);
}

TEST_F(MainFormTest, CtrlDeleteAsksThroughTheDialogs)
{
    const std::string path = dir.file("d.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "one"}, {1, 1, "two"}, {2, 1, "three"}}));
    openPath(path);
    ScrollLog log;
    logEntryScrolls(*form, log);

    form->script().confirmAnswers = {false};
    QTest::keyClick(form->Grid, Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(form->script().confirms.size(), 1u);
    EXPECT_EQ(form->script().confirms[0].caption, "Confirm");
    EXPECT_EQ(form->script().confirms[0].text, "Delete record?");
    EXPECT_EQ(form->RxM->RowCount(), 3);
    EXPECT_TRUE(log.loading.empty());

    form->script().confirmAnswers = {true};
    QTest::keyClick(form->Grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(form->RxM->RowCount(), 2);
    EXPECT_EQ(rowText("Name"), "two");
    EXPECT_EQ(log.loading, std::vector<bool>{false});
}

TEST_F(MainFormTest, DeletingTheLastTextureDisablesItsItems)
{
    fillTextures(2);
    form->script().confirmAnswers = {true};
    QTest::keyClick(form->GridTXD, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(form->QueryTXD->RowCount(), 1);
    EXPECT_TRUE(form->BtnSaveTGA->isEnabled());
    const int clears = form->imageViewClears;

    form->script().confirmAnswers = {true};
    QTest::keyClick(form->GridTXD, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(form->QueryTXD->IsEmpty());
    EXPECT_FALSE(form->BtnSaveTGA->isEnabled());
    EXPECT_FALSE(form->BtnImport->isEnabled());
    EXPECT_EQ(form->imageViewClears, clears + 1);
}

TEST_F(MainFormTest, KeyPreviewSeesKeysBeforeTheGridWithoutTakingThem)
{
    const std::string path = dir.file("k.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "one"}, {1, 1, "two"}}));
    openPath(path);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->Grid->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), form->Grid);

    QTest::keyClick(form->Grid, Qt::Key_F5);
    QTest::keyClick(form->Grid, Qt::Key_Down);
    EXPECT_EQ(form->previewedKeys, (std::vector<int>{Qt::Key_F5, Qt::Key_Down}));
    EXPECT_EQ(form->RxM->RecNo(), 2);  // the grid still got the key
}

TEST_F(MainFormTest, ErrorsOfGridInputsReachTheErrorBox)
{
    const std::string path = dir.file("e.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "one"}, {1, 1, "two"}}));
    openPath(path);
    form->RxM->SetAfterScroll([](RecordTable&) { throw EFOpenError("Cannot open file /x/e.img"); });
    setBusyCursor(true);
    QTest::keyClick(form->Grid, Qt::Key_Down);
    ASSERT_EQ(form->script().errors.size(), 1u);
    EXPECT_EQ(form->script().errors[0].caption, "Brel Quarnix :)");
    EXPECT_EQ(form->script().errors[0].text, "Cannot open file /x/e.img.");
    EXPECT_FALSE(busyCursorShown());
    EXPECT_EQ(form->RxM->RecNo(), 2);
}

TEST(MainFormFirstSize, ScalesTheDesignUntilASideTakesTwoThirdsOfTheScreen)
{
    const struct {
        QSize screen, expected;
    } cases[] = {
        {{800, 600}, {715, 468}},     // less room than the design: the design
        {{800, 800}, {715, 468}},     // room in height only: the design
        {{1600, 1000}, {1019, 667}},  // 667 / 468 = 1.4245 < 1067 / 715
        {{1920, 1080}, {1100, 720}},  // 720 / 468 = 1.5385
        {{1280, 2000}, {853, 559}},   // a tall screen: the width decides
    };
    for (const auto& c : cases)
        EXPECT_EQ(TForm1::firstSize(QRect(QPoint(0, 0), c.screen)), c.expected) << c.screen.width();
}

TEST_F(MainFormTest, CtrlOOpensAndTheTitleNamesTheOpenFile)
{
    const std::string path = dir.file("models.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "one"}, {1, 1, "two"}, {2, 1, "a.txd"}}));
    archive_fixture::writeBytes(dir.file("models.img"), std::vector<uint8_t>(3 * 2048));
    form->script().openAnswers.push_back(path);
    form->Grid->setFocus();
    QTest::keyClick(form->Grid, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(form->script().openRequests.size(), 1u);
    EXPECT_EQ(form->RxM->RowCount(), 3);
    EXPECT_EQ(form->windowTitle().toStdString(), "Quarnix Pre-Alpha2 - models.dir");

    // A file that cannot be opened leaves no name in the title.
    openPath(dir.file("missing.dir"));
    EXPECT_EQ(form->script().errors.size(), 1u);
    EXPECT_EQ(form->windowTitle().toStdString(), "Quarnix Pre-Alpha2");
}

TEST_F(MainFormTest, ATallerWindowGivesTheViewItsHeightAndShowsTheStatusBar)
{
    const std::string path = dir.file("models.dir");
    archive_fixture::writeBytes(path, directoryBytes({{0, 1, "one"}, {1, 1, "two"}}));
    openPath(path);
    // Sizes are outer sizes, frame included.
    const QSize frame = form->frameGeometry().size() - form->size();

    form->resize(QSize(1019, 667) - frame);
    QApplication::processEvents();
    ASSERT_TRUE(form->StatusBar1->isVisible());
    ASSERT_TRUE(form->EntryStatus->isVisible());
    const int body = 667 - frame.height() - 26 - form->StatusBar1->height();
    // The entry list's status line stands under it, as wide as it.
    EXPECT_EQ(form->Grid->height(), body - form->EntryStatus->height());
    EXPECT_EQ(form->EntryStatus->geometry(),
              QRect(0, form->Grid->geometry().bottom() + 1, form->Grid->width(), form->EntryStatus->height()));
    EXPECT_GT(form->EntryStatus->height(), 0);
    EXPECT_EQ(form->Panel1->height(), body);
    // The texture list keeps its design height; the view takes the rest.
    EXPECT_EQ(form->GridTXD->height(), 468 - frame.height() - 26 - 146 - 3);
    EXPECT_EQ(form->ImageScrollBox1->height(), body - 3 - form->GridTXD->height());
    EXPECT_GT(form->ImageScrollBox1->height(), body / 2);
    EXPECT_EQ(form->StatusFile->text().toStdString(), "models.dir (archive directory), 2 entries");

    // Back at the design height the layout is the design's again.
    form->resize(QSize(715, 468) - frame);
    QApplication::processEvents();
    EXPECT_FALSE(form->StatusBar1->isVisible());
    EXPECT_FALSE(form->EntryStatus->isVisible());
    EXPECT_EQ(form->Grid->height(), 468 - frame.height() - 26);
    EXPECT_EQ(form->ImageScrollBox1->height(), 146);
    EXPECT_EQ(form->GridTXD->height(), 468 - frame.height() - 26 - 146 - 3);
    // Lower still: the texture list gives up its height first.
    form->resize(QSize(715, 400) - frame);
    QApplication::processEvents();
    EXPECT_EQ(form->ImageScrollBox1->height(), 146);
    EXPECT_EQ(form->GridTXD->height(), 400 - frame.height() - 26 - 146 - 3);
}

TEST_F(MainFormTest, TheSplittersMoveAndKeepWhereTheyWereLeft)
{
    // Entry list | textures: the bar along the panel's left edge.
    EXPECT_EQ(form->Splitter2->geometry(), QRect(0, 0, 3, form->Panel1->height()));
    EXPECT_EQ(form->Splitter2->cursor().shape(), Qt::SplitHCursor);
    QTest::mousePress(form->Splitter2, Qt::LeftButton, {}, QPoint(1, 100));
    QTest::mouseMove(form->Splitter2, QPoint(41, 100));
    QTest::mouseRelease(form->Splitter2, Qt::LeftButton, {}, QPoint(41, 100));
    QApplication::processEvents();
    EXPECT_EQ(form->Grid->width(), 305);
    EXPECT_EQ(form->Panel1->geometry().left(), 305);
    EXPECT_EQ(form->Splitter2->geometry(), QRect(0, 0, 3, form->Panel1->height()));
    form->resize(900, 468);
    QApplication::processEvents();
    EXPECT_EQ(form->Grid->width(), 305);
    // Never so wide that the textures have no room.
    QTest::mousePress(form->Splitter2, Qt::LeftButton, {}, QPoint(1, 100));
    QTest::mouseMove(form->Splitter2, QPoint(2000, 100));
    QTest::mouseRelease(form->Splitter2, Qt::LeftButton, {}, QPoint(2000, 100));
    EXPECT_EQ(form->Grid->width(), 900 - TForm1::kMinPanelWidth);

    // Texture list / view: the list keeps the height it was given.
    QSplitterHandle* handle = form->Splitter1->handle(1);
    const int grid = form->GridTXD->height();
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(50, 1));
    QTest::mouseMove(handle, QPoint(50, -99));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(50, -99));
    const int dragged = form->GridTXD->height();
    EXPECT_NEAR(dragged, grid - 100, 1);
    form->resize(900, 700);
    QApplication::processEvents();
    EXPECT_EQ(form->GridTXD->height(), dragged);
    EXPECT_EQ(form->Splitter1->sizes().value(1), form->ImageScrollBox1->height());
}

}  // namespace
