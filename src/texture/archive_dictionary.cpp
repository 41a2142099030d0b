// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/archive_dictionary.h"

#include "archive/entry_edits.h"
#include "platform/byte_order.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <algorithm>

namespace {

bool sameEntry(const DirectoryEntry& a, const DirectoryEntry& b)
{
    return a.pos == b.pos && a.name == b.name && a.offset == b.offset && a.size == b.size;
}

}  // namespace

std::vector<uint8_t> readEntryBytes(ArchiveEditor& editor, const DirectoryEntry& entry)
{
    return readEntryBytes(editor.data(), entry, editor.contents().standalone);
}

std::vector<uint8_t> readEntryBytes(TStream& data, const DirectoryEntry& entry, bool standalone)
{
    const int64_t fileSize = data.Size();
    const int64_t from = std::min(entry.offset, fileSize);
    const int64_t to = standalone ? fileSize : entryEnd(entry, fileSize);
    std::vector<uint8_t> bytes(size_t(std::max<int64_t>(0, to - from)));
    if (!bytes.empty()) {
        data.Seek(from, SeekOrigin::Begin);
        data.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    }
    return bytes;
}

HeldDictionary holdDictionary(const DirectoryEntry& entry, std::vector<uint8_t> bytes, bool standalone)
{
    HeldDictionary held;
    held.entry = entry;
    // The bytes after the dictionary section, before the tree takes the
    // entry's bytes and lets them go.
    std::vector<uint8_t> after;
    if (bytes.size() >= 12) {
        const uint64_t end = 12 + uint64_t(readLe32(bytes.data() + 4));  // the dictionary section's size
        if (end < bytes.size())
            after.assign(bytes.begin() + std::ptrdiff_t(end), bytes.end());
    }
    held.tree = parseDictionaryTree(std::move(bytes));
    if (!standalone) {
        const auto lastSet = std::find_if(after.rbegin(), after.rend(), [](uint8_t b) { return b != 0; });
        after.erase(lastSet.base(), after.end());
    }
    held.trailing = std::move(after);
    return held;
}

HeldDictionary readHeldDictionary(ArchiveEditor& editor, const DirectoryEntry& entry)
{
    return holdDictionary(entry, readEntryBytes(editor, entry), editor.contents().standalone);
}

std::vector<uint8_t> heldDictionaryBytes(const HeldDictionary& held)
{
    std::vector<uint8_t> bytes = writeDictionaryTree(held.tree);
    bytes.insert(bytes.end(), held.trailing.begin(), held.trailing.end());
    return bytes;
}

DirectoryEntry writeHeldDictionary(ArchiveEditor& editor, const HeldDictionary& held, const ChangeLabel& label)
{
    const std::vector<DirectoryEntry>& entries = editor.contents().entries;
    const auto pos = held.entry.pos;
    if (pos < 1 || pos > int64_t(entries.size()) || !sameEntry(entries[size_t(pos - 1)], held.entry))
        throw EDictionaryError("The archive no longer lists the entry '" + displayName(held.entry.name)
                               + "' as it was when its dictionary was read; nothing was written");
    const DirectoryEntry current = entries[size_t(pos - 1)];
    const std::vector<uint8_t> bytes = heldDictionaryBytes(held);
    replaceEntryBytes(editor, current, bytes, label);
    return editor.contents().entries[size_t(pos - 1)];
}
