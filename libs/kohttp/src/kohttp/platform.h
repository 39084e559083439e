// The few file-system services the message layer needs from the platform
// (private). Implemented once per platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kohttp::detail {

// Opens a new temporary file for reading and writing. A named file gets its
// path in *path; an anonymous one vanishes when closed. Null on failure.
std::FILE* openTempFile(bool named, std::string* path);
void removeFile(const std::string& path);
// Opens a regular file for reading and tells its size. Null on failure
// (missing, unreadable or not a regular file).
std::FILE* openForRead(const std::string& path, std::int64_t* size);
bool seekTo(std::FILE* file, std::int64_t offset);

} // namespace kohttp::detail
