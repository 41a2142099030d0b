// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/dxt_encoder.h"

#include "formats/texel_layout.h"
#include "support/picture_builder.h"

#include <squish.h>
#include <stb_dxt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// 16 pixels of R, G, B, A, rows of 4 top first: what encodeDxtBlock reads.
using Block = std::array<uint8_t, 64>;

constexpr DxtFormat kFormats[] = {DxtFormat::Dxt1, DxtFormat::Dxt1Alpha, DxtFormat::Dxt3, DxtFormat::Dxt5};

const char* nameOf(DxtFormat f)
{
    switch (f) {
    case DxtFormat::Dxt1: return "DXT1";
    case DxtFormat::Dxt1Alpha: return "DXT1 with alpha";
    case DxtFormat::Dxt3: return "DXT3";
    case DxtFormat::Dxt5: return "DXT5";
    }
    return "";
}

TexelLayout layoutOf(DxtFormat f, int width, int height)
{
    TexelLayout layout;
    layout.format = f == DxtFormat::Dxt3   ? TexelFormat::Dxt3
                    : f == DxtFormat::Dxt5 ? TexelFormat::Dxt5
                                           : TexelFormat::Dxt1;
    layout.dxt1Alpha = f == DxtFormat::Dxt1Alpha;
    layout.width = width;
    layout.height = height;
    return layout;
}

// What the dictionaries' reader makes of one block (as R, G, B, A).
Block decodeBlock(DxtFormat f, const uint8_t* bytes)
{
    std::array<uint8_t, 64> bgra{};
    decodeTexelLevel(layoutOf(f, 4, 4), nullptr, bytes, 4, 4, bgra.data());
    Block rgba;
    for (int i = 0; i < 16; ++i) {
        rgba[4 * i] = bgra[4 * i + 2];
        rgba[4 * i + 1] = bgra[4 * i + 1];
        rgba[4 * i + 2] = bgra[4 * i];
        rgba[4 * i + 3] = bgra[4 * i + 3];
    }
    return rgba;
}

std::vector<uint8_t> encode(DxtFormat f, const Block& b, DxtQuality quality = DxtQuality::Fast,
                            unsigned inside = 0xFFFF)
{
    std::vector<uint8_t> out(size_t(dxtBlockBytes(f)), 0xEE);
    encodeDxtBlock(f, quality, b.data(), inside, out.data());
    return out;
}

// Squared error of R, G, B between a block and its decoding, over the
// pixels `which` selects.
int64_t colourError(const Block& a, const Block& b, unsigned which = 0xFFFF)
{
    int64_t e = 0;
    for (int i = 0; i < 16; ++i)
        if ((which >> i) & 1)
            for (int c = 0; c < 3; ++c)
                e += (a[4 * i + c] - b[4 * i + c]) * (a[4 * i + c] - b[4 * i + c]);
    return e;
}

int64_t alphaError(const Block& a, const Block& b)
{
    int64_t e = 0;
    for (int i = 0; i < 16; ++i)
        e += (a[4 * i + 3] - b[4 * i + 3]) * (a[4 * i + 3] - b[4 * i + 3]);
    return e;
}

Block flat(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255)
{
    Block block;
    for (int i = 0; i < 16; ++i) {
        block[4 * i] = r;
        block[4 * i + 1] = g;
        block[4 * i + 2] = b;
        block[4 * i + 3] = a;
    }
    return block;
}

void setPixel(Block& block, int i, std::array<uint8_t, 4> p)
{
    std::copy(p.begin(), p.end(), block.begin() + 4 * i);
}

// Channel values that 5 and 6 bits hold exactly: the widening of a step by
// bit replication, (q << 3 | q >> 2) and (q << 2 | q >> 4).
constexpr uint8_t five(int q)
{
    return uint8_t((q << 3) | (q >> 2));
}
constexpr uint8_t six(int q)
{
    return uint8_t((q << 2) | (q >> 4));
}

// ---------------------------------------------------------------------------
// Hand-made blocks

struct HandCase {
    std::string name;
    std::vector<DxtFormat> formats;
    Block pixels;
    Block expected;  // as decoded
};

