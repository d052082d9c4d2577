#!/usr/bin/env bash
# Runs one command-line case of a program and compares what it did with what
# the case expects.
#
# usage: cli_case.sh PROGRAM NAME CASE_DIR
#
# The case directory is copied to a scratch directory, where PROGRAM runs as
# NAME (its argv[0]) with the arguments listed in CASE_DIR/args, one per line.
# Expected results:
#   stdout            the whole standard output, byte for byte (required)
#   status            the exit status (required)
#   expect.FILE       FILE must exist afterwards with exactly this content
#   absent.FILE       FILE must not exist afterwards
set -uo pipefail
program=$1
name=$2
case_dir=$3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -R "$case_dir"/. "$scratch"/
args=()
if [ -f "$case_dir/args" ]; then
  mapfile -t args < "$case_dir/args"
fi

(cd "$scratch" && exec -a "$name" "$program" "${args[@]}") > "$scratch/.actual_stdout" 2> "$scratch/.actual_stderr" < /dev/null
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
if [ -s "$scratch/.actual_stderr" ]; then
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
