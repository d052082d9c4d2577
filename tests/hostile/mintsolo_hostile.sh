#!/usr/bin/env bash
# mintsolo on hostile and faulty input: every case ends with a clear message
# and the documented exit status, never a crash or a silent loss.
# usage: mintsolo_hostile.sh MINTSOLO
set -uo pipefail
mintsolo=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
failures=0

# expect NAME STATUS EXPECTED_STDOUT_REGEX -- ARGS...: runs mintsolo with ARGS and checks both.
expect() {
  local name=$1 status=$2 pattern=$3
  shift 4
  "$mintsolo" "$@" > out 2> err
  local actual=$?
  if [ "$actual" -ne "$status" ] || ! grep -Eq -- "$pattern" out; then
    echo "FAIL $name: status $actual (expected $status), output:"
    head -c 600 out; head -5 err
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

record='data_record 1
patient_name Jane Doe
patient_ssn 123-45-6789
patient_gender 2
patient_birth_year 1970
patient_birth_month 1
patient_birth_day 31
data_end'

: > empty
expect "empty file" 1 "^Unable to read patient data record from input file 'empty'\.$" -- empty

head -c 65536 /dev/urandom > binary
printf '\0\0\377data_end\n' >> binary
"$mintsolo" binary > out 2> err
status=$?
if [ $status -gt 1 ] || [ -s err ]; then
  echo "FAIL binary file: status $status"; head -5 err; failures=$((failures + 1))
else
  echo "ok   binary file (status $status)"
fi

printf '\n\r\n\n\r\n\n' > line_ends
expect "only line ends" 1 "^Unable to read patient data record" -- line_ends

{ head -c 1048576 /dev/zero | tr '\0' 'x'; printf '\n%s\n' "$record"; } > long_line
# A line of any length is one line; a bad one is shown as far as it is kept.
expect "a 1 MiB line" 1 "^Error in input file - got bad line 'x+'\.$" -- long_line
shown=$(grep -a "^Error in input file" out | tr -cd x | wc -c)
if [ "$shown" -ne 65535 ]; then
  echo "FAIL a 1 MiB line: $shown characters of it shown, expected the 65535 kept"; failures=$((failures + 1))
fi
{ printf '#'; head -c 1048576 /dev/zero | tr '\0' 'c'; printf '\r%s\n' "$record"; } > long_comment
expect "a 1 MiB comment" 0 "^UUID: uc1kb3lfu4p3$" -- -q long_comment

{ for _ in $(seq 1 100000); do echo '# a comment line'; done; printf '%s\n' "$record"; } > many_comments
expect "100,000 comment lines" 0 "^UUID: uc1kb3lfu4p3$" -- -q many_comments

expect "missing file" 1 "^Unable to open input file 'no/such/file'\.$" -- no/such/file
printf '%s\n' "$record" > plain
expect "a path through a file" 1 "^Unable to open input file 'plain/x'\.$" -- plain/x
mkdir directory
expect "a directory" 1 "^Unable to read patient data record from input file 'directory'\.$" -- directory

"$mintsolo" -q plain > /dev/full 2> err
status=$?
if [ $status -ne 1 ] || ! grep -q "^Unable to write standard output\.$" err; then
  echo "FAIL standard output on a full disk: status $status"; cat err; failures=$((failures + 1))
else
  echo "ok   standard output on a full disk"
fi

echo "$failures failed"
[ $failures -eq 0 ]
