#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the whole suite of an existing build again and again while busy loops
# keep every core loaded: a test that races the clock fails here long before
# it fails in CI. Stops at the first failed or skipped test.
#
# Usage: scripts/soak.sh [RUNS] (default 20; build/ must be built)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}
cores=$(nproc)
loops=()
stop_loops() { for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap stop_loops EXIT
for _ in $(seq "$cores"); do
  (while :; do :; done) &
  loops+=($!)
done
for run in $(seq "$runs"); do
  log=build/soak-$run.log
  # As CI runs it: as many tests at once as there are cores.
  if ! ctest --test-dir build --output-on-failure --no-tests=error -j"$cores" >"$log" 2>&1; then
    echo "run $run of $runs: a test failed, see $log" >&2
    exit 1
  fi
  # CTest's own log keeps every test's output, where a skipped case says so.
  if grep -q 'tests did not run' "$log" || grep -qE '^SKIP +:' build/Testing/Temporary/LastTest.log; then
    echo "run $run of $runs: a test was skipped, see $log" >&2
    exit 1
  fi
  echo "run $run of $runs: $(grep -E 'tests passed' "$log")"
  rm -f "$log"
done
