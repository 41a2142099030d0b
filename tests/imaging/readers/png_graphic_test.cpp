// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/png_graphic.h"

#include "platform/environment.h"
#include "platform/streams.h"
#include "support/png_builder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace png_fixture;

namespace {

std::unique_ptr<TPngGraphic> decode(const std::vector<uint8_t>& bytes)
{
    auto picture = std::make_unique<TPngGraphic>();
    TMemoryStream stream(bytes);
    picture->ReadImage(stream, 1);
    return picture;
}

template <typename E>
std::string failureOf(const std::vector<uint8_t>& bytes)
{
    try {
        decode(bytes);
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong class: ") + e.what();
    }
    return "no failure";
}

// Serves its bytes and then throws the platform's read error.
class BrokenStream : public TStream {
public:
    BrokenStream(std::vector<uint8_t> bytes, int64_t goodBytes) : bytes_(std::move(bytes)), good_(goodBytes) {}
    int64_t Read(void* buffer, int64_t count) override
    {
        if (pos_ + count > good_)
            throw EReadError("Stream read error");
        std::memcpy(buffer, bytes_.data() + pos_, size_t(count));
        pos_ += count;
        return count;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, SeekOrigin origin) override
    {
        pos_ = origin == SeekOrigin::Begin     ? offset
               : origin == SeekOrigin::Current ? pos_ + offset
                                               : int64_t(bytes_.size()) + offset;
        return pos_;
    }
    int64_t Size() override { return int64_t(bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
    int64_t good_;
    int64_t pos_ = 0;
};

class CollectWarnings {
public:
    CollectWarnings()
    {
        setWarningHook([this](const std::string& caption, const std::string& text) {
            captions.push_back(caption);
            texts.push_back(text);
        });
    }
    ~CollectWarnings() { setWarningHook(nullptr); }
    std::vector<std::string> captions, texts;
};

class ScreenDpi {
public:
    explicit ScreenDpi(int dpi) { setScreenDpi(dpi, dpi); }
    ~ScreenDpi() { setScreenDpi(96, 96); }
};

PngRecipe basic(int width, int height, int bitDepth, ColorType type)
{
    PngRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.bitDepth = bitDepth;
    recipe.colorType = type;
    recipe.srgbIntent = 0;  // no gamma correction: samples arrive as written
    return recipe;
}

std::vector<Rgb8> rampPalette(int count)
{
    std::vector<Rgb8> palette;
    for (int i = 0; i < count; ++i)
        palette.push_back({uint8_t(i * 7), uint8_t(255 - i), uint8_t((i * 53) & 255)});
    return palette;
}

// ---------------------------------------------------------------------------
// The format table: every depth and colour type, plain and interlaced.

struct FormatCase {
    int bitDepth;
    ColorType type;
    TImageFormat format;
    bool interlaced;
};

std::string caseName(const testing::TestParamInfo<FormatCase>& info)
{
    static const char* types[] = {"Grey", "", "Rgb", "Palette", "GreyAlpha", "", "RgbAlpha"};
    return std::string(types[info.param.type]) + std::to_string(info.param.bitDepth)
           + (info.param.interlaced ? "Interlaced" : "");
}

class PngFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(PngFormats, SamplesLandInTheChosenFormat)
{
    const FormatCase c = GetParam();
    const int channels = c.type == Grey || c.type == Palette ? 1 : c.type == GreyAlpha ? 2 : c.type == Rgb ? 3 : 4;
    PngRecipe recipe = basic(17, 9, c.bitDepth, c.type);
    recipe.interlaced = c.interlaced;
    recipe.rows = patternRows(17, 9, channels, c.bitDepth);
    const int maxValue = (1 << c.bitDepth) - 1;
    if (c.type == GreyAlpha || c.type == RgbAlpha)  // opaque, so compositing changes nothing
        for (auto& row : recipe.rows)
            for (size_t i = size_t(channels - 1); i < row.size(); i += size_t(channels))
                row[i] = maxValue;
    if (c.type == Palette)
        recipe.palette = rampPalette(1 << c.bitDepth);

    auto picture = decode(writePng(recipe));
    ASSERT_EQ(picture->ImageFormat(), c.format);
    ASSERT_EQ(picture->Width(), 17);
    ASSERT_EQ(picture->Height(), 9);
    const int shift = c.bitDepth == 16 ? 8 : 0;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x) {
            const auto& row = recipe.rows[size_t(y)];
            const int first = row[size_t(x * channels)] >> shift;
            // 16-bit samples composited onto the background are rounded
            // rather than cut to 8 bits by libpng.
            const int slack = c.bitDepth == 16 && (c.type == GreyAlpha || c.type == RgbAlpha) ? 1 : 0;
            if (c.format == ifRgb24) {
                const uint32_t got = picture->GetPixelColor(x, y);
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_NEAR(int((got >> (16 - 8 * ch)) & 255), row[size_t(x * channels + ch)] >> shift, slack)
                        << x << "," << y;
            } else {
                const int want = c.type == Grey && c.bitDepth == 2 ? first * 5 : first;
                ASSERT_NEAR(picture->GetPixelIndex(x, y), want, slack) << x << "," << y;
            }
        }
    if (c.type == Palette) {
        const TLogicalPalette& pal = picture->Palette();
        ASSERT_EQ(pal.EntryCount, 1 << c.bitDepth);
        for (int i = 0; i < pal.EntryCount; ++i) {
            EXPECT_EQ(pal.Entries[i].peRed, recipe.palette[size_t(i)].red);
            EXPECT_EQ(pal.Entries[i].peGreen, recipe.palette[size_t(i)].green);
            EXPECT_EQ(pal.Entries[i].peBlue, recipe.palette[size_t(i)].blue);
        }
    } else if (c.format != ifRgb24) {
        const TLogicalPalette& def = DefaultPalette(c.format);
        EXPECT_EQ(picture->Palette().EntryCount, def.EntryCount);
        EXPECT_EQ(0, std::memcmp(picture->Palette().Entries, def.Entries, sizeof(TPaletteEntry) * def.EntryCount));
    }
}

std::vector<FormatCase> formatCases()
{
    const FormatCase base[] = {
        {1, Grey, ifMonochrome, false},
        {1, Palette, ifMonochrome, false},
        {2, Grey, ifGrayscale16, false},
        {2, Palette, ifColor16, false},
        {4, Grey, ifGrayscale16, false},
        {4, Palette, ifColor16, false},
        {8, Grey, ifGrayscale256, false},
        {16, Grey, ifGrayscale256, false},
        {8, GreyAlpha, ifGrayscale256, false},
        {16, GreyAlpha, ifGrayscale256, false},
        {8, Rgb, ifRgb24, false},
        {16, Rgb, ifRgb24, false},
        {8, RgbAlpha, ifRgb24, false},
        {16, RgbAlpha, ifRgb24, false},
        {8, Palette, ifColor256, false},
    };
    std::vector<FormatCase> all;
    for (FormatCase c : base) {
        all.push_back(c);
        c.interlaced = true;
        all.push_back(c);
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(AllDepths, PngFormats, testing::ValuesIn(formatCases()), caseName);

TEST(PngGraphic, TwoBitGreyBecomesEveryFifthShade)
{
    PngRecipe recipe = basic(4, 1, 2, Grey);
    recipe.srgbIntent.reset();  // bit depth 2 gets no gamma correction either way
    recipe.rows = {{0, 1, 2, 3}};
    auto picture = decode(writePng(recipe));
    ASSERT_EQ(picture->ImageFormat(), ifGrayscale16);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(picture->GetPixelIndex(x, 0), x * 5);
    EXPECT_EQ(picture->GetPixelColor(1, 0), MakeColor(85, 85, 85));
    EXPECT_EQ(picture->GetPixelColor(3, 0), MakeColor(255, 255, 255));
}

TEST(PngGraphic, OneBitPaletteKeepsTheFilesTwoColours)
{
    PngRecipe recipe = basic(3, 2, 1, Palette);
    recipe.palette = {{255, 0, 0}, {0, 0, 255}};
    recipe.rows = {{0, 1, 0}, {1, 1, 0}};
    auto picture = decode(writePng(recipe));
    ASSERT_EQ(picture->ImageFormat(), ifMonochrome);
    EXPECT_EQ(picture->Palette().EntryCount, 2);
    EXPECT_EQ(picture->GetPixelColor(0, 0), MakeColor(255, 0, 0));
    EXPECT_EQ(picture->GetPixelColor(1, 0), MakeColor(0, 0, 255));
    EXPECT_EQ(picture->GetPixelColor(0, 1), MakeColor(0, 0, 255));
    EXPECT_EQ(picture->GetPixelColor(2, 1), MakeColor(255, 0, 0));
}

// ---------------------------------------------------------------------------
// Gamma, background, resolution.

TEST(PngGraphic, GammaCorrectionFollowsSrgbAndGama)
{
    auto midGrey = [](std::optional<int> srgb, std::optional<double> gamma, double* usedGamma) {
        PngRecipe recipe = basic(1, 1, 8, Rgb);
        recipe.srgbIntent = srgb;
        recipe.gamma = gamma;
        recipe.rows = {{128, 64, 200}};
        auto picture = decode(writePng(recipe));
        if (usedGamma)
            *usedGamma = picture->FileGamma;
        return picture->GetPixelColor(0, 0);
    };
    double used = 0;
    // Neither chunk: file gamma 0.5 against screen gamma 2.2 brightens mid-tones.
    const uint32_t corrected = midGrey(std::nullopt, std::nullopt, &used);
    EXPECT_DOUBLE_EQ(used, 0.5);
    auto expect = [](int v) { return int(std::lround(255 * std::pow(v / 255.0, 1 / (0.5 * 2.2)))); };
    EXPECT_NEAR(int(corrected >> 16), expect(128), 1);
    EXPECT_NEAR(int((corrected >> 8) & 255), expect(64), 1);
    EXPECT_NEAR(int(corrected & 255), expect(200), 1);
    EXPECT_GT(int(corrected >> 16), 128);
    // A gAMA of 1/2.2 matches the screen: nothing changes.
    EXPECT_EQ(midGrey(std::nullopt, 0.45455, &used), MakeColor(128, 64, 200));
    EXPECT_NEAR(used, 0.45455, 1e-5);
    // sRGB: no correction at all.
    EXPECT_EQ(midGrey(0, std::nullopt, nullptr), MakeColor(128, 64, 200));
}

TEST(PngGraphic, TransparencyIsFlattenedOntoBlackOrTheFilesBackground)
{
    PngRecipe recipe = basic(2, 1, 16, RgbAlpha);
    recipe.rows = {{65535, 32768, 0, 65535, /* transparent: */ 1000, 2000, 3000, 0}};
    auto plain = decode(writePng(recipe));
    ASSERT_EQ(plain->ImageFormat(), ifRgb24);
    EXPECT_EQ(plain->GetPixelColor(0, 0), MakeColor(255, 128, 0));
    EXPECT_EQ(plain->GetPixelColor(1, 0), 0u);

    recipe.background = Background{0, 65535, 0, 32896, 0};
    auto withBackground = decode(writePng(recipe));
    EXPECT_EQ(withBackground->GetPixelColor(0, 0), MakeColor(255, 128, 0));
    EXPECT_EQ(withBackground->GetPixelColor(1, 0), MakeColor(255, 0, 128));

    // The ignore flag composites onto BackgroundColor instead.
    auto ignoring = std::make_unique<TPngGraphic>();
    ignoring->IgnoreFileBackground = true;
    ignoring->BackgroundColor = MakeColor(10, 20, 30);
    TMemoryStream stream(writePng(recipe));
    ignoring->ReadImage(stream, 1);
    EXPECT_EQ(ignoring->GetPixelColor(1, 0), MakeColor(10, 20, 30));
}

TEST(PngGraphic, TransparentGreyAndPaletteEntriesBecomeBlack)
{
    PngRecipe grey = basic(3, 1, 8, Grey);
    grey.rows = {{10, 77, 200}};
    grey.transparentGrey = 77;
    auto g = decode(writePng(grey));
    EXPECT_EQ(g->GetPixelIndex(0, 0), 10);
    EXPECT_EQ(g->GetPixelIndex(1, 0), 0);
    EXPECT_EQ(g->GetPixelIndex(2, 0), 200);

    PngRecipe pal = basic(3, 1, 8, Palette);
    pal.palette = {{200, 10, 10}, {10, 200, 10}, {10, 10, 200}};
    pal.paletteAlpha = {255, 0, 255};
    pal.rows = {{0, 1, 2}};
    auto p = decode(writePng(pal));
    ASSERT_EQ(p->ImageFormat(), ifColor256);
    EXPECT_EQ(p->GetPixelColor(0, 0), MakeColor(200, 10, 10));
    EXPECT_EQ(p->GetPixelColor(1, 0), 0u);
    EXPECT_EQ(p->GetPixelColor(2, 0), MakeColor(10, 10, 200));
}

TEST(PngGraphic, ResolutionComesFromPhysInPixelsPerMetre)
{
    ScreenDpi screen(120);
    struct Case {
        std::optional<Phys> phys;
        int x, y;
    } cases[] = {
        {Phys{3780, 2835, 1}, 96, 72},
        {Phys{3780, 3780, 0}, 120, 120},          // unit unknown: the display's
        {std::nullopt, 120, 120},                 // no chunk: the display's
        {Phys{4000000000u, 11811, 1}, 120, 300},  // beyond what a resolution can hold
    };
    for (const Case& c : cases) {
        PngRecipe recipe = basic(2, 2, 8, Grey);
        recipe.rows = patternRows(2, 2, 1, 8);
        recipe.phys = c.phys;
        auto picture = decode(writePng(recipe));
        EXPECT_EQ(picture->ResolutionX(), c.x);
        EXPECT_EQ(picture->ResolutionY(), c.y);
    }
}

// ---------------------------------------------------------------------------
// Failures and warnings.

TEST(PngGraphic, SignatureMismatchIsRefused)
{
    EXPECT_EQ(failureOf<EPNGError>({}), "PNG file is not valid or corrupted");
    EXPECT_EQ(failureOf<EPNGError>({0x89, 'P', 'N', 'G'}), "PNG file is not valid or corrupted");
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
    EXPECT_EQ(failureOf<EPNGError>(gif), "PNG file is not valid or corrupted");
}

TEST(PngGraphic, FileCutShortFailsWithLibpngsReadError)
{
    PngRecipe recipe = basic(17, 9, 8, Rgb);
    recipe.rows = patternRows(17, 9, 3, 8);
    const std::vector<uint8_t> whole = writePng(recipe);
    for (size_t keep : {size_t(8), size_t(20), size_t(40), whole.size() / 2, whole.size() - 13}) {
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(keep));
        EXPECT_EQ(failureOf<EPNGError>(cut), "Read Error") << keep;
    }
}

TEST(PngGraphic, CorruptCriticalChunkFailsWithLibpngsMessage)
{
    PngRecipe recipe = basic(17, 9, 8, Grey);
    recipe.rows = patternRows(17, 9, 1, 8);
    std::vector<uint8_t> bytes = writePng(recipe);
    corruptChunkCrc(bytes, "IDAT");
    EXPECT_EQ(failureOf<EPNGError>(bytes), "IDAT: CRC error");
}

TEST(PngGraphic, StreamErrorsPassThroughUnchanged)
{
    PngRecipe recipe = basic(17, 9, 8, Grey);
    recipe.rows = patternRows(17, 9, 1, 8);
    const std::vector<uint8_t> bytes = writePng(recipe);
    TPngGraphic picture;
    BrokenStream stream(bytes, int64_t(bytes.size()) - 20);
    EXPECT_THROW(picture.ReadImage(stream, 1), EReadError);
}

TEST(PngGraphic, DamagedAncillaryChunkWarnsAndStillLoads)
{
    PngRecipe recipe = basic(5, 3, 8, Grey);
    recipe.rows = patternRows(5, 3, 1, 8);
    recipe.text = "hello";
    std::vector<uint8_t> bytes = writePng(recipe);
    corruptChunkCrc(bytes, "tEXt");
    CollectWarnings warnings;
    auto picture = decode(bytes);
    ASSERT_EQ(warnings.captions.size(), 1u);
    EXPECT_EQ(warnings.captions[0], "PNG Error");
    EXPECT_EQ(warnings.texts[0], "tEXt: CRC error");
    EXPECT_EQ(picture->GetPixelIndex(4, 2), recipe.rows[2][4]);
}

TEST(PngGraphic, ThrowingWarningHookDoesNotUnwindThroughLibpng)
{
    PngRecipe recipe = basic(5, 3, 8, Grey);
    recipe.rows = patternRows(5, 3, 1, 8);
    recipe.text = "hello";
    std::vector<uint8_t> bytes = writePng(recipe);
    corruptChunkCrc(bytes, "tEXt");
    setWarningHook([](const std::string&, const std::string&) { throw Exception("box failed"); });
    std::unique_ptr<TPngGraphic> picture;
    EXPECT_NO_THROW(picture = decode(bytes));
    setWarningHook(nullptr);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Width(), 5);
}

TEST(PngGraphic, HugeDimensionsAreRefusedBeforeAllocating)
{
    PngRecipe recipe = basic(4, 4, 8, Rgb);
    recipe.rows = patternRows(4, 4, 3, 8);
    std::vector<uint8_t> bytes = writePng(recipe);
    setImageSize(bytes, 1000000, 1000000);
    EXPECT_EQ(failureOf<ETavrinError>(bytes), "Image is too large");
    setImageSize(bytes, 2000000, 10);  // beyond libpng's own limit
    CollectWarnings warnings;
    EXPECT_EQ(failureOf<EPNGError>(bytes), "Invalid IHDR data");
    ASSERT_EQ(warnings.texts.size(), 1u);
    EXPECT_EQ(warnings.texts[0], "Image width exceeds user limit in IHDR");
}

TEST(PngGraphic, AncillaryChunkClaimingGigabytesIsNotAllocated)
{
    PngRecipe recipe = basic(9, 3, 8, Grey);
    recipe.rows = patternRows(9, 3, 1, 8);
    const std::vector<uint8_t> png = writePng(recipe);
    // Signature and IHDR, then a tEXt chunk whose length says 1.8 GB but
    // whose data ends after a few bytes.
    std::vector<uint8_t> bytes(png.begin(), png.begin() + 33);
    const uint8_t header[] = {0x6F, 0x00, 0x00, 0x09, 't', 'E', 'X', 't', 'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
    bytes.insert(bytes.end(), std::begin(header), std::end(header));
    CollectWarnings warnings;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(failureOf<EPNGError>(bytes).rfind("wrong class", 0), std::string::npos);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "kilobytes";
    ASSERT_FALSE(warnings.texts.empty());
    EXPECT_EQ(warnings.texts[0], "tEXt: chunk data is too large");
}

TEST(PngGraphic, ReadsFromTheStreamsPosition)
{
    PngRecipe recipe = basic(3, 2, 8, Grey);
    recipe.rows = {{1, 2, 3}, {4, 5, 6}};
    std::vector<uint8_t> bytes = {'j', 'u', 'n', 'k'};
    const std::vector<uint8_t> png = writePng(recipe);
    bytes.insert(bytes.end(), png.begin(), png.end());
    TMemoryStream stream(bytes);
    stream.SetPosition(4);
    TPngGraphic picture;
    picture.ReadImage(stream, 1);
    EXPECT_EQ(picture.GetPixelIndex(2, 1), 6);
}

}  // namespace
