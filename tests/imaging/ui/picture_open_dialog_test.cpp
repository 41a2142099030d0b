// SPDX-License-Identifier: GPL-2.0-or-later
// The picture-open dialog: its filter, the preview pane's label, button and
// box, loads off the user-interface thread, and the "Preview" window.
#include "imaging/ui/picture_open_dialog.h"
#include "support/gui_test_app.h"

#include "imaging/dib_graphic.h"
#include "imaging/picture_registry.h"
#include "imaging/ui/file_filter.h"
#include "platform/environment.h"
#include "platform/exceptions.h"
#include "support/bmp_builder.h"
#include "support/metafile_builder.h"
#include "support/png_builder.h"
#include "support/tga_builder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <QLineEdit>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QApplication& app()
{
    return guiTestApp();
}

// Processes events until `done` holds; false after `ms` milliseconds.
bool waitUntil(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QTest::qWait(5);
    }
    return true;
}

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

// Left half red, right half blue: shows where a picture lands and which way
// round it is.
uint32_t halves(int x, int width)
{
    return x < width / 2 ? kRed : kBlue;
}

std::vector<uint8_t> tgaPicture(int w, int h)
{
    std::vector<uint8_t> pixels;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = halves(x, w);
            pixels.insert(pixels.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        }
    return tga_fixture::makeTga(2, 24, w, h, pixels, tga_fixture::kTopFirst).bytes();
}

std::vector<uint8_t> bmpPicture(int w, int h)
{
    std::vector<uint32_t> pixels;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pixels.push_back(halves(x, w));
    bmp_fixture::BmpFile file;
    file.width = w;
    file.height = h;
    file.bits = 24;
    file.data = bmp_fixture::packRows(w, h, 24, pixels);
    return bmp_fixture::build(file);
}

std::vector<uint8_t> pngPicture(int w, int h)
{
    png_fixture::PngRecipe recipe;
    recipe.width = w;
    recipe.height = h;
    recipe.colorType = png_fixture::Rgb;
    for (int y = 0; y < h; ++y) {
        std::vector<int> row;
        for (int x = 0; x < w; ++x) {
            const uint32_t c = halves(x, w);
            row.insert(row.end(), {int(c >> 16), int((c >> 8) & 0xFF), int(c & 0xFF)});
        }
        recipe.rows.push_back(row);
    }
    return png_fixture::writePng(recipe);
}

// 100 x 100 pixels at 96 dpi: the left half red, the rest white, with a line
// of text (drawn on the loading thread).
std::vector<uint8_t> wmfPicture()
{
    auto records = metafile_fixture::wmfFillRecords(0, 0, 100, 100, {{0, 0, 50, 100, 255, 0, 0}});
    const auto text = metafile_fixture::wmfTextOut(60, 10, "Hello");
    records.insert(records.end(), text.begin(), text.end());
    return metafile_fixture::placeableWmf(0, 0, 100, 100, 96, records);
}

