// SPDX-License-Identifier: GPL-2.0-or-later
// The image view: zoom modes and the geometry they give, scroll bars,
// centring, loading and clearing, the setters, the redraw guard, dragging
// with the mouse, the smoothed copy of black-and-white pictures and the
// display copy that is scaled only when first needed.
#include "imaging/ui/image_scroll_box.h"
#include "support/gui_test_app.h"

#include "imaging/picture_registry.h"
#include "imaging/resize_transform.h"
#include "platform/exceptions.h"
#include "support/picture_builder.h"

#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

QApplication& widgetApp()
{
    return guiTestApp();
}

uint32_t patternColour(int x, int y)
{
    return MakeColor(uint8_t(x * 7 + y), uint8_t(y * 5), uint8_t(x ^ y));
}

// A TGA stream of an ifRgb24 picture, positioned at its start.
std::unique_ptr<TMemoryStream> tgaStream(int width, int height)
{
    auto picture = MakeRgb24Picture(width, height, patternColour);
    auto stream = std::make_unique<TMemoryStream>();
    SavePictureToStream(*picture, *stream, "TGA");
    stream->SetPosition(0);
    return stream;
}

template <typename F>
std::string messageOf(F&& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return "(no error)";
}

// Same size, format, palette and pixels.
void expectSamePicture(const TDibGraphic& actual, const TDibGraphic& expected)
{
    ASSERT_EQ(actual.IsEmpty(), expected.IsEmpty());
    ASSERT_EQ(actual.Width(), expected.Width());
    ASSERT_EQ(actual.Height(), expected.Height());
    ASSERT_EQ(actual.ImageFormat(), expected.ImageFormat());
    EXPECT_EQ(actual.ResolutionX(), expected.ResolutionX());
    EXPECT_EQ(actual.ResolutionY(), expected.ResolutionY());
    if (expected.IsEmpty())
        return;
    int mismatches = 0;
    for (int y = 0; y < expected.Height(); ++y)
        for (int x = 0; x < expected.Width(); ++x)
            if (actual.GetPixelColor(x, y) != expected.GetPixelColor(x, y))
                ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

class ImageScrollBoxTest : public testing::Test {
protected:
    static void SetUpTestSuite() { widgetApp(); }

    void SetUp() override
    {
        InitImageLibrary();
        window = std::make_unique<QWidget>();
        window->resize(600, 400);
        view = new TImageScrollBox(window.get());
        view->setGeometry(0, 0, 442, 146);
        view->SetCentered(true);
        window->show();
    }

    void TearDown() override
    {
        window.reset();
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
    }

    void load(int width, int height)
    {
        auto stream = tgaStream(width, height);
        view->LoadFromStream(*stream, "TGA", 1);
    }

    QWidget* display() const { return view->DisplayControl(); }
    QRect displayRect() const { return display()->geometry(); }

    std::unique_ptr<QWidget> window;
    TImageScrollBox* view = nullptr;
};

// --- zoom modes and geometry

struct GeometryCase {
    const char* name;
    int width, height;
    TZoomMode mode;
    float zoom;
    QRect display;  // in viewport coordinates, at scroll position 0
    bool horzBar, vertBar;
};

TEST_F(ImageScrollBoxTest, ZoomModesGiveTheZoomTheDisplaySizeTheBarsAndTheCentredPlace)
{
    const GeometryCase cases[] = {
        {"small, original size", 64, 32, zmOriginalSize, 100.0f, QRect(189, 57, 64, 32), false, false},
        {"large, original size", 512, 512, zmOriginalSize, 100.0f, QRect(0, 0, 512, 512), true, true},
        // Fits: the bars the previous picture needed go.
        {"just fits, original size", 430, 140, zmOriginalSize, 100.0f, QRect(6, 3, 430, 140), false, false},
        // 146 / 512 = 0.28515625 exactly.
        {"large, fit height", 512, 512, zmFitHeight, 28.515625f, QRect(148, 0, 146, 146), false, false},
        {"large, fit to page", 512, 512, zmFitToPage, 28.515625f, QRect(148, 0, 146, 146), false, false},
        {"small, fit to page keeps 100", 64, 32, zmFitToPage, 100.0f, QRect(189, 57, 64, 32), false, false},
        // 146 / 32 = 4.5625 is less than 442 / 64: the height fits.
        {"small, full page enlarges", 64, 32, zmFullPage, 456.25f, QRect(75, 0, 292, 146), false, false},
        {"wide, full page", 884, 73, zmFullPage, 50.0f, QRect(0, 55, 442, 36), false, false},
        {"small, fit width", 221, 20, zmFitWidth, 200.0f, QRect(0, 53, 442, 40), false, false},
    };
    for (const GeometryCase& c : cases) {
        SCOPED_TRACE(c.name);
        view->SetZoomMode(c.mode);
        load(c.width, c.height);
        EXPECT_EQ(view->ZoomMode(), c.mode);
        EXPECT_EQ(view->ZoomPercent(), c.zoom);
        EXPECT_EQ(displayRect(), c.display);
        EXPECT_TRUE(display()->isVisible());
        EXPECT_EQ(view->HorzScrollBarVisible(), c.horzBar);
        EXPECT_EQ(view->VertScrollBarVisible(), c.vertBar);
        // What the view reports is what the toolkit shows.
        EXPECT_EQ(view->horizontalScrollBar()->isVisible(), c.horzBar);
        EXPECT_EQ(view->verticalScrollBar()->isVisible(), c.vertBar);
        EXPECT_EQ(view->HorzScrollRange(), c.display.width());
        EXPECT_EQ(view->VertScrollRange(), c.display.height());
        EXPECT_EQ(view->HorzScrollPosition(), 0);
        EXPECT_EQ(view->VertScrollPosition(), 0);
        EXPECT_EQ(view->ClientWidth(), 442 - (c.vertBar ? view->verticalScrollBar()->width() : 0));
        EXPECT_EQ(view->ClientHeight(), 146 - (c.horzBar ? view->horizontalScrollBar()->height() : 0));
        // Positions run from 0 to range - client size.
        EXPECT_EQ(view->horizontalScrollBar()->maximum(), c.horzBar ? c.display.width() - view->ClientWidth() : 0);
        EXPECT_EQ(view->verticalScrollBar()->maximum(), c.vertBar ? c.display.height() - view->ClientHeight() : 0);
    }
}

TEST_F(ImageScrollBoxTest, NotCentredTheDisplayStaysAtTheOrigin)
{
    view->SetCentered(false);
    load(64, 32);
    EXPECT_EQ(displayRect(), QRect(0, 0, 64, 32));
    view->SetCentered(true);
    EXPECT_EQ(displayRect(), QRect(189, 57, 64, 32));
}

TEST_F(ImageScrollBoxTest, EveryColumnOfAPictureNearTheClientWidthCanBeScrolledIntoView)
{
    // A tall picture shows the vertical bar, which narrows the client area.
    // Whatever its width, its right edge must be visible or reachable by the
    // horizontal bar, never hidden under the vertical one.
    load(10, 300);
    const int clientWithBar = view->ClientWidth();
    ASSERT_LT(clientWithBar, 442);
    for (int width = clientWithBar - 20; width <= 442; ++width) {
        SCOPED_TRACE(width);
        load(10, 10);  // no bars before
        load(width, 300);
        ASSERT_TRUE(view->VertScrollBarVisible());
        view->SetScrollPositions(1 << 20, 0);
        const int rightEdge = displayRect().x() + width;
        if (view->HorzScrollBarVisible()) {
            EXPECT_EQ(rightEdge, view->ClientWidth());
            EXPECT_EQ(displayRect().x(), -view->HorzScrollPosition());
        } else {
            EXPECT_LE(rightEdge, view->ClientWidth());
            EXPECT_GE(displayRect().x(), 0);
        }
    }
}

TEST_F(ImageScrollBoxTest, SettingTheSameZoomModeRedrawsSoThatAFitFollowsTheViewSize)
{
    view->SetZoomMode(zmFitHeight);
    load(512, 512);
    ASSERT_EQ(displayRect(), QRect(148, 0, 146, 146));

    // Resized while a redraw runs: no second redraw starts, the fit stays.
    view->OnRedraw = [&](const TDibGraphic&) {
        view->OnRedraw = nullptr;
        view->resize(442, 200);
    };
    view->Redraw(false);
    ASSERT_EQ(view->height(), 200);
    EXPECT_EQ(view->ZoomPercent(), 28.515625f);
    EXPECT_EQ(displayRect(), QRect(148, 0, 146, 146));

    view->SetZoomMode(zmFitHeight);
    EXPECT_EQ(view->ZoomPercent(), 39.0625f);
    EXPECT_EQ(displayRect(), QRect(121, 0, 200, 200));

    // Resized while shown: the fit follows at once.
    view->resize(442, 128);
    EXPECT_EQ(view->ZoomPercent(), 25.0f);
    EXPECT_EQ(displayRect(), QRect(157, 0, 128, 128));
}

// --- the setters

TEST_F(ImageScrollBoxTest, ZoomPercentIsIgnoredWhenTooSmallOrNotANumberOrWithoutAPicture)
{
    view->SetZoomPercent(50.0f);  // no picture yet
    EXPECT_EQ(view->ZoomMode(), zmOriginalSize);
    EXPECT_EQ(view->ZoomPercent(), 100.0f);

    load(200, 100);
    for (float z :
         {0.1f, 0.05f, 0.0f, -20.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        SCOPED_TRACE(z);
        view->SetZoomPercent(z);
        EXPECT_EQ(view->ZoomMode(), zmOriginalSize);
        EXPECT_EQ(view->ZoomPercent(), 100.0f);
        EXPECT_EQ(displayRect().size(), QSize(200, 100));
    }

    view->SetZoomPercent(0.5f);  // just above the limit: 1 x 0.5 pixels become 1 x 1
    EXPECT_EQ(view->ZoomMode(), zmPercent);
    EXPECT_EQ(displayRect().size(), QSize(1, 1));
    view->SetZoomPercent(150.0f);
    EXPECT_EQ(view->ZoomPercent(), 150.0f);
    EXPECT_EQ(displayRect().size(), QSize(300, 150));
    EXPECT_TRUE(view->VertScrollBarVisible());
    // zmPercent keeps the zoom for the next picture.
    load(10, 10);
    EXPECT_EQ(displayRect().size(), QSize(15, 15));
}

TEST_F(ImageScrollBoxTest, OnZoomChangeIsCalledOnlyWhenTheZoomChanges)
{
    std::vector<float> zooms;
    view->OnZoomChange = [&](TImageScrollBox& sender, float zoom) {
        EXPECT_EQ(&sender, view);
        zooms.push_back(zoom);
    };
    load(512, 512);
    EXPECT_TRUE(zooms.empty());
    view->SetZoomMode(zmFitHeight);
    view->SetZoomMode(zmFitHeight);
    load(512, 512);
    EXPECT_EQ(zooms, std::vector<float>{28.515625f});

    // Set by the caller: the zoom is already the new one when the redraw runs.
    view->SetZoomPercent(100.25f);
    EXPECT_EQ(zooms.size(), 1u);
    // A change smaller than one percent is still a change.
    view->SetZoomMode(zmOriginalSize);
    EXPECT_EQ(zooms, (std::vector<float>{28.515625f, 100.0f}));
}

TEST_F(ImageScrollBoxTest, AntiAliasingSmoothsOnlyBlackAndWhitePictures)
{
    int redraws = 0;
    view->OnRedraw = [&](const TDibGraphic& graphic) {
        EXPECT_EQ(&graphic, &view->Graphic());
        ++redraws;
    };

    // A black-and-white picture, made in place as callers may.
    TDibGraphic& mono = view->Graphic();
    mono.NewImage(37, 21, ifMonochrome, nullptr, 96, 96);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x)
            mono.SetPixelIndex(x, y, (x / 3 + y / 2) % 2);
    view->Redraw(true);
    ASSERT_EQ(redraws, 1);

    TDibGraphic smoothed;
    TAntiAliasTransform().ApplyOnDest(mono, smoothed);
    expectSamePicture(view->SmoothedCopy(), smoothed);
    EXPECT_EQ(view->SmoothedCopy().ImageFormat(), ifGrayscale16);
    expectSamePicture(view->DisplayCopy(), mono);  // not anti-aliased: the picture itself

    view->SetAntiAliased(true);
    EXPECT_EQ(redraws, 2);
    expectSamePicture(view->DisplayCopy(), smoothed);
    view->SetZoomPercent(200.0f);
    TResizeTransform zoom;
    zoom.TargetWidth = 74;
    zoom.TargetHeight = 42;
    TDibGraphic expected;
    zoom.ApplyOnDest(smoothed, expected);
    expectSamePicture(view->DisplayCopy(), expected);

    // Other formats have no smoothed copy and ignore the setting.
    load(30, 20);
    EXPECT_TRUE(view->SmoothedCopy().IsEmpty());
    const int before = redraws;
    view->SetAntiAliased(false);
    view->SetAntiAliased(true);
    EXPECT_EQ(redraws, before);
    view->SetZoomMode(zmOriginalSize);
    expectSamePicture(view->DisplayCopy(), view->Graphic());
}

// --- loading, clearing, saving

TEST_F(ImageScrollBoxTest, ClearHidesTheDisplayAndBothScrollBars)
{
    load(512, 512);
    ASSERT_TRUE(view->HorzScrollBarVisible() && view->VertScrollBarVisible());
    TDibGraphic* picture = &view->Graphic();
    view->Clear();
    EXPECT_EQ(&view->Graphic(), picture);  // emptied, not replaced
    EXPECT_TRUE(view->Graphic().IsEmpty());
    EXPECT_TRUE(view->DisplayCopy().IsEmpty());
    EXPECT_FALSE(display()->isVisible());
    EXPECT_FALSE(view->HorzScrollBarVisible());
    EXPECT_FALSE(view->VertScrollBarVisible());
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(view->verticalScrollBar()->isVisible());

    load(64, 32);  // and shows again after the next load
    EXPECT_TRUE(display()->isVisible());
    EXPECT_EQ(displayRect(), QRect(189, 57, 64, 32));
}

TEST_F(ImageScrollBoxTest, AFailedLoadKeepsThePictureAndTheDisplay)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    const std::string unknown = folder + "/picture.xyz";
    tgaStream(8, 8)->SaveToFile(unknown);

    view->SetZoomMode(zmFitHeight);
    load(512, 512);
    const TDibGraphic* picture = &view->Graphic();
    TDibGraphic shown;
    shown.Assign(&view->DisplayCopy());

    std::vector<uint8_t> head = tgaStream(16, 16)->bytes();
    head.resize(30);
    TMemoryStream truncated(head);
    TMemoryStream bytes(tgaStream(8, 8)->bytes());
    const struct {
        const char* name;
        std::function<void()> load;
        std::string message;
    } cases[] = {
        {"unknown name", [&] { view->LoadFromStream(bytes, "picture.xyz", 1); },
         "Unknown picture file extension (.xyz)"},
        {"unknown file", [&] { view->LoadFromFile(unknown, 1); }, "Unknown picture file extension (.xyz)"},
        {"missing file", [&] { view->LoadFromFile(folder + "/none.tga", 1); },
         "Cannot open file " + folder + "/none.tga"},
        {"broken stream", [&] { view->LoadFromStream(truncated, "TGA", 1); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = messageOf(c.load);
        EXPECT_NE(message, "(no error)");
        if (!c.message.empty()) {
            EXPECT_EQ(message, c.message);
        }
        EXPECT_EQ(&view->Graphic(), picture);
        EXPECT_EQ(view->Graphic().Width(), 512);
        EXPECT_EQ(view->ZoomPercent(), 28.515625f);
        EXPECT_EQ(displayRect(), QRect(148, 0, 146, 146));
        expectSamePicture(view->DisplayCopy(), shown);
    }

    // The same file under a known extension loads.
    const std::string known = folder + "/picture.tga";
    tgaStream(64, 32)->SaveToFile(known);
    view->SetZoomMode(zmOriginalSize);
    view->LoadFromFile(known, 1);
    EXPECT_EQ(displayRect(), QRect(189, 57, 64, 32));
    EXPECT_EQ(view->Graphic().GetPixelColor(5, 7), patternColour(5, 7));
}

TEST_F(ImageScrollBoxTest, SaveWritesACopyThatOnBeforeSaveSees)
{
    load(40, 30);
    TDibGraphic* seen = nullptr;
    view->OnBeforeSave = [&](TImageScrollBox& sender, TDibGraphic& graphic) {
        EXPECT_EQ(&sender, view);
        seen = &graphic;
        EXPECT_EQ(graphic.Width(), 40);
        graphic.SetPixelColor(0, 0, 0x123456);  // changes only what is written
    };
    TMemoryStream out;
    view->SaveToStream(out, "TGA");
    ASSERT_NE(seen, nullptr);
    EXPECT_NE(seen, &view->Graphic());
    EXPECT_EQ(view->Graphic().GetPixelColor(0, 0), patternColour(0, 0));

    out.SetPosition(0);
    auto written = LoadPictureFromStream(out, "TGA", 1);
    EXPECT_EQ(written->GetPixelColor(0, 0), 0x123456u);
    EXPECT_EQ(written->GetPixelColor(39, 29), patternColour(39, 29));
}

// --- the redraw guard

TEST_F(ImageScrollBoxTest, RedrawRunsOnlyInAShownParentOnceAtATimeAndRecoversFromErrors)
{
    // Without a parent window.
    TImageScrollBox alone;
    alone.show();
    auto stream = tgaStream(64, 32);
    alone.LoadFromStream(*stream, "TGA", 1);
    EXPECT_EQ(alone.Graphic().Width(), 64);
    EXPECT_FALSE(alone.DisplayControl()->isVisibleTo(&alone));
    alone.hide();

    // In a hidden window.
    window->hide();
    load(64, 32);
    EXPECT_FALSE(display()->isVisibleTo(view));
    window->show();
    view->Redraw(false);
    EXPECT_EQ(displayRect(), QRect(189, 57, 64, 32));

    // Not re-entered, and the guard is cleared when a redraw fails.
    int redraws = 0;
    bool fail = true;
    view->OnRedraw = [&](const TDibGraphic&) {
        ++redraws;
        view->Redraw(true);
        if (fail)
            throw Exception("redraw failed");
    };
    EXPECT_EQ(messageOf([&] { view->Redraw(false); }), "redraw failed");
    EXPECT_EQ(redraws, 1);
    fail = false;
    view->SetZoomMode(zmFitHeight);
    EXPECT_EQ(redraws, 2);
    EXPECT_EQ(displayRect(), QRect(75, 0, 292, 146));
}

TEST_F(ImageScrollBoxTest, AResizeWhoseRedrawFailsReportsThroughTheGuard)
{
    load(100, 100);
    std::vector<std::string> reported;
    view->setGuard([&](const std::function<void()>& work) {
        try {
            work();
        } catch (const Exception& e) {
            reported.push_back(e.message());
        }
    });
    view->OnRedraw = [](const TDibGraphic&) { throw Exception("no redraw"); };
    view->resize(300, 100);
    EXPECT_EQ(reported, std::vector<std::string>{"no redraw"});
}

TEST_F(ImageScrollBoxTest, WithoutAGuardOfItsOwnAFailedResizeRedrawReachesTheApplicationsGuard)
{
    load(100, 100);
    std::vector<std::string> reported;
    setApplicationGuard([&](const std::function<void()>& work) {
        try {
            work();
        } catch (const Exception& e) {
            reported.push_back(e.message());
        }
    });
    view->OnRedraw = [](const TDibGraphic&) { throw Exception("no redraw"); };
    view->resize(300, 100);
    setApplicationGuard(nullptr);
    EXPECT_EQ(reported, std::vector<std::string>{"no redraw"});

    testing::internal::CaptureStderr();
    view->resize(200, 100);
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("no redraw"), std::string::npos) << told;
}

// --- the display copy

TEST_F(ImageScrollBoxTest, TheDisplayCopyEqualsTheScaledPictureWhenPaintedOrAskedFor)
{
    struct Case {
        const char* name;
        std::function<std::unique_ptr<TDibGraphic>()> make;
    };
    const Case cases[] = {
        // Large true colour is averaged, paletted pictures take nearest pixels.
        {"true colour", [] { return MakePhotoLikePicture(256, 256, 7); }},
        {"paletted",
         [] {
             return MakeIndexedPicture(97, 256, ifColor256, DefaultPalette(ifColor256),
                                       [](int x, int y) { return (x * 3 + y) % 256; });
         }},
    };
    view->SetZoomMode(zmFitHeight);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto picture = c.make();
        TMemoryStream bytes;
        SavePictureToStream(*picture, bytes, "TGA");
        bytes.SetPosition(0);
        view->LoadFromStream(bytes, "TGA", 1);
        const TDibGraphic& source = view->Graphic();

        TResizeTransform zoom;
        zoom.TargetWidth = displayRect().width();
        zoom.TargetHeight = 146;
        TDibGraphic expected;
        zoom.ApplyOnDest(source, expected);

        // Painting builds it and shows it one pixel per pixel.
        const QImage painted = display()->grab().toImage();
        ASSERT_EQ(painted.size(), QSize(expected.Width(), expected.Height()));
        int mismatches = 0;
        for (int y = 0; y < expected.Height(); ++y)
            for (int x = 0; x < expected.Width(); ++x)
                if ((painted.pixel(x, y) & 0xFFFFFFu) != expected.GetPixelColor(x, y))
                    ++mismatches;
        EXPECT_EQ(mismatches, 0);
        expectSamePicture(view->DisplayCopy(), expected);

        // Unpainted, the accessor builds it the same way; at 100 percent it
        // is a plain copy.
        view->SetZoomMode(zmFitHeight);
        expectSamePicture(view->DisplayCopy(), expected);
        view->SetZoomMode(zmOriginalSize);
        expectSamePicture(view->DisplayCopy(), source);
        view->SetZoomMode(zmFitHeight);
    }
}

