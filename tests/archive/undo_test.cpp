// SPDX-License-Identifier: GPL-2.0-or-later
// Undo and redo of archive changes: the bytes come back exactly, a change
// made by another program since is never undone over, what is kept is
// bounded, and a new change drops what could have been redone.
#include "archive/undo.h"

#include "archive/archive.h"
#include "archive/entry_edits.h"
#include "formats/archive_writer.h"
#include "support/archive_builder.h"
#include "support/memory_fs.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using archive_fixture::noiseBytes;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

class Undo : public testing::Test {
protected:
    void SetUp() override
    {
        writeArchive(path, img, {{"a.dff", noiseBytes(3000, 1)}, {"b.dff", noiseBytes(100, 2)}});
        writeBytes(dir.file("n.dff"), noiseBytes(5000, 3));
    }
    std::pair<std::vector<uint8_t>, std::vector<uint8_t>> files() const { return {readBytes(path), readBytes(img)}; }
    ScratchDir dir{"qx_undo"};
    std::string path = dir.file("u.dir"), img = dir.file("u.img");
};

}  // namespace

TEST_F(Undo, AnUndoneChangeLeavesEveryByteAsBeforeAndRedoMakesItAgain)
{
    const auto before = files();
    {
        ArchiveEditor e(path);
        addEntries(e, {dir.file("n.dff")}, false);
    }
    const auto added = files();
    {
        ArchiveEditor e(path);
        removeEntries(e, {1});
    }
    const auto removed = files();
    ASSERT_NE(removed, added);
    {
        ArchiveEditor e(path);
        EXPECT_EQ(undoLastChange(e), "Undid removal of 1 entry");
    }
    EXPECT_EQ(files(), added);
    {
        ArchiveEditor e(path);
        EXPECT_EQ(undoLastChange(e), "Undid add of 1 entry");
    }
    EXPECT_EQ(files(), before);  // the data file is its old length again
    {
        ArchiveEditor e(path);
        EXPECT_EQ(redoLastChange(e), "Redid add of 1 entry");
    }
    EXPECT_EQ(files(), added);
    {
        ArchiveEditor e(path);
        EXPECT_EQ(redoLastChange(e), "Redid removal of 1 entry");
        EXPECT_THROW(redoLastChange(e), EUndoError);  // nothing more
    }
    EXPECT_EQ(files(), removed);
}

TEST_F(Undo, AnArchiveChangedByAnotherProgramSinceIsNotUndone)
{
    {
        ArchiveEditor e(path);
        renameEntry(e, e.contents().entries[0], "z.dff");
    }
    // Another program puts a byte of its own into the renamed record.
    std::vector<uint8_t> d = readBytes(path);
    d[9] = 'q';
    writeBytes(path, d);
    const auto changed = files();
    try {
        ArchiveEditor e(path);
        undoLastChange(e);
        ADD_FAILURE() << "undone over another program's change";
    } catch (const EUndoError& error) {
        EXPECT_NE(error.message().find("rename of a.dff to z.dff"), std::string::npos) << error.message();
    }
    EXPECT_EQ(files(), changed);
}

TEST_F(Undo, NothingToUndoIsSaid)
{
    ArchiveEditor e(path);
    EXPECT_THROW(undoLastChange(e), EUndoError);
    EXPECT_EQ(undoListText(e), "");
}

TEST_F(Undo, ANewChangeAfterAnUndoDropsWhatCouldHaveBeenRedone)
{
    ArchiveEditor e(path);
    renameEntry(e, e.contents().entries[0], "x.dff");
    undoLastChange(e);
    ASSERT_EQ(e.undoStore().redoable().size(), 1u);
    renameEntry(e, e.contents().entries[1], "y.dff");
    EXPECT_TRUE(e.undoStore().redoable().empty());
    EXPECT_THROW(redoLastChange(e), EUndoError);
    ASSERT_EQ(e.undoStore().undoable().size(), 1u);
    EXPECT_EQ(e.undoStore().undoable()[0].description, "rename of b.dff to y.dff");
}

TEST_F(Undo, TheNewestChangesAreKeptWithinTheLimits)
{
    ArchiveEditor e(path);
    e.undoStore().keptChanges = 5;
    for (int i = 0; i < 8; ++i)
        renameEntry(e, e.contents().entries[0], "n" + std::to_string(i));
    std::vector<UndoEntry> kept = e.undoStore().undoable();
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept[0].description, "rename of n6 to n7");
    EXPECT_EQ(kept[4].description, "rename of n2 to n3");
    const std::string list = undoListText(e);
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 5);
    EXPECT_NE(list.find("  rename of n6 to n7\n"), std::string::npos) << list;
    // A byte limit that holds two records.
    e.undoStore().keptBytes = kept[0].bytes * 2 + kept[0].bytes / 2;
    renameEntry(e, e.contents().entries[0], "last");
    kept = e.undoStore().undoable();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].description, "rename of n7 to last");
}

TEST(UndoStoreNext, TheNextChangeIsReadWithoutReadingTheOlderOnes)
{
    MemoryFs mem;
    mem.put("/u/n.img", buildVer2Archive({{"a.dff", noiseBytes(3000, 1)}}));
    ArchiveEditor e("/u/n.img", mem);
    UndoStore& store = e.undoStore();
    for (int i = 0; i < 4; ++i)
        renameEntry(e, e.contents().entries[0], "r" + std::to_string(i));
    // Two records of one group above them, as the batches of one run are kept.
    const std::vector<uint8_t> journal(40, 7);
    const RecordParts parts{{journal.data(), journal.size()}};
    store.recordChange("import of batch 1", "run-1", parts);
    store.recordChange("import of batch 2", "run-1", parts);
    ASSERT_EQ(store.undoable().size(), 6u);

    const auto reads = [&] {
        return std::count_if(mem.log.begin(), mem.log.end(),
                             [](const std::string& op) { return op.rfind("read ", 0) == 0; });
    };
    const auto before = reads();
    std::vector<UndoEntry> next = store.nextUndo();
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].description, "import of batch 2");
    EXPECT_EQ(next[1].description, "import of batch 1");
    // The group's two records and the one after it that ends the group.
    EXPECT_EQ(reads() - before, 3);
    EXPECT_TRUE(store.nextRedo().empty());

    // A change without a group is taken back alone.
    store.recordChange("rename of x to y", "", parts);
    next = store.nextUndo();
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].description, "rename of x to y");
}
