// SPDX-License-Identifier: GPL-2.0-or-later
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "tables/record_table.h"

#include "platform/text.h"
#include "support/table_fixtures.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

// Collation depends on the user's locale. This program checks the tables
// under English collation; one test re-runs itself under the C locale, whose
// collation is plain code-point order with case folded.
const char* const kCLocaleChild = "QX_TABLES_C_LOCALE_CHILD";
const bool kLocaleChosen = [] {
    if (std::getenv(kCLocaleChild) == nullptr)
        setenv("LC_ALL", "en_US.UTF-8", 1);
    return true;
}();

// What the AfterScroll handler saw at each call.
struct ScrollEvent {
    int index;
    bool bof;
    bool eof;
    TableState state;
    std::string name;
};

struct ScrollRecorder {
    std::vector<ScrollEvent> events;
    void attach(RecordTable& t)
    {
        t.AfterScroll = [this](RecordTable& table) {
            events.push_back(
                {table.CurrentIndex(), table.Bof(), table.Eof(), table.State(), table.FieldByName("Name").AsString()});
        };
    }
    size_t count() const { return events.size(); }
};

struct GridRecorder : RecordTableObserver {
    int refreshes = 0;
    int currents = 0;
    int inserted = 0;
    int changed = 0;
    int middles = 0;
    int lastCurrentSeen = -2;
    void refreshAll(RecordTable& t) override
    {
        ++refreshes;
        lastCurrentSeen = t.CurrentIndex();
    }
    void currentChanged(RecordTable& t) override
    {
        ++currents;
        lastCurrentSeen = t.CurrentIndex();
    }
    void rowInserted(RecordTable&, int) override { ++inserted; }
    void rowsChanged(RecordTable&, int, int) override { ++changed; }
    void showCurrentInMiddle(RecordTable&) override { ++middles; }
    int total() const { return refreshes + currents + inserted + changed + middles; }
};

void appendName(RecordTable& t, const std::string& name)
{
    t.Append();
    t.FieldByName("Name").SetAsString(name);
    t.Post();
}

std::vector<std::string> namesInOrder(RecordTable& t)
{
    std::vector<std::string> out;
    const int f = t.FieldIndex("Name");
    for (int r = 0; r < t.RowCount(); ++r)
        out.push_back(t.RowText(r, f));
    return out;
}

// "r" + decimal, built in place (g++ 12 warns wrongly on literal + std::string).
std::string numbered(char prefix, int i)
{
    std::string s(1, prefix);
    s += std::to_string(i);
    return s;
}

std::vector<int64_t> integersInOrder(RecordTable& t, const char* field)
{
    std::vector<int64_t> out;
    const int f = t.FieldIndex(field);
    for (int r = 0; r < t.RowCount(); ++r)
        out.push_back(t.RowInteger(r, f));
    return out;
}

// An entry table with rows named r0, r1, ... (Pos 1, 2, ...), cursor on `start`.
std::unique_ptr<RecordTable> entryTableWithRows(int rows, int start = 0)
{
    auto t = makeEntryTable();
    for (int i = 0; i < rows; ++i)
        appendEntryRow(*t, i + 1, numbered('r', i), 100 + i, 2048 * i);
    if (rows > 0)
        t->GoToRowNumber(start + 1);
    return t;
}

// The message of the error of class E that `f` raises.
template <typename E = ERecordTableError>
std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.message();
    }
    return "<no error>";
}

}  // namespace

// ---------------------------------------------------------------- AfterScroll

struct FiringCase {
    const char* name;
    int rows;   // rows in the table before the action
    int start;  // 0-based current row before the action (ignored when rows == 0)
    std::function<void(RecordTable&)> action;
    size_t fires;
    int index;  // current index afterwards (-1: none)
    bool bof;
    bool eof;
};

void PrintTo(const FiringCase& c, std::ostream* os)
{
    *os << c.name;
}

class FiringTest : public ::testing::TestWithParam<FiringCase> {};

