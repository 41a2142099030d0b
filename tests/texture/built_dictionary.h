// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A dictionary built in memory and listed by the reader, for the texture tests.
#include "formats/texture_dictionary.h"
#include "platform/streams.h"
#include "support/archive_builder.h"

#include <vector>

struct BuiltDictionary {
    std::vector<uint8_t> file;
    std::vector<TextureRow> rows;
};

inline BuiltDictionary buildAndList(const TextureDictionary& d)
{
    BuiltDictionary b;
    b.file = buildTextureDictionary(d);
    TReadOnlyMemoryStream s(b.file.data(), int64_t(b.file.size()));
    b.rows = readTextureDictionary(s, 0, s.Size()).rows;
    return b;
}
