// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's archive edits: new archive, add, replace, extract,
// rename, remove and rebuild, undo and redo, and the entry list's status
// line. Every change goes through the archive core (an ArchiveEditor, one
// transaction per edit); the lists are read again afterwards.
#include "app/main_form.h"

#include "app/error_box.h"
#include "archive/archive.h"
#include "archive/entry_edits.h"
#include "archive/entry_extract.h"
#include "archive/undo.h"
#include "catalog/entry_table.h"
#include "platform/cancellation.h"
#include "platform/environment.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QToolButton>

#include <algorithm>
#include <sys/stat.h>

namespace {

// Names for a question, one a line, at most `most` of them.
std::string nameList(const std::vector<std::string>& names, size_t most = 10)
{
    std::string text;
    for (size_t i = 0; i < names.size() && i < most; ++i)
        text += "\n" + names[i];
    if (names.size() > most)
        text += "\n... and " + std::to_string(names.size() - most) + " more";
    return text;
}

std::string baseName(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path)).fileName().toStdString();
}

// "Undo import of sunset_DXT5", with the number of changes a group takes back.
QString changeLabel(const char* verb, const std::vector<UndoEntry>& group)
{
    QString text = QString::fromUtf8(verb);
    if (group.empty())
        return text;
    text += QStringLiteral(" ") + QString::fromStdString(group.front().description);
    if (group.size() > 1)
        text += QStringLiteral(" (%1 changes)").arg(group.size());
    return text;
}

}  // namespace

bool TForm1::entriesEditable() const
{
    return !openedFile_.empty() && openedFlavour_ != ArchiveFlavour::Dictionary;
}

void TForm1::requireEditable() const
{
    if (openedFile_.empty())
        throw EEntryEditError("No archive is open");
    if (!entriesEditable())
        throw EEntryEditError("A standalone texture dictionary is one entry; it has no directory to change");
}

void TForm1::updateArchiveItems()
{
    if (!ActUndo || !BtnArchive)
        return;
    const bool open = !openedFile_.empty();
    const bool editable = entriesEditable();
    const bool rows = !RxM->IsEmpty();
    ActNewArchive->setEnabled(true);
    ActAdd->setEnabled(editable);
    ActReplace->setEnabled(editable && rows);
    ActRename->setEnabled(editable && rows);
    ActRemove->setEnabled(editable && rows);
    ActRebuild->setEnabled(editable);
    ActExtract->setEnabled(open && rows);
    ActExportAll->setEnabled(open);
    ActImportFolder->setEnabled(open);

    // Undo and Redo are named after what they would take back; only the
    // newest records are read.
    std::vector<UndoEntry> undo, redo;
    QString problem;
    if (open) {
        try {
            UndoStore store(ArchiveFileName, systemArchiveFs());
            undo = store.nextUndo();
            redo = store.nextRedo();
        } catch (const Exception& e) {
            // The records cannot be read: nothing can be undone from here,
            // and the tool tip says why.
            problem = QString::fromStdString(e.message());
        }
    }
    const QString undoText = changeLabel("Undo", undo);
    const QString redoText = changeLabel("Redo", redo);
    ActUndo->setEnabled(!undo.empty());
    ActRedo->setEnabled(!redo.empty());
    // A "&" of a name is shown as it is, not as a mnemonic.
    ActUndo->setText(QString(undoText).replace(u'&', QStringLiteral("&&")));
    ActRedo->setText(QString(redoText).replace(u'&', QStringLiteral("&&")));
    ActUndo->setToolTip(problem.isEmpty() ? undoText + QStringLiteral(" (Ctrl+Z)") : problem);
    ActRedo->setToolTip(problem.isEmpty() ? redoText + QStringLiteral(" (Ctrl+Shift+Z)") : problem);
    BtnArchive->setEnabled(true);
    updateTextureItems();
}

