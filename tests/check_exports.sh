#!/usr/bin/env bash
# Compares the functions a binary exports with the expected list.
# usage: check_exports.sh BINARY EXPECTED_LIST
set -euo pipefail
binary=$1
expected=$2
# Defined text symbols of the dynamic symbol table, demangled. Executables also
# carry the C runtime's own marker symbols, which are data, not functions.
actual=$(nm -D --defined-only -C "$binary" | awk '$2 == "T" || $2 == "W" || $2 == "i" { $1 = ""; $2 = ""; sub(/^  /, ""); print }' | LC_ALL=C sort)
want=$(LC_ALL=C sort "$expected")
if [ "$actual" != "$want" ]; then
  echo "exported functions of $binary differ from $expected:"
  diff <(printf '%s\n' "$want") <(printf '%s\n' "$actual") || true
  exit 1
fi
# A program that uses a shared library's data (the C library's stdout) holds a
# load-time copy of it (a copy relocation); the data stays the library's.
copied=$(readelf -rW "$binary" | awk '$3 ~ /_COPY$/ { name = $5; sub(/@.*/, "", name); print name }' | LC_ALL=C sort -u)
others=$(nm -D --defined-only "$binary" | awk -v copied="$copied" '
  BEGIN { n = split(copied, list, "\n"); for (i = 1; i <= n; ++i) is_copy[list[i]] = 1 }
  { name = $3; sub(/@.*/, "", name) }
  $2 != "T" && $2 != "W" && $2 != "i" && $3 != "_IO_stdin_used" && $3 !~ /^_(edata|end|init|fini|__bss_start)$/ && $3 != "__bss_start" && $3 != "_edata" && $3 != "_end" && !(name in is_copy)')
if [ -n "$others" ]; then
  echo "unexpected non-function exports in $binary:"
  printf '%s\n' "$others"
  exit 1
fi
echo "$binary exports exactly the $(printf '%s\n' "$want" | wc -l) library functions"
