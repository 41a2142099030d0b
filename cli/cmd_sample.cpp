// PLACEHOLDER: replaced by the real command.
#include "cli/commands.h"

int cmdSample(const std::vector<std::string>&) { return reportError("sample: not built yet"); }
