// SPDX-License-Identifier: GPL-2.0-or-later
// Names as data: printed with their control characters written out, and
// turned into file names that every common file system takes, numbered
// apart when they clash.
#include "platform/file_names.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <set>

TEST(Text, ControlCharactersAreWrittenOut)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain name.txd", "plain name.txd"},
        {"q\n1\t0\t9\tEVIL.txd", "q\\n1\\t0\\t9\\tEVIL.txd"},
        {"a\rb", "a\\rb"},
        {"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
        {std::string("nul\0here", 8), "nul\\x00here"},
        {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
        {"back\\slash", "back\\\\slash"},
        {"\\x1b", "\\\\x1b"},              // an escape typed out stays told apart from a real one
        {"\xC5\xA0koda", "\xC5\xA0koda"},  // letters beyond ASCII are kept
        {"\xC2\x9B"
         "31m",
         "\\x9b31m"},  // a C1 control (CSI) is not
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(escapeControlCharacters(in), out) << in;
    // From the code page: 0x81 is undefined and maps to the C1 control U+0081;
    // 0x8A is a letter.
    EXPECT_EQ(displayName("\x8A\x81\tx"), "\xC5\xA0\\x81\\tx");
    EXPECT_EQ(cp1250ToUtf8("\x8A\xE8"), "\xC5\xA0\xC4\x8D");
}

TEST(FileNames, NamesWindowsReservesGetASafeForm)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"CON", "CON_"},           {"con.txd", "con_.txd"}, {"Nul.tga.old", "Nul_.tga.old"},
        {"aux", "aux_"},           {"PRN.x", "PRN_.x"},     {"COM1", "COM1_"},
        {"com9.dff", "com9_.dff"}, {"LPT5", "LPT5_"},       {"lpt1.txd", "lpt1_.txd"},
        {"COM0", "COM0"},          {"COM10", "COM10"},      {"CONSOLE", "CONSOLE"},
        {"icon.txd", "icon.txd"},  {"a/b:c", "a_b_c"},      {"..", "_.."},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(safeFileName(in), out) << in;

    // A name ending in a dot or a blank gets a "_", also when numbered.
    UniqueFileNames names;
    EXPECT_EQ(names.take("x."), "x._");
    EXPECT_EQ(names.take("X."), "X._2");
    EXPECT_EQ(names.take("y ", ""), "y _");
    EXPECT_EQ(names.take("..", ".tga"), "...tga");
    EXPECT_EQ(names.take("z", "."), "z._");
}

TEST(FileNames, ClashesAreNumberedOncePerName)
{
    // Numbers run on per base and extension (letter case ignored); a name
    // already taken literally is stepped over, never handed out twice.
    UniqueFileNames names;
    EXPECT_EQ(names.take("grass_2", ".tga"), "grass_2.tga");
    EXPECT_EQ(names.take("Grass", ".tga"), "Grass.tga");
    EXPECT_EQ(names.take("GRASS", ".tga"), "GRASS_3.tga");
    EXPECT_EQ(names.take("grass", ".tga"), "grass_4.tga");
    EXPECT_EQ(names.take("grass", ".png"), "grass.png");
    EXPECT_EQ(names.take("grass", ".png"), "grass_2.png");
    EXPECT_EQ(names.take("grass_4", ".tga"), "grass_4_2.tga");
    EXPECT_EQ(names.take("grass.tga"), "grass_5.tga");

    // Many equal names: every one distinct, numbered in order.
    UniqueFileNames many;
    std::set<std::string> seen;
    for (int i = 1; i <= 5000; ++i) {
        const std::string name = many.take("same", ".txd");
        EXPECT_TRUE(seen.insert(name).second) << name;
        if (i == 1) {
            EXPECT_EQ(name, "same.txd");
        } else if (i == 5000) {
            EXPECT_EQ(name, "same_5000.txd");
        }
    }
}
