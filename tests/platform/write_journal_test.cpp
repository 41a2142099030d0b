// SPDX-License-Identifier: GPL-2.0-or-later
// The rollback journal of in-place writes: what the next open finds after a
// write cut off at any step, where the journal is kept, and a failure of
// each step of the write.
#include "platform/write_journal.h"

#include "platform/byte_order.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/journal_fixture.h"
#include "support/memory_journal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace fs = std::filesystem;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;
using journal_fixture::journalBytes;

namespace {

constexpr int64_t kOffset = 1000;
constexpr size_t kLength = 3000;

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 31 + seed + i / 251);
    return bytes;
}

// A data file of 8000 bytes whose bytes 1000..3999 an import replaces.
struct Fixture {
    ScratchDir dir{"qx_journal"};
    std::string data = dir.file("models.img");
    std::vector<uint8_t> before = pattern(8000, 1);
    std::vector<uint8_t> block = pattern(kLength, 99);
    std::vector<uint8_t> old{before.begin() + kOffset, before.begin() + kOffset + long(kLength)};
    std::vector<uint8_t> after = [this] {
        std::vector<uint8_t> a = before;
        std::copy(block.begin(), block.end(), a.begin() + kOffset);
        return a;
    }();
    std::string stateHome = dir.file("state");
    std::string previousState;
    bool hadState = false;

    Fixture()
    {
        writeBytes(data, before);
        if (const char* s = std::getenv("XDG_STATE_HOME")) {
            hadState = true;
            previousState = s;
        }
        ::setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
    }
    ~Fixture()
    {
        if (hadState)
            ::setenv("XDG_STATE_HOME", previousState.c_str(), 1);
        else
            ::unsetenv("XDG_STATE_HOME");
    }
    std::string beside() const { return data + ".quarnix-journal"; }
    std::string inState() const
    {
        struct stat st {};
        ::stat(data.c_str(), &st);
        return stateHome + "/quarnix/" + std::to_string(uint64_t(st.st_dev)) + "-" + std::to_string(uint64_t(st.st_ino))
               + ".quarnix-journal";
    }
    std::vector<uint8_t> torn() const
    {
        std::vector<uint8_t> t = before;
        std::copy(block.begin(), block.begin() + long(kLength / 3), t.begin() + kOffset);
        return t;
    }
};

// The bytes of a file, read without any lock (the writer holds its own).
std::vector<uint8_t> peek(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file stream whose steps can fail: the first write of the block stops
// short (`failWrites` counts how many writes fail so), Flush throws, or the
// block lands with one byte changed.
class FaultyFile : public TStream {
public:
    explicit FaultyFile(const std::string& path) : inner(path, FileMode::OpenReadWriteExclusive) {}
    int64_t Read(void* b, int64_t n) override { return inner.Read(b, n); }
    int64_t Seek(int64_t o, SeekOrigin from) override { return inner.Seek(o, from); }
    int64_t Size() override { return inner.Size(); }
    int64_t Write(const void* b, int64_t n) override
    {
        if (onFirstWrite && writes++ == 0)
            onFirstWrite();
        if (failWrites > 0) {
            --failWrites;
            return inner.Write(b, n / 2);
        }
        if (refuseWrites > 0) {
            --refuseWrites;
            return 0;
        }
        if (corrupt) {
            corrupt = false;
            std::vector<uint8_t> bad(static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + n);
            bad[size_t(n) / 2] ^= 0x40;
            return inner.Write(bad.data(), n);
        }
        return inner.Write(b, n);
    }
    void Flush() override
    {
        if (failFlushes > 0) {
            --failFlushes;
            throw EWriteError("Stream write error");
        }
        inner.Flush();
    }
    TFileStream inner;
    int failWrites = 0;    // writes that stop half-way
    int refuseWrites = 0;  // after those, writes that write nothing
    int failFlushes = 0;
    bool corrupt = false;
    int writes = 0;
    std::function<void()> onFirstWrite;
};

// A journal file whose write stops short or whose flush fails.
class FailingJournal : public TStream {
public:
    FailingJournal(const std::string& path, bool failWrite) : inner(path, FileMode::Create), failWrite_(failWrite) {}
    int64_t Read(void* b, int64_t n) override { return inner.Read(b, n); }
    int64_t Seek(int64_t o, SeekOrigin from) override { return inner.Seek(o, from); }
    int64_t Write(const void* b, int64_t n) override { return inner.Write(b, failWrite_ ? n / 2 : n); }
    void Flush() override
    {
        if (!failWrite_)
            throw EWriteError("Stream write error", "cannot flush the journal");
    }
    TFileStream inner;

private:
    bool failWrite_;
};

}  // namespace

