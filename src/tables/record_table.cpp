// SPDX-License-Identifier: GPL-2.0-or-later
#include "tables/record_table.h"

#include "platform/text.h"

#include <QCollatorSortKey>
#include <QLocale>

#include <algorithm>
#include <array>
#include <charconv>
#include <exception>
#include <numeric>

namespace {

const char* kNotEditing = "Dataset not in edit or insert mode";

std::string cutText(std::string_view bytes, int maxLength)
{
    const size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos)
        bytes = bytes.substr(0, nul);
    const size_t limit = static_cast<size_t>(std::max(maxLength, 0));
    if (bytes.size() > limit)
        bytes = bytes.substr(0, limit);
    return std::string(bytes);
}

bool asciiOnly(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool sameFieldName(std::string_view a, std::string_view b)
{
    if (asciiOnly(a) && asciiOnly(b)) {
        // Pure ASCII names: folding A-Z is exactly what the locale comparison
        // would conclude, without building two QStrings per lookup.
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return asciiLower(x) == asciiLower(y);
               });
    }
    return sameTextIgnoreCase(QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size())),
                              QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())));
}

std::string booleanText(bool b)
{
    return b ? "True" : "False";
}

int64_t parseInteger(const std::string& text)
{
    int64_t v = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, v);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw ERecordTableError(formatMessage("'%s' is not a valid integer value", {text}));
    return v;
}

bool parseBoolean(const std::string& text)
{
    if (sameFieldName(text, "True"))
        return true;
    if (sameFieldName(text, "False"))
        return false;
    throw ERecordTableError(formatMessage("'%s' is not a valid boolean value", {text}));
}

// True when the locale collation is the plain one of the C locale (no
// language): it orders by code points with letter case folded.
bool collatorIsPlain()
{
    static const bool plain = QLocale::system().language() == QLocale::C;
    return plain;
}

// Key for the plain collation: each Windows-1250 byte as its case-folded
// UTF-16 unit; comparing keys unit by unit, then by length, is that order.
std::u16string foldedKey(const std::string& bytes)
{
    static const std::array<char16_t, 256> folded = [] {
        std::array<char16_t, 256> table{};
        for (int b = 0; b < 256; ++b) {
            const QString ch = fromCp1250(std::string(1, static_cast<char>(b)));
            table[static_cast<size_t>(b)] = static_cast<char16_t>(QChar::toCaseFolded(ch.at(0).unicode()));
        }
        return table;
    }();
    std::u16string key(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        key[i] = folded[static_cast<unsigned char>(bytes[i])];
    return key;
}

}  // namespace

// ---------------------------------------------------------------- SuspendGuard

RecordTable::SuspendGuard::SuspendGuard(RecordTable& table) : table_(table), uncaught_(std::uncaught_exceptions())
{
    table_.DisableControls();
}

RecordTable::SuspendGuard::~SuspendGuard() noexcept(false)
{
    if (!suspended_)
        return;
    if (std::uncaught_exceptions() > uncaught_) {
        try {
            resume();
        } catch (...) {
            // Already unwinding: the error on its way out is the one reported.
        }
    } else {
        resume();
    }
}

void RecordTable::SuspendGuard::resume()
{
    if (!suspended_)
        return;
    suspended_ = false;
    table_.EnableControls();
}

// ---------------------------------------------------------------- RecordField

const std::string& RecordField::Name() const
{
    return table_->defs_[static_cast<size_t>(index_)].name;
}

FieldKind RecordField::Kind() const
{
    return table_->defs_[static_cast<size_t>(index_)].kind;
}

int RecordField::MaxLength() const
{
    const FieldDef& d = table_->defs_[static_cast<size_t>(index_)];
    return d.kind == FieldKind::Text ? d.maxLength : 0;
}

bool RecordField::IsNull() const
{
    const auto* v = table_->currentValue(index_);
    return !v || !v->written;
}

int64_t RecordField::AsInteger() const
{
    const auto* v = table_->currentValue(index_);
    if (!v || !v->written)
        return 0;
    switch (Kind()) {
    case FieldKind::Integer:
    case FieldKind::Boolean: return v->integer;
    case FieldKind::Text: return v->text.empty() ? 0 : parseInteger(v->text);
    }
    return 0;
}