TEST_F(ImageScrollBoxTest, ChangesToThePictureShowOnlyAfterTheNextRedraw)
{
    view->SetZoomMode(zmFitHeight);
    load(256, 256);
    TResizeTransform zoom;
    zoom.TargetWidth = zoom.TargetHeight = 146;
    TDibGraphic before;
    zoom.ApplyOnDest(view->Graphic(), before);

    // Changed in place before the display copy was ever needed.
    TDibGraphic& picture = view->Graphic();
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            picture.SetPixelColor(x, y, 0xFFFFFF);
    expectSamePicture(view->DisplayCopy(), before);
    view->Redraw(true);
    EXPECT_EQ(view->DisplayCopy().GetPixelColor(70, 70), 0xFFFFFFu);

    // A load into a hidden view replaces the picture but not the display.
    load(256, 256);
    window->hide();
    load(64, 32);
    EXPECT_EQ(view->Graphic().Width(), 64);
    expectSamePicture(view->DisplayCopy(), before);
}

// --- dragging

struct DragCase {
    const char* name;
    int width, height;
    bool horzBar, vertBar;
};

TEST_F(ImageScrollBoxTest, DraggingScrollsByTheMouseMovementWithinTheRanges)
{
    const DragCase cases[] = {
        {"fits", 64, 32, false, false},
        {"tall", 300, 512, false, true},
        {"large", 512, 512, true, true},
    };
    for (const DragCase& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.width, c.height);
        ASSERT_EQ(view->HorzScrollBarVisible(), c.horzBar);
        ASSERT_EQ(view->VertScrollBarVisible(), c.vertBar);
        const QPoint origin = displayRect().topLeft();
        const int horzMax = c.horzBar ? c.width - view->ClientWidth() : 0;
        const int vertMax = c.vertBar ? c.height - view->ClientHeight() : 0;
        EXPECT_TRUE(display()->cursor() == OpenHandCursor());

        // The pointer, in viewport coordinates, as the display control sees it.
        const auto at = [&](QPoint p) { return p - displayRect().topLeft(); };
        const QPoint start = origin + QPoint(20, 10);
        QTest::mousePress(display(), Qt::LeftButton, {}, at(start));
        const bool scrolls = c.horzBar || c.vertBar;
        ASSERT_EQ(QGuiApplication::overrideCursor() != nullptr, scrolls);
        if (scrolls) {
            EXPECT_TRUE(*QGuiApplication::overrideCursor() == ClosedHandCursor());
        }

        const struct {
            QPoint pointer;
            int horz, vert;  // positions before clamping: start - pointer
        } moves[] = {
            {start + QPoint(-15, -8), 15, 8},           {start + QPoint(-40, -30), 40, 30},
            {start + QPoint(-5000, -5000), 5000, 5000}, {start + QPoint(-25, -12), 25, 12},
            {start + QPoint(900, 900), -900, -900},
        };
        for (const auto& m : moves) {
            QTest::mouseMove(display(), at(m.pointer));
            const int horz = std::clamp(m.horz, 0, horzMax);
            const int vert = std::clamp(m.vert, 0, vertMax);
            EXPECT_EQ(view->HorzScrollPosition(), horz);
            EXPECT_EQ(view->VertScrollPosition(), vert);
            EXPECT_EQ(displayRect().topLeft(), origin - QPoint(horz, vert));
        }
        QTest::mouseRelease(display(), Qt::LeftButton, {}, at(start));
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_FALSE(view->MouseHandler().MouseIsDown());

        // Moving without a button down does not scroll.
        QTest::mouseMove(display(), at(start + QPoint(-30, -30)));
        EXPECT_EQ(view->HorzScrollPosition(), 0);
        EXPECT_EQ(view->VertScrollPosition(), 0);
    }
}

