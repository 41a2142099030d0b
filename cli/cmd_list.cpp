// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool list ARCHIVE: the entry list that Open would show.
#include "cli/commands.h"

#include "formats/archive_directory.h"
#include "platform/text.h"

#include <cinttypes>
#include <cstdio>

namespace {

int run(const QCommandLineParser&, const std::vector<std::string>& args)
{
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    std::string out = "Pos\tFPos\tSize\tName\n";
    char numbers[80];
    for (const DirectoryEntry& e : archive.entries) {
        std::snprintf(numbers, sizeof numbers, "%" PRId64 "\t%" PRId64 "\t%" PRId64 "\t", e.pos, e.offset, e.size);
        out += numbers;
        out += displayName(e.name);  // control characters escaped: a name cannot forge a row
        out += '\n';
    }
    writeOut(out);
    return 0;
}

}  // namespace

const ToolCommand kListCommand{
    "list",
    "List the entries of an archive (.dir, VER2 .img) or a standalone dictionary (.txd).",
    "Prints the entry list that Open shows: a header line 'Pos FPos Size Name' and one line per entry, "
    "tab-separated, in file order. FPos is the entry's byte offset in the data file, Size its size in bytes. "
    "Control characters in names are escaped (\\t, \\n, \\r, \\x1b, ...; a backslash as \\\\).",
    {{"ARCHIVE", "The .dir file (its data lives in the .img beside it) or a .txd file."}},
    nullptr,
    run,
};
