// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The grid view of a RecordTable.
//
// RecordTableModel adapts a table to Qt's model interface through the table's
// observer channel. RecordGrid shows it and turns every key, wheel notch,
// click and scroll-bar action into the table operation it stands for, so the
// table's AfterScroll event fires exactly as for any other cursor move. The
// grid never keeps a cursor of its own: it follows the table's current row.
#include "platform/handler_guard.h"
#include "tables/record_table.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include <functional>
#include <set>
#include <string>
#include <vector>

class QLineEdit;
class QScrollBar;

// A column of a grid: the field it shows and its width at design size.
struct GridColumn {
    std::string field;
    int designWidth = 64;
};

class RecordTableModel : public QAbstractTableModel, public RecordTableObserver {
    Q_OBJECT
public:
    RecordTableModel(RecordTable& table, std::vector<int> fieldIndexes, QObject* parent = nullptr);
    ~RecordTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    RecordTable& table() const { return table_; }
    int fieldIndex(int column) const { return fields_.at(static_cast<size_t>(column)); }
    // The current row as the grid last heard of it (-1 when none). Lags the
    // table while its grid updates are suspended.
    int shownCurrentRow() const { return current_; }

    // Stops listening to the table (before the table goes away).
    void detach();

    // RecordTableObserver
    void refreshAll(RecordTable& table) override;
    void rowInserted(RecordTable& table, int row) override;
    void rowsChanged(RecordTable& table, int firstRow, int lastRow) override;
    void currentChanged(RecordTable& table) override;
    void showCurrentInMiddle(RecordTable& table) override;

signals:
    // Every row may have changed (emptied, sorted, deleted, refilled).
    void rowsReset();
    // The current row or the end flags changed: follow them.
    void cursorMoved();
    // Show the current row in the middle of the visible rows.
    void centreRequested();

private:
    RecordTable& table_;
    std::vector<int> fields_;
    bool attached_ = true;
    int rows_ = 0;
    int current_ = -1;
};

class RecordGrid;

// Paints the cells: grid background, the current row in cyan and the focused
// cell in the system's highlight colours.
class RecordGridDelegate : public QStyledItemDelegate {
public:
    explicit RecordGridDelegate(RecordGrid* grid);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    RecordGrid* grid_;
};

class RecordGrid : public QTableView {
    Q_OBJECT
public:
    static const QColor kBackground;   // #FFFBF0
    static const QColor kCurrentRow;   // #00FFFF
    static const QColor kMarkedRow;    // a marked row that is not the current one
    static const QColor kMarkedFrame;  // the lines above and below a marked current row

    RecordGrid(RecordTable& table, std::vector<GridColumn> columns, QWidget* parent = nullptr);
    ~RecordGrid() override;

    RecordTable& table() const { return model_->table(); }
    RecordTableModel* recordModel() const { return model_; }
    const std::vector<GridColumn>& gridColumns() const { return columns_; }
    const std::string& columnField(int column) const { return columns_.at(static_cast<size_t>(column)).field; }

    // Every user-initiated action of the grid runs inside this guard (the
    // main window's error box guard); without one, inside the application's.
    void setGuard(HandlerGuard guard) { guard_ = std::move(guard); }
    // Asked before Ctrl+Delete deletes the current row; true = delete.
    void setDeleteConfirmation(std::function<bool()> confirm) { confirmDelete_ = std::move(confirm); }
    // Runs after Ctrl+Delete has deleted a row (inside the guard).
    void setAfterUserDelete(std::function<void()> handler) { afterDelete_ = std::move(handler); }
    // Shift+Delete (without Ctrl) and F2: what the grid's owner does with
    // them (inside the guard); without a handler the keys do nothing.
    void setRemoveRequested(std::function<void()> handler) { removeRequested_ = std::move(handler); }
    void setEditRequested(std::function<void()> handler) { editRequested_ = std::move(handler); }
    // A click on column title `column` (inside the guard).
    void setTitleClickHandler(std::function<void(int column)> handler) { titleClick_ = std::move(handler); }

