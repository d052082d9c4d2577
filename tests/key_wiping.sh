#!/usr/bin/env bash
# The prepared key leaves the programs' memory when they end: a shim looks
# through every writable page for it while it must be there (which shows the
# look finds it) and again as the process exits, after a successful run and
# after each kind of failure, at one and several threads; for mintsolo
# waiting for its record, when SIGTERM or SIGHUP ends it; and for mintbatch
# when SIGTERM ends it half way.
# usage: key_wiping.sh MINTBATCH MINTSOLO EXAMPLES_DIR GENERATE_RECORDS SHIM SANITIZERS
set -uo pipefail
mintbatch=$1
mintsolo=$2
examples=$3
generate=$4
shim=$5
sanitizers=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# Sanitizers keep freed memory and stacks of their own, and map terabytes
# the shim cannot read through.
if [ -n "$sanitizers" ]; then
  echo "SKIP: built with -fsanitize=$sanitizers, whose own copies and mappings the look cannot tell apart"
  exit 77
fi

failed=0
check() {  # NAME CONDITION...
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failed=1; fi
}

secret=7b9d7e32dfd43f365be501ab42424e46caeb516d3467649b686bb0b8dda50d7d
echo "$secret" > key
chmod 600 key
cp "$examples/patients.csv" small.csv
"$generate" 40000 9 > big.csv

# Runs PROGRAM ARGUMENTS... with the shim; the looks' report goes to report.
looked() {
  rm -f report
  MINT_SHIM_SECRET=$secret MINT_SHIM_REPORT=$work/report LD_PRELOAD=$shim "$@" > /dev/null 2>&1
  echo $? > status
}
report_is() {
  [ "$(tr '\n' ' ' < report 2> /dev/null)" = "$1" ]
}

# Each line: the exit status, then the arguments; both values of the key
# (inner and outer) are found while it runs, and neither once it exits.
while read -r status arguments; do
  looked "$mintbatch" $arguments
  check "mintbatch $arguments: exit $status, key found while running, gone at exit" \
    eval '[ "$(cat status)" = '"$status"' ] && report_is "running 2 exit 0 "'
done <<'RUNS'
0 --key-file key small.csv out.csv
0 -j 7 --key-file key big.csv out.csv
0 -vv --key-file key small.csv out.csv
0 --key-only --key-file key small.csv -
1 --key-file key small.csv /dev/full
1 -j 7 --key-file key big.csv /dev/full
RUNS
# Failures before anything is written: no look while running, none at exit.
for arguments in "--key-file key absent.csv out.csv" "--key-file key small.csv no-such-directory/out.csv"; do
  looked "$mintbatch" $arguments
  check "mintbatch $arguments: fails, key gone at exit" eval '[ "$(cat status)" = 1 ] && report_is "exit 0 "'
done

looked "$mintsolo" --key-file key "$examples/patient.rec"
check "mintsolo: key found while running, gone at exit" eval '[ "$(cat status)" = 0 ] && report_is "running 2 exit 0 "'
looked "$mintsolo" --key-file key absent.rec
check "mintsolo, no record file: key gone at exit" eval '[ "$(cat status)" = 1 ] && report_is "running 2 exit 0 "'

# mintsolo waiting for its record from a FIFO that no one writes: the
# signal ends it (as the signal's own death, status 128 + N) with the key
# wiped.
mkfifo record
for signal in TERM HUP; do
  rm -f report
  MINT_SHIM_SECRET=$secret MINT_SHIM_REPORT=$work/report LD_PRELOAD=$shim "$mintsolo" --key-file key record \
    > /dev/null 2>&1 &
  waiting=$!
  for _ in $(seq 100); do
    [ -s report ] && break
    sleep 0.1
  done
  kill -s $signal $waiting
  wait $waiting
  status=$?
  check "mintsolo waiting for its record, SIG$signal: dies by it, key wiped" \
    eval '[ $status = $((128 + $(kill -l $signal))) ] && report_is "running 2 signal 0 "'
done

# mintbatch in the middle of a run, its input a FIFO still open: the signal
# ends it with the key wiped (after the temporary file's removal, for a file
# output), at one thread and at several.
mkfifo batch_input
head -n 30000 big.csv > part.csv
for output in out.csv -; do
  for threads in 1 7; do
    rm -f report out.csv
    MINT_SHIM_SECRET=$secret MINT_SHIM_REPORT=$work/report LD_PRELOAD=$shim \
      "$mintbatch" -j $threads --key-file key batch_input $output > /dev/null 2>&1 &
    running=$!
    exec 3> batch_input
    cat part.csv >&3
    for _ in $(seq 100); do
      [ -s report ] && break
      sleep 0.1
    done
    kill -s TERM $running
    wait $running
    status=$?
    exec 3>&-
    check "mintbatch -j $threads into $output, SIGTERM half way: dies by it, key wiped" \
      eval '[ $status = 143 ] && [ ! -e out.csv ] && [ "$(head -n 1 report)" = "running 2" ] && [ "$(tail -n 1 report)" = "signal 0" ]'
  done
done
exit $failed
