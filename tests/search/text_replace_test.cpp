// SPDX-License-Identifier: GPL-2.0-or-later
#include "search/text_replace.h"

#include "platform/text.h"

#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Upper-casing follows the user's locale; these checks run under English.
const bool kLocaleChosen = [] {
    setenv("LC_ALL", "en_US.UTF-8", 1);
    return true;
}();

// Windows-1250 bytes of a UTF-8 literal.
std::string cp(const char* utf8)
{
    return toCp1250(QString::fromUtf8(utf8));
}

struct FoldCase {
    const char* haystack;
    const char* needle;
    bool contains;
};

TEST(ContainsFoldingAsciiLetters, FoldsOnlyAToZ)
{
    const FoldCase cases[] = {
        {"xABCx", "abc", true},
        {"xabcx", "ABC", true},
        {"aBc", "AbC", true},
        {"abc", "abd", false},
        {"ab", "abc", false},
        {"", "a", false},
        {"anything", "", true},
        // Neighbours of the letters differ only in the 0x20 bit too; they are not letters.
        {"[", "{", false},
        {"@", "`", false},
        {"^", "~", false},
        // Letters beyond A-Z are not folded.
        {"\xC9", "\xE9", false},  // É / é
        {"\xE9", "\xC9", false},
        {"\x8A", "\x9A", false},  // Š / š
        {"\xE9", "\xE9", true},
    };
    for (const FoldCase& c : cases)
        EXPECT_EQ(containsFoldingAsciiLetters(c.haystack, c.needle), c.contains) << c.haystack << " / " << c.needle;
}

struct ReplaceCase {
    std::string text;
    std::string pattern;
    std::string replacement;
    ReplaceFlags flags;
    std::string expected;
};

TEST(ReplaceText, LeftToRightWithoutOverlapOrRescan)
{
    const int all = rfReplaceAll;
    const int allIgnoring = rfReplaceAll | rfIgnoreCase;
    const ReplaceCase cases[] = {
        {"aaaa", "aa", "a", all, "aa"},
        {"aaa", "aa", "b", all, "ba"},
        {"abcabc", "bc", "X", all, "aXaX"},
        {"aXa", "a", "aa", all, "aaXaa"},  // the inserted text is not searched again
        {"abc", "abc", "", all, ""},
        {"abc", "", "X", all, "abc"},  // an empty pattern never occurs
        {"", "a", "b", all, ""},
        {"abc", "abcd", "X", all, "abc"},
        {"ABC", "abc", "x", all, "ABC"},  // case counts without ignore-case
        {"abab", "ab", "x", 0, "xab"},    // without replace-all: the first only
        {"xABCx", "abc", "q", allIgnoring, "xqx"},
        {"aBcD", "bc", "x", allIgnoring, "axD"},  // unreplaced parts keep their case
        {"Hello", "hello", "WoRlD", allIgnoring, "WoRlD"},
        {cp("Éé"), cp("é"), "x", allIgnoring, "xx"},
        {cp("ŘÍZEK řízek"), cp("řízek"), "#", allIgnoring, "# #"},
        // The sharp s has no one-character upper case: it stays as it is, so
        // the compare copy keeps the text's length and positions stay right.
        {cp("ßab"), "AB", "X", allIgnoring, cp("ßX")},
        {cp("Straße"), "SS", "x", allIgnoring, cp("Straße")},
        {cp("aßbß"), cp("ß"), "s", allIgnoring, "asbs"},
        // Micro sign: its upper case is not in the code page; it matches itself only.
        {cp("µ M"), cp("µ"), "u", allIgnoring, "u M"},
    };
    for (const ReplaceCase& c : cases) {
        EXPECT_EQ(replaceText(c.text, c.pattern, c.replacement, c.flags), c.expected)
            << c.text << " / " << c.pattern << " / " << c.replacement << " / " << c.flags;
    }
}

TEST(ReplaceText, IgnoreCaseFoldsEveryLetterOfTheCodePage)
{
    // Lower- and upper-case letters of the code page beyond A-Z.
    const char* const pairs[][2] = {
        {"á", "Á"}, {"ä", "Ä"}, {"č", "Č"}, {"ď", "Ď"}, {"é", "É"}, {"ě", "Ě"}, {"í", "Í"}, {"ĺ", "Ĺ"},
        {"ľ", "Ľ"}, {"ň", "Ň"}, {"ó", "Ó"}, {"ô", "Ô"}, {"ő", "Ő"}, {"ö", "Ö"}, {"ŕ", "Ŕ"}, {"ř", "Ř"},
        {"š", "Š"}, {"ś", "Ś"}, {"ť", "Ť"}, {"ú", "Ú"}, {"ů", "Ů"}, {"ű", "Ű"}, {"ü", "Ü"}, {"ý", "Ý"},
        {"ž", "Ž"}, {"ź", "Ź"}, {"ż", "Ż"}, {"ą", "Ą"}, {"ć", "Ć"}, {"ę", "Ę"}, {"ł", "Ł"}, {"ń", "Ń"},
        {"ş", "Ş"}, {"ţ", "Ţ"}, {"ă", "Ă"}, {"â", "Â"}, {"î", "Î"}, {"ç", "Ç"}, {"đ", "Đ"},
    };
    for (const auto& pair : pairs) {
        const std::string lower = cp(pair[0]);
        const std::string upper = cp(pair[1]);
        ASSERT_EQ(lower.size(), 1u) << pair[0];
        ASSERT_EQ(upper.size(), 1u) << pair[1];
        ASSERT_NE(lower, "?") << pair[0];
        EXPECT_EQ(replaceText("x" + upper + "x", lower, "#", rfReplaceAll | rfIgnoreCase), "x#x") << pair[0];
        EXPECT_EQ(replaceText("x" + lower + "x", upper, "#", rfReplaceAll | rfIgnoreCase), "x#x") << pair[1];
        EXPECT_EQ(replaceText("x" + upper + "x", lower, "#", rfReplaceAll), "x" + upper + "x") << pair[0];
    }
}

TEST(Cp1250UpperCase, KeepsLengthAndLeavesNonLettersAlone)
{
    const Cp1250UpperCase upper;
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b)
        all[static_cast<size_t>(b)] = static_cast<char>(b);
    std::string out;
    upper.apply(all, out);
    ASSERT_EQ(out.size(), all.size());
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const bool isLetter = fromCp1250(std::string(1, c)).at(0).isLetter();
        if (!isLetter) {
            EXPECT_EQ(upper(c), c) << "byte " << b;
        }
        // Applying it twice changes nothing more: every image is its own upper case.
        EXPECT_EQ(upper(upper(c)), upper(c)) << "byte " << b;
    }
    EXPECT_EQ(upper('a'), 'A');
    EXPECT_EQ(upper('Z'), 'Z');
    EXPECT_EQ(upper('\xE9'), '\xC9');  // é -> É
    EXPECT_EQ(upper('\xDF'), '\xDF');  // ß stays
}

}  // namespace
