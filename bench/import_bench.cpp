// SPDX-License-Identifier: GPL-2.0-or-later
// Importing a 1024 x 1024 photograph over a 256 x 256 8-bit texture, from
// the picture file to the bytes on disk: load, resample, reduce, mirror,
// encode, write (flushed and read back). Measured against ImageMagick doing
// the nearest thing it can in one command (resize, dither, 256 colours, TGA)
// on the same file in the same run.
//
// Camera photos: 12 and 48 megapixel JPEG and PNG files imported over a
// 512 x 512 32-bit texture (load, resample, mirror, encode, write), against
// ImageMagick resizing the same file to a 512 x 512 TGA.
#include "formats/archive_writer.h"
#include "formats/texture_dictionary.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/picture_builder.h"
#include "texture/texture_import.h"

#include <QImage>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

namespace {

struct Fixture {
    archive_fixture::ScratchDir dir{"qx_import_bench"};
    std::string photo;
    std::string archive;
    TextureRef texture;

    Fixture()
    {
        photo = dir.file("photo.png");
        const auto picture = MakePhotoLikePicture(1024, 1024, 7);
        QImage image(1024, 1024, QImage::Format_RGB32);
        for (int y = 0; y < 1024; ++y)
            for (int x = 0; x < 1024; ++x)
                image.setPixel(x, y, 0xFF000000u | picture->GetPixelColor(x, y));
        image.save(QString::fromStdString(photo), "PNG");

        TextureDictionary d;
        d.textures.push_back(
            makeTexturePaletted8("target", "", 256, 256, {{1, 2, 3, 255}}, std::vector<uint8_t>(256 * 256, 0)));
        archive = dir.file("bench.txd");
        archive_fixture::writeBytes(archive, buildTextureDictionary(d));
        TFileStream f(archive, FileMode::OpenReadShareDenyWrite);
        texture = textureRefOf(readTextureDictionary(f, 0, f.Size()).rows.at(0));
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void ImportPhotoOver8BitTexture(benchmark::State& state)
{
    InitImageLibrary();
    Fixture& f = fixture();
    for (auto _ : state) {
        std::unique_ptr<TDibGraphic> picture = LoadPictureFromFile(f.photo, 1);
        PrepareImportPicture(*picture, importPictureSize(f.texture), importPictureFormat(f.texture));
        writeImportBlockToFile(f.archive, f.texture, buildImportBlock(*picture, f.texture));
    }
}
BENCHMARK(ImportPhotoOver8BitTexture)->Unit(benchmark::kMillisecond)->UseRealTime();

void ImageMagickConvert(benchmark::State& state)
{
    Fixture& f = fixture();
    const char* convert = "/usr/bin/convert";
    if (!std::filesystem::exists(convert)) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    const std::string command = std::string(convert) + " " + f.photo
                                + " -resize 256x256! -dither FloydSteinberg -colors 256 " + f.dir.file("out.tga");
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("convert failed");
            return;
        }
    }
}
BENCHMARK(ImageMagickConvert)->Unit(benchmark::kMillisecond)->UseRealTime();

// A camera-sized photo-like picture written as JPEG or PNG, and a dictionary
// holding one 512 x 512 32-bit texture to import it over.
struct CameraFixture {
    archive_fixture::ScratchDir dir{"qx_import_camera_bench"};
    std::string photo;
    std::string archive;
    TextureRef texture;

    CameraFixture(int width, int height, const char* format)
    {
        const auto picture = MakePhotoLikePicture(width, height, 11);
        QImage image(width, height, QImage::Format_RGB888);
        for (int y = 0; y < height; ++y) {
            const uint8_t* s = picture->RowPointer(y);
            uchar* d = image.scanLine(y);
            for (int x = 0; x < width; ++x) {
                d[3 * x] = s[3 * x + 2];
                d[3 * x + 1] = s[3 * x + 1];
                d[3 * x + 2] = s[3 * x];
            }
        }
        photo = dir.file(std::string("photo.") + (std::string(format) == "JPEG" ? "jpg" : "png"));
        image.save(QString::fromStdString(photo), format, std::string(format) == "JPEG" ? 90 : -1);

        TextureDictionary d;
        d.textures.push_back(makeTexture32("target", "", 512, 512, std::vector<Rgba>(512 * 512, Rgba{1, 2, 3, 255})));
        archive = dir.file("camera.txd");
        archive_fixture::writeBytes(archive, buildTextureDictionary(d));
        TFileStream f(archive, FileMode::OpenReadShareDenyWrite);
        texture = textureRefOf(readTextureDictionary(f, 0, f.Size()).rows.at(0));
    }
};

// Arguments: megapixels (12 or 48), 0 for JPEG, 1 for PNG. Each file is made
// once and kept on disk for both benchmarks.
CameraFixture& cameraFixture(const benchmark::State& state)
{
    static std::map<int64_t, std::unique_ptr<CameraFixture>> fixtures;
    std::unique_ptr<CameraFixture>& f = fixtures[state.range(0) * 2 + state.range(1)];
    if (!f) {
        const int width = state.range(0) == 48 ? 8000 : 4000, height = width * 3 / 4;
        f = std::make_unique<CameraFixture>(width, height, state.range(1) ? "PNG" : "JPEG");
    }
    return *f;
}

void ImportCameraPhotoOver32BitTexture(benchmark::State& state)
{
    InitImageLibrary();
    CameraFixture& f = cameraFixture(state);
    for (auto _ : state) {
        std::unique_ptr<TDibGraphic> picture = LoadPictureFromFile(f.photo, 1);
        PrepareImportPicture(*picture, importPictureSize(f.texture), importPictureFormat(f.texture));
        writeImportBlockToFile(f.archive, f.texture, buildImportBlock(*picture, f.texture));
    }
}
BENCHMARK(ImportCameraPhotoOver32BitTexture)
    ->ArgsProduct({{12, 48}, {0, 1}})
    ->ArgNames({"MP", "png"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void ImageMagickResizeCameraPhoto(benchmark::State& state)
{
    CameraFixture& f = cameraFixture(state);
    const char* convert = "/usr/bin/convert";
    if (!std::filesystem::exists(convert)) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    const std::string command = std::string(convert) + " " + f.photo + " -resize 512x512! " + f.dir.file("out.tga");
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("convert failed");
            return;
        }
    }
}
BENCHMARK(ImageMagickResizeCameraPhoto)
    ->ArgsProduct({{12, 48}, {0, 1}})
    ->ArgNames({"MP", "png"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
