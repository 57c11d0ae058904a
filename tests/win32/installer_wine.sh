#!/usr/bin/env bash
# The Windows installer under Wine, silently, per user and for all users.
# After `setup.exe /S [/AllUsers]`: the programs of the prefix's
# architecture (the 64-bit ones on a 64-bit prefix, the 32-bit ones on a
# 32-bit one: the built programs given) are in the mode's default folder,
# kvr-loader-cli.exe there tells the project's version and loads a whole
# image into its simulated device, the .KVR type's open command runs the
# installed window, which opens the file
# and loads pages from it into the simulated device inside it, the
# Start-menu entry leads to the window, and the Add/Remove Programs entry
# names the version and the uninstaller. Per user, a second install into
# another folder (/D=) takes the entries over, and the first folder's
# uninstaller then removes only its own files; for all users, another
# program takes .KVR over, and the uninstaller leaves it what is its own.
# The uninstaller, run by the quiet command of the Add/Remove Programs
# entry, must leave no file, folder, shortcut or key of ours, nor anything
# of NSIS's in the temporary folder. Whatever this script leaves is removed
# at its end and at the start of the next run. Run by ctest from
# scripts/wine-tests.sh (the prefix, the wine server, the X server;
# KVR_MAKEFILE).
#   installer_wine.sh SETUP.EXE VERSION KVR-LOADER.EXE KVR-LOADER-CLI.EXE
set -euo pipefail
installer=$1 version=$2 built_window=$3 built_cli=$4
work=$(mktemp -d)

product="KVR DATAFLASH Loader"
progid=KVRLoader.UpdateFile
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\KVRLoader'
mode=

fail() {
  echo "FAILED: ${mode:+$mode: }$*"
  exit 1
}

# reg ARGS...: Wine's `reg` in the system's own registry view, as Add/Remove
# Programs and the shell read it (`wine reg` is the 32-bit one when Wine has
# its 32-bit part, and sees WOW6432Node on a 64-bit prefix).
reg() { wine reg "$@" /reg:64; }

