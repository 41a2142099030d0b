// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A journal store in memory, for writes into streams that are not files.
// Steps can be made to fail, and what was saved and removed is kept for
// the test to look at.
#include "platform/write_journal.h"

#include <optional>
#include <vector>

class MemoryJournalStore : public JournalStore {
public:
    std::optional<std::vector<uint8_t>> record;  // the journal as it is now
    int saves = 0;
    int removals = 0;
    bool failSave = false;
    bool failRemove = false;

    void save(const std::vector<uint8_t>& bytes) override
    {
        ++saves;
        if (failSave)
            throw EJournalError("No journal could be written");
        record = bytes;
    }
    std::vector<Found> find() override
    {
        if (!record)
            return {};
        return {Found{"memory", *record}};
    }
    void remove(const std::string&) override
    {
        ++removals;
        if (failRemove)
            throw EWriteError("Stream write error", "cannot remove the journal");
        record.reset();
    }
    std::string savedLocation() const override { return "memory"; }
};
