// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/tool_bar.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QResizeEvent>

#include <algorithm>

WrapToolBar::WrapToolBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFixedHeight(kButtonHeight + 2 * kMargin);
}

QToolButton* WrapToolBar::addButton(const QIcon& icon, const QString& caption, const QString& toolTip)
{
    auto* button = new QToolButton(this);
    button->setIcon(icon);
    if (!caption.isEmpty())
        button->setText(caption);
    if (!toolTip.isEmpty())
        button->setToolTip(toolTip);
    addWidget(button);
    return button;
}

void WrapToolBar::addWidget(QToolButton* button)
{
    button->setParent(this);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(16, 16));
    button->setToolButtonStyle(button->text().isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
    button->show();
    items_.push_back(Item{button});
    layoutItems(width(), true);
}

void WrapToolBar::addControl(QWidget* control)
{
    control->setParent(this);
    control->setFocusPolicy(Qt::NoFocus);
    control->show();
    items_.push_back(Item{nullptr, control});
    layoutItems(width(), true);
}

void WrapToolBar::addSeparator()
{
    items_.push_back(Item{});
    layoutItems(width(), true);
}

int WrapToolBar::itemWidth(const Item& item) const
{
    if (item.control)
        return item.control->sizeHint().width();
    if (!item.button)
        return kSeparatorWidth;
    if (item.button->toolButtonStyle() == Qt::ToolButtonIconOnly)
        return 23;
    return std::max(23, item.button->sizeHint().width());
}

int WrapToolBar::layoutItems(int width, bool apply)
{
    int x = kMargin;
    int row = 0;
    bool rowHasItem = false;
    for (const Item& item : items_) {
        const int w = itemWidth(item);
        if (rowHasItem && x + w > width - kMargin) {
            ++row;
            x = kMargin;
            rowHasItem = false;
        }
        if (apply && item.button)
            item.button->setGeometry(x, kMargin + row * kButtonHeight, w, kButtonHeight);
        if (apply && item.control)
            item.control->setGeometry(x, kMargin + row * kButtonHeight, w, kButtonHeight);
        x += w;
        rowHasItem = true;
    }
    return row + 1;
}

int WrapToolBar::heightForWidth(int width) const
{
    const int rows = const_cast<WrapToolBar*>(this)->layoutItems(width, false);
    return rows * kButtonHeight + 2 * kMargin;
}

QSize WrapToolBar::sizeHint() const
{
    return QSize(400, kButtonHeight + 2 * kMargin);
}

QSize WrapToolBar::minimumSizeHint() const
{
    return QSize(0, kButtonHeight + 2 * kMargin);
}

void WrapToolBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    rows_ = layoutItems(event->size().width(), true);
    const int h = rows_ * kButtonHeight + 2 * kMargin;
    if (h != height())
        setFixedHeight(h);
}

// ---- icons ----

namespace {
QPixmap canvas()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}
}  // namespace

QIcon exitIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    // A door frame with the door standing open and an arrow leaving.
    p.setPen(QColor(80, 50, 20));
    p.setBrush(QColor(150, 100, 50));
    p.drawRect(2, 1, 8, 13);
    p.setBrush(QColor(200, 150, 90));
    QPolygon door;
    door << QPoint(3, 2) << QPoint(7, 4) << QPoint(7, 15) << QPoint(3, 13);
    p.drawPolygon(door);
    p.setPen(QPen(QColor(200, 0, 0), 2));
    p.drawLine(9, 8, 14, 8);
    p.drawLine(12, 5, 15, 8);
    p.drawLine(12, 11, 15, 8);
    p.end();
    return QIcon(pm);
}

QIcon openIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    // An open folder.
    p.setPen(QColor(120, 90, 0));
    p.setBrush(QColor(230, 190, 60));
    QPolygon back;
    back << QPoint(1, 3) << QPoint(6, 3) << QPoint(7, 5) << QPoint(13, 5) << QPoint(13, 13) << QPoint(1, 13);
    p.drawPolygon(back);
    p.setBrush(QColor(255, 225, 110));
    QPolygon front;
    front << QPoint(3, 7) << QPoint(15, 7) << QPoint(13, 13) << QPoint(1, 13);
    p.drawPolygon(front);
    p.end();
    return QIcon(pm);
}

QIcon saveTgaIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    // A diskette.
    p.setPen(QColor(20, 30, 90));
    p.setBrush(QColor(50, 70, 170));
    p.drawRect(1, 1, 13, 13);
    p.setBrush(QColor(240, 240, 240));
    p.drawRect(4, 1, 7, 5);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(3, 9, 9, 5);
    p.fillRect(9, 2, 2, 3, QColor(50, 70, 170));
    p.end();
    return QIcon(pm);
}

QIcon fitHeightIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    // A double arrow between two bars: scaled to the height.
    p.setPen(QColor(0, 0, 0));
    p.drawLine(3, 1, 12, 1);
    p.drawLine(3, 14, 12, 14);
    p.setPen(QColor(0, 90, 170));
    p.drawLine(7, 3, 7, 12);
    p.drawLine(8, 3, 8, 12);
    p.setBrush(QColor(0, 90, 170));
    QPolygon up;
    up << QPoint(7, 3) << QPoint(4, 6) << QPoint(11, 6) << QPoint(8, 3);
    p.drawPolygon(up);
    QPolygon down;
    down << QPoint(7, 12) << QPoint(4, 9) << QPoint(11, 9) << QPoint(8, 12);
    p.drawPolygon(down);
    p.end();
    return QIcon(pm);
}

QIcon importIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    // A picture with an arrow going into it.
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(170, 210, 255));
    p.drawRect(1, 5, 13, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 150, 60));
    QPolygon hill;
    hill << QPoint(2, 15) << QPoint(6, 10) << QPoint(9, 13) << QPoint(11, 11) << QPoint(14, 15);
    p.drawPolygon(hill);
    p.setPen(QPen(QColor(200, 0, 0), 2));
    p.drawLine(11, 0, 11, 6);
    p.setBrush(QColor(200, 0, 0));
    p.setPen(QColor(200, 0, 0));
    QPolygon head;
    head << QPoint(8, 5) << QPoint(14, 5) << QPoint(11, 8);
    p.drawPolygon(head);
    p.end();
    return QIcon(pm);
}

QIcon archiveIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    // A box of stacked records.
    p.setPen(QColor(90, 60, 20));
    p.setBrush(QColor(205, 160, 90));
    p.drawRect(1, 4, 13, 10);
    p.setBrush(QColor(235, 200, 140));
    p.drawRect(0, 1, 15, 3);
    p.setPen(QColor(90, 60, 20));
    p.drawLine(5, 7, 10, 7);
    p.drawLine(5, 8, 10, 8);
    p.end();
    return QIcon(pm);
}

namespace {
// A curved arrow, pointing left (undo) or right (redo).
QIcon curvedArrowIcon(bool left)
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    if (!left) {
        p.translate(16, 0);
        p.scale(-1, 1);
    }
    const QColor colour(30, 90, 170);
    p.setPen(QPen(colour, 2));
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.moveTo(4, 6);
    arc.cubicTo(10, 2, 16, 7, 12, 13);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    QPolygon head;
    head << QPoint(1, 6) << QPoint(7, 2) << QPoint(7, 10);
    p.drawPolygon(head);
    p.end();
    return QIcon(pm);
}
}  // namespace

QIcon undoIcon()
{
    return curvedArrowIcon(true);
}

QIcon redoIcon()
{
    return curvedArrowIcon(false);
}
