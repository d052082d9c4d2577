#!/usr/bin/env bash
# Compares the functions a binary exports with the expected list.
# usage: check_exports.sh BINARY EXPECTED_LIST
# A versioned function is listed with its version, as nm shows it
# (mint_derive@@MINT_1.0); an unversioned one by its name alone.
set -euo pipefail
binary=$1
expected=$2
# Defined text symbols of the dynamic symbol table, demangled. Executables also
# carry the C runtime's own marker symbols, which are data, not functions.
# The programs replace the standard library's operator new (std::nothrow),
# which the linker must then export so that it replaces the library's own:
# the standard's function, not one of ours.
actual=$(nm -D --defined-only -C "$binary" | awk '$2 == "T" || $2 == "W" || $2 == "i" { $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
  grep -v -x -F -e 'operator new(unsigned long, std::nothrow_t const&)' -e 'operator new[](unsigned long, std::nothrow_t const&)' |
  LC_ALL=C sort)
want=$(LC_ALL=C sort "$expected")
if [ "$actual" != "$want" ]; then
  echo "exported functions of $binary differ from $expected:"
  diff <(printf '%s\n' "$want") <(printf '%s\n' "$actual") || true
  exit 1
fi
# A program that uses a shared library's data directly (the C library's stdout,
# a sanitizer runtime's options) holds a copy of it, made by a copy relocation
# and listed in its dynamic symbol table, which is not an export of its own.
copied=$(readelf -rW "$binary" | awk '$3 ~ /_COPY$/ { sub(/@.*/, "", $5); print $5 }')
# The version nodes the binary defines, besides its base (its SONAME).
nodes=$(readelf -V -W "$binary" | awk '/^Version definition section/ { d = 1; next } /^Version / { d = 0 }
  d && / Name: / && !/Flags: BASE/ { print $NF }')
others=$(nm -D --defined-only "$binary" | awk -v copied="$copied" -v nodes="$nodes" '
  BEGIN { n = split(copied, names, "\n"); for (i = 1; i <= n; i++) skip[names[i]] = 1
          n = split(nodes, names, "\n"); for (i = 1; i <= n; i++) node[names[i]] = 1 }
  { name = $3; sub(/@.*/, "", name) }
  # Besides copies, the linker and the C runtime define a few markers of their own,
  # and each version node the binary defines is an absolute symbol of its name.
  $2 == "A" && (name in node) { next }
  $2 != "T" && $2 != "W" && $2 != "i" && !(name in skip) && name !~ /^(_IO_stdin_used|_edata|_end|_init|_fini|__bss_start)$/')
if [ -n "$others" ]; then
  echo "unexpected non-function exports in $binary:"
  printf '%s\n' "$others"
  exit 1
fi
echo "$binary exports exactly the $(printf '%s\n' "$want" | wc -l) library functions"
