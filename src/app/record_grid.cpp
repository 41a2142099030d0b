// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/record_grid.h"

#include "app/column_fit.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

// ---- model ----

RecordTableModel::RecordTableModel(RecordTable& table, std::vector<int> fieldIndexes, QObject* parent)
    : QAbstractTableModel(parent), table_(table), fields_(std::move(fieldIndexes))
{
    rows_ = table_.DisplayRowCount();
    current_ = table_.CurrentIndex();
    table_.AddObserver(this);
}

RecordTableModel::~RecordTableModel()
{
    detach();
}

void RecordTableModel::detach()
{
    if (attached_) {
        table_.RemoveObserver(this);
        attached_ = false;
    }
}

int RecordTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int RecordTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !attached_)
        return {};
    const int field = fieldIndex(index.column());
    switch (role) {
    case Qt::DisplayRole:
        // While updates are suspended the table may hold fewer rows than shown.
        if (index.row() >= table_.DisplayRowCount())
            return QString();
        return table_.DisplayQString(index.row(), field);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignVCenter | (table_.IsRightAligned(field) ? Qt::AlignRight : Qt::AlignLeft));
    default: return {};
    }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromStdString(table_.FieldDefinition(fieldIndex(section)).name);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter | Qt::AlignLeft);
    return {};
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void RecordTableModel::refreshAll(RecordTable& table)
{
    beginResetModel();
    rows_ = table.DisplayRowCount();
    current_ = table.CurrentIndex();
    endResetModel();
    emit rowsReset();
    emit cursorMoved();
}

void RecordTableModel::rowInserted(RecordTable& table, int row)
{
    if (row != rows_ || table.DisplayRowCount() != rows_ + 1) {
        refreshAll(table);
        return;
    }
    beginInsertRows(QModelIndex(), row, row);
    ++rows_;
    endInsertRows();
    current_ = table.CurrentIndex();
    emit cursorMoved();
}

void RecordTableModel::rowsChanged(RecordTable& table, int firstRow, int lastRow)
{
    if (table.DisplayRowCount() != rows_) {
        refreshAll(table);
        return;
    }
    firstRow = std::max(firstRow, 0);
    lastRow = std::min(lastRow, rows_ - 1);
    if (firstRow <= lastRow)
        emit dataChanged(index(firstRow, 0), index(lastRow, columnCount() - 1));
    if (current_ != table.CurrentIndex()) {
        current_ = table.CurrentIndex();
        emit cursorMoved();
    }
}

void RecordTableModel::currentChanged(RecordTable& table)
{
    if (table.DisplayRowCount() != rows_) {
        refreshAll(table);
        return;
    }
    current_ = table.CurrentIndex();
    emit cursorMoved();
}

void RecordTableModel::showCurrentInMiddle(RecordTable& table)
{
    current_ = table.CurrentIndex();
    emit centreRequested();
}

// ---- delegate ----

RecordGridDelegate::RecordGridDelegate(RecordGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

void RecordGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool current = index.row() == grid_->shownCurrentRow();
    const bool focused = current && index.column() == grid_->focusedColumn() && grid_->hasFocus();
    const bool marked = grid_->isMarked(index.row());
    QColor background = RecordGrid::kBackground;
    QColor text = option.palette.color(QPalette::Active, QPalette::Text);
    if (focused) {
        background = option.palette.color(QPalette::Active, QPalette::Highlight);
        text = option.palette.color(QPalette::Active, QPalette::HighlightedText);
    } else if (current) {
        background = RecordGrid::kCurrentRow;
    } else if (marked) {
        background = RecordGrid::kMarkedRow;
    }
    painter->save();
    painter->fillRect(option.rect, background);
    if (current && marked) {
        // The current row keeps its colour; lines above and below it say
        // that it is marked too.
        painter->fillRect(QRect(option.rect.left(), option.rect.top(), option.rect.width(), 2),
                          RecordGrid::kMarkedFrame);
        painter->fillRect(QRect(option.rect.left(), option.rect.bottom() - 1, option.rect.width(), 2),
                          RecordGrid::kMarkedFrame);
    }
    painter->setPen(text);
    painter->setFont(option.font);
    const auto align = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
    painter->setClipRect(option.rect);
    const QRect textRect = option.rect.adjusted(2, 0, -2, 0);
    // A number too wide for its column shows that digits are missing.
    const QString shown = fitCellText(index.data(Qt::DisplayRole).toString(), QFontMetrics(option.font),
                                      textRect.width(), align.testFlag(Qt::AlignRight));
    painter->drawText(textRect, int(align | Qt::TextSingleLine), shown);
    painter->restore();
}

