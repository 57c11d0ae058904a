// kvr-makefile PATH [SEED]: writes a standard-size update file (36864 lines of
// 32 hex digits with CR LF, then one more CR LF) for trying the loader.
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>

#include "hex_text.h"
#include "tool_options.h"
#include "update_file_maker.h"

int main(int argc, char** argv) {
  std::string path;
  uint32_t seed = 2026;
  CLI::App app("Writes a standard-size update file with made-up bytes, for trying the loader.", "kvr-makefile");
  app.set_version_flag("-v,--version", "kvr-makefile " KVR_VERSION, "Show the version and exit.");
  app.add_option("PATH", path, "The file to write (a symbolic link there is refused).")->required();
  app.add_option("SEED", seed, "Seed of the made-up bytes (default 2026).")->check(kvr::WholeNumber(0, UINT32_MAX));
  if (const std::optional<int> ended = kvr::ParseToolOptions(app, argc, argv)) return *ended;
  try {
    kvr::sim::WriteFile(path, kvr::sim::MakeUpdateFileText(seed));
  } catch (const std::exception& e) {
    std::cerr << "kvr-makefile: " << kvr::WithoutControls(e.what()) << "\n";
    return 1;
  }
  return 0;
}
