// The update file's dealings with the system, which differ by system
// (update_file_posix.cpp, update_file_win32.cpp): opening it for reading and
// writing it whole. When they fail, the error says what stands in the way in
// the same words on every system: a missing file or folder, a folder, a file
// without permission or read-only, something that is not a regular file, a
// full disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kvr {

// Opens the file at `path` (UTF-8) for reading. Throws EInOutError saying
// what stands in the way when it cannot be opened.
std::FILE* OpenFileForReading(const std::string& path);

// The size of the open file `f`, checked on what was opened (a name swapped
// in between cannot slip past). Only a regular file is an update file: a
// device, a pipe or a socket could be read without end; anything else throws
// EInOutError. The caller closes `f` either way.
int64_t RegularFileSize(std::FILE* f);

// Writes `bytes` as the file at `path` (UTF-8), replacing the file there:
// written first to a new file beside it, then renamed over it, so a write
// that fails leaves no half file and the old one as it was. A file there
// that is read-only, or a folder or anything but a regular file, is not
// replaced; a symbolic link is followed to its file. Throws EInOutError.
void ReplaceFileWith(const std::string& path, std::string_view bytes);

}  // namespace kvr
