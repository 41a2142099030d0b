// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/tiff_graphic.h"

#include "platform/streams.h"

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

QX_DEFINE_GRAPHIC_CLASS(TTiffGraphic, TDibGraphic);

// libtiff reports failures through return values, never by unwinding, so no
// longjmp is involved; the client callbacks below still catch everything the
// stream throws, because an exception must not cross libtiff's C frames.

namespace {

// Straight colour from colour premultiplied by alpha.
inline uint8_t unpremultiply(unsigned c, unsigned a)
{
    return a == 0 ? 0 : uint8_t(std::min(255u, (c * 255 + a / 2) / a));
}

// The largest block libtiff may allocate at once for one directory's data,
// and the bound for every buffer this reader sizes from the file's numbers.
constexpr uint64_t kMaxBufferBytes = INT32_MAX;
// The whole-image path decodes into a band of this many bytes at a time.
constexpr uint64_t kRasterBandBytes = 8u << 20;

std::string prefixed(const std::string& text)
{
    return "ETiffError " + text;
}

tmsize_t tiffReadProc(thandle_t handle, void* buffer, tmsize_t size)
{
    try {
        return tmsize_t(static_cast<TStream*>(handle)->Read(buffer, int64_t(size)));
    } catch (...) {
        return -1;
    }
}

tmsize_t tiffWriteProc(thandle_t, void*, tmsize_t)
{
    return -1;
}  // opened read-only

toff_t tiffSeekProc(thandle_t handle, toff_t offset, int whence)
{
    SeekOrigin origin;
    switch (whence) {
    case SEEK_SET:
        if (offset > uint64_t(INT64_MAX))
            return toff_t(-1);
        origin = SeekOrigin::Begin;
        break;
    case SEEK_CUR: origin = SeekOrigin::Current; break;
    case SEEK_END: origin = SeekOrigin::End; break;
    default: return toff_t(-1);
    }
    try {
        // Relative offsets arrive as two's complement in the unsigned type.
        return toff_t(static_cast<TStream*>(handle)->Seek(int64_t(offset), origin));
    } catch (...) {
        return toff_t(-1);
    }
}

int tiffCloseProc(thandle_t)
{
    return 0;
}

toff_t tiffSizeProc(thandle_t handle)
{
    try {
        return toff_t(static_cast<TStream*>(handle)->Size());
    } catch (...) {
        return 0;
    }
}

// libtiff reads straight from the memory it is handed. Besides sparing a
// copy of every strip, this keeps uncompressed tiles readable: libtiff 4.5.0
// refuses them in its RGBA reader when it has to buffer them itself.
int tiffMapProc(thandle_t handle, void** base, toff_t* size)
{
    auto* stream = static_cast<TMemoryStream*>(handle);
    if (stream->Size() <= 0)
        return 0;
    *base = stream->Memory();
    *size = toff_t(stream->Size());
    return 1;
}

void tiffUnmapProc(thandle_t, void*, toff_t) {}

// libtiff shows nothing and reports nothing by itself; only this reader's
// own checks produce messages.
int tiffSilentHandler(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

void silenceLibraryHandlers()
{
    static const bool silenced = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)silenced;
}

struct TiffFile {
    TIFF* tif = nullptr;
    TiffFile() = default;
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
    ~TiffFile()
    {
        if (tif)
            TIFFClose(tif);
    }
};

// The memory libtiff reads: the caller's own memory stream when it is at
// position 0, otherwise a copy of everything from the stream's position on.
TMemoryStream& tiffSource(TStream& stream, TMemoryStream& copy)
{
    const int64_t position = stream.Position();
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream); memory && position == 0)
        return *memory;
    const int64_t remaining = stream.Size() - position;
    if (remaining > 0) {
        copy.bytes().reserve(size_t(remaining));
        copy.CopyFrom(stream, remaining);
    }
    copy.SetPosition(0);
    return copy;
}

void openTiff(TiffFile& file, TMemoryStream& stream)
{
    silenceLibraryHandlers();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        throw ETiffError(prefixed("TIFFOpen"));
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxBufferBytes));
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffSilentHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffSilentHandler, nullptr);
    file.tif = TIFFClientOpenExt("TIFF stream", "r", static_cast<thandle_t>(&stream), tiffReadProc, tiffWriteProc,
                                 tiffSeekProc, tiffCloseProc, tiffSizeProc, tiffMapProc, tiffUnmapProc, options);
    TIFFOpenOptionsFree(options);
    if (!file.tif)
        throw ETiffError(prefixed("TIFFOpen"));
}

