// SPDX-License-Identifier: GPL-2.0-or-later
#include "archive/archive_fs.h"

#include "archive/transaction.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

class SystemArchiveFs : public ArchiveFs {
public:
    std::unique_ptr<TStream> open(const std::string& path, ArchiveFileAccess access) override
    {
        switch (access) {
        case ArchiveFileAccess::Read: return std::make_unique<TFileStream>(path, FileMode::OpenReadShareDenyWrite);
        case ArchiveFileAccess::Edit: return std::make_unique<TFileStream>(path, FileMode::OpenReadWriteExclusive);
        case ArchiveFileAccess::CreateNew: break;
        }
        // A link or anything else standing at the name goes first: the new
        // file is never written through it.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            ::unlink(path.c_str());
        return std::make_unique<TFileStream>(path, FileMode::Create);
    }

    bool exists(const std::string& path) override
    {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }

    bool isLink(const std::string& path) override
    {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }

    std::optional<std::vector<uint8_t>> readWhole(const std::string& path) override
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            if (errno == ENOENT)
                return std::nullopt;
            throw unreadable(path, errno);
        }
        std::vector<uint8_t> bytes;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int errnum = errno;
            ::close(fd);
            throw unreadable(path, S_ISREG(st.st_mode) ? errnum : EINVAL);
        }
        uint8_t buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                const int errnum = errno;
                ::close(fd);
                throw unreadable(path, errnum);
            }
            if (n == 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        ::close(fd);
        return bytes;
    }

    void remove(const std::string& path) override
    {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw streamWriteError(systemErrorDetail("cannot remove", path, errno));
    }

    void rename(const std::string& from, const std::string& to) override
    {
        if (::rename(from.c_str(), to.c_str()) != 0)
            throw streamWriteError(systemErrorDetail("cannot rename to " + to + ":", from, errno));
    }

    void syncFolder(const std::string& folder) override
    {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        const int errnum = errno;
        if (fd >= 0)
            ::close(fd);
        if (!synced)
            throw streamWriteError(systemErrorDetail("cannot flush folder", folder, errnum));
    }

    bool makeFolder(const std::string& path) override
    {
        if (::mkdir(path.c_str(), 0700) == 0)
            return true;
        if (errno == EEXIST)
            return false;
        throw EWriteError("Cannot create folder " + path, systemErrorDetail("cannot create folder", path, errno));
    }

    void copyMode(const std::string& from, const std::string& to) override
    {
        struct stat st {};
        if (::stat(from.c_str(), &st) != 0 || ::chmod(to.c_str(), st.st_mode & 07777) != 0) {
            // A file system without permission bits is no reason to stop.
            if (errno != ENOSYS && errno != EPERM && errno != EOPNOTSUPP)
                throw streamWriteError(systemErrorDetail("cannot set the permissions of", to, errno));
        }
    }

    std::vector<std::string> list(const std::string& folder) override
    {
        std::vector<std::string> names;
        DIR* d = ::opendir(folder.c_str());
        if (!d)
            return names;
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            struct stat st {};
            if (name != "." && name != ".." && ::lstat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                names.push_back(name);
        }
        ::closedir(d);
        return names;
    }

    int64_t freeSpace(const std::string& folder) override
    {
        struct statvfs st {};
        if (::statvfs(folder.c_str(), &st) != 0)
            return -1;
        return int64_t(st.f_bavail) * int64_t(st.f_frsize);
    }

private:
    static EJournalUnreadable unreadable(const std::string& path, int errnum)
    {
        return EJournalUnreadable(
            "The journal " + path + " cannot be read (" + std::strerror(errnum) + "); it was left as it is",
            systemErrorDetail("cannot read the journal", path, errnum) + "; it was left as it is");
    }
};

}  // namespace

ArchiveFs& systemArchiveFs()
{
    static SystemArchiveFs fs;
    return fs;
}

std::string folderOfPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}
