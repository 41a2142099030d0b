#include "platform/file_write.h"

#include "platform/exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

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

} // namespace

void writeFileReplacing(const std::string& path, const void* data, int64_t size, FileSync sync)
{
    const std::string cannotCreate = "Cannot create file " + path;
    std::vector<char> temp(path.begin(), path.end());
    const char suffix[] = ".qx-XXXXXX";
    temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with its NUL
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw EFCreateError(cannotCreate);
    const char* tempPath = temp.data();
    const bool written = ::fchmod(fd, newFileMode(path)) == 0 &&
                         writeAll(fd, static_cast<const uint8_t*>(data), size) &&
                         (sync == FileSync::Deferred || ::fsync(fd) == 0);
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
