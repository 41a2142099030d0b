// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/cancellation.h"

namespace {
thread_local const std::atomic<bool>* t_flag = nullptr;
}

CancelScope::CancelScope(const std::atomic<bool>* flag) : previous_(t_flag)
{
    t_flag = flag;
}

CancelScope::~CancelScope()
{
    t_flag = previous_;
}

const std::atomic<bool>* currentCancelFlag()
{
    return t_flag;
}

bool cancelRequested()
{
    return t_flag && t_flag->load(std::memory_order_relaxed);
}

void throwIfCancelled()
{
    if (cancelRequested())
        throw ECancelled("Cancelled");
}
