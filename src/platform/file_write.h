#pragma once
// Writing a whole new file without ever leaving a half-written one: the bytes
// go to a fresh temporary file beside the target, are flushed to the storage
// device and the temporary file is then renamed over the target. A failure at
// any step removes the temporary file and leaves an existing target as it was.
#include <cstdint>
#include <string>
#include <vector>

// Raises EFCreateError "Cannot create file %s" (the target's path) when the
// temporary file cannot be made or renamed into place, EWriteError "Stream
// write error" when writing or flushing fails. A target that existed keeps
// its permission bits; a new one gets the usual ones (0666 less the umask).
void writeFileReplacing(const std::string& path, const void* data, int64_t size);
inline void writeFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes)
{
    writeFileReplacing(path, bytes.data(), static_cast<int64_t>(bytes.size()));
}
