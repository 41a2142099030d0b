// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/texture_batch.h"

#include "archive/entry_extract.h"
#include "formats/texture_dictionary.h"
#include "imaging/picture_registry.h"
#include "platform/byte_order.h"
#include "platform/cancellation.h"
#include "platform/environment.h"
#include "platform/exceptions.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "platform/work_threads.h"
#include "texture/archive_dictionary.h"
#include "texture/dictionary_changes.h"
#include "texture/texture_build.h"
#include "texture/texture_files.h"
#include "texture/texture_import.h"
#include "texture/texture_tga.h"

#include <QDir>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// "1 texture", "2 textures", "0 textures".

int64_t sumOf(const std::map<std::string, int64_t>& counts)
{
    int64_t total = 0;
    for (const auto& [why, count] : counts)
        total += count;
    return total;
}

// " (why: n; why: n)", or "" when nothing was skipped.
std::string reasonsText(const std::map<std::string, int64_t>& skipped)
{
    std::string reasons;
    for (const auto& [why, count] : skipped)
        reasons += (reasons.empty() ? " (" : "; ") + why + ": " + std::to_string(count);
    return reasons.empty() ? reasons : reasons + ")";
}

// ---- export ----

// A texture whose PNG is being encoded while earlier ones are written.
struct PendingPng {
    size_t index;  // of the texture in its dictionary
    int64_t tgaBytes;
    std::future<std::vector<uint8_t>> png;
};

// Pixels handed to the PNG workers at once, unless a single texture is
// larger: then it is encoded alone.
constexpr int64_t kPngBytesInFlight = int64_t(32) << 20;

// ---- import ----

