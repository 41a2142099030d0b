// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TFormImage: the import preview dialog. It shows the picture about to be
// imported, already brought to the texture's size and pixel format, with
// "Import" and "Cancel" below it. The main window creates it once, hidden,
// and shows it modally for each import.
//
// The 50-pixel band below the view holds, above the buttons, the check box
// "Keep pixels exactly" and a line naming what the import will overwrite
// (shortened to the width, whole in its tool tip), and between the buttons
// the toggle "Alpha" (an icon), which shows the picture's alpha over a
// checkerboard as the main window's does.
#include "imaging/ui/image_scroll_box.h"
#include "platform/user_dialogs.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;

class TFormImage : public QDialog, public ModalForm {
    Q_OBJECT
public:
    static constexpr int kDesignClientWidth = 256;
    static constexpr int kDesignClientHeight = 306;
    static constexpr int kBandHeight = 50;  // below the view, holding the buttons
    static constexpr int kMaxClientSide = 512;

    explicit TFormImage(QWidget* parent = nullptr);

    TImageScrollBox* ImageScrollBox = nullptr;
    QPushButton* Button1 = nullptr;   // "Import": closes with OK
    QPushButton* Button2 = nullptr;   // "Cancel": closes with Cancel
    QCheckBox* CheckExact = nullptr;  // "Keep pixels exactly", unchecked at start
    QToolButton* BtnAlpha = nullptr;  // "Alpha": the view shows the picture's alpha
    QLabel* LabelTarget = nullptr;    // what the import will overwrite

    // Names the import's target; the line shows as much as fits.
    void SetTarget(const QString& text);
    QString Target() const { return target_; }
    // Called when the user ticks or clears "Keep pixels exactly".
    std::function<void(bool exact)> OnExactChanged;

    // Registers the picture formats the import reads beyond the library's
    // own (bitmap, icon, metafiles), each only when it is missing.
    void FormCreate();
    // Redraws the view from its picture as the transforms left it.
    void FormShow();
    // Sizes the client area for a texture of width x height:
    // min(512, max(width, 256)) x min(512, max(height + 50, 306)).
    void SizeForTexture(int width, int height);

    // ModalForm: true when closed with "Import".
    bool showModal() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void layoutControls();
    QString target_;
};
