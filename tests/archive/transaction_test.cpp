// SPDX-License-Identifier: GPL-2.0-or-later
// Edit transactions of the archive core: the order of the file operations of
// a commit and of each kind of recovery (a kill keeps the page cache, so only
// the order shows that the syncs are there), a power cut at every step of a
// transaction (unsynced writes lost) followed by recovery, a failure of every
// step, and the journals on a real disk: where they live, whose they are,
// and the earlier format.
#include "archive/archive.h"
#include "archive/transaction.h"

#include "platform/exceptions.h"
#include "platform/streams.h"
#include "support/archive_builder.h"
#include "support/journal_fixture.h"
#include "support/memory_fs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using archive_fixture::noiseBytes;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

// XDG_STATE_HOME set for the test's life.
class StateHome {
public:
    explicit StateHome(const std::string& path)
    {
        if (const char* s = std::getenv("XDG_STATE_HOME")) {
            had_ = true;
            previous_ = s;
        }
        ::setenv("XDG_STATE_HOME", path.c_str(), 1);
    }
    ~StateHome()
    {
        if (had_)
            ::setenv("XDG_STATE_HOME", previous_.c_str(), 1);
        else
            ::unsetenv("XDG_STATE_HOME");
    }

private:
    bool had_ = false;
    std::string previous_;
};

const std::string kImg = "/a/models.img";
const std::string kDir = "/a/models.dir";
const std::string kJournal = "/a/models.img.quarnix-journal";

// The operations of the log with runs of the same one written once.
std::vector<std::string> steps(const std::vector<std::string>& log)
{
    std::vector<std::string> out;
    for (const std::string& op : log)
        if (out.empty() || out.back() != op)
            out.push_back(op);
    return out;
}

// An archive of two files in memory and one change to it, with the files
// as they are before and after.
struct Scenario {
    std::string name;
    std::vector<uint8_t> img, dir;
    ChangeSet changes;
    std::vector<uint8_t> newImg, newDir;
};

std::vector<Scenario> scenarios()
{
    std::vector<Scenario> out;
    const std::vector<uint8_t> img = noiseBytes(9000, 1), dir = noiseBytes(96, 2);
    {
        // A texture rewritten in place: one range, no length changes.
        Scenario s{"in place", img, dir, {}, img, dir};
        const std::vector<uint8_t> block = noiseBytes(3000, 99);
        s.changes.write(0, 1000, block);
        std::copy(block.begin(), block.end(), s.newImg.begin() + 1000);
        out.push_back(std::move(s));
    }
    {
        // An entry appended past the end of the data file, its record added
        // to the directory: both files grow.
        Scenario s{"grow both", img, dir, {}, img, dir};
        const std::vector<uint8_t> entry = noiseBytes(4096, 7), record = noiseBytes(32, 8);
        s.changes.write(0, 10240, entry);
        s.changes.write(1, 96, record);
        s.newImg.resize(10240, 0);
        s.newImg.insert(s.newImg.end(), entry.begin(), entry.end());
        s.newDir.insert(s.newDir.end(), record.begin(), record.end());
        out.push_back(std::move(s));
    }
    {
        // A record removed: the directory is rewritten shorter, and bytes
        // inside the data file change too.
        Scenario s{"shrink", img, dir, {}, img, dir};
        const std::vector<uint8_t> tail(dir.begin() + 64, dir.end());
        s.changes.write(1, 32, tail);
        s.changes.setLength(1, 64);
        s.changes.write(0, 0, noiseBytes(100, 3));
        s.newDir = std::vector<uint8_t>(dir.begin(), dir.begin() + 32);
        s.newDir.insert(s.newDir.end(), tail.begin(), tail.end());
        const std::vector<uint8_t> head = noiseBytes(100, 3);
        std::copy(head.begin(), head.end(), s.newImg.begin());
        out.push_back(std::move(s));
    }
    return out;
}

struct Files {
    std::vector<std::unique_ptr<TStream>> streams;
    std::vector<EditFile> files;
};

Files openBoth(MemoryFs& fs)
{
    Files f;
    for (const std::string& p : {kImg, kDir}) {
        f.streams.push_back(fs.open(p, ArchiveFileAccess::Edit));
        f.files.push_back({p, f.streams.back().get()});
    }
    return f;
}

