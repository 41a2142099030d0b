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
#include "platform/environment.h"
#include "platform/graphic.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "texture/texture_import.h"
#include "texture/texture_tga.h"
#include "texture/ui/form_image.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QSplitterHandle>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <qdrawutil.h>

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

// ---- form ----

TForm1::TForm1(std::unique_ptr<UserDialogs> dialogs, QWidget* parent) : QWidget(parent), dialogs_(std::move(dialogs))
{
    if (!dialogs_)
        dialogs_ = std::make_unique<QtUserDialogs>(this);

    setWindowTitle(QStringLiteral("Quarnix Pre-Alpha2"));
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
    SD.overwritePrompt = false;
    OD.fileMustExist = false;
    SD.filter = "Targa Image|*.tga";
    SD.defaultExt = ".tga";
    OpenPictureDialog.fileMustExist = true;

    buildToolBar();
    buildLayout();
    applyDesignGeometry();

    qApp->installEventFilter(this);
    FormCreate();
    // After the picture-open dialog's filter is built: the preview dialog
    // registers the formats that stay out of that filter.
    FormImage = new TFormImage(this);
    FormImage->hide();
    FormImage->ImageScrollBox->setGuard([this](const std::function<void()>& h) { guard(h); });
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

    connect(BtnExit, &QToolButton::clicked, this, [this] { guard([this] { BtnExitClick(); }); });
    connect(BtnOpen, &QToolButton::clicked, this, [this] { guard([this] { BtnOpenClick(); }); });
    connect(BtnSaveTGA, &QToolButton::clicked, this, [this] { guard([this] { BtnSaveTGAClick(); }); });
    connect(BtnZoom, &QToolButton::clicked, this, [this] { guard([this] { BtnZoomClick(); }); });
    connect(BtnImport, &QToolButton::clicked, this, [this] { guard([this] { BtnImportClick(); }); });
}

void TForm1::buildLayout()
{
    Grid = new RecordGrid(*RxM, gridColumns(entryGridColumns()), this);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->setFixedWidth(kEntryGridWidth);

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
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);

    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    panelLayout->addWidget(Splitter1);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(Grid);
    body->addWidget(Panel1, 1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(ToolBar1);
    outer->addLayout(body, 1);

    for (RecordGrid* grid : {Grid, GridTXD}) {
        grid->setGuard([this](const std::function<void()>& h) { guard(h); });
        grid->setDeleteConfirmation([this] { return dialogs().confirm("Confirm", "Delete record?"); });
        grid->setAfterUserDelete([this, grid] { afterUserDelete(grid); });
    }
    Grid->setTitleClickHandler([this](int column) { GridTitleBtnClick(column); });
    GridTXD->setTitleClickHandler([this](int column) { GridTXDTitleBtnClick(column); });
}

void TForm1::applyDesignGeometry()
{
    // Sizes are outer sizes; the frame the window manager adds is taken off
    // once it is known (showEvent).
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kDesignWidth, kDesignHeight);
    const int bodyHeight = kDesignHeight - WrapToolBar::kButtonHeight - 2 * WrapToolBar::kMargin;
    Splitter1->setSizes({std::max(1, bodyHeight - kSplitterWidth - kImageViewHeight), kImageViewHeight});
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - QPoint(kDesignWidth / 2, kDesignHeight / 2));
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
        setMinimumSize(std::max(1, kMinWidth - dw), std::max(1, kMinHeight - dh));
        resize(kDesignWidth - dw, kDesignHeight - dh);
        if (QScreen* s = screen()) {
            const QRect avail = s->availableGeometry();
            move(avail.center() - QPoint(kDesignWidth / 2, kDesignHeight / 2));
        }
    });
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
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::BtnExitClick()
{
    close();
}

void TForm1::BtnZoomClick()
{
    BtnZoom->setChecked(!BtnZoom->isChecked());
    ImageScrollBox1->SetZoomMode(BtnZoom->isChecked() ? zmFitHeight : zmOriginalSize);
}

void TForm1::GridTitleBtnClick(int column)
{
    RxM->SortOnField(Grid->columnField(column));
}

