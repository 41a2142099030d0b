#pragma once
// Runs the quarnix-tool built next to the running test program. The test
// programs that use it depend on the tool in the build, so a test never runs
// against a stale or missing tool.
#include <string>
#include <vector>

struct ToolRun {
    int exitCode = -1;   // -1 when the tool did not end normally
    std::string out;     // stdout
    std::string err;     // stderr
};

// The path of quarnix-tool beside this test program.
std::string quarnixToolPath();

// Runs quarnix-tool with `args`, stdin empty, and returns what it printed.
ToolRun runQuarnixTool(const std::vector<std::string>& args);
