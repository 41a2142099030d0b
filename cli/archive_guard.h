// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Output files of the tool's commands never take the place of the archive
// they are read from: a file renamed over the .dir, the .img or a .txd would
// destroy the user's archive.
#include <string>
#include <sys/types.h>
#include <vector>

struct ArchiveContents;

class ArchiveGuard {
public:
    // The files of the archive opened as `archivePath`: that path and the
    // data file. Links are not followed, so a link given as either counts
    // as that file.
    ArchiveGuard(const std::string& archivePath, const ArchiveContents& archive);

    // Raises Exception when `out` names one of those files (the same
    // directory entry, by device and inode); an `out` that does not exist
    // passes.
    void check(const std::string& out) const;

private:
    struct Identity {
        dev_t device;
        ino_t inode;
    };
    std::vector<Identity> files_;
};
