// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/journal_fixture.h"

#include <zlib.h>

namespace journal_fixture {
namespace {

void put(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint32_t zcrc(const std::vector<uint8_t>& bytes)
{
    return uint32_t(crc32(0, bytes.data(), uInt(bytes.size())));
}

}  // namespace

std::vector<uint8_t> journalBytes(int64_t offset, const std::vector<uint8_t>& old, const std::vector<uint8_t>& fresh,
                                  int64_t fileSize)
{
    std::vector<uint8_t> j = {'Q', 'X', 'J', 'R', 'N', 'L', '0', '1'};
    put(j, uint64_t(offset), 8);
    put(j, old.size(), 8);
    put(j, uint64_t(fileSize), 8);
    put(j, zcrc(fresh), 4);
    j.insert(j.end(), old.begin(), old.end());
    put(j, zcrc(j), 4);
    return j;
}

}  // namespace journal_fixture
