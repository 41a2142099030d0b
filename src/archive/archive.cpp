// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/archive.h"

#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/text.h"
#include <QString>

std::vector<std::string> archiveFiles(const ArchiveContents& archive)
{
    std::vector<std::string> files{archive.dataFile};
    if (!archive.directoryFile.empty())
        files.push_back(archive.directoryFile);
    return files;
}

namespace {
ArchiveProbe probeOf(ArchiveFs& fs);
}

Recovery recoverArchive(const ArchiveContents& located, ArchiveFs& fs)
{
    const std::vector<std::string> paths = archiveFiles(located);
    const JournalPlace place = JournalPlace::of(located.dataFile);
    if (!needsRecovery(fs, paths, place))
        return {};
    std::vector<std::unique_ptr<TStream>> streams;
    std::vector<EditFile> files;
    for (const std::string& p : paths) {
        streams.push_back(fs.open(p, ArchiveFileAccess::Edit));
        files.push_back({p, streams.back().get()});
    }
    return recoverFiles(fs, files, place);
}

ArchiveContents openArchive(const std::string& path, Recovery* recovery, ArchiveFs& fs)
{
    const Recovery done = recoverArchive(locateArchive(path, probeOf(fs)), fs);
    if (recovery)
        *recovery = done;
    // A switch finished may have changed the flavour's files: located again.
    return readArchive(path);
}

namespace {
ArchiveProbe probeOf(ArchiveFs& fs)
{
    ArchiveProbe p;
    p.exists = [&fs](const std::string& path) { return fs.exists(path); };
    p.startsWithVer2 = [&fs](const std::string& path) {
        return startsWithVer2(*fs.open(path, ArchiveFileAccess::Read));
    };
    p.resolveCase = [&fs](const std::string& path) {
        // Files in memory have their names as given.
        return &fs == &systemArchiveFs() ? diskArchiveProbe().resolveCase(path) : path;
    };
    return p;
}
}  // namespace

ArchiveEditor::ArchiveEditor(const std::string& path, ArchiveFs& fs) : fs_(fs), path_(path)
{
    contents_ = locateArchive(path, probeOf(fs));
    for (const std::string& p : archiveFiles(contents_))
        if (fs_.isLink(p))
            throw Exception("Not changing " + p + ": it is a symbolic link, and a change would be written through it",
                            "not changing " + escapeControlCharacters(p)
                                + ": it is a symbolic link, and a change would be written through it");
    openFiles();
    recovery_ = recoverFiles(fs_, files_, JournalPlace::of(contents_.dataFile));
    if (recovery_.switched)
        openFiles();  // the files now at those names are the switched-in ones
    readEntries();
}

ArchiveEditor::~ArchiveEditor() = default;

void ArchiveEditor::openFiles()
{
    streams_.clear();
    files_.clear();
    for (const std::string& p : archiveFiles(contents_)) {
        streams_.push_back(fs_.open(p, ArchiveFileAccess::Edit));
        files_.push_back({p, streams_.back().get()});
    }
}

void ArchiveEditor::readEntries()
{
    switch (contents_.flavour) {
    case ArchiveFlavour::Dictionary: {
        DirectoryEntry e;
        e.pos = 1;
        e.size = streams_[0]->Size();
        e.name = toCp1250(QString::fromUtf8(fileNameOfPath(path_)));
        contents_.entries = {e};
        break;
    }
    case ArchiveFlavour::Directory:
        streams_[1]->Seek(0, SeekOrigin::Begin);
        contents_.entries = parseArchiveDirectory(*streams_[1]);
        break;
    case ArchiveFlavour::Image: contents_.entries = parseVer2Directory(*streams_[0]); break;
    }
}

void ArchiveEditor::commit(const ChangeSet& changes, const ChangeLabel& label)
{
    std::function<void(const RecordParts&)> keep;
    if (!label.description.empty())
        keep = [&](const RecordParts& parts) {
            try {
                undoStore().recordChange(label.description, label.group, parts);
            } catch (const Exception&) {
                // The change is made; only its way back could not be kept.
                undoUnkept_ = true;
            }
        };
    commitRecorded(changes, label, keep);
}

void ArchiveEditor::commitRecorded(const ChangeSet& changes, const ChangeLabel& label,
                                   const std::function<void(const RecordParts&)>& committed)
{
    commitChanges(fs_, files_, changes, label, JournalPlace::of(contents_.dataFile), path_, committed);
    readEntries();
}

UndoStore& ArchiveEditor::undoStore()
{
    if (!undo_)
        undo_ = std::make_unique<UndoStore>(contents_.dataFile, fs_);
    return *undo_;
}

void ArchiveEditor::commitWhole(const std::function<void(size_t file, TStream& out)>& write)
{
    commitSwitch(fs_, files_, write, JournalPlace::of(contents_.dataFile), path_);
    openFiles();
    readEntries();
}
