// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/record_grid.h"
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"

#include "app/column_fit.h"
#include "platform/exceptions.h"
#include "platform/handler_guard.h"
#include "tests/app/app_test_support.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>

namespace {

const std::vector<GridColumn> kEntryColumns{{"Pos", 35}, {"FPos", 64}, {"Size", 64}, {"Name", 79}};
const std::vector<GridColumn> kTextureColumns{{"Pos", 25},  {"Name", 89},       {"Size", 63},
                                              {"Type", 59}, {"Dimensions", 78}, {"Desc", 72}};

constexpr int kVisible = 10;

// A table with `rows` rows and a grid over it, sized to show exactly
// kVisible rows. AfterScroll calls are counted.
struct GridFixture {
    std::unique_ptr<RecordTable> table;
    std::unique_ptr<RecordGrid> grid;
    int fires = 0;

    GridFixture(bool numbered, int rows)
    {
        apptest::app();
        table = numbered ? makeEntryTable() : makeTextureTable();
        table->DisableControls();
        for (int i = 1; i <= rows; ++i) {
            table->Append();
            table->FieldByName("Pos").SetAsInteger(i);
            table->FieldByName("Name").SetAsString("name" + std::to_string(1000 - i));
            table->FieldByName("Size").SetAsInteger((i % 4) * 100);
            table->Post();
        }
        table->EnableControls();
        grid = std::make_unique<RecordGrid>(*table, numbered ? kEntryColumns : kTextureColumns);
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(11);
        grid->setFont(font);
        grid->show();
        const int height = grid->frameWidth() * 2 + grid->horizontalHeader()->height() + kVisible * grid->rowHeightPx()
                           + grid->rowHeightPx() / 2;
        grid->resize(320, height);
        QApplication::processEvents();
        table->SetAfterScroll([this](RecordTable&) { ++fires; });
    }

    // Current row `current` with row `top` the topmost visible one.
    void place(int top, int current)
    {
        const int lowest = std::min(top + kVisible - 1, table->RowCount() - 1);
        table->First();
        table->MoveBy(lowest);  // scrolls just far enough
        table->MoveBy(current - lowest);
        fires = 0;
    }

