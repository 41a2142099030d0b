// SPDX-License-Identifier: GPL-2.0-or-later
// The record filters in front of libwmf and libemf2svg: sound records (and
// bitmaps) pass and are drawn, records that claim more than they hold are
// left out, object numbers stay right, and the inputs that made the
// converters read past their buffers or run for minutes are harmless.
#include "imaging/readers/metafile_graphic.h"
#include "platform/environment.h"
#include "support/bmp_builder.h"
#include "support/metafile_builder.h"
#include "tests/imaging/readers/reader_test_util.h"

#include <gtest/gtest.h>

namespace {

using metafile_fixture::EmfHeader;
using reader_test::readPicture;

constexpr uint32_t kWhite = 0xFFFFFF;

// Function numbers of the records of a filtered Windows metafile.
std::vector<uint16_t> wmfFunctions(const std::vector<uint8_t>& wmf)
{
    std::vector<uint16_t> functions;
    for (size_t pos = 22 + 18; pos + 6 <= wmf.size();) {
        const uint32_t words = uint32_t(wmf[pos] | (wmf[pos + 1] << 8) | (wmf[pos + 2] << 16) | (wmf[pos + 3] << 24));
        functions.push_back(uint16_t(wmf[pos + 4] | (wmf[pos + 5] << 8)));
        if (words < 3)
            break;
        pos += size_t(words) * 2;
    }
    return functions;
}

// Types of the records of a filtered enhanced metafile.
std::vector<uint32_t> emfTypes(const std::vector<uint8_t>& emf)
{
    std::vector<uint32_t> types;
    for (size_t pos = 0; pos + 8 <= emf.size();) {
        auto at = [&](size_t i) {
            return uint32_t(emf[i] | (emf[i + 1] << 8) | (emf[i + 2] << 16) | (emf[i + 3] << 24));
        };
        types.push_back(at(pos));
        if (at(pos + 4) < 8)
            break;
        pos += at(pos + 4);
    }
    return types;
}

std::vector<uint8_t> filteredWmf(const std::vector<uint8_t>& wmf)
{
    std::vector<uint8_t> out;
    EXPECT_TRUE(FilterPlaceableMetafile(wmf.data(), wmf.size(), out));
    return out;
}

std::vector<uint8_t> filteredEmf(const std::vector<uint8_t>& emf)
{
    std::vector<uint8_t> out;
    EXPECT_TRUE(FilterEnhancedMetafile(emf.data(), emf.size(), out));
    return out;
}

template <typename T>
bool contains(const std::vector<T>& v, T x)
{
    return std::find(v.begin(), v.end(), x) != v.end();
}

TEST(MetafileFilter, DibChecks)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> dib;
        bool sound;
    };
    std::vector<Case> cases = {
        {"24-bit", metafile_fixture::packedDib24(3, 2, 0xFF0000), true},
        {"top-down", metafile_fixture::packedDib24(3, -2, 0xFF0000), true},
        {"pixels cut short", metafile_fixture::packedDib24(3, 2, 0xFF0000, 23), false},
        {"width 0", metafile_fixture::packedDib24(0, 2, 0xFF0000, 8), false},
        {"height 0", metafile_fixture::packedDib24(3, 0, 0xFF0000, 8), false},
        {"huge, no pixels", metafile_fixture::packedDib24(5730560, 2, 0, 16), false},
    };
    auto patched = [](std::vector<uint8_t> dib, size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            dib[at + size_t(i)] = uint8_t(v >> (8 * i));
        return dib;
    };
    const std::vector<uint8_t> good = metafile_fixture::packedDib24(3, 2, 0xFF0000);
    cases.push_back({"core header", patched(good, 0, 12, 4), false});
    cases.push_back({"2 bits", patched(good, 14, 2, 2), false});
    cases.push_back({"two planes", patched(good, 12, 2, 2), false});
    cases.push_back({"run-length", patched(good, 16, 1, 4), false});
    cases.push_back({"colours used with no table", patched(good, 32, 3, 4), false});
    for (const Case& c : cases) {
        int64_t w = 0, h = 0;
        EXPECT_EQ(MetafilePackedDibIsSound(c.dib.data(), c.dib.size(), &w, &h), c.sound) << c.what;
    }
    int64_t w = 0, h = 0;
    const auto topDown = metafile_fixture::packedDib24(3, -2, 0);
    ASSERT_TRUE(MetafilePackedDibIsSound(topDown.data(), topDown.size(), &w, &h));
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    // An 8-bit bitmap whose colour table is longer than 2^bits allows.
    std::vector<uint8_t> indexed = patched(good, 14, 8, 2);
    indexed = patched(indexed, 32, 300, 4);
    EXPECT_FALSE(MetafileDibIsSound(indexed.data(), 40 + 300 * 4, 1000, nullptr, nullptr));
}

