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
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "imaging/png_writer.h"
#include "platform/exceptions.h"
#include "platform/file_names.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "texture/archive_dictionary.h"
#include "texture/dictionary_changes.h"
#include "texture/texture_build.h"
#include "texture/texture_files.h"
#include "texture/texture_import.h"
#include "texture/texture_tga.h"

#include <QDir>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <deque>
#include <future>
#include <map>
#include <system_error>
#include <thread>
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

// " (reason: n; reason: n)" for a summary line, "" when nothing was
// skipped; `total` becomes the number skipped.
std::string skippedReasons(const std::map<std::string, int64_t>& skipped, int64_t& total)
{
    std::string reasons;
    total = 0;
    for (const auto& [reason, count] : skipped) {
        total += count;
        reasons += (reasons.empty() ? " (" : "; ") + reason + ": " + std::to_string(count);
    }
    return reasons.empty() ? reasons : reasons + ")";
}

struct ExportTally {
    int64_t written = 0;
    int64_t bytes = 0;
    std::map<std::string, int64_t> skipped;  // reason -> count
};

// A texture whose PNG is being encoded while earlier ones are written.
struct PendingPng {
    size_t index;  // of the texture in its dictionary
    int64_t tgaBytes;
    std::future<std::vector<uint8_t>> png;
};

// Pixels handed to the PNG workers at once, unless a single texture is
// larger: then it is encoded alone.
constexpr int64_t kPngBytesInFlight = int64_t(32) << 20;

int runExportAll(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    const bool png = parser.isSet(kPngOption);
    const std::string extension = png ? ".png" : ".tga";
    const ArchiveContents archive = openArchiveForCommand(args[0]);
    const OutputFolder out(args[1]);

    // One open of the data file for the whole run, locked against writers.
    TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    const ArchiveOwnFiles guard(args[0], archive);
    // Every list is read and every name settled first, so a run that stops
    // can say how far it got.
    const TextureFilePlan plan = planTextureFiles(archive, data, extension);

    ProgressLine progress(plan.textures, "textures written");
    const size_t pngWorkers = std::max(1u, std::thread::hardware_concurrency());
    ExportTally tally;
    try {
        for (const TextureFilePlan::Dictionary& d : plan.dictionaries) {
            if (d.listing.rows.empty())
                continue;
            const OutputFolder folder = out.subFolder(d.folder);
            // Files are written in the dictionary's order, each as soon as
            // its bytes are ready, under the name the plan gave its texture.
            const auto writeTexture = [&](size_t index, const std::vector<uint8_t>& bytes) {
                if (bytes.empty()) {
                    ++tally.skipped["texel data shorter than the texture's dimensions"];
                    return;
                }
                const std::string& name = d.files[index];
                if (!folder.madeNow())  // a folder made just now holds no file of the archive
                    guard.check(folder.pathOf(name));
                // Flushed once for the whole run below, not file by file.
                folder.writeFile(name, bytes, FileSync::Deferred);
                ++tally.written;
                tally.bytes += int64_t(bytes.size());
                progress.show(tally.written, displayName(d.entry->name));
            };
            // PNGs are encoded on worker threads, a few textures ahead of the
            // writing, and within a bound on the pixels held in flight.
            std::deque<PendingPng> pending;
            int64_t pendingBytes = 0;
            const auto writeOldest = [&] {
                PendingPng p = std::move(pending.front());
                pending.pop_front();
                pendingBytes -= p.tgaBytes;
                writeTexture(p.index, p.png.get());
            };
            for (size_t index = 0; index < d.listing.rows.size(); ++index) {
                const TextureRef texture = textureRefOf(d.listing.rows[index]);
                TextureTga tga = buildTextureTga(data, texture);
                if (tga.problem != TextureProblem::None) {
                    ++tally.skipped[textureProblemMessage(tga.problem)];
                    continue;
                }
                if (!png) {
                    writeTexture(index, tga.bytes);
                    continue;
                }
                const int64_t bytes = int64_t(tga.bytes.size());
                while (!pending.empty() && (pending.size() >= pngWorkers || pendingBytes + bytes > kPngBytesInFlight))
                    writeOldest();
                auto encode = [tga = std::move(tga.bytes), texture]() mutable {
                    return pngOfTextureTga(std::move(tga), texture);
                };
                std::future<std::vector<uint8_t>> encoded;
                try {
                    encoded = std::async(std::launch::async, std::move(encode));
                } catch (const std::system_error&) {
                    // No thread to be had: encoded here, when it is written.
                    encoded = std::async(std::launch::deferred, std::move(encode));
                }
                pending.push_back({index, bytes, std::move(encoded)});
                pendingBytes += bytes;
            }
            while (!pending.empty())
                writeOldest();
        }
        progress.clear();
        out.syncFileSystem();
    } catch (const Exception& e) {
        progress.clear();
        std::fprintf(stderr, "%" PRId64 " of %s written; stopped: %s\n", tally.written,
                     counted(plan.textures, "texture", "textures").c_str(), e.detail().c_str());
        return 1;
    }

    int64_t skipped = 0;
    const std::string reasons = skippedReasons(tally.skipped, skipped);
    std::fprintf(stderr, "%s written from %s to %s, %" PRId64 " skipped%s\n",
                 counted(tally.written, "texture", "textures").c_str(),
                 counted(int64_t(plan.dictionaries.size()), "dictionary", "dictionaries").c_str(),
                 escapeControlCharacters(out.path()).c_str(), skipped, reasons.c_str());
    return 0;
}

