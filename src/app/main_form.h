// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TForm1: the main window. It owns the two record tables, their grids, the
// image view, the dialogs' set-up and the global values through which the
// event handlers coordinate. Handlers keep their names (BtnOpenClick,
// RxMAfterScroll, ...) and stay thin: they call the core and the tables.
//
// Beside the design's controls: the toolbar's "Alpha" toggle and mip level
// selector, the zoom keys (Ctrl+plus, Ctrl+minus, Ctrl+0; Ctrl+wheel over
// the view), Ctrl+O for Open, Alt+Page Up / Alt+Page Down for the level, a
// movable bar between the entry list and the textures, and a status bar.
// At its design size (715 x 468) the window keeps the design's layout to
// the pixel: the status bar shows only in a taller window, and the height a
// window has beyond the design goes to the image view.
#include "app/record_grid.h"
#include "imaging/ui/image_scroll_box.h"
#include "platform/user_dialogs.h"
#include "tables/record_table.h"
#include "texture/texture_tga.h"

#include <QFrame>
#include <QKeyEvent>
#include <QPointer>
#include <QSplitter>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QSpinBox;
class QStatusBar;
class QToolButton;
class TFormImage;
class ToggleToolButton;
class WrapToolBar;

// A horizontal splitter whose 3-pixel bar is drawn bevelled.
class BevelSplitter : public QSplitter {
    Q_OBJECT
public:
    explicit BevelSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

    // Called after every resize (the main window keeps its own split).
    std::function<void()> onResized;

protected:
    QSplitterHandle* createHandle() override;
    void resizeEvent(QResizeEvent* event) override;
};

// A bevelled bar, 3 pixels wide, laid over the left edge of its parent,
// with the left-right resize cursor: dragging it reports the distance moved.
class SideSplitterBar : public QWidget {
    Q_OBJECT
public:
    explicit SideSplitterBar(QWidget* parent);
    // Called with the horizontal distance from where the drag started.
    std::function<void(int dx)> onDrag;
    std::function<void()> onDragStart;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::optional<int> dragStart_;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDesignWidth = 715;  // outer size at design
    static constexpr int kDesignHeight = 468;
    static constexpr int kMinWidth = 503;
    static constexpr int kMinHeight = 196;
    static constexpr int kEntryGridWidth = 265;
    static constexpr int kImageViewHeight = 146;
    static constexpr int kSplitterWidth = 3;
    static constexpr const char* kCaption = "Quarnix Pre-Alpha2";
    static constexpr int kMinEntryGridWidth = 60;
    static constexpr int kMinPanelWidth = 120;

