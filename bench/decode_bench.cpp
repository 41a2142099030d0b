// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding a 2048 x 2048 colour picture through the PNG, JPEG and TIFF
// readers, against the same library decoding the same bytes into a plain
// buffer. The readers' own work (format checks, row placement, colour order)
// should stay within a fifth of the library's decoding time.
#include "imaging/readers/jpeg_graphic.h"
#include "imaging/readers/png_graphic.h"
#include "imaging/readers/tiff_graphic.h"
#include "platform/streams.h"
#include "support/jpeg_builder.h"
#include "support/png_builder.h"
#include "support/tiff_builder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace {

constexpr int kSize = 2048;

// Photo-like samples: smooth gradients with a little deterministic noise.
uint8_t sampleAt(int x, int y, int channel)
{
    uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(channel) * 83492791u;
    h ^= h >> 13;
    const int noise = int(h % 9) - 4;
    const int base = channel == 0 ? x / 8 : channel == 1 ? y / 8 : (x + y) / 16;
    return uint8_t(std::clamp(base + noise, 0, 255));
}

const std::vector<uint8_t>& pngFile()
{
    static const std::vector<uint8_t> bytes = [] {
        png_fixture::PngRecipe recipe;
        recipe.width = recipe.height = kSize;
        recipe.colorType = png_fixture::Rgb;
        recipe.srgbIntent = 0;
        recipe.rows.assign(kSize, std::vector<int>(kSize * 3));
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                for (int c = 0; c < 3; ++c)
                    recipe.rows[size_t(y)][size_t(x * 3 + c)] = sampleAt(x, y, c);
        return png_fixture::writePng(recipe);
    }();
    return bytes;
}

const std::vector<uint8_t>& jpegFile()
{
    static const std::vector<uint8_t> bytes = [] {
        jpeg_fixture::JpegRecipe recipe;
        recipe.width = recipe.height = kSize;
        recipe.kind = jpeg_fixture::JpegKind::YCbCr;
        recipe.quality = 90;
        recipe.pixels.resize(size_t(kSize) * kSize * 3);
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                for (int c = 0; c < 3; ++c)
                    recipe.pixels[(size_t(y) * kSize + size_t(x)) * 3 + size_t(c)] = sampleAt(x, y, c);
        return jpeg_fixture::writeJpeg(recipe);
    }();
    return bytes;
}

const std::vector<uint8_t>& tiffFile()
{
    static const std::vector<uint8_t> bytes = [] {
        tiff_fixture::TiffPage page;
        page.width = page.height = kSize;
        page.bitsPerSample = 8;
        page.samplesPerPixel = 3;
        page.photometric = PHOTOMETRIC_RGB;
        page.compression = COMPRESSION_DEFLATE;
        page.rowsPerStrip = 16;
        page.pixels.resize(size_t(kSize) * kSize * 3);
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                for (int c = 0; c < 3; ++c)
                    page.pixels[(size_t(y) * kSize + size_t(x)) * 3 + size_t(c)] = sampleAt(x, y, c);
        return tiff_fixture::writeTiff({page});
    }();
    return bytes;
}

template <typename Picture>
void decodeOurs(benchmark::State& state, const std::vector<uint8_t>& file)
{
    TMemoryStream stream(file);
    for (auto _ : state) {
        stream.SetPosition(0);
        Picture picture;
        picture.ReadImage(stream, 1);
        benchmark::DoNotOptimize(picture.Bits());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 3);
}

// --- libpng alone

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void pngRead(png_structp png, png_bytep out, size_t length)
{
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (src->size - src->pos < length)
        png_error(png, "Read Error");
    std::memcpy(out, src->data + src->pos, length);
    src->pos += length;
}

bool pngDecodePlain(png_structp png, png_infop info, PngSource* src, uint8_t* pixels)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, src, pngRead);
    png_read_info(png, info);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y)
        png_read_row(png, pixels + y * rowBytes, nullptr);
    return true;
}

