// SPDX-License-Identifier: GPL-2.0-or-later
// "Export all…" and "Import folder…" of the main window through scripted
// dialogs: a round trip of an edited picture (the bytes of the texture it
// lands on, every other byte as before), the summaries shown, one Undo for
// the whole import, Cancel in the middle of an export (the files written
// stay) and of an import (the dictionaries committed stay, the others are
// untouched), and the refusals.
#include "app/main_form.h"

#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "formats/archive_writer.h"
#include "platform/environment.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"
#include "tests/app/app_test_support.h"

#include <QAction>
#include <QMenu>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <semaphore>

namespace fs = std::filesystem;
using namespace apptest;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

constexpr size_t kSector = 2048;
constexpr uint32_t kTextureSection = 0x15;

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t from, size_t to)
{
    return std::vector<uint8_t>(bytes.begin() + ptrdiff_t(from), bytes.begin() + ptrdiff_t(to));
}

bool holds(const std::vector<uint8_t>& all, const std::vector<uint8_t>& part)
{
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
}

// The texture sections of a dictionary, each as its bytes.
std::vector<std::vector<uint8_t>> textureSections(const std::vector<uint8_t>& dictionary)
{
    std::vector<std::vector<uint8_t>> out;
    for (const Section& s : sectionsOf(dictionary))
        if (s.type == kTextureSection)
            out.push_back(slice(dictionary, s.offset, s.end));
    return out;
}

// 8 x 8 pixels of B, G, R, A unlike any texture of cityDictionary(), with
// one half-transparent pixel.
std::vector<uint8_t> editedPixels(uint8_t seed)
{
    std::vector<uint8_t> bgra;
    for (int i = 0; i < 64; ++i)
        bgra.insert(bgra.end(),
                    {uint8_t(i * 3 + seed), uint8_t(200 - i), uint8_t(i * 11), uint8_t(i == 5 ? 0x80 : 255)});
    return bgra;
}

// Level 0 of an 8888 texture as a dictionary stores it: its byte count, then
// the pixels.
std::vector<uint8_t> storedLevel0(const std::vector<uint8_t>& bgra)
{
    const auto n = uint32_t(bgra.size());
    std::vector<uint8_t> out{uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    out.insert(out.end(), bgra.begin(), bgra.end());
    return out;
}

// What an export writes for "grass" of cityDictionary(): a 32-bit TGA of
// 8 x 8, first row at the top, 8 alpha bits, then the texels as stored.
std::vector<uint8_t> grassTga()
{
    std::vector<uint8_t> tga{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 8, 0, 32, 0x28};
    const std::vector<uint8_t> level0 = texel_cases::mipTexture("grass", TexelFormat::Bgra8888, 8, 8, 4).levels.at(0);
    tga.insert(tga.end(), level0.begin(), level0.end());
    return tga;
}

// m.dir / m.img: a.dff (100 bytes) in sector 0, then two copies of
// cityDictionary(), city.txd in sector 1 and town.txd in sector 2.
class BatchTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::vector<uint8_t> a(100);
        for (size_t i = 0; i < a.size(); ++i)
            a[i] = uint8_t(i * 7 + 1);
        ASSERT_LE(cityDictionary().size(), kSector);
        writeArchive(dirFile, imgFile, {{"a.dff", a}, {"city.txd", cityDictionary()}, {"town.txd", cityDictionary()}});
        form = std::make_unique<TestForm>();
        form->resize(1019, 667);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        script().openAnswers.push_back(dirFile);
        form->BtnOpen->click();
        ASSERT_EQ(errors(), "");
        // city.txd current, its second texture (sky) too.
        form->guard([&] {
            form->RxM->GoToRowNumber(2);
            form->RxM->FireAfterScroll();
            form->QueryTXD->Locate("Pos", 2);
        });
    }
    void TearDown() override
    {
        setBusyCursor(false);
        form.reset();
    }

    ScriptedDialogs& script() { return form->script(); }
    std::string errors()
    {
        std::string all;
        for (const auto& e : script().errors)
            all += e.text + "\n";
        return all;
    }
    std::string message() { return form->StatusBar1->currentMessage().toStdString(); }
    std::pair<std::vector<uint8_t>, std::vector<uint8_t>> files() { return {readBytes(dirFile), readBytes(imgFile)}; }
    // The dictionary in sector `sector` of the data file, its own length.
    std::vector<uint8_t> dictionaryAt(size_t sector)
    {
        const std::vector<uint8_t> img = readBytes(imgFile);
        const size_t at = sector * kSector;
        const size_t size = 12 + (img[at + 4] | img[at + 5] << 8 | img[at + 6] << 16 | size_t(img[at + 7]) << 24);
        return slice(img, at, at + size);
    }
    void exportAll(const std::string& folder, bool png = false)
    {
        script().folderAnswers.push_back(folder);
        script().exportAllAnswers.push_back(ExportAllChoices{png});
        form->ActExportAll->trigger();
    }
    void importFolder(const std::string& folder, ImportFolderChoices choices = {})
    {
        script().folderAnswers.push_back(folder);
        script().importFolderAnswers.push_back(choices);
        form->ActImportFolder->trigger();
    }
    // Holds the work back until its progress box is up, and gives the box's
    // task to `task`, so that a step of the run can press Cancel.
    void cancelAt(int64_t step, std::string* lineThen = nullptr)
    {
        form->LongWorkDelayMs = 0;
        script().whileProgressShown = [this](LongTask& shown) {
            task = &shown;
            boxUp.release();
        };
        form->onWorkThread = [this] { boxUp.acquire(); };
        form->onBatchProgress = [this, step, lineThen](int64_t done) {
            if (done != step)
                return;
            if (lineThen)
                *lineThen = task->progressLine();
            task->cancel();
        };
    }

    ScratchDir dir{"qx_batch"};
    std::string dirFile = dir.file("m.dir"), imgFile = dir.file("m.img");
    std::string out = dir.file("out");
    std::unique_ptr<TestForm> form;
    std::binary_semaphore boxUp{0};
    LongTask* task = nullptr;
};

}  // namespace

