// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The progress of a long command: a line on stderr while it is a terminal
// ("[12/200 6%] dict5.txd"), rewritten in place and cleared at the end, and
// what the command says of how far it got when a signal (Ctrl+C) ends it.
#include <cstdint>
#include <string>

class ProgressLine {
public:
    // `done` counts what `what` names ("textures written", "entries written");
    // a signal ends the program saying "<done> of <total> <what>; <afterwards>".
    ProgressLine(int64_t total, std::string what, std::string afterwards = "interrupted");
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // `done` of the total so far, working on `name`.
    void show(int64_t done, const std::string& name = "");
    // What the signal's line says after the count from now on.
    void setAfterwards(std::string afterwards);
    // Clears the line (before other output, and at the end).
    void clear();
    bool onTerminal() const { return terminal_; }

private:
    // What a signal makes the program say, from the count and afterwards_.
    void tellSignal();

    int64_t total_;
    std::string what_, afterwards_;
    bool terminal_;
    bool shown_ = false;
    int64_t done_ = 0;
};
