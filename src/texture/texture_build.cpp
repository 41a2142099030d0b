// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/texture_build.h"

#include "imaging/format_transform.h"
#include "imaging/import_pipeline.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cstring>

namespace {

// One mip level of colours mapped onto the palette of level 0 with the
// import's dithering: its index bytes.
std::vector<uint8_t> paletteIndicesOf(const std::vector<uint8_t>& bgra, int w, int h, const TLogicalPalette& palette)
{
    TDibGraphic level;
    level.NewImage(w, h, ifRgb24, nullptr, 0, 0);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = level.RowPointer(y);
        const uint8_t* in = bgra.data() + size_t(y) * w * 4;
        for (int x = 0; x < w; ++x) {
            row[3 * x] = in[4 * x];
            row[3 * x + 1] = in[4 * x + 1];
            row[3 * x + 2] = in[4 * x + 2];
        }
    }
    TImageFormatTransform reduce;
    reduce.TargetFormat = ifColor256;
    reduce.OptimizePalette = false;
    reduce.UseDithering = true;
    reduce.TargetPalette = palette;
    reduce.ApplyInPlace(level);
    std::vector<uint8_t> indices(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            indices[size_t(y) * w + x] = uint8_t(level.GetPixelIndex(x, y));
    return indices;
}

bool everyPixelOpaque(const std::vector<uint8_t>& alpha)
{
    return std::all_of(alpha.begin(), alpha.end(), [](uint8_t a) { return a == 255; });
}

bool anyAlphaBelowHalf(const std::vector<uint8_t>& alpha)
{
    return std::any_of(alpha.begin(), alpha.end(), [](uint8_t a) { return a < 128; });
}

}  // namespace

std::vector<uint8_t> pictureBgra(const TDibGraphic& picture, const std::vector<uint8_t>& alpha)
{
    const int w = picture.Width(), h = picture.Height();
    std::vector<uint8_t> bgra(size_t(w) * h * 4);
    std::vector<uint8_t> scratch(size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = RowAsBgr(picture, y, scratch);
        uint8_t* out = bgra.data() + size_t(y) * w * 4;
        for (int x = 0; x < w; ++x, out += 4) {
            out[0] = row[3 * x];
            out[1] = row[3 * x + 1];
            out[2] = row[3 * x + 2];
            out[3] = alpha.empty() ? 255 : alpha[size_t(y) * w + x];
        }
    }
    return bgra;
}

PreparedPicture preparePictureForTexture(TDibGraphic& picture, std::vector<uint8_t> alpha,
                                         const PicturePreparation& how)
{
    PreparedPicture prepared;
    if (alpha.size() != size_t(picture.Width()) * size_t(picture.Height()))
        alpha.clear();
    const bool resample =
        how.size && !(how.exact && picture.Width() == how.size->width() && picture.Height() == how.size->height());
    if (resample) {
        const int sourceWidth = picture.Width(), sourceHeight = picture.Height();
        PrepareImportPicture(picture, *how.size, std::nullopt);
        // The alpha goes through the same filter as the colour.
        if (!alpha.empty())
            alpha = ResampleAlphaPlane(alpha, sourceWidth, sourceHeight, *how.size);
    }
    // The colours before the reduction: the mip levels of a paletted
    // texture are made from them.
    if (how.keepUnreduced && how.format == ifColor256)
        prepared.unreducedBgra = pictureBgra(picture, {});
    if (how.format && !(how.exact && how.format == ifColor256 && ReduceToExactPalette(picture)))
        PrepareImportPicture(picture, std::nullopt, how.format);
    prepared.alpha = std::move(alpha);
    return prepared;
}

TImageFormat pictureFormatOfLayout(TexelFormat format)
{
    return texelFormatIsPaletted(format) ? ifColor256 : ifRgb24;
}