TEST_F(BatchTest, TheItemsAreInTheArchiveMenuAndNeedAnOpenFile)
{
    const QList<QAction*> items = form->MenuArchive->actions();
    EXPECT_TRUE(items.contains(form->ActExportAll));
    EXPECT_TRUE(items.contains(form->ActImportFolder));
    EXPECT_EQ(form->ActExportAll->text().toStdString(), "Export all\u2026");
    EXPECT_EQ(form->ActImportFolder->text().toStdString(), "Import folder\u2026");
    EXPECT_TRUE(form->ActExportAll->isEnabled());
    EXPECT_TRUE(form->ActImportFolder->isEnabled());

    TestForm empty;
    EXPECT_FALSE(empty.ActExportAll->isEnabled());
    EXPECT_FALSE(empty.ActImportFolder->isEnabled());
    // Run all the same, they refuse before asking anything.
    empty.guard([&] { empty.BtnExportAllClick(); });
    empty.guard([&] { empty.BtnImportFolderClick(); });
    ASSERT_EQ(empty.script().errors.size(), 2u);
    EXPECT_EQ(empty.script().errors[0].text, "No archive is open.");
    EXPECT_TRUE(empty.script().folderRequests.empty());
}

TEST_F(BatchTest, AnEditedPictureGoesBackOverItsTextureAndOneUndoTakesTheImportBack)
{
    const auto before = files();
    exportAll(out);
    ASSERT_EQ(errors(), "");
    ASSERT_EQ(script().folderRequests.size(), 1u);
    EXPECT_EQ(script().folderRequests[0].title, "Export all textures of m.dir to");
    const std::string exported = "6 textures written from 2 dictionaries to " + out + ", 0 skipped";
    ASSERT_EQ(script().messages.size(), 1u);
    EXPECT_EQ(script().messages[0].text, exported);
    EXPECT_EQ(message(), exported);
    for (const char* d : {"city.txd", "town.txd"})
        for (const char* t : {"grass.tga", "sky.tga", "road.tga"})
            EXPECT_TRUE(fs::is_regular_file(out + "/" + d + "/" + t)) << d << "/" << t;
    EXPECT_EQ(readBytes(out + "/city.txd/grass.tga"), grassTga());
    EXPECT_EQ(files(), before);  // an export writes nothing into the archive

    // city.txd's grass edited; a picture no texture is named after.
    const std::vector<uint8_t> edited = editedPixels(1);
    writeTga32(out + "/city.txd/grass.tga", 8, 8, edited);
    writeTga32(out + "/city.txd/extra.tga", 4, 4, std::vector<uint8_t>(64, 9));

    // A second export into the folder asks before replacing the edited file.
    exportAll(out);
    ASSERT_EQ(script().confirms.size(), 1u);
    EXPECT_EQ(script().confirms[0].text.rfind(
                  "6 files in " + out + " exist already and will be replaced:\ncity.txd/grass.tga\n", 0),
              0u)
        << script().confirms[0].text;
    EXPECT_EQ(script().messages.size(), 1u);  // Cancel there: nothing written
    const auto editedFile = readBytes(out + "/city.txd/grass.tga");

    const std::vector<uint8_t> townBefore = dictionaryAt(2);
    const std::vector<std::vector<uint8_t>> cityBefore = textureSections(dictionaryAt(1));
    ImportFolderChoices choices;
    choices.exact = true;
    importFolder(out, choices);
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(script().folderRequests.back().title, "Import pictures into m.dir from");
    EXPECT_EQ(script().folderRequests.back().fileName, out);  // starts where the export went
    ASSERT_EQ(script().importFolderRequests.size(), 1u);

    // The summary as the tool prints it, and the picture that matched nothing.
    const std::string imported = "1 texture imported, 5 unchanged, 0 skipped; 1 picture matches no texture";
    ASSERT_EQ(script().detailedMessages.size(), 1u);
    EXPECT_EQ(script().detailedMessages[0].text, imported);
    EXPECT_EQ(script().detailedMessages[0].details, std::vector<std::string>{"no texture for city.txd/extra.tga"});
    EXPECT_EQ(message(), imported);

    // Written in place over city.txd's grass alone: its level 0 holds the
    // picture's pixels; sky and road, town.txd, a.dff and the directory are
    // as they were.
    const auto after = files();
    EXPECT_EQ(after.first, before.first);
    EXPECT_EQ(slice(after.second, 0, kSector), slice(before.second, 0, kSector));
    EXPECT_EQ(dictionaryAt(2), townBefore);
    const std::vector<std::vector<uint8_t>> cityAfter = textureSections(dictionaryAt(1));
    ASSERT_EQ(cityAfter.size(), 3u);
    EXPECT_TRUE(holds(cityAfter[0], storedLevel0(edited)));
    EXPECT_EQ(cityAfter[1], cityBefore[1]);
    EXPECT_EQ(cityAfter[2], cityBefore[2]);
    // The lists were read again, city.txd and sky still current.
    EXPECT_EQ(form->RxM->FieldByName(EntryField::kName).AsString(), "city.txd");
    EXPECT_EQ(form->QueryTXD->FieldByName(TextureField::kName).AsString(), "sky");

    // One Undo, named after the run, takes it back byte for byte.
    ASSERT_TRUE(form->ActUndo->isEnabled());
    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo import-all of 6 pictures from " + out);
    form->ActUndo->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), before);
    EXPECT_FALSE(form->ActUndo->isEnabled());
    EXPECT_EQ(readBytes(out + "/city.txd/grass.tga"), editedFile);  // the pictures are left alone
}

