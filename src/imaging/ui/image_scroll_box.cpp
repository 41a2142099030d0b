// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/ui/image_scroll_box.h"

#include "imaging/picture_registry.h"
#include "imaging/zoom_render.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <new>

// ---------------------------------------------------------------------------
// Cursors

namespace {

// 16 x 16 cursor images: '#' black, '.' white, ' ' transparent.
constexpr const char* kOpenHand[16] = {
    "       ##       ", "   ## #..###    ", "  #..##..#..#   ", "  #..##..#..# # ",
    "   #..#..#..##.#", "   #..#..#..#..#", " ## #.......#..#", "#..##..........#",
    "#...#.........# ", " #............# ", "  #...........# ", "  #..........#  ",
    "   #.........#  ", "    #.......#   ", "     #......#   ", "     ########   ",
};
constexpr const char* kClosedHand[16] = {
    "                ", "                ", "                ", "                ",
    "    ## ## ##    ", "   #..#..#..##  ", "   #.........#.#", "    #..........#",
    "   ##..........#", "  #...........# ", "  #...........# ", "   #.........#  ",
    "    #........#  ", "     #......#   ", "     #......#   ", "     ########   ",
};

QCursor makeCursor(const char* const (&rows)[16], int hotX, int hotY)
{
    // One bit per pixel, least significant bit first, two bytes a row.
    uchar bits[32] = {};
    uchar mask[32] = {};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const char c = rows[y][x];
            const uchar bit = uchar(1u << (x & 7));
            if (c == '#')
                bits[y * 2 + x / 8] |= bit;
            if (c == '#' || c == '.')
                mask[y * 2 + x / 8] |= bit;
        }
    return QCursor(QBitmap::fromData(QSize(16, 16), bits, QImage::Format_MonoLSB),
                   QBitmap::fromData(QSize(16, 16), mask, QImage::Format_MonoLSB), hotX, hotY);
}

// The application-wide cursor is one setting (the override cursor), as the
// busy cursor treats it: none means the default cursor.
std::optional<QCursor> screenCursor()
{
    if (const QCursor* c = QGuiApplication::overrideCursor())
        return *c;
    return std::nullopt;
}

void setScreenCursor(const std::optional<QCursor>& cursor)
{
    if (!cursor) {
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
    } else if (QGuiApplication::overrideCursor()) {
        QGuiApplication::changeOverrideCursor(*cursor);
    } else {
        QGuiApplication::setOverrideCursor(*cursor);
    }
}

}  // namespace

// Two cursor objects of our own rather than numbered entries in an
// application cursor table: the view is their only user.
const QCursor& OpenHandCursor()
{
    static const QCursor cursor = makeCursor(kOpenHand, 8, 8);
    return cursor;
}

const QCursor& ClosedHandCursor()
{
    static const QCursor cursor = makeCursor(kClosedHand, 8, 9);
    return cursor;
}

// ---------------------------------------------------------------------------
// Mouse handlers

void TMouseHandler::MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    mouseIsDown_ = true;
}

void TMouseHandler::MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    mouseIsDown_ = false;
}

TDragMouseHandler::TDragMouseHandler(TImageScrollBox& view) : TMouseHandler(view)
{
    view.DisplayControl()->setCursor(OpenHandCursor());
}

TDragMouseHandler::~TDragMouseHandler()
{
    if (mouseIsDown_)
        TDragMouseHandler::MouseUp(Qt::NoButton, Qt::NoModifier, 0, 0);
}

void TDragMouseHandler::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    // A second button pressed during a drag changes nothing: taking the
    // closed hand as the cursor to restore would leave it showing for good.
    if (mouseIsDown_)
        return;
    TMouseHandler::MouseDown(button, shift, x, y);
    startX_ = x;
    startY_ = y;
    savedCursor_ = screenCursor();
    if (view_.HorzScrollBarVisible() || view_.VertScrollBarVisible())
        setScreenCursor(ClosedHandCursor());
}

void TDragMouseHandler::MouseMove(Qt::KeyboardModifiers, int x, int y)
{
    if (!mouseIsDown_)
        return;
    // The display control moves with the scroll position, so the start point
    // stays where it is: the point grabbed remains under the pointer.
    view_.SetScrollPositions(view_.HorzScrollPosition() + (startX_ - x), view_.VertScrollPosition() + (startY_ - y));
}

