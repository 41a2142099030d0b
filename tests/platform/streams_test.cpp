// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/environment.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
fs::path tempDir()
{
    auto d = fs::temp_directory_path() / ("qx_streams_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}
}  // namespace

TEST(MemoryStream, ReadBufferFailsOnShortRead)
{
    TMemoryStream s(std::vector<uint8_t>{1, 2, 3});
    uint8_t buf[4] = {};
    EXPECT_EQ(s.Read(buf, 4), 3);
    s.SetPosition(1);
    try {
        s.ReadBuffer(buf, 3);
        FAIL() << "no error";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
    s.SetPosition(0);
    s.Seek(-10, SeekOrigin::Current);
    EXPECT_EQ(s.Position(), 0);
    s.Seek(5, SeekOrigin::End);
    uint8_t z = 9;
    s.WriteBuffer(&z, 1);  // writing past the end zero-fills the gap
    EXPECT_EQ(s.bytes(), (std::vector<uint8_t>{1, 2, 3, 0, 0, 0, 0, 0, 9}));
}

TEST(FileStream, OpenErrorsNameTheFile)
{
    const auto missing = (tempDir() / "missing.dir").string();
    try {
        TFileStream f(missing, FileMode::OpenReadShareDenyWrite);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.message(), "Cannot open file " + missing);
    }
    const auto noDir = (tempDir() / "no" / "such" / "x.tga").string();
    EXPECT_THROW(TFileStream(noDir, FileMode::Create), EFCreateError);

    // Only regular files: a named pipe (which would wait for a writer
    // forever), a device and a folder are refused at once.
    const auto pipe = (tempDir() / "pipe.png").string();
    ::unlink(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {pipe, std::string("/dev/zero"), tempDir().string()})
        for (FileMode mode :
             {FileMode::OpenReadShareDenyNone, FileMode::OpenReadShareDenyWrite, FileMode::OpenReadWriteExclusive})
            EXPECT_THROW(TFileStream(path, mode), EFOpenError) << path;
    EXPECT_THROW(TFileStream(pipe, FileMode::Create), EFCreateError);
    ::unlink(pipe.c_str());
}

TEST(FileStream, SharingModes)
{
    const auto path = (tempDir() / "locked.img").string();
    {
        std::ofstream(path) << "abcdef";
    }
    {
        TFileStream reader(path, FileMode::OpenReadShareDenyWrite);
        // Other readers are allowed, a writer that wants exclusive access is not.
        TFileStream reader2(path, FileMode::OpenReadShareDenyWrite);
        EXPECT_THROW(TFileStream(path, FileMode::OpenReadWriteExclusive), EFOpenError);
        TFileStream anyone(path, FileMode::OpenReadShareDenyNone);
        EXPECT_EQ(anyone.Size(), 6);
    }
    {
        TFileStream writer(path, FileMode::OpenReadWriteExclusive);
        EXPECT_THROW(TFileStream(path, FileMode::OpenReadShareDenyWrite), EFOpenError);
        writer.SetPosition(2);
        writer.WriteBuffer("XY", 2);
    }
    TMemoryStream m;
    m.LoadFromFile(path);
    EXPECT_EQ(std::string(m.bytes().begin(), m.bytes().end()), "abXYef");
}

TEST(Environment, ResolvesDataFileInOtherLetterCase)
{
    const auto dir = tempDir() / "case";
    fs::create_directories(dir);
    {
        std::ofstream(dir / "GAME.IMG") << "x";
    }
    EXPECT_EQ(resolveFileNameCase((dir / "GAME.img").string()), (dir / "GAME.IMG").string());
    EXPECT_EQ(resolveFileNameCase((dir / "OTHER.img").string()), (dir / "OTHER.img").string());
    {
        std::ofstream(dir / "GAME.img") << "y";
    }
    EXPECT_EQ(resolveFileNameCase((dir / "GAME.img").string()), (dir / "GAME.img").string());
}

TEST(Text, Cp1250RoundTripsEveryByte)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(toCp1250(fromCp1250(all)), all);
    EXPECT_EQ(fromCp1250("\x8A\xB9"), QString::fromUtf8("Šą"));
    EXPECT_LT(localeCompareIgnoreCase("a", "B"), 0);
    EXPECT_EQ(localeCompareIgnoreCase("abc", "ABC"), 0);
    EXPECT_TRUE(sameTextIgnoreCase("pos", "POS"));
}

TEST(Text, Cp1250HighHalfMatchesTheCodePage)
{
    // Every byte above 0x7F against the C library's own table; the five bytes
    // the code page leaves unassigned stand for the control character of the
    // same number.
    iconv_t cd = iconv_open("UTF-16LE", "CP1250");
    ASSERT_NE(cd, iconv_t(-1));
    for (int b = 0x80; b < 0x100; ++b) {
        char in = static_cast<char>(b);
        char16_t out = 0;
        char* inp = &in;
        char* outp = reinterpret_cast<char*>(&out);
        size_t inLeft = 1, outLeft = sizeof out;
        const bool assigned = iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const char16_t want = assigned ? out : char16_t(b);
        EXPECT_EQ(fromCp1250(std::string(1, in)).at(0).unicode(), want) << std::hex << b;
    }
    iconv_close(cd);
    // A few by hand: the euro sign, S and s with caron, L with stroke, a with ogonek.
    EXPECT_EQ(fromCp1250("\x80\x8A\x9A\xA3\xB9"), QString::fromUtf16(u"\u20AC\u0160\u0161\u0141\u0105"));
}

TEST(Exceptions, FormatMessageFillsInOrder)
{
    EXPECT_EQ(formatMessage("Cannot assign a %s to a %s", {"TDibGraphic", "TIcon"}),
              "Cannot assign a TDibGraphic to a TIcon");
    EXPECT_EQ(formatMessage(" (%dx%d)", {"3", "4"}), " (3x4)");
}

TEST(FileStream, BsdLocksOfOtherProgramsAreSeen)
{
    const auto path = (tempDir() / "flocked.img").string();
    {
        std::ofstream(path) << "abcdef";
    }
    for (int held : {LOCK_SH, LOCK_EX}) {
        SCOPED_TRACE(held);
        const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(other, 0);
        ASSERT_EQ(::flock(other, held | LOCK_NB), 0);
        // Readers share with a shared holder only; the import's writer never gets in.
        if (held == LOCK_SH)
            EXPECT_NO_THROW(TFileStream(path, FileMode::OpenReadShareDenyWrite));
        else
            EXPECT_THROW(TFileStream(path, FileMode::OpenReadShareDenyWrite), EFOpenError);
        EXPECT_THROW(TFileStream(path, FileMode::OpenReadWriteExclusive), EFOpenError);
        EXPECT_NO_THROW(TFileStream(path, FileMode::OpenReadShareDenyNone));
        ::close(other);
    }
    // And ours are seen by them: a reader's lock is shared, the writer's exclusive.
    {
        TFileStream reader(path, FileMode::OpenReadShareDenyWrite);
        const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0);
        ::flock(other, LOCK_UN);
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }
    {
        TFileStream writer(path, FileMode::OpenReadWriteExclusive);
        const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_NE(::flock(other, LOCK_SH | LOCK_NB), 0);
        ::close(other);
    }
    EXPECT_NO_THROW(TFileStream(path, FileMode::OpenReadWriteExclusive));
}
