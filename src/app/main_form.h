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
// movable bar between the entry list and the textures, and a status bar;
// the "Archive" menu of entry edits (new archive, add, replace, extract,
// rename, remove, rebuild), "Undo" and "Redo" of the newest change to the
// open archive (Ctrl+Z, Ctrl+Shift+Z), several entries marked at once, and a
// status line under the entry list; the dictionary edits in the same menu
// (add, remove and rename a texture of a sectioned dictionary, a new
// dictionary of pictures), pictures dropped on the texture list added;
// "Export all..." and "Import folder..." of every texture at once. At
// its design size (715 x 468) the window keeps the design's layout to the
// pixel: the status bar and the entry list's status line show only in a
// taller window, and the height a window has beyond the design goes to the
// image view.
#include "app/record_grid.h"
#include "archive/entry_edits.h"
#include "imaging/ui/image_scroll_box.h"
#include "platform/user_dialogs.h"
#include "tables/record_table.h"
#include "texture/texture_tga.h"

#include <QFrame>
#include <QKeyEvent>
#include <QPointer>
#include <QSplitter>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ArchiveEditor;
struct HeldDictionary;
class QAction;
class QLabel;
class QMenu;
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
    // ---- the archive's entries changed ----
    QToolButton* BtnArchive = nullptr;  // "Archive": the menu of entry edits
    QMenu* MenuArchive = nullptr;
    QToolButton* BtnUndo = nullptr;  // the newest change to the open archive undone
    QToolButton* BtnRedo = nullptr;
    QAction* ActUndo = nullptr;        // "Undo import of sunset_DXT5" (Ctrl+Z)
    QAction* ActRedo = nullptr;        // "Redo ..." (Ctrl+Shift+Z)
    QAction* ActNewArchive = nullptr;  // "New archive..."
    QAction* ActAdd = nullptr;         // "Add..."
    QAction* ActReplace = nullptr;     // "Replace..."
    QAction* ActExtract = nullptr;     // "Extract..."
    QAction* ActRename = nullptr;      // "Rename" (F2)
    QAction* ActRemove = nullptr;      // "Remove from archive" (Shift+Delete)
    QAction* ActRebuild = nullptr;     // "Rebuild"
    // ---- every texture at once ----
    QAction* ActExportAll = nullptr;     // "Export all..."
    QAction* ActImportFolder = nullptr;  // "Import folder..."
    FileDialogSetup FDExportAll;         // the folder Export all writes into
    FileDialogSetup FDImportFolder;      // the folder Import folder reads
    // ---- the textures of a dictionary changed ----
    QAction* ActAddTexture = nullptr;     // "Add texture..."
    QAction* ActRenameTexture = nullptr;  // "Rename texture" (F2 in the texture grid)
    QAction* ActRemoveTexture = nullptr;  // "Remove texture" (Shift+Delete in the texture grid)
    QAction* ActNewDictionary = nullptr;  // "New dictionary..."
    FileDialogSetup ODAddTexture;         // Add texture (several pictures)
    FileDialogSetup ODNewDictionary;      // the pictures of a new dictionary
    FileDialogSetup SDNewDictionary;      // where it is made
    QLabel* EntryStatus = nullptr;        // under the entry grid: flavour, entries, gaps
    FileDialogSetup SDNewArchive;         // New archive
    FileDialogSetup ODAdd;                // Add (several files)
    FileDialogSetup ODReplace;            // Replace
    FileDialogSetup FDExtract;            // Extract (a folder)
    TFormImage* FormImage = nullptr;      // the import preview dialog, created hidden
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

    // How far work run by runWork has come, set from the work's thread.
    class WorkProgress {
    public:
        void set(int64_t done, int64_t total);
        // As set, and the box's line under its text says "done of total:
        // current" (UTF-8; "done of total" where `current` is empty).
        void set(int64_t done, int64_t total, const std::string& current);
        int permille() const { return permille_.load(); }
        std::string line() const;

    private:
        std::atomic<int> permille_{-1};
        mutable std::mutex lineMutex_;
        std::string line_;
    };
    enum class WorkEnd {
        Done,       // the work ended without an error, and nobody cancelled it
        LateDone,   // Cancel came after the work could stop: it was all done
        Cancelled,  // the work stopped on Cancel (its error, if any, dropped)
    };
    // Runs `work` as runLongWork does; its box shows how far the work has
    // come where it says so, and has Cancel only when `cancellable` (work
    // that cannot stop, such as a transaction under way, has none). Raises
    // what `work` raised unless the user cancelled.
    WorkEnd runWork(const std::string& text, const std::function<void(WorkProgress&)>& work, bool cancellable);

    // ---- archive edits, undo and redo ----
    // Each edit opens the archive for editing (exclusive locks on its files,
    // an interrupted change undone first), checks that the rows it works on
    // still stand for the archive's entries, makes the change as one
    // transaction of the archive core, lets the archive go and reads it again
    // (ReloadArchive), and says what it did in the status bar. A refusal or
    // failure shows the error box; the archive is then as it was.
    void BtnUndoClick();
    void BtnRedoClick();
    // "New archive...": a .dir (with its .img) or a VER2 .img, empty, then opened.
    void BtnNewArchiveClick();
    // "Add...": files chosen in the dialog, added as AddFiles adds them.
    void BtnAddClick();
    // The files become entries named by their base names; names the archive
    // holds already are replaced after the user agrees (nothing is done
    // otherwise). The last file's entry becomes current.
    void AddFiles(const std::vector<std::string>& files);
    // "Replace...": the current entry's bytes become a chosen file's.
    void BtnReplaceClick();
    void ReplaceEntry(const std::string& file);
    // "Remove from archive" (Shift+Delete in the entry grid): the marked
    // entries (or the current one) go from the archive, after the user agrees.
    void BtnRemoveClick();
    // "Rename" (F2 in the entry grid): the current entry's name is edited in
    // the grid; Enter renames it (RenameEntry).
    void BtnRenameClick();
    void RenameEntry(const std::string& newNameUtf8);
    // "Rebuild": the archive written again without gaps, with a progress box
    // whose Cancel leaves the old archive.
    void BtnRebuildClick();
    // "Extract...": the marked entries (or the current one) written to files
    // of a chosen folder (ExtractEntries).
    void BtnExtractClick();
    void ExtractEntries(const std::string& folder);
    // Reads the open archive again: the entries (sorted as they were), then
    // the current entry's textures and the view. The entry named `entryName`
    // (Windows-1250; the one current before when nullopt) stays current where
    // it still exists, else the row at the same place; the texture named
    // `texture`'s name (the one current before when nullopt) likewise, else
    // the texture at its Pos, else the last. The rows marked are unmarked.
    void ReloadArchive(const std::optional<std::string>& entryName = std::nullopt,
                       const std::optional<std::pair<std::string, int64_t>>& texture = std::nullopt);
    // The edits' items enabled for what is open, Undo and Redo named after
    // the changes they would take back (read from the archive's undo records).
    void updateArchiveItems();
    // The entry grid's status line.
    void updateEntryStatus();
    // True when the open file's entries can be edited (a .dir or a VER2 .img).
    bool entriesEditable() const;

    // ---- every texture at once ----
    // "Export all...": a folder and TGA or PNG chosen, then every texture of
    // every dictionary of the open file written there (ExportAllTextures).
    void BtnExportAllClick();
    // Writes the textures as quarnix-tool export-all does, with a progress
    // box whose Cancel keeps the files written so far; files the folder
    // holds already are replaced after the user agrees. The summary shows in
    // a message box (an error stopping the run: in the error box).
    void ExportAllTextures(const std::string& folder, bool png);
    // "Import folder...": a folder and the choices of the import chosen,
    // then ImportFolder.
    void BtnImportFolderClick();
    // Imports the folder's pictures over their textures as quarnix-tool
    // import-all does, through one editor of the archive for the whole run,
    // with a progress box whose Cancel keeps the batches committed; one Undo
    // takes the whole run back. The lists are read again, and the summary
    // shows in a message box with the textures skipped and the pictures
    // that match nothing in its details (an error stopping the run: in the
    // error box).
    void ImportFolder(const std::string& folder, const ImportFolderChoices& choices);

    // ---- dictionary edits ----
    // Each works on the current entry's dictionary (a sectioned one: a
    // dictionary without sections is refused, the error box saying why,
    // before anything is asked), as one transaction of the archive core with
    // an undo record, as quarnix-tool's add-texture, remove-texture and
    // rename-texture do; the lists are read again afterwards.
    // "Add texture...": pictures chosen in the dialog, added as AddTextures adds them.
    void BtnAddTextureClick();
    // Each picture becomes a texture named by its base name, at its own size
    // with its full mip chain, its layout chosen from its alpha (DXT1, DXT5,
    // or 8888 for sides not divisible by 4); the last one becomes current.
    // The pictures are encoded with a progress box whose Cancel adds nothing.
    void AddTextures(const std::vector<std::string>& pictures);
    // "Remove texture" (Shift+Delete in the texture grid): the current
    // texture goes, after the user agrees; the one after it becomes current.
    void BtnRemoveTextureClick();
    // "Rename texture" (F2 in the texture grid): the current texture's name
    // is edited in the grid; Enter renames it (RenameTexture).
    void BtnRenameTextureClick();
    void RenameTexture(const std::string& newNameUtf8);
    // "New dictionary...": pictures chosen, then the new .txd's name (its
    // type chooses the header: the newer, or the older one); the dictionary
    // is made as quarnix-tool new-txd makes it (a progress box whose Cancel
    // makes nothing) and opened.
    void BtnNewDictionaryClick();
    // True when the current entry is a texture dictionary of the open file.
    bool texturesEditable() const;
    // The dictionary edits' items enabled for the current entry and texture.
    void updateTextureItems();

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
    // Runs on the work's own thread before runWork's work (nothing here; a
    // test holds the work back to press Cancel first).
    virtual void workThreadStarting() {}
    // Runs on the work's own thread each time Export all or Import folder
    // has come `done` steps far (nothing here; a test presses Cancel in the
    // middle of a run).
    virtual void batchProgressed(int64_t done) { (void)done; }
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // A file dropped on the window: an archive directory or dictionary is
    // opened; a picture dropped on the image view is imported over the
    // current texture.
    // Files dropped on the entry grid of an archive whose entries can be
    // edited are added to it (AddFiles), except one lone .dir or .img, which
    // opens as anywhere else. Pictures dropped on the texture grid of a
    // dictionary are added to it as textures (AddTextures).
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;

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
    // What an import over `texture` writes, for the preview: the texture,
    // its dictionary and archive, and `writes` (a sectioned texture's new
    // layout; the texture's own when null).
    std::string pictureTargetText(const TextureRef& texture, const TexelLayout* writes = nullptr) const;
    // Import Texture over a texture of a sectioned dictionary, with the
    // preview's choices of size, layout, levels and DXT quality.
    void ImportSectionedTexture(const TextureRef& texture, const std::optional<std::string>& pictureFile);
    // The current entry's dictionary read as it is now (under the shared
    // lock) and refused, saying why, when it cannot be rewritten.
    void checkDictionaryRewritable();
    // Opens the archive for a dictionary edit (`editor`), checks the current
    // entry's row against it and reads its dictionary (refused, saying why,
    // for one that cannot be rewritten).
    HeldDictionary holdCurrentDictionary(std::unique_ptr<ArchiveEditor>& editor);
    // The current texture's index in `held`; when the dictionary no longer
    // holds it at its Pos, `editor` is let go, the archive read again and
    // EDictionaryError says that nothing was changed.
    int currentTextureIndex(const HeldDictionary& held, std::unique_ptr<ArchiveEditor>& editor);
    bool dropAddsTextures(const QPoint& at, const std::vector<std::string>& files) const;
    void buildArchiveMenu();
    // Notes what the archive just read holds (flavour, gaps) for the status
    // line and the edits' items.
    void noteArchive(const ArchiveContents& archive);
    // The entries the rows stand for in `entries` (the archive as read now);
    // when one no longer does, `editor` (holding the archive) is let go, the
    // archive is read again and EEntryEditError says that nothing was changed.
    std::vector<DirectoryEntry> entriesOfRows(const std::vector<DirectoryEntry>& entries, const std::vector<int>& rows,
                                              std::unique_ptr<ArchiveEditor>* editor = nullptr);
    // Opens the archive for an edit (telling what its recovery did).
    std::unique_ptr<ArchiveEditor> openEditor();
    // Reads the archive as it is now (an interrupted change undone first,
    // and told).
    ArchiveContents readArchiveNow();
    // Says what an edit did, in the status bar.
    void tell(const std::string& text);
    void requireEditable() const;
    bool dropAddsFiles(const QPoint& at, const std::vector<std::string>& files) const;

    std::unique_ptr<UserDialogs> dialogs_;
    bool shownOnce_ = false;
    std::string openedFile_;  // the file Open last opened in full
    ArchiveFlavour openedFlavour_ = ArchiveFlavour::Directory;
    std::optional<ArchiveInfo> openedInfo_;  // what the open archive holds (none: its data file cannot be read)
    std::string openedInfoProblem_;          // why not
    std::string entrySortField_;             // the field the entry list was last sorted on
    std::string textureSortField_;           // the same for the texture list of the current entry
    // A texture that RxMAfterScroll makes current instead of the last one
    // (ReloadArchive keeps the texture that was current): its name and Pos.
    std::optional<std::pair<std::string, int64_t>> textureToKeep_;
    std::string lastExtractFolder_;
    // The folder of the last Export all or Import folder: where both start.
    std::string lastBatchFolder_;
    ExportAllChoices exportAllChoices_;
    ImportFolderChoices importFolderChoices_;
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