void TDragMouseHandler::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (!mouseIsDown_)
        return;
    const std::optional<QCursor> current = screenCursor();
    if (current && *current == ClosedHandCursor())
        setScreenCursor(savedCursor_);
    TMouseHandler::MouseUp(button, shift, x, y);
}

// ---------------------------------------------------------------------------
// The display control

class TImageScrollBox::DisplayWidget : public QWidget {
public:
    DisplayWidget(TImageScrollBox& view, QWidget* parent) : QWidget(parent), view_(view)
    {
        // Every pixel is painted from the display copy.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        hide();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        const QRect part = event->rect() & rect();
        try {
            // Only the part being painted is scaled, one pixel per pixel.
            const QImage pixels = view_.RenderDisplayPart(part);
            if (!pixels.isNull()) {
                painter.drawImage(part.topLeft(), pixels);
                return;
            }
        } catch (...) {
            // A paint cannot show an error box; the error is reported as
            // soon as the paint is over.
            QMetaObject::invokeMethod(
                &view_,
                [view = &view_, error = std::current_exception()] {
                    view->runEventWork([&] { std::rethrow_exception(error); });
                },
                Qt::QueuedConnection);
        }
        painter.fillRect(part, palette().window());
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        const QPoint p = event->position().toPoint();
        view_.imageMouseDown(event->button(), event->modifiers(), p.x(), p.y());
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        const QPoint p = event->position().toPoint();
        view_.imageMouseMove(event->modifiers(), p.x(), p.y());
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        const QPoint p = event->position().toPoint();
        view_.imageMouseUp(event->button(), event->modifiers(), p.x(), p.y());
    }

private:
    TImageScrollBox& view_;
};

// ---------------------------------------------------------------------------
// TImageScrollBox

TImageScrollBox::TImageScrollBox(QWidget* parent)
    : QAbstractScrollArea(parent), picture_(std::make_unique<TDibGraphic>())
{
    // No frame: with no scroll bar showing, the client area is the whole view.
    setFrameShape(QFrame::NoFrame);
    // Like a panel, the view takes no keyboard focus from the lists.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setBackgroundRole(QPalette::Window);
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
        bar->setTracking(true);  // the picture follows the thumb while it is dragged
        bar->setRange(0, 0);
        bar->setSingleStep(8);
    }
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    display_ = new DisplayWidget(*this, viewport());
    display_->move(0, 0);
    mouseHandler_ = std::make_unique<TDragMouseHandler>(*this);
    resize(100, 100);
}

TImageScrollBox::~TImageScrollBox()
{
    // The display control calls back into the view; it goes first.
    mouseHandler_.reset();
    delete display_;
    display_ = nullptr;
}

QWidget* TImageScrollBox::DisplayControl() const
{
    return display_;
}

void TImageScrollBox::runEventWork(const std::function<void()>& work)
{
    runInGuard(guard_, work);
}

// --- loading, saving, clearing

void TImageScrollBox::keepDisplay(std::unique_ptr<TDibGraphic> replaced)
{
    // Only a display drawn from the picture itself depends on it.
    if (!displayShown_ || displayFromSmoothed_ || kept_)
        return;
    if (replaced) {
        kept_ = std::move(replaced);
        return;
    }
    auto copy = std::make_unique<TDibGraphic>();
    copy->Assign(picture_.get());
    copy->AlphaPlane = picture_->AlphaPlane;
    kept_ = std::move(copy);
}

void TImageScrollBox::dropPremultiplied() const
{
    // The memory stays for the next picture of about the same size (fresh
    // memory costs a page fault a page); a much smaller one lets it go.
    premultipliedFor_ = nullptr;
}

void TImageScrollBox::replacePicture(std::unique_ptr<TDibGraphic> picture)
{
    // A redraw that cannot run now keeps the old display, drawn from the
    // old picture.
    if (premultipliedFor_ == picture_.get())
        dropPremultiplied();
    std::swap(picture_, picture);
    if (!parentWidget() || !isVisible() || redrawing_)
        keepDisplay(std::move(picture));
}