TEST_F(BatchTest, CancelInTheMiddleOfAnExportKeepsTheFilesWritten)
{
    std::string line;
    cancelAt(1, &line);
    exportAll(out);
    ASSERT_EQ(errors(), "");
    ASSERT_EQ(script().progressTexts, std::vector<std::string>{"Exporting the textures of m.dir..."});
    EXPECT_TRUE(script().progressCancellable[0]);
    EXPECT_EQ(line, "1 of 6: city.txd");
    ASSERT_EQ(script().messages.size(), 1u);
    EXPECT_EQ(script().messages[0].text, "1 of 6 textures written; cancelled");
    EXPECT_EQ(readBytes(out + "/city.txd/grass.tga"), grassTga());
    EXPECT_FALSE(fs::exists(out + "/city.txd/sky.tga"));
    EXPECT_FALSE(fs::exists(out + "/town.txd"));

    // PNG chosen: PNG files under the same names.
    form->onBatchProgress = nullptr;
    form->onWorkThread = nullptr;
    script().whileProgressShown = nullptr;
    const std::string png = dir.file("png");
    exportAll(png, true);
    ASSERT_EQ(errors(), "");
    const std::vector<uint8_t> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const char* f : {"city.txd/grass.png", "city.txd/sky.png", "town.txd/road.png"}) {
        const std::vector<uint8_t> bytes = readBytes(png + "/" + f);
        EXPECT_EQ(slice(bytes, 0, std::min<size_t>(8, bytes.size())), signature) << f;
    }
    EXPECT_FALSE(fs::exists(png + "/city.txd/grass.tga"));
}

