#include "program_arguments.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>  // after windows.h, which it needs
#endif

namespace kvr {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc, (void)argv;
  std::vector<std::string> args;
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  for (int i = 1; wide && i < n; ++i) args.push_back(base::Utf8(wide[i]));
  LocalFree(wide);
  return args;
#else
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
#endif
}

}  // namespace kvr