# Wine's `reg` writes CRLF lines; a value is "    NAME    REG_TYPE    DATA".
# reg_value KEY [NAME]: the value's data (the default value without NAME);
# fails when the key or the value is not there.
reg_value() {
  local out
  if [[ $# -eq 1 ]]; then
    out=$(reg query "$1" /ve </dev/null 2>/dev/null) || return 1
  else
    out=$(reg query "$1" /v "$2" </dev/null 2>/dev/null) || return 1
  fi
  out=$(printf '%s\n' "$out" | tr -d '\r' | grep -m 1 -E '^    .*    REG_[A-Z_]+')
  [[ -n $out ]] || return 1
  printf '%s\n' "$out" | sed -E 's/^    .*    REG_[A-Z_]+( {4}|$)//'
}
reg_key_exists() { reg query "$1" </dev/null >/dev/null 2>&1; }
reg_delete() { reg delete "$1" /f </dev/null >/dev/null 2>&1 || true; }

# expect_value KEY NAME WANTED: the value must be there and hold WANTED.
# (Looked for up to 10 s: a busy machine's wineserver may show a value the
# installer wrote a moment after the installer has ended.)
expect_value() {
  local got tries=0
  until got=$(reg_value "$1" ${2:+"$2"}); do
    ((++tries < 20)) || fail "no value \"${2:-(Default)}\" in $1"
    sleep 0.5
  done
  [[ $got == "$3" ]] || fail "$1 \"${2:-(Default)}\" is \"$got\", not \"$3\""
}

# run_line NAME LINE: runs the Windows command line LINE as it is, through a
# batch file, and waits for it. (wine quotes an argument with a space, and
# NSIS takes /D= and _?= only unquoted, last; the batch waits for a program
# that `wine` alone would not, as an uninstaller that copies itself away.)
run_line() {
  printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$2" >"$work/$1.bat"
  local code=0
  wine cmd /c "$(winepath -w "$work/$1.bat")" </dev/null >"$work/$1.out" 2>&1 || code=$?
  [[ $code -eq 0 ]] || { cat "$work/$1.out"; fail "$1 exited with $code: $2"; }
}

# uninstall_from FOLDER SWITCHES: the uninstaller in FOLDER, run from a copy
# and given the folder with _?= (as the NSIS manual does it) so that it runs
# here rather than from a copy of its own in the temporary folder.
uninstall_from() {
  cp "$(winepath -u "$1")/Uninstall.exe" "$work/Uninstall.exe"
  run_line uninstall "\"$(winepath -w "$work/Uninstall.exe")\"$2 _?=$1"
}

# The folders Wine gives the user and the machine. The system's own Program
# Files: %ProgramW6432% on 64-bit Windows (a 32-bit cmd sees the 32-bit one
# as %ProgramFiles%), which 32-bit Windows does not have (cmd echoes it as it is).
mapfile -t folders < <(wine cmd /c \
  'echo %LOCALAPPDATA%&echo %APPDATA%&echo %ProgramW6432%&echo %ProgramData%&echo %TEMP%&echo %ProgramFiles%' \
  </dev/null 2>/dev/null | tr -d '\r')
[[ ${#folders[@]} -eq 6 && -n ${folders[5]} ]] || fail "Wine's folders not found: ${folders[*]}"
local_appdata=${folders[0]} appdata=${folders[1]} program_files=${folders[2]} program_data=${folders[3]}
[[ $program_files == %ProgramW6432% ]] && program_files=${folders[5]}
temp=$(winepath -u "${folders[4]}")
# What NSIS unpacks for itself (nsXXXX.tmp) or an uninstaller copies itself into (~nsuN.tmp).
nsis_temp() { find "$temp" -maxdepth 1 \( -name 'ns*.tmp' -o -name '~nsu*.tmp' \) 2>/dev/null | sort; }

# mode_paths user|all: root (HKCU or HKLM), the default folder and the shortcut.
mode_paths() {
  if [[ $1 == user ]]; then
    root=HKCU default_folder="$local_appdata\\Programs\\$product"
    shortcut="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\$product.lnk"
  else
    root=HKLM default_folder="$program_files\\$product"
    shortcut="$program_data\\Microsoft\\Windows\\Start Menu\\Programs\\$product.lnk"
  fi
  classes="$root\\Software\\Classes" key="$root\\$uninstall_key"
}

# remove_traces: everything an install in either mode makes, taken away by
# force (a failed or interrupted run must not disturb the next one).
remove_traces() {
  local m
  for m in user all; do
    mode_paths "$m"
    rm -rf "$(winepath -u "$default_folder" 2>/dev/null)" "$(winepath -u "$shortcut" 2>/dev/null)"
    reg_delete "$classes\\$progid"
    reg_delete "$classes\\.KVR"
    reg_delete "$key"
  done
}
window=
trap '[[ -n $window ]] && kill "$window" 2>/dev/null; wait; remove_traces; rm -rf "$work"' EXIT
remove_traces

image="$work/Обновление/IMAGE.KVR"
mkdir -p "$(dirname "$image")"
"$KVR_MAKEFILE" "$image" >/dev/null
winimage=$(winepath -w "$image")

# check_installed FOLDER: the install in FOLDER, as the mode's entries name it.
check_installed() {
  local folder=$1 dir
  expect_value "$key" InstallLocation "$folder"
  dir=$(winepath -u "$folder")
  cmp -s "$dir/kvr-loader.exe" "$built_window" || fail "kvr-loader.exe is not the one built"
  cmp -s "$dir/kvr-loader-cli.exe" "$built_cli" || fail "kvr-loader-cli.exe is not the one built"
  [[ -f $dir/Uninstall.exe ]] || fail "no Uninstall.exe"
  local said
  said=$(wine "$dir/kvr-loader-cli.exe" --version </dev/null 2>&1 | tr -d '\r')
  [[ $said == "kvr-loader-cli $version" ]] || fail "kvr-loader-cli.exe --version said \"$said\""

  # The file type and what a double click on a .KVR file runs.
  expect_value "$classes\\.KVR" "" "$progid"
  reg_value "$classes\\.KVR\\OpenWithProgids" "$progid" >/dev/null || fail ".KVR's OpenWithProgids lacks $progid"
  expect_value "$classes\\$progid\\DefaultIcon" "" "$folder\\kvr-loader.exe,0"
  expect_value "$classes\\$progid\\shell\\open\\command" "" "\"$folder\\kvr-loader.exe\" \"%1\""

  # The Start-menu entry: a shortcut to the installed window (its target's
  # path is in the file in UTF-16 and in the ANSI code page; grep reads all
  # of it, where -q would cut the pipe).
  local link
  link=$(winepath -u "$shortcut")
  [[ -f $link ]] || fail "no Start-menu entry $shortcut"
  { strings -e l "$link"; strings "$link"; } | grep -iF "$folder\\kvr-loader.exe" >/dev/null ||
    fail "the Start-menu entry does not lead to $folder\\kvr-loader.exe"

  # The Add/Remove Programs entry.
  expect_value "$key" DisplayName "$product"
  expect_value "$key" DisplayVersion "$version"
  expect_value "$key" DisplayIcon "$folder\\kvr-loader.exe,0"
  expect_value "$key" UninstallString "\"$folder\\Uninstall.exe\""
  expect_value "$key" QuietUninstallString "\"$folder\\Uninstall.exe\" /S"
  [[ -n $(reg_value "$key" Publisher) ]] || fail "no Publisher"
}

# simulated_load FOLDER: a whole load by the installed command line into the
# simulated device inside it; the device's image must equal the file.
simulated_load() {
  wine "$(winepath -u "$1")/kvr-loader-cli.exe" load --simulate --pause-ms 0 --quiet "$winimage" </dev/null \
    >"$work/simulated.out" 2>&1 || { cat "$work/simulated.out"; fail "the installed kvr-loader-cli.exe did not load"; }
  grep -q "simulated device: image equal to the file" "$work/simulated.out" ||
    { cat "$work/simulated.out"; fail "the simulated device's image differs"; }
}

# open_file_by_type: the open command of the .KVR type as the shell
# runs it (%1 the file), with the simulated boot loader inside the window and
# its start switch pressed: the window must open the file (its path and page
# count on the trace) and load pages from it. A whole load takes minutes
# here (the command-line load's test makes one); three pages are enough,
# then the window is ended.
open_file_by_type() {
  local command exe
  command=$(reg_value "$classes\\$progid\\shell\\open\\command")
  exe=${command%\" \"%1\"}
  exe=${exe#\"}
  : >"$work/window.trace"
  wine "$(winepath -u "$exe")" "$winimage" --simulate --fast --autostart --trace "$(winepath -w "$work/window.trace")" \
    </dev/null >"$work/window.out" 2>&1 &
  window=$!
  local deadline=$((SECONDS + 30))
  until grep -q '^status Загрузка страницы: 0003 ' "$work/window.trace"; do
    kill -0 "$window" 2>/dev/null || { cat "$work/window.out"; fail "the window ended: $(cat "$work/window.trace")"; }
    ((SECONDS < deadline)) || fail "the window loaded no pages: $(cat "$work/window.trace")"
    sleep 0.1
  done
  kill "$window"
  wait "$window" 2>/dev/null || true
  window=
  grep -qxF "file $winimage" "$work/window.trace" || fail "the window did not open $winimage"
  grep -q '^status Загрузка данных. Страниц для загрузки: 0900$' "$work/window.trace" ||
    fail "the window did not read the file's pages"
}

# check_mode user|all: install, check, uninstall, check.
check_mode() {
  local started=$SECONDS other=HKLM switches=""
  mode=$1
  mode_paths "$mode"
  [[ $mode == all ]] && other=HKCU switches=" /AllUsers"
  run_line setup "\"$(winepath -w "$installer")\" /S$switches"
  check_installed "$default_folder"
  ! reg_key_exists "$other\\$uninstall_key" || fail "an Add/Remove Programs entry under $other too"
  simulated_load "$default_folder"
  open_file_by_type

  local folder=$default_folder
  if [[ $mode == user ]]; then
    # A later install into another folder takes the entries over; the first
    # folder's uninstaller must then take only its own files.
    folder="$(winepath -w "$work")\\moved"
    run_line setup "\"$(winepath -w "$installer")\" /S /D=$folder"
    check_installed "$folder"
    uninstall_from "$default_folder" " /S"
    [[ ! -e $(winepath -u "$default_folder") ]] || fail "the first folder is left"
    check_installed "$folder"
  else
    # Another program takes the type over: the uninstaller must leave it its own.
    reg add "$classes\\.KVR" /ve /d Other.UpdateFile /f </dev/null >/dev/null 2>&1
    reg add "$classes\\.KVR\\OpenWithProgids" /v Other.UpdateFile /d "" /f </dev/null >/dev/null 2>&1
  fi

  # Uninstall by the quiet command Add/Remove Programs runs.
  local quiet
  quiet=$(reg_value "$key" QuietUninstallString)
  uninstall_from "$folder" "${quiet#"\"$folder\\Uninstall.exe\""}"
  [[ ! -e $(winepath -u "$folder") ]] || fail "the install folder is left: $(ls -A "$(winepath -u "$folder")" | tr '\n' ' ')"
  [[ ! -e $(winepath -u "$shortcut") ]] || fail "the Start-menu entry is left"
  ! reg_key_exists "$key" || fail "the Add/Remove Programs entry is left"
  ! reg_key_exists "$classes\\$progid" || fail "$progid is left"
  if [[ $mode == all ]]; then
    expect_value "$classes\\.KVR" "" Other.UpdateFile
    reg_value "$classes\\.KVR\\OpenWithProgids" Other.UpdateFile >/dev/null ||
      fail "the other program's OpenWithProgids value was removed"
    ! reg_value "$classes\\.KVR\\OpenWithProgids" "$progid" >/dev/null || fail "$progid is left in OpenWithProgids"
    reg_delete "$classes\\.KVR"
  else
    ! reg_key_exists "$classes\\.KVR" || fail ".KVR is left"
  fi
  echo "$mode: installed into $default_folder, checked and uninstalled without a trace in $((SECONDS - started)) s"
}

start=$SECONDS
temp_before=$(nsis_temp)
check_mode user
check_mode all
mode=
[[ $(nsis_temp) == "$temp_before" ]] || fail "NSIS left in $temp: $(comm -13 <(echo "$temp_before") <(nsis_temp))"
echo "installer: both modes in $((SECONDS - start)) s"
