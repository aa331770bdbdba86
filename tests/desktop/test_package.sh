#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: made by CPack from the build, holding everything a
# desktop needs, with dependencies found by dpkg-shlibdeps, and its programs
# run from the unpacked package. Installing it is left to a person (README).
# Usage: test_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in cpack dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh installs it)"
done
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1) \
  || fail "cpack failed: $(cat "$scratch/cpack.log")"
deb=$(ls "$scratch"/out/corvanta_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no corvanta_*.deb: $(cat "$scratch/cpack.log")"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in usr/bin/corvanta usr/bin/corvanta-cli usr/share/applications/corvanta.desktop \
            usr/share/mime/packages/corvanta.xml usr/share/metainfo/io.github.corvanta.Corvanta.metainfo.xml \
            usr/share/man/man1/corvanta.1.gz usr/share/man/man1/corvanta-cli.1.gz \
            usr/share/doc/corvanta/copyright usr/share/doc/corvanta/changelog.gz \
            usr/share/bash-completion/completions/corvanta-cli \
            usr/share/kio/servicemenus/corvanta-unpack.desktop usr/share/kio/servicemenus/corvanta-pack.desktop \
            usr/share/icons/hicolor/16x16/apps/corvanta.png usr/share/icons/hicolor/256x256/apps/corvanta.png; do
  grep -qx "\./$path" <<<"$contents" || fail "the package lacks /$path"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libzip4 libsodium23 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

dpkg-deb -x "$deb" "$scratch/root"
version=$("$scratch/root/usr/bin/corvanta-cli" --version) || fail "the packaged corvanta-cli does not run"
[ "$version" = "corvanta-cli $(dpkg-deb -f "$deb" Version)" ] || fail "version $version differs from the package's"
# Debian's own checker, where it is installed (the test command installs it).
if command -v lintian >/dev/null 2>&1; then
  lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
  grep -q '^E: ' "$scratch/lintian.log" && fail "lintian finds errors: $(grep '^E: ' "$scratch/lintian.log")"
fi
echo "PASS"