TEST_P(FiringTest, FiresAsDefinedAndLeavesCursor)
{
    const FiringCase& c = GetParam();
    auto t = entryTableWithRows(c.rows, c.start);
    ScrollRecorder rec;
    rec.attach(*t);
    c.action(*t);
    EXPECT_EQ(rec.count(), c.fires);
    EXPECT_EQ(t->CurrentIndex(), c.index);
    EXPECT_EQ(t->Bof(), c.bof);
    EXPECT_EQ(t->Eof(), c.eof);
    // The handler always sees the cursor already moved.
    if (!rec.events.empty()) {
        EXPECT_EQ(rec.events.back().index, t->CurrentIndex());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FiringTest,
    ::testing::Values(
        FiringCase{"FirstOnEmpty", 0, 0, [](RecordTable& t) { t.First(); }, 1, -1, true, true},
        FiringCase{"LastOnEmpty", 0, 0, [](RecordTable& t) { t.Last(); }, 1, -1, true, true},
        FiringCase{"NextOnEmpty", 0, 0, [](RecordTable& t) { t.Next(); }, 0, -1, true, true},
        FiringCase{"PriorOnEmpty", 0, 0, [](RecordTable& t) { t.Prior(); }, 0, -1, true, true},
        FiringCase{"First", 3, 2, [](RecordTable& t) { t.First(); }, 1, 0, true, false},
        FiringCase{"Last", 3, 0, [](RecordTable& t) { t.Last(); }, 1, 2, false, true},
        FiringCase{"FirstTwice", 3, 2, [](RecordTable& t) { t.First(); t.First(); }, 2, 0, true, false},
        FiringCase{"NextInside", 3, 0, [](RecordTable& t) { t.Next(); }, 1, 1, false, false},
        FiringCase{"NextAfterFirstClearsBof", 3, 1, [](RecordTable& t) { t.First(); t.Next(); }, 2, 1, false, false},
        FiringCase{"NextOnLastRowSetsEof", 3, 2, [](RecordTable& t) { t.Next(); }, 1, 2, false, true},
        FiringCase{"SecondNextAtEndIsSilent", 3, 2, [](RecordTable& t) { t.Next(); t.Next(); }, 1, 2, false, true},
        FiringCase{"NextAfterLastIsSilent", 3, 0, [](RecordTable& t) { t.Last(); t.Next(); }, 1, 2, false, true},
        FiringCase{"PriorAfterEofMoves", 3, 0, [](RecordTable& t) { t.Last(); t.Prior(); }, 2, 1, false, false},
        FiringCase{"PriorOnFirstRowSetsBof", 3, 0, [](RecordTable& t) { t.Prior(); }, 1, 0, true, false},
        FiringCase{"PriorAfterFirstIsSilent", 3, 2, [](RecordTable& t) { t.First(); t.Prior(); }, 1, 0, true, false},
        FiringCase{"OneRowNextAfterFirst", 1, 0, [](RecordTable& t) { t.First(); t.Next(); }, 2, 0, false, true},
        FiringCase{"MoveByPastEnd", 3, 0, [](RecordTable& t) { EXPECT_EQ(t.MoveBy(5), 2); }, 1, 2, false, true},
        FiringCase{"MoveByBackPastStart", 3, 2, [](RecordTable& t) { EXPECT_EQ(t.MoveBy(-7), -2); }, 1, 0, true, false},
        FiringCase{"MoveByExactlyToLast", 3, 0, [](RecordTable& t) { EXPECT_EQ(t.MoveBy(2), 2); }, 1, 2, false, false},
        FiringCase{"MoveByZero", 3, 1, [](RecordTable& t) { EXPECT_EQ(t.MoveBy(0), 0); }, 0, 1, false, false},
        FiringCase{"MoveByWhileEof", 3, 0, [](RecordTable& t) { t.Last(); EXPECT_EQ(t.MoveBy(3), 0); }, 1, 2, false, true},
        FiringCase{"Append", 2, 0, [](RecordTable& t) { t.Append(); }, 1, 2, false, false},
        FiringCase{"AppendPost", 2, 0, [](RecordTable& t) { t.Append(); t.Post(); }, 1, 2, false, false},
        FiringCase{"EditPost", 3, 1,
                   [](RecordTable& t) { t.Edit(); t.FieldByName("Name").SetAsString("x"); t.Post(); }, 0, 1, false, false},
        FiringCase{"DeleteMiddle", 3, 1, [](RecordTable& t) { t.Delete(); }, 1, 1, false, false},
        FiringCase{"DeleteLastRow", 3, 2, [](RecordTable& t) { t.Delete(); }, 1, 1, false, false},
        FiringCase{"DeleteOnlyRow", 1, 0, [](RecordTable& t) { t.Delete(); }, 1, -1, true, true},
        FiringCase{"DeleteOnEmpty", 0, 0, [](RecordTable& t) { t.Delete(); }, 0, -1, true, true},
        FiringCase{"Empty", 3, 1, [](RecordTable& t) { t.Empty(); }, 0, -1, true, true},
        FiringCase{"Sort", 3, 1, [](RecordTable& t) { t.SortOnField("Size"); }, 1, 1, false, false},
        FiringCase{"SortEmpty", 0, 0, [](RecordTable& t) { t.SortOnField("Name"); }, 0, -1, true, true},
        FiringCase{"GoToRowNumber", 3, 0, [](RecordTable& t) { t.GoToRowNumber(3); }, 0, 2, false, false},
        FiringCase{"GoToRowNumberOutOfRange", 3, 1, [](RecordTable& t) { t.GoToRowNumber(4); t.GoToRowNumber(0); },
                   0, 1, false, false},
        // Locate: the current row matches: found without moving, one event.
        FiringCase{"LocateCurrent", 3, 1, [](RecordTable& t) { EXPECT_TRUE(t.Locate("Pos", 2)); }, 1, 1, false, false},
        // Found at row 2 from row 0: first, next, next, then the found event.
        FiringCase{"LocateForward", 3, 0, [](RecordTable& t) { EXPECT_TRUE(t.Locate("Pos", 3)); }, 4, 2, false, false},
        // Found at row 0 from row 2: first, then the found event.
        FiringCase{"LocateBackward", 3, 2, [](RecordTable& t) { EXPECT_TRUE(t.Locate("Pos", 1)); }, 2, 0, true, false},
        // Not found: first, three nexts (the last only sets Eof), the return.
        FiringCase{"LocateMissing", 3, 1, [](RecordTable& t) { EXPECT_FALSE(t.Locate("Pos", 99)); }, 5, 1, false, false},
        FiringCase{"LocateOnEmpty", 0, 0, [](RecordTable& t) { EXPECT_FALSE(t.Locate("Pos", 1)); }, 0, -1, true, true}),
    [](const ::testing::TestParamInfo<FiringCase>& info) { return std::string(info.param.name); });

TEST(AfterScroll, AppendFiresWithTheEmptyRowAndPostNever)
{
    auto t = makeEntryTable();
    ScrollRecorder rec;
    rec.attach(*t);
    for (int i = 0; i < 3; ++i) {
        t->Append();
        ASSERT_EQ(rec.count(), static_cast<size_t>(i + 1));
        EXPECT_EQ(rec.events.back().state, TableState::Inserting);
        EXPECT_EQ(rec.events.back().name, "");
        EXPECT_EQ(rec.events.back().index, i);
        EXPECT_FALSE(t->IsEmpty());
        EXPECT_EQ(t->RowCount(), i);
        t->FieldByName("Name").SetAsString(numbered('n', i));
        t->Post();
        EXPECT_EQ(rec.count(), static_cast<size_t>(i + 1));
    }
    EXPECT_EQ(t->CurrentIndex(), 2);
    EXPECT_EQ(t->FieldByName("Name").AsString(), "n2");
    EXPECT_EQ(t->RecNo(), 3);
}

TEST(AfterScroll, LocateVisitsRowsUnderSuspensionAndReturns)
{
    auto t = entryTableWithRows(4, 2);
    GridRecorder grid;
    t->AddObserver(&grid);
    std::vector<int> visited;
    std::vector<int> suspension;
    t->AfterScroll = [&](RecordTable& table) {
        visited.push_back(table.CurrentIndex());
        suspension.push_back(table.SuspendCount());
    };
    EXPECT_FALSE(t->Locate("pos", 42));
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 3, 2}));
    EXPECT_EQ(suspension, (std::vector<int>(6, 1)));
    EXPECT_EQ(t->SuspendCount(), 0);
    // The grid saw only the final refresh, with the starting row shown in the middle.
    EXPECT_EQ(grid.refreshes, 1);
    EXPECT_EQ(grid.currents, 0);
    EXPECT_EQ(grid.middles, 1);
    EXPECT_EQ(grid.lastCurrentSeen, 2);
}

