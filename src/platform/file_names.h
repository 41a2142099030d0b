// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Names from an archive turned into names of files on disk: made safe for
// any common file system, and kept apart from each other when they clash.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

// A name from an archive (Windows-1250 bytes) as one UTF-8 file name that
// any common file system takes: separators, control characters and the
// characters other systems refuse (\ : * ? " < > |) become "_"; an empty
// name, "." and ".." get a "_" in front. So that a folder of them can be
// copied to a Windows disk, a name Windows keeps for a device (CON, PRN, AUX,
// NUL, COM1-COM9, LPT1-LPT9, with any extension and in any letter case) gets
// a "_" after that device name ("con.txd" -> "con_.txd").
std::string safeFileName(const std::string& cp1250);

// Hands out names unique within one folder, ignoring letter case (so the
// files can be copied to a system that ignores it): base + extension, then
// base_2 + extension, base_3 + extension, ...; a name that would end in a
// dot or a blank (which Windows drops) gets a "_" appended. Each base keeps the next
// number to try, so a name costs about the same however many share its base.
class UniqueFileNames {
public:
    std::string take(const std::string& base, const std::string& extension);
    // The same for a whole file name, numbered before its extension:
    // "wheel.txd", "WHEEL_2.TXD". A name whose only dot is its first or its
    // last character has no extension here.
    std::string take(const std::string& fileName);

private:
    std::unordered_set<std::string> taken_;                // case-folded
    std::unordered_map<std::string, int64_t> nextNumber_;  // case-folded base NUL extension -> next number
};
