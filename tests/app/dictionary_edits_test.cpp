// SPDX-License-Identifier: GPL-2.0-or-later
// The dictionary edits of the main window through scripted dialogs: "Add
// texture…", pictures dropped on the texture list, "Remove texture" (asked
// first), "Rename texture" (F2 in the texture list), "New dictionary…", and
// Undo of each. The dictionary's sections are compared with the ones before,
// the archive's other entries with their bytes before; a dictionary without
// sections is refused, saying why, with every byte as it was.
#include "app/main_form.h"

#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "formats/archive_sample.h"
#include "platform/byte_order.h"
#include "support/archive_builder.h"
#include "tests/app/app_test_support.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace apptest;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;

namespace {

constexpr uint32_t kTextureSection = 0x15;
constexpr size_t kSector = 2048;

std::vector<uint8_t> le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

bool holds(const std::vector<uint8_t>& all, const std::vector<uint8_t>& part)
{
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t from, size_t to)
{
    return std::vector<uint8_t>(bytes.begin() + ptrdiff_t(from), bytes.begin() + ptrdiff_t(to));
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

// A picture of width x height pixels of B, G, R, A: colours 0 or 255 in
// each channel, alpha 255 except where `alphaAt0` gives pixel 0's.
std::vector<uint8_t> pixels(int width, int height, uint8_t alphaAt0 = 255)
{
    std::vector<uint8_t> bgra;
    for (int i = 0; i < width * height; ++i)
        bgra.insert(bgra.end(), {uint8_t(i & 1 ? 255 : 0), uint8_t(i & 2 ? 255 : 0), uint8_t(i & 4 ? 255 : 0),
                                 uint8_t(i == 0 ? alphaAt0 : 255)});
    return bgra;
}

// Level 0 of an 8888 texture as stored: its byte count, then the pixels.
std::vector<uint8_t> storedLevel0(const std::vector<uint8_t>& bgra)
{
    std::vector<uint8_t> out = le32(uint32_t(bgra.size()));
    out.insert(out.end(), bgra.begin(), bgra.end());
    return out;
}

// m.dir / m.img of writeCityArchive: a.dff in sector 0, city.txd in
// sector 1, b.col in sector 2; city.txd current.
class DictionaryEditsTest : public testing::Test {
protected:
    void SetUp() override
    {
        writeCityArchive(dirFile, imgFile);
        // 6 x 2 with alpha: 8888 (its sides are not divisible by 4), levels
        // 6 x 2, 3 x 1, 1 x 1.
        glow = dir.file("glow.tga");
        writeTga32(glow, 6, 2, pixels(6, 2, 0x40));
        form = std::make_unique<TestForm>();
        form->resize(1019, 667);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        open(dirFile);
        selectEntry(2);
        ASSERT_EQ(form->RxM->FieldByName(EntryField::kName).AsString(), "city.txd");
    }

    void open(const std::string& file)
    {
        form->script().openAnswers.push_back(file);
        form->guard([&] { form->BtnOpenClick(); });
    }
    void selectEntry(int row)
    {
        form->guard([&] {
            form->RxM->GoToRowNumber(row);
            form->RxM->FireAfterScroll();
        });
    }
    void selectTexture(int pos)
    {
        form->guard([&] { form->QueryTXD->Locate("Pos", pos); });
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
    std::vector<std::string> textureNames()
    {
        std::vector<std::string> names;
        const int field = form->QueryTXD->FieldIndex(TextureField::kName);
        for (int r = 0; r < form->QueryTXD->RowCount(); ++r)
            names.push_back(form->QueryTXD->RowText(r, field));
        return names;
    }
    std::string currentTexture() { return form->QueryTXD->FieldByName(TextureField::kName).AsString(); }

    // city.txd's dictionary as it lies in sector 1 (its length from its header).
    std::vector<uint8_t> cityBytes()
    {
        const std::vector<uint8_t> img = readBytes(imgFile);
        const size_t size = 12 + readLe32(img.data() + kSector + 4);
        return slice(img, kSector, kSector + size);
    }
    // The other entries' sectors, which no dictionary edit touches.
    std::pair<std::vector<uint8_t>, std::vector<uint8_t>> others()
    {
        const std::vector<uint8_t> img = readBytes(imgFile);
        return {slice(img, 0, kSector), slice(img, 2 * kSector, img.size())};
    }
    std::pair<std::vector<uint8_t>, std::vector<uint8_t>> files() { return {readBytes(dirFile), readBytes(imgFile)}; }

    ScratchDir dir{"qx_dictedits"};
    std::string dirFile = dir.file("m.dir"), imgFile = dir.file("m.img");
    std::string glow;
    std::unique_ptr<TestForm> form;
};

}  // namespace

TEST_F(DictionaryEditsTest, AddTextureAppendsThePicturesAndUndoTakesThemBack)
{
    const auto before = files();
    const auto otherBytes = others();
    const auto sectionsBefore = textureSections(cityBytes());
    ASSERT_EQ(sectionsBefore.size(), 3u);
    const std::string tile = dir.file("tile.tga");  // opaque, 4 x 4: DXT1
    writeTga32(tile, 4, 4, pixels(4, 4));

    script().openFilesAnswers.push_back({glow, tile});
    form->ActAddTexture->trigger();
    ASSERT_EQ(errors(), "");
    ASSERT_EQ(script().openFilesRequests.size(), 1u);
    EXPECT_EQ(script().openFilesRequests[0].title, "Add textures to city.txd");

    // The three textures byte for byte, then the two new ones.
    const auto sections = textureSections(cityBytes());
    ASSERT_EQ(sections.size(), 5u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(sections[i], sectionsBefore[i]) << i;
    EXPECT_TRUE(holds(sections[3], storedLevel0(pixels(6, 2, 0x40))));
    EXPECT_EQ(others(), otherBytes);
    // The list read again, the last picture's texture current.
    EXPECT_EQ(textureNames(), (std::vector<std::string>{"grass", "sky", "road", "glow", "tile"}));
    EXPECT_EQ(currentTexture(), "tile");
    EXPECT_EQ(form->QueryTXD->FieldByName(TextureField::kFormat).AsString(), "DXT1");
    EXPECT_EQ(form->QueryTXD->FieldByName(TextureField::kLevels).AsInteger(), 3);
    selectTexture(4);
    EXPECT_EQ(form->QueryTXD->FieldByName(TextureField::kFormat).AsString(), "8888");
    EXPECT_EQ(form->QueryTXD->FieldByName(TextureField::kLevels).AsInteger(), 3);
    EXPECT_EQ(message(), "2 textures added to city.txd: glow, tile");

    ASSERT_TRUE(form->ActUndo->isEnabled());
    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo add-texture of glow, tile to city.txd");
    form->ActUndo->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), before);
    EXPECT_EQ(textureNames(), (std::vector<std::string>{"grass", "sky", "road"}));

    // A name the dictionary holds already is refused before any picture is
    // encoded; nothing is written.
    const std::string road = dir.file("ROAD.tga");
    writeTga32(road, 4, 4, pixels(4, 4));
    script().openFilesAnswers.push_back({road});
    form->ActAddTexture->trigger();
    ASSERT_EQ(script().errors.size(), 1u);
    EXPECT_NE(script().errors[0].text.find("road"), std::string::npos) << errors();
    EXPECT_EQ(files(), before);
}

TEST_F(DictionaryEditsTest, PicturesDroppedOnTheTextureListAreAdded)
{
    const auto sectionsBefore = textureSections(cityBytes());
    dropFiles(*form, {glow}, form->GridTXD->mapTo(form.get(), form->GridTXD->rect().center()));
    ASSERT_EQ(errors(), "");
    const auto sections = textureSections(cityBytes());
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_TRUE(std::equal(sectionsBefore.begin(), sectionsBefore.end(), sections.begin()));
    EXPECT_TRUE(holds(sections[3], storedLevel0(pixels(6, 2, 0x40))));
    EXPECT_EQ(currentTexture(), "glow");
    EXPECT_EQ(form->RxM->FieldByName(EntryField::kName).AsString(), "city.txd");
}

TEST_F(DictionaryEditsTest, RemoveTextureAsksFirstAndRemovesOnlyThatTexture)
{
    const auto before = files();
    const auto otherBytes = others();
    const auto sectionsBefore = textureSections(cityBytes());
    selectTexture(2);
    ASSERT_EQ(currentTexture(), "sky");

    // Shift+Delete in the texture list; "No" changes nothing.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->GridTXD->setFocus();
    script().confirmAnswers.push_back(false);
    QTest::keyClick(form->GridTXD, Qt::Key_Delete, Qt::ShiftModifier);
    ASSERT_EQ(script().confirms.size(), 1u);
    EXPECT_EQ(script().confirms[0].text, "Remove the texture sky from city.txd?");
    EXPECT_EQ(files(), before);

    script().confirmAnswers.push_back(true);
    QTest::keyClick(form->GridTXD, Qt::Key_Delete, Qt::ShiftModifier);
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(textureSections(cityBytes()), (std::vector<std::vector<uint8_t>>{sectionsBefore[0], sectionsBefore[2]}));
    EXPECT_EQ(others(), otherBytes);
    EXPECT_EQ(textureNames(), (std::vector<std::string>{"grass", "road"}));
    EXPECT_EQ(currentTexture(), "road");  // the one after it
    EXPECT_EQ(message(), "1 texture removed from city.txd: sky");

    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo remove-texture of sky from city.txd");
    form->ActUndo->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(files(), before);
}

TEST_F(DictionaryEditsTest, F2RenamesTheTextureInTheList)
{
    const auto before = files();
    const std::vector<uint8_t> city = cityBytes();
    selectTexture(3);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->GridTXD->setFocus();
    QTest::keyClick(form->GridTXD, Qt::Key_F2);
    QLineEdit* editor = form->GridTXD->cellEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text().toStdString(), "road");
    // Esc leaves it as it was.
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_EQ(form->GridTXD->cellEditor(), nullptr);
    EXPECT_EQ(files(), before);

