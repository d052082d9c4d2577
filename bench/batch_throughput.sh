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

printf '%-10s %10s %12s %14s %12s\n' records "input MB" "best s" "records/s" "peak RSS KiB"
for n in "${sizes[@]}"; do
  "$generate" "$n" 42 > "$scratch/in.csv"
  megabytes=$(awk -v b="$(stat -c %s "$scratch/in.csv")" 'BEGIN { printf "%.1f", b / 1e6 }')
  best=""
  peak=0
  for _ in 1 2 3 4 5; do
    rm -f "$scratch/out.csv"  # a fresh file each run: rewriting a truncated one waits for the disk
    # Wall time to the microsecond from the clock (time(1) rounds to 10 ms);
    # peak RSS from time(1).
    start=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$scratch/time" "$mintbatch" "$scratch/in.csv" "$scratch/out.csv" > /dev/null
    finish=$(date +%s%N)
    seconds=$(awk -v ns=$((finish - start)) 'BEGIN { printf "%.4f", ns / 1e9 }')
    read -r rss < "$scratch/time"
    if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$seconds; fi
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  rate=$(awk -v n="$n" -v s="$best" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "inf" }')
  printf '%-10s %10s %12s %14s %12s\n' "$n" "$megabytes" "$best" "$rate" "$peak"
done
