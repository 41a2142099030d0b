// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/png_builder.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace png_fixture {
namespace {

struct WriteState {
    std::vector<uint8_t>* out = nullptr;
    char message[256] = {};
};

void errorFn(png_structp png, png_const_charp text)
{
    auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", text ? text : "");
    png_longjmp(png, 1);
}

void warningFn(png_structp, png_const_charp) {}

void writeFn(png_structp png, png_bytep data, size_t length)
{
    auto* state = static_cast<WriteState*>(png_get_io_ptr(png));
    bool ok = true;
    try {
        state->out->insert(state->out->end(), data, data + length);
    } catch (...) {
        ok = false;
    }
    if (!ok)
        png_error(png, "out of memory");
}

void flushFn(png_structp) {}

struct Prepared {
    const PngRecipe* recipe;
    png_color palette[256];
    int paletteCount;
    png_color_16 transparent;
    png_color_16 background;
    png_text text;
    png_bytepp rows;
};

// Only plain data in this frame: libpng may longjmp back into it.
bool writePhase(png_structp png, png_infop info, WriteState* state, Prepared* p)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    const PngRecipe& s = *p->recipe;
    png_set_write_fn(png, state, writeFn, flushFn);
    png_set_IHDR(png, info, png_uint_32(s.width), png_uint_32(s.height), s.bitDepth, s.colorType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (p->paletteCount > 0)
        png_set_PLTE(png, info, p->palette, p->paletteCount);
    if (!s.paletteAlpha.empty())
        png_set_tRNS(png, info, s.paletteAlpha.data(), int(s.paletteAlpha.size()), nullptr);
    if (s.transparentGrey)
        png_set_tRNS(png, info, nullptr, 0, &p->transparent);
    if (s.srgbIntent)
        png_set_sRGB(png, info, *s.srgbIntent);
    if (s.gamma)
        png_set_gAMA(png, info, *s.gamma);
    if (s.background)
        png_set_bKGD(png, info, &p->background);
    if (s.phys)
        png_set_pHYs(png, info, s.phys->x, s.phys->y, s.phys->unit);
    if (s.text)
        png_set_text(png, info, &p->text, 1);
    png_write_info(png, info);
    png_write_image(png, p->rows);
    png_write_end(png, info);
    return true;
}

int channelsOf(ColorType type)
{
    switch (type) {
    case Grey:
    case Palette: return 1;
    case GreyAlpha: return 2;
    case Rgb: return 3;
    case RgbAlpha: return 4;
    }
    return 1;
}

std::vector<uint8_t> packRow(const std::vector<int>& samples, int bitDepth)
{
    std::vector<uint8_t> row;
    if (bitDepth >= 8) {
        for (int v : samples) {
            if (bitDepth == 16)
                row.push_back(uint8_t(v >> 8));
            row.push_back(uint8_t(v));
        }
        return row;
    }
    row.assign((samples.size() * size_t(bitDepth) + 7) / 8, 0);
    for (size_t i = 0; i < samples.size(); ++i) {
        const size_t bit = i * size_t(bitDepth);
        row[bit / 8] |= uint8_t((samples[i] & ((1 << bitDepth) - 1)) << (8 - bitDepth - int(bit % 8)));
    }
    return row;
}

}  // namespace

std::vector<uint8_t> writePng(const PngRecipe& recipe)
{
    const int channels = channelsOf(recipe.colorType);
    std::vector<std::vector<uint8_t>> packed;
    for (const auto& r : recipe.rows) {
        if (int(r.size()) != recipe.width * channels)
            throw std::runtime_error("png fixture: row has the wrong number of samples");
        packed.push_back(packRow(r, recipe.bitDepth));
    }
    if (int(packed.size()) != recipe.height)
        throw std::runtime_error("png fixture: wrong number of rows");
    std::vector<png_bytep> rowPointers;
    for (auto& r : packed)
        rowPointers.push_back(r.data());

    std::string textValue = recipe.text.value_or("");
    char keyword[] = "Comment";
    Prepared p{};
    p.recipe = &recipe;
    p.paletteCount = int(recipe.palette.size());
    for (int i = 0; i < p.paletteCount && i < 256; ++i)
        p.palette[i] =
            png_color{recipe.palette[size_t(i)].red, recipe.palette[size_t(i)].green, recipe.palette[size_t(i)].blue};
    if (recipe.transparentGrey)
        p.transparent.gray = *recipe.transparentGrey;
    if (recipe.background) {
        p.background.index = recipe.background->index;
        p.background.red = recipe.background->red;
        p.background.green = recipe.background->green;
        p.background.blue = recipe.background->blue;
        p.background.gray = recipe.background->gray;
    }
    p.text.compression = PNG_TEXT_COMPRESSION_NONE;
    p.text.key = keyword;
    p.text.text = textValue.data();
    p.text.text_length = textValue.size();
    p.rows = rowPointers.data();

    std::vector<uint8_t> out;
    WriteState state;
    state.out = &out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, errorFn, warningFn);
    if (!png)
        throw std::runtime_error("png fixture: png_create_write_struct failed");
    png_infop info = png_create_info_struct(png);
    const bool ok = info && writePhase(png, info, &state, &p);
    png_destroy_write_struct(&png, &info);
    if (!ok)
        throw std::runtime_error(std::string("png fixture: ") + state.message);
    return out;
}

void corruptChunkCrc(std::vector<uint8_t>& file, const char type[4])
{
    size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const uint32_t length =
            uint32_t(file[pos]) << 24 | uint32_t(file[pos + 1]) << 16 | uint32_t(file[pos + 2]) << 8 | file[pos + 3];
        if (std::memcmp(&file[pos + 4], type, 4) == 0) {
            file[pos + 8 + length] ^= 0x5A;
            return;
        }
        pos += 12 + length;
    }
    throw std::runtime_error("png fixture: chunk not found");
}

void setImageSize(std::vector<uint8_t>& file, uint32_t width, uint32_t height)
{
    // IHDR is the first chunk: length at 8, type at 12, data at 16, CRC at 29.
    if (file.size() < 33 || std::memcmp(&file[12], "IHDR", 4) != 0)
        throw std::runtime_error("png fixture: no IHDR");
    for (int i = 0; i < 4; ++i) {
        file[16 + size_t(i)] = uint8_t(width >> (24 - 8 * i));
        file[20 + size_t(i)] = uint8_t(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, &file[12], 17);
    for (int i = 0; i < 4; ++i)
        file[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
}

std::vector<std::vector<int>> patternRows(int width, int height, int channels, int bitDepth)
{
    std::vector<std::vector<int>> rows(size_t(height), std::vector<int>(size_t(width * channels)));
    const int modulus = 1 << bitDepth;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                rows[size_t(y)][size_t(x * channels + c)] = (x * 37 + y * 11 + c * 5) % modulus;
    return rows;
}

}  // namespace png_fixture
