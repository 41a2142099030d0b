// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the app's command line asks for, and what the app says about itself
// on it. The help and the version are answered before any window or display
// is needed; Qt's own options (-platform, -style, ...) are taken out by
// QApplication before the rest is read.
#include <string>
#include <vector>

struct AppCommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    std::string file;     // Run: the archive to open at start; empty for none
    std::string problem;  // UsageError: what is wrong
};

// Reads the arguments after the program's name: -h/--help and -v/--version
// win wherever they stand before "--"; otherwise at most one FILE (an
// archive directory or a dictionary, exactly as given), and "--" ends the
// options so that a FILE may start with "-". Any other option is a usage
// error.
AppCommandLine parseAppCommandLine(const std::vector<std::string>& args);

// "Usage: quarnix [options] [FILE]" and what the program does.
std::string appHelpText();
// "quarnix <version>" and the licence notice below it.
std::string appVersionText(const std::string& version);