// ---- grid ----

const QColor RecordGrid::kBackground(0xFF, 0xFB, 0xF0);
const QColor RecordGrid::kCurrentRow(0x00, 0xFF, 0xFF);
const QColor RecordGrid::kMarkedRow(0xC4, 0xD4, 0xF4);
const QColor RecordGrid::kMarkedFrame(0x30, 0x50, 0xB0);

namespace {
std::vector<int> fieldIndexesOf(RecordTable& table, const std::vector<GridColumn>& columns)
{
    std::vector<int> indexes;
    for (const GridColumn& c : columns)
        indexes.push_back(table.FieldByName(c.field).Index());
    return indexes;
}
}  // namespace

RecordGrid::RecordGrid(RecordTable& table, std::vector<GridColumn> columns, QWidget* parent)
    : QTableView(parent), columns_(std::move(columns))
{
    model_ = new RecordTableModel(table, fieldIndexesOf(table, columns_), this);
    setModel(model_);
    setItemDelegate(new RecordGridDelegate(this));

    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setAutoScroll(false);
    setDragEnabled(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setSortingEnabled(false);
    setFocusPolicy(Qt::StrongFocus);
    setShowGrid(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    QPalette pal = palette();
    pal.setColor(QPalette::Base, kBackground);
    setPalette(pal);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->installEventFilter(this);
    header->viewport()->installEventFilter(this);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
        runHandler([&] {
            if (titleClick_)
                titleClick_(column);
        });
    });
    connect(header, &QHeaderView::sectionResized, this, &RecordGrid::onSectionResized);

    nav_ = new QScrollBar(Qt::Vertical, this);
    nav_->setFocusPolicy(Qt::NoFocus);
    nav_->setContextMenuPolicy(Qt::NoContextMenu);
    nav_->installEventFilter(this);
    connect(nav_, &QScrollBar::actionTriggered, this, &RecordGrid::onScrollAction);
    connect(nav_, &QScrollBar::sliderReleased, this, &RecordGrid::onScrollReleased);

    connect(model_, &RecordTableModel::cursorMoved, this, &RecordGrid::followCurrent);
    connect(model_, &RecordTableModel::centreRequested, this, &RecordGrid::centreCurrent);
    connect(model_, &RecordTableModel::rowsReset, this, &RecordGrid::pruneMarks);
    // The cell being edited belongs to the row that was current.
    connect(model_, &RecordTableModel::rowsReset, this, &RecordGrid::closeCellEditor);
    connect(model_, &RecordTableModel::cursorMoved, this, [this] {
        if (editor_ && model_->table().CurrentIndex() != editRow_)
            closeCellEditor();
    });

    std::vector<int> design;
    for (const GridColumn& c : columns_)
        design.push_back(c.designWidth);
    applyColumnWidths(design);
    updateRowHeight();
    syncNavigationBar();
}

RecordGrid::~RecordGrid()
{
    model_->detach();
}

void RecordGrid::runHandler(const std::function<void()>& handler)
{
    runInGuard(guard_, handler);
}

int RecordGrid::visibleRowCount() const
{
    return std::max(1, viewport()->height() / std::max(1, rowHeight_));
}

int RecordGrid::topRow() const
{
    return model_->rowCount() > 0 ? topRow_ : -1;
}

int RecordGrid::bottomRow() const
{
    const int rows = model_->rowCount();
    if (rows == 0)
        return -1;
    return std::min(topRow_ + visibleRowCount() - 1, rows - 1);
}

int RecordGrid::clientWidth() const
{
    return viewport()->width();
}

std::vector<int> RecordGrid::columnWidths() const
{
    std::vector<int> widths;
    const int line = showGrid() ? 1 : 0;
    for (int i = 0; i < model_->columnCount(); ++i)
        widths.push_back(horizontalHeader()->sectionSize(i) - line);
    return widths;
}

void RecordGrid::applyColumnWidths(const std::vector<int>& widths)
{
    const int line = showGrid() ? 1 : 0;
    settingWidths_ = true;
    for (int i = 0; i < static_cast<int>(widths.size()); ++i)
        horizontalHeader()->resizeSection(i, widths[static_cast<size_t>(i)] + line);
    settingWidths_ = false;
}

