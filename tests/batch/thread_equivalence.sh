#!/usr/bin/env bash
# mintbatch at several thread counts on inputs too big to commit: generated
# records, and the same with hostile lines mixed in (refused values, quotes,
# lines too long to parse, CR and CR LF ends, zero bytes), give byte for byte
# the output, messages and exit status of one thread, through files and
# through standard streams. A write failure (a file size limit, a full
# device) and a read failure half way through are reported as with one
# thread.
# usage: thread_equivalence.sh MINTBATCH GENERATE_RECORDS PYTHON READ_FAILURE_SHIM
set -uo pipefail
mintbatch=$1
generate=$2
python=$3
shim=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failed=0
fail() {
  echo "FAIL $*"
  failed=1
}
pass() {
  echo "ok   $*"
}

"$generate" 120000 5 > records.csv
# Every seventh line turned hostile, at random.
"$python" - records.csv hostile.csv <<'PY'
import random, sys
random.seed(5)
lines = open(sys.argv[1], "rb").read().split(b"\n")
out = [lines[0] + b"\n"]
for number, line in enumerate(lines[1:]):
    if not line:
        continue
    end = b"\n"
    if number % 7 == 3:
        fields = line.split(b",")
        # A few lines too long to parse, over the whole file.
        kind = 3 if number % 7000 == 3 else random.choice([0, 1, 2, 4, 5, 6, 7, 8])
        if kind == 0:
            fields[3] = b"3"                                  # a refused gender
        elif kind == 1:
            fields[2] = b"12345678"                           # an SSN of eight digits
        elif kind == 2:
            fields[1] = b'"' + fields[1] + b'""x"'            # a doubled quote
        elif kind == 3:
            fields.append(b"x" * (65536 + random.randrange(3)))  # too long to parse
        elif kind == 4:
            fields[1] = fields[1][:2] + b"\0" + fields[1][2:]  # a zero byte
        elif kind == 5:
            fields = fields[:4]                               # a short record
        elif kind == 6:
            fields[0] = b""                                   # no record key
        elif kind == 7:
            end = b"\r"
        else:
            end = b"\r\n"
        line = b",".join(fields)
    out.append(line + end)
open(sys.argv[2], "wb").write(b"".join(out))
PY

# One run: the output file, standard output and the exit status, under NAME.
run() {
  local name=$1
  shift
  "$mintbatch" "$@" > "$name.stdout" 2> "$name.stderr"
  echo $? > "$name.status"
}

same_as_alone() {
  local what=$1 alone=$2 shared=$3
  if cmp -s "$alone.stdout" "$shared.stdout" && cmp -s "$alone.stderr" "$shared.stderr" &&
     cmp -s "$alone.status" "$shared.status" && { [ ! -e "$alone.csv" ] || cmp -s "$alone.csv" "$shared.csv"; }; then
    return 0
  fi
  fail "$what: differs from one thread"
  return 1
}

for input in records.csv hostile.csv; do
  for format in "" --key-only; do
    run alone -j 1 $format "$input" out.csv && mv out.csv alone.csv
    for threads in 2 3 4 7 16; do
      run shared -j $threads $format "$input" out.csv && mv out.csv shared.csv
      same_as_alone "$input ${format:-full} -j $threads" alone shared || break
    done
    [ "$(cat alone.status)" = 0 ] || fail "$input ${format:-full}: one thread failed"
    pass "$input ${format:-full}: every thread count gives what one thread gives"
  done
  # Standard input and output.
  "$mintbatch" -j 1 - - < "$input" > alone.csv 2> alone.stdout
  echo $? > alone.status
  : > alone.stderr
  cat "$input" | "$mintbatch" -j 4 - - 2> shared.stdout | cat > shared.csv
  echo "${PIPESTATUS[1]}" > shared.status
  : > shared.stderr
  same_as_alone "$input through pipes -j 4" alone shared && pass "$input through pipes"
done
grep -q "bogus gender 3" alone.stdout || fail "the hostile lines were not refused"

# A file size limit stops the writing half way (beyond the first megabyte,
# which one thread converts): the same message, the same messages before it.
for threads in 1 4; do
  (ulimit -f 3000; exec "$mintbatch" -j $threads hostile.csv out.csv) > limit$threads.stdout 2> limit$threads.stderr
  echo $? > limit$threads.status
done
if cmp -s limit1.stdout limit4.stdout && cmp -s limit1.status limit4.status && [ "$(cat limit4.status)" = 1 ] &&
   [ "$(tail -n 1 limit4.stdout)" = "Unable to write output file 'out.csv'." ] && [ ! -e out.csv ]; then
  pass "a file size limit at -j 4 fails as at -j 1"
else
  fail "file size limit: -j 4 reports otherwise"; tail -n 2 limit1.stdout limit4.stdout
fi

# A full device.
rm -f alone.csv shared.csv
run alone -j 1 hostile.csv /dev/full
run shared -j 4 hostile.csv /dev/full
same_as_alone "/dev/full" alone shared && grep -qx "Unable to write output file '/dev/full'." shared.stdout &&
  pass "a full device at -j 4 fails as at -j 1"

# A read error half way through standard input (through a preloaded read()
# that fails after a number of bytes): everything before it is converted and
# written, then the read message.
reads_fail() {
  local limit=$1 threads=$2 name=$3
  MINT_SHIM_READ_LIMIT=$limit LD_PRELOAD="$shim" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "$mintbatch" -j "$threads" - - < hostile.csv \
    > "$name.csv" 2> "$name.stdout"
  echo $? > "$name.status"
  : > "$name.stderr"
}
size=$(stat -c %s hostile.csv)
for limit in 300000 $((size / 2)) $((size - 1)); do
  reads_fail "$limit" 1 alone
  if [ "$(cat alone.status)" = 0 ]; then
    echo "skip read failures: this build's read() cannot be replaced by a preloaded one"
    break
  fi
  reads_fail "$limit" 4 shared
  same_as_alone "read failing after $limit bytes" alone shared &&
    [ "$(tail -n 1 shared.stdout)" = "Unable to read input file '-'." ] &&
    pass "a read failing after $limit bytes at -j 4 fails as at -j 1"
done

exit $failed
