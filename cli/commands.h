#pragma once
// quarnix-tool's commands. Each takes the arguments after the command name,
// prints errors to stderr as the error box would word them, and returns the
// exit code (0 success, 1 failure, 2 usage).
#include <string>
#include <vector>

int cmdList(const std::vector<std::string>& args);
int cmdSample(const std::vector<std::string>& args);
int cmdConvert(const std::vector<std::string>& args);

// Prints errorBoxText(message) to stderr and returns 1.
int reportError(const std::string& message);