// ---- import-all ----

void addImportAllOptions(QCommandLineParser& parser)
{
    parser.addOption(kExactOption);
    parser.addOption(kPictureSizeOption);
}

// The pictures of a folder by their name without its extension (the last
// "." on), preferring PNG, then TGA, then any other. Hidden files count: a
// texture named ".glow" is exported as ".glow.png".
std::map<std::string, std::string> picturesByStem(const std::string& folder)
{
    std::map<std::string, std::string> byStem;
    std::map<std::string, int> rank;
    const QDir dir(QString::fromStdString(folder));
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const std::string file = name.toStdString();
        const size_t dot = file.find_last_of('.');
        if (dot == std::string::npos || dot == 0)
            continue;
        const std::string stem = file.substr(0, dot);
        const QString ext = name.mid(int(dot) + 1).toLower();
        const int r = ext == "png" ? 0 : ext == "tga" ? 1 : 2;
        const auto it = rank.find(stem);
        if (it == rank.end() || r < it->second) {
            rank[stem] = r;
            byStem[stem] = folder + "/" + file;
        }
    }
    return byStem;
}

struct ImportTally {
    int64_t imported = 0;
    int64_t unchanged = 0;
    int64_t failed = 0;
    std::map<std::string, int64_t> skipped;  // reason -> count
};

// New bytes a batch of import-all holds before it is committed: every
// dictionary is committed on its own, in batches of at most this much.
constexpr int64_t kImportBatchBytes = int64_t(64) << 20;

