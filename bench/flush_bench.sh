#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What the durable flush of unpacking costs, in three figures:
#   1. 10,000 small files unpacked, against the same run without any flush
#      (CORVANTA_NO_FLUSH): target at most 1.5 times;
#   2. 20 small files unpacked while another program writes 4 GB to the same
#      file system, against one syncfs (sync -f) at such a moment: target at
#      most a fifth;
#   3. strace: every unpacked file's data is flushed before its name appears.
# Usage: bench/flush_bench.sh [--runs N] [--writer-mb N]
# Environment: CORVANTA_CLI (default build/cli/corvanta-cli), BENCH_DIR (a
# folder on the file system to measure; default a fresh one under /var/tmp).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=${CORVANTA_CLI:-$root/build/cli/corvanta-cli}
runs=3
writer_mb=4096
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --writer-mb) writer_mb=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--writer-mb N]" >&2; exit 2 ;;
  esac
done
[ -x "$cli" ] || { echo "corvanta-cli not found at $cli (build first)" >&2; exit 2; }
work=${BENCH_DIR:-$(mktemp -d /var/tmp/corvanta-flush.XXXXXX)}
mkdir -p "$work"
writer=
cleanup() { [ -z "$writer" ] || kill "$writer" 2>/dev/null || true; [ -n "${BENCH_DIR:-}" ] || rm -rf "$work"; }
trap cleanup EXIT
cd "$work"

seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); awk -v s="$s" -v e="$e" 'BEGIN{printf "%.3f", e-s}'; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

echo "Making 10,000 small files and 20 small files ..."
python3 "$root/bench/make_small_files.py" 10000 small >/dev/null
python3 "$root/bench/make_small_files.py" 20 few >/dev/null
many=$("$cli" encrypt -C "$work" small)
few=$("$cli" encrypt -C "$work" few)
out_of() { echo "${1%.kvxdata}"; }

# 1. With and without the flush, interleaved, each starting with nothing dirty.
for i in $(seq "$runs"); do
  for mode in flush none; do
    rm -rf "$(out_of "$many")"; sync
    if [ $mode = none ]; then t=$(CORVANTA_NO_FLUSH=1 seconds "$cli" decrypt "$many"); else t=$(seconds "$cli" decrypt "$many"); fi
    echo "$t" >>"many-$mode.t"
  done
done
a=$(median <many-flush.t); b=$(median <many-none.t)
printf "10,000 small files: %s s with the flush, %s s without: %s times (<= 1.5)\n" "$a" "$b" \
  "$(awk -v a="$a" -v b="$b" 'BEGIN{printf "%.2f", a/b}')"

# 2. Beside a big writer: our 20 files, then one syncfs, each with the writer
# started afresh a second before.
start_writer() {
  rm -f big.bin; sync
  dd if=/dev/zero of=big.bin bs=1M count="$writer_mb" status=none &
  writer=$!
  sleep 1
}
stop_writer() { kill "$writer" 2>/dev/null || true; wait "$writer" 2>/dev/null || true; writer=; rm -f big.bin; }
for i in $(seq "$runs"); do
  rm -rf "$(out_of "$few")"
  start_writer; seconds "$cli" decrypt "$few" >>few.t; echo >>few.t; stop_writer
  start_writer; seconds sync -f "$work" >>syncfs.t; echo >>syncfs.t; stop_writer
done
a=$(grep . few.t | median); b=$(grep . syncfs.t | median)
printf "20 small files beside a %s MB writer: %s s; one syncfs then: %s s: %s of it (<= 0.20)\n" "$writer_mb" "$a" "$b" \
  "$(awk -v a="$a" -v b="$b" 'BEGIN{printf "%.2f", a/b}')"

# 3. Each file's data waits for the disk before the name appears.
if command -v strace >/dev/null 2>&1; then
  rm -rf "$(out_of "$few")"
  strace -f -e trace=sync_file_range,fdatasync,linkat,renameat2 -o trace.log "$cli" decrypt "$few" >/dev/null
  waits=$(grep -c 'SYNC_FILE_RANGE_WAIT_AFTER\|fdatasync' trace.log || true)
  names=$(grep -c 'linkat\|renameat2' trace.log || true)
  printf "strace: %s waits for a file's data, %s files named (each wait before its name)\n" "$waits" "$names"
fi
