#!/usr/bin/env bash
# Runs every fuzz target (or those named) for a fixed time from its committed
# seed corpus. New inputs go to a scratch corpus, so the committed one only
# changes when someone copies findings in on purpose.
#
# usage: fuzz/run.sh [SECONDS_PER_TARGET] [TARGET ...]
# Build first: cmake --preset fuzz && cmake --build --preset fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
build=build/fuzz/fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$build"/fuzz_*; do targets+=("$(basename "$t")"); done
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  mkdir -p "$scratch/$name" "$scratch/$name.artifacts"
  echo "== $target for ${seconds}s"
  if "$build/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=1024 \
      -artifact_prefix="$scratch/$name.artifacts/" "$scratch/$name" "fuzz/corpus/$name" \
      > "$scratch/$name.log" 2>&1; then
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$scratch/$name.log" | tr '\n' ' '
    echo "cov: $(grep -oE 'cov: [0-9]+' "$scratch/$name.log" | tail -1 | cut -d' ' -f2), corpus: $(ls "$scratch/$name" | wc -l) new inputs"
    passed=$((passed + 1))
  else
    echo "$target FAILED:"
    tail -40 "$scratch/$name.log"
    for artifact in "$scratch/$name.artifacts"/*; do
      [ -e "$artifact" ] && { echo "input ($artifact):"; od -c "$artifact" | head -20; }
    done
    failed=$((failed + 1))
  fi
done
echo "fuzz targets: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
