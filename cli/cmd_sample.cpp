// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool sample DIR: writes a small archive and a standalone dictionary
// with colourful textures of every kind, to try the tool on.
#include "cli/commands.h"

#include "formats/archive_sample.h"
#include "platform/exceptions.h"

#include <filesystem>
#include <system_error>

namespace {

int run(const QCommandLineParser&, const std::vector<std::string>& args)
{
    const std::string& folder = args[0];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec))
        return reportError("Cannot create folder " + folder);
    std::string out;
    for (const std::string& path : archive_sample::writeSampleFiles(folder))
        out += path + "\n";
    writeOut(out);
    return 0;
}

}  // namespace

const ToolCommand kSampleCommand{
    "sample",
    "Write a sample archive (sample.dir, sample.img) and a standalone sample.txd.",
    "Writes DIR/sample.dir, DIR/sample.img and DIR/sample.txd: texture dictionaries with colourful "
    "textures of the 8-bit paletted, 16-bit and 32-bit kinds, a sectioned dictionary (Layouts.txd) with a "
    "texture of every texel layout, several with mip levels, and entries that are not dictionaries. "
    "The files are the same on every run. Prints the paths written.",
    {{"DIR", "The folder to write into; made when missing."}},
    nullptr,
    run,
};