TEST_F(ImageScrollBoxTest, DragRestoresTheApplicationCursorItFoundEvenWithTwoButtons)
{
    load(512, 512);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<std::string> seen;
    view->OnImageMouseDown = [&](TImageScrollBox&, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
        seen.push_back("down " + std::to_string(x) + "," + std::to_string(y));
    };
    view->OnImageMouseUp = [&](TImageScrollBox&, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        seen.push_back("up");
    };

    QTest::mousePress(display(), Qt::LeftButton, {}, QPoint(50, 40));
    EXPECT_TRUE(*QGuiApplication::overrideCursor() == ClosedHandCursor());
    // A second button during the drag neither restarts it nor takes the
    // closed hand as the cursor to restore.
    QTest::mousePress(display(), Qt::RightButton, {}, QPoint(50, 40));
    QTest::mouseMove(display(), QPoint(30, 30));
    EXPECT_EQ(view->HorzScrollPosition(), 20);
    EXPECT_EQ(view->VertScrollPosition(), 10);
    QTest::mouseRelease(display(), Qt::LeftButton, {}, QPoint(50, 40));
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTest::mouseRelease(display(), Qt::RightButton, {}, QPoint(50, 40));
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(seen, (std::vector<std::string>{"down 50,40", "down 50,40", "up", "up"}));

    // A view hidden or destroyed during a drag gets no mouse-up; the drag
    // ends all the same.
    QTest::mousePress(display(), Qt::LeftButton, {}, QPoint(50, 40));
    ASSERT_TRUE(*QGuiApplication::overrideCursor() == ClosedHandCursor());
    window->hide();
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_FALSE(view->MouseHandler().MouseIsDown());
    QTest::mouseRelease(display(), Qt::LeftButton, {}, QPoint(50, 40));

    window->show();
    QTest::mousePress(display(), Qt::LeftButton, {}, QPoint(50, 40));
    ASSERT_TRUE(*QGuiApplication::overrideCursor() == ClosedHandCursor());
    delete view;
    view = nullptr;
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QWidget elsewhere;  // lets Qt Test forget the button it holds
    QTest::mouseRelease(&elsewhere, Qt::LeftButton, {}, QPoint(1, 1));
}