void commit(MemoryFs& fs, const ChangeSet& changes, ChangeKind kind = ChangeKind::ArchiveEdit)
{
    Files f = openBoth(fs);
    ChangeLabel label;
    label.kind = kind;
    label.offset = 1000;
    commitChanges(fs, f.files, changes, label, JournalPlace::of(kImg), "models.dir");
}

Recovery recover(MemoryFs& fs)
{
    Files f = openBoth(fs);
    return recoverFiles(fs, f.files, JournalPlace::of(kImg));
}

MemoryFs filesystemOf(const Scenario& s)
{
    MemoryFs fs;
    fs.put(kImg, s.img);
    fs.put(kDir, s.dir);
    return fs;
}

// 0 old, 1 new, -1 neither.
int stateOf(const MemoryFs& fs, const Scenario& s)
{
    if (fs.get(kImg) == s.img && fs.get(kDir) == s.dir)
        return 0;
    if (fs.get(kImg) == s.newImg && fs.get(kDir) == s.newDir)
        return 1;
    return -1;
}

bool anyJournal(const MemoryFs& fs)
{
    for (const std::string& f : fs.files())
        if (f.find(".quarnix-journal") != std::string::npos)
            return true;
    return false;
}

}  // namespace

TEST(Transaction, ACommitMakesTheJournalDurableThenWritesSyncsReadsBackAndRemovesIt)
{
    StateHome home("/state");
    const Scenario s = scenarios()[1];
    MemoryFs fs = filesystemOf(s);
    commit(fs, s.changes);
    EXPECT_EQ(stateOf(fs, s), 1);
    EXPECT_EQ(steps(fs.log),
              (std::vector<std::string>{"create " + kJournal, "write " + kJournal, "sync " + kJournal, "syncFolder /a",
                                        "truncate " + kImg, "truncate " + kDir, "write " + kImg, "write " + kDir,
                                        "sync " + kImg, "sync " + kDir, "remove " + kJournal, "syncFolder /a"}));
}

TEST(Transaction, AFailedReadBackPutsTheOldBytesBackAndSyncsThemBeforeTheJournalGoes)
{
    StateHome home("/state");
    const Scenario s = scenarios()[0];
    MemoryFs fs = filesystemOf(s);
    bool corrupted = false;
    fs.onWrite = [&](const std::string& path, int64_t, std::vector<uint8_t>& bytes) {
        if (path == kImg && !corrupted) {
            bytes[bytes.size() / 2] ^= 1;
            corrupted = true;
        }
    };
    try {
        commit(fs, s.changes, ChangeKind::TextureImport);
        ADD_FAILURE() << "the changed byte went unnoticed";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.message(), "Stream write error");
        EXPECT_NE(e.detail().find("read back differs"), std::string::npos) << e.detail();
        EXPECT_NE(e.detail().find("the texture's previous bytes are back in place"), std::string::npos) << e.detail();
    }
    EXPECT_EQ(stateOf(fs, s), 0);
    EXPECT_FALSE(anyJournal(fs));
    EXPECT_EQ(steps(fs.log),
              (std::vector<std::string>{"create " + kJournal, "write " + kJournal, "sync " + kJournal, "syncFolder /a",
                                        "write " + kImg, "sync " + kImg, "sync " + kDir, "write " + kImg,
                                        "sync " + kImg, "sync " + kDir, "remove " + kJournal, "syncFolder /a"}));
}

TEST(Transaction, AFailedSyncKeepsTheJournalAndTheNextOpenRestoresTheOldBytes)
{
    StateHome home("/state");
    const Scenario s = scenarios()[0];
    MemoryFs fs = filesystemOf(s);
    bool failed = false;
    fs.failWhen = [&](const std::string& op) { return op == "sync " + kImg && !failed && (failed = true); };
    try {
        commit(fs, s.changes, ChangeKind::TextureImport);
        ADD_FAILURE() << "no error";
    } catch (const EWriteError& e) {
        EXPECT_NE(e.detail().find("cannot flush " + kImg), std::string::npos) << e.detail();
        EXPECT_NE(e.detail().find("the next open"), std::string::npos) << e.detail();
    }
    // What the page cache holds is not trusted: the journal stays.
    EXPECT_TRUE(fs.has(kJournal));
    fs.log.clear();
    recover(fs);
    EXPECT_EQ(stateOf(fs, s), 0);
    EXPECT_FALSE(fs.has(kJournal));
}