TEST(AfterScroll, HandlerErrorPassesOutAfterTheMove)
{
    auto t = entryTableWithRows(3, 0);
    t->AfterScroll = [](RecordTable&) { throw Exception("handler failed"); };
    EXPECT_EQ(errorOf<Exception>([&] { t->Next(); }), "handler failed");
    EXPECT_EQ(t->CurrentIndex(), 1);
    // Inside Locate the suspension is undone even when the handler raises.
    EXPECT_EQ(errorOf<Exception>([&] { t->Locate("Pos", 3); }), "handler failed");
    EXPECT_EQ(t->SuspendCount(), 0);
}

TEST(AfterScroll, HandlerMayUseAnotherTable)
{
    auto entries = entryTableWithRows(3, 0);
    auto textures = makeTextureTable();
    ScrollRecorder texEvents;
    texEvents.attach(*textures);
    entries->AfterScroll = [&](RecordTable& t) {
        textures->Empty();
        for (int i = 0; i <= t.CurrentIndex(); ++i) {
            textures->Append();
            textures->FieldByName("Name").SetAsString(t.FieldByName("Name").AsString());
            textures->Post();
        }
        textures->Last();
    };
    entries->Last();
    EXPECT_EQ(textures->RowCount(), 3);
    EXPECT_EQ(textures->FieldByName("name").AsString(), "r2");
    EXPECT_EQ(texEvents.count(), 4u);  // three appends and the last
}

// ---------------------------------------------------------------- suspension

TEST(Suspension, CountedAndSilentButEventsStillFire)
{
    auto t = entryTableWithRows(3, 0);
    GridRecorder grid;
    t->AddObserver(&grid);
    ScrollRecorder rec;
    rec.attach(*t);

    t->EnableControls();  // resume at 0: nothing at all
    EXPECT_EQ(grid.total(), 0);
    EXPECT_EQ(t->SuspendCount(), 0);

    t->DisableControls();
    t->DisableControls();
    t->Next();
    t->Next();
    appendName(*t, "new");
    t->SortOnField("Name");
    EXPECT_EQ(rec.count(), 4u);  // two moves, the append, the sort
    EXPECT_EQ(grid.total(), 0);  // the grid heard nothing
    t->EnableControls();
    EXPECT_EQ(grid.total(), 0);  // one suspension still open
    t->EnableControls();
    EXPECT_EQ(grid.refreshes, 1);  // one redraw at the end
    EXPECT_EQ(grid.middles, 1);    // the sort's request to centre, held back until now
    EXPECT_EQ(grid.currents + grid.inserted + grid.changed, 0);
    EXPECT_EQ(grid.lastCurrentSeen, t->CurrentIndex());
    t->EnableControls();  // extra resume is harmless
    EXPECT_EQ(grid.total(), 2);

    // Not suspended: the grid follows every move.
    t->First();
    EXPECT_EQ(grid.currents, 1);
    EXPECT_EQ(grid.lastCurrentSeen, 0);
}

TEST(Suspension, TheGuardResumesOnEveryWayOutAndKeepsTheFirstError)
{
    auto t = entryTableWithRows(3, 0);
    struct FailingGrid : GridRecorder {
        bool fail = false;
        void refreshAll(RecordTable& table) override
        {
            GridRecorder::refreshAll(table);
            if (fail)
                throw Exception("refresh failed");
        }
    } grid;
    t->AddObserver(&grid);

    {  // resumed early, once
        RecordTable::SuspendGuard suspended(*t);
        t->Next();
        EXPECT_EQ(t->SuspendCount(), 1);
        suspended.resume();
        EXPECT_EQ(t->SuspendCount(), 0);
        EXPECT_EQ(grid.refreshes, 1);
    }
    EXPECT_EQ(grid.refreshes, 1);

    // A refresh that fails at the end of a scope reaches the caller.
    grid.fail = true;
    const auto messageOf = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (const Exception& e) {
            return e.message();
        }
        return "";
    };
    EXPECT_EQ(messageOf([&] { RecordTable::SuspendGuard suspended(*t); }), "refresh failed");
    EXPECT_EQ(t->SuspendCount(), 0);
    EXPECT_EQ(messageOf([&] {
                  RecordTable::SuspendGuard suspended(*t);
                  suspended.resume();
              }),
              "refresh failed");
    EXPECT_EQ(t->SuspendCount(), 0);

    // Left by an error: the suspension ends, the refresh's own failure is
    // dropped and the first error is the one that arrives.
    EXPECT_EQ(messageOf([&] {
                  RecordTable::SuspendGuard suspended(*t);
                  throw Exception("scan failed");
              }),
              "scan failed");
    EXPECT_EQ(t->SuspendCount(), 0);
    t->RemoveObserver(&grid);
}

