// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window's toolbar strip: flat tool buttons and separators laid out
// left to right, wrapping onto further rows when the strip is too narrow.
#include <QIcon>
#include <QToolButton>
#include <QWidget>

#include <vector>

class WrapToolBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kButtonHeight = 22;
    static constexpr int kSeparatorWidth = 8;
    static constexpr int kMargin = 2;

    explicit WrapToolBar(QWidget* parent = nullptr);

    // Adds a flat button; with an empty caption it shows the icon only.
    QToolButton* addButton(const QIcon& icon, const QString& caption, const QString& toolTip);
    void addSeparator();
    // Appends an already made button (for buttons of a class of their own).
    void addWidget(QToolButton* button);
    // Appends another control (a label, a spin box), as wide as it asks to be.
    void addControl(QWidget* control);

    // Height the strip needs at `width` (one row: 26).
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int rowCount() const { return rows_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Item {
        QToolButton* button = nullptr;  // nullptr for a separator or a control
        QWidget* control = nullptr;     // a control other than a button
    };
    int itemWidth(const Item& item) const;
    // Places the items for `width` (when `apply`) and returns the row count.
    int layoutItems(int width, bool apply);

    std::vector<Item> items_;
    int rows_ = 1;
};

// A toggle button that changes its down state only when told (its click
// handler toggles it), so a handler called directly behaves like a click.
class ToggleToolButton : public QToolButton {
    Q_OBJECT
public:
    using QToolButton::QToolButton;

protected:
    void nextCheckState() override {}
};

// The 16 x 16 toolbar icons, drawn in code.
QIcon exitIcon();
QIcon openIcon();
QIcon saveTgaIcon();
QIcon fitHeightIcon();
QIcon importIcon();
QIcon archiveIcon();
QIcon undoIcon();
QIcon redoIcon();