// The pictures of a folder by their name without its extension (the last
// "." on), preferring PNG, then TGA, then any other. Hidden files count: a
// texture named ".glow" is exported as ".glow.png". `pictureFiles` gets
// every file whose extension is a picture format's, by name.
std::map<std::string, std::string> picturesByStem(const std::string& folder, std::vector<std::string>* pictureFiles)
{
    std::map<std::string, std::string> byStem;
    std::map<std::string, int> rank;
    const QDir dir(QString::fromStdString(folder));
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const std::string file = name.toStdString();
        const size_t dot = file.find_last_of('.');
        if (dot == std::string::npos || dot == 0)
            continue;
        if (pictureFiles && FindPictureFormat(file))
            pictureFiles->push_back(file);
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

// A texture whose picture the run imports.
struct PlannedTexture {
    TextureRef texture;
    int index;          // in its dictionary, 0 first
    uint32_t platform;  // of a sectioned texture's header
    std::string picture;
    std::string relative;  // the picture's path in the folder ("city.txd/grass.png")
    size_t dictionary;     // in the plan's dictionaries
    size_t order;          // of the texture among every texture of the archive
};

// A texture's bytes as the archive holds them, read from the data file
// before its picture is prepared: positions are the data file's own, and
// nothing outside the bytes read can be read. The reads of the preparation
// (the texture's picture as export makes it, the import's checks) stay
// inside the texture's own bytes.
class TextureBytesStream : public TStream {
public:
    TextureBytesStream(const std::vector<uint8_t>& bytes, int64_t at, int64_t fileSize)
        : bytes_(bytes), at_(at), fileSize_(fileSize)
    {}
    int64_t Read(void* buffer, int64_t count) override
    {
        const int64_t from = pos_ - at_;
        if (count <= 0 || from < 0 || from >= int64_t(bytes_.size()))
            return 0;
        const int64_t n = std::min(count, int64_t(bytes_.size()) - from);
        std::memcpy(buffer, bytes_.data() + from, size_t(n));
        pos_ += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, SeekOrigin origin) override
    {
        const int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? pos_ : fileSize_;
        const int64_t target = base + offset;
        if (target >= 0)
            pos_ = target;
        return pos_;
    }
    int64_t Size() override { return fileSize_; }

private:
    const std::vector<uint8_t>& bytes_;
    int64_t at_, fileSize_;
    int64_t pos_ = 0;
};

bool readAt(TStream& s, int64_t offset, uint8_t* bytes, int64_t count)
{
    return s.Seek(offset, SeekOrigin::Begin) == offset && s.ReadFully(bytes, count) == count;
}

// The texture's bytes from its ImagePos: of a sectioned texture its palette
// and every level; of another its palette (when it has one), data size field
// and as many texel bytes as that field says; as far as the file goes.
std::vector<uint8_t> readTextureBytes(TStream& data, const TextureRef& texture, int64_t fileSize)
{
    int64_t count = 0;
    if (texture.sectioned) {
        count = importBlockSize(texture);
    } else {
        const int64_t palette = texture.paletted ? 1024 : 0;
        uint8_t field[4];
        int64_t stored = 0;
        if (readAt(data, texture.imagePos + palette, field, 4))
            stored = int32_t(readLe32(field));
        count = palette + 4 + std::max<int64_t>(stored, 0);
    }
    if (texture.imagePos < 0 || texture.imagePos >= fileSize)
        return {};
    count = std::min(count, fileSize - texture.imagePos);
    std::vector<uint8_t> bytes(size_t(std::max<int64_t>(count, 0)));
    if (!bytes.empty() && !readAt(data, texture.imagePos, bytes.data(), int64_t(bytes.size())))
        throw streamReadError();
    return bytes;
}

const char* const kSectionlessSize =
    "a picture of another size over a texture of a dictionary without sections, whose textures keep their size";

// What became of one texture's picture.
struct PreparedTexture {
    enum Outcome { Unchanged, InPlace, Resized, Failed, NotInBlocks } outcome = Failed;
    std::vector<uint8_t> block;  // InPlace: the bytes written at ImagePos
    TextureContent content;      // Resized: the texture made again
    std::string why;             // Failed
    std::exception_ptr error;    // raised on the committing thread: the run stops
};

// Everything that is done for one texture before its batch: the picture
// read, compared with what export writes for the texture now, and prepared
// and encoded as the import (or, at a new size, as the texture made again)
// writes it. Reads nothing of the archive but `bytes`.
PreparedTexture prepareTexture(const PlannedTexture& p, const std::vector<uint8_t>& bytes, int64_t fileSize,
                               const ImportAllOptions& options)
{
    PreparedTexture r;
    try {
        TextureBytesStream archive(bytes, p.texture.imagePos, fileSize);
        std::unique_ptr<TDibGraphic> picture = LoadPictureFromFile(p.picture, 1, true);
        const bool sameSize = picture->Width() == p.texture.width && picture->Height() == p.texture.height;
        if (sameSize) {
            // What export writes for the texture now, against the picture's
            // own pixels: an unedited picture writes nothing.
            const std::vector<uint8_t> current = bgraOfTextureTga(buildTextureTga(archive, p.texture).bytes, p.texture);
            std::vector<uint8_t> alpha = picture->AlphaPlane;
            if (pictureBgra(*picture, alpha) == current) {
                r.outcome = PreparedTexture::Unchanged;
                return r;
            }
        }
        if (options.pictureSize && !sameSize) {
            // The texture takes the picture's size, keeping its layout, with
            // a full chain where it had levels.
            if (!p.texture.sectioned) {
                r.why = kSectionlessSize;
                return r;
            }
            const TexelFormat format = p.texture.layout.format;
            if (texelFormatIsCompressed(format) && (picture->Width() % 4 != 0 || picture->Height() % 4 != 0)) {
                r.outcome = PreparedTexture::NotInBlocks;
                return r;
            }
            if (!layoutUsesAlpha(format)) {  // the colour as ever without alpha
                if (ReadWithoutAlphaIsSame(p.picture, *picture))
                    picture->AlphaPlane.clear();
                else
                    picture = LoadPictureFromFile(p.picture, 1, false);
            }
            std::vector<uint8_t> alpha = std::move(picture->AlphaPlane);
            picture->AlphaPlane.clear();
            TextureBuildRequest request;
            request.format = format;
            request.previousLevels = p.texture.layout.levels;
            request.platform = p.platform;
            request.exact = options.exact;
            request.dxt = options.dxt;
            r.content = buildTextureContent(*picture, std::move(alpha), request);
            r.outcome = PreparedTexture::Resized;
            return r;
        }
        bool refused = false;
        ImportDriver driver;
        driver.refuseSixteenBit = [&refused] { refused = true; };
        driver.choosePicture = [&p] { return std::optional<std::string>(p.picture); };
        driver.loadPicture = [&picture, &p](const std::string&, bool keepAlpha) -> TDibGraphic& {
            // The picture as read for the comparison, or without its alpha
            // where the texture keeps none (the colour then as ever): read
            // again, unless that reading is known to give the same colours.
            if (!keepAlpha) {
                if (ReadWithoutAlphaIsSame(p.picture, *picture))
                    picture->AlphaPlane.clear();
                else
                    picture = LoadPictureFromFile(p.picture, 1, false);
            }
            return *picture;
        };
        driver.releasePicture = [&picture] { picture.reset(); };
        ImportOptions import;
        import.exact = options.exact;
        import.archive = &archive;
        import.dxt = options.dxt;
        const PreparedImport prepared = prepareImport(std::string(), p.texture, driver, import);
        if (refused) {
            r.why = kSixteenBitRefusal;
            return r;
        }
        r.block = buildPreparedBlock(prepared);
        r.outcome = PreparedTexture::InPlace;
    } catch (const ECancelled&) {
        r.error = std::current_exception();
    } catch (const EWriteError&) {
        r.error = std::current_exception();
    } catch (const Exception& e) {
        r.outcome = PreparedTexture::Failed;
        r.why = e.message();
    } catch (...) {
        r.error = std::current_exception();
    }
    return r;
}

// Textures prepared on worker threads, handed out in the order of the
// plan and taken back in that order. Each worker runs one texture at a time
// on its own (SingleThreadScope), under the calling thread's cancel flag and
// quietness, with the program's signals held off: they reach the thread that
// commits, which holds them off while it writes.
class TextureWorkers {
public:
    using Work = std::function<PreparedTexture(size_t job)>;

    TextureWorkers(int threads, Work work) : work_(std::move(work))
    {
        const std::atomic<bool>* cancel = currentCancelFlag();
        const bool quiet = threadIsQuiet();
        for (int k = 0; k < threads; ++k) {
            try {
                workers_.emplace_back([this, cancel, quiet] { run(cancel, quiet); });
            } catch (const std::system_error&) {
                break;  // no more threads to be had: fewer workers, or none
            }
        }
    }
    ~TextureWorkers()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_)
            t.join();
    }
    TextureWorkers(const TextureWorkers&) = delete;
    TextureWorkers& operator=(const TextureWorkers&) = delete;

    // Hands `job` to the workers; without any, it waits for take().
    void hand(size_t job)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(job);
        }
        wake_.notify_one();
    }
    // The result of `job`, once it is ready; one handed to no worker yet is
    // prepared here.
    PreparedTexture take(size_t job)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto queued = std::find(queue_.begin(), queue_.end(), job);
        if (queued != queue_.end()) {
            queue_.erase(queued);
            lock.unlock();
            return work_(job);
        }
        done_.wait(lock, [&] { return results_.count(job) > 0; });
        PreparedTexture r = std::move(results_[job]);
        results_.erase(job);
        return r;
    }

