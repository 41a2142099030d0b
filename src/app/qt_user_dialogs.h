// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The desktop's dialogs behind UserDialogs.
#include "platform/user_dialogs.h"

#include <QString>

class QWidget;

// The box QtUserDialogs::showProgress shows: `text`, the task's progress
// line under it where it has one, a bar (how far the work has come, or busy
// where it does not say) and, for work that can be
// stopped, "Cancel". Cancel (the button, Esc or the close box) asks the task
// to stop and the box stays, saying so, until the task has ended; then it
// closes. Work that cannot be stopped keeps its box up until it has ended.
class ProgressBox;

// Converts a "description|patterns|..." filter to Qt's "description (p1 p2)"
// entries joined by ";;". A description that already ends in its own pattern
// list in parentheses ("All (*.png;*.jpg)") has that list replaced by Qt's
// blank-separated form instead of getting a second one.
QString toQtFileFilter(const std::string& filter);

class QtUserDialogs : public UserDialogs {
public:
    // `parent` is the window the file dialogs and the error box belong to.
    explicit QtUserDialogs(QWidget* parent = nullptr) : parent_(parent) {}

    std::optional<std::string> openFile(const FileDialogSetup& dialog) override;
    std::optional<std::string> saveFile(const FileDialogSetup& dialog) override;
    bool confirm(const std::string& caption, const std::string& text) override;
    void errorBox(const std::string& caption, const std::string& text) override;
    void messageBox(const std::string& caption, const std::string& text) override;
    std::optional<std::string> findInputBox(const std::string& text) override;
    std::optional<ReplaceRequest> replaceDialog() override;
    std::optional<std::string> openPicture(const FileDialogSetup& dialog) override;
    bool showImportPreview(ModalForm& form) override;
    // Choosing a filter also makes its first pattern's extension the one
    // appended to a name typed without one.
    std::optional<SaveFileChoice> saveFileChoosingFilter(const FileDialogSetup& dialog) override;
    void showProgress(const std::string& text, LongTask& task) override;
    std::vector<std::string> openFiles(const FileDialogSetup& dialog) override;
    std::optional<std::string> chooseFolder(const FileDialogSetup& dialog) override;
    std::optional<ExportAllChoices> exportAllChoices(const std::string& text, const ExportAllChoices& initial) override;
    std::optional<ImportFolderChoices> importFolderChoices(const std::string& text,
                                                           const ImportFolderChoices& initial) override;
    // The details in the box's "Show Details..." part, a scrolled text.
    void messageBoxWithDetails(const std::string& caption, const std::string& text,
                               const std::vector<std::string>& details) override;

private:
    QWidget* parent_;
};
