#!/usr/bin/env bash
# mintbatch on hostile input: binary data, a file of nothing but line ends,
# paths that cannot be input. Each run ends with the documented message and
# exit status, and no input line is ever lost or changed; with OPTIONs, the
# binary data gives exactly the output and messages of one thread.
# usage: mintbatch_hostile.sh MINTBATCH PYTHON [OPTION...]
# The OPTIONs (a thread count, say) come first on every command line.
set -uo pipefail
mintbatch=$1
python=$2
shift 2
options=("$@")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# Every input line after the first comes out in order, unchanged, with at most
# ",<identifier>" appended; lines end at LF, CR LF or a lone CR.
same_lines() {
  "$python" - "$1" "$2" <<'PY'
import re, sys
data = open(sys.argv[1], "rb").read()
out = open(sys.argv[2], "rb").read()
lines = re.findall(rb"([^\r\n]*)(?:\r\n|\r|\n|$)", data)
# findall yields one empty match at the very end; drop it.
if lines and lines[-1] == b"":
    lines.pop()
got = out.split(b"\n")
assert got.pop() == b"", "output does not end with a line end"
assert got[0].startswith(b"data_record,"), "no header line"
expected = lines[1:]
assert len(got) - 1 == len(expected), f"{len(got) - 1} output lines for {len(expected)} input lines"
for want, line in zip(expected, got[1:]):
    assert line == want or (line[:len(want)] == want and re.fullmatch(rb",[0-9a-v]{12}", line[len(want):])), line[:80]
PY
}

head -c 262144 /dev/urandom > binary
printf '\0\r\0\n\r\r\n1,Jane Doe,123-45-6789,2,1970,1,31,,,,,,\r' >> binary
for level in "" -v -vv; do
  if [ ${#options[@]} -gt 0 ]; then
    "$mintbatch" -j 1 $level binary out.csv > alone.stdout 2>&1
    mv out.csv alone.csv
  fi
  "$mintbatch" "${options[@]}" $level binary out.csv > stdout 2> stderr
  status=$?
  if [ $status -ne 0 ] || [ -s stderr ]; then
    fail "binary file ($level): status $status"; head -3 stderr
  elif ! same_lines binary out.csv; then
    fail "binary file ($level): lines lost or changed"
  elif [ ${#options[@]} -gt 0 ] && ! { cmp -s out.csv alone.csv && cmp -s stdout alone.stdout; }; then
    fail "binary file ($level): ${options[*]} gives other output or messages than one thread"
  else
    echo "ok   binary file ${level:-(level 0)}"
  fi
done

printf '\n\r\n\r\r\n\n' > line_ends
"$mintbatch" "${options[@]}" -v line_ends out.csv > stdout
status=$?
if [ $status -ne 0 ] || [ "$(tail -n +2 out.csv | tr -d '\n' | wc -c)" -ne 0 ] || [ "$(wc -l < out.csv)" -ne 5 ] ||
   ! grep -qx "Processed 0 records, ignored 0 bad records, discarded 4 bad lines." stdout; then
  fail "only line ends: status $status"; cat stdout
else
  echo "ok   only line ends"
fi

printf 'header\n' > plain
"$mintbatch" "${options[@]}" plain/x out2.csv > stdout
status=$?
if [ $status -ne 1 ] || [ "$(cat stdout)" != "Unable to open input file 'plain/x'." ] || [ -e out2.csv ]; then
  fail "a path through a file: status $status"; cat stdout
else
  echo "ok   a path through a file"
fi

echo "$failures failed"
[ $failures -eq 0 ]
