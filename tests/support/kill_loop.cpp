// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/kill_loop.h"

#include "formats/archive_sample.h"
#include "formats/texture_dictionary_writer.h"
#include "support/archive_builder.h"
#include "support/tga_builder.h"
#include "support/tool_runner.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kSide = 2048;
// Offsets of the one texture of a standalone dictionary: its data size
// field after the 28-byte dictionary head and the 112-byte texture header.
constexpr int64_t kImagePos = 28 + 112;
constexpr int64_t kBlockSize = 4 + int64_t(kSide) * kSide * 4;

std::vector<uint8_t> readRange(const std::string& path, int64_t at, int64_t count)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int64_t done = 0;
    while (fd >= 0 && done < count) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(count - done), at + done);
        if (n <= 0)
            break;
        done += n;
    }
    if (fd >= 0)
        ::close(fd);
    bytes.resize(size_t(done));
    return bytes;
}

int64_t microsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

KillLoop::KillLoop(const std::string& folder)
    : folder_(folder), archive_(folder + "/big.txd"), picture_(folder + "/picture.tga")
{
    TextureDictionary d;
    d.textures.push_back(makeTexture32("big", "", kSide, kSide, archive_sample::plasma(kSide, kSide)));
    before_ = buildTextureDictionary(d);
    archive_fixture::writeBytes(
        picture_, tga_fixture::makeTga(2, 24, kSide, kSide, tga_fixture::patternPixels(kSide * kSide, 3, 7)).bytes());
    oldBlock_.assign(before_.begin() + kImagePos, before_.begin() + kImagePos + kBlockSize);
    blockAt_ = kImagePos;

    archive_fixture::writeBytes(archive_, before_);
    const auto start = std::chrono::steady_clock::now();
    const ToolRun r = runQuarnixTool({"import", archive_, "1", "1", picture_});
    importMicros_ = microsSince(start);
    if (r.exitCode != 0)
        throw std::runtime_error("the import failed: " + r.err);
    newBlock_ = readRange(archive_, blockAt_, kBlockSize);
    if (newBlock_ == oldBlock_)
        throw std::runtime_error("the import changed nothing");
}

KillLoopCounts KillLoop::run(int tries, unsigned seed)
{
    KillLoopCounts counts;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> moment(0, importMicros_);
    const std::string journal = archive_ + ".quarnix-journal";
    for (int i = 0; i < tries; ++i) {
        archive_fixture::writeBytes(archive_, before_);
        std::filesystem::remove(journal);
        const bool atFirstByte = i % 3 == 0;
        {
            RunningTool tool({"import", archive_, "1", "1", picture_});
            if (atFirstByte) {
                // The moment any of the first texels differs from what it was.
                const int fd = ::open(archive_.c_str(), O_RDONLY | O_CLOEXEC);
                uint8_t now[256];
                for (;;) {
                    if (::pread(fd, now, sizeof now, blockAt_ + 4) == ssize_t(sizeof now)
                        && std::memcmp(now, oldBlock_.data() + 4, sizeof now) != 0) {
                        tool.signal(SIGKILL);
                        ++counts.atFirstByte;
                        break;
                    }
                    if (tool.finished())
                        break;
                }
                ::close(fd);
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
                tool.signal(SIGKILL);
            }
            tool.wait();
        }
        ++counts.tries;
        if (std::filesystem::exists(journal))
            ++counts.journalled;
        const ToolRun list = runQuarnixTool({"textures", archive_, "1"});
        if (list.exitCode != 0)
            ++counts.listFailed;
        if (list.err.find("An interrupted import was undone") != std::string::npos)
            ++counts.undone;
        if (std::filesystem::exists(journal))
            ++counts.journalsLeft;
        const std::vector<uint8_t> now = readRange(archive_, blockAt_, kBlockSize);
        if (now == oldBlock_)
            ++counts.old;
        else if (now == newBlock_)
            ++counts.fresh;
        else
            ++counts.torn;
    }
    return counts;
}