std::vector<HandCase> handCases()
{
    std::vector<HandCase> cases;
    const std::vector<DxtFormat> all(std::begin(kFormats), std::end(kFormats));

    const Block grey = flat(five(16), six(32), five(8));
    cases.push_back({"flat colour", all, grey, grey});

    // Two colours in a pattern that shows a misplaced index.
    Block two = flat(five(20), six(10), five(5));
    for (int i = 0; i < 16; ++i)
        if ((0x5A3Cu >> i) & 1)
            setPixel(two, i, {five(8), six(45), five(31), 255});
    cases.push_back({"two colours", all, two, two});

    // A 4-colour ramp as the decoder makes it, (2 a + b) / 3 and (a + 2 b) / 3.
    const int a[3] = {five(31), six(60), five(2)}, b[3] = {five(3), six(9), five(27)};
    Block ramp;
    for (int i = 0; i < 16; ++i) {
        const int k = i % 4;  // a, 1/3, 2/3, b along each row
        for (int c = 0; c < 3; ++c)
            ramp[4 * i + c] = uint8_t(k == 0   ? a[c]
                                      : k == 1 ? (2 * a[c] + b[c]) / 3
                                      : k == 2 ? (a[c] + 2 * b[c]) / 3
                                               : b[c]);
        ramp[4 * i + 3] = 255;
    }
    cases.push_back({"4-step gradient", {DxtFormat::Dxt1, DxtFormat::Dxt3, DxtFormat::Dxt5}, ramp, ramp});

    // Three steps, the middle one (a + b) / 2: only DXT1's 3-colour mode has it.
    Block three;
    for (int i = 0; i < 16; ++i) {
        const int k = (i / 4 + i) % 3;
        for (int c = 0; c < 3; ++c)
            three[4 * i + c] = uint8_t(k == 0 ? a[c] : k == 1 ? (a[c] + b[c]) / 2 : b[c]);
        three[4 * i + 3] = 255;
    }
    cases.push_back({"3-step gradient", {DxtFormat::Dxt1, DxtFormat::Dxt1Alpha}, three, three});

    // Transparent pixels: alpha below 128, decoded as transparent black.
    Block oneHole = grey, oneHoleBack = grey;
    setPixel(oneHole, 5, {five(16), six(32), five(8), 127});
    setPixel(oneHole, 6, {five(16), six(32), five(8), 128});
    setPixel(oneHoleBack, 5, {0, 0, 0, 0});
    cases.push_back({"one transparent pixel", {DxtFormat::Dxt1Alpha}, oneHole, oneHoleBack});

    Block twoHole = two, twoHoleBack = two;
    setPixel(twoHole, 0, {1, 2, 3, 0});
    setPixel(twoHoleBack, 0, {0, 0, 0, 0});
    setPixel(twoHole, 15, {200, 100, 50, 60});
    setPixel(twoHoleBack, 15, {0, 0, 0, 0});
    cases.push_back({"two colours, two transparent pixels", {DxtFormat::Dxt1Alpha}, twoHole, twoHoleBack});

    Block none = two;
    for (int i = 0; i < 16; ++i)
        none[4 * i + 3] = uint8_t(i * 7);
    cases.push_back({"all transparent", {DxtFormat::Dxt1Alpha}, none, flat(0, 0, 0, 0)});

    // DXT1 without its alpha ignores the picture's alpha.
    cases.push_back({"alpha ignored", {DxtFormat::Dxt1}, none, two});

    // DXT5 alpha: the 8-alpha ramp of a0 > a1, ((7 - i) a0 + i a1) / 7, and
    // the 6-alpha ramp of a0 <= a1 with 0 and 255 beside it.
    Block ramp8 = grey, ramp6 = grey, flatAlpha = grey, binary = grey;
    for (int i = 0; i < 16; ++i) {
        const int k = i % 8;
        ramp8[4 * i + 3] = uint8_t(k == 0 ? 200 : k == 7 ? 20 : ((7 - k) * 200 + k * 20) / 7);
        const int j = i % 8;
        ramp6[4 * i + 3] = uint8_t(j == 6   ? 0
                                   : j == 7 ? 255
                                   : j == 0 ? 60
                                   : j == 5 ? 180
                                            : ((5 - j) * 60 + j * 180) / 5);
        flatAlpha[4 * i + 3] = 77;
        binary[4 * i + 3] = (i * 5) % 3 ? 255 : 0;
    }
    cases.push_back({"DXT5 8-alpha ramp", {DxtFormat::Dxt5}, ramp8, ramp8});
    cases.push_back({"DXT5 6-alpha ramp with 0 and 255", {DxtFormat::Dxt5}, ramp6, ramp6});
    cases.push_back({"DXT5 flat alpha", {DxtFormat::Dxt5}, flatAlpha, flatAlpha});
    cases.push_back({"DXT5 alpha 0 and 255", {DxtFormat::Dxt5}, binary, binary});
    return cases;
}

