// SPDX-License-Identifier: GPL-2.0-or-later
// quarnix-tool import-all of 2,000 edited DXT1 textures of 256 x 256 with
// every mip level (100 sectioned dictionaries of 20) against export-all of
// the same archive. The pictures are export-all's own PNGs with every pixel
// changed, so every texture is resampled-free (--exact), rebuilt level by
// level and block-compressed again. Then the HD case: the same pictures
// grown 4 times in each side (1024 x 1024), imported with --picture-size, so
// every texture is made again at the new size with its full chain and every
// dictionary rewritten.
#include "formats/archive_sample.h"
#include "formats/archive_writer.h"
#include "formats/sectioned_dictionary_writer.h"
#include "formats/texel_layout.h"
#include "support/archive_builder.h"
#include "support/tool_runner.h"

#include <QImage>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

constexpr int kDictionaries = 100;
constexpr int kTexturesEach = 20;
constexpr int kSide = 256;
constexpr int kLevels = 9;  // 256 down to 1

struct Fixture {
    archive_fixture::ScratchDir dir{"qx_import_all_bench"};
    std::string archive;
    std::string pictures;
    std::string pristine;
    std::string pristineDir;
    std::string hdPictures;  // 1024 x 1024, every file a link to one picture

    Fixture()
    {
        // The undo records the imports keep go with the scratch folder.
        ::setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
        // One texture's levels: the plasma picture block-compressed by the
        // import's own encoder, level by level.
        const std::vector<Rgba> picture = archive_sample::plasma(kSide, kSide);
        std::vector<uint8_t> level(size_t(kSide) * kSide * 4);
        for (size_t i = 0; i < picture.size(); ++i) {
            level[4 * i] = picture[i].b;
            level[4 * i + 1] = picture[i].g;
            level[4 * i + 2] = picture[i].r;
            level[4 * i + 3] = 255;
        }
        TexelLayout layout;
        layout.format = TexelFormat::Dxt1;
        layout.width = layout.height = kSide;
        layout.levels = kLevels;
        std::vector<std::vector<uint8_t>> levels;
        int w = kSide, h = kSide;
        for (int k = 0; k < kLevels; ++k) {
            if (k > 0) {
                level = nextMipLevel(level.data(), w, h);
                w = std::max(1, w / 2);
                h = std::max(1, h / 2);
            }
            std::vector<uint8_t> blocks(size_t(texelLevelBytes(layout.format, w, h)));
            encodeTexelLevel(layout, level.data(), w, h, blocks.data());
            levels.push_back(std::move(blocks));
        }
        SectionedDictionary d;
        for (int i = 0; i < kTexturesEach; ++i) {
            SectionedTexture t;
            t.name = "texture" + std::to_string(i);
            t.layout = layout;
            t.levels = levels;
            d.textures.push_back(t);
        }
        const std::vector<uint8_t> bytes = buildSectionedDictionary(d);
        std::vector<ArchiveItem> items;
        for (int i = 0; i < kDictionaries; ++i)
            items.push_back({"dict" + std::to_string(i) + ".txd", bytes});
        archive = dir.file("big.dir");
        writeArchive(archive, dir.file("big.img"), items);
        pristine = dir.file("pristine.img");
        std::filesystem::copy_file(dir.file("big.img"), pristine);
        pristineDir = dir.file("pristine.dir");
        std::filesystem::copy_file(archive, pristineDir);

        // The edited pictures: export-all's PNGs, every pixel inverted.
        pictures = dir.file("pictures");
        if (std::system((quarnixToolPath() + " export-all " + archive + " " + pictures + " --png 2>/dev/null").c_str())
            != 0)
            return;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(pictures)) {
            if (!entry.is_regular_file())
                continue;
            QImage image(QString::fromStdString(entry.path().string()));
            image.invertPixels();
            image.save(QString::fromStdString(entry.path().string()), "PNG");
        }

        // Every texture holds the same levels, so every edited picture is
        // the same: the HD folder links each name to one grown picture.
        hdPictures = dir.file("pictures_hd");
        const std::string grown = dir.file("grown.png");
        QImage(QString::fromStdString(pictures + "/dict0.txd/texture0.png"))
            .scaled(4 * kSide, 4 * kSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .save(QString::fromStdString(grown), "PNG");
        for (int i = 0; i < kDictionaries; ++i) {
            const std::string folder = hdPictures + "/dict" + std::to_string(i) + ".txd";
            std::filesystem::create_directories(folder);
            for (int t = 0; t < kTexturesEach; ++t)
                std::filesystem::create_hard_link(grown, folder + "/texture" + std::to_string(t) + ".png");
        }
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void ExportAll2000Dxt1Textures(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string out = f.dir.file("out");
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ec;
        std::filesystem::remove_all(out, ec);
        state.ResumeTiming();
        if (std::system((quarnixToolPath() + " export-all " + f.archive + " " + out + " --png 2>/dev/null").c_str())
            != 0) {
            state.SkipWithError("export-all failed");
            return;
        }
    }
    state.counters["textures_per_s"] = benchmark::Counter(
        double(kDictionaries * kTexturesEach) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(ExportAll2000Dxt1Textures)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void ImportAll2000EditedDxt1Textures(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::copy_file(f.pristine, f.dir.file("big.img"),
                                   std::filesystem::copy_options::overwrite_existing);
        state.ResumeTiming();
        if (std::system(
                (quarnixToolPath() + " import-all " + f.archive + " " + f.pictures + " --exact 2>/dev/null").c_str())
            != 0) {
            state.SkipWithError("import-all failed");
            return;
        }
    }
    state.counters["textures_per_s"] = benchmark::Counter(
        double(kDictionaries * kTexturesEach) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(ImportAll2000EditedDxt1Textures)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void ImportAll2000Dxt1TexturesGrown4x(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::copy_file(f.pristine, f.dir.file("big.img"),
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(f.pristineDir, f.archive, std::filesystem::copy_options::overwrite_existing);
        state.ResumeTiming();
        if (std::system(
                (quarnixToolPath() + " import-all " + f.archive + " " + f.hdPictures + " --picture-size 2>/dev/null")
                    .c_str())
            != 0) {
            state.SkipWithError("import-all --picture-size failed");
            return;
        }
    }
    state.counters["textures_per_s"] = benchmark::Counter(
        double(kDictionaries * kTexturesEach) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(ImportAll2000Dxt1TexturesGrown4x)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