void TForm1::updateEntryStatus()
{
    if (!EntryStatus)
        return;
    if (openedFile_.empty()) {
        EntryStatus->clear();
        EntryStatus->setToolTip(QString());
        return;
    }
    QString text = QString::fromUtf8(archiveFlavourName(openedFlavour_));
    const int64_t listed = RxM->RowCount();
    if (openedInfo_) {
        text += QStringLiteral(": %1 %2, %3 bytes in gaps")
                    .arg(openedInfo_->entries)
                    .arg(openedInfo_->entries == 1 ? QStringLiteral("entry") : QStringLiteral("entries"))
                    .arg(openedInfo_->gapBytes);
        // Rows taken off the list with Ctrl+Delete are still in the archive.
        if (listed != openedInfo_->entries)
            text += QStringLiteral(" (%1 listed)").arg(listed);
    } else {
        text += QStringLiteral(": %1 %2").arg(listed).arg(listed == 1 ? QStringLiteral("entry")
                                                                      : QStringLiteral("entries"));
    }
    const size_t marked = Grid->markedRows().size();
    if (marked > 0)
        text += QStringLiteral("; %1 selected").arg(marked);
    QString warning;
    if (!openedInfo_)
        warning = QStringLiteral("The data file cannot be read: ") + QString::fromStdString(openedInfoProblem_);
    else if (openedInfo_->outsideEntries > 0)
        warning =
            QStringLiteral("Warning: %1 %2 outside the data file")
                .arg(openedInfo_->outsideEntries)
                .arg(openedInfo_->outsideEntries == 1 ? QStringLiteral("entry lies") : QStringLiteral("entries lie"));
    if (!warning.isEmpty())
        text += QStringLiteral("\n") + warning;
    EntryStatus->setText(text);
    EntryStatus->setToolTip(text);
    QPalette pal = EntryStatus->palette();
    pal.setColor(QPalette::WindowText, warning.isEmpty() ? palette().color(QPalette::WindowText) : QColor(170, 0, 0));
    EntryStatus->setPalette(pal);
}

void TForm1::tell(const std::string& text)
{
    StatusBar1->showMessage(QString::fromStdString(text));
}

ArchiveContents TForm1::readArchiveNow()
{
    Recovery recovery;
    ArchiveContents archive = openArchive(ArchivePath, &recovery);
    if (recovery.restored)
        dialogs().messageBox(kApplicationTitle, recovery.message(ArchivePath));
    return archive;
}

std::unique_ptr<ArchiveEditor> TForm1::openEditor()
{
    auto editor = std::make_unique<ArchiveEditor>(ArchivePath);
    if (editor->recovery().restored)
        dialogs().messageBox(kApplicationTitle, editor->recovery().message(ArchivePath));
    return editor;
}

std::vector<DirectoryEntry> TForm1::entriesOfRows(const std::vector<DirectoryEntry>& entries,
                                                  const std::vector<int>& rows, std::unique_ptr<ArchiveEditor>* editor)
{
    std::vector<DirectoryEntry> out;
    for (const int row : rows) {
        const DirectoryEntry listed = entryAtRow(*RxM, row);
        const bool same = listed.pos >= 1 && listed.pos <= int64_t(entries.size())
                          && entries[size_t(listed.pos - 1)].name == listed.name
                          && entries[size_t(listed.pos - 1)].offset == listed.offset
                          && entries[size_t(listed.pos - 1)].size == listed.size;
        if (!same) {
            // Changed by another program since it was read: nothing is done
            // to entries the list no longer shows as they are. The archive
            // is let go before it is read again.
            if (editor)
                editor->reset();
            ReloadArchive();
            throw EEntryEditError(baseName(ArchivePath)
                                  + " was changed by another program since it was read; it was read again, and "
                                    "nothing was changed");
        }
        out.push_back(entries[size_t(listed.pos - 1)]);
    }
    return out;
}

// ---- undo and redo ----

void TForm1::BtnUndoClick()
{
    if (openedFile_.empty())
        throw EUndoError("No archive is open");
    std::unique_ptr<ArchiveEditor> editor = openEditor();
    std::string told;
    runWork(
        "Undoing the last change to " + baseName(ArchivePath) + "...",
        [&](WorkProgress&) { told = undoLastChange(*editor); }, false);
    editor.reset();
    ReloadArchive();
    tell(told);
}

void TForm1::BtnRedoClick()
{
    if (openedFile_.empty())
        throw EUndoError("No archive is open");
    std::unique_ptr<ArchiveEditor> editor = openEditor();
    std::string told;
    runWork(
        "Redoing the last change undone in " + baseName(ArchivePath) + "...",
        [&](WorkProgress&) { told = redoLastChange(*editor); }, false);
    editor.reset();
    ReloadArchive();
    tell(told);
}

// ---- new archive ----

void TForm1::BtnNewArchiveClick()
{
    const std::optional<SaveFileChoice> chosen = dialogs().saveFileChoosingFilter(SDNewArchive);
    if (!chosen)
        return;
    // The flavour comes from the extension; a name without one gets the
    // chosen filter's.
    std::string path = chosen->fileName;
    const std::string extension = asciiLower(fileExtension(path));
    if (extension != ".dir" && extension != ".img")
        path += chosen->filterIndex == 1 ? ".img" : ".dir";
    const std::string told = createArchive(path, {});
    OpenArchive(path);
    tell(baseName(path) + ": " + told);
}

// ---- add ----

void TForm1::BtnAddClick()
{
    requireEditable();
    FileDialogSetup dialog = ODAdd;
    dialog.title = "Add to " + baseName(ArchivePath);
    const std::vector<std::string> files = dialogs().openFiles(dialog);
    if (files.empty())
        return;
    AddFiles(files);
}