    // Rows that fit wholly in the grid's client area (at least 1).
    int visibleRowCount() const;
    // Topmost and lowest visible rows (0-based table order); -1 when there are no rows.
    int topRow() const;
    int bottomRow() const;
    int shownCurrentRow() const { return model_->shownCurrentRow(); }
    int focusedColumn() const { return focusedColumn_; }
    int rowHeightPx() const { return rowHeight_; }
    // Width of the area the columns fill (the client width).
    int clientWidth() const;
    // Widths of the columns, without their line pixel.
    std::vector<int> columnWidths() const;
    // The vertical scroll bar the user works with.
    QScrollBar* navigationBar() const { return nav_; }

    void detachFromTable() { model_->detach(); }

    // ---- several rows marked ----
    // In a grid that allows it, several rows can be marked for a command,
    // beside the table's current row, which every click and key moves exactly
    // as in a grid without marks. Ctrl+click marks or unmarks the clicked row
    // (the current row is marked first when none is), Shift+click and a
    // moving key with Shift mark the rows from the anchor (where the marking
    // began) to the new current row, Ctrl+Space marks or unmarks the current
    // row, Ctrl+A marks every row and Esc none. A click or a moving key
    // without Ctrl or Shift leaves no row marked; the wheel, the scroll bar
    // and moves made by the program keep the marks. Rows are marked by their
    // creation number, so a sort keeps them; rows that go are unmarked.
    void setSeveralRowsAllowed(bool allowed);
    bool severalRowsAllowed() const { return several_; }
    // The marked rows (0-based, table order); none when no row is marked.
    std::vector<int> markedRows() const;
    // The rows a command works on: the marked rows, or else the current row.
    std::vector<int> chosenRows() const;
    bool isMarked(int row) const;
    void clearMarks();
    void markAll();
    // Called whenever the marks change.
    void setMarksChanged(std::function<void()> handler) { marksChanged_ = std::move(handler); }

    // ---- one cell edited in place ----
    // Opens an editor over the current row's cell in `column` holding `text`,
    // all of it selected. Enter closes it and hands the text to `commit`
    // (inside the guard); Esc, a click elsewhere, a cursor move, a refresh of
    // the rows or a resize close it without.
    void editCurrentCell(int column, const QString& text, std::function<void(const QString&)> commit);
    // The open editor, or nullptr.
    QLineEdit* cellEditor() const { return editor_; }
    void closeCellEditor();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void updateGeometries() override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void runHandler(const std::function<void()>& handler);
    void moveBy(int distance);
    void moveToVisibleRow(int row);
    void onScrollAction(int action);
    void onScrollReleased();
    void onSectionResized(int logical, int oldSize, int newSize);
    void handleWheel(QWheelEvent* event);
    void followCurrent();
    void centreCurrent();
    void applyTopRow();
    void syncNavigationBar();
    void fitColumns();
    void applyColumnWidths(const std::vector<int>& widths);
    void updateRowHeight();
    void setFocusedColumn(int column);
    // The marks after a move made by the user from the row whose creation
    // number is `from`, with these modifiers.
    void marksAfterMove(int64_t from, Qt::KeyboardModifiers modifiers);
    void markRange(int64_t anchor);
    int rowOfCreation(int64_t creation) const;
    int64_t creationOfRow(int row) const;
    void pruneMarks();
    void notifyMarks();
    void placeCellEditor();

    std::vector<GridColumn> columns_;
    RecordTableModel* model_ = nullptr;
    QScrollBar* nav_ = nullptr;
    HandlerGuard guard_;
    std::function<bool()> confirmDelete_;
    std::function<void()> afterDelete_;
    std::function<void(int)> titleClick_;
    std::function<void()> removeRequested_;
    std::function<void()> editRequested_;
    int topRow_ = 0;
    int focusedColumn_ = 0;
    int rowHeight_ = 17;
    int fittedWidth_ = -1;
    int wheelRemainder_ = 0;
    bool inGeometry_ = false;
    bool settingWidths_ = false;
    bool several_ = false;
    std::set<int64_t> marked_;  // creation numbers
    int64_t anchor_ = 0;        // creation number of the row marking began at; 0 = none
    std::function<void()> marksChanged_;
    QLineEdit* editor_ = nullptr;
    int editColumn_ = 0;
    int editRow_ = -1;
    std::function<void(const QString&)> commitEdit_;
};
