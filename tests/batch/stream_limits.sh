#!/usr/bin/env bash
# mintbatch on inputs too big to commit, made here: a line of 10 MB is copied
# through without the process growing by its size, at level 0 and level 1, and
# a reader that goes away early makes the run fail with the write message.
# usage: stream_limits.sh MINTBATCH RUN_TIMED (bench/run_timed: wall time and peak RSS)
set -uo pipefail
mintbatch=$1
run_timed=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failed=0
fail() {
  echo "$*"
  failed=1
}

header=data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,policy_birth_month,policy_birth_day
record='2,Jane Doe,123-45-6789,2,1970,1,31,,,,,,'
printf '%s\n%s\n' "$header" "$record" > small.csv
{
  printf '%s\n1,' "$header"
  head -c 10485760 /dev/zero | tr '\0' x
  printf '\r\n%s\n' "$record"
} > big.csv
{
  printf '%s,uuid\n1,' "$header"
  head -c 10485760 /dev/zero | tr '\0' x
  printf '\n%s,uc1kb3lfu4p3\n' "$record"
} > expected.csv

# Growth allowed over a run on a two-line file: well below the long line.
allowed_kib=2048
for option in "" -v; do
  "$run_timed" small.rss "$mintbatch" $option small.csv small.out > small.stdout || fail "small run $option failed"
  "$run_timed" big.rss "$mintbatch" $option big.csv big.out > big.stdout || fail "10 MB line run $option failed"
  cmp -s big.out expected.csv || fail "10 MB line run $option: output differs from the input"
  read -r _ small < small.rss
  read -r _ big < big.rss
  echo "peak RSS $option: ${small} KiB on two lines, ${big} KiB with a 10 MB line"
  [ $((big - small)) -le $allowed_kib ] || fail "10 MB line run $option grew by $((big - small)) KiB"
done
# At level 1 the long line is shown whole in its message, like any other line.
{
  printf "Reading patient records from input file 'big.csv'.\nWriting patient records to output file 'big.out'.\n\nIgnoring line '1,"
  head -c 10485760 /dev/zero | tr '\0' x
  printf "'\n\n\nProcessed patient data record '2'.\n\n\nProcessed 1 records, ignored 0 bad records, discarded 1 bad lines.\n"
} > expected.stdout
cmp -s big.stdout expected.stdout || fail "10 MB line run -v: standard output differs"

# A reader that reads one byte and goes away: the next write fails.
mkfifo pipe
head -c 1 pipe > /dev/null &
reader=$!
"$mintbatch" big.csv pipe > pipe.stdout
status=$?
wait "$reader"
[ "$status" = 1 ] || fail "closed pipe: exit status $status, expected 1"
printf "Unable to write output file 'pipe'.\n" | cmp -s - pipe.stdout || fail "closed pipe: standard output: $(cat pipe.stdout)"

exit $failed