TEST(WriteJournal, TheNextOpenFindsTheOldOrTheNewBytesWhereverTheWriteWasCutOff)
{
    struct Case {
        const char* name;
        bool inStateFolder;
        int fileState;      // 0 old, 1 torn, 2 new
        int journalDamage;  // 0 none, 1 cut short, 2 a byte changed
        bool restored;
        int expected;  // 0 old, 2 new
    };
    for (const Case& c : {Case{"cut after the first new bytes", false, 1, 0, true, 0},
                          Case{"cut after the new bytes, before the journal went", false, 2, 0, false, 2},
                          Case{"cut before the first new byte", false, 0, 0, false, 0},
                          Case{"cut while the journal was written", false, 0, 1, false, 0},
                          Case{"a damaged journal", false, 0, 2, false, 0},
                          Case{"cut after the first new bytes, journal in the state folder", true, 1, 0, true, 0},
                          Case{"new bytes in, journal in the state folder", true, 2, 0, false, 2}}) {
        SCOPED_TRACE(c.name);
        Fixture f;
        writeBytes(f.data, c.fileState == 0 ? f.before : c.fileState == 1 ? f.torn() : f.after);
        std::vector<uint8_t> journal = journalBytes(kOffset, f.old, f.block, 8000);
        if (c.journalDamage == 1)
            journal.resize(journal.size() - 7);
        if (c.journalDamage == 2)
            journal[40] ^= 1;
        const std::string where = c.inStateFolder ? f.inState() : f.beside();
        fs::create_directories(fs::path(where).parent_path());
        writeBytes(where, journal);

        const JournalRecovery r = recoverInterruptedWrite(f.data);
        EXPECT_EQ(r.restored, c.restored);
        EXPECT_EQ(r.message(),
                  c.restored ? "An interrupted import was undone: texture bytes at offset 1000 restored" : "");
        EXPECT_EQ(readBytes(f.data), c.expected == 0 ? f.before : f.after);
        EXPECT_FALSE(fs::exists(where));
        // Once is enough: the next open finds nothing to do.
        EXPECT_FALSE(recoverInterruptedWrite(f.data).restored);
    }
}

TEST(WriteJournal, AJournalThatDoesNotFitTheFileIsNeverApplied)
{
    Fixture f;
    writeBytes(f.data, f.torn());
    // Recorded for a file of another length: not this file's journal.
    writeBytes(f.beside(), journalBytes(kOffset, f.old, f.block, 9000));
    EXPECT_FALSE(recoverInterruptedWrite(f.data).restored);
    EXPECT_EQ(readBytes(f.data), f.torn());
    EXPECT_FALSE(fs::exists(f.beside()));
}

TEST(WriteJournal, RecoveryWaitsForTheExclusiveLock)
{
    Fixture f;
    writeBytes(f.data, f.torn());
    writeBytes(f.beside(), journalBytes(kOffset, f.old, f.block, 8000));
    {
        TFileStream reader(f.data, FileMode::OpenReadShareDenyWrite);
        EXPECT_THROW(recoverInterruptedWrite(f.data), EFOpenError);
    }
    EXPECT_TRUE(fs::exists(f.beside()));
    EXPECT_TRUE(recoverInterruptedWrite(f.data).restored);
    EXPECT_EQ(readBytes(f.data), f.before);
}

TEST(WriteJournal, TheJournalIsDurableBeforeTheFirstByteChangesAndGoneAfterTheLast)
{
    Fixture f;
    FaultyFile file(f.data);
    bool checked = false;
    file.onFirstWrite = [&] {
        // The bytes are still the old ones, and the journal on disk undoes the write.
        EXPECT_EQ(peek(f.data), f.before);
        EXPECT_EQ(peek(f.beside()), journalBytes(kOffset, f.old, f.block, 8000));
        checked = true;
    };
    FileJournalStore store(f.data);
    writeJournalled(file, f.data, kOffset, f.block, store);
    EXPECT_TRUE(checked);
    EXPECT_EQ(peek(f.data), f.after);
    EXPECT_FALSE(fs::exists(f.beside()));
}

