// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// UserDialogs: every modal interaction of the program with its user.
//
// The main window asks through this interface for file names, confirmations
// and shows its error and message boxes. The app installs an implementation
// built on the desktop's dialogs; tests install a scripted one, so every
// handler runs headless without a person answering.
//
// Texts are UTF-8. File dialog filters use the "description|patterns" pairs
// form ("Targa Image|*.tga", several patterns joined by ";"); an
// implementation converts them to its toolkit's syntax.
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// How a file dialog is set up. The main window keeps one per dialog (OD, SD,
// OpenPictureDialog) and passes it on each call.
struct FileDialogSetup {
    std::string filter;  // "desc|patterns|desc|patterns..."
    // Further "desc|patterns" pairs a dialog offers after `filter`: the other
    // formats a save dialog can write ("" = none).
    std::string extraFilters;
    std::string defaultExt;  // appended when the typed name has none ("" = none)
    std::string title;       // "" = the toolkit's default caption
    std::string fileName;    // initial file name ("" = none)
    bool fileMustExist = false;
    bool overwritePrompt = true;  // save dialogs: ask before an existing file is replaced
};

// The replace dialog's answer after "Replace all" (texts UTF-8).
struct ReplaceRequest {
    std::string textToFind;
    std::string replacement;
    bool caseSensitive = false;
};

// The answer of a file-save dialog that offers several formats.
struct SaveFileChoice {
    std::string fileName;
    // The "desc|patterns" pair selected when the dialog closed, counted from
    // 0 over `filter` and then `extraFilters`.
    int filterIndex = 0;
};

// Work that runs beside the user interface (on a thread of its own) while a
// progress box is up: the box asks whether it has ended and passes Cancel on.
class LongTask {
public:
    virtual ~LongTask() = default;
    // True once the work has ended: done, failed or cancelled.
    virtual bool finished() const = 0;
    // Asks the work to stop as soon as it can.
    virtual void cancel() = 0;
    // False for work that cannot be stopped once it has begun (its box
    // offers no Cancel).
    virtual bool cancellable() const { return true; }
    // How far the work has come, in thousandths; -1 when it does not say.
    virtual int permille() const { return -1; }
    // A line under the box's text saying where the work is ("12 of 200:
    // city.txd"); empty when it says nothing more.
    virtual std::string progressLine() const { return {}; }
};

// The choices of "Export all...": the format of the picture files.
struct ExportAllChoices {
    bool png = false;  // PNG files (alpha kept) in place of TGA
};

// The choices of "Import folder...".
struct ImportFolderChoices {
    bool exact = false;        // "Keep pixels exactly"
    bool pictureSize = false;  // a picture of another size makes its texture again at its own size
    bool bestDxt = false;      // DXT blocks by the slower, closer encoder
};

// A dialog that its owner has built and filled (the import preview), shown
// modally through UserDialogs; the port knows nothing else of it.
class ModalForm {
public:
    virtual ~ModalForm() = default;
    // Shows the form modally until it closes: true when it was accepted.
    virtual bool showModal() = 0;
};

class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // File-open dialog: the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> openFile(const FileDialogSetup& dialog) = 0;
    // File-save dialog: the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> saveFile(const FileDialogSetup& dialog) = 0;

    // Modal box centred on the screen with a question-mark icon, `text` and
    // the buttons OK (default) and Cancel (also Esc). True for OK.
    virtual bool confirm(const std::string& caption, const std::string& text) = 0;

    // The error box: `caption`, the error icon, `text` as given, one OK button.
    virtual void errorBox(const std::string& caption, const std::string& text) = 0;

    // The plain message box: centred on the screen, `caption`, no icon,
    // `text` unchanged, one OK button.
    virtual void messageBox(const std::string& caption, const std::string& text) = 0;

    // The Find input box, opened with `text` all selected: the edited text
    // after OK, nothing after Cancel or Esc.
    virtual std::optional<std::string> findInputBox(const std::string& text) = 0;

    // A new replace dialog, owned by the main window: what it was closed
    // with by "Replace all", nothing after "Cancel" or Esc.
    virtual std::optional<ReplaceRequest> replaceDialog() = 0;

    // The picture-open dialog (a file dialog with a preview pane beside the
    // file list): the chosen picture file, or nothing when cancelled.
    virtual std::optional<std::string> openPicture(const FileDialogSetup& dialog) = 0;

    // Shows the import preview dialog modally: true when it closed with
    // "Import", false for "Cancel" or its close box.
    virtual bool showImportPreview(ModalForm& form) = 0;

    // The file-save dialog offering `filter` and then `extraFilters`: the
    // chosen path with the filter selected when it closed, or nothing when
    // cancelled. By default saveFile, reporting the first filter.
    virtual std::optional<SaveFileChoice> saveFileChoosingFilter(const FileDialogSetup& dialog)
    {
        std::optional<std::string> chosen = saveFile(dialog);
        if (!chosen)
            return std::nullopt;
        return SaveFileChoice{std::move(*chosen), 0};
    }

    // File-open dialog choosing one file or several: the chosen paths, none
    // when cancelled. By default openFile's one file.
    virtual std::vector<std::string> openFiles(const FileDialogSetup& dialog)
    {
        std::optional<std::string> chosen = openFile(dialog);
        return chosen ? std::vector<std::string>{std::move(*chosen)} : std::vector<std::string>{};
    }

    // A folder chooser (`dialog.title`, starting at `dialog.fileName` when
    // given): the chosen folder, or nothing when cancelled. By default
    // nothing.
    virtual std::optional<std::string> chooseFolder(const FileDialogSetup& dialog)
    {
        (void)dialog;
        return std::nullopt;
    }

    // The choices of "Export all..." (`text` says what is exported where),
    // starting as `initial`: what was chosen, nothing after Cancel. By
    // default `initial`, as it is.
    virtual std::optional<ExportAllChoices> exportAllChoices(const std::string& text, const ExportAllChoices& initial)
    {
        (void)text;
        return initial;
    }

    // The choices of "Import folder..." (`text` says what is imported from
    // where), starting as `initial`: what was chosen, nothing after Cancel.
    // By default `initial`, as it is.
    virtual std::optional<ImportFolderChoices> importFolderChoices(const std::string& text,
                                                                   const ImportFolderChoices& initial)
    {
        (void)text;
        return initial;
    }

    // The plain message box with `details` (lines) in a part the user can
    // open and scroll; with no details, messageBox. By default messageBox,
    // the details after the text.
    virtual void messageBoxWithDetails(const std::string& caption, const std::string& text,
                                       const std::vector<std::string>& details)
    {
        std::string all = text;
        if (!details.empty())
            all += "\n";
        for (const std::string& line : details)
            all += "\n" + line;
        messageBox(caption, all);
    }

    // A modal progress box with `text`, a bar and, for work that can be
    // stopped, a Cancel button, up until `task` has ended. The bar shows how
    // far the work has come where it says (task.permille()), else that it is
    // busy; a line under the text shows task.progressLine() where it says.
    // Cancel calls task.cancel() and the box stays until the task has
    // stopped. By default it waits for the task without showing anything.
    virtual void showProgress(const std::string& text, LongTask& task)
    {
        (void)text;
        while (!task.finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};
