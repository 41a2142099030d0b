// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/main_form.h"

#include "app/error_box.h"
#include "app/qt_user_dialogs.h"
#include "app/tool_bar.h"
#include "archive/archive.h"
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "formats/archive_directory.h"
#include "formats/texture_dictionary.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "imaging/ui/alpha_icon.h"
#include "platform/cancellation.h"
#include "platform/environment.h"
#include "platform/graphic.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "texture/sectioned_import.h"
#include "texture/texture_import.h"
#include "texture/texture_levels.h"
#include "texture/texture_tga.h"
#include "texture/ui/form_image.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSpinBox>
#include <QSplitterHandle>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <qdrawutil.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

// ---- splitter ----

namespace {
class BevelSplitterHandle : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        qDrawShadePanel(&p, rect(), palette(), false, 1);
    }
};

// Undoes, on every way out of Open, what the load set up: a row left half
// built, the entry grid's suspension and the LoadingDirectory flag, so a
// failed load cannot leave the entry table's handler silenced or its grid
// frozen.
class OpenScope {
public:
    explicit OpenScope(TForm1& form) : form_(form) {}
    ~OpenScope()
    {
        form_.LoadingDirectory = false;
        try {
            if (form_.RxM->State() != TableState::Browsing)
                form_.RxM->Cancel();
        } catch (...) {
            // Already on the way out with the first error; the user sees that one.
        }
        // The suspension, when still running, is resumed by its guard.
    }
    void suspend() { suspended_.emplace(*form_.RxM); }
    void resume()
    {
        if (suspended_) {
            suspended_->resume();
            suspended_.reset();
        }
    }

private:
    TForm1& form_;
    std::optional<RecordTable::SuspendGuard> suspended_;
};

std::vector<GridColumn> gridColumns(const std::vector<TableColumn>& columns)
{
    std::vector<GridColumn> out;
    for (const TableColumn& c : columns)
        out.push_back({c.field, c.width});
    return out;
}
}  // namespace

BevelSplitter::BevelSplitter(Qt::Orientation orientation, QWidget* parent) : QSplitter(orientation, parent) {}

QSplitterHandle* BevelSplitter::createHandle()
{
    return new BevelSplitterHandle(orientation(), this);
}

void BevelSplitter::resizeEvent(QResizeEvent* event)
{
    QSplitter::resizeEvent(event);
    if (onResized)
        onResized();
}

SideSplitterBar::SideSplitterBar(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::SplitHCursor);
    setToolTip(QStringLiteral("Drag to widen or narrow the entry list"));
    parent->installEventFilter(this);
    setGeometry(0, 0, TForm1::kSplitterWidth, parent->height());
    raise();
}

bool SideSplitterBar::eventFilter(QObject* watched, QEvent* event)
{
    // Along the parent's left edge, over whatever the parent lays out there.
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        setGeometry(0, 0, TForm1::kSplitterWidth, parentWidget()->height());
        raise();
    }
    return QWidget::eventFilter(watched, event);
}

void SideSplitterBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    qDrawShadePanel(&p, rect(), palette(), false, 1);
}

void SideSplitterBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragStart_ = qRound(event->globalPosition().x());
    if (onDragStart)
        onDragStart();
}

void SideSplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    if (dragStart_ && onDrag)
        onDrag(qRound(event->globalPosition().x()) - *dragStart_);
}

void SideSplitterBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        dragStart_.reset();
}

// ---- form ----

TForm1::TForm1(std::unique_ptr<UserDialogs> dialogs, QWidget* parent) : QWidget(parent), dialogs_(std::move(dialogs))
{
    if (!dialogs_)
        dialogs_ = std::make_unique<QtUserDialogs>(this);

    setWindowTitle(QString::fromUtf8(kCaption));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    RxM = makeEntryTable();
    QueryTXD = makeTextureTable();
    RxM->SetAfterScroll([this](RecordTable& t) { RxMAfterScroll(t); });
    QueryTXD->SetAfterScroll([this](RecordTable& t) { QueryTXDAfterScroll(&t); });

    OD.filter = "Ostrel Resources|*.dir;*.txd";
    // The single-file archive, offered beside the archive directories and
    // dictionaries (a data file of the older kind opens through its .dir).
    OD.extraFilters = "Ostrel archive|*.img";
    SD.overwritePrompt = false;
    OD.fileMustExist = false;
    SD.filter = "Targa Image|*.tga";
    SD.extraFilters = "PNG Image|*.png";
    SD.defaultExt = ".tga";
    OpenPictureDialog.fileMustExist = true;

    buildToolBar();
    buildLayout();
    applyDesignGeometry();
    updateArchiveItems();

    qApp->installEventFilter(this);
    FormCreate();
    // After the picture-open dialog's filter is built: the preview dialog
    // registers the formats that stay out of that filter.
    FormImage = new TFormImage(this);
    FormImage->hide();
    FormImage->ImageScrollBox->setGuard([this](const std::function<void()>& h) { guard(h); });
    // Pictures made into textures: every format that can be read.
    ODAddTexture.filter = BuildPictureFilter(TGraphic::classInfo);
    ODNewDictionary.filter = ODAddTexture.filter;
    setAcceptDrops(true);
}

TForm1::~TForm1()
{
    qApp->removeEventFilter(this);
    // The grids observe the tables: let them go before the tables do.
    RxM->SetAfterScroll(nullptr);
    QueryTXD->SetAfterScroll(nullptr);
    delete Grid;
    delete GridTXD;
    Grid = nullptr;
    GridTXD = nullptr;
}

void TForm1::setDialogs(std::unique_ptr<UserDialogs> dialogs)
{
    dialogs_ = dialogs ? std::move(dialogs) : std::make_unique<QtUserDialogs>(this);
}

void TForm1::guard(const std::function<void()>& handler)
{
    runGuarded(*dialogs_, handler);
}

