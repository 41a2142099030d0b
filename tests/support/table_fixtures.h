// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Builders of record-table contents for tests and benchmarks.
#include "tables/record_table.h"

#include <cstdint>
#include <string>
#include <vector>

// Appends and posts one row of the entry table (Pos, Name, Size, FPos).
void appendEntryRow(RecordTable& table, int64_t pos, const std::string& name, int64_t size, int64_t fpos);

// `count` entry names as an archive holds them: mixed case, a few prefixes,
// numbers, the usual extensions, at most 24 bytes; deterministic for a seed.
std::vector<std::string> sampleEntryNames(int count, uint32_t seed = 1);

// Fills an entry table with `count` rows in directory order (Pos 1..count,
// growing offsets), names from sampleEntryNames; grid updates suspended.
void fillEntryTable(RecordTable& table, int count, uint32_t seed = 1);