TEST(Suspension, GridNotifiedOfRowsWhenNotSuspended)
{
    auto t = makeEntryTable();
    GridRecorder grid;
    t->AddObserver(&grid);
    t->Append();
    EXPECT_EQ(grid.inserted, 1);
    EXPECT_EQ(t->DisplayRowCount(), 1);
    t->FieldByName("Name").SetAsString("a");
    EXPECT_GE(grid.changed, 1);
    EXPECT_EQ(t->DisplayText(0, t->FieldIndex("Name")), "a");  // the row being built is shown
    t->Post();
    const int before = grid.refreshes;
    t->Empty();
    EXPECT_EQ(grid.refreshes, before + 1);
    t->Empty();  // emptying an empty table only notifies the grid
    EXPECT_EQ(grid.refreshes, before + 2);
    t->RemoveObserver(&grid);
    t->First();
    EXPECT_EQ(grid.refreshes, before + 2);
}

TEST(Suspension, SortCentresTheCurrentRow)
{
    auto t = entryTableWithRows(5, 1);
    GridRecorder grid;
    t->AddObserver(&grid);
    t->SortOnField("Size");
    EXPECT_EQ(grid.refreshes, 1);
    EXPECT_EQ(grid.middles, 1);
}

// ---------------------------------------------------------------- fields

TEST(Fields, TextIsCutAtNulThenToLength)
{
    struct Case {
        const char* field;
        std::string written;
        std::string stored;
    };
    const std::string thirty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
    const std::vector<Case> cases = {
        {"Name", thirty, thirty.substr(0, 24)},
        {"Name", thirty.substr(0, 24), thirty.substr(0, 24)},
        {"Name", std::string("ab\0cd", 5), "ab"},
        {"Name", std::string("\0abc", 4), ""},
        {"Name", std::string(20, 'x') + std::string("\0", 1) + std::string(20, 'y'), std::string(20, 'x')},
        {"Name", "\xE9\x9A\xB9", "\xE9\x9A\xB9"},  // high bytes stay as they are
        {"String", std::string(1500, 's'), std::string(1000, 's')},
    };
    auto t = makeEntryTable();
    for (const auto& c : cases) {
        t->Append();
        t->FieldByName(c.field).SetAsString(c.written);
        t->Post();
        EXPECT_EQ(t->FieldByName(c.field).AsString(), c.stored) << c.field << " " << c.written.size();
    }
}

TEST(Fields, QStringWritesAreEncodedAndCut)
{
    auto t = makeTextureTable();
    t->Append();
    t->FieldByName("Name").SetAsQString(QString::fromUtf8("Žluťoučký kůň úpěl ďábelské ódy"));
    t->Post();
    const std::string stored = t->FieldByName("Name").AsString();
    EXPECT_EQ(stored.size(), 31u);
    EXPECT_EQ(static_cast<unsigned char>(stored[0]), 0x8E);  // Ž in Windows-1250
    EXPECT_EQ(t->FieldByName("Name").AsQString(), QString::fromUtf8("Žluťoučký kůň úpěl ďábelské ódy"));
}

TEST(Fields, EmptyFieldsReadAsDefaultsAndNoRowReadsEmpty)
{
    auto t = makeTextureTable();
    EXPECT_TRUE(t->FieldByName("Size").IsNull());
    EXPECT_EQ(t->FieldByName("Size").AsInteger(), 0);
    EXPECT_EQ(t->FieldByName("Name").AsString(), "");
    EXPECT_FALSE(t->FieldByName("Paletted").AsBoolean());

    t->Append();
    t->FieldByName("Name").SetAsString("");
    t->Post();
    EXPECT_FALSE(t->FieldByName("Name").IsNull());  // a written empty text is a value
    EXPECT_EQ(t->FieldByName("Name").AsString(), "");
    EXPECT_TRUE(t->FieldByName("Type").IsNull());
    EXPECT_EQ(t->FieldByName("Width").AsInteger(), 0);
    EXPECT_EQ(t->DisplayText(0, t->FieldIndex("Width")), "");
}

TEST(Fields, SixtyFourBitValuesStayExact)
{
    auto t = makeEntryTable();
    const std::vector<int64_t> values = {3LL << 30, (1LL << 31), (1LL << 32) + 1, -5, INT64_MAX, INT64_MIN};
    for (int64_t v : values) {
        t->Append();
        t->FieldByName("FPos").SetAsInteger(v);
        t->FieldByName("Size").SetAsInteger(v);
        t->Post();
        EXPECT_EQ(t->FieldByName("fpos").AsInteger(), v);
        EXPECT_EQ(t->DisplayText(t->CurrentIndex(), t->FieldIndex("Size")), std::to_string(v));
    }
    EXPECT_EQ(t->DisplayText(0, t->FieldIndex("FPos")), "3221225472");
}

