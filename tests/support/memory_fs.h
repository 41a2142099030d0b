// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Files in memory for the archive core's tests, with what a disk adds: what
// was written but not yet synced is lost by a power cut (as in the crash
// tests of databases that drop unsynced writes), folder entries (new,
// renamed and removed files) survive one only once their folder is synced.
// Every operation is recorded in order, and any one can be made to fail or
// to be the moment the power goes.
#include "archive/archive_fs.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// Thrown by every operation from the moment of a power cut on, so that the
// code under test stops where it stood; not an Exception, so nothing that
// handles failures catches it.
struct PowerCut : std::runtime_error {
    PowerCut() : std::runtime_error("power cut") {}
};

class MemoryFs : public ArchiveFs {
public:
    struct Node {
        std::vector<uint8_t> bytes;   // what reads see
        std::vector<uint8_t> synced;  // what survives a power cut
        int mode = 0644;
    };

    // The operations so far, in order: "create P", "write P", "truncate P",
    // "sync P", "read P" (readWhole, or an open for reading), "remove P", "rename P Q",
    // "syncFolder F", "mkdir F", "chmod P".
    std::vector<std::string> log;
    // Called before each operation with its log text: return true to make it
    // fail (as the system's would, with EWriteError / EReadError / EFOpenError).
    std::function<bool(const std::string& op)> failWhen;
    // Called before each operation: return true to cut the power there (the
    // operation is not done; PowerCut is thrown, and from then on by every
    // operation until powerCut() is called).
    std::function<bool(const std::string& op)> cutWhen;

    // Puts a file in place, synced and durable in its folder.
    void put(const std::string& path, std::vector<uint8_t> bytes);
    // What a file holds now; nothing when it does not exist.
    std::optional<std::vector<uint8_t>> get(const std::string& path) const;
    bool has(const std::string& path) const { return names_.count(path) > 0; }
    // The files there are now, by name.
    std::vector<std::string> files() const;
    // The power goes and comes back: unsynced bytes and folder entries are lost.
    void powerCut();
    // The program was killed: everything it wrote stays (the page cache
    // keeps it); operations work again.
    void kill() { dead_ = false; }
    // Changes what a file holds without syncing it.
    void scribble(const std::string& path, std::vector<uint8_t> bytes) { names_.at(path)->bytes = std::move(bytes); }
    // Sees (and may change) the bytes of each write to a file before they land.
    std::function<void(const std::string& path, int64_t offset, std::vector<uint8_t>& bytes)> onWrite;
    // Makes readWhole of `path` fail as an unreadable file does.
    std::set<std::string> unreadable;
    // Free bytes freeSpace reports.
    int64_t free = int64_t(1) << 40;

    std::unique_ptr<TStream> open(const std::string& path, ArchiveFileAccess access) override;
    bool exists(const std::string& path) override;
    bool isLink(const std::string& path) override;
    std::optional<std::vector<uint8_t>> readWhole(const std::string& path) override;
    void remove(const std::string& path) override;
    void rename(const std::string& from, const std::string& to) override;
    void syncFolder(const std::string& folder) override;
    bool makeFolder(const std::string& path) override;
    void copyMode(const std::string& from, const std::string& to) override;
    std::vector<std::string> list(const std::string& folder) override;
    int64_t freeSpace(const std::string& folder) override;

    // For the streams: records `op`, then fails or cuts the power when asked.
    void step(const std::string& op, bool isWrite);

private:
    std::map<std::string, std::shared_ptr<Node>> names_;    // the folders as they are now
    std::map<std::string, std::shared_ptr<Node>> durable_;  // as a power cut leaves them
    std::set<std::string> folders_{"/", "."};
    bool dead_ = false;
};
