// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/qt_user_dialogs.h"

#include "imaging/ui/file_filter.h"
#include "imaging/ui/picture_open_dialog.h"

#include "search/ui/find_input_box.h"
#include "search/ui/replace_form.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QStyle>

#include <algorithm>

namespace {
QString qs(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Widens a message box so that a window manager's title bar shows all of its
// caption: Qt leaves room for the caption in a small title font only, and
// most title bars use a bold one beside an icon and up to three buttons.
void fitCaption(QMessageBox& box)
{
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int titleBar = std::max(box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box), 20);
    const int width = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + 5 * titleBar;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

std::optional<std::string> runFileDialog(QWidget* parent, const FileDialogSetup& setup, bool save)
{
    QFileDialog dialog(parent, qs(setup.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(!save && setup.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const QString filter = toQtFileFilter(setup.filter);
    if (!filter.isEmpty())
        dialog.setNameFilter(filter);
    if (!setup.defaultExt.empty()) {
        QString ext = qs(setup.defaultExt);
        if (ext.startsWith(u'.'))
            ext.remove(0, 1);
        dialog.setDefaultSuffix(ext);
    }
    if (!setup.fileName.empty())
        dialog.selectFile(qs(setup.fileName));
    if (save && !setup.overwritePrompt)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return files.first().toStdString();
}
}  // namespace

QString toQtFileFilter(const std::string& filter)
{
    return toQtNameFilters(filter).join(QStringLiteral(";;"));
}

std::optional<std::string> QtUserDialogs::openFile(const FileDialogSetup& dialog)
{
    return runFileDialog(parent_, dialog, false);
}

std::optional<std::string> QtUserDialogs::saveFile(const FileDialogSetup& dialog)
{
    return runFileDialog(parent_, dialog, true);
}

bool QtUserDialogs::confirm(const std::string& caption, const std::string& text)
{
    // No parent: the box stands centred on the screen.
    QMessageBox box(QMessageBox::Question, qs(caption), qs(text), QMessageBox::Ok | QMessageBox::Cancel);
    fitCaption(box);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void QtUserDialogs::errorBox(const std::string& caption, const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, qs(caption), qs(text), QMessageBox::Ok, parent_);
    fitCaption(box);
    box.exec();
}

void QtUserDialogs::messageBox(const std::string& caption, const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, qs(caption), qs(text), QMessageBox::Ok);
    fitCaption(box);
    box.exec();
}

std::optional<std::string> QtUserDialogs::findInputBox(const std::string& text)
{
    FindInputBox box(qs(text), parent_);
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.text().toStdString();
}

std::optional<ReplaceRequest> QtUserDialogs::replaceDialog()
{
    // A new dialog each time, gone when this returns: nothing of one Replace
    // is left for the next.
    TFormReplace form(parent_);
    if (form.exec() != QDialog::Accepted)
        return std::nullopt;
    return ReplaceRequest{form.EditFrom->text().toStdString(), form.EditTo->text().toStdString(),
                          form.cbCase->isChecked()};
}

std::optional<std::string> QtUserDialogs::openPicture(const FileDialogSetup& dialog)
{
    return runPictureOpenDialog(parent_, dialog);
}

bool QtUserDialogs::showImportPreview(ModalForm& form)
{
    return form.showModal();
}