TEST(Fields, LookupIgnoresCaseAndUnknownNamesFail)
{
    auto t = makeEntryTable();
    RecordField& pos = t->FieldByName("Pos");
    for (const char* n : {"pos", "POS", "Pos", "pOs"})
        EXPECT_EQ(&t->FieldByName(n), &pos) << n;
    EXPECT_EQ(t->FieldByName("string").Name(), "String");
    EXPECT_EQ(t->FieldByName("FPOS").Index(), 4);
    EXPECT_EQ(errorOf([&] { t->FieldByName("abc"); }), "RxM: Field 'abc' not found");
    EXPECT_EQ(errorOf([&] { t->FieldByName("Pos "); }), "RxM: Field 'Pos ' not found");
    EXPECT_EQ(t->FindField("abc"), nullptr);

    auto tx = makeTextureTable();
    EXPECT_EQ(errorOf([&] { tx->FieldByName("FPos"); }), "QueryTXD: Field 'FPos' not found");
    EXPECT_EQ(errorOf([&] { tx->SortOnField("nope"); }), "QueryTXD: Field 'nope' not found");
    EXPECT_EQ(errorOf([&] { tx->Locate("nope", 1); }), "QueryTXD: Field 'nope' not found");

    // Letters beyond A-Z fold under the locale too.
    RecordTable local("T", {{"Žlutý", FieldKind::Integer, 0}});
    EXPECT_EQ(local.FieldIndex("žLUTÝ"), 0);
    EXPECT_EQ(local.FieldIndex("zluty"), -1);
}

TEST(Fields, WritingWhileBrowsingFails)
{
    auto t = entryTableWithRows(2, 0);
    const std::string msg = "Dataset not in edit or insert mode";
    EXPECT_EQ(errorOf([&] { t->FieldByName("Name").SetAsString("x"); }), msg);
    EXPECT_EQ(errorOf([&] { t->FieldByName("Pos").SetAsInteger(7); }), msg);
    EXPECT_EQ(errorOf([&] { t->FieldByName("Pos").SetAsString("7"); }), msg);
    EXPECT_EQ(t->FieldByName("Name").AsString(), "r0");
    EXPECT_EQ(t->FieldByName("Pos").AsInteger(), 1);

    // Edit with no current row keeps browsing, so the write is refused too.
    auto empty = makeEntryTable();
    empty->Edit();
    EXPECT_EQ(empty->State(), TableState::Browsing);
    EXPECT_EQ(errorOf([&] { empty->FieldByName("Name").SetAsString("x"); }), msg);
    EXPECT_TRUE(empty->IsEmpty());
}

TEST(Fields, EditChangesTheRowInPlaceAndCancelRestores)
{
    auto t = entryTableWithRows(3, 1);
    t->Edit();
    t->FieldByName("Name").SetAsString("changed");
    EXPECT_EQ(t->FieldByName("Name").AsString(), "changed");  // reads the row being edited
    EXPECT_EQ(t->RowText(1, t->FieldIndex("Name")), "r1");    // stored row untouched until post
    t->Post();
    EXPECT_EQ(t->RowText(1, t->FieldIndex("Name")), "changed");
    EXPECT_EQ(t->CreationNumber(), 2);
    EXPECT_EQ(t->CurrentIndex(), 1);

    t->Edit();
    t->FieldByName("Name").SetAsString("dropped");
    t->Cancel();
    EXPECT_EQ(t->FieldByName("Name").AsString(), "changed");
}

TEST(Fields, MovingWhileInsertingStoresTheRow)
{
    auto t = entryTableWithRows(2, 0);
    t->Append();
    t->FieldByName("Name").SetAsString("kept");
    t->First();
    EXPECT_EQ(t->State(), TableState::Browsing);
    EXPECT_EQ(t->RowCount(), 3);
    EXPECT_EQ(t->RowText(2, t->FieldIndex("Name")), "kept");
}

TEST(Fields, ConversionsBetweenKinds)
{
    auto t = makeEntryTable();
    t->Append();
    t->FieldByName("Pos").SetAsString("123");
    t->FieldByName("Name").SetAsInteger(-45);
    t->Post();
    EXPECT_EQ(t->FieldByName("Pos").AsInteger(), 123);
    EXPECT_EQ(t->FieldByName("Pos").AsString(), "123");
    EXPECT_EQ(t->FieldByName("Name").AsString(), "-45");
    EXPECT_EQ(t->FieldByName("Name").AsInteger(), -45);
    t->Edit();
    EXPECT_THROW(t->FieldByName("Size").SetAsString("12abc"), ERecordTableError);
    t->FieldByName("Name").SetAsString("x1");
    t->Post();
    EXPECT_THROW(t->FieldByName("Name").AsInteger(), ERecordTableError);

    // Booleans read and write "True" / "False" in any letter case; other text is refused.
    auto tx = makeTextureTable();
    tx->Append();
    tx->FieldByName("Paletted").SetAsString("tRUE");
    EXPECT_TRUE(tx->FieldByName("Paletted").AsBoolean());
    EXPECT_EQ(errorOf([&] { tx->FieldByName("Paletted").SetAsString("yes"); }), "'yes' is not a valid boolean value");
    EXPECT_TRUE(tx->FieldByName("Paletted").AsBoolean());  // unchanged
    tx->FieldByName("Type").SetAsString("false");
    EXPECT_FALSE(tx->FieldByName("Type").AsBoolean());
    tx->FieldByName("Type").SetAsString("0");
    EXPECT_EQ(errorOf([&] { tx->FieldByName("Type").AsBoolean(); }), "'0' is not a valid boolean value");
}

