// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/handler_guard.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace {
HandlerGuard& applicationGuard()
{
    static HandlerGuard guard;
    return guard;
}

void reportUnguarded(const char* message)
{
    std::fprintf(stderr, "quarnix: %s\n", message);
    std::fflush(stderr);
}

// Runs the work and reports whatever it throws; nothing escapes.
void runReporting(const HandlerGuard& guard, const std::function<void()>& work)
{
    try {
        if (guard)
            guard(work);
        else
            work();
    } catch (const std::exception& e) {
        reportUnguarded(e.what());
    } catch (...) {
        reportUnguarded("unknown error");
    }
}
}  // namespace

void setApplicationGuard(HandlerGuard guard)
{
    applicationGuard() = std::move(guard);
}

void runInGuard(const HandlerGuard& guard, const std::function<void()>& work)
{
    runReporting(guard ? guard : applicationGuard(), work);
}
