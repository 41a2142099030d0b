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
//
// For a texture of a sectioned dictionary a panel to the right of the view
// and the band (the dialog that much wider) chooses what is written: the
// size (the texture's, the picture's own, or typed), the layout, mip levels
// on or off and the DXT quality, and says how many bytes the texture's data
// will take. Without it the dialog is the design's.
#include "imaging/ui/image_scroll_box.h"
#include "platform/user_dialogs.h"
#include "texture/sectioned_import.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;

class TFormImage : public QDialog, public ModalForm {
    Q_OBJECT
public:
    static constexpr int kDesignClientWidth = 256;
    static constexpr int kDesignClientHeight = 306;
    static constexpr int kBandHeight = 50;  // below the view, holding the buttons
    static constexpr int kMaxClientSide = 512;
    static constexpr int kChoicesWidth = 150;  // the panel of choices, when shown

    explicit TFormImage(QWidget* parent = nullptr);

    TImageScrollBox* ImageScrollBox = nullptr;
    QPushButton* Button1 = nullptr;   // "Import": closes with OK
    QPushButton* Button2 = nullptr;   // "Cancel": closes with Cancel
    QCheckBox* CheckExact = nullptr;  // "Keep pixels exactly", unchecked at start
    QToolButton* BtnAlpha = nullptr;  // "Alpha": the view shows the picture's alpha
    QLabel* LabelTarget = nullptr;    // what the import will overwrite

    // ---- the choices of a sectioned texture's import ----
    QWidget* PanelChoices = nullptr;
    QComboBox* ComboSize = nullptr;  // "Texture's WxH", "Picture's WxH", "Typed"
    QSpinBox* SpinWidth = nullptr;   // the size written (typed when "Typed")
    QSpinBox* SpinHeight = nullptr;
    QComboBox* ComboLayout = nullptr;  // P8, 8888, ..., DXT5
    QCheckBox* CheckLevels = nullptr;  // "Mip levels"
    QComboBox* ComboDxt = nullptr;     // "Fast", "Best"
    QLabel* LabelBytes = nullptr;      // the bytes the texture's data takes

    // Names the import's target; the line shows as much as fits.
    void SetTarget(const QString& text);
    QString Target() const { return target_; }
    // Called when the user ticks or clears "Keep pixels exactly".
    std::function<void(bool exact)> OnExactChanged;

    // Shows the panel of choices (the dialog grows by its width) or hides it.
    // `texture` and `picture` are the sizes "Texture's" and "Picture's" name;
    // layouts `platform`'s header cannot hold are offered disabled. With
    // `whyNot` (the dictionary cannot be rewritten) only the texture's own
    // size, layout and levels can be chosen, and the panel says why in its
    // tool tips.
    void ShowChoices(bool shown, QSize texture = QSize(), QSize picture = QSize(), uint32_t platform = 9,
                     const QString& whyNot = QString());
    bool ChoicesShown() const { return choicesShown_; }
    // The choice the controls make (exact from "Keep pixels exactly"), and
    // setting the controls to one without calling OnChoiceChanged.
    SectionedImportChoice Choice() const;
    void SetChoice(const SectionedImportChoice& choice);
    // Called when the user changes any choice of the panel or "Keep pixels
    // exactly" while the panel is shown (instead of OnExactChanged).
    std::function<void()> OnChoiceChanged;
    // The size the import writes (shown in the size boxes when not typed)
    // and the bytes its data takes, beside the bytes it takes now.
    void SetResult(QSize size, int64_t bytes, int64_t bytesNow);

    // Registers the picture formats the import reads beyond the library's
    // own (bitmap, icon, metafiles), each only when it is missing.
    void FormCreate();
    // Redraws the view from its picture as the transforms left it.
    void FormShow();
    // Sizes the client area for a texture of width x height:
    // min(512, max(width, 256)) x min(512, max(height + 50, 306)), plus the
    // panel of choices' width while it is shown.
    void SizeForTexture(int width, int height);

    // ModalForm: true when closed with "Import".
    bool showModal() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void layoutControls();
    void buildChoices();
    void choiceChanged();
    void updateChoiceControls();
    // The width the view and the band take: the client width less the panel.
    int previewWidth() const;
    QString target_;
    bool choicesShown_ = false;
    bool choicesFixed_ = false;  // only the texture's own size, layout and levels
    QSize textureSize_, pictureSize_;
    bool settingChoice_ = false;
};