// ---------------------------------------------------------------- sort

TEST(Sort, EqualIgnoringCaseKeepsInsertionOrder)
{
    auto t = makeEntryTable();
    for (const char* n : {"b", "A", "a", "B"})
        appendName(*t, n);
    t->SortOnField("name");
    EXPECT_EQ(namesInOrder(*t), (std::vector<std::string>{"A", "a", "b", "B"}));
}

TEST(Sort, TextIsCollatedNotByteOrder)
{
    auto t = makeTextureTable();
    for (const char* d : {"16x16", "128x128", "64x64", "256x256"}) {
        t->Append();
        t->FieldByName("Dimensions").SetAsString(d);
        t->Post();
    }
    t->SortOnField("Dimensions");
    std::vector<std::string> dims;
    for (int r = 0; r < t->RowCount(); ++r)
        dims.push_back(t->RowText(r, t->FieldIndex("Dimensions")));
    EXPECT_EQ(dims, (std::vector<std::string>{"128x128", "16x16", "256x256", "64x64"}));

    // Windows-1250 "éclair" (0xE9) goes with the e's, not after z as its byte would.
    auto e = makeEntryTable();
    for (const char* n : {"zeta",
                          "\xE9"
                          "clair",
                          "echo", "Epsilon"})
        appendName(*e, n);
    e->SortOnField("Name");
    EXPECT_EQ(namesInOrder(*e), (std::vector<std::string>{"echo",
                                                          "\xE9"
                                                          "clair",
                                                          "Epsilon", "zeta"}));
}

TEST(Sort, NeverWrittenFirstThenWrittenEmptyText)
{
    auto t = makeTextureTable();
    auto add = [&](int pos, const char* type, bool writeSize) {
        t->Append();
        t->FieldByName("Pos").SetAsInteger(pos);
        if (type)
            t->FieldByName("Type").SetAsString(type);
        if (writeSize)
            t->FieldByName("Size").SetAsInteger(pos * 10 - 100);  // also negative sizes
        t->Post();
    };
    add(1, "DXT1", true);
    add(2, nullptr, false);
    add(3, "", true);
    add(4, "8-bit paletted", true);
    add(5, nullptr, false);
    add(6, "", true);
    t->SortOnField("Type");
    EXPECT_EQ(integersInOrder(*t, "Pos"), (std::vector<int64_t>{2, 5, 3, 6, 4, 1}));
    t->SortOnField("Size");
    // Never-written sizes first (in insertion order), then -90, -70, -60, -40.
    EXPECT_EQ(integersInOrder(*t, "Pos"), (std::vector<int64_t>{2, 5, 1, 3, 4, 6}));
}

TEST(Sort, NotCumulativeTiesGoByCreation)
{
    auto t = makeEntryTable();
    const std::vector<std::pair<std::string, int64_t>> rows = {
        {"delta", 10}, {"alpha", 20}, {"charlie", 10}, {"bravo", 20}, {"echo", 10}};
    for (size_t i = 0; i < rows.size(); ++i)
        appendEntryRow(*t, static_cast<int64_t>(i + 1), rows[i].first, rows[i].second, 0);
    t->SortOnField("Name");
    t->SortOnField("Size");
    EXPECT_EQ(namesInOrder(*t), (std::vector<std::string>{"delta", "charlie", "echo", "alpha", "bravo"}));
    t->SortOnField("Size");  // sorting again gives the same order
    EXPECT_EQ(namesInOrder(*t), (std::vector<std::string>{"delta", "charlie", "echo", "alpha", "bravo"}));
    t->SortOnField("Pos");
    EXPECT_EQ(integersInOrder(*t, "Pos"), (std::vector<int64_t>{1, 2, 3, 4, 5}));
}

TEST(Sort, IntegersAreNumericAcrossSixtyFourBits)
{
    auto t = makeEntryTable();
    const std::vector<int64_t> offsets = {3LL << 30, 5, (1LL << 31), -1, (1LL << 32) + 1, 2147483647, 0};
    for (size_t i = 0; i < offsets.size(); ++i)
        appendEntryRow(*t, static_cast<int64_t>(i + 1), "n", 1, offsets[i]);
    t->SortOnField("FPos");
    auto sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(integersInOrder(*t, "FPos"), sorted);
}

TEST(Sort, BooleansFalseBeforeTrue)
{
    auto t = makeTextureTable();
    for (int i = 0; i < 4; ++i) {
        t->Append();
        t->FieldByName("Pos").SetAsInteger(i + 1);
        t->FieldByName("Paletted").SetAsBoolean(i % 2 == 0);
        t->Post();
    }
    t->SortOnField("Paletted");
    EXPECT_EQ(integersInOrder(*t, "Pos"), (std::vector<int64_t>{2, 4, 1, 3}));
}

TEST(Sort, KeepsTheCurrentRowAndFiresOnce)
{
    auto t = makeEntryTable();
    for (const char* n : {"d", "c", "b", "a"})
        appendName(*t, n);
    t->GoToRowNumber(2);  // "c"
    ScrollRecorder rec;
    rec.attach(*t);
    t->SortOnField("Name");
    ASSERT_EQ(rec.count(), 1u);
    EXPECT_EQ(rec.events[0].name, "c");
    EXPECT_EQ(t->FieldByName("Name").AsString(), "c");
    EXPECT_EQ(t->RecNo(), 3);
    EXPECT_EQ(t->CreationNumber(), 2);
}

