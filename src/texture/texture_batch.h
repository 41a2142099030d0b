// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Every texture of an archive at once, as the tool's export-all and
// import-all and the app's "Export all..." and "Import folder..." do it,
// with the same rules and results:
//
// exportAllTextures writes each texture of each dictionary as a picture file
// into a folder, named by the plan of texture_files.h:
// <folder>/<dictionary folder>/<texture file>.tga (or .png).
//
// importAllTextures imports the pictures of such a folder back over their
// textures, found by the same plan, and commits them through the archive
// core in batches: the in-place imports of one dictionary in transactions of
// at most kImportBatchBytes each, and a dictionary whose textures take a new
// size (pictureSize) rewritten once with all of them. A kill at any moment
// leaves every texture old or new; the batches of one run share one undo
// group, so one undo takes the whole run back. The textures are prepared
// and encoded on worker threads, several at once, a bounded number ahead of
// the one being committed; the bytes written and the order of the batches
// do not depend on the number of threads.
//
// Both report progress through a callback, stop between textures when the
// calling thread's work is cancelled (platform/cancellation.h), and return a
// summary of what they did. An error during the run does not escape: it
// ends the run and is told in the summary (`stopped`), with what was done
// before it. Errors before the run (the folder, the archive's lists) are
// raised as usual.
#include "archive/archive.h"
#include "formats/dxt_encoder.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// `done` of `total` so far; `current` names what is at hand (UTF-8, its
// control characters escaped): a dictionary entry, a picture file.
using BatchProgress = std::function<void(int64_t done, int64_t total, const std::string& current)>;

// ---- export ----

struct ExportAllOptions {
    bool png = false;  // PNG files (alpha kept) in place of TGA
    // Called once the plan is made (done 0), then after each file written.
    BatchProgress progress;
};

struct ExportAllSummary {
    std::string folder;                      // as given
    int64_t textures = 0;                    // every texture of every dictionary
    int64_t dictionaries = 0;                // dictionary entries
    int64_t written = 0;                     // files written
    int64_t bytes = 0;                       // their bytes
    std::map<std::string, int64_t> skipped;  // why -> how many
    bool cancelled = false;                  // stopped by cancellation; the files written stay
    std::string stopped;                     // the error that stopped the run; empty when none
    int64_t skippedCount() const;
};

// Writes the textures of `archive` (opened from `archivePath`, which names
// it in the refusal to write over its files) into `folder`, made when
// missing. Files are written in archive and dictionary order, each under a
// temporary name put in place when complete, never through a symbolic link
// inside the folder and never over a file of the archive, and flushed to
// the disk with one sync at the end (also after a cancellation). A texture
// without usable data is skipped and counted with why.
ExportAllSummary exportAllTextures(const std::string& archivePath, const ArchiveContents& archive,
                                   const std::string& folder, const ExportAllOptions& options = {});

// The line that tells the summary: "2000 textures written from 100
// dictionaries to out, 0 skipped", "12 of 2000 textures written; stopped:
// ...", "12 of 2000 textures written; cancelled".
std::string exportAllSummaryText(const ExportAllSummary& summary);

// ---- import ----

// New bytes of in-place imports a batch holds before it is committed.
constexpr int64_t kImportBatchBytes = int64_t(64) << 20;

struct ImportAllOptions {
    // As ImportOptions::exact: a picture of the texture's size is not
    // resampled; over an 8-bit palette, one of at most 256 colours keeps
    // them exactly.
    bool exact = false;
    // A picture whose size differs from its texture's makes the texture again
    // at the picture's size (a texture of a sectioned dictionary), in its
    // layout, with the full chain where it had levels.
    bool pictureSize = false;
    DxtQuality dxt = DxtQuality::Fast;
    // Textures prepared and encoded at once; 0: one per core. 1 runs
    // everything on the calling thread.
    int threads = 0;
    // Called once the plan is made (done 0), then after each picture gone
    // through; `total` counts the textures that have a picture.
    BatchProgress progress;
};

// A texture skipped, or a picture or folder that matches nothing.
struct ImportAllNote {
    // The picture relative to the folder ("city.txd/grass.png"); for a
    // texture without a picture, the name its picture would have without
    // the extension ("city.txd/grass"); a folder's name ("old.txd").
    std::string what;
    std::string why;  // for a skipped texture; empty for what matches nothing
};

struct ImportAllSummary {
    std::string folder;                            // as given
    int64_t pictures = 0;                          // textures that have a picture: the total of the progress
    int64_t goneThrough = 0;                       // of them, looked at before the run ended
    int64_t imported = 0;                          // textures written, in batches committed
    int64_t unchanged = 0;                         // pictures equal to what export writes for their textures now
    int64_t failed = 0;                            // textures with a picture that could not be imported
    std::map<std::string, int64_t> skipped;        // why -> how many (with the textures without a picture)
    std::vector<ImportAllNote> skippedTextures;    // each skipped texture, in archive order
    std::vector<ImportAllNote> unmatchedPictures;  // picture files that match no texture
    std::vector<ImportAllNote> unmatchedFolders;   // folders that match no dictionary
    bool cancelled = false;                        // stopped by cancellation: the batches committed stay
    std::string stopped;                           // the error that stopped the run; empty when none
    int64_t skippedCount() const;
};

// Raises Exception "No folder DIR" when `folder` is not a folder.
void checkImportFolder(const std::string& folder);

// Imports the pictures of `folder` over the textures of the archive that
// `editor` holds (for the whole run: nobody else writes it meanwhile).
// `committed` is called after each batch is committed, with the summary so
// far; the program's signals are held off from before the batch's commit to
// the end of the call, so that a signal cannot come between them.
ImportAllSummary importAllTextures(ArchiveEditor& editor, const std::string& folder,
                                   const ImportAllOptions& options = {},
                                   const std::function<void(const ImportAllSummary&)>& committed = {});

// The line that tells the summary: "3 textures imported, 1 unchanged, 2
// skipped (no picture: 2)", then "; 1 picture matches no texture" and "; 1
// folder matches no dictionary" where there are such; "3 textures imported,
// 1 unchanged; stopped: ..." or "...; cancelled after 40 of 200 pictures".
std::string importAllSummaryText(const ImportAllSummary& summary);

// One line for each skipped texture ("skipped city.txd/grass.png: why"),
// then each picture and folder that matches nothing ("no texture for
// city.txd/foo.png", "no dictionary for old.txd").
std::vector<std::string> importAllNoteLines(const ImportAllSummary& summary);
