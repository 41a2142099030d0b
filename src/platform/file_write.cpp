#include "platform/file_write.h"

#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Bytes copied at a time from a stream into a new file.
constexpr int64_t kCopyBlock = 1 << 20;

mode_t newFileMode(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool writeAll(int fd, const uint8_t* p, int64_t size)
{
    int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, p + done, static_cast<size_t>(std::min<int64_t>(size - done, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Makes a temporary file beside `path`, has `fill` write the contents to its
// descriptor (false: "Stream write error"; an exception propagates), flushes
// it unless deferred and renames it over `path`. The temporary file never
// outlives a failure.
void replaceFile(const std::string& path, FileSync sync, const std::function<bool(int fd)>& fill)
{
    const std::string cannotCreate = "Cannot create file " + path;
    std::vector<char> temp(path.begin(), path.end());
    const char suffix[] = ".qx-XXXXXX";
    temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with its NUL
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw EFCreateError(cannotCreate);
    const char* tempPath = temp.data();
    bool written = false;
    try {
        written = ::fchmod(fd, newFileMode(path)) == 0 && fill(fd) && (sync == FileSync::Deferred || ::fsync(fd) == 0);
    } catch (...) {
        ::close(fd);
        ::unlink(tempPath);
        throw;
    }
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(tempPath);
        throw EWriteError("Stream write error");
    }
    if (::rename(tempPath, path.c_str()) != 0) {
        ::unlink(tempPath);
        throw EFCreateError(cannotCreate);
    }
}

} // namespace

void writeFileReplacing(const std::string& path, const void* data, int64_t size, FileSync sync)
{
    replaceFile(path, sync, [&](int fd) { return writeAll(fd, static_cast<const uint8_t*>(data), size); });
}

void writeFileReplacing(const std::string& path, TStream& source, int64_t count, FileSync sync)
{
    replaceFile(path, sync, [&](int fd) {
        std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(count, 0, kCopyBlock)));
        for (int64_t done = 0; done < count;) {
            const int64_t want = std::min<int64_t>(count - done, kCopyBlock);
            source.ReadBuffer(buffer.data(), want);
            if (!writeAll(fd, buffer.data(), want))
                return false;
            done += want;
        }
        return true;
    });
}

void makeFolder(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec))
        throw EFCreateError("Cannot create folder " + folder);
}

void syncFileSystemOf(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        throw EWriteError("Stream write error");
}
