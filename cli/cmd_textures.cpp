// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool textures / export / export-all: the texture list of a
// dictionary entry and its textures as TGA (or PNG), through the same reader
// and the same texture-to-TGA conversion as the app's texture grid, preview
// and "Save as TGA".
#include "cli/commands.h"

#include "archive/entry_extract.h"
#include "cli/progress.h"
#include "cli/texture_options.h"

#include "archive/archive.h"
#include "formats/archive_directory.h"
#include "formats/texture_dictionary.h"
#include "imaging/picture_registry.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "texture/archive_dictionary.h"
#include "texture/dictionary_changes.h"
#include "texture/texture_batch.h"
#include "texture/texture_build.h"
#include "texture/texture_files.h"
#include "texture/texture_import.h"
#include "texture/texture_tga.h"

#include <cstdio>
#include <memory>

namespace {

const DirectoryEntry& entryOf(const ArchiveContents& archive, const std::string& archivePath, const std::string& which)
{
    const DirectoryEntry* e = findEntry(archive.entries, which);
    if (!e)
        throw Exception("No entry '" + escapeControlCharacters(which) + "' in " + escapeControlCharacters(archivePath));
    return *e;
}

// The entry's texture list, fenced to the entry's bytes (a standalone
// dictionary: the whole file).
TextureListing listingOf(const ArchiveContents& archive, const DirectoryEntry& entry)
{
    TFileStream file(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    return readEntryTextures(file, entry, archive.standalone);
}

// ---- textures ----

const QCommandLineOption kLongOption("long", "Also print Format, Levels, Alpha (yes/no) and Platform.");

void addTexturesOptions(QCommandLineParser& parser)
{
    parser.addOption(kLongOption);
}

int runTextures(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    const bool longList = parser.isSet(kLongOption);
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    const DirectoryEntry& entry = entryOf(archive, args[0], args[1]);
    std::string out = "Pos\tName\tDesc\tSize\tType\tDimensions\tImagePos";
    out += longList ? "\tFormat\tLevels\tAlpha\tPlatform\n" : "\n";
    if (entryIsTextureDictionary(entry.name)) {
        for (const TextureRow& r : listingOf(archive, entry).rows) {
            out += std::to_string(r.pos) + "\t" + displayName(r.name) + "\t" + displayName(r.maskName) + "\t";
            out += (r.hasData ? std::to_string(r.dataSize) : "") + "\t" + r.type + "\t" + r.dimensions() + "\t";
            out += r.hasData ? std::to_string(r.imagePos) : "";
            if (longList) {
                const TexelLayout layout = textureRowLayout(r);
                out += std::string("\t") + texelFormatName(layout.format) + "\t";
                out += r.hasData ? std::to_string(layout.levels) + "\t" + (texelLayoutHasAlpha(layout) ? "yes" : "no")
                                 : "\t";
                out += '\t';
                if (r.sectioned)
                    out += std::to_string(r.platform);
            }
            out += "\n";
        }
    }
    writeOut(out);
    return 0;
}

// ---- export ----

const TextureRow& textureOf(const TextureListing& listing, const DirectoryEntry& entry, const std::string& which)
{
    if (const TextureRow* row = findByPosOrName(listing.rows, which))
        return *row;
    throw Exception("No texture '" + escapeControlCharacters(which) + "' in entry '" + displayName(entry.name) + "'");
}

int runExport(const QCommandLineParser&, const std::vector<std::string>& args)
{
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    const DirectoryEntry& entry = entryOf(archive, args[0], args[1]);
    if (!entryIsTextureDictionary(entry.name))
        throw Exception("Entry '" + displayName(entry.name) + "' is not a texture dictionary");
    const TextureListing listing = listingOf(archive, entry);
    const TextureRow& row = textureOf(listing, entry, args[2]);
    ArchiveOwnFiles(args[0], archive).check(args[3]);
    exportTextureTga(archive.dataFile, textureRefOf(row), args[3]);
    return 0;
}

// ---- import ----

const QCommandLineOption
    kExactOption("exact",
                 "A picture that already has the texture's size is not resampled; over an 8-bit paletted texture, "
                 "a picture of at most 256 colours keeps exactly its colours (its own palette, no dithering).");

void addImportOptions(QCommandLineParser& parser)
{
    parser.addOption(kExactOption);
    parser.addOption(kTextureSizeOption);
    parser.addOption(kPictureSizeOption);
    parser.addOption(kLayoutOption);
    parser.addOption(kLevelsOption);
    parser.addOption(kDxtOption);
}

// An import with a new size, layout or mip chain over a texture of a
// sectioned dictionary: the texture's content is made again from the
// picture and the dictionary rewritten as one transaction.
int runRebuildingImport(const QCommandLineParser& parser, const TextureChoices& choices,
                        const std::vector<std::string>& args)
{
    ArchiveEditor editor(args[0]);
    reportRecovery(editor.recovery(), args[0]);
    const DirectoryEntry entry = dictionaryEntryOf(editor, args[1]);
    HeldDictionary held = readHeldDictionary(editor, entry);
    const int index = textureIndexOf(held.tree, entry, args[2]);
    checkTextureReplaceable(held.tree, index);
    const DictionaryTexture& texture = held.tree.texture(index);
    const std::string name = texture.name();

    TextureBuildRequest request;
    // The texture's own size unless another is asked for; the picture's
    // own (not resampled) with --picture-size.
    if (!choices.pictureSize)
        request.size = choices.size.value_or(QSize(texture.width(), texture.height()));
    request.format = choices.format.value_or(texture.layout.format);
    request.levels = choices.levels.value_or(LevelsChoice{});
    request.previousLevels = texture.layout.levels;
    request.platform = texture.platform();
    request.exact = parser.isSet(kExactOption);
    request.dxt = choices.dxt;
    LoadedPicture loaded = loadPictureForTexture(args[3], layoutUsesAlpha(*request.format));
    TextureContent content = buildTextureContent(*loaded.picture, std::move(loaded.alpha), request);
    loaded.picture.reset();
    const TexelLayout layout = content.layout;
    const DirectoryEntry after = writeImportedTexture(editor, held, index, std::move(content));
    return editDone("1 texture imported into " + quotedName(entry.name) + ": " + quotedName(name) + ", "
                    + contentText(layout) + movedText(entry, after));
}

int runImport(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    TextureChoices choices;
    std::string problem;
    if (!readTextureChoices(parser, true, true, choices, problem))
        return usageError(kImportCommand, problem);
    if (choices.size || choices.pictureSize || choices.format || choices.levels)
        return runRebuildingImport(parser, choices, args);
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    const DirectoryEntry& entry = entryOf(archive, args[0], args[1]);
    if (!entryIsTextureDictionary(entry.name))
        throw Exception("Entry '" + displayName(entry.name) + "' is not a texture dictionary");
    const TextureListing listing = listingOf(archive, entry);
    std::unique_ptr<TDibGraphic> picture;
    bool refused = false;
    ImportDriver driver;
    driver.refuseSixteenBit = [&refused] {
        std::fprintf(stderr, "%s\n", kSixteenBitRefusal);
        refused = true;
    };
    driver.choosePicture = [&args] { return std::optional<std::string>(args[3]); };
    driver.loadPicture = [&picture](const std::string& file, bool keepAlpha) -> TDibGraphic& {
        picture = LoadPictureFromFile(file, 1, keepAlpha);
        return *picture;
    };
    driver.releasePicture = [&picture] { picture.reset(); };
    ImportOptions options;
    options.exact = parser.isSet(kExactOption);
    options.dxt = choices.dxt;
    const PreparedImport prepared =
        prepareImport(archive.dataFile, textureRefOf(textureOf(listing, entry, args[2])), driver, options);
    if (refused || !prepared.ready)
        return 1;
    reportRecovery(commitImport(args[0], prepared), args[0]);
    return 0;
}

// ---- export-all ----

const QCommandLineOption kPngOption("png", "Write PNG files instead of TGA (the same pixels, alpha kept).");

void addExportAllOptions(QCommandLineParser& parser)
{
    parser.addOption(kPngOption);
}

int runExportAll(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    ExportAllOptions options;
    options.png = parser.isSet(kPngOption);
    std::unique_ptr<ProgressLine> progress;
    options.progress = [&progress](int64_t done, int64_t total, const std::string& current) {
        if (!progress)
            progress = std::make_unique<ProgressLine>(total, "textures written");
        progress->show(done, current);
    };
    const ExportAllSummary summary = exportAllTextures(args[0], archive, args[1], options);
    progress.reset();
    std::fprintf(stderr, "%s\n", exportAllSummaryText(summary).c_str());
    return summary.stopped.empty() ? 0 : 1;
}

// ---- import-all ----

const QCommandLineOption kVerboseOption("verbose",
                                        "Name each texture skipped (its picture, or the picture it lacks, and why) "
                                        "and each picture and folder that matches no texture or dictionary, one "
                                        "line each before the summary.");

void addImportAllOptions(QCommandLineParser& parser)
{
    parser.addOption(kExactOption);
    parser.addOption(kPictureSizeOption);
    parser.addOption(kDxtOption);
    parser.addOption(kVerboseOption);
}

// What a signal that ends import-all says after how far it got.
std::string importAllInterrupted(int64_t imported)
{
    return "interrupted; " + counted(imported, "texture", "textures")
           + " imported and kept, the rest left as they were";
}

int runImportAll(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    ImportAllOptions options;
    std::string problem;
    if (!readDxtChoice(parser, options.dxt, problem))
        return usageError(kImportAllCommand, problem);
    options.exact = parser.isSet(kExactOption);
    options.pictureSize = parser.isSet(kPictureSizeOption);
    checkImportFolder(args[1]);
    // The archive is held for the whole run: nobody else writes it meanwhile.
    ArchiveEditor editor(args[0]);
    reportRecovery(editor.recovery(), args[0]);
    std::unique_ptr<ProgressLine> progress;
    options.progress = [&progress](int64_t done, int64_t total, const std::string& current) {
        if (!progress)
            progress = std::make_unique<ProgressLine>(total, "pictures gone through", importAllInterrupted(0));
        progress->show(done, current);
    };
    // After each batch, the textures a signal would leave imported.
    const auto committed = [&progress](const ImportAllSummary& sofar) {
        if (progress)
            progress->setAfterwards(importAllInterrupted(sofar.imported));
    };
    const ImportAllSummary summary = importAllTextures(editor, args[1], options, committed);
    progress.reset();
    if (parser.isSet(kVerboseOption))
        for (const std::string& line : importAllNoteLines(summary))
            std::fprintf(stderr, "%s\n", line.c_str());
    std::fprintf(stderr, "%s\n", importAllSummaryText(summary).c_str());
    return summary.stopped.empty() && summary.failed == 0 ? 0 : 1;
}

}  // namespace

const ToolCommand kTexturesCommand{
    "textures",
    "List the textures of a dictionary entry.",
    "Prints the texture list the app's texture grid shows for ENTRY: a header line "
    "'Pos Name Desc Size Type Dimensions ImagePos' and one line per texture in dictionary order, "
    "tab-separated. Fields a texture does not have (an unknown kind, a damaged dictionary, data past the end "
    "of the entry) print empty. Control characters in names are escaped (\\t, \\n, \\x1b, ...; a backslash "
    "as \\\\). An entry that is not a texture dictionary prints the header alone. With --long, four more columns: "
    "Format (P8, 8888, 888, 1555, 555, 565, 4444, LUM8, DXT1, DXT3, DXT5), Levels, Alpha (yes or no) and "
    "Platform (the header platform of a sectioned dictionary's texture, empty otherwise).",
    {{"ARCHIVE", "The .dir file (data in the .img beside it) or a .txd file."},
     {"ENTRY", "The entry's Pos number or its exact name; a .txd has the single entry 1."}},
    addTexturesOptions,
    runTextures,
};

const ToolCommand kExportCommand{
    "export",
    "Export one texture as TGA, byte for byte what \"Save as TGA\" writes.",
    "Writes TEXTURE of the dictionary ENTRY to OUT.tga, exactly the file the app's \"Save as TGA\" "
    "writes. The file is built in memory and written under a temporary name that is renamed over OUT.tga "
    "when complete. A texture without usable data is refused and nothing is written.",
    {{"ARCHIVE", "The .dir file (data in the .img beside it) or a .txd file."},
     {"ENTRY", "The dictionary entry's Pos number or its exact name; a .txd has the single entry 1."},
     {"TEXTURE", "The texture's Pos number in its dictionary or its exact name."},
     {"OUT.tga", "The file to write (replaced when it exists)."}},
    nullptr,
    runExport,
};

const ToolCommand kExportAllCommand{
    "export-all",
    "Export every texture of every dictionary of an archive.",
    "Writes every texture of every texture dictionary of ARCHIVE as OUTDIR/<entry name>/<texture name>.tga "
    "(or .png with --png). Names are made safe for the file system; names that clash (ignoring case) are "
    "numbered name_2, name_3, ... Textures without usable data are skipped. Symbolic links inside OUTDIR are "
    "never followed (one in the way stops the run). Progress goes to stderr when it is a terminal; a summary "
    "line ends the run, also one that stops on an error.",
    {{"ARCHIVE", "The .dir file (data in the .img beside it) or a .txd file."},
     {"OUTDIR", "The folder to write into; made when missing."}},
    addExportAllOptions,
    runExportAll,
};

const ToolCommand kImportCommand{
    "import",
    "Import a picture over a texture: in place as \"Import Texture\" does once confirmed, or at a new size, layout "
    "or mip chain.",
    "Loads PICTURE (TGA, BMP, PCX, DCX, ICO, WMF, EMF, PNG, JPEG or TIFF), resamples it to the texture's "
    "size (cubic B-spline), reduces it to the texture's format (256 colours with an optimised palette and "
    "dithering, or true colour) and writes it over TEXTURE's palette, data size and texels in the archive's "
    "data file: exactly the bytes the app writes, at the texture's place, and nothing else. The file's length "
    "never changes. The bytes replaced are first kept in a journal beside the data file (or in "
    "$XDG_STATE_HOME/quarnix/), so an import cut off at any moment is undone by the next command or Open; "
    "the new bytes are flushed and read back, and the old ones written back if anything fails. "
    "What is imported over what: over a texture of a sectioned dictionary every layout listed (16-bit, 24-bit, "
    "grey, 8-bit paletted, DXT1/3/5, with mip levels or without), level 0 from the picture and the mip levels "
    "rebuilt from it; over a texture of a dictionary without sections, its 32-bit and 8-bit paletted textures "
    "only: the 16-bit textures of such a dictionary are refused. Textures whose stored size does not match "
    "their dimensions, and sectioned textures smaller than 2 x 2, are refused too. DXT levels are encoded as "
    "--dxt says. "
    "With --size, --picture-size, --format or --levels, over a texture of a sectioned dictionary, the texture is "
    "made again instead: at that size (the picture resampled to it; with --picture-size the picture's own, not "
    "resampled; by default the texture's own), in that layout (by default its own; DXT1 takes its 1-bit alpha "
    "where a pixel of the picture has alpha below 128), with that many mip levels (by default the full chain "
    "down to 1 x 1 where the texture had more than one level, else one), each level the rounded mean of the "
    "2 x 2 pixels above it and encoded on its own. The dictionary is rewritten with every other byte kept and "
    "written as one transaction: its entry keeps its place where it still fits, else it moves after the data; "
    "a .txd file changes length. A dictionary without sections keeps its textures' size and layout: the new "
    "options are refused for it.",
    {{"ARCHIVE", "The .dir file (data in the .img beside it), a VER2 .img or a .txd file."},
     {"ENTRY", "The dictionary entry's Pos number or its exact name; a .txd has the single entry 1."},
     {"TEXTURE", "The texture's Pos number in its dictionary or its exact name."},
     {"PICTURE", "The picture file to import."}},
    addImportOptions,
    runImport,
};

const ToolCommand kImportAllCommand{
    "import-all",
    "Import every picture of a folder written by export-all back over its texture.",
    "The reverse of export-all: for every texture of every dictionary of ARCHIVE, the picture "
    "DIR/<entry name>/<texture name>.<png|tga|...> named by export-all's rules (names made safe for the file "
    "system, clashes numbered name_2, ...) is imported over it in place, as import does. The archive is held "
    "for the whole run; each dictionary's textures are written as one transaction (in batches of at most 64 MiB), "
    "so a run cut off at any moment leaves every texture old or new, and one undo takes the whole run back. A picture "
    "whose pixels equal what export writes for the texture now is left alone, so "
    "an unedited export writes nothing. With --picture-size, a picture whose size differs from its texture's "
    "makes the texture again at the picture's size (not resampled), in the texture's layout, with the full mip "
    "chain where it had levels; the textures of a dictionary that change size are written with the rest of its "
    "batch as one rewrite of the dictionary (its entry moves after the data where it no longer fits). A DXT "
    "texture whose picture's sides are not divisible by 4 is skipped and its picture named in the summary; a "
    "texture of a dictionary without sections keeps its size and is skipped too. The pictures are read, prepared "
    "and encoded several at once on every core; the bytes written do not depend on how many. Progress goes to "
    "stderr when it is a terminal (count and percentage); Ctrl+C ends the run saying how far it got: the batches "
    "committed stay and nothing of the rest is written (a batch being committed is finished first; one cut off "
    "by a kill is undone by its journal). A summary line (imported, unchanged, skipped with "
    "the reason, and how many pictures match no texture and folders no dictionary) ends the run, which exits 1 "
    "when any import failed; --verbose names each of those first, one line each.",
    {{"ARCHIVE", "The .dir file (data in the .img beside it) or a .txd file."},
     {"DIR", "The folder export-all wrote (the same layout)."}},
    addImportAllOptions,
    runImportAll,
};
