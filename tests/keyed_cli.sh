#!/usr/bin/env bash
# --key-file in both programs: the worked examples' keyed identifiers, the
# same in mintbatch (full and key-only output, quick route and general path)
# and mintsolo; every key-file fault stops the run before any output, with
# one line naming the file; a key file open to other users is warned about.
# usage: keyed_cli.sh MINTBATCH MINTSOLO EXAMPLES_DIR GENERATE_RECORDS
set -uo pipefail
mintbatch=$1
mintsolo=$2
examples=$3
generate=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failed=0
check() {  # NAME CONDITION...
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failed=1; fi
}

secret=7b9d7e32dfd43f365be501ab42424e46caeb516d3467649b686bb0b8dda50d7d
# The same secret as the unit tests pin, written with blanks, line breaks and upper case.
printf '%s\n%s\n' "${secret:0:32}" "$(echo "${secret:32}" | tr a-f A-F | sed 's/../& /g')" > key
chmod 600 key
cp "$examples/patients.csv" in.csv

"$mintbatch" --key-file key in.csv out.csv > stdout 2> stderr
check "mintbatch: keyed patient and policy keys, zero identifier unchanged" \
  test "$(tail -n +2 out.csv | awk -F, '{ print $NF }' | head -3 | tr '\n' ' ')" = "mib97ds9ej5d 8l00kma9drtk 000000000000 "
check "mintbatch: refused and keyless lines unchanged" cmp -s <(tail -n 2 out.csv) <(tail -n 2 in.csv)
check "mintbatch: no warning for a key file of its owner's alone" test ! -s stderr
"$mintbatch" -v --key-file=key in.csv verbose.csv > /dev/null 2>&1
check "mintbatch: the general path gives the same keyed identifiers" cmp -s out.csv verbose.csv
"$mintbatch" --key-only --key-file key in.csv keys.csv > /dev/null 2>&1
check "mintbatch: key-only output with a key" \
  test "$(cat keys.csv | tr '\n' ' ')" = "data_record,uuid 1001,mib97ds9ej5d 1002,8l00kma9drtk 1003,000000000000 1004, , "
# Keyed identifiers are the same on any number of threads.
"$generate" 20000 5 > many.csv
"$mintbatch" -j 1 --key-file key many.csv one.csv > one.stdout 2>&1
"$mintbatch" -j 3 --key-file key many.csv three.csv > three.stdout 2>&1
same_runs() { cmp -s one.csv three.csv && cmp -s one.stdout three.stdout && ! cmp -s one.csv many.csv; }
check "mintbatch: the same keyed output and messages on one thread and three" same_runs
"$mintbatch" in.csv plain.csv > /dev/null 2>&1
check "mintbatch: without a key, today's identifiers" \
  test "$(sed -n 2p plain.csv | awk -F, '{ print $NF }')" = uc1kb3lfu4p3

"$mintsolo" -q --key-file key "$examples/patient.rec" > stdout 2> stderr
check "mintsolo: the same keyed policy key" test "$(cat stdout)" = "UUID: 8l00kma9drtk"

# A different key, a different identifier.
printf '%s\n' "${secret:0:63}0" > other_key
chmod 600 other_key
"$mintsolo" -q --key-file other_key "$examples/patient.rec" > stdout 2> /dev/null
check "a key one bit apart gives another identifier" test "$(cat stdout)" != "UUID: 8l00kma9drtk"

# Faults: exit 1, one line on standard error naming the file, no output written.
printf '' > empty_key
printf '%s\n' "${secret:0:30}" > short_key
printf '%sx\n' "${secret:0:40}" > bad_key
printf '%s\n' "${secret:0:33}" > odd_key
chmod 600 empty_key short_key bad_key odd_key
while IFS='|' read -r file message; do
  rm -f fault.csv
  "$mintbatch" --key-file "$file" in.csv fault.csv > stdout 2> stderr
  status=$?
  check "mintbatch, $file: status 1, no output, '$message'" \
    test $status -eq 1 -a ! -e fault.csv -a ! -s stdout -a "$(cat stderr)" = "$message"
  "$mintsolo" --key-file "$file" "$examples/patient.rec" > stdout 2> stderr
  status=$?
  check "mintsolo, $file: status 1, nothing on standard output" \
    test $status -eq 1 -a ! -s stdout -a "$(cat stderr)" = "$message"
done <<'FAULTS'
missing_key|Unable to open key file 'missing_key'.
empty_key|Key file 'empty_key' is not a key: it is empty.
short_key|Key file 'short_key' is not a key: it holds fewer than 32 hex digits.
bad_key|Key file 'bad_key' is not a key: it holds a character other than hex digits and whitespace.
odd_key|Key file 'odd_key' is not a key: it holds an odd number of hex digits.
FAULTS

"$mintbatch" --key-file > stdout 2> stderr
check "mintbatch: --key-file without a file name is a usage error" \
  test $? -eq 1 -a "$(cat stderr)" = "$mintbatch: option '--key-file' needs a file name"

# Open to other users: a warning, and the key is still used.
chmod 644 key
"$mintbatch" --key-file key in.csv open.csv > /dev/null 2> stderr
check "a key file others may read is warned about and still used" \
  test "$(cat stderr)" = "Warning: key file 'key' is open to other users; keep it to its owner (chmod 600)." -a \
       "$(sed -n 2p open.csv | awk -F, '{ print $NF }')" = mib97ds9ej5d

exit $failed
