// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/app/app_test_support.h"

#include "support/gui_test_app.h"

#include "formats/archive_writer.h"
#include "formats/sectioned_dictionary_writer.h"
#include "imaging/picture_registry.h"
#include "platform/byte_order.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"
#include "support/tga_builder.h"
#include "texture/ui/form_image.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

namespace apptest {

QApplication& app()
{
    return guiTestApp();
}

std::optional<std::string> ScriptedDialogs::openFile(const FileDialogSetup& dialog)
{
    openRequests.push_back(dialog);
    if (openAnswers.empty())
        return std::nullopt;
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedDialogs::saveFile(const FileDialogSetup& dialog)
{
    saveRequests.push_back(dialog);
    if (saveAnswers.empty())
        return std::nullopt;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

bool ScriptedDialogs::confirm(const std::string& caption, const std::string& text)
{
    confirms.push_back({caption, text});
    if (confirmAnswers.empty())
        return false;
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
}

void ScriptedDialogs::errorBox(const std::string& caption, const std::string& text)
{
    errors.push_back({caption, text});
}

void ScriptedDialogs::messageBox(const std::string& caption, const std::string& text)
{
    messages.push_back({caption, text});
}

std::optional<std::string> ScriptedDialogs::findInputBox(const std::string& text)
{
    findRequests.push_back(text);
    if (findAnswers.empty())
        return std::nullopt;
    auto answer = findAnswers.front();
    findAnswers.pop_front();
    return answer;
}

std::optional<ReplaceRequest> ScriptedDialogs::replaceDialog()
{
    ++replaceRequests;
    if (whileReplaceDialogOpen)
        whileReplaceDialogOpen();
    if (replaceAnswers.empty())
        return std::nullopt;
    auto answer = replaceAnswers.front();
    replaceAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedDialogs::openPicture(const FileDialogSetup& dialog)
{
    pictureRequests.push_back(dialog);
    if (pictureAnswers.empty())
        return std::nullopt;
    auto answer = pictureAnswers.front();
    pictureAnswers.pop_front();
    return answer;
}

bool ScriptedDialogs::showImportPreview(ModalForm& shown)
{
    TFormImage& form = dynamic_cast<TFormImage&>(shown);
    // Shown as the real dialog would be (so its view lays the picture out),
    // looked at, and closed again.
    form.show();
    if (whilePreviewOpen)
        whilePreviewOpen(form);
    PreviewSeen seen;
    seen.clientWidth = form.width();
    seen.clientHeight = form.height();
    seen.viewWidth = form.ImageScrollBox->width();
    seen.viewHeight = form.ImageScrollBox->height();
    seen.pictureWidth = form.ImageScrollBox->Graphic().Width();
    seen.pictureHeight = form.ImageScrollBox->Graphic().Height();
    seen.vertScrollBar = form.ImageScrollBox->VertScrollBarVisible();
    seen.horzScrollBar = form.ImageScrollBox->HorzScrollBarVisible();
    seen.target = form.Target().toStdString();
    seen.exact = form.CheckExact->isChecked();
    seen.choices = form.ChoicesShown() && form.PanelChoices->isVisible();
    seen.bytes = form.LabelBytes->text().toStdString();
    previews.push_back(seen);
    form.hide();
    if (previewAnswers.empty())
        return false;
    const bool answer = previewAnswers.front();
    previewAnswers.pop_front();
    return answer;
}

std::optional<SaveFileChoice> ScriptedDialogs::saveFileChoosingFilter(const FileDialogSetup& dialog)
{
    const int filter = saveFilterAnswers.empty() ? 0 : saveFilterAnswers.front();
    if (!saveFilterAnswers.empty())
        saveFilterAnswers.pop_front();
    std::optional<std::string> chosen = saveFile(dialog);
    if (!chosen)
        return std::nullopt;
    return SaveFileChoice{*chosen, filter};
}

void ScriptedDialogs::showProgress(const std::string& text, LongTask& task)
{
    progressTexts.push_back(text);
    progressCancellable.push_back(task.cancellable());
    const bool cancel = !progressCancels.empty() && progressCancels.front();
    if (!progressCancels.empty())
        progressCancels.pop_front();
    if (cancel && task.cancellable())
        task.cancel();
    if (whileProgressShown)
        whileProgressShown(task);
    while (!task.finished())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::vector<std::string> ScriptedDialogs::openFiles(const FileDialogSetup& dialog)
{
    openFilesRequests.push_back(dialog);
    if (openFilesAnswers.empty())
        return {};
    auto answer = openFilesAnswers.front();
    openFilesAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedDialogs::chooseFolder(const FileDialogSetup& dialog)
{
    folderRequests.push_back(dialog);
    if (folderAnswers.empty())
        return std::nullopt;
    auto answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

std::optional<ExportAllChoices> ScriptedDialogs::exportAllChoices(const std::string& text,
                                                                  const ExportAllChoices& initial)
{
    exportAllRequests.emplace_back(text, initial);
    if (exportAllAnswers.empty())
        return std::nullopt;
    const ExportAllChoices answer = exportAllAnswers.front();
    exportAllAnswers.pop_front();
    return answer;
}

std::optional<ImportFolderChoices> ScriptedDialogs::importFolderChoices(const std::string& text,
                                                                        const ImportFolderChoices& initial)
{
    importFolderRequests.emplace_back(text, initial);
    if (importFolderAnswers.empty())
        return std::nullopt;
    const ImportFolderChoices answer = importFolderAnswers.front();
    importFolderAnswers.pop_front();
    return answer;
}

void ScriptedDialogs::messageBoxWithDetails(const std::string& caption, const std::string& text,
                                            const std::vector<std::string>& details)
{
    detailedMessages.push_back({caption, text, details});
}

std::vector<uint8_t> cityDictionary()
{
    SectionedDictionary d;
    d.textures.push_back(texel_cases::mipTexture("grass", TexelFormat::Bgra8888, 8, 8, 4));
    d.textures.push_back(texel_cases::mipTexture("sky", TexelFormat::Dxt1, 8, 8, 1));
    d.textures.push_back(texel_cases::mipTexture("road", TexelFormat::Rgb565, 4, 4, 1));
    d.libraryVersion = 0x1803FFFF;
    return buildSectionedDictionary(d);
}

void writeCityArchive(const std::string& dirFile, const std::string& imgFile)
{
    std::vector<uint8_t> a(100), b(100);
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = uint8_t(i * 7 + 1);
        b[i] = uint8_t(i * 5 + 3);
    }
    writeArchive(dirFile, imgFile, {{"a.dff", a}, {"city.txd", cityDictionary()}, {"b.col", b}});
}

std::vector<Section> sectionsOf(const std::vector<uint8_t>& dictionary)
{
    std::vector<Section> out;
    if (dictionary.size() < 12)
        return out;
    const size_t end = std::min(dictionary.size(), size_t(12) + readLe32(dictionary.data() + 4));
    for (size_t at = 12; at + 12 <= end;) {
        const size_t next = at + 12 + readLe32(dictionary.data() + at + 4);
        out.push_back({readLe32(dictionary.data() + at), at, next});
        at = next;
    }
    return out;
}

void writeTga32(const std::string& path, int width, int height, const std::vector<uint8_t>& bgra)
{
    archive_fixture::writeBytes(path,
                                tga_fixture::makeTga(2, 32, width, height, bgra, tga_fixture::kTopFirst | 8).bytes());
}

namespace {
std::unique_ptr<UserDialogs> makeScript()
{
    app();  // widgets need the application first
    // Each form starts as the program does: with only the picture formats
    // the library registers itself, before the preview dialog adds its own.
    ResetPictureRegistryForTesting();
    return std::make_unique<ScriptedDialogs>();
}
}  // namespace

TestForm::TestForm() : TForm1(makeScript()), script_(static_cast<ScriptedDialogs*>(&dialogs())) {}

void TestForm::clearImageView()
{
    ++imageViewClears;
    TForm1::clearImageView();
}

void TestForm::FormKeyDown(int key, Qt::KeyboardModifiers shift)
{
    previewedKeys.push_back(key);
    TForm1::FormKeyDown(key, shift);
}

void dropFiles(QWidget& window, const std::vector<std::string>& files, QPoint at)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& f : files)
        urls << QUrl::fromLocalFile(QString::fromStdString(f));
    mime.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QApplication::processEvents();
}

}  // namespace apptest
