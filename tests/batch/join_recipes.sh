#!/usr/bin/env bash
# The command-line guide's and the manual's recipes that join a --key-only output back to
# another file, run as printed, on another file with LF and with CR LF line
# ends (mintbatch accepts both): both give the same lines, with no CR in them.
# usage: join_recipes.sh MINTBATCH GUIDE MANUAL_PAGE EXAMPLES_DIR
set -uo pipefail
mintbatch=$1
guide=$2
manual=$3
examples=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failed=0
fail() {
  echo "FAIL $*"
  failed=1
}

# The recipes, as a reader would type them: the guide's lines, and the
# manual's example lines with their roff escapes read.
mapfile -t recipes < <(grep -E '^(paste -d,|join -t,)' "$guide"
                       grep -E '^\$ (paste|join) ' "$manual" | sed -e 's/^\$ //' -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\\\/\\/g')
[ ${#recipes[@]} -ge 3 ] || { echo "FAIL found ${#recipes[@]} recipes, expected the guide's two and the manual's"; exit 1; }

# The other file: one line per record of the example, keyed like it.
printf 'data_record,clinic\n' > other.lf
cut -d, -f1 "$examples/patients.csv" | tail -n +2 | sed 's/$/,north/' >> other.lf
sed 's/$/\r/' other.lf > other.crlf
"$mintbatch" --key-only "$examples/patients.csv" keys.csv > /dev/null || { echo "FAIL mintbatch"; exit 1; }
cp keys.csv patients-keys.csv

for recipe in "${recipes[@]}"; do
  for ends in lf crlf; do
    cp "other.$ends" other-file.csv
    cp "other.$ends" other.csv
    bash -c "$recipe" > "joined.$ends" 2> stderr || { fail "'$recipe' with $ends: $(cat stderr)"; continue; }
  done
  if ! grep -qx '1001,north,uc1kb3lfu4p3' joined.lf; then
    fail "'$recipe' does not join: $(head -3 joined.lf)"
  elif grep -q $'\r' joined.crlf || ! cmp -s joined.lf joined.crlf; then
    fail "'$recipe' with CR LF line ends: $(head -3 joined.crlf | od -c | head -3)"
  else
    echo "ok   $recipe"
  fi
done
exit $failed
