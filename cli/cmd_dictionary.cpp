// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool add-texture / remove-texture / rename-texture / new-txd: the
// textures of a sectioned dictionary added, removed and renamed, and new
// dictionaries made from pictures. Each edit of a dictionary inside an
// archive is one transaction of the archive core, kept for undo; new-txd
// writes a new file and never replaces one.
#include "cli/commands.h"
#include "cli/texture_options.h"

#include "archive/archive.h"
#include "formats/dictionary_edit.h"
#include "formats/dictionary_tree.h"
#include "formats/sectioned_dictionary_layout.h"
#include "platform/exceptions.h"
#include "platform/file_write.h"
#include "platform/text.h"
#include "texture/archive_dictionary.h"
#include "texture/dictionary_changes.h"
#include "texture/texture_build.h"

#include <cstdio>
#include <set>

namespace {

// The archive held for editing, with what its recovery put back told.
struct Edit {
    explicit Edit(const std::string& path) : editor(path) { reportRecovery(editor.recovery(), path); }
    ArchiveEditor editor;
};

// ---- add-texture ----

const QCommandLineOption kNameOption("name",
                                     "The texture's name (1 to 31 bytes); by default the picture's base "
                                     "name without its extension.",
                                     "NAME");
const QCommandLineOption kAddMaskOption("mask", "The texture's mask name (0 to 31 bytes); empty by default.", "NAME");

void addAddTextureOptions(QCommandLineParser& parser)
{
    parser.addOption(kNameOption);
    parser.addOption(kAddMaskOption);
    parser.addOption(kLayoutOption);
    parser.addOption(kTextureSizeOption);
    parser.addOption(kLevelsOption);
    parser.addOption(kDxtOption);
}

int runAddTexture(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    TextureChoices choices;
    std::string problem;
    if (!readTextureChoices(parser, false, true, choices, problem))
        return usageError(kAddTextureCommand, problem);
    // The names first: a name refused costs no encoding.
    const std::string name = parser.isSet(kNameOption) ? textureNameFromUtf8(utf8(parser.value(kNameOption)))
                                                       : textureNameOfPicture(args[2]);
    const std::string mask = maskNameFromUtf8(parser.isSet(kAddMaskOption) ? utf8(parser.value(kAddMaskOption)) : "");
    Edit e(args[0]);
    const DirectoryEntry entry = dictionaryEntryOf(e.editor, args[1]);
    HeldDictionary held = readHeldDictionary(e.editor, entry);
    checkTextureNameFree(held.tree, name);

    TextureBuildRequest request;
    request.size = choices.size;
    request.format = choices.format;
    request.levels = choices.levels.value_or(LevelsChoice{LevelsChoice::All, 0});
    request.platform = platformOfNewTextures(held.tree);
    request.dxt = choices.dxt;
    TextureContent content = textureContentOfPicture(args[2], request);
    const TexelLayout layout = content.layout;
    std::vector<NewTexture> added;
    added.push_back({name, mask, std::move(content)});
    const DirectoryEntry after = writeAddedTextures(e.editor, held, std::move(added));
    return editDone("1 texture added to " + quotedName(entry.name) + ": " + quotedName(name) + ", "
                    + contentText(layout) + movedText(entry, after));
}

// ---- remove-texture ----

int runRemoveTexture(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    Edit e(args[0]);
    const DirectoryEntry entry = dictionaryEntryOf(e.editor, args[1]);
    HeldDictionary held = readHeldDictionary(e.editor, entry);
    std::vector<std::string> which = {args[2]};
    for (const std::string& w : positionalFrom(parser, 3))
        which.push_back(w);
    std::set<int> indices;
    for (const std::string& w : which)
        indices.insert(textureIndexOf(held.tree, entry, w));
    const std::vector<int> removed(indices.begin(), indices.end());
    const std::string names = textureNamesText(held.tree, removed);
    const DirectoryEntry after = writeRemovedTextures(e.editor, held, removed);
    return editDone(counted(int64_t(indices.size()), "texture", "textures") + " removed from " + quotedName(entry.name)
                    + ": " + names + movedText(entry, after));
}

// ---- rename-texture ----

const QCommandLineOption kRenameMaskOption("mask", "Set the texture's mask name too (0 to 31 bytes).", "NAME");

void addRenameTextureOptions(QCommandLineParser& parser)
{
    parser.addOption(kRenameMaskOption);
}

int runRenameTexture(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    const std::string name = textureNameFromUtf8(args[3]);
    std::optional<std::string> mask;
    if (parser.isSet(kRenameMaskOption))
        mask = maskNameFromUtf8(utf8(parser.value(kRenameMaskOption)));
    Edit e(args[0]);
    const DirectoryEntry entry = dictionaryEntryOf(e.editor, args[1]);
    HeldDictionary held = readHeldDictionary(e.editor, entry);
    const int index = textureIndexOf(held.tree, entry, args[2]);
    const std::string old = held.tree.texture(index).name();
    const DirectoryEntry after = writeRenamedTexture(e.editor, held, index, name, mask);
    return editDone("1 texture renamed in " + quotedName(entry.name) + ": " + quotedName(old) + " to "
                    + quotedName(name) + (mask ? ", mask name " + quotedName(*mask) : "") + movedText(entry, after));
}

// ---- new-txd ----

const QCommandLineOption kPlatformOption("platform",
                                         "9 (the default): the newer texture header, library stamp 0x1803FFFF, "
                                         "device 2; 8: the older header (no DXT5), stamp 0x1003FFFF, device 1.",
                                         "8|9");

void addNewTxdOptions(QCommandLineParser& parser)
{
    parser.addOption(kLayoutOption);
    parser.addOption(kPlatformOption);
    parser.addOption(kTextureSizeOption);
    parser.addOption(kDxtOption);
}

int runNewTxd(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    TextureChoices choices;
    std::string problem;
    if (!readTextureChoices(parser, false, false, choices, problem))
        return usageError(kNewTxdCommand, problem);
    uint32_t platform = TxdSections::kPlatformNewer;
    if (parser.isSet(kPlatformOption)) {
        const std::string value = utf8(parser.value(kPlatformOption));
        if (value != "8" && value != "9")
            return usageError(kNewTxdCommand,
                              "bad platform '" + escapeControlCharacters(value) + "' (expected 8 or 9)");
        platform = value == "8" ? TxdSections::kPlatformOlder : TxdSections::kPlatformNewer;
    }
    const std::string& out = args[0];
    std::vector<std::string> pictures = {args[1]};
    for (const std::string& p : positionalFrom(parser, 2))
        pictures.push_back(p);
    checkNewDictionaryPath(out);
    TextureBuildRequest request;
    request.size = choices.size;
    request.format = choices.format;
    request.levels = LevelsChoice{LevelsChoice::All, 0};
    request.dxt = choices.dxt;
    const DictionaryTree tree = dictionaryOfPictures(pictures, request, platform);
    writeNewFile(out, writeDictionaryTree(tree));
    return editDone("new dictionary " + escapeControlCharacters(out)
                    + " made: " + counted(int64_t(pictures.size()), "texture", "textures"));
}

const char* const kArchiveHelp = "The .dir file (data in the .img beside it), a VER2 .img or a .txd file.";
const char* const kEntryHelp = "The dictionary entry's Pos number or its exact name; a .txd has the single entry 1.";
const char* const kTextureHelp = "The texture's Pos number in its dictionary or its exact name.";

}  // namespace

