// quarnix-tool sample DIR: writes a small archive and a standalone dictionary
// with colourful textures of every kind, to try the tool on.
#include "cli/commands.h"

#include "platform/exceptions.h"
#include "support/archive_sample.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

int cmdSample(const std::vector<std::string>& args)
{
    if (args.size() != 1) {
        std::fputs("usage: quarnix-tool sample DIR\n", stderr);
        return 2;
    }
    const std::string& folder = args[0];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec))
        return reportError("Cannot create folder " + folder);
    try {
        for (const std::string& path : archive_sample::writeSampleFiles(folder))
            std::printf("%s\n", path.c_str());
    } catch (const Exception& e) {
        return reportError(e.message());
    } catch (const std::bad_alloc&) {
        return reportError("Out of memory");
    }
    return 0;
}