[[noreturn]] void missingTag(uint32_t tag)
{
    throw ETiffError(prefixed("TIFFGetField: Tag = " + std::to_string(tag)));
}

template <typename T>
T requiredTag(TIFF* tif, uint32_t tag)
{
    T value{};
    if (!TIFFGetField(tif, tag, &value))
        missingTag(tag);
    return value;
}

template <typename T>
T tagOr(TIFF* tif, uint32_t tag, T fallback)
{
    T value{};
    return TIFFGetField(tif, tag, &value) ? value : fallback;
}

// n / d rounded to the nearest integer, halves to even; d > 0.
uint64_t divRoundHalfEven(uint64_t n, uint64_t d)
{
    uint64_t q = n / d;
    const uint64_t r = n % d;
    if (r > d - r || (r == d - r && (q & 1)))
        ++q;
    return q;
}

uint16_t resolutionDpi(float value, uint16_t unit)
{
    return resolutionOrZero(unit == RESUNIT_INCH ? double(value) : double(value) * 2.54);
}

bool isCcitt(uint16_t compression)
{
    return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3
           || compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
}

const char* compressionName(TIFF* tif, uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_NONE: return "None";
    case COMPRESSION_PACKBITS: return "Packbits";
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW: return "CCITT Group 3, 1D";
    case COMPRESSION_CCITTFAX3: {
        const uint32_t options = tagOr<uint32_t>(tif, TIFFTAG_T4OPTIONS, 0);
        return (options & GROUP3OPT_2DENCODING) ? "CCITT Group 3, 2D" : "CCITT Group 3, 1D";
    }
    case COMPRESSION_CCITTFAX4: return "CCITT Group 4";
    case COMPRESSION_DEFLATE: return "ZLib";
    case COMPRESSION_JPEG: return "JPEG";
    default: return "";
    }
}

struct RgbaImage {
    TIFFRGBAImage image;
    bool begun = false;
    ~RgbaImage()
    {
        if (begun)
            TIFFRGBAImageEnd(&image);
    }
};

}  // namespace

