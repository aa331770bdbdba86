#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the unpack fuzzer with clang into build-fuzz/, makes its seed corpus
# there and fuzzes for SECONDS (default 60). Extra arguments go to libFuzzer.
# Exits 0 with a message when clang or libFuzzer is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
shift || true

cxx="$(command -v clang++ || command -v clang++-14 || true)"
if [ -z "$cxx" ]; then
  echo "fuzz: clang++ not found; skipping the unpack fuzzer"
  exit 0
fi
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' |
    "$cxx" -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  echo "fuzz: $cxx cannot link libFuzzer (Debian: libclang-rt-14-dev, matching the clang version); skipping the unpack fuzzer"
  exit 0
fi

dir="$PWD/build-fuzz"
flags="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCORVANTA_BUILD_FUZZ=ON -DCORVANTA_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_unpack

rm -rf "$dir/fuzz/seeds"
python3 tests/fuzz/make_seeds.py "$dir/fuzz/seeds"
mkdir -p "$dir/fuzz/corpus" "$dir/fuzz/crashes"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# New inputs go to corpus/ (kept between runs), found faults to crashes/.
"$dir/tests/fuzz/fuzz_unpack" "$dir/fuzz/corpus" "$dir/fuzz/seeds" \
  -dict="$PWD/tests/fuzz/zip.dict" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 \
  -max_len=131072 -artifact_prefix="$dir/fuzz/crashes/" -print_final_stats=1 "$@"
