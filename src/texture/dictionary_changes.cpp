// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/dictionary_changes.h"

#include "imaging/picture_registry.h"
#include "platform/cancellation.h"
#include "platform/text.h"

#include <filesystem>
#include <system_error>

namespace {

ChangeLabel editLabel(const std::string& description)
{
    ChangeLabel label;
    label.kind = ChangeKind::ArchiveEdit;
    label.description = description;
    return label;
}

std::string quoted(const std::string& cp1250)
{
    std::string text = "'";
    text += displayName(cp1250);
    text += '\'';
    return text;
}

}  // namespace

LoadedPicture loadPictureForTexture(const std::string& file, bool keepAlpha)
{
    LoadedPicture loaded;
    loaded.picture = LoadPictureFromFile(file, 1, keepAlpha);
    loaded.alpha = std::move(loaded.picture->AlphaPlane);
    loaded.picture->AlphaPlane.clear();
    return loaded;
}

bool layoutUsesAlpha(TexelFormat format)
{
    return format == TexelFormat::Dxt1 || layoutRow(format).alpha;
}

std::string textureNameOfPicture(const std::string& file)
{
    std::string base = file.substr(file.find_last_of('/') + 1);
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        base.resize(dot);
    return textureNameFromUtf8(base);
}

TextureContent textureContentOfPicture(const std::string& file, const TextureBuildRequest& request)
{
    LoadedPicture loaded = loadPictureForTexture(file, true);
    return buildTextureContent(*loaded.picture, std::move(loaded.alpha), request);
}

std::string textureNamesText(const DictionaryTree& tree, const std::vector<int>& indices)
{
    std::string names;
    for (const int i : indices)
        names += (names.empty() ? "" : ", ") + displayName(tree.texture(i).name());
    return names;
}

DirectoryEntry writeImportedTexture(ArchiveEditor& editor, HeldDictionary& held, int index, TextureContent content)
{
    const std::string name = held.tree.texture(index).name();
    replaceTextureContent(held.tree, index, std::move(content));
    return writeHeldDictionary(editor, held, editLabel("import of " + displayName(name)));
}

DirectoryEntry writeAddedTextures(ArchiveEditor& editor, HeldDictionary& held, std::vector<NewTexture> textures)
{
    std::string names;
    for (NewTexture& t : textures) {
        names += (names.empty() ? "" : ", ") + displayName(t.name);
        addTexture(held.tree, t.name, t.maskName, std::move(t.content));
    }
    return writeHeldDictionary(editor, held,
                               editLabel("add-texture of " + names + " to " + displayName(held.entry.name)));
}

DirectoryEntry writeRemovedTextures(ArchiveEditor& editor, HeldDictionary& held, const std::vector<int>& indices)
{
    const std::string names = textureNamesText(held.tree, indices);
    removeTextures(held.tree, indices);
    return writeHeldDictionary(editor, held,
                               editLabel("remove-texture of " + names + " from " + displayName(held.entry.name)));
}

DirectoryEntry writeRenamedTexture(ArchiveEditor& editor, HeldDictionary& held, int index, const std::string& name,
                                   const std::optional<std::string>& maskName)
{
    const std::string old = held.tree.texture(index).name();
    renameTexture(held.tree, index, name, maskName);
    return writeHeldDictionary(editor, held,
                               editLabel("rename-texture of " + displayName(old) + " to " + displayName(name) + " in "
                                         + displayName(held.entry.name)));
}

void checkNewDictionaryPath(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
    if (!ec && status.type() != std::filesystem::file_type::not_found)
        throw Exception("Not making a new dictionary over " + escapeControlCharacters(path) + ": it exists already");
}

std::vector<std::string> textureNamesOfPictures(const std::vector<std::string>& pictures)
{
    std::vector<std::string> names;
    for (const std::string& p : pictures) {
        const std::string name = textureNameOfPicture(p);
        for (const std::string& other : names)
            if (sameTextIgnoreCase(fromCp1250(other), fromCp1250(name)))
                throw EDictionaryError("Two pictures give the texture name " + quoted(name)
                                       + "; texture names are told apart ignoring letter case");
        names.push_back(name);
    }
    return names;
}

DictionaryTree dictionaryOfPictures(const std::vector<std::string>& pictures, TextureBuildRequest each,
                                    uint32_t platform, const std::function<bool(int64_t done, int64_t total)>& progress)
{
    // Every name first: a name refused or taken twice costs no encoding.
    const std::vector<std::string> names = textureNamesOfPictures(pictures);
    each.platform = platform;
    DictionaryTree tree = newDictionaryTree(platform);
    const int64_t total = int64_t(pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i) {
        addTexture(tree, names[i], "", textureContentOfPicture(pictures[i], each));
        if (progress && !progress(int64_t(i) + 1, total))
            throw ECancelled("Cancelled");
        throwIfCancelled();
    }
    return tree;
}
