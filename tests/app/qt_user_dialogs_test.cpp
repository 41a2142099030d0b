// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/qt_user_dialogs.h"

#include "app/batch_dialogs.h"

#include "search/ui/find_input_box.h"
#include "search/ui/replace_form.h"
#include "tests/app/app_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

TEST(ToQtFileFilter, ConvertsDescriptionPatternPairs)
{
    EXPECT_EQ(toQtFileFilter("Ostrel Resources|*.dir;*.txd").toStdString(), "Ostrel Resources (*.dir *.txd)");
    EXPECT_EQ(toQtFileFilter("Targa Image|*.tga").toStdString(), "Targa Image (*.tga)");
    // Descriptions that already show their own patterns do not get them twice.
    EXPECT_EQ(toQtFileFilter("All (*.png;*.jpg)|*.png;*.jpg|Portable Network Graphic (*.png)|*.png").toStdString(),
              "All (*.png *.jpg);;Portable Network Graphic (*.png)");
    EXPECT_EQ(toQtFileFilter("").toStdString(), "");
}

// Runs `interact` on the modal dialog of type D once the call under test has
// opened it. A dialog that is not there, or left open, is closed after a
// while so a failing test cannot hang. The timers die with `context`.
template <class D>
void whenOpen(QObject* context, std::function<void(D&)> interact, bool& ran)
{
    ran = false;
    QTimer::singleShot(0, context, [interact, &ran] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        ran = true;
        interact(*dialog);
    });
    QTimer::singleShot(5000, context, [] {
        if (QWidget* w = QApplication::activeModalWidget())
            w->close();
    });
}

class QtUserDialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        owner.setGeometry(30, 40, 715, 468);
        owner.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    }
    QApplication& application = apptest::app();  // before any widget
    QWidget owner;
    QtUserDialogs dialogs{&owner};
    bool ran = false;
};

TEST_F(QtUserDialogsTest, FindInputBoxGivesTheEditedTextOrNothing)
{
    whenOpen<FindInputBox>(
        &owner,
        [](FindInputBox& box) {
            EXPECT_EQ(box.Edit->text().toStdString(), "é1");
            EXPECT_EQ(box.Edit->selectedText(), box.Edit->text());
            box.Edit->insert(QStringLiteral("ő2"));  // as typed: replaces the selection
            QTest::keyClick(box.Edit, Qt::Key_Return);
        },
        ran);
    EXPECT_EQ(dialogs.findInputBox("é1"), std::optional<std::string>("ő2"));
    EXPECT_TRUE(ran);

    whenOpen<FindInputBox>(
        &owner,
        [](FindInputBox& box) {
            QTest::keyClicks(box.Edit, QStringLiteral("typed"));
            QTest::keyClick(box.Edit, Qt::Key_Escape);
        },
        ran);
    EXPECT_EQ(dialogs.findInputBox("abc"), std::nullopt);
    EXPECT_TRUE(ran);
}

TEST_F(QtUserDialogsTest, ReplaceDialogIsNewEachTimeAndOwnedByTheWindow)
{
    QPointer<TFormReplace> first;
    whenOpen<TFormReplace>(
        &owner,
        [this, &first](TFormReplace& form) {
            first = &form;
            EXPECT_EQ(form.parentWidget(), &owner);
            EXPECT_LE((form.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 4);
            form.EditFrom->insert(QStringLiteral("á"));
            QTest::keyClicks(form.EditTo, QStringLiteral("b"));
            form.cbCase->click();
            form.BtnReplaceAll->click();
        },
        ran);
    const std::optional<ReplaceRequest> answer = dialogs.replaceDialog();
    ASSERT_TRUE(ran);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->textToFind, "á");
    EXPECT_EQ(answer->replacement, "b");
    EXPECT_TRUE(answer->caseSensitive);
    EXPECT_TRUE(first.isNull());  // nothing of it is left

    whenOpen<TFormReplace>(
        &owner,
        [](TFormReplace& form) {
            EXPECT_TRUE(form.EditFrom->text().isEmpty());
            EXPECT_TRUE(form.EditTo->text().isEmpty());
            EXPECT_FALSE(form.cbCase->isChecked());
            QTest::keyClicks(form.EditFrom, QStringLiteral("x"));
            QTest::keyClick(form.EditFrom, Qt::Key_Return);  // no default button: stays open
            EXPECT_TRUE(form.isVisible());
            QTest::keyClick(form.EditFrom, Qt::Key_Escape);
        },
        ran);
    EXPECT_EQ(dialogs.replaceDialog(), std::nullopt);
    EXPECT_TRUE(ran);
}

