#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times corvanta-cli encrypt/decrypt against Info-ZIP zip -r -q / unzip -q,
# side by side in one run (interleaved), and prints medians of wall and CPU
# time, sizes, ratios and peak memory.
#
# Usage: bench/pack_bench.sh [--variant mixed|small | --tree DIR | --files N[,N...]] [--runs N] [--password] [--levels]
#   --tree DIR  measures on a copy of a real folder instead of the corpus. Links
#               to folders are left out of the copy: zip -r follows them and
#               corvanta-cli does not, so both then pack the same entries.
#   --password  also packs and unpacks the input with a password
#               (--password-file), interleaved with runs without one, and
#               prints the ratios less the key derivation's fixed cost
#   --levels    also packs at -l 0, the default and -l 9, interleaved, and
#               prints level 0's time and level 9's size against the default's
#               (measured on a one-byte file).
#   --files N   measures on N small text files (1-3 KB) instead: time per file
#               and peak memory of every command, beside libzip's own needs
#               (bench/libzip_floor). With several counts it also prints the
#               memory kept per entry: the slope of peak memory from the
#               first count to the last.
# Environment: CORVANTA_CLI (default build/cli/corvanta-cli), CORVANTA_CLI_BASE
#   (optional: an earlier build, measured in the same runs as "before"),
#   CORVANTA_CORPUS_SCRIPT (default ../shared/bench/make_corpus.py beside the
#   checkout), BENCH_DIR (work folder; default a fresh one under /tmp, removed
#   afterwards unless KEEP_BENCH_DIR=1).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${CORVANTA_CLI:-$root/build/cli/corvanta-cli}
base=${CORVANTA_CLI_BASE:-}
corpus_script=${CORVANTA_CORPUS_SCRIPT:-$root/../shared/bench/make_corpus.py}
variant=mixed
tree=
files=
runs=5
password=
levels=
usage="usage: $0 [--variant mixed|small | --tree DIR | --files N[,N...]] [--runs N] [--password] [--levels]"
while [ $# -gt 0 ]; do
  case "$1" in
    --variant) variant=$2; shift 2 ;;
    --tree) tree=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    --password) password=1; shift ;;
    --levels) levels=1; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
[ -x "$cli" ] || { echo "corvanta-cli not found at $cli (build first)" >&2; exit 2; }
[ -z "$base" ] || [ -x "$base" ] || { echo "CORVANTA_CLI_BASE is not a program: $base" >&2; exit 2; }

work=${BENCH_DIR:-$(mktemp -d /tmp/corvanta-bench.XXXXXX)}
mkdir -p "$work"
cleanup() { [ "${KEEP_BENCH_DIR:-0}" = 1 ] || [ -n "${BENCH_DIR:-}" ] || rm -rf "$work"; }
trap cleanup EXIT
cd "$work"

# Runs a command; appends "seconds peak_kB cpu_seconds" to the named file and
# keeps its standard output in .stdout. GNU time gives the child's own peak;
# without it Python measures, and its peak includes the interpreter's ~10 MB.
measure() {
  local out=$1; shift
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "%e %M %U %S" -o "$work/.t" "$@" >"$work/.stdout"
    awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}' "$work/.t" >>"$out"
    return
  fi
  python3 - "$out" "$work/.stdout" "$@" <<'PY'
import resource, subprocess, sys, time
out, stdout_path, cmd = sys.argv[1], sys.argv[2], sys.argv[3:]
with open(stdout_path, "wb") as so:
    start = time.monotonic()
    subprocess.run(cmd, stdout=so, check=True)
    seconds = time.monotonic() - start
r = resource.getrusage(resource.RUSAGE_CHILDREN)
with open(out, "a") as f:
    f.write(f"{seconds:.3f} {r.ru_maxrss} {r.ru_utime + r.ru_stime:.2f}\n")
PY
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
col_median() { cut -d' ' -f"$2" "$1" | median; }
max_kb() { awk '$2>m{m=$2} END{print m}' "$1"; }