TEST(Transaction, EachKindOfRecoveryDoesItsStepsInOrder)
{
    StateHome home("/state");
    const std::string state = JournalPlace::of(kImg).inStateFolder;
    struct Case {
        const char* name;
        std::string cutAt;  // the commit's operation the program is killed at; "": a journal cut short
        std::vector<std::string> steps;
        bool restored;
    };
    const Scenario s = scenarios()[0];
    // The in-place scenario's commit, killed at one of its operations (the
    // page cache keeps what it wrote).
    const Case cases[] = {
        {"a journal cut short",
         "",
         {"read " + kJournal, "remove " + kJournal, "syncFolder /a", "read " + state},
         false},
        {"all new bytes in place, synced before the journal goes",
         "remove " + kJournal,
         {"read " + kJournal, "sync " + kImg, "sync " + kDir, "remove " + kJournal, "syncFolder /a", "read " + state},
         false},
        {"torn: the old bytes written back and synced before the journal goes",
         "write " + kImg,
         {"read " + kJournal, "write " + kImg, "sync " + kImg, "sync " + kDir, "remove " + kJournal, "syncFolder /a",
          "read " + state},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryFs fs = filesystemOf(s);
        if (c.cutAt.empty()) {
            fs.put(kJournal, {'Q', 'X', 'J', 'R', 'N', 'L', '0', '2', 1, 0});
        } else {
            fs.cutWhen = [&](const std::string& op) { return op == c.cutAt; };
            EXPECT_THROW(commit(fs, s.changes, ChangeKind::TextureImport), PowerCut);
            fs.cutWhen = nullptr;
            fs.kill();
            if (c.restored) {
                // Half of the new bytes made it before the kill.
                std::vector<uint8_t> torn = s.img;
                std::copy(s.newImg.begin() + 1000, s.newImg.begin() + 2500, torn.begin() + 1000);
                fs.scribble(kImg, torn);
            }
        }
        fs.log.clear();
        const Recovery r = recover(fs);
        EXPECT_EQ(r.restored, c.restored);
        EXPECT_EQ(r.message("models.dir"),
                  c.restored ? "An interrupted import was undone: texture bytes at offset 1000 restored" : "");
        EXPECT_EQ(steps(fs.log), c.steps);
        EXPECT_EQ(stateOf(fs, s), c.cutAt == "remove " + kJournal ? 1 : 0);
        EXPECT_FALSE(anyJournal(fs));
    }
}

TEST(Transaction, AJournalThatCannotBeReadIsNeverRemovedAndTheOpenFails)
{
    StateHome home("/state");
    const Scenario s = scenarios()[0];
    MemoryFs fs = filesystemOf(s);
    fs.put(kJournal, {1, 2, 3});
    fs.unreadable.insert(kJournal);
    EXPECT_THROW(recover(fs), EJournalUnreadable);
    EXPECT_TRUE(fs.has(kJournal));
    for (const std::string& op : fs.log)
        EXPECT_NE(op.rfind("remove", 0), 0u) << op;
}

TEST(Transaction, APowerCutAtAnyStepThenRecoveryLeavesTheOldOrTheNewFiles)
{
    StateHome home("/state");
    for (const Scenario& s : scenarios()) {
        // The operations of a whole commit.
        MemoryFs counting = filesystemOf(s);
        commit(counting, s.changes);
        ASSERT_EQ(stateOf(counting, s), 1) << s.name;
        const int total = int(counting.log.size());
        int olds = 0, news = 0;
        for (int cut = 0; cut <= total; ++cut) {
            SCOPED_TRACE(s.name + " cut at " + std::to_string(cut));
            MemoryFs fs = filesystemOf(s);
            int n = 0;
            fs.cutWhen = [&](const std::string&) { return n++ == cut; };
            try {
                commit(fs, s.changes);
            } catch (const PowerCut&) {
            }
            fs.cutWhen = nullptr;
            fs.powerCut();
            recover(fs);
            const int state = stateOf(fs, s);
            EXPECT_NE(state, -1) << ::testing::PrintToString(counting.log[size_t(std::min(cut, total - 1))])
                                 << ::testing::PrintToString(fs.log);
            olds += state == 0;
            news += state == 1;
            EXPECT_FALSE(anyJournal(fs));
            // A cut after the journal's removal was made durable changes nothing.
            if (cut == total) {
                EXPECT_EQ(state, 1);
            }
        }
        // Both ends were seen: cuts before the data was synced, and after.
        EXPECT_GT(olds, 0) << s.name;
        EXPECT_GT(news, 0) << s.name;
    }
}

TEST(Transaction, APowerCutDuringRecoveryIsRecoveredFromByTheNextOpen)
{
    StateHome home("/state");
    const Scenario s = scenarios()[2];
    // A commit killed right after its first data write: torn files.
    const auto killed = [&] {
        MemoryFs fs = filesystemOf(s);
        int n = 0;
        // Cut at the first write of the directory: the data file's bytes are in.
        fs.cutWhen = [&](const std::string& op) { return op == "write " + kDir && n++ == 0; };
        EXPECT_THROW(commit(fs, s.changes), PowerCut);
        fs.cutWhen = nullptr;
        fs.kill();
        return fs;
    };
    MemoryFs counting = killed();
    recover(counting);
    const int total = int(counting.log.size());
    for (int cut = 0; cut < total; ++cut) {
        SCOPED_TRACE(cut);
        MemoryFs fs = killed();
        int n = 0;
        fs.cutWhen = [&](const std::string&) { return n++ == cut; };
        try {
            recover(fs);
        } catch (const PowerCut&) {
        }
        fs.cutWhen = nullptr;
        fs.powerCut();
        recover(fs);
        EXPECT_EQ(stateOf(fs, s), 0);
        EXPECT_FALSE(anyJournal(fs));
    }
}

TEST(Transaction, AFailureOfAnyStepLeavesTheOldFilesOrTheNewOnesOnceRecovered)
{
    StateHome home("/state");
    for (const Scenario& s : scenarios()) {
        MemoryFs counting = filesystemOf(s);
        commit(counting, s.changes);
        const int total = int(counting.log.size());
        for (int failAt = 0; failAt < total; ++failAt) {
            MemoryFs fs = filesystemOf(s);
            int n = 0;
            fs.failWhen = [&](const std::string&) { return n++ == failAt; };
            std::string failure;
            try {
                commit(fs, s.changes);
            } catch (const Exception& e) {
                failure = e.detail();
            }
            const std::string& op = counting.log[size_t(failAt)];
            SCOPED_TRACE(s.name + ": " + op + ": " + failure);
            // A journal that cannot be kept beside the data file goes to the
            // state folder; any failure with the archive's own files is told.
            if (op.find(kJournal) == std::string::npos && op != "syncFolder /a") {
                EXPECT_FALSE(failure.empty()) << "a failure was reported as success";
            }
            fs.failWhen = nullptr;
            // A failed sync leaves its journal; a failed removal of the
            // journal leaves it too; the next open deals with both.
            recover(fs);
            const bool written = failure.empty() || failure.find("the change was written") != std::string::npos;
            EXPECT_EQ(stateOf(fs, s), written ? 1 : 0);
            EXPECT_FALSE(anyJournal(fs));
        }
    }
}

TEST(Transaction, AJournalGoesToTheStateFolderWhoseNewFoldersAreSynced)
{
    StateHome home("/state");
    const Scenario s = scenarios()[0];
    MemoryFs fs = filesystemOf(s);
    fs.failWhen = [](const std::string& op) { return op == "create " + kJournal; };
    const std::string state = JournalPlace::of(kImg).inStateFolder;
    commit(fs, s.changes);
    EXPECT_EQ(stateOf(fs, s), 1);
    const std::vector<std::string> want = {"create " + kJournal,   "mkdir /state",      "syncFolder /",
                                           "mkdir /state/quarnix", "syncFolder /state", "create " + state,
                                           "write " + state,       "sync " + state,     "syncFolder /state/quarnix"};
    const std::vector<std::string> got = steps(fs.log);
    ASSERT_GE(got.size(), want.size());
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + std::ptrdiff_t(want.size())), want);
    EXPECT_EQ(got.back(), "syncFolder /state/quarnix");
    EXPECT_FALSE(anyJournal(fs));
}