void TForm1::AddFiles(const std::vector<std::string>& files)
{
    requireEditable();
    if (files.empty())
        return;
    // Names the archive holds already: asked about first, from the archive
    // as it is now (read under the shared lock, not held while asking).
    const auto clashes = [&files](const std::vector<DirectoryEntry>& entries) {
        std::vector<std::string> names;
        for (const std::string& file : files) {
            const std::string name = entryNameFromUtf8(baseName(file));
            for (const DirectoryEntry& e : entries)
                if (sameEntryName(e.name, name)) {
                    names.push_back(displayName(e.name));
                    break;
                }
        }
        return names;
    };
    const std::vector<std::string> asked = clashes(readArchiveNow().entries);
    if (!asked.empty()
        && !dialogs().confirm("Confirm", baseName(ArchivePath) + " already holds "
                                             + counted(int64_t(asked.size()), "entry", "entries") + " of these names:"
                                             + nameList(asked) + "\n\nReplace their bytes with the files'?"))
        return;

    std::unique_ptr<ArchiveEditor> editor = openEditor();
    if (clashes(editor->contents().entries) != asked)
        throw EEntryEditError(baseName(ArchivePath)
                              + " was changed by another program since it was read; nothing was added");
    std::string told;
    runWork(
        "Adding " + counted(int64_t(files.size()), "file", "files") + " to " + baseName(ArchivePath) + "...",
        [&](WorkProgress& progress) {
            told = addEntries(*editor, files, !asked.empty(), [&progress](int64_t done, int64_t total) {
                progress.set(done, total);
                return true;
            });
        },
        false);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    ReloadArchive(entryNameFromUtf8(baseName(files.back())));
    tell(told + (unkept ? "; no undo record could be kept" : ""));
}

// ---- replace ----

void TForm1::BtnReplaceClick()
{
    requireEditable();
    if (RxM->IsEmpty())
        return;
    FileDialogSetup dialog = ODReplace;
    dialog.title = "Replace " + displayName(currentEntry(*RxM).name) + " with";
    const std::optional<std::string> file = dialogs().openFile(dialog);
    if (!file)
        return;
    ReplaceEntry(*file);
}

void TForm1::ReplaceEntry(const std::string& file)
{
    requireEditable();
    if (RxM->IsEmpty() || RxM->CurrentIndex() < 0)
        return;
    std::unique_ptr<ArchiveEditor> editor = openEditor();
    const DirectoryEntry entry = entriesOfRows(editor->contents().entries, {RxM->CurrentIndex()}, &editor).front();
    std::string told;
    runWork(
        "Replacing " + displayName(entry.name) + " in " + baseName(ArchivePath) + "...",
        [&](WorkProgress&) { told = replaceEntry(*editor, entry, file); }, false);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    ReloadArchive(entry.name);
    tell(told + (unkept ? "; no undo record could be kept" : ""));
}

// ---- remove ----

void TForm1::BtnRemoveClick()
{
    requireEditable();
    const std::vector<int> rows = Grid->chosenRows();
    if (rows.empty())
        return;
    std::vector<std::string> names;
    for (const int row : rows)
        names.push_back(displayName(entryAtRow(*RxM, row).name));
    const std::string archive = baseName(ArchivePath);
    const std::string question = rows.size() == 1 ? "Remove " + names.front() + " from " + archive + "?"
                                                  : "Remove " + counted(int64_t(rows.size()), "entry", "entries")
                                                        + " from " + archive + "?\n" + nameList(names);
    if (!dialogs().confirm("Confirm", question))
        return;
    std::unique_ptr<ArchiveEditor> editor = openEditor();
    std::vector<int64_t> positions;
    for (const DirectoryEntry& e : entriesOfRows(editor->contents().entries, rows, &editor))
        positions.push_back(e.pos);
    std::string told;
    runWork(
        "Removing " + counted(int64_t(rows.size()), "entry", "entries") + " from " + archive + "...",
        [&](WorkProgress&) { told = removeEntries(*editor, positions); }, false);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    // The row that takes the first removed row's place becomes current.
    const int first = *std::min_element(rows.begin(), rows.end());
    if (RxM->CurrentIndex() != first)
        RxM->GoToRowNumber(first + 1);
    ReloadArchive(std::string());
    tell(told + (unkept ? "; no undo record could be kept" : ""));
}

// ---- rename ----

void TForm1::BtnRenameClick()
{
    requireEditable();
    if (RxM->IsEmpty() || RxM->CurrentIndex() < 0)
        return;
    int column = 0;
    for (int c = 0; c < int(Grid->gridColumns().size()); ++c)
        if (Grid->columnField(c) == EntryField::kName)
            column = c;
    Grid->setFocus();
    Grid->editCurrentCell(column, fromCp1250(currentEntry(*RxM).name),
                          [this](const QString& text) { RenameEntry(text.toStdString()); });
}

