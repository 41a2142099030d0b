// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared pieces of the app's tests: the QApplication, a scripted UserDialogs
// and a main window that records what the image view and key preview saw.
#include "app/main_form.h"
#include "platform/user_dialogs.h"

#include <QApplication>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace apptest {

// Creates the one QApplication of the test program (offscreen unless the
// environment asks for another platform).
QApplication& app();

// Answers dialogs from queues and records every box shown.
class ScriptedDialogs : public UserDialogs {
public:
    struct Box {
        std::string caption;
        std::string text;
    };

    std::deque<std::optional<std::string>> openAnswers;  // empty queue: cancel
    std::deque<std::optional<std::string>> saveAnswers;
    std::deque<bool> confirmAnswers;  // empty queue: Cancel
    std::vector<FileDialogSetup> openRequests;
    std::vector<FileDialogSetup> saveRequests;
    std::vector<Box> confirms;
    std::vector<Box> errors;
    std::vector<Box> messages;

    std::optional<std::string> openFile(const FileDialogSetup& dialog) override;
    std::optional<std::string> saveFile(const FileDialogSetup& dialog) override;
    bool confirm(const std::string& caption, const std::string& text) override;
    void errorBox(const std::string& caption, const std::string& text) override;
    void messageBox(const std::string& caption, const std::string& text) override;

    std::deque<std::optional<std::string>> findAnswers;        // empty queue: Cancel
    std::vector<std::string> findRequests;                     // the text each Find box opened with
    std::deque<std::optional<ReplaceRequest>> replaceAnswers;  // empty queue: Cancel
    int replaceRequests = 0;
    // Runs while the replace dialog is "open" (as a real one would, it may
    // move the keyboard focus).
    std::function<void()> whileReplaceDialogOpen;

    std::optional<std::string> findInputBox(const std::string& text) override;
    std::optional<ReplaceRequest> replaceDialog() override;

    std::deque<std::optional<std::string>> pictureAnswers;  // empty queue: cancel
    std::vector<FileDialogSetup> pictureRequests;
    // Import preview: the answer, and what the dialog looked like when shown.
    std::deque<bool> previewAnswers;  // empty queue: Cancel
    struct PreviewSeen {
        int clientWidth = 0, clientHeight = 0;
        int viewWidth = 0, viewHeight = 0;
        int pictureWidth = 0, pictureHeight = 0;
        bool vertScrollBar = false, horzScrollBar = false;
        std::string target;    // the line naming what the import overwrites
        bool exact = false;    // "Keep pixels exactly" was ticked
        bool choices = false;  // the panel of a sectioned texture's choices was shown
        std::string bytes;     // what the panel said the texture's data takes
    };
    std::vector<PreviewSeen> previews;
    // Runs while the preview is "open", before it is looked at (as a user
    // would, it may tick "Keep pixels exactly").
    std::function<void(ModalForm& form)> whilePreviewOpen;
    std::optional<std::string> openPicture(const FileDialogSetup& dialog) override;
    bool showImportPreview(ModalForm& form) override;

    // Save dialogs offering several formats: the filter each answer chose
    // (an empty queue: the first filter).
    std::deque<int> saveFilterAnswers;
    std::optional<SaveFileChoice> saveFileChoosingFilter(const FileDialogSetup& dialog) override;

    // Progress boxes: the text of each, whether it offered Cancel, and
    // whether to press Cancel at once (an empty queue: wait for the work to
    // end; a box without Cancel is never cancelled).
    std::vector<std::string> progressTexts;
    std::vector<bool> progressCancellable;
    std::deque<bool> progressCancels;
    // Runs while a box is up, after Cancel was pressed or not.
    std::function<void(LongTask& task)> whileProgressShown;
    void showProgress(const std::string& text, LongTask& task) override;

    // Several files chosen at once, and folders (empty queues: cancel).
    std::deque<std::vector<std::string>> openFilesAnswers;
    std::vector<FileDialogSetup> openFilesRequests;
    std::deque<std::optional<std::string>> folderAnswers;
    std::vector<FileDialogSetup> folderRequests;
    std::vector<std::string> openFiles(const FileDialogSetup& dialog) override;
    std::optional<std::string> chooseFolder(const FileDialogSetup& dialog) override;

    // The choices of Export all and Import folder (empty queues: Cancel),
    // with the text and initial choices each box was shown with.
    std::deque<ExportAllChoices> exportAllAnswers;
    std::deque<ImportFolderChoices> importFolderAnswers;
    std::vector<std::pair<std::string, ExportAllChoices>> exportAllRequests;
    std::vector<std::pair<std::string, ImportFolderChoices>> importFolderRequests;
    std::optional<ExportAllChoices> exportAllChoices(const std::string& text, const ExportAllChoices& initial) override;
    std::optional<ImportFolderChoices> importFolderChoices(const std::string& text,
                                                           const ImportFolderChoices& initial) override;
    // Message boxes with details: recorded here, not in `messages`.
    struct DetailedBox {
        std::string caption;
        std::string text;
        std::vector<std::string> details;
    };
    std::vector<DetailedBox> detailedMessages;
    void messageBoxWithDetails(const std::string& caption, const std::string& text,
                               const std::vector<std::string>& details) override;
};

// An archive directory "m.dir" with its "m.img" of three entries: "a.dff"
// (100 bytes), "city.txd" (a sectioned dictionary, cityDictionary()) and
// "b.col" (100 bytes), each in sectors of its own.
void writeCityArchive(const std::string& dirFile, const std::string& imgFile);
// The city.txd of it: "grass" (8888, 8 x 8, 4 levels), "sky" (DXT1, 8 x 8,
// one level), "road" (565, 4 x 4, one level), platform 9.
std::vector<uint8_t> cityDictionary();

// The sections directly inside a sectioned dictionary (its struct, its
// textures, its closing extension), found from the section headers alone.
struct Section {
    uint32_t type = 0;
    size_t offset = 0;  // of its 12-byte header, from the dictionary's start
    size_t end = 0;     // after its body
};
std::vector<Section> sectionsOf(const std::vector<uint8_t>& dictionary);

// A 32-bit TGA file of width x height pixels (B, G, R, A, first row at the top).
void writeTga32(const std::string& path, int width, int height, const std::vector<uint8_t>& bgra);

// TForm1 with a scripted dialogs object and counters for the hooks.
class TestForm : public TForm1 {
public:
    TestForm();
    ScriptedDialogs& script() { return *script_; }

    int imageViewClears = 0;
    std::vector<int> previewedKeys;
    // Runs on the thread of long work before the work starts.
    std::function<void()> onWorkThread;
    // Runs on the thread of Export all and Import folder after each step.
    std::function<void(int64_t done)> onBatchProgress;

    void clearImageView() override;
    void FormKeyDown(int key, Qt::KeyboardModifiers shift) override;

protected:
    void workThreadStarting() override
    {
        if (onWorkThread)
            onWorkThread();
    }
    void batchProgressed(int64_t done) override
    {
        if (onBatchProgress)
            onBatchProgress(done);
    }

private:
    ScriptedDialogs* script_;
};

// The entries of a drag of local files that enters the window at `at` and
// is dropped there.
void dropFiles(QWidget& window, const std::vector<std::string>& files, QPoint at);

}  // namespace apptest
