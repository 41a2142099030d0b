// SPDX-License-Identifier: GPL-2.0-or-later
// The two tables' home: filling them from an archive and a dictionary
// listing, and reading the current texture row back as the TextureRef the
// listing's own row gives.
#include "catalog/entry_table.h"
#include "catalog/texture_table.h"

#include "formats/sectioned_dictionary_writer.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"
#include "tables/record_table.h"

#include <gtest/gtest.h>

namespace {

TextureListing listingOf(const std::vector<uint8_t>& file)
{
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    return readTextureDictionary(s, 0, s.Size());
}

void expectSameRef(const TextureRef& a, const TextureRef& b)
{
    EXPECT_EQ(a.present, b.present);
    EXPECT_EQ(a.hasData, b.hasData);
    EXPECT_EQ(a.imagePos, b.imagePos);
    EXPECT_EQ(a.paletted, b.paletted);
    EXPECT_EQ(a.bits, b.bits);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.sectioned && a.hasData, b.sectioned && b.hasData);
    EXPECT_EQ(a.layout.format, b.layout.format);
    EXPECT_EQ(a.layout.dxt1Alpha, b.layout.dxt1Alpha);
    if (a.layout.format != TexelFormat::Unknown) {
        EXPECT_EQ(a.layout.width, b.layout.width);
        EXPECT_EQ(a.layout.height, b.layout.height);
        EXPECT_EQ(a.layout.levels, b.layout.levels);
    }
}

}  // namespace

TEST(TextureTable, EveryRowReadsBackAsTheTextureRefOfItsListingRow)
{
    // Every layout (DXT1 with and without alpha), a texture with mip levels,
    // one the reader does not read, and a plain dictionary's three kinds.
    SectionedDictionary d;
    for (const auto& c : texel_cases::allCases())
        d.textures.push_back(texel_cases::textureOf(c));
    d.textures.push_back(texel_cases::mipTexture("mips", TexelFormat::Dxt5, 16, 8, 4));
    d.textures.push_back(texel_cases::mipTexture("cube", TexelFormat::Rgb565, 4, 4, 1));
    d.textures.back().compressionOrFlags = 0x02;
    const auto sectioned = listingOf(buildSectionedDictionary(d));
    const auto plain = listingOf(buildTextureDictionary(archive_fixture::threeKindsDictionary()));

    for (const TextureListing* listing : {&sectioned, &plain}) {
        auto table = makeTextureTable();
        fillTextureTable(*table, *listing, 7);
        ASSERT_EQ(table->RowCount(), int(listing->rows.size()));
        for (size_t i = 0; i < listing->rows.size(); ++i) {
            const TextureRow& row = listing->rows[i];
            SCOPED_TRACE(row.name);
            table->Locate(TextureField::kPos, row.pos);
            expectSameRef(currentTextureRef(*table), textureRefOf(row));
            EXPECT_EQ(table->FieldByName(TextureField::kDirId).AsInteger(), 7);
            EXPECT_EQ(table->FieldByName(TextureField::kType).AsString(), row.type);
            EXPECT_EQ(table->FieldByName(TextureField::kType).IsNull(), !row.hasData);
        }
    }
    auto empty = makeTextureTable();
    EXPECT_FALSE(currentTextureRef(*empty).present);
}

TEST(EntryTable, FillsFromAnArchiveAndReadsTheCurrentEntryBack)
{
    ArchiveContents archive;
    archive.entries = {{2, "b.txd", 4096, 2048}, {1, "a.dff", 2048, 0}, {3, "c", 0, 6144}};
    auto table = makeEntryTable();
    fillEntryTable(*table, archive);
    ASSERT_EQ(table->RowCount(), 3);
    table->First();  // sorted on Pos: the directory's order
    const DirectoryEntry first = currentEntry(*table);
    EXPECT_EQ(first.pos, 1);
    EXPECT_EQ(first.name, "a.dff");
    table->Next();
    const DirectoryEntry second = currentEntry(*table);
    EXPECT_EQ(second.name, "b.txd");
    EXPECT_EQ(second.size, 4096);
    EXPECT_EQ(second.offset, 2048);
    auto empty = makeEntryTable();
    EXPECT_EQ(currentEntry(*empty).name, "");
}