void TTiffGraphic::ReadImage(TStream& stream, int index)
{
    TMemoryStream copy;
    TMemoryStream& source = tiffSource(stream, copy);
    TiffFile file;
    openTiff(file, source);
    TIFF* tif = file.tif;

    if (index < 1 || (TIFFCurrentDirectory(tif) != tdir_t(index - 1) && !TIFFSetDirectory(tif, tdir_t(index - 1))))
        throw ETiffError(prefixed("TIFFSetDirectory"));

    const uint32_t width = requiredTag<uint32_t>(tif, TIFFTAG_IMAGEWIDTH);
    const uint32_t height = requiredTag<uint32_t>(tif, TIFFTAG_IMAGELENGTH);
    uint16_t photometric = tagOr<uint16_t>(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    const uint16_t compression = requiredTag<uint16_t>(tif, TIFFTAG_COMPRESSION);
    const bool ccitt = isCcitt(compression);
    uint16_t bitsPerSample = 1;
    if (!TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bitsPerSample) && !ccitt)
        missingTag(TIFFTAG_BITSPERSAMPLE);
    const uint16_t planar = requiredTag<uint16_t>(tif, TIFFTAG_PLANARCONFIG);
    const uint16_t resolutionUnit = tagOr<uint16_t>(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    float xResolution = 0, yResolution = 0;
    const uint16_t resX =
        TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xResolution) ? resolutionDpi(xResolution, resolutionUnit) : 0;
    const uint16_t resY =
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yResolution) ? resolutionDpi(yResolution, resolutionUnit) : 0;
    Compression = compression;

    if (compression == COMPRESSION_LZW)
        throw ETavrinError("LZW compression not supported");

    const bool tiled = TIFFIsTiled(tif) != 0;
    const bool wholeImage = compression == COMPRESSION_JPEG || tiled || photometric == PHOTOMETRIC_SEPARATED
                            || photometric == PHOTOMETRIC_YCBCR || bitsPerSample > 8 || planar > PLANARCONFIG_CONTIG;

    // JPEG-compressed YCbCr is decoded to RGB by libtiff (as its RGBA reader
    // does anyway); measured in its subsampled form, a scanline would
    // suggest 16 bits per pixel and refuse the picture.
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const uint64_t lineSize = TIFFScanlineSize64(tif);
    uint64_t samples = width ? divRoundHalfEven(lineSize, width) : 1;
    if (samples < 1)
        samples = 1;
    const uint64_t bitCount = std::min<uint64_t>(uint64_t(bitsPerSample) * samples, 24);
    // Palette pictures of 1 and 2 bits per pixel are widened to 4 bits.
    const bool widenPalette =
        photometric == PHOTOMETRIC_PALETTE && samples == 1 && (bitsPerSample == 1 || bitsPerSample == 2);
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && !widenPalette)
        throw ETiffError(prefixed("Unsupported bit count: " + std::to_string(bitCount)));

    // Fax codecs put black ink in set bits whatever the file says.
    if (ccitt && photometric == PHOTOMETRIC_MINISBLACK)
        photometric = PHOTOMETRIC_MINISWHITE;

    // Fax pages stored in strips are read row by row; everything else that
    // libtiff has to convert goes through its RGBA reading.
    const bool faxRows = ccitt && !tiled;
    const bool rgbaPath = !faxRows && wholeImage;

    // libtiff's RGBA reading already shows white-is-zero pictures the right
    // way round, so only pictures copied sample for sample are inverted.
    const bool greyish = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    const bool invertAfterwards = photometric == PHOTOMETRIC_MINISWHITE && !rgbaPath
                                  && (bitsPerSample == 1 || bitsPerSample == 4 || bitsPerSample == 8);
    TImageFormat format = ifRgb24;
    TLogicalPalette palette{};
    const TLogicalPalette* imagePalette = nullptr;
    if (greyish && bitsPerSample == 1) {
        format = ifMonochrome;
    } else if (greyish && bitsPerSample == 4) {
        format = ifGrayscale16;
    } else if (greyish && bitsPerSample == 8) {
        format = ifGrayscale256;
    } else if (photometric == PHOTOMETRIC_PALETTE && bitsPerSample >= 1 && bitsPerSample <= 8) {
        format = bitsPerSample <= 4 ? ifColor16 : ifColor256;
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
            missingTag(TIFFTAG_COLORMAP);
        const int count = 1 << bitsPerSample;
        bool sixteenBit = false;
        for (int i = 0; i < count; ++i)
            if (red[i] >= 256 || green[i] >= 256 || blue[i] >= 256)
                sixteenBit = true;
        auto level = [sixteenBit](uint16_t v) { return uint8_t(sixteenBit ? uint32_t(v) * 255 / 65535 : v); };
        palette.Version = 0x300;
        palette.EntryCount = uint16_t(count);
        for (int i = 0; i < count; ++i) {
            palette.Entries[i].peRed = level(red[i]);
            palette.Entries[i].peGreen = level(green[i]);
            palette.Entries[i].peBlue = level(blue[i]);
        }
        imagePalette = &palette;
    }

    checkImageSize(width, height, BitsPerPixel(format));
    NewImage(int32_t(width), int32_t(height), format, imagePalette, resX, resY);
    alphaSample_ = 0;
    if (KeepAlpha && format == ifRgb24) {
        uint16_t extraCount = 0;
        uint16_t* extraTypes = nullptr;
        if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount >= 1 && extraTypes
            && (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA)) {
            alphaSample_ = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA ? 1 : 2;
            AlphaPlane.assign(size_t(width) * height, 255);
        }
    }

    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_DEFLATE: break;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_JPEG: {
        const bool suits = ccitt ? format == ifMonochrome : (format == ifGrayscale256 || format == ifRgb24);
        if (!suits)
            throw ETavrinError(formatMessage("%s compression not supported with %s images",
                                             {compressionName(tif, compression), ImageFormatDescription(format)}));
        break;
    }
    default: throw ETiffError(formatMessage("Unsupported compression tag, %d", {std::to_string(compression)}));
    }

    // libtiff's own strip height: the tag's value, or one strip for the whole
    // picture when the tag is missing.
    uint32_t rowsPerStrip = 0;
    if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip))
        rowsPerStrip = height;
    rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, std::max<uint32_t>(height, 1));

    const int64_t stride = RowStride();
    std::vector<uint32_t> unreadRows;

    if (faxRows) {
        if (lineSize == 0 || lineSize > kMaxBufferBytes)
            throw ETavrinError(kImageTooLarge);
        std::vector<uint8_t> line(lineSize);
        const size_t copyBytes = size_t(std::min<uint64_t>(lineSize, uint64_t(stride)));
        for (uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, 0) == 1)
                std::memcpy(RowPointer(int(y)), line.data(), copyBytes);
            else
                unreadRows.push_back(y);  // stays as NewImage made it
        }
    } else if (rgbaPath) {
        // A picture libtiff cannot decode is an error, not a black import.
        if (!readWholeImage(tif, tiled, rowsPerStrip))
            throw ETiffError(prefixed("TIFFRGBAImageGet"));
    } else {
        readStrips(tif, lineSize, rowsPerStrip, samples, widenPalette ? bitsPerSample : 0);
    }

    if (invertAfterwards) {
        // The negative of a grey or black-and-white picture: every stored
        // byte complemented, exactly as TNegativeTransform computes it, but in
        // place, so that the largest pictures never need a second copy.
        uint8_t* bits = Bits();
        const size_t total = size_t(stride) * height;
        for (size_t i = 0; i < total; ++i)
            bits[i] = uint8_t(~bits[i]);
        for (uint32_t y : unreadRows)
            std::memset(RowPointer(int(y)), 0, size_t(stride));
    }
}

