// Writing a new file from a stream: all of it or nothing, and never a
// temporary file left behind.
#include "platform/exceptions.h"
#include "platform/file_write.h"
#include "platform/streams.h"
#include "support/archive_builder.h"

#include <gtest/gtest.h>

#include <filesystem>

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

} // namespace

TEST(WriteFileFromStream, CopiesCountBytesFromThePositionInBlocks)
{
    ScratchDir dir("qx_file_write");
    // More than two copy blocks, from an odd position.
    const std::vector<uint8_t> source = pattern(5 << 20);
    TMemoryStream s(source);
    s.SetPosition(12345);
    const int64_t count = (5 << 20) / 2 + 7;
    writeFileReplacing(dir.file("out"), s, count);
    EXPECT_EQ(readBytes(dir.file("out")),
              std::vector<uint8_t>(source.begin() + 12345, source.begin() + 12345 + count));
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
