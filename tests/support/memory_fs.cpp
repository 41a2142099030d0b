// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/memory_fs.h"

#include "archive/transaction.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>

namespace {

class MemoryFile : public TStream {
public:
    MemoryFile(MemoryFs& fs, std::string path, std::shared_ptr<MemoryFs::Node> node)
        : fs_(fs), path_(std::move(path)), node_(std::move(node))
    {}
    int64_t Read(void* buffer, int64_t count) override
    {
        const int64_t size = int64_t(node_->bytes.size());
        if (count <= 0 || pos_ >= size)
            return 0;
        const int64_t n = std::min(count, size - pos_);
        std::memcpy(buffer, node_->bytes.data() + pos_, size_t(n));
        pos_ += n;
        return n;
    }
    int64_t Write(const void* buffer, int64_t count) override
    {
        fs_.step("write " + path_, true);
        if (count <= 0)
            return 0;
        std::vector<uint8_t> bytes(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + count);
        if (fs_.onWrite)
            fs_.onWrite(path_, pos_, bytes);
        if (pos_ + count > int64_t(node_->bytes.size()))
            node_->bytes.resize(size_t(pos_ + count));
        std::memcpy(node_->bytes.data() + pos_, bytes.data(), size_t(count));
        pos_ += count;
        return count;
    }
    int64_t Seek(int64_t offset, SeekOrigin origin) override
    {
        const int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? pos_ : Size();
        pos_ = std::max<int64_t>(base + offset, 0);
        return pos_;
    }
    int64_t Size() override { return int64_t(node_->bytes.size()); }
    void SetSize(int64_t size) override
    {
        fs_.step("truncate " + path_, true);
        node_->bytes.resize(size_t(std::max<int64_t>(size, 0)));
    }
    void Flush() override
    {
        fs_.step("sync " + path_, true);
        node_->synced = node_->bytes;
    }

private:
    MemoryFs& fs_;
    std::string path_;
    std::shared_ptr<MemoryFs::Node> node_;
    int64_t pos_ = 0;
};

}  // namespace

void MemoryFs::step(const std::string& op, bool isWrite)
{
    if (dead_)
        throw PowerCut();
    log.push_back(op);
    if (cutWhen && cutWhen(op)) {
        log.pop_back();
        dead_ = true;
        throw PowerCut();
    }
    if (failWhen && failWhen(op)) {
        if (isWrite)
            throw EWriteError("Stream write error", "injected failure: " + op);
        throw EReadError("Stream read error", "injected failure: " + op);
    }
}

void MemoryFs::put(const std::string& path, std::vector<uint8_t> bytes)
{
    auto node = std::make_shared<Node>();
    node->bytes = bytes;
    node->synced = std::move(bytes);
    names_[path] = node;
    durable_[path] = node;
}

std::optional<std::vector<uint8_t>> MemoryFs::get(const std::string& path) const
{
    const auto it = names_.find(path);
    if (it == names_.end())
        return std::nullopt;
    return it->second->bytes;
}

std::vector<std::string> MemoryFs::files() const
{
    std::vector<std::string> out;
    for (const auto& [name, node] : names_)
        out.push_back(name);
    return out;
}

void MemoryFs::powerCut()
{
    dead_ = false;
    names_ = durable_;
    for (auto& [name, node] : names_)
        node->bytes = node->synced;
}

std::unique_ptr<TStream> MemoryFs::open(const std::string& path, ArchiveFileAccess access)
{
    if (access == ArchiveFileAccess::CreateNew) {
        step("create " + path, true);
        auto node = std::make_shared<Node>();
        names_[path] = node;
        return std::make_unique<MemoryFile>(*this, path, node);
    }
    if (access == ArchiveFileAccess::Read)
        step("read " + path, false);
    else if (dead_)
        throw PowerCut();
    const auto it = names_.find(path);
    if (it == names_.end())
        throw cannotOpen(path, "cannot open " + path + ": No such file or directory");
    return std::make_unique<MemoryFile>(*this, path, it->second);
}

bool MemoryFs::exists(const std::string& path)
{
    if (dead_)
        throw PowerCut();
    return names_.count(path) > 0;
}

bool MemoryFs::isLink(const std::string&)
{
    return false;
}

std::optional<std::vector<uint8_t>> MemoryFs::readWhole(const std::string& path)
{
    step("read " + path, false);
    if (unreadable.count(path))
        throw EJournalUnreadable("The journal " + path + " cannot be read (Permission denied); it was left as it is");
    return get(path);
}

void MemoryFs::remove(const std::string& path)
{
    step("remove " + path, true);
    names_.erase(path);
}

void MemoryFs::rename(const std::string& from, const std::string& to)
{
    step("rename " + from + " " + to, true);
    const auto it = names_.find(from);
    if (it == names_.end())
        throw EWriteError("Stream write error", "cannot rename " + from + ": No such file or directory");
    names_[to] = it->second;
    names_.erase(from);
}

void MemoryFs::syncFolder(const std::string& folder)
{
    step("syncFolder " + folder, true);
    // The folder's entries as they are now become durable; other folders' stay.
    for (auto it = durable_.begin(); it != durable_.end();)
        it = folderOfPath(it->first) == folder ? durable_.erase(it) : std::next(it);
    for (const auto& [name, node] : names_)
        if (folderOfPath(name) == folder)
            durable_[name] = node;
}

bool MemoryFs::makeFolder(const std::string& path)
{
    step("mkdir " + path, true);
    return folders_.insert(path).second;
}

void MemoryFs::copyMode(const std::string& from, const std::string& to)
{
    step("chmod " + to, true);
    if (has(from) && has(to))
        names_[to]->mode = names_[from]->mode;
}

int64_t MemoryFs::freeSpace(const std::string&)
{
    return free;
}

std::vector<std::string> MemoryFs::list(const std::string& folder)
{
    std::vector<std::string> out;
    for (const auto& [name, node] : names_)
        if (folderOfPath(name) == folder)
            out.push_back(name.substr(folder.size() + 1));
    return out;
}
