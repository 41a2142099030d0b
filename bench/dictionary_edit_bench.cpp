// SPDX-License-Identifier: GPL-2.0-or-later
// The byte-level cost of a dictionary edit: parsing a sectioned dictionary
// of N textures into its section tree and writing it again with one texture
// added, one grown 16-fold, or nothing changed, beside a plain copy of its
// bytes and beside encoding a new texture's content from a picture. An edit
// should cost the new texture's encoding plus about a copy of the
// dictionary, nothing per texture beyond that: the same edits run over
// dictionaries of 50, 200 and 800 textures of the same total size (about
// 8.7 MB). Run as it is, the buffers reuse memory of the iterations before;
// with GLIBC_TUNABLES=glibc.malloc.mmap_threshold=131072 every buffer is
// fresh memory, as in a command's one run, and the page faults show.
#include "formats/dictionary_edit.h"
#include "formats/dictionary_tree.h"
#include "formats/sectioned_dictionary_writer.h"
#include "support/picture_builder.h"
#include "texture/texture_build.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int64_t kDictionaryBytes = 12 << 20;  // about 12 MiB of texels, however many textures

// The side of the square textures of a dictionary of `count`: the largest
// power of two whose DXT1 textures with full chains (2/3 byte a pixel) stay
// within kDictionaryBytes.
int sideFor(int count)
{
    int side = 8;
    while (int64_t(count) * (2 * side) * (2 * side) * 2 / 3 <= kDictionaryBytes)
        side *= 2;
    return side;
}

// A sectioned dictionary of `count` DXT1 textures with full chains (any
// bytes are DXT1 blocks).
std::vector<uint8_t> dictionaryOf(int count)
{
    const int side = sideFor(count);
    SectionedDictionary d;
    d.libraryVersion = kNewerHeaderStamp;
    for (int i = 0; i < count; ++i) {
        SectionedTexture t;
        t.name = "texture" + std::to_string(i);
        const int levels = fullLevelCount(side, side);
        t.layout = {TexelFormat::Dxt1, false, side, side, levels};
        for (int k = 0; k < levels; ++k) {
            std::vector<uint8_t> level(
                size_t(texelLevelBytes(TexelFormat::Dxt1, mipLevelSize(side, k), mipLevelSize(side, k))));
            for (size_t j = 0; j < level.size(); ++j)
                level[j] = uint8_t(j * 131 + size_t(k + i));
            t.levels.push_back(std::move(level));
        }
        d.textures.push_back(std::move(t));
    }
    return buildSectionedDictionary(d);
}

// A content of a side x side DXT1 texture with its full chain (its bytes
// are any bytes: only their sizes matter to the tree).
TextureContent contentOf(int side)
{
    TextureContent c;
    c.layout = {TexelFormat::Dxt1, false, side, side, fullLevelCount(side, side)};
    c.data.resize(size_t(texelDataBytes(c.layout)));
    size_t at = 0;
    for (int k = 0; k < c.layout.levels; ++k) {
        const uint32_t n = uint32_t(texelLevelBytes(TexelFormat::Dxt1, mipLevelSize(side, k), mipLevelSize(side, k)));
        std::memcpy(c.data.data() + at, &n, 4);
        at += 4 + n;
    }
    return c;
}

// The entry's bytes as a command has them, read from the file into a buffer
// of their own that the tree then takes over: made outside the timing.
std::vector<uint8_t> entryBytes(benchmark::State& state, const std::vector<uint8_t>& dict)
{
    state.PauseTiming();
    std::vector<uint8_t> bytes(dict);
    state.ResumeTiming();
    return bytes;
}

// A copy of the content the edit takes over, as a command hands it the one it built.
TextureContent outsideTiming(benchmark::State& state, const TextureContent& content)
{
    state.PauseTiming();
    TextureContent copy = content;
    state.ResumeTiming();
    return copy;
}

void BM_CopyOnly(benchmark::State& state)
{
    const std::vector<uint8_t> dict = dictionaryOf(int(state.range(0)));
    for (auto _ : state) {
        std::vector<uint8_t> copy(dict);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dict.size()));
}

void BM_ParseAndWriteUnchanged(benchmark::State& state)
{
    const std::vector<uint8_t> dict = dictionaryOf(int(state.range(0)));
    for (auto _ : state) {
        const DictionaryTree tree = parseDictionaryTree(entryBytes(state, dict));
        benchmark::DoNotOptimize(writeDictionaryTree(tree).data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dict.size()));
}

void BM_AddTexture(benchmark::State& state)
{
    const std::vector<uint8_t> dict = dictionaryOf(int(state.range(0)));
    // A texture of the size of the others.
    const TextureContent added = contentOf(sideFor(int(state.range(0))));
    for (auto _ : state) {
        DictionaryTree tree = parseDictionaryTree(entryBytes(state, dict));
        addTexture(tree, "added", "", outsideTiming(state, added));
        benchmark::DoNotOptimize(writeDictionaryTree(tree).data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dict.size()));
}

void BM_ReplaceGrown(benchmark::State& state)
{
    const std::vector<uint8_t> dict = dictionaryOf(int(state.range(0)));
    // Four times the side of the texture it replaces: 16 times its bytes.
    const TextureContent grown = contentOf(4 * sideFor(int(state.range(0))));
    for (auto _ : state) {
        DictionaryTree tree = parseDictionaryTree(entryBytes(state, dict));
        replaceTextureContent(tree, tree.textureCount() / 2, outsideTiming(state, grown));
        benchmark::DoNotOptimize(writeDictionaryTree(tree).data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dict.size()));
}

// The encoding an edit adds: a 512 x 512 picture (not resampled) to DXT1
// with its full chain, as add-texture makes it; for comparison with the
// edits of the 50-texture dictionary, whose textures are of that size.
void BM_Encode512Dxt1(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto picture = MakePhotoLikePicture(512, 512, 7);
        state.ResumeTiming();
        TextureBuildRequest r;
        r.format = TexelFormat::Dxt1;
        r.levels = {LevelsChoice::All, 0};
        benchmark::DoNotOptimize(buildTextureContent(*picture, {}, r).data.data());
    }
}

}  // namespace

BENCHMARK(BM_CopyOnly)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndWriteUnchanged)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddTexture)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceGrown)->Arg(50)->Arg(200)->Arg(800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode512Dxt1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
