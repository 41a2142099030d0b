// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/column_fit.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

std::vector<int> fitColumnWidths(const std::vector<int>& designWidths, int clientWidth)
{
    const int n = static_cast<int>(designWidths.size());
    std::vector<int> widths(designWidths.size(), 0);
    if (n == 0)
        return widths;
    const int64_t designSum = std::accumulate(designWidths.begin(), designWidths.end(), int64_t{0});
    const int64_t available = std::max<int64_t>(0, int64_t{clientWidth} - n);
    if (designSum <= 0) {
        widths.back() = static_cast<int>(available);
        return widths;
    }
    int64_t used = 0;
    for (int i = 0; i + 1 < n; ++i) {
        // Nearest whole pixel, halves rounded up (all terms are non-negative).
        const int64_t w = (int64_t{designWidths[i]} * available * 2 + designSum) / (designSum * 2);
        widths[i] = static_cast<int>(w);
        used += w;
    }
    widths.back() = static_cast<int>(std::max<int64_t>(0, available - used));
    return widths;
}

std::vector<int> resizeColumnAgainstNext(const std::vector<int>& widths, int column, int newWidth, int minWidth)
{
    std::vector<int> result = widths;
    const int n = static_cast<int>(widths.size());
    if (column < 0 || column + 1 >= n)
        return result;
    const int pair = widths[column] + widths[column + 1];
    const int lo = std::min(minWidth, widths[column]);
    const int hi = pair - std::min(minWidth, widths[column + 1]);
    const int w = std::clamp(newWidth, lo, std::max(lo, hi));
    result[column] = w;
    result[column + 1] = pair - w;
    return result;
}

QString fitCellText(const QString& text, const QFontMetrics& metrics, int width, bool rightAligned)
{
    if (!rightAligned || metrics.horizontalAdvance(text) <= width)
        return text;
    return metrics.elidedText(text, Qt::ElideLeft, std::max(width, 0));
}
