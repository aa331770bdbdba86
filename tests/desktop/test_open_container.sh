#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installed program as a desktop meets it. Installs into a scratch prefix
# and checks the menu entry, the container type, the file-manager menus, the
# software-centre data, the manual pages, the completion and the icons; then
# starts the installed program as the file manager would (the entry's Exec
# line) on a real X server (Xvfb and the xcb platform, whatever
# QT_QPA_PLATFORM says), waits for its window by title, presses Return on the
# focused start button and compares what it unpacked.
# Usage: test_open_container.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)

scratch=$(mktemp -d)
app_pid=
xvfb_pid=
cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
# Says what went wrong, with what the program said on its way.
fail() {
  echo "FAIL: $*" >&2
  if [ -s "$scratch/app.log" ]; then sed 's/^/  corvanta: /' "$scratch/app.log" >&2; fi
  exit 1
}

for tool in desktop-file-validate update-mime-database appstreamcli man Xvfb xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh installs it)"
done

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
entry=$share/applications/corvanta.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
update-mime-database "$share/mime" >/dev/null 2>&1 || fail "update-mime-database rejects the container type"
grep -qx 'application/x-kvxdata;' <(sed -n 's/^MimeType=//p' "$entry") || fail "the entry does not list the container type"
grep -q ':application/x-kvxdata:\*\.kvxdata' "$share/mime/globs2" || fail "*.kvxdata is not the container type"

# Help and version need no display at all.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/corvanta" --help) || fail "corvanta --help failed"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/corvanta" --version) || fail "corvanta --version failed"
[[ $version == "corvanta "[0-9]* ]] || fail "corvanta --version printed: $version"

# The file-manager menus: the right types, and commands the program knows.
menus=$share/kio/servicemenus
check_menu() {  # FILE MIME NAME OPTION
  [ "$(sed -n 's/^MimeType=//p' "$menus/$1")" = "$2" ] || fail "$1 is not offered for $2"
  grep -qx "Name=$3" "$menus/$1" || fail "$1 has no \"$3\""
  grep -qx "Exec=corvanta $4 %F" "$menus/$1" || fail "$1 does not run corvanta $4"
  grep -q -- "$4" <<<"$help" || fail "corvanta --help does not know $4"
}
check_menu corvanta-unpack.desktop 'application/x-kvxdata;' 'Unpack here' --unpack
check_menu corvanta-unpack.desktop 'application/x-kvxdata;' 'Unpack to…' --unpack-to
check_menu corvanta-pack.desktop 'all/all;' 'Pack into a container' --pack

metainfo=$share/metainfo/io.github.corvanta.Corvanta.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 || fail "appstreamcli rejects the metainfo: $(cat "$scratch/appstream.log")"
grep -q '<launchable type="desktop-id">corvanta.desktop</launchable>' "$metainfo" || fail "the metainfo does not launch the entry"

# Both pages render without a warning and name every option their program has.
cli_help=$("$prefix/bin/corvanta-cli" --help)
for page in corvanta corvanta-cli; do
  file=$share/man/man1/$page.1.gz
  [ -f "$file" ] || fail "no manual page $page(1)"
  rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>"$scratch/man.err") || fail "man cannot render $page(1)"
  [ ! -s "$scratch/man.err" ] || fail "$page(1) renders with warnings: $(cat "$scratch/man.err")"
  options=$help
  [ "$page" = corvanta ] || options=$cli_help
  for option in $(grep -oE -- '--[a-z-]+' <<<"$options" | grep -v -- '--help-all' | sort -u); do
    grep -q -- "$option" <<<"$rendered" || fail "$page(1) does not mention $option"
  done
done

# Completion: the commands, then only containers (and folders) to unpack.
mkdir -p "$scratch/complete/sub"
touch "$scratch/complete/a.kvxdata" "$scratch/complete/b.txt"
completed=$(cd "$scratch/complete" && bash -c '
  source "$1"
  for line in "corvanta-cli " "corvanta-cli decrypt "; do
    read -r -a COMP_WORDS <<<"$line"; COMP_WORDS+=(""); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=(); _corvanta_cli; echo "${COMPREPLY[*]}"
  done' _ "$share/bash-completion/completions/corvanta-cli")
[ "$completed" = $'encrypt decrypt list test --help --version\nsub a.kvxdata' ] || fail "completion offers: $completed"

for px in 16 22 24 32 48 64 128 256; do
  icon=$share/icons/hicolor/${px}x${px}/apps/corvanta.png
  file "$icon" | grep -q "PNG image data, $px x $px" || fail "no ${px}px icon"
done

# A container beside which the result must land, in a folder with a blank.
mkdir -p "$scratch/src/sub dir" "$scratch/my files"
printf 'hello\n' > "$scratch/src/a.txt"
printf 'caf\xc3\xa9\n' > "$scratch/src/sub dir/caf$(printf '\xc3\xa9').txt"
head -c 300000 /dev/urandom > "$scratch/src/sub dir/noise.bin"
made=$(cd "$scratch" && "$prefix/bin/corvanta-cli" encrypt -C "$scratch/work" src)
mv "$made" "$scratch/my files/holiday.kvxdata"

# The entry's Exec line with %F replaced by the container, as a launcher runs it.
read -r -a exec_line <<<"$(sed -n 's/^Exec=//p' "$entry")"
[ "${exec_line[*]}" = "corvanta %F" ] || fail "unexpected Exec line: ${exec_line[*]}"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
export DISPLAY=:$(cat "$scratch/display")
# Under AddressSanitizer: libxkbcommon-x11 passes strndup a counted buffer
# without a final NUL, which strict string checks take for an overflow.
[ -z "${ASAN_OPTIONS:-}" ] || export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"

(cd "$scratch" && PATH="$prefix/bin:$PATH" QT_QPA_PLATFORM=xcb exec "${exec_line[0]}" "$scratch/my files/holiday.kvxdata") \
  >"$scratch/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 30 xdotool search --sync --name '^  Corvanta$' | head -n 1) || true
kill -0 "$app_pid" 2>/dev/null || fail "the program ended before its window appeared"
[ -n "$wid" ] || fail "no window titled \"  Corvanta\" within 30 s"

# The start button has the focus after a start with paths: Return starts.
xdotool windowfocus --sync "$wid" || fail "the window cannot take the focus"
xdotool key Return
report=$(timeout 60 xdotool search --sync --name '^Encryption/Decryption$' | head -n 1) || true
[ -n "$report" ] || fail "no end-of-run report within 60 s of pressing Return"
diff -r "$scratch/src" "$scratch/my files/holiday/src" || fail "the unpacked tree differs from the packed one"
[ "$(ls -A "$scratch/my files")" = "$(printf 'holiday\nholiday.kvxdata')" ] || fail "unexpected files beside the container: $(ls -A "$scratch/my files")"
[ ! -e "$scratch/AddData" ] || fail "a decryption made a working folder"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended while its report was up"
echo "PASS"
