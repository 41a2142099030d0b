// PLACEHOLDER: replaced by the real command.
#include "cli/commands.h"

int cmdConvert(const std::vector<std::string>&) { return reportError("convert: not built yet"); }
