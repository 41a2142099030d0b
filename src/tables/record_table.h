// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// RecordTable: the in-memory table behind every list of the program.
//
// A table has named, typed fields, rows in table order, a cursor on one current
// row (with before-first / past-the-end flags), a state (browsing, inserting,
// editing), a counted suspension of grid updates and one AfterScroll event that
// fires synchronously after cursor moves. It knows nothing of files or widgets:
// a grid watches it through RecordTableObserver.
//
// Text values are raw single-byte strings (Windows-1250 bytes); the QString
// members are conveniences that decode or encode that code page.
#include "platform/exceptions.h"

#include <QString>

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class RecordTable;

// Failures of table operations (unknown field name, write outside edit or
// insert mode, a value that does not convert to the field's kind).
QX_DECLARE_ERROR(ERecordTableError);

enum class FieldKind { Integer, Text, Boolean };

enum class TableState { Browsing, Inserting, Editing };

struct FieldDef {
    std::string name;  // as defined ("Pos", "ImagePos"); looked up ignoring case
    FieldKind kind = FieldKind::Integer;
    int maxLength = 0;  // Text only: at most this many characters are stored
};

// A value to compare a field with (Locate). Empty means "field never written".
class FieldValue {
public:
    enum class Kind { Empty, Integer, Text, Boolean };

    FieldValue() = default;
    template <std::integral T>
    FieldValue(T v)  // NOLINT(google-explicit-constructor): Locate("Pos", 5)
    {
        if constexpr (std::same_as<T, bool>) {
            kind_ = Kind::Boolean;
            bool_ = v;
        } else {
            kind_ = Kind::Integer;
            int_ = static_cast<int64_t>(v);
        }
    }
    FieldValue(const char* text) : kind_(Kind::Text), text_(text ? text : "") {}
    FieldValue(std::string text) : kind_(Kind::Text), text_(std::move(text)) {}
    FieldValue(std::string_view text) : kind_(Kind::Text), text_(text) {}

    Kind kind() const { return kind_; }
    bool isEmpty() const { return kind_ == Kind::Empty; }
    int64_t asInteger() const { return int_; }
    const std::string& asText() const { return text_; }
    bool asBoolean() const { return bool_; }

private:
    Kind kind_ = Kind::Empty;
    int64_t int_ = 0;
    bool bool_ = false;
    std::string text_;
};

// Accessor of one field of a table. Reads and writes go to the current row
// (to the row being built while inserting or editing). Obtained from
// RecordTable::FieldByName / Field; valid as long as its table lives.
class RecordField {
public:
    const std::string& Name() const;
    FieldKind Kind() const;
    int MaxLength() const;  // Text: N; other kinds: 0
    int Index() const { return index_; }
    RecordTable& Table() const { return *table_; }
    bool IsRightAligned() const { return Kind() == FieldKind::Integer; }

    // True when the current row's field was never written (or there is no current row).
    bool IsNull() const;

    // Reading: an empty field reads 0 / "" / false; no current row reads as empty.
    // Cross-kind reads convert: an integer reads as its decimal text, a boolean
    // as "True"/"False"; a text reads as an integer when it is a decimal number
    // (else ERecordTableError), as a boolean when it is "True"/"False" ignoring case.
    int64_t AsInteger() const;
    std::string AsString() const;  // raw Windows-1250 bytes
    QString AsQString() const;     // decoded
    bool AsBoolean() const;

    // Writing: only while inserting or editing, else ERecordTableError
    // "Dataset not in edit or insert mode". Text is cut at its first NUL and
    // then to MaxLength characters. Cross-kind writes convert like the reads.
    void SetAsInteger(int64_t value);
    void SetAsString(std::string_view bytes);
    void SetAsQString(const QString& text);  // encoded to Windows-1250, then cut
    void SetAsBoolean(bool value);
    // Makes the field empty again (never written).
    void Clear();

private:
    friend class RecordTable;
    RecordField(RecordTable* table, int index) : table_(table), index_(index) {}
    RecordTable* table_;
    int index_;
};

// What a grid bound to a table is told. Calls arrive only while grid updates
// are not suspended; they come after the table is already up to date.
class RecordTableObserver {
public:
    virtual ~RecordTableObserver() = default;