private:
    void run(const std::atomic<bool>* cancel, bool quiet)
    {
        SignalsHeldOff held;
        SingleThreadScope single;
        CancelScope scope(cancel);
        std::optional<QuietThreadScope> silent;
        if (quiet)
            silent.emplace();
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            const size_t job = queue_.front();
            queue_.pop_front();
            lock.unlock();
            PreparedTexture r = work_(job);
            lock.lock();
            results_[job] = std::move(r);
            done_.notify_all();
        }
    }

    Work work_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<size_t> queue_;
    std::map<size_t, PreparedTexture> results_;
    bool stop_ = false;
};

// Textures handed out ahead of the one being taken, at most, for each
// worker: enough to keep the workers busy while a batch is committed (its
// flushes to the disk take as long as preparing dozens of small textures).
constexpr size_t kTexturesAheadPerWorker = 32;
// The bytes the textures handed out ahead may take meanwhile, at most (a
// texture larger than that is still handed out alone).
constexpr int64_t kPreparedBytesAhead = int64_t(512) << 20;

// A rough bound of the memory one texture's preparation holds: its picture
// and alpha, the pixels compared, its levels and its encoded bytes.
int64_t preparationBytes(const TextureRef& texture)
{
    return int64_t(texture.width) * texture.height * 16 + (int64_t(1) << 16);
}

}  // namespace

