#include "app/column_fit.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

const std::vector<int> kEntryDesign{35, 64, 64, 79};            // sum 242
const std::vector<int> kTextureDesign{25, 89, 63, 59, 78, 72};  // sum 386

int total(const std::vector<int>& w) { return std::accumulate(w.begin(), w.end(), 0); }

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

INSTANTIATE_TEST_SUITE_P(
    Widths, FitColumns,
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

} // namespace
