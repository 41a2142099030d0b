// SPDX-License-Identifier: GPL-2.0-or-later
#include "search/ui/find_input_box.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace {
// a * b / c rounded to the nearest whole number (all positive here).
int mulDivRound(int a, int b, int c)
{
    return static_cast<int>((static_cast<int64_t>(a) * b + c / 2) / c);
}
}  // namespace

DialogUnits DialogUnits::of(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits du;
    du.baseX = (letters / 26 + 1) / 2;  // the average over 52 letters, rounded
    du.baseY = metrics.height();
    return du;
}

int DialogUnits::x(int units) const
{
    return mulDivRound(units, baseX, 4);
}

int DialogUnits::y(int units) const
{
    return mulDivRound(units, baseY, 8);
}

FindInputBox::FindInputBox(const QString& text, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Find"));
    // A tool-window border: the caption and a close button (Cancel), no
    // minimise or maximise button.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);

    Prompt = new QLabel(QStringLiteral("String"), this);
    Edit = new QLineEdit(this);
    BtnOK = new QPushButton(QStringLiteral("OK"), this);
    BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);

    Edit->setMaxLength(kMaxLength);
    Edit->setText(text);
    Edit->selectAll();
    BtnOK->setDefault(true);
    connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Esc rejects: QDialog's own key handling, as for a cancel button.
    setTabOrder(Edit, BtnOK);
    setTabOrder(BtnOK, BtnCancel);

    const DialogUnits du = DialogUnits::of(font());
    Prompt->adjustSize();
    Prompt->move(du.x(kPromptLeftDu), du.y(kPromptTopDu));
    Edit->setGeometry(du.x(kEditLeftDu), du.y(kEditTopDu), du.x(kEditWidthDu), Edit->sizeHint().height());
    BtnOK->setGeometry(du.x(kOkLeftDu), du.y(kButtonTopDu), du.x(kButtonWidthDu), du.y(kButtonHeightDu));
    BtnCancel->setGeometry(du.x(kCancelLeftDu), du.y(kButtonTopDu), du.x(kButtonWidthDu), du.y(kButtonHeightDu));
    setFixedSize(du.x(kClientWidthDu), du.y(kClientHeightDu));

    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    Edit->setFocus();
}

QString FindInputBox::text() const
{
    return Edit->text();
}
