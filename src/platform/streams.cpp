// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/streams.h"

#include "platform/exceptions.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t TStream::Size()
{
    const int64_t pos = Seek(0, SeekOrigin::Current);
    const int64_t end = Seek(0, SeekOrigin::End);
    Seek(pos, SeekOrigin::Begin);
    return end;
}

void TStream::SetSize(int64_t)
{
    throw streamWriteError();
}

int64_t TStream::ReadFully(void* buffer, int64_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t n = Read(p + done, count - done);
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

void TStream::ReadBuffer(void* buffer, int64_t count)
{
    if (count != 0 && ReadFully(buffer, count) != count)
        throw streamReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw streamWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
    int64_t left = count;
    while (left > 0) {
        const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
        source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        left -= n;
    }
    return count;
}

static int64_t seekTarget(int64_t pos, int64_t size, int64_t offset, SeekOrigin origin)
{
    int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? pos : size;
    int64_t target = base + offset;
    return target < 0 ? 0 : target;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count)
{
    if (count <= 0 || pos_ >= Size())
        return 0;
    const int64_t n = std::min(count, Size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count)
{
    if (count <= 0)
        return 0;
    if (pos_ + count > Size())
        data_.resize(static_cast<size_t>(pos_ + count));
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin)
{
    pos_ = seekTarget(pos_, Size(), offset, origin);
    return pos_;
}

void TMemoryStream::SetSize(int64_t newSize)
{
    data_.resize(static_cast<size_t>(std::max<int64_t>(newSize, 0)));
    pos_ = std::min(pos_, Size());
}

void TMemoryStream::LoadFromFile(const std::string& path)
{
    TFileStream f(path, FileMode::OpenReadShareDenyWrite);
    const int64_t n = f.Size();
    data_.resize(static_cast<size_t>(n));
    f.ReadBuffer(data_.data(), n);
    pos_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& path)
{
    TFileStream f(path, FileMode::Create);
    f.WriteBuffer(data_.data(), Size());
}

int64_t TReadOnlyMemoryStream::Read(void* buffer, int64_t count)
{
    if (count <= 0 || pos_ >= size_)
        return 0;
    const int64_t n = std::min(count, size_ - pos_);
    std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, SeekOrigin origin)
{
    pos_ = seekTarget(pos_, size_, offset, origin);
    return pos_;
}

namespace {
bool lockWhole(int fd, short type)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// The BSD lock of the same kind, so that programs that lock with flock see
// ours and are seen. A file system that has no such locks is no refusal.
bool flockWhole(int fd, int operation)
{
    while (::flock(fd, operation | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return errno != EWOULDBLOCK && errno != EAGAIN;
    }
    return true;
}
}  // namespace

TFileStream::TFileStream(const std::string& path, FileMode mode) : path_(path)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case FileMode::OpenReadShareDenyWrite:
    case FileMode::OpenReadShareDenyNone: flags |= O_RDONLY; break;
    case FileMode::OpenReadWriteExclusive: flags |= O_RDWR; break;
    }
    const auto fail = [&](int errnum, const char* reason) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        const bool create = mode == FileMode::Create;
        std::string detail = create ? "cannot create " : "cannot open ";
        detail += escapeControlCharacters(path) + ": " + (reason ? reason : std::strerror(errnum));
        if (create)
            throw cannotCreate(path, detail);
        throw cannotOpen(path, detail);
    };
    // Opened without waiting, so a named pipe in place of a file cannot stall
    // the program; only regular files are accepted below.
    fd_ = ::open(path.c_str(), flags | O_NONBLOCK, 0666);
    if (fd_ < 0)
        fail(errno, nullptr);
    struct stat st {};
    if (fstat(fd_, &st) != 0)
        fail(errno, nullptr);
    if (!S_ISREG(st.st_mode))
        fail(0, S_ISDIR(st.st_mode) ? "Is a directory" : "not a regular file");
    if (fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0)
        fail(errno, nullptr);
    bool locked = true;
    if (mode == FileMode::OpenReadShareDenyWrite)
        locked = lockWhole(fd_, F_RDLCK) && flockWhole(fd_, LOCK_SH);
    else if (mode == FileMode::OpenReadWriteExclusive || mode == FileMode::Create)
        locked = lockWhole(fd_, F_WRLCK) && flockWhole(fd_, LOCK_EX);
    if (!locked)
        fail(0, "another program has it open");
}

TFileStream::~TFileStream()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count)
{
    int64_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::read(fd_, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count)
{
    int64_t done = 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin)
{
    const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (r < 0)
        r = ::lseek(fd_, 0, SEEK_CUR);
    return static_cast<int64_t>(r);
}

int64_t TFileStream::Size()
{
    struct stat st {};
    if (fstat(fd_, &st) != 0)
        throw streamReadError();
    return static_cast<int64_t>(st.st_size);
}

void TFileStream::SetSize(int64_t newSize)
{
    if (ftruncate(fd_, static_cast<off_t>(newSize)) != 0)
        throw streamWriteError();
}

void TFileStream::Flush()
{
    if (fsync(fd_) != 0)
        throw streamWriteError(systemErrorDetail("cannot flush", path_, errno));
}