    QTest::keyClick(form->GridTXD, Qt::Key_F2);
    editor = form->GridTXD->cellEditor();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("lane"));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_EQ(errors(), "");
    // The same bytes but for the name in road's section (a field of fixed
    // length, so nothing moves).
    std::vector<uint8_t> expected = city;
    const Section road = sectionsOf(city)[3];
    const std::vector<uint8_t> name{'r', 'o', 'a', 'd', 0};
    const auto at = std::search(expected.begin() + ptrdiff_t(road.offset), expected.begin() + ptrdiff_t(road.end),
                                name.begin(), name.end());
    ASSERT_NE(at, expected.begin() + ptrdiff_t(road.end));
    std::memcpy(&*at, "lane", 4);
    EXPECT_EQ(cityBytes(), expected);
    EXPECT_EQ(textureNames(), (std::vector<std::string>{"grass", "sky", "lane"}));
    EXPECT_EQ(currentTexture(), "lane");
    EXPECT_EQ(message(), "1 texture renamed in city.txd: road to lane");

    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo rename-texture of road to lane in city.txd");
    form->ActUndo->trigger();
    EXPECT_EQ(files(), before);

    // A name another texture has is refused, saying so; nothing changes.
    QTest::keyClick(form->GridTXD, Qt::Key_F2);
    ASSERT_NE(form->GridTXD->cellEditor(), nullptr);
    form->GridTXD->cellEditor()->setText(QStringLiteral("Sky"));
    QTest::keyClick(form->GridTXD->cellEditor(), Qt::Key_Return);
    ASSERT_EQ(script().errors.size(), 1u);
    EXPECT_NE(script().errors[0].text.find("sky"), std::string::npos) << errors();
    EXPECT_EQ(files(), before);
}