void TImageScrollBox::LoadFromStream(TStream& stream, const std::string& formatName, int imageIndex, bool keepAlpha)
{
    std::unique_ptr<TDibGraphic> picture = LoadPictureFromStream(stream, formatName, imageIndex, keepAlpha);
    if (picture->AlphaPlane.size() != size_t(picture->Width()) * size_t(picture->Height()))
        picture->AlphaPlane.clear();
    replacePicture(std::move(picture));
    Redraw(true);
}

void TImageScrollBox::LoadFromFile(const std::string& fileName, int imageIndex, bool keepAlpha)
{
    std::unique_ptr<TDibGraphic> picture = LoadPictureFromFile(fileName, imageIndex, keepAlpha);
    replacePicture(std::move(picture));
    Redraw(true);
}

void TImageScrollBox::TakePicture(std::unique_ptr<TDibGraphic> picture)
{
    replacePicture(picture ? std::move(picture) : std::make_unique<TDibGraphic>());
    Redraw(true);
}

void TImageScrollBox::SaveToStream(TStream& stream, const std::string& formatName)
{
    std::function<void(TDibGraphic&)> beforeSave;
    if (OnBeforeSave)
        beforeSave = [this](TDibGraphic& graphic) { OnBeforeSave(*this, graphic); };
    SavePictureToStream(*picture_, stream, formatName, beforeSave);
}

void TImageScrollBox::Clear()
{
    if (!parentWidget() || !isVisible() || redrawing_)
        keepDisplay();
    if (premultipliedFor_ == picture_.get())
        dropPremultiplied();
    picture_->Assign(nullptr);  // releases the pixel store
    picture_->AlphaPlane.clear();
    Redraw(true);
}

TDibGraphic& TImageScrollBox::Graphic()
{
    keepDisplay();
    // The caller may change it.
    if (premultipliedFor_ == picture_.get())
        dropPremultiplied();
    return *picture_;
}

// --- the display

const TDibGraphic& TImageScrollBox::displaySource() const
{
    if (kept_)
        return *kept_;
    return displayFromSmoothed_ ? smoothed_ : *picture_;
}

const TDibGraphic& TImageScrollBox::DisplayCopy()
{
    if (!displayCopyMade_) {
        const TDibGraphic& source = displaySource();
        try {
            if (!displayShown_ || source.IsEmpty())
                displayCopy_.Assign(nullptr);
            else
                ScaleForDisplay(source, display_->size(), zoomTransform_, displayCopy_);
        } catch (...) {
            displayCopy_.Assign(nullptr);
            throw;
        }
        displayCopyMade_ = true;
    }
    return displayCopy_;
}

QImage TImageScrollBox::RenderDisplayPart(const QRect& part) const
{
    if (!displayShown_)
        return QImage();
    const TDibGraphic& source = displaySource();
    const bool alpha = showAlpha_ && !displayFromSmoothed_ && !source.IsEmpty()
                       && source.AlphaPlane.size() == size_t(source.Width()) * size_t(source.Height());
    if (!alpha)
        return RenderZoomedPart(source, nullptr, display_->size(), part);
    // An averaged picture with alpha is read premultiplied: made once for the
    // picture, it serves every paint and zoom after. Without the memory for
    // it, each paint premultiplies what it reads.
    if (ZoomSamplingFor(source, display_->size()) == ZoomSampling::Average && premultipliedFor_ != &source) {
        dropPremultiplied();
        const size_t pixels = size_t(source.Width()) * size_t(source.Height());
        if (premultiplied_.capacity() > 4 * pixels)
            std::vector<uint32_t>().swap(premultiplied_);
        try {
            PremultiplyPixels(source, source.AlphaPlane.data(), premultiplied_);
            premultipliedFor_ = &source;
        } catch (const std::bad_alloc&) {
            std::vector<uint32_t>().swap(premultiplied_);
        }
    }
    return RenderZoomedPart(source, source.AlphaPlane.data(), display_->size(), part,
                            premultipliedFor_ == &source ? premultiplied_.data() : nullptr);
}

// --- redrawing