void encodeTextureData(const TDibGraphic& picture, const TexelLayout& layout, const std::vector<uint8_t>& alpha,
                       const std::vector<uint8_t>& unreducedBgra, uint8_t* out, DxtQuality quality)
{
    const bool paletted = texelFormatIsPaletted(layout.format);
    if (layout.format == TexelFormat::Unknown || picture.Width() != layout.width || picture.Height() != layout.height
        || picture.ImageFormat() != pictureFormatOfLayout(layout.format)
        || (!alpha.empty() && alpha.size() != size_t(layout.width) * layout.height))
        throw EDictionaryError("The picture was not prepared for this texture");

    int w = layout.width, h = layout.height;
    if (paletted) {
        // The palette of level 0, opaque; its indices as the reduction left them.
        const TLogicalPalette& palette = picture.Palette();
        for (int k = 0; k < 256; ++k, out += 4) {
            const bool used = k < palette.EntryCount;
            out[0] = used ? palette.Entries[k].peRed : 0;
            out[1] = used ? palette.Entries[k].peGreen : 0;
            out[2] = used ? palette.Entries[k].peBlue : 0;
            out[3] = 255;
        }
        writeLe32(out, uint32_t(int64_t(w) * h));
        out += 4;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                *out++ = uint8_t(picture.GetPixelIndex(x, y));
        // Further levels from the colours before the reduction, each mapped
        // onto level 0's palette.
        std::vector<uint8_t> level =
            unreducedBgra.size() == size_t(w) * h * 4 ? unreducedBgra : pictureBgra(picture, {});
        for (int k = 1; k < layout.levels; ++k) {
            level = nextMipLevel(level.data(), w, h);
            w = std::max(1, w >> 1);
            h = std::max(1, h >> 1);
            const std::vector<uint8_t> indices = paletteIndicesOf(level, w, h, palette);
            writeLe32(out, uint32_t(indices.size()));
            out += 4;
            std::memcpy(out, indices.data(), indices.size());
            out += indices.size();
        }
        return;
    }
    std::vector<uint8_t> level = pictureBgra(picture, texelLayoutHasAlpha(layout) ? alpha : std::vector<uint8_t>{});
    for (int k = 0; k < layout.levels; ++k) {
        if (k > 0) {
            level = nextMipLevel(level.data(), w, h);
            w = std::max(1, w >> 1);
            h = std::max(1, h >> 1);
        }
        const int64_t bytes = texelLevelBytes(layout.format, w, h);
        writeLe32(out, uint32_t(bytes));
        out += 4;
        encodeTexelLevel(layout, level.data(), w, h, out, quality);
        out += bytes;
    }
}

TextureContent buildTextureContent(TDibGraphic& picture, std::vector<uint8_t> alpha, const TextureBuildRequest& request)
{
    const int width = request.size ? request.size->width() : picture.Width();
    const int height = request.size ? request.size->height() : picture.Height();
    // The limits that do not depend on the picture's pixels, before it changes.
    checkTextureSize(request.format.value_or(TexelFormat::Unknown), width, height);
    if (request.format)
        checkHeaderHolds(request.platform, *request.format);
    const int levels = levelCountFor(request.levels, width, height, request.previousLevels);
    const bool resampled = request.size && !(request.exact && picture.Width() == width && picture.Height() == height);
    if (resampled && (width < 2 || height < 2))
        throw EDictionaryError("A picture is resampled to 2 x 2 pixels or more, not " + std::to_string(width) + " x "
                               + std::to_string(height)
                               + "; a texture 1 pixel wide or high is made from a picture of its own size");

    // Resampled first, with its alpha: the chosen layout and DXT1's alpha
    // depend on the alpha at the texture's size.
    PicturePreparation resample;
    resample.size = request.size;
    resample.exact = request.exact;
    alpha = preparePictureForTexture(picture, std::move(alpha), resample).alpha;

    TexelLayout layout;
    layout.format = request.format
                        ? *request.format
                        : chosenLayoutOfAddedTexture(everyPixelOpaque(alpha), width, height, request.platform);
    checkTextureSize(layout.format, width, height);
    checkHeaderHolds(request.platform, layout.format);
    layout.dxt1Alpha = layout.format == TexelFormat::Dxt1 && anyAlphaBelowHalf(alpha);
    layout.width = width;
    layout.height = height;
    layout.levels = levels;
    if (!texelLayoutHasAlpha(layout))
        alpha.clear();

    PicturePreparation reduce;
    reduce.format = pictureFormatOfLayout(layout.format);
    reduce.exact = request.exact;
    reduce.keepUnreduced = levels > 1;
    const PreparedPicture prepared = preparePictureForTexture(picture, std::move(alpha), reduce);

    TextureContent content;
    content.layout = layout;
    content.data.resize(size_t(texelDataBytes(layout)));
    encodeTextureData(picture, layout, prepared.alpha, prepared.unreducedBgra, content.data.data(), request.dxt);
    return content;
}
