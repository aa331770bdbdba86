#!/usr/bin/env bash
# Times corvanta-cli encrypt/decrypt against Info-ZIP zip -r -q / unzip -q on
# the benchmark corpus, side by side in one run, and prints medians, sizes,
# ratios and peak memory.
#
# Usage: bench/pack_bench.sh [--variant mixed|small] [--runs N]
# Environment: CORVANTA_CLI (default build/cli/corvanta-cli),
#   CORVANTA_CORPUS_SCRIPT (default ../shared/bench/make_corpus.py beside the
#   checkout), BENCH_DIR (work folder; default a fresh one under /tmp, removed
#   afterwards unless KEEP_BENCH_DIR=1).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${CORVANTA_CLI:-$root/build/cli/corvanta-cli}
corpus_script=${CORVANTA_CORPUS_SCRIPT:-$root/../shared/bench/make_corpus.py}
variant=mixed
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --variant) variant=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: $0 [--variant mixed|small] [--runs N]" >&2; exit 2 ;;
  esac
done
[ -x "$cli" ] || { echo "corvanta-cli not found at $cli (build first)" >&2; exit 2; }
[ -f "$corpus_script" ] || { echo "corpus script not found at $corpus_script" >&2; exit 2; }

work=${BENCH_DIR:-$(mktemp -d /tmp/corvanta-bench.XXXXXX)}
mkdir -p "$work"
cleanup() { [ "${KEEP_BENCH_DIR:-0}" = 1 ] || [ -n "${BENCH_DIR:-}" ] || rm -rf "$work"; }
trap cleanup EXIT
cd "$work"

if [ ! -d corpus ]; then
  echo "Making the $variant corpus in $work/corpus ..."
  python3 "$corpus_script" --variant "$variant" corpus >/dev/null
fi
corpus_bytes=$(du -sb corpus | cut -f1)
tar cf - corpus >/dev/null # warm the page cache

# Runs a command; appends "seconds peak_kB" to the named file and keeps its
# standard output in .stdout. GNU time gives the child's own peak; without it
# Python measures, and its peak includes the interpreter's ~10 MB.
measure() {
  local out=$1; shift
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "%e %M" -o "$work/.t" "$@" >"$work/.stdout"
    cat "$work/.t" >>"$out"
    return
  fi
  python3 - "$out" "$work/.stdout" "$@" <<'PY'
import resource, subprocess, sys, time
out, stdout_path, cmd = sys.argv[1], sys.argv[2], sys.argv[3:]
with open(stdout_path, "wb") as so:
    start = time.monotonic()
    subprocess.run(cmd, stdout=so, check=True)
    seconds = time.monotonic() - start
peak_kb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
with open(out, "a") as f:
    f.write(f"{seconds:.3f} {peak_kb}\n")
PY
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
max_kb() { awk '$2>m{m=$2} END{print m}' "$1"; }

rm -f zip.t enc.t unzip.t dec.t
echo "Packing, $runs runs each ..."
for i in $(seq "$runs"); do
  rm -f ref.zip
  measure zip.t zip -r -q ref.zip corpus
  rm -rf AddData
  measure enc.t "$cli" encrypt -C "$work" corpus
  container=$(cat "$work/.stdout")
done

echo "Unpacking, $runs runs each ..."
for i in $(seq "$runs"); do
  rm -rf unzipped && mkdir unzipped
  (cd unzipped && measure ../unzip.t unzip -q ../ref.zip)
  rm -rf "$(dirname "$container")/$(basename "$container" | cut -d. -f1)"
  measure dec.t "$cli" decrypt "$container"
done
out_dir=$(cat "$work/.stdout")
diff -r corpus "$out_dir/corpus" >/dev/null && same=yes || same=NO

zip_s=$(cut -d' ' -f1 zip.t | median); enc_s=$(cut -d' ' -f1 enc.t | median)
unzip_s=$(cut -d' ' -f1 unzip.t | median); dec_s=$(cut -d' ' -f1 dec.t | median)
zip_size=$(stat -c %s ref.zip); kvx_size=$(stat -c %s "$container")

awk -v corpus="$work/corpus" -v variant="$variant" -v bytes="$corpus_bytes" -v runs="$runs" \
    -v zs="$zip_s" -v es="$enc_s" -v us="$unzip_s" -v ds="$dec_s" \
    -v zm="$(max_kb zip.t)" -v em="$(max_kb enc.t)" -v um="$(max_kb unzip.t)" -v dm="$(max_kb dec.t)" \
    -v zsize="$zip_size" -v ksize="$kvx_size" -v same="$same" 'BEGIN {
  MB = 1048576
  printf "\nCorpus: %s (%s variant), %.1f MB, %d runs each, medians\n", corpus, variant, bytes / MB, runs
  printf "%-24s %9s %9s %11s\n", "command", "seconds", "peak MB", "output MB"
  printf "%-24s %9.2f %9.1f %11.2f\n", "zip -r -q", zs, zm / 1024, zsize / MB
  printf "%-24s %9.2f %9.1f %11.2f\n", "corvanta-cli encrypt", es, em / 1024, ksize / MB
  printf "%-24s %9.2f %9.1f\n", "unzip -q", us, um / 1024
  printf "%-24s %9.2f %9.1f\n", "corvanta-cli decrypt", ds, dm / 1024
  printf "\nencrypt / zip time:    %.2f   (target <= 0.75)\n", es / zs
  printf "container / zip size:  %.4f (target <= 1.01)\n", ksize / zsize
  printf "decrypt / unzip time:  %.2f   (target <= 0.80)\n", ds / us
  printf "unpacked tree identical to the corpus: %s\n", same
}'
