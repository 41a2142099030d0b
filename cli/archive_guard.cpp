// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/archive_guard.h"

#include "formats/archive_directory.h"
#include "platform/exceptions.h"

#include <sys/stat.h>

ArchiveGuard::ArchiveGuard(const std::string& archivePath, const ArchiveContents& archive)
{
    for (const std::string* path : {&archivePath, &archive.dataFile}) {
        struct stat st {};
        if (::lstat(path->c_str(), &st) == 0)
            files_.push_back({st.st_dev, st.st_ino});
    }
}

void ArchiveGuard::check(const std::string& out) const
{
    struct stat st {};
    if (::lstat(out.c_str(), &st) != 0)
        return;
    for (const Identity& f : files_)
        if (f.device == st.st_dev && f.inode == st.st_ino)
            throw Exception("Not writing over " + out + ": it is a file of the archive being read");
}
