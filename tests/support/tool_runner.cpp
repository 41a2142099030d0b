#include "support/tool_runner.h"

#include <QProcess>
#include <QStringList>

#include <filesystem>

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
