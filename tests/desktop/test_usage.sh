#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# corvanta's answers to misuse (exit 2, the mistake and a pointer to --help)
# and to a missing display (one line, exit 1), all before any window.
set -uo pipefail
program=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
headless=(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=)

check_usage() {
  local err status
  err=$("${headless[@]}" "$program" "$@" 2>&1 >/dev/null); status=$?
  [ "$status" -eq 2 ] || fail "corvanta $* exited $status: $err"
  [ "$(wc -l <<<"$err")" -eq 2 ] || fail "corvanta $* said: $err"
  grep -q "^Try 'corvanta --help'" <<<"$err" || fail "corvanta $* has no pointer to --help: $err"
}
check_usage --bogus
check_usage --pack --unpack x
check_usage --pack

err=$("${headless[@]}" "$program" 2>&1 >/dev/null); status=$?
[ "$status" -eq 1 ] || fail "without a display corvanta exited $status: $err"
[ "$(wc -l <<<"$err")" -eq 1 ] && grep -q "no display" <<<"$err" || fail "without a display corvanta said: $err"
echo "PASS"
