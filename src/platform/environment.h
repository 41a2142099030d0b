// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the core needs to know of the desktop it runs on, without depending on
// widgets: the display resolution, the busy cursor, warnings to the user and
// where files actually are on case-sensitive file systems.
//
// Work that runs on a background thread (the picture-open dialog's preview
// loads pictures off the user-interface thread) marks its thread quiet: the
// busy cursor and warnings are the user interface's business, and a worker
// thread must neither touch widgets nor flip the one global cursor setting.
#include <functional>
#include <string>

// Display resolution in dots per inch: 96 unless the application sets the
// primary screen's logical resolution at start-up.
int screenDpiX();
int screenDpiY();
void setScreenDpi(int x, int y);

// The application-wide busy cursor: one global setting, not a counter.
// The app installs a hook that changes the mouse cursor; headless code leaves
// the default hook, which does nothing. On a quiet thread it does nothing at
// all.
void setBusyCursor(bool busy);
bool busyCursorShown();
void setBusyCursorHook(std::function<void(bool busy)> hook);

// Warnings that a reader wants the user to see (a box in the app, stderr in
// the command-line tool). Caption and text are UTF-8. Dropped on a quiet thread.
void showWarning(const std::string& caption, const std::string& text);
void setWarningHook(std::function<void(const std::string& caption, const std::string& text)> hook);

// Marks the calling thread quiet for its lifetime (nesting allowed): no
// busy cursor, no warnings from code running on it.
class QuietThreadScope {
public:
    QuietThreadScope();
    ~QuietThreadScope();
    QuietThreadScope(const QuietThreadScope&) = delete;
    QuietThreadScope& operator=(const QuietThreadScope&) = delete;
};
bool threadIsQuiet();

// Returns `path` when that file exists; otherwise, when exactly the last path
// component exists in another letter case (X.IMG for X.img), that file's path;
// otherwise `path` unchanged.
std::string resolveFileNameCase(const std::string& path);
