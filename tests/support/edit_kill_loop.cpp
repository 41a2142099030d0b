// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/edit_kill_loop.h"

#include "formats/archive_writer.h"
#include "formats/sectioned_dictionary_writer.h"
#include "support/archive_builder.h"
#include "support/tool_runner.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using archive_fixture::noiseBytes;

namespace {

// The file's bytes without any lock; empty when it is missing.
std::vector<uint8_t> peek(const std::string& path)
{
    std::vector<uint8_t> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (n <= 0)
            break;
        done += size_t(n);
    }
    bytes.resize(done);
    ::close(fd);
    return bytes;
}

// The length and first and last 4 KiB of a file, without any lock: enough to
// see the first byte of an edit land (directory records, appended bytes).
struct Glance {
    int64_t length = -1;
    ino_t inode = 0;
    std::vector<uint8_t> head, tail;
    friend bool operator==(const Glance&, const Glance&) = default;
};

Glance glance(const std::string& path)
{
    Glance g;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return g;
    struct stat st {};
    ::fstat(fd, &st);
    g.length = st.st_size;
    g.inode = st.st_ino;
    g.head.resize(4096);
    g.head.resize(size_t(std::max<ssize_t>(::pread(fd, g.head.data(), g.head.size(), 0), 0)));
    g.tail.resize(4096);
    const off_t from = std::max<off_t>(0, st.st_size - 4096);
    g.tail.resize(size_t(std::max<ssize_t>(::pread(fd, g.tail.data(), g.tail.size(), from), 0)));
    ::close(fd);
    return g;
}

int64_t microsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
}

