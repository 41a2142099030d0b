// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The error box and the guard around every user-initiated handler.
//
// Nothing in a handler catches errors to hide them: a failure ends the
// handler, reaches runGuarded, and the user sees the error box. The guard
// also sets the busy cursor back, so a failed operation does not leave the
// hourglass showing.
#include "platform/exceptions.h"

#include <functional>
#include <string>

class UserDialogs;

// The application's title: caption of the error box and the plain message box.
inline constexpr const char* kApplicationTitle = "Brel Quarnix :)";

// The error box's text is errorBoxText() of platform/exceptions.h.

// Runs `handler`; on an exception restores the default cursor and shows the
// error box through `dialogs`. Never lets an exception escape.
void runGuarded(UserDialogs& dialogs, const std::function<void()>& handler);