TEST(DxtEncoderBlocks, HandMadeBlocksDecodeToWhatTheyShow)
{
    for (const HandCase& c : handCases()) {
        for (const DxtFormat f : c.formats) {
            SCOPED_TRACE(c.name + " as " + nameOf(f));
            const Block back = decodeBlock(f, encode(f, c.pixels).data());
            Block expected = c.expected;
            if (f == DxtFormat::Dxt1)
                for (int i = 0; i < 16; ++i)
                    expected[4 * i + 3] = 255;
            if (f == DxtFormat::Dxt3)
                for (int i = 0; i < 16; ++i)
                    expected[4 * i + 3] = uint8_t((expected[4 * i + 3] + 8) / 17 * 17);
            EXPECT_EQ(back, expected);
        }
    }
}

TEST(DxtEncoderBlocks, Dxt3AlphaIsEachAlphaRoundedToFourBits)
{
    // Every alpha value, 16 to a block; the nearest multiple of 17.
    for (int first = 0; first < 256; first += 16) {
        Block b = flat(five(4), six(50), five(30));
        for (int i = 0; i < 16; ++i)
            b[4 * i + 3] = uint8_t(first + i);
        const Block back = decodeBlock(DxtFormat::Dxt3, encode(DxtFormat::Dxt3, b).data());
        for (int i = 0; i < 16; ++i) {
            const int v = first + i, lower = v / 17 * 17;
            const int nearest = v - lower <= lower + 17 - v ? lower : lower + 17;
            EXPECT_EQ(back[4 * i + 3], nearest) << v;
        }
    }
}

TEST(DxtEncoderBlocks, AFlatBlockOfAnyColourComesBackWithinOneStep)
{
    // 565 holds few of these colours; an inner colour of two endpoints
    // comes within one of every 8-bit value.
    std::mt19937 random(7);
    for (int n = 0; n < 300; ++n) {
        const Block b = flat(uint8_t(random()), uint8_t(random()), uint8_t(random()), uint8_t(random()));
        for (const DxtFormat f : kFormats) {
            if (f == DxtFormat::Dxt1Alpha && b[3] < 128)
                continue;
            const Block back = decodeBlock(f, encode(f, b).data());
            for (int i = 0; i < 64; ++i) {
                if (i % 4 == 3)
                    continue;
                ASSERT_LE(std::abs(back[size_t(i)] - b[size_t(i)]), 1)
                    << nameOf(f) << " " << int(b[0]) << "," << int(b[1]) << "," << int(b[2]);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Pixels outside the level

TEST(DxtEncoderBlocks, PixelsOutsideTheLevelDoNotChangeTheBlock)
{
    // A 2 x 3 corner of two exact colours; what lies around it differs.
    const unsigned inside = 0x0333;  // rows 0-2, columns 0-1
    Block a = flat(0, 0, 0), b = flat(255, 255, 255);
    std::mt19937 random(3);
    for (int i = 0; i < 16; ++i) {
        for (int c = 0; c < 4; ++c) {
            a[size_t(4 * i + c)] = uint8_t(random());
            b[size_t(4 * i + c)] = uint8_t(random());
        }
        if ((inside >> i) & 1) {
            const bool first = i % 2 == 0;
            setPixel(a, i, {five(first ? 3 : 28), six(first ? 61 : 7), five(first ? 12 : 19), 255});
            std::copy(a.begin() + 4 * i, a.begin() + 4 * i + 4, b.begin() + 4 * i);
        }
    }
    for (const DxtQuality q : {DxtQuality::Fast, DxtQuality::Best}) {
        for (const DxtFormat f : kFormats) {
            SCOPED_TRACE(std::string(nameOf(f)) + (q == DxtQuality::Fast ? " fast" : " best"));
            const std::vector<uint8_t> fromA = encode(f, a, q, inside);
            EXPECT_EQ(fromA, encode(f, b, q, inside));
            const Block back = decodeBlock(f, fromA.data());
            EXPECT_EQ(colourError(a, back, inside), 0);
        }
    }
}

TEST(DxtEncoderLevels, LevelsSmallerThanABlockAndRaggedEdgesComeBackExactly)
{
    // Two exact colours in a checker; every size below and around a block.
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{2, 1}, std::pair{1, 3}, std::pair{2, 2}, std::pair{3, 3},
                               std::pair{5, 2}, std::pair{6, 7}, std::pair{9, 5}}) {
        std::vector<uint8_t> bgra(size_t(w) * h * 4);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                uint8_t* p = bgra.data() + 4 * (size_t(y) * w + x);
                const bool odd = (x + y) % 2;
                p[0] = odd ? five(31) : five(9);
                p[1] = odd ? six(2) : six(40);
                p[2] = odd ? five(17) : five(0);
                p[3] = odd ? 255 : 34;
            }
        }
        for (const DxtFormat f : {DxtFormat::Dxt1, DxtFormat::Dxt5}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + nameOf(f));
            const TexelLayout layout = layoutOf(f, w, h);
            std::vector<uint8_t> blocks(size_t(texelLevelBytes(layout.format, w, h)));
            encodeTexelLevel(layout, bgra.data(), w, h, blocks.data());
            std::vector<uint8_t> back(bgra.size());
            decodeTexelLevel(layout, nullptr, blocks.data(), w, h, back.data());
            std::vector<uint8_t> expected = bgra;
            if (f == DxtFormat::Dxt1)
                for (size_t i = 3; i < expected.size(); i += 4)
                    expected[i] = 255;
            EXPECT_EQ(back, expected);
        }
    }
}

