// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/png_graphic.h"

#include "platform/environment.h"
#include "platform/streams.h"

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

QX_DEFINE_GRAPHIC_CLASS(TPngGraphic, TDibGraphic);

// libpng is C: an error there must never unwind C++ frames. Its error
// function records the message and longjmps back to the setjmp in one of the
// phase functions below; those hold nothing with a destructor, return false,
// and only then, back in C++ code, is the exception thrown. The stream read
// callback catches everything the stream throws and reports the failure to
// libpng the same way.

namespace {

// libpng's own sanity limits, stated here so that the reader does not depend
// on how the library was configured: no picture beyond a million pixels in
// either direction, and no ancillary chunk that needs more than 8 MB.
constexpr png_uint_32 kMaxPngDimension = 1000000;
constexpr png_alloc_size_t kMaxChunkBytes = 8000000;
constexpr png_uint_32 kMaxCachedChunks = 1000;
// libpng only warns about an ancillary chunk longer than the limit above and
// then allocates (and clears) a buffer of the length the file claims, up to
// 2 GB. No buffer libpng legitimately needs comes near this size (a row of a
// million 16-bit RGBA pixels is 8 MB), so larger requests are refused: libpng
// then skips the chunk or fails with its own message.
constexpr png_alloc_size_t kMaxLibpngAllocation = 64u << 20;

struct PngState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    TStream* stream = nullptr;
    std::exception_ptr streamError;  // what the stream threw, if anything
    char message[512] = {};

    ~PngState()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// Everything the phases learn from libpng; plain data only.
struct PngLayout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    int passes = 1;
    double fileGamma = 0;
    bool gammaSet = false;
    bool hasPhys = false;
    png_uint_32 physX = 0;
    png_uint_32 physY = 0;
    int physUnit = 0;
    int paletteCount = 0;
    png_color palette[256] = {};
    size_t rowBytes = 0;
    int outChannels = 0;
    int outBitDepth = 0;
};

struct PngOptions {
    bool ignoreFileBackground;
    uint32_t backgroundColor;
};

png_voidp pngMalloc(png_structp, png_alloc_size_t size)
{
    return size <= kMaxLibpngAllocation ? std::malloc(size) : nullptr;
}

void pngFree(png_structp, png_voidp pointer)
{
    std::free(pointer);
}

void pngErrorFn(png_structp png, png_const_charp text)
{
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    if (state)
        std::snprintf(state->message, sizeof state->message, "%s", text ? text : "");
    png_longjmp(png, 1);
}

void pngWarningFn(png_structp, png_const_charp text)
{
    // The user sees the warning and reading goes on; nothing may escape into libpng.
    try {
        showWarning("PNG Error", text ? text : "");
    } catch (...) {
    }
}

void pngReadFn(png_structp png, png_bytep data, size_t length)
{
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    bool complete = false;
    try {
        complete = state->stream->Read(data, int64_t(length)) == int64_t(length);
    } catch (...) {
        state->streamError = std::current_exception();
    }
    // A short read must not hand libpng bytes that were never read.
    if (!complete)
        png_error(png, "Read Error");
}

// Header chunks: size, depth, colour type, interlace.
bool pngReadInfo(PngState* state, PngLayout* layout)
{
    png_structp png = state->png;
    png_infop info = state->info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, state, pngReadFn);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, kMaxPngDimension, kMaxPngDimension);
    png_set_chunk_cache_max(png, kMaxCachedChunks);
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_read_info(png, info);
    png_get_IHDR(png, info, &layout->width, &layout->height, &layout->bitDepth, &layout->colorType, &layout->interlace,
                 nullptr, nullptr);
    return true;
}