    int rowCentreY(int row) const { return (row - grid->topRow()) * grid->rowHeightPx() + grid->rowHeightPx() / 2; }
};

void sendWheel(QWidget* target, int delta)
{
    const QPointF pos(10, 10);
    QWheelEvent event(pos, target->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

// ---- inputs of the entry grid (numbered) ----

struct NavCase {
    const char* name;
    std::function<void(GridFixture&)> input;
    int expectedRow;  // with top row 16, current row 20, 10 visible, 50 rows
    int expectedFires;
};

class GridNavigation : public ::testing::TestWithParam<NavCase> {};

TEST_P(GridNavigation, InputMapsToTheTableOperation)
{
    GridFixture f(true, 50);
    ASSERT_EQ(f.grid->visibleRowCount(), kVisible);
    f.place(16, 20);
    ASSERT_EQ(f.grid->topRow(), 16);
    ASSERT_EQ(f.table->CurrentIndex(), 20);
    ASSERT_EQ(f.grid->navigationBar()->value(), 21);  // thumb at the row number

    GetParam().input(f);
    EXPECT_EQ(f.table->CurrentIndex(), GetParam().expectedRow);
    EXPECT_EQ(f.fires, GetParam().expectedFires);
    EXPECT_EQ(f.grid->shownCurrentRow(), f.table->CurrentIndex());
    EXPECT_EQ(f.grid->navigationBar()->value(), f.table->RecNo());
    // The current row is always among the visible ones.
    EXPECT_GE(f.table->CurrentIndex(), f.grid->topRow());
    EXPECT_LE(f.table->CurrentIndex(), f.grid->bottomRow());
}

auto key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    return [k, m](GridFixture& f) { QTest::keyClick(f.grid.get(), k, m); };
}
auto scrollAction(QAbstractSlider::SliderAction a)
{
    return [a](GridFixture& f) { f.grid->navigationBar()->triggerAction(a); };
}

// Every input of the grid with where it leaves the cursor.
std::vector<NavCase> navigationCases()
{
    return {
        NavCase{"Down", key(Qt::Key_Down), 21, 1},
        NavCase{"Up", key(Qt::Key_Up), 19, 1},
        NavCase{"PageDown", key(Qt::Key_PageDown), 30, 1},
        NavCase{"PageUp", key(Qt::Key_PageUp), 10, 1},
        NavCase{"CtrlPageUp", key(Qt::Key_PageUp, Qt::ControlModifier), 16, 1},
        NavCase{"CtrlUp", key(Qt::Key_Up, Qt::ControlModifier), 16, 1},
        NavCase{"CtrlPageDown", key(Qt::Key_PageDown, Qt::ControlModifier), 25, 1},
        NavCase{"CtrlDown", key(Qt::Key_Down, Qt::ControlModifier), 25, 1},
        NavCase{"CtrlHome", key(Qt::Key_Home, Qt::ControlModifier), 0, 1},
        NavCase{"CtrlEnd", key(Qt::Key_End, Qt::ControlModifier), 49, 1},
        NavCase{"Left", key(Qt::Key_Left), 20, 0},
        NavCase{"Right", key(Qt::Key_Right), 20, 0},
        NavCase{"Home", key(Qt::Key_Home), 20, 0},
        NavCase{"End", key(Qt::Key_End), 20, 0},
        NavCase{"WheelUpOneNotch", [](GridFixture& f) { sendWheel(f.grid->viewport(), 120); }, 19, 1},
        NavCase{"WheelDownTwoNotches", [](GridFixture& f) { sendWheel(f.grid->viewport(), -240); }, 22, 2},
        NavCase{"WheelHalfNotchesAddUp",
                [](GridFixture& f) {
                    sendWheel(f.grid->viewport(), -60);
                    sendWheel(f.grid->viewport(), -60);
                },
                21, 1},
        NavCase{"WheelOverScrollBar", [](GridFixture& f) { sendWheel(f.grid->navigationBar(), -120); }, 21, 1},
        NavCase{"ClickOnRow",
                [](GridFixture& f) {
                    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, QPoint(30, f.rowCentreY(23)));
                },
                23, 1},
        NavCase{"ClickOnCurrentRow",
                [](GridFixture& f) {
                    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, QPoint(30, f.rowCentreY(20)));
                },
                20, 0},
        NavCase{"ScrollArrowUp", scrollAction(QAbstractSlider::SliderSingleStepSub), 15, 1},
        NavCase{"ScrollArrowDown", scrollAction(QAbstractSlider::SliderSingleStepAdd), 26, 1},
        NavCase{"ScrollPageUp", scrollAction(QAbstractSlider::SliderPageStepSub), 10, 1},
        NavCase{"ScrollPageDown", scrollAction(QAbstractSlider::SliderPageStepAdd), 30, 1},
        NavCase{"ScrollToTop", scrollAction(QAbstractSlider::SliderToMinimum), 0, 1},
        NavCase{"ScrollToBottom", scrollAction(QAbstractSlider::SliderToMaximum), 49, 1},
        NavCase{"MouseOnDownArrow",
                [](GridFixture& f) {
                    QScrollBar* bar = f.grid->navigationBar();
                    const QPoint p(bar->width() / 2, bar->height() - 3);
                    QTest::mousePress(bar, Qt::LeftButton, {}, p);
                    QTest::mouseRelease(bar, Qt::LeftButton, {}, p);
                },
                26, 1},
        NavCase{"DragThumbThreeSteps",
                [](GridFixture& f) {
                    QScrollBar* bar = f.grid->navigationBar();
                    bar->setSliderDown(true);
                    bar->setSliderPosition(30);
                    bar->setSliderPosition(31);
                    bar->setSliderPosition(40);
                    bar->setSliderDown(false);
                },
                39, 3},
    };
}

std::string navCaseName(const ::testing::TestParamInfo<NavCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, GridNavigation, ::testing::ValuesIn(navigationCases()), navCaseName);

// A grid where several rows can be marked, with rows marked: every input
// moves the cursor and fires AfterScroll exactly as in a grid of one row.
class GridNavigationWithMarks : public ::testing::TestWithParam<NavCase> {};

