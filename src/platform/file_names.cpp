// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file_names.h"

#include "platform/text.h"

#include <QString>

#include <algorithm>
#include <string_view>

namespace {

// True for the names Windows keeps for devices: CON, PRN, AUX, NUL, COM1 to
// COM9 and LPT1 to LPT9, in any letter case, alone or with any extension.
bool isReservedDeviceName(const std::string& name)
{
    const std::string base = asciiLower(name.substr(0, name.find('.')));
    if (base == "con" || base == "prn" || base == "aux" || base == "nul")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) && base[3] >= '1'
           && base[3] <= '9';
}

// A file name ending in a dot or a blank, which Windows drops, gets a "_".
std::string finished(std::string name)
{
    if (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name += '_';
    return name;
}

std::string folded(const std::string& name)
{
    return QString::fromStdString(name).toCaseFolded().toStdString();
}

}  // namespace

std::string safeFileName(const std::string& cp1250)
{
    std::string name = cp1250ToUtf8(cp1250);
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        name.insert(0, 1, '_');
    if (isReservedDeviceName(name)) {
        const size_t dot = std::min(name.find('.'), name.size());
        name = name.substr(0, dot) + '_' + name.substr(dot);
    }
    return name;
}

std::string UniqueFileNames::take(const std::string& base, const std::string& extension)
{
    const std::string first = finished(base + extension);
    if (taken_.insert(folded(first)).second)
        return first;
    // The next number to try for this base and extension: each number is
    // tried once, so equal names cost the same as distinct ones.
    const std::string key = folded(base) + '\0' + folded(extension);
    int64_t& next = nextNumber_.try_emplace(key, 2).first->second;
    for (;; ++next) {
        const std::string name = finished(base + "_" + std::to_string(next) + extension);
        if (taken_.insert(folded(name)).second) {
            ++next;
            return name;
        }
    }
}

std::string UniqueFileNames::take(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == fileName.size())
        return take(fileName, "");
    return take(fileName.substr(0, dot), fileName.substr(dot));
}