// Transformations, then the decoded layout, palette and resolution.
// With `alpha` the rows come out as 8-bit blue, green, red, alpha whatever
// the file holds (palette and grey expanded, tRNS made an alpha channel), and
// nothing is composited onto a background: the colour stays the file's own.
bool pngPrepare(PngState* state, const PngOptions* options, bool bgrOrder, bool alpha, PngLayout* layout)
{
    png_structp png = state->png;
    png_infop info = state->info;
    if (setjmp(png_jmpbuf(png)))
        return false;

    if (layout->bitDepth == 16)
        png_set_strip_16(png);
    if (alpha) {
        png_set_expand(png);
        png_set_gray_to_rgb(png);
    }
    if (bgrOrder || alpha)
        png_set_bgr(png);

    // An sRGB file is taken as it is: no gamma correction. (Its rendering
    // intent is already the image's; setting it again only makes libpng warn
    // about duplicate sRGB information.)
    int intent = 0;
    const bool srgb = png_get_sRGB(png, info, &intent) != 0;
    if (!srgb && layout->bitDepth > 2) {
        double gamma = 0;
        if (!png_get_gAMA(png, info, &gamma) || gamma == 0)
            gamma = 0.5;
        layout->fileGamma = gamma;
        layout->gammaSet = true;
        png_set_gamma(png, kScreenGamma, gamma);
    }

    png_color_16p fileBackground = nullptr;
    if (alpha) {
        // Straight colour and its alpha, kept apart.
    } else if (!options->ignoreFileBackground && png_get_bKGD(png, info, &fileBackground) && fileBackground) {
        png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
    } else {
        png_color_16 background;
        std::memset(&background, 0, sizeof background);
        const uint32_t c = options->backgroundColor;
        background.red = png_uint_16((c >> 16) & 0xFF);
        background.green = png_uint_16((c >> 8) & 0xFF);
        background.blue = png_uint_16(c & 0xFF);
        background.gray = png_uint_16((background.red * 77 + background.green * 150 + background.blue * 29) >> 8);
        png_set_background(png, &background, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    }

    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit)) {
        layout->hasPhys = true;
        layout->physX = resX;
        layout->physY = resY;
        layout->physUnit = unit;
    }

    layout->passes = layout->interlace != PNG_INTERLACE_NONE ? png_set_interlace_handling(png) : 1;
    png_read_update_info(png, info);

    layout->rowBytes = png_get_rowbytes(png, info);
    layout->outChannels = png_get_channels(png, info);
    layout->outBitDepth = png_get_bit_depth(png, info);

    if (layout->colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &palette, &count) && palette) {
            if (count > 256)
                count = 256;
            if (count < 0)
                count = 0;
            std::memcpy(layout->palette, palette, sizeof(png_color) * size_t(count));
            layout->paletteCount = count;
        }
    }
    return true;
}

// Decodes every pass straight into the bitmap's rows (bottom-up store).
bool pngReadRows(PngState* state, uint8_t* bits, int64_t stride, png_uint_32 height, int passes)
{
    png_structp png = state->png;
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, bits + int64_t(height - 1 - y) * stride, nullptr);
    return true;
}

// Decodes every pass into rows of blue, green, red, alpha, top row first.
bool pngReadRowsWithAlpha(PngState* state, uint8_t* pixels, size_t rowBytes, png_uint_32 height, int passes)
{
    png_structp png = state->png;
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, pixels + size_t(y) * rowBytes, nullptr);
    return true;
}

bool pngReadWholeImage(PngState* state, png_bytepp rows)
{
    png_structp png = state->png;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    return true;
}

[[noreturn]] void raisePngFailure(PngState& state)
{
    if (state.streamError)
        std::rethrow_exception(state.streamError);
    throw EPNGError(state.message);
}

bool pickFormat(int bitDepth, int colorType, TImageFormat& format)
{
    const bool grey = colorType == PNG_COLOR_TYPE_GRAY;
    const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
    switch (bitDepth) {
    case 1:
        if (grey || palette) {
            format = ifMonochrome;
            return true;
        }
        return false;
    case 2:
    case 4:
        if (grey || palette) {
            format = grey ? ifGrayscale16 : ifColor16;
            return true;
        }
        return false;
    case 8:
    case 16:
        if (grey || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
            format = ifGrayscale256;
            return true;
        }
        if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
            format = ifRgb24;
            return true;
        }
        if (palette && bitDepth == 8) {
            format = ifColor256;
            return true;
        }
        return false;
    default: return false;
    }
}

uint16_t physToDpi(png_uint_32 pixelsPerMetre)
{
    return resolutionOrZero(double(pixelsPerMetre) * 0.0254);
}

}  // namespace

