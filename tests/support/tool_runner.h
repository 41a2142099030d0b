// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Runs the quarnix-tool built next to the running test program. The test
// programs that use it depend on the tool in the build, so a test never runs
// against a stale or missing tool.
#include <string>
#include <vector>

struct ToolRun {
    int exitCode = -1;  // -1 when the tool did not end normally
    std::string out;    // stdout
    std::string err;    // stderr
};

// The path of quarnix-tool beside this test program.
std::string quarnixToolPath();

// Runs quarnix-tool with `args`, stdin empty, and returns what it printed.
ToolRun runQuarnixTool(const std::vector<std::string>& args);

// quarnix-tool started in the background with `args`, its output thrown
// away: for tests that stop it from outside. Killed and reaped at the end
// of the object's life when still running.
class RunningTool {
public:
    // Its stderr goes to `errFile` when given.
    explicit RunningTool(const std::vector<std::string>& args, const std::string& errFile = "");
    ~RunningTool();
    RunningTool(const RunningTool&) = delete;
    RunningTool& operator=(const RunningTool&) = delete;

    int pid() const { return pid_; }
    // Sends `signal` (nothing when it has ended).
    void signal(int signal);
    // True once it has ended (reaps it).
    bool finished();
    // Waits for the end; the raw wait status.
    int wait();

private:
    int pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};
