// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/main_form.h"

#include "platform/environment.h"
#include "platform/exceptions.h"
#include "tests/app/app_test_support.h"

#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using apptest::TestForm;

const std::vector<const char*> kRows = {"one", "xABCx", "two", "abc", "three"};

class MainFormSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TestForm>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        formHandler = form->RxM->AfterScroll;
    }
    void TearDown() override
    {
        setBusyCursor(false);
        form.reset();
    }

    // One entry per text (Pos 1..n, names that are no dictionaries, String
    // the text), row `current` current; then every AfterScroll is logged
    // (row number) before the form's own handler runs.
    void fill(const std::vector<const char*>& strings, int current = 1)
    {
        form->RxM->SetAfterScroll(formHandler);
        for (size_t i = 0; i < strings.size(); ++i) {
            form->RxM->Append();
            form->RxM->FieldByName("Pos").SetAsInteger(static_cast<int64_t>(i) + 1);
            form->RxM->FieldByName("Name").SetAsString(std::to_string(i + 1) + ".dff");
            form->RxM->FieldByName("String").SetAsString(strings[i]);
            form->RxM->Post();
        }
        form->RxM->GoToRowNumber(current);
        form->RxM->FireAfterScroll();
        form->RxM->SetAfterScroll([this](RecordTable& t) {
            visits.push_back(t.RecNo());
            shownDuringScan.push_back(form->Grid->shownCurrentRow());
            if (throwAtRow > 0 && t.RecNo() == throwAtRow)
                throw EFOpenError("Cannot open file /x/a.img");
            formHandler(t);
        });
    }

    // Gives the keyboard focus to the texture grid, so that moving it to the
    // entry grid shows.
    void focusElsewhere()
    {
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        form->GridTXD->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), form->GridTXD);
    }

    std::vector<std::string> strings()
    {
        std::vector<std::string> out;
        for (int r = 0; r < form->RxM->RowCount(); ++r)
            out.push_back(form->RxM->RowText(r, form->RxM->FieldIndex("String")));
        return out;
    }

    apptest::ScriptedDialogs& script() { return form->script(); }

    std::unique_ptr<TestForm> form;
    RecordTable::AfterScrollHandler formHandler;  // the form's own RxMAfterScroll
    std::vector<int> visits;
    std::vector<int> shownDuringScan;  // the entry grid's shown row at each AfterScroll
    int throwAtRow = 0;
};

TEST_F(MainFormSearchTest, WithNoEntriesTheKeysOnlyMoveTheFocus)
{
    for (Qt::Key key : {Qt::Key_F3, Qt::Key_F4, Qt::Key_F5}) {
        focusElsewhere();
        QTest::keyClick(form->GridTXD, key);
        EXPECT_EQ(QApplication::focusWidget(), form->Grid) << key;
    }
    EXPECT_TRUE(script().findRequests.empty());
    EXPECT_EQ(script().replaceRequests, 0);
    EXPECT_TRUE(script().messages.empty());
    EXPECT_TRUE(script().errors.empty());
}

TEST_F(MainFormSearchTest, KeysIgnoreShiftCtrlAndAlt)
{
    fill(kRows);
    const Qt::KeyboardModifiers modifiers[] = {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier,
                                               Qt::ShiftModifier | Qt::ControlModifier};
    for (Qt::KeyboardModifiers shift : modifiers) {
        focusElsewhere();
        form->SearchText.clear();
        form->RxM->GoToRowNumber(1);
        script().findAnswers.push_back("abc");
        QTest::keyClick(form->GridTXD, Qt::Key_F3, shift);  // asks: SearchText is empty
        EXPECT_EQ(form->RxM->RecNo(), 2);
        QTest::keyClick(form->Grid, Qt::Key_F3, shift);  // find next, no box
        EXPECT_EQ(form->RxM->RecNo(), 4);
        script().findAnswers.push_back("one");
        QTest::keyClick(form->Grid, Qt::Key_F4, shift);  // always asks; no wrap to row 1
        EXPECT_EQ(form->RxM->RecNo(), 4);
        EXPECT_EQ(form->SearchText, "one");
        const int before = script().replaceRequests;
        QTest::keyClick(form->Grid, Qt::Key_F5, shift);
        EXPECT_EQ(script().replaceRequests, before + 1);
    }
    EXPECT_EQ(script().findRequests.size(), 2 * std::size(modifiers));
    EXPECT_TRUE(script().errors.empty());
}