// --- zoom steps

TEST_F(ImageScrollBoxTest, ZoomStepsDoubleAndHalveBetweenOneSixteenthAndSixteen)
{
    const struct {
        float from;
        int direction;
        float to;
    } steps[] = {
        {100.0f, 1, 200.0f},    {100.0f, -1, 50.0f},   {800.0f, 1, 1600.0f},   {1600.0f, 1, 1600.0f},
        {12.5f, -1, 6.25f},     {6.25f, -1, 6.25f},    {28.515625f, 1, 50.0f}, {28.515625f, -1, 25.0f},
        {3000.0f, -1, 1600.0f}, {3000.0f, 1, 3000.0f}, {3.0f, 1, 6.25f},       {3.0f, -1, 3.0f},
    };
    for (const auto& s : steps)
        EXPECT_EQ(TImageScrollBox::ZoomStepFrom(s.from, s.direction), s.to) << s.from << " " << s.direction;

    load(100, 60);
    EXPECT_FALSE(view->ZoomBy(0));
    // In to the end: four steps, then nothing changes.
    for (float expected : {200.0f, 400.0f, 800.0f, 1600.0f}) {
        ASSERT_TRUE(view->ZoomBy(1));
        EXPECT_EQ(view->ZoomMode(), zmPercent);
        EXPECT_EQ(view->ZoomPercent(), expected);
        EXPECT_EQ(displayRect().size(), QSize(int(100 * expected / 100), int(60 * expected / 100)));
    }
    EXPECT_FALSE(view->ZoomBy(1));
    EXPECT_EQ(view->ZoomPercent(), 1600.0f);
    // Out to the other end in one call of eight steps.
    ASSERT_TRUE(view->ZoomBy(-8));
    EXPECT_EQ(view->ZoomPercent(), 6.25f);
    EXPECT_EQ(displayRect().size(), QSize(6, 3));
    EXPECT_FALSE(view->ZoomBy(-1));

    // From a fitted zoom the next step up is the next power of two.
    view->SetZoomMode(zmFitHeight);
    load(512, 512);
    ASSERT_EQ(view->ZoomPercent(), 28.515625f);
    ASSERT_TRUE(view->ZoomBy(1));
    EXPECT_EQ(view->ZoomPercent(), 50.0f);

    // Without a picture there is nothing to zoom.
    view->Clear();
    EXPECT_FALSE(view->ZoomBy(1));
}

