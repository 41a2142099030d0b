// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/tool_runner.h"

#include <QProcess>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

std::string quarnixToolPath()
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "quarnix-tool").string();
}

ToolRun runQuarnixTool(const std::vector<std::string>& args)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    QProcess p;
    p.start(QString::fromStdString(quarnixToolPath()), list);
    p.closeWriteChannel();
    ToolRun r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
    }
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    if (p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    return r;
}

RunningTool::RunningTool(const std::vector<std::string>& args, const std::string& errFile)
{
    const std::string tool = quarnixToolPath();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.empty() ? "/dev/null" : errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
}

RunningTool::~RunningTool()
{
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

void RunningTool::signal(int signal)
{
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, signal);
}

bool RunningTool::finished()
{
    if (pid_ <= 0 || reaped_)
        return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_)
        reaped_ = true;
    return reaped_;
}

int RunningTool::wait()
{
    if (pid_ > 0 && !reaped_) {
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }
    return status_;
}
