#!/usr/bin/env bash
# Installs those of the given Debian packages that are not installed yet
# (apt-get, as root or through sudo); PACKAGE:ARCH for another architecture.
#   scripts/install-missing.sh PACKAGE...
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# A package of another architecture (wine32:i386) needs that architecture
# known to dpkg before the package lists are fetched.
for p in "${missing[@]}"; do
  [[ $p == *:* ]] || continue
  arch=${p##*:}
  dpkg --print-foreign-architectures | grep -qx "$arch" || $sudo dpkg --add-architecture "$arch"
done
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
