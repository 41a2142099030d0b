// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Kills quarnix-tool's archive edits at many moments (some the moment the
// first byte of either archive file changes), then lists the archive with
// `quarnix-tool list`, which recovers it, and compares both files with the
// archive as it was before the edit and as the whole edit leaves it. Shared
// by the bounded test and the full-length benchmark.
#include "formats/archive_writer.h"

#include <cstdint>
#include <string>
#include <vector>

struct EditKillCounts {
    int tries = 0;
    int old = 0;           // the archive as it was
    int fresh = 0;         // the archive as the whole edit leaves it
    int torn = 0;          // anything else: must stay 0
    int atFirstByte = 0;   // tries killed the moment a first byte changed
    int listFailed = 0;    // `list` did not succeed: must stay 0
    int journalsLeft = 0;  // a journal or a switch's file outlived the listing: must stay 0
    std::string firstFailure;  // what `list` said the first time it failed
};

// One edit: the command's arguments after the archive path.
struct EditKillCase {
    std::string label;  // "add large, dir"
    bool ver2 = false;
    std::string command;             // "add", "replace", "remove", "rebuild", "import"
    std::vector<std::string> extra;  // arguments after ARCHIVE
    // The archive's entries; empty: ten entries of 1 to 4 MiB with a gap
    // after every other one.
    std::vector<ArchiveItem> items;
};

// The edits the loop knows: add of a large file, replace that grows,
// remove, rebuild; each in both flavours.
std::vector<EditKillCase> editKillCases(const std::string& folder);

// An import that grows a texture 16-fold (256 x 256 to 1024 x 1024, 8888,
// the picture at its own size) in a dictionary entry of a .dir archive
// between two other entries, so that the dictionary no longer fits its
// sectors and moves after the data.
EditKillCase dictionaryKillCase(const std::string& folder);

class EditKillLoop {
public:
    // Builds the archive in `folder` and runs the edit once to learn the
    // archive after it and how long it takes.
    EditKillLoop(const std::string& folder, const EditKillCase& edit);
    EditKillCounts run(int tries, unsigned seed);
    int64_t editMicroseconds() const { return micros_; }

private:
    void restore();
    std::vector<std::string> args() const;

    std::string folder_;
    EditKillCase edit_;
    std::string archive_, dir_, img_;
    std::vector<uint8_t> oldDir_, oldImg_, newDir_, newImg_;
    int64_t micros_ = 0;
};
