// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// File dialog filters: our "description|patterns|description|patterns..."
// form (several patterns joined by ";") in Qt's name-filter syntax.
#include <QStringList>

#include <string>

// One Qt name filter per description and patterns pair, in their order:
// "description (p1 p2 ...)". A description that already ends in its own
// pattern list in parentheses ("All (*.png;*.jpg)") has that list replaced
// by Qt's blank-separated form instead of getting a second one. A trailing
// description without patterns is dropped.
QStringList toQtNameFilters(const std::string& filter);
