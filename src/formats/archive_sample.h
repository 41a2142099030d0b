// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The sample archive that `quarnix-tool sample` writes: an archive (.dir and
// .img) holding texture dictionaries with colourful pictures of all three
// plain texture kinds and several sizes, a sectioned dictionary with a
// texture of every texel layout (several with mip levels), entries that are
// not dictionaries, and a standalone dictionary. The output is the same on
// every run.
#include "formats/archive_writer.h"
#include "formats/sectioned_dictionary_writer.h"
#include "formats/texture_dictionary_writer.h"

#include <string>
#include <vector>

namespace archive_sample {

// The entries of sample.dir/sample.img, in directory order.
std::vector<ArchiveItem> sampleArchiveItems();
// The dictionaries inside the archive, by entry name (same order as in the
// archive), and the standalone sample.txd.
std::vector<std::pair<std::string, TextureDictionary>> sampleArchiveDictionaries();
TextureDictionary sampleStandaloneDictionary();
// The sectioned dictionary, the archive's last entry, and its name.
SectionedDictionary sampleSectionedDictionary();
extern const char* const kSampleSectionedName;

// Writes folder/sample.dir, folder/sample.img and folder/sample.txd (the
// folder must exist). Returns the three paths in that order.
std::vector<std::string> writeSampleFiles(const std::string& folder);

// Picture generators, row by row with the top row first.
std::vector<Rgba> colourWheel(int size);
std::vector<Rgba> checkerboard(int width, int height, int cell, Rgba a, Rgba b);
std::vector<Rgba> gradient(int width, int height);
std::vector<Rgba> sunset(int width, int height);
std::vector<Rgba> plasma(int width, int height);
std::vector<Rgba> bricks(int width, int height);
std::vector<Rgba> rainbowStripes(int width, int height, int stripe);

// An indexed picture: palette and one index per pixel.
struct IndexedPicture {
    std::vector<Rgba> palette;
    std::vector<uint8_t> indices;
};
IndexedPicture indexedColourWheel(int size);
IndexedPicture indexedRings(int width, int height);
IndexedPicture indexedMandelbrot(int width, int height);
IndexedPicture indexedButton(int width, int height);
IndexedPicture indexedChecker(int width, int height, int cell);

}  // namespace archive_sample
