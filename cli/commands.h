// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// quarnix-tool's commands. Each command declares its arguments and options
// for the tool's command-line parser and a function that runs it once they
// are parsed. Data a command produces goes to stdout; messages, progress and
// errors go to stderr. Exit codes: 0 success, 1 failure, 2 usage error.
#include <QCommandLineParser>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

struct ToolArgument {
    const char* name;  // "ARCHIVE"
    const char* description;
};

struct ToolCommand {
    const char* name;                     // "list"
    const char* summary;                  // one line for the tool's own help
    const char* description;              // the command's help, a few sentences
    std::vector<ToolArgument> arguments;  // all required, in order
    // Adds the command's options (may be null).
    void (*addOptions)(QCommandLineParser& parser);
    // Runs the command with its parsed options and its positional arguments
    // (UTF-8, exactly as many as `arguments`). Returns the exit code; may
    // throw, the tool reports the error and returns 1.
    int (*run)(const QCommandLineParser& parser, const std::vector<std::string>& args);
    // More arguments of the kind of the last one may follow ("[FILE...]");
    // `run` gets the required ones, the parser has them all.
    const char* more = nullptr;
};

extern const ToolCommand kListCommand;
extern const ToolCommand kTexturesCommand;
extern const ToolCommand kExportCommand;
extern const ToolCommand kExportAllCommand;
extern const ToolCommand kExtractCommand;
extern const ToolCommand kExtractAllCommand;
extern const ToolCommand kImportCommand;
extern const ToolCommand kImportAllCommand;
extern const ToolCommand kConvertCommand;
extern const ToolCommand kSampleCommand;
extern const ToolCommand kAddCommand;
extern const ToolCommand kReplaceCommand;
extern const ToolCommand kRemoveCommand;
extern const ToolCommand kRenameCommand;
extern const ToolCommand kRebuildCommand;
extern const ToolCommand kNewCommand;
extern const ToolCommand kInfoCommand;
extern const ToolCommand kUndoCommand;
extern const ToolCommand kRedoCommand;
extern const ToolCommand kAddTextureCommand;
extern const ToolCommand kRemoveTextureCommand;
extern const ToolCommand kRenameTextureCommand;
extern const ToolCommand kNewTxdCommand;

struct ArchiveContents;
struct Recovery;

// The archive core's openArchive (lock, undo a change that was cut off,
// read), telling what recovery put back in one line on stderr.
ArchiveContents openArchiveForCommand(const std::string& path);
// That line, when recovery put something back.
void reportRecovery(const Recovery& recovery, const std::string& archivePath);

// Prints errorBoxText(message) to stderr and returns 1.
int reportError(const std::string& message);
// Prints "quarnix-tool COMMAND: problem", the command's usage line and a hint
// to stderr and returns 2.
int usageError(const ToolCommand& command, const std::string& problem);
// Prints the one line an edit ends with, saying what it did, to stderr and
// returns 0.
int editDone(const std::string& what);
// Every positional argument from the `first` on, those `more` allows included.
std::vector<std::string> positionalFrom(const QCommandLineParser& parser, size_t first);
// Writes `text` to stdout; "Stream write error" when it cannot.
void writeOut(const std::string& text);
// A UTF-8 argument given on the command line as a QString and back.
std::string utf8(const QString& text);
