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

// Opens the file at `path` (UTF-8) for reading. Throws EInOutError saying
// what stands in the way when it cannot be opened.
std::FILE* OpenFileForReading(const std::string& path);

// The size of the open file `f`, checked on what was opened (a name swapped
// in between cannot slip past). Only a regular file is an update file: a
// device, a pipe or a socket could be read without end; anything else throws
// EInOutError. The caller closes `f` either way.
int64_t RegularFileSize(std::FILE* f);

}  // namespace kvr
