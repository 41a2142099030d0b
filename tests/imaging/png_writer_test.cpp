// SPDX-License-Identifier: GPL-2.0-or-later
// The PNG writer's bytes, read back with libpng's own reader: every pixel
// and every alpha value as handed over, the sRGB chunk when asked for, and
// failures reported as errors with nothing half made.
#include "imaging/png_writer.h"
#include "platform/exceptions.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cstring>
#include <stdexcept>

namespace {

// Pixels in which every channel varies on its own (alpha included), with
// runs and steps both, so filters and matching meet something of each.
std::vector<uint8_t> pixels(int width, int height, int channels)
{
    std::vector<uint8_t> p(size_t(width) * height * channels);
    uint32_t v = 12345;
    for (size_t i = 0; i < p.size(); ++i) {
        v = v * 1103515245u + 12345u;
        p[i] = (i / channels) % 7 < 3 ? uint8_t(i % channels * 40) : uint8_t(v >> 16);
    }
    return p;
}

struct Decoded {
    png_uint_32 width = 0, height = 0;
    int colorType = -1;
    bool hasSrgb = false;
    int intent = -1;
    std::vector<uint8_t> pixels;
};

struct ReadSource {
    const std::vector<uint8_t>* bytes;
    size_t at = 0;
};

extern "C" void readFrom(png_structp png, png_bytep out, size_t count)
{
    auto* s = static_cast<ReadSource*>(png_get_io_ptr(png));
    if (s->at + count > s->bytes->size())
        png_error(png, "short");
    std::memcpy(out, s->bytes->data() + s->at, count);
    s->at += count;
}

// Reads with libpng, no transformation asked: the stored samples as they are.
bool decode(const std::vector<uint8_t>& bytes, Decoded& d)
{
    ReadSource source{&bytes};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, readFrom);
    png_read_info(png, info);
    d.width = png_get_image_width(png, info);
    d.height = png_get_image_height(png, info);
    d.colorType = png_get_color_type(png, info);
    if (png_get_bit_depth(png, info) != 8)
        png_error(png, "depth");
    int intent = 0;
    d.hasSrgb = png_get_sRGB(png, info, &intent) != 0;
    d.intent = intent;
    const size_t rowBytes = png_get_rowbytes(png, info);
    d.pixels.assign(rowBytes * d.height, 0);
    for (png_uint_32 y = 0; y < d.height; ++y)
        png_read_row(png, d.pixels.data() + y * rowBytes, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

PngRows rowsOf(const std::vector<uint8_t>& p, int width, int height, bool alpha)
{
    PngRows rows;
    rows.width = width;
    rows.height = height;
    rows.alpha = alpha;
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    rows.row = [&p, rowBytes](int y, uint8_t* out) { std::memcpy(out, p.data() + y * rowBytes, rowBytes); };
    return rows;
}

}  // namespace

TEST(PngWriter, DecodesToExactlyThePixelsHandedOver)
{
    struct Case {
        int width, height;
        bool alpha;
    };
    for (const Case& c :
         {Case{1, 1, true}, Case{257, 3, true}, Case{5, 300, true}, Case{31, 17, false}, Case{1024, 64, true}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + (c.alpha ? " RGBA" : " RGB"));
        const std::vector<uint8_t> p = pixels(c.width, c.height, c.alpha ? 4 : 3);
        int calls = 0;
        PngRows rows = rowsOf(p, c.width, c.height, c.alpha);
        const auto fill = rows.row;
        rows.row = [&](int y, uint8_t* out) {
            EXPECT_EQ(y, calls++) << "rows are asked for top to bottom, once each";
            fill(y, out);
        };
        int released = 0;
        rows.rowsRead = [&] {
            EXPECT_EQ(calls, c.height) << "the rows' source is let go only once every row is read";
            ++released;
        };
        Decoded d;
        ASSERT_TRUE(decode(encodePng(rows), d));
        EXPECT_EQ(calls, c.height);
        EXPECT_EQ(released, 1);
        EXPECT_EQ(d.width, png_uint_32(c.width));
        EXPECT_EQ(d.height, png_uint_32(c.height));
        EXPECT_EQ(d.colorType, c.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
        EXPECT_FALSE(d.hasSrgb);
        EXPECT_TRUE(d.pixels == p);
    }
}

TEST(PngWriter, CarriesAnSrgbChunkWhenAsked)
{
    const std::vector<uint8_t> p = pixels(4, 4, 4);
    for (int intent : {0, 1, 3}) {
        PngRows rows = rowsOf(p, 4, 4, true);
        rows.srgbIntent = intent;
        Decoded d;
        ASSERT_TRUE(decode(encodePng(rows), d));
        EXPECT_TRUE(d.hasSrgb);
        EXPECT_EQ(d.intent, intent);
        EXPECT_TRUE(d.pixels == p);
    }
}

TEST(PngWriter, FailuresAreErrors)
{
    const std::vector<uint8_t> p = pixels(4, 4, 4);
    for (auto [w, h] : {std::pair{0, 4}, std::pair{4, 0}, std::pair{-1, 4}}) {
        PngRows rows = rowsOf(p, 4, 4, true);
        rows.width = w;
        rows.height = h;
        EXPECT_THROW(encodePng(rows), EWriteError) << w << "x" << h;
    }
    // What the row source throws comes through as it is.
    PngRows rows = rowsOf(p, 4, 4, true);
    rows.row = [](int y, uint8_t*) {
        if (y == 2)
            throw EReadError("Stream read error");
    };
    EXPECT_THROW(encodePng(rows), EReadError);
}
