// SPDX-License-Identifier: GPL-2.0-or-later
// The archive edits of the main window through scripted dialogs: Add, Replace,
// Remove (Shift+Delete, asked first), Rename (F2 in the grid), Rebuild (and
// its Cancel), Extract, New archive, files dropped on the entry list, Undo
// and Redo. After each, the archive's bytes are checked against bytes laid
// out by hand, and the lists are checked to have been read again; refusals
// show the error box and leave every byte as it was.
#include "app/main_form.h"

#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "formats/archive_sample.h"
#include "formats/archive_writer.h"
#include "imaging/import_pipeline.h"
#include "platform/byte_order.h"
#include "platform/environment.h"
#include "support/archive_builder.h"
#include "support/picture_builder.h"
#include "tests/app/app_test_support.h"
#include "texture/ui/form_image.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>
#include <semaphore>
#include <unistd.h>

namespace fs = std::filesystem;
using apptest::dropFiles;
using apptest::ScriptedDialogs;
using apptest::TestForm;
using archive_fixture::readBytes;
using archive_fixture::Rec;
using archive_fixture::recordsOf;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

constexpr size_t kSector = 2048;

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 7 + seed);
    return bytes;
}

// `bytes` padded with zeros to whole sectors.
std::vector<uint8_t> padded(std::vector<uint8_t> bytes)
{
    bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, 0);
    return bytes;
}

std::vector<uint8_t> joined(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An archive directory "m.dir" of three entries: a.dff (3000 bytes, sectors
// 0-1), b.dff (100 bytes, sector 2), c.col (2048 bytes, sector 3).
class ArchiveEditsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeArchive(dirFile, imgFile, {{"a.dff", a}, {"b.dff", b}, {"c.col", c}});
        form = std::make_unique<TestForm>();
        form->resize(1019, 667);  // tall enough for the status lines
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        open(dirFile);
    }
    void TearDown() override
    {
        setBusyCursor(false);
        form.reset();
    }

    void open(const std::string& path)
    {
        form->script().openAnswers.push_back(path);
        form->BtnOpen->click();
        ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    }
    ScriptedDialogs& script() { return form->script(); }
    std::string errors()
    {
        std::string all;
        for (const auto& e : script().errors)
            all += e.text + "\n";
        return all;
    }
    std::pair<std::vector<uint8_t>, std::vector<uint8_t>> files() const
    {
        return {readBytes(dirFile), readBytes(imgFile)};
    }
    std::string currentName() { return currentEntry(*form->RxM).name; }
    std::string message() { return form->StatusBar1->currentMessage().toStdString(); }
    std::string file(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = dir.file(name);
        writeBytes(path, bytes);
        return path;
    }
    // The records as the list shows them (Pos order).
    std::vector<std::string> listedNames()
    {
        std::vector<std::string> names;
        for (int r = 0; r < form->RxM->RowCount(); ++r)
            names.push_back(entryAtRow(*form->RxM, r).name);
        return names;
    }
    void goToRow(int number)
    {
        form->guard([&] {
            form->RxM->GoToRowNumber(number);
            form->RxM->FireAfterScroll();
        });
    }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {})
    {
        const QRect cell = form->Grid->visualRect(form->Grid->model()->index(row, 0));
        QTest::mouseClick(form->Grid->viewport(), Qt::LeftButton, modifiers, cell.center());
    }

    ScratchDir dir{"qx_edits"};
    std::string dirFile = dir.file("m.dir"), imgFile = dir.file("m.img");
    std::vector<uint8_t> a = pattern(3000, 1), b = pattern(100, 2), c = pattern(2048, 3);
    std::unique_ptr<TestForm> form;
};

