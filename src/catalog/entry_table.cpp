// SPDX-License-Identifier: GPL-2.0-or-later
#include "catalog/entry_table.h"

#include "tables/record_table.h"

using namespace EntryField;

std::unique_ptr<RecordTable> makeEntryTable()
{
    return std::make_unique<RecordTable>("RxM",
                                         std::vector<FieldDef>{
                                             {kPos, FieldKind::Integer, 0},
                                             {kName, FieldKind::Text, 24},
                                             {kSize, FieldKind::Integer, 0},
                                             {kString, FieldKind::Text, 1000},
                                             {kFPos, FieldKind::Integer, 0},
                                         },
                                         false);
}

std::vector<TableColumn> entryGridColumns()
{
    return {{kPos, 35}, {kFPos, 64}, {kSize, 64}, {kName, 79}};
}

void fillEntryTable(RecordTable& table, const ArchiveContents& archive)
{
    RecordField& name = table.FieldByName(kName);
    RecordField& size = table.FieldByName(kSize);
    RecordField& pos = table.FieldByName(kPos);
    RecordField& fpos = table.FieldByName(kFPos);
    for (const DirectoryEntry& e : archive.entries) {
        table.Append();
        name.SetAsString(e.name);
        size.SetAsInteger(e.size);
        pos.SetAsInteger(e.pos);
        fpos.SetAsInteger(e.offset);
        table.Post();
    }
    // A directory's records in their file order (a standalone dictionary has one row).
    if (!archive.standalone)
        table.SortOnField(kPos);
}

DirectoryEntry currentEntry(RecordTable& table)
{
    DirectoryEntry e;
    if (table.IsEmpty() || table.CurrentIndex() < 0)
        return e;
    e.pos = table.FieldByName(kPos).AsInteger();
    e.name = table.FieldByName(kName).AsString();
    e.size = table.FieldByName(kSize).AsInteger();
    e.offset = table.FieldByName(kFPos).AsInteger();
    return e;
}

DirectoryEntry entryAtRow(const RecordTable& table, int row)
{
    DirectoryEntry e;
    e.pos = table.RowInteger(row, table.FieldIndex(kPos));
    e.name = table.RowText(row, table.FieldIndex(kName));
    e.size = table.RowInteger(row, table.FieldIndex(kSize));
    e.offset = table.RowInteger(row, table.FieldIndex(kFPos));
    return e;
}