TEST_F(MainFormSearchTest, AKeyIsHandledOnceWhenTheFocusIsGoneAfterItsDialog)
{
    // A window manager that does not give the focus back after the dialog
    // closed: the key, ignored by the grid, travels on to the window, where
    // it must not open the dialog a second time.
    fill(kRows);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->Grid->setFocus();
    script().whileReplaceDialogOpen = [] {
        if (QWidget* focus = QApplication::focusWidget())
            focus->clearFocus();
    };
    QTest::keyClick(form->Grid, Qt::Key_F5);
    EXPECT_EQ(script().replaceRequests, 1);
}

TEST_F(MainFormSearchTest, FindBoxAnswers)
{
    struct Case {
        const char* what;
        std::string before;  // SearchText before the key
        int key;
        std::optional<std::string> answer;  // the box's answer (nothing = Cancel)
        bool asks;
        std::string after;  // SearchText afterwards
        int row;            // current row afterwards (started on 1)
    };
    const Case cases[] = {
        {"F3 with nothing searched yet asks", "", Qt::Key_F3, "abc", true, "abc", 2},
        {"F3 after a search searches again at once", "abc", Qt::Key_F3, std::nullopt, false, "abc", 2},
        {"F4 asks with the last text", "abc", Qt::Key_F4, "two", true, "two", 3},
        {"Cancel still searches for the previous text", "abc", Qt::Key_F4, std::nullopt, true, "abc", 2},
        {"cleared and OK: no search", "abc", Qt::Key_F4, "", true, "", 1},
        {"F3 cancelled with nothing searched yet", "", Qt::Key_F3, std::nullopt, true, "", 1},
        {"text outside A-Z in the code page", "", Qt::Key_F4, "é", true, "\xE9", 1},
    };
    fill(kRows);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        form->RxM->GoToRowNumber(1);
        form->SearchText = c.before;
        script().findRequests.clear();
        script().findAnswers = {c.answer};
        visits.clear();
        form->FormKeyDown(c.key, Qt::NoModifier);
        ASSERT_EQ(script().findRequests.size(), c.asks ? 1u : 0u);
        if (c.asks) {
            EXPECT_EQ(script().findRequests[0], c.before);
        }
        EXPECT_EQ(form->SearchText, c.after);
        EXPECT_EQ(form->RxM->RecNo(), c.row);
        if (c.after.empty()) {
            EXPECT_TRUE(visits.empty());  // no search ran at all
        }
    }
    // The box is shown the Windows-1250 text as Unicode.
    form->SearchText = "\xE9";
    script().findRequests.clear();
    form->FormKeyDown(Qt::Key_F4, Qt::NoModifier);
    ASSERT_EQ(script().findRequests.size(), 1u);
    EXPECT_EQ(script().findRequests[0], "é");
}