# Many small files: every command, and libzip alone, per count of files.
if [ -n "$files" ]; then
  floor=${LIBZIP_FLOOR:-$root/build/bench/libzip_floor}
  [ -x "$floor" ] || { echo "libzip_floor not found at $floor (build the benchmarks first)" >&2; exit 2; }
  printf "%-9s %-22s %8s %10s %8s\n" files command "wall s" "us/file" "peak MB"
  IFS=, read -r -a counts <<<"$files"
  for n in "${counts[@]}"; do
    [ -d "in/files-$n" ] || { echo "Making $n small files ..."; python3 "$root/bench/make_small_files.py" "$n" "in/files-$n"; }
    tar cf - "in/files-$n" >/dev/null # warm the page cache
    rm -f ./*.t
    for i in $(seq "$runs"); do
      rm -rf "out-$n" ref.zip unzipped && mkdir -p "out-$n" unzipped
      (cd in && measure "../zip-$n.t" zip -r -q ../ref.zip "files-$n")
      measure "encrypt-$n.t" "$cli" encrypt -C "$work/out-$n" "$work/in/files-$n"
      container=$(cat "$work/.stdout")
      (cd unzipped && measure "../unzip-$n.t" unzip -q ../ref.zip)
      measure "decrypt-$n.t" "$cli" decrypt "$container"
      measure "list-$n.t" "$cli" list "$container"
      measure "test-$n.t" "$cli" test "$container"
      "$floor" decipher "$container" floor.zip
      measure "libzip-read-$n.t" "$floor" read floor.zip
      measure "libzip-write-$n.t" "$floor" write "$n" floor-written.zip
    done
    diff -r "in/files-$n" "$(dirname "$container")/$(basename "$container" .kvxdata)/files-$n" >/dev/null \
      && same=yes || same=NO
    for c in zip encrypt unzip decrypt list test libzip-read libzip-write; do
      printf "%-9s %-22s %8.2f %10.2f %8.1f\n" "$n" "$c" "$(col_median "$c-$n.t" 1)" \
        "$(awk -v s="$(col_median "$c-$n.t" 1)" -v n="$n" 'BEGIN{print s*1e6/n}')" \
        "$(awk -v k="$(max_kb "$c-$n.t")" 'BEGIN{print k/1024}')"
      cp "$c-$n.t" "$c-$n.kept"
    done
    echo "          unpacked tree identical to the input: $same"
    rm -rf "out-$n" unzipped ref.zip floor.zip floor-written.zip # room for the next count
  done
  if [ "${#counts[@]}" -gt 1 ]; then
    a=${counts[0]}; b=${counts[${#counts[@]}-1]}
    slope() { awk -v x="$(max_kb "$1-$a.kept")" -v y="$(max_kb "$1-$b.kept")" -v a="$a" -v b="$b" \
      'BEGIN{printf "%.0f", (y-x)*1024/(b-a)}'; }
    printf "\nKept per entry from %s to %s files (slope of peak memory), bytes:\n" "$a" "$b"
    for c in encrypt decrypt list test; do
      ref=libzip-read; [ "$c" = encrypt ] && ref=libzip-write
      printf "  %-8s %6s   libzip's own (%s) %6s   ratio %s\n" "$c" "$(slope "$c")" "$ref" "$(slope "$ref")" \
        "$(awk -v x="$(slope "$c")" -v y="$(slope "$ref")" 'BEGIN{printf "%.2f", x/y}')"
    done
    printf "  (libzip reading alone: %s)\n" "$(slope libzip-read)"
  fi
  exit 0
fi

if [ -n "$tree" ]; then
  name=$(basename "$tree")
  if [ ! -d "in/$name" ]; then
    echo "Copying $tree to $work/in/$name ..."
    mkdir -p in && cp -a "$tree" "in/$name"
    dropped=$(find "in/$name" \( -xtype d -o -xtype l \) -type l -print -delete | wc -l)
    [ "$dropped" -eq 0 ] || echo "Left out $dropped links to folders or to nothing (zip -r would follow or refuse them)."
  fi
  label="tree $tree"
else
  name=corpus
  if [ ! -d in/corpus ]; then
    [ -f "$corpus_script" ] || { echo "corpus script not found at $corpus_script" >&2; exit 2; }
    echo "Making the $variant corpus in $work/in/corpus ..."
    mkdir -p in && python3 "$corpus_script" --variant "$variant" in/corpus >/dev/null
  fi
  label="corpus ($variant variant)"
fi
input_bytes=$(du -sb "in/$name" | cut -f1)
input_files=$(find "in/$name" -type f | wc -l)
tar cf - "in/$name" >/dev/null # warm the page cache

out_dir_of() { echo "$(dirname "$1")/$(basename "$1" | cut -d. -f1)"; }

# Each corvanta-cli packs into its own folder, so the two never meet.
pack() { # tag program
  rm -rf "$work/$1" && mkdir -p "$work/$1"
  measure "$1-enc.t" "$2" encrypt -C "$work/$1" "$work/in/$name"
  cat "$work/.stdout" >"$work/$1.container"
}
unpack() { # tag program
  local container; container=$(cat "$work/$1.container")
  rm -rf "$(out_dir_of "$container")"
  measure "$1-dec.t" "$2" decrypt "$container"
}

tags=(new)
[ -z "$base" ] || tags=(base new)
prog() { if [ "$1" = base ]; then echo "$base"; else echo "$cli"; fi; }

rm -f ./*.t
echo "Packing, $runs runs each, interleaved ..."
for i in $(seq "$runs"); do
  rm -f ref.zip
  (cd in && measure ../zip.t zip -r -q ../ref.zip "$name")
  for t in "${tags[@]}"; do pack "$t" "$(prog "$t")"; done
done
echo "Unpacking, $runs runs each, interleaved ..."
for i in $(seq "$runs"); do
  rm -rf unzipped && mkdir unzipped
  (cd unzipped && measure ../unzip.t unzip -q ../ref.zip)
  for t in "${tags[@]}"; do unpack "$t" "$(prog "$t")"; done
done

same=yes
for t in "${tags[@]}"; do
  diff -r "in/$name" "$(out_dir_of "$(cat "$t.container")")/$name" >/dev/null || same="NO ($t)"
done
if [ -n "$base" ]; then
  # The new build still unpacks a container the earlier one made.
  old=$(cat base.container); cp "$old" "$work/old.kvxdata"; rm -rf "$work/old"
  "$cli" decrypt "$work/old.kvxdata" >/dev/null
  diff -r "in/$name" "$work/old/$name" >/dev/null || same="NO (new build on the old container)"
fi

if [ -n "$password" ]; then
  echo "With and without a password, $runs runs each, interleaved ..."
  echo "a password for the benchmark" >pw.txt
  echo x >one-byte
  for i in $(seq "$runs"); do
    for mode in plain sealed; do
      opts=(); [ $mode = sealed ] && opts=(--password-file pw.txt)
      rm -rf "$work/pw-$mode" && mkdir -p "$work/pw-$mode"
      measure "pw-$mode-enc.t" "$cli" encrypt "${opts[@]}" -C "$work/pw-$mode" "$work/in/$name"
      c=$(cat "$work/.stdout")
      measure "pw-$mode-dec.t" "$cli" decrypt "${opts[@]}" "$c"
      measure "pw-$mode-tiny.t" "$cli" encrypt "${opts[@]}" -C "$work/pw-$mode" "$work/one-byte"
    done
  done
  diff -r "in/$name" "$(out_dir_of "$c")/$name" >/dev/null || same="NO (with a password)"
fi

if [ -n "$levels" ]; then
  echo "Levels 0, default and 9, $runs runs each, interleaved ..."
  for i in $(seq "$runs"); do
    for l in 0 default 9; do
      opts=(); [ $l = default ] || opts=(-l $l)
      rm -rf "$work/lv-$l" && mkdir -p "$work/lv-$l"
      measure "lv-$l-enc.t" "$cli" encrypt "${opts[@]}" -C "$work/lv-$l" "$work/in/$name"
      cat "$work/.stdout" >"$work/lv-$l.container"
    done
  done
fi

row() { # label file output_bytes
  printf "%-30s %8.2f %8.2f %8.1f %10s\n" "$1" "$(col_median "$2" 1)" "$(col_median "$2" 3)" \
    "$(awk -v k="$(max_kb "$2")" 'BEGIN{print k/1024}')" "${3:-}"
}
mb() { awk -v b="$1" 'BEGIN{printf "%.2f", b/1048576}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.3f", a/b}'; }

zip_size=$(stat -c %s ref.zip)
printf "\nInput: %s, %s files, %s MB; %d runs each, medians (peak: the largest)\n" \
  "$label" "$input_files" "$(mb "$input_bytes")" "$runs"
printf "%-30s %8s %8s %8s %10s\n" "command" "wall s" "CPU s" "peak MB" "output MB"
row "zip -r -q" zip.t "$(mb "$zip_size")"
for t in "${tags[@]}"; do row "corvanta-cli encrypt ($t)" "$t-enc.t" "$(mb "$(stat -c %s "$(cat "$t.container")")")"; done
row "unzip -q" unzip.t
for t in "${tags[@]}"; do row "corvanta-cli decrypt ($t)" "$t-dec.t"; done
echo
zs=$(col_median zip.t 1); zc=$(col_median zip.t 3); us=$(col_median unzip.t 1)
for t in "${tags[@]}"; do
  size=$(stat -c %s "$(cat "$t.container")")
  printf "%-5s encrypt/zip time %s (<= 0.30)  container/zip size %s (<= 1.00)  encrypt/zip CPU %s (<= 0.60)  decrypt/unzip time %s (<= 0.50)  peak MB %s (< 100)\n" \
    "$t" "$(ratio "$(col_median "$t-enc.t" 1)" "$zs")" "$(ratio "$size" "$zip_size")" \
    "$(ratio "$(col_median "$t-enc.t" 3)" "$zc")" "$(ratio "$(col_median "$t-dec.t" 1)" "$us")" \
    "$(awk -v a="$(max_kb "$t-enc.t")" -v b="$(max_kb "$t-dec.t")" 'BEGIN{m=a>b?a:b; printf "%.1f", m/1024}')"
done
echo "unpacked trees identical to the input: $same"
if [ -n "$levels" ]; then
  for l in 0 default 9; do row "encrypt -l $l" "lv-$l-enc.t" "$(mb "$(stat -c %s "$(cat "lv-$l.container")")")"; done
  printf "level 0 time / default time %s (<= 0.50)  level 9 size / default size %s (< 1.00)\n" \
    "$(ratio "$(col_median lv-0-enc.t 1)" "$(col_median lv-default-enc.t 1)")" \
    "$(ratio "$(stat -c %s "$(cat lv-9.container)")" "$(stat -c %s "$(cat lv-default.container)")")"
fi
if [ -n "$password" ]; then
  kdf=$(awk -v a="$(col_median pw-sealed-tiny.t 1)" -v b="$(col_median pw-plain-tiny.t 1)" 'BEGIN{printf "%.2f", a-b}')
  less() { awk -v a="$(col_median "pw-sealed-$1.t" 1)" -v b="$(col_median "pw-plain-$1.t" 1)" -v k="$kdf" \
    'BEGIN{printf "%.3f", (a-k)/b}'; }
  printf "with a password: encrypt %.2f s against %.2f s, decrypt %.2f s against %.2f s; key derivation %s s\n" \
    "$(col_median pw-sealed-enc.t 1)" "$(col_median pw-plain-enc.t 1)" "$(col_median pw-sealed-dec.t 1)" \
    "$(col_median pw-plain-dec.t 1)" "$kdf"
  printf "  less the key derivation: encrypt %s (<= 1.15), decrypt %s (<= 1.15); peak MB %.1f\n" "$(less enc)" \
    "$(less dec)" "$(awk -v a="$(max_kb pw-sealed-enc.t)" -v b="$(max_kb pw-sealed-dec.t)" 'BEGIN{m=a>b?a:b; print m/1024}')"
fi