TEST_F(BatchTest, CancelInTheMiddleOfAnImportKeepsTheDictionariesCommittedAndUndoTakesThemBack)
{
    const auto before = files();
    exportAll(out);
    ASSERT_EQ(errors(), "");
    const std::vector<uint8_t> city = editedPixels(1), town = editedPixels(2);
    writeTga32(out + "/city.txd/grass.tga", 8, 8, city);
    writeTga32(out + "/town.txd/grass.tga", 8, 8, town);

    // Cancel once town.txd's grass has been gone through: city.txd's batch
    // was committed when its last picture was, town.txd's is not written.
    std::string line;
    cancelAt(4, &line);
    ImportFolderChoices exact;
    exact.exact = true;
    importFolder(out, exact);
    ASSERT_EQ(errors(), "");
    ASSERT_FALSE(script().progressTexts.empty());
    EXPECT_EQ(script().progressTexts.back(), "Importing the pictures of " + out + " into m.dir...");
    EXPECT_TRUE(script().progressCancellable.back());
    EXPECT_EQ(line, "4 of 6: town.txd/grass.tga");
    const std::string told = "1 texture imported, 2 unchanged; cancelled after 4 of 6 pictures";
    ASSERT_EQ(script().detailedMessages.size(), 1u);
    EXPECT_EQ(script().detailedMessages[0].text, told);
    EXPECT_EQ(message(), told);

    EXPECT_TRUE(holds(textureSections(dictionaryAt(1)).at(0), storedLevel0(city)));
    EXPECT_EQ(dictionaryAt(2), cityDictionary());  // town.txd as it was
    const std::vector<uint8_t> img = readBytes(imgFile);
    EXPECT_EQ(slice(img, 2 * kSector, img.size()), slice(before.second, 2 * kSector, before.second.size()));

    ASSERT_TRUE(form->ActUndo->isEnabled());
    form->ActUndo->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), before);
}

TEST_F(BatchTest, RefusalsAndCancelsChangeNothing)
{
    const auto before = files();
    // A folder that does not exist: the error box, before the choices.
    importFolder(dir.file("missing"));
    EXPECT_EQ(errors(), "No folder " + dir.file("missing") + ".\n");
    EXPECT_TRUE(script().importFolderRequests.empty());
    script().importFolderAnswers.clear();

    // Cancel in the folder chooser, then in the choices: nothing is done.
    script().errors.clear();
    form->ActImportFolder->trigger();
    fs::create_directories(out + "/city.txd");
    writeTga32(out + "/city.txd/grass.tga", 8, 8, editedPixels(1));
    script().folderAnswers.push_back(out);
    form->ActImportFolder->trigger();
    ASSERT_EQ(script().importFolderRequests.size(), 1u);
    script().folderAnswers.push_back(out);
    form->ActExportAll->trigger();
    ASSERT_EQ(script().exportAllRequests.size(), 1u);
    EXPECT_EQ(errors(), "");
    EXPECT_TRUE(script().messages.empty());
    EXPECT_TRUE(script().detailedMessages.empty());
    EXPECT_EQ(files(), before);
    EXPECT_EQ(fs::directory_iterator(out + "/city.txd")->path().filename(), "grass.tga");

    // A folder an export cannot be written into: the error box, nothing written.
    writeBytes(dir.file("plain"), {1, 2, 3});
    exportAll(dir.file("plain"));
    EXPECT_NE(errors(), "");
    EXPECT_EQ(readBytes(dir.file("plain")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(files(), before);
}
