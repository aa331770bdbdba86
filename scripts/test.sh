#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Corvanta (installing what is missing) and runs the whole test suite;
# fails when any test fails or is skipped. Run by a user other than root it
# leaves out the tests labelled "root" (they mount file systems), and names
# them. Other builds, for CI:
#   --sanitize      build-asan/: AddressSanitizer and UndefinedBehaviorSanitizer, the same tests
#   --threads       build-tsan/: ThreadSanitizer, the engine's tests (the threads are there)
#   --zlib-only     build-zlib/: without libdeflate and ISA-L, the engine's tests
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

dir=build
flags=(-DCMAKE_BUILD_TYPE=Release)
only=()
engine_tests='^test_(kvx_cipher|archive|round_trip|pipeline|file_systems|cli|limits|writers)$'
case "${1:-}" in
  --sanitize)
    dir=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DCORVANTA_SANITIZE=ON -DCORVANTA_BUILD_BENCH=OFF)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    ;;
  --threads)
    dir=build-tsan
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANTA_SANITIZE_THREADS=ON -DCORVANTA_BUILD_BENCH=OFF)
    # The tests start programs (QProcess): the child only runs exec.
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/tests/tsan.supp"
    only=(-R "$engine_tests")
    ;;
  --zlib-only)
    dir=build-zlib
    flags=(-DCMAKE_BUILD_TYPE=Release -DCORVANTA_USE_LIBDEFLATE=OFF -DCORVANTA_USE_ISAL=OFF -DCORVANTA_BUILD_BENCH=OFF)
    only=(-R "$engine_tests")
    ;;
  "") ;;
  *) echo "usage: $0 [--sanitize | --threads | --zlib-only]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
# Two of npm's zip libraries for the interoperability test, into the build
# folder; without npm or its registry their rows are skipped with the reason.
if command -v npm >/dev/null 2>&1 && [ ! -d "$dir/npm/node_modules/jszip" ]; then
  npm install --prefix "$dir/npm" --no-audit --no-fund --no-save yazl@2.5.1 jszip@3.10.1 >/dev/null 2>&1 \
    || echo "npm could not install yazl and jszip: their rows of test_archive are skipped" >&2
fi
log="$dir/ctest-output.log"
if [ "$(id -u)" -ne 0 ]; then
  # Mounting a loop device, FUSE or tmpfs needs root: these cannot run here.
  left_out=$(ctest --test-dir "$dir" -N -L '^root$' "${only[@]}" | sed -n 's/^ *Test *#[0-9]*: //p')
  only+=(-LE '^root$')
fi
ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$(nproc)" "${only[@]}" | tee "$log"
if [ -n "${left_out:-}" ]; then
  echo "Left out, as they need root to mount file systems (run as root to include them):"
  sed 's/^/  /' <<<"$left_out"
fi
# A skipped test did not run: every machine the command runs on runs them all.
if grep -q 'tests did not run' "$log"; then
  echo "Some tests were skipped (listed above); the suite must run whole." >&2
  exit 1
fi
