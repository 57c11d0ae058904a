// kvr-makefile PATH [SEED]: writes a standard-size update file (36864 lines of
// 32 hex digits with CR LF, then one more CR LF) for trying the loader.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "update_file_maker.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: kvr-makefile PATH [SEED]\n");
    return 2;
  }
  try {
    kvr::sim::WriteFile(argv[1], kvr::sim::MakeUpdateFileText(argc > 2 ? std::atoi(argv[2]) : 2026));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
