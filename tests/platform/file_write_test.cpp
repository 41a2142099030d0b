// SPDX-License-Identifier: GPL-2.0-or-later
// Writing a new file from a stream: all of it or nothing, and never a
// temporary file left behind.
#include "platform/exceptions.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "support/archive_builder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using archive_fixture::readBytes;
using archive_fixture::ScratchDir;
using archive_fixture::writeBytes;

namespace {

std::vector<uint8_t> pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 13 + i / 509);
    return bytes;
}

size_t entriesIn(const std::string& folder)
{
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST(WriteFileFromStream, CopiesCountBytesFromThePositionInBlocks)
{
    ScratchDir dir("qx_file_write");
    // More than two copy blocks, from an odd position.
    const std::vector<uint8_t> source = pattern(5 << 20);
    TMemoryStream s(source);
    s.SetPosition(12345);
    const int64_t count = (5 << 20) / 2 + 7;
    writeFileReplacing(dir.file("out"), s, count);
    EXPECT_EQ(readBytes(dir.file("out")), std::vector<uint8_t>(source.begin() + 12345, source.begin() + 12345 + count));
    TMemoryStream empty;
    writeFileReplacing(dir.file("none"), empty, 0, FileSync::Deferred);
    EXPECT_TRUE(readBytes(dir.file("none")).empty());
}

TEST(WriteFileFromStream, ASourceThatEndsEarlyLeavesTheTargetAsItWas)
{
    ScratchDir dir("qx_file_write");
    writeBytes(dir.file("out"), {7, 7, 7});
    TMemoryStream s(pattern(3 << 20));
    s.SetPosition(10);
    try {
        writeFileReplacing(dir.file("out"), s, 3 << 20);
        FAIL() << "no error";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.message(), "Stream read error");
    }
    EXPECT_EQ(readBytes(dir.file("out")), (std::vector<uint8_t>{7, 7, 7}));
    EXPECT_EQ(entriesIn(dir.path()), 1u);  // no temporary file

    TMemoryStream t(pattern(10));
    EXPECT_THROW(writeFileReplacing(dir.file("no/folder/out"), t, 10), EFCreateError);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

namespace {

// Runs `body` in a child process and returns its exit code (-1 when it did
// not end normally): for limits and filters that must not reach the test
// program itself.
int inChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 3;
        try {
            code = body();
        } catch (...) {
            code = 4;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr int kSkipped = 77;

// Makes the system call `nr` fail with `errnum` for the rest of the process.
bool failCallWith(uint32_t nr, int errnum)
{
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (uint32_t(errnum) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Makes fchmod fail with `errnum` for the rest of the process, as on a file
// system without Unix permissions.
bool failFchmodWith(int errnum)
{
    return failCallWith(__NR_fchmod, errnum);
}

}  // namespace

TEST(WriteFile, AFileSystemWithoutPermissionsIsWrittenAllTheSame)
{
    ScratchDir dir("qx_file_write");
    const std::vector<uint8_t> bytes = pattern(5000);
    for (int errnum : {ENOSYS, EPERM, EOPNOTSUPP}) {
        SCOPED_TRACE(errnum);
        const std::string path = dir.file("out" + std::to_string(errnum) + ".tga");
        const int code = inChild([&] {
            if (!failFchmodWith(errnum))
                return kSkipped;
            if (::fchmod(STDIN_FILENO, 0600) == 0 || errno != errnum)
                return kSkipped;
            writeFileReplacing(path, bytes);
            return readBytes(path) == bytes ? 0 : 1;
        });
        if (code == kSkipped)
            GTEST_SKIP() << "no seccomp filters here";
        EXPECT_EQ(code, 0);
        EXPECT_EQ(readBytes(path), bytes);
    }
    // Any other failure to set the permissions still fails the write.
    const std::string path = dir.file("eio.tga");
    const int code = inChild([&] {
        if (!failFchmodWith(EIO))
            return kSkipped;
        try {
            writeFileReplacing(path, bytes);
        } catch (const EWriteError& e) {
            return e.detail() == "cannot write " + path + ": " + std::strerror(EIO) && !fs::exists(path) ? 0 : 2;
        }
        return 1;
    });
    if (code != kSkipped) {
        EXPECT_EQ(code, 0);
    }
    EXPECT_EQ(entriesIn(dir.path()), 3u);
}

TEST(WriteFile, AFailingWriteReportsTheReasonAndLeavesNoFile)
{
    // The file system refuses the write itself: a file size limit, with the
    // signal it would send ignored so write() fails with EFBIG.
    ScratchDir dir("qx_file_write");
    const std::vector<uint8_t> bytes = pattern(100000);
    for (bool fromStream : {false, true}) {
        SCOPED_TRACE(fromStream);
        const std::string path = dir.file("big.tga");
        const int code = inChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit {};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 4096;
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return kSkipped;
            try {
                if (fromStream) {
                    TMemoryStream source(bytes);
                    writeFileReplacing(path, source, int64_t(bytes.size()));
                } else {
                    writeFileReplacing(path, bytes);
                }
            } catch (const EWriteError& e) {
                if (e.message() != "Stream write error")
                    return 5;
                return e.detail() == "cannot write " + path + ": " + std::strerror(EFBIG) ? 0 : 6;
            }
            return 1;
        });
        ASSERT_NE(code, kSkipped);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(entriesIn(dir.path()), 0u) << "the temporary file was left behind";
    }
}

TEST(OutputFolder, NeverFollowsALinkInsideIt)
{
    ScratchDir dir("qx_file_write");
    const std::string victim = dir.file("victim");
    fs::create_directories(victim);
    writeBytes(victim + "/keep.tga", {1, 2, 3});
    const std::string outPath = dir.file("out");
    fs::create_directories(outPath);
    fs::create_directory_symlink("../victim", outPath + "/x.txd");
    fs::create_symlink("../victim/keep.tga", outPath + "/a.tga");

    const OutputFolder out(outPath);
    try {
        out.subFolder("x.txd");
        ADD_FAILURE() << "followed a folder link";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.message(), "Cannot create folder " + outPath + "/x.txd");
        EXPECT_EQ(e.detail(), "not writing into " + outPath + "/x.txd: it is a symbolic link");
    }
    try {
        out.writeFile("a.tga", pattern(10), FileSync::Now);
        ADD_FAILURE() << "wrote over a file link";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.detail(), "not writing " + outPath + "/a.tga: it is a symbolic link");
    }
    EXPECT_TRUE(fs::is_symlink(outPath + "/a.tga"));
    EXPECT_EQ(readBytes(victim + "/keep.tga"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(entriesIn(victim), 1u);

    // Real folders and files are made relative to the folder.
    const OutputFolder sub = out.subFolder("y.txd");
    sub.writeFile("t.tga", pattern(10), FileSync::Now);
    EXPECT_EQ(readBytes(outPath + "/y.txd/t.tga"), pattern(10));
    EXPECT_EQ(sub.path(), outPath + "/y.txd");
}

TEST(OutputFolder, PermissionsOfNewAndReplacedFiles)
{
    // In a process of its own with a umask of 027 (the umask is read once per
    // process), so the expected bits differ from 0666 and from what 022 gives.
    ScratchDir dir("qx_file_write");
    const std::string outPath = dir.file("out");
    const int code = inChild([&] {
        ::umask(027);
        const OutputFolder out(outPath);
        const OutputFolder made = out.subFolder("new.txd");  // made by this call
        if (!made.madeNow())
            return 1;
        made.writeFile("a.tga", pattern(100), FileSync::Deferred);
        made.writeFile("a.tga", pattern(50), FileSync::Deferred);  // the same name again: replaced
        fs::create_directories(outPath + "/old.txd");
        writeBytes(outPath + "/old.txd/b.tga", {9});
        ::chmod((outPath + "/old.txd/b.tga").c_str(), 0604);
        const OutputFolder old = out.subFolder("old.txd");
        if (old.madeNow())
            return 2;
        old.writeFile("b.tga", pattern(10), FileSync::Deferred);
        old.writeFile("c.tga", pattern(10), FileSync::Deferred);
        out.syncFileSystem();
        return 0;
    });
    ASSERT_EQ(code, 0);
    const auto modeOf = [](const std::string& p) {
        struct stat st {};
        EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    };
    EXPECT_EQ(modeOf(outPath + "/new.txd/a.tga"), 0640u);
    EXPECT_EQ(readBytes(outPath + "/new.txd/a.tga"), pattern(50));
    EXPECT_EQ(modeOf(outPath + "/old.txd/b.tga"), 0604u) << "a replaced file keeps its bits";
    EXPECT_EQ(readBytes(outPath + "/old.txd/b.tga"), pattern(10));
    EXPECT_EQ(modeOf(outPath + "/old.txd/c.tga"), 0640u);
    EXPECT_EQ(entriesIn(outPath + "/new.txd"), 1u) << "a temporary file was left behind";
    EXPECT_EQ(entriesIn(outPath + "/old.txd"), 2u) << "a temporary file was left behind";
}

TEST(WriteNewFile, WritesANewFileAndNeverTakesThePlaceOfAnything)
{
    ScratchDir dir("qx_file_write_new");
    const std::vector<uint8_t> bytes = pattern(7000);
    const std::string path = dir.file("new.txd");
    writeNewFile(path, bytes);
    EXPECT_EQ(readBytes(path), bytes);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    // A file, a folder, a link (one that leads nowhere too) in the way: refused, left as they are.
    writeBytes(dir.file("file"), {1, 2, 3});
    fs::create_directory(dir.file("folder"));
    fs::create_symlink(dir.file("file"), dir.file("link"));
    fs::create_symlink(dir.file("nowhere"), dir.file("dangling"));
    for (const char* name : {"new.txd", "file", "folder", "link", "dangling"}) {
        SCOPED_TRACE(name);
        try {
            writeNewFile(dir.file(name), {9, 9});
            ADD_FAILURE() << "written over " << name;
        } catch (const EFCreateError& e) {
            EXPECT_EQ(e.message(), "Cannot create file " + dir.file(name));
            EXPECT_NE(e.detail().find("it exists already"), std::string::npos) << e.detail();
        }
    }
    EXPECT_EQ(readBytes(path), bytes);
    EXPECT_EQ(readBytes(dir.file("file")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(fs::is_directory(dir.file("folder")));
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));
    EXPECT_EQ(entriesIn(dir.path()), 5u) << "a temporary file was left behind";
}

TEST(WriteNewFile, WhereRenamingWithoutReplacingIsNotKnownALinkPutsTheFileInPlace)
{
    ScratchDir dir("qx_file_write_new");
    const std::vector<uint8_t> bytes = pattern(3000);
    const std::string path = dir.file("new.txd");
    writeBytes(dir.file("taken"), {4});
    const int code = inChild([&] {
        if (!failCallWith(__NR_renameat2, EINVAL))
            return kSkipped;
        writeNewFile(path, bytes);
        try {
            writeNewFile(dir.file("taken"), bytes);
        } catch (const EFCreateError&) {
            return 0;
        }
        return 1;
    });
    if (code == kSkipped)
        GTEST_SKIP() << "no seccomp filters here";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readBytes(path), bytes);
    EXPECT_EQ(readBytes(dir.file("taken")), (std::vector<uint8_t>{4}));
    EXPECT_EQ(entriesIn(dir.path()), 2u);
}