TEST(Transaction, AStateFolderJournalIsAppliedOnlyToTheFileItNames)
{
    ScratchDir dir{"qx_journal_identity"};
    StateHome home(dir.file("state"));
    // A journal made for one file, then that file's name given to another
    // file of the same length: the journal names a path, not a device and
    // inode, and another path's journal is left alone.
    const std::string a = dir.file("a.img"), b = dir.file("b.img");
    writeBytes(a, noiseBytes(8000, 1));
    writeBytes(b, noiseBytes(8000, 2));
    const std::string journalOfA = JournalPlace::of(a).inStateFolder;
    const std::string journalOfB = JournalPlace::of(b).inStateFolder;
    EXPECT_NE(journalOfA, journalOfB);
    // A's change cut off after its write, its journal in the state folder
    // (made in memory, then put on the disk where b's journal would be).
    fs::create_directories(fs::path(journalOfA).parent_path());
    MemoryFs mem;
    mem.put(a, noiseBytes(8000, 1));
    {
        std::unique_ptr<TStream> s = mem.open(a, ArchiveFileAccess::Edit);
        ChangeSet c;
        c.write(0, 100, noiseBytes(50, 9));
        int n = 0;
        mem.failWhen = [&](const std::string& op) { return op == "create " + JournalPlace::of(a).beside; };
        mem.cutWhen = [&](const std::string& op) { return op.rfind("remove", 0) == 0 && n++ == 0; };
        EXPECT_THROW(commitChanges(mem, {{a, s.get()}}, c, {}, JournalPlace::of(a), "a.img"), PowerCut);
    }
    mem.kill();
    mem.failWhen = nullptr;
    mem.cutWhen = nullptr;
    // The journal of a as the state folder holds it, put where b's would be.
    const std::optional<std::vector<uint8_t>> journal = mem.get(journalOfA);
    ASSERT_TRUE(journal);
    writeBytes(journalOfB, *journal);
    {
        TFileStream file(b, FileMode::OpenReadWriteExclusive);
        const Recovery r = recoverFiles(systemArchiveFs(), {{b, &file}}, JournalPlace::of(b));
        EXPECT_FALSE(r.restored);
    }
    EXPECT_EQ(readBytes(b), noiseBytes(8000, 2));
    EXPECT_TRUE(fs::exists(journalOfB)) << "another file's journal was removed";
}

