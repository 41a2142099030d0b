// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/table_fixtures.h"

#include <random>

void appendEntryRow(RecordTable& table, int64_t pos, const std::string& name, int64_t size, int64_t fpos)
{
    table.Append();
    table.FieldByName("Pos").SetAsInteger(pos);
    table.FieldByName("Name").SetAsString(name);
    table.FieldByName("Size").SetAsInteger(size);
    table.FieldByName("FPos").SetAsInteger(fpos);
    table.Post();
}

std::vector<std::string> sampleEntryNames(int count, uint32_t seed)
{
    static const char* const prefixes[] = {"veh_", "Tex_", "ped",      "BUILD", "lod",  "Road",
                                           "tree", "fx_",  "Interior", "sky",   "wall", "door"};
    static const char* const extensions[] = {".dff", ".txd", ".DFF", ".TXD", ".col", ".ifp"};
    std::mt19937 rng(seed);
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::string n = prefixes[rng() % std::size(prefixes)];
        const int letters = static_cast<int>(rng() % 6);
        for (int k = 0; k < letters; ++k) {
            const char base = (rng() % 3 == 0) ? 'A' : 'a';
            n += static_cast<char>(base + static_cast<int>(rng() % 26));
        }
        n += std::to_string(rng() % 10000);
        n += extensions[rng() % std::size(extensions)];
        if (n.size() > 24)
            n.resize(24);
        names.push_back(std::move(n));
    }
    return names;
}

void fillEntryTable(RecordTable& table, int count, uint32_t seed)
{
    const auto names = sampleEntryNames(count, seed);
    std::mt19937 rng(seed ^ 0x5bd1e995u);
    int64_t offset = 0;
    table.DisableControls();
    for (int i = 0; i < count; ++i) {
        const int64_t size = static_cast<int64_t>(rng() % 64 + 1) * 2048;
        appendEntryRow(table, i + 1, names[static_cast<size_t>(i)], size, offset);
        offset += size;
    }
    table.First();
    table.EnableControls();
}