    // Without `dialogs`, the desktop's dialogs are used.
    explicit TForm1(std::unique_ptr<UserDialogs> dialogs = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    UserDialogs& dialogs() { return *dialogs_; }
    void setDialogs(std::unique_ptr<UserDialogs> dialogs);

    // ---- global values ----
    std::string ArchivePath;        // the file Open chose (a .dir, a .img, a .txd)
    std::string ArchiveFileName;    // file texture bytes are read from and written to
    bool StandaloneTxd = false;     // the open file is a standalone dictionary
    bool LoadingDirectory = false;  // the entry table is being filled from a directory file
    bool FillingTextures = false;   // the texture table is being emptied and filled
    std::string SearchText;         // last Find text

    // ---- components ----
    std::unique_ptr<RecordTable> RxM;       // entry table
    std::unique_ptr<RecordTable> QueryTXD;  // texture table
    WrapToolBar* ToolBar1 = nullptr;
    QToolButton* BtnExit = nullptr;
    QToolButton* BtnOpen = nullptr;
    QToolButton* BtnSaveTGA = nullptr;
    ToggleToolButton* BtnZoom = nullptr;
    QToolButton* BtnImport = nullptr;
    QToolButton* BtnAlpha = nullptr;  // "Alpha": the texture's alpha over a checkerboard
    QLabel* LabelLevel = nullptr;
    QSpinBox* SpinLevel = nullptr;  // the mip level shown
    RecordGrid* Grid = nullptr;     // entry grid
    QWidget* Panel1 = nullptr;      // right-hand panel
    RecordGrid* GridTXD = nullptr;  // texture grid
    BevelSplitter* Splitter1 = nullptr;
    TImageScrollBox* ImageScrollBox1 = nullptr;  // shows the current texture
    SideSplitterBar* Splitter2 = nullptr;        // between the entry grid and the textures
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusFile = nullptr;       // the open file, its flavour and its entries
    QLabel* StatusTexture = nullptr;    // the current texture
    QLabel* StatusZoom = nullptr;       // the view's zoom
    FileDialogSetup OD;                 // Open
    FileDialogSetup SD;                 // Save as TGA
    FileDialogSetup OpenPictureDialog;  // Import Texture
    TFormImage* FormImage = nullptr;    // the import preview dialog, created hidden
    // How long work (preparing a picture for an import) runs before its
    // progress box with Cancel shows, in milliseconds; with 0 or less the box
    // always shows.
    int LongWorkDelayMs = 500;

    // ---- handlers ----
    void FormCreate();
    // Key preview: sees every key pressed in the window before the control
    // with the focus does; the key is not consumed.
    virtual void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    // Find: with a sender, asks for SearchText first; without, searches for
    // it at once (find next).
    void BtnFindClick(QObject* sender);
    // Replace: asks with the replace dialog, rewrites String in every entry
    // and reports the number of entries changed. The sender is not used.
    void BtnReplaceClick(QObject* sender);
    void BtnExitClick();
    void BtnOpenClick();
    // What Open does once a file is chosen: a ".txd" opens as a standalone
    // dictionary, anything else as an archive directory with its data file.
    void OpenArchive(const std::string& path);
    void BtnZoomClick();
    // "Alpha": shows the texture's alpha over a checkerboard, or its opaque colours.
    void BtnAlphaClick();
    // Ctrl+plus, Ctrl+minus: one zoom step (twice or half the size, from
    // 1/16 to 16); Ctrl+0: the texture at its own size.
    void ZoomInClick();
    void ZoomOutClick();
    void ZoomOriginalClick();
    // Shows mip level `level` of the current texture (the level selector's
    // handler); level 0 is ShowPic's picture.
    void ShowLevel(int level);
    // Alt+Page Up / Alt+Page Down: the level before or after the one shown.
    void LevelStep(int delta);
    // The zoom, level and command keys of the window; true when `key` was one.
    bool CommandKey(int key, Qt::KeyboardModifiers shift);
    void GridTitleBtnClick(int column);
    void GridTXDTitleBtnClick(int column);
    void RxMAfterScroll(RecordTable& table);
    // Undoes a change to the open archive that was cut off (a journal left
    // beside its data file or in the state folder), telling the user in a
    // plain message box when bytes were written back.
    void RecoverArchive();
    void QueryTXDAfterScroll(RecordTable* table);
    void BtnSaveTGAClick();
    void BtnImportClick();
    // Import Texture: over the current texture, with `pictureFile` when
    // given (a dropped file) or the one chosen in the picture-open dialog.
    void ImportTexture(const std::optional<std::string>& pictureFile);

    // Shows the texture table's current texture in the image view; clears
    // the view when there is no texture, or it has no data that can be shown.
    void ShowPic();
    // Writes the current texture as a TGA file.
    void SaveTGA(const std::string& fileName);
    // Writes the current texture as a PNG file, alpha kept.
    void SavePNG(const std::string& fileName);
    // Runs `work` on a thread of its own and waits for it; when it takes
    // longer than LongWorkDelayMs, a progress box with `text` and Cancel
    // shows until it ends. Raises what `work` raised, and ECancelled when the
    // user cancelled (whether or not the work had ended by then).
    void runLongWork(const std::string& text, const std::function<void()>& work);

    // Empties the image view: it shows nothing afterwards.
    virtual void clearImageView();
    // Enables or disables "Save as TGA" and "Import Texture" together.
    void setTextureItemsEnabled(bool enabled);

    // Runs a user-initiated handler; a failure shows the error box.
    void guard(const std::function<void()>& handler);

    // The first outer size: the design size scaled, in its proportions, until
    // its width or its height is two thirds of `available`'s; never smaller
    // than the design size.
    static QSize firstSize(const QRect& available);
    // The level shown and the status bar's texts (for tests and the status).
    int shownLevel() const { return shownLevel_; }
    void updateStatus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // A file dropped on the window: an archive directory or dictionary is
    // opened; a picture dropped on the image view is imported over the
    // current texture.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildToolBar();
    void buildLayout();
    void applyDesignGeometry();
    void afterUserDelete(RecordGrid* grid);
    // Keeps the texture grid at its chosen height and gives the image view
    // the rest (never less than its chosen floor while there is room).
    void layoutTextureSplit();
    void moveEntryBar(int dx);
    void afterZoomChange();
    void setLevelSelector(int levels);
    void updateZoomStatus();
    std::string pictureTargetText(const TextureRef& texture) const;

    std::unique_ptr<UserDialogs> dialogs_;
    bool shownOnce_ = false;
    std::string openedFile_;  // the file Open last opened in full
    int shownLevel_ = 0;
    int frameHeight_ = 0;  // what the window manager's frame adds to the height
    // The texture grid's chosen height and the image view's least height
    // while there is room; the user's drags of the splitter change both.
    int textureGridHeight_ = 0;
    int imageViewFloor_ = kImageViewHeight;
    bool splitterMoved_ = false;  // the user has moved Splitter1
    int entryBarStartWidth_ = kEntryGridWidth;
    // The key event last previewed, so that it is previewed once however far
    // it travels: its address, time and the widget it was previewed at.
    const QKeyEvent* previewedKey_ = nullptr;
    quint64 previewedKeyTime_ = 0;
    QPointer<QWidget> previewedKeyWidget_;
};
