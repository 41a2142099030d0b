// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file_write.h"

#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

// Bytes copied at a time from a stream into a new file.
constexpr int64_t kCopyBlock = 1 << 20;

// ---- temporary files a signal removes ----

// The temporary files being written just now, by path. A signal handler
// removes them, so it may only read what it finds here: fixed storage, each
// slot published with its flag once its path is complete.
struct TemporarySlot {
    std::atomic<bool> used{false};
    char path[4096];
};
TemporarySlot gTemporaries[16];

const int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

int registerTemporary(const std::string& path)
{
    if (path.size() >= sizeof gTemporaries[0].path)
        return -1;
    for (int i = 0; i < int(std::size(gTemporaries)); ++i) {
        TemporarySlot& slot = gTemporaries[i];
        if (slot.used.load(std::memory_order_acquire))
            continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.used.store(true, std::memory_order_release);
        return i;
    }
    return -1;
}

void unregisterTemporary(int slot)
{
    if (slot >= 0)
        gTemporaries[slot].used.store(false, std::memory_order_release);
}

// What the program says when a signal ends it: two buffers, the one
// published being read by the handler while the other is written.
struct Farewell {
    char text[2][512];
    std::atomic<int> current{-1};  // the buffer to print; -1 none
};
Farewell gFarewell;

extern "C" void removeTemporariesAndDie(int signal)
{
    for (TemporarySlot& slot : gTemporaries)
        if (slot.used.load(std::memory_order_acquire))
            ::unlink(slot.path);
    const int which = gFarewell.current.load(std::memory_order_acquire);
    if (which >= 0) {
        const char* text = gFarewell.text[which];
        ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
        (void)ignored;
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);  // delivered with the default action once this handler returns
}

// ---- writing ----

[[noreturn]] void failCreate(const std::string& path, int errnum)
{
    throw cannotCreate(path, systemErrorDetail("cannot create", path, errnum));
}

[[noreturn]] void failWrite(const std::string& path, int errnum)
{
    throw streamWriteError(systemErrorDetail("cannot write", path, errnum));
}

