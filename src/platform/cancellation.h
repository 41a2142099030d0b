// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Cooperative cancellation of long work.
//
// Work that the user may cancel runs under a CancelScope on its thread,
// naming a flag that another thread (the user interface's Cancel) sets. The
// long loops of the core call throwIfCancelled() between pieces of their
// work, which raises ECancelled once the flag is set; without a scope it
// costs one thread-local read and never raises. Work that spreads over
// threads of its own passes the flag (currentCancelFlag) on to them.
#include "platform/exceptions.h"

#include <atomic>

// Raised by throwIfCancelled: the user asked the work to stop. Nothing was
// written by the work that stopped.
QX_DECLARE_ERROR(ECancelled);

// Installs `flag` as the calling thread's cancel flag for the scope's
// lifetime (scopes nest; null installs none).
class CancelScope {
public:
    explicit CancelScope(const std::atomic<bool>* flag);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    const std::atomic<bool>* previous_;
};

// The calling thread's cancel flag, or null.
const std::atomic<bool>* currentCancelFlag();
// True when the calling thread's flag is set.
bool cancelRequested();
// Raises ECancelled ("Cancelled") when the calling thread's flag is set.
void throwIfCancelled();
