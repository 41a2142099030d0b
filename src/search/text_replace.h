// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The text rules of Find and Replace over single-byte Windows-1250 text.
//
// Find compares with only A-Z folded to a-z. Replace finds its pattern left to
// right, never overlapping and never searching an inserted replacement again;
// ignoring case it compares copies upper-cased under the user's locale.
#include <array>
#include <optional>
#include <string>
#include <string_view>

// Options of the replacement rule (a set of flags).
enum ReplaceFlag : int {
    rfReplaceAll = 1,  // every occurrence (else only the first)
    rfIgnoreCase = 2,  // compare upper-cased copies
};
using ReplaceFlags = int;

// Find's comparison: true when `needle` occurs in `haystack` with only the 26
// letters A-Z folded to a-z on both sides; every other byte must be equal.
// An empty needle occurs everywhere.
bool containsFoldingAsciiLetters(std::string_view haystack, std::string_view needle);

// Byte-for-byte upper-casing of Windows-1250 text under the user's locale.
// A byte maps to the upper case of its character when that upper case is one
// character that the code page holds; otherwise (no upper case, or one that
// is longer, like the sharp s, or missing from the code page) it stays as it
// is. So an upper-cased copy always has the length of its text, and a
// position in one is the same position in the other.
class Cp1250UpperCase {
public:
    Cp1250UpperCase();  // builds the table under the current locale
    char operator()(char c) const { return table_[static_cast<unsigned char>(c)]; }
    // `out` := `text` upper-cased; `out`'s storage is reused.
    void apply(std::string_view text, std::string& out) const;

private:
    std::array<char, 256> table_{};
};

// The replacement rule, set up once for a pattern, replacement and options
// and then applied to many texts without allocating per text beyond what its
// result needs.
class TextReplacer {
public:
    TextReplacer(std::string_view pattern, std::string_view replacement, ReplaceFlags flags);

    // The text with the rule applied. The reference stays valid until the
    // next call.
    const std::string& apply(std::string_view text);

private:
    std::string pattern_;  // compare copy of the pattern
    std::string replacement_;
    bool all_;
    bool ignoreCase_;
    std::optional<Cp1250UpperCase> upper_;  // built only when ignoring case
    std::string compare_;                   // compare copy of the current text
    std::string result_;
};

// One-off form of TextReplacer.
std::string replaceText(std::string_view text, std::string_view pattern, std::string_view replacement,
                        ReplaceFlags flags);