TEST_F(ImageScrollBoxTest, AZoomStepKeepsThePointUnderTheAnchor)
{
    load(400, 300);
    // The picture pixel under a viewport point, from where the display lies.
    const auto pictureAt = [&](QPoint p) {
        const QRect d = displayRect();
        return QPointF((p.x() - d.x()) * 400.0 / d.width(), (p.y() - d.y()) * 300.0 / d.height());
    };
    view->SetScrollPositions(50, 60);
    const QPoint anchor(100, 40);
    const QPointF before = pictureAt(anchor);
    ASSERT_TRUE(view->ZoomBy(1, anchor));
    EXPECT_EQ(view->ZoomPercent(), 200.0f);
    const QPointF after = pictureAt(anchor);
    EXPECT_NEAR(after.x(), before.x(), 0.5);
    EXPECT_NEAR(after.y(), before.y(), 0.5);

    // Without an anchor the middle of the client area stays.
    const QPoint middle(view->ClientWidth() / 2, view->ClientHeight() / 2);
    const QPointF centre = pictureAt(middle);
    ASSERT_TRUE(view->ZoomBy(1));
    EXPECT_NEAR(pictureAt(middle).x(), centre.x(), 0.5);
    EXPECT_NEAR(pictureAt(middle).y(), centre.y(), 0.5);
}