TEST(MetafileFilter, EnhancedBitmapsAreDrawnWhenSoundAndLeftOutOtherwise)
{
    // A red 2 x 2 bitmap stretched over the left half.
    const auto dib = metafile_fixture::packedDib24(2, 2, 0xFF0000);
    const auto emf =
        metafile_fixture::enhancedMetafile(EmfHeader{}, metafile_fixture::emfStretchDibits(0, 0, 50, 100, 2, 2, dib));
    auto g = readPicture<TMetaFileGraphic>(emf);
    EXPECT_EQ(g->GetPixelColor(20, 50), 0xFF0000u);
    EXPECT_EQ(g->GetPixelColor(80, 50), kWhite);

    // The same record with pixel data cut short, or a source larger than the
    // bitmap, is not passed on.
    auto shortDib = metafile_fixture::packedDib24(2, 2, 0xFF0000, 10);
    auto bad = metafile_fixture::enhancedMetafile(EmfHeader{},
                                                  metafile_fixture::emfStretchDibits(0, 0, 50, 100, 2, 2, shortDib));
    EXPECT_FALSE(contains(emfTypes(filteredEmf(bad)), 81u));
    EXPECT_EQ(readPicture<TMetaFileGraphic>(bad)->GetPixelColor(20, 50), kWhite);
    bad = metafile_fixture::enhancedMetafile(EmfHeader{}, metafile_fixture::emfStretchDibits(0, 0, 50, 100, 3, 2, dib));
    EXPECT_FALSE(contains(emfTypes(filteredEmf(bad)), 81u));
    EXPECT_TRUE(contains(emfTypes(filteredEmf(emf)), 81u));
}

TEST(MetafileFilter, EnhancedRecordsThatClaimTooMuchAreLeftOut)
{
    using metafile_fixture::emfRecord;
    std::vector<uint8_t> records;
    auto add = [&](const std::vector<uint8_t>& r) { records.insert(records.end(), r.begin(), r.end()); };
    add(emfRecord(86, {0, 0, 10, 10, 1000, 0x00050005}));        // Polygon16: 1000 points, one given
    add(emfRecord(91, {0, 0, 10, 10, 2, 3, 2, 2, 0, 0, 0, 0}));  // PolyPolygon16: counts add up to more than 3
    add(emfRecord(39, {7, 0, 0, 0}));                            // CreateBrushIndirect: handle 7 of 2
    add(emfRecord(37, {int32_t(0x80000040)}));                   // SelectObject: no such stock object
    add(emfRecord(70, {4, 0x2B464D45}));                         // a comment (EMF+ data)
    add(emfRecord(84, {0, 0, 10, 10, 1, 0, 0, 0, 0, 500, 76, 0, 0, 0, 0, 0, 76}));  // text: 500 characters, none given
    add(emfRecord(43, {0, 0, 5, 5}));                                               // Rectangle: kept
    const auto emf = metafile_fixture::enhancedMetafile(EmfHeader{}, records);
    const std::vector<uint32_t> types = emfTypes(filteredEmf(emf));
    EXPECT_EQ(types, (std::vector<uint32_t>{1, 43, 14}));
    readPicture<TMetaFileGraphic>(emf);  // and nothing goes wrong drawing it
}

TEST(MetafileFilter, EnhancedHeaderDescriptionIsNotPassedOn)
{
    // Found by fuzzing: a description offset past the end of the file made
    // the converter read beyond its buffer.
    auto emf =
        metafile_fixture::enhancedMetafile(EmfHeader{}, metafile_fixture::emfFillRecords({{0, 0, 50, 100, 0, 0, 255}}));
    le_bytes::set32(emf, 60, 0);
    le_bytes::set32(emf, 64, uint32_t(emf.size() - 3));
    const auto out = filteredEmf(emf);
    EXPECT_EQ(out[60] | out[61] | out[62] | out[63] | out[64] | out[65] | out[66] | out[67], 0);
    auto g = readPicture<TMetaFileGraphic>(emf);
    EXPECT_EQ(g->GetPixelColor(20, 50), 0x0000FFu);
    // A broken chain of records ends the copy; a header that claims more than the file is refused.
    std::vector<uint8_t> broken = emf;
    le_bytes::set32(broken, 88 + 4, 6);
    EXPECT_EQ(emfTypes(filteredEmf(broken)), (std::vector<uint32_t>{1, 14}));
    std::vector<uint8_t> out2;
    le_bytes::set32(broken, 48, uint32_t(broken.size() + 4));
    EXPECT_FALSE(FilterEnhancedMetafile(broken.data(), broken.size(), out2));
}

