// Names and text in UTF-8, and the system's files by such names. Windows
// takes names through its wide-character API: the narrow one reads the bytes
// in the ANSI code page, which cannot spell a Cyrillic folder or user name.
// Wide and Utf8 are the program's one conversion between the two forms.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace base {

#ifdef _WIN32
// UTF-8 as UTF-16; a byte that is no UTF-8 becomes U+FFFD.
std::wstring Wide(std::string_view utf8);
// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(std::wstring_view wide);
#endif

// A path given in UTF-8 (an argument, a dialog's answer), for the standard
// library's files.
std::filesystem::path Utf8Path(std::string_view utf8);

// std::fopen for a name in UTF-8.
std::FILE* OpenFile(const std::string& utf8_path, const char* mode);

}  // namespace base
