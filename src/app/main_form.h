// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TForm1: the main window. It owns the two record tables, their grids, the
// image view, the dialogs' set-up and the global values through which the
// event handlers coordinate. Handlers keep their names (BtnOpenClick,
// RxMAfterScroll, ...) and stay thin: they call the core and the tables.
#include "app/record_grid.h"
#include "imaging/ui/image_scroll_box.h"
#include "platform/user_dialogs.h"
#include "tables/record_table.h"

#include <QFrame>
#include <QKeyEvent>
#include <QPointer>
#include <QSplitter>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QToolButton;
class TFormImage;
class ToggleToolButton;
class WrapToolBar;

// A horizontal splitter whose 3-pixel bar is drawn bevelled.
class BevelSplitter : public QSplitter {
    Q_OBJECT
public:
    explicit BevelSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    QSplitterHandle* createHandle() override;
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
    RecordGrid* Grid = nullptr;     // entry grid
    QWidget* Panel1 = nullptr;      // right-hand panel
    RecordGrid* GridTXD = nullptr;  // texture grid
    BevelSplitter* Splitter1 = nullptr;
    TImageScrollBox* ImageScrollBox1 = nullptr;  // shows the current texture
    FileDialogSetup OD;                          // Open
    FileDialogSetup SD;                          // Save as TGA
    FileDialogSetup OpenPictureDialog;           // Import Texture
    TFormImage* FormImage = nullptr;             // the import preview dialog, created hidden

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

    // Empties the image view: it shows nothing afterwards.
    virtual void clearImageView();
    // Enables or disables "Save as TGA" and "Import Texture" together.
    void setTextureItemsEnabled(bool enabled);

    // Runs a user-initiated handler; a failure shows the error box.
    void guard(const std::function<void()>& handler);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
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

    std::unique_ptr<UserDialogs> dialogs_;
    bool shownOnce_ = false;
    // The key event last previewed, so that it is previewed once however far
    // it travels: its address, time and the widget it was previewed at.
    const QKeyEvent* previewedKey_ = nullptr;
    quint64 previewedKeyTime_ = 0;
    QPointer<QWidget> previewedKeyWidget_;
};