TEST_P(GridNavigationWithMarks, EveryInputMovesAsWithoutMarks)
{
    GridFixture f(true, 50);
    f.grid->setSeveralRowsAllowed(true);
    f.place(16, 20);
    f.grid->markAll();
    GetParam().input(f);
    EXPECT_EQ(f.table->CurrentIndex(), GetParam().expectedRow);
    EXPECT_EQ(f.fires, GetParam().expectedFires);
    EXPECT_EQ(f.grid->navigationBar()->value(), f.table->RecNo());
}

INSTANTIATE_TEST_SUITE_P(Inputs, GridNavigationWithMarks, ::testing::ValuesIn(navigationCases()), navCaseName);

TEST(GridMarks, ShiftAndCtrlMarkRowsWhileTheCursorMovesAsEver)
{
    GridFixture f(true, 50);
    f.grid->setSeveralRowsAllowed(true);
    f.place(16, 20);
    int changes = 0;
    f.grid->setMarksChanged([&] { ++changes; });
    EXPECT_EQ(f.grid->chosenRows(), std::vector<int>{20});  // none marked: the current row

    // Shift with a moving key: from the anchor to the new current row.
    QTest::keyClick(f.grid.get(), Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(f.grid.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(f.table->CurrentIndex(), 22);
    EXPECT_EQ(f.fires, 2);
    EXPECT_EQ(f.grid->markedRows(), (std::vector<int>{20, 21, 22}));
    EXPECT_GT(changes, 0);
    // Ctrl+click adds a row; Ctrl with a moving key keeps the marks.
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(30, f.rowCentreY(24)));
    EXPECT_EQ(f.table->CurrentIndex(), 24);
    EXPECT_EQ(f.grid->markedRows(), (std::vector<int>{20, 21, 22, 24}));
    QTest::keyClick(f.grid.get(), Qt::Key_Up, Qt::ControlModifier);  // to the top visible row
    EXPECT_EQ(f.grid->markedRows(), (std::vector<int>{20, 21, 22, 24}));
    // Ctrl+click on a marked row unmarks it.
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(30, f.rowCentreY(21)));
    EXPECT_EQ(f.grid->markedRows(), (std::vector<int>{20, 22, 24}));
    EXPECT_EQ(f.grid->chosenRows(), (std::vector<int>{20, 22, 24}));
    // Shift+click: from the last Ctrl+click's row.
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(30, f.rowCentreY(18)));
    EXPECT_EQ(f.table->CurrentIndex(), 18);
    EXPECT_EQ(f.grid->markedRows(), (std::vector<int>{18, 19, 20, 21}));

    // The wheel keeps them; a plain key clears them.
    sendWheel(f.grid->viewport(), -120);
    EXPECT_EQ(f.grid->markedRows().size(), 4u);
    QTest::keyClick(f.grid.get(), Qt::Key_Down);
    EXPECT_TRUE(f.grid->markedRows().empty());
    EXPECT_EQ(f.grid->chosenRows(), std::vector<int>{20});

    // Ctrl+A marks every row, Esc none; a plain click clears them too.
    QTest::keyClick(f.grid.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(f.grid->markedRows().size(), 50u);
    QTest::keyClick(f.grid.get(), Qt::Key_Escape);
    EXPECT_TRUE(f.grid->markedRows().empty());
    QTest::keyClick(f.grid.get(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(f.grid->markedRows(), std::vector<int>{20});
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, QPoint(30, f.rowCentreY(23)));
    EXPECT_TRUE(f.grid->markedRows().empty());
}

TEST(GridMarks, MarksFollowTheirRowsThroughSortsAndDeletes)
{
    GridFixture f(true, 20);
    f.grid->setSeveralRowsAllowed(true);
    f.place(0, 2);
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(30, f.rowCentreY(5)));
    ASSERT_EQ(f.grid->markedRows(), (std::vector<int>{2, 5}));
    const std::string second = f.table->RowText(2, f.table->FieldIndex("Name"));
    const std::string fifth = f.table->RowText(5, f.table->FieldIndex("Name"));
    // Names run backwards: sorted on Name, the same two rows stay marked.
    f.table->SortOnField("Name");
    const std::vector<int> rows = f.grid->markedRows();
    ASSERT_EQ(rows.size(), 2u);
    std::vector<std::string> names;
    for (int r : rows)
        names.push_back(f.table->RowText(r, f.table->FieldIndex("Name")));
    EXPECT_EQ(names, (std::vector<std::string>{fifth, second}));
    // A marked row that goes is unmarked; emptying the table unmarks all.
    f.table->Locate("Pos", FieldValue(int64_t(6)));
    f.table->Delete();
    EXPECT_EQ(f.grid->markedRows().size(), 1u);
    f.table->Empty();
    EXPECT_TRUE(f.grid->markedRows().empty());
    // Without several rows allowed nothing is ever marked.
    GridFixture g(true, 5);
    QTest::mouseClick(g.grid->viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(30, g.rowCentreY(3)));
    QTest::keyClick(g.grid.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(g.grid->markedRows().empty());
    EXPECT_EQ(g.table->CurrentIndex(), 3);
}

TEST(GridNavigation, ColumnKeysAndTabWrapToTheNeighbouringRows)
{
    GridFixture f(true, 50);
    f.place(16, 20);
    const int last = static_cast<int>(kEntryColumns.size()) - 1;
    QTest::keyClick(f.grid.get(), Qt::Key_Right);
    EXPECT_EQ(f.grid->focusedColumn(), 1);
    QTest::keyClick(f.grid.get(), Qt::Key_End);
    EXPECT_EQ(f.grid->focusedColumn(), last);
    QTest::keyClick(f.grid.get(), Qt::Key_Right);  // stays at the last column
    EXPECT_EQ(f.grid->focusedColumn(), last);
    EXPECT_EQ(f.fires, 0);

    QTest::keyClick(f.grid.get(), Qt::Key_Tab);  // last column: next row, first column
    EXPECT_EQ(f.grid->focusedColumn(), 0);
    EXPECT_EQ(f.table->CurrentIndex(), 21);
    EXPECT_EQ(f.fires, 1);
    QTest::keyClick(f.grid.get(), Qt::Key_Tab);  // within the row
    EXPECT_EQ(f.grid->focusedColumn(), 1);
    EXPECT_EQ(f.fires, 1);

    QTest::keyClick(f.grid.get(), Qt::Key_Home);
    QTest::keyClick(f.grid.get(), Qt::Key_Backtab, Qt::ShiftModifier);  // first column: previous row, last column
    EXPECT_EQ(f.grid->focusedColumn(), last);
    EXPECT_EQ(f.table->CurrentIndex(), 20);
    EXPECT_EQ(f.fires, 2);

    // A click also puts the focus on the clicked column.
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {},
                      QPoint(f.grid->columnViewportPosition(2) + 5, f.rowCentreY(20)));
    EXPECT_EQ(f.grid->focusedColumn(), 2);
    EXPECT_EQ(f.fires, 2);
}

