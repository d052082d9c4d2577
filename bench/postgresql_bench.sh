#!/usr/bin/env bash
# The cost of mint_uuid in PostgreSQL, beside md5 on the same table in the
# same run: a throw-away server (Debian's pg_virtualenv, as the extension's
# tests use), N generated records loaded with COPY, and for each query the
# best of five runs of EXPLAIN ANALYZE without per-node timing, in one
# backend process (no parallel workers).
#
# usage: bench/postgresql_bench.sh [BUILD_DIR] [N]
#   BUILD_DIR defaults to build/default (configured with MINT_POSTGRESQL on);
#   N defaults to 1000000.
set -euo pipefail
build=${1:-build/default}
count=${2:-1000000}
runs=5

if [ "${MINT_BENCH_INSIDE:-}" = 1 ]; then
  psql() { command psql -XAtq -v ON_ERROR_STOP=1 "$@"; }
  psql -c 'CREATE EXTENSION mint'
  psql -c "CREATE TABLE t (data_record bigint, patient_name text, patient_ssn text, patient_gender int,
    patient_birth_year int, patient_birth_month int, patient_birth_day int, policy_name text, policy_ssn text,
    policy_gender int, policy_birth_year int, policy_birth_month int, policy_birth_day int)"
  psql -c "COPY t FROM '$MINT_BENCH_RECORDS' (FORMAT csv, HEADER true)"
  psql -c 'VACUUM ANALYZE t'
  declare -A queries=(
    [scan]="SELECT count(*) FROM t"
    [md5]="SELECT count(md5(patient_name || patient_ssn)) FROM t"
    [mint_uuid]="SELECT count(mint_uuid(patient_name, patient_ssn, patient_gender, patient_birth_year,
      patient_birth_month, patient_birth_day, policy_name, policy_ssn, policy_gender, policy_birth_year,
      policy_birth_month, policy_birth_day)) FROM t"
  )
  declare -A best=()
  for _ in $(seq $runs); do
    # Interleaved, so that a slow minute of the machine touches all three.
    for name in scan md5 mint_uuid; do
      ms=$(psql -c 'SET max_parallel_workers_per_gather = 0' \
        -c "EXPLAIN (ANALYZE, TIMING OFF) ${queries[$name]}" | sed -n 's/^Execution Time: \([0-9.]*\) ms$/\1/p')
      if [ -z "${best[$name]:-}" ] || awk -v a="$ms" -v b="${best[$name]}" 'BEGIN { exit !(a < b) }'; then
        best[$name]=$ms
      fi
    done
  done
  rows=$(psql -c 'SELECT count(*) FROM t')
  printf '%-10s %12s %12s %22s\n' query "best ms" "ns per row" "ns per row beyond scan"
  for name in scan md5 mint_uuid; do
    awk -v name="$name" -v ms="${best[$name]}" -v scan="${best[scan]}" -v rows="$rows" 'BEGIN {
      printf "%-10s %12.1f %12.0f %22.0f\n", name, ms, ms * 1e6 / rows, (ms - scan) * 1e6 / rows }'
  done
  awk -v m="${best[mint_uuid]}" -v d="${best[md5]}" -v s="${best[scan]}" 'BEGIN {
    printf "mint_uuid / md5: %.2f (whole query), %.2f (beyond the scan)\n", m / d, (m - s) / (d - s) }'
  exit 0
fi

pg_config=${PG_CONFIG:-pg_config}
generate=$build/bench/generate_records
module=$build/bindings/postgresql/mint.so
for file in "$generate" "$module"; do
  [ -f "$file" ] || { echo "missing $file: build first, with MINT_POSTGRESQL on (cmake --build --preset default)" >&2; exit 1; }
done
command -v pg_virtualenv > /dev/null || { echo "pg_virtualenv not found (Debian package postgresql-common)" >&2; exit 1; }

work=$(mktemp -d -t mint-postgresql-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # the server, another user when this runs as root, reads from here
DESTDIR=$work/installed cmake --install "$build" --component postgresql > /dev/null
stage=$work/stage
pkglibdir=$("$pg_config" --pkglibdir)
extensiondir=$("$pg_config" --sharedir)/extension
mkdir -p "$stage$pkglibdir" "$stage$extensiondir"
find "$work/installed" -name 'mint.so' -exec cp {} "$stage$pkglibdir/" \;
find "$work/installed" -name 'mint*.sql' -o -name 'mint.control' | xargs cp -t "$stage$extensiondir/"
"$generate" "$count" 42 > "$work/records.csv"
chmod -R a+rX "$work"

version=$("$pg_config" --version | sed -E 's/^PostgreSQL ([0-9]+).*/\1/')
echo "PostgreSQL $version, $count generated records, best of $runs, one process"
MINT_BENCH_INSIDE=1 MINT_BENCH_RECORDS=$work/records.csv \
  pg_virtualenv -t -v "$version" -o "extension_destdir=$stage" -o shared_buffers=1GB -o jit=off \
  "$0" "$build" "$count" 2>&1 | grep -v -e '^Creating new PostgreSQL cluster' -e '^Dropping cluster'