// The permission bits of a new file: 0666 less the process's umask (which
// can only be read by setting it).
unsigned usualNewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// False with errno set when a write fails.
bool writeAll(int fd, const uint8_t* p, int64_t size)
{
    int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, p + done, static_cast<size_t>(std::min<int64_t>(size - done, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Six characters for a temporary name. The generator is seeded once per
// thread from the system's random source; a clash only costs another try,
// as the file is made with O_EXCL.
std::string randomSuffix()
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local uint64_t state = [] {
        uint64_t seed = 0;
        if (::getrandom(&seed, sizeof seed, 0) != ssize_t(sizeof seed)) {
            static std::atomic<unsigned> counter{0};
            seed = uint64_t(::getpid()) * 2654435761u + counter++;
        }
        return seed;
    }();
    // splitmix64
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    std::string s(6, ' ');
    for (char& c : s) {
        c = kChars[z % (sizeof kChars - 1)];
        z /= (sizeof kChars - 1);
    }
    return s;
}

// The refusal of a new file whose name is taken.
[[noreturn]] void failExists(const std::string& path)
{
    throw cannotCreate(path, "not writing " + escapeControlCharacters(path)
                                 + ": it exists already, and a new file never replaces one");
}

// Puts the finished temporary file in place under `name`, failing with
// EEXIST when the name is taken: a rename that does not replace, or where
// the file system cannot do that, a hard link and the removal of the
// temporary name. False with errno set when it fails.
bool placeWithoutReplacing(int dirFd, const std::string& tempName, const std::string& name)
{
    if (::renameat2(dirFd, tempName.c_str(), dirFd, name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    if (::linkat(dirFd, tempName.c_str(), dirFd, name.c_str(), 0) != 0)
        return false;
    ::unlinkat(dirFd, tempName.c_str(), 0);
    return true;
}

// Makes a temporary file beside `name` in the folder `dirFd`, has `fill`
// write the contents to its descriptor (false: a write failed, errno says
// why; an exception propagates), flushes it unless deferred and renames it
// over `name`. Nothing is written through a link: a link in the target's
// place is refused when `refuseLink`, otherwise replaced by the new file.
// The temporary file never outlives a failure, nor a signal the tool
// handles. `path` is how messages name the target. In a folder this
// process has just made (`freshFolder`) there is no earlier file whose
// permissions to keep: the file is made with 0666 less the umask straight
// away and the target is not looked at (a link planted there meanwhile is
// replaced by the rename, never written through).
//
// A file that must be new (`newOnly`) is refused when its name is taken, by
// anything, before and at the moment it is put in place: it is linked or
// renamed to its name in a way that never replaces what may have appeared
// there meanwhile.
void replaceFile(int dirFd, const std::string& name, const std::string& path, FileSync sync, bool refuseLink,
                 const std::function<bool(int fd)>& fill, unsigned newFileMode, bool freshFolder = false,
                 bool newOnly = false)
{
    if (newOnly) {
        struct stat existing {};
        if (::fstatat(dirFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
            failExists(path);
        freshFolder = true;  // no earlier file whose permissions to keep
    }
    // The permission bits the temporary file is given after it is made, or
    // none when creating it gave it the right ones.
    bool setMode = !freshFolder;
    mode_t mode = 0;
    if (!freshFolder) {
        struct stat existing {};
        const bool exists = ::fstatat(dirFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
        if (refuseLink && exists && S_ISLNK(existing.st_mode))
            throw cannotCreate(path, "not writing " + escapeControlCharacters(path) + ": it is a symbolic link");
        mode = exists && S_ISREG(existing.st_mode) ? existing.st_mode & 07777 : mode_t(newFileMode);
    }
    const std::string folder = path.substr(0, path.size() - name.size());
    std::string tempName;
    int fd = -1;
    int slot = -1;
    {
        SignalsHeldOff held;  // the file and its entry in the list of temporaries come together
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            tempName = name + ".qx-" + randomSuffix();
            fd = ::openat(dirFd, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          setMode ? 0600 : 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0)
            failCreate(path, errno);
        slot = registerTemporary(folder + tempName);
    }
    const auto discard = [&] {
        SignalsHeldOff held;
        ::unlinkat(dirFd, tempName.c_str(), 0);
        unregisterTemporary(slot);
    };
    int errnum = 0;
    bool written = false;
    try {
        // File systems without Unix permissions (FAT and the like through
        // FUSE) refuse to set them; the file is written all the same.
        const bool moded =
            !setMode || ::fchmod(fd, mode) == 0 || errno == ENOSYS || errno == EPERM || errno == EOPNOTSUPP;
        if (!moded)
            errnum = errno;
        written = moded && fill(fd);
        if (moded && !written)
            errnum = errno;
        if (written && sync == FileSync::Now && ::fsync(fd) != 0) {
            errnum = errno;
            written = false;
        }
        // A deferred file starts on its way to the disk now, without waiting
        // for it, so that the one sync at the end of the run has little
        // left to wait for.
        if (written && sync == FileSync::Deferred)
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    } catch (...) {
        ::close(fd);
        discard();
        throw;
    }
    if (::close(fd) != 0 && written) {
        errnum = errno;
        written = false;
    }
    if (!written) {
        discard();
        failWrite(path, errnum);
    }
    SignalsHeldOff held;  // renamed and struck off the list together
    const bool placed = newOnly ? placeWithoutReplacing(dirFd, tempName, name)
                                : ::renameat(dirFd, tempName.c_str(), dirFd, name.c_str()) == 0;
    if (!placed) {
        errnum = errno;
        ::unlinkat(dirFd, tempName.c_str(), 0);
        unregisterTemporary(slot);
        if (newOnly && errnum == EEXIST)
            failExists(path);
        failCreate(path, errnum);
    }
    unregisterTemporary(slot);
}

// The folder part and the last component of a path ("a/b.tga" -> "a", "b.tga").
void splitPath(const std::string& path, std::string& folder, std::string& name)
{
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

void replaceFileAtPath(const std::string& path, FileSync sync, const std::function<bool(int fd)>& fill,
                       bool newOnly = false)
{
    std::string folder, name;
    splitPath(path, folder, name);
    if (name.empty() || name == "." || name == "..")
        failCreate(path, EISDIR);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        failCreate(path, errno);
    try {
        replaceFile(dirFd, name, path, sync, false, fill, usualNewFileMode(), false, newOnly);
    } catch (...) {
        ::close(dirFd);
        throw;
    }
    ::close(dirFd);
}

std::function<bool(int)> bytesFiller(const void* data, int64_t size)
{
    return [data, size](int fd) { return writeAll(fd, static_cast<const uint8_t*>(data), size); };
}

std::function<bool(int)> streamFiller(TStream& source, int64_t count)
{
    return [&source, count](int fd) {
        std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(count, 0, kCopyBlock)));
        for (int64_t done = 0; done < count;) {
            const int64_t want = std::min<int64_t>(count - done, kCopyBlock);
            source.ReadBuffer(buffer.data(), want);
            if (!writeAll(fd, buffer.data(), want))
                return false;
            done += want;
        }
        return true;
    };
}

}  // namespace

void writeFileReplacing(const std::string& path, const void* data, int64_t size, FileSync sync)
{
    replaceFileAtPath(path, sync, bytesFiller(data, size));
}

void writeFileReplacing(const std::string& path, TStream& source, int64_t count, FileSync sync)
{
    replaceFileAtPath(path, sync, streamFiller(source, count));
}

void writeNewFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    replaceFileAtPath(path, FileSync::Now, bytesFiller(bytes.data(), int64_t(bytes.size())), true);
}

void makeFolder(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec))
        throw EFCreateError("Cannot create folder " + folder,
                            systemErrorDetail("cannot create folder", folder, ec ? ec.value() : ENOTDIR));
}

void syncFileSystemOf(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    const int errnum = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        throw streamWriteError(systemErrorDetail("cannot flush", folder, errnum));
}

// ---- OutputFolder ----

OutputFolder::OutputFolder(const std::string& path) : path_(path), newFileMode_(usualNewFileMode())
{
    makeFolder(path);
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        throw EFCreateError("Cannot create folder " + path, systemErrorDetail("cannot open folder", path, errno));
}

OutputFolder::OutputFolder(int fd, std::string path, unsigned newFileMode, bool madeNow)
    : fd_(fd), path_(std::move(path)), newFileMode_(newFileMode), madeNow_(madeNow)
{}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), newFileMode_(other.newFileMode_), madeNow_(other.madeNow_)
{
    other.fd_ = -1;
}

OutputFolder::~OutputFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string OutputFolder::pathOf(const std::string& name) const
{
    return path_ + "/" + name;
}

OutputFolder OutputFolder::subFolder(const std::string& name) const
{
    const std::string path = pathOf(name);
    const bool made = ::mkdirat(fd_, name.c_str(), 0777) == 0;
    if (!made && errno != EEXIST)
        throw EFCreateError("Cannot create folder " + path, systemErrorDetail("cannot create folder", path, errno));
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int errnum = errno;
        struct stat st {};
        if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            throw EFCreateError("Cannot create folder " + path,
                                "not writing into " + escapeControlCharacters(path) + ": it is a symbolic link");
        throw EFCreateError("Cannot create folder " + path, systemErrorDetail("cannot create folder", path, errnum));
    }
    return OutputFolder(fd, path, newFileMode_, made);
}