void TPngGraphic::ReadImage(TStream& stream, int)
{
    png_byte signature[8] = {};
    if (stream.Read(signature, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0)
        throw EPNGError("PNG file is not valid or corrupted");

    PngState state;
    state.stream = &stream;
    state.png =
        png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &state, pngErrorFn, pngWarningFn, nullptr, pngMalloc, pngFree);
    if (!state.png)
        throw EPNGError("png_create_read_struct failed");
    state.info = png_create_info_struct(state.png);
    if (!state.info) {
        png_destroy_read_struct(&state.png, nullptr, nullptr);
        state.png = nullptr;
        throw EPNGError("png_create_info_struct failed");
    }

    PngLayout layout;
    if (!pngReadInfo(&state, &layout))
        raisePngFailure(state);

    TImageFormat format = ifMonochrome;
    if (!pickFormat(layout.bitDepth, layout.colorType, format))
        throw EPNGError("PNG file is not valid or corrupted");
    const bool withAlpha =
        KeepAlpha
        && ((layout.colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(state.png, state.info, PNG_INFO_tRNS) != 0);
    if (withAlpha)
        format = ifRgb24;
    checkImageSize(layout.width, layout.height, BitsPerPixel(format));
    if (withAlpha && uint64_t(layout.width) * layout.height * 4 > uint64_t(INT32_MAX))
        throw ETavrinError(kImageTooLarge);

    const PngOptions options{IgnoreFileBackground, BackgroundColor};
    if (!pngPrepare(&state, &options, format == ifRgb24, withAlpha, &layout))
        raisePngFailure(state);
    if (layout.gammaSet)
        FileGamma = layout.fileGamma;

    if (withAlpha) {
        const size_t rowBytes = size_t(layout.width) * 4;
        if (layout.outBitDepth != 8 || layout.outChannels != 4 || layout.rowBytes != rowBytes)
            throw EPNGError("PNG file is not valid or corrupted");
        uint16_t resX = 0, resY = 0;
        if (layout.hasPhys && layout.physUnit == PNG_RESOLUTION_METER) {
            resX = physToDpi(layout.physX);
            resY = physToDpi(layout.physY);
        }
        std::vector<uint8_t> pixels(rowBytes * layout.height);
        NewImage(int32_t(layout.width), int32_t(layout.height), ifRgb24, nullptr, resX, resY);
        if (!pngReadRowsWithAlpha(&state, pixels.data(), rowBytes, layout.height, layout.passes))
            raisePngFailure(state);
        std::vector<uint8_t> alpha(size_t(layout.width) * layout.height);
        for (png_uint_32 y = 0; y < layout.height; ++y) {
            const uint8_t* src = pixels.data() + size_t(y) * rowBytes;
            uint8_t* dst = RowPointer(int(y));
            uint8_t* a = alpha.data() + size_t(y) * layout.width;
            for (png_uint_32 x = 0; x < layout.width; ++x, src += 4, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                a[x] = src[3];
            }
        }
        AlphaPlane = std::move(alpha);
        return;
    }

    // Rows are decoded straight into the bitmap, so what libpng will hand
    // over per row must be exactly the layout of the chosen format.
    const int expectedDepth = layout.bitDepth <= 4 ? layout.bitDepth : 8;
    const int expectedChannels = format == ifRgb24 ? 3 : 1;
    const int64_t stride = DibRowStride(layout.width, BitsPerPixel(format));
    if (layout.outBitDepth != expectedDepth || layout.outChannels != expectedChannels
        || int64_t(layout.rowBytes) > stride || layout.rowBytes == 0)
        throw EPNGError("PNG file is not valid or corrupted");

    uint16_t resX = 0, resY = 0;
    if (layout.hasPhys && layout.physUnit == PNG_RESOLUTION_METER) {
        resX = physToDpi(layout.physX);
        resY = physToDpi(layout.physY);
    }

    TLogicalPalette palette{};
    const TLogicalPalette* imagePalette = nullptr;
    if (layout.colorType == PNG_COLOR_TYPE_PALETTE) {
        palette.Version = 0x300;
        palette.EntryCount = uint16_t(layout.paletteCount);
        for (int i = 0; i < layout.paletteCount; ++i) {
            palette.Entries[i].peRed = layout.palette[i].red;
            palette.Entries[i].peGreen = layout.palette[i].green;
            palette.Entries[i].peBlue = layout.palette[i].blue;
        }
        imagePalette = &palette;
    }
    NewImage(int32_t(layout.width), int32_t(layout.height), format, imagePalette, resX, resY);

    if (layout.bitDepth == 2) {
        // Two bits per pixel have no bitmap format of their own: decode into
        // rows of our own and widen each pixel to a 4-bit index.
        std::vector<uint8_t> pixels(layout.rowBytes * layout.height);
        std::vector<png_bytep> rows(layout.height);
        for (png_uint_32 y = 0; y < layout.height; ++y)
            rows[y] = pixels.data() + size_t(y) * layout.rowBytes;
        if (!pngReadWholeImage(&state, rows.data()))
            raisePngFailure(state);
        const int scale = layout.colorType == PNG_COLOR_TYPE_GRAY ? 5 : 1;
        for (png_uint_32 y = 0; y < layout.height; ++y) {
            const uint8_t* row = rows[y];
            for (png_uint_32 x = 0; x < layout.width; ++x) {
                const int value = (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                SetPixelIndex(int(x), int(y), value * scale);
            }
        }
        return;
    }

    if (!pngReadRows(&state, Bits(), RowStride(), layout.height, layout.passes))
        raisePngFailure(state);
}
