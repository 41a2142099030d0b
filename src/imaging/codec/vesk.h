// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The codec layer: one codec per file format, each working on a neutral
// picture description (size, bits per pixel, a 256-entry RGB palette and
// bottom-up pixel rows padded to four bytes, i.e. the row layout of
// TDibGraphic). Codecs are chosen by the extension of a codec file name.
//
// The table holds, in this order: BMP (codec/bmp_codec.cpp), PCX
// (codec/pcx_codec.cpp), TGA (codec/tga_codec.cpp). Every codec operation
// returns VESK_OK (0) or a non-zero error code; the bridge turns a non-zero
// result into EVeskError with the message of the failed step.
//
// Untrusted input: a codec must never read or write outside the palette or
// the pixel rows it is given, whatever the file says. The pixel rows passed to
// the data step are exactly height * VeskRowStride(width, bitsPerPixel) bytes.
#include "imaging/limits.h"
#include "platform/streams.h"

#include <cstdint>
#include <string>

class TDibGraphic;

// Error codes of the codec operations.
enum VeskResult : int {
    VESK_OK = 0,
    VESK_ERR_FORMAT = 1,       // not this format, or a variant the codec does not handle
    VESK_ERR_READ = 2,         // the stream ended before data the codec needed
    VESK_ERR_WRITE = 3,        // the stream took fewer bytes than written
    VESK_ERR_MEMORY = 4,       // a scratch buffer could not be had
    VESK_ERR_UNSUPPORTED = 5,  // the operation or the bits per pixel is not supported
    VESK_ERR_ARGUMENT = 6,     // bad codec index, sizes or buffers passed in
};

// Neutral picture description shared by all codecs. The header, palette and
// data steps of one read get the same description; `state` is scratch space a
// codec may use to carry what it learnt in the header step to the later steps.
struct VeskDescription {
    int32_t width;          // pixels per row, at least 1
    int32_t height;         // rows, at least 1
    int32_t bitsPerPixel;   // 1, 4, 8 or 24
    uint8_t tgaHeader[18];  // TGA codec: the file header, kept between the steps
    int64_t state[16];      // other codecs: their own values between the steps
    // Alpha beside the colour: the header step sets hasAlpha when the file's
    // pixels carry alpha (TGA: 32 bits per pixel); the caller may then point
    // `alpha` at width x height bytes, top row first, which the data step
    // fills. Left null, the alpha is dropped as always.
    int32_t hasAlpha;
    uint8_t* alpha;
};

// Codec palette: always 256 entries of red, green, blue; entries the file does
// not define are 0, 0, 0.
struct VeskRgb {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};
struct VeskPalette {
    VeskRgb entries[256];
};
static_assert(sizeof(VeskPalette) == 768);

// Capability flags of a codec.
enum VeskCapability : unsigned {
    VESK_READ_1 = 1u << 0,
    VESK_READ_4 = 1u << 1,
    VESK_READ_8 = 1u << 2,
    VESK_READ_24 = 1u << 3,
    VESK_WRITE_1 = 1u << 8,
    VESK_WRITE_4 = 1u << 9,
    VESK_WRITE_8 = 1u << 10,
    VESK_WRITE_24 = 1u << 11,
};

// The four operations of a codec. `rows` points at the bottom row of the
// picture; `rowsSize` is the size of the whole row buffer in bytes.
using VeskReadHeaderFn = int (*)(const std::string& fileName, TStream& stream, const std::string& options,
                                 VeskDescription& description);
using VeskReadPaletteFn = int (*)(TStream& stream, VeskDescription& description, VeskPalette& palette);
using VeskReadDataFn = int (*)(TStream& stream, VeskDescription& description, uint8_t* rows, int64_t rowsSize);
using VeskWriteFn = int (*)(const std::string& fileName, TStream& stream, const std::string& options,
                            const VeskDescription& description, const VeskPalette& palette, const uint8_t* rows,
                            int64_t rowsSize);

struct VeskCodec {
    const char* shortName;    // "Targa"
    const char* description;  // "Truevision Targa/Vista bitmap"
    unsigned capabilities;    // VeskCapability flags
    const char* extensions;   // words separated by blanks, tabs or commas: "TGA VST AFI"
    VeskReadHeaderFn readHeader;
    VeskReadPaletteFn readPalette;
    VeskReadDataFn readData;
    VeskWriteFn write;
};

// The codec entries, each defined in its codec's own file.
extern const VeskCodec kBmpCodec;  // codec/bmp_codec.cpp
extern const VeskCodec kPcxCodec;  // codec/pcx_codec.cpp
extern const VeskCodec kTgaCodec;  // codec/tga_codec.cpp

// The codec table, in order BMP, PCX, TGA.
constexpr int kVeskCodecCount = 3;
extern const VeskCodec* const kVeskCodecs[kVeskCodecCount];

// The codec layer's name for the bitmap's row stride.
constexpr int64_t VeskRowStride(int64_t width, int bitsPerPixel)
{
    return DibRowStride(width, bitsPerPixel);
}
// True when `word` stands as a whole word (blanks, tabs or commas between
// words) in `text`, ignoring ASCII letter case. Used for option and extension lists.
bool VeskHasWord(const std::string& text, const std::string& word);

// Codec index for the text after the last "." of `fileName`, compared ignoring
// case with each word of each codec's extension list in table order; the
// first match wins. -1 when nothing matches.
int vesk_guess_filetype(const std::string& fileName);
// The steps of a read, dispatched to the codec with index `codec`.
int vesk_read_header(const std::string& fileName, TStream& stream, int codec, const std::string& options,
                     VeskDescription& description);
int vesk_read_palette(TStream& stream, int codec, VeskDescription& description, VeskPalette& palette);
int vesk_read_data(TStream& stream, int codec, VeskDescription& description, uint8_t* rows, int64_t rowsSize);
// Writes a complete file.
int vesk_write(const std::string& fileName, TStream& stream, int codec, const std::string& options,
               const VeskDescription& description, const VeskPalette& palette, const uint8_t* rows, int64_t rowsSize);

// The codec bridge. Replaces the bitmap's content with the picture read from
// the stream's current position by the codec that `codecFileName` selects
// ("File.tga", "File.bmp", "File.pcx"). Failures raise EVeskError:
// "vesk_guess_filetype failed.", "vesk_read_header failed." (header or
// palette step), "vesk_read_data failed.", "Internal error: Invalid image format".
void ReadBitmapViaCodec(TStream& stream, TDibGraphic& bitmap, const std::string& codecFileName,
                        const std::string& options);
// Writes the bitmap at the stream's current position. Failures raise
// EVeskError: "vesk_guess_filetype failed.", "vesk_write failed.",
// "Internal error: Invalid image format".
void WriteBitmapViaCodec(TStream& stream, const TDibGraphic& bitmap, const std::string& codecFileName);
