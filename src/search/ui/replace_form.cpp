// SPDX-License-Identifier: GPL-2.0-or-later
#include "search/ui/replace_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TFormReplace::TFormReplace(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Replace"));
    // A tool-window border without caption buttons.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    // The program's font, which the fixed sizes below are laid out for (a
    // dialog does not take its owner's font by itself).
    QFont programFont(QStringLiteral("Arial"));
    programFont.setPixelSize(11);
    setFont(owner ? owner->font() : programFont);

    LabelReplace = new QLabel(QStringLiteral("Replace"), this);
    EditFrom = new QLineEdit(this);
    LabelWith = new QLabel(QStringLiteral("with"), this);
    EditTo = new QLineEdit(this);
    cbCase = new QCheckBox(QStringLiteral("Case sensitive"), this);
    BtnReplaceAll = new QPushButton(QStringLiteral("Replace all"), this);
    BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);

    LabelReplace->setGeometry(14, 17, 40, 13);
    EditFrom->setGeometry(63, 13, 121, 21);
    LabelWith->setGeometry(190, 17, 19, 13);
    EditTo->setGeometry(217, 13, 121, 21);
    cbCase->setGeometry(128, 40, 97, 17);
    BtnReplaceAll->setGeometry(87, 64, 75, 25);
    BtnCancel->setGeometry(191, 64, 75, 25);
    setFixedSize(kClientWidth, kClientHeight);

    // Flat edits: a one-pixel line instead of the sunken frame.
    for (QLineEdit* edit : {EditFrom, EditTo})
        edit->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid palette(dark); }"));
    // Flat buttons that still read as buttons: a thin frame, darker while the
    // pointer is over one or it has the focus, sunken while pressed.
    for (QPushButton* button : {BtnReplaceAll, BtnCancel}) {
        button->setFlat(true);
        button->setStyleSheet(QStringLiteral(
            "QPushButton { border: 1px solid palette(mid); background: transparent; }"
            "QPushButton:hover, QPushButton:focus { border: 1px solid palette(shadow); background: palette(light); }"
            "QPushButton:pressed { border: 1px solid palette(shadow); background: palette(mid); }"));
        // Neither is a default button, and a focused one does not become one:
        // Enter must not close the dialog.
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    cbCase->setChecked(false);
    for (QWidget* label : {static_cast<QWidget*>(LabelReplace), static_cast<QWidget*>(LabelWith)})
        label->setFocusPolicy(Qt::NoFocus);

    setTabOrder(EditFrom, EditTo);
    setTabOrder(EditTo, cbCase);
    setTabOrder(cbCase, BtnReplaceAll);
    setTabOrder(BtnReplaceAll, BtnCancel);

    connect(BtnReplaceAll, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);

    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    if (owner) {
        const QPoint centre = owner->window()->frameGeometry().center();
        move(centre - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
    EditFrom->setFocus();
}

void TFormReplace::FormKeyDown(int key, Qt::KeyboardModifiers /*shift*/)
{
    if (key == Qt::Key_Escape)
        reject();
}

bool TFormReplace::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        // Each key once: where it is first delivered (the focused control, or
        // the dialog itself when nothing in it has the focus).
        QWidget* focus = focusWidget();
        if (watched == (focus ? focus : this)) {
            auto* key = static_cast<QKeyEvent*>(event);
            const bool wasVisible = isVisible();
            FormKeyDown(key->key(), key->modifiers());
            if (wasVisible && !isVisible())
                return true;  // closed: the key has done its work
        }
    }
    return QDialog::eventFilter(watched, event);
}