int runImportAll(const QCommandLineParser& parser, const std::vector<std::string>& args)
{
    const std::string& inDir = args[1];
    if (!QDir(QString::fromStdString(inDir)).exists())
        throw Exception("No folder " + escapeControlCharacters(inDir));
    const bool pictureSize = parser.isSet(kPictureSizeOption);
    // The archive is held for the whole run: nobody else writes it meanwhile.
    ArchiveEditor editor(args[0]);
    reportRecovery(editor.recovery(), args[0]);
    TStream& data = editor.data();
    ImportOptions options;
    options.exact = parser.isSet(kExactOption);
    options.archive = &data;

    // The pictures export-all wrote, texture by texture, found by the names
    // of export-all's own plan.
    struct Planned {
        TextureRef texture;
        int index;          // in its dictionary, 0 first
        uint32_t platform;  // of a sectioned texture's header
        std::string picture;
        size_t dictionary;
    };
    std::vector<Planned> plan;
    ImportTally tally;
    const std::string extension = ".png";
    const TextureFilePlan files = planTextureFiles(editor.contents(), data, extension);
    // The dictionary entries as planned: the plan points into the archive's
    // entries, which every commit reads again.
    std::vector<DirectoryEntry> entries;
    for (size_t k = 0; k < files.dictionaries.size(); ++k) {
        const TextureFilePlan::Dictionary& d = files.dictionaries[k];
        entries.push_back(*d.entry);
        if (d.listing.rows.empty())
            continue;
        const std::map<std::string, std::string> pictures = picturesByStem(inDir + "/" + d.folder);
        for (size_t i = 0; i < d.listing.rows.size(); ++i) {
            const auto it = pictures.find(plannedStem(d.files[i], extension));
            if (it == pictures.end()) {
                ++tally.skipped["no picture"];
                continue;
            }
            // A texture the import cannot write over (no data, a stored
            // size its dimensions do not give, past the end of its entry)
            // is named and left alone before its picture is read; 16-bit
            // textures are compared first and refused only when edited.
            const TextureRow& row = d.listing.rows[i];
            const TextureRef texture = textureRefOf(row);
            const ImportRefusal refusal = importDataRefusal(data, texture);
            if (refusal != ImportRefusal::None && refusal != ImportRefusal::SixteenBit) {
                ++tally.skipped[importRefusalMessage(refusal)];
                continue;
            }
            plan.push_back({texture, int(row.pos - 1), row.platform, it->second, k});
        }
    }

    // Each batch is one transaction, all its textures or none; the batches
    // of the run are undone together.
    ChangeLabel label;
    label.description = "import-all of " + std::to_string(plan.size()) + " pictures from " + inDir;
    label.group = "import-all " + std::to_string(::time(nullptr)) + " " + std::to_string(::getpid());
    // The blocks written in place, waiting for their batch, and the textures
    // of the dictionary at hand that take a new size.
    struct Block {
        int64_t at;
        std::vector<uint8_t> bytes;
    };
    struct Resized {
        int index;
        TextureContent content;
    };
    std::vector<Block> batch;
    int64_t batchBytes = 0;
    std::vector<Resized> resized;
    const auto commitBatch = [&] {
        if (batch.empty())
            return;
        ChangeSet changes;
        for (Block& b : batch)
            changes.write(0, b.at, std::move(b.bytes));
        editor.commit(changes, label);
        tally.imported += int64_t(batch.size());
        batch.clear();
        batchBytes = 0;
    };
    // The end of a dictionary's textures: where some take a new size, the
    // dictionary is rewritten once with all of them and with the blocks of
    // its batch, as one transaction; otherwise the batch is committed.
    const auto finishDictionary = [&](size_t k) {
        if (resized.empty()) {
            commitBatch();
            return;
        }
        std::vector<Resized> textures = std::move(resized);
        resized.clear();
        HeldDictionary held;
        try {
            std::vector<uint8_t> bytes = readEntryBytes(editor, entries[k]);
            for (const Block& b : batch) {
                const int64_t at = b.at - entries[k].offset;
                if (at < 0 || at + int64_t(b.bytes.size()) > int64_t(bytes.size()))
                    throw EImportError("A texture lies outside its dictionary's entry");
                std::copy(b.bytes.begin(), b.bytes.end(), bytes.begin() + std::ptrdiff_t(at));
            }
            held = holdDictionary(entries[k], std::move(bytes), editor.contents().standalone);
        } catch (const EWriteError&) {
            throw;
        } catch (const Exception& e) {
            // The dictionary cannot be rewritten: its textures that keep
            // their size are written in place all the same.
            tally.failed += int64_t(textures.size());
            tally.skipped[e.message()] += int64_t(textures.size());
            commitBatch();
            return;
        }
        int64_t replaced = 0;
        for (Resized& r : textures) {
            try {
                replaceTextureContent(held.tree, r.index, std::move(r.content));
                ++replaced;
            } catch (const EDictionaryError& e) {
                ++tally.failed;
                ++tally.skipped[e.message()];
            }
        }
        if (replaced == 0) {
            commitBatch();
            return;
        }
        writeHeldDictionary(editor, held, label);
        tally.imported += int64_t(batch.size()) + replaced;
        batch.clear();
        batchBytes = 0;
    };

    const bool progress = ::isatty(STDERR_FILENO) == 1;
    int64_t done = 0;
    // Pictures of another size over DXT textures whose sides are not
    // divisible by 4, named in the summary.
    std::vector<std::string> notInBlocks;
    try {
        for (size_t n = 0; n < plan.size(); ++n) {
            const Planned& p = plan[n];
            if (n > 0 && plan[n - 1].dictionary != p.dictionary)
                finishDictionary(plan[n - 1].dictionary);
            else if (batchBytes >= kImportBatchBytes)
                commitBatch();
            ++done;
            if (progress)
                std::fprintf(stderr, "\r\033[K[%" PRId64 "/%zu] %s", done, plan.size(),
                             escapeControlCharacters(p.picture).c_str());
            try {
                std::unique_ptr<TDibGraphic> picture = LoadPictureFromFile(p.picture, 1, true);
                const bool sameSize = picture->Width() == p.texture.width && picture->Height() == p.texture.height;
                if (sameSize) {
                    // What export writes for the texture now, against the
                    // picture's own pixels: an unedited picture writes nothing.
                    const std::vector<uint8_t> current =
                        bgraOfTextureTga(buildTextureTga(data, p.texture).bytes, p.texture);
                    std::vector<uint8_t> alpha = picture->AlphaPlane;
                    if (pictureBgra(*picture, alpha) == current) {
                        ++tally.unchanged;
                        continue;
                    }
                }
                if (pictureSize && !sameSize) {
                    // The texture takes the picture's size, keeping its
                    // layout, with a full chain where it had levels.
                    if (!p.texture.sectioned) {
                        ++tally.failed;
                        ++tally.skipped["a picture of another size over a texture of a dictionary without "
                                        "sections, whose textures keep their size"];
                        continue;
                    }
                    const TexelFormat format = p.texture.layout.format;
                    if (texelFormatIsCompressed(format) && (picture->Width() % 4 != 0 || picture->Height() % 4 != 0)) {
                        ++tally.failed;
                        notInBlocks.push_back(p.picture.substr(inDir.size() + 1));
                        continue;
                    }
                    if (!layoutUsesAlpha(format))
                        picture = LoadPictureFromFile(p.picture, 1, false);  // the colour as ever without alpha
                    std::vector<uint8_t> alpha = std::move(picture->AlphaPlane);
                    picture->AlphaPlane.clear();
                    TextureBuildRequest request;
                    request.format = format;
                    request.previousLevels = p.texture.layout.levels;
                    request.platform = p.platform;
                    request.exact = options.exact;
                    TextureContent content = buildTextureContent(*picture, std::move(alpha), request);
                    resized.push_back({p.index, std::move(content)});
                    continue;
                }
                bool refused = false;
                ImportDriver driver;
                driver.refuseSixteenBit = [&refused] { refused = true; };
                driver.choosePicture = [&p] { return std::optional<std::string>(p.picture); };
                driver.loadPicture = [&picture, &p](const std::string&, bool keepAlpha) -> TDibGraphic& {
                    // The picture as read for the comparison, or without its
                    // alpha where the texture keeps none (the colour then as ever).
                    if (!keepAlpha)
                        picture = LoadPictureFromFile(p.picture, 1, false);
                    return *picture;
                };
                driver.releasePicture = [&picture] { picture.reset(); };
                const PreparedImport prepared = prepareImport(editor.contents().dataFile, p.texture, driver, options);
                if (refused) {
                    ++tally.failed;
                    ++tally.skipped[kSixteenBitRefusal];
                    continue;
                }
                std::vector<uint8_t> block = buildPreparedBlock(prepared);
                batchBytes += int64_t(block.size());
                batch.push_back({p.texture.imagePos, std::move(block)});
            } catch (const EWriteError&) {
                throw;
            } catch (const Exception& e) {
                ++tally.failed;
                ++tally.skipped[e.message()];
            }
        }
        if (!plan.empty())
            finishDictionary(plan.back().dictionary);
    } catch (const Exception& e) {
        // A batch that could not be written is not in the archive; the run stops.
        if (progress)
            std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "%s imported, %" PRId64 " unchanged; stopped: %s\n",
                     counted(tally.imported, "texture", "textures").c_str(), tally.unchanged, e.detail().c_str());
        return 1;
    }
    if (progress)
        std::fputs("\r\033[K", stderr);

    if (!notInBlocks.empty()) {
        std::string names;
        for (const std::string& name : notInBlocks)
            names += (names.empty() ? "" : ", ") + escapeControlCharacters(name);
        tally.skipped["a DXT layout needs a width and height divisible by 4 (" + names + ")"] +=
            int64_t(notInBlocks.size());
    }
    int64_t skipped = 0;
    const std::string reasons = skippedReasons(tally.skipped, skipped);
    std::fprintf(stderr, "%s imported, %" PRId64 " unchanged, %" PRId64 " skipped%s\n",
                 counted(tally.imported, "texture", "textures").c_str(), tally.unchanged, skipped, reasons.c_str());
    return tally.failed > 0 ? 1 : 0;
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
    "16-bit textures, and textures whose stored size does not match their dimensions, are refused. "
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
    "texture of a dictionary without sections keeps its size and is skipped too. Progress goes to stderr when it is a "
    "terminal; a summary line "
    "(imported, unchanged, skipped with the reason) ends the run, which exits 1 when any import failed.",
    {{"ARCHIVE", "The .dir file (data in the .img beside it) or a .txd file."},
     {"DIR", "The folder export-all wrote (the same layout)."}},
    addImportAllOptions,
    runImportAll,
};
