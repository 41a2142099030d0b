// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/jpeg_builder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include <jpeglib.h>

namespace jpeg_fixture {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void silent(j_common_ptr, int) {}

// Only plain data in this frame: libjpeg may longjmp back into it.
bool compress(jpeg_compress_struct* cinfo, ErrorManager* err, const JpegRecipe* recipe, const jpeg_scan_info* script,
              int scriptLength, unsigned char** out, unsigned long* size)
{
    if (setjmp(err->jump))
        return false;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, out, size);
    cinfo->image_width = JDIMENSION(recipe->width);
    cinfo->image_height = JDIMENSION(recipe->height);
    switch (recipe->kind) {
    case JpegKind::Grey:
        cinfo->input_components = 1;
        cinfo->in_color_space = JCS_GRAYSCALE;
        break;
    case JpegKind::YCbCr:
        cinfo->input_components = 3;
        cinfo->in_color_space = JCS_RGB;
        break;
    case JpegKind::Cmyk:
        cinfo->input_components = 4;
        cinfo->in_color_space = JCS_CMYK;
        break;
    }
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, recipe->quality, TRUE);
    if (recipe->progressive)
        jpeg_simple_progression(cinfo);
    if (script) {
        cinfo->scan_info = script;
        cinfo->num_scans = scriptLength;
    }
    cinfo->density_unit = UINT8(recipe->densityUnit);
    cinfo->X_density = UINT16(recipe->xDensity);
    cinfo->Y_density = UINT16(recipe->yDensity);
    jpeg_start_compress(cinfo, TRUE);
    for (const JpegRecipe::Marker& m : recipe->markers)
        jpeg_write_marker(cinfo, m.code, m.payload.data(), unsigned(m.payload.size()));
    const int stride = recipe->width * cinfo->input_components;
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(recipe->pixels.data()) + size_t(cinfo->next_scanline) * size_t(stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> writeJpeg(const JpegRecipe& recipe)
{
    const int components = recipe.kind == JpegKind::Grey ? 1 : recipe.kind == JpegKind::YCbCr ? 3 : 4;
    if (recipe.pixels.size() != size_t(recipe.width) * size_t(recipe.height) * size_t(components))
        throw std::runtime_error("jpeg fixture: wrong number of samples");
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    ErrorManager err;
    std::memset(&err, 0, sizeof err);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = silent;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<jpeg_scan_info> script;
    if (recipe.manyScans) {
        if (recipe.kind != JpegKind::Grey)
            throw std::runtime_error("jpeg fixture: many scans only for grey pictures");
        script.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, 0, 0, 0, 0});
        for (int k = 1; k < 64; ++k) {
            script.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, k, k, 0, 9});
            for (int ah = 9; ah >= 1; --ah)
                script.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, k, k, ah, ah - 1});
        }
    }
    const bool ok =
        compress(&cinfo, &err, &recipe, script.empty() ? nullptr : script.data(), int(script.size()), &out, &size);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes;
    if (ok && out)
        bytes.assign(out, out + size);
    std::free(out);
    if (!ok)
        throw std::runtime_error(std::string("jpeg fixture: ") + err.message);
    return bytes;
}

std::vector<uint8_t> gradientPixels(int width, int height, JpegKind kind)
{
    const int components = kind == JpegKind::Grey ? 1 : kind == JpegKind::YCbCr ? 3 : 4;
    std::vector<uint8_t> pixels;
    pixels.reserve(size_t(width) * size_t(height) * size_t(components));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int red = width > 1 ? x * 255 / (width - 1) : 0;
            const int green = height > 1 ? y * 255 / (height - 1) : 0;
            const int blue = 128;
            switch (kind) {
            case JpegKind::Grey: pixels.push_back(uint8_t((red + green + blue) / 3)); break;
            case JpegKind::YCbCr:
                pixels.push_back(uint8_t(red));
                pixels.push_back(uint8_t(green));
                pixels.push_back(uint8_t(blue));
                break;
            case JpegKind::Cmyk:
                pixels.push_back(uint8_t(255 - red));
                pixels.push_back(uint8_t(255 - green));
                pixels.push_back(uint8_t(255 - blue));
                pixels.push_back(0);
                break;
            }
        }
    return pixels;
}

}  // namespace jpeg_fixture
