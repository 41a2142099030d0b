// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool: the headless companion of the Quarnix app. It opens the same
// archives through the same code and does the same jobs from a shell.
#include "cli/commands.h"

#include "archive/archive.h"
#include "formats/archive_directory.h"
#include "imaging/picture_registry.h"
#include "platform/exceptions.h"
#include "platform/file_write.h"
#include "platform/licence.h"
#include "platform/text.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <new>

#ifndef QX_VERSION
#define QX_VERSION "0"
#endif

namespace {

const ToolCommand* const kCommands[] = {
    &kListCommand,          &kTexturesCommand, &kExportCommand,    &kExportAllCommand,  &kExtractCommand,
    &kExtractAllCommand,    &kImportCommand,   &kImportAllCommand, &kAddTextureCommand, &kRemoveTextureCommand,
    &kRenameTextureCommand, &kNewTxdCommand,   &kConvertCommand,   &kSampleCommand,     &kInfoCommand,
    &kNewCommand,           &kAddCommand,      &kReplaceCommand,   &kRemoveCommand,     &kRenameCommand,
    &kRebuildCommand,       &kUndoCommand,     &kRedoCommand,
};

std::string usageLine(const ToolCommand& c)
{
    std::string line = std::string("quarnix-tool ") + c.name + " [options]";
    for (const ToolArgument& a : c.arguments)
        line += std::string(" ") + a.name;
    if (c.more)
        line += std::string(" ") + c.more;
    return line;
}

// Breaks text into lines of at most `width` characters at blanks.
std::string wrapped(const std::string& text, size_t width = 79)
{
    std::string out, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line;
}

std::string toolHelp()
{
    std::string text = "Usage: quarnix-tool COMMAND [options] ARGUMENTS...\n"
                       "Looks into a game's resource archives (.dir with its .img, a VER2 .img, or a\n"
                       "standalone .txd), lists their entries and textures, exports and imports textures,\n"
                       "and changes entries and dictionaries, each change one transaction that can be\n"
                       "undone.\n"
                       "\nCommands:\n";
    // The summaries in one column, after the longest name.
    size_t column = 0;
    for (const ToolCommand* c : kCommands)
        column = std::max(column, std::strlen(c->name) + 4);
    for (const ToolCommand* c : kCommands) {
        std::string name = std::string("  ") + c->name;
        name.resize(column, ' ');
        text += name + c->summary + "\n";
    }
    text += "\nOptions:\n"
            "  -h, --help     Show this help; with a command, the command's help.\n"
            "  -v, --version  Show the version.\n"
            "\nRun 'quarnix-tool COMMAND --help' for a command's arguments and options.\n"
            "Exit status: 0 on success, 1 when the command fails, 2 for a usage error.\n";
    return text;
}

int printToolUsage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "quarnix-tool: %s\n", problem.c_str());
    std::fputs(toolHelp().c_str(), stderr);
    return 2;
}

int runCommand(const ToolCommand& c, const QStringList& args)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromStdString(wrapped(c.description)));
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    parser.addOption(help);
    if (c.addOptions)
        c.addOptions(parser);
    for (const ToolArgument& a : c.arguments)
        parser.addPositionalArgument(QString::fromUtf8(a.name), QString::fromUtf8(a.description));
    if (c.more)
        parser.addPositionalArgument(QString::fromUtf8(c.more), QStringLiteral("More of the same."));

    if (!parser.parse(args))
        return usageError(c, utf8(parser.errorText()));
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Qt's first line names the program only; ours names the command too.
        text = QStringLiteral("Usage: ") + QString::fromUtf8(usageLine(c)) + text.mid(text.indexOf(u'\n'));
        writeOut(utf8(text));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    const qsizetype required = qsizetype(c.arguments.size());
    if (positional.size() < required || (positional.size() > required && !c.more))
        return usageError(c, positional.size() < required ? "missing arguments" : "too many arguments");
    std::vector<std::string> values;
    for (qsizetype i = 0; i < required; ++i)
        values.push_back(utf8(positional[i]));
    try {
        return c.run(parser, values);
    } catch (const Exception& e) {
        // The file and the system's reason where they are known.
        return reportError(e.detail());
    } catch (const std::bad_alloc&) {
        return reportError("Out of memory");
    } catch (const std::exception& e) {
        return reportError(e.what());
    }
}

}  // namespace

ArchiveContents openArchiveForCommand(const std::string& path)
{
    Recovery recovery;
    ArchiveContents archive = ::openArchive(path, &recovery);
    reportRecovery(recovery, path);
    return archive;
}

void reportRecovery(const Recovery& recovery, const std::string& archivePath)
{
    if (recovery.restored)
        std::fprintf(stderr, "%s\n", recovery.message(escapeControlCharacters(archivePath)).c_str());
}

int reportError(const std::string& message)
{
    std::fprintf(stderr, "%s\n", errorBoxText(message).c_str());
    return 1;
}

int usageError(const ToolCommand& command, const std::string& problem)
{
    std::fprintf(stderr, "quarnix-tool %s: %s\nUsage: %s\nRun 'quarnix-tool %s --help' for more.\n", command.name,
                 problem.c_str(), usageLine(command).c_str(), command.name);
    return 2;
}

int editDone(const std::string& what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    return 0;
}

std::vector<std::string> positionalFrom(const QCommandLineParser& parser, size_t first)
{
    std::vector<std::string> out;
    const QStringList all = parser.positionalArguments();
    for (qsizetype i = qsizetype(first); i < all.size(); ++i)
        out.push_back(utf8(all[i]));
    return out;
}

void writeOut(const std::string& text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw streamWriteError(systemErrorDetail("cannot write", "the standard output", errno));
}

std::string utf8(const QString& text)
{
    return text.toStdString();
}

int main(int argc, char** argv)
{
    // Commands that write many files allocate and free a texture-sized buffer
    // for each: keep freed memory for the next one instead of handing it back
    // to the system and faulting it in again every time. Buffers above 16 MiB
    // (a 2048 x 2048 texture at 32 bits) come from the system and go back to
    // it as soon as they are freed, so that one big picture's buffers are not
    // kept after their use and the peak stays what is in use at once.
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
    // An interrupted export leaves no temporary file behind.
    removeTemporaryFilesOnSignal();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quarnix-tool"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX_VERSION));
    // Every picture format, including those the app registers only when its
    // import preview dialog is created.
    InitImageLibrary();
    RegisterImportPreviewFormats();

    QStringList args = QCoreApplication::arguments();
    if (args.size() < 2)
        return printToolUsage("");
    const QString first = args[1];
    if (first == "-h" || first == "--help" || first == "help") {
        try {
            writeOut(toolHelp());
        } catch (const Exception& e) {
            return reportError(e.message());
        }
        return 0;
    }
    if (first == "-v" || first == "--version") {
        std::printf("quarnix-tool %s\n%s", QX_VERSION, kLicenceNotice);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    for (const ToolCommand* c : kCommands) {
        if (first == QLatin1String(c->name)) {
            args.removeAt(1);  // the parser sees the program name, then the command's own arguments
            return runCommand(*c, args);
        }
    }
    return printToolUsage(first.startsWith(u'-') ? "unknown option '" + utf8(first) + "'"
                                                 : "unknown command '" + utf8(first) + "'");
}