TEST_F(ImageScrollBoxTest, CtrlWheelZoomsOneStepPerNotchAndAPlainWheelDoesNot)
{
    load(100, 60);
    int stepped = 0;
    QObject::connect(view, &TImageScrollBox::zoomStepped, [&] { ++stepped; });
    const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
        const QPointF at(30, 20);
        QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
    };
    wheel(120, Qt::ControlModifier);
    EXPECT_EQ(view->ZoomPercent(), 200.0f);
    wheel(-240, Qt::ControlModifier);
    EXPECT_EQ(view->ZoomPercent(), 50.0f);
    // Half notches add up.
    wheel(60, Qt::ControlModifier);
    EXPECT_EQ(view->ZoomPercent(), 50.0f);
    wheel(60, Qt::ControlModifier);
    EXPECT_EQ(view->ZoomPercent(), 100.0f);
    EXPECT_EQ(stepped, 3);
    wheel(120, Qt::NoModifier);
    EXPECT_EQ(view->ZoomPercent(), 100.0f);
    EXPECT_EQ(stepped, 3);
}

// --- alpha

// A 32-bit TGA (first row at the top, 8 alpha bits) of `w` x `h` B, G, R, A pixels.
std::unique_ptr<TMemoryStream> tgaWithAlpha(int w, int h, const std::vector<uint8_t>& bgra)
{
    std::vector<uint8_t> bytes(18, 0);
    bytes[2] = 2;
    bytes[12] = uint8_t(w);
    bytes[13] = uint8_t(w >> 8);
    bytes[14] = uint8_t(h);
    bytes[15] = uint8_t(h >> 8);
    bytes[16] = 32;
    bytes[17] = 0x28;
    bytes.insert(bytes.end(), bgra.begin(), bgra.end());
    return std::make_unique<TMemoryStream>(std::move(bytes));
}

