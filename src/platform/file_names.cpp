#include "platform/file_names.h"

#include "platform/text.h"

#include <string_view>

std::string safeFileName(const std::string& cp1250)
{
    std::string name = fromCp1250(cp1250).toStdString();
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        name = "_" + name;
    return name;
}

std::string UniqueFileNames::take(const std::string& base, const std::string& extension)
{
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? base + extension : base + "_" + std::to_string(n) + extension;
        if (taken_.insert(QString::fromStdString(name).toCaseFolded().toStdString()).second)
            return name;
    }
}

std::string UniqueFileNames::take(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == fileName.size())
        return take(fileName, "");
    return take(fileName.substr(0, dot), fileName.substr(dot));
}
