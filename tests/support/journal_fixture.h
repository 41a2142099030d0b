// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Rollback journals laid out byte by byte as the journal format describes
// them (CRC-32 by zlib), for tests of what an open finds after an import
// that was cut off.
#include <cstdint>
#include <vector>

namespace journal_fixture {

// The journal of a write of `fresh` over `old` at `offset` of a file of
// `fileSize` bytes.
std::vector<uint8_t> journalBytes(int64_t offset, const std::vector<uint8_t>& old, const std::vector<uint8_t>& fresh,
                                  int64_t fileSize);

}  // namespace journal_fixture
