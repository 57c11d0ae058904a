#!/usr/bin/env bash
# Installs what the build needs on a Debian 12 machine (only what is missing)
# and builds the given configurations:
#   scripts/setup.sh [release] [asan] [tsan]   (default: release)
# Build folders: build/release, build/asan (AddressSanitizer + UBSan),
# build/tsan (ThreadSanitizer: the serial component's and the window's tests,
# and the command line, whose gang loads hand every port's events to one thread).
set -euo pipefail
cd "$(dirname "$0")/.."

# What the builds need: the compiler, Qt, GoogleTest, CLI11, nlohmann-json,
# a font for the painted controls, Xlib for the window's latency benchmark.
# What only running some tests needs is installed where they run: ser2net by
# scripts/run-tests.sh, clang by scripts/fuzz.sh, Xvfb and the 32-bit
# compiler by scripts/wine-tests.sh and scripts/screenshot.sh.
scripts/install-missing.sh cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev \
  libcli11-dev nlohmann-json3-dev fonts-dejavu-core libx11-dev

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(release)
# The sanitizer builds at -O1 with line tables only: their reports still
# name file and line, and they compile in half the time of -O2 -g. (g++ 12
# warns falsely of uninitialized values inside std::regex and std::function
# at -O1 with the sanitizers; the release build keeps that warning.)
sanitized=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG -Wno-maybe-uninitialized")
for c in "${configs[@]}"; do
  case "$c" in
    release) args=(-DCMAKE_BUILD_TYPE=Release) ;;
    asan) args=("${sanitized[@]}" -DKVR_SANITIZE=address) ;;
    tsan) args=("${sanitized[@]}" -DKVR_SANITIZE=thread -DKVR_BUILD_BENCH=OFF) ;;
    *) echo "unknown configuration: $c" >&2; exit 2 ;;
  esac
  cmake -S . -B "build/$c" -G Ninja "${args[@]}" >/dev/null
  if [ "$c" = tsan ]; then
    cmake --build "build/$c" --target serial_tests serial_win32_tests window_logic_tests qt_window_tests kvr-loader-cli  # the threaded code
  else
    cmake --build "build/$c"
  fi
done
