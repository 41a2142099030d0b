// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Text services: archive and texture names are single-byte Windows-1250 text.
// Comparisons and casing follow the user's locale on the decoded text.
#include <QCollatorSortKey>
#include <QString>
#include <cstdint>
#include <string>

// Windows-1250 bytes <-> Unicode. Bytes the code page leaves undefined map to
// the C1 control of the same code, so every byte string round-trips.
QString fromCp1250(const std::string& bytes);
std::string toCp1250(const QString& text);
// Windows-1250 bytes as UTF-8 text, every byte kept (see fromCp1250).
std::string cp1250ToUtf8(const std::string& bytes);

// Text made safe to print: every control character is written out, so that
// a name can neither forge a line or a column of a listing nor send a
// command to the terminal. Tab, newline and carriage return become \t, \n
// and \r, the other bytes below 0x20 and 0x7F become \xHH (ESC is \x1b), a
// backslash becomes \\; the C1 controls U+0080 to U+009F (bytes the code
// page leaves undefined) become \xHH of their code. Everything else is kept.
std::string escapeControlCharacters(const std::string& utf8);
// A name from an archive (Windows-1250 bytes) as it is printed: UTF-8 with
// its control characters escaped.
std::string displayName(const std::string& cp1250);

// Locale collation ignoring letter case: <0, 0, >0 like strcmp.
int localeCompareIgnoreCase(const QString& a, const QString& b);
int localeCompareIgnoreCaseCp1250(const std::string& a, const std::string& b);
// Sort key with the same order as localeCompareIgnoreCase (for sorting many rows).
QCollatorSortKey localeSortKeyIgnoreCase(const QString& text);
// Equality ignoring case under the locale.
bool sameTextIgnoreCase(const QString& a, const QString& b);
bool sameTextIgnoreCaseUtf8(const std::string& a, const std::string& b);

// The letters A to Z made a to z; every other byte, including letters beyond
// ASCII, stays as it is. For matches that must not depend on the locale.
inline char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline std::string asciiLower(std::string text)
{
    for (char& c : text)
        c = asciiLower(c);
    return text;
}

// "1 texture", "2 textures": a count and the word that goes with it.
std::string counted(int64_t count, const char* singular, const char* plural);

// Locale upper- and lower-casing (UTF-8 in and out).
std::string localeUpper(const std::string& utf8);
std::string localeLower(const std::string& utf8);