const ToolCommand kAddTextureCommand{
    "add-texture",
    "Add a picture to a sectioned dictionary as a new texture.",
    "Appends a texture made from PICTURE (loaded with its alpha) after the last texture of the dictionary ENTRY. "
    "Its name is the picture's base name without its extension unless --name; its size the picture's own "
    "unless --size (the picture then resampled, cubic B-spline); its layout, unless --format, DXT1 where both "
    "sides are divisible by 4 and every pixel is opaque, DXT5 (DXT3 in a dictionary of the older header) where "
    "they are and a pixel is not, 8888 otherwise; its mip chain the full one down to 1 x 1 unless --levels. "
    "Its header takes the platform, filtering and addressing of the dictionary's first texture (of an empty "
    "dictionary: the platform its library stamp implies, filtering and addressing 0x1106). The dictionary is "
    "rewritten with every other byte kept and written as one transaction: the entry keeps its place where it "
    "still fits, else it moves after the data; a .txd file changes length. Refused, changing nothing, for a "
    "dictionary without sections, a name taken already (ignoring letter case), and the limits of a texture.",
    {{"ARCHIVE", kArchiveHelp}, {"ENTRY", kEntryHelp}, {"PICTURE", "The picture file to add."}},
    addAddTextureOptions,
    runAddTexture,
};

const ToolCommand kRemoveTextureCommand{
    "remove-texture",
    "Remove textures from a sectioned dictionary.",
    "Removes each TEXTURE (named as it is listed before the command) from the dictionary ENTRY; the "
    "dictionary may become empty. Every other byte of the dictionary is kept; one transaction. An unknown "
    "TEXTURE and nothing is removed.",
    {{"ARCHIVE", kArchiveHelp}, {"ENTRY", kEntryHelp}, {"TEXTURE", kTextureHelp}},
    nullptr,
    runRemoveTexture,
    "[TEXTURE...]",
};

const ToolCommand kRenameTextureCommand{
    "rename-texture",
    "Rename a texture of a sectioned dictionary.",
    "TEXTURE of the dictionary ENTRY takes the name NEWNAME (and with --mask that mask name): 1 to 31 bytes in "
    "the names' code page (Windows-1250; a mask name may be empty), no control characters, unique in the "
    "dictionary ignoring letter case (a texture may take its own name in other letter case). Only the name "
    "fields change; one transaction.",
    {{"ARCHIVE", kArchiveHelp},
     {"ENTRY", kEntryHelp},
     {"TEXTURE", kTextureHelp},
     {"NEWNAME", "The texture's new name."}},
    addRenameTextureOptions,
    runRenameTexture,
};

const ToolCommand kNewTxdCommand{
    "new-txd",
    "Make a new sectioned dictionary of pictures.",
    "Writes OUT.txd, a new dictionary holding one texture per PICTURE (loaded with its alpha), in the order "
    "given, each named by the picture's base name without its extension, its layout chosen as add-texture "
    "chooses it unless --format, at the picture's own size unless --size (every picture resampled to it), "
    "with its full mip chain. Platform 9 (the default) or 8 (--platform): every section carries the library "
    "stamp of the platform's library, filtering and addressing are 0x1106. The file is written under a "
    "temporary name and put in place when complete; an existing file is never replaced.",
    {{"OUT.txd", "The dictionary to make."}, {"PICTURE", "A picture file to make a texture of."}},
    addNewTxdOptions,
    runNewTxd,
    "[PICTURE...]",
};