TEST_F(DictionaryEditsTest, NewDictionaryIsMadeOfThePicturesAndOpened)
{
    const std::string tile = dir.file("tile.tga");
    writeTga32(tile, 4, 4, pixels(4, 4));
    const std::string made = dir.file("new.txd");
    script().openFilesAnswers.push_back({glow, tile});
    script().saveAnswers.push_back(dir.file("new"));  // the type's extension added
    form->ActNewDictionary->trigger();
    ASSERT_EQ(errors(), "");
    ASSERT_TRUE(std::filesystem::exists(made));
    const std::vector<uint8_t> bytes = readBytes(made);
    const auto sections = textureSections(bytes);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_TRUE(holds(sections[0], storedLevel0(pixels(6, 2, 0x40))));
    EXPECT_EQ(sectionsOf(bytes).back().end, bytes.size());  // nothing after the dictionary
    // Opened: the new file's textures listed.
    EXPECT_TRUE(form->StandaloneTxd);
    EXPECT_EQ(form->ArchiveFileName, made);
    EXPECT_EQ(textureNames(), (std::vector<std::string>{"glow", "tile"}));

    // An existing file is never replaced.
    script().openFilesAnswers.push_back({tile});
    script().saveAnswers.push_back(made);
    form->ActNewDictionary->trigger();
    ASSERT_EQ(script().errors.size(), 1u);
    EXPECT_EQ(readBytes(made), bytes);
}

TEST_F(DictionaryEditsTest, ADictionaryWithoutSectionsIsRefusedSayingWhy)
{
    archive_sample::writeSampleFiles(dir.path());
    open(dir.file("sample.dir"));
    selectEntry(4);
    ASSERT_EQ(form->RxM->FieldByName(EntryField::kName).AsString(), "Landscape.TXD");
    const std::vector<uint8_t> img = readBytes(dir.file("sample.img"));
    const auto refused = [&](QAction* action) {
        script().errors.clear();
        action->trigger();
        ASSERT_EQ(script().errors.size(), 1u) << action->text().toStdString();
        EXPECT_NE(script().errors[0].text.find("plain layout without sections"), std::string::npos) << errors();
    };
    refused(form->ActAddTexture);
    refused(form->ActRemoveTexture);
    refused(form->ActRenameTexture);
    EXPECT_TRUE(script().openFilesRequests.empty());  // refused before anything was asked
    EXPECT_TRUE(script().confirms.empty());
    EXPECT_EQ(form->GridTXD->cellEditor(), nullptr);
    EXPECT_EQ(readBytes(dir.file("sample.img")), img);
}
