// SPDX-License-Identifier: GPL-2.0-or-later
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "search/find_replace.h"

#include "platform/environment.h"
#include "platform/exceptions.h"
#include "tables/record_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const bool kLocaleChosen = [] {
    setenv("LC_ALL", "en_US.UTF-8", 1);
    return true;
}();

// An entry table with one row per text (Pos 1..n, String = the text; a null
// text leaves String never written, as the archive loader does), the
// cursor on row `current`, and a log of the row number at each AfterScroll.
class ScanTable {
public:
    explicit ScanTable(const std::vector<const char*>& texts, int current = 1) : table(makeEntryTable())
    {
        for (size_t i = 0; i < texts.size(); ++i) {
            table->Append();
            table->FieldByName("Pos").SetAsInteger(static_cast<int64_t>(i) + 1);
            table->FieldByName("Name").SetAsString(std::to_string(i + 1) + ".txd");
            if (texts[i])
                table->FieldByName("String").SetAsString(texts[i]);
            table->Post();
        }
        table->GoToRowNumber(current);
        table->SetAfterScroll([this](RecordTable& t) {
            visits.push_back(t.RecNo());
            suspendedAtEveryVisit = suspendedAtEveryVisit && t.ControlsDisabled();
            if (throwAtVisit > 0 && static_cast<int>(visits.size()) == throwAtVisit)
                throw EFOpenError("Cannot open file /x/a.img");
        });
    }

    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (int r = 0; r < table->RowCount(); ++r)
            out.push_back(table->RowText(r, table->FieldIndex("String")));
        return out;
    }

    std::unique_ptr<RecordTable> table;
    std::vector<int> visits;  // RecNo at each AfterScroll
    bool suspendedAtEveryVisit = true;
    int throwAtVisit = 0;  // the visit (1-based) whose handler fails
};

struct FindCase {
    const char* what;
    std::vector<const char*> texts;
    int start;
    const char* search;
    bool found;
    int endRow;
    std::vector<int> visits;
};

TEST(FindNextRow, MovesFromTheNextRowAndReturnsByLocate)
{
    const std::vector<const char*> rows = {"a", "xABCx", "q", "abc"};
    const FindCase cases[] = {
        {"match on the next row", rows, 1, "abc", true, 2, {2}},
        {"skips rows that do not match", rows, 2, "abc", true, 4, {3, 4}},
        {"the last row: no wrap, back by locate", rows, 4, "abc", false, 4, {4, 4}},
        {"no match: step past the end, then locate visits from the first row",
         rows,
         3,
         "zzz",
         false,
         3,
         {4, 4, 1, 2, 3, 3}},
        {"the starting row itself is never found", {"abc", "x", "y"}, 1, "abc", false, 1, {2, 3, 3, 1, 1}},
        {"only A-Z fold: é does not find É", {"x", "\xC9", "y"}, 1, "\xE9", false, 1, {2, 3, 3, 1, 1}},
        {"A-Z fold: ABC finds xabcx", {"x", "xabcx"}, 1, "ABC", true, 2, {2}},
        {"String never written", {nullptr, nullptr, nullptr}, 2, "a", false, 2, {3, 3, 1, 2, 2}},
        {"one row", {"abc"}, 1, "abc", false, 1, {1, 1}},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScanTable t(c.texts, c.start);
        EXPECT_EQ(findNextRow(*t.table, c.search), c.found);
        EXPECT_EQ(t.table->RecNo(), c.endRow);
        EXPECT_EQ(t.visits, c.visits);
        EXPECT_TRUE(t.suspendedAtEveryVisit);
        EXPECT_EQ(t.table->SuspendCount(), 0);
    }
}

TEST(FindNextRow, EmptyTableOrEmptyTextDoesNothing)
{
    ScanTable empty({});
    EXPECT_FALSE(findNextRow(*empty.table, "a"));
    EXPECT_TRUE(empty.visits.empty());

    ScanTable rows({"a", "b"});
    EXPECT_FALSE(findNextRow(*rows.table, ""));
    EXPECT_TRUE(rows.visits.empty());
    EXPECT_EQ(rows.table->RecNo(), 1);
}

TEST(FindNextRow, AnErrorEndsTheScanAtItsRowAndResumesTheGrid)
{
    // From row 1 of 4 the visits are rows 2, 3, 4, 4 (past the end), then the
    // locate's 1 and 1 again. Fail while stepping forward onto row 3, and
    // while the locate stands on the first row.
    const struct {
        int visit;
        int row;
    } failures[] = {{2, 3}, {5, 1}};
    for (const auto& f : failures) {
        ScanTable t({"a", "b", "c", "d"}, 1);
        t.throwAtVisit = f.visit;
        EXPECT_THROW(findNextRow(*t.table, "zzz"), EFOpenError);
        EXPECT_EQ(t.table->RecNo(), f.row);
        EXPECT_EQ(t.table->SuspendCount(), 0);
        EXPECT_EQ(t.table->State(), TableState::Browsing);
    }
}

