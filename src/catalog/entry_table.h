// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The entry table RxM: its fields, how it is filled from an opened archive
// and how its current row is read back. The only place that spells its
// field names.
#include "formats/archive_directory.h"

#include <memory>
#include <string>
#include <vector>

class RecordTable;

namespace EntryField {
constexpr const char* kPos = "Pos";
constexpr const char* kName = "Name";
constexpr const char* kSize = "Size";
constexpr const char* kString = "String";  // the text Find and Replace work on
constexpr const char* kFPos = "FPos";
}  // namespace EntryField

// A grid column: the field it shows and its width in pixels.
struct TableColumn {
    const char* field;
    int width;
};

// Pos, Name (24), Size, String (1000), FPos; numbered.
std::unique_ptr<RecordTable> makeEntryTable();
// The columns of the entry grid: Pos, FPos, Size, Name.
std::vector<TableColumn> entryGridColumns();

// Appends one row per entry of `archive` (Pos, Name, Size, FPos); the rows
// of a directory are then sorted on Pos.
void fillEntryTable(RecordTable& table, const ArchiveContents& archive);

// The current row as a directory entry (pos, name, size, offset); all empty
// when the table has no current row.
DirectoryEntry currentEntry(RecordTable& table);
// Posted row `row` (0-based, table order) as a directory entry.
DirectoryEntry entryAtRow(const RecordTable& table, int row);