// ---- export ----

int64_t ExportAllSummary::skippedCount() const
{
    return sumOf(skipped);
}

ExportAllSummary exportAllTextures(const std::string& archivePath, const ArchiveContents& archive,
                                   const std::string& folder, const ExportAllOptions& options)
{
    const std::string extension = options.png ? ".png" : ".tga";
    const OutputFolder out(folder);
    // One open of the data file for the whole run, locked against writers.
    TFileStream data(archive.dataFile, FileMode::OpenReadShareDenyWrite);
    const ArchiveOwnFiles guard(archivePath, archive);
    // Every list is read and every name settled first, so a run that stops
    // can say how far it got.
    const TextureFilePlan plan = planTextureFiles(archive, data, extension);

    ExportAllSummary summary;
    summary.folder = out.path();
    summary.textures = plan.textures;
    summary.dictionaries = int64_t(plan.dictionaries.size());
    if (options.progress)
        options.progress(0, plan.textures, "");
    const size_t pngWorkers = std::max(1u, std::thread::hardware_concurrency());
    try {
        try {
            for (const TextureFilePlan::Dictionary& d : plan.dictionaries) {
                if (d.listing.rows.empty())
                    continue;
                const OutputFolder sub = out.subFolder(d.folder);
                const std::string current = displayName(d.entry->name);
                // Files are written in the dictionary's order, each as soon as
                // its bytes are ready, under the name the plan gave its texture.
                const auto writeTexture = [&](size_t index, const std::vector<uint8_t>& bytes) {
                    if (bytes.empty()) {
                        ++summary.skipped["texel data shorter than the texture's dimensions"];
                        return;
                    }
                    const std::string& name = d.files[index];
                    if (!sub.madeNow())  // a folder made just now holds no file of the archive
                        guard.check(sub.pathOf(name));
                    // Flushed once for the whole run below, not file by file.
                    sub.writeFile(name, bytes, FileSync::Deferred);
                    ++summary.written;
                    summary.bytes += int64_t(bytes.size());
                    if (options.progress)
                        options.progress(summary.written, plan.textures, current);
                };
                // PNGs are encoded on worker threads, a few textures ahead of
                // the writing, and within a bound on the pixels held in flight.
                std::deque<PendingPng> pending;
                int64_t pendingBytes = 0;
                const auto writeOldest = [&] {
                    PendingPng p = std::move(pending.front());
                    pending.pop_front();
                    pendingBytes -= p.tgaBytes;
                    writeTexture(p.index, p.png.get());
                };
                for (size_t index = 0; index < d.listing.rows.size(); ++index) {
                    throwIfCancelled();
                    const TextureRef texture = textureRefOf(d.listing.rows[index]);
                    TextureTga tga = buildTextureTga(data, texture);
                    if (tga.problem != TextureProblem::None) {
                        ++summary.skipped[textureProblemMessage(tga.problem)];
                        continue;
                    }
                    if (!options.png) {
                        writeTexture(index, tga.bytes);
                        continue;
                    }
                    const int64_t bytes = int64_t(tga.bytes.size());
                    while (!pending.empty()
                           && (pending.size() >= pngWorkers || pendingBytes + bytes > kPngBytesInFlight))
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
                while (!pending.empty()) {
                    throwIfCancelled();
                    writeOldest();
                }
            }
        } catch (const ECancelled&) {
            // The files written so far stay, and are made durable as ever.
            summary.cancelled = true;
        }
        out.syncFileSystem();
    } catch (const Exception& e) {
        summary.stopped = e.detail();
    }
    return summary;
}

std::string exportAllSummaryText(const ExportAllSummary& s)
{
    if (!s.stopped.empty())
        return std::to_string(s.written) + " of " + counted(s.textures, "texture", "textures")
               + " written; stopped: " + s.stopped;
    if (s.cancelled)
        return std::to_string(s.written) + " of " + counted(s.textures, "texture", "textures") + " written; cancelled";
    return counted(s.written, "texture", "textures") + " written from "
           + counted(s.dictionaries, "dictionary", "dictionaries") + " to " + escapeControlCharacters(s.folder) + ", "
           + std::to_string(s.skippedCount()) + " skipped" + reasonsText(s.skipped);
}

// ---- import ----

int64_t ImportAllSummary::skippedCount() const
{
    return sumOf(skipped);
}

void checkImportFolder(const std::string& folder)
{
    if (!QDir(QString::fromStdString(folder)).exists())
        throw Exception("No folder " + escapeControlCharacters(folder));
}

ImportAllSummary importAllTextures(ArchiveEditor& editor, const std::string& inDir, const ImportAllOptions& options,
                                   const std::function<void(const ImportAllSummary&)>& committed)
{
    checkImportFolder(inDir);
    TStream& data = editor.data();
    ImportAllSummary summary;
    summary.folder = inDir;

    // The pictures export-all wrote, texture by texture, found by the names
    // of export-all's own plan.
    std::vector<PlannedTexture> plan;
    // Skipped textures with their place among every texture, for the notes.
    std::vector<std::pair<size_t, ImportAllNote>> notes;
    const std::string extension = ".png";
    const TextureFilePlan files = planTextureFiles(editor.contents(), data, extension);
    const int64_t fileSize = data.Size();
    // The dictionary entries as planned: the plan points into the archive's
    // entries, which every commit reads again.
    std::vector<DirectoryEntry> entries;
    // The textures of a dictionary whose entry shares bytes with an earlier
    // one are read only once that one is committed: after[k] is the last
    // such dictionary, or -1.
    std::vector<int64_t> after;
    std::set<std::string> folders;
    size_t order = 0;
    for (size_t k = 0; k < files.dictionaries.size(); ++k) {
        const TextureFilePlan::Dictionary& d = files.dictionaries[k];
        entries.push_back(*d.entry);
        folders.insert(d.folder);
        const int64_t start = d.entry->offset, end = entryEnd(*d.entry, fileSize);
        after.push_back(-1);
        for (size_t j = 0; j < k; ++j)
            if (entries[j].offset < end && start < entryEnd(entries[j], fileSize))
                after[k] = int64_t(j);
        // A dictionary without textures has no picture: any in its folder
        // matches nothing.
        const std::string folder = inDir + "/" + d.folder;
        std::vector<std::string> pictureFiles;
        const std::map<std::string, std::string> pictures = picturesByStem(folder, &pictureFiles);
        std::set<std::string> stems;
        for (size_t i = 0; i < d.listing.rows.size(); ++i, ++order) {
            const std::string stem = plannedStem(d.files[i], extension);
            stems.insert(stem);
            const auto it = pictures.find(stem);
            if (it == pictures.end()) {
                ++summary.skipped["no picture"];
                notes.push_back({order, {d.folder + "/" + stem, "no picture"}});
                continue;
            }
            const std::string relative = it->second.substr(inDir.size() + 1);
            // A texture the import cannot write over (no data, a stored
            // size its dimensions do not give, past the end of its entry)
            // is named and left alone before its picture is read; 16-bit
            // textures are compared first and refused only when edited.
            const TextureRow& row = d.listing.rows[i];
            const TextureRef texture = textureRefOf(row);
            const ImportRefusal refusal = importDataRefusal(data, texture);
            if (refusal != ImportRefusal::None && refusal != ImportRefusal::SixteenBit) {
                ++summary.skipped[importRefusalMessage(refusal)];
                notes.push_back({order, {relative, importRefusalMessage(refusal)}});
                continue;
            }
            plan.push_back({texture, int(row.pos - 1), row.platform, it->second, relative, k, order});
        }
        for (const std::string& file : pictureFiles)
            if (!stems.count(file.substr(0, file.find_last_of('.'))))
                summary.unmatchedPictures.push_back({d.folder + "/" + file, ""});
    }
    // Pictures and folders of the folder itself that no dictionary takes.
    {
        std::vector<std::string> pictureFiles;
        picturesByStem(inDir, &pictureFiles);
        for (const std::string& file : pictureFiles)
            summary.unmatchedPictures.push_back({file, ""});
        const QDir dir(QString::fromStdString(inDir));
        for (const QString& name : dir.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
            if (!folders.count(name.toStdString()))
                summary.unmatchedFolders.push_back({name.toStdString(), ""});
    }
    summary.pictures = int64_t(plan.size());

    // Each batch is one transaction, all its textures or none; the batches
    // of the run are undone together.
    ChangeLabel label;
    label.description = "import-all of " + counted(int64_t(plan.size()), "picture", "pictures") + " from " + inDir;
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
        const PlannedTexture* planned;
    };
    std::vector<Block> batch;
    int64_t batchBytes = 0;
    std::vector<Resized> resized;
    // A commit and what is told of it come together: a signal waits for both.
    const auto commitTold = [&](const std::function<void()>& commit) {
        SignalsHeldOff held;
        commit();
        if (committed)
            committed(summary);
    };
    const auto commitBatch = [&] {
        if (batch.empty())
            return;
        ChangeSet changes;
        for (Block& b : batch)
            changes.write(0, b.at, std::move(b.bytes));
        commitTold([&] {
            editor.commit(changes, label);
            summary.imported += int64_t(batch.size());
        });
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
            summary.failed += int64_t(textures.size());
            summary.skipped[e.message()] += int64_t(textures.size());
            for (const Resized& r : textures)
                notes.push_back({r.planned->order, {r.planned->relative, e.message()}});
            commitBatch();
            return;
        }
        int64_t replaced = 0;
        for (Resized& r : textures) {
            try {
                replaceTextureContent(held.tree, r.index, std::move(r.content));
                ++replaced;
            } catch (const EDictionaryError& e) {
                ++summary.failed;
                ++summary.skipped[e.message()];
                notes.push_back({r.planned->order, {r.planned->relative, e.message()}});
            }
        }
        if (replaced == 0) {
            commitBatch();
            return;
        }
        commitTold([&] {
            writeHeldDictionary(editor, held, label);
            summary.imported += int64_t(batch.size()) + replaced;
        });
        batch.clear();
        batchBytes = 0;
    };

    // The textures are prepared on worker threads, in the plan's order and
    // a bounded number ahead of the one whose result is taken; the results
    // are taken in the plan's order, so the batches do not depend on the
    // number of workers.
    const int threads = options.threads > 0 ? options.threads : int(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::vector<uint8_t>> jobBytes(plan.size());
    std::vector<int64_t> jobFileSize(plan.size(), 0);
    TextureWorkers workers(threads > 1 ? threads : 0, [&](size_t n) {
        PreparedTexture r = prepareTexture(plan[n], jobBytes[n], jobFileSize[n], options);
        jobBytes[n] = std::vector<uint8_t>();
        return r;
    });
    const size_t mostAhead = threads > 1 ? size_t(threads) * kTexturesAheadPerWorker : 1;
    size_t handed = 0;
    int64_t bytesAhead = 0;
    int64_t finished = -1;  // the last dictionary whose batches are committed
    // Hands out texture `need` and, within the bounds, those after it.
    const auto handOut = [&](size_t need) {
        while (handed < plan.size()) {
            const PlannedTexture& p = plan[handed];
            const int64_t bytes = preparationBytes(p.texture);
            const bool needed = handed <= need;
            if (!needed
                && (handed - need >= mostAhead || bytesAhead + bytes > kPreparedBytesAhead
                    || after[p.dictionary] > finished))
                break;
            jobFileSize[handed] = data.Size();
            jobBytes[handed] = readTextureBytes(data, p.texture, jobFileSize[handed]);
            bytesAhead += bytes;
            workers.hand(handed++);
        }
    };

    // Pictures of another size over DXT textures whose sides are not
    // divisible by 4, named in the summary.
    std::vector<std::string> notInBlocks;
    try {
        if (options.progress)
            options.progress(0, int64_t(plan.size()), "");
        for (size_t n = 0; n < plan.size(); ++n) {
            const PlannedTexture& p = plan[n];
            throwIfCancelled();
            if (n > 0 && plan[n - 1].dictionary != p.dictionary) {
                finishDictionary(plan[n - 1].dictionary);
                finished = int64_t(p.dictionary) - 1;
            } else if (batchBytes >= kImportBatchBytes) {
                commitBatch();
            }
            handOut(n);
            PreparedTexture r = workers.take(n);
            bytesAhead -= preparationBytes(p.texture);
            if (r.error)
                std::rethrow_exception(r.error);
            switch (r.outcome) {
            case PreparedTexture::Unchanged: ++summary.unchanged; break;
            case PreparedTexture::InPlace:
                batchBytes += int64_t(r.block.size());
                batch.push_back({p.texture.imagePos, std::move(r.block)});
                break;
            case PreparedTexture::Resized: resized.push_back({p.index, std::move(r.content), &p}); break;
            case PreparedTexture::NotInBlocks:
                ++summary.failed;
                notInBlocks.push_back(p.relative);
                notes.push_back({p.order, {p.relative, "a DXT layout needs a width and height divisible by 4"}});
                break;
            case PreparedTexture::Failed:
                ++summary.failed;
                ++summary.skipped[r.why];
                notes.push_back({p.order, {p.relative, r.why}});
                break;
            }
            summary.goneThrough = int64_t(n) + 1;
            if (options.progress)
                options.progress(summary.goneThrough, int64_t(plan.size()), escapeControlCharacters(p.relative));
        }
        if (!plan.empty())
            finishDictionary(plan.back().dictionary);
    } catch (const ECancelled&) {
        // The batches committed stay; the one at hand is not written.
        summary.cancelled = true;
    } catch (const Exception& e) {
        // A batch that could not be written is not in the archive; the run stops.
        summary.stopped = e.detail();
    }

    if (!notInBlocks.empty()) {
        std::string names;
        for (const std::string& name : notInBlocks)
            names += (names.empty() ? "" : ", ") + escapeControlCharacters(name);
        summary.skipped["a DXT layout needs a width and height divisible by 4 (" + names + ")"] +=
            int64_t(notInBlocks.size());
    }
    std::stable_sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [at, note] : notes)
        summary.skippedTextures.push_back(std::move(note));
    return summary;
}

