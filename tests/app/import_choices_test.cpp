// SPDX-License-Identifier: GPL-2.0-or-later
// The import preview's choices over a texture of a sectioned dictionary,
// through the main window with scripted dialogs: the texture's own size,
// layout and levels write in place; another size, layout or chain rewrites
// the dictionary as one change that Undo takes back; the bytes shown are the
// bytes written, the DXT quality chosen reaches the encoder, and a choice the
// layout cannot take is refused in the error box with the archive unchanged.
#include "app/main_form.h"

#include "catalog/entry_table.h"
#include "catalog/texture_table.h"
#include "formats/dxt_encoder.h"
#include "platform/byte_order.h"
#include "support/archive_builder.h"
#include "tests/app/app_test_support.h"
#include "texture/ui/form_image.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QStatusBar>
#include <gtest/gtest.h>

#include <algorithm>

using namespace apptest;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;

namespace {

// Pixels of B, G, R, A whose colours are each 0 or 255 in every channel, so
// that every true-colour layout stores them without rounding.
std::vector<uint8_t> fullScalePixels(int width, int height)
{
    std::vector<uint8_t> bgra;
    for (int i = 0; i < width * height; ++i)
        bgra.insert(bgra.end(),
                    {uint8_t(i & 1 ? 255 : 0), uint8_t(i & 2 ? 255 : 0), uint8_t(i & 4 ? 255 : 0), uint8_t(255)});
    return bgra;
}

// True when `part` occurs in `all`.
bool holds(const std::vector<uint8_t>& all, const std::vector<uint8_t>& part)
{
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
}

std::vector<uint8_t> le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

class ImportChoicesTest : public testing::Test {
protected:
    void SetUp() override
    {
        writeCityArchive(dirFile, imgFile);
        form = std::make_unique<TestForm>();
        form->show();
        QApplication::processEvents();
        form->script().openAnswers.push_back(dirFile);
        form->guard([&] { form->BtnOpenClick(); });
        ASSERT_TRUE(form->script().errors.empty());
    }

    // Texture `pos` (1-based) of city.txd current.
    void selectTexture(int pos)
    {
        form->guard([&] {
            form->RxM->GoToRowNumber(2);
            form->RxM->FireAfterScroll();
            form->QueryTXD->Locate("Pos", pos);
        });
        ASSERT_EQ(form->RxM->FieldByName(EntryField::kName).AsString(), "city.txd");
    }

    std::string textureText(const char* field) { return form->QueryTXD->FieldByName(field).AsString(); }

    // Imports `picture` over the current texture; `choose` runs while the
    // preview is open.
    void importWith(const std::string& picture, bool confirm, std::function<void(TFormImage&)> choose = {})
    {
        form->script().whilePreviewOpen = [choose](ModalForm& open) {
            if (choose)
                choose(dynamic_cast<TFormImage&>(open));
        };
        form->script().pictureAnswers.push_back(picture);
        form->script().previewAnswers.push_back(confirm);
        form->BtnImport->click();
        form->script().whilePreviewOpen = nullptr;
    }

    std::string errors()
    {
        std::string all;
        for (const auto& e : form->script().errors)
            all += e.text + "\n";
        return all;
    }

    ScratchDir dir{"qx_choices"};
    std::string dirFile = dir.file("m.dir"), imgFile = dir.file("m.img");
    std::unique_ptr<TestForm> form;
};

}  // namespace