void TImageScrollBox::Redraw(bool reload)
{
    if (!parentWidget() || !isVisible() || redrawing_)
        return;
    redrawing_ = true;
    struct ClearFlag {
        bool& flag;
        ~ClearFlag() { flag = false; }
    } clearFlag{redrawing_};

    // From here on the display shows the picture as it is now.
    if (reload || (kept_ && premultipliedFor_ == kept_.get()))
        dropPremultiplied();
    kept_.reset();
    displayShown_ = false;
    displayCopyMade_ = false;
    displayCopy_.Assign(nullptr);

    if (picture_->IsEmpty()) {
        showScrollBar(Qt::Horizontal, false);
        showScrollBar(Qt::Vertical, false);
        display_->hide();
        return;
    }

    if (reload) {
        if (picture_->ImageFormat() == ifMonochrome)
            antiAliasTransform_.ApplyOnDest(*picture_, smoothed_);
        else
            smoothed_.Assign(nullptr);
    }

    // A change is any difference from the zoom before this redraw.
    const float previous = zoomPercent_;
    chooseZoom();
    const bool changed = zoomPercent_ != previous;
    if (changed && OnZoomChange)
        OnZoomChange(*this, zoomPercent_);
    if (changed || reload)
        mouseHandler_->Reset();

    sizeAndFillDisplay();

    if (OnRedraw)
        OnRedraw(*picture_);
    if (display_->isHidden())
        display_->show();
    emit redrawn();
}

void TImageScrollBox::chooseZoom()
{
    const long double w = picture_->Width();
    const long double h = picture_->Height();
    switch (zoomMode_) {
    case zmOriginalSize: zoomPercent_ = 100.0f; break;
    case zmFullPage:
    case zmFitToPage: {
        // Each bar is hidden before the client size is read, so that the
        // fit uses the space the bar would take.
        showScrollBar(Qt::Vertical, false);
        const float rw = float(ClientWidth() / w);
        showScrollBar(Qt::Horizontal, false);
        const float rh = float(ClientHeight() / h);
        zoomPercent_ = rw < rh ? rw * 100.0f : rh * 100.0f;
        if (zoomMode_ == zmFitToPage && zoomPercent_ > 100.0f)
            zoomPercent_ = 100.0f;
        break;
    }
    case zmFitWidth: zoomPercent_ = float(ClientWidth() / w) * 100.0f; break;
    case zmFitHeight:
        showScrollBar(Qt::Vertical, false);
        showScrollBar(Qt::Horizontal, false);
        zoomPercent_ = float(ClientHeight() / h) * 100.0f;
        break;
    case zmPercent:
    default: break;
    }
}

void TImageScrollBox::sizeAndFillDisplay()
{
    const long double factor = static_cast<long double>(zoomPercent_) / 100.0L;
    const auto scaled = [factor](int length) {
        const long double v = std::trunc(length * factor);
        if (!(v >= 1.0L))
            return 1;
        return v > INT_MAX ? INT_MAX : int(v);
    };
    const int dw = scaled(picture_->Width());
    const int dh = scaled(picture_->Height());

    // The bars are decided from the whole view, not from the bars the
    // previous picture left behind.
    showScrollBar(Qt::Horizontal, false);
    showScrollBar(Qt::Vertical, false);
    showScrollBar(Qt::Horizontal, dw > ClientWidth());
    showScrollBar(Qt::Vertical, dh > ClientHeight());
    // The vertical bar may have taken width the picture needs; without a
    // horizontal bar that part could never be scrolled into view.
    if (!horzShown_ && dw > ClientWidth())
        showScrollBar(Qt::Horizontal, true);

    // The pixels are scaled when they are painted (or the display copy is
    // asked for), from the smoothed copy of a black-and-white picture when
    // anti-aliased, else from the picture.
    displayFromSmoothed_ = picture_->ImageFormat() == ifMonochrome && antiAliased_;
    displayShown_ = true;

    display_->resize(dw, dh);

    horzRange_ = dw;
    vertRange_ = dh;
    QScrollBar* hbar = horizontalScrollBar();
    QScrollBar* vbar = verticalScrollBar();
    hbar->setRange(0, horzShown_ ? std::max(0, dw - ClientWidth()) : 0);
    hbar->setPageStep(std::max(1, ClientWidth()));
    vbar->setRange(0, vertShown_ ? std::max(0, dh - ClientHeight()) : 0);
    vbar->setPageStep(std::max(1, ClientHeight()));
    hbar->setValue(0);
    vbar->setValue(0);

    placeDisplay();
    display_->update();
}