std::string RecordField::AsString() const
{
    const auto* v = table_->currentValue(index_);
    if (!v || !v->written)
        return {};
    switch (Kind()) {
    case FieldKind::Integer: return std::to_string(v->integer);
    case FieldKind::Boolean: return booleanText(v->integer != 0);
    case FieldKind::Text: return v->text;
    }
    return {};
}

QString RecordField::AsQString() const
{
    return fromCp1250(AsString());
}

bool RecordField::AsBoolean() const
{
    const auto* v = table_->currentValue(index_);
    if (!v || !v->written)
        return false;
    switch (Kind()) {
    case FieldKind::Integer:
    case FieldKind::Boolean: return v->integer != 0;
    case FieldKind::Text: return v->text.empty() ? false : parseBoolean(v->text);
    }
    return false;
}

void RecordField::SetAsInteger(int64_t value)
{
    switch (Kind()) {
    case FieldKind::Integer: {
        auto& v = table_->writableValue(index_);
        v.written = true;
        v.integer = value;
        break;
    }
    case FieldKind::Boolean: SetAsBoolean(value != 0); return;
    case FieldKind::Text: SetAsString(std::to_string(value)); return;
    }
    table_->notifyRowsChanged(table_->CurrentIndex(), table_->CurrentIndex());
}

void RecordField::SetAsString(std::string_view bytes)
{
    switch (Kind()) {
    case FieldKind::Text: {
        auto& v = table_->writableValue(index_);
        v.written = true;
        v.text = cutText(bytes, MaxLength());
        break;
    }
    case FieldKind::Integer:
    case FieldKind::Boolean: {
        table_->writableValue(index_);  // state check before parsing
        const std::string text = cutText(bytes, static_cast<int>(bytes.size()));
        if (text.empty()) {
            Clear();
            return;
        }
        if (Kind() == FieldKind::Integer)
            SetAsInteger(parseInteger(text));
        else
            SetAsBoolean(parseBoolean(text));
        return;
    }
    }
    table_->notifyRowsChanged(table_->CurrentIndex(), table_->CurrentIndex());
}

void RecordField::SetAsQString(const QString& text)
{
    SetAsString(toCp1250(text));
}

void RecordField::SetAsBoolean(bool value)
{
    switch (Kind()) {
    case FieldKind::Boolean: {
        auto& v = table_->writableValue(index_);
        v.written = true;
        v.integer = value ? 1 : 0;
        break;
    }
    case FieldKind::Integer: SetAsInteger(value ? 1 : 0); return;
    case FieldKind::Text: SetAsString(booleanText(value)); return;
    }
    table_->notifyRowsChanged(table_->CurrentIndex(), table_->CurrentIndex());
}

void RecordField::Clear()
{
    auto& v = table_->writableValue(index_);
    v = {};
    table_->notifyRowsChanged(table_->CurrentIndex(), table_->CurrentIndex());
}

// ---------------------------------------------------------------- RecordTable

RecordTable::RecordTable(std::string name, std::vector<FieldDef> fields, bool filtered)
    : name_(std::move(name)), defs_(std::move(fields)), filtered_(filtered)
{
    fields_.reserve(defs_.size());
    for (size_t i = 0; i < defs_.size(); ++i)
        fields_.push_back(std::unique_ptr<RecordField>(new RecordField(this, static_cast<int>(i))));
    rows_.reserve(static_cast<size_t>(capacity_));
}

RecordTable::~RecordTable() = default;

const FieldDef& RecordTable::FieldDefinition(int index) const
{
    if (index < 0 || index >= FieldCount())
        throw ERecordTableError(name_ + ": Field index " + std::to_string(index) + " out of range");
    return defs_[static_cast<size_t>(index)];
}

RecordField& RecordTable::Field(int index)
{
    if (index < 0 || index >= FieldCount())
        throw ERecordTableError(name_ + ": Field index " + std::to_string(index) + " out of range");
    return *fields_[static_cast<size_t>(index)];
}

int RecordTable::FieldIndex(std::string_view name) const
{
    for (size_t i = 0; i < defs_.size(); ++i) {
        if (sameFieldName(defs_[i].name, name))
            return static_cast<int>(i);
    }
    return -1;
}

RecordField* RecordTable::FindField(std::string_view name)
{
    const int i = FieldIndex(name);
    return i < 0 ? nullptr : fields_[static_cast<size_t>(i)].get();
}

RecordField& RecordTable::FieldByName(std::string_view name)
{
    if (RecordField* f = FindField(name))
        return *f;
    throw ERecordTableError(name_ + ": " + formatMessage("Field '%s' not found", {std::string(name)}));
}

