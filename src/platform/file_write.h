// SPDX-License-Identifier: GPL-2.0-or-later
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

// A file written with FileSync::Deferred is handed to the storage device's
// queue as soon as it is complete (without waiting), so the later sync only
// waits for what is still on its way.
//
// Raises EFCreateError "Cannot create file %s" (the target's path) when the
// temporary file cannot be made or renamed into place, EWriteError "Stream
// write error" when writing or flushing fails; the error's detail names the
// target and the system's reason. A target that existed keeps its
// permission bits; a new one gets the usual ones (0666 less the umask); a
// file system that cannot hold permissions is written all the same. A
// symbolic link in the target's place is replaced, never written through.
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

// Writes a file that must be new, the same way (a temporary file beside it,
// flushed, then put in place), except that it never takes the place of
// anything: a name taken already, by a file, a folder or a symbolic link,
// before the write or the moment the file is put in place, raises
// EFCreateError "Cannot create file %s" whose detail says that the file
// exists already; the temporary file is removed. The new file gets 0666
// less the umask.
void writeNewFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Makes `folder` and any missing parents; EFCreateError "Cannot create folder
// %s" when that fails or the path is taken by something that is no folder.
void makeFolder(const std::string& folder);

// A folder that files are written into, opened once: its sub-folders and
// files are made relative to it and never through a symbolic link, so a
// link planted inside it cannot send a write elsewhere.
class OutputFolder {
public:
    // Opens `path` (a link given as the path itself is followed), making it
    // and its parents when missing; EFCreateError "Cannot create folder %s".
    // The umask is read here, once for every file written through this
    // folder and its sub-folders.
    explicit OutputFolder(const std::string& path);
    OutputFolder(OutputFolder&& other) noexcept;
    OutputFolder& operator=(OutputFolder&&) = delete;
    ~OutputFolder();

    const std::string& path() const { return path_; }
    // path() + "/" + name.
    std::string pathOf(const std::string& name) const;
    // The sub-folder `name`, made when missing; a symbolic link in its place
    // is refused with EFCreateError "Cannot create folder %s".
    OutputFolder subFolder(const std::string& name) const;
    // writeFileReplacing for the file `name` of this folder; a symbolic link
    // in its place is refused with EFCreateError "Cannot create file %s".
    void writeFile(const std::string& name, const void* data, int64_t size, FileSync sync) const;
    void writeFile(const std::string& name, const std::vector<uint8_t>& bytes, FileSync sync) const
    {
        writeFile(name, bytes.data(), static_cast<int64_t>(bytes.size()), sync);
    }
    void writeFile(const std::string& name, TStream& source, int64_t count, FileSync sync) const;
    // syncFileSystemOf for this folder.
    void syncFileSystem() const;
    // True for a sub-folder made by subFolder (it was not there before): its
    // files are new, so they are written without looking for earlier ones
    // in their place (and get 0666 less the umask).
    bool madeNow() const { return madeNow_; }

private:
    OutputFolder(int fd, std::string path, unsigned newFileMode, bool madeNow);
    int fd_ = -1;
    std::string path_;
    unsigned newFileMode_ = 0;  // 0666 less the umask when the folder was first opened
    bool madeNow_ = false;
};

// Installs handlers for SIGINT, SIGTERM, SIGHUP and SIGQUIT that remove the
// temporary files being written at that moment and then end the program as
// the signal would have (files already complete stay). For the tool.
void removeTemporaryFilesOnSignal();
// What those handlers write to stderr before the program ends ("12 of 200
// textures written; interrupted"); "" for nothing.
void setSignalFarewell(const std::string& text);

// Holds SIGINT, SIGTERM, SIGHUP and SIGQUIT off the calling thread for its
// lifetime; one that arrives meanwhile is delivered at the end.
class SignalsHeldOff {
public:
    SignalsHeldOff();
    ~SignalsHeldOff();
    SignalsHeldOff(const SignalsHeldOff&) = delete;
    SignalsHeldOff& operator=(const SignalsHeldOff&) = delete;

private:
    alignas(8) unsigned char previous_[128];
};

// Flushes everything written to the file system holding `folder` to the
// storage device: the one sync after a run of FileSync::Deferred writes.
// EWriteError "Stream write error" when that fails.
void syncFileSystemOf(const std::string& folder);
