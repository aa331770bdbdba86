#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs scripts/deps.sh against stand-ins for dpkg-query, apt-get, sudo and id,
# with nothing else on PATH, and checks what it would run and what it says:
# as root, as a user with sudo, as a user without it, with nothing missing.
set -u
deps="$(cd "$(dirname "$0")/../.." && pwd)/scripts/deps.sh"
bash_bin="$(command -v bash)"
failures=0
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

tools="$work/tools"
mkdir -p "$tools"
for t in grep env; do ln -s "$(command -v "$t")" "$tools/$t"; done

# scenario NAME UID HAS_SUDO INSTALLED APT_RC
scenario() {
  local dir="$work/$1"; mkdir -p "$dir/bin"
  cat >"$dir/bin/id" <<EOS
#!$bash_bin
echo $2
EOS
  if [ "$4" = all ]; then
    printf '#!%s\necho "install ok installed"\n' "$bash_bin" >"$dir/bin/dpkg-query"
  else
    printf '#!%s\nexit 1\n' "$bash_bin" >"$dir/bin/dpkg-query"
  fi
  printf '#!%s\necho "apt-get $*" >>"%s/log"\nexit %s\n' "$bash_bin" "$dir" "$5" >"$dir/bin/apt-get"
  if [ "$3" = yes ]; then
    printf '#!%s\necho "sudo $*" >>"%s/log"\nwhile [ "${1#-}" != "$1" ]; do shift; done\nexec "$@"\n' \
      "$bash_bin" "$dir" >"$dir/bin/sudo"
  fi
  chmod +x "$dir/bin"/*
  : >"$dir/log"
  PATH="$dir/bin:$tools" "$bash_bin" "$deps" >"$dir/out" 2>&1 </dev/null
  echo $? >"$dir/rc"
}

check() {  # check NAME DESCRIPTION COMMAND...
  local name=$1 what=$2; shift 2
  if ! "$@"; then
    echo "FAIL $name: $what"
    sed 's/^/  log: /' "$work/$name/log"; sed 's/^/  out: /' "$work/$name/out"
    failures=$((failures + 1))
  fi
}
rc() { [ "$(cat "$work/$1/rc")" = "$2" ]; }
logged() { grep -qE "$2" "$work/$1/log"; }
said() { grep -qE "$2" "$work/$1/out"; }
nothing_logged() { [ ! -s "$work/$1/log" ]; }

scenario root 0 no none 0
check root "exits 0" rc root 0
check root "updates and installs with apt-get" logged root '^apt-get install -y -q .*qt6-base-dev.*libzip-dev'
check root "never uses sudo" bash -c "! grep -q '^sudo' '$work/root/log'"
check root "installs what the desktop and package tests need" logged root '^apt-get install -y -q .*xvfb.*appstream.*dpkg-dev'

scenario user_sudo 1000 yes none 0
check user_sudo "exits 0" rc user_sudo 0
check user_sudo "installs through sudo, never prompting without a terminal" logged user_sudo '^sudo -n env DEBIAN_FRONTEND=noninteractive apt-get install'
check user_sudo "apt-get runs" logged user_sudo '^apt-get install'

scenario user_nosudo 1000 no none 0
check user_nosudo "fails" bash -c "[ \"\$(cat '$work/user_nosudo/rc')\" = 1 ]"
check user_nosudo "runs nothing" nothing_logged user_nosudo
check user_nosudo "says what to install and how" said user_nosudo 'apt-get install .*qt6-base-dev'
check user_nosudo "no command-not-found" bash -c "! grep -q 'not found' '$work/user_nosudo/out'"

scenario apt_fails 0 no none 100
check apt_fails "fails" rc apt_fails 1
check apt_fails "says what could not be installed" said apt_fails 'Could not install: .*zlib1g-dev'

scenario installed 1000 no all 0
check installed "exits 0 with nothing missing" rc installed 0
check installed "runs nothing" nothing_logged installed

echo "$(( 16 - failures )) passed, $failures failed"
[ "$failures" -eq 0 ]
