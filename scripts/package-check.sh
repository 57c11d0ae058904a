#!/usr/bin/env bash
# The Debian package as a user meets it: built, installed with dpkg -i, the
# installed programs run (--version, a load into the simulated device by the
# command line and by the window), the desktop entry validated, .KVR files
# known by their MIME type, the icons in place, the manual pages rendered
# without a warning; then the package is removed. A machine that has the
# package installed already is left alone (the check would replace and then
# remove that copy).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-missing.sh desktop-file-utils man-db shared-mime-info
if dpkg-query -W -f='${Status}' kvr-loader 2>/dev/null | grep -q 'install ok installed'; then
  echo "package: kvr-loader is installed on this machine; remove it (apt remove kvr-loader) to run this check"
  exit 1
fi
deb=$(scripts/package.sh)
version=$(dpkg-deb -f "$deb" Version)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
work=$(mktemp -d)
trap '$sudo dpkg -r kvr-loader >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

status=0
fail() { echo "package: $*"; status=1; }
$sudo dpkg -i "$deb" >/dev/null

[ "$(/usr/bin/kvr-loader-cli --version)" = "kvr-loader-cli $version" ] || fail "kvr-loader-cli --version"
[ "$(/usr/bin/kvr-loader --version)" = "kvr-loader $version" ] || fail "kvr-loader --version"
/usr/bin/kvr-loader-cli make-image "$work/TEST.KVR"
/usr/bin/kvr-loader-cli load --simulate --pause-ms 0 --quiet "$work/TEST.KVR" >"$work/load.out" ||
  fail "the installed kvr-loader-cli's simulated load ended with $?"
grep -q "simulated device: image equal to the file" "$work/load.out" || fail "simulated load: $(cat "$work/load.out")"
QT_QPA_PLATFORM=offscreen /usr/bin/kvr-loader --simulate --fast --autostart --exit-at-end "$work/TEST.KVR" \
  >"$work/window.out" 2>&1 || fail "the installed window's simulated load ended with $?: $(tail -n 3 "$work/window.out")"
for icon in scalable/apps/kvr-loader.svg 48x48/apps/kvr-loader.png 64x64/apps/kvr-loader.png \
  128x128/apps/kvr-loader.png; do
  [ -s "/usr/share/icons/hicolor/$icon" ] || fail "no icon $icon"
done

desktop-file-validate /usr/share/applications/kvr-loader.desktop >"$work/desktop.out" 2>&1 || true
[ ! -s "$work/desktop.out" ] || fail "desktop-file-validate: $(cat "$work/desktop.out")"
# The MIME database is remade by dpkg's trigger once the package is in.
grep -q '^[0-9]*:application/x-kvr-update:\*\.kvr$' /usr/share/mime/globs2 || fail ".KVR files have no MIME type"

# The pages as packaged (a minimal system may keep no manual pages on disk).
dpkg-deb -x "$deb" "$work/root"
for page in kvr-loader kvr-loader-cli kvr-render; do
  file="$work/root/usr/share/man/man1/$page.1.gz"
  MANWIDTH=80 man --warnings -l "$file" >"$work/page.out" 2>"$work/page.err" || fail "man -l $page: exit $?"
  [ ! -s "$work/page.err" ] || fail "man -l $page: $(cat "$work/page.err")"
  grep -q "^NAME" "$work/page.out" || fail "man -l $page shows no NAME section"
done

$sudo dpkg -r kvr-loader >/dev/null
[ ! -e /usr/bin/kvr-loader-cli ] || fail "kvr-loader-cli is still there after dpkg -r"
[ $status = 0 ] && echo "package $deb: installed, used, validated and removed"
exit $status
