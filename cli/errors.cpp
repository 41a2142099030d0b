#include "cli/commands.h"
#include "platform/exceptions.h"

#include <cstdio>

int reportError(const std::string& message)
{
    std::fprintf(stderr, "%s\n", errorBoxText(message).c_str());
    return 1;
}