void TForm1::GridTXDTitleBtnClick(int column)
{
    QueryTXD->SortOnField(GridTXD->columnField(column));
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
    RxM->Empty();
    QueryTXD->Empty();
    setTextureItemsEnabled(false);
    clearImageView();

    const ArchiveContents located = locateArchive(path);
    ArchivePath = path;
    ArchiveFileName = located.dataFile;
    StandaloneTxd = located.standalone;

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
    Grid->setFocus();
}

void TForm1::RxMAfterScroll(RecordTable& /*table*/)
{
    if (LoadingDirectory)
        return;
    FillingTextures = true;
    QueryTXD->Empty();
    setTextureItemsEnabled(false);
    if (!entryIsTextureDictionary(currentEntry(*RxM).name)) {
        clearImageView();
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
    FillingTextures = false;
    setBusyCursor(false);
    if (!QueryTXD->IsEmpty()) {
        setTextureItemsEnabled(true);
        ShowPic();
    } else {
        clearImageView();
    }
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
    // No row, or a texture whose data cannot be reached: nothing to show,
    // and nothing outside the texture is ever read.
    if (textureRowProblem(texture) != TextureProblem::None) {
        clearImageView();
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
        TMemoryStream stream(std::move(tga.bytes));
        ImageScrollBox1->LoadFromStream(stream, "TGA", 1);
    }
    setBusyCursor(false);
}

void TForm1::SaveTGA(const std::string& fileName)
{
    setBusyCursor(true);
    exportTextureTga(ArchiveFileName, currentTextureRef(*QueryTXD), fileName);
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
    const std::optional<std::string> chosen = dialogs().saveFile(dialog);
    if (!chosen)
        return;
    SaveTGA(*chosen);
}

void TForm1::BtnImportClick()
{
    ImportTexture(std::nullopt);
}

void TForm1::ImportTexture(const std::optional<std::string>& pictureFile)
{
    TImageScrollBox& view = *FormImage->ImageScrollBox;
    ImportDriver driver;
    driver.refuseSixteenBit = [this] { dialogs().messageBox(kApplicationTitle, kSixteenBitRefusal); };
    driver.choosePicture = [this, &pictureFile]() -> std::optional<std::string> {
        if (pictureFile)
            return pictureFile;
        return dialogs().openPicture(OpenPictureDialog);
    };
    driver.loadPicture = [&view](const std::string& file, bool keepAlpha) -> TDibGraphic& {
        view.LoadFromFile(file, 1, keepAlpha);
        return view.Graphic();
    };
    driver.setBusy = [](bool busy) { setBusyCursor(busy); };
    const PreparedImport prepared = prepareImport(ArchiveFileName, currentTextureRef(*QueryTXD), driver);
    if (!prepared.ready)
        return;
    FormImage->SizeForTexture(prepared.texture.width, prepared.texture.height);
    if (!dialogs().showImportPreview(*FormImage))
        return;
    const Recovery earlier = commitImport(ArchivePath, prepared, [&view](TDibGraphic& g) {
        if (view.OnBeforeSave)
            view.OnBeforeSave(view, g);
    });
    if (earlier.restored)
        dialogs().messageBox(kApplicationTitle, earlier.message(ArchivePath));
    QueryTXDAfterScroll(nullptr);
}

namespace {
// The one local file a drag carries, or nothing.
std::optional<std::string> draggedFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().first().isLocalFile())
        return std::nullopt;
    return mime->urls().first().toLocalFile().toStdString();
}

bool namesArchive(const std::string& path)
{
    return namesTextureDictionary(path) || asciiLower(fileExtension(path)) == ".dir";
}
}  // namespace

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (draggedFile(event->mimeData()))
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const std::optional<std::string> file = draggedFile(event->mimeData());
    if (!file)
        return;
    event->acceptProposedAction();
    const QPoint at = ImageScrollBox1->mapFrom(this, event->position().toPoint());
    const bool onView = ImageScrollBox1->rect().contains(at);
    const std::string path = *file;
    // Handled once the drop has ended, so no modal dialog runs inside the
    // drag and drop machinery.
    QTimer::singleShot(0, this, [this, path, onView] {
        guard([&] {
            if (namesArchive(path))
                OpenArchive(path);
            else if (onView && BtnImport->isEnabled())
                ImportTexture(path);
        });
    });
}