TEST(MetafileFilter, WindowsBitmapsAreDrawnWhenSoundAndLeftOutOtherwise)
{
    setScreenDpi(96, 96);
    const auto dib = metafile_fixture::packedDib24(2, 2, 0x00FF00);
    auto records = metafile_fixture::wmfFillRecords(0, 0, 100, 100, {});
    const auto blit = metafile_fixture::wmfStretchDib(0, 0, 50, 100, 2, 2, dib);
    records.insert(records.end(), blit.begin(), blit.end());
    auto g = readPicture<TMetaFileGraphic>(metafile_fixture::placeableWmf(0, 0, 100, 100, 96, records));
    EXPECT_EQ(g->GetPixelColor(20, 50), 0x00FF00u);
    EXPECT_EQ(g->GetPixelColor(80, 50), kWhite);

    // Found by fuzzing: a bitmap claiming 5730560 x 2 pixels in 16 bytes kept
    // libwmf busy for minutes. It is left out now.
    auto slow = metafile_fixture::wmfFillRecords(0, 0, 100, 100, {});
    const auto huge =
        metafile_fixture::wmfStretchDib(0, 0, 50, 100, 2, 2, metafile_fixture::packedDib24(5730560, 2, 0, 16));
    slow.insert(slow.end(), huge.begin(), huge.end());
    const auto wmf = metafile_fixture::placeableWmf(0, 0, 100, 100, 96, slow);
    EXPECT_FALSE(contains(wmfFunctions(filteredWmf(wmf)), uint16_t(0x0F43)));
    EXPECT_EQ(readPicture<TMetaFileGraphic>(wmf)->GetPixelColor(20, 50), kWhite);
}

TEST(MetafileFilter, WindowsRecordsThatClaimTooMuchAreLeftOutAndObjectsKeepTheirNumbers)
{
    setScreenDpi(96, 96);
    using metafile_fixture::wmfRecord;
    std::vector<uint8_t> records = metafile_fixture::wmfFillRecords(0, 0, 100, 100, {});  // pen: object 0
    auto add = [&](const std::vector<uint8_t>& r) { records.insert(records.end(), r.begin(), r.end()); };
    add(wmfRecord(0x0324, {500, 1, 1}));                  // Polygon: 500 points, one given
    add(wmfRecord(0x0538, {2, 3, 3, 0, 0, 1, 1}));        // PolyPolygon: 6 points, 2 given
    add(wmfRecord(0x0626, {15, 2, 0}));                   // Escape: not passed on
    add(wmfRecord(0x06FF, {0, 0, 0, 0, 0, 0, 0, 0, 0}));  // CreateRegion: object 1, replaced
    add(wmfRecord(0x02FC, {0, 0x00FF, 0, 0}));            // CreateBrushIndirect red: object 2
    add(wmfRecord(0x012D, {2}));                          // SelectObject 2
    add(wmfRecord(0x041B, {100, 50, 0, 0}));              // Rectangle over the left half
    const auto wmf = metafile_fixture::placeableWmf(0, 0, 100, 100, 96, records);
    const std::vector<uint16_t> functions = wmfFunctions(filteredWmf(wmf));
    EXPECT_FALSE(contains(functions, uint16_t(0x0324)));
    EXPECT_FALSE(contains(functions, uint16_t(0x0538)));
    EXPECT_FALSE(contains(functions, uint16_t(0x0626)));
    EXPECT_FALSE(contains(functions, uint16_t(0x06FF)));
    EXPECT_EQ(std::count(functions.begin(), functions.end(), uint16_t(0x02FA)), 2);  // the pen and the stand-in
    EXPECT_EQ(functions.back(), 0);
    auto g = readPicture<TMetaFileGraphic>(wmf);
    EXPECT_EQ(g->GetPixelColor(20, 50), 0xFF0000u);  // the brush is still object 2
    EXPECT_EQ(g->GetPixelColor(80, 50), kWhite);
}

TEST(MetafileFilter, WindowsFontNamesAlwaysEnd)
{
    using metafile_fixture::wmfRecord;
    std::vector<int16_t> font(9, 0);
    font[0] = 12;  // height
    for (int i = 0; i < 40; ++i)
        font.push_back(int16_t(0x4141));  // a face name of 80 'A's, no end
    const auto records = wmfRecord(0x02FB, font);
    const auto out = filteredWmf(metafile_fixture::placeableWmf(0, 0, 10, 10, 96, records));
    ASSERT_EQ(wmfFunctions(out).front(), 0x02FB);
    const size_t params = 22 + 18 + 6;
    EXPECT_EQ(out[22 + 18], 3 + 25);  // 50 bytes of parameters
    EXPECT_EQ(out[params + 18], 'A');
    EXPECT_EQ(out[params + 18 + 31], 0);
    // Shorter than the fixed part: an empty object stands in.
    const auto cut = filteredWmf(metafile_fixture::placeableWmf(0, 0, 10, 10, 96, wmfRecord(0x02FB, {12, 0, 0})));
    EXPECT_EQ(wmfFunctions(cut).front(), 0x02FA);
    // A metafile header of another size is refused.
    auto odd = metafile_fixture::placeableWmf(0, 0, 10, 10, 96, {});
    le_bytes::set16(odd, 22 + 2, 10);
    std::vector<uint8_t> none;
    EXPECT_FALSE(FilterPlaceableMetafile(odd.data(), odd.size(), none));
}

}  // namespace
