// SPDX-License-Identifier: GPL-2.0-or-later
// The app's command line: what it asks for, read before and after Qt has
// taken its own options out.
#include "app/program_info.h"

#include <gtest/gtest.h>

namespace {

using Action = AppCommandLine::Action;

struct LineCase {
    std::vector<std::string> args;
    Action action;
    std::string file;
};

}  // namespace

TEST(AppCommandLine, ReadsAtMostOneFileHelpVersionAndUsageErrors)
{
    const std::vector<LineCase> cases = {
        {{}, Action::Run, ""},
        // Names as a desktop or a shell passes them: kept byte for byte.
        {{"/home/u/My Games/models.dir"}, Action::Run, "/home/u/My Games/models.dir"},
        {{"sub dir/menu.TXD"}, Action::Run, "sub dir/menu.TXD"},
        {{"/tmp/\xE8\x9A.txd"}, Action::Run, "/tmp/\xE8\x9A.txd"},  // not UTF-8
        {{"-"}, Action::Run, "-"},
        // "--" ends the options: what follows is a file, even "--help".
        {{"--", "-odd.dir"}, Action::Run, "-odd.dir"},
        {{"--", "--help"}, Action::Run, "--help"},
        // Help and version win wherever they stand before "--".
        {{"--help"}, Action::Help, ""},
        {{"a.dir", "-h"}, Action::Help, ""},
        {{"--frob", "--version"}, Action::Version, ""},
        {{"-v", "--help"}, Action::Version, ""},
        {{"-platform", "offscreen", "--help"}, Action::Help, ""},
        {{"--frob"}, Action::UsageError, ""},
        {{"a.dir", "b.txd"}, Action::UsageError, ""},
        {{"--", "a.dir", "b.txd"}, Action::UsageError, ""},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const AppCommandLine line = parseAppCommandLine(c.args);
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.file, c.file);
        EXPECT_EQ(line.problem.empty(), c.action != Action::UsageError);
    }
    EXPECT_EQ(parseAppCommandLine({"--frob"}).problem, "unknown option '--frob'");
}

TEST(AppVersionText, TheVersionLineThenTheLicence)
{
    const std::string text = appVersionText("1.2");
    EXPECT_EQ(text.rfind("quarnix 1.2\nLicense GPL-2.0-or-later: GNU GPL version 2 or later", 0), 0u) << text;
    EXPECT_EQ(text.back(), '\n');
}