void TImageScrollBox::showScrollBar(Qt::Orientation orientation, bool shown)
{
    if (orientation == Qt::Horizontal) {
        horzShown_ = shown;
        setHorizontalScrollBarPolicy(shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        if (!shown)
            horizontalScrollBar()->setRange(0, 0);  // a hidden bar stays at 0
    } else {
        vertShown_ = shown;
        setVerticalScrollBarPolicy(shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        if (!shown)
            verticalScrollBar()->setRange(0, 0);
    }
}

void TImageScrollBox::placeDisplay()
{
    const int dw = display_->width();
    const int dh = display_->height();
    int left = 0;
    int top = 0;
    if (centered_) {
        // Centred on the view's outer size...
        if (dh < height())
            top = (height() - dh) / 2;
        if (dw < width())
            left = (width() - dw) / 2;
        // ...but never pushed under a scroll bar of the other direction,
        // where part of the picture would be out of reach.
        left = std::min(left, std::max(0, ClientWidth() - dw));
        top = std::min(top, std::max(0, ClientHeight() - dh));
    }
    displayLeft_ = left;
    displayTop_ = top;
    display_->move(displayLeft_ - HorzScrollPosition(), displayTop_ - VertScrollPosition());
}

// --- setters

void TImageScrollBox::SetZoomMode(TZoomMode mode)
{
    zoomMode_ = mode;
    Redraw(false);
}

void TImageScrollBox::SetZoomPercent(float percent)
{
    if (picture_->IsEmpty() || !std::isfinite(percent) || percent <= 0.1f)
        return;
    zoomPercent_ = percent;
    zoomMode_ = zmPercent;
    Redraw(false);
}

void TImageScrollBox::SetCentered(bool centered)
{
    if (centered == centered_)
        return;
    centered_ = centered;
    Redraw(false);
}

void TImageScrollBox::SetAntiAliased(bool antiAliased)
{
    if (antiAliased == antiAliased_)
        return;
    antiAliased_ = antiAliased;
    if (picture_->IsEmpty() || picture_->ImageFormat() == ifMonochrome)
        Redraw(false);
}

void TImageScrollBox::SetShowAlpha(bool show)
{
    if (show == showAlpha_)
        return;
    showAlpha_ = show;
    display_->update();
}

// --- zoom steps

float TImageScrollBox::ZoomStepFrom(float percent, int direction)
{
    // A zoom within a hair of a step counts as that step.
    constexpr double kSlack = 1e-4;
    if (direction > 0) {
        for (float step = kMinZoomStep; step <= kMaxZoomStep; step *= 2.0f)
            if (step > percent * (1.0 + kSlack))
                return step;
    } else if (direction < 0) {
        for (float step = kMaxZoomStep; step >= kMinZoomStep; step /= 2.0f)
            if (step < percent * (1.0 - kSlack))
                return step;
    }
    return percent;
}

bool TImageScrollBox::ZoomBy(int steps, std::optional<QPoint> anchor)
{
    if (picture_->IsEmpty() || steps == 0)
        return false;
    float zoom = zoomPercent_;
    for (int i = 0; i < std::abs(steps); ++i)
        zoom = ZoomStepFrom(zoom, steps > 0 ? 1 : -1);
    if (zoom == zoomPercent_)
        return false;
    // The picture point under the anchor, in picture pixels.
    const QPoint at = anchor.value_or(QPoint(ClientWidth() / 2, ClientHeight() / 2));
    const double oldWidth = std::max(1, display_->width()), oldHeight = std::max(1, display_->height());
    const double u = (at.x() - display_->x()) * picture_->Width() / oldWidth;
    const double v = (at.y() - display_->y()) * picture_->Height() / oldHeight;
    SetZoomPercent(zoom);
    // Back under the anchor, as far as the scroll ranges allow. The redraw
    // has asked for a paint already: the view is painted once, when the
    // step is done, not here and again then.
    const double newX = u * display_->width() / picture_->Width();
    const double newY = v * display_->height() / picture_->Height();
    const int horzMax = horzShown_ ? std::max(0, horzRange_ - ClientWidth()) : 0;
    const int vertMax = vertShown_ ? std::max(0, vertRange_ - ClientHeight()) : 0;
    settingPositions_ = true;
    horizontalScrollBar()->setValue(std::clamp(int(std::lround(displayLeft_ + newX - at.x())), 0, horzMax));
    verticalScrollBar()->setValue(std::clamp(int(std::lround(displayTop_ + newY - at.y())), 0, vertMax));
    settingPositions_ = false;
    viewport()->update();
    return true;
}

void TImageScrollBox::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    event->accept();
    wheelRemainder_ += event->angleDelta().y();
    const QPoint at = viewport()->mapFromGlobal(event->globalPosition().toPoint());
    runEventWork([&] {
        int steps = 0;
        while (wheelRemainder_ >= QWheelEvent::DefaultDeltasPerStep) {
            wheelRemainder_ -= QWheelEvent::DefaultDeltasPerStep;
            ++steps;
        }
        while (wheelRemainder_ <= -QWheelEvent::DefaultDeltasPerStep) {
            wheelRemainder_ += QWheelEvent::DefaultDeltasPerStep;
            --steps;
        }
        if (steps != 0 && ZoomBy(steps, at))
            emit zoomStepped();
    });
}

// --- scrolling

int TImageScrollBox::HorzScrollPosition() const
{
    return horizontalScrollBar()->value();
}
int TImageScrollBox::VertScrollPosition() const
{
    return verticalScrollBar()->value();
}
int TImageScrollBox::ClientWidth() const
{
    return viewport()->width();
}
int TImageScrollBox::ClientHeight() const
{
    return viewport()->height();
}

void TImageScrollBox::SetScrollPositions(int horz, int vert)
{
    const int horzMax = horzShown_ ? std::max(0, horzRange_ - ClientWidth()) : 0;
    const int vertMax = vertShown_ ? std::max(0, vertRange_ - ClientHeight()) : 0;
    const int oldHorz = HorzScrollPosition();
    const int oldVert = VertScrollPosition();
    // Both bars move first, then one repaint shows the result.
    settingPositions_ = true;
    horizontalScrollBar()->setValue(std::clamp(horz, 0, horzMax));
    verticalScrollBar()->setValue(std::clamp(vert, 0, vertMax));
    settingPositions_ = false;
    if ((HorzScrollPosition() != oldHorz || VertScrollPosition() != oldVert) && !redrawing_)
        viewport()->repaint();
}

void TImageScrollBox::scrollContentsBy(int, int)
{
    display_->move(displayLeft_ - HorzScrollPosition(), displayTop_ - VertScrollPosition());
    // The picture follows the thumb (or the drag) at once; a redraw repaints
    // when it is done instead.
    if (!redrawing_ && !settingPositions_)
        viewport()->repaint();
}

void TImageScrollBox::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (!redrawing_)
        runEventWork([this] { Redraw(false); });
}

void TImageScrollBox::hideEvent(QHideEvent* event)
{
    QAbstractScrollArea::hideEvent(event);
    if (mouseHandler_->MouseIsDown())
        mouseHandler_->MouseUp(Qt::NoButton, Qt::NoModifier, 0, 0);
}

// --- mouse events of the display control

void TImageScrollBox::imageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    runEventWork([&] {
        mouseHandler_->MouseDown(button, shift, x, y);
        if (OnImageMouseDown)
            OnImageMouseDown(*this, button, shift, x, y);
    });
}

void TImageScrollBox::imageMouseMove(Qt::KeyboardModifiers shift, int x, int y)
{
    runEventWork([&] {
        mouseHandler_->MouseMove(shift, x, y);
        if (OnImageMouseMove)
            OnImageMouseMove(*this, shift, x, y);
    });
}

void TImageScrollBox::imageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    runEventWork([&] {
        mouseHandler_->MouseUp(button, shift, x, y);
        if (OnImageMouseUp)
            OnImageMouseUp(*this, button, shift, x, y);
    });
}
