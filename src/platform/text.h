#pragma once
// Text services: archive and texture names are single-byte Windows-1250 text.
// Comparisons and casing follow the user's locale on the decoded text.
#include <QCollatorSortKey>
#include <QString>
#include <string>

// Windows-1250 bytes <-> Unicode. Bytes the code page leaves undefined map to
// the C1 control of the same code, so every byte string round-trips.
QString fromCp1250(const std::string& bytes);
std::string toCp1250(const QString& text);

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

// Locale upper- and lower-casing (UTF-8 in and out).
std::string localeUpper(const std::string& utf8);
std::string localeLower(const std::string& utf8);
