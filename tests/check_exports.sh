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
# A program that uses a shared library's data directly (the C library's stdout)
# holds a copy of it, listed with that library's symbol version: not its own.
others=$(nm -D --defined-only "$binary" | awk '$2 != "T" && $2 != "W" && $2 != "i" && $3 !~ /@/ && $3 != "_IO_stdin_used" && $3 !~ /^_(edata|end|init|fini|__bss_start)$/ && $3 != "__bss_start" && $3 != "_edata" && $3 != "_end"')
if [ -n "$others" ]; then
  echo "unexpected non-function exports in $binary:"
  printf '%s\n' "$others"
  exit 1
fi
echo "$binary exports exactly the $(printf '%s\n' "$want" | wc -l) library functions"