TEST_F(ImageScrollBoxTest, ATransparentTexelShowsTheCheckerboardWhileAlphaIsShown)
{
    // 2 x 1: a transparent red texel and an opaque green one.
    auto stream = tgaWithAlpha(2, 1, {0, 0, 255, 0, 0, 255, 0, 255});
    view->LoadFromStream(*stream, "TGA", 1, true);
    ASSERT_EQ(view->Graphic().AlphaPlane, (std::vector<uint8_t>{0, 255}));
    view->SetZoomPercent(1600.0f);  // 32 x 16 on the screen: four squares
    view->SetShowAlpha(true);
    QImage shot = display()->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(32, 16));
    EXPECT_EQ(shot.pixel(2, 2) & 0xFFFFFF, 0xCCCCCCu);   // light square
    EXPECT_EQ(shot.pixel(10, 2) & 0xFFFFFF, 0x999999u);  // dark square, same texel
    EXPECT_EQ(shot.pixel(3, 12) & 0xFFFFFF, 0x999999u);
    EXPECT_EQ(shot.pixel(20, 5) & 0xFFFFFF, 0x00FF00u);  // opaque: its colour

    // Off: the opaque colours, as without alpha.
    view->SetShowAlpha(false);
    shot = display()->grab().toImage();
    EXPECT_EQ(shot.pixel(2, 2) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shot.pixel(20, 5) & 0xFFFFFF, 0x00FF00u);
    // The display copy is the opaque picture either way.
    EXPECT_EQ(view->DisplayCopy().GetPixelColor(2, 2), 0xFF0000u);

    // Loaded without its alpha, it has none to show.
    view->SetShowAlpha(true);
    stream->SetPosition(0);
    view->LoadFromStream(*stream, "TGA", 1);
    EXPECT_TRUE(view->Graphic().AlphaPlane.empty());
    shot = display()->grab().toImage();
    EXPECT_EQ(shot.pixel(2, 2) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(ImageScrollBoxTest, SixteenTimesALargePictureShowsWithoutMakingTheWholeDisplay)
{
    // 2048 x 2048 at 1600% is 32768 x 32768 on the screen: far more than a
    // display copy could hold; a paint scales only what is on the screen.
    auto big = MakeRgb24Picture(2048, 2048, [](int x, int y) { return MakeColor(uint8_t(x), uint8_t(y), 7); });
    TMemoryStream bytes;
    SavePictureToStream(*big, bytes, "TGA");
    bytes.SetPosition(0);
    view->LoadFromStream(bytes, "TGA", 1);
    big.reset();
    view->SetZoomPercent(1600.0f);
    EXPECT_EQ(displayRect().size(), QSize(32768, 32768));
    view->SetScrollPositions(16 * 1000, 16 * 300);
    const QImage shot = view->viewport()->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // Viewport pixel (x, y) shows picture pixel ((16000 + x) / 16, (4800 + y) / 16).
    for (const QPoint p : {QPoint(0, 0), QPoint(15, 15), QPoint(16, 0), QPoint(100, 50)}) {
        const int px = (16000 + p.x()) / 16, py = (4800 + p.y()) / 16;
        EXPECT_EQ(shot.pixel(p) & 0xFFFFFF, MakeColor(uint8_t(px), uint8_t(py), 7)) << p.x() << "," << p.y();
    }
}

TEST_F(ImageScrollBoxTest, AnAveragedPictureWithAlphaShowsItsAlphaAsItIsNow)
{
    // 64 x 64 true colour (averaged at 50%): red, transparent at first.
    std::vector<uint8_t> bgra;
    for (int i = 0; i < 64 * 64; ++i)
        bgra.insert(bgra.end(), {0, 0, 255, 0});
    auto stream = tgaWithAlpha(64, 64, bgra);
    view->LoadFromStream(*stream, "TGA", 1, true);
    view->SetShowAlpha(true);
    view->SetZoomPercent(50.0f);
    ASSERT_EQ(displayRect().size(), QSize(32, 32));
    EXPECT_EQ(display()->grab().toImage().pixel(1, 1) & 0xFFFFFF, 0xCCCCCCu);

    // Made opaque in place: after the redraw the paint shows the new alpha.
    std::fill(view->Graphic().AlphaPlane.begin(), view->Graphic().AlphaPlane.end(), 255);
    view->Redraw(true);
    EXPECT_EQ(display()->grab().toImage().pixel(1, 1) & 0xFFFFFF, 0xFF0000u);

    // Another picture of the same size: its own alpha.
    for (size_t i = 3; i < bgra.size(); i += 4)
        bgra[i] = 128;
    auto half = tgaWithAlpha(64, 64, bgra);
    view->LoadFromStream(*half, "TGA", 1, true);
    // 255 * 128 / 255 = 128 red, plus the light grey under 127 / 255.
    const int grey = int(std::nearbyint(0xCC * 127.0 / 255.0));
    EXPECT_EQ(display()->grab().toImage().pixel(1, 1) & 0xFFFFFF,
              MakeColor(uint8_t(128 + grey), uint8_t(grey), uint8_t(grey)));
}

}  // namespace
