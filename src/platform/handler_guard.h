// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// HandlerGuard: what every piece of work started by the user or by a window
// event runs inside.
//
// A control (a grid's key or wheel action, an image view's resize redraw,
// ...) never lets an exception cross the event loop, and never drops one: it
// runs the work inside its guard, which reports the error (the main window's
// guard shows the error box). A control that was given no guard of its own
// runs the work inside the application's guard, which the main window sets.
#include <functional>

using HandlerGuard = std::function<void(const std::function<void()>& work)>;

// The guard for controls that have none of their own; empty clears it.
void setApplicationGuard(HandlerGuard guard);

// Runs `work` inside `guard`, or inside the application's guard when `guard`
// is empty. With neither, an error the work throws is written to the standard
// error stream. Never lets an exception escape.
void runInGuard(const HandlerGuard& guard, const std::function<void()>& work);