void RecordGrid::fitColumns()
{
    const int width = clientWidth();
    if (width == fittedWidth_)
        return;
    fittedWidth_ = width;
    std::vector<int> design;
    for (const GridColumn& c : columns_)
        design.push_back(c.designWidth);
    applyColumnWidths(fitColumnWidths(design, width));
}

void RecordGrid::onSectionResized(int logical, int oldSize, int newSize)
{
    if (settingWidths_ || oldSize == newSize)
        return;
    // The user dragged a title border: the column to the right gives or
    // takes the difference, so the columns keep filling the grid.
    const int line = showGrid() ? 1 : 0;
    std::vector<int> widths = columnWidths();
    widths[static_cast<size_t>(logical)] = oldSize - line;
    widths = resizeColumnAgainstNext(widths, logical, newSize - line, 0);
    applyColumnWidths(widths);
}

void RecordGrid::updateRowHeight()
{
    rowHeight_ = fontMetrics().height() + 4;
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(rowHeight_);
    horizontalHeader()->setFixedHeight(rowHeight_ + 2);
}

void RecordGrid::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateRowHeight();
        updateGeometries();
    }
}

void RecordGrid::updateGeometries()
{
    if (inGeometry_)
        return;
    if (!nav_) {
        // Still being built: setModel() lays out before our scroll bar exists.
        QTableView::updateGeometries();
        return;
    }
    inGeometry_ = true;
    QTableView::updateGeometries();
    // The scroll bar the user sees is ours: it stands right of the cells and
    // the titles, over the grid's full height, and reports the table's cursor
    // instead of the scrolled offset.
    const int barWidth = nav_->sizeHint().width();
    const int headerHeight = horizontalHeader()->isHidden() ? 0 : horizontalHeader()->height();
    setViewportMargins(0, headerHeight, barWidth, 0);
    const QRect vg = viewport()->geometry();
    horizontalHeader()->setGeometry(vg.left(), vg.top() - headerHeight, vg.width(), headerHeight);
    const QRect cr = contentsRect();
    nav_->setGeometry(cr.right() - barWidth + 1, cr.top(), barWidth, cr.height());
    fitColumns();
    applyTopRow();
    syncNavigationBar();
    inGeometry_ = false;
}

// ---- marks ----

void RecordGrid::setSeveralRowsAllowed(bool allowed)
{
    several_ = allowed;
    if (!allowed)
        clearMarks();
}

int64_t RecordGrid::creationOfRow(int row) const
{
    RecordTable& t = table();
    return row >= 0 && row < t.RowCount() ? t.RowCreationNumber(row) : 0;
}

int RecordGrid::rowOfCreation(int64_t creation) const
{
    RecordTable& t = table();
    for (int r = 0; r < t.RowCount(); ++r)
        if (t.RowCreationNumber(r) == creation)
            return r;
    return -1;
}

bool RecordGrid::isMarked(int row) const
{
    return !marked_.empty() && marked_.count(creationOfRow(row)) > 0;
}

std::vector<int> RecordGrid::markedRows() const
{
    std::vector<int> rows;
    if (marked_.empty())
        return rows;
    RecordTable& t = table();
    for (int r = 0; r < t.RowCount(); ++r)
        if (marked_.count(t.RowCreationNumber(r)))
            rows.push_back(r);
    return rows;
}

std::vector<int> RecordGrid::chosenRows() const
{
    std::vector<int> rows = markedRows();
    if (rows.empty() && table().CurrentIndex() >= 0 && table().CurrentIndex() < table().RowCount())
        rows.push_back(table().CurrentIndex());
    return rows;
}

void RecordGrid::clearMarks()
{
    anchor_ = creationOfRow(table().CurrentIndex());
    if (marked_.empty())
        return;
    marked_.clear();
    notifyMarks();
}

void RecordGrid::markAll()
{
    RecordTable& t = table();
    for (int r = 0; r < t.RowCount(); ++r)
        marked_.insert(t.RowCreationNumber(r));
    notifyMarks();
}

void RecordGrid::markRange(int64_t anchor)
{
    const int a = rowOfCreation(anchor);
    const int b = table().CurrentIndex();
    marked_.clear();
    if (a >= 0 && b >= 0)
        for (int r = std::min(a, b); r <= std::max(a, b) && r < table().RowCount(); ++r)
            marked_.insert(table().RowCreationNumber(r));
}

