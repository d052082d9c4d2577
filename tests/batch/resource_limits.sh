#!/usr/bin/env bash
# The programs under the limits a shared machine or a service sets.
#
# memory: under `ulimit -v`, every run of mintbatch ends (no thread waits
# forever for a block or a buffer that could not be had) with the output of
# an unlimited run, or with the memory message and nothing written. The
# limits are not fixed numbers, which depend on the build and the system:
# the lowest limit at which one thread succeeds is found first, and the
# limits around it are swept at several thread counts, with the threads'
# stacks as large as usual (where they cannot start) and small (where they
# start and then find no memory for their blocks).
#
# stack: under `ulimit -s` far below the usual 8 MiB (which threads get as
# their stacks too), both programs give what an unlimited run gives.
#
# usage: resource_limits.sh memory|stack MINTBATCH MINTSOLO GENERATE_RECORDS EXAMPLES_DIR SANITIZERS
set -uo pipefail
mode=$1
mintbatch=$2
mintsolo=$3
generate=$4
examples=$5
sanitizers=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failed=0
fail() {
  echo "FAIL $*"
  failed=$((failed + 1))
}

# Sanitizers reserve terabytes of address space for their shadow memory
# (so no `ulimit -v` leaves them room) and make every stack frame larger.
if [ -n "$sanitizers" ]; then
  echo "SKIP: built with -fsanitize=$sanitizers, which cannot run under ulimit -v or a small ulimit -s"
  exit 77
fi

# One run of mintbatch with the thread count and the limits given (KiB;
# "-" leaves one as it is), at most 20 seconds; its outcome goes to standard
# output: ok (exit 0, no message, the unlimited run's output), memory (the
# memory message, exit 1, nothing written), loader (the limit stopped the
# dynamic loader from loading the program at all, before any of its code
# runs: a library or the first thread's TLS could not be mapped) or what
# went wrong. A run takes a fraction of a second.
outcome() {  # THREADS VMEM_KIB STACK_KIB
  rm -f out.csv
  timeout 20 bash -c '
    [ "$1" = - ] || ulimit -v "$1" || exit 100
    [ "$2" = - ] || ulimit -s "$2" || exit 100
    exec "$3" -j "$4" big.csv out.csv' _ "$2" "$3" "$mintbatch" "$1" > stdout 2> stderr
  local status=$?
  if [ $status = 0 ] && [ ! -s stdout ] && [ ! -s stderr ] && cmp -s out.csv expected.csv; then
    echo ok
  elif [ $status = 1 ] && [ "$(cat stdout)" = "Unable to allocate memory." ] && [ ! -s stderr ] && [ ! -e out.csv ]; then
    echo memory
  elif [ $status = 127 ] && [ ! -e out.csv ] &&
       grep -q -e "error while loading shared libraries" -e "cannot allocate TLS data structures" stderr; then
    echo loader
  elif [ $status = 124 ]; then
    echo "hang (killed after 20 seconds)"
  else
    echo "exit status $status, $(head -c 200 stdout stderr | tr '\n' ' ')"
  fi
}

# The lowest limit (to 64 KiB) at which one thread succeeds, with the
# stack limit given.
lowest_working_limit() {  # STACK_KIB
  local low=1024 high=1048576
  if [ "$(outcome 1 $high "$1")" != ok ]; then
    echo 0
    return
  fi
  while [ $((high - low)) -gt 64 ]; do
    local middle=$(((low + high) / 2))
    if [ "$(outcome 1 $middle "$1")" = ok ]; then high=$middle; else low=$middle; fi
  done
  echo $high
}