TEST_F(QtUserDialogsTest, MessageBoxesAreWideEnoughForTheirWholeCaption)
{
    // Room for the caption in a bold title font, beside a title bar's icon
    // and its buttons (each about as wide as the bar is high).
    const auto needed = [](QMessageBox& box) {
        QFont bold = box.font();
        bold.setBold(true);
        return QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + 4 * 20;
    };
    const std::string caption = "Brel Quarnix :) with a caption longer than its text";
    const std::vector<std::function<void()>> boxes = {
        [&] { dialogs.errorBox(caption, "x."); },
        [&] { dialogs.messageBox(caption, "1"); },
        [&] { (void)dialogs.confirm(caption, "Delete record?"); },
    };
    for (size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(i);
        int width = 0, wanted = 0;
        whenOpen<QMessageBox>(
            &owner,
            [&](QMessageBox& box) {
                EXPECT_EQ(box.windowTitle().toStdString(), caption);
                width = box.width();
                wanted = needed(box);
                box.done(0);
            },
            ran);
        boxes[i]();
        ASSERT_TRUE(ran);
        EXPECT_GE(width, wanted);
    }
}

TEST_F(QtUserDialogsTest, TheProgressBoxStaysAfterCancelUntilTheWorkHasStopped)
{
    struct Task : LongTask {
        std::atomic<bool> done{false};
        std::atomic<int> cancels{0};
        bool finished() const override { return done; }
        void cancel() override { ++cancels; }
    } task;
    whenOpen<QDialog>(
        &owner,
        [&task](QDialog& box) {
            EXPECT_EQ(box.windowTitle().toStdString(), "Brel Quarnix :)");
            auto* label = box.findChild<QLabel*>();
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text().toStdString(), "Preparing a.png for b...");
            auto* cancel = box.findChild<QPushButton*>();
            ASSERT_NE(cancel, nullptr);
            cancel->click();
            EXPECT_EQ(task.cancels.load(), 1);
            EXPECT_TRUE(box.isVisible());
            EXPECT_FALSE(cancel->isEnabled());
            EXPECT_EQ(label->text().toStdString(), "Cancelling...");
            QTest::keyClick(&box, Qt::Key_Escape);  // still waiting: no second way out
            EXPECT_TRUE(box.isVisible());
            task.done = true;  // the box sees it and closes
        },
        ran);
    dialogs.showProgress("Preparing a.png for b...", task);
    EXPECT_TRUE(ran);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Work that has already ended shows no box.
    dialogs.showProgress("done", task);
    EXPECT_EQ(task.cancels.load(), 2);
}

