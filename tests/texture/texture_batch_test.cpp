// SPDX-License-Identifier: GPL-2.0-or-later
// The batch work of the texture library: import-all's bytes and batches do
// not depend on the number of worker threads, and a cancelled run keeps
// what it committed (an import) or wrote (an export) and nothing more.
#include "texture/texture_batch.h"

#include "archive/archive.h"
#include "formats/archive_directory.h"
#include "formats/sectioned_dictionary_writer.h"
#include "platform/cancellation.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"

#include <QImage>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

namespace fs = std::filesystem;
using namespace archive_fixture;

namespace {

constexpr int kDictionaries = 3;
constexpr int kTexturesEach = 6;
constexpr int kSide = 32;
const TexelFormat kLayouts[kTexturesEach] = {TexelFormat::Dxt1,      TexelFormat::Dxt5, TexelFormat::Bgra8888,
                                             TexelFormat::Paletted8, TexelFormat::Dxt3, TexelFormat::Rgb565};

// A picture of noisy colour and alpha, as a PNG.
void writeNoisePicture(const std::string& path, int width, int height, uint32_t seed)
{
    const std::vector<uint8_t> noise = noiseBytes(size_t(width) * height * 4, seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = noise.data() + 4 * (size_t(y) * width + x);
            image.setPixel(x, y, qRgba(p[0], p[1], p[2], p[3]));
        }
    ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
}

// An archive of three sectioned dictionaries d0.txd, d1.txd, d2.txd of six
// 32 x 32 textures t0 .. t5 with 6 levels each and one without textures,
// empty.txd, and a folder of edited
// pictures for them as export-all names them: every texture has one but
// d2.txd's t5, and d1.txd's t0 and t1 are 64 x 64.
class TextureBatch : public testing::Test {
protected:
    void SetUp() override
    {
        std::vector<ArchiveItem> items;
        for (int k = 0; k < kDictionaries; ++k) {
            SectionedDictionary d;
            for (int i = 0; i < kTexturesEach; ++i)
                d.textures.push_back(texel_cases::mipTexture("t" + std::to_string(i), kLayouts[i], kSide, kSide, 6));
            items.push_back({"d" + std::to_string(k) + ".txd", buildSectionedDictionary(d)});
        }
        items.push_back({"empty.txd", buildSectionedDictionary(SectionedDictionary{})});
        writeArchive(dir.file("a.dir"), dir.file("a.img"), items);
        originalDir = readBytes(dir.file("a.dir"));
        originalImg = readBytes(dir.file("a.img"));
        for (int k = 0; k < kDictionaries; ++k) {
            const std::string folder = pictures() + "/d" + std::to_string(k) + ".txd";
            fs::create_directories(folder);
            for (int i = 0; i < kTexturesEach; ++i) {
                if (k == 2 && i == 5)
                    continue;
                const int side = k == 1 && i < 2 ? 2 * kSide : kSide;
                writeNoisePicture(folder + "/t" + std::to_string(i) + ".png", side, side, uint32_t(10 * k + i));
            }
        }
    }

    // A fresh copy of the archive in its own folder; the path of its .dir.
    std::string copyOfArchive(const std::string& name) const
    {
        fs::create_directories(dir.file(name));
        fs::copy_file(dir.file("a.dir"), dir.file(name + "/a.dir"));
        fs::copy_file(dir.file("a.img"), dir.file(name + "/a.img"));
        return dir.file(name + "/a.dir");
    }
    std::string pictures() const { return dir.file("pictures"); }

    ScratchDir dir{"qx_texture_batch"};
    std::vector<uint8_t> originalDir, originalImg;
};

TEST_F(TextureBatch, TheBytesWrittenAndTheBatchesDoNotDependOnTheNumberOfThreads)
{
    struct Run {
        std::vector<uint8_t> dirBytes, imgBytes;
        std::vector<int64_t> commits;  // the textures imported after each batch
        ImportAllSummary summary;
    };
    std::vector<Run> runs;
    for (const int threads : {1, 2, 5}) {
        SCOPED_TRACE(threads);
        const std::string path = copyOfArchive("threads" + std::to_string(threads));
        Run run;
        {
            ArchiveEditor editor(path);
            ImportAllOptions options;
            options.pictureSize = true;
            options.threads = threads;
            run.summary = importAllTextures(editor, pictures(), options,
                                            [&run](const ImportAllSummary& s) { run.commits.push_back(s.imported); });
        }
        run.dirBytes = readBytes(path);
        run.imgBytes = readBytes(dir.file("threads" + std::to_string(threads) + "/a.img"));
        // Each dictionary is one batch: d1.txd rewritten with its two
        // grown textures and the four in place.
        EXPECT_EQ(run.commits, (std::vector<int64_t>{6, 12, 17}));
        EXPECT_EQ(run.summary.pictures, 17);
        EXPECT_EQ(run.summary.imported, 17);
        EXPECT_EQ(run.summary.unchanged, 0);
        EXPECT_EQ(run.summary.failed, 0);
        EXPECT_EQ(run.summary.skipped, (std::map<std::string, int64_t>{{"no picture", 1}}));
        EXPECT_TRUE(run.summary.stopped.empty()) << run.summary.stopped;
        runs.push_back(std::move(run));
    }
    // d1.txd grew and moved: both files changed.
    EXPECT_NE(runs[0].dirBytes, originalDir);
    EXPECT_GT(runs[0].imgBytes.size(), originalImg.size());
    for (size_t r = 1; r < runs.size(); ++r) {
        EXPECT_TRUE(runs[r].dirBytes == runs[0].dirBytes) << "run " << r;
        EXPECT_TRUE(runs[r].imgBytes == runs[0].imgBytes) << "run " << r;
    }
}

TEST_F(TextureBatch, ACancelledImportKeepsTheBatchesCommittedAndNothingOfTheOneAtHand)
{
    // The whole run on one copy, for the bytes d0.txd takes.
    const std::string whole = copyOfArchive("whole");
    {
        ArchiveEditor editor(whole);
        importAllTextures(editor, pictures());
    }
    const std::vector<uint8_t> wholeImg = readBytes(dir.file("whole/a.img"));

    // Cancelled once the second texture of d1.txd is gone through.
    const std::string path = copyOfArchive("cancelled");
    std::atomic<bool> cancel{false};
    ImportAllSummary summary;
    {
        ArchiveEditor editor(path);
        ImportAllOptions options;
        options.threads = 3;
        options.progress = [&cancel](int64_t done, int64_t, const std::string&) {
            if (done == kTexturesEach + 2)
                cancel = true;
        };
        const CancelScope scope(&cancel);
        summary = importAllTextures(editor, pictures(), options);
    }
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.goneThrough, kTexturesEach + 2);
    EXPECT_EQ(summary.imported, kTexturesEach);
    EXPECT_EQ(importAllSummaryText(summary), "6 textures imported, 0 unchanged; cancelled after 8 of 17 pictures");