// ---------------------------------------------------------------------------
// Many blocks: random, a few noisy groups, photo-like

std::vector<Block> manyBlocks()
{
    std::vector<Block> blocks;
    std::mt19937 random(1234);
    const auto byte = [&] { return uint8_t(random() & 0xFF); };
    // Random colours.
    for (int n = 0; n < 600; ++n) {
        Block b;
        for (uint8_t& v : b)
            v = byte();
        blocks.push_back(b);
    }
    // Two to four groups of colours with a little noise each.
    for (int n = 0; n < 1200; ++n) {
        const int groups = 2 + n % 3;
        uint8_t centre[4][4];
        for (auto& g : centre)
            for (uint8_t& v : g)
                v = byte();
        const int noise = 1 + n % 12;
        Block b;
        for (int i = 0; i < 16; ++i) {
            const int g = int(random() % unsigned(groups));
            for (int c = 0; c < 4; ++c)
                b[size_t(4 * i + c)] =
                    uint8_t(std::clamp(centre[g][c] + int(random() % unsigned(2 * noise + 1)) - noise, 0, 255));
        }
        blocks.push_back(b);
    }
    // Photo-like pictures and a smooth gradient with grain, cut into blocks,
    // alpha from a slow wave.
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        const std::unique_ptr<TDibGraphic> picture = MakePhotoLikePicture(64, 32, seed);
        for (int by = 0; by < 8; ++by) {
            for (int bx = 0; bx < 16; ++bx) {
                Block b;
                for (int i = 0; i < 16; ++i) {
                    const int x = bx * 4 + i % 4, y = by * 4 + i / 4;
                    const uint8_t* p = picture->RowPointer(y) + 3 * x;
                    b[size_t(4 * i)] = p[2];
                    b[size_t(4 * i + 1)] = p[1];
                    b[size_t(4 * i + 2)] = p[0];
                    b[size_t(4 * i + 3)] = uint8_t(128 + 127 * std::sin(x * 0.3 + y * 0.2 + seed));
                }
                blocks.push_back(b);
            }
        }
    }
    for (int n = 0; n < 500; ++n) {
        Block b;
        const double angle = n * 0.7, scale = 0.5 + n % 7;
        for (int i = 0; i < 16; ++i) {
            const double t = (i % 4) * std::cos(angle) + (i / 4) * std::sin(angle);
            for (int c = 0; c < 3; ++c)
                b[size_t(4 * i + c)] =
                    uint8_t(std::clamp(int(40 + 60 * c + t * scale * (c + 1) + int(random() % 3)), 0, 255));
            b[size_t(4 * i + 3)] = uint8_t(std::clamp(int(128 + t * scale * 8), 0, 255));
        }
        blocks.push_back(b);
    }
    return blocks;
}

const std::vector<Block>& blockSet()
{
    static const std::vector<Block> blocks = manyBlocks();
    return blocks;
}

double psnr(int64_t squaredError, double samples)
{
    return squaredError == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / double(squaredError));
}

Block opaque(Block b)
{
    for (int i = 0; i < 16; ++i)
        b[4 * i + 3] = 255;
    return b;
}

