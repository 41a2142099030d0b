// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Byte streams: the memory and file streams every reader and writer works on.
// Positions and sizes are 64-bit. Read/Write return the count actually moved;
// ReadBuffer/WriteBuffer insist on the full count and raise the platform's
// stream errors otherwise.
#include <cstdint>
#include <string>
#include <vector>

enum class SeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position. Seeking before 0 clamps to 0.
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t newSize);
    // Makes what was written durable; streams in memory have nothing to do.
    // "Stream write error" on failure.
    virtual void Flush() {}

    int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t pos) { Seek(pos, SeekOrigin::Begin); }

    // Reads until `count` bytes are in or the stream has no more; returns the
    // count read (streams may return short counts from a single Read).
    int64_t ReadFully(void* buffer, int64_t count);
    // "Stream read error" unless all `count` bytes were read.
    void ReadBuffer(void* buffer, int64_t count);
    // "Stream write error" unless all `count` bytes were written.
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies `count` bytes from `source` (all of it from position 0 when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A growable in-memory stream.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;

    uint8_t* Memory() { return data_.data(); }
    const std::vector<uint8_t>& bytes() const { return data_; }
    std::vector<uint8_t>& bytes() { return data_; }
    void Clear()
    {
        data_.clear();
        pos_ = 0;
    }
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);

private:
    std::vector<uint8_t> data_;
    int64_t pos_ = 0;
};

// A read-only stream over memory the caller owns (fuzz targets, parsers of
// buffers already in memory). Writes fail.
class TReadOnlyMemoryStream : public TStream {
public:
    TReadOnlyMemoryStream(const void* data, int64_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return size_; }

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t pos_ = 0;
};

// How a file is opened, and what other programs may do with it meanwhile.
// Sharing is enforced with open-file-description locks and, beside them,
// BSD flock locks of the same kind (so programs that use either are seen):
// readers that lock other writers out take shared locks, an exclusive writer
// exclusive ones; a lock that cannot be had is "Cannot open file %s".
enum class FileMode {
    Create,                  // create or truncate, read/write; "Cannot create file %s"
    OpenReadShareDenyWrite,  // read; other programs may read, not write
    OpenReadShareDenyNone,   // read; no restriction on others
    OpenReadWriteExclusive,  // read and write; nobody else may open it
};

class TFileStream : public TStream {
public:
    TFileStream(const std::string& path, FileMode mode);
    ~TFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;
    // Flushes written data to the storage device; "Stream write error" on failure.
    void Flush() override;
    const std::string& FileName() const { return path_; }
    int Handle() const { return fd_; }

private:
    std::string path_;
    int fd_ = -1;
};