void RecordGrid::marksAfterMove(int64_t from, Qt::KeyboardModifiers modifiers)
{
    if (!several_)
        return;
    if (modifiers & Qt::ShiftModifier) {
        if (anchor_ == 0 || rowOfCreation(anchor_) < 0)
            anchor_ = from;
        markRange(anchor_);
        notifyMarks();
    } else if (!(modifiers & Qt::ControlModifier)) {
        clearMarks();
    }
}

void RecordGrid::pruneMarks()
{
    if (marked_.empty())
        return;
    std::set<int64_t> present;
    RecordTable& t = table();
    for (int r = 0; r < t.RowCount(); ++r)
        if (marked_.count(t.RowCreationNumber(r)))
            present.insert(t.RowCreationNumber(r));
    if (present.size() == marked_.size())
        return;
    marked_ = std::move(present);
    notifyMarks();
}

void RecordGrid::notifyMarks()
{
    viewport()->update();
    if (marksChanged_)
        marksChanged_();
}

// ---- cell editor ----

void RecordGrid::editCurrentCell(int column, const QString& text, std::function<void(const QString&)> commit)
{
    closeCellEditor();
    const int row = table().CurrentIndex();
    if (row < 0 || column < 0 || column >= model_->columnCount())
        return;
    editRow_ = row;
    editColumn_ = column;
    commitEdit_ = std::move(commit);
    editor_ = new QLineEdit(viewport());
    editor_->setObjectName(QStringLiteral("CellEditor"));
    editor_->setFrame(false);
    editor_->setFont(font());
    editor_->setText(text);
    editor_->selectAll();
    editor_->installEventFilter(this);
    placeCellEditor();
    editor_->show();
    editor_->setFocus(Qt::OtherFocusReason);
}

void RecordGrid::placeCellEditor()
{
    if (editor_)
        editor_->setGeometry(visualRect(model_->index(editRow_, editColumn_)));
}

void RecordGrid::closeCellEditor()
{
    if (!editor_)
        return;
    QLineEdit* editor = editor_;
    editor_ = nullptr;
    commitEdit_ = nullptr;
    editRow_ = -1;
    const bool hadFocus = editor->hasFocus();
    editor->removeEventFilter(this);
    editor->hide();
    editor->deleteLater();
    if (hadFocus)
        setFocus(Qt::OtherFocusReason);
}

void RecordGrid::applyTopRow()
{
    const int rows = model_->rowCount();
    const int maxTop = std::max(0, rows - visibleRowCount());
    topRow_ = std::clamp(topRow_, 0, maxTop);
    QScrollBar* inner = verticalScrollBar();
    inner->setRange(0, maxTop);
    inner->setValue(topRow_);
    viewport()->update();
    placeCellEditor();
}

void RecordGrid::followCurrent()
{
    const int current = model_->shownCurrentRow();
    const int visible = visibleRowCount();
    if (current >= 0) {
        if (current < topRow_)
            topRow_ = current;
        else if (current >= topRow_ + visible)
            topRow_ = current - visible + 1;
    }
    applyTopRow();
    syncNavigationBar();
}

void RecordGrid::centreCurrent()
{
    const int current = model_->shownCurrentRow();
    if (current >= 0)
        topRow_ = current - (visibleRowCount() - 1) / 2;
    applyTopRow();
    syncNavigationBar();
}

void RecordGrid::syncNavigationBar()
{
    RecordTable& t = table();
    const QSignalBlocker block(nav_);
    if (t.IsNumbered()) {
        // Numbered: the range covers the rows, the thumb stands at the row number.
        nav_->setRange(1, std::max(1, model_->rowCount()));
        nav_->setPageStep(visibleRowCount());
        nav_->setSingleStep(1);
        nav_->setValue(std::max(1, t.RecNo()));
    } else {
        // Not numbered: top while before the first row, bottom while past
        // the end, the middle otherwise.
        nav_->setRange(0, 4);
        nav_->setPageStep(1);
        nav_->setSingleStep(1);
        nav_->setValue(t.Bof() ? 0 : t.Eof() ? 4 : 2);
    }
}

void RecordGrid::moveBy(int distance)
{
    if (distance != 0)
        table().MoveBy(distance);
}