TEST_F(ImportChoicesTest, OwnChoicesWriteInPlaceAndOthersRewriteTheDictionaryUndoably)
{
    // road: 565, 4 x 4, one level: 4 + 16 x 2 = 36 bytes of data.
    selectTexture(3);
    ASSERT_EQ(textureText(TextureField::kName), "road");
    form->FormImage->CheckExact->setChecked(true);
    const std::string small = dir.file("small.tga");
    writeTga32(small, 4, 4, fullScalePixels(4, 4));
    const std::vector<uint8_t> original = readBytes(imgFile);

    std::string layout, dxtEnabled;
    importWith(small, true, [&](TFormImage& preview) {
        layout = preview.ComboLayout->currentText().toStdString();
        dxtEnabled = preview.ComboDxt->isEnabled() ? "on" : "off";
    });
    ASSERT_EQ(errors(), "");
    ASSERT_EQ(form->script().previews.size(), 1u);
    EXPECT_TRUE(form->script().previews[0].choices);
    // The panel to the right of the design's view and band.
    EXPECT_EQ(form->script().previews[0].clientWidth, TFormImage::kDesignClientWidth + TFormImage::kChoicesWidth);
    EXPECT_EQ(form->script().previews[0].viewWidth, TFormImage::kDesignClientWidth);
    EXPECT_EQ(form->script().previews[0].bytes, "Writes 36 bytes of texture data (now 36)");
    EXPECT_EQ(layout, "565");
    EXPECT_EQ(dxtEnabled, "off");  // no DXT layout chosen
    // In place: the 565 texels of the picture (255 -> 31 or 63, 0 -> 0)
    // and nothing else changed.
    std::vector<uint8_t> texels = le32(32);
    const std::vector<uint8_t> px = fullScalePixels(4, 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        const uint16_t v = uint16_t((px[i + 2] ? 31u << 11 : 0u) | (px[i + 1] ? 63u << 5 : 0u) | (px[i] ? 31u : 0u));
        texels.push_back(uint8_t(v));
        texels.push_back(uint8_t(v >> 8));
    }
    const std::vector<uint8_t> inPlace = readBytes(imgFile);
    ASSERT_EQ(inPlace.size(), original.size());
    EXPECT_TRUE(holds(inPlace, texels));
    size_t changed = 0;
    for (size_t i = 0; i < inPlace.size(); ++i)
        changed += inPlace[i] != original[i];
    EXPECT_GT(changed, 0u);
    EXPECT_LE(changed, 32u);  // within the 32 bytes of texels
    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo import of road");

    // The picture's own size (8 x 4), 8888, one level: 4 + 8 x 4 x 4 = 132
    // bytes, its pixels stored as they are; the preview shows them.
    const std::string wide = dir.file("wide.tga");
    std::vector<uint8_t> widePixels = fullScalePixels(8, 4);
    widePixels[3] = 0x80;  // some alpha, kept by 8888
    writeTga32(wide, 8, 4, widePixels);
    selectTexture(3);
    std::vector<uint32_t> shown;
    importWith(wide, true, [&](TFormImage& preview) {
        preview.ComboSize->setCurrentIndex(1);
        preview.ComboLayout->setCurrentIndex(preview.ComboLayout->findText(QStringLiteral("8888")));
        preview.CheckLevels->setChecked(false);
        const QImage seen = preview.ImageScrollBox->DisplayControl()->grab().toImage();
        for (const QPoint p : {QPoint(1, 0), QPoint(6, 3)})
            shown.push_back(seen.pixel(p) & 0xFFFFFFu);
    });
    ASSERT_EQ(errors(), "");
    ASSERT_EQ(form->script().previews.size(), 2u);
    EXPECT_EQ(form->script().previews[1].bytes, "Writes 132 bytes of texture data (now 36)");
    EXPECT_EQ(form->script().previews[1].target, "road in city.txd of m.img: 8x4 32bit");
    const auto rgbAt = [&](int x, int y) {
        const uint8_t* p = &widePixels[size_t(y * 8 + x) * 4];
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    };
    EXPECT_EQ(shown, (std::vector<uint32_t>{rgbAt(1, 0), rgbAt(6, 3)}));

    const std::vector<uint8_t> rewritten = readBytes(imgFile);
    std::vector<uint8_t> stored = le32(128);
    stored.insert(stored.end(), widePixels.begin(), widePixels.end());
    EXPECT_TRUE(holds(rewritten, stored));
    // The other entries keep their bytes (city.txd still fits its sector).
    ASSERT_EQ(rewritten.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 100, rewritten.begin()));
    EXPECT_TRUE(std::equal(original.end() - 2048, original.end() - 2048 + 100, rewritten.end() - 2048));
    // The lists read again, the texture still current.
    EXPECT_EQ(textureText(TextureField::kName), "road");
    EXPECT_EQ(textureText("Dimensions"), "8x4");
    EXPECT_EQ(textureText("Format"), "8888");
    EXPECT_EQ(form->QueryTXD->FieldByName("Size").AsInteger(), 128);
    EXPECT_EQ(form->StatusBar1->currentMessage().toStdString(),
              "1 texture imported into city.txd: road, 8 x 4 8888, 1 level");

    ASSERT_TRUE(form->ActUndo->isEnabled());
    EXPECT_EQ(form->ActUndo->text().toStdString(), "Undo import of road");
    form->ActUndo->trigger();
    ASSERT_EQ(errors(), "");
    EXPECT_EQ(readBytes(imgFile), inPlace);
    EXPECT_EQ(textureText("Dimensions"), "4x4");
}

