#!/usr/bin/env bash
# Throughput of mintbatch reading by name against the positional format, on
# the same generated records: the positional file, and the export with the
# columns shuffled, a date column for each birth and two further columns
# (generate_records --export), read with --by-name.
#
# usage: bench/named_throughput.sh [BUILD_DIR] [N ...]
#   BUILD_DIR defaults to build/default; N defaults to 100000 and 1000000.
#   ROUNDS (environment, default 5): runs of each way of running.
# The ways take turns, so that a busy moment of the machine hits them alike;
# for each it prints the best wall time, records per second and the highest
# peak resident set size (of mintbatch alone, bench/run_timed), then by name
# over positional at one thread and at the default. The two formats' key-only
# outputs must be identical, and -j 1 and the default must write the same.
set -euo pipefail
build=${1:-build/default}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
rounds=${ROUNDS:-5}

mintbatch=$build/tools/batch/mintbatch
generate=$build/bench/generate_records
run_timed=$build/bench/run_timed
for tool in "$mintbatch" "$generate" "$run_timed"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (cmake --build --preset default)" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

modes=(
  "positional, -j 1|-j 1 \"\$scratch/positional.csv\""
  "by name, -j 1|-j 1 --by-name \"\$scratch/export.csv\""
  "positional, default|\"\$scratch/positional.csv\""
  "by name, default|--by-name \"\$scratch/export.csv\""
)

echo "$(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'))"
printf '%-10s %-22s %10s %10s %14s %12s\n' records mode "input MB" "best s" "records/s" "peak RSS KiB"
for n in "${sizes[@]}"; do
  "$generate" "$n" 42 > "$scratch/positional.csv"
  "$generate" --export "$n" 42 > "$scratch/export.csv"
  # The same identifiers, whichever format, whatever the thread count.
  "$mintbatch" --key-only "$scratch/positional.csv" "$scratch/positional.keys" > /dev/null 2>&1
  "$mintbatch" --by-name --key-only "$scratch/export.csv" "$scratch/export.keys" > /dev/null 2>&1
  cmp -s "$scratch/positional.keys" "$scratch/export.keys" || { echo "by name and positional differ!" >&2; exit 1; }
  "$mintbatch" -j 1 --by-name "$scratch/export.csv" "$scratch/one.csv" > /dev/null 2>&1
  "$mintbatch" --by-name "$scratch/export.csv" "$scratch/default.csv" > /dev/null 2>&1
  cmp -s "$scratch/one.csv" "$scratch/default.csv" || { echo "by name: -j 1 and the default differ!" >&2; exit 1; }
  best=()
  peak=()
  size=()
  for _ in $(seq 1 "$rounds"); do
    for i in "${!modes[@]}"; do
      rm -f "$scratch/out.csv"
      eval "set -- ${modes[$i]#*|}"
      "$run_timed" "$scratch/time" "$mintbatch" "$@" "$scratch/out.csv" > /dev/null 2>&1
      read -r seconds rss < "$scratch/time"
      if [ -z "${best[$i]:-}" ] || awk -v a="$seconds" -v b="${best[$i]}" 'BEGIN { exit !(a < b) }'; then
        best[$i]=$seconds
      fi
      [ "$rss" -gt "${peak[$i]:-0}" ] && peak[$i]=$rss
    done
  done
  for i in "${!modes[@]}"; do
    input="$scratch/positional.csv"
    [[ ${modes[$i]} == by\ name* ]] && input="$scratch/export.csv"
    megabytes=$(awk -v b="$(stat -c %s "$input")" 'BEGIN { printf "%.1f", b / 1e6 }')
    rate=$(awk -v n="$n" -v s="${best[$i]}" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "inf" }')
    printf '%-10s %-22s %10s %10s %14s %12s\n' "$n" "${modes[$i]%%|*}" "$megabytes" "${best[$i]}" "$rate" "${peak[$i]}"
  done
  echo "$n: by name / positional throughput: -j 1 $(awk -v a="${best[0]}" -v b="${best[1]}" 'BEGIN { printf "%.2f", a / b }')," \
    "default $(awk -v a="${best[2]}" -v b="${best[3]}" 'BEGIN { printf "%.2f", a / b }')"
done