uint32_t colourAt(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

class PictureOpenDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        app();
        // As the program sets things up: the filter is built from formats 1 to
        // 11, then the import preview registers BMP, ICO, WMF and EMF.
        ResetPictureRegistryForTesting();
        InitImageLibrary();
        setup_.filter = BuildPictureFilter(TGraphic::classInfo);
        setup_.fileMustExist = true;
        RegisterImportPreviewFormats();
        ASSERT_TRUE(dir_.isValid());
    }

    void TearDown() override
    {
        // No load may outlive the test (the registry is reset by the next one).
        PictureOpenDialog::waitForPreviewLoads();
        QCoreApplication::processEvents();
        setWarningHook(nullptr);
    }

    QString write(const QString& name, const std::vector<uint8_t>& bytes)
    {
        const QString path = dir_.filePath(name);
        std::ofstream out(path.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    // Selects `path` and waits for the pane's outcome.
    static bool preview(PictureOpenDialog& dialog, const QString& path)
    {
        dialog.previewFile(path);
        return waitUntil([&] { return !dialog.previewLoading(); });
    }

    static void expectNone(PictureOpenDialog& dialog)
    {
        EXPECT_EQ(dialog.pictureLabel()->text().toStdString(), "Picture:");
        EXPECT_FALSE(dialog.previewButton()->isEnabled());
        EXPECT_EQ(dialog.previewBox()->state(), PicturePreviewBox::State::None);
        EXPECT_TRUE(dialog.previewBox()->pictureRect().isEmpty());
        EXPECT_EQ(dialog.createPreviewWindow(), nullptr);
    }

    FileDialogSetup setup_;
    QTemporaryDir dir_;
};

TEST_F(PictureOpenDialogTest, OffersThePictureFormatsInOrderWithTheFirstSelected)
{
    PictureOpenDialog dialog(nullptr, setup_);
    const QStringList expected = {
        "All (*.png *.jpeg *.jpg *.dcx *.pcc *.pcx *.afi *.vst *.tga *.tiff *.tif *.bmp *.ico *.emf *.wmf)",
        "Portable Network Graphic (*.png)",
        "JPEG (*.jpeg)",
        "JPEG (*.jpg)",
        "DCX file (*.dcx)",
        "ZSoft PC Paintbrush (*.pcc)",
        "ZSoft PC Paintbrush (*.pcx)",
        "Truevision Targa (*.afi)",
        "Truevision Vista (*.vst)",
        "Truevision Targa (*.tga)",
        "TIFF file (*.tiff)",
        "TIFF file (*.tif)",
        "Bitmaps (*.bmp)",
        "Icons (*.ico)",
        "Enhanced Metafiles (*.emf)",
        "Metafiles (*.wmf)",
    };
    EXPECT_EQ(dialog.nameFilters(), expected);
    EXPECT_EQ(dialog.selectedNameFilter(), expected.first());
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);

    // The pane is a column of the dialog's grid, right of the file list.
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    ASSERT_NE(grid, nullptr);
    auto* pane = dialog.findChild<QWidget*>("picturePreviewPane");
    auto* list = dialog.findChild<QSplitter*>();
    ASSERT_NE(pane, nullptr);
    ASSERT_NE(list, nullptr);
    int paneRow, paneColumn, paneRows, paneColumns, listRow, listColumn, listRows, listColumns;
    grid->getItemPosition(grid->indexOf(pane), &paneRow, &paneColumn, &paneRows, &paneColumns);
    grid->getItemPosition(grid->indexOf(list), &listRow, &listColumn, &listRows, &listColumns);
    EXPECT_GE(paneColumn, listColumn + listColumns);
    EXPECT_LE(paneRow, listRow);
    EXPECT_GE(paneRow + paneRows, listRow + listRows);

    // Before anything is selected.
    EXPECT_EQ(dialog.previewButton()->toolTip().toStdString(), "Preview");
    expectNone(dialog);
}

TEST(FileFilter, ConvertsPairsToQtNameFilters)
{
    EXPECT_EQ(toQtNameFilters("Targa Image|*.tga"), QStringList{"Targa Image (*.tga)"});
    EXPECT_EQ(toQtNameFilters("All (*.png;*.jpg)|*.png;*.jpg|JPEG (*.jpg)|*.jpg"),
              (QStringList{"All (*.png *.jpg)", "JPEG (*.jpg)"}));
    EXPECT_EQ(toQtNameFilters("Resources|*.dir; *.txd|dangling"), QStringList{"Resources (*.dir *.txd)"});
    EXPECT_TRUE(toQtNameFilters("").isEmpty());
}