void TForm1::buildToolBar()
{
    ToolBar1 = new WrapToolBar(this);
    BtnExit = ToolBar1->addButton(exitIcon(), QString(), QStringLiteral("Exit"));
    BtnOpen = ToolBar1->addButton(openIcon(), QString(), QStringLiteral("Open"));
    ToolBar1->addSeparator();
    BtnSaveTGA = ToolBar1->addButton(saveTgaIcon(), QStringLiteral("Save as TGA"), QString());
    ToolBar1->addSeparator();
    BtnZoom = new ToggleToolButton(ToolBar1);
    BtnZoom->setIcon(fitHeightIcon());
    BtnZoom->setText(QStringLiteral("Fit Height"));
    BtnZoom->setCheckable(true);
    BtnZoom->setChecked(false);
    ToolBar1->addWidget(BtnZoom);
    BtnImport = ToolBar1->addButton(importIcon(), QStringLiteral("Import Texture"), QString());
    BtnSaveTGA->setEnabled(false);
    BtnImport->setEnabled(false);
    ToolBar1->addSeparator();
    BtnAlpha = ToolBar1->addButton(AlphaIcon(), QStringLiteral("Alpha"),
                                   QStringLiteral("Show the texture's alpha over a checkerboard"));
    BtnAlpha->setCheckable(true);
    // Off at start: a first look shows the opaque colours.
    BtnAlpha->setChecked(false);
    LabelLevel = new QLabel(QStringLiteral(" Level "));
    ToolBar1->addControl(LabelLevel);
    SpinLevel = new QSpinBox;
    SpinLevel->setObjectName(QStringLiteral("SpinLevel"));
    SpinLevel->setRange(0, 0);
    SpinLevel->setEnabled(false);
    SpinLevel->setToolTip(QStringLiteral("The mip level shown (Alt+Page Up, Alt+Page Down)"));
    ToolBar1->addControl(SpinLevel);
    ToolBar1->addSeparator();
    buildArchiveMenu();
    BtnArchive = new QToolButton;
    BtnArchive->setIcon(archiveIcon());
    BtnArchive->setText(QStringLiteral("Archive"));
    BtnArchive->setToolTip(QStringLiteral("Change the archive's entries"));
    BtnArchive->setMenu(MenuArchive);
    BtnArchive->setPopupMode(QToolButton::InstantPopup);
    ToolBar1->addWidget(BtnArchive);
    BtnUndo = new QToolButton;
    BtnUndo->setDefaultAction(ActUndo);
    ToolBar1->addWidget(BtnUndo);
    BtnRedo = new QToolButton;
    BtnRedo->setDefaultAction(ActRedo);
    ToolBar1->addWidget(BtnRedo);
    // Icons only on the toolbar: the change's name is in the tool tip.
    BtnUndo->setToolButtonStyle(Qt::ToolButtonIconOnly);
    BtnRedo->setToolButtonStyle(Qt::ToolButtonIconOnly);

    connect(BtnExit, &QToolButton::clicked, this, [this] { guard([this] { BtnExitClick(); }); });
    connect(BtnOpen, &QToolButton::clicked, this, [this] { guard([this] { BtnOpenClick(); }); });
    connect(BtnSaveTGA, &QToolButton::clicked, this, [this] { guard([this] { BtnSaveTGAClick(); }); });
    connect(BtnZoom, &QToolButton::clicked, this, [this] { guard([this] { BtnZoomClick(); }); });
    connect(BtnImport, &QToolButton::clicked, this, [this] { guard([this] { BtnImportClick(); }); });
    connect(BtnAlpha, &QToolButton::clicked, this, [this] { guard([this] { BtnAlphaClick(); }); });
    connect(SpinLevel, &QSpinBox::valueChanged, this,
            [this](int level) { guard([this, level] { ShowLevel(level); }); });
}

void TForm1::buildArchiveMenu()
{
    SDNewArchive.title = "New archive";
    SDNewArchive.filter = "Ostrel archive directory|*.dir";
    SDNewArchive.extraFilters = "Ostrel archive|*.img";
    SDNewArchive.defaultExt = ".dir";
    // An existing archive is never replaced: the core refuses, saying so.
    SDNewArchive.overwritePrompt = false;
    ODAdd.filter = "All files|*";
    ODAdd.fileMustExist = true;
    ODReplace = ODAdd;
    FDExtract.title = "Extract to";

    MenuArchive = new QMenu(this);
    MenuArchive->setObjectName(QStringLiteral("MenuArchive"));
    const auto add = [this](const QString& text, const QString& shortcut, void (TForm1::*handler)()) {
        QAction* action = MenuArchive->addAction(text);
        if (!shortcut.isEmpty())
            action->setShortcut(QKeySequence(shortcut));
        // The keys are the window's and the grid's own (CommandKey,
        // RecordGrid); the menu only shows them.
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, [this, handler] { guard([this, handler] { (this->*handler)(); }); });
        return action;
    };
    ActUndo = add(QStringLiteral("Undo"), QStringLiteral("Ctrl+Z"), &TForm1::BtnUndoClick);
    ActUndo->setIcon(undoIcon());
    ActRedo = add(QStringLiteral("Redo"), QStringLiteral("Ctrl+Shift+Z"), &TForm1::BtnRedoClick);
    ActRedo->setIcon(redoIcon());
    MenuArchive->addSeparator();
    ActNewArchive = add(QStringLiteral("New archive\u2026"), QString(), &TForm1::BtnNewArchiveClick);
    MenuArchive->addSeparator();
    ActAdd = add(QStringLiteral("Add\u2026"), QString(), &TForm1::BtnAddClick);
    ActReplace = add(QStringLiteral("Replace\u2026"), QString(), &TForm1::BtnReplaceClick);
    ActExtract = add(QStringLiteral("Extract\u2026"), QString(), &TForm1::BtnExtractClick);
    ActRename = add(QStringLiteral("Rename"), QStringLiteral("F2"), &TForm1::BtnRenameClick);
    ActRemove = add(QStringLiteral("Remove from archive"), QStringLiteral("Shift+Del"), &TForm1::BtnRemoveClick);
    MenuArchive->addSeparator();
    ActRebuild = add(QStringLiteral("Rebuild"), QString(), &TForm1::BtnRebuildClick);

    // Every texture of the open file at once, to and from a folder of pictures.
    FDExportAll.title = "Export all textures to";
    FDImportFolder.title = "Import pictures from";
    MenuArchive->addSeparator();
    ActExportAll = add(QStringLiteral("Export all\u2026"), QString(), &TForm1::BtnExportAllClick);
    ActImportFolder = add(QStringLiteral("Import folder\u2026"), QString(), &TForm1::BtnImportFolderClick);

    // The textures of the current entry's dictionary.
    ODAddTexture.fileMustExist = true;
    ODNewDictionary.fileMustExist = true;
    ODNewDictionary.title = "Pictures for a new dictionary";
    SDNewDictionary.title = "New dictionary";
    SDNewDictionary.filter = "Texture dictionary|*.txd";
    SDNewDictionary.extraFilters = "Texture dictionary, older header (no DXT5)|*.txd";
    SDNewDictionary.defaultExt = ".txd";
    SDNewDictionary.overwritePrompt = false;  // an existing file is never replaced
    MenuArchive->addSeparator();
    ActAddTexture = add(QStringLiteral("Add texture\u2026"), QString(), &TForm1::BtnAddTextureClick);
    ActRenameTexture = add(QStringLiteral("Rename texture"), QStringLiteral("F2"), &TForm1::BtnRenameTextureClick);
    ActRemoveTexture =
        add(QStringLiteral("Remove texture"), QStringLiteral("Shift+Del"), &TForm1::BtnRemoveTextureClick);
    ActNewDictionary = add(QStringLiteral("New dictionary\u2026"), QString(), &TForm1::BtnNewDictionaryClick);
}

