// quarnix-tool textures / export / export-all: the texture list of a
// dictionary entry and its textures as TGA (or PNG), through the same reader
// and the same texture-to-TGA conversion as the app's texture grid, preview
// and "Save as TGA".
#include "cli/commands.h"

#include "cli/archive_guard.h"

#include "formats/archive_directory.h"
#include "formats/texture_dictionary.h"
#include "imaging/picture_registry.h"
#include "imaging/png_writer.h"
#include "platform/exceptions.h"
#include "platform/file_names.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "platform/write_journal.h"
#include "imaging/import_pipeline.h"
#include "texture/texture_import.h"
#include "texture/texture_tga.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <unistd.h>

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
TextureListing listingOf(const ArchiveContents& archive, TStream& data, const DirectoryEntry& entry)
{
    const int64_t fileSize = data.Size();
    return readTextureDictionary(data, entry.offset, archive.standalone ? fileSize : entryEnd(entry, fileSize));
}

TextureListing listingOf(const ArchiveContents& archive, const DirectoryEntry& entry)
{
    TFileStream file(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    return listingOf(archive, file, entry);
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
    const ArchiveContents archive = openArchive(args[0]);
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
                out += "\t" + (r.sectioned ? std::to_string(r.platform) : std::string());
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
    const ArchiveContents archive = openArchive(args[0]);
    const DirectoryEntry& entry = entryOf(archive, args[0], args[1]);
    if (!entryIsTextureDictionary(entry.name))
        throw Exception("Entry '" + displayName(entry.name) + "' is not a texture dictionary");
    const TextureListing listing = listingOf(archive, entry);
    const TextureRow& row = textureOf(listing, entry, args[2]);
    ArchiveGuard(args[0], archive).check(args[3]);
    exportTextureTga(archive.dataFile, textureRefOf(row), args[3]);
    return 0;
}

// ---- import ----

int runImport(const QCommandLineParser&, const std::vector<std::string>& args)
{
    const ArchiveContents archive = openArchive(args[0]);
    const DirectoryEntry& entry = entryOf(archive, args[0], args[1]);
    if (!entryIsTextureDictionary(entry.name))
        throw Exception("Entry '" + displayName(entry.name) + "' is not a texture dictionary");
    const TextureListing listing = listingOf(archive, entry);
    const TextureRef texture = textureRefOf(textureOf(listing, entry, args[2]));
    if (texture.bits == 16) {
        std::fprintf(stderr, "%s\n", kSixteenBitRefusal);
        return 1;
    }
    checkImportTarget(archive.dataFile, texture);
    std::unique_ptr<TDibGraphic> picture = LoadPictureFromFile(args[3], 1);
    PrepareImportPicture(*picture, importPictureSize(texture), importPictureFormat(texture));
    const std::vector<uint8_t> block = buildImportBlock(*picture, texture);
    picture.reset();  // not needed while the block is written
    const JournalRecovery earlier = writeImportBlockToFile(archive.dataFile, texture, block);
    if (earlier.restored)
        std::fprintf(stderr, "%s\n", earlier.message().c_str());
    return 0;
}

// ---- export-all ----

const QCommandLineOption kPngOption("png", "Write PNG files instead of TGA (the same pixels, alpha kept).");

void addExportAllOptions(QCommandLineParser& parser)
{
    parser.addOption(kPngOption);
}

// The same pixels as the TGA, as PNG: 32-bit TGAs (paletted and 32-bit
// textures) keep their alpha; 16-bit ones go through the TGA decoder.
// Empty when the texel data is shorter than its dimensions promise.
std::vector<uint8_t> pngOfTga(const std::vector<uint8_t>& tga, const TextureRef& texture)
{
    PngRows rows;
    std::unique_ptr<TDibGraphic> picture;
    if (tga[16] == 32) {
        const int64_t pixels = int64_t(texture.width) * texture.height;
        if (pixels == 0 || int64_t(tga.size() - 18) / 4 < pixels)
            return {};
        rows.width = texture.width;
        rows.height = texture.height;
        rows.alpha = true;
        // The TGA's first row is the top one; B, G, R, A become R, G, B, A.
        rows.row = [&tga, &texture](int y, uint8_t* out) {
            const uint8_t* in = tga.data() + 18 + int64_t(y) * texture.width * 4;
            for (int x = 0; x < texture.width; ++x, in += 4, out += 4) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = in[3];
            }
        };
    } else {
        TReadOnlyMemoryStream s(tga.data(), int64_t(tga.size()));
        try {
            picture = LoadPictureFromStream(s, "TGA", 1);
        } catch (const Exception&) {
            return {};
        }
        rows.width = picture->Width();
        rows.height = picture->Height();
        rows.row = [&picture, scratch = std::vector<uint8_t>(size_t(rows.width) * 3)](int y, uint8_t* out) mutable {
            const uint8_t* in = RowAsBgr(*picture, y, scratch);
            for (int x = 0; x < picture->Width(); ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
        };
    }
    return encodePng(rows);
}

struct ExportTally {
    int64_t written = 0;
    int64_t bytes = 0;
    std::map<std::string, int64_t> skipped;  // reason -> count
};

int runExportAll(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    const bool png = parser.isSet(kPngOption);
    const std::string extension = png ? ".png" : ".tga";
    const ArchiveContents archive = openArchive(args[0]);
    const OutputFolder out(args[1]);

    // One open of the data file for the whole run, locked against writers.
    TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    const ArchiveGuard guard(args[0], archive);
    // Every list is read first, so a run that stops can say how far it got.
    struct Dictionary {
        const DirectoryEntry* entry;
        TextureListing listing;
    };
    std::vector<Dictionary> dictionaries;
    int64_t textures = 0;
    for (const DirectoryEntry& e : archive.entries)
        if (entryIsTextureDictionary(e.name)) {
            dictionaries.push_back({&e, listingOf(archive, data, e)});
            textures += int64_t(dictionaries.back().listing.rows.size());
        }

    const bool progress = ::isatty(STDERR_FILENO) == 1;
    ExportTally tally;
    UniqueFileNames folders;
    int64_t done = 0;
    try {
        for (const Dictionary& d : dictionaries) {
            ++done;
            if (progress)
                std::fprintf(stderr, "\r\033[K[%" PRId64 "/%zu] %s", done, dictionaries.size(),
                             displayName(d.entry->name).c_str());
            if (d.listing.rows.empty())
                continue;
            const OutputFolder folder = out.subFolder(folders.take(safeFileName(d.entry->name), ""));
            UniqueFileNames files;
            for (const TextureRow& row : d.listing.rows) {
                const TextureRef texture = textureRefOf(row);
                const TextureTga tga = buildTextureTga(data, texture);
                if (tga.problem != TextureProblem::None) {
                    ++tally.skipped[textureProblemMessage(tga.problem)];
                    continue;
                }
                std::vector<uint8_t> pngBytes;
                if (png) {
                    pngBytes = pngOfTga(tga.bytes, texture);
                    if (pngBytes.empty()) {
                        ++tally.skipped["texel data shorter than the texture's dimensions"];
                        continue;
                    }
                }
                const std::vector<uint8_t>& bytes = png ? pngBytes : tga.bytes;
                const std::string name = files.take(safeFileName(row.name), extension);
                if (!folder.madeNow())  // a folder made just now holds no file of the archive
                    guard.check(folder.pathOf(name));
                // Flushed once for the whole run below, not file by file.
                folder.writeFile(name, bytes, FileSync::Deferred);
                ++tally.written;
                tally.bytes += int64_t(bytes.size());
            }
        }
        if (progress)
            std::fputs("\r\033[K", stderr);
        out.syncFileSystem();
    } catch (const Exception& e) {
        if (progress)
            std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "%" PRId64 " of %s written; stopped: %s\n", tally.written,
                     counted(textures, "texture", "textures").c_str(), e.detail().c_str());
        return 1;
    }

    int64_t skipped = 0;
    std::string reasons;
    for (const auto& [reason, count] : tally.skipped) {
        skipped += count;
        reasons += (reasons.empty() ? " (" : "; ") + reason + ": " + std::to_string(count);
    }
    if (!reasons.empty())
        reasons += ")";
    std::fprintf(stderr, "%s written from %s to %s, %" PRId64 " skipped%s\n",
                 counted(tally.written, "texture", "textures").c_str(),
                 counted(int64_t(dictionaries.size()), "dictionary", "dictionaries").c_str(),
                 escapeControlCharacters(out.path()).c_str(), skipped, reasons.c_str());
    return 0;
}

} // namespace

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
    "Import a picture over a texture, in place, as \"Import Texture\" does once confirmed.",
    "Loads PICTURE (TGA, BMP, PCX, DCX, ICO, WMF, EMF, PNG, JPEG or TIFF), resamples it to the texture's "
    "size (cubic B-spline), reduces it to the texture's format (256 colours with an optimised palette and "
    "dithering, or true colour) and writes it over TEXTURE's palette, data size and texels in the archive's "
    "data file: exactly the bytes the app writes, at the texture's place, and nothing else. The file's length "
    "never changes. The bytes replaced are first kept in a journal beside the data file (or in "
    "$XDG_STATE_HOME/quarnix/), so an import cut off at any moment is undone by the next command or Open; "
    "the new bytes are flushed and read back, and the old ones written back if anything fails. "
    "16-bit textures, and textures whose stored size does not match their dimensions, are refused.",
    {{"ARCHIVE", "The .dir file (data in the .img beside it) or a .txd file."},
     {"ENTRY", "The dictionary entry's Pos number or its exact name; a .txd has the single entry 1."},
     {"TEXTURE", "The texture's Pos number in its dictionary or its exact name."},
     {"PICTURE", "The picture file to import."}},
    nullptr,
    runImport,
};
