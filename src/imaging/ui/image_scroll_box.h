// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TImageScrollBox: a scrolling, zooming view of one picture.
//
// The view owns the picture it shows and keeps a display copy of it scaled
// by the zoom factor. A child control of the viewport shows that copy one
// screen pixel per pixel, centred when asked; a picture larger than the view
// is panned with the scroll bars or by dragging it with the mouse.
//
// Every geometric effect of a redraw (zoom factor, scroll bar visibility,
// ranges and positions, size and place of the display control, the events)
// happens at once. Pixels are scaled only where they are needed: a paint
// scales just the part of the picture on the screen (imaging/zoom_render.h),
// so what a paint costs follows that part, not the size of the zoomed
// picture, and the whole display copy is made only when DisplayCopy() asks
// for it.
//
// Beyond the zoom modes, the zoom steps by factors of two between 1/16 and
// 16 (ZoomBy; Ctrl+wheel over the view), keeping the point under the mouse
// or the middle of the view where it is. A picture with an alpha plane is
// shown over a grey checkerboard, blended by its alpha, while ShowAlpha is
// set; otherwise, and for a picture without alpha, its opaque colours.
#include "imaging/dib_graphic.h"
#include "imaging/resize_transform.h"
#include "platform/handler_guard.h"
#include "platform/streams.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

// How a redraw chooses the zoom factor.
enum TZoomMode : uint8_t {
    zmOriginalSize = 0,  // 100 percent
    zmFullPage = 1,      // the whole picture fits into the view, larger or smaller
    zmFitWidth = 2,      // the picture's width fills the client width
    zmFitHeight = 3,     // the picture's height fills the client height
    zmPercent = 4,       // ZoomPercent as set
    zmFitToPage = 5,     // as zmFullPage, but never above 100 percent
};

class TImageScrollBox;

// The view's two cursors, drawn in code: an open hand over the picture and a
// closed hand while a picture larger than the view is dragged. Created on
// first use (a GUI application must exist by then).
const QCursor& OpenHandCursor();
const QCursor& ClosedHandCursor();

// Turns mouse events on the display control (coordinates relative to it)
// into actions on the view. The base only tracks whether a button is down.
class TMouseHandler {
public:
    explicit TMouseHandler(TImageScrollBox& view) : view_(view) {}
    virtual ~TMouseHandler() = default;
    TMouseHandler(const TMouseHandler&) = delete;
    TMouseHandler& operator=(const TMouseHandler&) = delete;

    // Called by a redraw that changed the zoom or reloaded the picture.
    virtual void Reset() {}
    virtual void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseMove(Qt::KeyboardModifiers shift, int x, int y) {}

    bool MouseIsDown() const { return mouseIsDown_; }

protected:
    TImageScrollBox& view_;
    bool mouseIsDown_ = false;
};

// Pans a picture larger than the view: the point grabbed stays under the
// pointer. Shows the closed hand as the application's cursor while a scroll
// bar is visible and a button is down.
class TDragMouseHandler : public TMouseHandler {
public:
    // Gives the view's display control the open hand cursor.
    explicit TDragMouseHandler(TImageScrollBox& view);
    // Ends a drag still running, so that the closed hand does not stay.
    ~TDragMouseHandler() override;

    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void MouseMove(Qt::KeyboardModifiers shift, int x, int y) override;

private:
    // The application cursor at the press (none: the default cursor).
    std::optional<QCursor> savedCursor_;
    int32_t startX_ = 0;
    int32_t startY_ = 0;
};