TEST(GridNavigation, StepsPastTheEndFireOnceThenNothing)
{
    GridFixture f(true, 50);
    f.table->Last();
    QTest::keyClick(f.grid.get(), Qt::Key_Up);
    f.fires = 0;
    QTest::keyClick(f.grid.get(), Qt::Key_Down);  // onto the last row
    QTest::keyClick(f.grid.get(), Qt::Key_Down);  // sets past-the-end, fires
    QTest::keyClick(f.grid.get(), Qt::Key_Down);  // flag already set: nothing
    EXPECT_EQ(f.fires, 2);
    EXPECT_EQ(f.table->CurrentIndex(), 49);
    EXPECT_TRUE(f.table->Eof());
}

TEST(GridNavigation, EmptyTableIgnoresMoves)
{
    GridFixture f(true, 0);
    f.fires = 0;
    for (Qt::Key k : {Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_Tab})
        QTest::keyClick(f.grid.get(), k);
    QTest::keyClick(f.grid.get(), Qt::Key_Down, Qt::ControlModifier);
    sendWheel(f.grid->viewport(), -120);
    QTest::mouseClick(f.grid->viewport(), Qt::LeftButton, {}, QPoint(30, 5));
    EXPECT_EQ(f.fires, 0);
    EXPECT_TRUE(f.table->IsEmpty());
}

