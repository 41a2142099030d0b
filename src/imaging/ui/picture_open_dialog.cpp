// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/ui/picture_open_dialog.h"

#include "imaging/picture_registry.h"
#include "imaging/ui/file_filter.h"
#include "platform/environment.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QRunnable>
#include <QScreen>
#include <QStyle>
#include <QThreadPool>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kPictureCaption[] = "Picture:";
const char kNoPicture[] = "(None)";
const char kPreviewHint[] = "Preview";

// Closes a descriptor when the read ends, also on failure.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The whole of a regular file of at most kMaxPreviewFileBytes. Opening does
// not wait (a pipe named like a picture would otherwise block the read until
// a writer appears), and nothing but a regular file is read.
std::vector<uint8_t> readPreviewFile(const std::string& fileName)
{
    FileDescriptor file;
    file.fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file.fd < 0)
        throw cannotOpen(fileName);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0
        || int64_t(st.st_size) > kMaxPreviewFileBytes)
        throw cannotOpen(fileName);
    std::vector<uint8_t> bytes(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw streamReadError();
        if (n == 0)
            break;  // the file became shorter meanwhile: the reader sees what is there
        got += size_t(n);
    }
    bytes.resize(got);
    return bytes;
}

// The picture as the pane keeps it: a copy of its pixels, reduced (keeping
// its proportions) when it is larger than `limit`, so that a huge picture is
// not held twice and the box and the preview window never scale more than a
// screenful. A null image when memory runs short.
QImage displayCopy(const TDibGraphic& picture, const QSize& limit)
{
    const QSize size(picture.Width(), picture.Height());
    if (size.width() <= limit.width() && size.height() <= limit.height())
        return picture.ToQImage();
    const QSize reduced = size.scaled(limit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    QImage copy(reduced, QImage::Format_RGB32);
    if (copy.isNull())
        return copy;
    copy.fill(Qt::black);
    QPainter painter(&copy);
    picture.Draw(painter, QRect(QPoint(0, 0), reduced));
    return copy;
}

// The threads that run preview loads, shared by every dialog. Two threads:
// a load that is still busy with an earlier selection does not hold up the
// current one. Created and waited for on the user-interface thread only.
QThreadPool* g_previewPool = nullptr;

// Loads use the picture library, the fonts and the application object: they
// end, and their threads with them, before the application object goes away.
void shutDownPreviewLoads()
{
    PictureOpenDialog::waitForPreviewLoads();
    delete g_previewPool;
    g_previewPool = nullptr;
}

QThreadPool& previewPool()
{
    if (!g_previewPool) {
        g_previewPool = new QThreadPool;
        g_previewPool->setMaxThreadCount(2);
        qAddPostRoutine(&shutDownPreviewLoads);
    }
    return *g_previewPool;
}

}  // namespace

// What a load hands back to the dialog.
struct PictureOpenDialog::LoadOutcome {
    uint64_t generation = 0;
    bool loaded = false;
    QSize size;      // the picture's own size
    QImage picture;  // possibly reduced: displayCopy
};

// Between a dialog and its loads. The dialog may be gone before a load ends:
// the load then delivers nothing.
struct PictureOpenDialog::LoadChannel {
    std::mutex mutex;
    PictureOpenDialog* receiver = nullptr;  // cleared when the dialog goes
    std::atomic<uint64_t> latest{0};        // generation of the current selection

    void deliver(LoadOutcome outcome)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!receiver || latest.load() != outcome.generation)
            return;
        PictureOpenDialog* dialog = receiver;
        // Queued to the dialog's thread; dropped by Qt if the dialog is
        // destroyed before it runs.
        QMetaObject::invokeMethod(
            dialog, [dialog, outcome = std::move(outcome)]() { dialog->applyOutcome(outcome); }, Qt::QueuedConnection);
    }
};

std::unique_ptr<TDibGraphic> loadPreviewPicture(const std::string& fileName)
{
    TMemoryStream stream(readPreviewFile(fileName));
    return LoadPictureFromContainer(stream, fileName);
}

