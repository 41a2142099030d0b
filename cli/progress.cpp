// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/progress.h"

#include "platform/file_write.h"

#include <cinttypes>
#include <cstdio>
#include <unistd.h>

ProgressLine::ProgressLine(int64_t total, std::string what, std::string afterwards)
    : total_(total), what_(std::move(what)), afterwards_(std::move(afterwards)), terminal_(::isatty(STDERR_FILENO) == 1)
{
    show(0);
}

ProgressLine::~ProgressLine()
{
    clear();
    setSignalFarewell("");
}

void ProgressLine::show(int64_t done, const std::string& name)
{
    done_ = done;
    tellSignal();
    if (!terminal_)
        return;
    const int64_t percent = total_ > 0 ? done * 100 / total_ : 100;
    std::fprintf(stderr, "\r\033[K[%" PRId64 "/%" PRId64 " %" PRId64 "%%] %s", done, total_, percent, name.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::setAfterwards(std::string afterwards)
{
    afterwards_ = std::move(afterwards);
    tellSignal();
}

void ProgressLine::tellSignal()
{
    setSignalFarewell((terminal_ ? "\r\033[K" : "") + std::to_string(done_) + " of " + std::to_string(total_) + " "
                      + what_ + "; " + afterwards_ + "\n");
}

void ProgressLine::clear()
{
    if (terminal_ && shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
}