TEST_F(ImportChoicesTest, TheDxtQualityChosenIsTheEncoderQualityWritten)
{
    // sky: DXT1, 8 x 8, one level; a picture whose blocks the two encoders
    // encode differently, opaque (DXT1 without its alpha).
    std::vector<uint8_t> bgra;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            bgra.insert(bgra.end(),
                        {uint8_t(x * 37 + y * 11), uint8_t((x * y * 29) & 255), uint8_t(200 - y * 23), uint8_t(255)});
    std::vector<uint8_t> fast(32), best(32);
    encodeDxtLevel(DxtFormat::Dxt1, DxtQuality::Fast, bgra.data(), 8, 8, fast.data(), 1);
    encodeDxtLevel(DxtFormat::Dxt1, DxtQuality::Best, bgra.data(), 8, 8, best.data(), 1);
    ASSERT_NE(fast, best);  // else this picture tells nothing
    const std::string picture = dir.file("noise.tga");
    writeTga32(picture, 8, 8, bgra);
    form->FormImage->CheckExact->setChecked(true);

    for (const bool useBest : {true, false}) {
        SCOPED_TRACE(useBest);
        selectTexture(2);
        ASSERT_EQ(textureText(TextureField::kName), "sky");
        bool enabled = false;
        importWith(picture, true, [&](TFormImage& preview) {
            enabled = preview.ComboDxt->isEnabled();
            preview.ComboDxt->setCurrentIndex(useBest ? 1 : 0);
        });
        ASSERT_EQ(errors(), "");
        EXPECT_TRUE(enabled);
        std::vector<uint8_t> expected = le32(32);
        const std::vector<uint8_t>& blocks = useBest ? best : fast;
        expected.insert(expected.end(), blocks.begin(), blocks.end());
        EXPECT_TRUE(holds(readBytes(imgFile), expected));
    }
}

TEST_F(ImportChoicesTest, ARefusedChoiceShowsWhyAndKeepsWhatThePreviewShows)
{
    // DXT1 needs sides divisible by 4: a typed 6 x 6 is refused while the
    // preview is up, its controls go back, and Cancel writes nothing.
    selectTexture(3);
    const std::vector<uint8_t> before = readBytes(imgFile);
    const std::string picture = dir.file("small.tga");
    writeTga32(picture, 4, 4, fullScalePixels(4, 4));
    int sizeAfter = -1;
    std::string layoutAfter, bytesAfter;
    importWith(picture, false, [&](TFormImage& preview) {
        preview.ComboLayout->setCurrentIndex(preview.ComboLayout->findText(QStringLiteral("DXT1")));
        preview.ComboSize->setCurrentIndex(2);
        preview.SpinWidth->setValue(6);
        sizeAfter = preview.ComboSize->currentIndex();
        layoutAfter = preview.ComboLayout->currentText().toStdString();
        bytesAfter = preview.LabelBytes->text().toStdString();
    });
    ASSERT_EQ(form->script().errors.size(), 1u);
    EXPECT_EQ(form->script().errors[0].text,
              "DXT1 stores 4 x 4 blocks: its width and height must be divisible by 4, and 6 x 4 is not; choose "
              "another size.");
    // Back to the last choice prepared: typed 4 x 4 DXT1 (4 + 8 bytes).
    EXPECT_EQ(sizeAfter, 2);
    EXPECT_EQ(layoutAfter, "DXT1");
    EXPECT_EQ(bytesAfter, "Writes 12 bytes of texture data (now 36)");
    EXPECT_EQ(readBytes(imgFile), before);
}