TEST(GridNavigation, HandlerErrorsGoThroughTheGuard)
{
    GridFixture f(true, 50);
    f.place(16, 20);
    std::vector<std::string> caught;
    f.grid->setGuard([&](const std::function<void()>& h) {
        try {
            h();
        } catch (const Exception& e) {
            caught.push_back(e.message());
        }
    });
    f.table->SetAfterScroll([](RecordTable&) { throw Exception("broken handler"); });
    QTest::keyClick(f.grid.get(), Qt::Key_Down);
    sendWheel(f.grid->viewport(), -120);
    EXPECT_EQ(caught, (std::vector<std::string>{"broken handler", "broken handler"}));
    EXPECT_EQ(f.table->CurrentIndex(), 22);  // the moves took place
}

TEST(GridNavigation, WithoutAGuardOfItsOwnErrorsReachTheApplicationsGuard)
{
    GridFixture f(true, 50);
    f.place(16, 20);
    std::vector<std::string> caught;
    setApplicationGuard([&](const std::function<void()>& h) {
        try {
            h();
        } catch (const Exception& e) {
            caught.push_back(e.message());
        }
    });
    f.table->SetAfterScroll([](RecordTable&) { throw Exception("broken handler"); });
    QTest::keyClick(f.grid.get(), Qt::Key_Down);
    setApplicationGuard(nullptr);
    EXPECT_EQ(caught, std::vector<std::string>{"broken handler"});

    // With no guard anywhere the error is still told, on the error stream.
    testing::internal::CaptureStderr();
    QTest::keyClick(f.grid.get(), Qt::Key_Down);
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("broken handler"), std::string::npos) << told;
    EXPECT_EQ(f.table->CurrentIndex(), 22);  // the moves took place
}

// ---- the texture grid's five-position scroll bar ----

struct ThumbCase {
    int releasedAt;
    int expectedRow;  // from row 20 of 30, 10 visible
    int expectedFires;
    int thumbAfter;
};

class CoarseScrollBar : public ::testing::TestWithParam<ThumbCase> {};

TEST_P(CoarseScrollBar, ReleasingTheThumbMovesByItsPosition)
{
    GridFixture f(false, 30);
    f.place(16, 20);
    QScrollBar* bar = f.grid->navigationBar();
    ASSERT_EQ(bar->minimum(), 0);
    ASSERT_EQ(bar->maximum(), 4);
    ASSERT_EQ(bar->value(), 2);  // neither end flag set: middle

    bar->setSliderDown(true);
    bar->setSliderPosition(GetParam().releasedAt);
    EXPECT_EQ(f.fires, 0);  // nothing while the thumb is dragged
    bar->setSliderDown(false);
    EXPECT_EQ(f.table->CurrentIndex(), GetParam().expectedRow);
    EXPECT_EQ(f.fires, GetParam().expectedFires);
    EXPECT_EQ(bar->value(), GetParam().thumbAfter);
}

INSTANTIATE_TEST_SUITE_P(Positions, CoarseScrollBar,
                         ::testing::Values(ThumbCase{0, 0, 1, 0}, ThumbCase{1, 10, 1, 2}, ThumbCase{2, 20, 0, 2},
                                           ThumbCase{3, 29, 1, 4}, ThumbCase{4, 29, 1, 4}));

TEST(CoarseScrollBar, ThumbFollowsTheEndFlagsAndArrowsMoveByVisibleRows)
{
    GridFixture f(false, 30);
    QScrollBar* bar = f.grid->navigationBar();
    f.table->First();
    EXPECT_EQ(bar->value(), 0);
    f.table->Next();
    EXPECT_EQ(bar->value(), 2);
    f.table->Last();
    EXPECT_EQ(bar->value(), 4);

    f.place(16, 20);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(f.table->CurrentIndex(), 26);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(f.table->CurrentIndex(), 16);
    EXPECT_EQ(f.fires, 2);
}

// ---- titles ----