TEST_F(QtUserDialogsTest, WorkThatCannotStopHasNoCancelAndShowsHowFarItIs)
{
    struct Task : LongTask {
        std::atomic<bool> done{false};
        std::atomic<int> cancels{0};
        std::atomic<int> at{250};
        bool finished() const override { return done; }
        void cancel() override { ++cancels; }
        bool cancellable() const override { return false; }
        int permille() const override { return at; }
    } task;
    whenOpen<QDialog>(
        &owner,
        [&task](QDialog& box) {
            auto* cancel = box.findChild<QPushButton*>();
            ASSERT_NE(cancel, nullptr);
            EXPECT_FALSE(cancel->isVisible());
            auto* bar = box.findChild<QProgressBar*>();
            ASSERT_NE(bar, nullptr);
            EXPECT_EQ(bar->maximum(), 1000);
            EXPECT_EQ(bar->value(), 250);
            EXPECT_EQ(bar->text().toStdString(), "25%");
            // Esc and the close box do not end work that cannot stop.
            QTest::keyClick(&box, Qt::Key_Escape);
            box.close();
            EXPECT_TRUE(box.isVisible());
            EXPECT_EQ(task.cancels.load(), 0);
            // The bar follows the work.
            task.at = 800;
            QTest::qWait(60);
            EXPECT_EQ(bar->value(), 800);
            task.done = true;
        },
        ran);
    dialogs.showProgress("Adding 3 files to m.dir...", task);
    EXPECT_TRUE(ran);
    EXPECT_EQ(task.cancels.load(), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(QtUserDialogsTest, TheProgressBoxShowsWhereTheWorkIs)
{
    struct Task : LongTask {
        std::atomic<bool> done{false};
        bool finished() const override { return done; }
        void cancel() override {}
        int permille() const override { return 60; }
        std::string progressLine() const override { return "12 of 200: city.txd"; }
    } task;
    whenOpen<QDialog>(
        &owner,
        [&task](QDialog& box) {
            auto* line = box.findChild<QLabel*>(QStringLiteral("ProgressLine"));
            ASSERT_NE(line, nullptr);
            EXPECT_TRUE(line->isVisible());
            EXPECT_EQ(line->text().toStdString(), "12 of 200: city.txd");
            task.done = true;
        },
        ran);
    dialogs.showProgress("Exporting the textures of m.dir...", task);
    EXPECT_TRUE(ran);
}

TEST_F(QtUserDialogsTest, TheBatchBoxesStartAsGivenAndAnswerWhatWasChosen)
{
    ExportAllBox exportBox(QStringLiteral("Every texture of m.dir ..."), {}, &owner);
    EXPECT_EQ(exportBox.LabelText->text().toStdString(), "Every texture of m.dir ...");
    EXPECT_TRUE(exportBox.RadioTga->isChecked());
    EXPECT_FALSE(exportBox.choices().png);
    exportBox.RadioPng->click();
    EXPECT_TRUE(exportBox.choices().png);
    EXPECT_TRUE(ExportAllBox(QString(), ExportAllChoices{true}, &owner).RadioPng->isChecked());

    // Each choice of the import box, alone, from the opposite start.
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        const ImportFolderChoices start{which != 0, which != 1, which != 2};
        ImportFolderBox box(QStringLiteral("Import"), start, &owner);
        EXPECT_EQ(box.CheckExact->isChecked(), start.exact);
        EXPECT_EQ(box.CheckPictureSize->isChecked(), start.pictureSize);
        EXPECT_EQ(box.ComboDxt->currentText().toStdString(), start.bestDxt ? "Best" : "Fast");
        if (which == 0)
            box.CheckExact->click();
        else if (which == 1)
            box.CheckPictureSize->click();
        else
            box.ComboDxt->setCurrentIndex(box.ComboDxt->findText(QStringLiteral("Best")));
        const ImportFolderChoices chosen = box.choices();
        EXPECT_TRUE(chosen.exact);
        EXPECT_TRUE(chosen.pictureSize);
        EXPECT_TRUE(chosen.bestDxt);
    }

    // Cancel answers nothing.
    whenOpen<ImportFolderBox>(
        &owner, [](ImportFolderBox& box) { box.reject(); }, ran);
    EXPECT_FALSE(dialogs.importFolderChoices("Import", {}));
    EXPECT_TRUE(ran);
}

TEST_F(QtUserDialogsTest, TheDetailsOfAMessageAreInItsDetailsPart)
{
    std::string details = "unset";
    whenOpen<QMessageBox>(
        &owner,
        [&details](QMessageBox& box) {
            EXPECT_EQ(box.text().toStdString(), "1 texture imported");
            details = box.detailedText().toStdString();
            box.done(0);
        },
        ran);
    dialogs.messageBoxWithDetails("Brel Quarnix :)", "1 texture imported",
                                  {"skipped city.txd/road: no picture", "no texture for city.txd/foo.png"});
    ASSERT_TRUE(ran);
    EXPECT_EQ(details, "skipped city.txd/road: no picture\nno texture for city.txd/foo.png");
}

TEST_F(QtUserDialogsTest, ASaveDialogsFilterChoosesTheExtensionOfABareName)
{
    QTemporaryDir folder;
    FileDialogSetup setup;
    setup.filter = "Targa Image|*.tga";
    setup.extraFilters = "PNG Image|*.png";
    setup.defaultExt = ".tga";
    setup.overwritePrompt = false;
    whenOpen<QFileDialog>(
        &owner,
        [&folder](QFileDialog& dialog) {
            EXPECT_EQ(dialog.nameFilters(), (QStringList{"Targa Image (*.tga)", "PNG Image (*.png)"}));
            EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("tga"));
            auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            ASSERT_NE(types, nullptr);
            // As the user's choice of the second filter.
            types->setCurrentIndex(1);
            emit types->activated(1);
            emit types->textActivated(types->currentText());
            EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("png"));
            dialog.setDirectory(folder.path());
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(QStringLiteral("shot"));
            QTest::keyClick(name, Qt::Key_Return);
        },
        ran);
    const std::optional<SaveFileChoice> chosen = dialogs.saveFileChoosingFilter(setup);
    ASSERT_TRUE(ran);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->fileName, folder.filePath(QStringLiteral("shot.png")).toStdString());
    EXPECT_EQ(chosen->filterIndex, 1);
}

}  // namespace
