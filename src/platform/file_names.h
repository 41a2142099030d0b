#pragma once
// Names from an archive turned into names of files on disk: made safe for
// any common file system, and kept apart from each other when they clash.
#include <set>
#include <string>

// A name from an archive (Windows-1250 bytes) as one UTF-8 file name that
// any common file system takes: separators, control characters and the
// characters other systems refuse (\ : * ? " < > |) become "_"; an empty
// name, "." and ".." get a "_" in front.
std::string safeFileName(const std::string& cp1250);

// Hands out names unique within one folder, ignoring letter case (so the
// files can be copied to a system that ignores it): base + extension, then
// base_2 + extension, base_3 + extension, ...
class UniqueFileNames {
public:
    std::string take(const std::string& base, const std::string& extension);
    // The same for a whole file name, numbered before its extension:
    // "wheel.txd", "WHEEL_2.TXD". A name whose only dot is its first or its
    // last character has no extension here.
    std::string take(const std::string& fileName);

private:
    std::set<std::string> taken_;  // case-folded
};
