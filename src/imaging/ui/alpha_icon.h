// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The 16 x 16 icon of the toggles that show a picture's alpha over the
// checkerboard (the main window's "Alpha", the preview's), drawn in code.
#include <QIcon>

QIcon AlphaIcon();
