// Fixed figures of the DATAFLASH image and of its update file.
#pragma once

#include <cstdint>

namespace kvr {

inline constexpr int64_t ImageLines = 36864;        // data lines of a full image (0x9000)
inline constexpr int64_t PageLines = 16;            // data lines per 256-byte page
inline constexpr int LineBytes = 16;                // image bytes per data line
inline constexpr int64_t ImagePages = ImageLines / PageLines;   // 2304
inline constexpr int64_t ImageBytes = ImageLines * LineBytes;   // 589824
inline constexpr int64_t ExpectedFileSize = 1253378;  // the one accepted update-file size
inline constexpr int64_t MaxUpdateFileSize = 64LL * 1024 * 1024;  // larger files are refused
inline constexpr int HeadingRows = 36866;           // rows that get a row heading

}  // namespace kvr