// Sorts names with case twins and Windows-1250 letters and checks every
// neighbouring pair against the locale comparison itself (ties by creation).
void expectSortAgreesWithLocaleComparison()
{
    auto t = makeEntryTable();
    auto names = sampleEntryNames(3000, 7);
    names.push_back("veh_abc1.dff");
    names.push_back("VEH_ABC1.DFF");
    names.push_back("\x8A"
                    "koda.txd");  // Š
    names.push_back("\x9A"
                    "koda.txd");  // š
    names.push_back("\xC8"
                    "esk\xFD.txd");  // Český
    names.push_back("stra\xDF"
                    "e");  // ß
    names.push_back("strasse");
    names.push_back("");
    for (size_t i = 0; i < names.size(); ++i)
        appendEntryRow(*t, static_cast<int64_t>(i + 1), names[i], 1, 0);
    t->SortOnField("Name");
    const int f = t->FieldIndex("Name");
    EXPECT_EQ(t->RowText(0, f), "");
    for (int r = 1; r < t->RowCount(); ++r) {
        const int c = localeCompareIgnoreCaseCp1250(t->RowText(r - 1, f), t->RowText(r, f));
        ASSERT_LE(c, 0) << t->RowText(r - 1, f) << " / " << t->RowText(r, f);
        if (c == 0) {
            ASSERT_LT(t->RowCreationNumber(r - 1), t->RowCreationNumber(r));
        }
    }
}

std::vector<std::string> sortedNames(const std::vector<std::string>& names)
{
    auto t = makeEntryTable();
    for (const auto& n : names)
        appendName(*t, n);
    t->SortOnField("Name");
    return namesInOrder(*t);
}

TEST(Sort, AgreesWithTheLocaleComparisonOnManyNames)
{
    ASSERT_NE(QLocale::system().language(), QLocale::C);
    expectSortAgreesWithLocaleComparison();
}

TEST(Sort, PlainCollationOfTheCLocale)
{
    if (std::getenv(kCLocaleChild) == nullptr) {
        // Run this same test in a child process whose user locale is C.
        const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
        const std::string cmd = std::string("LC_ALL=C ") + kCLocaleChild + "=1 '" + exe
                                + "' --gtest_filter=Sort.PlainCollationOfTheCLocale";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return;
    }
    ASSERT_EQ(QLocale::system().language(), QLocale::C);
    EXPECT_EQ(sortedNames({"b", "A", "a", "B"}), (std::vector<std::string>{"A", "a", "b", "B"}));
    // Case folded, otherwise code points: é (0xE9 in Windows-1250) after z.
    EXPECT_EQ(sortedNames({"zeta",
                           "\xE9"
                           "clair",
                           "echo", "Epsilon", "BUILD1.DFF", "build1.col"}),
              (std::vector<std::string>{"build1.col", "BUILD1.DFF", "echo", "Epsilon", "zeta",
                                        "\xE9"
                                        "clair"}));
    expectSortAgreesWithLocaleComparison();
}

// ---------------------------------------------------------------- locate

TEST(Locate, EqualityIsExact)
{
    auto t = makeEntryTable();
    appendEntryRow(*t, 1, "Alpha", 10, 0);
    appendEntryRow(*t, 2, "alpha", 20, 0);
    appendEntryRow(*t, 3, "beta", (3LL << 30), 0);
    t->GoToRowNumber(3);
    EXPECT_TRUE(t->Locate("Name", "alpha"));
    EXPECT_EQ(t->CurrentIndex(), 1);
    EXPECT_FALSE(t->Locate("Name", "ALPHA"));
    EXPECT_EQ(t->CurrentIndex(), 1);  // starting row current again
    EXPECT_TRUE(t->Locate("Size", int64_t{3} << 30));
    EXPECT_EQ(t->CurrentIndex(), 2);
    EXPECT_FALSE(t->Locate("Size", int64_t{1} << 30));
    EXPECT_FALSE(t->Locate("String", "x"));  // never-written fields never match a value
    EXPECT_TRUE(t->Locate("String", FieldValue()));
}

