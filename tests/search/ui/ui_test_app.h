// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one QApplication of the search dialogs' tests.
#include "support/gui_test_app.h"

namespace searchtest {

inline QApplication& app()
{
    return guiTestApp();
}

}  // namespace searchtest