std::string importAllSummaryText(const ImportAllSummary& s)
{
    std::string text =
        counted(s.imported, "texture", "textures") + " imported, " + std::to_string(s.unchanged) + " unchanged";
    if (!s.stopped.empty())
        return text + "; stopped: " + s.stopped;
    if (s.cancelled)
        return text + "; cancelled after " + std::to_string(s.goneThrough) + " of "
               + counted(s.pictures, "picture", "pictures");
    text += ", " + std::to_string(s.skippedCount()) + " skipped" + reasonsText(s.skipped);
    if (!s.unmatchedPictures.empty())
        text +=
            "; " + counted(int64_t(s.unmatchedPictures.size()), "picture matches", "pictures match") + " no texture";
    if (!s.unmatchedFolders.empty())
        text +=
            "; " + counted(int64_t(s.unmatchedFolders.size()), "folder matches", "folders match") + " no dictionary";
    return text;
}

std::vector<std::string> importAllNoteLines(const ImportAllSummary& s)
{
    std::vector<std::string> lines;
    for (const ImportAllNote& n : s.skippedTextures)
        lines.push_back("skipped " + escapeControlCharacters(n.what) + ": " + n.why);
    for (const ImportAllNote& n : s.unmatchedPictures)
        lines.push_back("no texture for " + escapeControlCharacters(n.what));
    for (const ImportAllNote& n : s.unmatchedFolders)
        lines.push_back("no dictionary for " + escapeControlCharacters(n.what));
    return lines;
}
