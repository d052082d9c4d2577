#!/usr/bin/env bash
# Runs one command-line case of a program and compares what it did with what
# the case expects.
#
# usage: cli_case.sh PROGRAM NAME CASE_DIR [EXTRA_ARGUMENT...]
#
# The case directory is copied to a scratch directory, where PROGRAM runs as
# NAME (its argv[0]) with the EXTRA_ARGUMENTs, if any, and then the arguments
# listed in CASE_DIR/args, one per line; the case expects the same results
# either way.
# Standard input is CASE_DIR/stdin when there is one, else empty.
# Expected results:
#   stdout            the whole standard output, byte for byte (required)
#   stderr            the whole standard error; without this file it must be empty
#   status            the exit status (required)
#   expect.FILE       FILE must exist afterwards with exactly this content
#   absent.FILE       FILE must not exist afterwards
set -uo pipefail
program=$1
name=$2
case_dir=$3
shift 3
extra_args=("$@")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -R "$case_dir"/. "$scratch"/
args=("${extra_args[@]}")
if [ -f "$case_dir/args" ]; then
  mapfile -t -O ${#args[@]} args < "$case_dir/args"
fi

stdin=/dev/null
[ -f "$case_dir/stdin" ] && stdin="$case_dir/stdin"
(cd "$scratch" && exec -a "$name" "$program" "${args[@]}") > "$scratch/.actual_stdout" 2> "$scratch/.actual_stderr" < "$stdin"
status=$?

failed=0
expected_status=$(cat "$case_dir/status")
if [ "$status" != "$expected_status" ]; then
  echo "exit status $status, expected $expected_status"
  failed=1
fi
if ! cmp -s "$case_dir/stdout" "$scratch/.actual_stdout"; then
  echo "standard output differs (expected, actual):"
  diff <(od -c "$case_dir/stdout") <(od -c "$scratch/.actual_stdout") | head -40
  failed=1
fi
if [ -f "$case_dir/stderr" ]; then
  if ! cmp -s "$case_dir/stderr" "$scratch/.actual_stderr"; then
    echo "standard error differs (expected, actual):"
    diff <(od -c "$case_dir/stderr") <(od -c "$scratch/.actual_stderr") | head -40
    failed=1
  fi
elif [ -s "$scratch/.actual_stderr" ]; then
  echo "unexpected standard error output:"
  head -20 "$scratch/.actual_stderr"
  failed=1
fi
for expect in "$case_dir"/expect.*; do
  [ -e "$expect" ] || continue
  file=${expect##*/expect.}
  if [ ! -f "$scratch/$file" ]; then
    echo "$file was not written"
    failed=1
  elif ! cmp -s "$expect" "$scratch/$file"; then
    echo "$file differs (expected, actual):"
    diff <(od -c "$expect") <(od -c "$scratch/$file") | head -40
    failed=1
  fi
done
for absent in "$case_dir"/absent.*; do
  [ -e "$absent" ] || continue
  file=${absent##*/absent.}
  if [ -e "$scratch/$file" ]; then
    echo "$file exists but should not"
    failed=1
  fi
done
exit $failed