TEST(WriteJournal, AFolderThatCannotHoldAJournalSendsItToTheStateFolder)
{
    Fixture f;
    JournalFileOps ops = systemJournalFileOps();
    const auto create = ops.create;
    ops.create = [&](const std::string& path) -> std::unique_ptr<TStream> {
        if (path == f.beside())
            throw EFCreateError("Cannot create file " + path, "cannot create " + path + ": Read-only file system");
        return create(path);
    };
    FaultyFile file(f.data);
    bool checked = false;
    file.onFirstWrite = [&] {
        EXPECT_FALSE(fs::exists(f.beside()));
        EXPECT_EQ(peek(f.inState()), journalBytes(kOffset, f.old, f.block, 8000));
        // Private to the user: it holds bytes of the user's file.
        EXPECT_EQ(fs::status(fs::path(f.inState()).parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
        checked = true;
    };
    FileJournalStore store(f.data, ops);
    writeJournalled(file, f.data, kOffset, f.block, store);
    EXPECT_TRUE(checked);
    EXPECT_EQ(peek(f.data), f.after);
    EXPECT_FALSE(fs::exists(f.inState()));
}

TEST(WriteJournal, AFailureOfEachStepLeavesTheOldOrTheNewBytes)
{
    enum Step { JournalWrite, JournalFlush, BlockWrite, ArchiveFlush, ReadBack, JournalRemove };
    for (Step step : {JournalWrite, JournalFlush, BlockWrite, ArchiveFlush, ReadBack, JournalRemove}) {
        SCOPED_TRACE(step);
        Fixture f;
        JournalFileOps ops = systemJournalFileOps();
        if (step == JournalWrite || step == JournalFlush)
            ops.create = [&](const std::string& path) -> std::unique_ptr<TStream> {
                return std::make_unique<FailingJournal>(path, step == JournalWrite);
            };
        const auto remove = ops.remove;
        bool removeFails = step == JournalRemove;
        ops.remove = [&](const std::string& path) {
            if (removeFails)
                throw EWriteError("Stream write error", "cannot remove " + path + ": Input/output error");
            remove(path);
        };
        auto file = std::make_unique<FaultyFile>(f.data);
        file->failWrites = step == BlockWrite;
        file->failFlushes = step == ArchiveFlush;
        file->corrupt = step == ReadBack;
        FileJournalStore store(f.data, ops);
        try {
            writeJournalled(*file, f.data, kOffset, f.block, store);
            ADD_FAILURE() << "no error";
        } catch (const EJournalError& e) {
            EXPECT_TRUE(step == JournalWrite || step == JournalFlush || step == JournalRemove) << e.message();
            if (step == JournalRemove)
                EXPECT_NE(e.message().find("The texture was written"), std::string::npos) << e.message();
            else
                EXPECT_NE(e.message().find("nothing was written"), std::string::npos) << e.message();
        } catch (const EWriteError& e) {
            EXPECT_TRUE(step == BlockWrite || step == ArchiveFlush || step == ReadBack);
            EXPECT_EQ(e.message(), "Stream write error");
            EXPECT_NE(e.detail().find("previous bytes are back in place"), std::string::npos) << e.detail();
        }
        if (step == JournalWrite || step == JournalFlush) {
            EXPECT_EQ(file->writes, 0) << "the file was written without a journal";
        }
        file.reset();
        EXPECT_EQ(readBytes(f.data), step == JournalRemove ? f.after : f.before);
        // A journal left by the failed removal finds the new bytes in place.
        EXPECT_EQ(fs::exists(f.beside()), step == JournalRemove);
        EXPECT_FALSE(fs::exists(f.inState()));
        removeFails = false;
        EXPECT_FALSE(recoverInterruptedWrite(f.data).restored);
        EXPECT_EQ(readBytes(f.data), step == JournalRemove ? f.after : f.before);
        EXPECT_FALSE(fs::exists(f.beside()));
    }
}

TEST(WriteJournal, CouldNotBeWrittenBackOnlyWhenTheBytesOnDiskDiffer)
{
    {
        // Every flush fails, the restore's included, yet the old bytes are
        // back: the message says so.
        Fixture f;
        auto file = std::make_unique<FaultyFile>(f.data);
        file->failFlushes = 2;
        FileJournalStore store(f.data);
        try {
            writeJournalled(*file, f.data, kOffset, f.block, store);
            ADD_FAILURE() << "no error";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.message(), "Stream write error");
            EXPECT_EQ(e.detail().find("could not be written back"), std::string::npos) << e.detail();
        }
        file.reset();
        EXPECT_EQ(readBytes(f.data), f.before);
    }
    {
        // The block stops half-way and the restore writes nothing: the file
        // is torn, the message says so, and the journal stays for the next open.
        Fixture f;
        auto file = std::make_unique<FaultyFile>(f.data);
        file->failWrites = 1;
        file->refuseWrites = 1;
        FileJournalStore store(f.data);
        try {
            writeJournalled(*file, f.data, kOffset, f.block, store);
            ADD_FAILURE() << "no error";
        } catch (const EWriteError& e) {
            EXPECT_NE(e.message().find("could not be written back"), std::string::npos) << e.message();
            EXPECT_NE(e.message().find(f.beside()), std::string::npos) << e.message();
        }
        file.reset();
        EXPECT_NE(readBytes(f.data), f.before);
        ASSERT_TRUE(fs::exists(f.beside()));
        EXPECT_TRUE(recoverInterruptedWrite(f.data).restored);
        EXPECT_EQ(readBytes(f.data), f.before);
    }
}

TEST(WriteJournal, Crc32IsTheUsualOne)
{
    const std::vector<uint8_t> text = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc32Of(text.data(), text.size()), 0xCBF43926u);
}

