// SPDX-License-Identifier: GPL-2.0-or-later
// A sectioned dictionary held in an archive: read under the editor's lock,
// written back as its entry's bytes in one transaction (in place where it
// fits, moved where it grows), the bytes after the dictionary kept, and an
// entry that no longer is what was read refused.
#include "texture/archive_dictionary.h"

#include "formats/archive_writer.h"
#include "formats/dictionary_edit.h"
#include "formats/sectioned_dictionary_writer.h"
#include "formats/texture_dictionary_writer.h"
#include "support/archive_builder.h"
#include "support/texel_cases.h"

#include <gtest/gtest.h>

using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

std::vector<uint8_t> smallDictionary()
{
    SectionedDictionary d;
    d.libraryVersion = 0x1803FFFF;
    d.textures.push_back(texel_cases::mipTexture("t", TexelFormat::Rgb565, 8, 8, 1));
    return buildSectionedDictionary(d);
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& b, int64_t from, int64_t to)
{
    return std::vector<uint8_t>(b.begin() + from, b.begin() + to);
}

ChangeLabel label()
{
    ChangeLabel l;
    l.description = "test edit";
    return l;
}

}  // namespace

TEST(ArchiveDictionary, AnEntryIsWrittenInPlaceWhereItFitsWithWhatFollowsItsDictionary)
{
    ScratchDir dir{"qx_archive_dictionary"};
    const std::vector<uint8_t> dict = smallDictionary();
    // The entry's bytes after the dictionary: a few that are not zero, then
    // zeros up to the sector's end.
    std::vector<uint8_t> entry = dict;
    entry.insert(entry.end(), {0, 7, 0, 5, 0, 0});
    writeArchive(dir.file("m.dir"), dir.file("m.img"), {{"a.dff", std::vector<uint8_t>(100, 1)}, {"d.txd", entry}});
    const std::vector<uint8_t> img = readBytes(dir.file("m.img"));
    {
        ArchiveEditor editor(dir.file("m.dir"));
        const DirectoryEntry e = editor.contents().entries[1];
        EXPECT_EQ(readEntryBytes(editor, e), slice(img, 2048, 4096));
        HeldDictionary held = readHeldDictionary(editor, e);
        EXPECT_EQ(held.trailing, (std::vector<uint8_t>{0, 7, 0, 5}));
        EXPECT_EQ(heldDictionaryBytes(held).size(), dict.size() + 4);
        renameTexture(held.tree, 0, "u");
        const DirectoryEntry after = writeHeldDictionary(editor, held, label());
        EXPECT_EQ(after.offset, e.offset);
        EXPECT_EQ(after.size, 2048);
    }
    std::vector<uint8_t> want = img;
    want[2048 + 28 + 32] = 'u';
    EXPECT_EQ(readBytes(dir.file("m.img")), want);
}

TEST(ArchiveDictionary, ADictionaryThatGrowsMovesAfterTheDataAndAStandaloneFileChangesLength)
{
    ScratchDir dir{"qx_archive_dictionary"};
    const std::vector<uint8_t> dict = smallDictionary();
    writeArchive(dir.file("m.dir"), dir.file("m.img"), {{"d.txd", dict}, {"z.dff", std::vector<uint8_t>(100, 2)}});
    std::vector<uint8_t> txd = dict;
    txd.insert(txd.end(), {0, 0, 3, 0});
    writeBytes(dir.file("s.txd"), txd);
    TextureContent big;
    big.layout = {TexelFormat::Rgb565, false, 64, 64, 1};
    big.data.assign(4 + 64 * 64 * 2, 0x44);
    big.data[0] = 0;
    big.data[1] = 0x20;  // 8192
    big.data[2] = big.data[3] = 0;

    for (const char* archive : {"m.dir", "s.txd"}) {
        SCOPED_TRACE(archive);
        std::vector<uint8_t> written;
        {
            ArchiveEditor editor(dir.file(archive));
            const DirectoryEntry e = editor.contents().entries[0];
            HeldDictionary held = readHeldDictionary(editor, e);
            replaceTextureContent(held.tree, 0, big);
            written = heldDictionaryBytes(held);
            const DirectoryEntry after = writeHeldDictionary(editor, held, label());
            if (editor.contents().standalone) {
                EXPECT_EQ(after.offset, 0);
                EXPECT_EQ(after.size, int64_t(written.size()));
            } else {
                EXPECT_EQ(after.offset, 4096);  // after "z.dff"
                EXPECT_EQ(after.size, (int64_t(written.size()) + 2047) / 2048 * 2048);
            }
        }
        const std::vector<uint8_t> now = readBytes(dir.file(archive == std::string("m.dir") ? "m.img" : "s.txd"));
        if (archive == std::string("s.txd")) {
            EXPECT_EQ(now, written);
            EXPECT_EQ(slice(now, int64_t(now.size()) - 4, int64_t(now.size())), (std::vector<uint8_t>{0, 0, 3, 0}));
        } else {
            EXPECT_EQ(slice(now, 4096, 4096 + int64_t(written.size())), written);
            EXPECT_EQ(int64_t(now.size()), (4096 + int64_t(written.size()) + 2047) / 2048 * 2048);
        }
        EXPECT_EQ(parseDictionaryTree(written).texture(0).width(), 64);
    }
}

TEST(ArchiveDictionary, WhatCannotBeRewrittenIsRefusedAndNothingWritten)
{
    ScratchDir dir{"qx_archive_dictionary"};
    TextureDictionary plain;
    plain.textures.push_back(makeTexture32("p", "", 2, 2, std::vector<Rgba>(4)));
    writeArchive(dir.file("m.dir"), dir.file("m.img"),
                 {{"plain.txd", buildTextureDictionary(plain)}, {"d.txd", smallDictionary()}});
    const std::vector<uint8_t> img = readBytes(dir.file("m.img")), dirBytes = readBytes(dir.file("m.dir"));
    {
        ArchiveEditor editor(dir.file("m.dir"));
        EXPECT_THROW(readHeldDictionary(editor, editor.contents().entries[0]), EDictionaryError);
        // An entry that is no longer what the archive lists.
        HeldDictionary held = readHeldDictionary(editor, editor.contents().entries[1]);
        held.entry.offset += 2048;
        try {
            writeHeldDictionary(editor, held, label());
            ADD_FAILURE() << "written";
        } catch (const EDictionaryError& e) {
            EXPECT_NE(e.message().find("no longer lists the entry 'd.txd'"), std::string::npos) << e.message();
        }
    }
    EXPECT_EQ(readBytes(dir.file("m.img")), img);
    EXPECT_EQ(readBytes(dir.file("m.dir")), dirBytes);
}