TEST(PreviewPictureRect, CentresWhatFitsAndScalesTheRestFromTheTopLeft)
{
    const QRect box(2, 3, 180, 180);
    struct Case {
        QSize picture;
        QRect expected;
    } cases[] = {
        {{40, 30}, {72, 78, 40, 30}},    // fits: own size, centred
        {{180, 180}, {2, 3, 180, 180}},  // fits exactly
        {{181, 10}, {2, 3, 180, 10}},    // one pixel too wide: width 180, height rounded
        {{720, 360}, {2, 3, 180, 90}},   // wider than high: to the box's width
        {{200, 400}, {2, 3, 90, 180}},   // higher than wide: to the box's height
        {{400, 400}, {2, 3, 180, 180}},  // square: to the height
        {{100000, 1}, {2, 3, 180, 1}},   // never thinner than a pixel
        {{0, 10}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(previewPictureRect(c.picture, box), c.expected) << c.picture.width() << "x" << c.picture.height();
}

TEST_F(PictureOpenDialogTest, ShowsEachFormatAtItsOwnSizeCentredWithItsSizeInTheLabel)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int width, height;
        uint32_t right;  // colour of the right half
    } cases[] = {
        {"picture.tga", tgaPicture(40, 30), 40, 30, kBlue},
        {"picture.bmp", bmpPicture(41, 31), 41, 31, kBlue},
        {"PICTURE.PNG", pngPicture(50, 20), 50, 20, kBlue},
        {"drawing.wmf", wmfPicture(), 100, 100, kWhite},
    };
    PictureOpenDialog dialog(nullptr, setup_);
    dialog.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(preview(dialog, write(c.name, c.bytes)));
        EXPECT_EQ(dialog.pictureLabel()->text().toStdString(),
                  " (" + std::to_string(c.width) + "x" + std::to_string(c.height) + ")");
        EXPECT_TRUE(dialog.previewButton()->isEnabled());
        PicturePreviewBox* box = dialog.previewBox();
        ASSERT_EQ(box->state(), PicturePreviewBox::State::Picture);
        const QRect area = box->contentsRect();
        const QRect r = box->pictureRect();
        EXPECT_EQ(r, QRect(area.left() + (area.width() - c.width) / 2, area.top() + (area.height() - c.height) / 2,
                           c.width, c.height));

        const QImage shot = box->grab().toImage();
        const int mid = r.top() + r.height() / 2;
        EXPECT_EQ(colourAt(shot, r.left(), mid), kRed);
        EXPECT_EQ(colourAt(shot, r.right(), mid), c.right);
        EXPECT_NE(colourAt(shot, r.left() - 1, mid), kRed);  // the box around it
        EXPECT_NE(colourAt(shot, r.left() + 2, r.top() - 1), kRed);
    }
}

TEST_F(PictureOpenDialogTest, ScalesALargerPictureDownFromTheTopLeftKeepingItsProportions)
{
    struct Case {
        int width, height;
    } cases[] = {{720, 360}, {200, 400}};
    PictureOpenDialog dialog(nullptr, setup_);
    dialog.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        ASSERT_TRUE(preview(dialog, write(QString("big%1.tga").arg(c.width), tgaPicture(c.width, c.height))));
        EXPECT_EQ(dialog.pictureLabel()->text().toStdString(),
                  " (" + std::to_string(c.width) + "x" + std::to_string(c.height) + ")");
        PicturePreviewBox* box = dialog.previewBox();
        const QRect area = box->contentsRect();
        const QRect r = box->pictureRect();
        const int side = PictureOpenDialog::kBoxSize;
        const QSize expected =
            c.width > c.height ? QSize(side, side * c.height / c.width) : QSize(side * c.width / c.height, side);
        EXPECT_EQ(r, QRect(area.topLeft(), expected));

        // Red and blue meet in the middle of the drawn width; beyond the drawn
        // rectangle the box shows its own background.
        const QImage shot = box->grab().toImage();
        const int y = r.top() + r.height() / 2;
        EXPECT_EQ(colourAt(shot, r.left(), y), kRed);
        EXPECT_EQ(colourAt(shot, r.left() + r.width() / 2 - 3, y), kRed);
        EXPECT_EQ(colourAt(shot, r.left() + r.width() / 2 + 3, y), kBlue);
        EXPECT_EQ(colourAt(shot, r.right(), y), kBlue);
        EXPECT_EQ(colourAt(shot, r.left(), r.top()), kRed);
        if (r.bottom() < area.bottom()) {
            EXPECT_NE(colourAt(shot, r.left() + 2, r.bottom() + 2), kRed);
        }
        if (r.right() < area.right()) {
            EXPECT_NE(colourAt(shot, r.right() + 2, y), kBlue);
        }
    }
}