TEST_F(ArchiveEditsTest, TheItemsFollowWhatIsOpen)
{
    EXPECT_TRUE(form->ActAdd->isEnabled());
    EXPECT_TRUE(form->ActRemove->isEnabled());
    EXPECT_TRUE(form->ActRebuild->isEnabled());
    EXPECT_TRUE(form->ActExtract->isEnabled());
    EXPECT_FALSE(form->ActUndo->isEnabled());  // nothing changed yet
    EXPECT_FALSE(form->ActRedo->isEnabled());
    EXPECT_FALSE(form->BtnUndo->isEnabled());
    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo");
    // A standalone dictionary has no directory to change: it can be
    // extracted, not edited.
    archive_sample::writeSampleFiles(dir.path());
    open(dir.file("sample.txd"));
    EXPECT_FALSE(form->ActAdd->isEnabled());
    EXPECT_FALSE(form->ActRemove->isEnabled());
    EXPECT_FALSE(form->ActRename->isEnabled());
    EXPECT_FALSE(form->ActRebuild->isEnabled());
    EXPECT_TRUE(form->ActExtract->isEnabled());
    EXPECT_TRUE(form->ActNewArchive->isEnabled());
}

TEST_F(ArchiveEditsTest, AddAppendsTheFilesAndUndoAndRedoTakeItBackAndForth)
{
    const auto before = files();
    const std::vector<uint8_t> n = pattern(5000, 9), m = pattern(10, 4);
    script().openFilesAnswers.push_back({file("n.dff", n), file("m.txt", m)});
    form->ActAdd->trigger();
    ASSERT_EQ(errors(), "");
    ASSERT_EQ(script().openFilesRequests.size(), 1u);
    EXPECT_EQ(script().openFilesRequests[0].title, "Add to m.dir");

    // Appended after the data file's end, each from a sector boundary.
    EXPECT_EQ(recordsOf(readBytes(dirFile)),
              (std::vector<Rec>{{0, 2, "a.dff"}, {2, 1, "b.dff"}, {3, 1, "c.col"}, {4, 3, "n.dff"}, {7, 1, "m.txt"}}));
    EXPECT_EQ(readBytes(imgFile), joined({before.second, padded(n), padded(m)}));
    // The list is read again, the last file's entry current.
    EXPECT_EQ(form->RxM->RowCount(), 5);
    EXPECT_EQ(currentName(), "m.txt");
    EXPECT_EQ(message(), "2 entries added");
    ASSERT_TRUE(form->ActUndo->isEnabled());
    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo add of 2 entries");
    EXPECT_EQ(form->BtnUndo->toolTip().toStdString(), "Undo add of 2 entries (Ctrl+Z)");
    const auto added = files();

    // Ctrl+Z and Ctrl+Shift+Z, as keys of the window.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->Grid->setFocus();
    QTest::keyClick(form->Grid, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), before);  // the data file is its old length again
    EXPECT_EQ(form->RxM->RowCount(), 3);
    EXPECT_EQ(message(), "Undid add of 2 entries");
    EXPECT_FALSE(form->ActUndo->isEnabled());
    ASSERT_TRUE(form->ActRedo->isEnabled());
    EXPECT_EQ(form->ActRedo->text().toStdString(), "Redo add of 2 entries");

    QTest::keyClick(form->Grid, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), added);
    EXPECT_EQ(form->RxM->RowCount(), 5);
    EXPECT_FALSE(form->ActRedo->isEnabled());
    // With nothing to redo the key does nothing at all.
    QTest::keyClick(form->Grid, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(errors(), "");
    EXPECT_EQ(files(), added);
}