TEST_F(MainFormSearchTest, AfterScrollOfAFindAndOfAReplace)
{
    fill({"a", "b", "c", "d"}, 2);
    form->SearchText = "zzz";
    form->BtnFindClick(nullptr);
    // Rows 3 and 4, the step past the last row, then the locate from row 1
    // to the starting row and once more there.
    EXPECT_EQ(visits, (std::vector<int>{3, 4, 4, 1, 2, 2}));
    EXPECT_EQ(form->RxM->RecNo(), 2);
    // The grid stays on the starting row while the scan runs.
    EXPECT_EQ(shownDuringScan, std::vector<int>(visits.size(), 1));
    EXPECT_EQ(form->Grid->shownCurrentRow(), 1);
    EXPECT_EQ(form->RxM->SuspendCount(), 0);

    visits.clear();
    shownDuringScan.clear();
    script().replaceAnswers.push_back(ReplaceRequest{"b", "B", true});
    form->BtnReplaceClick(nullptr);
    EXPECT_EQ(visits, (std::vector<int>{1, 2, 3, 4, 4}));
    EXPECT_EQ(shownDuringScan, std::vector<int>(visits.size(), 1));
    EXPECT_EQ(form->RxM->RecNo(), 4);
    EXPECT_EQ(form->Grid->shownCurrentRow(), 3);
    EXPECT_EQ(form->RxM->SuspendCount(), 0);
    EXPECT_FALSE(busyCursorShown());
}

TEST_F(MainFormSearchTest, ReplaceReportsTheRowsChanged)
{
    struct Case {
        const char* what;
        std::vector<const char*> strings;
        ReplaceRequest request;
        int count;
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"ignoring case", {"a a", "A", "b"}, {"a", "x", false}, 2, {"x x", "x", "b"}},
        {"case sensitive", {"a a", "A", "b"}, {"a", "x", true}, 1, {"x x", "A", "b"}},
        {"letters beyond A-Z", {"\xC9t\xE9", "e"}, {"é", "e", false}, 1, {"ete", "e"}},
        {"empty text to find", {"a", "b"}, {"", "x", false}, 0, {"a", "b"}},
        {"case-only change", {"abc"}, {"abc", "ABC", true}, 1, {"ABC"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        form->RxM->Empty();
        fill(c.strings);
        script().messages.clear();
        script().replaceAnswers = {c.request};
        form->FormKeyDown(Qt::Key_F5, Qt::NoModifier);
        ASSERT_EQ(script().messages.size(), 1u);
        EXPECT_EQ(script().messages[0].caption, "Brel Quarnix :)");
        EXPECT_EQ(script().messages[0].text, "Replaced in " + std::to_string(c.count) + " strings");
        EXPECT_EQ(strings(), c.after);
    }
}

TEST_F(MainFormSearchTest, CancelledReplaceDoesNothing)
{
    fill({"a", "b"}, 2);
    form->FormKeyDown(Qt::Key_F5, Qt::NoModifier);
    EXPECT_EQ(script().replaceRequests, 1);
    EXPECT_TRUE(visits.empty());
    EXPECT_TRUE(script().messages.empty());
    EXPECT_EQ(form->RxM->RecNo(), 2);
}

TEST_F(MainFormSearchTest, AnErrorMidScanReachesTheErrorBoxAndFreesTheGrid)
{
    fill({"a", "a", "a", "a"});
    focusElsewhere();
    throwAtRow = 3;
    script().replaceAnswers.push_back(ReplaceRequest{"a", "b", true});
    QTest::keyClick(form->GridTXD, Qt::Key_F5);
    ASSERT_EQ(script().errors.size(), 1u);
    EXPECT_EQ(script().errors[0].text, "Cannot open file /x/a.img.");
    EXPECT_TRUE(script().messages.empty());  // no count after a failure
    EXPECT_EQ(strings(), (std::vector<std::string>{"b", "b", "a", "a"}));
    EXPECT_EQ(form->RxM->RecNo(), 3);
    EXPECT_EQ(form->RxM->SuspendCount(), 0);
    EXPECT_EQ(form->Grid->shownCurrentRow(), 2);
    EXPECT_FALSE(busyCursorShown());

    form->RxM->GoToRowNumber(1);
    form->SearchText = "zzz";
    QTest::keyClick(form->Grid, Qt::Key_F3);
    ASSERT_EQ(script().errors.size(), 2u);
    EXPECT_EQ(form->RxM->RecNo(), 3);
    EXPECT_EQ(form->RxM->SuspendCount(), 0);
    EXPECT_EQ(form->Grid->shownCurrentRow(), 2);
}

}  // namespace
