// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Find input box: a small modal box with the caption "Find", the prompt
// "String" above a one-line edit of at most 255 characters that opens holding
// the last search text, all of it selected, and the buttons "OK" (the default
// button, Enter) and "Cancel" (Esc). It is laid out in dialog units of its
// own font and stands centred on the screen.
#include <QDialog>
#include <QString>

class QFont;
class QLabel;
class QLineEdit;
class QPushButton;

// Dialog units of a font: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its character height.
struct DialogUnits {
    int baseX = 0;  // average width of the letters A-Z and a-z, in pixels
    int baseY = 0;  // character height, in pixels

    static DialogUnits of(const QFont& font);
    // Pixels for a number of units, rounded to the nearest pixel.
    int x(int units) const;
    int y(int units) const;
};

class FindInputBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLength = 255;
    // Layout in dialog units.
    static constexpr int kClientWidthDu = 180;
    static constexpr int kClientHeightDu = 63;
    static constexpr int kPromptLeftDu = 8, kPromptTopDu = 8;
    static constexpr int kEditLeftDu = 8, kEditTopDu = 19, kEditWidthDu = 164;
    static constexpr int kButtonWidthDu = 50, kButtonHeightDu = 14;
    static constexpr int kOkLeftDu = 38, kCancelLeftDu = 92, kButtonTopDu = 41;

    // `parent` only keeps the box above the window that asked; the box is
    // centred on the screen, not over it.
    explicit FindInputBox(const QString& text, QWidget* parent = nullptr);

    // The edited text.
    QString text() const;

    QLabel* Prompt = nullptr;
    QLineEdit* Edit = nullptr;
    QPushButton* BtnOK = nullptr;
    QPushButton* BtnCancel = nullptr;
};
