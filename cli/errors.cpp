#include "cli/commands.h"

#include <cstdio>

std::string errorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

int reportError(const std::string& message)
{
    std::fprintf(stderr, "%s\n", errorBoxText(message).c_str());
    return 1;
}