if [ "$mode" = memory ]; then
  "$generate" 200000 20 > big.csv
  "$mintbatch" -j 1 big.csv expected.csv || exit 1
  for stack in - 256; do
    lowest=$(lowest_working_limit $stack)
    if [ "$lowest" = 0 ]; then
      fail "stack $stack: one thread fails even with 1 GiB"
      continue
    fi
    echo "stack limit $stack KiB: one thread needs $lowest KiB"
    # Around the lowest limit; and, with the usual stacks, where the first
    # thread's stack fits beside one thread's needs.
    limits=$(seq $((lowest - 512)) 128 $((lowest + 3072)))
    [ $stack = - ] && limits="$limits $(seq $((lowest + 8192)) 256 $((lowest + 10240)))"
    for limit in $limits; do
      # A few failures tell enough; hanging runs take long.
      [ $failed -lt 3 ] || break
      for threads in 1 2 7; do
        result=$(outcome $threads $limit $stack)
        case $result in
          ok) ;;
          # Below the lowest limit, the run may find no memory for its
          # buffers, or the program not even be loaded; at it and above, no
          # thread count may do worse than one thread.
          memory | loader) [ $limit -lt $lowest ] || fail "-j $threads, ulimit -v $limit -s $stack: $result" ;;
          *) fail "-j $threads, ulimit -v $limit -s $stack: $result" ;;
        esac
      done
    done
    [ $failed -gt 0 ] || echo "ok   stack limit $stack KiB: limits $((lowest - 512)) to $((lowest + 3072)) KiB at 1, 2 and 7 threads"
  done
  [ $failed = 0 ]
  exit
fi

# Stack limits: whatever a run prints and writes at this limit (KiB) and an
# unlimited one, under NAME.
run_program() {  # NAME STACK_KIB PROGRAM ARGUMENTS...
  local name=$1 stack=$2
  shift 2
  rm -f out.csv
  bash -c '[ "$1" = - ] || ulimit -s "$1" || exit 100; shift; exec "$@"' _ "$stack" "$@" > "$name.stdout" 2> "$name.stderr"
  echo $? > "$name.status"
  if [ -e out.csv ]; then mv out.csv "$name.csv"; else rm -f "$name.csv"; fi
}
same_run() {  # NAME_A NAME_B
  local part
  for part in stdout stderr status csv; do
    if [ -e "$1.$part" ] || [ -e "$2.$part" ]; then cmp -s "$1.$part" "$2.$part" || return 1; fi
  done
}

if [ "$mode" = stack ]; then
  # Over the first megabyte, which one thread converts, so that the threads
  # start.
  "$generate" 40000 21 > big.csv
  cp "$examples/patients.csv" small.csv
  printf '%s\n' 7b9d7e32dfd43f365be501ab42424e46caeb516d3467649b686bb0b8dda50d7d > key
  chmod 600 key
  runs=(
    "mintbatch -j 1|$mintbatch -j 1 big.csv out.csv"
    "mintbatch -j 2|$mintbatch -j 2 big.csv out.csv"
    "mintbatch -j 7|$mintbatch -j 7 big.csv out.csv"
    "mintbatch -j 7 --key-file|$mintbatch -j 7 --key-file key big.csv out.csv"
    "mintbatch -vv|$mintbatch -vv small.csv out.csv"
    "mintbatch - -|$mintbatch - - < small.csv"
    "mintsolo|$mintsolo $examples/patient.rec"
    "mintsolo --key-file|$mintsolo --key-file key $examples/patient.rec"
  )
  for entry in "${runs[@]}"; do
    name=${entry%%|*}
    read -r -a command <<< "${entry#*|}"
    # The standard input case reads from a file named after "<".
    input=/dev/null
    if [ "${command[-2]}" = "<" ]; then
      input=${command[-1]}
      unset 'command[-1]' 'command[-2]'
    fi
    run_program unlimited - "${command[@]}" < "$input"
    [ "$(cat unlimited.status)" = 0 ] || fail "$name: fails without a stack limit"
    for stack in 400 200 100 64; do
      run_program limited $stack "${command[@]}" < "$input"
      if same_run unlimited limited; then
        echo "ok   $name, ulimit -s $stack"
      else
        fail "$name, ulimit -s $stack: exit status $(cat limited.status), unlike an unlimited run"
      fi
    done
  done
  [ $failed = 0 ]
  exit
fi

echo "usage: resource_limits.sh memory|stack MINTBATCH MINTSOLO GENERATE_RECORDS EXAMPLES_DIR SANITIZERS"
exit 2
