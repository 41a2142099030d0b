// Importing a 1024 x 1024 photograph over a 256 x 256 8-bit texture, from
// the picture file to the bytes on disk: load, resample, reduce, mirror,
// encode, write (flushed and read back). Measured against ImageMagick doing
// the nearest thing it can in one command (resize, dither, 256 colours, TGA)
// on the same file in the same run.
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
        texture = textureRefOf(readTextureDictionary(f, 0, INT64_MAX).rows.at(0));
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
    const std::string command = std::string(convert) + " " + f.photo +
                                " -resize 256x256! -dither FloydSteinberg -colors 256 " + f.dir.file("out.tga");
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("convert failed");
            return;
        }
    }
}
BENCHMARK(ImageMagickConvert)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
