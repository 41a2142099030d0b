#pragma once
// quarnix-tool's commands. Each takes the arguments after the command name,
// prints errors to stderr as the error box would word them, and returns the
// exit code (0 success, 1 failure, 2 usage).
#include <string>
#include <vector>

int cmdList(const std::vector<std::string>& args);
int cmdSample(const std::vector<std::string>& args);
int cmdConvert(const std::vector<std::string>& args);

// The error box's text rule: a full stop is added when the message is not
// empty and its last character's code is above that of ".".
std::string errorBoxText(const std::string& message);
// Prints errorBoxText(message) to stderr and returns 1.
int reportError(const std::string& message);
