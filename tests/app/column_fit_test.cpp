// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/column_fit.h"
#include "support/gui_test_app.h"

#include <QFont>

#include <gtest/gtest.h>

#include <numeric>

namespace {

const std::vector<int> kEntryDesign{35, 64, 64, 79};            // sum 242
const std::vector<int> kTextureDesign{25, 89, 63, 59, 78, 72};  // sum 386

int total(const std::vector<int>& w)
{
    return std::accumulate(w.begin(), w.end(), 0);
}

struct FitCase {
    std::vector<int> design;
    int clientWidth;
    std::vector<int> expected;
};

class FitColumns : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitColumns, ScalesRoundsAndGivesTheRestToTheLastColumn)
{
    const FitCase& c = GetParam();
    const std::vector<int> widths = fitColumnWidths(c.design, c.clientWidth);
    EXPECT_EQ(widths, c.expected);
    // Columns plus one line pixel each fill the client width exactly.
    EXPECT_EQ(total(widths) + static_cast<int>(widths.size()), c.clientWidth);
}

INSTANTIATE_TEST_SUITE_P(Widths, FitColumns,
                         ::testing::Values(
                             // Exactly the design sum plus the lines: design widths unchanged.
                             FitCase{kEntryDesign, 246, {35, 64, 64, 79}},
                             // 261 available: 35*261/242 = 37.75 -> 38, 64*261/242 = 69.02 -> 69 twice, rest 85.
                             FitCase{kEntryDesign, 265, {38, 69, 69, 85}},
                             // Halves round up: 2*3/4 = 1.5 -> 2, remainder 1.
                             FitCase{{2, 2}, 5, {2, 1}},
                             // Narrower than design: 120 available; 35*120/242 = 17.36 -> 17, 64*120/242 = 31.74 -> 32.
                             FitCase{kEntryDesign, 124, {17, 32, 32, 39}},
                             // 400 for the texture grid: 394 available.
                             FitCase{kTextureDesign, 400, {26, 91, 64, 60, 80, 73}}));

TEST(FitColumns, NoNegativeWidthInAGridNarrowerThanItsLines)
{
    for (int w : {0, 1, 3, 4, 6})
        for (int x : fitColumnWidths(kEntryDesign, w))
            EXPECT_GE(x, 0) << "client width " << w;
}

TEST(ResizeColumnAgainstNext, RightNeighbourGivesOrTakesTheDifference)
{
    const std::vector<int> w{35, 64, 64, 79};
    EXPECT_EQ(resizeColumnAgainstNext(w, 1, 74, 0), (std::vector<int>{35, 74, 54, 79}));
    EXPECT_EQ(resizeColumnAgainstNext(w, 1, 50, 0), (std::vector<int>{35, 50, 78, 79}));
    // The neighbour cannot give more than it has.
    EXPECT_EQ(resizeColumnAgainstNext(w, 0, 500, 0), (std::vector<int>{99, 0, 64, 79}));
    EXPECT_EQ(resizeColumnAgainstNext(w, 0, 500, 5), (std::vector<int>{94, 5, 64, 79}));
    // The last column has no right neighbour: nothing changes.
    EXPECT_EQ(resizeColumnAgainstNext(w, 3, 10, 0), w);
    for (int col = 0; col < 4; ++col)
        EXPECT_EQ(total(resizeColumnAgainstNext(w, col, 7, 0)), total(w));
}

}  // namespace

TEST(FitCellText, ANumberTooWideForItsColumnShowsThatDigitsAreMissing)
{
    guiTestApp();
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    const QFontMetrics metrics(font);
    const QString fpos = QStringLiteral("8796092989440");
    const int whole = metrics.horizontalAdvance(fpos);
    EXPECT_EQ(fitCellText(fpos, metrics, whole, true), fpos);
    EXPECT_EQ(fitCellText(fpos, metrics, whole + 10, true), fpos);
    for (int width : {whole - 1, whole / 2, metrics.horizontalAdvance(QStringLiteral("\u20269")) + 1}) {
        SCOPED_TRACE(width);
        const QString shown = fitCellText(fpos, metrics, width, true);
        ASSERT_TRUE(shown.startsWith(QChar(0x2026))) << shown.toStdString();
        // The last digits, as they are, after the mark; it fits the column.
        EXPECT_TRUE(fpos.endsWith(shown.mid(1))) << shown.toStdString();
        EXPECT_GE(shown.size(), 2);
        EXPECT_LE(metrics.horizontalAdvance(shown), width);
    }
    // Text that is not a number keeps its beginning.
    EXPECT_EQ(fitCellText(QStringLiteral("Landscape.TXD"), metrics, 10, false), QStringLiteral("Landscape.TXD"));
}
