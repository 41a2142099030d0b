// SPDX-License-Identifier: GPL-2.0-or-later
// What a dictionary edit costs from the command line, in a .dir archive whose
// dictionary entry holds N DXT1 textures with full chains (about 8.7 MB
// whatever N: 50 of 512 x 512, 200 of 256 x 256, 800 of 128 x 128) between
// two other entries:
// - import of a picture of a texture's own size (in place, the picture not
//   resampled: --exact), the import as it always was;
// - the same import of a picture 4 times wider and higher (--picture-size):
//   the texture grows 16-fold, the dictionary is rewritten and moves after
//   the data;
// - add-texture of a picture of the textures' size, and of an 8 x 8 one
//   (whose encoding costs next to nothing);
// beside what they cannot do without: the tool's start and the archive's
// open (list), a copy of the dictionary's bytes flushed to the disk, and the
// encoding of the new texture alone (in this process).
// A grown import or an add should cost the new texture's encoding plus
// about a copy of the dictionary and one transaction, nothing per texture
// beyond that. Each command runs against the archive as it was (restored,
// and synced, outside the timing), its undo record kept in a scratch folder
// emptied before each run.
#include "formats/archive_writer.h"
#include "formats/dictionary_edit.h"
#include "formats/sectioned_dictionary_writer.h"
#include "imaging/import_pipeline.h"
#include "support/archive_builder.h"
#include "support/picture_builder.h"
#include "support/tool_runner.h"
#include "texture/texture_build.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

namespace {

using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

constexpr int64_t kDictionaryBytes = 12 << 20;

// The side of the square textures of a dictionary of `count`, as in
// dictionary_edit_bench: about the same bytes for every count.
int sideFor(int count)
{
    int side = 8;
    while (int64_t(count) * (2 * side) * (2 * side) * 2 / 3 <= kDictionaryBytes)
        side *= 2;
    return side;
}

std::vector<uint8_t> pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 7;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = uint8_t(x >> 24);
    }
    return bytes;
}

// The archive of a dictionary of `count` textures, and the pictures.
struct Fixture {
    ScratchDir dir{"qx_bench_dictionary_command"};
    int side = 0;
    std::vector<uint8_t> dirBytes, imgBytes;
    std::string archive = dir.file("d.dir"), img = dir.file("d.img");
    std::string same = dir.file("same.tga"), grown = dir.file("grown.tga"), tiny = dir.file("tiny.tga");
    explicit Fixture(int count) : side(sideFor(count))
    {
        SectionedDictionary d;
        d.libraryVersion = kNewerHeaderStamp;
        for (int i = 0; i < count; ++i) {
            SectionedTexture t;
            t.name = "texture" + std::to_string(i);
            const int levels = fullLevelCount(side, side);
            t.layout = {TexelFormat::Dxt1, false, side, side, levels};
            for (int k = 0; k < levels; ++k)
                t.levels.push_back(
                    pattern(size_t(texelLevelBytes(TexelFormat::Dxt1, mipLevelSize(side, k), mipLevelSize(side, k))),
                            uint32_t(i * 31 + k)));
            d.textures.push_back(std::move(t));
        }
        const BuiltArchive a = buildArchive({{"first.dff", pattern(4 << 20, 1)},
                                             {"tex.txd", buildSectionedDictionary(d)},
                                             {"last.dff", pattern(4 << 20, 2)}});
        dirBytes = a.dir;
        imgBytes = a.img;
        SavePictureAsTgaFile(*MakePhotoLikePicture(side, side, 3), same);
        SavePictureAsTgaFile(*MakePhotoLikePicture(4 * side, 4 * side, 4), grown);
        SavePictureAsTgaFile(*MakePhotoLikePicture(8, 8, 5), tiny);
        writeBytes(archive, dirBytes);
        writeBytes(img, imgBytes);
    }
    void restore() const
    {
        writeBytes(archive, dirBytes);
        writeBytes(img, imgBytes);
    }
};

Fixture& fixture(int count)
{
    static std::map<int, std::unique_ptr<Fixture>> made;
    std::unique_ptr<Fixture>& f = made[count];
    if (!f)
        f = std::make_unique<Fixture>(count);
    return *f;
}

ScratchDir& stateFolder()
{
    static ScratchDir dir{"qx_bench_dictionary_state"};
    return dir;
}

void run(benchmark::State& state, const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        state.SkipWithError(("failed: " + command).c_str());
}

void timeCommand(benchmark::State& state, const std::string& args)
{
    Fixture& f = fixture(int(state.range(0)));
    ::setenv("XDG_STATE_HOME", stateFolder().path().c_str(), 1);
    state.counters["dictionary_MB"] = double(f.imgBytes.size() - (8 << 20)) / 1e6;
    state.counters["side"] = f.side;
    for (auto _ : state) {
        state.PauseTiming();
        f.restore();
        // No undo records of the runs before: each run keeps one, and
        // every change reads the records kept.
        std::filesystem::remove_all(stateFolder().path() + "/quarnix");
        run(state, "sync");
        state.ResumeTiming();
        run(state, quarnixToolPath() + " " + args + " 2>/dev/null >/dev/null");
    }
}

void List(benchmark::State& state)
{
    timeCommand(state, "list " + fixture(int(state.range(0))).archive);
}

void ImportSameSize(benchmark::State& state)
{
    const Fixture& f = fixture(int(state.range(0)));
    timeCommand(state, "import " + f.archive + " tex.txd texture7 " + f.same + " --exact");
}

void ImportGrown(benchmark::State& state)
{
    const Fixture& f = fixture(int(state.range(0)));
    timeCommand(state, "import " + f.archive + " tex.txd texture7 " + f.grown + " --exact --picture-size");
}

void AddTexture(benchmark::State& state)
{
    const Fixture& f = fixture(int(state.range(0)));
    timeCommand(state, "add-texture " + f.archive + " tex.txd " + f.same + " --name added");
}

// add-texture of an 8 x 8 picture, whose encoding costs next to nothing:
// what is left is the dictionary's rewrite and its transaction.
void AddTinyTexture(benchmark::State& state)
{
    const Fixture& f = fixture(int(state.range(0)));
    timeCommand(state, "add-texture " + f.archive + " tex.txd " + f.tiny + " --name added");
}

// The floor of a rewrite: a copy of the dictionary's bytes into a new file,
// flushed to the disk.
void CopyDictionaryAndSync(benchmark::State& state)
{
    const Fixture& f = fixture(int(state.range(0)));
    const std::string from = f.dir.file("dictionary.bin"), to = f.dir.file("copy.bin");
    writeBytes(from, std::vector<uint8_t>(f.imgBytes.begin() + (4 << 20), f.imgBytes.end() - (4 << 20)));
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(to.c_str());
        run(state, "sync");
        state.ResumeTiming();
        run(state, "cp " + from + " " + to + " && sync -f " + to);
    }
}

// The new texture's encoding alone: a picture of `side` (the textures' or 4
// times it) to DXT1 with its full chain, not resampled.
void EncodeOnly(benchmark::State& state)
{
    const int side = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto picture = MakePhotoLikePicture(side, side, 3);
        state.ResumeTiming();
        TextureBuildRequest r;
        r.format = TexelFormat::Dxt1;
        r.levels = {LevelsChoice::All, 0};
        benchmark::DoNotOptimize(buildTextureContent(*picture, {}, r).data.data());
    }
}

}  // namespace

BENCHMARK(List)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(ImportSameSize)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(ImportGrown)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(AddTexture)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(CopyDictionaryAndSync)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(AddTinyTexture)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(EncodeOnly)->Arg(128)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