    // Anything may have changed (rows, order, count, values, state, cursor):
    // redraw all rows and follow the current row. Sent after empty, sort,
    // delete, the last resume of a suspension and for any change not covered
    // by the finer notifications below.
    virtual void refreshAll(RecordTable& table) = 0;
    // Row `row` (0-based grid row) was added; rows from there on shifted down.
    // Append sends it for the row being built (shown at the end).
    virtual void rowInserted(RecordTable& table, int row) { refreshAll(table); }
    // Row `row` (0-based grid row) was removed; rows after it shifted up.
    // (Delete sends refreshAll; this is sent when a row being inserted is cancelled.)
    virtual void rowRemoved(RecordTable& table, int row) { refreshAll(table); }
    // Values or state of rows firstRow..lastRow changed (field write, edit, post).
    virtual void rowsChanged(RecordTable& table, int firstRow, int lastRow) { refreshAll(table); }
    // The cursor (current row index or the end flags) changed.
    virtual void currentChanged(RecordTable& table) = 0;
    // Scroll so that the current row stands in the middle of the visible rows
    // where the rows before and after it allow (after a sort, or when a
    // failed locate returns to its starting row). Follows a refreshAll.
    virtual void showCurrentInMiddle(RecordTable& table) {}
};

class RecordTable {
public:
    using AfterScrollHandler = std::function<void(RecordTable&)>;

    static constexpr int kCapacity = 5000;

    // `filtered` on: every row still accepted, but the table reports no row numbers.
    RecordTable(std::string name, std::vector<FieldDef> fields, bool filtered = false);
    ~RecordTable();
    RecordTable(const RecordTable&) = delete;
    RecordTable& operator=(const RecordTable&) = delete;

    const std::string& Name() const { return name_; }

    // ---- fields ----
    int FieldCount() const { return static_cast<int>(defs_.size()); }
    // Index outside 0..FieldCount()-1 raises ERecordTableError.
    const FieldDef& FieldDefinition(int index) const;
    RecordField& Field(int index);
    // Name compared ignoring letter case under the locale; unknown name raises
    // ERecordTableError "<table name>: Field '<name>' not found".
    RecordField& FieldByName(std::string_view name);
    // Same lookup without raising: nullptr / -1 when absent.
    RecordField* FindField(std::string_view name);
    int FieldIndex(std::string_view name) const;

    // ---- size and cursor ----
    int RowCount() const { return static_cast<int>(rows_.size()); }  // posted rows
    bool IsEmpty() const { return rows_.empty() && state_ != TableState::Inserting; }
    bool Bof() const { return bof_; }  // before-first flag
    bool Eof() const { return eof_; }  // past-the-end flag
    TableState State() const { return state_; }
    int Capacity() const { return capacity_; }

    // 1-based number of the current row in table order; 0 when there is no
    // current row or a new row is being inserted; -1 when the table is not
    // numbered (filtered).
    int RecNo() const;
    bool IsNumbered() const { return !filtered_; }
    bool IsFiltered() const { return filtered_; }

    // Creation number of the current row (1 for the first row added after
    // the table was created, emptied or deleted down to no rows); 0 when none.
    int64_t CreationNumber() const;