class TImageScrollBox : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TImageScrollBox(QWidget* parent = nullptr);
    ~TImageScrollBox() override;

    // Replaces the picture with the one read from the stream's current
    // position by the class that `formatName` selects (a bare format name
    // such as "TGA" or a file name whose extension is the key), then
    // redraws. On failure the old picture and display stay as they were.
    // `keepAlpha` as for LoadPictureFromStream (TDibGraphic::AlphaPlane).
    void LoadFromStream(TStream& stream, const std::string& formatName, int imageIndex, bool keepAlpha = false);
    // Loads a picture file (opened for reading, shared with everyone) by its
    // extension, as LoadFromStream.
    // `keepAlpha` as for LoadPictureFromFile (TDibGraphic::AlphaPlane).
    void LoadFromFile(const std::string& fileName, int imageIndex, bool keepAlpha = false);
    // Writes a copy of the picture in the named format; OnBeforeSave sees
    // that copy before it is written.
    void SaveToStream(TStream& stream, const std::string& formatName);
    // Empties the picture and redraws.
    void Clear();
    // Makes `picture` the view's picture (as a load does) and redraws.
    void TakePicture(std::unique_ptr<TDibGraphic> picture);

    // The picture. Callers may change it in place and then call Redraw(true);
    // the reference is valid until the next load. Taking the changeable
    // reference keeps what is shown as it is (the display is drawn from a
    // copy of the picture until the next redraw), so that such changes show
    // only after the next redraw.
    TDibGraphic& Graphic();
    const TDibGraphic& Graphic() const { return *picture_; }

    // Rebuilds the display; with `reload` also the smoothed copy of a
    // black-and-white picture. Does nothing without a parent window, while
    // the view is not visible, or while a redraw is running.
    void Redraw(bool reload);

    TZoomMode ZoomMode() const { return zoomMode_; }
    // Stores the mode and redraws, even when it is the current mode.
    void SetZoomMode(TZoomMode mode);
    float ZoomPercent() const { return zoomPercent_; }
    // Ignored while the picture is empty, and for values of 0.1 or less or
    // not finite; otherwise switches to zmPercent and redraws.
    void SetZoomPercent(float percent);
    bool Centered() const { return centered_; }
    void SetCentered(bool centered);
    bool AntiAliased() const { return antiAliased_; }
    void SetAntiAliased(bool antiAliased);
    // Shows the picture's alpha over the checkerboard (a repaint, no redraw).
    bool ShowAlpha() const { return showAlpha_; }
    void SetShowAlpha(bool show);

    // The zoom steps: 100 percent times a power of two, from 1/16 to 16.
    static constexpr float kMinZoomStep = 6.25f;
    static constexpr float kMaxZoomStep = 1600.0f;
    // The step after `percent` in `direction` (+1 larger, -1 smaller): the
    // nearest step strictly beyond it; `percent` itself when there is none.
    static float ZoomStepFrom(float percent, int direction);
    // Zooms `steps` steps in or out (SetZoomPercent) and scrolls so that the
    // picture point at `anchor` (viewport coordinates; the middle of the
    // client area when none) stays there. False when the zoom could not
    // change (no picture, or at the end of the steps).
    bool ZoomBy(int steps, std::optional<QPoint> anchor = std::nullopt);

    // The display copy: the picture scaled to the display size in its own
    // format (opaque), made now if it has not been since the last redraw.
    const TDibGraphic& DisplayCopy();
    // The pixels of display rectangle `part` as the display control paints
    // them (alpha and checkerboard included); null when nothing is shown.
    QImage RenderDisplayPart(const QRect& part) const;
    // The smoothed version of a black-and-white picture (empty otherwise).
    const TDibGraphic& SmoothedCopy() const { return smoothed_; }
    // The control that shows the display copy (a child of the viewport).
    QWidget* DisplayControl() const;
    TMouseHandler& MouseHandler() { return *mouseHandler_; }

    // Scroll bars as the view sees them: the range is the display copy's
    // width or height, the position runs from 0 to range - client size.
    bool HorzScrollBarVisible() const { return horzShown_; }
    bool VertScrollBarVisible() const { return vertShown_; }
    int HorzScrollRange() const { return horzRange_; }
    int VertScrollRange() const { return vertRange_; }
    int HorzScrollPosition() const;
    int VertScrollPosition() const;
    // Sets the positions, each kept within 0 .. range - client size and at 0
    // while its bar is hidden; the display control follows at once.
    void SetScrollPositions(int horz, int vert);
    int ClientWidth() const;
    int ClientHeight() const;

    // Work started by window events (a resize's redraw, mouse handling, the
    // scaling a paint needs) runs inside this guard, normally the main
    // window's error box guard; without one, inside the application's.
    void setGuard(HandlerGuard guard) { guard_ = std::move(guard); }

    std::function<void(TImageScrollBox& sender, float zoom)> OnZoomChange;
    std::function<void(TImageScrollBox& sender, TDibGraphic& graphic)> OnBeforeSave;
    // Receives the picture after the display was rebuilt.
    std::function<void(const TDibGraphic& graphic)> OnRedraw;
    // The display control's mouse events, after the mouse handler has seen them.
    std::function<void(TImageScrollBox& sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>
        OnImageMouseDown;
    std::function<void(TImageScrollBox& sender, Qt::KeyboardModifiers shift, int x, int y)> OnImageMouseMove;
    std::function<void(TImageScrollBox& sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>
        OnImageMouseUp;

signals:
    // The user changed the zoom over the view (Ctrl+wheel).
    void zoomStepped();
    // A redraw has finished: the zoom and display size may be new.
    void redrawn();

protected:
    // Ctrl+wheel zooms, one step per notch; without Ctrl the view scrolls.
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // A view that is hidden during a drag gets no mouse-up; the drag ends here.
    void hideEvent(QHideEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    class DisplayWidget;
    friend class DisplayWidget;

    void replacePicture(std::unique_ptr<TDibGraphic> picture);
    void chooseZoom();
    void sizeAndFillDisplay();
    void showScrollBar(Qt::Orientation orientation, bool shown);
    void placeDisplay();
    // What the display is drawn from: a kept copy while one is held, else the
    // smoothed copy or the picture, as the last redraw chose.
    const TDibGraphic& displaySource() const;
    // Before the picture changes or is replaced while its display stays:
    // keeps what is shown (by `replaced`, the old picture itself, when given).
    void keepDisplay(std::unique_ptr<TDibGraphic> replaced = nullptr);
    void runEventWork(const std::function<void()>& work);

    void imageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void imageMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void imageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    std::unique_ptr<TDibGraphic> picture_;
    TDibGraphic displayCopy_;
    TDibGraphic smoothed_;
    TResizeTransform zoomTransform_;
    TAntiAliasTransform antiAliasTransform_;
    DisplayWidget* display_ = nullptr;  // owned by the viewport
    std::unique_ptr<TMouseHandler> mouseHandler_;

    TZoomMode zoomMode_ = zmOriginalSize;
    float zoomPercent_ = 100.0f;
    bool antiAliased_ = false;
    bool centered_ = false;
    bool showAlpha_ = false;
    bool redrawing_ = false;
    bool settingPositions_ = false;  // SetScrollPositions repaints once at its end
    int wheelRemainder_ = 0;         // Ctrl+wheel movement short of a notch

    // The display as the last redraw built it: shown at all (a picture that
    // was not empty), from the smoothed copy rather than the picture, and
    // whether displayCopy_ has been made for it.
    bool displayShown_ = false;
    bool displayFromSmoothed_ = false;
    bool displayCopyMade_ = false;
    // The picture as it was shown, kept while the picture itself was changed
    // or replaced and no redraw has shown the new one yet.
    std::unique_ptr<TDibGraphic> kept_;
    // The premultiplied pixels (PremultipliedPixels) an averaged display of
    // a picture with alpha reads, made on its first paint for the picture
    // `premultipliedFor_`; forgotten whenever that picture may change (their
    // memory kept for the next picture of about the same size).
    mutable std::vector<uint32_t> premultiplied_;
    mutable const TDibGraphic* premultipliedFor_ = nullptr;
    void dropPremultiplied() const;

    bool horzShown_ = false;
    bool vertShown_ = false;
    int horzRange_ = 0;
    int vertRange_ = 0;
    int displayLeft_ = 0;  // the display control's place at scroll position 0
    int displayTop_ = 0;
    HandlerGuard guard_;
};
