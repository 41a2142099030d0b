// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The picture-open dialog: Qt's own file dialog (not the desktop's native
// one, which could not hold the pane) offering the picture formats' filter,
// with a preview pane beside the file list.
//
// The pane shows a label, a preview button and a framed box. Whenever the
// selected file changes, the file is loaded through the picture container's
// format list (newest entry first) and shown scaled down in the box, with its
// size in the label; anything that cannot be loaded shows "(None)". Loading
// runs on a worker thread and is bounded, so a huge, slow or hostile file
// never holds up the dialog; a result that arrives after the selection has
// moved on is dropped.
#include "platform/user_dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFrame>
#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QToolButton;
class TDibGraphic;

// Files larger than this are not previewed: a picture that fills a texture is
// a few megabytes, and the preview reads the whole file into memory before
// decoding it (so that nothing can stall it once it has started).
constexpr int64_t kMaxPreviewFileBytes = int64_t(256) << 20;

// Reads a picture for the preview: the file must be a regular file of at most
// kMaxPreviewFileBytes (a pipe or device is refused without waiting on it); it
// is read into memory and loaded through the picture container's format list.
// Raises the library's errors; safe to call on any thread.
std::unique_ptr<TDibGraphic> loadPreviewPicture(const std::string& fileName);

// Where the box draws a picture of `picture` size inside `area`: at its own
// size, centred, when it fits; otherwise scaled down, keeping its proportions,
// to the area's width (a picture wider than high) or height (otherwise), from
// the area's top left corner.
QRect previewPictureRect(const QSize& picture, const QRect& area);

// The framed box of the pane.
class PicturePreviewBox : public QFrame {
    Q_OBJECT
public:
    enum class State {
        Loading,  // a load is under way: the box stays blank
        None,     // "(None)" centred
        Picture,  // the picture, drawn at pictureRect()
    };

    explicit PicturePreviewBox(QWidget* parent = nullptr);

    // `picture` may be a copy reduced to fit the screen; `size` is the
    // picture's own size, which decides where and how large it is drawn.
    void showPicture(const QImage& picture, const QSize& size);
    void showNone();
    void showLoading();

    State state() const { return state_; }
    // Where the picture is drawn, in the box's coordinates; empty unless a
    // picture is shown.
    QRect pictureRect() const { return state_ == State::Picture ? pictureRect_ : QRect(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    State state_ = State::None;
    QImage drawn_;  // the picture at the size it is drawn
    QRect pictureRect_;
};

// The "Preview" tool window: the picture stretched over the client area
// inside a 5-pixel margin; Esc closes it.
class PicturePreviewWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMargin = 5;

    // Sized so that a picture of `size` shows at its own size (no larger than
    // the screen's free area) and centred on the screen. `picture` may be a
    // reduced copy; it is stretched all the same.
    PicturePreviewWindow(const QImage& picture, const QSize& size, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

class PictureOpenDialog : public QFileDialog {
    Q_OBJECT
public:
    // Reads the picture the pane shows; runs on a worker thread.
    using PictureLoader = std::function<std::unique_ptr<TDibGraphic>(const std::string& fileName)>;

    // The contents of the preview box are a square of this many pixels, so
    // that a picture scaled to the box's width or height always fits in it.
    static constexpr int kBoxSize = 180;

    // `setup.filter` in the "description|patterns|..." form, its first entry
    // selected; `setup.title` (empty: Qt's caption) and `setup.fileName`.
    // The chosen file must exist.
    PictureOpenDialog(QWidget* parent, const FileDialogSetup& setup);
    ~PictureOpenDialog() override;

    QLabel* pictureLabel() const { return label_; }
    QToolButton* previewButton() const { return button_; }
    PicturePreviewBox* previewBox() const { return box_; }
    // True while the pane waits for the load of the current selection.
    bool previewLoading() const { return loading_; }

    // Replaces the loader (tests stall or count loads with it).
    void setPictureLoader(PictureLoader loader) { loader_ = std::move(loader); }

    // The preview window for the picture the pane shows; nullptr when none.
    std::unique_ptr<PicturePreviewWindow> createPreviewWindow();

    // Waits until every preview load still running (of any dialog, also of
    // dialogs already closed) has ended. The application object's destructor
    // waits the same way, so that no load outlives what it uses.
    static void waitForPreviewLoads();

public slots:
    // Shows the file `path` in the pane: "(None)" at once when it is empty,
    // missing, not a regular file or too large, otherwise after its load.
    void previewFile(const QString& path);
    // Runs the "Preview" window modally; does nothing without a picture.
    void openPreviewWindow();

signals:
    // The pane shows the outcome for the current selection (a picture or "(None)").
    void previewShown();

private:
    struct LoadChannel;
    struct LoadOutcome;

    void showNothing();
    void applyOutcome(const LoadOutcome& outcome);

    QWidget* pane_ = nullptr;
    QLabel* label_ = nullptr;
    QToolButton* button_ = nullptr;
    PicturePreviewBox* box_ = nullptr;

    PictureLoader loader_;
    std::shared_ptr<LoadChannel> channel_;
    uint64_t generation_ = 0;
    QString previewedPath_;  // the file the pane was last asked to show
    bool loading_ = false;
    QImage picture_;     // what the pane shows (possibly reduced to the screen)
    QSize pictureSize_;  // the picture's own size
};

// Runs the dialog modally: the chosen file (UTF-8), or nothing when cancelled.
std::optional<std::string> runPictureOpenDialog(QWidget* parent, const FileDialogSetup& setup);