bool TTiffGraphic::readWholeImage(void* handle, bool tiled, uint32_t rowsPerStrip)
{
    TIFF* tif = static_cast<TIFF*>(handle);
    const uint32_t width = uint32_t(Width());
    const uint32_t height = uint32_t(Height());
    char message[1024] = {};
    RgbaImage rgba;
    if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&rgba.image, tif, 1, message))
        return false;
    rgba.begun = true;
    rgba.image.req_orientation = ORIENTATION_TOPLEFT;

    // Pictures stored top row first are decoded a band of whole strips or
    // tiles at a time; any other orientation is turned round by libtiff,
    // which needs the whole picture in one piece.
    const uint16_t orientation = [&] {
        uint16_t value = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &value);
        return value;
    }();
    uint64_t bandRows = height;
    if (orientation == ORIENTATION_TOPLEFT) {
        uint32_t unit = rowsPerStrip;
        if (tiled && !TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit))
            unit = height;
        unit = std::clamp<uint32_t>(unit, 1, height);
        const uint64_t wanted = std::max<uint64_t>(1, kRasterBandBytes / (uint64_t(width) * 4));
        bandRows = std::min<uint64_t>(height, (wanted + unit - 1) / unit * unit);
    }
    if (bandRows * width * 4 > kMaxBufferBytes)
        throw ETavrinError(kImageTooLarge);
    std::vector<uint32_t> raster(size_t(bandRows * width));

    const bool direct = ImageFormat() == ifRgb24;
    for (uint64_t top = 0; top < height; top += bandRows) {
        const uint32_t rows = uint32_t(std::min<uint64_t>(bandRows, height - top));
        rgba.image.row_offset = int(top);
        rgba.image.col_offset = 0;
        if (!TIFFRGBAImageGet(&rgba.image, raster.data(), width, rows)) {
            return false;
        }
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t* values = raster.data() + size_t(r) * width;
            const int y = int(top + r);
            if (direct && alphaSample_ != 0) {
                // libtiff hands over colour premultiplied by alpha, whatever the file holds.
                uint8_t* p = RowPointer(y);
                uint8_t* a = AlphaPlane.data() + size_t(y) * width;
                for (uint32_t x = 0; x < width; ++x, p += 3) {
                    const unsigned alpha = TIFFGetA(values[x]);
                    p[0] = unpremultiply(TIFFGetB(values[x]), alpha);
                    p[1] = unpremultiply(TIFFGetG(values[x]), alpha);
                    p[2] = unpremultiply(TIFFGetR(values[x]), alpha);
                    a[x] = uint8_t(alpha);
                }
            } else if (direct) {
                uint8_t* p = RowPointer(y);
                for (uint32_t x = 0; x < width; ++x, p += 3) {
                    p[0] = uint8_t(TIFFGetB(values[x]));
                    p[1] = uint8_t(TIFFGetG(values[x]));
                    p[2] = uint8_t(TIFFGetR(values[x]));
                }
            } else {
                for (uint32_t x = 0; x < width; ++x)
                    SetPixelColor(int(x), y,
                                  MakeColor(uint8_t(TIFFGetR(values[x])), uint8_t(TIFFGetG(values[x])),
                                            uint8_t(TIFFGetB(values[x]))));
            }
        }
    }
    return true;
}

