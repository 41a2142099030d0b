// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool add / replace / remove / rename / rebuild / new / info: the
// entries of an archive changed, each command one transaction of the
// archive core, and what an archive holds.
#include "cli/commands.h"
#include "cli/progress.h"

#include "archive/archive.h"
#include "archive/entry_edits.h"
#include "archive/undo.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <cstdio>
#include <memory>

namespace {

constexpr int64_t kMiB = int64_t(1) << 20;

// The archive held for editing, with what its recovery put back told.
struct Edit {
    explicit Edit(const std::string& path) : editor(path) { reportRecovery(editor.recovery(), path); }
    ArchiveEditor editor;
};

const DirectoryEntry& entryForEdit(ArchiveEditor& editor, const std::string& which)
{
    const DirectoryEntry* e = findEntryForEdit(editor.contents().entries, which);
    if (!e)
        throw EEntryEditError("No entry '" + escapeControlCharacters(which) + "' in "
                              + escapeControlCharacters(editor.path()));
    return *e;
}

// ---- add ----

const QCommandLineOption kReplaceOption("replace", "Replace the bytes of an entry of the same name (ignoring case).");

void addAddOptions(QCommandLineParser& parser)
{
    parser.addOption(kReplaceOption);
}

int runAdd(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    std::vector<std::string> files = {args[1]};
    for (const std::string& f : positionalFrom(parser, 2))
        files.push_back(f);
    Edit e(args[0]);
    std::unique_ptr<ProgressLine> progress;
    const std::string told = addEntries(e.editor, files, parser.isSet(kReplaceOption), [&](int64_t at, int64_t total) {
        if (!progress)
            progress = std::make_unique<ProgressLine>((total + kMiB - 1) / kMiB, "MiB written");
        progress->show(at / kMiB);
        return true;
    });
    progress.reset();
    return editDone(told);
}

// ---- replace ----

int runReplace(const QCommandLineParser&, const std::vector<std::string>& args)
{
    Edit e(args[0]);
    return editDone(replaceEntry(e.editor, entryForEdit(e.editor, args[1]), args[2]));
}

// ---- remove ----

int runRemove(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    Edit e(args[0]);
    std::vector<int64_t> positions = {entryForEdit(e.editor, args[1]).pos};
    for (const std::string& which : positionalFrom(parser, 2))
        positions.push_back(entryForEdit(e.editor, which).pos);
    return editDone(removeEntries(e.editor, positions));
}

// ---- rename ----

int runRename(const QCommandLineParser&, const std::vector<std::string>& args)
{
    Edit e(args[0]);
    return editDone(renameEntry(e.editor, entryForEdit(e.editor, args[1]), args[2]));
}

// ---- rebuild ----

int runRebuild(const QCommandLineParser&, const std::vector<std::string>& args)
{
    Edit e(args[0]);
    std::unique_ptr<ProgressLine> progress;
    const std::string told = rebuildArchive(e.editor, [&](int64_t at, int64_t total) {
        if (!progress)
            progress = std::make_unique<ProgressLine>((total + kMiB - 1) / kMiB, "MiB copied",
                                                      "interrupted; the archive was left as it was");
        progress->show(at / kMiB);
        return true;
    });
    progress.reset();
    return editDone(told);
}

// ---- new ----

int runNew(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    return editDone(createArchive(args[0], positionalFrom(parser, 1)));
}

// ---- info ----

int runInfo(const QCommandLineParser&, const std::vector<std::string>& args)
{
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    writeOut(archiveInfoText(archiveInfo(archive, data)));
    return 0;
}

// ---- undo / redo ----

const QCommandLineOption kListOption("list", "Print the changes kept, newest first, instead of undoing one.");

void addUndoOptions(QCommandLineParser& parser)
{
    parser.addOption(kListOption);
}

int runUndo(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    Edit e(args[0]);
    if (parser.isSet(kListOption)) {
        writeOut(undoListText(e.editor));
        return 0;
    }
    return editDone(undoLastChange(e.editor));
}

int runRedo(const QCommandLineParser&, const std::vector<std::string>& args)
{
    Edit e(args[0]);
    return editDone(redoLastChange(e.editor));
}

const char* const kArchiveHelp = "The .dir file (data in the .img beside it) or a VER2 .img file.";
const char* const kEntryHelp = "The entry's exact name, or its Pos number (a name wins).";

}  // namespace

