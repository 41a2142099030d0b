// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's dictionary edits: a texture added, removed and renamed in
// the current entry's sectioned dictionary, and a new dictionary made from
// pictures. Each change is one transaction of the archive core, made by the
// same steps as quarnix-tool's (texture/dictionary_changes.h), and the lists
// are read again afterwards.
#include "app/main_form.h"

#include "archive/archive.h"
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "formats/dictionary_edit.h"
#include "formats/sectioned_dictionary_layout.h"
#include "formats/texture_dictionary.h"
#include "platform/cancellation.h"
#include "platform/file_names.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "texture/archive_dictionary.h"
#include "texture/dictionary_changes.h"

#include <QAction>
#include <QFileInfo>
#include <QStatusBar>

namespace {

std::string baseName(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path)).fileName().toStdString();
}

std::string movedText(const DirectoryEntry& before, const DirectoryEntry& after)
{
    return after.offset == before.offset ? std::string()
                                         : "; the entry moved to offset " + std::to_string(after.offset);
}

}  // namespace

bool TForm1::texturesEditable() const
{
    return !openedFile_.empty() && !RxM->IsEmpty() && RxM->CurrentIndex() >= 0
           && entryIsTextureDictionary(currentEntry(*RxM).name);
}

void TForm1::updateTextureItems()
{
    if (!ActAddTexture)
        return;
    const bool editable = texturesEditable();
    const bool texture = editable && !QueryTXD->IsEmpty() && QueryTXD->CurrentIndex() >= 0;
    ActAddTexture->setEnabled(editable);
    ActRenameTexture->setEnabled(texture);
    ActRemoveTexture->setEnabled(texture);
    ActNewDictionary->setEnabled(true);
}

void TForm1::checkDictionaryRewritable()
{
    if (!texturesEditable())
        throw EDictionaryError("No texture dictionary is current");
    const DirectoryEntry entry = currentEntry(*RxM);
    std::vector<uint8_t> bytes;
    {
        TFileStream data(ArchiveFileName, FileMode::OpenReadShareDenyWrite);
        bytes = readEntryBytes(data, entry, StandaloneTxd);
    }
    // Refused, saying why, for a dictionary without sections or a damaged one.
    holdDictionary(entry, std::move(bytes), StandaloneTxd);
}

HeldDictionary TForm1::holdCurrentDictionary(std::unique_ptr<ArchiveEditor>& editor)
{
    editor = openEditor();
    const DirectoryEntry entry = entriesOfRows(editor->contents().entries, {RxM->CurrentIndex()}, &editor).front();
    return readHeldDictionary(*editor, entry);
}

int TForm1::currentTextureIndex(const HeldDictionary& held, std::unique_ptr<ArchiveEditor>& editor)
{
    const int64_t pos = QueryTXD->FieldByName(TextureField::kPos).AsInteger();
    const std::string name = QueryTXD->FieldByName(TextureField::kName).AsString();
    const int index = int(pos - 1);
    if (index < 0 || index >= held.tree.textureCount() || held.tree.texture(index).name() != name) {
        // Changed by another program since the list was read: nothing is
        // done to a texture the list no longer shows as it is.
        editor.reset();
        ReloadArchive();
        throw EDictionaryError(displayName(held.entry.name)
                               + " was changed by another program since it was read; it was read again, and "
                                 "nothing was changed");
    }
    return index;
}

// ---- add ----

void TForm1::BtnAddTextureClick()
{
    checkDictionaryRewritable();
    FileDialogSetup dialog = ODAddTexture;
    dialog.title = "Add textures to " + displayName(currentEntry(*RxM).name);
    const std::vector<std::string> pictures = dialogs().openFiles(dialog);
    if (pictures.empty())
        return;
    AddTextures(pictures);
}

void TForm1::AddTextures(const std::vector<std::string>& pictures)
{
    if (!texturesEditable())
        throw EDictionaryError("No texture dictionary is current");
    if (pictures.empty())
        return;
    // The names first: a name refused or taken costs no encoding.
    const std::vector<std::string> names = textureNamesOfPictures(pictures);
    std::unique_ptr<ArchiveEditor> editor;
    HeldDictionary held = holdCurrentDictionary(editor);
    for (const std::string& name : names)
        checkTextureNameFree(held.tree, name);
    TextureBuildRequest request;
    request.levels = LevelsChoice{LevelsChoice::All, 0};
    request.platform = platformOfNewTextures(held.tree);
    const int64_t total = int64_t(pictures.size());
    const DirectoryEntry before = held.entry;
    DirectoryEntry after;
    const WorkEnd end = runWork(
        "Adding " + counted(total, "picture", "pictures") + " to " + displayName(before.name) + "...",
        [&](WorkProgress& progress) {
            std::vector<NewTexture> added;
            for (size_t i = 0; i < pictures.size(); ++i) {
                throwIfCancelled();
                added.push_back({names[i], "", textureContentOfPicture(pictures[i], request)});
                progress.set(int64_t(i) + 1, total);
            }
            throwIfCancelled();
            // From here the change is written whatever is pressed.
            after = writeAddedTextures(*editor, held, std::move(added));
        },
        true);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    if (end == WorkEnd::Cancelled) {
        tell("Adding cancelled; nothing was added to " + displayName(before.name));
        return;
    }
    ReloadArchive(before.name, std::make_pair(names.back(), int64_t(held.tree.textureCount())));
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + displayName(name);
    tell(counted(total, "texture", "textures") + " added to " + displayName(before.name) + ": " + list
         + movedText(before, after) + (unkept ? "; no undo record could be kept" : ""));
}