void OutputFolder::writeFile(const std::string& name, const void* data, int64_t size, FileSync sync) const
{
    replaceFile(fd_, name, pathOf(name), sync, true, bytesFiller(data, size), newFileMode_, madeNow_);
}

void OutputFolder::writeFile(const std::string& name, TStream& source, int64_t count, FileSync sync) const
{
    replaceFile(fd_, name, pathOf(name), sync, true, streamFiller(source, count), newFileMode_, madeNow_);
}

void OutputFolder::syncFileSystem() const
{
    if (::syncfs(fd_) != 0)
        throw streamWriteError(systemErrorDetail("cannot flush", path_, errno));
}

// ---- signals ----

void setSignalFarewell(const std::string& text)
{
    if (text.empty()) {
        gFarewell.current.store(-1, std::memory_order_release);
        return;
    }
    const int next = gFarewell.current.load(std::memory_order_relaxed) == 0 ? 1 : 0;
    const size_t n = std::min(text.size(), sizeof gFarewell.text[0] - 1);
    std::memcpy(gFarewell.text[next], text.data(), n);
    gFarewell.text[next][n] = '\0';
    gFarewell.current.store(next, std::memory_order_release);
}

void removeTemporaryFilesOnSignal()
{
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    for (int s : kHeldSignals)
        sigaddset(&action.sa_mask, s);
    for (int s : kHeldSignals) {
        struct sigaction old {};
        // A signal the caller's parent had ignored (nohup) stays ignored.
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ::sigaction(s, &action, nullptr);
    }
}

SignalsHeldOff::SignalsHeldOff()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : kHeldSignals)
        sigaddset(&set, s);
    static_assert(sizeof(sigset_t) <= sizeof previous_, "room for the previous signal mask");
    ::pthread_sigmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(previous_));
}

SignalsHeldOff::~SignalsHeldOff()
{
    ::pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(previous_), nullptr);
}