TEST(DxtEncoderQuality, RefinementNeverLeavesABlockWorseThanStbDxtAlone)
{
    ASSERT_GE(blockSet().size(), 3000u);
    int better = 0;
    for (const Block& original : blockSet()) {
        // DXT1: stb_dxt's block of the same (opaque) pixels.
        const Block b = opaque(original);
        uint8_t stb[16];
        stb_compress_dxt_block(stb, b.data(), 0, STB_DXT_HIGHQUAL);
        const int64_t ours = colourError(b, decodeBlock(DxtFormat::Dxt1, encode(DxtFormat::Dxt1, b).data()));
        const int64_t theirs = colourError(b, decodeBlock(DxtFormat::Dxt1, stb));
        ASSERT_LE(ours, theirs);
        better += ours < theirs;
        // DXT5: colour and alpha each.
        stb_compress_dxt_block(stb, original.data(), 1, STB_DXT_HIGHQUAL);
        const Block mine = decodeBlock(DxtFormat::Dxt5, encode(DxtFormat::Dxt5, original).data());
        const Block stbs = decodeBlock(DxtFormat::Dxt5, stb);
        ASSERT_LE(colourError(original, mine), colourError(original, stbs));
        ASSERT_LE(alphaError(original, mine), alphaError(original, stbs));
    }
    // And it does something: most of these blocks get better.
    EXPECT_GT(better, int(blockSet().size() / 2));
}

TEST(DxtEncoderQuality, FastIsWithinATenthOfADecibelOfClusterFit)
{
    // PSNR of R, G, B over every pixel of the set: opaque DXT1, DXT5's
    // colour, and DXT1 with 1-bit alpha over the pixels it keeps opaque.
    int64_t fast[3] = {0, 0, 0}, cluster[3] = {0, 0, 0};
    double samples[3] = {0, 0, 0};
    for (const Block& original : blockSet()) {
        const Block b = opaque(original);
        uint8_t reference[16];
        squish::Compress(b.data(), reference, squish::kDxt1 | squish::kColourClusterFit);
        fast[0] += colourError(b, decodeBlock(DxtFormat::Dxt1, encode(DxtFormat::Dxt1, b).data()));
        cluster[0] += colourError(b, decodeBlock(DxtFormat::Dxt1, reference));
        samples[0] += 48;

        squish::Compress(original.data(), reference, squish::kDxt5 | squish::kColourClusterFit);
        fast[1] += colourError(original, decodeBlock(DxtFormat::Dxt5, encode(DxtFormat::Dxt5, original).data()));
        cluster[1] += colourError(original, decodeBlock(DxtFormat::Dxt5, reference));
        samples[1] += 48;

        unsigned kept = 0;
        for (int i = 0; i < 16; ++i)
            kept |= unsigned(original[size_t(4 * i + 3)] >= 128) << i;
        squish::Compress(original.data(), reference, squish::kDxt1 | squish::kColourClusterFit);
        const Block mine = decodeBlock(DxtFormat::Dxt1Alpha, encode(DxtFormat::Dxt1Alpha, original).data());
        fast[2] += colourError(original, mine, kept);
        cluster[2] += colourError(original, decodeBlock(DxtFormat::Dxt1Alpha, reference), kept);
        samples[2] += 3.0 * std::popcount(kept);
        // Alpha below 128 and only that is transparent.
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(mine[size_t(4 * i + 3)], (kept >> i) & 1 ? 255 : 0);
    }
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k == 0 ? "DXT1" : k == 1 ? "DXT5" : "DXT1 with alpha");
        EXPECT_GE(psnr(fast[k], samples[k]), psnr(cluster[k], samples[k]) - 0.1);
    }
}

TEST(DxtEncoderQuality, BlocksReadTheSameInEitherColourMode)
{
    // DXT3 and DXT5 colour blocks are read in the 4-colour mode whatever
    // their order, so they keep colour0 > colour1 (or equal, every index 0)
    // for readers that do not; opaque DXT1 blocks never take the
    // transparent index.
    for (const Block& original : blockSet()) {
        for (const DxtQuality q : {DxtQuality::Fast, DxtQuality::Best}) {
            for (const DxtFormat f : {DxtFormat::Dxt3, DxtFormat::Dxt5}) {
                const std::vector<uint8_t> bytes = encode(f, original, q);
                const unsigned c0 = bytes[8] | (bytes[9] << 8), c1 = bytes[10] | (bytes[11] << 8);
                const uint32_t indices = bytes[12] | (bytes[13] << 8) | (bytes[14] << 16) | (uint32_t(bytes[15]) << 24);
                ASSERT_TRUE(c0 > c1 || (c0 == c1 && indices == 0)) << nameOf(f) << " " << c0 << " " << c1;
            }
            const Block asAlpha = decodeBlock(DxtFormat::Dxt1Alpha, encode(DxtFormat::Dxt1, original, q).data());
            for (int i = 0; i < 16; ++i)
                ASSERT_EQ(asAlpha[size_t(4 * i + 3)], 255);
        }
    }
}