QRect previewPictureRect(const QSize& picture, const QRect& area)
{
    const int w = picture.width(), h = picture.height();
    const int aw = area.width(), ah = area.height();
    if (w <= 0 || h <= 0 || aw <= 0 || ah <= 0)
        return QRect();
    if (w <= aw && h <= ah)
        return QRect(area.left() + (aw - w) / 2, area.top() + (ah - h) / 2, w, h);
    // Proportional size, rounded to the nearest pixel and never below one.
    const auto scaled = [](int side, int target, int along) {
        return std::max(1, int((int64_t(side) * target + along / 2) / along));
    };
    if (w > h)
        return QRect(area.topLeft(), QSize(aw, scaled(h, aw, w)));
    return QRect(area.topLeft(), QSize(scaled(w, ah, h), ah));
}

// --- the box

PicturePreviewBox::PicturePreviewBox(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    const int frame = frameWidth();
    setFixedSize(PictureOpenDialog::kBoxSize + 2 * frame, PictureOpenDialog::kBoxSize + 2 * frame);
}

void PicturePreviewBox::showPicture(const QImage& picture, const QSize& size)
{
    pictureRect_ = previewPictureRect(size, contentsRect());
    if (picture.isNull() || pictureRect_.isEmpty()) {
        showNone();
        return;
    }
    // Scaled once here rather than on every paint.
    drawn_ = picture.size() == pictureRect_.size()
                 ? picture
                 : picture.scaled(pictureRect_.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    state_ = drawn_.isNull() ? State::None : State::Picture;
    update();
}

void PicturePreviewBox::showNone()
{
    state_ = State::None;
    drawn_ = QImage();
    update();
}

void PicturePreviewBox::showLoading()
{
    state_ = State::Loading;
    drawn_ = QImage();
    update();
}

void PicturePreviewBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    switch (state_) {
    case State::Picture: painter.drawImage(pictureRect_.topLeft(), drawn_); break;
    case State::None: painter.drawText(contentsRect(), Qt::AlignCenter, QString::fromUtf8(kNoPicture)); break;
    case State::Loading: break;
    }
}

// --- the preview window

PicturePreviewWindow::PicturePreviewWindow(const QImage& picture, const QSize& size, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), picture_(picture)
{
    setWindowTitle(QString::fromUtf8(kPreviewHint));
    setModal(true);
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect free = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize client = (size + QSize(2 * kMargin, 2 * kMargin)).boundedTo(free.size());
    resize(client);
    // An explicit position also keeps Qt from placing the window over its parent.
    move(free.center() - QPoint(client.width() / 2, client.height() / 2));
}

void PicturePreviewWindow::paintEvent(QPaintEvent*)
{
    const QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (picture_.isNull() || area.width() <= 0 || area.height() <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(area, picture_);
}

// --- the dialog

PictureOpenDialog::PictureOpenDialog(QWidget* parent, const FileDialogSetup& setup)
    : QFileDialog(parent, QString::fromUtf8(setup.title.c_str())),
      loader_(&loadPreviewPicture),
      channel_(std::make_shared<LoadChannel>())
{
    channel_->receiver = this;
    // The format lists are complete before any load reads them on another thread.
    PictureFileFormats();

    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    const QStringList filters = toQtNameFilters(setup.filter);
    if (!filters.isEmpty()) {
        setNameFilters(filters);
        selectNameFilter(filters.first());
    }

    pane_ = new QWidget(this);
    pane_->setObjectName(QStringLiteral("picturePreviewPane"));
    label_ = new QLabel(QString::fromUtf8(kPictureCaption), pane_);
    button_ = new QToolButton(pane_);
    button_->setToolTip(QString::fromUtf8(kPreviewHint));
    button_->setAccessibleName(QString::fromUtf8(kPreviewHint));
    button_->setText(QString::fromUtf8(kPreviewHint));
    button_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    button_->setEnabled(false);
    box_ = new PicturePreviewBox(pane_);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(label_, 1);
    top->addWidget(button_);
    auto* column = new QVBoxLayout(pane_);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(top);
    column->addWidget(box_);
    column->addStretch(1);

    // Qt's own dialog lays itself out in a grid: the pane becomes a column of
    // its own, beside the directory row and the file list.
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(pane_, 0, grid->columnCount(), 2, 1);
    showNothing();

    connect(this, &QFileDialog::currentChanged, this, &PictureOpenDialog::previewFile);
    connect(this, &QFileDialog::directoryEntered, this, [this] { previewFile(QString()); });
    // A name typed into the file name box selects that file too (the list
    // only highlights it, which Qt does not report as a change).
    if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
            const QString path = QDir(directory().absolutePath()).absoluteFilePath(text);
            if (!text.isEmpty() && QFileInfo(path).isFile() && path != previewedPath_)
                previewFile(path);
        });
    }
    connect(button_, &QToolButton::clicked, this, &PictureOpenDialog::openPreviewWindow);

    if (!setup.fileName.empty())
        selectFile(QString::fromUtf8(setup.fileName.c_str()));
}

