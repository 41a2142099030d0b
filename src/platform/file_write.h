#pragma once
// Writing a whole new file without ever leaving a half-written one: the bytes
// go to a fresh temporary file beside the target, are flushed to the storage
// device and the temporary file is then renamed over the target. A failure at
// any step removes the temporary file and leaves an existing target as it was.
#include <cstdint>
#include <string>
#include <vector>

class TStream;

// When the finished file is flushed to the storage device: before it is
// renamed into place (the default), or later by the caller for a whole run of
// files at once (one file-system sync at the end of a bulk export).
enum class FileSync { Now, Deferred };

// Raises EFCreateError "Cannot create file %s" (the target's path) when the
// temporary file cannot be made or renamed into place, EWriteError "Stream
// write error" when writing or flushing fails. A target that existed keeps
// its permission bits; a new one gets the usual ones (0666 less the umask).
void writeFileReplacing(const std::string& path, const void* data, int64_t size, FileSync sync = FileSync::Now);
inline void writeFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes,
                               FileSync sync = FileSync::Now)
{
    writeFileReplacing(path, bytes.data(), static_cast<int64_t>(bytes.size()), sync);
}
// The same for `count` bytes read from `source` at its position, copied a
// block at a time (the whole never sits in memory). EReadError "Stream read
// error" when the source ends before `count` bytes.
void writeFileReplacing(const std::string& path, TStream& source, int64_t count, FileSync sync = FileSync::Now);

// Makes `folder` and any missing parents; EFCreateError "Cannot create folder
// %s" when that fails or the path is taken by something that is no folder.
void makeFolder(const std::string& folder);

// Flushes everything written to the file system holding `folder` to the
// storage device: the one sync after a run of FileSync::Deferred writes.
// EWriteError "Stream write error" when that fails.
void syncFileSystemOf(const std::string& folder);