TEST(DxtEncoderQuality, BestIsTheLibrarysIterativeClusterFit)
{
    // With the plain cluster fit's flag beside it the library falls back to
    // the plain fit, which differs on some of these blocks.
    int differsFromPlain = 0;
    for (size_t n = 0; n < blockSet().size(); n += 7) {
        const Block b = opaque(blockSet()[n]);
        uint8_t iterative[8], plain[8];
        squish::Compress(b.data(), iterative, squish::kDxt1 | squish::kColourIterativeClusterFit);
        squish::Compress(b.data(), plain, squish::kDxt1 | squish::kColourClusterFit);
        const std::vector<uint8_t> best = encode(DxtFormat::Dxt1, b, DxtQuality::Best);
        ASSERT_EQ(best, std::vector<uint8_t>(iterative, iterative + 8));
        differsFromPlain += !std::equal(iterative, iterative + 8, plain);
    }
    EXPECT_GT(differsFromPlain, 0);
}

// ---------------------------------------------------------------------------
// Levels and threads

std::vector<uint8_t> photoLevel(int w, int h)
{
    const std::unique_ptr<TDibGraphic> picture = MakePhotoLikePicture(w, h, 9);
    std::vector<uint8_t> bgra(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = picture->RowPointer(y) + 3 * x;
            uint8_t* d = bgra.data() + 4 * (size_t(y) * w + x);
            d[0] = p[0];
            d[1] = p[1];
            d[2] = p[2];
            d[3] = uint8_t((x * 7 + y * 3) % 256);
        }
    }
    return bgra;
}

TEST(DxtEncoderLevels, TheNumberOfThreadsChangesNoByte)
{
    const int w = 37, h = 45;  // ragged on both sides, 12 block rows
    const std::vector<uint8_t> bgra = photoLevel(w, h);
    for (const DxtQuality q : {DxtQuality::Fast, DxtQuality::Best}) {
        for (const DxtFormat f : kFormats) {
            SCOPED_TRACE(std::string(nameOf(f)) + (q == DxtQuality::Fast ? " fast" : " best"));
            const size_t bytes = size_t(texelLevelBytes(layoutOf(f, w, h).format, w, h));
            std::vector<uint8_t> one(bytes, 0xEE);
            encodeDxtLevel(f, q, bgra.data(), w, h, one.data(), 1);
            for (const int threads : {2, 3, 8, 0}) {
                std::vector<uint8_t> many(bytes, 0x11);
                encodeDxtLevel(f, q, bgra.data(), w, h, many.data(), threads);
                EXPECT_EQ(many, one) << threads << " threads";
            }
        }
    }
}

TEST(DxtEncoderLevels, TheTexelEncoderPassesTheQualityOn)
{
    const int w = 32, h = 16;
    const std::vector<uint8_t> bgra = photoLevel(w, h);
    const TexelLayout layout = layoutOf(DxtFormat::Dxt1, w, h);
    const size_t bytes = size_t(texelLevelBytes(layout.format, w, h));
    for (const DxtQuality q : {DxtQuality::Fast, DxtQuality::Best}) {
        std::vector<uint8_t> viaLayout(bytes), direct(bytes);
        encodeTexelLevel(layout, bgra.data(), w, h, viaLayout.data(), q);
        encodeDxtLevel(DxtFormat::Dxt1, q, bgra.data(), w, h, direct.data());
        EXPECT_EQ(viaLayout, direct);
    }
    std::vector<uint8_t> byDefault(bytes), fast(bytes), best(bytes);
    encodeTexelLevel(layout, bgra.data(), w, h, byDefault.data());
    encodeDxtLevel(DxtFormat::Dxt1, DxtQuality::Fast, bgra.data(), w, h, fast.data());
    encodeDxtLevel(DxtFormat::Dxt1, DxtQuality::Best, bgra.data(), w, h, best.data());
    EXPECT_EQ(byDefault, fast);
    EXPECT_NE(fast, best);
}

}  // namespace
