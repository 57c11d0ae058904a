#!/usr/bin/env bash
# Builds the Debian package from the release build and prints its path
# (build/release/package/kvr-loader_VERSION_ARCH.deb). Install it with
#   sudo apt install ./build/release/package/kvr-loader_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-shlibdeps (dpkg-dev) finds the dependencies; CPack needs `file` to find the programs.
scripts/install-missing.sh dpkg-dev file >&2
scripts/setup.sh release >&2
rm -f build/release/package/*.deb
cpack --config build/release/CPackConfig.cmake >&2
ls build/release/package/*.deb
