// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's work on every texture at once: "Export all..." writes
// each texture of the open file into a folder of pictures, "Import
// folder..." imports such a folder back over the textures. Both run the
// texture library's batch core (texture/texture_batch.h), as quarnix-tool's
// export-all and import-all do, on a thread of their own under a progress box.
#include "app/main_form.h"

#include "app/error_box.h"
#include "archive/archive.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "texture/texture_batch.h"
#include "texture/texture_files.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

std::string baseName(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path)).fileName().toStdString();
}

// The files of `folder` an export of `archive` would write over, relative
// to the folder ("city.txd/grass.tga").
std::vector<std::string> filesExportReplaces(const ArchiveContents& archive, const std::string& folder,
                                             const std::string& extension)
{
    const QDir dir(QString::fromStdString(folder));
    if (!dir.exists() || dir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        return {};
    TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    const TextureFilePlan plan = planTextureFiles(archive, data, extension);
    std::vector<std::string> existing;
    for (const TextureFilePlan::Dictionary& d : plan.dictionaries)
        for (const std::string& file : d.files) {
            const std::string relative = d.folder + "/" + file;
            struct stat st {};
            if (::lstat((folder + "/" + relative).c_str(), &st) == 0)
                existing.push_back(relative);
        }
    return existing;
}

}  // namespace

// ---- export all ----

void TForm1::BtnExportAllClick()
{
    if (openedFile_.empty())
        throw Exception("No archive is open");
    FileDialogSetup dialog = FDExportAll;
    dialog.title = "Export all textures of " + baseName(ArchivePath) + " to";
    if (!lastBatchFolder_.empty())
        dialog.fileName = lastBatchFolder_;
    const std::optional<std::string> folder = dialogs().chooseFolder(dialog);
    if (!folder)
        return;
    const std::optional<ExportAllChoices> choices =
        dialogs().exportAllChoices("Every texture of " + baseName(ArchivePath) + " is written into " + *folder
                                       + ", in a folder for each dictionary, as a picture file of the format chosen.",
                                   exportAllChoices_);
    if (!choices)
        return;
    exportAllChoices_ = *choices;
    lastBatchFolder_ = *folder;
    ExportAllTextures(*folder, choices->png);
}

void TForm1::ExportAllTextures(const std::string& folder, bool png)
{
    if (openedFile_.empty())
        throw Exception("No archive is open");
    const std::string archiveName = baseName(ArchivePath);
    // The archive as it is now; files the export would replace are asked
    // about first, as Extract asks.
    const ArchiveContents archive = readArchiveNow();
    const std::vector<std::string> existing = filesExportReplaces(archive, folder, png ? ".png" : ".tga");
    if (!existing.empty()) {
        std::string names;
        for (size_t i = 0; i < existing.size() && i < 10; ++i)
            names += "\n" + existing[i];
        if (existing.size() > 10)
            names += "\n... and " + std::to_string(existing.size() - 10) + " more";
        if (!dialogs().confirm("Confirm", counted(int64_t(existing.size()), "file", "files") + " in " + folder
                                              + (existing.size() == 1 ? " exists" : " exist")
                                              + " already and will be replaced:" + names + "\n\nReplace?"))
            return;
    }

    ExportAllSummary summary;
    const WorkEnd end = runWork(
        "Exporting the textures of " + archiveName + "...",
        [&](WorkProgress& progress) {
            ExportAllOptions options;
            options.png = png;
            options.progress = [this, &progress](int64_t done, int64_t total, const std::string& current) {
                progress.set(done, total, current);
                batchProgressed(done);
            };
            summary = exportAllTextures(ArchivePath, archive, folder, options);
        },
        true);
    if (end == WorkEnd::Cancelled) {
        // Stopped before the first file (the run itself ends with a summary).
        tell("Export all cancelled; nothing was written");
        return;
    }
    const std::string text = exportAllSummaryText(summary);
    tell(text);
    if (!summary.stopped.empty())
        throw Exception(text);
    dialogs().messageBox(kApplicationTitle, text);
}

// ---- import folder ----

void TForm1::BtnImportFolderClick()
{
    if (openedFile_.empty())
        throw Exception("No archive is open");
    FileDialogSetup dialog = FDImportFolder;
    dialog.title = "Import pictures into " + baseName(ArchivePath) + " from";
    if (!lastBatchFolder_.empty())
        dialog.fileName = lastBatchFolder_;
    const std::optional<std::string> folder = dialogs().chooseFolder(dialog);
    if (!folder)
        return;
    checkImportFolder(*folder);
    const std::optional<ImportFolderChoices> choices = dialogs().importFolderChoices(
        "The pictures of " + *folder + " are imported over the textures of " + baseName(ArchivePath)
            + " they are named after (as Export all names them). One Undo takes the whole import back.",
        importFolderChoices_);
    if (!choices)
        return;
    importFolderChoices_ = *choices;
    lastBatchFolder_ = *folder;
    ImportFolder(*folder, *choices);
}

void TForm1::ImportFolder(const std::string& folder, const ImportFolderChoices& choices)
{
    if (openedFile_.empty())
        throw Exception("No archive is open");
    checkImportFolder(folder);
    const std::string archiveName = baseName(ArchivePath);
    // Held for the whole run: nobody else writes the archive meanwhile.
    std::unique_ptr<ArchiveEditor> editor = openEditor();
    ImportAllSummary summary;
    const WorkEnd end = runWork(
        "Importing the pictures of " + folder + " into " + archiveName + "...",
        [&](WorkProgress& progress) {
            ImportAllOptions options;
            options.exact = choices.exact;
            options.pictureSize = choices.pictureSize;
            options.dxt = choices.bestDxt ? DxtQuality::Best : DxtQuality::Fast;
            options.progress = [this, &progress](int64_t done, int64_t total, const std::string& current) {
                progress.set(done, total, current);
                batchProgressed(done);
            };
            summary = importAllTextures(*editor, folder, options);
        },
        true);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    if (end == WorkEnd::Cancelled) {
        // Stopped before the run began (the run itself ends with a summary).
        tell("Import folder cancelled; " + archiveName + " was left as it was");
        return;
    }
    ReloadArchive();
    const std::string text = importAllSummaryText(summary);
    tell(text + (unkept ? "; no undo record could be kept" : ""));
    if (!summary.stopped.empty())
        throw Exception(text);
    dialogs().messageBoxWithDetails(kApplicationTitle, unkept ? text + "\n\nNo undo record could be kept." : text,
                                    importAllNoteLines(summary));
}