TEST_F(PictureOpenDialogTest, ShowsNoneForWhatCannotBePreviewed)
{
    const QString good = write("good.tga", tgaPicture(8, 8));
    const QString fifo = dir_.filePath("pipe.png");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // A sound picture followed by a hole: it would load, but the file is
    // larger than the preview reads.
    const QString huge = write("huge.tga", tgaPicture(1, 1));
    ASSERT_EQ(::truncate(huge.toLocal8Bit().constData(), kMaxPreviewFileBytes + 1), 0);
    ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.tga"));

    const struct Case {
        const char* what;
        QString path;
    } cases[] = {
        {"missing file", dir_.filePath("missing.tga")},
        {"broken file", write("broken.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'})},
        {"empty file", write("empty.bmp", {})},
        {"unknown extension", write("picture.gif", tgaPicture(8, 8))},
        {"no extension", write("picture", tgaPicture(8, 8))},
        {"directory", dir_.filePath("folder.tga")},
        {"pipe", fifo},
        {"too large", huge},
        {"nothing selected", QString()},
    };
    PictureOpenDialog dialog(nullptr, setup_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(preview(dialog, good));
        ASSERT_EQ(dialog.previewBox()->state(), PicturePreviewBox::State::Picture);
        ASSERT_TRUE(preview(dialog, c.path));
        expectNone(dialog);
    }

    // The worker's own reader refuses the pipe and the large file without
    // waiting on them, whatever the caller checked first.
    EXPECT_THROW(loadPreviewPicture(fifo.toStdString()), EFOpenError);
    EXPECT_THROW(loadPreviewPicture(huge.toStdString()), EFOpenError);

    // "(None)" is drawn in the box.
    dialog.show();
    const QImage shot = dialog.previewBox()->grab().toImage();
    const QRect area = dialog.previewBox()->contentsRect();
    bool marked = false;
    for (int x = area.left(); x <= area.right() && !marked; ++x)
        marked = shot.pixel(x, area.center().y()) != shot.pixel(area.left(), area.top());
    EXPECT_TRUE(marked);
}

TEST_F(PictureOpenDialogTest, AStalledLoadDoesNotHoldUpTheNextSelectionAndItsLateResultIsDropped)
{
    const QString slow = write("slow.tga", tgaPicture(64, 32));
    const QString quick = write("quick.tga", tgaPicture(20, 10));
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> slowDone{false};
    std::atomic<bool> onUiThread{false};
    QThread* uiThread = QThread::currentThread();

    PictureOpenDialog dialog(nullptr, setup_);
    dialog.setPictureLoader([&, released](const std::string& fileName) {
        if (QThread::currentThread() == uiThread)
            onUiThread = true;
        if (fileName == slow.toStdString()) {
            released.wait();
            auto picture = loadPreviewPicture(fileName);
            slowDone = true;
            return picture;
        }
        return loadPreviewPicture(fileName);
    });

    dialog.previewFile(slow);
    QTest::qWait(50);
    EXPECT_TRUE(dialog.previewLoading());
    EXPECT_EQ(dialog.pictureLabel()->text().toStdString(), "Picture:");
    EXPECT_FALSE(dialog.previewButton()->isEnabled());
    EXPECT_EQ(dialog.previewBox()->state(), PicturePreviewBox::State::Loading);

    // The user moves on while the first load is stuck.
    ASSERT_TRUE(preview(dialog, quick));
    EXPECT_EQ(dialog.pictureLabel()->text().toStdString(), " (20x10)");

    release.set_value();
    PictureOpenDialog::waitForPreviewLoads();
    QTest::qWait(20);
    QCoreApplication::processEvents();
    EXPECT_TRUE(slowDone);
    EXPECT_EQ(dialog.pictureLabel()->text().toStdString(), " (20x10)");
    EXPECT_EQ(dialog.previewBox()->pictureRect().size(), QSize(20, 10));
    EXPECT_FALSE(onUiThread);
}

TEST_F(PictureOpenDialogTest, ALoadStillRunningWhenTheDialogGoesDeliversNothing)
{
    const QString slow = write("slow.tga", tgaPicture(4, 4));
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> loaded{false};
    {
        PictureOpenDialog dialog(nullptr, setup_);
        dialog.setPictureLoader([&, released](const std::string& fileName) {
            released.wait();
            auto picture = loadPreviewPicture(fileName);
            loaded = true;
            return picture;
        });
        dialog.previewFile(slow);
        QTest::qWait(20);
    }
    release.set_value();
    PictureOpenDialog::waitForPreviewLoads();
    QCoreApplication::processEvents();  // would run a delivery to the destroyed dialog
    EXPECT_TRUE(loaded);
}

TEST_F(PictureOpenDialogTest, WarningsOfAPreviewLoadAreNotShown)
{
    png_fixture::PngRecipe recipe;
    recipe.width = 5;
    recipe.height = 3;
    recipe.rows = png_fixture::patternRows(5, 3, 1, 8);
    recipe.text = "hello";
    std::vector<uint8_t> bytes = png_fixture::writePng(recipe);
    png_fixture::corruptChunkCrc(bytes, "tEXt");
    const QString path = write("warns.png", bytes);

    int warnings = 0;
    setWarningHook([&](const std::string&, const std::string&) { ++warnings; });
    // Read here, the file warns.
    TMemoryStream stream(bytes);
    ASSERT_NE(LoadPictureFromContainer(stream, path.toStdString()), nullptr);
    ASSERT_EQ(warnings, 1);

    PictureOpenDialog dialog(nullptr, setup_);
    ASSERT_TRUE(preview(dialog, path));
    EXPECT_EQ(dialog.pictureLabel()->text().toStdString(), " (5x3)");
    EXPECT_EQ(warnings, 1);
}

TEST_F(PictureOpenDialogTest, SelectionChangesInTheDialogReachThePane)
{
    const QString path = write("chosen.tga", tgaPicture(12, 6));
    PictureOpenDialog dialog(nullptr, setup_);
    dialog.setDirectory(dir_.path());
    emit dialog.currentChanged(path);
    ASSERT_TRUE(waitUntil([&] { return !dialog.previewLoading(); }));
    EXPECT_EQ(dialog.pictureLabel()->text().toStdString(), " (12x6)");

    emit dialog.directoryEntered(dir_.path());
    ASSERT_TRUE(waitUntil([&] { return !dialog.previewLoading(); }));
    expectNone(dialog);

    // A name typed into the file name box selects that file as well.
    write("typed.tga", tgaPicture(7, 3));
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(QStringLiteral("typed.tga"));
    ASSERT_TRUE(waitUntil([&] { return !dialog.previewLoading(); }));
    EXPECT_EQ(dialog.pictureLabel()->text().toStdString(), " (7x3)");
}

TEST_F(PictureOpenDialogTest, PreviewWindowShowsThePictureInsideAFivePixelMargin)
{
    PictureOpenDialog dialog(nullptr, setup_);
    ASSERT_TRUE(preview(dialog, write("window.tga", tgaPicture(60, 40))));
    std::unique_ptr<PicturePreviewWindow> window = dialog.createPreviewWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle().toStdString(), "Preview");
    EXPECT_TRUE(window->isModal());
    EXPECT_EQ(window->windowType(), Qt::Tool);
    EXPECT_EQ(window->size(), QSize(70, 50));
    const QRect free = dialog.screen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - free.center()).manhattanLength(), 2);

    window->show();
    QImage shot = window->grab().toImage();
    EXPECT_NE(colourAt(shot, 4, 20), kRed);
    EXPECT_EQ(colourAt(shot, 5, 5), kRed);
    EXPECT_EQ(colourAt(shot, 34, 25), kRed);
    EXPECT_EQ(colourAt(shot, 35, 25), kBlue);
    EXPECT_EQ(colourAt(shot, 64, 44), kBlue);
    EXPECT_NE(colourAt(shot, 65, 44), kBlue);
    EXPECT_NE(colourAt(shot, 64, 45), kBlue);

    // Sizeable, and the picture stretches with the window.
    window->resize(130, 90);
    shot = window->grab().toImage();
    EXPECT_EQ(colourAt(shot, 60, 45), kRed);
    EXPECT_EQ(colourAt(shot, 70, 45), kBlue);
    EXPECT_EQ(colourAt(shot, 124, 84), kBlue);
    EXPECT_NE(colourAt(shot, 125, 84), kBlue);

    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
}