PictureOpenDialog::~PictureOpenDialog()
{
    // Loads still running finish on their own and deliver nothing.
    std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->receiver = nullptr;
    channel_->latest = ~uint64_t(0);
}

void PictureOpenDialog::showNothing()
{
    loading_ = false;
    picture_ = QImage();
    pictureSize_ = QSize();
    label_->setText(QString::fromUtf8(kPictureCaption));
    button_->setEnabled(false);
    box_->showNone();
}

void PictureOpenDialog::previewFile(const QString& path)
{
    previewedPath_ = path;
    const uint64_t generation = ++generation_;
    channel_->latest = generation;

    const QFileInfo info(path);
    // Only a regular file (or a link to one) of a sensible size is read.
    if (path.isEmpty() || !info.isFile() || info.size() > kMaxPreviewFileBytes) {
        showNothing();
        emit previewShown();
        return;
    }

    loading_ = true;
    picture_ = QImage();
    pictureSize_ = QSize();
    label_->setText(QString::fromUtf8(kPictureCaption));
    button_->setEnabled(false);
    box_->showLoading();

    QSize limit(2048, 2048);
    if (QScreen* s = screen())
        limit = s->availableGeometry().size();
    limit = limit.expandedTo(QSize(kBoxSize, kBoxSize));

    const std::string fileName = path.toStdString();
    previewPool().start(QRunnable::create([channel = channel_, loader = loader_, fileName, generation, limit] {
        if (channel->latest.load() != generation)
            return;  // the selection moved on before this load started
        LoadOutcome outcome;
        outcome.generation = generation;
        {
            // No busy cursor and no warning boxes from this thread.
            QuietThreadScope quiet;
            try {
                const std::unique_ptr<TDibGraphic> picture = loader(fileName);
                if (picture && !picture->IsEmpty() && picture->Width() > 0 && picture->Height() > 0) {
                    outcome.picture = displayCopy(*picture, limit);
                    outcome.size = QSize(picture->Width(), picture->Height());
                    outcome.loaded = !outcome.picture.isNull();
                }
            } catch (...) {
                // The pane shows "(None)": failures of the preview are never reported.
                outcome.loaded = false;
            }
        }
        channel->deliver(std::move(outcome));
    }));
}

void PictureOpenDialog::applyOutcome(const LoadOutcome& outcome)
{
    if (outcome.generation != generation_)
        return;  // an earlier selection's load
    if (!outcome.loaded) {
        showNothing();
        emit previewShown();
        return;
    }
    loading_ = false;
    picture_ = outcome.picture;
    pictureSize_ = outcome.size;
    label_->setText(QString::asprintf(" (%dx%d)", outcome.size.width(), outcome.size.height()));
    button_->setEnabled(true);
    box_->showPicture(picture_, pictureSize_);
    emit previewShown();
}

std::unique_ptr<PicturePreviewWindow> PictureOpenDialog::createPreviewWindow()
{
    if (picture_.isNull())
        return nullptr;
    return std::make_unique<PicturePreviewWindow>(picture_, pictureSize_, this);
}

void PictureOpenDialog::openPreviewWindow()
{
    if (std::unique_ptr<PicturePreviewWindow> window = createPreviewWindow())
        window->exec();
}

void PictureOpenDialog::waitForPreviewLoads()
{
    if (g_previewPool)
        g_previewPool->waitForDone();
}

std::optional<std::string> runPictureOpenDialog(QWidget* parent, const FileDialogSetup& setup)
{
    PictureOpenDialog dialog(parent, setup);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return files.first().toStdString();
}
