// PLACEHOLDER: replaced by the real command.
#include "cli/commands.h"

int cmdList(const std::vector<std::string>&) { return reportError("list: not built yet"); }