int RecordTable::RecNo() const
{
    if (filtered_)
        return -1;
    if (state_ == TableState::Inserting || current_ < 0)
        return 0;
    return current_ + 1;
}

int64_t RecordTable::CreationNumber() const
{
    if (state_ == TableState::Inserting || current_ < 0)
        return 0;
    return rows_[static_cast<size_t>(current_)].creation;
}

// ---- internal access ----

const RecordTable::Value* RecordTable::currentValue(int field) const
{
    if (field < 0 || field >= FieldCount())
        return nullptr;
    if (buffer_)
        return &buffer_->values[static_cast<size_t>(field)];
    if (current_ < 0 || current_ >= RowCount())
        return nullptr;
    return &rows_[static_cast<size_t>(current_)].values[static_cast<size_t>(field)];
}

RecordTable::Value& RecordTable::writableValue(int field)
{
    if (state_ == TableState::Browsing || !buffer_)
        throw ERecordTableError(kNotEditing);
    return buffer_->values.at(static_cast<size_t>(field));
}

const RecordTable::Row* RecordTable::displayRow(int row) const
{
    if (row < 0)
        return nullptr;
    if (state_ == TableState::Inserting && row == RowCount())
        return buffer_.get();
    if (row >= RowCount())
        return nullptr;
    if (state_ == TableState::Editing && row == current_)
        return buffer_.get();
    return &rows_[static_cast<size_t>(row)];
}

// A cursor move or a structural change while a row is being built stores
// that row first, so nothing the caller wrote is silently lost.
void RecordTable::checkBrowseMode()
{
    if (state_ != TableState::Browsing)
        Post();
}

void RecordTable::makeEmptyFlags()
{
    current_ = -1;
    bof_ = true;
    eof_ = true;
}

// ---- notifications ----

