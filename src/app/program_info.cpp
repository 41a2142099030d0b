// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/program_info.h"

#include "platform/licence.h"

AppCommandLine parseAppCommandLine(const std::vector<std::string>& args)
{
    for (const std::string& a : args) {
        if (a == "--")
            break;
        if (a == "-h" || a == "--help")
            return {AppCommandLine::Action::Help, {}, {}};
        if (a == "-v" || a == "--version")
            return {AppCommandLine::Action::Version, {}, {}};
    }
    AppCommandLine r;
    bool options = true;
    int files = 0;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (options && a.size() > 1 && a[0] == '-')
            return {AppCommandLine::Action::UsageError, {}, "unknown option '" + a + "'"};
        if (++files > 1)
            return {AppCommandLine::Action::UsageError, {}, "only one FILE can be opened"};
        r.file = a;
    }
    return r;
}

std::string appHelpText()
{
    return "Usage: quarnix [options] [FILE]\n"
           "Looks into a game's resource archives and exchanges their textures: opens an\n"
           "archive directory (.dir, with its data in the .img file beside it), a VER2\n"
           "archive (.img) or a standalone texture dictionary (.txd), lists the entries and\n"
           "the textures of a dictionary, shows a texture, saves it as TGA or PNG and\n"
           "imports a picture over it in place. It also adds, replaces, renames, removes\n"
           "and extracts entries, rebuilds archives, makes new ones, and undoes and redoes\n"
           "every change.\n"
           "\n"
           "Arguments:\n"
           "  FILE           A .dir, .img or .txd file to open at start, as Open would.\n"
           "\n"
           "Options:\n"
           "  -h, --help     Show this help.\n"
           "  -v, --version  Show the version.\n"
           "\n"
           "Qt's standard options (-platform, -style, ...) are accepted too. Without a\n"
           "display, quarnix-tool does the same jobs from a shell.\n";
}

std::string appVersionText(const std::string& version)
{
    return "quarnix " + version + "\n" + kLicenceNotice;
}