void TForm1::buildLayout()
{
    Grid = new RecordGrid(*RxM, gridColumns(entryGridColumns()), this);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->setFixedWidth(kEntryGridWidth);
    Grid->setSeveralRowsAllowed(true);
    Grid->setMarksChanged([this] { updateEntryStatus(); });
    Grid->setRemoveRequested([this] { BtnRemoveClick(); });
    Grid->setEditRequested([this] { BtnRenameClick(); });

    // Under the entry grid, as wide as it: what the archive holds.
    EntryStatus = new QLabel(this);
    EntryStatus->setObjectName(QStringLiteral("EntryStatus"));
    EntryStatus->setTextFormat(Qt::PlainText);
    EntryStatus->setWordWrap(true);
    EntryStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    EntryStatus->setContentsMargins(3, 1, 3, 1);
    EntryStatus->hide();

    Panel1 = new QWidget(this);
    Splitter1 = new BevelSplitter(Qt::Vertical, Panel1);
    Splitter1->setHandleWidth(kSplitterWidth);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setOpaqueResize(true);

    GridTXD = new RecordGrid(*QueryTXD, gridColumns(textureGridColumns()), Splitter1);
    GridTXD->setObjectName(QStringLiteral("GridTXD"));

    ImageScrollBox1 = new TImageScrollBox(Splitter1);
    ImageScrollBox1->setObjectName(QStringLiteral("ImageScrollBox1"));
    ImageScrollBox1->setMinimumHeight(1);
    ImageScrollBox1->SetAntiAliased(true);
    ImageScrollBox1->SetCentered(true);
    ImageScrollBox1->setGuard([this](const std::function<void()>& h) { guard(h); });

    Splitter1->addWidget(GridTXD);
    Splitter1->addWidget(ImageScrollBox1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    textureGridHeight_ =
        kDesignHeight - (WrapToolBar::kButtonHeight + 2 * WrapToolBar::kMargin) - kSplitterWidth - kImageViewHeight;
    Splitter1->onResized = [this] { layoutTextureSplit(); };
    connect(Splitter1, &QSplitter::splitterMoved, this, [this] {
        const QList<int> sizes = Splitter1->sizes();
        splitterMoved_ = true;
        textureGridHeight_ = sizes.value(0);
        imageViewFloor_ = std::min(kImageViewHeight, sizes.value(1));
    });
    ImageScrollBox1->SetShowAlpha(BtnAlpha->isChecked());
    connect(ImageScrollBox1, &TImageScrollBox::zoomStepped, this, [this] { afterZoomChange(); });
    connect(ImageScrollBox1, &TImageScrollBox::redrawn, this, [this] { updateZoomStatus(); });

    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    panelLayout->addWidget(Splitter1);

    auto* entryColumn = new QVBoxLayout;
    entryColumn->setContentsMargins(0, 0, 0, 0);
    entryColumn->setSpacing(0);
    entryColumn->addWidget(Grid, 1);
    entryColumn->addWidget(EntryStatus);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addLayout(entryColumn);
    body->addWidget(Panel1, 1);

    // Between the entry grid and the panel: a bar over the panel's left edge,
    // so that both keep the design's places.
    Splitter2 = new SideSplitterBar(Panel1);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->onDragStart = [this] { entryBarStartWidth_ = Grid->width(); };
    Splitter2->onDrag = [this](int dx) { moveEntryBar(dx); };

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusFile = new QLabel;
    StatusTexture = new QLabel;
    StatusZoom = new QLabel;
    for (QLabel* label : {StatusFile, StatusTexture, StatusZoom})
        label->setTextFormat(Qt::PlainText);
    StatusBar1->addWidget(StatusFile);
    StatusBar1->addWidget(StatusTexture, 1);
    StatusBar1->addPermanentWidget(StatusZoom);
    StatusBar1->hide();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(ToolBar1);
    outer->addLayout(body, 1);
    outer->addWidget(StatusBar1);

    for (RecordGrid* grid : {Grid, GridTXD}) {
        grid->setGuard([this](const std::function<void()>& h) { guard(h); });
        grid->setDeleteConfirmation([this] { return dialogs().confirm("Confirm", "Delete record?"); });
        grid->setAfterUserDelete([this, grid] { afterUserDelete(grid); });
    }
    Grid->setTitleClickHandler([this](int column) { GridTitleBtnClick(column); });
    GridTXD->setTitleClickHandler([this](int column) { GridTXDTitleBtnClick(column); });
    GridTXD->setRemoveRequested([this] { BtnRemoveTextureClick(); });
    GridTXD->setEditRequested([this] { BtnRenameTextureClick(); });
}

QSize TForm1::firstSize(const QRect& available)
{
    // The design's proportions, scaled until one side takes two thirds of
    // the screen's; a screen with less room than that gets the design size.
    const double scale = std::max(
        1.0, std::min(available.width() * 2.0 / 3.0 / kDesignWidth, available.height() * 2.0 / 3.0 / kDesignHeight));
    return QSize(int(std::lround(kDesignWidth * scale)), int(std::lround(kDesignHeight * scale)));
}

void TForm1::applyDesignGeometry()
{
    // Sizes are outer sizes; the frame the window manager adds is taken off
    // once it is known (showEvent).
    setMinimumSize(kMinWidth, kMinHeight);
    QSize size(kDesignWidth, kDesignHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        size = firstSize(avail);
        resize(size);
        move(avail.center() - QPoint(size.width() / 2, size.height() / 2));
    } else {
        resize(size);
    }
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    QTimer::singleShot(0, this, [this] {
        const QRect frame = frameGeometry();
        const int dw = frame.width() - width();
        const int dh = frame.height() - height();
        if (dw <= 0 && dh <= 0)
            return;
        frameHeight_ = std::max(0, dh);
        // The texture list's design height, in a window whose outer height
        // holds the frame as well.
        if (!splitterMoved_)
            textureGridHeight_ -= frameHeight_;
        QScreen* s = screen();
        const QRect avail = s ? s->availableGeometry() : QRect(0, 0, kDesignWidth, kDesignHeight);
        const QSize size = s ? firstSize(avail) : QSize(kDesignWidth, kDesignHeight);
        setMinimumSize(std::max(1, kMinWidth - dw), std::max(1, kMinHeight - dh));
        resize(size.width() - dw, size.height() - dh);
        if (s)
            move(avail.center() - QPoint(size.width() / 2, size.height() / 2));
    });
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The status bar and the entry list's status line take no height from
    // the design's layout: they show in a window taller than the design.
    const bool taller = height() + frameHeight_ > kDesignHeight;
    StatusBar1->setVisible(taller);
    EntryStatus->setVisible(taller);
}

void TForm1::layoutTextureSplit()
{
    const int available = Splitter1->height() - Splitter1->handleWidth();
    if (available < 2)
        return;
    const int view = std::clamp(std::max(imageViewFloor_, available - textureGridHeight_), 1, available - 1);
    const QList<int> wanted{available - view, view};
    if (Splitter1->sizes() != wanted)
        Splitter1->setSizes(wanted);
}

void TForm1::moveEntryBar(int dx)
{
    const int most = std::max(kMinEntryGridWidth, width() - kMinPanelWidth);
    Grid->setFixedWidth(std::clamp(entryBarStartWidth_ + dx, kMinEntryGridWidth, most));
}

void TForm1::FormCreate()
{
    SearchText.clear();
    // The formats registered so far: the picture container's own and the
    // library's; those the import preview registers later stay out of it.
    OpenPictureDialog.filter = BuildPictureFilter(TGraphic::classInfo);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        // Each key once: at the widget it is first delivered to (key events
        // that a child ignores travel on to its parents).
        QWidget* focus = QApplication::focusWidget();
        auto* key = static_cast<QKeyEvent*>(event);
        // The same event travelling on to a parent after a handler ran (the
        // focus may have gone meanwhile, with a dialog that opened and closed).
        const bool travelling = key == previewedKey_ && key->timestamp() == previewedKeyTime_ && previewedKeyWidget_
                                && previewedKeyWidget_ != widget && widget->isAncestorOf(previewedKeyWidget_);
        if (!travelling && widget->window() == this && (focus ? widget == focus : widget == this)) {
            previewedKey_ = key;
            previewedKeyTime_ = key->timestamp();
            previewedKeyWidget_ = widget;
            const int code = key->key();
            const Qt::KeyboardModifiers shift = key->modifiers();
            guard([&] { FormKeyDown(code, shift); });
            // The window's own commands take their keys: a grid does not
            // move a page on Alt+Page Down as well. A name being edited in
            // a grid keeps its keys (Ctrl+Z undoes typing there).
            bool command = false;
            const auto editing = [widget](RecordGrid* grid) {
                return grid->cellEditor() && widget == static_cast<QWidget*>(grid->cellEditor());
            };
            if (!editing(Grid) && !editing(GridTXD))
                guard([&] { command = CommandKey(code, shift); });
            if (command)
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool TForm1::CommandKey(int key, Qt::KeyboardModifiers shift)
{
    if (key == Qt::Key_Z) {
        const Qt::KeyboardModifiers all = shift & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
        if (all == Qt::ControlModifier) {
            if (ActUndo->isEnabled())
                BtnUndoClick();
            return true;
        }
        if (all == (Qt::ControlModifier | Qt::ShiftModifier)) {
            if (ActRedo->isEnabled())
                BtnRedoClick();
            return true;
        }
    }
    const Qt::KeyboardModifiers mods = shift & (Qt::ControlModifier | Qt::AltModifier);
    if (mods == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_Plus:
        case Qt::Key_Equal: ZoomInClick(); return true;
        case Qt::Key_Minus: ZoomOutClick(); return true;
        case Qt::Key_0: ZoomOriginalClick(); return true;
        case Qt::Key_O: BtnOpenClick(); return true;
        default: return false;
        }
    }
    if (mods == Qt::AltModifier && (key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        LevelStep(key == Qt::Key_PageUp ? -1 : 1);
        return true;
    }
    return false;
}

void TForm1::BtnExitClick()
{
    close();
}

void TForm1::BtnZoomClick()
{
    BtnZoom->setChecked(!BtnZoom->isChecked());
    ImageScrollBox1->SetZoomMode(BtnZoom->isChecked() ? zmFitHeight : zmOriginalSize);
    updateZoomStatus();
}

void TForm1::BtnAlphaClick()
{
    ImageScrollBox1->SetShowAlpha(BtnAlpha->isChecked());
}

void TForm1::ZoomInClick()
{
    ImageScrollBox1->ZoomBy(1);
    afterZoomChange();
}

void TForm1::ZoomOutClick()
{
    ImageScrollBox1->ZoomBy(-1);
    afterZoomChange();
}

void TForm1::ZoomOriginalClick()
{
    ImageScrollBox1->SetZoomMode(zmOriginalSize);
    afterZoomChange();
}

void TForm1::afterZoomChange()
{
    // "Fit Height" is down exactly while the view fits the height.
    BtnZoom->setChecked(ImageScrollBox1->ZoomMode() == zmFitHeight);
    updateZoomStatus();
}

void TForm1::setLevelSelector(int levels)
{
    const QSignalBlocker quiet(SpinLevel);
    SpinLevel->setRange(0, std::max(0, levels - 1));
    SpinLevel->setValue(0);
    SpinLevel->setEnabled(levels > 1);
    shownLevel_ = 0;
}

void TForm1::LevelStep(int delta)
{
    if (SpinLevel->isEnabled())
        SpinLevel->setValue(std::clamp(SpinLevel->value() + delta, SpinLevel->minimum(), SpinLevel->maximum()));
}

void TForm1::ShowLevel(int level)
{
    if (level == 0) {
        ShowPic();
        return;
    }
    const TextureRef texture = currentTextureRef(*QueryTXD);
    if (level >= textureLevelCount(texture))
        return;
    setBusyCursor(true);
    TextureLevel pixels;
    {
        TFileStream file(ArchiveFileName, FileMode::OpenReadShareDenyWrite);
        pixels = readTextureLevel(file, texture, level);
    }
    if (pixels.problem != TextureProblem::None) {
        clearImageView();
    } else {
        TMemoryStream stream(tgaOfTextureLevel(pixels));
        ImageScrollBox1->LoadFromStream(stream, "TGA", 1, true);
    }
    shownLevel_ = level;
    {
        const QSignalBlocker quiet(SpinLevel);
        SpinLevel->setValue(level);
    }
    setBusyCursor(false);
    updateStatus();
}

void TForm1::GridTitleBtnClick(int column)
{
    entrySortField_ = Grid->columnField(column);
    RxM->SortOnField(Grid->columnField(column));
}

void TForm1::GridTXDTitleBtnClick(int column)
{
    QueryTXD->SortOnField(GridTXD->columnField(column));
    textureSortField_ = GridTXD->columnField(column);
}

void TForm1::setTextureItemsEnabled(bool enabled)
{
    BtnSaveTGA->setEnabled(enabled);
    BtnImport->setEnabled(enabled);
}

void TForm1::clearImageView()
{
    ImageScrollBox1->Clear();
}

void TForm1::afterUserDelete(RecordGrid* grid)
{
    // With no texture left there is nothing to save or import over.
    if (grid == GridTXD && QueryTXD->IsEmpty())
        setTextureItemsEnabled(false);
    updateArchiveItems();
    updateEntryStatus();
    updateStatus();
}

void TForm1::BtnOpenClick()
{
    const std::optional<std::string> chosen = dialogs().openFile(OD);
    if (!chosen)
        return;
    OpenArchive(*chosen);
}

void TForm1::OpenArchive(const std::string& path)
{
    setWindowTitle(QString::fromUtf8(kCaption));
    openedFile_.clear();
    openedInfo_.reset();
    entrySortField_.clear();
    Grid->closeCellEditor();
    GridTXD->closeCellEditor();
    StatusBar1->clearMessage();
    RxM->Empty();
    QueryTXD->Empty();
    setTextureItemsEnabled(false);
    clearImageView();

    const ArchiveContents located = locateArchive(path);
    ArchivePath = path;
    ArchiveFileName = located.dataFile;
    StandaloneTxd = located.standalone;
    updateArchiveItems();
    updateEntryStatus();

    setBusyCursor(true);
    OpenScope load(*this);
    // Recovered and read through the archive core (under the shared lock),
    // before LoadingDirectory is set: a file that cannot be opened leaves the
    // flag false. The file is closed again before a row is made current below.
    Recovery recovery;
    const ArchiveContents archive = openArchive(path, &recovery);
    if (recovery.restored)
        dialogs().messageBox(kApplicationTitle, recovery.message(ArchivePath));
    if (!StandaloneTxd) {
        LoadingDirectory = true;
        load.suspend();
    }
    fillEntryTable(*RxM, archive);
    RxM->First();
    load.resume();
    setBusyCursor(false);
    LoadingDirectory = false;
    openedFile_ = path;
    Grid->clearMarks();
    noteArchive(archive);
    setWindowTitle(QString::fromUtf8(kCaption) + QStringLiteral(" - ")
                   + QFileInfo(QString::fromStdString(path)).fileName());
    updateStatus();
    Grid->setFocus();
}

void TForm1::noteArchive(const ArchiveContents& archive)
{
    openedFlavour_ = archive.flavour;
    openedInfo_.reset();
    openedInfoProblem_.clear();
    // What the status line says; an archive whose data file cannot be read
    // is still listed, as the directory has it.
    try {
        TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
        openedInfo_ = archiveInfo(archive, data);
    } catch (const Exception& e) {
        openedInfoProblem_ = e.message();
    }
    updateArchiveItems();
    updateEntryStatus();
}

void TForm1::ReloadArchive(const std::optional<std::string>& entryName,
                           const std::optional<std::pair<std::string, int64_t>>& textureWanted)
{
    if (openedFile_.empty())
        return;
    Grid->closeCellEditor();
    GridTXD->closeCellEditor();
    // What stays current: the entry by its name (and Pos, for names the
    // archive holds twice), else the row at the same place; the texture by
    // its name likewise.
    const int row = RxM->CurrentIndex();
    std::string keepName;
    int64_t keepPos = 0;
    if (entryName) {
        keepName = *entryName;
    } else if (!RxM->IsEmpty()) {
        const DirectoryEntry current = currentEntry(*RxM);
        keepName = current.name;
        keepPos = current.pos;
    }
    std::optional<std::pair<std::string, int64_t>> texture = textureWanted;
    if (!texture && !QueryTXD->IsEmpty() && QueryTXD->CurrentIndex() >= 0)
        texture = std::make_pair(QueryTXD->FieldByName(TextureField::kName).AsString(),
                                 QueryTXD->FieldByName(TextureField::kPos).AsInteger());
    const std::string textureSort = textureSortField_;

    setBusyCursor(true);
    Recovery recovery;
    const ArchiveContents archive = openArchive(ArchivePath, &recovery);
    if (recovery.restored)
        dialogs().messageBox(kApplicationTitle, recovery.message(ArchivePath));
    {
        OpenScope load(*this);
        // One AfterScroll at the end, for the row that is current then.
        LoadingDirectory = true;
        load.suspend();
        RxM->Empty();
        fillEntryTable(*RxM, archive);
        if (!entrySortField_.empty() && !RxM->IsEmpty())
            RxM->SortOnField(entrySortField_);
        int target = -1;
        const int name = RxM->FieldIndex(EntryField::kName);
        const int pos = RxM->FieldIndex(EntryField::kPos);
        for (int r = 0; r < RxM->RowCount() && !keepName.empty(); ++r) {
            if (RxM->RowText(r, name) != keepName)
                continue;
            if (target < 0 || RxM->RowInteger(r, pos) == keepPos)
                target = r;
        }
        if (target < 0 && row >= 0)
            target = std::min(row, RxM->RowCount() - 1);
        if (target >= 0)
            RxM->GoToRowNumber(target + 1);
        else
            RxM->First();
        load.resume();
    }
    setBusyCursor(false);
    Grid->clearMarks();
    noteArchive(archive);
    textureToKeep_ = texture;
    struct KeepScope {
        TForm1& form;
        ~KeepScope() { form.textureToKeep_.reset(); }
    } keepScope{*this};
    RxM->FireAfterScroll();
    if (!textureSort.empty() && !QueryTXD->IsEmpty()) {
        // Sorted again as it was, the current texture shown once.
        FillingTextures = true;
        struct Filling {
            TForm1& form;
            ~Filling() { form.FillingTextures = false; }
        } filling{*this};
        QueryTXD->SortOnField(textureSort);
        textureSortField_ = textureSort;
    }
    updateStatus();
}

void TForm1::RxMAfterScroll(RecordTable& /*table*/)
{
    if (LoadingDirectory)
        return;
    FillingTextures = true;
    textureSortField_.clear();
    GridTXD->closeCellEditor();
    QueryTXD->Empty();
    setTextureItemsEnabled(false);
    setLevelSelector(0);
    updateTextureItems();
    if (!entryIsTextureDictionary(currentEntry(*RxM).name)) {
        clearImageView();
        updateStatus();
        return;
    }

    setBusyCursor(true);
    RecoverArchive();
    const DirectoryEntry entry = currentEntry(*RxM);
    TextureListing listing;
    {
        // Read under the shared lock; the file is closed before anything is
        // shown. No texture reaches past its entry's end.
        TFileStream file(ArchiveFileName, FileMode::OpenReadShareDenyWrite);
        const int64_t fileSize = file.Size();
        listing = readTextureDictionary(file, entry.offset, StandaloneTxd ? fileSize : entryEnd(entry, fileSize));
    }
    fillTextureTable(*QueryTXD, listing, entry.pos);
    if (textureToKeep_) {
        // Read again after a change: the texture that was current stays so;
        // one that went is followed by the texture that took its place.
        const int name = QueryTXD->FieldIndex(TextureField::kName);
        const int pos = QueryTXD->FieldIndex(TextureField::kPos);
        int target = -1;
        for (int r = 0; r < QueryTXD->RowCount(); ++r) {
            if (QueryTXD->RowText(r, name) != textureToKeep_->first)
                continue;
            if (target < 0 || QueryTXD->RowInteger(r, pos) == textureToKeep_->second)
                target = r;
        }
        for (int r = 0; r < QueryTXD->RowCount() && target < 0; ++r)
            if (QueryTXD->RowInteger(r, pos) == textureToKeep_->second)
                target = r;
        if (target >= 0)
            QueryTXD->MoveBy(target - QueryTXD->CurrentIndex());
    }
    FillingTextures = false;
    setBusyCursor(false);
    updateTextureItems();
    if (!QueryTXD->IsEmpty()) {
        setTextureItemsEnabled(true);
        ShowPic();
    } else {
        clearImageView();
    }
    updateStatus();
}

void TForm1::RecoverArchive()
{
    // Under the same exclusive lock as an import; told once, when bytes were
    // written back.
    const Recovery recovery = recoverArchive(locateArchive(ArchivePath));
    if (recovery.restored)
        dialogs().messageBox(kApplicationTitle, recovery.message(ArchivePath));
}

void TForm1::QueryTXDAfterScroll(RecordTable* /*table*/)
{
    if (!FillingTextures)
        ShowPic();
}

void TForm1::ShowPic()
{
    const TextureRef texture = currentTextureRef(*QueryTXD);
    // Each texture is shown at its first level.
    setLevelSelector(textureLevelCount(texture));
    // No row, or a texture whose data cannot be reached: nothing to show,
    // and nothing outside the texture is ever read.
    if (textureRowProblem(texture) != TextureProblem::None) {
        clearImageView();
        updateStatus();
        return;
    }
    setBusyCursor(true);
    TextureTga tga;
    {
        TFileStream file(ArchiveFileName, FileMode::OpenReadShareDenyWrite);
        tga = buildTextureTga(file, texture);
    }
    if (tga.problem != TextureProblem::None) {
        clearImageView();
    } else {
        // With its alpha beside the colours, for the checkerboard.
        TMemoryStream stream(std::move(tga.bytes));
        ImageScrollBox1->LoadFromStream(stream, "TGA", 1, true);
    }
    setBusyCursor(false);
    updateStatus();
}

void TForm1::SaveTGA(const std::string& fileName)
{
    setBusyCursor(true);
    exportTextureTga(ArchiveFileName, currentTextureRef(*QueryTXD), fileName);
    setBusyCursor(false);
}

void TForm1::SavePNG(const std::string& fileName)
{
    setBusyCursor(true);
    exportTexturePng(ArchiveFileName, currentTextureRef(*QueryTXD), fileName);
    setBusyCursor(false);
}

void TForm1::BtnSaveTGAClick()
{
    const TextureRef texture = currentTextureRef(*QueryTXD);
    // Refused before the dialog: there is nothing that could be written.
    const TextureProblem problem = textureRowProblem(texture);
    if (problem != TextureProblem::None)
        throw ETextureError(textureProblemMessage(problem));
    FileDialogSetup dialog = SD;
    // A "/" in a texture name would make the proposal a path into a folder.
    QString proposed = fromCp1250(tgaFileNameForTexture(texture.name));
    proposed.replace(u'/', u'_');
    dialog.fileName = proposed.toStdString();
    const std::optional<SaveFileChoice> chosen = dialogs().saveFileChoosingFilter(dialog);
    if (!chosen)
        return;
    // TGA whatever the name, unless PNG was chosen: by its filter (the one
    // after the TGA filter) or by a ".png" name.
    if (chosen->filterIndex == 1 || asciiLower(fileExtension(chosen->fileName)) == ".png")
        SavePNG(chosen->fileName);
    else
        SaveTGA(chosen->fileName);
}

void TForm1::BtnImportClick()
{
    ImportTexture(std::nullopt);
}

void TForm1::ImportTexture(const std::optional<std::string>& pictureFile)
{
    TImageScrollBox& view = *FormImage->ImageScrollBox;
    const TextureRef texture = currentTextureRef(*QueryTXD);
    // The preview shows alpha as the main window does when it opens.
    FormImage->BtnAlpha->setChecked(BtnAlpha->isChecked());
    if (texture.sectioned) {
        ImportSectionedTexture(texture, pictureFile);
        return;
    }
    std::optional<std::string> chosen;
    // The picture is read and prepared off the user interface's thread, into
    // a picture of its own; the preview's view takes it when it is ready.
    std::unique_ptr<TDibGraphic> loaded;
    ImportDriver driver;
    driver.refuseSixteenBit = [this] { dialogs().messageBox(kApplicationTitle, kSixteenBitRefusal); };
    driver.choosePicture = [this, &pictureFile, &chosen]() -> std::optional<std::string> {
        chosen = pictureFile ? pictureFile : dialogs().openPicture(OpenPictureDialog);
        return chosen;
    };
    driver.loadPicture = [&loaded](const std::string& file, bool keepAlpha) -> TDibGraphic& {
        loaded = LoadPictureFromFile(file, 1, keepAlpha);
        return *loaded;
    };
    driver.runPreparation = [this, &chosen, &texture](const std::function<void()>& work) {
        const QString picture = QFileInfo(QString::fromStdString(chosen.value_or(std::string()))).fileName();
        runLongWork("Preparing " + picture.toStdString() + " for " + fromCp1250(texture.name).toStdString() + "...",
                    work);
    };
    ImportOptions options;
    options.exact = FormImage->CheckExact->isChecked();

    PreparedImport prepared;
    // Shows a prepared picture in the preview: its alpha beside it, so that
    // the checkerboard shows what a layout with alpha keeps.
    const auto preview = [&view, &loaded](PreparedImport& ready) {
        loaded->AlphaPlane = ready.alpha;
        ready.picture = loaded.get();
        view.TakePicture(std::move(loaded));
    };
    try {
        prepared = prepareImport(ArchiveFileName, texture, driver, options);
    } catch (const ECancelled&) {
        return;  // nothing was written
    }
    if (!prepared.ready)
        return;
    preview(prepared);
    FormImage->ShowChoices(false);
    FormImage->SizeForTexture(prepared.texture.width, prepared.texture.height);
    FormImage->SetTarget(QString::fromStdString(pictureTargetText(texture)));

    // "Keep pixels exactly" prepares the same picture again while the
    // preview is up; a cancelled preparation keeps the preview as it was.
    ImportDriver again = driver;
    again.refuseSixteenBit = nullptr;
    again.choosePicture = [&chosen] { return chosen; };
    FormImage->OnExactChanged = [this, &again, &prepared, &preview, &texture](bool exact) {
        guard([&] {
            ImportOptions changed;
            changed.exact = exact;
            // Whatever stops the preparation leaves the box as the preview is.
            const auto revert = [&] {
                const QSignalBlocker quiet(FormImage->CheckExact);
                FormImage->CheckExact->setChecked(!exact);
            };
            try {
                PreparedImport next = prepareImport(ArchiveFileName, texture, again, changed);
                if (next.ready) {
                    preview(next);
                    prepared = std::move(next);
                }
            } catch (const ECancelled&) {
                revert();
            } catch (...) {
                revert();
                throw;
            }
        });
    };
    struct ClearHook {
        TFormImage& form;
        ~ClearHook() { form.OnExactChanged = nullptr; }
    } clearHook{*FormImage};

    if (!dialogs().showImportPreview(*FormImage))
        return;
    const Recovery earlier = commitImport(ArchivePath, prepared, [&view](TDibGraphic& g) {
        if (view.OnBeforeSave)
            view.OnBeforeSave(view, g);
    });
    if (earlier.restored)
        dialogs().messageBox(kApplicationTitle, earlier.message(ArchivePath));
    QueryTXDAfterScroll(nullptr);
    // The import keeps an undo record.
    updateArchiveItems();
}

std::string TForm1::pictureTargetText(const TextureRef& texture, const TexelLayout* writes) const
{
    // The texture first (the line is cut at its end when the dialog is
    // narrow), its dictionary (the entry, or the file of a standalone
    // dictionary), the archive's data file, and what will be written.
    const QString name = fromCp1250(texture.name);
    const QString archive = QFileInfo(QString::fromStdString(ArchiveFileName)).fileName();
    QString where = archive;
    if (!StandaloneTxd && !RxM->IsEmpty())
        where = fromCp1250(currentEntry(*RxM).name) + QStringLiteral(" of ") + archive;
    const TexelLayout& written = writes ? *writes : texture.layout;
    QString layout = texture.sectioned                 ? QString::fromUtf8(texelFormatTypeName(written.format))
                     : importWritesTrueColour(texture) ? QStringLiteral("32bit")
                                                       : QStringLiteral("8bit paletted");
    if (texture.sectioned && written.levels > 1)
        layout += QStringLiteral(", %1 levels").arg(written.levels);
    return QStringLiteral("%1 in %2: %3x%4 %5")
        .arg(name, where)
        .arg(texture.sectioned ? written.width : texture.width)
        .arg(texture.sectioned ? written.height : texture.height)
        .arg(layout)
        .toStdString();
}

void TForm1::ImportSectionedTexture(const TextureRef& texture, const std::optional<std::string>& pictureFile)
{
    // Refused before any dialog, as every import is.
    checkImportTarget(ArchiveFileName, texture);
    const DirectoryEntry entry = currentEntry(*RxM);
    const int64_t texturePos = QueryTXD->FieldByName(TextureField::kPos).AsInteger();
    // Whether the dictionary can be rewritten, and the texture's header
    // platform; without it only the in-place import is offered.
    const RewritableTexture where =
        findRewritableTexture(ArchiveFileName, StandaloneTxd, entry, texturePos, texture.name);
    const std::optional<std::string> file = pictureFile ? pictureFile : dialogs().openPicture(OpenPictureDialog);
    if (!file)
        return;
    const std::string work = "Preparing " + QFileInfo(QString::fromStdString(*file)).fileName().toStdString() + " for "
                             + fromCp1250(texture.name).toStdString() + "...";
    const auto prepare = [&](const SectionedImportChoice& choice) {
        PreparedSectionedImport next;
        runLongWork(work,
                    [&] { next = prepareSectionedImport(ArchiveFileName, texture, where.platform, *file, choice); });
        return next;
    };

    SectionedImportChoice choice = ownChoiceOf(texture);
    choice.exact = FormImage->CheckExact->isChecked();
    choice.dxt = FormImage->Choice().dxt;  // as the last import left it
    PreparedSectionedImport prepared;
    try {
        prepared = prepare(choice);
    } catch (const ECancelled&) {
        return;  // nothing was written
    }
    const int64_t bytesNow = texelDataBytes(texture.layout);
    // Shows what the choice writes: level 0 of its bytes, their size, and
    // the line naming the target.
    const auto show = [&](PreparedSectionedImport& ready) {
        const TexelLayout& layout = ready.content.layout;
        FormImage->ImageScrollBox->TakePicture(std::move(ready.shown));
        FormImage->SetResult(QSize(layout.width, layout.height), int64_t(ready.content.data.size()), bytesNow);
        FormImage->SetTarget(QString::fromStdString(pictureTargetText(texture, &layout)));
    };
    FormImage->ShowChoices(true, QSize(texture.width, texture.height), prepared.pictureSize, where.platform,
                           where.rewritable ? QString() : QString::fromStdString(where.whyNot));
    FormImage->SetChoice(choice);
    show(prepared);
    FormImage->SizeForTexture(texture.width, texture.height);

    // Another choice is prepared while the preview is up; one cancelled or
    // refused puts the controls back to what the preview shows.
    FormImage->OnChoiceChanged = [&] {
        guard([&] {
            const SectionedImportChoice next = FormImage->Choice();
            try {
                PreparedSectionedImport ready = prepare(next);
                show(ready);
                prepared = std::move(ready);
                choice = next;
            } catch (const ECancelled&) {
                FormImage->SetChoice(choice);
            } catch (...) {
                FormImage->SetChoice(choice);
                throw;
            }
        });
    };
    struct ClearHook {
        TFormImage& form;
        ~ClearHook() { form.OnChoiceChanged = nullptr; }
    } clearHook{*FormImage};

    if (!dialogs().showImportPreview(*FormImage))
        return;
    if (prepared.inPlace) {
        // Today's import: the block written over the texture's bytes.
        const Recovery earlier = writeImportBlockToFile(ArchivePath, texture, prepared.content.data);
        if (earlier.restored)
            dialogs().messageBox(kApplicationTitle, earlier.message(ArchivePath));
        QueryTXDAfterScroll(nullptr);
        updateArchiveItems();
        return;
    }
    // Made again: the dictionary rewritten as one transaction.
    if (!where.rewritable)
        throw EDictionaryError(where.whyNot);
    std::unique_ptr<ArchiveEditor> editor = openEditor();
    const DirectoryEntry current = entriesOfRows(editor->contents().entries, {RxM->CurrentIndex()}, &editor).front();
    const TexelLayout layout = prepared.content.layout;
    DirectoryEntry after;
    runWork(
        "Writing " + displayName(texture.name) + " into " + displayName(current.name) + "...",
        [&](WorkProgress&) {
            after = writeRebuiltTexture(*editor, current, where.index, texture.name, where.platform,
                                        std::move(prepared.content));
        },
        false);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    ReloadArchive(current.name);
    std::string told = "1 texture imported into " + displayName(current.name) + ": " + displayName(texture.name) + ", "
                       + std::to_string(layout.width) + " x " + std::to_string(layout.height) + " "
                       + texelFormatName(layout.format) + ", " + std::to_string(layout.levels)
                       + (layout.levels == 1 ? " level" : " levels");
    if (after.offset != current.offset)
        told += "; the entry moved to offset " + std::to_string(after.offset);
    tell(told + (unkept ? "; no undo record could be kept" : ""));
}

void TForm1::runLongWork(const std::string& text, const std::function<void()>& work)
{
    if (runWork(
            text, [&work](WorkProgress&) { work(); }, true)
        != WorkEnd::Done)
        throw ECancelled("Cancelled");
}

void TForm1::WorkProgress::set(int64_t done, int64_t total)
{
    permille_.store(total > 0 ? int(std::clamp<int64_t>(done * 1000 / total, 0, 1000)) : -1);
}

void TForm1::WorkProgress::set(int64_t done, int64_t total, const std::string& current)
{
    set(done, total);
    std::string line = std::to_string(done) + " of " + std::to_string(total);
    if (!current.empty())
        line += ": " + current;
    const std::lock_guard<std::mutex> lock(lineMutex_);
    line_ = std::move(line);
}

std::string TForm1::WorkProgress::line() const
{
    const std::lock_guard<std::mutex> lock(lineMutex_);
    return line_;
}

TForm1::WorkEnd TForm1::runWork(const std::string& text, const std::function<void(WorkProgress&)>& work,
                                bool cancellable)
{
    struct Task : LongTask {
        std::atomic<bool> done{false};
        std::atomic<bool> stop{false};
        bool canStop = true;
        WorkProgress progress;
        std::exception_ptr error;
        std::mutex mutex;
        std::condition_variable ended;
        bool finished() const override { return done.load(); }
        void cancel() override
        {
            if (canStop)
                stop.store(true);
        }
        bool cancellable() const override { return canStop; }
        int permille() const override { return progress.permille(); }
        std::string progressLine() const override { return progress.line(); }
    } task;
    task.canStop = cancellable;
    setBusyCursor(true);
    std::thread worker([this, &task, &work] {
        // No cursor, no boxes from here: they are the user interface's.
        QuietThreadScope quiet;
        CancelScope scope(&task.stop);
        try {
            workThreadStarting();
            work(task.progress);
        } catch (...) {
            task.error = std::current_exception();
        }
        const std::lock_guard<std::mutex> lock(task.mutex);
        task.done.store(true);
        task.ended.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(task.mutex);
        task.ended.wait_for(lock, std::chrono::milliseconds(std::max(0, LongWorkDelayMs)),
                            [&task] { return task.done.load(); });
    }
    // With no delay the box always shows, also for work that has ended.
    if (LongWorkDelayMs <= 0 || !task.done.load()) {
        setBusyCursor(false);
        // The box returns once the work has ended, also after Cancel.
        try {
            dialogs().showProgress(text, task);
        } catch (...) {
            task.stop.store(true);
            worker.join();
            throw;
        }
    }
    worker.join();
    setBusyCursor(false);
    if (task.stop.load())
        return task.error ? WorkEnd::Cancelled : WorkEnd::LateDone;
    if (task.error)
        std::rethrow_exception(task.error);
    return WorkEnd::Done;
}

void TForm1::updateStatus()
{
    if (!StatusFile)
        return;
    if (openedFile_.empty()) {
        StatusFile->clear();
    } else {
        const qsizetype entries = RxM->RowCount();
        StatusFile->setText(QStringLiteral("%1 (%2), %3 %4")
                                .arg(QFileInfo(QString::fromStdString(openedFile_)).fileName(),
                                     QString::fromUtf8(archiveFlavourName(openedFlavour_)))
                                .arg(entries)
                                .arg(entries == 1 ? QStringLiteral("entry") : QStringLiteral("entries")));
    }
    const TextureRef texture = currentTextureRef(*QueryTXD);
    if (FillingTextures || textureRowProblem(texture) != TextureProblem::None) {
        StatusTexture->clear();
    } else {
        const TexelLayout layout = texture.sectioned ? texture.layout : TexelLayout{};
        const QString kind = texture.sectioned
                                 ? QString::fromUtf8(texelFormatName(layout.format))
                                 : QString::fromStdString(QueryTXD->FieldByName(TextureField::kType).AsString());
        const int levels = textureLevelCount(texture);
        int64_t bytes = 0;
        if (texture.sectioned)
            bytes = texelDataBytes(layout);
        else
            bytes = (texture.paletted ? 1024 : 0) + 4 + QueryTXD->FieldByName(TextureField::kSize).AsInteger();
        QString text = QStringLiteral("%1: %2, %3x%4, %5 %6, %7 bytes")
                           .arg(fromCp1250(texture.name), kind)
                           .arg(texture.width)
                           .arg(texture.height)
                           .arg(levels)
                           .arg(levels == 1 ? QStringLiteral("level") : QStringLiteral("levels"))
                           .arg(bytes);
        if (shownLevel_ > 0)
            text += QStringLiteral("; level %1 shown, %2x%3")
                        .arg(shownLevel_)
                        .arg(mipLevelSize(texture.width, shownLevel_))
                        .arg(mipLevelSize(texture.height, shownLevel_));
        StatusTexture->setText(text);
    }
    updateZoomStatus();
}

void TForm1::updateZoomStatus()
{
    if (!StatusZoom)
        return;
    if (std::as_const(*ImageScrollBox1).Graphic().IsEmpty()) {
        StatusZoom->clear();
        return;
    }
    const double zoom = ImageScrollBox1->ZoomPercent();
    QString text = QStringLiteral("Zoom %1%").arg(QString::number(zoom, 'g', 4));
    if (ImageScrollBox1->ZoomMode() == zmFitHeight)
        text += QStringLiteral(" (Fit Height)");
    StatusZoom->setText(text);
}

namespace {
// The local files a drag carries; none when it carries anything else.
std::vector<std::string> draggedFiles(const QMimeData* mime)
{
    std::vector<std::string> files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile())
            return {};
        files.push_back(url.toLocalFile().toStdString());
    }
    return files;
}

bool namesArchive(const std::string& path)
{
    const std::string extension = asciiLower(fileExtension(path));
    return namesTextureDictionary(path) || extension == ".dir" || extension == ".img";
}

// A lone archive directory or .img: it opens wherever it is dropped.
bool opensWherever(const std::vector<std::string>& files)
{
    if (files.size() != 1)
        return false;
    const std::string extension = asciiLower(fileExtension(files[0]));
    return extension == ".dir" || extension == ".img";
}
}  // namespace

bool TForm1::dropAddsFiles(const QPoint& at, const std::vector<std::string>& files) const
{
    if (files.empty() || !entriesEditable() || opensWherever(files))
        return false;
    return Grid->rect().contains(Grid->mapFrom(this, at));
}

bool TForm1::dropAddsTextures(const QPoint& at, const std::vector<std::string>& files) const
{
    // Pictures only: an archive or dictionary dropped there opens as anywhere else.
    if (files.empty() || !texturesEditable() || std::any_of(files.begin(), files.end(), namesArchive))
        return false;
    return GridTXD->rect().contains(GridTXD->mapFrom(this, at));
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!draggedFiles(event->mimeData()).empty())
        event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event)
{
    // Several files go only into the entry grid.
    const std::vector<std::string> files = draggedFiles(event->mimeData());
    const QPoint at = event->position().toPoint();
    if (files.size() == 1 || dropAddsFiles(at, files) || dropAddsTextures(at, files))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const std::vector<std::string> files = draggedFiles(event->mimeData());
    if (files.empty())
        return;
    event->acceptProposedAction();
    const QPoint at = event->position().toPoint();
    const bool add = dropAddsFiles(at, files);
    const bool addTextures = dropAddsTextures(at, files);
    const QPoint onViewAt = ImageScrollBox1->mapFrom(this, at);
    const bool onView = ImageScrollBox1->rect().contains(onViewAt);
    // Handled once the drop has ended, so no modal dialog runs inside the
    // drag and drop machinery.
    QTimer::singleShot(0, this, [this, files, add, addTextures, onView] {
        guard([&] {
            if (add)
                AddFiles(files);
            else if (addTextures)
                AddTextures(files);
            else if (files.size() != 1)
                return;
            else if (namesArchive(files[0]))
                OpenArchive(files[0]);
            else if (onView && BtnImport->isEnabled())
                ImportTexture(files[0]);
        });
    });
}

void TForm1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Another program (quarnix-tool) may have changed the archive, or its
    // undo records, while the window was in the background.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        guard([this] { updateArchiveItems(); });
}
