#!/usr/bin/env bash
# Whole-process throughput of mintbatch at level 0 on generated records.
#
# usage: bench/batch_throughput.sh [BUILD_DIR] [N ...]
#   BUILD_DIR defaults to build/default; N defaults to 10000 and 1000000.
#   ROUNDS (environment, default 5): runs of each way of running;
#   PYTHON_ROUNDS (default 2): runs of the naive Python script.
# For each N it generates the records (seeded, so every run sees the same
# file) and runs mintbatch ROUNDS times in every way below, the ways taking
# turns so that a busy moment of the machine hits them alike; it prints the
# best wall time, records per second and the highest peak resident set size.
# One thread (-j 1) and the default (every CPU the process may use) are
# compared within the run. Times are of mintbatch alone (bench/run_timed),
# not of the shell around it. For the largest N, the naive Python script
# (bench/naive_mint.py, csv and hashlib) runs too, and its output must equal
# mintbatch's.
set -euo pipefail
build=${1:-build/default}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 1000000)
rounds=${ROUNDS:-5}
python_rounds=${PYTHON_ROUNDS:-2}
here=$(cd "$(dirname "$0")" && pwd)

mintbatch=$build/tools/batch/mintbatch
generate=$build/bench/generate_records
run_timed=$build/bench/run_timed
for tool in "$mintbatch" "$generate" "$run_timed"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (cmake --build --preset default)" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# timed_run COMMAND: one run of COMMAND (through bash -c, with $in, $out, $key
# and $timed set); the wall time and peak RSS (KiB) of mintbatch itself, which
# run_timed measures, into $seconds and $rss.
timed_run() {
  rm -f "$scratch/out.csv"  # a fresh file each run: rewriting a truncated one waits for the disk
  in="$scratch/in.csv" out="$scratch/out.csv" key="$scratch/key" timed="$run_timed $scratch/time $mintbatch" bash -c "$1" > /dev/null 2>&1
  read -r seconds rss < "$scratch/time"
}

timed='$timed'
# mintbatch's default: the CPUs it may run on (as nproc counts them), at most 16.
cpus=$(nproc)
default_threads=$(( cpus < 16 ? cpus : 16 ))
# Each way of running: files with one thread and with the default, then
# standard streams, the progress line drawn throughout (to /dev/null), and
# the key-only output and keyed identifiers, all with the default.
modes=(
  "files, -j 1|$timed -j 1 \"\$in\" \"\$out\""
  "files, default|$timed \"\$in\" \"\$out\""
  "pipe in, pipe out|cat \"\$in\" | $timed - - | cat > \"\$out\""
  "--progress|$timed --progress \"\$in\" \"\$out\""
  "--key-only|$timed --key-only \"\$in\" \"\$out\""
  "--key-file (keyed)|$timed --key-file \"\$key\" \"\$in\" \"\$out\""
)
head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n' > "$scratch/key"
chmod 600 "$scratch/key"

echo "$(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')), default $default_threads threads"
printf '%-10s %-18s %10s %10s %14s %12s\n' records mode "input MB" "best s" "records/s" "peak RSS KiB"
for n in "${sizes[@]}"; do
  "$generate" "$n" 42 > "$scratch/in.csv"
  megabytes=$(awk -v b="$(stat -c %s "$scratch/in.csv")" 'BEGIN { printf "%.1f", b / 1e6 }')
  best=()
  peak=()
  for _ in $(seq 1 "$rounds"); do
    for i in "${!modes[@]}"; do
      timed_run "${modes[$i]#*|}"
      if [ -z "${best[$i]:-}" ] || awk -v a="$seconds" -v b="${best[$i]}" 'BEGIN { exit !(a < b) }'; then
        best[$i]=$seconds
      fi
      [ "$rss" -gt "${peak[$i]:-0}" ] && peak[$i]=$rss
    done
  done
  for i in "${!modes[@]}"; do
    rate=$(awk -v n="$n" -v s="${best[$i]}" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "inf" }')
    printf '%-10s %-18s %10s %10s %14s %12s\n' "$n" "${modes[$i]%%|*}" "$megabytes" "${best[$i]}" "$rate" "${peak[$i]}"
  done
  echo "$n: default ($default_threads threads) / one thread: $(awk -v a="${best[0]}" -v b="${best[1]}" 'BEGIN { printf "%.2fx", a / b }')"
done

# The naive Python script on the largest input, whose output is checked
# against mintbatch's.
n=${sizes[-1]}
"$mintbatch" "$scratch/in.csv" "$scratch/expected.csv" > /dev/null
python_best=""
for _ in $(seq 1 "$python_rounds"); do
  "$run_timed" "$scratch/time" /usr/bin/python3 "$here/naive_mint.py" "$scratch/in.csv" "$scratch/python.csv"
  read -r seconds _ < "$scratch/time"
  if [ -z "$python_best" ] || awk -v a="$seconds" -v b="$python_best" 'BEGIN { exit !(a < b) }'; then
    python_best=$seconds
  fi
done
cmp -s "$scratch/expected.csv" "$scratch/python.csv" || echo "naive Python: its output differs from mintbatch's!"
python_rate=$(awk -v n="$n" -v s="$python_best" 'BEGIN { printf "%.0f", n / s }')
printf '%-10s %-18s %10s %10s %14s\n' "$n" "naive Python" "$megabytes" "$python_best" "$python_rate"
echo "$n: mintbatch default / naive Python: $(awk -v a="$python_best" -v b="${best[1]}" 'BEGIN { printf "%.0fx", a / b }')," \
  "one thread / naive Python: $(awk -v a="$python_best" -v b="${best[0]}" 'BEGIN { printf "%.0fx", a / b }')"
