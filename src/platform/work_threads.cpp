// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/work_threads.h"

namespace {
thread_local int t_singleDepth = 0;
}

SingleThreadScope::SingleThreadScope()
{
    ++t_singleDepth;
}

SingleThreadScope::~SingleThreadScope()
{
    --t_singleDepth;
}

bool singleThreadRequested()
{
    return t_singleDepth > 0;
}