TEST_F(ArchiveEditsTest, AddingANameTheArchiveHoldsAsksBeforeReplacingIt)
{
    const auto before = files();
    const std::vector<uint8_t> bigger = pattern(4100, 5);
    const std::string same = file("B.DFF", bigger);  // b.dff ignoring case
    const std::string fresh = file("new.bin", pattern(20, 6));

    script().openFilesAnswers.push_back({fresh, same});
    script().confirmAnswers = {false};
    form->ActAdd->trigger();
    ASSERT_EQ(script().confirms.size(), 1u);
    EXPECT_EQ(script().confirms[0].caption, "Confirm");
    EXPECT_NE(script().confirms[0].text.find("m.dir already holds 1 entry of these names:\nb.dff"), std::string::npos)
        << script().confirms[0].text;
    EXPECT_EQ(files(), before);  // Cancel: nothing at all was added

    script().openFilesAnswers.push_back({fresh, same});
    script().confirmAnswers = {true};
    form->ActAdd->trigger();
    ASSERT_EQ(errors(), "");
    // b.dff no longer fits its sector: its bytes go after the end, its old
    // sector becomes a gap; new.bin is appended first, as given.
    EXPECT_EQ(recordsOf(readBytes(dirFile)),
              (std::vector<Rec>{{0, 2, "a.dff"}, {5, 3, "b.dff"}, {3, 1, "c.col"}, {4, 1, "new.bin"}}));
    EXPECT_EQ(readBytes(imgFile), joined({before.second, padded(pattern(20, 6)), padded(bigger)}));
    EXPECT_EQ(message(), "1 entry added, 1 replaced");
}

TEST_F(ArchiveEditsTest, ReplaceWritesAChosenFileOverTheCurrentEntry)
{
    const auto before = files();
    goToRow(1);
    const std::vector<uint8_t> smaller = pattern(50, 8);
    script().openAnswers.push_back(file("small.dff", smaller));
    form->LongWorkDelayMs = 0;  // the progress box shows at once
    form->ActReplace->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(script().openRequests.back().title, "Replace a.dff with");
    // A transaction under way cannot be stopped: its box has no Cancel.
    EXPECT_EQ(script().progressTexts, std::vector<std::string>{"Replacing a.dff in m.dir..."});
    EXPECT_EQ(script().progressCancellable, std::vector<bool>{false});
    // It fits in a.dff's own sectors: written there, the rest of its sector
    // zeroed, the second sector left as a gap.
    EXPECT_EQ(recordsOf(readBytes(dirFile)), (std::vector<Rec>{{0, 1, "a.dff"}, {2, 1, "b.dff"}, {3, 1, "c.col"}}));
    std::vector<uint8_t> img = before.second;
    std::copy(smaller.begin(), smaller.end(), img.begin());
    std::fill(img.begin() + 50, img.begin() + kSector, 0);
    EXPECT_EQ(readBytes(imgFile), img);
    EXPECT_EQ(currentName(), "a.dff");
    EXPECT_EQ(entryAtRow(*form->RxM, 0).size, 2048);  // the list was read again
    EXPECT_EQ(message(), "1 entry replaced");
    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo replace of a.dff");

    form->guard([&] { form->BtnUndoClick(); });
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), before);
    EXPECT_EQ(currentName(), "a.dff");  // the current entry kept
}