void RecordGrid::moveToVisibleRow(int row)
{
    const int current = table().CurrentIndex();
    if (row < 0 || current < 0)
        return;
    moveBy(row - current);
}

void RecordGrid::setFocusedColumn(int column)
{
    const int last = model_->columnCount() - 1;
    focusedColumn_ = std::clamp(column, 0, std::max(0, last));
    viewport()->update();
}

void RecordGrid::onScrollAction(int action)
{
    RecordTable& t = table();
    const bool numbered = t.IsNumbered();
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        // The row just above the topmost visible row.
        runHandler([&] {
            if (t.CurrentIndex() >= 0)
                t.MoveBy(topRow_ - t.CurrentIndex() - 1);
        });
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        // The row just below the lowest visible row.
        runHandler([&] {
            if (t.CurrentIndex() >= 0)
                t.MoveBy(bottomRow() - t.CurrentIndex() + 1);
        });
        break;
    case QAbstractSlider::SliderPageStepSub: runHandler([&] { t.MoveBy(-visibleRowCount()); }); break;
    case QAbstractSlider::SliderPageStepAdd: runHandler([&] { t.MoveBy(visibleRowCount()); }); break;
    case QAbstractSlider::SliderToMinimum: runHandler([&] { t.First(); }); break;
    case QAbstractSlider::SliderToMaximum: runHandler([&] { t.Last(); }); break;
    case QAbstractSlider::SliderMove:
        if (!numbered)
            return;  // acted on when the thumb is released
        {
            const int number = nav_->sliderPosition();
            runHandler([&] {
                if (number >= 1 && number <= t.RowCount()) {
                    t.GoToRowNumber(number);
                    t.FireAfterScroll();
                }
            });
        }
        break;
    default: break;
    }
    syncNavigationBar();
}

void RecordGrid::onScrollReleased()
{
    RecordTable& t = table();
    if (t.IsNumbered())
        return;
    const int position = nav_->sliderPosition();
    runHandler([&] {
        switch (position) {
        case 0: t.First(); break;
        case 1: t.MoveBy(-visibleRowCount()); break;
        case 3: t.MoveBy(visibleRowCount()); break;
        case 4: t.Last(); break;
        default: break;
        }
    });
    syncNavigationBar();
}

void RecordGrid::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool ctrl = modifiers & Qt::ControlModifier;
    const int lastColumn = std::max(0, model_->columnCount() - 1);
    RecordTable& t = table();
    const int64_t from = creationOfRow(t.CurrentIndex());
    bool handled = true;
    bool moving = false;  // a key that moves among the rows
    switch (event->key()) {
    case Qt::Key_Up:
        moving = true;
        runHandler([&] {
            if (ctrl)
                moveToVisibleRow(topRow());
            else
                t.MoveBy(-1);
        });
        break;
    case Qt::Key_Down:
        moving = true;
        runHandler([&] {
            if (ctrl)
                moveToVisibleRow(bottomRow());
            else
                t.MoveBy(1);
        });
        break;
    case Qt::Key_PageUp:
        moving = true;
        runHandler([&] {
            if (ctrl)
                moveToVisibleRow(topRow());
            else
                t.MoveBy(-visibleRowCount());
        });
        break;
    case Qt::Key_PageDown:
        moving = true;
        runHandler([&] {
            if (ctrl)
                moveToVisibleRow(bottomRow());
            else
                t.MoveBy(visibleRowCount());
        });
        break;
    case Qt::Key_Home:
        if (ctrl) {
            moving = true;
            runHandler([&] { t.First(); });
        } else {
            setFocusedColumn(0);
        }
        break;
    case Qt::Key_End:
        if (ctrl) {
            moving = true;
            runHandler([&] { t.Last(); });
        } else {
            setFocusedColumn(lastColumn);
        }
        break;
    case Qt::Key_Left: setFocusedColumn(focusedColumn_ - 1); break;
    case Qt::Key_Right: setFocusedColumn(focusedColumn_ + 1); break;
    case Qt::Key_Tab:
        if (focusedColumn_ < lastColumn) {
            setFocusedColumn(focusedColumn_ + 1);
        } else {
            setFocusedColumn(0);
            runHandler([&] { t.MoveBy(1); });
        }
        break;
    case Qt::Key_Backtab:
        if (focusedColumn_ > 0) {
            setFocusedColumn(focusedColumn_ - 1);
        } else {
            setFocusedColumn(lastColumn);
            runHandler([&] { t.MoveBy(-1); });
        }
        break;
    case Qt::Key_Delete:
        if (!ctrl) {
            // Shift+Delete: the owner's command (the list's own Ctrl+Delete
            // stays as it is).
            handled = removeRequested_ && (modifiers & ~Qt::KeypadModifier) == Qt::ShiftModifier;
            if (handled)
                runHandler(removeRequested_);
            break;
        }
        runHandler([&] {
            if (t.IsEmpty())
                return;
            if (confirmDelete_ && !confirmDelete_())
                return;
            t.Delete();
            if (afterDelete_)
                afterDelete_();
        });
        break;
    case Qt::Key_F2:
        handled = editRequested_ && (modifiers & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (handled)
            runHandler(editRequested_);
        break;
    case Qt::Key_A:
        // Ctrl+A marks every row.
        handled = several_ && modifiers == Qt::ControlModifier;
        if (handled)
            markAll();
        break;
    case Qt::Key_Space:
        // Ctrl+Space marks or unmarks the current row.
        handled = several_ && modifiers == Qt::ControlModifier && from != 0;
        if (handled) {
            if (!marked_.erase(from))
                marked_.insert(from);
            anchor_ = from;
            notifyMarks();
        }
        break;
    case Qt::Key_Escape:
        handled = several_ && !marked_.empty() && modifiers == Qt::NoModifier;
        if (handled)
            clearMarks();
        break;
    default: handled = false; break;
    }
    if (moving)
        marksAfterMove(from, modifiers);
    if (handled)
        event->accept();
    else
        event->ignore();
}

