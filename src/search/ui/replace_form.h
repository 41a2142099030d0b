// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TFormReplace: the replace dialog. A modal tool window with the caption
// "Replace" and a 352 x 105 client area, centred over the window that owns
// it: the text to find, the replacement, "Case sensitive", and the buttons
// "Replace all" (result Accepted) and "Cancel" (result Rejected). Neither
// button is a default button, so Enter never closes it; Esc cancels through
// the dialog's own key preview, which sees every key before the focused
// control. A new dialog is made for each Replace, so it always opens empty.
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TFormReplace : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 352;
    static constexpr int kClientHeight = 105;

    explicit TFormReplace(QWidget* owner = nullptr);

    QLabel* LabelReplace = nullptr;
    QLineEdit* EditFrom = nullptr;
    QLabel* LabelWith = nullptr;
    QLineEdit* EditTo = nullptr;
    QCheckBox* cbCase = nullptr;
    QPushButton* BtnReplaceAll = nullptr;
    QPushButton* BtnCancel = nullptr;

    // Key preview: Esc cancels; other keys go on to the focused control.
    virtual void FormKeyDown(int key, Qt::KeyboardModifiers shift);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