TEST_F(ArchiveEditsTest, ShiftDeleteRemovesTheMarkedEntriesAfterAsking)
{
    const auto before = files();
    // a.dff and c.col marked, c.col current.
    clickRow(0);
    clickRow(2, Qt::ControlModifier);
    ASSERT_EQ(form->Grid->markedRows(), (std::vector<int>{0, 2}));
    EXPECT_NE(form->EntryStatus->text().toStdString().find("2 selected"), std::string::npos);

    script().confirmAnswers = {false};
    QTest::keyClick(form->Grid, Qt::Key_Delete, Qt::ShiftModifier);
    ASSERT_EQ(script().confirms.size(), 1u);
    EXPECT_EQ(script().confirms[0].caption, "Confirm");
    EXPECT_EQ(script().confirms[0].text, "Remove 2 entries from m.dir?\n\na.dff\nc.col");
    EXPECT_EQ(files(), before);
    EXPECT_EQ(form->RxM->RowCount(), 3);

    script().confirmAnswers = {true};
    QTest::keyClick(form->Grid, Qt::Key_Delete, Qt::ShiftModifier);
    ASSERT_EQ(errors(), "");
    // The records go; their bytes stay as gaps.
    EXPECT_EQ(recordsOf(readBytes(dirFile)), (std::vector<Rec>{{2, 1, "b.dff"}}));
    EXPECT_EQ(readBytes(imgFile), before.second);
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"b.dff"}));
    EXPECT_EQ(currentName(), "b.dff");
    EXPECT_TRUE(form->Grid->markedRows().empty());
    EXPECT_EQ(message(), "2 entries removed");
    EXPECT_NE(form->EntryStatus->text().toStdString().find("1 entry, 6144 bytes in gaps"), std::string::npos)
        << form->EntryStatus->text().toStdString();

    form->guard([&] { form->BtnUndoClick(); });
    EXPECT_EQ(files(), before);
    EXPECT_EQ(form->RxM->RowCount(), 3);

    // Ctrl+Delete still takes a row off the list only.
    script().confirmAnswers = {true};
    QTest::keyClick(form->Grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(script().confirms.back().text, "Delete record?");
    EXPECT_EQ(form->RxM->RowCount(), 2);
    EXPECT_EQ(files(), before);
}

TEST_F(ArchiveEditsTest, F2RenamesTheEntryInTheGrid)
{
    const auto before = files();
    goToRow(2);
    form->Grid->setFocus();
    QTest::keyClick(form->Grid, Qt::Key_F2);
    QLineEdit* editor = form->Grid->cellEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text().toStdString(), "b.dff");
    EXPECT_EQ(editor->selectedText().toStdString(), "b.dff");
    // Over the Name cell of the current row.
    EXPECT_EQ(editor->geometry(), form->Grid->visualRect(form->Grid->model()->index(1, 3)));

    // Esc leaves it as it was.
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_EQ(form->Grid->cellEditor(), nullptr);
    EXPECT_EQ(files(), before);

    QTest::keyClick(form->Grid, Qt::Key_F2);
    editor = form->Grid->cellEditor();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("wheel.dff"));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(form->Grid->cellEditor(), nullptr);
    EXPECT_EQ(recordsOf(readBytes(dirFile)), (std::vector<Rec>{{0, 2, "a.dff"}, {2, 1, "wheel.dff"}, {3, 1, "c.col"}}));
    EXPECT_EQ(readBytes(imgFile), before.second);
    EXPECT_EQ(currentName(), "wheel.dff");
    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo rename of b.dff to wheel.dff");
    const auto renamed = files();

    // Undone, the old name is back and its row stays current; redone, the new one.
    form->ActUndo->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), before);
    EXPECT_EQ(currentName(), "b.dff");
    form->ActRedo->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), renamed);
    EXPECT_EQ(currentName(), "wheel.dff");

    // A name the archive cannot hold: the error box, nothing changed.
    for (const char* bad : {"a/b", "A.DFF", "abcdefghijklmnopqrstuvwxyz"}) {
        script().errors.clear();
        QTest::keyClick(form->Grid, Qt::Key_F2);
        ASSERT_NE(form->Grid->cellEditor(), nullptr);
        form->Grid->cellEditor()->setText(QString::fromUtf8(bad));
        QTest::keyClick(form->Grid->cellEditor(), Qt::Key_Return);
        EXPECT_EQ(script().errors.size(), 1u) << bad;
        EXPECT_EQ(files(), renamed) << bad;
    }
    // Moving to another row closes the editor without renaming.
    QTest::keyClick(form->Grid, Qt::Key_F2);
    ASSERT_NE(form->Grid->cellEditor(), nullptr);
    goToRow(1);
    EXPECT_EQ(form->Grid->cellEditor(), nullptr);
    EXPECT_EQ(files(), renamed);
}

