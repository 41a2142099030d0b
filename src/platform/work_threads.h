// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// How far long work may spread over the machine's cores.
//
// Loops that split their work over threads of their own (the bands of a
// resampling, the blocks of a DXT level) do so only when the calling thread
// may. Work that is itself one of several pieces running side by side on
// worker threads (a texture of a batch import) runs under a
// SingleThreadScope: the loops inside it keep to their own thread, so the
// machine's cores are not shared out twice. The results never depend on it.
class SingleThreadScope {
public:
    SingleThreadScope();
    ~SingleThreadScope();
    SingleThreadScope(const SingleThreadScope&) = delete;
    SingleThreadScope& operator=(const SingleThreadScope&) = delete;
};

// True while the calling thread runs under a SingleThreadScope.
bool singleThreadRequested();