void BM_PngLibraryAlone(benchmark::State& state)
{
    const std::vector<uint8_t>& file = pngFile();
    std::vector<uint8_t> pixels(size_t(kSize) * kSize * 3);
    for (auto _ : state) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        PngSource src{file.data(), file.size(), 0};
        const bool ok = pngDecodePlain(png, info, &src, pixels.data());
        png_destroy_read_struct(&png, &info, nullptr);
        if (!ok)
            state.SkipWithError("libpng failed");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 3);
}

void BM_PngReader(benchmark::State& state)
{
    decodeOurs<TPngGraphic>(state, pngFile());
}

// --- libjpeg alone

struct JpegErrors {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void jpegFail(j_common_ptr cinfo)
{
    longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

bool jpegDecodePlain(jpeg_decompress_struct* cinfo, JpegErrors* err, const std::vector<uint8_t>* file, uint8_t* pixels)
{
    if (setjmp(err->jump))
        return false;
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, file->data(), static_cast<unsigned long>(file->size()));
    jpeg_read_header(cinfo, TRUE);
    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    const size_t stride = size_t(cinfo->output_width) * 3;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = pixels + cinfo->output_scanline * stride;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

void BM_JpegLibraryAlone(benchmark::State& state)
{
    const std::vector<uint8_t>& file = jpegFile();
    std::vector<uint8_t> pixels(size_t(kSize) * kSize * 3);
    for (auto _ : state) {
        jpeg_decompress_struct cinfo;
        std::memset(&cinfo, 0, sizeof cinfo);
        JpegErrors err;
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = jpegFail;
        const bool ok = jpegDecodePlain(&cinfo, &err, &file, pixels.data());
        jpeg_destroy_decompress(&cinfo);
        if (!ok)
            state.SkipWithError("libjpeg failed");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 3);
}

void BM_JpegReader(benchmark::State& state)
{
    decodeOurs<TJpegGraphic>(state, jpegFile());
}

// --- libtiff alone

struct TiffMemory {
    const std::vector<uint8_t>* file;
    uint64_t pos;
};

tmsize_t tiffRead(thandle_t h, void* buf, tmsize_t size)
{
    auto* m = static_cast<TiffMemory*>(h);
    const uint64_t left = m->file->size() > m->pos ? m->file->size() - m->pos : 0;
    const size_t n = size_t(std::min<uint64_t>(left, uint64_t(size)));
    std::memcpy(buf, m->file->data() + m->pos, n);
    m->pos += n;
    return tmsize_t(n);
}
tmsize_t tiffWrite(thandle_t, void*, tmsize_t)
{
    return -1;
}
toff_t tiffSeek(thandle_t h, toff_t off, int whence)
{
    auto* m = static_cast<TiffMemory*>(h);
    m->pos = (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->file->size()) + off;
    return m->pos;
}
int tiffClose(thandle_t)
{
    return 0;
}
toff_t tiffSize(thandle_t h)
{
    return static_cast<TiffMemory*>(h)->file->size();
}
int tiffMap(thandle_t h, void** base, toff_t* size)
{
    auto* m = static_cast<TiffMemory*>(h);
    *base = const_cast<uint8_t*>(m->file->data());
    *size = m->file->size();
    return 1;
}
void tiffUnmap(thandle_t, void*, toff_t) {}

void BM_TiffLibraryAlone(benchmark::State& state)
{
    const std::vector<uint8_t>& file = tiffFile();
    std::vector<uint8_t> pixels(size_t(kSize) * kSize * 3);
    for (auto _ : state) {
        TiffMemory memory{&file, 0};
        TIFF* tif = TIFFClientOpen("bench", "r", &memory, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap,
                                   tiffUnmap);
        if (!tif) {
            state.SkipWithError("libtiff failed");
            break;
        }
        const tmsize_t stripSize = TIFFStripSize(tif);
        uint8_t* out = pixels.data();
        for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
            const tmsize_t got = TIFFReadEncodedStrip(tif, s, out, stripSize);
            if (got < 0) {
                state.SkipWithError("libtiff failed");
                break;
            }
            out += got;
        }
        TIFFClose(tif);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 3);
}

void BM_TiffReader(benchmark::State& state)
{
    decodeOurs<TTiffGraphic>(state, tiffFile());
}

}  // namespace

BENCHMARK(BM_PngLibraryAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLibraryAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffLibraryAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffReader)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
