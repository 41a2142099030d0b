// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the archive directory parser, and the same bytes as
// a path to the naming rules, checking what every result must satisfy.
#include "formats/archive_directory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto entries = parseArchiveDirectory(data, size);
    if (entries.size() != size / 32)
        std::abort();
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry& e = entries[i];
        const uint8_t* rec = data + 32 * i;
        if (e.pos != static_cast<int64_t>(i + 1) || e.name.size() > 24 || e.name.find('\0') != std::string::npos)
            std::abort();
        if (std::memcmp(e.name.data(), rec + 8, e.name.size()) != 0
            || (e.name.size() < 24 && rec[8 + e.name.size()] != 0))
            std::abort();
        if (e.offset < 0 || e.size < 0 || e.offset % 2048 != 0 || e.size % 2048 != 0 || e.offset / 2048 > 0xFFFFFFFFLL
            || e.size / 2048 > 0xFFFFFFFFLL)
            std::abort();
    }

    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string ext = fileExtension(path);
    const std::string img = replaceExtensionWithImg(path);
    if (!ext.empty() && (ext[0] != '.' || path.compare(path.size() - ext.size(), ext.size(), ext) != 0))
        std::abort();
    if (img != path.substr(0, path.size() - ext.size()) + ".img")
        std::abort();
    if (namesTextureDictionary(path) && ext.size() != 4)
        std::abort();
    (void)fileNameOfPath(path);
    return 0;
}
