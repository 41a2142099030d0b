// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool extract / extract-all: the raw bytes of archive entries, as
// they lie in the data file, each written to a file of its own.
#include "cli/commands.h"

#include "archive/entry_extract.h"
#include "cli/progress.h"
#include "formats/archive_directory.h"
#include "platform/exceptions.h"
#include "platform/file_names.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <unistd.h>

namespace {

void seekToEntry(TFileStream& data, const EntrySpan& span)
{
    data.SetPosition(span.offset);
    if (span.count > 0 && data.Position() != span.offset)
        throw streamReadError(systemErrorDetail("cannot read", data.FileName(), EIO));
}

// ---- extract ----

int runExtract(const QCommandLineParser&, const std::vector<std::string>& args)
{
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    const DirectoryEntry* entry = findEntry(archive.entries, args[1]);
    if (!entry)
        throw Exception("No entry '" + escapeControlCharacters(args[1]) + "' in " + escapeControlCharacters(args[0]));
    TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    const EntrySpan span = entrySpanIn(*entry, data.Size());
    if (span.pastEnd)
        throw Exception("Entry '" + displayName(entry->name) + "' starts past the end of "
                        + escapeControlCharacters(archive.dataFile));
    ArchiveOwnFiles(args[0], archive).check(args[2]);
    seekToEntry(data, span);
    writeFileReplacing(args[2], data, span.count, FileSync::Now);
    if (span.cut)
        std::fprintf(stderr, "Entry '%s' runs past the end of %s: %" PRId64 " of %" PRId64 " bytes written\n",
                     displayName(entry->name).c_str(), escapeControlCharacters(archive.dataFile).c_str(), span.count,
                     entry->size);
    return 0;
}

// ---- extract-all ----

int runExtractAll(const QCommandLineParser&, const std::vector<std::string>& args)
{
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    const std::string& outDir = args[1];
    // One open of the data file for the whole run, locked against writers.
    TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    const int64_t fileSize = data.Size();

    // Every name is settled and checked before the first file is written.
    struct Planned {
        const DirectoryEntry* entry;
        EntrySpan span;
        std::string name;
    };
    std::vector<Planned> plan;
    plan.reserve(archive.entries.size());
    UniqueFileNames names;
    const ArchiveOwnFiles guard(args[0], archive);
    int64_t pastEnd = 0;
    for (const DirectoryEntry& e : archive.entries) {
        const EntrySpan span = entrySpanIn(e, fileSize);
        if (span.pastEnd) {
            ++pastEnd;
            continue;
        }
        plan.push_back({&e, span, names.take(safeFileName(e.name))});
        guard.check(outDir + "/" + plan.back().name);
    }

    const OutputFolder out(outDir);
    ProgressLine progress(int64_t(plan.size()), "entries written");
    int64_t written = 0, cut = 0;
    try {
        for (const Planned& p : plan) {
            progress.show(written, displayName(p.entry->name));
            seekToEntry(data, p.span);
            // Flushed once for the whole run below, not file by file.
            out.writeFile(p.name, data, p.span.count, FileSync::Deferred);
            ++written;
            cut += p.span.cut;
        }
        progress.show(written);
        progress.clear();
        out.syncFileSystem();
    } catch (const Exception& e) {
        progress.clear();
        std::fprintf(stderr, "%" PRId64 " of %s written; stopped: %s\n", written,
                     counted(int64_t(plan.size()), "entry", "entries").c_str(), e.detail().c_str());
        return 1;
    }

    std::string notes;
    if (pastEnd > 0)
        notes += " (starting past the end of the data file: " + std::to_string(pastEnd) + ")";
    if (cut > 0)
        notes += ", " + std::to_string(cut) + " cut short by the end of the data file";
    std::fprintf(stderr, "%s written to %s, %" PRId64 " skipped%s\n", counted(written, "entry", "entries").c_str(),
                 escapeControlCharacters(outDir).c_str(), pastEnd, notes.c_str());
    return 0;
}

}  // namespace

const ToolCommand kExtractCommand{
    "extract",
    "Write the raw bytes of one entry to a file.",
    "Writes the bytes of ENTRY as they lie in the archive's data file (Size bytes from FPos, as far as the file "
    "goes) to OUT. The file is written under a temporary name that is renamed over OUT when complete. An entry "
    "that starts past the end of the data file is refused and nothing is written; one that runs past the end is "
    "written as far as the file goes, with a note on stderr. OUT may not be a file of the archive itself.",
    {{"ARCHIVE", "The .dir file (data in the .img beside it) or a .txd file."},
     {"ENTRY", "The entry's Pos number or its exact name; a .txd has the single entry 1."},
     {"OUT", "The file to write (replaced when it exists)."}},
    nullptr,
    runExtract,
};

const ToolCommand kExtractAllCommand{
    "extract-all",
    "Write the raw bytes of every entry into a folder.",
    "Writes every entry of ARCHIVE to OUTDIR/<entry name>, its bytes as they lie in the data file (Size bytes "
    "from FPos, as far as the file goes). Names are made safe for the file system; names that clash (ignoring "
    "case) are numbered before their extension: name_2.ext, name_3.ext, ... Entries that start past the end of "
    "the data file are skipped. Nothing is written when a name would replace a file of the archive itself. "
    "Symbolic links inside OUTDIR are never followed (one in the way stops the run). "
    "Progress goes to stderr when it is a terminal; a summary line ends the run.",
    {{"ARCHIVE", "The .dir file (data in the .img beside it) or a .txd file."},
     {"OUTDIR", "The folder to write into; made when missing."}},
    nullptr,
    runExtractAll,
};