TEST_F(ArchiveEditsTest, WhileANameIsEditedCtrlZBelongsToTheName)
{
    form->guard([&] { form->RenameEntry("x.dff"); });
    ASSERT_TRUE(form->ActUndo->isEnabled());
    const auto renamed = files();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->Grid->setFocus();
    QTest::keyClick(form->Grid, Qt::Key_F2);
    QLineEdit* editor = form->Grid->cellEditor();
    ASSERT_NE(editor, nullptr);
    ASSERT_EQ(QApplication::focusWidget(), editor);
    QTest::keyClicks(editor, "yz");
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(files(), renamed);                       // the archive's change was not undone
    EXPECT_EQ(editor->text().toStdString(), "x.dff");  // the typing was
    QTest::keyClick(editor, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the editor goes
    ASSERT_EQ(QApplication::focusWidget(), form->Grid);
    // Back in the grid, the key is the window's again.
    QTest::keyClick(form->Grid, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NE(files(), renamed);
    EXPECT_EQ(currentName(), "a.dff");
}

TEST_F(ArchiveEditsTest, RebuildClosesTheGapsAndItsCancelLeavesTheOldArchive)
{
    // A gap: b.dff removed first.
    goToRow(2);
    script().confirmAnswers = {true};
    form->ActRemove->trigger();
    ASSERT_EQ(errors(), "");
    const auto gapped = files();

    // Cancelled before the first entry is copied: the old archive stays.
    form->LongWorkDelayMs = 0;
    std::binary_semaphore pressed(0);
    form->onWorkThread = [&] { pressed.acquire(); };
    script().whileProgressShown = [&](LongTask&) { pressed.release(); };
    script().confirmAnswers = {true};
    script().progressCancels = {true};
    form->ActRebuild->trigger();
    EXPECT_EQ(errors(), "");
    ASSERT_EQ(script().progressTexts.size(), 1u);
    EXPECT_EQ(script().progressTexts[0], "Rebuilding m.dir...");
    EXPECT_TRUE(script().progressCancellable[0]);
    EXPECT_EQ(files(), gapped);
    EXPECT_FALSE(fs::exists(imgFile + ".quarnix-new"));
    EXPECT_EQ(message(), "Rebuild cancelled; m.dir was left as it was");

    // Asked first; Cancel there does nothing.
    form->onWorkThread = nullptr;
    script().whileProgressShown = nullptr;
    script().confirmAnswers = {false};
    form->ActRebuild->trigger();
    EXPECT_NE(script().confirms.back().text.find("A rebuild cannot be undone."), std::string::npos);
    EXPECT_EQ(files(), gapped);

    script().confirmAnswers = {true};
    form->ActRebuild->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(recordsOf(readBytes(dirFile)), (std::vector<Rec>{{0, 2, "a.dff"}, {2, 1, "c.col"}}));
    EXPECT_EQ(readBytes(imgFile), joined({padded(a), padded(c)}));
    EXPECT_EQ(entryAtRow(*form->RxM, 1).offset, 2 * 2048);  // read again
    EXPECT_NE(form->EntryStatus->text().toStdString().find("2 entries, 0 bytes in gaps"), std::string::npos);
}

TEST_F(ArchiveEditsTest, ExtractWritesTheMarkedEntriesIntoAFolder)
{
    const std::string out = dir.file("out");
    clickRow(0);
    clickRow(1, Qt::ShiftModifier);  // a.dff and b.dff
    script().folderAnswers.push_back(out);
    form->ActExtract->trigger();
    ASSERT_EQ(errors(), "");
    ASSERT_EQ(script().folderRequests.size(), 1u);
    EXPECT_EQ(script().folderRequests[0].title, "Extract 2 entries to");
    // Each entry's Size bytes from FPos: whole sectors.
    EXPECT_EQ(readBytes(out + "/a.dff"), padded(a));
    EXPECT_EQ(readBytes(out + "/b.dff"), padded(b));
    EXPECT_FALSE(fs::exists(out + "/c.col"));
    EXPECT_EQ(message(), "2 entries extracted to " + out);

    // Files there are replaced only after asking.
    writeBytes(out + "/a.dff", {1, 2, 3});
    script().folderAnswers.push_back(out);
    script().confirmAnswers = {false};
    form->ActExtract->trigger();
    ASSERT_FALSE(script().confirms.empty());
    EXPECT_NE(script().confirms.back().text.find("2 files in " + out + " exist already"), std::string::npos)
        << script().confirms.back().text;
    EXPECT_EQ(readBytes(out + "/a.dff"), (std::vector<uint8_t>{1, 2, 3}));

    // Only the current entry when none is marked.
    clickRow(2);
    script().folderAnswers.push_back(dir.file("one"));
    form->ActExtract->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(fs::directory_iterator(dir.file("one"))->path().filename(), "c.col");
    EXPECT_EQ(readBytes(dir.file("one/c.col")), c);

    // A standalone dictionary is its one entry: the whole file.
    archive_sample::writeSampleFiles(dir.path());
    open(dir.file("sample.txd"));
    script().folderAnswers.push_back(dir.file("txd"));
    form->ActExtract->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(readBytes(dir.file("txd/sample.txd")), readBytes(dir.file("sample.txd")));
}

TEST_F(ArchiveEditsTest, ExtractNeverWritesOverAFileOfTheArchive)
{
    // An entry named like the data file, extracted into the archive's folder.
    form->guard([&] { form->RenameEntry("m.img"); });
    ASSERT_EQ(errors(), "");
    const auto before = files();
    script().folderAnswers.push_back(dir.path());
    form->ActExtract->trigger();
    ASSERT_EQ(script().errors.size(), 1u);
    EXPECT_NE(script().errors[0].text.find("it is a file of the archive being read"), std::string::npos)
        << script().errors[0].text;
    EXPECT_EQ(files(), before);
}

TEST_F(ArchiveEditsTest, RefusalsShowTheErrorBoxAndChangeNothing)
{
    const auto before = files();
    // A file that cannot be read: nothing of the add happens.
    script().openFilesAnswers.push_back({file("ok.bin", pattern(10, 1)), dir.file("missing.bin")});
    form->ActAdd->trigger();
    EXPECT_EQ(script().errors.size(), 1u);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(form->RxM->RowCount(), 3);

    // The archive changed by another program since it was read: the list is
    // read again and nothing is removed.
    script().errors.clear();
    {
        std::vector<uint8_t> d = readBytes(dirFile);
        d[8] = 'z';  // a.dff -> z.dff
        writeBytes(dirFile, d);
    }
    const auto outside = files();
    goToRow(1);
    script().confirmAnswers = {true};
    form->ActRemove->trigger();
    ASSERT_EQ(script().errors.size(), 1u);
    EXPECT_NE(script().errors[0].text.find("changed by another program"), std::string::npos);
    EXPECT_EQ(files(), outside);
    EXPECT_EQ(entryAtRow(*form->RxM, 0).name, "z.dff");

    // Undo of a change the archive no longer holds.
    script().errors.clear();
    form->guard([&] { form->RenameEntry("r.dff"); });
    ASSERT_EQ(errors(), "");
    {
        std::vector<uint8_t> d = readBytes(dirFile);
        d[9] = 'q';
        writeBytes(dirFile, d);
    }
    const auto changed = files();
    form->guard([&] { form->BtnUndoClick(); });
    ASSERT_EQ(script().errors.size(), 1u);
    EXPECT_NE(script().errors[0].text.find("rename of z.dff to r.dff"), std::string::npos) << script().errors[0].text;
    EXPECT_EQ(files(), changed);

    // A symbolic link in place of the data file is never written through.
    script().errors.clear();
    const std::string real = dir.file("real.img");
    fs::rename(imgFile, real);
    fs::create_symlink(real, imgFile);
    const std::vector<uint8_t> linked = readBytes(real);
    script().openFilesAnswers.push_back({file("x.bin", pattern(10, 2))});
    form->ActAdd->trigger();
    ASSERT_EQ(script().errors.size(), 1u);
    EXPECT_NE(script().errors[0].text.find("symbolic link"), std::string::npos) << script().errors[0].text;
    EXPECT_EQ(readBytes(real), linked);
}

TEST_F(ArchiveEditsTest, FilesDroppedOnTheEntryListAreAdded)
{
    const auto before = files();
    const std::vector<uint8_t> t = pattern(300, 3);
    const QPoint onGrid = form->Grid->mapTo(form.get(), form->Grid->rect().center());
    dropFiles(*form, {file("tree.txd", t), file("rock.dff", b)}, onGrid);
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(
        recordsOf(readBytes(dirFile)),
        (std::vector<Rec>{{0, 2, "a.dff"}, {2, 1, "b.dff"}, {3, 1, "c.col"}, {4, 1, "tree.txd"}, {5, 1, "rock.dff"}}));
    EXPECT_EQ(readBytes(imgFile), joined({before.second, padded(t), padded(b)}));
    EXPECT_EQ(currentName(), "rock.dff");

    // A name taken: asked first.
    const auto added = files();
    script().confirmAnswers = {false};
    dropFiles(*form, {file("C.COL", t)}, onGrid);
    ASSERT_EQ(script().confirms.size(), 1u);
    EXPECT_EQ(files(), added);

    // Several files outside the entry list do nothing; a lone archive
    // directory dropped on it opens.
    const QPoint onView = form->ImageScrollBox1->mapTo(form.get(), form->ImageScrollBox1->rect().center());
    dropFiles(*form, {file("p.dff", t), file("q.dff", t)}, onView);
    EXPECT_EQ(files(), added);
    writeArchive(dir.file("other.dir"), dir.file("other.img"), {{"x", t}});
    dropFiles(*form, {dir.file("other.dir")}, onGrid);
    EXPECT_EQ(form->ArchivePath, dir.file("other.dir"));
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"x"}));
    EXPECT_EQ(files(), added);
}

