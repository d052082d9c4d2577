#!/usr/bin/env bash
# The cost of mint_uuid in PostgreSQL, beside md5 on the same table in the
# same run: throw-away servers (Debian's pg_virtualenv, as the extension's
# tests use), one without a key and one with mint preloaded and a key, N
# generated records loaded with COPY, and for each query the median of five
# runs of EXPLAIN ANALYZE without per-node timing, in one backend process (no
# parallel workers).
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
  declare -A times=() median=()
  for _ in $(seq $runs); do
    # Interleaved, so that a slow minute of the machine touches all three.
    for name in scan md5 mint_uuid; do
      ms=$(psql -c 'SET max_parallel_workers_per_gather = 0' \
        -c "EXPLAIN (ANALYZE, TIMING OFF) ${queries[$name]}" | sed -n 's/^Execution Time: \([0-9.]*\) ms$/\1/p')
      times[$name]="${times[$name]:-} $ms"
    done
  done
  for name in scan md5 mint_uuid; do
    median[$name]=$(printf '%s\n' ${times[$name]} | sort -g | sed -n "$(( (runs + 1) / 2 ))p")
  done
  rows=$(psql -c 'SELECT count(*) FROM t')
  echo "key: $(psql -c "SELECT coalesce('fingerprint ' || mint_key_id(), 'none')")"
  printf '%-10s %12s %12s %22s\n' query "median ms" "ns per row" "ns per row beyond scan"
  for name in scan md5 mint_uuid; do
    awk -v name="$name" -v ms="${median[$name]}" -v scan="${median[scan]}" -v rows="$rows" 'BEGIN {
      printf "%-10s %12.1f %12.0f %22.0f\n", name, ms, ms * 1e6 / rows, (ms - scan) * 1e6 / rows }'
  done
  awk -v m="${median[mint_uuid]}" -v d="${median[md5]}" -v s="${median[scan]}" 'BEGIN {
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
# Installed into a prefix of its own, which the servers look in first.
prefix=$work/prefix
cmake --install "$build" --component postgresql --prefix "$prefix" > /dev/null
pkglibdir=$("$pg_config" --pkglibdir)
"$generate" "$count" 42 > "$work/records.csv"
# A key as the server needs it: its own user's, for it alone.
mkdir -m 700 "$work/key"
head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n' > "$work/key/key.hex"
chmod 600 "$work/key/key.hex"
chmod -R a+rX "$prefix" "$work/records.csv"
[ "$(id -u)" -ne 0 ] || chown -R postgres "$work/key"

version=$("$pg_config" --version | sed -E 's/^PostgreSQL ([0-9]+).*/\1/')
echo "PostgreSQL $version, $count generated records, median of $runs, one process"
for keyed in no yes; do
  options=(-o "extension_destdir=$prefix" -o shared_buffers=1GB -o jit=off)
  if [ $keyed = yes ]; then
    options+=(-o "dynamic_library_path=$prefix$pkglibdir:\$libdir" -o shared_preload_libraries=mint
              -o "mint.key_file=$work/key/key.hex")
  fi
  MINT_BENCH_INSIDE=1 MINT_BENCH_RECORDS=$work/records.csv \
    pg_virtualenv -t -v "$version" "${options[@]}" \
    "$0" "$build" "$count" 2>&1 | grep -v -e '^Creating new PostgreSQL cluster' -e '^Dropping cluster'
done
