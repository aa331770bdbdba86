#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Corvanta needs to build, run and test, but only
# those that are missing. The one place that installs packages.
#   --bench   also what the benchmarks use (Google Benchmark, python3)
# As root it runs apt-get itself; otherwise through sudo, which never prompts
# without a terminal. Without a way to install it says what is missing and stops.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev          # Core, Gui, Widgets, Test; brings moc/rcc and the platform plugins
  qt6-tools-dev qt6-l10n-tools   # Qt6LinguistTools and lrelease: the Chinese of the texts added to the table
  libzip-dev zlib1g-dev
  libsodium-dev         # Argon2id and XChaCha20-Poly1305 for containers with a password
  libdeflate-dev libisal-dev   # faster deflate and inflate; the build falls back to zlib without them
  zip unzip python3     # the tests check interoperability with Info-ZIP and Python's zipfile,
  7zip libarchive-tools fastjar   # 7-Zip, bsdtar and a jar tool
  xvfb xauth xdotool    # the desktop test runs the program on a real X server
  desktop-file-utils shared-mime-info appstream man-db   # checks of the menu entry, type, metainfo, manual pages
  dpkg-dev file lintian # cpack -G DEB: dpkg-shlibdeps finds the dependencies; Debian's checker
  exfatprogs exfat-fuse # unpacking onto a USB stick's file system, tested on an image
)
[ "${1:-}" = "--bench" ] && packages+=(libbenchmark-dev python3)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "Corvanta needs these Debian packages, which are not installed: ${missing[*]}" >&2
    echo "Install them as root:  apt-get install ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
  # Without a terminal a password prompt would hang: fail instead.
  [ -t 0 ] || as_root=(sudo -n)
fi

echo "Installing missing packages: ${missing[*]}"
if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q \
   || ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"; then
  echo "Could not install: ${missing[*]}" >&2
  echo "Install them as root:  apt-get install ${missing[*]}" >&2
  exit 1
fi
