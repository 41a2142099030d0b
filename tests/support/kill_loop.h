// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Kills `quarnix-tool import` at many moments of an import over a 2048 x
// 2048 32-bit texture (including the moment its first new byte is visible
// in the file), then lists the archive with `quarnix-tool textures`, which
// recovers it, and looks at what the texture holds: its old bytes, its new
// bytes, or a mixture (torn). Shared by the bounded test and the full-length
// benchmark.
#include <cstdint>
#include <string>
#include <vector>

struct KillLoopCounts {
    int tries = 0;
    int old = 0;           // the texture holds its previous bytes
    int fresh = 0;         // the texture holds the imported bytes
    int torn = 0;          // anything else: must stay 0
    int undone = 0;        // the listing said an interrupted import was undone
    int atFirstByte = 0;   // tries killed the moment the first new byte was seen
    int listFailed = 0;    // `textures` did not succeed: must stay 0
    int journalsLeft = 0;  // a journal outlived the listing: must stay 0
    int journalled = 0;    // the kill left a journal for the listing to recover from
};

class KillLoop {
public:
    // Builds the archive, the picture and the texture's bytes before and
    // after a whole import in `folder`.
    explicit KillLoop(const std::string& folder);
    // `tries` kills: every third at the first new byte, the others at a
    // random moment from the start of the tool to the end of a whole import.
    KillLoopCounts run(int tries, unsigned seed);
    // Microseconds a whole import takes.
    int64_t importMicroseconds() const { return importMicros_; }

private:
    std::string folder_, archive_, picture_;
    std::vector<uint8_t> before_;  // the whole file
    std::vector<uint8_t> oldBlock_, newBlock_;
    int64_t blockAt_ = 0;
    int64_t importMicros_ = 0;
};