    // ---- navigation ----
    // When AfterScroll fires (the handlers of the main window depend on it):
    //   First, Last          always once, also on an empty table
    //   Next, Prior, MoveBy  once after the move, unless the cursor already stands
    //                        flagged at that end (then nothing happens at all);
    //                        a step that finds no further row sets the flag,
    //                        keeps the row and still fires
    //   Append               once, with the new empty row current
    //   Edit, Post, Cancel   never
    //   Delete               once, with the row that took the deleted row's place
    //   Empty                never
    //   SortOnField          once at the end when there are rows
    //   Locate               once per row visited, once for the return to the
    //                        starting row when nothing matched, once more when found
    //   GoToRowNumber        never (the grid fires it through FireAfterScroll)
    // Grid-update suspension never holds the event back.
    // MoveBy(0), and Delete on a table without rows, do nothing at all.
    // A move, Append, SortOnField or Locate while a row is being inserted or
    // edited posts that row first; Delete drops a row being inserted (that
    // row is the current one) or an unsaved edit before deleting; Empty drops it.
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance);  // signed number of rows actually moved
    // Numbered tables only: current := row `number` (1-based) when in range,
    // else nothing. Fires no AfterScroll.
    void GoToRowNumber(int number);

    // ---- editing ----
    void Append();
    void Edit();
    void Post();
    void Cancel();  // drops the row being built or the unsaved edit
    void Delete();
    void Empty();

    // ---- sort and search ----
    // Ascending by the field; empty fields first, a written empty text before
    // other texts, texts by locale collation ignoring case, ties by creation.
    void SortOnField(std::string_view fieldName);
    bool Locate(std::string_view fieldName, const FieldValue& value);

    // ---- grid updates ----
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return suspendCount_ > 0; }
    int SuspendCount() const { return suspendCount_; }
    // Suspends the table's grid updates for a scope and resumes them on
    // every way out. resume() ends the suspension at once; a failure of a
    // grid's refresh then reaches the caller. The destructor resumes a
    // suspension still running: its failure reaches the caller too, unless
    // an exception is already on its way out; then it is dropped, so that
    // the first error is the one reported (and the program is not ended).
    class SuspendGuard {
    public:
        explicit SuspendGuard(RecordTable& table);
        ~SuspendGuard() noexcept(false);
        SuspendGuard(const SuspendGuard&) = delete;
        SuspendGuard& operator=(const SuspendGuard&) = delete;
        void resume();

    private:
        RecordTable& table_;
        int uncaught_;
        bool suspended_ = true;
    };
    // Observers are not owned; one that goes away first must remove itself.
    void AddObserver(RecordTableObserver* observer);
    void RemoveObserver(RecordTableObserver* observer);

    // ---- event ----
    AfterScrollHandler AfterScroll;
    void SetAfterScroll(AfterScrollHandler handler) { AfterScroll = std::move(handler); }
    // Calls the AfterScroll handler now (the grid does so after GoToRowNumber).
    void FireAfterScroll();

    // ---- what a grid paints ----
    // Rows the grid shows: the posted rows, plus the row being inserted (last).
    int DisplayRowCount() const;
    // 0-based index of the current row among the displayed rows; -1 when none.
    int CurrentIndex() const;
    // Text of field `field` in displayed row `row` (the unsaved values for the
    // row being inserted or edited): integers in decimal, texts as stored
    // (raw bytes / decoded), booleans "True"/"False"; an empty field shows "".
    std::string DisplayText(int row, int field) const;
    QString DisplayQString(int row, int field) const;
    bool IsRightAligned(int field) const { return FieldDefinition(field).kind == FieldKind::Integer; }

    // ---- direct read access to posted rows (0-based, no cursor move) ----
    // A row or field index out of range raises ERecordTableError.
    bool RowIsNull(int row, int field) const;
    int64_t RowInteger(int row, int field) const;
    const std::string& RowText(int row, int field) const;
    int64_t RowCreationNumber(int row) const;

private:
    friend class RecordField;
    // One field of one row: `written` false = never written since the row was appended.
    struct Value {
        bool written = false;
        int64_t integer = 0;  // Integer and Boolean (0/1) values
        std::string text;     // Text values
    };
    struct Row {
        std::vector<Value> values;
        int64_t creation = 0;
    };
    const Value* currentValue(int field) const;
    const Value& postedValue(int row, int field) const;
    Value& writableValue(int field);
    const Row* displayRow(int row) const;
    void checkBrowseMode();
    void makeEmptyFlags();
    void fireAfterScroll();
    void notifyRefreshAll();
    void notifyCurrent();
    void notifyRowsChanged(int first, int last);
    void notifyRowInserted(int row);
    void notifyRowRemoved(int row);
    void notifyShowInMiddle();
    bool valueEquals(const Value& v, int field, const FieldValue& value) const;
    void sortRows(int field);

    std::string name_;
    std::vector<FieldDef> defs_;
    std::vector<std::unique_ptr<RecordField>> fields_;
    std::vector<Row> rows_;
    std::unique_ptr<Row> buffer_;  // row being inserted or edited
    int current_ = -1;             // index into rows_; -1 when none
    int insertReturn_ = -1;        // current row before Append (for Cancel)
    bool bof_ = true;
    bool eof_ = true;
    TableState state_ = TableState::Browsing;
    int suspendCount_ = 0;
    bool pendingMiddle_ = false;
    bool filtered_ = false;
    int capacity_ = kCapacity;
    int64_t nextCreation_ = 1;
    std::vector<RecordTableObserver*> observers_;
};