struct ReplaceCase {
    const char* what;
    std::vector<const char*> texts;
    const char* pattern;
    const char* replacement;
    ReplaceFlags flags;
    int count;
    std::vector<std::string> after;
};

TEST(ReplaceInRows, CountsRowsWhoseStoredTextChanged)
{
    const ReplaceFlags caseSensitive = rfReplaceAll;
    const ReplaceFlags ignoreCase = rfReplaceAll | rfIgnoreCase;
    const ReplaceCase cases[] = {
        {"rows, not occurrences", {"a a a", "b", "A"}, "a", "x", caseSensitive, 1, {"x x x", "b", "A"}},
        {"ignoring case", {"a a a", "b", "A"}, "a", "x", ignoreCase, 2, {"x x x", "b", "x"}},
        {"ignoring case beyond A-Z", {"\xC9t\xE9", "e"}, "\xE9", "e", ignoreCase, 1, {"ete", "e"}},
        {"a change of case only counts", {"abc", "abd"}, "abc", "ABC", caseSensitive, 1, {"ABC", "abd"}},
        {"an empty pattern changes nothing", {"abc", ""}, "", "x", ignoreCase, 0, {"abc", ""}},
        {"no overlap, no rescan", {"aaaa"}, "aa", "a", caseSensitive, 1, {"aa"}},
        {"String never written", {nullptr, nullptr}, "a", "b", ignoreCase, 0, {"", ""}},
        {"replacing by itself", {"abc"}, "b", "b", caseSensitive, 0, {"abc"}},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScanTable t(c.texts, 1);
        EXPECT_EQ(replaceInRows(*t.table, c.pattern, c.replacement, c.flags), c.count);
        EXPECT_EQ(t.texts(), c.after);
    }
}

TEST(ReplaceInRows, ResultsLongerThanTheFieldAreStoredCut)
{
    const std::string thousandA(1000, 'a');
    const std::string xs(998, 'x');
    ScanTable t({xs.c_str(), thousandA.c_str(), "x"});
    // Row 1 grows to 1996 characters and is stored as its first 1000: changed.
    // Row 2 grows to 2000 "a" and is stored as the 1000 "a" it held: unchanged.
    EXPECT_EQ(replaceInRows(*t.table, "x", "yy", rfReplaceAll), 2);
    EXPECT_EQ(replaceInRows(*t.table, "a", "aa", rfReplaceAll), 0);
    const std::vector<std::string> texts = t.texts();
    EXPECT_EQ(texts[0], std::string(1000, 'y'));
    EXPECT_EQ(texts[1], thousandA);
    EXPECT_EQ(texts[2], "yy");
}

TEST(ReplaceInRows, VisitsEveryRowAndTheStepPastTheLastWithTheBusyCursor)
{
    ScanTable t({"a", "b", "c"}, 2);
    bool busyAtEveryVisit = true;
    auto log = t.table->AfterScroll;
    t.table->SetAfterScroll([&](RecordTable& table) {
        busyAtEveryVisit = busyAtEveryVisit && busyCursorShown();
        log(table);
    });
    EXPECT_EQ(replaceInRows(*t.table, "b", "B", rfReplaceAll), 1);
    EXPECT_EQ(t.visits, (std::vector<int>{1, 2, 3, 3}));
    EXPECT_TRUE(t.suspendedAtEveryVisit);
    EXPECT_TRUE(busyAtEveryVisit);
    EXPECT_FALSE(busyCursorShown());
    EXPECT_EQ(t.table->SuspendCount(), 0);
    EXPECT_EQ(t.table->RecNo(), 3);
    EXPECT_TRUE(t.table->Eof());

    ScanTable empty({});
    EXPECT_EQ(replaceInRows(*empty.table, "a", "b", rfReplaceAll), 0);
    EXPECT_TRUE(empty.visits.empty());
    EXPECT_FALSE(busyCursorShown());
}

TEST(ReplaceInRows, AnErrorKeepsRowsAlreadyRewrittenAndRestoresCursorAndGrid)
{
    ScanTable t({"a", "a", "a", "a"});
    t.throwAtVisit = 3;  // moving onto row 3
    EXPECT_THROW(replaceInRows(*t.table, "a", "b", rfReplaceAll), EFOpenError);
    EXPECT_EQ(t.texts(), (std::vector<std::string>{"b", "b", "a", "a"}));
    EXPECT_EQ(t.table->RecNo(), 3);
    EXPECT_EQ(t.table->State(), TableState::Browsing);
    EXPECT_EQ(t.table->SuspendCount(), 0);
    EXPECT_FALSE(busyCursorShown());
}

}  // namespace
