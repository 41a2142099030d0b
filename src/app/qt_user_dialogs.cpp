// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/qt_user_dialogs.h"

#include "app/batch_dialogs.h"
#include "app/error_box.h"

#include "imaging/ui/file_filter.h"
#include "imaging/ui/picture_open_dialog.h"

#include "search/ui/find_input_box.h"
#include "search/ui/replace_form.h"

#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

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

// The extension a name filter's first pattern gives ("PNG Image (*.png)"
// gives "png"); empty for "*" or "*.*".
QString firstExtension(const QString& nameFilter)
{
    const qsizetype open = nameFilter.lastIndexOf(u'(');
    const QString patterns = nameFilter.mid(open + 1).chopped(1).trimmed();
    const QString first = patterns.section(u' ', 0, 0);
    if (!first.startsWith(QStringLiteral("*.")) || first == QStringLiteral("*.*"))
        return QString();
    return first.mid(2);
}

struct FileDialogAnswer {
    std::vector<std::string> fileNames;
    int filterIndex = 0;
};

std::optional<FileDialogAnswer> runFileDialog(QWidget* parent, const FileDialogSetup& setup, bool save,
                                              bool several = false)
{
    QFileDialog dialog(parent, qs(setup.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(several                        ? QFileDialog::ExistingFiles
                       : !save && setup.fileMustExist ? QFileDialog::ExistingFile
                                                      : QFileDialog::AnyFile);
    QStringList filters = toQtNameFilters(setup.filter);
    filters << toQtNameFilters(setup.extraFilters);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!setup.defaultExt.empty()) {
        QString ext = qs(setup.defaultExt);
        if (ext.startsWith(u'.'))
            ext.remove(0, 1);
        dialog.setDefaultSuffix(ext);
    }
    if (!setup.extraFilters.empty()) {
        // The format chosen by its filter is the one a bare name gets.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            const QString ext = firstExtension(filter);
            if (!ext.isEmpty())
                dialog.setDefaultSuffix(ext);
        });
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
    FileDialogAnswer answer;
    for (const QString& f : files)
        answer.fileNames.push_back(f.toStdString());
    answer.filterIndex = int(std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter())));
    return answer;
}

}  // namespace

QString toQtFileFilter(const std::string& filter)
{
    return toQtNameFilters(filter).join(QStringLiteral(";;"));
}

std::optional<std::string> QtUserDialogs::openFile(const FileDialogSetup& dialog)
{
    const std::optional<FileDialogAnswer> answer = runFileDialog(parent_, dialog, false);
    return answer ? std::optional<std::string>(answer->fileNames.front()) : std::nullopt;
}

std::optional<std::string> QtUserDialogs::saveFile(const FileDialogSetup& dialog)
{
    const std::optional<FileDialogAnswer> answer = runFileDialog(parent_, dialog, true);
    return answer ? std::optional<std::string>(answer->fileNames.front()) : std::nullopt;
}

std::optional<SaveFileChoice> QtUserDialogs::saveFileChoosingFilter(const FileDialogSetup& dialog)
{
    const std::optional<FileDialogAnswer> answer = runFileDialog(parent_, dialog, true);
    if (!answer)
        return std::nullopt;
    return SaveFileChoice{answer->fileNames.front(), answer->filterIndex};
}

std::vector<std::string> QtUserDialogs::openFiles(const FileDialogSetup& dialog)
{
    std::optional<FileDialogAnswer> answer = runFileDialog(parent_, dialog, false, true);
    return answer ? std::move(answer->fileNames) : std::vector<std::string>{};
}

std::optional<std::string> QtUserDialogs::chooseFolder(const FileDialogSetup& setup)
{
    QFileDialog dialog(parent_, qs(setup.title));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (!setup.fileName.empty())
        dialog.setDirectory(qs(setup.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<ExportAllChoices> QtUserDialogs::exportAllChoices(const std::string& text,
                                                                const ExportAllChoices& initial)
{
    ExportAllBox box(qs(text), initial, parent_);
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.choices();
}

std::optional<ImportFolderChoices> QtUserDialogs::importFolderChoices(const std::string& text,
                                                                      const ImportFolderChoices& initial)
{
    ImportFolderBox box(qs(text), initial, parent_);
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.choices();
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

void QtUserDialogs::messageBoxWithDetails(const std::string& caption, const std::string& text,
                                          const std::vector<std::string>& details)
{
    QMessageBox box(QMessageBox::NoIcon, qs(caption), qs(text), QMessageBox::Ok);
    if (!details.empty()) {
        QStringList lines;
        for (const std::string& line : details)
            lines << qs(line);
        box.setDetailedText(lines.join(u'\n'));
    }
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

// ---- the progress box ----

class ProgressBox : public QDialog {
public:
    ProgressBox(QWidget* parent, const QString& text, LongTask& task) : QDialog(parent), task_(task)
    {
        setWindowTitle(QString::fromUtf8(kApplicationTitle));
        setModal(true);
        label_ = new QLabel(text, this);
        label_->setTextFormat(Qt::PlainText);
        // Where the work is: "12 of 200: city.txd", elided to the box's width.
        line_ = new QLabel(this);
        line_->setObjectName(QStringLiteral("ProgressLine"));
        line_->setTextFormat(Qt::PlainText);
        line_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        line_->hide();
        bar_ = new QProgressBar(this);
        showHowFar();
        cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
        cancel_->setVisible(task_.cancellable());
        connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(label_);
        layout->addWidget(line_);
        layout->addWidget(bar_);
        layout->addWidget(cancel_, 0, Qt::AlignRight);
        setMinimumWidth(360);
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this] {
            if (task_.finished())
                done(QDialog::Accepted);
            else
                showHowFar();
        });
        poll->start(20);
    }

    // Cancel, Esc and the close box: the work is asked to stop; the box
    // closes when it has. Work that cannot stop keeps the box up.
    void reject() override
    {
        if (task_.finished()) {
            QDialog::reject();
            return;
        }
        if (!task_.cancellable())
            return;
        task_.cancel();
        cancel_->setEnabled(false);
        label_->setText(QStringLiteral("Cancelling..."));
    }

private:
    // The share done where the work says, else a busy bar.
    void showHowFar()
    {
        const QString line = qs(task_.progressLine());
        if (!line.isEmpty()) {
            line_->setText(line_->fontMetrics().elidedText(line, Qt::ElideMiddle, std::max(line_->width(), 300)));
            line_->setToolTip(line);
            line_->show();
        }
        const int permille = task_.permille();
        if (permille < 0) {
            bar_->setRange(0, 0);
            bar_->setTextVisible(false);
            return;
        }
        bar_->setRange(0, 1000);
        bar_->setValue(std::clamp(permille, 0, 1000));
        bar_->setFormat(QStringLiteral("%p%"));
        bar_->setTextVisible(true);
    }

    LongTask& task_;
    QLabel* label_ = nullptr;
    QLabel* line_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

void QtUserDialogs::showProgress(const std::string& text, LongTask& task)
{
    if (task.finished())
        return;
    ProgressBox box(parent_, qs(text), task);
    box.exec();
}