const ToolCommand kAddCommand{
    "add",
    "Add files to an archive as new entries.",
    "Each FILE becomes an entry named by its base name, appended to the directory in the order given; its bytes "
    "start on a sector boundary after the data file's end and are padded with zeros to a whole sector. A name "
    "taken already (letters compared ignoring case) is refused unless --replace, which replaces that entry's "
    "bytes. Names are 1 to 23 bytes in the entry list's code page, without / \\ or control characters. All or "
    "nothing: a missing or unreadable file or a refused name, and nothing is added. The change is one "
    "transaction: a journal made durable before the first byte changes undoes a change cut off at any moment.",
    {{"ARCHIVE", kArchiveHelp}, {"FILE", "A file to add."}},
    addAddOptions,
    runAdd,
    "[FILE...]",
};

const ToolCommand kReplaceCommand{
    "replace",
    "Replace the bytes of an entry by a file's.",
    "The entry's bytes become FILE's. Where they fit in the entry's own sectors (and no other entry lies there) "
    "they are written there and the rest of the last sector is zeroed; otherwise they go after the data file's "
    "end and the record points there. Sectors no longer used become a gap (see rebuild). One transaction.",
    {{"ARCHIVE", kArchiveHelp}, {"ENTRY", kEntryHelp}, {"FILE", "The file whose bytes the entry takes."}},
    nullptr,
    runReplace,
};

const ToolCommand kRemoveCommand{
    "remove",
    "Remove entries from an archive.",
    "The entries' records go; their bytes stay as gaps until a rebuild. ENTRY positions are counted in the "
    "listing before the command. All or nothing: an unknown ENTRY and nothing is removed. One transaction.",
    {{"ARCHIVE", kArchiveHelp}, {"ENTRY", kEntryHelp}},
    nullptr,
    runRemove,
    "[ENTRY...]",
};

const ToolCommand kRenameCommand{
    "rename",
    "Rename an entry.",
    "Only the name changes. NEWNAME is 1 to 23 bytes in the entry list's code page, without / \\ or control "
    "characters, and unique in the archive ignoring letter case. One transaction.",
    {{"ARCHIVE", kArchiveHelp}, {"ENTRY", kEntryHelp}, {"NEWNAME", "The new name."}},
    nullptr,
    runRename,
};

const ToolCommand kRebuildCommand{
    "rebuild",
    "Rewrite an archive without gaps.",
    "Every entry's bytes, in directory order, one after another from sector 0 (VER2: from the first sector after "
    "the directory); the data file ends with the last entry. The new files are written whole beside the archive, "
    "read back and switched in: a rebuild cut off at any moment leaves the old archive or the new one. Refused "
    "when the folder's file system has no room for the new files, or when entries reach past the data file.",
    {{"ARCHIVE", kArchiveHelp}},
    nullptr,
    runRebuild,
};

const ToolCommand kNewCommand{
    "new",
    "Make a new archive.",
    "ARCHIVE.dir makes an archive directory with its .img beside it; ARCHIVE.img a VER2 archive (its header and one "
    "sector when empty). The FILEs are added as add adds them. Never replaces an existing .dir, .img or either "
    "file of the pair.",
    {{"ARCHIVE", "The archive to make: NAME.dir or NAME.img."}},
    nullptr,
    runNew,
    "[FILE...]",
};

const ToolCommand kInfoCommand{
    "info",
    "Say what an archive holds.",
    "Prints 'name: value' lines: flavour, entries, data bytes (the data file's length), bytes in gaps (bytes of "
    "the data file no entry covers) and entries outside the data (records that reach past the data file's end: "
    "a file that is no archive at all shows here at a glance).",
    {{"ARCHIVE", "The .dir file, a VER2 .img or a .txd file."}},
    nullptr,
    runInfo,
};

const ToolCommand kUndoCommand{
    "undo",
    "Undo the newest change made to an archive.",
    "Every change to an archive (an import over a texture, an entry edit) keeps an undo record in "
    "$XDG_STATE_HOME/quarnix/undo/: the newest 100 changes, or fewer where they would take more than 2 GiB. undo "
    "puts the archive back as it was before the newest one, as one transaction, and keeps it for redo. It "
    "refuses, naming the change, when the archive no longer holds what that change wrote (another program "
    "changed it since) and when there is nothing to undo. A rebuild cannot be undone. With --list, prints one "
    "line per change kept, newest first: when, and what it was.",
    {{"ARCHIVE", "The .dir file, a VER2 .img or a .txd file."}},
    addUndoOptions,
    runUndo,
};

const ToolCommand kRedoCommand{
    "redo",
    "Make the newest change undone again.",
    "Puts back the change the newest undo took away, as one transaction; refused when the archive changed since "
    "the undo. A new change drops what could have been redone.",
    {{"ARCHIVE", "The .dir file, a VER2 .img or a .txd file."}},
    nullptr,
    runRedo,
};
