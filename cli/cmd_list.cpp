// quarnix-tool list ARCHIVE: the entry list that Open would show.
#include "cli/commands.h"

#include "formats/archive_directory.h"
#include "platform/exceptions.h"
#include "platform/text.h"

#include <cinttypes>
#include <cstdio>
#include <new>

int cmdList(const std::vector<std::string>& args)
{
    if (args.size() != 1) {
        std::fputs("usage: quarnix-tool list ARCHIVE\n", stderr);
        return 2;
    }
    const std::string& path = args[0];
    std::vector<DirectoryEntry> entries;
    try {
        if (namesTextureDictionary(path))
            entries.push_back(readStandaloneDictionaryEntry(path));
        else
            entries = readArchiveDirectory(path);
    } catch (const Exception& e) {
        return reportError(e.message());
    } catch (const std::bad_alloc&) {
        return reportError("Out of memory");
    }
    std::string out = "Pos\tFPos\tSize\tName\n";
    char numbers[80];
    for (const DirectoryEntry& e : entries) {
        std::snprintf(numbers, sizeof numbers, "%" PRId64 "\t%" PRId64 "\t%" PRId64 "\t", e.pos, e.offset, e.size);
        out += numbers;
        out += fromCp1250(e.name).toStdString();
        out += '\n';
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        return reportError("Stream write error");
    return 0;
}