TEST_F(ArchiveEditsTest, NewArchiveMakesAnEmptyArchiveOfTheChosenFlavourAndOpensIt)
{
    // The second filter: a VER2 archive, its extension added.
    script().saveFilterAnswers = {1};
    script().saveAnswers.push_back(dir.file("fresh"));
    form->ActNewArchive->trigger();
    ASSERT_EQ(errors(), "");
    ASSERT_EQ(script().saveRequests.size(), 1u);
    EXPECT_EQ(script().saveRequests[0].filter, "Ostrel archive directory|*.dir");
    EXPECT_EQ(script().saveRequests[0].extraFilters, "Ostrel archive|*.img");
    std::vector<uint8_t> ver2(kSector, 0);
    std::memcpy(ver2.data(), "VER2", 4);
    EXPECT_EQ(readBytes(dir.file("fresh.img")), ver2);
    EXPECT_EQ(form->ArchivePath, dir.file("fresh.img"));
    EXPECT_EQ(message(), "fresh.img: VER2 archive made");
    EXPECT_TRUE(form->RxM->IsEmpty());
    EXPECT_TRUE(form->ActAdd->isEnabled());
    EXPECT_FALSE(form->ActRemove->isEnabled());

    // An existing archive is never replaced.
    script().saveAnswers.push_back(dirFile);
    const auto before = files();
    form->ActNewArchive->trigger();
    EXPECT_EQ(script().errors.size(), 1u);
    EXPECT_EQ(files(), before);
}

