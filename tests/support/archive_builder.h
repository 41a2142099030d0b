// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Fixtures for tests of archives: directory files with odd records, large
// directories, small texture dictionaries, and scratch folders to write them
// into. Built on the writers in src/formats/.
#include "formats/archive_writer.h"
#include "formats/texture_dictionary_writer.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace archive_fixture {

// A folder under the system temp directory, unique to this object, removed
// with everything in it when the object goes away.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag = "qx_archive");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// `size` bytes that look random and never repeat in a short period; the same
// for the same seed, different for another.
std::vector<uint8_t> noiseBytes(size_t size, uint32_t seed);
std::vector<uint8_t> readBytes(const std::string& path);

// Records whose name fields test the name rule, in this order:
//   "plain.dff"                           -> "plain.dff"
//   24 characters, no NUL                 -> all 24 characters
//   NUL first, then "hidden"              -> ""
//   "abc", NUL, "XYZ" (garbage after NUL) -> "abc"
//   Windows-1250 bytes 8A E8 "ko.txd"    -> the same bytes ("Ščko.txd" in UTF-8)
std::vector<DirectoryRecord> oddNameRecords();
std::string oddName24();  // the 24-character name used above

// A 100-byte directory file: three records (positions 5, 0, 0x100000 and
// counts 3, 1, 2) followed by 4 non-zero bytes that belong to no record.
std::vector<uint8_t> hundredByteDirectory();

// `count` records with names "entry00001.dff", ... (every 10th a ".txd"),
// positions ascending and sizes of 1 to 4 sectors.
std::vector<DirectoryRecord> manyRecords(size_t count);

// A dictionary with one texture of each recognised kind, in the order 8-bit
// paletted, 16-bit, 32-bit; small pictures with distinct colours.
TextureDictionary threeKindsDictionary();

// A directory record as a test expects it: offset and size in sectors, name.
struct Rec {
    uint32_t offset;
    uint32_t size;
    std::string name;
    friend bool operator==(const Rec&, const Rec&) = default;
};
std::ostream& operator<<(std::ostream& out, const Rec& r);

// The records of a .dir file's bytes.
std::vector<Rec> recordsOf(const std::vector<uint8_t>& dir);

}  // namespace archive_fixture