namespace {

// A stream in memory whose block write lands with the byte at `flipAt` of
// the block changed (none when negative).
class FlippingStream : public TStream {
public:
    explicit FlippingStream(std::vector<uint8_t> bytes) : inner(std::move(bytes)) {}
    int64_t Read(void* b, int64_t n) override { return inner.Read(b, n); }
    int64_t Seek(int64_t o, SeekOrigin from) override { return inner.Seek(o, from); }
    int64_t Size() override { return inner.Size(); }
    int64_t Write(const void* b, int64_t n) override
    {
        if (flipAt < 0 || flipAt >= n)
            return inner.Write(b, n);
        std::vector<uint8_t> bad(static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + n);
        bad[size_t(flipAt)] ^= 0x01;
        flipAt = -1;
        return inner.Write(bad.data(), n);
    }
    TMemoryStream inner;
    int64_t flipAt = -1;
};

}  // namespace

TEST(WriteJournal, ALargeBlockReadBackFindsOneChangedByteAnywhere)
{
    // A block of a few MiB and an odd tail, so that it is read back in
    // several pieces with a short last one.
    const size_t length = (3u << 20) + 17;
    const int64_t at = 4096;
    const std::vector<uint8_t> before = pattern(length + 3 * size_t(at), 5);
    const std::vector<uint8_t> block = pattern(length, 77);
    std::vector<uint8_t> after = before;
    std::copy(block.begin(), block.end(), after.begin() + at);
    for (int64_t flip : {int64_t(-1), int64_t(0), int64_t(length / 2), int64_t(length - 17), int64_t(length - 1)}) {
        SCOPED_TRACE(flip);
        FlippingStream file(before);
        file.flipAt = flip;
        MemoryJournalStore store;
        if (flip < 0) {
            writeJournalled(file, "models.img", at, block, store);
            EXPECT_EQ(file.inner.bytes(), after);
        } else {
            try {
                writeJournalled(file, "models.img", at, block, store);
                ADD_FAILURE() << "the changed byte went unnoticed";
            } catch (const EWriteError& e) {
                EXPECT_NE(e.detail().find("read back differs"), std::string::npos) << e.detail();
            }
            EXPECT_EQ(file.inner.bytes(), before) << "the previous bytes are not back";
        }
        EXPECT_FALSE(store.record) << "a journal was left";
    }
}