TEST(Transaction, JournalsOfTheEarlierFormatBesideTheDataFileAreStillRecovered)
{
    struct Case {
        const char* name;
        int fileState;      // 0 old, 1 torn, 2 new
        int journalDamage;  // 0 none, 1 cut short, 2 a byte changed
        bool restored;
        int expected;  // 0 old, 2 new
    };
    for (const Case& c :
         {Case{"cut after the first new bytes", 1, 0, true, 0},
          Case{"cut after the new bytes, before the journal went", 2, 0, false, 2},
          Case{"cut before the first new byte", 0, 0, false, 0},
          Case{"cut while the journal was written", 0, 1, false, 0}, Case{"a damaged journal", 0, 2, false, 0}}) {
        SCOPED_TRACE(c.name);
        ScratchDir dir{"qx_journal_v1"};
        StateHome home(dir.file("state"));
        const std::string data = dir.file("sample.txd");
        const std::vector<uint8_t> before = noiseBytes(8000, 1), block = noiseBytes(3000, 99);
        std::vector<uint8_t> after = before, torn = before;
        std::copy(block.begin(), block.end(), after.begin() + 1000);
        std::copy(block.begin(), block.begin() + 1000, torn.begin() + 1000);
        writeBytes(data, c.fileState == 0 ? before : c.fileState == 1 ? torn : after);
        std::vector<uint8_t> journal = journal_fixture::journalBytes(
            1000, std::vector<uint8_t>(before.begin() + 1000, before.begin() + 4000), block, 8000);
        if (c.journalDamage == 1)
            journal.resize(journal.size() - 7);
        if (c.journalDamage == 2)
            journal[40] ^= 1;
        writeBytes(data + ".quarnix-journal", journal);
        Recovery r;
        openArchive(data, &r);
        EXPECT_EQ(r.restored, c.restored);
        EXPECT_EQ(readBytes(data), c.expected == 0 ? before : after);
        EXPECT_FALSE(fs::exists(data + ".quarnix-journal"));
    }
}