bool anyLeftover(const std::string& folder)
{
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.find(".quarnix-journal") != std::string::npos || name.find(".quarnix-new") != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace

std::vector<EditKillCase> editKillCases(const std::string& folder)
{
    // Files the edits put in: a large one to add, one to grow an entry.
    const std::string large = folder + "/large.bin", grown = folder + "/grown.bin";
    if (!std::filesystem::exists(large)) {
        archive_fixture::writeBytes(large, noiseBytes(24u << 20, 1));
        archive_fixture::writeBytes(grown, noiseBytes(6u << 20, 2));
    }
    std::vector<EditKillCase> cases;
    for (const bool ver2 : {false, true}) {
        const std::string flavour = ver2 ? ", VER2" : ", dir";
        cases.push_back({"add large" + flavour, ver2, "add", {large}, {}});
        cases.push_back({"replace that grows" + flavour, ver2, "replace", {"e3.dff", grown}, {}});
        cases.push_back({"remove" + flavour, ver2, "remove", {"e2.dff", "e5.dff", "e7.dff"}, {}});
        cases.push_back({"rebuild" + flavour, ver2, "rebuild", {}, {}});
    }
    return cases;
}

EditKillCase dictionaryKillCase(const std::string& folder)
{
    // The texture: 256 x 256 8888 with one level; the picture: a 1024 x 1024
    // 32-bit TGA (first row at the top), 16 times the texture's bytes.
    SectionedDictionary d;
    d.libraryVersion = 0x1803FFFF;
    for (const char* name : {"before", "grown", "after"}) {
        SectionedTexture t;
        t.name = name;
        t.layout = {TexelFormat::Bgra8888, false, 256, 256, 1};
        t.levels.push_back(noiseBytes(256 * 256 * 4, uint32_t(name[0])));
        d.textures.push_back(std::move(t));
    }
    const std::string picture = folder + "/grown.tga";
    if (!std::filesystem::exists(picture)) {
        std::vector<uint8_t> tga(18, 0);
        tga[2] = 2;
        tga[13] = 4;  // width 1024
        tga[15] = 4;  // height 1024
        tga[16] = 32;
        tga[17] = 0x28;
        const std::vector<uint8_t> pixels = noiseBytes(1024 * 1024 * 4, 3);
        tga.insert(tga.end(), pixels.begin(), pixels.end());
        archive_fixture::writeBytes(picture, tga);
    }
    EditKillCase c;
    c.label = "import that grows a texture 16-fold, dir";
    c.command = "import";
    c.extra = {"tex.txd", "grown", picture, "--picture-size"};
    c.items = {{"first.dff", noiseBytes(3 << 20, 4)},
               {"tex.txd", buildSectionedDictionary(d)},
               {"last.dff", noiseBytes(1 << 20, 5)}};
    return c;
}

EditKillLoop::EditKillLoop(const std::string& folder, const EditKillCase& edit) : folder_(folder), edit_(edit)
{
    const std::string stem = folder + "/kill" + (edit.ver2 ? "2" : "1");
    img_ = stem + ".img";
    dir_ = edit.ver2 ? "" : stem + ".dir";
    archive_ = edit.ver2 ? img_ : dir_;
    // Ten entries of 1 to 4 MiB, a gap of a sector after every other one.
    const bool ownItems = !edit.items.empty();
    std::vector<ArchiveItem> items = edit.items;
    for (int i = 0; !ownItems && i < 10; ++i) {
        items.push_back({"e" + std::to_string(i) + ".dff", noiseBytes(size_t(1 + i % 4) << 20, uint32_t(10 + i))});
        if (i % 2 == 1)
            items.push_back({"gap" + std::to_string(i), noiseBytes(2048, uint32_t(i))});
    }
    if (edit.ver2) {
        oldImg_ = buildVer2Archive(items);
    } else {
        const BuiltArchive a = buildArchive(items);
        oldImg_ = a.img;
        oldDir_ = a.dir;
    }
    restore();
    // The gaps are made by removing their entries once: the archive the
    // loop starts from has holes for rebuild to close.
    std::vector<std::string> gaps = {"remove", archive_};
    for (int i = 1; i < 10; i += 2)
        gaps.push_back("gap" + std::to_string(i));
    if (!ownItems && runQuarnixTool(gaps).exitCode != 0)
        throw std::runtime_error("the gaps could not be made");
    oldImg_ = peek(img_);
    if (!edit.ver2)
        oldDir_ = peek(dir_);
    const auto start = std::chrono::steady_clock::now();
    const ToolRun r = runQuarnixTool(args());
    micros_ = microsSince(start);
    if (r.exitCode != 0)
        throw std::runtime_error(edit.label + " failed: " + r.err);
    newImg_ = peek(img_);
    newDir_ = edit.ver2 ? std::vector<uint8_t>{} : peek(dir_);
    if (newImg_ == oldImg_ && newDir_ == oldDir_)
        throw std::runtime_error(edit.label + " changed nothing");
}

void EditKillLoop::restore()
{
    std::filesystem::remove(img_ + ".quarnix-journal");
    archive_fixture::writeBytes(img_, oldImg_);
    if (!dir_.empty())
        archive_fixture::writeBytes(dir_, oldDir_);
}

std::vector<std::string> EditKillLoop::args() const
{
    std::vector<std::string> a = {edit_.command, archive_};
    a.insert(a.end(), edit_.extra.begin(), edit_.extra.end());
    return a;
}

EditKillCounts EditKillLoop::run(int tries, unsigned seed)
{
    EditKillCounts counts;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> moment(0, micros_);
    for (int i = 0; i < tries; ++i) {
        restore();
        const Glance img = glance(img_), dir = dir_.empty() ? Glance{} : glance(dir_);
        const bool atFirstByte = i % 3 == 0;
        {
            RunningTool tool(args());
            if (atFirstByte) {
                for (;;) {
                    if (!(glance(img_) == img) || (!dir_.empty() && !(glance(dir_) == dir))) {
                        tool.signal(SIGKILL);
                        ++counts.atFirstByte;
                        break;
                    }
                    if (tool.finished())
                        break;
                }
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
                tool.signal(SIGKILL);
            }
            tool.wait();
        }
        ++counts.tries;
        const ToolRun list = runQuarnixTool({"list", archive_});
        if (list.exitCode != 0 && ++counts.listFailed == 1)
            counts.firstFailure = list.err;
        if (anyLeftover(folder_))
            ++counts.journalsLeft;
        const std::vector<uint8_t> nowImg = peek(img_), nowDir = dir_.empty() ? std::vector<uint8_t>{} : peek(dir_);
        if (nowImg == oldImg_ && nowDir == oldDir_)
            ++counts.old;
        else if (nowImg == newImg_ && nowDir == newDir_)
            ++counts.fresh;
        else
            ++counts.torn;
    }
    restore();
    return counts;
}
