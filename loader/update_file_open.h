// Opening the update file for reading: the one part of the reading that
// differs by system (update_file_posix.cpp, update_file_win32.cpp). When the
// open fails, the error says what stands in the way in the same words on
// every system: a missing file, a folder, a file without permission,
// something that is not a regular file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kvr {

// Opens the regular file at `path` (UTF-8) for reading and takes its size.
// Only a regular file is an update file: a device, a pipe or a socket could
// be read without end. Throws EInOutError when the file cannot be opened or is
// no regular file; the caller closes what it gets.
std::FILE* OpenRegularFile(const std::string& path, int64_t& size);

}  // namespace kvr