QPoint titleCentre(RecordGrid& grid, int column)
{
    QHeaderView* h = grid.horizontalHeader();
    return QPoint(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
}

TEST(GridTitles, ReleaseOverTheSameTitleClicksIt)
{
    GridFixture f(true, 5);
    std::vector<int> clicked;
    f.grid->setTitleClickHandler([&](int c) { clicked.push_back(c); });
    QWidget* titles = f.grid->horizontalHeader()->viewport();
    QTest::mouseClick(titles, Qt::LeftButton, {}, titleCentre(*f.grid, 3));
    EXPECT_EQ(clicked, std::vector<int>{3});

    QTest::mousePress(titles, Qt::LeftButton, {}, titleCentre(*f.grid, 0));
    QTest::mouseRelease(titles, Qt::LeftButton, {}, titleCentre(*f.grid, 1));
    EXPECT_EQ(clicked, std::vector<int>{3});
    EXPECT_FALSE(f.grid->horizontalHeader()->isSortIndicatorShown());
}

// ---- deletion ----

TEST(GridDelete, CtrlDeleteAsksAndDeletesOnlyOnOk)
{
    GridFixture f(true, 5);
    f.place(0, 2);
    std::deque<bool> answers{false, true};
    int asked = 0;
    int afterDelete = 0;
    f.grid->setDeleteConfirmation([&] {
        ++asked;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    });
    f.grid->setAfterUserDelete([&] { ++afterDelete; });

    QTest::keyClick(f.grid.get(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(f.table->RowCount(), 5);
    EXPECT_EQ(f.fires, 0);

    QTest::keyClick(f.grid.get(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(f.table->RowCount(), 4);
    EXPECT_EQ(f.fires, 1);
    EXPECT_EQ(afterDelete, 1);
    EXPECT_EQ(f.table->FieldByName("Pos").AsInteger(), 4);  // the next row took its place
    EXPECT_EQ(f.grid->model()->rowCount(), 4);

    QTest::keyClick(f.grid.get(), Qt::Key_Delete);  // without Ctrl: nothing
    EXPECT_EQ(asked, 2);
}

TEST(GridDelete, EmptyTableAsksNothing)
{
    GridFixture f(true, 0);
    int asked = 0;
    f.grid->setDeleteConfirmation([&] { return ++asked, true; });
    QTest::keyClick(f.grid.get(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(asked, 0);
}

// ---- columns ----

std::vector<int> designOf(const std::vector<GridColumn>& cols)
{
    std::vector<int> d;
    for (const GridColumn& c : cols)
        d.push_back(c.designWidth);
    return d;
}

TEST(GridColumns, FillTheClientWidthAndFollowResizes)
{
    GridFixture f(false, 3);
    for (int width : {320, 451, 700, 260}) {
        f.grid->resize(width, f.grid->height());
        QApplication::processEvents();
        const int client = f.grid->clientWidth();
        EXPECT_EQ(f.grid->columnWidths(), fitColumnWidths(designOf(kTextureColumns), client)) << width;
        EXPECT_EQ(f.grid->horizontalHeader()->length(), client) << width;
        EXPECT_EQ(f.grid->horizontalScrollBar()->maximum(), 0) << width;
    }
}

TEST(GridColumns, DraggingABorderTakesFromTheRightNeighbour)
{
    GridFixture f(true, 3);
    QHeaderView* h = f.grid->horizontalHeader();
    const std::vector<int> before = f.grid->columnWidths();
    h->resizeSection(1, h->sectionSize(1) + 10);  // as a drag of the border right of column 1
    const std::vector<int> after = f.grid->columnWidths();
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1] + 10);
    EXPECT_EQ(after[2], before[2] - 10);
    EXPECT_EQ(after[3], before[3]);
    EXPECT_EQ(h->length(), f.grid->clientWidth());

    h->resizeSection(3, h->sectionSize(3) + 25);  // the last column has no neighbour
    EXPECT_EQ(f.grid->columnWidths(), after);
}

TEST(GridCells, AlignmentAndTextFollowTheFieldKinds)
{
    GridFixture f(true, 3);
    QAbstractItemModel* m = f.grid->model();
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), "Pos");
    EXPECT_EQ(m->headerData(3, Qt::Horizontal).toString(), "Name");
    EXPECT_EQ(m->data(m->index(1, 0)).toString(), "2");
    EXPECT_EQ(m->data(m->index(1, 3)).toString(), "name998");
    EXPECT_TRUE(Qt::Alignment(m->data(m->index(1, 0), Qt::TextAlignmentRole).toInt()) & Qt::AlignRight);
    EXPECT_TRUE(Qt::Alignment(m->data(m->index(1, 3), Qt::TextAlignmentRole).toInt()) & Qt::AlignLeft);
    EXPECT_FALSE(m->flags(m->index(1, 3)) & Qt::ItemIsEditable);
}

}  // namespace