TEST_F(ArchiveEditsTest, TheStatusLineSaysWhatTheArchiveHolds)
{
    EXPECT_EQ(form->EntryStatus->text().toStdString(), "archive directory: 3 entries, 0 bytes in gaps");
    // A record that points past the data file's end.
    writeBytes(dirFile, buildDirectoryBytes({{0, 2, "a.dff"}, {9, 1, "far"}}));
    open(dirFile);
    EXPECT_EQ(form->EntryStatus->text().toStdString(),
              "archive directory: 2 entries, 4096 bytes in gaps\nWarning: 1 entry lies outside the data file");
    // No data file: listed all the same, the status line says why.
    fs::remove(imgFile);
    open(dirFile);
    EXPECT_EQ(form->RxM->RowCount(), 2);
    EXPECT_EQ(form->EntryStatus->text().toStdString().rfind("archive directory: 2 entries\nThe data file cannot be "
                                                            "read: Cannot open file ",
                                                            0),
              0u)
        << form->EntryStatus->text().toStdString();
}

TEST_F(ArchiveEditsTest, EditsWorkOnVer2ArchivesToo)
{
    const std::string img = dir.file("v.img");
    writeBytes(img, buildVer2Archive({{"one", a}, {"two", b}}));
    open(img);
    EXPECT_EQ(form->EntryStatus->text().toStdString().rfind("VER2 archive: 2 entries", 0), 0u);
    EXPECT_EQ(form->StatusFile->text().toStdString(), "v.img (VER2 archive), 2 entries");
    goToRow(2);
    form->guard([&] { form->RenameEntry("zwei"); });
    ASSERT_EQ(errors(), "");
    const std::vector<uint8_t> bytes = readBytes(img);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 8 + 32 + 8)), "zwei");
    EXPECT_EQ(currentName(), "zwei");
}

