// SPDX-License-Identifier: GPL-2.0-or-later
#include "search/find_replace.h"

#include "catalog/entry_table.h"

#include "platform/environment.h"
#include "tables/record_table.h"

#include <algorithm>

namespace {

// Suspends the table's grid updates (and shows the busy cursor when asked)
// for one scan. finish() undoes both at the normal end, where a failure of the
// grid's refresh still reaches the caller; on any other way out the
// destructor undoes them, drops an edit left unposted, and keeps quiet about
// its own failures so the error that ended the scan is the one reported.
class ScanScope {
public:
    ScanScope(RecordTable& table, bool busy) : table_(table), busy_(busy), suspended_(table)
    {
        if (busy_)
            setBusyCursor(true);
    }
    ~ScanScope()
    {
        if (finished_)
            return;
        try {
            if (table_.State() != TableState::Browsing)
                table_.Cancel();
        } catch (...) {
        }
        if (busy_)
            setBusyCursor(false);
        // The grid's suspension is resumed by its guard.
    }
    ScanScope(const ScanScope&) = delete;
    ScanScope& operator=(const ScanScope&) = delete;

    void finish()
    {
        finished_ = true;
        if (busy_)
            setBusyCursor(false);
        suspended_.resume();
    }

private:
    RecordTable& table_;
    bool busy_;
    bool finished_ = false;
    RecordTable::SuspendGuard suspended_;
};

const char* const kPosField = EntryField::kPos;
const char* const kTextField = EntryField::kString;

// The current row's text as posted; no copy.
const std::string& currentText(const RecordTable& table, int field)
{
    return table.RowText(table.CurrentIndex(), field);
}

}  // namespace

bool findNextRow(RecordTable& table, std::string_view searchText)
{
    if (table.IsEmpty() || searchText.empty())
        return false;
    const int64_t start = table.FieldByName(kPosField).AsInteger();
    const int textField = table.FieldByName(kTextField).Index();

    ScanScope scope(table, false);
    bool found = false;
    table.Next();
    while (!table.Eof()) {
        if (containsFoldingAsciiLetters(currentText(table, textField), searchText)) {
            found = true;
            break;
        }
        table.Next();
    }
    if (!found)
        table.Locate(kPosField, start);
    scope.finish();
    return found;
}

int replaceInRows(RecordTable& table, std::string_view pattern, std::string_view replacement, ReplaceFlags flags)
{
    if (table.IsEmpty())
        return 0;
    RecordField& text = table.FieldByName(kTextField);
    const int textField = text.Index();
    const size_t maxLength = static_cast<size_t>(std::max(text.MaxLength(), 0));
    TextReplacer replacer(pattern, replacement, flags);

    int changed = 0;
    ScanScope scope(table, true);
    table.First();
    while (!table.Eof()) {
        table.Edit();
        // The posted text: the edit has not written anything yet.
        const std::string& old = currentText(table, textField);
        std::string_view stored = replacer.apply(old);
        // What the field will hold: the write cuts at a NUL and to the
        // field's length, so compare that and not the longer result.
        stored = stored.substr(0, std::min(stored.find('\0'), maxLength));
        if (stored != old)
            ++changed;
        text.SetAsString(stored);
        table.Post();
        table.Next();
    }
    scope.finish();
    return changed;
}
