#!/usr/bin/env bash
# What a mintbatch run leaves behind when it cannot finish: a run that fails
# half way or is interrupted leaves an existing output exactly as it was and
# no temporary file; a new output's permission bits; an existing output's
# bits; a symbolic link as output; the output swapped for a link to the
# input while the run starts; the same file as standard input and output;
# messages that cannot be written.
# usage: output_safety.sh MINTBATCH GENERATE_RECORDS SWAP_SHIM
set -uo pipefail
mintbatch=$1
generate=$2
shim=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# Interrupted background jobs must see SIGINT, which job control gives them.
set -m

failed=0
fail() {
  echo "FAIL $*"
  failed=1
}
pass() {
  echo "ok   $*"
}

"$generate" 20000 7 > in.csv
lines=$(wc -l < in.csv)
printf 'the previous output\n' > previous
no_temporaries() {
  [ -z "$(find . -name '.*.csv.*' -print -quit)" ]
}

# 1. A file size limit stops the writing half way.
cp previous out.csv
(ulimit -f 200; exec "$mintbatch" in.csv out.csv) > stdout 2> stderr
status=$?
if [ $status -eq 1 ] && cmp -s out.csv previous && no_temporaries &&
   grep -qx "Unable to write output file 'out.csv'." stdout; then
  pass "failure half way leaves the previous output"
else
  fail "failure half way: status $status"; cat stdout stderr | head -5; ls -la
fi
rm -f out.csv
(ulimit -f 200; exec "$mintbatch" in.csv out.csv) > /dev/null 2>&1
if [ ! -e out.csv ] && no_temporaries; then pass "failure half way leaves no new output"; else fail "failure half way left a file"; ls -la; fi

# 2. Interrupted while waiting for input.
for signal in INT TERM HUP; do
  cp previous out.csv
  rm -f fifo && mkfifo fifo
  "$mintbatch" fifo out.csv > /dev/null 2>&1 &
  pid=$!
  exec 3> fifo
  head -n 1000 in.csv >&3
  for _ in $(seq 1 100); do
    [ -n "$(find . -name '.out.csv.*' -print -quit)" ] && break
    sleep 0.05
  done
  kill -s "$signal" $pid
  wait $pid
  status=$?
  exec 3>&-
  if [ $status -eq $((128 + $(kill -l "$signal"))) ] && cmp -s out.csv previous && no_temporaries; then
    pass "SIG$signal leaves the previous output and no temporary file"
  else
    fail "SIG$signal: status $status"; ls -la
  fi
done

# 3. Permission bits: new outputs, and an existing one's kept.
mode_of() { stat -c %a "$1"; }
rm -f out.csv keys.csv
(umask 022; "$mintbatch" in.csv out.csv > /dev/null; "$mintbatch" --key-only in.csv keys.csv > /dev/null)
[ "$(mode_of out.csv)" = 600 ] && pass "a new full output is its owner's alone" || fail "new full output mode $(mode_of out.csv)"
[ "$(mode_of keys.csv)" = 644 ] && pass "a new key-only output follows the umask" || fail "new key-only output mode $(mode_of keys.csv)"
rm -f keys.csv
(umask 027; "$mintbatch" --key-only in.csv keys.csv > /dev/null)
[ "$(mode_of keys.csv)" = 640 ] || fail "key-only output under umask 027: mode $(mode_of keys.csv)"
chmod 604 out.csv
"$mintbatch" in.csv out.csv > /dev/null
[ "$(mode_of out.csv)" = 604 ] && pass "an existing output keeps its bits" || fail "existing output mode $(mode_of out.csv)"
[ "$(wc -l < out.csv)" -eq "$lines" ] || fail "replaced output has $(wc -l < out.csv) lines"

# 4. A symbolic link as output stays a link; the file it leads to is written.
rm -f real.csv link.csv
cp previous real.csv
ln -s real.csv link.csv
"$mintbatch" --key-only in.csv link.csv > /dev/null
if [ -L link.csv ] && [ "$(wc -l < real.csv)" -eq "$lines" ]; then pass "an output link stays a link"; else fail "output link"; ls -la; fi

# 5. The output path swapped for a link to the input after the same-file check.
cp in.csv original.csv
cp previous out.csv
MINT_SHIM_INPUT="$work/in.csv" MINT_SHIM_OUTPUT="$work/out.csv" \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  LD_PRELOAD="$shim" "$mintbatch" in.csv out.csv > /dev/null
status=$?
if [ $status -eq 0 ] && cmp -s in.csv original.csv && [ ! -L out.csv ] && [ "$(wc -l < out.csv)" -eq "$lines" ]; then
  pass "an output swapped for a link to the input leaves the input whole"
else
  fail "swapped link: status $status, input now $(wc -l < in.csv) lines"; cp original.csv in.csv
fi

# 6. Standard input and standard output the same file.
"$mintbatch" - - < in.csv 1<> in.csv 2> stderr
status=$?
if [ $status -eq 1 ] && cmp -s in.csv original.csv &&
   grep -qx "Unable to write output file '-': it is the input file." stderr; then
  pass "the same file as standard input and output is refused"
else
  fail "same file through the standard streams: status $status"; cat stderr
fi

# 7. Messages that cannot be written fail the run, which then leaves nothing.
rm -f out.csv
"$mintbatch" -v in.csv out.csv > /dev/full 2> stderr
status=$?
if [ $status -eq 1 ] && grep -qx "Unable to write standard output." stderr && [ ! -e out.csv ] && no_temporaries; then
  pass "lost messages are a failure"
else
  fail "lost messages: status $status"; cat stderr
fi

# 8. A pipe in and out gives what files give.
"$mintbatch" in.csv out.csv > messages.file
cat in.csv | "$mintbatch" - - 2> messages.pipe | cat > out.pipe
if cmp -s out.csv out.pipe && cmp -s messages.file messages.pipe; then pass "pipes give what files give"; else fail "pipes differ from files"; fi

exit $failed