void RecordTable::AddObserver(RecordTableObserver* observer)
{
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void RecordTable::RemoveObserver(RecordTableObserver* observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void RecordTable::notifyRefreshAll()
{
    if (suspendCount_ > 0)
        return;
    const auto list = observers_;
    for (auto* o : list)
        o->refreshAll(*this);
}

void RecordTable::notifyCurrent()
{
    if (suspendCount_ > 0)
        return;
    const auto list = observers_;
    for (auto* o : list)
        o->currentChanged(*this);
}

void RecordTable::notifyRowsChanged(int first, int last)
{
    if (suspendCount_ > 0 || first < 0)
        return;
    const auto list = observers_;
    for (auto* o : list)
        o->rowsChanged(*this, first, last);
}

void RecordTable::notifyRowInserted(int row)
{
    if (suspendCount_ > 0)
        return;
    const auto list = observers_;
    for (auto* o : list)
        o->rowInserted(*this, row);
}

void RecordTable::notifyRowRemoved(int row)
{
    if (suspendCount_ > 0)
        return;
    const auto list = observers_;
    for (auto* o : list)
        o->rowRemoved(*this, row);
}

void RecordTable::notifyShowInMiddle()
{
    if (suspendCount_ > 0) {
        // Delivered with the refresh of the last resume.
        pendingMiddle_ = true;
        return;
    }
    const auto list = observers_;
    for (auto* o : list)
        o->showCurrentInMiddle(*this);
}

void RecordTable::DisableControls()
{
    ++suspendCount_;
}

void RecordTable::EnableControls()
{
    if (suspendCount_ == 0)
        return;
    if (--suspendCount_ > 0)
        return;
    notifyRefreshAll();
    if (pendingMiddle_) {
        pendingMiddle_ = false;
        notifyShowInMiddle();
    }
}

void RecordTable::fireAfterScroll()
{
    if (AfterScroll) {
        // A copy: the handler may replace the table's handler while it runs.
        const AfterScrollHandler handler = AfterScroll;
        handler(*this);
    }
}

void RecordTable::FireAfterScroll()
{
    fireAfterScroll();
}

// ---- navigation ----

void RecordTable::First()
{
    checkBrowseMode();
    if (rows_.empty()) {
        makeEmptyFlags();
    } else {
        current_ = 0;
        bof_ = true;
        eof_ = false;
    }
    notifyCurrent();
    fireAfterScroll();
}

void RecordTable::Last()
{
    checkBrowseMode();
    if (rows_.empty()) {
        makeEmptyFlags();
    } else {
        current_ = RowCount() - 1;
        bof_ = false;
        eof_ = true;
    }
    notifyCurrent();
    fireAfterScroll();
}

void RecordTable::Next()
{
    MoveBy(1);
}

void RecordTable::Prior()
{
    MoveBy(-1);
}

int RecordTable::MoveBy(int distance)
{
    checkBrowseMode();
    if (distance == 0 || (distance > 0 && eof_) || (distance < 0 && bof_))
        return 0;
    if (rows_.empty()) {
        // Both end flags always stand on an empty table; keep it so.
        makeEmptyFlags();
        return 0;
    }
    bof_ = false;
    eof_ = false;
    const int64_t from = std::clamp(current_, 0, RowCount() - 1);
    int64_t to = from + distance;
    if (to > RowCount() - 1) {
        to = RowCount() - 1;
        eof_ = true;
    } else if (to < 0) {
        to = 0;
        bof_ = true;
    }
    current_ = static_cast<int>(to);
    notifyCurrent();
    fireAfterScroll();
    return static_cast<int>(to - from);
}

void RecordTable::GoToRowNumber(int number)
{
    if (!IsNumbered())
        return;
    checkBrowseMode();
    if (number < 1 || number > RowCount())
        return;
    current_ = number - 1;
    bof_ = false;
    eof_ = false;
    notifyCurrent();
}

// ---- editing ----

void RecordTable::Append()
{
    checkBrowseMode();
    auto row = std::make_unique<Row>();
    row->values.resize(defs_.size());
    buffer_ = std::move(row);
    insertReturn_ = current_;
    current_ = -1;
    state_ = TableState::Inserting;
    bof_ = false;
    eof_ = false;
    notifyRowInserted(RowCount());
    notifyCurrent();
    fireAfterScroll();
}

void RecordTable::Edit()
{
    if (state_ != TableState::Browsing)
        return;
    // With no current row there is nothing to change: the state stays
    // browsing, so a following write reports the error instead of creating
    // a row nobody asked for.
    if (current_ < 0 || current_ >= RowCount())
        return;
    buffer_ = std::make_unique<Row>(rows_[static_cast<size_t>(current_)]);
    state_ = TableState::Editing;
    notifyRowsChanged(current_, current_);
}

void RecordTable::Post()
{
    switch (state_) {
    case TableState::Browsing: return;
    case TableState::Inserting: {
        buffer_->creation = nextCreation_++;
        rows_.push_back(std::move(*buffer_));
        buffer_.reset();
        state_ = TableState::Browsing;
        current_ = RowCount() - 1;
        notifyRowsChanged(current_, current_);
        notifyCurrent();
        return;
    }
    case TableState::Editing: {
        auto& row = rows_[static_cast<size_t>(current_)];
        const int64_t creation = row.creation;
        row = std::move(*buffer_);
        row.creation = creation;
        buffer_.reset();
        state_ = TableState::Browsing;
        notifyRowsChanged(current_, current_);
        return;
    }
    }
}

void RecordTable::Cancel()
{
    switch (state_) {
    case TableState::Browsing: return;
    case TableState::Inserting: {
        const int removed = RowCount();
        buffer_.reset();
        state_ = TableState::Browsing;
        if (rows_.empty()) {
            makeEmptyFlags();
        } else {
            current_ = std::clamp(insertReturn_, 0, RowCount() - 1);
            bof_ = false;
            eof_ = false;
        }
        notifyRowRemoved(removed);
        notifyCurrent();
        return;
    }
    case TableState::Editing:
        buffer_.reset();
        state_ = TableState::Browsing;
        notifyRowsChanged(current_, current_);
        return;
    }
}

void RecordTable::Delete()
{
    if (state_ == TableState::Inserting) {
        // The row being built is the current one: dropping it is its deletion.
        Cancel();
        fireAfterScroll();
        return;
    }
    if (state_ == TableState::Editing)
        Cancel();
    if (rows_.empty() || current_ < 0 || current_ >= RowCount())
        return;
    rows_.erase(rows_.begin() + current_);
    if (rows_.empty()) {
        makeEmptyFlags();
        nextCreation_ = 1;
    } else {
        if (current_ >= RowCount())
            current_ = RowCount() - 1;
        bof_ = false;
        eof_ = false;
    }
    notifyRefreshAll();
    fireAfterScroll();
}

void RecordTable::Empty()
{
    buffer_.reset();
    state_ = TableState::Browsing;
    rows_.clear();  // keeps the reserved room
    nextCreation_ = 1;
    makeEmptyFlags();
    insertReturn_ = -1;
    notifyRefreshAll();
}

// ---- sort ----

void RecordTable::sortRows(int field)
{
    const size_t n = rows_.size();
    const auto f = static_cast<size_t>(field);

    // Start from creation order and sort stably by the field: rows equal by
    // the field then keep creation order, which is the tie rule, and the
    // comparisons (the costly part for texts) never look at creation numbers.
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    auto byCreation = [this](int a, int b) {
        return rows_[static_cast<size_t>(a)].creation < rows_[static_cast<size_t>(b)].creation;
    };
    if (!std::is_sorted(order.begin(), order.end(), byCreation))
        std::sort(order.begin(), order.end(), byCreation);

    // rank: 0 never written, 1 written empty text, 2 any other value
    std::vector<uint8_t> rank(n);
    for (size_t i = 0; i < n; ++i) {
        const Value& v = rows_[i].values[f];
        rank[i] = !v.written ? 0 : (defs_[f].kind == FieldKind::Text && v.text.empty()) ? 1 : 2;
    }

    auto sortBy = [&](auto&& valueLess) {
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const auto ua = static_cast<size_t>(a);
            const auto ub = static_cast<size_t>(b);
            if (rank[ua] != rank[ub])
                return rank[ua] < rank[ub];
            return rank[ua] == 2 && valueLess(ua, ub);
        });
    };

    if (defs_[f].kind == FieldKind::Text && collatorIsPlain()) {
        // The C locale: the collator compares code points with case folded,
        // but its sort keys would keep the case. Folded texts as keys give
        // exactly the collator's order.
        std::vector<std::u16string> keys(n);
        for (size_t i = 0; i < n; ++i) {
            if (rank[i] == 2)
                keys[i] = foldedKey(rows_[i].values[f].text);
        }
        sortBy([&](size_t a, size_t b) { return keys[a] < keys[b]; });
    } else if (defs_[f].kind == FieldKind::Text) {
        // Collation keys computed once per row; comparing two keys gives the
        // same result as the locale comparison of the two texts.
        std::vector<QCollatorSortKey> keys;
        keys.reserve(n);
        const QCollatorSortKey emptyKey = localeSortKeyIgnoreCase(QString());
        for (size_t i = 0; i < n; ++i) {
            if (rank[i] == 2)
                keys.push_back(localeSortKeyIgnoreCase(fromCp1250(rows_[i].values[f].text)));
            else
                keys.push_back(emptyKey);
        }
        sortBy([&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
    } else {
        // Integers and booleans (stored as 0/1) compare as signed numbers.
        std::vector<int64_t> vals(n);
        for (size_t i = 0; i < n; ++i)
            vals[i] = rows_[i].values[f].integer;
        sortBy([&](size_t a, size_t b) { return vals[a] < vals[b]; });
    }

    std::vector<Row> sorted;
    sorted.reserve(std::max(n, static_cast<size_t>(capacity_)));
    int newCurrent = -1;
    for (size_t i = 0; i < n; ++i) {
        if (order[i] == current_)
            newCurrent = static_cast<int>(i);
        sorted.push_back(std::move(rows_[static_cast<size_t>(order[i])]));
    }
    rows_.swap(sorted);
    current_ = newCurrent;
}

void RecordTable::SortOnField(std::string_view fieldName)
{
    const int f = FieldByName(fieldName).Index();
    checkBrowseMode();
    if (rows_.empty())
        return;
    if (current_ < 0 || current_ >= RowCount())
        current_ = 0;
    sortRows(f);
    bof_ = false;
    eof_ = false;
    notifyRefreshAll();
    notifyShowInMiddle();
    fireAfterScroll();
}

// ---- locate ----

bool RecordTable::valueEquals(const Value& v, int field, const FieldValue& value) const
{
    if (value.isEmpty())
        return !v.written;
    if (!v.written)
        return false;
    const FieldKind kind = defs_[static_cast<size_t>(field)].kind;
    using K = FieldValue::Kind;
    if (kind == FieldKind::Integer && value.kind() == K::Integer)
        return v.integer == value.asInteger();
    if (kind == FieldKind::Text && value.kind() == K::Text)
        return v.text == value.asText();
    if (kind == FieldKind::Boolean && value.kind() == K::Boolean)
        return (v.integer != 0) == value.asBoolean();
    // Different kinds: compare the texts both show.
    std::string stored = kind == FieldKind::Text      ? v.text
                         : kind == FieldKind::Boolean ? booleanText(v.integer != 0)
                                                      : std::to_string(v.integer);
    std::string wanted = value.kind() == K::Text      ? value.asText()
                         : value.kind() == K::Boolean ? booleanText(value.asBoolean())
                                                      : std::to_string(value.asInteger());
    return stored == wanted;
}

bool RecordTable::Locate(std::string_view fieldName, const FieldValue& value)
{
    const int f = FieldByName(fieldName).Index();
    const auto uf = static_cast<size_t>(f);
    checkBrowseMode();
    if (rows_.empty())
        return false;
    if (current_ < 0 || current_ >= RowCount())
        current_ = 0;

    bool found = valueEquals(rows_[static_cast<size_t>(current_)].values[uf], f, value);
    if (!found) {
        SuspendGuard suspended(*this);
        const int startIndex = current_;
        const int64_t startCreation = rows_[static_cast<size_t>(current_)].creation;
        First();
        while (!eof_) {
            if (current_ >= 0 && current_ < RowCount()
                && valueEquals(rows_[static_cast<size_t>(current_)].values[uf], f, value)) {
                found = true;
                break;
            }
            Next();
        }
        if (!found) {
            // Back to the starting row. The handlers may have changed the
            // table on the way, so find the row by its creation number.
            checkBrowseMode();
            if (rows_.empty()) {
                makeEmptyFlags();
            } else {
                int back = -1;
                if (startIndex < RowCount() && rows_[static_cast<size_t>(startIndex)].creation == startCreation)
                    back = startIndex;
                for (int i = 0; back < 0 && i < RowCount(); ++i) {
                    if (rows_[static_cast<size_t>(i)].creation == startCreation)
                        back = i;
                }
                current_ = back >= 0 ? back : std::clamp(startIndex, 0, RowCount() - 1);
                bof_ = false;
                eof_ = false;
            }
            notifyRefreshAll();
            notifyShowInMiddle();
            fireAfterScroll();
        }
    }
    if (found) {
        notifyCurrent();
        fireAfterScroll();
    }
    return found;
}

// ---- grid access ----

int RecordTable::DisplayRowCount() const
{
    return RowCount() + (state_ == TableState::Inserting ? 1 : 0);
}

int RecordTable::CurrentIndex() const
{
    if (state_ == TableState::Inserting)
        return RowCount();
    return current_;
}

std::string RecordTable::DisplayText(int row, int field) const
{
    const Row* r = displayRow(row);
    if (!r || field < 0 || field >= FieldCount())
        return {};
    const Value& v = r->values[static_cast<size_t>(field)];
    if (!v.written)
        return {};
    switch (defs_[static_cast<size_t>(field)].kind) {
    case FieldKind::Integer: return std::to_string(v.integer);
    case FieldKind::Boolean: return booleanText(v.integer != 0);
    case FieldKind::Text: return v.text;
    }
    return {};
}

QString RecordTable::DisplayQString(int row, int field) const
{
    return fromCp1250(DisplayText(row, field));
}

const RecordTable::Value& RecordTable::postedValue(int row, int field) const
{
    if (row < 0 || row >= RowCount())
        throw ERecordTableError(name_ + ": Row index " + std::to_string(row) + " out of range");
    if (field < 0 || field >= FieldCount())
        throw ERecordTableError(name_ + ": Field index " + std::to_string(field) + " out of range");
    return rows_[static_cast<size_t>(row)].values[static_cast<size_t>(field)];
}

bool RecordTable::RowIsNull(int row, int field) const
{
    return !postedValue(row, field).written;
}

int64_t RecordTable::RowInteger(int row, int field) const
{
    const Value& v = postedValue(row, field);
    return v.written ? v.integer : 0;
}

const std::string& RecordTable::RowText(int row, int field) const
{
    static const std::string empty;
    const Value& v = postedValue(row, field);
    return v.written ? v.text : empty;
}

int64_t RecordTable::RowCreationNumber(int row) const
{
    if (row < 0 || row >= RowCount())
        throw ERecordTableError(name_ + ": Row index " + std::to_string(row) + " out of range");
    return rows_[static_cast<size_t>(row)].creation;
}