    // d0.txd as the whole run wrote it; every other byte as it was.
    EXPECT_EQ(readBytes(path), originalDir);
    const std::vector<uint8_t> img = readBytes(dir.file("cancelled/a.img"));
    ASSERT_EQ(img.size(), originalImg.size());
    const ArchiveContents contents = readArchive(dir.file("a.dir"));
    const DirectoryEntry& d0 = contents.entries.at(0);
    ASSERT_EQ(d0.name, "d0.txd");
    const auto from = std::ptrdiff_t(d0.offset), to = std::ptrdiff_t(entryEnd(d0, int64_t(img.size())));
    EXPECT_FALSE(std::equal(img.begin() + from, img.begin() + to, originalImg.begin() + from));
    EXPECT_TRUE(std::equal(img.begin() + from, img.begin() + to, wholeImg.begin() + from));
    EXPECT_TRUE(std::equal(img.begin(), img.begin() + from, originalImg.begin()));
    EXPECT_TRUE(std::equal(img.begin() + to, img.end(), originalImg.begin() + to));
}

TEST_F(TextureBatch, PicturesAndFoldersThatMatchNothingAreNamedAndWriteNothing)
{
    fs::create_directories(pictures() + "/empty.txd");
    fs::create_directories(pictures() + "/gone.txd");
    fs::copy_file(pictures() + "/d0.txd/t0.png", pictures() + "/empty.txd/t0.png");
    fs::copy_file(pictures() + "/d0.txd/t0.png", pictures() + "/d2.txd/t6.png");
    fs::copy_file(pictures() + "/d0.txd/t0.png", pictures() + "/top.png");
    // Not a picture: not counted.
    writeBytes(pictures() + "/d2.txd/readme.txt", {'h', 'i'});
    // Only the unmatched files: the textures keep their bytes.
    for (int k = 0; k < kDictionaries; ++k)
        for (int i = 0; i < kTexturesEach; ++i)
            fs::remove(pictures() + "/d" + std::to_string(k) + ".txd/t" + std::to_string(i) + ".png");
    const std::string path = copyOfArchive("unmatched");
    ImportAllSummary summary;
    {
        ArchiveEditor editor(path);
        summary = importAllTextures(editor, pictures());
    }
    std::vector<std::string> pictureNames, folderNames;
    for (const ImportAllNote& n : summary.unmatchedPictures)
        pictureNames.push_back(n.what);
    for (const ImportAllNote& n : summary.unmatchedFolders)
        folderNames.push_back(n.what);
    EXPECT_EQ(pictureNames, (std::vector<std::string>{"d2.txd/t6.png", "empty.txd/t0.png", "top.png"}));
    EXPECT_EQ(folderNames, (std::vector<std::string>{"gone.txd"}));
    EXPECT_EQ(summary.imported, 0);
    EXPECT_EQ(importAllSummaryText(summary), "0 textures imported, 0 unchanged, 18 skipped (no picture: 18); 3 "
                                             "pictures match no texture; 1 folder matches no dictionary");
    EXPECT_EQ(readBytes(path), originalDir);
    EXPECT_EQ(readBytes(dir.file("unmatched/a.img")), originalImg);
}

TEST_F(TextureBatch, ACancelledExportKeepsTheFilesWrittenSoFar)
{
    std::atomic<bool> cancel{false};
    ExportAllOptions options;
    options.png = true;
    options.progress = [&cancel](int64_t done, int64_t, const std::string&) {
        if (done == 4)
            cancel = true;
    };
    const CancelScope scope(&cancel);
    const ExportAllSummary summary =
        exportAllTextures(dir.file("a.dir"), readArchive(dir.file("a.dir")), dir.file("out"), options);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.written, 4);
    EXPECT_EQ(exportAllSummaryText(summary), "4 of 18 textures written; cancelled");
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir.file("out")))
        if (entry.is_regular_file())
            files.push_back(fs::relative(entry.path(), dir.file("out")).string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"d0.txd/t0.png", "d0.txd/t1.png", "d0.txd/t2.png", "d0.txd/t3.png"}));
}

}  // namespace
