// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Find and Replace over the text field "String" of the entry table.
//
// Both scans move the table's cursor with its own operations, so its
// AfterScroll handler runs for every row they pass, as for any other move:
// Find from the row after the current one up to the step past the last row,
// and the return to the starting row by locating its "Pos"; Replace from the
// first row up to the step past the last row. The grid's updates are
// suspended for the scan. An error raised by the handler ends the scan at the
// row where it happened and passes to the caller; the grid's suspension (and
// Replace's busy cursor) is undone on that way out too, and rows already
// rewritten keep their new text.
#include "search/text_replace.h"

#include <string_view>

class RecordTable;

// Moves to the next row, from the one after the current row on without
// wrapping, whose "String" contains `searchText` with only A-Z folded; when
// none does, locates the starting row's "Pos" again. True when a row matched.
// An empty table or an empty search text: nothing happens, false.
bool findNextRow(RecordTable& table, std::string_view searchText);

// Applies the replacement rule to "String" in every row, from the first to the
// last (each row is edited and posted, changed or not), with the busy cursor
// shown. Returns the number of rows whose stored text changed. A result
// longer than the field is stored cut to its length, as every write is; the
// row counts when the text stored differs from the one it had. An empty
// table: nothing happens, 0.
int replaceInRows(RecordTable& table, std::string_view pattern, std::string_view replacement, ReplaceFlags flags);
