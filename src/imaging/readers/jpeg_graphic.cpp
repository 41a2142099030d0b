// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/jpeg_graphic.h"

#include "platform/streams.h"

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>

#include <jpeglib.h>
// jerror.h after jpeglib.h: its macros use the library's types.
#include <jerror.h>

QX_DEFINE_GRAPHIC_CLASS(TJpegGraphic, TDibGraphic);

// libjpeg is C: an error there must never unwind C++ frames. The error
// manager formats the library's message and longjmps back to the setjmp of
// the phase function that called into the library; those functions hold
// nothing with a destructor and return false, and the exception is thrown
// afterwards from C++ code. The data source catches whatever the stream
// throws and reports it to the library as a read error.

namespace {

constexpr size_t kInputBufferSize = 4096;
// Memory libjpeg may spend on whole-image buffers (progressive and
// multi-scan files); beyond that it fails instead of exhausting memory.
constexpr long kMaxDecoderMemory = 1L << 30;
// Progressive files legitimately use a dozen scans or so; thousands of tiny
// scans each rescanning the whole image only burn time.
constexpr int kMaxScans = 500;

struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX + 64];
};

struct JpegSource {
    jpeg_source_mgr pub;
    TStream* stream = nullptr;
    bool startOfFile = true;
    std::exception_ptr streamError;
    JOCTET buffer[kInputBufferSize];
};

struct JpegState {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr progress;
    JpegSource source;
    bool created = false;

    JpegState()
    {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&err, 0, sizeof err);
        std::memset(&progress, 0, sizeof progress);
        std::memset(&source.pub, 0, sizeof source.pub);
    }
    ~JpegState()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
};

[[noreturn]] void jpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void jpegEmitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        ++cinfo->err->num_warnings;  // warnings are counted, never shown
    else if (level == 0)
        jpegErrorExit(cinfo);
    // trace messages of level 1 and above are ignored
}

void jpegProgressMonitor(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->input_scan_number > kMaxScans) {
        auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "Progressive JPEG image has more than %d scans", kMaxScans);
        longjmp(err->jump, 1);
    }
}

void jpegInitSource(j_decompress_ptr cinfo)
{
    reinterpret_cast<JpegSource*>(cinfo->src)->startOfFile = true;
}

boolean jpegFillInput(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
    int64_t count = 0;
    bool failed = false;
    try {
        count = src->stream->Read(src->buffer, int64_t(kInputBufferSize));
    } catch (...) {
        src->streamError = std::current_exception();
        failed = true;
    }
    if (failed)
        ERREXIT(cinfo, JERR_FILE_READ);
    if (count <= 0) {
        if (src->startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A file cut short: hand the decoder an end-of-image marker so that
        // it finishes with what it has.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = JOCTET(0xFF);
        src->buffer[1] = JOCTET(JPEG_EOI);
        count = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = size_t(count);
    src->startOfFile = false;
    return TRUE;
}

void jpegSkipInput(j_decompress_ptr cinfo, long count)
{
    auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
    if (count <= 0)
        return;
    while (count > long(src->pub.bytes_in_buffer)) {
        count -= long(src->pub.bytes_in_buffer);
        jpegFillInput(cinfo);
    }
    src->pub.next_input_byte += size_t(count);
    src->pub.bytes_in_buffer -= size_t(count);
}

void jpegTermSource(j_decompress_ptr) {}

bool jpegReadHeader(JpegState* state)
{
    j_decompress_ptr cinfo = &state->cinfo;
    if (setjmp(state->err.jump))
        return false;
    state->created = true;
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
    cinfo->src = &state->source.pub;
    cinfo->progress = &state->progress;
    jpeg_read_header(cinfo, TRUE);
    // Colour comes out in the bitmap's blue, green, red order directly: the
    // same samples as RGB output with red and blue swapped afterwards,
    // without a second pass over every row.
    cinfo->out_color_space = cinfo->jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR;
    return true;
}

bool jpegStart(JpegState* state)
{
    if (setjmp(state->err.jump))
        return false;
    jpeg_start_decompress(&state->cinfo);
    return true;
}

// Scanlines straight into the bitmap's rows (bottom-up store).
bool jpegReadRows(JpegState* state, uint8_t* bits, int64_t stride)
{
    j_decompress_ptr cinfo = &state->cinfo;
    if (setjmp(state->err.jump))
        return false;
    const JDIMENSION height = cinfo->output_height;
    while (cinfo->output_scanline < height) {
        JSAMPROW row = bits + int64_t(height - 1 - cinfo->output_scanline) * stride;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            // Only a suspending source returns no row, and ours never suspends.
            std::snprintf(state->err.message, sizeof state->err.message, "%s", "Premature end of JPEG file");
            return false;
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

[[noreturn]] void raiseJpegFailure(JpegState& state)
{
    if (state.source.streamError)
        std::rethrow_exception(state.source.streamError);
    throw Exception(state.err.message);
}

uint16_t densityToDpi(int unit, unsigned density)
{
    if (unit == 1)
        return uint16_t(density);
    if (unit == 2)
        return resolutionOrZero(double(density) * 2.54);
    return 0;
}

}  // namespace

void TJpegGraphic::ReadImage(TStream& stream, int)
{
    JpegState state;
    state.cinfo.err = jpeg_std_error(&state.err.pub);
    state.err.pub.error_exit = jpegErrorExit;
    state.err.pub.emit_message = jpegEmitMessage;
    state.progress.progress_monitor = jpegProgressMonitor;
    state.source.stream = &stream;
    state.source.pub.init_source = jpegInitSource;
    state.source.pub.fill_input_buffer = jpegFillInput;
    state.source.pub.skip_input_data = jpegSkipInput;
    state.source.pub.resync_to_restart = jpeg_resync_to_restart;
    state.source.pub.term_source = jpegTermSource;

    if (!jpegReadHeader(&state))
        raiseJpegFailure(state);
    const bool grey = state.cinfo.out_color_space == JCS_GRAYSCALE;
    checkImageSize(state.cinfo.image_width, state.cinfo.image_height, BitsPerPixel(grey ? ifGrayscale256 : ifRgb24));

    if (!jpegStart(&state))
        raiseJpegFailure(state);
    warningCount_ = state.err.pub.num_warnings;

    TImageFormat format;
    if (state.cinfo.output_components == 1)
        format = ifGrayscale256;
    else if (state.cinfo.output_components == 3)
        format = ifRgb24;
    else
        throw Exception("Unsupported color conversion request");
    checkImageSize(state.cinfo.output_width, state.cinfo.output_height, BitsPerPixel(format));

    const uint16_t resX = densityToDpi(state.cinfo.density_unit, state.cinfo.X_density);
    const uint16_t resY = densityToDpi(state.cinfo.density_unit, state.cinfo.Y_density);
    NewImage(int32_t(state.cinfo.output_width), int32_t(state.cinfo.output_height), format, nullptr, resX, resY);

    const bool ok = jpegReadRows(&state, Bits(), RowStride());
    warningCount_ = state.err.pub.num_warnings;
    if (!ok)
        raiseJpegFailure(state);
}
