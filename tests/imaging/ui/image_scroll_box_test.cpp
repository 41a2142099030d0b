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

}  // namespace