void TForm1::RenameEntry(const std::string& newNameUtf8)
{
    requireEditable();
    if (RxM->IsEmpty() || RxM->CurrentIndex() < 0)
        return;
    if (newNameUtf8 == cp1250ToUtf8(currentEntry(*RxM).name))
        return;  // nothing to change
    std::unique_ptr<ArchiveEditor> editor = openEditor();
    const DirectoryEntry entry = entriesOfRows(editor->contents().entries, {RxM->CurrentIndex()}, &editor).front();
    const std::string told = renameEntry(*editor, entry, newNameUtf8);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    ReloadArchive(entryNameFromUtf8(newNameUtf8));
    tell(told + (unkept ? "; no undo record could be kept" : ""));
}

// ---- rebuild ----

void TForm1::BtnRebuildClick()
{
    requireEditable();
    const std::string archive = baseName(ArchivePath);
    if (!dialogs().confirm("Confirm", "Rebuild " + archive
                                          + ", its entries written one after another without gaps?\n\nA rebuild "
                                            "cannot be undone."))
        return;
    std::unique_ptr<ArchiveEditor> editor = openEditor();
    std::string told;
    const WorkEnd end = runWork(
        "Rebuilding " + archive + "...",
        [&](WorkProgress& progress) {
            told = rebuildArchive(*editor, [&progress](int64_t done, int64_t total) {
                progress.set(done, total);
                return !cancelRequested();
            });
        },
        true);
    editor.reset();
    if (end == WorkEnd::Cancelled) {
        tell("Rebuild cancelled; " + archive + " was left as it was");
        return;
    }
    ReloadArchive();
    tell(told);
}

// ---- extract ----

void TForm1::BtnExtractClick()
{
    if (openedFile_.empty() || RxM->IsEmpty())
        return;
    const size_t count = Grid->chosenRows().size();
    FileDialogSetup dialog = FDExtract;
    dialog.title = "Extract " + counted(int64_t(count), "entry", "entries") + " to";
    if (!lastExtractFolder_.empty())
        dialog.fileName = lastExtractFolder_;
    const std::optional<std::string> folder = dialogs().chooseFolder(dialog);
    if (!folder)
        return;
    lastExtractFolder_ = *folder;
    ExtractEntries(*folder);
}

void TForm1::ExtractEntries(const std::string& folder)
{
    if (openedFile_.empty() || RxM->IsEmpty())
        return;
    const std::vector<int> rows = Grid->chosenRows();
    // The archive as it is now, its data file under the shared lock while
    // its bytes are read.
    const ArchiveContents archive = readArchiveNow();
    const std::vector<DirectoryEntry> entries = entriesOfRows(archive.entries, rows);
    TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    const ExtractionPlan plan = planExtraction(entries, data.Size());
    const ArchiveOwnFiles own(ArchivePath, archive);
    for (const ExtractionPlan::Item& item : plan.items)
        own.check(folder + "/" + item.fileName);

    std::vector<std::string> existing;
    for (const ExtractionPlan::Item& item : plan.items) {
        struct stat st {};
        if (::lstat((folder + "/" + item.fileName).c_str(), &st) == 0)
            existing.push_back(item.fileName);
    }
    if (!existing.empty()
        && !dialogs().confirm("Confirm", counted(int64_t(existing.size()), "file", "files") + " in " + folder
                                             + (existing.size() == 1 ? " exists" : " exist")
                                             + " already and will be replaced:" + nameList(existing) + "\n\nReplace?"))
        return;

    const int64_t total = int64_t(plan.items.size());
    std::atomic<int64_t> written{0};
    const WorkEnd end = runWork(
        "Extracting " + counted(total, "entry", "entries") + "...",
        [&](WorkProgress& progress) {
            try {
                writeExtraction(plan, data, folder, own, [&](int64_t done) {
                    written.store(done);
                    progress.set(done, total);
                });
            } catch (const ECancelled&) {
                throw;
            } catch (const Exception& e) {
                // Said with how far it got and the system's reason; the
                // files written stay.
                throw Exception(std::to_string(written.load()) + " of " + counted(total, "entry", "entries")
                                + " extracted; stopped: " + e.detail());
            }
        },
        true);
    if (end == WorkEnd::Cancelled) {
        tell(std::to_string(written.load()) + " of " + counted(total, "entry", "entries") + " extracted; cancelled");
        return;
    }
    int64_t cut = 0;
    for (const ExtractionPlan::Item& item : plan.items)
        cut += item.span.cut;
    std::string told = counted(total, "entry", "entries") + " extracted to " + folder;
    if (plan.pastEnd > 0)
        told += "; " + std::to_string(plan.pastEnd) + " starting past the end of the data file skipped";
    if (cut > 0)
        told += "; " + std::to_string(cut) + " cut short by the end of the data file";
    tell(told);
}