// ---- remove ----

void TForm1::BtnRemoveTextureClick()
{
    if (!texturesEditable() || QueryTXD->IsEmpty() || QueryTXD->CurrentIndex() < 0)
        return;
    checkDictionaryRewritable();
    const std::string name = QueryTXD->FieldByName(TextureField::kName).AsString();
    const int64_t pos = QueryTXD->FieldByName(TextureField::kPos).AsInteger();
    const std::string entryName = currentEntry(*RxM).name;
    if (!dialogs().confirm("Confirm",
                           "Remove the texture " + displayName(name) + " from " + displayName(entryName) + "?"))
        return;
    std::unique_ptr<ArchiveEditor> editor;
    HeldDictionary held = holdCurrentDictionary(editor);
    const int index = currentTextureIndex(held, editor);
    const DirectoryEntry before = held.entry;
    DirectoryEntry after;
    runWork(
        "Removing " + displayName(name) + " from " + displayName(before.name) + "...",
        [&](WorkProgress&) { after = writeRemovedTextures(*editor, held, {index}); }, false);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    // The texture after it (at its Pos) becomes current; the last when it was the last.
    ReloadArchive(before.name, std::make_pair(name, pos));
    tell("1 texture removed from " + displayName(before.name) + ": " + displayName(name) + movedText(before, after)
         + (unkept ? "; no undo record could be kept" : ""));
}

// ---- rename ----

void TForm1::BtnRenameTextureClick()
{
    if (!texturesEditable() || QueryTXD->IsEmpty() || QueryTXD->CurrentIndex() < 0)
        return;
    // Refused before the name is edited.
    checkDictionaryRewritable();
    int column = 0;
    for (int c = 0; c < int(GridTXD->gridColumns().size()); ++c)
        if (GridTXD->columnField(c) == TextureField::kName)
            column = c;
    GridTXD->setFocus();
    GridTXD->editCurrentCell(column, fromCp1250(QueryTXD->FieldByName(TextureField::kName).AsString()),
                             [this](const QString& text) { RenameTexture(text.toStdString()); });
}

void TForm1::RenameTexture(const std::string& newNameUtf8)
{
    if (!texturesEditable() || QueryTXD->IsEmpty() || QueryTXD->CurrentIndex() < 0)
        return;
    const std::string old = QueryTXD->FieldByName(TextureField::kName).AsString();
    const int64_t pos = QueryTXD->FieldByName(TextureField::kPos).AsInteger();
    if (newNameUtf8 == cp1250ToUtf8(old))
        return;  // nothing to change
    const std::string name = textureNameFromUtf8(newNameUtf8);
    std::unique_ptr<ArchiveEditor> editor;
    HeldDictionary held = holdCurrentDictionary(editor);
    const int index = currentTextureIndex(held, editor);
    const DirectoryEntry before = held.entry;
    const DirectoryEntry after = writeRenamedTexture(*editor, held, index, name);
    const bool unkept = editor->undoUnkept();
    editor.reset();
    ReloadArchive(before.name, std::make_pair(name, pos));
    tell("1 texture renamed in " + displayName(before.name) + ": " + displayName(old) + " to " + displayName(name)
         + movedText(before, after) + (unkept ? "; no undo record could be kept" : ""));
}

// ---- new dictionary ----

void TForm1::BtnNewDictionaryClick()
{
    const std::vector<std::string> pictures = dialogs().openFiles(ODNewDictionary);
    if (pictures.empty())
        return;
    // Names refused or taken twice are told before anything else is asked.
    textureNamesOfPictures(pictures);
    const std::optional<SaveFileChoice> chosen = dialogs().saveFileChoosingFilter(SDNewDictionary);
    if (!chosen)
        return;
    std::string path = chosen->fileName;
    if (asciiLower(fileExtension(path)) != ".txd")
        path += ".txd";
    // The second type: the older header.
    const uint32_t platform = chosen->filterIndex == 1 ? TxdSections::kPlatformOlder : TxdSections::kPlatformNewer;
    checkNewDictionaryPath(path);
    TextureBuildRequest request;
    request.levels = LevelsChoice{LevelsChoice::All, 0};
    const int64_t total = int64_t(pictures.size());
    const WorkEnd end = runWork(
        "Making " + baseName(path) + " of " + counted(total, "picture", "pictures") + "...",
        [&](WorkProgress& progress) {
            const DictionaryTree tree =
                dictionaryOfPictures(pictures, request, platform, [&progress](int64_t done, int64_t all) {
                    progress.set(done, all);
                    return true;
                });
            const std::vector<uint8_t> bytes = writeDictionaryTree(tree);
            throwIfCancelled();
            writeNewFile(path, bytes);
        },
        true);
    if (end == WorkEnd::Cancelled) {
        tell("New dictionary cancelled; nothing was made");
        return;
    }
    OpenArchive(path);
    tell("New dictionary " + baseName(path) + " made: " + counted(total, "texture", "textures"));
}