void RecordGrid::handleWheel(QWheelEvent* event)
{
    wheelRemainder_ += event->angleDelta().y();
    runHandler([&] {
        // One table move per notch; a notch up moves back.
        while (wheelRemainder_ >= QWheelEvent::DefaultDeltasPerStep) {
            wheelRemainder_ -= QWheelEvent::DefaultDeltasPerStep;
            table().MoveBy(-1);
        }
        while (wheelRemainder_ <= -QWheelEvent::DefaultDeltasPerStep) {
            wheelRemainder_ += QWheelEvent::DefaultDeltasPerStep;
            table().MoveBy(1);
        }
    });
    event->accept();
}

void RecordGrid::wheelEvent(QWheelEvent* event)
{
    handleWheel(event);
}

void RecordGrid::mousePressEvent(QMouseEvent* event)
{
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos.y());
    const int column = columnAt(pos.x());
    if (row < 0 || column < 0) {
        event->accept();
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int64_t from = creationOfRow(table().CurrentIndex());
    setFocusedColumn(column);
    runHandler([&] { moveToVisibleRow(row); });
    if (several_ && (modifiers & Qt::ControlModifier) && !(modifiers & Qt::ShiftModifier)) {
        // Ctrl+click: the row joins the marks or leaves them; the row that
        // was current is marked first when nothing was.
        const int64_t clicked = creationOfRow(row);
        if (marked_.empty() && from != 0 && from != clicked)
            marked_.insert(from);
        if (clicked != 0 && !marked_.erase(clicked))
            marked_.insert(clicked);
        anchor_ = clicked;
        notifyMarks();
    } else {
        marksAfterMove(from, modifiers);
    }
    event->accept();
}

void RecordGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is a press like the first.
    mousePressEvent(event);
}

void RecordGrid::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void RecordGrid::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void RecordGrid::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    viewport()->update();
}

void RecordGrid::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
}

bool RecordGrid::focusNextPrevChild(bool)
{
    // Tab and Shift+Tab move among the columns (keyPressEvent), never
    // out of the grid.
    return false;
}

bool RecordGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (editor_ && watched == editor_) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                const QString text = editor_->text();
                std::function<void(const QString&)> commit = commitEdit_;
                closeCellEditor();
                if (commit)
                    runHandler([&] { commit(text); });
                return true;
            }
            if (key->key() == Qt::Key_Escape) {
                closeCellEditor();
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            // Leaving the editor (not the window) drops what was typed.
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                QTimer::singleShot(0, this, [this] { closeCellEditor(); });
        }
        return false;
    }
    if (event->type() == QEvent::Wheel
        && (watched == nav_ || watched == horizontalHeader() || watched == horizontalHeader()->viewport())) {
        handleWheel(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QTableView::eventFilter(watched, event);
}
