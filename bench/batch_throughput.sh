#!/usr/bin/env bash
# Whole-process throughput of mintbatch at level 0 on generated records.
#
# usage: bench/batch_throughput.sh [BUILD_DIR] [N ...]
#   BUILD_DIR defaults to build/default; N defaults to 10000 and 1000000.
# For each N it generates the records (seeded, so every run sees the same
# file), runs mintbatch five times and prints the best wall time, records per
# second and the peak resident set size.
set -euo pipefail
build=${1:-build/default}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 1000000)

mintbatch=$build/tools/batch/mintbatch
generate=$build/bench/generate_records
for tool in "$mintbatch" "$generate"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (cmake --build --preset default)" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# best_run COMMAND...: the best of five wall times of COMMAND (run through
# bash -c, with $in and $out set) and the highest peak RSS, into $best and $peak.
best_run() {
  best=""
  peak=0
  for _ in 1 2 3 4 5; do
    rm -f "$scratch/out.csv"  # a fresh file each run: rewriting a truncated one waits for the disk
    # Wall time to the microsecond from the clock (time(1) rounds to 10 ms);
    # peak RSS from time(1), of mintbatch itself.
    start=$(date +%s%N)
    in="$scratch/in.csv" out="$scratch/out.csv" key="$scratch/key" mintbatch="$mintbatch" timing="$scratch/time" bash -c "$1" > /dev/null 2>&1
    finish=$(date +%s%N)
    seconds=$(awk -v ns=$((finish - start)) 'BEGIN { printf "%.4f", ns / 1e9 }')
    read -r rss < "$scratch/time"
    if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$seconds; fi
    if [ "$rss" -gt "$peak" ]; then peak=$rss; fi
  done
}

timed='/usr/bin/time -f %M -o "$timing" "$mintbatch"'
# Each way of running: the plain file run first, then standard streams, the
# progress line drawn throughout (to /dev/null), the key-only output and
# keyed identifiers.
modes=(
  "files|$timed \"\$in\" \"\$out\""
  "pipe in, pipe out|cat \"\$in\" | $timed - - | cat > \"\$out\""
  "--progress|$timed --progress \"\$in\" \"\$out\""
  "--key-only|$timed --key-only \"\$in\" \"\$out\""
  "--key-file (keyed)|$timed --key-file \"\$key\" \"\$in\" \"\$out\""
)
head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n' > "$scratch/key"
chmod 600 "$scratch/key"

printf '%-10s %-18s %10s %10s %14s %12s\n' records mode "input MB" "best s" "records/s" "peak RSS KiB"
for n in "${sizes[@]}"; do
  "$generate" "$n" 42 > "$scratch/in.csv"
  megabytes=$(awk -v b="$(stat -c %s "$scratch/in.csv")" 'BEGIN { printf "%.1f", b / 1e6 }')
  for mode in "${modes[@]}"; do
    best_run "${mode#*|}"
    rate=$(awk -v n="$n" -v s="$best" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "inf" }')
    printf '%-10s %-18s %10s %10s %14s %12s\n' "$n" "${mode%%|*}" "$megabytes" "$best" "$rate" "$peak"
  done
done