TEST(Transaction, RecoveryWaitsForTheExclusiveLock)
{
    ScratchDir dir{"qx_journal_lock"};
    StateHome home(dir.file("state"));
    const std::string data = dir.file("sample.txd");
    const std::vector<uint8_t> before = noiseBytes(8000, 1), block = noiseBytes(3000, 99);
    std::vector<uint8_t> torn = before;
    std::copy(block.begin(), block.begin() + 1000, torn.begin() + 1000);
    writeBytes(data, torn);
    writeBytes(data + ".quarnix-journal",
               journal_fixture::journalBytes(1000, std::vector<uint8_t>(before.begin() + 1000, before.begin() + 4000),
                                             block, 8000));
    {
        TFileStream reader(data, FileMode::OpenReadShareDenyWrite);
        EXPECT_THROW(openArchive(data), EFOpenError);
    }
    EXPECT_TRUE(fs::exists(data + ".quarnix-journal"));
    Recovery r;
    openArchive(data, &r);
    EXPECT_TRUE(r.restored);
    EXPECT_EQ(readBytes(data), before);
}

TEST(Transaction, AJournalThatIsAFolderCannotBeReadAndStopsTheOpen)
{
    ScratchDir dir{"qx_journal_unreadable"};
    StateHome home(dir.file("state"));
    const std::string data = dir.file("sample.txd");
    writeBytes(data, noiseBytes(100, 1));
    fs::create_directory(data + ".quarnix-journal");
    try {
        openArchive(data);
        ADD_FAILURE() << "opened";
    } catch (const EJournalUnreadable& e) {
        EXPECT_NE(e.message().find(data + ".quarnix-journal"), std::string::npos) << e.message();
    }
    EXPECT_TRUE(fs::is_directory(data + ".quarnix-journal"));
}

TEST(Transaction, Crc32IsTheUsualOne)
{
    const std::vector<uint8_t> text = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc32Of(text.data(), text.size()), 0xCBF43926u);
}

TEST(Transaction, ALargeWriteReadBackFindsOneChangedByteAnywhere)
{
    StateHome home("/state");
    // A range of a few MiB with an odd tail, so that it is written and read
    // back in several pieces with a short last one.
    const size_t length = (3u << 20) + 17;
    const int64_t at = 4096;
    Scenario s{"large", noiseBytes(length + 3 * size_t(at), 5), noiseBytes(96, 2), {}, {}, {}};
    const std::vector<uint8_t> block = noiseBytes(length, 77);
    s.changes.write(0, at, block);
    s.newImg = s.img;
    std::copy(block.begin(), block.end(), s.newImg.begin() + at);
    s.newDir = s.dir;
    for (int64_t flip : {int64_t(-1), int64_t(0), int64_t(length / 2), int64_t(length - 17), int64_t(length - 1)}) {
        SCOPED_TRACE(flip);
        MemoryFs fs = filesystemOf(s);
        fs.onWrite = [&](const std::string& path, int64_t offset, std::vector<uint8_t>& bytes) {
            const int64_t within = at + flip - offset;
            if (path == kImg && flip >= 0 && within >= 0 && within < int64_t(bytes.size()) && !fs.has("/flipped")) {
                bytes[size_t(within)] ^= 1;
                fs.put("/flipped", {});
            }
        };
        if (flip < 0) {
            commit(fs, s.changes);
            EXPECT_EQ(stateOf(fs, s), 1);
        } else {
            EXPECT_THROW(commit(fs, s.changes), EWriteError);
            EXPECT_EQ(stateOf(fs, s), 0) << "the previous bytes are not back";
        }
        EXPECT_FALSE(anyJournal(fs));
    }
}