TEST(Locate, AcrossFieldKindsTheShownTextsAreCompared)
{
    // Row 0: Pos 1, Name "2", Paletted false, Type "True";
    // row 1: Pos 2, Name "1", Paletted true; row 2 has only Pos 3.
    auto t = makeTextureTable();
    const auto add = [&](int64_t pos, const char* name, int paletted, const char* type) {
        t->Append();
        t->FieldByName("Pos").SetAsInteger(pos);
        if (name)
            t->FieldByName("Name").SetAsString(name);
        if (paletted >= 0)
            t->FieldByName("Paletted").SetAsBoolean(paletted != 0);
        if (type)
            t->FieldByName("Type").SetAsString(type);
        t->Post();
    };
    add(1, "2", 0, "True");
    add(2, "1", 1, nullptr);
    add(3, nullptr, -1, nullptr);
    struct Case {
        const char* field;
        FieldValue value;
        int row;  // -1: not found
    } cases[] = {
        {"Pos", "2", 1},                                                            // integer field, text value
        {"Pos", "02", -1},        {"Name", 1, 1},                                   // text field, integer value
        {"Paletted", true, 1},    {"Paletted", false, 0}, {"Paletted", "True", 1},  // boolean field, text value
        {"Paletted", "true", -1}, {"Paletted", 1, -1},                              // a boolean shows "True", never "1"
        {"Type", true, 0},                                                          // text field, boolean value
        {"Name", true, -1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        t->Last();
        EXPECT_EQ(t->Locate(cases[i].field, cases[i].value), cases[i].row >= 0) << "case " << i;
        EXPECT_EQ(t->CurrentIndex(), cases[i].row >= 0 ? cases[i].row : 2) << "case " << i;
    }
}

TEST(Locate, WorksOnTheFilteredTable)
{
    auto t = makeTextureTable();
    for (int i = 1; i <= 4; ++i) {
        t->Append();
        t->FieldByName("Pos").SetAsInteger(i);
        t->Post();
    }
    t->First();
    EXPECT_TRUE(t->Locate("Pos", 3));
    EXPECT_EQ(t->CurrentIndex(), 2);
    EXPECT_EQ(t->RecNo(), -1);
}

// ---------------------------------------------------------------- delete, empty, numbering

TEST(Delete, CurrentRowAndCreationCounter)
{
    auto t = entryTableWithRows(3, 1);
    EXPECT_EQ(t->CreationNumber(), 2);
    t->Delete();  // middle row: the following row takes its place
    EXPECT_EQ(t->FieldByName("Name").AsString(), "r2");
    EXPECT_EQ(t->CreationNumber(), 3);
    t->Delete();  // the last row: the new last row becomes current
    EXPECT_EQ(t->FieldByName("Name").AsString(), "r0");
    appendName(*t, "later");
    EXPECT_EQ(t->CreationNumber(), 4);  // no renumbering while rows remain
    t->First();
    t->Delete();
    t->Delete();
    EXPECT_TRUE(t->IsEmpty());
    EXPECT_TRUE(t->Bof());
    EXPECT_TRUE(t->Eof());
    EXPECT_EQ(t->RecNo(), 0);
    appendName(*t, "fresh");
    EXPECT_EQ(t->CreationNumber(), 1);  // counter restarted
}

TEST(Delete, EmptyResetsCounterAndKeepsCapacity)
{
    auto t = entryTableWithRows(5, 2);
    EXPECT_EQ(t->Capacity(), 5000);
    t->Empty();
    EXPECT_TRUE(t->IsEmpty());
    EXPECT_EQ(t->RowCount(), 0);
    EXPECT_EQ(t->CurrentIndex(), -1);
    appendName(*t, "x");
    EXPECT_EQ(t->CreationNumber(), 1);
}

TEST(Delete, DeletingTheRowBeingInsertedDropsIt)
{
    auto t = entryTableWithRows(2, 0);
    ScrollRecorder rec;
    t->Append();
    rec.attach(*t);
    t->Delete();
    EXPECT_EQ(rec.count(), 1u);
    EXPECT_EQ(t->RowCount(), 2);
    EXPECT_EQ(t->State(), TableState::Browsing);
    EXPECT_EQ(t->CurrentIndex(), 0);
}

TEST(Numbering, GoToRowNumberOnlyOnNumberedTables)
{
    auto t = entryTableWithRows(4, 0);
    EXPECT_TRUE(t->IsNumbered());
    t->GoToRowNumber(4);
    EXPECT_EQ(t->RecNo(), 4);
    EXPECT_EQ(t->FieldByName("Pos").AsInteger(), 4);

    auto tx = makeTextureTable();
    EXPECT_TRUE(tx->IsFiltered());
    EXPECT_FALSE(tx->IsNumbered());
    for (int i = 0; i < 3; ++i) {
        tx->Append();
        tx->FieldByName("Pos").SetAsInteger(i + 1);
        tx->Post();
    }
    tx->First();
    tx->GoToRowNumber(3);
    EXPECT_EQ(tx->CurrentIndex(), 0);
    EXPECT_EQ(tx->RecNo(), -1);
}

TEST(Capacity, MoreRowsThanReservedAreAccepted)
{
    auto t = makeEntryTable();
    fillEntryTable(*t, 6000);
    EXPECT_EQ(t->RowCount(), 6000);
    t->Last();
    EXPECT_EQ(t->FieldByName("Pos").AsInteger(), 6000);
    EXPECT_EQ(t->RecNo(), 6000);
}

TEST(Display, GridSeesTypesAndValues)
{
    auto t = makeTextureTable();
    EXPECT_EQ(t->FieldCount(), 16);
    const std::vector<std::string> expected = {"Pos",        "DirID",    "Name",     "Desc",  "Size",   "Type",
                                               "Dimensions", "ImagePos", "Paletted", "Width", "Height", "Bits",
                                               "Format",     "Levels",   "Alpha",    "Layout"};
    for (int i = 0; i < t->FieldCount(); ++i)
        EXPECT_EQ(t->FieldDefinition(i).name, expected[static_cast<size_t>(i)]);
    EXPECT_TRUE(t->IsRightAligned(t->FieldIndex("Size")));
    EXPECT_FALSE(t->IsRightAligned(t->FieldIndex("Name")));
    EXPECT_EQ(t->FieldByName("Dimensions").MaxLength(), 40);
    EXPECT_EQ(t->FieldByName("Desc").MaxLength(), 32);

    auto e = makeEntryTable();
    EXPECT_EQ(e->FieldByName("Name").MaxLength(), 24);
    appendEntryRow(*e, 7, "n\xE8", -3, 5);
    EXPECT_EQ(e->DisplayText(0, e->FieldIndex("Size")), "-3");
    EXPECT_EQ(e->DisplayQString(0, e->FieldIndex("Name")), QString::fromUtf8("nč"));
    EXPECT_EQ(e->DisplayText(5, 0), "");  // outside the rows: nothing
    EXPECT_EQ(errorOf([&] { e->RowText(1, 0); }), "RxM: Row index 1 out of range");
    EXPECT_EQ(errorOf([&] { e->RowInteger(0, 5); }), "RxM: Field index 5 out of range");
    EXPECT_EQ(errorOf([&] { e->Field(-1); }), "RxM: Field index -1 out of range");
}
