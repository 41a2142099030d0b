// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/exceptions.h"

#include "platform/text.h"

#include <cstring>

EReadError streamReadError(std::string detail)
{
    return EReadError("Stream read error", std::move(detail));
}

EWriteError streamWriteError(std::string detail)
{
    return EWriteError("Stream write error", std::move(detail));
}

EFOpenError cannotOpen(const std::string& path, std::string detail)
{
    return EFOpenError("Cannot open file " + path, std::move(detail));
}

EFCreateError cannotCreate(const std::string& path, std::string detail)
{
    return EFCreateError("Cannot create file " + path, std::move(detail));
}

const char* const kImageTooLarge = "Image is too large";

EOutOfMemory imageTooLarge()
{
    return EOutOfMemory(kImageTooLarge);
}

std::string errorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

std::string formatMessage(const std::string& templ, std::initializer_list<std::string> args)
{
    std::string out;
    out.reserve(templ.size() + 32);
    auto arg = args.begin();
    for (size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] == '%' && i + 1 < templ.size() && (templ[i + 1] == 's' || templ[i + 1] == 'd')
            && arg != args.end()) {
            out += *arg++;
            ++i;
        } else {
            out += templ[i];
        }
    }
    return out;
}

std::string systemErrorDetail(const std::string& what, const std::string& path, int errnum)
{
    return what + " " + escapeControlCharacters(path) + ": " + std::strerror(errnum);
}
