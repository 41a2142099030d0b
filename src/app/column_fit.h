// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Fitting grid columns to the grid's client width.
#include <QFontMetrics>
#include <QString>

#include <vector>

// Widths of the columns (column lines not included) so that the columns and
// one line pixel per column fill `clientWidth` exactly: each column gets its
// design width times the available width (client width less one pixel per
// column) divided by the sum of the design widths, rounded to the nearest
// pixel; the last column takes what the rounding leaves over or short.
// No width is below 0 (a grid too narrow for its lines gets zero widths).
std::vector<int> fitColumnWidths(const std::vector<int>& designWidths, int clientWidth);

// A column border was dragged: column `column` changed from `oldWidth` to
// `newWidth`. The column to its right gives or takes the difference, so the
// total stays the same; neither column goes below `minWidth`. The last column
// has no right neighbour and keeps its width. Returns the new widths.
std::vector<int> resizeColumnAgainstNext(const std::vector<int>& widths, int column, int newWidth, int minWidth);

// The text a cell shows in `width` pixels. A right-aligned value (a number)
// that does not fit loses its leading characters behind a visible "…"
// ("…2989440"), so it can never pass for a smaller number; other text that
// does not fit is clipped at the right as usual.
QString fitCellText(const QString& text, const QFontMetrics& metrics, int width, bool rightAligned);