TEST_F(PictureOpenDialogTest, PreviewWindowOfAPictureLargerThanTheScreenFitsTheScreen)
{
    PictureOpenDialog dialog(nullptr, setup_);
    const QRect free = dialog.screen()->availableGeometry();
    const int width = free.width() + 500;
    ASSERT_TRUE(preview(dialog, write("wide.tga", tgaPicture(width, 30))));
    EXPECT_EQ(dialog.pictureLabel()->text().toStdString(), " (" + std::to_string(width) + "x30)");
    std::unique_ptr<PicturePreviewWindow> window = dialog.createPreviewWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(free.width(), 40));
}

TEST_F(PictureOpenDialogTest, PreviewButtonRunsTheWindowModallyUntilEsc)
{
    PictureOpenDialog dialog(nullptr, setup_);
    dialog.show();
    ASSERT_TRUE(preview(dialog, write("button.tga", tgaPicture(30, 20))));
    ASSERT_TRUE(dialog.previewButton()->isEnabled());

    QString caption;
    QSize size;
    // Runs inside the window's modal loop: looks at it, then presses Esc.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* window = qobject_cast<PicturePreviewWindow*>(QApplication::activeModalWidget());
        if (!window)
            return;
        poll.stop();
        caption = window->windowTitle();
        size = window->size();
        QTest::keyClick(window, Qt::Key_Escape);
    });
    poll.start();
    QTimer::singleShot(10000, [&] {  // never hang the test program
        if (auto* window = qobject_cast<PicturePreviewWindow*>(QApplication::activeModalWidget()))
            window->reject();
    });
    QTest::mouseClick(dialog.previewButton(), Qt::LeftButton);
    EXPECT_EQ(caption.toStdString(), "Preview");
    EXPECT_EQ(size, QSize(40, 30));
}

TEST_F(PictureOpenDialogTest, RunReturnsTheChosenFileOrNothing)
{
    const QString chosen = write(QString::fromUtf8("obr\xC3\xA1zek.tga"), tgaPicture(4, 4));
    const auto answer = [&](bool accept) {
        QTimer::singleShot(0, [&, accept] {
            auto* dialog = qobject_cast<PictureOpenDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            if (!accept) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(dir_.path());
            dialog->selectFile(chosen);
            static_cast<QDialog*>(dialog)->accept();
        });
    };
    answer(true);
    EXPECT_EQ(runPictureOpenDialog(nullptr, setup_), chosen.toStdString());
    answer(false);
    EXPECT_EQ(runPictureOpenDialog(nullptr, setup_), std::nullopt);
}

}  // namespace