// Undo of an import made in the app: the texture's bytes come back, and the
// entry and texture that were current stay so, shown again.
TEST(ArchiveEditsUndoImport, UndoOfAnImportRestoresTheTextureAndKeepsItCurrent)
{
    ScratchDir dir{"qx_undo_import"};
    archive_sample::writeSampleFiles(dir.path());
    const std::string photo = dir.file("photo.tga");
    SavePictureAsTgaFile(*MakePhotoLikePicture(40, 30, 3), photo);
    TestForm form;
    form.show();
    form.script().openAnswers.push_back(dir.file("sample.dir"));
    form.guard([&] { form.BtnOpenClick(); });
    form.guard([&] {
        form.RxM->GoToRowNumber(4);  // Landscape.TXD
        form.RxM->FireAfterScroll();
        form.QueryTXD->Locate("Pos", 2);
    });
    ASSERT_TRUE(form.script().errors.empty()) << form.script().errors[0].text;
    const std::string texture = form.QueryTXD->FieldByName(TextureField::kName).AsString();
    const std::vector<uint8_t> before = readBytes(dir.file("sample.img"));

    form.script().pictureAnswers.push_back(photo);
    form.script().previewAnswers.push_back(true);
    form.BtnImport->click();
    ASSERT_TRUE(form.script().errors.empty()) << form.script().errors[0].text;
    ASSERT_NE(readBytes(dir.file("sample.img")), before);
    ASSERT_TRUE(form.ActUndo->isEnabled());
    EXPECT_EQ(form.ActUndo->text().toStdString(), "Undo import of " + texture);

    const int clears = form.imageViewClears;
    form.guard([&] { form.BtnUndoClick(); });
    ASSERT_TRUE(form.script().errors.empty()) << form.script().errors[0].text;
    EXPECT_EQ(readBytes(dir.file("sample.img")), before);
    EXPECT_EQ(currentEntry(*form.RxM).name, "Landscape.TXD");
    EXPECT_EQ(form.QueryTXD->FieldByName(TextureField::kName).AsString(), texture);
    EXPECT_FALSE(form.ImageScrollBox1->Graphic().IsEmpty());  // shown again
    EXPECT_EQ(form.imageViewClears, clears);
    EXPECT_EQ(form.ActRedo->text().toStdString(), "Redo import of " + texture);
}

}  // namespace
