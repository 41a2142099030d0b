// SPDX-License-Identifier: GPL-2.0-or-later
// The main window and imports cut off: Open and every dictionary read undo
// them first and say so once in a plain message box; textures stay inside
// their entry.
#include "app/error_box.h"
#include "formats/archive_writer.h"
#include "support/archive_builder.h"
#include "support/journal_fixture.h"
#include "tests/app/app_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace apptest;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

constexpr int64_t kAt = 28 + 112;

class RecoveryTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextureDictionary d;
        d.textures.push_back(makeTexture32("t", "", 4, 4, std::vector<Rgba>(16, Rgba{10, 20, 30, 40})));
        before = buildTextureDictionary(d);
        old.assign(before.begin() + kAt, before.begin() + kAt + 68);
        fresh = old;
        for (size_t i = 4; i < fresh.size(); ++i)
            fresh[i] = uint8_t(i * 3);
        torn = before;
        std::copy(fresh.begin(), fresh.begin() + 40, torn.begin() + kAt);
        form = std::make_unique<TestForm>();
    }

    // The file as an import cut off after its 40th byte leaves it.
    void cutOffImport()
    {
        writeBytes(txd, torn);
        writeBytes(txd + ".quarnix-journal", journal_fixture::journalBytes(kAt, old, fresh, int64_t(before.size())));
    }

    void open()
    {
        form->script().openAnswers.push_back(txd);
        form->guard([&] { form->BtnOpenClick(); });
    }

    ScratchDir dir{"qx_recovery"};
    std::string txd = dir.file("cut.txd");
    std::vector<uint8_t> before, old, fresh, torn;
    std::unique_ptr<TestForm> form;
};

}  // namespace

TEST_F(RecoveryTest, OpenUndoesAnImportCutOffAndSaysSoOnce)
{
    app();
    cutOffImport();
    open();
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    ASSERT_EQ(form->script().messages.size(), 1u);
    EXPECT_EQ(form->script().messages[0].caption, kApplicationTitle);
    EXPECT_EQ(form->script().messages[0].text,
              "An interrupted import was undone: texture bytes at offset 140 restored");
    EXPECT_EQ(readBytes(txd), before);
    EXPECT_FALSE(std::filesystem::exists(txd + ".quarnix-journal"));
    // The texture shown is the restored one.
    EXPECT_EQ(form->ImageScrollBox1->Graphic().GetPixelColor(0, 0), 0x0A141Eu);

    // Reading the dictionary again finds nothing more to do.
    form->guard([&] { form->RxMAfterScroll(*form->RxM); });
    EXPECT_EQ(form->script().messages.size(), 1u);
}

TEST_F(RecoveryTest, EveryDictionaryReadUndoesAnImportCutOffMeanwhile)
{
    app();
    writeBytes(txd, before);
    open();
    ASSERT_TRUE(form->script().messages.empty());
    // Another run of the program was cut off while this one had it open.
    cutOffImport();
    form->guard([&] { form->RxMAfterScroll(*form->RxM); });
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    ASSERT_EQ(form->script().messages.size(), 1u);
    EXPECT_EQ(form->script().messages[0].text,
              "An interrupted import was undone: texture bytes at offset 140 restored");
    EXPECT_EQ(readBytes(txd), before);
}

TEST_F(RecoveryTest, ATextureBeyondItsEntrysSizeIsListedWithoutData)
{
    app();
    // The dictionary takes two sectors; the directory gives its entry one.
    TextureDictionary d;
    d.textures.push_back(makeTexture32("spill", "", 24, 24, std::vector<Rgba>(576, Rgba{1, 2, 3, 4})));
    std::vector<uint8_t> img = buildTextureDictionary(d);
    img.resize(2 * 2048, 0);
    writeBytes(dir.file("a.img"), img);
    writeBytes(dir.file("a.dir"), buildDirectoryBytes({{0, 1, "short.txd"}}));
    form->script().openAnswers.push_back(dir.file("a.dir"));
    form->guard([&] { form->BtnOpenClick(); });
    form->guard([&] { form->RxMAfterScroll(*form->RxM); });
    ASSERT_TRUE(form->script().errors.empty()) << form->script().errors[0].text;
    ASSERT_EQ(form->QueryTXD->RowCount(), 1);
    EXPECT_EQ(form->QueryTXD->FieldByName("Name").AsString(), "spill");
    EXPECT_EQ(form->QueryTXD->FieldByName("ImagePos").AsString(), "");
    form->script().pictureAnswers.push_back(dir.file("a.img"));
    form->guard([&] { form->BtnImportClick(); });
    EXPECT_EQ(form->script().errors.size(), 1u);
    EXPECT_TRUE(form->script().pictureRequests.empty());
    EXPECT_EQ(readBytes(dir.file("a.img")), img);
}