void TTiffGraphic::readStrips(void* handle, uint64_t lineSize, uint32_t rowsPerStrip, uint64_t samples, int widenBits)
{
    TIFF* tif = static_cast<TIFF*>(handle);
    const uint32_t width = uint32_t(Width());
    const uint32_t height = uint32_t(Height());
    const uint64_t stripSize = TIFFStripSize64(tif);
    if (lineSize == 0 || stripSize == 0)
        throw ETiffError(prefixed("TIFFReadEncodedStrip"));
    if (lineSize > kMaxBufferBytes || stripSize > kMaxBufferBytes)
        throw ETavrinError(kImageTooLarge);
    // Left uninitialised: only what libtiff decodes into it is ever read, so
    // a strip that claims far more than the file holds costs no memory.
    std::unique_ptr<uint8_t[]> strip;
    try {
        strip.reset(new uint8_t[size_t(stripSize)]);
    } catch (const std::bad_alloc&) {
        throw ETavrinError(kImageTooLarge);
    }
    const uint64_t stride = uint64_t(RowStride());
    const bool direct = ImageFormat() == ifRgb24;

    for (uint32_t top = 0; top < height; top += rowsPerStrip) {
        const uint32_t rows = std::min(rowsPerStrip, height - top);
        const tstrip_t index = TIFFComputeStrip(tif, top, 0);
        const uint64_t wanted = std::min<uint64_t>(lineSize * rows, stripSize);
        const tmsize_t got = TIFFReadEncodedStrip(tif, index, strip.get(), tmsize_t(wanted));
        if (got < 0)
            throw ETiffError(prefixed("TIFFReadEncodedStrip"));
        // Whatever the strip did not fill holds no data of this picture.
        if (uint64_t(got) < wanted)
            std::memset(strip.get() + got, 0, size_t(wanted - uint64_t(got)));

        for (uint32_t r = 0; r < rows && uint64_t(r + 1) * lineSize <= wanted; ++r) {
            const uint8_t* src = strip.get() + uint64_t(r) * lineSize;
            const int y = int(top + r);
            uint8_t* dst = RowPointer(y);
            if (samples == 3 || samples == 4) {
                // Red, green, blue in the first three samples; a fourth is ignored.
                const uint64_t available = lineSize >= 3 ? (lineSize - 3) / samples + 1 : 0;
                const uint32_t count = uint32_t(std::min<uint64_t>(width, available));
                if (direct && samples == 4 && alphaSample_ != 0) {
                    uint8_t* a = AlphaPlane.data() + size_t(y) * width;
                    for (uint32_t x = 0; x < count; ++x, src += samples, dst += 3) {
                        const unsigned alpha = src[3];
                        const bool premultiplied = alphaSample_ == 1;
                        dst[0] = premultiplied ? unpremultiply(src[2], alpha) : src[2];
                        dst[1] = premultiplied ? unpremultiply(src[1], alpha) : src[1];
                        dst[2] = premultiplied ? unpremultiply(src[0], alpha) : src[0];
                        a[x] = uint8_t(alpha);
                    }
                } else if (direct) {
                    for (uint32_t x = 0; x < count; ++x, src += samples, dst += 3) {
                        dst[0] = src[2];
                        dst[1] = src[1];
                        dst[2] = src[0];
                    }
                } else {
                    for (uint32_t x = 0; x < count; ++x, src += samples)
                        SetPixelColor(int(x), y, MakeColor(src[0], src[1], src[2]));
                }
            } else if (widenBits) {
                std::memset(dst, 0, size_t(stride));
                for (uint32_t x = 0; x < width; ++x) {
                    const int value =
                        widenBits == 1 ? (src[x >> 3] >> (7 - (x & 7))) & 1 : (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                    dst[x >> 1] |= uint8_t((x & 1) ? value : value << 4);
                }
            } else {
                std::memcpy(dst, src, size_t(std::min(lineSize, stride)));
            }
        }
    }
}

int TTiffGraphic::CountImages(TStream& stream)
{
    const int64_t position = stream.Position();
    struct Restore {
        TStream& stream;
        int64_t position;
        ~Restore()
        {
            try {
                stream.SetPosition(position);
            } catch (...) {
            }
        }
    } restore{stream, position};

    TMemoryStream copy;
    TMemoryStream& source = tiffSource(stream, copy);
    TiffFile file;
    openTiff(file, source);
    const tdir_t count = TIFFNumberOfDirectories(file.tif);
    return int(std::min<tdir_t>(count, INT_MAX));
}
